#include "common/uFormats.h"

#include <gtest/gtest.h>

namespace {

TEST(Formats, NamesDepthsAndCodesAgree)
{
    struct Case {
        uint32_t Code;
        const char* Name;
        int32_t Bits;
    };
    const Case cases[] = {
        {20, "R8G8B8", 24},     {21, "A8R8G8B8", 32},       {22, "X8R8G8B8", 32},     {23, "R5G6B5", 16},
        {24, "X1R5G5B5", 16},   {27, "R3G3B2", 8},          {31, "A2B10G10R10", 32},  {41, "P8", 8},
        {52, "A4L4", 8},        {67, "A2W10V10U10", 32},    {70, "D16_LOCKABLE", 16}, {80, "D16", 16},
        {100, "VERTEXDATA", 32}, {101, "INDEX16", 16},      {0x31545844, "DXT1", 32}, {0x35545844, "DXT5", 32},
        {0x32595559, "YUY2", 32}, {0x59565955, "UYVY", 32},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatToName(c.Code), c.Name);
        EXPECT_EQ(NameToFormat(c.Name), c.Code);
        EXPECT_EQ(FormatBitDepth(c.Code), c.Bits) << c.Name;
        EXPECT_EQ(BytesPerPixel(c.Code), c.Bits / 8) << c.Name;
    }
}

TEST(Formats, UnknownCodesAndNames)
{
    for (uint32_t code : {0u, 1u, 32u, 66u, 0xFFFFFFFFu}) {
        EXPECT_EQ(FormatToName(code), "UNKNOWN");
        EXPECT_EQ(FormatBitDepth(code), -99);
        EXPECT_EQ(BytesPerPixel(code), -12);
    }
    for (const char* name : {"x8r8g8b8", "UNKNOWN", "", "X8R8G8B8 ", "D3DFMT_X8R8G8B8"})
        EXPECT_EQ(NameToFormat(name), 0u) << name;
}

}  // namespace
