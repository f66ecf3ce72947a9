#pragma once
// Text drawn from an indexed texture font: a single-line label and a multi-line label with
// alignment and pixel snapping. Geometry is built around the object's centre.

#include "scene/uFont.h"
#include "scene/uVisual.h"

#include <cstdint>
#include <string>

class TTexLabel : public TVisual {
public:
    const char* ClassName() const override { return "TTexLabel"; }
    TIndexedTextureFont* Font = nullptr;
    float Spacing = 0.0f;  // world units between letters
    std::string Text;
    int32_t StateBlock = 19;
    D3DCOLOR LabelColor = 0xFFFFFFFF;

    // Spacing in pixels; an empty text becomes "?".
    TTexLabel(TIndexedTextureFont* Font_, int32_t SpacingPixels, const std::string& Text_);

    void PrepareRender() override;
    void FillPeaks() override;

    virtual void SetVertexColors(D3DCOLOR C);
    virtual void SetColor(D3DCOLOR C);
    // Top-left corner at pixel (X, Y).
    virtual void SetPixelPos(int32_t X, int32_t Y);
    virtual void SetPosSnapped(float X, float Y);
};

struct TTexLabelExParams {
    TIndexedTextureFont* Font = nullptr;
    int32_t LetterSpacing = 0;  // pixels
    int32_t LineSpacing = 0;    // pixels, may be negative
    uint8_t HAlign = 0;         // 0 centred, 1 left edge at the position, 2 right edge
    uint8_t VAlign = 0;         // 0 centred, 1 bottom at the position, 2 top
    std::string Text;           // lines break at character 10
};

class TTexLabelEx : public TVisual {
public:
    const char* ClassName() const override { return "TTexLabelEx"; }
    static constexpr int32_t kMaxLines = 256;

    std::string Lines[kMaxLines];
    int32_t LineCount = 0;
    std::string Text;
    TIndexedTextureFont* Font = nullptr;
    float LetterSpacing = 0.0f;  // world units
    float LineSpacing = 0.0f;
    uint8_t HAlign = 0;
    uint8_t VAlign = 0;
    int32_t LabelStateBlocks[3] = {19, 0, 0};
    D3DCOLOR LabelColor = 0xFFFFFFFF;
    bool SnapToPixels = true;
    int32_t PixelLeft = 0;
    int32_t PixelTop = 0;
    int32_t PixelWidth = 0;
    int32_t PixelHeight = 0;

    explicit TTexLabelEx(const TTexLabelExParams& Params);

    void PrepareRender() override;
    bool IsMouseOver() override;
    void FillPeaks() override;

    virtual void SetColor(D3DCOLOR C);
    virtual void SetVertexColors(D3DCOLOR C);

private:
    void SplitLines();
};
