#include "tests/framework/saver_sandbox.h"

#include "app/uC.h"
#include "app/uRunState.h"
#include "app/uXScreenSaver.h"
#include "framework/uD3DApp.h"
#include "framework/uD3DGlobals.h"
#include "framework/uMyApp.h"
#include "platform/d3d8/faults.h"
#include "platform/display/display.h"
#include "platform/win/msgbox.h"
#include "scene/uGroup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const SandboxVariables[] = {"HALVORA_REGISTRY", "HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                        "XDG_RUNTIME_DIR"};

void WriteText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string RegistryText(const std::string& dataFolder)
{
    std::string escaped;
    for (char c : dataFolder) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        escaped += c;
    }
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n"
           "\"DataPath\"=\"" +
           escaped + "\"\r\n";
}

std::string OptionsText(const TSandboxOptions& o)
{
    std::ostringstream text;
    text << "Preset               0\r\nWindowed             0\r\n"
         << "Width                " << o.Width << "\r\nHeight               " << o.Height << "\r\n"
         << "Format               X8R8G8B8\r\nRefreshRate          60\r\n"
         << "WindowBorder         0\r\nVSync                0\r\nSoundEnabled         0\r\n"
         << "WaitGPU              0\r\nAdvancedOpt          0\r\n"
         << "SpiralType           " << o.SpiralType << "\r\nSpiralCount          " << o.SpiralCount
         << "\r\nBlendMode            " << o.BlendMode << "\r\n";
    return text.str();
}

std::vector<TRecordedBox> RecordedBoxes;

}  // namespace

bool WindowLayerPresent()
{
    WNDCLASSA probe{};
    probe.lpfnWndProc = DefWindowProcA;
    probe.lpszClassName = "HalvoraTestProbe";
    RegisterClassA(&probe);
    HWND window = CreateWindowExA(0, "HalvoraTestProbe", "", WS_POPUP | WS_VISIBLE, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return false;
    DestroyWindow(window);
    DrainMessages();
    return true;
}

void StartRecordingMessageBoxes()
{
    RecordedBoxes.clear();
    platform::SetMessageBoxHookForTests([](const char* text, const char* caption, UINT type) {
        RecordedBoxes.push_back({text ? text : "", caption ? caption : "", type});
        return IDOK;
    });
}

void StopRecordingMessageBoxes() { platform::SetMessageBoxHookForTests(nullptr); }

const std::vector<TRecordedBox>& RecordedMessageBoxes() { return RecordedBoxes; }

std::string SourcePath(const std::string& relative) { return std::string(HALVORA_SOURCE_DIR) + "/" + relative; }
std::string BinaryPath(const std::string& relative) { return std::string(HALVORA_BINARY_DIR) + "/" + relative; }

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

SaverSandbox::SaverSandbox(const TSandboxOptions& options) : options_(options)
{
    std::string pattern = (fs::temp_directory_path() / "halvora-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "cannot create a sandbox folder";
    root_ = pattern;
    data_ = root_ + "/data";
    fs::create_directories(data_ + "/Textures");
    fs::create_directories(data_ + "/Particles");
    std::error_code error;
    fs::copy(BinaryPath("data"), data_, fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
    WriteText(root_ + "/registry.reg", RegistryText(data_));
    WriteText(data_ + "/Options.txt", OptionsText(options_));
    fs::create_directories(root_ + "/home");
    fs::create_directories(root_ + "/run");
    fs::permissions(root_ + "/run", fs::perms::owner_all, fs::perm_options::replace);

    setenv("HALVORA_REGISTRY", (root_ + "/registry.reg").c_str(), 1);
    setenv("HOME", (root_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/home/.config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root_ + "/home/.state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
    setenv("HALVORA_DISPLAY", "offscreen", 1);
    setenv("HALVORA_SCREEN", (std::to_string(options_.Width) + "x" + std::to_string(options_.Height)).c_str(), 1);
    unsetenv("HALVORA_FRAMES");
    unsetenv("HALVORA_CAPTURE");
    unsetenv("HALVORA_INPUT");
    unsetenv("HALVORA_DESKTOP");
}

SaverSandbox::~SaverSandbox()
{
    StopSaverInProcess();
    for (const char* name : SandboxVariables)
        unsetenv(name);
    std::error_code error;
    fs::remove_all(root_, error);
}

std::vector<std::string> SaverSandbox::LogLines() const
{
    std::vector<std::string> lines;
    std::istringstream text(ReadTextFile(data_ + "/Error.log"));
    std::string line;
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> SaverSandbox::Environment() const
{
    std::vector<std::string> env;
    for (const char* name :
         {"HALVORA_REGISTRY", "HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "HALVORA_SCREEN"})
        if (const char* value = std::getenv(name))
            env.push_back(std::string(name) + "=" + value);
    return env;
}

void SaverSandbox::LoadLikeTheEntry() const
{
    InitDataPaths();
    LoadOptions();
}

void ResetSaverGlobals()
{
    QuitRequest = 0;
    PressedKeys.Clear();
    ParentWindow = nullptr;
    FrameCount = 0;
    FrameStep = 1.0f;
    FrameStepSquared = 1.0f;
    ElapsedSteps = 0.0f;
    CameraDistance = 1.0f;
    TextureFormat = D3DFMT_UNKNOWN;
    ClearTerminationRequest();
}

HRESULT StartSaverInProcess(bool fullScreen)
{
    ResetSaverGlobals();
    platform::display::offscreen::Reset();
    Options.Windowed = !fullScreen;
    SetupScreenGeometry();
    App = new TMyApp();
    const HRESULT result = App->Create_(nullptr);
    App->ResetTimers();
    return result;
}

HRESULT StartPreviewInProcess(int parentWidth, int parentHeight, std::uint64_t& parent)
{
    Options.Windowed = true;
    Options.Width = 800;
    Options.Height = 600;
    ResetSaverGlobals();
    platform::display::offscreen::Reset();
    parent = platform::display::offscreen::CreateForeignWindow(0, 0, parentWidth, parentHeight);
    if (parent == 0)
        return E_FAIL;
    SetupScreenGeometry();
    ParentWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(parent));
    App = new TMyApp();
    const HRESULT result = App->Create_(nullptr);
    App->ResetTimers();
    return result;
}

bool QuitsWithin(int frames)
{
    for (int i = 0; i < frames; ++i) {
        RunFrameStep();
        if (!DrainMessages())
            return true;
    }
    return false;
}

bool DrainMessages()
{
    MSG message{};
    for (int guard = 0; guard < 10000; ++guard) {
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            return true;
        if (message.message == WM_QUIT)
            return false;
        if (message.message == WM_PAINT)
            return true;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return true;
}

void StepFrames(int count)
{
    for (int i = 0; i < count && App && App->hWnd; ++i) {
        RunFrameStep();
        if (!DrainMessages())
            break;
    }
}

void StopSaverInProcess()
{
    if (App) {
        if (App->hWnd && IsWindow(App->hWnd))
            SendMessageA(App->hWnd, WM_CLOSE, 0, 0);
        if (Device || SceneRoot)
            App->Cleanup3DEnvironment();
        delete App;
        App = nullptr;
    }
    DrainMessages();
    d3d8::faults::ClearAll();
}

void SandboxedSaverTest::NewSandbox()
{
    StopSaverInProcess();
    sandbox_.reset();  // a sandbox's end clears the environment the next one sets
    sandbox_ = std::make_unique<SaverSandbox>(options_);
    platform::display::offscreen::Reset();
    sandbox_->LoadLikeTheEntry();
}

void SandboxedSaverTest::SetUp()
{
    NewSandbox();
    ASSERT_TRUE(WindowLayerPresent()) << "no window can be created";
    StartRecordingMessageBoxes();
}

void SandboxedSaverTest::TearDown()
{
    StopSaverInProcess();
    StopRecordingMessageBoxes();
    sandbox_.reset();
}
