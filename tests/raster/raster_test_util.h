#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/d3d8/raster/raster.h"

namespace raster_test {

using raster::PixelFormat;

struct Canvas {
    int width, height, bpp;
    PixelFormat format;
    std::vector<std::uint8_t> bytes;
    Canvas(int w, int h, PixelFormat f = PixelFormat::X8R8G8B8, std::uint32_t fill = 0)
        : width(w), height(h), bpp(raster::BytesPerPixel(f)), format(f),
          bytes(static_cast<std::size_t>(w * h * bpp)) {
        raster::Clear(View(), raster::Rect{0, 0, w, h}, fill);
    }
    raster::SurfaceView View() { return raster::SurfaceView{bytes.data(), width, height, width * bpp, format}; }
    std::uint32_t At(int x, int y) { return raster::ReadPixel(View(), x, y) & (raster::HasAlpha(format) ? 0xFFFFFFFFu : 0xFFFFFFu); }
    // '#' where the pixel differs from background, '.' elsewhere; rows joined by '|'.
    std::string Mask(std::uint32_t background = 0) {
        std::string s;
        for (int y = 0; y < height; ++y) {
            if (y) s += '|';
            for (int x = 0; x < width; ++x) s += At(x, y) == background ? '.' : '#';
        }
        return s;
    }
};

// Pretransformed vertex: x, y, z, rhw, diffuse, u, v (28 bytes).
struct TLVertex {
    float x, y, z, rhw;
    std::uint32_t diffuse;
    float u, v;
};

inline raster::VertexLayout TLLayout() { return raster::VertexLayout{28, 0, true, 16, 20}; }

// Transformed vertex: x, y, z, diffuse, u, v (24 bytes).
struct LVertex {
    float x, y, z;
    std::uint32_t diffuse;
    float u, v;
};

inline raster::VertexLayout LLayout() { return raster::VertexLayout{24, 0, false, 12, 16}; }

inline raster::DrawState Untextured() {
    raster::DrawState s;
    s.cullMode = 1;
    s.stages[0].colorOp = 3;  // SELECTARG2 = diffuse
    s.stages[0].alphaOp = 3;
    return s;
}

template <class V>
bool Draw(const raster::DrawState& s, Canvas& c, const std::vector<V>& v, int type, int count,
          const float* wvp = nullptr) {
    const raster::VertexLayout layout = sizeof(V) == sizeof(TLVertex) ? TLLayout() : LLayout();
    return raster::DrawPrimitive(s, layout, reinterpret_cast<const std::uint8_t*>(v.data()), v.size() * sizeof(V),
                                 type, 0, count, wvp, raster::Viewport{0, 0, c.width, c.height, 0, 1}, c.View());
}

// Two-triangle list covering (x0,y0)-(x1,y1) with texture 0..1.
inline std::vector<TLVertex> Quad(float x0, float y0, float x1, float y1, std::uint32_t color, float u0 = 0,
                                  float v0 = 0, float u1 = 1, float v1 = 1) {
    const TLVertex a{x0, y0, 0, 1, color, u0, v0}, b{x1, y0, 0, 1, color, u1, v0};
    const TLVertex c{x0, y1, 0, 1, color, u0, v1}, d{x1, y1, 0, 1, color, u1, v1};
    return {a, b, c, c, b, d};
}

// Texture times diffuse in colour and alpha, one filter and address mode, and the blend.
inline raster::DrawState ModulateTexture(const raster::TextureView& tex, std::uint32_t filter, std::uint32_t address,
                                         bool blend, std::uint32_t src, std::uint32_t dst) {
    raster::DrawState s;
    s.cullMode = 1;
    raster::StageState& st = s.stages[0];
    st.texture = &tex;
    st.colorOp = st.alphaOp = 4;
    st.colorArg1 = st.alphaArg1 = 2;
    st.colorArg2 = st.alphaArg2 = 0;
    st.minFilter = st.magFilter = filter;
    st.addressU = st.addressV = address;
    s.alphaBlendEnable = blend;
    s.srcBlend = src;
    s.destBlend = dst;
    return s;
}

// A canvas's view with settled runs of its own: every run marked shown, none settled.
struct TrackedView {
    raster::SettledRuns runs;
    std::vector<std::uint8_t> flags;
    raster::SurfaceView view;
    explicit TrackedView(Canvas& c) : view(c.View()) {
        runs.perRow = (c.width + raster::SettledRuns::kPixels - 1) / raster::SettledRuns::kPixels;
        runs.rows = c.height;
        flags.assign(static_cast<std::size_t>(runs.perRow * runs.rows), raster::SettledRuns::kShown);
        runs.flags = flags.data();
        view.settled = &runs;
    }
    TrackedView(const TrackedView&) = delete;
    TrackedView& operator=(const TrackedView&) = delete;
};

// Holds the rasterizer to a narrower vector unit for its lifetime.
struct SimdLimit {
    explicit SimdLimit(raster::SimdLevel level) { raster::LimitSimd(level); }
    ~SimdLimit() { raster::LimitSimd(raster::SimdLevel::kAvx512); }
    SimdLimit(const SimdLimit&) = delete;
    SimdLimit& operator=(const SimdLimit&) = delete;
};

struct Texture {
    std::vector<std::uint32_t> texels;
    raster::SurfaceView level;
    raster::TextureView view;
    Texture(int w, int h, std::initializer_list<std::uint32_t> t, PixelFormat f = PixelFormat::A8R8G8B8)
        : texels(t) {
        texels.resize(static_cast<std::size_t>(w * h));
        level = raster::SurfaceView{reinterpret_cast<std::uint8_t*>(texels.data()), w, h, w * 4, f};
        view = raster::TextureView{&level, 1, f};
    }
};

}  // namespace raster_test
