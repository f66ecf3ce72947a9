// DirectInput 8-shaped declarations. The interface exists and does nothing: input comes from
// window messages.
#pragma once

#include "platform/win/windows.h"

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif

#define DI_OK S_OK
#define DIERR_INVALIDPARAM E_INVALIDARG
#define DIERR_NOINTERFACE E_NOINTERFACE

extern const IID IID_IDirectInput8A;

struct IDirectInput8A : IUnknown {
    virtual HRESULT Initialize(HINSTANCE hinst, DWORD dwVersion) = 0;

protected:
    ~IDirectInput8A() = default;
};
typedef IDirectInput8A* LPDIRECTINPUT8A;
typedef IDirectInput8A* LPDIRECTINPUT8;
#define IID_IDirectInput8 IID_IDirectInput8A
#define IDirectInput8 IDirectInput8A

HRESULT WINAPI DirectInput8Create(HINSTANCE hinst, DWORD dwVersion, REFIID riidltf, LPVOID* ppvOut,
                                  LPUNKNOWN punkOuter);
