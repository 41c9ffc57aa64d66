// Group-code value types, text encodings with AutoCAD's escapes, and number syntax.
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/dxf/document.h"
#include "platform/dxf/document_internal.h"
#include "platform/dxf/group_codes.h"
#include "platform/win/codepage.h"

namespace sheetwise::dxf {

namespace {

constexpr int kMaxCode = 1072;

constexpr std::array<ValueType, kMaxCode> BuildTypeTable() {
  std::array<ValueType, kMaxCode> t{};
  for (auto& v : t) v = ValueType::kString;
  auto range = [&t](int from, int to, ValueType type) {
    for (int c = from; c <= to; ++c) t[c] = type;
  };
  range(10, 59, ValueType::kDouble);
  range(60, 79, ValueType::kInt16);
  range(90, 99, ValueType::kInt32);
  t[105] = ValueType::kHandle;
  range(110, 149, ValueType::kDouble);
  range(160, 169, ValueType::kInt64);
  range(170, 179, ValueType::kInt16);
  range(210, 239, ValueType::kDouble);
  range(270, 289, ValueType::kInt16);
  range(290, 299, ValueType::kBool);
  range(310, 319, ValueType::kBinary);
  range(320, 369, ValueType::kHandle);
  range(370, 389, ValueType::kInt16);
  range(390, 399, ValueType::kHandle);
  range(400, 409, ValueType::kInt16);
  range(420, 429, ValueType::kInt32);
  range(440, 459, ValueType::kInt32);
  range(460, 469, ValueType::kDouble);
  range(480, 481, ValueType::kHandle);
  t[1004] = ValueType::kBinary;
  t[1005] = ValueType::kHandle;
  range(1010, 1059, ValueType::kDouble);
  range(1060, 1070, ValueType::kInt16);
  t[1071] = ValueType::kInt32;
  t[5] = ValueType::kHandle;
  return t;
}

constexpr std::array<ValueType, kMaxCode> kTypes = BuildTypeTable();

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Four hex digits at `s[at]`; -1 when they are not there.
long Hex4(std::wstring_view s, size_t at) {
  if (at + 4 > s.size()) return -1;
  long v = 0;
  for (size_t i = 0; i < 4; ++i) {
    const int d = HexDigit(s[at + i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// The code pages of \M+N: AutoCAD's numbering of the double-byte Asian pages.
unsigned MbcsPage(wchar_t n) {
  switch (n) {
    case L'1':
      return 932;
    case L'2':
      return 950;
    case L'3':
      return 949;
    case L'4':
      return 1361;
    case L'5':
      return 936;
    default:
      return 0;
  }
}

wchar_t MbcsNumber(unsigned code_page) {
  switch (code_page) {
    case 932:
      return L'1';
    case 950:
      return L'2';
    case 949:
      return L'3';
    case 1361:
      return L'4';
    case 936:
      return L'5';
    default:
      return 0;
  }
}

std::wstring DecodeEscapes(std::wstring s) {
  if (s.find(L'\\') == std::wstring::npos) return s;
  std::wstring out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    if (s[i] == L'\\' && i + 2 < s.size() && s[i + 2] == L'+') {
      if (s[i + 1] == L'U' || s[i + 1] == L'u') {
        const long unit = Hex4(s, i + 3);
        if (unit >= 0) {
          // A high surrogate followed by an escaped low surrogate is one character.
          if (unit >= 0xD800 && unit <= 0xDBFF && s.size() >= i + 14 && s[i + 7] == L'\\' &&
              (s[i + 8] == L'U' || s[i + 8] == L'u') && s[i + 9] == L'+') {
            const long low = Hex4(s, i + 10);
            if (low >= 0xDC00 && low <= 0xDFFF) {
              out.push_back(
                  static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
              i += 14;
              continue;
            }
          }
          out.push_back(unit >= 0xD800 && unit <= 0xDFFF ? L'\xFFFD' : static_cast<wchar_t>(unit));
          i += 7;
          continue;
        }
      } else if (s[i + 1] == L'M' || s[i + 1] == L'm') {
        const unsigned page = i + 3 < s.size() ? MbcsPage(s[i + 3]) : 0;
        const long pair = page ? Hex4(s, i + 4) : -1;
        if (pair >= 0) {
          const char bytes[2] = {static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
          const bool single = bytes[0] == 0;
          wchar_t wide[2];
          const int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, single ? bytes + 1 : bytes,
                                            single ? 1 : 2, wide, 2);
          if (n == 1) {
            out.push_back(wide[0]);
            i += 8;
            continue;
          }
        }
      }
    }
    out.push_back(s[i++]);
  }
  return out;
}

void AppendUnicodeEscape(std::string& out, unsigned unit) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\U+%04X", unit & 0xFFFF);
  out += buf;
}

}  // namespace

ValueType ValueTypeOf(int code) {
  if (code < 0 || code >= kMaxCode) return ValueType::kString;
  return kTypes[static_cast<size_t>(code)];
}

std::wstring DecodeText(std::string_view bytes, unsigned code_page) {
  bool plain = true;
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80 || c == '\\') {
      plain = false;
      break;
    }
  }
  if (plain) return std::wstring(bytes.begin(), bytes.end());
  std::wstring wide = code_page == 65001 ? Utf8ToWide(bytes) : CodePageToWide(code_page, bytes);
  if (wide.empty() && !bytes.empty()) wide = CodePageToWide(1252, bytes);
  return DecodeEscapes(std::move(wide));
}

std::string EncodeText(std::wstring_view text, unsigned code_page, bool mbcs_escapes) {
  if (code_page == 65001) return WideToUtf8(text);
  std::string out;
  out.reserve(text.size());
  const wchar_t mbcs = mbcs_escapes ? MbcsNumber(code_page) : 0;
  for (const wchar_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const unsigned cp = static_cast<unsigned>(c);
    if (cp <= 0xFFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
      char buf[4];
      BOOL used_default = FALSE;
      const int n = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, &c, 1, buf, sizeof buf,
                                        nullptr, &used_default);
      if (n > 0 && !used_default) {
        if (n == 2 && mbcs) {
          char esc[12];
          std::snprintf(esc, sizeof esc, "\\M+%c%02X%02X", static_cast<char>(mbcs),
                        static_cast<unsigned char>(buf[0]), static_cast<unsigned char>(buf[1]));
          out += esc;
        } else {
          out.append(buf, static_cast<size_t>(n));
        }
        continue;
      }
      AppendUnicodeEscape(out, cp);
    } else if (cp > 0xFFFF && cp <= 0x10FFFF) {
      const unsigned v = cp - 0x10000;
      AppendUnicodeEscape(out, 0xD800 + (v >> 10));
      AppendUnicodeEscape(out, 0xDC00 + (v & 0x3FF));
    } else {
      AppendUnicodeEscape(out, 0xFFFD);
    }
  }
  return out;
}

unsigned CodePageFromName(std::string_view name) {
  name = Trim(name);
  auto starts = [&name](std::string_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
      if ((name[i] | 0x20) != (prefix[i] | 0x20)) return false;
    }
    return true;
  };
  std::string_view digits;
  if (starts("ANSI_")) {
    digits = name.substr(5);
  } else if (starts("DOS")) {
    digits = name.substr(3);
  } else {
    return 0;
  }
  unsigned value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return 0;
  // 0-3 are the pseudo code pages (CP_ACP ...), never a drawing's.
  if (value < 37 || !IsValidCodePage(value)) return 0;
  return value;
}

std::optional<double> ParseReal(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double v = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::int64_t v = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<Handle> ParseHandle(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 16) return std::nullopt;
  Handle v = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

std::string FormatReal(double value) {
  char buf[40];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::string s(buf, ec == std::errc() ? ptr : buf);
  const size_t e = s.find('e');
  std::string mantissa = s.substr(0, e);
  if (mantissa.find('.') == std::string::npos) mantissa += ".0";
  if (e == std::string::npos) return mantissa;
  std::string exponent = s.substr(e + 1);
  char sign = '+';
  if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) {
    sign = exponent[0];
    exponent.erase(0, 1);
  }
  if (exponent.size() < 2) exponent.insert(0, 2 - exponent.size(), '0');
  return mantissa + 'E' + sign + exponent;
}

}  // namespace sheetwise::dxf
