#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>

namespace {

// The prefix is a DWORD as on the platform; the text that follows stays aligned for OLECHAR
// because malloc's alignment is a multiple of sizeof(DWORD) and sizeof(OLECHAR) divides it.
static_assert(sizeof(DWORD) % alignof(OLECHAR) == 0);

DWORD* Header(BSTR text) {
  return reinterpret_cast<DWORD*>(text) - 1;
}

BSTR Allocate(const OLECHAR* text, UINT length) {
  constexpr std::size_t kMaxChars =
      (std::numeric_limits<DWORD>::max() - sizeof(DWORD)) / sizeof(OLECHAR) - 1;
  if (length > kMaxChars) return nullptr;
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  void* block = std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR));
  if (block == nullptr) return nullptr;
  auto* header = static_cast<DWORD*>(block);
  *header = static_cast<DWORD>(bytes);
  auto* chars = reinterpret_cast<OLECHAR*>(header + 1);
  if (text != nullptr) {
    std::wmemcpy(chars, text, length);
  } else {
    std::wmemset(chars, L'\0', length);
  }
  chars[length] = L'\0';
  return chars;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::wcslen(text);
  if (length > std::numeric_limits<UINT>::max()) return nullptr;
  return Allocate(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return Allocate(text, length);
}

BSTR SysAllocStringByteLen(const char* text, UINT bytes) {
  const UINT length = bytes / sizeof(OLECHAR);
  BSTR result = Allocate(nullptr, length);
  if (result != nullptr && text != nullptr) {
    std::memcpy(result, text, std::size_t{length} * sizeof(OLECHAR));
  }
  return result;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(Header(text));
}

UINT SysStringLen(BSTR text) {
  return text == nullptr ? 0 : *Header(text) / sizeof(OLECHAR);
}

UINT SysStringByteLen(BSTR text) {
  return text == nullptr ? 0 : *Header(text);
}

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (target == nullptr) return FALSE;
  if (text == nullptr) {
    SysFreeString(*target);
    *target = nullptr;
    return TRUE;
  }
  const std::size_t length = std::wcslen(text);
  if (length > std::numeric_limits<UINT>::max()) return FALSE;
  return SysReAllocStringLen(target, text, static_cast<UINT>(length));
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (target == nullptr) return FALSE;
  // Copy before freeing: the new text may be a part of the old string.
  BSTR fresh = Allocate(text, length);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*target);
  *target = fresh;
  return TRUE;
}
