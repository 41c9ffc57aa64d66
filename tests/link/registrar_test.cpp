// Registry scripts and the live link's class registration: the records a script writes under
// HKEY_CLASSES_ROOT of a settings store of the test's own, what unregistration leaves, and the
// scripts that are refused with their line, writing nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "link/appeventhandler.h"
#include "link/linkserver.h"
#include "link/registrar.h"
#include "platform/com/guid.h"
#include "platform/com/typelib.h"
#include "platform/win/module.h"
#include "platform/win/registry.h"

namespace {

namespace fs = std::filesystem;

// A settings store in a folder of the test's own, so that the records checked here are the
// ones this test wrote.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    previous_ = previous != nullptr ? previous : "";
    dir_ = fs::temp_directory_path() /
           ("sw_link_store_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("XDG_CONFIG_HOME", previous_.c_str(), 1);
    fs::remove_all(dir_);
  }

  fs::path dir_;
  std::string previous_;
};

// The default value (or `name`) of HKCR\`path`; "<missing>" when the key or value is absent.
std::wstring Read(const std::wstring& path, const wchar_t* name = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return L"<missing>";
  wchar_t data[1024] = L"";
  DWORD size = sizeof data;
  DWORD type = 0;
  const LONG status =
      RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return L"<missing>";
  if (type == REG_DWORD) {
    DWORD value = 0;
    std::memcpy(&value, data, sizeof value);
    return L"dword:" + std::to_wstring(value);
  }
  return data;
}

bool Exists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

std::wstring Braced(const GUID& guid) {
  wchar_t text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

TEST_F(StoreTest, TheLinkClassIsRegisteredWithItsProgIdsServerAndTypeLibrary) {
  const std::wstring resources_path(SW_VANTARES, SW_VANTARES + std::strlen(SW_VANTARES));
  HMODULE resources = LoadLibraryW(resources_path.c_str());
  ASSERT_NE(resources, nullptr);
  std::wstring error;
  // The resource library stands in for the application's module: %MODULE% is its path.
  ASSERT_EQ(RegisterLinkServer(resources, resources, &error), S_OK)
      << std::string(error.begin(), error.end());

  const std::wstring clsid = Braced(CLSID_AppEventHandler);
  const std::wstring key = L"CLSID\\" + clsid;
  EXPECT_EQ(Read(L"Vanta.AppEventHandler.1"), L"AppEventHandler Class");
  EXPECT_EQ(Read(L"Vanta.AppEventHandler.1\\CLSID"), clsid);
  EXPECT_EQ(Read(L"Vanta.AppEventHandler"), L"AppEventHandler Class");
  EXPECT_EQ(Read(L"Vanta.AppEventHandler\\CLSID"), clsid);
  EXPECT_EQ(Read(L"Vanta.AppEventHandler\\CurVer"), L"Vanta.AppEventHandler.1");
  EXPECT_EQ(Read(key), L"AppEventHandler Class");
  EXPECT_EQ(Read(key + L"\\ProgID"), L"Vanta.AppEventHandler.1");
  EXPECT_EQ(Read(key + L"\\VersionIndependentProgID"), L"Vanta.AppEventHandler");
  EXPECT_TRUE(Exists(key + L"\\Programmable"));
  EXPECT_EQ(Read(key + L"\\InprocServer32"), fs::absolute(SW_VANTARES).wstring());
  EXPECT_EQ(Read(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(Read(key + L"\\TypeLib"), Braced(LIBID_VantaLib));
  CLSID found{};
  EXPECT_EQ(CLSIDFromProgID(L"Vanta.AppEventHandler", &found), S_OK);
  EXPECT_EQ(found, CLSID_AppEventHandler);
  EXPECT_EQ(Read(L"Interface\\" + Braced(IID_IAppEventHandler)), L"IAppEventHandler");
  EXPECT_EQ(Read(L"TypeLib\\" + Braced(LIBID_VantaLib) + L"\\1.0"), L"Vanta 1.0 Type Library");
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_VantaLib, 1, 0, 0, &library), S_OK);
  library->Release();

  // Registering again (every load does) replaces the class key whole: a stray subkey goes.
  HKEY stray = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (key + L"\\Stray").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &stray, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(stray);
  EXPECT_EQ(RegisterLinkServer(resources, resources), S_OK);
  EXPECT_FALSE(Exists(key + L"\\Stray"));
  EXPECT_EQ(Read(key + L"\\ProgID"), L"Vanta.AppEventHandler.1");

  // With every record in place, registering again writes nothing: the store file is the same
  // file, untouched. A record changed by hand is put right.
  struct stat before {};
  ASSERT_EQ(::stat(SettingsStoreFile().c_str(), &before), 0);
  EXPECT_EQ(RegisterLinkServer(resources, resources), S_OK);
  struct stat after {};
  ASSERT_EQ(::stat(SettingsStoreFile().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  HKEY server = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str(), 0, KEY_ALL_ACCESS,
                          &server),
            ERROR_SUCCESS);
  const wchar_t kFree[] = L"Free";
  ASSERT_EQ(RegSetValueExW(server, L"ThreadingModel", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(kFree), sizeof kFree),
            ERROR_SUCCESS);
  RegCloseKey(server);
  EXPECT_EQ(RegisterLinkServer(resources, resources), S_OK);
  EXPECT_EQ(Read(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");

  // Unregistration removes the class and keeps CLSID, which the script never removes.
  HKEY other = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-1111-2222-3333-444444444444}", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &other, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(other);
  EXPECT_EQ(UnregisterLinkServer(resources, resources), S_OK);
  EXPECT_FALSE(Exists(L"Vanta.AppEventHandler.1"));
  EXPECT_FALSE(Exists(L"Vanta.AppEventHandler"));
  EXPECT_FALSE(Exists(key));
  EXPECT_TRUE(Exists(L"CLSID\\{00000000-1111-2222-3333-444444444444}"));
  EXPECT_EQ(LoadRegTypeLib(LIBID_VantaLib, 1, 0, 0, &library), TYPE_E_LIBNOTREGISTERED);
  // The program goes on needing the type library in this process.
  EXPECT_EQ(RegisterVantaTypeLib(L"sheetwise.arx"), S_OK);
  FreeLibrary(resources);
}

TEST_F(StoreTest, AResourceLibraryWithoutTheScriptIsAnErrorThatNamesIt) {
  // The test program itself lists no resources.
  std::wstring error;
  EXPECT_EQ(RegisterLinkServer(nullptr, nullptr, &error),
            HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_NE(error.find(L"1016"), std::wstring::npos);
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_VantaLib, 1, 0, 0, &library), S_OK)
      << "the type library is registered whatever the script did";
  library->Release();
}

TEST_F(StoreTest, ScriptsThatDoNotParseAreRefusedWithTheirLineAndWriteNothing) {
  struct Case {
    const wchar_t* script;
    const wchar_t* message;
  };
  const Case cases[] = {
      {L"HKCR\n{\n  Good = s 'x'\n  Bad = s 'y'\n",
       L"line 5: a key name or '}' expected, found end of script"},
      {L"HKXX\n{\n}\n", L"line 1: a root key (HKCR, HKCU, HKLM, HKU) expected, found 'HKXX'"},
      {L"HKCR\n{\n  Good = s 'x'\n  Bad = q 'y'\n}\n",
       L"line 4: a value type (s or d) expected, found 'q'"},
      {L"HKCR\n{\n  Good = s 'x'\n  Bad = d '12z'\n}\n",
       L"line 4: a 32-bit number expected, found '12z' (quoted)"},
      {L"HKCR\n{\n  Good = s 'x'\n  Bad = d 4294967296\n}\n",
       L"line 4: a 32-bit number expected, found '4294967296'"},
      {L"HKCR\n{\n  Good = s 'x'\n  Bad = s 'no end\n}\n",
       L"line 4: the quoted text has no closing quote"},
      {L"HKCR\n{\n  Good = s '%NOPE%'\n}\n", L"line 3: no value for %NOPE%"},
      {L"HKCR\n{\n  val Top = s 'x'\n}\n", L"line 3: a key name or '}' expected, found 'val'"},
      {L"HKCR\n{\n  A\\B = s 'x'\n}\n",
       L"line 3: a key name without backslashes expected, found 'A\\B'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.message, c.message + std::wcslen(c.message)));
    std::wstring error;
    EXPECT_EQ(RunRegistryScript(c.script, true, {{L"MODULE", L"/m.so"}}, &error), DISP_E_EXCEPTION);
    EXPECT_EQ(error, c.message);
    EXPECT_FALSE(Exists(L"Good")) << "nothing is written";
  }
}

TEST_F(StoreTest, ScriptValuesQuotesAndUnregistrationOfSharedKeys) {
  const wchar_t* script =
      L"HKCR\n{\n"
      L"  'It''s' = s '100%% ''sure'' at %MODULE%'\n"
      L"  {\n    val Count = d 0x10\n    val Plain = d 7\n    Child\n  }\n"
      L"  NoRemove Shared\n  {\n    Mine = s 'm'\n  }\n"
      L"  Delete Old\n"
      L"}\n";
  HKEY old = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Old\\Deep", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &old, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(old);
  std::wstring error;
  ASSERT_EQ(RunRegistryScript(script, true, {{L"module", L"/opt/it's.so"}}, &error), S_OK)
      << std::string(error.begin(), error.end());
  EXPECT_EQ(Read(L"It's"), L"100% 'sure' at /opt/it's.so");
  EXPECT_EQ(Read(L"It's", L"Count"), L"dword:16");
  EXPECT_EQ(Read(L"It's", L"Plain"), L"dword:7");
  EXPECT_TRUE(Exists(L"It's\\Child"));
  EXPECT_EQ(Read(L"Shared\\Mine"), L"m");
  EXPECT_FALSE(Exists(L"Old")) << "Delete removes the key at registration";

  // A key another program added below a key of the script keeps that key.
  HKEY foreign = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Shared\\Theirs", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &foreign, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(foreign);
  ASSERT_EQ(RunRegistryScript(script, false, {{L"MODULE", L"/opt/it's.so"}}), S_OK);
  EXPECT_FALSE(Exists(L"It's"));
  EXPECT_FALSE(Exists(L"Shared\\Mine"));
  EXPECT_TRUE(Exists(L"Shared\\Theirs"));
  EXPECT_EQ(RunRegistryScript(script, false, {{L"MODULE", L"x"}}), S_OK)
      << "unregistering what is gone is no failure";
}

}  // namespace
