#include "particles/uScreenFading.h"

#include "app/uC.h"
#include "framework/uD3DGlobals.h"
#include "particles/uWorld.h"
#include "scene/math/uMath.h"
#include "scene/uTexRect.h"

#include <algorithm>

TScreenFading* ScreenFading = nullptr;

namespace {

constexpr float SqueezeEnd = 100.0f;
constexpr float ShrinkEnd = 200.0f;
constexpr float FadeEnd = 280.0f;
constexpr float LineHeight = 0.01f;
constexpr float DotWidth = 0.007f;

constexpr uint32_t ClearWhite = 0x00FFFFFF;
constexpr uint32_t HalfWhite = 0x80FFFFFF;
constexpr uint32_t White = 0xFFFFFFFF;
constexpr uint32_t Black = 0xFF000000;

}  // namespace

TFadingFrame FadingAt(float t)
{
    TFadingFrame frame;
    if (t < SqueezeEnd) {
        const float a = std::min(1.0f, std::max((1.0f - t / 100.0f) * 1.33f, LineHeight));
        frame.SetImageScaleY = frame.SetCoverScaleY = true;
        frame.ImageScaleY = frame.CoverScaleY = a;
        frame.CoverColor = LerpColor(ClearWhite, HalfWhite, 1.0f - a);
    } else if (t < ShrinkEnd) {
        const float a = std::min(1.0f, std::max((1.0f - (t - 100.0f) / 100.0f) * 1.1f, DotWidth));
        frame.SetImageScaleX = frame.SetCoverScaleX = true;
        frame.ImageScaleX = frame.CoverScaleX = a;
        frame.CoverColor = LerpColor(HalfWhite, White, 1.0f - a);
    } else if (t < FadeEnd) {
        const float a = std::min(1.0f, std::max(1.0f - (t - 200.0f) / 80.0f, 0.0f));
        frame.CoverColor = LerpColor(White, Black, 1.0f - a);
        frame.SetCoverScaleX = frame.SetCoverScaleY = true;
        frame.CoverScaleX = DotWidth * a;
        frame.CoverScaleY = LineHeight * a;
        frame.ImageVisible = false;
    } else {
        frame.Done = true;
    }
    return frame;
}

TScreenFading::TScreenFading(const std::string& fileName)
{
    Image = AddChild(new TTexRect256(0, 0, fileName, true, 128));
    Image->StateBlocks[0] = 19;
    Image->UseWorldMatrix = true;
    Image->Scaled = true;
    Image->ScaleX = Image->ScaleY = 1.0f;

    Cover = AddChild(new TColorRect());
    Cover->StateBlocks[0] = 15;
    Cover->SetPixelRect(0, 0, Options.Width, Options.Height);
    Cover->SetColor(ClearWhite);
    Cover->UploadVertices();
    Cover->UseWorldMatrix = true;
    Cover->Scaled = true;
    Cover->ScaleX = Cover->ScaleY = 1.0f;
}

void TScreenFading::Update()
{
    const TFadingFrame frame = FadingAt(ElapsedSteps);
    if (frame.Done) {
        Dead = true;
        return;
    }
    if (frame.SetImageScaleX)
        Image->ScaleX = frame.ImageScaleX;
    if (frame.SetImageScaleY)
        Image->ScaleY = frame.ImageScaleY;
    if (frame.SetCoverScaleX)
        Cover->ScaleX = frame.CoverScaleX;
    if (frame.SetCoverScaleY)
        Cover->ScaleY = frame.CoverScaleY;
    Cover->SetColor(frame.CoverColor);
    Cover->UploadVertices();
    if (!frame.ImageVisible)
        Image->Visible = false;
}

TMyScreenFading::~TMyScreenFading()
{
    // The children go first, so the background is built once the picture's
    // textures are released.
    FreeChildren();
    First = Last = nullptr;
    ChildCount = 0;
    Image = nullptr;
    Cover = nullptr;
    if (SaverWorld)
        SaverWorld->Add(new TMenuBackGround());
    if (ScreenFading == this)
        ScreenFading = nullptr;
    // The desktop picture was the largest thing the saver held; the rest of the run lives
    // without it.
    HeapCompact(GetProcessHeap(), 0);
}
