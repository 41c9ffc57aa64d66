#include "platform/com/variant.h"

#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/variant_internal.h"

namespace sw::com {

std::size_t VariantScalarSize(VARTYPE base) {
  switch (base) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      return 8;
    default:
      return 0;
  }
}

bool IsValidVariantType(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE extra = vt & ~VT_TYPEMASK;
  if (extra != 0 && extra != VT_BYREF) return false;
  if (extra == VT_BYREF && base <= VT_NULL) return false;
  return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT);
}

}  // namespace sw::com

namespace {

// The platform's DECIMAL is 16 bytes and overlays the whole of a 16-byte VARIANT.
constexpr std::size_t kDecimalSize = 16;

}  // namespace

void VariantInit(VARIANT* v) {
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!sw::com::IsValidVariantType(v->vt)) return DISP_E_BADVARTYPE;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal != nullptr) v->punkVal->Release();
      break;
    default:
      break;  // scalars and VT_BYREF values own nothing
  }
  v->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!sw::com::IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if (dest == src) return S_OK;
  const HRESULT cleared = VariantClear(dest);
  if (FAILED(cleared)) return cleared;
  std::memcpy(static_cast<void*>(dest), src, sizeof *dest);
  switch (src->vt) {
    case VT_BSTR:
      if (src->bstrVal != nullptr) {
        dest->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (dest->bstrVal == nullptr) {
          dest->vt = VT_EMPTY;
          return E_OUTOFMEMORY;
        }
      }
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (dest->punkVal != nullptr) dest->punkVal->AddRef();
      break;
    default:
      break;
  }
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!sw::com::IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if ((src->vt & VT_BYREF) == 0) return VariantCopy(dest, src);
  if (src->byref == nullptr) return E_INVALIDARG;

  // Build the value aside first: `dest` may be `src`, whose pointer must stay readable.
  VARIANT value;
  VariantInit(&value);
  const VARTYPE base = src->vt & ~VT_BYREF;
  switch (base) {
    case VT_VARIANT: {
      const VARIANT* inner = src->pvarVal;
      if (inner->vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
      const HRESULT hr = VariantCopy(&value, inner);
      if (FAILED(hr)) return hr;
      break;
    }
    case VT_BSTR: {
      const BSTR text = *src->pbstrVal;
      value.vt = VT_BSTR;
      value.bstrVal = nullptr;
      if (text != nullptr) {
        value.bstrVal = SysAllocStringLen(text, SysStringLen(text));
        if (value.bstrVal == nullptr) return E_OUTOFMEMORY;
      }
      break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      value.vt = base;
      value.punkVal = *src->ppunkVal;
      if (value.punkVal != nullptr) value.punkVal->AddRef();
      break;
    case VT_DECIMAL:
      // A DECIMAL fills the whole VARIANT; its first word is reserved and becomes the type.
      std::memcpy(static_cast<void*>(&value), src->byref, kDecimalSize);
      value.vt = VT_DECIMAL;
      break;
    default: {
      const std::size_t size = sw::com::VariantScalarSize(base);
      if (size == 0) return DISP_E_BADVARTYPE;
      value.vt = base;
      value.ullVal = 0;
      std::memcpy(&value.llVal, src->byref, size);
      break;
    }
  }
  if (dest != src) {
    const HRESULT cleared = VariantClear(dest);
    if (FAILED(cleared)) {
      VariantClear(&value);
      return cleared;
    }
  }
  *dest = value;
  return S_OK;
}
