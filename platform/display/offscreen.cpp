#include "platform/display/offscreen.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/display/frame_copy.h"
#include "platform/display/keymap.h"
#include "platform/win/clock.h"

namespace platform::display {
namespace {

constexpr int kMaxScreenSide = 16384;

void ReportMalformed(const char* name, const std::string& value, const std::string& why) {
  std::fprintf(stderr, "halvora: ignoring %s=\"%s\": %s\n", name, value.c_str(), why.c_str());
}

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

template <typename T>
bool ParseInteger(std::string_view text, T& out, int base = 10) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
  return ec == std::errc() && ptr == end;
}

// Decimal, or hexadecimal after 0x.
bool ParseCode(std::string_view text, unsigned& out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return ParseInteger(text.substr(2), out, 16);
  return ParseInteger(text, out);
}

bool ParseScreen(const std::string& text, int& w, int& h) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  int pw = 0, ph = 0;
  if (!ParseInteger(std::string_view(text).substr(0, x), pw) ||
      !ParseInteger(std::string_view(text).substr(x + 1), ph))
    return false;
  if (pw < 1 || ph < 1 || pw > kMaxScreenSide || ph > kMaxScreenSide) return false;
  w = pw;
  h = ph;
  return true;
}

std::optional<ScriptedInput> ParseInputItem(const std::string& item, std::string& why) {
  const auto colon = item.find(':');
  ScriptedInput result;
  if (colon == std::string::npos || !ParseInteger(Trim(item.substr(0, colon)), result.frame)) {
    why = "expected FRAME:EVENT";
    return std::nullopt;
  }
  const std::string event = Trim(item.substr(colon + 1));
  using Kind = ScriptedInput::Kind;
  static const std::pair<const char*, Kind> kButtons[] = {
      {"ldown", Kind::LeftDown}, {"lup", Kind::LeftUp}, {"rdown", Kind::RightDown}, {"rup", Kind::RightUp}};
  for (const auto& [name, kind] : kButtons) {
    if (event == name) {
      result.kind = kind;
      return result;
    }
  }
  if (event.rfind("key=", 0) == 0) {
    result.kind = Kind::Key;
    if (!ParseCode(event.substr(4), result.vk) || result.vk < 1 || result.vk > 254) {
      why = "a virtual key is 1..254, decimal or 0x hex";
      return std::nullopt;
    }
    return result;
  }
  if (event.rfind("move=", 0) == 0) {
    result.kind = Kind::Move;
    const std::string coords = event.substr(5);
    const auto semicolon = coords.find(';');
    if (semicolon == std::string::npos ||
        !ParseInteger(std::string_view(coords).substr(0, semicolon), result.x) ||
        !ParseInteger(std::string_view(coords).substr(semicolon + 1), result.y) ||
        std::abs(result.x) > 32767 || std::abs(result.y) > 32767) {
      why = "expected move=X;Y";
      return std::nullopt;
    }
    return result;
  }
  why = "unknown event (key=VK, move=X;Y, ldown, lup, rdown, rup)";
  return std::nullopt;
}

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<Mode> CommonModes() {
  struct Size {
    int w, h;
    std::initializer_list<int> rates;
  };
  static const Size kSizes[] = {
      {640, 480, {60, 75, 85}},  {800, 600, {60, 75, 85}},   {1024, 768, {60, 75, 85}},
      {1152, 864, {60, 75}},     {1280, 720, {60}},          {1280, 960, {60, 85}},
      {1280, 1024, {60, 75, 85}}, {1366, 768, {60}},         {1440, 900, {60, 75}},
      {1600, 900, {60}},         {1600, 1200, {60, 75}},     {1680, 1050, {60}},
      {1920, 1080, {60}},        {1920, 1200, {60}},         {2560, 1440, {60}},
      {2560, 1600, {60}},        {3840, 2160, {60}},
  };
  std::vector<Mode> modes;
  for (const Size& s : kSizes)
    for (int rate : s.rates)
      for (int bits : {16, 32}) modes.push_back({s.w, s.h, rate, bits});
  return modes;
}

bool ModeOrder(const Mode& a, const Mode& b) {
  return std::tie(a.width, a.height, a.bitsPerPixel, a.refreshHz) <
         std::tie(b.width, b.height, b.bitsPerPixel, b.refreshHz);
}

}  // namespace

std::vector<ScriptedInput> ParseScriptedInput(const std::string& text) {
  std::vector<ScriptedInput> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto comma = std::min(text.find(',', start), text.size());
    const std::string item = Trim(std::string_view(text).substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    std::string why;
    if (auto parsed = ParseInputItem(item, why))
      items.push_back(*parsed);
    else
      ReportMalformed("HALVORA_INPUT item", item, why);
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const ScriptedInput& a, const ScriptedInput& b) { return a.frame < b.frame; });
  return items;
}

OffscreenConfig ReadOffscreenConfig() {
  OffscreenConfig config;
  if (const std::string screen = Getenv("HALVORA_SCREEN"); !screen.empty() &&
      !ParseScreen(screen, config.screenWidth, config.screenHeight))
    ReportMalformed("HALVORA_SCREEN", screen, "expected WIDTHxHEIGHT (1.." +
                    std::to_string(kMaxScreenSide) + " each); using 1024x768");
  if (const std::string frames = Getenv("HALVORA_FRAMES"); !frames.empty()) {
    std::uint64_t n = 0;
    if (ParseInteger(frames, n) && n > 0)
      config.frames = n;
    else
      ReportMalformed("HALVORA_FRAMES", frames, "expected a positive frame count");
  }
  if (const std::string every = Getenv("HALVORA_CAPTURE_EVERY"); !every.empty()) {
    std::uint64_t n = 0;
    if (ParseInteger(every, n) && n > 0)
      config.captureEvery = n;
    else
      ReportMalformed("HALVORA_CAPTURE_EVERY", every, "expected a positive frame count; using 60");
  }
  config.input = ParseScriptedInput(Getenv("HALVORA_INPUT"));
  config.captureDir = Getenv("HALVORA_CAPTURE");
  config.desktopFile = Getenv("HALVORA_DESKTOP");
  return config;
}

OffscreenBackend::OffscreenBackend(OffscreenConfig config) : config_(std::move(config)) {
  platform::SetVirtualClock(true);
}

OffscreenBackend::~OffscreenBackend() { CaptureLastIfPending(); }

void OffscreenBackend::ScreenSize(int& w, int& h) {
  w = config_.screenWidth;
  h = config_.screenHeight;
}

std::vector<Mode> OffscreenBackend::Modes() {
  std::vector<Mode> modes;
  for (const Mode& m : CommonModes())
    if (m.width <= config_.screenWidth && m.height <= config_.screenHeight) modes.push_back(m);
  const Mode desktop = DesktopMode();
  for (int bits : {16, 32}) {
    Mode m = desktop;
    m.bitsPerPixel = bits;
    if (std::find(modes.begin(), modes.end(), m) == modes.end()) modes.push_back(m);
  }
  std::sort(modes.begin(), modes.end(), ModeOrder);
  return modes;
}

Mode OffscreenBackend::DesktopMode() { return {config_.screenWidth, config_.screenHeight, 60, 32}; }

NativeId OffscreenBackend::AddWindow(Window window) {
  const NativeId id = nextId_++;
  windows_.emplace(id, std::move(window));
  return id;
}

NativeId OffscreenBackend::CreatePopup(int x, int y, int w, int h, const std::string& title) {
  if (w <= 0 || h <= 0 || w > kMaxScreenSide || h > kMaxScreenSide) return 0;
  return AddWindow({WindowKind::Popup, 0, x, y, w, h, title});
}

NativeId OffscreenBackend::CreateChild(NativeId foreignParent, int x, int y, int w, int h) {
  if (!windows_.count(foreignParent) || w <= 0 || h <= 0 || w > kMaxScreenSide || h > kMaxScreenSide)
    return 0;
  return AddWindow({WindowKind::Child, foreignParent, x, y, w, h, {}});
}

bool OffscreenBackend::ForeignWindowRect(NativeId id, int& x, int& y, int& w, int& h) {
  const auto it = windows_.find(id);
  if (it == windows_.end()) return false;
  x = it->second.x;
  y = it->second.y;
  w = it->second.w;
  h = it->second.h;
  return true;
}

NativeId OffscreenBackend::ScreenWindow() {
  if (!windows_.count(root_))
    root_ = AddWindow({WindowKind::Foreign, 0, 0, 0, config_.screenWidth, config_.screenHeight, {}});
  return root_;
}

void OffscreenBackend::RemoveWithChildren(NativeId id, std::vector<NativeId>& removed) {
  std::vector<NativeId> children;
  for (const auto& [childId, window] : windows_)
    if (window.parent == id) children.push_back(childId);
  for (NativeId child : children) RemoveWithChildren(child, removed);
  if (windows_.erase(id)) removed.push_back(id);
}

void OffscreenBackend::DestroyWindow(NativeId id) {
  const auto it = windows_.find(id);
  if (it == windows_.end() || it->second.kind == WindowKind::Foreign) return;
  std::vector<NativeId> removed;
  RemoveWithChildren(id, removed);
  // Nothing is reported for windows their owner destroyed.
  std::erase_if(events_, [&](const Event& e) {
    return std::find(removed.begin(), removed.end(), e.window) != removed.end();
  });
}

void OffscreenBackend::SetTitle(NativeId id, const std::string& title) {
  if (auto it = windows_.find(id); it != windows_.end()) it->second.title = title;
}

void OffscreenBackend::MoveResize(NativeId id, int x, int y, int w, int h) {
  const auto it = windows_.find(id);
  if (it == windows_.end() || w <= 0 || h <= 0 || w > kMaxScreenSide || h > kMaxScreenSide) return;
  it->second.x = x;
  it->second.y = y;
  it->second.w = w;
  it->second.h = h;
}

void OffscreenBackend::SetCursorVisible(NativeId id, bool visible) {
  if (auto it = windows_.find(id); it != windows_.end()) it->second.cursorVisible = visible;
}

bool OffscreenBackend::CursorVisible(NativeId id) const {
  const auto it = windows_.find(id);
  return it == windows_.end() || it->second.cursorVisible;
}

bool OffscreenBackend::Present(NativeId id, const Frame& frame) {
  const auto it = windows_.find(id);
  if (it == windows_.end() || it->second.kind == WindowKind::Foreign) return false;
  if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.pitchBytes < frame.width * 4)
    return false;
  // The screen keeps what did not change since the window's last frame.
  const UnchangedRuns* same = id == last_.window ? ReusableRuns(held_, frame, frame.width, frame.height) : nullptr;
  held_.Forget();
  last_.window = id;
  last_.width = frame.width;
  last_.height = frame.height;
  last_.pixels.resize(std::size_t(frame.width) * frame.height);
  CopyFrame(frame, frame.width, frame.height, reinterpret_cast<char*>(last_.pixels.data()),
            std::size_t(frame.width) * 4, same);
  held_.Took(frame, frame.width, frame.height);
  ++presented_;
  if (presented_ % config_.captureEvery == 0) Capture(presented_);
  if (config_.frames && presented_ >= *config_.frames && !closeSent_) {
    closeSent_ = true;
    // The program's own windows: its popups, and what it drew into the screen itself.
    for (const auto& [windowId, window] : windows_)
      if (window.kind == WindowKind::Popup || (window.kind == WindowKind::Child && window.parent == root_ && root_))
        events_.push_back({.kind = EventKind::CloseRequest, .window = windowId});
    CaptureLastIfPending();
  }
  return true;
}

void OffscreenBackend::Capture(std::uint64_t frameNumber) {
  if (config_.captureDir.empty() || captureFailed_ || last_.pixels.empty()) return;
  lastCaptured_ = frameNumber;
  std::error_code ec;
  std::filesystem::create_directories(config_.captureDir, ec);
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06llu.png", static_cast<unsigned long long>(frameNumber));
  const std::string path = (std::filesystem::path(config_.captureDir) / name).string();
  std::string error;
  if (!picture::WritePng(path, last_.pixels.data(), last_.width, last_.height, last_.width * 4, error)) {
    std::fprintf(stderr, "halvora: frame capture to %s failed: %s; capturing stops\n", path.c_str(),
                 error.c_str());
    captureFailed_ = true;
  }
}

void OffscreenBackend::CaptureLastIfPending() {
  if (presented_ > 0 && lastCaptured_ != presented_) Capture(presented_);
}

// Made afresh for each capture: a run captures once, and a screen-sized picture kept for the
// whole run would only hold memory.
bool OffscreenBackend::CaptureDesktop(std::vector<std::uint32_t>& pixels, int& w, int& h) {
  picture::Image image;
  std::string error;
  if (!config_.desktopFile.empty()) {
    if (picture::ReadPicture(config_.desktopFile, image, error))
      image = picture::Cover(image, config_.screenWidth, config_.screenHeight);
    else if (!desktopReported_)
      std::fprintf(stderr, "halvora: desktop picture %s: %s; using a generated one\n", config_.desktopFile.c_str(),
                   error.c_str());
    desktopReported_ = true;
  }
  if (image.pixels.empty()) image = picture::GenerateDesktop(config_.screenWidth, config_.screenHeight);
  for (std::uint32_t& p : image.pixels) p |= 0xFF000000u;
  pixels = std::move(image.pixels);
  w = image.width;
  h = image.height;
  return true;
}

NativeId OffscreenBackend::InputTarget() const {
  NativeId target = 0;
  for (const auto& [id, window] : windows_) {
    if (window.kind == WindowKind::Popup) target = id;  // the newest popup has the focus
  }
  if (target) return target;
  for (const auto& [id, window] : windows_)
    if (window.kind == WindowKind::Child) target = id;
  return target;
}

void OffscreenBackend::QueueScripted(const ScriptedInput& item, NativeId target) {
  using Kind = ScriptedInput::Kind;
  Event e{.window = target, .x = pointerX_, .y = pointerY_};
  switch (item.kind) {
    case Kind::Key: {
      const keymap::ScanCode scan = keymap::ScanCodeOf(item.vk);
      keymap::KeyState state{.scan = scan.code, .extended = scan.extended};
      e.vk = item.vk;
      e.sysKey = keymap::IsSysKey(item.vk, false);
      state.altDown = item.vk == 0x12;  // Alt's own press reports Alt down
      e.kind = EventKind::KeyDown;
      e.keyLParam = keymap::KeyLParam(state);
      e.charCode = keymap::CharOf(item.vk);
      events_.push_back(e);
      state.altDown = false;
      state.release = true;
      e.kind = EventKind::KeyUp;
      e.keyLParam = keymap::KeyLParam(state);
      e.charCode = 0;
      events_.push_back(e);
      return;
    }
    case Kind::Move:
      pointerX_ = e.x = item.x;
      pointerY_ = e.y = item.y;
      e.kind = EventKind::MouseMove;
      break;
    case Kind::LeftDown: e.kind = EventKind::ButtonDown; e.button = 0; break;
    case Kind::LeftUp: e.kind = EventKind::ButtonUp; e.button = 0; break;
    case Kind::RightDown: e.kind = EventKind::ButtonDown; e.button = 1; break;
    case Kind::RightUp: e.kind = EventKind::ButtonUp; e.button = 1; break;
  }
  events_.push_back(e);
}

void OffscreenBackend::ReleaseScriptedInput() {
  while (nextInput_ < config_.input.size() && config_.input[nextInput_].frame <= presented_ + 1) {
    const NativeId target = InputTarget();
    if (!target) return;  // kept until a window can receive it
    QueueScripted(config_.input[nextInput_++], target);
  }
}

bool OffscreenBackend::NextEvent(Event& out) {
  ReleaseScriptedInput();
  if (events_.empty()) return false;
  out = events_.front();
  events_.pop_front();
  return true;
}

bool OffscreenBackend::LastFrame(offscreen::PresentedFrame& out) const {
  if (presented_ == 0) return false;
  out = last_;
  return true;
}

NativeId OffscreenBackend::CreateForeignWindow(int x, int y, int w, int h) {
  return AddWindow({WindowKind::Foreign, 0, x, y, std::max(w, 1), std::max(h, 1), {}});
}

void OffscreenBackend::DestroyForeignWindow(NativeId id) {
  const auto it = windows_.find(id);
  if (it == windows_.end() || it->second.kind != WindowKind::Foreign) return;
  std::vector<NativeId> removed;
  RemoveWithChildren(id, removed);
  for (NativeId gone : removed)
    if (gone != id) events_.push_back({.kind = EventKind::Destroyed, .window = gone});
}

std::size_t OffscreenBackend::LiveWindows() const {
  return std::count_if(windows_.begin(), windows_.end(),
                       [](const auto& entry) { return entry.second.kind != WindowKind::Foreign; });
}

}  // namespace platform::display
