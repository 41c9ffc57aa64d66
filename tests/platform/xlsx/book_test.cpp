// Tests of the editable workbook: corpus files read, changed and saved (every other part byte for
// byte), new workbooks, styles, sheets and formulas, checked with an independent reader
// (openpyxl 3.0.9 through openpyxl_dump.py, skipped when /usr/bin/python3 has no openpyxl).
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/xlsx/book.h"
#include "platform/xlsx/book_internal.h"
#include "platform/xlsx/comments.h"
#include "platform/xlsx/package.h"
#include "tests/platform/xlsx/xlsx_test_support.h"

namespace sheetwise::xlsx {
namespace {

using xlsxtest::MakeZip;
using xlsxtest::ReadFile;

namespace fs = std::filesystem;
const fs::path kCorpus = fs::path(SW_SHARED_DIR) / "corpus" / "xlsx";
const fs::path kDump = fs::path(__FILE__).parent_path() / "openpyxl_dump.py";

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  ::pclose(p);
  return out;
}

bool HaveSoffice() {
  static const bool have = std::system("command -v soffice >/dev/null 2>&1") == 0;
  return have;
}

// The "comments N" of every "count SHEET: cells C comments N" line of openpyxl_dump.py.
std::vector<std::string> CommentCounts(const std::string& dump) {
  std::vector<std::string> out;
  for (std::size_t at = dump.find("count "); at != std::string::npos;
       at = dump.find("count ", at + 1)) {
    const std::size_t end = dump.find('\n', at);
    const std::string line = dump.substr(at, end - at);
    out.push_back(line.substr(0, line.find(':')) + line.substr(line.find(" comments")));
  }
  return out;
}

bool HaveOpenpyxl() {
  static const bool have =
      std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") == 0;
  return have;
}

std::string Openpyxl(const fs::path& book, const std::vector<std::string>& cells = {}) {
  std::string cmd = "/usr/bin/python3 '" + kDump.string() + "' '" + book.string() + "'";
  for (const std::string& c : cells) cmd += " '" + c + "'";
  return RunCommand(cmd + " 2>&1");
}

fs::path TempDir() {
  fs::path dir =
      fs::temp_directory_path() / ("sw_book_test_" + std::to_string(::getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::create_directories(dir);
  return dir;
}

std::map<std::string, std::string> Parts(std::string_view bytes) {
  PackageResult pkg = Package::OpenFromMemory(bytes, "saved");
  EXPECT_TRUE(pkg) << (pkg.error ? pkg.error->ToString() : "");
  std::map<std::string, std::string> out;
  if (pkg)
    for (const Part& p : pkg.package->parts()) out[p.name] = p.bytes;
  return out;
}

TEST(Book, CorpusWorkbooksSurviveAOneCellChange) {
  if (!fs::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  const fs::path dir = TempDir();
  int checked = 0;
  std::vector<std::pair<fs::path, std::string>> for_libreoffice;  // file, sheet
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".xlsx") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string original = ReadFile(entry.path());
    BookResult opened = Book::OpenFromMemory(original, entry.path().filename().string());
    ASSERT_TRUE(opened) << opened.error->ToString();
    Book& book = *opened.book;
    // Unchanged: every part comes back as it was.
    const auto before = Parts(original);
    EXPECT_EQ(Parts(book.Serialize()), before);

    std::size_t index = 0;
    while (book.sheet(index).kind() != SheetKind::kWorksheet) ++index;
    Sheet& sheet = book.sheet(index);
    // Below the last row (outside merged areas); Gnumeric writes styled blank cells down to the
    // sheet's end, so there the first empty cell of column B.
    std::uint32_t row = sheet.max_row() < kMaxRow ? sheet.max_row() + 1 : 1;
    const std::uint32_t col = 2;
    while (sheet.Value(row, col).kind != ValueKind::kEmpty) ++row;
    sheet.SetText(row, col, "Sheetwise \xE2\x9C\x93 <&>");
    EXPECT_TRUE(book.modified());
    const fs::path saved = dir / entry.path().filename();
    ASSERT_FALSE(book.Save(saved).has_value());
    EXPECT_FALSE(book.modified());

    // Only the sheet, the shared strings, the workbook (recalculation) and the content types
    // and relationships of a new shared-strings part may differ.
    const auto after = Parts(ReadFile(saved));
    for (const auto& [name, bytes] : before) {
      if (name == sheet.data().part || name.find("sharedStrings") != std::string::npos ||
          name == book.impl().workbook_part || name == "[Content_Types].xml" ||
          name.ends_with(".rels"))
        continue;
      ASSERT_TRUE(after.count(name)) << name;
      EXPECT_TRUE(after.at(name) == bytes) << name << " changed";
    }
    BookResult again = Book::Open(saved);
    ASSERT_TRUE(again) << again.error->ToString();
    EXPECT_EQ(again.book->sheet(index).Value(row, col).text, "Sheetwise \xE2\x9C\x93 <&>");
    EXPECT_EQ(again.book->sheet_count(), book.sheet_count());
    for (std::size_t s = 0; s < book.sheet_count(); ++s) {
      if (book.sheet(s).kind() != SheetKind::kWorksheet) continue;
      EXPECT_EQ(again.book->sheet(s).CellPositions().size() - (s == index ? 1 : 0),
                opened.book->sheet(s).CellPositions().size() - (s == index ? 1 : 0));
    }
    if (HaveOpenpyxl() && entry.path().filename() != "excel16_aaa.xlsx") {
      // openpyxl 3.0.9 cannot read excel16_aaa.xlsx at all (MANIFEST), before or after.
      std::string out = Openpyxl(saved, {sheet.name() + "!" + FormatCellRef(row, col)});
      EXPECT_NE(out.find("value=str:Sheetwise \xE2\x9C\x93 <&>"), std::string::npos) << out;
      const std::string before_counts = Openpyxl(entry.path());
      // Same sheets, and the same comments on every sheet.
      EXPECT_EQ(out.substr(0, out.find("count")),
                before_counts.substr(0, before_counts.find("count")));
      EXPECT_EQ(CommentCounts(out), CommentCounts(before_counts));
    }
    for_libreoffice.emplace_back(saved, sheet.name());
    ++checked;
  }
  EXPECT_GE(checked, 10);
  if (HaveSoffice()) {
    // LibreOffice opens every saved workbook and shows the new text on its sheet: each sheet
    // goes to its own CSV file (sheet -1), named after the workbook and the sheet.
    std::string cmd =
        "cd '" + dir.string() + "' && HOME='" + dir.string() +
        "' soffice --headless --norestore --convert-to "
        "'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1'"
        " --outdir '" +
        (dir / "csv").string() + "'";
    for (const auto& [file, sheet] : for_libreoffice) cmd += " '" + file.filename().string() + "'";
    RunCommand(cmd + " >/dev/null 2>&1");
    for (const auto& [file, sheet] : for_libreoffice) {
      const fs::path csv = dir / "csv" / (file.stem().string() + "-" + sheet + ".csv");
      EXPECT_NE(ReadFile(csv).find("Sheetwise \xE2\x9C\x93 <&>"), std::string::npos)
          << csv << " (LibreOffice)";
    }
  }
  fs::remove_all(dir);
}

TEST(Book, TheRowScannerReadsWhatTheTreeReaderReads) {
  if (!fs::exists(kCorpus)) GTEST_SKIP() << "no corpus";
  int sheets = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".xlsx") continue;
    SCOPED_TRACE(entry.path().filename().string());
    g_tree_reader_only = true;
    BookResult tree = Book::Open(entry.path());
    g_tree_reader_only = false;
    BookResult fast = Book::Open(entry.path());
    ASSERT_TRUE(tree && fast);
    for (std::size_t i = 0; i < tree.book->sheet_count(); ++i) {
      const Sheet& a = tree.book->sheet(i);
      const Sheet& b = fast.book->sheet(i);
      const auto cells = a.CellPositions();
      ASSERT_EQ(cells, b.CellPositions()) << a.name();
      for (auto [r, c] : cells) {
        ASSERT_TRUE(a.Value(r, c) == b.Value(r, c)) << a.name() << " " << FormatCellRef(r, c);
        ASSERT_EQ(a.Formula(r, c), b.Formula(r, c));
        ASSERT_EQ(a.StyleOf(r, c), b.StyleOf(r, c));
        ASSERT_EQ(a.data().FindCell(r, c)->raw_len, b.data().FindCell(r, c)->raw_len);
      }
      ASSERT_EQ(a.data().columns.size(), b.data().columns.size());
      ++sheets;
    }
    // Both write the same file after the same change.
    tree.book->sheet(0).SetText(1, 1, "x");
    fast.book->sheet(0).SetText(1, 1, "x");
    EXPECT_TRUE(tree.book->Serialize() == fast.book->Serialize());
  }
  EXPECT_GT(sheets, 30);
  // Damaged rows: the scanner gives way and the tree reader names the problem.
  std::unique_ptr<Book> made = Book::New("S");
  made->sheet(0).SetNumber(2, 2, 1);
  std::string bytes = made->Serialize();
  PackageResult pkg = Package::OpenFromMemory(bytes, "made");
  ASSERT_TRUE(pkg);
  std::string sheet_xml = pkg.package->FindPart("xl/worksheets/sheet1.xml")->bytes;
  ASSERT_NE(sheet_xml.find("<v>1</v>"), std::string::npos);
  sheet_xml.replace(sheet_xml.find("<v>1</v>"), 8, "<v>1x</v>");
  std::vector<std::pair<std::string, std::string>> parts;
  for (const Part& p : pkg.package->parts())
    parts.emplace_back(p.name, p.name == "xl/worksheets/sheet1.xml" ? sheet_xml : p.bytes);
  BookResult broken = Book::OpenFromMemory(MakeZip(parts), "broken.xlsx");
  ASSERT_FALSE(broken);
  EXPECT_NE(broken.error->ToString().find("xl/worksheets/sheet1.xml"), std::string::npos);
  EXPECT_NE(broken.error->ToString().find("bad number '1x' in cell B2"), std::string::npos)
      << broken.error->ToString();
}

// Worksheet parts the fuzzer found (xlsx_sheet_fuzz): each either reads and writes back, or is
// refused; none may crash.
TEST(Book, FuzzerFoundSheetsAreReadOrRefused) {
  const fs::path dir = fs::path(__FILE__).parent_path() / "regressions";
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    std::unique_ptr<Book> made = Book::New("S");
    PackageResult pkg = Package::OpenFromMemory(made->Serialize(), "made");
    ASSERT_TRUE(pkg);
    std::vector<std::pair<std::string, std::string>> parts;
    for (const Part& p : pkg.package->parts())
      parts.emplace_back(p.name,
                         p.name == "xl/worksheets/sheet1.xml" ? ReadFile(entry.path()) : p.bytes);
    BookResult book = Book::OpenFromMemory(MakeZip(parts), "found.xlsx");
    if (book) {
      // Read: then every cell comes back from a save with its value.
      const Sheet& sheet = book.book->sheet(0);
      const auto cells = sheet.CellPositions();
      book.book->sheet(0).SetText(2, 3, "x");
      BookResult again = Book::OpenFromMemory(book.book->Serialize(), "again");
      ASSERT_TRUE(again);
      for (auto [r, c] : cells) {
        if (r != 2 || c != 3) {
          EXPECT_TRUE(sheet.Value(r, c) == again.book->sheet(0).Value(r, c));
        }
      }
    } else {
      EXPECT_NE(book.error->ToString().find("xl/worksheets/sheet1.xml"), std::string::npos);
    }
    ++files;
  }
  EXPECT_GE(files, 1);
}

TEST(Book, TranslatesRelativeReferencesOnly) {
  struct Case {
    const char* formula;
    int drow, dcol;
    const char* expected;
  } cases[] = {
      {"A1+B2", 1, 1, "B2+C3"},
      {"$A$1+A$1+$A1", 2, 3, "$A$1+D$1+$A3"},
      {"SUM(A1:A10)*LOG10(B1)", 1, 0, "SUM(A2:A11)*LOG10(B2)"},
      {"\"A1\"&A1", 0, 1, "\"A1\"&B1"},
      {"'My A1'!A1+Sheet2!B2", 1, 0, "'My A1'!A2+Sheet2!B3"},
      {"A1-1", -1, 0, "#REF!-1"},
      {"XFD1+A1048576", 0, 1, "#REF!+B1048576"},
      {"Table1[Col1]+A1", 1, 0, "Table1[Col1]+A2"},
      {"_xlfn.CONCAT(A1)", 1, 0, "_xlfn.CONCAT(A2)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TranslateFormula(c.formula, c.drow, c.dcol), c.expected) << c.formula;
}

TEST(Book, NewWorkbookWithStylesSheetsAndCommentsReadsBackInOpenpyxl) {
  const fs::path dir = TempDir();
  std::unique_ptr<Book> book = Book::New("Sheet1");
  Sheet& s1 = book->sheet(0);
  s1.SetText(1, 1, "Block name");
  s1.SetText(1, 2, " TAG ");
  s1.SetNumber(2, 2, 7);
  s1.SetBool(3, 2, true);
  s1.SetError(4, 2, "#N/A");
  s1.SetText(5, 2, "line1\nline2\x01_x0041_");
  s1.SetRowStyle(1, book->StyleWithBold(s1.StyleOf(1, 1), true));
  s1.SetStyle(2, 3, book->StyleWithFormat(s1.StyleOf(2, 3), "@"));
  s1.SetText(2, 3, "007");
  s1.SetStyle(6, 2, book->StyleWithFormat(0, "0.000"));
  s1.SetNumber(6, 2, 3.14159);
  s1.SetComment(2, 1, "1F", "Sheetwise");
  s1.SetColumnWidth(2, 20.5);
  Sheet& added = book->AddSheet(0, "Before");  // placed first; the active sheet moves along
  added.SetNumber(1, 1, 1.5);
  EXPECT_EQ(book->active_sheet(), 1u);
  book->RenameSheet(1, "Data & more");
  const fs::path path = dir / "new.xlsx";
  ASSERT_FALSE(book->Save(path).has_value());

  BookResult again = Book::Open(path);
  ASSERT_TRUE(again) << again.error->ToString();
  Book& b = *again.book;
  ASSERT_EQ(b.sheet_count(), 2u);
  EXPECT_EQ(b.sheet(0).name(), "Before");
  EXPECT_EQ(b.sheet(1).name(), "Data & more");
  EXPECT_EQ(b.active_sheet(), 1u);
  const Sheet& s = b.sheet(1);
  EXPECT_EQ(s.Value(1, 2).text, " TAG ");
  EXPECT_EQ(s.Value(2, 2).number, 7);
  EXPECT_EQ(s.Value(3, 2).kind, ValueKind::kBool);
  EXPECT_EQ(s.Value(4, 2).text, "#N/A");
  EXPECT_EQ(s.Value(5, 2).text, "line1\nline2\x01_x0041_");
  EXPECT_TRUE(b.Style(s.StyleOf(1, 1)).bold);
  EXPECT_TRUE(b.Style(s.StyleOf(1, 2)).bold);
  EXPECT_EQ(b.Style(s.StyleOf(2, 3)).format_code, "@");
  EXPECT_EQ(s.ColumnWidth(2), 20.5);
  if (HaveOpenpyxl()) {
    const std::string out = Openpyxl(path, {"Data & more!B1", "Data & more!B2", "Data & more!B3",
                                            "Data & more!B4", "Data & more!B5", "Data & more!C2",
                                            "Data & more!B6", "Data & more!A2", "Before!A1"});
    EXPECT_NE(out.find("sheets: Before|Data & more"), std::string::npos) << out;
    EXPECT_NE(out.find("active: Data & more"), std::string::npos) << out;
    EXPECT_NE(out.find("B1: value=str: TAG  format=General bold=1"), std::string::npos) << out;
    EXPECT_NE(out.find("B2: value=num:7.0"), std::string::npos) << out;
    EXPECT_NE(out.find("B3: value=bool:TRUE"), std::string::npos) << out;
    EXPECT_NE(out.find("B4: value=str:#N/A"), std::string::npos) << out;
    // openpyxl leaves _xHHHH_ escapes as written; this reader decodes them as Excel does.
    EXPECT_NE(out.find("B5: value=str:line1\\nline2_x0001__x0041_"), std::string::npos) << out;
    EXPECT_NE(out.find("C2: value=str:007 format=@"), std::string::npos) << out;
    EXPECT_NE(out.find("B6: value=num:3.14159 format=0.000"), std::string::npos) << out;
    EXPECT_NE(out.find("Before!A1: value=num:1.5"), std::string::npos) << out;
  }
  fs::remove_all(dir);
}

TEST(Book, OverwritingASharedFormulaMasterKeepsTheOtherCellsFormulas) {
  const fs::path file = kCorpus / "excel16_issue_216.xlsx";
  if (!fs::exists(file)) GTEST_SKIP() << "no corpus";
  BookResult opened = Book::Open(file);
  ASSERT_TRUE(opened) << opened.error->ToString();
  Book& book = *opened.book;
  // Find a shared-formula master with followers.
  for (std::size_t si = 0; si < book.sheet_count(); ++si) {
    Sheet& sheet = book.sheet(si);
    if (sheet.kind() != SheetKind::kWorksheet) continue;
    Sheet::Data& data = sheet.data();
    for (const auto& [index, master] : data.shared) {
      std::vector<std::pair<std::uint32_t, std::uint32_t>> followers;
      data.rows.ForEach([&](std::uint32_t r, const Row& row) {
        for (const StoredCell& c : row.cells)
          if (c.shared_index == index && !c.shared_master) followers.emplace_back(r, c.col);
      });
      if (followers.empty()) continue;
      std::vector<std::string> expected;
      for (auto [r, c] : followers) expected.push_back(sheet.Formula(r, c));
      // The master's entry goes with its formula: keep where it was.
      const std::uint32_t row = master.row, col = master.col;
      sheet.SetNumber(row, col, 42);
      const std::string bytes = book.Serialize();
      BookResult again = Book::OpenFromMemory(bytes, "again");
      ASSERT_TRUE(again) << again.error->ToString();
      for (std::size_t i = 0; i < followers.size(); ++i)
        EXPECT_EQ(again.book->sheet(si).Formula(followers[i].first, followers[i].second),
                  expected[i]);
      EXPECT_EQ(again.book->sheet(si).Formula(row, col), "");
      EXPECT_EQ(again.book->sheet(si).Value(row, col).number, 42);
      return;
    }
  }
  GTEST_SKIP() << "no shared formula with followers";
}

// The notes' shapes are read only when the notes are saved: what is written is what reading
// everything at once and writing the same edits makes, on every corpus workbook with notes.
// A VML part that cannot be read does not stop the workbook from opening, only the saving of
// changed notes, which then names the part and writes nothing.
TEST(Book, NoteShapesReadWhenTheNotesAreSaved) {
  if (!fs::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".xlsx") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string original = ReadFile(entry.path());
    BookResult opened = Book::OpenFromMemory(original, "book");
    ASSERT_TRUE(opened) << opened.error->ToString();
    WorkbookResult eager = Workbook::OpenFromMemory(original, "book");
    ASSERT_TRUE(eager) << eager.error->ToString();
    for (std::size_t i = 0; i < opened.book->sheet_count(); ++i) {
      Sheet& sheet = opened.book->sheet(i);
      if (sheet.kind() != SheetKind::kWorksheet || sheet.comment_count() == 0 ||
          sheet.data().comment_parts.vml.empty())
        continue;
      CommentsResult all = ReadComments(*eager.workbook, i);
      ASSERT_FALSE(all.error) << all.error->ToString();
      ASSERT_FALSE(all.comments.empty());
      // One note changed (its box stays), one added on a new cell.
      CellComment& first = all.comments.front();
      sheet.SetComment(first.row, first.col, "changed", "Sheetwise");
      first.text = "changed";
      first.raw_note.clear();
      std::uint32_t row = sheet.max_row() + 1;
      sheet.SetComment(row, 1, "added", "Sheetwise");
      CellComment added;
      added.row = row;
      added.col = 1;
      added.text = "added";
      added.author = "Sheetwise";
      all.comments.push_back(added);
      const std::string vml_part = sheet.data().comment_parts.vml;
      WriteResult expected =
          WriteVmlDrawing(all.comments, eager.workbook->package().FindPart(vml_part)->bytes,
                          static_cast<std::uint32_t>(i + 1));
      ASSERT_FALSE(expected.error);
      const auto saved = Parts(opened.book->Serialize());
      ASSERT_TRUE(saved.count(vml_part));
      EXPECT_TRUE(saved.at(vml_part) == expected.bytes) << vml_part;
      ++checked;
    }
  }
  EXPECT_GE(checked, 5);

  // A workbook whose notes' VML is not XML.
  std::unique_ptr<Book> made = Book::New("S");
  made->sheet(0).SetComment(2, 2, "handle 1F", "Sheetwise");
  std::map<std::string, std::string> parts = Parts(made->Serialize());
  std::string vml_part;
  for (const auto& [name, bytes] : parts)
    if (name.ends_with(".vml")) vml_part = name;
  ASSERT_FALSE(vml_part.empty());
  parts[vml_part] = "<xml><v:shape";
  std::vector<std::pair<std::string, std::string>> list(parts.begin(), parts.end());
  BookResult broken = Book::OpenFromMemory(MakeZip(list), "broken.xlsx");
  ASSERT_TRUE(broken) << broken.error->ToString();
  ASSERT_NE(broken.book->sheet(0).Comment(2, 2), nullptr);
  EXPECT_EQ(broken.book->sheet(0).Comment(2, 2)->text, "handle 1F");
  broken.book->sheet(0).SetText(1, 1, "cells alone save");
  const fs::path dir = TempDir();
  EXPECT_FALSE(broken.book->Save(dir / "cells.xlsx").has_value());
  broken.book->sheet(0).SetComment(2, 2, "handle 20", "Sheetwise");
  std::optional<Error> refused = broken.book->Save(dir / "notes.xlsx");
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->ToString().find(vml_part), std::string::npos) << refused->ToString();
  EXPECT_FALSE(fs::exists(dir / "notes.xlsx"));
  fs::remove_all(dir);
}

TEST(Book, ReplaceReportsEveryChangedCell) {
  std::unique_ptr<Book> a = Book::New("S");
  a->sheet(0).SetText(1, 1, "x");
  a->sheet(0).SetNumber(2, 2, 5);
  a->sheet(0).SetNumber(3, 3, 9);
  BookResult b = Book::OpenFromMemory(a->Serialize(), "b");
  ASSERT_TRUE(b);
  b.book->sheet(0).SetText(1, 1, "y");  // changed
  b.book->sheet(0).ClearValue(2, 2);    // removed
  b.book->sheet(0).SetNumber(4, 4, 1);  // added
  BookResult fresh = Book::OpenFromMemory(b.book->Serialize(), "fresh");
  ASSERT_TRUE(fresh);
  std::vector<CellChange> changes = a->Replace(std::move(fresh.book));
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].row, 1u);
  EXPECT_EQ(changes[1].row, 2u);
  EXPECT_EQ(changes[2].row, 4u);
  EXPECT_EQ(a->sheet(0).Value(1, 1).text, "y");
  EXPECT_FALSE(a->modified());
}

}  // namespace
}  // namespace sheetwise::xlsx
