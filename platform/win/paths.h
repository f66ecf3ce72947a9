#pragma once
// Windows-style paths on a case-sensitive file system.

#include <string>

namespace platform {

// Turns a path written with '\' or '/' into a native path. Each component that
// does not exist under its exact name is looked up case-insensitively; components
// with no match are kept as written, so new files can be created. A leading
// drive ("C:") and a leading separator both mean the root of the file system.
std::string ResolvePath(const std::string& winPath);

}  // namespace platform
