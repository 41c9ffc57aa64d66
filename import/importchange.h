// The live link's import of changed cells: each queued record names one edited cell, whose value
// goes into the one attribute its column's header names.
//
// Threads: the host's main thread, inside the VANTA command (its Import2 keyword).
#pragma once

struct XLChangeInfo;

/// When set, every attribute written prints one line: "HANDLE TAG = VALUE" (the link shortcut).
extern bool g_reportChanges;

/// Writes the edited cell of `change` into the drawing: finds the workbook and worksheet by name,
/// reads the cell, the handle comment of its row (three attempts, 100 ms apart, while reading
/// the comment fails) and the header of its column in row 1; an attribute column's value is
/// written by tag, a property column (its header has a label comment) writes nothing. A record
/// for the whole worksheet (row and column -1) imports the worksheet. Returns what the write
/// returned; false when nothing was written (no spreadsheet running, workbook or sheet gone, no
/// handle). A COM error other than reading the comment goes to the caller.
bool ImportChange(const XLChangeInfo& change);

/// The Import2 keyword: drains the change queue newest first through ImportChange; the last
/// record's result, false when the queue was empty.
bool Import2Operation();
