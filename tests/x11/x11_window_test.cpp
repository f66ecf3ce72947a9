// The window layer over a private X server: what a window procedure sees of real X input,
// foreign parents, the window manager, the cursor, presenting and the desktop capture.

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <cstring>

#include "platform/win/presenter.h"
#include "tests/win/win_test_support.h"
#include "tests/x11/x11_test_support.h"

namespace {

using wintest::Recorder;
using x11test::Client;
using x11test::PrivateServer;
using x11test::WaitFor;

class X11WindowLayer : public wintest::WindowLayerTest {
protected:
    static void SetUpTestSuite() { server_ = new PrivateServer(320, 240, 24); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        WindowLayerTest::SetUp();
        if (!server_->Ok())
            GTEST_SKIP() << server_->Problem();
        if (!x11test::InputInjectionBuiltIn())
            GTEST_SKIP() << "built without the XTEST and XFixes libraries";
        auto backend = platform::display::CreateX11(server_->Name().c_str());
        ASSERT_NE(backend, nullptr);
        platform::display::SetCurrentForTests(std::move(backend));
        client_ = std::make_unique<Client>(server_->Name());
        ASSERT_TRUE(client_->Ok());
        Recorder::Clear();
        wintest::RegisterRecorderClass("X11Test");
    }
    void TearDown() override
    {
        WindowLayerTest::TearDown();
        client_.reset();
        Recorder::Clear();
    }

    HWND Popup(int w = 200, int h = 150)
    {
        return CreateWindowExA(0, "X11Test", "x11", WS_POPUP | WS_VISIBLE, 0, 0, w, h, nullptr, nullptr, nullptr,
                               nullptr);
    }
    // Dispatches what the queue holds, without blocking, until seen() or the time is up.
    bool PumpUntil(const std::function<bool()>& seen,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        return WaitFor([&] {
            MSG m;
            while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
                if (m.message == WM_PAINT) {
                    ValidateRect(m.hwnd, nullptr);
                    continue;
                }
                TranslateMessage(&m);
                DispatchMessageA(&m);
            }
            return seen();
        }, limit);
    }
    static bool Logged(HWND h, UINT message)
    {
        for (const auto& e : Recorder::log)
            if (e.hwnd == h && e.message == message)
                return true;
        return false;
    }
    static std::vector<Recorder::Entry> Input(HWND h)
    {
        std::vector<Recorder::Entry> out;
        for (const auto& e : Recorder::log)
            if (e.hwnd == h && ((e.message >= WM_KEYDOWN && e.message <= WM_SYSCHAR) ||
                                (e.message >= WM_MOUSEMOVE && e.message <= WM_MBUTTONUP)))
                out.push_back(e);
        return out;
    }

    static inline PrivateServer* server_ = nullptr;
    std::unique_ptr<Client> client_;
};

TEST_F(X11WindowLayer, KeysAndClicksReachTheWindowProcedureAsWin32Messages)
{
    HWND h = Popup();
    ASSERT_NE(h, nullptr);
    client_->MoveTo(30, 40);
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    Recorder::log.clear();
    client_->Tap(XK_a);
    client_->Key(XK_Alt_L, true);
    client_->Tap(XK_x);
    client_->Key(XK_Alt_L, false);
    client_->Button(1, true);
    client_->Button(1, false);
    client_->Button(3, true);
    client_->Button(3, false);
    ASSERT_TRUE(PumpUntil([&] { return Input(h).size() >= 12; }));
    const std::vector<std::pair<UINT, WPARAM>> expected = {
        {WM_KEYDOWN, 'A'},          {WM_CHAR, 'a'},         {WM_KEYUP, 'A'},
        {WM_SYSKEYDOWN, VK_MENU},   {WM_SYSKEYDOWN, 'X'},   {WM_SYSCHAR, 'x'},      {WM_SYSKEYUP, 'X'},
        {WM_SYSKEYUP, VK_MENU},     {WM_LBUTTONDOWN, MK_LBUTTON}, {WM_LBUTTONUP, 0},
        {WM_RBUTTONDOWN, MK_RBUTTON}, {WM_RBUTTONUP, 0},
    };
    const auto got = Input(h);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].message, expected[i].first);
        EXPECT_EQ(got[i].wParam, expected[i].second);
        if (got[i].message >= WM_LBUTTONDOWN) {
            EXPECT_EQ(got[i].lParam, MAKELPARAM(30, 40));
        }
    }
}

TEST_F(X11WindowLayer, WindowManagerCloseReachesTheProcedureAndDefaultHandlingDestroys)
{
    HWND h = Popup();
    ASSERT_NE(h, nullptr);
    RECT r{};
    ASSERT_TRUE(GetWindowRect(h, &r));
    client_->SendDeleteWindow(0);  // an unrelated window: nothing happens
    const auto native = client_->TopmostWindow();
    client_->SendDeleteWindow(native);
    ASSERT_TRUE(PumpUntil([&] { return Logged(h, WM_DESTROY); }));
    EXPECT_TRUE(Logged(h, WM_CLOSE));
    EXPECT_FALSE(IsWindow(h));
    x11test::WindowInfo info;
    EXPECT_FALSE(client_->Info(native, info)) << "the X window goes with it";
}

TEST_F(X11WindowLayer, PreviewChildCoversItsForeignParentAndHearsOfItsEnd)
{
    const std::uint64_t parent = client_->CreateWindow(20, 30, 152, 112);
    const HWND parentHandle = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(parent));
    RECT pr{};
    ASSERT_TRUE(GetWindowRect(parentHandle, &pr));
    EXPECT_EQ((std::vector<LONG>{pr.left, pr.top, pr.right, pr.bottom}), (std::vector<LONG>{20, 30, 172, 142}));
    HWND child = CreateWindowExA(0, "X11Test", "child", WS_CHILD | WS_VISIBLE | WS_DISABLED, 0, 0, pr.right - pr.left,
                                 pr.bottom - pr.top, parentHandle, nullptr, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    RECT cr{};
    ASSERT_TRUE(GetWindowRect(child, &cr));
    EXPECT_EQ((std::vector<LONG>{cr.left, cr.top, cr.right, cr.bottom}), (std::vector<LONG>{20, 30, 172, 142}));

    client_->DestroyWindow(parent);
    ASSERT_TRUE(PumpUntil([&] { return Logged(child, WM_DESTROY); }));
    EXPECT_TRUE(Logged(child, WM_NCDESTROY));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(parentHandle));
}

TEST_F(X11WindowLayer, BadParentHandleFailsCreationAndTheProcessGoesOn)
{
    for (std::uintptr_t bad : {std::uintptr_t(0x3FFFFF7), std::uintptr_t(0x1234)}) {
        SCOPED_TRACE(bad);
        SetLastError(0);
        HWND child = CreateWindowExA(0, "X11Test", "child", WS_CHILD | WS_VISIBLE | WS_DISABLED, 0, 0, 100, 100,
                                     reinterpret_cast<HWND>(bad), nullptr, nullptr, nullptr);
        EXPECT_EQ(child, nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    }
    EXPECT_NE(Popup(), nullptr) << "the connection survives the X errors";
}

TEST_F(X11WindowLayer, ShowCursorCounterHidesTheCursorOverOurWindows)
{
    HWND h = Popup();
    ASSERT_NE(h, nullptr);
    client_->MoveTo(40, 40);
    EXPECT_FALSE(client_->CursorInvisible());
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_TRUE(WaitFor([&] { return client_->CursorInvisible(); }));
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_TRUE(client_->CursorInvisible()) << "still negative";
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_TRUE(WaitFor([&] { return !client_->CursorInvisible(); }));
}

TEST_F(X11WindowLayer, PresentedFramesInBothBackBufferFormatsReachTheServer)
{
    struct FormatCase {
        const char* name;
        std::uint32_t format;
        int bytes;
        std::uint32_t corners[4];  // what the server shows: top-left, top-right, bottom-left, bottom-right
    };
    HWND h = Popup(40, 30);
    ASSERT_NE(h, nullptr);
    const auto native = client_->TopmostWindow();
    for (const FormatCase c : {FormatCase{"X8R8G8B8", 22, 4, {0xFFF8FC00u, 0xFF00FCF8u, 0xFFF80000u, 0xFF0000F8u}},
                               FormatCase{"R5G6B5", 23, 2, {0xFFFFFF00u, 0xFF00FFFFu, 0xFFFF0000u, 0xFF0000FFu}}}) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> buffer(std::size_t(48) * c.bytes * 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 48; ++x) {
                std::uint8_t* p = &buffer[(std::size_t(y) * 48 + x) * c.bytes];
                if (c.bytes == 4) {
                    const std::uint32_t v = (x < 20 ? 0xF80000u : 0x0000F8u) | (y < 15 ? 0x00FC00u : 0);
                    std::memcpy(p, &v, 4);
                } else {
                    const std::uint16_t v = std::uint16_t((x < 20 ? 0xF800 : 0x001F) | (y < 15 ? 0x07E0 : 0));
                    std::memcpy(p, &v, 2);
                }
            }
        platform::PresentFrame frame{};
        frame.pixels = buffer.data();
        frame.width = 48;  // wider than the window: clipped
        frame.height = 30;
        frame.pitchBytes = 48 * c.bytes;
        frame.format = c.format;
        ASSERT_TRUE(platform::PresentToWindow(h, frame));
        std::vector<std::uint32_t> shown;
        ASSERT_TRUE(client_->ReadBack(native, 40, 30, shown));
        EXPECT_EQ(shown[0], c.corners[0]);
        EXPECT_EQ(shown[39], c.corners[1]);
        EXPECT_EQ(shown[29 * 40 + 0], c.corners[2]);
        EXPECT_EQ(shown[29 * 40 + 39], c.corners[3]);
    }
}

TEST_F(X11WindowLayer, DesktopCopyThroughTheDesktopDeviceContextMatchesTheRoot)
{
    std::vector<std::uint32_t> picture(320 * 240);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = std::uint32_t(i * 2654435761u) & 0xFFFFFFu;
    ASSERT_TRUE(client_->PaintRoot(picture, 320, 240));
    HDC screen = GetDC(GetDesktopWindow());
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 320);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 240);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 320, 240);
    SelectObject(memory, bitmap);
    ASSERT_TRUE(BitBlt(memory, 0, 0, 320, 240, screen, 0, 0, SRCCOPY));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 320;
    info.bmiHeader.biHeight = -240;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<std::uint32_t> copied(320 * 240);
    ASSERT_EQ(GetDIBits(memory, bitmap, 0, 240, copied.data(), &info, DIB_RGB_COLORS), 240);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < picture.size(); ++i)
        wrong += (copied[i] & 0xFFFFFFu) != picture[i];
    EXPECT_EQ(wrong, 0u);
    DeleteDC(memory);
    DeleteObject(bitmap);
    ReleaseDC(GetDesktopWindow(), screen);
}

}  // namespace
