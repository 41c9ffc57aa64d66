// The export's first question: which block names to write, asked in the block-name selection
// dialog (CDlgSelNames) over the names of the working drawing.
//
//   BlockNameMap map;
//   if (!CollectBlockNames(map)) return false;
//   std::vector<std::wstring> names;
//   if (!SelectBlockNames(map, names)) return false;     // the user cancelled
//
// Threads: the host's main thread, inside a command.
#pragma once

#include <string>
#include <vector>

class BlockNameMap;

/// Shows the block-name selection dialog over `map` (read only; its names whose blocks have
/// attribute definitions are listed and selected at the start) with the application's
/// resource library as the current resource module, and the host's main window as parent.
/// OK: appends the names of the selected rows, in list order, to `names` (nothing when no row
/// is selected) and returns true. Cancel, Escape, the end of the script, or a dialog that
/// cannot be shown (its template missing from the resource library; the reason is on the
/// dialog output): `names` is left as it was and the result is false. The filter dialog's
/// layer choice, confirmed with OK, is in LayerFilterNames and LayerFilterOn afterwards
/// whatever the result.
bool SelectBlockNames(const BlockNameMap& map, std::vector<std::wstring>& names);
