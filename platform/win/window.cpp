// Window classes and windows: creation, destruction, styles, positions, menus.

#include <cstring>
#include <utility>

#include "platform/win/ipc.h"
#include "platform/win/window_table.h"
#include "platform/win/window_test_hooks.h"
#include "platform/win/windows.h"

namespace platform::win {
namespace {

std::map<std::string, WindowClass>& Classes()
{
    static std::map<std::string, WindowClass> classes;
    return classes;
}

std::uint64_t& NextSerial()
{
    static std::uint64_t serial = 1;
    return serial;
}

bool g_displayOpened = false;

bool NeedsNative(const Window& w) { return (w.style & WS_VISIBLE) != 0; }

// A parent's native id: ours when it is one of our windows, the value itself when foreign.
display::NativeId NativeParent(HWND parent)
{
    if (IsForeignNative(parent))
        return HandleValue(parent);
    if (HandleValue(parent) == kDesktopHandle)
        return Display().ScreenWindow();
    WindowPtr p = FindWindow(parent);
    return p ? p->native : 0;
}

bool CreateNative(Window& w)
{
    if (w.native)
        return true;
    display::Backend& d = Display();
    if (w.IsChild()) {
        display::NativeId parent = NativeParent(w.parent);
        if (!parent)
            return false;
        w.native = d.CreateChild(parent, w.x, w.y, w.width, w.height);
    } else {
        w.native = d.CreatePopup(w.x, w.y, w.width, w.height, w.title);
        if (w.native && !w.topmost)
            d.SetTopmost(w.native, false);
    }
    if (!w.native)
        return false;
    ApplyCursorTo(w.native);
    w.needsPaint = true;
    return true;
}

void DestroyNative(Window& w)
{
    if (w.native && g_displayOpened)
        display::Current().DestroyWindow(w.native);
    w.native = 0;
}

void SetVisible(const WindowPtr& w, bool visible)
{
    if (visible) {
        w->style |= WS_VISIBLE;
        CreateNative(*w);
    } else {
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        DestroyNative(*w);
        w->needsPaint = false;
    }
}

bool ValidCreateSize(int w, int h) { return w >= 0 && h >= 0 && w <= 32767 && h <= 32767; }

}  // namespace

std::map<std::uint64_t, WindowPtr>& Windows()
{
    static std::map<std::uint64_t, WindowPtr> windows;
    return windows;
}

WindowPtr FindWindow(HWND h)
{
    auto it = Windows().find(HandleValue(h));
    if (it == Windows().end() || !it->second->alive)
        return nullptr;
    return it->second;
}

WindowPtr FindByNative(display::NativeId native)
{
    if (!native)
        return nullptr;
    for (auto& [key, w] : Windows())
        if (w->alive && w->native == native)
            return w;
    return nullptr;
}

const WindowClass* FindClass(const std::string& name)
{
    auto it = Classes().find(name);
    return it == Classes().end() ? nullptr : &it->second;
}

std::vector<WindowPtr> TopLevelOfClass(const std::string& name)
{
    std::vector<WindowPtr> found;
    for (auto& [key, w] : Windows())
        if (w->alive && !w->IsChild() && w->className == name)
            found.push_back(w);
    return found;
}

display::Backend& Display()
{
    g_displayOpened = true;
    return display::Current();
}

bool DisplayOpened() { return g_displayOpened; }

void DestroyWindowTree(const WindowPtr& w, bool nativeGone)
{
    if (!w->alive || w->destroying)
        return;
    w->destroying = true;
    CallProcedure(w, WM_DESTROY, 0, 0);
    // Children end with their parent, after it has heard of its own end, as on Windows.
    std::vector<WindowPtr> children;
    for (auto& [key, c] : Windows())
        if (c->alive && !c->destroying && c->parent == w->handle)
            children.push_back(c);
    for (auto& c : children)
        DestroyWindowTree(c, nativeGone);
    if (nativeGone)
        w->native = 0;
    DestroyNative(*w);
    CallProcedure(w, WM_NCDESTROY, 0, 0);
    w->alive = false;
    PurgeMessagesFor(w->handle);
    Windows().erase(HandleValue(w->handle));
    if (!w->IsChild() && TopLevelOfClass(w->className).empty())
        ipc::StopListening(w->className);
}

}  // namespace platform::win

using namespace platform::win;

WORD RegisterClassA(const WNDCLASSA* wc)
{
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc || !*wc->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (FindClass(wc->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass c{wc->lpszClassName, wc->lpfnWndProc, wc->style, wc->hInstance};
    Classes()[c.name] = c;
    static WORD atom = 0xC000;
    return atom++;
}

BOOL UnregisterClassA(LPCSTR name, HINSTANCE)
{
    if (!name || !FindClass(name)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    for (auto& [key, w] : Windows())
        if (w->alive && w->className == name) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);  // the class still has windows
            return FALSE;
        }
    Classes().erase(name);
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    const WindowClass* cls = className ? FindClass(className) : nullptr;
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) width = height = 0;
    if (!ValidCreateSize(width, height)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool child = (style & WS_CHILD) != 0;
    if (child) {
        // A child needs a parent that exists: ours, the desktop's (the display's whole screen),
        // or a foreign window the display knows.
        int px, py, pw, ph;
        bool parentOk = HandleValue(parent) == kDesktopHandle ? Display().ScreenWindow() != 0
                        : IsOwnRange(parent) ? FindWindow(parent) != nullptr
                        : IsForeignNative(parent) && Display().ForeignWindowRect(HandleValue(parent), px, py, pw, ph);
        if (!parentOk) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
    }

    auto w = std::make_shared<Window>();
    w->handle = MakeHandle(kOwnBase | NextSerial()++);
    w->className = cls->name;
    w->proc = cls->proc;
    w->style = style;
    w->exStyle = exStyle;
    w->title = windowName ? windowName : "";
    w->parent = child ? parent : nullptr;
    w->menu = child ? nullptr : menu;
    w->id = child ? static_cast<LONG>(reinterpret_cast<std::uintptr_t>(menu)) : 0;
    w->instance = instance;
    w->x = x;
    w->y = y;
    w->width = width;
    w->height = height;
    w->topmost = (exStyle & WS_EX_TOPMOST) != 0;
    Windows()[HandleValue(w->handle)] = w;

    CREATESTRUCTA cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style), windowName,
                     className, exStyle};
    auto abort = [&] {
        w->alive = false;
        DestroyNative(*w);
        PurgeMessagesFor(w->handle);
        Windows().erase(HandleValue(w->handle));
        return nullptr;
    };
    if (!CallProcedure(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) || !w->alive)
        return abort();
    if (CallProcedure(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1 || !w->alive)
        return abort();
    if (NeedsNative(*w) && !CreateNative(*w)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return abort();
    }
    if (!child)
        ipc::StartListening(w->className);
    return w->handle;
}

BOOL DestroyWindow(HWND h)
{
    WindowPtr w = FindWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    DestroyWindowTree(w, false);
    return TRUE;
}

BOOL IsWindow(HWND h)
{
    if (HandleValue(h) == kDesktopHandle || FindWindow(h))
        return TRUE;
    int x, y, w, hh;
    if (IsForeignNative(h))
        return Display().ForeignWindowRect(HandleValue(h), x, y, w, hh) ? TRUE : FALSE;
    return IsPeerRange(h) && ipc::PeerExists(h) ? TRUE : FALSE;
}

BOOL ShowWindow(HWND h, int cmd)
{
    WindowPtr w = FindWindow(h);
    if (!w)
        return FALSE;
    const BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    SetVisible(w, cmd != SW_HIDE);
    return wasVisible;
}

BOOL UpdateWindow(HWND h)
{
    WindowPtr w = FindWindow(h);
    if (!w)
        return FALSE;
    if (w->needsPaint && w->native)
        CallProcedure(w, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL SetWindowPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags)
{
    WindowPtr w = FindWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!(flags & SWP_NOZORDER) && !w->IsChild() && (after == HWND_TOPMOST || after == HWND_NOTOPMOST)) {
        w->topmost = after == HWND_TOPMOST;
        if (w->topmost)
            w->exStyle |= WS_EX_TOPMOST;
        else
            w->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
        if (w->native)
            Display().SetTopmost(w->native, w->topmost);
    }
    const bool move = !(flags & SWP_NOMOVE) && (x != w->x || y != w->y);
    const bool size = !(flags & SWP_NOSIZE) && ValidCreateSize(cx, cy) && (cx != w->width || cy != w->height);
    if (move) {
        w->x = x;
        w->y = y;
    }
    if (size) {
        w->width = cx;
        w->height = cy;
    }
    if ((move || size) && w->native)
        Display().MoveResize(w->native, w->x, w->y, w->width, w->height);
    if (flags & SWP_SHOWWINDOW)
        SetVisible(w, true);
    else if (flags & SWP_HIDEWINDOW)
        SetVisible(w, false);
    if (!w->alive)
        return TRUE;
    if (move)
        CallProcedure(w, WM_MOVE, 0, MAKELPARAM(w->x, w->y));
    if (size && w->alive) {
        CallProcedure(w, WM_SIZE, 0, MAKELPARAM(w->width, w->height));
        w->needsPaint = w->native != 0;
    }
    return TRUE;
}

BOOL SetWindowTextA(HWND h, LPCSTR text)
{
    WindowPtr w = FindWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->title = text ? text : "";
    if (w->native && !w->IsChild())
        Display().SetTitle(w->native, w->title);
    return TRUE;
}

LONG GetWindowLongA(HWND h, int index)
{
    WindowPtr w = FindWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
    case GWL_STYLE: return static_cast<LONG>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
    case GWL_ID: return w->id;
    case GWL_USERDATA: return w->userData;
    default:
        // Pointers do not fit in a LONG on this platform.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

LONG SetWindowLongA(HWND h, int index, LONG value)
{
    WindowPtr w = FindWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG old = 0;
    switch (index) {
    case GWL_STYLE: {
        old = static_cast<LONG>(w->style);
        // Visibility is changed through ShowWindow/SetWindowPos, not by the stored bit.
        const DWORD visible = w->style & WS_VISIBLE;
        w->style = (static_cast<DWORD>(value) & ~static_cast<DWORD>(WS_VISIBLE)) | visible;
        return old;
    }
    case GWL_EXSTYLE: old = static_cast<LONG>(w->exStyle); w->exStyle = static_cast<DWORD>(value); return old;
    case GWL_ID: old = w->id; w->id = value; return old;
    case GWL_USERDATA: old = w->userData; w->userData = value; return old;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

BOOL GetWindowRect(HWND h, LPRECT r)
{
    if (!r)
        return FALSE;
    if (HandleValue(h) == kDesktopHandle) {
        int sw = 0, sh = 0;
        Display().ScreenSize(sw, sh);
        *r = {0, 0, sw, sh};
        return TRUE;
    }
    if (IsForeignNative(h)) {
        int x, y, w, hh;
        if (!Display().ForeignWindowRect(HandleValue(h), x, y, w, hh)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        *r = {x, y, x + w, y + hh};
        return TRUE;
    }
    WindowPtr w = FindWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Screen coordinates: a child is offset by its parent's origin.
    LONG ox = 0, oy = 0;
    RECT pr{};
    if (w->IsChild() && w->parent && GetWindowRect(w->parent, &pr)) {
        ox = pr.left;
        oy = pr.top;
    }
    *r = {ox + w->x, oy + w->y, ox + w->x + w->width, oy + w->y + w->height};
    return TRUE;
}

BOOL GetClientRect(HWND h, LPRECT r)
{
    if (!r)
        return FALSE;
    RECT wr{};
    if (!GetWindowRect(h, &wr))
        return FALSE;
    // Popups and children have no frame: the client area is the whole window.
    *r = {0, 0, wr.right - wr.left, wr.bottom - wr.top};
    return TRUE;
}

HMENU GetMenu(HWND h)
{
    WindowPtr w = FindWindow(h);
    return w && !w->IsChild() ? w->menu : nullptr;
}

BOOL SetMenu(HWND h, HMENU menu)
{
    WindowPtr w = FindWindow(h);
    if (!w || w->IsChild()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->menu = menu;
    return TRUE;
}

BOOL DestroyMenu(HMENU menu)
{
    if (!menu)
        return FALSE;
    // Menus are bare handles here; a window that still shows one forgets it.
    for (auto& [key, w] : Windows())
        if (w->menu == menu)
            w->menu = nullptr;
    return TRUE;
}

BOOL ValidateRect(HWND h, const RECT*)
{
    WindowPtr w = FindWindow(h);
    if (!w)
        return h == nullptr;
    w->needsPaint = false;
    return TRUE;
}

BOOL InvalidateRect(HWND h, const RECT*, BOOL)
{
    WindowPtr w = FindWindow(h);
    if (!w)
        return FALSE;
    w->needsPaint = w->native != 0;
    return TRUE;
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName)
{
    for (auto& [key, w] : Windows()) {
        if (!w->alive || w->destroying || w->IsChild())
            continue;
        if (className && w->className != className)
            continue;
        if (windowName && w->title != windowName)
            continue;
        return w->handle;
    }
    // Other processes answer only to a class name.
    if (className && !windowName)
        return ipc::FindPeer(className);
    return nullptr;
}

HICON LoadIconA(HINSTANCE, LPCSTR name) { return name ? reinterpret_cast<HICON>(const_cast<char*>(name)) : nullptr; }
HCURSOR LoadCursorA(HINSTANCE, LPCSTR name)
{
    return name ? reinterpret_cast<HCURSOR>(const_cast<char*>(name)) : nullptr;
}
HGDIOBJ GetStockObject(int i) { return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(0x5700 + i)); }

void platform::ResetWindowsForTests()
{
    for (auto& [key, w] : Windows())
        w->alive = false;
    Windows().clear();
    Classes().clear();
    ipc::StopAll();
    g_displayOpened = false;
    ResetQueueForTests();
    ResetCursorForTests();
}
