#include "platform/dinput8/dinput.h"
#include "platform/win/com.h"

const IID IID_IDirectInput8A = {0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};

namespace {

class DirectInput final : public IDirectInput8A {
public:
    HRESULT QueryInterface(REFIID riid, void** ppvObj) override
    {
        return platform::QuerySingleInterface<IDirectInput8A>(this, IID_IDirectInput8A, riid, ppvObj);
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
    HRESULT Initialize(HINSTANCE, DWORD) override { return DI_OK; }

private:
    ~DirectInput() = default;
    ULONG count_ = 1;
};

}  // namespace

HRESULT WINAPI DirectInput8Create(HINSTANCE hinst, DWORD dwVersion, REFIID riidltf, LPVOID* ppvOut, LPUNKNOWN punkOuter)
{
    if (!ppvOut)
        return DIERR_INVALIDPARAM;
    *ppvOut = nullptr;
    if (punkOuter || dwVersion < 0x0800)
        return DIERR_INVALIDPARAM;
    if (!(riidltf == IID_IDirectInput8A) && !(riidltf == IID_IUnknown))
        return DIERR_NOINTERFACE;
    *ppvOut = static_cast<IDirectInput8A*>(new DirectInput());
    return DI_OK;
}
