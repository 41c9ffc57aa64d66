#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com/comdef.h"
#include "platform/win/registry.h"
#include "tests/platform/win/win_test_folder.h"

namespace {

// Excel's _Worksheet interface id: a real GUID with every field non-trivial.
constexpr GUID kWorksheet = {
    0x000208D8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kMixed = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

TEST(Guid, WritesAndReadsTheBracedFormOnly) {
  wchar_t text[39];
  ASSERT_EQ(StringFromGUID2(kMixed, text, 39), 39);
  EXPECT_EQ(std::wstring(text), L"{1CF2B120-547D-101B-8E65-08002B2BD119}");
  EXPECT_EQ(StringFromGUID2(kMixed, text, 38), 0) << "no room for the zero";

  struct Case {
    const wchar_t* text;
    HRESULT hr;
    GUID guid;
  };
  const Case cases[] = {
      {L"{000208D8-0000-0000-C000-000000000046}", S_OK, kWorksheet},
      {L"{1cf2b120-547d-101b-8e65-08002b2bd119}", S_OK, kMixed},
      {L"000208D8-0000-0000-C000-000000000046", CO_E_IIDSTRING, {}},
      {L"{000208D8-0000-0000-C000-000000000046", CO_E_IIDSTRING, {}},
      {L"{000208D8-0000-0000-C000-000000000046} ", CO_E_IIDSTRING, {}},
      {L"{000208D8-0000-0000-C000-00000000004G}", CO_E_IIDSTRING, {}},
      {L"{000208D8+0000-0000-C000-000000000046}", CO_E_IIDSTRING, {}},
      {L"", CO_E_IIDSTRING, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text);
    IID iid{};
    EXPECT_EQ(IIDFromString(c.text, &iid), c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(iid, c.guid);
    }
    CLSID clsid{};
    if (c.text[0] == L'{') {
      EXPECT_EQ(CLSIDFromString(c.text, &clsid), c.hr == S_OK ? S_OK : CO_E_CLASSSTRING);
    }
  }
  IID null_iid = kMixed;
  EXPECT_EQ(IIDFromString(nullptr, &null_iid), S_OK);
  EXPECT_EQ(null_iid, IID_NULL);
  EXPECT_EQ(IIDFromString(L"{}", nullptr), E_INVALIDARG);
  CLSID back{};
  ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
  EXPECT_EQ(back, kMixed);
}

void RegisterProgId(const wchar_t* progid, const std::wstring& clsid_text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(progid) + L"\\CLSID").c_str(), 0,
                            nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid_text.c_str()),
                     static_cast<DWORD>((clsid_text.size() + 1) * sizeof(wchar_t))),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(ProgId, LooksUpTheClassesRootKey) {
  sheetwise::test::TempConfigHome home;  // never the user's own settings
  RegisterProgId(L"Excel.Application", L"{00024500-0000-0000-C000-000000000046}");
  RegisterProgId(L"Broken.Entry", L"not a guid");
  RegisterProgId(L"Long.Entry", L"{00024500-0000-0000-C000-000000000046}{00024500}");
  const CLSID excel = {0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"Excel.Application", &clsid), S_OK);
  EXPECT_EQ(clsid, excel);
  clsid = {};
  ASSERT_EQ(CLSIDFromProgID(L"excel.application", &clsid), S_OK) << "key names ignore case";
  EXPECT_EQ(clsid, excel);
  clsid = {};
  ASSERT_EQ(CLSIDFromString(L"Excel.Application", &clsid), S_OK) << "CLSIDFromString too";
  EXPECT_EQ(clsid, excel);
  EXPECT_EQ(CLSIDFromProgID(L"Word.Application", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(L"Word.Application", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(L"Broken.Entry", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(L"Long.Entry", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(L"", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(L"Excel.Application\\CLSID", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromProgID(L"Excel.Application", nullptr), E_INVALIDARG);
}

// Lookups are remembered; every change of the store must still be seen by the next one.
TEST(ProgId, SeesEveryChangeOfTheStoreAfterALookup) {
  sheetwise::test::TempConfigHome home;
  const wchar_t* const name = L"Sheetwise.CachedTest";
  const CLSID first = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}};
  const CLSID second = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {0xD, 0xD, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE}};
  const std::wstring first_text = L"{11111111-2222-3333-0404-050505050505}";
  const std::wstring second_text = L"{AAAAAAAA-BBBB-CCCC-0D0D-0E0E0E0E0E0E}";
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(name, &clsid), CO_E_CLASSSTRING) << "not registered yet";

  RegisterProgId(name, first_text);
  ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK) << "registered after a failed lookup";
  EXPECT_EQ(clsid, first);
  RegisterProgId(name, second_text);
  ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK);
  EXPECT_EQ(clsid, second) << "changed after a lookup";

  ASSERT_EQ(SettingsOverlaySetString(HKEY_CLASSES_ROOT, L"Sheetwise.CachedTest\\CLSID", nullptr,
                                     first_text.c_str()),
            ERROR_SUCCESS);
  ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK);
  EXPECT_EQ(clsid, first) << "an overlay value";
  SettingsOverlayClear();
  ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK);
  EXPECT_EQ(clsid, second) << "the overlay removed";

  ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, name), ERROR_SUCCESS);
  EXPECT_EQ(CLSIDFromProgID(name, &clsid), CO_E_CLASSSTRING) << "deleted";

  // Another program rewrites the file: a new version on disk.
  sheetwise::test::WriteFile(home.store(),
                             "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Sheetwise.CachedTest"
                             "\\CLSID]\n@=\"{11111111-2222-3333-0404-050505050505}\"\n");
  // This process reads the new version at the latest with its next write (a lookup soon after
  // the last one may not look at the file yet).
  HKEY unrelated = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\SheetwiseCachedTest", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &unrelated, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(unrelated);
  clsid = {};
  ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK) << "written by another program";
  EXPECT_EQ(clsid, first);
  {
    // Another settings folder: another store, where the name is unknown.
    sheetwise::test::TempConfigHome other;
    EXPECT_EQ(CLSIDFromProgID(name, &clsid), CO_E_CLASSSTRING);
  }
  clsid = {};
  ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK) << "back in the first folder";
  EXPECT_EQ(clsid, first);
}

}  // namespace
