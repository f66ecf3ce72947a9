// Shared pieces of the window-layer tests: a scripted display and a clean window layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/display/display.h"
#include "platform/win/window_test_hooks.h"
#include "platform/win/windows.h"

namespace wintest {

using platform::display::Event;
using platform::display::EventKind;
using platform::display::NativeId;

// A display whose input the test scripts and whose calls it can inspect.
class ScriptedDisplay : public platform::display::Backend {
public:
    struct Native {
        int x, y, w, h;
        NativeId parent;
        bool topmost = true, cursorVisible = true;
        std::string title;
    };
    std::deque<Event> events;
    std::map<NativeId, Native> windows;
    NativeId next = 100;
    NativeId foreign = 0x2a00001;  // a window of "another program"
    int presents = 0;

    const char* Name() const override { return "scripted"; }
    void ScreenSize(int& w, int& h) override { w = 800, h = 600; }
    std::vector<platform::display::Mode> Modes() override { return {}; }
    platform::display::Mode DesktopMode() override { return {800, 600, 60, 32}; }
    NativeId CreatePopup(int x, int y, int w, int h, const std::string& title) override
    {
        windows[++next] = {x, y, w, h, 0, true, true, title};
        return next;
    }
    NativeId CreateChild(NativeId parent, int x, int y, int w, int h) override
    {
        if (parent != foreign && !windows.count(parent))
            return 0;
        windows[++next] = {x, y, w, h, parent, true, true, ""};
        return next;
    }
    bool ForeignWindowRect(NativeId id, int& x, int& y, int& w, int& h) override
    {
        if (id == foreign) {
            x = 10, y = 20, w = 152, h = 112;
            return true;
        }
        auto it = windows.find(id);
        if (it == windows.end())
            return false;
        x = it->second.x, y = it->second.y, w = it->second.w, h = it->second.h;
        return true;
    }
    void DestroyWindow(NativeId id) override { windows.erase(id); }
    void SetTitle(NativeId id, const std::string& t) override { windows[id].title = t; }
    void SetTopmost(NativeId id, bool on) override { windows[id].topmost = on; }
    void MoveResize(NativeId id, int x, int y, int w, int h) override
    {
        auto& n = windows[id];
        n.x = x, n.y = y, n.w = w, n.h = h;
    }
    void SetCursorVisible(NativeId id, bool on) override { windows[id].cursorVisible = on; }
    bool Present(NativeId id, const platform::display::Frame&) override { return ++presents, windows.count(id) > 0; }
    bool CaptureDesktop(std::vector<std::uint32_t>&, int&, int&) override { return false; }
    int EventFd() override { return -1; }
    bool NextEvent(Event& out) override
    {
        if (events.empty())
            return false;
        out = events.front();
        events.pop_front();
        return true;
    }
    bool ConnectionLost() override { return false; }
};

// Sets environment variables for one test and restores them afterwards.
class Env {
public:
    void Set(const char* name, const std::string& value)
    {
        Save(name);
        setenv(name, value.c_str(), 1);
    }
    void Unset(const char* name)
    {
        Save(name);
        unsetenv(name);
    }
    ~Env()
    {
        for (auto& [name, value] : saved_)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }

private:
    void Save(const char* name)
    {
        if (saved_.count(name))
            return;
        const char* v = std::getenv(name);
        saved_[name] = v ? std::make_unique<std::string>(v) : nullptr;
    }
    std::map<std::string, std::unique_ptr<std::string>> saved_;
};

class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "halvora-win-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Every test starts with no windows and either the scripted or the offscreen display.
class WindowLayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.Set("HALVORA_DISPLAY", "offscreen");
        env.Set("XDG_RUNTIME_DIR", scratch.path());
        for (const char* v : {"HALVORA_FRAMES", "HALVORA_INPUT", "HALVORA_CAPTURE", "HALVORA_DESKTOP",
                              "HALVORA_SCREEN", "HALVORA_STARTUP_FD"})
            env.Unset(v);
        platform::ResetWindowsForTests();
    }
    void TearDown() override
    {
        platform::ResetWindowsForTests();
        platform::display::SetCurrentForTests(nullptr);
    }
    ScriptedDisplay& UseScripted()
    {
        auto d = std::make_unique<ScriptedDisplay>();
        ScriptedDisplay& ref = *d;
        platform::display::SetCurrentForTests(std::move(d));
        return ref;
    }
    // false when the offscreen display cannot make windows.
    bool UseOffscreen()
    {
        platform::display::offscreen::Reset();
        // A stand-in display that cannot make windows does not count.
        auto& d = platform::display::Current();
        NativeId probe = d.CreatePopup(0, 0, 1, 1, "");
        if (!probe)
            return false;
        d.DestroyWindow(probe);
        return true;
    }

    Env env;
    ScratchDir scratch;
};

// A window procedure that records what it sees; behaviour is set per test.
struct Recorder {
    struct Entry {
        HWND hwnd;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    static inline std::vector<Entry> log;
    static inline LRESULT (*handler)(HWND, UINT, WPARAM, LPARAM) = nullptr;

    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l)
    {
        log.push_back({h, m, w, l});
        if (handler)
            return handler(h, m, w, l);
        return DefWindowProcA(h, m, w, l);
    }
    static void Clear()
    {
        log.clear();
        handler = nullptr;
    }
    static std::vector<UINT> Messages(HWND h)
    {
        std::vector<UINT> out;
        for (auto& e : log)
            if (e.hwnd == h)
                out.push_back(e.message);
        return out;
    }
};

inline void RegisterRecorderClass(const char* name)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = Recorder::Proc;
    wc.lpszClassName = name;
    ASSERT_NE(RegisterClassA(&wc), 0);
}

}  // namespace wintest
