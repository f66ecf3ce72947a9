#include "app/uUsage.h"

#include <gtest/gtest.h>

namespace {

TEST(Usage, OnlyTheInformationOptionsAreAnswered)
{
    using I = TInformation;
    struct Case {
        std::vector<std::string> Arguments;
        TInformation Expected;
    };
    const Case cases[] = {
        {{"halvora"}, I::None},
        {{}, I::None},
        {{"halvora", "/s"}, I::None},
        {{"halvora", "/p", "1234"}, I::None},
        {{"halvora", "--root", "--spiral-count", "3"}, I::None},
        {{"halvora", "--help"}, I::Help},
        {{"halvora", "-help"}, I::Help},
        {{"halvora", "-h"}, I::Help},
        {{"halvora", "/?"}, I::Help},
        {{"halvora", "--version"}, I::Version},
        {{"halvora", "-version"}, I::Version},
        {{"halvora", "--root", "--help"}, I::Help},
        {{"halvora", "--version", "--help"}, I::Version},  // the first one wins
        {{"halvora", "--help", "--version"}, I::Help},
        // Mode letters and look-alikes stay with the program entry.
        {{"halvora", "/h"}, I::None},
        {{"halvora", "-H"}, I::None},
        {{"halvora", "--helpme"}, I::None},
        {{"halvora", "--HELP"}, I::None},
        {{"halvora", "-v"}, I::None},
        {{"halvora", ""}, I::None},
        {{"--help"}, I::None},  // the program's own name is not an option
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.Arguments)
            line += "[" + a + "]";
        EXPECT_EQ(InformationAsked(c.Arguments), c.Expected) << line;
    }
}

}  // namespace
