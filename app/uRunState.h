#pragma once
// Process-wide run state and the screen geometry shared by all drawing code.

#include "platform/win/windows.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// A set of the 256 virtual-key codes, one bit per code.
struct TKeySet {
    uint8_t Bits[32] = {};

    void Add(uint8_t key) { Bits[key >> 3] = static_cast<uint8_t>(Bits[key >> 3] | (1u << (key & 7))); }
    bool Contains(uint8_t key) const { return (Bits[key >> 3] >> (key & 7)) & 1u; }
    void Clear();
    bool operator==(const TKeySet& other) const;
};

TKeySet MakeKeySet(std::initializer_list<uint8_t> keys);

// The mode letter the command line selected ('A', 'C', 'P', 'S', other, or 0 for none).
extern char RunMode;
extern HWND ParentWindow;
extern uint8_t QuitRequest;
extern TKeySet PressedKeys;

extern float ScreenBottom;
extern float ScreenTop;
extern float ScreenLeft;
extern float ScreenRight;
extern float ViewWidth;
extern float ViewHeight;
extern float HalfViewWidth;
extern float HalfViewHeight;
extern float PixelSize;
extern float HalfPixelSize;

// View x of each pixel column and view y of each pixel row. At least 4096
// entries each; they grow with the screen so no pixel index can overrun them.
extern std::vector<float> ColumnX;
extern std::vector<float> RowY;

constexpr int32_t kMinGeometryTable = 4096;
// Largest screen side the geometry accepts; the tables would otherwise grow without bound.
constexpr int32_t kMaxScreenSide = 16384;

// From Options.Width and Options.Height; false (nothing changed) when either is
// outside 1 .. kMaxScreenSide.
bool SetupScreenGeometry();
// The whole text as one integer, 0 when the text is empty or not all of it is a number.
HWND ParseWindowHandle(const std::string& text);
