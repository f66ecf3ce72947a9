#pragma once
// A private X server for tests that need a real display.

#include "tests/e2e/process.h"

#include <string>

class TXvfb {
public:
    // Starts Xvfb with one screen of Width x Height x 24; Ok() is false when it is not installed.
    TXvfb(int width, int height);
    ~TXvfb();
    bool Ok() const { return !display_.empty(); }
    const std::string& Display() const { return display_; }
    // Runs a command line with DISPLAY set, returns its exit status.
    int Run(const std::string& command) const;

private:
    TChild server_;
    std::string display_;
};

bool ProgramInstalled(const std::string& name);
