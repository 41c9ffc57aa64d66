// The compiler's COM support classes: _bstr_t (shared string holder), _variant_t (VARIANT
// holder), _com_error (the COM error exception), _com_ptr_t interface smart pointers and
// _COM_SMARTPTR_TYPEDEF, with the platform's ownership and error rules.
//
// Stands in for <comdef.h>, <comutil.h> and <comip.h>. Differences forced by this platform:
// there is no __uuidof, so _COM_SMARTPTR_TYPEDEF takes the IID object itself
// (`_COM_SMARTPTR_TYPEDEF(IDispatch, IID_IDispatch)`); LONG is `int` here and C++ `long` is 64
// bits, so _variant_t(LONG) makes VT_I4 (as `long` does on the platform) and _variant_t(long)
// makes VT_I8. Left out: _variant_t for DECIMAL, CY and SAFEARRAY values, and the _bstr_t and
// _variant_t stream operators. ErrorMessage() is a wide
// string (the platform's Unicode build).
//
//   _COM_SMARTPTR_TYPEDEF(IDispatch, IID_IDispatch);   // IDispatchPtr
//   IDispatchPtr app;
//   app = some_unknown;          // QueryInterface; E_NOINTERFACE leaves it null
//   if (app == nullptr) return;
//   app->Invoke(...);            // through a null pointer: _com_error(E_POINTER)
//
// Thread rules: a _bstr_t's shared record may be used from several threads (its count is
// atomic, its narrow copy is made once); one holder object, a _variant_t or a smart pointer is
// used by one thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <type_traits>
#include <memory>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/comtypes.h"
#include "platform/com/guid.h"
#include "platform/com/rot.h"
#include "platform/com/variant.h"

class _bstr_t;
class _variant_t;

// ---- _com_error ---------------------------------------------------------------------------------

/// The COM error exception: an HRESULT and optionally the error object that describes it.
class _com_error {
 public:
  /// Holds `error_info` when given: with `add_ref` false the exception takes over the caller's
  /// reference (as after GetErrorInfo), with `add_ref` true it adds its own.
  explicit _com_error(HRESULT hr, IErrorInfo* error_info = nullptr, bool add_ref = false) noexcept;
  /// Adds its own reference to the error object; the message text is not shared (each copy
  /// builds its own when asked).
  _com_error(const _com_error& other) noexcept;
  _com_error& operator=(const _com_error& other) noexcept;
  virtual ~_com_error();

  HRESULT Error() const noexcept { return hr_; }
  /// The dispatch code when the HRESULT is 0x80040201..0x8004FFFF, else 0.
  WORD WCode() const noexcept { return HRESULTToWCode(hr_); }
  /// The error object with a reference for the caller (who releases it), or null.
  IErrorInfo* ErrorInfo() const noexcept;
  /// The meaning of the HRESULT: the system's message text without its line end, or
  /// "IDispatch error #N" / "Unknown error 0xXXXXXXXX". Built on the first call and kept by
  /// this exception; never null (empty when even that text could not be allocated).
  const wchar_t* ErrorMessage() const noexcept;

  /// From the error object; empty when there is none.
  _bstr_t Description() const;
  _bstr_t Source() const;
  _bstr_t HelpFile() const;
  DWORD HelpContext() const noexcept;
  ::GUID GUID() const noexcept;

  static HRESULT WCodeToHRESULT(WORD code) noexcept {
    return code >= 0xFE00 ? static_cast<HRESULT>(0x8004FFFFu)
                          : static_cast<HRESULT>(0x80040200u + code);
  }
  static WORD HRESULTToWCode(HRESULT hr) noexcept {
    const DWORD v = static_cast<DWORD>(hr);
    return (v >= 0x80040200u && v <= 0x8004FFFFu) ? static_cast<WORD>(v - 0x80040200u) : 0;
  }

 private:
  HRESULT hr_;
  IErrorInfo* info_;          // one reference, or null
  mutable wchar_t* message_;  // from FormatMessageW or LocalAlloc; freed with LocalFree
};

/// Raises `_com_error(hr)` (through the handler installed with _set_com_error_handler).
[[noreturn]] void _com_issue_error(HRESULT hr);
/// Raises `hr` with the thread's error information when `object` says (ISupportErrorInfo) that
/// it describes failures of `iid`; the exception takes over that error object.
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID iid);
/// Raises `_com_error(hr, error_info)`, which takes over the caller's reference.
[[noreturn]] void _com_raise_error(HRESULT hr, IErrorInfo* error_info = nullptr);
/// Replaces the function that raises: it must not return (std::terminate follows if it does).
/// Null restores the default, which throws _com_error. Process-wide.
void _set_com_error_handler(void (*handler)(HRESULT hr, IErrorInfo* error_info));

namespace _com_util {
/// 8-bit text in the system ANSI code page to a new BSTR (null gives null). Raises the
/// conversion's Win32 error as HRESULT, or E_OUTOFMEMORY.
BSTR ConvertStringToBSTR(const char* text);
/// A BSTR to a new[]-allocated 8-bit text in the system ANSI code page (null gives null); the
/// caller delete[]s it. Raises as ConvertStringToBSTR.
char* ConvertBSTRToString(BSTR text);
}  // namespace _com_util

// ---- _bstr_t ------------------------------------------------------------------------------------

/// A shared, reference-counted BSTR. Copies share one record; the last one frees the BSTR and
/// the narrow copy. A holder without a record is the empty string. Allocation failures raise
/// _com_error(E_OUTOFMEMORY).
class _bstr_t {
 public:
  _bstr_t() noexcept : data_(nullptr) {}
  _bstr_t(const _bstr_t& other) noexcept;
  _bstr_t(_bstr_t&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
  _bstr_t(const char* text);     // NOLINT(google-explicit-constructor): as on the platform
  _bstr_t(const wchar_t* text);  // NOLINT(google-explicit-constructor)
  /// The value as text (VariantChangeType to VT_BSTR); explicit, so that copy-initialization
  /// goes through _variant_t's operator _bstr_t without ambiguity.
  explicit _bstr_t(const _variant_t& value);
  /// With `copy` false the holder takes over `text`; with true it copies it.
  _bstr_t(BSTR text, bool copy);
  ~_bstr_t() { Free(); }

  _bstr_t& operator=(const _bstr_t& other) noexcept;
  _bstr_t& operator=(_bstr_t&& other) noexcept;
  _bstr_t& operator=(const char* text);
  _bstr_t& operator=(const wchar_t* text);
  _bstr_t& operator=(const _variant_t& value);

  _bstr_t& operator+=(const _bstr_t& other);
  _bstr_t operator+(const _bstr_t& other) const;
  friend _bstr_t operator+(const char* left, const _bstr_t& right);
  friend _bstr_t operator+(const wchar_t* left, const _bstr_t& right);

  /// The BSTR, or null for an empty holder.
  operator const wchar_t*() const noexcept;  // NOLINT(google-explicit-constructor)
  operator wchar_t*() const noexcept;        // NOLINT(google-explicit-constructor)
  /// The narrow copy (system ANSI code page), made on first request and kept in the record;
  /// null for an empty holder.
  operator const char*() const;  // NOLINT(google-explicit-constructor)
  operator char*() const;        // NOLINT(google-explicit-constructor)

  bool operator!() const noexcept { return data_ == nullptr || data_->wide == nullptr; }
  /// Characters in the text, embedded zeros included.
  unsigned int length() const noexcept { return data_ ? SysStringLen(data_->wide) : 0; }
  /// A new BSTR copy for the caller (`copy` true), or the holder's own BSTR (false).
  BSTR copy(bool copy = true) const;
  /// Replaces the text with a copy of `text`.
  void Assign(BSTR text);
  /// Takes over `text` (the previous text is released).
  void Attach(BSTR text);
  /// Hands the BSTR to the caller and empties the holder. The record must not be shared
  /// (else _com_error(E_POINTER)).
  BSTR Detach();
  /// The BSTR itself, to be changed in place; makes a record when there is none.
  BSTR& GetBSTR();
  /// Releases the text and gives the address of an empty BSTR to be filled by a callee.
  BSTR* GetAddress();

  /// Comparisons of the texts, code point by code point; an empty holder equals "".
  int compare(const _bstr_t& other) const noexcept;
  friend bool operator==(const _bstr_t& a, const _bstr_t& b) noexcept { return a.compare(b) == 0; }
  friend bool operator!=(const _bstr_t& a, const _bstr_t& b) noexcept { return a.compare(b) != 0; }
  friend bool operator<(const _bstr_t& a, const _bstr_t& b) noexcept { return a.compare(b) < 0; }
  friend bool operator>(const _bstr_t& a, const _bstr_t& b) noexcept { return a.compare(b) > 0; }
  friend bool operator<=(const _bstr_t& a, const _bstr_t& b) noexcept { return a.compare(b) <= 0; }
  friend bool operator>=(const _bstr_t& a, const _bstr_t& b) noexcept { return a.compare(b) >= 0; }
  friend bool operator==(const _bstr_t& a, const wchar_t* b) { return a == _bstr_t(b); }
  friend bool operator!=(const _bstr_t& a, const wchar_t* b) { return a != _bstr_t(b); }
  friend bool operator==(const wchar_t* a, const _bstr_t& b) { return _bstr_t(a) == b; }
  friend bool operator!=(const wchar_t* a, const _bstr_t& b) { return _bstr_t(a) != b; }
  friend bool operator==(const _bstr_t& a, const char* b) { return a == _bstr_t(b); }
  friend bool operator!=(const _bstr_t& a, const char* b) { return a != _bstr_t(b); }
  friend bool operator==(const char* a, const _bstr_t& b) { return _bstr_t(a) == b; }
  friend bool operator!=(const char* a, const _bstr_t& b) { return _bstr_t(a) != b; }

 private:
  // The shared record. `narrow` is published once with compare-exchange, so two threads asking
  // for it at once both get the same copy.
  struct Data {
    BSTR wide = nullptr;
    std::atomic<char*> narrow{nullptr};
    std::atomic<ULONG> refs{1};
  };
  static Data* NewData(BSTR wide);  // takes over `wide`; raises E_OUTOFMEMORY
  void Free() noexcept;
  explicit _bstr_t(Data* data) noexcept : data_(data) {}

  Data* data_;
};

// ---- _variant_t ---------------------------------------------------------------------------------

/// Owns one VARIANT and clears it when it goes. Conversions go through VariantChangeType and
/// raise _com_error with its HRESULT on failure.
class _variant_t : public VARIANT {
 public:
  _variant_t() noexcept { VariantInit(this); }
  _variant_t(const VARIANT& value);  // NOLINT(google-explicit-constructor): deep copy
  _variant_t(const VARIANT* value);  // NOLINT(google-explicit-constructor)
  _variant_t(const _variant_t& value);
  _variant_t(_variant_t&& value) noexcept;
  /// With `copy` false the holder takes over `value`, which becomes VT_EMPTY.
  _variant_t(VARIANT& value, bool copy);
  /// VT_I2, or VT_BOOL (non-zero is VARIANT_TRUE); another type raises E_INVALIDARG.
  _variant_t(SHORT value, VARTYPE vt = VT_I2);  // NOLINT(google-explicit-constructor)
  /// VT_I4, VT_INT, VT_ERROR or VT_BOOL; another type raises E_INVALIDARG.
  _variant_t(LONG value, VARTYPE vt = VT_I4);  // NOLINT(google-explicit-constructor)
  _variant_t(float value);                     // NOLINT(google-explicit-constructor)
  /// VT_R8 or VT_DATE; another type raises E_INVALIDARG.
  _variant_t(double value, VARTYPE vt = VT_R8);       // NOLINT(google-explicit-constructor)
  _variant_t(const _bstr_t& value);                   // NOLINT(google-explicit-constructor)
  _variant_t(const wchar_t* value);                   // NOLINT(google-explicit-constructor)
  _variant_t(const char* value);                      // NOLINT(google-explicit-constructor)
  _variant_t(IDispatch* value, bool add_ref = true);  // NOLINT(google-explicit-constructor)
  _variant_t(IUnknown* value, bool add_ref = true);   // NOLINT(google-explicit-constructor)
  _variant_t(bool value) noexcept;                    // NOLINT(google-explicit-constructor)
  _variant_t(BYTE value) noexcept;                    // NOLINT(google-explicit-constructor)
  _variant_t(char value) noexcept;                    // NOLINT(google-explicit-constructor)
  _variant_t(USHORT value) noexcept;                  // NOLINT(google-explicit-constructor)
  _variant_t(ULONG value) noexcept;                   // NOLINT(google-explicit-constructor)
  _variant_t(LONGLONG value) noexcept;                // NOLINT(google-explicit-constructor)
  _variant_t(ULONGLONG value) noexcept;               // NOLINT(google-explicit-constructor)
  ~_variant_t() { VariantClear(this); }

  _variant_t& operator=(const VARIANT& value);
  _variant_t& operator=(const VARIANT* value);
  _variant_t& operator=(const _variant_t& value);
  _variant_t& operator=(_variant_t&& value) noexcept;
  _variant_t& operator=(SHORT value);
  _variant_t& operator=(LONG value);
  _variant_t& operator=(float value);
  _variant_t& operator=(double value);
  _variant_t& operator=(const _bstr_t& value);
  _variant_t& operator=(const wchar_t* value);
  _variant_t& operator=(const char* value);
  _variant_t& operator=(IDispatch* value);
  _variant_t& operator=(IUnknown* value);
  _variant_t& operator=(bool value);
  _variant_t& operator=(BYTE value);
  _variant_t& operator=(char value);
  _variant_t& operator=(USHORT value);
  _variant_t& operator=(ULONG value);
  _variant_t& operator=(LONGLONG value);
  _variant_t& operator=(ULONGLONG value);

  /// Equal types and equal values (texts by content, interfaces by pointer).
  bool operator==(const VARIANT& other) const noexcept;
  bool operator!=(const VARIANT& other) const noexcept { return !(*this == other); }

  // Extractors: the value as it is when the type matches, else converted (flags 0); a failing
  // conversion raises its HRESULT. The interface extractors add a reference for the caller.
  operator SHORT() const;       // NOLINT(google-explicit-constructor)
  operator LONG() const;        // NOLINT(google-explicit-constructor)
  operator float() const;       // NOLINT(google-explicit-constructor)
  operator double() const;      // NOLINT(google-explicit-constructor)
  operator _bstr_t() const;     // NOLINT(google-explicit-constructor)
  operator IDispatch*() const;  // NOLINT(google-explicit-constructor)
  operator IUnknown*() const;   // NOLINT(google-explicit-constructor)
  operator bool() const;        // NOLINT(google-explicit-constructor)
  operator BYTE() const;        // NOLINT(google-explicit-constructor)
  operator char() const;        // NOLINT(google-explicit-constructor)
  operator USHORT() const;      // NOLINT(google-explicit-constructor)
  operator ULONG() const;       // NOLINT(google-explicit-constructor)
  operator LONGLONG() const;    // NOLINT(google-explicit-constructor)
  operator ULONGLONG() const;   // NOLINT(google-explicit-constructor)

  /// Converts in place (or from `source` into this) with VariantChangeType, flags 0.
  void ChangeType(VARTYPE vt, const _variant_t* source = nullptr);
  /// Clears the value (VariantClear; a failure raises).
  void Clear();
  /// Takes over `value` (which becomes VT_EMPTY) after clearing this.
  void Attach(VARIANT& value);
  /// Hands the VARIANT to the caller; this becomes VT_EMPTY.
  VARIANT Detach() noexcept;
  VARIANT& GetVARIANT() noexcept { return *this; }
  /// Clears the value and gives its address, to be filled by a callee.
  VARIANT* GetAddress();
  /// Makes this a VT_BSTR of the 8-bit text `text` (system ANSI code page).
  void SetString(const char* text);

 private:
  void Swap(_variant_t& other) noexcept;
};

// ---- Interface smart pointers
// ---------------------------------------------------------------------

/// Ties an interface type to its IID for _com_ptr_t.
template <typename Itf, const IID* Iid>
class _com_IIID {
 public:
  using Interface = Itf;
  static const IID& GetIID() noexcept { return *Iid; }
};

/// A reference-counted interface pointer. Assigning another interface (raw or smart) or a
/// VARIANT queries for this interface: E_NOINTERFACE leaves the pointer null without raising,
/// any other failure raises _com_error. A raw pointer of this very interface is taken as it is
/// (one reference added). operator-> on a null pointer raises _com_error(E_POINTER).
template <typename IIIDType>
class _com_ptr_t {
 public:
  using ThisIIID = IIIDType;
  using Interface = typename IIIDType::Interface;

  static const IID& GetIID() noexcept { return ThisIIID::GetIID(); }

  _com_ptr_t() noexcept : p_(nullptr) {}
  _com_ptr_t(std::nullptr_t) noexcept : p_(nullptr) {}  // NOLINT(google-explicit-constructor)
  /// The literal 0 (NULL); any other integer raises E_POINTER.
  _com_ptr_t(int null) : p_(nullptr) {  // NOLINT(google-explicit-constructor)
    if (null != 0) _com_issue_error(E_POINTER);
  }
  _com_ptr_t(Interface* p) noexcept : p_(p) {  // NOLINT(google-explicit-constructor)
    AddRefIfAny();
  }
  _com_ptr_t(Interface* p, bool add_ref) noexcept : p_(p) {
    if (add_ref) AddRefIfAny();
  }
  _com_ptr_t(const _com_ptr_t& other) noexcept : p_(other.p_) { AddRefIfAny(); }
  _com_ptr_t(_com_ptr_t&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <typename Other>
  requires(!std::is_same_v<Other, Interface> && std::is_base_of_v<IUnknown, Other>)
      _com_ptr_t(Other* p)
      : p_(nullptr) {  // NOLINT(google-explicit-constructor)
    RaiseUnlessNoInterface(QueryFrom(p));
  }
  template <typename OtherIIID>
  _com_ptr_t(const _com_ptr_t<OtherIIID>& p) : p_(nullptr) {  // NOLINT
    RaiseUnlessNoInterface(QueryFrom(p.GetInterfacePtr()));
  }
  _com_ptr_t(const _variant_t& value) : p_(nullptr) {  // NOLINT(google-explicit-constructor)
    RaiseUnlessNoInterface(QueryStdInterfaces(value));
  }
  /// Creates an object of class `clsid` (CreateInstance); a failure other than E_NOINTERFACE
  /// raises.
  explicit _com_ptr_t(const CLSID& clsid, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL)
      : p_(nullptr) {
    RaiseUnlessNoInterface(CreateInstance(clsid, outer, context));
  }
  explicit _com_ptr_t(LPCWSTR clsid_or_progid, IUnknown* outer = nullptr,
                      DWORD context = CLSCTX_ALL)
      : p_(nullptr) {
    RaiseUnlessNoInterface(CreateInstance(clsid_or_progid, outer, context));
  }
  ~_com_ptr_t() { ReleaseIfAny(); }

  _com_ptr_t& operator=(Interface* p) noexcept {
    if (p != p_) {
      Interface* old = p_;
      p_ = p;
      AddRefIfAny();
      if (old != nullptr) old->Release();
    }
    return *this;
  }
  _com_ptr_t& operator=(const _com_ptr_t& other) noexcept { return operator=(other.p_); }
  _com_ptr_t& operator=(_com_ptr_t&& other) noexcept {
    if (this != std::addressof(other)) {
      ReleaseIfAny();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  _com_ptr_t& operator=(std::nullptr_t) noexcept {
    ReleaseIfAny();
    return *this;
  }
  _com_ptr_t& operator=(int null) {
    if (null != 0) _com_issue_error(E_POINTER);
    ReleaseIfAny();
    return *this;
  }
  template <typename Other>
  requires(!std::is_same_v<Other, Interface> && std::is_base_of_v<IUnknown, Other>) _com_ptr_t&
  operator=(Other* p) {
    RaiseUnlessNoInterface(QueryFrom(p));
    return *this;
  }
  template <typename OtherIIID>
  _com_ptr_t& operator=(const _com_ptr_t<OtherIIID>& p) {
    RaiseUnlessNoInterface(QueryFrom(p.GetInterfacePtr()));
    return *this;
  }
  _com_ptr_t& operator=(const _variant_t& value) {
    RaiseUnlessNoInterface(QueryStdInterfaces(value));
    return *this;
  }

  /// Takes over `p` without adding a reference (the previous pointer is released).
  void Attach(Interface* p) noexcept {
    ReleaseIfAny();
    p_ = p;
  }
  void Attach(Interface* p, bool add_ref) noexcept {
    Attach(p);
    if (add_ref) AddRefIfAny();
  }
  /// Hands the pointer and its reference to the caller; this becomes null.
  Interface* Detach() noexcept { return std::exchange(p_, nullptr); }

  /// Adds a reference; raises E_POINTER when null.
  void AddRef() {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    p_->AddRef();
  }
  /// Releases the reference and makes this null; raises E_POINTER when already null.
  void Release() {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    std::exchange(p_, nullptr)->Release();
  }

  Interface* GetInterfacePtr() const noexcept { return p_; }
  Interface*& GetInterfacePtr() noexcept { return p_; }
  operator Interface*() const noexcept { return p_; }       // NOLINT(google-explicit-constructor)
  operator bool() const noexcept { return p_ != nullptr; }  // NOLINT
  Interface& operator*() const {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    return *p_;
  }
  Interface* operator->() const {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    return p_;
  }
  /// Releases the pointer and gives its address, to be filled by a callee.
  Interface** operator&() noexcept {
    ReleaseIfAny();
    return &p_;
  }

  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }
  bool operator!=(std::nullptr_t) const noexcept { return p_ != nullptr; }
  /// Identity comparisons: both sides are asked for IUnknown (COM's rule for "same object").
  template <typename Other>
  bool operator==(const Other& other) const {
    return CompareUnknown(RawOf(other)) == 0;
  }
  template <typename Other>
  bool operator!=(const Other& other) const {
    return CompareUnknown(RawOf(other)) != 0;
  }
  template <typename Other>
  bool operator<(const Other& other) const {
    return CompareUnknown(RawOf(other)) < 0;
  }

  /// Releases the pointer and creates an object of class `clsid`. With a context that allows
  /// a local or remote server the object is created as IUnknown, run (OleRun), then queried;
  /// otherwise it is created for this interface directly. Returns the HRESULT; null on failure.
  HRESULT CreateInstance(const CLSID& clsid, IUnknown* outer = nullptr,
                         DWORD context = CLSCTX_ALL) noexcept {
    ReleaseIfAny();
    HRESULT hr;
    if ((context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) != 0) {
      IUnknown* unknown = nullptr;
      hr =
          CoCreateInstance(clsid, outer, context, IID_IUnknown, reinterpret_cast<void**>(&unknown));
      if (SUCCEEDED(hr)) {
        hr = OleRun(unknown);
        if (SUCCEEDED(hr)) hr = unknown->QueryInterface(GetIID(), reinterpret_cast<void**>(&p_));
        unknown->Release();
      }
    } else {
      hr = CoCreateInstance(clsid, outer, context, GetIID(), reinterpret_cast<void**>(&p_));
    }
    if (FAILED(hr)) p_ = nullptr;
    return hr;
  }
  /// As above with a class id in braces ("{...}") or a ProgID ("Excel.Application").
  HRESULT CreateInstance(LPCWSTR clsid_or_progid, IUnknown* outer = nullptr,
                         DWORD context = CLSCTX_ALL) noexcept {
    if (clsid_or_progid == nullptr) return E_INVALIDARG;
    CLSID clsid;
    const HRESULT hr = clsid_or_progid[0] == L'{' ? CLSIDFromString(clsid_or_progid, &clsid)
                                                  : CLSIDFromProgID(clsid_or_progid, &clsid);
    if (FAILED(hr)) return hr;
    return CreateInstance(clsid, outer, context);
  }

  /// Releases the pointer and attaches to the running object of class `clsid` (GetActiveObject
  /// of the running-object table), queried for this interface. Returns the HRESULT; null on
  /// failure.
  HRESULT GetActiveObject(const CLSID& clsid) noexcept {
    ReleaseIfAny();
    IUnknown* unknown = nullptr;
    HRESULT hr = ::GetActiveObject(clsid, nullptr, &unknown);
    if (SUCCEEDED(hr)) {
      hr = unknown->QueryInterface(GetIID(), reinterpret_cast<void**>(&p_));
      unknown->Release();
    }
    if (FAILED(hr)) p_ = nullptr;
    return hr;
  }
  /// As above with a class id in braces or a ProgID.
  HRESULT GetActiveObject(LPCWSTR clsid_or_progid) noexcept {
    if (clsid_or_progid == nullptr) return E_INVALIDARG;
    CLSID clsid;
    const HRESULT hr = clsid_or_progid[0] == L'{' ? CLSIDFromString(clsid_or_progid, &clsid)
                                                  : CLSIDFromProgID(clsid_or_progid, &clsid);
    if (FAILED(hr)) {
      ReleaseIfAny();
      return hr;
    }
    return GetActiveObject(clsid);
  }

  template <typename Other>
  HRESULT QueryInterface(const IID& iid, Other*& p) const noexcept {
    if (p_ == nullptr) return E_POINTER;
    return p_->QueryInterface(iid, reinterpret_cast<void**>(&p));
  }
  template <typename Other>
  HRESULT QueryInterface(const IID& iid, Other** p) const noexcept {
    if (p_ == nullptr) return E_POINTER;
    return p_->QueryInterface(iid, reinterpret_cast<void**>(p));
  }

 private:
  void AddRefIfAny() noexcept {
    if (p_ != nullptr) p_->AddRef();
  }
  void ReleaseIfAny() noexcept {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  static void RaiseUnlessNoInterface(HRESULT hr) {
    if (FAILED(hr) && hr != E_NOINTERFACE) _com_issue_error(hr);
  }

  // Replaces the pointer by `source` queried for this interface (null when the query fails).
  HRESULT QueryFrom(IUnknown* source) noexcept {
    Interface* result = nullptr;
    HRESULT hr = E_NOINTERFACE;
    if (source != nullptr) {
      hr = source->QueryInterface(GetIID(), reinterpret_cast<void**>(&result));
      if (FAILED(hr)) result = nullptr;
    }
    ReleaseIfAny();
    p_ = result;
    return hr;
  }

  // A VARIANT holding an interface is queried; any other value is first converted to
  // VT_DISPATCH and, when that gives E_NOINTERFACE, to VT_UNKNOWN. A value that converts to
  // neither leaves the pointer as it was and answers the conversion's HRESULT.
  HRESULT QueryStdInterfaces(const _variant_t& value) noexcept {
    if (value.vt == VT_DISPATCH) return QueryFrom(value.pdispVal);
    if (value.vt == VT_UNKNOWN) return QueryFrom(value.punkVal);
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, &value, 0, VT_DISPATCH);
    if (SUCCEEDED(hr)) hr = QueryFrom(converted.pdispVal);
    VariantClear(&converted);
    if (hr == E_NOINTERFACE) {
      hr = VariantChangeType(&converted, &value, 0, VT_UNKNOWN);
      if (SUCCEEDED(hr)) hr = QueryFrom(converted.punkVal);
      VariantClear(&converted);
    }
    return hr;
  }

  template <typename OtherIIID>
  static IUnknown* RawOf(const _com_ptr_t<OtherIIID>& p) noexcept {
    return p.GetInterfacePtr();
  }
  template <typename Other>
  requires std::is_base_of_v<IUnknown, Other>
  static IUnknown* RawOf(Other* p) noexcept { return p; }

  int CompareUnknown(IUnknown* other) const {
    IUnknown* mine = IdentityOf(p_);
    IUnknown* theirs = IdentityOf(other);
    if (mine == theirs) return 0;
    return std::less<IUnknown*>()(mine, theirs) ? -1 : 1;
  }
  static IUnknown* IdentityOf(IUnknown* p) {
    if (p == nullptr) return nullptr;
    IUnknown* identity = nullptr;
    const HRESULT hr = p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    if (FAILED(hr)) _com_issue_error(hr);
    identity->Release();  // only the address is compared
    return identity;
  }

  Interface* p_;
};

/// `_COM_SMARTPTR_TYPEDEF(IFoo, IID_IFoo)` declares `IFooPtr`.
#define _COM_SMARTPTR_TYPEDEF(Interface, IID) \
  using Interface##Ptr = _com_ptr_t<_com_IIID<Interface, &(IID)>>

_COM_SMARTPTR_TYPEDEF(IUnknown, IID_IUnknown);
_COM_SMARTPTR_TYPEDEF(IDispatch, IID_IDispatch);
_COM_SMARTPTR_TYPEDEF(IErrorInfo, IID_IErrorInfo);
_COM_SMARTPTR_TYPEDEF(ICreateErrorInfo, IID_ICreateErrorInfo);
_COM_SMARTPTR_TYPEDEF(ISupportErrorInfo, IID_ISupportErrorInfo);
_COM_SMARTPTR_TYPEDEF(IClassFactory, IID_IClassFactory);
_COM_SMARTPTR_TYPEDEF(IConnectionPoint, IID_IConnectionPoint);
_COM_SMARTPTR_TYPEDEF(IConnectionPointContainer, IID_IConnectionPointContainer);
_COM_SMARTPTR_TYPEDEF(ITypeInfo, IID_ITypeInfo);
_COM_SMARTPTR_TYPEDEF(ITypeLib, IID_ITypeLib);
_COM_SMARTPTR_TYPEDEF(IRunnableObject, IID_IRunnableObject);
