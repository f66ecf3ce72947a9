#include "scene/uTexRect.h"

#include "framework/uD3DGlobals.h"
#include "render/uTGA.h"
#include "scene/uV.h"
#include "tests/scene/FakeDevice.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using scenetest::FakeDevice;
using scenetest::ReportCapture;

// Pixel value encodes its position: x in the low 16 bits, y in the next 8, alpha full.
std::string WritePicture(const std::string& dir, int32_t w, int32_t h)
{
    TGAImage img;
    InitTGAImage(img, w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            img.Pixels[static_cast<std::size_t>(y) * w + x] = 0xFF000000u | (uint32_t(y & 0xFF) << 16) | uint32_t(x);
    const std::string path = dir + "/pic" + std::to_string(w) + "x" + std::to_string(h) + ".tga";
    SaveTGA(path, img);
    return path;
}

class TexRectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scenetest::UseScreen(1024, 768);
        TextureFormat = D3DFMT_A8R8G8B8;
    }
    void TearDown() override { TextureFormat = D3DFMT_UNKNOWN; }
    ReportCapture Reports;
    FakeDevice Dev;
};

TEST_F(TexRectTest, TileGridAndTextureCoordinates)
{
    struct Case {
        int32_t w, h, cols, rows;
        float uR, vB, lastW, lastH;  // last column and row, in pixels
    } cases[] = {{1024, 768, 8, 6, 1.0f, 1.0f, 128, 128}, {1000, 700, 8, 6, 0.8125f, 0.46875f, 104, 60}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w);
        TTexRect256 r(0, 0, WritePicture(Reports.Dir, c.w, c.h), true, 128);
        EXPECT_EQ(r.TileColumns, c.cols);
        EXPECT_EQ(r.TileRows, c.rows);
        EXPECT_EQ(r.TileCount, c.cols * c.rows);
        EXPECT_EQ(r.VertexCount, c.cols * c.rows * 6);
        const auto* v = r.VerticesAs<TDiffuseTexVertex>();
        const TDiffuseTexVertex* last = v + (r.TileCount - 1) * 6;  // the bottom-right tile
        EXPECT_FLOAT_EQ(last[5].u, c.uR);
        EXPECT_FLOAT_EQ(last[5].v, c.vB);
        EXPECT_NEAR((last[1].x - last[0].x) / PixelSize, c.lastW, 1e-3);
        EXPECT_NEAR((last[0].y - last[2].y) / PixelSize, c.lastH, 1e-3);
        EXPECT_FLOAT_EQ(v[5].u, 1.0f);  // a full tile
        EXPECT_FLOAT_EQ(v[0].u, 0.0f);
        EXPECT_EQ(*Dev.LiveTextures, r.TileCount);
    }
    EXPECT_FALSE(Reports.Saw("TTexRect256.SetRectCount: QueryFileFormat failed"));
}

TEST_F(TexRectTest, TilesHoldTheirPartOfThePicture)
{
    TTexRect256 r(0, 0, WritePicture(Reports.Dir, 40, 20), false, 16);
    ASSERT_EQ(r.TileCount, 6);  // 3 x 2
    auto texel = [&](int tile, int x, int y) {
        const auto* tex = Dev.Textures[static_cast<std::size_t>(tile)];
        uint32_t v;
        std::memcpy(&v, tex->Bits.data() + y * tex->Pitch + 4 * x, 4);
        return v;
    };
    EXPECT_EQ(texel(0, 0, 0), 0xFF000000u);
    EXPECT_EQ(texel(1, 3, 2), 0xFF000000u | (2u << 16) | 19u);
    EXPECT_EQ(texel(2, 7, 15), 0xFF000000u | (15u << 16) | 39u);
    EXPECT_EQ(texel(5, 7, 3), 0xFF000000u | (19u << 16) | 39u);
    EXPECT_EQ(texel(5, 8, 3) & 0xFF, 0xEEu);  // beyond the picture: as created
    for (const auto* t : Dev.Textures)
        EXPECT_FALSE(t->Locked);

    // Drawn tile by tile, each bound first.
    Dev.Journal.clear();
    r.DrawPrimitives();
    EXPECT_EQ(Dev.Journal.back(), "DrawPrimitive 4 30 2");
}

TEST(FittingTileSize, GrowsOnlyWhereTheTableWouldOverflow)
{
    struct Case {
        int32_t w, h, asked, largest, tile;
    } cases[] = {
        {1024, 768, 128, 4096, 128},   {2048, 2048, 128, 4096, 128},  {2049, 2048, 128, 4096, 256},
        {2560, 1600, 128, 4096, 256},  {3440, 1440, 128, 4096, 256},  {3840, 2160, 128, 4096, 256},
        {5120, 2880, 128, 4096, 256},  {7680, 4320, 128, 4096, 512},  {16384, 16384, 128, 4096, 1024},
        {16384, 1, 128, 4096, 128},    {65535, 65535, 128, 4096, 4096}, {3840, 2160, 128, 128, 128},
        {0, 0, 128, 4096, 128},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FittingTileSize(c.w, c.h, c.asked, c.largest), c.tile) << c.w << "x" << c.h << " in " << c.largest;
}

TEST_F(TexRectTest, PicturesBeyond256TilesGetLargerTilesAndStayWhole)
{
    DeviceCaps.MaxTextureWidth = DeviceCaps.MaxTextureHeight = 4096;
    TTexRect256 r(0, 0, WritePicture(Reports.Dir, 520, 170), false, 16);  // 33 x 11 tiles of 16
    DeviceCaps = {};
    EXPECT_EQ(r.TileSize, 32);
    EXPECT_EQ(r.TileColumns, 17);
    EXPECT_EQ(r.TileRows, 6);
    EXPECT_EQ(r.ImageWidth, 520);
    EXPECT_EQ(r.ImageHeight, 170);
    EXPECT_EQ(*Dev.LiveTextures, 102);
    EXPECT_EQ(Dev.Textures.back()->Width, 32u);
    EXPECT_TRUE(Reports.Messages.empty());
    const TDiffuseTexVertex* last = r.VerticesAs<TDiffuseTexVertex>() + (r.TileCount - 1) * 6;
    EXPECT_FLOAT_EQ(last[5].u, 0.25f);    // 8 of 32 columns
    EXPECT_FLOAT_EQ(last[5].v, 0.3125f);  // 10 of 32 rows
    EXPECT_NEAR((last[1].x - last[0].x) / PixelSize, 8, 1e-3);
    // The bottom-right tile holds the picture's last pixels.
    const auto* tex = Dev.Textures[static_cast<std::size_t>(r.TileCount - 1)];
    uint32_t texel;
    std::memcpy(&texel, tex->Bits.data() + 9 * tex->Pitch + 4 * 7, 4);
    EXPECT_EQ(texel, 0xFF000000u | (169u << 16) | 519u);
}

TEST_F(TexRectTest, PicturesBeyondTheLargestTilesAreClipped)
{
    DeviceCaps.MaxTextureWidth = DeviceCaps.MaxTextureHeight = 16;  // no tile larger than asked
    TTexRect256 r(0, 0, WritePicture(Reports.Dir, 512, 160), false, 16);  // 32 x 10 tiles
    DeviceCaps = {};
    EXPECT_EQ(r.TileSize, 16);
    EXPECT_EQ(r.TileColumns, 32);
    EXPECT_EQ(r.TileRows, 8);
    EXPECT_EQ(r.TileCount, 256);
    EXPECT_EQ(r.ImageHeight, 128);
    EXPECT_EQ(*Dev.LiveTextures, 256);
    EXPECT_TRUE(Reports.Saw("TTexRect256.SetRectCount: 320 tiles needed, picture clipped to 32 x 8 tiles"));
}

TEST_F(TexRectTest, RestoresReplaceTheTilesAndColourUploadsOnlyOnChange)
{
    TTexRect256 r(10, 20, WritePicture(Reports.Dir, 40, 20), false, 16);
    r.RestoreDeviceObjects();
    r.RestoreDeviceObjects();
    EXPECT_EQ(*Dev.LiveTextures, 6);
    EXPECT_EQ(*Dev.LiveBuffers, 1);
    EXPECT_EQ(r.PixelX, 10);

    Dev.Buffers.back()->Locks = 0;
    r.SetColor(0x80FFFFFF);
    r.SetColor(0x80FFFFFF);
    EXPECT_EQ(Dev.Buffers.back()->Locks, 1);
    EXPECT_EQ(r.VerticesAs<TDiffuseTexVertex>()[7].Color, 0x80FFFFFFu);

    r.InvalidateDeviceObjects();
    EXPECT_EQ(*Dev.LiveTextures, 0);
    EXPECT_EQ(*Dev.LiveBuffers, 0);
}

TEST_F(TexRectTest, MissingPictureIsReported)
{
    TTexRect256 r(0, 0, "no-such.tga", false, 128);
    EXPECT_TRUE(Reports.Saw("TTexRect256.SetRectCount: QueryFileFormat failed"));
    EXPECT_EQ(r.TileCount, 0);
    Dev.Journal.clear();
    r.Render();
    EXPECT_TRUE(Dev.Journal.empty());  // nothing to draw, and no device error about it
}

TEST_F(TexRectTest, ColorRectCorners)
{
    TColorRect c;
    c.SetPixelRect(10, 20, 30, 40);
    const auto* v = c.VerticesAs<TDiffuseVertex>();
    // Screen x of a world x: (x + ScreenRight) / PixelSize.
    auto sx = [](float x) { return (x + ScreenRight) / PixelSize; };
    auto sy = [](float y) { return (ScreenTop - y) / PixelSize; };
    EXPECT_NEAR(sx(v[0].x), 10.0, 1e-3);
    EXPECT_NEAR(sy(v[0].y), 20.0, 1e-3);
    EXPECT_NEAR(sx(v[3].x), 39.5, 1e-3);
    EXPECT_NEAR(sy(v[3].y), 59.5, 1e-3);
    c.SetCornerColors(1, 2, 3, 4);
    EXPECT_EQ(v[2].Color, 3u);
    c.SetColor(0xFF00FF00);
    EXPECT_EQ(v[0].Color, 0xFF00FF00u);

    c.SetCentredSize(ViewWidth, ViewHeight);
    EXPECT_EQ(c.PixelX, 0);
    EXPECT_EQ(c.PixelY, 0);
    EXPECT_NEAR(sx(v[0].x), 0.5, 1e-3);
    EXPECT_NEAR(sx(v[3].x), 1024.5, 1e-2);
}

}  // namespace
