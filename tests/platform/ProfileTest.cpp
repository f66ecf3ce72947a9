#include "platform/win/profile.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

using testsupport::ReadBytes;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(InstallRoot, IsWhatPrecedesTheInstalledProgramFolder)
{
    const std::string installed = platform::InstalledProgramFolder();
    ASSERT_FALSE(installed.empty());
    ASSERT_EQ(installed[0], '/');
    struct Case {
        std::string Folder;
        std::optional<std::string> Root;
    };
    const Case cases[] = {
        {installed, ""},
        {"/tmp/unpacked" + installed, "/tmp/unpacked"},
        {"/tmp/x" + installed.substr(1), std::nullopt},  // "/tmp/xusr/...": not a whole component
        {installed + "/sub", std::nullopt},
        {installed.substr(0, installed.size() - 1), std::nullopt},
        {"", std::nullopt},
        {"/work/build/tests", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::InstallRootOf(c.Folder), c.Root) << c.Folder;
}

TEST(InstallRoot, ABuildTreeHasNoMachineFiles)
{
    // The test program runs from its build folder: it must never read this machine's /etc.
    EXPECT_FALSE(platform::ProgramFolder().empty());
    EXPECT_EQ(platform::InstallRootOf(platform::ProgramFolder()), std::nullopt);
    EXPECT_EQ(platform::MachineConfigFolder(), "");
    EXPECT_EQ(platform::MachineDataFolder(), "");
}

TEST(UserFolders, FollowTheBaseDirectoryRules)
{
    TempDir dir;
    ScopedEnv home("HOME", dir.Path());
    struct Case {
        platform::UserFolderKind Kind;
        const char* Variable;
        std::optional<std::string> Value;
        std::string Expected;
    };
    const Case cases[] = {
        {platform::UserFolderKind::Data, "XDG_DATA_HOME", "/data", "/data"},
        {platform::UserFolderKind::Data, "XDG_DATA_HOME", std::nullopt, dir.Path() + "/.local/share"},
        {platform::UserFolderKind::Data, "XDG_DATA_HOME", "", dir.Path() + "/.local/share"},
        {platform::UserFolderKind::Data, "XDG_DATA_HOME", "relative/share", dir.Path() + "/.local/share"},
        {platform::UserFolderKind::Config, "XDG_CONFIG_HOME", "/cfg", "/cfg"},
        {platform::UserFolderKind::Config, "XDG_CONFIG_HOME", std::nullopt, dir.Path() + "/.config"},
        {platform::UserFolderKind::State, "XDG_STATE_HOME", std::nullopt, dir.Path() + "/.local/state"},
    };
    for (const Case& c : cases) {
        ScopedEnv variable(c.Variable, c.Value);
        EXPECT_EQ(platform::UserBaseFolder(c.Kind), c.Expected) << c.Variable << "=" << c.Value.value_or("<unset>");
    }
    ScopedEnv data("XDG_DATA_HOME", "/d");
    EXPECT_EQ(platform::UserDataFolder(), "/d/halvora");
}

TEST(UserFolders, ExpandInTexts)
{
    TempDir dir;
    ScopedEnv home("HOME", dir.Path());
    ScopedEnv data("XDG_DATA_HOME", "/data");
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    const std::string h = dir.Path();
    struct Case {
        std::string In;
        std::string Out;
    };
    const Case cases[] = {
        {"%XDG_DATA_HOME%/halvora", "/data/halvora"},
        {"%XDG_DATA_HOME%\\halvora", "/data\\halvora"},
        {"%xdg_data_home%", "%xdg_data_home%"},  // variable names are spelt exactly
        {"%XDG_CONFIG_HOME%", h + "/.config"},
        {"%HOME%/a/%HOME%", h + "/a/" + h},
        {"/plain/path", "/plain/path"},
        {"", ""},
        {"%PATH%/x", "%PATH%/x"},    // only the user's folders, not any variable
        {"100%/%HOME%", "100%/" + h},  // a lone '%' stays, and the next one starts a reference
        {"%%HOME%", "%" + h},
        {"%HOME", "%HOME"},
        {"%", "%"},
        {"%%", "%%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ExpandUserFolders(c.In), c.Out) << c.In;
}

class SeedFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(Machine + "/Particles");
        fs::create_directories(Machine + "/Textures");
        WriteBytes(Machine + "/Particles/@Fire1.prt", "fire");
        WriteBytes(Machine + "/Textures/Particles.tga", "tga");
        WriteBytes(Machine + "/Textures/Particles.uv", "uv");
    }
    std::string Link(const std::string& name) const
    {
        std::error_code error;
        const fs::path target = fs::read_symlink(User + "/" + name, error);
        return error ? "<not a link>" : target.string();
    }
    TempDir Dir;
    std::string Machine = Dir.File("usr/share/halvora");
    std::string User = Dir.File("home/.local/share/halvora");
};

TEST_F(SeedFolder, LinksEveryShippedFileIntoPrivateFolders)
{
    ASSERT_TRUE(platform::SeedFolder(Machine, User));
    for (const char* name : {"Particles/@Fire1.prt", "Textures/Particles.tga", "Textures/Particles.uv"})
        EXPECT_EQ(Link(name), fs::canonical(Machine).string() + "/" + name) << name;
    EXPECT_EQ(ReadBytes(User + "/Particles/@Fire1.prt"), "fire");
    for (const std::string& folder : {User, User + "/Textures", Dir.File("home/.local")}) {
        EXPECT_FALSE(fs::is_symlink(folder)) << folder;
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all) << folder;
    }
    // Seeding again changes nothing; the user's own files beside the links are left alone.
    WriteBytes(User + "/Textures/Screen.tga", "snapshot");
    WriteBytes(User + "/Options.txt", "Width 800");
    ASSERT_TRUE(platform::SeedFolder(Machine, User));
    EXPECT_EQ(ReadBytes(User + "/Textures/Screen.tga"), "snapshot");
    EXPECT_EQ(ReadBytes(User + "/Options.txt"), "Width 800");
}

TEST_F(SeedFolder, KeepsWhatTheUserPutInPlaceAndMendsBrokenLinks)
{
    fs::create_directories(User + "/Textures");
    WriteBytes(User + "/Particles", "a file where the folder would be");
    WriteBytes(User + "/Textures/Particles.tga", "the user's own");
    fs::create_symlink(Dir.File("gone.uv"), User + "/Textures/Particles.uv");
    ASSERT_TRUE(platform::SeedFolder(Machine, User));
    EXPECT_EQ(ReadBytes(User + "/Particles"), "a file where the folder would be");
    EXPECT_EQ(ReadBytes(User + "/Textures/Particles.tga"), "the user's own");
    EXPECT_EQ(ReadBytes(User + "/Textures/Particles.uv"), "uv");

    // A link to a file that is there, even elsewhere, is the user's choice.
    WriteBytes(Dir.File("mine.uv"), "mine");
    fs::remove(User + "/Textures/Particles.uv");
    fs::create_symlink(Dir.File("mine.uv"), User + "/Textures/Particles.uv");
    ASSERT_TRUE(platform::SeedFolder(Machine, User));
    EXPECT_EQ(ReadBytes(User + "/Textures/Particles.uv"), "mine");
}

TEST_F(SeedFolder, RefusesWhatCannotBeSeeded)
{
    EXPECT_FALSE(platform::SeedFolder(Dir.File("missing"), User));
    EXPECT_FALSE(fs::exists(User));
    WriteBytes(Dir.File("file"), "x");
    EXPECT_FALSE(platform::SeedFolder(Machine, Dir.File("file/halvora")));

    // One folder seen twice, through a link: nothing to do, and nothing linked to itself.
    fs::create_directories(Dir.File("home/.local/share"));
    fs::create_directory_symlink(Machine, User);
    EXPECT_TRUE(platform::SeedFolder(Machine, User));
    EXPECT_FALSE(fs::is_symlink(Machine + "/Particles/@Fire1.prt"));
    EXPECT_EQ(ReadBytes(Machine + "/Particles/@Fire1.prt"), "fire");
}

TEST_F(SeedFolder, StopsAtAbsurdTrees)
{
    // A link back up the machine's folder is not walked, so it cannot loop.
    fs::create_directory_symlink(Machine, Machine + "/Particles/loop");
    EXPECT_TRUE(platform::SeedFolder(Machine, User));
    EXPECT_FALSE(fs::exists(User + "/Particles/loop"));
    EXPECT_EQ(Link("Particles/@Fire1.prt"), fs::canonical(Machine).string() + "/Particles/@Fire1.prt");

    // Past the depth cap nothing more is made, and the result says so.
    std::string deep = Machine;
    for (int i = 0; i < 12; ++i)
        deep += "/d";
    fs::create_directories(deep);
    WriteBytes(deep + "/f", "x");
    EXPECT_FALSE(platform::SeedFolder(Machine, User));
    EXPECT_FALSE(fs::exists(User + "/d/d/d/d/d/d/d/d/d/d/d/d/f"));
}

}  // namespace
