// The change queue of the live link: the cells changed in the spreadsheet, carried from the event
// sink's apartment thread to the host's main thread, which applies them to the drawing.
//
// The sink appends at the tail (PushChange); the main thread removes at the tail (PopChange,
// DrainChanges), so changes are applied newest first: the last edit made in the spreadsheet wins
// the drawing first. Nothing but the consumer empties the queue; switching the link off keeps
// what is queued.
//
// The consumer, the Import2 keyword, drains it like this:
//
//   bool Import2Operation() {
//     return DrainChanges([](const XLChangeInfo& change) { return ImportChange(change); });
//   }
//
// Threads: every function here may be called from any thread; each append, removal and count is
// atomic with respect to the others.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/win/wintypes.h"

/// One changed cell: the top-left cell of a changed range. A plain record of fixed size, copied
/// as a whole. The names are zero-terminated and hold at most MAX_PATH - 1 characters.
struct XLChangeInfo {
  LONG column;                   ///< 1-based column number
  LONG row;                      ///< 1-based row number
  WCHAR sheetName[MAX_PATH];     ///< the worksheet's name
  WCHAR workbookName[MAX_PATH];  ///< the workbook's name as the spreadsheet shows it, no path
};

/// A record for `column`, `row` of worksheet `sheet` in workbook `workbook` (null names are
/// empty). Names longer than MAX_PATH - 1 characters are cut to that length.
XLChangeInfo MakeChangeInfo(LONG column, LONG row, const wchar_t* sheet, const wchar_t* workbook);

/// Appends `change` at the tail. The sink's thread (any thread). Never fails short of running
/// out of memory (std::bad_alloc).
void PushChange(const XLChangeInfo& change);

/// Removes the tail record (the newest) into `*change`; false, with `*change` untouched, when the
/// queue is empty.
bool PopChange(XLChangeInfo* change);

/// Copies the tail record (the newest) into `*change` and leaves it queued; false when empty.
bool PeekChange(XLChangeInfo* change);

/// How many records are queued now (the answer may be stale once another thread appends).
std::size_t ChangeCount();

/// Removes every record and returns them newest first.
std::vector<XLChangeInfo> TakeAllChanges();

/// The drain of the Import2 keyword, on the main thread: signals the import-busy event
/// (g_hImportBusy, app/vantaapp.h), then removes the tail record and passes it to `apply` while
/// the queue is not empty (the count is read afresh each time, so records the sink appends
/// meanwhile are applied in the same drain), then resets the event. Returns the result of the
/// last `apply`, false when the queue was empty. An exception from `apply` (a COM error) resets
/// the event and goes on to the caller; the records not yet taken stay queued.
bool DrainChanges(const std::function<bool(const XLChangeInfo&)>& apply);
