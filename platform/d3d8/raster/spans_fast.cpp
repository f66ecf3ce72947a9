// Span routines specialised for the draws that dominate a frame: textured, diffuse-modulated
// particles (additive or alpha-blended), alpha-blended colour rectangles and textured tiles.
// Eight pixels at a time with AVX2 (chosen at run time); flat colour spans also have an SSE2
// version. Colour arithmetic rounds x * y / 255 to nearest and the frame-buffer blend rounds
// down, as the general path does.
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/d3d8/raster/raster_internal.h"

namespace raster {
namespace {

std::atomic<SimdLevel> g_simdLimit{SimdLevel::kAvx512};

bool Allowed(SimdLevel level) { return g_simdLimit.load(std::memory_order_relaxed) >= level; }

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have && Allowed(SimdLevel::kAvx2);
}

bool HaveAvx512() {
    static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                             __builtin_cpu_supports("avx512dq");
    return have && Allowed(SimdLevel::kAvx512);
}

std::uint32_t* RowPointer(const DrawContext& ctx, int y, int x) {
    return reinterpret_cast<std::uint32_t*>(ctx.target.bits + static_cast<std::ptrdiff_t>(y) * ctx.target.pitch) + x;
}

// ---- AVX2 -------------------------------------------------------------------------------


// x / 255 rounded, for 16-bit lanes holding at most 255 * 255: with t = x + 128 < 2^16,
// (t + (t >> 8)) >> 8 equals (t * 257) >> 16, one high multiply.
HALVORA_AVX2 inline __m256i Div255x16(__m256i x) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
}

HALVORA_AVX2 inline __m256i Mul255x16(__m256i a, __m256i b) { return Div255x16(_mm256_mullo_epi16(a, b)); }

// x / 255 rounded down, for x <= 255 * 255: ((x + 1) * 257) >> 16.
HALVORA_AVX2 inline __m256i BlendDiv255x16(__m256i x) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(1)), _mm256_set1_epi16(257));
}

HALVORA_AVX2 inline __m256i AlphaOf16(__m256i x) {
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(x, 0xFF), 0xFF);
}

// Unpacked halves of eight ARGB pixels: lo holds pixels 0, 1, 4, 5 and hi 2, 3, 6, 7.
struct Wide {
    __m256i lo, hi;
};

HALVORA_AVX2 inline Wide Unpack(__m256i p) {
    const __m256i z = _mm256_setzero_si256();
    return Wide{_mm256_unpacklo_epi8(p, z), _mm256_unpackhi_epi8(p, z)};
}

HALVORA_AVX2 inline __m256i Pack(const Wide& w) { return _mm256_packus_epi16(w.lo, w.hi); }

struct AxisAddress {
    __m256i lo, hi, mask, mirrorBit, mirrorXor;
};

HALVORA_AVX2 inline AxisAddress MakeAddress(std::uint32_t mode, int size) {
    AxisAddress a;
    a.lo = _mm256_set1_epi32(INT32_MIN);
    a.hi = _mm256_set1_epi32(INT32_MAX);
    a.mask = _mm256_set1_epi32(-1);
    a.mirrorBit = _mm256_setzero_si256();
    a.mirrorXor = _mm256_setzero_si256();
    if (mode == d3d::kAddressClamp) {
        a.lo = _mm256_setzero_si256();
        a.hi = _mm256_set1_epi32(size - 1);
    } else if (mode == d3d::kAddressMirror) {
        a.mask = _mm256_set1_epi32(2 * size - 1);
        a.mirrorBit = _mm256_set1_epi32(size);
        a.mirrorXor = _mm256_set1_epi32(2 * size - 1);
    } else {
        a.mask = _mm256_set1_epi32(size - 1);
    }
    return a;
}

HALVORA_AVX2 inline __m256i Address(__m256i i, const AxisAddress& a) {
    __m256i t = _mm256_and_si256(_mm256_min_epi32(_mm256_max_epi32(i, a.lo), a.hi), a.mask);
    const __m256i flip = _mm256_cmpeq_epi32(_mm256_and_si256(t, a.mirrorBit), a.mirrorBit);
    return _mm256_xor_si256(t, _mm256_and_si256(flip, a.mirrorXor));
}

struct Sampler {
    const int* texels;
    __m128i pitchShift;  // log2 of the row pitch in texels
    AxisAddress u, v;
    __m256i uMask, vMask;  // size - 1, for wrapping
    __m256 width, height;
    __m256 width64, height64;  // in 1/64 texels: (u * size) * 64 rounds as u * (size * 64) does
};

// Sixteen-bit channels of pixels 0-3 (a) and 4-7 (b).
struct Half {
    __m256i a, b;
};

HALVORA_AVX2 inline Half Split(__m256i p) {
    return Half{_mm256_cvtepu8_epi16(_mm256_castsi256_si128(p)), _mm256_cvtepu8_epi16(_mm256_extracti128_si256(p, 1))};
}

HALVORA_AVX2 inline __m256i Join(const Half& h) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(h.a, h.b), 0xD8);
}

// How texel indices reach the texture: through the stage's address modes, by the power-of-two
// mask of wrapping, or unchanged on rows whose every sample lies inside the texture.
enum class Addressing { kModes, kWrap, kInterior };

template <Addressing kAddr>
HALVORA_AVX2 inline __m256i AddressU(const Sampler& s, __m256i i) {
    if constexpr (kAddr == Addressing::kInterior) return i;
    return kAddr == Addressing::kWrap ? _mm256_and_si256(i, s.uMask) : Address(i, s.u);
}
template <Addressing kAddr>
HALVORA_AVX2 inline __m256i AddressV(const Sampler& s, __m256i i) {
    if constexpr (kAddr == Addressing::kInterior) return i;
    return kAddr == Addressing::kWrap ? _mm256_and_si256(i, s.vMask) : Address(i, s.v);
}

// Texel pairs (i, i + 1) of one row as 64-bit lanes: pixels 0-3 in a, 4-7 in b.
HALVORA_AVX2 inline Half FetchPairs(const Sampler& s, __m256i row, __m256i x0, __m256i x1, bool adjacent) {
    if (adjacent) {
        const __m256i idx = _mm256_add_epi32(row, x0);
        const auto* base = reinterpret_cast<const long long*>(s.texels);
        return Half{_mm256_i32gather_epi64(base, _mm256_castsi256_si128(idx), 4),
                    _mm256_i32gather_epi64(base, _mm256_extracti128_si256(idx, 1), 4)};
    }
    const __m256i t0 = _mm256_i32gather_epi32(s.texels, _mm256_add_epi32(row, x0), 4);
    const __m256i t1 = _mm256_i32gather_epi32(s.texels, _mm256_add_epi32(row, x1), 4);
    const __m256i lo = _mm256_unpacklo_epi32(t0, t1), hi = _mm256_unpackhi_epi32(t0, t1);
    return Half{_mm256_permute2x128_si256(lo, hi, 0x20), _mm256_permute2x128_si256(lo, hi, 0x31)};
}

// Bilinear with 6-bit weights: pmaddubsw blends each texel pair horizontally, pmulhrsw
// blends the two rows.
template <Addressing kAddr>
HALVORA_AVX2 __attribute__((always_inline)) inline Half SampleBilinear(const Sampler& s, __m256 u, __m256 v) {
    // (u * size - 0.5) in 1/64 texels, rounded to nearest: floor(u * size * 64 - 32 + 0.5).
    const __m256 bias = _mm256_set1_ps(-31.5f);
    const __m256i su = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_add_ps(_mm256_mul_ps(u, s.width64), bias)));
    const __m256i sv = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_add_ps(_mm256_mul_ps(v, s.height64), bias)));
    const __m256i one = _mm256_set1_epi32(1), frac = _mm256_set1_epi32(63);
    const __m256i i0 = _mm256_srai_epi32(su, 6), j0 = _mm256_srai_epi32(sv, 6);
    const __m256i x0 = AddressU<kAddr>(s, i0), x1 = AddressU<kAddr>(s, _mm256_add_epi32(i0, one));
    const __m256i r0 = _mm256_sll_epi32(AddressV<kAddr>(s, j0), s.pitchShift);
    const __m256i r1 = _mm256_sll_epi32(AddressV<kAddr>(s, _mm256_add_epi32(j0, one)), s.pitchShift);
    // Usually the four texels are two adjacent pairs one row apart: two 8-byte loads per
    // pixel, which beat gathers. Wrapping edges fall back to gathering texel by texel.
    const __m256i pitch = _mm256_sll_epi32(one, s.pitchShift);
    const bool adjacent = kAddr == Addressing::kInterior ||
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi32(x1, _mm256_add_epi32(x0, one)),
                                              _mm256_cmpeq_epi32(r1, _mm256_add_epi32(r0, pitch)))) == -1;
    Half top, bottom;
    if (adjacent) {
        alignas(32) int idx[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(idx), _mm256_add_epi32(r0, x0));
        const std::ptrdiff_t down = _mm_cvtsi128_si32(_mm256_castsi256_si128(pitch));
        auto pair = [&](int a, int b, std::ptrdiff_t offset) HALVORA_AVX2 {
            const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s.texels + idx[a] + offset));
            return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(lo), reinterpret_cast<const double*>(s.texels + idx[b] + offset)));
        };
        top.a = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(0, 1, 0)), pair(2, 3, 0), 1);
        top.b = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(4, 5, 0)), pair(6, 7, 0), 1);
        bottom.a = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(0, 1, down)), pair(2, 3, down), 1);
        bottom.b = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(4, 5, down)), pair(6, 7, down), 1);
    } else {
        top = FetchPairs(s, r0, x0, x1, false);
        bottom = FetchPairs(s, r1, x0, x1, false);
    }

    const __m256i fx = _mm256_and_si256(su, frac), fy = _mm256_and_si256(sv, frac);
    const __m256i wx16 = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(64), fx), _mm256_slli_epi32(fx, 8));
    const __m256i wx = _mm256_or_si256(wx16, _mm256_slli_epi32(wx16, 16));
    const __m256i wy = _mm256_or_si256(_mm256_slli_epi32(fy, 9), _mm256_slli_epi32(fy, 25));
    const __m256i first = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), second = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
    const __m256i interleave = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0, 4, 1, 5, 2,
                                                6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m256i round = _mm256_set1_epi16(32);
    auto blend = [&](__m256i t, __m256i b, __m256i wxq, __m256i wyq) HALVORA_AVX2 {
        const __m256i ht = _mm256_maddubs_epi16(_mm256_shuffle_epi8(t, interleave), wxq);
        const __m256i hb = _mm256_maddubs_epi16(_mm256_shuffle_epi8(b, interleave), wxq);
        const __m256i mixed = _mm256_add_epi16(ht, _mm256_mulhrs_epi16(_mm256_sub_epi16(hb, ht), wyq));
        return _mm256_srli_epi16(_mm256_add_epi16(mixed, round), 6);
    };
    return Half{blend(top.a, bottom.a, _mm256_permutevar8x32_epi32(wx, first), _mm256_permutevar8x32_epi32(wy, first)),
                blend(top.b, bottom.b, _mm256_permutevar8x32_epi32(wx, second), _mm256_permutevar8x32_epi32(wy, second))};
}

template <Addressing kAddr>
HALVORA_AVX2 inline Half SamplePoint(const Sampler& s, __m256 u, __m256 v) {
    const __m256i i = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(u, s.width)));
    const __m256i j = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(v, s.height)));
    const __m256i idx = _mm256_add_epi32(_mm256_sll_epi32(AddressV<kAddr>(s, j), s.pitchShift), AddressU<kAddr>(s, i));
    return Split(_mm256_i32gather_epi32(s.texels, idx, 4));
}

HALVORA_AVX2 inline __m256i Wide64(std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }

HALVORA_AVX2 inline __m256i BlendHalf(FastBlend blend, __m256i src, __m256i dst) {
    if (blend == FastBlend::kReplace) return src;
    if (blend == FastBlend::kOneOne) return _mm256_add_epi16(src, dst);
    const __m256i a = AlphaOf16(src);
    if (blend == FastBlend::kAdditive) return _mm256_add_epi16(BlendDiv255x16(_mm256_mullo_epi16(src, a)), dst);
    const __m256i inv = _mm256_sub_epi16(_mm256_set1_epi16(255), a);
    return BlendDiv255x16(_mm256_add_epi16(_mm256_mullo_epi16(src, a), _mm256_mullo_epi16(dst, inv)));
}

// Eight pixels of diffuse colour from the four colour planes, as packed ARGB.
struct ColorRamp {
    __m256 c[4], step[4];
};

HALVORA_AVX2 inline __m256i RampPixels(const ColorRamp& r) {
    const __m256i zero = _mm256_setzero_si256(), max = _mm256_set1_epi32(255);
    __m256i ch[4];
    for (int i = 0; i < 4; ++i) {
        ch[i] = _mm256_min_epi32(_mm256_max_epi32(_mm256_cvtps_epi32(r.c[i]), zero), max);
    }
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(ch[3], 24), _mm256_slli_epi32(ch[0], 16)),
                           _mm256_or_si256(_mm256_slli_epi32(ch[1], 8), ch[2]));
}

// Per-triangle constants of the textured rows.
struct TexturedConsts {
    Sampler smp;
    __m256 dq, du, dv;
    __m256i texOr, diffOr, diffuse, lane;
};

// The interpolants at the next group of eight pixels of a row.
struct RowCursor {
    __m256 q, u, v;
    ColorRamp colors;
};

template <FastBlend kBlend, bool kConstant, bool kBilinear, bool kAffine, Addressing kAddr>
HALVORA_AVX2 __attribute__((always_inline)) inline void TexturedGroups(const TexturedConsts& k, RowCursor& c,
                                                                     std::uint32_t* dst, const std::uint32_t* rowEnd,
                                                                     int n) {
    for (; n > 0; n -= 8, dst += 8) {
        __m256 su = c.u, sv = c.v;
        if constexpr (!kAffine) {
            const __m256 inv = _mm256_div_ps(_mm256_set1_ps(1.0f), c.q);
            su = _mm256_mul_ps(c.u, inv);
            sv = _mm256_mul_ps(c.v, inv);
            c.q = _mm256_add_ps(c.q, k.dq);
        }
        const Half tex = kBilinear ? SampleBilinear<kAddr>(k.smp, su, sv) : SamplePoint<kAddr>(k.smp, su, sv);
        Half diff{k.diffuse, k.diffuse};
        if constexpr (!kConstant) {
            diff = Split(RampPixels(c.colors));
            diff.a = _mm256_or_si256(diff.a, k.diffOr);
            diff.b = _mm256_or_si256(diff.b, k.diffOr);
            for (int i = 0; i < 4; ++i) c.colors.c[i] = _mm256_add_ps(c.colors.c[i], c.colors.step[i]);
        }
        const __m256i srcA = Mul255x16(_mm256_or_si256(tex.a, k.texOr), diff.a);
        const __m256i srcB = Mul255x16(_mm256_or_si256(tex.b, k.texOr), diff.b);
        // Short tails inside the row read and rewrite the pixels past the span unchanged,
        // which is cheaper than masked moves; only the row's last pixels need those.
        const bool whole = n >= 8 || dst + 8 <= rowEnd;
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), k.lane);
        const __m256i old = whole ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst))
                                  : _mm256_maskload_epi32(reinterpret_cast<const int*>(dst), mask);
        const Half d = Split(old);
        __m256i out = Join(Half{BlendHalf(kBlend, srcA, d.a), BlendHalf(kBlend, srcB, d.b)});
        if (n >= 8) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), out);
        } else if (whole) {
            out = _mm256_blendv_epi8(old, out, mask);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), out);
        } else {
            _mm256_maskstore_epi32(reinterpret_cast<int*>(dst), mask, out);
        }
        c.u = _mm256_add_ps(c.u, k.du);
        c.v = _mm256_add_ps(c.v, k.dv);
    }
}

// Whether every bilinear footprint of an affine row, from its first texture coordinate over
// Lanes pixels, has both texels of each axis inside the level, a texel to spare on each side
// for the rounding of the stepped coordinates. Such rows need no addressing at all.
inline bool RowInterior(float u, float du, float v, float dv, int lanes, const SurfaceView& level) {
    auto inside = [lanes](float c, float d, int size) {
        const float a = c * static_cast<float>(size) * 64.0f - 31.5f;
        const float b = (c + d * static_cast<float>(lanes - 1)) * static_cast<float>(size) * 64.0f - 31.5f;
        const float limit = static_cast<float>(size - 3) * 64.0f;
        return std::min(a, b) >= 64.0f && std::max(a, b) <= limit;  // false for NaN
    };
    return inside(u, du, level.width) && inside(v, dv, level.height);
}

// ---- AVX-512: sixteen pixels of the interior rows at a time ------------------------------
//
// The same arithmetic as the AVX2 groups, operation for operation, so that both draw the
// same pixels: lanes 0-7 hold what an AVX2 group would and lanes 8-15 what the next one
// would, and every coordinate advances by two eight-pixel steps.

HALVORA_INTRINSIC_WARNINGS_OFF

// Per-triangle constants of the wide rows.
struct WideConsts {
    const int* texels;
    int pitchShift;  // log2 of the row pitch in texels
    const SurfaceView* level;
    float du, dv, colorDx[4];
    __m512 width64, height64, du8, dv8, colorStep[4];
    __m512i texOr, diffOr, diffuse;
    std::uint64_t diffuse64;  // one pixel's worth of diffuse
    bool edges;  // CLAMP or MIRROR on both axes: queued rows may reach one texel past the edges
};

struct WideHalf {
    __m512i a, b;  // sixteen-bit channels of pixels 0-7 and 8-15
};

HALVORA_AVX512 inline __m512i Mul255x32(__m512i a, __m512i b) {
    const __m512i t = _mm512_add_epi16(_mm512_mullo_epi16(a, b), _mm512_set1_epi16(128));
    return _mm512_mulhi_epu16(t, _mm512_set1_epi16(257));
}

HALVORA_AVX512 inline __m512i BlendDiv255x32(__m512i x) {
    return _mm512_mulhi_epu16(_mm512_add_epi16(x, _mm512_set1_epi16(1)), _mm512_set1_epi16(257));
}

HALVORA_AVX512 inline __m512i AlphaOf32(__m512i x) {
    return _mm512_shufflehi_epi16(_mm512_shufflelo_epi16(x, 0xFF), 0xFF);
}

HALVORA_AVX512 inline WideHalf SplitWide(__m512i p) {
    return WideHalf{_mm512_cvtepu8_epi16(_mm512_castsi512_si256(p)), _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(p, 1))};
}

// Sixteen-bit channels (each <= 255) back to sixteen packed pixels in order.
HALVORA_AVX512 inline __m512i JoinWide(const WideHalf& h) {
    return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), _mm512_packus_epi16(h.a, h.b));
}

// (u * size - 0.5) in 1/64 texels rounded to nearest, as SampleBilinear computes it.
HALVORA_AVX512 inline __m512i SixtyFourths(__m512 c, __m512 size64) {
    const __m512 x = _mm512_add_ps(_mm512_mul_ps(c, size64), _mm512_set1_ps(-31.5f));
    return _mm512_cvt_roundps_epi32(x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);  // floor, then convert
}

// Top and bottom texel pairs blended by their 6-bit weights, as SampleBilinear does.
HALVORA_AVX512 inline __m512i MixTexels(__m512i top, __m512i bottom, __m512i wx, __m512i wy) {
    const __m512i interleave = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15));
    const __m512i ht = _mm512_maddubs_epi16(_mm512_shuffle_epi8(top, interleave), wx);
    const __m512i hb = _mm512_maddubs_epi16(_mm512_shuffle_epi8(bottom, interleave), wx);
    const __m512i mixed = _mm512_add_epi16(ht, _mm512_mulhrs_epi16(_mm512_sub_epi16(hb, ht), wy));
    return _mm512_srli_epi16(_mm512_add_epi16(mixed, _mm512_set1_epi16(32)), 6);
}

// Lanes past the row's end (clear in Live) read nothing: they may lie outside the texture.
HALVORA_AVX512 inline WideHalf InteriorBilinear(const WideConsts& w, __m512 u, __m512 v, __mmask16 live) {
    const __m512i su = SixtyFourths(u, w.width64), sv = SixtyFourths(v, w.height64);
    const __m512i idx = _mm512_add_epi32(_mm512_sll_epi32(_mm512_srai_epi32(sv, 6), _mm_cvtsi32_si128(w.pitchShift)),
                                         _mm512_srai_epi32(su, 6));
    const auto* top = reinterpret_cast<const long long*>(w.texels);
    const auto* bottom = reinterpret_cast<const long long*>(w.texels + (std::ptrdiff_t{1} << w.pitchShift));
    const __m256i lo = _mm512_castsi512_si256(idx), hi = _mm512_extracti64x4_epi64(idx, 1);
    const __mmask8 liveLo = static_cast<__mmask8>(live), liveHi = static_cast<__mmask8>(live >> 8);
    const __m512i none = _mm512_setzero_si512();
    WideHalf t{_mm512_mask_i32gather_epi64(none, liveLo, lo, top, 4), none};
    WideHalf b{_mm512_mask_i32gather_epi64(none, liveLo, lo, bottom, 4), none};
    if (liveHi) {
        t.b = _mm512_mask_i32gather_epi64(none, liveHi, hi, top, 4);
        b.b = _mm512_mask_i32gather_epi64(none, liveHi, hi, bottom, 4);
    }

    const __m512i frac = _mm512_set1_epi32(63);
    const __m512i fx = _mm512_and_si512(su, frac), fy = _mm512_and_si512(sv, frac);
    const __m512i wx16 = _mm512_or_si512(_mm512_sub_epi32(_mm512_set1_epi32(64), fx), _mm512_slli_epi32(fx, 8));
    const __m512i wx = _mm512_or_si512(wx16, _mm512_slli_epi32(wx16, 16));
    const __m512i wy = _mm512_or_si512(_mm512_slli_epi32(fy, 9), _mm512_slli_epi32(fy, 25));
    const __m512i first = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
    const __m512i second = _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
    return WideHalf{MixTexels(t.a, b.a, _mm512_permutexvar_epi32(first, wx), _mm512_permutexvar_epi32(first, wy)),
                    MixTexels(t.b, b.b, _mm512_permutexvar_epi32(second, wx), _mm512_permutexvar_epi32(second, wy))};
}

// Source over destination by source alpha, sixteen-bit channels.
HALVORA_AVX512 inline __m512i Over(__m512i src, __m512i dst) {
    const __m512i a = AlphaOf32(src), inv = _mm512_sub_epi16(_mm512_set1_epi16(255), a);
    return BlendDiv255x32(_mm512_add_epi16(_mm512_mullo_epi16(src, a), _mm512_mullo_epi16(dst, inv)));
}

// The frame-buffer blend of sixteen source pixels (sixteen-bit channels) over Old.
template <FastBlend kBlend>
HALVORA_AVX512 inline __m512i BlendWide(const WideHalf& src, __m512i old) {
    if constexpr (kBlend == FastBlend::kReplace) return JoinWide(src);
    if constexpr (kBlend == FastBlend::kOneOne) return _mm512_adds_epu8(old, JoinWide(src));
    if constexpr (kBlend == FastBlend::kAdditive) {
        const WideHalf scaled{BlendDiv255x32(_mm512_mullo_epi16(src.a, AlphaOf32(src.a))),
                              BlendDiv255x32(_mm512_mullo_epi16(src.b, AlphaOf32(src.b)))};
        return _mm512_adds_epu8(old, JoinWide(scaled));
    }
    const WideHalf d = SplitWide(old);
    return JoinWide(WideHalf{Over(src.a, d.a), Over(src.b, d.b)});
}

HALVORA_AVX512 inline __m512i RampPixelsWide(const __m512 c[4]) {
    const __m512i zero = _mm512_setzero_si512(), max = _mm512_set1_epi32(255);
    __m512i ch[4];
    for (int i = 0; i < 4; ++i) ch[i] = _mm512_min_epi32(_mm512_max_epi32(_mm512_cvtps_epi32(c[i]), zero), max);
    return _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi32(ch[3], 24), _mm512_slli_epi32(ch[0], 16)),
                           _mm512_or_si512(_mm512_slli_epi32(ch[1], 8), ch[2]));
}

// Lanes 0-7 start where an AVX2 row does; lanes 8-15 one eight-pixel step further.
HALVORA_AVX512 inline __m512 StartLanes(float start, float dx) {
    const __m512 ramp = _mm512_setr_ps(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
    const __m512 first = _mm512_add_ps(_mm512_set1_ps(start), _mm512_mul_ps(ramp, _mm512_set1_ps(dx)));
    return _mm512_mask_add_ps(first, 0xFF00, first, _mm512_set1_ps(dx * 8));
}

HALVORA_AVX512 inline __m512 TwoSteps(__m512 c, __m512 step) { return _mm512_add_ps(_mm512_add_ps(c, step), step); }

// The part of WideConsts that QueueableRows and QueueRow read.
HALVORA_AVX512 inline void SetupQueueing(const DrawContext& ctx, const TriangleSetup& t, const SurfaceView& level,
                                         WideConsts& w) {
    w.texels = reinterpret_cast<const int*>(level.bits);
    w.pitchShift = __builtin_ctz(static_cast<unsigned>(level.pitch / 4));
    w.level = &level;
    w.du = t.u.dx;
    w.dv = t.v.dx;
    auto edgeMode = [](std::uint32_t m) { return m == d3d::kAddressClamp || m == d3d::kAddressMirror; };
    w.edges = edgeMode(ctx.fast.addressU) && edgeMode(ctx.fast.addressV) && level.width >= 2 && level.height >= 2;
    w.texOr = _mm512_set1_epi64(static_cast<long long>(ctx.fast.textureOr));
    w.diffOr = _mm512_set1_epi64(static_cast<long long>(ctx.fast.diffuseOr));
    w.diffuse = _mm512_or_si512(_mm512_cvtepu8_epi16(_mm256_set1_epi32(static_cast<int>(t.argb))), w.diffOr);
    w.diffuse64 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(w.diffuse)));
}

template <bool kConstant>
HALVORA_AVX512 inline void SetupWide(const DrawContext& ctx, const TriangleSetup& t, const SurfaceView& level,
                                     WideConsts& w) {
    SetupQueueing(ctx, t, level, w);
    w.width64 = _mm512_set1_ps(static_cast<float>(level.width) * 64.0f);
    w.height64 = _mm512_set1_ps(static_cast<float>(level.height) * 64.0f);
    w.du8 = _mm512_set1_ps(t.u.dx * 8);
    w.dv8 = _mm512_set1_ps(t.v.dx * 8);
    for (int i = 0; i < 4; ++i) {
        w.colorDx[i] = t.color[i].dx;
        w.colorStep[i] = _mm512_set1_ps(t.color[i].dx * 8);
    }
}

// Draws one affine bilinear row when every sample of it lies inside the texture; false
// (nothing drawn) otherwise.
template <FastBlend kBlend, bool kConstant>
HALVORA_AVX512 __attribute__((always_inline)) inline bool InteriorRowWide(const WideConsts& w, float u0, float v0,
                                                                         const float color0[4], std::uint32_t* dst,
                                                                         int n) {
    if (!RowInterior(u0, w.du, v0, w.dv, n, *w.level)) return false;
    __m512 u = StartLanes(u0, w.du), v = StartLanes(v0, w.dv);
    __m512 colors[4];
    if constexpr (!kConstant) {
        for (int i = 0; i < 4; ++i) colors[i] = StartLanes(color0[i], w.colorDx[i]);
    }
    for (; n > 0; n -= 16, dst += 16) {
        const __mmask16 mask = n >= 16 ? __mmask16(0xFFFF) : static_cast<__mmask16>((1u << n) - 1);
        const WideHalf tex = InteriorBilinear(w, u, v, mask);
        WideHalf diff{w.diffuse, w.diffuse};
        if constexpr (!kConstant) {
            diff = SplitWide(RampPixelsWide(colors));
            diff.a = _mm512_or_si512(diff.a, w.diffOr);
            diff.b = _mm512_or_si512(diff.b, w.diffOr);
            for (int i = 0; i < 4; ++i) colors[i] = TwoSteps(colors[i], w.colorStep[i]);
        }
        const WideHalf src{Mul255x32(_mm512_or_si512(tex.a, w.texOr), diff.a),
                           Mul255x32(_mm512_or_si512(tex.b, w.texOr), diff.b)};
        const __m512i old = _mm512_maskz_loadu_epi32(mask, dst);
        _mm512_mask_storeu_epi32(dst, mask, BlendWide<kBlend>(src, old));
        u = TwoSteps(u, w.du8);
        v = TwoSteps(v, w.dv8);
    }
    return true;
}


// Per-triangle state of the AVX2 rows: each row only finds its start values.
struct TexturedTriangle {
    TexturedConsts k;
    __m256 rq, ru, rv, colorStep[4], colorRamp[4];
};

// The texture coordinates' steps along a row: all that QueueRow reads of a triangle.
HALVORA_AVX2 inline void SetupSteps(const TriangleSetup& t, TexturedTriangle& tri) {
    const __m256 ramp = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    tri.k.du = _mm256_set1_ps(t.u.dx * 8);
    tri.k.dv = _mm256_set1_ps(t.v.dx * 8);
    tri.ru = _mm256_mul_ps(ramp, _mm256_set1_ps(t.u.dx));
    tri.rv = _mm256_mul_ps(ramp, _mm256_set1_ps(t.v.dx));
}

template <bool kConstant>
HALVORA_AVX2 __attribute__((always_inline)) inline void SetupTriangle(const DrawContext& ctx, const TriangleSetup& t,
                                                                     const SurfaceView& level, TexturedTriangle& tri) {
    TexturedConsts& k = tri.k;
    Sampler& smp = k.smp;
    smp.texels = reinterpret_cast<const int*>(level.bits);
    smp.pitchShift = _mm_cvtsi32_si128(__builtin_ctz(static_cast<unsigned>(level.pitch / 4)));
    smp.u = MakeAddress(ctx.fast.addressU, level.width);
    smp.v = MakeAddress(ctx.fast.addressV, level.height);
    smp.uMask = _mm256_set1_epi32(level.width - 1);
    smp.vMask = _mm256_set1_epi32(level.height - 1);
    smp.width = _mm256_set1_ps(static_cast<float>(level.width));
    smp.height = _mm256_set1_ps(static_cast<float>(level.height));
    smp.width64 = _mm256_set1_ps(static_cast<float>(level.width) * 64.0f);
    smp.height64 = _mm256_set1_ps(static_cast<float>(level.height) * 64.0f);

    const __m256 ramp = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    k.dq = _mm256_set1_ps(t.q.dx * 8);
    tri.rq = _mm256_mul_ps(ramp, _mm256_set1_ps(t.q.dx));
    SetupSteps(t, tri);
    k.texOr = Wide64(ctx.fast.textureOr);
    k.diffOr = Wide64(ctx.fast.diffuseOr);
    k.diffuse = _mm256_setzero_si256();
    k.lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    if constexpr (kConstant) {
        k.diffuse = _mm256_or_si256(_mm256_cvtepu8_epi16(_mm_set1_epi32(static_cast<int>(t.argb))), k.diffOr);
    } else {
        for (int i = 0; i < 4; ++i) {
            tri.colorStep[i] = _mm256_set1_ps(t.color[i].dx * 8);
            tri.colorRamp[i] = _mm256_mul_ps(ramp, _mm256_set1_ps(t.color[i].dx));
        }
    }
}

inline float PlaneAt(const Plane& p, float fx, float fy) { return p.c + p.dx * fx + p.dy * fy; }

template <FastBlend kBlend, bool kConstant, bool kBilinear, bool kAffine, Addressing kAddr>
HALVORA_AVX2 __attribute__((always_inline)) inline void TexturedRow(const DrawContext& ctx, const TriangleSetup& t,
                                                                   const SurfaceView& level,
                                                                   const TexturedTriangle& tri, int y, int x0,
                                                                   int x1) {
    const float fy = static_cast<float>(y) - t.originY, fx = static_cast<float>(x0) - t.originX;
    const float u0 = PlaneAt(t.u, fx, fy), v0 = PlaneAt(t.v, fx, fy);
    RowCursor c;
    c.q = _mm256_add_ps(_mm256_set1_ps(PlaneAt(t.q, fx, fy)), tri.rq);
    c.u = _mm256_add_ps(_mm256_set1_ps(u0), tri.ru);
    c.v = _mm256_add_ps(_mm256_set1_ps(v0), tri.rv);
    if constexpr (!kConstant) {
        for (int i = 0; i < 4; ++i) {
            c.colors.c[i] = _mm256_add_ps(_mm256_set1_ps(PlaneAt(t.color[i], fx, fy)), tri.colorRamp[i]);
            c.colors.step[i] = tri.colorStep[i];
        }
    }
    std::uint32_t* dst = RowPointer(ctx, y, x0);
    const std::uint32_t* rowEnd = RowPointer(ctx, y, ctx.target.width);
    const int n = x1 - x0;
    if constexpr (kAffine && kBilinear) {
        if (RowInterior(u0, t.u.dx, v0, t.v.dx, (n + 7) & ~7, level)) {
            return TexturedGroups<kBlend, kConstant, true, true, Addressing::kInterior>(tri.k, c, dst, rowEnd, n);
        }
    }
    TexturedGroups<kBlend, kConstant, kBilinear, kAffine, kAddr>(tri.k, c, dst, rowEnd, n);
}

template <FastBlend kBlend, bool kConstant, bool kBilinear, bool kAffine, Addressing kAddr>
HALVORA_AVX2 void TexturedRowsAvx2(const DrawContext& ctx, const TriangleSetup& t, int y0, int count,
                                   const RowSpan* spans) {
    const SurfaceView& level = ctx.stages[0].texture->levels[t.level[0]];
    TexturedTriangle tri;
    SetupTriangle<kConstant>(ctx, t, level, tri);
    for (int r = 0; r < count; ++r) {
        if (spans[r].x0 < spans[r].x1) {
            TexturedRow<kBlend, kConstant, kBilinear, kAffine, kAddr>(ctx, t, level, tri, y0 + r, spans[r].x0,
                                                                      spans[r].x1);
        }
    }
}

// Short interior rows of one constant-colour triangle, cut into the eight-pixel groups an
// AVX2 row would draw. Drawing them two groups at a time from a queue, whatever rows they
// come from, fills the sixteen lanes (a masked gather costs the same however few lanes it
// reads) and runs one loop without a branch per row, so consecutive rows overlap.
struct GroupQueue {
    static constexpr int kCapacity = 128;
    static constexpr int kMaxRow = 64;  // longer rows fill sixteen lanes by themselves
    // The level every queued group samples: a triangle on another one waits for these.
    const int* texels = nullptr;
    int pitchShift = 0;
    const SurfaceView* level = nullptr;
    bool edges = false;
    __m512i texOr;
    alignas(64) float u[kCapacity][8];
    alignas(64) float v[kCapacity][8];
    // Filled when the queue is drawn: each pixel's top and bottom texel pairs.
    alignas(64) int top[kCapacity][8];
    alignas(64) int bottom[kCapacity][8];
    std::uint32_t* dst[kCapacity];
    std::uint64_t diffuse[kCapacity];  // the group's colour, sixteen-bit channels
    std::uint8_t live[kCapacity];  // the group's pixels to draw, bit k for pixel k
    int size = 0;
};

// Under the blends that only add to the target the order of writes cannot change a pixel,
// so the groups of many triangles wait in one queue, filled far better than a triangle's
// own, until a draw call ends (DrawHeldRows).
}  // namespace

struct HeldRows {
    GroupQueue queue;
    void (*draw)(GroupQueue&) = nullptr;  // DrawGroups of the draw's blend
};

namespace {

// The frame-buffer blend of one group: src holds its sixteen-bit channels in 256 bits.
template <FastBlend kBlend>
HALVORA_AVX512 inline void StoreGroup(__m512i src, std::uint32_t* dst, __mmask8 mask) {
    __m256i out;
    if constexpr (kBlend == FastBlend::kReplace) {
        out = _mm512_cvtepi16_epi8(src);
    } else if constexpr (kBlend == FastBlend::kOneOne || kBlend == FastBlend::kAdditive) {
        const __m512i add = kBlend == FastBlend::kOneOne ? src : BlendDiv255x32(_mm512_mullo_epi16(src, AlphaOf32(src)));
        out = _mm256_adds_epu8(_mm256_maskz_loadu_epi32(mask, dst), _mm512_cvtepi16_epi8(add));
    } else {
        out = _mm512_cvtepi16_epi8(Over(src, _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi32(mask, dst))));
    }
    _mm256_mask_storeu_epi32(dst, mask, out);
}

// Texel pairs of eight pixels, top row or the one below it, as 64-bit lanes: plain loads
// from indices in memory run well ahead of gathers.
HALVORA_AVX512 inline __m512i LoadPairs(const int* texels, const int* idx) {
    auto two = [&](int a, int b) HALVORA_AVX512 {
        const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + idx[a]));
        return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(lo), reinterpret_cast<const double*>(texels + idx[b])));
    };
    const __m256i lo = _mm256_inserti128_si256(_mm256_castsi128_si256(two(0, 1)), two(2, 3), 1);
    const __m256i hi = _mm256_inserti128_si256(_mm256_castsi128_si256(two(4, 5)), two(6, 7), 1);
    return _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
}

// Every group's texel indices and weights, stored before any texel is loaded so that the
// loads read them long after the stores. Lanes past a row's end fetch texel 0 instead of
// whatever lies beyond the texture. With Edges, a pair starting one texel before the level
// starts at texel 0 weighted wholly on it, one starting at the last texel starts one earlier
// weighted wholly on the second, and each row index is clamped: the very sums the addressed
// path forms from its repeated edge texels.
template <bool kEdges>
HALVORA_AVX512 inline void IndexGroups(GroupQueue& q) {
    const __m128i shift = _mm_cvtsi32_si128(q.pitchShift);
    const __m512i frac = _mm512_set1_epi32(63), zero = _mm512_setzero_si512();
    const __m512i lastPair = _mm512_set1_epi32(q.level->width - 2), lastRow = _mm512_set1_epi32(q.level->height - 1);
    const __m512 width64 = _mm512_set1_ps(static_cast<float>(q.level->width) * 64.0f);
    const __m512 height64 = _mm512_set1_ps(static_cast<float>(q.level->height) * 64.0f);
    for (int g = 0; g < q.size; g += 2) {
        const __mmask16 live = static_cast<__mmask16>(q.live[g + 1] << 8 | q.live[g]);
        const __m512i su = SixtyFourths(_mm512_load_ps(q.u[g]), width64);
        const __m512i sv = SixtyFourths(_mm512_load_ps(q.v[g]), height64);
        __m512i i = _mm512_srai_epi32(su, 6), j = _mm512_srai_epi32(sv, 6), j1 = _mm512_add_epi32(j, _mm512_set1_epi32(1));
        __m512i fx = _mm512_and_si512(su, frac);
        if constexpr (kEdges) {
            fx = _mm512_mask_mov_epi32(fx, _mm512_cmplt_epi32_mask(i, zero), zero);
            fx = _mm512_mask_mov_epi32(fx, _mm512_cmpgt_epi32_mask(i, lastPair), _mm512_set1_epi32(64));
            i = _mm512_min_epi32(_mm512_max_epi32(i, zero), lastPair);
            j = _mm512_max_epi32(j, zero);
            j1 = _mm512_min_epi32(j1, lastRow);
        }
        const __m512i top = _mm512_add_epi32(_mm512_sll_epi32(j, shift), i);
        const __m512i bottom = _mm512_add_epi32(_mm512_sll_epi32(j1, shift), i);
        _mm512_store_si512(q.top[g], _mm512_maskz_mov_epi32(live, top));
        _mm512_store_si512(q.bottom[g], _mm512_maskz_mov_epi32(live, bottom));
        _mm512_store_si512(q.u[g], fx);
        _mm512_store_si512(q.v[g], _mm512_and_si512(sv, frac));
    }
}

template <FastBlend kBlend>
HALVORA_AVX512 void DrawGroups(GroupQueue& q) {
    if (q.size == 0) return;  // nor has the queue a level yet
    if (q.size & 1) {  // the odd group's partner draws nothing
        _mm256_store_ps(q.u[q.size], _mm256_setzero_ps());
        _mm256_store_ps(q.v[q.size], _mm256_setzero_ps());
        q.live[q.size] = 0;
    }
    if (q.edges) {
        IndexGroups<true>(q);
    } else {
        IndexGroups<false>(q);
    }
    const __m512i first = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
    const __m512i second = _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
    for (int g = 0; g < q.size; g += 2) {
        const __m512i ta = LoadPairs(q.texels, q.top[g]), ba = LoadPairs(q.texels, q.bottom[g]);
        const __m512i tb = LoadPairs(q.texels, q.top[g + 1]), bb = LoadPairs(q.texels, q.bottom[g + 1]);
        const __m512i fx = _mm512_load_si512(q.u[g]), fy = _mm512_load_si512(q.v[g]);
        const __m512i wx16 = _mm512_or_si512(_mm512_sub_epi32(_mm512_set1_epi32(64), fx), _mm512_slli_epi32(fx, 8));
        const __m512i wx = _mm512_or_si512(wx16, _mm512_slli_epi32(wx16, 16));
        const __m512i wy = _mm512_or_si512(_mm512_slli_epi32(fy, 9), _mm512_slli_epi32(fy, 25));
        const __m512i texA = MixTexels(ta, ba, _mm512_permutexvar_epi32(first, wx), _mm512_permutexvar_epi32(first, wy));
        const __m512i texB = MixTexels(tb, bb, _mm512_permutexvar_epi32(second, wx), _mm512_permutexvar_epi32(second, wy));
        const __mmask8 liveLo = q.live[g], liveHi = q.live[g + 1];
        const __m512i diffA = _mm512_set1_epi64(static_cast<long long>(q.diffuse[g]));
        const __m512i diffB = _mm512_set1_epi64(static_cast<long long>(q.diffuse[g + 1]));
        StoreGroup<kBlend>(Mul255x32(_mm512_or_si512(texA, q.texOr), diffA), q.dst[g], liveLo);
        if (liveHi) StoreGroup<kBlend>(Mul255x32(_mm512_or_si512(texB, q.texOr), diffB), q.dst[g + 1], liveHi);
    }
    q.size = 0;
}

// Queues pixels skip .. n - 1 (skip < n) of a row of at most GroupQueue::kMaxRow pixels that
// QueueableRows accepted, with the coordinates an AVX2 row steps through from its first pixel.
template <FastBlend kBlend>
HALVORA_AVX512 inline void QueueRow(const WideConsts& w, const TexturedTriangle& tri, GroupQueue& q, float u0,
                                    float v0, std::uint32_t* dst, int n, int skip) {
    if (q.size + GroupQueue::kMaxRow / 8 > GroupQueue::kCapacity || (q.size > 0 && q.level != w.level)) {
        DrawGroups<kBlend>(q);
    }
    if (q.size == 0) {
        q.texels = w.texels;
        q.pitchShift = w.pitchShift;
        q.level = w.level;
        q.edges = w.edges;
        q.texOr = w.texOr;
    }
    __m256 u = _mm256_add_ps(_mm256_set1_ps(u0), tri.ru), v = _mm256_add_ps(_mm256_set1_ps(v0), tri.rv);
    for (; skip >= 8; skip -= 8, n -= 8, dst += 8) {
        u = _mm256_add_ps(u, tri.k.du);
        v = _mm256_add_ps(v, tri.k.dv);
    }
    // Groups start at the first pixel drawn: lane k takes its coordinates from the stepped
    // group that holds that pixel, so each pixel keeps the values of the unshifted rows.
    const __m256i take = _mm256_add_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(skip));
    __m256 uNext = _mm256_add_ps(u, tri.k.du), vNext = _mm256_add_ps(v, tri.k.dv);
    n -= skip;
    dst += skip;
    // The size in a register: the byte stores of live may alias it and would force a
    // reload after each of them.
    int size = q.size;
    for (; n > 0; n -= 8, dst += 8) {
        _mm256_store_ps(q.u[size], _mm256_permutex2var_ps(u, take, uNext));
        _mm256_store_ps(q.v[size], _mm256_permutex2var_ps(v, take, vNext));
        q.dst[size] = dst;
        __builtin_prefetch(dst, 1);  // drawn when the queue is, by when the line has arrived
        q.diffuse[size] = w.diffuse64;
        q.live[size] = static_cast<std::uint8_t>(n >= 8 ? 0xFFu : (1u << n) - 1);
        ++size;
        u = uNext;
        v = vNext;
        uNext = _mm256_add_ps(uNext, tri.k.du);
        vNext = _mm256_add_ps(vNext, tri.k.dv);
    }
    q.size = size;
}

// Whether the footprints along a row, from first coordinate c stepping d over n pixels, stay
// inside the level (a texel to spare, see RowInterior) or, with Edges, within one texel past
// either edge (first texel -1 to size - 1, a quarter texel to spare), where CLAMP and MIRROR
// both repeat the edge texel.
HALVORA_AVX512 inline __mmask16 AxisWithin(__m512 c, float d, __m512 lastStep, int size, bool edges) {
    const __m512 scale = _mm512_set1_ps(static_cast<float>(size)), sixtyFour = _mm512_set1_ps(64.0f);
    const __m512 bias = _mm512_set1_ps(31.5f);
    const __m512 a = _mm512_sub_ps(_mm512_mul_ps(_mm512_mul_ps(c, scale), sixtyFour), bias);
    const __m512 end = _mm512_add_ps(c, _mm512_mul_ps(_mm512_set1_ps(d), lastStep));
    const __m512 b = _mm512_sub_ps(_mm512_mul_ps(_mm512_mul_ps(end, scale), sixtyFour), bias);
    const __m512 low = _mm512_set1_ps(edges ? -48.0f : 64.0f);
    const __m512 high = _mm512_set1_ps(edges ? static_cast<float>(size) * 64.0f - 16.0f : static_cast<float>(size - 3) * 64.0f);
    // Ordered comparisons: NaN is never within.
    return _mm512_cmp_ps_mask(_mm512_min_ps(a, b), low, _CMP_GE_OQ) & _mm512_cmp_ps_mask(_mm512_max_ps(a, b), high, _CMP_LE_OQ);
}

// What QueueableRows finds of up to sixteen rows.
struct RowBatch {
    alignas(64) float u0[16], v0[16];  // the first pixel's texture coordinates, as PlaneAt computes them
    alignas(64) int skip[16], count[16];  // the pixels before and up to the window's end, from the first
    unsigned queueable = 0;  // bit k: row k goes to the group queue
    unsigned empty = 0;      // bit k: row k has no pixel to draw
};

// The window's pixels of rows y .. y + 15 as skip and count, from their first pixels x0.
HALVORA_AVX512 inline void WindowRows(const RowWindow& win, __m512 fy, __m512i x0, __m512i x1, __m512i& skip,
                                      __m512i& count) {
    auto line = [&](float p, float q) HALVORA_AVX512 {
        return _mm512_add_ps(_mm512_set1_ps(p), _mm512_mul_ps(_mm512_set1_ps(q), fy));
    };
    const __m512 far = _mm512_set1_ps(RowWindow::kFar), near = _mm512_set1_ps(-RowWindow::kFar);
    const __m512 ox = _mm512_set1_ps(win.originX);
    __m512 start = line(win.startP[0], win.startQ[0]), end = line(win.endP[0], win.endQ[0]);
    for (int k = 1; k < RowWindow::kAxes; ++k) {
        start = _mm512_max_ps(start, line(win.startP[k], win.startQ[k]));
        end = _mm512_min_ps(end, line(win.endP[k], win.endQ[k]));
    }
    start = _mm512_sub_ps(_mm512_add_ps(start, ox), _mm512_set1_ps(RowWindow::kSlack));
    end = _mm512_add_ps(_mm512_add_ps(end, ox), _mm512_set1_ps(RowWindow::kSlack));
    start = _mm512_min_ps(_mm512_max_ps(_mm512_roundscale_ps(start, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC), near), far);
    end = _mm512_min_ps(_mm512_max_ps(_mm512_roundscale_ps(end, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC), near), far);
    const __m512i first = _mm512_max_epi32(x0, _mm512_cvttps_epi32(start));
    const __m512i last = _mm512_min_epi32(x1, _mm512_add_epi32(_mm512_cvttps_epi32(end), _mm512_set1_epi32(1)));
    skip = _mm512_sub_epi32(first, x0);
    count = _mm512_sub_epi32(last, x0);
}

// Rows y .. y + rows - 1 (rows <= 16) at once, their spans as x0, x1 pairs in lo and hi.
HALVORA_AVX512 inline void QueueableRows(const WideConsts& w, const TriangleSetup& t, int y, int rows, __m512i lo,
                                         __m512i hi, RowBatch& out) {
    const unsigned valid = (1u << rows) - 1;
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i x0 = _mm512_permutex2var_epi32(lo, even, hi);
    const __m512i x1 = _mm512_permutex2var_epi32(lo, _mm512_add_epi32(even, _mm512_set1_epi32(1)), hi);
    const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512 fy = _mm512_sub_ps(_mm512_cvtepi32_ps(_mm512_add_epi32(_mm512_set1_epi32(y), lane)), _mm512_set1_ps(t.originY));
    __m512i skip = _mm512_setzero_si512(), n = _mm512_sub_epi32(x1, x0);
    if (t.window.on) WindowRows(t.window, fy, x0, x1, skip, n);
    _mm512_store_si512(out.skip, skip);
    _mm512_store_si512(out.count, n);
    const __m512 fx = _mm512_sub_ps(_mm512_cvtepi32_ps(x0), _mm512_set1_ps(t.originX));
    auto plane = [&](const Plane& p) HALVORA_AVX512 {
        return _mm512_add_ps(_mm512_add_ps(_mm512_set1_ps(p.c), _mm512_mul_ps(_mm512_set1_ps(p.dx), fx)),
                             _mm512_mul_ps(_mm512_set1_ps(p.dy), fy));
    };
    const __m512 u = plane(t.u), v = plane(t.v);
    _mm512_store_ps(out.u0, u);
    _mm512_store_ps(out.v0, v);
    const __m512 lastStep = _mm512_cvtepi32_ps(_mm512_sub_epi32(n, _mm512_set1_epi32(1)));
    const __mmask16 drawn = _mm512_cmpgt_epi32_mask(n, skip);
    const __mmask16 sized = _mm512_cmple_epi32_mask(n, _mm512_set1_epi32(GroupQueue::kMaxRow));
    const __mmask16 within = AxisWithin(u, w.du, lastStep, w.level->width, w.edges) &
                             AxisWithin(v, w.dv, lastStep, w.level->height, w.edges);
    out.queueable = valid & drawn & sized & within;
    out.empty = valid & ~static_cast<unsigned>(drawn);
}

HALVORA_AVX512 inline void QueueableRows(const WideConsts& w, const TriangleSetup& t, int y, int rows,
                                         const RowSpan* spans, RowBatch& out) {
    static_assert(sizeof(RowSpan) == 8);
    const unsigned valid = (1u << rows) - 1;
    const auto* raw = reinterpret_cast<const long long*>(spans);
    QueueableRows(w, t, y, rows, _mm512_maskz_loadu_epi64(static_cast<__mmask8>(valid), raw),
                  _mm512_maskz_loadu_epi64(static_cast<__mmask8>(valid >> 8), raw + 8), out);
}

// Affine bilinear rows: those inside the texture sixteen pixels at a time (short ones of
// constant colour through the group queue), the others as the AVX2 rows are drawn.
template <FastBlend kBlend, bool kConstant, Addressing kAddr>
HALVORA_AVX512 void TexturedRowsWide(const DrawContext& ctx, const TriangleSetup& t, int y0, int count,
                                     const RowSpan* spans) {
    const SurfaceView& level = ctx.stages[0].texture->levels[t.level[0]];
    TexturedTriangle tri;
    SetupTriangle<kConstant>(ctx, t, level, tri);
    WideConsts w;
    SetupWide<kConstant>(ctx, t, level, w);
    HeldRows* held = nullptr;
    if constexpr (kConstant && (kBlend == FastBlend::kAdditive || kBlend == FastBlend::kOneOne)) held = ctx.held;
    GroupQueue own;
    GroupQueue& queue = held ? held->queue : own;
    if (held) held->draw = DrawGroups<kBlend>;
    RowBatch batch;
    for (int r = 0; r < count; ++r) {
        const int k = r % 16;
        if constexpr (kConstant) {
            if (k == 0) QueueableRows(w, t, y0 + r, std::min(16, count - r), spans + r, batch);
        }
        const int x0 = spans[r].x0, y = y0 + r;
        int n = spans[r].x1 - x0;
        if constexpr (kConstant) {
            if (batch.queueable >> k & 1) {
                QueueRow<kBlend>(w, tri, queue, batch.u0[k], batch.v0[k], RowPointer(ctx, y, x0), batch.count[k],
                                 batch.skip[k]);
                continue;
            }
            if (batch.empty >> k & 1) continue;
            n = batch.count[k];  // the window's end: the start would shift the stepping
        }
        if (n <= 0) continue;
        if (n > 8) {
            const float fy = static_cast<float>(y) - t.originY, fx = static_cast<float>(x0) - t.originX;
            float color0[4] = {};
            if constexpr (!kConstant) {
                for (int i = 0; i < 4; ++i) color0[i] = PlaneAt(t.color[i], fx, fy);
            }
            if (InteriorRowWide<kBlend, kConstant>(w, PlaneAt(t.u, fx, fy), PlaneAt(t.v, fx, fy), color0,
                                                   RowPointer(ctx, y, x0), n)) {
                continue;
            }
        }
        TexturedRow<kBlend, kConstant, true, true, kAddr>(ctx, t, level, tri, y, x0, x0 + n);
    }
    if constexpr (kConstant) {
        if (!held) DrawGroups<kBlend>(queue);
    }
}

// TexturedRowsWide's own course for rows that all go to the held queue, without the set-up
// its other rows need.
template <FastBlend kBlend>
HALVORA_AVX512 bool QueueHeldRowsOf(const DrawContext& ctx, const TriangleSetup& t, int y0, int count,
                                    const RowSpan* spans) {
    const SurfaceView& level = ctx.stages[0].texture->levels[t.level[0]];
    WideConsts w;
    SetupQueueing(ctx, t, level, w);
    RowBatch batch;
    // Whole loads, as the spans were just stored: masked ones would wait for the stores.
    QueueableRows(w, t, y0, count, _mm512_loadu_si512(spans), _mm512_loadu_si512(spans + 8), batch);
    const unsigned valid = (1u << count) - 1;
    if ((batch.queueable | batch.empty) != valid) return false;
    if (ctx.target.settled) {
        for (int r = 0; r < count; ++r) Unsettle(*ctx.target.settled, y0 + r, spans[r].x0, spans[r].x1);
    }
    TexturedTriangle tri;
    SetupSteps(t, tri);
    HeldRows& held = *ctx.held;
    held.draw = DrawGroups<kBlend>;
    for (unsigned rows = batch.queueable; rows != 0; rows &= rows - 1) {
        const int k = __builtin_ctz(rows);
        QueueRow<kBlend>(w, tri, held.queue, batch.u0[k], batch.v0[k], RowPointer(ctx, y0 + k, spans[k].x0),
                         batch.count[k], batch.skip[k]);
    }
    return true;
}

HALVORA_INTRINSIC_WARNINGS_ON

template <FastBlend kBlend, bool kConstant, bool kBilinear>
void TexturedRowsAddressed(const DrawContext& ctx, const TriangleSetup& t, int y0, int count, const RowSpan* spans) {
    const bool wrap = ctx.fast.addressU == d3d::kAddressWrap && ctx.fast.addressV == d3d::kAddressWrap;
    constexpr Addressing kWrap = Addressing::kWrap, kModes = Addressing::kModes;
    if (t.affine) {
        if constexpr (kBilinear) {
            if (HaveAvx512()) {
                if (wrap) return TexturedRowsWide<kBlend, kConstant, kWrap>(ctx, t, y0, count, spans);
                return TexturedRowsWide<kBlend, kConstant, kModes>(ctx, t, y0, count, spans);
            }
        }
        if (wrap) return TexturedRowsAvx2<kBlend, kConstant, kBilinear, true, kWrap>(ctx, t, y0, count, spans);
        return TexturedRowsAvx2<kBlend, kConstant, kBilinear, true, kModes>(ctx, t, y0, count, spans);
    }
    if (wrap) return TexturedRowsAvx2<kBlend, kConstant, kBilinear, false, kWrap>(ctx, t, y0, count, spans);
    TexturedRowsAvx2<kBlend, kConstant, kBilinear, false, kModes>(ctx, t, y0, count, spans);
}

template <FastBlend kBlend>
void TexturedRowsAvx2Any(const DrawContext& ctx, const TriangleSetup& t, int y0, int count, const RowSpan* spans) {
    if (t.constantColor) {
        if (t.linear[0]) return TexturedRowsAddressed<kBlend, true, true>(ctx, t, y0, count, spans);
        return TexturedRowsAddressed<kBlend, true, false>(ctx, t, y0, count, spans);
    }
    if (t.linear[0]) return TexturedRowsAddressed<kBlend, false, true>(ctx, t, y0, count, spans);
    TexturedRowsAddressed<kBlend, false, false>(ctx, t, y0, count, spans);
}

template <FastBlend kBlend>
void TexturedSpanAvx2(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    const RowSpan span{x0, x1};
    TexturedRowsAvx2Any<kBlend>(ctx, t, y, 1, &span);
}

// kTrack: also tells whether any pixel changed (true may also mean "not known").
template <FastBlend kBlend, bool kTrack = false>
HALVORA_AVX2 inline bool ColorRowAvx2(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    std::uint32_t* dst = RowPointer(ctx, y, x0);
    __m256i changed = _mm256_setzero_si256();
    auto store = [&](std::uint32_t* at, __m256i old, __m256i value) HALVORA_AVX2 {
        if constexpr (kTrack) changed = _mm256_or_si256(changed, _mm256_xor_si256(old, value));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), value);
    };
    auto storeMasked = [&](std::uint32_t* at, __m256i mask, __m256i old, __m256i value) HALVORA_AVX2 {
        if constexpr (kTrack) changed = _mm256_or_si256(changed, _mm256_and_si256(mask, _mm256_xor_si256(old, value)));
        _mm256_maskstore_epi32(reinterpret_cast<int*>(at), mask, value);
    };
    const __m256i color = _mm256_set1_epi32(static_cast<int>(t.argb));
    const Wide src = Unpack(color);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int n = x1 - x0;
    if constexpr (kBlend == FastBlend::kAlpha) {
        // src * a is the same for every pixel: only dst * (255 - a) varies.
        const __m256i a = AlphaOf16(src.lo);
        const __m256i inv = _mm256_sub_epi16(_mm256_set1_epi16(255), a);
        const __m256i srcTerm = _mm256_mullo_epi16(src.lo, a);
        auto blend = [&](__m256i old) HALVORA_AVX2 {
            const Wide d = Unpack(old);
            return Pack(Wide{BlendDiv255x16(_mm256_add_epi16(_mm256_mullo_epi16(d.lo, inv), srcTerm)),
                             BlendDiv255x16(_mm256_add_epi16(_mm256_mullo_epi16(d.hi, inv), srcTerm))});
        };
        for (; n >= 16; n -= 16, dst += 16) {
            const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst));
            const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + 8));
            store(dst, p0, blend(p0));
            store(dst + 8, p1, blend(p1));
        }
        for (; n > 0; n -= 8, dst += 8) {
            const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), lane);
            const __m256i old = _mm256_maskload_epi32(reinterpret_cast<const int*>(dst), mask);
            storeMasked(dst, mask, old, blend(old));
        }
    } else {
        __m256i addend = color;
        if constexpr (kBlend == FastBlend::kAdditive) {
            addend = Pack(Wide{BlendDiv255x16(_mm256_mullo_epi16(src.lo, AlphaOf16(src.lo))),
                                BlendDiv255x16(_mm256_mullo_epi16(src.hi, AlphaOf16(src.hi)))});
        }
        for (; n > 0; n -= 8, dst += 8) {
            const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), lane);
            if constexpr (kBlend == FastBlend::kReplace && !kTrack) {
                if (n >= 8) {
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), color);
                } else {
                    _mm256_maskstore_epi32(reinterpret_cast<int*>(dst), mask, color);
                }
            } else {
                const __m256i old = _mm256_maskload_epi32(reinterpret_cast<const int*>(dst), mask);
                storeMasked(dst, mask, old, kBlend == FastBlend::kReplace ? color : _mm256_adds_epu8(old, addend));
            }
        }
    }
    return !_mm256_testz_si256(changed, changed);
}

// ---- SSE2 (baseline) --------------------------------------------------------------------

// x / 255 rounded down, for x <= 255 * 255 (the frame-buffer blend's rounding).
inline __m128i BlendDiv255x8(__m128i x) {
    return _mm_mulhi_epu16(_mm_add_epi16(x, _mm_set1_epi16(1)), _mm_set1_epi16(257));
}

template <FastBlend kBlend, bool kTrack = false>
inline bool ColorRowSse2(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    std::uint32_t* dst = RowPointer(ctx, y, x0);
    int n = x1 - x0;
    const std::uint32_t argb = t.argb;
    const __m128i z = _mm_setzero_si128();
    const __m128i src = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(argb)), z);
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(src, 0xFF), 0xFF);
    const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(255), a);
    const __m128i srcTerm = _mm_mullo_epi16(src, a);
    const __m128i color = _mm_set1_epi32(static_cast<int>(argb));
    const __m128i additive = _mm_packus_epi16(BlendDiv255x8(srcTerm), BlendDiv255x8(srcTerm));
    auto one = [&](__m128i old) {
        if constexpr (kBlend == FastBlend::kReplace) return color;
        if constexpr (kBlend == FastBlend::kOneOne) return _mm_adds_epu8(old, color);
        if constexpr (kBlend == FastBlend::kAdditive) return _mm_adds_epu8(old, additive);
        const __m128i lo = BlendDiv255x8(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(old, z), inv), srcTerm));
        const __m128i hi = BlendDiv255x8(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(old, z), inv), srcTerm));
        return _mm_packus_epi16(lo, hi);
    };
    __m128i changed = _mm_setzero_si128();
    for (; n >= 4; n -= 4, dst += 4) {
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
        const __m128i value = one(old);
        if constexpr (kTrack) changed = _mm_or_si128(changed, _mm_xor_si128(old, value));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), value);
    }
    std::uint32_t changedTail = 0;
    for (; n > 0; --n, ++dst) {
        const std::uint32_t old = *dst;
        const std::uint32_t v = static_cast<std::uint32_t>(_mm_cvtsi128_si32(one(_mm_cvtsi32_si128(static_cast<int>(old)))));
        changedTail |= old ^ v;
        *dst = v;
    }
    return changedTail != 0 || _mm_movemask_epi8(_mm_cmpeq_epi8(changed, _mm_setzero_si128())) != 0xFFFF;
}

HALVORA_INTRINSIC_WARNINGS_OFF

// ColorRowAvx2's arithmetic, sixteen pixels at a time.
template <FastBlend kBlend, bool kTrack = false>
HALVORA_AVX512 inline bool ColorRowWide(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    std::uint32_t* dst = RowPointer(ctx, y, x0);
    const __m512i color = _mm512_set1_epi32(static_cast<int>(t.argb));
    const __m512i src = _mm512_unpacklo_epi8(color, _mm512_setzero_si512());  // the same four channels in every pixel
    const __m512i a = AlphaOf32(src);
    const __m512i inv = _mm512_sub_epi16(_mm512_set1_epi16(255), a);
    const __m512i srcTerm = _mm512_mullo_epi16(src, a);
    const __m512i scaled = BlendDiv255x32(srcTerm);
    const __m512i addend = kBlend == FastBlend::kAdditive ? _mm512_packus_epi16(scaled, scaled) : color;
    auto blend = [&](__m512i old) HALVORA_AVX512 {
        if constexpr (kBlend == FastBlend::kReplace) return color;
        if constexpr (kBlend != FastBlend::kAlpha) return _mm512_adds_epu8(old, addend);
        const __m512i z = _mm512_setzero_si512();
        const __m512i lo = BlendDiv255x32(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(old, z), inv), srcTerm));
        const __m512i hi = BlendDiv255x32(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(old, z), inv), srcTerm));
        return _mm512_packus_epi16(lo, hi);
    };
    int n = x1 - x0;
    __mmask16 changed = 0;
    for (; n >= 16; n -= 16, dst += 16) {
        const __m512i old = _mm512_loadu_si512(dst), value = blend(old);
        if constexpr (kTrack) changed |= _mm512_cmpneq_epi32_mask(old, value);
        _mm512_storeu_si512(dst, value);
    }
    if (n > 0) {
        const __mmask16 mask = static_cast<__mmask16>((1u << n) - 1);
        const __m512i old = _mm512_maskz_loadu_epi32(mask, dst), value = blend(old);
        if constexpr (kTrack) changed |= _mm512_mask_cmpneq_epi32_mask(mask, old, value);
        _mm512_mask_storeu_epi32(dst, mask, value);
    }
    return changed != 0;
}

HALVORA_INTRINSIC_WARNINGS_ON

template <FastBlend kBlend>
void ColorSpanWide(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    if (!t.constantColor) return GeneralSpan(ctx, t, y, x0, x1);
    ColorRowWide<kBlend>(ctx, t, y, x0, x1);
}

template <FastBlend kBlend>
void ColorSpanAvx2(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    if (!t.constantColor) return GeneralSpan(ctx, t, y, x0, x1);
    ColorRowAvx2<kBlend>(ctx, t, y, x0, x1);
}

template <FastBlend kBlend>
void ColorSpanSse2(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    if (!t.constantColor) return GeneralSpan(ctx, t, y, x0, x1);
    ColorRowSse2<kBlend>(ctx, t, y, x0, x1);
}

// The fill over settled runs: a run the same fill left unchanged last time, with nothing
// written since, holds its fixed points and is skipped; a whole run left unchanged now is
// marked. row(x0, x1) is one of the ColorRow routines with change tracking; the loop is
// inlined into each level's own routine, as a call per run cost more than its pixels.
template <class Row>
__attribute__((always_inline)) inline void SettleRuns(const DrawContext& ctx, int y, int x0, int x1,
                                                      std::uint8_t* flags, Row row) {
    constexpr int kRun = SettledRuns::kPixels;
    const int width = ctx.target.width;
    for (int x = x0; x < x1;) {
        const int run = x / kRun, begin = run * kRun;
        const int runEnd = std::min(begin + kRun, width), stop = std::min(x1, runEnd);
        if (!(flags[run] & SettledRuns::kSettled)) {
            if (row(x, stop)) {
                flags[run] = 0;
            } else if (x == begin && stop == runEnd) {
                flags[run] |= SettledRuns::kSettled;
            }
        }
        x = stop;
    }
}

struct WideLevel {
    template <FastBlend B>
    HALVORA_AVX512 static void Settle(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1,
                                      std::uint8_t* flags) {
        SettleRuns(ctx, y, x0, x1, flags, [&](int a, int b) HALVORA_AVX512 { return ColorRowWide<B, true>(ctx, t, y, a, b); });
    }
};
struct Avx2Level {
    template <FastBlend B>
    HALVORA_AVX2 static void Settle(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1,
                                    std::uint8_t* flags) {
        SettleRuns(ctx, y, x0, x1, flags, [&](int a, int b) HALVORA_AVX2 { return ColorRowAvx2<B, true>(ctx, t, y, a, b); });
    }
};
struct Sse2Level {
    template <FastBlend B>
    static void Settle(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1, std::uint8_t* flags) {
        SettleRuns(ctx, y, x0, x1, flags, [&](int a, int b) { return ColorRowSse2<B, true>(ctx, t, y, a, b); });
    }
};

template <FastBlend kBlend, class Level>
void SettlingColorSpan(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int x1) {
    SettledRuns& runs = *ctx.target.settled;
    if (!t.constantColor) {
        Unsettle(runs, y, x0, x1);
        return GeneralSpan(ctx, t, y, x0, x1);
    }
    ClaimSettled(runs, FillKey(kBlend, t.argb));
    Level::template Settle<kBlend>(ctx, t, y, x0, x1, runs.flags + static_cast<std::ptrdiff_t>(y) * runs.perRow);
}

template <template <FastBlend> class Table>
auto Pick(FastBlend blend) -> decltype(Table<FastBlend::kReplace>::fn) {
    switch (blend) {
    case FastBlend::kReplace: return Table<FastBlend::kReplace>::fn;
    case FastBlend::kAlpha: return Table<FastBlend::kAlpha>::fn;
    case FastBlend::kAdditive: return Table<FastBlend::kAdditive>::fn;
    case FastBlend::kOneOne: return Table<FastBlend::kOneOne>::fn;
    }
    return nullptr;
}

template <FastBlend B>
struct TexturedAvx2Table {
    static constexpr SpanFn fn = TexturedSpanAvx2<B>;
};
template <FastBlend B>
struct TexturedRowsAvx2Table {
    static constexpr RowsFn fn = TexturedRowsAvx2Any<B>;
};
template <FastBlend B>
struct ColorWideTable {
    static constexpr SpanFn fn = ColorSpanWide<B>;
};
template <FastBlend B>
struct ColorAvx2Table {
    static constexpr SpanFn fn = ColorSpanAvx2<B>;
};
template <FastBlend B>
struct ColorSse2Table {
    static constexpr SpanFn fn = ColorSpanSse2<B>;
};

template <FastBlend B>
struct SettlingWideTable {
    static constexpr SpanFn fn = SettlingColorSpan<B, WideLevel>;
};
template <FastBlend B>
struct SettlingAvx2Table {
    static constexpr SpanFn fn = SettlingColorSpan<B, Avx2Level>;
};
template <FastBlend B>
struct SettlingSse2Table {
    static constexpr SpanFn fn = SettlingColorSpan<B, Sse2Level>;
};

}  // namespace

void LimitSimd(SimdLevel level) { g_simdLimit.store(level, std::memory_order_relaxed); }

SpanFn TexturedSpan(FastBlend blend) { return HaveAvx2() ? Pick<TexturedAvx2Table>(blend) : nullptr; }

HeldRows* HoldRows(const DrawContext& ctx) {
    static thread_local HeldRows held;
    const bool adds = ctx.windowBlend == FastBlend::kAdditive || ctx.windowBlend == FastBlend::kOneOne;
    if (!HaveAvx512() || !ctx.rows || !adds || ctx.bridge.real.bits) return nullptr;
    return &held;
}

void DrawHeldRows(HeldRows& held) {
    if (held.queue.size > 0 && held.draw) held.draw(held.queue);
    held.queue.size = 0;
}

bool QueueHeldRows(const DrawContext& ctx, const TriangleSetup& t, int y0, int count, const RowSpan* spans) {
    if (count <= 0 || count > 16) return count == 0;
    if (ctx.windowBlend == FastBlend::kAdditive) return QueueHeldRowsOf<FastBlend::kAdditive>(ctx, t, y0, count, spans);
    return QueueHeldRowsOf<FastBlend::kOneOne>(ctx, t, y0, count, spans);
}

RowsFn TexturedRows(FastBlend blend) { return HaveAvx2() ? Pick<TexturedRowsAvx2Table>(blend) : nullptr; }

SpanFn ColorSpan(FastBlend blend) {
    if (HaveAvx512()) return Pick<ColorWideTable>(blend);
    return HaveAvx2() ? Pick<ColorAvx2Table>(blend) : Pick<ColorSse2Table>(blend);
}

SpanFn SettlingColorSpan(FastBlend blend) {
    if (HaveAvx512()) return Pick<SettlingWideTable>(blend);
    return HaveAvx2() ? Pick<SettlingAvx2Table>(blend) : Pick<SettlingSse2Table>(blend);
}

}  // namespace raster
