#include "platform/win/locale.h"

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Locale, MapsTheWindowsNamesTheProgramUses) {
  EXPECT_STREQ(MapWindowsLocaleName(LC_NUMERIC, "ENU"), "C");
  EXPECT_STREQ(MapWindowsLocaleName(LC_NUMERIC, "English_United States.1252"), "C");
  EXPECT_STREQ(MapWindowsLocaleName(LC_ALL, "enu"), "C.UTF-8");
  EXPECT_STREQ(MapWindowsLocaleName(LC_ALL, "de_DE.UTF-8"), "de_DE.UTF-8");
  EXPECT_EQ(MapWindowsLocaleName(LC_ALL, nullptr), nullptr);
  ::setenv("LC_ALL", "C", 1);  // a user locale that is not UTF-8
  EXPECT_STREQ(MapWindowsLocaleName(LC_ALL, ".ACP"), "C.UTF-8");
  ::setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_STREQ(MapWindowsLocaleName(LC_ALL, ".ACP"), "");
  ::unsetenv("LC_ALL");
}

TEST(Locale, ProgramLocaleReadsUtf8AndWritesTheDecimalPoint) {
  ::setenv("LC_ALL", "C", 1);
  EXPECT_TRUE(SetProgramLocale());
  wchar_t wide[8] = {};
  EXPECT_EQ(std::mbstowcs(wide, "\xC3\xA9t\xC3\xA9", 8), 3u);
  EXPECT_EQ(std::wstring(wide), L"\xE9t\xE9");
  char number[32];
  std::snprintf(number, sizeof number, "%.2f", 1.5);
  EXPECT_STREQ(number, "1.50");
  EXPECT_EQ(std::strtod("2.25", nullptr), 2.25);
  std::setlocale(LC_ALL, "C");
  ::unsetenv("LC_ALL");
}

TEST(Locale, FoldsCaseOfEveryLetterWhateverTheGlobalLocale) {
  std::setlocale(LC_ALL, "C");  // towlower alone would fold ASCII only here
  const struct {
    std::wstring a, b;
    bool equal;
  } rows[] = {{L"Software", L"SOFTWARE", true},         {L"\x00C4rger", L"\x00E4RGER", true},
              {L"\x03A3\x0399", L"\x03C3\x03B9", true}, {L"\x0416", L"\x0436", true},
              {L"Export", L"Exports", false},           {L"a", L"b", false}};
  for (const auto& row : rows) {
    EXPECT_EQ(EqualsNoCase(row.a, row.b), row.equal);
    EXPECT_EQ(FoldCase(row.a) == FoldCase(row.b), row.equal);
  }
}

}  // namespace
