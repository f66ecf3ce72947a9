#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/uC.h"
#include "app/uSettings.h"
#include "platform/display/display.h"
#include "tests/framework/saver_sandbox.h"

namespace {

struct FakeAdapter : TDialogAdapter {
    bool available = true;
    D3DDISPLAYMODE desktop = {1280, 1024, 60, D3DFMT_X8R8G8B8};
    std::vector<D3DDISPLAYMODE> modes;
    DWORD videoMemory = 64u << 20;
    HRESULT capsResult = S_OK;
    std::vector<D3DFORMAT> accepted = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5};
    bool released = false;

    bool Create() override { return available; }
    D3DDISPLAYMODE DesktopMode() override { return desktop; }
    HRESULT VideoMemory(DWORD& total) override
    {
        total = videoMemory;
        return capsResult;
    }
    UINT ModeCount() override { return static_cast<UINT>(modes.size()); }
    bool Mode(UINT i, D3DDISPLAYMODE& m) override
    {
        if (i >= modes.size())
            return false;
        m = modes[i];
        return true;
    }
    bool AcceptsFullScreen(D3DFORMAT f) override
    {
        return std::find(accepted.begin(), accepted.end(), f) != accepted.end();
    }
    void Release() override { released = true; }

    void AddSizes(std::initializer_list<std::pair<UINT, UINT>> sizes, std::initializer_list<UINT> rates = {60, 75})
    {
        for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5})
            for (auto [w, h] : sizes)
                for (UINT r : rates)
                    modes.push_back({w, h, r, f});
    }
};

// Scripted answers to the dialog's questions; records every question asked.
struct Asker {
    std::deque<int> answers;
    std::vector<std::string> asked;
    TAskProc Proc()
    {
        return [this](const std::string& text, UINT) {
            asked.push_back(text);
            if (answers.empty())
                return IDOK;
            int a = answers.front();
            answers.pop_front();
            return a;
        };
    }
};

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("halvora-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        DataDir = dir_.string();
        OptionsPath = (dir_ / "Options.txt").string();
        Options = TOptions{};
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void WriteOptions(const std::string& text) { std::ofstream(OptionsPath, std::ios::binary) << text; }
    std::string ReadOptions()
    {
        std::ifstream in(OptionsPath, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool OptionsExist() { return std::filesystem::exists(OptionsPath); }

    std::filesystem::path dir_;
};

const char* kCustom16 =
    "Preset               0\r\nWindowed             0\r\nWidth                1024\r\nHeight               768\r\n"
    "Format               R5G6B5\r\nRefreshRate          75\r\nWindowBorder         0\r\nVSync                1\r\n"
    "SoundEnabled         0\r\nWaitGPU              0\r\nAdvancedOpt          1\r\nSpiralType           2\r\n"
    "SpiralCount          4\r\nBlendMode            1\r\n";

TEST_F(SettingsDialog, ResolutionListStopsAtTheDesktopSize)
{
    FakeAdapter adapter;
    adapter.AddSizes({{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1600, 1200}});
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_EQ(form.ModeListBox.Items, (std::vector<std::string>{"800x600", "1024x768", "1280x1024"}));
    EXPECT_EQ(form.ResolutionCount(), 4);  // 1600x1200 is in the table, just not shown
}

TEST_F(SettingsDialog, LittleVideoMemoryLimitsTheModesTo800x600)
{
    FakeAdapter adapter;
    adapter.AddSizes({{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}});
    adapter.videoMemory = 2u << 20;
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_EQ(form.ModeListBox.Items, std::vector<std::string>{"800x600"});
}

TEST_F(SettingsDialog, CapabilityFailuresAreShownAndLimitTheModes)
{
    struct Case {
        HRESULT hr;
        const char* message;
    } cases[] = {{E_INVALIDARG, "Invalid params"}, {(HRESULT)0x88760082L, "Invalid object"}, {E_FAIL, nullptr}};
    for (const Case& c : cases) {
        FakeAdapter adapter;
        adapter.AddSizes({{800, 600}, {1024, 768}});
        adapter.capsResult = c.hr;
        WriteOptions(kCustom16);
        Asker asker;
        TForm1 form(asker.Proc());
        ASSERT_TRUE(form.Open(adapter));
        if (c.message)
            EXPECT_EQ(asker.asked, std::vector<std::string>{c.message});
        else
            EXPECT_TRUE(asker.asked.empty());
        EXPECT_EQ(form.TotalVideoMemory(), 0u);
        EXPECT_EQ(form.ModeListBox.Items, std::vector<std::string>{"800x600"});
    }
}

TEST_F(SettingsDialog, CustomSixteenBitModeIsRestoredWithoutChange)
{
    FakeAdapter adapter;
    adapter.AddSizes({{800, 600}, {1024, 768}, {1280, 1024}}, {60, 75, 85});
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_EQ(form.ModeListBox.SelectedText(), "1024x768");
    EXPECT_EQ(form.PixelDepthBox.SelectedText(), "16 bit");
    EXPECT_EQ(form.RefreshRateBox.SelectedText(), "75 Hz");
    EXPECT_FALSE(form.Changed());
    EXPECT_EQ(form.Caption(), "[Tzo] Halvora Screensaver Options");
    EXPECT_TRUE(form.ModeListBox.Enabled);
    EXPECT_TRUE(form.ClickOk());
    EXPECT_TRUE(asker.asked.empty());
}

// The first run's file must reopen as it was saved whichever order the adapter lists depths
// and rates in; otherwise merely opening the dialog reports a change.
TEST_F(SettingsDialog, FirstRunFileReopensUnchangedInAnyModeOrder)
{
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "as listed");
        FakeAdapter adapter;
        adapter.desktop = {1024, 768, 85, D3DFMT_X8R8G8B8};
        adapter.AddSizes({{800, 600}, {1024, 768}}, {60, 85, 75});  // 32-bit modes first
        if (reversed)
            std::reverse(adapter.modes.begin(), adapter.modes.end());
        std::filesystem::remove(OptionsPath);
        Options = TOptions{};
        {
            Asker asker;
            asker.answers = {IDYES};
            TForm1 first(asker.Proc());
            ASSERT_TRUE(first.Open(adapter));
            ASSERT_TRUE(first.ClickOk());
        }
        Options = TOptions{};
        Asker asker;
        TForm1 again(asker.Proc());
        ASSERT_TRUE(again.Open(adapter));
        EXPECT_EQ(again.PixelDepthBox.SelectedText(), "32 bit");
        EXPECT_EQ(again.RefreshRateBox.SelectedText(), "85 Hz");
        EXPECT_FALSE(again.Changed());
        EXPECT_EQ(again.Caption(), "[Tzo] Halvora Screensaver Options");
    }
}

TEST_F(SettingsDialog, FirstRunOkAsksAndWritesTheDesktopSettings)
{
    FakeAdapter adapter;
    adapter.desktop = {1024, 768, 85, D3DFMT_X8R8G8B8};
    adapter.AddSizes({{800, 600}, {1024, 768}}, {60, 85});
    Asker asker;
    asker.answers = {IDYES};
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_TRUE(form.rbDesktop.Checked);
    EXPECT_FALSE(form.ModeListBox.Enabled);
    EXPECT_EQ(form.Caption(), "[Tzo] Halvora Screensaver Options *");
    EXPECT_TRUE(form.ClickOk());
    EXPECT_EQ(asker.asked, std::vector<std::string>{"Save changes end exit?"});
    EXPECT_EQ(ReadOptions(),
              "Preset               1\r\nWindowed             0\r\nWidth                1024\r\nHeight               768\r\n"
              "Format               X8R8G8B8\r\nRefreshRate          85\r\nWindowBorder         0\r\n"
              "VSync                1\r\nSoundEnabled         0\r\nWaitGPU              0\r\n"
              "AdvancedOpt          0\r\nSpiralType           1\r\nSpiralCount          8\r\nBlendMode            0\r\n");
}

TEST_F(SettingsDialog, OkAnsweredNoStaysOpenWithNothingSaved)
{
    FakeAdapter adapter;
    adapter.AddSizes({{800, 600}, {1024, 768}});
    Asker asker;
    asker.answers = {IDNO};
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_FALSE(form.ClickOk());
    EXPECT_FALSE(form.Closed());
    EXPECT_FALSE(OptionsExist());
}

TEST_F(SettingsDialog, TypedSpiralCountIsStoredAndComesBackUnchanged)
{
    FakeAdapter adapter;
    adapter.AddSizes({{800, 600}, {1024, 768}});
    WriteOptions(kCustom16);
    {
        Asker asker;
        asker.answers = {IDYES};
        TForm1 form(asker.Proc());
        ASSERT_TRUE(form.Open(adapter));
        form.TypeSpiralCount("12");
        EXPECT_TRUE(form.Changed());
        EXPECT_TRUE(form.ClickOk());
        EXPECT_EQ(Options.SpiralCount, 12);
    }
    Options = TOptions{};
    Asker asker;
    TForm1 again(asker.Proc());
    ASSERT_TRUE(again.Open(adapter));
    EXPECT_EQ(again.SpiralCount.Text, "12");
    EXPECT_FALSE(again.Changed());

    again.TypeSpiralCount("lots");
    TOptions gathered = Options;
    again.Gather(gathered);
    EXPECT_EQ(gathered.SpiralCount, 0);
}

TEST_F(SettingsDialog, AdvancedOptionsEnableSixControlsAndKeepTheirValues)
{
    FakeAdapter adapter;
    adapter.AddSizes({{800, 600}, {1024, 768}});
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    auto enabled = [&] {
        return std::vector<bool>{form.SpiralType.Enabled, form.SpiralCount.Enabled, form.BlendMode.Enabled,
                                 form.Label1Enabled,      form.Label2Enabled,      form.Label3Enabled};
    };
    EXPECT_EQ(enabled(), std::vector<bool>(6, true));
    form.SetAdvancedOptions(false);
    EXPECT_EQ(enabled(), std::vector<bool>(6, false));
    TOptions gathered = Options;
    form.Gather(gathered);
    EXPECT_EQ(gathered.SpiralType, 2);
    EXPECT_EQ(gathered.SpiralCount, 4);
    EXPECT_EQ(gathered.BlendMode, 1);
    EXPECT_FALSE(gathered.AdvancedOpt);
}

TEST_F(SettingsDialog, CancelWithChangesAsksOnceAndClosesWithoutSaving)
{
    FakeAdapter adapter;
    adapter.AddSizes({{800, 600}, {1024, 768}});
    WriteOptions(kCustom16);
    Asker asker;
    asker.answers = {IDNO, IDYES};
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    form.SelectBlendMode(2);
    EXPECT_FALSE(form.ClickCancel());
    EXPECT_TRUE(form.ClickCancel());
    EXPECT_EQ(asker.asked, (std::vector<std::string>{"Exit without saving?)", "Exit without saving?)"}));
    EXPECT_EQ(ReadOptions(), kCustom16);
}

TEST_F(SettingsDialog, ClosingByTheTitleBarWithChanges)
{
    struct Case {
        int answer;
        bool closes;
        int savedBlendMode;
    } cases[] = {{IDCANCEL, false, 1}, {IDYES, true, 0}, {IDNO, true, 1}};
    for (const Case& c : cases) {
        FakeAdapter adapter;
        adapter.AddSizes({{800, 600}, {1024, 768}});
        WriteOptions(kCustom16);
        Options = TOptions{};
        Asker asker;
        asker.answers = {c.answer};
        TForm1 form(asker.Proc());
        ASSERT_TRUE(form.Open(adapter));
        form.SelectBlendMode(0);
        EXPECT_EQ(form.RequestClose(), c.closes);
        EXPECT_EQ(asker.asked, std::vector<std::string>{"Save changes?"});
        Options = TOptions{};
        ASSERT_TRUE(LoadOptions());
        EXPECT_EQ(Options.BlendMode, c.savedBlendMode);
    }
}

TEST_F(SettingsDialog, ChangingTheResolutionPicksTheLastDepthAndFirstRate)
{
    FakeAdapter adapter;
    adapter.AddSizes({{800, 600}, {1024, 768}}, {60, 75, 85});
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    form.SelectResolution(0);
    EXPECT_EQ(form.PixelDepthBox.SelectedText(), "16 bit");  // depths in table order: 32, 16
    EXPECT_EQ(form.RefreshRateBox.SelectedText(), "60 Hz");
    form.SelectDepth(0);
    TOptions gathered = Options;
    form.Gather(gathered);
    EXPECT_EQ(gathered.Width, 800);
    EXPECT_EQ(gathered.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(gathered.RefreshRate, 60);
}

TEST_F(SettingsDialog, BestFormatFallsThroughToSixteenBits)
{
    FakeAdapter adapter;
    adapter.AddSizes({{800, 600}});
    adapter.accepted = {D3DFMT_X1R5G5B5};
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    form.SelectDepth(0);  // 32 bit, but no 32-bit format is accepted
    TOptions gathered = Options;
    form.Gather(gathered);
    EXPECT_EQ(gathered.Format, D3DFMT_X1R5G5B5);
}

TEST_F(SettingsDialog, ModesBeyondTheTableAreIgnored)
{
    FakeAdapter adapter;
    adapter.desktop = {5000, 5000, 60, D3DFMT_X8R8G8B8};
    for (UINT i = 0; i < 200; ++i)
        adapter.modes.push_back({800 + i, 600, 60, D3DFMT_X8R8G8B8});
    for (UINT r = 1; r <= 200; ++r)
        adapter.modes.push_back({800, 600, r, D3DFMT_R5G6B5});
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_EQ(form.ResolutionCount(), TForm1::MaxResolutions);
    form.SelectResolution(0);
    form.SelectDepth(1);
    EXPECT_EQ(static_cast<int>(form.RefreshRateBox.Items.size()), TForm1::MaxRates);
}

TEST_F(SettingsDialog, NoDirect3DEndsTheDialogAtOnce)
{
    FakeAdapter adapter;
    adapter.available = false;
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    EXPECT_FALSE(form.Open(adapter));
    EXPECT_TRUE(form.Closed());
    EXPECT_EQ(asker.asked, std::vector<std::string>{"The application will now exit"});
    EXPECT_EQ(ReadOptions(), kCustom16);
}

TEST_F(SettingsDialog, EmptyListsKeepTheCurrentSizeAndRate)
{
    FakeAdapter adapter;  // no modes at all
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_TRUE(form.ModeListBox.Items.empty());
    TOptions gathered = Options;
    form.Gather(gathered);
    EXPECT_EQ(gathered.Width, 1024);
    EXPECT_EQ(gathered.Height, 768);
    EXPECT_EQ(gathered.RefreshRate, 75);
}

TEST_F(SettingsDialog, HelpShowsItsBoxAndIsNotHandled)
{
    FakeAdapter adapter;
    WriteOptions(kCustom16);
    Asker asker;
    TForm1 form(asker.Proc());
    ASSERT_TRUE(form.Open(adapter));
    EXPECT_FALSE(form.Help());
    EXPECT_EQ(asker.asked, std::vector<std::string>{"11111111"});
}

}  // namespace

namespace {

// The dialog's own adapter over the device stand-in, on the offscreen display's modes: the
// resolutions ascend and a new resolution picks its deepest pixel depth, as on a real driver.
TEST(SettingsSystemAdapter, ListsAscendAndANewResolutionPicksTheDeepestDepth)
{
    TSandboxOptions size;
    size.Width = 1280;
    size.Height = 1024;
    SaverSandbox sandbox(size);
    platform::display::offscreen::Reset();
    InitDataPaths();
    std::filesystem::remove(OptionsPath);
    Options = TOptions{};

    Asker asker;
    TForm1 form(asker.Proc());
    std::unique_ptr<TDialogAdapter> adapter = CreateSystemAdapter();
    ASSERT_TRUE(form.Open(*adapter));
    EXPECT_EQ(form.ModeListBox.Items, (std::vector<std::string>{"800x600", "1024x768", "1152x864", "1280x720",
                                                                "1280x960", "1280x1024"}));
    EXPECT_EQ(form.ModeListBox.SelectedText(), "1280x1024");  // the desktop preset
    EXPECT_EQ(form.PixelDepthBox.SelectedText(), "32 bit");
    form.ClickCustom();
    for (int i = 0; i < static_cast<int>(form.ModeListBox.Items.size()); ++i) {
        form.SelectResolution(i);
        EXPECT_EQ(form.PixelDepthBox.Items, (std::vector<std::string>{"16 bit", "32 bit"}));
        EXPECT_EQ(form.PixelDepthBox.SelectedText(), "32 bit") << form.ModeListBox.SelectedText();
        EXPECT_EQ(form.RefreshRateBox.SelectedText(), "60 Hz");
    }
    adapter.reset();
    platform::display::offscreen::Reset();
}

}  // namespace
