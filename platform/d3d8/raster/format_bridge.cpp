// The target bridge: a 16-bit target is drawn through a 32-bit mirror. Each run is decoded
// into the mirror, drawn by the routine chosen for a 32-bit target, then encoded back,
// which is what the general path does per pixel (decode, blend in 8 bits, encode).
#include "platform/d3d8/raster/format_bridge.h"

#include <algorithm>
#include <cstddef>

#include "platform/d3d8/raster/pixel_codec.h"
#include "platform/d3d8/raster/raster_internal.h"

namespace raster {

bool IsSixteenBit(PixelFormat format) { return BytesPerPixel(format) == 2; }

const TextureView& ExpandedTexture::Refresh(const TextureView& source) {
    if (!IsSixteenBit(source.format) || !source.levels || source.levelCount <= 0) return source;
    const int count = source.levelCount;
    bits_.resize(static_cast<std::size_t>(count));
    levels_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const SurfaceView& in = source.levels[i];
        SurfaceView& out = levels_[static_cast<std::size_t>(i)];
        std::vector<std::uint32_t>& texels = bits_[static_cast<std::size_t>(i)];
        const bool usable = in.bits && in.width > 0 && in.height > 0 && in.format == source.format &&
                            in.pitch >= in.width * 2;
        if (!usable) {  // left malformed, so the samplers' checks end the chain here as before
            out = in;
            continue;
        }
        texels.resize(static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.height));
        WithFormat(in.format, [&]<PixelFormat F>() {
            for (int y = 0; y < in.height; ++y) {
                const std::uint8_t* row = in.bits + static_cast<std::ptrdiff_t>(y) * in.pitch;
                std::uint32_t* dst = texels.data() + static_cast<std::ptrdiff_t>(y) * in.width;
                for (int x = 0; x < in.width; ++x) dst[x] = Decode<F>(row + 2 * x);
            }
        });
        out = SurfaceView{reinterpret_cast<std::uint8_t*>(texels.data()), in.width, in.height, in.width * 4,
                          PixelFormat::A8R8G8B8};
    }
    view_ = TextureView{levels_.data(), count, PixelFormat::A8R8G8B8};
    return view_;
}

namespace {

std::vector<std::uint32_t>& Mirror() {
    static thread_local std::vector<std::uint32_t> mirror;
    return mirror;
}

template <PixelFormat F>
void Load(const DrawContext& ctx, int y, int x0, int x1) {
    const SurfaceView& real = ctx.bridge.real;
    const std::uint8_t* src = real.bits + static_cast<std::ptrdiff_t>(y) * real.pitch;
    std::uint32_t* dst = reinterpret_cast<std::uint32_t*>(ctx.target.bits + static_cast<std::ptrdiff_t>(y) * ctx.target.pitch);
    for (int x = x0; x < x1; ++x) dst[x] = Decode<F>(src + 2 * x);
}

template <PixelFormat F>
void Store(const DrawContext& ctx, int y, int x0, int x1) {
    const SurfaceView& real = ctx.bridge.real;
    std::uint8_t* dst = real.bits + static_cast<std::ptrdiff_t>(y) * real.pitch;
    const std::uint32_t* src =
        reinterpret_cast<const std::uint32_t*>(ctx.target.bits + static_cast<std::ptrdiff_t>(y) * ctx.target.pitch);
    for (int x = x0; x < x1; ++x) Encode<F>(dst + 2 * x, src[x]);
}

template <PixelFormat F>
void BridgedSpan(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    if (x0 >= x1) return;
    Load<F>(ctx, y, x0, x1);
    ctx.bridge.span(ctx, t, y, x0, x1);
    Store<F>(ctx, y, x0, x1);
}

template <PixelFormat F>
void BridgedRows(const DrawContext& ctx, const TriangleSetup& t, int y0, int count, const RowSpan* spans) {
    for (int r = 0; r < count; ++r) Load<F>(ctx, y0 + r, spans[r].x0, spans[r].x1);
    ctx.bridge.rows(ctx, t, y0, count, spans);
    for (int r = 0; r < count; ++r) Store<F>(ctx, y0 + r, spans[r].x0, spans[r].x1);
}

}  // namespace

void BeginTargetBridge(DrawContext& ctx) {
    ctx.bridge = TargetBridge{};
    const SurfaceView& t = ctx.target;
    if (!IsSixteenBit(t.format) || !t.bits || t.width <= 0 || t.height <= 0 || t.pitch < t.width * 2) return;
    std::vector<std::uint32_t>& mirror = Mirror();
    const std::size_t pixels = static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height);
    if (mirror.size() < pixels) mirror.resize(pixels);
    ctx.bridge.real = t;
    ctx.target = SurfaceView{reinterpret_cast<std::uint8_t*>(mirror.data()), t.width, t.height, t.width * 4,
                             HasAlpha(t.format) ? PixelFormat::A8R8G8B8 : PixelFormat::X8R8G8B8};
}

void EndTargetBridge(DrawContext& ctx) {
    if (!ctx.bridge.real.bits) return;
    if (ctx.span == GeneralSpan && !ctx.rows) {  // the general path handles 16-bit targets itself
        ctx.target = ctx.bridge.real;
        ctx.bridge = TargetBridge{};
        return;
    }
    ctx.bridge.span = ctx.span;
    ctx.bridge.rows = ctx.rows;
    WithFormat(ctx.bridge.real.format, [&]<PixelFormat F>() {
        if constexpr (F != PixelFormat::A8R8G8B8 && F != PixelFormat::X8R8G8B8) {
            ctx.span = BridgedSpan<F>;
            if (ctx.rows) ctx.rows = BridgedRows<F>;
        }
    });
}

}  // namespace raster
