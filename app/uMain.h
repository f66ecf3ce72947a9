#pragma once
// The program entry and its run modes.

#include "platform/win/windows.h"

#include <functional>
#include <string>
#include <vector>

int HalvoraMain(int argc, char** argv);

void SetCommandLine(std::vector<std::string> arguments);
// Argument Index of the command line (1 = first after the program), empty when absent.
std::string ParamStr(int index);

// The mode letter: 0 for an empty text, else the upper-cased first character
// of a one-character text or the second character of a longer one.
char SelectMode(const std::string& firstArgument);
void Dispatch(char modeLetter);

void ChangePassword();
// False when no dialog could be shown (no display).
bool RunSettings();
void RunPreview();
void RunFullScreen();
void PumpMessages(bool hideCursor);
// Source: the window the saver is to cover, when not the desktop; its picture is what the
// screen showed there.
bool SnapshotDesktop(const std::string& targetPath, HWND source = nullptr);

// Test seams: while set, the run modes call these instead of the application
// object and the settings dialog.
void SetRunApplicationOverride(std::function<HRESULT(bool fullScreen)> run);
void SetRunSettingsOverride(std::function<bool()> run);
