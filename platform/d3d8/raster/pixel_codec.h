// Per-format texel codecs as templates, so loops can be instantiated per format instead of
// switching per pixel.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/d3d8/raster/raster.h"

namespace raster {

inline std::uint32_t Expand5(std::uint32_t v) { return (v << 3) | (v >> 2); }
inline std::uint32_t Expand6(std::uint32_t v) { return (v << 2) | (v >> 4); }
// Nearest of maxLevel + 1 evenly spaced levels for an 8-bit channel.
inline std::uint32_t Quantize(std::uint32_t c, std::uint32_t maxLevel) { return (c * maxLevel + 127) / 255; }

template <PixelFormat F>
inline std::uint32_t Decode(const std::uint8_t* p) {
    if constexpr (F == PixelFormat::A8R8G8B8 || F == PixelFormat::X8R8G8B8) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return F == PixelFormat::X8R8G8B8 ? v | 0xFF000000u : v;
    } else {
        std::uint16_t s;
        std::memcpy(&s, p, 2);
        const std::uint32_t v = s;
        if constexpr (F == PixelFormat::R5G6B5) {
            return 0xFF000000u | Expand5(v >> 11) << 16 | Expand6((v >> 5) & 63) << 8 | Expand5(v & 31);
        } else if constexpr (F == PixelFormat::X1R5G5B5 || F == PixelFormat::A1R5G5B5) {
            const bool opaque = F == PixelFormat::X1R5G5B5 || (v & 0x8000);
            return (opaque ? 0xFF000000u : 0u) | Expand5((v >> 10) & 31) << 16 | Expand5((v >> 5) & 31) << 8 |
                   Expand5(v & 31);
        } else {
            const std::uint32_t a = F == PixelFormat::X4R4G4B4 ? 0xFF : ((v >> 12) & 15) * 17;
            return a << 24 | ((v >> 8) & 15) * 17 << 16 | ((v >> 4) & 15) * 17 << 8 | (v & 15) * 17;
        }
    }
}

template <PixelFormat F>
inline void Encode(std::uint8_t* p, std::uint32_t argb) {
    if constexpr (F == PixelFormat::A8R8G8B8 || F == PixelFormat::X8R8G8B8) {
        std::memcpy(p, &argb, 4);
    } else {
        const std::uint32_t a = argb >> 24, r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
        std::uint32_t v;
        if constexpr (F == PixelFormat::R5G6B5) {
            v = Quantize(r, 31) << 11 | Quantize(g, 63) << 5 | Quantize(b, 31);
        } else if constexpr (F == PixelFormat::X1R5G5B5 || F == PixelFormat::A1R5G5B5) {
            const std::uint32_t top = F == PixelFormat::X1R5G5B5 || a >= 128 ? 0x8000 : 0;
            v = top | Quantize(r, 31) << 10 | Quantize(g, 31) << 5 | Quantize(b, 31);
        } else {
            const std::uint32_t top = F == PixelFormat::X4R4G4B4 ? 15 : Quantize(a, 15);
            v = top << 12 | Quantize(r, 15) << 8 | Quantize(g, 15) << 4 | Quantize(b, 15);
        }
        const std::uint16_t s = static_cast<std::uint16_t>(v);
        std::memcpy(p, &s, 2);
    }
}

// Calls f.template operator()<F>() with the format as a compile-time constant.
template <class Fn>
inline void WithFormat(PixelFormat format, Fn&& f) {
    switch (format) {
    case PixelFormat::X8R8G8B8: f.template operator()<PixelFormat::X8R8G8B8>(); break;
    case PixelFormat::A8R8G8B8: f.template operator()<PixelFormat::A8R8G8B8>(); break;
    case PixelFormat::R5G6B5: f.template operator()<PixelFormat::R5G6B5>(); break;
    case PixelFormat::X1R5G5B5: f.template operator()<PixelFormat::X1R5G5B5>(); break;
    case PixelFormat::A1R5G5B5: f.template operator()<PixelFormat::A1R5G5B5>(); break;
    case PixelFormat::A4R4G4B4: f.template operator()<PixelFormat::A4R4G4B4>(); break;
    case PixelFormat::X4R4G4B4: f.template operator()<PixelFormat::X4R4G4B4>(); break;
    }
}

}  // namespace raster
