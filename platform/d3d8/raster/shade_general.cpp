// The general fragment pipeline: any stage ops, arguments, filters, address modes, blend
// factors and target formats. It works on runs of up to kChunk pixels, one pass per step
// (interpolate, sample, combine, test, blend, write); state decides which loop runs, never
// inside one.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/d3d8/raster/pixel_codec.h"
#include "platform/d3d8/raster/raster_internal.h"

namespace raster {
namespace {

constexpr int kChunk = 64;

using u32 = std::uint32_t;

inline u32 Ch(u32 c, int i) { return (c >> (8 * i)) & 255; }  // 0 b, 1 g, 2 r, 3 a
inline u32 Clamp255(int v) { return static_cast<u32>(std::clamp(v, 0, 255)); }

template <class F>
inline u32 PerChannel(u32 x, u32 y, u32 z, F f) {
    u32 out = 0;
    for (int i = 0; i < 4; ++i) out |= Clamp255(f(int(Ch(x, i)), int(Ch(y, i)), int(Ch(z, i)))) << (8 * i);
    return out;
}

int ToIndex(float f) {
    if (!(f > -1.0e7f && f < 1.0e7f)) return 0;
    return static_cast<int>(std::floor(f));
}

void Address(u32 mode, int size, int* idx, int n) {
    switch (mode) {
    case d3d::kAddressMirror:
        for (int k = 0; k < n; ++k) {
            int t = idx[k] % (2 * size);
            if (t < 0) t += 2 * size;
            idx[k] = t >= size ? 2 * size - 1 - t : t;
        }
        break;
    case d3d::kAddressClamp:
        for (int k = 0; k < n; ++k) idx[k] = std::clamp(idx[k], 0, size - 1);
        break;
    case d3d::kAddressBorder:
        for (int k = 0; k < n; ++k) idx[k] = idx[k] < 0 || idx[k] >= size ? -1 : idx[k];
        break;
    case d3d::kAddressMirrorOnce:
        for (int k = 0; k < n; ++k) idx[k] = std::clamp(idx[k] < 0 ? -idx[k] - 1 : idx[k], 0, size - 1);
        break;
    default:  // wrap
        for (int k = 0; k < n; ++k) {
            int t = idx[k] % size;
            idx[k] = t < 0 ? t + size : t;
        }
        break;
    }
}

template <PixelFormat F>
inline u32 Texel(const SurfaceView& l, int i, int j, u32 border) {
    if (i < 0 || j < 0) return border;
    return Decode<F>(l.bits + static_cast<std::ptrdiff_t>(j) * l.pitch + i * (F == PixelFormat::A8R8G8B8 ||
                                                                                     F == PixelFormat::X8R8G8B8
                                                                                 ? 4
                                                                                 : 2));
}

inline u32 Bilerp(u32 t00, u32 t10, u32 t01, u32 t11, u32 fx, u32 fy) {
    u32 out = 0;
    for (int c = 0; c < 4; ++c) {
        const u32 top = Ch(t00, c) * (256 - fx) + Ch(t10, c) * fx;
        const u32 bottom = Ch(t01, c) * (256 - fx) + Ch(t11, c) * fx;
        out |= ((top * (256 - fy) + bottom * fy + 32768) >> 16) << (8 * c);
    }
    return out;
}

void Sample(const ResolvedStage& st, int levelIndex, bool linear, const float* u, const float* v, int n,
            u32* out) {
    const SurfaceView& level = st.texture->levels[levelIndex];
    const int w = level.width, h = level.height;
    int i0[kChunk], j0[kChunk], i1[kChunk], j1[kChunk];
    u32 fx[kChunk], fy[kChunk];
    if (linear) {
        for (int k = 0; k < n; ++k) {
            const float s = u[k] * w - 0.5f, t = v[k] * h - 0.5f;
            i0[k] = ToIndex(s);
            j0[k] = ToIndex(t);
            fx[k] = static_cast<u32>(std::clamp(static_cast<int>(std::lrint((s - std::floor(s)) * 256)), 0, 256));
            fy[k] = static_cast<u32>(std::clamp(static_cast<int>(std::lrint((t - std::floor(t)) * 256)), 0, 256));
            if (!std::isfinite(s)) fx[k] = 0;
            if (!std::isfinite(t)) fy[k] = 0;
            i1[k] = i0[k] + 1;
            j1[k] = j0[k] + 1;
        }
        Address(st.addressU, w, i0, n);
        Address(st.addressU, w, i1, n);
        Address(st.addressV, h, j0, n);
        Address(st.addressV, h, j1, n);
    } else {
        for (int k = 0; k < n; ++k) {
            i0[k] = ToIndex(u[k] * w);
            j0[k] = ToIndex(v[k] * h);
        }
        Address(st.addressU, w, i0, n);
        Address(st.addressV, h, j0, n);
    }
    const u32 border = st.borderColor;
    WithFormat(level.format, [&]<PixelFormat F>() {
        if (linear) {
            for (int k = 0; k < n; ++k) {
                out[k] = Bilerp(Texel<F>(level, i0[k], j0[k], border), Texel<F>(level, i1[k], j0[k], border),
                                Texel<F>(level, i0[k], j1[k], border), Texel<F>(level, i1[k], j1[k], border),
                                fx[k], fy[k]);
            }
        } else {
            for (int k = 0; k < n; ++k) out[k] = Texel<F>(level, i0[k], j0[k], border);
        }
    });
}

struct Sources {
    const u32* diffuse;
    const u32* current;
    const u32* texture;
    u32 tfactor;
};

void Argument(u32 arg, const Sources& src, int n, u32* out) {
    const u32 which = arg & d3d::kTaSelectMask;
    const u32* from = nullptr;
    u32 constant = 0;
    switch (which) {
    case d3d::kTaDiffuse: from = src.diffuse; break;
    case d3d::kTaCurrent: from = src.current; break;
    case d3d::kTaTexture: from = src.texture ? src.texture : src.diffuse; break;
    case d3d::kTaTFactor: constant = src.tfactor; break;
    case d3d::kTaSpecular: constant = 0xFFFFFFFF; break;
    default: constant = 0; break;  // TEMP starts at zero and nothing writes it
    }
    for (int k = 0; k < n; ++k) out[k] = from ? from[k] : constant;
    if (arg & d3d::kTaComplement) {
        for (int k = 0; k < n; ++k) out[k] = ~out[k];
    }
    if (arg & d3d::kTaAlphaReplicate) {
        for (int k = 0; k < n; ++k) out[k] = (out[k] >> 24) * 0x01010101u;
    }
}

template <class F>
void Map3(int n, const u32* a1, const u32* a2, const u32* a0, u32* out, F f) {
    for (int k = 0; k < n; ++k) out[k] = PerChannel(a1[k], a2[k], a0[k], f);
}

// alphaOf: the per-pixel alpha the BLEND*ALPHA ops weight by.
void ApplyOp(u32 op, int n, const u32* a1, const u32* a2, const u32* a0, const u32* alphaOf, u32* out) {
    switch (op) {
    case d3d::kTopSelectArg2: std::copy(a2, a2 + n, out); return;
    case d3d::kTopModulate: Map3(n, a1, a2, a0, out, [](int x, int y, int) { return int(Mul255(x, y)); }); return;
    case d3d::kTopModulate2x:
        Map3(n, a1, a2, a0, out, [](int x, int y, int) { return int(Div255(2 * x * y)); });
        return;
    case d3d::kTopModulate4x:
        Map3(n, a1, a2, a0, out, [](int x, int y, int) { return int(Div255(4 * x * y)); });
        return;
    case d3d::kTopAdd: Map3(n, a1, a2, a0, out, [](int x, int y, int) { return x + y; }); return;
    case d3d::kTopAddSigned: Map3(n, a1, a2, a0, out, [](int x, int y, int) { return x + y - 128; }); return;
    case d3d::kTopAddSigned2x:
        Map3(n, a1, a2, a0, out, [](int x, int y, int) { return 2 * (x + y) - 255; });
        return;
    case d3d::kTopSubtract: Map3(n, a1, a2, a0, out, [](int x, int y, int) { return x - y; }); return;
    case d3d::kTopAddSmooth:
        Map3(n, a1, a2, a0, out, [](int x, int y, int) { return x + int(Mul255(y, 255 - x)); });
        return;
    case d3d::kTopBlendDiffuseAlpha:
    case d3d::kTopBlendTextureAlpha:
    case d3d::kTopBlendFactorAlpha:
    case d3d::kTopBlendCurrentAlpha:
        for (int k = 0; k < n; ++k) {
            const u32 w = alphaOf[k] >> 24;
            out[k] = PerChannel(a1[k], a2[k], 0, [w](int x, int y, int) { return int(Div255(x * w + y * (255 - w))); });
        }
        return;
    case d3d::kTopBlendTextureAlphaPm:
        for (int k = 0; k < n; ++k) {
            const u32 w = alphaOf[k] >> 24;
            out[k] = PerChannel(a1[k], a2[k], 0, [w](int x, int y, int) { return x + int(Mul255(y, 255 - w)); });
        }
        return;
    case d3d::kTopModulateAlphaAddColor:
    case d3d::kTopModulateInvAlphaAddColor:
    case d3d::kTopModulateColorAddAlpha:
    case d3d::kTopModulateInvColorAddAlpha:
        for (int k = 0; k < n; ++k) {
            const int alpha = int(a1[k] >> 24);
            u32 r = 0;
            for (int c = 0; c < 4; ++c) {
                const int x = int(Ch(a1[k], c)), y = int(Ch(a2[k], c));
                int v = 0;
                if (op == d3d::kTopModulateAlphaAddColor) v = x + int(Mul255(alpha, y));
                if (op == d3d::kTopModulateInvAlphaAddColor) v = x + int(Mul255(255 - alpha, y));
                if (op == d3d::kTopModulateColorAddAlpha) v = int(Mul255(x, y)) + alpha;
                if (op == d3d::kTopModulateInvColorAddAlpha) v = int(Mul255(255 - x, y)) + alpha;
                r |= Clamp255(v) << (8 * c);
            }
            out[k] = r;
        }
        return;
    case d3d::kTopDotProduct3:
        for (int k = 0; k < n; ++k) {
            int sum = 0;
            for (int c = 0; c < 3; ++c) sum += (2 * int(Ch(a1[k], c)) - 255) * (2 * int(Ch(a2[k], c)) - 255);
            // 4 * sum((c1 - .5)(c2 - .5)) in 0..255 units: sum / 255 (the factors of 2 cancel the 4)
            const u32 d = Clamp255(static_cast<int>(std::lround(sum / 255.0)));
            out[k] = d * 0x01010101u;
        }
        return;
    case d3d::kTopMultiplyAdd:
        Map3(n, a1, a2, a0, out, [](int x, int y, int z) { return z + int(Mul255(x, y)); });
        return;
    case d3d::kTopLerp:
        Map3(n, a1, a2, a0, out, [](int x, int y, int z) { return int(Div255(z * x + (255 - z) * y)); });
        return;
    default:  // SELECTARG1, and ops this device does not offer
        std::copy(a1, a1 + n, out);
        return;
    }
}

const u32* BlendAlphaSource(u32 op, const Sources& s, const u32* tfactor) {
    switch (op) {
    case d3d::kTopBlendDiffuseAlpha: return s.diffuse;
    case d3d::kTopBlendTextureAlpha:
    case d3d::kTopBlendTextureAlphaPm: return s.texture ? s.texture : s.diffuse;
    case d3d::kTopBlendFactorAlpha: return tfactor;
    default: return s.current;
    }
}

void RunStage(const DrawContext& ctx, const ResolvedStage& st, const Sources& src, int n, u32* result) {
    u32 a1[kChunk], a2[kChunk], a0[kChunk], color[kChunk], alpha[kChunk], tf[kChunk];
    std::fill(tf, tf + n, src.tfactor);
    Argument(st.colorArg[0], src, n, a1);
    Argument(st.colorArg[1], src, n, a2);
    Argument(st.colorArg[2], src, n, a0);
    ApplyOp(st.colorOp, n, a1, a2, a0, BlendAlphaSource(st.colorOp, src, tf), color);
    if (st.alphaOp == d3d::kTopDisable) {
        for (int k = 0; k < n; ++k) result[k] = (color[k] & 0xFFFFFF) | (src.current[k] & 0xFF000000u);
        return;
    }
    Argument(st.alphaArg[0], src, n, a1);
    Argument(st.alphaArg[1], src, n, a2);
    Argument(st.alphaArg[2], src, n, a0);
    ApplyOp(st.alphaOp, n, a1, a2, a0, BlendAlphaSource(st.alphaOp, src, tf), alpha);
    for (int k = 0; k < n; ++k) result[k] = (color[k] & 0xFFFFFF) | (alpha[k] & 0xFF000000u);
    (void)ctx;
}

bool Compare(u32 func, u32 a, u32 ref) {
    switch (func) {
    case d3d::kCmpNever: return false;
    case d3d::kCmpLess: return a < ref;
    case d3d::kCmpEqual: return a == ref;
    case d3d::kCmpLessEqual: return a <= ref;
    case d3d::kCmpGreater: return a > ref;
    case d3d::kCmpNotEqual: return a != ref;
    case d3d::kCmpGreaterEqual: return a >= ref;
    default: return true;
    }
}

void AlphaTest(u32 func, u32 ref, const u32* color, int n, bool* keep) {
    switch (func) {  // one loop per function
#define HALVORA_ALPHA_LOOP(value) \
    case value:                   \
        for (int k = 0; k < n; ++k) keep[k] = keep[k] && Compare(value, color[k] >> 24, ref); \
        break;
        HALVORA_ALPHA_LOOP(d3d::kCmpNever)
        HALVORA_ALPHA_LOOP(d3d::kCmpLess)
        HALVORA_ALPHA_LOOP(d3d::kCmpEqual)
        HALVORA_ALPHA_LOOP(d3d::kCmpLessEqual)
        HALVORA_ALPHA_LOOP(d3d::kCmpGreater)
        HALVORA_ALPHA_LOOP(d3d::kCmpNotEqual)
        HALVORA_ALPHA_LOOP(d3d::kCmpGreaterEqual)
#undef HALVORA_ALPHA_LOOP
    default: break;
    }
}

void Factors(u32 factor, const u32* src, const u32* dst, int n, u32* out) {
    switch (factor) {
    case d3d::kBlendZero: std::fill(out, out + n, 0u); break;
    case d3d::kBlendSrcColor: std::copy(src, src + n, out); break;
    case d3d::kBlendInvSrcColor: for (int k = 0; k < n; ++k) out[k] = ~src[k]; break;
    case d3d::kBlendSrcAlpha: for (int k = 0; k < n; ++k) out[k] = (src[k] >> 24) * 0x01010101u; break;
    case d3d::kBlendInvSrcAlpha: for (int k = 0; k < n; ++k) out[k] = (255 - (src[k] >> 24)) * 0x01010101u; break;
    case d3d::kBlendDestAlpha: for (int k = 0; k < n; ++k) out[k] = (dst[k] >> 24) * 0x01010101u; break;
    case d3d::kBlendInvDestAlpha: for (int k = 0; k < n; ++k) out[k] = (255 - (dst[k] >> 24)) * 0x01010101u; break;
    case d3d::kBlendDestColor: std::copy(dst, dst + n, out); break;
    case d3d::kBlendInvDestColor: for (int k = 0; k < n; ++k) out[k] = ~dst[k]; break;
    case d3d::kBlendSrcAlphaSat:
        for (int k = 0; k < n; ++k) {
            const u32 f = std::min(src[k] >> 24, 255 - (dst[k] >> 24));
            out[k] = 0xFF000000u | f * 0x010101u;
        }
        break;
    default: std::fill(out, out + n, 0xFFFFFFFFu); break;  // ONE
    }
}

void Blend(u32 op, const u32* src, const u32* sf, const u32* dst, const u32* df, int n, u32* out) {
    switch (op) {
    case d3d::kBlendOpSubtract:
    case d3d::kBlendOpRevSubtract: {
        const bool reverse = op == d3d::kBlendOpRevSubtract;
        for (int k = 0; k < n; ++k) {
            u32 r = 0;
            for (int c = 0; c < 4; ++c) {
                const int s = int(Ch(src[k], c) * Ch(sf[k], c)), d = int(Ch(dst[k], c) * Ch(df[k], c));
                const int diff = reverse ? d - s : s - d;
                r |= (diff > 0 ? BlendDiv255(u32(diff)) : 0u) << (8 * c);
            }
            out[k] = r;
        }
        break;
    }
    case d3d::kBlendOpMin:
        for (int k = 0; k < n; ++k) out[k] = PerChannel(src[k], dst[k], 0, [](int s, int d, int) { return std::min(s, d); });
        break;
    case d3d::kBlendOpMax:
        for (int k = 0; k < n; ++k) out[k] = PerChannel(src[k], dst[k], 0, [](int s, int d, int) { return std::max(s, d); });
        break;
    default:
        for (int k = 0; k < n; ++k) {
            u32 r = 0;
            for (int c = 0; c < 4; ++c) {
                const u32 sum = Ch(src[k], c) * Ch(sf[k], c) + Ch(dst[k], c) * Ch(df[k], c);
                r |= std::min<u32>(BlendDiv255(sum), 255) << (8 * c);
            }
            out[k] = r;
        }
        break;
    }
}

u32 ChannelMask(u32 writeEnable) {
    u32 m = 0;
    if (writeEnable & 1) m |= 0x00FF0000u;
    if (writeEnable & 2) m |= 0x0000FF00u;
    if (writeEnable & 4) m |= 0x000000FFu;
    if (writeEnable & 8) m |= 0xFF000000u;
    return m;
}

void Interpolate(const TriangleSetup& t, int y, int x0, int n, u32* diffuse, float* u, float* v, bool needTex) {
    const float fy = static_cast<float>(y) - t.originY;
    const float fx0 = static_cast<float>(x0) - t.originX;
    if (t.constantColor) {
        std::fill(diffuse, diffuse + n, t.argb);
    } else {
        float c[4], d[4];
        for (int i = 0; i < 4; ++i) {
            c[i] = t.color[i].c + t.color[i].dx * fx0 + t.color[i].dy * fy;
            d[i] = t.color[i].dx;
        }
        for (int k = 0; k < n; ++k) {
            const float fk = static_cast<float>(k);
            auto ch = [&](int i) { return Clamp255(static_cast<int>(std::nearbyint(c[i] + d[i] * fk))); };
            diffuse[k] = ch(3) << 24 | ch(0) << 16 | ch(1) << 8 | ch(2);
        }
    }
    if (!needTex) return;
    const float q0 = t.q.c + t.q.dx * fx0 + t.q.dy * fy;
    const float u0 = t.u.c + t.u.dx * fx0 + t.u.dy * fy;
    const float v0 = t.v.c + t.v.dx * fx0 + t.v.dy * fy;
    for (int k = 0; k < n; ++k) {
        const float fk = static_cast<float>(k);
        const float q = q0 + t.q.dx * fk;
        const float inv = t.affine ? 1.0f : 1.0f / q;
        u[k] = (u0 + t.u.dx * fk) * inv;
        v[k] = (v0 + t.v.dx * fk) * inv;
    }
}

void ShadeChunk(const DrawContext& ctx, const TriangleSetup& t, int y, int x0, int n) {
    const DrawState& s = *ctx.state;
    alignas(32) u32 diffuse[kChunk], current[kChunk], texel[kChunk], next[kChunk];
    alignas(32) float u[kChunk], v[kChunk];
    bool needTex = false;
    for (int i = 0; i < ctx.stageCount; ++i) needTex = needTex || ctx.stages[i].usesTexture;
    Interpolate(t, y, x0, n, diffuse, u, v, needTex);

    std::copy(diffuse, diffuse + n, current);
    for (int i = 0; i < ctx.stageCount; ++i) {
        const ResolvedStage& st = ctx.stages[i];
        if (st.usesTexture) Sample(st, t.level[i], t.linear[i], u, v, n, texel);
        const Sources src{diffuse, current, st.usesTexture ? texel : nullptr, s.textureFactor};
        RunStage(ctx, st, src, n, next);
        std::copy(next, next + n, current);
    }

    bool keep[kChunk];
    std::fill(keep, keep + n, true);
    if (s.alphaTestEnable) AlphaTest(s.alphaFunc, s.alphaRef & 255, current, n, keep);

    const SurfaceView& target = ctx.target;
    std::uint8_t* row = target.bits + static_cast<std::ptrdiff_t>(y) * target.pitch;
    const u32 mask = ChannelMask(s.colorWriteEnable);
    WithFormat(target.format, [&]<PixelFormat F>() {
        constexpr int bpp = F == PixelFormat::A8R8G8B8 || F == PixelFormat::X8R8G8B8 ? 4 : 2;
        std::uint8_t* p = row + x0 * bpp;
        u32 dst[kChunk], out[kChunk];
        const bool needDst = ctx.blend || mask != 0xFFFFFFFFu;
        if (needDst) {
            for (int k = 0; k < n; ++k) dst[k] = Decode<F>(p + k * bpp);
        }
        if (ctx.blend) {
            u32 sf[kChunk], df[kChunk];
            Factors(ctx.srcBlend, current, dst, n, sf);
            Factors(ctx.destBlend, current, dst, n, df);
            Blend(ctx.blendOp, current, sf, dst, df, n, out);
        } else {
            std::copy(current, current + n, out);
        }
        if (mask != 0xFFFFFFFFu) {
            for (int k = 0; k < n; ++k) out[k] = (out[k] & mask) | (dst[k] & ~mask);
        }
        for (int k = 0; k < n; ++k) {
            if (keep[k]) Encode<F>(p + k * bpp, out[k]);
        }
    });
}

}  // namespace

void GeneralSpan(const DrawContext& ctx, const TriangleSetup& tri, int y, int x0, int x1) {
    for (int x = x0; x < x1; x += kChunk) ShadeChunk(ctx, tri, y, x, std::min(kChunk, x1 - x));
}

}  // namespace raster
