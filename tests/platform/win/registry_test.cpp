#include "platform/win/registry.h"

#include <cstring>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/win/registry_store_internal.h"
#include "tests/platform/win/win_test_folder.h"

namespace {

using sheetwise::test::ReadFile;
using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;
namespace ri = sheetwise::win::registry_internal;

constexpr const wchar_t* kExport = L"SOFTWARE\\Norvane\\Sheetwise\\Settings\\Export";

HKEY Create(const wchar_t* path, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  EXPECT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, access, nullptr, &key, disposition),
      ERROR_SUCCESS);
  return key;
}

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

// The DWORD `name` of `key`, or ~0u when it cannot be read; `rc` gets the error code.
DWORD QueryDword(HKEY key, const wchar_t* name, LONG* rc = nullptr) {
  DWORD value = 0, size = sizeof value;
  const LONG r =
      RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  if (rc) *rc = r;
  return r == ERROR_SUCCESS ? value : ~0u;
}

TEST(Registry, ReportsTypesAndSizesAsWindows) {
  TempConfigHome home;
  DWORD disposition = 0;
  HKEY key = Create(kExport, KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(SetDword(key, L"AddHeader", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, L"Title", L"abc"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, nullptr, L"AppEventHandler Class"), ERROR_SUCCESS);

  DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(
      RegQueryValueExW(key, L"addheader", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, 1u);

  // Size only: 3 characters and the zero, 4 bytes each.
  size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Title", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 4 * sizeof(WCHAR));
  wchar_t small[2];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, L"Title", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 4 * sizeof(WCHAR));
  wchar_t text[64];
  size = sizeof text;
  EXPECT_EQ(RegQueryValueExW(key, L"", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(text), L"AppEventHandler Class");
  EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, &type, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, L"Title", nullptr, &type, reinterpret_cast<BYTE*>(text), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  const std::string file = ReadFile(home.store());
  EXPECT_NE(file.find("REGEDIT4\n"), std::string::npos);
  EXPECT_NE(file.find("[HKEY_CURRENT_USER\\SOFTWARE\\Norvane\\Sheetwise\\Settings\\Export]\n"
                      "\"AddHeader\"=dword:00000001\n\"Title\"=\"abc\"\n"
                      "@=\"AppEventHandler Class\"\n"),
            std::string::npos)
      << file;
}

TEST(Registry, PathsAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  TempConfigHome home;
  HKEY key = Create(L"Software\\\x00C4rger\\Sub");
  ASSERT_EQ(SetDword(key, L"Wert", 7), ERROR_SUCCESS);
  RegCloseKey(key);
  DWORD disposition = 0;
  HKEY again = Create(L"SOFTWARE\\\x00E4RGER\\sub", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(QueryDword(again, L"WERT"), 7u);
  RegCloseKey(again);
  EXPECT_NE(ReadFile(home.store()).find("[HKEY_CURRENT_USER\\Software\\\xC3\x84rger\\Sub]"),
            std::string::npos);
}

TEST(Registry, AccessRightsAndHandlesAreChecked) {
  TempConfigHome home;
  RegCloseKey(Create(kExport));
  HKEY read_only = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kExport, 0, KEY_READ, &read_only), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(read_only, L"X", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(read_only, L"X"), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(
      RegCreateKeyExW(read_only, L"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
      ERROR_ACCESS_DENIED);
  HKEY write_only = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kExport, 0, KEY_SET_VALUE, &write_only),
            ERROR_SUCCESS);
  EXPECT_EQ(SetDword(write_only, L"X", 1), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(write_only, L"X", nullptr, nullptr, nullptr, &size),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(read_only), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(read_only), ERROR_INVALID_HANDLE);
  RegCloseKey(write_only);
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Nobody", 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"\\Software", 0, KEY_READ, &missing),
            ERROR_BAD_PATHNAME);
}

TEST(Registry, DeletesOnlyKeysWithoutSubkeys) {
  TempConfigHome home;
  HKEY parent = Create(L"Software\\Parent");
  RegCloseKey(Create(L"Software\\Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\PARENT\\child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Parent\\Child"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Parent"), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(parent, L"Late", 1), ERROR_KEY_DELETED);
  RegCloseKey(parent);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Parent", 0, KEY_READ, &gone),
            ERROR_FILE_NOT_FOUND);
}

TEST(Registry, EnumeratesSubkeysAlphabeticallyAndValuesInOrder) {
  TempConfigHome home;
  for (const wchar_t* name :
       {L"Software\\E\\beta", L"Software\\E\\Alpha", L"Software\\E\\gamma\\x"}) {
    RegCloseKey(Create(name));
  }
  HKEY key = Create(L"Software\\E");
  SetDword(key, L"Zeta", 1);
  SetString(key, L"Alpha", L"text");
  std::wstring names;
  wchar_t name[32];
  DWORD index = 0;
  for (;; ++index) {
    DWORD chars = 32;
    const LONG r = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    EXPECT_EQ(chars, std::wcslen(name));
    names += std::wstring(name) + L";";
  }
  EXPECT_EQ(names, L"Alpha;beta;gamma;");
  DWORD tiny = 3;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &tiny, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  DWORD chars = 32, type = 0, size = 0;
  EXPECT_EQ(RegEnumValueW(key, 1, name, &chars, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name), L"Alpha");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 5 * sizeof(WCHAR));
  chars = 32;
  EXPECT_EQ(RegEnumValueW(key, 2, name, &chars, nullptr, &type, nullptr, &size),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST(Registry, SeesChangesMadeToTheFileByOthers) {
  TempConfigHome home;
  HKEY key = Create(kExport);
  ASSERT_EQ(SetDword(key, L"AddHeader", 1), ERROR_SUCCESS);
  std::string file = ReadFile(home.store());
  const size_t at = file.find("dword:00000001");
  ASSERT_NE(at, std::string::npos);
  file.replace(at, 14, "dword:0000002a");
  file += "\n[HKEY_CURRENT_USER\\Software\\Other]\n\"Name\"=\"by hand\"\n";
  WriteFile(home.store(), file);
  EXPECT_EQ(QueryDword(key, L"AddHeader"), 42u);
  // A write re-reads the file first, so the hand-made key survives it.
  ASSERT_EQ(SetDword(key, L"More", 3), ERROR_SUCCESS);
  EXPECT_NE(ReadFile(home.store()).find("\"Name\"=\"by hand\""), std::string::npos);
  RegCloseKey(key);
}

TEST(Registry, DamagedFileIsReportedAndLeftAsItIs) {
  TempConfigHome home;
  const std::string damaged =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"Good\"=dword:00000001\n"
      "\"Bad\"=dword:xyz\n";
  WriteFile(home.store(), damaged);
  testing::internal::CaptureStderr();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\X", 0, KEY_READ, &key), ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Y", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_BADDB);
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find(home.store().string() + ":5: "), std::string::npos) << report;
  EXPECT_EQ(report.find("registry.txt:5"), report.rfind("registry.txt:5")) << "reported once";
  EXPECT_EQ(ReadFile(home.store()), damaged);

  // The overlay still answers; everything else says the store is damaged.
  ASSERT_EQ(SettingsOverlaySetDword(HKEY_CURRENT_USER, L"Software\\X", L"Good", 5), ERROR_SUCCESS);
  testing::internal::CaptureStderr();
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\X", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(key, L"Good"), 5u);
  LONG rc = 0;
  QueryDword(key, L"Other", &rc);
  EXPECT_EQ(rc, ERROR_BADDB);
  EXPECT_EQ(SetDword(key, L"Other", 1), ERROR_BADDB);
  testing::internal::GetCapturedStderr();
  RegCloseKey(key);
  SettingsOverlayClear();
  std::string message;
  EXPECT_EQ(SettingsStoreCheck(&message), ERROR_BADDB);
  EXPECT_NE(message.find(":5: "), std::string::npos);
  EXPECT_EQ(ReadFile(home.store()), damaged);
}

TEST(Registry, OverlayIsLaidOverTheStoreAndNeverWritten) {
  TempConfigHome home;
  HKEY key = Create(kExport);
  ASSERT_EQ(SetDword(key, L"AddHeader", 1), ERROR_SUCCESS);
  ASSERT_EQ(SettingsOverlaySetDword(HKEY_CURRENT_USER, kExport, L"ADDHEADER", 0), ERROR_SUCCESS);
  ASSERT_EQ(SettingsOverlaySetString(HKEY_CURRENT_USER, L"Software\\Only\\Overlay", L"S", L"v"),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(key, L"AddHeader"), 0u);
  HKEY overlay_key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Only\\Overlay", 0, KEY_READ, &overlay_key),
            ERROR_SUCCESS);
  RegCloseKey(overlay_key);
  ASSERT_EQ(SetDword(key, L"Other", 2), ERROR_SUCCESS);  // a real write meanwhile
  const std::string file = ReadFile(home.store());
  EXPECT_EQ(file.find("Overlay"), std::string::npos);
  EXPECT_NE(file.find("\"AddHeader\"=dword:00000001"), std::string::npos);
  SettingsOverlayClear();
  EXPECT_EQ(QueryDword(key, L"AddHeader"), 1u);
  RegCloseKey(key);
}

TEST(RegistryFile, KeepsEveryValueExactlyThroughTheText) {
  ri::Store store;
  bool created = false;
  ri::Key& key = store.CreateKey(L"HKEY_CURRENT_USER\\Software\\T", &created);
  const std::wstring tricky = L"quote \" backslash \\ tab\t newline\n \x00E9\x4E2D";
  std::vector<BYTE> sz((tricky.size() + 1) * sizeof(wchar_t));
  std::memcpy(sz.data(), tricky.c_str(), sz.size());
  key.values.push_back({L"S", REG_SZ, sz});
  key.values.push_back({L"Unterminated", REG_SZ, {'a', 0, 0, 0}});
  key.values.push_back({L"Short dword", REG_DWORD, {1, 2}});
  key.values.push_back({L"Bin", REG_BINARY, {0, 255, 16}});
  key.values.push_back({L"Multi", REG_MULTI_SZ, {}});
  const std::string text = ri::SerializeStore(store);
  ri::Store back;
  ri::ParseError error;
  ASSERT_TRUE(ri::ParseStore(text, back, error)) << error.line << ": " << error.message;
  ASSERT_EQ(back.keys.size(), store.keys.size());
  const ri::Key& read = back.keys.rbegin()->second;
  ASSERT_EQ(read.values.size(), key.values.size());
  for (size_t i = 0; i < key.values.size(); ++i) {
    EXPECT_EQ(read.values[i].name, key.values[i].name);
    EXPECT_EQ(read.values[i].type, key.values[i].type);
    EXPECT_EQ(read.values[i].data, key.values[i].data) << i;
  }
  EXPECT_EQ(ri::SerializeStore(back), text);
}

TEST(RegistryFile, NamesTheLineOfEachSyntaxError) {
  const struct {
    const char* text;
    size_t line;
  } rows[] = {
      {"[HKEY_CURRENT_USER\\A]\n", 1},
      {"REGEDIT4\n\"A\"=dword:1\n", 2},
      {"REGEDIT4\n[HKEY_NOWHERE\\A]\n", 2},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A\n", 2},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n", 2},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"A\"=\"open\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"A\"=\"\\q\"\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\n\"A\"=hex:0g\n", 4},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"A\"=hex:01,\\\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"A\"=dword:123456789\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"A\"=\"\xFF\"\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\nA=1\n", 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    ri::Store store;
    ri::ParseError error;
    EXPECT_FALSE(ri::ParseStore(row.text, store, error));
    EXPECT_EQ(error.line, row.line) << error.message;
    EXPECT_FALSE(error.message.empty());
  }
  ri::Store store;
  ri::ParseError error;
  EXPECT_TRUE(
      ri::ParseStore("\xEF\xBB\xBFREGEDIT4\r\n; "
                     "comment\r\n[HKEY_CURRENT_USER\\A\\B]\r\n\"V\"=hex:01,\\\r\n  02\r\n",
                     store, error))
      << error.message;
  EXPECT_EQ(store.keys.size(), 2u);  // the parent key exists too
  EXPECT_EQ(store.FindValue(L"hkey_current_user\\a\\b", L"v")->data, (std::vector<BYTE>{1, 2}));
}

}  // namespace

TEST(Registry, SettingAValueItAlreadyHoldsLeavesTheFileAlone) {
  TempConfigHome home;
  HKEY key = Create(kExport);
  ASSERT_EQ(SetDword(key, L"StartRow", 5), ERROR_SUCCESS);
  struct stat before {};
  ASSERT_EQ(::stat(SettingsStoreFile().c_str(), &before), 0);
  // Each write renames a new file into place, so an unchanged inode means nothing was written.
  ASSERT_EQ(SetDword(key, L"startrow", 5), ERROR_SUCCESS);
  struct stat after {};
  ASSERT_EQ(::stat(SettingsStoreFile().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  // Another type or value is a change.
  ASSERT_EQ(SetString(key, L"StartRow", L"5"), ERROR_SUCCESS);
  ASSERT_EQ(::stat(SettingsStoreFile().c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  // Changed in the file by someone else, at once and to the same length: setting the value this
  // process saw last is still a change, and is written.
  ASSERT_EQ(SetDword(key, L"StartRow", 5), ERROR_SUCCESS);
  std::string file = ReadFile(home.store());
  const size_t at = file.find("dword:00000005");
  ASSERT_NE(at, std::string::npos);
  file.replace(at, 14, "dword:00000007");
  WriteFile(home.store(), file);
  ASSERT_EQ(SetDword(key, L"StartRow", 5), ERROR_SUCCESS);
  EXPECT_NE(ReadFile(home.store()).find("dword:00000005"), std::string::npos);
  EXPECT_EQ(QueryDword(key, L"StartRow"), 5u);
  RegCloseKey(key);
}

TEST(Registry, DeleteTreeRemovesAWholeBranchAndNothingBeside) {
  TempConfigHome home;
  HKEY a = Create(L"SOFTWARE\\Tree\\A\\Deep\\Deeper");
  HKEY b = Create(L"SOFTWARE\\Tree\\AB");  // shares the prefix "A" but is a sibling
  ASSERT_EQ(SetDword(a, L"x", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(b, L"y", 2), ERROR_SUCCESS);
  RegCloseKey(a);
  HKEY tree = Create(L"SOFTWARE\\Tree");
  EXPECT_EQ(RegDeleteKeyW(tree, L"A"), ERROR_ACCESS_DENIED);  // has subkeys
  EXPECT_EQ(RegDeleteTreeW(tree, L"a"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(tree, L"A\\Deep", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(QueryDword(b, L"y"), 2u);
  EXPECT_EQ(RegDeleteTreeW(tree, L"A"), ERROR_FILE_NOT_FOUND);
  // Without a sub key: the key stays, empty.
  ASSERT_EQ(SetDword(tree, L"z", 3), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(tree, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(tree, L"z", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(tree, L"AB", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  RegCloseKey(b);
  RegCloseKey(tree);
}
