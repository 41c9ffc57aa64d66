// `sheetwise settings ...` as users run it: the executable with its own settings folder, checked
// by its exit status, what it printed, the settings files it wrote and the store it left.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/platform/win/win_test_folder.h"

namespace {

namespace fs = std::filesystem;
using sheetwise::test::ReadFile;
using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `sheetwise settings ARGS` in `dir` with the settings folder of `home`.
Result Settings(const std::string& args, const TempConfigHome& home) {
  const fs::path err_file = home.root() / "stderr.txt";
  const std::string cmd = "cd '" + home.root().string() + "' && XDG_CONFIG_HOME='" +
                          home.config().string() + "' '" SW_SHEETWISE "' settings " + args +
                          " </dev/null 2>'" + err_file.string() + "'";
  Result r;
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadFile(err_file);
  fs::remove(err_file);
  return r;
}

const std::string kDefaults =
    "[Export]\nAddHeader=0\nAutoConnect=0\nBlockNames=1\nXCoord=1\nYCoord=1\nZCoord=1\n"
    "LayerNames=1\nLayoutNames=0\nOddLine=0\nRotation=1\nScale=1\nSort=0\nStartRow=1\n"
    "WorkbookSettings=0\nWorksheetSettings=0\nIncludeConstant=0\nJTSK=0\nNoAutofit=0\nAsText=1\n"
    "FindNextBlankLine=0\nExportAttPrompts=0\nSelection=0\nTimeStamp=0\n"
    "\n[Import]\nImportSettings=0\nIgnoreProps=1\nStartCol=1\nStartRow=2\n";

std::string With(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(SettingsCommand, LoadShowSaveAndResetGoThroughTheStore) {
  TempConfigHome home;
  Result r = Settings("show", home);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kDefaults);
  EXPECT_FALSE(fs::exists(home.store()));  // showing writes nothing

  WriteFile(home.root() / "site.ini",
            "\xEF\xBB\xBF; site plans\r\n[Export]\r\nAddHeader=1\r\nStartRow=12abc\r\n"
            "Bogus=1\r\nSort=\r\n[Import]\r\nStartCol=4\r\n");
  r = Settings("load site.ini", home);  // relative to the working folder
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string path = (home.root() / "site.ini").string();
  EXPECT_NE(r.err.find(path + ":4: warning: StartRow = \"12abc\" is not a number: loads as 12"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(path + ":5: warning: unknown key \"Bogus\""), std::string::npos) << r.err;
  std::string loaded = With(kDefaults, "AddHeader=0", "AddHeader=1");
  loaded = With(loaded, "StartRow=1\n", "StartRow=12\n");
  loaded = With(loaded, "StartCol=1", "StartCol=4");
  r = Settings("show", home);
  EXPECT_EQ(r.out, loaded);
  EXPECT_NE(ReadFile(home.store()).find("\"StartRow\"=dword:0000000c"), std::string::npos);

  // A second file changes only what it holds.
  WriteFile(home.root() / "sort.ini", "[Export]\nSort=1\n");
  ASSERT_EQ(Settings("load sort.ini", home).status, 0);
  loaded = With(loaded, "Sort=0", "Sort=1");
  EXPECT_EQ(Settings("show", home).out, loaded);

  // save writes beside the user, not into the settings folder, and keeps the file's comments.
  WriteFile(home.root() / "out.ini", "; kept\n[Export]\nSort=0\n");
  r = Settings("save out.ini", home);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string saved = ReadFile(home.root() / "out.ini");
  EXPECT_EQ(saved.rfind("; kept\n[Export]\nSort=1\nAddHeader=1\n", 0), 0u) << saved;
  r = Settings("save copy.ini", home);
  EXPECT_EQ(ReadFile(home.root() / "copy.ini"), loaded);

  r = Settings("reset", home);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Settings("show", home).out, kDefaults);
  ASSERT_EQ(Settings("load copy.ini", home).status, 0);
  EXPECT_EQ(Settings("show", home).out, loaded);
}

TEST(SettingsCommand, FilesAndStoresThatCannotBeUsedFailAndChangeNothing) {
  TempConfigHome home;
  ASSERT_EQ(Settings("reset", home).status, 0);
  const std::string store = ReadFile(home.store());

  Result r = Settings("load missing.ini", home);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find((home.root() / "missing.ini").string()), std::string::npos) << r.err;
  fs::create_directory(home.root() / "folder.ini");
  r = Settings("load folder.ini", home);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("folder.ini: is a folder"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(home.store()), store);

  r = Settings("save no/such/folder/out.ini", home);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no/such/folder/out.ini"), std::string::npos) << r.err;

  // A store that cannot be written: load reports it and leaves the store as it was.
  const std::string damaged = "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\n";
  WriteFile(home.store(), damaged);
  WriteFile(home.root() / "sort.ini", "[Export]\nSort=1\n");
  r = Settings("load sort.ini", home);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write the settings store " + home.store().string()),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("registry.txt:3:"), std::string::npos) << r.err;
  EXPECT_EQ(Settings("reset", home).status, 1);
  // Neither shown nor saved: the defaults it falls back to are not the user's settings.
  r = Settings("show", home);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("cannot read the settings store"), std::string::npos) << r.err;
  WriteFile(home.root() / "kept.ini", "[Export]\nSort=1\n");
  EXPECT_EQ(Settings("save kept.ini", home).status, 1);
  EXPECT_EQ(ReadFile(home.root() / "kept.ini"), "[Export]\nSort=1\n");
  EXPECT_EQ(ReadFile(home.store()), damaged);
}

TEST(SettingsCommand, BadUsageShowsTheUsageLine) {
  TempConfigHome home;
  for (const char* args : {"", "frob", "load", "save", "show extra", "reset now", "load a b"}) {
    const Result r = Settings(args, home);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find("usage: sheetwise settings show | load FILE.ini | save FILE.ini | reset"),
              std::string::npos)
        << args << ": " << r.err;
  }
  EXPECT_FALSE(fs::exists(home.store()));
}

}  // namespace
