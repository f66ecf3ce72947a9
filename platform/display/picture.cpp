#include "platform/display/picture.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace platform::display::picture {
namespace {

bool SizeAcceptable(std::uint64_t w, std::uint64_t h) {
  return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels;
}

std::string SizeText(std::uint64_t w, std::uint64_t h) {
  return std::to_string(w) + "x" + std::to_string(h);
}

constexpr std::uint32_t Rgb(int r, int g, int b) {
  return 0xFF000000u | (std::uint32_t(r & 0xFF) << 16) | (std::uint32_t(g & 0xFF) << 8) |
         std::uint32_t(b & 0xFF);
}

}  // namespace

bool ReadPng(const std::string& path, Image& out, std::string& error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    error = std::string("not a readable PNG file (") + image.message + ")";
    return false;
  }
  if (!SizeAcceptable(image.width, image.height)) {
    error = "PNG picture size " + SizeText(image.width, image.height) + " is out of range";
    png_image_free(&image);
    return false;
  }
  // BGRA bytes in memory are A8R8G8B8 words on a little-endian machine.
  image.format = PNG_FORMAT_BGRA;
  Image result;
  result.width = static_cast<int>(image.width);
  result.height = static_cast<int>(image.height);
  result.pixels.resize(std::size_t(image.width) * image.height);
  if (!png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr)) {
    error = std::string("damaged PNG file (") + image.message + ")";
    png_image_free(&image);
    return false;
  }
  out = std::move(result);
  return true;
}

bool ReadTga(const std::string& path, Image& out, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open the file";
    return false;
  }
  unsigned char h[18];
  if (!file.read(reinterpret_cast<char*>(h), sizeof h)) {
    error = "TGA header is truncated";
    return false;
  }
  const int idLength = h[0], colorMapType = h[1], imageType = h[2];
  const int mapLength = h[5] | (h[6] << 8), mapEntryBits = h[7];
  const int width = h[12] | (h[13] << 8), height = h[14] | (h[15] << 8);
  const int bits = h[16], descriptor = h[17];
  if (imageType != 2 || (bits != 24 && bits != 32) || colorMapType > 1) {
    error = "only uncompressed 24- or 32-bit true-colour TGA files are supported (type " +
            std::to_string(imageType) + ", " + std::to_string(bits) + " bits)";
    return false;
  }
  if (!SizeAcceptable(width, height)) {
    error = "TGA picture size " + SizeText(width, height) + " is out of range";
    return false;
  }
  const std::streamoff skip = idLength + (colorMapType ? mapLength * ((mapEntryBits + 7) / 8) : 0);
  file.seekg(skip, std::ios::cur);
  const int bytesPerPixel = bits / 8;
  const std::uint64_t needed = std::uint64_t(width) * height * bytesPerPixel;
  // A header may claim far more than the file holds; learn that before allocating for it.
  const std::streamoff at = file.tellg();
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  if (at < 0 || end < at || std::uint64_t(end - at) < needed) {
    error = "TGA pixel data is truncated";
    return false;
  }
  file.seekg(at);
  std::vector<unsigned char> data(needed);
  if (!file.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()))) {
    error = "TGA pixel data is truncated";
    return false;
  }
  const bool topDown = descriptor & 0x20, rightToLeft = descriptor & 0x10;
  Image result;
  result.width = width;
  result.height = height;
  result.pixels.resize(std::size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    const int row = topDown ? y : height - 1 - y;
    for (int x = 0; x < width; ++x) {
      const int column = rightToLeft ? width - 1 - x : x;
      const unsigned char* p = &data[(std::size_t(row) * width + column) * bytesPerPixel];
      const std::uint32_t a = bytesPerPixel == 4 ? p[3] : 0xFF;
      result.pixels[std::size_t(y) * width + x] = (a << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
    }
  }
  out = std::move(result);
  return true;
}

bool ReadPicture(const std::string& path, Image& out, std::string& error) {
  unsigned char signature[8] = {};
  {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      error = "cannot open the file";
      return false;
    }
    file.read(reinterpret_cast<char*>(signature), sizeof signature);
  }
  if (png_sig_cmp(signature, 0, sizeof signature) == 0) return ReadPng(path, out, error);
  return ReadTga(path, out, error);
}

bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              int pitchBytes, std::string& error) {
  if (!pixels || width <= 0 || height <= 0 || pitchBytes < width * 4) {
    error = "no picture to write";
    return false;
  }
  std::vector<unsigned char> rgb(std::size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(
        reinterpret_cast<const unsigned char*>(pixels) + std::size_t(y) * pitchBytes);
    unsigned char* dst = &rgb[std::size_t(y) * width * 3];
    for (int x = 0; x < width; ++x) {
      dst[3 * x] = (row[x] >> 16) & 0xFF;
      dst[3 * x + 1] = (row[x] >> 8) & 0xFF;
      dst[3 * x + 2] = row[x] & 0xFF;
    }
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
    error = std::string("cannot write PNG file (") + image.message + ")";
    std::remove(path.c_str());
    return false;
  }
  return true;
}

Image Cover(const Image& source, int width, int height) {
  Image result;
  if (width <= 0 || height <= 0) return result;
  result.width = width;
  result.height = height;
  result.pixels.assign(std::size_t(width) * height, 0xFF000000u);
  if (source.width <= 0 || source.height <= 0) return result;
  // Scale factor num/den = max(width/sw, height/sh), in integers to keep it exact.
  std::int64_t num = width, den = source.width;
  if (std::int64_t(height) * source.width > std::int64_t(width) * source.height) {
    num = height;
    den = source.height;
  }
  const std::int64_t scaledW = std::int64_t(source.width) * num / den;
  const std::int64_t scaledH = std::int64_t(source.height) * num / den;
  const std::int64_t offsetX = (scaledW - width) / 2, offsetY = (scaledH - height) / 2;
  for (int y = 0; y < height; ++y) {
    const std::int64_t sy = std::min<std::int64_t>((y + offsetY) * den / num, source.height - 1);
    const std::uint32_t* srcRow = &source.pixels[std::size_t(sy) * source.width];
    std::uint32_t* dst = &result.pixels[std::size_t(y) * width];
    for (int x = 0; x < width; ++x) {
      const std::int64_t sx = std::min<std::int64_t>((x + offsetX) * den / num, source.width - 1);
      dst[x] = srcRow[sx];
    }
  }
  return result;
}

namespace {

class Painter {
public:
  explicit Painter(Image& image) : image_(image) {}

  void Fill(int x, int y, int w, int h, std::uint32_t color) {
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, image_.width), y1 = std::min(y + h, image_.height);
    for (int py = y0; py < y1; ++py)
      std::fill_n(&image_.pixels[std::size_t(py) * image_.width + x0], std::max(x1 - x0, 0), color);
  }

  // A raised 3D edge: light top-left, dark bottom-right.
  void Bevel(int x, int y, int w, int h, bool raised) {
    const std::uint32_t light = raised ? Rgb(255, 255, 255) : Rgb(128, 128, 128);
    const std::uint32_t dark = raised ? Rgb(64, 64, 64) : Rgb(255, 255, 255);
    Fill(x, y, w, 1, light);
    Fill(x, y, 1, h, light);
    Fill(x, y + h - 1, w, 1, dark);
    Fill(x + w - 1, y, 1, h, dark);
  }

  void HorizontalGradient(int x, int y, int w, int h, std::uint32_t from, std::uint32_t to) {
    for (int i = 0; i < w; ++i) Fill(x + i, y, 1, h, Mix(from, to, i, std::max(w - 1, 1)));
  }

  static std::uint32_t Mix(std::uint32_t a, std::uint32_t b, int t, int range) {
    auto channel = [&](int shift) {
      const int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
      return ca + (cb - ca) * t / range;
    };
    return Rgb(channel(16), channel(8), channel(0));
  }

private:
  Image& image_;
};

struct WindowLook {
  double x, y, w, h;  // fractions of the screen
  bool active;
};

void DrawWindow(Painter& p, int x, int y, int w, int h, bool active, int unit) {
  const int title = std::max(unit * 18 / 10, 12);
  p.Fill(x, y, w, h, Rgb(192, 192, 192));
  p.Bevel(x, y, w, h, true);
  if (active)
    p.HorizontalGradient(x + 3, y + 3, w - 6, title, Rgb(0, 0, 128), Rgb(16, 132, 208));
  else
    p.HorizontalGradient(x + 3, y + 3, w - 6, title, Rgb(128, 128, 128), Rgb(181, 181, 181));
  // Caption buttons: minimise, maximise, close.
  const int button = title - 4;
  for (int i = 0; i < 3; ++i) {
    const int bx = x + w - 5 - (3 - i) * (button + 2);
    p.Fill(bx, y + 5, button, button, i == 2 ? Rgb(200, 60, 50) : Rgb(192, 192, 192));
    p.Bevel(bx, y + 5, button, button, true);
  }
  // Client area with lines of "text".
  const int cx = x + 4, cy = y + title + 6, cw = w - 8, ch = h - title - 10;
  p.Fill(cx, cy, cw, ch, Rgb(255, 255, 255));
  p.Bevel(cx, cy, cw, ch, false);
  const int line = std::max(unit, 6);
  for (int ly = cy + line, n = 0; ly + line / 2 < cy + ch - line / 2; ly += line * 3 / 2, ++n) {
    const int length = cw - 2 * line - (n * 37 % 5) * cw / 9;
    p.Fill(cx + line, ly, std::max(length, line), std::max(line / 2, 2), Rgb(96, 96, 112));
  }
}

void DrawTaskBar(Painter& p, int width, int height, int unit) {
  const int bar = std::max(unit * 28 / 10, 20);
  const int top = height - bar;
  p.Fill(0, top, width, bar, Rgb(192, 192, 192));
  p.Fill(0, top + 1, width, 1, Rgb(255, 255, 255));
  const int button = bar - 6;
  // Start button, task buttons, notification area.
  p.Fill(3, top + 4, button * 3, button, Rgb(192, 192, 192));
  p.Bevel(3, top + 4, button * 3, button, true);
  p.Fill(7, top + 8, button - 8, button - 8, Rgb(0, 128, 64));
  for (int i = 0; i < 3; ++i) {
    const int bx = 3 + button * 3 + 6 + i * (button * 6 + 4);
    if (bx + button * 6 > width * 3 / 4) break;
    p.Fill(bx, top + 4, button * 6, button, i == 0 ? Rgb(224, 224, 224) : Rgb(192, 192, 192));
    p.Bevel(bx, top + 4, button * 6, button, i != 0);
  }
  const int tray = std::min(button * 4, width / 4);
  p.Bevel(width - tray - 4, top + 4, tray, button, false);
}

void DrawIcons(Painter& p, int height, int unit) {
  const int icon = std::max(unit * 3, 12), gap = icon * 2;
  for (int i = 0; i < 4 && gap * (i + 1) < height / 2; ++i) {
    const int y = unit * 2 + i * gap;
    p.Fill(unit * 2, y, icon, icon, i % 2 ? Rgb(240, 200, 80) : Rgb(230, 230, 240));
    p.Bevel(unit * 2, y, icon, icon, true);
    p.Fill(unit * 2 - icon / 4, y + icon + 3, icon * 3 / 2, std::max(unit / 2, 2), Rgb(255, 255, 255));
  }
}

}  // namespace

Image GenerateDesktop(int width, int height) {
  Image image;
  if (width <= 0 || height <= 0) return image;
  image.width = width;
  image.height = height;
  image.pixels.resize(std::size_t(width) * height);
  // Wallpaper: a deep blue vertical gradient brightened along a diagonal band.
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int r = 20 + 30 * (height - y) / height;
      const int g = 60 + 70 * (height - y) / height;
      const int b = 110 + 80 * (height - y) / height;
      const int band = std::abs((x - width / 3) - (height - y)) * 256 / (width + height);
      const int lift = std::max(0, 40 - band * 2);
      image.pixels[std::size_t(y) * width + x] = Rgb(r + lift / 2, g + lift, b + lift);
    }
  }
  Painter p(image);
  const int unit = std::max(height / 96, 4);
  DrawIcons(p, height, unit);
  const WindowLook windows[] = {
      {0.12, 0.10, 0.46, 0.44, false},
      {0.50, 0.18, 0.40, 0.52, false},
      {0.26, 0.36, 0.44, 0.42, true},
  };
  for (const WindowLook& w : windows)
    DrawWindow(p, int(w.x * width), int(w.y * height), int(w.w * width), int(w.h * height), w.active, unit);
  DrawTaskBar(p, width, height, unit);
  return image;
}

}  // namespace platform::display::picture
