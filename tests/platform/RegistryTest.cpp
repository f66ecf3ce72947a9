#include "platform/win/profile.h"
#include "platform/win/windows.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteBytes;

const char* const kSettings = "\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings";

class RegistryFile : public ::testing::Test {
protected:
    // The DataPath string under the settings key, or "<none>".
    std::string Query(const char* subkey = kSettings, const char* value = "DataPath")
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "<no key>";
        DWORD type = 0, size = 0;
        std::string result = "<none>";
        if (RegQueryValueExA(key, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
            std::string data(size, '\0');
            DWORD got = size;
            if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &got) == ERROR_SUCCESS &&
                got == size && size > 0 && data.back() == '\0')
                result = data.substr(0, size - 1);
        }
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        return result;
    }
    TempDir Dir;
    ScopedEnv Registry{"HALVORA_REGISTRY", Dir.File("r.reg")};
};

TEST_F(RegistryFile, ReadsKeysAndStrings)
{
    struct Case {
        const char* Name;
        std::string Text;
        std::string Expected;
    };
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]";
    const Case cases[] = {
        {"plain", "REGEDIT4\r\n\r\n" + key + "\r\n\"DataPath\"=\"/data\"\r\n", "/data"},
        {"escapes", "REGEDIT4\n" + key + "\n\"DataPath\"=\"C:\\\\Saver \\\"x\\\"\"\n", "C:\\Saver \"x\""},
        {"key case", "REGEDIT4\n[hkey_local_machine\\software\\[TZO] SAVERS\\[tzo] halvora screensaver\\SETTINGS]\n"
                     "\"datapath\"=\"/lower\"\n", "/lower"},
        {"later line wins", "REGEDIT4\n" + key + "\n\"DataPath\"=\"/a\"\n\"DataPath\"=\"/b\"\n", "/b"},
        {"other key after", "REGEDIT4\n" + key + "\n\"DataPath\"=\"/a\"\n[HKEY_LOCAL_MACHINE\\Other]\n\"DataPath\"=\"/b\"\n", "/a"},
        {"no header, blanks", "  " + key + "  \n  \"DataPath\" = \"/spaced\"  \n", "/spaced"},
        {"value in another key", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"DataPath\"=\"/x\"\n" + key + "\n", "<none>"},
        {"unterminated string", "REGEDIT4\n" + key + "\n\"DataPath\"=\"/open\n", "<none>"},
        {"dword is not a string", "REGEDIT4\n" + key + "\n\"DataPath\"=dword:00000010\n", "<none>"},
        {"missing bracket", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings\n"
                            "\"DataPath\"=\"/x\"\n", "<no key>"},
        {"other root", "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\n"
                       "\"DataPath\"=\"/x\"\n", "<no key>"},
        {"empty file", "", "<no key>"},
    };
    for (const Case& c : cases) {
        WriteBytes(Dir.File("r.reg"), c.Text);
        EXPECT_EQ(Query(), c.Expected) << c.Name;
    }
}

TEST_F(RegistryFile, KeysWithBracketsParentsAndSubkeys)
{
    WriteBytes(Dir.File("r.reg"), "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\[b]]\\c]]]\n\"V\"=\"deep\"\n");
    EXPECT_EQ(Query("\\A\\[b]]\\c]]", "V"), "deep");
    EXPECT_EQ(Query("A\\[b]]\\c]]", "v"), "deep");
    EXPECT_EQ(Query("A", "V"), "<none>");  // parents exist without values
    EXPECT_EQ(Query("A\\[b]", "V"), "<no key>");

    HKEY parent = nullptr, child = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "a", 0, KEY_READ, &parent), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(parent, "[B]]\\C]]", 0, KEY_READ, &child), ERROR_SUCCESS);
    char data[4];
    DWORD size = sizeof data, type = 0;
    EXPECT_EQ(RegQueryValueExA(child, "V", nullptr, &type, reinterpret_cast<LPBYTE>(data), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(RegQueryValueExA(child, "missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(child, "V", nullptr, &type, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
}

TEST_F(RegistryFile, BadInputIsSafe)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919) & 0xFF);
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\n";
    WriteBytes(Dir.File("r.reg"), garbage);
    EXPECT_EQ(Query(), "<no key>");

    // A huge line, then the real entry: still found.
    WriteBytes(Dir.File("r.reg"), "REGEDIT4\n" + std::string(2 * 1024 * 1024, '[') + "\n" + key + "\"DataPath\"=\"/after\"\n");
    EXPECT_EQ(Query(), "/after");

    // Past the size cap nothing more is read.
    WriteBytes(Dir.File("r.reg"), std::string(5 * 1024 * 1024, ';') + "\n" + key + "\"DataPath\"=\"/far\"\n");
    EXPECT_EQ(Query(), "<no key>");

    std::remove(Dir.File("r.reg").c_str());
    EXPECT_EQ(Query(), "<no key>");
    HKEY key2 = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "X", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), "X", 0, KEY_READ, &key2), ERROR_INVALID_HANDLE);
    EXPECT_EQ(key2, nullptr);
}

TEST_F(RegistryFile, FileLocationFollowsTheEnvironment)
{
    const std::string content =
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\n\"DataPath\"=\"/cfg\"\n";
    std::filesystem::create_directories(Dir.File("config/halvora"));
    std::filesystem::create_directories(Dir.File("home/.config/halvora"));
    WriteBytes(Dir.File("config/halvora/registry.reg"), content);
    WriteBytes(Dir.File("home/.config/halvora/registry.reg"), content + "\"DataPath\"=\"/home\"\n");
    ScopedEnv unset("HALVORA_REGISTRY", std::nullopt);
    ScopedEnv home("HOME", Dir.File("home"));
    {
        ScopedEnv config("XDG_CONFIG_HOME", Dir.File("config"));
        EXPECT_EQ(Query(), "/cfg");
    }
    ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(Query(), "/home");
}

}  // namespace

namespace {

// The machine's registry beneath the user's: what an installed program sees.
class LayeredRegistry : public RegistryFile {
protected:
    void SetUp() override
    {
        platform::SetInstallRootForTests(Dir.File("root"));
        std::filesystem::create_directories(platform::MachineConfigFolder());
    }
    void TearDown() override { platform::SetInstallRootForTests(std::nullopt); }
    std::string MachineHive() const { return platform::MachineConfigFolder() + "/registry.reg"; }
    ScopedEnv Home{"HOME", Dir.File("home")};
    ScopedEnv DataHome{"XDG_DATA_HOME", std::nullopt};
};

TEST_F(LayeredRegistry, TheUsersValuesWinOverTheMachines)
{
    const std::string settings = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\n";
    const std::string other = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"DataPath\"=\"/other\"\n";
    struct Case {
        const char* Name;
        std::optional<std::string> Machine;
        std::optional<std::string> User;
        std::string Expected;
    };
    const Case cases[] = {
        {"machine only", settings + "\"DataPath\"=\"/machine\"\n", std::nullopt, "/machine"},
        {"both", settings + "\"DataPath\"=\"/machine\"\n", settings + "\"DataPath\"=\"/user\"\n", "/user"},
        {"user key without the value", settings + "\"DataPath\"=\"/machine\"\n", settings + "\"Other\"=\"x\"\n",
         "/machine"},
        {"user file of other keys", settings + "\"DataPath\"=\"/machine\"\n", other, "/machine"},
        {"key only in the user's", other, settings + "\"DataPath\"=\"/user\"\n", "/user"},
        {"key in neither", other, other, "<no key>"},
        // A file's last key does not run on into the next file.
        {"no key line in the user's", settings, "\"DataPath\"=\"/stray\"\n", "<none>"},
        {"user only", std::nullopt, settings + "\"DataPath\"=\"/user\"\n", "/user"},
        {"neither", std::nullopt, std::nullopt, "<no key>"},
        {"machine garbage", std::string("\x01[\xff]\n\"=\n"), std::nullopt, "<no key>"},
        {"the user's folders expand", settings + "\"DataPath\"=\"%HOME%/h\"\n", std::nullopt, Dir.File("home") + "/h"},
        {"the data home expands", settings + "\"DataPath\"=\"%XDG_DATA_HOME%/halvora\"\n", std::nullopt,
         Dir.File("home") + "/.local/share/halvora"},
        {"in the user's too", std::nullopt, settings + "\"DataPath\"=\"%HOME%\\\\x\"\n", Dir.File("home") + "\\x"},
    };
    for (const Case& c : cases) {
        std::remove(MachineHive().c_str());
        std::remove(Dir.File("r.reg").c_str());
        if (c.Machine)
            WriteBytes(MachineHive(), "REGEDIT4\n" + *c.Machine);
        if (c.User)
            WriteBytes(Dir.File("r.reg"), "REGEDIT4\n" + *c.User);
        EXPECT_EQ(Query(), c.Expected) << c.Name;
    }
}

}  // namespace
