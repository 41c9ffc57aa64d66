// The C runtime locale names the program passes to setlocale, mapped to glibc's, and the
// case folding that Windows applies to registry paths, INI sections and file names.
//
// Stands in for the MSVC runtime's setlocale names (".ACP", "ENU", "English_United States")
// and for CompareStringOrdinal(..., bIgnoreCase = TRUE). Left out: the locale-dependent
// formatting functions (GetNumberFormat, GetDateFormat); numbers are always written with a
// decimal point.
//
// Usage, once at start-up before any thread is started:
//   SetProgramLocale();   // narrow text is UTF-8, numbers use the decimal point
#pragma once

#include <string>
#include <string_view>

#include "platform/win/wintypes.h"

/// Maps a locale name written for the MSVC runtime to the glibc name that gives the same
/// behaviour here, for `category` (LC_ALL, LC_NUMERIC ...):
/// - ".ACP", ".OCP", ".UTF8", ".UTF-8" and "" (the user's locale): "" when the user's locale
///   (LC_ALL, LC_CTYPE, LANG) is a UTF-8 one, else "C.UTF-8", so that narrow text is UTF-8;
/// - "ENU", "English", "English_United States", "american", "en-US" and the like: "C" for
///   LC_NUMERIC (decimal point, no grouping), else "C.UTF-8";
/// - "C" and "POSIX" unchanged; any other name (a glibc name such as "de_DE.UTF-8") unchanged.
/// A null name stays null (setlocale's query). The result is a string literal or `name`.
/// Any thread may call.
LPCSTR MapWindowsLocaleName(int category, LPCSTR name);

/// setlocale(category, MapWindowsLocaleName(category, name)), then, when the category covers
/// LC_CTYPE and the resulting character set is not UTF-8, LC_CTYPE is set to "C.UTF-8".
/// Returns what setlocale returned (null when glibc refused the mapped name; the locale is then
/// unchanged). Like setlocale, call it before other threads start.
char* SetWindowsLocale(int category, LPCSTR name);

/// What the program does at load: LC_ALL ".ACP", then LC_NUMERIC "ENU". Afterwards mbstowcs
/// and wcstombs convert UTF-8, and printf/strtod use the decimal point. Returns false (and
/// leaves a usable "C.UTF-8" or "C" locale) when neither the user's locale nor C.UTF-8 exists.
bool SetProgramLocale();

/// Case folding independent of the global locale: simple lowercase mapping of every Unicode
/// letter (Ä -> ä, Σ -> σ), as the registry and INI files compare names. Any thread may call.
wchar_t FoldCaseChar(wchar_t c);
std::wstring FoldCase(std::wstring_view text);
/// True when the two strings are equal after FoldCase.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
