// Test helpers for VARIANT values: makers, comparison and printing, and a countable COM object.
#pragma once

#include <atomic>
#include <cstdio>
#include <ostream>
#include <string>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"

namespace sw::test {

/// An owned VARIANT that clears itself; comparable and printable for table tests.
struct Value {
  VARIANT v;
  Value() { VariantInit(&v); }
  Value(const Value& other) {
    VariantInit(&v);
    VariantCopy(&v, &other.v);
  }
  Value& operator=(const Value& other) {
    VariantCopy(&v, &other.v);
    return *this;
  }
  ~Value() { VariantClear(&v); }
};

inline Value Empty() {
  return {};
}
inline Value Null() {
  Value r;
  r.v.vt = VT_NULL;
  return r;
}
#define SW_VALUE_MAKER(Name, Type, vtype, field) \
  inline Value Name(Type x) {                    \
    Value r;                                     \
    r.v.vt = vtype;                              \
    r.v.field = x;                               \
    return r;                                    \
  }
SW_VALUE_MAKER(I1, CHAR, VT_I1, cVal)
SW_VALUE_MAKER(UI1, BYTE, VT_UI1, bVal)
SW_VALUE_MAKER(I2, SHORT, VT_I2, iVal)
SW_VALUE_MAKER(UI2, USHORT, VT_UI2, uiVal)
SW_VALUE_MAKER(I4, LONG, VT_I4, lVal)
SW_VALUE_MAKER(UI4, ULONG, VT_UI4, ulVal)
SW_VALUE_MAKER(Int, INT, VT_INT, intVal)
SW_VALUE_MAKER(UInt, UINT, VT_UINT, uintVal)
SW_VALUE_MAKER(I8, LONGLONG, VT_I8, llVal)
SW_VALUE_MAKER(UI8, ULONGLONG, VT_UI8, ullVal)
SW_VALUE_MAKER(R4, FLOAT, VT_R4, fltVal)
SW_VALUE_MAKER(R8, DOUBLE, VT_R8, dblVal)
SW_VALUE_MAKER(Date, DATE, VT_DATE, date)
SW_VALUE_MAKER(Bool, VARIANT_BOOL, VT_BOOL, boolVal)
SW_VALUE_MAKER(Error, SCODE, VT_ERROR, scode)
SW_VALUE_MAKER(Cy, LONGLONG, VT_CY, llVal)
#undef SW_VALUE_MAKER

inline Value Str(const wchar_t* text) {
  Value r;
  r.v.vt = VT_BSTR;
  r.v.bstrVal = SysAllocString(text);
  return r;
}

inline bool operator==(const Value& a, const Value& b) {
  if (a.v.vt != b.v.vt) return false;
  switch (a.v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return a.v.bVal == b.v.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return a.v.uiVal == b.v.uiVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return a.v.ulVal == b.v.ulVal;
    case VT_R4:
      return a.v.fltVal == b.v.fltVal;
    case VT_R8:
    case VT_DATE:
      return a.v.dblVal == b.v.dblVal;
    case VT_BSTR:
      return std::wstring(a.v.bstrVal, SysStringLen(a.v.bstrVal)) ==
             std::wstring(b.v.bstrVal, SysStringLen(b.v.bstrVal));
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return a.v.punkVal == b.v.punkVal;
    default:
      return a.v.ullVal == b.v.ullVal;
  }
}

inline std::ostream& operator<<(std::ostream& os, const Value& value) {
  const VARIANT& v = value.v;
  os << "vt " << v.vt << " ";
  if (v.vt == VT_BSTR) {
    os << '"';
    for (UINT i = 0; i < SysStringLen(v.bstrVal); ++i) {
      const wchar_t c = v.bstrVal[i];
      if (c >= 32 && c < 127) {
        os << static_cast<char>(c);
      } else {
        os << "\\u" << std::hex << static_cast<unsigned>(c) << std::dec;
      }
    }
    return os << '"';
  }
  const VARTYPE t = v.vt;
  if (t == VT_R8 || t == VT_DATE) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v.dblVal);
    return os << buffer;
  }
  if (t == VT_R4) return os << v.fltVal;
  if (t == VT_I1) return os << int{v.cVal};
  if (t == VT_UI1) return os << unsigned{v.bVal};
  if (t == VT_I2 || t == VT_BOOL) return os << v.iVal;
  if (t == VT_UI2) return os << v.uiVal;
  if (t == VT_I4 || t == VT_INT) return os << v.lVal;
  if (t == VT_UI4 || t == VT_UINT || t == VT_ERROR) return os << v.ulVal;
  if (t == VT_EMPTY || t == VT_NULL) return os;
  return os << v.llVal;
}

/// A COM object that counts its references, answers IUnknown and (optionally) IDispatch, and
/// whose default value (DISPID_VALUE property get) is `value` or the failure `invoke_result`.
/// It does not delete itself: tests own it on the stack and check `refs` at the end.
class CountedObject : public IDispatch {
 public:
  explicit CountedObject(bool is_dispatch = true) : is_dispatch_(is_dispatch) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || (is_dispatch_ && riid == IID_IDispatch)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return query_failure;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override {
    ++invokes;
    if (id != DISPID_VALUE || flags != DISPATCH_PROPERTYGET || params->cArgs != 0) {
      return DISP_E_MEMBERNOTFOUND;
    }
    if (FAILED(invoke_result)) return invoke_result;
    return VariantCopy(result, &value.v);
  }

  std::atomic<ULONG> refs{1};
  int invokes = 0;
  HRESULT invoke_result = S_OK;
  HRESULT query_failure = E_NOINTERFACE;
  Value value;

 private:
  bool is_dispatch_;
};

/// Error information with `description` (and `source`, help context 42 when given), one
/// reference for the caller.
inline IErrorInfo* MakeErrorInfo(const wchar_t* description, const wchar_t* source = nullptr) {
  ICreateErrorInfo* create = nullptr;
  if (CreateErrorInfo(&create) != S_OK) return nullptr;
  create->SetDescription(const_cast<LPOLESTR>(description));
  if (source != nullptr) {
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetHelpContext(42);
  }
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  return info;
}

}  // namespace sw::test
