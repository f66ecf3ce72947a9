#pragma once
// The screensaver's application: input and scene root set-up, the per-frame
// advance of the scene and of the global frame clock, and the key chords.

#include "framework/uD3DApp.h"
#include "scene/uTiming.h"

class TMyApp : public TD3DApplication {
public:
    TMyApp();
    ~TMyApp() override;

    void ConfirmCaps() override;
    HRESULT ToggleFullscreen() override;
    HRESULT OneTimeSceneInit() override;
    HRESULT InitDeviceObjects() override;
    HRESULT RestoreDeviceObjects() override;
    HRESULT InvalidateDeviceObjects() override;
    HRESULT DeleteDeviceObjects() override;
    HRESULT FinalCleanup() override;
    void ResetTimers() override;
    void RenderOverlay() override;
    bool KeyDown(WORD key) override;
    HRESULT FrameMove() override;
    HRESULT Render() override;

    TFrameTimer RenderTimer{};
};

// The frame-time history that FrameMove pushes to; recreated by ResetTimers.
extern TTimeArray* FrameTimes;

// One step of the smoothed frame duration: Step moves a hundredth of the way
// toward the measured average frame time (seconds) in 1/60-second ticks.
float NextFrameStep(float step, float averageSeconds);
