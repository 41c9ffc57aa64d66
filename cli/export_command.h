// `sheetwise export DRAWING [-o BOOK.xlsx] [--names A,B] [--name NAME]... [--settings FILE.ini]`:
// the prompt export of the Sheetwise application run on a drawing, with its workbook saved.
#pragma once

#include <cstdio>

namespace sheetwise::cli {

inline constexpr const char* kExportUsage =
    "usage: sheetwise export DRAWING.dxf [-o BOOK.xlsx] [--names A,B] [--name NAME]... "
    "[--settings FILE.ini]\n";

/// The function the application library exports for the shortcut: exports the blocks `names`
/// (count 0: every named block that has attribute definitions) as the prompt export does, and
/// prints a summary. Returns 0 done, 1 failed.
using ExportShortcut = int (*)(const wchar_t* const* names, int count);
#define SW_EXPORT_SHORTCUT "sheetwise_export"

/// Runs the export on `args` (the arguments after "export"). Without -o the workbook is
/// DRAWING.xlsx beside the drawing. An existing BOOK is opened first as the active workbook (kept
/// as BOOK.bak when the export replaces it). --settings lays FILE over the stored settings for
/// this run only. Returns 0 done, 1 failed (message on `err`), 2 bad usage.
int RunExportCommand(int argc, char** argv, const char* application, std::FILE* out,
                     std::FILE* err);

}  // namespace sheetwise::cli
