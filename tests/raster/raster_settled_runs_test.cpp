// Settled runs let a repeated constant-colour fill skip what it cannot change. A target that
// keeps them must always hold exactly what a target without them holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

constexpr int kW = 150, kH = 40;  // 150 is not a whole number of runs

// The same target twice, the second with settled runs.
struct Twin {
    Canvas plain{kW, kH}, kept{kW, kH};
    std::vector<std::uint8_t> flags;
    raster::SettledRuns runs;
    Twin() {
        runs.perRow = (kW + raster::SettledRuns::kPixels - 1) / raster::SettledRuns::kPixels;
        runs.rows = kH;
        flags.assign(static_cast<std::size_t>(runs.perRow * runs.rows), 0);
        runs.flags = flags.data();
    }
    raster::SurfaceView Kept() {
        raster::SurfaceView v = kept.View();
        v.settled = &runs;
        return v;
    }
    void Both(const std::function<void(const raster::SurfaceView&)>& step) {
        step(plain.View());
        step(Kept());
    }
    int Settled() const {
        if (runs.key == 0) return 0;
        return static_cast<int>(std::count_if(flags.begin(), flags.end(), [](std::uint8_t f) { return f & 1; }));
    }
};

bool DrawOn(const raster::SurfaceView& target, const raster::DrawState& s, const std::vector<TLVertex>& v, int type,
            int count) {
    return raster::DrawPrimitive(s, TLLayout(), reinterpret_cast<const std::uint8_t*>(v.data()),
                                 v.size() * sizeof(TLVertex), type, 0, count, nullptr,
                                 raster::Viewport{0, 0, target.width, target.height, 0, 1}, target);
}

raster::DrawState Blended(std::uint32_t src, std::uint32_t dst) {
    raster::DrawState s = Untextured();
    s.alphaBlendEnable = src != 0;
    s.srcBlend = src ? src : 2;
    s.destBlend = dst ? dst : 1;
    return s;
}

void Fill(const raster::SurfaceView& t, std::uint32_t color, float x0 = 0, float y0 = 0, float x1 = kW, float y1 = kH) {
    EXPECT_TRUE(DrawOn(t, Blended(5, 6), Quad(x0, y0, x1, y1, color), 4, 2));
}

// The overlay as a strip: two triangles meeting on the diagonal, so runs there are cut.
void FillStrip(const raster::SurfaceView& t, std::uint32_t color) {
    const std::vector<TLVertex> strip = {{0, 0, 0, 1, color, 0, 0}, {kW, 0, 0, 1, color, 0, 0},
                                         {0, kH, 0, 1, color, 0, 0}, {kW, kH, 0, 1, color, 0, 0}};
    EXPECT_TRUE(DrawOn(t, Blended(5, 6), strip, 5, 2));
}

void Sprites(const raster::SurfaceView& t, float at) {
    static Texture glow(2, 2, {0x80FFFFFF, 0xFFFFC080, 0x40FF8040, 0xC0FFFFFF});
    raster::DrawState s = Blended(5, 2);
    s.stages[0].texture = &glow.view;
    s.stages[0].colorOp = s.stages[0].alphaOp = 4;  // texture x diffuse
    s.stages[0].colorArg2 = s.stages[0].alphaArg2 = 0;
    s.stages[0].magFilter = s.stages[0].minFilter = 2;
    s.stages[0].addressU = s.stages[0].addressV = 3;
    std::vector<TLVertex> v;
    for (float x = at; x < kW; x += 37) {
        const auto q = Quad(x, 3 + x / 10, x + 9.5f, 14 + x / 10, 0xFFFF8040);
        v.insert(v.end(), q.begin(), q.end());
    }
    EXPECT_TRUE(DrawOn(t, s, v, 4, static_cast<int>(v.size() / 3)));
}

TEST(RasterSettledRuns, KeptTargetMatchesPlainOneThroughEveryKindOfWrite) {
    const std::uint32_t dark = 0x10000000, bright = 0x10FFFFFF;
    struct Step {
        const char* name;
        std::function<void(const raster::SurfaceView&)> run;
        int repeat;
    };
    const Step steps[] = {
        {"sprites", [](auto& t) { Sprites(t, 2); }, 1},
        {"fade", [&](auto& t) { Fill(t, dark); }, 30},
        {"sprites again", [](auto& t) { Sprites(t, 20); }, 1},
        {"fade after sprites", [&](auto& t) { Fill(t, dark); }, 3},
        {"strip fade", [&](auto& t) { FillStrip(t, dark); }, 3},
        {"gouraud triangle", [](auto& t) {
             const std::vector<TLVertex> v = {{5, 5, 0, 1, 0xFFFF0000, 0, 0}, {140, 12, 0, 1, 0x8000FF00, 0, 0},
                                              {30, 38, 0, 1, 0x400000FF, 0, 0}};
             EXPECT_TRUE(DrawOn(t, Blended(5, 6), v, 4, 1));
         }, 1},
        {"fade after gouraud", [&](auto& t) { Fill(t, dark); }, 2},
        {"clear", [](auto& t) { raster::Clear(t, raster::Rect{60, 10, 70, 20}, 0xFFFFFFFF); }, 1},
        {"fade after clear", [&](auto& t) { Fill(t, dark); }, 2},
        {"pixel", [](auto& t) { raster::WritePixel(t, 130, 33, 0xFF80FF80); }, 1},
        {"fade after pixel", [&](auto& t) { Fill(t, dark); }, 2},
        {"brighter fade", [&](auto& t) { Fill(t, bright); }, 3},
        {"dark fade again", [&](auto& t) { Fill(t, dark); }, 3},
        {"narrow fade", [&](auto& t) { Fill(t, dark, 10.5f, 4, 77.25f, 30); }, 2},
        {"line", [](auto& t) {
             const std::vector<TLVertex> v = {{1, 39, 0, 1, 0xFFFFFFFF, 0, 0}, {149, 1, 0, 1, 0xFFFFFFFF, 0, 0}};
             EXPECT_TRUE(DrawOn(t, Untextured(), v, 2, 1));
         }, 1},
        {"fade after line", [&](auto& t) { Fill(t, dark); }, 2},
        {"replace", [](auto& t) { EXPECT_TRUE(DrawOn(t, Blended(0, 0), Quad(64, 0, 128, 40, 0xFF204060), 4, 2)); }, 2},
        {"fade after replace", [&](auto& t) { Fill(t, dark); }, 2},
    };
    for (raster::SimdLevel level : {raster::SimdLevel::kSse2, raster::SimdLevel::kAvx2, raster::SimdLevel::kAvx512}) {
        SimdLimit limit(level);
        Twin twin;
        int settledAfterFades = 0;
        for (const Step& step : steps) {
            for (int i = 0; i < step.repeat; ++i) twin.Both(step.run);
            ASSERT_EQ(twin.plain.bytes, twin.kept.bytes) << step.name << " at SIMD level " << int(level);
            if (std::string(step.name) == "fade") settledAfterFades = twin.Settled();
        }
        // Most of the frame is dark after thirty fades: most runs are skipped from then on.
        EXPECT_GT(settledAfterFades, twin.runs.perRow * kH / 2) << "SIMD level " << int(level);
    }
}

// A settled run is not drawn again, so a pixel changed behind the map's back stays as it is
// until what is known is forgotten, as a surface lock does.
TEST(RasterSettledRuns, SkipsSettledRunsUntilTheKeyIsDropped) {
    Twin twin;
    const raster::SurfaceView kept = twin.Kept();
    for (int i = 0; i < 3; ++i) Fill(kept, 0x10000000);
    ASSERT_EQ(twin.Settled(), twin.runs.perRow * kH);
    std::uint32_t lit = 0xFFFFFFFF;
    std::memcpy(twin.kept.bytes.data() + (5 * kW + 70) * 4, &lit, 4);
    Fill(kept, 0x10000000);
    EXPECT_EQ(twin.kept.At(70, 5), 0xFFFFFFu);
    raster::ForgetRuns(twin.runs);
    Fill(kept, 0x10000000);
    EXPECT_NE(twin.kept.At(70, 5), 0xFFFFFFu);
    EXPECT_LT(twin.Settled(), twin.runs.perRow * kH);
}

}  // namespace
}  // namespace raster_test
