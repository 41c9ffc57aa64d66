// The settings record in the settings store: what LoadSettings makes of the values other
// versions, other programs and users left there, and what SaveSettings leaves behind.
#include "settings/settings.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win/registry.h"
#include "tests/platform/win/win_test_folder.h"

namespace {

using sheetwise::LoadSettings;
using sheetwise::SaveSettings;
using sheetwise::SettingsInfo;
using sheetwise::test::ReadFile;
using sheetwise::test::TempConfigHome;
using sheetwise::test::WriteFile;

constexpr const wchar_t* kExport = L"SOFTWARE\\Norvane\\Sheetwise\\Settings\\Export";
constexpr const wchar_t* kImport = L"SOFTWARE\\Norvane\\Sheetwise\\Settings\\Import";

// Sets a value of `sub_key` with raw bytes, as another program could have left it.
void SetRaw(const wchar_t* sub_key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, sub_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetDword(const wchar_t* sub_key, const wchar_t* name, DWORD value) {
  SetRaw(sub_key, name, REG_DWORD, &value, sizeof value);
}

void SetString(const wchar_t* sub_key, const wchar_t* name, const std::wstring& value) {
  SetRaw(sub_key, name, REG_SZ, value.c_str(),
         static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

struct StoredValue {
  std::wstring name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

// Every value of `sub_key` in the store's order (the order they were first set).
std::vector<StoredValue> Values(const wchar_t* sub_key) {
  std::vector<StoredValue> values;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, sub_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = 256, type = 0, size = 64;
    BYTE data[64];
    if (RegEnumValueW(key, i, name, &chars, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    values.push_back({std::wstring(name, chars), type, std::vector<BYTE>(data, data + size)});
  }
  RegCloseKey(key);
  return values;
}

// A record whose every field differs from its default.
SettingsInfo EveryFieldChanged() {
  SettingsInfo s;
  s.WorkbookSettings = 1;
  s.WorksheetSettings = 1;
  s.StartRow = 40;
  s.AddHeader = s.OddLine = s.AutoConnect = s.IncludeConstant = s.Sort = s.LayoutNames = true;
  s.NoAutofit = s.JTSK = s.FindNextBlankLine = s.ExportAttPrompts = s.Selection = true;
  s.TimeStamp = true;
  s.BlockNames = s.XCoord = s.YCoord = s.ZCoord = s.Rotation = s.LayerNames = false;
  s.Scale = s.AsText = false;
  s.Import = {-7, false, 3, 65536};
  return s;
}

TEST(LoadSettings, AnEmptyStoreGivesTheDefaults) {
  TempConfigHome home;
  SettingsInfo s = EveryFieldChanged();
  LoadSettings(s);
  EXPECT_EQ(s, SettingsInfo{});

  // Without an Export key the Import key is not read either.
  SetDword(kImport, L"StartRow", 9);
  SetDword(kImport, L"IgnoreProps", 0);
  LoadSettings(s);
  EXPECT_EQ(s, SettingsInfo{});
  SetDword(kExport, L"Sort", 1);
  LoadSettings(s);
  EXPECT_EQ(s.Import.StartRow, 9);
  EXPECT_FALSE(s.Import.IgnoreProps);
  EXPECT_TRUE(s.Sort);
}

TEST(LoadSettings, CoordsSetsAllThreeAndEachStoredCoordinateOverridesIt) {
  struct Case {
    const char* what;
    int coords;   // -1: none
    int x, y, z;  // -1: not stored
    bool want_x, want_y, want_z;
  };
  const Case cases[] = {
      {"Coords=0 alone", 0, -1, -1, -1, false, false, false},
      {"Coords=0 with YCoord=1", 0, -1, 1, -1, false, true, false},
      {"Coords=1 with XCoord=0 and ZCoord=0", 1, 0, -1, 0, false, true, false},
      {"Coords=5 counts as on", 5, -1, -1, -1, true, true, true},
      {"no Coords", -1, 0, -1, 1, false, true, true},
  };
  for (const Case& c : cases) {
    TempConfigHome home;
    // The coordinates go in first, so that a load in the store's order would get them wrong.
    if (c.x >= 0) SetDword(kExport, L"XCoord", static_cast<DWORD>(c.x));
    if (c.y >= 0) SetDword(kExport, L"YCoord", static_cast<DWORD>(c.y));
    if (c.z >= 0) SetDword(kExport, L"ZCoord", static_cast<DWORD>(c.z));
    if (c.coords >= 0) SetDword(kExport, L"Coords", static_cast<DWORD>(c.coords));
    SettingsInfo s;
    LoadSettings(s);
    EXPECT_EQ(s.XCoord, c.want_x) << c.what;
    EXPECT_EQ(s.YCoord, c.want_y) << c.what;
    EXPECT_EQ(s.ZCoord, c.want_z) << c.what;
  }
}

TEST(LoadSettings, OnlyFourByteDwordsCount) {
  TempConfigHome home;
  SetString(kExport, L"StartRow", L"5");
  SetString(kImport, L"StartRow", L"6");
  const uint16_t two_bytes = 1;
  SetRaw(kExport, L"AddHeader", REG_DWORD, &two_bytes, sizeof two_bytes);
  const uint64_t qword = 1;
  SetRaw(kExport, L"Sort", REG_QWORD, &qword, sizeof qword);
  const uint64_t long_dword = 1;
  SetRaw(kExport, L"OddLine", REG_DWORD, &long_dword, sizeof long_dword);
  const uint32_t binary = 0;
  SetRaw(kExport, L"Scale", REG_BINARY, &binary, sizeof binary);
  SetDword(kImport, L"StartCol", 0xFFFFFFFFu);  // not range-checked: read as -1
  SetDword(kExport, L"WorkbookSettings", 3);
  SettingsInfo s;
  LoadSettings(s);
  EXPECT_EQ(s.StartRow, 1);
  EXPECT_EQ(s.Import.StartRow, 2);
  EXPECT_FALSE(s.AddHeader);
  EXPECT_FALSE(s.Sort);
  EXPECT_FALSE(s.OddLine);
  EXPECT_TRUE(s.Scale);
  EXPECT_EQ(s.Import.StartCol, -1);
  EXPECT_EQ(s.WorkbookSettings, 3);
}

TEST(SaveSettings, ABoolStoredAsSevenLoadsTrueAndIsSavedAsOne) {
  TempConfigHome home;
  SetDword(kExport, L"AddHeader", 7);
  SetDword(kImport, L"IgnoreProps", 7);
  SettingsInfo s;
  LoadSettings(s);
  EXPECT_TRUE(s.AddHeader);
  EXPECT_TRUE(s.Import.IgnoreProps);
  ASSERT_TRUE(SaveSettings(s));
  for (const auto& [key, name] : {std::pair{kExport, L"AddHeader"}, {kImport, L"IgnoreProps"}}) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle), ERROR_SUCCESS);
    DWORD value = 0, size = sizeof value, type = 0;
    EXPECT_EQ(
        RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 1u) << name;
    RegCloseKey(handle);
  }
}

TEST(SaveSettings, WritesEveryValueButCoordsInOrderAndLoadGivesTheRecordBack) {
  TempConfigHome home;
  const SettingsInfo changed = EveryFieldChanged();
  ASSERT_TRUE(SaveSettings(changed));

  const std::vector<std::wstring> export_names = {L"AddHeader",
                                                  L"AutoConnect",
                                                  L"BlockNames",
                                                  L"XCoord",
                                                  L"YCoord",
                                                  L"ZCoord",
                                                  L"LayerNames",
                                                  L"LayoutNames",
                                                  L"OddLine",
                                                  L"Rotation",
                                                  L"Scale",
                                                  L"Sort",
                                                  L"StartRow",
                                                  L"WorkbookSettings",
                                                  L"WorksheetSettings",
                                                  L"IncludeConstant",
                                                  L"JTSK",
                                                  L"NoAutofit",
                                                  L"AsText",
                                                  L"FindNextBlankLine",
                                                  L"ExportAttPrompts",
                                                  L"Selection",
                                                  L"TimeStamp"};
  const std::vector<std::wstring> import_names = {L"ImportSettings", L"IgnoreProps", L"StartCol",
                                                  L"StartRow"};
  for (const auto& [key, names] : {std::pair{kExport, export_names}, {kImport, import_names}}) {
    const std::vector<StoredValue> values = Values(key);
    ASSERT_EQ(values.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(values[i].name, names[i]);
      EXPECT_EQ(values[i].type, REG_DWORD) << values[i].name;
      EXPECT_EQ(values[i].data.size(), 4u) << values[i].name;
    }
  }
  // Booleans as 1, integers as their two's complement.
  const std::vector<StoredValue> imports = Values(kImport);
  uint32_t import_settings = 0, ignore_props = 0;
  std::memcpy(&import_settings, imports[0].data.data(), 4);
  std::memcpy(&ignore_props, imports[1].data.data(), 4);
  EXPECT_EQ(import_settings, 0xFFFFFFF9u);
  EXPECT_EQ(ignore_props, 0u);
  EXPECT_EQ(Values(kExport)[0].data, (std::vector<BYTE>{1, 0, 0, 0}));

  SettingsInfo loaded;
  LoadSettings(loaded);
  EXPECT_EQ(loaded, changed);

  // An old Coords stays as it was, and the three saved coordinates win over it.
  SetDword(kExport, L"Coords", 1);
  ASSERT_TRUE(SaveSettings(changed));
  LoadSettings(loaded);
  EXPECT_FALSE(loaded.XCoord || loaded.YCoord || loaded.ZCoord);
  EXPECT_NE(ReadFile(home.store()).find("\"Coords\"=dword:00000001"), std::string::npos);
}

TEST(SaveSettings, FailsWhenTheStoreCannotBeWritten) {
  TempConfigHome home;
  ASSERT_TRUE(SaveSettings(SettingsInfo{}));
  const std::string before = ReadFile(home.store());

  // The keys open, but no value can be written: the store's lock cannot be taken.
  const std::string lock = home.store().string() + ".lock";
  std::filesystem::remove(lock);
  std::filesystem::create_directory(lock);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveSettings(EveryFieldChanged()));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(lock), std::string::npos);
  EXPECT_EQ(ReadFile(home.store()), before);
  std::filesystem::remove(lock);

  // A damaged store: the keys can be neither opened nor created.
  const std::string damaged = "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\n";
  WriteFile(home.store(), damaged);
  ::testing::internal::CaptureStderr();  // the store reports the damage once
  EXPECT_FALSE(SaveSettings(SettingsInfo{}));
  SettingsInfo s = EveryFieldChanged();
  LoadSettings(s);
  const std::string reported = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(reported.find(home.store().string()), std::string::npos) << reported;
  EXPECT_EQ(s, SettingsInfo{});
  EXPECT_EQ(ReadFile(home.store()), damaged);
}

}  // namespace
