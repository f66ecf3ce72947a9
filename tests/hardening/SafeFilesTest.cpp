// The user's files survive whatever happens: a save cut short leaves the old options file,
// the registry file is only ever read, and the log is only appended to.

#include "app/uC.h"
#include "common/uMonitor.h"
#include "framework/uD3DApp.h"
#include "tests/framework/saver_sandbox.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

struct FileState {
    std::string bytes;
    ino_t inode = 0;
    timespec modified{};
};

FileState StateOf(const std::string& path)
{
    FileState state;
    state.bytes = ReadTextFile(path);
    struct stat st{};
    if (stat(path.c_str(), &st) == 0) {
        state.inode = st.st_ino;
        state.modified = st.st_mtim;
    }
    return state;
}

bool Unchanged(const FileState& a, const FileState& b)
{
    return a.bytes == b.bytes && a.inode == b.inode && a.modified.tv_sec == b.modified.tv_sec &&
           a.modified.tv_nsec == b.modified.tv_nsec;
}

int StrayFiles(const std::string& folder)
{
    int stray = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind(".halvora-", 0) == 0)
            ++stray;
    return stray;
}

// In a child process, so the file size limit cannot touch the rest of the suite. Exit code 0:
// SaveOptions reported the failure and returned false.
int SaveUnderFileSizeLimit(rlim_t limit)
{
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        bool reported = false;
        SetMonitorHook([&](const std::string& m) { reported |= m.find("uC.SaveOptions: cannot write") != m.npos; });
        signal(SIGXFSZ, SIG_IGN);
        rlimit small{limit, limit};
        setrlimit(RLIMIT_FSIZE, &small);
        Options.SpiralCount = 5;
        Options.Width = 1280;
        const bool saved = SaveOptions();
        _exit(!saved && reported ? 0 : saved ? 1 : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SafeFiles, ASaveCutShortKeepsTheOldOptionsFileAndSaysSo)
{
    SaverSandbox sandbox;
    sandbox.LoadLikeTheEntry();
    const std::string options = sandbox.DataFolder() + "/Options.txt";
    const std::string before = ReadTextFile(options);
    ASSERT_GT(before.size(), 100u);
    for (rlim_t limit : {rlim_t{1}, rlim_t{100}, rlim_t{before.size() - 1}}) {
        SCOPED_TRACE(limit);
        EXPECT_EQ(SaveUnderFileSizeLimit(limit), 0) << "1: claimed success, 2: failure not reported";
        EXPECT_EQ(ReadTextFile(options), before);
        EXPECT_EQ(StrayFiles(sandbox.DataFolder()), 0) << "the half-written temporary file is removed";
    }
}

TEST(SafeFiles, TheRegistryIsOnlyReadAndTheLogOnlyGrows)
{
    SaverSandbox sandbox;
    ASSERT_TRUE(WindowLayerPresent()) << "no window can be created";
    sandbox.LoadLikeTheEntry();
    StartRecordingMessageBoxes();
    const std::string registry = sandbox.Root() + "/registry.reg";
    const std::string log = sandbox.DataFolder() + "/Error.log";
    const FileState registryBefore = StateOf(registry);
    ASSERT_FALSE(registryBefore.bytes.empty());

    std::string logSoFar;
    ino_t logInode = 0;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(StartSaverInProcess(true), S_OK);
        StepFrames(40);
        StopSaverInProcess();
        ASSERT_TRUE(SaveOptions());
        sandbox.LoadLikeTheEntry();
        const FileState logNow = StateOf(log);
        ASSERT_GT(logNow.bytes.size(), logSoFar.size());
        EXPECT_EQ(logNow.bytes.compare(0, logSoFar.size(), logSoFar), 0) << "earlier lines are kept as they were";
        if (run > 0) {
            EXPECT_EQ(logNow.inode, logInode) << "appended in place, never replaced";
        }
        logSoFar = logNow.bytes;
        logInode = logNow.inode;
        EXPECT_TRUE(Unchanged(StateOf(registry), registryBefore));
    }
    StopRecordingMessageBoxes();
}

}  // namespace
