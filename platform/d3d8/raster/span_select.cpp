// Per-draw resolution of the fixed-function state and the choice of span routine.
#include <algorithm>
#include <cstdint>

#include "platform/d3d8/raster/raster_internal.h"

namespace raster {
namespace {

bool UsableTexture(const TextureView* t) {
    if (!t || !t->levels || t->levelCount <= 0) return false;
    const SurfaceView& l = t->levels[0];
    return l.bits && l.width > 0 && l.height > 0 && l.format == t->format &&
           l.pitch >= l.width * BytesPerPixel(l.format);
}

// Levels usable in a row from the top; a malformed level ends the chain.
int UsableLevels(const TextureView& t) {
    int n = 1;
    while (n < t.levelCount) {
        const SurfaceView& l = t.levels[n];
        if (!l.bits || l.width <= 0 || l.height <= 0 || l.format != t.format ||
            l.pitch < l.width * BytesPerPixel(l.format)) {
            break;
        }
        ++n;
    }
    return n;
}

int ArgsRead(std::uint32_t op) {  // bit 0 Arg1, bit 1 Arg2, bit 2 Arg0
    switch (op) {
    case d3d::kTopSelectArg1: return 1;
    case d3d::kTopSelectArg2: return 2;
    case d3d::kTopMultiplyAdd:
    case d3d::kTopLerp: return 7;
    default: return 3;
    }
}

bool ReadsTexture(std::uint32_t op, const std::uint32_t args[3]) {
    if (op == d3d::kTopBlendTextureAlpha || op == d3d::kTopBlendTextureAlphaPm) return true;
    const int used = ArgsRead(op);
    for (int i = 0; i < 3; ++i) {
        if ((used >> i & 1) && (args[i] & d3d::kTaSelectMask) == d3d::kTaTexture) return true;
    }
    return false;
}

void ResolveStages(const DrawState& s, DrawContext& ctx) {
    ctx.stageCount = 0;
    for (int i = 0; i < kMaxStages; ++i) {
        const StageState& in = s.stages[i];
        if (in.colorOp == d3d::kTopDisable) break;
        ResolvedStage& st = ctx.stages[i];
        st.colorOp = in.colorOp;
        st.colorArg[0] = in.colorArg1;
        st.colorArg[1] = in.colorArg2;
        st.colorArg[2] = in.colorArg0;
        st.alphaOp = in.alphaOp;
        st.alphaArg[0] = in.alphaArg1;
        st.alphaArg[1] = in.alphaArg2;
        st.alphaArg[2] = in.alphaArg0;
        // CURRENT in the first stage is the diffuse colour.
        if (i == 0) {
            for (std::uint32_t& a : st.colorArg) {
                if ((a & d3d::kTaSelectMask) == d3d::kTaCurrent) a = (a & ~d3d::kTaSelectMask) | d3d::kTaDiffuse;
            }
            for (std::uint32_t& a : st.alphaArg) {
                if ((a & d3d::kTaSelectMask) == d3d::kTaCurrent) a = (a & ~d3d::kTaSelectMask) | d3d::kTaDiffuse;
            }
        }
        const bool hasTexture = UsableTexture(in.texture);
        // A texture read on a stage without one: colour ends the cascade, alpha uses diffuse.
        if (!hasTexture && ReadsTexture(st.colorOp, st.colorArg)) break;
        if (!hasTexture) {
            for (std::uint32_t& a : st.alphaArg) {
                if ((a & d3d::kTaSelectMask) == d3d::kTaTexture) a = (a & ~d3d::kTaSelectMask) | d3d::kTaDiffuse;
            }
            if (st.alphaOp == d3d::kTopBlendTextureAlpha || st.alphaOp == d3d::kTopBlendTextureAlphaPm) {
                st.alphaOp = d3d::kTopBlendDiffuseAlpha;
            }
        }
        st.usesTexture = hasTexture && (ReadsTexture(st.colorOp, st.colorArg) ||
                                        (st.alphaOp != d3d::kTopDisable && ReadsTexture(st.alphaOp, st.alphaArg)));
        st.texture = hasTexture ? in.texture : nullptr;
        st.levelCount = hasTexture ? UsableLevels(*in.texture) : 0;
        st.minFilter = in.minFilter;
        st.magFilter = in.magFilter;
        st.mipFilter = in.mipFilter;
        st.addressU = in.addressU;
        st.addressV = in.addressV;
        st.borderColor = in.borderColor;
        ++ctx.stageCount;
    }
}

void ResolveBlend(const DrawState& s, DrawContext& ctx) {
    ctx.srcBlend = s.srcBlend;
    ctx.destBlend = s.destBlend;
    ctx.blendOp = s.blendOp;
    if (s.srcBlend == d3d::kBlendBothSrcAlpha) {
        ctx.srcBlend = d3d::kBlendSrcAlpha;
        ctx.destBlend = d3d::kBlendInvSrcAlpha;
    } else if (s.srcBlend == d3d::kBlendBothInvSrcAlpha) {
        ctx.srcBlend = d3d::kBlendInvSrcAlpha;
        ctx.destBlend = d3d::kBlendSrcAlpha;
    }
    ctx.blend = s.alphaBlendEnable && !(ctx.blendOp == d3d::kBlendOpAdd && ctx.srcBlend == d3d::kBlendOne &&
                                        ctx.destBlend == d3d::kBlendZero);
}

bool IsPow2(int v) { return v > 0 && (v & (v - 1)) == 0; }

bool FastTarget(const SurfaceView& t) {
    return (t.format == PixelFormat::X8R8G8B8 || t.format == PixelFormat::A8R8G8B8) && t.pitch % 4 == 0 &&
           (reinterpret_cast<std::uintptr_t>(t.bits) & 3) == 0;
}

bool FastTexture(const ResolvedStage& st) {
    const TextureView& t = *st.texture;
    if (t.format != PixelFormat::A8R8G8B8 && t.format != PixelFormat::X8R8G8B8) return false;
    for (int i = 0; i < st.levelCount; ++i) {
        const SurfaceView& l = t.levels[i];
        const bool aligned = (reinterpret_cast<std::uintptr_t>(l.bits) & 3) == 0 && l.pitch % 4 == 0 && IsPow2(l.pitch / 4);
        if (!aligned || !IsPow2(l.width) || !IsPow2(l.height) || l.width > 8192 || l.height > 8192) {
            return false;
        }
    }
    auto mode = [](std::uint32_t m) {
        return m == d3d::kAddressWrap || m == d3d::kAddressMirror || m == d3d::kAddressClamp;
    };
    return mode(st.addressU) && mode(st.addressV);
}

enum class Pick { kNone, kTexture, kDiffuse, kProduct };

// What one op of a stage computes, when it is texture, diffuse or their product.
Pick Classify(std::uint32_t op, const std::uint32_t args[3]) {
    auto arg = [](std::uint32_t a) {
        return a == d3d::kTaTexture ? Pick::kTexture : a == d3d::kTaDiffuse ? Pick::kDiffuse : Pick::kNone;
    };
    switch (op) {
    case d3d::kTopSelectArg1: return arg(args[0]);
    case d3d::kTopSelectArg2: return arg(args[1]);
    case d3d::kTopModulate: {
        const Pick a = arg(args[0]), b = arg(args[1]);
        if ((a == Pick::kTexture && b == Pick::kDiffuse) || (a == Pick::kDiffuse && b == Pick::kTexture)) {
            return Pick::kProduct;
        }
        if (a == Pick::kDiffuse && b == Pick::kDiffuse) return Pick::kNone;
        return Pick::kNone;
    }
    default: return Pick::kNone;
    }
}

bool FastBlendOf(const DrawContext& ctx, FastBlend& out) {
    if (!ctx.blend) {
        out = FastBlend::kReplace;
        return true;
    }
    if (ctx.blendOp != d3d::kBlendOpAdd) return false;
    if (ctx.srcBlend == d3d::kBlendSrcAlpha && ctx.destBlend == d3d::kBlendInvSrcAlpha) {
        out = FastBlend::kAlpha;
    } else if (ctx.srcBlend == d3d::kBlendSrcAlpha && ctx.destBlend == d3d::kBlendOne) {
        out = FastBlend::kAdditive;
    } else if (ctx.srcBlend == d3d::kBlendOne && ctx.destBlend == d3d::kBlendOne) {
        out = FastBlend::kOneOne;
    } else {
        return false;
    }
    return true;
}

void ChooseSpan(const DrawState& s, DrawContext& ctx) {
    ctx.span = GeneralSpan;
    ctx.rows = nullptr;
    ctx.spanName = "general";
    FastBlend blend;
    if ((s.alphaTestEnable && s.alphaFunc != d3d::kCmpAlways) || (s.colorWriteEnable & 0xF) != 0xF ||
        !FastTarget(ctx.target) || !FastBlendOf(ctx, blend)) {
        return;
    }
    static const char* const kTextured[] = {"textured", "textured alpha-blended", "textured additive",
                                            "textured one-one"};
    static const char* const kColor[] = {"colour", "colour alpha-blended", "colour additive", "colour one-one"};
    const int b = static_cast<int>(blend);
    // A fill keeps the target's settled runs itself; every other routine is wrapped later.
    auto fill = [&] {
        ctx.settles = ctx.target.settled && BytesPerPixel(ctx.target.format) == 4 && !ctx.bridge.span;
        ctx.span = ctx.settles ? SettlingColorSpan(blend) : ColorSpan(blend);
        ctx.spanName = kColor[b];
    };
    if (ctx.stageCount == 0) return fill();
    if (ctx.stageCount != 1) return;
    const ResolvedStage& st = ctx.stages[0];
    const Pick color = Classify(st.colorOp, st.colorArg);
    const Pick alpha = st.alphaOp == d3d::kTopDisable ? Pick::kDiffuse : Classify(st.alphaOp, st.alphaArg);
    if (color == Pick::kNone || alpha == Pick::kNone) return;
    if (color == Pick::kDiffuse && alpha == Pick::kDiffuse) return fill();
    if (!st.usesTexture || !FastTexture(st)) return;
    SpanFn fn = TexturedSpan(blend);
    if (!fn) return;
    // texture x diffuse with the unused side forced to 255 per channel.
    const std::uint64_t rgb = 0x0000'00FF'00FF'00FFull, a = 0x00FF'0000'0000'0000ull;
    FastParams& f = ctx.fast;
    f.textureOr = (color == Pick::kDiffuse ? rgb : 0) | (alpha == Pick::kDiffuse ? a : 0);
    f.diffuseOr = (color == Pick::kTexture ? rgb : 0) | (alpha == Pick::kTexture ? a : 0);
    if (st.texture->format == PixelFormat::X8R8G8B8) f.textureOr |= a;
    f.addressU = st.addressU;
    f.addressV = st.addressV;
    ctx.span = fn;
    ctx.rows = TexturedRows(blend);
    ctx.spanName = kTextured[b];
    ctx.windows = ctx.rows && st.texture->version != 0 && (blend == FastBlend::kAdditive || blend == FastBlend::kAlpha);
    ctx.windowBlend = blend;
}

// Under SRCALPHA blending with ONE or INVSRCALPHA a source alpha of 0 adds nothing and keeps
// everything; the alpha the stages produce is 0 whenever the diffuse alpha is.
bool ClearAlphaIsNoop(const DrawContext& ctx) {
    if (!ctx.blend || ctx.blendOp != d3d::kBlendOpAdd || ctx.srcBlend != d3d::kBlendSrcAlpha ||
        (ctx.destBlend != d3d::kBlendOne && ctx.destBlend != d3d::kBlendInvSrcAlpha)) {
        return false;
    }
    if (ctx.stageCount == 0) return true;
    if (ctx.stageCount != 1) return false;
    const ResolvedStage& st = ctx.stages[0];
    auto diffuse = [](std::uint32_t a) { return (a & ~d3d::kTaAlphaReplicate) == d3d::kTaDiffuse; };
    switch (st.alphaOp) {
    case d3d::kTopDisable: return true;
    case d3d::kTopSelectArg1: return diffuse(st.alphaArg[0]);
    case d3d::kTopSelectArg2: return diffuse(st.alphaArg[1]);
    case d3d::kTopModulate: return diffuse(st.alphaArg[0]) || diffuse(st.alphaArg[1]);
    default: return false;
    }
}

}  // namespace

void ResolveDraw(const DrawState& state, const VertexLayout& layout, const SurfaceView& target,
                 DrawContext& ctx) {
    (void)layout;
    ctx.state = &state;
    ctx.target = target;
    BeginTargetBridge(ctx);
    ctx.flat = state.shadeMode == d3d::kShadeFlat;
    ResolveStages(state, ctx);
    ResolveBlend(state, ctx);
    ChooseSpan(state, ctx);
    EndTargetBridge(ctx);
    AttachSettledRuns(ctx);
    ctx.clearAlphaIsNoop = ClearAlphaIsNoop(ctx);
}

const char* SpanRoutineName(const DrawState& state, const VertexLayout& layout, const SurfaceView& target) {
    DrawContext ctx;
    ResolveDraw(state, layout, target, ctx);
    return ctx.spanName;
}

}  // namespace raster
