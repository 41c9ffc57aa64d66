// libFuzzer target: the .xlsx package, workbook and worksheet readers over arbitrary bytes.
// Seeds: the corpus workbooks (scripts/fuzz.sh with fuzz/seeds/xlsx_fuzz).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/xlsx/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sheetwise::xlsx;
  WorkbookResult wb = Workbook::OpenFromMemory(
      std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.xlsx");
  if (!wb) {
    (void)wb.error->ToString();
    return 0;
  }
  for (std::size_t i = 0; i < wb.workbook->sheets().size(); ++i) {
    SheetResult sheet = wb.workbook->ReadSheet(i);
    if (!sheet) continue;
    for (const Cell& c : sheet.sheet->cells()) (void)wb.workbook->Style(c.style);
  }
  return 0;
}
