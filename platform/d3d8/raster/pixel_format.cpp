#include <algorithm>
#include <cstring>

#include "platform/d3d8/raster/raster.h"

namespace raster {
namespace {

std::uint32_t Expand5(std::uint32_t v) { return (v << 3) | (v >> 2); }
std::uint32_t Expand6(std::uint32_t v) { return (v << 2) | (v >> 4); }

// Nearest of the 2^bits levels for an 8-bit channel.
std::uint32_t Quantize(std::uint32_t c, std::uint32_t maxLevel) { return (c * maxLevel + 127) / 255; }

std::uint16_t Load16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

}  // namespace

int BytesPerPixel(PixelFormat format) {
    return format == PixelFormat::X8R8G8B8 || format == PixelFormat::A8R8G8B8 ? 4 : 2;
}

bool HasAlpha(PixelFormat format) {
    return format == PixelFormat::A8R8G8B8 || format == PixelFormat::A1R5G5B5 ||
           format == PixelFormat::A4R4G4B4;
}

std::uint32_t DecodePixel(PixelFormat format, const std::uint8_t* pixel) {
    switch (format) {
    case PixelFormat::A8R8G8B8: {
        std::uint32_t v;
        std::memcpy(&v, pixel, 4);
        return v;
    }
    case PixelFormat::X8R8G8B8: {
        std::uint32_t v;
        std::memcpy(&v, pixel, 4);
        return v | 0xFF000000u;
    }
    case PixelFormat::R5G6B5: {
        const std::uint32_t v = Load16(pixel);
        return 0xFF000000u | Expand5(v >> 11) << 16 | Expand6((v >> 5) & 63) << 8 | Expand5(v & 31);
    }
    case PixelFormat::X1R5G5B5:
    case PixelFormat::A1R5G5B5: {
        const std::uint32_t v = Load16(pixel);
        const bool opaque = format == PixelFormat::X1R5G5B5 || (v & 0x8000);
        return (opaque ? 0xFF000000u : 0u) | Expand5((v >> 10) & 31) << 16 |
               Expand5((v >> 5) & 31) << 8 | Expand5(v & 31);
    }
    case PixelFormat::A4R4G4B4:
    case PixelFormat::X4R4G4B4: {
        const std::uint32_t v = Load16(pixel);
        const std::uint32_t a = format == PixelFormat::X4R4G4B4 ? 0xFF : ((v >> 12) & 15) * 17;
        return a << 24 | ((v >> 8) & 15) * 17 << 16 | ((v >> 4) & 15) * 17 << 8 | (v & 15) * 17;
    }
    }
    return 0;
}

void EncodePixel(PixelFormat format, std::uint8_t* pixel, std::uint32_t argb) {
    const std::uint32_t a = argb >> 24, r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
    std::uint16_t v = 0;
    switch (format) {
    case PixelFormat::A8R8G8B8:
    case PixelFormat::X8R8G8B8:
        std::memcpy(pixel, &argb, 4);
        return;
    case PixelFormat::R5G6B5:
        v = static_cast<std::uint16_t>(Quantize(r, 31) << 11 | Quantize(g, 63) << 5 | Quantize(b, 31));
        break;
    case PixelFormat::X1R5G5B5:
    case PixelFormat::A1R5G5B5: {
        const std::uint32_t top = format == PixelFormat::X1R5G5B5 || a >= 128 ? 0x8000 : 0;
        v = static_cast<std::uint16_t>(top | Quantize(r, 31) << 10 | Quantize(g, 31) << 5 | Quantize(b, 31));
        break;
    }
    case PixelFormat::A4R4G4B4:
    case PixelFormat::X4R4G4B4: {
        const std::uint32_t top = format == PixelFormat::X4R4G4B4 ? 15 : Quantize(a, 15);
        v = static_cast<std::uint16_t>(top << 12 | Quantize(r, 15) << 8 | Quantize(g, 15) << 4 | Quantize(b, 15));
        break;
    }
    }
    std::memcpy(pixel, &v, 2);
}

std::uint32_t ReadPixel(const SurfaceView& surface, int x, int y) {
    return DecodePixel(surface.format, surface.bits + static_cast<std::ptrdiff_t>(y) * surface.pitch +
                                           x * BytesPerPixel(surface.format));
}

void WritePixel(const SurfaceView& surface, int x, int y, std::uint32_t argb) {
    EncodePixel(surface.format,
                surface.bits + static_cast<std::ptrdiff_t>(y) * surface.pitch + x * BytesPerPixel(surface.format),
                argb);
}

void Clear(const SurfaceView& target, const Rect& rect, std::uint32_t argb) {
    if (!target.bits) return;
    const int left = std::max(rect.left, 0), right = std::min(rect.right, target.width);
    const int top = std::max(rect.top, 0), bottom = std::min(rect.bottom, target.height);
    if (left >= right || top >= bottom) return;
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
