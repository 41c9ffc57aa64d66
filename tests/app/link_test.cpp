// `sheetwise link` as users run it: another program saves edits into the workbook, the drawing
// follows; a drawing changed by another program is not overwritten; Ctrl-C ends it cleanly.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/cli/host_run.h"

namespace {

namespace fs = std::filesystem;
using sheetwise::test::Dir;

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Waits until `file` holds `text`; a generous guard against a hang, not a timing check.
bool WaitFor(const fs::path& file, const std::string& text) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < until) {
    if (Read(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int Shell(const std::string& command) {
  return std::system(command.c_str());
}

TEST(LinkShortcut, SavedEditsReachTheDrawingAndAForeignSaveIsNotOverwritten) {
  if (Shell("/usr/bin/python3 -c 'import ezdxf, openpyxl' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ezdxf and openpyxl are needed";
  const fs::path dir = Dir();
  fs::copy_file(std::string(SW_SAMPLES) + "/attributes_r2010.dxf", dir / "plan.dxf",
                fs::copy_options::overwrite_existing);
  fs::remove(dir / "plan.xlsx");
  ASSERT_EQ(Shell("cd '" + dir.string() + "' && '" + SW_SHEETWISE + "' export plan.dxf >/dev/null"),
            0);
  const fs::path log = dir / "link.out";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::freopen(log.c_str(), "w", stdout);
    ::dup2(::fileno(stdout), 2);
    ::chdir(dir.c_str());
    ::execl(SW_SHEETWISE, SW_SHEETWISE, "link", "plan.dxf", "plan.xlsx", nullptr);
    ::_exit(127);
  }
  // A failed assertion returns early: the link, which runs until interrupted, must not outlive
  // the test.
  struct Reaper {
    pid_t pid;
    bool reaped = false;
    ~Reaper() {
      if (reaped) return;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{pid};
  ASSERT_TRUE(WaitFor(log, "Press Ctrl-C to stop.")) << Read(log);
  auto edit = [&](const std::string& cell, const std::string& value) {
    return Shell(
        "cd '" + dir.string() +
        "' && /usr/bin/python3 -c \"import openpyxl\nwb = openpyxl.load_workbook('plan.xlsx')\n"
        "wb['TAG']['" +
        cell + "'] = '" + value + "'\nwb.save('plan.xlsx')\"");
  };
  // Row 3 is the second reference; column B its NUMBER attribute. A property column (D, its X)
  // is not followed by the link.
  ASSERT_EQ(edit("D3", "999"), 0);
  ASSERT_EQ(edit("B3", "LINKED-1"), 0);
  ASSERT_TRUE(WaitFor(log, "NUMBER = LINKED-1")) << Read(log);
  EXPECT_EQ(Read(log).find(" = 999"), std::string::npos) << Read(log);
  ASSERT_TRUE(WaitFor(dir / "plan.dxf", "LINKED-1")) << "saved after the change";

  // The workbook deleted, then unreadable while another program writes it, then replaced by a
  // finished file: the link reports the unreadable file and goes on with the new one.
  fs::copy_file(dir / "plan.xlsx", dir / "next.xlsx", fs::copy_options::overwrite_existing);
  fs::remove(dir / "plan.xlsx");
  std::ofstream(dir / "plan.xlsx") << "half written";
  ASSERT_TRUE(WaitFor(log, "not a zip archive")) << Read(log);
  ASSERT_EQ(
      Shell("cd '" + dir.string() +
            "' && /usr/bin/python3 -c \"import openpyxl\nwb = openpyxl.load_workbook('next.xlsx')\n"
            "wb['TAG']['B5'] = 'LINKED-3'\nwb.save('next.xlsx')\" && mv next.xlsx plan.xlsx"),
      0);
  ASSERT_TRUE(WaitFor(log, "NUMBER = LINKED-3")) << Read(log);
  // The link's own save of that change comes after its report line; another program's save
  // must come after it, or the link's save would replace it.
  ASSERT_TRUE(WaitFor(dir / "plan.dxf", "LINKED-3")) << "saved after the change";

  // Another program saves the drawing: the link saves beside it from now on.
  fs::last_write_time(dir / "plan.dxf", fs::file_time_type::clock::now() - std::chrono::hours(1));
  ASSERT_EQ(edit("C4", "LINKED-2"), 0);
  ASSERT_TRUE(WaitFor(log, "saved as plan.linked.dxf")) << Read(log);
  ASSERT_TRUE(WaitFor(dir / "plan.linked.dxf", "LINKED-2")) << Read(log);
  EXPECT_EQ(Read(dir / "plan.dxf").find("LINKED-2"), std::string::npos);

  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  reaper.reaped = true;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Read(log);
  EXPECT_NE(Read(log).find("Link stopped."), std::string::npos) << Read(log);
  // Both saved drawings read back in ezdxf with the edits.
  EXPECT_EQ(
      Shell(
          "/usr/bin/python3 -c \"import ezdxf, sys\nd = ezdxf.readfile('" +
          (dir / "plan.linked.dxf").string() +
          "')\ntexts = [a.dxf.text for e in d.modelspace().query('INSERT') for a in "
          "e.attribs]\nsys.exit(0 if {'LINKED-1', 'LINKED-2', 'LINKED-3'} <= set(texts) else 1)\""),
      0);
  fs::remove_all(dir);
}

}  // namespace
