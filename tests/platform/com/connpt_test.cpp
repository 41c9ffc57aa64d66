#include "platform/com/connpt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_test_support.h"

using namespace comtest;

namespace {

// A sink that records each event as "name:arg,arg" and may run an action while being called.
class RecordingSink : public CComObjectRoot, public IDispatch {
 public:
  BEGIN_COM_MAP(RecordingSink)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, IDispatch)
  END_COM_MAP()
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    std::wstring line = name + L":" + std::to_wstring(id);
    for (UINT i = p->cArgs; i-- > 0;) line += L"," + std::to_wstring(p->rgvarg[i].lVal);
    log->push_back(line);
    if (on_call) on_call();
    return S_OK;
  }
  std::wstring name;
  std::vector<std::wstring>* log = nullptr;
  std::function<void()> on_call;
};

CComObject<RecordingSink>* Sink(const wchar_t* name, std::vector<std::wstring>* log) {
  auto* sink = Make<RecordingSink>();
  sink->name = name;
  sink->log = log;
  return sink;
}

// An object with no IDispatch at all.
class Plain : public CComObjectRoot, public IUnknown {
 public:
  BEGIN_COM_MAP(Plain)
  COM_INTERFACE_ENTRY_IID(IID_IUnknown, IUnknown)
  END_COM_MAP()
};

}  // namespace

TEST(ConnectionPoints, AdviseFireUnadvise) {
  auto* app = Make<TestApp>();
  std::vector<std::wstring> log;
  auto* a = Sink(L"a", &log);
  auto* b = Sink(L"b", &log);

  IConnectionPoint* cp = nullptr;
  EXPECT_EQ(app->FindConnectionPoint(IID_ITestWorker, &cp), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(app->FindConnectionPoint(DIID_TestAppEvents, &cp), S_OK);
  IConnectionPointContainer* back = nullptr;
  ASSERT_EQ(cp->GetConnectionPointContainer(&back), S_OK);
  EXPECT_EQ(back, static_cast<IConnectionPointContainer*>(app));
  back->Release();

  DWORD ca = 0, cb = 0;
  ASSERT_EQ(cp->Advise(static_cast<IDispatch*>(a), &ca), S_OK);
  ASSERT_EQ(cp->Advise(static_cast<IDispatch*>(b), &cb), S_OK);
  EXPECT_NE(ca, 0u);
  EXPECT_NE(cb, 0u);
  EXPECT_NE(ca, cb);
  EXPECT_EQ(app->SinkCount(DIID_TestAppEvents), 2u);

  // Arguments are given in declaration order and arrive last-first; sinks in advise order.
  ASSERT_EQ(app->FireEvent(DIID_TestAppEvents, kDispidSheetChange, {Long(1), Long(2)}), S_OK);
  EXPECT_EQ(log, (std::vector<std::wstring>{L"a:1564,1,2", L"b:1564,1,2"}));

  EXPECT_EQ(cp->Unadvise(ca), S_OK);
  EXPECT_EQ(cp->Unadvise(ca), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp->Unadvise(12345), CONNECT_E_NOCONNECTION);
  log.clear();
  app->FireEvent(DIID_TestAppEvents, 7);
  EXPECT_EQ(log, (std::vector<std::wstring>{L"b:7"}));

  // A sink without the event interface and without IDispatch cannot connect.
  auto* plain = Make<Plain>();
  DWORD c = 99;
  EXPECT_EQ(cp->Advise(static_cast<IUnknown*>(plain), &c), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(c, 0u);
  plain->Release();

  EXPECT_EQ(cp->Unadvise(cb), S_OK);
  cp->Release();
  a->Release();
  b->Release();
  app->Release();
}

TEST(ConnectionPoints, SinksMayUnadviseWhileAnEventIsFired) {
  auto* app = Make<TestApp>();
  std::vector<std::wstring> log;
  auto* a = Sink(L"a", &log);
  auto* b = Sink(L"b", &log);
  auto* c = Sink(L"c", &log);
  DWORD ca = 0, cb = 0, cc = 0;
  IUnknown* unk = static_cast<IConnectionPointContainer*>(app);
  ASSERT_EQ(AtlAdvise(unk, static_cast<IDispatch*>(a), DIID_TestAppEvents, &ca), S_OK);
  ASSERT_EQ(AtlAdvise(unk, static_cast<IDispatch*>(b), DIID_TestAppEvents, &cb), S_OK);
  ASSERT_EQ(AtlAdvise(unk, static_cast<IDispatch*>(c), DIID_TestAppEvents, &cc), S_OK);
  // a unadvises itself and c; b drops the only reference the test keeps on itself.
  a->on_call = [&] {
    EXPECT_EQ(AtlUnadvise(unk, DIID_TestAppEvents, ca), S_OK);
    EXPECT_EQ(AtlUnadvise(unk, DIID_TestAppEvents, cc), S_OK);
  };
  b->on_call = [&] {
    EXPECT_EQ(AtlUnadvise(unk, DIID_TestAppEvents, cb), S_OK);
    b->Release();  // the firing still holds it
  };
  ASSERT_EQ(app->FireEvent(DIID_TestAppEvents, 1, {Long(5)}), S_OK);
  EXPECT_EQ(log, (std::vector<std::wstring>{L"a:1,5", L"b:1,5"}));
  EXPECT_EQ(app->SinkCount(DIID_TestAppEvents), 0u);
  a->on_call = nullptr;
  a->Release();
  c->Release();
  app->Release();
}

namespace {

_ATL_FUNC_INFO kSheetChangeInfo = {CC_STDCALL, VT_EMPTY, 2, {VT_I4, VT_BSTR}};
_ATL_FUNC_INFO kOpenInfo = {CC_STDCALL, VT_EMPTY, 1, {VT_I4}};

class Events : public IDispEventSimpleImpl<1, Events, &DIID_TestAppEvents>,
               public IDispEventSimpleImpl<2, Events, &IID_ITestCell> {
 public:
  void OnSheetChange(LONG row, BSTR text) {
    calls.push_back(L"change " + std::to_wstring(row) + L" " + text);
  }
  void OnOpen(LONG n) { calls.push_back(L"open " + std::to_wstring(n)); }
  void OnOther(LONG n) { calls.push_back(L"other " + std::to_wstring(n)); }

  BEGIN_SINK_MAP(Events)
  SINK_ENTRY_INFO(1, DIID_TestAppEvents, kDispidSheetChange, &Events::OnSheetChange,
                  &kSheetChangeInfo)
  SINK_ENTRY_INFO(1, DIID_TestAppEvents, kDispidWorkbookOpen, &Events::OnOpen, &kOpenInfo)
  SINK_ENTRY_INFO(2, IID_ITestCell, kDispidWorkbookOpen, &Events::OnOther, &kOpenInfo)
  END_SINK_MAP()

  std::vector<std::wstring> calls;
};

}  // namespace

TEST(IDispEventSimpleImpl, CallsHandlersFromTheSinkMap) {
  Events events;
  using Sink1 = IDispEventSimpleImpl<1, Events, &DIID_TestAppEvents>;
  IDispatch* sink = events.Sink1::GetEventSinkDispatch();
  void* p = nullptr;
  EXPECT_EQ(sink->QueryInterface(DIID_TestAppEvents, &p), S_OK);
  EXPECT_EQ(sink->QueryInterface(IID_ITestCell, &p), E_NOINTERFACE);

  // SheetChange(row, text): rgvarg holds text first; the row arrives as text and is converted.
  auto invoke = [&](DISPID id, DISPPARAMS* dp, UINT* err = nullptr) {
    return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, dp, nullptr, nullptr, err);
  };
  // SheetChange(row, text): rgvarg holds text first; the row arrives as text and is converted.
  VARIANT args[2];
  args[0].vt = args[1].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(L"hello");
  args[1].bstrVal = SysAllocString(L"12");
  DISPPARAMS dp{args, nullptr, 2, 0};
  ASSERT_EQ(invoke(kDispidSheetChange, &dp), S_OK);
  // Unknown DISPIDs are ignored; the entry of sink 2 is not sink 1's.
  DISPPARAMS one{args, nullptr, 1, 0};
  EXPECT_EQ(invoke(999, &dp), S_OK);
  // Wrong argument count, and an argument that does not convert (index in rgvarg).
  EXPECT_EQ(invoke(kDispidWorkbookOpen, &dp), DISP_E_BADPARAMCOUNT);
  UINT err = 9;
  EXPECT_EQ(invoke(kDispidWorkbookOpen, &one, &err), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(err, 0u);
  VARIANT seven = Long(7);
  DISPPARAMS open{&seven, nullptr, 1, 0};
  ASSERT_EQ(invoke(kDispidWorkbookOpen, &open), S_OK);
  EXPECT_EQ(events.calls, (std::vector<std::wstring>{L"change 12 hello", L"open 7"}));
  VariantClear(&args[0]);
  VariantClear(&args[1]);
}

TEST(IDispEventSimpleImpl, AdvisesAndUnadvisesOnASource) {
  auto* app = Make<TestApp>();
  Events events;
  using Sink1 = IDispEventSimpleImpl<1, Events, &DIID_TestAppEvents>;
  IUnknown* source = static_cast<IConnectionPointContainer*>(app);
  ASSERT_EQ(events.Sink1::DispEventAdvise(source), S_OK);
  EXPECT_EQ(events.Sink1::DispEventAdvise(source), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(app->SinkCount(DIID_TestAppEvents), 1u);
  VARIANT a[2] = {Long(3), Long(0)};
  a[1].vt = VT_BSTR;
  a[1].bstrVal = SysAllocString(L"x");
  ASSERT_EQ(app->FireEvent(DIID_TestAppEvents, kDispidSheetChange, a, 2), S_OK);
  EXPECT_EQ(events.calls, (std::vector<std::wstring>{L"change 3 x"}));
  VariantClear(&a[1]);
  EXPECT_EQ(events.Sink1::DispEventUnadvise(source), S_OK);
  EXPECT_EQ(events.Sink1::DispEventUnadvise(source), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(app->SinkCount(DIID_TestAppEvents), 0u);
  // A sink for an interface the source has no point for.
  using Sink2 = IDispEventSimpleImpl<2, Events, &IID_ITestCell>;
  EXPECT_EQ(events.Sink2::DispEventAdvise(source), CONNECT_E_NOCONNECTION);
  app->Release();
}
