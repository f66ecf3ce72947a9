// Whole frames of the running saver on the offscreen display.

#include "app/uC.h"
#include "app/uRunState.h"
#include "framework/uD3DApp.h"
#include "framework/uD3DGlobals.h"
#include "framework/uMyApp.h"
#include "particles/uWorld.h"
#include "platform/display/display.h"
#include "scene/uGroup.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A data folder copied from the build's, a registry naming it, and options for Width x Height.
class TBenchSandbox {
public:
    TBenchSandbox(int width, int height)
    {
        std::string pattern = (fs::temp_directory_path() / "halvora-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            root_ = pattern;
        const fs::path data = fs::path(root_) / "data";
        std::error_code error;
        fs::copy(fs::read_symlink("/proc/self/exe", error).parent_path().parent_path() / "data", data,
                 fs::copy_options::recursive, error);
        fs::create_directories(data / "Textures");
        std::ofstream(fs::path(root_) / "registry.reg")
            << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n"
            << "\"DataPath\"=\"" << data.string() << "\"\r\n";
        std::ofstream(data / "Options.txt") << "Preset 0\r\nWindowed 0\r\nWidth " << width << "\r\nHeight " << height
                                            << "\r\nFormat X8R8G8B8\r\nRefreshRate 60\r\nSpiralType 1\r\n"
                                            << "SpiralCount 8\r\nBlendMode 0\r\n";
        setenv("HALVORA_REGISTRY", (fs::path(root_) / "registry.reg").c_str(), 1);
        setenv("HOME", root_.c_str(), 1);
        setenv("XDG_STATE_HOME", root_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
        setenv("HALVORA_DISPLAY", "offscreen", 1);
        setenv("HALVORA_SCREEN", (std::to_string(width) + "x" + std::to_string(height)).c_str(), 1);
        unsetenv("HALVORA_FRAMES");
        unsetenv("HALVORA_CAPTURE");
        platform::display::offscreen::Reset();
        InitDataPaths();
        LoadOptions();
        Options.Windowed = false;
        SetupScreenGeometry();
    }
    ~TBenchSandbox()
    {
        std::error_code error;
        fs::remove_all(root_, error);
    }

private:
    std::string root_;
};

void StartApp()
{
    QuitRequest = 0;
    PressedKeys.Clear();
    FrameCount = 0;
    FrameStep = FrameStepSquared = 1.0f;
    ElapsedSteps = 0.0f;
    App = new TMyApp();
    App->Create_(nullptr);
    App->ResetTimers();
}

void StopApp()
{
    if (!App)
        return;
    if (App->hWnd)
        SendMessageA(App->hWnd, WM_CLOSE, 0, 0);
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && message.message != WM_PAINT &&
           message.message != WM_QUIT)
        DispatchMessageA(&message);
    delete App;
    App = nullptr;
}

// Past the fading and the fade-in, with the spirals' trails at full density.
void StartAtFullDensity(benchmark::State& state)
{
    StartApp();
    for (int i = 0; i < 3000 && !Background; ++i)
        RunFrameStep();
    for (int i = 0; i < 400; ++i)
        RunFrameStep();
    if (!Background)
        state.SkipWithError("the background never appeared");
}

void BM_SaverFrame1080p(benchmark::State& state)
{
    TBenchSandbox sandbox(1920, 1080);
    StartAtFullDensity(state);
    for (auto _ : state) {
        App->FrameMove();
        App->Render();
    }
    StopApp();
}
BENCHMARK(BM_SaverFrame1080p)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same frame as the running program draws it: after a real 20 ms sleep, when the
// caches may have cooled and the core may have slowed down.
void BM_SaverFrame1080pPaced(benchmark::State& state)
{
    TBenchSandbox sandbox(1920, 1080);
    StartAtFullDensity(state);
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        state.ResumeTiming();
        App->FrameMove();
        App->Render();
    }
    StopApp();
}
BENCHMARK(BM_SaverFrame1080pPaced)->Unit(benchmark::kMillisecond)->MinTime(4.0);

void BM_StartToFirstFrame(benchmark::State& state)
{
    TBenchSandbox sandbox(1920, 1080);
    for (auto _ : state) {
        StartApp();
        RunFrameStep();
        state.PauseTiming();
        StopApp();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
