// Textured particles skip the pixels that their texture alpha and colour leave as they were.
// Skipping must never change a byte of the target: a texture whose version is unknown is
// drawn without it, and both must agree exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

constexpr int kAtlas = 64, kCell = 32;

// Four cells: a soft disc, a faint wide disc, a cross whose arms reach the cell's edges (its
// neighbours sample them), and noise with holes.
struct Atlas {
    std::vector<std::uint32_t> texels = std::vector<std::uint32_t>(kAtlas * kAtlas);
    raster::SurfaceView level{reinterpret_cast<std::uint8_t*>(texels.data()), kAtlas, kAtlas, kAtlas * 4,
                              PixelFormat::A8R8G8B8};
    raster::TextureView known{&level, 1, PixelFormat::A8R8G8B8, raster::NewTextureVersion()};
    raster::TextureView unknown{&level, 1, PixelFormat::A8R8G8B8, 0};
    Atlas() {
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> noise(0, 255);
        for (int y = 0; y < kAtlas; ++y) {
            for (int x = 0; x < kAtlas; ++x) {
                const int cell = (y / kCell) * 2 + x / kCell;
                const float u = (x % kCell + 0.5f) / kCell * 2 - 1, v = (y % kCell + 0.5f) / kCell * 2 - 1;
                const float r = std::sqrt(u * u + v * v);
                float a = 0;
                if (cell == 0) a = 255 * std::exp(-r * r / 0.09f);
                if (cell == 1) a = r < 0.9f ? 12 * (1 - r) : 0;
                if (cell == 2) a = (std::fabs(u) < 0.1f || std::fabs(v) < 0.1f) ? 200 : 0;
                if (cell == 3) a = noise(rng) < 90 ? 0 : noise(rng);
                const std::uint32_t rgb = static_cast<std::uint32_t>(noise(rng)) * 0x010101u | 0x404040u;
                texels[static_cast<std::size_t>(y * kAtlas + x)] = static_cast<std::uint32_t>(a) << 24 | rgb;
            }
        }
    }
};

// The two list triangles of a quad of half-size Half turned by Angle, as the particle layer
// writes them, mapping one cell.
void AppendParticle(std::vector<TLVertex>& out, float cx, float cy, float half, float angle, std::uint32_t color,
                    int cell) {
    const float u0 = (cell % 2) * 0.5f, v0 = (cell / 2) * 0.5f, size = 0.5f;
    const float a = half * std::sin(angle) * 1.41421356f, b = half * std::cos(angle) * 1.41421356f;
    const TLVertex p0{cx - b, cy + a, 0.5f, 1, color, u0, v0}, p1{cx + a, cy + b, 0.5f, 1, color, u0 + size, v0};
    const TLVertex p2{cx - a, cy - b, 0.5f, 1, color, u0, v0 + size};
    const TLVertex p3{cx + b, cy - a, 0.5f, 1, color, u0 + size, v0 + size};
    out.insert(out.end(), {p0, p1, p2, p1, p2, p3});
}

// Source alpha over ONE (additive) or INVSRCALPHA.
raster::DrawState Particles(const raster::TextureView& tex, std::uint32_t filter, std::uint32_t address,
                            std::uint32_t destBlend) {
    return ModulateTexture(tex, filter, address, true, 5, destBlend);
}

// Dim and faint colours are the ones whose edges are cut most; bright ones keep almost all.
std::uint32_t ParticleColor(std::mt19937& rng) {
    std::uniform_int_distribution<std::uint32_t> any, low(0, 40);
    switch (rng() % 4) {
    case 0: return any(rng);
    case 1: return low(rng) << 24 | (any(rng) & 0xFFFFFF);
    case 2: return any(rng) & 0xFF1F1F1F;
    default: return 0xFF000000u | (any(rng) & 0xFFFFFF);
    }
}

TEST(RasterRowWindow, CutsOnlyPixelsThatStayAsTheyWere) {
    const Atlas atlas;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> where(-10, 110), turn(0, 6.2831853f), size(0.3f, 40);
    std::uniform_int_distribution<std::uint32_t> any;
    const raster::SimdLevel levels[] = {raster::SimdLevel::kAvx512, raster::SimdLevel::kAvx2};
    int compared = 0;
    for (raster::SimdLevel level : levels) {
        const SimdLimit limit(level);
        for (std::uint32_t destBlend : {2u, 6u}) {  // additive, alpha-blended
            for (std::uint32_t filter : {1u, 2u}) {
                for (std::uint32_t address : {1u, 2u, 3u}) {
                    std::vector<TLVertex> quads;
                    for (int i = 0; i < 120; ++i) {
                        AppendParticle(quads, where(rng), where(rng), size(rng), turn(rng), ParticleColor(rng),
                                       static_cast<int>(rng() % 4));
                    }
                    Canvas cut(100, 100, PixelFormat::A8R8G8B8), whole(100, 100, PixelFormat::A8R8G8B8);
                    for (std::size_t p = 0; p < cut.bytes.size(); ++p) cut.bytes[p] = whole.bytes[p] = static_cast<std::uint8_t>(any(rng) & 0x7F);
                    const int count = static_cast<int>(quads.size() / 3);
                    ASSERT_TRUE(Draw(Particles(atlas.known, filter, address, destBlend), cut, quads, 4, count));
                    ASSERT_TRUE(Draw(Particles(atlas.unknown, filter, address, destBlend), whole, quads, 4, count));
                    ASSERT_EQ(cut.bytes, whole.bytes) << "blend " << destBlend << " filter " << filter << " address "
                                                      << address << " level " << static_cast<int>(level);
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 2 * 2 * 2 * 3);
}

// Rows the window leaves out are not written at all: a presenter that kept them need not copy
// them again, and a particle too faint to show anywhere writes nothing.
TEST(RasterRowWindow, RowsOutsideTheTexelsThatShowAreNotWritten) {
    const Atlas atlas;
    struct Case {
        const char* name;
        std::uint32_t color;
        bool anyWritten;
    };
    const Case cases[] = {
        {"bright disc", 0xFFFFFFFF, true},
        {"faint disc", 0x01101010, false},  // alpha 1 of a dim colour adds nothing anywhere
    };
    for (const Case& c : cases) {
        constexpr int kSide = 128;
        Canvas target(kSide, kSide);
        std::vector<std::uint8_t> flags(static_cast<std::size_t>(2 * kSide), raster::SettledRuns::kShown);
        raster::SettledRuns runs;
        runs.flags = flags.data();
        runs.perRow = 2;
        runs.rows = kSide;
        raster::SurfaceView view = target.View();
        view.settled = &runs;
        // The soft disc's alpha is near zero beyond 0.6 of the cell's half: a quad filling the
        // target leaves its top and bottom rows untouched.
        const std::vector<TLVertex> quad = Quad(0, 0, kSide, kSide, c.color, 0, 0, 0.5f, 0.5f);
        ASSERT_TRUE(raster::DrawPrimitive(Particles(atlas.known, 2, 3, 2), TLLayout(),
                                          reinterpret_cast<const std::uint8_t*>(quad.data()), quad.size() * sizeof(TLVertex),
                                          4, 0, 2, nullptr, raster::Viewport{0, 0, kSide, kSide, 0, 1}, view));
        int untouchedTop = 0;
        while (untouchedTop < kSide && flags[static_cast<std::size_t>(2 * untouchedTop)] == raster::SettledRuns::kShown) ++untouchedTop;
        if (c.anyWritten) {
            EXPECT_GT(untouchedTop, 8) << c.name;
            EXPECT_LT(untouchedTop, kSide / 2) << c.name;
            EXPECT_NE(target.At(kSide / 2, kSide / 2), 0u) << c.name;
        } else {
            EXPECT_EQ(untouchedTop, kSide) << c.name;
        }
    }
}

}  // namespace
}  // namespace raster_test
