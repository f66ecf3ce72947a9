#pragma once
// Starting the real executable from tests, with a bounded wait.

#include <string>
#include <sys/types.h>
#include <vector>

struct TChild {
    pid_t Pid = -1;
    int Status = -1;  // set once the child has been reaped
};

// Starts Program with Args (without argv[0]) and the current environment plus Extra (NAME=VALUE).
TChild StartProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& extra, const std::string& stderrFile = "");
// Waits up to TimeoutMs; the exit status (WEXITSTATUS), 128 + signal, or -1 after a timeout (the child is killed).
int WaitProgram(TChild& child, int timeoutMs);
// Reaps the child when it has ended (its status then goes to Status).
bool StillRunning(TChild& child);
std::string HalvoraExecutable();
