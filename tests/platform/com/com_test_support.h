// Test objects for the apartment, marshalling, type-library and connection-point tests: a small
// type library with dual interfaces and an event dispinterface, objects implementing them, and an
// STA thread that runs a message loop.
#pragma once

#include <functional>
#include <string>

#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/connpt.h"
#include "platform/com/dispimpl.h"
#include "platform/com/marshal.h"
#include "platform/com/typelib.h"
#include "platform/com/variant.h"
#include "platform/win/sync.h"

namespace comtest {

inline constexpr GUID LIBID_ComTest = {
    0x8E0F1A10, 0x1111, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline constexpr IID IID_ITestWorker = {
    0x8E0F1A11, 0x1111, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline constexpr IID IID_IAppEventHandler = {
    0x8E0F1A12, 0x1111, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline constexpr IID IID_ITestCell = {
    0x8E0F1A13, 0x1111, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline constexpr IID DIID_TestAppEvents = {
    0x8E0F1A14, 0x1111, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline constexpr CLSID CLSID_TestApp = {
    0x8E0F1A15, 0x1111, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

inline constexpr DISPID kDispidSheetChange = 0x61C;
inline constexpr DISPID kDispidWorkbookOpen = 0x61F;

struct ITestWorker : IDispatch {
  virtual HRESULT WhereAmI(LONG* thread_id) = 0;       // 1
  virtual HRESULT Fail() = 0;                          // 2: error info + E_ACCESSDENIED
  virtual HRESULT AdvanceAndWait() = 0;                // 3
  virtual HRESULT Echo(BSTR text, BSTR* copy) = 0;     // 4
  virtual HRESULT Add(LONG a, LONG b, LONG* sum) = 0;  // 5
  virtual HRESULT CallBack(IDispatch* other, LONG* thread_id) = 0;  // 6
  virtual HRESULT get_Value(LONG* value) = 0;                       // 7
  virtual HRESULT put_Value(LONG value) = 0;                        // 7
  virtual HRESULT Scale(LONG* value, LONG by) = 0;                  // 8: by-reference in/out
};

struct IAppEventHandler : IDispatch {
  virtual HRESULT Enable() = 0;   // 1
  virtual HRESULT Disable() = 0;  // 2
};

struct ITestCell : IDispatch {
  virtual HRESULT get_Kind(BSTR* kind) = 0;     // 1
  virtual HRESULT GetColumn(LONG* column) = 0;  // 2: records its thread
};

/// Registers the test type library once per process.
void RegisterTestTypeLib();

/// Error information as a failing method leaves it.
void RaiseError(const wchar_t* source, const wchar_t* description);

/// The worker: each call reports where it ran. `fake_clock` (optional) and `timer_fired` serve
/// AdvanceAndWait: it advances the clock by 100 ms and waits until the caller's timer procedure
/// has signalled `timer_fired`.
class Worker : public CComObjectRoot,
               public IDispatchImpl<ITestWorker, &IID_ITestWorker, &LIBID_ComTest, 1, 0> {
 public:
  BEGIN_COM_MAP(Worker)
  COM_INTERFACE_ENTRY_IID(IID_ITestWorker, ITestWorker)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, ITestWorker)
  END_COM_MAP()

  HRESULT WhereAmI(LONG* thread_id) override;
  HRESULT Fail() override;
  HRESULT AdvanceAndWait() override;
  HRESULT Echo(BSTR text, BSTR* copy) override;
  HRESULT Add(LONG a, LONG b, LONG* sum) override;
  HRESULT CallBack(IDispatch* other, LONG* thread_id) override;
  HRESULT get_Value(LONG* value) override;
  HRESULT put_Value(LONG value) override;
  HRESULT Scale(LONG* value, LONG by) override;

  static std::function<void()> advance_clock;  // set by the test using AdvanceAndWait
  static HANDLE timer_fired;
  LONG value_ = 0;
};

/// A cell or sheet of the fake spreadsheet: its kind, and the thread GetColumn last ran on.
class Cell : public CComObjectRoot,
             public IDispatchImpl<ITestCell, &IID_ITestCell, &LIBID_ComTest, 1, 0> {
 public:
  BEGIN_COM_MAP(Cell)
  COM_INTERFACE_ENTRY_IID(IID_ITestCell, ITestCell)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, ITestCell)
  END_COM_MAP()

  HRESULT get_Kind(BSTR* kind) override;
  HRESULT GetColumn(LONG* column) override;

  std::wstring kind_;
  LONG column_ = 0;
  DWORD last_thread_ = 0;
};

/// The fake spreadsheet application: an event source with one connection point.
class TestApp : public CComObjectRoot, public IDispatch, public ConnectionPointContainerImpl {
 public:
  BEGIN_COM_MAP(TestApp)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, IDispatch)
  COM_INTERFACE_ENTRY_IID(IID_IConnectionPointContainer, IConnectionPointContainer)
  END_COM_MAP()

  TestApp() { AddConnectionPoint(DIID_TestAppEvents); }
  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
  using ConnectionPointContainerImpl::FireEvent;
  using ConnectionPointContainerImpl::SinkCount;
};

/// An STA thread running GetMessageW until WM_QUIT; tasks run inside its loop.
class StaThread {
 public:
  StaThread();
  ~StaThread();
  DWORD id() const { return id_; }
  /// Runs `fn` on the thread and waits for it, dispatching the calling thread's messages
  /// meanwhile (so `fn` may call into the caller's apartment). Fails the test on a hang.
  void Run(const std::function<void()>& fn);
  /// Posts WM_QUIT; the loop ends, then `after_loop` runs (if set), then CoUninitialize.
  void Quit();
  /// Waits for the thread's end.
  void Join();

  std::function<void()> after_loop;

 private:
  static DWORD Main(LPVOID self);
  HANDLE thread_ = nullptr;
  HANDLE ready_ = nullptr;
  DWORD id_ = 0;
};

/// A new object of class T with one reference, the caller's.
template <class T>
CComObject<T>* Make() {
  CComObject<T>* p = nullptr;
  CComObject<T>::CreateInstance(&p);
  p->AddRef();
  return p;
}

/// A VT_I4 VARIANT.
inline VARIANT Long(LONG x) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = x;
  return v;
}

/// Waits for `event`, dispatching the calling thread's messages. False after a minute (hang).
bool WaitPumping(HANDLE event);
/// Dispatches what is in the calling thread's queue now.
void PumpPending();

}  // namespace comtest
