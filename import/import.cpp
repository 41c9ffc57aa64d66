#include "import/import.h"

#include <map>
#include <utility>

#include "cmd/operations.h"
#include "excel/comerror.h"
#include "import/import_internal.h"
#include "import/importrow.h"
#include "platform/host/units.h"
#include "platform/win/locale.h"

namespace {

// Rows from 65536 on are never read: the worksheet layout's height.
constexpr LONG kRowLimit = 65536;
// The 501st row without a handle comment ends a worksheet.
constexpr int kMaxRowsWithoutHandle = 500;
// Excel's last row, the end of any look beyond the limit.
constexpr LONG kLastSheetRow = 1048576;

constexpr wchar_t kHeaderText[] = L"Block name";

std::wstring ToText(const _bstr_t& text) {
  const wchar_t* p = static_cast<const wchar_t*>(text);
  return p != nullptr ? std::wstring(p, text.length()) : std::wstring();
}

std::wstring Plural(std::size_t n, const wchar_t* one, const wchar_t* many) {
  return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

// The first row in [from, to] whose column-A cell carries a comment, or 0.
LONG FirstHandleRow(IDispatch* cells, LONG from, LONG to) {
  for (LONG row = from; row <= to; ++row) {
    const _variant_t item = Excel::Range(cells).GetItem(_variant_t(row), _variant_t(LONG{1}));
    const Excel::RangePtr cell = item;
    if (cell->GetComment()) return row;
  }
  return 0;
}

Excel::_WorksheetPtr SheetNamed(const Excel::_ApplicationPtr& app, const std::wstring& name) {
  IDispatchPtr book = app->GetActiveWorkbook();
  if (!book) RaiseImportError(E_POINTER, L"no workbook is open in the spreadsheet");
  IDispatchPtr sheets = Excel::_Workbook(book).GetWorksheets();
  const LONG count = Excel::Worksheets(sheets).GetCount();
  std::wstring names;
  for (LONG i = 1; i <= count; ++i) {
    Excel::_WorksheetPtr sheet = Excel::Worksheets(sheets).GetItem(_variant_t(i));
    if (!sheet) continue;
    const std::wstring sheet_name = ToText(sheet->GetName());
    if (EqualsNoCase(sheet_name, name)) return sheet;
    names += (names.empty() ? L"" : L", ") + (L"\"" + sheet_name + L"\"");
  }
  RaiseImportError(E_POINTER, L"the workbook has no worksheet \"" + name + L"\" (it has " +
                                  (names.empty() ? L"none" : names) + L")");
}

}  // namespace

void ImportReport::Note(std::wstring text) {
  if (notes.size() < kMaxNotes) {
    notes.push_back(std::move(text));
  } else {
    ++notes_left_out;
  }
}

std::wstring ImportReport::Text() const {
  std::wstring out;
  if (no_spreadsheet) return L"No spreadsheet is running: nothing was imported.\n";
  const std::wstring verb = dry_run ? L"would be " : L"";
  out += L"Read " + Plural(data_rows, L"data row", L"data rows") + L" on " +
         Plural(worksheets, L"worksheet", L"worksheets") +
         (dry_run ? L" (dry run: nothing was written).\n" : L".\n");
  out += Plural(updated.size(), L"drawing object ", L"drawing objects ") + verb + L"updated: " +
         Plural(attributes_written, L"attribute", L"attributes") + L", " +
         Plural(positions_written, L"position", L"positions") + L", " +
         Plural(scales_written, L"scale", L"scales") + L", " +
         Plural(rotations_written, L"rotation", L"rotations") + L", " +
         Plural(layers_written, L"layer", L"layers") + L" " + verb + L"written.\n";
  if (unknown_handles + not_block_references > 0) {
    out += L"Rows skipped: " + Plural(unknown_handles, L"unknown handle", L"unknown handles") +
           L", " + std::to_wstring(not_block_references) + L" not a block reference.\n";
  }
  if (!tags_not_found.empty()) {
    out += L"Tags not found on the row's block reference:";
    bool first = true;
    for (const auto& [tag, rows] : tags_not_found) {
      out += (first ? L" \"" : L", \"") + tag + L"\" (" + Plural(rows, L"row", L"rows") + L")";
      first = false;
    }
    out += L".\n";
  }
  for (const std::wstring& note : notes) out += L"  " + note + L"\n";
  if (notes_left_out > 0) out += L"  ... and " + std::to_wstring(notes_left_out) + L" more.\n";
  for (const std::wstring& warning : warnings) out += L"warning: " + warning + L"\n";
  return out;
}

void ImportWorksheet(const Excel::_WorksheetPtr& sheet, const sheetwise::SettingsInfo& settings,
                     ImportReport& report, const ImportOptions& options) {
  const std::wstring name = ToText(sheet->GetName());
  ++report.worksheets;
  const IDispatchPtr cells = sheet->GetCells();
  const UnitSettings units = CurrentUnitSettings();
  const LONG start_row = settings.Import.StartRow;
  const LONG start_col = settings.Import.StartCol;
  const std::wstring where = L"Sheet \"" + name + L"\"";
  if (start_row >= kRowLimit) {
    report.warnings.push_back(where + L": the import's start row " + std::to_wstring(start_row) +
                              L" is beyond row " + std::to_wstring(kRowLimit - 1) +
                              L": nothing was read");
    return;
  }
  if (start_col > 255) {
    report.warnings.push_back(where + L": the import's start column " + std::to_wstring(start_col) +
                              L" is beyond column 255: no cell of a data row was read");
  }

  LONG header_row = 1;
  int without_handle = 0;
  LONG run_start = 0;  // first row of the current run of rows without a handle comment
  std::map<LONG, HeaderLayout> headers;
  ImportRow row_state;
  LONG row = start_row;
  for (; row < kRowLimit; ++row) {
    const _variant_t item = Excel::Range(cells).GetItem(_variant_t(row), _variant_t(LONG{1}));
    const Excel::RangePtr cell = item;
    const IDispatchPtr comment = cell->GetComment();
    if (!comment) {
      if (ToText(VariantToText(cell->GetText())) == kHeaderText) header_row = row;
      if (run_start == 0) run_start = row;
      if (++without_handle > kMaxRowsWithoutHandle) break;
      continue;
    }
    run_start = 0;
    auto header = headers.find(header_row);
    if (header == headers.end()) {
      header = headers.emplace(header_row, ReadHeaderLayout(cells, header_row, start_col)).first;
      for (const std::wstring& warning : header->second.warnings)
        report.warnings.push_back(where + L" " + warning);
    }
    row_state.handle = ToText(Excel::Comment(comment).Text());
    const RowPlace place{name, row};
    ReadImportRow(cells, header->second, place, units, row_state, report);
    ++report.data_rows;
    ApplyImportRow(row_state, settings.Import.IgnoreProps, options.dry_run, place, units, report);
  }

  // Where the rules ended the sheet early, look as far as a run of 501 rows without a handle
  // would have gone, so that data cut off is named.
  if (row < kRowLimit) {
    const LONG reach = std::min<LONG>(run_start + kMaxRowsWithoutHandle, kRowLimit - 1);
    if (const LONG found = reach > row ? FirstHandleRow(cells, row + 1, reach) : 0) {
      report.warnings.push_back(
          where + L": the import stopped at row " + std::to_wstring(row) + L" after " +
          std::to_wstring(kMaxRowsWithoutHandle + 1) +
          L" rows without a handle comment on this sheet; the data rows below it (the first in "
          L"row " +
          std::to_wstring(found) + L") were not read");
    }
  } else {
    const LONG from = run_start != 0 ? run_start : kRowLimit;
    const LONG reach = std::min<LONG>(from + kMaxRowsWithoutHandle, kLastSheetRow);
    if (const LONG found = FirstHandleRow(cells, kRowLimit, reach)) {
      report.warnings.push_back(where + L": rows from " + std::to_wstring(kRowLimit) +
                                L" on are never read; row " + std::to_wstring(found) +
                                L" holds a handle comment that was not read");
    }
  }
}

bool RunImport(const sheetwise::SettingsInfo& settings, ImportReport* out,
               const ImportOptions& options) {
  ImportReport local;
  ImportReport& report = out != nullptr ? *out : local;
  report.dry_run = options.dry_run;
  if (settings.Import.StartRow < 1 || settings.Import.StartCol < 1) {
    const std::wstring text =
        L"The import's start row and start column must be 1 or more (they are " +
        std::to_wstring(settings.Import.StartRow) + L" and " +
        std::to_wstring(settings.Import.StartCol) + L"). Nothing was imported.";
    AfxMessageBox(text.c_str(), MB_ICONERROR);
    return false;
  }
  Excel::_ApplicationPtr app;
  if (FAILED(AttachExcel(app, "Excel.Application"))) {
    report.no_spreadsheet = true;
    report.completed = true;
    return false;
  }
  if (!options.sheet.empty()) {
    ImportWorksheet(SheetNamed(app, options.sheet), settings, report, options);
  } else if (settings.Import.ImportSettings == 1) {
    IDispatchPtr book = app->GetActiveWorkbook();
    if (!book) RaiseImportError(E_POINTER, L"no workbook is open in the spreadsheet");
    IDispatchPtr sheets = Excel::_Workbook(book).GetWorksheets();
    const LONG count = Excel::Worksheets(sheets).GetCount();
    for (LONG i = 1; i <= count; ++i) {
      Excel::_WorksheetPtr sheet = Excel::Worksheets(sheets).GetItem(_variant_t(i));
      if (!sheet) RaiseImportError(E_POINTER, L"worksheet " + std::to_wstring(i) + L" is missing");
      ImportWorksheet(sheet, settings, report, options);
    }
  } else {
    Excel::_WorksheetPtr sheet = app->GetActiveSheet();
    if (!sheet) RaiseImportError(E_POINTER, L"the active sheet is not a worksheet");
    ImportWorksheet(sheet, settings, report, options);
  }
  report.completed = true;
  return false;
}

bool ImportOperation() {
  sheetwise::SettingsInfo settings;
  sheetwise::LoadSettings(settings);
  return RunImport(settings);
}
