// halvora under the real xscreensaver daemon (see xscreensaver_daemon.sh).

#include "tests/e2e/png_pixels.h"
#include "tests/e2e/process.h"
#include "tests/framework/saver_sandbox.h"

#include "platform/display/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

TEST(XScreenSaverDaemon, StartsTheHackAndEndsItWithSigterm)
{
    SaverSandbox sandbox;
    platform::display::offscreen::Reset();
    if (!WindowLayerPresent())
        GTEST_SKIP() << "the window layer is not built yet";
    const std::string work = sandbox.Root() + "/xss";
    TChild script = StartProgram("/bin/bash",
                                 {SourcePath("tests/e2e/xscreensaver_daemon.sh"), HalvoraExecutable(),
                                  sandbox.DataFolder(), work},
                                 {}, sandbox.Root() + "/script.txt");
    // The script keeps grabbing the screen until told that the spirals were seen.
    long coloured = 0;
    for (int i = 0; i < 1200 && StillRunning(script) && coloured <= 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        TPicture screen;
        if (ReadXwd(NewestGrab(work), screen))
            coloured = std::count_if(screen.Pixels.begin(), screen.Pixels.end(), SpiralColoured);
        if (coloured > 200)
            std::ofstream(work + "/seen").put('1');
    }
    const int status = script.Status >= 0 ? script.Status : WaitProgram(script, 30000);
    const std::string report = ReadTextFile(sandbox.Root() + "/script.txt");
    if (status == 77)
        GTEST_SKIP() << report;
    EXPECT_GT(coloured, 200) << "spirals on the screen";
    EXPECT_EQ(status, 0) << report;
}

}  // namespace
