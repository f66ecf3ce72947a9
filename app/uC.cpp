#include "app/uC.h"

#include "common/uFiles.h"
#include "common/uFormats.h"
#include "common/uMonitor.h"
#include "common/uStrings.h"
#include "platform/win/windows.h"
#include "render/uLog.h"

#include <vector>

TOptions Options{};
std::string DataDir;
std::string OptionsPath;

const char* const DataPathKey = "\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings";
const char* const DataPathValue = "DataPath";

namespace {

// Registry strings longer than this are not a folder name.
constexpr DWORD kMaxDataPathBytes = 64 * 1024;

bool QueryString(HKEY key, const char* name, std::string& value)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxDataPathBytes)
        return false;
    std::vector<char> buffer(size + 1, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &got) != ERROR_SUCCESS ||
        got > size)
        return false;
    value.assign(buffer.data(), got);
    const std::size_t nul = value.find('\0');
    if (nul != std::string::npos)
        value.resize(nul);
    return true;
}

std::string WithoutTrailingSeparators(std::string path)
{
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

void SetOption(TOptions& o, const std::string& key, const std::string& value)
{
    const auto number = [&] { return StrToIntVal(value); };
    if (key == "Preset")
        o.Preset = number();
    else if (key == "Windowed")
        o.Windowed = number() == 1;
    else if (key == "Width")
        o.Width = number();
    else if (key == "Height")
        o.Height = number();
    else if (key == "Format")
        o.Format = static_cast<int32_t>(NameToFormat(value));
    else if (key == "RefreshRate")
        o.RefreshRate = number();
    else if (key == "WindowBorder")
        o.WindowBorder = number() != 0;
    else if (key == "VSync")
        o.VSync = number() != 0;
    else if (key == "SoundEnabled")
        o.SoundEnabled = number() != 0;
    else if (key == "WaitGPU")
        o.WaitGPU = number() != 0;
    else if (key == "AdvancedOpt")
        o.AdvancedOpt = StrToBool(value);
    else if (key == "SpiralType")
        o.SpiralType = number();
    else if (key == "SpiralCount")
        o.SpiralCount = number();
    else if (key == "BlendMode")
        o.BlendMode = number();
}

void ApplyLine(TOptions& o, const std::string& line)
{
    if (IsCommentLine(line))
        return;
    std::size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos)
        return;
    const std::size_t space = line.find(' ', start);
    const std::string key = line.substr(start, space == std::string::npos ? std::string::npos : space - start);
    const std::string value = space == std::string::npos ? std::string() : TrimBlanks(line.substr(space + 1));
    SetOption(o, key, value);
}

std::string OptionLine(const std::string& name, const std::string& value)
{
    return PadRight(20, ' ', name) + " " + value + "\r\n";
}

std::string BoolText(bool value) { return value ? "1" : "0"; }

}  // namespace

std::string GetDataDir()
{
    HKEY key = nullptr;
    std::string value;
    bool found = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DataPathKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        found = QueryString(key, DataPathValue, value);
        RegCloseKey(key);
    }
    if (!found) {
        DebugMessage("uC.GetDataDir: no registry value");
        return std::string();
    }
    return WithoutTrailingSeparators(value);
}

void InitDataPaths()
{
    DataDir = GetDataDir();
    OptionsPath = DataDir + "\\Options.txt";
}

bool LoadOptions()
{
    if (!FileExists(OptionsPath))
        return false;
    Options.Windowed = true;
    Options.Width = 1024;
    Options.Height = 768;
    Options.Format = 0;
    Options.RefreshRate = 0;
    Options.VSync = false;
    Options.WaitGPU = false;
    Options.WindowBorder = false;
    // The file exists, so an unreadable one still counts as loaded: the defaults stand.
    TTextFileReader reader;
    if (!reader.Open(OptionsPath)) {
        ReportError("uC.LoadOptions: cannot read " + OptionsPath);
        return true;
    }
    std::string line;
    while (reader.ReadLine(line))
        ApplyLine(Options, line);
    return true;
}

std::string FormatOptions(const TOptions& o)
{
    std::string text;
    text += OptionLine("Preset", IntToStr(o.Preset));
    text += OptionLine("Windowed", BoolText(o.Windowed));
    text += OptionLine("Width", IntToStr(o.Width));
    text += OptionLine("Height", IntToStr(o.Height));
    text += OptionLine("Format", FormatToName(static_cast<uint32_t>(o.Format)));
    text += OptionLine("RefreshRate", IntToStr(o.RefreshRate));
    text += OptionLine("WindowBorder", BoolText(o.WindowBorder));
    text += OptionLine("VSync", BoolText(o.VSync));
    text += OptionLine("SoundEnabled", BoolText(o.SoundEnabled));
    text += OptionLine("WaitGPU", BoolText(o.WaitGPU));
    text += OptionLine("AdvancedOpt", BoolText(o.AdvancedOpt));
    text += OptionLine("SpiralType", IntToStr(o.SpiralType));
    text += OptionLine("SpiralCount", IntToStr(o.SpiralCount));
    text += OptionLine("BlendMode", IntToStr(o.BlendMode));
    return text;
}

bool SaveOptions()
{
    if (WriteFileReplacing(OptionsPath, FormatOptions(Options)))
        return true;
    ReportError("uC.SaveOptions: cannot write " + OptionsPath);
    return false;
}
