#include "platform/win/paths.h"
#include "platform/win/windows.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(ResolvePath, MatchesEachComponentIgnoringCase)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("Data/Textures"));
    WriteBytes(dir.File("Data/Textures/Particles.tga"), "x");
    WriteBytes(dir.File("Data/Textures/particles.uv"), "u");
    WriteBytes(dir.File("Data/Textures/particles.UV"), "U");
    const std::string root = dir.Path();
    struct Case {
        std::string In;
        std::string Out;
    };
    const Case cases[] = {
        {root + "\\Data\\Textures\\Particles.tga", root + "/Data/Textures/Particles.tga"},
        {root + "\\data\\textures\\particles.tga", root + "/Data/Textures/Particles.tga"},
        {root + "/DATA/TEXTURES/PARTICLES.TGA", root + "/Data/Textures/Particles.tga"},
        {root + "\\\\Data//Textures\\", root + "/Data/Textures"},
        // An exact name wins; otherwise the smallest spelling, whatever the folder order.
        {root + "\\Data\\Textures\\particles.UV", root + "/Data/Textures/particles.UV"},
        {root + "\\Data\\Textures\\PARTICLES.uv", root + "/Data/Textures/particles.UV"},
        // Missing parts stay as written so new files can be created.
        {root + "\\data\\New\\File.txt", root + "/Data/New/File.txt"},
        {root + "\\data\\textures\\new.TGA", root + "/Data/Textures/new.TGA"},
        {"\\Textures\\Screen.tga", "/Textures/Screen.tga"},
        {"C:\\Textures\\x", "/Textures/x"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ResolvePath(c.In), c.Out) << c.In;
}

TEST(Win32Files, WorkThroughResolvedPaths)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("Sub"));
    const std::string path = dir.Path() + "\\sub\\New.bin";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(ReadBytes(dir.File("Sub/New.bin")), "hello");

    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 80u);  // ERROR_FILE_EXISTS

    file = CreateFileA((dir.Path() + "/SUB/new.BIN").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 5u);
    EXPECT_EQ(high, 0u);
    char buffer[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "hello");
    EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
    EXPECT_TRUE(ReadFile(file, buffer, 2, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "el");
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_TRUE(CloseHandle(file));

    struct Missing {
        std::string Path;
        DWORD Error;
    };
    const Missing missing[] = {
        {dir.Path() + "\\sub\\none.bin", ERROR_FILE_NOT_FOUND},
        {dir.Path() + "\\nofolder\\none.bin", ERROR_PATH_NOT_FOUND},
    };
    for (const Missing& m : missing) {
        EXPECT_EQ(CreateFileA(m.Path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), m.Error) << m.Path;
        EXPECT_EQ(GetFileAttributesA(m.Path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(CreateFileA(dir.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileAttributesA((dir.Path() + "\\SUB").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));

    const std::string other = dir.Path() + "\\sub\\other.bin";
    WriteBytes(dir.File("Sub/other.bin"), "old");
    EXPECT_FALSE(MoveFileExA(path.c_str(), other.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA(path.c_str(), other.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(ReadBytes(dir.File("Sub/other.bin")), "hello");
    EXPECT_TRUE(DeleteFileA((dir.Path() + "\\SUB\\OTHER.BIN").c_str()));
    EXPECT_FALSE(DeleteFileA((dir.Path() + "\\SUB\\OTHER.BIN").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA((dir.Path() + "\\SUB").c_str()));

    EXPECT_TRUE(CreateDirectoryA((dir.Path() + "\\sub\\Made").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA((dir.Path() + "\\SUB\\made").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    char temp[2];
    const DWORD needed = GetTempPathA(sizeof temp, temp);
    std::string full(needed, '\0');
    EXPECT_EQ(GetTempPathA(needed, full.data()), needed - 1);
    EXPECT_EQ(full[needed - 2], '/');
}

}  // namespace
