// The cost of one Automation call: IDispatch::Invoke within one thread through IDispatchImpl and
// the registered type information (the application's calls into the spreadsheet application;
// must stay well under a microsecond), and one round trip through a proxy to an object on
// another apartment thread (the live link's calls).
#include <benchmark/benchmark.h>

#include "platform/com/apartment.h"
#include "platform/com/dispimpl.h"
#include "platform/com/marshal.h"
#include "platform/com/typelib.h"
#include "platform/com/variant.h"
#include "platform/win/msgqueue.h"
#include "platform/win/sync.h"

namespace {

constexpr GUID LIBID_Bench = {
    0x8E0F1B00, 0x4444, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}};
constexpr IID IID_IBenchCalc = {
    0x8E0F1B01, 0x4444, 0x4A4A, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}};

struct IBenchCalc : IDispatch {
  virtual HRESULT Add(LONG a, LONG b, LONG* sum) = 0;  // DISPID 1
};

class Calc : public CComObjectRoot,
             public IDispatchImpl<IBenchCalc, &IID_IBenchCalc, &LIBID_Bench, 1, 0> {
 public:
  BEGIN_COM_MAP(Calc)
  COM_INTERFACE_ENTRY_IID(IID_IBenchCalc, IBenchCalc)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, IBenchCalc)
  END_COM_MAP()
  HRESULT Add(LONG a, LONG b, LONG* sum) override {
    *sum = a + b;
    return S_OK;
  }
};

void RegisterBenchLib() {
  static const bool done = [] {
    TypeLibBuilder b(LIBID_Bench, 1, 0, L"Bench", L"");
    b.Interface(IID_IBenchCalc, L"IBenchCalc", L"", TypeKind::kDual)
        .Method<&IBenchCalc::Add>(1, L"Add", L"", {L"A", L"B"});
    ITypeLib* lib = nullptr;
    if (FAILED(b.Build(&lib))) return false;
    RegisterTypeLib(lib, L"bench.tlb", nullptr);
    lib->Release();
    return true;
  }();
  (void)done;
}

IDispatch* NewCalc() {
  CComObject<Calc>* p = nullptr;
  CComObject<Calc>::CreateInstance(&p);
  p->AddRef();
  return static_cast<IBenchCalc*>(p);
}

// Add(40, 2) by DISPID, arguments last-first as a late-bound caller passes them.
void InvokeAdd(benchmark::State& state, IDispatch* d) {
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[0].vt = args[1].vt = VT_I4;
  args[0].lVal = 2;
  args[1].lVal = 40;
  DISPPARAMS dp{args, nullptr, 2, 0};
  VARIANT result;
  for (auto _ : state) {
    VariantInit(&result);
    HRESULT hr = d->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, nullptr);
    if (hr != S_OK || result.lVal != 42) {
      state.SkipWithError("Invoke failed");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
}

void BM_InvokeSameThread(benchmark::State& state) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RegisterBenchLib();
  IDispatch* d = NewCalc();
  InvokeAdd(state, d);
  d->Release();
  CoUninitialize();
}
BENCHMARK(BM_InvokeSameThread);

// The owner: an STA thread that pumps its queue until WM_QUIT.
struct Owner {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  IStream* stream = nullptr;

  static DWORD Main(LPVOID param) {
    auto* self = static_cast<Owner*>(param);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDispatch* d = NewCalc();
    CoMarshalInterThreadInterfaceInStream(IID_IDispatch, d, &self->stream);
    d->Release();
    SetEvent(self->ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    CoUninitialize();
    return 0;
  }
};

void BM_InvokeThroughProxy(benchmark::State& state) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RegisterBenchLib();
  Owner owner;
  DWORD owner_id = 0;
  owner.thread = CreateThread(nullptr, 0, &Owner::Main, &owner, 0, &owner_id);
  WaitForSingleObject(owner.ready, INFINITE);
  IDispatch* proxy = nullptr;
  if (FAILED(CoGetInterfaceAndReleaseStream(owner.stream, IID_IDispatch,
                                            reinterpret_cast<void**>(&proxy)))) {
    state.SkipWithError("unmarshalling failed");
  } else {
    InvokeAdd(state, proxy);
    proxy->Release();
  }
  PostThreadMessageW(owner_id, WM_QUIT, 0, 0);
  WaitForSingleObject(owner.thread, INFINITE);
  CloseHandle(owner.thread);
  CloseHandle(owner.ready);
  CoUninitialize();
}
BENCHMARK(BM_InvokeThroughProxy)->UseRealTime();

}  // namespace
