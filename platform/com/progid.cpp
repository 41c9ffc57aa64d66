// CLSIDFromProgID: a ProgID's class id from the settings store (HKEY_CLASSES_ROOT).
#include <string>

#include "platform/com/guid.h"
#include "platform/win/registry.h"

HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
  if (progid == nullptr || clsid == nullptr) return E_INVALIDARG;
  // A ProgID is one key name: a backslash would reach into another key, and "" is no name.
  const std::wstring name(progid);
  if (name.empty() || name.find(L'\\') != std::wstring::npos) return CO_E_CLASSSTRING;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (name + L"\\CLSID").c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return CO_E_CLASSSTRING;
  }
  // The braced form is 38 characters; a longer value is not a class id.
  wchar_t text[40] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);  // keeps room for a terminating zero
  DWORD type = REG_NONE;
  const LONG read =
      RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_SZ || text[0] != L'{') return CO_E_CLASSSTRING;
  CLSID result;
  if (FAILED(CLSIDFromString(text, &result))) return CO_E_CLASSSTRING;
  *clsid = result;
  return S_OK;
}
