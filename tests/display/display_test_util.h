// Helpers shared by the display tests: a scratch folder and a clean HALVORA_* environment.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace display_test {

class ScratchDir {
public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvora-display-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

// Clears the offscreen variables for the test's lifetime and restores them afterwards.
class CleanEnvironment {
public:
  CleanEnvironment() {
    for (const char* name : kNames) {
      if (const char* v = std::getenv(name)) saved_[name] = v;
      unsetenv(name);
    }
  }
  ~CleanEnvironment() {
    for (const char* name : kNames) {
      if (auto it = saved_.find(name); it != saved_.end())
        setenv(name, it->second.c_str(), 1);
      else
        unsetenv(name);
    }
  }
  void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

private:
  static constexpr const char* kNames[] = {"HALVORA_SCREEN", "HALVORA_FRAMES", "HALVORA_INPUT",
                                           "HALVORA_CAPTURE", "HALVORA_CAPTURE_EVERY",
                                           "HALVORA_DESKTOP", "HALVORA_DISPLAY"};
  std::map<std::string, std::string> saved_;
};

}  // namespace display_test
