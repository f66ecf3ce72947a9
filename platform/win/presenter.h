// Where IDirect3DDevice8::Present sends its back buffer: the native window behind an HWND,
// or an in-memory presenter installed by tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/display/display.h"
#include "platform/win/windows.h"

namespace platform {

struct PresentFrame {
    const void* pixels;
    int width, height, pitchBytes;
    std::uint32_t format;  // D3DFORMAT code: X8R8G8B8, A8R8G8B8 or R5G6B5
    const display::UnchangedRuns* unchanged = nullptr;  // optional, for 32-bit formats
};

// false: no such window, or nothing to show the frame on.
bool PresentToWindow(HWND window, const PresentFrame& frame);
// Zero-filled memory for a surface that will be presented, which the display shows without
// copying it; nullptr when the display has none (ordinary memory serves then).
std::unique_ptr<display::SharedPixels> AllocateFramePixels(std::size_t bytes);
bool GetWindowClientSize(HWND window, int& width, int& height);
// Replaces the native presenter (nullptr restores it).
void SetPresentHookForTests(std::function<bool(HWND, const PresentFrame&)> hook);

}  // namespace platform
