#pragma once
// The table of built-in libraries behind LoadLibraryA / GetProcAddress.

#include <utility>
#include <vector>

namespace platform {

// Makes Name loadable; names compare case-insensitively, export names exactly.
// Registering a name again replaces its exports.
void RegisterBuiltinLibrary(const char* name, std::vector<std::pair<const char*, void*>> exports);

}  // namespace platform
