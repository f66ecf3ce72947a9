#include "tests/e2e/png_pixels.h"

#include <bit>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Header words are big-endian 32-bit values, in this order.
enum XwdField {
    HeaderSize, FileVersion, PixmapFormat, PixmapDepth, PixmapWidth, PixmapHeight, XOffset, ByteOrder,
    BitmapUnit, BitmapBitOrder, BitmapPad, BitsPerPixel, BytesPerLine, VisualClass, RedMask, GreenMask,
    BlueMask, BitsPerRgb, ColormapEntries, NColors, FieldCount = 25
};

uint32_t BigEndian32(const unsigned char* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The 8-bit value of Mask's channel in Pixel.
uint32_t Channel(uint32_t pixel, uint32_t mask)
{
    if (mask == 0)
        return 0;
    const uint32_t value = (pixel & mask) >> std::countr_zero(mask);
    const uint32_t top = mask >> std::countr_zero(mask);
    return top == 0xFF ? value : value * 255 / top;
}

}  // namespace

bool ReadXwd(const std::string& path, TPicture& out)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    const std::vector<unsigned char> data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (data.size() < FieldCount * 4)
        return false;
    uint32_t h[FieldCount];
    for (int i = 0; i < FieldCount; ++i)
        h[i] = BigEndian32(&data[static_cast<std::size_t>(i) * 4]);
    const uint32_t bpp = h[BitsPerPixel];
    if (h[FileVersion] != 7 || h[PixmapFormat] != 2 || (bpp != 24 && bpp != 32) || h[PixmapWidth] == 0 ||
        h[PixmapHeight] == 0 || h[PixmapWidth] > 16384 || h[PixmapHeight] > 16384 || h[NColors] > 65536)
        return false;
    const uint64_t bytesPerPixel = bpp / 8;
    const uint64_t rowBytes = h[BytesPerLine];
    if (rowBytes < h[PixmapWidth] * bytesPerPixel)
        return false;
    const uint64_t pixelsAt = uint64_t{h[HeaderSize]} + uint64_t{h[NColors]} * 12;
    if (pixelsAt + rowBytes * h[PixmapHeight] > data.size())
        return false;
    const bool msbFirst = h[ByteOrder] != 0;
    out.Width = static_cast<int>(h[PixmapWidth]);
    out.Height = static_cast<int>(h[PixmapHeight]);
    out.Pixels.assign(static_cast<std::size_t>(out.Width) * static_cast<std::size_t>(out.Height), 0);
    for (uint32_t y = 0; y < h[PixmapHeight]; ++y) {
        const unsigned char* row = &data[pixelsAt + rowBytes * y];
        for (uint32_t x = 0; x < h[PixmapWidth]; ++x) {
            const unsigned char* p = row + x * bytesPerPixel;
            uint32_t pixel = 0;
            for (uint64_t b = 0; b < bytesPerPixel; ++b) {
                const uint64_t shift = msbFirst ? (bytesPerPixel - 1 - b) * 8 : b * 8;
                pixel |= uint32_t{p[b]} << shift;
            }
            out.Pixels[static_cast<std::size_t>(y) * out.Width + x] = 0xFF000000u |
                                                                      Channel(pixel, h[RedMask]) << 16 |
                                                                      Channel(pixel, h[GreenMask]) << 8 |
                                                                      Channel(pixel, h[BlueMask]);
        }
    }
    return true;
}
