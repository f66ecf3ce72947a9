#pragma once
// The append-only error log in the data folder and the Direct3D result texts.

#include "platform/win/windows.h"

#include <string>

std::string GetLogFileName();
// One line plus CR LF; a line that cannot be written is lost silently.
void WriteLog(const std::string& text);
// WriteLog, then the debug message channel.
void ReportError(const std::string& text);
// Logs and sends the result text when Code is a failure (sign bit set).
void CheckResult(HRESULT code);
std::string GetD3DErrorText(HRESULT code);
