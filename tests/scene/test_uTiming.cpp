#include "scene/uTiming.h"

#include "scene/uInput.h"

#include "framework/uD3DGlobals.h"
#include "platform/win/clock.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

namespace {

class VirtualClock : public ::testing::Test {
protected:
    void SetUp() override { platform::SetVirtualClock(true); }
    void TearDown() override { platform::SetVirtualClock(false); }
};

TEST_F(VirtualClock, AverageFrameTimeUsesTheIntervalsThatExist)
{
    TTimeArray t;
    EXPECT_EQ(t.AverageFrameTime(3), 0.0f);
    t.Push();
    EXPECT_EQ(t.AverageFrameTime(3), 0.0f);
    Sleep(20);
    t.Push();
    EXPECT_NEAR(t.AverageFrameTime(3), 0.020f, 1e-6);  // one interval of two asked for
    Sleep(40);
    t.Push();
    Sleep(10);
    t.Push();
    EXPECT_NEAR(t.AverageFrameTime(3), 0.025f, 1e-6);
    for (int i = 0; i < 300; ++i)
        t.Push();
    EXPECT_EQ(t.StampCount, 256);
}

TEST_F(VirtualClock, PollCountsWholePeriodsStrictly)
{
    TFrameTimer timer;
    Start(timer, 0.25f);
    Sleep(1000);
    EXPECT_EQ(Poll(timer), 3);  // the fourth ends exactly now and stays pending
    EXPECT_EQ(timer.TicksPerSecond, 0.0f);
    Sleep(1);
    EXPECT_EQ(Poll(timer), 1);
    EXPECT_NEAR(timer.TicksPerSecond, 4.0f / 1.001f, 1e-3);
    EXPECT_EQ(timer.TickCount, 0);

    SetPeriod(timer, 0.0f);
    EXPECT_EQ(Poll(timer), 1);
    EXPECT_EQ(Poll(timer), 1);

    // A long stall with a tiny period ends promptly.
    Start(timer, 1e-9f);
    Sleep(100000);
    EXPECT_GT(Poll(timer), 1000000);
}

TEST(Mouse, ButtonsPositionAndPulses)
{
    scenetest::ReportCapture reports;
    FrameCount = 5;
    TMyMouse m;
    EXPECT_EQ(m.FramesSinceMove(), 2147483647);
    m.SetButton(WM_LBUTTONDOWN);
    EXPECT_TRUE(m.LeftDown);
    EXPECT_TRUE(m.WasPressed(0));
    EXPECT_FALSE(m.WasPressed(1));
    EXPECT_FALSE(m.WasPressed(7));
    m.FrameUpdate();
    EXPECT_TRUE(m.LeftDown);
    EXPECT_FALSE(m.WasPressed(0));
    m.SetButton(WM_RBUTTONDOWN);
    m.SetButton(WM_RBUTTONUP);
    EXPECT_FALSE(m.RightDown);
    EXPECT_EQ(m.RightEvent, 2);

    m.SetButton(WM_MOUSEMOVE);
    EXPECT_TRUE(reports.Saw("TMyMouse.SetButton error : Invalid WM_Button value"));
    EXPECT_TRUE(m.LeftDown);

    m.SetPosition(9, 9);
    FrameCount = 8;
    EXPECT_EQ(m.FramesSinceMove(), 3);
    EXPECT_TRUE(m.IsInRect({0, 0, 10, 10}));
    m.SetPosition(10, 0);
    EXPECT_FALSE(m.IsInRect({0, 0, 10, 10}));
    FrameCount = 0;
}

TEST(Keys, PressedKeysEqualIsAnExactMatch)
{
    const TKeySet saved = PressedKeys;
    PressedKeys = MakeKeySet({VK_CONTROL, 'X'});
    bool equal = false;
    EXPECT_TRUE(PressedKeysEqual(MakeKeySet({VK_CONTROL, 'X'}), equal));
    EXPECT_TRUE(equal);
    EXPECT_FALSE(PressedKeysEqual(MakeKeySet({VK_CONTROL}), equal));
    EXPECT_FALSE(equal);
    PressedKeys = saved;
}

}  // namespace
