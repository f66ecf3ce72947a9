// The settings dialog's view of the display adapter: its own short-lived Direct3D 8 interface
// and DirectDraw 7's capability report. It never creates a device.
#include <cstring>
#include <vector>

#include "app/uSettings.h"
#include "platform/ddraw7/ddraw.h"
#include "render/uCaps.h"
#include "render/uCaps7.h"

namespace {

class TSystemAdapter final : public TDialogAdapter {
public:
    ~TSystemAdapter() override { Release(); }

    bool Create() override { return CreateD3D8(d3d_) && d3d_; }

    D3DDISPLAYMODE DesktopMode() override
    {
        D3DCAPS8 caps = {};
        d3d_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
        D3DDISPLAYMODE mode = {};
        d3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
        return mode;
    }

    HRESULT VideoMemory(DWORD& total) override
    {
        total = 0;
        IDirectDraw* dd = nullptr;
        IDirectDraw7* dd7 = nullptr;
        HRESULT hr = E_FAIL;
        if (CreateInterface(dd, dd7) && dd7) {
            DDCAPS driver, emulation;
            std::memset(&driver, 0, sizeof(driver));
            std::memset(&emulation, 0, sizeof(emulation));
            driver.dwSize = emulation.dwSize = 380;
            hr = dd7->GetCaps(&driver, &emulation);
            if (SUCCEEDED(hr))
                total = driver.dwVidMemTotal;
        }
        if (dd7)
            dd7->Release();
        if (dd)
            dd->Release();
        return hr;
    }

    // In the adapter's own order: the table keeps the order first met.
    UINT ModeCount() override
    {
        modes_.clear();
        UINT count = d3d_->GetAdapterModeCount(D3DADAPTER_DEFAULT);
        for (UINT i = 0; i < count; ++i) {
            D3DDISPLAYMODE mode = {};
            if (SUCCEEDED(d3d_->EnumAdapterModes(D3DADAPTER_DEFAULT, i, &mode)))
                modes_.push_back(mode);
        }
        return static_cast<UINT>(modes_.size());
    }

    bool Mode(UINT index, D3DDISPLAYMODE& mode) override
    {
        if (index >= modes_.size())
            return false;
        mode = modes_[index];
        return true;
    }

    bool AcceptsFullScreen(D3DFORMAT format) override
    {
        return d3d_ && SUCCEEDED(d3d_->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, format, format, FALSE));
    }

    void Release() override
    {
        if (d3d_)
            d3d_->Release();
        d3d_ = nullptr;
    }

private:
    IDirect3D8* d3d_ = nullptr;
    std::vector<D3DDISPLAYMODE> modes_;
};

}  // namespace

std::unique_ptr<TDialogAdapter> CreateSystemAdapter()
{
    return std::make_unique<TSystemAdapter>();
}
