#include "platform/host/acdbcore.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "platform/host/dbimpl_internal.h"
#include "platform/win/locale.h"

const AcDbObjectId AcDbObjectId::kNull;

const ACHAR* acadErrorStatusText(Acad::ErrorStatus es) {
  static const ACHAR* const kNames[] = {
      L"eOk",
      L"eNotImplementedYet",
      L"eNotApplicable",
      L"eInvalidInput",
      L"eOutOfMemory",
      L"eBufferTooSmall",
      L"eInvalidOpenState",
      L"eNotInDatabase",
      L"eKeyNotFound",
      L"eDuplicateKey",
      L"eNullObjectId",
      L"eNullHandle",
      L"eUnknownHandle",
      L"eNullObjectPointer",
      L"eWasErased",
      L"eWasOpenForRead",
      L"eWasOpenForWrite",
      L"eWasOpenForNotify",
      L"eNotOpenForWrite",
      L"eNotOpenForRead",
      L"eWrongObjectType",
      L"eWrongDatabase",
      L"eNotThatKindOfClass",
      L"eBadDxfSequence",
      L"eFileNotFound",
      L"eFileAccessErr",
      L"eFileSharingViolation",
      L"eDwgNeedsRecovery",
      L"eBadDwgHeader",
      L"eNotAllowedForThisProxy",
      L"eAtMaxReaders",
      L"eIsWriteProtected",
      L"eNoDatabase",
      L"eInvalidIndex",
      L"eNotAnEntity",
      L"eIllegalReplacement",
      L"eInvalidKey",
      L"eSelfReference",
      L"eNotFromThisDocument",
      L"eAlreadyInDb",
  };
  auto index = static_cast<std::size_t>(es);
  return index < std::size(kNames) ? kNames[index] : L"eUnknownError";
}

bool AcDbHandle::fromText(std::wstring_view text, AcDbHandle& out) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
  if (text.empty() || text.size() > 16) return false;
  Adesk::UInt64 value = 0;
  for (wchar_t c : text) {
    int digit;
    if (c >= L'0' && c <= L'9') {
      digit = c - L'0';
    } else if (c >= L'a' && c <= L'f') {
      digit = c - L'a' + 10;
    } else if (c >= L'A' && c <= L'F') {
      digit = c - L'A' + 10;
    } else {
      return false;
    }
    value = value << 4 | static_cast<Adesk::UInt64>(digit);
  }
  out = AcDbHandle(value);
  return true;
}

AcDbHandle::AcDbHandle(const ACHAR* text) {
  if (text != nullptr) fromText(text, *this);
}

AcDbHandle::AcDbHandle(const char* text) {
  if (text == nullptr) return;
  std::wstring wide;
  for (const char* p = text; *p != 0; ++p) wide.push_back(static_cast<unsigned char>(*p));
  fromText(wide, *this);
}

std::wstring AcDbHandle::text() const {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out;
  Adesk::UInt64 v = value_;
  do {
    out.insert(out.begin(), kDigits[v & 15]);
    v >>= 4;
  } while (v != 0);
  return out;
}

void AcDbHandle::getIntoAsciiBuffer(ACHAR* buffer, std::size_t buffer_chars) const {
  if (buffer == nullptr || buffer_chars == 0) return;
  std::wstring t = text();
  if (t.size() + 1 > buffer_chars) {
    buffer[0] = 0;
    return;
  }
  std::wmemcpy(buffer, t.c_str(), t.size() + 1);
}

bool AcDbObjectId::isErased() const {
  return stub_ != nullptr && stub_->db->IsErased(stub_);
}

AcDbHandle AcDbObjectId::handle() const {
  return stub_ ? stub_->handle : AcDbHandle();
}

AcDbDatabase* AcDbObjectId::database() const {
  return stub_ ? stub_->db->owner() : nullptr;
}

int AcString::compareNoCase(const ACHAR* other) const {
  // Folded a character at a time: tags are compared this way for every attribute of an import.
  const std::wstring_view a = text_;
  const std::wstring_view b = other ? other : L"";
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const wchar_t fa = FoldCaseChar(a[i]);
    const wchar_t fb = FoldCaseChar(b[i]);
    if (fa != fb) return fa < fb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void acutDelBuffer(ACHAR*& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

ACHAR* acutNewString(const ACHAR* text) {
  if (text == nullptr) text = L"";
  std::size_t n = std::wcslen(text);
  auto* out = new ACHAR[n + 1];
  std::wmemcpy(out, text, n + 1);
  return out;
}
