// Where a textured primitive can change the target at all. Under additive and alpha blending
// a pixel whose texture alpha, times the diffuse, rounds low enough adds nothing and keeps
// everything, and a glow sprite is mostly such pixels: its rows are cut to the texels that
// can show. For each texel rectangle a primitive samples, the bounding boxes of its texels
// at or above every alpha are found once per texture version and kept.
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/d3d8/raster/raster_internal.h"

namespace raster {

std::uint64_t NewTextureVersion() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

namespace {

constexpr int kMaxRectTexels = 256;  // per axis; larger rectangles (tiled quads) are not cut
constexpr int kCacheEntries = 32;

// Texel indices before addressing, as the samplers form them: i across, j down, and their
// sum and difference. Empty when i0 > i1.
struct Box {
    int i0 = 1, i1 = 0, j0 = 1, j1 = 0, s0 = 1, s1 = 0, d0 = 1, d1 = 0;
    bool Empty() const { return i0 > i1; }
    void Add(int i, int j) {
        if (Empty()) {
            *this = Box{i, i, j, j, i + j, i + j, i - j, i - j};
            return;
        }
        i0 = std::min(i0, i);
        i1 = std::max(i1, i);
        j0 = std::min(j0, j);
        j1 = std::max(j1, j);
        s0 = std::min(s0, i + j);
        s1 = std::max(s1, i + j);
        d0 = std::min(d0, i - j);
        d1 = std::max(d1, i - j);
    }
    void Add(const Box& b) {
        if (b.Empty()) return;
        if (Empty()) {
            *this = b;
            return;
        }
        i0 = std::min(i0, b.i0);
        i1 = std::max(i1, b.i1);
        j0 = std::min(j0, b.j0);
        j1 = std::max(j1, b.j1);
        s0 = std::min(s0, b.s0);
        s1 = std::max(s1, b.s1);
        d0 = std::min(d0, b.d0);
        d1 = std::max(d1, b.d1);
    }
};

struct RectKey {
    std::uint64_t version = 0;
    const std::uint8_t* bits = nullptr;
    int i0 = 0, j0 = 0, i1 = -1, j1 = -1;
    std::uint32_t addressU = 0, addressV = 0;
    bool operator==(const RectKey&) const = default;
};

struct AlphaBoxes {
    RectKey key;
    Box atLeast[256];  // the texels of alpha >= the index
};

struct BoxCache {
    std::vector<AlphaBoxes> entries;
    int last = 0, next = 0;
};

int AddressTexel(int i, int size, std::uint32_t mode) {
    if (mode == d3d::kAddressClamp) return std::clamp(i, 0, size - 1);
    if (mode == d3d::kAddressMirror) {
        const int m = i & (2 * size - 1);
        return m < size ? m : 2 * size - 1 - m;
    }
    return i & (size - 1);
}

void Build(const SurfaceView& level, AlphaBoxes& e) {
    const RectKey& k = e.key;
    Box exact[256];
    std::vector<int> column(static_cast<std::size_t>(k.i1 - k.i0 + 1));
    for (int i = k.i0; i <= k.i1; ++i) column[static_cast<std::size_t>(i - k.i0)] = AddressTexel(i, level.width, k.addressU);
    for (int j = k.j0; j <= k.j1; ++j) {
        const std::uint8_t* row = level.bits + static_cast<std::ptrdiff_t>(AddressTexel(j, level.height, k.addressV)) * level.pitch;
        for (int i = k.i0; i <= k.i1; ++i) {
            const int alpha = row[4 * column[static_cast<std::size_t>(i - k.i0)] + 3];
            exact[alpha].Add(i, j);
        }
    }
    Box running;
    for (int a = 255; a >= 0; --a) {
        running.Add(exact[a]);
        e.atLeast[a] = running;
    }
}

const AlphaBoxes& Lookup(const SurfaceView& level, const RectKey& key) {
    static thread_local BoxCache cache;
    if (cache.entries.empty()) cache.entries.resize(kCacheEntries);
    if (cache.entries[static_cast<std::size_t>(cache.last)].key == key) return cache.entries[static_cast<std::size_t>(cache.last)];
    for (int i = 0; i < kCacheEntries; ++i) {
        if (cache.entries[static_cast<std::size_t>(i)].key == key) {
            cache.last = i;
            return cache.entries[static_cast<std::size_t>(i)];
        }
    }
    cache.last = cache.next;
    cache.next = (cache.next + 1) % kCacheEntries;
    AlphaBoxes& e = cache.entries[static_cast<std::size_t>(cache.last)];
    e.key = key;
    Build(level, e);
    return e;
}

// x * y / 255 rounded, exactly as the span routines compute it.
constexpr int MulLikeSpans(int x, int y) { return ((x * y + 128) * 257) >> 16; }

int Lane(std::uint64_t mask, int lane) { return static_cast<int>(mask >> (16 * lane) & 0xFF); }

struct Tables {
    std::uint8_t need[256];  // ceil(255 / c): the least source alpha by which channel c adds anything
    float inverse[256];      // 1 / a
    constexpr Tables() : need(), inverse() {
        for (int c = 1; c < 256; ++c) {
            need[c] = static_cast<std::uint8_t>((255 + c - 1) / c);
            inverse[c] = 1.0f / static_cast<float>(c);
        }
    }
};
constexpr Tables kTables;

// The least texel alpha whose pixels can change the target: 256 when none can, -1 when every
// pixel may (the texture's alpha is not read).
int AlphaThreshold(const DrawContext& ctx, std::uint32_t argb) {
    const std::uint64_t diffOr = ctx.fast.diffuseOr;
    int most = 0, alpha = 0;  // the diffuse's greatest channel, and its alpha
    for (int c = 0; c < 4; ++c) {
        const int channel = static_cast<int>(argb >> (8 * c) & 0xFF) | Lane(diffOr, c);
        most = std::max(most, channel);
        alpha = channel;
    }
    // Additive: a channel adds floor(src * srcAlpha / 255), src at most the diffuse's.
    // Alpha blending keeps everything under a source alpha of 0.
    const int need = ctx.windowBlend == FastBlend::kAdditive ? (most == 0 ? 256 : kTables.need[most]) : 1;
    if (MulLikeSpans(255, alpha) < need) return 256;
    if (Lane(ctx.fast.textureOr, 3) == 0xFF) return -1;
    // The product rounds to nearest: it reaches need from texel * alpha >= 255 * need - 127;
    // the loops settle the last step exactly.
    int texel = std::clamp(static_cast<int>(static_cast<float>(255 * need - 127) * kTables.inverse[alpha]), 0, 255);
    while (texel > 0 && MulLikeSpans(texel - 1, alpha) >= need) --texel;
    while (MulLikeSpans(texel, alpha) < need) ++texel;
    return texel;
}


HALVORA_AVX2 inline __m128 Select(__m128 mask, __m128 a, __m128 b) { return _mm_blendv_ps(b, a, mask); }

// The x bounds of the rows from the four planes (texels: x, y, x + y, x - y) and their
// windows lo .. hi, as x - originX against y - originY. Nearly vertical bounds are left to
// the rows' limits.
HALVORA_AVX2 void AxisLines(__m128 c, __m128 dx, __m128 dy, __m128 lo, __m128 hi, RowWindow& w) {
    const __m128 r = _mm_div_ps(_mm_set1_ps(1.0f), dx), q = _mm_mul_ps(_mm_sub_ps(_mm_setzero_ps(), dy), r);
    const __m128 atLo = _mm_mul_ps(_mm_sub_ps(lo, c), r), atHi = _mm_mul_ps(_mm_sub_ps(hi, c), r);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    auto below = [&](__m128 v, float limit) HALVORA_AVX2 {  // false for NaN
        return _mm_cmp_ps(_mm_and_ps(v, magnitude), _mm_set1_ps(limit), _CMP_LT_OQ);
    };
    const __m128 usable = _mm_and_ps(_mm_and_ps(_mm_cmp_ps(dx, _mm_setzero_ps(), _CMP_NEQ_OQ), below(q, 256.0f)),
                                     _mm_and_ps(below(atLo, RowWindow::kFar), below(atHi, RowWindow::kFar)));
    const __m128 rising = _mm_cmp_ps(dx, _mm_setzero_ps(), _CMP_GT_OQ);
    const __m128 far = _mm_set1_ps(RowWindow::kFar);
    _mm_storeu_ps(w.startP, Select(usable, Select(rising, atLo, atHi), _mm_sub_ps(_mm_setzero_ps(), far)));
    _mm_storeu_ps(w.endP, Select(usable, Select(rising, atHi, atLo), far));
    _mm_storeu_ps(w.startQ, _mm_and_ps(usable, q));
    _mm_storeu_ps(w.endQ, _mm_and_ps(usable, q));
}

bool Finite(float v) { return std::fabs(v) < RowWindow::kFar; }  // false for NaN

}  // namespace

bool FindRowWindow(const DrawContext& ctx, TriangleSetup& t, const Vertex* const* corners, int n) {
    float u[4], v[4];
    n = std::min(n, 4);
    for (int i = 0; i < n; ++i) {
        u[i] = corners[i]->tex[0];
        v[i] = corners[i]->tex[1];
    }
    return FindRowWindow(ctx, t, u, v, n);
}

HALVORA_AVX2 bool FindRowWindow(const DrawContext& ctx, TriangleSetup& t, const float* u, const float* v, int n) {
    static_assert(RowWindow::kAxes == 4);
    RowWindow& w = t.window;
    w.on = false;
    const ResolvedStage& st = ctx.stages[0];
    const int threshold = AlphaThreshold(ctx, t.argb);
    if (threshold > 255) return false;
    if (threshold <= 0 || !st.texture || st.texture->version == 0) return true;
    const SurfaceView& level = st.texture->levels[t.level[0]];
    // In texels from here on: x, y, x + y and x - y of each corner.
    const float width = static_cast<float>(level.width), height = static_cast<float>(level.height);
    const __m128 ofX = _mm_setr_ps(1, 0, 1, 1), ofY = _mm_setr_ps(0, 1, 1, -1);
    auto axes = [&](float x, float y) HALVORA_AVX2 {
        return _mm_add_ps(_mm_mul_ps(_mm_set1_ps(x), ofX), _mm_mul_ps(_mm_set1_ps(y), ofY));
    };
    __m128 reachLo = axes(u[0] * width, v[0] * height), reachHi = reachLo;
    for (int i = 1; i < n; ++i) {
        const __m128 at = axes(u[i] * width, v[i] * height);
        reachLo = _mm_min_ps(reachLo, at);
        reachHi = _mm_max_ps(reachHi, at);
    }
    alignas(16) float lowest[4], highest[4];
    _mm_store_ps(lowest, reachLo);
    _mm_store_ps(highest, reachHi);
    const float xMin = lowest[0], xMax = highest[0], yMin = lowest[1], yMax = highest[1];
    constexpr float kRange = 16384;
    if (!(xMin > -kRange && xMax < kRange && yMin > -kRange && yMax < kRange && xMax - xMin < kMaxRectTexels - 8 &&
          yMax - yMin < kMaxRectTexels - 8)) {
        return true;  // NaN lands here too
    }
    // The texels the samples reach: bilinear pairs from floor(x - 0.5) to the one after,
    // point samples at floor(x), a sixteenth of a texel to spare for rounding.
    auto first = [](float c) HALVORA_AVX2 { return static_cast<int>(std::floor(c - 0.5f - 0.0625f)); };
    auto last = [](float c) HALVORA_AVX2 { return static_cast<int>(std::floor(c + 0.5f + 0.0625f)); };
    const RectKey key{st.texture->version, level.bits, first(xMin), first(yMin), last(xMax), last(yMax), ctx.fast.addressU,
                      ctx.fast.addressV};
    const Box box = Lookup(level, key).atLeast[threshold];
    if (box.Empty()) return false;
    // A bilinear footprint starts at texel floor(x - 0.5), a point sample is texel floor(x):
    // beyond these (an eighth of a texel to spare) neither reaches a texel of the box. Its
    // diagonals likewise bound x + y and x - y.
    const __m128 lo = _mm_sub_ps(_mm_cvtepi32_ps(_mm_setr_epi32(box.i0, box.j0, box.s0, box.d0)), _mm_setr_ps(0.625f, 0.625f, 1.125f, 2.125f));
    const __m128 hi = _mm_add_ps(_mm_cvtepi32_ps(_mm_setr_epi32(box.i1, box.j1, box.s1, box.d1)), _mm_setr_ps(1.625f, 1.625f, 3.125f, 2.125f));
    if (_mm_movemask_ps(_mm_or_ps(_mm_cmpgt_ps(lo, reachLo), _mm_cmplt_ps(hi, reachHi))) == 0) return true;  // cuts nothing

    const float xc = t.u.c * width, xdx = t.u.dx * width, xdy = t.u.dy * width;
    const float yc = t.v.c * height, ydx = t.v.dx * height, ydy = t.v.dy * height;
    // Rows: the screen rows of the box's corners.
    const float det = xdx * ydy - xdy * ydx;
    if (!(std::fabs(det) > 0.0f) || !Finite(det)) return true;
    alignas(16) float low[4], high[4];
    _mm_store_ps(low, lo);
    _mm_store_ps(high, hi);
    const float a = xdx / det, b = -ydx / det, c = -(a * yc + b * xc) + t.originY;
    const float rows = c + std::min(a * low[1], a * high[1]) + std::min(b * low[0], b * high[0]);
    const float rowsEnd = c + std::max(a * low[1], a * high[1]) + std::max(b * low[0], b * high[0]);
    if (!Finite(rows) || !Finite(rowsEnd)) return true;
    w.yFirst = static_cast<int>(std::ceil(rows - RowWindow::kSlack));
    w.yLast = static_cast<int>(std::floor(rowsEnd + RowWindow::kSlack));
    w.originX = t.originX;
    w.originY = t.originY;
    AxisLines(_mm_setr_ps(xc, yc, xc + yc, xc - yc), _mm_setr_ps(xdx, ydx, xdx + ydx, xdx - ydx),
              _mm_setr_ps(xdy, ydy, xdy + ydy, xdy - ydy), lo, hi, w);
    w.on = true;
    return true;
}

HALVORA_INTRINSIC_WARNINGS_OFF

namespace {

constexpr int kLanes = WindowLanes::kLanes;

// min and max as std::min and std::max order them: the first argument unless the second is
// below (above) it, so that NaN goes where the one-quad path sends it.
HALVORA_AVX512 inline __m512 StdMin(__m512 a, __m512 b) { return _mm512_mask_mov_ps(a, _mm512_cmp_ps_mask(b, a, _CMP_LT_OQ), b); }
HALVORA_AVX512 inline __m512 StdMax(__m512 a, __m512 b) { return _mm512_mask_mov_ps(a, _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ), b); }

HALVORA_AVX512 inline __m512 Negate(__m512 v) { return _mm512_xor_ps(v, _mm512_set1_ps(-0.0f)); }

HALVORA_AVX512 inline __mmask16 Below(__m512 v, float limit) {  // false for NaN
    const __m512 magnitude = _mm512_castsi512_ps(_mm512_set1_epi32(0x7FFFFFFF));
    return _mm512_cmp_ps_mask(_mm512_and_ps(v, magnitude), _mm512_set1_ps(limit), _CMP_LT_OQ);
}

HALVORA_AVX512 inline __m512i FloorToInt(__m512 v) {
    return _mm512_cvttps_epi32(_mm512_roundscale_ps(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}

// The texel rectangles the lanes' quads reach: per axis (x, y, x + y, x - y) the least and
// greatest over the corners, as FindRowWindow's four-lane registers hold them.
struct Reach {
    __m512 lo[4], hi[4];
};

HALVORA_AVX512 inline Reach ReachOf(const WindowLanes& w, float width, float height) {
    const float ofX[4] = {1, 0, 1, 1}, ofY[4] = {0, 1, 1, -1};
    Reach r;
    for (int c = 0; c < 4; ++c) {
        const __m512 x = _mm512_mul_ps(_mm512_load_ps(w.u[c]), _mm512_set1_ps(width));
        const __m512 y = _mm512_mul_ps(_mm512_load_ps(w.v[c]), _mm512_set1_ps(height));
        for (int k = 0; k < 4; ++k) {
            const __m512 at = _mm512_add_ps(_mm512_mul_ps(x, _mm512_set1_ps(ofX[k])), _mm512_mul_ps(y, _mm512_set1_ps(ofY[k])));
            r.lo[k] = c == 0 ? at : _mm512_min_ps(r.lo[k], at);
            r.hi[k] = c == 0 ? at : _mm512_max_ps(r.hi[k], at);
        }
    }
    return r;
}

struct LaneBoxes {
    alignas(64) int i0[kLanes], i1[kLanes], j0[kLanes], j1[kLanes], s0[kLanes], s1[kLanes], d0[kLanes], d1[kLanes];
};

}  // namespace

HALVORA_AVX512 unsigned FindRowWindows(const DrawContext& ctx, int levelIndex, WindowLanes& w, unsigned lanes) {
    w.on = 0;
    const ResolvedStage& st = ctx.stages[0];
    if (!st.texture || st.texture->version == 0) {
        unsigned drawn = 0;
        for (unsigned m = lanes; m != 0; m &= m - 1) {
            if (AlphaThreshold(ctx, w.argb[__builtin_ctz(m)]) <= 255) drawn |= m & -m;
        }
        return drawn;
    }
    const SurfaceView& level = st.texture->levels[levelIndex];
    const float width = static_cast<float>(level.width), height = static_cast<float>(level.height);
    const Reach r = ReachOf(w, width, height);
    constexpr float kRange = 16384;
    const __m512 range = _mm512_set1_ps(kRange), span = _mm512_set1_ps(static_cast<float>(kMaxRectTexels - 8));
    const __mmask16 ranged =
        _mm512_cmp_ps_mask(r.lo[0], _mm512_set1_ps(-kRange), _CMP_GT_OQ) & _mm512_cmp_ps_mask(r.hi[0], range, _CMP_LT_OQ) &
        _mm512_cmp_ps_mask(r.lo[1], _mm512_set1_ps(-kRange), _CMP_GT_OQ) & _mm512_cmp_ps_mask(r.hi[1], range, _CMP_LT_OQ) &
        _mm512_cmp_ps_mask(_mm512_sub_ps(r.hi[0], r.lo[0]), span, _CMP_LT_OQ) &
        _mm512_cmp_ps_mask(_mm512_sub_ps(r.hi[1], r.lo[1]), span, _CMP_LT_OQ);
    const __m512 half = _mm512_set1_ps(0.5f), spare = _mm512_set1_ps(0.0625f);
    alignas(64) int first[2][kLanes], last[2][kLanes];
    for (int k = 0; k < 2; ++k) {
        _mm512_store_si512(first[k], FloorToInt(_mm512_sub_ps(_mm512_sub_ps(r.lo[k], half), spare)));
        _mm512_store_si512(last[k], FloorToInt(_mm512_add_ps(_mm512_add_ps(r.hi[k], half), spare)));
    }
    // The boxes of the texels that show, a lane at a time.
    unsigned drawn = 0, cut = 0;
    LaneBoxes b;
    // Particles born together share their colours: the last threshold is often the next one.
    std::uint32_t lastArgb = 0;
    int threshold = 0;
    bool known = false;
    for (unsigned m = lanes; m != 0; m &= m - 1) {
        const int k = __builtin_ctz(m);
        if (!known || w.argb[k] != lastArgb) {
            known = true;
            lastArgb = w.argb[k];
            threshold = AlphaThreshold(ctx, lastArgb);
        }
        if (threshold > 255) continue;
        drawn |= 1u << k;
        if (threshold <= 0 || !(ranged >> k & 1)) continue;
        const RectKey key{st.texture->version, level.bits, first[0][k], first[1][k], last[0][k], last[1][k],
                          ctx.fast.addressU, ctx.fast.addressV};
        const Box box = Lookup(level, key).atLeast[threshold];
        if (box.Empty()) {
            drawn &= ~(1u << k);
            continue;
        }
        b.i0[k] = box.i0, b.i1[k] = box.i1, b.j0[k] = box.j0, b.j1[k] = box.j1;
        b.s0[k] = box.s0, b.s1[k] = box.s1, b.d0[k] = box.d0, b.d1[k] = box.d1;
        cut |= 1u << k;
    }
    if (cut == 0) return drawn;
    const __mmask16 boxed = static_cast<__mmask16>(cut);
    auto lanesOf = [&](const int* v) HALVORA_AVX512 { return _mm512_cvtepi32_ps(_mm512_maskz_load_epi32(boxed, v)); };
    const float below[4] = {0.625f, 0.625f, 1.125f, 2.125f}, above[4] = {1.625f, 1.625f, 3.125f, 2.125f};
    const int* low[4] = {b.i0, b.j0, b.s0, b.d0};
    const int* high[4] = {b.i1, b.j1, b.s1, b.d1};
    __m512 lo[4], hi[4];
    __mmask16 cuts = 0;
    for (int k = 0; k < 4; ++k) {
        lo[k] = _mm512_sub_ps(lanesOf(low[k]), _mm512_set1_ps(below[k]));
        hi[k] = _mm512_add_ps(lanesOf(high[k]), _mm512_set1_ps(above[k]));
        cuts |= _mm512_cmp_ps_mask(lo[k], r.lo[k], _CMP_GT_OQ) | _mm512_cmp_ps_mask(hi[k], r.hi[k], _CMP_LT_OQ);
    }
    const __m512 vw = _mm512_set1_ps(width), vh = _mm512_set1_ps(height);
    const __m512 xc = _mm512_mul_ps(_mm512_load_ps(w.u[0]), vw), xdx = _mm512_mul_ps(_mm512_load_ps(w.udx), vw);
    const __m512 xdy = _mm512_mul_ps(_mm512_load_ps(w.udy), vw), yc = _mm512_mul_ps(_mm512_load_ps(w.v[0]), vh);
    const __m512 ydx = _mm512_mul_ps(_mm512_load_ps(w.vdx), vh), ydy = _mm512_mul_ps(_mm512_load_ps(w.vdy), vh);
    const __m512 det = _mm512_sub_ps(_mm512_mul_ps(xdx, ydy), _mm512_mul_ps(xdy, ydx));
    const __m512 zero = _mm512_setzero_ps(), far = _mm512_set1_ps(RowWindow::kFar);
    const __mmask16 solvable = _mm512_cmp_ps_mask(_mm512_abs_ps(det), zero, _CMP_GT_OQ) & Below(det, RowWindow::kFar);
    const __m512 a = _mm512_div_ps(xdx, det), bb = _mm512_div_ps(Negate(ydx), det);
    const __m512 c = _mm512_add_ps(Negate(_mm512_add_ps(_mm512_mul_ps(a, yc), _mm512_mul_ps(bb, xc))),
                                   _mm512_load_ps(w.originY));
    const __m512 ayLo = _mm512_mul_ps(a, lo[1]), ayHi = _mm512_mul_ps(a, hi[1]);
    const __m512 bxLo = _mm512_mul_ps(bb, lo[0]), bxHi = _mm512_mul_ps(bb, hi[0]);
    const __m512 rows = _mm512_add_ps(_mm512_add_ps(c, StdMin(ayLo, ayHi)), StdMin(bxLo, bxHi));
    const __m512 rowsEnd = _mm512_add_ps(_mm512_add_ps(c, StdMax(ayLo, ayHi)), StdMax(bxLo, bxHi));
    const __mmask16 windowed = boxed & cuts & solvable & Below(rows, RowWindow::kFar) & Below(rowsEnd, RowWindow::kFar);
    const __m512 slack = _mm512_set1_ps(RowWindow::kSlack);
    _mm512_store_si512(w.yFirst, _mm512_cvttps_epi32(_mm512_roundscale_ps(_mm512_sub_ps(rows, slack),
                                                                          _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC)));
    _mm512_store_si512(w.yLast, FloorToInt(_mm512_add_ps(rowsEnd, slack)));
    // AxisLines, an axis at a time.
    const __m512 axisC[4] = {xc, yc, _mm512_add_ps(xc, yc), _mm512_sub_ps(xc, yc)};
    const __m512 axisDx[4] = {xdx, ydx, _mm512_add_ps(xdx, ydx), _mm512_sub_ps(xdx, ydx)};
    const __m512 axisDy[4] = {xdy, ydy, _mm512_add_ps(xdy, ydy), _mm512_sub_ps(xdy, ydy)};
    for (int k = 0; k < 4; ++k) {
        const __m512 rk = _mm512_div_ps(_mm512_set1_ps(1.0f), axisDx[k]);
        const __m512 q = _mm512_mul_ps(_mm512_sub_ps(zero, axisDy[k]), rk);
        const __m512 atLo = _mm512_mul_ps(_mm512_sub_ps(lo[k], axisC[k]), rk);
        const __m512 atHi = _mm512_mul_ps(_mm512_sub_ps(hi[k], axisC[k]), rk);
        const __mmask16 usable = _mm512_cmp_ps_mask(axisDx[k], zero, _CMP_NEQ_OQ) & Below(q, 256.0f) &
                                 Below(atLo, RowWindow::kFar) & Below(atHi, RowWindow::kFar);
        const __mmask16 rising = _mm512_cmp_ps_mask(axisDx[k], zero, _CMP_GT_OQ);
        const __m512 start = _mm512_mask_mov_ps(atHi, rising, atLo), end = _mm512_mask_mov_ps(atLo, rising, atHi);
        _mm512_store_ps(w.startP[k], _mm512_mask_mov_ps(_mm512_sub_ps(zero, far), usable, start));
        _mm512_store_ps(w.endP[k], _mm512_mask_mov_ps(far, usable, end));
        _mm512_store_ps(w.startQ[k], _mm512_maskz_mov_ps(usable, q));
        _mm512_store_ps(w.endQ[k], _mm512_maskz_mov_ps(usable, q));
    }
    w.on = windowed;
    return drawn;
}

void TakeWindow(const WindowLanes& w, int k, RowWindow& out) {
    out.on = (w.on >> k & 1) != 0;
    if (!out.on) return;
    out.yFirst = w.yFirst[k];
    out.yLast = w.yLast[k];
    out.originX = w.originX[k];
    out.originY = w.originY[k];
    for (int a = 0; a < RowWindow::kAxes; ++a) {
        out.startP[a] = w.startP[a][k];
        out.startQ[a] = w.startQ[a][k];
        out.endP[a] = w.endP[a][k];
        out.endQ[a] = w.endQ[a][k];
    }
}

HALVORA_INTRINSIC_WARNINGS_ON

}  // namespace raster
