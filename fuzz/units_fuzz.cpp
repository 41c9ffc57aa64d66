// Feeds arbitrary text to the angle reader and arbitrary doubles, units, precisions and settings
// to the distance and angle writers. Checks: nothing crashes; a read angle lies in [0, 2*pi); a
// written angle reads back and writes again as the same text; a decimal distance reads back
// within half its last digit; a failure says why and writes nothing.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/host/units.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr double kTwoPi = 6.283185307179586;

// Past 8 decimals (the host's AUPREC range) the text holds more digits than a double, so only
// the reading is checked there.
void CheckAngleText(const std::wstring& text, int unit, int prec, const UnitSettings& s) {
  AngleValue back = ParseAngle(text, unit, s);
  Require(back.status == RTNORM);
  Require(back.radians >= 0 && back.radians < kTwoPi);
  if (prec > 8) return;
  UnitText again = FormatAngle(back.radians, unit, prec, s);
  Require(again.status == RTNORM && again.text == text);
}

void FuzzText(const uint8_t* data, size_t size) {
  if (size < 1) return;
  UnitSettings s;
  s.aunits = data[0] % 5;
  s.unitmode = (data[0] >> 3) & 1;
  int unit = static_cast<int>(data[0] % 7) - 1;  // -1 and two bad units too
  std::wstring text;
  for (size_t i = 1; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));
  AngleValue v = ParseAngle(text, unit, s);
  if (unit == 5) {
    Require(v.status == RTREJ);
    return;
  }
  if (v.status != RTNORM) {
    Require(v.status == RTERROR && !v.error.empty() && v.error_offset <= text.size());
    return;
  }
  Require(v.radians >= 0 && v.radians < kTwoPi);
  int shown_unit = unit == -1 ? s.aunits : unit;
  UnitText t = FormatAngle(v.radians, shown_unit, 4, s);
  Require(t.status == RTNORM);
  CheckAngleText(t.text, shown_unit, 4, s);
}

void FuzzNumber(const uint8_t* data, size_t size) {
  if (size < 12) return;
  double value = 0;
  std::memcpy(&value, data, sizeof value);
  int unit = static_cast<int>(data[8] % 8) - 1;
  int prec = static_cast<int>(data[9] % 18) - 1;
  UnitSettings s;
  s.dimzin = data[10] & 15;
  s.unitmode = data[10] >> 7;
  s.lunits = 1 + data[11] % 5;
  s.luprec = data[11] % 9;
  s.aunits = data[11] % 5;
  s.auprec = data[11] % 9;

  UnitText d = FormatDistance(value, unit, prec, s);
  if (d.status == RTNORM) {
    Require(!d.text.empty() && d.text.size() < 800);
    int u = unit == -1 ? s.lunits : unit;
    int p = prec == -1 ? s.luprec : prec;
    if (u == 2 && (s.dimzin & 4) == 0) {
      std::string narrow(d.text.begin(), d.text.end());
      double back = 0;
      auto [end, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), back);
      Require(ec == std::errc() && end == narrow.data() + narrow.size());
      Require(std::fabs(back - value) <=
              0.5 * std::pow(10.0, -p) * (1 + 1e-9) + std::fabs(value) * 1e-15);
    }
  } else {
    Require((d.status == RTREJ || d.status == RTERROR) && d.text.empty() && !d.error.empty());
  }

  UnitText a = FormatAngle(value, unit, prec, s);
  if (a.status == RTNORM) {
    int u = unit == -1 ? s.aunits : unit;
    int p = prec == -1 ? s.auprec : prec;
    CheckAngleText(a.text, u, p, s);
  } else {
    Require((a.status == RTREJ || a.status == RTERROR) && a.text.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    FuzzText(data + 1, size - 1);
  } else {
    FuzzNumber(data + 1, size - 1);
  }
  return 0;
}
