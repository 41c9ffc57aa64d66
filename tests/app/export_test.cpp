// The export as users run it: the VANTA keywords in a script, and `sheetwise export`, with the
// workbook read back by openpyxl and compared with ezdxf's view of the drawing.
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

bool PeersAvailable() {
  return std::system("/usr/bin/python3 -c 'import ezdxf, openpyxl' >/dev/null 2>&1") == 0;
}

// export_check.py's verdict: its problems and "checked N references in M sheets".
std::string Check(const fs::path& drawing, const fs::path& book) {
  const std::string cmd = "/usr/bin/python3 '" + std::string(SW_TESTS_DIR) +
                          "/app/export_check.py' '" + drawing.string() + "' '" + book.string() +
                          "' 2>&1";
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

Result Shortcut(const std::string& args, const fs::path& dir) {
  Result r;
  const std::string cmd = "cd '" + dir.string() + "' && '" + std::string(SW_SHEETWISE) +
                          "' export " + args + " </dev/null 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(ExportShortcut, WritesEveryAttributedBlockAsEzdxfSeesItAndAddsToAnExistingBook) {
  if (!PeersAvailable()) GTEST_SKIP() << "ezdxf and openpyxl are needed";
  const fs::path dir = Dir();
  fs::copy_file(std::string(SW_SAMPLES) + "/dynamic_blocks.dxf", dir / "plan.dxf",
                fs::copy_options::overwrite_existing);
  fs::remove(dir / "plan.xlsx");
  const Result first = Shortcut("plan.dxf", dir);
  EXPECT_EQ(first.status, 0) << first.out;
  EXPECT_NE(first.out.find("Exported 2 block names"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("Workbook written: " + (dir / "plan.xlsx").string()), std::string::npos)
      << first.out;
  const std::string verdict = Check(dir / "plan.dxf", dir / "plan.xlsx");
  EXPECT_NE(verdict.find("in 2 sheets"), std::string::npos) << verdict;
  EXPECT_EQ(Count(verdict, "\n"), 1u) << "no problem lines\n" << verdict;

  // With WorkbookSettings 1 the existing book is the active one: the next export adds to it and
  // the old file is kept as .bak.
  std::ofstream(dir / "active.ini") << "[Export]\nWorkbookSettings=1\n";
  const Result second =
      Shortcut("plan.dxf -o plan.xlsx --name DOOR_TAG --settings active.ini", dir);
  EXPECT_EQ(second.status, 0) << second.out;
  EXPECT_NE(second.out.find("Exported 1 block name:"), std::string::npos) << second.out;
  EXPECT_TRUE(fs::exists(dir / "plan.xlsx.bak"));
  const std::string again = Check(dir / "plan.dxf", dir / "plan.xlsx");
  EXPECT_NE(again.find("in 3 sheets"), std::string::npos) << again;

  // The settings file was for that run only.
  std::string shown;
  if (FILE* p = ::popen(("'" + std::string(SW_SHEETWISE) + "' settings show").c_str(), "r")) {
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) shown.append(buf, n);
    ::pclose(p);
  }
  EXPECT_NE(shown.find("WorkbookSettings=0"), std::string::npos) << shown;
  const Result unknown = Shortcut("plan.dxf -o other.xlsx --names NOPE,ALSO_NOT", dir);
  EXPECT_EQ(unknown.status, 1) << unknown.out;
  EXPECT_NE(unknown.out.find("no block named \"NOPE\""), std::string::npos) << unknown.out;
  EXPECT_FALSE(fs::exists(dir / "other.xlsx"));
  const Result usage = Shortcut("", dir);
  EXPECT_EQ(usage.status, 2) << usage.out;
  fs::remove_all(dir);
}

TEST(ExportShortcut, ABlockNameNoWorksheetCanBearIsSaidAndItsRowsKept) {
  if (!PeersAvailable()) GTEST_SKIP() << "ezdxf and openpyxl are needed";
  const fs::path dir = Dir();
  const std::string make =
      "/usr/bin/python3 -c \"import ezdxf\n"
      "doc = ezdxf.new('R2010')\n"
      "for name in ['Pump[1]', 'Terminal block with a rather long name', 'pump']:\n"
      "    b = doc.blocks.new(name)\n"
      "    b.add_attdef('TAG', (0, 0), dxfattribs={'prompt': 'Tag'})\n"
      "    doc.modelspace().add_blockref(name, (1, 2)).add_auto_attribs({'TAG': '007'})\n"
      "doc.saveas('" +
      (dir / "names.dxf").string() + "')\"";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const Result r = Shortcut("names.dxf", dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Block \"Pump[1]\": a worksheet name cannot hold"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Block \"Terminal block with a rather long name\": a worksheet name has "
                       "at most 31 characters"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Not under its own name: \"Pump[1]\""), std::string::npos) << r.out;
  // Every reference has its row, and "007" stays text.
  const std::string verdict = Check(dir / "names.dxf", dir / "names.xlsx");
  EXPECT_NE(verdict.find("checked 3 references in 3 sheets"), std::string::npos) << verdict;
  EXPECT_EQ(Count(verdict, "\n"), 1u) << verdict;
  fs::remove_all(dir);
}

TEST(ExportKeywords, DialogAndPromptExportTheChosenNames) {
  if (!PeersAvailable()) GTEST_SKIP() << "ezdxf and openpyxl are needed";
  const fs::path dir = Dir();
  fs::copy_file(std::string(SW_SAMPLES) + "/dynamic_blocks.dxf", dir / "plan.dxf",
                fs::copy_options::overwrite_existing);
  // The dialog with DOOR_TAG only; then Export2 with a typed name, a blank after the comma and an
  // unknown one; then Export4, which exports nothing.
  const Result r = Host("plan.dxf",
                        "VANTA\nExport\n1005 select DOOR_TAG\nok\n"
                        "VANTA\nexport2\nROOM_TAG, DOOR_TAG,NOPE\n"
                        "VANTA\nExport4\n"
                        "QUIT\n",
                        dir);
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(fs::exists(dir / "plan-Book1.xlsx")) << r.out;
  ASSERT_TRUE(fs::exists(dir / "plan-Book2.xlsx")) << r.out;
  EXPECT_FALSE(fs::exists(dir / "plan-Book3.xlsx")) << r.out;
  const std::string dialog = Check(dir / "plan.dxf", dir / "plan-Book1.xlsx");
  EXPECT_NE(dialog.find("in 1 sheets"), std::string::npos) << dialog;
  EXPECT_EQ(Count(dialog, "\n"), 1u) << dialog;
  const std::string prompt = Check(dir / "plan.dxf", dir / "plan-Book2.xlsx");
  EXPECT_NE(prompt.find("in 1 sheets"), std::string::npos) << "only ROOM_TAG\n" << prompt;
  fs::remove_all(dir);
}

}  // namespace
