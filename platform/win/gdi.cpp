// The GDI subset behind the desktop capture: the screen's device context, memory device
// contexts with 32-bit bitmaps, BitBlt and GetDIBits.

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "platform/win/window_table.h"
#include "platform/win/windows.h"

namespace platform::win {
namespace {

constexpr std::uint64_t kScreenDC = 0xD0000001;
constexpr std::uint64_t kFirstObject = 0xD0001000;
constexpr int kMaxBitmapSide = 16384;

struct Bitmap {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // A8R8G8B8, top-down
};

struct MemoryDC {
    std::uint64_t selected = 0;  // bitmap handle value, 0 for none
};

struct Gdi {
    std::map<std::uint64_t, Bitmap> bitmaps;
    std::map<std::uint64_t, MemoryDC> dcs;
    std::map<std::uint64_t, display::NativeId> windowDCs;  // DCs of other programs' windows
    std::uint64_t next = kFirstObject;
};

Gdi& G()
{
    static Gdi g;
    return g;
}

std::uint64_t Value(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
template <class T> T Handle(std::uint64_t v) { return reinterpret_cast<T>(static_cast<std::uintptr_t>(v)); }

Bitmap* BitmapOf(std::uint64_t h)
{
    auto it = G().bitmaps.find(h);
    return it == G().bitmaps.end() ? nullptr : &it->second;
}

Bitmap* SelectedIn(HDC dc)
{
    auto it = G().dcs.find(Value(dc));
    return it == G().dcs.end() ? nullptr : BitmapOf(it->second.selected);
}

// The source of a copy as a picture: the screen, another program's window, or a memory DC's
// bitmap.
bool SourcePixels(HDC src, Bitmap& screen, const Bitmap*& out)
{
    const auto window = G().windowDCs.find(Value(src));
    if (Value(src) == kScreenDC || window != G().windowDCs.end()) {
        const bool captured = window == G().windowDCs.end()
                                  ? Display().CaptureDesktop(screen.pixels, screen.width, screen.height)
                                  : Display().CaptureWindow(window->second, screen.pixels, screen.width, screen.height);
        if (!captured)
            return false;
        if (screen.width <= 0 || screen.height <= 0 ||
            screen.pixels.size() < static_cast<std::size_t>(screen.width) * screen.height)
            return false;
        out = &screen;
        return true;
    }
    out = SelectedIn(src);
    return out != nullptr;
}

}  // namespace
}  // namespace platform::win

using namespace platform::win;

int GetSystemMetrics(int index)
{
    int w = 0, h = 0;
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN: Display().ScreenSize(w, h); return w;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN: Display().ScreenSize(w, h); return h;
    case SM_XVIRTUALSCREEN:
    case SM_YVIRTUALSCREEN: return 0;
    case SM_CMONITORS: return 1;
    case 19: return 1;   // SM_MOUSEPRESENT
    case 43: return 3;   // SM_CMOUSEBUTTONS
    default: return 0;
    }
}

HWND GetDesktopWindow() { return MakeHandle(kDesktopHandle); }

HDC GetDC(HWND h)
{
    // Only the screen and other programs' windows can be read back: copying from a window
    // gives what the screen showed there before that program covered it.
    if (!h || HandleValue(h) == kDesktopHandle)
        return Handle<HDC>(kScreenDC);
    int x, y, w, hh;
    if (IsForeignNative(h) && Display().ForeignWindowRect(HandleValue(h), x, y, w, hh)) {
        const std::uint64_t dc = G().next++;
        G().windowDCs[dc] = HandleValue(h);
        return Handle<HDC>(dc);
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

int ReleaseDC(HWND, HDC dc) { return Value(dc) == kScreenDC || G().windowDCs.erase(Value(dc)) ? 1 : 0; }

HDC CreateCompatibleDC(HDC)
{
    std::uint64_t h = G().next++;
    G().dcs[h] = {};
    return Handle<HDC>(h);
}

HBITMAP CreateCompatibleBitmap(HDC, int cx, int cy)
{
    if (cx <= 0 || cy <= 0 || cx > kMaxBitmapSide || cy > kMaxBitmapSide) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::uint64_t h = G().next++;
    Bitmap& b = G().bitmaps[h];
    b.width = cx;
    b.height = cy;
    b.pixels.assign(static_cast<std::size_t>(cx) * cy, 0xFF000000u);
    return Handle<HBITMAP>(h);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj)
{
    auto it = G().dcs.find(Value(dc));
    if (it == G().dcs.end() || !BitmapOf(Value(obj)))
        return nullptr;
    std::uint64_t previous = it->second.selected;
    it->second.selected = Value(obj);
    // A fresh DC holds a 1x1 stock bitmap on Windows; any non-null value stands for it.
    return Handle<HGDIOBJ>(previous ? previous : kScreenDC + 1);
}

BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop)
{
    Bitmap* target = SelectedIn(dst);
    if (!target || rop != SRCCOPY || cx < 0 || cy < 0)
        return FALSE;
    Bitmap screen;
    const Bitmap* from = nullptr;
    if (!SourcePixels(src, screen, from))
        return FALSE;
    // Clip against both pictures; long long keeps absurd offsets from overflowing.
    for (int row = 0; row < cy; ++row) {
        long long sy = static_cast<long long>(y1) + row, dy = static_cast<long long>(y) + row;
        if (sy < 0 || dy < 0 || sy >= from->height || dy >= target->height)
            continue;
        long long start = std::max<long long>({0, -static_cast<long long>(x), -static_cast<long long>(x1)});
        long long end = std::min<long long>({static_cast<long long>(cx), static_cast<long long>(target->width) - x,
                                             static_cast<long long>(from->width) - x1});
        if (end <= start)
            continue;
        const std::uint32_t* s = &from->pixels[sy * from->width + x1 + start];
        std::uint32_t* d = &target->pixels[dy * target->width + x + start];
        std::memmove(d, s, static_cast<std::size_t>(end - start) * 4);
    }
    return TRUE;
}

int GetDIBits(HDC, HBITMAP bm, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT)
{
    Bitmap* b = BitmapOf(Value(bm));
    if (!b || !info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER))
        return 0;
    BITMAPINFOHEADER& hdr = info->bmiHeader;
    if (!bits) {
        // The size query fills in the bitmap's own format.
        hdr.biWidth = b->width;
        hdr.biHeight = b->height;
        hdr.biPlanes = 1;
        hdr.biBitCount = 32;
        hdr.biCompression = BI_RGB;
        hdr.biSizeImage = static_cast<DWORD>(b->width) * b->height * 4;
        return b->height;
    }
    if (hdr.biBitCount != 32 || hdr.biCompression != BI_RGB || hdr.biWidth != b->width)
        return 0;
    const bool bottomUp = hdr.biHeight > 0;
    const long long requested = bottomUp ? hdr.biHeight : -static_cast<long long>(hdr.biHeight);
    if (requested != b->height || start >= static_cast<UINT>(b->height))
        return 0;
    const UINT count = std::min<UINT>(lines, static_cast<UINT>(b->height) - start);
    auto* out = static_cast<std::uint32_t*>(bits);
    // Scan line `start` is the first one stored; for a bottom-up DIB it is the picture's bottom row.
    for (UINT i = 0; i < count; ++i) {
        const UINT dibRow = start + i;
        const int pictureRow = bottomUp ? b->height - 1 - static_cast<int>(dibRow) : static_cast<int>(dibRow);
        std::memcpy(out + static_cast<std::size_t>(i) * b->width,
                    &b->pixels[static_cast<std::size_t>(pictureRow) * b->width], static_cast<std::size_t>(b->width) * 4);
    }
    return static_cast<int>(count);
}

BOOL DeleteObject(HGDIOBJ obj)
{
    const std::uint64_t h = Value(obj);
    if (!G().bitmaps.erase(h))
        return FALSE;
    for (auto& [key, dc] : G().dcs)
        if (dc.selected == h)
            dc.selected = 0;
    return TRUE;
}

BOOL DeleteDC(HDC dc) { return G().dcs.erase(Value(dc)) ? TRUE : FALSE; }
