#pragma once
// The debug message channel to the external monitor program, and the
// application's message box.

#include <functional>
#include <string>

extern const char* const ApplicationTitle;  // "[Tzo] Halvora Screensaver"

void DebugMessage(const std::string& text);
void SendToMonitor(const std::string& message);
void ShowMessageBox(const std::string& text);

// Test hooks: while set, messages and message boxes go to the hook instead of
// the monitor program or the screen. An empty function restores the default.
void SetMonitorHook(std::function<void(const std::string& message)> hook);
void SetMessageBoxHook(std::function<void(const std::string& text)> hook);
