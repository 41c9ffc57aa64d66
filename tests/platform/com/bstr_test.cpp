#include "platform/com/bstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

namespace {

TEST(Bstr, HoldsLengthPrefixAndTerminator) {
  BSTR s = SysAllocString(L"Zelle Ä");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 7u);
  EXPECT_EQ(SysStringByteLen(s), 7u * sizeof(OLECHAR));
  EXPECT_EQ(s[7], L'\0');
  // The byte count sits right before the text, as code that reads BSTRs by hand expects.
  DWORD prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - sizeof(DWORD), sizeof prefix);
  EXPECT_EQ(prefix, 7u * sizeof(OLECHAR));
  SysFreeString(s);
}

TEST(Bstr, NullAndEmpty) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR empty = SysAllocString(L"");
  ASSERT_NE(empty, nullptr) << "an empty text is a real, empty BSTR";
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
}

TEST(Bstr, EmbeddedZerosAndUninitialisedLength) {
  BSTR s = SysAllocStringLen(L"a\0b", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(std::wstring(s, 3), std::wstring(L"a\0b", 3));
  SysFreeString(s);
  BSTR room = SysAllocStringLen(nullptr, 5);
  ASSERT_NE(room, nullptr);
  EXPECT_EQ(SysStringLen(room), 5u);
  EXPECT_EQ(room[5], L'\0');
  SysFreeString(room);
}

TEST(Bstr, OutOfMemoryGivesNull) {
  EXPECT_EQ(SysAllocStringLen(nullptr, std::numeric_limits<UINT>::max()), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, std::numeric_limits<UINT>::max() / sizeof(OLECHAR)),
            nullptr);
  BSTR keep = SysAllocString(L"kept");
  // A failed reallocation keeps the old string.
  BSTR before = keep;
  EXPECT_EQ(SysReAllocStringLen(&keep, nullptr, std::numeric_limits<UINT>::max()), FALSE);
  EXPECT_EQ(keep, before);
  EXPECT_EQ(std::wstring(keep), L"kept");
  SysFreeString(keep);
}

TEST(Bstr, ReAllocFromItsOwnText) {
  BSTR s = SysAllocString(L"workbook");
  ASSERT_EQ(SysReAllocString(&s, s + 4), TRUE);
  EXPECT_EQ(std::wstring(s), L"book");
  EXPECT_EQ(SysStringLen(s), 4u);
  ASSERT_EQ(SysReAllocStringLen(&s, s, 2), TRUE);
  EXPECT_EQ(std::wstring(s), L"bo");
  EXPECT_EQ(SysReAllocString(nullptr, L"x"), FALSE);
  ASSERT_EQ(SysReAllocString(&s, nullptr), TRUE);
  EXPECT_EQ(s, nullptr);
}

TEST(Bstr, ByteLenCopiesWholeCharacters) {
  const wchar_t text[] = L"abc";
  BSTR s = SysAllocStringByteLen(reinterpret_cast<const char*>(text), 2 * sizeof(OLECHAR) + 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 2u);
  EXPECT_EQ(std::wstring(s), L"ab");
  SysFreeString(s);
}

}  // namespace
