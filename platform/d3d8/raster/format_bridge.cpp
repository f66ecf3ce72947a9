// The target bridge: a 16-bit target is drawn through a 32-bit mirror. Each run is decoded
// into the mirror, drawn by the routine chosen for a 32-bit target, then encoded back,
// which is what the general path does per pixel (decode, blend in 8 bits, encode).
#include "platform/d3d8/raster/format_bridge.h"

#include <emmintrin.h>

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
    view_ = TextureView{levels_.data(), count, PixelFormat::A8R8G8B8, source.version};
    return view_;
}

namespace {

std::vector<std::uint32_t>& Mirror() {
    static thread_local std::vector<std::uint32_t> mirror;
    return mirror;
}

// Eight R5G6B5 pixels at a time, bit for bit what Decode and Encode give; (t + 1) * 257 >> 16
// is t / 255 rounded down for the t that occur here.
int DecodeRun565(const std::uint8_t* src, std::uint32_t* dst, int n) {
    const __m128i m5 = _mm_set1_epi16(31), m6 = _mm_set1_epi16(63), alpha = _mm_set1_epi16(static_cast<short>(0xFF00));
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * k));
        const __m128i r = _mm_srli_epi16(v, 11), g = _mm_and_si128(_mm_srli_epi16(v, 5), m6), b = _mm_and_si128(v, m5);
        const __m128i r8 = _mm_or_si128(_mm_slli_epi16(r, 3), _mm_srli_epi16(r, 2));
        const __m128i g8 = _mm_or_si128(_mm_slli_epi16(g, 2), _mm_srli_epi16(g, 4));
        const __m128i b8 = _mm_or_si128(_mm_slli_epi16(b, 3), _mm_srli_epi16(b, 2));
        const __m128i gb = _mm_or_si128(_mm_slli_epi16(g8, 8), b8), ar = _mm_or_si128(alpha, r8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + k), _mm_unpacklo_epi16(gb, ar));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + k + 4), _mm_unpackhi_epi16(gb, ar));
    }
    return k;
}

inline __m128i Quantize16(__m128i c, short levels) {
    const __m128i t = _mm_add_epi16(_mm_mullo_epi16(c, _mm_set1_epi16(levels)), _mm_set1_epi16(128));
    return _mm_mulhi_epu16(t, _mm_set1_epi16(257));
}

int EncodeRun565(const std::uint32_t* src, std::uint8_t* dst, int n) {
    const __m128i low = _mm_set1_epi16(255);
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k));
        const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k + 4));
        const __m128i gb = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(p0, 16), 16), _mm_srai_epi32(_mm_slli_epi32(p1, 16), 16));
        const __m128i ar = _mm_packs_epi32(_mm_srai_epi32(p0, 16), _mm_srai_epi32(p1, 16));
        const __m128i r = Quantize16(_mm_and_si128(ar, low), 31), g = Quantize16(_mm_srli_epi16(gb, 8), 63);
        const __m128i b = Quantize16(_mm_and_si128(gb, low), 31);
        const __m128i v = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * k), v);
    }
    return k;
}

template <PixelFormat F>
void Load(const DrawContext& ctx, int y, int x0, int x1) {
    const SurfaceView& real = ctx.bridge.real;
    const std::uint8_t* src = real.bits + static_cast<std::ptrdiff_t>(y) * real.pitch;
    std::uint32_t* dst = reinterpret_cast<std::uint32_t*>(ctx.target.bits + static_cast<std::ptrdiff_t>(y) * ctx.target.pitch);
    if constexpr (F == PixelFormat::R5G6B5) {
        if (x0 < x1) x0 += DecodeRun565(src + 2 * x0, dst + x0, x1 - x0);
    }
    for (int x = x0; x < x1; ++x) dst[x] = Decode<F>(src + 2 * x);
}

template <PixelFormat F>
void Store(const DrawContext& ctx, int y, int x0, int x1) {
    const SurfaceView& real = ctx.bridge.real;
    std::uint8_t* dst = real.bits + static_cast<std::ptrdiff_t>(y) * real.pitch;
    const std::uint32_t* src =
        reinterpret_cast<const std::uint32_t*>(ctx.target.bits + static_cast<std::ptrdiff_t>(y) * ctx.target.pitch);
    if constexpr (F == PixelFormat::R5G6B5) {
        if (x0 < x1) x0 += EncodeRun565(src + x0, dst + 2 * x0, x1 - x0);
    }
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
