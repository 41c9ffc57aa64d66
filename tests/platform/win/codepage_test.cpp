#include "platform/win/codepage.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

// Expected values were observed with MultiByteToWideChar / WideCharToMultiByte under Wine 8
// (mingw-w64 build), except where a row says otherwise.
namespace {

struct DecodeRow {
  UINT code_page;
  DWORD flags;
  std::string bytes;
  std::wstring expected;  // ignored when error != 0
  DWORD error;
};

TEST(MultiByteToWideChar, DecodesCodePagesAsWindows) {
  const DecodeRow rows[] = {
      {1252, 0, "\x80", L"\x20AC", 0},
      {1252, MB_ERR_INVALID_CHARS, "\x81\x8D", L"\x0081\x008D", 0},  // defined as C1 controls
      {1253, 0, "\xAA", L"\xF8F9", 0},                               // undefined: private use
      {1253, MB_ERR_INVALID_CHARS, "\xAA", L"", ERROR_NO_UNICODE_TRANSLATION},
      {1251, 0, "\xC0\xFF", L"\x0410\x044F", 0},
      {1250, 0, "\x8A\xB9", L"\x0160\x0105", 0},
      {1255, 0, "\xE0", L"\x05D0", 0},  // glibc's CP1255 would hold it back for combining
      {1258, 0, "\xC3\xD2", L"\x0102\x0309", 0},
      {874, 0, "\xA1", L"\x0E01", 0},
      {932, 0, "\x82\xA0\x83\x41", L"\x3042\x30A2", 0},
      {932, 0, "\xB1\x5C\x7E", L"\xFF71\x005C\x007E", 0},
      {932, 0, "\x82", L"\x30FB", 0},      // lone lead byte: the code page's default character
      {932, 0, "\x82\x20", L"\x30FB", 0},  // the lead byte takes its invalid trail byte along
      {932, MB_ERR_INVALID_CHARS, "\x82", L"", ERROR_NO_UNICODE_TRANSLATION},
      {932, 0, "\xA0", L"\xF8F0", 0},
      {949, 0, "\xB0\xA1\x81\x41", L"\xAC00\xAC02", 0},
      {949, 0, "\x80", L"\x0080", 0},
      {936, 0, "\xB0\xA1\x80", L"\x554A\x20AC", 0},
      {950, 0, "\xA4\x40", L"\x4E00", 0},
      {CP_UTF8, 0, "a\x80z", L"a\xFFFDz", 0},
      {CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80z", L"", ERROR_NO_UNICODE_TRANSLATION},
      {CP_UTF8, 0, "\xC0\x80", L"\xFFFD\xFFFD", 0},
      {CP_UTF8, 0, "\xE2\x82", L"\xFFFD", 0},
      {CP_UTF8, 0, "\xE2\x82z", L"\xFFFDz", 0},
      // Unicode's maximal-subpart rule; Wine 8 answers two U+FFFD here.
      {CP_UTF8, 0, "\xED\xA0\x80z", L"\xFFFD\xFFFD\xFFFDz", 0},
      // One code point here where Windows gives the surrogate pair D83D DE00.
      {CP_UTF8, 0, "\xF0\x9F\x98\x80", L"\x1F600", 0},
      {CP_ACP, 0, "\xC3\xA9", L"\xE9", 0},
      {CP_OEMCP, 0, "\xC3\xA9", L"\xE9", 0},
      {1252, 0x10, "a", L"", ERROR_INVALID_FLAGS},
      {1252, MB_PRECOMPOSED | MB_COMPOSITE, "a", L"", ERROR_INVALID_FLAGS},
      {CP_UTF8, MB_PRECOMPOSED, "a", L"", ERROR_INVALID_FLAGS},
      {12345, 0, "a", L"", ERROR_INVALID_PARAMETER},
  };
  for (const DecodeRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "code page " << row.code_page << " flags " << row.flags);
    wchar_t out[16] = {};
    SetLastError(0);
    const int n = MultiByteToWideChar(row.code_page, row.flags, row.bytes.data(),
                                      static_cast<int>(row.bytes.size()), out, 16);
    if (row.error != 0) {
      EXPECT_EQ(n, 0);
      EXPECT_EQ(GetLastError(), row.error);
    } else {
      EXPECT_EQ(std::wstring(out, n > 0 ? n : 0), row.expected);
    }
  }
}

TEST(MultiByteToWideChar, CountsTheZeroAndQueriesTheSize) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab\xC3\xA9", -1, nullptr, 0), 4);
  wchar_t out[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab\xC3\xA9", -1, out, 4), 4);
  EXPECT_EQ(std::wstring(out), L"ab\xE9");
  // ASCII alone, which is converted without decoding.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 4), 4);
  EXPECT_EQ(std::wstring(out), L"abc");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 2, out, 4), 2);
  EXPECT_EQ(std::wstring(out, 2), L"ab");
  const struct {
    const char* bytes;
    int length, room;
    DWORD error;
  } failures[] = {{"ab\xC3\xA9", -1, 3, ERROR_INSUFFICIENT_BUFFER},
                  {"abc", -1, 3, ERROR_INSUFFICIENT_BUFFER},
                  {"ab", 0, 4, ERROR_INVALID_PARAMETER},
                  {nullptr, 1, 4, ERROR_INVALID_PARAMETER}};
  for (const auto& row : failures) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, row.bytes, row.length, out, row.room), 0);
    EXPECT_EQ(GetLastError(), row.error);
  }
}

struct EncodeRow {
  UINT code_page;
  DWORD flags;
  std::wstring text;
  const char* default_char;
  std::string expected;
  BOOL used_default;
  DWORD error;
};

TEST(WideCharToMultiByte, EncodesWithBestFitAndDefaultCharacter) {
  const EncodeRow rows[] = {
      {1252, 0, L"\x20AC\xC4", nullptr, "\x80\xC4", FALSE, 0},
      {1252, 0, L"\x0100", nullptr, "A", FALSE, 0},  // best fit: the letter without its accent
      {1252, WC_NO_BEST_FIT_CHARS, L"\x0100", nullptr, "?", TRUE, 0},
      {1252, 0, L"a\x4E00", nullptr, "a?", TRUE, 0},
      {1252, 0, L"a\x4E00", "#", "a#", TRUE, 0},
      {1252, 0, L"\x0081", nullptr, "\x81", FALSE, 0},
      {932, 0, L"\x3042\xE9", nullptr, "\x82\xA0\x65", FALSE, 0},
      {932, WC_NO_BEST_FIT_CHARS, L"\x3042\xE9", nullptr, "\x82\xA0?", TRUE, 0},
      {949, 0, L"\xAC00", nullptr, "\xB0\xA1", FALSE, 0},
      {1252, WC_ERR_INVALID_CHARS, L"a", nullptr, "", FALSE, ERROR_INVALID_FLAGS},
  };
  for (const EncodeRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "code page " << row.code_page);
    char out[16] = {};
    BOOL used = 5;
    SetLastError(0);
    const int n =
        WideCharToMultiByte(row.code_page, row.flags, row.text.data(),
                            static_cast<int>(row.text.size()), out, 16, row.default_char, &used);
    if (row.error != 0) {
      EXPECT_EQ(n, 0);
      EXPECT_EQ(GetLastError(), row.error);
      continue;
    }
    EXPECT_EQ(std::string(out, n > 0 ? n : 0), row.expected);
    EXPECT_EQ(used, row.used_default);
  }
}

TEST(WideCharToMultiByte, Utf8RulesAndErrors) {
  char out[16];
  const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'z'};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 3, out, 16, nullptr, nullptr), 5);
  EXPECT_EQ(std::string(out, 5), "a\xEF\xBF\xBDz");
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 3, out, 16, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  BOOL used = FALSE;
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", 1, out, 16, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, L"a", 1, out, 16, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\xC4\xE4", -1, nullptr, 0, nullptr, nullptr), 5);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, L"abcdef", 6, out, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(CodePages, SingleBytePagesRoundTripEveryByte) {
  for (UINT cp :
       {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 437u, 850u}) {
    SCOPED_TRACE(cp);
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::wstring wide = CodePageToWide(cp, all);
    ASSERT_EQ(wide.size(), all.size());
    EXPECT_EQ(WideToCodePage(cp, wide), all);
  }
}

TEST(CodePages, DoubleByteSamplesRoundTrip) {
  const struct {
    UINT cp;
    std::wstring text;
  } rows[] = {{932, L"\x65E5\x672C\x8A9E\x30C6\x30AD\x30B9\x30C8 ABC \xFF71"},
              {949, L"\xD55C\xAD6D\xC5B4 abc"},
              {936, L"\x4E2D\x6587 abc"},
              {950, L"\x4E2D\x6587 abc"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cp);
    const std::string bytes = WideToCodePage(row.cp, row.text);
    EXPECT_GT(bytes.size(), row.text.size());
    EXPECT_EQ(CodePageToWide(row.cp, bytes), row.text);
  }
}

TEST(Utf8Helpers, ReplaceInvalidInputWithReplacementCharacter) {
  EXPECT_EQ(Utf8ToWide("a\xFFz"), L"a\xFFFDz");
  EXPECT_EQ(Utf8ToWide("\xE2\x82\xAC"), L"\x20AC");
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(L"\x1F600"), "\xF0\x9F\x98\x80");
  EXPECT_TRUE(IsValidUtf8("\xC3\xA4"));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_EQ(GetACP(), CP_UTF8);
}

}  // namespace
