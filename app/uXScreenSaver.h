#pragma once
// Running under xscreensaver: its window options (-root, -window-id) and the
// settings it passes as options, which override the options file in memory only.

#include "platform/win/windows.h"

#include <cstdint>
#include <string>
#include <vector>

struct TXScreenSaverArgs {
    bool Present = false;       // the command line asked for an xscreensaver run
    bool UseRoot = false;       // -root: the window named by XSCREENSAVER_WINDOW, else the root
    HWND Window = nullptr;      // -window-id ID
    bool HasSpiralType = false, HasSpiralCount = false, HasBlendMode = false;
    int32_t SpiralType = 0, SpiralCount = 0, BlendMode = 0;
    std::string Error;          // empty when the command line was understood
    bool BadWindow = false;     // the error is a malformed -window-id: there is no window to run in
};

// Arguments as the program received them (index 0 the program itself).
TXScreenSaverArgs ParseXScreenSaverArgs(const std::vector<std::string>& arguments);
// A window id as xscreensaver writes it: decimal or 0x hexadecimal; 0 when malformed.
HWND ParseXWindowId(const std::string& text);

// Runs the saver into the requested window when the command line holds an xscreensaver window
// option and its first argument selects no run mode; false (nothing done, or only a malformed
// window id reported) otherwise, and the start sequence runs.
bool RunXScreenSaverMode(const std::vector<std::string>& arguments);

// Termination asked for by a signal (xscreensaver ends its hacks with SIGTERM).
void InstallTerminationHandler();
bool TerminationRequested();
void ClearTerminationRequest();
