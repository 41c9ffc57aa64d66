// libFuzzer target: a worksheet part of arbitrary bytes inside an otherwise valid workbook, so
// that the row scanner, the tree reader and the writer see the sheet's XML itself (mutations of
// a whole .xlsx mostly break the zip's checksums). Whatever reads, writes a file that reads back
// with the same cells. Seeds: fuzz/seeds/xlsx_sheet_fuzz (made by make_xlsx_seeds.py).
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/xlsx/book.h"

namespace {

std::string Zip(const std::vector<std::pair<std::string, std::string_view>>& parts) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* out = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_source_keep(out);
  zip_t* z = zip_open_from_source(out, ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : parts) {
    zip_source_t* s = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    const zip_int64_t i = zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE);
    zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
  }
  zip_close(z);
  std::string bytes;
  if (zip_source_open(out) == 0) {
    zip_source_seek(out, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(zip_source_tell(out)));
    zip_source_seek(out, 0, SEEK_SET);
    zip_source_read(out, bytes.data(), bytes.size());
    zip_source_close(out);
  }
  zip_source_free(out);
  zip_error_fini(&error);
  return bytes;
}

constexpr std::string_view kTypes =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>";
constexpr std::string_view kRootRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
constexpr std::string_view kWorkbook =
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
    "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
constexpr std::string_view kWorkbookRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
    "Target=\"sharedStrings.xml\"/></Relationships>";
constexpr std::string_view kSharedStrings =
    "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>Block "
    "name</t></si><si><r><t>rich</t></r></si><si><t>A-12</t></si></sst>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sheetwise::xlsx;
  const std::string_view sheet(reinterpret_cast<const char*>(data), size);
  const std::string bytes = Zip({{"[Content_Types].xml", kTypes},
                                 {"_rels/.rels", kRootRels},
                                 {"xl/workbook.xml", kWorkbook},
                                 {"xl/_rels/workbook.xml.rels", kWorkbookRels},
                                 {"xl/sharedStrings.xml", kSharedStrings},
                                 {"xl/worksheets/sheet1.xml", sheet}});
  BookResult book = Book::OpenFromMemory(bytes, "fuzz.xlsx");
  if (!book) {
    (void)book.error->ToString();
    return 0;
  }
  Sheet& s = book.book->sheet(0);
  const auto before = s.CellPositions();
  s.SetText(2, 3, "fuzz & <text>");
  s.SetComment(2, 3, "1F", "fuzz");
  s.SetRowStyle(1, book.book->StyleWithBold(0, true));
  const std::string written = book.book->Serialize();
  BookResult again = Book::OpenFromMemory(written, "written.xlsx");
  if (!again) {
    std::fprintf(stderr, "written workbook does not read back: %s\n",
                 again.error->ToString().c_str());
    std::abort();
  }
  // Every cell the sheet had is still there, with its value.
  const Sheet& t = again.book->sheet(0);
  for (auto [r, c] : before) {
    if (r == 2 && c == 3) continue;
    if (!(s.Value(r, c) == t.Value(r, c))) {
      std::fprintf(stderr, "cell %u,%u changed in the round trip\n", r, c);
      std::abort();
    }
  }
  return 0;
}
