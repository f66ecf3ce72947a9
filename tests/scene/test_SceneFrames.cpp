// Frames drawn through the software device: each drawable lands on the expected pixels.
#include "framework/uD3DGlobals.h"
#include "render/uDebug.h"
#include "render/uStateBlocks.h"
#include "render/uTGA.h"
#include "scene/math/uMath.h"
#include "scene/uLabels.h"
#include "scene/uTexRect.h"
#include "tests/d3d8/D3D8TestSupport.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 32;

class SceneFrames : public d3d8test::DeviceTest {
protected:
    void SetUp() override
    {
        d3d8test::DeviceTest::SetUp();
        ::Device = Device;
        ::D3D = D3D;
        TextureFormat = D3DFMT_A8R8G8B8;
        MirrorAddressing = false;
        scenetest::UseScreen(kWidth, kHeight);
        ReleaseLastTexture();
        SetDefaultStates();
        Depot = new TStateBlockDepot;
        BlockDepot = Depot;
        Depot->RestoreDeviceObjects();
        SetCamera();
    }
    void TearDown() override
    {
        delete Depot;
        BlockDepot = nullptr;
        ReleaseLastTexture();
        ::Device = nullptr;
        ::D3D = nullptr;
        TextureFormat = D3DFMT_UNKNOWN;
        // The fixture checks that nothing of the device is left alive.
        EXPECT_EQ(ReleaseDevice(), 0u);
        d3d8test::DeviceTest::TearDown();
    }

    // The scene root's camera: the plane z = 0 shows the world rectangle pixel for pixel.
    void SetCamera()
    {
        D3DMATRIX m;
        MatrixPerspectiveFov(m, std::numbers::pi_v<float> / 2, ViewHeight / ViewWidth, 0.0f, 1000.0f);
        Device->SetTransform(D3DTS_PROJECTION, &m);
        MatrixLookAt(m, D3DVECTOR{0, 0, -1}, D3DVECTOR{0, 0, 0}, D3DVECTOR{0, 100, 0});
        Device->SetTransform(D3DTS_VIEW, &m);
    }

    template <class Draw>
    void DrawFrame(Draw draw, D3DCOLOR background = 0xFF000000)
    {
        ASSERT_EQ(Device->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0), D3D_OK);
        ASSERT_EQ(Device->BeginScene(), D3D_OK);
        draw();
        ASSERT_EQ(Device->EndScene(), D3D_OK);
    }

    uint32_t Rgb(int x, int y) { return BackBufferPixel(x, y) & 0xFFFFFF; }

    std::string Picture(int w, int h, uint8_t alpha)
    {
        TGAImage img;
        InitTGAImage(img, w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.Pixels[static_cast<std::size_t>(y) * w + x] =
                    (uint32_t(alpha) << 24) | (uint32_t(x * 10) << 16) | (uint32_t(y * 20) << 8) | 0x40;
        const std::string path = Reports.Dir + "/picture.tga";
        SaveTGA(path, img);
        return path;
    }

    scenetest::ReportCapture Reports;
    TStateBlockDepot* Depot = nullptr;
};

TEST_F(SceneFrames, ColorRectCoversItsPixelsExactly)
{
    auto* rect = new TColorRect;
    rect->StateBlocks[0] = 15;
    rect->SetPixelRect(10, 5, 20, 12);
    rect->SetColor(0xFFFF0000);
    rect->UploadVertices();
    DrawFrame([&] { rect->Render(); });
    EXPECT_EQ(Rgb(10, 5), 0xFF0000u);
    EXPECT_EQ(Rgb(29, 16), 0xFF0000u);
    EXPECT_EQ(Rgb(9, 5), 0u);
    EXPECT_EQ(Rgb(30, 5), 0u);
    EXPECT_EQ(Rgb(10, 4), 0u);
    EXPECT_EQ(Rgb(10, 17), 0u);

    // Block 15 blends with the vertex alpha: half green over white.
    rect->SetColor(0x8000FF00);
    rect->UploadVertices();
    DrawFrame([&] { rect->Render(); }, 0xFFFFFFFF);
    const uint32_t c = Rgb(15, 10);
    EXPECT_NEAR(int(c >> 16), 0x7F, 1);
    EXPECT_EQ((c >> 8) & 0xFF, 0xFFu);
    EXPECT_NEAR(int(c & 0xFF), 0x7F, 1);
    EXPECT_EQ(Rgb(40, 10), 0xFFFFFFu);
    delete rect;
}

TEST_F(SceneFrames, TexRectShowsThePictureAtItsPixelPosition)
{
    auto* pic = new TTexRect256(3, 4, Picture(20, 10, 0xFF), false, 16);
    pic->StateBlocks[0] = 19;
    DrawFrame([&] { pic->Render(); });
    for (auto [x, y] : {std::pair{0, 0}, {5, 3}, {15, 9}, {16, 0}, {19, 9}})
        EXPECT_EQ(Rgb(3 + x, 4 + y), (uint32_t(x * 10) << 16) | (uint32_t(y * 20) << 8) | 0x40u) << x << "," << y;
    EXPECT_EQ(Rgb(2, 4), 0u);
    EXPECT_EQ(Rgb(23, 4), 0u);
    EXPECT_EQ(Rgb(3, 14), 0u);
    delete pic;

    // Block 19 takes the texture's alpha: a half-transparent picture over black is half as bright.
    pic = new TTexRect256(0, 0, Picture(20, 10, 0x80), false, 16);
    pic->StateBlocks[0] = 19;
    DrawFrame([&] { pic->Render(); });
    EXPECT_NEAR(int(Rgb(10, 5) >> 16), 100 / 2, 1);
    EXPECT_NEAR(int(Rgb(10, 5) & 0xFF), 0x20, 1);
    delete pic;
}

TEST_F(SceneFrames, LabelDrawsItsGlyphs)
{
    auto* font = new TIndexedTextureFont;
    auto* label = new TTexLabel(font, 0, "HI");
    label->SetPixelPos(5, 6);
    DrawFrame([&] { label->Render(); });
    int lit = 0;
    for (int y = 0; y < TIndexedTextureFont::kCellHeight; ++y)
        for (int x = 0; x < 2 * TIndexedTextureFont::kCellWidth; ++x) {
            const char c = x < TIndexedTextureFont::kCellWidth ? 'H' : 'I';
            const bool on = font->GlyphPixel(c, x % TIndexedTextureFont::kCellWidth, y);
            EXPECT_EQ(Rgb(5 + x, 6 + y), on ? 0xFFFFFFu : 0u) << x << "," << y;
            lit += on;
        }
    EXPECT_EQ(lit, 17 + 11);
    EXPECT_EQ(Rgb(4, 7), 0u);

    label->SetColor(0xFF00FF00);  // block 19 draws the texture colour: unchanged
    DrawFrame([&] { label->Render(); });
    EXPECT_EQ(Rgb(5, 6), 0xFFFFFFu);
    delete label;
    delete font;
}

}  // namespace
