// `sheetwise import DRAWING BOOK.xlsx [-o OUT.dxf] [--sheet NAME] [--dry-run] [--settings FILE]`:
// the import of the Sheetwise application run on a drawing with BOOK as the active workbook,
// with the drawing saved and a report of what changed.
#pragma once

#include <cstdio>

namespace sheetwise::cli {

inline constexpr const char* kImportUsage =
    "usage: sheetwise import DRAWING.dxf BOOK.xlsx [-o OUT.dxf] [--sheet NAME] [--dry-run] "
    "[--settings FILE.ini]\n";

/// Which worksheets the shortcut reads: every worksheet of BOOK, the active one, or as the
/// settings (with --settings laid over them) say.
inline constexpr int kImportAllSheets = 1;
inline constexpr int kImportActiveSheet = 0;
inline constexpr int kImportSheetsAsSettings = -1;

/// The function the application library exports for the shortcut: imports the worksheet named
/// `sheet` (null or empty: the worksheets `sheets` chooses) of the active workbook into the
/// current drawing, prints the report, and unless `dry_run` saves the drawing to `output` (null
/// or empty: its own file, kept as .bak). Returns 0 done, 1 when the import failed (the error
/// reported on stderr) or the drawing could not be saved; nothing is written then. Main thread,
/// inside the host session.
using ImportShortcut = int (*)(const wchar_t* sheet, int sheets, int dry_run,
                               const wchar_t* output);
#define SW_IMPORT_SHORTCUT "sheetwise_import"

/// Runs the import on `args` (the arguments after "import"). Without --sheet every worksheet of
/// BOOK is read, unless the --settings file sets ImportSettings. --settings lays FILE over the
/// stored settings for this run only. Returns 0 done, 1 failed (message on `err`; the drawing
/// is not written), 2 bad usage.
int RunImportCommand(int argc, char** argv, const char* application, std::FILE* out,
                     std::FILE* err);

}  // namespace sheetwise::cli
