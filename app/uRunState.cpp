#include "app/uRunState.h"

#include "app/uC.h"
#include "common/uStrings.h"

#include <algorithm>
#include <cstring>

char RunMode = 0;
HWND ParentWindow = nullptr;
uint8_t QuitRequest = 0;
TKeySet PressedKeys;

float ScreenBottom = 0;
float ScreenTop = 0;
float ScreenLeft = 0;
float ScreenRight = 0;
float ViewWidth = 0;
float ViewHeight = 0;
float HalfViewWidth = 0;
float HalfViewHeight = 0;
float PixelSize = 0;
float HalfPixelSize = 0;

std::vector<float> ColumnX(kMinGeometryTable, 0.0f);
std::vector<float> RowY(kMinGeometryTable, 0.0f);

void TKeySet::Clear() { std::memset(Bits, 0, sizeof Bits); }

bool TKeySet::operator==(const TKeySet& other) const { return std::memcmp(Bits, other.Bits, sizeof Bits) == 0; }

TKeySet MakeKeySet(std::initializer_list<uint8_t> keys)
{
    TKeySet set;
    for (uint8_t key : keys)
        set.Add(key);
    return set;
}

bool SetupScreenGeometry()
{
    const int32_t w = Options.Width, h = Options.Height;
    if (w < 1 || h < 1 || w > kMaxScreenSide || h > kMaxScreenSide)
        return false;
    using Ext = long double;
    Options.HalfWidth = w / 2;
    Options.HalfHeight = h / 2;
    ScreenBottom = -1.0f;
    ScreenTop = 1.0f;
    ScreenLeft = static_cast<float>(-static_cast<Ext>(w) / h);
    ScreenRight = static_cast<float>(static_cast<Ext>(w) / h);
    ViewWidth = static_cast<float>(static_cast<Ext>(ScreenRight) - ScreenLeft);
    ViewHeight = static_cast<float>(static_cast<Ext>(ScreenTop) - ScreenBottom);
    HalfViewWidth = static_cast<float>(static_cast<Ext>(ViewWidth) * 0.5L);
    HalfViewHeight = static_cast<float>(static_cast<Ext>(ViewHeight) * 0.5L);
    PixelSize = static_cast<float>(static_cast<Ext>(ViewWidth) / w);
    HalfPixelSize = static_cast<float>(static_cast<Ext>(PixelSize) / 2);

    ColumnX.assign(static_cast<std::size_t>(std::max(w, kMinGeometryTable)), 0.0f);
    RowY.assign(static_cast<std::size_t>(std::max(h, kMinGeometryTable)), 0.0f);
    for (int32_t i = 0; i < w; ++i)
        ColumnX[i] = static_cast<float>(static_cast<Ext>(i) * PixelSize - ScreenRight + HalfPixelSize);
    for (int32_t j = 0; j < h; ++j)
        RowY[j] = static_cast<float>(-static_cast<Ext>(j) * PixelSize + ScreenTop + HalfPixelSize);
    return true;
}

HWND ParseWindowHandle(const std::string& text)
{
    std::size_t consumed = 0;
    const int32_t value = StrToIntVal(text, consumed);
    if (text.empty() || consumed != text.size())
        return nullptr;
    // Window handles are 32-bit values; widen without sign.
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<uint32_t>(value)));
}
