#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/win/win_test_support.h"

namespace {

using namespace wintest;

class MessageQueueTest : public WindowLayerTest {
protected:
    void SetUp() override
    {
        WindowLayerTest::SetUp();
        display = &UseScripted();
        Recorder::Clear();
        RegisterRecorderClass("QueueTest");
    }
    HWND Popup(DWORD extraStyle = 0)
    {
        return CreateWindowExA(0, "QueueTest", "t", WS_POPUP | WS_VISIBLE | extraStyle, 0, 0, 64, 48, nullptr,
                               nullptr, nullptr, nullptr);
    }
    MSG Next()
    {
        MSG m{};
        EXPECT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
        return m;
    }
    ScriptedDisplay* display = nullptr;
};

TEST_F(MessageQueueTest, PostedMessagesComeInOrderBeforePaintAndQuitEndsTheLoop)
{
    HWND w = Popup();
    ASSERT_NE(w, nullptr);
    PostMessageA(w, WM_USER + 1, 1, 0);
    PostMessageA(w, WM_USER + 2, 2, 0);
    PostQuitMessage(7);
    PostMessageA(w, WM_USER + 3, 3, 0);

    std::vector<UINT> seen;
    MSG m{};
    BOOL r;
    while ((r = GetMessageA(&m, nullptr, 0, 0)) != 0) {
        seen.push_back(m.message);
        if (seen.size() > 10)
            break;
    }
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(m.wParam, 7u);
    // The quit flag is consumed; a window that never validates paints again.
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_PAINT));
}

TEST_F(MessageQueueTest, PaintRepeatsUntilValidatedAndStopsAfterward)
{
    Recorder::handler = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        return msg == WM_PAINT ? 0 : DefWindowProcA(h, msg, w, l);  // never validates
    };
    HWND w = Popup();
    for (int i = 0; i < 3; ++i) {
        MSG m = Next();
        EXPECT_EQ(m.message, static_cast<UINT>(WM_PAINT));
        EXPECT_EQ(m.hwnd, w);
        DispatchMessageA(&m);
    }
    ValidateRect(w, nullptr);
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    InvalidateRect(w, nullptr, FALSE);
    EXPECT_EQ(Next().message, static_cast<UINT>(WM_PAINT));
    // DefWindowProcA validates.
    Recorder::handler = nullptr;
    m = Next();
    DispatchMessageA(&m);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, PaintTakesTurnsAmongWindows)
{
    Recorder::handler = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        return msg == WM_PAINT ? 0 : DefWindowProcA(h, msg, w, l);
    };
    HWND a = Popup(), b = Popup();
    std::vector<HWND> order;
    for (int i = 0; i < 4; ++i)
        order.push_back(Next().hwnd);
    EXPECT_EQ(order, (std::vector<HWND>{a, b, a, b}));
}

TEST_F(MessageQueueTest, HiddenWindowsDoNotPaintAndOpenNoDisplay)
{
    HWND w = CreateWindowExA(0, "QueueTest", "hidden", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(display->windows.empty());
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    ShowWindow(w, SW_SHOW);
    EXPECT_EQ(display->windows.size(), 1u);
    EXPECT_EQ(Next().message, static_cast<UINT>(WM_PAINT));
}

TEST_F(MessageQueueTest, CreationSendsNcCreateThenCreateAndEitherMayAbort)
{
    struct Case {
        UINT refuse;
        LRESULT answer;
        bool created;
    } cases[] = {{0, 0, true}, {WM_NCCREATE, FALSE, false}, {WM_CREATE, -1, false}};
    static UINT refuse;
    static LRESULT answer;
    for (const Case& c : cases) {
        Recorder::Clear();
        refuse = c.refuse;
        answer = c.answer;
        Recorder::handler = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
            if (msg == refuse)
                return answer;
            return DefWindowProcA(h, msg, w, l);
        };
        HWND w = Popup();
        EXPECT_EQ(w != nullptr, c.created) << c.refuse;
        ASSERT_GE(Recorder::log.size(), 1u);
        EXPECT_EQ(Recorder::log[0].message, static_cast<UINT>(WM_NCCREATE));
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(Recorder::log[0].lParam);
        EXPECT_EQ(cs, reinterpret_cast<CREATESTRUCTA*>(Recorder::log[0].lParam));
        if (c.created) {
            EXPECT_EQ(Recorder::log[1].message, static_cast<UINT>(WM_CREATE));
            EXPECT_TRUE(IsWindow(w));
        }
        EXPECT_EQ(display->windows.size(), c.created ? 1u : 0u);
        if (w)
            DestroyWindow(w);
    }
}

TEST_F(MessageQueueTest, WindowDestroyedInsideItsOwnProcedureIsSafe)
{
    Recorder::handler = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == WM_USER) {
            DestroyWindow(h);
            // Still inside the procedure of a window that is gone: calls on it fail cleanly.
            EXPECT_FALSE(IsWindow(h));
            EXPECT_EQ(SendMessageA(h, WM_USER + 1, 0, 0), 0);
            return 42;
        }
        if (msg == WM_DESTROY)
            PostQuitMessage(3);
        return DefWindowProcA(h, msg, w, l);
    };
    HWND w = Popup();
    PostMessageA(w, WM_USER + 5, 0, 0);
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, 0), 42);
    EXPECT_EQ(Recorder::Messages(w), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_USER, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_TRUE(display->windows.empty());
    // The posted message died with the window; WM_QUIT is what is left.
    MSG m{};
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.wParam, 3u);
}

TEST_F(MessageQueueTest, CloseDestroysThroughDefaultProcedure)
{
    HWND w = Popup();
    PostMessageA(w, WM_CLOSE, 0, 0);
    MSG m = Next();
    DispatchMessageA(&m);
    EXPECT_FALSE(IsWindow(w));
    auto seen = Recorder::Messages(w);
    EXPECT_EQ(std::vector<UINT>(seen.end() - 3, seen.end()), (std::vector<UINT>{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
}

TEST_F(MessageQueueTest, BadHandlesFailWithoutHarm)
{
    HWND bogus = reinterpret_cast<HWND>(static_cast<std::uintptr_t>((1ull << 40) | 999));
    EXPECT_FALSE(PostMessageA(bogus, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageA(bogus, WM_USER, 0, 0), 0);
    EXPECT_FALSE(DestroyWindow(bogus));
    EXPECT_FALSE(IsWindow(bogus));
    MSG m{};
    EXPECT_EQ(GetMessageA(&m, bogus, 0, 0), -1);
    EXPECT_EQ(DispatchMessageA(nullptr), 0);
}

Event Key(EventKind kind, NativeId window, unsigned vk, bool sys, std::uint32_t lParam, unsigned ch = 0)
{
    Event e;
    e.kind = kind;
    e.window = window;
    e.vk = vk;
    e.sysKey = sys;
    e.keyLParam = lParam;
    e.charCode = ch;
    return e;
}

Event Pointer(EventKind kind, NativeId window, int x, int y, int button = 0)
{
    Event e;
    e.kind = kind;
    e.window = window;
    e.x = x;
    e.y = y;
    e.button = button;
    return e;
}

TEST_F(MessageQueueTest, DisplayInputBecomesWindowMessages)
{
    HWND w = Popup();
    NativeId n = display->next;
    ValidateRect(w, nullptr);
    struct Case {
        Event event;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } cases[] = {
        {Key(EventKind::KeyDown, n, 'A', false, 0x001E0001), WM_KEYDOWN, 'A', 0x001E0001},
        {Key(EventKind::KeyDown, n, 'A', false, 0x401E0001), WM_KEYDOWN, 'A', 0x401E0001},  // autorepeat
        {Key(EventKind::KeyUp, n, 'A', false, 0xC01E0001), WM_KEYUP, 'A', static_cast<LPARAM>(0xC01E0001u)},
        {Key(EventKind::KeyDown, n, VK_MENU, true, 0x20380001), WM_SYSKEYDOWN, VK_MENU, 0x20380001},
        {Key(EventKind::KeyDown, n, 'X', true, 0x202D0001), WM_SYSKEYDOWN, 'X', 0x202D0001},
        {Key(EventKind::KeyUp, n, VK_MENU, true, 0xE0380001), WM_SYSKEYUP, VK_MENU, static_cast<LPARAM>(0xE0380001u)},
        {Key(EventKind::KeyDown, n, VK_SHIFT, false, 0x002A0001), WM_KEYDOWN, VK_SHIFT, 0x002A0001},
        {Pointer(EventKind::MouseMove, n, 5, 7), WM_MOUSEMOVE, MK_SHIFT, MAKELPARAM(5, 7)},
        {Pointer(EventKind::ButtonDown, n, 6, 8, 0), WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(6, 8)},
        {Pointer(EventKind::ButtonDown, n, 6, 8, 1), WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON | MK_SHIFT,
         MAKELPARAM(6, 8)},
        {Pointer(EventKind::ButtonUp, n, 6, 8, 0), WM_LBUTTONUP, MK_RBUTTON | MK_SHIFT, MAKELPARAM(6, 8)},
        {Pointer(EventKind::ButtonUp, n, 6, 8, 1), WM_RBUTTONUP, MK_SHIFT, MAKELPARAM(6, 8)},
        {Pointer(EventKind::ButtonDown, n, 0, 0, 2), WM_MBUTTONDOWN, MK_MBUTTON | MK_SHIFT, 0},
        {Pointer(EventKind::MouseMove, n, -3, 700), WM_MOUSEMOVE, MK_MBUTTON | MK_SHIFT, MAKELPARAM(-3, 700)},
    };
    for (const Case& c : cases) {
        display->events.push_back(c.event);
        MSG m = Next();
        EXPECT_EQ(m.hwnd, w);
        EXPECT_EQ(m.message, c.message) << std::hex << c.message;
        EXPECT_EQ(m.wParam, c.wParam) << std::hex << c.message;
        EXPECT_EQ(m.lParam, c.lParam) << std::hex << c.message;
    }
    EXPECT_EQ(GET_X_LPARAM(MAKELPARAM(-3, 700)), -3);
}

TEST_F(MessageQueueTest, MovesCoalesceAndCharactersFollowTheirKey)
{
    HWND w = Popup();
    NativeId n = display->next;
    ValidateRect(w, nullptr);
    display->events.push_back(Pointer(EventKind::MouseMove, n, 1, 1));
    display->events.push_back(Pointer(EventKind::MouseMove, n, 2, 2));
    display->events.push_back(Key(EventKind::KeyDown, n, 'Q', false, 0x00100001, 'q'));
    display->events.push_back(Key(EventKind::KeyUp, n, 'Q', false, 0xC0100001));
    MSG m = Next();
    EXPECT_EQ(m.message, static_cast<UINT>(WM_MOUSEMOVE));
    EXPECT_EQ(m.lParam, MAKELPARAM(2, 2));
    m = Next();
    ASSERT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_TRUE(TranslateMessage(&m));
    m = Next();
    EXPECT_EQ(m.message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(m.wParam, static_cast<WPARAM>('q'));
    EXPECT_EQ(Next().message, static_cast<UINT>(WM_KEYUP));
}

TEST_F(MessageQueueTest, DisabledWindowsGetNoInputButStillHearCloseAndDestroy)
{
    HWND w = Popup(WS_DISABLED);
    NativeId n = display->next;
    ValidateRect(w, nullptr);
    display->events.push_back(Key(EventKind::KeyDown, n, 'A', false, 0x001E0001));
    display->events.push_back(Pointer(EventKind::ButtonDown, n, 1, 1));
    display->events.push_back(Pointer(EventKind::MouseMove, n, 1, 1));
    display->events.push_back(Event{EventKind::CloseRequest, n});
    MSG m = Next();
    EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    // The native side went away on its own: WM_DESTROY and WM_NCDESTROY, no second destroy.
    display->windows.erase(n);
    display->events.push_back(Event{EventKind::Destroyed, n});
    Recorder::log.clear();
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(Recorder::Messages(w), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(MessageQueueTest, AltF4ClosesThroughTheDefaultProcedure)
{
    HWND w = Popup();
    ValidateRect(w, nullptr);
    display->events.push_back(Key(EventKind::KeyDown, display->next, VK_F4, true, 0x203E0001));
    MSG m = Next();
    EXPECT_EQ(m.message, static_cast<UINT>(WM_SYSKEYDOWN));
    DispatchMessageA(&m);
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(MessageQueueTest, TimersFireAfterPostedMessages)
{
    HWND w = Popup();
    ValidateRect(w, nullptr);
    ASSERT_NE(SetTimer(w, 9, 10, nullptr), 0u);
    PostMessageA(w, WM_USER, 0, 0);
    MSG m{};
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);  // blocks about 10 ms
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(m.wParam, 9u);
    EXPECT_TRUE(KillTimer(w, 9));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, CursorCounterHidesOverWindowsWhileNegative)
{
    HWND a = Popup();
    ASSERT_NE(a, nullptr);
    NativeId na = display->next;
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_FALSE(display->windows[na].cursorVisible);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    Popup();
    EXPECT_FALSE(display->windows[display->next].cursorVisible);  // new windows follow
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_FALSE(display->windows[na].cursorVisible);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_TRUE(display->windows[na].cursorVisible);
    EXPECT_TRUE(display->windows[display->next].cursorVisible);
}

TEST_F(MessageQueueTest, FirstWaitSignalsTheStartingProcessOnce)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    env.Set("HALVORA_STARTUP_FD", std::to_string(fds[1]));
    PostMessageA(nullptr, WM_USER, 0, 0);
    MSG m{};
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    char byte = 0;
    EXPECT_EQ(read(fds[0], &byte, 1), 1);
    EXPECT_EQ(read(fds[0], &byte, 1), 0);  // the write end was closed
    EXPECT_EQ(std::getenv("HALVORA_STARTUP_FD"), nullptr);
    close(fds[0]);
}

}  // namespace
