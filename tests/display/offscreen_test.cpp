#include <gtest/gtest.h>

#include <fstream>

#include "platform/display/display.h"
#include "platform/display/offscreen.h"
#include "platform/display/picture.h"
#include "tests/display/display_test_util.h"

namespace platform::display {
namespace {

using display_test::CleanEnvironment;
using display_test::ScratchDir;

struct EnvCase {
  const char* name;
  const char* value;
  bool malformed;
};

class OffscreenTest : public ::testing::Test {
protected:
  void TearDown() override { SetCurrentForTests(nullptr); }

  // Installs a fresh backend from the environment and returns it.
  OffscreenBackend& Start() {
    offscreen::Reset();
    return dynamic_cast<OffscreenBackend&>(Current());
  }

  static bool PresentSolid(Backend& backend, NativeId window, std::uint32_t color, int w = 4, int h = 3) {
    std::vector<std::uint32_t> pixels(std::size_t(w) * h, color);
    return backend.Present(window, {pixels.data(), w, h, w * 4});
  }

  static std::vector<Event> Drain(Backend& backend) {
    std::vector<Event> events;
    Event e;
    while (backend.NextEvent(e)) events.push_back(e);
    return events;
  }

  CleanEnvironment env_;
};

TEST_F(OffscreenTest, MalformedValuesAreReportedAndIgnored) {
  const EnvCase cases[] = {
      {"HALVORA_SCREEN", "800x600", false},  {"HALVORA_SCREEN", "1X1", false},
      {"HALVORA_SCREEN", "800", true},       {"HALVORA_SCREEN", "x600", true},
      {"HALVORA_SCREEN", "0x600", true},     {"HALVORA_SCREEN", "800x-1", true},
      {"HALVORA_SCREEN", "800x600x2", true}, {"HALVORA_SCREEN", "99999x10", true},
      {"HALVORA_FRAMES", "5", false},        {"HALVORA_FRAMES", "0", true},
      {"HALVORA_FRAMES", "-3", true},        {"HALVORA_FRAMES", "5x", true},
      {"HALVORA_CAPTURE_EVERY", "7", false}, {"HALVORA_CAPTURE_EVERY", "0", true},
      {"HALVORA_CAPTURE_EVERY", "ten", true},
  };
  for (const EnvCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    CleanEnvironment scoped;
    setenv(c.name, c.value, 1);
    testing::internal::CaptureStderr();
    const OffscreenConfig config = ReadOffscreenConfig();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find(c.name) != std::string::npos, c.malformed) << err;
    const std::string name = c.name;
    if (name == "HALVORA_SCREEN" && c.malformed) {
      EXPECT_EQ(config.screenWidth, 1024);
      EXPECT_EQ(config.screenHeight, 768);
    }
    if (name == "HALVORA_FRAMES") {
      EXPECT_EQ(config.frames.has_value(), !c.malformed);
    }
    if (name == "HALVORA_CAPTURE_EVERY" && c.malformed) {
      EXPECT_EQ(config.captureEvery, 60u);
    }
  }
}

TEST_F(OffscreenTest, ScriptedInputParsesGoodItemsInFrameOrder) {
  testing::internal::CaptureStderr();
  const auto items = ParseScriptedInput("3:key=27, 1:move=10;-20,1:ldown,,2:key=0x41,bad,4:key=300,"
                                        "5:jump,6:move=1,x:lup,7:rup");
  const std::string err = testing::internal::GetCapturedStderr();
  using Kind = ScriptedInput::Kind;
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].kind, Kind::Move);
  EXPECT_EQ(items[0].x, 10);
  EXPECT_EQ(items[0].y, -20);
  EXPECT_EQ(items[1].kind, Kind::LeftDown);
  EXPECT_EQ(items[2].vk, 0x41u);
  EXPECT_EQ(items[3].vk, 27u);
  EXPECT_EQ(items[4].kind, Kind::RightUp);
  EXPECT_EQ(items[4].frame, 7u);
  for (const char* bad : {"bad", "4:key=300", "5:jump", "6:move=1", "x:lup"})
    EXPECT_NE(err.find(bad), std::string::npos) << bad;
}

TEST_F(OffscreenTest, ScriptedInputArrivesBeforeItsFrame) {
  env_.Set("HALVORA_INPUT", "1:move=5;6,1:ldown,3:key=0x1B,3:key=0x12,4:key=0x79,4:lup");
  OffscreenBackend& backend = Start();
  EXPECT_TRUE(Drain(backend).empty()) << "input waits for a window";
  const NativeId w = backend.CreatePopup(0, 0, 64, 48, "t");
  auto events = Drain(backend);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, EventKind::MouseMove);
  EXPECT_EQ(events[0].x, 5);
  EXPECT_EQ(events[1].kind, EventKind::ButtonDown);
  EXPECT_EQ(events[1].button, 0);
  EXPECT_EQ(events[1].y, 6);
  EXPECT_EQ(events[1].window, w);

  PresentSolid(backend, w, 0);
  EXPECT_TRUE(Drain(backend).empty());
  PresentSolid(backend, w, 0);
  events = Drain(backend);  // before frame 3
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].kind, EventKind::KeyDown);
  EXPECT_EQ(events[0].vk, 0x1Bu);
  EXPECT_FALSE(events[0].sysKey);
  EXPECT_EQ(events[0].keyLParam, 0x00010001u);
  EXPECT_EQ(events[0].charCode, 27u);
  EXPECT_EQ(events[1].kind, EventKind::KeyUp);
  EXPECT_EQ(events[1].keyLParam, 0xC0010001u);
  EXPECT_TRUE(events[2].sysKey);
  EXPECT_EQ(events[2].keyLParam, 0x20380001u);
  EXPECT_EQ(events[3].keyLParam, 0xC0380001u);

  PresentSolid(backend, w, 0);
  events = Drain(backend);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(events[0].sysKey) << "F10";
  EXPECT_EQ(events[0].keyLParam, 0x00440001u);
  EXPECT_EQ(events[2].kind, EventKind::ButtonUp);
}

TEST_F(OffscreenTest, CloseRequestAfterTheFrameCountGoesToEveryPopupOnce) {
  env_.Set("HALVORA_FRAMES", "3");
  OffscreenBackend& backend = Start();
  const NativeId a = backend.CreatePopup(0, 0, 8, 8, "a");
  const NativeId b = backend.CreatePopup(0, 0, 8, 8, "b");
  const NativeId parent = backend.CreateForeignWindow(0, 0, 20, 20);
  ASSERT_NE(backend.CreateChild(parent, 0, 0, 20, 20), 0u);
  for (int i = 0; i < 2; ++i) PresentSolid(backend, a, 0);
  EXPECT_TRUE(Drain(backend).empty());
  PresentSolid(backend, b, 0x123456);
  const auto events = Drain(backend);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, EventKind::CloseRequest);
  EXPECT_EQ(events[0].window, a);
  EXPECT_EQ(events[1].window, b);
  PresentSolid(backend, a, 0);
  EXPECT_TRUE(Drain(backend).empty());
  EXPECT_EQ(offscreen::PresentedFrames(), 4u);
}

TEST_F(OffscreenTest, LastFrameIsACopyAndBadPresentsFail) {
  OffscreenBackend& backend = Start();
  offscreen::PresentedFrame frame;
  EXPECT_FALSE(offscreen::LastFrame(frame));
  const NativeId w = backend.CreatePopup(0, 0, 2, 2, "");
  std::vector<std::uint32_t> pixels = {1, 2, 99, 3, 4, 99};  // pitch of three pixels
  ASSERT_TRUE(backend.Present(w, {pixels.data(), 2, 2, 12}));
  pixels.assign(6, 0);
  ASSERT_TRUE(offscreen::LastFrame(frame));
  EXPECT_EQ(frame.window, w);
  EXPECT_EQ(frame.pixels, (std::vector<std::uint32_t>{1, 2, 3, 4}));
  EXPECT_FALSE(backend.Present(w + 100, {pixels.data(), 2, 2, 8}));
  EXPECT_FALSE(backend.Present(w, {nullptr, 2, 2, 8}));
  EXPECT_FALSE(backend.Present(w, {pixels.data(), 2, 2, 4}));
  EXPECT_EQ(offscreen::PresentedFrames(), 1u);
}

// The screen keeps the runs a frame marks unchanged only when it holds the frame just before,
// from the same source, in the same window at the same size. Each step marks run 1 of row 3
// unchanged although it did change: where the mark is honoured, the older pixels stay.
TEST_F(OffscreenTest, UnchangedRunsAreKeptOnlyOverTheSourcesFrameJustBefore) {
  OffscreenBackend& backend = Start();
  const int w = 200, h = 12, runs = 4;  // the last run is cut by the frame's edge
  const NativeId a = backend.CreatePopup(0, 0, w, h, "a"), b = backend.CreatePopup(0, 0, w, h, "b");
  int one = 0, two = 0;
  struct Step {
    const char* what;
    const void* source;
    std::uint64_t sequence;
    NativeId window;
    int width;
    bool kept;
  };
  const Step steps[] = {
      {"first frame of the source", &one, 1, a, w, false},
      {"next frame", &one, 2, a, w, true},
      {"next again", &one, 3, a, w, true},
      {"a frame was skipped", &one, 5, a, w, false},
      {"another source", &two, 6, a, w, false},
      {"that source's next frame", &two, 7, a, w, true},
      {"in another window", &two, 8, b, w, false},
      {"narrower", &two, 9, b, w - 8, false},
      {"narrower again", &two, 10, b, w - 8, true},
      {"no runs given", nullptr, 11, b, w - 8, false},
      {"after a frame without runs", &two, 12, b, w - 8, false},
  };
  std::vector<std::uint8_t> flags(std::size_t(runs) * h, 2);
  offscreen::PresentedFrame before;
  for (std::uint32_t k = 0; k < std::size(steps); ++k) {
    const Step& step = steps[k];
    const int fw = step.width;
    std::vector<std::uint32_t> pixels(std::size_t(fw) * h);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint32_t(i * 2654435761u + k * 977u) & 0xFFFFFF;
    const bool sameSize = before.width == fw;
    if (sameSize) {
      // Marked unchanged runs really are unchanged, except the one the test lies about.
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < fw; ++x)
          if (!(y == 3 && x >= 64 && x < 128)) pixels[std::size_t(y) * fw + x] = before.pixels[std::size_t(y) * fw + x];
      for (int x = 64; x < 128; ++x) pixels[std::size_t(5) * fw + x] ^= 0x00FFFFFF;  // changed and said so
      flags[std::size_t(5) * runs + 1] = 0;
    }
    const UnchangedRuns same{flags.data(), 64, runs, 2, step.source, step.sequence};
    ASSERT_TRUE(backend.Present(step.window, {pixels.data(), fw, h, fw * 4, step.source ? &same : nullptr}))
        << step.what;
    flags[std::size_t(5) * runs + 1] = 2;
    offscreen::PresentedFrame shown;
    ASSERT_TRUE(offscreen::LastFrame(shown));
    ASSERT_EQ(shown.window, step.window);
    ASSERT_EQ(shown.width, fw);
    ASSERT_EQ(shown.pixels.size(), pixels.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < fw; ++x) {
        const std::size_t i = std::size_t(y) * fw + x;
        const bool lied = y == 3 && x >= 64 && x < 128;
        const std::uint32_t expect = lied && step.kept ? before.pixels[i] : pixels[i];
        ASSERT_EQ(shown.pixels[i], expect) << step.what << " at " << x << "," << y;
      }
    before = shown;
  }
}

TEST_F(OffscreenTest, CaptureWritesEveryNthAndTheLastFrame) {
  ScratchDir dir;
  env_.Set("HALVORA_CAPTURE", (dir.path() / "frames").string());
  env_.Set("HALVORA_CAPTURE_EVERY", "2");
  env_.Set("HALVORA_FRAMES", "5");
  OffscreenBackend& backend = Start();
  const NativeId w = backend.CreatePopup(0, 0, 4, 3, "");
  for (std::uint32_t i = 1; i <= 5; ++i) PresentSolid(backend, w, 0x00102030u * i);
  for (int n : {2, 4, 5}) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.png", n);
    picture::Image image;
    std::string error;
    ASSERT_TRUE(picture::ReadPng((dir.path() / "frames" / name).string(), image, error)) << name << error;
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.height, 3);
    EXPECT_EQ(image.pixels[5], 0xFF000000u | (0x00102030u * n)) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "frames" / "frame-000003.png"));
}

TEST_F(OffscreenTest, CaptureWritesTheLastFrameWhenTheBackendEnds) {
  ScratchDir dir;
  env_.Set("HALVORA_CAPTURE", dir.path().string());
  OffscreenBackend& backend = Start();
  const NativeId w = backend.CreatePopup(0, 0, 4, 3, "");
  for (int i = 0; i < 3; ++i) PresentSolid(backend, w, 0xABCDEF);
  SetCurrentForTests(nullptr);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "frame-000003.png"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

void WriteTga(const std::string& path, int w, int h, bool topDown, const std::vector<std::uint32_t>& argb) {
  unsigned char header[18] = {};
  header[2] = 2;
  header[12] = w & 0xFF, header[13] = w >> 8;
  header[14] = h & 0xFF, header[15] = h >> 8;
  header[16] = 32;
  header[17] = topDown ? 0x28 : 0x08;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<char*>(header), sizeof header);
  for (int y = 0; y < h; ++y) {
    const int row = topDown ? y : h - 1 - y;
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = argb[std::size_t(row) * w + x];
      const char bgra[4] = {char(p & 0xFF), char(p >> 8), char(p >> 16), char(p >> 24)};
      out.write(bgra, 4);
    }
  }
}

TEST_F(OffscreenTest, DesktopPictureFromPngAndTgaCoversTheScreen) {
  ScratchDir dir;
  // 2x1 picture on a 4x4 screen: scaled by 4 to 8x4, the middle 4 columns kept.
  const std::vector<std::uint32_t> source = {0x00FF0000, 0x000000FF};
  std::string error;
  ASSERT_TRUE(picture::WritePng(dir.File("d.png"), source.data(), 2, 1, 8, error)) << error;
  WriteTga(dir.File("up.tga"), 2, 1, false, source);
  WriteTga(dir.File("down.tga"), 2, 1, true, source);
  for (const char* file : {"d.png", "up.tga", "down.tga"}) {
    SCOPED_TRACE(file);
    CleanEnvironment scoped;
    setenv("HALVORA_SCREEN", "4x4", 1);
    setenv("HALVORA_DESKTOP", dir.File(file).c_str(), 1);
    OffscreenBackend& backend = Start();
    std::vector<std::uint32_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(backend.CaptureDesktop(pixels, w, h));
    ASSERT_EQ(w, 4);
    ASSERT_EQ(h, 4);
    EXPECT_EQ(pixels[0], 0xFFFF0000u);
    EXPECT_EQ(pixels[1], 0xFFFF0000u);
    EXPECT_EQ(pixels[2], 0xFF0000FFu);
    EXPECT_EQ(pixels[15], 0xFF0000FFu);
  }
}

TEST_F(OffscreenTest, BadDesktopFilesFallBackToTheGeneratedPicture) {
  ScratchDir dir;
  std::ofstream(dir.File("garbage.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n garbage";
  std::ofstream(dir.File("short.tga"), std::ios::binary) << "abc";
  WriteTga(dir.File("truncated.tga"), 4, 4, false, std::vector<std::uint32_t>(16));
  std::filesystem::resize_file(dir.File("truncated.tga"), 18 + 40);
  unsigned char huge[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 32, 0};
  std::ofstream(dir.File("huge.tga"), std::ios::binary).write(reinterpret_cast<char*>(huge), 18);
  unsigned char rle[18] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 32, 0};
  std::ofstream(dir.File("rle.tga"), std::ios::binary).write(reinterpret_cast<char*>(rle), 18);
  const picture::Image generated = picture::GenerateDesktop(64, 48);
  for (const char* file : {"missing.png", "garbage.png", "short.tga", "truncated.tga", "huge.tga", "rle.tga"}) {
    SCOPED_TRACE(file);
    CleanEnvironment scoped;
    setenv("HALVORA_SCREEN", "64x48", 1);
    setenv("HALVORA_DESKTOP", dir.File(file).c_str(), 1);
    OffscreenBackend& backend = Start();
    std::vector<std::uint32_t> pixels;
    int w = 0, h = 0;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(backend.CaptureDesktop(pixels, w, h));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(file), std::string::npos);
    EXPECT_EQ(pixels, generated.pixels);
  }
}

TEST_F(OffscreenTest, GeneratedDesktopHasWallpaperWindowsAndTaskBar) {
  OffscreenBackend& backend = Start();
  std::vector<std::uint32_t> pixels;
  int w = 0, h = 0;
  ASSERT_TRUE(backend.CaptureDesktop(pixels, w, h));
  ASSERT_EQ(w, 1024);
  ASSERT_EQ(h, 768);
  auto at = [&](int x, int y) { return pixels[std::size_t(y) * w + x]; };
  EXPECT_EQ(at(w / 2, h - 3), 0xFFC0C0C0u) << "task bar";
  EXPECT_NE(at(w - 2, 2), at(w - 2, h * 2 / 3)) << "wallpaper gradient";
  // The active window's title bar is blue, its client area white.
  const std::uint32_t title = at(w * 30 / 100, h * 36 / 100 + 6);
  EXPECT_GT(int(title & 0xFF), int((title >> 16) & 0xFF) + 60) << std::hex << title;
  EXPECT_EQ(at(w * 26 / 100 + 7, h * 60 / 100), 0xFFFFFFFFu);
  for (std::uint32_t p : pixels) ASSERT_EQ(p >> 24, 0xFFu);
}

TEST_F(OffscreenTest, ChildOfAForeignWindowEndsWithIt) {
  OffscreenBackend& backend = Start();
  EXPECT_EQ(backend.CreateChild(12345, 0, 0, 10, 10), 0u) << "unknown parent";
  const NativeId parent = offscreen::CreateForeignWindow(3, 4, 152, 112);
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(backend.ForeignWindowRect(parent, x, y, w, h));
  EXPECT_EQ(w, 152);
  EXPECT_EQ(h, 112);
  const NativeId child = backend.CreateChild(parent, 0, 0, w, h);
  ASSERT_NE(child, 0u);
  EXPECT_EQ(offscreen::LiveWindows(), 1u);
  backend.DestroyWindow(parent);  // not ours to destroy
  EXPECT_TRUE(backend.ForeignWindowRect(parent, x, y, w, h));
  offscreen::DestroyForeignWindow(parent);
  const auto events = Drain(backend);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, EventKind::Destroyed);
  EXPECT_EQ(events[0].window, child);
  EXPECT_EQ(offscreen::LiveWindows(), 0u);
  EXPECT_FALSE(backend.ForeignWindowRect(parent, x, y, w, h));
  EXPECT_FALSE(backend.Present(child, {nullptr, 0, 0, 0}));
}

TEST_F(OffscreenTest, ModesAreCappedAtTheScreenInBothDepths) {
  env_.Set("HALVORA_SCREEN", "1000x700");
  OffscreenBackend& backend = Start();
  const auto modes = backend.Modes();
  const Mode desktop = backend.DesktopMode();
  EXPECT_EQ(desktop, (Mode{1000, 700, 60, 32}));
  EXPECT_NE(std::find(modes.begin(), modes.end(), desktop), modes.end());
  for (const Mode& m : modes) {
    EXPECT_LE(m.width, 1000);
    EXPECT_LE(m.height, 700);
    EXPECT_TRUE(m.bitsPerPixel == 16 || m.bitsPerPixel == 32);
    EXPECT_NE(std::find(modes.begin(), modes.end(), Mode{m.width, m.height, m.refreshHz, 48 - m.bitsPerPixel}),
              modes.end());
  }
  EXPECT_NE(std::find(modes.begin(), modes.end(), Mode{800, 600, 85, 16}), modes.end());
  EXPECT_TRUE(std::is_sorted(modes.begin(), modes.end(), [](const Mode& a, const Mode& b) {
    return std::tie(a.width, a.height, a.bitsPerPixel, a.refreshHz) <
           std::tie(b.width, b.height, b.bitsPerPixel, b.refreshHz);
  }));
}

}  // namespace
}  // namespace platform::display
