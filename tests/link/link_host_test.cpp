// The live link as a user meets it: the host runs with a workbook open in the spreadsheet
// application, VANTA Connect is typed, another program (openpyxl 3.0.9, /usr/bin/python3)
// rewrites the workbook file, and within the polling the changed cell is queued and the host
// runs VANTA _import2 by itself. The host reads its commands from a pipe, as from a terminal,
// so that the edit happens while it waits at its prompt.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// The sheetwise executable on a pipe: lines written to it, everything it prints collected.
class HostProcess {
 public:
  HostProcess(const std::string& args, const fs::path& dir) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      ::close(in[1]);
      ::close(out[0]);
      const std::string cmd = "cd '" + dir.string() + "' && exec '" SW_SHEETWISE "' " + args;
      ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~HostProcess() {
    if (pid_ > 0 && !finished_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (in_ >= 0) ::close(in_);
    if (out_ >= 0) ::close(out_);
  }

  bool started() const { return pid_ > 0; }
  void Write(const std::string& text) { (void)!::write(in_, text.data(), text.size()); }

  /// Reads until `needle` appears after position `from`; false when the host ends first or
  /// after two minutes (a hang, not a timing expectation). Returns where it ends.
  bool WaitFor(const std::string& needle, std::size_t* from) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    for (;;) {
      const std::size_t at = out_text_.find(needle, *from);
      if (at != std::string::npos) {
        *from = at + needle.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      out_text_.append(buf, static_cast<std::size_t>(n));
    }
  }

  /// Ends the input and waits for the exit status (-1 when it did not exit normally).
  int Finish() {
    ::close(in_);
    in_ = -1;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out_, buf, sizeof buf)) > 0)
      out_text_.append(buf, static_cast<std::size_t>(n));
    int status = 0;
    ::waitpid(pid_, &status, 0);
    finished_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& out() const { return out_text_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  bool finished_ = false;
  std::string out_text_;
};

TEST(LinkInTheHost, ACellRewrittenByAnotherProgramIsQueuedAndImport2Runs) {
  const fs::path book = fs::path(SW_SHARED_DIR) / "corpus/xlsx/libreoffice63_issue127.xlsx";
  if (!fs::exists(book)) GTEST_SKIP() << "no corpus";
  if (std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no openpyxl";
  const fs::path dir = fs::temp_directory_path() / ("sw_link_host_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Eight empty sheets written by LibreOffice: the one cell set below is the only change.
  fs::copy_file(book, dir / "book.xlsx");

  ::setenv("SHEETWISE_TRACE", "1", 1);
  HostProcess host("-w book.xlsx", dir);
  ::unsetenv("SHEETWISE_TRACE");
  ASSERT_TRUE(host.started());
  std::size_t at = 0;
  host.Write("VANTA\nConnect\n");
  ASSERT_TRUE(host.WaitFor("[trace] VANTA Connect", &at)) << host.out();
  ASSERT_TRUE(host.WaitFor("Command:", &at)) << host.out();
  EXPECT_EQ(host.out().find("[trace] link:"), std::string::npos) << "nothing changed yet";

  const std::string rewrite =
      "cd '" + dir.string() +
      "' && /usr/bin/python3 -c \"import openpyxl; wb = openpyxl.load_workbook('book.xlsx'); "
      "wb['Sheet3']['D7'] = 'P-101'; wb.save('book.xlsx')\"";
  ASSERT_EQ(std::system(rewrite.c_str()), 0);

  EXPECT_TRUE(
      host.WaitFor("[trace] link: 1 change(s) queued, newest Sheet3!R7C4 in book.xlsx", &at))
      << host.out();
  EXPECT_TRUE(host.WaitFor("[trace] VANTA Import2", &at))
      << "the polling sent vanta _import2, which the host ran\n"
      << host.out();
  host.Write("VANTA\nDisconnect\nQUIT\n");
  EXPECT_EQ(host.Finish(), 0) << host.out();
  EXPECT_NE(host.out().find("[trace] VANTA Disconnect"), std::string::npos) << host.out();
  EXPECT_EQ(host.out().find("resource module(s) pushed"), std::string::npos) << host.out();
  EXPECT_EQ(host.out().find("Sheetwise live link"), std::string::npos)
      << "no error box from the sink\n"
      << host.out();
  fs::remove_all(dir);
}

}  // namespace
