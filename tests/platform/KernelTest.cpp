#include "platform/win/clock.h"
#include "platform/win/library.h"
#include "platform/win/windows.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteBytes;

LONGLONG Counter()
{
    LARGE_INTEGER value{};
    EXPECT_TRUE(QueryPerformanceCounter(&value));
    return value.QuadPart;
}

TEST(Clock, VirtualModeMovesOnlyOnSleep)
{
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    ASSERT_GT(frequency.QuadPart, 0);

    platform::SetVirtualClock(true);
    EXPECT_TRUE(platform::IsVirtualClock());
    const LONGLONG start = Counter();
    const auto wall = std::chrono::steady_clock::now();
    EXPECT_EQ(Counter(), start);
    Sleep(20);
    EXPECT_EQ(Counter() - start, frequency.QuadPart * 20 / 1000);
    Sleep(1000 * 60);
    EXPECT_EQ(Counter() - start, frequency.QuadPart * 60020 / 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - wall, std::chrono::seconds(1));
    const DWORD ticks = GetTickCount();
    Sleep(5);
    EXPECT_EQ(GetTickCount() - ticks, 5u);
    platform::SetVirtualClock(false);
    EXPECT_FALSE(platform::IsVirtualClock());

    const LONGLONG before = Counter();
    Sleep(2);
    EXPECT_GE(Counter() - before, frequency.QuadPart * 2 / 1000);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

int Answer() { return 42; }

TEST(Libraries, BuiltinTableBehavesLikeLoadLibrary)
{
    EXPECT_EQ(LoadLibraryA("MPR.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    platform::RegisterBuiltinLibrary("Test.dll", {{"Answer", reinterpret_cast<void*>(&Answer)}});
    for (const char* name : {"Test.dll", "TEST.DLL", "test", "C:\\Windows\\System32\\test.DLL"}) {
        HMODULE module = LoadLibraryA(name);
        ASSERT_NE(module, nullptr) << name;
        FARPROC proc = GetProcAddress(module, "Answer");
        ASSERT_NE(proc, nullptr);
        EXPECT_EQ(reinterpret_cast<int (*)()>(reinterpret_cast<void (*)()>(proc))(), 42);
        EXPECT_EQ(GetProcAddress(module, "answer"), nullptr);
        EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(1)), nullptr);
        EXPECT_TRUE(FreeLibrary(module));
    }
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(0x10)));
    EXPECT_EQ(GetProcAddress(nullptr, "Answer"), nullptr);
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
    char path[4096];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(path[0], '/');
    char tiny[4];
    EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 4u);
    EXPECT_EQ(tiny[3], '\0');
}

class Exec : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(Dir.File("bin")); }
    std::string Script(const std::string& name, const std::string& body)
    {
        const std::string path = Dir.File("bin/" + name);
        WriteBytes(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
        return path;
    }
    TempDir Dir;
    ScopedEnv Path{"PATH", Dir.File("bin") + ":/usr/bin:/bin"};
};

TEST_F(Exec, MissingProgramsFail)
{
    WriteBytes(Dir.File("bin/plain.exe"), "not a program");
    struct Case {
        const char* Command;
        UINT Result;
    };
    const Case cases[] = {
        {"Nowhere-To-Be-Found.exe", ERROR_FILE_NOT_FOUND},
        {"", ERROR_FILE_NOT_FOUND},
        {"/no/such/dir/x.exe", ERROR_PATH_NOT_FOUND},
        {"plain.exe", ERROR_BAD_FORMAT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WinExec(c.Command, SW_HIDE), c.Result) << c.Command;
    EXPECT_EQ(WinExec(nullptr, SW_HIDE), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Exec, StartsDetachedAndWaitsForTheStartSignal)
{
    // The program writes where it ran, then signals through the inherited descriptor.
    Script("marker", "echo \"$1 $HALVORA_STARTUP_FD\" > \"" + Dir.File("ran") +
                         "\"; printf x >&$HALVORA_STARTUP_FD; sleep 1");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_GT(WinExec("Marker.exe arg1", SW_HIDE), 31u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(testsupport::ReadBytes(Dir.File("ran")).substr(0, 5), "arg1 ");
}

TEST_F(Exec, ReturnsWhenTheProgramEndsWithoutSignalling)
{
    Script("quick", "exit 0");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_GT(WinExec("quick", SW_HIDE), 31u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
