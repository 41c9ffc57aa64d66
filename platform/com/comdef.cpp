#include "platform/com/comdef.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>
#include <new>

#include "platform/com/errorinfo.h"
#include "platform/win/codepage.h"
#include "platform/win/message.h"

// ---- _com_error ---------------------------------------------------------------------------------

namespace {

std::atomic<void (*)(HRESULT, IErrorInfo*)> error_handler{nullptr};

}  // namespace

_com_error::_com_error(HRESULT hr, IErrorInfo* error_info, bool add_ref) noexcept
    : hr_(hr), info_(error_info), message_(nullptr) {
  if (info_ != nullptr && add_ref) info_->AddRef();
}

_com_error::_com_error(const _com_error& other) noexcept
    : hr_(other.hr_), info_(other.info_), message_(nullptr) {
  if (info_ != nullptr) info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& other) noexcept {
  if (this != &other) {
    if (other.info_ != nullptr) other.info_->AddRef();
    if (info_ != nullptr) info_->Release();
    info_ = other.info_;
    hr_ = other.hr_;
    if (message_ != nullptr) LocalFree(reinterpret_cast<HLOCAL>(message_));
    message_ = nullptr;
  }
  return *this;
}

_com_error::~_com_error() {
  if (info_ != nullptr) info_->Release();
  if (message_ != nullptr) LocalFree(reinterpret_cast<HLOCAL>(message_));
}

IErrorInfo* _com_error::ErrorInfo() const noexcept {
  if (info_ != nullptr) info_->AddRef();
  return info_;
}

const wchar_t* _com_error::ErrorMessage() const noexcept {
  if (message_ == nullptr) {
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr_), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&message_), 0, nullptr);
    if (message_ != nullptr) {
      const std::size_t length = std::wcslen(message_);
      if (length > 1 && message_[length - 1] == L'\n') {
        message_[length - 1] = L'\0';
        if (message_[length - 2] == L'\r') message_[length - 2] = L'\0';
      }
    } else {
      constexpr std::size_t kChars = 32;
      message_ = static_cast<wchar_t*>(
          static_cast<void*>(LocalAlloc(LMEM_FIXED, kChars * sizeof(wchar_t))));
      if (message_ != nullptr) {
        const WORD code = WCode();
        if (code != 0) {
          std::swprintf(message_, kChars, L"IDispatch error #%d", int{code});
        } else {
          std::swprintf(message_, kChars, L"Unknown error 0x%0lX",
                        static_cast<unsigned long>(static_cast<DWORD>(hr_)));
        }
      }
    }
  }
  return message_ != nullptr ? message_ : L"";
}

_bstr_t _com_error::Description() const {
  BSTR text = nullptr;
  if (info_ != nullptr && FAILED(info_->GetDescription(&text))) text = nullptr;
  return _bstr_t(text, false);
}

_bstr_t _com_error::Source() const {
  BSTR text = nullptr;
  if (info_ != nullptr && FAILED(info_->GetSource(&text))) text = nullptr;
  return _bstr_t(text, false);
}

_bstr_t _com_error::HelpFile() const {
  BSTR text = nullptr;
  if (info_ != nullptr && FAILED(info_->GetHelpFile(&text))) text = nullptr;
  return _bstr_t(text, false);
}

DWORD _com_error::HelpContext() const noexcept {
  DWORD context = 0;
  if (info_ != nullptr && FAILED(info_->GetHelpContext(&context))) context = 0;
  return context;
}

::GUID _com_error::GUID() const noexcept {
  ::GUID guid = IID_NULL;
  if (info_ != nullptr && FAILED(info_->GetGUID(&guid))) guid = IID_NULL;
  return guid;
}

void _com_raise_error(HRESULT hr, IErrorInfo* error_info) {
  if (auto handler = error_handler.load()) {
    handler(hr, error_info);
    std::terminate();  // a handler must not return: callers rely on not coming back
  }
  throw _com_error(hr, error_info);
}

void _com_issue_error(HRESULT hr) {
  _com_raise_error(hr, nullptr);
}

void _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID iid) {
  IErrorInfo* info = nullptr;
  if (object != nullptr) {
    ISupportErrorInfo* support = nullptr;
    if (SUCCEEDED(
            object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) &&
        support != nullptr) {
      const HRESULT supported = support->InterfaceSupportsErrorInfo(iid);
      support->Release();
      if (supported == S_OK && GetErrorInfo(0, &info) != S_OK) info = nullptr;
    }
  }
  _com_raise_error(hr, info);
}

void _set_com_error_handler(void (*handler)(HRESULT, IErrorInfo*)) {
  error_handler.store(handler);
}

// ---- Conversions
// ---------------------------------------------------------------------------------

namespace {

[[noreturn]] void RaiseLastError() {
  const DWORD error = GetLastError();
  _com_issue_error(error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error));
}

}  // namespace

BSTR _com_util::ConvertStringToBSTR(const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t bytes = std::strlen(text) + 1;  // with the zero
  if (bytes > INT_MAX) _com_issue_error(E_OUTOFMEMORY);
  const int chars = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), nullptr, 0);
  if (chars == 0) RaiseLastError();
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(chars - 1));
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), result, chars) == 0) {
    SysFreeString(result);
    RaiseLastError();
  }
  return result;
}

char* _com_util::ConvertBSTRToString(BSTR text) {
  if (text == nullptr) return nullptr;
  // SysStringLen + 1 carries embedded zeros and the terminator across.
  const UINT length = SysStringLen(text) + 1;
  if (length > INT_MAX) _com_issue_error(E_OUTOFMEMORY);
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (bytes == 0) RaiseLastError();
  char* result = new (std::nothrow) char[static_cast<std::size_t>(bytes)];
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), result, bytes, nullptr,
                          nullptr) == 0) {
    delete[] result;
    RaiseLastError();
  }
  return result;
}

// ---- _bstr_t ------------------------------------------------------------------------------------

_bstr_t::Data* _bstr_t::NewData(BSTR wide) {
  Data* data = new (std::nothrow) Data;
  if (data == nullptr) {
    SysFreeString(wide);
    _com_issue_error(E_OUTOFMEMORY);
  }
  data->wide = wide;
  return data;
}

void _bstr_t::Free() noexcept {
  if (data_ == nullptr) return;
  if (data_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    SysFreeString(data_->wide);
    delete[] data_->narrow.load(std::memory_order_acquire);
    delete data_;
  }
  data_ = nullptr;
}

_bstr_t::_bstr_t(const _bstr_t& other) noexcept : data_(other.data_) {
  if (data_ != nullptr) data_->refs.fetch_add(1, std::memory_order_relaxed);
}

_bstr_t::_bstr_t(const char* text) : data_(nullptr) {
  data_ = NewData(_com_util::ConvertStringToBSTR(text));
}

_bstr_t::_bstr_t(const wchar_t* text) : data_(nullptr) {
  BSTR wide = SysAllocString(text);
  if (wide == nullptr && text != nullptr) _com_issue_error(E_OUTOFMEMORY);
  data_ = NewData(wide);
}

_bstr_t::_bstr_t(const _variant_t& value) : data_(nullptr) {
  if (value.vt == VT_BSTR) {
    *this = _bstr_t(value.bstrVal, true);
    return;
  }
  _variant_t text;
  text.ChangeType(VT_BSTR, &value);
  data_ = NewData(text.Detach().bstrVal);
}

_bstr_t::_bstr_t(BSTR text, bool copy) : data_(nullptr) {
  if (copy && text != nullptr) {
    BSTR duplicate = SysAllocStringLen(text, SysStringLen(text));
    if (duplicate == nullptr) _com_issue_error(E_OUTOFMEMORY);
    text = duplicate;
  }
  data_ = NewData(text);
}

_bstr_t& _bstr_t::operator=(const _bstr_t& other) noexcept {
  if (data_ != other.data_) {
    if (other.data_ != nullptr) other.data_->refs.fetch_add(1, std::memory_order_relaxed);
    Free();
    data_ = other.data_;
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& other) noexcept {
  if (this != &other) {
    Free();
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(const char* text) {
  return *this = _bstr_t(text);
}

_bstr_t& _bstr_t::operator=(const wchar_t* text) {
  // The new text is made before the old one goes: `text` may point into it.
  return *this = _bstr_t(text);
}

_bstr_t& _bstr_t::operator=(const _variant_t& value) {
  return *this = _bstr_t(value);
}

_bstr_t _bstr_t::operator+(const _bstr_t& other) const {
  const UINT a = length();
  const UINT b = other.length();
  if (a > UINT_MAX - b) _com_issue_error(E_OUTOFMEMORY);
  BSTR joined = SysAllocStringLen(nullptr, a + b);
  if (joined == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (a != 0) std::wmemcpy(joined, data_->wide, a);
  if (b != 0) std::wmemcpy(joined + a, other.data_->wide, b);
  return _bstr_t(NewData(joined));
}

_bstr_t& _bstr_t::operator+=(const _bstr_t& other) {
  return *this = *this + other;
}

_bstr_t operator+(const char* left, const _bstr_t& right) {
  return _bstr_t(left) + right;
}

_bstr_t operator+(const wchar_t* left, const _bstr_t& right) {
  return _bstr_t(left) + right;
}

_bstr_t::operator const wchar_t*() const noexcept {
  return data_ != nullptr ? data_->wide : nullptr;
}

_bstr_t::operator wchar_t*() const noexcept {
  return data_ != nullptr ? data_->wide : nullptr;
}

_bstr_t::operator const char*() const {
  return static_cast<char*>(*this);
}

_bstr_t::operator char*() const {
  if (data_ == nullptr) return nullptr;
  char* narrow = data_->narrow.load(std::memory_order_acquire);
  if (narrow != nullptr || data_->wide == nullptr) return narrow;
  char* made = _com_util::ConvertBSTRToString(data_->wide);
  if (data_->narrow.compare_exchange_strong(narrow, made, std::memory_order_acq_rel)) {
    return made;
  }
  delete[] made;  // another thread was first; `narrow` now holds its copy
  return narrow;
}

BSTR _bstr_t::copy(bool copy) const {
  if (data_ == nullptr || data_->wide == nullptr) return nullptr;
  if (!copy) return data_->wide;
  BSTR duplicate = SysAllocStringLen(data_->wide, SysStringLen(data_->wide));
  if (duplicate == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return duplicate;
}

void _bstr_t::Assign(BSTR text) {
  *this = _bstr_t(text, true);
}

void _bstr_t::Attach(BSTR text) {
  *this = _bstr_t(text, false);
}

BSTR _bstr_t::Detach() {
  if (data_ == nullptr) return nullptr;
  if (data_->refs.load(std::memory_order_acquire) != 1) _com_issue_error(E_POINTER);
  BSTR text = std::exchange(data_->wide, nullptr);
  Free();
  return text;
}

BSTR& _bstr_t::GetBSTR() {
  if (data_ == nullptr) data_ = NewData(nullptr);
  return data_->wide;
}

BSTR* _bstr_t::GetAddress() {
  Attach(nullptr);
  return &data_->wide;
}

int _bstr_t::compare(const _bstr_t& other) const noexcept {
  if (data_ == other.data_) return 0;
  const UINT a = length();
  const UINT b = other.length();
  const UINT common = a < b ? a : b;
  for (UINT i = 0; i < common; ++i) {
    const wchar_t x = data_->wide[i];
    const wchar_t y = other.data_->wide[i];
    if (x != y) return x < y ? -1 : 1;
  }
  return a < b ? -1 : a > b ? 1 : 0;
}

// ---- _variant_t ---------------------------------------------------------------------------------

namespace {

void Check(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace

_variant_t::_variant_t(const VARIANT& value) {
  VariantInit(this);
  Check(VariantCopy(this, &value));
}

_variant_t::_variant_t(const VARIANT* value) {
  VariantInit(this);
  if (value == nullptr) _com_issue_error(E_POINTER);
  Check(VariantCopy(this, value));
}

_variant_t::_variant_t(const _variant_t& value) : VARIANT() {
  VariantInit(this);
  Check(VariantCopy(this, &value));
}

_variant_t::_variant_t(_variant_t&& value) noexcept : VARIANT(value) {
  VariantInit(&value);
}

_variant_t::_variant_t(VARIANT& value, bool copy) {
  VariantInit(this);
  if (copy) {
    Check(VariantCopy(this, &value));
  } else {
    static_cast<VARIANT&>(*this) = value;
    VariantInit(&value);
  }
}

_variant_t::_variant_t(SHORT value, VARTYPE vt) {
  VariantInit(this);
  if (vt == VT_I2) {
    this->vt = VT_I2;
    iVal = value;
  } else if (vt == VT_BOOL) {
    this->vt = VT_BOOL;
    boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    _com_issue_error(E_INVALIDARG);
  }
}

_variant_t::_variant_t(LONG value, VARTYPE vt) {
  VariantInit(this);
  switch (vt) {
    case VT_I4:
    case VT_INT:
      this->vt = vt;
      lVal = value;
      break;
    case VT_ERROR:
      this->vt = VT_ERROR;
      scode = value;
      break;
    case VT_BOOL:
      this->vt = VT_BOOL;
      boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    default:
      _com_issue_error(E_INVALIDARG);
  }
}

_variant_t::_variant_t(float value) {
  VariantInit(this);
  vt = VT_R4;
  fltVal = value;
}

_variant_t::_variant_t(double value, VARTYPE vt) {
  VariantInit(this);
  if (vt != VT_R8 && vt != VT_DATE) _com_issue_error(E_INVALIDARG);
  this->vt = vt;
  dblVal = value;
}

_variant_t::_variant_t(const _bstr_t& value) {
  VariantInit(this);
  BSTR text = value.copy();
  vt = VT_BSTR;
  bstrVal = text;
}

_variant_t::_variant_t(const wchar_t* value) {
  VariantInit(this);
  BSTR text = SysAllocString(value);
  if (text == nullptr && value != nullptr) _com_issue_error(E_OUTOFMEMORY);
  vt = VT_BSTR;
  bstrVal = text;
}

_variant_t::_variant_t(const char* value) {
  VariantInit(this);
  BSTR text = _com_util::ConvertStringToBSTR(value);
  vt = VT_BSTR;
  bstrVal = text;
}

_variant_t::_variant_t(IDispatch* value, bool add_ref) {
  VariantInit(this);
  vt = VT_DISPATCH;
  pdispVal = value;
  if (value != nullptr && add_ref) value->AddRef();
}

_variant_t::_variant_t(IUnknown* value, bool add_ref) {
  VariantInit(this);
  vt = VT_UNKNOWN;
  punkVal = value;
  if (value != nullptr && add_ref) value->AddRef();
}

_variant_t::_variant_t(bool value) noexcept {
  VariantInit(this);
  vt = VT_BOOL;
  boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(BYTE value) noexcept {
  VariantInit(this);
  vt = VT_UI1;
  bVal = value;
}

_variant_t::_variant_t(char value) noexcept {
  VariantInit(this);
  vt = VT_I1;
  cVal = value;
}

_variant_t::_variant_t(USHORT value) noexcept {
  VariantInit(this);
  vt = VT_UI2;
  uiVal = value;
}

_variant_t::_variant_t(ULONG value) noexcept {
  VariantInit(this);
  vt = VT_UI4;
  ulVal = value;
}

_variant_t::_variant_t(LONGLONG value) noexcept {
  VariantInit(this);
  vt = VT_I8;
  llVal = value;
}

_variant_t::_variant_t(ULONGLONG value) noexcept {
  VariantInit(this);
  vt = VT_UI8;
  ullVal = value;
}

void _variant_t::Swap(_variant_t& other) noexcept {
  VARIANT mine = *this;
  static_cast<VARIANT&>(*this) = other;
  static_cast<VARIANT&>(other) = mine;
}

_variant_t& _variant_t::operator=(const VARIANT& value) {
  Check(VariantCopy(this, &value));
  return *this;
}

_variant_t& _variant_t::operator=(const VARIANT* value) {
  if (value == nullptr) _com_issue_error(E_POINTER);
  Check(VariantCopy(this, value));
  return *this;
}

_variant_t& _variant_t::operator=(const _variant_t& value) {
  Check(VariantCopy(this, &value));
  return *this;
}

_variant_t& _variant_t::operator=(_variant_t&& value) noexcept {
  if (this != &value) {
    VariantClear(this);
    static_cast<VARIANT&>(*this) = value;
    VariantInit(&value);
  }
  return *this;
}

// The scalar assignments build the new value first, so that a failure keeps the old one.
#define SW_VARIANT_ASSIGN(Type)                   \
  _variant_t& _variant_t::operator=(Type value) { \
    _variant_t fresh(value);                      \
    Swap(fresh);                                  \
    return *this;                                 \
  }
SW_VARIANT_ASSIGN(SHORT)
SW_VARIANT_ASSIGN(LONG)
SW_VARIANT_ASSIGN(float)
SW_VARIANT_ASSIGN(double)
SW_VARIANT_ASSIGN(const _bstr_t&)
SW_VARIANT_ASSIGN(const wchar_t*)
SW_VARIANT_ASSIGN(const char*)
SW_VARIANT_ASSIGN(IDispatch*)
SW_VARIANT_ASSIGN(IUnknown*)
SW_VARIANT_ASSIGN(bool)
SW_VARIANT_ASSIGN(BYTE)
SW_VARIANT_ASSIGN(char)
SW_VARIANT_ASSIGN(USHORT)
SW_VARIANT_ASSIGN(ULONG)
SW_VARIANT_ASSIGN(LONGLONG)
SW_VARIANT_ASSIGN(ULONGLONG)
#undef SW_VARIANT_ASSIGN

bool _variant_t::operator==(const VARIANT& other) const noexcept {
  if (vt != other.vt) return false;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return bVal == other.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return uiVal == other.uiVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return ulVal == other.ulVal;
    case VT_R4:
      return fltVal == other.fltVal;
    case VT_R8:
    case VT_DATE:
      return dblVal == other.dblVal;
    case VT_BSTR: {
      const UINT a = SysStringLen(bstrVal);
      return a == SysStringLen(other.bstrVal) &&
             (a == 0 || std::wmemcmp(bstrVal, other.bstrVal, a) == 0);
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return punkVal == other.punkVal;
    default:
      return ullVal == other.ullVal;  // 64-bit scalars and VT_BYREF pointers
  }
}

namespace {

// The value converted to `vt` into `out` (a copy when it already has that type).
void ConvertTo(const VARIANT& value, VARTYPE vt, _variant_t& out) {
  Check(VariantChangeType(&out, &value, 0, vt));
}

}  // namespace

#define SW_VARIANT_EXTRACT(Type, vtype, field) \
  _variant_t::operator Type() const {          \
    if (vt == vtype) return field;             \
    _variant_t converted;                      \
    ConvertTo(*this, vtype, converted);        \
    return converted.field;                    \
  }
SW_VARIANT_EXTRACT(SHORT, VT_I2, iVal)
SW_VARIANT_EXTRACT(LONG, VT_I4, lVal)
SW_VARIANT_EXTRACT(float, VT_R4, fltVal)
SW_VARIANT_EXTRACT(double, VT_R8, dblVal)
SW_VARIANT_EXTRACT(BYTE, VT_UI1, bVal)
SW_VARIANT_EXTRACT(char, VT_I1, cVal)
SW_VARIANT_EXTRACT(USHORT, VT_UI2, uiVal)
SW_VARIANT_EXTRACT(ULONG, VT_UI4, ulVal)
SW_VARIANT_EXTRACT(LONGLONG, VT_I8, llVal)
SW_VARIANT_EXTRACT(ULONGLONG, VT_UI8, ullVal)
#undef SW_VARIANT_EXTRACT

_variant_t::operator bool() const {
  if (vt == VT_BOOL) return boolVal != VARIANT_FALSE;
  _variant_t converted;
  ConvertTo(*this, VT_BOOL, converted);
  return converted.boolVal != VARIANT_FALSE;
}

_variant_t::operator _bstr_t() const {
  if (vt == VT_BSTR) return _bstr_t(bstrVal, true);
  _variant_t converted;
  ConvertTo(*this, VT_BSTR, converted);
  return _bstr_t(converted.Detach().bstrVal, false);
}

_variant_t::operator IDispatch*() const {
  IDispatch* result = nullptr;
  if (vt == VT_DISPATCH) {
    result = pdispVal;
  } else {
    _variant_t converted;
    ConvertTo(*this, VT_DISPATCH, converted);
    result = converted.pdispVal;
  }
  if (result != nullptr) result->AddRef();
  return result;
}

_variant_t::operator IUnknown*() const {
  IUnknown* result = nullptr;
  if (vt == VT_UNKNOWN) {
    result = punkVal;
  } else {
    _variant_t converted;
    ConvertTo(*this, VT_UNKNOWN, converted);
    result = converted.punkVal;
  }
  if (result != nullptr) result->AddRef();
  return result;
}

void _variant_t::ChangeType(VARTYPE vt, const _variant_t* source) {
  if (source == nullptr) source = this;
  if (source != this || this->vt != vt) Check(VariantChangeType(this, source, 0, vt));
}

void _variant_t::Clear() {
  Check(VariantClear(this));
}

void _variant_t::Attach(VARIANT& value) {
  Clear();
  static_cast<VARIANT&>(*this) = value;
  VariantInit(&value);
}

VARIANT _variant_t::Detach() noexcept {
  VARIANT result = *this;
  VariantInit(this);
  return result;
}

VARIANT* _variant_t::GetAddress() {
  Clear();
  return this;
}

void _variant_t::SetString(const char* text) {
  *this = text;
}
