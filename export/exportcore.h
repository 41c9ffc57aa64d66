// The export core: every reference of one block name, anonymous variants of a dynamic block
// included, through the layer filter and the selection filter, handed to the worksheet writer.
//
//   currentRow = 1;                                     // the driver chooses the sheet and row
//   if (!ExportBlockName(L"DOOR", settings)) ...        // no such block: nothing written
//
// Which references, in which order:
// - a dynamic block's anonymous variants (*U records) first, in the order the drawing keeps
//   them, each with its direct references; then the named record's own references. All are
//   exported under the name asked for;
// - the layer filter (LayerFilterOn, drawing/layerfilter.h) keeps a reference whose layer
//   equals one of LayerFilterNames ignoring letter case (whole names; non-ASCII letters
//   folded); on with an empty list, it keeps none. A reference the filter cannot open as a
//   block reference is dropped there: the export would skip it anyway, and dropping it lets
//   the next reference stand first and receive the block name's header rows and worksheet;
// - a non-empty SelectedBlockRefs keeps only the ids it holds;
// - erased references, references that cannot be opened and references whose owner (model
//   space, a layout, or another block for a nested insert) cannot be opened are skipped
//   without a message. Only the reference standing first after the filters is written with the
//   first flag (header rows, new worksheet); when it is skipped, none is.
//
// Threads: the host's main thread only.
#pragma once

#include "settings/settings.h"

/// Exports every reference of block `blockName` (looked up in the block table ignoring letter
/// case, as the host finds records; the name as given is the one written) with ExportReference,
/// the first one with the first flag. Returns true when
/// the block definition was found and its references processed (also when none was written);
/// false, with nothing written and no message, when there is no working drawing, its block
/// table cannot be opened, `blockName` is null or no block of that name exists. A _com_error
/// of the writer passes through unchanged; every drawing object opened here is closed on the
/// way out. Reads LayerFilterNames, LayerFilterOn and SelectedBlockRefs and leaves them as
/// they are. The references of a call are gathered anew; nothing is kept between calls.
bool ExportBlockName(const wchar_t* blockName, const sheetwise::SettingsInfo& settings);
