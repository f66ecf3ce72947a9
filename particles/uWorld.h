#pragma once
// The screensaver's scene: the world window that holds the opening fading and
// then the background with the particle master, the trail overlay and the spirals.

#include "platform/win/windows.h"
#include "scene/uStater.h"

#include <cstdint>
#include <string>

class TPrior;
class TTexLabelEx;
class TColorRect;
class TGamePartMaster;
class TScreenFading;
class TIndexedTextureFont;

class TW_Win : public TStater {
public:
    const char* ClassName() const override { return "TW_Win"; }
    TW_Win() = default;
};

class TW_Menu : public TW_Win {
public:
    const char* ClassName() const override { return "TW_Menu"; }
    TW_Menu();
    ~TW_Menu() override;

    void Update() override {}

    virtual void SetTitles(const std::string& title, const std::string& subtitle, int titleOffset, int subtitleOffset);
    virtual bool MenuQuery() { return true; }
    virtual void MenuHook18() {}
    virtual void MenuHook19() {}
    virtual void OnButtonUp(int button, int index);
    virtual void OnDialogButtonUp(int button, int index);
    virtual void OnPanelUp(int panel);
    virtual void OnMouseButtonUp(int button);

    TTexLabelEx* TitleLabel = nullptr;
    TTexLabelEx* SubtitleLabel = nullptr;
    TPrior* Anchor = nullptr;
};

class TW_SSaver : public TW_Menu {
public:
    const char* ClassName() const override { return "TW_SSaver"; }
    TW_SSaver();
    ~TW_SSaver() override;

    bool OnKeyDown(uint16_t key) override;
    void OnMouse() override;
    void Render() override;
    void Update() override {}
};

class TMenuBackGround : public TMaster {
public:
    const char* ClassName() const override { return "TMenuBackGround"; }
    TMenuBackGround();
    ~TMenuBackGround() override;

    void OnMouse() override;
    void Render() override;
    void Update() override;

    int32_t MouseMoves = 0;
    int32_t FadeIn = 100;
    TColorRect* Overlay = nullptr;
};

extern TW_SSaver* SaverWorld;
extern TScreenFading* ScreenFading;
extern TMenuBackGround* Background;
// The two fonts of menu titles and subtitles; none are loaded by the screensaver.
extern TIndexedTextureFont* LabelFonts[2];

// Each spiral keeps a whole particle pool, whatever its file asks for; this bounds
// the memory a mistyped count can take.
constexpr int32_t MaxSpirals = 64;
// How many spirals the background creates for a requested count: none for zero
// or less, and no more than the particle renderer can draw at once.
int32_t SpiralsToCreate(int32_t requested, int32_t particlesPerSpiral, int32_t rendererCapacity);

constexpr uint32_t OverlayRestingColor = 0x10000000;   // black, alpha 16
constexpr uint32_t OverlayBrightColor = 0x10FFFFFF;    // white, alpha 16
// The overlay colour of one background frame.
uint32_t OverlayColor(int32_t fadeIn, int32_t mouseMoves);
