// IDirect3D8: the one adapter, its modes (from the display backend), formats and devices.
#include "platform/d3d8/faults.h"
#include "platform/win/com.h"
#include "platform/d3d8/objects.h"
#include "platform/display/display.h"

#include <algorithm>
#include <cstring>
#include <tuple>

void LinkDirectDrawLibrary();  // platform/ddraw7: registers "DDraw.dll"

namespace d3d8 {

namespace {

constexpr UINT kMaxModes = 4096;

D3DFORMAT FormatOfDepth(int bitsPerPixel)
{
    if (bitsPerPixel == 32 || bitsPerPixel == 24)
        return D3DFMT_X8R8G8B8;
    if (bitsPerPixel == 16)
        return D3DFMT_R5G6B5;
    return D3DFMT_UNKNOWN;
}

D3DDISPLAYMODE ToDisplayMode(const platform::display::Mode& m, D3DFORMAT format)
{
    D3DDISPLAYMODE d{};
    d.Width = static_cast<UINT>(std::max(0, m.width));
    d.Height = static_cast<UINT>(std::max(0, m.height));
    d.RefreshRate = static_cast<UINT>(std::max(0, m.refreshHz));
    d.Format = format;
    return d;
}

// Listed as Direct3D 8 drivers commonly list them: by bit depth, then size, then rate, all
// ascending.
auto ModeKey(const D3DDISPLAYMODE& m)
{
    return std::make_tuple(m.Format == D3DFMT_R5G6B5 ? 16 : 32, m.Width, m.Height, m.RefreshRate);
}

bool KnownDeviceType(D3DDEVTYPE type) { return type == D3DDEVTYPE_HAL || type == D3DDEVTYPE_REF || type == D3DDEVTYPE_SW; }

void CopyString(char* out, const char* text)
{
    std::strncpy(out, text, MAX_DEVICE_IDENTIFIER_STRING - 1);
    out[MAX_DEVICE_IDENTIFIER_STRING - 1] = '\0';
}

}  // namespace

Direct3DImpl::Direct3DImpl()
{
    platform::display::Backend& display = platform::display::Current();
    const platform::display::Mode desktop = display.DesktopMode();
    desktop_ = ToDisplayMode(desktop, FormatOfDepth(desktop.bitsPerPixel));
    if (desktop_.Format == D3DFMT_UNKNOWN)
        desktop_.Format = D3DFMT_X8R8G8B8;
    SizeVideoMemoryFor(desktop_.Width, desktop_.Height);

    for (const platform::display::Mode& m : display.Modes()) {
        const D3DFORMAT format = FormatOfDepth(m.bitsPerPixel);
        if (format == D3DFMT_UNKNOWN || m.width <= 0 || m.height <= 0 || modes_.size() >= kMaxModes)
            continue;
        modes_.push_back(ToDisplayMode(m, format));
    }
    if (modes_.empty())
        modes_.push_back(desktop_);
    std::sort(modes_.begin(), modes_.end(),
              [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) { return ModeKey(a) < ModeKey(b); });
    modes_.erase(std::unique(modes_.begin(), modes_.end(),
                             [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) { return ModeKey(a) == ModeKey(b); }),
                 modes_.end());
}

HRESULT Direct3DImpl::QueryInterface(REFIID riid, void** ppvObj)
{
    return platform::QuerySingleInterface<IDirect3D8>(this, IID_IDirect3D8, riid, ppvObj);
}

ULONG Direct3DImpl::AddRef() { return ++count_; }

ULONG Direct3DImpl::Release()
{
    bool last = false;
    ULONG now = platform::DropReference(count_, last);
    if (last)
        delete this;
    return now;
}

bool Direct3DImpl::CanRenderWindowed() const { return faults::AdapterRendersWindowed(); }

bool Direct3DImpl::HasMode(UINT width, UINT height, D3DFORMAT format, UINT refresh) const
{
    return std::any_of(modes_.begin(), modes_.end(), [&](const D3DDISPLAYMODE& m) {
        return m.Width == width && m.Height == height && m.Format == format && (refresh == 0 || m.RefreshRate == refresh);
    });
}

HRESULT Direct3DImpl::GetAdapterIdentifier(UINT Adapter, DWORD Flags, D3DADAPTER_IDENTIFIER8* pIdentifier)
{
    if (Adapter != 0 || !pIdentifier || (Flags & ~D3DENUM_NO_WHQL_LEVEL) != 0)
        return D3DERR_INVALIDCALL;
    *pIdentifier = D3DADAPTER_IDENTIFIER8{};
    CopyString(pIdentifier->Driver, "halvora_d3d8.so");
    CopyString(pIdentifier->Description, "Halvora Software Rasterizer");
    pIdentifier->DriverVersion.u.HighPart = (4 << 16) | 8;
    pIdentifier->DriverVersion.u.LowPart = (1 << 16) | 220;
    pIdentifier->DeviceIdentifier = {0x7A3B1C40, 0x5D2E, 0x4F11, {0x9A, 0x60, 0x48, 0x41, 0x4C, 0x56, 0x52, 0x41}};
    pIdentifier->WHQLLevel = 0;
    return D3D_OK;
}

UINT Direct3DImpl::GetAdapterModeCount(UINT Adapter) { return Adapter == 0 ? static_cast<UINT>(modes_.size()) : 0; }

HRESULT Direct3DImpl::EnumAdapterModes(UINT Adapter, UINT Mode, D3DDISPLAYMODE* pMode)
{
    if (Adapter != 0 || !pMode || Mode >= modes_.size())
        return D3DERR_INVALIDCALL;
    *pMode = modes_[Mode];
    return D3D_OK;
}

HRESULT Direct3DImpl::GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode)
{
    if (Adapter != 0 || !pMode)
        return D3DERR_INVALIDCALL;
    *pMode = desktop_;
    return D3D_OK;
}

HRESULT Direct3DImpl::CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat,
                                      D3DFORMAT BackBufferFormat, BOOL Windowed)
{
    if (Adapter != 0)
        return D3DERR_INVALIDCALL;
    if (!KnownDeviceType(CheckType))
        return D3DERR_INVALIDDEVICE;
    if (CheckType != D3DDEVTYPE_HAL || !IsBackBufferFormatFor(DisplayFormat, BackBufferFormat))
        return D3DERR_NOTAVAILABLE;
    // A window shows whatever the desktop is in.
    if (Windowed && (!CanRenderWindowed() || DisplayFormat != desktop_.Format))
        return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT Direct3DImpl::CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                        D3DRESOURCETYPE RType, D3DFORMAT CheckFormat)
{
    if (Adapter != 0 || !KnownDeviceType(DeviceType))
        return D3DERR_INVALIDCALL;
    if (DeviceType != D3DDEVTYPE_HAL || !IsDisplayFormat(AdapterFormat))
        return D3DERR_NOTAVAILABLE;
    const DWORD known = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DYNAMIC;
    if (Usage & ~known)
        return D3DERR_NOTAVAILABLE;
    if (Usage & D3DUSAGE_DEPTHSTENCIL)
        return D3DERR_NOTAVAILABLE;  // there is no depth buffer
    if (Usage & D3DUSAGE_RENDERTARGET)
        return RType == D3DRTYPE_SURFACE && IsRenderTargetFormat(CheckFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    if (RType == D3DRTYPE_TEXTURE || RType == D3DRTYPE_SURFACE)
        return IsTextureFormat(CheckFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    return D3DERR_NOTAVAILABLE;
}

HRESULT Direct3DImpl::CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat,
                                                 BOOL Windowed, D3DMULTISAMPLE_TYPE MultiSampleType)
{
    if (Adapter != 0 || !KnownDeviceType(DeviceType))
        return D3DERR_INVALIDCALL;
    return DeviceType == D3DDEVTYPE_HAL && MultiSampleType == D3DMULTISAMPLE_NONE ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3DImpl::CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                             D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat)
{
    if (Adapter != 0 || !KnownDeviceType(DeviceType))
        return D3DERR_INVALIDCALL;
    return D3DERR_NOTAVAILABLE;
}

HRESULT Direct3DImpl::GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS8* pCaps)
{
    if (Adapter != 0 || !pCaps)
        return D3DERR_INVALIDCALL;
    if (!KnownDeviceType(DeviceType))
        return D3DERR_INVALIDDEVICE;
    if (DeviceType != D3DDEVTYPE_HAL)
        return D3DERR_NOTAVAILABLE;
    FillDeviceCaps(*pCaps);
    return D3D_OK;
}

HRESULT Direct3DImpl::CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                   D3DPRESENT_PARAMETERS* pPresentationParameters,
                                   IDirect3DDevice8** ppReturnedDeviceInterface)
{
    if (!ppReturnedDeviceInterface)
        return D3DERR_INVALIDCALL;
    *ppReturnedDeviceInterface = nullptr;
    if (Adapter != 0 || !pPresentationParameters)
        return D3DERR_INVALIDCALL;
    if (!KnownDeviceType(DeviceType))
        return D3DERR_INVALIDDEVICE;
    if (DeviceType != D3DDEVTYPE_HAL)
        return D3DERR_NOTAVAILABLE;
    const DWORD processing = BehaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                              D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if (!hFocusWindow && !pPresentationParameters->hDeviceWindow)
        return D3DERR_INVALIDCALL;
    const HRESULT injected = faults::TakeCreateDeviceFailure();
    if (FAILED(injected))
        return injected;

    DeviceImpl* device = new DeviceImpl(this, hFocusWindow, BehaviorFlags);
    const HRESULT hr = device->Initialize(*pPresentationParameters);
    if (FAILED(hr)) {
        device->Release();
        return hr;
    }
    *ppReturnedDeviceInterface = device;
    return D3D_OK;
}

}  // namespace d3d8

IDirect3D8* Direct3DCreate8(UINT SDKVersion)
{
    LinkDirectDrawLibrary();
    if (SDKVersion != D3D_SDK_VERSION || d3d8::faults::Direct3DMissing())
        return nullptr;
    return new d3d8::Direct3DImpl();
}
