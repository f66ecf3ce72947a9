// Pictures of the display layer: PNG and TGA files, scaling, the generated desktop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::display::picture {

// A8R8G8B8 (X8R8G8B8 where alpha does not matter), top-down, tightly packed.
struct Image {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
};

// Pictures larger than this (per side) are refused rather than allocated.
inline constexpr int kMaxSide = 16384;
inline constexpr std::uint64_t kMaxPixels = 64ull * 1024 * 1024;

// Each reader returns false and sets error to a one-line reason.
bool ReadPng(const std::string& path, Image& out, std::string& error);
// Uncompressed true-colour TGA, 24 or 32 bits, either row order.
bool ReadTga(const std::string& path, Image& out, std::string& error);
// PNG or TGA, told apart by the PNG signature.
bool ReadPicture(const std::string& path, Image& out, std::string& error);

// Writes X8R8G8B8 pixels as an 8-bit RGB PNG.
bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              int pitchBytes, std::string& error);

// Scales to cover width x height keeping the aspect ratio, cropping the overflow evenly.
Image Cover(const Image& source, int width, int height);

// A plausible desktop: wallpaper gradient, task bar, a few windows with title bars.
Image GenerateDesktop(int width, int height);

}  // namespace platform::display::picture
