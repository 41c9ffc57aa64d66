// The host as a user runs it: `sheetwise DRAWING -s SCRIPT`, checked by what it printed, the
// drawing it saved, and what a test application received.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/dxf/document.h"
#include "tests/cli/host_run.h"

namespace {

namespace fs = std::filesystem;

using sheetwise::test::Dir;
using sheetwise::test::Host;
using sheetwise::test::Lines;
using sheetwise::test::Result;

TEST(Session, AnApplicationIsLoadedRunsAndIsUnloadedByScript) {
  const fs::path dir = Dir();
  const fs::path log = dir / "app.log";
  ::setenv("SW_TEST_APP_LOG", log.c_str(), 1);
  const Result r = Host(std::string("'") + SW_SAMPLES "/attributes_r2010.dxf'",
                        "ARX\nLoad\n" SW_TEST_APP
                        "\n"
                        "hello\n"
                        "HALLO\n"
                        "testhello\n"
                        "(C:testhello)\n"
                        "NEW\n"
                        "ARX\nUnload\nsheetwise_test_app.arx\n"
                        "hello\n"
                        "QUIT\n",
                        dir);
  ::unsetenv("SW_TEST_APP_LOG");
  EXPECT_EQ(r.status, 0) << r.out;
  // Commands by global and local name, the LISP function as a command and as an expression,
  // and the queued (C:testhello) of each drawing, evaluated when the drawing is ready.
  EXPECT_NE(r.out.find("sheetwise_test_app.arx successfully loaded."), std::string::npos) << r.out;
  std::size_t hellos = 0;
  for (std::size_t at = r.out.find("Hello from the test application."); at != std::string::npos;
       at = r.out.find("Hello from the test application.", at + 1))
    ++hellos;
  EXPECT_EQ(hellos, 2u) << r.out;
  std::size_t runs = 0;
  for (std::size_t at = r.out.find("testhello ran."); at != std::string::npos;
       at = r.out.find("testhello ran.", at + 1))
    ++runs;
  EXPECT_EQ(runs, 4u) << r.out;  // queued in drawing 1, the command, the expression, drawing 2
  EXPECT_NE(r.out.find("Unknown command \"hello\".  Press F1 for help."), std::string::npos)
      << r.out;  // its group went with it
  EXPECT_EQ(Lines(log),
            "attach init loaddwg invoke command hello command hello invoke invoke loaddwg invoke "
            "unload detach ");
  fs::remove_all(dir);
}

TEST(Session, AMessageBoxAnswersFromTheScriptOrLeavesTheLineForTheNextPrompt) {
  const fs::path dir = Dir();
  const Result r = Host("", "ARX\nLoad\n" SW_TEST_APP "\nask\nno\nask\nhello\nQUIT\n", dir);
  EXPECT_EQ(r.status, 0) << r.out;
  const std::size_t no = r.out.find("answer 7");
  const std::size_t yes = r.out.find("answer 6");
  const std::size_t hello = r.out.find("Hello from the test application.");
  ASSERT_NE(no, std::string::npos) << r.out;
  ASSERT_NE(yes, std::string::npos) << r.out;
  ASSERT_NE(hello, std::string::npos) << "the line that named no button runs as a command\n"
                                      << r.out;
  EXPECT_LT(no, yes);
  EXPECT_LT(yes, hello);
  fs::remove_all(dir);
}

TEST(Session, ScriptsSaveDrawingsAndRefuseWhatIsNotDxf) {
  const fs::path dir = Dir();
  const Result r = Host(std::string("'") + SW_SAMPLES "/attributes_r2010.dxf'",
                        "(setvar \"LUPREC\" 2)\nGETVAR\nLUPREC\nSAVEAS\nout.dxf\nQUIT\n", dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("LUPREC = 2"), std::string::npos) << r.out;
  sheetwise::dxf::LoadResult saved = sheetwise::dxf::DxfDocument::Load(dir / "out.dxf");
  ASSERT_TRUE(saved.document) << r.out;
  // Unsaved changes after the save are dropped at the end of the script.
  const Result dropped =
      Host("'" + (dir / "out.dxf").string() + "'", "(setvar \"LUPREC\" 5)\nQUIT\n", dir);
  EXPECT_EQ(dropped.status, 0);
  const Result again = Host("'" + (dir / "out.dxf").string() + "'", "GETVAR\nLUPREC\n", dir);
  EXPECT_NE(again.out.find("LUPREC = 2"), std::string::npos) << again.out;

  std::ofstream(dir / "plan.dwg") << "AC1027" << std::string(200, '\0');
  const Result dwg = Host("plan.dwg", "QUIT\n", dir);
  EXPECT_EQ(dwg.status, 1);
  EXPECT_NE(dwg.out.find("save it as DXF"), std::string::npos) << dwg.out;
  std::ofstream(dir / "scan.dwg") << "%PDF-1.4\n%\xe2\xe3\n";
  const Result other = Host("scan.dwg", "QUIT\n", dir);
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.out.find("scan.dwg:1: group code expected"), std::string::npos) << other.out;
  EXPECT_NE(other.out.find("not a DXF drawing: save it as DXF"), std::string::npos) << other.out;
  const Result missing = Host("nothing.dxf", "QUIT\n", dir);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("nothing.dxf"), std::string::npos) << missing.out;
  fs::remove_all(dir);
}

TEST(Session, MenusLoadAndRunTheirMacros) {
  const fs::path dir = Dir();
  std::ofstream(dir / "test.swmenu") << "menugroup TESTMENU\n"
                                        "pulldown pop1 \"&Test\"\n"
                                        "  item \"&Show variable\" \"^C^CGETVAR LUNITS\"\n"
                                        "end\n"
                                        "toolbar tb_test \"Test\"\n"
                                        "  button \"Show\" \"GETVAR LUNITS\"\n"
                                        "end\n";
  const Result r = Host(std::string("'") + SW_SAMPLES "/attributes_r2010.dxf'",
                        "MENULOAD\ntest.swmenu\n"
                        "-TOOLBAR\nTESTMENU.tb_test\n_Show\n"
                        "MENU\nShow\n"
                        "MENULOAD\ntest.swmenu\n"
                        "QUIT\n",
                        dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("LUNITS = 2"), std::string::npos) << r.out;  // the macro ran
  EXPECT_NE(r.out.find("&File"), std::string::npos) << r.out;       // the bar was listed
  EXPECT_NE(r.out.find("TESTMENU"), std::string::npos) << r.out;    // loaded once only
  fs::remove_all(dir);
}

TEST(Session, TheTerminalReadsLinesUntilTheInputEnds) {
  const fs::path dir = Dir();
  // No script: lines come from standard input, as typed; its end quits cleanly.
  const std::string cmd = "cd '" + dir.string() +
                          "' && printf 'GETVAR\\nLUNITS\\n(+ 2 3)\\n' | '" SW_SHEETWISE
                          "' '" SW_SAMPLES "/attributes_r2010.dxf' 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int status = ::pclose(p);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_NE(out.find("LUNITS = 2"), std::string::npos) << out;
  EXPECT_NE(out.find("5"), std::string::npos) << out;
  // A workbook that cannot be opened stops the start with its name.
  std::ofstream(dir / "notes.xlsx") << "not a workbook";
  const Result bad = Host("-w notes.xlsx", "QUIT\n", dir);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("notes.xlsx"), std::string::npos) << bad.out;
  fs::remove_all(dir);
}

TEST(Session, TimersAndSentStringsRunWhileTheTerminalWaits) {
  const fs::path dir = Dir();
  const fs::path fifo = dir / "stdin";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The test holds the terminal open and types only the loading; the application's timer then
  // sends "hello" and "QUIT" while the host waits for the next line.
  const int keyboard = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(keyboard, 0);
  const fs::path log = dir / "app.log";
  ::setenv("SW_TEST_APP_LOG", log.c_str(), 1);
  ::setenv("SW_TEST_APP_TIMER", "1", 1);
  const std::string cmd =
      "cd '" + dir.string() + "' && '" SW_SHEETWISE "' < '" + fifo.string() + "' 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  const std::string typed = "ARX\nLoad\n" SW_TEST_APP "\n";
  ASSERT_EQ(::write(keyboard, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  std::string out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int status = ::pclose(p);
  ::close(keyboard);
  ::unsetenv("SW_TEST_APP_TIMER");
  ::unsetenv("SW_TEST_APP_LOG");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_NE(out.find("Hello from the test application."), std::string::npos) << out;
  // The sent command shows as typed at the prompt.
  EXPECT_NE(out.find("Command: hello"), std::string::npos) << out;
  EXPECT_EQ(Lines(log), "attach init loaddwg invoke timer command hello unloaddwg unload detach ");
  fs::remove_all(dir);
}

}  // namespace
