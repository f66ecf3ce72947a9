#pragma once
// The options that only print something: --help and --version. They are answered before
// the program entry runs, so neither takes the desktop snapshot nor reads any setting.

#include <string>
#include <vector>

enum class TInformation { None, Help, Version };

// What the first of these options among Arguments (after the program name) asks for.
TInformation InformationAsked(const std::vector<std::string>& arguments);
std::string UsageText();
std::string VersionText();

// Prints what the command line asks for; true when it asked, with the exit status in Status.
bool PrintInformation(int argc, char** argv, int& status);
