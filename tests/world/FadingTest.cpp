#include "particles/uScreenFading.h"
#include "particles/uWorld.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenFading, PhasesAtTheirKeyTimes)
{
    struct Case {
        float T;
        float ImageScaleX, ImageScaleY, CoverScaleX, CoverScaleY;
        uint32_t Cover;
        bool ImageVisible;
    };
    // Scales the phase leaves alone stay at 1 here (nothing set them yet).
    const Case cases[] = {
        {0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0x00FFFFFF, true},
        {50.0f, 1.0f, 0.665f, 1.0f, 0.665f, 0x2BFFFFFF, true},
        {150.0f, 0.55f, 1.0f, 0.55f, 1.0f, 0xB9FFFFFF, true},
        {240.0f, 1.0f, 1.0f, 0.0035f, 0.005f, 0xFF808080, false},
    };
    for (const Case& c : cases) {
        const TFadingFrame f = FadingAt(c.T);
        EXPECT_FALSE(f.Done) << c.T;
        EXPECT_NEAR(f.ImageScaleX, c.ImageScaleX, 1e-5f) << c.T;
        EXPECT_NEAR(f.ImageScaleY, c.ImageScaleY, 1e-5f) << c.T;
        EXPECT_NEAR(f.CoverScaleX, c.CoverScaleX, 1e-6f) << c.T;
        EXPECT_NEAR(f.CoverScaleY, c.CoverScaleY, 1e-6f) << c.T;
        EXPECT_EQ(f.CoverColor, c.Cover) << c.T;
        EXPECT_EQ(f.ImageVisible, c.ImageVisible) << c.T;
    }
}

TEST(ScreenFading, SqueezeHoldsFullSizeUntilTheMarginIsUsed)
{
    EXPECT_FLOAT_EQ(FadingAt(24.0f).ImageScaleY, 1.0f);
    EXPECT_LT(FadingAt(25.0f).ImageScaleY, 1.0f);
    EXPECT_FLOAT_EQ(FadingAt(99.9f).ImageScaleY, 0.01f);
    EXPECT_FLOAT_EQ(FadingAt(199.9f).ImageScaleX, 0.007f);
}

TEST(ScreenFading, EndsAt280AndAJumpSkipsStraightToTheDot)
{
    EXPECT_FALSE(FadingAt(279.9f).Done);
    EXPECT_TRUE(FadingAt(280.0f).Done);
    const TFadingFrame jumped = FadingAt(201.0f);
    EXPECT_FALSE(jumped.SetImageScaleX);
    EXPECT_FALSE(jumped.ImageVisible);
}

TEST(BackgroundOverlay, FadeInThenRestingTrailColour)
{
    struct Case {
        int32_t FadeIn, MouseMoves;
        uint32_t Color;
    };
    const Case cases[] = {
        {100, 0, 0xFF000000}, {51, 0, 0xFF000000}, {50, 0, 0xFF000000}, {25, 0, 0x80000000},
        {1, 0, 0x05000000},   {0, 0, 0x10000000},  {0, 16, 0x10808080}, {0, 31, 0x10F7F7F7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OverlayColor(c.FadeIn, c.MouseMoves), c.Color) << c.FadeIn << " " << c.MouseMoves;
}

TEST(BackgroundSpirals, CountIsHeldToWhatTheRendererDraws)
{
    struct Case {
        int32_t Requested, PerSpiral, Capacity, Created;
    };
    const Case cases[] = {
        {8, 2048, 16384, 8}, {9, 2048, 16384, 8},   {2147483647, 2048, 16384, 8},
        {0, 2048, 16384, 0}, {-5, 2048, 16384, 0}, {3, 0, 16384, 3},
        {20, 100, 16384, 20},  {1000, 0, 16384, MaxSpirals}, {1000, 16, 16384, MaxSpirals},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SpiralsToCreate(c.Requested, c.PerSpiral, c.Capacity), c.Created) << c.Requested;
}

}  // namespace
