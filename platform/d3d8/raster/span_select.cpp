// Per-draw resolution of the fixed-function state and the choice of span routine.
#include <algorithm>

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

}  // namespace

void ResolveDraw(const DrawState& state, const VertexLayout& layout, const SurfaceView& target,
                 DrawContext& ctx) {
    (void)layout;
    ctx.state = &state;
    ctx.target = target;
    ctx.flat = state.shadeMode == d3d::kShadeFlat;
    ResolveStages(state, ctx);
    ResolveBlend(state, ctx);
    ctx.span = GeneralSpan;
    ctx.spanName = "general";
}

const char* SpanRoutineName(const DrawState& state, const VertexLayout& layout, const SurfaceView& target) {
    DrawContext ctx;
    ResolveDraw(state, layout, target, ctx);
    return ctx.spanName;
}

}  // namespace raster
