#include "app/uMain.h"

#include "app/uC.h"
#include "app/uRunState.h"
#include "platform/display/display.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

using testsupport::CapturedChannel;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::Untagged;
using testsupport::WriteBytes;

struct Calls {
    int Settings = 0;
    std::vector<bool> Applications;  // the fullScreen argument of each run
};

class RunModes : public ::testing::Test {
protected:
    void SetUp() override
    {
        Saved = Options;
        SetRunApplicationOverride([this](bool fullScreen) {
            Seen.Applications.push_back(fullScreen);
            WindowAtStart = ParentWindow;
            OptionsAtStart = Options;
            return S_OK;
        });
        SetRunSettingsOverride([this] {
            ++Seen.Settings;
            return DialogShown;
        });
    }
    void TearDown() override
    {
        SetRunApplicationOverride({});
        SetRunSettingsOverride({});
        Options = Saved;
        ParentWindow = nullptr;
        RunMode = 0;
    }
    void Run(std::vector<std::string> args)
    {
        Seen = Calls{};
        WindowAtStart = nullptr;
        args.insert(args.begin(), "halvora");
        SetCommandLine(args);
        Dispatch(SelectMode(ParamStr(1)));
    }
    // A registry naming Dir as the data folder, which gets its Textures folder.
    static std::unique_ptr<ScopedEnv> NameDataFolder(const TempDir& dir)
    {
        std::filesystem::create_directory(dir.File("Textures"));
        WriteBytes(dir.File("registry.reg"), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora "
                                             "Screensaver\\Settings]\n\"DataPath\"=\"" + dir.Path() + "\"\n");
        return std::make_unique<ScopedEnv>("HALVORA_REGISTRY", dir.File("registry.reg"));
    }

    Calls Seen;
    bool DialogShown = true;  // what the settings stand-in answers
    HWND WindowAtStart = nullptr;
    TOptions OptionsAtStart{};
    TOptions Saved{};
    testsupport::ScopedDataPaths Paths;
    CapturedChannel Channel;
};

TEST(ModeLetter, FollowsTheLengthRules)
{
    struct Case {
        const char* Arg;
        char Letter;
    };
    const Case cases[] = {{"", 0},    {"s", 'S'},   {"/s", 'S'},      {"-S", 'S'}, {"/S", 'S'},
                          {"sx", 'X'}, {"/c:1234", 'C'}, {"p", 'P'}, {"/p", 'P'},  {"a", 'A'},
                          {"1", '1'}, {"/\xE9", '\xE9'}};
    for (const Case& c : cases)
        EXPECT_EQ(SelectMode(c.Arg), c.Letter) << c.Arg;
}

TEST_F(RunModes, CommandLinesReachTheirModes)
{
    struct Case {
        std::vector<std::string> Args;
        int Settings;
        std::vector<bool> Applications;
        uintptr_t Window;
    };
    const Case cases[] = {
        {{"/p", "1234"}, 0, {false}, 1234},
        {{"/P", "1234"}, 0, {false}, 1234},
        {{"p", "1234"}, 0, {false}, 1234},
        {{"/p", "12ab"}, 0, {false}, 0},
        {{"/p"}, 0, {false}, 0},
        {{"/s"}, 0, {true}, 0},
        {{"-S", "0x10"}, 0, {true}, 16},
        {{"sx"}, 0, {}, 0},
        {{}, 0, {}, 0},
        {{"/c:1234"}, 1, {}, 0},
        {{"/c"}, 1, {}, 0},
        {{"/a", "99"}, 0, {}, 0},  // no password library on this platform: nothing happens
        {{"/q"}, 0, {}, 0},
    };
    for (const Case& c : cases) {
        Run(c.Args);
        const std::string line = c.Args.empty() ? "<none>" : c.Args[0];
        EXPECT_EQ(Seen.Settings, c.Settings) << line;
        EXPECT_EQ(Seen.Applications, c.Applications) << line;
        if (!c.Applications.empty()) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(WindowAtStart), c.Window) << line;
        }
    }
    EXPECT_TRUE(Channel.Messages.empty());
    EXPECT_TRUE(Channel.Boxes.empty());
}

TEST_F(RunModes, PreviewAndFullScreenOverrideTheRecord)
{
    Options = TOptions{};
    Options.Width = 1280;
    Options.Height = 1024;
    Options.Windowed = true;
    Run({"/s"});
    EXPECT_FALSE(OptionsAtStart.Windowed);
    EXPECT_EQ(OptionsAtStart.Width, 1280);
    EXPECT_EQ(OptionsAtStart.HalfHeight, 512);
    EXPECT_EQ(RunMode, 'S');

    Options.Windowed = false;
    Run({"/p", "5"});
    EXPECT_TRUE(OptionsAtStart.Windowed);
    EXPECT_EQ(OptionsAtStart.Width, 800);
    EXPECT_EQ(OptionsAtStart.Height, 600);
    EXPECT_EQ(PixelSize, 2.0f / 600.0f);
    EXPECT_EQ(RunMode, 'P');
}

TEST_F(RunModes, FullScreenWithoutAUsableSizeFallsBackTo1024x768)
{
    for (auto [w, h] : {std::pair{0, 0}, {0, 600}, {800, 0}, {-5, 600}, {100000, 600}}) {
        Options = TOptions{};
        Options.Width = w;
        Options.Height = h;
        Run({"/s"});
        EXPECT_EQ(OptionsAtStart.Width, 1024) << w << "x" << h;
        EXPECT_EQ(OptionsAtStart.Height, 768) << w << "x" << h;
        EXPECT_EQ(ScreenRight, 1.3333334f);
    }
}

// xscreensaver's window options take over only when the first argument selects no mode; a
// malformed window id is reported and the start sequence goes on.
TEST_F(RunModes, WindowOptionsGiveWayToAModeLetter)
{
    TempDir dir;
    const auto registry = NameDataFolder(dir);
    WriteBytes(dir.File("Options.txt"), "Width 640\r\nHeight 480\r\n");
    struct Case {
        std::vector<const char*> Args;
        int Settings;
        std::vector<bool> Applications;
        bool Reported;
    };
    const Case cases[] = {
        {{"/c", "-root"}, 1, {}, false},
        {{"/s", "--window-id", "77"}, 0, {true}, false},
        {{"/p", "5", "--root"}, 0, {false}, false},
        {{"--window-id", "0xZZ"}, 0, {}, true},
        {{"/s", "--window-id"}, 0, {true}, false},
        {{"-window-id"}, 0, {}, true},
    };
    for (const Case& c : cases) {
        Seen = Calls{};
        Channel.Messages.clear();
        std::vector<const char*> args = c.Args;
        args.insert(args.begin(), "halvora");
        EXPECT_EQ(HalvoraMain(static_cast<int>(args.size()), const_cast<char**>(args.data())), 0);
        const std::string line = std::string(c.Args[0]) + (c.Args.size() > 1 ? std::string(" ") + c.Args[1] : "");
        EXPECT_EQ(Seen.Settings, c.Settings) << line;
        EXPECT_EQ(Seen.Applications, c.Applications) << line;
        bool reported = false;
        for (const std::string& message : Channel.Messages)
            reported = reported || Untagged(message) == "uXScreenSaver: option --window-id needs a window id";
        EXPECT_EQ(reported, c.Reported) << line;
        EXPECT_TRUE(std::filesystem::exists(dir.File("Textures/Screen.tga"))) << line << ": the start sequence ran";
        std::filesystem::remove(dir.File("Textures/Screen.tga"));
    }
}

// The snapshot is a 32-bit TGA of the whole screen, opaque everywhere, and its temporary bitmap
// is gone afterwards, whether or not the TGA could be written.
TEST(Snapshot, IsAnOpaque32BitPictureOfTheScreenAndLeavesNoBitmap)
{
    TempDir dir;
    ScopedEnv tmp("TMPDIR", dir.Path());
    ScopedEnv screen("HALVORA_SCREEN", "64x48");
    ScopedEnv display("HALVORA_DISPLAY", "offscreen");
    platform::display::offscreen::Reset();
    CapturedChannel channel;
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "written" : "target folder missing");
        const std::string target = dir.File(writable ? "Screen.tga" : "missing/Screen.tga");
        EXPECT_EQ(SnapshotDesktop(target), writable);
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            EXPECT_NE(entry.path().extension(), ".bmp") << entry.path();
        if (!writable) {
            EXPECT_FALSE(channel.Messages.empty());
            continue;
        }
        const std::string tga = testsupport::ReadBytes(target);
        ASSERT_GE(tga.size(), 18u + 64 * 48 * 4);
        EXPECT_EQ(static_cast<unsigned char>(tga[16]), 32u);
        EXPECT_EQ((static_cast<unsigned char>(tga[12]) | static_cast<unsigned char>(tga[13]) << 8), 64);
        std::size_t notOpaque = 0;
        for (std::size_t i = 18 + 3; i < 18 + 64 * 48 * 4; i += 4)
            notOpaque += static_cast<unsigned char>(tga[i]) != 0xFF;
        EXPECT_EQ(notOpaque, 0u);
    }
    platform::display::offscreen::Reset();
}

TEST_F(RunModes, StartSequenceOpensTheSettingsOnlyWithoutAnOptionsFile)
{
    TempDir dir;
    const auto registry = NameDataFolder(dir);
    const auto start = [&](std::vector<const char*> args) {
        Seen = Calls{};
        args.insert(args.begin(), "halvora");
        return HalvoraMain(static_cast<int>(args.size()), const_cast<char**>(args.data()));
    };
    EXPECT_EQ(start({"/s"}), 0);
    EXPECT_EQ(DataDir, dir.Path());
    EXPECT_EQ(Seen.Settings, 1);
    EXPECT_EQ(Seen.Applications, std::vector<bool>{true});

    WriteBytes(dir.File("options.TXT"), "Width 640\r\nHeight 480\r\n");
    EXPECT_EQ(start({"/s"}), 0);
    EXPECT_EQ(Seen.Settings, 0);
    EXPECT_EQ(OptionsAtStart.Width, 640);

    EXPECT_EQ(start({"/c"}), 0);
    EXPECT_EQ(Seen.Settings, 1);
    EXPECT_TRUE(Seen.Applications.empty());

    // No dialog could be shown: the run gets what the first run would have saved for this
    // screen, and the file stays absent.
    std::filesystem::remove(dir.File("options.TXT"));
    {
        ScopedEnv screen("HALVORA_SCREEN", "1280x1024");
        platform::display::offscreen::Reset();
        DialogShown = false;
        EXPECT_EQ(start({"/s"}), 0);
    }
    platform::display::offscreen::Reset();
    EXPECT_EQ(Seen.Settings, 1);
    ASSERT_EQ(Seen.Applications, std::vector<bool>{true});
    const TOptions& o = OptionsAtStart;
    EXPECT_EQ(o.Preset, 1);
    EXPECT_EQ(o.Width, 1280);
    EXPECT_EQ(o.Height, 1024);
    EXPECT_EQ(o.Format, 22);
    EXPECT_EQ(o.RefreshRate, 60);
    EXPECT_TRUE(o.VSync);
    EXPECT_FALSE(o.AdvancedOpt);
    EXPECT_EQ(o.SpiralType, 1);
    EXPECT_EQ(o.SpiralCount, 8);
    EXPECT_EQ(o.BlendMode, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Options.txt")));
    // Whatever the desktop capture could do, a failure reaches the channel rather than stopping the start.
    for (const std::string& message : Channel.Messages)
        EXPECT_EQ(Untagged(message).rfind("uMain.SnapshotDesktop: ", 0), 0u) << message;
}

}  // namespace
