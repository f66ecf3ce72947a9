// Drawing: the current state resolved into the back end's records, once per change.
#include "platform/d3d8/objects.h"

#include <algorithm>
#include <bit>

namespace d3d8 {

bool DescribeFVF(DWORD fvf, FvfLayout& out)
{
    out = FvfLayout{};
    if (fvf & (D3DFVF_RESERVED0 | D3DFVF_RESERVED2))
        return false;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == 0)
        return false;
    UINT offset = 0;
    if (position == D3DFVF_XYZ)
        offset = 12;
    else if (position == D3DFVF_XYZRHW)
        offset = 16;
    else
        offset = 12 + 4 * ((position - D3DFVF_XYZB1) / 2 + 1);
    out.hasRHW = position == D3DFVF_XYZRHW;
    if (fvf & D3DFVF_NORMAL) {
        out.normalOffset = static_cast<int>(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE)
        offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        out.diffuseOffset = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        out.specularOffset = static_cast<int>(offset);
        offset += 4;
    }
    out.texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (out.texCount > 8)
        return false;
    static constexpr int kDimensions[4] = {2, 3, 4, 1};
    for (UINT i = 0; i < out.texCount; ++i) {
        const int dims = kDimensions[(fvf >> (16 + 2 * i)) & 3];
        out.texOffset[i] = static_cast<int>(offset);
        out.texDimensions[i] = dims;
        offset += 4 * static_cast<UINT>(dims);
    }
    out.size = offset;
    return true;
}

std::uint64_t VertexCountFor(D3DPRIMITIVETYPE type, UINT n)
{
    const std::uint64_t count = n;
    switch (type) {
    case D3DPT_POINTLIST: return count;
    case D3DPT_LINELIST: return 2 * count;
    case D3DPT_LINESTRIP: return count + 1;
    case D3DPT_TRIANGLELIST: return 3 * count;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return count + 2;
    default: return 0;
    }
}

namespace {

float AsFloat(DWORD bits) { return std::bit_cast<float>(bits); }

struct Rgb {
    float r = 0, g = 0, b = 0;
};

Rgb ColorOf(D3DCOLOR c)
{
    return {((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, (c & 0xFF) / 255.0f};
}

std::uint32_t ToByte(float v)
{
    v = std::clamp(v, 0.0f, 1.0f);
    return static_cast<std::uint32_t>(v * 255.0f + 0.5f);
}

void ResolveStage(const std::array<DWORD, kStageStateCount>& t, Texture* texture, raster::StageState& out)
{
    out.colorOp = t[D3DTSS_COLOROP];
    out.colorArg1 = t[D3DTSS_COLORARG1];
    out.colorArg2 = t[D3DTSS_COLORARG2];
    out.colorArg0 = t[D3DTSS_COLORARG0];
    out.alphaOp = t[D3DTSS_ALPHAOP];
    out.alphaArg1 = t[D3DTSS_ALPHAARG1];
    out.alphaArg2 = t[D3DTSS_ALPHAARG2];
    out.alphaArg0 = t[D3DTSS_ALPHAARG0];
    out.texture = texture ? &texture->SampleView() : nullptr;
    out.minFilter = t[D3DTSS_MINFILTER];
    out.magFilter = t[D3DTSS_MAGFILTER];
    out.mipFilter = t[D3DTSS_MIPFILTER];
    out.addressU = t[D3DTSS_ADDRESSU];
    out.addressV = t[D3DTSS_ADDRESSV];
    out.borderColor = t[D3DTSS_BORDERCOLOR];
}

// Without normals no light reaches a vertex, so the lit colour is the same for the whole draw:
// emissive + ambient material * (global ambient + the enabled lights' ambient).
std::uint32_t LitColor(const DeviceState& s)
{
    Rgb ambient = ColorOf(s.renderStates[D3DRS_AMBIENT]);
    for (const auto& [index, slot] : s.lights) {
        if (!slot.enabled)
            continue;
        ambient.r += slot.light.Ambient.r;
        ambient.g += slot.light.Ambient.g;
        ambient.b += slot.light.Ambient.b;
    }
    const D3DMATERIAL8& m = s.material;
    const std::uint32_t r = ToByte(m.Emissive.r + m.Ambient.r * ambient.r);
    const std::uint32_t g = ToByte(m.Emissive.g + m.Ambient.g * ambient.g);
    const std::uint32_t b = ToByte(m.Emissive.b + m.Ambient.b * ambient.b);
    return (ToByte(m.Diffuse.a) << 24) | (r << 16) | (g << 8) | b;
}

void Multiply(const D3DMATRIX& a, const D3DMATRIX& b, D3DMATRIX& out)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c] + a.m[r][3] * b.m[3][c];
}

}  // namespace

void DeviceImpl::ResolveDrawState()
{
    const DeviceState& s = state_;
    const auto& rs = s.renderStates;
    raster::DrawState& d = drawState_;
    for (int i = 0; i < raster::kMaxStages; ++i)
        ResolveStage(s.stageStates[static_cast<std::size_t>(i)], s.textures[static_cast<std::size_t>(i)], d.stages[i]);
    d.alphaBlendEnable = rs[D3DRS_ALPHABLENDENABLE] != 0;
    d.srcBlend = rs[D3DRS_SRCBLEND];
    d.destBlend = rs[D3DRS_DESTBLEND];
    d.blendOp = rs[D3DRS_BLENDOP];
    d.alphaTestEnable = rs[D3DRS_ALPHATESTENABLE] != 0;
    d.alphaFunc = rs[D3DRS_ALPHAFUNC];
    d.alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;
    d.shadeMode = rs[D3DRS_SHADEMODE];
    d.cullMode = rs[D3DRS_CULLMODE];
    d.fillMode = rs[D3DRS_FILLMODE];
    d.colorWriteEnable = rs[D3DRS_COLORWRITEENABLE];
    d.textureFactor = rs[D3DRS_TEXTUREFACTOR];
    const float lo = std::max(0.0f, AsFloat(rs[D3DRS_POINTSIZE_MIN]));
    const float hi = std::min(kMaxPointSize, AsFloat(rs[D3DRS_POINTSIZE_MAX]));
    float size = AsFloat(rs[D3DRS_POINTSIZE]);
    if (!(size >= lo))
        size = lo;
    if (size > hi)
        size = hi;
    d.pointSize = size;
    d.lastPixel = rs[D3DRS_LASTPIXEL] != 0;

    FvfLayout fvf;
    const bool rhw = DescribeFVF(s.vertexShader, fvf) && fvf.hasRHW;
    d.lit = rs[D3DRS_LIGHTING] != 0 && !rhw;
    if (d.lit) {
        d.litColor = LitColor(s);
        d.litAlphaFromVertex = rs[D3DRS_COLORVERTEX] != 0 && rs[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1;
    }
    drawStateDirty_ = false;
}

const float* DeviceImpl::WorldViewProjection()
{
    if (wvpDirty_) {
        const auto& t = state_.transforms;
        D3DMATRIX worldView, all;
        Multiply(t[static_cast<std::size_t>(TransformSlot(D3DTS_WORLD))],
                 t[static_cast<std::size_t>(TransformSlot(D3DTS_VIEW))], worldView);
        Multiply(worldView, t[static_cast<std::size_t>(TransformSlot(D3DTS_PROJECTION))], all);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                wvp_[r * 4 + c] = all.m[r][c];
        wvpDirty_ = false;
    }
    return wvp_;
}

HRESULT DeviceImpl::Draw(D3DPRIMITIVETYPE type, UINT startVertex, UINT count, const std::uint8_t* data,
                         std::size_t size, UINT stride)
{
    if (layoutDirty_) {
        FvfLayout fvf;
        layoutValid_ = DescribeFVF(state_.vertexShader, fvf);
        if (layoutValid_) {
            layout_.positionOffset = 0;
            layout_.hasRHW = fvf.hasRHW;
            layout_.diffuseOffset = fvf.diffuseOffset;
            const DWORD set = state_.stageStates[0][D3DTSS_TEXCOORDINDEX];
            layout_.texOffset = set < fvf.texCount && fvf.texDimensions[set] >= 2 ? fvf.texOffset[set] : -1;
            fvfSize_ = fvf.size;
        }
        layoutDirty_ = false;
    }
    if (!layoutValid_ || stride < fvfSize_)
        return D3DERR_INVALIDCALL;
    if (!Rendering() || !renderTarget_ || count == 0)
        return D3D_OK;
    layout_.stride = static_cast<int>(stride);
    if (drawStateDirty_)
        ResolveDrawState();
    const D3DVIEWPORT8& vp = state_.viewport;
    const raster::Viewport viewport{static_cast<int>(vp.X), static_cast<int>(vp.Y), static_cast<int>(vp.Width),
                                    static_cast<int>(vp.Height), vp.MinZ, vp.MaxZ};
    const bool drawn = raster::DrawPrimitive(drawState_, layout_, data, size, static_cast<int>(type),
                                             static_cast<int>(startVertex), static_cast<int>(count),
                                             WorldViewProjection(), viewport, renderTarget_->View());
    return drawn ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT DeviceImpl::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount)
{
    if (!inScene_ || VertexCountFor(PrimitiveType, 1) == 0 || PrimitiveCount > kMaxPrimitiveCount)
        return D3DERR_INVALIDCALL;
    VertexBuffer* vb = state_.stream0;
    if (!vb || vb->Locked())
        return D3DERR_INVALIDCALL;
    const std::uint64_t needed = (StartVertex + VertexCountFor(PrimitiveType, PrimitiveCount)) * state_.stream0Stride;
    if (PrimitiveCount > 0 && needed > vb->Size())
        return D3DERR_INVALIDCALL;
    return Draw(PrimitiveType, StartVertex, PrimitiveCount, vb->Data(), vb->Size(), state_.stream0Stride);
}

HRESULT DeviceImpl::DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                    const void* pVertexStreamZeroData, UINT VertexStreamZeroStride)
{
    if (!inScene_ || VertexCountFor(PrimitiveType, 1) == 0 || PrimitiveCount > kMaxPrimitiveCount ||
        !pVertexStreamZeroData || VertexStreamZeroStride == 0 || VertexStreamZeroStride > 256)
        return D3DERR_INVALIDCALL;
    const std::size_t size =
        static_cast<std::size_t>(VertexCountFor(PrimitiveType, PrimitiveCount)) * VertexStreamZeroStride;
    const HRESULT hr = Draw(PrimitiveType, 0, PrimitiveCount, static_cast<const std::uint8_t*>(pVertexStreamZeroData),
                            size, VertexStreamZeroStride);
    ApplyStream(nullptr, 0);
    state_.stream0Stride = 0;
    return hr;
}

}  // namespace d3d8
