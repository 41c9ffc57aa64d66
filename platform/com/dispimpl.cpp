#include "platform/com/dispimpl.h"

#include "platform/com/variant.h"

namespace dispimpl_detail {

HRESULT CachedTypeInfo(std::atomic<ITypeInfo*>& cache, REFGUID libid, WORD major, WORD minor,
                       REFIID iid, ITypeInfo** out) {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadRegTypeLib(libid, major, minor, LOCALE_USER_DEFAULT, &lib);
  if (FAILED(hr)) return hr;
  ITypeInfo* ti = nullptr;
  hr = lib->GetTypeInfoOfGuid(iid, &ti);
  lib->Release();
  if (FAILED(hr)) return hr;
  // The cache keeps this reference for the life of the process; a thread that lost the race
  // drops its own.
  ITypeInfo* expected = nullptr;
  if (!cache.compare_exchange_strong(expected, ti, std::memory_order_acq_rel)) {
    ti->Release();
    ti = expected;
  }
  *out = ti;
  return S_OK;
}

HRESULT InvokeSinkEntry(const _ATL_FUNC_INFO& info, std::size_t arity, DISPPARAMS* params,
                        VARIANT* result, UINT* arg_err,
                        HRESULT (*call)(void* ctx, VARIANT* args, VARIANT* result), void* ctx) {
  if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
  const UINT n = params->cArgs;
  if (info.nParams < 0 || info.nParams > _ATL_MAX_VARTYPES ||
      static_cast<std::size_t>(info.nParams) != arity) {
    return E_UNEXPECTED;  // the call description does not fit the handler: programmer error
  }
  if (n != static_cast<UINT>(info.nParams)) return DISP_E_BADPARAMCOUNT;
  VARIANT args[_ATL_MAX_VARTYPES];
  bool owned[_ATL_MAX_VARTYPES] = {};
  HRESULT hr = S_OK;
  UINT converted = 0;
  for (; converted < n; ++converted) {
    // Arguments arrive last-first.
    const UINT from = n - 1 - converted;
    hr = typelib_detail::CoerceArgument(params->rgvarg[from], info.pVarTypes[converted],
                                        &args[converted], &owned[converted]);
    if (FAILED(hr)) {
      if (arg_err) *arg_err = from;
      hr = DISP_E_TYPEMISMATCH;
      break;
    }
  }
  if (SUCCEEDED(hr)) {
    VARIANT local;
    VariantInit(&local);
    hr = call(ctx, args, result ? result : &local);
    VariantClear(&local);
  }
  for (UINT k = 0; k < converted; ++k) {
    if (owned[k]) VariantClear(&args[k]);
  }
  return hr;
}

}  // namespace dispimpl_detail
