#include "platform/win/shell.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/win/codepage.h"
#include "tests/platform/win/win_test_folder.h"

namespace {

using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;
namespace fs = std::filesystem;

// A fake opener: a script that writes its arguments, one a line, into a FIFO the test reads,
// so that nothing is opened and the test waits for the started program without sleeping.
class FakeOpener {
 public:
  explicit FakeOpener(const fs::path& folder) : fifo_(folder / "fifo"), script_(folder / "opener") {
    EXPECT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    WriteFile(script_, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                           fifo_.string() + "'\n");
    fs::permissions(script_, fs::perms::owner_all);
    // Opened before the program starts, so that its write never blocks for good.
    read_fd_ = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    const char* old = std::getenv("SHEETWISE_OPENER");
    if (old != nullptr) old_ = old;
    ::setenv("SHEETWISE_OPENER", script_.c_str(), 1);
  }
  ~FakeOpener() {
    ::close(read_fd_);
    ::setenv("SHEETWISE_OPENER", old_.c_str(), 1);
  }
  const fs::path& script() const { return script_; }
  const fs::path& fifo() const { return fifo_; }

  // Everything the program wrote, up to its closing the FIFO (60 s guard against a hang).
  std::string Received() {
    std::string text;
    bool writer_seen = false;
    while (true) {
      pollfd p{read_fd_, POLLIN, 0};
      if (::poll(&p, 1, 60000) != 1) break;
      char buffer[256];
      const ssize_t n = ::read(read_fd_, buffer, sizeof buffer);
      if (n > 0) {
        text.append(buffer, static_cast<size_t>(n));
        writer_seen = true;
        continue;
      }
      if (n == 0 && writer_seen) break;
      if (n == 0 && (p.revents & POLLHUP)) continue;
      if (n < 0 && errno != EAGAIN) break;
    }
    return text;
  }

 private:
  fs::path fifo_;
  fs::path script_;
  int read_fd_ = -1;
  std::string old_;
};

INT_PTR Code(HINSTANCE result) {
  return reinterpret_cast<INT_PTR>(result);
}

TEST(ShellExecuteW, HandsFilesAndUrlsToTheOpener) {
  TempConfigHome home;
  FakeOpener opener(home.root());
  WriteFile(home.root() / "Drawing one.dxf", "0\nEOF\n");
  const std::wstring folder = home.root().wstring();
  EXPECT_GT(Code(ShellExecuteW(nullptr, L"open", L"Drawing one.dxf", nullptr, folder.c_str(),
                               SW_SHOWNORMAL)),
            32);
  EXPECT_EQ(opener.Received(), (home.root() / "Drawing one.dxf").string() + "\n");
  EXPECT_GT(Code(ShellExecuteW(nullptr, nullptr, L"https://example.org/help?a=1", nullptr, nullptr,
                               SW_SHOWNORMAL)),
            32);
  EXPECT_EQ(opener.Received(), "https://example.org/help?a=1\n");
}

TEST(ShellExecuteW, AnswersTheWindowsErrorCodes) {
  TempConfigHome home;
  FakeOpener opener(home.root());
  const std::wstring missing = (home.root() / "missing.dxf").wstring();
  SetLastError(0);
  EXPECT_EQ(Code(ShellExecuteW(nullptr, L"open", missing.c_str(), nullptr, nullptr, SW_SHOW)),
            SE_ERR_FNF);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  const std::wstring no_folder = (home.root() / "no" / "x.dxf").wstring();
  EXPECT_EQ(Code(ShellExecuteW(nullptr, L"open", no_folder.c_str(), nullptr, nullptr, SW_SHOW)),
            SE_ERR_PNF);
  EXPECT_EQ(
      Code(ShellExecuteW(nullptr, L"print", L"https://example.org", nullptr, nullptr, SW_SHOW)),
      SE_ERR_NOASSOC);
  ::setenv("SHEETWISE_OPENER", (home.root() / "no-such-opener").c_str(), 1);
  EXPECT_EQ(
      Code(ShellExecuteW(nullptr, L"open", L"https://example.org", nullptr, nullptr, SW_SHOW)),
      SE_ERR_NOASSOC);
}

TEST(ShellExecuteW, StartsProgramsWithTheirParameters) {
  TempConfigHome home;
  FakeOpener opener(home.root());
  const std::wstring script = Utf8ToWide(opener.script().string());
  EXPECT_GT(
      Code(ShellExecuteW(nullptr, L"open", script.c_str(), L"one \"two words\"", nullptr, SW_SHOW)),
      32);
  EXPECT_EQ(opener.Received(), "one\ntwo words\n");
  const std::string command = "\"" + opener.script().string() + "\" a\\\"b c";
  EXPECT_GT(WinExec(command.c_str(), SW_SHOW), 31u);
  EXPECT_EQ(opener.Received(), "a\"b\nc\n");
  EXPECT_EQ(WinExec("sheetwise-no-such-program --flag", SW_SHOW),
            static_cast<UINT>(ERROR_FILE_NOT_FOUND));
}

TEST(SplitCommandLine, FollowsTheWindowsQuotingRules) {
  const struct {
    const char* line;
    std::vector<std::string> args;
  } rows[] = {
      {R"(a b   c)", {"a", "b", "c"}},
      {R"("a b" c)", {"a b", "c"}},
      {R"(a\\b c)", {R"(a\\b)", "c"}},
      {R"(a\"b)", {R"(a"b)"}},
      {R"(a\\"b c")", {R"(a\b c)"}},
      {R"(a\\\"b)", {R"(a\"b)"}},
      {R"("a""b")", {R"(a"b)"}},
      {R"("")", {""}},
      {"", {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SplitCommandLine(row.line), row.args) << row.line;
  }
}

TEST(SHGetSpecialFolderPathW, GivesTheXdgFoldersAndCreatesThemWhenAsked) {
  TempConfigHome home;
  wchar_t path[MAX_PATH];
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, FALSE));
  EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, TRUE));
  EXPECT_EQ(std::wstring(path), home.config().wstring());
  EXPECT_TRUE(fs::is_directory(home.config()));
  ::setenv("XDG_DATA_HOME", (home.root() / "data").c_str(), 1);
  EXPECT_TRUE(
      SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, FALSE));
  EXPECT_EQ(std::wstring(path), (home.root() / "data").wstring());
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);  // ignored, as the XDG rules say
  EXPECT_EQ(XdgConfigHome(), std::string(std::getenv("HOME")) + "/.config");
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, 0x0024, TRUE));
}

}  // namespace
