// Late-bound calls to the spreadsheet application ("Excel.Application"): the generic invoke
// routine, Excel's interfaces as smart pointers with one typed wrapper for each member the
// program calls, attaching to or starting the application, and the value conversions that the
// export and the import share.
//
// Every member is called by its fixed DISPID from Excel's type library through
// IDispatch::Invoke; member names are never looked up (no GetIDsOfNames). Every failure is
// raised as _com_error (the HRESULT and, when the application raised an exception, its source
// and description as error information); the command bodies catch and report it
// (excel/comerror.h).
//
//   Excel::_ApplicationPtr app;
//   if (FAILED(AttachExcel(app, "Excel.Application"))) return;  // no spreadsheet running
//   Excel::_WorksheetPtr sheet = app->GetActiveSheet();  // null for a chart sheet
//   _bstr_t name = sheet->GetName();                     // through null: _com_error(E_POINTER)
//   IDispatchPtr cells = sheet->GetCells();              // used through IDispatch, no query
//   _variant_t item = Excel::Range(cells).GetItem(_variant_t(SHORT{2}), _variant_t(SHORT{1}));
//   Excel::RangePtr cell = item;                         // QueryInterface for Range
//   cell->PutValue(_variant_t(L"Pump"));
//
// Threads: any thread in an apartment may call. Each operation obtains its own pointers; one
// smart pointer or view is used by one thread at a time. vtMissing is never written, so all
// threads may pass it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/calc/application.h"
#include "platform/com/comdef.h"

/// The missing optional argument: VT_ERROR with DISP_E_PARAMNOTFOUND, one for the process.
/// Passed for every optional argument that the caller leaves out; InvokeMember drops trailing
/// ones, so the application sees only the arguments given.
extern const _variant_t vtMissing;

/// The bit of a parameter type that marks an optional VARIANT argument (0x080C).
inline constexpr VARTYPE kOptionalParam = 0x0800;
inline constexpr VARTYPE kOptionalVariant = kOptionalParam | VT_VARIANT;

/// Calls member `id` of `dispatch` and raises _com_error on any failure; returns the success
/// HRESULT of IDispatch::Invoke.
///
/// - `kind`: DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT or
///   DISPATCH_PROPERTYPUTREF. A put needs at least one argument (else E_INVALIDARG, before the
///   call) and sends its value as the named argument DISPID_PROPERTYPUT.
/// - `result_type`: 0 (VT_EMPTY) for none; VT_VARIANT takes the result as it comes; any other
///   type converts a result of another type with VariantChangeType (flags 0).
/// - `result`: by `result_type`: LONG* (VT_I4, VT_INT, VT_ERROR), SHORT* (VT_I2),
///   VARIANT_BOOL* (VT_BOOL), float* (VT_R4), double* (VT_R8, VT_DATE), BSTR* (VT_BSTR; the
///   caller frees it), IDispatch** / IUnknown** (the caller owns one reference), VARIANT*
///   (VT_VARIANT; initialised here without being cleared, so pass an empty one; the caller
///   clears it), BYTE*, CHAR*, USHORT*, ULONG*, LONGLONG*, ULONGLONG* for the other integers.
///   Set to zero / null / VT_EMPTY first, and again on failure.
/// - `param_types`: zero-terminated, one per argument in call order, null for none. Each
///   argument follows in the variable list by its type: an int holding the 16-bit value for
///   VT_BOOL (non-zero is sent as VARIANT_TRUE) and the small integers, LONG for VT_I4 /
///   VT_ERROR, double for VT_R4 / VT_R8 / VT_DATE, BSTR for VT_BSTR, IDispatch* / IUnknown*,
///   `const VARIANT*` for VT_VARIANT (its content is passed, not owned), a pointer for any
///   VT_BYREF type, a SAFEARRAY* for VT_ARRAY. With kOptionalParam set the argument is an
///   optional VARIANT: trailing ones that are the missing argument are not sent.
/// - Failures: E_POINTER for a null `dispatch`; E_INVALIDARG for a parameter or result type
///   it does not know; the failing HRESULT of Invoke; for DISP_E_EXCEPTION the code of the
///   exception record (wCode N gives 0x80040200 + N, 0x8004FFFF from 0xFE00; without wCode its
///   scode) with an error object holding the record's source, description and help, and
///   IID_IDispatch; a result that does not convert raises the conversion's HRESULT.
HRESULT InvokeMember(IDispatch* dispatch, DISPID id, WORD kind, VARTYPE result_type, void* result,
                     const VARTYPE* param_types, ...);
/// InvokeMember with the arguments as a va_list.
HRESULT InvokeMemberV(IDispatch* dispatch, DISPID id, WORD kind, VARTYPE result_type, void* result,
                      const VARTYPE* param_types, va_list args);

namespace Excel {

/// Members of one Excel interface, called on a dispatch pointer that the view does not own
/// (the caller keeps the object alive). Views are used directly for the objects the program
/// drives through the IDispatch a member returned, without a query
/// (`Excel::Workbooks(books).Add()`), and are what an interface pointer's -> gives. A view of
/// null raises _com_error(E_POINTER) on every call.
class DispatchView {
 public:
  explicit DispatchView(IDispatch* dispatch = nullptr) noexcept : dispatch_(dispatch) {}
  IDispatch* dispatch() const noexcept { return dispatch_; }

 protected:
  IDispatch* dispatch_;
};

/// The application object.
class _Application : public DispatchView {
 public:
  using DispatchView::DispatchView;
  void PutInteractive(VARIANT_BOOL interactive) const;
  void PutVisible(VARIANT_BOOL visible) const;
  /// Null (no error) when no workbook is open.
  IDispatchPtr GetActiveWorkbook() const;
  /// A worksheet or a chart sheet; null when no workbook is open.
  IDispatchPtr GetActiveSheet() const;
  IDispatchPtr GetWorkbooks() const;
};

/// The collection of open workbooks.
class Workbooks : public DispatchView {
 public:
  using DispatchView::DispatchView;
  /// A new workbook, made from the file named by `template_file` when given; it becomes active.
  IDispatchPtr Add(const VARIANT& template_file = vtMissing) const;
  /// By 1-based number or by name.
  IDispatchPtr GetItem(const VARIANT& index) const;
  LONG GetCount() const;
};

class _Workbook : public DispatchView {
 public:
  using DispatchView::DispatchView;
  IDispatchPtr GetWorksheets() const;
  void Activate() const;
  _bstr_t GetName() const;
  /// The workbook's active sheet: a worksheet or a chart sheet.
  IDispatchPtr GetActiveSheet() const;
};

/// The worksheets of a workbook (chart sheets are not among them).
class Worksheets : public DispatchView {
 public:
  using DispatchView::DispatchView;
  /// A new worksheet; it becomes active.
  IDispatchPtr Add(const VARIANT& before = vtMissing, const VARIANT& after = vtMissing,
                   const VARIANT& count = vtMissing, const VARIANT& type = vtMissing) const;
  /// By 1-based number or by name.
  IDispatchPtr GetItem(const VARIANT& index) const;
  LONG GetCount() const;
};

class _Worksheet : public DispatchView {
 public:
  using DispatchView::DispatchView;
  void Activate() const;
  _bstr_t GetName() const;
  /// A name the application refuses raises its error (0x800A03EC with a reason).
  void PutName(const _bstr_t& name) const;
  IDispatchPtr GetCells() const;
  IDispatchPtr GetColumns() const;
  /// `cell1` an address ("A1", "A1:C3") or a range, `cell2` the other corner.
  IDispatchPtr GetRange(const VARIANT& cell1, const VARIANT& cell2 = vtMissing) const;
  /// The workbook.
  IDispatchPtr GetParent() const;
};

class Range : public DispatchView {
 public:
  using DispatchView::DispatchView;
  /// The cell at `row_index`, `column_index` (1-based, relative to the range) as a VARIANT
  /// holding its dispatch pointer.
  _variant_t GetItem(const VARIANT& row_index, const VARIANT& column_index = vtMissing) const;
  _variant_t GetValue() const;
  void PutValue(const VARIANT& value) const;
  /// The shown text, as the application answers it (VT_BSTR, or VT_NULL for cells that differ).
  _variant_t GetText() const;
  void PutNumberFormat(const VARIANT& format) const;
  void AutoFit() const;
  IDispatchPtr GetEntireRow() const;
  IDispatchPtr GetFont() const;
  /// Null (no error) when the cell has no comment.
  IDispatchPtr GetComment() const;
  IDispatchPtr AddComment(const VARIANT& text = vtMissing) const;
  LONG GetRow() const;
  LONG GetColumn() const;
  IDispatchPtr GetWorksheet() const;
};

class Font : public DispatchView {
 public:
  using DispatchView::DispatchView;
  void PutBold(const VARIANT& bold) const;
};

class Comment : public DispatchView {
 public:
  using DispatchView::DispatchView;
  /// Without arguments the text; with `text` alone the text is replaced; with `start` inserted
  /// (or, with `overwrite` true, written over) from that 1-based character. Returns the text.
  _bstr_t Text(const VARIANT& text = vtMissing, const VARIANT& start = vtMissing,
               const VARIANT& overwrite = vtMissing) const;
};

/// A reference-counted pointer to an object's Excel interface `*Iid`, holding the IDispatch the
/// object answers for that interface; -> gives the interface's members (`View`).
///
/// Made from or assigned another interface pointer (raw or smart) or a VARIANT (VT_DISPATCH,
/// VT_UNKNOWN, or a value that converts to VT_DISPATCH and, failing that, to VT_UNKNOWN), it
/// queries for `*Iid`: E_NOINTERFACE leaves it null without raising; any other failure raises
/// _com_error. -> on a null pointer raises _com_error(E_POINTER). Releases its reference when
/// it goes. One thread at a time.
template <class View, const IID* Iid>
class InterfacePtr : private View {
 public:
  static const IID& GetIID() noexcept { return *Iid; }

  InterfacePtr() noexcept : View(nullptr) {}
  InterfacePtr(std::nullptr_t) noexcept : View(nullptr) {}  // NOLINT(google-explicit-constructor)
  InterfacePtr(const InterfacePtr& other) noexcept : View(other.dispatch_) { AddRefIfAny(); }
  InterfacePtr(InterfacePtr&& other) noexcept : View(std::exchange(other.dispatch_, nullptr)) {}
  template <class Other>
  requires std::is_base_of_v<IUnknown, Other> InterfacePtr(Other* source)  // NOLINT
      : View(nullptr) {
    Raise(QueryFrom(source));
  }
  template <class OtherIIID>
  InterfacePtr(const _com_ptr_t<OtherIIID>& source) : View(nullptr) {  // NOLINT
    Raise(QueryFrom(source.GetInterfacePtr()));
  }
  template <class OtherView, const IID* OtherIid>
  requires(!std::is_same_v<InterfacePtr<OtherView, OtherIid>, InterfacePtr>)
      InterfacePtr(const InterfacePtr<OtherView, OtherIid>& source)  // NOLINT
      : View(nullptr) {
    Raise(QueryFrom(source.GetInterfacePtr()));
  }
  InterfacePtr(const VARIANT& value) : View(nullptr) {  // NOLINT(google-explicit-constructor)
    Raise(QueryFromVariant(value));
  }
  ~InterfacePtr() { Reset(nullptr); }

  InterfacePtr& operator=(const InterfacePtr& other) noexcept {
    if (other.dispatch_ != nullptr) other.dispatch_->AddRef();
    Reset(other.dispatch_);
    return *this;
  }
  InterfacePtr& operator=(InterfacePtr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.dispatch_, nullptr));
    return *this;
  }
  InterfacePtr& operator=(std::nullptr_t) noexcept {
    Reset(nullptr);
    return *this;
  }
  template <class Other>
  requires std::is_base_of_v<IUnknown, Other> InterfacePtr& operator=(Other* source) {
    Raise(QueryFrom(source));
    return *this;
  }
  template <class OtherIIID>
  InterfacePtr& operator=(const _com_ptr_t<OtherIIID>& source) {
    Raise(QueryFrom(source.GetInterfacePtr()));
    return *this;
  }
  template <class OtherView, const IID* OtherIid>
  requires(!std::is_same_v<InterfacePtr<OtherView, OtherIid>, InterfacePtr>) InterfacePtr&
  operator=(const InterfacePtr<OtherView, OtherIid>& source) {
    Raise(QueryFrom(source.GetInterfacePtr()));
    return *this;
  }
  InterfacePtr& operator=(const VARIANT& value) {
    Raise(QueryFromVariant(value));
    return *this;
  }

  /// The members; raises _com_error(E_POINTER) when null.
  const View* operator->() const {
    if (this->dispatch_ == nullptr) _com_issue_error(E_POINTER);
    return this;
  }
  IDispatch* GetInterfacePtr() const noexcept { return this->dispatch_; }
  operator IDispatch*() const noexcept { return this->dispatch_; }  // NOLINT
  explicit operator bool() const noexcept { return this->dispatch_ != nullptr; }
  bool operator==(std::nullptr_t) const noexcept { return this->dispatch_ == nullptr; }

  /// Takes over `dispatch` and its reference (the caller vouches that it is this interface's);
  /// the previous pointer is released.
  void Attach(IDispatch* dispatch) noexcept { Reset(dispatch); }
  /// Hands the pointer and its reference to the caller; this becomes null.
  IDispatch* Detach() noexcept { return std::exchange(this->dispatch_, nullptr); }

 private:
  void AddRefIfAny() noexcept {
    if (this->dispatch_ != nullptr) this->dispatch_->AddRef();
  }
  // Takes over `dispatch` (one reference) and releases what was held.
  void Reset(IDispatch* dispatch) noexcept {
    IDispatch* old = std::exchange(this->dispatch_, dispatch);
    if (old != nullptr) old->Release();
  }
  static void Raise(HRESULT hr) {
    if (FAILED(hr) && hr != E_NOINTERFACE) _com_issue_error(hr);
  }
  // Replaces the pointer by `source` queried for this interface (null when the query fails).
  HRESULT QueryFrom(IUnknown* source) noexcept {
    IDispatch* found = nullptr;
    HRESULT hr = E_NOINTERFACE;
    if (source != nullptr) {
      hr = source->QueryInterface(*Iid, reinterpret_cast<void**>(&found));
      if (FAILED(hr)) found = nullptr;
    }
    Reset(found);
    return hr;
  }
  // An interface in the VARIANT is queried; another value is converted to VT_DISPATCH, and when
  // that gives no interface, to VT_UNKNOWN. A value that converts to neither leaves the
  // pointer as it was and answers the conversion's HRESULT.
  HRESULT QueryFromVariant(const VARIANT& value) noexcept {
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

  template <class OtherView, const IID* OtherIid>
  friend class InterfacePtr;
};

using _ApplicationPtr = InterfacePtr<_Application, &sheetwise::calc::IID_ExcelApplication>;
using _WorkbookPtr = InterfacePtr<_Workbook, &sheetwise::calc::IID_ExcelWorkbook>;
using _WorksheetPtr = InterfacePtr<_Worksheet, &sheetwise::calc::IID_ExcelWorksheet>;
using WorksheetsPtr = InterfacePtr<Worksheets, &sheetwise::calc::IID_ExcelWorksheets>;
using RangePtr = InterfacePtr<Range, &sheetwise::calc::IID_ExcelRange>;

}  // namespace Excel

/// Attaches `app` to the running application of `progid` (8-bit text in the system ANSI code
/// page: "Excel.Application", or a class id in braces): releases what `app` held, looks up the
/// class, GetActiveObject, QueryInterface for _Application. Returns the HRESULT (that of
/// GetActiveObject when none runs, MK_E_UNAVAILABLE); `app` is null on any failure. Raises
/// nothing.
HRESULT AttachExcel(Excel::_ApplicationPtr& app, const char* progid);

/// Starts the application of `progid` (as AttachExcel) into `app`. With a context that allows
/// a local or remote server (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER) the object is created
/// as IUnknown, run with OleRun, then queried for _Application; with any other context it is
/// created for _Application directly. Returns the HRESULT; `app` is null on failure. Raises
/// nothing. Callers try AttachExcel first and pass CLSCTX_ALL.
HRESULT CreateExcel(Excel::_ApplicationPtr& app, const char* progid, IUnknown* outer = nullptr,
                    DWORD context = CLSCTX_ALL);

/// `value` as text, as a 16-bit or 32-bit integer, or as a 32-bit or 64-bit float: taken as it
/// is when it already has that type, else converted with VariantChangeType (flags 0; numbers
/// round half to even). A failing conversion raises _com_error with its HRESULT
/// (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW ...).
_bstr_t VariantToText(const VARIANT& value);
SHORT VariantToI2(const VARIANT& value);
LONG VariantToI4(const VARIANT& value);
float VariantToR4(const VARIANT& value);
double VariantToR8(const VARIANT& value);

/// 8-bit text in the system ANSI code page to a new BSTR that the caller frees (null gives
/// null). A failing conversion raises its Win32 error as HRESULT (0x8007xxxx); no memory
/// raises E_OUTOFMEMORY.
BSTR AnsiToBSTR(const char* text);
/// A BSTR to 8-bit text in the system ANSI code page (null gives ""); raises as AnsiToBSTR.
/// The text ends at an embedded zero.
std::string BSTRToAnsi(BSTR text);
