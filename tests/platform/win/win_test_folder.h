// Test helpers of the platform/win tests: a temporary folder that is also the settings folder,
// and whole-file reads and writes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace sheetwise::test {

/// A fresh folder for one test, removed afterwards; XDG_CONFIG_HOME points into it while it
/// lives, so that no test touches the user's settings.
class TempConfigHome {
 public:
  TempConfigHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sheetwise-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    root_ = pattern;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old != nullptr) old_config_ = old;
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  }
  ~TempConfigHome() {
    if (old_config_) {
      ::setenv("XDG_CONFIG_HOME", old_config_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path config() const { return root_ / "config"; }
  std::filesystem::path store() const { return root_ / "config" / "sheetwise" / "registry.txt"; }

 private:
  std::filesystem::path root_;
  std::optional<std::string> old_config_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace sheetwise::test
