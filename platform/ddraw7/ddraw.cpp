// The DirectDraw stand-in: one object answering the video memory questions of the software device.
#include "platform/ddraw7/ddraw.h"
#include "platform/win/com.h"

#include "platform/d3d8/objects.h"
#include "platform/win/library.h"

#include <cstring>

const IID IID_IDirectDraw = {0x6C14DB80, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
const IID IID_IDirectDraw7 = {0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};

namespace {

bool KnownCapsSize(DWORD size)
{
    return size == DDCAPS_DX3_SIZE || size == DDCAPS_DX5_SIZE || size == DDCAPS_DX6_SIZE;
}

void FillCaps(DDCAPS& caps)
{
    const DWORD size = caps.dwSize;
    DDCAPS full{};
    full.dwSize = size;
    full.dwVidMemTotal = d3d8::VideoMemoryDword(false);
    full.dwVidMemFree = d3d8::VideoMemoryDword(true);
    // Only the caller's record size is written: older records are prefixes of this one.
    std::memcpy(&caps, &full, size);
}

HRESULT GetCapsOf(LPDDCAPS driver, LPDDCAPS hel)
{
    if ((!driver && !hel) || (driver && !KnownCapsSize(driver->dwSize)) || (hel && !KnownCapsSize(hel->dwSize)))
        return DDERR_INVALIDPARAMS;
    if (driver)
        FillCaps(*driver);
    if (hel) {
        const DWORD size = hel->dwSize;
        std::memset(hel, 0, size);
        hel->dwSize = size;
    }
    return DD_OK;
}

class DirectDraw final : public IDirectDraw, public IDirectDraw7 {
public:
    HRESULT QueryInterface(REFIID riid, void** ppvObj) override
    {
        if (!ppvObj)
            return DDERR_INVALIDPARAMS;
        if (riid == IID_IUnknown || riid == IID_IDirectDraw) {
            *ppvObj = static_cast<IDirectDraw*>(this);
        } else if (riid == IID_IDirectDraw7) {
            *ppvObj = static_cast<IDirectDraw7*>(this);
        } else {
            *ppvObj = nullptr;
            return E_NOINTERFACE;
        }
        ++count_;
        return S_OK;
    }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override
    {
        bool last = false;
        ULONG now = platform::DropReference(count_, last);
        if (last)
            delete this;
        return now;
    }
    HRESULT GetCaps(LPDDCAPS driver, LPDDCAPS hel) override { return GetCapsOf(driver, hel); }
    HRESULT GetAvailableVidMem(LPDDSCAPS2 caps, LPDWORD total, LPDWORD free) override
    {
        if (!caps || (!total && !free))
            return DDERR_INVALIDPARAMS;
        if (total)
            *total = d3d8::VideoMemoryDword(false);
        if (free)
            *free = d3d8::VideoMemoryDword(true);
        return DD_OK;
    }

private:
    ~DirectDraw() = default;
    ULONG count_ = 1;
};

}  // namespace

HRESULT WINAPI DirectDrawCreate(GUID* lpGUID, LPDIRECTDRAW* lplpDD, IUnknown* pUnkOuter)
{
    if (!lplpDD)
        return DDERR_INVALIDPARAMS;
    *lplpDD = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    if (lpGUID)
        return DDERR_INVALIDPARAMS;  // only the primary display exists
    *lplpDD = static_cast<IDirectDraw*>(new DirectDraw());
    return DD_OK;
}

namespace {

void RegisterDirectDraw()
{
    platform::RegisterBuiltinLibrary("DDraw.dll", {{"DirectDrawCreate", reinterpret_cast<void*>(&DirectDrawCreate)}});
}

}  // namespace

// Called from Direct3DCreate8's translation unit so that this object file is always linked.
void LinkDirectDrawLibrary()
{
    static const bool once = (RegisterDirectDraw(), true);
    (void)once;
}

namespace {
// At start, so that LoadLibraryA("DDraw.dll") works before any Direct3D object exists.
const bool g_registered = (LinkDirectDrawLibrary(), true);
}  // namespace
