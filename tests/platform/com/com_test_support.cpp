#include "com_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "platform/com/errorinfo.h"
#include "platform/win/msgqueue.h"
#include "platform/win/msgqueue_internal.h"

namespace comtest {

namespace {

constexpr DWORD kHangGuardMs = 60'000;

class WorkerProxy : public DualInterfaceProxy<ITestWorker> {
 public:
  using DualInterfaceProxy::DualInterfaceProxy;
  HRESULT WhereAmI(LONG* thread_id) override { return GetLong(1, thread_id); }
  HRESULT Fail() override { return CallByDispid(2); }
  HRESULT AdvanceAndWait() override { return CallByDispid(3); }
  HRESULT Echo(BSTR text, BSTR* copy) override {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = text;
    VARIANT r;
    VariantInit(&r);
    HRESULT hr = CallByDispid(4, {arg}, &r);
    if (SUCCEEDED(hr)) *copy = r.bstrVal;
    return hr;
  }
  HRESULT Add(LONG a, LONG b, LONG* sum) override {
    VARIANT va, vb, r;
    VariantInit(&va);
    VariantInit(&vb);
    VariantInit(&r);
    va.vt = vb.vt = VT_I4;
    va.lVal = a;
    vb.lVal = b;
    HRESULT hr = CallByDispid(5, {va, vb}, &r);
    if (SUCCEEDED(hr)) *sum = r.lVal;
    return hr;
  }
  HRESULT CallBack(IDispatch*, LONG*) override { return E_NOTIMPL; }
  HRESULT get_Value(LONG* value) override { return GetLong(7, value, DISPATCH_PROPERTYGET); }
  HRESULT put_Value(LONG value) override {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return CallByDispid(7, {v}, nullptr, DISPATCH_PROPERTYPUT);
  }
  HRESULT Scale(LONG*, LONG) override { return E_NOTIMPL; }

 private:
  HRESULT GetLong(DISPID id, LONG* out, WORD flags = DISPATCH_METHOD) {
    VARIANT r;
    VariantInit(&r);
    HRESULT hr = CallByDispid(id, {}, &r, flags);
    if (SUCCEEDED(hr)) *out = r.lVal;
    return hr;
  }
};

class AppEventHandlerProxy : public DualInterfaceProxy<IAppEventHandler> {
 public:
  using DualInterfaceProxy::DualInterfaceProxy;
  HRESULT Enable() override { return CallByDispid(1); }
  HRESULT Disable() override { return CallByDispid(2); }
};

UINT TaskMessage() {
  static const UINT msg = [] {
    UINT id = RegisterWindowMessageW(L"Sheetwise.ComTest.Task");
    win_internal::SetThreadMessageHandler(id, [](const MSG& m) -> LRESULT {
      std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(m.lParam));
      (*fn)();
      return 0;
    });
    return id;
  }();
  return msg;
}

}  // namespace

void RegisterTestTypeLib() {
  static std::once_flag once;
  std::call_once(once, [] {
    TypeLibBuilder b(LIBID_ComTest, 1, 0, L"ComTest", L"COM runtime test library");
    b.Interface(IID_ITestWorker, L"ITestWorker", L"Reports where it runs", TypeKind::kDual)
        .Method<&ITestWorker::WhereAmI>(1, L"WhereAmI", L"The thread id")
        .Method<&ITestWorker::Fail>(2, L"Fail", L"Fails with error information")
        .Method<&ITestWorker::AdvanceAndWait>(3, L"AdvanceAndWait", L"")
        .Method<&ITestWorker::Echo>(4, L"Echo", L"", {L"Text"})
        .Method<&ITestWorker::Add>(5, L"Add", L"Sum of two numbers", {L"A", L"B"})
        .Method<&ITestWorker::CallBack>(6, L"CallBack", L"", {L"Other"})
        .PropertyGet<&ITestWorker::get_Value>(7, L"Value", L"A stored number")
        .PropertyPut<&ITestWorker::put_Value>(7, L"Value", L"A stored number")
        .Method<&ITestWorker::Scale>(8, L"Scale", L"Multiplies a number in place")
        .Proxy<WorkerProxy>();
    b.Interface(IID_IAppEventHandler, L"IAppEventHandler", L"Live link", TypeKind::kDual)
        .Method<&IAppEventHandler::Enable>(1, L"Enable", L"Connect")
        .Method<&IAppEventHandler::Disable>(2, L"Disable", L"Disconnect")
        .Proxy<AppEventHandlerProxy>();
    b.Interface(IID_ITestCell, L"ITestCell", L"A cell", TypeKind::kDual)
        .PropertyGet<&ITestCell::get_Kind>(1, L"Kind", L"")
        .Method<&ITestCell::GetColumn>(2, L"GetColumn", L"");
    b.Interface(DIID_TestAppEvents, L"AppEvents", L"Events", TypeKind::kDispinterface)
        .Event(kDispidSheetChange, L"SheetChange", L"", {VT_DISPATCH, VT_DISPATCH},
               {L"Sh", L"Target"});
    ITypeLib* lib = nullptr;
    ASSERT_EQ(b.Build(&lib), S_OK);
    ASSERT_EQ(RegisterTypeLib(lib, L"comtest.tlb", nullptr), S_OK);
    lib->Release();
  });
}

void RaiseError(const wchar_t* source, const wchar_t* description) {
  ICreateErrorInfo* create = nullptr;
  CreateErrorInfo(&create);
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetDescription(const_cast<LPOLESTR>(description));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  SetErrorInfo(0, info);
  info->Release();
  create->Release();
}

std::function<void()> Worker::advance_clock;
HANDLE Worker::timer_fired = nullptr;

HRESULT Worker::WhereAmI(LONG* thread_id) {
  *thread_id = static_cast<LONG>(GetCurrentThreadId());
  return S_OK;
}
HRESULT Worker::Fail() {
  RaiseError(L"Worker", L"The worker broke");
  return E_ACCESSDENIED;
}
HRESULT Worker::AdvanceAndWait() {
  if (!advance_clock || !timer_fired) return E_UNEXPECTED;
  advance_clock();
  // Only a caller that dispatches its messages while it waits can run its timer now.
  return WaitForSingleObject(timer_fired, kHangGuardMs) == WAIT_OBJECT_0 ? S_OK : E_FAIL;
}
HRESULT Worker::Echo(BSTR text, BSTR* copy) {
  *copy = SysAllocStringLen(text, SysStringLen(text));
  return S_OK;
}
HRESULT Worker::Add(LONG a, LONG b, LONG* sum) {
  *sum = a + b;
  return S_OK;
}
HRESULT Worker::CallBack(IDispatch* other, LONG* thread_id) {
  if (!other) return E_POINTER;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT r;
  VariantInit(&r);
  HRESULT hr = other->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  *thread_id = r.lVal;
  return S_OK;
}
HRESULT Worker::get_Value(LONG* value) {
  *value = value_;
  return S_OK;
}
HRESULT Worker::put_Value(LONG value) {
  value_ = value;
  return S_OK;
}
HRESULT Worker::Scale(LONG* value, LONG by) {
  *value *= by;
  return S_OK;
}

HRESULT Cell::get_Kind(BSTR* kind) {
  *kind = SysAllocString(kind_.c_str());
  return S_OK;
}
HRESULT Cell::GetColumn(LONG* column) {
  last_thread_ = GetCurrentThreadId();
  *column = column_;
  return S_OK;
}

// ---- StaThread ----------------------------------------------------------------------------------

StaThread::StaThread() {
  TaskMessage();
  ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, &StaThread::Main, this, 0, &id_);
  EXPECT_EQ(WaitForSingleObject(ready_, kHangGuardMs), WAIT_OBJECT_0);
}

StaThread::~StaThread() {
  if (thread_) {
    Quit();
    Join();
  }
  CloseHandle(ready_);
}

DWORD StaThread::Main(LPVOID param) {
  auto* self = static_cast<StaThread*>(param);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  SetEvent(self->ready_);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (self->after_loop) self->after_loop();
  CoUninitialize();
  return 0;
}

void StaThread::Run(const std::function<void()>& fn) {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto* task = new std::function<void()>([&fn, done] {
    fn();
    SetEvent(done);
  });
  ASSERT_TRUE(PostThreadMessageW(id_, TaskMessage(), 0, reinterpret_cast<LPARAM>(task)));
  EXPECT_TRUE(WaitPumping(done)) << "task on the STA thread hangs";
  CloseHandle(done);
}

void StaThread::Quit() {
  PostThreadMessageW(
      id_, TaskMessage(), 0,
      reinterpret_cast<LPARAM>(new std::function<void()>([] { PostQuitMessage(0); })));
}

void StaThread::Join() {
  if (!thread_) return;
  EXPECT_TRUE(WaitPumping(thread_)) << "STA thread does not end";
  CloseHandle(thread_);
  thread_ = nullptr;
}

bool WaitPumping(HANDLE event) {
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, kHangGuardMs, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    PumpPending();
  }
}

void PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    DispatchMessageW(&msg);
  }
}

}  // namespace comtest
