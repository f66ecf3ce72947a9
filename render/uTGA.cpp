#include "render/uTGA.h"

#include "common/uFiles.h"
#include "render/uLog.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";
constexpr std::size_t kBMPFileHeaderSize = 14;
constexpr std::size_t kBMPInfoHeaderSize = 40;
constexpr std::size_t kMaxBMPFileBytes = kBMPFileHeaderSize + 1024 + kMaxImagePixels * 4 + 65536;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void Put8(std::string& out, uint32_t v) { out += static_cast<char>(v & 0xFF); }
void Put16(std::string& out, uint32_t v)
{
    Put8(out, v);
    Put8(out, v >> 8);
}
void Put32(std::string& out, uint32_t v)
{
    Put16(out, v);
    Put16(out, v >> 16);
}

void PutPixel(std::string& out, uint32_t argb) { Put32(out, argb); }

bool SizeAllowed(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= kMaxImagePixels;
}

}  // namespace

bool InitTGAImage(TGAImage& image, int32_t width, int32_t height)
{
    image = TGAImage{};
    if (width < 0 || height < 0 || width > 0xFFFF || height > 0xFFFF ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxImagePixels)
        return false;
    image.ImageType = 2;
    image.Width = static_cast<uint16_t>(width);
    image.Height = static_cast<uint16_t>(height);
    image.PixelDepth = 32;
    image.Pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    return true;
}

int64_t TGADataSize(const TGAImage& image)
{
    return static_cast<int64_t>(image.Width) * image.Height * image.PixelDepth / 8;
}

bool ReadTGAHeader(const std::string& fileName, uint8_t (&header)[kTGAHeaderSize])
{
    std::memset(header, 0, sizeof header);
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(fileName, bytes, kTGAHeaderSize) || bytes.size() < kTGAHeaderSize)
        return false;
    std::memcpy(header, bytes.data(), kTGAHeaderSize);
    return true;
}

std::string EncodeTGA(const TGAImage& image)
{
    std::string out;
    const std::size_t width = image.Width, height = image.Height;
    out.reserve(kTGAHeaderSize + width * height * 4 + kTGAFooterSize);
    Put8(out, image.IDLength);
    Put8(out, image.ColorMapType);
    Put8(out, image.ImageType);
    Put16(out, image.ColorMapStart);
    Put16(out, image.ColorMapLength);
    Put8(out, image.ColorMapDepth);
    Put16(out, image.XOrigin);
    Put16(out, image.YOrigin);
    Put16(out, image.Width);
    Put16(out, image.Height);
    Put8(out, image.PixelDepth);
    Put8(out, image.ImageDescriptor);
    for (std::size_t row = height; row-- > 0;)
        for (std::size_t x = 0; x < width; ++x)
            PutPixel(out, image.Pixels[row * width + x]);
    Put32(out, 0);
    Put32(out, 0);
    out.append(kFooterSignature, sizeof kFooterSignature);  // with its NUL
    return out;
}

bool SaveTGA(const std::string& fileName, const TGAImage& image)
{
    if (image.PixelDepth != 32 || image.Pixels.size() != static_cast<std::size_t>(image.Width) * image.Height) {
        ReportError("uTGA.SaveTGA: image has no matching 32-bit pixel buffer: " + fileName);
        return false;
    }
    if (!WriteFileReplacing(fileName, EncodeTGA(image))) {
        ReportError("uTGA.SaveTGA: cannot write " + fileName);
        return false;
    }
    return true;
}

namespace {

// The file's pixel block read straight into Out, four bytes a pixel as stored (little-endian
// A8R8G8B8), its rows then turned top-down in place: a screen-sized picture is held once.
template <typename Element>
bool LoadTGAInto(const std::string& fileName, int32_t& width, int32_t& height, std::vector<Element>& out)
{
    static_assert(4 % sizeof(Element) == 0);
    width = height = 0;
    out.clear();
    uint8_t header[kTGAHeaderSize];
    if (!ReadTGAHeader(fileName, header)) {
        ReportError("uTGA.LoadTGAPixels: cannot read " + fileName);
        return false;
    }
    const uint32_t w = Read16(header + 12), h = Read16(header + 14);
    if (!SizeAllowed(w, h)) {
        ReportError("uTGA.LoadTGAPixels: bad image size in " + fileName);
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
    const std::size_t dataBytes = rowBytes * h;
    // Checked before allocating: a header may promise far more than the file holds.
    const int64_t size = FileSizeOf(fileName);
    if (size < 0 || static_cast<uint64_t>(size) < kTGAHeaderSize + dataBytes) {
        ReportError("uTGA.LoadTGAPixels: file shorter than its header says: " + fileName);
        return false;
    }
    out.resize(dataBytes / sizeof(Element));
    auto* bytes = reinterpret_cast<uint8_t*>(out.data());
    if (!ReadFilePart(fileName, kTGAHeaderSize, bytes, dataBytes)) {
        out.clear();
        ReportError("uTGA.LoadTGAPixels: cannot read " + fileName);
        return false;
    }
    for (uint32_t top = 0, bottom = h - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(bytes + top * rowBytes, bytes + (top + 1) * rowBytes, bytes + bottom * rowBytes);
    if constexpr (sizeof(Element) == 4 && std::endian::native != std::endian::little)
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = Read32(bytes + 4 * i);
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

}  // namespace

bool LoadTGAPixels(const std::string& fileName, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels)
{
    return LoadTGAInto(fileName, width, height, pixels);
}

bool LoadTGABytes(const std::string& fileName, int32_t& width, int32_t& height, std::vector<uint8_t>& bytes)
{
    return LoadTGAInto(fileName, width, height, bytes);
}

bool DecodeBMP(const std::vector<uint8_t>& file, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels)
{
    width = height = 0;
    pixels.clear();
    if (file.size() < kBMPFileHeaderSize + kBMPInfoHeaderSize || file[0] != 'B' || file[1] != 'M')
        return false;
    const uint8_t* info = file.data() + kBMPFileHeaderSize;
    const uint32_t offBits = Read32(file.data() + 10);
    const uint32_t infoSize = Read32(info);
    const int64_t w = static_cast<int32_t>(Read32(info + 4));
    const int64_t rawHeight = static_cast<int32_t>(Read32(info + 8));
    const uint16_t planes = Read16(info + 12), bits = Read16(info + 14);
    const uint32_t compression = Read32(info + 16);
    if (infoSize < kBMPInfoHeaderSize || planes != 1 || (bits != 24 && bits != 32) || compression != 0)
        return false;
    const bool topDown = rawHeight < 0;
    const int64_t h = topDown ? -rawHeight : rawHeight;
    if (!SizeAllowed(w, h))
        return false;
    const uint64_t stride = ((static_cast<uint64_t>(w) * bits + 31) / 32) * 4;
    if (offBits < kBMPFileHeaderSize + infoSize || offBits > file.size() ||
        (file.size() - offBits) / stride < static_cast<uint64_t>(h))
        return false;
    const std::size_t bytesPerPixel = bits / 8;
    pixels.resize(static_cast<std::size_t>(w * h));
    for (int64_t y = 0; y < h; ++y) {
        const int64_t fileRow = topDown ? y : h - 1 - y;
        const uint8_t* src = file.data() + offBits + static_cast<std::size_t>(fileRow) * stride;
        uint32_t* dst = pixels.data() + static_cast<std::size_t>(y * w);
        for (int64_t x = 0; x < w; ++x, src += bytesPerPixel) {
            const uint32_t fourth = bits == 32 ? src[3] : 0;
            dst[x] = static_cast<uint32_t>(src[0]) | (static_cast<uint32_t>(src[1]) << 8) |
                     (static_cast<uint32_t>(src[2]) << 16) | (fourth << 24);
        }
    }
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

bool LoadBMP(const std::string& fileName, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels)
{
    std::vector<uint8_t> bytes;
    return ReadFileBytes(fileName, bytes, kMaxBMPFileBytes) && DecodeBMP(bytes, width, height, pixels);
}

bool SaveBMP(const std::string& fileName, int32_t width, int32_t height, const std::vector<uint32_t>& pixels)
{
    if (!SizeAllowed(width, height) || pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return false;
    const uint32_t dataSize = static_cast<uint32_t>(static_cast<uint64_t>(width) * height * 4);
    const uint32_t offBits = kBMPFileHeaderSize + kBMPInfoHeaderSize;
    std::string out;
    out.reserve(offBits + dataSize);
    out += "BM";
    Put32(out, offBits + dataSize);
    Put32(out, 0);
    Put32(out, offBits);
    Put32(out, kBMPInfoHeaderSize);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);
    Put32(out, dataSize);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int32_t row = height; row-- > 0;)
        for (int32_t x = 0; x < width; ++x)
            PutPixel(out, pixels[static_cast<std::size_t>(row) * width + x]);
    return WriteFileReplacing(fileName, out);
}

bool BitmapToTGA(const std::string& bitmapFile, const std::string& tgaFile)
{
    int32_t width = 0, height = 0;
    std::vector<uint32_t> bitmap;
    if (!LoadBMP(bitmapFile, width, height, bitmap)) {
        ReportError("uTGA.BitmapToTGA: cannot read bitmap " + bitmapFile);
        return false;
    }
    TGAImage image;
    if (!InitTGAImage(image, width, height)) {
        ReportError("uTGA.BitmapToTGA: bitmap too large for a TGA file: " + bitmapFile);
        return false;
    }
    for (std::size_t i = 0; i < bitmap.size(); ++i)
        image.Pixels[i] = bitmap[i] | 0xFF000000u;
    return SaveTGA(tgaFile, image);
}
