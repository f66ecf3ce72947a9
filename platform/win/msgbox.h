// MessageBoxA's test interface.
#pragma once

#include <functional>

#include "platform/win/windows.h"

namespace platform {

// While set, MessageBoxA shows nothing and returns what the hook answers (nullptr restores).
void SetMessageBoxHookForTests(std::function<int(const char* text, const char* caption, UINT type)> hook);

}  // namespace platform
