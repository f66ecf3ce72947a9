#include "tests/d3d8/D3D8TestSupport.h"


#include <cstring>
#include <memory>

namespace d3d8test {

D3DPRESENT_PARAMETERS WindowedParams(UINT width, UINT height)
{
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.hDeviceWindow = TestWindow();
    p.Windowed = TRUE;
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    return p;
}

void DeviceTest::SetUp()
{
    d3d8::faults::ClearAll();
    platform::display::SetCurrentForTests(std::make_unique<FakeDisplay>());
    platform::SetPresentHookForTests([this](HWND window, const platform::PresentFrame& frame) {
        PresentedFrame f;
        f.window = window;
        f.width = frame.width;
        f.height = frame.height;
        f.format = frame.format;
        for (int y = 0; y < frame.height; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(frame.pixels) + y * frame.pitchBytes;
            for (int x = 0; x < frame.width; ++x) {
                std::uint32_t v = 0;
                std::memcpy(&v, row + 4 * x, 4);
                f.pixels.push_back(v);
            }
        }
        if (const platform::display::UnchangedRuns* u = frame.unchanged) {
            f.marked = true;
            f.sequence = u->sequence;
            for (int y = 0; y < frame.height; ++y) {
                bool all = true;
                for (int r = 0; r < u->perRow; ++r)
                    all = all && (u->flags[y * u->perRow + r] & u->bit);
                f.unchangedRows.push_back(all);
            }
        }
        Frames.push_back(std::move(f));
        return true;
    });
    D3D = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(D3D, nullptr);
    Params = WindowedParams();
    ASSERT_EQ(D3D->CreateDevice(0, D3DDEVTYPE_HAL, TestWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &Params,
                                &Device),
              D3D_OK);
}

void DeviceTest::TearDown()
{
    if (Device)
        ReleaseDevice();
    if (D3D) {
        EXPECT_EQ(D3D->Release(), 0u);
    }
    platform::SetPresentHookForTests(nullptr);
    platform::display::SetCurrentForTests(nullptr);
    d3d8::faults::ClearAll();
}

ULONG DeviceTest::ReleaseDevice()
{
    ULONG left = Device->Release();
    Device = nullptr;
    return left;
}

std::uint32_t DeviceTest::BackBufferPixel(int x, int y)
{
    IDirect3DSurface8* back = nullptr;
    EXPECT_EQ(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DLOCKED_RECT locked{};
    std::uint32_t value = 0xDEADBEEF;
    if (back && back->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
        std::memcpy(&value, static_cast<const std::uint8_t*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
        back->UnlockRect();
    }
    if (back)
        back->Release();
    return value & 0x00FFFFFF;
}

}  // namespace d3d8test
