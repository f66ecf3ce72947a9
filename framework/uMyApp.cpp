#include "framework/uMyApp.h"

#include "app/uC.h"
#include "app/uRunState.h"
#include "framework/uD3DGlobals.h"
#include "render/uLog.h"
#include "scene/uGroup.h"
#include "scene/uInput.h"

TTimeArray* FrameTimes = nullptr;

namespace {

constexpr long double SmoothingFactor = 0.01L;
constexpr long double TicksPerSecond = 60.0L;

template <typename T>
void SafeRelease(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

}  // namespace

float NextFrameStep(float step, float averageSeconds)
{
    const long double current = step;
    return static_cast<float>(current + (static_cast<long double>(averageSeconds) * TicksPerSecond - current) *
                                            SmoothingFactor);
}

TMyApp::TMyApp() : TD3DApplication(nullptr) {}

TMyApp::~TMyApp()
{
    delete FrameTimes;
    FrameTimes = nullptr;
    if (App == this)
        App = nullptr;
}

void TMyApp::ConfirmCaps()
{
    SquareTexturesOnly = (DeviceCaps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) != 0;
    MirrorAddressing = (DeviceCaps.TextureAddressCaps & D3DPTADDRESSCAPS_MIRROR) != 0;
}

HRESULT TMyApp::ToggleFullscreen() { return TD3DApplication::ToggleFullscreen(); }

HRESULT TMyApp::OneTimeSceneInit()
{
    const HRESULT result = InitInput(hWnd);
    if (SUCCEEDED(result))
        new TGroup();  // the constructor publishes itself as SceneRoot
    return result;
}

HRESULT TMyApp::InitDeviceObjects() { return S_OK; }
HRESULT TMyApp::FinalCleanup() { return S_OK; }
void TMyApp::RenderOverlay() {}

HRESULT TMyApp::RestoreDeviceObjects()
{
    SafeRelease(DefaultRenderTarget);
    Device->GetRenderTarget(&DefaultRenderTarget);
    SafeRelease(Surf1);
    CheckResult(Device->CreateRenderTarget(2, 2, PresentParams.BackBufferFormat, D3DMULTISAMPLE_NONE, TRUE, &Surf1));
    SafeRelease(Surf2);
    CheckResult(Device->CreateRenderTarget(2, 2, PresentParams.BackBufferFormat, D3DMULTISAMPLE_NONE, TRUE, &Surf2));
    const HRESULT result = SceneRoot ? SceneRoot->RestoreDeviceObjects() : S_OK;
    IsWindowed = Options.Windowed ? -1 : FALSE;
    return result;
}

HRESULT TMyApp::InvalidateDeviceObjects()
{
    if (Device)
        Device->SetRenderTarget(DefaultRenderTarget, nullptr);
    SafeRelease(DefaultRenderTarget);
    SafeRelease(Surf1);
    SafeRelease(Surf2);
    if (SceneRoot)
        SceneRoot->InvalidateDeviceObjects();
    return S_OK;
}

HRESULT TMyApp::DeleteDeviceObjects()
{
    delete SceneRoot;
    SceneRoot = nullptr;
    FreeInput();
    return S_OK;
}

void TMyApp::ResetTimers()
{
    Start(RenderTimer, 0.0f);
    delete FrameTimes;
    FrameTimes = new TTimeArray();
}

bool TMyApp::KeyDown(WORD key)
{
    if (SceneRoot && SceneRoot->OnKeyDown(key))
        return true;
    bool equal = false;
    if (PressedKeysEqual(MakeKeySet({VK_RETURN, VK_CONTROL}), equal) && equal) {
        RequestToggleFullscreen(false);
    } else if (PressedKeysEqual(MakeKeySet({VK_OEM_3}), equal) && equal) {
        // the console key: nothing is attached to it
    } else if (PressedKeysEqual(MakeKeySet({VK_CONTROL, 'X'}), equal) && equal) {
        QuitRequest = 1;
    }
    return true;
}

HRESULT TMyApp::FrameMove()
{
    if (SceneRoot)
        SceneRoot->FrameMove();
    FrameCount += 1;
    ElapsedSteps += FrameStep;
    if (Mouse)
        Mouse->FrameUpdate();
    if (!FrameTimes)
        FrameTimes = new TTimeArray();
    FrameTimes->Push();
    FrameStep = NextFrameStep(FrameStep, FrameTimes->AverageFrameTime(3));
    FrameStepSquared = FrameStep * FrameStep;
    return S_OK;
}

HRESULT TMyApp::Render()
{
    if (!Device)
        return S_OK;
    const int frames = Poll(RenderTimer);
    HRESULT result = S_OK;
    for (int i = 0; i < frames; ++i) {
        result = Render3DEnvironment();
        if (FAILED(result))
            break;
    }
    return result;
}
