#include "cli/selftest.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/comdef.h"
#include "platform/com/dispimpl.h"
#include "platform/com/marshal.h"
#include "platform/com/variant.h"
#include "platform/host/dbents.h"
#include "platform/host/dbmain.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "platform/win/msgqueue.h"
#include "platform/win/registry.h"
#include "platform/win/sync.h"

namespace {

constexpr DISPID kDispidThreadId = 1;
constexpr DISPID kDispidCallBack = 2;
constexpr DWORD kCheckWaitMs = 10'000;  // a hang guard, never reached on a working machine

// An object with two late-bound members: its thread's id, and a call back into an object it is
// given (which shows that the caller keeps serving calls while it waits for its own).
class Probe : public CComObjectRoot, public IDispatch {
 public:
  BEGIN_COM_MAP(Probe)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, IDispatch)
  END_COM_MAP()

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id == kDispidThreadId) {
      if (result) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(GetCurrentThreadId());
      }
      return S_OK;
    }
    if (id == kDispidCallBack) {
      if (!params || params->cArgs != 1 || params->rgvarg[0].vt != VT_DISPATCH)
        return DISP_E_BADPARAMCOUNT;
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      return params->rgvarg[0].pdispVal->Invoke(kDispidThreadId, IID_NULL, 0, DISPATCH_PROPERTYGET,
                                                &none, result, nullptr, nullptr);
    }
    return DISP_E_MEMBERNOTFOUND;
  }
};

IDispatch* NewProbe() {
  CComObject<Probe>* probe = nullptr;
  if (FAILED(CComObject<Probe>::CreateInstance(&probe))) return nullptr;
  probe->AddRef();
  return probe;
}

// What the apartment thread hands back to the main thread.
struct ApartmentStart {
  IStream* stream = nullptr;
  HANDLE ready = nullptr;
  HRESULT hr = E_FAIL;
};

DWORD ApartmentMain(LPVOID param) {
  auto* start = static_cast<ApartmentStart*>(param);
  CoInitialize(nullptr);
  IDispatch* probe = NewProbe();
  start->hr = probe ? CoMarshalInterThreadInterfaceInStream(IID_IDispatch, probe, &start->stream)
                    : E_OUTOFMEMORY;
  if (probe) probe->Release();
  SetEvent(start->ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  CoUninitialize();
  return 0;
}

class Report {
 public:
  explicit Report(std::FILE* out) : out_(out) {}
  void Check(const char* name, const std::function<std::string(std::string*)>& body) {
    std::string why;
    std::string detail = body(&why);
    if (why.empty()) {
      std::fprintf(out_, "ok   %s: %s\n", name, detail.c_str());
    } else {
      all_ok_ = false;
      std::fprintf(out_, "FAIL %s: %s\n", name, why.c_str());
    }
    std::fflush(out_);
  }
  bool all_ok() const { return all_ok_; }

 private:
  std::FILE* out_;
  bool all_ok_ = true;
};

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string CheckSettingsStore(std::string* why) {
  std::string problem;
  if (SettingsStoreCheck(&problem) != ERROR_SUCCESS) {
    *why = problem;
    return {};
  }
  const wchar_t* kKey = L"SOFTWARE\\Norvane\\Sheetwise\\SelfTest";
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                            &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    *why = "cannot create a key in " + SettingsStoreFile() + " (error " + std::to_string(rc) + ")";
    return {};
  }
  const DWORD written = 20261205;
  DWORD read = 0, type = 0, size = sizeof read;
  rc = RegSetValueExW(key, L"Check", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&written),
                      sizeof written);
  if (rc == ERROR_SUCCESS)
    rc = RegQueryValueExW(key, L"Check", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size);
  RegCloseKey(key);
  HKEY parent = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Norvane\\Sheetwise", 0, KEY_WRITE, &parent) ==
      ERROR_SUCCESS) {
    RegDeleteKeyW(parent, L"SelfTest");
    RegCloseKey(parent);
  }
  if (rc != ERROR_SUCCESS || type != REG_DWORD || read != written) {
    *why = "a value written to " + SettingsStoreFile() + " did not read back (error " +
           std::to_string(rc) + ")";
    return {};
  }
  return SettingsStoreFile();
}

std::string CheckConversions(std::string* why) {
  _variant_t number(1234.5);
  _variant_t half(L"2.5");
  try {
    std::string text = WideToUtf8(static_cast<const wchar_t*>(_bstr_t(number)));
    long rounded = static_cast<long>(half);
    if (text != "1234.5" || rounded != 2) {
      *why = "1234.5 became \"" + text + "\" and \"2.5\" became " + std::to_string(rounded);
      return {};
    }
    return "1234.5 -> \"" + text + "\", \"2.5\" -> " + std::to_string(rounded);
  } catch (const _com_error& e) {
    *why = "conversion failed: " + WideToUtf8(e.ErrorMessage());
    return {};
  }
}

std::string CheckErrorTexts(std::string* why) {
  std::string text = WideToUtf8(_com_error(E_NOINTERFACE).ErrorMessage());
  if (text != "No such interface supported") {
    *why = "E_NOINTERFACE is explained as \"" + text + "\"";
    return {};
  }
  return "E_NOINTERFACE -> \"" + text + "\"";
}

std::string CheckApartments(std::string* why) {
  ApartmentStart start;
  start.ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD apartment_id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ApartmentMain, &start, 0, &apartment_id);
  if (!thread) {
    CloseHandle(start.ready);
    *why = "cannot start a thread";
    return {};
  }
  HANDLE waits[2] = {start.ready, thread};
  DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kCheckWaitMs);
  std::string detail;
  IDispatch* remote = nullptr;
  if (woke != WAIT_OBJECT_0 || FAILED(start.hr)) {
    *why = "the apartment thread did not publish its object (" + Hex(start.hr) + ")";
  } else {
    HRESULT hr = CoGetInterfaceAndReleaseStream(start.stream, IID_IDispatch,
                                                reinterpret_cast<void**>(&remote));
    if (FAILED(hr)) *why = "cannot unmarshal the apartment's object (" + Hex(hr) + ")";
  }
  if (remote) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    _variant_t ran_on;
    HRESULT hr = remote->Invoke(kDispidThreadId, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &ran_on,
                                nullptr, nullptr);
    IDispatch* here = NewProbe();
    _variant_t arg(here, true);
    DISPPARAMS one = {&arg, nullptr, 1, 0};
    _variant_t called_back_on;
    HRESULT back_hr = remote->Invoke(kDispidCallBack, IID_NULL, 0, DISPATCH_METHOD, &one,
                                     &called_back_on, nullptr, nullptr);
    here->Release();
    remote->Release();
    if (FAILED(hr) || ran_on.vt != VT_I4 || static_cast<DWORD>(ran_on.lVal) != apartment_id) {
      *why = "a call did not run on the object's thread (" + Hex(hr) + ")";
    } else if (FAILED(back_hr) || called_back_on.vt != VT_I4 ||
               static_cast<DWORD>(called_back_on.lVal) != GetCurrentThreadId()) {
      *why = "a call back into the waiting thread failed (" + Hex(back_hr) + ")";
    } else {
      detail = "calls run on their object's thread, the waiting thread serves calls back";
    }
  }
  PostThreadMessageW(apartment_id, WM_QUIT, 0, 0);
  if (WaitForSingleObject(thread, kCheckWaitMs) != WAIT_OBJECT_0 && why->empty())
    *why = "the apartment thread did not end on WM_QUIT";
  CloseHandle(thread);
  CloseHandle(start.ready);
  return detail;
}

std::string CheckHelpModule(std::string* why) {
  HMODULE help = LoadLibraryW(L"hhctrl.ocx");
  if (!help) {
    *why = "hhctrl.ocx not found beside the program: " + LoadLibraryErrorText();
    return {};
  }
  bool has_entry = GetProcAddress(help, MAKEINTRESOURCEA(14)) != nullptr;
  FreeLibrary(help);
  if (!has_entry) {
    *why = "hhctrl.ocx lacks its HtmlHelpA entry (ordinal 14)";
    return {};
  }
  return "hhctrl.ocx loads and exports HtmlHelpA";
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Loads the drawing, counts its block references and their attributes in every block, saves it
// to a temporary folder and checks that the copy is byte-identical.
std::string CheckDrawing(const std::filesystem::path& drawing, std::string* why) {
  AcDbDatabase db(false, true);
  if (db.dxfIn(drawing.wstring().c_str()) != Acad::eOk) {
    *why = WideToUtf8(db.lastErrorText());
    return {};
  }
  int references = 0, attributes = 0;
  AcDbBlockTable* table = nullptr;
  if (db.getSymbolTable(table, AcDb::kForRead) == Acad::eOk) {
    AcDbBlockTableIterator* blocks = nullptr;
    table->newIterator(blocks);
    for (; !blocks->done(); blocks->step()) {
      AcDbBlockTableRecord* block = nullptr;
      if (blocks->getRecord(block, AcDb::kForRead) != Acad::eOk) continue;
      AcDbBlockTableRecordIterator* entities = nullptr;
      block->newIterator(entities);
      for (; !entities->done(); entities->step()) {
        AcDbEntity* entity = nullptr;
        if (entities->getEntity(entity, AcDb::kForRead) != Acad::eOk) continue;
        if (auto* reference = AcDbBlockReference::cast(entity)) {
          ++references;
          AcDbObjectIterator* atts = reference->attributeIterator();
          for (; !atts->done(); atts->step()) ++attributes;
          delete atts;
        }
        entity->close();
      }
      delete entities;
      block->close();
    }
    delete blocks;
    table->close();
  }
  std::string folder = (std::filesystem::temp_directory_path() / "sheetwise-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    *why = "cannot make a temporary folder";
    return {};
  }
  const std::filesystem::path copy = std::filesystem::path(folder) / drawing.filename();
  const bool saved = db.saveAs(copy.wstring().c_str()) == Acad::eOk;
  const bool same = saved && ReadBytes(copy) == ReadBytes(drawing);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!saved) {
    *why = "cannot save a copy: " + WideToUtf8(db.lastErrorText());
  } else if (!same) {
    *why = "the saved copy differs from " + drawing.string();
  }
  return drawing.filename().string() + ": " + std::to_string(references) + " block references, " +
         std::to_string(attributes) + " attributes, saved back byte-identical";
}

}  // namespace

bool RunSelfTest(std::FILE* out, const char* drawing) {
  Report report(out);
  HRESULT hr = CoInitialize(nullptr);
  report.Check("settings store", CheckSettingsStore);
  report.Check("value conversions", CheckConversions);
  report.Check("error texts", CheckErrorTexts);
  report.Check("apartments", CheckApartments);
  report.Check("help module", CheckHelpModule);
  if (drawing) {
    report.Check("drawing", [&](std::string* why) { return CheckDrawing(drawing, why); });
  }
  if (SUCCEEDED(hr)) CoUninitialize();
  std::fprintf(out, report.all_ok() ? "all checks passed\n" : "some checks failed\n");
  return report.all_ok();
}
