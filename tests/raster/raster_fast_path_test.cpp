// The specialised span routines must draw what the general pipeline draws.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/d3d8/raster/format_bridge.h"
#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

struct Variant {
    std::uint32_t colorOp, colorArg1, alphaOp, alphaArg1;
    std::uint32_t src, dst;  // 0: no blending
};

int MaxChannelDifference(std::uint32_t a, std::uint32_t b) {
    int worst = 0;
    for (int s = 0; s < 32; s += 8) worst = std::max(worst, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
    return worst;
}

// Draws V on Fast through its specialised span routine and on General through the general
// pipeline (an alpha test that passes everything forces it).
template <class V>
void DrawBothWays(const raster::DrawState& s, Canvas& fast, Canvas& general, const std::vector<V>& v, int count) {
    ASSERT_NE(std::string(raster::SpanRoutineName(s, TLLayout(), fast.View())), "general");
    ASSERT_TRUE(Draw(s, fast, v, 4, count));
    raster::DrawState slow = s;
    slow.alphaTestEnable = true;
    slow.alphaFunc = 7;
    ASSERT_TRUE(Draw(slow, general, v, 4, count));
}

TEST(RasterFastPath, MatchesGeneralPipeline) {
    const Variant variants[] = {
        {4, 2, 4, 2, 5, 2},  // additive particles
        {4, 2, 4, 2, 5, 6},  // alpha-blended particles
        {2, 2, 2, 2, 5, 6},  // textured tiles
        {2, 2, 4, 2, 0, 0},
        {4, 2, 3, 2, 2, 2},  // alpha from diffuse, one-one
        {3, 2, 2, 2, 5, 6},  // colour from diffuse, alpha from texture
    };
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> pos(-8, 72), uv(-1.5f, 2.5f), rhw(0.2f, 2.0f);
    std::uniform_int_distribution<std::uint32_t> any;
    std::vector<std::uint32_t> texels(16 * 8);
    for (std::uint32_t& t : texels) t = any(rng);
    int checked = 0;
    for (const Variant& v : variants) {
        for (std::uint32_t filter : {1u, 2u}) {
            for (std::uint32_t address : {1u, 2u, 3u}) {
                // 16-bit textures reach the fast path through their 32-bit copy, 16-bit targets
                // through the mirror; both must still give the general path's pixels.
                for (PixelFormat texFormat : {PixelFormat::A8R8G8B8, PixelFormat::X8R8G8B8, PixelFormat::A4R4G4B4}) {
                    for (int shape = 0; shape < 12; ++shape) {
                        const int pitch = 16 * raster::BytesPerPixel(texFormat);
                        raster::SurfaceView level{reinterpret_cast<std::uint8_t*>(texels.data()), 16, 8, pitch, texFormat};
                        raster::TextureView tex{&level, 1, texFormat};
                        raster::ExpandedTexture expanded;
                        const raster::TextureView& fastTex = expanded.Refresh(tex);
                        raster::DrawState s;
                        s.cullMode = 1;
                        s.shadeMode = shape % 3 == 0 ? 1 : 2;
                        raster::StageState& st = s.stages[0];
                        st.texture = &fastTex;
                        st.colorOp = v.colorOp;
                        st.colorArg1 = v.colorArg1;
                        st.colorArg2 = 0;
                        st.alphaOp = v.alphaOp;
                        st.alphaArg1 = v.alphaArg1;
                        st.alphaArg2 = 0;
                        st.minFilter = st.magFilter = filter;
                        st.addressU = st.addressV = address;
                        s.alphaBlendEnable = v.src != 0;
                        s.srcBlend = v.src ? v.src : 2;
                        s.destBlend = v.dst ? v.dst : 1;
                        std::vector<TLVertex> tri(3);
                        const bool perspective = shape % 6 >= 3;
                        for (TLVertex& p : tri) {
                            p = TLVertex{pos(rng), pos(rng), 0.5f, perspective ? rhw(rng) : 1.0f, any(rng), uv(rng), uv(rng)};
                        }
                        const bool sixteen = shape >= 6;
                        const PixelFormat targetFormat = sixteen     ? (shape & 1 ? PixelFormat::A1R5G5B5 : PixelFormat::R5G6B5)
                                                         : shape & 1 ? PixelFormat::A8R8G8B8
                                                                     : PixelFormat::X8R8G8B8;
                        Canvas fast(64, 64, targetFormat, 0), general(64, 64, targetFormat, 0);
                        for (std::size_t i = 0; i < fast.bytes.size(); ++i) fast.bytes[i] = static_cast<std::uint8_t>(any(rng));
                        general.bytes = fast.bytes;
                        ASSERT_NE(std::string(raster::SpanRoutineName(s, TLLayout(), fast.View())), "general");
                        ASSERT_TRUE(Draw(s, fast, tri, 4, 1));
                        raster::DrawState slow = s;
                        slow.alphaTestEnable = true;  // passes everything, but only the general path tests
                        slow.alphaFunc = 7;
                        slow.alphaRef = 0;
                        slow.stages[0].texture = &tex;
                        ASSERT_EQ(std::string(raster::SpanRoutineName(slow, TLLayout(), general.View())), "general");
                        ASSERT_TRUE(Draw(slow, general, tri, 4, 1));
                        // Bilinear weights are 6-bit in the fast path and 8-bit in the general one; a
                        // blended alpha compounds the difference.
                        // A 5-bit channel turns that into at most one level apart.
                        const int tolerance = filter == 2 ? (sixteen ? 9 : 6) : 0;
                        // One alpha bit flips on any difference across its threshold.
                        const bool keepAlpha = raster::HasAlpha(targetFormat) && (tolerance == 0 || !sixteen);
                        const std::uint32_t alphaMask = keepAlpha ? 0xFFFFFFFF : 0xFFFFFF;
                        for (int y = 0; y < 64; ++y) {
                            for (int x = 0; x < 64; ++x) {
                                const std::uint32_t a = fast.At(x, y) & alphaMask, b = general.At(x, y) & alphaMask;
                                ASSERT_LE(MaxChannelDifference(a, b), tolerance)
                                    << "variant " << v.colorOp << "/" << v.alphaOp << "/" << v.src << "," << v.dst
                                    << " filter " << filter << " address " << address << " shape " << shape << " at "
                                    << x << "," << y << std::hex << " fast " << a << " general " << b;
                            }
                        }
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 6 * 2 * 3 * 3 * 12);
}

// One level of random A8R8G8B8 texels.
struct NoiseTexture {
    std::vector<std::uint32_t> texels;
    raster::SurfaceView level;
    raster::TextureView view;
    NoiseTexture(std::mt19937& rng, int width, int height) : texels(static_cast<std::size_t>(width * height)) {
        std::uniform_int_distribution<std::uint32_t> any;
        for (std::uint32_t& t : texels) t = any(rng);
        level = raster::SurfaceView{reinterpret_cast<std::uint8_t*>(texels.data()), width, height, width * 4,
                                    PixelFormat::A8R8G8B8};
        view = raster::TextureView{&level, 1, PixelFormat::A8R8G8B8};
    }
    NoiseTexture(const NoiseTexture&) = delete;
    NoiseTexture& operator=(const NoiseTexture&) = delete;
};

// Texture times diffuse, bilinear, the given address mode on both axes and blend.
raster::DrawState BilinearModulate(const raster::TextureView& tex, std::uint32_t address, bool blend,
                                   std::uint32_t src, std::uint32_t dst) {
    return ModulateTexture(tex, 2, address, blend, src, dst);
}

// Rows whose every bilinear footprint lies inside the texture skip addressing; triangles that
// reach just past the edges mix such rows with rows that need every address mode.
TEST(RasterFastPath, RowsInsideTheTextureMatchGeneralPipeline) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> pos(-4, 100), uv(-0.08f, 1.08f);
    std::uniform_int_distribution<std::uint32_t> any;
    const NoiseTexture noise(rng, 64, 32);
    const raster::TextureView& tex = noise.view;
    for (std::uint32_t address : {1u, 2u, 3u}) {
        for (int trial = 0; trial < 40; ++trial) {
            const raster::DrawState s = BilinearModulate(tex, address, true, 5, 2);
            std::vector<TLVertex> tri(3);
            for (TLVertex& p : tri) p = TLVertex{pos(rng), pos(rng), 0.5f, 1.0f, 0xFFFFFFFFu, uv(rng), uv(rng)};
            Canvas fast(96, 96, PixelFormat::X8R8G8B8, 0x101010), general(96, 96, PixelFormat::X8R8G8B8, 0x101010);
            DrawBothWays(s, fast, general, tri, 1);
            ASSERT_FALSE(HasFatalFailure());
            for (int y = 0; y < 96; ++y) {
                for (int x = 0; x < 96; ++x) {
                    ASSERT_LE(MaxChannelDifference(fast.At(x, y), general.At(x, y)), 6)
                        << "address " << address << " trial " << trial << " at " << x << "," << y;
                }
            }
        }
    }
}

// The two list triangles of a quad of half-size Half turned by Angle, written as the particle
// layer writes them, mapping the texture square (u0, v0) + Size.
void AppendParticle(std::vector<TLVertex>& out, float cx, float cy, float half, float angle, std::uint32_t color,
                    float u0, float v0, float size) {
    const float a = half * std::sin(angle) * 1.41421356f, b = half * std::cos(angle) * 1.41421356f;
    const TLVertex p0{cx - b, cy + a, 0.5f, 1, color, u0, v0}, p1{cx + a, cy + b, 0.5f, 1, color, u0 + size, v0};
    const TLVertex p2{cx - a, cy - b, 0.5f, 1, color, u0, v0 + size};
    const TLVertex p3{cx + b, cy - a, 0.5f, 1, color, u0 + size, v0 + size};
    out.insert(out.end(), {p0, p1, p2, p1, p2, p3});
}

// A texture whose neighbouring texels differ by a few levels, so that a sub-pixel shift of
// the sampling shows as at most a level or two.
struct SmoothTexture {
    std::vector<std::uint32_t> texels = std::vector<std::uint32_t>(32 * 32);
    raster::SurfaceView level{reinterpret_cast<std::uint8_t*>(texels.data()), 32, 32, 128, PixelFormat::A8R8G8B8};
    raster::TextureView view{&level, 1, PixelFormat::A8R8G8B8};
    SmoothTexture() {
        for (std::uint32_t y = 0; y < 32; ++y) {
            for (std::uint32_t x = 0; x < 32; ++x) texels[y * 32 + x] = 0xFF000000u | x * 8 << 16 | y * 8 << 8 | (x + y) * 4;
        }
    }
};

// Two list triangles forming a parallelogram are drawn as one quad, with the attribute planes
// of the first triangle; coverage stays exactly that of the two triangles, and the colours
// within what the snapping of the corners can move. A fourth vertex off those planes keeps
// the triangles apart, drawing exactly what two separate draws do.
TEST(RasterFastPath, MergedParticleQuadsMatchTheirTriangles) {
    const SmoothTexture smooth;
    const raster::DrawState s = BilinearModulate(smooth.view, 3, true, 5, 2);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> where(20, 44), turn(0, 6.2831853f), size(3, 17);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<TLVertex> quad;
        AppendParticle(quad, where(rng), where(rng), size(rng), turn(rng), 0xC0FFFFFF, 0.1f, 0.15f, 0.7f);
        const bool offPlane = trial % 3 == 2;
        if (offPlane) quad[5].u += 0.05f;
        if (trial % 5 == 4) {  // seen in perspective: rhw varies across the quad, still one plane
            // u * rhw and rhw must stay affine on the screen, as a projected plane's are.
            for (TLVertex& p : quad) {
                p.rhw = 1.0f - 0.008f * p.x;
                p.u *= 0.55f / p.rhw;
                p.v *= 0.55f / p.rhw;
            }
        }
        Canvas merged(64, 64), single(64, 64);
        ASSERT_TRUE(Draw(s, merged, quad, 4, 2));
        ASSERT_TRUE(Draw(s, single, std::vector<TLVertex>(quad.begin(), quad.begin() + 3), 4, 1));
        ASSERT_TRUE(Draw(s, single, std::vector<TLVertex>(quad.begin() + 3, quad.end()), 4, 1));
        ASSERT_EQ(merged.Mask(), single.Mask()) << "trial " << trial;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const int diff = MaxChannelDifference(merged.At(x, y), single.At(x, y));
                if (offPlane) {
                    ASSERT_EQ(diff, 0) << "trial " << trial << " at " << x << "," << y;
                } else {
                    ASSERT_LE(diff, 2) << "trial " << trial << " at " << x << "," << y;
                }
            }
        }
    }
}

// Restores the widest instruction set when a test that narrowed it ends.
// Each instruction-set variant must give the same bytes: stored reference pictures depend on it.
TEST(RasterFastPath, InstructionSetVariantsDrawIdentically) {
    std::mt19937 rng(91);
    std::uniform_real_distribution<float> pos(-6, 140), uv(-0.1f, 1.1f);
    std::uniform_int_distribution<std::uint32_t> any;
    const NoiseTexture noise(rng, 128, 64);
    const raster::TextureView& tex = noise.view;
    struct Blend {
        bool enable;
        std::uint32_t src, dst;
    };
    const Blend blends[] = {{false, 2, 1}, {true, 5, 6}, {true, 5, 2}, {true, 2, 2}};
    int drawn = 0;
    for (const Blend& b : blends) {
        for (std::uint32_t address : {1u, 2u, 3u}) {
            for (bool gouraud : {false, true}) {
                const raster::DrawState s = BilinearModulate(tex, address, b.enable, b.src, b.dst);
                std::vector<TLVertex> tris(3 * 12);
                const std::uint32_t flat = any(rng);
                for (TLVertex& p : tris) {
                    p = TLVertex{pos(rng), pos(rng), 0.5f, 1.0f, gouraud ? any(rng) : flat, uv(rng), uv(rng)};
                }
                // Particle quads of many sizes: short rows of several primitives in one draw,
                // rows past the longest the group queue takes, and quads reaching off the texture.
                for (float half : {1.5f, 4.0f, 11.0f, 23.0f, 50.0f}) {
                    const std::uint32_t color = gouraud ? any(rng) : flat;
                    AppendParticle(tris, pos(rng), pos(rng), half, uv(rng) * 6.3f, color, uv(rng) * 0.7f, uv(rng) * 0.7f, 0.35f);
                }
                const int count = static_cast<int>(tris.size() / 3);
                Canvas wide(137, 131, PixelFormat::X8R8G8B8, 0), narrow(137, 131, PixelFormat::X8R8G8B8, 0);
                for (std::size_t i = 0; i < wide.bytes.size(); ++i) wide.bytes[i] = static_cast<std::uint8_t>(any(rng));
                narrow.bytes = wide.bytes;
                ASSERT_TRUE(Draw(s, wide, tris, 4, count));
                {
                    const SimdLimit limit(raster::SimdLevel::kAvx2);
                    ASSERT_TRUE(Draw(s, narrow, tris, 4, count));
                }
                for (int y = 0; y < wide.height; ++y) {
                    for (int x = 0; x < wide.width; ++x) {
                        ASSERT_EQ(wide.At(x, y), narrow.At(x, y))
                            << "blend " << b.src << "/" << b.dst << " address " << address
                            << (gouraud ? " gouraud" : " flat") << " at " << x << "," << y;
                    }
                }
                ++drawn;
            }
        }
    }
    EXPECT_EQ(drawn, 4 * 3 * 2);
}

TEST(RasterFastPath, FlatColourRectanglesMatchGeneralPipeline) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<std::uint32_t> any;
    const std::uint32_t blends[][2] = {{0, 0}, {5, 6}, {5, 2}, {2, 2}};
    for (const auto& b : blends) {
        for (int trial = 0; trial < 8; ++trial) {
            raster::DrawState s;
            s.cullMode = 1;
            s.shadeMode = 1;
            s.alphaBlendEnable = b[0] != 0;
            s.srcBlend = b[0] ? b[0] : 2;
            s.destBlend = b[1] ? b[1] : 1;
            Canvas fast(37, 5, PixelFormat::A8R8G8B8), general(37, 5, PixelFormat::A8R8G8B8);
            for (int i = 0; i < 37 * 5; ++i) {
                const std::uint32_t c = any(rng);
                std::memcpy(&fast.bytes[i * 4], &c, 4);
                std::memcpy(&general.bytes[i * 4], &c, 4);
            }
            const auto quad = Quad(0.3f, 0, 36.6f, 5, any(rng));
            DrawBothWays(s, fast, general, quad, 2);
            ASSERT_FALSE(HasFatalFailure());
            EXPECT_EQ(fast.bytes, general.bytes) << b[0] << "," << b[1] << " trial " << trial;
        }
    }
}


// The saver's trails fade under a faint black overlay every frame; rounding the blend to
// nearest would stall them at a grey level for ever.
TEST(RasterFastPath, RepeatedFaintFadeReachesBlack) {
    struct Case {
        std::uint32_t start;
        bool general;
    };
    const Case cases[] = {{0x070707, false}, {0x070707, true}, {0x08FF40, false}, {0x08FF40, true},
                          {0xFFFFFF, false}, {0xFFFFFF, true}};
    for (const Case& c : cases) {
        raster::DrawState s;
        s.cullMode = 1;
        s.shadeMode = 1;
        s.alphaBlendEnable = true;
        s.srcBlend = 5;   // SRCALPHA
        s.destBlend = 6;  // INVSRCALPHA
        if (c.general) {
            s.alphaTestEnable = true;
            s.alphaFunc = 7;
        }
        Canvas canvas(19, 3, PixelFormat::X8R8G8B8, c.start);
        const auto quad = Quad(0, 0, 19, 3, 0x10000000u);
        ASSERT_EQ(std::string(raster::SpanRoutineName(s, TLLayout(), canvas.View())) == "general", c.general);
        for (int pass = 0; pass < 300; ++pass) ASSERT_TRUE(Draw(s, canvas, quad, 4, 2));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 19; ++x)
                EXPECT_EQ(canvas.At(x, y), 0u) << std::hex << c.start << (c.general ? " general" : " fast") << " at "
                                               << x << "," << y;
    }
}

}  // namespace
}  // namespace raster_test
