#include "app/uMain.h"

#include "app/uAppHooks.h"
#include "app/uC.h"
#include "app/uRunState.h"
#include "app/uSettings.h"
#include "app/uSettingsHook.h"
#include "app/uXScreenSaver.h"
#include "common/uFiles.h"
#include "render/uLog.h"
#include "render/uTGA.h"

#include <cstdint>

namespace {

std::vector<std::string> Arguments;
std::function<HRESULT(bool)> RunApplicationOverride;
std::function<bool()> RunSettingsOverride;

constexpr int32_t kFallbackWidth = 1024;
constexpr int32_t kFallbackHeight = 768;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

HRESULT StartApplication(bool fullScreen)
{
    return RunApplicationOverride ? RunApplicationOverride(fullScreen) : RunApplication(fullScreen);
}

typedef BOOL (*PwdChangePasswordProc)(LPCSTR, HWND, UINT, UINT);

// The desktop as top-down 32-bit pixels, read through the device context of the desktop, or
// of the window the saver will cover (its size then).
bool CaptureDesktop(HWND source, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels)
{
    RECT client{};
    const bool whole = source == GetDesktopWindow();
    if (!whole && !GetClientRect(source, &client))
        return false;
    width = whole ? GetSystemMetrics(SM_CXVIRTUALSCREEN) : client.right;
    height = whole ? GetSystemMetrics(SM_CYVIRTUALSCREEN) : client.bottom;
    if (width <= 0 || height <= 0 || static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxImagePixels)
        return false;
    HDC screen = GetDC(source);
    if (!screen)
        return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(screen, width, height) : nullptr;
    bool ok = false;
    if (bitmap) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
        SelectObject(memory, previous);
        if (ok) {
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = width;
            info.bmiHeader.biHeight = -height;  // top-down
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
            ok = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS) == height;
        }
        DeleteObject(bitmap);
    }
    if (memory)
        DeleteDC(memory);
    ReleaseDC(source, screen);
    return ok;
}

}  // namespace

void SetCommandLine(std::vector<std::string> arguments) { Arguments = std::move(arguments); }

std::string ParamStr(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= Arguments.size())
        return std::string();
    return Arguments[static_cast<std::size_t>(index)];
}

void SetRunApplicationOverride(std::function<HRESULT(bool)> run) { RunApplicationOverride = std::move(run); }
void SetRunSettingsOverride(std::function<bool()> run) { RunSettingsOverride = std::move(run); }

char SelectMode(const std::string& firstArgument)
{
    if (firstArgument.empty())
        return 0;
    return UpperAscii(firstArgument.size() == 1 ? firstArgument[0] : firstArgument[1]);
}

void Dispatch(char modeLetter)
{
    RunMode = modeLetter;
    switch (modeLetter) {
    case 'A':
        ChangePassword();
        break;
    case 'C':
        RunSettings();
        break;
    case 'P':
        RunPreview();
        break;
    case 'S':
        RunFullScreen();
        break;
    default:
        break;
    }
}

void ChangePassword()
{
    HMODULE library = LoadLibraryA("MPR.DLL");
    if (reinterpret_cast<uintptr_t>(library) <= 32)
        return;
    if (FARPROC proc = GetProcAddress(library, "PwdChangePasswordA"))
        reinterpret_cast<PwdChangePasswordProc>(reinterpret_cast<void (*)()>(proc))("SCRSAVE", ParseWindowHandle(ParamStr(2)), 0, 0);
    FreeLibrary(library);
}

bool RunSettings()
{
    return RunSettingsOverride ? RunSettingsOverride() : RunSettingsDialog();
}

void RunPreview()
{
    Options.Windowed = true;
    Options.Width = 800;
    Options.Height = 600;
    SetupScreenGeometry();
    ParentWindow = ParseWindowHandle(ParamStr(2));
    StartApplication(false);
}

void RunFullScreen()
{
    Options.Windowed = false;
    // A record cleared by the first-run dialog (or a damaged file) has no usable size.
    if (Options.Width < 1 || Options.Height < 1 || Options.Width > kMaxScreenSide || Options.Height > kMaxScreenSide) {
        Options.Width = kFallbackWidth;
        Options.Height = kFallbackHeight;
    }
    SetupScreenGeometry();
    ParentWindow = ParseWindowHandle(ParamStr(2));
    StartApplication(true);
}

void PumpMessages(bool hideCursor)
{
    if (hideCursor)
        ShowCursor(FALSE);
    MSG message{};
    // -1 is an error, not a message: looping on it would never end.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (hideCursor)
        ShowCursor(TRUE);
}

bool SnapshotDesktop(const std::string& targetPath, HWND source)
{
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    if (!CaptureDesktop(source ? source : GetDesktopWindow(), width, height, pixels)) {
        ReportError("uMain.SnapshotDesktop: desktop capture failed");
        return false;
    }
    const std::string bitmapFile = CreatePrivateTempFile("halvora-snapshot-", ".bmp");
    if (bitmapFile.empty()) {
        ReportError("uMain.SnapshotDesktop: cannot create a temporary bitmap");
        return false;
    }
    bool ok = SaveBMP(bitmapFile, width, height, pixels);
    std::vector<uint32_t>().swap(pixels);  // a large screen's copy is not kept through the conversion
    if (!ok)
        ReportError("uMain.SnapshotDesktop: cannot write " + bitmapFile);
    ok = ok && BitmapToTGA(bitmapFile, targetPath);
    DeleteFileA(bitmapFile.c_str());
    return ok;
}

int HalvoraMain(int argc, char** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.emplace_back(argv[i] ? argv[i] : "");
    SetCommandLine(arguments);

    InitDataPaths();
    if (RunXScreenSaverMode(arguments))
        return 0;
    SnapshotDesktop(DataDir + "\\Textures\\Screen.tga");
    if (!LoadOptions() && !RunSettings())
        UseFirstRunOptions();  // nobody to ask: run as the first run would have saved, saving nothing
    Dispatch(SelectMode(ParamStr(1)));
    return 0;
}
