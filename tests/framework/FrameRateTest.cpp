#include "framework/uFrameRate.h"

#include <gtest/gtest.h>

TEST(FrameRateReport, RateOverEachPeriodAndOffWhenDisabled)
{
    TFrameRateReport report(1.0);
    // The first frame only opens the window; 40 more within one second give 40 per second.
    EXPECT_FALSE(report.Presented(10.0));
    bool due = false;
    for (int i = 1; i <= 40; ++i)
        due = report.Presented(10.0 + i / 40.0);
    EXPECT_TRUE(due);
    EXPECT_DOUBLE_EQ(report.LastRate(), 40.0);
    // The next window starts where the last ended.
    for (int i = 1; i <= 20; ++i)
        due = report.Presented(11.0 + i / 10.0);
    EXPECT_TRUE(due);
    EXPECT_NEAR(report.LastRate(), 10.0, 1e-9);

    TFrameRateReport off(0.0);
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(off.Presented(i));
}
