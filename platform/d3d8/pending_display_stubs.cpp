// Weak stand-ins for the display backend's selection functions, so that the device links and
// reports a plausible adapter before the display layer exists. The display layer's own
// definitions replace these; this file goes once they are in.
#include "platform/display/display.h"

#define HALVORA_WEAK __attribute__((weak))

namespace platform::display {

namespace {

class PendingDisplay final : public Backend {
public:
    const char* Name() const override { return "offscreen"; }
    void ScreenSize(int& w, int& h) override { w = 1024, h = 768; }
    std::vector<Mode> Modes() override
    {
        return {{640, 480, 60, 16}, {640, 480, 60, 32}, {800, 600, 60, 16},
                {800, 600, 60, 32}, {1024, 768, 60, 16}, {1024, 768, 60, 32}};
    }
    Mode DesktopMode() override { return {1024, 768, 60, 32}; }
    NativeId CreatePopup(int, int, int, int, const std::string&) override { return 0; }
    NativeId CreateChild(NativeId, int, int, int, int) override { return 0; }
    bool ForeignWindowRect(NativeId, int&, int&, int&, int&) override { return false; }
    void DestroyWindow(NativeId) override {}
    void SetTitle(NativeId, const std::string&) override {}
    void SetTopmost(NativeId, bool) override {}
    void MoveResize(NativeId, int, int, int, int) override {}
    void SetCursorVisible(NativeId, bool) override {}
    bool Present(NativeId, const Frame&) override { return false; }
    bool CaptureDesktop(std::vector<std::uint32_t>&, int&, int&) override { return false; }
    int EventFd() override { return -1; }
    bool NextEvent(Event&) override { return false; }
    bool ConnectionLost() override { return false; }
};

std::unique_ptr<Backend>& Installed()
{
    static std::unique_ptr<Backend> backend;
    return backend;
}

}  // namespace

HALVORA_WEAK Backend& Current()
{
    if (!Installed())
        Installed() = std::make_unique<PendingDisplay>();
    return *Installed();
}

HALVORA_WEAK void SetCurrentForTests(std::unique_ptr<Backend> backend) { Installed() = std::move(backend); }

}  // namespace platform::display
