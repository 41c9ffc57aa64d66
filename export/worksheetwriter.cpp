#include "export/worksheetwriter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "app/resstring.h"
#include "drawing/attributes.h"
#include "export/export_internal.h"
#include "platform/host/dbapserv.h"
#include "platform/host/dbents.h"
#include "platform/host/dbsymtb.h"
#include "platform/host/editor.h"
#include "platform/host/menus.h"
#include "platform/host/units.h"
#include "platform/win/locale.h"
#include "platform/win/message.h"
#include "res/resource_ids.h"

using export_internal::ClosedOnExit;
using export_internal::ResourceScope;
using sheetwise::SettingsInfo;

int32_t currentRow = 1;
int exportedReferences = 0;
int failedRows = 0;
std::vector<std::pair<std::wstring, std::wstring>> renamedSheets;

namespace {

constexpr const char* kExcelProgId = "Excel.Application";
// Number texts are formed in a buffer of this many characters (terminator included).
constexpr std::size_t kNumberBufferChars = 512;
// The blank-row search looks at rows below this one and at this many columns.
constexpr LONG kBlankRowLimit = 0x10000;
constexpr LONG kBlankRowColumns = 255;
// Excel refuses a sheet name (too long, a forbidden character, "History") with this code.
constexpr HRESULT kNameRefused = static_cast<HRESULT>(0x800A03ECu);

// A row or column number as the VT_I2 index the writer sends. A number a 16-bit index cannot
// carry is refused here rather than wrapped onto another row, which would overwrite it.
_variant_t I2Index(int32_t n) {
  if (n < SHRT_MIN || n > SHRT_MAX) _com_issue_error(DISP_E_OVERFLOW);
  return _variant_t(static_cast<SHORT>(n));
}

Excel::RangePtr CellAt(IDispatch* cells, const VARIANT& row, const VARIANT& column) {
  return Excel::RangePtr(Excel::Range(cells).GetItem(row, column));
}

// Gives `cell` the comment `text`, replacing the text of a comment it already has (the
// application refuses a second comment on one cell).
void SetComment(const Excel::RangePtr& cell, const std::wstring& text) {
  IDispatchPtr comment = cell->GetComment();
  if (comment == nullptr)
    cell->AddComment(_variant_t(text.c_str()));
  else
    Excel::Comment(comment).Text(_variant_t(text.c_str()));
}

void PutText(const Excel::RangePtr& cell, const std::wstring& text, bool as_text) {
  if (as_text) cell->PutNumberFormat(_variant_t(L"@"));
  cell->PutValue(_variant_t(text.c_str()));
}

// The box a failing row shows; the export goes on after it.
void ShowRowWriteFailed() {
  const std::wstring text = g_resString.Load(res::kRowWriteFailed);
  const std::wstring caption = g_resString.Load(res::kErrorCaption);
  MessageBoxW(adsw_acadMainWnd(), text.c_str(), caption.c_str(), MB_ICONERROR);
}

// WriteRow without its handler: every spreadsheet object lives in this scope, so that they
// are released before the message box of a failure is shown.
void WriteRowOrRaise(bool header, bool bold, const SettingsInfo& settings, const RowTexts& values,
                     const RowTexts& comments) {
  Excel::_ApplicationPtr app;
  if (FAILED(AttachExcel(app, kExcelProgId))) return;
  Excel::_WorksheetPtr sheet = app->GetActiveSheet();
  IDispatchPtr cells = sheet->GetCells();
  const _variant_t row = I2Index(currentRow);

  std::size_t first_value = 0;
  if (!header) {
    if (!values.empty()) SetComment(CellAt(cells, row, I2Index(1)), values[0]);
    first_value = 1;
  } else {
    for (std::size_t i = 0; i < comments.size(); ++i) {
      if (comments[i].empty()) continue;
      SetComment(CellAt(cells, row, I2Index(static_cast<int32_t>(i) + 1)), comments[i]);
    }
  }

  int32_t column = 1;
  for (std::size_t i = first_value; i < values.size(); ++i, ++column)
    PutText(CellAt(cells, row, I2Index(column)), values[i], settings.AsText);

  if (header && bold) {
    wchar_t address[32];
    std::swprintf(address, 32, L"A%d", static_cast<int>(currentRow));
    const _variant_t where(address);
    IDispatchPtr range = sheet->GetRange(where, where);
    IDispatchPtr entire_row = Excel::Range(range).GetEntireRow();
    Excel::Font(Excel::Range(entire_row).GetFont()).PutBold(_variant_t(true));
  }
  ++currentRow;
}

void WriteTimeStampLineOrRaise(const wchar_t* text) {
  Excel::_ApplicationPtr app;
  if (FAILED(AttachExcel(app, kExcelProgId))) return;
  Excel::_WorksheetPtr sheet = app->GetActiveSheet();
  IDispatchPtr cells = sheet->GetCells();
  ++currentRow;  // an empty row stays above the line
  PutText(CellAt(cells, I2Index(currentRow), I2Index(2)), text != nullptr ? text : L"", true);
  ++currentRow;
}

// An empty text, as the blank-row search counts it: none, null or of zero length.
bool ShowsNothing(const Excel::RangePtr& cell) {
  const _variant_t text = cell->GetText();
  if (text.vt == VT_EMPTY || text.vt == VT_NULL) return true;
  if (text.vt == VT_BSTR) return text.bstrVal == nullptr || SysStringLen(text.bstrVal) == 0;
  return VariantToText(text).length() == 0;
}

std::wstring FormatDistanceText(double value) {
  wchar_t buffer[kNumberBufferChars] = {};
  if (acdbRToS(value, -1, -1, buffer, kNumberBufferChars) != RTNORM) buffer[0] = L'\0';
  return buffer;
}

std::wstring FormatAngleText(double radians) {
  wchar_t buffer[kNumberBufferChars] = {};
  if (acdbAngToS(radians, -1, -1, buffer, kNumberBufferChars) != RTNORM) buffer[0] = L'\0';
  return buffer;
}

// The name as it comes back from the system ANSI code page, where sheet names are compared.
std::wstring ThroughAnsi(const wchar_t* text) {
  const _bstr_t wide(text);
  const std::string ansi = BSTRToAnsi(wide);
  const _bstr_t back(AnsiToBSTR(ansi.c_str()), false);
  return back.length() != 0 ? std::wstring(static_cast<const wchar_t*>(back)) : std::wstring();
}

}  // namespace

void WriteRow(bool header, bool bold, const SettingsInfo& settings, const RowTexts& values,
              const RowTexts& comments) {
  try {
    WriteRowOrRaise(header, bold, settings, values, comments);
  } catch (...) {
    // One box per failing row; the export goes on with its next row.
    ++failedRows;
    ShowRowWriteFailed();
  }
}

void WriteTimeStampLine(const wchar_t* text) {
  try {
    WriteTimeStampLineOrRaise(text);
  } catch (...) {
    ++failedRows;
    ShowRowWriteFailed();
  }
}

void AddNamedWorksheet(const Excel::_WorkbookPtr& workbook, const wchar_t* name,
                       Excel::_WorksheetPtr& worksheet) {
  worksheet = nullptr;
  IDispatchPtr sheets = workbook->GetWorksheets();
  const Excel::Worksheets collection(sheets);
  Excel::_WorksheetPtr added = collection.Add();
  worksheet = added;

  const std::wstring wanted = ThroughAnsi(name != nullptr ? name : L"");
  bool taken = false;
  // The count is read anew at each step; the new sheet, already in the collection under the
  // application's name, is compared too.
  for (LONG i = 1; !taken && i <= collection.GetCount(); ++i) {
    Excel::_WorksheetPtr sheet = collection.GetItem(_variant_t(i));
    const _bstr_t sheet_name = sheet->GetName();
    taken = EqualsNoCase(ThroughAnsi(sheet_name), wanted);
  }
  const wchar_t* why = nullptr;
  if (taken) {
    why = L"a worksheet of that name already exists";
  } else {
    try {
      added->PutName(_bstr_t(wanted.c_str()));
    } catch (const _com_error& e) {
      // A name the application refuses leaves the sheet the name it gave it, as a taken name
      // does: the rows still get their own sheet, and the block-name column says whose.
      if (e.Error() != kNameRefused) throw;
      if (wanted.size() > 31) {
        why = L"a worksheet name has at most 31 characters";
      } else if (wanted.find_first_of(L"[]:*?/\\") != std::wstring::npos) {
        why = L"a worksheet name cannot hold any of [ ] : * ? / \\";
      } else {
        why = L"the spreadsheet application refuses it as a worksheet name";
      }
    }
  }
  if (why != nullptr) {
    // The user learns where the rows went; the summary lists these names too.
    const std::wstring sheet_name = static_cast<const wchar_t*>(added->GetName());
    acutPrintf(L"\nBlock \"%ls\": %ls; its rows are on worksheet \"%ls\".\n", wanted.c_str(), why,
               sheet_name.c_str());
    renamedSheets.emplace_back(wanted, sheet_name);
  }
  added->Activate();
}

int32_t FindNextBlankRow(const Excel::_ApplicationPtr& app) {
  Excel::_WorksheetPtr sheet = app->GetActiveSheet();
  if (!sheet) return 1;
  IDispatchPtr cells = sheet->GetCells();
  for (LONG row = 1; row < kBlankRowLimit; ++row) {
    const _variant_t row_index(row);
    if (!ShowsNothing(CellAt(cells, row_index, _variant_t(LONG{1})))) continue;
    bool blank = true;
    for (LONG column = 2; blank && column <= kBlankRowColumns; ++column)
      blank = ShowsNothing(CellAt(cells, row_index, _variant_t(column)));
    if (blank) return row;
  }
  return 1;
}

void AutoFitColumns() {
  Excel::_ApplicationPtr app;
  if (FAILED(AttachExcel(app, kExcelProgId))) return;
  Excel::_WorksheetPtr sheet = app->GetActiveSheet();
  IDispatchPtr columns = sheet->GetColumns();
  Excel::Range(columns).AutoFit();
}

void ExportReference(AcDbBlockReference* blockReference, const SettingsInfo& settings, bool first,
                     const wchar_t* blockName) {
  ResourceScope resources;
  Excel::_ApplicationPtr app;
  if (FAILED(AttachExcel(app, kExcelProgId))) return;
  if (blockReference == nullptr) return;
  AcDbBlockTableRecord* record = nullptr;
  if (acdbOpenObject(record, blockReference->blockTableRecord(), AcDb::kForRead) != Acad::eOk)
    return;
  ClosedOnExit<AcDbBlockTableRecord> record_closer(record);

  const std::wstring block_name = blockName != nullptr ? blockName : L"";
  RowTexts cells;
  RowTexts headers;
  RowTexts header_comments;

  wchar_t handle[kNumberBufferChars] = {};
  blockReference->handle().getIntoAsciiBuffer(handle, kNumberBufferChars);
  cells.emplace_back(handle);
  // Headers and their notes are written with the first reference only: the others skip
  // loading their texts.
  if (settings.BlockNames) {
    if (first) headers.push_back(g_resString.Load(res::kHeaderBlockName));
    cells.push_back(block_name);
  }

  AttInfoArray attributes;
  if (CollectAttributes(blockReference, attributes)) {
    if (settings.Sort) {
      std::stable_sort(attributes.begin(), attributes.end(),
                       [](const AttInfo& a, const AttInfo& b) {
                         return export_internal::CollateNoCase(a.tag, b.tag) < 0;
                       });
    }
    std::vector<const AttInfo*> written;
    for (const AttInfo& attribute : attributes) {
      if (attribute.isConstant && !settings.IncludeConstant) continue;
      if (first) headers.push_back(attribute.tag);
      cells.push_back(attribute.value);
      written.push_back(&attribute);
    }
    if (first) header_comments.assign(cells.size() - 1, std::wstring());

    auto add_column = [&](UINT header_id, UINT label_id, std::wstring value) {
      if (first) {
        headers.push_back(g_resString.Load(header_id));
        header_comments.push_back(g_resString.Load(label_id));
      }
      cells.push_back(std::move(value));
    };
    const AcGePoint3d position = blockReference->position();
    // S-JTSK coordinates are negative by convention; its users want them written positive.
    auto coordinate = [&](double value) {
      return FormatDistanceText(settings.JTSK ? std::fabs(value) : value);
    };
    if (settings.XCoord) add_column(res::kHeaderX, res::kLabelX, coordinate(position.x));
    if (settings.YCoord) add_column(res::kHeaderY, res::kLabelY, coordinate(position.y));
    if (settings.ZCoord) add_column(res::kHeaderZ, res::kLabelZ, coordinate(position.z));
    if (settings.Rotation)
      add_column(res::kHeaderRotation, res::kLabelRotation,
                 FormatAngleText(blockReference->rotation()));
    if (settings.Scale) {
      const AcGeScale3d scale = blockReference->scaleFactors();
      add_column(res::kHeaderScaleX, res::kLabelScaleX, FormatDistanceText(scale.sx));
      add_column(res::kHeaderScaleY, res::kLabelScaleY, FormatDistanceText(scale.sy));
      add_column(res::kHeaderScaleZ, res::kLabelScaleZ, FormatDistanceText(scale.sz));
    }
    if (settings.LayerNames)
      add_column(res::kHeaderLayer, res::kLabelLayer,
                 export_internal::TakeHostString(blockReference->layer()));
    if (settings.LayoutNames) {
      const AcString layout =
          acdbHostApplicationServices()->layoutManager()->findActiveLayout(true);
      if (!layout.isEmpty()) add_column(res::kHeaderLayout, res::kLabelLayout, layout.str());
    }

    if (first) {
      if (settings.WorksheetSettings == 1) {
        if (settings.AddHeader) WriteRow(true, true, settings, headers, header_comments);
      } else {
        Excel::_WorkbookPtr workbook = app->GetActiveWorkbook();
        Excel::_WorksheetPtr worksheet;
        AddNamedWorksheet(workbook, block_name.c_str(), worksheet);
        WriteRow(true, true, settings, headers, header_comments);
      }
      if (settings.ExportAttPrompts) {
        RowTexts prompts;
        if (settings.BlockNames) prompts.emplace_back();
        for (const AttInfo* attribute : written) prompts.push_back(attribute->prompt);
        WriteRow(true, true, settings, prompts, RowTexts(prompts.size()));
      }
    }
    if (settings.OddLine) ++currentRow;
    const int32_t data_row = currentRow;
    WriteRow(false, true, settings, cells, RowTexts());
    // A failed row leaves currentRow where it was.
    if (currentRow != data_row) ++exportedReferences;
  }
  if (!first && !settings.NoAutofit) AutoFitColumns();
}
