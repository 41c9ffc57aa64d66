#include "tests/excel/recorder_support.h"

namespace sw::test {

namespace {
// The recorder whose deferred fill-in runs next (the record carries no context pointer).
thread_local const Recorder* g_filling = nullptr;
}  // namespace

Recorder::Recorder() {
  VariantInit(&reply);
}

Recorder::~Recorder() {
  ClearCalls();
  VariantClear(&reply);
}

void Recorder::ClearCalls() {
  for (RecordedCall& call : calls_) {
    for (VARIANT& v : call.args) VariantClear(&v);
  }
  calls_.clear();
}

HRESULT Recorder::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  bool known = riid == IID_IUnknown || riid == IID_IDispatch;
  for (const IID& iid : interfaces) known = known || riid == iid;
  if (!known) return query_failure;
  *ppv = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

HRESULT Recorder::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

HRESULT Recorder::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  ++name_lookups;
  return E_NOTIMPL;
}

HRESULT Recorder::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* excep, UINT*) {
  RecordedCall call;
  call.id = id;
  call.flags = flags;
  call.result_requested = result != nullptr;
  for (UINT i = 0; i < params->cArgs; ++i) {
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, &params->rgvarg[i]);
    call.args.push_back(copy);
    call.types.push_back(params->rgvarg[i].vt);
  }
  for (UINT i = 0; i < params->cNamedArgs; ++i) call.named.push_back(params->rgdispidNamedArgs[i]);
  calls_.push_back(std::move(call));
  if (result != nullptr) VariantInit(result);
  if (hr == DISP_E_EXCEPTION && excep != nullptr) {
    *excep = EXCEPINFO{};
    if (deferred) {
      g_filling = this;
      excep->pfnDeferredFillIn = &Recorder::FillIn;
    } else {
      FillRecord(excep);
    }
  }
  if (SUCCEEDED(hr) && result != nullptr) VariantCopy(result, &reply);
  return hr;
}

HRESULT Recorder::FillIn(EXCEPINFO* excep) {
  g_filling->FillRecord(excep);
  g_filling = nullptr;
  return S_OK;
}

void Recorder::FillRecord(EXCEPINFO* excep) const {
  excep->wCode = wcode;
  excep->scode = scode;
  excep->bstrSource = source.empty() ? nullptr : SysAllocString(source.c_str());
  excep->bstrDescription = description.empty() ? nullptr : SysAllocString(description.c_str());
  excep->bstrHelpFile = help_file.empty() ? nullptr : SysAllocString(help_file.c_str());
  excep->dwHelpContext = help_context;
}

}  // namespace sw::test
