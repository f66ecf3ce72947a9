#include "tests/e2e/png_pixels.h"

#include <png.h>

bool ReadPng(const std::string& path, TPicture& out)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_BGRA;  // little-endian 0xAARRGGBB words
    if (image.width == 0 || image.height == 0 || image.width > 8192 || image.height > 8192) {
        png_image_free(&image);
        return false;
    }
    out.Width = static_cast<int>(image.width);
    out.Height = static_cast<int>(image.height);
    out.Pixels.assign(static_cast<std::size_t>(out.Width) * static_cast<std::size_t>(out.Height), 0);
    const bool ok = png_image_finish_read(&image, nullptr, out.Pixels.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}
