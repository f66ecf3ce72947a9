// Rasterizer back end driven directly with the states the screensaver's draws resolve to,
// into a 1920x1080 X8R8G8B8 target.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/d3d8/raster/format_bridge.h"
#include "platform/d3d8/raster/raster.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Vertex {  // XYZ | DIFFUSE | TEX1
    float x, y, z;
    std::uint32_t diffuse;
    float u, v;
};

struct Target {
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(kWidth * kHeight, 0xFF203040u);
    raster::SurfaceView View() {
        return raster::SurfaceView{reinterpret_cast<std::uint8_t*>(pixels.data()), kWidth, kHeight, kWidth * 4,
                                   raster::PixelFormat::X8R8G8B8};
    }
};

struct Atlas {
    std::vector<std::uint32_t> texels = std::vector<std::uint32_t>(256 * 256);
    raster::SurfaceView level;
    raster::TextureView view;
    Atlas() {
        std::mt19937 rng(7);
        for (std::uint32_t& t : texels) t = static_cast<std::uint32_t>(rng());
        level = raster::SurfaceView{reinterpret_cast<std::uint8_t*>(texels.data()), 256, 256, 1024,
                                    raster::PixelFormat::A8R8G8B8};
        view = raster::TextureView{&level, 1, raster::PixelFormat::A8R8G8B8};
    }
};

// World units are pixels with y up, as the particle layer writes them.
void PixelProjection(float m[16]) {
    std::memset(m, 0, 16 * sizeof(float));
    m[0] = 2.0f / kWidth;
    m[5] = 2.0f / kHeight;
    m[10] = 1.0f;
    m[12] = -1.0f;
    m[13] = -1.0f;
    m[15] = 1.0f;
}

raster::DrawState ParticleState(const raster::TextureView* atlas, bool additive) {
    raster::DrawState s;
    s.cullMode = 1;
    s.lit = false;
    raster::StageState& st = s.stages[0];
    st.texture = atlas;
    st.colorOp = st.alphaOp = 4;  // MODULATE
    st.colorArg1 = st.alphaArg1 = 2;  // TEXTURE
    st.colorArg2 = st.alphaArg2 = 0;  // DIFFUSE
    st.minFilter = st.magFilter = 2;  // LINEAR
    s.alphaBlendEnable = true;
    s.srcBlend = 5;                    // SRCALPHA
    s.destBlend = additive ? 2u : 6u;  // ONE or INVSRCALPHA
    return s;
}

// The particle layer's six vertices of one quad of half-size half turned by angle.
void WriteQuad(Vertex* v, float cx, float cy, float half, float angle, std::uint32_t color) {
    const float a = half * std::sin(angle) * 1.41421356f, b = half * std::cos(angle) * 1.41421356f;
    const float px[4] = {cx - b, cx + a, cx - a, cx + b}, py[4] = {cy + a, cy + b, cy - b, cy - a};
    const float u0 = 0.25f, v0 = 0.5f, u1 = 0.5f, v1 = 0.75f;
    const Vertex p0{px[0], py[0], 0.5f, color, u0, v0}, p1{px[1], py[1], 0.5f, color, u1, v0};
    const Vertex p2{px[2], py[2], 0.5f, color, u0, v1}, p3{px[3], py[3], 0.5f, color, u1, v1};
    v[0] = p0, v[1] = p1, v[2] = p2, v[3] = p1, v[4] = p2, v[5] = p3;
}

const raster::VertexLayout kParticleLayout{24, 0, false, 12, 16};

void BM_ParticleQuad40(benchmark::State& state) {
    Target target;
    Atlas atlas;
    const raster::DrawState s = ParticleState(&atlas.view, true);
    float wvp[16];
    PixelProjection(wvp);
    Vertex quad[6];
    float angle = 0;
    const raster::Viewport vp{0, 0, kWidth, kHeight, 0, 1};
    for (auto _ : state) {
        angle += 0.137f;
        // Half the diagonal of a 40x40 square turned by angle: 40 * 40 = 1600 pixels.
        WriteQuad(quad, 960, 540, 20.0f, angle + 0.785398f, 0xC0FF8040);
        raster::DrawPrimitive(s, kParticleLayout, reinterpret_cast<const std::uint8_t*>(quad), sizeof quad, 4, 0, 2,
                              wvp, vp, target.View());
        benchmark::ClobberMemory();
    }
    state.SetLabel(raster::SpanRoutineName(s, kParticleLayout, target.View()));
    state.SetItemsProcessed(state.iterations() * 1600);
}
BENCHMARK(BM_ParticleQuad40);

void BM_FullScreenAlphaRect(benchmark::State& state) {
    Target target;
    raster::DrawState s;
    s.cullMode = 1;
    s.shadeMode = 1;  // FLAT
    s.stages[0].texture = nullptr;
    s.alphaBlendEnable = true;
    s.srcBlend = 5;
    s.destBlend = 6;
    struct ColorVertex {
        float x, y, z;
        std::uint32_t diffuse;
    };
    const ColorVertex strip[4] = {{0, kHeight, 0.5f, 0x10000000}, {kWidth, kHeight, 0.5f, 0x10000000},
                                  {0, 0, 0.5f, 0x10000000}, {kWidth, 0, 0.5f, 0x10000000}};
    const raster::VertexLayout layout{16, 0, false, 12, -1};
    float wvp[16];
    PixelProjection(wvp);
    const raster::Viewport vp{0, 0, kWidth, kHeight, 0, 1};
    for (auto _ : state) {
        raster::DrawPrimitive(s, layout, reinterpret_cast<const std::uint8_t*>(strip), sizeof strip, 5, 0, 2, wvp,
                              vp, target.View());
        benchmark::ClobberMemory();
    }
    state.SetLabel(raster::SpanRoutineName(s, layout, target.View()));
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_FullScreenAlphaRect)->Unit(benchmark::kMillisecond);

struct Scatter {
    float x0, x1, y0, y1, half;
};

// 16384 particle quads of one size at random places and angles, drawn in one call per
// iteration into Target.
void DrawQuads16384(benchmark::State& state, std::mt19937& rng, const raster::DrawState& s,
                    const raster::SurfaceView& target, const Scatter& where) {
    float wvp[16];
    PixelProjection(wvp);
    std::vector<Vertex> quads(16384 * 6);
    std::uniform_real_distribution<float> x(where.x0, where.x1), y(where.y0, where.y1), turn(0, 6.2831853f);
    for (int i = 0; i < 16384; ++i) WriteQuad(&quads[i * 6], x(rng), y(rng), where.half, turn(rng), 0x80FFC080);
    const raster::Viewport vp{0, 0, kWidth, kHeight, 0, 1};
    for (auto _ : state) {
        raster::DrawPrimitive(s, kParticleLayout, reinterpret_cast<const std::uint8_t*>(quads.data()),
                              quads.size() * sizeof(Vertex), 4, 0, 2 * 16384, wvp, vp, target);
        benchmark::ClobberMemory();
    }
    state.SetLabel(raster::SpanRoutineName(s, kParticleLayout, target));
    state.SetItemsProcessed(state.iterations() * 16384 * static_cast<std::int64_t>(4 * where.half * where.half));
}

constexpr Scatter kWholeScreen{20, kWidth - 20, 20, kHeight - 20, 12.0f};

void BM_ParticleQuads16384(benchmark::State& state) {
    Target target;
    Atlas atlas;
    std::mt19937 rng(11);
    DrawQuads16384(state, rng, ParticleState(&atlas.view, true), target.View(), kWholeScreen);
}
BENCHMARK(BM_ParticleQuads16384)->Unit(benchmark::kMillisecond);

// The same particles on a 16-bit desktop: an R5G6B5 target and an A4R4G4B4 atlas, sampled
// through the 32-bit copy the device keeps of it.
void BM_ParticleQuads16384_R5G6B5(benchmark::State& state) {
    std::vector<std::uint16_t> pixels(kWidth * kHeight, 0x2106);
    const raster::SurfaceView target{reinterpret_cast<std::uint8_t*>(pixels.data()), kWidth, kHeight, kWidth * 2,
                                     raster::PixelFormat::R5G6B5};
    std::vector<std::uint16_t> texels(256 * 256);
    std::mt19937 rng(7);
    for (std::uint16_t& t : texels) t = static_cast<std::uint16_t>(rng());
    const raster::SurfaceView level{reinterpret_cast<std::uint8_t*>(texels.data()), 256, 256, 512,
                                    raster::PixelFormat::A4R4G4B4};
    const raster::TextureView atlas{&level, 1, raster::PixelFormat::A4R4G4B4};
    raster::ExpandedTexture expanded;
    const raster::DrawState s = ParticleState(&expanded.Refresh(atlas), true);
    DrawQuads16384(state, rng, s, target, kWholeScreen);
}
BENCHMARK(BM_ParticleQuads16384_R5G6B5)->Unit(benchmark::kMillisecond);

// 16384 quads of half-size range(0) within one 100x100 patch, which stays in cache: the
// time per quad against its size separates the per-quad cost from the per-pixel cost.
void BM_ParticleQuadsBySize(benchmark::State& state) {
    Target target;
    Atlas atlas;
    std::mt19937 rng(11);
    DrawQuads16384(state, rng, ParticleState(&atlas.view, true), target.View(),
                   Scatter{900, 1000, 500, 600, static_cast<float>(state.range(0))});
}
BENCHMARK(BM_ParticleQuadsBySize)->Arg(1)->Arg(4)->Arg(12)->Arg(20)->Unit(benchmark::kMillisecond);
}  // namespace
