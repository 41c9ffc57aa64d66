// Apartments, proxies between threads, the running-object table across apartments, and the live
// link's call pattern end to end.
#include "platform/com/marshal.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "com_test_support.h"
#include "platform/com/classes.h"
#include "platform/com/errorinfo.h"
#include "platform/com/rot.h"
#include "platform/win/msgqueue.h"
#include "platform/win/msgqueue_internal.h"

using namespace comtest;

namespace {

constexpr CLSID CLSID_TestWorker = {
    0x8E0F1A30, 0x3333, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}};

// The test body runs on the gtest thread, which becomes an STA for the test's duration.
struct Sta {
  Sta() {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    RegisterTestTypeLib();
  }
  ~Sta() {
    PumpPending();  // releases that other apartments posted to us
    CoUninitialize();
  }
};

// Makes an object on `owner` (`make` answers it as `iid`, with one reference) and returns a proxy
// to it for the calling thread.
template <class I, class MakeFn>
I* ProxyOn(StaThread& owner, REFIID iid, MakeFn make) {
  IStream* stream = nullptr;
  owner.Run([&] {
    IUnknown* object = make();
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(iid, object, &stream), S_OK);
    object->Release();  // the stream holds the object now
  });
  I* proxy = nullptr;
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, iid, reinterpret_cast<void**>(&proxy)), S_OK);
  return proxy;
}

ITestWorker* WorkerOn(StaThread& owner, CComObject<Worker>** real = nullptr) {
  return ProxyOn<ITestWorker>(owner, IID_ITestWorker, [&]() -> IUnknown* {
    auto* w = Make<Worker>();
    if (real) *real = w;
    return static_cast<ITestWorker*>(w);
  });
}

void FreeTexts(EXCEPINFO& ex) {
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
}

// The thread a worker's call ran on; 0 when the call failed.
DWORD ThreadOf(ITestWorker* worker) {
  LONG tid = 0;
  return worker->WhereAmI(&tid) == S_OK ? static_cast<DWORD>(tid) : 0;
}

ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

VARIANT Dispatch(IDispatch* d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = d;
  return v;
}

}  // namespace

TEST(Apartments, InitialisationCountsAndModes) {
  std::thread t([] {
    APTTYPE type;
    int qualifier = 0;
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_STA);
    CoUninitialize();
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);  // still once initialised
    CoUninitialize();
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
    CoUninitialize();  // unbalanced: nothing happens
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_MTA);
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(reinterpret_cast<LPVOID>(1), COINIT_APARTMENTTHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
  });
  t.join();
}

TEST(Proxy, CallsRunOnTheOwnerThreadWithValuesCopied) {
  Sta sta;
  StaThread owner;
  CComObject<Worker>* real = nullptr;
  ITestWorker* proxy = WorkerOn(owner, &real);
  ASSERT_NE(proxy, nullptr);
  EXPECT_NE(proxy, static_cast<ITestWorker*>(real));

  EXPECT_EQ(ThreadOf(proxy), owner.id());
  LONG sum = 0;
  ASSERT_EQ(proxy->Add(40, 2, &sum), S_OK);
  EXPECT_EQ(sum, 42);
  ASSERT_EQ(proxy->put_Value(9), S_OK);
  LONG value = 0;
  ASSERT_EQ(proxy->get_Value(&value), S_OK);
  EXPECT_EQ(value, 9);
  BSTR in = SysAllocString(L"Zelle ä");
  BSTR out = nullptr;
  ASSERT_EQ(proxy->Echo(in, &out), S_OK);
  EXPECT_STREQ(out, L"Zelle ä");
  EXPECT_NE(out, in);
  SysFreeString(in);
  SysFreeString(out);

  // Identity: every proxy of the object answers the same IUnknown.
  IUnknown* unk1 = nullptr;
  IUnknown* unk2 = nullptr;
  IDispatch* disp = nullptr;
  ASSERT_EQ(proxy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk1)), S_OK);
  ASSERT_EQ(proxy->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  ASSERT_EQ(disp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk2)), S_OK);
  EXPECT_EQ(unk1, unk2);
  void* none = nullptr;
  EXPECT_EQ(proxy->QueryInterface(IID_IConnectionPointContainer, &none), E_NOINTERFACE);

  // A by-reference argument comes back; an interface argument from this thread arrives on the
  // owner as a proxy to us, so the owner's call back into it runs here while we wait.
  LONG scaled = 5;
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[0].vt = VT_I4;
  args[0].lVal = 3;
  args[1].vt = VT_I4 | VT_BYREF;
  args[1].plVal = &scaled;
  DISPPARAMS dp{args, nullptr, 2, 0};
  ASSERT_EQ(disp->Invoke(8, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(scaled, 15);

  auto* mine = Make<Worker>();
  VARIANT arg = Dispatch(static_cast<ITestWorker*>(mine));
  DISPPARAMS one{&arg, nullptr, 1, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(disp->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(static_cast<DWORD>(result.lVal), GetCurrentThreadId());

  // The object's own proxy passed back to it arrives as the object itself: its call is direct.
  VARIANT self = Dispatch(disp);
  DISPPARAMS back{&self, nullptr, 1, 0};
  ASSERT_EQ(disp->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &back, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(static_cast<DWORD>(result.lVal), owner.id());

  // A proxy belongs to its apartment.
  std::thread other([&] {
    LONG tid = 0;
    EXPECT_EQ(proxy->WhereAmI(&tid), RPC_E_WRONG_THREAD);
  });
  other.join();

  // Releasing every proxy releases the object's references on its own thread.
  auto* keep = static_cast<ITestWorker*>(real);
  ULONG before = 0;
  owner.Run([&] {
    keep->AddRef();  // the test's own reference
    before = RefCount(keep);
  });
  EXPECT_EQ(before, 3u);  // ours, and one for each interface the proxy holds
  unk1->Release();
  unk2->Release();
  disp->Release();
  proxy->Release();
  ULONG after = 99;
  owner.Run([&] {
    after = RefCount(keep);
    keep->Release();
  });
  EXPECT_EQ(after, 1u);
  mine->Release();
}

TEST(Proxy, ErrorsComeBackToTheCaller) {
  Sta sta;
  StaThread owner;
  ITestWorker* proxy = WorkerOn(owner);
  ASSERT_NE(proxy, nullptr);
  // A vtable call of the dual interface: the method's HRESULT and its error information.
  EXPECT_EQ(proxy->Fail(), E_ACCESSDENIED);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_STREQ(text, L"The worker broke");
  SysFreeString(text);
  info->Release();

  // Late bound: a bad call is refused (the EXCEPINFO crossing threads is tested below).
  IDispatch* disp = nullptr;
  ASSERT_EQ(proxy->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  UINT err = 9;
  EXPECT_EQ(disp->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, &err),
            DISP_E_BADPARAMCOUNT);
  disp->Release();
  proxy->Release();
}

namespace {

// Fails every call with an exception whose texts are filled in later, by a routine that must run
// on the object's own thread (it may read state only that thread may touch).
class LateFailer : public CComObjectRoot, public IDispatch {
 public:
  BEGIN_COM_MAP(LateFailer)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, IDispatch)
  END_COM_MAP()

  static inline std::atomic<DWORD> fill_in_thread{0};

  static HRESULT FillIn(EXCEPINFO* ex) {
    fill_in_thread = GetCurrentThreadId();
    ex->bstrSource = SysAllocString(L"Late");
    ex->bstrDescription = SysAllocString(L"Filled in on demand");
    ex->scode = E_ACCESSDENIED;
    return S_OK;
  }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO* ex, UINT*) override {
    if (ex) {
      *ex = EXCEPINFO{};
      ex->pfnDeferredFillIn = &FillIn;
    }
    return DISP_E_EXCEPTION;
  }
};

}  // namespace

TEST(Proxy, DeferredExceptionTextsAreFilledInOnTheOwnerThread) {
  Sta sta;
  StaThread owner;
  IDispatch* proxy = ProxyOn<IDispatch>(owner, IID_IDispatch,
                                        [] { return static_cast<IDispatch*>(Make<LateFailer>()); });
  ASSERT_NE(proxy, nullptr);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXCEPINFO ex{};
  EXPECT_EQ(proxy->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &ex, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(LateFailer::fill_in_thread.load(), owner.id());
  // The caller gets the texts, and no routine to run on a thread it does not own.
  EXPECT_EQ(ex.pfnDeferredFillIn, nullptr);
  EXPECT_EQ(ex.scode, E_ACCESSDENIED);
  EXPECT_STREQ(ex.bstrSource, L"Late");
  EXPECT_STREQ(ex.bstrDescription, L"Filled in on demand");
  FreeTexts(ex);
  proxy->Release();
}

TEST(Proxy, WaitingCallerKeepsDispatchingItsTimers) {
  Sta sta;
  win_internal::FakeClock clock;
  static HANDLE fired = nullptr;
  fired = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Worker::timer_fired = fired;
  Worker::advance_clock = [&] { clock.Advance(100); };
  StaThread owner;
  ITestWorker* proxy = WorkerOn(owner);
  ASSERT_NE(proxy, nullptr);
  UINT_PTR timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) { SetEvent(fired); });
  ASSERT_NE(timer, 0u);
  // The owner advances our clock and waits for our timer: only a caller that pumps its queue
  // while it waits lets it fire.
  EXPECT_EQ(proxy->AdvanceAndWait(), S_OK);
  EXPECT_EQ(WaitForSingleObject(fired, 0), WAIT_OBJECT_0);
  KillTimer(nullptr, timer);
  proxy->Release();
  Worker::advance_clock = nullptr;
  Worker::timer_fired = nullptr;
  owner.Quit();
  owner.Join();
  CloseHandle(fired);
}

TEST(Proxy, CallsAfterTheOwnerEndedAreDisconnected) {
  Sta sta;
  {
    // The owner's WM_QUIT ends its loop and its apartment: later calls fail at once.
    StaThread owner;
    ITestWorker* proxy = WorkerOn(owner);
    ASSERT_NE(proxy, nullptr);
    owner.Quit();
    owner.Join();
    LONG tid = 0;
    EXPECT_EQ(proxy->WhereAmI(&tid), RPC_E_DISCONNECTED);
    IDispatch* disp = nullptr;
    EXPECT_EQ(proxy->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)),
              RPC_E_DISCONNECTED);
    proxy->Release();
  }
  {
    // A call waiting in the queue of an owner that stopped pumping fails when it uninitialises.
    StaThread owner;
    HANDLE loop_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const DWORD me = GetCurrentThreadId();
    owner.after_loop = [&] {
      SetEvent(loop_ended);
      EXPECT_TRUE(win_internal::WaitForThreadIdle(me, 60'000));  // our call is queued
    };
    ITestWorker* proxy = WorkerOn(owner);
    ASSERT_NE(proxy, nullptr);
    owner.Quit();
    ASSERT_EQ(WaitForSingleObject(loop_ended, 60'000), WAIT_OBJECT_0);
    LONG tid = 0;
    EXPECT_EQ(proxy->WhereAmI(&tid), RPC_E_DISCONNECTED);
    owner.Join();
    proxy->Release();
    CloseHandle(loop_ended);
  }
}

TEST(Proxy, UnmarshallingOnTheOwnerThreadGivesTheObject) {
  Sta sta;
  auto* w = Make<Worker>();
  IStream* stream = nullptr;
  ASSERT_EQ(
      CoMarshalInterThreadInterfaceInStream(IID_IDispatch, static_cast<ITestWorker*>(w), &stream),
      S_OK);
  IDispatch* back = nullptr;
  ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&back)),
            S_OK);
  EXPECT_EQ(back, static_cast<IDispatch*>(static_cast<ITestWorker*>(w)));
  back->Release();
  EXPECT_EQ(RefCount(static_cast<ITestWorker*>(w)), 1u);
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IConnectionPoint,
                                                  static_cast<ITestWorker*>(w), &stream),
            E_NOINTERFACE);
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(nullptr, IID_IDispatch, reinterpret_cast<void**>(&back)),
            E_INVALIDARG);
  w->Release();
}

TEST(RunningObjectTable, SameApartmentGetsTheObjectOthersAProxy) {
  Sta sta;
  IUnknown* unk = nullptr;
  EXPECT_EQ(GetActiveObject(CLSID_TestWorker, nullptr, &unk), MK_E_UNAVAILABLE);
  StaThread owner;
  CComObject<Worker>* real = nullptr;
  DWORD cookie = 0;
  auto register_worker = [&] {
    real = Make<Worker>();
    EXPECT_EQ(RegisterActiveObject(static_cast<ITestWorker*>(real), CLSID_TestWorker,
                                   ACTIVEOBJECT_STRONG, &cookie),
              S_OK);
    real->Release();  // the table keeps it alive
  };
  owner.Run([&] {
    register_worker();
    IUnknown* same = nullptr;
    EXPECT_EQ(GetActiveObject(CLSID_TestWorker, nullptr, &same), S_OK);
    EXPECT_EQ(same, static_cast<IUnknown*>(static_cast<ITestWorker*>(real)));
    same->Release();
  });
  ASSERT_EQ(GetActiveObject(CLSID_TestWorker, nullptr, &unk), S_OK);
  EXPECT_NE(unk, static_cast<IUnknown*>(static_cast<ITestWorker*>(real)));
  ITestWorker* proxy = nullptr;
  ASSERT_EQ(unk->QueryInterface(IID_ITestWorker, reinterpret_cast<void**>(&proxy)), S_OK);
  EXPECT_EQ(ThreadOf(proxy), owner.id());
  proxy->Release();
  unk->Release();

  EXPECT_EQ(RevokeActiveObject(cookie, nullptr), S_OK);
  EXPECT_EQ(RevokeActiveObject(cookie, nullptr), E_INVALIDARG);
  EXPECT_EQ(GetActiveObject(CLSID_TestWorker, nullptr, &unk), MK_E_UNAVAILABLE);

  owner.Run(register_worker);  // an entry goes away with its apartment
  owner.Quit();
  owner.Join();
  EXPECT_EQ(GetActiveObject(CLSID_TestWorker, nullptr, &unk), MK_E_UNAVAILABLE);
}

namespace {

_ATL_FUNC_INFO kSheetChangeInfo = {CC_STDCALL, VT_EMPTY, 2, {VT_DISPATCH, VT_DISPATCH}};

struct LinkRecord {
  DWORD enable_thread = 0;
  DWORD event_thread = 0;
  std::vector<std::wstring> kinds;
  LONG column = 0;
  HRESULT column_hr = E_FAIL;
};

std::wstring KindOf(IDispatch* d) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT r;
  VariantInit(&r);
  if (FAILED(d->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr))) {
    return L"?";
  }
  std::wstring kind = r.vt == VT_BSTR && r.bstrVal ? r.bstrVal : L"";
  VariantClear(&r);
  return kind;
}

// The live link's handler: lives on its apartment thread; Enable finds the running application
// and advises itself on its events; the event handler reads the changed range back.
class Handler : public CComObjectRoot,
                public IDispatchImpl<IAppEventHandler, &IID_IAppEventHandler, &LIBID_ComTest, 1, 0>,
                public IDispEventSimpleImpl<1, Handler, &DIID_TestAppEvents> {
 public:
  BEGIN_COM_MAP(Handler)
  COM_INTERFACE_ENTRY_IID(IID_IAppEventHandler, IAppEventHandler)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, IAppEventHandler)
  END_COM_MAP()

  HRESULT Enable() override {
    record->enable_thread = GetCurrentThreadId();
    HRESULT hr = GetActiveObject(CLSID_TestApp, nullptr, &app_);
    if (FAILED(hr)) return hr;
    return DispEventAdvise(app_);
  }
  HRESULT Disable() override {
    HRESULT hr = DispEventUnadvise(app_);
    app_->Release();
    app_ = nullptr;
    return hr;
  }
  void OnSheetChange(IDispatch* sheet, IDispatch* target) {
    record->event_thread = GetCurrentThreadId();
    record->kinds = {KindOf(sheet), KindOf(target)};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT r;
    VariantInit(&r);
    record->column_hr =
        target->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr);
    record->column = r.lVal;
  }

  BEGIN_SINK_MAP(Handler)
  SINK_ENTRY_INFO(1, DIID_TestAppEvents, kDispidSheetChange, &Handler::OnSheetChange,
                  &kSheetChangeInfo)
  END_SINK_MAP()

  LinkRecord* record = nullptr;
  IUnknown* app_ = nullptr;
};

}  // namespace

TEST(LiveLink, EventsCrossApartmentsBothWaysWithoutDeadlock) {
  Sta sta;
  const DWORD main_thread = GetCurrentThreadId();
  auto* app = Make<TestApp>();
  DWORD cookie = 0;
  ASSERT_EQ(RegisterActiveObject(static_cast<IDispatch*>(app), CLSID_TestApp, ACTIVEOBJECT_STRONG,
                                 &cookie),
            S_OK);
  auto* sheet = Make<Cell>();
  sheet->kind_ = L"sheet";
  auto* range = Make<Cell>();
  range->kind_ = L"range";
  range->column_ = 7;

  LinkRecord record;
  StaThread link;
  IAppEventHandler* handler =
      ProxyOn<IAppEventHandler>(link, IID_IAppEventHandler, [&]() -> IUnknown* {
        auto* h = Make<Handler>();
        h->record = &record;
        return static_cast<IAppEventHandler*>(h);
      });
  ASSERT_NE(handler, nullptr);

  // Enable runs on the link thread and calls back into this thread (GetActiveObject,
  // FindConnectionPoint, Advise) while this thread waits in its own call.
  ASSERT_EQ(handler->Enable(), S_OK);
  EXPECT_EQ(record.enable_thread, link.id());
  EXPECT_EQ(app->SinkCount(DIID_TestAppEvents), 1u);

  // The event runs on the link thread; its handler reads the range here meanwhile.
  VARIANT args[2] = {Dispatch(static_cast<ITestCell*>(sheet)),
                     Dispatch(static_cast<ITestCell*>(range))};
  ASSERT_EQ(app->FireEvent(DIID_TestAppEvents, kDispidSheetChange, args, 2), S_OK);
  EXPECT_EQ(record.event_thread, link.id());
  EXPECT_EQ(record.kinds, (std::vector<std::wstring>{L"sheet", L"range"}));
  EXPECT_EQ(record.column_hr, S_OK);
  EXPECT_EQ(record.column, 7);
  EXPECT_EQ(range->last_thread_, main_thread);

  ASSERT_EQ(handler->Disable(), S_OK);
  EXPECT_EQ(app->SinkCount(DIID_TestAppEvents), 0u);
  handler->Release();
  EXPECT_EQ(RevokeActiveObject(cookie, nullptr), S_OK);
  link.Quit();
  link.Join();
  PumpPending();
  EXPECT_EQ(RefCount(static_cast<IDispatch*>(app)), 1u);  // every proxy's reference is back
  sheet->Release();
  range->Release();
  app->Release();
}

namespace {

class WorkerFactory : public CComObjectRoot, public IClassFactory {
 public:
  BEGIN_COM_MAP(WorkerFactory)
  COM_INTERFACE_ENTRY_IID(IID_IClassFactory, IClassFactory)
  END_COM_MAP()
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* w = Make<Worker>();
    HRESULT hr = w->QueryInterface(riid, ppv);
    w->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

}  // namespace

TEST(ClassObjects, CreatingFromAnotherApartmentGivesAProxyToTheRegisteringThread) {
  Sta sta;
  StaThread owner;
  DWORD cookie = 0;
  owner.Run([&] {
    auto* factory = Make<WorkerFactory>();
    EXPECT_EQ(CoRegisterClassObject(CLSID_TestWorker, static_cast<IClassFactory*>(factory),
                                    CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    factory->Release();
    // Its own apartment gets the object itself.
    ITestWorker* direct = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestWorker, nullptr, CLSCTX_LOCAL_SERVER, IID_ITestWorker,
                               reinterpret_cast<void**>(&direct)),
              S_OK);
    EXPECT_EQ(ThreadOf(direct), owner.id());
    direct->Release();
  });
  ITestWorker* proxy = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestWorker, nullptr, CLSCTX_LOCAL_SERVER, IID_ITestWorker,
                             reinterpret_cast<void**>(&proxy)),
            S_OK);
  EXPECT_EQ(ThreadOf(proxy), owner.id());
  proxy->Release();
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_TestWorker, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* aggregated = nullptr;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                    reinterpret_cast<void**>(&aggregated)),
            CLASS_E_NOAGGREGATION);
  factory->Release();
  owner.Run([&] { EXPECT_EQ(CoRevokeClassObject(cookie), S_OK); });
}
