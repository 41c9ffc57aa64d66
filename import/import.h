// The import: worksheets that the export wrote, edited by the user, read back row by row into
// the drawing. A data row is a row whose column-A cell carries a comment (the handle of the block
// reference it describes); a header row is a row whose column-A cell has no comment and shows
// exactly "Block name", and names the columns of the data rows below it: attribute tags by their
// text, property columns by the label in their comment.
//
//   sheetwise::SettingsInfo settings;
//   sheetwise::LoadSettings(settings);
//   ImportReport report;
//   RunImport(settings, &report);           // always false: the Import keyword has no result
//   if (report.completed) acutPrintf(L"%ls", report.Text().c_str());
//
// Everything runs on the host's main thread, inside a command, against the working drawing and
// the running spreadsheet application. A failing spreadsheet call raises _com_error, which ends
// the whole import (the command's guard reports it); rows already applied stay applied.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "excel/excel.h"
#include "settings/settings.h"

/// What an import did, or in a dry run would do, for the user to read.
struct ImportReport {
  /// Set when the import ran to its end (no spreadsheet error, the settings were usable).
  bool completed = false;
  /// No spreadsheet application ran: nothing was read.
  bool no_spreadsheet = false;
  bool dry_run = false;
  std::size_t worksheets = 0;
  std::size_t data_rows = 0;
  /// Distinct drawing objects that took at least one change.
  std::set<std::wstring> updated;
  std::size_t attributes_written = 0;
  std::size_t positions_written = 0;
  std::size_t scales_written = 0;
  std::size_t rotations_written = 0;
  std::size_t layers_written = 0;
  std::size_t unknown_handles = 0;
  std::size_t not_block_references = 0;
  /// Header tags that the row's block reference has no attribute of: tag -> rows.
  std::map<std::wstring, std::size_t> tags_not_found;
  /// Rows skipped and cells not taken, each with its sheet, row and column, in reading order.
  std::vector<std::wstring> notes;
  /// Where the import stopped reading before the end of what the sheet holds.
  std::vector<std::wstring> warnings;

  /// Adds a note; after kMaxNotes only the count grows.
  void Note(std::wstring text);
  std::size_t notes_left_out = 0;
  static constexpr std::size_t kMaxNotes = 200;

  /// The report as lines of text, each ending in "\n": a summary line, the skipped rows by
  /// cause, the tags not found, the notes and the warnings ("warning: ...").
  std::wstring Text() const;
};

/// The import's own course, beside the settings.
struct ImportOptions {
  /// Nothing is written to the drawing; the report tells what would change.
  bool dry_run = false;
  /// Read only the worksheet of this name (letter case ignored) in the active workbook,
  /// whatever ImportSettings says. Empty: as ImportSettings says.
  std::wstring sheet;
};

/// The Import keyword's work: attaches to the running spreadsheet application (never starts
/// one; without one it ends at once, `report->no_spreadsheet` set), then reads every worksheet
/// of the active workbook in index order (ImportSettings 1) or the active sheet, and applies
/// each data row to the drawing. A missing workbook, a missing or non-worksheet active sheet, or
/// a `options.sheet` the workbook lacks raises _com_error(E_POINTER) with a description. A
/// StartRow or StartCol below 1 is reported in a message box and nothing is read. Returns false
/// in every case: the import has no result. `report` may be null. Main thread, in a command.
bool RunImport(const sheetwise::SettingsInfo& settings, ImportReport* report = nullptr,
               const ImportOptions& options = {});

/// Reads and applies one worksheet from import StartRow down, while the row is below 65536 and
/// at most 500 rows without a handle comment have been met (counted over the whole sheet; the
/// 501st ends it). Header rows are found again on every "Block name" row; data rows above the
/// first one are read against row 1. Main thread, in a command.
void ImportWorksheet(const Excel::_WorksheetPtr& sheet, const sheetwise::SettingsInfo& settings,
                     ImportReport& report, const ImportOptions& options = {});
