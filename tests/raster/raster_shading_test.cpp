#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "platform/d3d8/raster/raster_internal.h"
#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

raster::DrawState Textured(const raster::TextureView* t, std::uint32_t filter = 1) {
    raster::DrawState s;
    s.cullMode = 1;
    s.stages[0].texture = t;
    s.stages[0].colorOp = 2;  // SELECTARG1 texture
    s.stages[0].alphaOp = 2;
    s.stages[0].minFilter = s.stages[0].magFilter = filter;
    return s;
}

TEST(RasterTexture, OneToOneReproducesTexels) {
    Texture tex(4, 4, {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0, 0xFF010203, 0xFF040506, 0xFF070809,
                       0xFF0A0B0C, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF7F7F7F, 0xFF808080,
                       0xFF818181, 0xFF000000});
    for (std::uint32_t filter : {1u, 2u}) {
        Canvas c(4, 4, PixelFormat::A8R8G8B8);
        ASSERT_TRUE(Draw(Textured(&tex.view, filter), c, Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFF), 4, 2));
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) EXPECT_EQ(c.At(x, y), tex.texels[y * 4 + x]) << filter << " " << x << "," << y;
        }
    }
}

TEST(RasterTexture, BilinearWeightsAndAddressModes) {
    Texture tex(2, 1, {0xFF000000, 0xFFFFFFFF});
    struct Case {
        std::uint32_t filter, address;
        float u0, u1;
        std::vector<std::uint32_t> expected;  // blue channel per pixel
    } cases[] = {
        {2, 3, 0, 1, {0, 64, 191, 255}},            // clamp: edge texels repeat
        {2, 1, 0, 1, {64, 64, 191, 191}},           // wrap: the edges mix with the far side
        {1, 1, 0, 4, {0, 255, 0, 255, 0, 255, 0, 255}},
        {1, 2, 0, 4, {0, 255, 255, 0, 0, 255, 255, 0}},  // mirror
        {1, 3, 0, 4, {0, 255, 255, 255, 255, 255, 255, 255}},
        {1, 2, -1, 1, {255, 0, 0, 255}},  // mirror below zero
    };
    for (const Case& k : cases) {
        const int w = static_cast<int>(k.expected.size());
        Canvas c(w, 1);
        raster::DrawState s = Textured(&tex.view, k.filter);
        s.stages[0].addressU = s.stages[0].addressV = k.address;
        ASSERT_TRUE(Draw(s, c, Quad(-0.5f, -0.5f, w - 0.5f, 0.5f, 0xFFFFFFFF, k.u0, 0, k.u1, 1), 4, 2));
        for (int x = 0; x < w; ++x) EXPECT_EQ(c.At(x, 0) & 255, k.expected[x]) << k.filter << "/" << k.address << " x=" << x;
    }
}

TEST(RasterTexture, BorderAndMissingTexture) {
    Texture tex(2, 2, {0xFF111111, 0xFF222222, 0xFF333333, 0xFF444444});
    raster::DrawState s = Textured(&tex.view);
    s.stages[0].addressU = s.stages[0].addressV = 4;
    s.stages[0].borderColor = 0xFFABCDEF;
    Canvas c(4, 2);
    ASSERT_TRUE(Draw(s, c, Quad(-0.5f, -0.5f, 3.5f, 1.5f, 0xFFFFFFFF, 0, 0, 2, 1), 4, 2));
    EXPECT_EQ(c.At(0, 0), 0x111111u);
    EXPECT_EQ(c.At(2, 0), 0xABCDEFu);
    // Modulating with an absent texture leaves the diffuse colour.
    raster::DrawState m;
    m.cullMode = 1;
    Canvas d(2, 2);
    ASSERT_TRUE(Draw(m, d, Quad(-0.5f, -0.5f, 1.5f, 1.5f, 0xFF123456), 4, 2));
    EXPECT_EQ(d.At(1, 1), 0x123456u);
}

TEST(RasterFormats, TexelDecodeAndEncode) {
    struct Case {
        PixelFormat format;
        std::uint32_t stored;
        std::uint32_t decoded;
    } cases[] = {
        {PixelFormat::A8R8G8B8, 0x80112233, 0x80112233},
        {PixelFormat::X8R8G8B8, 0x00112233, 0xFF112233},
        {PixelFormat::R5G6B5, 0xF81F, 0xFFFF00FF},
        {PixelFormat::R5G6B5, 0x07E0, 0xFF00FF00},
        {PixelFormat::R5G6B5, 0x8410, 0xFF848284},
        {PixelFormat::A1R5G5B5, 0x7C00, 0x00FF0000},
        {PixelFormat::A1R5G5B5, 0x83E0, 0xFF00FF00},
        {PixelFormat::X1R5G5B5, 0x001F, 0xFF0000FF},
        {PixelFormat::A4R4G4B4, 0x8F0A, 0x88FF00AA},
        {PixelFormat::X4R4G4B4, 0x0123, 0xFF112233},
    };
    for (const Case& k : cases) {
        std::uint8_t bytes[4];
        std::memcpy(bytes, &k.stored, 4);
        EXPECT_EQ(raster::DecodePixel(k.format, bytes), k.decoded) << static_cast<int>(k.format);
        std::uint8_t round[4] = {};
        raster::EncodePixel(k.format, round, k.decoded);
        EXPECT_EQ(raster::DecodePixel(k.format, round), k.decoded) << "round trip " << static_cast<int>(k.format);
    }
    // Encoding rounds to the nearest level: 0x84 in 5 bits is 16 (0x84), not 15 (0x7B).
    std::uint8_t p[2];
    raster::EncodePixel(PixelFormat::R5G6B5, p, 0xFF848284);
    EXPECT_EQ(raster::DecodePixel(PixelFormat::R5G6B5, p), 0xFF848284u);
}

TEST(RasterFormats, TexturesOfEveryFormatSample) {
    const PixelFormat formats[] = {PixelFormat::A8R8G8B8, PixelFormat::X8R8G8B8, PixelFormat::R5G6B5,
                                   PixelFormat::X1R5G5B5, PixelFormat::A1R5G5B5, PixelFormat::A4R4G4B4,
                                   PixelFormat::X4R4G4B4};
    for (PixelFormat f : formats) {
        std::vector<std::uint8_t> bits(4 * 4);
        const std::uint32_t colors[4] = {0xFFFF0000, 0xFF00FF00, 0x000000FF, 0xFFFFFFFF};
        const int bpp = raster::BytesPerPixel(f);
        for (int i = 0; i < 4; ++i) raster::EncodePixel(f, bits.data() + i * bpp, colors[i]);
        raster::SurfaceView level{bits.data(), 2, 2, 2 * bpp, f};
        raster::TextureView view{&level, 1, f};
        Canvas c(2, 2, PixelFormat::A8R8G8B8);
        ASSERT_TRUE(Draw(Textured(&view), c, Quad(-0.5f, -0.5f, 1.5f, 1.5f, 0xFFFFFFFF), 4, 2));
        for (int i = 0; i < 4; ++i) {
            std::uint32_t expected = colors[i];
            if (!raster::HasAlpha(f)) expected |= 0xFF000000u;
            EXPECT_EQ(c.At(i % 2, i / 2), expected) << static_cast<int>(f) << " texel " << i;
        }
    }
}

TEST(RasterFormats, RenderTargets) {
    for (PixelFormat f : {PixelFormat::X8R8G8B8, PixelFormat::A8R8G8B8, PixelFormat::R5G6B5}) {
        Canvas c(4, 4, f, 0xFF0000FF);
        raster::DrawState s = Untextured();
        s.alphaBlendEnable = true;
        s.srcBlend = 5;
        s.destBlend = 6;
        ASSERT_TRUE(Draw(s, c, Quad(0, 0, 2, 4, 0x80FF0000), 4, 2));
        // 255 * 128 / 255 = 128 red, 255 * 127 / 255 = 127 blue, alpha 128 * 128 / 255 + 127 = 191
        std::uint32_t expected = f == PixelFormat::A8R8G8B8 ? 0xBF80007F : 0x80007F;
        if (f == PixelFormat::R5G6B5) expected = 0x84007B;
        EXPECT_EQ(c.At(0, 0), expected) << static_cast<int>(f);
        EXPECT_EQ(c.At(3, 3), f == PixelFormat::A8R8G8B8 ? 0xFF0000FFu : 0xFFu);
    }
}

struct OpCase {
    std::uint32_t op, arg1, arg2;
    std::uint32_t diffuse, texel, expected;
};

TEST(RasterStages, ColourAndAlphaOps) {
    const OpCase cases[] = {
        {2, 2, 0, 0x80402010, 0xFF336699, 0xFF336699},  // SELECTARG1 texture
        {3, 2, 0, 0x80402010, 0xFF336699, 0x80402010},  // SELECTARG2 diffuse
        {4, 2, 0, 0xFF808080, 0xFFFF0001, 0xFF800001},  // MODULATE: 1*128/255 = 0.502 rounds up
        {4, 2, 0, 0x7F7F7F7F, 0x01010101, 0x00000000},  // 127/255 = 0.498 rounds down
        {4, 2, 0, 0x80808080, 0x01010101, 0x01010101},  // 128/255 = 0.502 rounds up
        {4, 2, 1, 0xC0C0C0C0, 0xC0C0C0C0, 0x91919191},  // CURRENT in stage 0 is diffuse: 192*192/255=144.56
        {7, 2, 0, 0x80808080, 0x90909090, 0xFFFFFFFF},  // ADD saturates
        {7, 2, 0, 0x10203040, 0x01020304, 0x11223344},
        {5, 2, 0, 0x80808080, 0x40404040, 0x40404040},  // MODULATE2X
        {10, 2, 0, 0x10102030, 0x20204010, 0x10102000}, // SUBTRACT clamps at zero
        {2, 0x12, 0, 0x00000000, 0x10203040, 0xEFDFCFBF},  // COMPLEMENT texture
        {2, 0x22, 0, 0x00000000, 0x80203040, 0x80808080},  // ALPHAREPLICATE texture
        {13, 2, 0, 0x000000FF, 0x40FF0000, 0x104000BF},    // BLENDTEXTUREALPHA: 0.25 tex + 0.75 diffuse
    };
    for (const OpCase& k : cases) {
        Texture tex(1, 1, {k.texel});
        raster::DrawState s = Textured(&tex.view);
        s.stages[0].colorOp = s.stages[0].alphaOp = k.op;
        s.stages[0].colorArg1 = s.stages[0].alphaArg1 = k.arg1;
        s.stages[0].colorArg2 = s.stages[0].alphaArg2 = k.arg2;
        Canvas c(2, 2, PixelFormat::A8R8G8B8);
        ASSERT_TRUE(Draw(s, c, Quad(-0.5f, -0.5f, 1.5f, 1.5f, k.diffuse), 4, 2));
        EXPECT_EQ(c.At(1, 1), k.expected) << "op " << k.op << " arg1 " << std::hex << k.arg1 << " " << k.diffuse;
    }
}

TEST(RasterStages, SecondStageAndTextureFactor) {
    Texture tex(1, 1, {0xFF808080});
    raster::DrawState s = Textured(&tex.view);
    s.stages[0].colorOp = 4;  // texture * diffuse
    s.stages[1].colorOp = 4;  // current * tfactor
    s.stages[1].colorArg1 = 1;
    s.stages[1].colorArg2 = 3;
    s.stages[1].alphaOp = 2;
    s.stages[1].alphaArg1 = 3;
    s.textureFactor = 0x20FF8000;
    Canvas c(2, 2, PixelFormat::A8R8G8B8);
    ASSERT_TRUE(Draw(s, c, Quad(-0.5f, -0.5f, 1.5f, 1.5f, 0xFFFFFFFF), 4, 2));
    EXPECT_EQ(c.At(0, 0), 0x20804000u);
    s.stages[1].colorOp = 1;  // disabled again: stage 0 alone
    Canvas d(2, 2, PixelFormat::A8R8G8B8);
    ASSERT_TRUE(Draw(s, d, Quad(-0.5f, -0.5f, 1.5f, 1.5f, 0xFFFFFFFF), 4, 2));
    EXPECT_EQ(d.At(0, 0), 0xFF808080u);
}

struct BlendCase {
    std::uint32_t src, dst, op;
    std::uint32_t srcColor, dstColor, expected;
};

TEST(RasterBlend, FactorsAndOps) {
    const BlendCase cases[] = {
        {1, 2, 1, 0xFF102030, 0x80405060, 0x80405060},   // ZERO, ONE
        {2, 2, 1, 0x80C0C0C0, 0x80808080, 0xFFFFFFFF},   // ONE, ONE saturates
        {5, 6, 1, 0x80FF0000, 0xFF0000FF, 0xBF80007F},   // SRCALPHA, INVSRCALPHA: 255*128/255=128, 255*127/255=127
        {5, 2, 1, 0x40FF8000, 0x00101010, 0x10503010},   // SRCALPHA, ONE (additive): 255*64/255=64, 128*64/255=32.1
        {3, 1, 1, 0x80808080, 0x00000000, 0x40404040},   // SRCCOLOR: 128*128/255 = 64.25
        {4, 1, 1, 0x80808080, 0x00000000, 0x3F3F3F3F},   // INVSRCCOLOR: 128*127/255 = 63.75, rounded down
        {7, 1, 1, 0xFFFFFFFF, 0x40000000, 0x40404040},   // DESTALPHA
        {8, 1, 1, 0xFFFFFFFF, 0x40000000, 0xBFBFBFBF},   // INVDESTALPHA
        {9, 1, 1, 0xFF808080, 0x80404040, 0x80202020},   // DESTCOLOR: 128*64/255 = 32.1
        {10, 1, 1, 0xFFFFFFFF, 0x80404040, 0x7FBFBFBF},  // INVDESTCOLOR
        {1, 9, 1, 0xFFFFFFFF, 0x80808080, 0x40404040},   // dest * DESTCOLOR
        {2, 2, 2, 0x80808080, 0x40A04040, 0x40004040},   // SUBTRACT clamps
        {2, 2, 3, 0x80808080, 0x40A04040, 0x00200000},   // REVSUBTRACT
        {2, 2, 4, 0x80208080, 0x40A04040, 0x40204040},   // MIN
        {2, 2, 5, 0x80208080, 0x40A04040, 0x80A08080},   // MAX
        {12, 1, 1, 0x80FF0000, 0xFF0000FF, 0xBF80007F},  // BOTHSRCALPHA
    };
    for (const BlendCase& k : cases) {
        Canvas c(2, 2, PixelFormat::A8R8G8B8, k.dstColor);
        raster::DrawState s = Untextured();
        s.alphaBlendEnable = true;
        s.srcBlend = k.src;
        s.destBlend = k.dst;
        s.blendOp = k.op;
        ASSERT_TRUE(Draw(s, c, Quad(0, 0, 2, 2, k.srcColor), 4, 2));
        EXPECT_EQ(c.At(1, 1), k.expected) << k.src << "," << k.dst << " op " << k.op;
    }
}

TEST(RasterBlend, AlphaTestAndWriteMask) {
    raster::DrawState s = Untextured();
    s.alphaTestEnable = true;
    s.alphaFunc = 7;  // GREATEREQUAL
    s.alphaRef = 0x80;
    Canvas c(4, 1, PixelFormat::A8R8G8B8);
    std::vector<TLVertex> a = Quad(0, 0, 2, 1, 0x7FFFFFFF), b = Quad(2, 0, 4, 1, 0x80FFFFFF);
    a.insert(a.end(), b.begin(), b.end());
    ASSERT_TRUE(Draw(s, c, a, 4, 4));
    EXPECT_EQ(c.At(0, 0), 0u);
    EXPECT_EQ(c.At(3, 0), 0x80FFFFFFu);
    raster::DrawState m = Untextured();
    m.colorWriteEnable = 0x2;  // green only
    Canvas d(1, 1, PixelFormat::A8R8G8B8, 0x11223344);
    ASSERT_TRUE(Draw(m, d, Quad(0, 0, 1, 1, 0xFFAABBCC), 4, 2));
    EXPECT_EQ(d.At(0, 0), 0x1122BB44u);
}

TEST(RasterShading, FlatUsesFirstVertexGouraudInterpolates) {
    const std::vector<TLVertex> tri = {{-0.5f, -0.5f, 0, 1, 0xFF000000, 0, 0}, {8.5f, -0.5f, 0, 1, 0xFFFF0000, 0, 0},
                                       {-0.5f, 8.5f, 0, 1, 0xFF0000FF, 0, 0}};
    raster::DrawState s = Untextured();
    s.shadeMode = 1;
    Canvas flat(8, 8);
    ASSERT_TRUE(Draw(s, flat, tri, 4, 1));
    const std::uint32_t white = 0xFFFFFFFF;
    const std::vector<TLVertex> tri2 = {{-0.5f, -0.5f, 0, 1, 0xFF00FF00, 0, 0}, {8.5f, -0.5f, 0, 1, white, 0, 0},
                                        {-0.5f, 8.5f, 0, 1, white, 0, 0}};
    ASSERT_TRUE(Draw(s, flat, tri2, 4, 1));
    EXPECT_EQ(flat.At(3, 3), 0x00FF00u);
    EXPECT_EQ(flat.At(0, 0), 0x00FF00u);
    // A strip's flat colour comes from each triangle's first vertex.
    s.shadeMode = 2;
    Canvas smooth(8, 8);
    ASSERT_TRUE(Draw(s, smooth, tri, 4, 1));
    // (x + 0.5) / 9 of red along x, (y + 0.5) / 9 of blue along y
    EXPECT_EQ(smooth.At(0, 0), 0x00000Eu | 0x0E0000u);
    EXPECT_EQ(smooth.At(4, 0), 0x80000Eu);  // 127.5 rounds up
    EXPECT_EQ(smooth.At(0, 4), 0x0E0080u);
}

TEST(RasterShading, PerspectiveCorrectTexture) {
    Texture tex(2, 1, {0xFF000000, 0xFFFFFFFF});
    raster::DrawState s = Textured(&tex.view);
    s.stages[0].addressU = 3;
    Canvas c(16, 1);
    // The far right end (rhw 1/3) compresses the second texel into the last quarter.
    std::vector<TLVertex> v = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFF, 0, 0}, {15.5f, -0.5f, 0, 1.0f / 3, 0xFFFFFFFF, 1, 0},
                               {-0.5f, 0.5f, 0, 1, 0xFFFFFFFF, 0, 1},  {15.5f, 0.5f, 0, 1.0f / 3, 0xFFFFFFFF, 1, 1}};
    ASSERT_TRUE(Draw(s, c, v, 5, 2));
    int dark = 0;
    for (int x = 0; x < 16; ++x) dark += c.At(x, 0) == 0;
    EXPECT_EQ(dark, 12);  // u = 0.5 where (x+0.5)/16 = 0.75
}

TEST(RasterClipping, TransformedGeometryThroughTheCamera) {
    // Perspective projection: near plane 0, far 1000, 90 degrees, square.
    const float proj[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1000.0f / 1000.0f, 1, 0, 0, 0, 0};
    raster::DrawState s = Untextured();
    // Triangle from in front of the camera to behind it.
    const std::vector<LVertex> through = {{-1, -1, 2, 0xFFFF0000, 0, 0}, {1, -1, 2, 0xFFFF0000, 0, 0},
                                          {0, 3, -2, 0xFFFF0000, 0, 0}};
    Canvas c(16, 16);
    ASSERT_TRUE(Draw(s, c, through, 4, 1, proj));
    int drawn = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const std::uint32_t p = c.At(x, y);
            ASSERT_TRUE(p == 0 || p == 0xFF0000) << x << "," << y;
            drawn += p != 0;
        }
    }
    EXPECT_GT(drawn, 0);
    // The near edge sits on row 12; below it nothing may draw.
    for (int x = 0; x < 16; ++x) EXPECT_EQ(c.At(x, 13), 0u) << x;
    EXPECT_EQ(c.At(8, 11), 0xFF0000u);
    // Entirely behind the camera: nothing.
    const std::vector<LVertex> behind = {{-1, -1, -2, 0xFFFFFFFF, 0, 0}, {1, -1, -2, 0xFFFFFFFF, 0, 0},
                                         {0, 1, -3, 0xFFFFFFFF, 0, 0}};
    Canvas d(16, 16);
    ASSERT_TRUE(Draw(s, d, behind, 4, 1, proj));
    EXPECT_EQ(d.Mask(), Canvas(16, 16).Mask());
    // Exactly on w = 0 plus huge values: no crash, nothing outside the target.
    const std::vector<LVertex> pole = {{0, 0, 0, 0xFFFFFFFF, 0, 0}, {1e30f, 1, 1, 0xFFFFFFFF, 0, 0},
                                       {-1, 1e30f, 1, 0xFFFFFFFF, 0, 0}};
    ASSERT_TRUE(Draw(s, d, pole, 4, 1, proj));
}

// A vertex that transforms to infinity or NaN drops its triangle; the others still draw.
TEST(RasterClipping, NonFiniteTransformedVerticesDropTheirTriangle) {
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float bad[] = {std::nanf(""), std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    for (float f : bad) {
        for (int coordinate = 0; coordinate < 3; ++coordinate) {
            std::vector<LVertex> v = {{-1, 1, 0.5f, 0xFFFFFFFF, 0, 0}, {1, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                                      {-1, -1, 0.5f, 0xFFFFFFFF, 0, 0}};
            const std::vector<LVertex> good = v;
            (coordinate == 0 ? v[1].x : coordinate == 1 ? v[1].y : v[1].z) = f;
            v.insert(v.end(), good.begin(), good.end());
            v[5].x = v[4].x = 1;  // the second triangle: the upper right half
            v[5].y = -1;
            Canvas c(4, 4);
            ASSERT_TRUE(Draw(Untextured(), c, v, 4, 2, identity));
            EXPECT_EQ(c.Mask(), "####|.###|..##|...#") << f << " in coordinate " << coordinate;
        }
    }
}

TEST(RasterClipping, LitVerticesWithoutNormalAreBlack) {
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    raster::DrawState s = Untextured();
    s.lit = true;
    Canvas c(4, 4, PixelFormat::A8R8G8B8, 0x00FFFFFF);
    const std::vector<LVertex> v = {{-1, 1, 0.5f, 0x80FF0000, 0, 0}, {1, 1, 0.5f, 0x80FF0000, 0, 0},
                                    {-1, -1, 0.5f, 0x80FF0000, 0, 0}};
    ASSERT_TRUE(Draw(s, c, v, 4, 1, identity));
    EXPECT_EQ(c.At(0, 0), 0x80000000u);
}

TEST(RasterBounds, DrawsReadingPastTheBufferDrawNothing) {
    Canvas c(4, 4);
    const auto quad = Quad(0, 0, 4, 4, 0xFFFFFFFF);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(quad.data());
    const raster::Viewport vp{0, 0, 4, 4, 0, 1};
    struct Case {
        int type, start, count;
        std::size_t size;
        bool ok;
    } cases[] = {
        {4, 0, 2, quad.size() * sizeof(TLVertex), true},
        {4, 0, 3, quad.size() * sizeof(TLVertex), false},
        {4, 1, 2, quad.size() * sizeof(TLVertex), false},
        {4, 0, 2, quad.size() * sizeof(TLVertex) - 1, false},
        {5, 0, 5, quad.size() * sizeof(TLVertex), false},
        {4, 0, -1, quad.size() * sizeof(TLVertex), false},
        {9, 0, 1, quad.size() * sizeof(TLVertex), false},
        {4, 0x7FFFFFFF, 0x7FFFFFFF, quad.size() * sizeof(TLVertex), false},
    };
    for (const Case& k : cases) {
        Canvas t(4, 4);
        EXPECT_EQ(raster::DrawPrimitive(Untextured(), TLLayout(), bytes, k.size, k.type, k.start, k.count, nullptr,
                                        vp, t.View()),
                  k.ok)
            << k.type << " " << k.start << " " << k.count;
        if (!k.ok) {
            EXPECT_EQ(t.Mask(), Canvas(4, 4).Mask());
        }
    }
    // Indexed: an index past the vertices rejects the call.
    const std::uint16_t good[] = {0, 1, 2, 2, 1, 5}, bad[] = {0, 1, 2, 2, 1, 6};
    EXPECT_TRUE(raster::DrawIndexedPrimitive(Untextured(), TLLayout(), bytes, quad.size() * sizeof(TLVertex), 0,
                                             reinterpret_cast<const std::uint8_t*>(good), sizeof good, 2, 4, 0, 2,
                                             nullptr, vp, c.View()));
    Canvas t(4, 4);
    EXPECT_FALSE(raster::DrawIndexedPrimitive(Untextured(), TLLayout(), bytes, quad.size() * sizeof(TLVertex), 0,
                                              reinterpret_cast<const std::uint8_t*>(bad), sizeof bad, 2, 4, 0, 2,
                                              nullptr, vp, t.View()));
    EXPECT_EQ(t.Mask(), Canvas(4, 4).Mask());
    EXPECT_EQ(c.At(3, 3), 0xFFFFFFu);
}

TEST(RasterArithmetic, RoundedProductMatchesExactRounding) {
    for (std::uint32_t x = 0; x < 256; ++x) {
        for (std::uint32_t y = 0; y < 256; ++y) {
            const auto exact = static_cast<std::uint32_t>(std::lround(x * y / 255.0));
            ASSERT_EQ(raster::Mul255(x, y), exact) << x << "*" << y;
        }
    }
    for (std::uint32_t t = 0; t <= 4 * 255 * 255; ++t) {
        ASSERT_EQ(raster::Div255(t), static_cast<std::uint32_t>(std::lround(t / 255.0))) << t;
    }
}

TEST(RasterArithmetic, FloorDivisionIsExact) {
    const std::int64_t big = std::int64_t{1} << 52;
    const std::int64_t cases[][2] = {
        {0, 1}, {7, 2}, {-7, 2}, {-8, 2}, {-1, 16}, {15, 16}, {-16, 16}, {-17, 16},
        // Quotients a hair below an integer, and dividends past the double's exact range.
        {(std::int64_t{1} << 51) - 1, 1}, {3 * ((std::int64_t{1} << 49) + 1) - 1, (std::int64_t{1} << 49) + 1},
        {-(3 * ((std::int64_t{1} << 49) + 1) - 1), (std::int64_t{1} << 49) + 1},
        {(std::int64_t{1} << 50) * 3 - 1, 3}, {big - 1, 536870909}, {-(big - 1), 536870909},
        {big, 7}, {-big - 5, 7}, {std::numeric_limits<std::int64_t>::max(), 1 << 29},
        {std::numeric_limits<std::int64_t>::min() + 1, 1 << 29},
    };
    for (const auto& c : cases) {
        std::int64_t q = c[0] / c[1];
        if (c[0] % c[1] < 0) --q;
        EXPECT_EQ(raster::FloorDivide(c[0], c[1]), q) << c[0] << " / " << c[1];
    }
    std::mt19937_64 rng(3);
    for (int i = 0; i < 200000; ++i) {
        const std::int64_t a = static_cast<std::int64_t>(rng() >> 12) - (std::int64_t{1} << 51);
        const std::int64_t b = static_cast<std::int64_t>(rng() % (std::uint64_t{1} << (1 + i % 30))) + 1;
        std::int64_t q = a / b;
        if (a % b < 0) --q;
        ASSERT_EQ(raster::FloorDivide(a, b), q) << a << " / " << b;
    }
}

}  // namespace
}  // namespace raster_test
