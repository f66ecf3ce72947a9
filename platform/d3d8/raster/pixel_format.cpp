#include <algorithm>
#include <cstring>

#include "platform/d3d8/raster/pixel_codec.h"
#include "platform/d3d8/raster/raster_internal.h"

namespace raster {

int BytesPerPixel(PixelFormat format) {
    return format == PixelFormat::X8R8G8B8 || format == PixelFormat::A8R8G8B8 ? 4 : 2;
}

bool HasAlpha(PixelFormat format) {
    return format == PixelFormat::A8R8G8B8 || format == PixelFormat::A1R5G5B5 ||
           format == PixelFormat::A4R4G4B4;
}

std::uint32_t DecodePixel(PixelFormat format, const std::uint8_t* pixel) {
    std::uint32_t argb = 0;
    WithFormat(format, [&]<PixelFormat F>() { argb = Decode<F>(pixel); });
    return argb;
}

void EncodePixel(PixelFormat format, std::uint8_t* pixel, std::uint32_t argb) {
    WithFormat(format, [&]<PixelFormat F>() { Encode<F>(pixel, argb); });
}

std::uint32_t ReadPixel(const SurfaceView& surface, int x, int y) {
    return DecodePixel(surface.format, surface.bits + static_cast<std::ptrdiff_t>(y) * surface.pitch +
                                           x * BytesPerPixel(surface.format));
}

void WritePixel(const SurfaceView& surface, int x, int y, std::uint32_t argb) {
    if (surface.settled) Unsettle(*surface.settled, y, x, x + 1);
    EncodePixel(surface.format,
                surface.bits + static_cast<std::ptrdiff_t>(y) * surface.pitch + x * BytesPerPixel(surface.format),
                argb);
}

void Clear(const SurfaceView& target, const Rect& rect, std::uint32_t argb) {
    if (!target.bits) return;
    const int left = std::max(rect.left, 0), right = std::min(rect.right, target.width);
    const int top = std::max(rect.top, 0), bottom = std::min(rect.bottom, target.height);
    if (left >= right || top >= bottom) return;
    if (target.settled) {
        for (int y = top; y < bottom; ++y) Unsettle(*target.settled, y, left, right);
    }
    const int bpp = BytesPerPixel(target.format);
    std::uint8_t encoded[4];
    EncodePixel(target.format, encoded, argb);
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* row = target.bits + static_cast<std::ptrdiff_t>(y) * target.pitch + left * bpp;
        if (bpp == 4) {
            std::uint32_t v;
            std::memcpy(&v, encoded, 4);
            auto* p = reinterpret_cast<std::uint32_t*>(row);
            std::fill(p, p + (right - left), v);
        } else {
            for (int x = 0; x < right - left; ++x) std::memcpy(row + x * 2, encoded, 2);
        }
    }
}

}  // namespace raster
