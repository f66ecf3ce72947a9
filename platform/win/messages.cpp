// The process's message queue: posted messages, input from the display, WM_PAINT and
// WM_TIMER synthesis, WM_QUIT, and the cross-process WM_COPYDATA served while waiting.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <vector>

#include "platform/win/ipc.h"
#include "platform/win/window_table.h"
#include "platform/win/windows.h"

namespace platform::win {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kQueueLimit = 10000;  // Windows' default per-thread quota
constexpr int kIdleWaitMs = 100;            // re-check the display this often when it has no fd

struct Timer {
    HWND window;
    UINT_PTR id;
    UINT intervalMs;
    TIMERPROC proc;
    Clock::time_point due;
};

struct KeyChar {
    UINT message = 0;
    WPARAM vk = 0;
    LPARAM lParam = 0;
    unsigned charCode = 0;
};

struct QueueState {
    std::deque<MSG> posted;
    bool quit = false;
    int quitCode = 0;
    std::uint64_t lastPainted = 0;
    std::vector<Timer> timers;
    std::vector<KeyChar> keyChars;  // characters of key messages not yet translated
    DWORD buttons = 0;              // MK_ button bits
    bool shift = false, control = false;
    POINT cursor{0, 0};
    bool startupSignalled = false;
    bool connectionLostHandled = false;
};

QueueState& Q()
{
    static QueueState q;
    return q;
}

DWORD Now()
{
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(Clock::now().time_since_epoch()).count());
}

MSG Make(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    return MSG{h, message, wParam, lParam, Now(), Q().cursor};
}

bool Matches(const MSG& m, HWND filter, UINT lo, UINT hi)
{
    if (filter && m.hwnd != filter)
        return false;
    if (lo == 0 && hi == 0)
        return true;
    return m.message >= lo && m.message <= hi;
}

bool Post(const MSG& m)
{
    if (Q().posted.size() >= kQueueLimit)
        return false;
    Q().posted.push_back(m);
    return true;
}

// The process that started us waits for this byte before looking for our windows.
void SignalStartup()
{
    if (Q().startupSignalled)
        return;
    Q().startupSignalled = true;
    const char* text = std::getenv("HALVORA_STARTUP_FD");
    if (!text)
        return;
    char* end = nullptr;
    long fd = std::strtol(text, &end, 10);
    unsetenv("HALVORA_STARTUP_FD");
    if (end == text || *end || fd < 3 || fd > 65535)
        return;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(static_cast<int>(fd), &byte, 1);
    close(static_cast<int>(fd));
}

DWORD MouseFlags()
{
    DWORD f = Q().buttons;
    if (Q().shift)
        f |= MK_SHIFT;
    if (Q().control)
        f |= MK_CONTROL;
    return f;
}

void TrackModifier(unsigned vk, bool down)
{
    if (vk == VK_SHIFT || vk == VK_LSHIFT || vk == VK_RSHIFT)
        Q().shift = down;
    if (vk == VK_CONTROL || vk == VK_LCONTROL || vk == VK_RCONTROL)
        Q().control = down;
}

void PostKey(const WindowPtr& w, const display::Event& e, bool down)
{
    const UINT message = down ? (e.sysKey ? WM_SYSKEYDOWN : WM_KEYDOWN) : (e.sysKey ? WM_SYSKEYUP : WM_KEYUP);
    const LPARAM lParam = static_cast<LPARAM>(static_cast<std::uint32_t>(e.keyLParam));
    if (!Post(Make(w->handle, message, e.vk, lParam)))
        return;
    if (down && e.charCode) {
        auto& chars = Q().keyChars;
        if (chars.size() >= 64)
            chars.erase(chars.begin());
        chars.push_back({message, e.vk, lParam, e.charCode});
    }
}

void PostMouse(const WindowPtr& w, UINT message, int x, int y)
{
    Q().cursor = {x, y};
    const MSG m = Make(w->handle, message, MouseFlags(), MAKELPARAM(x, y));
    // Like Windows, a pending move is replaced by the newer one instead of piling up.
    auto& posted = Q().posted;
    if (message == WM_MOUSEMOVE && !posted.empty() && posted.back().message == WM_MOUSEMOVE &&
        posted.back().hwnd == w->handle) {
        posted.back() = m;
        return;
    }
    Post(m);
}

UINT ButtonMessage(int button, bool down)
{
    switch (button) {
    case 0: return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case 1: return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    default: return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    }
}

DWORD ButtonFlag(int button) { return button == 0 ? MK_LBUTTON : button == 1 ? MK_RBUTTON : MK_MBUTTON; }

void Translate(const display::Event& e)
{
    WindowPtr w = FindByNative(e.window);
    if (!w || w->destroying)
        return;
    using K = display::EventKind;
    switch (e.kind) {
    case K::CloseRequest: Post(Make(w->handle, WM_CLOSE, 0, 0)); return;
    case K::Destroyed: DestroyWindowTree(w, true); return;
    case K::Expose: w->needsPaint = true; return;
    default: break;
    }
    const bool down = e.kind == K::KeyDown || e.kind == K::ButtonDown;
    if (e.kind == K::KeyDown || e.kind == K::KeyUp)
        TrackModifier(e.vk, down);
    if (e.kind == K::ButtonDown)
        Q().buttons |= ButtonFlag(e.button);
    if (e.kind == K::ButtonUp)
        Q().buttons &= ~ButtonFlag(e.button);
    if (!w->TakesInput())
        return;
    switch (e.kind) {
    case K::KeyDown:
    case K::KeyUp: PostKey(w, e, down); return;
    case K::MouseMove: PostMouse(w, WM_MOUSEMOVE, e.x, e.y); return;
    case K::ButtonDown:
    case K::ButtonUp: PostMouse(w, ButtonMessage(e.button, down), e.x, e.y); return;
    default: return;
    }
}

// A lost X connection takes every native window with it.
void HandleConnectionLost()
{
    if (Q().connectionLostHandled)
        return;
    Q().connectionLostHandled = true;
    std::vector<WindowPtr> gone;
    for (auto& [key, w] : Windows())
        if (w->alive && w->native && !w->IsChild())
            gone.push_back(w);
    for (auto& w : gone)
        DestroyWindowTree(w, true);
}

void DrainDisplay()
{
    if (!DisplayOpened())
        return;
    display::Backend& d = Display();
    display::Event e;
    for (int guard = 0; guard < 4096 && d.NextEvent(e); ++guard)
        Translate(e);
    if (d.ConnectionLost())
        HandleConnectionLost();
}

bool TakePosted(MSG& out, HWND filter, UINT lo, UINT hi, bool remove)
{
    auto& posted = Q().posted;
    for (auto it = posted.begin(); it != posted.end(); ++it) {
        if (!Matches(*it, filter, lo, hi))
            continue;
        out = *it;
        if (remove)
            posted.erase(it);
        return true;
    }
    return false;
}

// Round-robin over windows with a non-empty update region.
bool TakePaint(MSG& out, HWND filter, UINT lo, UINT hi)
{
    if (!Matches(Make(filter, WM_PAINT, 0, 0), filter, lo, hi))
        return false;
    auto& windows = Windows();
    auto pick = [&](auto first, auto last) -> WindowPtr {
        for (auto it = first; it != last; ++it) {
            const WindowPtr& w = it->second;
            if (w->alive && !w->destroying && w->needsPaint && w->native && (!filter || w->handle == filter))
                return w;
        }
        return nullptr;
    };
    auto split = windows.upper_bound(Q().lastPainted);
    WindowPtr w = pick(split, windows.end());
    if (!w)
        w = pick(windows.begin(), split);
    if (!w)
        return false;
    Q().lastPainted = HandleValue(w->handle);
    out = Make(w->handle, WM_PAINT, 0, 0);
    return true;
}

bool TakeTimer(MSG& out, HWND filter, UINT lo, UINT hi, bool remove)
{
    const auto now = Clock::now();
    for (Timer& t : Q().timers) {
        if (t.due > now)
            continue;
        MSG m = Make(t.window, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc));
        if (!Matches(m, filter, lo, hi))
            continue;
        if (remove)
            t.due = now + std::chrono::milliseconds(t.intervalMs);
        out = m;
        return true;
    }
    return false;
}

// One pass over every source in Windows' order; false when nothing is there.
bool Fetch(MSG& out, HWND filter, UINT lo, UINT hi, bool remove)
{
    ipc::Service();
    DrainDisplay();
    if (TakePosted(out, filter, lo, hi, remove))
        return true;
    if (Q().quit) {
        out = Make(nullptr, WM_QUIT, static_cast<WPARAM>(Q().quitCode), 0);
        if (remove)
            Q().quit = false;
        return true;
    }
    if (TakePaint(out, filter, lo, hi))
        return true;
    return TakeTimer(out, filter, lo, hi, remove);
}

int WaitTimeoutMs()
{
    int timeout = kIdleWaitMs;
    const auto now = Clock::now();
    for (const Timer& t : Q().timers) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count();
        timeout = std::min<int>(timeout, static_cast<int>(std::max<long long>(left, 0)));
    }
    int ipcTimeout = ipc::NextTimeoutMs();
    if (ipcTimeout >= 0)
        timeout = std::min(timeout, ipcTimeout);
    return timeout;
}

void Wait()
{
    std::vector<pollfd> fds;
    if (DisplayOpened()) {
        int fd = Display().EventFd();
        if (fd >= 0)
            fds.push_back({fd, POLLIN, 0});
    }
    ipc::AddPollFds(fds);
    poll(fds.data(), fds.size(), WaitTimeoutMs());
}

}  // namespace

void PurgeMessagesFor(HWND h)
{
    auto& posted = Q().posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(), [h](const MSG& m) { return m.hwnd == h; }),
                 posted.end());
    auto& timers = Q().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [h](const Timer& t) { return t.window == h; }),
                 timers.end());
}

LRESULT CallProcedure(const WindowPtr& w, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // The copy keeps the window's record alive while its procedure runs, even if the
    // procedure destroys the window.
    WindowPtr keep = w;
    if (!keep || !keep->proc)
        return 0;
    return keep->proc(keep->handle, msg, wParam, lParam);
}

void ResetQueueForTests() { Q() = QueueState{}; }

}  // namespace platform::win

using namespace platform::win;

BOOL GetMessageA(LPMSG msg, HWND filter, UINT lo, UINT hi)
{
    if (!msg)
        return -1;
    if (filter && !FindWindow(filter)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    SignalStartup();
    while (!Fetch(*msg, filter, lo, hi, true))
        Wait();
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageA(LPMSG msg, HWND filter, UINT lo, UINT hi, UINT remove)
{
    if (!msg)
        return FALSE;
    return Fetch(*msg, filter, lo, hi, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* msg)
{
    if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
        return FALSE;
    auto& chars = Q().keyChars;
    for (auto it = chars.begin(); it != chars.end(); ++it) {
        if (it->message != msg->message || it->vk != msg->wParam || it->lParam != msg->lParam)
            continue;
        const UINT charMessage = msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
        MSG c = Make(msg->hwnd, charMessage, it->charCode, msg->lParam);
        chars.erase(it);
        // Windows puts the character right behind the key message, ahead of later input.
        Q().posted.push_front(c);
        return TRUE;
    }
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg)
{
    if (!msg)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, Now());
        return 0;
    }
    WindowPtr w = FindWindow(msg->hwnd);
    if (!w)
        return 0;
    return CallProcedure(w, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (h && !FindWindow(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!Post(Make(h, message, wParam, lParam))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

LRESULT SendMessageA(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (WindowPtr w = FindWindow(h))
        return CallProcedure(w, message, wParam, lParam);
    if (IsPeerRange(h) && message == WM_COPYDATA)
        return ipc::SendCopyData(h, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

void PostQuitMessage(int code)
{
    Q().quit = true;
    Q().quitCode = code;
}

UINT_PTR SetTimer(HWND h, UINT_PTR id, UINT elapseMs, TIMERPROC proc)
{
    if (h && !FindWindow(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    elapseMs = std::clamp<UINT>(elapseMs, 10, 0x7FFFFFFF);  // Windows' USER_TIMER_MINIMUM/MAXIMUM
    auto due = Clock::now() + std::chrono::milliseconds(elapseMs);
    auto& timers = Q().timers;
    if (!h) {
        // Thread timers get their own ids.
        static UINT_PTR nextId = 1;
        id = nextId++;
    }
    for (Timer& t : timers)
        if (t.window == h && t.id == id) {
            t = {h, id, elapseMs, proc, due};
            return h ? 1 : id;
        }
    timers.push_back({h, id, elapseMs, proc, due});
    return h ? 1 : id;
}

BOOL KillTimer(HWND h, UINT_PTR id)
{
    auto& timers = Q().timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == h && t.id == id; });
    if (it == timers.end())
        return FALSE;
    timers.erase(it);
    return TRUE;
}

LRESULT DefWindowProcA(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(h); return 0;
    case WM_PAINT: ValidateRect(h, nullptr); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SYSKEYDOWN:
        // Alt+F4 closes the window, as Windows' system menu does.
        if (wParam == VK_F4 && (lParam & (1 << 29)))
            SendMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendMessageA(h, WM_CLOSE, 0, 0);
        return 0;
    default: return 0;
    }
}
