#include "render/uTex.h"

#include "app/uC.h"
#include "framework/uD3DGlobals.h"
#include "common/uFormats.h"
#include "render/uTGA.h"
#include "scene/math/uMath.h"
#include "tests/scene/FakeDevice.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

using scenetest::FakeDevice;
using scenetest::ReportCapture;

void WriteTGA(const std::string& path, int32_t w, int32_t h, uint32_t first = 0xFF000000)
{
    TGAImage img;
    ASSERT_TRUE(InitTGAImage(img, w, h));
    for (std::size_t i = 0; i < img.Pixels.size(); ++i)
        img.Pixels[i] = first + static_cast<uint32_t>(i);
    ASSERT_TRUE(SaveTGA(path, img));
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class TexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TextureFormat = D3DFMT_A8R8G8B8;
        SquareTexturesOnly = false;
        DitherAmplitude = 0;
    }
    void TearDown() override
    {
        TextureFormat = D3DFMT_UNKNOWN;
        SquareTexturesOnly = false;
    }
    ReportCapture Reports;
    FakeDevice Dev;
};

TEST_F(TexTest, TextureSizesArePowersOfTwo)
{
    struct Case {
        int32_t w, h;
        bool square;
        int32_t tw, th;
    } cases[] = {{100, 60, false, 128, 64}, {100, 60, true, 128, 128}, {256, 256, false, 256, 256},
                 {1, 1, false, 1, 1},       {3, 17, false, 4, 32}};
    for (const Case& c : cases) {
        SquareTexturesOnly = c.square;
        std::vector<uint32_t> pixels(static_cast<std::size_t>(c.w) * c.h, 0x11223344);
        TextureSlot slot;
        ASSERT_TRUE(UploadTexture(pixels.data(), c.w, c.h, slot, D3DFMT_A8R8G8B8));
        EXPECT_EQ(slot.TexWidth, c.tw);
        EXPECT_EQ(slot.TexHeight, c.th);
        EXPECT_EQ(slot.Width, c.w);
        EXPECT_EQ(slot.Height, c.h);
        // Rows land at the lock's pitch; the bytes right of the image keep what was there.
        auto* tex = Dev.Textures.back();
        uint32_t texel;
        std::memcpy(&texel, tex->Bits.data() + tex->Pitch * (c.h - 1), 4);
        EXPECT_EQ(texel, 0x11223344u);
        EXPECT_EQ(tex->Bits[tex->Pitch * (c.h - 1) + c.w * 4], 0xEE);
        ReleaseRef(slot.Texture);
    }
    EXPECT_EQ(*Dev.LiveTextures, 0);
}

TEST_F(TexTest, UploadFailuresLeaveTheSlotEmpty)
{
    std::vector<uint32_t> pixels(16, 0);
    TextureSlot slot;
    Dev.FailCreateTexture = E_OUTOFMEMORY;
    EXPECT_FALSE(UploadTexture(pixels.data(), 4, 4, slot, D3DFMT_A8R8G8B8));
    EXPECT_EQ(slot.Texture, nullptr);
    Dev.FailCreateTexture = D3D_OK;
    Dev.CreateTextureReturnsNone = true;
    EXPECT_FALSE(UploadTexture(pixels.data(), 4, 4, slot, D3DFMT_A8R8G8B8));
    Dev.CreateTextureReturnsNone = false;
    Dev.FailLockRect = true;
    EXPECT_FALSE(UploadTexture(pixels.data(), 4, 4, slot, D3DFMT_A8R8G8B8));
    EXPECT_EQ(slot.Texture, nullptr);
    EXPECT_EQ(*Dev.LiveTextures, 0);
    EXPECT_TRUE(Reports.Saw("TTexArr.UploadTexture: LockRect failed"));
}

TEST_F(TexTest, SixteenBitPacking)
{
    const uint32_t src = 0xFFFF8040;
    struct Case {
        D3DFORMAT f;
        uint16_t want;
    } cases[] = {{D3DFMT_R5G6B5, 0xFC08},   {D3DFMT_A1R5G5B5, 0xFE08}, {D3DFMT_X1R5G5B5, 0xFE08},
                 {D3DFMT_A4R4G4B4, 0xFF84}, {D3DFMT_X4R4G4B4, 0xFF84}};
    for (const Case& c : cases) {
        uint16_t dst = 0;
        ASSERT_TRUE(ReFormat32BitImage(&src, &dst, 1, c.f));
        EXPECT_EQ(dst, c.want) << c.f;
    }
    uint16_t untouched = 0x1234;
    EXPECT_FALSE(ReFormat32BitImage(&src, &untouched, 1, D3DFMT_P8));
    EXPECT_EQ(untouched, 0x1234);
    ASSERT_FALSE(Reports.Messages.empty());
    EXPECT_EQ(Reports.Messages.back(), "ReFormat32BitImage: unknown format.  Format=" + FormatToName(D3DFMT_P8));
}

TEST_F(TexTest, NoiseStaysWithinItsAmplitudeAndKeepsAlpha)
{
    std::vector<uint32_t> pixels(500, 0x7F808080);
    AddNoise(pixels.data(), 500, 0);
    EXPECT_EQ(pixels[0], 0x7F808080u);
    AddNoise(pixels.data(), 500, 8);
    bool moved = false;
    for (uint32_t p : pixels) {
        EXPECT_EQ(p >> 24, 0x7Fu);
        for (int shift : {16, 8, 0}) {
            const int c = (p >> shift) & 0xFF;
            EXPECT_GE(c, 0x80 - 8);
            EXPECT_LE(c, 0x80 + 7);
            moved |= c != 0x80;
        }
    }
    EXPECT_TRUE(moved);
    std::vector<uint32_t> edge = {0x00000000, 0x00FFFFFF};
    AddNoise(edge.data(), 2, 8);  // clamped, never wrapped
    EXPECT_LE((edge[0] >> 16) & 0xFF, 7u);
    EXPECT_GE((edge[1] >> 16) & 0xFF, 0xF7u);
}

TEST_F(TexTest, CreateTexLoadsTopDownAndNamesTheSlot)
{
    TTexArr store(false);
    WriteTGA(Reports.Dir + "/Foo.TGA", 3, 2);
    store.CreateTex(5, Reports.Dir + "/Foo.TGA");
    const TextureSlot& slot = store.Slots[5];
    ASSERT_NE(slot.Texture, nullptr);
    EXPECT_EQ(slot.Name, "foo.tga");
    EXPECT_EQ(slot.Width, 3);
    EXPECT_EQ(slot.TexWidth, 4);
    auto* tex = Dev.Textures.back();
    uint32_t first;
    std::memcpy(&first, tex->Bits.data(), 4);
    EXPECT_EQ(first, 0xFF000000u);  // the top row of the saved image

    // Converted to 16 bits when the device takes no 32-bit textures.
    TextureFormat = D3DFMT_R5G6B5;
    store.CreateTex(6, Reports.Dir + "/Foo.TGA");
    EXPECT_NE(store.Slots[6].Texture, nullptr);
    EXPECT_EQ(Dev.Textures.back()->Pitch, 4u * 2 + 16);

    store.CreateTex(5, "x.jpg");
    EXPECT_TRUE(Reports.Saw("TTexArr.CreateTex: Invalid file extension \"x.jpg\""));
    EXPECT_EQ(store.Slots[5].Name, "x.jpg");
    EXPECT_NE(store.Slots[5].Texture, nullptr);  // left as it was

    store.CreateTex(4000, "a.tga");
    store.CreateTex(-1, "a.tga");
    store.InvalidateDeviceObjects();
    EXPECT_EQ(*Dev.LiveTextures, 0);
}

TEST_F(TexTest, BadImagesAreReportedAndLeaveNoTexture)
{
    TTexArr store(false);
    WriteTGA(Reports.Dir + "/ok.tga", 8, 8);
    store.CreateTex(7, Reports.Dir + "/ok.tga");
    ASSERT_NE(store.Slots[7].Texture, nullptr);

    // Truncated pixel data, and a header that claims far more than the file holds.
    std::string bytes;
    {
        std::ifstream in(Reports.Dir + "/ok.tga", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    WriteText(Reports.Dir + "/short.tga", bytes.substr(0, 40));
    std::string lying = bytes;
    lying[12] = lying[13] = lying[14] = lying[15] = char(0xFF);
    WriteText(Reports.Dir + "/lying.tga", lying);
    WriteText(Reports.Dir + "/tiny.tga", "TGA");

    for (const char* name : {"missing.tga", "short.tga", "lying.tga", "tiny.tga"}) {
        SCOPED_TRACE(name);
        const std::size_t before = Reports.Messages.size();
        store.CreateTex(7, Reports.Dir + "/" + name);
        EXPECT_EQ(store.Slots[7].Texture, nullptr);
        EXPECT_GT(Reports.Messages.size(), before);
        store.CreateTex(7, Reports.Dir + "/ok.tga");
    }
    int32_t w = -1, h = -1;
    std::vector<uint8_t> pixels;
    EXPECT_FALSE(LoadTextureImage(Reports.Dir + "/short.tga", w, h, pixels));
    EXPECT_EQ(w, 0);
    EXPECT_TRUE(pixels.empty());

    TextureFormat = D3DFMT_UNKNOWN;  // no format chosen: reported, nothing produced
    EXPECT_FALSE(LoadTextureImage(Reports.Dir + "/ok.tga", w, h, pixels));
}

TEST_F(TexTest, RestoreLoadsTheParticleTextureAndUVTable)
{
    CreateDirectoryA((Reports.Dir + "/Textures").c_str(), nullptr);
    WriteTGA(Reports.Dir + "/Textures/Particles.tga", 16, 16);
    WriteText(Reports.Dir + "/Textures/Particles.uv", "; rectangles\n// of the sheet\n0 0 64 64\n\n64 0 128 64\r\n10 20\n");
    TTexArr store(true);
    EXPECT_EQ(TexArr, &store);
    store.RestoreDeviceObjects();
    EXPECT_NE(store.Slots[ParticleTextureSlot].Texture, nullptr);
    EXPECT_EQ(store.Slots[ParticleTextureSlot].Name, "particles.tga");
    ASSERT_EQ(UVCount, 3);
    EXPECT_FLOAT_EQ(UVTable[0].U1, 0.25f);
    EXPECT_FLOAT_EQ(UVTable[1].U0, 0.25f);
    EXPECT_FLOAT_EQ(UVTable[1].U1, 0.5f);
    EXPECT_FLOAT_EQ(UVTable[2].U0, 10 / 256.0f);
    EXPECT_FLOAT_EQ(UVTable[2].V0, 20 / 256.0f);
    EXPECT_EQ(UVTable[2].U1, 0.0f);

    store.RestoreDeviceObjects();  // again, without an invalidation
    EXPECT_EQ(*Dev.LiveTextures, 1);
    store.InvalidateDeviceObjects();
    EXPECT_EQ(*Dev.LiveTextures, 0);
    EXPECT_EQ(UVCount, 3);
}

TEST_F(TexTest, UVFileLimitsAndMissingFile)
{
    UVRect table[kUVCapacity];
    int32_t count = 42;
    EXPECT_FALSE(LoadUVFromFile(Reports.Dir + "/none.uv", table, count));
    EXPECT_EQ(count, 42);
    EXPECT_TRUE(Reports.Saw("TTexArr.LoadUVFromFile: File not exists \"" + Reports.Dir + "/none.uv\""));

    std::string text;
    for (int i = 0; i < 300; ++i)
        text += std::to_string(i) + " 0 256 256\n";
    text += "   \n";  // blanks only: an entry of zeros, but past the capacity
    WriteText(Reports.Dir + "/big.uv", text);
    EXPECT_TRUE(LoadUVFromFile(Reports.Dir + "/big.uv", table, count));
    EXPECT_EQ(count, 256);
    EXPECT_FLOAT_EQ(table[255].U0, 255 / 256.0f);
    EXPECT_FLOAT_EQ(table[255].V1, 1.0f);
    EXPECT_EQ(Reports.Count("TTexArr.LoadUVFromFile: 45 data lines past 256 entries ignored in \"" + Reports.Dir +
                            "/big.uv\""),
              1);
}

}  // namespace
