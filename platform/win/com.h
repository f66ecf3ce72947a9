// Reference counting and interface lookup shared by the stand-ins' COM objects.
#pragma once

#include "platform/win/windows.h"

namespace platform {

// Drops one reference; 'last' tells the object that it must delete itself. A release
// beyond zero is answered with 0 and changes nothing.
inline ULONG DropReference(ULONG& count, bool& last)
{
    last = false;
    if (count == 0)
        return 0;
    last = --count == 0;
    return count;
}

// QueryInterface for an object that answers IUnknown and one interface.
template <class Interface>
HRESULT QuerySingleInterface(Interface* self, REFIID own, REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == own) {
        *ppvObj = self;
        self->AddRef();
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

}  // namespace platform
