#include "platform/d3d8/device_state.h"

#include <bit>

namespace d3d8 {

namespace {

DWORD FloatBits(float f) { return std::bit_cast<DWORD>(f); }

constexpr DWORD kRenderStateNumbers[] = {
    7,   8,   9,   10,  14,  15,  16,  19,  20,  22,  23,  24,  25,  26,  27,  28,  29,  30,  34,  35,
    36,  37,  38,  40,  47,  48,  52,  53,  54,  55,  56,  57,  58,  59,  60,  128, 129, 130, 131, 132,
    133, 134, 135, 136, 137, 139, 140, 141, 142, 143, 145, 146, 147, 148, 151, 152, 153, 154, 155, 156,
    157, 158, 159, 160, 161, 162, 163, 164, 165, 166, 167, 168, 170, 171, 172, 173};

struct RenderStateTable {
    bool exists[kRenderStateCount] = {};
    constexpr RenderStateTable()
    {
        for (DWORD n : kRenderStateNumbers)
            exists[n] = true;
    }
};
constexpr RenderStateTable kRenderStates;

}  // namespace

bool IsRenderState(DWORD state) { return state < kRenderStateCount && kRenderStates.exists[state]; }

bool IsStageState(DWORD type) { return type >= 1 && type <= 28 && type != 12; }

int TransformSlot(DWORD type)
{
    if (type == D3DTS_VIEW)
        return 0;
    if (type == D3DTS_PROJECTION)
        return 1;
    if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7)
        return 2 + static_cast<int>(type - D3DTS_TEXTURE0);
    if (type >= 256 && type < 256 + kWorldMatrixCount)
        return 10 + static_cast<int>(type - 256);
    return -1;
}

DWORD TransformTypeOfSlot(int slot)
{
    if (slot == 0)
        return D3DTS_VIEW;
    if (slot == 1)
        return D3DTS_PROJECTION;
    if (slot < 10)
        return D3DTS_TEXTURE0 + static_cast<DWORD>(slot - 2);
    return 256 + static_cast<DWORD>(slot - 10);
}

D3DMATRIX IdentityMatrix()
{
    D3DMATRIX m{};
    for (int i = 0; i < 4; ++i)
        m.m[i][i] = 1.0f;
    return m;
}

D3DLIGHT8 DefaultLight()
{
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    light.Direction = {0.0f, 0.0f, 1.0f};
    return light;
}

void SetDefaultStates(DeviceState& s, bool autoDepthStencil, float maxPointSize)
{
    auto& rs = s.renderStates;
    rs.fill(0);
    rs[D3DRS_ZENABLE] = autoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
    rs[D3DRS_FOGSTART] = FloatBits(0.0f);
    rs[D3DRS_FOGEND] = FloatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_VERTEXBLEND] = D3DVBF_DISABLE;
    rs[D3DRS_POINTSIZE] = FloatBits(1.0f);
    rs[D3DRS_POINTSIZE_MIN] = FloatBits(0.0f);
    rs[D3DRS_POINTSCALE_A] = FloatBits(1.0f);
    rs[D3DRS_POINTSCALE_B] = FloatBits(0.0f);
    rs[D3DRS_POINTSCALE_C] = FloatBits(0.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_PATCHEDGESTYLE] = D3DPATCHEDGE_DISCRETE;
    rs[D3DRS_PATCHSEGMENTS] = FloatBits(1.0f);
    rs[D3DRS_DEBUGMONITORTOKEN] = D3DDMT_ENABLE;
    rs[D3DRS_POINTSIZE_MAX] = FloatBits(maxPointSize);
    rs[D3DRS_COLORWRITEENABLE] = 0x0000000F;
    rs[D3DRS_TWEENFACTOR] = FloatBits(0.0f);
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONORDER] = D3DORDER_CUBIC;
    rs[D3DRS_NORMALORDER] = D3DORDER_LINEAR;

    for (DWORD stage = 0; stage < kStageCount; ++stage) {
        auto& t = s.stageStates[stage];
        t.fill(0);
        t[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        t[D3DTSS_TEXCOORDINDEX] = stage;
        t[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
        t[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
        t[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
        t[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
        t[D3DTSS_MINFILTER] = D3DTEXF_POINT;
        t[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        t[D3DTSS_MAXANISOTROPY] = 1;
        t[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        t[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }

    s.transforms.fill(IdentityMatrix());
    s.lights.clear();
    s.material = D3DMATERIAL8{};
    s.vertexShader = 0;
    s.stream0Stride = 0;
}

}  // namespace d3d8
