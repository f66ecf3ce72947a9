#include "scene/uStater.h"

#include "framework/uD3DGlobals.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class Counter : public TBasic {
public:
    void FrameMove() override { ++Updates; }
    int Updates = 0;
};

class Machine : public TStater {
public:
    Machine()
    {
        for (int s = 0; s < 3; ++s) {
            StatesInfo[s].StatePeriod = 60.0f;
            StatesInfo[s].EventProc = [this, s](uint8_t e) {
                Events.push_back(std::to_string(s) + ":" + std::to_string(e));
                if (OnEvent)
                    OnEvent(s, e);
            };
        }
    }
    void Update() override { ++OwnUpdates; }
    std::vector<std::string> Events;
    std::function<void(int, uint8_t)> OnEvent;
    int OwnUpdates = 0;
};

class StaterTest : public ::testing::Test {
protected:
    void SetUp() override { FrameStep = 1.0f; }
    scenetest::ReportCapture Reports;
};

TEST_F(StaterTest, StateRunsItsPeriodThenEndsEveryFrame)
{
    Machine m;
    m.SetState(1);
    ASSERT_EQ(m.Events, (std::vector<std::string>{"1:0"}));
    int frames = 0;
    while (m.Phase > 0.0f && frames < 100) {
        m.FrameMove();
        ++frames;
    }
    EXPECT_GE(frames, 59);
    EXPECT_LE(frames, 61);
    EXPECT_EQ(m.Events.back(), "1:2");
    EXPECT_EQ(std::count(m.Events.begin(), m.Events.end(), "1:1"), frames - 1);
    m.FrameMove();
    m.FrameMove();
    EXPECT_EQ(m.Phase, 0.0f);
    EXPECT_EQ(std::count(m.Events.begin(), m.Events.end(), "1:2"), 3);

    // After the end, a change sends no second end event.
    m.Events.clear();
    m.SetState(2);
    EXPECT_EQ(m.Events, (std::vector<std::string>{"2:0"}));
}

TEST_F(StaterTest, InterruptingSendsTheEndFirstAndIgnoresChangesFromIt)
{
    Machine m;
    m.SetState(1);
    m.FrameMove();
    m.OnEvent = [&](int s, uint8_t e) {
        if (s == 1 && e == 2)
            m.SetState(0);  // ignored: sent while the change is under way
    };
    m.SetState(2);
    EXPECT_EQ(m.Events, (std::vector<std::string>{"1:0", "1:1", "1:2", "2:0"}));
    EXPECT_EQ(m.State, 2);
}

TEST_F(StaterTest, IdleStateSendsNothingAndRunsAsAContainer)
{
    Machine m;
    auto* child = m.AddChild(new Counter);
    m.SetState(1);
    m.SetState(0);
    m.Events.clear();
    m.FrameMove();
    EXPECT_TRUE(m.Events.empty());
    EXPECT_EQ(m.OwnUpdates, 1);
    EXPECT_EQ(child->Updates, 1);
}

TEST_F(StaterTest, UpdateDuringStateFalseFreezesTheContainer)
{
    Machine m;
    auto* child = m.AddChild(new Counter);
    m.UpdateDuringState = false;
    m.SetState(1);
    m.FrameMove();
    m.FrameMove();
    EXPECT_EQ(m.OwnUpdates, 0);
    EXPECT_EQ(child->Updates, 0);
    m.UpdateDuringState = true;
    m.FrameMove();
    EXPECT_EQ(m.OwnUpdates, 1);
    EXPECT_EQ(child->Updates, 1);
    m.UpdateDuringState = false;
    m.SetState(0);
    m.FrameMove();
    EXPECT_EQ(child->Updates, 2);
}

TEST_F(StaterTest, BrokenEntryIsReportedAndTheRunningStateKept)
{
    Machine m;
    m.SetState(1);
    m.StatesInfo[5].StatePeriod = 0.0f;
    m.SetState(5);
    EXPECT_TRUE(Reports.Saw("TStater.SetState: StatesInfo[State].StatePeriod=0"));
    EXPECT_TRUE(Reports.Saw("TStater.SetState: StatesInfo[State].EventProc=nil"));
    m.StatesInfo[6].StatePeriod = 10.0f;
    m.SetState(6);
    EXPECT_EQ(Reports.Count("TStater.SetState: StatesInfo[State].EventProc=nil"), 2);
    m.SetState(300);
    EXPECT_EQ(m.State, 1);
    EXPECT_EQ(m.Phase, 1.0f);
    EXPECT_EQ(m.Events, (std::vector<std::string>{"1:0"}));
    m.FrameMove();
    EXPECT_EQ(m.Events.back(), "1:1");
}

}  // namespace
