#pragma once
// Uncompressed 32-bit TGA files, and Windows bitmaps converted into them.

#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kTGAHeaderSize = 18;
constexpr std::size_t kTGAFooterSize = 26;
// Bounds every image the system reads or writes (a 16384 x 16384 picture).
constexpr uint64_t kMaxImagePixels = 16384ull * 16384ull;

struct TGAImage {
    uint8_t IDLength = 0;
    uint8_t ColorMapType = 0;
    uint8_t ImageType = 0;
    uint16_t ColorMapStart = 0;
    uint16_t ColorMapLength = 0;
    uint8_t ColorMapDepth = 0;
    uint16_t XOrigin = 0;
    uint16_t YOrigin = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t PixelDepth = 0;
    uint8_t ImageDescriptor = 0;
    // Top-down rows, one 0xAARRGGBB value per pixel.
    std::vector<uint32_t> Pixels;
};

// False (and an empty image) when the size does not fit a TGA file or the size bound.
bool InitTGAImage(TGAImage& image, int32_t width, int32_t height);
int64_t TGADataSize(const TGAImage& image);
bool ReadTGAHeader(const std::string& fileName, uint8_t (&header)[kTGAHeaderSize]);
bool SaveTGA(const std::string& fileName, const TGAImage& image);
bool BitmapToTGA(const std::string& bitmapFile, const std::string& tgaFile);

// The pixels of a TGA file as the system writes it, turned top-down.
bool LoadTGAPixels(const std::string& fileName, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels);
// The same as bytes: B, G, R, A for each pixel.
bool LoadTGABytes(const std::string& fileName, int32_t& width, int32_t& height, std::vector<uint8_t>& bytes);

// Windows bitmaps: uncompressed 24- and 32-bit, either row order. The result is
// top-down with the fourth byte as stored (0 for 24-bit files).
bool DecodeBMP(const std::vector<uint8_t>& file, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels);
bool LoadBMP(const std::string& fileName, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels);
// Writes a 32-bit bottom-up bitmap from top-down pixels.
bool SaveBMP(const std::string& fileName, int32_t width, int32_t height, const std::vector<uint32_t>& pixels);

// The bytes SaveTGA writes, for callers and tests that need them in memory.
std::string EncodeTGA(const TGAImage& image);
