// The Options dialog as users drive it: VANTA Options in the host, the dialog's lines from a
// script, and the settings store read back with `sheetwise settings show` afterwards. Each test
// has its own configuration folder, so its store starts empty (every setting at its default).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/host_run.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

namespace fs = std::filesystem;
using sheetwise::test::Count;
using sheetwise::test::Result;

using Settings = std::map<std::string, std::string>;  // "Export.StartRow" -> "1"

Settings With(Settings settings, const Settings& changes) {
  for (const auto& [key, value] : changes) settings[key] = value;
  return settings;
}

// Each check box setting the other way round.
Settings Flipped(Settings settings) {
  for (auto& [key, value] : settings) {
    if (value == "0" || value == "1") value = value == "0" ? "1" : "0";
  }
  return settings;
}

// Sections and keys of INI text as "Section.Key" -> value.
Settings ParseIni(const std::string& text) {
  Settings out;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
    } else if (const auto eq = line.find('='); eq != std::string::npos && !section.empty()) {
      out[section + "." + line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return out;
}

// One `?` of the dialog: the frame's control lines and those of the shown tab.
struct Shown {
  std::string frame;
  std::string page;
  int tab = -1;
};

// Every `?` in the host's output, in order. A show starts at `Dialog "` and runs through the
// control lines (two blanks first) and its tab header.
std::vector<Shown> Shows(const std::string& out) {
  std::vector<Shown> shows;
  std::istringstream in(out);
  std::string line;
  Shown* current = nullptr;
  bool in_page = false;
  while (std::getline(in, line)) {
    if (line.rfind("Dialog \"", 0) == 0) {
      shows.emplace_back();
      current = &shows.back();
      in_page = false;
    } else if (current != nullptr && line.rfind("Tab ", 0) == 0) {
      current->tab = std::atoi(line.c_str() + 4);
      in_page = true;
    } else if (current != nullptr && line.rfind("  ", 0) == 0) {
      (in_page ? current->page : current->frame) += line + "\n";
    } else {
      current = nullptr;
    }
  }
  // The header a dialog prints when it opens lists no controls.
  std::erase_if(shows, [](const Shown& s) { return s.frame.empty(); });
  return shows;
}

// The line of control `id` on the shown tab, else on the frame; "" when neither has it.
std::string Control(const Shown& shown, int id) {
  std::string key = "  " + std::to_string(id);
  key.resize(std::max<size_t>(key.size(), 7), ' ');
  for (const std::string* part : {&shown.page, &shown.frame}) {
    std::istringstream in(*part);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(key, 0) == 0) return line;
    }
  }
  return "";
}

bool Enabled(const Shown& shown, int id) {
  const std::string line = Control(shown, id);
  EXPECT_FALSE(line.empty()) << "control " << id << " not shown";
  return line.find("[disabled]") == std::string::npos;
}

bool Checked(const Shown& shown, int id) {
  const std::string line = Control(shown, id);
  EXPECT_FALSE(line.empty()) << "control " << id << " not shown";
  return line.find("\" on") != std::string::npos;
}

// The quoted text of control `id` ("" for none).
std::string Text(const Shown& shown, int id) {
  const std::string line = Control(shown, id);
  const auto open = line.find('"');
  const auto close = line.rfind('"');
  return open == std::string::npos || close <= open ? "" : line.substr(open + 1, close - open - 1);
}

class OptionsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = sheetwise::test::Dir();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    kept_config_ = config != nullptr ? config : "";
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    // The values themselves are checked where `settings show` is (settings_command_test).
    defaults_ = Stored();
    ASSERT_FALSE(defaults_.empty());
    // Non-default values for every setting: each check box the other way round but the
    // blank-row search (it would disable the start row), and other numbers.
    every_other_way_ = With(Flipped(defaults_), {{"Export.StartRow", "12"},
                                                 {"Export.FindNextBlankLine", "0"},
                                                 {"Import.StartCol", "7"},
                                                 {"Import.StartRow", "9"}});
  }
  void TearDown() override {
    ::setenv("XDG_CONFIG_HOME", kept_config_.c_str(), 1);
    ::unsetenv("SHEETWISE_OPENER");
    fs::remove_all(dir_);
  }

  // The host on `lines` (one a line) with a new drawing; QUIT is added at the end.
  Result Options(const std::string& lines) {
    Result r = sheetwise::test::Host("", lines + "QUIT\n", dir_);
    EXPECT_EQ(r.status, 0) << r.out;
    return r;
  }

  // `sheetwise ARGS` in the test's folder: exit status and what it printed to stdout.
  Result Sheetwise(const std::string& args) {
    Result r;
    r.status = dxf_test::Run(
        "cd '" + dir_.string() + "' && '" SW_SHEETWISE "' " + args + " 2>/dev/null", &r.out);
    return r;
  }

  Settings Stored() {
    const Result r = Sheetwise("settings show");
    EXPECT_EQ(r.status, 0) << r.out;
    return ParseIni(r.out);
  }

  // Puts `settings` into the store through a settings file, as a user may.
  void Store(const Settings& settings) {
    std::string text;
    for (const char* section : {"Export", "Import"}) {
      text += "[" + std::string(section) + "]\n";
      for (const auto& [key, value] : settings) {
        if (key.rfind(std::string(section) + ".", 0) == 0) {
          text += key.substr(key.find('.') + 1) + "=" + value + "\n";
        }
      }
    }
    std::ofstream(dir_ / "store.ini") << text;
    ASSERT_EQ(Sheetwise("settings load store.ini").status, 0);
    ASSERT_EQ(Stored(), settings);
  }

  fs::path dir_;
  std::string kept_config_;
  Settings defaults_;         // a fresh store's
  Settings every_other_way_;  // what kEveryOtherWayLines make of the defaults
};

// The dialog's lines that turn a fresh store's settings into OptionsDialog::every_other_way_.
const char kEveryOtherWayLines[] =
    "1009 off\n1006 off\n1013 off\n1014 off\n1008 off\n1010 off\n"
    "1004\n1001\n1005 = 12\n1011 on\n1020 on\n1021 on\n1012 off\n1022 on\n1015 on\n"
    "1023 on\n1016 on\n1024 on\n1025 off\n1027 on\n1033 on\n1034 on\n"
    "tab 1\n1014\n1015 off\n1006 = 7\n1005 = 9\n";

TEST_F(OptionsDialog, OkStoresEveryFieldWhileCancelEscapeAndEndOfInputStoreNothing) {
  // Every control changed and OK: every setting stored, and nothing else shown on the way.
  Result r = Options("VANTA\nOptions\n" + std::string(kEveryOtherWayLines) + "ok\n");
  EXPECT_EQ(Count(r.out, "Sheetwise 2014: "), 0u) << "every line was taken\n" << r.out;
  EXPECT_EQ(r.out.find("Please enter"), std::string::npos) << r.out;
  EXPECT_EQ(Stored(), every_other_way_);

  // Opened again, the dialog shows what was stored.
  r = Options("VANTA\nOptions\n?\ntab 1\n?\ncancel\n");
  std::vector<Shown> shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 2u) << r.out;
  EXPECT_FALSE(Checked(shows[0], 1009));
  EXPECT_TRUE(Checked(shows[0], 1001));
  EXPECT_EQ(Text(shows[0], 1005), "12");
  EXPECT_TRUE(Checked(shows[0], 1034));
  EXPECT_TRUE(Checked(shows[1], 1014));
  EXPECT_FALSE(Checked(shows[1], 1015));
  EXPECT_EQ(Text(shows[1], 1006), "7");
  EXPECT_EQ(Text(shows[1], 1005), "9");

  // Back to the defaults by hand, then left by Escape (`cancel`), by the Cancel button and by
  // the end of the script: the store keeps what was stored.
  const std::string back =
      "1009 on\n1006 on\n1003\n1000\n1012 on\n1025 on\ntab 1\n1013\n1015 on\n1006 = 1\n";
  for (const std::string& leave : {std::string("cancel\n"), std::string("2\n"), std::string()}) {
    SCOPED_TRACE(leave.empty() ? "end of input" : leave);
    if (leave.empty()) {
      r = sheetwise::test::Host("", "VANTA\nOptions\n" + back, dir_);
      EXPECT_EQ(r.status, 0) << r.out;
    } else {
      r = Options("VANTA\nOptions\n" + back + leave);
    }
    EXPECT_EQ(Stored(), every_other_way_);
  }
}

TEST_F(OptionsDialog, WorksheetChoiceAndBlankRowSearchEnableTheStartRowControls) {
  // A fresh store writes to new worksheets: start row, its spin, header row and blank-row
  // search are off until the active worksheet is chosen.
  Result r = Options(
      "VANTA\nOptions\n?\n1005 = 40\n1004\n?\n1017 on\n?\n1003\n?\n1004\n?\n1017 off\n?\n"
      "1005 = 40\nok\n");
  std::vector<Shown> shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 6u) << r.out;
  struct Row {
    const char* after;
    bool start_row, header, find_blank;
  };
  const Row rows[] = {
      {"opening", false, false, false},         {"1004", true, true, true},
      {"1017 on", false, true, true},           {"1003", false, false, false},
      {"1004 with 1017 on", false, true, true}, {"1017 off", true, true, true},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].after);
    EXPECT_EQ(Enabled(shows[i], 1005), rows[i].start_row);
    EXPECT_EQ(Enabled(shows[i], 1007), rows[i].start_row);
    EXPECT_EQ(Enabled(shows[i], 1011), rows[i].header);
    EXPECT_EQ(Enabled(shows[i], 1017), rows[i].find_blank);
  }
  EXPECT_NE(r.out.find("control 1005 (edit) is disabled"), std::string::npos) << r.out;
  Settings stored = Stored();
  EXPECT_EQ(stored["Export.WorksheetSettings"], "1");
  EXPECT_EQ(stored["Export.StartRow"], "40");
  EXPECT_EQ(stored["Export.FindNextBlankLine"], "0");

  // Stored with the blank-row search on: it opens with the start row off, the rest on.
  r = Options("VANTA\nOptions\n1017 on\nok\nVANTA\nOptions\n?\ncancel\n");
  shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 1u) << r.out;
  EXPECT_FALSE(Enabled(shows[0], 1005));
  EXPECT_FALSE(Enabled(shows[0], 1007));
  EXPECT_TRUE(Enabled(shows[0], 1011));
  EXPECT_TRUE(Enabled(shows[0], 1017));
  EXPECT_TRUE(Checked(shows[0], 1017));
  EXPECT_EQ(Text(shows[0], 1005), "40") << "a disabled start row still shows its value";
}

TEST_F(OptionsDialog, DefaultsAskFirstAndKeepConstantAttributesAndPrompts) {
  Store(every_other_way_);
  const Settings defaults_but_two =
      With(defaults_, {{"Export.IncludeConstant", "1"}, {"Export.ExportAttPrompts", "1"}});

  // No is the default button: a script line that is no answer takes it, and nothing changes.
  Result r = Options("VANTA\nOptions\n4\n?\nok\n");
  EXPECT_NE(r.out.find("Sheetwise 2014 (question)\nSet every option back to its default value?\n"
                       "Yes [No]?"),
            std::string::npos)
      << r.out;
  std::vector<Shown> shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 1u) << r.out;
  EXPECT_FALSE(Checked(shows[0], 1009));
  EXPECT_EQ(Stored(), every_other_way_);

  // Yes shows the defaults at once, with the worksheet's controls off, but Cancel stores none.
  r = Options("VANTA\nOptions\n4\nYes\n?\ntab 1\n?\ncancel\n");
  shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 2u) << r.out;
  EXPECT_TRUE(Checked(shows[0], 1009));
  EXPECT_TRUE(Checked(shows[0], 1003));
  EXPECT_TRUE(Checked(shows[0], 1000));
  EXPECT_TRUE(Checked(shows[0], 1021)) << "constant attributes kept";
  EXPECT_TRUE(Checked(shows[0], 1027)) << "attribute prompts kept";
  EXPECT_EQ(Text(shows[0], 1005), "1");
  for (int id : {1005, 1007, 1011, 1017}) EXPECT_FALSE(Enabled(shows[0], id)) << id;
  EXPECT_TRUE(Checked(shows[1], 1013));
  EXPECT_TRUE(Checked(shows[1], 1015));
  EXPECT_EQ(Text(shows[1], 1006), "1");
  EXPECT_EQ(Text(shows[1], 1005), "2");
  EXPECT_EQ(Stored(), every_other_way_);

  // Yes, then OK: every default stored but those two.
  r = Options("VANTA\nOptions\n4\nYes\nok\n");
  EXPECT_EQ(Stored(), defaults_but_two);
  // What is kept are the dialog's fields, here as a settings file has just set them.
  std::ofstream(dir_ / "plain.ini") << "[Export]\nIncludeConstant=0\nExportAttPrompts=0\n";
  r = Options("VANTA\nOptions\n3\n32771\nplain.ini\n4\nYes\nok\n");
  EXPECT_EQ(Stored(), defaults_);
}

TEST_F(OptionsDialog, OkRefusesStartRowsAndColumnsOutOfRangeAndStaysOpen) {
  struct Row {
    const char* lines;    // after the dialog opened
    const char* message;  // of the first, refused OK
    const char* key;
    const char* stored;  // after the corrected OK
  };
  const Row rows[] = {
      {"1004\n1005 = 70000\nok\n1005 = 65536\nok\n", "between 1 and 65536", "Export.StartRow",
       "65536"},
      {"1004\n1005 = 0\nok\n1005 = 1\nok\n", "between 1 and 65536", "Export.StartRow", "1"},
      {"tab 1\n1006 = 257\nok\n1006 = 256\nok\n", "between 1 and 256", "Import.StartCol", "256"},
      {"tab 1\n1006 = 0\nok\n1006 = 3\nok\n", "between 1 and 256", "Import.StartCol", "3"},
      {"tab 1\n1005 = 65537\nok\n1005 = 5\nok\n", "between 1 and 65536", "Import.StartRow", "5"},
      {"tab 1\n1005 = \"\"\nok\n1005 = 5\nok\n", "Please enter an integer.", "Import.StartRow",
       "5"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.lines);
    const Result r = Options("VANTA\nOptions\n" + std::string(row.lines));
    EXPECT_EQ(Count(r.out, row.message), 1u) << r.out;
    EXPECT_EQ(Stored()[row.key], row.stored);
  }

  // A bad export start row found while the Import tab is shown brings the Export tab forward,
  // so that the next line reaches the edit at fault; nothing is stored until it is right.
  const Settings before = Stored();
  const Result r = Options("VANTA\nOptions\n1004\n1005 = 99999\ntab 1\n1015 off\nok\n?\ncancel\n");
  const std::vector<Shown> shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 1u) << r.out;
  EXPECT_EQ(shows[0].tab, 0);
  EXPECT_EQ(Text(shows[0], 1005), "99999");
  EXPECT_EQ(Stored(), before);
}

TEST_F(OptionsDialog, CoordinateNoticeComesWithOkOnTheExportTabOnly) {
  const std::string notice =
      "Coordinates (information)\nNot all three coordinates (X, Y and Z) are exported.";
  // Z off on the Export tab: one notice, then the save and the close.
  Result r = Options("VANTA\nOptions\n1014 off\nok\n");
  EXPECT_EQ(Count(r.out, notice), 1u) << r.out;
  EXPECT_EQ(Stored()["Export.ZCoord"], "0");

  // The same settings with the Import tab shown: no notice, still stored.
  r = Options("VANTA\nOptions\ntab 1\n1015 off\nok\n");
  EXPECT_EQ(Count(r.out, notice), 0u) << r.out;
  EXPECT_EQ(Stored()["Import.IgnoreProps"], "0");

  // All three off are all alike: no notice.
  r = Options("VANTA\nOptions\n1006 off\n1013 off\nok\n");
  EXPECT_EQ(Count(r.out, notice), 0u) << r.out;
  EXPECT_EQ(Stored()["Export.XCoord"], "0");
}

TEST_F(OptionsDialog, SpinsStepWholeNumbersWithinTheirRanges) {
  const Result r = Options(
      "VANTA\nOptions\n1004\n1007 up\n1007 up\n?\n1005 = 65536\n1007 up\n?\n1005 = 1\n1007 "
      "down\n?\n"
      "tab 1\n1006 = 255\n1008 up\n1008 up\n?\n1005 = 65535\n1016 up\n1016 up\n?\n"
      "1016 down\n1008 down\n?\nok\n");
  const std::vector<Shown> shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 6u) << r.out;
  EXPECT_EQ(Text(shows[0], 1005), "3") << "no decimals for whole steps";
  EXPECT_EQ(Text(shows[1], 1005), "65536");
  EXPECT_EQ(Text(shows[2], 1005), "1");
  EXPECT_EQ(Text(shows[3], 1006), "256") << "the start column stops at 256";
  EXPECT_EQ(Text(shows[4], 1005), "65536");
  EXPECT_EQ(Text(shows[5], 1005), "65535");
  EXPECT_EQ(Text(shows[5], 1006), "255");
  const Settings stored = Stored();
  EXPECT_EQ(stored.at("Export.StartRow"), "1");
  EXPECT_EQ(stored.at("Import.StartCol"), "255");
  EXPECT_EQ(stored.at("Import.StartRow"), "65535");
}

TEST_F(OptionsDialog, SettingsFileSavesWhatTheDialogShowsAndLoadsItBack) {
  // Saved from the dialog's controls before any OK, then the dialog cancelled: the file holds
  // every key, the store nothing new.
  Result r =
      Options("VANTA\nOptions\n" + std::string(kEveryOtherWayLines) + "3\n32772\nmine\ncancel\n");
  EXPECT_NE(r.out.find("File dialog \"Save As\", proposed name \"Sheetwise.ini\", types: "
                       "Settings files (*.ini), All files (*.*)"),
            std::string::npos)
      << r.out;
  // The key order of the file is checked where the file is written (settings_file_test).
  EXPECT_EQ(ParseIni(dxf_test::ReadBytes(dir_ / "mine.ini")), every_other_way_);
  EXPECT_EQ(Stored(), defaults_);

  // Loaded into a dialog on the defaults: every control shows the file, OK stores it.
  r = Options("VANTA\nOptions\n3\n32771\nmine.ini\n?\nok\n");
  std::vector<Shown> shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 1u) << r.out;
  EXPECT_TRUE(Checked(shows[0], 1004));
  EXPECT_TRUE(Enabled(shows[0], 1005)) << "active worksheet without the blank-row search";
  EXPECT_TRUE(Enabled(shows[0], 1011));
  EXPECT_EQ(Text(shows[0], 1005), "12");
  EXPECT_EQ(Stored(), every_other_way_);

  // A file of a few keys: missing and empty ones keep their field ("AddHeader", "AsText"),
  // "abc" is 0 and "12abc" 12; the start row, now off, still shows what was loaded.
  Store(With(defaults_, {{"Export.AddHeader", "1"}}));
  std::ofstream(dir_ / "few.ini") << "[Export]\nWorksheetSettings=1\nFindNextBlankLine=1\n"
                                     "StartRow=abc\nAsText=\n[Import]\nStartCol=12abc\n";
  r = Options("VANTA\nOptions\n3\nLoad from file...\nfew.ini\n?\nok\n1017 off\n1005 = 3\nok\n");
  shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 1u) << r.out;
  EXPECT_TRUE(Enabled(shows[0], 1011));
  EXPECT_TRUE(Enabled(shows[0], 1017));
  EXPECT_FALSE(Enabled(shows[0], 1005));
  EXPECT_FALSE(Enabled(shows[0], 1007));
  EXPECT_EQ(Text(shows[0], 1005), "0");
  EXPECT_TRUE(Checked(shows[0], 1011));
  EXPECT_TRUE(Checked(shows[0], 1025));
  EXPECT_EQ(Count(r.out, "between 1 and 65536"), 1u) << "checked at OK only\n" << r.out;
  const Settings loaded = With(defaults_, {{"Export.AddHeader", "1"},
                                           {"Export.WorksheetSettings", "1"},
                                           {"Export.StartRow", "3"},
                                           {"Import.StartCol", "12"}});
  EXPECT_EQ(Stored(), loaded);

  // A file that is not there, a dismissed menu and a cancelled file dialog change nothing.
  r = Options("VANTA\nOptions\n3\n32771\nnothere.ini\n3\n\n3\n32772\n\nok\n");
  EXPECT_EQ(Stored(), loaded);
  EXPECT_FALSE(fs::exists(dir_ / "Sheetwise.ini"));
}

TEST_F(OptionsDialog, EachControlIsTheSettingOfItsName) {
  // One control changed at a time from the defaults, saved to a file of its own, changed back:
  // each file differs from the defaults in that control's setting only.
  struct Row {
    const char* set;
    const char* reset;
    Settings changes;
  };
  const Row rows[] = {
      {"1009 off", "1009 on", {{"Export.Rotation", "0"}}},
      {"1006 off", "1006 on", {{"Export.XCoord", "0"}}},
      {"1013 off", "1013 on", {{"Export.YCoord", "0"}}},
      {"1014 off", "1014 on", {{"Export.ZCoord", "0"}}},
      {"1008 off", "1008 on", {{"Export.Scale", "0"}}},
      {"1010 off", "1010 on", {{"Export.LayerNames", "0"}}},
      {"1004", "1003", {{"Export.WorksheetSettings", "1"}}},
      {"1001", "1000", {{"Export.WorkbookSettings", "1"}}},
      {"1004\n1005 = 77",
       "1005 = 1\n1003",
       {{"Export.WorksheetSettings", "1"}, {"Export.StartRow", "77"}}},
      {"1004\n1011 on",
       "1011 off\n1003",
       {{"Export.WorksheetSettings", "1"}, {"Export.AddHeader", "1"}}},
      {"1004\n1017 on",
       "1017 off\n1003",
       {{"Export.WorksheetSettings", "1"}, {"Export.FindNextBlankLine", "1"}}},
      {"1020 on", "1020 off", {{"Export.AutoConnect", "1"}}},
      {"1021 on", "1021 off", {{"Export.IncludeConstant", "1"}}},
      {"1012 off", "1012 on", {{"Export.BlockNames", "0"}}},
      {"1022 on", "1022 off", {{"Export.Sort", "1"}}},
      {"1015 on", "1015 off", {{"Export.LayoutNames", "1"}}},
      {"1023 on", "1023 off", {{"Export.OddLine", "1"}}},
      {"1016 on", "1016 off", {{"Export.JTSK", "1"}}},
      {"1024 on", "1024 off", {{"Export.NoAutofit", "1"}}},
      {"1025 off", "1025 on", {{"Export.AsText", "0"}}},
      {"1027 on", "1027 off", {{"Export.ExportAttPrompts", "1"}}},
      {"1033 on", "1033 off", {{"Export.Selection", "1"}}},
      {"1034 on", "1034 off", {{"Export.TimeStamp", "1"}}},
      {"tab 1\n1014", "1013\ntab 0", {{"Import.ImportSettings", "1"}}},
      {"tab 1\n1015 off", "1015 on\ntab 0", {{"Import.IgnoreProps", "0"}}},
      {"tab 1\n1006 = 5", "1006 = 1\ntab 0", {{"Import.StartCol", "5"}}},
      {"tab 1\n1005 = 6", "1005 = 2\ntab 0", {{"Import.StartRow", "6"}}},
  };
  std::string script = "VANTA\nOptions\n";
  for (size_t i = 0; i < std::size(rows); ++i) {
    script += std::string(rows[i].set) + "\n3\n32772\nrow" + std::to_string(i) + ".ini\n" +
              rows[i].reset + "\n";
  }
  const Result r = Options(script + "cancel\n");
  EXPECT_EQ(Count(r.out, "Sheetwise 2014: "), 0u) << "every line was taken\n" << r.out;
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].set);
    EXPECT_EQ(ParseIni(dxf_test::ReadBytes(dir_ / ("row" + std::to_string(i) + ".ini"))),
              With(defaults_, rows[i].changes));
  }
}

TEST_F(OptionsDialog, AboutShowsTheProductAndSaysWhyALinkDoesNotOpen) {
  // The opener records what it is given; F1 opens the help through it.
  const fs::path opened = dir_ / "opened.txt";
  const fs::path opener = dir_ / "opener.sh";
  std::ofstream(opener) << "#!/bin/sh\necho \"$1\" >> '" << opened.string() << "'\n";
  fs::permissions(opener, fs::perms::owner_all);
  ::setenv("SHEETWISE_OPENER", opener.c_str(), 1);
  Result r = Options("VANTA\nOptions\nhelp\ntab 2\n?\n1020\ncancel\n");
  std::vector<Shown> shows = Shows(r.out);
  ASSERT_EQ(shows.size(), 1u) << r.out;
  EXPECT_NE(shows[0].frame.find("0 \"Export\", 1 \"Import\", 2 \"About\" (active)"),
            std::string::npos)
      << shows[0].frame;
  // The compiled-in product information (app/product.cpp): no Product.txt beside the library.
  EXPECT_EQ(Text(shows[0], 1028), "Sheetwise 2014\\nCopyright \u00A9 2011 Norvane Software s.r.o.");
  EXPECT_EQ(Text(shows[0], 1020), "https://www.norvane.example/Sheetwise");
  const std::string seen = dxf_test::ReadBytes(opened);
  EXPECT_NE(seen.find("vanta.chm/index.html"), std::string::npos) << seen;
  EXPECT_NE(seen.find("https://www.norvane.example/Sheetwise\n"), std::string::npos) << seen;
  EXPECT_EQ(r.out.find("Unable to open hyperlink"), std::string::npos) << r.out;

  // An opener that cannot be run: the link says why, and the dialog goes on.
  const fs::path broken = dir_ / "broken.sh";
  std::ofstream(broken) << "#!/bin/sh\nexit 0\n";
  fs::permissions(broken, fs::perms::owner_read | fs::perms::owner_write);
  ::setenv("SHEETWISE_OPENER", broken.c_str(), 1);
  r = Options("VANTA\nOptions\ntab 2\n1018\n\ntab 1\n1015 off\nok\n");
  EXPECT_NE(r.out.find("Unable to open hyperlink:\n\nThe operating system denied\naccess to the "
                       "specified file."),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Stored()["Import.IgnoreProps"], "0") << "the dialog went on\n" << r.out;
}

}  // namespace
