#include "excel/excel.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/errorinfo.h"
#include "platform/com/guid.h"
#include "platform/com/rot.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"

const _variant_t vtMissing(static_cast<LONG>(DISP_E_PARAMNOTFOUND), VT_ERROR);

namespace {

// Excel's dispatch ids, from its type library. 0xAA and 0x8A serve two members each; the call
// shape tells them apart.
constexpr DISPID kDispidValue = 0x6;
constexpr DISPID kDispidBold = 0x60;
constexpr DISPID kDispidName = 0x6E;
constexpr DISPID kDispidCount = 0x76;
constexpr DISPID kDispidText = 0x8A;  // Range.Text (get), Comment.Text (method)
constexpr DISPID kDispidFont = 0x92;
constexpr DISPID kDispidParent = 0x96;
constexpr DISPID kDispidItem = 0xAA;
constexpr DISPID kDispidAdd = 0xB5;
constexpr DISPID kDispidNumberFormat = 0xC1;
constexpr DISPID kDispidRange = 0xC5;
constexpr DISPID kDispidAutoFit = 0xED;
constexpr DISPID kDispidCells = 0xEE;
constexpr DISPID kDispidColumn = 0xF0;
constexpr DISPID kDispidColumns = 0xF1;
constexpr DISPID kDispidEntireRow = 0xF7;
constexpr DISPID kDispidRow = 0x101;
constexpr DISPID kDispidActivate = 0x130;
constexpr DISPID kDispidActiveSheet = 0x133;
constexpr DISPID kDispidActiveWorkbook = 0x134;
constexpr DISPID kDispidWorksheet = 0x15C;
constexpr DISPID kDispidInteractive = 0x169;
constexpr DISPID kDispidWorksheets = 0x1EE;
constexpr DISPID kDispidVisible = 0x22E;
constexpr DISPID kDispidWorkbooks = 0x23C;
constexpr DISPID kDispidComment = 0x38E;
constexpr DISPID kDispidAddComment = 0x56D;

// The parameter type lists in use.
constexpr VARTYPE kBoolParam[] = {VT_BOOL, 0};
constexpr VARTYPE kBstrParam[] = {VT_BSTR, 0};
constexpr VARTYPE kVariantParam[] = {VT_VARIANT, 0};
constexpr VARTYPE kVariantAndOptional[] = {VT_VARIANT, kOptionalVariant, 0};
constexpr VARTYPE kOptional1[] = {kOptionalVariant, 0};
constexpr VARTYPE kOptional3[] = {kOptionalVariant, kOptionalVariant, kOptionalVariant, 0};
constexpr VARTYPE kOptional4[] = {kOptionalVariant, kOptionalVariant, kOptionalVariant,
                                  kOptionalVariant, 0};

bool IsMissing(const VARIANT& v) {
  return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

// Reads one argument of type `vt` (optional bit removed) from the list into `arg`. The
// argument is borrowed: nothing in `arg` is owned, so it is never cleared.
HRESULT ReadArgument(VARTYPE vt, va_list& args, VARIANT& arg) {
  VariantInit(&arg);
  if ((vt & VT_BYREF) != 0) {
    const VARTYPE base = vt & ~VT_BYREF;
    if ((base & VT_ARRAY) == 0 && (base & ~VT_TYPEMASK) != 0) return E_INVALIDARG;
    arg.vt = vt;
    arg.byref = va_arg(args, void*);
    return S_OK;
  }
  if ((vt & VT_ARRAY) != 0) {
    if ((vt & ~(VT_ARRAY | VT_TYPEMASK)) != 0) return E_INVALIDARG;
    arg.vt = vt;
    arg.parray = va_arg(args, SAFEARRAY*);
    return S_OK;
  }
  arg.vt = vt;
  switch (vt) {
    case VT_UI1:
      arg.bVal = static_cast<BYTE>(va_arg(args, int));
      break;
    case VT_I1:
      arg.cVal = static_cast<CHAR>(va_arg(args, int));
      break;
    case VT_I2:
      arg.iVal = static_cast<SHORT>(va_arg(args, int));
      break;
    case VT_UI2:
      arg.uiVal = static_cast<USHORT>(va_arg(args, int));
      break;
    case VT_BOOL:
      arg.boolVal = static_cast<SHORT>(va_arg(args, int)) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_I4:
    case VT_INT:
      arg.lVal = va_arg(args, LONG);
      break;
    case VT_UI4:
    case VT_UINT:
      arg.ulVal = va_arg(args, ULONG);
      break;
    case VT_ERROR:
      arg.scode = va_arg(args, SCODE);
      break;
    case VT_I8:
      arg.llVal = va_arg(args, LONGLONG);
      break;
    case VT_UI8:
      arg.ullVal = va_arg(args, ULONGLONG);
      break;
    case VT_R4:
      arg.fltVal = static_cast<FLOAT>(va_arg(args, double));
      break;
    case VT_R8:
    case VT_DATE:
      arg.dblVal = va_arg(args, double);
      break;
    case VT_BSTR:
      arg.bstrVal = va_arg(args, BSTR);
      break;
    case VT_DISPATCH:
      arg.pdispVal = va_arg(args, IDispatch*);
      break;
    case VT_UNKNOWN:
      arg.punkVal = va_arg(args, IUnknown*);
      break;
    case VT_VARIANT: {
      // The caller's VARIANT travels as it is; it stays the caller's.
      const VARIANT* value = va_arg(args, const VARIANT*);
      if (value == nullptr) return E_INVALIDARG;
      std::memcpy(&arg, value, sizeof arg);
      break;
    }
    default:
      VariantInit(&arg);
      return E_INVALIDARG;
  }
  return S_OK;
}

// Empties the result destination of type `vt`; false for a type the routine cannot store.
bool ClearDestination(VARTYPE vt, void* result) {
  switch (vt) {
    case VT_EMPTY:
      return true;
    case VT_UI1:
    case VT_I1:
      *static_cast<BYTE*>(result) = 0;
      return true;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      *static_cast<SHORT*>(result) = 0;
      return true;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      *static_cast<LONG*>(result) = 0;
      return true;
    case VT_I8:
    case VT_UI8:
      *static_cast<LONGLONG*>(result) = 0;
      return true;
    case VT_R4:
      *static_cast<FLOAT*>(result) = 0;
      return true;
    case VT_R8:
    case VT_DATE:
      *static_cast<DOUBLE*>(result) = 0;
      return true;
    case VT_BSTR:
      *static_cast<BSTR*>(result) = nullptr;
      return true;
    case VT_DISPATCH:
      *static_cast<IDispatch**>(result) = nullptr;
      return true;
    case VT_UNKNOWN:
      *static_cast<IUnknown**>(result) = nullptr;
      return true;
    case VT_VARIANT:
      VariantInit(static_cast<VARIANT*>(result));
      return true;
    default:
      return false;
  }
}

// Moves the converted value (of type `vt`) into the destination; the destination owns what
// the VARIANT owned.
void Store(VARTYPE vt, VARIANT& value, void* result) {
  switch (vt) {
    case VT_UI1:
    case VT_I1:
      *static_cast<BYTE*>(result) = value.bVal;
      break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      *static_cast<SHORT*>(result) = value.iVal;
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      *static_cast<LONG*>(result) = value.lVal;
      break;
    case VT_I8:
    case VT_UI8:
      *static_cast<LONGLONG*>(result) = value.llVal;
      break;
    case VT_R4:
      *static_cast<FLOAT*>(result) = value.fltVal;
      break;
    case VT_R8:
    case VT_DATE:
      *static_cast<DOUBLE*>(result) = value.dblVal;
      break;
    case VT_BSTR:
      *static_cast<BSTR*>(result) = value.bstrVal;
      break;
    case VT_DISPATCH:
      *static_cast<IDispatch**>(result) = value.pdispVal;
      break;
    case VT_UNKNOWN:
      *static_cast<IUnknown**>(result) = value.punkVal;
      break;
    case VT_VARIANT:
      std::memcpy(result, &value, sizeof value);
      break;
    default:
      VariantClear(&value);
      return;
  }
  VariantInit(&value);  // handed over
}

// Raises the exception record of a DISP_E_EXCEPTION as _com_error with an error object.
[[noreturn]] void RaiseException(EXCEPINFO& excep) {
  if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
  HRESULT hr = DISP_E_EXCEPTION;
  if (excep.wCode != 0) {
    hr = _com_error::WCodeToHRESULT(excep.wCode);
  } else if (FAILED(excep.scode)) {
    hr = excep.scode;
  }
  IErrorInfo* info = nullptr;
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(IID_IDispatch);
    create->SetSource(excep.bstrSource);
    create->SetDescription(excep.bstrDescription);
    create->SetHelpFile(excep.bstrHelpFile);
    create->SetHelpContext(excep.dwHelpContext);
    if (FAILED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      info = nullptr;
    }
    create->Release();
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  excep.bstrSource = excep.bstrDescription = excep.bstrHelpFile = nullptr;
  _com_raise_error(hr, info);
}

}  // namespace

HRESULT InvokeMember(IDispatch* dispatch, DISPID id, WORD kind, VARTYPE result_type, void* result,
                     const VARTYPE* param_types, ...) {
  va_list args;
  va_start(args, param_types);
  struct End {
    va_list& list;
    ~End() { va_end(list); }
  } end{args};
  return InvokeMemberV(dispatch, id, kind, result_type, result, param_types, args);
}

HRESULT InvokeMemberV(IDispatch* dispatch, DISPID id, WORD kind, VARTYPE result_type, void* result,
                      const VARTYPE* param_types, va_list list) {
  if (dispatch == nullptr) _com_issue_error(E_POINTER);
  if (result_type != VT_EMPTY && result == nullptr) _com_issue_error(E_POINTER);
  if (!ClearDestination(result_type, result)) _com_issue_error(E_INVALIDARG);

  std::size_t count = 0;
  for (const VARTYPE* p = param_types; p != nullptr && *p != 0; ++p) ++count;
  // Members take a handful of arguments: they are laid out on the stack, not in heap vectors,
  // as this runs for every cell written.
  constexpr std::size_t kInlineArguments = 8;
  VARIANT inline_arguments[kInlineArguments];
  std::vector<VARIANT> more_arguments;
  VARIANT* in_order = inline_arguments;
  if (count > kInlineArguments) {
    more_arguments.resize(count);
    in_order = more_arguments.data();
  }

  va_list args;
  va_copy(args, list);
  std::size_t used = 0;
  HRESULT hr = S_OK;
  for (const VARTYPE* p = param_types; p != nullptr && *p != 0 && SUCCEEDED(hr); ++p)
    hr = ReadArgument(static_cast<VARTYPE>(*p & ~kOptionalParam), args, in_order[used++]);
  va_end(args);
  if (FAILED(hr)) _com_issue_error(hr);

  // Optional arguments left out at the end are not sent: the member sees fewer arguments, as
  // if the caller had written none.
  while (used > 0) {
    const VARTYPE vt = param_types[used - 1];
    const VARIANT& arg = in_order[used - 1];
    bool missing = false;
    if (vt == kOptionalVariant) {
      missing = IsMissing(arg);
    } else if (vt == (kOptionalVariant | VT_BYREF)) {
      missing = arg.pvarVal != nullptr && IsMissing(*arg.pvarVal);
    }
    if (!missing) break;
    --used;
  }

  const bool put = (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put && used == 0) _com_issue_error(E_INVALIDARG);

  // Invoke takes the arguments last first.
  std::reverse(in_order, in_order + used);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{used == 0 ? nullptr : in_order, put ? &named : nullptr, static_cast<UINT>(used),
                    put ? 1u : 0u};

  VARIANT value;
  VariantInit(&value);
  EXCEPINFO excep;
  std::memset(&excep, 0, sizeof excep);
  UINT arg_error = 0;
  hr = dispatch->Invoke(id, IID_NULL, 0, kind, &params, result_type != VT_EMPTY ? &value : nullptr,
                        &excep, &arg_error);
  if (FAILED(hr)) {
    VariantClear(&value);
    if (hr == DISP_E_EXCEPTION) RaiseException(excep);
    _com_issue_error(hr);
  }
  if (result_type != VT_EMPTY) {
    if (result_type != VT_VARIANT && value.vt != result_type) {
      const HRESULT converted = VariantChangeType(&value, &value, 0, result_type);
      if (FAILED(converted)) {
        VariantClear(&value);
        _com_issue_error(converted);
      }
    }
    Store(result_type, value, result);
  }
  return hr;
}

// ---- The members ------------------------------------------------------------------------------

namespace {

IDispatchPtr GetDispatch(IDispatch* dispatch, DISPID id) {
  IDispatch* out = nullptr;
  InvokeMember(dispatch, id, DISPATCH_PROPERTYGET, VT_DISPATCH, &out, nullptr);
  return IDispatchPtr(out, false);
}

_bstr_t GetText(IDispatch* dispatch, DISPID id) {
  BSTR out = nullptr;
  InvokeMember(dispatch, id, DISPATCH_PROPERTYGET, VT_BSTR, &out, nullptr);
  return _bstr_t(out, false);
}

LONG GetLong(IDispatch* dispatch, DISPID id) {
  LONG out = 0;
  InvokeMember(dispatch, id, DISPATCH_PROPERTYGET, VT_I4, &out, nullptr);
  return out;
}

_variant_t GetVariant(IDispatch* dispatch, DISPID id) {
  _variant_t out;
  InvokeMember(dispatch, id, DISPATCH_PROPERTYGET, VT_VARIANT, &out, nullptr);
  return out;
}

void PutVariant(IDispatch* dispatch, DISPID id, const VARIANT& value) {
  InvokeMember(dispatch, id, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kVariantParam, &value);
}

void CallMethod(IDispatch* dispatch, DISPID id) {
  InvokeMember(dispatch, id, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
}

}  // namespace

namespace Excel {

void _Application::PutInteractive(VARIANT_BOOL interactive) const {
  InvokeMember(dispatch_, kDispidInteractive, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kBoolParam,
               static_cast<int>(interactive));
}

void _Application::PutVisible(VARIANT_BOOL visible) const {
  InvokeMember(dispatch_, kDispidVisible, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kBoolParam,
               static_cast<int>(visible));
}

IDispatchPtr _Application::GetActiveWorkbook() const {
  return GetDispatch(dispatch_, kDispidActiveWorkbook);
}

IDispatchPtr _Application::GetActiveSheet() const {
  return GetDispatch(dispatch_, kDispidActiveSheet);
}

IDispatchPtr _Application::GetWorkbooks() const {
  return GetDispatch(dispatch_, kDispidWorkbooks);
}

IDispatchPtr Workbooks::Add(const VARIANT& template_file) const {
  IDispatch* out = nullptr;
  InvokeMember(dispatch_, kDispidAdd, DISPATCH_METHOD, VT_DISPATCH, &out, kOptional1,
               &template_file);
  return IDispatchPtr(out, false);
}

IDispatchPtr Workbooks::GetItem(const VARIANT& index) const {
  IDispatch* out = nullptr;
  InvokeMember(dispatch_, kDispidItem, DISPATCH_PROPERTYGET, VT_DISPATCH, &out, kVariantParam,
               &index);
  return IDispatchPtr(out, false);
}

LONG Workbooks::GetCount() const {
  return GetLong(dispatch_, kDispidCount);
}

IDispatchPtr _Workbook::GetWorksheets() const {
  return GetDispatch(dispatch_, kDispidWorksheets);
}

void _Workbook::Activate() const {
  CallMethod(dispatch_, kDispidActivate);
}

_bstr_t _Workbook::GetName() const {
  return GetText(dispatch_, kDispidName);
}

IDispatchPtr _Workbook::GetActiveSheet() const {
  return GetDispatch(dispatch_, kDispidActiveSheet);
}

IDispatchPtr Worksheets::Add(const VARIANT& before, const VARIANT& after, const VARIANT& count,
                             const VARIANT& type) const {
  IDispatch* out = nullptr;
  InvokeMember(dispatch_, kDispidAdd, DISPATCH_METHOD, VT_DISPATCH, &out, kOptional4, &before,
               &after, &count, &type);
  return IDispatchPtr(out, false);
}

IDispatchPtr Worksheets::GetItem(const VARIANT& index) const {
  IDispatch* out = nullptr;
  InvokeMember(dispatch_, kDispidItem, DISPATCH_PROPERTYGET, VT_DISPATCH, &out, kVariantParam,
               &index);
  return IDispatchPtr(out, false);
}

LONG Worksheets::GetCount() const {
  return GetLong(dispatch_, kDispidCount);
}

void _Worksheet::Activate() const {
  CallMethod(dispatch_, kDispidActivate);
}

_bstr_t _Worksheet::GetName() const {
  return GetText(dispatch_, kDispidName);
}

void _Worksheet::PutName(const _bstr_t& name) const {
  InvokeMember(dispatch_, kDispidName, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kBstrParam,
               static_cast<BSTR>(static_cast<wchar_t*>(name)));
}

IDispatchPtr _Worksheet::GetCells() const {
  return GetDispatch(dispatch_, kDispidCells);
}

IDispatchPtr _Worksheet::GetColumns() const {
  return GetDispatch(dispatch_, kDispidColumns);
}

IDispatchPtr _Worksheet::GetRange(const VARIANT& cell1, const VARIANT& cell2) const {
  IDispatch* out = nullptr;
  InvokeMember(dispatch_, kDispidRange, DISPATCH_PROPERTYGET, VT_DISPATCH, &out,
               kVariantAndOptional, &cell1, &cell2);
  return IDispatchPtr(out, false);
}

IDispatchPtr _Worksheet::GetParent() const {
  return GetDispatch(dispatch_, kDispidParent);
}

_variant_t Range::GetItem(const VARIANT& row_index, const VARIANT& column_index) const {
  _variant_t out;
  InvokeMember(dispatch_, kDispidItem, DISPATCH_PROPERTYGET, VT_VARIANT, &out, kVariantAndOptional,
               &row_index, &column_index);
  return out;
}

_variant_t Range::GetValue() const {
  return GetVariant(dispatch_, kDispidValue);
}

void Range::PutValue(const VARIANT& value) const {
  PutVariant(dispatch_, kDispidValue, value);
}

_variant_t Range::GetText() const {
  return GetVariant(dispatch_, kDispidText);
}

void Range::PutNumberFormat(const VARIANT& format) const {
  PutVariant(dispatch_, kDispidNumberFormat, format);
}

void Range::AutoFit() const {
  CallMethod(dispatch_, kDispidAutoFit);
}

IDispatchPtr Range::GetEntireRow() const {
  return GetDispatch(dispatch_, kDispidEntireRow);
}

IDispatchPtr Range::GetFont() const {
  return GetDispatch(dispatch_, kDispidFont);
}

IDispatchPtr Range::GetComment() const {
  return GetDispatch(dispatch_, kDispidComment);
}

IDispatchPtr Range::AddComment(const VARIANT& text) const {
  IDispatch* out = nullptr;
  InvokeMember(dispatch_, kDispidAddComment, DISPATCH_METHOD, VT_DISPATCH, &out, kOptional1, &text);
  return IDispatchPtr(out, false);
}

LONG Range::GetRow() const {
  return GetLong(dispatch_, kDispidRow);
}

LONG Range::GetColumn() const {
  return GetLong(dispatch_, kDispidColumn);
}

IDispatchPtr Range::GetWorksheet() const {
  return GetDispatch(dispatch_, kDispidWorksheet);
}

void Font::PutBold(const VARIANT& bold) const {
  PutVariant(dispatch_, kDispidBold, bold);
}

_bstr_t Comment::Text(const VARIANT& text, const VARIANT& start, const VARIANT& overwrite) const {
  BSTR out = nullptr;
  InvokeMember(dispatch_, kDispidText, DISPATCH_METHOD, VT_BSTR, &out, kOptional3, &text, &start,
               &overwrite);
  return _bstr_t(out, false);
}

}  // namespace Excel

// ---- Attaching and starting -------------------------------------------------------------------

namespace {

// The class of `progid` (8-bit, ANSI code page): a class id in braces or a program identifier.
HRESULT LookUpClass(const char* progid, CLSID* clsid) {
  if (progid == nullptr) return E_INVALIDARG;
  const int chars = MultiByteToWideChar(CP_ACP, 0, progid, -1, nullptr, 0);
  if (chars == 0) return HRESULT_FROM_WIN32(GetLastError());
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, progid, -1, wide.data(), chars) == 0) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  return wide[0] == L'{' ? CLSIDFromString(wide.c_str(), clsid)
                         : CLSIDFromProgID(wide.c_str(), clsid);
}

const IID& ApplicationIid() {
  return Excel::_ApplicationPtr::GetIID();
}

}  // namespace

HRESULT AttachExcel(Excel::_ApplicationPtr& app, const char* progid) {
  app = nullptr;
  CLSID clsid;
  HRESULT hr = LookUpClass(progid, &clsid);
  if (FAILED(hr)) return hr;
  IUnknown* running = nullptr;
  hr = GetActiveObject(clsid, nullptr, &running);
  if (FAILED(hr)) return hr;
  IDispatch* found = nullptr;
  hr = running->QueryInterface(ApplicationIid(), reinterpret_cast<void**>(&found));
  running->Release();
  if (FAILED(hr)) return hr;
  app.Attach(found);
  return hr;
}

HRESULT CreateExcel(Excel::_ApplicationPtr& app, const char* progid, IUnknown* outer,
                    DWORD context) {
  app = nullptr;
  CLSID clsid;
  HRESULT hr = LookUpClass(progid, &clsid);
  if (FAILED(hr)) return hr;
  IDispatch* made = nullptr;
  if ((context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) != 0) {
    // A server's object is run before it is used, so that it registers as running.
    IUnknown* unknown = nullptr;
    hr = CoCreateInstance(clsid, outer, context, IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (FAILED(hr)) return hr;
    hr = OleRun(unknown);
    if (SUCCEEDED(hr))
      hr = unknown->QueryInterface(ApplicationIid(), reinterpret_cast<void**>(&made));
    unknown->Release();
  } else {
    hr = CoCreateInstance(clsid, outer, context, ApplicationIid(), reinterpret_cast<void**>(&made));
  }
  if (FAILED(hr)) return hr;
  app.Attach(made);
  return hr;
}

// ---- Conversions ------------------------------------------------------------------------------

namespace {

// `value` converted to `vt` into `out`, which the caller clears; raises on failure.
void ConvertInto(const VARIANT& value, VARTYPE vt, VARIANT& out) {
  VariantInit(&out);
  const HRESULT hr = VariantChangeType(&out, &value, 0, vt);
  if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace

_bstr_t VariantToText(const VARIANT& value) {
  if (value.vt == VT_BSTR) return _bstr_t(value.bstrVal, true);
  VARIANT converted;
  ConvertInto(value, VT_BSTR, converted);
  return _bstr_t(converted.bstrVal, false);
}

// The numbers own nothing, so the converted temporaries need no clearing.
SHORT VariantToI2(const VARIANT& value) {
  if (value.vt == VT_I2) return value.iVal;
  VARIANT converted;
  ConvertInto(value, VT_I2, converted);
  return converted.iVal;
}

LONG VariantToI4(const VARIANT& value) {
  if (value.vt == VT_I4) return value.lVal;
  VARIANT converted;
  ConvertInto(value, VT_I4, converted);
  return converted.lVal;
}

float VariantToR4(const VARIANT& value) {
  if (value.vt == VT_R4) return value.fltVal;
  VARIANT converted;
  ConvertInto(value, VT_R4, converted);
  return converted.fltVal;
}

double VariantToR8(const VARIANT& value) {
  if (value.vt == VT_R8) return value.dblVal;
  VARIANT converted;
  ConvertInto(value, VT_R8, converted);
  return converted.dblVal;
}

BSTR AnsiToBSTR(const char* text) {
  return _com_util::ConvertStringToBSTR(text);
}

std::string BSTRToAnsi(BSTR text) {
  std::unique_ptr<char[]> narrow(_com_util::ConvertBSTRToString(text));
  return narrow ? std::string(narrow.get()) : std::string();
}
