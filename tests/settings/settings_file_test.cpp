// Settings files: written and read back, files written by other programs (CRLF, BOM, UTF-16,
// comments), the values users type by hand, files that cannot be used, and the overlay of a
// run's --settings file.
#include "settings/settings_file.h"

#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win/registry.h"
#include "settings/settings.h"
#include "tests/platform/win/win_test_folder.h"

namespace {

namespace fs = std::filesystem;
using sheetwise::ApplySettingsFileOverlay;
using sheetwise::CheckSettingsFile;
using sheetwise::LoadSettings;
using sheetwise::LoadSettingsFile;
using sheetwise::SaveSettings;
using sheetwise::SaveSettingsFile;
using sheetwise::SettingsFileIssue;
using sheetwise::SettingsInfo;
using sheetwise::test::ReadFile;
using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;

std::wstring W(const fs::path& path) {
  return path.wstring();
}

// The file SaveSettingsFile writes for a default record.
const std::string kDefaultsFile =
    "[Export]\nAddHeader=0\nAutoConnect=0\nBlockNames=1\nXCoord=1\nYCoord=1\nZCoord=1\n"
    "LayerNames=1\nLayoutNames=0\nOddLine=0\nRotation=1\nScale=1\nSort=0\nStartRow=1\n"
    "WorkbookSettings=0\nWorksheetSettings=0\nIncludeConstant=0\nJTSK=0\nNoAutofit=0\nAsText=1\n"
    "FindNextBlankLine=0\nExportAttPrompts=0\nSelection=0\nTimeStamp=0\n"
    "\n[Import]\nImportSettings=0\nIgnoreProps=1\nStartCol=1\nStartRow=2\n";

SettingsInfo EveryFieldChanged() {
  SettingsInfo s;
  s.WorkbookSettings = 1;
  s.WorksheetSettings = 1;
  s.StartRow = -40;
  s.AddHeader = s.OddLine = s.AutoConnect = s.IncludeConstant = s.Sort = s.LayoutNames = true;
  s.NoAutofit = s.JTSK = s.FindNextBlankLine = s.ExportAttPrompts = s.Selection = true;
  s.TimeStamp = true;
  s.BlockNames = s.XCoord = s.YCoord = s.ZCoord = s.Rotation = s.LayerNames = false;
  s.Scale = s.AsText = false;
  s.Import = {1, false, 256, 65536};
  return s;
}

TEST(SettingsFile, WritesEveryKeyInOrderAndReadsTheRecordBack) {
  TempConfigHome home;
  const fs::path file = home.root() / "defaults.ini";
  ASSERT_TRUE(SaveSettingsFile(SettingsInfo{}, W(file)));
  EXPECT_EQ(ReadFile(file), kDefaultsFile);
  EXPECT_EQ(sheetwise::SettingsFileText(SettingsInfo{}), kDefaultsFile);

  const SettingsInfo changed = EveryFieldChanged();
  ASSERT_TRUE(SaveSettingsFile(changed, W(file)));
  EXPECT_NE(ReadFile(file).find("StartRow=-40\n"), std::string::npos);
  SettingsInfo loaded;
  ASSERT_TRUE(LoadSettingsFile(loaded, W(file)));
  EXPECT_EQ(loaded, changed);
  // A bare name is a file of the settings folder, as for every profile file.
  ASSERT_TRUE(SaveSettingsFile(changed, L"mine.ini"));
  EXPECT_EQ(ReadFile(home.config() / "sheetwise" / "mine.ini"), ReadFile(file));
}

TEST(SettingsFile, AMissingOrEmptyKeyLeavesItsField) {
  TempConfigHome home;
  const fs::path file = home.root() / "partial.ini";
  WriteFile(file,
            "[Export]\nAddHeader=\nSort=1\nStartRow= \n[Import]\nStartRow=\"\"\nStartCol=4\n");
  SettingsInfo s = EveryFieldChanged();
  s.Sort = false;
  SettingsInfo want = s;
  want.Sort = true;
  want.Import.StartCol = 4;
  ASSERT_TRUE(LoadSettingsFile(s, W(file)));
  EXPECT_EQ(s, want);
}

TEST(SettingsFile, ValuesAreReadAsTheirLeadingInteger) {
  // Expected values observed with _wtoi under Wine (msvcrt), as the Options dialog reads them.
  struct Case {
    const char* text;
    int32_t start_row;
  };
  const Case cases[] = {
      {"12", 12},
      {"12abc", 12},
      {"abc", 0},
      {" 7 ", 7},
      {"-3", -3},
      {"+5", 5},
      {"007", 7},
      {"\"42\"", 42},
      {"1.9", 1},
      {"0x10", 0},
      {"--1", 0},
      {"1 2", 1},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"99999999999", INT32_MAX},
      {"-2147483649", INT32_MIN},
  };
  TempConfigHome home;
  const fs::path file = home.root() / "values.ini";
  for (const Case& c : cases) {
    WriteFile(file, std::string("[Export]\nStartRow=") + c.text + "\nAddHeader=" + c.text + "\n");
    SettingsInfo s;
    ASSERT_TRUE(LoadSettingsFile(s, W(file)));
    EXPECT_EQ(s.StartRow, c.start_row) << c.text;
    EXPECT_EQ(s.AddHeader, c.start_row != 0) << c.text;  // a check box: on when not 0
  }
}

TEST(SettingsFile, FilesOfWindowsProgramsLoadAsPlainOnes) {
  TempConfigHome home;
  const std::string lines[] = {"; Sheetwise settings for the site plans",
                               "[export]",
                               "  addheader = 1",
                               "StartRow=7",
                               "Sort=1",
                               "",
                               "[Other]",
                               "StartRow=99",
                               "[Import]",
                               "STARTCOL=3",
                               "StartRow=5"};
  std::string lf, crlf = "\xEF\xBB\xBF", utf16 = "\xFF\xFE";
  for (const std::string& line : lines) {
    lf += line + "\n";
    crlf += line + "\r\n";
    for (char c : line + "\r\n") utf16 += std::string{c, '\0'};
  }
  SettingsInfo plain;
  WriteFile(home.root() / "lf.ini", lf);
  ASSERT_TRUE(LoadSettingsFile(plain, W(home.root() / "lf.ini")));
  EXPECT_TRUE(plain.AddHeader && plain.Sort);
  EXPECT_EQ(plain.StartRow, 7);
  EXPECT_EQ(plain.Import.StartCol, 3);
  EXPECT_EQ(plain.Import.StartRow, 5);
  for (const auto& [name, bytes] : {std::pair{"crlf.ini", crlf}, {"utf16.ini", utf16}}) {
    WriteFile(home.root() / name, bytes);
    SettingsInfo s;
    ASSERT_TRUE(LoadSettingsFile(s, W(home.root() / name))) << name;
    EXPECT_EQ(s, plain) << name;
    std::vector<SettingsFileIssue> issues;
    ASSERT_TRUE(CheckSettingsFile(W(home.root() / name), issues));
    EXPECT_TRUE(issues.empty()) << name << ": " << issues.front().message;
  }
}

TEST(SettingsFile, SavingUpdatesAFileInPlaceAndKeepsTheRest) {
  TempConfigHome home;
  const fs::path file = home.root() / "shared.ini";
  const std::string original =
      "\xEF\xBB\xBF; team settings\r\n[Export]\r\nSort = 1\r\nOwner=Eva\r\n\r\n"
      "[Plot]\r\nScale=50\r\n";
  WriteFile(file, original);
  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(SaveSettingsFile(SettingsInfo{}, W(file)));
  const std::string saved = ReadFile(file);
  EXPECT_EQ(saved.rfind("\xEF\xBB\xBF; team settings\r\n[Export]\r\nSort = 0\r\nOwner=Eva\r\n", 0),
            0u)
      << saved;
  EXPECT_NE(saved.find("[Plot]\r\nScale=50\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[Import]\r\nImportSettings=0\r\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("\n\n"), std::string::npos) << "LF without CR in " << saved;
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  SettingsInfo loaded = EveryFieldChanged();
  ASSERT_TRUE(LoadSettingsFile(loaded, W(file)));
  EXPECT_EQ(loaded, SettingsInfo{});

  // Saving the same values again leaves the file alone; nothing is left beside it.
  ASSERT_TRUE(SaveSettingsFile(SettingsInfo{}, W(file)));
  struct stat again {};
  ASSERT_EQ(::stat(file.c_str(), &again), 0);
  EXPECT_EQ(again.st_ino, st.st_ino);
  for (const auto& entry : fs::directory_iterator(home.root())) {
    EXPECT_EQ(entry.path().filename(), "shared.ini");
  }
}

TEST(SettingsFile, FilesThatCannotBeUsedAreRefusedByName) {
  TempConfigHome home;
  const SettingsInfo changed = EveryFieldChanged();
  std::string error;
  SettingsInfo s = changed;

  const fs::path missing = home.root() / "missing.ini";
  EXPECT_FALSE(LoadSettingsFile(s, W(missing), &error));
  EXPECT_NE(error.find(missing.string()), std::string::npos) << error;
  EXPECT_EQ(s, changed);

  const fs::path folder = home.root() / "folder.ini";
  fs::create_directory(folder);
  EXPECT_FALSE(LoadSettingsFile(s, W(folder), &error));
  EXPECT_NE(error.find("folder.ini: is a folder"), std::string::npos) << error;
  EXPECT_FALSE(SaveSettingsFile(s, W(folder), &error));
  EXPECT_NE(error.find("folder.ini"), std::string::npos) << error;

  const fs::path huge = home.root() / "huge.ini";
  WriteFile(huge, "[Export]\nSort=1\n" + std::string(2 * 1024 * 1024, ';'));
  EXPECT_FALSE(LoadSettingsFile(s, W(huge), &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  std::vector<SettingsFileIssue> issues;
  EXPECT_FALSE(CheckSettingsFile(W(huge), issues, &error));
  EXPECT_EQ(s, changed);

  const fs::path nowhere = home.root() / "no" / "such" / "folder.ini";
  EXPECT_FALSE(SaveSettingsFile(s, W(nowhere), &error));
  EXPECT_NE(error.find(nowhere.string()), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(home.root() / "no"));
}

TEST(SettingsFile, CheckNamesTheLineOfWhatWillNotLoadAsWritten) {
  TempConfigHome home;
  const fs::path file = home.root() / "hand.ini";
  WriteFile(file,
            "; edited by hand\n"           // 1
            "[Export]\n"                   // 2
            "AddHeader=1\n"                // 3
            "StartRow=12abc\n"             // 4
            "Coords=0\n"                   // 5
            "just text\n"                  // 6
            "addheader=0\n"                // 7
            "Sort=\n"                      // 8
            "[Import]\n"                   // 9
            "StartCol=abc\n"               // 10
            "StartRow=0\n"                 // 11
            "StartCol=300\n"               // 12
            "ImportSettings=5000000000\n"  // 13
            "[Notes]\n"                    // 14
            "Anything=goes\n"              // 15
            "[EXPORT]\n"                   // 16
            "Sort=1\n");                   // 17
  std::vector<SettingsFileIssue> issues;
  ASSERT_TRUE(CheckSettingsFile(W(file), issues));
  const std::vector<std::pair<size_t, std::string>> want = {
      {4, "StartRow = \"12abc\" is not a number: loads as 12"},
      {5, "unknown key \"Coords\" in [Export]: ignored"},
      {6, "\"just text\" is not a KEY=VALUE line: ignored"},
      {7, "AddHeader repeated (first at line 3): this value is not read"},
      {10, "StartCol = \"abc\" is not a number: loads as 0"},
      {11, "StartRow = \"0\" is outside 1 to 65536"},
      {12, "StartCol repeated (first at line 10)"},
      {13, "ImportSettings = \"5000000000\" is outside the 32-bit range: loads as 2147483647"},
      {16, "[EXPORT] repeated (first at line 2)"},
  };
  ASSERT_EQ(issues.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(issues[i].line, want[i].first) << issues[i].message;
    EXPECT_EQ(issues[i].message.rfind(want[i].second, 0), 0u) << issues[i].message;
  }
  // What the check says matches what loading does.
  SettingsInfo s;
  ASSERT_TRUE(LoadSettingsFile(s, W(file)));
  EXPECT_TRUE(s.AddHeader);
  EXPECT_FALSE(s.Sort);
  EXPECT_EQ(s.StartRow, 12);
  EXPECT_EQ(s.Import.StartCol, 0);
  EXPECT_EQ(s.Import.ImportSettings, INT32_MAX);

  WriteFile(file, "[Options]\nSort=1\n");
  issues.clear();
  ASSERT_TRUE(CheckSettingsFile(W(file), issues));
  ASSERT_EQ(issues.size(), 1u);
  EXPECT_EQ(issues[0].line, 0u);
  EXPECT_NE(issues[0].message.find("no [Export] or [Import] section"), std::string::npos);
}

// Removes the overlay whatever the test's outcome, so that no other test sees it.
struct OverlayGuard {
  ~OverlayGuard() { SettingsOverlayClear(); }
};

TEST(SettingsOverlay, TheFileIsLaidOverTheStoreForThisProcessOnly) {
  TempConfigHome home;
  OverlayGuard guard;
  SettingsInfo stored;
  stored.AddHeader = true;
  stored.StartRow = 30;
  stored.Import.StartCol = 5;
  ASSERT_TRUE(SaveSettings(stored));
  const std::string store_before = ReadFile(home.store());

  const fs::path file = home.root() / "run.ini";
  WriteFile(file, "[Export]\nAddHeader=0\nSort=7\nStartRow=\n[Import]\nStartRow=9\n");
  ASSERT_TRUE(ApplySettingsFileOverlay(W(file)));
  SettingsInfo seen;
  LoadSettings(seen);
  SettingsInfo want = stored;
  want.AddHeader = false;
  want.Sort = true;
  want.Import.StartRow = 9;
  EXPECT_EQ(seen, want);
  EXPECT_EQ(ReadFile(home.store()), store_before);

  SettingsOverlayClear();
  LoadSettings(seen);
  EXPECT_EQ(seen, stored);
}

TEST(SettingsOverlay, ImportValuesCountWithoutAStoredExportKey) {
  TempConfigHome home;
  OverlayGuard guard;
  const fs::path file = home.root() / "import.ini";
  WriteFile(file, "[Import]\nStartCol=2\nIgnoreProps=0\n");
  ASSERT_TRUE(ApplySettingsFileOverlay(W(file)));
  SettingsInfo seen;
  LoadSettings(seen);
  SettingsInfo want;
  want.Import.StartCol = 2;
  want.Import.IgnoreProps = false;
  EXPECT_EQ(seen, want);
  EXPECT_FALSE(fs::exists(home.store()));
}

TEST(SettingsOverlay, AFileThatCannotBeReadLaysNothing) {
  TempConfigHome home;
  OverlayGuard guard;
  std::string error;
  const fs::path missing = home.root() / "nothing.ini";
  EXPECT_FALSE(ApplySettingsFileOverlay(W(missing), &error));
  EXPECT_NE(error.find(missing.string()), std::string::npos) << error;
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, sheetwise::kExportSettingsKey, 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
