#include "app/uRunState.h"

#include "app/uC.h"

#include <gtest/gtest.h>

namespace {

class Geometry : public ::testing::Test {
protected:
    void SetUp() override { Saved = Options; }
    void TearDown() override { Options = Saved; }
    TOptions Saved{};
};

TEST_F(Geometry, ExactValuesAt1024x768And800x600)
{
    struct Case {
        int32_t W, H;
        float PixelSize, HalfPixelSize, FirstColumn, LastColumn, FirstRow, LastRow;
    };
    const Case cases[] = {
        {1024, 768, 0.0026041667f, 0.0013020834f, -1.33203125f, 1.33203125f, 1.00130212f, -0.99609381f},
        {800, 600, 0.00333333341f, 0.00166666671f, -1.33166671f, 1.33166671f, 1.00166667f, -0.995000064f},
    };
    for (const Case& c : cases) {
        Options.Width = c.W;
        Options.Height = c.H;
        ASSERT_TRUE(SetupScreenGeometry());
        EXPECT_EQ(Options.HalfWidth, c.W / 2);
        EXPECT_EQ(Options.HalfHeight, c.H / 2);
        EXPECT_EQ(ScreenBottom, -1.0f);
        EXPECT_EQ(ScreenTop, 1.0f);
        EXPECT_EQ(ScreenLeft, -1.3333334f);
        EXPECT_EQ(ScreenRight, 1.3333334f);
        EXPECT_EQ(ViewWidth, 2.6666667f);
        EXPECT_EQ(ViewHeight, 2.0f);
        EXPECT_EQ(HalfViewWidth, 1.3333334f);
        EXPECT_EQ(HalfViewHeight, 1.0f);
        EXPECT_EQ(PixelSize, c.PixelSize) << c.W;
        EXPECT_EQ(HalfPixelSize, c.HalfPixelSize) << c.W;
        EXPECT_EQ(ColumnX[0], c.FirstColumn) << c.W;
        EXPECT_EQ(ColumnX[c.W - 1], c.LastColumn) << c.W;
        EXPECT_EQ(RowY[0], c.FirstRow) << c.W;
        EXPECT_EQ(RowY[c.H - 1], c.LastRow) << c.W;
        EXPECT_GE(ColumnX.size(), 4096u);
        EXPECT_GE(RowY.size(), 4096u);
    }
}

TEST_F(Geometry, TablesGrowWithTheScreenAndAbsurdSizesAreRefused)
{
    Options.Width = 5120;
    Options.Height = 2880;
    ASSERT_TRUE(SetupScreenGeometry());
    EXPECT_EQ(ColumnX.size(), 5120u);
    EXPECT_EQ(RowY.size(), 4096u);
    EXPECT_EQ(Options.HalfWidth, 2560);
    EXPECT_GT(ColumnX[5119], 0.0f);

    for (auto [w, h] : {std::pair{0, 768}, {1024, 0}, {-1024, 768}, {1 << 30, 768}, {1024, kMaxScreenSide + 1}}) {
        Options.Width = w;
        Options.Height = h;
        const float before = PixelSize;
        EXPECT_FALSE(SetupScreenGeometry()) << w << "x" << h;
        EXPECT_EQ(PixelSize, before);
    }
}

TEST(WindowHandle, WholeTextMustBeANumber)
{
    struct Case {
        const char* Text;
        uintptr_t Handle;
    };
    const Case cases[] = {
        {"1234", 1234},  {"0x1A", 26},          {"$ff", 255},  {"12ab", 0},        {"", 0},
        {"abc", 0},      {" 77", 77},           {"77 ", 0},    {"0xFFFFFFFF", 0xFFFFFFFFu},
        {"-1", 0xFFFFFFFFu}, {"0", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(reinterpret_cast<uintptr_t>(ParseWindowHandle(c.Text)), c.Handle) << '"' << c.Text << '"';
}

TEST(KeySet, AddsAndComparesAllCodes)
{
    TKeySet keys;
    for (int code : {0, 7, 8, 17, 88, 255})
        keys.Add(static_cast<uint8_t>(code));
    for (int code = 0; code < 256; ++code) {
        const bool expected = code == 0 || code == 7 || code == 8 || code == 17 || code == 88 || code == 255;
        EXPECT_EQ(keys.Contains(static_cast<uint8_t>(code)), expected) << code;
    }
    EXPECT_TRUE(keys == MakeKeySet({255, 88, 17, 8, 7, 0}));
    EXPECT_FALSE(keys == MakeKeySet({17, 88}));
    keys.Clear();
    EXPECT_TRUE(keys == TKeySet{});
}

}  // namespace
