// halvora under the real xscreensaver daemon (see xscreensaver_daemon.sh).

#include "tests/e2e/png_pixels.h"
#include "tests/e2e/process.h"
#include "tests/e2e/xvfb.h"
#include "tests/framework/saver_sandbox.h"

#include "platform/display/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

namespace {

// The highest-numbered grab-N.xwd in Work, or "" when there is none yet.
std::string NewestGrab(const std::string& work)
{
    std::error_code error;
    std::string newest;
    long best = -1;
    for (const auto& entry : std::filesystem::directory_iterator(work, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("grab-", 0) != 0 || name.size() < 10 || name.substr(name.size() - 4) != ".xwd")
            continue;
        const long n = std::strtol(name.c_str() + 5, nullptr, 10);
        if (n > best) {
            best = n;
            newest = entry.path().string();
        }
    }
    return newest;
}

// Lit and clearly coloured (not the grey of the desktop fading or a white dot).
bool SpiralColoured(uint32_t pixel)
{
    const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return std::max({r, g, b}) > 96 && std::max({r, g, b}) - std::min({r, g, b}) > 48;
}

// The middle row of the green window put on the desktop, as far as it reaches across.
int GreenAcrossTheMiddle(const TPicture& screen)
{
    int green = 0;
    const std::size_t row = static_cast<std::size_t>(screen.Height / 2) * screen.Width;
    for (int x = screen.Width * 5 / 16; x < screen.Width * 11 / 16; ++x) {
        const uint32_t p = screen.Pixels[row + x];
        const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        green += g > 180 && r < 150 && b < 150;
    }
    return green;
}

// A green window on the desktop when the daemon blanks it: xscreensaver's black window
// covers it before the hack starts, so only the picture the daemon saved can show it in the
// opening. Then spirals, and SIGTERM ends the hack cleanly.
TEST(XScreenSaverDaemon, StartsTheHackAndEndsItWithSigterm)
{
    SaverSandbox sandbox;
    platform::display::offscreen::Reset();
    ASSERT_TRUE(WindowLayerPresent()) << "no window can be created";
    const std::string work = sandbox.Root() + "/xss";
    TChild script = StartProgram("/bin/bash",
                                 {SourcePath("tests/e2e/xscreensaver_daemon.sh"), HalvoraExecutable(),
                                  sandbox.DataFolder(), work},
                                 {}, sandbox.Root() + "/script.txt");
    std::unique_ptr<TXParentWindow> desktopWindow;
    for (int i = 0; i < 200 && StillRunning(script) && !desktopWindow; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string display = ReadTextFile(work + "/display");
        if (!display.empty() && display.back() == '\n')
            desktopWindow = std::make_unique<TXParentWindow>(display.substr(0, display.size() - 1), 320, 240, 160,
                                                             120, 0x00FF00);
    }
    ASSERT_TRUE(desktopWindow && desktopWindow->Ok()) << ReadTextFile(sandbox.Root() + "/script.txt");
    std::ofstream(work + "/desktop-ready").put('1');
    // The script keeps grabbing the screen until told that the spirals were seen. The green
    // window counts as colour too: spirals are looked for once the opening is over, when the
    // green has come and gone (or, if it never comes, after a while).
    const auto start = std::chrono::steady_clock::now();
    long coloured = 0;
    int greenInOpening = 0;
    bool openingOver = false;
    std::string judged;
    for (int i = 0; i < 1200 && StillRunning(script) && coloured <= 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        TPicture screen;
        const std::string grab = NewestGrab(work);
        if (grab == judged || !ReadXwd(grab, screen) || screen.Width < 16)
            continue;
        judged = grab;
        const int green = GreenAcrossTheMiddle(screen);
        if (!openingOver) {
            greenInOpening = std::max(greenInOpening, green);
            openingOver = (greenInOpening > 120 && green < 40) ||
                          std::chrono::steady_clock::now() - start > std::chrono::seconds(15);
            continue;
        }
        coloured = std::count_if(screen.Pixels.begin(), screen.Pixels.end(), SpiralColoured);
        if (coloured > 200)
            std::ofstream(work + "/seen").put('1');
    }
    desktopWindow.reset();  // before the script ends the server under it
    const int status = script.Status >= 0 ? script.Status : WaitProgram(script, 30000);
    const std::string report = ReadTextFile(sandbox.Root() + "/script.txt");
    if (status == 77)
        GTEST_SKIP() << report;
    EXPECT_GT(greenInOpening, 120) << "the desktop's green window in the opening";
    EXPECT_GT(coloured, 200) << "spirals on the screen";
    EXPECT_EQ(status, 0) << report;
}

}  // namespace
