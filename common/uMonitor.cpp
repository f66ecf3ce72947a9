#include "common/uMonitor.h"

#include "platform/win/windows.h"

#include <chrono>
#include <random>
#include <vector>

const char* const ApplicationTitle = "[Tzo] Halvora Screensaver";

namespace {

const char* const kMonitorClass = "TMistrelForm";
const char* const kMonitorProgram = "Mistrel.exe";

std::function<void(const std::string&)>& MonitorHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

std::function<void(const std::string&)>& MessageBoxHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

uint32_t NextTag()
{
    static std::mt19937 generator(static_cast<uint32_t>(std::random_device{}()) ^
                                  static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<uint32_t> range(0, 2147483646u);
    return range(generator);
}

void Deliver(HWND monitor, const std::string& message)
{
    std::vector<char> bytes(message.begin(), message.end());
    bytes.push_back('\0');
    COPYDATASTRUCT record{};
    record.dwData = 0;
    record.cbData = static_cast<DWORD>(bytes.size());
    record.lpData = bytes.data();
    SendMessageA(monitor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
}

}  // namespace

void SetMonitorHook(std::function<void(const std::string&)> hook) { MonitorHook() = std::move(hook); }
void SetMessageBoxHook(std::function<void(const std::string&)> hook) { MessageBoxHook() = std::move(hook); }

void DebugMessage(const std::string& text)
{
    std::string message = "!";
    message += std::to_string(NextTag());
    message += '#';
    message += text;
    SendToMonitor(message);
}

void SendToMonitor(const std::string& message)
{
    if (MonitorHook()) {
        MonitorHook()(message);
        return;
    }
    HWND monitor = FindWindowA(kMonitorClass, nullptr);
    if (!monitor) {
        WinExec(kMonitorProgram, SW_HIDE);
        monitor = FindWindowA(kMonitorClass, nullptr);
    }
    if (monitor)
        Deliver(monitor, message);
    else
        ShowMessageBox(std::string("Program not found: \"") + kMonitorProgram + "\"");
}

void ShowMessageBox(const std::string& text)
{
    if (MessageBoxHook()) {
        MessageBoxHook()(text);
        return;
    }
    MessageBoxA(nullptr, text.c_str(), ApplicationTitle, MB_OK);
}
