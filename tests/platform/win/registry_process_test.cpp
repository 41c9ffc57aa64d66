// The settings store shared by several processes: the writers are separate programs
// (win_store_writer), as the user's other Sheetwise sessions would be.
#include "platform/win/registry.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/platform/win/win_test_folder.h"

extern char** environ;

namespace {

using sheetwise::test::ReadFile;
using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;

struct Child {
  pid_t pid = -1;
  int to_child = -1;    // its stdin
  int from_child = -1;  // its stdout
};

Child StartWriter(const std::vector<std::string>& args) {
  int in[2], out[2];
  EXPECT_EQ(::pipe(in), 0);
  EXPECT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> all{SW_STORE_WRITER};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  Child child;
  EXPECT_EQ(posix_spawn(&child.pid, SW_STORE_WRITER, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  child.to_child = in[1];
  child.from_child = out[0];
  return child;
}

int Wait(Child& child) {
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  ::close(child.to_child);
  ::close(child.from_child);
  return status;
}

// Reads one line from the child, with a generous guard against a hang.
std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1 || ::read(fd, &c, 1) != 1 || c == '\n') break;
    line.push_back(c);
  }
  return line;
}

TEST(RegistryProcesses, TwoWritersAtOnceLoseNothing) {
  TempConfigHome home;
  constexpr int kCount = 200;
  Child a = StartWriter({"write", "A", std::to_string(kCount)});
  Child b = StartWriter({"write", "B", std::to_string(kCount)});
  ASSERT_EQ(::write(a.to_child, "go\n", 3), 3);
  ASSERT_EQ(::write(b.to_child, "go\n", 3), 3);
  const int status_a = Wait(a);
  const int status_b = Wait(b);
  ASSERT_TRUE(WIFEXITED(status_a) && WEXITSTATUS(status_a) == 0);
  ASSERT_TRUE(WIFEXITED(status_b) && WEXITSTATUS(status_b) == 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\SheetwiseTest", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  int found = 0;
  for (const wchar_t* prefix : {L"A_", L"B_"}) {
    for (int i = 0; i < kCount; ++i) {
      const std::wstring name = prefix + std::to_wstring(i);
      DWORD value = 0, size = sizeof value;
      if (RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                           &size) == ERROR_SUCCESS &&
          value == static_cast<DWORD>(i)) {
        ++found;
      }
    }
  }
  EXPECT_EQ(found, 2 * kCount);
  RegCloseKey(key);
}

TEST(RegistryProcesses, WriterKilledMidWriteLeavesTheOldFile) {
  TempConfigHome home;
  // A large store, so that the file takes a while to write.
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\SheetwiseTest]\n";
  for (int i = 0; i < 5000; ++i) {
    text += "\"Value" + std::to_string(i) + "\"=\"" + std::string(100, 'x') + "\"\n";
  }
  WriteFile(home.store(), text);
  Child child = StartWriter({"hang"});
  ASSERT_EQ(ReadLine(child.from_child), "writing");
  ::kill(child.pid, SIGKILL);
  Wait(child);

  EXPECT_EQ(ReadFile(home.store()), text);
  std::vector<std::filesystem::path> leftovers;
  for (const auto& entry : std::filesystem::directory_iterator(home.store().parent_path())) {
    if (entry.path().extension() == ".tmp") leftovers.push_back(entry.path());
  }
  ASSERT_EQ(leftovers.size(), 1u) << "the half-written temporary file";
  EXPECT_LT(std::filesystem::file_size(leftovers[0]), text.size());

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\SheetwiseTest", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Value4999", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, L"Killed", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key, L"After", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(std::filesystem::exists(leftovers[0])) << "stale temporary removed";
}

}  // namespace
