#include "platform/win/profile.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/platform/win/win_test_folder.h"

namespace {

using sheetwise::test::ReadFile;
using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;

std::wstring Get(const wchar_t* section, const wchar_t* key, const std::wstring& file,
                 const wchar_t* fallback = L"default") {
  wchar_t buffer[256];
  const DWORD n = GetPrivateProfileStringW(section, key, fallback, buffer, 256, file.c_str());
  return std::wstring(buffer, n);
}

// An INI file as other Windows programs leave it: CRLF, comments, odd spacing, quotes,
// duplicates, a blank line at the end of a section.
const std::string kForeign =
    "; written by another program\r\n"
    "[Export]\r\n"
    "  AddHeader = 1  \r\n"
    "Title=\"Block list\"\r\n"
    "Quote='single'\r\n"
    "Mixed=\"open'\r\n"
    "addheader=2\r\n"
    "; trailing comment of Export\r\n"
    "\r\n"
    "[ Import ]\r\n"
    "Mode=overwrite\r\n"
    "[export]\r\n"
    "Late=3\r\n";

TEST(ProfileFiles, ReadsFilesWrittenByOtherPrograms) {
  TempConfigHome home;
  const auto path = home.root() / "foreign.ini";
  WriteFile(path, kForeign);
  const std::wstring file = path.wstring();
  const struct {
    const wchar_t* section;
    const wchar_t* key;
    std::wstring expected;
  } rows[] = {
      {L"Export", L"AddHeader", L"1"},  // blanks trimmed, the first duplicate wins
      {L"EXPORT", L"addheader", L"1"},
      {L"Export", L"Title", L"Block list"},
      {L"Export", L"Quote", L"single"},
      {L"Export", L"Mixed", L"\"open'"},  // quotes that do not match stay
      {L"Import", L"Mode", L"overwrite"},
      {L"Export", L"Late", L"default"},  // in the second [export]: the first section wins
      {L"Export", L"; trailing comment of Export", L"default"},
      {L"Missing", L"Key", L"default"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Get(row.section, row.key, file), row.expected) << row.section << "/" << row.key;
  }
  EXPECT_EQ(GetPrivateProfileIntW(L"Export", L"AddHeader", 9, file.c_str()), 1u);
  EXPECT_EQ(Get(L"Export", L"Missing", file, L"fallback   "), L"fallback");
  EXPECT_EQ(Get(L"Export", L"x", (home.root() / "none.ini").wstring()), L"default");
}

TEST(ProfileFiles, AnUpdateChangesOnlyItsLine) {
  TempConfigHome home;
  const auto path = home.root() / "foreign.ini";
  WriteFile(path, kForeign);
  const std::wstring file = path.wstring();

  ASSERT_TRUE(WritePrivateProfileStringW(L"export", L"ADDHEADER", L"0", file.c_str()));
  std::string expected = kForeign;
  expected.replace(expected.find("  AddHeader = 1  "), 17, "  AddHeader = 0");
  EXPECT_EQ(ReadFile(path), expected);

  ASSERT_TRUE(WritePrivateProfileStringW(L"Export", L"NewKey", L"v", file.c_str()));
  expected.insert(expected.find("; trailing comment"), "NewKey=v\r\n");
  EXPECT_EQ(ReadFile(path), expected);

  ASSERT_TRUE(WritePrivateProfileStringW(L"Export", L"Title", nullptr, file.c_str()));
  expected.erase(expected.find("Title=\"Block list\"\r\n"), 20);
  EXPECT_EQ(ReadFile(path), expected);

  ASSERT_TRUE(WritePrivateProfileStringW(L"Import", nullptr, nullptr, file.c_str()));
  expected.erase(expected.find("[ Import ]\r\n"), 28);
  EXPECT_EQ(ReadFile(path), expected);

  ASSERT_TRUE(WritePrivateProfileStringW(L"New", L"K", L"1", file.c_str()));
  expected += "\r\n[New]\r\nK=1\r\n";
  EXPECT_EQ(ReadFile(path), expected);
}

TEST(ProfileFiles, CreatesAFileOnFirstWriteAndKeepsBareNamesInTheSettingsFolder) {
  TempConfigHome home;
  ASSERT_TRUE(WritePrivateProfileStringW(L"S", L"K", L"V", L"sheetwise.ini"));
  EXPECT_EQ(ReadFile(home.config() / "sheetwise" / "sheetwise.ini"), "[S]\nK=V\n");
  EXPECT_TRUE(WritePrivateProfileStringW(L"S", L"Gone", nullptr, L"sheetwise.ini"));
  const std::wstring missing_folder = (home.root() / "no" / "such.ini").wstring();
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringW(L"S", L"K", L"V", missing_folder.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(ProfileFiles, KeepsTheEncodingOfTheFile) {
  TempConfigHome home;
  // UTF-8 with a BOM, LF line ends, no line end at the very end.
  const auto bom_path = home.root() / "bom.ini";
  WriteFile(bom_path, "\xEF\xBB\xBF[S]\n\xC3\x84=\xC3\xA4\nK=1");
  EXPECT_EQ(Get(L"s", L"\x00E4", bom_path.wstring()), L"\x00E4");
  ASSERT_TRUE(WritePrivateProfileStringW(L"S", L"K", L"2", bom_path.wstring().c_str()));
  EXPECT_EQ(ReadFile(bom_path), "\xEF\xBB\xBF[S]\n\xC3\x84=\xC3\xA4\nK=2");
  ASSERT_TRUE(WritePrivateProfileStringW(L"S", L"L", L"3", bom_path.wstring().c_str()));
  EXPECT_EQ(ReadFile(bom_path), "\xEF\xBB\xBF[S]\n\xC3\x84=\xC3\xA4\nK=2\nL=3\n");

  // UTF-16LE with a BOM, as Windows programs write Unicode INI files.
  auto utf16 = [](const std::u16string& s) {
    std::string bytes;
    for (char16_t c : s) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
  };
  const auto wide_path = home.root() / "wide.ini";
  const std::string original =
      "\xFF\xFE" + utf16(u"[Sect]\r\nName=\u00C4rger \U0001F600\r\n; note\r\nOther=x\r\n");
  WriteFile(wide_path, original);
  EXPECT_EQ(Get(L"Sect", L"Name", wide_path.wstring()), L"\x00C4rger \x1F600");
  ASSERT_TRUE(
      WritePrivateProfileStringW(L"Sect", L"Other", L"\x4E2D", wide_path.wstring().c_str()));
  EXPECT_EQ(
      ReadFile(wide_path),
      "\xFF\xFE" + utf16(u"[Sect]\r\nName=\u00C4rger \U0001F600\r\n; note\r\nOther=\u4E2D\r\n"));
}

TEST(ProfileFiles, ListsAndTruncatesAsWindows) {
  TempConfigHome home;
  const auto path = home.root() / "list.ini";
  WriteFile(path, "[One]\nA=abcdef\nB=2\n[Two]\n[one]\nC=3\n");
  const std::wstring file = path.wstring();
  wchar_t buffer[32];
  EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, L"", buffer, 32, file.c_str()), 8u);
  EXPECT_EQ(std::wstring(buffer, 9), std::wstring(L"One\0Two\0\0", 9));
  EXPECT_EQ(GetPrivateProfileStringW(L"one", nullptr, L"", buffer, 32, file.c_str()), 4u);
  EXPECT_EQ(std::wstring(buffer, 5), std::wstring(L"A\0B\0\0", 5));
  // A list that does not fit: cut, double zero, size - 2.
  EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, L"", buffer, 6, file.c_str()), 4u);
  EXPECT_EQ(std::wstring(buffer, 6), std::wstring(L"One\0\0\0", 6));
  // A value that does not fit: cut, size - 1.
  EXPECT_EQ(GetPrivateProfileStringW(L"One", L"A", L"", buffer, 4, file.c_str()), 3u);
  EXPECT_EQ(std::wstring(buffer), L"abc");
  EXPECT_EQ(GetPrivateProfileStringW(L"One", L"A", L"", buffer, 0, file.c_str()), 0u);
}

TEST(ProfileFiles, ReadsIntegersAsWindows) {
  TempConfigHome home;
  const auto path = home.root() / "int.ini";
  WriteFile(path, "[N]\na=42\nb= -5\nc=12abc\nd=abc\ne=\nf=+7\n");
  const std::wstring file = path.wstring();
  const struct {
    const wchar_t* key;
    UINT expected;
  } rows[] = {
      {L"a", 42}, {L"b", static_cast<UINT>(-5)}, {L"c", 12}, {L"d", 0}, {L"e", 99}, {L"f", 7},
      {L"zz", 99}};
  for (const auto& row : rows) {
    EXPECT_EQ(GetPrivateProfileIntW(L"N", row.key, 99, file.c_str()), row.expected) << row.key;
  }
}

}  // namespace
