#pragma once
// The settings dialog's logic, free of any toolkit: the controls' state, the mode table built
// from the adapter, and the answers to every event. A view shows it and forwards events.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/uC.h"
#include "platform/d3d8/d3d8.h"

// What the dialog reads from the display adapter. The real one sits on Direct3D 8 and
// DirectDraw 7; tests give their own.
class TDialogAdapter {
public:
    virtual ~TDialogAdapter() = default;
    virtual bool Create() = 0;  // false: no Direct3D (the creator reported it)
    virtual D3DDISPLAYMODE DesktopMode() = 0;
    // DirectDraw's driver capabilities: the HRESULT of GetCaps and the total video memory.
    virtual HRESULT VideoMemory(DWORD& total) = 0;
    virtual UINT ModeCount() = 0;
    virtual bool Mode(UINT index, D3DDISPLAYMODE& mode) = 0;
    virtual bool AcceptsFullScreen(D3DFORMAT format) = 0;  // CheckDeviceType(0, HAL, F, F, FALSE)
    virtual void Release() = 0;
};

// The dialog's own adapter over the platform's Direct3D 8 and DirectDraw 7.
std::unique_ptr<TDialogAdapter> CreateSystemAdapter();

struct TListControl {
    std::vector<std::string> Items;
    int ItemIndex = -1;
    std::string Text;  // editable combo boxes: the text in the box
    bool Enabled = true;

    std::string SelectedText() const;
    void Clear();
    void Select(int index);  // out of range selects nothing
};

struct TToggleControl {
    bool Checked = false;
    bool Enabled = true;
};

// Dialog buttons and icons as the platform's message boxes take them.
using TAskProc = std::function<int(const std::string& text, UINT type)>;

class TForm1 {
public:
    static constexpr int ClientWidth = 359;
    static constexpr int ClientHeight = 187;
    static constexpr int MaxResolutions = 128;
    static constexpr int MaxDepths = 16;
    static constexpr int MaxRates = 128;

    // ask shows a confirmation or information box and returns IDYES, IDNO, IDCANCEL or IDOK.
    explicit TForm1(TAskProc ask);

    // Opening: reads the adapter, builds the mode table, loads the options (or applies the
    // first-run defaults). False when the dialog has to end at once (no Direct3D).
    bool Open(TDialogAdapter& adapter);

    // Control events. Each ends with the caption and enablement update.
    void ClickCustom();
    void ClickDesktop();
    void SelectResolution(int index);
    void SelectDepth(int index);
    void SelectRefreshRate(int index);
    void SetAdvancedOptions(bool checked);
    void SelectSpiralType(int index);
    void TypeSpiralType(const std::string& text);
    void SelectSpiralCount(int index);
    void TypeSpiralCount(const std::string& text);
    void SelectBlendMode(int index);
    void TypeBlendMode(const std::string& text);

    // Buttons and closing; each returns true when the dialog closes.
    bool ClickOk();
    bool ClickCancel();
    bool RequestClose();  // the title bar, the window manager, Escape
    bool Help();          // the help event; answers "not handled"
    void Repaint();

    bool Changed() const;
    void Gather(TOptions& out) const;
    void Save();

    const std::string& Caption() const { return caption_; }
    bool Closed() const { return closed_; }

    // Controls, named as the form names them.
    TToggleControl rbCustom, rbDesktop, cbAdvancedOptions;
    TListControl ModeListBox, PixelDepthBox, RefreshRateBox;
    TListControl SpiralType, SpiralCount, BlendMode;
    bool Label1Enabled = true, Label2Enabled = true, Label3Enabled = true;

    // The table's size, for tests and the view.
    int ResolutionCount() const { return static_cast<int>(table_.size()); }
    DWORD TotalVideoMemory() const { return videoMemory_; }

private:
    struct Depth {
        int bits;
        std::vector<int> rates;
    };
    struct Resolution {
        int width, height;
        std::vector<Depth> depths;
    };
    enum class Source { Other, ResolutionList, DepthList };

    void ReadAdapter(TDialogAdapter& adapter);
    void AddMode(const D3DDISPLAYMODE& mode);
    bool LoadIntoControls();
    void ApplyFirstRunDefaults();
    void FillResolutions();
    void FillDepths(bool restore, bool pickFirst);
    void FillRefreshRates(bool restore, bool pickFirst);
    void ComputeBestFormat() const;
    void ApplyDesktopPreset();
    void UpdateEnablement(Source source);
    void UpdateCaption();
    void AfterChange(Source source);
    bool TryClose();

    const Resolution* SelectedResolution() const;
    const Depth* SelectedDepth() const;
    std::vector<const Resolution*> shown_;  // resolutions behind ModeListBox's items

    TAskProc ask_;
    TDialogAdapter* adapter_ = nullptr;
    std::vector<Resolution> table_;
    D3DDISPLAYMODE desktop_ = {};
    DWORD videoMemory_ = 0;
    mutable D3DFORMAT bestFormat_ = D3DFMT_UNKNOWN;
    bool askOnClose_ = true;
    bool closed_ = false;
    std::string caption_ = "Options";
};

extern const char* const SettingsCaption;  // "[Tzo] Halvora Screensaver Options"

// The record the dialog would save at its first run on this screen, with no options file: the
// Desktop preset with the screen's own size, format and rate, and the default spiral settings.
// For runs in which no dialog can be shown; nothing is written. Without Direct3D, the cleared
// record with the spiral settings. Options itself is left as it was.
TOptions FirstRunOptions(TDialogAdapter& adapter);
// Options := FirstRunOptions of the system's adapter.
void UseFirstRunOptions();
