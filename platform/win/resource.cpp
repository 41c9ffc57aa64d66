#include "platform/win/resource.h"

#include <cstring>
#include <cwchar>

#include "platform/win/module.h"

namespace {

// The module's resource list, or null with the error set. GetProcAddress refuses unknown
// handles, so a stale handle never reaches dlsym.
const SwResource* ListOf(HMODULE module, size_t* count) {
  FARPROC address = GetProcAddress(module, SW_RESOURCE_EXPORT);
  if (address == nullptr) {
    if (GetLastError() == ERROR_MOD_NOT_FOUND) {
      SetLastError(ERROR_INVALID_HANDLE);
    } else {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    return nullptr;
  }
  *count = 0;
  return reinterpret_cast<SwResourceList>(address)(count);
}

}  // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!IS_INTRESOURCE(name) || !IS_INTRESOURCE(type)) {
    // Resources are numbered only.
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  size_t count = 0;
  const SwResource* list = ListOf(module, &count);
  if (list == nullptr) return nullptr;
  const auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  const auto kind = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(type));
  bool type_seen = false;
  for (size_t i = 0; i < count; ++i) {
    if (list[i].type != kind) continue;
    type_seen = true;
    if (list[i].id == id) {
      return reinterpret_cast<HRSRC>(const_cast<SwResource*>(&list[i]));
    }
  }
  SetLastError(type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<void*>(reinterpret_cast<const SwResource*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) {
  return data;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(reinterpret_cast<const SwResource*>(resource)->size);
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
  if (buffer == nullptr || size < 0) return 0;
  const wchar_t* text = nullptr;
  size_t length = 0;
  if (id <= 0xFFFF) {
    if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(static_cast<WORD>(id)), RT_STRING)) {
      text = static_cast<const wchar_t*>(LoadResource(module, found));
      length = SizeofResource(module, found) / sizeof(wchar_t);
    }
  }
  if (size == 0) {
    // Windows hands out the resource's own read-only text this way.
    *reinterpret_cast<const wchar_t**>(buffer) = text;
    return text != nullptr ? static_cast<int>(length) : 0;
  }
  if (text == nullptr) {
    buffer[0] = L'\0';
    return 0;
  }
  size_t copied = length < static_cast<size_t>(size) ? length : static_cast<size_t>(size) - 1;
  std::wmemcpy(buffer, text, copied);
  buffer[copied] = L'\0';
  return static_cast<int>(copied);
}
