#include "platform/com/bstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

namespace {

TEST(Bstr, HoldsLengthPrefixTerminatorAndEmbeddedZeros) {
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

  s = SysAllocStringLen(L"a\0b", 3);
  EXPECT_EQ(std::wstring(s, SysStringLen(s)), std::wstring(L"a\0b", 3));
  SysFreeString(s);
  s = SysAllocStringLen(nullptr, 5);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(s[5], L'\0');
  SysFreeString(s);
  // A byte length copies whole characters only.
  s = SysAllocStringByteLen(reinterpret_cast<const char*>(L"abc"), 2 * sizeof(OLECHAR) + 1);
  EXPECT_EQ(std::wstring(s), L"ab");
  SysFreeString(s);
}

TEST(Bstr, NullAndEmpty) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR empty = SysAllocString(L"");
  ASSERT_NE(empty, nullptr) << "an empty text is a real, empty BSTR";
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
}

TEST(Bstr, ReAllocFromItsOwnTextAndOutOfMemory) {
  BSTR s = SysAllocString(L"workbook");
  ASSERT_EQ(SysReAllocString(&s, s + 4), TRUE);
  EXPECT_EQ(std::wstring(s), L"book");
  ASSERT_EQ(SysReAllocStringLen(&s, s, 2), TRUE);
  EXPECT_EQ(std::wstring(s), L"bo");
  // Out of memory: null, and a failed reallocation keeps the old string.
  constexpr UINT kHuge = std::numeric_limits<UINT>::max();
  EXPECT_EQ(SysAllocStringLen(nullptr, kHuge), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, kHuge / sizeof(OLECHAR)), nullptr);
  BSTR before = s;
  EXPECT_EQ(SysReAllocStringLen(&s, nullptr, kHuge), FALSE);
  EXPECT_EQ(s, before);
  EXPECT_EQ(std::wstring(s), L"bo");
  EXPECT_EQ(SysReAllocString(nullptr, L"x"), FALSE);
  ASSERT_EQ(SysReAllocString(&s, nullptr), TRUE);
  EXPECT_EQ(s, nullptr);
}

}  // namespace
