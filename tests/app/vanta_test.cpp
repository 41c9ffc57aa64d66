// The Sheetwise application in the host, as a user drives it with scripts: loading with its
// resource library, the VANTA keyword prompt, menu, toolbar and help, and vatest.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/cli/host_run.h"

namespace {

namespace fs = std::filesystem;
using sheetwise::test::Count;
using sheetwise::test::Dir;
using sheetwise::test::Host;
using sheetwise::test::Result;

const std::string kSample = std::string("'") + SW_SAMPLES + "/attributes_r2010.dxf'";

// The positions of `needles` in `text`, each after the previous; npos when one is missing.
bool InOrder(const std::string& text, std::initializer_list<std::string> needles) {
  std::size_t at = 0;
  for (const std::string& needle : needles) {
    at = text.find(needle, at);
    if (at == std::string::npos) return false;
    at += needle.size();
  }
  return true;
}

TEST(Vanta, KeywordsDispatchInAnyCaseByAbbreviationAndGlobalName) {
  const fs::path dir = Dir();
  ::setenv("SHEETWISE_TRACE", "1", 1);
  const Result r = Host(kSample,
                        "VANTA\n_import2\n"
                        "vanta\nIMPORT2\n"
                        "Vanta\ni\n"
                        "VANTA\n\ncancel\n"
                        "VANTA\nexport3\nNOPE\n"
                        "VANTA\ns\n\n"
                        "VANTA\nnonsense\nExport4\n"
                        "VANTA\n_Disconnect\n"
                        "VANTA\nc\n"
                        "GETVAR\nCMDECHO\n"
                        "QUIT\n",
                        dir);
  ::unsetenv("SHEETWISE_TRACE");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(InOrder(
      r.out, {"[trace] VANTA Import2", "[trace] VANTA Import2", "[trace] VANTA Import\n",
              "[trace] VANTA Export\n", "[trace] VANTA Export3", "[trace] VANTA Selection+export",
              "Invalid option keyword.", "[trace] VANTA Export4", "[trace] VANTA Disconnect",
              "[trace] VANTA Connect"}))
      << r.out;
  EXPECT_EQ(Count(r.out, "[trace]"), 9u) << "one operation for each answer\n" << r.out;
  EXPECT_NE(r.out.find("CMDECHO = 1"), std::string::npos) << "the menu loading restored it\n"
                                                          << r.out;
  EXPECT_EQ(r.out.find("resource module(s) pushed"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Menu file to load"), std::string::npos)
      << "the menu loads quietly with CMDECHO 0\n"
      << r.out;
  fs::remove_all(dir);
}

TEST(Vanta, MenuGoesBeforeHelpOnceAndTheToolbarAndHelpOpen) {
  const fs::path dir = Dir();
  const fs::path opened = dir / "opened.txt";
  const fs::path opener = dir / "opener.sh";
  std::ofstream(opener) << "#!/bin/sh\necho \"$1\" >> '" << opened.string() << "'\n";
  fs::permissions(opener, fs::perms::owner_all);
  ::setenv("SHEETWISE_OPENER", opener.c_str(), 1);
  const Result r = Host(kSample,
                        "NEW\n"
                        "VANTA\nToolbar\n"
                        "VANTA\nhelp\n"
                        "MENU\n"
                        "QUIT\n",
                        dir);
  ::unsetenv("SHEETWISE_OPENER");
  EXPECT_EQ(r.status, 0) << r.out;
  // Each drawing evaluates (C:init_vanta); the second finds the group loaded.
  EXPECT_EQ(r.out.find("already loaded"), std::string::npos) << r.out;
  // Before Help, once.
  EXPECT_TRUE(InOrder(r.out, {"Menu bar:", "P10  &Window", "P11  &Sheetwise", "P12  &Help"}))
      << r.out;
  EXPECT_EQ(Count(r.out, "&Sheetwise (VANTA.pop1)"), 1u) << r.out;
  EXPECT_NE(r.out.find("tb_vanta"), std::string::npos) << "the toolbar is shown\n" << r.out;
  std::ifstream in(opened);
  std::string page;
  std::getline(in, page);
  EXPECT_NE(page.find("vanta.chm/index.html"), std::string::npos) << page;
  fs::remove_all(dir);
}

TEST(Vanta, WithoutTheMenuFileTheHostSaysSoAndTheRestWorks) {
  const fs::path dir = Dir();
  const char* previous = std::getenv("XDG_CONFIG_HOME");
  const std::string kept = previous ? previous : "";
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  ::setenv("SHEETWISE_TRACE", "1", 1);
  const Result r = Host(kSample, "VANTA\ntoolbar\nGETVAR\nCMDDIA\nQUIT\n", dir);
  ::unsetenv("SHEETWISE_TRACE");
  ::setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("vamenu.cuix"), std::string::npos) << "MENULOAD names the file\n" << r.out;
  EXPECT_NE(r.out.find("[trace] VANTA Toolbar"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("CMDDIA = 1"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

TEST(Vanta, WithoutItsResourceLibraryTheApplicationDoesNotLoad) {
  const fs::path dir = Dir();
  // A copy of the application in a folder of its own, without vantares.dll beside it.
  fs::copy_file(fs::path(SW_SHEETWISE).parent_path() / "sheetwise.arx", dir / "lonely.arx",
                fs::copy_options::overwrite_existing);
  const Result r = Host("", "ARX\nLoad\n" + (dir / "lonely.arx").string() + "\nQUIT\n", dir);
  EXPECT_NE(r.out.find("refused to start"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("vantares.dll"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

TEST(Vanta, AComErrorEndsTheOperationInABoxAndTheHostGoesOn) {
  const std::string corpus =
      std::string(SW_SHARED_DIR) + "/corpus/xlsx/excel16_chartsheet_any_sheets.xlsx";
  if (!fs::exists(corpus)) GTEST_SKIP() << "corpus absent";
  const fs::path dir = Dir();
  // The chart sheet made the active one: the import meets a sheet that is no worksheet.
  ASSERT_EQ(
      std::system(("/usr/bin/python3 '" + std::string(SW_TESTS_DIR) + "/export/activate_tab.py' '" +
                   corpus + "' '" + (dir / "chart.xlsx").string() + "' 3")
                      .c_str()),
      0);
  const Result r = Host(kSample + " -w chart.xlsx", "VANTA\nImport\nGETVAR\nLUNITS\nQUIT\n", dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(InOrder(r.out, {"COM error!", "Code = 80004003", "Code meaning = Invalid pointer",
                              "Source = ", "Description = ", "[OK]", "LUNITS = 2"}))
      << r.out;
  EXPECT_EQ(r.out.find("resource module(s) pushed"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

TEST(VaTest, ChecksTheSpreadsheetRunningStartedOrMissing) {
  const fs::path dir = Dir();
  // Running with a workbook open: no start, no workbook added.
  fs::copy_file(std::string(SW_SHARED_DIR) + "/corpus/xlsx/excel16_aaa.xlsx", dir / "book.xlsx",
                fs::copy_options::skip_existing);
  if (fs::exists(dir / "book.xlsx")) {
    const auto before = fs::last_write_time(dir / "book.xlsx");
    const Result running = Host("-w book.xlsx", "vatest\nQUIT\n", dir);
    EXPECT_EQ(running.status, 0) << running.out;
    EXPECT_TRUE(InOrder(running.out, {"DEBUG: cmd\\cmdtest (48)", "DEBUG: cmd\\cmdtest (64)",
                                      "DEBUG: cmd\\cmdtest (66)", "DEBUG: cmd\\cmdtest (68)",
                                      "DEBUG: cmd\\cmdtest (72)", "DEBUG: cmd\\cmdtest (74)"}))
        << running.out;
    EXPECT_EQ(running.out.find("(50)"), std::string::npos) << running.out;
    EXPECT_EQ(fs::last_write_time(dir / "book.xlsx"), before) << "nothing changed, nothing saved";
  }

  // Not running: started on the first run (50), attached on the second; one workbook added.
  const Result started = Host("", "vatest\nvatest\nQUIT\n", dir);
  EXPECT_EQ(started.status, 0) << started.out;
  EXPECT_TRUE(InOrder(started.out, {"(48)", "(50)", "(64)", "(66)", "(68)", "(72)", "(74)", "(48)",
                                    "(64)", "(66)", "(68)", "(72)", "(74)"}))
      << started.out;
  EXPECT_EQ(Count(started.out, "(50)"), 1u) << started.out;

  // Not installed: the message box, and no step after it.
  const Result missing = Host("--no-spreadsheet", "vatest\nQUIT\n", dir);
  EXPECT_EQ(missing.status, 0) << missing.out;
  EXPECT_TRUE(InOrder(missing.out, {"(48)", "(50)", "ERROR: Failed to to obtain Excel object."}))
      << missing.out;
  EXPECT_EQ(missing.out.find("(64)"), std::string::npos) << missing.out;
  fs::remove_all(dir);
}

}  // namespace
