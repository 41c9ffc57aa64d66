#include "platform/com/guid.h"

#include <cwchar>
#include <optional>
#include <string_view>

namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hex digits at `text[at]`.
std::optional<unsigned long> Hex(std::wstring_view text, std::size_t at, std::size_t digits) {
  unsigned long value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int d = HexValue(text[at + i]);
    if (d < 0) return std::nullopt;
    value = (value << 4) | static_cast<unsigned long>(d);
  }
  return value;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", nothing before or after.
std::optional<GUID> ParseBraced(std::wstring_view text) {
  if (text.size() != 38 || text[0] != L'{' || text[37] != L'}' || text[9] != L'-' ||
      text[14] != L'-' || text[19] != L'-' || text[24] != L'-') {
    return std::nullopt;
  }
  GUID guid{};
  const auto d1 = Hex(text, 1, 8);
  const auto d2 = Hex(text, 10, 4);
  const auto d3 = Hex(text, 15, 4);
  if (!d1 || !d2 || !d3) return std::nullopt;
  guid.Data1 = static_cast<DWORD>(*d1);
  guid.Data2 = static_cast<WORD>(*d2);
  guid.Data3 = static_cast<WORD>(*d3);
  static constexpr std::size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    const auto b = Hex(text, kByteAt[i], 2);
    if (!b) return std::nullopt;
    guid.Data4[i] = static_cast<BYTE>(*b);
  }
  return guid;
}

}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR out, int max) {
  constexpr int kChars = 39;
  if (out == nullptr || max < kChars) return 0;
  std::swprintf(out, static_cast<std::size_t>(max),
                L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), unsigned{guid.Data2}, unsigned{guid.Data3},
                unsigned{guid.Data4[0]}, unsigned{guid.Data4[1]}, unsigned{guid.Data4[2]},
                unsigned{guid.Data4[3]}, unsigned{guid.Data4[4]}, unsigned{guid.Data4[5]},
                unsigned{guid.Data4[6]}, unsigned{guid.Data4[7]});
  return kChars;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *clsid = IID_NULL;
    return S_OK;
  }
  if (text[0] == L'{') {
    const auto guid = ParseBraced(text);
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
  }
  return CLSIDFromProgID(text, clsid);
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (iid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *iid = IID_NULL;
    return S_OK;
  }
  const auto guid = ParseBraced(text);
  if (!guid) return CO_E_IIDSTRING;
  *iid = *guid;
  return S_OK;
}
