// VariantChangeType: the coercion table of OLE Automation.
//
// The structure follows the platform's: the source is dereferenced, a same-type conversion is a
// copy, and each target type has one routine that switches over the source types. Numbers are
// carried between the two sides as an exact integer (sign and magnitude), a double, or a
// currency amount (an integer of ten-thousandths), so that every pair rounds and overflows the
// same way. Text is read and written with the decimal point and the English (United States)
// date form whatever the locale argument is; where the expected values come from is noted in
// tests/platform/com/varconv_test.cpp (observed under Wine's oleaut32).
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/variant.h"
#include "platform/com/variant_internal.h"

namespace {

// A default value that is itself an object is followed this many times at most, so that an
// object whose value is itself cannot make a conversion loop forever.
constexpr int kMaxValueDepth = 8;

// ---- Exact integers -----------------------------------------------------------------------------

// An integer of up to 64 bits of magnitude with its sign: wide enough for every integer VARTYPE.
struct Integer {
  bool negative = false;
  ULONGLONG magnitude = 0;
};

Integer FromSigned(LONGLONG v) {
  return v < 0 ? Integer{true, ULONGLONG{0} - static_cast<ULONGLONG>(v)}
               : Integer{false, static_cast<ULONGLONG>(v)};
}

// Rounds half to even, as the platform does for every real-to-integer conversion.
double RoundHalfEven(double v) {
  const double floor = std::floor(v);
  const double diff = v - floor;
  if (diff > 0.5) return floor + 1.0;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

HRESULT IntegerFromReal(double v, Integer* out) {
  if (std::isnan(v) || std::isinf(v)) return DISP_E_OVERFLOW;
  const double r = RoundHalfEven(v);
  const double magnitude = std::fabs(r);
  if (magnitude >= 18446744073709551616.0) return DISP_E_OVERFLOW;
  *out = Integer{r < 0, static_cast<ULONGLONG>(magnitude)};
  return S_OK;
}

// Currency is a count of ten-thousandths; to an integer it rounds half to even.
Integer IntegerFromCurrency(LONGLONG cy) {
  Integer value = FromSigned(cy);
  const ULONGLONG whole = value.magnitude / 10000;
  const ULONGLONG rest = value.magnitude % 10000;
  value.magnitude = whole + ((rest > 5000 || (rest == 5000 && (whole & 1) != 0)) ? 1 : 0);
  return value;
}

struct IntegerRange {
  LONGLONG min;
  ULONGLONG max;
  int bits;
  bool is_signed;
};

std::optional<IntegerRange> RangeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
      return IntegerRange{-128, 127, 8, true};
    case VT_UI1:
      return IntegerRange{0, 255, 8, false};
    case VT_I2:
      return IntegerRange{-32768, 32767, 16, true};
    case VT_UI2:
      return IntegerRange{0, 65535, 16, false};
    case VT_I4:
    case VT_INT:
      return IntegerRange{std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), 32,
                          true};
    case VT_UI4:
    case VT_UINT:
      return IntegerRange{0, std::numeric_limits<ULONG>::max(), 32, false};
    case VT_I8:
      return IntegerRange{std::numeric_limits<LONGLONG>::min(),
                          std::numeric_limits<LONGLONG>::max(), 64, true};
    case VT_UI8:
      return IntegerRange{0, std::numeric_limits<ULONGLONG>::max(), 64, false};
    default:
      return std::nullopt;
  }
}

// Stores `value` as type `vt` when it lies in the type's range.
HRESULT StoreInteger(Integer value, VARTYPE vt, VARIANT* out) {
  const IntegerRange range = *RangeOf(vt);
  if (value.negative && value.magnitude != 0) {
    const ULONGLONG limit = ULONGLONG{0} - static_cast<ULONGLONG>(range.min);
    if (!range.is_signed || value.magnitude > limit) return DISP_E_OVERFLOW;
  } else if (value.magnitude > range.max) {
    return DISP_E_OVERFLOW;
  }
  const ULONGLONG bits = value.negative ? ULONGLONG{0} - value.magnitude : value.magnitude;
  out->vt = vt;
  out->ullVal = 0;
  switch (vt) {
    case VT_I1:
      out->cVal = static_cast<CHAR>(bits);
      break;
    case VT_UI1:
      out->bVal = static_cast<BYTE>(bits);
      break;
    case VT_I2:
    case VT_UI2:
      out->uiVal = static_cast<USHORT>(bits);
      break;
    case VT_I4:
    case VT_INT:
    case VT_UI4:
    case VT_UINT:
      out->ulVal = static_cast<ULONG>(bits);
      break;
    default:
      out->ullVal = bits;
      break;
  }
  return S_OK;
}

// Stores the low bits of a value that was given as a bit pattern (hex and octal text, the
// VARIANT_BOOL -1 in an unsigned type), which may not be wider than the target.
HRESULT StoreBits(ULONGLONG bits, VARTYPE vt, VARIANT* out) {
  const IntegerRange range = *RangeOf(vt);
  if (range.bits < 64 && (bits >> range.bits) != 0) return DISP_E_OVERFLOW;
  if (range.is_signed && range.bits < 64 && (bits >> (range.bits - 1)) != 0) {
    bits |= ~ULONGLONG{0} << range.bits;  // sign-extend the top bit of the target width
  }
  return StoreInteger(
      range.is_signed ? FromSigned(static_cast<LONGLONG>(bits)) : Integer{false, bits}, vt, out);
}

// ---- Numbers in text
// ------------------------------------------------------------------------------

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f' ||
         c == 0xA0;
}

bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

// A number read from text: the decimal digits and a power of ten, or a hex/octal bit pattern.
struct TextNumber {
  bool negative = false;
  bool radix = false;  // "&H" or "&O": `bits` holds the value
  ULONGLONG bits = 0;
  std::string digits;   // significant digits without leading zeros; empty for zero
  long exponent = 0;    // value = digits * 10^exponent
  bool sticky = false;  // non-zero digits were dropped beyond kMaxDigits
};

constexpr std::size_t kMaxDigits = 800;  // beyond what a double can tell apart
constexpr long kMaxExponent = 100000;

// The text up to its first zero: the platform's text functions take a zero-terminated string,
// so a BSTR with an embedded zero ends there.
std::wstring_view TextOf(const OLECHAR* text) {
  return text == nullptr ? std::wstring_view{} : std::wstring_view{text};
}

// Reads a number as the platform's VarParseNumFromStr does with NUMPRS_STD: blanks around,
// a sign before or after (also "(12)"), a "$" currency sign, thousands separators, a decimal
// point, an exponent, or "&H"/"&O" with hex/octal digits. A sign before "&H" is refused (Wine
// ignores it, reading "-&H1F" as 31, which no user means).
HRESULT ParseNumber(std::wstring_view s, TextNumber* out) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  bool plus = false, minus = false, paren = false, currency = false;
  for (;; ++i) {
    if (i >= n) return DISP_E_TYPEMISMATCH;
    const wchar_t c = s[i];
    if (IsBlank(c)) continue;
    if (c == L'+' && !plus) {
      plus = true;
    } else if (c == L'-' && !minus) {
      minus = true;
    } else if (c == L'(' && !paren) {
      paren = true;
    } else if (c == L'$' && !currency) {
      currency = true;
    } else {
      break;
    }
  }
  TextNumber number;
  if (s[i] == L'&') {
    if (plus || minus || paren || currency || i + 1 >= n) return DISP_E_TYPEMISMATCH;
    const wchar_t kind = s[i + 1];
    const unsigned shift = (kind == L'H' || kind == L'h')   ? 4
                           : (kind == L'O' || kind == L'o') ? 3
                                                            : 0;
    if (shift == 0) return DISP_E_TYPEMISMATCH;
    i += 2;
    std::size_t count = 0;
    for (; i < n; ++i, ++count) {
      const wchar_t c = s[i];
      unsigned digit;
      if (IsDigit(c)) {
        digit = static_cast<unsigned>(c - L'0');
      } else if (shift == 4 && c >= L'a' && c <= L'f') {
        digit = static_cast<unsigned>(c - L'a' + 10);
      } else if (shift == 4 && c >= L'A' && c <= L'F') {
        digit = static_cast<unsigned>(c - L'A' + 10);
      } else {
        break;
      }
      if (shift == 3 && digit > 7) return DISP_E_TYPEMISMATCH;
      if ((number.bits >> (64 - shift)) != 0) return DISP_E_OVERFLOW;
      number.bits = (number.bits << shift) | digit;
    }
    if (count == 0) return DISP_E_TYPEMISMATCH;
    for (; i < n; ++i) {
      if (!IsBlank(s[i])) return DISP_E_TYPEMISMATCH;
    }
    number.radix = true;
    *out = number;
    return S_OK;
  }

  bool any_digit = false;
  bool point = false;
  auto take_digit = [&number](wchar_t c, bool fraction) {
    if (number.digits.empty() && c == L'0') {
      if (fraction) --number.exponent;
      return;
    }
    if (number.digits.size() < kMaxDigits) {
      number.digits.push_back(static_cast<char>(c));
      if (fraction) --number.exponent;
    } else {
      if (c != L'0') number.sticky = true;
      if (!fraction) ++number.exponent;
    }
  };
  for (; i < n; ++i) {
    const wchar_t c = s[i];
    if (IsDigit(c)) {
      take_digit(c, point);
      any_digit = true;
    } else if (c == L',' && any_digit) {
      // Thousands separators are skipped wherever they stand after the first digit.
    } else if (c == L'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return DISP_E_TYPEMISMATCH;
  if (i < n && (s[i] == L'e' || s[i] == L'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < n && (s[i] == L'+' || s[i] == L'-')) exponent_negative = s[i++] == L'-';
    if (i >= n || !IsDigit(s[i])) return DISP_E_TYPEMISMATCH;
    long exponent = 0;
    for (; i < n && IsDigit(s[i]); ++i) {
      exponent = std::min(kMaxExponent, exponent * 10 + (s[i] - L'0'));
    }
    number.exponent += exponent_negative ? -exponent : exponent;
  }
  bool closed = false;
  for (; i < n; ++i) {
    const wchar_t c = s[i];
    if (IsBlank(c)) continue;
    if (c == L'+' && !plus && !minus) {
      plus = true;
    } else if (c == L'-' && !plus && !minus) {
      minus = true;
    } else if (c == L')' && paren && !closed) {
      closed = true;
    } else if (c == L'$' && !currency) {
      currency = true;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (paren != closed) return DISP_E_TYPEMISMATCH;
  number.negative = minus || paren;
  if (number.digits.empty()) number.exponent = 0;
  *out = std::move(number);
  return S_OK;
}

HRESULT RealFromText(const TextNumber& number, double* out) {
  if (number.radix) {
    // Up to 32 bits the pattern is a 32-bit signed number ("&HFFFF" is 65535, "&H80000000"
    // is -2147483648); wider ones are unsigned.
    *out = number.bits <= 0xFFFFFFFFu ? static_cast<double>(static_cast<LONG>(number.bits))
                                      : static_cast<double>(number.bits);
    return S_OK;
  }
  if (number.digits.empty()) {
    *out = number.negative ? -0.0 : 0.0;
    return S_OK;
  }
  const long magnitude = number.exponent + static_cast<long>(number.digits.size());
  if (magnitude > 400) return DISP_E_OVERFLOW;
  if (magnitude < -400) {
    *out = number.negative ? -0.0 : 0.0;
    return S_OK;
  }
  std::string text = number.digits;
  if (number.sticky) text.push_back('1');  // keeps a dropped tail visible to the rounding
  text += 'e';
  text += std::to_string(number.exponent - (number.sticky ? 1 : 0));
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    if (magnitude > 0) return DISP_E_OVERFLOW;
    value = 0;
  } else if (ec != std::errc{} || end != text.data() + text.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = number.negative ? -value : value;
  return S_OK;
}

// The integer nearest to the text's value, half to even.
HRESULT IntegerFromText(const TextNumber& number, Integer* out) {
  Integer value{number.negative, 0};
  const long length = static_cast<long>(number.digits.size());
  const long whole_digits = length + number.exponent;  // digits before the decimal point
  if (whole_digits > 20) return DISP_E_OVERFLOW;
  auto digit_at = [&](long index) -> int {  // index counted from the first significant digit
    if (index < 0 || index >= length) return 0;
    return number.digits[static_cast<std::size_t>(index)] - '0';
  };
  for (long k = 0; k < whole_digits; ++k) {
    const int d = digit_at(k);
    if (value.magnitude >
        (std::numeric_limits<ULONGLONG>::max() - static_cast<ULONGLONG>(d)) / 10) {
      return DISP_E_OVERFLOW;
    }
    value.magnitude = value.magnitude * 10 + static_cast<ULONGLONG>(d);
  }
  const int first_dropped = digit_at(whole_digits);
  bool rest_nonzero = number.sticky;
  for (long k = std::max(whole_digits + 1, 0L); k < length && !rest_nonzero; ++k) {
    rest_nonzero = digit_at(k) != 0;
  }
  if (whole_digits < 0) rest_nonzero = rest_nonzero || length > 0;
  const bool up =
      first_dropped > 5 || (first_dropped == 5 && (rest_nonzero || (value.magnitude & 1) != 0));
  if (up) {
    if (value.magnitude == std::numeric_limits<ULONGLONG>::max()) return DISP_E_OVERFLOW;
    ++value.magnitude;
  }
  *out = value;
  return S_OK;
}

// ---- Numbers as text
// ------------------------------------------------------------------------------

BSTR MakeBstr(std::string_view ascii) {
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(ascii.size()));
  if (out != nullptr) std::copy(ascii.begin(), ascii.end(), out);
  return out;
}

// A real with up to `precision` significant digits, as "%.15G" writes it: the shortest of the
// fixed and the exponent forms, trailing zeros dropped, "E+20" with at least two exponent digits.
std::string FormatReal(double v, int precision) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, precision);
  std::string text(buffer, result.ptr);
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  // Negative zero is written as "0": some programs compare the text.
  if (text.size() > 1 && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) {
    text.erase(0, 1);
  }
  return text;
}

std::string FormatInteger(Integer v) {
  std::string text = std::to_string(v.magnitude);
  if (v.negative && v.magnitude != 0) text.insert(text.begin(), '-');
  return text;
}

// Currency: up to four decimals, trailing zeros dropped ("12", "1.5", "-0.0001").
std::string FormatCurrency(LONGLONG cy) {
  const Integer v = FromSigned(cy);
  std::string text = std::to_string(v.magnitude / 10000);
  ULONGLONG fraction = v.magnitude % 10000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(digits.begin(), 4 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    text += '.' + digits;
  }
  if (v.negative) text.insert(text.begin(), '-');
  return text;
}

// ---- Dates
// ----------------------------------------------------------------------------------------

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

struct Civil {
  long year;
  unsigned month;
  unsigned day;
};

Civil CivilFromDays(long z) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

const long kDateEpoch = DaysFromCivil(1899, 12, 30);  // serial day 0

bool IsLeap(long y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(long y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// A DATE of a calendar day and a time: before day 0 the time is added away from zero, so that
// the integer part always names the calendar day.
DATE MakeDate(long year, unsigned month, unsigned day, unsigned seconds_of_day) {
  const double serial = static_cast<double>(DaysFromCivil(year, month, day) - kDateEpoch);
  const double fraction = seconds_of_day / 86400.0;
  return serial < 0 ? serial - fraction : serial + fraction;
}

bool DateInRange(double v) {
  return v > kDateMin - 1.0 && v < std::floor(kDateMax) + 1.0;
}

long CurrentYear() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900L;
}

// One piece of a date text.
struct DateToken {
  enum Kind { kNumber, kMonth, kWeekday, kAm, kPm, kSlash, kDash, kComma, kColon, kBlank } kind;
  unsigned value = 0;  // number, or month 1..12
  int digits = 0;      // how many digits a number had
};

std::optional<DateToken> WordToken(std::wstring_view word) {
  static constexpr const wchar_t* kMonths[] = {L"january",   L"february", L"march",    L"april",
                                               L"may",       L"june",     L"july",     L"august",
                                               L"september", L"october",  L"november", L"december"};
  static constexpr const wchar_t* kWeekdays[] = {L"sunday",   L"monday", L"tuesday", L"wednesday",
                                                 L"thursday", L"friday", L"saturday"};
  std::wstring lower(word);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  if (lower == L"am") return DateToken{DateToken::kAm};
  if (lower == L"pm") return DateToken{DateToken::kPm};
  auto matches = [&lower](std::wstring_view full) {
    return lower == full || (lower.size() == 3 && full.substr(0, 3) == lower) ||
           (lower == L"sept" && full == L"september");
  };
  for (unsigned m = 0; m < 12; ++m) {
    if (matches(kMonths[m])) return DateToken{DateToken::kMonth, m + 1};
  }
  for (const wchar_t* day : kWeekdays) {
    if (matches(day)) return DateToken{DateToken::kWeekday};
  }
  return std::nullopt;
}

bool Tokenize(std::wstring_view s, std::vector<DateToken>* tokens) {
  std::size_t i = 0;
  while (i < s.size()) {
    const wchar_t c = s[i];
    if (IsDigit(c)) {
      unsigned value = 0;
      int digits = 0;
      for (; i < s.size() && IsDigit(s[i]); ++i, ++digits) {
        if (digits >= 6) return false;  // no part of a date has that many digits
        value = value * 10 + static_cast<unsigned>(s[i] - L'0');
      }
      tokens->push_back({DateToken::kNumber, value, digits});
      continue;
    }
    if (std::iswalpha(c)) {
      const std::size_t start = i;
      while (i < s.size() && std::iswalpha(s[i])) ++i;
      const auto word = WordToken(s.substr(start, i - start));
      if (!word) return false;
      tokens->push_back(*word);
      continue;
    }
    if (IsBlank(c)) {
      while (i < s.size() && IsBlank(s[i])) ++i;
      tokens->push_back({DateToken::kBlank});
      continue;
    }
    switch (c) {
      case L'/':
        tokens->push_back({DateToken::kSlash});
        break;
      case L'-':
        tokens->push_back({DateToken::kDash});
        break;
      case L',':
        tokens->push_back({DateToken::kComma});
        break;
      case L':':
        tokens->push_back({DateToken::kColon});
        break;
      default:
        return false;
    }
    ++i;
  }
  return true;
}

unsigned FullYear(const DateToken& year) {
  if (year.digits > 2) return year.value;
  // The system's two-digit year window: 1950 to 2049.
  return year.value < 50 ? 2000 + year.value : 1900 + year.value;
}

HRESULT ParseDate(std::wstring_view s, DATE* out) {
  std::vector<DateToken> raw;
  if (!Tokenize(s, &raw)) return DISP_E_TYPEMISMATCH;

  std::vector<DateToken> numbers;  // the numbers of the date part, in order
  unsigned month_name = 0;
  bool have_time = false;
  unsigned hour = 0, minute = 0, second = 0;
  int ampm = 0;  // 0 none, 1 AM, 2 PM

  for (std::size_t i = 0; i < raw.size(); ++i) {
    const DateToken& t = raw[i];
    auto next_non_blank = [&](std::size_t from) {
      while (from < raw.size() && raw[from].kind == DateToken::kBlank) ++from;
      return from;
    };
    switch (t.kind) {
      case DateToken::kNumber: {
        const std::size_t after = next_non_blank(i + 1);
        const bool colon = i + 1 < raw.size() && raw[i + 1].kind == DateToken::kColon;
        const bool meridiem = after < raw.size() && (raw[after].kind == DateToken::kAm ||
                                                     raw[after].kind == DateToken::kPm);
        if (colon || meridiem) {
          if (have_time) return DISP_E_TYPEMISMATCH;
          have_time = true;
          hour = t.value;
          if (colon) {
            if (i + 2 >= raw.size() || raw[i + 2].kind != DateToken::kNumber) {
              return DISP_E_TYPEMISMATCH;
            }
            minute = raw[i + 2].value;
            i += 2;
            if (i + 2 < raw.size() && raw[i + 1].kind == DateToken::kColon &&
                raw[i + 2].kind == DateToken::kNumber) {
              second = raw[i + 2].value;
              i += 2;
            }
          }
        } else {
          numbers.push_back(t);
        }
        break;
      }
      case DateToken::kMonth:
        if (month_name != 0) return DISP_E_TYPEMISMATCH;
        month_name = t.value;
        break;
      case DateToken::kAm:
      case DateToken::kPm:
        if (!have_time || ampm != 0) return DISP_E_TYPEMISMATCH;
        ampm = t.kind == DateToken::kAm ? 1 : 2;
        break;
      case DateToken::kColon:
        return DISP_E_TYPEMISMATCH;
      default:
        break;  // separators and weekday names
    }
  }

  if (have_time) {
    if (ampm != 0) {
      if (hour < 1 || hour > 12) return DISP_E_TYPEMISMATCH;
      hour = (hour % 12) + (ampm == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return DISP_E_TYPEMISMATCH;
  }
  const unsigned seconds_of_day = hour * 3600 + minute * 60 + second;

  long year = 0;
  unsigned month = 0, day = 0;
  const std::size_t count = numbers.size();
  if (month_name != 0) {
    month = month_name;
    if (count == 0 || count > 2) return DISP_E_TYPEMISMATCH;
    if (count == 1) {
      if (numbers[0].digits > 2 || numbers[0].value > 31) {
        year = FullYear(numbers[0]);
        day = 1;
      } else {
        year = CurrentYear();
        day = numbers[0].value;
      }
    } else if (numbers[0].digits > 2) {
      year = FullYear(numbers[0]);
      day = numbers[1].value;
    } else {
      day = numbers[0].value;
      year = FullYear(numbers[1]);
    }
  } else if (count == 3) {
    if (numbers[0].digits > 2) {
      year = FullYear(numbers[0]);
      month = numbers[1].value;
      day = numbers[2].value;
    } else {
      month = numbers[0].value;
      day = numbers[1].value;
      year = FullYear(numbers[2]);
    }
    // A month that cannot be one, with a day that can be a month, is read the other way round
    // ("13/5/2026" is 13 May).
    if (month > 12 && day >= 1 && day <= 12) std::swap(month, day);
  } else if (count == 2) {
    if (numbers[0].digits > 2) {
      year = FullYear(numbers[0]);
      month = numbers[1].value;
      day = 1;
    } else if (numbers[1].digits > 2) {
      month = numbers[0].value;
      year = FullYear(numbers[1]);
      day = 1;
    } else {
      month = numbers[0].value;
      day = numbers[1].value;
      year = CurrentYear();
    }
  } else if (count == 0 && have_time) {
    *out = seconds_of_day / 86400.0;
    return S_OK;
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = MakeDate(year, month, day, seconds_of_day);
  return S_OK;
}

std::string FormatDate(DATE value, ULONG flags) {
  double whole = std::trunc(value);
  const double fraction = std::fabs(value - whole);
  // Half a second rounds up; the small allowance absorbs the binary error of the fraction, so
  // that a time written as a whole second and a half is not rounded down.
  long seconds = std::lround(std::floor(fraction * 86400.0 + 0.5 + 1e-6));
  if (seconds >= 86400) {
    // Rounded up to midnight: the next calendar day, also before day 0.
    seconds = 0;
    whole += 1.0;
  }
  const long serial = static_cast<long>(whole);
  const bool show_date =
      (flags & VAR_TIMEVALUEONLY) == 0 && (serial != 0 || (flags & VAR_DATEVALUEONLY) != 0);
  const bool show_time = (flags & VAR_DATEVALUEONLY) == 0 && (fraction != 0.0 || serial == 0);
  std::string text;
  if (show_date) {
    const Civil c = CivilFromDays(serial + kDateEpoch);
    text = std::to_string(c.month) + '/' + std::to_string(c.day) + '/' + std::to_string(c.year);
  }
  if (show_time) {
    if (!text.empty()) text += ' ';
    const long hour = seconds / 3600;
    const long minute = seconds / 60 % 60;
    const long second = seconds % 60;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld %s", hour % 12 == 0 ? 12 : hour % 12,
                  minute, second, hour < 12 ? "AM" : "PM");
    text += buffer;
  }
  return text;
}

// ---- Booleans in text
// -----------------------------------------------------------------------------

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

// ---- The coercion table
// ---------------------------------------------------------------------------

// A numeric source value: exactly one of the three forms.
struct Number {
  enum Kind { kInteger, kReal, kCurrency } kind;
  Integer integer;
  double real = 0;
  LONGLONG currency = 0;
  bool from_bool = false;      // VARIANT_BOOL: -1 fills every bit of an unsigned target
  bool from_signed32 = false;  // VT_I4/VT_INT: to VT_UI4/VT_UINT keeps the bits
};

// The numeric value of a scalar source; false for the types that are not numbers.
bool NumberOf(const VARIANT& v, Number* out) {
  Number n{Number::kInteger, {}};
  switch (v.vt) {
    case VT_I1:
      n.integer = FromSigned(v.cVal);
      break;
    case VT_I2:
      n.integer = FromSigned(v.iVal);
      break;
    case VT_I4:
      n.integer = FromSigned(v.lVal);
      n.from_signed32 = true;
      break;
    case VT_INT:
      n.integer = FromSigned(v.intVal);
      n.from_signed32 = true;
      break;
    case VT_I8:
      n.integer = FromSigned(v.llVal);
      break;
    case VT_UI1:
      n.integer = {false, v.bVal};
      break;
    case VT_UI2:
      n.integer = {false, v.uiVal};
      break;
    case VT_UI4:
      n.integer = {false, v.ulVal};
      break;
    case VT_UINT:
      n.integer = {false, v.uintVal};
      break;
    case VT_UI8:
      n.integer = {false, v.ullVal};
      break;
    case VT_BOOL:
      n.integer = FromSigned(v.boolVal);
      n.from_bool = true;
      break;
    case VT_R4:
      n.kind = Number::kReal;
      n.real = v.fltVal;
      break;
    case VT_R8:
      n.kind = Number::kReal;
      n.real = v.dblVal;
      break;
    case VT_DATE:
      n.kind = Number::kReal;
      n.real = v.date;
      break;
    case VT_CY:
      n.kind = Number::kCurrency;
      n.currency = v.llVal;
      break;
    case VT_EMPTY:
      break;  // zero
    default:
      return false;
  }
  *out = n;
  return true;
}

double RealOf(const Number& n) {
  switch (n.kind) {
    case Number::kInteger: {
      const double m = static_cast<double>(n.integer.magnitude);
      return n.integer.negative ? -m : m;
    }
    case Number::kReal:
      return n.real;
    case Number::kCurrency:
      return static_cast<double>(n.currency) / 10000.0;
  }
  return 0;
}

HRESULT NumberToInteger(const Number& n, VARTYPE vt, VARIANT* out) {
  if (n.kind == Number::kInteger) {
    const IntegerRange range = *RangeOf(vt);
    if (n.integer.negative && !range.is_signed &&
        (n.from_bool || (n.from_signed32 && range.bits == 32))) {
      const ULONGLONG mask = range.bits == 64 ? ~ULONGLONG{0} : (ULONGLONG{1} << range.bits) - 1;
      return StoreBits((ULONGLONG{0} - n.integer.magnitude) & mask, vt, out);
    }
    return StoreInteger(n.integer, vt, out);
  }
  if (n.kind == Number::kCurrency) return StoreInteger(IntegerFromCurrency(n.currency), vt, out);
  Integer value;
  const HRESULT hr = IntegerFromReal(n.real, &value);
  return FAILED(hr) ? hr : StoreInteger(value, vt, out);
}

HRESULT RealToTarget(double value, VARTYPE vt, VARIANT* out) {
  switch (vt) {
    case VT_R8:
      out->vt = VT_R8;
      out->dblVal = value;
      return S_OK;
    case VT_R4:
      if (std::fabs(value) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(value);
      return S_OK;
    case VT_DATE:
      if (!DateInRange(value)) return DISP_E_OVERFLOW;
      out->vt = VT_DATE;
      out->date = value;
      return S_OK;
    case VT_BOOL:
      out->vt = VT_BOOL;
      out->boolVal = value != 0.0 || std::isnan(value) ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VT_CY: {
      const double scaled = RoundHalfEven(value * 10000.0);
      if (!(std::fabs(scaled) < 9223372036854775807.0)) return DISP_E_OVERFLOW;
      out->vt = VT_CY;
      out->llVal = static_cast<LONGLONG>(scaled);
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT NumberToTarget(const Number& n, VARTYPE vt, VARIANT* out) {
  if (RangeOf(vt)) return NumberToInteger(n, vt, out);
  if (vt == VT_BOOL) {
    out->vt = VT_BOOL;
    const bool nonzero = n.kind == Number::kInteger    ? n.integer.magnitude != 0
                         : n.kind == Number::kCurrency ? n.currency != 0
                                                       : n.real != 0.0 || std::isnan(n.real);
    out->boolVal = nonzero ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  if (vt == VT_CY && n.kind == Number::kInteger) {
    // Exact for integers, where a double would lose digits near the range's ends.
    const ULONGLONG limit = static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max()) / 10000;
    if (n.integer.magnitude > limit) return DISP_E_OVERFLOW;
    const LONGLONG scaled = static_cast<LONGLONG>(n.integer.magnitude) * 10000;
    out->vt = VT_CY;
    out->llVal = n.integer.negative ? -scaled : scaled;
    return S_OK;
  }
  if (vt == VT_CY && n.kind == Number::kCurrency) {
    out->vt = VT_CY;
    out->llVal = n.currency;
    return S_OK;
  }
  return RealToTarget(RealOf(n), vt, out);
}

HRESULT NumberToText(const VARIANT& src, const Number& n, USHORT flags, VARIANT* out) {
  std::string text;
  switch (src.vt) {
    case VT_R4:
      text = FormatReal(n.real, 7);
      break;
    case VT_R8:
      text = FormatReal(n.real, 15);
      break;
    case VT_DATE: {
      BSTR date = nullptr;
      const HRESULT hr = VarBstrFromDate(n.real, 0, 0, &date);
      if (FAILED(hr)) return hr;
      out->vt = VT_BSTR;
      out->bstrVal = date;
      return S_OK;
    }
    case VT_CY:
      text = FormatCurrency(n.currency);
      break;
    case VT_BOOL:
      if ((flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0) {
        text = src.boolVal != VARIANT_FALSE ? "True" : "False";
      } else {
        text = FormatInteger(n.integer);
      }
      break;
    case VT_EMPTY:
      break;
    default:
      text = FormatInteger(n.integer);
      break;
  }
  BSTR bstr = MakeBstr(text);
  if (bstr == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = bstr;
  return S_OK;
}

HRESULT TextToTarget(const OLECHAR* bstr, VARTYPE vt, VARIANT* out) {
  const std::wstring_view text = TextOf(bstr);
  if (vt == VT_DATE) {
    DATE date = 0;
    const HRESULT hr = VarDateFromStr(bstr, 0, 0, &date);
    if (FAILED(hr)) return hr;
    out->vt = VT_DATE;
    out->date = date;
    return S_OK;
  }
  if (vt == VT_BOOL) {
    for (const auto& [word, value] :
         {std::pair{L"True", VARIANT_TRUE}, std::pair{L"False", VARIANT_FALSE},
          std::pair{L"#TRUE#", VARIANT_TRUE}, std::pair{L"#FALSE#", VARIANT_FALSE}}) {
      if (EqualsIgnoreCase(text, word)) {
        out->vt = VT_BOOL;
        out->boolVal = value;
        return S_OK;
      }
    }
  }
  TextNumber number;
  HRESULT hr = ParseNumber(text, &number);
  if (FAILED(hr)) return hr;
  if (RangeOf(vt)) {
    if (number.radix) return StoreBits(number.bits, vt, out);
    Integer value;
    hr = IntegerFromText(number, &value);
    return FAILED(hr) ? hr : StoreInteger(value, vt, out);
  }
  double real = 0;
  hr = RealFromText(number, &real);
  return FAILED(hr) ? hr : RealToTarget(real, vt, out);
}

HRESULT Coerce(VARIANT* out, const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, int depth);

// An object's default value (its DISPID_VALUE property), converted.
HRESULT FromDefaultValue(VARIANT* out, IDispatch* object, LCID lcid, USHORT flags, VARTYPE vt,
                         int depth) {
  if (object == nullptr) return DISP_E_BADVARTYPE;
  if (depth >= kMaxValueDepth) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  const HRESULT invoked = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none,
                                         &value, nullptr, nullptr);
  if (FAILED(invoked)) {
    VariantClear(&value);
    return DISP_E_TYPEMISMATCH;
  }
  HRESULT hr;
  if (!sw::com::IsValidVariantType(value.vt)) {
    hr = DISP_E_BADVARTYPE;
  } else if ((value.vt & VT_BYREF) != 0) {
    VARIANT direct;
    VariantInit(&direct);
    hr = VariantCopyInd(&direct, &value);
    if (SUCCEEDED(hr)) hr = Coerce(out, direct, lcid, flags, vt, depth + 1);
    VariantClear(&direct);
  } else {
    hr = Coerce(out, value, lcid, flags, vt, depth + 1);
  }
  VariantClear(&value);
  return hr;
}

HRESULT QueryInto(IUnknown* object, REFIID iid, VARTYPE vt, VARIANT* out) {
  void* result = nullptr;
  if (object != nullptr) {
    const HRESULT hr = object->QueryInterface(iid, &result);
    if (FAILED(hr)) return hr;
  }
  out->vt = vt;
  out->punkVal = static_cast<IUnknown*>(result);
  return S_OK;
}

// Converts a value that is not VT_BYREF into `*out`, which is VT_EMPTY and owns nothing.
HRESULT Coerce(VARIANT* out, const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, int depth) {
  const VARTYPE from = src.vt;
  if (from == vt) return VariantCopy(out, &src);
  if ((flags & VARIANT_NOVALUEPROP) != 0 && from == VT_DISPATCH && vt != VT_UNKNOWN) {
    return DISP_E_TYPEMISMATCH;
  }
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      if (from == VT_ERROR || (vt == VT_EMPTY && from == VT_NULL)) return DISP_E_TYPEMISMATCH;
      out->vt = vt;
      return S_OK;
    case VT_DISPATCH:
      return from == VT_UNKNOWN ? QueryInto(src.punkVal, IID_IDispatch, VT_DISPATCH, out)
                                : DISP_E_TYPEMISMATCH;
    case VT_UNKNOWN:
      return from == VT_DISPATCH ? QueryInto(src.punkVal, IID_IUnknown, VT_UNKNOWN, out)
                                 : DISP_E_TYPEMISMATCH;
    case VT_ERROR:
    case VT_VARIANT:
      return DISP_E_TYPEMISMATCH;
    case VT_DECIMAL:
      return DISP_E_BADVARTYPE;
    default:
      break;  // the scalar targets and VT_BSTR
  }
  if (from == VT_DISPATCH) return FromDefaultValue(out, src.pdispVal, lcid, flags, vt, depth);
  if (from == VT_BSTR) {
    if (vt == VT_BSTR) return VariantCopy(out, &src);
    return TextToTarget(src.bstrVal, vt, out);
  }
  Number number;
  if (!NumberOf(src, &number)) return from == VT_DECIMAL ? DISP_E_BADVARTYPE : DISP_E_TYPEMISMATCH;
  if (vt == VT_BSTR) return NumberToText(src, number, flags, out);
  return NumberToTarget(number, vt, out);
}

bool IsValidTarget(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  if ((vt & ~(VT_TYPEMASK | VT_BYREF | VT_ARRAY)) != 0) return false;
  if ((vt & (VT_BYREF | VT_ARRAY)) != 0 && base <= VT_NULL) return false;
  return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT);
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags,
                            VARTYPE vt) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!sw::com::IsValidVariantType(src->vt) || !IsValidTarget(vt)) return DISP_E_BADVARTYPE;
  if ((vt & (VT_BYREF | VT_ARRAY)) != 0) return DISP_E_TYPEMISMATCH;
  if ((src->vt & VT_BYREF) != 0 && src->byref == nullptr) return DISP_E_TYPEMISMATCH;

  // Work on a dereferenced copy and build the result aside: `dest` may be `src`, and on failure
  // `dest` keeps what it held.
  VARIANT direct;
  VariantInit(&direct);
  HRESULT hr = VariantCopyInd(&direct, src);
  if (FAILED(hr)) return hr;
  VARIANT result;
  VariantInit(&result);
  hr = Coerce(&result, direct, lcid, flags, vt, 0);
  VariantClear(&direct);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}

HRESULT VarR8FromStr(const OLECHAR* text, LCID, ULONG, DOUBLE* out) {
  if (out == nullptr) return E_INVALIDARG;
  TextNumber number;
  HRESULT hr = ParseNumber(TextOf(text), &number);
  if (FAILED(hr)) return hr;
  return RealFromText(number, out);
}

HRESULT VarBstrFromR8(DOUBLE value, LCID, ULONG, BSTR* out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = MakeBstr(FormatReal(value, 15));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT VarI4FromR8(DOUBLE value, LONG* out) {
  if (out == nullptr) return E_INVALIDARG;
  VARIANT v;
  const HRESULT hr = NumberToInteger(Number{Number::kReal, {}, value}, VT_I4, &v);
  if (SUCCEEDED(hr)) *out = v.lVal;
  return hr;
}

HRESULT VarI2FromR8(DOUBLE value, SHORT* out) {
  if (out == nullptr) return E_INVALIDARG;
  VARIANT v;
  const HRESULT hr = NumberToInteger(Number{Number::kReal, {}, value}, VT_I2, &v);
  if (SUCCEEDED(hr)) *out = v.iVal;
  return hr;
}

HRESULT VarDateFromStr(const OLECHAR* text, LCID, ULONG, DATE* out) {
  if (out == nullptr) return E_INVALIDARG;
  return ParseDate(TextOf(text), out);
}

HRESULT VarBstrFromDate(DATE value, LCID, ULONG flags, BSTR* out) {
  if (out == nullptr) return E_INVALIDARG;
  if (std::isnan(value) || !DateInRange(value)) return E_INVALIDARG;
  *out = MakeBstr(FormatDate(value, flags));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}
