#pragma once
// The texts of the framework's fatal and warning message boxes.

#include "platform/win/windows.h"

#include <string>

// The framework's own result codes.
constexpr HRESULT D3DAPPERR_NODIRECT3D = static_cast<HRESULT>(0x82000001);
constexpr HRESULT D3DAPPERR_NOWINDOW = static_cast<HRESULT>(0x82000002);
constexpr HRESULT D3DAPPERR_NOCOMPATIBLEDEVICES = static_cast<HRESULT>(0x82000003);
constexpr HRESULT D3DAPPERR_NOWINDOWABLEDEVICES = static_cast<HRESULT>(0x82000004);
constexpr HRESULT D3DAPPERR_NOHARDWAREDEVICE = static_cast<HRESULT>(0x82000005);
constexpr HRESULT D3DAPPERR_HALNOTCOMPATIBLE = static_cast<HRESULT>(0x82000006);
constexpr HRESULT D3DAPPERR_NOWINDOWEDHAL = static_cast<HRESULT>(0x82000007);
constexpr HRESULT D3DAPPERR_NODESKTOPHAL = static_cast<HRESULT>(0x82000008);
constexpr HRESULT D3DAPPERR_NOHALTHISMODE = static_cast<HRESULT>(0x82000009);
constexpr HRESULT D3DAPPERR_NONZEROREFCOUNT = static_cast<HRESULT>(0x8200000A);
constexpr HRESULT D3DAPPERR_MEDIANOTFOUND = static_cast<HRESULT>(0x8200000B);
constexpr HRESULT D3DAPPERR_RESIZEFAILED = static_cast<HRESULT>(0x8200000C);
constexpr HRESULT D3DAPPERR_NULLREFDEVICE = static_cast<HRESULT>(0x8200000D);

enum TErrorKind : int { ekWarning = 0, ekExit = 1, ekSwitchedToRef = 2 };

// The message for Code alone, without the closing sentence of its kind.
std::string ErrorMessageText(HRESULT code);
// The full text the message box shows for Code and Kind.
std::string ErrorBoxText(HRESULT code, int kind);
