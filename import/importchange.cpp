#include "import/importchange.h"

#include <string>
#include <vector>

#include "cmd/cmdvanta.h"
#include "excel/excel.h"
#include "import/import.h"
#include "link/changequeue.h"
#include "platform/host/editor.h"
#include "platform/win/locale.h"
#include "platform/win/sync.h"
#include "settings/settings.h"

namespace {

// An empty holder has no text at all.
std::wstring Str(const _bstr_t& text) {
  const wchar_t* p = text;
  return p != nullptr ? std::wstring(p) : std::wstring();
}

bool SameName(const _bstr_t& name, const wchar_t* wanted) {
  return EqualsNoCase(Str(name), std::wstring(wanted));
}

_variant_t Index(LONG n) {
  return _variant_t(n);
}

Excel::RangePtr Cell(IDispatch* cells, LONG row, LONG column) {
  return Excel::RangePtr(Excel::Range(cells).GetItem(Index(row), Index(column)));
}

}  // namespace

bool g_reportChanges = false;

bool ImportChange(const XLChangeInfo& change) {
  sheetwise::SettingsInfo settings;
  sheetwise::LoadSettings(settings);
  Excel::_ApplicationPtr excel;
  if (FAILED(AttachExcel(excel, "Excel.Application"))) return false;

  // The workbook: the active one, else the open one of that name.
  Excel::_WorkbookPtr workbook = excel->GetActiveWorkbook();
  if (!SameName(workbook->GetName(), change.workbookName)) {
    IDispatchPtr books = excel->GetWorkbooks();
    const LONG count = Excel::Workbooks(books).GetCount();
    for (LONG i = 1; i <= count; ++i) {
      workbook = Excel::Workbooks(books).GetItem(Index(i));
      if (SameName(workbook->GetName(), change.workbookName)) break;
    }
  }
  // The worksheet: the workbook's active one, else the one of that name.
  Excel::_WorksheetPtr sheet = workbook->GetActiveSheet();
  if (!SameName(sheet->GetName(), change.sheetName)) {
    IDispatchPtr sheets = workbook->GetWorksheets();
    const LONG count = Excel::Worksheets(sheets).GetCount();
    for (LONG i = 1; i <= count; ++i) {
      sheet = Excel::Worksheets(sheets).GetItem(Index(i));
      if (SameName(sheet->GetName(), change.sheetName)) break;
    }
  }
  if (!SameName(workbook->GetName(), change.workbookName) ||
      !SameName(sheet->GetName(), change.sheetName)) {
    return false;  // closed or renamed meanwhile: the change is dropped
  }
  if (change.row == -1 && change.column == -1) {
    ImportReport report;
    ImportWorksheet(sheet, settings, report);
    return false;
  }

  IDispatchPtr cells = sheet->GetCells();
  for (int attempt = 0; attempt < 3; ++attempt) {
    const _variant_t value = Cell(cells, change.row, change.column)->GetValue();
    IDispatchPtr comment = Cell(cells, change.row, 1)->GetComment();
    if (!comment) return false;  // no data row
    std::wstring handle;
    try {
      handle = Str(Excel::Comment(comment).Text());
    } catch (const _com_error&) {
      Sleep(100);
      continue;
    }
    if (handle.empty()) continue;
    // The live link's header row is always row 1.
    Excel::RangePtr header = Cell(cells, 1, change.column);
    IDispatchPtr label = header->GetComment();
    const std::wstring header_text = Str(VariantToText(header->GetText()));
    std::vector<std::wstring> tags, values;
    if (!label) {
      const std::wstring text = Str(VariantToText(value));
      if (!header_text.empty()) {
        tags.push_back(header_text);
        values.push_back(text);
      }
    }
    // A property column writes nothing: only attributes follow a single cell.
    const bool written = SetAttributesByTag(handle, tags, values);
    if (written && g_reportChanges && !tags.empty()) {
      acutPrintf(L"%ls %ls = %ls\n", handle.c_str(), tags[0].c_str(), values[0].c_str());
    }
    return written;
  }
  return false;
}

bool Import2Operation() {
  return DrainChanges(&ImportChange);
}
