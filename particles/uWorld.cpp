#include "particles/uWorld.h"

#include "app/uC.h"
#include "app/uRunState.h"
#include "common/uMonitor.h"
#include "framework/uD3DGlobals.h"
#include "particles/uPartVisual.h"
#include "particles/uRandom.h"
#include "particles/uScreenFading.h"
#include "particles/uSpiral.h"
#include "render/uLog.h"
#include "scene/math/uMath.h"
#include "scene/uInput.h"
#include "scene/uGroup.h"
#include "scene/uLabels.h"
#include "scene/uPrior.h"
#include "scene/uTexRect.h"

#include <algorithm>
#include <cmath>

TW_SSaver* SaverWorld = nullptr;
TIndexedTextureFont* LabelFonts[2] = {nullptr, nullptr};
TMenuBackGround* Background = nullptr;

namespace {

constexpr int32_t QuitMoves = 32;
constexpr uint32_t MouseGraceFrames = 10;
constexpr int32_t RestFrames = 3;
constexpr int32_t FadeInFrames = 100;
constexpr int32_t FadeInBlackFrames = 50;
constexpr uint32_t OpaqueBlack = 0xFF000000;

void ReportUndefinedHook(const char* hook, const TBasic* self)
{
    DebugMessage(std::string("TW_Menu.") + hook + ": procedure not defined. Self = \"" + self->ClassName() + "\"");
}

TTexLabelEx* MakeTitleLabel(TW_Menu& menu, TPrior* anchor, int fontIndex, int lineSpacing,
                            const std::string& text, int offset)
{
    TTexLabelExParams params{};
    params.Font = LabelFonts[fontIndex];
    params.LetterSpacing = 0;
    params.LineSpacing = lineSpacing;
    params.HAlign = 0;
    params.VAlign = 2;
    params.Text = text;
    TTexLabelEx* label = menu.AddChild(new TTexLabelEx(params));
    label->CentreX = anchor ? anchor->CentreX : 0.0f;
    label->CentreY = (anchor ? anchor->GetTop() : ScreenTop) - PixelsToWorld(offset);
    return label;
}

// Slots the spirals' particle systems take in the shared renderer.
int32_t SlotsOf(const TSpiral& spiral) { return spiral.Particles ? spiral.Particles->UsedSlots() : 0; }

}  // namespace

int32_t SpiralsToCreate(int32_t requested, int32_t particlesPerSpiral, int32_t rendererCapacity)
{
    if (requested <= 0)
        return 0;
    const int32_t perSpiral = std::max(particlesPerSpiral, 1);
    return std::min({requested, std::max(rendererCapacity / perSpiral, 0), MaxSpirals});
}

uint32_t OverlayColor(int32_t fadeIn, int32_t mouseMoves)
{
    if (fadeIn > FadeInBlackFrames)
        return OpaqueBlack;
    if (fadeIn > 0) {
        return ColorWithAlpha(0x00000000, static_cast<float>(fadeIn) / FadeInBlackFrames);
    }
    return LerpColor(OverlayRestingColor, OverlayBrightColor, static_cast<float>(mouseMoves) / QuitMoves);
}

// ---------------------------------------------------------------- TW_Menu

TW_Menu::TW_Menu() { FocusObject = this; }

TW_Menu::~TW_Menu()
{
    if (HasFocus()) {
        // The scene's containers pass the focus to their owner when they go.
        FreeChildren();
        First = Last = nullptr;
        ChildCount = 0;
        FocusObject = Owner;
    }
}

void TW_Menu::SetTitles(const std::string& title, const std::string& subtitle, int titleOffset, int subtitleOffset)
{
    if (!title.empty())
        TitleLabel = MakeTitleLabel(*this, Anchor, 0, -6, title, titleOffset);
    if (!subtitle.empty())
        SubtitleLabel = MakeTitleLabel(*this, Anchor, 1, 6, subtitle, subtitleOffset);
}

void TW_Menu::OnButtonUp(int, int) { ReportUndefinedHook("OnButtonUp", this); }
void TW_Menu::OnDialogButtonUp(int, int) { ReportUndefinedHook("OnDialogButtonUp", this); }
void TW_Menu::OnPanelUp(int) { ReportUndefinedHook("OnPanelUp", this); }
void TW_Menu::OnMouseButtonUp(int) { ReportUndefinedHook("OnMouseButtonUp", this); }

// ---------------------------------------------------------------- TW_SSaver

TW_SSaver::TW_SSaver()
{
    SaverWorld = this;
    FocusObject = this;
    ScreenFading = AddChild(new TMyScreenFading(DataDir + "\\Textures\\Screen.tga"));
}

TW_SSaver::~TW_SSaver()
{
    if (SaverWorld == this)
        SaverWorld = nullptr;
}

bool TW_SSaver::OnKeyDown(uint16_t)
{
    QuitRequest = 1;
    return true;
}

void TW_SSaver::OnMouse()
{
    if (Background)
        Background->OnMouse();
}

void TW_SSaver::Render()
{
    if (ScreenFading)
        CheckResult(Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 0.0f, 0));
    TW_Menu::Render();
}

// ---------------------------------------------------------------- TMenuBackGround

TMenuBackGround::TMenuBackGround()
{
    Background = this;
    ParticleMaster = AddChild(new TGamePartMaster());

    Overlay = AddChild(new TColorRect());
    Overlay->StateBlocks[0] = 15;
    Overlay->SetPixelRect(0, 0, Options.Width, Options.Height);
    Overlay->SetColor(OverlayRestingColor);
    Overlay->UploadVertices();

    Randomize();
    // Every spiral loads the same particle file, so the first one tells how many fit.
    const int32_t requested = Options.SpiralCount;
    int32_t allowed = requested > 0 ? 1 : 0;
    for (int32_t i = 0; i < allowed; ++i) {
        TSpiral* spiral = AddChild(new TSpiral());
        if (i == 0)
            allowed = SpiralsToCreate(requested, SlotsOf(*spiral), ParticleMaster->Renderer->MaxRects);
    }
    if (allowed < requested)
        ReportError("TMenuBackGround.Create: SpiralCount " + std::to_string(requested) + " is more than the " +
                    "particle renderer can draw; " + std::to_string(allowed) + " spirals created");
    FadeIn = FadeInFrames;
}

TMenuBackGround::~TMenuBackGround()
{
    FreeChildren();
    First = Last = nullptr;
    ChildCount = 0;
    ParticleMaster = nullptr;
    if (Background == this)
        Background = nullptr;
}

void TMenuBackGround::OnMouse()
{
    if (FrameCount < MouseGraceFrames || !Mouse)
        return;
    if (Mouse->WasPressed(0) || Mouse->WasPressed(1)) {
        QuitRequest = 1;
        return;
    }
    if (MouseMoves + 1 >= QuitMoves)
        QuitRequest = 1;
    else
        MouseMoves += 1;
}

void TMenuBackGround::Render() { TMaster::Render(); }

void TMenuBackGround::Update()
{
    if (Mouse && Mouse->FramesSinceMove() > RestFrames)
        MouseMoves = std::max(MouseMoves - 1, 0);
    Overlay->SetColor(OverlayColor(FadeIn, MouseMoves));
    Overlay->UploadVertices();
    if (FadeIn > 0)
        FadeIn -= 1;
}
