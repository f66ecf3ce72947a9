#pragma once
// A fixed display, a windowed test device and a presenter that keeps the presented frames.

#include "platform/d3d8/d3d8.h"
#include "platform/d3d8/faults.h"
#include "platform/display/display.h"
#include "platform/win/presenter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace d3d8test {

// A display with the modes 640x480@60, 1024x768@60 and @85 in 32 bits, 1024x768@60 in 16 bits,
// and a 32-bit 1024x768 desktop.
class FakeDisplay : public platform::display::Backend {
public:
    const char* Name() const override { return "offscreen"; }
    void ScreenSize(int& w, int& h) override { w = 1024, h = 768; }
    std::vector<platform::display::Mode> Modes() override
    {
        return {{640, 480, 60, 32}, {1024, 768, 60, 16}, {1024, 768, 60, 32}, {1024, 768, 85, 32}};
    }
    platform::display::Mode DesktopMode() override { return {1024, 768, 60, 32}; }
    platform::display::NativeId CreatePopup(int, int, int, int, const std::string&) override { return 0; }
    platform::display::NativeId CreateChild(platform::display::NativeId, int, int, int, int) override { return 0; }
    bool ForeignWindowRect(platform::display::NativeId, int&, int&, int&, int&) override { return false; }
    void DestroyWindow(platform::display::NativeId) override {}
    void SetTitle(platform::display::NativeId, const std::string&) override {}
    void SetTopmost(platform::display::NativeId, bool) override {}
    void MoveResize(platform::display::NativeId, int, int, int, int) override {}
    void SetCursorVisible(platform::display::NativeId, bool) override {}
    bool Present(platform::display::NativeId, const platform::display::Frame&) override { return true; }
    bool CaptureDesktop(std::vector<std::uint32_t>&, int&, int&) override { return false; }
    int EventFd() override { return -1; }
    bool NextEvent(platform::display::Event&) override { return false; }
    bool ConnectionLost() override { return false; }
};

struct PresentedFrame {
    HWND window = nullptr;
    int width = 0, height = 0;
    std::uint32_t format = 0;
    std::vector<std::uint32_t> pixels;  // 32-bit formats only
    // Rows whose runs the device marked all unchanged since its previous frame, when it
    // marked any.
    bool marked = false;
    std::uint64_t sequence = 0;
    std::vector<bool> unchangedRows;
};

inline D3DMATRIX IdentityForTest()
{
    D3DMATRIX m{};
    m.m[0][0] = m.m[1][1] = m.m[2][2] = m.m[3][3] = 1.0f;
    return m;
}

inline HWND TestWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x5150)); }

D3DPRESENT_PARAMETERS WindowedParams(UINT width = 64, UINT height = 32);

// Installs the fake display and the presenter hook; creates D3D and a windowed 64x32 device.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Releases the device; its last release returns the number of live resources.
    ULONG ReleaseDevice();
    std::uint32_t BackBufferPixel(int x, int y);

    IDirect3D8* D3D = nullptr;
    IDirect3DDevice8* Device = nullptr;
    D3DPRESENT_PARAMETERS Params{};
    std::vector<PresentedFrame> Frames;
};

}  // namespace d3d8test
