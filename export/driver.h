// The export keywords and their two drivers: which block names are exported, which workbook and
// row they go to, then the export core once per name.
//
// Threads: the host's main thread, inside the VANTA command (or the export shortcut).
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"

/// Counts of one export, for the shortcut's summary.
struct ExportSummary {
  int names = 0;        // block names exported
  int references = 0;   // references written as data rows
  int rows = 0;         // worksheet rows written (headers, prompts and time stamps included)
  int failed_rows = 0;  // rows that could not be written
};

/// Export: with the stored settings, a selection first when `Selection` is on.
bool ExportOperation();
/// Selection+export: a selection, then the export with the stored settings.
bool SelectionExportOperation();
/// Export2 and Export3: the block names typed at a prompt (Enter: every named block).
bool Export2Operation();

/// The dialog driver: names chosen in the selection dialog; a time stamp after each name when
/// `TimeStamp` is on.
bool ExportWithDialog(sheetwise::SettingsInfo& settings);
/// The prompt driver.
bool ExportWithPrompt();
/// The spreadsheet steps common to both drivers, for `names` in order: attach or start the
/// spreadsheet application, choose the workbook and start row, export each name, and switch the
/// live link on when `AutoConnect` asks for it. `start_time` is written as a time stamp after
/// each name when not null. False (after the message box) when the spreadsheet application
/// cannot be had.
bool ExportNames(const std::vector<std::wstring>& names, const sheetwise::SettingsInfo& settings,
                 const wchar_t* time_stamp, ExportSummary* summary);
