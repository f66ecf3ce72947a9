// halvora under the real xscreensaver daemon (see xscreensaver_daemon.sh).

#include "tests/e2e/process.h"
#include "tests/framework/saver_sandbox.h"

#include "platform/display/display.h"

#include <gtest/gtest.h>

namespace {

TEST(XScreenSaverDaemon, StartsTheHackAndEndsItWithSigterm)
{
    SaverSandbox sandbox;
    platform::display::offscreen::Reset();
    if (!WindowLayerPresent())
        GTEST_SKIP() << "the window layer is not built yet";
    TChild script = StartProgram("/bin/bash",
                                 {SourcePath("tests/e2e/xscreensaver_daemon.sh"), HalvoraExecutable(),
                                  sandbox.DataFolder(), sandbox.Root() + "/xss"},
                                 {}, sandbox.Root() + "/script.txt");
    const int status = WaitProgram(script, 60000);
    const std::string report = ReadTextFile(sandbox.Root() + "/script.txt");
    if (status == 77)
        GTEST_SKIP() << report;
    EXPECT_EQ(status, 0) << report;
}

}  // namespace
