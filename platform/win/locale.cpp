#include "platform/win/locale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include <langinfo.h>
#include <locale.h>
#include <strings.h>

namespace {

bool IsUtf8Codeset(const char* codeset) {
  return codeset != nullptr &&
         (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0);
}

// The user's locale from the environment, in setlocale's order of precedence.
const char* UserLocaleName(int category) {
  for (const char* var : {"LC_ALL", category == LC_NUMERIC ? "LC_NUMERIC" : "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

// Whether the user's locale exists and uses UTF-8: tried on a separate locale object, so the
// global locale is untouched.
bool UserLocaleIsUtf8(int category) {
  locale_t probe = newlocale(LC_CTYPE_MASK, UserLocaleName(category), static_cast<locale_t>(0));
  if (probe == static_cast<locale_t>(0)) return false;
  const bool utf8 = IsUtf8Codeset(nl_langinfo_l(CODESET, probe));
  freelocale(probe);
  return utf8;
}

bool IsEnglishName(const char* name) {
  static constexpr const char* kNames[] = {"ENU",
                                           "ENG",
                                           "English",
                                           "English_United States",
                                           "English_United States.1252",
                                           "English_United States.utf8",
                                           "english-us",
                                           "american",
                                           "american english",
                                           "en-US",
                                           "en_US",
                                           "usa"};
  for (const char* known : kNames) {
    if (strcasecmp(name, known) == 0) return true;
  }
  return false;
}

// One C.UTF-8 locale object for case folding, created on first use; towlower on the global
// "C" locale would fold ASCII only.
locale_t FoldLocale() {
  static const locale_t kLocale = [] {
    locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) loc = newlocale(LC_CTYPE_MASK, "C.utf8", loc);
    return loc;
  }();
  return kLocale;
}

}  // namespace

LPCSTR MapWindowsLocaleName(int category, LPCSTR name) {
  if (name == nullptr) return nullptr;
  if (*name == '\0' || strcasecmp(name, ".ACP") == 0 || strcasecmp(name, ".OCP") == 0 ||
      strcasecmp(name, ".UTF8") == 0 || strcasecmp(name, ".UTF-8") == 0) {
    if (category == LC_NUMERIC) return "";
    return UserLocaleIsUtf8(category) ? "" : "C.UTF-8";
  }
  if (IsEnglishName(name)) return category == LC_NUMERIC ? "C" : "C.UTF-8";
  return name;
}

char* SetWindowsLocale(int category, LPCSTR name) {
  char* result = std::setlocale(category, MapWindowsLocaleName(category, name));
  if (result != nullptr && (category == LC_ALL || category == LC_CTYPE) &&
      !IsUtf8Codeset(nl_langinfo(CODESET))) {
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) return nullptr;
    result = std::setlocale(category, nullptr);
  }
  return result;
}

bool SetProgramLocale() {
  bool ok = SetWindowsLocale(LC_ALL, ".ACP") != nullptr;
  if (!ok && std::setlocale(LC_ALL, "C.UTF-8") == nullptr) std::setlocale(LC_ALL, "C");
  ok = SetWindowsLocale(LC_NUMERIC, "ENU") != nullptr && ok;
  return ok && IsUtf8Codeset(nl_langinfo(CODESET));
}

wchar_t FoldCaseChar(wchar_t c) {
  if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
  const locale_t loc = FoldLocale();
  if (loc == static_cast<locale_t>(0)) return static_cast<wchar_t>(std::towlower(c));
  return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc));
}

std::wstring FoldCase(std::wstring_view text) {
  std::wstring folded(text);
  for (wchar_t& c : folded) c = FoldCaseChar(c);
  return folded;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldCaseChar(a[i]) != FoldCaseChar(b[i])) return false;
  }
  return true;
}
