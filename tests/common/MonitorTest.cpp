#include "common/uMonitor.h"

#include "platform/win/windows.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

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

struct TRecord {
    unsigned long Data = 99, Size = 0;
    std::string Bytes;
};
std::vector<TRecord> OwnMonitorRecords;

LRESULT CALLBACK OwnMonitor(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg != WM_COPYDATA)
        return DefWindowProcA(h, msg, wParam, lParam);
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    OwnMonitorRecords.push_back({static_cast<unsigned long>(cds->dwData), static_cast<unsigned long>(cds->cbData),
                                 std::string(static_cast<const char*>(cds->lpData), cds->cbData)});
    return TRUE;
}

// "dwData cbData hex" as the probe monitor writes it.
TRecord ParseProbeLine(const std::string& line)
{
    TRecord r;
    char hex[1024] = {};
    if (std::sscanf(line.c_str(), "%lu %lu %1023s", &r.Data, &r.Size, hex) >= 2)
        for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2)
            r.Bytes += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    return r;
}

// The monitor gets dwData 0 and the text with its NUL, cbData counting the NUL: whether its
// window is there at once, or only once its program has been started.
TEST(SendToMonitor, TheRecordCarriesTheTextAndItsNul)
{
    const std::string text = "!4711#TGroup.RestoreDeviceObjects: CreateLights failed";
    TempDir dir;
    std::filesystem::create_directory(dir.File("run"));
    std::filesystem::permissions(dir.File("run"), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.File("run"));
    ScopedEnv path("PATH", std::string(HALVORA_BINARY_DIR) + "/tests/monitor_probe");
    ScopedEnv probeOut("MONITOR_PROBE_OUT", dir.File("probe.txt"));
    std::vector<std::string> boxes;
    SetMessageBoxHook([&](const std::string& box) { boxes.push_back(box); });
    for (const bool atOnce : {true, false}) {
        SCOPED_TRACE(atOnce ? "found at once" : "found after starting it");
        TRecord got;
        if (atOnce) {
            WNDCLASSA wc{};
            wc.lpfnWndProc = OwnMonitor;
            wc.lpszClassName = "TMistrelForm";
            RegisterClassA(&wc);
            HWND monitor = CreateWindowExA(0, "TMistrelForm", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
            ASSERT_NE(monitor, nullptr);
            OwnMonitorRecords.clear();
            SendToMonitor(text);
            DestroyWindow(monitor);
            UnregisterClassA("TMistrelForm", nullptr);
            ASSERT_EQ(OwnMonitorRecords.size(), 1u);
            got = OwnMonitorRecords[0];
        } else {
            SendToMonitor(text);
            std::string line;
            for (int i = 0; i < 100 && line.find('\n') == std::string::npos; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                line = testsupport::ReadBytes(dir.File("probe.txt"));
            }
            got = ParseProbeLine(line);
        }
        EXPECT_EQ(got.Data, 0u);
        EXPECT_EQ(got.Size, text.size() + 1);
        EXPECT_EQ(got.Bytes, text + std::string(1, '\0'));
    }
    SetMessageBoxHook({});
    EXPECT_TRUE(boxes.empty()) << boxes.front();
}

}  // namespace
