// Weak stand-ins for window-layer functions that the start-up code calls, so the
// program links and runs its start sequence before the window layer exists. The
// window layer's own definitions replace these; this file goes once they are in.

#include "platform/win/windows.h"

#include <cstdio>

#define HALVORA_WEAK __attribute__((weak))

HALVORA_WEAK HWND FindWindowA(LPCSTR, LPCSTR) { return nullptr; }
HALVORA_WEAK LRESULT SendMessageA(HWND, UINT, WPARAM, LPARAM) { return 0; }
HALVORA_WEAK int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT)
{
    std::fprintf(stderr, "%s: %s\n", lpCaption ? lpCaption : "", lpText ? lpText : "");
    return IDOK;
}
HALVORA_WEAK BOOL GetMessageA(LPMSG, HWND, UINT, UINT) { return 0; }
HALVORA_WEAK BOOL TranslateMessage(const MSG*) { return FALSE; }
HALVORA_WEAK LRESULT DispatchMessageA(const MSG*) { return 0; }
HALVORA_WEAK int ShowCursor(BOOL bShow) { return bShow ? 0 : -1; }
HALVORA_WEAK int GetSystemMetrics(int) { return 0; }
HALVORA_WEAK HWND GetDesktopWindow() { return nullptr; }
HALVORA_WEAK HDC GetDC(HWND) { return nullptr; }
HALVORA_WEAK int ReleaseDC(HWND, HDC) { return 0; }
HALVORA_WEAK HDC CreateCompatibleDC(HDC) { return nullptr; }
HALVORA_WEAK HBITMAP CreateCompatibleBitmap(HDC, int, int) { return nullptr; }
HALVORA_WEAK HGDIOBJ SelectObject(HDC, HGDIOBJ) { return nullptr; }
HALVORA_WEAK BOOL BitBlt(HDC, int, int, int, int, HDC, int, int, DWORD) { return FALSE; }
HALVORA_WEAK int GetDIBits(HDC, HBITMAP, UINT, UINT, LPVOID, BITMAPINFO*, UINT) { return 0; }
HALVORA_WEAK BOOL DeleteObject(HGDIOBJ) { return FALSE; }
HALVORA_WEAK BOOL DeleteDC(HDC) { return FALSE; }
