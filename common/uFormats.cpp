#include "common/uFormats.h"

#include <array>

namespace {

struct FormatEntry {
    uint32_t Code;
    const char* Name;
    int32_t Bits;
};

constexpr uint32_t FourCC(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

// Compressed and video formats count as 32 bits: the texture store sizes its buffers by this.
constexpr std::array<FormatEntry, 42> kFormats{{
    {20, "R8G8B8", 24},         {21, "A8R8G8B8", 32},      {22, "X8R8G8B8", 32},     {23, "R5G6B5", 16},
    {24, "X1R5G5B5", 16},       {25, "A1R5G5B5", 16},      {26, "A4R4G4B4", 16},     {27, "R3G3B2", 8},
    {28, "A8", 8},              {29, "A8R3G3B2", 16},      {30, "X4R4G4B4", 16},     {31, "A2B10G10R10", 32},
    {34, "G16R16", 32},         {40, "A8P8", 16},          {41, "P8", 8},            {50, "L8", 8},
    {51, "A8L8", 16},           {52, "A4L4", 8},           {60, "V8U8", 16},         {61, "L6V5U5", 16},
    {62, "X8L8V8U8", 32},       {63, "Q8W8V8U8", 32},      {64, "V16U16", 32},       {65, "W11V11U10", 32},
    {67, "A2W10V10U10", 32},    {70, "D16_LOCKABLE", 16},  {71, "D32", 32},          {73, "D15S1", 16},
    {75, "D24S8", 32},          {77, "D24X8", 32},         {79, "D24X4S4", 32},      {80, "D16", 16},
    {100, "VERTEXDATA", 32},    {101, "INDEX16", 16},      {102, "INDEX32", 32},
    {FourCC('D', 'X', 'T', '1'), "DXT1", 32}, {FourCC('D', 'X', 'T', '2'), "DXT2", 32},
    {FourCC('D', 'X', 'T', '3'), "DXT3", 32}, {FourCC('D', 'X', 'T', '4'), "DXT4", 32},
    {FourCC('D', 'X', 'T', '5'), "DXT5", 32}, {FourCC('Y', 'U', 'Y', '2'), "YUY2", 32},
    {FourCC('U', 'Y', 'V', 'Y'), "UYVY", 32},
}};

const FormatEntry* FindFormat(uint32_t format)
{
    for (const FormatEntry& entry : kFormats)
        if (entry.Code == format)
            return &entry;
    return nullptr;
}

}  // namespace

std::string FormatToName(uint32_t format)
{
    const FormatEntry* entry = FindFormat(format);
    return entry ? entry->Name : "UNKNOWN";
}

uint32_t NameToFormat(const std::string& name)
{
    for (const FormatEntry& entry : kFormats)
        if (name == entry.Name)
            return entry.Code;
    return 0;
}

int32_t FormatBitDepth(uint32_t format)
{
    const FormatEntry* entry = FindFormat(format);
    return entry ? entry->Bits : -99;
}

int32_t BytesPerPixel(uint32_t format)
{
    return FormatBitDepth(format) / 8;
}
