// The offscreen backend: a virtual screen, a virtual clock, scripted input and captured frames.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/display/display.h"
#include "platform/display/frame_copy.h"
#include "platform/display/picture.h"

namespace platform::display {

struct ScriptedInput {
  std::uint64_t frame = 0;  // delivered before this frame (frames count from 1)
  enum class Kind { Key, Move, LeftDown, LeftUp, RightDown, RightUp } kind = Kind::Key;
  unsigned vk = 0;
  int x = 0, y = 0;
};

struct OffscreenConfig {
  int screenWidth = 1024, screenHeight = 768;
  std::optional<std::uint64_t> frames;       // close after this many presented frames
  std::vector<ScriptedInput> input;          // in delivery order
  std::string captureDir;                    // empty: no capture
  std::uint64_t captureEvery = 60;
  std::string desktopFile;                   // empty: generated picture
};

// Reads HALVORA_SCREEN, _FRAMES, _INPUT, _CAPTURE, _CAPTURE_EVERY and _DESKTOP. A malformed
// value (or input item) is reported on standard error and ignored.
OffscreenConfig ReadOffscreenConfig();
// The scripted input syntax, for the parser's own use and tests; bad items are reported.
std::vector<ScriptedInput> ParseScriptedInput(const std::string& text);

class OffscreenBackend final : public Backend {
public:
  explicit OffscreenBackend(OffscreenConfig config);
  ~OffscreenBackend() override;

  const char* Name() const override { return "offscreen"; }
  void ScreenSize(int& w, int& h) override;
  std::vector<Mode> Modes() override;
  Mode DesktopMode() override;
  NativeId CreatePopup(int x, int y, int w, int h, const std::string& title) override;
  NativeId CreateChild(NativeId foreignParent, int x, int y, int w, int h) override;
  bool ForeignWindowRect(NativeId foreign, int& x, int& y, int& w, int& h) override;
  NativeId ScreenWindow() override;
  void DestroyWindow(NativeId) override;
  void SetTitle(NativeId, const std::string&) override;
  void SetTopmost(NativeId, bool) override {}
  void MoveResize(NativeId, int x, int y, int w, int h) override;
  void SetCursorVisible(NativeId, bool) override;
  bool Present(NativeId, const Frame&) override;
  bool CaptureDesktop(std::vector<std::uint32_t>& pixels, int& w, int& h) override;
  int EventFd() override { return -1; }
  bool NextEvent(Event& out) override;
  bool ConnectionLost() override { return false; }

  // Test interface.
  bool LastFrame(offscreen::PresentedFrame& out) const;
  std::uint64_t PresentedFrames() const { return presented_; }
  NativeId CreateForeignWindow(int x, int y, int w, int h);
  void DestroyForeignWindow(NativeId);
  std::size_t LiveWindows() const;
  bool CursorVisible(NativeId) const;

private:
  enum class WindowKind { Popup, Child, Foreign };
  struct Window {
    WindowKind kind;
    NativeId parent = 0;
    int x = 0, y = 0, w = 0, h = 0;
    std::string title;
    bool cursorVisible = true;
  };

  NativeId AddWindow(Window window);
  void RemoveWithChildren(NativeId id, std::vector<NativeId>& removed);
  void ReleaseScriptedInput();
  void QueueScripted(const ScriptedInput& item, NativeId target);
  NativeId InputTarget() const;
  void Capture(std::uint64_t frameNumber);
  void CaptureLastIfPending();

  OffscreenConfig config_;
  std::map<NativeId, Window> windows_;
  NativeId nextId_ = 1;
  NativeId root_ = 0;  // the virtual screen as a window, made when first asked for
  std::deque<Event> events_;
  std::size_t nextInput_ = 0;
  int pointerX_ = 0, pointerY_ = 0;
  std::uint64_t presented_ = 0;
  std::uint64_t lastCaptured_ = 0;
  bool closeSent_ = false;
  bool captureFailed_ = false;
  offscreen::PresentedFrame last_;
  HeldFrame held_;  // what last_ holds
  bool desktopReported_ = false;  // a bad HALVORA_DESKTOP is reported once
};

}  // namespace platform::display
