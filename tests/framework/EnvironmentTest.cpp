// The 3D environment through the device's fault hooks: the texture format, adapters that
// cannot render windowed or render nothing, the error boxes, resets.

#include "app/uC.h"
#include "framework/uD3DApp.h"
#include "framework/uD3DGlobals.h"
#include "framework/uErrors.h"
#include "platform/d3d8/faults.h"
#include "platform/display/display.h"
#include "render/uLog.h"
#include "tests/framework/saver_sandbox.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

std::size_t CountLines(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

const char* const kDepthError = "TD3DApplication.SetBestTextureFormat: Format pixel depth is not equal 16 or 32";

class Environment : public SandboxedSaverTest {
protected:
    testsupport::CapturedChannel channel_;  // debug messages, which would otherwise seek the monitor
};

// A 16-bit adapter format starts at A4R4G4B4, never A8R8G8B8; 32 bits takes A8R8G8B8; an
// unknown format (0) has no depth: reported, and the texture format stays unchosen.
TEST_F(Environment, TextureFormatFollowsTheAdapterFormatsDepth)
{
    struct Case {
        bool windowed;
        D3DFORMAT desktop, fullScreen, texture;
        bool depthError;
    } cases[] = {
        {true, D3DFMT_R5G6B5, D3DFMT_X8R8G8B8, D3DFMT_A4R4G4B4, false},
        {true, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A8R8G8B8, false},
        {false, D3DFMT_R5G6B5, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, false},
        {false, D3DFMT_X8R8G8B8, D3DFMT_UNKNOWN, D3DFMT_UNKNOWN, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.windowed) + " " + std::to_string(c.desktop) + " " + std::to_string(c.fullScreen));
        TD3DApplication app;  // clears the interface global
        D3D = Direct3DCreate8(D3D_SDK_VERSION);
        ASSERT_NE(D3D, nullptr);
        Options.Windowed = c.windowed;
        app.DesktopFormat = c.desktop;
        app.FullscreenFormat = c.fullScreen;
        TextureFormat = D3DFMT_UNKNOWN;
        const std::size_t before = CountLines(sandbox_->LogLines(), kDepthError);
        app.SetBestTextureFormat();
        EXPECT_EQ(TextureFormat, c.texture);
        EXPECT_EQ(CountLines(sandbox_->LogLines(), kDepthError) - before, c.depthError ? 1u : 0u);
        D3D->Release();
        D3D = nullptr;
    }
}

// Format 0 in full screen: the depth error, then a device asked for back-buffer format 0,
// which fails with a code the table does not name: the generic text, and the exit.
TEST_F(Environment, UnknownFullScreenFormatEndsWithTheGenericExitBox)
{
    Options.Format = 0;
    EXPECT_TRUE(FAILED(StartSaverInProcess(true)));
    EXPECT_EQ(CountLines(sandbox_->LogLines(), kDepthError), 1u);
    EXPECT_EQ(TextureFormat, D3DFMT_UNKNOWN);
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(RecordedMessageBoxes()[0].Text, ErrorBoxText(E_FAIL, ekExit));
    EXPECT_EQ(RecordedMessageBoxes()[0].Type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(App->hWnd && IsWindow(App->hWnd)) << "the exit box closes the saver";
}

// A device that reports the null reference rasterizer: a warning box, and the start goes on.
// One that cannot render windowed: the full-screen start builds the environment again, full
// screen, instead of resetting to windowed operation.
TEST_F(Environment, AdapterLimitsShowInTheStart)
{
    struct Case {
        const char* what;
        void (*fault)();
        std::size_t boxes, environments;
        bool windowed;
    } cases[] = {
        {"null reference", [] { d3d8::faults::SetNullReferenceDevice(true); }, 1, 1, true},
        {"cannot render windowed", [] { d3d8::faults::SetNoWindowedRendering(true); }, 0, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewSandbox();
        StartRecordingMessageBoxes();
        c.fault();
        ASSERT_EQ(StartSaverInProcess(true), S_OK);
        ASSERT_EQ(RecordedMessageBoxes().size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(RecordedMessageBoxes()[0].Text, ErrorBoxText(D3DAPPERR_NULLREFDEVICE, ekWarning));
            EXPECT_EQ(RecordedMessageBoxes()[0].Type, static_cast<UINT>(MB_ICONWARNING));
        }
        EXPECT_EQ(CountLines(sandbox_->LogLines(), "TD3DApplication.Initialize3DEnvironment: ----->>start"),
                  c.environments);
        EXPECT_EQ(App->PresentParams.Windowed != FALSE, c.windowed);
        StepFrames(3);
        EXPECT_TRUE(App->hWnd && IsWindow(App->hWnd)) << "the saver runs";
        d3d8::faults::ClearAll();
    }
}

// Warnings and the reference switch carry the warning icon, the exit the error icon; all are
// captioned with the window title, and only the exit closes the saver.
TEST_F(Environment, ErrorBoxesByKind)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    for (int kind : {ekWarning, ekSwitchedToRef, ekExit}) {
        SCOPED_TRACE(kind);
        StartRecordingMessageBoxes();
        EXPECT_EQ(App->DisplayErrorMsg(D3DERR_OUTOFVIDEOMEMORY, kind), D3DERR_OUTOFVIDEOMEMORY);
        ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
        EXPECT_EQ(RecordedMessageBoxes()[0].Text, ErrorBoxText(D3DERR_OUTOFVIDEOMEMORY, kind));
        EXPECT_EQ(RecordedMessageBoxes()[0].Caption, "[Tzo] Halvora Screensaver");
        EXPECT_EQ(RecordedMessageBoxes()[0].Type, static_cast<UINT>(kind == ekExit ? MB_ICONERROR : MB_ICONWARNING));
        EXPECT_EQ(App->hWnd && IsWindow(App->hWnd), kind != ekExit);
    }
}

// A failed reset is returned, not logged on the way: its callers decide what the user sees.
// Going full screen keeps the refresh rate the parameters hold.
TEST_F(Environment, ResetsLeaveReportingAndTheRefreshRateAlone)
{
    ASSERT_EQ(StartSaverInProcess(true), S_OK);
    d3d8::faults::FailNextReset(D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(App->Resize3DEnvironment(), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(CountLines(sandbox_->LogLines(), GetD3DErrorText(D3DERR_OUTOFVIDEOMEMORY)), 0u);
    EXPECT_EQ(App->Resize3DEnvironment(), S_OK);

    Options.RefreshRate = 75;  // a rate this screen has no mode for
    App->IsWindowed = TRUE;
    ASSERT_EQ(App->PresentParams.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(App->ToggleFullscreen(), S_OK);
    EXPECT_FALSE(App->PresentParams.Windowed);
    EXPECT_EQ(App->PresentParams.FullScreen_RefreshRateInHz, 0u);
    EXPECT_TRUE(RecordedMessageBoxes().empty());
}

}  // namespace
