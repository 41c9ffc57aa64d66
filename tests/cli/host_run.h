// Runs the sheetwise executable on a script, as a user does, and collects what it printed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace sheetwise::test {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;
};

inline fs::path Dir() {
  fs::path dir =
      fs::temp_directory_path() / ("sw_session_" + std::to_string(::getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::create_directories(dir);
  return dir;
}

inline Result Host(const std::string& args, const std::string& script, const fs::path& dir) {
  const fs::path scr = dir / "run.scr";
  std::ofstream(scr) << script;
  Result r;
  const std::string cmd = "cd '" + dir.string() + "' && '" + std::string(SW_SHEETWISE) + "' " + args + " -s '" +
                          scr.string() + "' </dev/null 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

inline std::string Lines(const fs::path& file) {
  std::ifstream in(file);
  std::string all, line;
  while (std::getline(in, line)) all += line + " ";
  return all;
}


/// How many times `needle` occurs in `text`.
inline std::size_t Count(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

}  // namespace sheetwise::test
