// One data row of an imported worksheet: its header row read once into column meanings, the
// row's cells read against it, and the row applied to the block reference its handle names.
//
// Attribute columns are named by their header text (the tag, matched to the reference's
// attributes ignoring letter case); property columns by the comment on their header cell, which
// must equal a column label of the resource library exactly. Only what differs from the drawing
// is written, so a row that was not edited leaves its reference byte for byte as it was.
//
// Main thread, in a command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "excel/excel.h"
#include "import/cellnumber.h"
#include "import/import.h"

/// What a header-row column means for the data rows below it.
enum class ColumnKind { kAttribute, kLayer, kRotation, kX, kY, kZ, kScale };

struct HeaderColumn {
  LONG column = 0;
  ColumnKind kind = ColumnKind::kAttribute;
  std::wstring tag;  ///< the header text, for attribute columns
};

/// The columns of one header row that a data row reads, from import StartCol to the second empty
/// header cell (which ends every row) or column 255. Columns whose header is empty, or whose
/// comment is no label, are left out.
struct HeaderLayout {
  LONG row = 0;
  std::vector<HeaderColumn> columns;
  /// Said once for the header row when it names columns that no data row reads.
  std::vector<std::wstring> warnings;
};

/// The values read from one data row. Layer and rotation are kept from row to row within a
/// worksheet: a row whose header has no such column takes the last one read.
struct ImportRow {
  std::wstring handle;
  std::vector<std::wstring> tags;
  std::vector<std::wstring> values;
  /// The coordinate and scale cells in column order; an empty cell gives no value.
  std::vector<std::optional<double>> coordinates;
  std::vector<std::optional<double>> scales;
  /// A number or scale cell that could not be read: its property is left alone in this row.
  bool bad_coordinates = false;
  bool bad_scale = false;
  std::optional<double> rotation;     ///< radians; kept from row to row
  std::optional<std::wstring> layer;  ///< kept from row to row
  bool rotation_in_row = false;       ///< the row's header has a rotation column
  bool layer_in_row = false;          ///< the row's header has a layer column
};

/// The place a note names: sheet name and row.
struct RowPlace {
  std::wstring sheet;
  LONG row = 0;
  std::wstring Text() const;  ///< "Sheet \"TAG\" row 12"
};

/// Reads header row `row` of the worksheet whose Cells collection is `cells`, from `start_col`.
/// Raises _com_error when a spreadsheet call fails.
HeaderLayout ReadHeaderLayout(IDispatch* cells, LONG row, LONG start_col);

/// Reads data row `place.row` against `header` into `row` (tags, values, numbers; layer and
/// rotation kept from earlier rows when this header lacks them). Cells that cannot be read are
/// noted in `report`. A layer cell that cannot be turned into text raises _com_error with the
/// conversion's code, which ends the import.
void ReadImportRow(IDispatch* cells, const HeaderLayout& header, const RowPlace& place,
                   const UnitSettings& units, ImportRow& row, ImportReport& report);

/// Writes the row into the drawing object of its handle: the attributes whose text differs from
/// the row's, and unless `ignore_props` the position (all three coordinate columns read), scale
/// (three scale columns), layer and rotation, each only when it differs from the drawing's
/// value as the export would have written it. With `dry_run` nothing is written; the report
/// counts the same changes.
void ApplyImportRow(const ImportRow& row, bool ignore_props, bool dry_run, const RowPlace& place,
                    const UnitSettings& units, ImportReport& report);

/// The spreadsheet's name of a 1-based column: 1 "A", 27 "AA".
std::wstring ColumnName(LONG column);
