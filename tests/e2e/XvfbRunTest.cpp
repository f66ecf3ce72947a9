// The real executable on a private X server: it ends on a key, and on a click
// once the opening fading is over (clicks during the fading are ignored).

#include "tests/e2e/png_pixels.h"
#include "tests/e2e/process.h"
#include "tests/e2e/xvfb.h"
#include "tests/framework/saver_sandbox.h"

#include "platform/display/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class XvfbRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::display::offscreen::Reset();
        ASSERT_TRUE(WindowLayerPresent()) << "no window can be created";
        if (!ProgramInstalled("xdotool"))
            GTEST_SKIP() << "xdotool is not installed";
        xvfb_ = std::make_unique<TXvfb>(400, 300);
        if (!xvfb_->Ok())
            GTEST_SKIP() << "Xvfb is not installed or did not start";
        TSandboxOptions options;
        options.Width = 400;
        options.Height = 300;
        sandbox_ = std::make_unique<SaverSandbox>(options);
    }

    TChild StartSaver(const std::vector<std::string>& args = {"/s"})
    {
        std::vector<std::string> env = sandbox_->Environment();
        env.push_back("HALVORA_DISPLAY=x11");
        env.push_back("DISPLAY=" + xvfb_->Display());
        env.push_back("XSCREENSAVER_WINDOW=");
        return StartProgram(HalvoraExecutable(), args, env, sandbox_->Root() + "/stderr.txt");
    }

    // The X11 backend fell back to the offscreen display.
    bool X11Unavailable() const
    {
        return ReadTextFile(sandbox_->Root() + "/stderr.txt").find("cannot open the X display") != std::string::npos;
    }

    // Waits until the saver's window is mapped.
    bool WaitForWindow()
    {
        for (int i = 0; i < 100 && !X11Unavailable(); ++i) {
            if (xvfb_->Run("xdotool search --name 'Halvora' >/dev/null 2>&1") == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    std::unique_ptr<TXvfb> xvfb_;
    std::unique_ptr<SaverSandbox> sandbox_;
};

TEST_F(XvfbRun, AKeyEndsTheSaver)
{
    TChild saver = StartSaver();
    const bool mapped = WaitForWindow();
    if (X11Unavailable()) {
        WaitProgram(saver, 100);  // ends it
        FAIL() << "the X11 display backend could not open the server";
    }
    ASSERT_TRUE(mapped) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    xvfb_->Run("xdotool key a");
    EXPECT_EQ(WaitProgram(saver, 10000), 0) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
}

TEST_F(XvfbRun, AClickEndsTheSaverOnceTheFadingIsOver)
{
    TChild saver = StartSaver();
    const bool mapped = WaitForWindow();
    if (X11Unavailable()) {
        WaitProgram(saver, 100);  // ends it
        FAIL() << "the X11 display backend could not open the server";
    }
    ASSERT_TRUE(mapped) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
    const auto start = Clock::now();
    int status = -2;
    // Click twice a second; the fading takes 280 ticks of about 1/60 s.
    while (Clock::now() - start < std::chrono::seconds(30)) {
        xvfb_->Run("xdotool mousemove 200 150 click 1");
        if (!StillRunning(saver)) {
            status = saver.Status;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status == -2)
        status = WaitProgram(saver, 1000);
    EXPECT_EQ(status, 0) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
    EXPECT_GT(seconds, 3.0) << "clicks during the fading must be ignored";
}

TEST_F(XvfbRun, PreviewChildCoversItsParentAndEndsWithIt)
{
    TXParentWindow parent(xvfb_->Display(), 240, 180);
    ASSERT_TRUE(parent.Ok());
    TChild saver = StartSaver({"/p", std::to_string(parent.Id())});
    bool covered = false;
    int width = 0, height = 0;
    for (int i = 0; i < 100 && !covered && StillRunning(saver) && !X11Unavailable(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        covered = parent.ChildCount(&width, &height) > 0;
    }
    if (X11Unavailable()) {
        WaitProgram(saver, 100);  // ends it
        FAIL() << "the X11 display backend could not open the server";
    }
    ASSERT_TRUE(covered) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
    EXPECT_EQ(width, 240);
    EXPECT_EQ(height, 180);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(StillRunning(saver)) << "the preview runs while its parent lives";
    parent.Destroy();
    EXPECT_EQ(WaitProgram(saver, 10000), 0) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
}

// Tried by hand outside xscreensaver, --root draws into the root window itself; SIGTERM, as
// xscreensaver sends it, ends the run cleanly.
TEST_F(XvfbRun, RootDrawsIntoTheRootWindow)
{
    TChild saver = StartSaver({"--root"});
    const std::string grab = sandbox_->Root() + "/root.xwd";
    long coloured = 0;
    for (int i = 0; i < 120 && StillRunning(saver) && coloured <= 200 && !X11Unavailable(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        TPicture screen;
        if (xvfb_->Run("xwd -root -silent >'" + grab + "' 2>/dev/null") == 0 && ReadXwd(grab, screen))
            coloured = std::count_if(screen.Pixels.begin(), screen.Pixels.end(), [](uint32_t p) {
                const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
                return std::max({r, g, b}) > 96 && std::max({r, g, b}) - std::min({r, g, b}) > 48;
            });
    }
    ASSERT_FALSE(X11Unavailable()) << "the X11 display backend is not available";
    EXPECT_GT(coloured, 200) << "spirals on the root window\n" << ReadTextFile(sandbox_->Root() + "/stderr.txt");
    EXPECT_EQ(xvfb_->Run("xwininfo -root -children | grep -q '400x300+0+0'"), 0) << "a window covering the root";
    ASSERT_TRUE(StillRunning(saver)) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
    kill(saver.Pid, SIGTERM);
    EXPECT_EQ(WaitProgram(saver, 10000), 0) << ReadTextFile(sandbox_->Root() + "/stderr.txt");
}

}  // namespace
