// Tests of the .xlsx reader on the real-file corpus and on damaged packages. Expected values
// for corpus files were taken once from openpyxl 3.0.9 (/usr/bin/python3, load_workbook with and
// without data_only), not from this reader.
#include <gtest/gtest.h>
#include <zip.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/xlsx/package.h"
#include "platform/xlsx/workbook.h"
#include "tests/platform/xlsx/xlsx_test_support.h"

namespace sheetwise::xlsx {
namespace {

using xlsxtest::MakeZip;
using xlsxtest::ReadFile;

const std::filesystem::path kCorpus = std::filesystem::path(SW_SHARED_DIR) / "corpus" / "xlsx";

const std::string kContentTypes =
    R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
    R"(<Default Extension="xml" ContentType="application/xml"/>)"
    R"(<Override PartName="/xl/workbook.xml" ContentType="wb"/></Types>)";
const std::string kRootRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
const std::string kWorkbook =
    R"(<workbook xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
    R"(<sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const std::string kWorkbookRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/></Relationships>)";

std::string MinimalBook(const std::string& sheet_xml) {
  return MakeZip({{"[Content_Types].xml", kContentTypes},
                  {"_rels/.rels", kRootRels},
                  {"xl/workbook.xml", kWorkbook},
                  {"xl/_rels/workbook.xml.rels", kWorkbookRels},
                  {"xl/worksheets/sheet1.xml", sheet_xml}});
}

// Sets the declared uncompressed size of `part` in both its local and central headers.
void DeclareSize(std::string& zip_bytes, const std::string& part, std::uint32_t size) {
  auto put32 = [&](std::size_t at) { std::memcpy(&zip_bytes[at], &size, 4); };
  for (std::size_t at = 0; (at = zip_bytes.find(part, at)) != std::string::npos;
       at += part.size()) {
    if (at >= 30 && zip_bytes.compare(at - 30, 4, "PK\x03\x04") == 0) put32(at - 30 + 22);
    if (at >= 46 && zip_bytes.compare(at - 46, 4, "PK\x01\x02") == 0) put32(at - 46 + 24);
  }
}

TEST(XlsxCorpus, EveryWorkbookAndWorksheetReads) {
  if (!std::filesystem::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".xlsx") continue;
    ++files;
    SCOPED_TRACE(entry.path().filename().string());
    WorkbookResult wb = Workbook::Open(entry.path());
    ASSERT_TRUE(wb) << wb.error->ToString();
    ASSERT_FALSE(wb.workbook->sheets().empty());
    // Every part is kept as read: the package's parts inflate to what libzip reports.
    EXPECT_NE(wb.workbook->package().FindPart("[Content_Types].xml"), nullptr);
    for (std::size_t i = 0; i < wb.workbook->sheets().size(); ++i) {
      if (wb.workbook->sheets()[i].kind != SheetKind::kWorksheet) continue;
      SheetResult sheet = wb.workbook->ReadSheet(i);
      EXPECT_TRUE(sheet) << sheet.error->ToString();
    }
  }
  EXPECT_EQ(files, 19);
}

TEST(XlsxCorpus, MatchesOpenpyxl) {
  if (!std::filesystem::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  {
    WorkbookResult wb = Workbook::Open(kCorpus / "excel16_chartsheet_any_sheets.xlsx");
    ASSERT_TRUE(wb) << wb.error->ToString();
    auto sheets = wb.workbook->sheets();
    ASSERT_EQ(sheets.size(), 4u);
    EXPECT_EQ(sheets[0].name, "Visible");
    EXPECT_EQ(sheets[1].state, SheetState::kHidden);
    EXPECT_EQ(sheets[2].name, "VeryHidden");
    EXPECT_EQ(sheets[2].state, SheetState::kVeryHidden);
    EXPECT_EQ(sheets[3].kind, SheetKind::kChartsheet);
    EXPECT_FALSE(wb.workbook->ReadSheet(3));  // a chart sheet has no cells
    SheetResult s = wb.workbook->ReadSheet(0);
    ASSERT_TRUE(s);
    const Cell* b3 = s.sheet->Find(3, 2);
    ASSERT_NE(b3, nullptr);
    EXPECT_EQ(b3->type, CellType::kNumber);
    EXPECT_EQ(b3->number, 6);
    const Cell* a5 = s.sheet->Find(5, 1);
    ASSERT_NE(a5, nullptr);
    EXPECT_EQ(a5->type, CellType::kSharedString);
    EXPECT_TRUE(
        a5->text.starts_with("This workbook contains 4 sheets: Visible, Hidden, VeryHidde"));
    EXPECT_FALSE(wb.workbook->date1904());
  }
  {
    WorkbookResult wb = Workbook::Open(kCorpus / "libreoffice73_date_1904.xlsx");
    ASSERT_TRUE(wb) << wb.error->ToString();
    EXPECT_TRUE(wb.workbook->date1904());
    SheetResult s = wb.workbook->ReadSheet(0);
    ASSERT_TRUE(s);
    const Cell* a1 = s.sheet->Find(1, 1);
    ASSERT_NE(a1, nullptr);
    // 2021-01-01 in the 1904 system: serial 44197 (1900 system) - 1462 = 42735.
    EXPECT_EQ(a1->number, 42735);
    EXPECT_EQ(wb.workbook->Style(a1->style).format_code, "yyyy\\-mm\\-dd");
    const Cell* a3 = s.sheet->Find(3, 1);
    ASSERT_NE(a3, nullptr);
    EXPECT_EQ(wb.workbook->Style(a3->style).format_code, "[hh]:mm:ss");
    const Cell* b2 = s.sheet->Find(2, 2);
    ASSERT_NE(b2, nullptr);
    EXPECT_EQ(b2->number, 16);
    EXPECT_EQ(wb.workbook->Style(b2->style).format_code, "General");
  }
  {
    WorkbookResult wb = Workbook::Open(kCorpus / "excel2007_errors.xlsx");
    ASSERT_TRUE(wb) << wb.error->ToString();
    EXPECT_EQ(wb.workbook->sheets()[0].name, "Feuil1");
    SheetResult s = wb.workbook->ReadSheet(0);
    ASSERT_TRUE(s);
    struct Row {
      std::uint32_t row;
      const char* formula;
      const char* error;
    };
    for (Row r : {Row{1, "5/0", "#DIV/0!"}, Row{2, "A0", "#NAME?"}, Row{4, "A1:B1 D1:D9", "#NULL!"},
                  Row{7, "VLOOKUP(B1,B1,B1,3)", "#N/A"}}) {
      const Cell* c = s.sheet->Find(r.row, 1);
      ASSERT_NE(c, nullptr) << r.row;
      EXPECT_EQ(c->type, CellType::kError);
      EXPECT_EQ(c->formula, r.formula);
      EXPECT_EQ(c->text, r.error);
    }
  }
  {
    WorkbookResult wb = Workbook::Open(kCorpus / "excel2007_issue9.xlsx");
    ASSERT_TRUE(wb) << wb.error->ToString();
    SheetResult s = wb.workbook->ReadSheet(0);
    ASSERT_TRUE(s);
    // Rich-text shared strings: runs joined.
    EXPECT_EQ(s.sheet->Find(2, 1)->text, "test2 other");
    EXPECT_EQ(s.sheet->Find(3, 1)->text, "test3 aaa");
  }
  {
    WorkbookResult wb = Workbook::Open(kCorpus / "macexcel16_issue_880.xlsx");
    ASSERT_TRUE(wb) << wb.error->ToString();
    auto sheets = wb.workbook->sheets();
    ASSERT_EQ(sheets.size(), 5u);
    EXPECT_EQ(sheets[2].name, "Leiterprüfung");
    EXPECT_EQ(sheets[4].state, SheetState::kHidden);
    SheetResult s = wb.workbook->ReadSheet(0);
    ASSERT_TRUE(s);
    const Cell* a4 = s.sheet->Find(4, 1);
    ASSERT_NE(a4, nullptr);
    EXPECT_EQ(a4->formula, "#REF!*31.25");
    EXPECT_EQ(wb.workbook->Style(a4->style).format_code, "@");
    bool found = false;
    for (const DefinedName& n : wb.workbook->defined_names())
      if (n.name == "Aussenleiter" && n.local_sheet == 3u)
        found = n.formula == "Feststellanlagen!#REF!";
    EXPECT_TRUE(found);
  }
}

TEST(XlsxPackage, DamagedInputGivesErrorsNamingFileAndPart) {
  std::string good = MinimalBook(
      R"(<worksheet><sheetData><row r="1"><c r="B1"><v>2</v></c></row></sheetData></worksheet>)");
  ASSERT_TRUE(Workbook::OpenFromMemory(good, "book.xlsx"));
  std::string oversized = good;
  DeclareSize(oversized, "xl/worksheets/sheet1.xml", 0xF0000000u);
  std::string truncated = good.substr(0, good.size() / 2);
  struct Case {
    const char* what;
    std::string bytes;
    const char* expected;
  };
  const Case cases[] = {
      {"not a zip", "hello, this is text", "book.xlsx: not a zip archive"},
      {"empty", "", "book.xlsx: not a zip archive"},
      {"truncated", truncated, "book.xlsx: truncated"},
      {"part too large", oversized, "book.xlsx: xl/worksheets/sheet1.xml: part too large"},
      {"bad XML", MinimalBook("<worksheet><sheetData><row></sheetData></worksheet>"),
       "book.xlsx: xl/worksheets/sheet1.xml: offset 29: malformed XML"},
      {"bad reference",
       MinimalBook(
           R"(<worksheet><sheetData><row r="1"><c r="XFE1"><v>1</v></c></row></sheetData></worksheet>)"),
       "book.xlsx: xl/worksheets/sheet1.xml: offset 39: bad cell reference 'XFE1'"},
      {"row too high",
       MinimalBook(
           R"(<worksheet><sheetData><row r="1"><c r="A1048577"/></row></sheetData></worksheet>)"),
       "book.xlsx: xl/worksheets/sheet1.xml: offset 39: bad cell reference 'A1048577'"},
      {"string index",
       MinimalBook(
           R"(<worksheet><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c></row></sheetData></worksheet>)"),
       "book.xlsx: xl/worksheets/sheet1.xml: offset 52: shared string index '0' out of range in "
       "cell A1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WorkbookResult wb = Workbook::OpenFromMemory(c.bytes, "book.xlsx");
    std::optional<Error> error = wb.error;
    if (wb) {
      SheetResult s = wb.workbook->ReadSheet(0);
      ASSERT_FALSE(s);
      error = s.error;
    }
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->ToString().starts_with(c.expected)) << error->ToString();
  }
  if (std::filesystem::exists(kCorpus)) {
    std::string real = ReadFile(kCorpus / "excel2007_issue9.xlsx");
    WorkbookResult cut =
        Workbook::OpenFromMemory(real.substr(0, real.size() * 2 / 3), "issue9.xlsx");
    ASSERT_FALSE(cut);
    EXPECT_TRUE(cut.error->ToString().starts_with("issue9.xlsx: truncated"))
        << cut.error->ToString();
  }
  WorkbookResult missing = Workbook::Open("/nonexistent/book.xlsx");
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error->ToString().starts_with("/nonexistent/book.xlsx: cannot open"));
}

// Archives as another zip writer lays them out (Python's zipfile): stored and deflated entries,
// ZIP64 records, data descriptors after streamed entries, an archive comment. Each reads to the
// same parts; then checksum, size and method damage in one part is named.
TEST(XlsxPackage, ReadsZipLayoutsOfOtherWritersAndNamesDamagedParts) {
  if (std::system("/usr/bin/python3 -c 'import zipfile' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no /usr/bin/python3";
  const std::string sheet =
      R"(<worksheet><sheetData><row r="1"><c r="B1"><v>2</v></c></row></sheetData></worksheet>)";
  const std::string good = MinimalBook(sheet);
  const auto dir =
      std::filesystem::temp_directory_path() / ("sw_zip_layouts_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  { std::ofstream(dir / "in.xlsx", std::ios::binary) << good; }
  const std::string script = R"(
import io, sys, zipfile
src = zipfile.ZipFile(sys.argv[1] + "/in.xlsx")
parts = [(i.filename, src.read(i)) for i in src.infolist()]
def write(name, **kw):
    with zipfile.ZipFile(sys.argv[1] + "/" + name, "w", **kw) as z:
        for n, b in parts:
            z.writestr(n, b)
write("stored.xlsx", compression=zipfile.ZIP_STORED)
write("deflated9.xlsx", compression=zipfile.ZIP_DEFLATED, compresslevel=9)
with zipfile.ZipFile(sys.argv[1] + "/zip64.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
    for n, b in parts:
        with z.open(n, "w", force_zip64=True) as f:
            f.write(b)
class Stream(io.RawIOBase):
    def __init__(self): self.b = bytearray()
    def writable(self): return True
    def write(self, d): self.b += d; return len(d)
s = Stream()
with zipfile.ZipFile(s, "w", zipfile.ZIP_DEFLATED) as z:
    z.comment = b"written as a stream"
    for n, b in parts:
        with z.open(n, "w") as f:
            f.write(b)
open(sys.argv[1] + "/streamed.xlsx", "wb").write(bytes(s.b))
)";
  { std::ofstream(dir / "layouts.py") << script; }
  ASSERT_EQ(std::system(
                ("/usr/bin/python3 " + (dir / "layouts.py").string() + " " + dir.string()).c_str()),
            0);
  for (const char* name : {"stored.xlsx", "deflated9.xlsx", "zip64.xlsx", "streamed.xlsx"}) {
    SCOPED_TRACE(name);
    WorkbookResult wb = Workbook::Open(dir / name);
    ASSERT_TRUE(wb) << wb.error->ToString();
    const Part* p = wb.workbook->package().FindPart("xl/worksheets/sheet1.xml");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->bytes, sheet);
    EXPECT_EQ(wb.workbook->package().parts().size(), 5u);
  }

  // Damage in the stored archive, where the bytes of a part can be found and changed.
  const std::string stored = ReadFile(dir / "stored.xlsx");
  const std::string part = "xl/worksheets/sheet1.xml";
  auto damaged = [&](auto&& change) {
    std::string b = stored;
    change(b);
    WorkbookResult wb = Workbook::OpenFromMemory(b, "book.xlsx");
    return wb ? std::string("opened") : wb.error->ToString();
  };
  const std::size_t data = stored.find(sheet);
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(damaged([&](std::string& b) { b[data + 20] ^= 1; }),
            "book.xlsx: " + part + ": damaged part: CRC error");
  EXPECT_TRUE(damaged([&](std::string& b) {
                DeclareSize(b, part, static_cast<std::uint32_t>(sheet.size() - 1));
              }).starts_with("book.xlsx: " + part + ": damaged part"));
  std::string encrypted = damaged([&](std::string& b) {
    for (std::size_t at = 0; (at = b.find(part, at)) != std::string::npos; at += part.size())
      if (at >= 46 && b.compare(at - 46, 4, "PK\x01\x02") == 0) b[at - 46 + 8] |= 1;
  });
  EXPECT_EQ(encrypted, "book.xlsx: " + part + ": cannot open the part: it is encrypted");
  std::string method = damaged([&](std::string& b) {
    for (std::size_t at = 0; (at = b.find(part, at)) != std::string::npos; at += part.size())
      if (at >= 46 && b.compare(at - 46, 4, "PK\x01\x02") == 0) b[at - 46 + 10] = 12;
  });
  EXPECT_NE(method.find("compression method 12 is not supported"), std::string::npos) << method;
  // A deflated part whose compressed bytes are damaged, at several places: whatever the
  // inflater makes of them, the part is refused by name.
  const std::string deflated = ReadFile(dir / "deflated9.xlsx");
  std::size_t local = 0;
  while ((local = deflated.find("PK\x03\x04", local)) != std::string::npos &&
         deflated.compare(local + 30, part.size(), part) != 0)
    ++local;
  ASSERT_NE(local, std::string::npos);
  const std::size_t packed = local + 30 + part.size() + deflated[local + 28];
  std::size_t packed_size = 0;
  for (int i = 3; i >= 0; --i)
    packed_size = packed_size << 8 | static_cast<unsigned char>(deflated[local + 18 + i]);
  ASSERT_GT(packed_size, 8u);
  for (std::size_t at : {std::size_t{0}, packed_size / 3, packed_size / 2, packed_size - 1}) {
    std::string b = deflated;
    b[packed + at] = static_cast<char>(b[packed + at] ^ 0x5A);
    WorkbookResult wb = Workbook::OpenFromMemory(b, "book.xlsx");
    ASSERT_FALSE(wb) << "damage at " << at;
    EXPECT_TRUE(wb.error->ToString().starts_with("book.xlsx: " + part + ": "))
        << "damage at " << at << ": " << wb.error->ToString();
  }
  // A deflated part whose data is cut: the directory says more than the file holds.
  std::string cut = deflated;
  cut.erase(cut.find("PK\x01\x02") - 8, 4);
  WorkbookResult short_read = Workbook::OpenFromMemory(cut, "book.xlsx");
  ASSERT_FALSE(short_read);
  std::filesystem::remove_all(dir);
}

TEST(XlsxPackage, KeepsPartBytesAndResolvesRelationships) {
  std::string sheet = "<worksheet>\r\n<sheetData/>\r\n</worksheet>";
  WorkbookResult wb = Workbook::OpenFromMemory(MinimalBook(sheet), "book.xlsx");
  ASSERT_TRUE(wb) << wb.error->ToString();
  const Package& pkg = wb.workbook->package();
  EXPECT_EQ(pkg.FindPart("/xl/worksheets/sheet1.xml")->bytes, sheet);  // CR LF kept
  EXPECT_EQ(pkg.ContentType("xl/workbook.xml"), "wb");
  EXPECT_EQ(pkg.ContentType("XL/worksheets/sheet1.XML"), "application/xml");
  EXPECT_EQ(wb.workbook->sheets()[0].part, "xl/worksheets/sheet1.xml");
  struct Row {
    const char* source;
    const char* target;
    const char* resolved;
  };
  for (Row r :
       {Row{"xl/workbook.xml", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
        Row{"xl/worksheets/sheet1.xml", "../drawings/d1.xml", "xl/drawings/d1.xml"},
        Row{"xl/workbook.xml", "/xl/styles.xml", "xl/styles.xml"},
        Row{"", "xl/workbook.xml", "xl/workbook.xml"}, Row{"xl/a.xml", "../../../x.xml", "x.xml"},
        Row{"xl/workbook.xml", "media/image%201.png", "xl/media/image 1.png"}}) {
    EXPECT_EQ(ResolveTarget(r.source, r.target), r.resolved) << r.target;
  }
  EXPECT_EQ(RelsPartName("xl/workbook.xml"), "xl/_rels/workbook.xml.rels");
  EXPECT_EQ(RelsPartName(""), "_rels/.rels");
}

TEST(XlsxCells, ReferencesRoundTripWithinTheGrid) {
  struct Row {
    const char* ref;
    bool ok;
    std::uint32_t row, col;
  };
  for (Row r :
       {Row{"A1", true, 1, 1}, Row{"Z9", true, 9, 26}, Row{"AA10", true, 10, 27},
        Row{"XFD1048576", true, 1048576, 16384}, Row{"$B$3", true, 3, 2}, Row{"XFE1", false, 0, 0},
        Row{"A1048577", false, 0, 0}, Row{"A0", false, 0, 0}, Row{"1A", false, 0, 0},
        Row{"A", false, 0, 0}, Row{"", false, 0, 0}, Row{"AAAAA1", false, 0, 0},
        Row{"A1x", false, 0, 0}, Row{"A99999999", false, 0, 0}}) {
    std::uint32_t row = 0, col = 0;
    EXPECT_EQ(ParseCellRef(r.ref, row, col), r.ok) << r.ref;
    if (!r.ok) continue;
    EXPECT_EQ(row, r.row) << r.ref;
    EXPECT_EQ(col, r.col) << r.ref;
    if (r.ref[0] != '$') {
      EXPECT_EQ(FormatCellRef(row, col), r.ref);
    }
  }
  EXPECT_EQ(FormatCellRef(1, 16385), "");
}

TEST(XlsxCells, ReadsEveryCellTypeAndColumnWidths) {
  WorkbookResult wb = Workbook::OpenFromMemory(
      MinimalBook(
          R"(<worksheet><cols><col min="2" max="3" width="12.5" customWidth="1"/></cols><sheetData>)"
          R"(<row r="1"><c r="A1"><v>1.5</v></c><c t="b"><v>1</v></c><c r="C1" t="e"><v>#N/A</v></c>)"
          R"(<c r="D1" t="str"><f>"a"&amp;"b"</f><v>ab</v></c><c r="E1" t="inlineStr"><is><r><t>x </t></r><r><t>y</t></r><rPh><t>z</t></rPh></is></c>)"
          R"(<c r="F1" t="d"><v>2021-01-02T00:00:00</v></c><c r="G1" s="0"/><c r="H1" t="inlineStr"><is><t xml:space="preserve"> </t></is></c></row>)"
          R"(</sheetData></worksheet>)"),
      "book.xlsx");
  ASSERT_TRUE(wb) << wb.error->ToString();
  SheetResult s = wb.workbook->ReadSheet(0);
  ASSERT_TRUE(s) << s.error->ToString();
  auto cells = s.sheet->cells();
  ASSERT_EQ(cells.size(), 8u);
  EXPECT_EQ(cells[0].number, 1.5);
  EXPECT_EQ(cells[1].type, CellType::kBool);  // no r: follows A1
  EXPECT_EQ(cells[1].col, 2u);
  EXPECT_TRUE(cells[1].bool_value());
  EXPECT_EQ(cells[2].text, "#N/A");
  EXPECT_EQ(cells[3].formula, "\"a\"&\"b\"");
  EXPECT_EQ(cells[3].text, "ab");
  EXPECT_EQ(cells[4].text, "x y");
  EXPECT_EQ(cells[5].type, CellType::kDate);
  EXPECT_EQ(cells[5].text, "2021-01-02T00:00:00");
  EXPECT_EQ(cells[6].type, CellType::kBlank);
  EXPECT_EQ(cells[7].text, " ");
  ASSERT_EQ(s.sheet->columns().size(), 1u);
  EXPECT_EQ(s.sheet->columns()[0].max, 3u);
  EXPECT_EQ(s.sheet->columns()[0].width, 12.5);
}

}  // namespace
}  // namespace sheetwise::xlsx
