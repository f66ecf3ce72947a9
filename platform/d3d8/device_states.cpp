// State setters and getters, and state blocks. While a block records, setters store into it and
// leave the device alone. Setters drop redundant changes, so a draw re-derives only what moved.
#include "platform/d3d8/objects.h"

namespace d3d8 {

namespace {

constexpr DWORD kVertexRenderStates[] = {
    D3DRS_AMBIENT, D3DRS_AMBIENTMATERIALSOURCE, D3DRS_CLIPPING, D3DRS_CLIPPLANEENABLE, D3DRS_COLORVERTEX,
    D3DRS_CULLMODE, D3DRS_DIFFUSEMATERIALSOURCE, D3DRS_EMISSIVEMATERIALSOURCE, D3DRS_FOGCOLOR, D3DRS_FOGDENSITY,
    D3DRS_FOGENABLE, D3DRS_FOGEND, D3DRS_FOGSTART, D3DRS_FOGTABLEMODE, D3DRS_FOGVERTEXMODE,
    D3DRS_INDEXEDVERTEXBLENDENABLE, D3DRS_LIGHTING, D3DRS_LOCALVIEWER, D3DRS_MULTISAMPLEANTIALIAS,
    D3DRS_MULTISAMPLEMASK, D3DRS_NORMALIZENORMALS, D3DRS_PATCHEDGESTYLE, D3DRS_POINTSCALE_A, D3DRS_POINTSCALE_B,
    D3DRS_POINTSCALE_C, D3DRS_POINTSCALEENABLE, D3DRS_POINTSIZE, D3DRS_POINTSIZE_MAX, D3DRS_POINTSIZE_MIN,
    D3DRS_POINTSPRITEENABLE, D3DRS_RANGEFOGENABLE, D3DRS_SHADEMODE, D3DRS_SPECULARENABLE,
    D3DRS_SPECULARMATERIALSOURCE, D3DRS_TWEENFACTOR, D3DRS_VERTEXBLEND};

constexpr DWORD kPixelRenderStates[] = {
    D3DRS_ALPHABLENDENABLE, D3DRS_ALPHAFUNC, D3DRS_ALPHAREF, D3DRS_ALPHATESTENABLE, D3DRS_BLENDOP,
    D3DRS_COLORWRITEENABLE, D3DRS_DESTBLEND, D3DRS_DITHERENABLE, D3DRS_FILLMODE, D3DRS_FOGDENSITY, D3DRS_FOGEND,
    D3DRS_FOGSTART, D3DRS_LASTPIXEL, D3DRS_SHADEMODE, D3DRS_SRCBLEND, D3DRS_STENCILENABLE, D3DRS_STENCILFAIL,
    D3DRS_STENCILZFAIL, D3DRS_STENCILPASS, D3DRS_STENCILFUNC, D3DRS_STENCILREF, D3DRS_STENCILMASK,
    D3DRS_STENCILWRITEMASK, D3DRS_TEXTUREFACTOR, D3DRS_WRAP0, D3DRS_WRAP1, D3DRS_WRAP2, D3DRS_WRAP3, D3DRS_WRAP4,
    D3DRS_WRAP5, D3DRS_WRAP6, D3DRS_WRAP7, D3DRS_ZENABLE, D3DRS_ZFUNC, D3DRS_ZWRITEENABLE};

bool SameMatrix(const D3DMATRIX& a, const D3DMATRIX& b)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (a.m[r][c] != b.m[r][c])
                return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- applying (no validation)

void DeviceImpl::ApplyRenderState(DWORD state, DWORD value)
{
    if (state_.renderStates[state] == value)
        return;
    state_.renderStates[state] = value;
    drawStateDirty_ = true;
}

void DeviceImpl::ApplyStageState(DWORD stage, DWORD type, DWORD value)
{
    if (state_.stageStates[stage][type] == value)
        return;
    state_.stageStates[stage][type] = value;
    drawStateDirty_ = true;
    if (type == D3DTSS_TEXCOORDINDEX)
        layoutDirty_ = true;
}

void DeviceImpl::ApplyTexture(DWORD stage, Texture* texture)
{
    Texture* old = state_.textures[stage];
    if (old == texture)
        return;
    if (texture)
        texture->AddInternal();
    state_.textures[stage] = texture;
    if (old)
        old->ReleaseInternal();
    drawStateDirty_ = true;
}

void DeviceImpl::ApplyTransform(int slot, const D3DMATRIX& m)
{
    D3DMATRIX& stored = state_.transforms[static_cast<std::size_t>(slot)];
    if (SameMatrix(stored, m))
        return;
    stored = m;
    if (slot == TransformSlot(D3DTS_VIEW) || slot == TransformSlot(D3DTS_PROJECTION) ||
        slot == TransformSlot(D3DTS_WORLD))
        wvpDirty_ = true;
}

void DeviceImpl::ApplyLight(DWORD index, const D3DLIGHT8& light)
{
    state_.lights[index].light = light;
    drawStateDirty_ = true;
}

void DeviceImpl::ApplyLightEnable(DWORD index, bool enable)
{
    auto it = state_.lights.find(index);
    if (it == state_.lights.end())
        it = state_.lights.emplace(index, LightSlot{DefaultLight(), false}).first;
    it->second.enabled = enable;
    drawStateDirty_ = true;
}

void DeviceImpl::ApplyMaterial(const D3DMATERIAL8& m)
{
    state_.material = m;
    drawStateDirty_ = true;
}

void DeviceImpl::ApplyViewport(const D3DVIEWPORT8& vp) { state_.viewport = vp; }

void DeviceImpl::ApplyStream(VertexBuffer* vb, UINT stride)
{
    VertexBuffer* old = state_.stream0;
    if (vb)
        vb->AddInternal();
    state_.stream0 = vb;
    if (vb)
        state_.stream0Stride = stride;
    if (old)
        old->ReleaseInternal();
}

void DeviceImpl::ApplyVertexShader(DWORD handle)
{
    if (state_.vertexShader == handle)
        return;
    state_.vertexShader = handle;
    layoutDirty_ = drawStateDirty_ = true;
}

// ---------------------------------------------------------------- API setters and getters

HRESULT DeviceImpl::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value)
{
    if (!IsRenderState(State))
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording() && State != D3DRS_DEBUGMONITORTOKEN)
        blocks_.RecordingBlock()->RecordRenderState(State, Value);
    else
        ApplyRenderState(State, Value);
    return D3D_OK;
}

HRESULT DeviceImpl::GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue)
{
    if (!pValue || !IsRenderState(State))
        return D3DERR_INVALIDCALL;
    *pValue = state_.renderStates[State];
    return D3D_OK;
}

HRESULT DeviceImpl::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value)
{
    if (Stage >= kStageCount || !IsStageState(Type))
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordStageState(Stage, Type, Value);
    else
        ApplyStageState(Stage, Type, Value);
    return D3D_OK;
}

HRESULT DeviceImpl::GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue)
{
    if (!pValue || Stage >= kStageCount || !IsStageState(Type))
        return D3DERR_INVALIDCALL;
    *pValue = state_.stageStates[Stage][Type];
    return D3D_OK;
}

HRESULT DeviceImpl::SetTexture(DWORD Stage, IDirect3DBaseTexture8* pTexture)
{
    if (Stage >= kStageCount)
        return D3DERR_INVALIDCALL;
    Texture* texture = static_cast<Texture*>(pTexture);
    if (texture && texture->Owner() != this)
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordTexture(Stage, texture);
    else
        ApplyTexture(Stage, texture);
    return D3D_OK;
}

HRESULT DeviceImpl::GetTexture(DWORD Stage, IDirect3DBaseTexture8** ppTexture)
{
    if (!ppTexture || Stage >= kStageCount)
        return D3DERR_INVALIDCALL;
    Texture* texture = state_.textures[Stage];
    if (texture)
        texture->AddRef();
    *ppTexture = texture;
    return D3D_OK;
}

HRESULT DeviceImpl::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix)
{
    const int slot = TransformSlot(State);
    if (!pMatrix || slot < 0)
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordTransform(slot, *pMatrix);
    else
        ApplyTransform(slot, *pMatrix);
    return D3D_OK;
}

HRESULT DeviceImpl::GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix)
{
    const int slot = TransformSlot(State);
    if (!pMatrix || slot < 0)
        return D3DERR_INVALIDCALL;
    *pMatrix = state_.transforms[static_cast<std::size_t>(slot)];
    return D3D_OK;
}

HRESULT DeviceImpl::SetViewport(const D3DVIEWPORT8* pViewport)
{
    if (!pViewport || !renderTarget_)
        return D3DERR_INVALIDCALL;
    const raster::SurfaceView& target = renderTarget_->View();
    const std::uint64_t right = static_cast<std::uint64_t>(pViewport->X) + pViewport->Width;
    const std::uint64_t bottom = static_cast<std::uint64_t>(pViewport->Y) + pViewport->Height;
    if (right > static_cast<std::uint64_t>(target.width) || bottom > static_cast<std::uint64_t>(target.height) ||
        !(pViewport->MinZ >= 0.0f && pViewport->MaxZ <= 1.0f && pViewport->MinZ <= pViewport->MaxZ))
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordViewport(*pViewport);
    else
        ApplyViewport(*pViewport);
    return D3D_OK;
}

HRESULT DeviceImpl::GetViewport(D3DVIEWPORT8* pViewport)
{
    if (!pViewport)
        return D3DERR_INVALIDCALL;
    *pViewport = state_.viewport;
    return D3D_OK;
}

HRESULT DeviceImpl::SetMaterial(const D3DMATERIAL8* pMaterial)
{
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordMaterial(*pMaterial);
    else
        ApplyMaterial(*pMaterial);
    return D3D_OK;
}

HRESULT DeviceImpl::GetMaterial(D3DMATERIAL8* pMaterial)
{
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    *pMaterial = state_.material;
    return D3D_OK;
}

HRESULT DeviceImpl::SetLight(DWORD Index, const D3DLIGHT8* pLight)
{
    if (!pLight || pLight->Type < D3DLIGHT_POINT || pLight->Type > D3DLIGHT_DIRECTIONAL)
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordLight(Index, *pLight);
    else
        ApplyLight(Index, *pLight);
    return D3D_OK;
}

HRESULT DeviceImpl::GetLight(DWORD Index, D3DLIGHT8* pLight)
{
    auto it = state_.lights.find(Index);
    if (!pLight || it == state_.lights.end())
        return D3DERR_INVALIDCALL;
    *pLight = it->second.light;
    return D3D_OK;
}

HRESULT DeviceImpl::LightEnable(DWORD Index, BOOL Enable)
{
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordLightEnable(Index, Enable != FALSE);
    else
        ApplyLightEnable(Index, Enable != FALSE);
    return D3D_OK;
}

HRESULT DeviceImpl::GetLightEnable(DWORD Index, BOOL* pEnable)
{
    auto it = state_.lights.find(Index);
    if (!pEnable || it == state_.lights.end())
        return D3DERR_INVALIDCALL;
    *pEnable = it->second.enabled ? 128 : 0;
    return D3D_OK;
}

HRESULT DeviceImpl::SetVertexShader(DWORD Handle)
{
    FvfLayout layout;
    if (!DescribeFVF(Handle, layout))
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordVertexShader(Handle);
    else
        ApplyVertexShader(Handle);
    return D3D_OK;
}

HRESULT DeviceImpl::GetVertexShader(DWORD* pHandle)
{
    if (!pHandle)
        return D3DERR_INVALIDCALL;
    *pHandle = state_.vertexShader;
    return D3D_OK;
}

HRESULT DeviceImpl::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData, UINT Stride)
{
    VertexBuffer* vb = static_cast<VertexBuffer*>(pStreamData);
    if (StreamNumber != 0 || Stride > 256 || (vb && vb->Owner() != this))
        return D3DERR_INVALIDCALL;
    if (blocks_.Recording())
        blocks_.RecordingBlock()->RecordStream(vb, Stride);
    else
        ApplyStream(vb, Stride);
    return D3D_OK;
}

HRESULT DeviceImpl::GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8** ppStreamData, UINT* pStride)
{
    if (StreamNumber != 0 || !ppStreamData || !pStride)
        return D3DERR_INVALIDCALL;
    if (state_.stream0)
        state_.stream0->AddRef();
    *ppStreamData = state_.stream0;
    *pStride = state_.stream0Stride;
    return D3D_OK;
}

HRESULT DeviceImpl::ValidateDevice(DWORD* pNumPasses)
{
    if (!pNumPasses)
        return D3DERR_INVALIDCALL;
    *pNumPasses = 1;
    return D3D_OK;
}

// ---------------------------------------------------------------- state blocks

HRESULT DeviceImpl::BeginStateBlock()
{
    if (blocks_.Recording())
        return D3DERR_INVALIDCALL;
    blocks_.BeginRecording();
    return D3D_OK;
}

HRESULT DeviceImpl::EndStateBlock(DWORD* pToken)
{
    if (!blocks_.Recording() || !pToken)
        return D3DERR_INVALIDCALL;
    *pToken = blocks_.EndRecording();
    return D3D_OK;
}

HRESULT DeviceImpl::ApplyStateBlock(DWORD Token)
{
    StateBlock* block = blocks_.Recording() ? nullptr : blocks_.Find(Token);
    if (!block)
        return D3DERR_INVALIDCALL;
    block->Apply(*this);
    return D3D_OK;
}

HRESULT DeviceImpl::CaptureStateBlock(DWORD Token)
{
    StateBlock* block = blocks_.Recording() ? nullptr : blocks_.Find(Token);
    if (!block)
        return D3DERR_INVALIDCALL;
    block->Capture(state_);
    return D3D_OK;
}

HRESULT DeviceImpl::DeleteStateBlock(DWORD Token)
{
    if (blocks_.Recording() || !blocks_.Delete(Token))
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT DeviceImpl::CreateStateBlock(D3DSTATEBLOCKTYPE Type, DWORD* pToken)
{
    if (!pToken || blocks_.Recording() || Type < D3DSBT_ALL || Type > D3DSBT_VERTEXSTATE)
        return D3DERR_INVALIDCALL;
    auto block = std::make_unique<StateBlock>();
    const DeviceState& s = state_;
    auto recordStage = [&](DWORD type) {
        for (DWORD stage = 0; stage < kStageCount; ++stage)
            block->RecordStageState(stage, type, s.stageStates[stage][type]);
    };
    auto recordLights = [&] {
        for (const auto& [index, slot] : s.lights) {
            block->RecordLight(index, slot.light);
            block->RecordLightEnable(index, slot.enabled);
        }
    };
    if (Type == D3DSBT_ALL) {
        for (DWORD rs = 0; rs < kRenderStateCount; ++rs)
            if (IsRenderState(rs) && rs != D3DRS_DEBUGMONITORTOKEN)
                block->RecordRenderState(rs, s.renderStates[rs]);
        for (DWORD type = 1; type < kStageStateCount; ++type)
            if (IsStageState(type))
                recordStage(type);
        for (DWORD stage = 0; stage < kStageCount; ++stage)
            block->RecordTexture(stage, s.textures[stage]);
        for (int slot = 0; slot < static_cast<int>(kTransformSlots); ++slot)
            block->RecordTransform(slot, s.transforms[static_cast<std::size_t>(slot)]);
        recordLights();
        block->RecordMaterial(s.material);
        block->RecordViewport(s.viewport);
        block->RecordStream(s.stream0, s.stream0Stride);
        block->RecordVertexShader(s.vertexShader);
    } else if (Type == D3DSBT_VERTEXSTATE) {
        for (DWORD rs : kVertexRenderStates)
            block->RecordRenderState(rs, s.renderStates[rs]);
        recordStage(D3DTSS_TEXCOORDINDEX);
        recordStage(D3DTSS_TEXTURETRANSFORMFLAGS);
        recordLights();
        block->RecordVertexShader(s.vertexShader);
    } else {
        for (DWORD rs : kPixelRenderStates)
            block->RecordRenderState(rs, s.renderStates[rs]);
        for (DWORD type = 1; type < kStageStateCount; ++type)
            if (IsStageState(type))
                recordStage(type);
    }
    *pToken = blocks_.Add(std::move(block));
    return D3D_OK;
}

}  // namespace d3d8
