#include "framework/uD3DApp.h"

#include "app/uC.h"
#include "app/uRunState.h"
#include "app/uXScreenSaver.h"
#include "common/uFormats.h"
#include "framework/uD3DGlobals.h"
#include "framework/uErrors.h"
#include "framework/uFrameRate.h"
#include "render/uCaps.h"
#include "render/uLog.h"
#include "scene/uBasic.h"
#include "scene/uGroup.h"
#include "scene/uInput.h"

TD3DApplication* App = nullptr;

const char* const SaverWindowClass = "[Tzo] HalvoraWindow";

namespace {

constexpr DWORD ChildWindowStyle = WS_CHILD | WS_VISIBLE | WS_DISABLED;  // 0x58000000
constexpr DWORD PopupWindowStyle = WS_POPUP | WS_VISIBLE;                // 0x90000000
constexpr BOOL WindowedTrue = -1;

const D3DFORMAT TextureFormatPreference[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, D3DFMT_A1R5G5B5, D3DFMT_R5G6B5};

template <typename T>
void SafeRelease(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

void Log(const char* routine, const std::string& text)
{
    WriteLog(std::string("TD3DApplication.") + routine + ": " + text);
}

void NotifyFocusObject()
{
    if (FocusObject)
        FocusObject->OnMouse();
}

}  // namespace

TD3DApplication::TD3DApplication(HWND window)
{
    SafeRelease(Device);
    SafeRelease(D3D);
    hWnd = window;
    hWndFocus = nullptr;
    IsWindowed = WindowedTrue;
    Active = FALSE;
    Ready = FALSE;
    DeviceStats.clear();
    WindowTitle = "[Tzo] Halvora Screensaver";
    FullscreenStyle = WS_POPUP | WS_VISIBLE | WS_SYSMENU;  // 0x90080000
}

TD3DApplication::~TD3DApplication() = default;

HRESULT TD3DApplication::FailStart(HRESULT code, const char* line)
{
    SafeRelease(D3D);
    DisplayErrorMsg(code, ekExit);
    Log("Create_", line);
    return code;
}

HRESULT TD3DApplication::CreateSaverWindow(HINSTANCE instance)
{
    WNDCLASSA windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = ScreensaverWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(101));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = SaverWindowClass;
    RegisterClassA(&windowClass);

    if (ParentWindow) {
        RECT parent{};
        GetWindowRect(ParentWindow, &parent);
        hWnd = CreateWindowExA(0, SaverWindowClass, WindowTitle.c_str(), ChildWindowStyle, 0, 0,
                               parent.right - parent.left, parent.bottom - parent.top, ParentWindow, nullptr,
                               instance, nullptr);
    } else {
        hWnd = CreateWindowExA(0, SaverWindowClass, WindowTitle.c_str(), PopupWindowStyle, 0, 0, Options.Width,
                               Options.Height, nullptr, nullptr, instance, nullptr);
        if (hWnd)
            SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW);
    }
    Log("Create_", hWnd ? "CreateWindow succeeded" : "CreateWindow failed");
    return hWnd ? S_OK : D3DAPPERR_NOWINDOW;
}

HRESULT TD3DApplication::Create_(HINSTANCE instance)
{
    Log("Create_", "----->>start");
    D3D = Direct3DCreate8(D3D_SDK_VERSION);
    if (!D3D) {
        DisplayErrorMsg(D3DAPPERR_NODIRECT3D, ekExit);
        Log("Create_", "Interface creation failed");
        return D3DAPPERR_NODIRECT3D;
    }
    Log("Create_", "Interface creation succeeded");

    HRESULT result = BuildDeviceList();
    if (FAILED(result))
        return FailStart(result, "Build device list failed");
    Log("Create_", "Build device list succeeded");

    if (!hWnd)
        CreateSaverWindow(instance);  // a failure is only logged; the device creation then fails
    SetWindowTextA(hWnd, WindowTitle.c_str());
    if (!hWndFocus)
        hWndFocus = hWnd;
    WindowStyle = static_cast<DWORD>(GetWindowLongA(hWnd, GWL_STYLE));
    GetWindowRect(hWnd, &WindowBounds);
    GetClientRect(hWnd, &ClientRect);
    Log("Create_", "Save window properties succeeded");

    result = Initialize3DEnvironment();
    if (FAILED(result))
        return FailStart(result, "Initialize3DEnvironment failed");
    Log("Create_", "Initialize3DEnvironment succeeded");

    ApplyStartWindowMode();

    result = OneTimeSceneInit();
    if (FAILED(result))
        return FailStart(result, "OneTimeSceneInit failed");
    Log("Create_", "OneTimeSceneInit succeeded");

    Ready = TRUE;
    Log("Create_", "<<-----end");
    WriteLog("");
    return S_OK;
}

HRESULT TD3DApplication::BuildDeviceList()
{
    AdapterOrdinal = D3DADAPTER_DEFAULT;
    DeviceType = D3DDEVTYPE_HAL;
    BehaviorFlags = D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_FPU_PRESERVE;
    D3D->GetDeviceCaps(AdapterOrdinal, DeviceType, &Caps);
    DeviceCaps = Caps;
    D3DDISPLAYMODE mode{};
    D3D->GetAdapterDisplayMode(AdapterOrdinal, &mode);
    DesktopFormat = mode.Format;
    FullscreenWidth = Options.Width;
    FullscreenHeight = Options.Height;
    FullscreenFormat = static_cast<D3DFORMAT>(Options.Format);
    CanRenderWindowed = (Caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED) != 0;
    SetBestTextureFormat();
    ConfirmCaps();
    WriteAdapterReport(GetLogFileName(), D3D);
    return S_OK;
}

void TD3DApplication::SetBestTextureFormat()
{
    const D3DFORMAT adapterFormat = Options.Windowed ? DesktopFormat : FullscreenFormat;
    int first = 0;
    switch (FormatBitDepth(static_cast<uint32_t>(adapterFormat))) {
    case 32:
        first = 0;
        break;
    case 16:
        first = 1;
        break;
    default:
        ReportError("TD3DApplication.SetBestTextureFormat: Format pixel depth is not equal 16 or 32");
        return;
    }
    TextureFormat = D3DFMT_UNKNOWN;
    for (int i = first; i < 4; ++i) {
        if (SUCCEEDED(D3D->CheckDeviceFormat(AdapterOrdinal, DeviceType, adapterFormat, 0, D3DRTYPE_TEXTURE,
                                             TextureFormatPreference[i]))) {
            TextureFormat = TextureFormatPreference[i];
            return;
        }
    }
    ReportError("No valid texture format");
}

void TD3DApplication::FillPresentParams()
{
    PresentParams = D3DPRESENT_PARAMETERS{};
    if (Options.Windowed) {
        PresentParams.BackBufferWidth = static_cast<UINT>(ClientRect.right - ClientRect.left);
        PresentParams.BackBufferHeight = static_cast<UINT>(ClientRect.bottom - ClientRect.top);
        PresentParams.BackBufferFormat = DesktopFormat;
        PresentParams.Windowed = TRUE;
    } else {
        PresentParams.BackBufferWidth = static_cast<UINT>(FullscreenWidth);
        PresentParams.BackBufferHeight = static_cast<UINT>(FullscreenHeight);
        PresentParams.BackBufferFormat = FullscreenFormat;
        PresentParams.Windowed = FALSE;
        PresentParams.FullScreen_RefreshRateInHz = static_cast<UINT>(Options.RefreshRate);
    }
    PresentParams.BackBufferCount = 0;
    PresentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
    PresentParams.SwapEffect = D3DSWAPEFFECT_COPY;
    PresentParams.hDeviceWindow = hWnd;
    PresentParams.EnableAutoDepthStencil = FALSE;
    PresentParams.AutoDepthStencilFormat = D3DFMT_UNKNOWN;
    PresentParams.Flags = 0;
    PresentParams.FullScreen_PresentationInterval = 0;
}

HRESULT TD3DApplication::Initialize3DEnvironment()
{
    Log("Initialize3DEnvironment", "----->>start");
    AdjustWindowForChange();
    FillPresentParams();
    if (Caps.PrimitiveMiscCaps & D3DPMISCCAPS_NULLREFERENCE)
        DisplayErrorMsg(D3DAPPERR_NULLREFDEVICE, ekWarning);

    HRESULT result = CreateDevice();
    if (SUCCEEDED(result)) {
        CreateRenderTargets();
        result = InitDeviceObjects();
        if (FAILED(result)) {
            Log("Initialize3DEnvironment", "InitDeviceObjects failed");
        } else {
            Log("Initialize3DEnvironment", "InitDeviceObjects succeeded");
            result = RestoreDeviceObjects();
            if (FAILED(result)) {
                Log("Initialize3DEnvironment", "RestoreDeviceObjects failed");
            } else {
                Log("Initialize3DEnvironment", "RestoreDeviceObjects succeeded");
                Active = TRUE;
                Log("Initialize3DEnvironment", "DeviceStats=\"" + DeviceStats + "\"");
                Log("Initialize3DEnvironment", "<<-----end");
                return S_OK;
            }
        }
        InvalidateDeviceObjects();
        DeleteDeviceObjects();
        SafeRelease(Device);
    }
    Log("Initialize3DEnvironment", "<<-----end");
    WriteLog("");
    return result;
}

HRESULT TD3DApplication::CreateDevice()
{
    SafeRelease(Device);
    return D3D->CreateDevice(AdapterOrdinal, DeviceType, hWndFocus, BehaviorFlags, &PresentParams, &Device);
}

HRESULT TD3DApplication::CreateRenderTargets()
{
    SafeRelease(DefaultRenderTarget);
    HRESULT result = Device->GetRenderTarget(&DefaultRenderTarget);
    Log("CreateRenderTargets", std::string("Device.GetRenderTarget(DefaultRenderTarget) ") +
                                   (SUCCEEDED(result) ? "succeeded" : "failed"));
    if (FAILED(result))
        return result;
    IDirect3DSurface8** targets[] = {&Surf1, &Surf2};
    const char* names[] = {"Surf1", "Surf2"};
    for (int i = 0; i < 2; ++i) {
        SafeRelease(*targets[i]);
        result = Device->CreateRenderTarget(2, 2, PresentParams.BackBufferFormat, D3DMULTISAMPLE_NONE, TRUE,
                                            targets[i]);
        Log("CreateRenderTargets", std::string("Device.CreateRenderTarget ") + names[i] +
                                       (SUCCEEDED(result) ? " succeeded" : " failed"));
        if (FAILED(result))
            return result;
    }
    return result;
}

HRESULT TD3DApplication::AdjustWindowForChange()
{
    if (IsWindowed) {
        SetWindowLongA(hWnd, GWL_STYLE, static_cast<LONG>(WindowStyle));
    } else {
        SetWindowLongA(hWnd, GWL_STYLE, static_cast<LONG>(FullscreenStyle));
        SetMenu(hWnd, nullptr);
    }
    return S_OK;
}

HRESULT TD3DApplication::Resize3DEnvironment()
{
    HRESULT result = InvalidateDeviceObjects();
    if (FAILED(result))
        return result;
    // A failed reset is its callers' to report: it ends in a message box when it matters.
    result = Device->Reset(&PresentParams);
    if (FAILED(result))
        return result;
    return RestoreDeviceObjects();
}

HRESULT TD3DApplication::ToggleFullscreen()
{
    if (!IsWindowed && !CanRenderWindowed)
        return ForceWindowed();
    Ready = FALSE;
    IsWindowed = IsWindowed ? FALSE : WindowedTrue;
    AdjustWindowForChange();

    PresentParams.Windowed = IsWindowed ? TRUE : FALSE;
    PresentParams.hDeviceWindow = hWnd;
    if (IsWindowed) {
        PresentParams.BackBufferWidth = static_cast<UINT>(ClientRect.right - ClientRect.left);
        PresentParams.BackBufferHeight = static_cast<UINT>(ClientRect.bottom - ClientRect.top);
        PresentParams.BackBufferFormat = DesktopFormat;
        // A windowed device takes no refresh rate: keeping the full-screen one makes the
        // reset fail and the start fall back to a second device creation.
        PresentParams.FullScreen_RefreshRateInHz = 0;
    } else {
        PresentParams.BackBufferWidth = static_cast<UINT>(FullscreenWidth);
        PresentParams.BackBufferHeight = static_cast<UINT>(FullscreenHeight);
        PresentParams.BackBufferFormat = FullscreenFormat;  // the refresh rate keeps its last value
    }
    // The window mode requested here; the restore inside the reset may rewrite IsWindowed.
    const bool nowWindowed = PresentParams.Windowed != FALSE;
    if (FAILED(Resize3DEnvironment()))
        return nowWindowed ? ForceWindowed() : E_FAIL;
    if (IsWindowed)
        SetWindowPos(hWnd, HWND_NOTOPMOST, WindowBounds.left, WindowBounds.top,
                     WindowBounds.right - WindowBounds.left, WindowBounds.bottom - WindowBounds.top, SWP_SHOWWINDOW);
    Ready = TRUE;
    return S_OK;
}

HRESULT TD3DApplication::ForceWindowed()
{
    IsWindowed = WindowedTrue;
    Ready = FALSE;
    InvalidateDeviceObjects();
    DeleteDeviceObjects();
    SafeRelease(Device);
    const HRESULT result = Initialize3DEnvironment();
    if (FAILED(result))
        return DisplayErrorMsg(result, ekExit);
    Ready = TRUE;
    return S_OK;
}

void TD3DApplication::ApplyStartWindowMode()
{
    if (!Options.Windowed)
        ToggleFullscreen();
}

HRESULT TD3DApplication::RequestToggleFullscreen(bool force)
{
    if (force || (Active && Ready)) {
        if (FAILED(ToggleFullscreen()))
            return DisplayErrorMsg(D3DAPPERR_RESIZEFAILED, ekExit);
    }
    return S_OK;
}

HRESULT TD3DApplication::Render3DEnvironment()
{
    const HRESULT level = Device->TestCooperativeLevel();
    if (level == D3DERR_DEVICELOST)
        return S_OK;
    if (level == D3DERR_DEVICENOTRESET) {
        if (IsWindowed)
            PresentParams.BackBufferFormat = DesktopFormat;
        return Resize3DEnvironment();
    }
    if (FAILED(level))
        return level;

    CheckResult(Device->SetRenderTarget(DefaultRenderTarget, nullptr));
    CheckResult(Device->BeginScene());
    if (SceneRoot)
        SceneRoot->Render();
    RenderOverlay();
    CheckResult(Device->EndScene());
    const HRESULT presented = Device->Present(nullptr, nullptr, nullptr, nullptr);
    if (SUCCEEDED(presented))
        TFrameRateReport::Process().Presented(FrameRateClockSeconds());
    return presented;
}

void TD3DApplication::Cleanup3DEnvironment()
{
    Active = FALSE;
    Ready = FALSE;
    if (Device) {
        DeleteDeviceObjects();
        SafeRelease(Device);
        SafeRelease(D3D);
    }
    FinalCleanup();
}

HRESULT TD3DApplication::DisplayErrorMsg(HRESULT code, int kind)
{
    const std::string text = ErrorBoxText(code, kind);
    if (kind == ekExit) {
        MessageBoxA(nullptr, text.c_str(), WindowTitle.c_str(), MB_ICONERROR);
        if (hWnd && IsWindow(hWnd))
            SendMessageA(hWnd, WM_CLOSE, 0, 0);
    } else {
        MessageBoxA(nullptr, text.c_str(), WindowTitle.c_str(), MB_ICONWARNING);
    }
    return code;
}

void TD3DApplication::CloseApp(HWND window)
{
    // An error report from inside the close path sends WM_CLOSE again; one close is enough.
    if (Closing)
        return;
    Closing = true;
    // Without a device there is nothing to bring back to windowed operation.
    if (!Options.Windowed && Device)
        RequestToggleFullscreen(true);
    Cleanup3DEnvironment();
    if (IsWindow(window)) {
        if (HMENU menu = GetMenu(window))
            DestroyMenu(menu);
        DestroyWindow(window);
    }
    if (window == hWnd)
        hWnd = nullptr;
}

void RunFrameStep()
{
    if (!App)
        return;
    App->Render();
    Sleep(20);
    App->FrameMove();
    // A termination signal closes the same way a key does, so the device is released.
    if (QuitRequest == 1 || TerminationRequested())
        PostMessageA(App->hWnd, WM_CLOSE, 0, 0);
}

LRESULT ScreensaverWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        RunFrameStep();
        return 0;
    case WM_CLOSE:
        if (App)
            App->CloseApp(window);
        else
            DestroyWindow(window);
        return 0;
    case WM_KEYDOWN:
        if (wParam <= 254) {
            PressedKeys.Add(static_cast<uint8_t>(wParam));
            if (App)
                App->KeyDown(static_cast<WORD>(wParam));
        }
        return 0;
    case WM_MOUSEMOVE:
        if (Device && Mouse) {
            Mouse->SetPosition(LOWORD(static_cast<DWORD_PTR>(lParam)), HIWORD(static_cast<DWORD_PTR>(lParam)));
            NotifyFocusObject();
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        if (Mouse) {
            Mouse->SetButton(message);
            NotifyFocusObject();
        }
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
