#include "framework/uMyApp.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(FrameClock, ConvergesTowardTheMeasuredRate)
{
    // 40 frames per second is 1.5 ticks of 1/60 s per frame.
    float step = 1.0f;
    for (int i = 0; i < 100; ++i)
        step = NextFrameStep(step, 0.025f);
    // One time constant: about 63 % of the way.
    EXPECT_NEAR(step, 1.0f + 0.5f * (1.0f - std::pow(0.99f, 100.0f)), 1e-4f);
    for (int i = 0; i < 900; ++i)
        step = NextFrameStep(step, 0.025f);
    EXPECT_NEAR(step, 1.5f, 1e-3f);
}

TEST(FrameClock, OneLongFrameMovesAHundredth)
{
    EXPECT_NEAR(NextFrameStep(1.0f, 1.0f), 1.0f + (60.0f - 1.0f) * 0.01f, 1e-6f);
    // No measurement yet (fewer than two stamps) pulls toward zero, as the history says.
    EXPECT_NEAR(NextFrameStep(1.0f, 0.0f), 0.99f, 1e-6f);
}

}  // namespace
