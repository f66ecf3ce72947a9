// WinExec and the thread's last-error value.

#include "platform/win/paths.h"
#include "platform/win/profile.h"
#include "platform/win/windows.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

thread_local DWORD LastError = ERROR_SUCCESS;

// How long WinExec waits for the started program to reach its message loop.
constexpr int kStartupWaitMs = 5000;
constexpr UINT kWinExecStarted = 33;

bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool IsRegularFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool EndsWithExe(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return tail == ".exe";
}

// Candidates in one folder: the name, then the name without ".exe".
std::vector<std::string> CandidateNames(const std::string& name)
{
    std::vector<std::string> names{name};
    if (EndsWithExe(name) && name.size() > 4)
        names.push_back(name.substr(0, name.size() - 4));
    return names;
}

// Windows' order for a bare name: the program's folder, the current folder, PATH.
// Found: an executable; NotExecutable: a match that cannot be run.
enum class Search { Found, NotExecutable, Missing };

Search FindProgram(const std::string& program, std::string& found)
{
    bool sawFile = false;
    const auto tryPath = [&](const std::string& winPath) {
        const std::string native = platform::ResolvePath(winPath);
        if (IsExecutableFile(native)) {
            found = native;
            return true;
        }
        sawFile = sawFile || IsRegularFile(native);
        return false;
    };
    const bool hasFolder = program.find_first_of("\\/") != std::string::npos;
    std::vector<std::string> folders;
    if (hasFolder) {
        folders.push_back(std::string());
    } else {
        folders.push_back(platform::ProgramFolder());
        folders.push_back(".");
        const char* path = std::getenv("PATH");
        std::string list = path ? path : "";
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            folders.push_back(end > start ? list.substr(start, end - start) : std::string("."));
            start = end + 1;
        }
    }
    for (const std::string& folder : folders) {
        if (!hasFolder && folder.empty())
            continue;
        for (const std::string& name : CandidateNames(program))
            if (tryPath(hasFolder ? name : folder + "/" + name))
                return Search::Found;
    }
    return sawFile ? Search::NotExecutable : Search::Missing;
}

// The command line's words; a word may be quoted to hold blanks.
std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> words;
    std::string current;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any)
                words.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        words.push_back(current);
    return words;
}

bool WaitReadable(int fd, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

ssize_t ReadRetrying(int fd, void* buffer, std::size_t size)
{
    ssize_t n;
    do
        n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

[[noreturn]] void ChildFail(int reportFd, int error)
{
    ssize_t ignored = ::write(reportFd, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

}  // namespace

DWORD GetLastError() { return LastError; }
void SetLastError(DWORD dwErrCode) { LastError = dwErrCode; }

UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow)
{
    const std::vector<std::string> words = SplitCommandLine(lpCmdLine ? lpCmdLine : "");
    if (words.empty() || words[0].empty())
        return ERROR_FILE_NOT_FOUND;
    std::string program;
    switch (FindProgram(words[0], program)) {
    case Search::Found:
        break;
    case Search::NotExecutable:
        return ERROR_BAD_FORMAT;
    case Search::Missing:
        return words[0].find_first_of("\\/") != std::string::npos ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    }

    int startup[2], report[2];
    if (::pipe2(startup, O_CLOEXEC) != 0)
        return 0;
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(startup[0]);
        ::close(startup[1]);
        return 0;
    }
    // Everything the child needs is built before fork: only async-signal-safe calls follow it.
    std::vector<std::string> env;
    const std::string startupVariable = "HALVORA_STARTUP_FD=";
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, startupVariable.c_str(), startupVariable.size()) != 0)
            env.emplace_back(*e);
    env.push_back(startupVariable + std::to_string(startup[1]));
    std::vector<char*> envp, argv;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = words;
    args[0] = program;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) {
        for (int fd : {startup[0], startup[1], report[0], report[1]})
            ::close(fd);
        return 0;
    }
    if (child == 0) {
        // The intermediate child exits at once so the program is adopted by init and never left a zombie.
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 1 : 0);
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            if (null > 2)
                ::close(null);
        }
        ::signal(SIGPIPE, SIG_DFL);
        if (::fcntl(startup[1], F_SETFD, 0) != 0)
            ChildFail(report[1], errno);
        ::execve(program.c_str(), argv.data(), envp.data());
        ChildFail(report[1], errno);
    }
    ::close(startup[1]);
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    // The report pipe closes on a successful exec; an errno arrives when it failed.
    int execError = 0;
    const ssize_t got = ReadRetrying(report[0], &execError, sizeof execError);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof execError) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ::close(startup[0]);
        return got == static_cast<ssize_t>(sizeof execError) && execError == ENOEXEC ? ERROR_BAD_FORMAT : 0;
    }
    // Returns on the first byte, on the program closing the pipe or ending, or after the bounded wait.
    if (WaitReadable(startup[0], kStartupWaitMs)) {
        char byte;
        ReadRetrying(startup[0], &byte, 1);
    }
    ::close(startup[0]);
    (void)uCmdShow;
    return kWinExecStarted;
}
