// `sheetwise link DRAWING BOOK.xlsx`: the live link between a drawing and a workbook, until
// Ctrl-C, with the drawing saved after every applied change.
#pragma once

#include <cstdio>

namespace sheetwise::cli {

inline constexpr const char* kLinkUsage = "usage: sheetwise link DRAWING.dxf BOOK.xlsx\n";

/// The function the application library exports for the shortcut: connects the live link and
/// has every applied change printed. 0 connected, 1 failed.
using LinkShortcut = int (*)();
#define SW_LINK_SHORTCUT "sheetwise_link_connect"

/// Runs the link on `args` (the arguments after "link"): BOOK is opened in the spreadsheet
/// application and watched; cells changed in it (by this program or saved by another) are
/// written into DRAWING, one line printed per change; the drawing is saved after each batch,
/// atomically. When another program changed the drawing file since it was read or last saved,
/// it is not overwritten: the drawing goes to DRAWING.linked.dxf beside it, and the user is told.
/// Returns 0 after Ctrl-C, 1 when the drawing, workbook or application cannot be opened or a save
/// fails, 2 bad usage.
int RunLinkCommand(int argc, char** argv, const char* application, std::FILE* out, std::FILE* err);

}  // namespace sheetwise::cli
