#include "import/cellnumber.h"

#include <cmath>
#include <cwctype>
#include <numbers>
#include <optional>

#include "platform/com/bstr.h"
#include "platform/com/variant.h"

namespace {

// A cursor over the text being read.
class Reader {
 public:
  explicit Reader(std::wstring_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  wchar_t Peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : L'\0';
  }
  bool Take(wchar_t c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  std::size_t pos() const { return pos_; }
  void Seek(std::size_t pos) { pos_ = pos; }

  // Digits with an optional decimal point and exponent; `integral` tells whether it had
  // neither. Plain ASCII only: a locale's digits or separators are not numbers here.
  std::optional<double> Decimal(bool* integral) {
    const std::size_t start = pos_;
    std::size_t digits = 0;
    while (std::iswdigit(Peek()) && Peek() < 0x80) ++pos_, ++digits;
    bool plain = true;
    if (Peek() == L'.') {
      ++pos_;
      plain = false;
      while (std::iswdigit(Peek()) && Peek() < 0x80) ++pos_, ++digits;
    }
    if (digits == 0) {
      pos_ = start;
      return std::nullopt;
    }
    if (Peek() == L'e' || Peek() == L'E') {
      std::size_t mark = pos_++;
      if (Peek() == L'+' || Peek() == L'-') ++pos_;
      std::size_t exp_digits = 0;
      while (std::iswdigit(Peek()) && Peek() < 0x80) ++pos_, ++exp_digits;
      if (exp_digits == 0) {
        pos_ = mark;
      } else {
        plain = false;
      }
    }
    std::string ascii;
    for (std::size_t i = start; i < pos_; ++i) ascii += static_cast<char>(text_[i]);
    *integral = plain;
    return std::strtod(ascii.c_str(), nullptr);
  }

  // "N/D" with whole numbers; null without a slash right after the numerator.
  std::optional<double> Fraction() {
    const std::size_t start = pos_;
    bool integral = false;
    std::optional<double> num = Decimal(&integral);
    if (!num || !integral || !Take(L'/')) {
      pos_ = start;
      return std::nullopt;
    }
    std::optional<double> den = Decimal(&integral);
    if (!den || !integral || *den == 0) {
      pos_ = start;
      return std::nullopt;
    }
    return *num / *den;
  }

  // A number as the host writes one: "17.5", "17", "17 1/2", "17-1/2", "1/2".
  std::optional<double> Mixed() {
    const std::size_t start = pos_;
    if (std::optional<double> f = Fraction()) return f;
    bool integral = false;
    std::optional<double> whole = Decimal(&integral);
    if (!whole) return std::nullopt;
    if (integral && (Peek() == L' ' || Peek() == L'-')) {
      const std::size_t mark = pos_++;
      if (std::optional<double> f = Fraction()) return *whole + *f;
      pos_ = mark;
    }
    (void)start;
    return whole;
  }

 private:
  std::wstring_view text_;
  std::size_t pos_ = 0;
};

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && std::iswspace(text.front())) text.remove_prefix(1);
  while (!text.empty() && std::iswspace(text.back())) text.remove_suffix(1);
  return text;
}

std::wstring Quoted(std::wstring_view text) {
  return L"\"" + std::wstring(text) + L"\"";
}

CellNumber Invalid(std::wstring problem) {
  CellNumber out;
  out.kind = CellNumber::kInvalid;
  out.problem = std::move(problem);
  return out;
}

CellNumber Number(double value) {
  CellNumber out;
  out.kind = CellNumber::kNumber;
  out.value = value;
  return out;
}

// A number typed into the cell, in the drawing's angular unit.
double AngleFromNumber(double number, const UnitSettings& units) {
  switch (units.aunits) {
    case 2:
      return number * std::numbers::pi / 200.0;
    case 3:
      return number;
    default:
      return number * std::numbers::pi / 180.0;
  }
}

CellNumber FromNumber(double number, NumberColumn column, const UnitSettings& units) {
  if (!std::isfinite(number)) return Invalid(L"is not a finite number");
  if (column == NumberColumn::kAngle) return Number(AngleFromNumber(number, units));
  if (column == NumberColumn::kScale && number == 0.0)
    return Invalid(L"is 0, which is no scale factor");
  return Number(number);
}

CellNumber FromText(std::wstring_view raw, NumberColumn column, const UnitSettings& units) {
  const std::wstring_view text = Trim(raw);
  if (text.empty()) return CellNumber{};
  if (column == NumberColumn::kAngle) {
    const AngleValue angle = ParseAngle(text, units.aunits, units);
    if (angle.status != RTNORM)
      return Invalid(Quoted(text) + L" is not an angle in the drawing's angular units");
    return Number(angle.radians);
  }
  double value = 0.0;
  if (!ParseDistance(text, &value))
    return Invalid(Quoted(text) + L" is not a number in the drawing's units");
  if (column == NumberColumn::kScale && value == 0.0)
    return Invalid(Quoted(text) + L" is 0, which is no scale factor");
  return Number(value);
}

}  // namespace

bool ParseDistance(std::wstring_view raw, double* value) {
  const std::wstring_view text = Trim(raw);
  Reader in(text);
  bool negative = false;
  if (in.Take(L'-')) {
    negative = true;
  } else {
    in.Take(L'+');
  }
  double result = 0.0;
  if (text.find_first_of(L"'\"") == std::wstring_view::npos) {
    std::optional<double> number = in.Mixed();
    if (!number || !in.AtEnd()) return false;
    result = *number;
  } else {
    bool any = false;
    const std::size_t start = in.pos();
    if (std::optional<double> feet = in.Mixed(); feet && in.Take(L'\'')) {
      result = *feet * 12.0;
      any = true;
      // The host writes 1'-5", 1' 5" or, typed back, 1'5".
      // A separator promises inches.
      if ((in.Take(L'-') || in.Take(L' ')) && in.AtEnd()) return false;
    } else {
      in.Seek(start);
    }
    if (!in.AtEnd()) {
      std::optional<double> inches = in.Mixed();
      if (!inches || !in.Take(L'"')) return false;
      result += *inches;
      any = true;
    }
    if (!any || !in.AtEnd()) return false;
  }
  if (negative) result = -result;
  if (!std::isfinite(result)) return false;
  *value = result;
  return true;
}

CellNumber CellToNumber(const VARIANT& value, NumberColumn column, const UnitSettings& units) {
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return CellNumber{};
    case VT_BSTR: {
      const BSTR text = value.bstrVal;
      return FromText(
          text != nullptr ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view(),
          column, units);
    }
    case VT_DATE:
      return Invalid(L"is a date");
    case VT_BOOL:
      return Invalid(L"is a logical value (TRUE or FALSE)");
    case VT_ERROR:
      return Invalid(L"is an error value");
    case VT_R8:
      return FromNumber(value.dblVal, column, units);
    case VT_R4:
      return FromNumber(value.fltVal, column, units);
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: {
      VARIANT real;
      VariantInit(&real);
      if (FAILED(VariantChangeType(&real, &value, 0, VT_R8))) return Invalid(L"is not a number");
      return FromNumber(real.dblVal, column, units);
    }
    default:
      return Invalid(L"is not a number");
  }
}
