// The spreadsheet application seen from another apartment, as the live link's event sink sees
// it: found with GetActiveObject, advised through proxies, and called back during SheetChange.
#include <gtest/gtest.h>

#include <string>

#include "platform/calc/application.h"
#include "platform/com/classes.h"
#include "platform/com/rot.h"
#include "tests/platform/com/com_test_support.h"

namespace sheetwise::calc {
namespace {

std::wstring Name(IDispatch* d) {
  VARIANT r;
  VariantInit(&r);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (FAILED(d->Invoke(0x6E, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr)))
    return L"(failed)";
  std::wstring s(r.bstrVal, SysStringLen(r.bstrVal));
  VariantClear(&r);
  return s;
}

LONG Long(IDispatch* d, DISPID id) {
  VARIANT r;
  VariantInit(&r);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr);
  return r.vt == VT_I4 ? r.lVal : -1;
}

IDispatch* Object(IDispatch* d, DISPID id) {
  VARIANT r;
  VariantInit(&r);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr);
  return r.vt == VT_DISPATCH ? r.pdispVal : nullptr;
}

// The sink, living on the link's thread: reads what the live link's handler reads.
class LinkSink : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_AppEvents) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    if (id != kDispidSheetChange) return S_OK;
    thread = GetCurrentThreadId();
    IDispatch* target = p->rgvarg[0].pdispVal;
    IDispatch* range = nullptr;
    target->QueryInterface(IID_ExcelRange, reinterpret_cast<void**>(&range));
    if (range == nullptr) return S_OK;
    IDispatch* sheet = Object(range, 0x15C);
    IDispatch* book = sheet ? Object(sheet, 0x96) : nullptr;
    seen = (book ? Name(book) : L"?") + L"|" + (sheet ? Name(sheet) : L"?") + L"|" +
           std::to_wstring(Long(range, 0x101)) + L"," + std::to_wstring(Long(range, 0xF0));
    if (book) book->Release();
    if (sheet) sheet->Release();
    range->Release();
    return S_OK;
  }
  ULONG refs = 1;
  DWORD thread = 0;
  std::wstring seen;
};

TEST(CalcApartments, ALinkThreadSinkReadsTheChangedCellThroughProxies) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ASSERT_TRUE(SUCCEEDED(RegisterApplicationClass()));
  Application* app = Application::Start();
  ASSERT_NE(app, nullptr);
  IUnknown* unk = nullptr;
  ASSERT_EQ(GetActiveObject(CLSID_ExcelApplication, nullptr, &unk), S_OK);
  IDispatch* excel = nullptr;
  ASSERT_EQ(unk->QueryInterface(IID_ExcelApplication, reinterpret_cast<void**>(&excel)), S_OK);
  unk->Release();
  // A workbook: Workbooks.Add().
  IDispatch* books = Object(excel, 0x23C);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT added;
  VariantInit(&added);
  ASSERT_EQ(books->Invoke(0xB5, IID_NULL, 0, DISPATCH_METHOD, &none, &added, nullptr, nullptr),
            S_OK);
  VariantClear(&added);
  books->Release();

  comtest::StaThread link;
  LinkSink sink;
  IDispatch* remote_app = nullptr;
  DWORD cookie = 0;
  link.Run([&] {
    IUnknown* found = nullptr;
    ASSERT_EQ(GetActiveObject(CLSID_ExcelApplication, nullptr, &found), S_OK);
    ASSERT_EQ(found->QueryInterface(IID_ExcelApplication, reinterpret_cast<void**>(&remote_app)),
              S_OK);
    found->Release();
    EXPECT_NE(remote_app, excel);  // a proxy in this apartment
    EXPECT_EQ(AtlAdvise(remote_app, &sink, DIID_AppEvents, &cookie), S_OK);
  });

  // The main thread writes a cell: the sink runs on its own thread and reads back through
  // proxies while the main thread waits for it.
  IDispatch* sheet = Object(excel, 0x133);
  IDispatch* cells = Object(sheet, 0xEE);
  VARIANT args[2] = {comtest::Long(4), comtest::Long(3)};  // last first: row 3, column 4
  DISPPARAMS item{args, nullptr, 2, 0};
  VARIANT cell;
  VariantInit(&cell);
  ASSERT_EQ(cells->Invoke(0xAA, IID_NULL, 0, DISPATCH_PROPERTYGET, &item, &cell, nullptr, nullptr),
            S_OK);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"A-12");
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS put_params{&value, &put, 1, 1};
  ASSERT_EQ(cell.pdispVal->Invoke(0x6, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put_params, nullptr,
                                  nullptr, nullptr),
            S_OK);
  EXPECT_EQ(sink.seen, L"Book1|Sheet1|3,4");
  EXPECT_EQ(sink.thread, link.id());

  link.Run([&] {
    EXPECT_EQ(AtlUnadvise(remote_app, DIID_AppEvents, cookie), S_OK);
    remote_app->Release();
  });
  link.Quit();
  link.Join();
  VariantClear(&value);
  VariantClear(&cell);
  cells->Release();
  sheet->Release();
  excel->Release();
  RevokeApplicationClass();
  CoUninitialize();
}

}  // namespace
}  // namespace sheetwise::calc
