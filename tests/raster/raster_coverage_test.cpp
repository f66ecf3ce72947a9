#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

TEST(RasterCoverage, FillRuleCases) {
    struct Case {
        const char* name;
        std::vector<TLVertex> tri;
        const char* mask;
    };
    const std::uint32_t w = 0xFFFFFFFF;
    const Case cases[] = {
        // Right-angle triangle on pixel centres: top and left edges own their pixels.
        {"corner", {{0, 0, 0, 1, w, 0, 0}, {4, 0, 0, 1, w, 0, 0}, {0, 4, 0, 1, w, 0, 0}},
         "####..|###...|##....|#.....|......|......"},
        // Same triangle flipped: its centres on the right and bottom edges are not drawn.
        {"flipped", {{4, 0, 0, 1, w, 0, 0}, {4, 4, 0, 1, w, 0, 0}, {0, 4, 0, 1, w, 0, 0}},
         "......|...#..|..##..|.###..|......|......"},
        // Counter-clockwise order covers the same pixels when culling is off.
        {"ccw", {{0, 0, 0, 1, w, 0, 0}, {0, 4, 0, 1, w, 0, 0}, {4, 0, 0, 1, w, 0, 0}},
         "####..|###...|##....|#.....|......|......"},
        // A sliver between centres covers nothing.
        {"sliver", {{0.2f, 0.2f, 0, 1, w, 0, 0}, {0.8f, 0.2f, 0, 1, w, 0, 0}, {0.5f, 0.8f, 0, 1, w, 0, 0}},
         "......|......|......|......|......|......"},
        // Half-pixel offsets: the rectangle (0.5,0.5)-(2.5,2.5) covers pixels 1..2.
        {"offset", {{0.5f, 0.5f, 0, 1, w, 0, 0}, {2.5f, 0.5f, 0, 1, w, 0, 0}, {0.5f, 2.5f, 0, 1, w, 0, 0}},
         "......|.#....|......|......|......|......"},
    };
    for (const Case& c : cases) {
        Canvas canvas(6, 6);
        ASSERT_TRUE(Draw(Untextured(), canvas, c.tri, 4, 1));
        EXPECT_EQ(canvas.Mask(), c.mask) << c.name;
    }
}

// Pixel centres inside a triangle on the 1/16 grid, by its three edge functions: inside when
// every one is positive, or zero on a top or left edge (E = dx (Py - Yi) - dy (Px - Xi) with
// the vertices turned clockwise on the y-down screen).
int BruteCoverage(std::int64_t X[3], std::int64_t Y[3], int px, int py) {
    std::int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
    if (area == 0) return 0;
    std::int64_t x[3] = {X[0], X[1], X[2]}, y[3] = {Y[0], Y[1], Y[2]};
    if (area < 0) {
        std::swap(x[1], x[2]);
        std::swap(y[1], y[2]);
    }
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        const std::int64_t dx = x[j] - x[i], dy = y[j] - y[i];
        const std::int64_t e = dx * (16 * py - y[i]) - dy * (16 * px - x[i]);
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        if (e < 0 || (e == 0 && !topLeft)) return 0;
    }
    return 1;
}

// Random triangles, and quads split into two list triangles (scanned as one polygon when
// they merge), against the edge functions pixel by pixel; every pixel counts how often it
// was drawn, so a row bounded too loosely or a diagonal owned twice shows.
TEST(RasterCoverage, RandomPolygonsCoverExactlyTheirPixelCentres) {
    raster::DrawState s = Untextured();
    s.alphaBlendEnable = true;
    s.srcBlend = 2;  // ONE / ONE: counts
    s.destBlend = 2;
    std::mt19937 rng(20261209);
    constexpr int kSize = 24;
    std::uniform_int_distribution<int> coord(-16, 16 * kSize + 16), small(-40, 40), pick(0, 2);
    for (int iteration = 0; iteration < 3000; ++iteration) {
        // Mostly small shapes, where many rows start or end on corners and edges.
        std::int64_t X[4], Y[4];
        const int cx = coord(rng), cy = coord(rng);
        for (int i = 0; i < 4; ++i) {
            X[i] = pick(rng) == 0 ? coord(rng) : cx + small(rng);
            Y[i] = pick(rng) == 0 ? coord(rng) : cy + small(rng);
        }
        auto vertex = [&](int i) {
            return TLVertex{X[i] / 16.0f, Y[i] / 16.0f, 0, 1, 0x00010101, 0, 0};
        };
        const std::vector<TLVertex> list = {vertex(0), vertex(1), vertex(2), vertex(1), vertex(2), vertex(3)};
        Canvas canvas(kSize, kSize);
        ASSERT_TRUE(Draw(s, canvas, list, 4, 2));
        std::int64_t first[3] = {X[0], X[1], X[2]}, firstY[3] = {Y[0], Y[1], Y[2]};
        std::int64_t second[3] = {X[1], X[2], X[3]}, secondY[3] = {Y[1], Y[2], Y[3]};
        for (int py = 0; py < kSize; ++py) {
            for (int px = 0; px < kSize; ++px) {
                const int expect = BruteCoverage(first, firstY, px, py) + BruteCoverage(second, secondY, px, py);
                ASSERT_EQ(static_cast<int>(canvas.At(px, py) & 0xFF), expect)
                    << "iteration " << iteration << " pixel " << px << "," << py;
            }
        }
    }
}

TEST(RasterCoverage, RectangleCoversHalfOpenRange) {
    Canvas canvas(8, 8);
    ASSERT_TRUE(Draw(Untextured(), canvas, Quad(0, 0, 5, 5, 0xFFFFFFFF), 4, 2));
    EXPECT_EQ(canvas.Mask(), "#####...|#####...|#####...|#####...|#####...|........|........|........");
}

TEST(RasterCoverage, SharedEdgesNeverBlendTwice) {
    raster::DrawState s = Untextured();
    s.alphaBlendEnable = true;
    s.srcBlend = 2;  // ONE
    s.destBlend = 2;
    for (float angle : {0.0f, 0.3f, 0.785398f, 1.1f, 2.0f, 3.0f}) {
        Canvas canvas(32, 32);
        std::vector<TLVertex> v;
        const float cx = 15.3f, cy = 16.1f, r = 11.7f;
        TLVertex p[4];
        for (int i = 0; i < 4; ++i) {
            const float a = angle + 1.5707963f * static_cast<float>(i);
            p[i] = TLVertex{cx + r * std::cos(a), cy + r * std::sin(a), 0, 1, 0x00404040, 0, 0};
        }
        v = {p[0], p[1], p[2], p[0], p[2], p[3]};
        ASSERT_TRUE(Draw(s, canvas, v, 4, 2));
        // A fan around a centre point shares three more edges.
        std::vector<TLVertex> fan = {{cx, cy, 0, 1, 0x00404040, 0, 0}, p[0], p[1], p[2], p[3], p[0]};
        Canvas fanCanvas(32, 32);
        ASSERT_TRUE(Draw(s, fanCanvas, fan, 6, 4));
        int covered = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const std::uint32_t c = canvas.At(x, y);
                ASSERT_TRUE(c == 0 || c == 0x404040) << angle << " at " << x << "," << y << ": " << std::hex << c;
                ASSERT_EQ(c == 0, fanCanvas.At(x, y) == 0) << angle << " at " << x << "," << y;
                const std::uint32_t f = fanCanvas.At(x, y);
                ASSERT_TRUE(f == 0 || f == 0x404040) << angle << " fan at " << x << "," << y;
                covered += c != 0;
            }
        }
        EXPECT_NEAR(covered, 2 * r * r, 2 * 4 * r) << angle;
    }
}

// List quads written as the particle layer writes them are scanned as one quad; the pixels
// must be exactly those of the two triangles drawn one by one.
TEST(RasterCoverage, QuadPairsCoverWhatTheirTrianglesCover) {
    raster::DrawState s = Untextured();
    s.alphaBlendEnable = true;
    s.srcBlend = 2;
    s.destBlend = 2;
    // Large quads, and ones smaller than a pixel over a pixel centre, near one and between.
    struct Size {
        float cx, cy, r;
    };
    for (const Size& size : {Size{16.4f, 15.7f, 10.3f}, Size{16.0f, 15.0f, 0.3f}, Size{16.2f, 15.1f, 0.45f},
                             Size{16.5f, 15.5f, 0.3f}, Size{16.5f, 15.5f, 0.02f}})
    for (float angle : {0.0f, 0.2f, 0.785398f, 1.3f, 2.9f}) {
        for (bool secondReversed : {false, true}) {
            const float cx = size.cx, cy = size.cy, r = size.r;
            TLVertex p[4];
            const float ca = r * std::cos(angle), sa = r * std::sin(angle);
            p[0] = TLVertex{cx - ca, cy - sa, 0, 1, 0x00303030, 0, 0};
            p[1] = TLVertex{cx + sa, cy - ca, 0, 1, 0x00303030, 1, 0};
            p[2] = TLVertex{cx - sa, cy + ca, 0, 1, 0x00303030, 0, 1};
            p[3] = TLVertex{cx + ca, cy + sa, 0, 1, 0x00303030, 1, 1};
            const std::vector<TLVertex> quad = secondReversed
                                                   ? std::vector<TLVertex>{p[0], p[1], p[2], p[2], p[1], p[3]}
                                                   : std::vector<TLVertex>{p[0], p[1], p[2], p[1], p[2], p[3]};
            Canvas merged(32, 32), single(32, 32);
            ASSERT_TRUE(Draw(s, merged, quad, 4, 2));
            ASSERT_TRUE(Draw(s, single, std::vector<TLVertex>(quad.begin(), quad.begin() + 3), 4, 1));
            ASSERT_TRUE(Draw(s, single, std::vector<TLVertex>(quad.begin() + 3, quad.end()), 4, 1));
            EXPECT_EQ(merged.Mask(), single.Mask()) << angle << " radius " << r;
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) ASSERT_EQ(single.At(x, y), merged.At(x, y)) << angle << " " << x << "," << y;
            }
        }
    }
}

TEST(RasterCoverage, CullingFollowsScreenWinding) {
    const std::uint32_t w = 0xFFFFFFFF;
    const std::vector<TLVertex> clockwise = {{0, 0, 0, 1, w, 0, 0}, {4, 0, 0, 1, w, 0, 0}, {0, 4, 0, 1, w, 0, 0}};
    const std::vector<TLVertex> counter = {clockwise[0], clockwise[2], clockwise[1]};
    struct Case {
        std::uint32_t cull;
        bool cwDrawn, ccwDrawn;
    } cases[] = {{1, true, true}, {2, false, true}, {3, true, false}};
    for (const Case& c : cases) {
        raster::DrawState s = Untextured();
        s.cullMode = c.cull;
        Canvas a(6, 6), b(6, 6);
        Draw(s, a, clockwise, 4, 1);
        Draw(s, b, counter, 4, 1);
        EXPECT_EQ(a.At(0, 0) != 0, c.cwDrawn) << c.cull;
        EXPECT_EQ(b.At(0, 0) != 0, c.ccwDrawn) << c.cull;
    }
    // Strip triangles alternate winding; with CCW culling both halves of a strip quad draw.
    raster::DrawState s = Untextured();
    s.cullMode = 3;
    Canvas strip(6, 6);
    const std::vector<TLVertex> v = {{0, 0, 0, 1, w, 0, 0}, {4, 0, 0, 1, w, 0, 0}, {0, 4, 0, 1, w, 0, 0},
                                     {4, 4, 0, 1, w, 0, 0}};
    Draw(s, strip, v, 5, 2);
    EXPECT_EQ(strip.Mask(), "####..|####..|####..|####..|......|......");
}

TEST(RasterCoverage, PointsAndLines) {
    raster::DrawState s = Untextured();
    Canvas points(8, 8);
    s.pointSize = 2;
    const std::vector<TLVertex> p = {{2, 2, 0, 1, 0xFFFFFFFF, 0, 0}, {6.0f, 5.0f, 0, 1, 0xFFFFFFFF, 0, 0}};
    ASSERT_TRUE(Draw(s, points, p, 1, 2));
    EXPECT_EQ(points.Mask(), "........|.##.....|.##.....|........|.....##.|.....##.|........|........");

    Canvas lines(8, 4);
    const std::vector<TLVertex> l = {{0, 1, 0, 1, 0xFFFFFFFF, 0, 0}, {5, 1, 0, 1, 0xFFFFFFFF, 0, 0}};
    s.lastPixel = false;
    ASSERT_TRUE(Draw(s, lines, l, 2, 1));
    EXPECT_EQ(lines.Mask(), "........|#####...|........|........");
    s.lastPixel = true;
    ASSERT_TRUE(Draw(s, lines, l, 2, 1));
    EXPECT_EQ(lines.Mask(), "........|######..|........|........");
}

TEST(RasterCoverage, ViewportScissors) {
    Canvas canvas(8, 8);
    const auto quad = Quad(-100, -100, 100, 100, 0xFFFFFFFF);
    ASSERT_TRUE(raster::DrawPrimitive(Untextured(), TLLayout(), reinterpret_cast<const std::uint8_t*>(quad.data()),
                                      quad.size() * sizeof(TLVertex), 4, 0, 2, nullptr,
                                      raster::Viewport{2, 3, 3, 2, 0, 1}, canvas.View()));
    EXPECT_EQ(canvas.Mask(), "........|........|........|..###...|..###...|........|........|........");
}

TEST(RasterCoverage, HugeScreenCoordinatesAreClipped) {
    Canvas canvas(8, 8);
    const std::vector<TLVertex> v = {{-1e9f, -1e9f, 0, 1, 0xFFFFFFFF, 0, 0},
                                     {3e9f, -1e9f, 0, 1, 0xFFFFFFFF, 0, 0},
                                     {-1e9f, 3e9f, 0, 1, 0xFFFFFFFF, 0, 0}};
    ASSERT_TRUE(Draw(Untextured(), canvas, v, 4, 1));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(canvas.At(x, y), 0xFFFFFFu) << x << "," << y;
    }
    const float nan = std::nanf("");
    const std::vector<TLVertex> bad = {{nan, 0, 0, 1, 0xFFFFFFFF, 0, 0}, v[1], v[2]};
    Canvas other(8, 8);
    ASSERT_TRUE(Draw(Untextured(), other, bad, 4, 1));
    EXPECT_EQ(other.At(4, 4), 0u);
}

}  // namespace
}  // namespace raster_test
