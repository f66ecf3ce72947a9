#include "common/uStrings.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(StrToIntVal, ReadsDecimalHexSignsAndStopsAtTheFirstNonDigit)
{
    struct Case {
        const char* Text;
        int32_t Value;
        std::size_t Consumed;
    };
    const Case cases[] = {
        {"42", 42, 2},          {" -7", -7, 3},         {"$1F", 31, 3},          {"0x10", 16, 4},
        {"0X1f", 31, 4},        {"x1F", 31, 3},         {"X10", 16, 3},          {"12abc", 12, 2},
        {"abc", 0, 0},          {"", 0, 0},             {"+5", 5, 2},            {"-$10", -16, 4},
        {"   ", 0, 3},          {"0x", 0, 2},           {"0", 0, 1},             {"007", 7, 3},
        {"\t5", 0, 0},          {"5 6", 5, 1},          {"-", 0, 1},             {"2147483647", 2147483647, 10},
        {"-2147483648", INT32_MIN, 11},
        // Beyond 32 bits the value wraps like a 32-bit accumulator instead of being undefined.
        {"4294967295", -1, 10}, {"4294967296", 0, 10},  {"0x1FFFFFFFF", -1, 11},
        {"99999999999999999999999", static_cast<int32_t>(4135583743u), 23},
    };
    for (const Case& c : cases) {
        std::size_t consumed = 99;
        EXPECT_EQ(StrToIntVal(c.Text, consumed), c.Value) << '"' << c.Text << '"';
        EXPECT_EQ(consumed, c.Consumed) << '"' << c.Text << '"';
    }
}

TEST(StrToFloatVal, IsLocaleFreeAndRefusesNonFiniteValues)
{
    struct Case {
        const char* Text;
        long double Value;
    };
    const Case cases[] = {
        {"1.5", 1.5L},  {"-2", -2.0L},   {"3e2", 300.0L}, {"+0.25", 0.25L}, {" .5", 0.5L},
        {"2.5x", 2.5L}, {"", 0.0L},      {"abc", 0.0L},   {"1e999", 0.0L},  {"-1e999", 0.0L},
        {"nan", 0.0L},  {"inf", 0.0L},   {"-inf", 0.0L},  {"1,5", 1.0L},    {"--1", 0.0L},
        {"1e", 1.0L},   {"1e-99999", 0.0L},
    };
    for (const Case& c : cases) {
        const long double v = StrToFloatVal(c.Text);
        EXPECT_TRUE(std::isfinite(v)) << c.Text;
        EXPECT_EQ(v, c.Value) << c.Text;
    }
}

TEST(ExtractToken, SkipsLeadingSeparatorsAndLeavesTheRest)
{
    struct Case {
        const char* Text;
        const char* Token;
        const char* Rest;
    };
    const Case cases[] = {
        {"  10 20", "10", "20"}, {"20", "20", ""}, {"", "", ""}, {"10  20", "10", " 20"},
        {"   ", "", ""},         {"10 ", "10", ""}, {" 20", "20", ""},
    };
    for (const Case& c : cases) {
        std::string text = c.Text, token = "junk";
        ExtractToken(text, ' ', token);
        EXPECT_EQ(token, c.Token) << '"' << c.Text << '"';
        EXPECT_EQ(text, c.Rest) << '"' << c.Text << '"';
    }
    std::string text = "10  20", token;
    ExtractToken(text, ' ', token);
    ExtractToken(text, ' ', token);
    EXPECT_EQ(token, "20");
    EXPECT_EQ(text, "");
}

TEST(TextRoutines, MatchTheirTables)
{
    EXPECT_EQ(PadRight(12, ' ', "640x480"), "640x480     ");
    EXPECT_EQ(PadRight(3, ' ', "640x480"), "640x480");
    EXPECT_EQ(PadRight(-1, '.', "a"), "a");

    for (const char* line : {"", ";x", "//x", "//"})
        EXPECT_TRUE(IsCommentLine(line)) << line;
    for (const char* line : {" ;x", "/x", "/", "x//"})
        EXPECT_FALSE(IsCommentLine(line)) << line;

    for (const char* text : {"TRUE", "True", "true", "1"})
        EXPECT_TRUE(StrToBool(text)) << text;
    for (const char* text : {"yes", "0", " 1", "", "2", "true "})
        EXPECT_FALSE(StrToBool(text)) << text;

    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");

    EXPECT_EQ(HexToInt("ff8040"), 0xFF8040);
    EXPECT_EQ(HexToInt("FF8040"), 0xFF8040);
    EXPECT_EQ(HexToInt(""), 0);
    EXPECT_EQ(HexToInt("12G4"), 0x12);
    EXPECT_EQ(HexToInt("FFFFFFFFFFFFFFFF"), -1);

    std::string colour = "$FF$00$";
    RemoveChar('$', colour);
    EXPECT_EQ(colour, "FF00");
    EXPECT_EQ(CountChar("a\nb\n\nc", '\n'), 3);
    EXPECT_EQ(IntToStr(-12), "-12");
    EXPECT_EQ(Int64ToStr(static_cast<int64_t>(static_cast<uint32_t>(0xFFFFFFFFu))), "4294967295");
}

TEST(MinMax, ReturnTheFirstArgumentWhenEqual)
{
    EXPECT_EQ(Min(3, -4), -4);
    EXPECT_EQ(Max(3, -4), 3);
    EXPECT_TRUE(std::signbit(MinF(-0.0f, 0.0f)));
    EXPECT_FALSE(std::signbit(MinF(0.0f, -0.0f)));
    EXPECT_TRUE(std::signbit(MaxF(-0.0f, 0.0f)));
    EXPECT_EQ(MaxF(1.5f, 2.5f), 2.5f);
}

}  // namespace
