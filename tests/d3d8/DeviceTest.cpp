// Device objects, loss and reset, resources and presenting, through the public interface.
#include "tests/d3d8/D3D8TestSupport.h"

#include "platform/win/clock.h"

#include <chrono>
#include <cstring>
#include <functional>

namespace d3d8test {
namespace {

using Device8 = DeviceTest;

TEST_F(Device8, ResourcesHoldTheDeviceAndTheLastReleaseCountsThem)
{
    IDirect3DTexture8* texture = nullptr;
    IDirect3DVertexBuffer8* vb = nullptr;
    ASSERT_EQ(Device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    ASSERT_EQ(Device->CreateVertexBuffer(240, D3DUSAGE_WRITEONLY, 0x142, D3DPOOL_MANAGED, &vb), D3D_OK);
    EXPECT_EQ(Device->AddRef(), 4u);
    EXPECT_EQ(Device->Release(), 3u);

    // Binding does not change the counts; a level shares its texture's count.
    Device->SetTexture(0, texture);
    Device->SetStreamSource(0, vb, 24);
    EXPECT_EQ(texture->AddRef(), 2u);
    EXPECT_EQ(texture->Release(), 1u);
    IDirect3DSurface8* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(1, &level), D3D_OK);
    EXPECT_EQ(texture->AddRef(), 3u);
    texture->Release();
    EXPECT_EQ(level->Release(), 1u);

    // The back buffer is held at count 1 and holds the device while held.
    IDirect3DSurface8* back = nullptr;
    ASSERT_EQ(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    EXPECT_EQ(back->AddRef(), 2u);
    back->Release();
    EXPECT_EQ(back->Release(), 0u);

    IDirect3D8* d3d = nullptr;
    Device->GetDirect3D(&d3d);
    EXPECT_EQ(d3d, D3D);
    EXPECT_EQ(d3d->Release(), 2u);  // the test's reference and the device's

    // A bound resource released to 0 stays usable until it is unbound.
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(vb->Release(), 0u);
    Device->BeginScene();
    Device->SetVertexShader(0x142);
    EXPECT_EQ(Device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    Device->EndScene();
    EXPECT_EQ(ReleaseDevice(), 0u);
}

TEST_F(Device8, LastDeviceReleaseReturnsTheLiveResources)
{
    IDirect3DTexture8* texture = nullptr;
    Device->CreateTexture(4, 4, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &texture);
    EXPECT_EQ(ReleaseDevice(), 1u);
    EXPECT_EQ(texture->Release(), 0u);  // takes the device with it
}

TEST_F(Device8, ResetIsRefusedWhileARenderTargetLives)
{
    IDirect3DSurface8* target = nullptr;
    ASSERT_EQ(Device->CreateRenderTarget(2, 2, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, TRUE, &target), D3D_OK);
    IDirect3DTexture8* managed = nullptr;
    Device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed);
    Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    D3DPRESENT_PARAMETERS p = WindowedParams();
    EXPECT_EQ(Device->Reset(&p), D3DERR_DEVICELOST);
    EXPECT_EQ(Device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(target->Release(), 0u);

    // The held back buffer blocks a reset as well.
    IDirect3DSurface8* back = nullptr;
    Device->GetRenderTarget(&back);
    EXPECT_EQ(Device->Reset(&p), D3DERR_DEVICELOST);
    back->Release();

    ASSERT_EQ(Device->Reset(&p), D3D_OK);
    EXPECT_EQ(Device->TestCooperativeLevel(), D3D_OK);
    DWORD cull = 0;
    Device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, DWORD(D3DCULL_CCW));
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(managed->LockRect(0, &locked, nullptr, 0), D3D_OK);  // managed textures survive
    managed->UnlockRect(0);
    managed->Release();
    EXPECT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(Device8, ALostDeviceWaitsForItsResetAndIsRestoredByIt)
{
    d3d8::faults::LoseDevice(Device);
    EXPECT_EQ(Device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 0, 0), D3D_OK);
    D3DPRESENT_PARAMETERS p = WindowedParams();
    EXPECT_EQ(Device->Reset(&p), D3DERR_DEVICELOST);
    EXPECT_EQ(Device->TestCooperativeLevel(), D3DERR_DEVICELOST);

    d3d8::faults::AllowReset(Device);
    EXPECT_EQ(Device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    d3d8::faults::FailNextReset(D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(Device->Reset(&p), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(Device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    ASSERT_EQ(Device->Reset(&p), D3D_OK);
    EXPECT_EQ(Device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(Device8, InjectedCreationFailuresHitOneCallEach)
{
    IDirect3DTexture8* texture = nullptr;
    IDirect3DVertexBuffer8* vb = nullptr;
    d3d8::faults::FailNextCreateTexture(E_OUTOFMEMORY);
    d3d8::faults::FailNextCreateVertexBuffer(D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(Device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), E_OUTOFMEMORY);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(Device->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb), D3DERR_OUTOFVIDEOMEMORY);
    ASSERT_EQ(Device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    ASSERT_EQ(Device->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb), D3D_OK);
    texture->Release();
    vb->Release();

    IDirect3DDevice8* second = nullptr;
    D3DPRESENT_PARAMETERS p = WindowedParams();
    d3d8::faults::FailNextCreateDevice(D3DERR_NOTAVAILABLE);
    EXPECT_EQ(D3D->CreateDevice(0, D3DDEVTYPE_HAL, TestWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &second),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(second, nullptr);
}

TEST_F(Device8, TexturesHaveTheirMipChainAndPitch)
{
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(Device->CreateTexture(16, 4, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &texture), D3D_OK);
    ASSERT_EQ(texture->GetLevelCount(), 5u);
    const UINT widths[] = {16, 8, 4, 2, 1}, heights[] = {4, 2, 1, 1, 1};
    for (UINT level = 0; level < 5; ++level) {
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, widths[level]);
        EXPECT_EQ(desc.Height, heights[level]);
        EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);
    }
    D3DLOCKED_RECT whole{}, part{};
    ASSERT_EQ(texture->LockRect(0, &whole, nullptr, 0), D3D_OK);
    EXPECT_GE(whole.Pitch, 32);
    EXPECT_EQ(texture->LockRect(0, &part, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    texture->UnlockRect(0);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
    const RECT r = {2, 1, 6, 3};
    ASSERT_EQ(texture->LockRect(0, &part, &r, 0), D3D_OK);
    EXPECT_EQ(static_cast<std::uint8_t*>(part.pBits) - static_cast<std::uint8_t*>(whole.pBits), whole.Pitch + 4);
    texture->UnlockRect(0);
    const RECT outside = {0, 0, 17, 1};
    EXPECT_EQ(texture->LockRect(0, &part, &outside, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->LockRect(5, &part, nullptr, 0), D3DERR_INVALIDCALL);
    texture->Release();

    const struct {
        UINT w, h, levels;
        D3DFORMAT format;
        D3DPOOL pool;
    } refused[] = {
        {0, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},  {6, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
        {8192, 8, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED}, {4, 4, 4, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
        {4, 4, 1, D3DFMT_DXT1, D3DPOOL_MANAGED},      {4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Device->CreateTexture(c.w, c.h, c.levels, 0, c.format, c.pool, &texture), D3DERR_INVALIDCALL)
            << c.w << "x" << c.h << " levels " << c.levels;
        EXPECT_EQ(texture, nullptr);
    }
}

TEST_F(Device8, VertexBufferLocksStayInsideTheBuffer)
{
    IDirect3DVertexBuffer8* vb = nullptr;
    ASSERT_EQ(Device->CreateVertexBuffer(100, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb), D3D_OK);
    BYTE* base = nullptr;
    BYTE* p = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &base, 0), D3D_OK);
    ASSERT_EQ(vb->Lock(40, 60, &p, 0), D3D_OK);  // locks nest
    EXPECT_EQ(p - base, 40);
    EXPECT_EQ(vb->Lock(40, 61, &p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(101, 0, &p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    vb->Release();
}

TEST_F(Device8, ScenesAndDrawsAreValidatedAtTheBoundary)
{
    EXPECT_EQ(Device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // outside a scene
    ASSERT_EQ(Device->BeginScene(), D3D_OK);
    EXPECT_EQ(Device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no stream
    IDirect3DVertexBuffer8* vb = nullptr;
    Device->CreateVertexBuffer(3 * 24, 0, 0x142, D3DPOOL_MANAGED, &vb);
    Device->SetStreamSource(0, vb, 24);
    Device->SetVertexShader(0x142);
    EXPECT_EQ(Device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    EXPECT_EQ(Device->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3DERR_INVALIDCALL);  // past the end
    EXPECT_EQ(Device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(7), 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->DrawPrimitive(D3DPT_POINTLIST, 0, 0x100000), D3DERR_INVALIDCALL);
    for (DWORD fvf : {0x42u, 0x52u, 0x102u, 0x104u, 0x142u})
        EXPECT_EQ(Device->SetVertexShader(fvf), D3D_OK) << fvf;
    BYTE* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    EXPECT_EQ(Device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);  // locked
    vb->Unlock();
    EXPECT_EQ(Device->EndScene(), D3D_OK);
    EXPECT_EQ(Device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);  // no depth buffer
    IDirect3DSurface8* depth = reinterpret_cast<IDirect3DSurface8*>(1);
    EXPECT_EQ(Device->GetDepthStencilSurface(&depth), D3DERR_NOTFOUND);
    EXPECT_EQ(depth, nullptr);
    vb->Release();
}

TEST_F(Device8, CopyPresentsTheBackBufferAndKeepsIt)
{
    const D3DRECT left = {0, 0, 32, 32};
    ASSERT_EQ(Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 0, 0), D3D_OK);
    ASSERT_EQ(Device->Clear(1, &left, D3DCLEAR_TARGET, 0xFFA0B0C0, 0, 0), D3D_OK);
    ASSERT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ASSERT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ASSERT_EQ(Frames.size(), 2u);
    for (const PresentedFrame& f : Frames) {
        EXPECT_EQ(f.window, TestWindow());
        ASSERT_EQ(f.width, 64);
        ASSERT_EQ(f.height, 32);
        EXPECT_EQ(f.format, DWORD(D3DFMT_X8R8G8B8));
        EXPECT_EQ(f.pixels[0] & 0xFFFFFF, 0xA0B0C0u);
        EXPECT_EQ(f.pixels[31 * 64 + 63] & 0xFFFFFF, 0x102030u);
    }
    // Count 0 with a list clears nothing; an inverted rectangle is skipped.
    const D3DRECT rects[2] = {{40, 0, 30, 10}, {60, 30, 64, 32}};
    Device->Clear(0, rects, D3DCLEAR_TARGET, 0xFF000000, 0, 0);
    EXPECT_EQ(BackBufferPixel(63, 31), 0x102030u);
    Device->Clear(2, rects, D3DCLEAR_TARGET, 0xFF000000, 0, 0);
    EXPECT_EQ(BackBufferPixel(63, 31), 0u);
    EXPECT_EQ(BackBufferPixel(35, 5), 0x102030u);
}

TEST_F(Device8, DiscardRefusesPresentRectangles)
{
    D3DPRESENT_PARAMETERS p = WindowedParams();
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    ASSERT_EQ(Device->Reset(&p), D3D_OK);
    const RECT r = {0, 0, 4, 4};
    EXPECT_EQ(Device->Present(&r, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(Device8, FlipShowsTheBackBufferAndHandsBackTheFrontOne)
{
    D3DPRESENT_PARAMETERS p = WindowedParams();
    p.SwapEffect = D3DSWAPEFFECT_FLIP;
    p.BackBufferCount = 2;
    ASSERT_EQ(Device->Reset(&p), D3D_OK);
    const D3DCOLOR colours[3] = {0xFF110000, 0xFF002200, 0xFF000033};
    for (D3DCOLOR c : colours) {
        Device->Clear(0, nullptr, D3DCLEAR_TARGET, c, 0, 0);
        ASSERT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }
    ASSERT_EQ(Frames.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Frames[static_cast<std::size_t>(i)].pixels[0] & 0xFFFFFF, colours[i] & 0xFFFFFF);
    // Three surfaces rotate: the buffer drawn next is the one the first frame showed.
    EXPECT_EQ(BackBufferPixel(0, 0), 0x110000u);
}

// A screen-space vertex: XYZRHW | DIFFUSE | TEX1.
struct TLVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

TEST_F(Device8, AColouredRectangleLandsOnItsPixels)
{
    Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0, 0);
    const D3DCOLOR c = 0xFF40C020;
    // Pixel centres 4..11 x 2..9 lie inside (3.5,1.5)-(11.5,9.5).
    const TLVertex quad[4] = {{3.5f, 1.5f, 0, 1, c, 0, 0}, {11.5f, 1.5f, 0, 1, c, 0, 0},
                              {3.5f, 9.5f, 0, 1, c, 0, 0}, {11.5f, 9.5f, 0, 1, c, 0, 0}};
    Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    Device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    Device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    Device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    Device->BeginScene();
    ASSERT_EQ(Device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TLVertex)), D3D_OK);
    Device->EndScene();
    EXPECT_EQ(BackBufferPixel(4, 2), 0x40C020u);
    EXPECT_EQ(BackBufferPixel(11, 9), 0x40C020u);
    EXPECT_EQ(BackBufferPixel(3, 2), 0u);
    EXPECT_EQ(BackBufferPixel(12, 9), 0u);
    EXPECT_EQ(BackBufferPixel(4, 10), 0u);
    IDirect3DVertexBuffer8* stream = reinterpret_cast<IDirect3DVertexBuffer8*>(1);
    UINT stride = 0;
    Device->GetStreamSource(0, &stream, &stride);
    EXPECT_EQ(stream, nullptr);  // an UP draw leaves stream 0 unset
}

// Both sides drawn, source alpha blended over the target by DestBlend.
void BlendBySourceAlpha(IDirect3DDevice8* device, D3DBLEND destBlend)
{
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, destBlend);
}

// A fade repeated over a dark target stops redrawing what it can no longer change; pixels
// written through a lock must be faded all the same.
TEST_F(Device8, ARepeatedFadeStillReachesPixelsWrittenThroughALock)
{
    const D3DCOLOR fade = 0x10000000;  // black at alpha 16
    // A list, whose two triangles are scanned as one quad: each row is then one span.
    const TLVertex a{0, 0, 0, 1, fade, 0, 0}, b{64, 0, 0, 1, fade, 0, 0}, c{0, 32, 0, 1, fade, 0, 0},
        d{64, 32, 0, 1, fade, 0, 0};
    const TLVertex quad[6] = {a, b, c, c, b, d};
    BlendBySourceAlpha(Device, D3DBLEND_INVSRCALPHA);
    Device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    Device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    Device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    Device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    Device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    auto fadeOnce = [&] {
        Device->BeginScene();
        ASSERT_EQ(Device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(TLVertex)), D3D_OK);
        Device->EndScene();
    };
    IDirect3DSurface8* back = nullptr;
    ASSERT_EQ(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    for (int i = 0; i < 4; ++i)
        fadeOnce();
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(back->LockRect(&locked, nullptr, 0), D3D_OK);
    const std::uint32_t white = 0xFFFFFFFF;
    std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + 10 * locked.Pitch + 4 * 40, &white, 4);
    back->UnlockRect();
    back->Release();
    fadeOnce();
    EXPECT_EQ(BackBufferPixel(40, 10), 0xEFEFEFu);  // 255 * 239 / 255, rounded down
    EXPECT_EQ(BackBufferPixel(41, 10), 0u);
}

// Each frame tells the presenter which rows are as in the frame before; any write unmarks.
TEST_F(Device8, PresentMarksWhatDidNotChangeSinceTheFrameBefore)
{
    Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    Device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    Device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    Device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    const D3DCOLOR c = 0xFF40C020;
    const TLVertex quad[4] = {{3.5f, 1.5f, 0, 1, c, 0, 0}, {11.5f, 1.5f, 0, 1, c, 0, 0},
                              {3.5f, 9.5f, 0, 1, c, 0, 0}, {11.5f, 9.5f, 0, 1, c, 0, 0}};
    struct Step {
        const char* what;
        std::function<void()> write;
        int changedFrom, changedTo;  // rows not marked: [from, to)
    };
    const Step steps[] = {
        {"first frame", [] {}, 0, 32},
        {"nothing drawn", [] {}, 0, 0},
        {"a rectangle", [&] {
             Device->BeginScene();
             Device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TLVertex));
             Device->EndScene();
         }, 2, 10},
        {"a clear", [&] {
             const D3DRECT r{0, 20, 8, 22};
             Device->Clear(1, &r, D3DCLEAR_TARGET, 0xFFFFFFFF, 0, 0);
         }, 20, 22},
        {"a lock", [&] { BackBufferPixel(0, 0); }, 0, 32},
    };
    std::uint64_t sequence = 0;
    for (const Step& step : steps) {
        step.write();
        ASSERT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        const PresentedFrame& f = Frames.back();
        ASSERT_TRUE(f.marked) << step.what;
        EXPECT_TRUE(sequence == 0 || f.sequence == sequence + 1) << step.what;
        sequence = f.sequence;
        for (int y = 0; y < 32; ++y)
            EXPECT_EQ(f.unchangedRows[y], y < step.changedFrom || y >= step.changedTo) << step.what << " row " << y;
    }
}

// A full-screen chain shows one frame a refresh at most, as the display retraces; an
// IMMEDIATE one, a windowed COPY one and any run on the virtual clock do not wait.
TEST_F(Device8, FullScreenPresentsArePacedByTheRetrace)
{
    struct Case {
        const char* what;
        BOOL windowed;
        DWORD interval;
        D3DSWAPEFFECT swap;
        UINT refresh;
        bool virtualClock;
        int minimumPeriods;  // of 1/60 s, over five frames after the first
    };
    const Case cases[] = {
        {"full screen, default interval", FALSE, D3DPRESENT_INTERVAL_DEFAULT, D3DSWAPEFFECT_COPY, 0, false, 5},
        {"full screen, interval one, 60 Hz", FALSE, D3DPRESENT_INTERVAL_ONE, D3DSWAPEFFECT_COPY, 60, false, 5},
        {"full screen, immediate", FALSE, D3DPRESENT_INTERVAL_IMMEDIATE, D3DSWAPEFFECT_COPY, 0, false, 0},
        {"windowed copy", TRUE, D3DPRESENT_INTERVAL_DEFAULT, D3DSWAPEFFECT_COPY, 0, false, 0},
        {"windowed copy in the retrace", TRUE, D3DPRESENT_INTERVAL_DEFAULT, D3DSWAPEFFECT_COPY_VSYNC, 0, false, 5},
        {"virtual clock", FALSE, D3DPRESENT_INTERVAL_DEFAULT, D3DSWAPEFFECT_COPY, 0, true, 0},
    };
    // Frames are not kept: under a sanitizer copying them would take longer than the waits.
    platform::SetPresentHookForTests([](HWND, const platform::PresentFrame&) { return true; });
    for (const Case& c : cases) {
        D3DPRESENT_PARAMETERS p = WindowedParams();
        if (!c.windowed) {
            p.Windowed = FALSE;
            p.BackBufferWidth = 640;
            p.BackBufferHeight = 480;
        }
        p.SwapEffect = c.swap;
        p.FullScreen_PresentationInterval = c.interval;
        p.FullScreen_RefreshRateInHz = c.refresh;
        ASSERT_EQ(Device->Reset(&p), D3D_OK) << c.what;
        platform::SetVirtualClock(c.virtualClock);
        ASSERT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK) << c.what;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(Device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK) << c.what;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        platform::SetVirtualClock(false);
        // A period of slack for waking late from the first wait; unpaced, five presents that
        // copy nothing take far less than four refreshes even on a busy machine.
        if (c.minimumPeriods > 0)
            EXPECT_GE(elapsed, (c.minimumPeriods - 1) / 60.0) << c.what;
        else
            EXPECT_LT(elapsed, 4 / 60.0) << c.what;
    }
}

TEST_F(Device8, ATexturedQuadMapsTexelsOntoPixels)
{
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(Device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    const std::uint32_t texels[2][2] = {{0xFFFF0000, 0xFF00FF00}, {0xFF0000FF, 0xFFFFFFFF}};
    for (int y = 0; y < 2; ++y)
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch, texels[y], 8);
    texture->UnlockRect(0);

    IDirect3DVertexBuffer8* vb = nullptr;
    Device->CreateVertexBuffer(4 * sizeof(TLVertex), D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb);
    BYTE* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    // The screen quad (-0.5,-0.5)-(1.5,1.5) with u,v 0..1 maps the 2x2 texels onto pixels 0..1.
    const TLVertex quad[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFF, 0, 0}, {1.5f, -0.5f, 0, 1, 0xFFFFFFFF, 1, 0},
                              {-0.5f, 1.5f, 0, 1, 0xFFFFFFFF, 0, 1}, {1.5f, 1.5f, 0, 1, 0xFFFFFFFF, 1, 1}};
    std::memcpy(p, quad, sizeof(quad));
    vb->Unlock();
    Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    Device->SetTexture(0, texture);
    Device->SetStreamSource(0, vb, sizeof(TLVertex));
    Device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    Device->BeginScene();
    ASSERT_EQ(Device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    Device->EndScene();
    EXPECT_EQ(BackBufferPixel(0, 0), 0xFF0000u);
    EXPECT_EQ(BackBufferPixel(1, 0), 0x00FF00u);
    EXPECT_EQ(BackBufferPixel(0, 1), 0x0000FFu);
    EXPECT_EQ(BackBufferPixel(1, 1), 0xFFFFFFu);
    Device->SetTexture(0, nullptr);
    texture->Release();
    vb->Release();
}

TEST_F(Device8, AvailableTextureMemoryShrinksByWhatIsCreated)
{
    const UINT before = Device->GetAvailableTextureMem();
    EXPECT_EQ(before % (1024 * 1024), 0u);
    EXPECT_LE(before, 256u * 1024 * 1024);
    IDirect3DTexture8* texture = nullptr;
    Device->CreateTexture(1024, 1024, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture);
    EXPECT_EQ(before - Device->GetAvailableTextureMem(), 4u * 1024 * 1024);
    texture->Release();
    EXPECT_EQ(Device->GetAvailableTextureMem(), before);
}

// What a particle draw learns of a texture's alpha must not outlive the texels: alpha
// written through a lock shows at once.
TEST_F(Device8, TexelsRewrittenThroughALockAreDrawnAsTheyNowAre)
{
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(Device->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    auto fill = [&](bool onlyCentre) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 16; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < 16; ++x)
                row[x] = !onlyCentre || (x >= 6 && x < 10 && y >= 6 && y < 10) ? 0xFFFFFFFFu : 0x00FFFFFFu;
        }
        ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    };
    const D3DCOLOR white = 0xFFFFFFFF;
    const TLVertex a{0, 0, 0, 1, white, 0, 0}, b{64, 0, 0, 1, white, 1, 0}, c{0, 32, 0, 1, white, 0, 1},
        d{64, 32, 0, 1, white, 1, 1};
    const TLVertex quad[6] = {a, b, c, c, b, d};
    BlendBySourceAlpha(Device, D3DBLEND_ONE);
    Device->SetTexture(0, texture);
    Device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    Device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    Device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    auto draw = [&] {
        Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0, 0);
        Device->BeginScene();
        ASSERT_EQ(Device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(TLVertex)), D3D_OK);
        Device->EndScene();
    };
    fill(true);
    draw();
    EXPECT_EQ(BackBufferPixel(32, 16), 0xFFFFFFu);
    EXPECT_EQ(BackBufferPixel(2, 2), 0u);
    fill(false);
    draw();
    EXPECT_EQ(BackBufferPixel(2, 2), 0xFFFFFFu);
    Device->SetTexture(0, nullptr);
    texture->Release();
}

}  // namespace
}  // namespace d3d8test
