// The demo program and the saver as separate processes: on the offscreen display, on a
// private X server, as a preview inside a foreign window, and when the server dies under them.

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/process.h"
#include "tests/framework/saver_sandbox.h"
#include "tests/x11/x11_test_support.h"

namespace {

using x11test::Client;
using x11test::PrivateServer;
using x11test::WaitFor;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Scratch {
public:
    Scratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "halvora-windemo-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const char* name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

class WinDemo : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(Executable()))
            GTEST_SKIP() << "windemo is not built";
    }
    void TearDown() override
    {
        if (demo_.Pid > 0 && StillRunning(demo_))
            WaitProgram(demo_, 0);
    }
    static std::string Executable() { return std::string(HALVORA_BINARY_DIR) + "/tools/windemo/windemo"; }

    void Start(const std::string& args, std::vector<std::string> env)
    {
        env.push_back("XDG_RUNTIME_DIR=" + scratch_.Path());
        env.push_back("HOME=" + scratch_.Path());
        demo_ = StartProgram("/bin/sh", {"-c", "exec '" + Executable() + "' " + args + " >'" + Out() + "'"}, env,
                             scratch_.File("stderr"));
        ASSERT_GT(demo_.Pid, 0);
    }
    bool Printed(const std::string& text) const { return ReadAll(Out()).find(text) != std::string::npos; }
    bool AwaitPrinted(const std::string& text)
    {
        return WaitFor([&] { return Printed(text) || !StillRunning(demo_); }, std::chrono::seconds(10)) &&
               Printed(text);
    }
    std::string Out() const { return scratch_.File("stdout"); }
    std::string Report() const { return "stdout:\n" + ReadAll(Out()) + "stderr:\n" + ReadAll(scratch_.File("stderr")); }

    Scratch scratch_;
    TChild demo_;
};

TEST_F(WinDemo, RunsOffscreenWithScriptedInputUntilTheFramesAreDone)
{
    Start("/s 160x120", {"HALVORA_DISPLAY=offscreen", "HALVORA_FRAMES=6",
                         "HALVORA_INPUT=2:key=0x41,3:move=10;20,4:ldown,4:lup,5:rdown"});
    ASSERT_EQ(WaitProgram(demo_, 10000), 0) << Report();
    for (const char* line : {"popup open", "first frame 160x120", "key down 0x41", "char 0x61", "move 10 20",
                             "left down 10 20", "left up 10 20", "right down 10 20", "closed after 6 frames"}) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(Printed(line)) << Report();
    }
}

TEST_F(WinDemo, RefusesBadArgumentsWithUsage)
{
    for (const char* args : {"/p", "/p 12ab", "/p 0", "/s 0x10", "/s 10x", "/x"}) {
        SCOPED_TRACE(args);
        Start(args, {"HALVORA_DISPLAY=offscreen"});
        EXPECT_EQ(WaitProgram(demo_, 5000), 2);
        EXPECT_NE(ReadAll(scratch_.File("stderr")).find("usage"), std::string::npos);
    }
}

class WinDemoOnX : public WinDemo {
protected:
    void SetUp() override
    {
        WinDemo::SetUp();
        if (IsSkipped())
            return;
        if (!x11test::InputInjectionBuiltIn())
            GTEST_SKIP() << "built without the XTEST and XFixes libraries";
        server_ = std::make_unique<PrivateServer>(240, 180, 24);
        if (!server_->Ok())
            GTEST_SKIP() << server_->Problem();
    }
    void TearDown() override
    {
        WinDemo::TearDown();
        client_.reset();
        server_.reset();
    }
    std::vector<std::string> XEnv() const { return {"HALVORA_DISPLAY=x11", "DISPLAY=" + server_->Name()}; }
    Client& X()
    {
        if (!client_)
            client_ = std::make_unique<Client>(server_->Name());
        return *client_;
    }

    std::unique_ptr<PrivateServer> server_;
    std::unique_ptr<Client> client_;
};

TEST_F(WinDemoOnX, PopupTakesKeysAndClicksDrawsAndQuitsOnEscape)
{
    Start("/s", XEnv());
    ASSERT_TRUE(AwaitPrinted("first frame 240x180")) << Report();
    EXPECT_TRUE(X().CursorInvisible());
    X().MoveTo(100, 50);
    X().Tap(XK_a);
    X().Tap(XK_F10);
    X().Button(1, true);
    X().Button(1, false);
    ASSERT_TRUE(AwaitPrinted("left up 100 50")) << Report();
    X().Tap(XK_Escape);
    EXPECT_EQ(WaitProgram(demo_, 5000), 0) << Report();
    for (const char* line : {"key down 0x41", "char 0x61", "sys key down 0x79", "left down 100 50", "key down 0x1B",
                             "closed after"}) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(Printed(line)) << Report();
    }
}

TEST_F(WinDemoOnX, PreviewDrawsInsideTheForeignWindowAndEndsWithIt)
{
    const std::uint64_t parent = X().CreateWindow(40, 30, 120, 90);
    Start("/p " + std::to_string(parent), XEnv());
    ASSERT_TRUE(AwaitPrinted("first frame 120x90")) << Report();
    std::vector<std::uint32_t> shown;
    ASSERT_TRUE(X().ReadBack(parent, 120, 90, shown));
    const auto drawn = std::count_if(shown.begin(), shown.end(), [](std::uint32_t p) { return p != 0xFFFFFFFFu; });
    EXPECT_GT(drawn, 120 * 90 / 2) << "the child covers the white parent";
    X().DestroyWindow(parent);
    EXPECT_EQ(WaitProgram(demo_, 5000), 0) << Report();
    EXPECT_TRUE(Printed("closed after")) << Report();
}

TEST_F(WinDemoOnX, EndsWithAMessageWhenTheServerGoesAway)
{
    Start("/s", XEnv());
    ASSERT_TRUE(AwaitPrinted("first frame")) << Report();
    server_->Kill();
    const int status = WaitProgram(demo_, 5000);
    EXPECT_GE(status, 0) << "must not hang";
    EXPECT_LT(status, 128) << "must not die of a signal\n" << Report();
    EXPECT_NE(ReadAll(scratch_.File("stderr")).find("connection to the X server was lost"), std::string::npos)
        << Report();
}

TEST_F(WinDemoOnX, SaverEndsWithAMessageWhenTheServerGoesAway)
{
    TSandboxOptions options;
    options.Width = 240;
    options.Height = 180;
    SaverSandbox sandbox(options);
    std::vector<std::string> env = sandbox.Environment();
    for (const std::string& e : XEnv())
        env.push_back(e);
    const std::string err = sandbox.Root() + "/stderr.txt";
    TChild saver = StartProgram(HalvoraExecutable(), {"/s"}, env, err);
    ASSERT_GT(saver.Pid, 0);
    // The popup is up once the server's top window is the saver's size.
    ASSERT_TRUE(WaitFor(
        [&] {
            x11test::WindowInfo info;
            const auto top = X().TopmostWindow();
            return top && X().Info(top, info) && info.width == 240 && info.height == 180;
        },
        std::chrono::seconds(15)))
        << ReadAll(err);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    client_.reset();
    server_->Kill();
    const int status = WaitProgram(saver, 10000);
    EXPECT_GE(status, 0) << "must not hang";
    EXPECT_LT(status, 128) << "must not die of a signal";
    EXPECT_NE(ReadAll(err).find("connection to the X server was lost"), std::string::npos) << ReadAll(err);
}

}  // namespace
