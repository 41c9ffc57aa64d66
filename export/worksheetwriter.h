// The worksheet writer: one block reference as worksheet rows (a header row, an optional
// prompt row, one data row per reference whose first cell carries the reference's handle as
// its comment), and the small worksheet operations the export calls around it.
//
// The layout written here is the one the import reads:
//
//   row  A           B        C        D     E     F     G ...
//   hdr  Block name  NUMBER   NAME     X     Y     Z     Rotation  Scale X ... Layer  Layout
//   prm              Room no. Name                                   (ExportAttPrompts only)
//   data ROOM        101      Office   10.0  20.0  0.0   0         1.0 ...    A-ROOM Model
//        ^ comment: the handle ("2D2")
//
// The header cells of the property columns carry the column labels (resource strings 14-28,
// 30) as comments; the import finds the columns by them. Every column appears only with its
// option (SettingsInfo). Values go to the spreadsheet as text (VT_BSTR); row and column
// numbers as VT_I2, so the writer serves rows and columns 1 to 32767.
//
// Every operation attaches to the running spreadsheet application afresh and does nothing
// when none runs; no spreadsheet object is kept between calls.
//
//   currentRow = 1;
//   ExportReference(ref, settings, /*first=*/true, L"ROOM");    // header rows + data row
//   ExportReference(ref2, settings, /*first=*/false, L"ROOM");  // data row, column fit
//   WriteTimeStampLine(L"03/14/2024 09:26:53");
//
// Threads: the host's main thread only (the drawing's objects and currentRow belong to it).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "excel/excel.h"
#include "settings/settings.h"

class AcDbBlockReference;

/// The worksheet row that the next row write uses (1-based); 1 when the library is loaded.
/// The export driver sets it before a block name's rows; every row write uses it and adds 1
/// (an OddLine row and the time-stamp line's empty row add 1 more). Kept from one export
/// command to the next until the driver sets it again; never saved. Main thread only (no
/// lock).
extern int32_t currentRow;

/// Data rows written by ExportReference since the library loaded (summaries take differences).
extern int exportedReferences;
/// Rows (data, header or time stamp) whose write failed and was reported in a box.
extern int failedRows;
/// Block names that could not name their worksheet, with the sheet their rows went to.
extern std::vector<std::pair<std::wstring, std::wstring>> renamedSheets;

/// The texts of one row, column 1 first (the wide strings of a CStringArray).
using RowTexts = std::vector<std::wstring>;

/// Writes the rows of one block reference at `currentRow` of the active worksheet.
///
/// `blockReference` is open for read (the caller closes it); `blockName` is the name written
/// in the block-name column and, with a worksheet per block name, the name of the worksheet
/// created for it (for the anonymous variants of a dynamic block, the dynamic block's own
/// name). With `first` set (the first reference of the block name) the header rows come
/// first: with WorksheetSettings 1 a header row when AddHeader is on; otherwise a new
/// worksheet named `blockName` (AddNamedWorksheet) and a header row in any case; then, with
/// ExportAttPrompts, the prompt row. Then the data row (with OddLine one empty row above it).
/// When `first` is clear and NoAutofit is off, the columns are fitted afterwards, so a block
/// name's first reference never gets a column fit.
///
/// Nothing is written when no spreadsheet runs or the reference's block definition cannot be
/// opened; when the reference's attributes cannot be collected, no row is written (the column
/// fit still runs). A failing row write shows its message box and the call goes on
/// (WriteRow). Raises the _com_error of AddNamedWorksheet, of the active workbook and of
/// AutoFitColumns; rows written before stay, and `currentRow` keeps its value at that moment.
/// The resource library is the current resource module for the whole call; every object
/// opened here is closed on every way out.
void ExportReference(AcDbBlockReference* blockReference, const sheetwise::SettingsInfo& settings,
                     bool first, const wchar_t* blockName);

/// Writes one row at `currentRow` of the active sheet, then adds 1 to `currentRow`.
///
/// A data row (`header` false): values[0] is the reference's handle and becomes the comment of
/// the row's first cell (replacing the text of a comment already there); values[1...] are
/// written from column 1 on; `comments` is not used. A header row (`header` true): values[0...]
/// are written from column 1 on, and the cell in column i + 1 gets comments[i] as comment
/// wherever comments[i] is not empty; with `bold` the whole row is made bold. With
/// settings.AsText every written cell gets the text number format "@" before its value.
///
/// Never raises. When no spreadsheet runs, nothing happens (`currentRow` unchanged). Any
/// failure on the way (a chart sheet active, a row above 32767, an error of the application)
/// stops the row where it got, leaves `currentRow` unchanged and shows a message box on the
/// host's main window (resource string 55, caption string 5, error icon), after which the
/// caller goes on with its next row.
void WriteRow(bool header, bool bold, const sheetwise::SettingsInfo& settings,
              const RowTexts& values, const RowTexts& comments);

/// Adds a worksheet to `workbook` and activates it; `worksheet` receives it. The sheet is
/// named `name` unless a sheet of the workbook already has that name ignoring letter case
/// (non-ASCII letters folded) or the application refuses the name (too long, one of
/// []:*?/\, ...): then it keeps the name the application gave it (Sheet4 ...), so that the
/// rows meant for `name` still have their own sheet. Raises _com_error for a null workbook
/// (E_POINTER) and for any other failure of the application; `worksheet` then holds the
/// added sheet when the failure came after the addition, else null.
void AddNamedWorksheet(const Excel::_WorkbookPtr& workbook, const wchar_t* name,
                       Excel::_WorksheetPtr& worksheet);

/// The first blank row of the active sheet of `app`: the first row, from 1 up to 65535, whose
/// cells in columns 1 to 255 all show an empty text (text beyond column 255 does not count).
/// Returns 1 when no worksheet is active (no workbook, a chart sheet) and when every row up to
/// 65535 holds text. Costs one cell read per row above the result, plus the columns read of
/// rows whose first cell is empty. Raises _com_error for a failure of the application and
/// E_POINTER for a null `app`.
int32_t FindNextBlankRow(const Excel::_ApplicationPtr& app);

/// Writes `text` in column 2 of the active sheet, as text ("@"), after one empty row:
/// `currentRow` + 1 is the row written, and `currentRow` ends 2 higher. Never raises: no
/// spreadsheet, nothing; a failure leaves `currentRow` as far as it got and shows the message
/// box of WriteRow.
void WriteTimeStampLine(const wchar_t* text);

/// Fits the width of every column of the active sheet to its widest shown text (the
/// application keeps the widths up to date, so the cost does not grow with the rows). Nothing
/// when no spreadsheet runs; raises _com_error(E_POINTER) when the active sheet is not a
/// worksheet (or there is none) and the application's error otherwise.
void AutoFitColumns();
