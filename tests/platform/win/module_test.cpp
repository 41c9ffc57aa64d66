#include "platform/win/module.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/win/codepage.h"
#include "tests/platform/win/win_test_folder.h"

namespace {

using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;

TEST(LoadLibraryW, FindsABareNameBesideTheExecutable) {
  HMODULE module = LoadLibraryW(L"sheetwise_test_module.dll");
  ASSERT_NE(module, nullptr) << LoadLibraryErrorText();
  using IntFn = INT_PTR (*)();
  auto answer = reinterpret_cast<IntFn>(GetProcAddress(module, "sheetwise_test_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  auto seven = reinterpret_cast<IntFn>(GetProcAddress(module, MAKEINTRESOURCEA(3)));
  ASSERT_NE(seven, nullptr);
  EXPECT_EQ(seven(), 7);
  EXPECT_EQ(GetProcAddress(module, "TestSeven"), nullptr) << "not exported by name";
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(4)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  wchar_t path[1024];
  const DWORD n = GetModuleFileNameW(module, path, 1024);
  EXPECT_EQ(std::wstring(path, n), Utf8ToWide(std::filesystem::canonical(SW_TEST_MODULE).string()));
  wchar_t small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(module, small, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::wstring(small), std::wstring(path, 4));
  EXPECT_EQ(GetModuleHandleW(L"sheetwise_test_module.dll"), module);

  EXPECT_TRUE(FreeLibrary(module));
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(LoadLibraryW, ReportsMissingAndBrokenLibraries) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(L"sheetwise_no_such_library.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  TempConfigHome home;
  const auto fake = home.root() / "fake.dll";
  WriteFile(fake, "MZ this is not an ELF file, it only has a library's name\n");
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(fake.wstring().c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_FALSE(LoadLibraryErrorText().empty());
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&home), "x"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(GetModuleFileNameW, NamesTheExecutableForNull) {
  wchar_t path[1024];
  const DWORD n = GetModuleFileNameW(nullptr, path, 1024);
  EXPECT_EQ(std::wstring(path, n),
            Utf8ToWide(std::filesystem::read_symlink("/proc/self/exe").string()));
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  EXPECT_EQ(GetModuleFileNameW(GetModuleHandleW(nullptr), path, 1024), n);
}

TEST(HtmlHelp, OpensTheHelpFolderInTheBrowser) {
  HMODULE hhctrl = LoadLibraryW(Utf8ToWide(SW_HHCTRL).c_str());
  ASSERT_NE(hhctrl, nullptr) << LoadLibraryErrorText();
  using HtmlHelpFn = HWND (*)(HWND, LPCSTR, UINT, DWORD_PTR);
  auto by_name = reinterpret_cast<HtmlHelpFn>(GetProcAddress(hhctrl, "HtmlHelpA"));
  auto by_ordinal = reinterpret_cast<HtmlHelpFn>(GetProcAddress(hhctrl, MAKEINTRESOURCEA(14)));
  ASSERT_NE(by_name, nullptr);
  EXPECT_EQ(by_name, by_ordinal);

  TempConfigHome home;
  // The opener records its argument in a file; the test then waits for nothing: the call's
  // success is what is checked, and where the opener was pointed is checked by ShellExecuteW's
  // own tests. Here "true" stands in for the browser.
  const char* old = std::getenv("SHEETWISE_OPENER");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("SHEETWISE_OPENER", "true", 1);
  WriteFile(home.root() / "Sheetwise" / "index.html", "<html><body>Help</body></html>\n");
  const std::string chm = (home.root() / "Sheetwise.chm").string();
  EXPECT_NE(by_name(nullptr, chm.c_str(), 0, 0), nullptr);
  WriteFile(home.root() / "Page.chm", "<!DOCTYPE html>\n<html></html>\n");
  EXPECT_NE(by_name(nullptr, (home.root() / "Page.chm").c_str(), 0, 0), nullptr);
  WriteFile(home.root() / "Real.chm", "ITSF\x03\x00\x00\x00 compiled help");
  EXPECT_EQ(by_name(nullptr, (home.root() / "Real.chm").c_str(), 0, 0), nullptr);
  EXPECT_EQ(by_name(nullptr, (home.root() / "Missing.chm").c_str(), 0, 0), nullptr);
  EXPECT_EQ(by_name(nullptr, (chm + "::/other.htm").c_str(), 0, 0), nullptr);
  EXPECT_EQ(by_name(nullptr, chm.c_str(), 0x0005, 0), nullptr);  // an unsupported command
  ::setenv("SHEETWISE_OPENER", saved.c_str(), 1);
  EXPECT_TRUE(FreeLibrary(hhctrl));
}

}  // namespace
