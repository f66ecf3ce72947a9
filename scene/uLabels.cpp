#include "scene/uLabels.h"

#include "app/uC.h"
#include "app/uRunState.h"
#include "framework/uD3DGlobals.h"
#include "render/uDebug.h"
#include "render/uLog.h"
#include "render/uStateBlocks.h"
#include "scene/math/uMath.h"
#include "scene/uInput.h"
#include "scene/uV.h"

#include <algorithm>
#include <cmath>

namespace {

// Two triangles from (x, top) down-right by the glyph's size, textured with its rectangle.
void WriteGlyph(TDiffuseTexVertex*& v, const TGlyphRec& g, float x, float top, D3DCOLOR color)
{
    const float t = top - g.GlyphTop;
    const float b = t - g.GlyphHeight;
    const float r = x + g.GlyphWidth;
    const float corners[6][4] = {{x, t, g.U0, g.V0}, {r, t, g.U1, g.V0}, {x, b, g.U0, g.V1},
                                 {r, t, g.U1, g.V0}, {x, b, g.U0, g.V1}, {r, b, g.U1, g.V1}};
    for (const auto& c : corners) {
        *v++ = {c[0], c[1], 0.0f, color, c[2], c[3]};
    }
}

void ColorAll(TVisual& visual, D3DCOLOR c)
{
    auto* v = visual.VerticesAs<TDiffuseTexVertex>();
    for (int32_t i = 0; v && i < visual.VertexCount; ++i)
        v[i].Color = c;
}

// Rounded to an even number of pixels, so that half of it is still on the pixel grid.
float EvenPixels(float size)
{
    const int32_t n = WorldToPixels(size);
    return (n % 2 != 0) ? (n + 1) * PixelSize : size;
}

}  // namespace

// ---------------------------------------------------------------- TTexLabel

TTexLabel::TTexLabel(TIndexedTextureFont* Font_, int32_t SpacingPixels, const std::string& Text_)
{
    Font = Font_;
    Spacing = SpacingPixels * PixelSize;
    Text = Text_.empty() ? "?" : Text_;
    LabelColor = 0xFFFFFFFF;
    SetPrimitiveType(D3DPT_TRIANGLELIST);
    SetVertexType(vkDiffuseTex);
    SetVertexCount(static_cast<int32_t>(Text.size()) * 6);
    FillPeaks();
    RestoreDeviceObjects();  // creates the buffer and uploads
    StateBlock = 19;
}

void TTexLabel::FillPeaks()
{
    auto* v = VerticesAs<TDiffuseTexVertex>();
    if (!Font || !v)
        return;
    float w = 0.0f;
    float h = 0.0f;
    Font->MeasureText(Text, w, h, Spacing);
    SetWidth(w);
    SetHeight(h);
    std::fill(v, v + VertexCount, TDiffuseTexVertex{});
    float x = -w / 2;
    for (char c : Text) {
        const TGlyphRec* g = Font->GetLetterRec(c);
        if (!g)
            continue;  // its six vertices stay degenerate
        WriteGlyph(v, *g, x, h / 2, LabelColor);
        x += g->GlyphWidth + Spacing;
    }
}

void TTexLabel::PrepareRender()
{
    BindStream();
    ApplyBlock(StateBlock);
    ST(0, Font ? Font->Texture : nullptr);
    SetWorldTransform(true);
}

void TTexLabel::SetVertexColors(D3DCOLOR C) { ColorAll(*this, C); }

void TTexLabel::SetColor(D3DCOLOR C)
{
    if (C == LabelColor)
        return;
    LabelColor = C;
    SetVertexColors(C);
    UploadVertices();
}

void TTexLabel::SetPixelPos(int32_t X, int32_t Y)
{
    SetLeft((X - 0.5f) * PixelSize - HalfViewWidth);
    SetTop((-Y + 0.5f) * PixelSize + HalfViewHeight);
}

void TTexLabel::SetPosSnapped(float X, float Y)
{
    SnapToPixel(X, Y);
    SetLeft(X);
    SetTop(Y);
}

// ---------------------------------------------------------------- TTexLabelEx

TTexLabelEx::TTexLabelEx(const TTexLabelExParams& Params)
{
    Font = Params.Font;
    LetterSpacing = Params.LetterSpacing * PixelSize;
    LineSpacing = Params.LineSpacing * PixelSize;
    HAlign = Params.HAlign;
    VAlign = Params.VAlign;
    Text = Params.Text.empty() ? "?" : Params.Text;
    SplitLines();
    SetPrimitiveType(D3DPT_TRIANGLELIST);
    SetVertexType(vkDiffuseTex);
    SetVertexCount(static_cast<int32_t>(Text.size()) * 6);
    SnapToPixels = true;
    FillPeaks();
    RestoreDeviceObjects();
    LabelStateBlocks[0] = 19;
}

void TTexLabelEx::SplitLines()
{
    LineCount = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t brk = Text.find('\n', start);
        if (LineCount == kMaxLines) {
            ReportError("TTexLabelEx: more than " + std::to_string(kMaxLines) + " lines, the rest is not shown");
            break;
        }
        Lines[LineCount++] = Text.substr(start, brk == std::string::npos ? std::string::npos : brk - start);
        if (brk == std::string::npos)
            break;
        start = brk + 1;
    }
}

void TTexLabelEx::FillPeaks()
{
    auto* v = VerticesAs<TDiffuseTexVertex>();
    if (!Font || !v)
        return;
    float widths[kMaxLines];
    float lineHeight = 0.0f;
    float w = 0.0f;
    for (int32_t i = 0; i < LineCount; ++i) {
        Font->MeasureText(Lines[i], widths[i], lineHeight, LetterSpacing);
        w = std::max(w, widths[i]);
    }
    float h = LineCount * Font->LineHeight * PixelSize + (LineCount - 1) * LineSpacing;
    if (SnapToPixels) {
        w = EvenPixels(w);
        h = EvenPixels(h);
    }

    std::fill(v, v + VertexCount, TDiffuseTexVertex{});
    float top = VAlign == 1 ? h : VAlign == 2 ? 0.0f : h / 2;
    float firstX = 0.0f;
    float firstTop = top;
    for (int32_t i = 0; i < LineCount; ++i) {
        float x = HAlign == 1 ? 0.0f : HAlign == 2 ? -widths[i] : -widths[i] / 2;
        float y = top;
        if (SnapToPixels) {
            SnapToPixel(x, y);
            x += HalfPixelSize;
            y += HalfPixelSize;
        }
        if (i == 0) {
            firstX = x;
            firstTop = y;
        }
        for (char c : Lines[i]) {
            const TGlyphRec* g = Font->GetLetterRec(c);
            if (!g)
                continue;
            WriteGlyph(v, *g, x, y, LabelColor);
            x += g->GlyphWidth + LetterSpacing;
        }
        top -= lineHeight + LineSpacing;
    }
    SetWidth(w);
    SetHeight(h);
    PixelLeft = WorldToPixelX(firstX);
    PixelTop = WorldToPixelY(firstTop);
    PixelWidth = WorldToPixels(w);
    PixelHeight = WorldToPixels(h);
}

void TTexLabelEx::PrepareRender()
{
    BindStream();
    for (int32_t block : LabelStateBlocks)
        ApplyBlock(block);
    if (Scaled)
        ApplyBlock(30);
    ST(0, Font ? Font->Texture : nullptr);
    SetWorldTransform(true);
}

bool TTexLabelEx::IsMouseOver()
{
    if (!Mouse)
        return false;
    int32_t left = WorldToPixelX(CentreX);
    int32_t top = WorldToPixelY(CentreY);
    left -= HAlign == 0 ? PixelWidth / 2 : HAlign == 2 ? PixelWidth : 0;
    top -= VAlign == 0 ? PixelHeight / 2 : VAlign == 1 ? PixelHeight : 0;
    return Mouse->IsInRect({left, top, PixelWidth, PixelHeight});
}

void TTexLabelEx::SetColor(D3DCOLOR C)
{
    if (C == LabelColor)
        return;
    LabelColor = C;
    SetVertexColors(C);
    UploadVertices();
}

void TTexLabelEx::SetVertexColors(D3DCOLOR C) { ColorAll(*this, C); }
