// The real executable on the offscreen display: frames written as pictures,
// and a deterministic run compared with stored reference frames.
//
// When the picture is meant to change, regenerate the references with
//   HALVORA_UPDATE_REFERENCES=1 build/tests/halvora_tests --gtest_filter='OffscreenRun.*'
// and review the new files in tests/e2e/reference/ before committing them.

#include "tests/e2e/png_pixels.h"
#include "tests/e2e/process.h"
#include "tests/framework/saver_sandbox.h"

#include "platform/display/display.h"
#include "render/uTGA.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::string FrameName(int frame)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.png", frame);
    return name;
}

int RunOffscreen(const SaverSandbox& sandbox, const std::string& capture, int frames, int every,
                 const std::vector<std::string>& more = {})
{
    std::vector<std::string> env = sandbox.Environment();
    env.push_back("HALVORA_DISPLAY=offscreen");
    env.push_back("HALVORA_FRAMES=" + std::to_string(frames));
    env.push_back("HALVORA_CAPTURE=" + capture);
    env.push_back("HALVORA_CAPTURE_EVERY=" + std::to_string(every));
    env.insert(env.end(), more.begin(), more.end());
    TChild child = StartProgram(HalvoraExecutable(), {"/s"}, env, sandbox.Root() + "/stderr.txt");
    return WaitProgram(child, 120000);
}

TEST(OffscreenRun, WritesFramesAndEndsAfterTheLastOne)
{
    SaverSandbox sandbox;
    platform::display::offscreen::Reset();
    ASSERT_TRUE(WindowLayerPresent()) << "no window can be created";
    const std::string capture = sandbox.Root() + "/frames";
    fs::create_directories(capture);
    // The last frame is not a multiple of the period, so it is written only for being the last.
    ASSERT_EQ(RunOffscreen(sandbox, capture, 50, 15), 0) << ReadTextFile(sandbox.Root() + "/stderr.txt");
    for (int frame : {15, 30, 45, 50})
        EXPECT_TRUE(fs::exists(capture + "/" + FrameName(frame))) << frame;
    EXPECT_FALSE(fs::exists(capture + "/" + FrameName(51)));
    EXPECT_EQ(std::distance(fs::directory_iterator(capture), fs::directory_iterator()), 4);
    TPicture last;
    ASSERT_TRUE(ReadPng(capture + "/" + FrameName(50), last));
    EXPECT_EQ(last.Width, 320);
    EXPECT_EQ(last.Height, 240);
    const std::string log = ReadTextFile(sandbox.DataFolder() + "/Error.log");
    EXPECT_NE(log.find("TD3DApplication.Create_: <<-----end"), std::string::npos);
}

TEST(OffscreenRun, MatchesTheReferenceFrames)
{
    // Frame 1: black (drawn before the first update builds the world); 2: the desktop
    // untouched; 60: squeezed towards a bright line; 200: a dot on black; 600: the
    // spirals over their trails. Only frame 60 depends on the desktop picture's pixels.
    const int frames[] = {1, 2, 60, 200, 600};
    SaverSandbox sandbox;
    platform::display::offscreen::Reset();
    ASSERT_TRUE(WindowLayerPresent()) << "no window can be created";
    const std::string capture = sandbox.Root() + "/frames";
    fs::create_directories(capture);
    // Writing every frame as PNG dominates the run; the run is deterministic, so frames 1
    // and 2 come from a two-frame run and the others from a run that writes every 20th.
    ASSERT_EQ(RunOffscreen(sandbox, capture, 2, 1), 0) << ReadTextFile(sandbox.Root() + "/stderr.txt");
    ASSERT_EQ(RunOffscreen(sandbox, capture, 600, 20), 0) << ReadTextFile(sandbox.Root() + "/stderr.txt");
    const bool update = std::getenv("HALVORA_UPDATE_REFERENCES") != nullptr;
    const std::string references = SourcePath("tests/e2e/reference");
    for (int frame : frames) {
        const std::string produced = capture + "/" + FrameName(frame);
        const std::string reference = references + "/" + FrameName(frame);
        if (update) {
            fs::create_directories(references);
            fs::copy_file(produced, reference, fs::copy_options::overwrite_existing);
            continue;
        }
        TPicture got, want;
        ASSERT_TRUE(ReadPng(produced, got)) << produced;
        ASSERT_TRUE(ReadPng(reference, want)) << reference << " (regenerate: HALVORA_UPDATE_REFERENCES=1)";
        ASSERT_EQ(got.Width, want.Width) << frame;
        ASSERT_EQ(got.Height, want.Height) << frame;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < got.Pixels.size(); ++i)
            differing += (got.Pixels[i] & 0xFFFFFF) != (want.Pixels[i] & 0xFFFFFF);
        EXPECT_EQ(differing, 0u) << "frame " << frame;
    }
}

}  // namespace

namespace {

// Lit and clearly coloured: a spiral, not the grey desktop or the white dot of the opening.
bool SpiralColoured(uint32_t pixel)
{
    const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return std::max({r, g, b}) > 96 && std::max({r, g, b}) - std::min({r, g, b}) > 48;
}

// Nobody can be asked for settings when the dialog has no display, nor under xscreensaver:
// the saver then runs as the first run would have saved for this screen (its own size, the
// default spirals) and writes no options file. Mode C only says why it changed nothing.
// --root draws into the virtual screen.
TEST(WithoutAnOptionsFile, RunsAsTheFirstRunWouldHaveSavedAndWritesNothing)
{
    struct Case {
        const char* what;
        const char* argument;
        bool fileBefore;
        bool dialogNote;  // says that the dialog needed a display
        bool draws;
    };
    const Case cases[] = {
        {"mode C", "/c", true, true, false},
        {"first run of /s", "/s", false, true, true},
        {"--root", "--root", false, false, true},
        {"-root with a file", "-root", true, false, true},
    };
    for (const Case& c : cases) {
        SaverSandbox sandbox;  // a 320 x 240 virtual screen
        const std::string options = sandbox.DataFolder() + "/Options.txt";
        std::string before;
        if (c.fileBefore)
            before = ReadTextFile(options);
        else
            fs::remove(options);
        const std::string capture = sandbox.Root() + "/frames";
        std::vector<std::string> env = sandbox.Environment();  // no DISPLAY: the offscreen display
        env.insert(env.end(), {"HALVORA_FRAMES=500", "HALVORA_CAPTURE_EVERY=1000", "HALVORA_CAPTURE=" + capture,
                               "XSCREENSAVER_WINDOW="});
        TChild child = StartProgram(HalvoraExecutable(), {c.argument}, env, sandbox.Root() + "/stderr.txt");
        const int status = WaitProgram(child, 120000);
        const std::string errors = ReadTextFile(sandbox.Root() + "/stderr.txt");
        EXPECT_EQ(status, 0) << c.what << "\n" << errors;
        EXPECT_EQ(errors.find("halvora: the settings dialog needs a display; nothing was changed") != std::string::npos,
                  c.dialogNote)
            << c.what << "\n" << errors;
        EXPECT_EQ(errors.find("error"), std::string::npos) << c.what << "\n" << errors;
        if (c.fileBefore)
            EXPECT_EQ(ReadTextFile(options), before) << c.what;
        else
            EXPECT_FALSE(fs::exists(options)) << c.what;
        TPicture last;
        EXPECT_EQ(ReadPng(capture + "/" + FrameName(500), last), c.draws) << c.what << "\n" << errors;
        if (!c.draws)
            continue;
        EXPECT_EQ(last.Width, 320) << c.what;
        EXPECT_EQ(last.Height, 240) << c.what;
        EXPECT_GT(std::count_if(last.Pixels.begin(), last.Pixels.end(), SpiralColoured), 500) << c.what;
    }
}

}  // namespace

namespace {

// A desktop with marks where the opening must show them: red along the top, green across the
// middle, blue along the bottom, yellow down the left edge and magenta down the right.
constexpr uint32_t Grey = 0xFF808080, Red = 0xFFFF0000, Green = 0xFF00FF00, Blue = 0xFF0000FF,
                   Yellow = 0xFFFFFF00, Magenta = 0xFFFF00FF;
constexpr int Mark = 8;

uint32_t MarkAt(int x, int y, int w, int h)
{
    if (y < Mark)
        return Red;
    if (y >= h - Mark)
        return Blue;
    if (y >= h / 2 - Mark / 2 && y < h / 2 + Mark / 2)
        return Green;
    if (x < Mark)
        return Yellow;
    if (x >= w - Mark)
        return Magenta;
    return Grey;
}

std::string WriteMarkedDesktop(const std::string& path, int w, int h)
{
    TGAImage image;
    EXPECT_TRUE(InitTGAImage(image, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.Pixels[static_cast<std::size_t>(y) * w + x] = MarkAt(x, y, w, h);
    EXPECT_TRUE(SaveTGA(path, image));
    return path;
}

// The strongest of red, green and blue, when one clearly leads (cover tints included).
char Hue(uint32_t p)
{
    const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    if (r > 200 && g < 150 && b < 150) return 'r';
    if (g > 200 && r < 150 && b < 150) return 'g';
    if (b > 200 && r < 150 && g < 150) return 'b';
    return '-';
}

TPicture RunOpening(const SaverSandbox& sandbox, int w, int h, const std::string& desktop, int frames)
{
    const std::string capture = sandbox.Root() + "/frames-" + std::to_string(frames);
    std::vector<std::string> env = sandbox.Environment();
    env.insert(env.end(), {"HALVORA_DISPLAY=offscreen", "HALVORA_SCREEN=" + std::to_string(w) + "x" + std::to_string(h),
                           "HALVORA_FRAMES=" + std::to_string(frames), "HALVORA_CAPTURE_EVERY=" + std::to_string(frames),
                           "HALVORA_CAPTURE=" + capture, "HALVORA_DESKTOP=" + desktop});
    TChild child = StartProgram(HalvoraExecutable(), {"/s"}, env, sandbox.Root() + "/stderr.txt");
    EXPECT_EQ(WaitProgram(child, 240000), 0) << ReadTextFile(sandbox.Root() + "/stderr.txt");
    TPicture frame;
    EXPECT_TRUE(ReadPng(capture + "/" + FrameName(frames), frame)) << w << "x" << h;
    return frame;
}

// Large screens need more than the 256 tiles of 128 pixels the picture's table holds: the
// opening still shows the whole desktop, top, middle and bottom where they are.
TEST(BigScreens, TheOpeningShowsTheWholeDesktop)
{
    const std::pair<int, int> sizes[] = {{2560, 1600}, {3440, 1440}, {3840, 2160}, {5120, 2880}, {7680, 4320}};
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        TSandboxOptions options;
        options.Width = w;
        options.Height = h;
        SaverSandbox sandbox(options);
        const std::string desktop = WriteMarkedDesktop(sandbox.Root() + "/desktop.tga", w, h);
        const TPicture frame = RunOpening(sandbox, w, h, desktop, 2);  // frame 2: the desktop as it was
        ASSERT_EQ(frame.Width, w);
        ASSERT_EQ(frame.Height, h);
        // Everywhere, within the pixel the picture's placement allows: sample a grid, away from
        // the marks' edges.
        const auto at = [&](int x, int y) { return frame.Pixels[static_cast<std::size_t>(y) * w + x] | 0xFF000000u; };
        int wrong = 0, checked = 0;
        for (int y = 2; y < h - 2; y += 37)
            for (int x = 2; x < w - 2; x += 41) {
                const uint32_t want = MarkAt(x, y, w, h);
                bool clear = true;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        clear = clear && MarkAt(x + dx, y + dy, w, h) == want;
                if (!clear)
                    continue;
                ++checked;
                wrong += at(x, y) != want;
            }
        EXPECT_EQ(wrong, 0) << "of " << checked;
        for (int x : {3, w / 2, w - 4}) {
            EXPECT_EQ(at(x, 2), Red) << "top at " << x;
            EXPECT_EQ(at(x, h / 2 - 1), Green) << "middle at " << x;
            EXPECT_EQ(at(x, h - 4), Blue) << "bottom at " << x;
        }
        EXPECT_EQ(at(3, h / 4), Yellow);
        EXPECT_EQ(at(w - 4, 3 * h / 4), Magenta);
        std::error_code ignored;
        fs::remove(desktop, ignored);
    }
}

// The squeeze shrinks that whole picture towards the middle row: its top and bottom edges come
// in by the same amount, the middle stays, and the rows beyond are black.
TEST(BigScreens, TheSqueezeFoldsTheWholeDesktopAboutTheMiddle)
{
    const int w = 3840, h = 2160;
    TSandboxOptions options;
    options.Width = w;
    options.Height = h;
    SaverSandbox sandbox(options);
    const TPicture frame = RunOpening(sandbox, w, h, WriteMarkedDesktop(sandbox.Root() + "/desktop.tga", w, h), 48);
    ASSERT_EQ(frame.Width, w);
    ASSERT_EQ(frame.Height, h);
    int firstRed = -1, lastBlue = -1;
    for (int y = 0; y < h; ++y) {
        const char hue = Hue(frame.Pixels[static_cast<std::size_t>(y) * w + w / 3]);
        if (hue == 'r' && firstRed < 0)
            firstRed = y;
        if (hue == 'b')
            lastBlue = y;
    }
    ASSERT_GT(firstRed, h / 10) << "the top has come in";
    ASSERT_LT(firstRed, h / 2);
    EXPECT_NEAR(h - 1 - lastBlue, firstRed, 3) << "top " << firstRed << ", bottom " << lastBlue;
    EXPECT_EQ(Hue(frame.Pixels[static_cast<std::size_t>(h / 2) * w + w / 3]), 'g');
    EXPECT_EQ(frame.Pixels[static_cast<std::size_t>(firstRed / 2) * w + w / 3] & 0xFFFFFF, 0u);
    EXPECT_EQ(frame.Pixels[static_cast<std::size_t>((lastBlue + h) / 2) * w + w / 3] & 0xFFFFFF, 0u);
}

}  // namespace
