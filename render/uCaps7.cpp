#include "render/uCaps7.h"

#include "common/uMonitor.h"

namespace {

struct TDirectDrawLibrary {
    HMODULE Module = nullptr;
    LPDIRECTDRAWCREATE Create = nullptr;
    ~TDirectDrawLibrary()
    {
        if (Module)
            FreeLibrary(Module);
    }
};
TDirectDrawLibrary Library;

}  // namespace

bool LoadDirectDrawLibrary()
{
    if (!Library.Module) {
        Library.Module = LoadLibraryA("DDraw.dll");
        if (Library.Module) {
            // Through void*: the export's real type is not FARPROC's.
            void* Address = reinterpret_cast<void*>(GetProcAddress(Library.Module, "DirectDrawCreate"));
            Library.Create = reinterpret_cast<LPDIRECTDRAWCREATE>(Address);
        }
    }
    return Library.Create != nullptr;
}

bool CreateInterface(IDirectDraw*& DD, IDirectDraw7*& DD7)
{
    if (DD) {
        DD->Release();
        DD = nullptr;
    }
    HRESULT Result = LoadDirectDrawLibrary() ? Library.Create(nullptr, &DD, nullptr) : E_FAIL;
    if (FAILED(Result)) {
        DD = nullptr;
        ShowMessageBox("uCaps7.CreateInterface: unrecognized error");
    } else {
        if (DD7) {
            DD7->Release();
            DD7 = nullptr;
        }
        void* Interface = nullptr;
        Result = DD->QueryInterface(IID_IDirectDraw7, &Interface);
        DD7 = SUCCEEDED(Result) ? static_cast<IDirectDraw7*>(Interface) : nullptr;
    }
    if (FAILED(Result))
        ShowMessageBox("DirectX 7.0 is not available");
    return SUCCEEDED(Result);
}
