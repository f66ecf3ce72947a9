#include "tests/e2e/process.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

std::string HalvoraExecutable() { return std::string(HALVORA_BINARY_DIR) + "/halvora"; }

TChild StartProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& extra, const std::string& stderrFile)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const std::string& x : extra)
            overridden = overridden || x.substr(0, x.find('=')) == name;
        if (!overridden)
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<char*> envp, argv;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program0 = program;
    std::vector<std::string> argsCopy = args;
    argv.push_back(program0.data());
    for (std::string& a : argsCopy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stderrFile.empty())
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TChild child;
    if (posix_spawn(&child.Pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        child.Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

namespace {
int DecodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}
}  // namespace

int WaitProgram(TChild& child, int timeoutMs)
{
    if (child.Pid <= 0)
        return child.Status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (true) {
        const pid_t done = waitpid(child.Pid, &status, WNOHANG);
        if (done == child.Pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child.Pid, SIGKILL);
            waitpid(child.Pid, &status, 0);
            child.Pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    child.Pid = -1;
    child.Status = DecodeStatus(status);
    return child.Status;
}

bool StillRunning(TChild& child)
{
    if (child.Pid <= 0)
        return false;
    int status = 0;
    if (waitpid(child.Pid, &status, WNOHANG) != child.Pid)
        return true;
    child.Pid = -1;
    child.Status = DecodeStatus(status);
    return false;
}
