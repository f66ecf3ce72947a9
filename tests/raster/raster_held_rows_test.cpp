// Under blends that only add to the target, the rows of a draw's particles may be drawn
// late and out of order: one call with thousands of overlapping quads must leave exactly
// the bytes of the same quads drawn one call each, for every blend (alpha blending must
// keep its order), with quads on either level of a mipmapped texture mixed in one call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

// Level 0 of 16 x 16 texels and level 1 of 8 x 8, random bytes.
struct Mipmapped {
    std::vector<std::uint32_t> top, half;
    raster::SurfaceView levels[2];
    raster::TextureView view;
    explicit Mipmapped(std::mt19937& rng) : top(16 * 16), half(8 * 8) {
        for (std::uint32_t& t : top) t = static_cast<std::uint32_t>(rng());
        for (std::uint32_t& t : half) t = static_cast<std::uint32_t>(rng());
        levels[0] = raster::SurfaceView{reinterpret_cast<std::uint8_t*>(top.data()), 16, 16, 64, PixelFormat::A8R8G8B8};
        levels[1] = raster::SurfaceView{reinterpret_cast<std::uint8_t*>(half.data()), 8, 8, 32, PixelFormat::A8R8G8B8};
        view = raster::TextureView{levels, 2, PixelFormat::A8R8G8B8};
    }
};

// A turned square of half-size h about (x, y), texture 0..1 across it.
std::vector<TLVertex> Turned(float x, float y, float h, float angle, std::uint32_t color) {
    const float s = h * std::sin(angle), k = h * std::cos(angle);
    const TLVertex a{x - k, y + s, 0, 1, color, 0, 0}, b{x + s, y + k, 0, 1, color, 1, 0};
    const TLVertex c{x - s, y - k, 0, 1, color, 0, 1}, d{x + k, y - s, 0, 1, color, 1, 1};
    return {a, b, c, b, c, d};
}

TEST(RasterHeldRows, OneCallDrawsWhatOneCallPerQuadDraws) {
    std::mt19937 rng(20261210);
    Mipmapped tex(rng);
    // Crowded into 120 x 90 pixels so that quads overlap many times over, far more groups
    // than a queue holds; small ones sample level 1, large ones level 0.
    std::uniform_real_distribution<float> x(20, 140), y(20, 110), turn(0, 6.2831853f), size(1.0f, 14.0f);
    std::vector<std::vector<TLVertex>> quads;
    for (int i = 0; i < 3000; ++i) {
        const std::uint32_t alpha = i % 11 == 0 ? 0u : static_cast<std::uint32_t>(rng() % 256);
        quads.push_back(Turned(x(rng), y(rng), size(rng), turn(rng), alpha << 24 | (rng() & 0xFFFFFF)));
    }
    std::vector<TLVertex> all;
    for (const auto& q : quads) all.insert(all.end(), q.begin(), q.end());

    struct Case {
        const char* name;
        std::uint32_t src, dst, mip, address;
    };
    const Case cases[] = {
        {"additive", 5, 2, 0, 1},       {"additive, mipmapped", 5, 2, 1, 1}, {"additive, clamped", 5, 2, 1, 3},
        {"one-one", 2, 2, 0, 1},        {"one-one, mipmapped", 2, 2, 1, 3},  {"alpha-blended", 5, 6, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        raster::DrawState s = ModulateTexture(tex.view, 2, c.address, true, c.src, c.dst);
        s.stages[0].mipFilter = c.mip;
        Canvas once(160, 130), each(160, 130);
        for (std::size_t i = 0; i < once.bytes.size(); ++i) once.bytes[i] = each.bytes[i] = static_cast<std::uint8_t>(rng() % 96);
        const std::vector<std::uint8_t> background = once.bytes;
        ASSERT_TRUE(Draw(s, once, all, 4, static_cast<int>(all.size() / 3)));
        for (const auto& q : quads) ASSERT_TRUE(Draw(s, each, q, 4, 2));
        EXPECT_NE(once.bytes, background);
        EXPECT_EQ(once.bytes, each.bytes);
    }
}

// Small quads go from their corners straight to the queue, larger ones through the general
// scan; the AVX2 rows scan every quad. Both must cover the same pixels: corners on pixel
// centres and on the sub-pixel grid (the tie rules), upright squares (horizontal edges), sizes
// either side of the small-quad limits, quads cut by the viewport, on a target whose settled
// runs must be cleared wherever a quad drew.
TEST(RasterHeldRows, QuadsQueuedFromTheirCornersCoverWhatTheScanCovers) {
    constexpr int kW = 400, kH = 300;
    std::mt19937 rng(121026);
    Mipmapped tex(rng);
    // Sparse and dark, so that no pixel saturates and every run's flag tells of its own quads.
    std::uniform_real_distribution<float> x(-10, kW + 10), y(-10, kH + 10), turn(0, 6.2831853f), unit(0, 1);
    std::uniform_int_distribution<int> grid(0, 15), kind(0, 3);
    std::vector<TLVertex> all;
    for (int i = 0; i < 600; ++i) {
        float cx = x(rng), cy = y(rng), h = 0.3f + 30 * std::pow(unit(rng), 3.0f), angle = turn(rng);
        const int k = kind(rng);
        if (k <= 1) {  // corners on the sub-pixel grid, upright ones with edges through pixel centres
            cx = std::floor(cx) + static_cast<float>(grid(rng)) / 16;
            cy = std::floor(cy) + static_cast<float>(grid(rng)) / 16;
            h = std::floor(h * 2) / 2 + static_cast<float>(grid(rng)) / 16;
            if (k == 0) angle = 0;
        } else if (k == 2) {
            h = 7.5f + static_cast<float>(grid(rng)) / 16;  // 16 or 17 rows
        }
        const auto q = Turned(cx, cy, h, angle, 0x40000000u | (rng() & 0x3F3F3F));
        all.insert(all.end(), q.begin(), q.end());
    }
    for (std::uint32_t address : {1u, 3u}) {
        SCOPED_TRACE(address == 1 ? "wrapped" : "clamped");
        const raster::DrawState s = ModulateTexture(tex.view, 2, address, true, 5, 2);
        Canvas wide(kW, kH), narrow(kW, kH);
        for (std::size_t i = 0; i < wide.bytes.size(); ++i) wide.bytes[i] = narrow.bytes[i] = static_cast<std::uint8_t>(rng() % 64);
        TrackedView first(wide), second(narrow);
        TrackedView* tracked[2] = {&first, &second};
        const raster::Viewport clip{3, 5, kW - 10, kH - 12, 0, 1};
        auto draw = [&](int k) {
            return raster::DrawPrimitive(s, TLLayout(), reinterpret_cast<const std::uint8_t*>(all.data()),
                                         all.size() * sizeof(TLVertex), 4, 0, static_cast<int>(all.size() / 3), nullptr,
                                         clip, tracked[k]->view);
        };
        ASSERT_TRUE(draw(0));
        {
            const SimdLimit limit(raster::SimdLevel::kAvx2);
            ASSERT_TRUE(draw(1));
        }
        EXPECT_EQ(wide.bytes, narrow.bytes);
        EXPECT_EQ(first.flags, second.flags);
        EXPECT_GT(std::count(first.flags.begin(), first.flags.end(), raster::SettledRuns::kShown), 100);
    }
}

}  // namespace
}  // namespace raster_test
