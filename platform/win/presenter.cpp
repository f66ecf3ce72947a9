#include "platform/win/presenter.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/win/window_table.h"

namespace platform {
namespace {

constexpr std::uint32_t kA8R8G8B8 = 21, kX8R8G8B8 = 22, kR5G6B5 = 23;

std::function<bool(HWND, const PresentFrame&)>& Hook()
{
    static std::function<bool(HWND, const PresentFrame&)> hook;
    return hook;
}

std::uint32_t Expand565(std::uint16_t p)
{
    std::uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
    r = (r << 3) | (r >> 2);
    g = (g << 2) | (g >> 4);
    b = (b << 3) | (b >> 2);
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// The visible part of a 16-bit frame, widened to X8R8G8B8.
void Widen565(const PresentFrame& f, int w, int h, std::vector<std::uint32_t>& out)
{
    out.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<const std::uint16_t*>(static_cast<const std::uint8_t*>(f.pixels) +
                                                         static_cast<std::ptrdiff_t>(y) * f.pitchBytes);
        for (int x = 0; x < w; ++x)
            out[static_cast<std::size_t>(y) * w + x] = Expand565(row[x]);
    }
}

bool Plausible(const PresentFrame& f)
{
    if (!f.pixels || f.width <= 0 || f.height <= 0)
        return false;
    const int bpp = f.format == kR5G6B5 ? 2 : (f.format == kX8R8G8B8 || f.format == kA8R8G8B8) ? 4 : 0;
    return bpp && f.pitchBytes >= f.width * bpp;
}

}  // namespace

bool PresentToWindow(HWND window, const PresentFrame& frame)
{
    if (Hook())
        return Hook()(window, frame);
    win::WindowPtr w = win::FindWindow(window);
    if (!w || !w->native || !Plausible(frame))
        return false;
    const int width = std::min(frame.width, w->width), height = std::min(frame.height, w->height);
    if (width <= 0 || height <= 0)
        return true;  // nothing of the frame is visible
    display::Frame out;
    std::vector<std::uint32_t> widened;
    if (frame.format == kR5G6B5) {
        Widen565(frame, width, height, widened);
        out = {widened.data(), width, height, width * 4};
    } else {
        out = {static_cast<const std::uint32_t*>(frame.pixels), width, height, frame.pitchBytes, frame.unchanged};
    }
    return win::Display().Present(w->native, out);
}

std::unique_ptr<display::SharedPixels> AllocateFramePixels(std::size_t bytes)
{
    return win::Display().AllocateSharedPixels(bytes);
}

bool GetWindowClientSize(HWND window, int& width, int& height)
{
    width = height = 0;
    RECT r{};
    if (!GetClientRect(window, &r))
        return false;
    width = r.right;
    height = r.bottom;
    return true;
}

void SetPresentHookForTests(std::function<bool(HWND, const PresentFrame&)> hook) { Hook() = std::move(hook); }

}  // namespace platform
