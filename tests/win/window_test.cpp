#include <gtest/gtest.h>

#include <vector>

#include "platform/win/presenter.h"
#include "tests/win/win_test_support.h"

namespace {

using namespace wintest;
namespace offscreen = platform::display::offscreen;

class OffscreenWindowTest : public WindowLayerTest {
protected:
    void SetUp() override
    {
        WindowLayerTest::SetUp();
        env.Set("HALVORA_SCREEN", "640x480");
        ASSERT_TRUE(UseOffscreen());
        Recorder::Clear();
        RegisterRecorderClass("OffscreenTest");
    }
};

bool operator==(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(OffscreenWindowTest, PopupKeepsStyleAndRectangles)
{
    HWND w = CreateWindowExA(0, "OffscreenTest", "saver", 0x90000000, 0, 0, 320, 200, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW));
    EXPECT_TRUE(SetWindowTextA(w, "renamed"));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)), 0x90000000u);
    RECT r{};
    ASSERT_TRUE(GetWindowRect(w, &r));
    EXPECT_TRUE(r == (RECT{0, 0, 320, 200}));
    ASSERT_TRUE(GetClientRect(w, &r));
    EXPECT_TRUE(r == (RECT{0, 0, 320, 200}));
    EXPECT_EQ(offscreen::LiveWindows(), 1u);

    const LONG before = GetWindowLongA(w, GWL_STYLE);
    EXPECT_EQ(SetWindowLongA(w, GWL_STYLE, 0x90080000), before);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)), 0x90080000u);
    EXPECT_TRUE(SetWindowPos(w, HWND_NOTOPMOST, 10, 20, 100, 50, SWP_SHOWWINDOW));
    ASSERT_TRUE(GetWindowRect(w, &r));
    EXPECT_TRUE(r == (RECT{10, 20, 110, 70}));
    auto seen = Recorder::Messages(w);
    EXPECT_NE(std::find(seen.begin(), seen.end(), static_cast<UINT>(WM_SIZE)), seen.end());

    HMENU menu = reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(0x77));
    EXPECT_EQ(GetMenu(w), nullptr);
    EXPECT_TRUE(SetMenu(w, menu));
    EXPECT_EQ(GetMenu(w), menu);
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_EQ(GetMenu(w), nullptr);

    EXPECT_EQ(FindWindowA("OffscreenTest", nullptr), w);
    EXPECT_EQ(FindWindowA("OffscreenTest", "renamed"), w);
    EXPECT_EQ(FindWindowA("OffscreenTest", "other"), nullptr);
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_EQ(offscreen::LiveWindows(), 0u);
}

TEST_F(OffscreenWindowTest, PreviewChildCoversForeignParentAndEndsWithIt)
{
    NativeId parent = offscreen::CreateForeignWindow(30, 40, 152, 112);
    ASSERT_NE(parent, 0u);
    HWND foreign = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(parent));
    RECT pr{};
    ASSERT_TRUE(GetWindowRect(foreign, &pr));
    EXPECT_EQ(pr.right - pr.left, 152);
    EXPECT_EQ(pr.bottom - pr.top, 112);
    EXPECT_TRUE(IsWindow(foreign));

    Recorder::handler = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == WM_DESTROY)
            PostQuitMessage(0);
        return msg == WM_PAINT ? 0 : DefWindowProcA(h, msg, w, l);
    };
    HWND child = CreateWindowExA(0, "OffscreenTest", "preview", 0x58000000, 0, 0, pr.right - pr.left,
                                 pr.bottom - pr.top, foreign, nullptr, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    RECT cr{};
    ASSERT_TRUE(GetClientRect(child, &cr));
    EXPECT_TRUE(cr == (RECT{0, 0, 152, 112}));
    EXPECT_EQ(FindWindowA("OffscreenTest", nullptr), nullptr);  // children are not top-level

    MSG m{};
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_PAINT));
    offscreen::DestroyForeignWindow(parent);
    int guard = 0;
    while (GetMessageA(&m, nullptr, 0, 0) && ++guard < 100)
        DispatchMessageA(&m);
    EXPECT_LT(guard, 100);
    EXPECT_FALSE(IsWindow(child));
    auto seen = Recorder::Messages(child);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(std::vector<UINT>(seen.end() - 2, seen.end()), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
}

TEST_F(OffscreenWindowTest, BadParentsAndClassesFailCreation)
{
    struct Case {
        const char* cls;
        DWORD style;
        std::uintptr_t parent;
        DWORD error;
    } cases[] = {
        {"OffscreenTest", 0x58000000, 0x7654321, ERROR_INVALID_WINDOW_HANDLE},  // no such foreign window
        {"OffscreenTest", 0x58000000, 0, ERROR_INVALID_WINDOW_HANDLE},          // child without parent
        {"OffscreenTest", 0x58000000, (1ull << 40) | 12345, ERROR_INVALID_WINDOW_HANDLE},
        {"NoSuchClass", 0x90000000, 0, ERROR_CANNOT_FIND_WND_CLASS},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        HWND w = CreateWindowExA(0, c.cls, "x", c.style, 0, 0, 10, 10, reinterpret_cast<HWND>(c.parent), nullptr,
                                 nullptr, nullptr);
        EXPECT_EQ(w, nullptr) << c.parent;
        EXPECT_EQ(GetLastError(), c.error) << c.parent;
    }
    RECT r{};
    EXPECT_FALSE(GetWindowRect(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x7654321)), &r));
    EXPECT_EQ(offscreen::LiveWindows(), 0u);
}

TEST_F(OffscreenWindowTest, PresentedFramesReachTheDisplayClipped)
{
    HWND w = CreateWindowExA(0, "OffscreenTest", "saver", 0x90000000, 0, 0, 4, 3, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(w, nullptr);
    int cw = 0, ch = 0;
    ASSERT_TRUE(platform::GetWindowClientSize(w, cw, ch));
    EXPECT_EQ(cw, 4);
    EXPECT_EQ(ch, 3);

    // A wider 32-bit frame with padding: only the window's part shows.
    std::vector<std::uint32_t> big(8 * 5, 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            big[y * 8 + x] = 0x00010000u * y + x;
    ASSERT_TRUE(platform::PresentToWindow(w, {big.data(), 6, 5, 32, 22}));
    platform::display::offscreen::PresentedFrame f;
    ASSERT_TRUE(offscreen::LastFrame(f));
    ASSERT_EQ(f.width, 4);
    ASSERT_EQ(f.height, 3);
    EXPECT_EQ(f.pixels[2 * 4 + 3] & 0xFFFFFF, 0x00020003u);

    // R5G6B5 widens with the top bits repeated into the low ones.
    std::vector<std::uint16_t> small = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x8410};
    ASSERT_TRUE(platform::PresentToWindow(w, {small.data(), 3, 2, 6, 23}));
    ASSERT_TRUE(offscreen::LastFrame(f));
    EXPECT_EQ(f.pixels[0] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(f.pixels[1] & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(f.pixels[2] & 0xFFFFFF, 0x0000FFu);
    ASSERT_EQ(f.width, 3);
    EXPECT_EQ(f.pixels[3 + 2] & 0xFFFFFF, 0x848284u);

    EXPECT_FALSE(platform::PresentToWindow(w, {nullptr, 4, 3, 16, 22}));
    EXPECT_FALSE(platform::PresentToWindow(w, {big.data(), 4, 3, 8, 22}));  // pitch too small
    EXPECT_FALSE(platform::PresentToWindow(w, {big.data(), 4, 3, 16, 50}));  // unknown format
    DestroyWindow(w);
    EXPECT_FALSE(platform::PresentToWindow(w, {big.data(), 4, 3, 32, 22}));
}

TEST_F(OffscreenWindowTest, PresentHookReplacesTheDisplay)
{
    int calls = 0;
    platform::SetPresentHookForTests([&](HWND, const platform::PresentFrame& f) { return ++calls, f.width == 2; });
    std::uint32_t px[4] = {};
    EXPECT_TRUE(platform::PresentToWindow(nullptr, {px, 2, 2, 8, 22}));
    platform::SetPresentHookForTests(nullptr);
    EXPECT_FALSE(platform::PresentToWindow(nullptr, {px, 2, 2, 8, 22}));
    EXPECT_EQ(calls, 1);
}

TEST_F(OffscreenWindowTest, ScriptedFramesEndTheRunWithClose)
{
    env.Set("HALVORA_FRAMES", "3");
    UseOffscreen();
    static HWND window;
    Recorder::handler = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == WM_PAINT) {
            std::uint32_t px[4] = {};
            platform::PresentToWindow(h, {px, 2, 2, 8, 22});
            return 0;
        }
        if (msg == WM_DESTROY)
            PostQuitMessage(0);
        return DefWindowProcA(h, msg, w, l);
    };
    window = CreateWindowExA(0, "OffscreenTest", "saver", 0x90000000, 0, 0, 2, 2, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(window, nullptr);
    MSG m{};
    int paints = 0;
    while (GetMessageA(&m, nullptr, 0, 0) && paints < 100) {
        paints += m.message == WM_PAINT;
        DispatchMessageA(&m);
    }
    EXPECT_EQ(paints, 3);
    EXPECT_EQ(offscreen::PresentedFrames(), 3u);
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
