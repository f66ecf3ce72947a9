#include "scene/uInput.h"

#include "framework/uD3DGlobals.h"
#include "platform/dinput8/dinput.h"
#include "render/uLog.h"

TMyMouse* Mouse = nullptr;

namespace {

IDirectInput8A* DirectInput = nullptr;

int32_t Frame() { return static_cast<int32_t>(FrameCount); }

}  // namespace

void TMyMouse::SetButton(UINT Msg)
{
    switch (Msg) {
    case WM_LBUTTONDOWN:
        LeftDown = true;
        LeftEvent = 1;
        break;
    case WM_LBUTTONUP:
        LeftDown = false;
        LeftEvent = 2;
        break;
    case WM_RBUTTONDOWN:
        RightDown = true;
        RightEvent = 1;
        break;
    case WM_RBUTTONUP:
        RightDown = false;
        RightEvent = 2;
        break;
    default: ReportError("TMyMouse.SetButton error : Invalid WM_Button value"); break;
    }
    LastButtonFrame = Frame();
}

void TMyMouse::SetPosition(int32_t NewX, int32_t NewY)
{
    LastMoveFrame = Frame();
    X = NewX;
    Y = NewY;
}

void TMyMouse::GetPosition(POINT& Point) const { Point = {X, Y}; }

void TMyMouse::ClearEvents()
{
    LeftEvent = 0;
    RightEvent = 0;
}

bool TMyMouse::WasPressed(int32_t Button) const
{
    switch (Button) {
    case 0: return LeftEvent == 1;
    case 1: return RightEvent == 1;
    default: return false;
    }
}

bool TMyMouse::IsInRect(const TPixelRect& Rect) const { return PointInRect(POINT{X, Y}, Rect); }

int32_t TMyMouse::FramesSinceMove() const
{
    if (LastMoveFrame == -1)
        return 2147483647;
    return static_cast<int32_t>(static_cast<uint32_t>(Frame()) - static_cast<uint32_t>(LastMoveFrame));
}

void TMyMouse::FrameUpdate() { ClearEvents(); }

HRESULT InitInput(HWND)
{
    FreeInput();  // a second set-up must not leak the first
    void* out = nullptr;
    const HRESULT hr = DirectInput8Create(GetModuleHandleA(nullptr), 0x0800, IID_IDirectInput8A, &out, nullptr);
    if (FAILED(hr))
        return hr;
    DirectInput = static_cast<IDirectInput8A*>(out);
    Mouse = new TMyMouse;
    return hr;
}

void FreeInput()
{
    delete Mouse;
    Mouse = nullptr;
    ReleaseRef(DirectInput);
}

bool PressedKeysEqual(const TKeySet& Pattern, bool& Equal)
{
    Equal = PressedKeys == Pattern;
    return Equal;
}
