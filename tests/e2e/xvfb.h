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

// Starts Xvfb with one screen of Width x Height x Depth; the display name, or empty with the
// reason in Problem.
std::string StartXvfb(int width, int height, int depth, TChild& server, std::string& problem);

// A plain mapped top-level window on a display, standing in for another program's window.
class TXParentWindow {
public:
    // At (X, Y), filled with Background (0x00RRGGBB on a TrueColor screen).
    TXParentWindow(const std::string& display, int width, int height, int x = 10, int y = 10,
                   unsigned long background = 0);
    ~TXParentWindow();
    TXParentWindow(const TXParentWindow&) = delete;
    TXParentWindow& operator=(const TXParentWindow&) = delete;
    bool Ok() const { return id_ != 0; }
    unsigned long Id() const { return id_; }
    // Its child windows, or -1 once it cannot be queried; the first one's size when asked.
    int ChildCount(int* width = nullptr, int* height = nullptr) const;
    void Destroy();

private:
    void* display_ = nullptr;
    unsigned long id_ = 0;
};
