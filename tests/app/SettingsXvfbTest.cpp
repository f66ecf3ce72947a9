// The real settings dialog on a private X server, driven by key presses only.

#include "tests/e2e/png_pixels.h"
#include "tests/e2e/process.h"
#include "tests/e2e/xvfb.h"
#include "tests/framework/saver_sandbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

namespace {

const char* kDesktopOptions =
    "Preset               1\r\nWindowed             0\r\nWidth                1024\r\nHeight               768\r\n"
    "Format               X8R8G8B8\r\nRefreshRate          60\r\nWindowBorder         0\r\nVSync                1\r\n"
    "SoundEnabled         0\r\nWaitGPU              0\r\nAdvancedOpt          0\r\nSpiralType           1\r\n"
    "SpiralCount          8\r\nBlendMode            0\r\n";

const char* kDialogTitle = "[Tzo] Halvora Screensaver Options";

class SettingsXvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (ProgramInstalled("xdotool") && ProgramInstalled("timeout"))
            server_ = new TXvfb(1024, 768);
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        if (!server_)
            GTEST_SKIP() << "xdotool or timeout is not installed";
        if (!server_->Ok())
            GTEST_SKIP() << "Xvfb is not installed or did not start";
        TSandboxOptions options;
        options.Width = 1024;
        options.Height = 768;
        sandbox_ = std::make_unique<SaverSandbox>(options);
        optionsPath_ = sandbox_->DataFolder() + "/Options.txt";
    }

    void TearDown() override
    {
        if (child_.Pid > 0 && StillRunning(child_))
            WaitProgram(child_, 0);  // kills what a failed step left open
    }

    void Start(const std::vector<std::string>& args)
    {
        std::vector<std::string> env = sandbox_->Environment();
        env.push_back("HALVORA_DISPLAY=x11");
        env.push_back("DISPLAY=" + server_->Display());
        child_ = StartProgram(HalvoraExecutable(), args, env, sandbox_->Root() + "/stderr.txt");
    }

    std::string Stderr() const { return ReadTextFile(sandbox_->Root() + "/stderr.txt"); }

    // Output of an xdotool command line, trimmed of its final newline.
    std::string Xdotool(const std::string& arguments) const
    {
        std::string output;
        std::string command = "DISPLAY=" + server_->Display() + " timeout 10 xdotool " + arguments + " 2>/dev/null";
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe))
                output += buffer;
            pclose(pipe);
        }
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        return output;
    }

    // The id of the first visible window with this title pattern, once it is mapped and focused.
    std::string FocusWindow(const std::string& pattern) const
    {
        std::string id = Xdotool("search --sync --onlyvisible --limit 1 --name '" + pattern + "'");
        if (!id.empty())
            Xdotool("windowfocus --sync " + id);
        return id;
    }

    // Keys one at a time: GTK moves focus between presses, and a burst can outrun it.
    void Keys(std::initializer_list<const char*> keys) const
    {
        for (const char* key : keys) {
            Xdotool(std::string("key ") + key);
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
        }
    }

    std::string Caption(const std::string& id) const { return Xdotool("getwindowname " + id); }

    static TXvfb* server_;
    std::unique_ptr<SaverSandbox> sandbox_;
    std::string optionsPath_;
    TChild child_;
};

TXvfb* SettingsXvfb::server_ = nullptr;

TEST_F(SettingsXvfb, FirstRunOkAndYesSaveTheDesktopMode)
{
    std::filesystem::remove(optionsPath_);
    Start({});
    const std::string dialog = FocusWindow("Screensaver Options");
    ASSERT_FALSE(dialog.empty()) << Stderr();
    Keys({"Return"});  // Ok has the focus; the cleared record differs, so it asks

    const std::string question = FocusWindow("^Confirmation$");
    ASSERT_FALSE(question.empty()) << Stderr();
    Keys({"Return"});  // Yes is the default answer

    EXPECT_EQ(WaitProgram(child_, 10000), 0) << Stderr();
    EXPECT_EQ(ReadTextFile(optionsPath_), kDesktopOptions);
}

TEST_F(SettingsXvfb, CancelAfterTypingASpiralCountLeavesTheFileAlone)
{
    std::ofstream(optionsPath_, std::ios::binary) << kDesktopOptions;
    Start({"/c"});
    const std::string dialog = FocusWindow("Screensaver Options");
    ASSERT_FALSE(dialog.empty()) << Stderr();
    EXPECT_EQ(Caption(dialog), kDialogTitle);

    // From Ok back to "Advanced options", check it, then on to the spiral count's text.
    Keys({"shift+Tab", "space", "Tab", "Tab", "Tab"});
    Xdotool("type --delay 60 12");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Caption(dialog), std::string(kDialogTitle) + " *");

    // Past the count's button, the blend mode and Ok to Cancel. Landing anywhere else would
    // save on the Yes below, which the file check catches.
    Keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Return"});
    const std::string question = FocusWindow("^Confirmation$");
    ASSERT_FALSE(question.empty()) << Stderr();
    Keys({"alt+y"});

    // A second question would keep the process alive past the wait.
    EXPECT_EQ(WaitProgram(child_, 10000), 0) << Stderr();
    EXPECT_EQ(ReadTextFile(optionsPath_), kDesktopOptions);
}

// Desktop is on already; the stored mode is not the desktop's. Clicking Desktop again applies
// the preset again (GTK reports no toggle for it): the desktop's mode is chosen, a change.
TEST_F(SettingsXvfb, ClickingTheCheckedDesktopButtonAppliesThePresetAgain)
{
    std::string options = kDesktopOptions;
    options.replace(options.find("1024"), 4, "800 ");
    options.replace(options.find("768"), 3, "600");
    std::ofstream(optionsPath_, std::ios::binary) << options;
    Start({"/c"});
    const std::string dialog = FocusWindow("Screensaver Options");
    ASSERT_FALSE(dialog.empty()) << Stderr();
    EXPECT_EQ(Caption(dialog), kDialogTitle);
    // Back from Ok past "Advanced options" to the preset buttons; the screen mode lists are off.
    Keys({"shift+Tab", "shift+Tab", "space"});
    EXPECT_EQ(Caption(dialog), std::string(kDialogTitle) + " *");

    Keys({"Escape"});
    const std::string question = FocusWindow("^Confirmation$");
    ASSERT_FALSE(question.empty()) << Stderr();
    Keys({"alt+n"});
    EXPECT_EQ(WaitProgram(child_, 10000), 0) << Stderr();
    EXPECT_EQ(ReadTextFile(optionsPath_), options);
}

// A preset that is neither Custom nor Desktop shows neither button on, and Ok keeps it: nothing
// changed, so nothing is asked or written.
TEST_F(SettingsXvfb, APresetOfNeitherButtonShowsNeitherAndOkKeepsIt)
{
    std::string options = kDesktopOptions;
    options.replace(options.find("Preset               1"), 22, "Preset               5");
    std::ofstream(optionsPath_, std::ios::binary) << options;
    Start({"/c"});
    const std::string dialog = FocusWindow("Screensaver Options");
    ASSERT_FALSE(dialog.empty()) << Stderr();
    EXPECT_EQ(Caption(dialog), kDialogTitle);

    // The two indicators look alike when both are off.
    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(Xdotool("getwindowgeometry " + dialog).c_str(), "Window %*s Position: %d,%d", &x, &y), 2);
    const std::string grab = sandbox_->Root() + "/dialog.xwd";
    TPicture screen;
    ASSERT_EQ(server_->Run("xwd -root -silent >'" + grab + "'"), 0);
    ASSERT_TRUE(ReadXwd(grab, screen));
    int differing = 0;
    for (int dy = 0; dy < 18; ++dy)
        for (int dx = 0; dx < 18; ++dx) {
            const auto at = [&](int cx) { return screen.Pixels[std::size_t(y + 22 + dy) * screen.Width + x + cx + dx]; };
            differing += at(10) != at(84);
        }
    EXPECT_EQ(differing, 0) << "Custom's and Desktop's indicators";

    Keys({"Return"});
    EXPECT_EQ(WaitProgram(child_, 10000), 0) << Stderr();
    EXPECT_EQ(ReadTextFile(optionsPath_), options);
}

}  // namespace
