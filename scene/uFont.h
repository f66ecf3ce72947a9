#pragma once
// An indexed texture font: a glyph sheet on the device and one glyph record per character
// it can draw. The built-in font is a 5 x 7 pixel face in 6 x 8 cells; lower-case letters
// share the capitals' glyphs.

#include "scene/uBasic.h"

#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <string>
#include <vector>

struct TGlyphRec {
    float U0, V0, U1, V1;  // the glyph's rectangle on the sheet: left, top, right, bottom
    float GlyphWidth;      // world units: advance and quad width
    float GlyphHeight;
    float GlyphTop;        // offset down from the line top
    int32_t SheetX, SheetY;  // the cell's top-left texel on the sheet
};

class TIndexedTextureFont : public TBasic {
public:
    const char* ClassName() const override { return "TIndexedTextureFont"; }
    static constexpr int32_t kCellWidth = 6;
    static constexpr int32_t kCellHeight = 8;
    static constexpr int32_t kSheetWidth = 128;
    static constexpr int32_t kSheetHeight = 64;

    std::vector<TGlyphRec> Glyphs;  // one per character of Letters, in the same order
    std::string Letters;
    IDirect3DTexture8* Texture = nullptr;
    int32_t LineHeight = 10;  // pixels
    std::vector<uint32_t> SheetPixels;  // the sheet as 32-bit pixels, top row first

    // Builds the glyph table and, when a device exists, the sheet texture.
    TIndexedTextureFont();
    ~TIndexedTextureFont() override;

    HRESULT RestoreDeviceObjects() override;
    void InvalidateDeviceObjects() override;

    // Reports a character the font does not have and gives none.
    const TGlyphRec* GetLetterRec(char Char) const;
    // Without the report, for measuring.
    const TGlyphRec* FindLetterRec(char Char) const;
    // World size of one line: the glyph advances plus Spacing between letters, by the line height.
    virtual void MeasureText(const std::string& Text, float& Width, float& Height, float Spacing) const;

    // Whether the glyph of Char has its pixel (x, y) set, cell-relative.
    bool GlyphPixel(char Char, int32_t x, int32_t y) const;

private:
    void BuildGlyphs();
};
