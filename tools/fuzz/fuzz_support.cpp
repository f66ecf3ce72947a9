#include "tools/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "app/uC.h"
#include "common/uMonitor.h"

namespace fuzz {

const std::string& Scratch()
{
    static const std::string dir = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::filesystem::path p = base / ("halvora-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return dir;
}

std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    std::string path = Scratch() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

void Isolate()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const std::string& dir = Scratch();
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("HALVORA_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    setenv("HALVORA_DISPLAY", "offscreen", 1);
    DataDir = dir;
    OptionsPath = dir + "/Options.txt";
    SetMonitorHook([](const std::string&) {});
    SetMessageBoxHook([](const std::string&) {});
}

}  // namespace fuzz
