#pragma once
// Shared by the scene and render tests: captured error reports, a private data folder and
// a screen geometry of a chosen size.

#include "app/uC.h"
#include "app/uRunState.h"
#include "common/uMonitor.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace scenetest {

// Error reports reach the debug channel; the hook keeps them here instead. The data folder
// (and with it the log) is a fresh temporary folder.
class ReportCapture {
public:
    ReportCapture()
    {
        char pattern[] = "/tmp/halvora-scene-XXXXXX";
        const char* dir = mkdtemp(pattern);
        Dir = dir ? dir : "/tmp";
        SavedDataDir = DataDir;
        DataDir = Dir;
        SetMonitorHook([this](const std::string& m) {
            // Channel messages carry a "!tag#" prefix before the text.
            const std::size_t hash = m.find('#');
            Messages.push_back(m[0] == '!' && hash != std::string::npos ? m.substr(hash + 1) : m);
        });
    }
    ~ReportCapture()
    {
        SetMonitorHook({});
        DataDir = SavedDataDir;
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    bool Saw(const std::string& text) const
    {
        for (const std::string& m : Messages)
            if (m == text)
                return true;
        return false;
    }
    int Count(const std::string& text) const
    {
        int n = 0;
        for (const std::string& m : Messages)
            n += m == text;
        return n;
    }

    std::vector<std::string> Messages;
    std::string Dir;

private:
    std::string SavedDataDir;
};

inline void UseScreen(int32_t width, int32_t height)
{
    Options.Width = width;
    Options.Height = height;
    SetupScreenGeometry();
}

}  // namespace scenetest
