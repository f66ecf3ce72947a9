#include "app/uUsage.h"

#include <cstdio>

#ifndef HALVORA_VERSION
#define HALVORA_VERSION "unknown"
#endif

namespace {

const char* const kUsage =
    "Usage: halvora [/s | /p HANDLE | /c | /a]\n"
    "       halvora -root | -window-id ID\n"
    "               [--spiral-type N] [--spiral-count N] [--blend-mode N]\n"
    "       halvora --help | --version\n"
    "\n"
    "Wandering spirals of glowing fire particles over long fading trails, after the\n"
    "desktop collapses into a dot.\n"
    "\n"
    "Modes (the letter may follow '/' or '-', in either case):\n"
    "  /s                 run full screen until a key, a click or moving the mouse\n"
    "  /p HANDLE          draw into the window HANDLE (decimal), as a preview\n"
    "  /c                 open the settings\n"
    "  /a                 change the password (does nothing on Linux)\n"
    "  (none)             take the desktop snapshot and end\n"
    "\n"
    "xscreensaver options (the spiral settings hold for this run only, never saved):\n"
    "  -root, --root      draw into $XSCREENSAVER_WINDOW, else the root window\n"
    "  -window-id ID, --window-id ID\n"
    "                     draw into the X window ID (decimal or 0x hexadecimal)\n"
    "  --spiral-type N    0 First, 1 Second, 2 Third\n"
    "  --spiral-count N   number of spirals\n"
    "  --blend-mode N     0 Bright, 1 Colored, 2 Combined\n"
    "\n"
    "Other options:\n"
    "  -h, --help         print this help and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "Environment:\n"
    "  HALVORA_DISPLAY=x11|offscreen   default: X11 when $DISPLAY answers\n"
    "  HALVORA_SCREEN=WxH              offscreen screen size (default 1024x768)\n"
    "  HALVORA_FRAMES=N                offscreen: close after N frames\n"
    "  HALVORA_CAPTURE=DIR             offscreen: write the frames into DIR as PNG\n"
    "  HALVORA_CAPTURE_EVERY=N         offscreen: every Nth frame (60) and the last\n"
    "  HALVORA_DESKTOP=FILE            offscreen: the desktop picture (PNG or TGA)\n"
    "  HALVORA_INPUT=FRAME:EVENT,...   offscreen: scripted input; EVENT is key=VK,\n"
    "                                  move=X;Y, ldown, lup, rdown or rup\n"
    "  HALVORA_FPS=SECONDS             print the frame rate every SECONDS\n"
    "  HALVORA_NO_SHM=1                X11: present without shared memory\n"
    "  HALVORA_REGISTRY=FILE           the user's registry file\n"
    "  XSCREENSAVER_WINDOW=ID          the window -root draws into\n"
    "  XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_STATE_HOME\n"
    "                                  where the user's data folder, registry and\n"
    "                                  monitor log are\n"
    "\n"
    "Each user's data folder, ${XDG_DATA_HOME:-~/.local/share}/halvora, holds their\n"
    "Options.txt, Error.log and Textures/Screen.tga. See halvora(6).\n";

bool Matches(const std::string& argument, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (argument == name)
            return true;
    return false;
}

}  // namespace

TInformation InformationAsked(const std::vector<std::string>& arguments)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (Matches(arguments[i], {"--help", "-help", "-h", "/?", "-?"}))
            return TInformation::Help;
        if (Matches(arguments[i], {"--version", "-version"}))
            return TInformation::Version;
    }
    return TInformation::None;
}

std::string UsageText() { return kUsage; }

std::string VersionText() { return std::string("halvora ") + HALVORA_VERSION + "\n"; }

bool PrintInformation(int argc, char** argv, int& status)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.emplace_back(argv[i] ? argv[i] : "");
    const TInformation asked = InformationAsked(arguments);
    if (asked == TInformation::None)
        return false;
    const std::string text = asked == TInformation::Help ? UsageText() : VersionText();
    // A full disk or a closed pipe is a failure the caller's script should see.
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    status = (std::fflush(stdout) == 0 && written) ? 0 : 1;
    if (status != 0)
        std::fprintf(stderr, "halvora: cannot write to standard output\n");
    return true;
}
