// The adapter as IDirect3D8 describes it, and the DirectDraw and DirectInput stand-ins.
#include "platform/ddraw7/ddraw.h"
#include "platform/dinput8/dinput.h"
#include "tests/d3d8/D3D8TestSupport.h"

#include <cstddef>
#include <memory>

namespace d3d8test {
namespace {

class Adapter : public ::testing::Test {
protected:
    void SetUp() override
    {
        d3d8::faults::ClearAll();
        platform::display::SetCurrentForTests(std::make_unique<FakeDisplay>());
        D3D = Direct3DCreate8(D3D_SDK_VERSION);
        ASSERT_NE(D3D, nullptr);
    }
    void TearDown() override
    {
        if (D3D)
            D3D->Release();
        platform::display::SetCurrentForTests(nullptr);
        d3d8::faults::ClearAll();
    }
    IDirect3D8* D3D = nullptr;
};

TEST_F(Adapter, OnlyTheRuntimeVersionCreatesTheInterface)
{
    EXPECT_EQ(Direct3DCreate8(120), nullptr);
    d3d8::faults::SetDirect3DMissing(true);
    EXPECT_EQ(Direct3DCreate8(D3D_SDK_VERSION), nullptr);
}

TEST_F(Adapter, ModesComeFromTheDisplayInBothFormats)
{
    ASSERT_EQ(D3D->GetAdapterCount(), 1u);
    ASSERT_EQ(D3D->GetAdapterModeCount(0), 4u);
    EXPECT_EQ(D3D->GetAdapterModeCount(1), 0u);
    // By depth, then size, then rate.
    const D3DDISPLAYMODE expected[] = {{1024, 768, 60, D3DFMT_R5G6B5},
                                       {640, 480, 60, D3DFMT_X8R8G8B8},
                                       {1024, 768, 60, D3DFMT_X8R8G8B8},
                                       {1024, 768, 85, D3DFMT_X8R8G8B8}};
    for (UINT i = 0; i < 4; ++i) {
        D3DDISPLAYMODE m{};
        ASSERT_EQ(D3D->EnumAdapterModes(0, i, &m), D3D_OK);
        EXPECT_EQ(m.Width, expected[i].Width) << i;
        EXPECT_EQ(m.Height, expected[i].Height) << i;
        EXPECT_EQ(m.RefreshRate, expected[i].RefreshRate) << i;
        EXPECT_EQ(m.Format, expected[i].Format) << i;
    }
    D3DDISPLAYMODE m{};
    EXPECT_EQ(D3D->EnumAdapterModes(0, 4, &m), D3DERR_INVALIDCALL);
    ASSERT_EQ(D3D->GetAdapterDisplayMode(0, &m), D3D_OK);
    EXPECT_EQ(m.Width, 1024u);
    EXPECT_EQ(m.Format, D3DFMT_X8R8G8B8);
}

TEST_F(Adapter, CapsTellWhatTheDeviceDoes)
{
    D3DCAPS8 caps{};
    ASSERT_EQ(D3D->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_TRUE(caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED);
    EXPECT_TRUE(caps.TextureAddressCaps & D3DPTADDRESSCAPS_MIRROR);
    EXPECT_FALSE(caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY);
    EXPECT_FALSE(caps.PrimitiveMiscCaps & D3DPMISCCAPS_NULLREFERENCE);
    EXPECT_EQ(caps.GuardBandLeft, 0.0f);
    EXPECT_GE(caps.MaxTextureWidth, 256u);
    EXPECT_EQ(D3D->GetDeviceCaps(0, D3DDEVTYPE_REF, &caps), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(D3D->GetDeviceCaps(1, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);

    d3d8::faults::SetNoWindowedRendering(true);
    D3D->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    EXPECT_FALSE(caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED);
    EXPECT_EQ(D3D->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3DERR_NOTAVAILABLE);
    IDirect3DDevice8* device = nullptr;
    D3DPRESENT_PARAMETERS p = WindowedParams();
    EXPECT_EQ(D3D->CreateDevice(0, D3DDEVTYPE_HAL, TestWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device),
              D3DERR_NOTAVAILABLE);
}

TEST_F(Adapter, DeviceTypesAndFormatsAnswerAsTheyWork)
{
    const struct {
        D3DFORMAT display, back;
        BOOL windowed;
        HRESULT result;
    } types[] = {
        {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE, D3D_OK}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE, D3D_OK},
        {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE, D3D_OK},  {D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE, D3D_OK},
        {D3DFMT_R5G6B5, D3DFMT_R5G6B5, TRUE, D3DERR_NOTAVAILABLE},  // the desktop is 32-bit
        {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, FALSE, D3DERR_NOTAVAILABLE},
        {D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5, FALSE, D3DERR_NOTAVAILABLE},
    };
    for (const auto& t : types)
        EXPECT_EQ(D3D->CheckDeviceType(0, D3DDEVTYPE_HAL, t.display, t.back, t.windowed), t.result)
            << t.display << "/" << t.back << " windowed " << t.windowed;
    EXPECT_EQ(D3D->CheckDeviceType(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3D->CheckDeviceType(0, static_cast<D3DDEVTYPE>(9), D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE),
              D3DERR_INVALIDDEVICE);

    for (D3DFORMAT f : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
                        D3DFMT_A4R4G4B4, D3DFMT_X4R4G4B4})
        EXPECT_EQ(D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, f), D3D_OK) << f;
    for (D3DFORMAT f : {D3DFMT_DXT1, D3DFMT_P8, D3DFMT_L8, D3DFMT_R8G8B8})
        EXPECT_EQ(D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, f),
                  D3DERR_NOTAVAILABLE)
            << f;
    EXPECT_EQ(D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE,
                                     D3DFMT_A8R8G8B8),
              D3D_OK);
    EXPECT_EQ(D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE,
                                     D3DFMT_A4R4G4B4),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                     D3DFMT_D16),
              D3DERR_NOTAVAILABLE);
}

TEST_F(Adapter, CreateDeviceChecksItsParameters)
{
    IDirect3DDevice8* device = nullptr;
    const HWND w = TestWindow();
    const DWORD sw = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    const struct {
        const char* what;
        void (*change)(D3DPRESENT_PARAMETERS&);
        DWORD flags;
        HRESULT result;
    } cases[] = {
        {"no processing flag", [](D3DPRESENT_PARAMETERS&) {}, D3DCREATE_FPU_PRESERVE, D3DERR_INVALIDCALL},
        {"two processing flags", [](D3DPRESENT_PARAMETERS&) {}, sw | D3DCREATE_MIXED_VERTEXPROCESSING,
         D3DERR_INVALIDCALL},
        {"copy with two buffers", [](D3DPRESENT_PARAMETERS& p) { p.BackBufferCount = 2; }, sw, D3DERR_INVALIDCALL},
        {"windowed refresh rate", [](D3DPRESENT_PARAMETERS& p) { p.FullScreen_RefreshRateInHz = 60; }, sw,
         D3DERR_INVALIDCALL},
        {"16-bit back buffer on a 32-bit desktop", [](D3DPRESENT_PARAMETERS& p) { p.BackBufferFormat = D3DFMT_R5G6B5; },
         sw, D3DERR_INVALIDCALL},
        {"depth buffer", [](D3DPRESENT_PARAMETERS& p) { p.EnableAutoDepthStencil = TRUE; }, sw, D3DERR_INVALIDCALL},
        {"full screen in no mode",
         [](D3DPRESENT_PARAMETERS& p) {
             p.Windowed = FALSE;
             p.BackBufferWidth = 800;
             p.BackBufferHeight = 600;
         },
         sw, D3DERR_INVALIDCALL},
        {"full screen 1024x768 at 85 Hz",
         [](D3DPRESENT_PARAMETERS& p) {
             p.Windowed = FALSE;
             p.BackBufferWidth = 1024;
             p.BackBufferHeight = 768;
             p.FullScreen_RefreshRateInHz = 85;
         },
         sw, D3D_OK},
        {"full screen 16-bit",
         [](D3DPRESENT_PARAMETERS& p) {
             p.Windowed = FALSE;
             p.BackBufferWidth = 1024;
             p.BackBufferHeight = 768;
             p.BackBufferFormat = D3DFMT_R5G6B5;
         },
         sw, D3D_OK},
    };
    for (const auto& c : cases) {
        D3DPRESENT_PARAMETERS p = WindowedParams();
        c.change(p);
        EXPECT_EQ(D3D->CreateDevice(0, D3DDEVTYPE_HAL, w, c.flags, &p, &device), c.result) << c.what;
        if (device) {
            EXPECT_EQ(p.BackBufferCount, 1u) << c.what;  // 0 is written back as 1
            EXPECT_EQ(device->Release(), 0u);
            device = nullptr;
        }
    }
}

TEST(DirectDraw, TheBuiltInLibraryGivesDirectDraw7WithTheVideoMemory)
{
    HMODULE module = LoadLibraryA("ddraw.DLL");
    ASSERT_NE(module, nullptr);
    void* address = reinterpret_cast<void*>(GetProcAddress(module, "DirectDrawCreate"));
    ASSERT_NE(address, nullptr);
    auto create = reinterpret_cast<LPDIRECTDRAWCREATE>(address);
    IDirectDraw* dd = nullptr;
    ASSERT_EQ(create(nullptr, &dd, nullptr), DD_OK);
    void* interface7 = nullptr;
    ASSERT_EQ(dd->QueryInterface(IID_IDirectDraw7, &interface7), DD_OK);
    auto* dd7 = static_cast<IDirectDraw7*>(interface7);
    DDCAPS caps{};
    caps.dwSize = sizeof(caps);
    ASSERT_EQ(dd7->GetCaps(&caps, nullptr), DD_OK);
    EXPECT_EQ(caps.dwVidMemTotal, 256u * 1024 * 1024);
    EXPECT_LE(caps.dwVidMemFree, caps.dwVidMemTotal);
    EXPECT_EQ(offsetof(DDCAPS, dwVidMemTotal), 60u);
    EXPECT_EQ(offsetof(DDCAPS, ddsCaps), 364u);
    caps.dwSize = 100;
    EXPECT_EQ(dd7->GetCaps(&caps, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dd7->GetCaps(nullptr, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dd7->Release(), 1u);
    EXPECT_EQ(dd->Release(), 0u);
    FreeLibrary(module);
}

TEST(DirectInput, CreatesAnInterfaceThatDoesNothing)
{
    void* out = nullptr;
    ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &out, nullptr), DI_OK);
    auto* di = static_cast<IDirectInput8A*>(out);
    EXPECT_EQ(di->Initialize(nullptr, DIRECTINPUT_VERSION), DI_OK);
    EXPECT_EQ(di->Release(), 0u);
    EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectDraw7, &out, nullptr), DIERR_NOINTERFACE);
}

}  // namespace
}  // namespace d3d8test
