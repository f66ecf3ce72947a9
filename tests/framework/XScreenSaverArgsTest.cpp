#include "app/uXScreenSaver.h"

#include <gtest/gtest.h>

namespace {

TEST(XScreenSaverArgs, WindowOptionsAndSettings)
{
    struct Case {
        std::vector<std::string> Args;
        bool Present, Root;
        uintptr_t Window;
        bool Ok;
        int32_t SpiralCount;  // -1: not given
    };
    const Case cases[] = {
        {{"halvora", "/s"}, false, false, 0, true, -1},
        {{"halvora", "-root"}, true, true, 0, true, -1},
        {{"halvora", "--root", "--spiral-count", "3"}, true, true, 0, true, 3},
        {{"halvora", "-window-id", "0x1a00007"}, true, false, 0x1a00007, true, -1},
        {{"halvora", "--window-id", "4242", "-spiral-count", "-2"}, true, false, 4242, true, -2},
        {{"halvora", "--window-id"}, true, false, 0, false, -1},
        {{"halvora", "--window-id", "0xZZ"}, true, false, 0, false, -1},
        {{"halvora", "--window-id", "0x1234567890"}, true, false, 0, false, -1},
        {{"halvora", "--root", "--spiral-count"}, true, true, 0, false, -1},
        {{"halvora", "--root", "--spiral-count", "eight"}, true, true, 0, false, -1},
        {{"halvora", "--root", "--spiral-count", "99999999999"}, true, true, 0, false, -1},
    };
    for (const Case& c : cases) {
        const TXScreenSaverArgs a = ParseXScreenSaverArgs(c.Args);
        const std::string label = c.Args.size() > 1 ? c.Args[1] + " ..." : "";
        EXPECT_EQ(a.Present, c.Present) << label;
        EXPECT_EQ(a.UseRoot, c.Root) << label;
        EXPECT_EQ(a.Error.empty(), c.Ok) << label << ": " << a.Error;
        if (c.Ok) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(a.Window), c.Window) << label;
        }
        if (c.Ok && c.SpiralCount != -1) {
            EXPECT_TRUE(a.HasSpiralCount);
            EXPECT_EQ(a.SpiralCount, c.SpiralCount);
        }
    }
}

TEST(XScreenSaverArgs, SpiralTypeAndBlendMode)
{
    const TXScreenSaverArgs a =
        ParseXScreenSaverArgs({"halvora", "--root", "--spiral-type", "2", "--blend-mode", "1"});
    ASSERT_TRUE(a.Error.empty());
    EXPECT_TRUE(a.HasSpiralType);
    EXPECT_EQ(a.SpiralType, 2);
    EXPECT_TRUE(a.HasBlendMode);
    EXPECT_EQ(a.BlendMode, 1);
    EXPECT_FALSE(a.HasSpiralCount);
}

}  // namespace
