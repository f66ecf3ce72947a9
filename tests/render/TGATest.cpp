#include "render/uTGA.h"

#include "app/uC.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using testsupport::CapturedChannel;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::Untagged;
using testsupport::WriteBytes;

std::string Le16(uint32_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string Le32(uint32_t v) { return Le16(v) + Le16(v >> 16); }

const std::string kFooter = std::string(8, '\0') + std::string("TRUEVISION-XFILE.") + std::string(1, '\0');

class TGAFiles : public ::testing::Test {
protected:
    void SetUp() override { DataDir = Dir.Path(); }
    TempDir Dir;
    testsupport::ScopedDataPaths Paths;
    CapturedChannel Channel;
};

TEST_F(TGAFiles, TwoByTwoImageIsWrittenBottomRowFirstWithTheFooter)
{
    TGAImage image;
    ASSERT_TRUE(InitTGAImage(image, 2, 2));
    const uint32_t p1 = 0x11223344, p2 = 0x55667788, p3 = 0x99AABBCC, p4 = 0xDDEEFF00;
    image.Pixels = {p1, p2, p3, p4};
    ASSERT_TRUE(SaveTGA(Dir.File("t.tga"), image));
    const std::string header = std::string("\0\0\x02\0\0\0\0\0\0\0\0\0", 12) + Le16(2) + Le16(2) + "\x20" + std::string(1, '\0');
    EXPECT_EQ(ReadBytes(Dir.File("t.tga")), header + Le32(p3) + Le32(p4) + Le32(p1) + Le32(p2) + kFooter);
    EXPECT_EQ(ReadBytes(Dir.File("t.tga")).size(), 60u);
    EXPECT_EQ(TGADataSize(image), 16);

    int32_t w = 0, h = 0;
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(LoadTGAPixels(Dir.File("T.TGA"), w, h, pixels));
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(pixels, image.Pixels);
}

TEST_F(TGAFiles, HeaderOf640x480)
{
    TGAImage image;
    ASSERT_TRUE(InitTGAImage(image, 640, 480));
    ASSERT_TRUE(SaveTGA(Dir.File("big.tga"), image));
    uint8_t header[kTGAHeaderSize];
    ASSERT_TRUE(ReadTGAHeader(Dir.File("big.tga"), header));
    const uint8_t expected[] = {0x80, 0x02, 0xE0, 0x01, 0x20, 0x00};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), header + 12));
    EXPECT_EQ(header[2], 2);
    EXPECT_EQ(TGADataSize(image), 640 * 480 * 4);
    EXPECT_FALSE(ReadTGAHeader(Dir.File("none.tga"), header));
}

TEST_F(TGAFiles, SizesThatDoNotFitAreRefused)
{
    TGAImage image;
    for (auto [w, h] : {std::pair{-1, 5}, {65536, 1}, {1, 70000}, {65535, 65535}})
        EXPECT_FALSE(InitTGAImage(image, w, h)) << w << "x" << h;
    EXPECT_TRUE(image.Pixels.empty());
    ASSERT_TRUE(InitTGAImage(image, 2, 1));
    image.Pixels.pop_back();
    EXPECT_FALSE(SaveTGA(Dir.File("bad.tga"), image));
    EXPECT_FALSE(testsupport::PathExists(Dir.File("bad.tga")));
}

TEST_F(TGAFiles, LyingHeadersAreReportedAndRefused)
{
    const std::string prefix = std::string("\0\0\x02\0\0\0\0\0\0\0\0\0", 12);
    struct Case {
        const char* Name;
        std::string Bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"short header", prefix},
        {"zero width", prefix + Le16(0) + Le16(4) + "\x20" + '\0' + std::string(64, 'x')},
        {"zero height", prefix + Le16(4) + Le16(0) + "\x20" + '\0' + std::string(64, 'x')},
        {"more pixels than data", prefix + Le16(4) + Le16(4) + "\x20" + '\0' + std::string(63, 'x')},
        {"absurd size", prefix + Le16(65535) + Le16(65535) + "\x20" + '\0' + std::string(100, 'x')},
    };
    for (const Case& c : cases) {
        WriteBytes(Dir.File("lie.tga"), c.Bytes);
        Channel.Messages.clear();
        int32_t w = 7, h = 7;
        std::vector<uint32_t> pixels{1, 2};
        EXPECT_FALSE(LoadTGAPixels(Dir.File("lie.tga"), w, h, pixels)) << c.Name;
        EXPECT_EQ(w, 0);
        EXPECT_TRUE(pixels.empty());
        ASSERT_EQ(Channel.Messages.size(), 1u) << c.Name;
        EXPECT_NE(Untagged(Channel.Messages[0]).find("uTGA.LoadTGAPixels: "), std::string::npos);
    }
    EXPECT_NE(ReadBytes(Dir.File("Error.log")).find("uTGA.LoadTGAPixels: "), std::string::npos);
}

// Bitmap files built by hand: header fields, then rows padded to 4 bytes.
std::string MakeBMP(int32_t width, int32_t height, uint16_t bits, const std::vector<std::vector<uint32_t>>& fileRows,
                    uint32_t compression = 0)
{
    std::string data;
    for (const auto& row : fileRows) {
        std::string r;
        for (uint32_t px : row)
            r += Le32(px).substr(0, bits / 8);
        while (r.size() % 4)
            r += '\0';
        data += r;
    }
    std::string out = "BM" + Le32(54 + static_cast<uint32_t>(data.size())) + Le32(0) + Le32(54);
    out += Le32(40) + Le32(static_cast<uint32_t>(width)) + Le32(static_cast<uint32_t>(height)) + Le16(1) + Le16(bits) +
           Le32(compression) + Le32(static_cast<uint32_t>(data.size())) + Le32(0) + Le32(0) + Le32(0) + Le32(0);
    return out + data;
}

TEST_F(TGAFiles, BitmapsBecomeOpaqueTopDownImages)
{
    const uint32_t top0 = 0x00102030, top1 = 0x00405060, top2 = 0x7F708090;
    const uint32_t bot0 = 0x00A0B0C0, bot1 = 0x00D0E0F0, bot2 = 0x80010203;
    const std::vector<uint32_t> expected = {top0 | 0xFF000000, top1 | 0xFF000000, top2 | 0xFF000000,
                                            bot0 | 0xFF000000, bot1 | 0xFF000000, bot2 | 0xFF000000};
    struct Case {
        const char* Name;
        std::string Bytes;
    };
    const Case cases[] = {
        {"24-bit bottom-up", MakeBMP(3, 2, 24, {{bot0, bot1, bot2}, {top0, top1, top2}})},
        {"24-bit top-down", MakeBMP(3, -2, 24, {{top0, top1, top2}, {bot0, bot1, bot2}})},
        {"32-bit bottom-up", MakeBMP(3, 2, 32, {{bot0, bot1, bot2}, {top0, top1, top2}})},
        {"32-bit top-down", MakeBMP(3, -2, 32, {{top0, top1, top2}, {bot0, bot1, bot2}})},
    };
    for (const Case& c : cases) {
        WriteBytes(Dir.File("in.bmp"), c.Bytes);
        ASSERT_TRUE(BitmapToTGA(Dir.File("in.bmp"), Dir.File("out.tga"))) << c.Name;
        int32_t w = 0, h = 0;
        std::vector<uint32_t> pixels;
        ASSERT_TRUE(LoadTGAPixels(Dir.File("out.tga"), w, h, pixels));
        EXPECT_EQ(w, 3);
        EXPECT_EQ(h, 2);
        EXPECT_EQ(pixels, expected) << c.Name;
    }
    EXPECT_TRUE(Channel.Messages.empty());
}

TEST_F(TGAFiles, OwnBitmapWriterRoundTrips)
{
    const std::vector<uint32_t> pixels = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10, 0x11121314, 0x15161718};
    ASSERT_TRUE(SaveBMP(Dir.File("o.bmp"), 2, 3, pixels));
    int32_t w = 0, h = 0;
    std::vector<uint32_t> back;
    ASSERT_TRUE(LoadBMP(Dir.File("o.bmp"), w, h, back));
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(back, pixels);
    EXPECT_FALSE(SaveBMP(Dir.File("x.bmp"), 2, 2, pixels));
}

TEST_F(TGAFiles, UnsupportedOrLyingBitmapsAreRefused)
{
    const std::vector<std::vector<uint32_t>> rows = {{1, 2}, {3, 4}};
    std::string truncated = MakeBMP(2, 2, 24, rows);
    truncated.resize(truncated.size() - 1);
    std::string badOffset = MakeBMP(2, 2, 32, rows);
    badOffset.replace(10, 4, Le32(0xFFFFFFF0));
    std::string hugeRows = MakeBMP(2, 2, 32, rows);
    hugeRows.replace(22, 4, Le32(0x7FFFFFFF));
    std::string minHeight = MakeBMP(2, 2, 32, rows);
    minHeight.replace(22, 4, Le32(0x80000000));
    struct Case {
        const char* Name;
        std::string Bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"not a bitmap", std::string(100, 'Q')},
        {"8-bit", MakeBMP(2, 2, 8, rows)},
        {"16-bit", MakeBMP(2, 2, 16, rows)},
        {"compressed", MakeBMP(2, 2, 32, rows, 1)},
        {"bit fields", MakeBMP(2, 2, 32, rows, 3)},
        {"zero width", MakeBMP(0, 2, 32, {{}, {}})},
        {"truncated pixels", truncated},
        {"offset past the end", badOffset},
        {"absurd height", hugeRows},
        {"most negative height", minHeight},
        {"width times height overflows", MakeBMP(0x40000000, 0x40000000, 32, rows)},
    };
    for (const Case& c : cases) {
        int32_t w = 5, h = 5;
        std::vector<uint32_t> pixels;
        std::vector<uint8_t> bytes(c.Bytes.begin(), c.Bytes.end());
        EXPECT_FALSE(DecodeBMP(bytes, w, h, pixels)) << c.Name;
        EXPECT_TRUE(pixels.empty()) << c.Name;
        WriteBytes(Dir.File("bad.bmp"), c.Bytes);
        Channel.Messages.clear();
        EXPECT_FALSE(BitmapToTGA(Dir.File("bad.bmp"), Dir.File("bad.tga"))) << c.Name;
        EXPECT_EQ(Channel.Messages.size(), 1u) << c.Name;
        EXPECT_FALSE(testsupport::PathExists(Dir.File("bad.tga")));
    }
}

}  // namespace
