// A particle draw's quads are transformed and set up sixteen at a time when their rows may
// wait in the held queue; the AVX2 rows never do that and set up every quad alone. Both must
// leave the same bytes and settled runs for every kind of quad a list can hold: small turned
// ones of every winding, ones clear in one or both triangles, ones of several colours, ones
// whose triangles share no corners, large ones, ones cut by the viewport or behind the eye,
// degenerate and non-numeric ones, in lists whose length leaves a partial block and an odd
// triangle; with the rows cut to where a glow texture can add anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

constexpr int kW = 320, kH = 240;

// Six list vertices of a square of half-size h turned by angle about (x, y): (a, b, c) then
// (b, c, d), as the particle layer writes them; mirrored swaps the winding.
std::vector<LVertex> Particle(float x, float y, float z, float h, float angle, std::uint32_t color, bool mirrored) {
    const float s = h * std::sin(angle), k = h * std::cos(angle);
    LVertex a{x - k, y + s, z, color, 0, 0}, b{x + s, y + k, z, color, 1, 0};
    LVertex c{x - s, y - k, z, color, 0, 1}, d{x + k, y - s, z, color, 1, 1};
    if (mirrored) std::swap(b, c);
    return {a, b, c, b, c, d};
}

std::vector<LVertex> Quads(std::mt19937& rng) {
    std::uniform_real_distribution<float> x(-20, kW + 20), y(-20, kH + 20), turn(0, 6.2831853f), unit(0, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<LVertex> all;
    for (int i = 0; i < 1500; ++i) {
        const std::uint32_t color = 0x30000000u | (static_cast<std::uint32_t>(rng()) & 0x3F3F3F);
        const float h = 0.2f + 12 * std::pow(unit(rng), 3.0f);
        auto q = Particle(x(rng), y(rng), 0.5f, h, turn(rng), color, i % 5 == 0);
        switch (i % 23) {
        case 1: q[0].diffuse = q[1].diffuse = q[2].diffuse = 0; break;  // first triangle clear
        case 2:
            for (LVertex& v : q) v.diffuse = 0;  // dead: both clear
            break;
        case 3: q[5].diffuse ^= 0x00010000; break;  // a corner of its own colour
        case 4: q[3].x += 0.25f; break;  // the second triangle keeps no corner of the first
        case 5:
            for (LVertex& v : q) v.x = q[0].x + (v.x - q[0].x) * 9;  // beyond the small quads
            break;
        case 6: q[2].z = q[4].z = -1; break;  // behind the eye: clipped
        case 7:
            for (LVertex& v : q) v.x = v.y = 100.25f;  // a point
            break;
        case 8: q[5].y = nan; break;
        case 9: q[5].x += 3; break;  // d off the planes through a, b and c
        case 10: std::swap(q[4], q[5]); break;  // the second triangle's corners in another order
        case 11:  // d inside (a, b, c), on its planes: not convex
            q[5].x = q[0].x + (q[1].x - q[0].x) * 0.3f + (q[2].x - q[0].x) * 0.3f;
            q[5].y = q[0].y + (q[1].y - q[0].y) * 0.3f + (q[2].y - q[0].y) * 0.3f;
            q[5].u = q[0].u + (q[1].u - q[0].u) * 0.3f + (q[2].u - q[0].u) * 0.3f;
            q[5].v = q[0].v + (q[1].v - q[0].v) * 0.3f + (q[2].v - q[0].v) * 0.3f;
            break;
        case 12: {  // d farther away but at the same place on the screen, under the deep matrix
            const float w = 1.25f;
            q[5].x = kW / 2.0f * (1 + w * (2 * q[5].x / kW - 1));
            q[5].y = kH / 2.0f * (1 - w * (1 - 2 * q[5].y / kH));
            q[5].z = w - 0.5f;
            break;
        }
        default: break;
        }
        if (i == 13 || i == 404) {  // far too large for 32-bit areas
            const LVertex a = q[0];
            for (LVertex& v : q) {
                v.x = a.x + (v.x - a.x) * 3000;
                v.y = a.y + (v.y - a.y) * 3000;
            }
        }
        all.insert(all.end(), q.begin(), q.end());
    }
    all.resize(all.size() - 3);  // an odd triangle at the end
    return all;
}

TEST(RasterQuadBlock, QuadsSetUpSixteenAtATimeDrawAsEachAlone) {
    std::mt19937 rng(20261210);
    const std::vector<LVertex> all = Quads(rng);
    // A glow: alpha falls off from the middle, so that most quads' rows are cut to a window.
    Texture tex(16, 16, {});
    for (int j = 0; j < 16; ++j) {
        for (int i = 0; i < 16; ++i) {
            const float r = std::hypot(static_cast<float>(i) - 7.5f, static_cast<float>(j) - 7.5f);
            const auto alpha = static_cast<std::uint32_t>(std::clamp(255.0f - 36.0f * r, 0.0f, 255.0f));
            tex.texels[static_cast<std::size_t>(16 * j + i)] = alpha << 24 | (static_cast<std::uint32_t>(rng()) & 0xFFFFFF);
        }
    }
    tex.view.version = raster::NewTextureVersion();  // what is learnt of its texels may be kept
    // Pixels straight through; the same with w = z + 0.5, 1 for all but some corners d; and a
    // perspective whose w varies across every quad.
    const float flat[16] = {2.0f / kW, 0, 0, 0, 0, -2.0f / kH, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
    const float deep[16] = {2.0f / kW, 0, 0, 0, 0, -2.0f / kH, 0, 0, 0, 0, 1, 1, -1, 1, 0, 0.5f};
    const float tilted[16] = {2.0f / kW, 0, 0, 0.001f, 0, -2.0f / kH, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
    struct Case {
        const char* name;
        const float* wvp;
        std::uint32_t cull, address, filter, shade;
    };
    const Case cases[] = {
        {"no culling", flat, 1, 1, 2, 2},  {"no culling, deep", deep, 1, 3, 2, 2},  {"clockwise culled", flat, 2, 3, 2, 2},
        {"counter-clockwise culled", deep, 3, 1, 2, 2}, {"flat shaded", flat, 1, 3, 2, 1},
        {"point sampled", flat, 1, 1, 1, 2}, {"perspective", tilted, 1, 1, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        raster::DrawState s = ModulateTexture(tex.view, c.filter, c.address, true, 5, 2);
        s.cullMode = c.cull;
        s.shadeMode = c.shade;
        Canvas blocks(kW, kH), alone(kW, kH);
        for (std::size_t i = 0; i < blocks.bytes.size(); ++i) blocks.bytes[i] = alone.bytes[i] = static_cast<std::uint8_t>(rng() % 64);
        const std::vector<std::uint8_t> background = blocks.bytes;
        TrackedView first(blocks), second(alone);
        TrackedView* tracked[2] = {&first, &second};
        const raster::Viewport clip{3, 5, kW - 10, kH - 12, 0, 1};
        auto draw = [&](int k) {
            return raster::DrawPrimitive(s, LLayout(), reinterpret_cast<const std::uint8_t*>(all.data()),
                                         all.size() * sizeof(LVertex), 4, 0, static_cast<int>(all.size() / 3), c.wvp,
                                         clip, tracked[k]->view);
        };
        ASSERT_TRUE(draw(0));
        {
            const SimdLimit limit(raster::SimdLevel::kAvx2);
            ASSERT_TRUE(draw(1));
        }
        EXPECT_NE(blocks.bytes, background);
        EXPECT_EQ(blocks.bytes, alone.bytes);
        EXPECT_EQ(first.flags, second.flags);
    }
}

}  // namespace
}  // namespace raster_test
