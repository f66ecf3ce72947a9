#include "tests/e2e/xvfb.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

bool ProgramInstalled(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string StartXvfb(int width, int height, int depth, TChild& server, std::string& problem)
{
    if (!ProgramInstalled("Xvfb")) {
        problem = "Xvfb is not installed";
        return {};
    }
    int fds[2];
    if (pipe(fds) != 0) {
        problem = "no pipe for Xvfb";
        return {};
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    server = StartProgram("/usr/bin/env",
                          {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp",
                           "-noreset"},
                          {}, "/dev/null");
    close(fds[1]);
    // The server writes its display number and a newline once it accepts clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && poll(&p, 1, 100) >= 0) {
        if (!(p.revents & (POLLIN | POLLHUP)))
            continue;
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        problem = "Xvfb did not start with a " + screen + " screen";
        return {};
    }
    return ":" + number;
}

TXvfb::TXvfb(int width, int height)
{
    std::string problem;
    display_ = StartXvfb(width, height, 24, server_, problem);
}

TXvfb::~TXvfb()
{
    if (server_.Pid > 0) {
        kill(server_.Pid, SIGTERM);
        WaitProgram(server_, 5000);
    }
}

int TXvfb::Run(const std::string& command) const
{
    const int status = std::system(("DISPLAY=" + display_ + " " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
