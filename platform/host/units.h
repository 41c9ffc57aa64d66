// Distances and angles written as the CAD host writes them (rtos, angtos), and angles read back
// (angtof), for the worksheet cells that show drawing values.
//
// Stands in for acdbRToS, acdbAngToS and acdbAngToF of the host's acedads.h and for the RT*
// result codes of its adscodes.h. Left out: acdbDisToF (the program never reads distances back),
// the AcString overloads, linear unit 6 (Windows desktop) and ANGBASE/ANGDIR: as in the host,
// angtos and angtof work on absolute angles counter-clockwise from east, and a caller that shows
// an angle relative to ANGBASE adjusts it first.
//
// The core (FormatDistance, FormatAngle, ParseAngle) takes the drawing's settings explicitly, is
// pure and may be called from any thread. The host-named entry points read the settings for unit
// -1 and precision -1 from the working drawing, and so belong to the host's main thread.
//
//   UnitSettings imperial;
//   imperial.lunits = 4;
//   UnitText t = FormatDistance(147.5, -1, 2, imperial);     // t.text == L"12'-3 1/2\""
//   AngleValue a = ParseAngle(L"N 45d30' E", 4, imperial);   // a.radians == 44.5 degrees
//
//   wchar_t buf[64];
//   if (acdbAngToS(angle, 1, 4, buf, 64) == RTNORM) ...     // "45d30'0\""
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/host/adscodes.h"

/// The drawing's unit settings that the conversions read, with the host's defaults for a new
/// drawing. Values are the system variables' own: LUNITS 1-5, LUPREC 0-8, AUNITS 0-4, AUPREC
/// 0-8, DIMZIN 0-15 (bits 4 and 8 over the feet-and-inches values 0-3), UNITMODE 0 or 1.
struct UnitSettings {
  int lunits = 2;
  int luprec = 4;
  int aunits = 0;
  int auprec = 0;
  int dimzin = 0;
  int unitmode = 0;
};

/// A formatted value: status RTNORM and the text, or RTREJ / RTERROR with an empty text and a
/// message saying what was wrong.
struct [[nodiscard]] UnitText {
  int status = RTNORM;
  std::wstring text;
  std::wstring error;
};

/// A parsed angle: status RTNORM and the angle in radians in [0, 2*pi), or RTREJ / RTERROR with
/// the offset in the text where reading stopped and a message.
struct [[nodiscard]] AngleValue {
  int status = RTNORM;
  double radians = 0.0;
  std::size_t error_offset = 0;
  std::wstring error;
};

/// Formats a distance as rtos does. `unit` 1 scientific ("1.7500E+01"), 2 decimal ("17.50"),
/// 3 engineering ("1'-5.50\""), 4 architectural ("1'-5 1/2\""), 5 fractional ("17 1/2"); -1
/// takes settings.lunits. `prec` is the number of decimal places (0-15) for units 1-3 and the
/// fraction's denominator 2^prec (0-8) for units 4 and 5; -1 takes settings.luprec.
/// Rounding is to the nearest of the exact binary value, exact halves away from zero; a value
/// that rounds to zero has no minus sign. DIMZIN bits 4 and 8 drop leading and trailing zeros of
/// decimal numbers (an all-suppressed zero is "0"); DIMZIN 0-3 choose whether zero feet and
/// zero inches are written (when both would be dropped, the value is written as 0" or, for
/// DIMZIN 2, 0'). UNITMODE 1 writes the forms that can be typed back: 1'5.50", 1'5-1/2", 17-1/2.
/// Values of any finite magnitude are written out in full (feet of 1e300 included).
/// Fails with RTREJ for a bad unit or precision and RTERROR for a NaN or infinite value.
UnitText FormatDistance(double value, int unit, int prec, const UnitSettings& settings);

/// Formats an angle as angtos does, after reducing it to [0, 2*pi). `unit` 0 decimal degrees
/// ("45.0000"), 1 degrees/minutes/seconds ("45d30'0\""), 2 grads ("50.0000g"), 3 radians
/// ("0.7854r"), 4 surveyor's bearing ("N 45d30' E", "N"); -1 takes settings.aunits. For units
/// 1 and 4, `prec` 0 writes degrees, 1-2 minutes, 3-4 seconds, 5-15 seconds with prec-4
/// decimals; for the others it is the number of decimals (0-15); -1 takes settings.auprec.
/// Minutes and seconds are not zero-padded. A value that rounds to a full circle is written as
/// zero. DIMZIN bits 4 and 8 drop leading zeros of decimal degrees, grads and radians and trailing
/// zeros of every decimal fraction. UNITMODE 1 writes bearings without spaces ("N45d30'E").
/// Fails with RTREJ for a bad unit or precision and RTERROR for a NaN or infinite angle.
UnitText FormatAngle(double radians, int unit, int prec, const UnitSettings& settings);

/// Reads an angle as angtof does, into radians in [0, 2*pi). Accepts what FormatAngle writes
/// for `unit` and what the host accepts typed: a number in the unit (degrees for units 0, 1 and
/// 4, grads for 2, radians for 3; sign and exponent allowed), degrees/minutes/seconds with any
/// of the parts after the degrees ("45d30'15.5\"", "45d", "-10d30'", ° for d), a number with g
/// (grads) or r (radians), and bearings ("N 45d30' E", "N45dE", "S 12.5 W", "N", "E").
/// Surrounding white space is ignored; letters in any case. -1 takes settings.aunits.
/// Fails with RTREJ for a bad unit and RTERROR, with the offset, for text that is not an angle.
AngleValue ParseAngle(std::wstring_view text, int unit, const UnitSettings& settings);

/// The settings the entry points use for unit -1 and precision -1: the working drawing's
/// (acdbHostApplicationServices()->workingDatabase()), or the host's defaults of a new drawing
/// while there is none. Like the drawing, for the host's main thread only.
UnitSettings CurrentUnitSettings();

/// rtos for ObjectARX code: formats `val` into `str` of `len` characters (terminator included),
/// reading unit -1 / prec -1 from the working drawing. Returns RTNORM; RTREJ for a bad unit or
/// precision, a null `str` or `len` 0; RTERROR when the value is not finite or the text with its
/// terminator does not fit (then `str` holds an empty string, never a cut number).
int acdbRToS(double val, int unit, int prec, wchar_t* str, std::size_t len);
/// The older signature without the buffer length, kept for code written before it: assumes a
/// buffer of 256 characters, as that code does. A smaller buffer that receives a longer text is
/// overrun, as with the host; pass the length to the other overload wherever it is known.
int acdbRToS(double val, int unit, int prec, wchar_t* str);

/// angtos for ObjectARX code: formats the angle `val` (radians) into `str` of `len` characters,
/// with the same result codes as acdbRToS.
int acdbAngToS(double val, int unit, int prec, wchar_t* str, std::size_t len);
/// The older signature without the buffer length: assumes 256 characters, as acdbRToS does.
int acdbAngToS(double val, int unit, int prec, wchar_t* str);

/// angtof for ObjectARX code: reads the angle in `str` into `*value` (radians in [0, 2*pi)).
/// Returns RTNORM; RTREJ for a bad unit or a null pointer; RTERROR when the text is not an angle.
/// On failure `*value` is left untouched.
int acdbAngToF(const wchar_t* str, int unit, double* value);
