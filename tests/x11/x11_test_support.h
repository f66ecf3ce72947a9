// A private X server per test suite and a second client that plays the rest of the desktop:
// it makes foreign windows, types and clicks through XTEST, and reads back what the server shows.
// No Xlib types cross this header, so tests can name the display events freely.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/process.h"

struct _XDisplay;

namespace x11test {

// XTEST and XFixes were found at build time.
bool InputInjectionBuiltIn();

class PrivateServer {
public:
    PrivateServer(int width, int height, int depth);
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    bool Ok() const { return !name_.empty(); }
    const std::string& Name() const { return name_; }
    // Ends the server at once, as a crash would.
    void Kill();
    // Why Ok() is false, for the skip message.
    const std::string& Problem() const { return problem_; }

private:
    TChild server_;
    std::string name_, problem_;
};

struct WindowInfo {
    int rootX = 0, rootY = 0, width = 0, height = 0;
    bool viewable = false, overrideRedirect = false;
    long allEventMasks = 0;  // every client's selection on the window
};

class Client {
public:
    explicit Client(const std::string& display);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Ok() const { return dpy_ != nullptr; }

    int Depth() const;
    std::uint64_t Root() const;
    std::uint64_t CreateWindow(int x, int y, int w, int h);
    void DestroyWindow(std::uint64_t id);
    void Resize(std::uint64_t id, int w, int h);
    bool Info(std::uint64_t id, WindowInfo& out);
    // The top-most mapped child of the root window.
    std::uint64_t TopmostWindow();
    // Someone else holds the grab when ours is refused.
    bool KeyboardGrabbedElsewhere();
    bool PointerGrabbedElsewhere();

    void Key(unsigned long keysym, bool press);
    void Tap(unsigned long keysym) { Key(keysym, true), Key(keysym, false); }
    void MoveTo(int rootX, int rootY);
    void Button(unsigned button, bool press);
    void SendDeleteWindow(std::uint64_t id);
    void Sync();

    // A8R8G8B8 (alpha 0xFF) of a window's rectangle, widened from the visual's layout.
    bool ReadBack(std::uint64_t id, int w, int h, std::vector<std::uint32_t>& argb);
    // Draws X8R8G8B8 pixels onto the root window.
    bool PaintRoot(const std::vector<std::uint32_t>& xrgb, int w, int h);
    // A pixmap of X8R8G8B8 pixels named on the window as xscreensaver names its screenshot; its id.
    std::uint64_t LeaveScreenshot(std::uint64_t window, const std::vector<std::uint32_t>& xrgb, int w, int h);
    // Names any id as the window's screenshot.
    void NameScreenshot(std::uint64_t window, std::uint64_t pixmap);
    // The current cursor image has no visible pixel.
    bool CursorInvisible();
    // Adds a mode to the screen's list; false without RandR 1.2.
    bool AddMode(const std::string& name, int w, int h, unsigned long dotClock, int hTotal, int vTotal);

    // Width of a visual channel, for tolerances on shallow screens.
    int RedBits() const;

private:
    ::_XDisplay* dpy_ = nullptr;
};

// Calls poll until it reports true or the time is up; true when it did.
bool WaitFor(const std::function<bool()>& poll, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

}  // namespace x11test
