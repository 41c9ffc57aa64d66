#include "platform/host/units.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace {

constexpr int kMaxDecimalPrecision = 15;
constexpr int kMaxFractionPrecision = 8;
constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr long double kTwoPi = 2.0L * kPi;

std::wstring Widen(std::string_view s) {
  return std::wstring(s.begin(), s.end());
}

UnitText Fail(int status, std::wstring message) {
  return UnitText{status, {}, std::move(message)};
}

// The exact decimal value of a finite non-negative double: significant digits without trailing
// zeros ("0" for zero) and the position of the decimal point counted from the first digit
// (value = 0.d1d2d3... * 10^point). Rounding from these digits rounds the binary value itself,
// so 147.49999999999997 stays below 147.5 whatever the precision.
struct ExactDecimal {
  std::string digits;
  int point = 1;
};

ExactDecimal Exact(double magnitude) {
  ExactDecimal e;
  if (magnitude == 0.0) {
    e.digits = "0";
    return e;
  }
  // 767 significant digits hold every double exactly; to_chars pads the rest with zeros. Most
  // need far fewer: m * 2^k (m < 2^53) has at most 16 + |k| * log10(5) + 1 of them, and asking
  // for no more than that keeps an ordinary coordinate from costing 780 digits.
  int exponent2 = 0;
  std::frexp(magnitude, &exponent2);
  const int shift = exponent2 > 53 ? exponent2 - 53 : 53 - exponent2;
  const int precision = std::min(780, 17 + shift * 7 / 10 + 2);
  char buf[900];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, precision);
  (void)ec;  // the buffer holds 780 digits and any exponent
  std::string_view s(buf, static_cast<std::size_t>(end - buf));
  std::size_t epos = s.find('e');
  e.digits.push_back(s[0]);
  if (s.size() > 1 && s[1] == '.') e.digits.append(s.substr(2, epos - 2));
  int exponent = 0;
  std::string_view exp_text = s.substr(epos + 1);
  if (!exp_text.empty() && exp_text[0] == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  while (e.digits.size() > 1 && e.digits.back() == '0') e.digits.pop_back();
  e.point = exponent + 1;
  return e;
}

// Adds one to a string of decimal digits, growing it on a carry out.
void Increment(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

// A magnitude rounded to `places` decimals: integer digits (at least "0") and exactly `places`
// fraction digits. Exact halves round away from zero.
struct Fixed {
  std::string whole;
  std::string fraction;
  bool IsZero() const {
    return whole.find_first_not_of('0') == std::string::npos &&
           fraction.find_first_not_of('0') == std::string::npos;
  }
};

// Whether a magnitude's exact decimal expansion has at most `decimals` fraction digits: m * 2^e
// with m odd has max(0, -e) of them. Coordinates and scales such as 1, 0.5 or 2400.25 do.
bool FitsDecimals(double magnitude, int decimals) {
  if (magnitude == 0.0) return true;
  int exponent = 0;
  const double mantissa = std::frexp(magnitude, &exponent);
  const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
  exponent += std::countr_zero(m) - 53;
  return -exponent <= decimals;
}

// The integer digits and `places` fraction digits of an ordinary magnitude, cut off (not
// rounded), and the digit after them, without the exact expansion. to_chars rounds, but only at
// the last of kGuard further digits: its rounding reached the digits wanted only when those
// guard digits all come out as zeros and the magnitude has more decimals than were printed, and
// then (or for a magnitude too large) this answers false.
bool CutDigits(double magnitude, int places, std::string& all, std::size_t& whole_len, char& next) {
  constexpr int kGuard = 8;
  if (std::signbit(magnitude) || !(magnitude < 1e15) || places < 0 || places > 20) return false;
  char buf[64];  // 15 integer digits, the point, at most 20 + 1 + kGuard fraction digits
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::fixed,
                                 places + 1 + kGuard);
  if (ec != std::errc()) return false;
  const std::string_view s(buf, static_cast<std::size_t>(end - buf));
  const std::size_t dot = s.find('.');
  if (dot == std::string_view::npos) return false;
  if (s.substr(s.size() - kGuard).find_first_not_of('0') == std::string_view::npos &&
      !FitsDecimals(magnitude, places + 1 + kGuard))
    return false;
  all.assign(s.substr(0, dot));
  whole_len = dot;
  all.append(s.substr(dot + 1, static_cast<std::size_t>(places)));
  next = s[dot + 1 + static_cast<std::size_t>(places)];
  return true;
}

Fixed RoundFixed(double magnitude, int places) {
  std::string all;
  std::size_t whole_len = 0;
  char next = '0';
  if (!CutDigits(magnitude, places, all, whole_len, next)) {
    ExactDecimal e = Exact(magnitude);
    auto digit_at = [&e](long long index) {
      return index >= 0 && index < static_cast<long long>(e.digits.size())
                 ? e.digits[static_cast<std::size_t>(index)]
                 : '0';
    };
    all.clear();
    for (long long i = 0; i < e.point; ++i) all.push_back(digit_at(i));
    whole_len = all.size();
    for (long long i = 0; i < places; ++i) all.push_back(digit_at(e.point + i));
    next = digit_at(e.point + places);
  }
  if (next >= '5') {
    std::size_t before = all.size();
    Increment(all);
    if (all.size() > before) ++whole_len;
  }
  Fixed f;
  f.whole = whole_len == 0 ? "0" : all.substr(0, whole_len);
  f.fraction = all.substr(whole_len);
  return f;
}

double FixedValue(const Fixed& f) {
  std::string text = f.whole + "." + f.fraction + "0";
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The digits of an integer-valued double, exactly.
std::string IntegerDigits(double integral) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, integral, std::chars_format::fixed, 0);
  (void)ec;  // 309 digits at most
  return std::string(buf, end);
}

// Divides a string of decimal digits by a small divisor: the quotient without leading zeros
// ("0" at least) and the remainder.
std::string DivMod(const std::string& digits, unsigned divisor, unsigned* remainder) {
  std::string q;
  unsigned rem = 0;
  for (char c : digits) {
    unsigned cur = rem * 10 + static_cast<unsigned>(c - '0');
    unsigned d = cur / divisor;
    rem = cur % divisor;
    if (!q.empty() || d != 0) q.push_back(static_cast<char>('0' + d));
  }
  *remainder = rem;
  return q.empty() ? "0" : q;
}

// A decimal number with DIMZIN's leading (4) and trailing (8) zero suppression.
std::string DecimalText(const std::string& whole, std::string fraction, int dimzin) {
  if (dimzin & 8) {
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  }
  std::string w = whole;
  if ((dimzin & 4) && w == "0" && !fraction.empty()) w.clear();
  std::string s = w;
  if (!fraction.empty()) s += "." + fraction;
  return s.empty() ? "0" : s;
}

// Feet and inches joined as the host joins them: DIMZIN 0-3 decide whether zero feet and zero
// inches are written; `inches` is called with whether the feet are shown (a fraction alone
// reads "1/2\"" but follows shown feet as "0 1/2\"").
template <typename InchesText>
std::string JoinFeetInches(const std::string& feet, bool feet_zero, bool inches_zero, int dimzin,
                           bool typed_form, InchesText inches) {
  int zero_mode = dimzin & 3;
  bool show_feet = !(feet_zero && (zero_mode == 0 || zero_mode == 3));
  bool show_inches = !(inches_zero && (zero_mode == 0 || zero_mode == 2));
  if (!show_feet && !show_inches) {
    // A zero length: one part stays, the feet for DIMZIN 2, the inches otherwise.
    if (zero_mode == 2) {
      show_feet = true;
    } else {
      show_inches = true;
    }
  }
  std::string s;
  if (show_feet) s = feet + "'";
  if (show_feet && show_inches && !typed_form) s += "-";
  if (show_inches) s += inches(show_feet) + "\"";
  return s;
}

bool ValidPrecision(int prec, int max) {
  return prec >= 0 && prec <= max;
}

std::string Scientific(double magnitude, int prec, int dimzin) {
  std::string mantissa;
  int exponent = 0;
  if (magnitude == 0.0) {
    mantissa = std::string(static_cast<std::size_t>(prec) + 1, '0');
  } else {
    ExactDecimal e = Exact(magnitude);
    std::size_t keep = static_cast<std::size_t>(prec) + 1;
    mantissa = e.digits.substr(0, keep);
    mantissa.resize(keep, '0');
    exponent = e.point - 1;
    if (e.digits.size() > keep && e.digits[keep] >= '5') {
      Increment(mantissa);
      if (mantissa.size() > keep) {  // 9.99..5 became 10.00
        mantissa.pop_back();
        ++exponent;
      }
    }
  }
  std::string s = DecimalText(mantissa.substr(0, 1), mantissa.substr(1), dimzin & 8);
  char exp_buf[8];
  int shown = exponent < 0 ? -exponent : exponent;
  auto [end, ec] = std::to_chars(exp_buf, exp_buf + sizeof exp_buf, shown);
  (void)ec;
  std::string exp_digits(exp_buf, end);
  if (exp_digits.size() < 2) exp_digits.insert(0, "0");
  return s + (exponent < 0 ? "E-" : "E+") + exp_digits;
}

std::string Engineering(double magnitude, int prec, const UnitSettings& s, bool* zero) {
  Fixed f = RoundFixed(magnitude, prec);
  *zero = f.IsZero();
  unsigned inch_whole = 0;
  std::string feet = DivMod(f.whole, 12, &inch_whole);
  bool inches_zero = inch_whole == 0 && f.fraction.find_first_not_of('0') == std::string::npos;
  std::string inches = DecimalText(std::to_string(inch_whole), f.fraction, s.dimzin);
  return JoinFeetInches(feet, feet == "0", inches_zero, s.dimzin, s.unitmode & 1,
                        [&inches](bool) { return inches; });
}

// A magnitude as whole units and a reduced fraction of denominator 2^prec at most.
struct Fraction {
  std::string whole;
  std::int64_t numerator = 0;
  std::int64_t denominator = 1;
};

Fraction ToFraction(double magnitude, int prec) {
  double whole = std::floor(magnitude);
  double rest = magnitude - whole;  // exact: the fraction bits of the value
  double scaled = std::ldexp(rest, prec);
  double n = std::floor(scaled);
  if (scaled - n >= 0.5) n += 1.0;
  Fraction fr;
  fr.whole = IntegerDigits(whole);
  fr.denominator = std::int64_t{1} << prec;
  fr.numerator = static_cast<std::int64_t>(n);
  if (fr.numerator == fr.denominator) {
    Increment(fr.whole);
    fr.numerator = 0;
  }
  while (fr.numerator != 0 && fr.numerator % 2 == 0) {
    fr.numerator /= 2;
    fr.denominator /= 2;
  }
  return fr;
}

std::string FractionText(const Fraction& fr) {
  return std::to_string(fr.numerator) + "/" + std::to_string(fr.denominator);
}

std::string Architectural(double magnitude, int prec, const UnitSettings& s, bool* zero) {
  Fraction fr = ToFraction(magnitude, prec);
  unsigned inch_whole = 0;
  std::string feet = DivMod(fr.whole, 12, &inch_whole);
  *zero = feet == "0" && inch_whole == 0 && fr.numerator == 0;
  bool typed = s.unitmode & 1;
  auto inches = [&](bool feet_shown) {
    if (fr.numerator == 0) return std::to_string(inch_whole);
    if (inch_whole == 0 && !feet_shown) return FractionText(fr);
    return std::to_string(inch_whole) + (typed ? "-" : " ") + FractionText(fr);
  };
  return JoinFeetInches(feet, feet == "0", inch_whole == 0 && fr.numerator == 0, s.dimzin, typed,
                        inches);
}

std::string Fractional(double magnitude, int prec, const UnitSettings& s, bool* zero) {
  Fraction fr = ToFraction(magnitude, prec);
  *zero = fr.whole == "0" && fr.numerator == 0;
  if (fr.numerator == 0) return fr.whole;
  if (fr.whole == "0") return FractionText(fr);
  return fr.whole + ((s.unitmode & 1) ? "-" : " ") + FractionText(fr);
}

// Degrees, minutes and seconds of a count of the smallest unit `prec` shows.
struct DmsScale {
  std::int64_t per_degree = 1;
  int second_decimals = 0;
};

DmsScale ScaleFor(int prec) {
  DmsScale sc;
  if (prec >= 1) sc.per_degree = 60;
  if (prec >= 3) sc.per_degree = 3600;
  if (prec >= 5) {
    sc.second_decimals = prec - 4;
    for (int i = 0; i < sc.second_decimals; ++i) sc.per_degree *= 10;
  }
  return sc;
}

std::string DmsText(std::int64_t units, int prec, const DmsScale& sc, int dimzin) {
  std::string s = std::to_string(units / sc.per_degree) + "d";
  if (prec == 0) return s;
  std::int64_t rest = units % sc.per_degree;
  std::int64_t per_minute = sc.per_degree / 60;
  s += std::to_string(rest / per_minute) + "'";
  if (prec <= 2) return s;
  rest %= per_minute;
  std::int64_t per_second = per_minute / 60;
  std::string fraction;
  if (sc.second_decimals > 0) {
    fraction = std::to_string(rest % per_second);
    fraction.insert(0, static_cast<std::size_t>(sc.second_decimals) - fraction.size(), '0');
  }
  return s + DecimalText(std::to_string(rest / per_second), fraction, dimzin & 8) + "\"";
}

// The angle reduced to [0, 2*pi) in the precision the conversions work in.
long double Reduce(long double radians) {
  long double a = std::fmod(radians, kTwoPi);
  if (a < 0) a += kTwoPi;
  if (a >= kTwoPi) a = 0;
  return a;
}

// A decimal angle in degrees (full circle 360) or grads (400); a value that rounds to the full
// circle is written as zero, as the reduced angle it stands for.
std::string DecimalAngle(long double value, int prec, int dimzin, const char* full_circle) {
  Fixed f = RoundFixed(static_cast<double>(value), prec);
  if (f.whole == full_circle && f.fraction.find_first_not_of('0') == std::string::npos) {
    f.whole = "0";
  }
  return DecimalText(f.whole, f.fraction, dimzin);
}

}  // namespace

UnitText FormatDistance(double value, int unit, int prec, const UnitSettings& settings) {
  if (unit == -1) unit = settings.lunits;
  if (prec == -1) prec = settings.luprec;
  if (unit < 1 || unit > 5) {
    return Fail(RTREJ, L"linear unit " + std::to_wstring(unit) + L" is not 1-5");
  }
  int max_prec = unit >= 4 ? kMaxFractionPrecision : kMaxDecimalPrecision;
  if (!ValidPrecision(prec, max_prec)) {
    return Fail(RTREJ, L"precision " + std::to_wstring(prec) + L" is not 0-" +
                           std::to_wstring(max_prec) + L" for linear unit " +
                           std::to_wstring(unit));
  }
  if (!std::isfinite(value)) return Fail(RTERROR, L"the value is not a finite number");
  double magnitude = std::fabs(value);
  bool zero = false;
  std::string body;
  switch (unit) {
    case 1:
      body = Scientific(magnitude, prec, settings.dimzin);
      zero = magnitude == 0.0;
      break;
    case 2: {
      Fixed f = RoundFixed(magnitude, prec);
      zero = f.IsZero();
      body = DecimalText(f.whole, f.fraction, settings.dimzin);
      break;
    }
    case 3:
      body = Engineering(magnitude, prec, settings, &zero);
      break;
    case 4:
      body = Architectural(magnitude, prec, settings, &zero);
      break;
    default:
      body = Fractional(magnitude, prec, settings, &zero);
      break;
  }
  if (std::signbit(value) && !zero) body.insert(0, "-");
  return UnitText{RTNORM, Widen(body), {}};
}

UnitText FormatAngle(double radians, int unit, int prec, const UnitSettings& settings) {
  if (unit == -1) unit = settings.aunits;
  if (prec == -1) prec = settings.auprec;
  if (unit < 0 || unit > 4) {
    return Fail(RTREJ, L"angular unit " + std::to_wstring(unit) + L" is not 0-4");
  }
  if (!ValidPrecision(prec, kMaxDecimalPrecision)) {
    return Fail(RTREJ, L"precision " + std::to_wstring(prec) + L" is not 0-" +
                           std::to_wstring(kMaxDecimalPrecision) + L" for angles");
  }
  if (!std::isfinite(radians)) return Fail(RTERROR, L"the angle is not a finite number");
  long double a = Reduce(radians);
  std::string body;
  switch (unit) {
    case 0:
      body = DecimalAngle(a * 180.0L / kPi, prec, settings.dimzin, "360");
      break;
    case 2:
      body = DecimalAngle(a * 200.0L / kPi, prec, settings.dimzin, "400") + "g";
      break;
    case 3: {
      Fixed f = RoundFixed(static_cast<double>(a), prec);
      // 6.2832 is past the full circle: the angle it stands for rounds to zero.
      if (FixedValue(f) >= static_cast<double>(kTwoPi)) {
        f.whole = "0";
        f.fraction.assign(f.fraction.size(), '0');
      }
      body = DecimalText(f.whole, f.fraction, settings.dimzin) + "r";
      break;
    }
    default: {
      DmsScale sc = ScaleFor(prec);
      std::int64_t full = 360 * sc.per_degree;
      auto units = static_cast<std::int64_t>(
          std::roundl(a * 180.0L / kPi * static_cast<long double>(sc.per_degree)));
      if (units >= full) units -= full;
      if (unit == 1) {
        body = DmsText(units, prec, sc, settings.dimzin);
        break;
      }
      // Bearings: the angle from north or south towards east or west; the four directions
      // themselves are a letter alone.
      std::int64_t q = full / 4;
      if (units % q == 0) {
        static const char* const kCardinal[] = {"E", "N", "W", "S"};
        body = kCardinal[units / q];
        break;
      }
      const char* from = units < 2 * q ? "N" : "S";
      const char* to = (units < q || units > 3 * q) ? "E" : "W";
      std::int64_t bearing = units < q       ? q - units
                             : units < 2 * q ? units - q
                             : units < 3 * q ? 3 * q - units
                                             : units - 3 * q;
      const char* gap = (settings.unitmode & 1) ? "" : " ";
      body = std::string(from) + gap + DmsText(bearing, prec, sc, settings.dimzin) + gap + to;
      break;
    }
  }
  return UnitText{RTNORM, Widen(body), {}};
}

namespace {

// Reads angles typed or written by FormatAngle; on failure pos_ is where reading stopped.
class AngleReader {
 public:
  AngleReader(std::wstring_view text, int unit) : text_(text), unit_(unit) {}

  AngleValue Read() {
    long double radians = 0;
    SkipSpace();
    if (pos_ < text_.size() && IsBearingStart(Lower(text_[pos_]))) {
      if (!ReadBearing(&radians)) return Error();
    } else if (!ReadSignedTerm(&radians)) {
      return Error();
    }
    SkipSpace();
    if (pos_ != text_.size()) {
      if (message_.empty()) message_ = L"unexpected text after the angle";
      return Error();
    }
    if (!std::isfinite(radians)) {
      pos_ = 0;
      message_ = L"the angle is too large";
      return Error();
    }
    double reduced = static_cast<double>(Reduce(radians));
    if (reduced >= static_cast<double>(kTwoPi)) reduced = 0;
    return AngleValue{RTNORM, reduced, 0, {}};
  }

 private:
  static wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }
  static bool IsBearingStart(wchar_t c) { return c == L'n' || c == L's' || c == L'e' || c == L'w'; }
  static bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

  AngleValue Error() const { return AngleValue{RTERROR, 0.0, pos_, message_}; }

  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == L' ' || text_[pos_] == L'\t')) ++pos_;
  }

  // An unsigned decimal number with an optional exponent; false (nothing consumed) without one.
  bool ReadNumber(long double* out) {
    std::size_t start = pos_, p = pos_;
    std::size_t digits = 0;
    while (p < text_.size() && IsDigit(text_[p])) ++p, ++digits;
    if (p < text_.size() && text_[p] == L'.') {
      ++p;
      while (p < text_.size() && IsDigit(text_[p])) ++p, ++digits;
    }
    if (digits == 0) return false;
    if (p < text_.size() && Lower(text_[p]) == L'e') {
      std::size_t q = p + 1;
      if (q < text_.size() && (text_[q] == L'+' || text_[q] == L'-')) ++q;
      if (q < text_.size() && IsDigit(text_[q])) {
        while (q < text_.size() && IsDigit(text_[q])) ++q;
        p = q;
      }
    }
    std::string narrow(text_.begin() + static_cast<std::ptrdiff_t>(start),
                       text_.begin() + static_cast<std::ptrdiff_t>(p));
    double value = 0;
    auto [end, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (ec == std::errc::result_out_of_range) {
      message_ = L"the number is out of range";
      return false;
    }
    if (ec != std::errc() || end != narrow.data() + narrow.size()) {
      message_ = L"a number was expected";
      return false;
    }
    pos_ = p;
    *out = value;
    return true;
  }

  // One angle without sign: a number, with d (and minutes and seconds), g or r after it.
  bool ReadTerm(long double* radians) {
    long double number = 0;
    if (!ReadNumber(&number)) {
      if (message_.empty()) message_ = L"a number was expected";
      return false;
    }
    wchar_t c = pos_ < text_.size() ? Lower(text_[pos_]) : L'\0';
    if (c == L'd' || c == L'\u00b0') {
      ++pos_;
      long double degrees = number;
      long double part = 0;
      std::size_t mark = pos_;
      if (ReadNumber(&part)) {
        if (pos_ < text_.size() && text_[pos_] == L'\'') {
          ++pos_;
          degrees += part / 60.0L;
          mark = pos_;
          if (ReadNumber(&part)) {
            if (pos_ >= text_.size() || text_[pos_] != L'"') {
              pos_ = mark;
              message_ = L"seconds need \" after them";
              return false;
            }
            ++pos_;
            degrees += part / 3600.0L;
          } else if (!message_.empty()) {
            return false;
          }
        } else if (pos_ < text_.size() && text_[pos_] == L'"') {
          ++pos_;
          degrees += part / 3600.0L;
        } else {
          pos_ = mark;
          message_ = L"minutes need ' and seconds need \" after them";
          return false;
        }
      } else if (!message_.empty()) {
        return false;
      }
      *radians = degrees * kPi / 180.0L;
      return true;
    }
    if (c == L'g') {
      ++pos_;
      *radians = number * kPi / 200.0L;
      return true;
    }
    if (c == L'r') {
      ++pos_;
      *radians = number;
      return true;
    }
    switch (unit_) {
      case 2:
        *radians = number * kPi / 200.0L;
        break;
      case 3:
        *radians = number;
        break;
      default:
        *radians = number * kPi / 180.0L;
        break;
    }
    return true;
  }

  bool ReadSignedTerm(long double* radians) {
    bool negative = false;
    if (pos_ < text_.size() && (text_[pos_] == L'-' || text_[pos_] == L'+')) {
      negative = text_[pos_] == L'-';
      ++pos_;
    }
    if (!ReadTerm(radians)) return false;
    if (negative) *radians = -*radians;
    return true;
  }

  // N|S angle E|W, or one of N, S, E, W alone.
  bool ReadBearing(long double* radians) {
    wchar_t from = Lower(text_[pos_]);
    ++pos_;
    std::size_t after_letter = pos_;
    SkipSpace();
    if (pos_ == text_.size()) {
      switch (from) {
        case L'e':
          *radians = 0;
          break;
        case L'n':
          *radians = kPi / 2;
          break;
        case L'w':
          *radians = kPi;
          break;
        default:
          *radians = 1.5L * kPi;
          break;
      }
      return true;
    }
    if (from != L'n' && from != L's') {
      pos_ = after_letter - 1;
      message_ = L"a bearing starts with N or S";
      return false;
    }
    std::size_t angle_start = pos_;
    long double angle = 0;
    if (!ReadTerm(&angle)) return false;
    if (angle > kPi / 2 * (1 + 1e-12L)) {
      pos_ = angle_start;
      message_ = L"a bearing's angle is 90 degrees at most";
      return false;
    }
    SkipSpace();
    wchar_t to = pos_ < text_.size() ? Lower(text_[pos_]) : L'\0';
    if (to != L'e' && to != L'w') {
      message_ = L"a bearing ends with E or W";
      return false;
    }
    ++pos_;
    long double base = from == L'n' ? kPi / 2 : 1.5L * kPi;
    bool towards_larger = (from == L'n') == (to == L'w');
    *radians = towards_larger ? base + angle : base - angle;
    return true;
  }

  std::wstring_view text_;
  int unit_;
  std::size_t pos_ = 0;
  std::wstring message_;
};

}  // namespace

AngleValue ParseAngle(std::wstring_view text, int unit, const UnitSettings& settings) {
  if (unit == -1) unit = settings.aunits;
  if (unit < 0 || unit > 4) {
    return AngleValue{RTREJ, 0.0, 0, L"angular unit " + std::to_wstring(unit) + L" is not 0-4"};
  }
  if (text.find_first_not_of(L" \t") == std::wstring_view::npos) {
    return AngleValue{RTERROR, 0.0, 0, L"the text is empty"};
  }
  return AngleReader(text, unit).Read();
}
