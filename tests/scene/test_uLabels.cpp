#include "scene/uLabels.h"

#include "framework/uD3DGlobals.h"
#include "scene/uInput.h"
#include "scene/uV.h"
#include "tests/scene/FakeDevice.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

namespace {

using scenetest::FakeDevice;
using scenetest::ReportCapture;

class LabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scenetest::UseScreen(800, 600);
        TextureFormat = D3DFMT_A8R8G8B8;
    }
    void TearDown() override { TextureFormat = D3DFMT_UNKNOWN; }
    ReportCapture Reports;
    FakeDevice Dev;
};

TEST_F(LabelTest, FontHasItsSheetAndGlyphs)
{
    TIndexedTextureFont font;
    ASSERT_NE(font.Texture, nullptr);
    EXPECT_EQ(font.Glyphs.size(), font.Letters.size());
    const TGlyphRec* a = font.GetLetterRec('A');
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(font.GetLetterRec('a'), font.GetLetterRec('a'));
    EXPECT_EQ(font.GetLetterRec('a')->U0, a->U0);
    EXPECT_TRUE(font.GlyphPixel('A', 0, 1));
    EXPECT_FALSE(font.GlyphPixel('A', 0, 0));
    EXPECT_FALSE(font.GlyphPixel(' ', 2, 3));
    EXPECT_EQ(font.GetLetterRec('~'), nullptr);
    EXPECT_TRUE(Reports.Saw("Invalid char in TIndexedTextureFont.GetLetterRec: \"~\""));

    float w = 0, h = 0;
    font.MeasureText("AB", w, h, 2 * PixelSize);
    EXPECT_NEAR(w / PixelSize, 14.0, 1e-3);
    EXPECT_NEAR(h / PixelSize, 10.0, 1e-3);
}

TEST_F(LabelTest, LabelGeometryIsCentredAndMissingGlyphsDrawNothing)
{
    TIndexedTextureFont font;
    TTexLabel label(&font, 1, "H~I");
    EXPECT_EQ(label.VertexCount, 18);
    EXPECT_EQ(label.StateBlock, 19);
    EXPECT_NEAR(label.Width / PixelSize, 13.0, 1e-3);
    const auto* v = label.VerticesAs<TDiffuseTexVertex>();
    EXPECT_FLOAT_EQ(v[0].x, -label.Width / 2);
    EXPECT_FLOAT_EQ(v[0].y, label.Height / 2);
    EXPECT_NEAR((v[6].x - v[0].x) / PixelSize, 7.0, 1e-3);  // I follows H after the spacing
    EXPECT_EQ(v[17].x, 0.0f);                              // the unused quad stays empty
    EXPECT_EQ(v[0].Color, 0xFFFFFFFFu);

    TTexLabel empty(&font, 0, "");
    EXPECT_EQ(empty.Text, "?");

    const int before = Dev.Buffers.back()->Locks;
    empty.SetColor(0xFFFFFFFF);
    EXPECT_EQ(Dev.Buffers.back()->Locks, before);

    label.SetPixelPos(100, 50);
    EXPECT_NEAR((label.GetLeft() + ScreenRight) / PixelSize, 99.5, 1e-3);
    EXPECT_NEAR((ScreenTop - label.GetTop()) / PixelSize, 49.5, 1e-3);
}

TEST_F(LabelTest, MultiLineSplitsAtLineBreaks)
{
    TIndexedTextureFont font;
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {{"A\nB", {"A", "B"}}, {"\n\n", {"", "", ""}}, {"AB\n", {"AB", ""}}, {"", {"?"}}};
    for (const Case& c : cases) {
        TTexLabelExParams p;
        p.Font = &font;
        p.Text = c.text;
        TTexLabelEx label(p);
        ASSERT_EQ(label.LineCount, static_cast<int32_t>(c.lines.size())) << c.text;
        for (std::size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(label.Lines[i], c.lines[i]);
    }

    std::string many(300, '\n');
    TTexLabelExParams p;
    p.Font = &font;
    p.Text = many;
    TTexLabelEx big(p);
    EXPECT_EQ(big.LineCount, 256);
}

TEST_F(LabelTest, MultiLineLayoutAndMouse)
{
    TIndexedTextureFont font;
    TTexLabelExParams p;
    p.Font = &font;
    p.LineSpacing = 2;
    p.Text = "ABC\nA";
    TTexLabelEx label(p);
    // Widths snap to an even number of pixels: 18 stays, height 10 + 2 + 10 = 22 stays.
    EXPECT_EQ(label.PixelWidth, 18);
    EXPECT_EQ(label.PixelHeight, 22);
    const auto* v = label.VerticesAs<TDiffuseTexVertex>();
    EXPECT_NEAR(v[0].y / PixelSize, 11.0, 1e-3);
    EXPECT_NEAR((v[0].y - v[18].y) / PixelSize, 12.0, 1e-3);  // the second line, 10 + 2 lower
    EXPECT_NEAR(v[18].x / PixelSize, -3.0, 1e-3);             // centred

    InitInput(nullptr);
    ASSERT_NE(Mouse, nullptr);
    label.CentreX = 0.0f;
    label.CentreY = 0.0f;
    Mouse->SetPosition(400, 300);
    EXPECT_TRUE(label.IsMouseOver());
    Mouse->SetPosition(400 + 9, 300);
    EXPECT_FALSE(label.IsMouseOver());
    FreeInput();
    EXPECT_FALSE(label.IsMouseOver());
}

}  // namespace
