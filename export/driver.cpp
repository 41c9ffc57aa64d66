#include "export/driver.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cwchar>

#include "app/resstring.h"
#include "app/vantaapp.h"
#include "drawing/blocknames.h"
#include "drawing/blockrefs.h"
#include "excel/excel.h"
#include "export/exportcore.h"
#include "export/worksheetwriter.h"
#include "link/linkcontrol.h"
#include "platform/host/docman.h"
#include "platform/host/editor.h"
#include "platform/host/menus.h"
#include "platform/win/codepage.h"
#include "platform/win/locale.h"
#include "platform/win/message.h"
#include "res/resource_ids.h"
#include "ui/selectnames.h"

using sheetwise::SettingsInfo;

namespace {

// The resource library is the current resource module while this object lives.
class ResourceScope {
 public:
  ResourceScope() { acDocManagerPtr()->pushResourceHandle(GetVantaApp()->m_hResource); }
  ~ResourceScope() { acDocManagerPtr()->popResourceHandle(); }
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;
};

bool IsLayoutBlockName(const std::wstring& name) {
  if (name.size() < 12) return false;
  const std::wstring head = FoldCase(name.substr(0, 12));
  return head == FoldCase(L"*MODEL_SPACE") || head == FoldCase(L"*PAPER_SPACE");
}

// A progress line on the terminal when the export takes more than a second.
class Progress {
 public:
  Progress() : start_(std::chrono::steady_clock::now()), terminal_(::isatty(2) == 1) {}
  ~Progress() {
    if (shown_) std::fputs("\n", stderr);
  }
  void Name(const std::wstring& name, int index, int count) {
    if (!terminal_) return;
    if (std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    shown_ = true;
    std::fprintf(stderr, "\rExporting %d of %d: %s\x1b[K", index, count, WideToUtf8(name).c_str());
    std::fflush(stderr);
  }

 private:
  std::chrono::steady_clock::time_point start_;
  bool terminal_;
  bool shown_ = false;
};

}  // namespace

bool ExportNames(const std::vector<std::wstring>& names, const SettingsInfo& settings,
                 const wchar_t* time_stamp, ExportSummary* summary) {
  CVantaApp* app = GetVantaApp();
  DisableLink(app);
  Excel::_ApplicationPtr excel;
  if (FAILED(AttachExcel(excel, "Excel.Application")) &&
      FAILED(CreateExcel(excel, "Excel.Application", nullptr, CLSCTX_ALL))) {
    MessageBoxW(adsw_acadMainWnd(), g_resString.Load(res::kSpreadsheetUnavailable).c_str(),
                g_resString.Load(res::kErrorCaption).c_str(), MB_ICONERROR);
    return false;
  }
  excel->PutVisible(VARIANT_TRUE);
  IDispatchPtr workbook;
  if (settings.WorkbookSettings == 1) workbook = excel->GetActiveWorkbook();
  if (!workbook) {
    IDispatchPtr workbooks = excel->GetWorkbooks();
    workbook = Excel::Workbooks(workbooks).Add();
  }
  Excel::_Workbook(workbook).Activate();
  if (settings.WorksheetSettings == 1) {
    currentRow = settings.FindNextBlankLine ? FindNextBlankRow(excel) : settings.StartRow;
  }
  Progress progress;
  int index = 0;
  for (const std::wstring& name : names) {
    progress.Name(name, ++index, static_cast<int>(names.size()));
    if (settings.WorksheetSettings == 0) currentRow = 1;
    const int rows_before = currentRow;
    const int references_before = exportedReferences;
    const int failed_before = failedRows;
    ExportBlockName(name.c_str(), settings);
    if (time_stamp != nullptr) WriteTimeStampLine(time_stamp);
    if (const int failed = failedRows - failed_before; failed > 0) {
      // Rows go to the spreadsheet as 16-bit numbers: nothing is written past row 32767.
      acutPrintf(L"\nBlock \"%ls\": %d row%ls could not be written%ls.\n", name.c_str(), failed,
                 failed == 1 ? L"" : L"s",
                 currentRow > 32767 ? L" (the worksheet rows end at 32767 here)" : L"");
      if (summary != nullptr) summary->failed_rows += failed;
    }
    if (summary != nullptr) {
      ++summary->names;
      summary->references += exportedReferences - references_before;
      summary->rows += currentRow - rows_before;
    }
  }
  if (settings.AutoConnect) EnableLink(app);
  return true;
}

bool ExportWithDialog(SettingsInfo& settings) {
  ResourceScope resources;
  const std::time_t start = std::time(nullptr);
  BlockNameMap map;
  if (!CollectBlockNames(map)) return false;
  std::vector<std::wstring> names;
  if (!SelectBlockNames(map, names)) return false;
  wchar_t stamp[128] = L"";
  std::tm local{};
  localtime_r(&start, &local);
  std::wcsftime(stamp, 128, L"%m/%d/%Y %H:%M:%S", &local);
  return ExportNames(names, settings, settings.TimeStamp ? stamp : nullptr, nullptr);
}

bool ExportWithPrompt() {
  ClearSelection();
  ResourceScope resources;
  SettingsInfo settings;
  LoadSettings(settings);
  BlockNameMap map;
  if (!CollectBlockNames(map)) return false;
  wchar_t answer[133] = L"";
  if (acedGetString(1, g_resString.Load(res::kBlockNamesPrompt).c_str(), answer, 133) != RTNORM)
    return false;
  std::vector<std::wstring> names;
  const std::wstring text = answer;
  if (text.empty()) {
    for (const auto& entry : map)
      if (!IsLayoutBlockName(entry.name)) names.push_back(entry.name);
  } else {
    // Pieces are taken as typed: a blank after a comma is part of the next name.
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t comma = text.find(L',', start);
      if (comma == std::wstring::npos) comma = text.size();
      const std::wstring piece = text.substr(start, comma - start);
      if (!piece.empty() && IsBlockNameKnown(piece.c_str(), map)) names.push_back(piece);
      start = comma + 1;
    }
  }
  return ExportNames(names, settings, nullptr, nullptr);
}

bool ExportOperation() {
  ClearSelection();
  SettingsInfo settings;
  LoadSettings(settings);
  if (settings.Selection && SelectBlockReferences(SelectedBlockRefs) == 0) return false;
  return ExportWithDialog(settings);
}

bool SelectionExportOperation() {
  ClearSelection();
  if (SelectBlockReferences(SelectedBlockRefs) == 0) return false;
  SettingsInfo settings;
  LoadSettings(settings);
  return ExportWithDialog(settings);
}

bool Export2Operation() {
  return ExportWithPrompt();
}
