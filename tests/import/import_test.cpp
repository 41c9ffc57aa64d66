// The import as users run it: a drawing's workbook written in the export's layout by an
// independent writer (openpyxl, import_probe.py), edited there, imported with `sheetwise import`
// (or the VANTA Import keyword in a host script), and the saved drawing read back by ezdxf
// (tests/cmd/writeback_probe.py): exactly the edited attributes and properties changed, every
// other record of the file is as it was, and ezdxf's audit finds nothing new.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/dxf/dxf_test_support.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSource = fs::path(__FILE__).parent_path().parent_path().parent_path();
const std::string kPython = "/usr/bin/python3 ";

std::string Q(const fs::path& p) {
  return "'" + p.string() + "'";
}

struct Outcome {
  int status = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

Outcome Sheetwise(const std::string& args, const fs::path& dir) {
  Outcome r;
  const fs::path err = dir / "stderr.txt";
  r.status = dxf_test::Run(
      "cd " + Q(dir) + " && " + Q(SW_SHEETWISE) + " " + args + " 2>" + Q(err) + " </dev/null",
      &r.out);
  r.err = dxf_test::ReadBytes(err);
  return r;
}

// A data row of the workbook the probe wrote: sheet, row, handle, and tag -> column letter.
struct DataRow {
  std::string sheet;
  int row = 0;
  std::string handle;
  std::map<std::string, std::string> columns;
};

std::vector<DataRow> Export(const fs::path& drawing, const fs::path& book,
                            const std::string& flags = "") {
  std::string out;
  EXPECT_EQ(dxf_test::Run(kPython + Q(kSource / "tests/import/import_probe.py") + " export " +
                              Q(drawing) + " " + Q(book) + " " + flags,
                          &out),
            0);
  std::vector<DataRow> rows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    DataRow r;
    std::string row, columns;
    std::getline(fields, r.sheet, '\t');
    std::getline(fields, row, '\t');
    std::getline(fields, r.handle, '\t');
    std::getline(fields, columns);
    r.row = std::stoi(row);
    std::istringstream pairs(columns);
    for (std::string pair; pairs >> pair;)
      r.columns[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
    rows.push_back(r);
  }
  return rows;
}

// A word for the shell, whatever quotes it holds.
std::string Quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// `assignments`: CELL=KIND:VALUE words separated by blanks (see import_probe.py edit).
void Edit(const fs::path& book, const std::string& sheet, const std::string& assignments) {
  std::string words;
  std::istringstream in(assignments);
  for (std::string word; in >> word;) words += " " + Quoted(word);
  ASSERT_EQ(dxf_test::Run(kPython + Q(kSource / "tests/import/import_probe.py") + " edit " +
                          Q(book) + " " + Quoted(sheet) + words),
            0);
}

// writeback_probe.py's answer as a map.
std::map<std::string, std::string> Probe(const fs::path& before, const fs::path& after,
                                         const std::string& handles = "") {
  std::string out;
  EXPECT_EQ(dxf_test::Run(kPython + Q(kSource / "tests/cmd/writeback_probe.py") + " " + Q(before) +
                              " " + Q(after) + " " + handles,
                          &out),
            0);
  std::map<std::string, std::string> values;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) values[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return values;
}

// The attribute handle of `tag` on block reference `handle`, from a probe of it.
std::string AttribOf(std::map<std::string, std::string>& probe, const std::string& handle,
                     const std::string& tag) {
  std::istringstream attribs(probe[handle + ".attribs"]);
  for (std::string a; std::getline(attribs, a, ',');)
    if (probe[a + ".tag"] == tag) return a;
  return "";
}

std::string Sorted(std::vector<std::string> items) {
  std::sort(items.begin(), items.end());
  std::string out;
  for (const std::string& i : items) out += (out.empty() ? "" : " ") + i;
  return out;
}

class Import : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!dxf_test::HaveEzdxf() ||
        dxf_test::Run(kPython + "-c 'import openpyxl' >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "needs ezdxf and openpyxl for /usr/bin/python3";
  }
  // A copy of a sample drawing in the test's folder, with its pristine copy beside it.
  fs::path Drawing(const fs::path& source, const std::string& name = "d.dxf") {
    fs::copy_file(source, dir_.path() / name, fs::copy_options::overwrite_existing);
    fs::copy_file(source, dir_.path() / ("orig-" + name), fs::copy_options::overwrite_existing);
    return dir_.path() / name;
  }
  fs::path Generated(const std::string& args, const std::string& name) {
    const fs::path tool = fs::path(SW_SHARED_DIR) / "tools" / "gen_drawing.py";
    if (!fs::exists(tool)) return {};
    const fs::path out = dir_.path() / ("gen-" + name);
    EXPECT_EQ(dxf_test::Run(kPython + Q(tool) + " " + Q(out) + " " + args + " >/dev/null"), 0);
    return Drawing(out, name);
  }
  fs::path Settings(const std::string& import_lines) {
    const fs::path file = dir_.path() / "s.ini";
    std::ofstream(file) << "[Import]\n" << import_lines;
    return file;
  }
  const fs::path& dir() const { return dir_.path(); }

  dxf_test::TempDir dir_;
};

const fs::path kSample = dxf_test::SamplesDir() / "attributes_r2010.dxf";

TEST_F(Import, EditedAttributeCellsChangeExactlyThoseAttributes) {
  const fs::path drawing = Drawing(kSample);
  const fs::path book = dir() / "b.xlsx";
  std::vector<DataRow> rows = Export(drawing, book);
  ASSERT_EQ(rows.size(), 5u);
  const DataRow& second = rows[1];
  const DataRow& fourth = rows[3];
  // Two attribute cells, and position, rotation and layer cells that the default IgnoreProps
  // leaves alone; an unchanged row re-typed as the same text changes nothing.
  Edit(book, second.sheet,
       second.columns.at("NUMBER") + std::to_string(second.row) + "=s:P-100 " +
           fourth.columns.at("MAKER") + std::to_string(fourth.row) + "=s:Zenith " + "D" +
           std::to_string(second.row) + "=s:999 G" + std::to_string(second.row) + "=s:90 K" +
           std::to_string(second.row) + "=s:Defpoints " + second.columns.at("MAKER") +
           std::to_string(rows[2].row) + "=s:ACME");
  const Outcome r = Sheetwise("import d.dxf b.xlsx", dir());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("2 drawing objects updated: 2 attributes, 0 positions, 0 scales, "
                       "0 rotations, 0 layers written."),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Drawing written: "), std::string::npos) << r.out;
  EXPECT_TRUE(dxf_test::ReadBytes(dir() / "d.dxf.bak") == dxf_test::ReadBytes(dir() / "orig-d.dxf"))
      << "the old drawing is kept as .bak";

  auto probe = Probe(dir() / "orig-d.dxf", drawing, second.handle + " " + fourth.handle);
  const std::string number = AttribOf(probe, second.handle, "NUMBER");
  const std::string maker = AttribOf(probe, fourth.handle, "MAKER");
  EXPECT_EQ(probe[number + ".text"], "P-100");
  EXPECT_EQ(probe[maker + ".text"], "Zenith");
  EXPECT_EQ(probe["changed"], Sorted({number, maker})) << "nothing else in the file changed";
  EXPECT_EQ(probe["added"], "");
  EXPECT_EQ(probe["removed"], "");
  EXPECT_EQ(probe[second.handle + ".insert"], "20,0,0");
  EXPECT_EQ(probe[second.handle + ".layer"], "0");
  EXPECT_EQ(probe["audit_after"], probe["audit_before"]);

  // Importing the same workbook again finds nothing to change and writes nothing.
  const std::string saved = dxf_test::ReadBytes(drawing);
  const Outcome again = Sheetwise("import d.dxf b.xlsx", dir());
  ASSERT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("0 drawing objects updated"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("Nothing changed"), std::string::npos) << again.out;
  EXPECT_TRUE(dxf_test::ReadBytes(drawing) == saved);
}

TEST_F(Import, PropertiesMoveRotateAndChangeLayerWhenNotIgnored) {
  const fs::path drawing = Drawing(kSample);
  const fs::path book = dir() / "b.xlsx";
  std::vector<DataRow> rows = Export(drawing, book);
  ASSERT_EQ(rows.size(), 5u);
  const std::string r1 = std::to_string(rows[0].row), r2 = std::to_string(rows[1].row),
                    r3 = std::to_string(rows[2].row), r4 = std::to_string(rows[3].row),
                    r5 = std::to_string(rows[4].row);
  // Row 1: moved X and Y as texts, Z untouched; rotation 90 as a number cell; a new layer.
  // Row 2: X empty (keeps its X), Y moved. Row 3: a date in X and a logical in the rotation:
  // nothing of it moves. Row 4: a layer the drawing lacks; scale 2 as a number in all three.
  // Row 5: rotation typed in degrees and minutes, which the host reads in a decimal-degrees
  // drawing too. Row 2 also has a rotation that is no angle: its rotation stays.
  Edit(book, rows[0].sheet,
       "D" + r1 + "=s:5.5 E" + r1 + "=s:-7 G" + r1 + "=n:90 K" + r1 + "=s:defpoints " + "D" + r2 +
           "=x: E" + r2 + "=s:12.25 G" + r2 + "=s:ninety D" + r3 + "=d:2024-01-02 G" + r3 +
           "=b:1 " + "K" + r4 + "=s:NoSuchLayer H" + r4 + "=n:2 I" + r4 + "=n:2 J" + r4 + "=n:2 " +
           "G" + r5 + "=s:45d30'");
  const fs::path settings = Settings("IgnoreProps=0\n");
  const Outcome r = Sheetwise("import d.dxf b.xlsx --settings " + Q(settings), dir());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("4 drawing objects updated: 0 attributes, 2 positions, 1 scale, "
                       "2 rotations, 1 layer written."),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("row " + r3 + " column D (\"X\"): the cell is a date"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("row " + r3 + " column G (\"Rotation\"): the cell is a logical"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("no layer \"NoSuchLayer\""), std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find("row " + r2 + " column G (\"Rotation\"): the cell \"ninety\" is not an angle"),
      std::string::npos)
      << r.out;

  const std::string handles = rows[0].handle + " " + rows[1].handle + " " + rows[2].handle + " " +
                              rows[3].handle + " " + rows[4].handle;
  auto probe = Probe(dir() / "orig-d.dxf", drawing, handles);
  EXPECT_EQ(probe[rows[0].handle + ".insert"], "5.5,-7,0");
  EXPECT_EQ(probe[rows[0].handle + ".rotation"], "90");
  EXPECT_EQ(probe[rows[0].handle + ".layer"], "Defpoints");
  EXPECT_EQ(probe[rows[1].handle + ".insert"], "20,12.25,0") << "an empty X keeps its X";
  EXPECT_EQ(probe[rows[2].handle + ".insert"], "40,0,0");
  EXPECT_EQ(probe[rows[2].handle + ".rotation"], "0");
  EXPECT_EQ(probe[rows[3].handle + ".layer"], "0");
  EXPECT_EQ(probe[rows[3].handle + ".scale"], "2,2,2");
  EXPECT_EQ(probe[rows[4].handle + ".rotation"], "45.5");
  EXPECT_EQ(probe[rows[1].handle + ".rotation"], "0");
  // The moved, turned and scaled references, and their attributes placed again from their
  // definitions; nothing of the untouched ones.
  std::vector<std::string> changed = {rows[0].handle, rows[1].handle, rows[3].handle,
                                      rows[4].handle};
  for (const DataRow* row : {&rows[0], &rows[1], &rows[3], &rows[4]}) {
    std::istringstream attribs(probe[row->handle + ".attribs"]);
    for (std::string a; std::getline(attribs, a, ',');) {
      changed.push_back(a);
      EXPECT_EQ(probe[a + ".placed"], "ok") << a;
    }
  }
  EXPECT_EQ(probe["changed"], Sorted(changed));
  EXPECT_EQ(probe["audit_after"], probe["audit_before"]);
}

TEST_F(Import, UnknownHandlesMovedRowsAndTwoTablesOnOneSheet) {
  const fs::path drawing = Generated("--refs 60 --seed 7 --lf", "g.dxf");
  if (drawing.empty()) GTEST_SKIP() << "the shared folder's gen_drawing.py is absent";
  const fs::path book = dir() / "b.xlsx";
  // Every block's table on one sheet, one below the other, each under its own header row.
  std::vector<DataRow> rows = Export(drawing, book, "--one-sheet");
  ASSERT_FALSE(rows.empty());
  const DataRow& first = rows.front();
  const DataRow* mover = nullptr;  // the first row of the last table
  for (const DataRow& r : rows)
    if (r.columns == rows.back().columns && mover == nullptr) mover = &r;
  ASSERT_TRUE(mover != nullptr && mover->columns != first.columns && !mover->columns.empty());
  const std::string first_tag = first.columns.begin()->first;
  const std::string mover_tag = mover->columns.rbegin()->first;
  // The last table's first row moves 200 rows further down (still under its table's header)
  // and is edited there; a first-table row is edited in place; a row with an unknown handle and
  // one with the handle of a line are added below the tables.
  std::string line;
  ASSERT_EQ(dxf_test::Run(kPython + Q(kSource / "tests/import/import_probe.py") + " handle " +
                              Q(drawing) + " LINE",
                          &line),
            0);
  line = line.substr(0, line.find('\n'));
  ASSERT_FALSE(line.empty());
  const int last = rows.back().row;
  const std::string moved = std::to_string(last + 200);
  ASSERT_EQ(dxf_test::Run(kPython + Q(kSource / "tests/import/import_probe.py") + " moverow " +
                          Q(book) + " All " + std::to_string(mover->row) + " " + moved),
            0);
  Edit(book, "All",
       first.columns.at(first_tag) + std::to_string(first.row) + "=s:first-value " +
           mover->columns.at(mover_tag) + moved + "=s:moved-value A" + std::to_string(last + 2) +
           "=c:FFFFFF A" + std::to_string(last + 3) + "=c:" + line);
  const Outcome r = Sheetwise("import g.dxf b.xlsx", dir());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Read " + std::to_string(rows.size() + 2) + " data rows on 1 worksheet."),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Rows skipped: 1 unknown handle, 1 not a block reference."),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("row " + std::to_string(last + 2) + ": handle \"FFFFFF\" names no object"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("row " + std::to_string(last + 3) + ": handle \"" + line +
                       "\" is not a block reference"),
            std::string::npos)
      << r.out;

  auto probe = Probe(dir() / "orig-g.dxf", drawing, first.handle + " " + mover->handle);
  const std::string a = AttribOf(probe, first.handle, first_tag);
  const std::string b = AttribOf(probe, mover->handle, mover_tag);
  EXPECT_EQ(probe[a + ".text"], "first-value");
  EXPECT_EQ(probe[b + ".text"], "moved-value") << "read against its own table's header";
  EXPECT_EQ(probe["changed"], Sorted({a, b}));
  EXPECT_EQ(probe["audit_after"], probe["audit_before"]);
}

TEST_F(Import, AWorkbookSavedByLibreOfficeImportsTheSame) {
  if (dxf_test::Run("command -v soffice >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  const fs::path drawing = Drawing(kSample);
  const fs::path book = dir() / "b.xlsx";
  std::vector<DataRow> rows = Export(drawing, book);
  ASSERT_EQ(rows.size(), 5u);
  const std::string r5 = std::to_string(rows[4].row);
  Edit(book, rows[4].sheet, rows[4].columns.at("NUMBER") + r5 + "=s:LO-1 " + "D" + r5 + "=s:100");
  const fs::path lo = dir() / "lo";
  fs::create_directories(lo);
  ASSERT_EQ(dxf_test::Run(kPython + Q(kSource / "tests/import/import_probe.py") + " libreoffice " +
                          Q(book) + " " + Q(lo)),
            0);
  ASSERT_TRUE(fs::exists(lo / "b.xlsx"));
  const fs::path settings = Settings("IgnoreProps=0\n");
  const Outcome r = Sheetwise("import d.dxf lo/b.xlsx --settings " + Q(settings), dir());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Read 5 data rows on 1 worksheet."), std::string::npos) << r.out;
  auto probe = Probe(dir() / "orig-d.dxf", drawing, rows[4].handle);
  const std::string number = AttribOf(probe, rows[4].handle, "NUMBER");
  EXPECT_EQ(probe[number + ".text"], "LO-1");
  EXPECT_EQ(probe[rows[4].handle + ".insert"], "100,0,0");
  EXPECT_EQ(probe["audit_after"], probe["audit_before"]);
}

TEST_F(Import, DryRunReportsTheSameAndWritesNothingAndOutputGoesElsewhere) {
  const fs::path drawing = Drawing(kSample);
  const fs::path book = dir() / "b.xlsx";
  std::vector<DataRow> rows = Export(drawing, book);
  ASSERT_EQ(rows.size(), 5u);
  Edit(book, rows[0].sheet, rows[0].columns.at("MAKER") + std::to_string(rows[0].row) + "=s:X1");
  const std::string original = dxf_test::ReadBytes(drawing);
  const Outcome dry = Sheetwise("import d.dxf b.xlsx --dry-run", dir());
  ASSERT_EQ(dry.status, 0) << dry.out << dry.err;
  EXPECT_NE(dry.out.find("dry run: nothing was written"), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("1 drawing object would be updated: 1 attribute"), std::string::npos)
      << dry.out;
  EXPECT_TRUE(dxf_test::ReadBytes(drawing) == original);
  EXPECT_FALSE(fs::exists(dir() / "d.dxf.bak"));

  const Outcome out = Sheetwise("import d.dxf b.xlsx -o out.dxf", dir());
  ASSERT_EQ(out.status, 0) << out.out << out.err;
  EXPECT_TRUE(dxf_test::ReadBytes(drawing) == original) << "-o leaves the drawing alone";
  auto probe = Probe(drawing, dir() / "out.dxf", rows[0].handle);
  EXPECT_EQ(probe[AttribOf(probe, rows[0].handle, "MAKER") + ".text"], "X1");
}

TEST_F(Import, SheetChoiceFollowsTheCommandLineAndTheSettingsFile) {
  const fs::path drawing = Generated("--refs 30 --seed 11 --lf", "g.dxf");
  if (drawing.empty()) GTEST_SKIP() << "the shared folder's gen_drawing.py is absent";
  const fs::path book = dir() / "b.xlsx";
  std::vector<DataRow> rows = Export(drawing, book);
  std::map<std::string, int> per_sheet;
  for (const DataRow& r : rows) ++per_sheet[r.sheet];
  ASSERT_GE(per_sheet.size(), 3u);
  const std::string sheet = rows.back().sheet;
  const Outcome all = Sheetwise("import g.dxf b.xlsx --dry-run", dir());
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("Read " + std::to_string(rows.size()) + " data rows on " +
                         std::to_string(per_sheet.size()) + " worksheets"),
            std::string::npos)
      << all.out;
  const Outcome one = Sheetwise("import g.dxf b.xlsx --dry-run --sheet '" + sheet + "'", dir());
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.out.find("Read " + std::to_string(per_sheet[sheet]) + " data row"),
            std::string::npos)
      << one.out;
  // ImportSettings 0 in the settings file: the active sheet only (the first, as saved).
  const fs::path settings = Settings("ImportSettings=0\n");
  const Outcome active =
      Sheetwise("import g.dxf b.xlsx --dry-run --settings " + Q(settings), dir());
  ASSERT_EQ(active.status, 0) << active.err;
  EXPECT_NE(active.out.find("on 1 worksheet (dry run"), std::string::npos) << active.out;
  const Outcome missing = Sheetwise("import g.dxf b.xlsx --sheet NoSuchSheet", dir());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no worksheet \"NoSuchSheet\""), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir() / "g.dxf.bak"));
}

TEST_F(Import, RowsCutOffByTheStopRulesAreWarned) {
  const fs::path drawing = Generated("--refs 1300 --blocks 1 --dynamic 0 --seed 5 --lf", "g.dxf");
  if (drawing.empty()) GTEST_SKIP() << "the shared folder's gen_drawing.py is absent";
  const fs::path book = dir() / "b.xlsx";
  // An empty row above every record: the 501st of them ends the sheet near record 500.
  std::vector<DataRow> rows = Export(drawing, book, "--oddline");
  ASSERT_GT(rows.size(), 600u);
  const Outcome r = Sheetwise("import g.dxf b.xlsx --dry-run", dir());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Read 500 data rows"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("warning: Sheet \"" + rows[0].sheet +
                       "\": the import stopped at row 1002 "
                       "after 501 rows without a handle comment on this sheet; the data rows "
                       "below it (the first in row 1003) were not read"),
            std::string::npos)
      << r.out;
  // Without the empty rows every record is read and nothing is warned.
  std::vector<DataRow> plain = Export(drawing, dir() / "p.xlsx");
  const Outcome p = Sheetwise("import g.dxf p.xlsx --dry-run", dir());
  ASSERT_EQ(p.status, 0) << p.out << p.err;
  EXPECT_NE(p.out.find("Read " + std::to_string(plain.size()) + " data rows"), std::string::npos)
      << p.out;
  EXPECT_EQ(p.out.find("warning:"), std::string::npos) << p.out;
}

TEST_F(Import, BadFilesFailWithTheirNameAndWriteNothing) {
  const fs::path drawing = Drawing(kSample);
  const std::string original = dxf_test::ReadBytes(drawing);
  dxf_test::WriteBytes(dir() / "cut.xlsx", "PK\x03\x04 cut short");
  const Outcome cut = Sheetwise("import d.dxf cut.xlsx", dir());
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("cut.xlsx"), std::string::npos) << cut.err;
  const Outcome none = Sheetwise("import d.dxf missing.xlsx", dir());
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("missing.xlsx: no such file"), std::string::npos) << none.err;
  const fs::path book = dir() / "b.xlsx";
  Export(drawing, book);
  dxf_test::WriteBytes(dir() / "bad.dxf", "0\nSECTION\n2\nENTITIES\n0\nLINE\n");
  const Outcome bad = Sheetwise("import bad.dxf b.xlsx", dir());
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("bad.dxf"), std::string::npos) << bad.out << bad.err;
  Edit(book, "TAG", "B2=s:changed");
  const Outcome unwritable = Sheetwise("import d.dxf b.xlsx -o no/such/folder/out.dxf", dir());
  EXPECT_EQ(unwritable.status, 1) << unwritable.out;
  EXPECT_NE(unwritable.err.find("out.dxf"), std::string::npos) << unwritable.err;
  const fs::path settings = Settings("StartRow=0\n");
  const Outcome zero = Sheetwise("import d.dxf b.xlsx --settings " + Q(settings), dir());
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("start row and start column must be 1 or more"), std::string::npos)
      << zero.err;
  EXPECT_TRUE(dxf_test::ReadBytes(drawing) == original);
  EXPECT_FALSE(fs::exists(dir() / "d.dxf.bak"));
  EXPECT_EQ(Sheetwise("import d.dxf", dir()).status, 2);
  EXPECT_EQ(Sheetwise("import d.dxf b.xlsx --bogus", dir()).status, 2);
}

TEST_F(Import, TheImportKeywordReadsTheActiveSheetInTheHost) {
  const fs::path drawing = Drawing(kSample);
  const fs::path book = dir() / "b.xlsx";
  std::vector<DataRow> rows = Export(drawing, book);
  Edit(book, rows[2].sheet, rows[2].columns.at("NUMBER") + std::to_string(rows[2].row) + "=n:42");
  std::ofstream(dir() / "run.scr") << "VANTA\nImport\nQSAVE\nQUIT\n";
  const Outcome r = Sheetwise("d.dxf -w b.xlsx -s run.scr", dir());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  auto probe = Probe(dir() / "orig-d.dxf", drawing, rows[2].handle);
  const std::string number = AttribOf(probe, rows[2].handle, "NUMBER");
  EXPECT_EQ(probe[number + ".text"], "42") << "a number cell as the platform writes it as text";
  EXPECT_EQ(probe["changed"], number);
}

}  // namespace
