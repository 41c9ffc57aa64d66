// Feeds arbitrary text (UTF-8) to VariantChangeType for every target type, and checks that what
// converts also converts back: a number read from text writes as text that reads as the same
// number, a date as text that reads as the same date to the second.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"

namespace {

constexpr VARTYPE kTargets[] = {VT_EMPTY,   VT_NULL,    VT_I2,      VT_I4,       VT_R4,    VT_R8,
                                VT_CY,      VT_DATE,    VT_BSTR,    VT_DISPATCH, VT_ERROR, VT_BOOL,
                                VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,       VT_UI1,   VT_UI2,
                                VT_UI4,     VT_I8,      VT_UI8,     VT_INT,      VT_UINT};
constexpr USHORT kFlags[] = {0, VARIANT_ALPHABOOL, VARIANT_NOVALUEPROP | VARIANT_LOCALBOOL};

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Converts `v` to `vt` into a fresh `out`.
HRESULT Convert(VARIANT& out, VARIANT& v, USHORT flags, VARTYPE vt) {
  VariantInit(&out);
  return VariantChangeType(&out, &v, flags, vt);
}

void CheckRoundTrip(VARIANT& value) {
  VARIANT text;
  const HRESULT written = Convert(text, value, 0, VT_BSTR);
  if (value.vt == VT_DATE && FAILED(written)) return;  // outside the printable date range
  Require(SUCCEEDED(written));
  VARIANT back;
  const HRESULT read = Convert(back, text, 0, value.vt);
  if (value.vt == VT_R8 && std::isfinite(value.dblVal)) {
    Require(SUCCEEDED(read));
    const double a = value.dblVal;
    const double b = back.dblVal;
    Require(a == b || std::fabs(a - b) <= 1e-14 * std::fabs(a) || std::fabs(a) < 1e-300);
  } else if (value.vt == VT_DATE) {
    Require(SUCCEEDED(read));
    Require(std::fabs(back.date - value.date) <= 1.0 / 86400.0 + 1e-9);
  } else if (value.vt != VT_R8 && value.vt != VT_R4) {
    Require(SUCCEEDED(read));
  }
  VariantClear(&back);
  VariantClear(&text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring wide = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (source.bstrVal == nullptr) return 0;
  for (const USHORT flags : kFlags) {
    for (const VARTYPE vt : kTargets) {
      VARIANT out;
      const HRESULT hr = Convert(out, source, flags, vt);
      if (SUCCEEDED(hr)) {
        Require(out.vt == vt);
        if (vt == VT_R8 || vt == VT_DATE || vt == VT_I4 || vt == VT_BOOL) CheckRoundTrip(out);
        Require(SUCCEEDED(VariantClear(&out)));
      } else {
        Require(out.vt == VT_EMPTY);
      }
    }
  }
  // In place, as the program converts cell values.
  VARIANT copy;
  VariantInit(&copy);
  Require(SUCCEEDED(VariantCopy(&copy, &source)));
  if (FAILED(VariantChangeType(&copy, &copy, 0, VT_R8))) Require(copy.vt == VT_BSTR);
  VariantClear(&copy);
  VariantClear(&source);
  return 0;
}
