// The running saver in-process on the offscreen display with its virtual clock.

#include "app/uC.h"
#include "app/uRunState.h"
#include "framework/uD3DApp.h"
#include "framework/uD3DGlobals.h"
#include "framework/uErrors.h"
#include "framework/uMyApp.h"
#include "particles/uScreenFading.h"
#include "particles/uWorld.h"
#include "platform/d3d8/faults.h"
#include "platform/display/display.h"
#include "app/uAppHooks.h"
#include "scene/uGroup.h"
#include "tests/framework/saver_sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

namespace offscreen = platform::display::offscreen;

// Records the device walks it receives, so their order around a reset shows.
class TWalkProbe : public TBasic {
public:
    explicit TWalkProbe(std::vector<std::string>& calls) : Calls(calls) {}
    HRESULT RestoreDeviceObjects() override
    {
        Calls.push_back("restore");
        return S_OK;
    }
    void InvalidateDeviceObjects() override { Calls.push_back("invalidate"); }
    std::vector<std::string>& Calls;
};

bool AnyPixelLit(const offscreen::PresentedFrame& frame)
{
    return std::any_of(frame.pixels.begin(), frame.pixels.end(), [](uint32_t p) {
        return ((p >> 16) & 0xFF) > 64 || ((p >> 8) & 0xFF) > 64 || (p & 0xFF) > 64;
    });
}

std::size_t CountLines(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

// True when Wanted appears in Lines in this order (other lines may come between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted, std::string& missing)
{
    auto at = lines.begin();
    for (const std::string& w : wanted) {
        at = std::find(at, lines.end(), w);
        if (at == lines.end()) {
            missing = w;
            return false;
        }
        ++at;
    }
    return true;
}

TSandboxOptions TwoSpirals()
{
    TSandboxOptions options;
    options.SpiralCount = 2;  // enough to see them; keeps the many frames here quick
    return options;
}

class SaverRun : public SandboxedSaverTest {
protected:
    SaverRun() : SandboxedSaverTest(TwoSpirals()) {}

    // Steps frames until the background exists (the fading handed over), at most Limit.
    bool StepUntilBackground(int limit = 2000)
    {
        for (int i = 0; i < limit && !Background; ++i)
            StepFrames(1);
        return Background != nullptr;
    }

    // Outlives the tree that TearDown closes, so a probe in it can still record the last walk.
    std::vector<std::string> walkCalls_;
};

TEST_F(SaverRun, NormalStartWritesItsLogInOrder)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    const std::vector<std::string> lines = sandbox_->LogLines();
    std::string missing;
    EXPECT_TRUE(InOrder(lines,
                        {"TD3DApplication.Create_: ----->>start",
                         "TD3DApplication.Create_: Interface creation succeeded",
                         "TD3DApplication.Create_: Build device list succeeded",
                         "TD3DApplication.Create_: CreateWindow succeeded",
                         "TD3DApplication.Create_: Save window properties succeeded",
                         "TD3DApplication.Initialize3DEnvironment: ----->>start",
                         "TD3DApplication.CreateRenderTargets: Device.GetRenderTarget(DefaultRenderTarget) succeeded",
                         "TD3DApplication.CreateRenderTargets: Device.CreateRenderTarget Surf1 succeeded",
                         "TD3DApplication.CreateRenderTargets: Device.CreateRenderTarget Surf2 succeeded",
                         "TD3DApplication.Initialize3DEnvironment: InitDeviceObjects succeeded",
                         "TD3DApplication.Initialize3DEnvironment: RestoreDeviceObjects succeeded",
                         "TD3DApplication.Initialize3DEnvironment: DeviceStats=\"\"",
                         "TD3DApplication.Initialize3DEnvironment: <<-----end",
                         "TD3DApplication.Create_: Initialize3DEnvironment succeeded",
                         "TD3DApplication.Create_: OneTimeSceneInit succeeded", "TD3DApplication.Create_: <<-----end",
                         ""},
                        missing))
        << "missing or out of order: " << missing;
    EXPECT_EQ(CountLines(lines, "TD3DApplication.Initialize3DEnvironment: ----->>start"), 1u);
    // The root is built after both device set-ups, so its walk has not run yet.
    EXPECT_EQ(CountLines(lines, "TGroup.RestoreDeviceObjects: ----->>start"), 0u);
    // The adapter report sits between the interface and the device list lines.
    const auto interface = std::find(lines.begin(), lines.end(), "TD3DApplication.Create_: Interface creation succeeded");
    const auto list = std::find(lines.begin(), lines.end(), "TD3DApplication.Create_: Build device list succeeded");
    EXPECT_GT(std::distance(interface, list), 3);
    EXPECT_TRUE(RecordedMessageBoxes().empty());
    // Full screen: created full screen, then rendering windowed into the topmost popup.
    EXPECT_FALSE(App->IsWindowed);
    EXPECT_TRUE(App->PresentParams.Windowed);
    EXPECT_EQ(App->PresentParams.BackBufferWidth, 320u);
    EXPECT_EQ(App->PresentParams.BackBufferHeight, 240u);
    EXPECT_EQ(TextureFormat, D3DFMT_A8R8G8B8);
}

TEST_F(SaverRun, FadingHandsOverToTheBackground)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    EXPECT_EQ(SaverWorld, nullptr);
    StepFrames(1);
    ASSERT_NE(SaverWorld, nullptr);
    ASSERT_NE(ScreenFading, nullptr);
    EXPECT_EQ(FocusObject, SaverWorld);
    EXPECT_EQ(SceneRoot->ChildCount, 3);
    ASSERT_TRUE(StepUntilBackground());
    EXPECT_EQ(ScreenFading, nullptr);
    EXPECT_GE(ElapsedSteps, 280.0f);
    EXPECT_EQ(Background->ChildCount, 4);  // master, overlay, 2 spirals
    EXPECT_EQ(Background->FadeIn, 100);
    EXPECT_EQ(SaverWorld->ChildCount, 1);
}

TEST_F(SaverRun, FadeInUncoversTheSpiralsAndRestsOnTheTrailOverlay)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    ASSERT_TRUE(StepUntilBackground());
    StepFrames(1);
    EXPECT_EQ(Background->FadeIn, 99);
    StepFrames(98);
    EXPECT_EQ(Background->FadeIn, 1);
    StepFrames(1);
    EXPECT_EQ(Background->FadeIn, 0);
    StepFrames(20);
    EXPECT_EQ(Background->FadeIn, 0);
    EXPECT_EQ(OverlayColor(Background->FadeIn, Background->MouseMoves), OverlayRestingColor);
    offscreen::PresentedFrame frame;
    ASSERT_TRUE(offscreen::LastFrame(frame));
    EXPECT_TRUE(AnyPixelLit(frame)) << "spirals are drawn";
}

TEST_F(SaverRun, MouseRules)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    ElapsedSteps = 300.0f;  // the fading ends at its first update
    StepFrames(2);
    ASSERT_NE(Background, nullptr);
    ASSERT_LT(FrameCount, 10u);
    SendMessageA(App->hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(QuitRequest, 0) << "a click before frame 10 is ignored";
    StepFrames(12);

    // Slow moves: one every 5 frames is forgiven by the decay.
    for (int i = 0; i < 60; ++i) {
        SendMessageA(App->hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(10 + i, 10));
        StepFrames(5);
    }
    EXPECT_EQ(QuitRequest, 0);
    StepFrames(40);
    EXPECT_EQ(Background->MouseMoves, 0);

    for (int i = 0; i < 31; ++i)
        SendMessageA(App->hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(i, i));
    EXPECT_EQ(QuitRequest, 0) << "31 moves do not quit";
    SendMessageA(App->hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(40, 40));
    EXPECT_EQ(QuitRequest, 1) << "the 32nd does";
}

TEST_F(SaverRun, AClickAfterTenFramesQuits)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    ElapsedSteps = 300.0f;
    StepFrames(12);
    ASSERT_NE(Background, nullptr);
    SendMessageA(App->hWnd, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(QuitRequest, 1);
    StepFrames(1);
    EXPECT_EQ(App->hWnd, nullptr) << "the saver window is gone";
    EXPECT_EQ(Device, nullptr);
    EXPECT_EQ(SceneRoot, nullptr);
}

TEST_F(SaverRun, AKeyQuitsInEveryPhase)
{
    struct Phase {
        const char* Name;
        int Frames;  // frame steps before the key; -1: until the background exists
        int Extra;
    };
    const Phase phases[] = {{"fading", 1, 0}, {"fading late", 150, 0}, {"fade-in", -1, 20}, {"resting", -1, 150}};
    for (const Phase& p : phases) {
        ASSERT_EQ(StartSaverInProcess(true), S_OK) << p.Name;
        if (p.Frames < 0)
            ASSERT_TRUE(StepUntilBackground()) << p.Name;
        else
            StepFrames(p.Frames);
        StepFrames(p.Extra);
        SendMessageA(App->hWnd, WM_KEYDOWN, 'A', 0);
        EXPECT_EQ(QuitRequest, 1) << p.Name;
        StepFrames(1);
        EXPECT_EQ(App->hWnd, nullptr) << p.Name;
        EXPECT_EQ(Device, nullptr) << p.Name;
        StopSaverInProcess();
    }
}

TEST_F(SaverRun, ChordsBeforeTheWorldExists)
{
    struct Case {
        std::vector<WPARAM> Keys;
        uint8_t Quit;
    };
    const Case cases[] = {
        {{VK_CONTROL, 'X'}, 1},
        {{'X', VK_CONTROL}, 1},
        {{'A', VK_CONTROL, 'X'}, 0},
        {{VK_OEM_3}, 0},
        {{VK_CONTROL, VK_RETURN}, 0},
        {{VK_CONTROL, 255, 'X'}, 1},  // 255 is not a key: ignored entirely
    };
    for (const Case& c : cases) {
        ASSERT_EQ(StartSaverInProcess(true), S_OK);
        for (WPARAM key : c.Keys)
            SendMessageA(App->hWnd, WM_KEYDOWN, key, 0);
        EXPECT_EQ(QuitRequest, c.Quit) << c.Keys.size();
        // The device survives the toggle chord and frames go on.
        const uint64_t before = offscreen::PresentedFrames();
        StepFrames(2);
        if (!c.Quit) {
            EXPECT_GT(offscreen::PresentedFrames(), before);
        }
        StopSaverInProcess();
    }
}

TEST_F(SaverRun, DeviceLostAndResetMidRun)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    ASSERT_TRUE(StepUntilBackground());
    StepFrames(120);  // past the fade-in from black
    std::vector<std::string>& calls = walkCalls_;
    SceneRoot->Add(new TWalkProbe(calls));

    for (int round = 0; round < 2; ++round) {
        calls.clear();
        d3d8::faults::LoseDevice(Device);
        const uint64_t before = offscreen::PresentedFrames();
        StepFrames(5);
        EXPECT_EQ(offscreen::PresentedFrames(), before) << "lost frames are skipped";
        EXPECT_EQ(QuitRequest, 0);
        d3d8::faults::AllowReset(Device);
        StepFrames(1);  // the reset
        StepFrames(5);
        EXPECT_GT(offscreen::PresentedFrames(), before) << "the picture goes on";
        // Still moving spirals, not a picture left over from before the loss.
        offscreen::PresentedFrame earlier, later;
        ASSERT_TRUE(offscreen::LastFrame(earlier));
        StepFrames(3);
        ASSERT_TRUE(offscreen::LastFrame(later));
        EXPECT_TRUE(AnyPixelLit(later)) << "round " << round;
        EXPECT_NE(earlier.pixels, later.pixels) << "round " << round;
        // The first reset finds no restore walk to undo; from then on both walks run.
        const std::vector<std::string> expected =
            round == 0 ? std::vector<std::string>{"restore"} : std::vector<std::string>{"invalidate", "restore"};
        EXPECT_EQ(calls, expected) << "round " << round;
    }
    const std::vector<std::string> lines = sandbox_->LogLines();
    EXPECT_EQ(CountLines(lines, "TGroup.RestoreDeviceObjects: ----->>start"), 2u);
    EXPECT_EQ(CountLines(lines, "TGroup.RestoreDeviceObjects: CreateLights succeeded"), 2u);
    EXPECT_EQ(CountLines(lines, "TGroup.RestoreDeviceObjects: <<-----end"), 2u);
}

TEST_F(SaverRun, FailedDeviceCreationReportsAndEndsCleanly)
{
    struct Case {
        HRESULT Failure;
        const char* Text;
    };
    const Case cases[] = {
        {E_OUTOFMEMORY, "Not enough memory.\n\nThis sample will now exit."},
        {D3DERR_OUTOFVIDEOMEMORY, "Not enough video memory.\n\nThis sample will now exit."},
        {D3DERR_NOTAVAILABLE,
         "Generic application error. Enable\ndebug output for detailed information.\n\nThis sample will now exit."},
    };
    for (const Case& c : cases) {
        StartRecordingMessageBoxes();
        d3d8::faults::FailNextCreateDevice(c.Failure);
        EXPECT_EQ(StartSaverInProcess(true), c.Failure);
        const std::vector<TRecordedBox> boxes = RecordedMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Text, c.Text);
        EXPECT_EQ(boxes[0].Caption, "[Tzo] Halvora Screensaver");
        EXPECT_EQ(Device, nullptr);
        EXPECT_EQ(D3D, nullptr);
        EXPECT_TRUE(App->hWnd == nullptr || !IsWindow(App->hWnd));
        EXPECT_FALSE(DrainMessages()) << "the report closed the window and the pump ends";
        StopSaverInProcess();
    }
    const std::vector<std::string> lines = sandbox_->LogLines();
    EXPECT_EQ(CountLines(lines, "TD3DApplication.Create_: Initialize3DEnvironment failed"), 3u);
}

TEST_F(SaverRun, AFailedToggleWhileClosingClosesOnce)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    StepFrames(3);
    // The toggle back to windowed fails, and so does the fresh device after it.
    d3d8::faults::FailNextReset(E_FAIL);
    d3d8::faults::FailNextCreateDevice(E_OUTOFMEMORY);
    SendMessageA(App->hWnd, WM_KEYDOWN, 'A', 0);
    StepFrames(1);
    EXPECT_EQ(App->hWnd, nullptr);
    EXPECT_EQ(Device, nullptr);
    EXPECT_EQ(SceneRoot, nullptr);
    EXPECT_FALSE(RecordedMessageBoxes().empty());
}

TEST_F(SaverRun, StartWithoutDirect3DEndsTheRunMode)
{
    d3d8::faults::SetDirect3DMissing(true);
    ResetSaverGlobals();
    d3d8::faults::SetDirect3DMissing(true);
    Options.Windowed = false;
    SetupScreenGeometry();
    // Returns at once: no window exists that could ever post WM_QUIT.
    EXPECT_EQ(RunApplication(true), D3DAPPERR_NODIRECT3D);
    EXPECT_EQ(App, nullptr);
    const std::vector<TRecordedBox> boxes = RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text.rfind("Could not initialize Direct3D.", 0), 0u);
}

TEST_F(SaverRun, PreviewChildEndsWithItsParent)
{
    std::uint64_t parent = 0;
    ASSERT_EQ(StartPreviewInProcess(200, 150, parent), S_OK);
    RECT bounds{};
    GetWindowRect(App->hWnd, &bounds);
    EXPECT_EQ(bounds.right - bounds.left, 200);
    EXPECT_EQ(bounds.bottom - bounds.top, 150);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(App->hWnd, GWL_STYLE)) & (WS_CHILD | WS_DISABLED),
              static_cast<DWORD>(WS_CHILD | WS_DISABLED));
    StepFrames(3);
    offscreen::DestroyForeignWindow(parent);
    EXPECT_TRUE(QuitsWithin(20)) << "the parent's end reaches the saver window";
    ParentWindow = nullptr;
}

}  // namespace
