// Numbers read back from the property cells of an exported worksheet: coordinates and scale
// factors as the drawing's linear units write them, rotations as its angular units write them.
//
// A cell gives a number, nothing (an empty cell: the drawing keeps its value), or a refusal with
// a reason (a date, a logical, an error value, a text that is no number in the drawing's units).
// Nothing is ever guessed: "12abc" is refused, never read as 12, so that no block reference moves
// to a position the user did not write.
//
//   UnitSettings units = CurrentUnitSettings();
//   CellNumber x = CellToNumber(value, NumberColumn::kDistance, units);
//   if (x.kind == CellNumber::kNumber) ... x.value;
//
// Pure functions: any thread may call.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/comtypes.h"
#include "platform/host/units.h"

/// What a number column holds, which decides how its texts are read.
enum class NumberColumn {
  kDistance,  ///< X, Y, Z: the drawing's linear units (LUNITS)
  kScale,     ///< scale factors: plain numbers in any of the linear forms; never 0
  kAngle,     ///< rotation: the drawing's angular units (AUNITS); the result is in radians
};

/// A number cell read.
struct CellNumber {
  enum Kind {
    kNumber,   ///< `value` holds it (radians for kAngle)
    kEmpty,    ///< an empty cell or a text of blanks only
    kInvalid,  ///< `problem` says why, for the user: "is a date", "\"12abc\" is not a number"
  };
  Kind kind = kEmpty;
  double value = 0.0;
  std::wstring problem;
};

/// Reads a cell value (a VARIANT as the spreadsheet's Range.Value answers it) for `column`.
/// Numbers (VT_R8, VT_R4 and the integer types) are taken as they are for distances and scale
/// factors and, for angles, in the drawing's angular unit: degrees (AUNITS 0, 1, 4), grads (2) or
/// radians (3). Texts are read as the export writes them for the drawing's units (ParseDistance,
/// ParseAngle). VT_EMPTY, VT_NULL and blank texts are kEmpty. Dates, logicals, error values,
/// other types, texts that do not read completely, numbers that are not finite, and a scale
/// factor of 0 are kInvalid.
CellNumber CellToNumber(const VARIANT& value, NumberColumn column, const UnitSettings& units);

/// Reads a distance written in any of the host's linear formats, whatever the drawing's LUNITS:
/// decimal and scientific ("-12.5", "1.2500E+01"), feet and inches ("1'-5.50\"", "1'-5 1/2\"",
/// "1'5-1/2\"", "-2'", "7 3/4\"", "0'-0\"") with feet as 12 units, and fractions ("17 1/2",
/// "17-1/2", "3/8"). Blanks around the text are allowed. False, with `*value` untouched, for
/// anything else, a zero denominator, or a value that is not finite.
bool ParseDistance(std::wstring_view text, double* value);
