// The X11 backend against a private Xvfb: windows, grabs, input, presenting, capture, modes.

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/display/display.h"
#include "platform/display/x11_hooks.h"
#include "tests/x11/x11_test_support.h"

namespace {

using platform::display::Backend;
using platform::display::Event;
using platform::display::EventKind;
using platform::display::Mode;
using platform::display::NativeId;
using platform::display::x11::PresentPath;
using x11test::Client;
using x11test::PrivateServer;
using x11test::WaitFor;
using x11test::WindowInfo;

// Key press and release, button press and release, pointer motion (X.h's masks; X.h itself
// would rename the display's event kinds).
constexpr long kInputMasks = 1L << 0 | 1L << 1 | 1L << 2 | 1L << 3 | 1L << 6;

// A test pattern that differs in every channel and from row to row.
std::vector<std::uint32_t> Pattern(int w, int h, int pitchPixels, std::uint32_t seed)
{
    std::vector<std::uint32_t> p(std::size_t(pitchPixels) * h, 0xDEADBEEFu);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p[std::size_t(y) * pitchPixels + x] =
                (std::uint32_t(x * 7 + seed) & 0xFF) << 16 | (std::uint32_t(y * 5 + seed * 3) & 0xFF) << 8 |
                (std::uint32_t(x * y + seed) & 0xFF);
    return p;
}

// Shared by the suites below: one server per suite, a fresh backend and client per test.
class X11Fixture : public ::testing::Test {
protected:
    static void StartServer(int depth) { server_ = new PrivateServer(320, 240, depth); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        if (!server_->Ok())
            GTEST_SKIP() << server_->Problem();
        if (!x11test::InputInjectionBuiltIn())
            GTEST_SKIP() << "built without the XTEST and XFixes libraries";
        unsetenv("HALVORA_NO_SHM");
        client_ = std::make_unique<Client>(server_->Name());
        backend_ = platform::display::CreateX11(server_->Name().c_str());
        ASSERT_TRUE(client_->Ok());
        ASSERT_NE(backend_, nullptr);
    }
    void TearDown() override
    {
        backend_.reset();
        client_.reset();
        unsetenv("HALVORA_NO_SHM");
    }

    // Every event that arrives until done() holds or the time is up; Expose events are dropped.
    std::vector<Event> Await(const std::function<bool(const std::vector<Event>&)>& done,
                             std::chrono::milliseconds limit = std::chrono::milliseconds(3000))
    {
        std::vector<Event> events;
        WaitFor([&] {
            Event e;
            while (backend_->NextEvent(e))
                if (e.kind != EventKind::Expose)
                    events.push_back(e);
            return done(events);
        }, limit);
        return events;
    }
    std::vector<Event> AwaitCount(std::size_t n)
    {
        return Await([n](const std::vector<Event>& e) { return e.size() >= n; });
    }
    void DropPending()
    {
        client_->Sync();
        Await([](const std::vector<Event>&) { return false; }, std::chrono::milliseconds(50));
    }

    // A frame through the backend, then what the server shows of the window.
    void PresentAndReadBack(PresentPath expected, int tolerance)
    {
        const int w = 64, h = 48, pitch = w + 3;
        const NativeId popup = backend_->CreatePopup(0, 0, w, h, "frame");
        ASSERT_NE(popup, 0u);
        for (std::uint32_t seed : {1u, 90u}) {  // the second frame reuses the shared buffer
            const auto pixels = Pattern(w + 16, h + 16, pitch + 16, seed);
            // Larger than the window: only the top-left part shows.
            ASSERT_TRUE(backend_->Present(popup, {pixels.data(), w + 16, h + 16, (pitch + 16) * 4}));
            EXPECT_EQ(platform::display::x11::LastPresentPath(*backend_), expected);
            std::vector<std::uint32_t> shown;
            ASSERT_TRUE(client_->ReadBack(popup, w, h, shown));
            int worst = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t a = pixels[std::size_t(y) * (pitch + 16) + x], b = shown[std::size_t(y) * w + x];
                    for (int shift : {0, 8, 16})
                        worst = std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
                }
            EXPECT_LE(worst, tolerance) << "seed " << seed;
        }
    }

    static inline PrivateServer* server_ = nullptr;
    std::unique_ptr<Client> client_;
    std::unique_ptr<Backend> backend_;
};

class X11Backend : public X11Fixture {
protected:
    static void SetUpTestSuite() { StartServer(24); }
};

TEST_F(X11Backend, PopupCoversItsRectangleAboveOthersAndHoldsTheGrabsWhileItLives)
{
    const std::uint64_t other = client_->CreateWindow(0, 0, 100, 100);
    const NativeId popup = backend_->CreatePopup(0, 0, 200, 150, "Popup");
    ASSERT_NE(popup, 0u);
    WindowInfo info;
    ASSERT_TRUE(client_->Info(popup, info));
    EXPECT_EQ(info.rootX, 0);
    EXPECT_EQ(info.rootY, 0);
    EXPECT_EQ(info.width, 200);
    EXPECT_EQ(info.height, 150);
    EXPECT_TRUE(info.viewable);
    EXPECT_TRUE(info.overrideRedirect) << "a window manager must not frame or move it";
    EXPECT_EQ(client_->TopmostWindow(), popup);
    EXPECT_TRUE(client_->KeyboardGrabbedElsewhere());
    EXPECT_TRUE(client_->PointerGrabbedElsewhere());

    backend_->DestroyWindow(popup);
    client_->Sync();
    EXPECT_FALSE(client_->Info(popup, info));
    EXPECT_FALSE(client_->KeyboardGrabbedElsewhere());
    EXPECT_FALSE(client_->PointerGrabbedElsewhere());
    client_->DestroyWindow(other);
}

TEST_F(X11Backend, HiddenCursorShowsNothingOverThePopup)
{
    const NativeId popup = backend_->CreatePopup(0, 0, 200, 150, "Cursor");
    ASSERT_NE(popup, 0u);
    client_->MoveTo(50, 50);
    EXPECT_FALSE(client_->CursorInvisible());
    backend_->SetCursorVisible(popup, false);
    EXPECT_TRUE(WaitFor([&] { return client_->CursorInvisible(); }));
    backend_->SetCursorVisible(popup, true);
    EXPECT_TRUE(WaitFor([&] { return !client_->CursorInvisible(); }));
}

TEST_F(X11Backend, ChildOfAForeignWindowCoversItTakesNoInputAndEndsWithIt)
{
    const std::uint64_t parent = client_->CreateWindow(30, 40, 160, 120);
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(backend_->ForeignWindowRect(parent, x, y, w, h));
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{30, 40, 160, 120}));
    const NativeId child = backend_->CreateChild(parent, 0, 0, w, h);
    ASSERT_NE(child, 0u);
    WindowInfo info;
    ASSERT_TRUE(client_->Info(child, info));
    EXPECT_EQ((std::vector<int>{info.rootX, info.rootY, info.width, info.height}),
              (std::vector<int>{30, 40, 160, 120}));
    EXPECT_TRUE(info.viewable);
    EXPECT_EQ(info.allEventMasks & kInputMasks, 0) << "input must reach the foreign parent";

    client_->DestroyWindow(parent);
    const auto events = Await([&](const std::vector<Event>& e) {
        return std::any_of(e.begin(), e.end(), [](const Event& ev) { return ev.kind == EventKind::Destroyed; });
    });
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, EventKind::Destroyed);
    EXPECT_EQ(events[0].window, child);
    const std::uint32_t pixel = 0;
    EXPECT_FALSE(backend_->Present(child, {&pixel, 1, 1, 4})) << "a window that is gone takes no frames";
}

TEST_F(X11Backend, ChildFollowsItsParentsSize)
{
    const std::uint64_t parent = client_->CreateWindow(0, 0, 100, 80);
    const NativeId child = backend_->CreateChild(parent, 0, 0, 100, 80);
    ASSERT_NE(child, 0u);
    client_->Resize(parent, 140, 90);
    WindowInfo info;
    EXPECT_TRUE(WaitFor([&] {
        Event e;
        while (backend_->NextEvent(e)) {
        }
        return client_->Info(child, info) && info.width == 140 && info.height == 90;
    })) << info.width << "x" << info.height;
    client_->DestroyWindow(parent);
}

TEST_F(X11Backend, BadParentHandlesFailTheCallAndTheBackendCarriesOn)
{
    const std::uint64_t gone = client_->CreateWindow(0, 0, 10, 10);
    client_->DestroyWindow(gone);
    for (std::uint64_t bad : {std::uint64_t(gone), std::uint64_t(0x3FFFFF7), std::uint64_t(0xFFFFFFFF)}) {
        SCOPED_TRACE(bad);
        int x, y, w, h;
        EXPECT_FALSE(backend_->ForeignWindowRect(bad, x, y, w, h));
        EXPECT_EQ(backend_->CreateChild(bad, 0, 0, 50, 50), 0u);
    }
    const NativeId popup = backend_->CreatePopup(0, 0, 20, 20, "still here");
    EXPECT_NE(popup, 0u);
    EXPECT_FALSE(backend_->ConnectionLost());
}

struct KeyCase {
    const char* name;
    std::vector<unsigned long> held;  // pressed first and kept down
    unsigned long key;
    unsigned vk;
    bool sysKey, extended, altBit;
    unsigned scan;
    unsigned charCode;
};

TEST_F(X11Backend, KeysBecomeVirtualKeysWithWindowsKeystrokeBits)
{
    const KeyCase cases[] = {
        {"letter", {}, XK_a, 'A', false, false, false, 0x1E, 'a'},
        {"shifted digit", {XK_Shift_L}, XK_1, '1', false, false, false, 0x02, '!'},
        {"escape", {}, XK_Escape, 0x1B, false, false, false, 0x01, 27},
        {"space", {}, XK_space, 0x20, false, false, false, 0x39, ' '},
        {"F1", {}, XK_F1, 0x70, false, false, false, 0x3B, 0},
        {"F10 is a system key", {}, XK_F10, 0x79, true, false, false, 0x44, 0},
        {"Alt alone", {}, XK_Alt_L, 0x12, true, false, true, 0x38, 0},
        {"Alt held", {XK_Alt_L}, XK_x, 'X', true, false, true, 0x2D, 'x'},
        {"Alt+F4", {XK_Alt_L}, XK_F4, 0x73, true, false, true, 0x3E, 0},
        {"arrow", {}, XK_Right, 0x27, false, true, false, 0x4D, 0},
        {"keypad enter", {}, XK_KP_Enter, 0x0D, false, true, false, 0x1C, '\r'},
        {"right control", {}, XK_Control_R, 0x11, false, true, false, 0x1D, 0},
        {"left shift", {}, XK_Shift_L, 0x10, false, false, false, 0x2A, 0},
        {"OEM comma", {}, XK_comma, 0xBC, false, false, false, 0x33, ','},
    };
    const NativeId popup = backend_->CreatePopup(0, 0, 100, 100, "Keys");
    ASSERT_NE(popup, 0u);
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (unsigned long k : c.held)
            client_->Key(k, true);
        DropPending();
        client_->Key(c.key, true);
        client_->Key(c.key, false);
        for (unsigned long k : c.held)
            client_->Key(k, false);
        auto events = AwaitCount(2 + c.held.size());
        ASSERT_GE(events.size(), 2u);
        const Event& down = events[0];
        const Event& up = events[1];
        EXPECT_EQ(down.kind, EventKind::KeyDown);
        EXPECT_EQ(down.window, popup);
        EXPECT_EQ(down.vk, c.vk);
        EXPECT_EQ(down.sysKey, c.sysKey);
        EXPECT_EQ((down.keyLParam >> 16) & 0xFF, c.scan);
        EXPECT_EQ(bool(down.keyLParam & (1u << 24)), c.extended);
        EXPECT_EQ(bool(down.keyLParam & (1u << 29)), c.altBit);
        EXPECT_EQ(down.keyLParam & 0xC000FFFFu, 1u) << "repeat count 1, key was up, pressed";
        EXPECT_EQ(down.charCode, c.charCode);
        EXPECT_EQ(up.kind, EventKind::KeyUp);
        EXPECT_EQ(up.vk, c.vk);
        EXPECT_EQ(up.sysKey, c.sysKey);
        EXPECT_EQ(up.keyLParam & 0xC000FFFFu, 0xC0000001u) << "released: previous state and transition set";
    }
}

TEST_F(X11Backend, HeldKeyRepeatsKeyDownWithThePreviousStateBit)
{
    const NativeId popup = backend_->CreatePopup(0, 0, 100, 100, "Repeat");
    ASSERT_NE(popup, 0u);
    DropPending();
    client_->Key(XK_b, true);
    // The server's autorepeat starts after its delay (660 ms by default).
    auto events = Await([](const std::vector<Event>& e) { return e.size() >= 3; });
    client_->Key(XK_b, false);
    ASSERT_GE(events.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].kind, EventKind::KeyDown) << "no releases between repeats";
        EXPECT_EQ(events[i].vk, unsigned('B'));
        EXPECT_EQ(bool(events[i].keyLParam & (1u << 30)), i > 0);
    }
    const auto rest = Await([](const std::vector<Event>& e) {
        return !e.empty() && e.back().kind == EventKind::KeyUp;
    });
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back().vk, unsigned('B'));
}

TEST_F(X11Backend, PointerEventsCarryClientCoordinatesAndTheButton)
{
    struct ButtonCase {
        unsigned xButton;
        int button;
    };
    const NativeId popup = backend_->CreatePopup(10, 20, 200, 150, "Mouse");
    ASSERT_NE(popup, 0u);
    client_->MoveTo(5, 5);
    DropPending();
    client_->MoveTo(60, 80);
    auto moved = AwaitCount(1);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].kind, EventKind::MouseMove);
    EXPECT_EQ(moved[0].x, 50);
    EXPECT_EQ(moved[0].y, 60);
    for (const ButtonCase c : {ButtonCase{1, 0}, ButtonCase{3, 1}, ButtonCase{2, 2}}) {
        SCOPED_TRACE(c.xButton);
        client_->Button(c.xButton, true);
        client_->Button(c.xButton, false);
        auto events = AwaitCount(2);
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].kind, EventKind::ButtonDown);
        EXPECT_EQ(events[1].kind, EventKind::ButtonUp);
        for (const Event& e : events) {
            EXPECT_EQ(e.button, c.button);
            EXPECT_EQ(e.x, 50);
            EXPECT_EQ(e.y, 60);
            EXPECT_EQ(e.window, popup);
        }
    }
}

TEST_F(X11Backend, WindowManagerCloseBecomesACloseRequest)
{
    const NativeId popup = backend_->CreatePopup(0, 0, 100, 100, "Close");
    ASSERT_NE(popup, 0u);
    DropPending();
    client_->SendDeleteWindow(popup);
    auto events = AwaitCount(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, EventKind::CloseRequest);
    EXPECT_EQ(events[0].window, popup);
}

TEST_F(X11Backend, FramesReachTheServerThroughSharedMemory) { PresentAndReadBack(PresentPath::SharedMemory, 0); }

// Runs a frame marks unchanged are left as the shared image has them, but only when it holds
// the frame just before, from the same source. Each step marks run 1 of row 3 unchanged
// although it did change: where the mark is honoured, the server keeps the older pixel.
TEST_F(X11Backend, UnchangedRunsAreKeptOnlyFromTheSourcesFrameJustBefore)
{
    const int w = 200, h = 12, runs = 4;  // the last run is cut by the window's edge
    const NativeId popup = backend_->CreatePopup(0, 0, w, h, "runs");
    ASSERT_NE(popup, 0u);
    int a = 0, b = 0;
    const void* mine = &a;
    const void* other = &b;
    struct Step {
        const char* what;
        const void* source;
        std::uint64_t sequence;
        bool kept;
    };
    const Step steps[] = {
        {"first frame of the source", mine, 1, false},  // the image held nothing of it
        {"next frame", mine, 2, true},
        {"next again", mine, 3, true},
        {"a frame was skipped", mine, 5, false},
        {"another source", other, 6, false},
        {"that source's next frame", other, 7, true},
        {"back to the first source", mine, 8, false},
    };
    std::vector<std::uint8_t> flags(std::size_t(runs) * h, 2);
    std::vector<std::uint32_t> before;
    for (std::uint32_t k = 0; k < std::size(steps); ++k) {
        const Step& step = steps[k];
        auto pixels = Pattern(w, h, w, 40 + k);
        const platform::display::UnchangedRuns same{flags.data(), 64, runs, 2, step.source, step.sequence};
        platform::display::Frame frame{pixels.data(), w, h, w * 4, &same};
        if (k > 0) {
            // Marked unchanged runs really are unchanged, except the one the test lies about.
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (!(y == 3 && x >= 64 && x < 128))
                        pixels[std::size_t(y) * w + x] = before[std::size_t(y) * w + x];
            for (int x = 64; x < 128; ++x) pixels[std::size_t(5) * w + x] ^= 0x00FFFFFF;  // changed and said so
            flags[std::size_t(5) * runs + 1] = 0;
        }
        ASSERT_TRUE(backend_->Present(popup, frame)) << step.what;
        flags[std::size_t(5) * runs + 1] = 2;
        std::vector<std::uint32_t> shown;
        ASSERT_TRUE(client_->ReadBack(popup, w, h, shown)) << step.what;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::size_t i = std::size_t(y) * w + x;
                const bool lied = y == 3 && x >= 64 && x < 128;
                const std::uint32_t expect = lied && step.kept ? before[i] : pixels[i];
                ASSERT_EQ(shown[i] & 0xFFFFFF, expect & 0xFFFFFF) << step.what << " at " << x << "," << y;
            }
        before = shown;
    }
}

// A frame inside memory the backend shared with the server is shown from where it lies, at
// any offset within it, and each present shows what the memory holds then. The memory may
// outlive the backend, or the backend it.
TEST_F(X11Backend, FramesInSharedPixelsAreShownWithoutACopy)
{
    const int w = 40, h = 30, pitchPixels = w + 9, rows = h + 5, left = 3, top = 2;
    const std::size_t bytes = std::size_t(pitchPixels) * rows * 4;
    const NativeId popup = backend_->CreatePopup(0, 0, w, h, "shared");
    ASSERT_NE(popup, 0u);
    auto pixels = backend_->AllocateSharedPixels(bytes);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(pixels->Size(), bytes);
    auto* memory = reinterpret_cast<std::uint32_t*>(pixels->Data());
    EXPECT_TRUE(std::all_of(memory, memory + bytes / 4, [](std::uint32_t p) { return p == 0; }));
    for (std::uint32_t seed : {7u, 200u}) {
        const auto pattern = Pattern(pitchPixels, rows, pitchPixels, seed);
        std::copy(pattern.begin(), pattern.end(), memory);
        const std::uint32_t* first = memory + top * pitchPixels + left;
        ASSERT_TRUE(backend_->Present(popup, {first, w, h, pitchPixels * 4}));
        EXPECT_EQ(platform::display::x11::LastPresentPath(*backend_), PresentPath::SharedPixels);
        std::vector<std::uint32_t> shown;
        ASSERT_TRUE(client_->ReadBack(popup, w, h, shown));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(shown[std::size_t(y) * w + x] & 0xFFFFFF, first[std::size_t(y) * pitchPixels + x] & 0xFFFFFF)
                    << "seed " << seed << " at " << x << "," << y;
    }
    // A frame reaching past the shared memory's end is copied like any other.
    std::vector<std::uint32_t> outside(std::size_t(pitchPixels) * rows, 0x00123456);
    ASSERT_TRUE(backend_->Present(popup, {outside.data(), w, h, pitchPixels * 4}));
    EXPECT_EQ(platform::display::x11::LastPresentPath(*backend_), PresentPath::SharedMemory);

    auto second = backend_->AllocateSharedPixels(bytes);
    ASSERT_NE(second, nullptr);
    second.reset();    // freed while the backend lives
    backend_.reset();  // and the first outlives it
    memory[0] = 1;     // still mapped
    pixels.reset();
}

TEST_F(X11Backend, NoSharedPixelsWithoutSharedMemoryOrForAbsurdSizes)
{
    EXPECT_EQ(backend_->AllocateSharedPixels(0), nullptr);
    EXPECT_EQ(backend_->AllocateSharedPixels(std::size_t{1} << 40), nullptr);
    setenv("HALVORA_NO_SHM", "1", 1);
    backend_ = platform::display::CreateX11(server_->Name().c_str());
    ASSERT_NE(backend_, nullptr);
    EXPECT_EQ(backend_->AllocateSharedPixels(4096), nullptr);
}

TEST_F(X11Backend, FramesReachTheServerThroughPutImageWithoutSharedMemory)
{
    setenv("HALVORA_NO_SHM", "1", 1);
    backend_ = platform::display::CreateX11(server_->Name().c_str());
    ASSERT_NE(backend_, nullptr);
    PresentAndReadBack(PresentPath::PutImage, 0);
}

TEST_F(X11Backend, ImplausibleFramesAreRefused)
{
    const NativeId popup = backend_->CreatePopup(0, 0, 8, 8, "Refuse");
    ASSERT_NE(popup, 0u);
    std::vector<std::uint32_t> pixels(64);
    struct FrameCase {
        const char* name;
        platform::display::Frame frame;
    };
    for (const FrameCase& c : {FrameCase{"no pixels", {nullptr, 8, 8, 32}}, FrameCase{"no width", {pixels.data(), 0, 8, 32}},
                               FrameCase{"pitch too small", {pixels.data(), 8, 8, 28}},
                               FrameCase{"negative height", {pixels.data(), 8, -1, 32}}}) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(backend_->Present(popup, c.frame));
    }
    EXPECT_FALSE(backend_->Present(12345, {pixels.data(), 8, 8, 32})) << "not our window";
}

TEST_F(X11Backend, DesktopCaptureReadsTheRootWindow)
{
    const auto picture = Pattern(320, 240, 320, 7);
    ASSERT_TRUE(client_->PaintRoot(picture, 320, 240));
    std::vector<std::uint32_t> captured;
    int w = 0, h = 0;
    ASSERT_TRUE(backend_->CaptureDesktop(captured, w, h));
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 240);
    ASSERT_EQ(captured.size(), picture.size());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < picture.size(); ++i)
        wrong += captured[i] != (picture[i] | 0xFF000000u);
    EXPECT_EQ(wrong, 0u);
}

// The picture xscreensaver saved on the window it hands over: cut to the window's place when
// it is screen-sized, whole when it is the window's size. Without a usable one, what the root
// shows there (the window itself, white here). Black beyond the screen.
TEST_F(X11Backend, WindowCaptureTakesTheSavedScreenshotElseTheRootUnderIt)
{
    const auto root = Pattern(320, 240, 320, 7);
    const auto saved = Pattern(320, 240, 320, 11);
    const auto small = Pattern(100, 60, 100, 13);
    ASSERT_TRUE(client_->PaintRoot(root, 320, 240));
    enum class Shot { ScreenSized, WindowSized, Gone, None };
    struct Case {
        const char* name;
        Shot shot;
        int x, y;
        const std::vector<std::uint32_t>* source;  // shown from (fromX, fromY) on; null: the window
        int sourceWidth, fromX, fromY;
    } cases[] = {
        {"screen-sized screenshot", Shot::ScreenSized, 30, 20, &saved, 320, 30, 20},
        {"window-sized screenshot", Shot::WindowSized, 30, 20, &small, 100, 0, 0},
        {"freed pixmap", Shot::Gone, 30, 20, nullptr, 320, 30, 20},
        {"no screenshot", Shot::None, 250, 200, nullptr, 320, 250, 200},
        {"partly off screen", Shot::ScreenSized, 250, 200, &saved, 320, 250, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t window = client_->CreateWindow(c.x, c.y, 100, 60);
        if (c.shot == Shot::ScreenSized) {
            ASSERT_NE(client_->LeaveScreenshot(window, saved, 320, 240), 0u);
        } else if (c.shot == Shot::WindowSized) {
            ASSERT_NE(client_->LeaveScreenshot(window, small, 100, 60), 0u);
        }
        if (c.shot == Shot::Gone)
            client_->NameScreenshot(window, 0x3FFFFFF);
        std::vector<std::uint32_t> captured;
        int w = 0, h = 0;
        ASSERT_TRUE(backend_->CaptureWindow(window, captured, w, h));
        ASSERT_EQ(w, 100);
        ASSERT_EQ(h, 60);
        std::size_t wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int sx = c.fromX + x, sy = c.fromY + y;
                const bool inside = sx < c.sourceWidth && sy < 240;
                const std::uint32_t shown =
                    !inside ? 0u : !c.source ? 0xFFFFFFu : (*c.source)[std::size_t(sy) * c.sourceWidth + sx];
                const std::uint32_t want = 0xFF000000u | shown;
                wrong += captured[std::size_t(y) * w + x] != want;
            }
        EXPECT_EQ(wrong, 0u);
        client_->DestroyWindow(window);
    }
    std::vector<std::uint32_t> captured;
    int w = 0, h = 0;
    EXPECT_FALSE(backend_->CaptureWindow(0x3FFFFFF, captured, w, h)) << "no such window";
}

TEST_F(X11Backend, ModesAndTheDesktopModeComeFromRandR)
{
    // 7.5 MHz over 400 x 250 dots is 75 Hz.
    const bool added = client_->AddMode("halvora-test", 300, 200, 7500000, 400, 250);
    const std::vector<Mode> modes = backend_->Modes();
    const Mode desktop = backend_->DesktopMode();
    EXPECT_EQ(desktop.width, 320);
    EXPECT_EQ(desktop.height, 240);
    EXPECT_EQ(desktop.bitsPerPixel, 32);
    EXPECT_GT(desktop.refreshHz, 0);
    auto has = [&](const Mode& m) { return std::find(modes.begin(), modes.end(), m) != modes.end(); };
    for (int bits : {16, 32}) {
        EXPECT_TRUE(has({desktop.width, desktop.height, desktop.refreshHz, bits})) << bits;
        if (added) {
            EXPECT_TRUE(has({300, 200, 75, bits})) << bits;
        }
    }
    EXPECT_TRUE(std::is_sorted(modes.begin(), modes.end(), [](const Mode& a, const Mode& b) {
        return std::tie(a.width, a.height, a.bitsPerPixel, a.refreshHz) <
               std::tie(b.width, b.height, b.bitsPerPixel, b.refreshHz);
    }));
    if (!added)
        GTEST_SKIP() << "the server cannot add RandR modes; only the desktop mode was checked";
}

// A 16-bit screen: frames and the capture convert to and from R5G6B5.
class X11Shallow : public X11Fixture {
protected:
    static void SetUpTestSuite() { StartServer(16); }
};

TEST_F(X11Shallow, FramesConvertToTheVisualOnBothPaths)
{
    ASSERT_EQ(client_->Depth(), 16);
    PresentAndReadBack(PresentPath::SharedMemory, 8);
    setenv("HALVORA_NO_SHM", "1", 1);
    backend_ = platform::display::CreateX11(server_->Name().c_str());
    ASSERT_NE(backend_, nullptr);
    PresentAndReadBack(PresentPath::PutImage, 8);
}

TEST_F(X11Shallow, DesktopCaptureWidensAndTheDesktopModeIs16Bit)
{
    const auto picture = Pattern(320, 240, 320, 3);
    ASSERT_TRUE(client_->PaintRoot(picture, 320, 240));
    std::vector<std::uint32_t> captured;
    int w = 0, h = 0;
    ASSERT_TRUE(backend_->CaptureDesktop(captured, w, h));
    ASSERT_EQ(captured.size(), picture.size());
    int worst = 0;
    for (std::size_t i = 0; i < picture.size(); ++i)
        for (int shift : {0, 8, 16})
            worst = std::max(worst, std::abs(int((picture[i] >> shift) & 0xFF) - int((captured[i] >> shift) & 0xFF)));
    EXPECT_LE(worst, 8);
    EXPECT_EQ(backend_->DesktopMode().bitsPerPixel, 16);
}

// A palette screen has no channel layout to convert to: the backend says so and refuses.
class X11Palette : public X11Fixture {
protected:
    static void SetUpTestSuite() { StartServer(8); }
};

TEST_F(X11Palette, PresentAndCaptureAreRefusedClearly)
{
    const NativeId popup = backend_->CreatePopup(0, 0, 16, 16, "Palette");
    ASSERT_NE(popup, 0u);
    std::vector<std::uint32_t> pixels(256, 0x00FF8040u);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(backend_->Present(popup, {pixels.data(), 16, 16, 64}));
    EXPECT_FALSE(backend_->Present(popup, {pixels.data(), 16, 16, 64}));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TrueColor"), std::string::npos) << err;
    EXPECT_EQ(err.find("TrueColor"), err.rfind("TrueColor")) << "said once: " << err;
    std::vector<std::uint32_t> captured;
    int w = 0, h = 0;
    EXPECT_FALSE(backend_->CaptureDesktop(captured, w, h));
}

// Killing the server mid-run: the backend reports it once and every call fails quietly.
TEST(X11ConnectionLoss, ServerGoingAwayIsReportedAndLeavesTheBackendInert)
{
    PrivateServer server(200, 150, 24);
    if (!server.Ok())
        GTEST_SKIP() << server.Problem();
    auto backend = platform::display::CreateX11(server.Name().c_str());
    ASSERT_NE(backend, nullptr);
    const NativeId popup = backend->CreatePopup(0, 0, 50, 50, "Loss");
    ASSERT_NE(popup, 0u);
    server.Kill();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(WaitFor([&] {
        Event e;
        while (backend->NextEvent(e)) {
        }
        std::vector<std::uint32_t> pixels(4);
        backend->Present(popup, {pixels.data(), 2, 2, 8});
        return backend->ConnectionLost();
    }));
    std::vector<std::uint32_t> pixels(4);
    EXPECT_FALSE(backend->Present(popup, {pixels.data(), 2, 2, 8}));
    EXPECT_EQ(backend->CreatePopup(0, 0, 5, 5, "after"), 0u);
    EXPECT_EQ(backend->EventFd(), -1);
    std::vector<std::uint32_t> desktop;
    int w, h;
    EXPECT_FALSE(backend->CaptureDesktop(desktop, w, h));
    backend.reset();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("connection to the X server was lost"), std::string::npos) << err;

    // A later connection starts clean.
    PrivateServer again(100, 100, 24);
    ASSERT_TRUE(again.Ok());
    auto fresh = platform::display::CreateX11(again.Name().c_str());
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(fresh->ConnectionLost());
    EXPECT_NE(fresh->CreatePopup(0, 0, 5, 5, "fresh"), 0u);
}

}  // namespace
