// The process's window table: what an HWND of this layer stands for.
// Internal to platform/win; the code above the layer sees only HWND values.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/display/display.h"
#include "platform/win/windows.h"

namespace platform::win {

// Handle ranges. X window ids use at most 32 bits, so values below kOwnBase given as a
// parent are native windows of other programs.
constexpr std::uint64_t kOwnBase = 1ull << 40;          // our windows: kOwnBase | serial
constexpr std::uint64_t kPeerBase = 2ull << 40;         // windows of other processes, found by class
constexpr std::uint64_t kHandleRangeMask = ~((1ull << 40) - 1);
constexpr std::uint64_t kDesktopHandle = kOwnBase;      // serial 0 is never a real window

inline std::uint64_t HandleValue(HWND h) { return reinterpret_cast<std::uintptr_t>(h); }
inline HWND MakeHandle(std::uint64_t v) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(v)); }
inline bool IsOwnRange(HWND h) { return (HandleValue(h) & kHandleRangeMask) == kOwnBase; }
inline bool IsPeerRange(HWND h) { return (HandleValue(h) & kHandleRangeMask) == kPeerBase; }
inline bool IsForeignNative(HWND h) { return h && (HandleValue(h) & kHandleRangeMask) == 0; }

struct WindowClass {
    std::string name;
    WNDPROC proc = nullptr;
    UINT style = 0;
    HINSTANCE instance = nullptr;
};

struct Window {
    HWND handle = nullptr;
    std::string className;
    WNDPROC proc = nullptr;
    DWORD style = 0, exStyle = 0;
    std::string title;
    HWND parent = nullptr;  // ours, a foreign native window, or none
    HMENU menu = nullptr;
    LONG id = 0, userData = 0;
    HINSTANCE instance = nullptr;
    display::NativeId native = 0;  // 0 while hidden
    int x = 0, y = 0, width = 0, height = 0;  // relative to the parent (the screen for top-level)
    bool needsPaint = false;  // the update region is not empty
    bool alive = true;         // false once the window is gone from the table
    bool destroying = false;   // WM_DESTROY was sent
    bool topmost = false;

    bool IsChild() const { return (style & WS_CHILD) != 0; }
    bool TakesInput() const { return (style & WS_DISABLED) == 0; }
};

using WindowPtr = std::shared_ptr<Window>;

// Live windows by handle, in creation order (handles only grow).
std::map<std::uint64_t, WindowPtr>& Windows();
WindowPtr FindWindow(HWND h);
WindowPtr FindByNative(display::NativeId native);
const WindowClass* FindClass(const std::string& name);
// Top-level windows of a class, first created first.
std::vector<WindowPtr> TopLevelOfClass(const std::string& name);

// The display backend, opened on first use; windows that are never shown never open it.
display::Backend& Display();
bool DisplayOpened();

// Destroys a window whose native side is already gone (true) or must still be destroyed.
void DestroyWindowTree(const WindowPtr& w, bool nativeGone);

// Called whenever the set of native windows changes, so new windows follow the cursor state.
void ApplyCursorTo(display::NativeId native);

// Message queue side, used by the window functions.
void PurgeMessagesFor(HWND h);
LRESULT CallProcedure(const WindowPtr& w, UINT msg, WPARAM wParam, LPARAM lParam);

void ResetQueueForTests();
void ResetCursorForTests();

}  // namespace platform::win
