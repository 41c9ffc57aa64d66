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

}  // namespace
