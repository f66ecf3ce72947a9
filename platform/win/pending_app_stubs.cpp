// Weak stand-ins for the window functions the application object calls, so the
// program links before the window layer lands; its definitions replace these.
// Without a window layer no window can be created, so a start ends at once.

#include "platform/win/windows.h"

#define HALVORA_WEAK __attribute__((weak))

HALVORA_WEAK WORD RegisterClassA(const WNDCLASSA*) { return 0; }
HALVORA_WEAK HWND CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID)
{
    return nullptr;
}
HALVORA_WEAK LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }
HALVORA_WEAK BOOL DestroyMenu(HMENU) { return FALSE; }
HALVORA_WEAK BOOL DestroyWindow(HWND) { return FALSE; }
HALVORA_WEAK BOOL GetClientRect(HWND, LPRECT r)
{
    if (r)
        *r = RECT{};
    return FALSE;
}
HALVORA_WEAK BOOL GetWindowRect(HWND, LPRECT r)
{
    if (r)
        *r = RECT{};
    return FALSE;
}
HALVORA_WEAK HMENU GetMenu(HWND) { return nullptr; }
HALVORA_WEAK HGDIOBJ GetStockObject(int) { return nullptr; }
HALVORA_WEAK LONG GetWindowLongA(HWND, int) { return 0; }
HALVORA_WEAK LONG SetWindowLongA(HWND, int, LONG) { return 0; }
HALVORA_WEAK BOOL IsWindow(HWND) { return FALSE; }
HALVORA_WEAK HCURSOR LoadCursorA(HINSTANCE, LPCSTR) { return nullptr; }
HALVORA_WEAK HICON LoadIconA(HINSTANCE, LPCSTR) { return nullptr; }
HALVORA_WEAK BOOL PostMessageA(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
HALVORA_WEAK void PostQuitMessage(int) {}
HALVORA_WEAK BOOL SetMenu(HWND, HMENU) { return FALSE; }
HALVORA_WEAK BOOL SetWindowPos(HWND, HWND, int, int, int, int, UINT) { return FALSE; }
HALVORA_WEAK BOOL SetWindowTextA(HWND, LPCSTR) { return FALSE; }
HALVORA_WEAK BOOL PeekMessageA(LPMSG, HWND, UINT, UINT, UINT) { return FALSE; }

// The offscreen display's test interface, until the display backends land.
#include "platform/display/display.h"

namespace platform::display::offscreen {
HALVORA_WEAK bool LastFrame(PresentedFrame&) { return false; }
HALVORA_WEAK std::uint64_t PresentedFrames() { return 0; }
HALVORA_WEAK void Reset() {}
HALVORA_WEAK NativeId CreateForeignWindow(int, int, int, int) { return 0; }
HALVORA_WEAK void DestroyForeignWindow(NativeId) {}
}  // namespace platform::display::offscreen
