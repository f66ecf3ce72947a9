// A list's quads, (a, b, c) then (b, c, d), have their four corners transformed together.
// Listing the second triangle's b with x = -0 instead of 0 fetches every vertex alone, yet
// transforms to the very same bits, so the quad merges as before: both must draw the same
// bytes. Quads that clip, lie beyond the guard band or hold values that are not numbers are
// compared with their triangles drawn one call each.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

struct Corners {
    LVertex a, b, c, d;
};

// A particle: a square turned by an angle about its centre, facing the camera.
Corners Particle(float x, float y, float z, float size, float angle, std::uint32_t color) {
    const float s = size * std::sin(angle), k = size * std::cos(angle);
    return {{x - k, y + s, z, color, 0, 0}, {x + s, y + k, z, color, 1, 0}, {x - s, y - k, z, color, 0, 1},
            {x + k, y - s, z, color, 1, 1}};
}

// A quad's corners in one list, and its two triangles' own lists.
void Append(const Corners& q, std::vector<LVertex>& list) { list.insert(list.end(), {q.a, q.b, q.c, q.b, q.c, q.d}); }

TEST(RasterQuadFetch, CornersFetchedTogetherDrawAsFetchedAlone) {
    std::mt19937 rng(20261209);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    // On screen, each with its corner b on the line x = 0.
    std::vector<Corners> merging;
    for (int i = 0; i < 8000; ++i) {
        const float z = 1.5f + 8.0f * (unit(rng) + 1.0f), size = 0.02f + 0.1f * (unit(rng) + 1.0f);
        const float angle = 3.0f * unit(rng);
        const std::uint32_t alpha = i % 7 == 0 ? 0u : static_cast<std::uint32_t>(rng() % 256);
        merging.push_back(Particle(-size * std::sin(angle), unit(rng) * z * 0.75f, z, size, angle,
                                   alpha << 24 | (rng() & 0xFFFFFF)));
    }
    // Never merged, so drawn triangle by triangle: corners behind the eye, beyond the guard
    // band, not numbers, and quads with one triangle clear.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    Corners tilted = Particle(0, 0, 1.0f, 2.0f, 0.3f, 0xFF80FF40);  // across the near plane
    tilted.a.z = 0.05f;
    std::vector<Corners> apart = {tilted, Particle(0, 0, -1.0f, 1.0f, 0.0f, 0xFFFFFFFF),
                                  Particle(4000.0f, 10.0f, 1.0f, 1.0f, 0.5f, 0xFFFFFFFF),
                                  Particle(1.0f, 1.0f, 5.0f, 1e30f, 0.1f, 0xFFFFFFFF)};
    for (float bad : {nan, inf, -inf}) {
        Corners q = Particle(0.5f, 0.5f, 4.0f, 1.0f, 0.2f, 0xFFFF8040);
        q.d.x = bad;
        apart.push_back(q);
        q = Particle(-0.5f, 0.5f, 4.0f, 1.0f, 0.2f, 0xFF40FF80);
        q.a.z = bad;
        apart.push_back(q);
    }
    Corners half = Particle(0.0f, -1.0f, 3.0f, 1.0f, 0.7f, 0x0020A0E0);
    half.d.diffuse = 0xFF20A0E0;
    apart.push_back(half);

    std::vector<LVertex> together, reordered;  // reordered: fetched vertex by vertex
    for (const Corners& q : merging) {
        Append(q, together);
        ASSERT_EQ(q.b.x, 0.0f);
        LVertex b = q.b;
        b.x = -0.0f;
        reordered.insert(reordered.end(), {q.a, q.b, q.c, b, q.c, q.d});
    }
    const std::size_t merged = together.size();
    for (const Corners& q : apart) Append(q, together);
    // Perspective looking down +z: clip w is the eye distance.
    const float wvp[16] = {1.2f, 0, 0, 0, 0, 1.6f, 0, 0, 0, 0, 1.01f, 1, 0, 0, -0.101f, 0};

    Texture tex(4, 4, {});
    for (std::uint32_t& t : tex.texels) t = static_cast<std::uint32_t>(rng());
    struct Blend {
        std::uint32_t src, dst;
    };
    for (Blend blend : {Blend{5, 6}, Blend{5, 2}}) {
        for (std::uint32_t filter : {1u, 2u}) {
            raster::DrawState s = ModulateTexture(tex.view, filter, 1, true, blend.src, blend.dst);
            Canvas fast(640, 480), slow(640, 480);
            for (std::size_t i = 0; i < fast.bytes.size(); ++i) fast.bytes[i] = slow.bytes[i] = static_cast<std::uint8_t>(rng());
            const std::vector<std::uint8_t> background = fast.bytes;
            ASSERT_TRUE(Draw(s, fast, together, 4, static_cast<int>(together.size() / 3), wvp));
            ASSERT_TRUE(Draw(s, slow, reordered, 4, static_cast<int>(reordered.size() / 3), wvp));
            for (std::size_t v = merged; v < together.size(); v += 3) {
                ASSERT_TRUE(Draw(s, slow, std::vector<LVertex>(together.begin() + static_cast<std::ptrdiff_t>(v),
                                                               together.begin() + static_cast<std::ptrdiff_t>(v + 3)),
                                 4, 1, wvp));
            }
            EXPECT_EQ(fast.bytes, slow.bytes) << "blend " << blend.src << "/" << blend.dst << " filter " << filter;
            EXPECT_NE(fast.bytes, background);
        }
    }
}

}  // namespace
}  // namespace raster_test
