#include "app/uC.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using testsupport::CapturedChannel;
using testsupport::ReadBytes;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::Untagged;
using testsupport::WriteBytes;

const char* const kDialogFile =
    "Preset               1\r\n"
    "Windowed             0\r\n"
    "Width                1024\r\n"
    "Height               768\r\n"
    "Format               X8R8G8B8\r\n"
    "RefreshRate          85\r\n"
    "WindowBorder         0\r\n"
    "VSync                1\r\n"
    "SoundEnabled         0\r\n"
    "WaitGPU              0\r\n"
    "AdvancedOpt          0\r\n"
    "SpiralType           1\r\n"
    "SpiralCount          8\r\n"
    "BlendMode            0\r\n";

class OptionsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        Saved = Options;
        Options = TOptions{};
        DataDir = Dir.Path();
        OptionsPath = DataDir + "\\Options.txt";
    }
    void TearDown() override
    {
        Options = Saved;
    }
    TOptions Load(const std::string& text, TOptions start = TOptions{})
    {
        WriteBytes(Dir.File("Options.txt"), text);
        Options = start;
        EXPECT_TRUE(LoadOptions());
        return Options;
    }
    TempDir Dir;
    TOptions Saved{};
    testsupport::ScopedDataPaths Paths;
    CapturedChannel Channel;
};

TEST_F(OptionsFile, SavesTheDialogsFileByteForByte)
{
    Options = TOptions{1, false, 1024, 768, 512, 384, 22, 85, false, true, false, false, false, 1, 8, 0};
    ASSERT_TRUE(SaveOptions());
    EXPECT_EQ(ReadBytes(Dir.File("Options.txt")), kDialogFile);
}

TEST_F(OptionsFile, RoundTripKeepsEveryStoredField)
{
    const TOptions records[] = {
        {0, true, 800, 600, 0, 0, 23, -60, true, false, true, true, true, 2, 40, 2},
        {-3, false, 0, 0, 0, 0, 0, 0, false, false, false, false, false, 0, 0, 0},
        {1, false, 2560, 1440, 0, 0, 21, 2147483647, false, true, false, true, false, -1, 2147483647, -2147483647 - 1},
    };
    for (const TOptions& record : records) {
        Options = record;
        ASSERT_TRUE(SaveOptions());
        const std::string first = ReadBytes(Dir.File("Options.txt"));
        Options = TOptions{};
        ASSERT_TRUE(LoadOptions());
        const TOptions& o = Options;
        EXPECT_EQ(o.Preset, record.Preset);
        EXPECT_EQ(o.Windowed, record.Windowed);
        EXPECT_EQ(o.Width, record.Width);
        EXPECT_EQ(o.Height, record.Height);
        EXPECT_EQ(o.Format, record.Format);
        EXPECT_EQ(o.RefreshRate, record.RefreshRate);
        EXPECT_EQ(o.WindowBorder, record.WindowBorder);
        EXPECT_EQ(o.VSync, record.VSync);
        EXPECT_EQ(o.SoundEnabled, record.SoundEnabled);
        EXPECT_EQ(o.WaitGPU, record.WaitGPU);
        EXPECT_EQ(o.AdvancedOpt, record.AdvancedOpt);
        EXPECT_EQ(o.SpiralType, record.SpiralType);
        EXPECT_EQ(o.SpiralCount, record.SpiralCount);
        EXPECT_EQ(o.BlendMode, record.BlendMode);
        ASSERT_TRUE(SaveOptions());
        EXPECT_EQ(ReadBytes(Dir.File("Options.txt")), first);
    }
    Options.Format = 12345;
    ASSERT_TRUE(SaveOptions());
    EXPECT_NE(ReadBytes(Dir.File("Options.txt")).find("Format               UNKNOWN\r\n"), std::string::npos);
}

TEST_F(OptionsFile, EmptyFileGivesTheLoadDefaultsAndKeepsTheRest)
{
    const TOptions start{1, false, 1, 2, 3, 4, 5, 6, true, true, true, true, true, 2, 7, 1};
    const TOptions o = Load("", start);
    EXPECT_TRUE(o.Windowed);
    EXPECT_EQ(o.Width, 1024);
    EXPECT_EQ(o.Height, 768);
    EXPECT_EQ(o.Format, 0);
    EXPECT_EQ(o.RefreshRate, 0);
    EXPECT_FALSE(o.VSync);
    EXPECT_FALSE(o.WaitGPU);
    EXPECT_FALSE(o.WindowBorder);
    EXPECT_EQ(o.Preset, 1);
    EXPECT_TRUE(o.SoundEnabled);
    EXPECT_TRUE(o.AdvancedOpt);
    EXPECT_EQ(o.SpiralType, 2);
    EXPECT_EQ(o.SpiralCount, 7);
    EXPECT_EQ(o.BlendMode, 1);
    EXPECT_EQ(o.HalfWidth, 3);
    EXPECT_EQ(o.HalfHeight, 4);
}

TEST_F(OptionsFile, KeysValuesAndComments)
{
    struct Case {
        const char* Text;
        int32_t TOptions::*Field;
        int32_t Expected;
    };
    const Case numbers[] = {
        {"Width 800\r\n", &TOptions::Width, 800},
        {"Width                800\r\n", &TOptions::Width, 800},
        {"   Width   800   \n", &TOptions::Width, 800},
        {"width 800\r\n", &TOptions::Width, 1024},
        {"Width\t800\r\n", &TOptions::Width, 1024},
        {"Width\r\n", &TOptions::Width, 0},
        {"Width 12ab\r\n", &TOptions::Width, 12},
        {"Width $20\r\n", &TOptions::Width, 32},
        {"Width 640\r\nWidth 1280\r\n", &TOptions::Width, 1280},
        {";Width 800\r\n", &TOptions::Width, 1024},
        {"//Width 800\r\n", &TOptions::Width, 1024},
        {"/Width 800\r\n", &TOptions::Width, 1024},
        {"  ;Width 800\r\n", &TOptions::Width, 1024},
        {"Format X8R8G8B8\r\n", &TOptions::Format, 22},
        {"Format R5G6B5\r\n", &TOptions::Format, 23},
        {"Format UNKNOWN\r\n", &TOptions::Format, 0},
        {"Format x8r8g8b8\r\n", &TOptions::Format, 0},
        {"RefreshRate -60\r\n", &TOptions::RefreshRate, -60},
        {"SpiralCount 12\r\n", &TOptions::SpiralCount, 12},
        {"Unknown 5\r\nHeight 600\r\n", &TOptions::Height, 600},
    };
    for (const Case& c : numbers)
        EXPECT_EQ(Load(c.Text).*(c.Field), c.Expected) << c.Text;

    struct BoolCase {
        const char* Text;
        bool TOptions::*Field;
        bool Expected;
    };
    const BoolCase flags[] = {
        {"Windowed 1\r\n", &TOptions::Windowed, true},   {"Windowed 2\r\n", &TOptions::Windowed, false},
        {"Windowed 0\r\n", &TOptions::Windowed, false},  {"VSync 2\r\n", &TOptions::VSync, true},
        {"VSync -1\r\n", &TOptions::VSync, true},        {"VSync 0\r\n", &TOptions::VSync, false},
        {"WaitGPU 1\r\n", &TOptions::WaitGPU, true},     {"WindowBorder 3\r\n", &TOptions::WindowBorder, true},
        {"SoundEnabled 1\r\n", &TOptions::SoundEnabled, true},
        {"AdvancedOpt TRUE\r\n", &TOptions::AdvancedOpt, true}, {"AdvancedOpt true\r\n", &TOptions::AdvancedOpt, true},
        {"AdvancedOpt 1\r\n", &TOptions::AdvancedOpt, true},    {"AdvancedOpt yes\r\n", &TOptions::AdvancedOpt, false},
        {"AdvancedOpt 2\r\n", &TOptions::AdvancedOpt, false},
    };
    for (const BoolCase& c : flags)
        EXPECT_EQ(Load(c.Text).*(c.Field), c.Expected) << c.Text;
}

TEST_F(OptionsFile, GarbageNeverFailsTheLoad)
{
    std::string garbage;
    for (int i = 0; i < 256; ++i)
        garbage += static_cast<char>(i);
    const TOptions o = Load(garbage + "\n" + std::string(200000, 'W') + "\nHeight 480\n" + garbage);
    EXPECT_EQ(o.Height, 480);
    EXPECT_EQ(o.Width, 1024);
}

TEST_F(OptionsFile, MissingFileLeavesTheRecordAlone)
{
    Options.Width = 77;
    EXPECT_FALSE(LoadOptions());
    EXPECT_EQ(Options.Width, 77);
}

TEST_F(OptionsFile, FailedSaveIsReportedAndKeepsTheOldFile)
{
    WriteBytes(Dir.File("Options.txt"), kDialogFile);
    OptionsPath = Dir.Path() + "\\missing\\Options.txt";
    EXPECT_FALSE(SaveOptions());
    ASSERT_EQ(Channel.Messages.size(), 1u);
    EXPECT_EQ(Untagged(Channel.Messages[0]), "uC.SaveOptions: cannot write " + OptionsPath);
    EXPECT_EQ(ReadBytes(Dir.File("Options.txt")), kDialogFile);
}

class DataFolder : public ::testing::Test {
protected:
    TempDir Dir;
    ScopedEnv Registry{"HALVORA_REGISTRY", Dir.File("registry.reg")};
    testsupport::ScopedDataPaths Paths;
    CapturedChannel Channel;
};

TEST_F(DataFolder, ComesFromTheRegistry)
{
    WriteBytes(Dir.File("registry.reg"),
               "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n"
               "\"DataPath\"=\"/opt/halvora data\\\\\"\r\n");
    InitDataPaths();
    EXPECT_EQ(DataDir, "/opt/halvora data");
    EXPECT_EQ(OptionsPath, "/opt/halvora data\\Options.txt");
    EXPECT_TRUE(Channel.Messages.empty());
}

TEST_F(DataFolder, MissingValueSendsOneMessageAndLeavesItEmpty)
{
    const std::string cases[] = {
        "",  // no file at all: written below only when not empty
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n\"Other\"=\"x\"\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers]\r\n\"DataPath\"=\"/x\"\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n\"DataPath\"=dword:00000001\r\n",
    };
    for (const std::string& text : cases) {
        std::remove(Dir.File("registry.reg").c_str());
        if (!text.empty())
            WriteBytes(Dir.File("registry.reg"), text);
        Channel.Messages.clear();
        DataDir = "stale";
        InitDataPaths();
        EXPECT_EQ(DataDir, "");
        EXPECT_EQ(OptionsPath, "\\Options.txt");
        ASSERT_EQ(Channel.Messages.size(), 1u) << text;
        EXPECT_EQ(Untagged(Channel.Messages[0]), "uC.GetDataDir: no registry value");
    }
}

}  // namespace
