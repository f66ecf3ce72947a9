#pragma once
// Shared helpers for the tests: temporary folders, environment, captured channels.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return Root; }
    std::string File(const std::string& name) const { return Root + "/" + name; }

private:
    std::string Root;
};

// Sets (or with nullopt unsets) an environment variable and restores it later.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string Name;
    std::optional<std::string> Saved;
};

// Restores DataDir and OptionsPath at the end of the scope.
class ScopedDataPaths {
public:
    ScopedDataPaths();
    ~ScopedDataPaths();
    ScopedDataPaths(const ScopedDataPaths&) = delete;
    ScopedDataPaths& operator=(const ScopedDataPaths&) = delete;

private:
    std::string SavedDataDir;
    std::string SavedOptionsPath;
};

// Routes debug messages and message boxes into lists while alive.
class CapturedChannel {
public:
    CapturedChannel();
    ~CapturedChannel();
    std::vector<std::string> Messages;
    std::vector<std::string> Boxes;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool PathExists(const std::string& path);

// The text after the "!digits#" tag of a monitor message, or "<bad tag>".
std::string Untagged(const std::string& message);

}  // namespace testsupport
