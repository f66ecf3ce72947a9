#include "platform/display/display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/display/offscreen.h"

namespace platform::display {
namespace {

std::unique_ptr<Backend>& Installed() {
  static std::unique_ptr<Backend> backend;
  return backend;
}

std::unique_ptr<Backend> Choose() {
  const char* requested = std::getenv("HALVORA_DISPLAY");
  const std::string choice = requested ? requested : "";
  if (choice == "offscreen") return CreateOffscreen();
  if (choice == "x11") {
    if (auto x11 = CreateX11()) return x11;
    std::fprintf(stderr, "halvora: cannot open the X display \"%s\"; using the offscreen display\n",
                 std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    return CreateOffscreen();
  }
  if (!choice.empty())
    std::fprintf(stderr, "halvora: ignoring HALVORA_DISPLAY=\"%s\": expected x11 or offscreen\n",
                 choice.c_str());
  const char* display = std::getenv("DISPLAY");
  if (display && *display) {
    if (auto x11 = CreateX11()) return x11;
  }
  return CreateOffscreen();
}

OffscreenBackend* CurrentOffscreen() { return dynamic_cast<OffscreenBackend*>(&Current()); }

}  // namespace

// Windows keep no pictures of their own here: the screen under the window.
bool Backend::CaptureWindow(NativeId window, std::vector<std::uint32_t>& pixels, int& w, int& h) {
  int x = 0, y = 0;
  if (window == ScreenWindow()) return window && CaptureDesktop(pixels, w, h);
  std::vector<std::uint32_t> screen;
  int sw = 0, sh = 0;
  if (!ForeignWindowRect(window, x, y, w, h) || w <= 0 || h <= 0 || !CaptureDesktop(screen, sw, sh)) return false;
  CutOut(screen.data(), sw, sh, x, y, w, h, pixels);
  return true;
}

void CutOut(const std::uint32_t* source, int sw, int sh, int x, int y, int w, int h,
            std::vector<std::uint32_t>& out) {
  out.assign(std::size_t(w) * h, 0xFF000000u);
  const int left = std::max(0, -x), right = std::min(w, sw - x);
  for (int row = std::max(0, -y); row < h && y + row < sh; ++row)
    if (left < right)
      std::memcpy(&out[std::size_t(row) * w + left], source + std::size_t(y + row) * sw + x + left,
                  std::size_t(right - left) * 4);
}

Backend& Current() {
  auto& backend = Installed();
  if (!backend) backend = Choose();
  return *backend;
}

void SetCurrentForTests(std::unique_ptr<Backend> backend) {
  Installed().reset();  // the old backend goes first: it may hold process-wide state
  Installed() = std::move(backend);
}

std::unique_ptr<Backend> CreateOffscreen() {
  return std::make_unique<OffscreenBackend>(ReadOffscreenConfig());
}

namespace offscreen {

bool LastFrame(PresentedFrame& out) {
  auto* backend = CurrentOffscreen();
  return backend && backend->LastFrame(out);
}

std::uint64_t PresentedFrames() {
  auto* backend = CurrentOffscreen();
  return backend ? backend->PresentedFrames() : 0;
}

void Reset() {
  Installed().reset();
  Installed() = CreateOffscreen();
}

NativeId CreateForeignWindow(int x, int y, int w, int h) {
  auto* backend = CurrentOffscreen();
  return backend ? backend->CreateForeignWindow(x, y, w, h) : 0;
}

void DestroyForeignWindow(NativeId id) {
  if (auto* backend = CurrentOffscreen()) backend->DestroyForeignWindow(id);
}

std::size_t LiveWindows() {
  auto* backend = CurrentOffscreen();
  return backend ? backend->LiveWindows() : 0;
}

}  // namespace offscreen
}  // namespace platform::display
