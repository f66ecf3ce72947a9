// Display backends: the native side of windows, input and presenting.
// X11 when a server is in use, offscreen (virtual screen and clock) otherwise.
// Plain C++ only: no X11 or Win32 types cross this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::display {

using NativeId = std::uint64_t;  // an X window id, or an offscreen window number; 0 = none

struct Mode {
  int width = 0, height = 0, refreshHz = 0, bitsPerPixel = 0;
  bool operator==(const Mode&) const = default;
};

enum class EventKind {
  KeyDown,
  KeyUp,
  MouseMove,
  ButtonDown,
  ButtonUp,
  CloseRequest,  // the window manager's close (WM_CLOSE)
  Destroyed,     // our child went away with its foreign parent
  Expose,        // part of the window needs repainting
};

struct Event {
  EventKind kind = EventKind::MouseMove;
  NativeId window = 0;
  // Keys: Win32 virtual key, WM_SYSKEY* instead of WM_KEY*, lParam bits (repeat count,
  // scan code, extended, context, previous state, transition).
  unsigned vk = 0;
  bool sysKey = false;
  std::uint32_t keyLParam = 0;
  unsigned charCode = 0;  // the Latin-1 character the key types with the current modifiers, 0 none
  // Pointer: client coordinates (also filled for button events).
  int x = 0, y = 0;
  int button = 0;  // 0 left, 1 right, 2 middle
};

// X8R8G8B8, top-down; pitchBytes may exceed width * 4.
// Which runs of a frame are as they were in the one its source presented before: a backend
// that still holds that frame may copy only the rest. Flag (flags[row * perRow + run] & bit)
// set means run pixels run * runPixels .. + runPixels - 1 of that row are unchanged.
struct UnchangedRuns {
  const std::uint8_t* flags = nullptr;
  int runPixels = 0, perRow = 0;
  std::uint8_t bit = 0;
  const void* source = nullptr;  // who presents: frames of one source follow each other
  std::uint64_t sequence = 0;    // this frame's number; the one it compares with is sequence - 1
};

struct Frame {
  const std::uint32_t* pixels = nullptr;
  int width = 0, height = 0, pitchBytes = 0;
  const UnchangedRuns* unchanged = nullptr;  // optional
};

// Pixel memory the server reads directly (X11 shared memory): frames presented from inside
// it need no copy. Freed with the object, whether or not its backend still exists.
class SharedPixels {
public:
  virtual ~SharedPixels() = default;
  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

protected:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

class Backend {
public:
  virtual ~Backend() = default;
  virtual const char* Name() const = 0;  // "x11" or "offscreen"
  virtual void ScreenSize(int& w, int& h) = 0;
  // Every mode with its refresh rate, in 32 and 16 bits, sorted by size, then depth, then rate.
  virtual std::vector<Mode> Modes() = 0;
  virtual Mode DesktopMode() = 0;

  // A borderless window above all others at (x, y); shown at once, holding the keyboard
  // and pointer grab while mapped. 0 on failure.
  virtual NativeId CreatePopup(int x, int y, int w, int h, const std::string& title) = 0;
  // A window inside a foreign window (x, y relative to it); selects no input and
  // reports Destroyed when the parent goes away. 0 on failure (bad parent).
  virtual NativeId CreateChild(NativeId foreignParent, int x, int y, int w, int h) = 0;
  // Size of any window and its position relative to its parent; false for a bad id.
  virtual bool ForeignWindowRect(NativeId foreign, int& x, int& y, int& w, int& h) = 0;
  // The window that is the whole screen (X11's root, the offscreen virtual screen), usable
  // as CreateChild's parent; 0 when the backend has none.
  virtual NativeId ScreenWindow() { return 0; }
  virtual void DestroyWindow(NativeId) = 0;
  virtual void SetTitle(NativeId, const std::string&) = 0;
  virtual void SetTopmost(NativeId, bool) = 0;
  virtual void MoveResize(NativeId, int x, int y, int w, int h) = 0;
  virtual void SetCursorVisible(NativeId, bool) = 0;
  // Copies the frame to the window's top-left corner, clipped to the window.
  virtual bool Present(NativeId, const Frame&) = 0;
  // Zero-filled memory that frames may be presented from without a copy; nullptr when the
  // backend has none to give, and ordinary memory serves.
  virtual std::unique_ptr<SharedPixels> AllocateSharedPixels(std::size_t bytes) {
    (void)bytes;
    return nullptr;
  }
  // What the screen shows, A8R8G8B8 top-down (alpha 0xFF).
  virtual bool CaptureDesktop(std::vector<std::uint32_t>& pixels, int& w, int& h) = 0;
  // What the screen showed where a window is, at the window's size: the picture of the desktop
  // its program saved on it before covering the screen (xscreensaver's screenshot), else the
  // screen under it. Parts beyond the screen are black. False for a bad window.
  virtual bool CaptureWindow(NativeId window, std::vector<std::uint32_t>& pixels, int& w, int& h);

  virtual int EventFd() = 0;                // for poll(); -1 when there is none
  virtual bool NextEvent(Event& out) = 0;   // non-blocking
  virtual bool ConnectionLost() = 0;        // the X server went away
};

// The W x H part of a Sw x Sh picture whose top-left corner is at (X, Y) in it; black where
// the part lies beyond the picture.
void CutOut(const std::uint32_t* source, int sw, int sh, int x, int y, int w, int h,
            std::vector<std::uint32_t>& out);

// Chosen once: HALVORA_DISPLAY=x11|offscreen, else X11 if $DISPLAY answers, else offscreen.
// If X11 is requested but cannot be opened, offscreen is used (with a message on stderr).
Backend& Current();
// Tests install their own backend (nullptr: choose again on the next Current()).
void SetCurrentForTests(std::unique_ptr<Backend>);

// Factories. The offscreen one reads the HALVORA_* variables at construction time and
// turns the platform clock virtual. CreateX11 returns nullptr when the display cannot be
// opened (displayName nullptr = $DISPLAY).
std::unique_ptr<Backend> CreateOffscreen();
std::unique_ptr<Backend> CreateX11(const char* displayName = nullptr);

// Offscreen test interface. Each call acts on Current() and does nothing (false / 0) when
// Current() is not the offscreen backend.
namespace offscreen {
struct PresentedFrame {
  NativeId window = 0;
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // X8R8G8B8, top-down, width * height
};
bool LastFrame(PresentedFrame& out);     // false when nothing was presented yet
std::uint64_t PresentedFrames();
// Installs a fresh offscreen backend as Current(), re-reading the environment.
void Reset();
// A stand-in for a window of another process, usable as CreateChild's parent.
NativeId CreateForeignWindow(int x, int y, int w, int h);
// Destroys it; every child created in it gets a Destroyed event.
void DestroyForeignWindow(NativeId);
// Windows currently alive (popups and children), for tests of window lifetime.
std::size_t LiveWindows();
}  // namespace offscreen

}  // namespace platform::display
