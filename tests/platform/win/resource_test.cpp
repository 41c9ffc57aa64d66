#include "platform/win/resource.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/win/module.h"

namespace {

TEST(LoadStringW, CopiesCutsAndLendsStringsOfALibrary) {
  HMODULE module = LoadLibraryW(L"sheetwise_test_module.dll");
  ASSERT_NE(module, nullptr) << LoadLibraryErrorText();
  wchar_t buffer[64];
  EXPECT_EQ(LoadStringW(module, 4, buffer, 64), 13);
  EXPECT_EQ(std::wstring(buffer), L"Hello, r\u00e9sum\u00e9");
  wchar_t small[6];
  EXPECT_EQ(LoadStringW(module, 4, small, 6), 5);
  EXPECT_EQ(std::wstring(small), L"Hello");
  const wchar_t* lent = nullptr;
  EXPECT_EQ(LoadStringW(module, 4, reinterpret_cast<LPWSTR>(&lent), 0), 13);
  ASSERT_NE(lent, nullptr);
  EXPECT_EQ(std::wstring(lent, 13), L"Hello, r\u00e9sum\u00e9");
  // A missing id and an empty string both give an empty buffer.
  buffer[0] = L'x';
  EXPECT_EQ(LoadStringW(module, 99, buffer, 64), 0);
  EXPECT_EQ(buffer[0], L'\0');
  EXPECT_EQ(LoadStringW(module, 5, buffer, 64), 0);
  // The executable lists no resources.
  EXPECT_EQ(LoadStringW(nullptr, 4, buffer, 64), 0);
  FreeLibrary(module);
}

TEST(FindResourceW, TellsAMissingTypeFromAMissingId) {
  HMODULE module = LoadLibraryW(L"sheetwise_test_module.dll");
  ASSERT_NE(module, nullptr);
  HRSRC dialog = FindResourceW(module, MAKEINTRESOURCEW(100), RT_DIALOG);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SizeofResource(module, dialog), 18u);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, dialog)));
  EXPECT_EQ(std::string(bytes, 18), "DIALOG 100 \"Test\"\n");

  SetLastError(0);
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(101), RT_DIALOG), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MENU), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  int not_a_module = 0;
  EXPECT_EQ(
      FindResourceW(reinterpret_cast<HMODULE>(&not_a_module), MAKEINTRESOURCEW(100), RT_DIALOG),
      nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  FreeLibrary(module);
}

}  // namespace
