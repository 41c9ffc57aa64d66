#include "platform/xlsx/numfmt.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace sheetwise::xlsx {
namespace {

// ---------------------------------------------------------------------------------------------
// Decimal digits of a number. Excel keeps 15 significant digits; rounding the decimal digits
// (not the binary double) is what makes 2.675 show as 2.68.

struct Decimal {
  char digits[24];  // significant digits, no leading or trailing zero
  int count = 0;    // 0 for zero
  int point = 0;    // value = 0.digits x 10^point
};

Decimal ToDecimal(double a) {  // a >= 0 and finite
  Decimal d;
  if (a == 0) return d;
  char buf[40];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 14);
  (void)ec;  // 40 bytes always hold "d.ddddddddddddddde+ddd"
  d.digits[0] = buf[0];
  int n = 1;
  const char* p = buf + 2;
  for (; p < end && *p != 'e'; ++p) d.digits[n++] = *p;
  int exp = 0;
  if (p < end) std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exp);
  d.point = exp + 1;
  while (n > 0 && d.digits[n - 1] == '0') --n;
  d.count = n;
  return d;
}

// Keeps `keep` leading digits, rounding half away from zero.
void RoundDigits(Decimal& d, int keep) {
  if (d.count == 0 || keep >= d.count) return;
  if (keep < 0) {
    d.count = 0;
    d.point = 0;
    return;
  }
  bool up = d.digits[keep] >= '5';
  d.count = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') --i;
    if (i < 0) {
      d.digits[0] = '1';
      d.count = 1;
      ++d.point;
    } else {
      ++d.digits[i];
      d.count = i + 1;
    }
  }
  while (d.count > 0 && d.digits[d.count - 1] == '0') --d.count;
  if (d.count == 0) d.point = 0;
}

void RoundDecimals(Decimal& d, int decimals) {
  if (d.count == 0) return;
  RoundDigits(d, d.point + decimals);
}

// Digit of 10^pos (pos < 0 for decimals).
char DigitAt(const Decimal& d, int pos) {
  int i = d.point - 1 - pos;
  return i >= 0 && i < d.count ? d.digits[i] : '0';
}

int IntDigits(const Decimal& d) {
  return d.count == 0 ? 0 : std::max(d.point, 0);
}

// Decimals present (after trailing zeros were cut).
int FracDigits(const Decimal& d) {
  return std::max(d.count - d.point, 0);
}

void AppendFixed(std::string& out, const Decimal& d) {
  int n = IntDigits(d);
  if (n == 0) out += '0';
  for (int p = n - 1; p >= 0; --p) out += DigitAt(d, p);
  int f = FracDigits(d);
  if (f > 0) {
    out += '.';
    for (int j = 1; j <= f; ++j) out += DigitAt(d, -j);
  }
}

int FixedLength(const Decimal& d) {
  int f = FracDigits(d);
  return std::max(IntDigits(d), 1) + (f > 0 ? f + 1 : 0);
}

void AppendUnsigned(std::string& out, std::uint64_t v, int min_digits) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  (void)ec;
  for (int n = static_cast<int>(end - buf); n < min_digits; ++n) out += '0';
  out.append(buf, end);
}

constexpr std::string_view kNumError = "#NUM!";
constexpr std::string_view kDateFill = "########";

// General as Excel shows it in a cell wide enough: at most 11 characters besides the sign.
void AppendGeneral(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += kNumError;
    return;
  }
  if (v == 0) {
    out += '0';
    return;
  }
  if (v < 0) out += '-';
  Decimal d = ToDecimal(std::fabs(v));
  int e = d.point - 1;  // exponent of the leading digit
  if (e >= -9 && e <= 10) {
    Decimal f = d;
    if (e <= -5) {
      // Small numbers stay fixed only when they need at most 9 decimals.
      RoundDecimals(f, 12);
    } else {
      RoundDecimals(f, e < 0 ? 9 : std::max(0, 9 - e));
    }
    if (FixedLength(f) <= 11) {
      AppendFixed(out, f);
      return;
    }
  }
  RoundDigits(d, 6);
  int exp = d.point - 1;
  out += d.digits[0];
  if (d.count > 1) {
    out += '.';
    out.append(d.digits + 1, d.digits + d.count);
  }
  out += 'E';
  out += exp < 0 ? '-' : '+';
  AppendUnsigned(out, static_cast<std::uint64_t>(std::abs(exp)), 2);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view prefix) {
  return s.size() - at >= prefix.size() && EqualsNoCase(s.substr(at, prefix.size()), prefix);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// ---------------------------------------------------------------------------------------------
// Calendar.

constexpr double kMaxSerial1900 = 2958465;  // 9999-12-31
constexpr int kDays1904 = 1462;             // 1904-01-01 as a 1900 serial

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::int64_t kUnix1900 = -25567;  // 1900-01-01 in days since 1970-01-01

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

constexpr std::array<std::string_view, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};

}  // namespace

std::optional<double> DateToSerial(int year, int month, int day, bool date1904) {
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  std::int64_t serial;
  if (year == 1900 && month == 2 && day == 29) {
    if (date1904) return std::nullopt;
    serial = 60;  // the leap day Excel keeps from Lotus 1-2-3
  } else {
    if (day > DaysInMonth(year, month)) return std::nullopt;
    serial = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
             kUnix1900 + 1;
    if (serial >= 60) ++serial;
  }
  if (date1904) {
    serial -= kDays1904;
    if (serial < 0) return std::nullopt;
  }
  return static_cast<double>(serial);
}

std::optional<CalendarDate> SerialToDate(double serial, bool date1904) {
  if (!std::isfinite(serial)) return std::nullopt;
  double whole = std::floor(serial);
  if (date1904) whole += kDays1904;
  if (whole < (date1904 ? kDays1904 : 0) || whole > kMaxSerial1900) return std::nullopt;
  auto s = static_cast<std::int64_t>(whole);
  CalendarDate out;
  out.weekday = static_cast<int>((s + 6) % 7);
  if (s == 0) {
    out.year = 1900;
    out.month = 1;
    out.day = 0;
  } else if (s == 60) {
    out.year = 1900;
    out.month = 2;
    out.day = 29;
  } else {
    CivilFromDays(s - 1 + kUnix1900 - (s > 60 ? 1 : 0), out.year, out.month, out.day);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Format codes.

namespace {

enum class Tok : std::uint8_t {
  kLiteral,
  kDigit,       // 0 # ? (ch)
  kFixedDigit,  // 1-9: literal digits, or a fixed denominator after '/'
  kPoint,
  kComma,
  kPercent,
  kExp,  // E+ / E- (ch '+' or '-')
  kSlash,
  kText,     // @
  kGeneral,  // the word General inside a section
  kYear,     // count 1-2 two digits, more four
  kMonth,    // count 1-5
  kMinute,   // count 1-2
  kDay,      // count 1-4
  kHour,
  kSecond,
  kSubsecond,  // count = decimals
  kAmPm,       // count 5: AM/PM; count 3: A/P with the letters in text
  kElapsedHour,
  kElapsedMinute,
  kElapsedSecond,
};

enum class Role : std::uint8_t { kNone, kInt, kFrac, kExponent, kNumerator, kDenominator };

struct Token {
  Tok kind = Tok::kLiteral;
  char ch = 0;
  Role role = Role::kNone;
  int count = 0;
  std::string text;
};

enum class Op : std::uint8_t { kNone, kLt, kLe, kGt, kGe, kEq, kNe };

bool Matches(Op op, double limit, double v) {
  switch (op) {
    case Op::kLt:
      return v < limit;
    case Op::kLe:
      return v <= limit;
    case Op::kGt:
      return v > limit;
    case Op::kGe:
      return v >= limit;
    case Op::kEq:
      return v == limit;
    case Op::kNe:
      return v != limit;
    case Op::kNone:
      return true;
  }
  return true;
}

bool IsDateKind(Tok k) {
  return k >= Tok::kYear && k <= Tok::kElapsedSecond;
}

}  // namespace

struct NumberFormat::Section {
  std::vector<Token> tokens;
  Op op = Op::kNone;
  double limit = 0;
  bool is_date = false;
  bool is_text = false;        // holds '@'
  bool has_date_part = false;  // y m d: the calendar is needed
  bool fraction = false;
  bool exponent = false;
  bool grouping = false;
  int int_count = 0;
  int frac_count = 0;
  int exp_count = 0;
  int num_count = 0;
  int den_count = 0;
  std::int64_t fixed_den = 0;
  int scale = 0;      // power of ten: +2 per %, -3 per scaling comma
  int subsecond = 0;  // decimals of the seconds
  bool ampm = false;
};

namespace {

using Section = NumberFormat::Section;

void AddLiteral(std::vector<Token>& tokens, std::string_view text) {
  if (text.empty()) return;
  if (!tokens.empty() && tokens.back().kind == Tok::kLiteral) {
    tokens.back().text += text;
    return;
  }
  Token t;
  t.text = text;
  tokens.push_back(std::move(t));
}

void AddToken(std::vector<Token>& tokens, Tok kind, char ch = 0, int count = 0) {
  Token t;
  t.kind = kind;
  t.ch = ch;
  t.count = count;
  tokens.push_back(std::move(t));
}

// A bracket's content: condition, elapsed time, currency/locale, or something shown as nothing
// (colors, [DBNum1], calendars).
void ParseBracket(std::string_view body, Section& s) {
  if (body.empty()) return;
  char c0 = body[0];
  if (c0 == '$') {
    std::size_t dash = body.find('-', 1);
    AddLiteral(s.tokens, body.substr(1, dash == std::string_view::npos ? body.npos : dash - 1));
    return;
  }
  if (c0 == '<' || c0 == '>' || c0 == '=') {
    Op op;
    std::size_t n = 1;
    if (body.substr(0, 2) == "<=") {
      op = Op::kLe, n = 2;
    } else if (body.substr(0, 2) == ">=") {
      op = Op::kGe, n = 2;
    } else if (body.substr(0, 2) == "<>") {
      op = Op::kNe, n = 2;
    } else {
      op = c0 == '<' ? Op::kLt : c0 == '>' ? Op::kGt : Op::kEq;
    }
    std::string_view num = body.substr(n);
    while (!num.empty() && num.front() == ' ') num.remove_prefix(1);
    if (!num.empty() && num.front() == '+') num.remove_prefix(1);
    double limit = 0;
    auto [end, ec] = std::from_chars(num.data(), num.data() + num.size(), limit);
    if (ec == std::errc() && s.op == Op::kNone) {
      (void)end;
      s.op = op;
      s.limit = limit;
    }
    return;
  }
  char l = Lower(c0);
  if (l == 'h' || l == 'm' || l == 's') {
    for (char c : body)
      if (Lower(c) != l) return;
    Tok kind = l == 'h' ? Tok::kElapsedHour : l == 'm' ? Tok::kElapsedMinute : Tok::kElapsedSecond;
    AddToken(s.tokens, kind, 0, static_cast<int>(std::min<std::size_t>(body.size(), 64)));
  }
}

void Tokenize(std::string_view code, Section& s) {
  std::size_t i = 0;
  const std::size_t n = code.size();
  while (i < n) {
    char c = code[i];
    char l = Lower(c);
    switch (c) {
      case '"': {
        std::size_t end = code.find('"', i + 1);
        if (end == std::string_view::npos) end = n;
        AddLiteral(s.tokens, code.substr(i + 1, end - i - 1));
        i = end + 1;
        continue;
      }
      case '\\':
        if (i + 1 < n) {
          std::size_t len = 1;
          while (i + 1 + len < n && (static_cast<unsigned char>(code[i + 1 + len]) & 0xC0) == 0x80)
            ++len;
          AddLiteral(s.tokens, code.substr(i + 1, len));
          i += 1 + len;
        } else {
          ++i;
        }
        continue;
      case '_':
      case '*': {
        // "_x" is a space as wide as x; "*x" fills the rest of the cell and is shown as nothing.
        std::size_t len = i + 1 < n ? 1 : 0;
        while (i + 1 + len < n && (static_cast<unsigned char>(code[i + 1 + len]) & 0xC0) == 0x80)
          ++len;
        if (c == '_' && len > 0) AddLiteral(s.tokens, " ");
        i += 1 + len;
        continue;
      }
      case '[': {
        std::size_t end = code.find(']', i + 1);
        if (end == std::string_view::npos) return;  // unterminated: the rest is dropped
        ParseBracket(code.substr(i + 1, end - i - 1), s);
        i = end + 1;
        continue;
      }
      case '0':
      case '#':
      case '?':
        AddToken(s.tokens, Tok::kDigit, c);
        ++i;
        continue;
      case '.':
        AddToken(s.tokens, Tok::kPoint, c);
        ++i;
        continue;
      case ',':
        AddToken(s.tokens, Tok::kComma, c);
        ++i;
        continue;
      case '%':
        AddToken(s.tokens, Tok::kPercent, c);
        ++i;
        continue;
      case '/':
        AddToken(s.tokens, Tok::kSlash, c);
        ++i;
        continue;
      case '@':
        AddToken(s.tokens, Tok::kText, c);
        ++i;
        continue;
      default:
        break;
    }
    if (c >= '1' && c <= '9') {
      AddToken(s.tokens, Tok::kFixedDigit, c);
      ++i;
      continue;
    }
    if (l == 'e' && i + 1 < n && (code[i + 1] == '+' || code[i + 1] == '-')) {
      AddToken(s.tokens, Tok::kExp, code[i + 1]);
      i += 2;
      continue;
    }
    if (l == 'g' && StartsWithNoCase(code, i, "general")) {
      AddToken(s.tokens, Tok::kGeneral);
      i += 7;
      continue;
    }
    if (l == 'a' && StartsWithNoCase(code, i, "am/pm")) {
      AddToken(s.tokens, Tok::kAmPm, 0, 5);
      i += 5;
      continue;
    }
    if (l == 'a' && StartsWithNoCase(code, i, "a/p")) {
      AddToken(s.tokens, Tok::kAmPm, 0, 3);
      s.tokens.back().text = {code[i], code[i + 2]};
      i += 3;
      continue;
    }
    if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's' || l == 'e') {
      std::size_t j = i;
      while (j < n && Lower(code[j]) == l) ++j;
      int count = static_cast<int>(std::min<std::size_t>(j - i, 64));
      Tok kind = l == 'y'   ? Tok::kYear
                 : l == 'e' ? Tok::kYear
                 : l == 'm' ? Tok::kMonth
                 : l == 'd' ? Tok::kDay
                 : l == 'h' ? Tok::kHour
                            : Tok::kSecond;
      if (l == 'e') count = 4;
      AddToken(s.tokens, kind, 0, count);
      i = j;
      continue;
    }
    std::size_t len = 1;
    while (i + len < n && (static_cast<unsigned char>(code[i + len]) & 0xC0) == 0x80) ++len;
    AddLiteral(s.tokens, code.substr(i, len));
    i += len;
  }
}

std::string_view TokenChars(const Token& t) {
  switch (t.kind) {
    case Tok::kExp:
      return t.ch == '+' ? "E+" : "E-";
    case Tok::kDigit:
    case Tok::kFixedDigit:
    case Tok::kPoint:
    case Tok::kComma:
    case Tok::kPercent:
    case Tok::kSlash:
    case Tok::kText:
      return std::string_view(&t.ch, 1);
    default:
      return t.text;
  }
}

// Number tokens that a date section shows as they are written.
void DemoteToLiteral(Token& t) {
  std::string text(TokenChars(t));
  t.kind = Tok::kLiteral;
  t.text = std::move(text);
}

void MergeLiterals(std::vector<Token>& tokens) {
  std::vector<Token> out;
  out.reserve(tokens.size());
  for (Token& t : tokens) {
    if (t.kind == Tok::kLiteral && !out.empty() && out.back().kind == Tok::kLiteral) {
      out.back().text += t.text;
    } else if (t.kind != Tok::kLiteral || !t.text.empty()) {
      out.push_back(std::move(t));
    }
  }
  tokens = std::move(out);
}

void AnalyzeDate(Section& s) {
  auto& t = s.tokens;
  // Fractional seconds: '.' and zeros right after the seconds.
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    if ((t[i].kind == Tok::kSecond || t[i].kind == Tok::kElapsedSecond) &&
        t[i + 1].kind == Tok::kPoint) {
      std::size_t j = i + 2;
      while (j < t.size() && t[j].kind == Tok::kDigit && t[j].ch == '0') ++j;
      int zeros = static_cast<int>(j - i - 2);
      if (zeros == 0) continue;
      int shown = std::min(zeros, 3);  // Excel shows at most milliseconds
      t[i + 1].kind = Tok::kSubsecond;
      t[i + 1].count = shown;
      s.subsecond = std::max(s.subsecond, shown);
      for (std::size_t k = i + 2; k < j; ++k) {
        t[k].kind = Tok::kLiteral;
        t[k].text = k - i - 2 < static_cast<std::size_t>(shown) ? "" : "0";
      }
    }
  }
  // "m" and "mm" mean minutes right after hours or right before seconds.
  auto prev_time = [&](std::size_t i) -> const Token* {
    for (std::size_t k = i; k-- > 0;)
      if (IsDateKind(t[k].kind)) return &t[k];
    return nullptr;
  };
  auto next_time = [&](std::size_t i) -> const Token* {
    for (std::size_t k = i + 1; k < t.size(); ++k)
      if (IsDateKind(t[k].kind)) return &t[k];
    return nullptr;
  };
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i].kind != Tok::kMonth || t[i].count > 2) continue;
    const Token* p = prev_time(i);
    const Token* q = next_time(i);
    if ((p && (p->kind == Tok::kHour || p->kind == Tok::kElapsedHour)) ||
        (q && (q->kind == Tok::kSecond || q->kind == Tok::kElapsedSecond)))
      t[i].kind = Tok::kMinute;
  }
  for (Token& k : t) {
    if (k.kind == Tok::kAmPm) s.ampm = true;
    if (k.kind == Tok::kYear || k.kind == Tok::kMonth || k.kind == Tok::kDay)
      s.has_date_part = true;
    if (!IsDateKind(k.kind) && k.kind != Tok::kLiteral && k.kind != Tok::kGeneral)
      DemoteToLiteral(k);
  }
  MergeLiterals(t);
}

void AnalyzeNumber(Section& s) {
  auto& t = s.tokens;
  const std::size_t n = t.size();
  std::size_t exp_at = n, slash_at = n;
  for (std::size_t i = 0; i < n; ++i) {
    if (t[i].kind == Tok::kExp && exp_at == n) {
      exp_at = i;
    }
  }
  bool any_digit_before_exp = false;
  for (std::size_t i = 0; i < exp_at; ++i)
    if (t[i].kind == Tok::kDigit) any_digit_before_exp = true;
  if (exp_at < n && !any_digit_before_exp) exp_at = n;  // "E+" without a mantissa is text
  if (exp_at == n) {
    // A fraction: '/' right after a digit placeholder, followed by placeholders or by the
    // digits of a fixed denominator ("?/8").
    for (std::size_t i = 1; i + 1 < n; ++i) {
      if (t[i].kind == Tok::kSlash && t[i - 1].kind == Tok::kDigit &&
          (t[i + 1].kind == Tok::kDigit || t[i + 1].kind == Tok::kFixedDigit)) {
        slash_at = i;
        break;
      }
    }
  }
  if (exp_at < n) {
    s.exponent = true;
    bool after_point = false;
    for (std::size_t i = 0; i < n; ++i) {
      Token& k = t[i];
      if (i == exp_at) continue;
      if (i > exp_at) {
        if (k.kind == Tok::kDigit) {
          k.role = Role::kExponent;
          ++s.exp_count;
        } else if (k.kind != Tok::kLiteral && k.kind != Tok::kGeneral) {
          DemoteToLiteral(k);
        }
        continue;
      }
      if (k.kind == Tok::kPoint && !after_point) {
        after_point = true;
      } else if (k.kind == Tok::kDigit) {
        k.role = after_point ? Role::kFrac : Role::kInt;
        ++(after_point ? s.frac_count : s.int_count);
      } else if (k.kind == Tok::kPoint) {
        DemoteToLiteral(k);
      }
    }
    for (std::size_t i = exp_at + 1; i < n; ++i)
      if (t[i].kind == Tok::kExp) DemoteToLiteral(t[i]);
  } else if (slash_at < n) {
    s.fraction = true;
    std::size_t num_begin = slash_at;
    while (num_begin > 0 && t[num_begin - 1].kind == Tok::kDigit) --num_begin;
    for (std::size_t i = num_begin; i < slash_at; ++i) {
      t[i].role = Role::kNumerator;
      ++s.num_count;
    }
    for (std::size_t i = 0; i < num_begin; ++i) {
      if (t[i].kind == Tok::kDigit) {
        t[i].role = Role::kInt;
        ++s.int_count;
      }
    }
    std::size_t i = slash_at + 1;
    if (t[i].kind == Tok::kFixedDigit) {
      // "?/8", "?/16": digits (zeros included after the first) give a fixed denominator.
      std::int64_t den = 0;
      int digits = 0;
      while (i < n &&
             (t[i].kind == Tok::kFixedDigit || (t[i].kind == Tok::kDigit && t[i].ch == '0'))) {
        if (digits < 9) den = den * 10 + (t[i].ch - '0');
        ++digits;
        t[i].kind = Tok::kLiteral;
        t[i].text.clear();
        ++i;
      }
      s.fixed_den = den;
      // The denominator is shown where its digits were.
      t[slash_at + 1].kind = Tok::kDigit;
      t[slash_at + 1].role = Role::kDenominator;
      t[slash_at + 1].ch = '0';
      s.den_count = 1;
    } else {
      while (i < n && t[i].kind == Tok::kDigit) {
        t[i].role = Role::kDenominator;
        ++s.den_count;
        ++i;
      }
    }
    for (std::size_t k = i; k < n; ++k)
      if (t[k].kind == Tok::kDigit && t[k].role == Role::kNone) DemoteToLiteral(t[k]);
    for (std::size_t k = 0; k < n; ++k)
      if (k != slash_at &&
          (t[k].kind == Tok::kPoint || t[k].kind == Tok::kSlash || t[k].kind == Tok::kExp))
        DemoteToLiteral(t[k]);
  } else {
    bool after_point = false;
    for (Token& k : t) {
      if (k.kind == Tok::kPoint) {
        if (after_point) DemoteToLiteral(k);
        after_point = true;
      } else if (k.kind == Tok::kDigit) {
        k.role = after_point ? Role::kFrac : Role::kInt;
        ++(after_point ? s.frac_count : s.int_count);
      } else if (k.kind == Tok::kSlash) {
        DemoteToLiteral(k);
      }
    }
  }
  // Commas: between integer placeholders they group thousands; right after the last digit
  // placeholder they divide by 1000 each; anywhere else they are text.
  std::size_t first_int = n, last_int = n, last_digit = n;
  for (std::size_t i = 0; i < n; ++i) {
    if (t[i].kind != Tok::kDigit || t[i].role == Role::kNone) continue;
    last_digit = i;
    if (t[i].role == Role::kInt) {
      if (first_int == n) first_int = i;
      last_int = i;
    }
  }
  bool after_digit = false;  // the last token other than a comma was a digit placeholder
  for (std::size_t i = 0; i < n; ++i) {
    if (t[i].kind != Tok::kComma) {
      after_digit = t[i].kind == Tok::kDigit && t[i].role != Role::kNone;
      continue;
    }
    const bool int_before = first_int < i, int_after = last_int != n && last_int > i;
    const bool digit_after = last_digit != n && last_digit > i;
    if (int_before && int_after) {
      s.grouping = true;
      t[i].kind = Tok::kLiteral;
      t[i].text.clear();
    } else if (after_digit && !digit_after && !s.fraction) {
      s.scale -= 3;
      t[i].kind = Tok::kLiteral;
      t[i].text.clear();
    } else {
      DemoteToLiteral(t[i]);
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    Token& k = t[i];
    if (k.kind == Tok::kPercent) s.scale += 2;
    // Whatever the renderer of this kind of section does not place is shown as written.
    const bool placed = k.kind == Tok::kLiteral || k.kind == Tok::kGeneral ||
                        (k.kind == Tok::kDigit && k.role != Role::kNone) ||
                        (k.kind == Tok::kPoint && !s.fraction) ||
                        (k.kind == Tok::kExp && i == exp_at) ||
                        (k.kind == Tok::kSlash && s.fraction && i == slash_at);
    if (!placed) DemoteToLiteral(k);
  }
  s.scale = std::clamp(s.scale, -400, 400);
  MergeLiterals(t);
}

void Analyze(Section& s) {
  for (const Token& k : s.tokens) {
    if (IsDateKind(k.kind)) s.is_date = true;
    if (k.kind == Tok::kText) s.is_text = true;
  }
  if (s.is_text) {
    s.is_date = false;
    for (Token& k : s.tokens)
      if (k.kind != Tok::kText && k.kind != Tok::kLiteral) DemoteToLiteral(k);
    MergeLiterals(s.tokens);
    return;
  }
  if (s.is_date) {
    AnalyzeDate(s);
  } else {
    // Date letters cannot be here; y m d h s e make a section a date section.
    AnalyzeNumber(s);
  }
}

// Splits at ';' outside quotes, escapes and brackets; at most 4 sections (Excel refuses more,
// the rest is ignored).
std::vector<std::string_view> SplitSections(std::string_view code) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < code.size() && out.size() < 4; ++i) {
    char c = code[i];
    if (c == '"') {
      std::size_t end = code.find('"', i + 1);
      i = end == std::string_view::npos ? code.size() : end;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == '[') {
      std::size_t end = code.find(']', i + 1);
      i = end == std::string_view::npos ? code.size() : end;
    } else if (c == ';') {
      out.push_back(code.substr(start, i - start));
      start = i + 1;
    }
  }
  if (out.size() < 4) out.push_back(code.substr(std::min(start, code.size())));
  return out;
}

}  // namespace

namespace {

std::int64_t Pow10(int n) {
  std::int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Digits of the integer part laid into the integer placeholders, right-aligned: the first
// placeholder takes every digit that has no placeholder of its own.
class IntWriter {
 public:
  IntWriter(const Section& s, const Decimal& d, std::string& out, bool force_zero = false)
      : s_(s), d_(d), out_(out), digits_(IntDigits(d)) {
    if (force_zero && digits_ == 0) zero_digit_ = true;
  }

  void Placeholder(char ch) {
    int pos = s_.int_count - 1 - seen_++;
    if (pos == s_.int_count - 1)
      for (int p = Shown() - 1; p > pos; --p) Emit(p, DigitAt(d_, p));
    if (pos < Shown()) {
      Emit(pos, DigitAt(d_, pos));
    } else if (ch == '0') {
      Emit(pos, '0');
    } else if (ch == '?') {
      out_ += ' ';
    }
  }

  // Integer digits of a code without integer placeholders (".00" shows 12.50).
  void All() {
    for (int p = Shown() - 1; p >= 0; --p) Emit(p, DigitAt(d_, p));
  }

 private:
  int Shown() const { return zero_digit_ ? 1 : digits_; }
  void Emit(int pos, char digit) {
    out_ += digit;
    if (s_.grouping && pos > 0 && pos % 3 == 0) out_ += ',';
  }

  const Section& s_;
  const Decimal& d_;
  std::string& out_;
  int digits_;
  int seen_ = 0;
  bool zero_digit_ = false;
};

void RenderPlain(const Section& s, double a, std::string& out) {
  Decimal d = ToDecimal(a);
  if (d.count > 0) d.point += s.scale;
  RoundDecimals(d, s.frac_count);
  IntWriter ints(s, d, out);
  const int decimals = FracDigits(d);
  int frac_seen = 0;
  for (const Token& t : s.tokens) {
    switch (t.kind) {
      case Tok::kLiteral:
        out += t.text;
        break;
      case Tok::kGeneral:
        AppendGeneral(out, a);
        break;
      case Tok::kPoint:
        if (s.int_count == 0) ints.All();
        out += '.';
        break;
      case Tok::kDigit:
        if (t.role == Role::kInt) {
          ints.Placeholder(t.ch);
        } else if (t.role == Role::kFrac) {
          ++frac_seen;
          if (frac_seen <= decimals)
            out += DigitAt(d, -frac_seen);
          else if (t.ch == '0')
            out += '0';
          else if (t.ch == '?')
            out += ' ';
        }
        break;
      default:
        break;
    }
  }
}

void RenderExponent(const Section& s, double a, std::string& out) {
  Decimal d = ToDecimal(a);
  if (d.count > 0) d.point += s.scale;
  const int m = s.int_count;
  auto floor_div = [](int x, int y) { return x >= 0 ? x / y : -((-x + y - 1) / y); };
  int exp = 0;
  if (d.count > 0) {
    // The exponent is a multiple of the integer placeholders' count: "##0.0E+0" is engineering
    // notation, "00.0E+0" shows 12345 as "01.2E+04" (as LibreOffice; Excel documents only the
    // first).
    exp = m == 0 ? d.point : floor_div(d.point - 1, m) * m;
    d.point -= exp;
    RoundDecimals(d, s.frac_count);
    // Rounding up may need one more integer digit than the placeholders allow (9.996 -> 10.00).
    if (m > 0 ? d.point > m : d.point > 0) {
      int total = d.point + exp;
      int e2 = m == 0 ? total : floor_div(total - 1, m) * m;
      d.point = total - e2;
      exp = e2;
    }
  }
  IntWriter ints(s, d, out);
  const int decimals = FracDigits(d);
  int frac_seen = 0;
  bool exp_done = false;
  int exp_zeros = 0;
  for (const Token& t : s.tokens)
    if (t.kind == Tok::kDigit && t.role == Role::kExponent && t.ch == '0') ++exp_zeros;
  for (const Token& t : s.tokens) {
    switch (t.kind) {
      case Tok::kLiteral:
        out += t.text;
        break;
      case Tok::kGeneral:
        AppendGeneral(out, a);
        break;
      case Tok::kPoint:
        if (m == 0) ints.All();
        out += '.';
        break;
      case Tok::kExp:
        out += 'E';
        if (exp < 0)
          out += '-';
        else if (t.ch == '+')
          out += '+';
        break;
      case Tok::kDigit:
        if (t.role == Role::kInt) {
          ints.Placeholder(t.ch);
        } else if (t.role == Role::kFrac) {
          ++frac_seen;
          if (frac_seen <= decimals)
            out += DigitAt(d, -frac_seen);
          else if (t.ch == '0')
            out += '0';
          else if (t.ch == '?')
            out += ' ';
        } else if (t.role == Role::kExponent && !exp_done) {
          exp_done = true;
          AppendUnsigned(out, static_cast<std::uint64_t>(std::abs(exp)), std::max(exp_zeros, 1));
        }
        break;
      default:
        break;
    }
  }
}

// Closest fraction with a denominator up to max_den (continued fractions and the best
// semiconvergent).
void BestFraction(double x, std::int64_t max_den, double& num, std::int64_t& den) {
  std::int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  double r = x;
  for (int iter = 0; iter < 64; ++iter) {
    double a = std::floor(r);
    if (a > 1e15) break;
    auto ai = static_cast<std::int64_t>(a);
    std::int64_t q2 = ai * q1 + q0;
    if (q2 > max_den) {
      if (q1 > 0) {
        std::int64_t k = (max_den - q0) / q1;
        std::int64_t ps = k * p1 + p0, qs = k * q1 + q0;
        if (qs > 0 && std::fabs(x - static_cast<double>(ps) / static_cast<double>(qs)) <
                          std::fabs(x - static_cast<double>(p1) / static_cast<double>(q1))) {
          p1 = ps;
          q1 = qs;
        }
      }
      break;
    }
    std::int64_t p2 = ai * p1 + p0;
    p0 = p1;
    q0 = q1;
    p1 = p2;
    q1 = q2;
    double rest = r - a;
    if (rest <= 1e-12 || std::fabs(x - static_cast<double>(p1) / static_cast<double>(q1)) <=
                             1e-15 * std::max(x, 1.0))
      break;
    r = 1 / rest;
  }
  if (q1 == 0) {  // x too large for a fraction: the whole number over 1
    num = std::round(x);
    den = 1;
    return;
  }
  num = static_cast<double>(p1);
  den = q1;
}

void AppendWhole(std::string& out, double v) {
  Decimal d = ToDecimal(v);
  RoundDecimals(d, 0);
  int n = IntDigits(d);
  if (n == 0) out += '0';
  for (int p = n - 1; p >= 0; --p) out += DigitAt(d, p);
}

void RenderFraction(const Section& s, double a, std::string& out) {
  if (s.scale != 0) a *= std::pow(10.0, s.scale);
  {
    // 15 significant digits, as Excel stores the number.
    Decimal d = ToDecimal(a);
    char buf[40];
    int n = 0;
    if (d.count == 0) {
      a = 0;
    } else {
      buf[n++] = '.';
      for (int i = 0; i < d.count; ++i) buf[n++] = d.digits[i];
      buf[n++] = 'e';
      auto [end, ec] = std::to_chars(buf + n, buf + sizeof buf, d.point);
      (void)ec;
      std::from_chars(buf, end, a);
    }
  }
  double whole = 0, frac = a;
  if (s.int_count > 0) {
    whole = std::floor(a);
    frac = a - whole;
  }
  double num = 0;
  std::int64_t den = 1;
  if (s.fixed_den > 0) {
    den = s.fixed_den;
    num = std::round(frac * static_cast<double>(den));
  } else {
    std::int64_t max_den = Pow10(std::clamp(s.den_count, 1, 9)) - 1;
    BestFraction(frac, max_den, num, den);
  }
  if (s.int_count > 0 && num >= static_cast<double>(den)) {
    whole += 1;
    num = 0;
  }
  const bool blank = s.int_count > 0 && num == 0;  // a whole number: the fraction is spaces
  Decimal wd = ToDecimal(whole);
  RoundDecimals(wd, 0);
  IntWriter ints(s, wd, out, /*force_zero=*/num == 0);

  std::string num_text, den_text;
  AppendWhole(num_text, num);
  AppendUnsigned(den_text, static_cast<std::uint64_t>(den), 1);
  const int num_len = static_cast<int>(num_text.size());
  int num_seen = 0, den_seen = 0;
  for (const Token& t : s.tokens) {
    switch (t.kind) {
      case Tok::kLiteral:
        out += t.text;
        break;
      case Tok::kGeneral:
        AppendGeneral(out, a);
        break;
      case Tok::kSlash:
        out += blank ? ' ' : '/';
        break;
      case Tok::kDigit:
        if (t.role == Role::kInt) {
          ints.Placeholder(t.ch);
        } else if (t.role == Role::kNumerator) {
          int pos = s.num_count - 1 - num_seen++;
          if (blank) {
            out += ' ';
            break;
          }
          if (pos == s.num_count - 1)
            for (int p = num_len - 1; p > pos; --p) out += num_text[num_len - 1 - p];
          if (pos < num_len)
            out += num_text[num_len - 1 - pos];
          else if (t.ch == '0')
            out += '0';
          else if (t.ch == '?')
            out += ' ';
        } else if (t.role == Role::kDenominator) {
          int index = den_seen++;
          if (s.fixed_den > 0) {
            if (!blank) out += den_text;
            break;
          }
          if (index == 0) {
            if (blank) {
              out.append(std::max<std::size_t>(den_text.size(), 1), ' ');
            } else {
              out += den_text;
            }
          } else if (index >= static_cast<int>(den_text.size())) {
            if (t.ch == '0' && !blank)
              out += '0';
            else if (t.ch == '?' || (t.ch == '0' && blank))
              out += ' ';
          }
        }
        break;
      default:
        break;
    }
  }
}

void RenderDate(const Section& s, double v, bool date1904, std::string& out) {
  if (v < 0) {
    if (!date1904) {
      out.assign(kDateFill);
      return;
    }
    out += '-';
    v = -v;
  }
  const std::int64_t per_second = Pow10(s.subsecond);
  const double ticks = std::round(v * 86400.0 * static_cast<double>(per_second));
  const double limit =
      (kMaxSerial1900 + 1 - (date1904 ? kDays1904 : 0)) * 86400.0 * static_cast<double>(per_second);
  if (!(ticks < limit)) {
    out.assign(kDateFill);
    return;
  }
  const auto all = static_cast<std::int64_t>(ticks);
  const std::int64_t total_seconds = all / per_second;
  const std::int64_t sub = all % per_second;
  const std::int64_t days = total_seconds / 86400;
  const int second_of_day = static_cast<int>(total_seconds % 86400);
  CalendarDate date;
  if (s.has_date_part) {
    std::optional<CalendarDate> c = SerialToDate(static_cast<double>(days), date1904);
    if (!c) {
      out.assign(kDateFill);
      return;
    }
    date = *c;
  }
  const int hour = second_of_day / 3600, minute = second_of_day / 60 % 60,
            second = second_of_day % 60;
  for (const Token& t : s.tokens) {
    switch (t.kind) {
      case Tok::kLiteral:
        out += t.text;
        break;
      case Tok::kGeneral:
        AppendGeneral(out, v);
        break;
      case Tok::kYear:
        if (t.count <= 2)
          AppendUnsigned(out, static_cast<std::uint64_t>(date.year % 100), 2);
        else
          AppendUnsigned(out, static_cast<std::uint64_t>(date.year), 4);
        break;
      case Tok::kMonth: {
        std::string_view name = kMonthNames[static_cast<std::size_t>(date.month - 1)];
        if (t.count <= 2)
          AppendUnsigned(out, static_cast<std::uint64_t>(date.month), t.count);
        else if (t.count == 3)
          out += name.substr(0, 3);
        else if (t.count == 5)
          out += name.substr(0, 1);
        else
          out += name;
        break;
      }
      case Tok::kDay: {
        std::string_view name = kDayNames[static_cast<std::size_t>(date.weekday)];
        if (t.count <= 2)
          AppendUnsigned(out, static_cast<std::uint64_t>(date.day), t.count);
        else if (t.count == 3)
          out += name.substr(0, 3);
        else
          out += name;
        break;
      }
      case Tok::kHour: {
        int h = hour;
        if (s.ampm) {
          h %= 12;
          if (h == 0) h = 12;
        }
        AppendUnsigned(out, static_cast<std::uint64_t>(h), std::min(t.count, 2));
        break;
      }
      case Tok::kMinute:
        AppendUnsigned(out, static_cast<std::uint64_t>(minute), std::min(t.count, 2));
        break;
      case Tok::kSecond:
        AppendUnsigned(out, static_cast<std::uint64_t>(second), std::min(t.count, 2));
        break;
      case Tok::kSubsecond: {
        out += '.';
        std::int64_t shown = sub / Pow10(s.subsecond - t.count);
        AppendUnsigned(out, static_cast<std::uint64_t>(shown), t.count);
        break;
      }
      case Tok::kAmPm:
        if (t.count == 5)
          out += hour >= 12 ? "PM" : "AM";
        else
          out += t.text[hour >= 12 ? 1 : 0];
        break;
      case Tok::kElapsedHour:
        AppendUnsigned(out, static_cast<std::uint64_t>(total_seconds / 3600), t.count);
        break;
      case Tok::kElapsedMinute:
        AppendUnsigned(out, static_cast<std::uint64_t>(total_seconds / 60), t.count);
        break;
      case Tok::kElapsedSecond:
        AppendUnsigned(out, static_cast<std::uint64_t>(total_seconds), t.count);
        break;
      default:
        break;
    }
  }
}

// The condition admits negative numbers only: such a section shows them without their sign.
bool OnlyNegative(Op op, double limit) {
  return (op == Op::kLt && limit <= 0) || (op == Op::kLe && limit < 0) ||
         (op == Op::kEq && limit < 0);
}

}  // namespace

NumberFormat::NumberFormat(std::string_view code) {
  is_general_ = code.empty() || EqualsNoCase(code, "General");
  if (is_general_) return;
  std::vector<std::string_view> parts = SplitSections(code);
  const int count = static_cast<int>(parts.size());
  sections_ = std::make_unique<Section[]>(parts.size());
  for (int i = 0; i < count; ++i) {
    Tokenize(parts[static_cast<std::size_t>(i)], sections_[i]);
    Analyze(sections_[i]);
  }
  if (count == 4) {
    text_section_ = 3;
    number_sections_ = 3;
  } else if (sections_[count - 1].is_text) {
    text_section_ = count - 1;
    number_sections_ = count - 1;
  } else {
    number_sections_ = count;
  }
  is_text_ = count == 1 && sections_[0].is_text;
  for (int i = 0; i < number_sections_; ++i) {
    if (sections_[i].is_date) is_date_time_ = true;
    if (i < 2 && sections_[i].op != Op::kNone) has_conditions_ = true;
  }
}

NumberFormat::~NumberFormat() = default;

const NumberFormat::Section* NumberFormat::Choose(double v, bool& show_sign) const {
  const int n = number_sections_;
  show_sign = false;
  if (n == 0) return nullptr;
  const Section& s0 = sections_[0];
  if (!has_conditions_) {
    if (n == 1 || v > 0 || (v == 0 && n == 2)) {
      show_sign = v < 0;
      return &s0;
    }
    if (v < 0) return &sections_[1];
    return &sections_[2];
  }
  if (Matches(s0.op, s0.limit, v)) {
    show_sign =
        v < 0 && !(s0.op == Op::kLt && s0.limit == 0) && !(s0.op == Op::kLe && s0.limit == 0);
    return &s0;
  }
  if (n == 1) return nullptr;
  const Section& s1 = sections_[1];
  bool in_s1 = s1.op != Op::kNone ? Matches(s1.op, s1.limit, v) : (n < 3 || v < 0);
  if (in_s1 || n < 3) {
    show_sign = v < 0 && s1.op != Op::kNone && !OnlyNegative(s1.op, s1.limit);
    return &s1;
  }
  show_sign = v < 0;
  return &sections_[2];
}

std::string NumberFormat::Format(double value, bool date1904) const {
  std::string out;
  if (!std::isfinite(value)) {
    out = kNumError;
    return out;
  }
  if (is_general_) {
    AppendGeneral(out, value);
    return out;
  }
  bool sign = false;
  const Section* s = Choose(value, sign);
  if (s == nullptr) {
    // No number section (the code is only a text section) shows General; a conditional code
    // that no section admits fills the cell with '#'.
    if (number_sections_ == 0) {
      AppendGeneral(out, value);
    } else {
      out = kDateFill;
    }
    return out;
  }
  if (s->is_text) {
    AppendGeneral(out, value);
    return out;
  }
  if (s->tokens.empty()) return out;  // an empty section hides the value
  if (s->is_date) {
    RenderDate(*s, value, date1904, out);
    return out;
  }
  if (sign) out += '-';
  const double a = std::fabs(value);
  if (s->fraction)
    RenderFraction(*s, a, out);
  else if (s->exponent)
    RenderExponent(*s, a, out);
  else
    RenderPlain(*s, a, out);
  return out;
}

std::string NumberFormat::FormatText(std::string_view text) const {
  if (text_section_ < 0) return std::string(text);
  std::string out;
  for (const Token& t : sections_[text_section_].tokens) {
    if (t.kind == Tok::kText)
      out += text;
    else if (t.kind == Tok::kLiteral)
      out += t.text;
  }
  return out;
}

namespace {

struct CodeHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

constexpr std::size_t kMaxCached = 4096;

struct FormatCache {
  std::shared_mutex mutex;
  // Guarded by mutex.
  std::unordered_map<std::string, std::shared_ptr<const NumberFormat>, CodeHash, std::equal_to<>>
      formats;
};

FormatCache& Cache() {
  static FormatCache* cache = new FormatCache;  // never destroyed: usable until exit
  return *cache;
}

}  // namespace

std::shared_ptr<const NumberFormat> NumberFormat::Get(std::string_view code) {
  FormatCache& cache = Cache();
  {
    std::shared_lock lock(cache.mutex);
    auto it = cache.formats.find(code);
    if (it != cache.formats.end()) return it->second;
  }
  auto parsed = std::make_shared<const NumberFormat>(code);
  std::unique_lock lock(cache.mutex);
  if (cache.formats.size() >= kMaxCached) return parsed;
  return cache.formats.try_emplace(std::string(code), std::move(parsed)).first->second;
}

std::string FormatNumber(double value, std::string_view code, bool date1904) {
  if (code.empty() || EqualsNoCase(code, "General")) {
    std::string out;
    AppendGeneral(out, value);
    return out;
  }
  // Cells of one column mostly share a code: remember the last one per thread.
  thread_local std::string last_code;
  thread_local std::shared_ptr<const NumberFormat> last;
  if (!last || last_code != code) {
    last = NumberFormat::Get(code);
    last_code.assign(code);
  }
  return last->Format(value, date1904);
}

bool ShowsTextUnchanged(std::string_view code) {
  return code.empty() || EqualsNoCase(code, "General") || code == "@";
}

std::string FormatText(std::string_view text, std::string_view code) {
  if (ShowsTextUnchanged(code)) return std::string(text);
  return NumberFormat::Get(code)->FormatText(text);
}

bool IsDateTimeFormat(std::string_view code) {
  return NumberFormat::Get(code)->IsDateTime();
}

bool IsTextFormat(std::string_view code) {
  return code == "@" || NumberFormat::Get(code)->IsText();
}

// ---------------------------------------------------------------------------------------------
// Typed input.

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A number as typed: sign or parentheses, "$", digits with well-placed thousands separators,
// decimals, exponent, "%". Sets the format Excel gives the cell.
bool ParseTypedNumber(std::string_view s, double& value, std::string& format) {
  bool negative = false, currency = false, percent = false, grouped = false, exponent = false;
  if (s.size() >= 2 && s.front() == '(' && s.back() == ')') {
    negative = true;
    s = s.substr(1, s.size() - 2);
  }
  auto take = [&](char c) {
    if (!s.empty() && s.front() == c) {
      s.remove_prefix(1);
      return true;
    }
    return false;
  };
  // One sign, before or after "$"; none inside parentheses ("(-5)" is text).
  bool has_sign = false;
  auto take_sign = [&] {
    if (has_sign) return;
    if (take('-')) {
      has_sign = true;
      negative = !negative;
    } else if (take('+')) {
      has_sign = true;
    }
  };
  const bool parens = negative;
  take_sign();
  if (take('$')) {
    currency = true;
    take_sign();
  }
  if (parens && has_sign) return false;
  if (!s.empty() && s.back() == '%') {
    percent = true;
    s.remove_suffix(1);
  }
  if (currency && percent) return false;
  // Mantissa digits: commas only between groups of three in the integer part.
  std::string clean;
  std::size_t i = 0;
  int group = 0;
  bool any_digit = false, seen_comma = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (IsDigit(c)) {
      clean += c;
      ++group;
      any_digit = true;
    } else if (c == ',') {
      if (!any_digit || (seen_comma ? group != 3 : group > 3)) return false;
      seen_comma = grouped = true;
      group = 0;
    } else {
      break;
    }
  }
  if (seen_comma && group != 3) return false;
  bool decimals = false;
  if (i < s.size() && s[i] == '.') {
    clean += '.';
    ++i;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
      clean += s[i];
      any_digit = decimals = true;
    }
  }
  if (!any_digit) return false;
  int exp = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exp_negative = s[i++] == '-';
    std::size_t start = i;
    for (; i < s.size() && IsDigit(s[i]); ++i)
      if (exp < 10000) exp = exp * 10 + (s[i] - '0');
    if (i == start) return false;
    if (exp_negative) exp = -exp;
    exponent = true;
  }
  if (i != s.size()) return false;
  if (percent) exp -= 2;
  clean += 'e';
  clean += std::to_string(exp);
  double v = 0;
  auto [end, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), v);
  if (ec != std::errc() || end != clean.data() + clean.size() || !std::isfinite(v)) return false;
  value = negative ? -v : v;
  if (percent)
    format = decimals ? "0.00%" : "0%";
  else if (currency)
    format = decimals ? "\"$\"#,##0.00" : "\"$\"#,##0";
  else if (exponent)
    format = "0.00E+00";
  else if (grouped)
    format = decimals ? "#,##0.00" : "#,##0";
  else
    format.clear();
  return true;
}

// "1 1/2", "-0 3/4": a whole number, spaces, and a fraction.
bool ParseTypedFraction(std::string_view s, double& value, std::string& format) {
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  auto digits = [&](std::int64_t& out, int& count) {
    out = 0;
    count = 0;
    while (!s.empty() && IsDigit(s.front())) {
      if (count < 15) out = out * 10 + (s.front() - '0');
      ++count;
      s.remove_prefix(1);
    }
    return count > 0 && count <= 15;
  };
  std::int64_t whole, num, den;
  int whole_digits, num_digits, den_digits;
  if (!digits(whole, whole_digits) || s.empty() || s.front() != ' ') return false;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  if (!digits(num, num_digits) || s.empty() || s.front() != '/') return false;
  s.remove_prefix(1);
  if (!digits(den, den_digits) || !s.empty() || den == 0 || den_digits > 3) return false;
  double v = static_cast<double>(whole) + static_cast<double>(num) / static_cast<double>(den);
  value = negative ? -v : v;
  format = den_digits == 1 ? "# ?/?" : den_digits == 2 ? "# ?\?/?\?" : "# ?\?\?/?\?\?";
  return true;
}

int MonthFromName(std::string_view word) {
  if (word.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    std::string_view name = kMonthNames[static_cast<std::size_t>(m)];
    if (EqualsNoCase(word, name) || EqualsNoCase(word, name.substr(0, 3)) ||
        (m == 8 && EqualsNoCase(word, "Sept")))
      return m + 1;
  }
  return 0;
}

// Pieces of a typed date or time: numbers, words, and the separators between them.
struct Piece {
  enum class Kind { kNumber, kWord, kSep } kind;
  std::string_view text;
  int value = 0;  // kNumber (capped)
  char sep = 0;   // kSep: '/', '-', ':', ',', '.', or ' ' for spaces alone
};

bool SplitPieces(std::string_view s, std::vector<Piece>& out) {
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    std::size_t j = i;
    if (IsDigit(c)) {
      int v = 0;
      while (j < s.size() && IsDigit(s[j])) {
        if (v < 100000) v = v * 10 + (s[j] - '0');
        ++j;
      }
      out.push_back({Piece::Kind::kNumber, s.substr(i, j - i), v, 0});
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      while (j < s.size() && ((s[j] >= 'a' && s[j] <= 'z') || (s[j] >= 'A' && s[j] <= 'Z'))) ++j;
      out.push_back({Piece::Kind::kWord, s.substr(i, j - i), 0, 0});
    } else if (c == ' ' || c == '/' || c == '-' || c == ':' || c == ',' || c == '.') {
      // Spaces around another separator belong to it; spaces alone separate too.
      char sep = ' ';
      int marks = 0;
      while (j < s.size() && (s[j] == ' ' || s[j] == '/' || s[j] == '-' || s[j] == ':' ||
                              s[j] == ',' || s[j] == '.')) {
        if (s[j] != ' ') {
          sep = s[j];
          ++marks;
        }
        ++j;
      }
      if (marks > 1) return false;
      // ':' and '.' never take spaces ("12 :30" is text).
      if ((sep == ':' || sep == '.') && j - i != 1) return false;
      out.push_back({Piece::Kind::kSep, s.substr(i, j - i), 0, sep});
    } else {
      return false;
    }
    i = j;
  }
  return true;
}

int TwoDigitYear(const Piece& p) {
  if (p.text.size() <= 2) return p.value < 30 ? 2000 + p.value : 1900 + p.value;
  if (p.text.size() == 4) return p.value;
  return -1;
}

bool ValidDay(int y, int m, int d) {
  return m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

// Date part: sets year, month, day and the format Excel gives it.
bool ParseTypedDate(const std::vector<Piece>& p, int current_year, int& y, int& m, int& d,
                    std::string& format) {
  using K = Piece::Kind;
  const std::size_t n = p.size();
  auto num = [&](std::size_t i) { return i < n && p[i].kind == K::kNumber; };
  auto word = [&](std::size_t i) { return i < n && p[i].kind == K::kWord; };
  auto sep = [&](std::size_t i, std::string_view allowed) {
    return i < n && p[i].kind == K::kSep && allowed.find(p[i].sep) != std::string_view::npos;
  };
  auto small = [&](std::size_t i) { return p[i].text.size() <= 2; };
  // Numeric: m/d, m/d/y, m-d-y, y-m-d, y/m/d.
  if (num(0) && sep(1, "/-") && num(2)) {
    char s1 = p[1].sep;
    if (n == 3) {
      if (!small(0) || !small(2)) {
        // "1/2020": a month and a year.
        if (small(0) && p[2].text.size() == 4 && p[0].value >= 1 && p[0].value <= 12) {
          y = p[2].value, m = p[0].value, d = 1;
          format = "mmm-yy";
          return true;
        }
        return false;
      }
      if (ValidDay(current_year, p[0].value, p[2].value)) {
        y = current_year, m = p[0].value, d = p[2].value;
        format = "d-mmm";
        return true;
      }
      // "1/32": no such day, so the second number is a year.
      if (p[0].value >= 1 && p[0].value <= 12) {
        y = TwoDigitYear(p[2]), m = p[0].value, d = 1;
        format = "mmm-yy";
        return true;
      }
      return false;
    }
    if (n == 5 && sep(3, std::string_view(&s1, 1)) && num(4)) {
      if (p[0].text.size() == 4 && small(2) && small(4)) {
        y = p[0].value, m = p[2].value, d = p[4].value;
      } else if (small(0) && small(2)) {
        y = TwoDigitYear(p[4]), m = p[0].value, d = p[2].value;
      } else {
        return false;
      }
      format = "m/d/yyyy";
      return ValidDay(y, m, d);
    }
    return false;
  }
  // d-mmm, d-mmm-y, d mmm y.
  if (num(0) && small(0) && sep(1, "- ") && word(2)) {
    m = MonthFromName(p[2].text);
    if (m == 0) return false;
    if (n == 3) {
      y = current_year, d = p[0].value;
      format = "d-mmm";
      return ValidDay(y, m, d);
    }
    if (n == 5 && sep(3, "- ,") && num(4)) {
      y = TwoDigitYear(p[4]), d = p[0].value;
      format = "d-mmm-yy";
      return ValidDay(y, m, d);
    }
    return false;
  }
  // mmm d, mmm d y, mmm d, y, mmm-yy.
  if (word(0) && sep(1, "- ") && num(2)) {
    m = MonthFromName(p[0].text);
    if (m == 0) return false;
    if (n == 3) {
      if (small(2) && ValidDay(current_year, m, p[2].value)) {
        y = current_year, d = p[2].value;
        format = "d-mmm";
        return true;
      }
      y = TwoDigitYear(p[2]), d = 1;
      format = "mmm-yy";
      return y > 0;
    }
    if (n == 5 && sep(3, "- ,") && num(4) && small(2)) {
      y = TwoDigitYear(p[4]), d = p[2].value;
      format = "d-mmm-yy";
      return ValidDay(y, m, d);
    }
    return false;
  }
  return false;
}

// Time part: h:mm, h:mm:ss(.fff), mm:ss.f, with AM/PM. Sets the fraction of a day (may exceed
// 1 for hours beyond 23) and the format.
bool ParseTypedTime(const std::vector<Piece>& p, double& time, std::string& format) {
  using K = Piece::Kind;
  std::size_t n = p.size();
  int ampm = -1;  // 0 AM, 1 PM
  if (n >= 2 && p[n - 1].kind == K::kWord) {
    std::string_view w = p[n - 1].text;
    if (EqualsNoCase(w, "AM") || EqualsNoCase(w, "A"))
      ampm = 0;
    else if (EqualsNoCase(w, "PM") || EqualsNoCase(w, "P"))
      ampm = 1;
    else
      return false;
    --n;
    if (p[n - 1].kind == K::kSep) {
      if (p[n - 1].sep != ' ') return false;
      --n;
    }
  }
  auto num = [&](std::size_t i) { return i < n && p[i].kind == K::kNumber; };
  auto sep = [&](std::size_t i, char c) { return i < n && p[i].kind == K::kSep && p[i].sep == c; };
  if (!num(0)) return false;
  double seconds_fraction = 0;
  int h = p[0].value, mi = 0, s = 0;
  bool has_seconds = false, minutes_seconds = false;
  std::size_t i = 1;
  if (n == 1) {
    if (ampm < 0) return false;  // "3 PM"
  } else {
    if (!sep(1, ':') || !num(2) || p[2].text.size() > 2) return false;
    mi = p[2].value;
    i = 3;
    if (sep(3, ':') && num(4) && p[4].text.size() <= 2) {
      s = p[4].value;
      has_seconds = true;
      i = 5;
    }
    if (sep(i, '.') && num(i + 1)) {
      std::string frac = "0.";
      frac += p[i + 1].text;
      std::from_chars(frac.data(), frac.data() + frac.size(), seconds_fraction);
      if (!has_seconds) {
        // "1:30.5" is minutes and seconds.
        minutes_seconds = true;
        s = mi, mi = h, h = 0;
      }
      i += 2;
    }
    if (i != n) return false;
  }
  if (mi > 59 || s > 59) return false;
  if (ampm >= 0) {
    if (h > 12 || minutes_seconds) return false;
    if (h == 12) h = 0;
    if (ampm == 1) h += 12;
  }
  if (h > 9999) return false;
  time = (h * 3600.0 + mi * 60.0 + s + seconds_fraction) / 86400.0;
  if (minutes_seconds)
    format = "mm:ss.0";
  else if (ampm >= 0)
    format = has_seconds ? "h:mm:ss AM/PM" : "h:mm AM/PM";
  else if (h >= 24)
    format = "[h]:mm:ss";
  else
    format = has_seconds ? "h:mm:ss" : "h:mm";
  return true;
}

bool ParseTypedDateTime(std::string_view s, bool date1904, int current_year, double& value,
                        std::string& format) {
  std::vector<Piece> pieces;
  if (!SplitPieces(s, pieces) || pieces.empty()) return false;
  if (pieces.front().kind == Piece::Kind::kSep || pieces.back().kind == Piece::Kind::kSep)
    return false;
  // The time begins at the number before the first ':' (or at "3 PM"'s number).
  std::size_t time_at = pieces.size();
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    if (pieces[i].kind == Piece::Kind::kSep && pieces[i].sep == ':') {
      time_at = i - 1;
      break;
    }
  }
  if (time_at == pieces.size() && pieces.size() >= 2 && pieces.back().kind == Piece::Kind::kWord &&
      pieces[pieces.size() - 2].kind != Piece::Kind::kWord) {
    std::string_view w = pieces.back().text;
    if (EqualsNoCase(w, "AM") || EqualsNoCase(w, "PM") || EqualsNoCase(w, "A") ||
        EqualsNoCase(w, "P")) {
      time_at = pieces.size() - 1;
      while (time_at > 0 && pieces[time_at].kind != Piece::Kind::kNumber) --time_at;
    }
  }
  std::vector<Piece> date_part(pieces.begin(), pieces.begin() + static_cast<long>(time_at));
  std::vector<Piece> time_part(pieces.begin() + static_cast<long>(time_at), pieces.end());
  if (!date_part.empty()) {
    // A date and a time are separated by spaces only.
    if (time_part.empty()) {
      // date alone
    } else if (date_part.back().kind != Piece::Kind::kSep || date_part.back().sep != ' ') {
      return false;
    } else {
      date_part.pop_back();
    }
  }
  double date = 0, time = 0;
  std::string date_format, time_format;
  if (!date_part.empty()) {
    int y = 0, m = 0, d = 0;
    if (!ParseTypedDate(date_part, current_year, y, m, d, date_format)) return false;
    std::optional<double> serial = DateToSerial(y, m, d, date1904);
    if (!serial) return false;
    date = *serial;
  }
  if (!time_part.empty() && !ParseTypedTime(time_part, time, time_format)) return false;
  value = date + time;
  if (!date_part.empty() && !time_part.empty())
    format = "m/d/yyyy h:mm";
  else
    format = date_part.empty() ? time_format : date_format;
  return true;
}

constexpr std::array<std::string_view, 7> kErrorValues = {"#N/A",   "#DIV/0!", "#VALUE!", "#REF!",
                                                          "#NAME?", "#NUM!",   "#NULL!"};

}  // namespace

TypedValue ParseTypedInput(std::string_view text, bool date1904, int current_year) {
  TypedValue out;
  if (text.empty()) {
    out.kind = TypedValue::Kind::kEmpty;
    return out;
  }
  if (text.front() == '\'') {
    out.text = text.substr(1);
    return out;
  }
  if (text.front() == '=' && text.size() > 1) {
    out.kind = TypedValue::Kind::kFormula;
    out.text = text.substr(1);
    return out;
  }
  std::string_view s = TrimSpaces(text);
  if (EqualsNoCase(s, "TRUE") || EqualsNoCase(s, "FALSE")) {
    out.kind = TypedValue::Kind::kBool;
    out.number = EqualsNoCase(s, "TRUE") ? 1 : 0;
    return out;
  }
  for (std::string_view e : kErrorValues) {
    if (EqualsNoCase(s, e)) {
      out.kind = TypedValue::Kind::kError;
      out.text = e;
      return out;
    }
  }
  if (!s.empty() && s.size() <= 255 &&
      (ParseTypedNumber(s, out.number, out.format) ||
       ParseTypedFraction(s, out.number, out.format) ||
       ParseTypedDateTime(s, date1904, current_year, out.number, out.format))) {
    out.kind = TypedValue::Kind::kNumber;
    return out;
  }
  out.number = 0;
  out.format.clear();
  out.text = text;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Display width.

namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

// Generated by numfmt_reference.py width-tables (Unicode 14.0.0).
constexpr CodeRange kZeroWidth[] = {
    {0x300, 0x36F},     {0x483, 0x489},     {0x591, 0x5BD},     {0x5BF, 0x5BF},
    {0x5C1, 0x5C2},     {0x5C4, 0x5C5},     {0x5C7, 0x5C7},     {0x600, 0x605},
    {0x610, 0x61A},     {0x61C, 0x61C},     {0x64B, 0x65F},     {0x670, 0x670},
    {0x6D6, 0x6DD},     {0x6DF, 0x6E4},     {0x6E7, 0x6E8},     {0x6EA, 0x6ED},
    {0x70F, 0x70F},     {0x711, 0x711},     {0x730, 0x74A},     {0x7A6, 0x7B0},
    {0x7EB, 0x7F3},     {0x7FD, 0x7FD},     {0x816, 0x819},     {0x81B, 0x823},
    {0x825, 0x827},     {0x829, 0x82D},     {0x859, 0x85B},     {0x890, 0x891},
    {0x898, 0x89F},     {0x8CA, 0x902},     {0x93A, 0x93A},     {0x93C, 0x93C},
    {0x941, 0x948},     {0x94D, 0x94D},     {0x951, 0x957},     {0x962, 0x963},
    {0x981, 0x981},     {0x9BC, 0x9BC},     {0x9C1, 0x9C4},     {0x9CD, 0x9CD},
    {0x9E2, 0x9E3},     {0x9FE, 0x9FE},     {0xA01, 0xA02},     {0xA3C, 0xA3C},
    {0xA41, 0xA42},     {0xA47, 0xA48},     {0xA4B, 0xA4D},     {0xA51, 0xA51},
    {0xA70, 0xA71},     {0xA75, 0xA75},     {0xA81, 0xA82},     {0xABC, 0xABC},
    {0xAC1, 0xAC5},     {0xAC7, 0xAC8},     {0xACD, 0xACD},     {0xAE2, 0xAE3},
    {0xAFA, 0xAFF},     {0xB01, 0xB01},     {0xB3C, 0xB3C},     {0xB3F, 0xB3F},
    {0xB41, 0xB44},     {0xB4D, 0xB4D},     {0xB55, 0xB56},     {0xB62, 0xB63},
    {0xB82, 0xB82},     {0xBC0, 0xBC0},     {0xBCD, 0xBCD},     {0xC00, 0xC00},
    {0xC04, 0xC04},     {0xC3C, 0xC3C},     {0xC3E, 0xC40},     {0xC46, 0xC48},
    {0xC4A, 0xC4D},     {0xC55, 0xC56},     {0xC62, 0xC63},     {0xC81, 0xC81},
    {0xCBC, 0xCBC},     {0xCBF, 0xCBF},     {0xCC6, 0xCC6},     {0xCCC, 0xCCD},
    {0xCE2, 0xCE3},     {0xD00, 0xD01},     {0xD3B, 0xD3C},     {0xD41, 0xD44},
    {0xD4D, 0xD4D},     {0xD62, 0xD63},     {0xD81, 0xD81},     {0xDCA, 0xDCA},
    {0xDD2, 0xDD4},     {0xDD6, 0xDD6},     {0xE31, 0xE31},     {0xE34, 0xE3A},
    {0xE47, 0xE4E},     {0xEB1, 0xEB1},     {0xEB4, 0xEBC},     {0xEC8, 0xECD},
    {0xF18, 0xF19},     {0xF35, 0xF35},     {0xF37, 0xF37},     {0xF39, 0xF39},
    {0xF71, 0xF7E},     {0xF80, 0xF84},     {0xF86, 0xF87},     {0xF8D, 0xF97},
    {0xF99, 0xFBC},     {0xFC6, 0xFC6},     {0x102D, 0x1030},   {0x1032, 0x1037},
    {0x1039, 0x103A},   {0x103D, 0x103E},   {0x1058, 0x1059},   {0x105E, 0x1060},
    {0x1071, 0x1074},   {0x1082, 0x1082},   {0x1085, 0x1086},   {0x108D, 0x108D},
    {0x109D, 0x109D},   {0x1160, 0x11FF},   {0x135D, 0x135F},   {0x1712, 0x1714},
    {0x1732, 0x1733},   {0x1752, 0x1753},   {0x1772, 0x1773},   {0x17B4, 0x17B5},
    {0x17B7, 0x17BD},   {0x17C6, 0x17C6},   {0x17C9, 0x17D3},   {0x17DD, 0x17DD},
    {0x180B, 0x180F},   {0x1885, 0x1886},   {0x18A9, 0x18A9},   {0x1920, 0x1922},
    {0x1927, 0x1928},   {0x1932, 0x1932},   {0x1939, 0x193B},   {0x1A17, 0x1A18},
    {0x1A1B, 0x1A1B},   {0x1A56, 0x1A56},   {0x1A58, 0x1A5E},   {0x1A60, 0x1A60},
    {0x1A62, 0x1A62},   {0x1A65, 0x1A6C},   {0x1A73, 0x1A7C},   {0x1A7F, 0x1A7F},
    {0x1AB0, 0x1ACE},   {0x1B00, 0x1B03},   {0x1B34, 0x1B34},   {0x1B36, 0x1B3A},
    {0x1B3C, 0x1B3C},   {0x1B42, 0x1B42},   {0x1B6B, 0x1B73},   {0x1B80, 0x1B81},
    {0x1BA2, 0x1BA5},   {0x1BA8, 0x1BA9},   {0x1BAB, 0x1BAD},   {0x1BE6, 0x1BE6},
    {0x1BE8, 0x1BE9},   {0x1BED, 0x1BED},   {0x1BEF, 0x1BF1},   {0x1C2C, 0x1C33},
    {0x1C36, 0x1C37},   {0x1CD0, 0x1CD2},   {0x1CD4, 0x1CE0},   {0x1CE2, 0x1CE8},
    {0x1CED, 0x1CED},   {0x1CF4, 0x1CF4},   {0x1CF8, 0x1CF9},   {0x1DC0, 0x1DFF},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0x20D0, 0x20F0},   {0x2CEF, 0x2CF1},   {0x2D7F, 0x2D7F},   {0x2DE0, 0x2DFF},
    {0x302A, 0x302D},   {0x3099, 0x309A},   {0xA66F, 0xA672},   {0xA674, 0xA67D},
    {0xA69E, 0xA69F},   {0xA6F0, 0xA6F1},   {0xA802, 0xA802},   {0xA806, 0xA806},
    {0xA80B, 0xA80B},   {0xA825, 0xA826},   {0xA82C, 0xA82C},   {0xA8C4, 0xA8C5},
    {0xA8E0, 0xA8F1},   {0xA8FF, 0xA8FF},   {0xA926, 0xA92D},   {0xA947, 0xA951},
    {0xA980, 0xA982},   {0xA9B3, 0xA9B3},   {0xA9B6, 0xA9B9},   {0xA9BC, 0xA9BD},
    {0xA9E5, 0xA9E5},   {0xAA29, 0xAA2E},   {0xAA31, 0xAA32},   {0xAA35, 0xAA36},
    {0xAA43, 0xAA43},   {0xAA4C, 0xAA4C},   {0xAA7C, 0xAA7C},   {0xAAB0, 0xAAB0},
    {0xAAB2, 0xAAB4},   {0xAAB7, 0xAAB8},   {0xAABE, 0xAABF},   {0xAAC1, 0xAAC1},
    {0xAAEC, 0xAAED},   {0xAAF6, 0xAAF6},   {0xABE5, 0xABE5},   {0xABE8, 0xABE8},
    {0xABED, 0xABED},   {0xFB1E, 0xFB1E},   {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x101FD, 0x101FD}, {0x102E0, 0x102E0},
    {0x10376, 0x1037A}, {0x10A01, 0x10A03}, {0x10A05, 0x10A06}, {0x10A0C, 0x10A0F},
    {0x10A38, 0x10A3A}, {0x10A3F, 0x10A3F}, {0x10AE5, 0x10AE6}, {0x10D24, 0x10D27},
    {0x10EAB, 0x10EAC}, {0x10F46, 0x10F50}, {0x10F82, 0x10F85}, {0x11001, 0x11001},
    {0x11038, 0x11046}, {0x11070, 0x11070}, {0x11073, 0x11074}, {0x1107F, 0x11081},
    {0x110B3, 0x110B6}, {0x110B9, 0x110BA}, {0x110BD, 0x110BD}, {0x110C2, 0x110C2},
    {0x110CD, 0x110CD}, {0x11100, 0x11102}, {0x11127, 0x1112B}, {0x1112D, 0x11134},
    {0x11173, 0x11173}, {0x11180, 0x11181}, {0x111B6, 0x111BE}, {0x111C9, 0x111CC},
    {0x111CF, 0x111CF}, {0x1122F, 0x11231}, {0x11234, 0x11234}, {0x11236, 0x11237},
    {0x1123E, 0x1123E}, {0x112DF, 0x112DF}, {0x112E3, 0x112EA}, {0x11300, 0x11301},
    {0x1133B, 0x1133C}, {0x11340, 0x11340}, {0x11366, 0x1136C}, {0x11370, 0x11374},
    {0x11438, 0x1143F}, {0x11442, 0x11444}, {0x11446, 0x11446}, {0x1145E, 0x1145E},
    {0x114B3, 0x114B8}, {0x114BA, 0x114BA}, {0x114BF, 0x114C0}, {0x114C2, 0x114C3},
    {0x115B2, 0x115B5}, {0x115BC, 0x115BD}, {0x115BF, 0x115C0}, {0x115DC, 0x115DD},
    {0x11633, 0x1163A}, {0x1163D, 0x1163D}, {0x1163F, 0x11640}, {0x116AB, 0x116AB},
    {0x116AD, 0x116AD}, {0x116B0, 0x116B5}, {0x116B7, 0x116B7}, {0x1171D, 0x1171F},
    {0x11722, 0x11725}, {0x11727, 0x1172B}, {0x1182F, 0x11837}, {0x11839, 0x1183A},
    {0x1193B, 0x1193C}, {0x1193E, 0x1193E}, {0x11943, 0x11943}, {0x119D4, 0x119D7},
    {0x119DA, 0x119DB}, {0x119E0, 0x119E0}, {0x11A01, 0x11A0A}, {0x11A33, 0x11A38},
    {0x11A3B, 0x11A3E}, {0x11A47, 0x11A47}, {0x11A51, 0x11A56}, {0x11A59, 0x11A5B},
    {0x11A8A, 0x11A96}, {0x11A98, 0x11A99}, {0x11C30, 0x11C36}, {0x11C38, 0x11C3D},
    {0x11C3F, 0x11C3F}, {0x11C92, 0x11CA7}, {0x11CAA, 0x11CB0}, {0x11CB2, 0x11CB3},
    {0x11CB5, 0x11CB6}, {0x11D31, 0x11D36}, {0x11D3A, 0x11D3A}, {0x11D3C, 0x11D3D},
    {0x11D3F, 0x11D45}, {0x11D47, 0x11D47}, {0x11D90, 0x11D91}, {0x11D95, 0x11D95},
    {0x11D97, 0x11D97}, {0x11EF3, 0x11EF4}, {0x13430, 0x13438}, {0x16AF0, 0x16AF4},
    {0x16B30, 0x16B36}, {0x16F4F, 0x16F4F}, {0x16F8F, 0x16F92}, {0x16FE4, 0x16FE4},
    {0x1BC9D, 0x1BC9E}, {0x1BCA0, 0x1BCA3}, {0x1CF00, 0x1CF2D}, {0x1CF30, 0x1CF46},
    {0x1D167, 0x1D169}, {0x1D173, 0x1D182}, {0x1D185, 0x1D18B}, {0x1D1AA, 0x1D1AD},
    {0x1D242, 0x1D244}, {0x1DA00, 0x1DA36}, {0x1DA3B, 0x1DA6C}, {0x1DA75, 0x1DA75},
    {0x1DA84, 0x1DA84}, {0x1DA9B, 0x1DA9F}, {0x1DAA1, 0x1DAAF}, {0x1E000, 0x1E006},
    {0x1E008, 0x1E018}, {0x1E01B, 0x1E021}, {0x1E023, 0x1E024}, {0x1E026, 0x1E02A},
    {0x1E130, 0x1E136}, {0x1E2AE, 0x1E2AE}, {0x1E2EC, 0x1E2EF}, {0x1E8D0, 0x1E8D6},
    {0x1E944, 0x1E94A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
};
constexpr CodeRange kWide[] = {
    {0x378, 0x379},       {0x380, 0x383},     {0x38B, 0x38B},     {0x38D, 0x38D},
    {0x3A2, 0x3A2},       {0x530, 0x530},     {0x557, 0x558},     {0x58B, 0x58C},
    {0x590, 0x590},       {0x5C8, 0x5CF},     {0x5EB, 0x5EE},     {0x5F5, 0x5FF},
    {0x70E, 0x70E},       {0x74B, 0x74C},     {0x7B2, 0x7BF},     {0x7FB, 0x7FC},
    {0x82E, 0x82F},       {0x83F, 0x83F},     {0x85C, 0x85D},     {0x85F, 0x85F},
    {0x86B, 0x86F},       {0x88F, 0x88F},     {0x892, 0x897},     {0x984, 0x984},
    {0x98D, 0x98E},       {0x991, 0x992},     {0x9A9, 0x9A9},     {0x9B1, 0x9B1},
    {0x9B3, 0x9B5},       {0x9BA, 0x9BB},     {0x9C5, 0x9C6},     {0x9C9, 0x9CA},
    {0x9CF, 0x9D6},       {0x9D8, 0x9DB},     {0x9DE, 0x9DE},     {0x9E4, 0x9E5},
    {0x9FF, 0xA00},       {0xA04, 0xA04},     {0xA0B, 0xA0E},     {0xA11, 0xA12},
    {0xA29, 0xA29},       {0xA31, 0xA31},     {0xA34, 0xA34},     {0xA37, 0xA37},
    {0xA3A, 0xA3B},       {0xA3D, 0xA3D},     {0xA43, 0xA46},     {0xA49, 0xA4A},
    {0xA4E, 0xA50},       {0xA52, 0xA58},     {0xA5D, 0xA5D},     {0xA5F, 0xA65},
    {0xA77, 0xA80},       {0xA84, 0xA84},     {0xA8E, 0xA8E},     {0xA92, 0xA92},
    {0xAA9, 0xAA9},       {0xAB1, 0xAB1},     {0xAB4, 0xAB4},     {0xABA, 0xABB},
    {0xAC6, 0xAC6},       {0xACA, 0xACA},     {0xACE, 0xACF},     {0xAD1, 0xADF},
    {0xAE4, 0xAE5},       {0xAF2, 0xAF8},     {0xB00, 0xB00},     {0xB04, 0xB04},
    {0xB0D, 0xB0E},       {0xB11, 0xB12},     {0xB29, 0xB29},     {0xB31, 0xB31},
    {0xB34, 0xB34},       {0xB3A, 0xB3B},     {0xB45, 0xB46},     {0xB49, 0xB4A},
    {0xB4E, 0xB54},       {0xB58, 0xB5B},     {0xB5E, 0xB5E},     {0xB64, 0xB65},
    {0xB78, 0xB81},       {0xB84, 0xB84},     {0xB8B, 0xB8D},     {0xB91, 0xB91},
    {0xB96, 0xB98},       {0xB9B, 0xB9B},     {0xB9D, 0xB9D},     {0xBA0, 0xBA2},
    {0xBA5, 0xBA7},       {0xBAB, 0xBAD},     {0xBBA, 0xBBD},     {0xBC3, 0xBC5},
    {0xBC9, 0xBC9},       {0xBCE, 0xBCF},     {0xBD1, 0xBD6},     {0xBD8, 0xBE5},
    {0xBFB, 0xBFF},       {0xC0D, 0xC0D},     {0xC11, 0xC11},     {0xC29, 0xC29},
    {0xC3A, 0xC3B},       {0xC45, 0xC45},     {0xC49, 0xC49},     {0xC4E, 0xC54},
    {0xC57, 0xC57},       {0xC5B, 0xC5C},     {0xC5E, 0xC5F},     {0xC64, 0xC65},
    {0xC70, 0xC76},       {0xC8D, 0xC8D},     {0xC91, 0xC91},     {0xCA9, 0xCA9},
    {0xCB4, 0xCB4},       {0xCBA, 0xCBB},     {0xCC5, 0xCC5},     {0xCC9, 0xCC9},
    {0xCCE, 0xCD4},       {0xCD7, 0xCDC},     {0xCDF, 0xCDF},     {0xCE4, 0xCE5},
    {0xCF0, 0xCF0},       {0xCF3, 0xCFF},     {0xD0D, 0xD0D},     {0xD11, 0xD11},
    {0xD45, 0xD45},       {0xD49, 0xD49},     {0xD50, 0xD53},     {0xD64, 0xD65},
    {0xD80, 0xD80},       {0xD84, 0xD84},     {0xD97, 0xD99},     {0xDB2, 0xDB2},
    {0xDBC, 0xDBC},       {0xDBE, 0xDBF},     {0xDC7, 0xDC9},     {0xDCB, 0xDCE},
    {0xDD5, 0xDD5},       {0xDD7, 0xDD7},     {0xDE0, 0xDE5},     {0xDF0, 0xDF1},
    {0xDF5, 0xE00},       {0xE3B, 0xE3E},     {0xE5C, 0xE80},     {0xE83, 0xE83},
    {0xE85, 0xE85},       {0xE8B, 0xE8B},     {0xEA4, 0xEA4},     {0xEA6, 0xEA6},
    {0xEBE, 0xEBF},       {0xEC5, 0xEC5},     {0xEC7, 0xEC7},     {0xECE, 0xECF},
    {0xEDA, 0xEDB},       {0xEE0, 0xEFF},     {0xF48, 0xF48},     {0xF6D, 0xF70},
    {0xF98, 0xF98},       {0xFBD, 0xFBD},     {0xFCD, 0xFCD},     {0xFDB, 0xFFF},
    {0x10C6, 0x10C6},     {0x10C8, 0x10CC},   {0x10CE, 0x10CF},   {0x1100, 0x115F},
    {0x1249, 0x1249},     {0x124E, 0x124F},   {0x1257, 0x1257},   {0x1259, 0x1259},
    {0x125E, 0x125F},     {0x1289, 0x1289},   {0x128E, 0x128F},   {0x12B1, 0x12B1},
    {0x12B6, 0x12B7},     {0x12BF, 0x12BF},   {0x12C1, 0x12C1},   {0x12C6, 0x12C7},
    {0x12D7, 0x12D7},     {0x1311, 0x1311},   {0x1316, 0x1317},   {0x135B, 0x135C},
    {0x137D, 0x137F},     {0x139A, 0x139F},   {0x13F6, 0x13F7},   {0x13FE, 0x13FF},
    {0x169D, 0x169F},     {0x16F9, 0x16FF},   {0x1716, 0x171E},   {0x1737, 0x173F},
    {0x1754, 0x175F},     {0x176D, 0x176D},   {0x1771, 0x1771},   {0x1774, 0x177F},
    {0x17DE, 0x17DF},     {0x17EA, 0x17EF},   {0x17FA, 0x17FF},   {0x181A, 0x181F},
    {0x1879, 0x187F},     {0x18AB, 0x18AF},   {0x18F6, 0x18FF},   {0x191F, 0x191F},
    {0x192C, 0x192F},     {0x193C, 0x193F},   {0x1941, 0x1943},   {0x196E, 0x196F},
    {0x1975, 0x197F},     {0x19AC, 0x19AF},   {0x19CA, 0x19CF},   {0x19DB, 0x19DD},
    {0x1A1C, 0x1A1D},     {0x1A5F, 0x1A5F},   {0x1A7D, 0x1A7E},   {0x1A8A, 0x1A8F},
    {0x1A9A, 0x1A9F},     {0x1AAE, 0x1AAF},   {0x1ACF, 0x1AFF},   {0x1B4D, 0x1B4F},
    {0x1B7F, 0x1B7F},     {0x1BF4, 0x1BFB},   {0x1C38, 0x1C3A},   {0x1C4A, 0x1C4C},
    {0x1C89, 0x1C8F},     {0x1CBB, 0x1CBC},   {0x1CC8, 0x1CCF},   {0x1CFB, 0x1CFF},
    {0x1F16, 0x1F17},     {0x1F1E, 0x1F1F},   {0x1F46, 0x1F47},   {0x1F4E, 0x1F4F},
    {0x1F58, 0x1F58},     {0x1F5A, 0x1F5A},   {0x1F5C, 0x1F5C},   {0x1F5E, 0x1F5E},
    {0x1F7E, 0x1F7F},     {0x1FB5, 0x1FB5},   {0x1FC5, 0x1FC5},   {0x1FD4, 0x1FD5},
    {0x1FDC, 0x1FDC},     {0x1FF0, 0x1FF1},   {0x1FF5, 0x1FF5},   {0x1FFF, 0x1FFF},
    {0x2065, 0x2065},     {0x2072, 0x2073},   {0x208F, 0x208F},   {0x209D, 0x209F},
    {0x20C1, 0x20CF},     {0x20F1, 0x20FF},   {0x218C, 0x218F},   {0x231A, 0x231B},
    {0x2329, 0x232A},     {0x23E9, 0x23EC},   {0x23F0, 0x23F0},   {0x23F3, 0x23F3},
    {0x2427, 0x243F},     {0x244B, 0x245F},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},     {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},     {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},     {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},     {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},     {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},     {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},     {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2B74, 0x2B75},
    {0x2B96, 0x2B96},     {0x2CF4, 0x2CF8},   {0x2D26, 0x2D26},   {0x2D28, 0x2D2C},
    {0x2D2E, 0x2D2F},     {0x2D68, 0x2D6E},   {0x2D71, 0x2D7E},   {0x2D97, 0x2D9F},
    {0x2DA7, 0x2DA7},     {0x2DAF, 0x2DAF},   {0x2DB7, 0x2DB7},   {0x2DBF, 0x2DBF},
    {0x2DC7, 0x2DC7},     {0x2DCF, 0x2DCF},   {0x2DD7, 0x2DD7},   {0x2DDF, 0x2DDF},
    {0x2E5E, 0x3029},     {0x302E, 0x303E},   {0x3040, 0x3098},   {0x309B, 0x3247},
    {0x3250, 0x4DBF},     {0x4E00, 0xA4CF},   {0xA62C, 0xA63F},   {0xA6F8, 0xA6FF},
    {0xA7CB, 0xA7CF},     {0xA7D2, 0xA7D2},   {0xA7D4, 0xA7D4},   {0xA7DA, 0xA7F1},
    {0xA82D, 0xA82F},     {0xA83A, 0xA83F},   {0xA878, 0xA87F},   {0xA8C6, 0xA8CD},
    {0xA8DA, 0xA8DF},     {0xA954, 0xA95E},   {0xA960, 0xA97F},   {0xA9CE, 0xA9CE},
    {0xA9DA, 0xA9DD},     {0xA9FF, 0xA9FF},   {0xAA37, 0xAA3F},   {0xAA4E, 0xAA4F},
    {0xAA5A, 0xAA5B},     {0xAAC3, 0xAADA},   {0xAAF7, 0xAB00},   {0xAB07, 0xAB08},
    {0xAB0F, 0xAB10},     {0xAB17, 0xAB1F},   {0xAB27, 0xAB27},   {0xAB2F, 0xAB2F},
    {0xAB6C, 0xAB6F},     {0xABEE, 0xABEF},   {0xABFA, 0xD7AF},   {0xD7C7, 0xD7CA},
    {0xD7FC, 0xD7FF},     {0xF900, 0xFAFF},   {0xFB07, 0xFB12},   {0xFB18, 0xFB1C},
    {0xFB37, 0xFB37},     {0xFB3D, 0xFB3D},   {0xFB3F, 0xFB3F},   {0xFB42, 0xFB42},
    {0xFB45, 0xFB45},     {0xFBC3, 0xFBD2},   {0xFD90, 0xFD91},   {0xFDC8, 0xFDCE},
    {0xFDD0, 0xFDEF},     {0xFE10, 0xFE1F},   {0xFE30, 0xFE6F},   {0xFE75, 0xFE75},
    {0xFEFD, 0xFEFE},     {0xFF00, 0xFF60},   {0xFFBF, 0xFFC1},   {0xFFC8, 0xFFC9},
    {0xFFD0, 0xFFD1},     {0xFFD8, 0xFFD9},   {0xFFDD, 0xFFE7},   {0xFFEF, 0xFFF8},
    {0xFFFE, 0xFFFF},     {0x1000C, 0x1000C}, {0x10027, 0x10027}, {0x1003B, 0x1003B},
    {0x1003E, 0x1003E},   {0x1004E, 0x1004F}, {0x1005E, 0x1007F}, {0x100FB, 0x100FF},
    {0x10103, 0x10106},   {0x10134, 0x10136}, {0x1018F, 0x1018F}, {0x1019D, 0x1019F},
    {0x101A1, 0x101CF},   {0x101FE, 0x1027F}, {0x1029D, 0x1029F}, {0x102D1, 0x102DF},
    {0x102FC, 0x102FF},   {0x10324, 0x1032C}, {0x1034B, 0x1034F}, {0x1037B, 0x1037F},
    {0x1039E, 0x1039E},   {0x103C4, 0x103C7}, {0x103D6, 0x103FF}, {0x1049E, 0x1049F},
    {0x104AA, 0x104AF},   {0x104D4, 0x104D7}, {0x104FC, 0x104FF}, {0x10528, 0x1052F},
    {0x10564, 0x1056E},   {0x1057B, 0x1057B}, {0x1058B, 0x1058B}, {0x10593, 0x10593},
    {0x10596, 0x10596},   {0x105A2, 0x105A2}, {0x105B2, 0x105B2}, {0x105BA, 0x105BA},
    {0x105BD, 0x105FF},   {0x10737, 0x1073F}, {0x10756, 0x1075F}, {0x10768, 0x1077F},
    {0x10786, 0x10786},   {0x107B1, 0x107B1}, {0x107BB, 0x107FF}, {0x10806, 0x10807},
    {0x10809, 0x10809},   {0x10836, 0x10836}, {0x10839, 0x1083B}, {0x1083D, 0x1083E},
    {0x10856, 0x10856},   {0x1089F, 0x108A6}, {0x108B0, 0x108DF}, {0x108F3, 0x108F3},
    {0x108F6, 0x108FA},   {0x1091C, 0x1091E}, {0x1093A, 0x1093E}, {0x10940, 0x1097F},
    {0x109B8, 0x109BB},   {0x109D0, 0x109D1}, {0x10A04, 0x10A04}, {0x10A07, 0x10A0B},
    {0x10A14, 0x10A14},   {0x10A18, 0x10A18}, {0x10A36, 0x10A37}, {0x10A3B, 0x10A3E},
    {0x10A49, 0x10A4F},   {0x10A59, 0x10A5F}, {0x10AA0, 0x10ABF}, {0x10AE7, 0x10AEA},
    {0x10AF7, 0x10AFF},   {0x10B36, 0x10B38}, {0x10B56, 0x10B57}, {0x10B73, 0x10B77},
    {0x10B92, 0x10B98},   {0x10B9D, 0x10BA8}, {0x10BB0, 0x10BFF}, {0x10C49, 0x10C7F},
    {0x10CB3, 0x10CBF},   {0x10CF3, 0x10CF9}, {0x10D28, 0x10D2F}, {0x10D3A, 0x10E5F},
    {0x10E7F, 0x10E7F},   {0x10EAA, 0x10EAA}, {0x10EAE, 0x10EAF}, {0x10EB2, 0x10EFF},
    {0x10F28, 0x10F2F},   {0x10F5A, 0x10F6F}, {0x10F8A, 0x10FAF}, {0x10FCC, 0x10FDF},
    {0x10FF7, 0x10FFF},   {0x1104E, 0x11051}, {0x11076, 0x1107E}, {0x110C3, 0x110CC},
    {0x110CE, 0x110CF},   {0x110E9, 0x110EF}, {0x110FA, 0x110FF}, {0x11135, 0x11135},
    {0x11148, 0x1114F},   {0x11177, 0x1117F}, {0x111E0, 0x111E0}, {0x111F5, 0x111FF},
    {0x11212, 0x11212},   {0x1123F, 0x1127F}, {0x11287, 0x11287}, {0x11289, 0x11289},
    {0x1128E, 0x1128E},   {0x1129E, 0x1129E}, {0x112AA, 0x112AF}, {0x112EB, 0x112EF},
    {0x112FA, 0x112FF},   {0x11304, 0x11304}, {0x1130D, 0x1130E}, {0x11311, 0x11312},
    {0x11329, 0x11329},   {0x11331, 0x11331}, {0x11334, 0x11334}, {0x1133A, 0x1133A},
    {0x11345, 0x11346},   {0x11349, 0x1134A}, {0x1134E, 0x1134F}, {0x11351, 0x11356},
    {0x11358, 0x1135C},   {0x11364, 0x11365}, {0x1136D, 0x1136F}, {0x11375, 0x113FF},
    {0x1145C, 0x1145C},   {0x11462, 0x1147F}, {0x114C8, 0x114CF}, {0x114DA, 0x1157F},
    {0x115B6, 0x115B7},   {0x115DE, 0x115FF}, {0x11645, 0x1164F}, {0x1165A, 0x1165F},
    {0x1166D, 0x1167F},   {0x116BA, 0x116BF}, {0x116CA, 0x116FF}, {0x1171B, 0x1171C},
    {0x1172C, 0x1172F},   {0x11747, 0x117FF}, {0x1183C, 0x1189F}, {0x118F3, 0x118FE},
    {0x11907, 0x11908},   {0x1190A, 0x1190B}, {0x11914, 0x11914}, {0x11917, 0x11917},
    {0x11936, 0x11936},   {0x11939, 0x1193A}, {0x11947, 0x1194F}, {0x1195A, 0x1199F},
    {0x119A8, 0x119A9},   {0x119D8, 0x119D9}, {0x119E5, 0x119FF}, {0x11A48, 0x11A4F},
    {0x11AA3, 0x11AAF},   {0x11AF9, 0x11BFF}, {0x11C09, 0x11C09}, {0x11C37, 0x11C37},
    {0x11C46, 0x11C4F},   {0x11C6D, 0x11C6F}, {0x11C90, 0x11C91}, {0x11CA8, 0x11CA8},
    {0x11CB7, 0x11CFF},   {0x11D07, 0x11D07}, {0x11D0A, 0x11D0A}, {0x11D37, 0x11D39},
    {0x11D3B, 0x11D3B},   {0x11D3E, 0x11D3E}, {0x11D48, 0x11D4F}, {0x11D5A, 0x11D5F},
    {0x11D66, 0x11D66},   {0x11D69, 0x11D69}, {0x11D8F, 0x11D8F}, {0x11D92, 0x11D92},
    {0x11D99, 0x11D9F},   {0x11DAA, 0x11EDF}, {0x11EF9, 0x11FAF}, {0x11FB1, 0x11FBF},
    {0x11FF2, 0x11FFE},   {0x1239A, 0x123FF}, {0x1246F, 0x1246F}, {0x12475, 0x1247F},
    {0x12544, 0x12F8F},   {0x12FF3, 0x12FFF}, {0x1342F, 0x1342F}, {0x13439, 0x143FF},
    {0x14647, 0x167FF},   {0x16A39, 0x16A3F}, {0x16A5F, 0x16A5F}, {0x16A6A, 0x16A6D},
    {0x16ABF, 0x16ABF},   {0x16ACA, 0x16ACF}, {0x16AEE, 0x16AEF}, {0x16AF6, 0x16AFF},
    {0x16B46, 0x16B4F},   {0x16B5A, 0x16B5A}, {0x16B62, 0x16B62}, {0x16B78, 0x16B7C},
    {0x16B90, 0x16E3F},   {0x16E9B, 0x16EFF}, {0x16F4B, 0x16F4E}, {0x16F88, 0x16F8E},
    {0x16FA0, 0x16FE3},   {0x16FE5, 0x1BBFF}, {0x1BC6B, 0x1BC6F}, {0x1BC7D, 0x1BC7F},
    {0x1BC89, 0x1BC8F},   {0x1BC9A, 0x1BC9B}, {0x1BCA4, 0x1CEFF}, {0x1CF2E, 0x1CF2F},
    {0x1CF47, 0x1CF4F},   {0x1CFC4, 0x1CFFF}, {0x1D0F6, 0x1D0FF}, {0x1D127, 0x1D128},
    {0x1D1EB, 0x1D1FF},   {0x1D246, 0x1D2DF}, {0x1D2F4, 0x1D2FF}, {0x1D357, 0x1D35F},
    {0x1D379, 0x1D3FF},   {0x1D455, 0x1D455}, {0x1D49D, 0x1D49D}, {0x1D4A0, 0x1D4A1},
    {0x1D4A3, 0x1D4A4},   {0x1D4A7, 0x1D4A8}, {0x1D4AD, 0x1D4AD}, {0x1D4BA, 0x1D4BA},
    {0x1D4BC, 0x1D4BC},   {0x1D4C4, 0x1D4C4}, {0x1D506, 0x1D506}, {0x1D50B, 0x1D50C},
    {0x1D515, 0x1D515},   {0x1D51D, 0x1D51D}, {0x1D53A, 0x1D53A}, {0x1D53F, 0x1D53F},
    {0x1D545, 0x1D545},   {0x1D547, 0x1D549}, {0x1D551, 0x1D551}, {0x1D6A6, 0x1D6A7},
    {0x1D7CC, 0x1D7CD},   {0x1DA8C, 0x1DA9A}, {0x1DAA0, 0x1DAA0}, {0x1DAB0, 0x1DEFF},
    {0x1DF1F, 0x1DFFF},   {0x1E007, 0x1E007}, {0x1E019, 0x1E01A}, {0x1E022, 0x1E022},
    {0x1E025, 0x1E025},   {0x1E02B, 0x1E0FF}, {0x1E12D, 0x1E12F}, {0x1E13E, 0x1E13F},
    {0x1E14A, 0x1E14D},   {0x1E150, 0x1E28F}, {0x1E2AF, 0x1E2BF}, {0x1E2FA, 0x1E2FE},
    {0x1E300, 0x1E7DF},   {0x1E7E7, 0x1E7E7}, {0x1E7EC, 0x1E7EC}, {0x1E7EF, 0x1E7EF},
    {0x1E7FF, 0x1E7FF},   {0x1E8C5, 0x1E8C6}, {0x1E8D7, 0x1E8FF}, {0x1E94C, 0x1E94F},
    {0x1E95A, 0x1E95D},   {0x1E960, 0x1EC70}, {0x1ECB5, 0x1ED00}, {0x1ED3E, 0x1EDFF},
    {0x1EE04, 0x1EE04},   {0x1EE20, 0x1EE20}, {0x1EE23, 0x1EE23}, {0x1EE25, 0x1EE26},
    {0x1EE28, 0x1EE28},   {0x1EE33, 0x1EE33}, {0x1EE38, 0x1EE38}, {0x1EE3A, 0x1EE3A},
    {0x1EE3C, 0x1EE41},   {0x1EE43, 0x1EE46}, {0x1EE48, 0x1EE48}, {0x1EE4A, 0x1EE4A},
    {0x1EE4C, 0x1EE4C},   {0x1EE50, 0x1EE50}, {0x1EE53, 0x1EE53}, {0x1EE55, 0x1EE56},
    {0x1EE58, 0x1EE58},   {0x1EE5A, 0x1EE5A}, {0x1EE5C, 0x1EE5C}, {0x1EE5E, 0x1EE5E},
    {0x1EE60, 0x1EE60},   {0x1EE63, 0x1EE63}, {0x1EE65, 0x1EE66}, {0x1EE6B, 0x1EE6B},
    {0x1EE73, 0x1EE73},   {0x1EE78, 0x1EE78}, {0x1EE7D, 0x1EE7D}, {0x1EE7F, 0x1EE7F},
    {0x1EE8A, 0x1EE8A},   {0x1EE9C, 0x1EEA0}, {0x1EEA4, 0x1EEA4}, {0x1EEAA, 0x1EEAA},
    {0x1EEBC, 0x1EEEF},   {0x1EEF2, 0x1EFFF}, {0x1F004, 0x1F004}, {0x1F02C, 0x1F02F},
    {0x1F094, 0x1F09F},   {0x1F0AF, 0x1F0B0}, {0x1F0C0, 0x1F0C0}, {0x1F0CF, 0x1F0D0},
    {0x1F0F6, 0x1F0FF},   {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F1AE, 0x1F1E5},
    {0x1F200, 0x1F320},   {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393},
    {0x1F3A0, 0x1F3CA},   {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4},
    {0x1F3F8, 0x1F43E},   {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D},
    {0x1F54B, 0x1F54E},   {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596},
    {0x1F5A4, 0x1F5A4},   {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC},
    {0x1F6D0, 0x1F6D2},   {0x1F6D5, 0x1F6DF}, {0x1F6EB, 0x1F6EF}, {0x1F6F4, 0x1F6FF},
    {0x1F774, 0x1F77F},   {0x1F7D9, 0x1F7FF}, {0x1F80C, 0x1F80F}, {0x1F848, 0x1F84F},
    {0x1F85A, 0x1F85F},   {0x1F888, 0x1F88F}, {0x1F8AE, 0x1F8AF}, {0x1F8B2, 0x1F8FF},
    {0x1F90C, 0x1F93A},   {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA54, 0x1FA5F},
    {0x1FA6E, 0x1FAFF},   {0x1FB93, 0x1FB93}, {0x1FBCB, 0x1FBEF}, {0x1FBFA, 0xE0000},
    {0xE0002, 0xE001F},   {0xE0080, 0xE00FF}, {0xE01F0, 0xEFFFF}, {0xFFFFE, 0xFFFFF},
    {0x10FFFE, 0x10FFFF},
};

bool InRanges(const CodeRange* begin, const CodeRange* end, char32_t c) {
  const CodeRange* it =
      std::upper_bound(begin, end, c, [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != begin && c <= (it - 1)->last;
}

int CharWidth(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;  // control characters show nothing
  if (c < 0x300) return 1;
  if (InRanges(std::begin(kZeroWidth), std::end(kZeroWidth), c)) return 0;
  if (InRanges(std::begin(kWide), std::end(kWide), c)) return 2;
  return 1;
}

// Next code point of UTF-8 text; an invalid byte is one U+FFFD.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k < len; ++k) {
    auto cb = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((cb & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (cb & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += static_cast<std::size_t>(len);
  return c;
}

}  // namespace

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t widest = 0, line = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t c = NextCodePoint(utf8, i);
    if (c == '\n') {
      widest = std::max(widest, line);
      line = 0;
      continue;
    }
    line += static_cast<std::size_t>(CharWidth(c));
  }
  return std::max(widest, line);
}

}  // namespace sheetwise::xlsx
