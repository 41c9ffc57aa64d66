// libFuzzer target: the .xlsx package, workbook and worksheet readers over arbitrary bytes, and
// the editable workbook: whatever it reads, it writes back into a file it can read again.
// Seeds: the corpus workbooks (scripts/fuzz.sh with fuzz/seeds/xlsx_fuzz).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/xlsx/book.h"
#include "platform/xlsx/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sheetwise::xlsx;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  WorkbookResult wb = Workbook::OpenFromMemory(bytes, "fuzz.xlsx");
  if (!wb) {
    (void)wb.error->ToString();
    return 0;
  }
  for (std::size_t i = 0; i < wb.workbook->sheets().size(); ++i) {
    SheetResult sheet = wb.workbook->ReadSheet(i);
    if (!sheet) continue;
    for (const Cell& c : sheet.sheet->cells()) (void)wb.workbook->Style(c.style);
  }
  BookResult book = Book::OpenFromMemory(bytes, "fuzz.xlsx");
  if (!book) return 0;
  // A change on every worksheet, then the written file must read back.
  for (std::size_t i = 0; i < book.book->sheet_count(); ++i) {
    Sheet& s = book.book->sheet(i);
    if (s.kind() != SheetKind::kWorksheet) continue;
    s.SetText(1, 1, "fuzz & <text>");
    s.SetComment(2, 2, "1F", "fuzz");
    s.SetStyle(3, 3, book.book->StyleWithBold(s.StyleOf(3, 3), true));
  }
  const std::string written = book.book->Serialize();
  BookResult again = Book::OpenFromMemory(written, "written.xlsx");
  if (!again) {
    std::fprintf(stderr, "written workbook does not read back: %s\n",
                 again.error->ToString().c_str());
    std::abort();
  }
  return 0;
}
