#include <gtest/gtest.h>

#include <vector>

#include "tests/win/win_test_support.h"

namespace {

using namespace wintest;

class DesktopCaptureTest : public WindowLayerTest {
protected:
    void SetUp() override
    {
        WindowLayerTest::SetUp();
        env.Set("HALVORA_SCREEN", "64x48");
        ASSERT_TRUE(UseOffscreen());
    }
};

TEST_F(DesktopCaptureTest, BitBltFromTheDesktopDcMatchesTheCaptureInBothRowOrders)
{
    const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ASSERT_EQ(w, 64);
    ASSERT_EQ(h, 48);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 64);
    std::vector<std::uint32_t> expected;
    int ew = 0, eh = 0;
    ASSERT_TRUE(platform::display::Current().CaptureDesktop(expected, ew, eh));

    HDC screen = GetDC(GetDesktopWindow());
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    ASSERT_NE(SelectObject(mem, bmp), nullptr);
    ASSERT_TRUE(BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY));

    for (bool bottomUp : {true, false}) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = bottomUp ? h : -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<std::uint32_t> rows(static_cast<std::size_t>(w) * h);
        ASSERT_EQ(GetDIBits(mem, bmp, 0, h, rows.data(), &info, DIB_RGB_COLORS), h);
        for (int y : {0, h / 2, h - 1}) {
            const int source = bottomUp ? h - 1 - y : y;
            for (int x : {0, w / 3, w - 1})
                EXPECT_EQ(rows[y * w + x], expected[source * w + x]) << bottomUp << " " << x << "," << y;
        }
    }
    EXPECT_TRUE(DeleteObject(bmp));
    EXPECT_TRUE(DeleteDC(mem));
    EXPECT_EQ(ReleaseDC(GetDesktopWindow(), screen), 1);
}

TEST_F(DesktopCaptureTest, CopiesClipAndBadArgumentsFail)
{
    std::vector<std::uint32_t> desktop;
    int dw = 0, dh = 0;
    ASSERT_TRUE(platform::display::Current().CaptureDesktop(desktop, dw, dh));
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 8, 8);
    SelectObject(mem, bmp);
    // Partly outside both pictures: the inside part is copied, the rest keeps its black.
    ASSERT_TRUE(BitBlt(mem, -2, 4, 100, 100, screen, 60, 0, SRCCOPY));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, -8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<std::uint32_t> px(64);
    ASSERT_EQ(GetDIBits(mem, bmp, 0, 8, px.data(), &info, DIB_RGB_COLORS), 8);
    EXPECT_EQ(px[4 * 8 + 0], desktop[0 * dw + 62]);
    EXPECT_EQ(px[4 * 8 + 1], desktop[0 * dw + 63]);
    EXPECT_EQ(px[4 * 8 + 2], 0xFF000000u);
    EXPECT_EQ(px[0], 0xFF000000u);

    EXPECT_FALSE(BitBlt(mem, 0, 0, 8, 8, screen, 0, 0, 0x00EE0086));  // only SRCCOPY
    EXPECT_EQ(CreateCompatibleBitmap(screen, 0, 5), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 1 << 20, 1 << 20), nullptr);
    info.bmiHeader.biBitCount = 24;
    EXPECT_EQ(GetDIBits(mem, bmp, 0, 8, px.data(), &info, DIB_RGB_COLORS), 0);
    info.bmiHeader.biBitCount = 32;
    EXPECT_EQ(GetDIBits(mem, bmp, 9, 8, px.data(), &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(mem, bmp, 6, 8, px.data(), &info, DIB_RGB_COLORS), 2);  // only two lines remain
    DeleteObject(bmp);
    EXPECT_FALSE(BitBlt(mem, 0, 0, 8, 8, screen, 0, 0, SRCCOPY));  // nothing selected any more
    EXPECT_FALSE(DeleteObject(bmp));
    DeleteDC(mem);
}

}  // namespace
