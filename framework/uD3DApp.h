#pragma once
// The application object: the saver window, the Direct3D interface and device,
// the order of the per-frame calls and the reporting of fatal errors.
//
// Lifecycle: construct -> Create_ (interface, device list, window, device, scene)
// -> a frame on every WM_PAINT (Render, 20 ms sleep, FrameMove) -> WM_CLOSE runs
// CloseApp (device released, window destroyed) -> WM_DESTROY ends the pump.

#include "platform/d3d8/d3d8.h"
#include "platform/win/windows.h"

#include <string>

class TD3DApplication {
public:
    explicit TD3DApplication(HWND window = nullptr);
    virtual ~TD3DApplication();

    TD3DApplication(const TD3DApplication&) = delete;
    TD3DApplication& operator=(const TD3DApplication&) = delete;

    // Hooks, in the framework's slot order.
    virtual void ConfirmCaps() {}
    virtual HRESULT CreateDevice();
    virtual HRESULT CreateRenderTargets();
    virtual HRESULT ToggleFullscreen();
    virtual void Reserved4() {}
    virtual HRESULT AdjustWindowForChange();
    virtual HRESULT Reserved6() { return S_OK; }
    virtual HRESULT OneTimeSceneInit() { return S_OK; }
    virtual HRESULT InitDeviceObjects() { return S_OK; }
    virtual HRESULT RestoreDeviceObjects() { return S_OK; }
    virtual HRESULT InvalidateDeviceObjects() { return S_OK; }
    virtual HRESULT DeleteDeviceObjects() { return S_OK; }
    virtual HRESULT FinalCleanup() { return S_OK; }
    virtual void ResetTimers() {}
    virtual void RenderOverlay() {}
    virtual bool KeyDown(WORD key) { return true; }
    virtual HRESULT Create_(HINSTANCE instance);
    virtual void Reserved17() {}
    virtual LRESULT Reserved18(HWND, UINT, WPARAM, LPARAM) { return 0; }
    virtual HRESULT FrameMove() { return S_OK; }
    virtual HRESULT Render() { return S_OK; }
    virtual void CloseApp(HWND window);

    HRESULT BuildDeviceList();
    void SetBestTextureFormat();
    HRESULT Initialize3DEnvironment();
    HRESULT Resize3DEnvironment();
    HRESULT ForceWindowed();
    void ApplyStartWindowMode();
    HRESULT RequestToggleFullscreen(bool force);
    HRESULT Render3DEnvironment();
    void Cleanup3DEnvironment();
    HRESULT DisplayErrorMsg(HRESULT code, int kind);

    UINT AdapterOrdinal = 0;
    D3DDEVTYPE DeviceType = D3DDEVTYPE_HAL;
    DWORD BehaviorFlags = 0;
    D3DCAPS8 Caps{};
    D3DFORMAT DesktopFormat = D3DFMT_UNKNOWN;
    int32_t FullscreenWidth = 0;
    int32_t FullscreenHeight = 0;
    D3DFORMAT FullscreenFormat = D3DFMT_UNKNOWN;
    bool CanRenderWindowed = false;
    BOOL IsWindowed = -1;  // true is all bits set
    BOOL Active = FALSE;
    BOOL Ready = FALSE;
    D3DPRESENT_PARAMETERS PresentParams{};
    HWND hWnd = nullptr;
    HWND hWndFocus = nullptr;
    RECT WindowBounds{};
    RECT ClientRect{};
    DWORD WindowStyle = 0;
    DWORD FullscreenStyle = 0;
    std::string DeviceStats;
    std::string WindowTitle;

private:
    HRESULT CreateSaverWindow(HINSTANCE instance);
    void FillPresentParams();
    HRESULT FailStart(HRESULT code, const char* line);

    bool Closing = false;
};

extern TD3DApplication* App;

extern const char* const SaverWindowClass;  // "[Tzo] HalvoraWindow"

LRESULT ScreensaverWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The frame step run on every WM_PAINT of the saver window.
void RunFrameStep();
