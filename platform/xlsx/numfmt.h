// Excel number formats, typed input and shown-text width: what Excel (en-US) shows for a cell's
// value under its number format code, what it stores when a user types a text into a cell, and
// how many character cells a shown text takes. It stands in for Excel's formatting engine behind
// Range.Text, Range.Value put with a text, and AutoFit. Left out: the width of the column (a text
// is always shown as in a cell wide enough, never as "###"), locales other than en-US (the
// [$-xxx] locale of a code is ignored, a currency symbol in it is shown), calendars other than
// the Gregorian one ("e" shows the Gregorian year; "g" and "b" are shown as written), and the
// DBNum/NatNum numeral systems.
//
//   FormatNumber(1234.5, "#,##0.00")            -> "1,234.50"
//   FormatNumber(45000.5, "m/d/yyyy h:mm")      -> "3/15/2023 12:00"
//   TypedValue typed = ParseTypedInput("50%", false, 2024);   // kNumber 0.5, format "0%"
//
// Rules where Excel's behaviour is not written down, as implemented here:
// - General shows at most 11 characters, the minus sign not counted: integers of up to 11 digits
//   in full; fractions rounded to fit; a number below 1e-4 in fixed notation only when it has
//   at most 9 decimals, else in scientific notation; numbers from 1e11 up and below 1e-9 in
//   scientific notation with at most 6 significant digits ("1.23457E+11", "1E-10"). Every
//   number is first rounded to 15 significant digits, as Excel stores it.
// - Rounding is half away from zero on the 15-digit decimal value (2.675 with "0.00" shows
//   "2.68"). The minus sign follows the value, not its rounding: -0.3 with "0" shows "-0".
// - A code of one section shows a negative number with a leading "-" even when the section has
//   no digit placeholder ("\"x\"" shows "-x"). A negative number shown by the second section
//   loses its sign when that section has no condition or one that admits only negative numbers,
//   and by a first section only under "[<0]" or "[<=0]"; any other section shows the sign (also
//   a third section, where LibreOffice drops it). A second section without a condition takes
//   the numbers the first one's condition refuses (only the negative ones when a third section
//   exists). A conditional code that admits the value in no section shows "########".
// - A decimal point shows even when no decimal follows it ("#.#" shows 1 as "1.").
// - Scientific notation uses an exponent that is a multiple of the count of integer
//   placeholders ("##0.0E+0" is engineering notation; "00.00E+00" shows 12345 as "01.23E+04").
// - A fraction's whole-number result shows its numerator, slash and denominator as spaces
//   ("# ?/?" shows 2 as "2    "); a fixed denominator ("?/8") keeps no space for its digits.
// - "AM/PM" shows "AM" or "PM"; "A/P" shows its own letters in the case written ("a/p": "a").
// - Fill ("*x") shows nothing, as in a cell exactly wide enough; "_x" shows one space.
// - A date or time format given a value outside Excel's dates (below 0 or from 2958466, the day
//   after 12/31/9999) shows "########" as Excel does when it fills the cell with '#'; in the
//   1904 date system a negative value shows "-" and its absolute value's text.
// - Times round to the shown precision (whole seconds, or the ".0" digits after the seconds);
//   hours and minutes are then cut, not rounded.
// - NaN and infinities, which a cell cannot hold, show "#NUM!".
//
// Threads: every function may be called from any thread at once; NumberFormat::Get shares one
// cache of parsed codes between threads.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sheetwise::xlsx {

/// Shown text of `value` under Excel format code `code` (en-US), as in a cell wide enough. An
/// empty code and "General" show the number as General does. Never fails: a malformed code shows
/// what can be made of it (an unterminated quote runs to the end of the code, an unknown bracket
/// is skipped), so every input gives some text.
std::string FormatNumber(double value, std::string_view code, bool date1904 = false);

/// Shown text of a text value: the text section of the code ("@" in it stands for the text). A
/// code without a text section (the fourth section, or a last section holding "@") shows the
/// text unchanged.
std::string FormatText(std::string_view text, std::string_view code);

/// True for the codes that show any text as it is without being parsed: none, General and "@".
bool ShowsTextUnchanged(std::string_view code);

/// True when the code shows a date or a time (d m y h s outside quotes and brackets, [h] [m] [s]
/// in any of its number sections).
bool IsDateTimeFormat(std::string_view code);

/// True for a code that makes typed input stay text: "@", or a code whose only section is a
/// text section.
bool IsTextFormat(std::string_view code);

/// Serial number of a calendar date: the 1900 system (serial 1 = 1900-01-01, with Excel's
/// fictitious 1900-02-29 = serial 60) or the 1904 system (serial 0 = 1904-01-01). nullopt for a
/// date that does not exist or lies outside Excel's range (before the system's first day, after
/// 9999-12-31).
std::optional<double> DateToSerial(int year, int month, int day, bool date1904);

/// Calendar date of a whole serial number (its day part); the inverse of DateToSerial, with
/// serial 0 of the 1900 system as 1900-01-00. nullopt outside the system's range.
struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
  int weekday = 0;  // 0 = Sunday, as Excel counts (1900-01-01 was a "Sunday")
};
std::optional<CalendarDate> SerialToDate(double serial, bool date1904);

/// What a spreadsheet stores when a user types `text` into a cell whose format is General.
struct TypedValue {
  enum class Kind { kEmpty, kText, kNumber, kBool, kError, kFormula } kind = Kind::kText;
  double number = 0;   // kNumber; kBool as 0/1
  std::string text;    // kText (the text as stored), kError ("#N/A"), kFormula (without '=')
  std::string format;  // the number format Excel gives the cell with it ("0%", "m/d/yyyy",
                       // "\"$\"#,##0.00"), empty when the cell keeps its format
};

/// Converts typed input as Excel en-US does on a General cell: numbers (with thousands
/// separators, sign, parentheses, "$", "%", exponent, "1 1/2"), TRUE/FALSE, error values, dates
/// ("1/2" is January 2 of `current_year`; two-digit years 00-29 are 20xx, 30-99 19xx), times,
/// dates with times, "=..." formulas and "'..." forced texts. Anything else is kText unchanged.
/// A date outside the workbook's date system stays text, as in Excel.
TypedValue ParseTypedInput(std::string_view text, bool date1904, int current_year);

/// Width of a shown text in character cells: East Asian wide and fullwidth characters 2,
/// combining marks, zero-width and control characters 0, others 1; a multi-line text takes the
/// width of its widest line. A byte that is not valid UTF-8 counts 1 (it shows as U+FFFD).
std::size_t DisplayWidth(std::string_view utf8);

/// A parsed format code. Parsing once and formatting many values is what FormatNumber does
/// through Get; hold the pointer to skip even the cache lookup.
class NumberFormat {
 public:
  /// The parsed form of `code` from a cache shared by all threads (thread-safe). The cache keeps
  /// at most a few thousand codes; beyond that a code is parsed afresh for the caller.
  static std::shared_ptr<const NumberFormat> Get(std::string_view code);

  /// Parses `code`; never fails (see FormatNumber for malformed codes).
  explicit NumberFormat(std::string_view code);
  ~NumberFormat();
  NumberFormat(const NumberFormat&) = delete;
  NumberFormat& operator=(const NumberFormat&) = delete;

  /// Shown text of a number, as FormatNumber.
  std::string Format(double value, bool date1904 = false) const;
  /// Shown text of a text value, as FormatText.
  std::string FormatText(std::string_view text) const;
  bool IsDateTime() const { return is_date_time_; }
  bool IsText() const { return is_text_; }
  bool IsGeneral() const { return is_general_; }

  struct Section;  // a parsed section; an implementation detail of numfmt.cpp

 private:
  const Section* Choose(double value, bool& show_sign) const;

  std::unique_ptr<Section[]> sections_;
  int number_sections_ = 0;  // sections used for numbers (1 to 3)
  int text_section_ = -1;    // index of the text section, -1 without one
  bool is_date_time_ = false;
  bool is_text_ = false;
  bool is_general_ = false;  // "General" or empty: the fast path
  bool has_conditions_ = false;
};

}  // namespace sheetwise::xlsx
