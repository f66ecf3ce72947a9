#pragma once
// Mouse state fed by window messages, and the key-chord test on the keys seen pressed.

#include "app/uRunState.h"
#include "platform/win/windows.h"
#include "scene/math/uMath.h"

#include <cstdint>

class TMyMouse {
public:
    bool LeftDown = false;
    bool RightDown = false;
    uint8_t LeftEvent = 0;   // 0 none, 1 pressed, 2 released since the last frame update
    uint8_t RightEvent = 0;
    int32_t LastMoveFrame = -1;  // -1: never moved
    int32_t LastButtonFrame = -1;
    int32_t X = 0;
    int32_t Y = 0;

    // Msg is one of the four button messages; anything else is reported.
    void SetButton(UINT Msg);
    void SetPosition(int32_t NewX, int32_t NewY);
    void GetPosition(POINT& Point) const;
    void ClearEvents();
    // Button 0 left, 1 right: pressed since the last frame update.
    bool WasPressed(int32_t Button) const;
    bool IsInRect(const TPixelRect& Rect) const;
    int32_t FramesSinceMove() const;
    // The events are one-frame pulses: cleared right after the scene's frame update.
    void FrameUpdate();
};

extern TMyMouse* Mouse;

// Creates the DirectInput interface and, when that works, the global Mouse.
HRESULT InitInput(HWND Window);
void FreeInput();

// True (and Equal true) exactly when PressedKeys equals Pattern bit for bit.
bool PressedKeysEqual(const TKeySet& Pattern, bool& Equal);
