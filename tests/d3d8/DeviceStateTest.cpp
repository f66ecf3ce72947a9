// Default states, state validation and state blocks, through the device's public interface.
#include "tests/d3d8/D3D8TestSupport.h"

#include <bit>

namespace d3d8test {
namespace {

DWORD Bits(float f) { return std::bit_cast<DWORD>(f); }

using DeviceStates = DeviceTest;

TEST_F(DeviceStates, RenderStatesStartAtThePlatformDefaults)
{
    const struct {
        D3DRENDERSTATETYPE state;
        DWORD value;
    } expected[] = {
        {D3DRS_ZENABLE, FALSE}, {D3DRS_FILLMODE, D3DFILL_SOLID}, {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRS_LINEPATTERN, 0}, {D3DRS_ZWRITEENABLE, TRUE}, {D3DRS_ALPHATESTENABLE, FALSE},
        {D3DRS_LASTPIXEL, TRUE}, {D3DRS_SRCBLEND, D3DBLEND_ONE}, {D3DRS_DESTBLEND, D3DBLEND_ZERO},
        {D3DRS_CULLMODE, D3DCULL_CCW}, {D3DRS_ZFUNC, D3DCMP_LESSEQUAL}, {D3DRS_ALPHAREF, 0},
        {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS}, {D3DRS_DITHERENABLE, FALSE}, {D3DRS_ALPHABLENDENABLE, FALSE},
        {D3DRS_FOGENABLE, FALSE}, {D3DRS_SPECULARENABLE, FALSE}, {D3DRS_ZVISIBLE, 0}, {D3DRS_FOGCOLOR, 0},
        {D3DRS_FOGTABLEMODE, D3DFOG_NONE}, {D3DRS_FOGSTART, Bits(0.0f)}, {D3DRS_FOGEND, Bits(1.0f)},
        {D3DRS_FOGDENSITY, Bits(1.0f)}, {D3DRS_EDGEANTIALIAS, FALSE}, {D3DRS_ZBIAS, 0},
        {D3DRS_RANGEFOGENABLE, FALSE}, {D3DRS_STENCILENABLE, FALSE}, {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
        {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP}, {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
        {D3DRS_STENCILFUNC, D3DCMP_ALWAYS}, {D3DRS_STENCILREF, 0}, {D3DRS_STENCILMASK, 0xFFFFFFFF},
        {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF}, {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF}, {D3DRS_WRAP0, 0},
        {D3DRS_WRAP7, 0}, {D3DRS_CLIPPING, TRUE}, {D3DRS_LIGHTING, TRUE}, {D3DRS_AMBIENT, 0},
        {D3DRS_FOGVERTEXMODE, D3DFOG_NONE}, {D3DRS_COLORVERTEX, TRUE}, {D3DRS_LOCALVIEWER, TRUE},
        {D3DRS_NORMALIZENORMALS, FALSE}, {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2}, {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL}, {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
        {D3DRS_CLIPPLANEENABLE, 0}, {D3DRS_SOFTWAREVERTEXPROCESSING, FALSE}, {D3DRS_POINTSIZE, Bits(1.0f)},
        {D3DRS_POINTSIZE_MIN, Bits(0.0f)}, {D3DRS_POINTSPRITEENABLE, FALSE}, {D3DRS_POINTSCALEENABLE, FALSE},
        {D3DRS_POINTSCALE_A, Bits(1.0f)}, {D3DRS_POINTSCALE_B, Bits(0.0f)}, {D3DRS_POINTSCALE_C, Bits(0.0f)},
        {D3DRS_MULTISAMPLEANTIALIAS, TRUE}, {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF},
        {D3DRS_PATCHEDGESTYLE, D3DPATCHEDGE_DISCRETE}, {D3DRS_PATCHSEGMENTS, Bits(1.0f)},
        {D3DRS_DEBUGMONITORTOKEN, D3DDMT_ENABLE}, {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
        {D3DRS_COLORWRITEENABLE, 0xF}, {D3DRS_TWEENFACTOR, Bits(0.0f)}, {D3DRS_BLENDOP, D3DBLENDOP_ADD},
        {D3DRS_POSITIONORDER, D3DORDER_CUBIC}, {D3DRS_NORMALORDER, D3DORDER_LINEAR},
    };
    for (const auto& e : expected) {
        DWORD value = 0xABABABAB;
        ASSERT_EQ(Device->GetRenderState(e.state, &value), D3D_OK) << e.state;
        EXPECT_EQ(value, e.value) << "render state " << e.state;
    }
    D3DCAPS8 caps{};
    Device->GetDeviceCaps(&caps);
    DWORD maxPointSize = 0;
    Device->GetRenderState(D3DRS_POINTSIZE_MAX, &maxPointSize);
    EXPECT_EQ(maxPointSize, Bits(caps.MaxPointSize));
}

TEST_F(DeviceStates, StageStatesStartAtThePlatformDefaults)
{
    for (DWORD stage = 0; stage < 8; ++stage) {
        const struct {
            D3DTEXTURESTAGESTATETYPE type;
            DWORD value;
        } expected[] = {
            {D3DTSS_COLOROP, stage == 0 ? DWORD(D3DTOP_MODULATE) : DWORD(D3DTOP_DISABLE)},
            {D3DTSS_COLORARG1, D3DTA_TEXTURE}, {D3DTSS_COLORARG2, D3DTA_CURRENT},
            {D3DTSS_ALPHAOP, stage == 0 ? DWORD(D3DTOP_SELECTARG1) : DWORD(D3DTOP_DISABLE)},
            {D3DTSS_ALPHAARG1, D3DTA_TEXTURE}, {D3DTSS_ALPHAARG2, D3DTA_CURRENT}, {D3DTSS_BUMPENVMAT00, 0},
            {D3DTSS_BUMPENVMAT11, 0}, {D3DTSS_TEXCOORDINDEX, stage}, {D3DTSS_ADDRESSU, D3DTADDRESS_WRAP},
            {D3DTSS_ADDRESSV, D3DTADDRESS_WRAP}, {D3DTSS_BORDERCOLOR, 0}, {D3DTSS_MAGFILTER, D3DTEXF_POINT},
            {D3DTSS_MINFILTER, D3DTEXF_POINT}, {D3DTSS_MIPFILTER, D3DTEXF_NONE}, {D3DTSS_MIPMAPLODBIAS, 0},
            {D3DTSS_MAXMIPLEVEL, 0}, {D3DTSS_MAXANISOTROPY, 1}, {D3DTSS_BUMPENVLSCALE, 0},
            {D3DTSS_BUMPENVLOFFSET, 0}, {D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
            {D3DTSS_ADDRESSW, D3DTADDRESS_WRAP}, {D3DTSS_COLORARG0, D3DTA_CURRENT},
            {D3DTSS_ALPHAARG0, D3DTA_CURRENT}, {D3DTSS_RESULTARG, D3DTA_CURRENT},
        };
        for (const auto& e : expected) {
            DWORD value = 0xABABABAB;
            ASSERT_EQ(Device->GetTextureStageState(stage, e.type, &value), D3D_OK);
            EXPECT_EQ(value, e.value) << "stage " << stage << " type " << e.type;
        }
    }
}

TEST_F(DeviceStates, NumbersThatAreNoStateAreRefused)
{
    DWORD value = 0;
    for (DWORD state : {0u, 6u, 11u, 21u, 31u, 39u, 61u, 127u, 138u, 144u, 169u, 174u, 0x7FFFFFFFu}) {
        EXPECT_EQ(Device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), 1), D3DERR_INVALIDCALL) << state;
        EXPECT_EQ(Device->GetRenderState(static_cast<D3DRENDERSTATETYPE>(state), &value), D3DERR_INVALIDCALL);
    }
    EXPECT_EQ(Device->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_DISABLE), D3DERR_INVALIDCALL);
    for (DWORD type : {0u, 12u, 29u})
        EXPECT_EQ(Device->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(type), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->SetTexture(8, nullptr), D3DERR_INVALIDCALL);
    const D3DMATRIX m = IdentityForTest();
    EXPECT_EQ(Device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(4), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->SetVertexShader(0x143), D3DERR_INVALIDCALL);  // reserved bit
    EXPECT_EQ(Device->SetVertexShader(0x40), D3DERR_INVALIDCALL);   // no position
}

TEST_F(DeviceStates, RecordingStoresWithoutChangingTheDevice)
{
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(Device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    ASSERT_EQ(Device->BeginStateBlock(), D3D_OK);
    EXPECT_EQ(Device->BeginStateBlock(), D3DERR_INVALIDCALL);
    Device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_INVSRCALPHA);  // the last value wins
    Device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    Device->SetTexture(0, texture);
    D3DMATRIX world = IdentityForTest();
    world.m[3][0] = 5.0f;
    Device->SetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(Device->ApplyStateBlock(1), D3DERR_INVALIDCALL);

    DWORD value = 0;
    Device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, FALSE);
    Device->GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    IDirect3DBaseTexture8* bound = reinterpret_cast<IDirect3DBaseTexture8*>(1);
    Device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
    D3DMATRIX now{};
    Device->GetTransform(D3DTS_WORLD, &now);
    EXPECT_EQ(now.m[3][0], 0.0f);

    DWORD token = 0;
    ASSERT_EQ(Device->EndStateBlock(&token), D3D_OK);
    EXPECT_NE(token, 0u);
    EXPECT_NE(token, 0xFFFFFFFFu);
    DWORD untouched = 77;
    EXPECT_EQ(Device->EndStateBlock(&untouched), D3DERR_INVALIDCALL);
    EXPECT_EQ(untouched, 77u);

    // Apply sets exactly the recorded states: others changed meanwhile stay as they are.
    Device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    ASSERT_EQ(Device->ApplyStateBlock(token), D3D_OK);
    Device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, TRUE);
    Device->GetRenderState(D3DRS_SRCBLEND, &value);
    EXPECT_EQ(value, DWORD(D3DBLEND_INVSRCALPHA));
    Device->GetRenderState(D3DRS_DESTBLEND, &value);
    EXPECT_EQ(value, DWORD(D3DBLEND_ONE));
    Device->GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_ADD));
    Device->GetTexture(0, &bound);
    EXPECT_EQ(bound, texture);
    if (bound)
        bound->Release();
    Device->GetTransform(D3DTS_WORLD, &now);
    EXPECT_EQ(now.m[3][0], 5.0f);

    // Deleting leaves the device's state alone and makes the token unknown.
    ASSERT_EQ(Device->DeleteStateBlock(token), D3D_OK);
    Device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, TRUE);
    EXPECT_EQ(Device->ApplyStateBlock(token), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->DeleteStateBlock(token), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->CaptureStateBlock(token), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->ApplyStateBlock(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->ApplyStateBlock(0xFFFFFFFF), D3DERR_INVALIDCALL);
    Device->SetTexture(0, nullptr);
    EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(DeviceStates, BlocksRecordedInTurnKeepTheirOwnStates)
{
    DWORD opaque = 0, additive = 0;
    Device->BeginStateBlock();
    Device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    Device->EndStateBlock(&opaque);
    Device->BeginStateBlock();
    Device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    Device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    Device->EndStateBlock(&additive);
    ASSERT_NE(opaque, additive);

    DWORD value = 0;
    Device->ApplyStateBlock(additive);
    Device->ApplyStateBlock(opaque);
    Device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, FALSE);
    Device->GetRenderState(D3DRS_DESTBLEND, &value);
    EXPECT_EQ(value, DWORD(D3DBLEND_ONE));

    // Capture refreshes only what the block holds.
    Device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    Device->CaptureStateBlock(opaque);
    Device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    Device->ApplyStateBlock(opaque);
    Device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, TRUE);
    Device->GetRenderState(D3DRS_SRCBLEND, &value);
    EXPECT_EQ(value, DWORD(D3DBLEND_ONE));
}

TEST_F(DeviceStates, CreatedBlocksCaptureTheirFixedSet)
{
    Device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);  // pixel state
    Device->SetRenderState(D3DRS_LIGHTING, FALSE);         // vertex state
    DWORD pixel = 0, all = 0;
    ASSERT_EQ(Device->CreateStateBlock(D3DSBT_PIXELSTATE, &pixel), D3D_OK);
    ASSERT_EQ(Device->CreateStateBlock(D3DSBT_ALL, &all), D3D_OK);
    Device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    Device->SetRenderState(D3DRS_LIGHTING, TRUE);
    Device->ApplyStateBlock(pixel);
    DWORD blend = 0, lighting = 0;
    Device->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    Device->GetRenderState(D3DRS_LIGHTING, &lighting);
    EXPECT_EQ(blend, TRUE);
    EXPECT_EQ(lighting, TRUE);
    Device->ApplyStateBlock(all);
    Device->GetRenderState(D3DRS_LIGHTING, &lighting);
    EXPECT_EQ(lighting, FALSE);
    EXPECT_EQ(Device->CreateStateBlock(static_cast<D3DSTATEBLOCKTYPE>(4), &all), D3DERR_INVALIDCALL);
}

TEST_F(DeviceStates, LightsKeepWhatWasSetAndEnableDefaultsTheRest)
{
    D3DLIGHT8 light{};
    EXPECT_EQ(Device->GetLight(0, &light), D3DERR_INVALIDCALL);
    BOOL enabled = 0;
    EXPECT_EQ(Device->GetLightEnable(3, &enabled), D3DERR_INVALIDCALL);
    ASSERT_EQ(Device->LightEnable(3, TRUE), D3D_OK);
    ASSERT_EQ(Device->GetLight(3, &light), D3D_OK);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(light.Diffuse.r, 1.0f);
    EXPECT_EQ(light.Diffuse.a, 0.0f);
    EXPECT_EQ(light.Direction.z, 1.0f);
    Device->GetLightEnable(3, &enabled);
    EXPECT_EQ(enabled, 128);
    light.Type = static_cast<D3DLIGHTTYPE>(7);
    EXPECT_EQ(Device->SetLight(0, &light), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace d3d8test
