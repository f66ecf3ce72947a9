#include "common/uMonitor.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;

TEST(DebugMessage, TagsEveryMessage)
{
    testsupport::CapturedChannel channel;
    for (const char* text : {"uC.GetDataDir: no registry value", "", "a#b"})
        DebugMessage(text);
    ASSERT_EQ(channel.Messages.size(), 3u);
    std::set<std::string> tags;
    for (const std::string& message : channel.Messages) {
        ASSERT_EQ(message[0], '!');
        const std::size_t hash = message.find('#');
        ASSERT_NE(hash, std::string::npos);
        const std::string tag = message.substr(1, hash - 1);
        ASSERT_FALSE(tag.empty());
        EXPECT_TRUE(tag == "0" || tag[0] != '0') << tag;
        EXPECT_EQ(tag.find_first_not_of("0123456789"), std::string::npos) << tag;
        EXPECT_LE(std::stoll(tag), 2147483646LL);
        tags.insert(tag);
    }
    EXPECT_EQ(testsupport::Untagged(channel.Messages[0]), "uC.GetDataDir: no registry value");
    EXPECT_EQ(testsupport::Untagged(channel.Messages[1]), "");
    EXPECT_EQ(testsupport::Untagged(channel.Messages[2]), "a#b");
    EXPECT_EQ(tags.size(), 3u);
}

TEST(SendToMonitor, WithoutAMonitorProgramShowsOneBoxPerMessage)
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    const std::filesystem::path ownFolder = std::filesystem::path(std::string(self, static_cast<std::size_t>(n))).parent_path();
    for (const auto& folder : {ownFolder, std::filesystem::current_path()})
        for (const char* name : {"Mistrel.exe", "Mistrel", "mistrel"})
            if (std::filesystem::exists(folder / name))
                GTEST_SKIP() << "a monitor program is reachable from " << folder;
    TempDir empty;
    ScopedEnv path("PATH", empty.Path());
    std::vector<std::string> boxes;
    SetMessageBoxHook([&](const std::string& text) { boxes.push_back(text); });
    SendToMonitor("!1#first");
    SendToMonitor("!2#second");
    SetMessageBoxHook({});
    EXPECT_EQ(boxes, (std::vector<std::string>(2, "Program not found: \"Mistrel.exe\"")));
}

}  // namespace
