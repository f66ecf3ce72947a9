#include "app/uXScreenSaver.h"

#include "app/uAppHooks.h"
#include "app/uC.h"
#include "app/uMain.h"
#include "app/uRunState.h"
#include "app/uSettings.h"
#include "render/uLog.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

volatile std::sig_atomic_t TerminationFlag = 0;

void OnTerminationSignal(int) { TerminationFlag = 1; }

// The long form of an option, whatever number of leading dashes it was given with.
std::string OptionName(const std::string& argument)
{
    if (argument.size() > 2 && argument[0] == '-' && argument[1] == '-')
        return argument.substr(2);
    if (argument.size() > 1 && argument[0] == '-')
        return argument.substr(1);
    return std::string();
}

bool ParseSmallInt(const std::string& text, int32_t& value)
{
    if (text.empty() || text.size() > 11)
        return false;
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i >= text.size())
        return false;
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (text[i] - '0');
    }
    if (negative)
        result = -result;
    if (result < std::numeric_limits<int32_t>::min() || result > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(result);
    return true;
}

const std::string* NextValue(const std::vector<std::string>& arguments, std::size_t& i)
{
    if (i + 1 >= arguments.size())
        return nullptr;
    return &arguments[++i];
}

bool ParseSetting(const std::string& name, const std::string* value, TXScreenSaverArgs& args)
{
    int32_t number = 0;
    if (!value || !ParseSmallInt(*value, number)) {
        args.Error = "option --" + name + " needs an integer value";
        return false;
    }
    if (name == "spiral-count") {
        args.HasSpiralCount = true;
        args.SpiralCount = number;
    } else if (name == "spiral-type") {
        args.HasSpiralType = true;
        args.SpiralType = number;
    } else {
        args.HasBlendMode = true;
        args.BlendMode = number;
    }
    return true;
}

bool IsOurOption(const std::string& argument)
{
    const std::string name = OptionName(argument);
    return name == "root" || name == "window-id" || name == "spiral-count" || name == "spiral-type" ||
           name == "blend-mode";
}

// /c -root is the settings, /s --window-id N the full-screen run: the window options take
// over only from a first argument that is no mode's (one of their own included).
bool FirstArgumentSelectsAMode(const std::vector<std::string>& arguments)
{
    if (arguments.size() < 2 || IsOurOption(arguments[1]))
        return false;
    const char letter = SelectMode(arguments[1]);
    return letter == 'A' || letter == 'C' || letter == 'P' || letter == 'S';
}

// The window xscreensaver asks a -root hack to draw into.
HWND RootTarget()
{
    if (const char* named = std::getenv("XSCREENSAVER_WINDOW"))
        if (HWND window = ParseXWindowId(named))
            return window;
    return GetDesktopWindow();
}

void ApplySettings(const TXScreenSaverArgs& args)
{
    if (args.HasSpiralType)
        Options.SpiralType = args.SpiralType;
    if (args.HasSpiralCount)
        Options.SpiralCount = args.SpiralCount;
    if (args.HasBlendMode)
        Options.BlendMode = args.BlendMode;
}

void Complain(const std::string& text)
{
    std::fprintf(stderr, "halvora: %s\n", text.c_str());
    ReportError("uXScreenSaver: " + text);
}

}  // namespace

HWND ParseXWindowId(const std::string& text)
{
    if (text.empty() || text.size() > 18)
        return nullptr;
    uint64_t value = 0;
    std::size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return nullptr;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu)  // X ids are 29-bit; anything wider is garbage
            return nullptr;
    }
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

TXScreenSaverArgs ParseXScreenSaverArgs(const std::vector<std::string>& arguments)
{
    TXScreenSaverArgs args;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string name = OptionName(arguments[i]);
        if (name == "root") {
            args.Present = true;
            args.UseRoot = true;
        } else if (name == "window-id") {
            args.Present = true;
            const std::string* value = NextValue(arguments, i);
            args.Window = value ? ParseXWindowId(*value) : nullptr;
            if (!args.Window) {
                args.Error = "option --window-id needs a window id";
                args.BadWindow = true;
                return args;
            }
        } else if (name == "spiral-count" || name == "spiral-type" || name == "blend-mode") {
            if (!ParseSetting(name, NextValue(arguments, i), args))
                return args;
        }
        // Anything else (xscreensaver's -install, -visual ...) is not ours to judge.
    }
    return args;
}

void InstallTerminationHandler()
{
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a blocking wait returns and the loop sees the flag
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool TerminationRequested() { return TerminationFlag != 0; }
void ClearTerminationRequest() { TerminationFlag = 0; }

bool RunXScreenSaverMode(const std::vector<std::string>& arguments)
{
    const TXScreenSaverArgs args = ParseXScreenSaverArgs(arguments);
    if (!args.Present || FirstArgumentSelectsAMode(arguments))
        return false;
    if (!args.Error.empty()) {
        Complain(args.Error);
        return !args.BadWindow;
    }
    InstallTerminationHandler();

    const HWND target = args.Window ? args.Window : RootTarget();
    RECT bounds{};
    if (!target || !GetWindowRect(target, &bounds)) {
        Complain("cannot draw into window " + std::to_string(reinterpret_cast<uintptr_t>(target)));
        return true;
    }
    // The desktop is already covered by the window handed over: its picture is what xscreensaver
    // saved there.
    SnapshotDesktop(DataDir + "\\Textures\\Screen.tga", target);
    // No settings dialog under xscreensaver: its own dialog is the settings.
    if (!LoadOptions())
        UseFirstRunOptions();
    ApplySettings(args);
    Options.Windowed = true;
    Options.Width = bounds.right - bounds.left;
    Options.Height = bounds.bottom - bounds.top;
    if (!SetupScreenGeometry()) {
        Complain("window size " + std::to_string(Options.Width) + "x" + std::to_string(Options.Height) +
                 " is not usable");
        return true;
    }
    RunMode = 'P';
    ParentWindow = target;
    RunApplication(false);
    return true;
}
