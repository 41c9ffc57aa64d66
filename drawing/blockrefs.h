// The block references the user picked for an export: the process-wide list that restricts
// the export to them, and the selection that fills it.
//
//   ClearSelection();                                      // every export command starts so
//   if (SelectBlockReferences(SelectedBlockRefs) == 0) return false;   // cancelled
//
// Threads: the host's main thread only.
#pragma once

#include "platform/host/acdbcore.h"

/// The object ids of the picked block references, in selection order. Empty when the library
/// is loaded; non-empty means that exports are restricted to these ids. It keeps its contents
/// between commands, so every export command empties it first (ClearSelection); ids of a
/// drawing that has since been closed must not be opened. Main thread only (no lock).
extern AcDbObjectIdArray SelectedBlockRefs;

/// Appends to `list` the block references the user selected: the pick-first set (objects
/// selected before the command) when it holds any block reference, otherwise the host's
/// ordinary object selection ("Select objects: "), both filtered to INSERT entities, so that
/// lines and texts picked with them are dropped. Ids already in `list` are not looked for
/// (two calls append twice). Returns the number of ids appended: 0, with `list` unchanged,
/// when the user cancelled or selected no block reference, or there is no working drawing.
/// Main thread.
int SelectBlockReferences(AcDbObjectIdArray& list);

/// Empties SelectedBlockRefs. Main thread.
void ClearSelection();
