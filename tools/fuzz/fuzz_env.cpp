// The HALVORA_* values the offscreen display reads. The first byte picks what the rest is:
// even: NUL-separated values of HALVORA_SCREEN, _FRAMES, _CAPTURE_EVERY, _INPUT, _CAPTURE, _DESKTOP;
// odd:  the contents of the HALVORA_DESKTOP picture file (PNG or TGA).
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/display/offscreen.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

using platform::display::OffscreenBackend;
using platform::display::OffscreenConfig;
using platform::display::ReadOffscreenConfig;
using platform::display::ScriptedInput;

const char* const kNames[] = {"HALVORA_SCREEN", "HALVORA_INPUT",   "HALVORA_FRAMES",
                              "HALVORA_CAPTURE_EVERY", "HALVORA_CAPTURE", "HALVORA_DESKTOP"};

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void CheckConfig(const OffscreenConfig& c)
{
    Check(c.screenWidth >= 1 && c.screenHeight >= 1 && c.screenWidth <= 16384 && c.screenHeight <= 16384);
    Check(!c.frames || *c.frames > 0);
    Check(c.captureEvery > 0);
    for (std::size_t i = 0; i < c.input.size(); ++i) {
        const ScriptedInput& item = c.input[i];
        Check(i == 0 || c.input[i - 1].frame <= item.frame);
        if (item.kind == ScriptedInput::Kind::Key)
            Check(item.vk >= 1 && item.vk <= 254);
        if (item.kind == ScriptedInput::Kind::Move)
            Check(std::abs(item.x) <= 32767 && std::abs(item.y) <= 32767);
    }
}

void Values(const std::string& text)
{
    std::size_t start = 0;
    for (const char* name : kNames) {
        if (start > text.size()) {
            unsetenv(name);
            continue;
        }
        std::size_t end = std::min(text.find('\0', start), text.size());
        setenv(name, text.substr(start, end - start).c_str(), 1);
        start = end + 1;
    }
    CheckConfig(ReadOffscreenConfig());
}

void DesktopPicture(const std::uint8_t* data, std::size_t size)
{
    for (const char* name : kNames)
        unsetenv(name);
    setenv("HALVORA_SCREEN", "160x120", 1);
    setenv("HALVORA_DESKTOP", fuzz::WriteInput("desktop.pic", data, size).c_str(), 1);
    OffscreenBackend backend(ReadOffscreenConfig());
    std::vector<std::uint32_t> pixels;
    int w = 0, h = 0;
    Check(backend.CaptureDesktop(pixels, w, h));
    Check(w == 160 && h == 120 && pixels.size() == 160u * 120u);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        Values(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    else
        DesktopPicture(data + 1, size - 1);
    return 0;
}
