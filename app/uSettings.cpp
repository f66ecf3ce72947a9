#include "app/uSettings.h"

#include <algorithm>
#include <utility>

#include "common/uFormats.h"
#include "common/uStrings.h"

const char* const SettingsCaption = "[Tzo] Halvora Screensaver Options";

namespace {

constexpr DWORD kSmallVideoMemory = 0x400000;
constexpr int kFirstRunSpiralType = 1;   // "Second"
constexpr int kFirstRunSpiralCount = 8;
constexpr int kFirstRunBlendMode = 0;    // "Bright"
constexpr HRESULT kInvalidObject = (HRESULT)0x88760082L;

const D3DFORMAT kBestFormats[] = {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5,  D3DFMT_X1R5G5B5,
                                  D3DFMT_A1R5G5B5, D3DFMT_X4R4G4B4, D3DFMT_A4R4G4B4};

std::string ResolutionText(int width, int height)
{
    return IntToStr(width) + "x" + IntToStr(height);
}

int IndexOfText(const std::vector<std::string>& items, const std::string& text)
{
    auto it = std::find(items.begin(), items.end(), text);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

// Adapters list modes in no promised order: "the last one no larger" is the
// largest one only when they ascend, and a stored 32-bit mode must not come back as 16 bit.
int LargestNotAbove(const std::vector<int>& values, int limit)
{
    int best = -1;
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] <= limit && (best < 0 || values[i] >= values[best]))
            best = static_cast<int>(i);
    return best;
}

// Nothing fitting leaves the list's own pick in place.
void SelectIfAny(TListControl& list, int index)
{
    if (index >= 0)
        list.Select(index);
}

}  // namespace

// ------------------------------------------------------------------ controls

std::string TListControl::SelectedText() const
{
    if (ItemIndex < 0 || ItemIndex >= static_cast<int>(Items.size()))
        return std::string();
    return Items[ItemIndex];
}

void TListControl::Clear()
{
    Items.clear();
    ItemIndex = -1;
    Text.clear();
}

void TListControl::Select(int index)
{
    ItemIndex = (index >= 0 && index < static_cast<int>(Items.size())) ? index : -1;
    Text = SelectedText();
}

// ------------------------------------------------------------------ opening

TForm1::TForm1(TAskProc ask) : ask_(std::move(ask))
{
    SpiralType.Items = {"First", "Second", "Third"};
    SpiralCount.Items = {"1", "2", "3", "4", "5", "6", "7", "8"};
    BlendMode.Items = {"Bright", "Colored", "Combined"};
}

bool TForm1::Open(TDialogAdapter& adapter)
{
    askOnClose_ = true;
    if (!adapter.Create()) {
        ask_("The application will now exit", MB_OK | MB_ICONINFORMATION);
        closed_ = true;
        return false;
    }
    adapter_ = &adapter;
    ReadAdapter(adapter);
    if (!LoadIntoControls())
        ApplyFirstRunDefaults();
    UpdateEnablement(Source::Other);
    UpdateCaption();
    return true;
}

void TForm1::ReadAdapter(TDialogAdapter& adapter)
{
    desktop_ = adapter.DesktopMode();
    DWORD total = 0;
    HRESULT hr = adapter.VideoMemory(total);
    if (hr == E_INVALIDARG)
        ask_("Invalid params", MB_OK | MB_ICONINFORMATION);
    else if (hr == kInvalidObject)
        ask_("Invalid object", MB_OK | MB_ICONINFORMATION);
    videoMemory_ = SUCCEEDED(hr) ? total : 0;

    UINT count = adapter.ModeCount();
    for (UINT i = 0; i < count; ++i) {
        D3DDISPLAYMODE mode = {};
        if (adapter.Mode(i, mode))
            AddMode(mode);
    }
}

void TForm1::AddMode(const D3DDISPLAYMODE& mode)
{
    int width = static_cast<int>(mode.Width), height = static_cast<int>(mode.Height);
    if (width < 800 || height < 600)
        return;
    if (videoMemory_ < kSmallVideoMemory && (width > 800 || height > 600))
        return;

    auto res = std::find_if(table_.begin(), table_.end(),
                            [&](const Resolution& r) { return r.width == width && r.height == height; });
    if (res == table_.end()) {
        if (static_cast<int>(table_.size()) >= MaxResolutions)
            return;  // modes beyond the table are ignored
        table_.push_back({width, height, {}});
        res = table_.end() - 1;
    }
    int bits = FormatBitDepth(mode.Format);
    auto depth = std::find_if(res->depths.begin(), res->depths.end(), [&](const Depth& d) { return d.bits == bits; });
    if (depth == res->depths.end()) {
        if (static_cast<int>(res->depths.size()) >= MaxDepths)
            return;
        res->depths.push_back({bits, {}});
        depth = res->depths.end() - 1;
    }
    int rate = static_cast<int>(mode.RefreshRate);
    if (std::find(depth->rates.begin(), depth->rates.end(), rate) == depth->rates.end() &&
        static_cast<int>(depth->rates.size()) < MaxRates)
        depth->rates.push_back(rate);
}

// ------------------------------------------------------------------ the three lists

const TForm1::Resolution* TForm1::SelectedResolution() const
{
    if (ModeListBox.ItemIndex < 0 || ModeListBox.ItemIndex >= static_cast<int>(shown_.size()))
        return nullptr;
    return shown_[ModeListBox.ItemIndex];
}

const TForm1::Depth* TForm1::SelectedDepth() const
{
    const Resolution* res = SelectedResolution();
    if (!res || PixelDepthBox.ItemIndex < 0 || PixelDepthBox.ItemIndex >= static_cast<int>(res->depths.size()))
        return nullptr;
    return &res->depths[PixelDepthBox.ItemIndex];
}

void TForm1::FillResolutions()
{
    int remembered = ModeListBox.ItemIndex;
    ModeListBox.Clear();
    shown_.clear();
    for (const Resolution& res : table_) {
        if (res.width <= static_cast<int>(desktop_.Width) && res.height <= static_cast<int>(desktop_.Height)) {
            ModeListBox.Items.push_back(ResolutionText(res.width, res.height));
            shown_.push_back(&res);
        }
    }
    int count = static_cast<int>(ModeListBox.Items.size());
    if (remembered >= 0)
        ModeListBox.Select(remembered < count ? remembered : count - 1);
}

void TForm1::FillDepths(bool restore, bool pickFirst)
{
    PixelDepthBox.Clear();
    const Resolution* res = SelectedResolution();
    if (!res)
        return;
    for (const Depth& depth : res->depths)
        PixelDepthBox.Items.push_back(IntToStr(depth.bits) + " bit");
    if (restore) {
        int wanted = FormatBitDepth(desktop_.Format);
        for (size_t i = 0; i < res->depths.size(); ++i)
            if (res->depths[i].bits == wanted)
                PixelDepthBox.Select(static_cast<int>(i));
    } else {
        PixelDepthBox.Select(pickFirst ? 0 : static_cast<int>(PixelDepthBox.Items.size()) - 1);
    }
}

void TForm1::FillRefreshRates(bool restore, bool pickFirst)
{
    RefreshRateBox.Clear();
    const Depth* depth = SelectedDepth();
    if (!depth)
        return;
    for (int rate : depth->rates)
        RefreshRateBox.Items.push_back(IntToStr(rate) + " Hz");
    if (restore) {
        for (size_t i = 0; i < depth->rates.size(); ++i)
            if (depth->rates[i] == static_cast<int>(desktop_.RefreshRate))
                RefreshRateBox.Select(static_cast<int>(i));
    } else {
        RefreshRateBox.Select(pickFirst ? 0 : static_cast<int>(RefreshRateBox.Items.size()) - 1);
    }
}

void TForm1::ComputeBestFormat() const
{
    int bits = StrToIntVal(PixelDepthBox.SelectedText());
    if (bits != 16 && bits != 32)
        return;
    bestFormat_ = D3DFMT_UNKNOWN;
    for (size_t i = bits == 32 ? 0 : 2; i < std::size(kBestFormats); ++i) {
        if (adapter_ && adapter_->AcceptsFullScreen(kBestFormats[i])) {
            bestFormat_ = kBestFormats[i];
            return;
        }
    }
}

void TForm1::ApplyDesktopPreset()
{
    int index = IndexOfText(ModeListBox.Items, ResolutionText(desktop_.Width, desktop_.Height));
    if (index < 0)
        return;
    ModeListBox.Select(index);
    FillDepths(true, true);
    FillRefreshRates(true, true);
    ComputeBestFormat();
}

// ------------------------------------------------------------------ loading and defaults

bool TForm1::LoadIntoControls()
{
    if (!LoadOptions())
        return false;
    rbCustom.Checked = Options.Preset == 0;
    rbDesktop.Checked = Options.Preset == 1;
    cbAdvancedOptions.Checked = Options.AdvancedOpt;
    SpiralType.Select(Options.SpiralType);
    SpiralCount.Select(Options.SpiralCount - 1);
    // A count typed beyond the list stays visible: gathering must give it back unchanged.
    if (SpiralCount.ItemIndex < 0)
        SpiralCount.Text = IntToStr(Options.SpiralCount);
    BlendMode.Select(Options.BlendMode);

    FillResolutions();
    int best = -1;
    for (size_t i = 0; i < shown_.size(); ++i) {
        const Resolution& res = *shown_[i];
        if (res.width > Options.Width || res.height > Options.Height)
            continue;
        if (best < 0 || std::pair(res.width, res.height) >= std::pair(shown_[best]->width, shown_[best]->height))
            best = static_cast<int>(i);
    }
    SelectIfAny(ModeListBox, best);

    FillDepths(false, true);
    if (const Resolution* res = SelectedResolution()) {
        std::vector<int> bits;
        for (const Depth& depth : res->depths)
            bits.push_back(depth.bits);
        SelectIfAny(PixelDepthBox, LargestNotAbove(bits, FormatBitDepth(static_cast<uint32_t>(Options.Format))));
    }

    FillRefreshRates(false, true);
    if (const Depth* depth = SelectedDepth())
        SelectIfAny(RefreshRateBox, LargestNotAbove(depth->rates, Options.RefreshRate));
    ComputeBestFormat();
    return true;
}

void TForm1::ApplyFirstRunDefaults()
{
    Options = TOptions{};
    FillResolutions();
    rbDesktop.Checked = true;
    rbCustom.Checked = false;
    SpiralType.Select(kFirstRunSpiralType);
    SpiralCount.Select(kFirstRunSpiralCount - 1);
    BlendMode.Select(kFirstRunBlendMode);
    ApplyDesktopPreset();
}

// ------------------------------------------------------------------ enablement, caption

void TForm1::UpdateEnablement(Source source)
{
    if (rbDesktop.Checked) {
        ModeListBox.Enabled = PixelDepthBox.Enabled = RefreshRateBox.Enabled = false;
    } else if (rbCustom.Checked) {
        ModeListBox.Enabled = PixelDepthBox.Enabled = RefreshRateBox.Enabled = true;
        FillResolutions();
    }
    if (source == Source::ResolutionList) {
        FillDepths(false, false);
        FillRefreshRates(false, true);
        ComputeBestFormat();
    } else if (source == Source::DepthList) {
        FillRefreshRates(false, true);
        ComputeBestFormat();
    }
    bool advanced = cbAdvancedOptions.Checked;
    SpiralType.Enabled = SpiralCount.Enabled = BlendMode.Enabled = advanced;
    Label1Enabled = Label2Enabled = Label3Enabled = advanced;
}

void TForm1::UpdateCaption()
{
    caption_ = std::string(SettingsCaption) + (Changed() ? " *" : "");
}

void TForm1::Repaint()
{
    caption_ = SettingsCaption;
}

void TForm1::AfterChange(Source source)
{
    UpdateEnablement(source);
    UpdateCaption();
}

// ------------------------------------------------------------------ events

void TForm1::ClickCustom()
{
    rbCustom.Checked = true;
    rbDesktop.Checked = false;
    AfterChange(Source::Other);
}

void TForm1::ClickDesktop()
{
    rbDesktop.Checked = true;
    rbCustom.Checked = false;
    ApplyDesktopPreset();
    AfterChange(Source::Other);
}

void TForm1::SelectResolution(int index)
{
    ModeListBox.Select(index);
    AfterChange(Source::ResolutionList);
}

void TForm1::SelectDepth(int index)
{
    PixelDepthBox.Select(index);
    AfterChange(Source::DepthList);
}

void TForm1::SelectRefreshRate(int index)
{
    RefreshRateBox.Select(index);
    AfterChange(Source::Other);
}

void TForm1::SetAdvancedOptions(bool checked)
{
    cbAdvancedOptions.Checked = checked;
    AfterChange(Source::Other);
}

static void TypeInto(TListControl& box, const std::string& text)
{
    box.Text = text;
    box.ItemIndex = IndexOfText(box.Items, text);
}

void TForm1::SelectSpiralType(int index)
{
    SpiralType.Select(index);
    AfterChange(Source::Other);
}

void TForm1::TypeSpiralType(const std::string& text)
{
    TypeInto(SpiralType, text);
    AfterChange(Source::Other);
}

void TForm1::SelectSpiralCount(int index)
{
    SpiralCount.Select(index);
    AfterChange(Source::Other);
}

void TForm1::TypeSpiralCount(const std::string& text)
{
    TypeInto(SpiralCount, text);
    AfterChange(Source::Other);
}

void TForm1::SelectBlendMode(int index)
{
    BlendMode.Select(index);
    AfterChange(Source::Other);
}

void TForm1::TypeBlendMode(const std::string& text)
{
    TypeInto(BlendMode, text);
    AfterChange(Source::Other);
}

// ------------------------------------------------------------------ gathering and saving

void TForm1::Gather(TOptions& out) const
{
    ComputeBestFormat();
    // A stored preset that is neither button's comes back as it was.
    out.Preset = rbCustom.Checked ? 0 : rbDesktop.Checked ? 1 : out.Preset;
    out.Windowed = false;
    // With an empty list there is nothing to read: the current values stay.
    std::string res = ModeListBox.SelectedText();
    if (!res.empty()) {
        size_t x = res.find('x');
        out.Width = StrToIntVal(res.substr(0, x));
        out.Height = x == std::string::npos ? 0 : StrToIntVal(res.substr(x + 1));
    }
    out.Format = static_cast<int32_t>(bestFormat_);
    std::string rate = RefreshRateBox.SelectedText();
    if (!rate.empty())
        out.RefreshRate = StrToIntVal(rate);
    out.WindowBorder = false;
    out.VSync = true;
    out.SoundEnabled = false;
    out.WaitGPU = false;
    out.AdvancedOpt = cbAdvancedOptions.Checked;
    out.SpiralType = SpiralType.ItemIndex;
    out.SpiralCount = StrToIntVal(SpiralCount.Text);
    out.BlendMode = BlendMode.ItemIndex;
}

bool TForm1::Changed() const
{
    TOptions gathered = Options;
    Gather(gathered);
    const TOptions& o = Options;
    return gathered.Preset != o.Preset || gathered.Windowed != o.Windowed || gathered.Width != o.Width ||
           gathered.Height != o.Height || gathered.Format != o.Format || gathered.RefreshRate != o.RefreshRate ||
           gathered.WindowBorder != o.WindowBorder || gathered.VSync != o.VSync ||
           gathered.SoundEnabled != o.SoundEnabled || gathered.WaitGPU != o.WaitGPU ||
           gathered.AdvancedOpt != o.AdvancedOpt || gathered.SpiralType != o.SpiralType ||
           gathered.SpiralCount != o.SpiralCount || gathered.BlendMode != o.BlendMode;
}

void TForm1::Save()
{
    Gather(Options);
    SaveOptions();
    AfterChange(Source::Other);
}

// ------------------------------------------------------------------ buttons and closing

bool TForm1::TryClose()
{
    if (Changed() && askOnClose_) {
        int answer = ask_("Save changes?", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL)
            return false;
        if (answer == IDYES)
            Save();
    }
    closed_ = true;
    return true;
}

bool TForm1::ClickOk()
{
    if (Changed()) {
        if (ask_("Save changes end exit?", MB_YESNO | MB_ICONQUESTION) != IDYES)
            return false;
        Save();
    }
    return TryClose();
}

bool TForm1::ClickCancel()
{
    if (Changed() && ask_("Exit without saving?)", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    askOnClose_ = false;
    return TryClose();
}

bool TForm1::RequestClose()
{
    return TryClose();
}

bool TForm1::Help()
{
    ask_("11111111", MB_OK | MB_ICONINFORMATION);
    return false;
}

// ------------------------------------------------------------------ first run without a dialog

TOptions FirstRunOptions(TDialogAdapter& adapter)
{
    const TOptions kept = Options;  // opening clears the record
    TForm1 form([](const std::string&, UINT) { return IDNO; });
    TOptions result{};
    if (form.Open(adapter)) {
        form.Gather(result);
        // A screen whose own mode is not in the lists (smaller than 800 x 600, or not listed by
        // the adapter) still runs at its own size and format.
        const D3DDISPLAYMODE desktop = adapter.DesktopMode();
        if (result.Width < 1 || result.Height < 1) {
            result.Width = static_cast<int32_t>(desktop.Width);
            result.Height = static_cast<int32_t>(desktop.Height);
            result.RefreshRate = static_cast<int32_t>(desktop.RefreshRate);
        }
        if (result.Format == D3DFMT_UNKNOWN)
            result.Format = static_cast<int32_t>(desktop.Format);
    } else {
        result.Preset = 1;
        result.VSync = true;
        result.SpiralType = kFirstRunSpiralType;
        result.SpiralCount = kFirstRunSpiralCount;
        result.BlendMode = kFirstRunBlendMode;
    }
    Options = kept;
    return result;
}

void UseFirstRunOptions()
{
    std::unique_ptr<TDialogAdapter> adapter = CreateSystemAdapter();
    Options = FirstRunOptions(*adapter);
}
