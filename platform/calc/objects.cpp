#include "platform/calc/objects.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>

#include <unistd.h>

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/connpt.h"
#include "platform/com/rot.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"
#include "platform/win/locale.h"
#include "platform/xlsx/numfmt.h"

namespace sheetwise::calc {

using xlsx::Book;
using xlsx::CellValue;
using xlsx::Sheet;
using xlsx::ValueKind;

namespace {

// ---- Values ------------------------------------------------------------------------------------

// Excel's error values as VT_ERROR codes (CVErr): 0x800A0000 + the xlErr number.
struct ErrorCode {
  const char* text;
  SCODE code;
};
constexpr ErrorCode kErrors[] = {
    {"#NULL!", static_cast<SCODE>(0x800A07D0u)},  {"#DIV/0!", static_cast<SCODE>(0x800A07D7u)},
    {"#VALUE!", static_cast<SCODE>(0x800A07DFu)}, {"#REF!", static_cast<SCODE>(0x800A07E7u)},
    {"#NAME?", static_cast<SCODE>(0x800A07EDu)},  {"#NUM!", static_cast<SCODE>(0x800A07F4u)},
    {"#N/A", static_cast<SCODE>(0x800A07FAu)}};

BSTR Bstr(std::string_view utf8) {
  const std::wstring w = Utf8ToWide(utf8);
  return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

std::string Utf8(const wchar_t* w, std::size_t n) {
  return WideToUtf8(std::wstring_view(w, n));
}

std::string Utf8(BSTR b) {
  return b ? Utf8(b, SysStringLen(b)) : std::string();
}

// ---- Errors ------------------------------------------------------------------------------------

HRESULT Fail(EXCEPINFO* excep, HRESULT code, std::string_view description) {
  if (excep != nullptr) {
    *excep = EXCEPINFO{};
    excep->bstrSource = SysAllocString(kErrorSource);
    excep->bstrDescription = Bstr(description);
    excep->scode = code;
  }
  return DISP_E_EXCEPTION;
}

// ---- Arguments -------------------------------------------------------------------------------

// The arguments of one call in declaration order; a put's value apart.
class Args {
 public:
  explicit Args(DISPPARAMS* p, bool put) : p_(p), put_(put) {}
  UINT count() const {
    if (p_ == nullptr) return 0;
    return p_->cArgs - (put_ && p_->cArgs > 0 ? 1 : 0);
  }
  /// Argument `i` (0-based, declaration order), or null when missing or omitted.
  const VARIANT* Get(UINT i) const {
    if (i >= count()) return nullptr;
    const VARIANT* v = &p_->rgvarg[p_->cArgs - 1 - i];
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    if (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND) return nullptr;
    return v;
  }
  const VARIANT* Value() const {
    if (!put_ || p_ == nullptr || p_->cArgs == 0) return nullptr;
    const VARIANT* v = &p_->rgvarg[0];
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    return v;
  }

 private:
  DISPPARAMS* p_;
  bool put_;
};

std::optional<long> AsLong(const VARIANT* v) {
  if (v == nullptr) return std::nullopt;
  // The row and column indexes of every cell come as these: no conversion needed.
  if (v->vt == VT_I2) return v->iVal;
  if (v->vt == VT_I4) return v->lVal;
  VARIANT out;
  VariantInit(&out);
  if (FAILED(VariantChangeType(&out, v, 0, VT_I4))) return std::nullopt;
  return out.lVal;
}

std::optional<std::string> AsText(const VARIANT* v) {
  if (v == nullptr) return std::nullopt;
  if (v->vt == VT_BSTR) return Utf8(v->bstrVal);
  VARIANT out;
  VariantInit(&out);
  if (FAILED(VariantChangeType(&out, v, 0, VT_BSTR))) return std::nullopt;
  std::string s = Utf8(out.bstrVal);
  VariantClear(&out);
  return s;
}

std::optional<bool> AsBool(const VARIANT* v) {
  if (v == nullptr) return std::nullopt;
  VARIANT out;
  VariantInit(&out);
  if (FAILED(VariantChangeType(&out, v, 0, VT_BOOL))) return std::nullopt;
  return out.boolVal != VARIANT_FALSE;
}

void SetDispatch(VARIANT* result, IDispatch* d) {
  if (result == nullptr) {
    if (d) d->Release();
    return;
  }
  VariantInit(result);
  result->vt = VT_DISPATCH;
  result->pdispVal = d;  // the reference made for the caller
}

void SetBstr(VARIANT* result, std::string_view text) {
  if (result == nullptr) return;
  VariantInit(result);
  result->vt = VT_BSTR;
  result->bstrVal = Bstr(text);
}

void SetLong(VARIANT* result, long v) {
  if (result == nullptr) return;
  VariantInit(result);
  result->vt = VT_I4;
  result->lVal = v;
}

void SetBool(VARIANT* result, bool v) {
  if (result == nullptr) return;
  VariantInit(result);
  result->vt = VT_BOOL;
  result->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}

// ---- The object base -------------------------------------------------------------------------

constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT;
constexpr WORD kMethod = DISPATCH_METHOD;

// One automation object: IUnknown and IDispatch, calls routed by DISPID to Call().
class DispObject : public IDispatch {
 public:
  explicit DispObject(const IID* iid) : iid_(iid) {}
  virtual ~DispObject() = default;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || (iid_ != nullptr && riid == *iid_)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return QueryMore(riid, ppv);
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  // Members are called by their fixed ids; there is no name table.
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override {
    if (result) VariantInit(result);
    // A property get may come as "method or get", as late-bound callers send it.
    WORD kind = flags;
    if (kind == (kMethod | kGet)) kind = kGet;
    if (kind & (kPut | DISPATCH_PROPERTYPUTREF)) kind = kPut;
    Args args(params, kind == kPut);
    if (kind == kPut && args.Value() == nullptr) return DISP_E_PARAMNOTFOUND;
    const HRESULT hr = Call(id, kind, args, result, excep);
    if (hr == DISP_E_TYPEMISMATCH && arg_err) *arg_err = 0;
    if (hr == DISP_E_MEMBERNOTFOUND && flags == (kMethod | kGet))
      return Call(id, kMethod, Args(params, false), result, excep);
    return hr;
  }

 protected:
  virtual HRESULT QueryMore(REFIID, void**) { return E_NOINTERFACE; }
  virtual HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result,
                       EXCEPINFO* excep) = 0;

 private:
  const IID* iid_;
  ULONG refs_ = 1;  // the creator's reference
};

IDispatch* MakeWorkbook(AppState& app, std::shared_ptr<BookState> book);
IDispatch* MakeSheet(AppState& app, std::shared_ptr<BookState> book, std::shared_ptr<Sheet> sheet);
IDispatch* MakeWorksheets(AppState& app, std::shared_ptr<BookState> book);
IDispatch* MakeWorkbooks(AppState& app);

// ---- Shown text and widths -------------------------------------------------------------------

// Width of a shown text in tenths of a character, bold text about a tenth wider.
std::uint32_t TextWidth(std::string_view shown, bool bold) {
  const std::size_t chars = xlsx::DisplayWidth(shown);
  return static_cast<std::uint32_t>(chars * (bold ? 11 : 10));
}

SheetWidths& Widths(BookState& book, const Sheet& sheet) {
  return book.widths[&sheet];
}

std::uint32_t CellWidth(const Book& book, const Sheet& sheet, std::uint32_t row,
                        std::uint32_t col) {
  const CellValue v = sheet.Value(row, col);
  if (v.kind == ValueKind::kEmpty) return 0;
  const xlsx::StyleInfo& style = book.Style(sheet.StyleOf(row, col));
  // A text shown as it is is measured without being copied into a shown text first.
  if (v.kind == ValueKind::kText && xlsx::ShowsTextUnchanged(style.format_code))
    return TextWidth(v.text, style.bold);
  return TextWidth(ShownText(book, sheet, row, col), style.bold);
}

// Runs `change` on one cell and keeps the column's widths up to date when they are tracked.
template <typename Fn>
void ChangeCell(BookState& bs, Sheet& sheet, std::uint32_t row, std::uint32_t col, Fn&& change) {
  auto it = bs.widths.find(&sheet);
  if (it == bs.widths.end() || !it->second.built) {
    change();
    return;
  }
  const std::uint32_t before = CellWidth(*bs.book, sheet, row, col);
  change();
  const std::uint32_t after = CellWidth(*bs.book, sheet, row, col);
  // A cell that shows nothing before and after (a format given to a new cell) counts nowhere.
  if (before == 0 && after == 0) return;
  ColumnWidths& cw = it->second.columns[col];
  cw.Remove(before);
  cw.Add(after);
}

void BuildWidths(BookState& bs, const Sheet& sheet) {
  SheetWidths& w = Widths(bs, sheet);
  if (w.built) return;
  w.columns.clear();
  for (auto [r, c] : sheet.CellPositions()) w.columns[c].Add(CellWidth(*bs.book, sheet, r, c));
  w.built = true;
}

// ---- The application ---------------------------------------------------------------------------

bool ValidSheetName(std::string_view name, std::string* why) {
  const std::wstring w = Utf8ToWide(name);
  if (w.empty() || w.size() > 31) {
    *why = "A sheet name must have 1 to 31 characters.";
    return false;
  }
  if (w.find_first_of(L"[]:*?/\\") != std::wstring::npos) {
    *why = "A sheet name cannot contain any of these characters: [ ] : * ? / \\";
    return false;
  }
  if (w.front() == L'\'' || w.back() == L'\'') {
    *why = "A sheet name cannot begin or end with an apostrophe.";
    return false;
  }
  if (EqualsNoCase(w, L"History")) {
    *why = "\"History\" is a name the spreadsheet keeps for itself.";
    return false;
  }
  return true;
}

}  // namespace

class AppObject : public DispObject, public ConnectionPointContainerImpl, public IRunnableObject {
 public:
  explicit AppObject(AppState* state) : DispObject(&IID_ExcelApplication), state_(state) {
    AddConnectionPoint(DIID_AppEvents);
    state_->object = this;
  }
  // The application ends with its last reference, as Excel quits: its workbooks go with it.
  ~AppObject() override {
    if (state_->object != this) return;
    state_->object = nullptr;
    state_->books.clear();
    state_->active.reset();
    state_->next_book_number = 1;
    state_->visible = false;
    state_->interactive = true;
    state_->rot_cookie = 0;
    if (state_->watch_fd >= 0) ::close(state_->watch_fd);
    state_->watch_fd = -1;
  }
  // IUnknown is the IDispatch's; the other faces forward to it.
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return DispObject::QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return DispObject::AddRef(); }
  ULONG Release() override { return DispObject::Release(); }

  // IRunnableObject: running means registered where GetActiveObject looks.
  HRESULT GetRunningClass(LPCLSID clsid) override {
    if (clsid == nullptr) return E_INVALIDARG;
    *clsid = CLSID_ExcelApplication;
    return S_OK;
  }
  HRESULT Run(IBindCtx*) override;
  BOOL IsRunning() override { return state_->rot_cookie != 0; }
  HRESULT LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT SetContainedObject(BOOL) override { return S_OK; }

  void FireSheetChange(IDispatch* sheet, IDispatch* range) {
    if (SinkCount(DIID_AppEvents) == 0) return;
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_DISPATCH;
    args[0].pdispVal = sheet;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = range;
    AddRef();  // a sink may drop the last outside reference while it runs
    FireEvent(DIID_AppEvents, kDispidSheetChange, args, 2);
    Release();
  }
  bool HasSinks() const { return SinkCount(DIID_AppEvents) != 0; }

 protected:
  HRESULT QueryMore(REFIID riid, void** ppv) override {
    if (riid == IID_IConnectionPointContainer) {
      *ppv = static_cast<IConnectionPointContainer*>(this);
      AddRef();
      return S_OK;
    }
    if (riid == IID_IRunnableObject) {
      *ppv = static_cast<IRunnableObject*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  AppState* state_;
};

namespace {

AppObject* App(AppState& s) {
  return s.object;
}

// ---- Range -------------------------------------------------------------------------------------

enum class Extent { kCells, kRows, kColumns };

class RangeObject : public DispObject {
 public:
  RangeObject(AppState& app, std::shared_ptr<BookState> book, std::shared_ptr<Sheet> sheet,
              std::uint32_t r1, std::uint32_t c1, std::uint32_t r2, std::uint32_t c2,
              Extent extent = Extent::kCells)
      : DispObject(&IID_ExcelRange),
        app_(app),
        book_(std::move(book)),
        sheet_(std::move(sheet)),
        r1_(r1),
        c1_(c1),
        r2_(r2),
        c2_(c2),
        extent_(extent) {}

 protected:
  HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  bool Single() const { return r1_ == r2_ && c1_ == c2_; }
  std::uint64_t Size() const { return std::uint64_t{r2_ - r1_ + 1} * (c2_ - c1_ + 1); }
  HRESULT GetValue(VARIANT* result, EXCEPINFO* excep);
  HRESULT PutValue(const VARIANT* value, EXCEPINFO* excep);
  HRESULT PutCellValue(std::uint32_t r, std::uint32_t c, const VARIANT* value, EXCEPINFO* excep);
  HRESULT PutNumberFormat(const VARIANT* value, EXCEPINFO* excep);
  HRESULT AutoFit(EXCEPINFO* excep);
  HRESULT Item(const Args& args, VARIANT* result, EXCEPINFO* excep);
  void Changed();
  template <typename Fn>
  void ForEachExisting(Fn&& fn);

  friend class FontObject;
  friend class CommentObject;
  AppState& app_;
  std::shared_ptr<BookState> book_;
  std::shared_ptr<Sheet> sheet_;
  std::uint32_t r1_, c1_, r2_, c2_;
  Extent extent_;
};

class FontObject : public DispObject {
 public:
  explicit FontObject(RangeObject* range) : DispObject(nullptr), range_(range) { range_->AddRef(); }
  ~FontObject() override { range_->Release(); }

 protected:
  HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  RangeObject* range_;
};

class CommentObject : public DispObject {
 public:
  CommentObject(std::shared_ptr<BookState> book, std::shared_ptr<Sheet> sheet, std::uint32_t row,
                std::uint32_t col)
      : DispObject(nullptr),
        book_(std::move(book)),
        sheet_(std::move(sheet)),
        row_(row),
        col_(col) {}

 protected:
  HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  std::shared_ptr<BookState> book_;
  std::shared_ptr<Sheet> sheet_;
  std::uint32_t row_, col_;
};

std::string UserName() {
  if (const char* u = std::getenv("USER"); u != nullptr && *u) return u;
  return "Sheetwise";
}

template <typename Fn>
void RangeObject::ForEachExisting(Fn&& fn) {
  // Whole rows and columns cover millions of cells: only the ones the sheet holds are visited.
  if (Size() <= 4096) {
    for (std::uint32_t r = r1_; r <= r2_; ++r)
      for (std::uint32_t c = c1_; c <= c2_; ++c) fn(r, c);
    return;
  }
  for (auto [r, c] : sheet_->CellPositions())
    if (r >= r1_ && r <= r2_ && c >= c1_ && c <= c2_) fn(r, c);
}

void RangeObject::Changed() {
  AppObject* app = App(app_);
  if (app == nullptr || !app->HasSinks()) return;
  IDispatch* sheet = MakeSheet(app_, book_, sheet_);
  app->FireSheetChange(sheet, this);
  sheet->Release();
}

HRESULT RangeObject::GetValue(VARIANT* result, EXCEPINFO* excep) {
  if (!Single())
    return Fail(excep, kExcelError, "Value of a range of several cells is not supported here.");
  if (result == nullptr) return S_OK;
  const CellValue v = sheet_->Value(r1_, c1_);
  const Book& book = *book_->book;
  switch (v.kind) {
    case ValueKind::kEmpty:
      result->vt = VT_EMPTY;
      break;
    case ValueKind::kNumber: {
      // A date-formatted cell answers a date, as the spreadsheet's Value does.
      const std::string& code = book.Style(sheet_->StyleOf(r1_, c1_)).format_code;
      result->vt = xlsx::IsDateTimeFormat(code) && v.number >= 0 ? VT_DATE : VT_R8;
      result->dblVal = v.number + (result->vt == VT_DATE && book.date1904() ? 1462 : 0);
      break;
    }
    case ValueKind::kText:
      SetBstr(result, v.text);
      break;
    case ValueKind::kBool:
      SetBool(result, v.number != 0);
      break;
    case ValueKind::kError: {
      result->vt = VT_ERROR;
      result->scode = kErrors[2].code;  // #VALUE! for an unknown text
      for (const ErrorCode& e : kErrors)
        if (v.text == e.text) result->scode = e.code;
      break;
    }
  }
  return S_OK;
}

HRESULT RangeObject::PutCellValue(std::uint32_t r, std::uint32_t c, const VARIANT* value,
                                  EXCEPINFO* excep) {
  Book& book = *book_->book;
  Sheet& sheet = *sheet_;
  VARTYPE vt = value->vt;
  HRESULT failure = S_OK;
  ChangeCell(*book_, sheet, r, c, [&]() {
    switch (vt) {
      case VT_EMPTY:
      case VT_NULL:
        sheet.ClearValue(r, c);
        break;
      case VT_BOOL:
        sheet.SetBool(r, c, value->boolVal != VARIANT_FALSE);
        break;
      case VT_ERROR: {
        const char* text = "#VALUE!";
        for (const ErrorCode& e : kErrors)
          if (value->scode == e.code) text = e.text;
        sheet.SetError(r, c, text);
        break;
      }
      case VT_DATE: {
        const std::uint32_t style = sheet.StyleOf(r, c);
        if (book.Style(style).format_code == "General")
          sheet.SetStyle(r, c, book.StyleWithFormat(style, "m/d/yyyy"));
        sheet.SetNumber(r, c, value->date - (book.date1904() ? 1462 : 0));
        break;
      }
      case VT_BSTR: {
        const std::string text = Utf8(value->bstrVal);
        const std::uint32_t style = sheet.StyleOf(r, c);
        // Not a copy: no style is derived before its last use below.
        const std::string& code = book.Style(style).format_code;
        if (xlsx::IsTextFormat(code)) {
          sheet.SetText(r, c, text);
          break;
        }
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        const xlsx::TypedValue typed =
            xlsx::ParseTypedInput(text, book.date1904(), local.tm_year + 1900);
        using Kind = xlsx::TypedValue::Kind;
        switch (typed.kind) {
          case Kind::kEmpty:
            sheet.ClearValue(r, c);
            break;
          case Kind::kText:
            sheet.SetText(r, c, typed.text);
            break;
          case Kind::kNumber:
            sheet.SetNumber(r, c, typed.number);
            if (!typed.format.empty() && code == "General")
              sheet.SetStyle(r, c, book.StyleWithFormat(style, typed.format));
            break;
          case Kind::kBool:
            sheet.SetBool(r, c, typed.number != 0);
            break;
          case Kind::kError:
            sheet.SetError(r, c, typed.text);
            break;
          case Kind::kFormula:
            // No formulas are evaluated here: the value stays the text typed until a
            // spreadsheet that opens the file recalculates it.
            sheet.SetFormula(r, c, typed.text, CellValue{ValueKind::kText, 0, text});
            break;
        }
        break;
      }
      default: {
        VARIANT d;
        VariantInit(&d);
        if (FAILED(VariantChangeType(&d, value, 0, VT_R8))) {
          failure = DISP_E_TYPEMISMATCH;
          return;
        }
        sheet.SetNumber(r, c, d.dblVal);
      }
    }
  });
  if (failure != S_OK) return Fail(excep, kExcelError, "The value cannot be put into a cell.");
  return S_OK;
}

HRESULT RangeObject::PutValue(const VARIANT* value, EXCEPINFO* excep) {
  if (value->vt & VT_ARRAY)
    return Fail(excep, kExcelError, "Arrays cannot be put into a range here.");
  if (Size() > (1u << 20))
    return Fail(excep, kExcelError, "The range is too large to fill with one value.");
  for (std::uint32_t r = r1_; r <= r2_; ++r)
    for (std::uint32_t c = c1_; c <= c2_; ++c)
      if (HRESULT hr = PutCellValue(r, c, value, excep); FAILED(hr)) return hr;
  Changed();
  return S_OK;
}

HRESULT RangeObject::PutNumberFormat(const VARIANT* value, EXCEPINFO* excep) {
  std::optional<std::string> code = AsText(value);
  if (!code) return Fail(excep, kExcelError, "Unable to set the NumberFormat property.");
  Book& book = *book_->book;
  if (extent_ == Extent::kRows) {
    for (std::uint32_t r = r1_; r <= r2_; ++r)
      sheet_->SetRowStyle(r, book.StyleWithFormat(sheet_->RowStyle(r).value_or(0), *code));
  }
  auto apply = [&](std::uint32_t r, std::uint32_t c) {
    ChangeCell(*book_, *sheet_, r, c, [&]() {
      sheet_->SetStyle(r, c, book.StyleWithFormat(sheet_->StyleOf(r, c), *code));
    });
  };
  if (extent_ == Extent::kCells && Size() <= 4096) {
    for (std::uint32_t r = r1_; r <= r2_; ++r)
      for (std::uint32_t c = c1_; c <= c2_; ++c) apply(r, c);
  } else {
    ForEachExisting(apply);
  }
  return S_OK;
}

HRESULT RangeObject::AutoFit(EXCEPINFO* excep) {
  if (extent_ == Extent::kCells)
    return Fail(excep, kExcelError, "AutoFit works on whole rows or columns.");
  if (extent_ == Extent::kRows) return S_OK;  // row heights follow the text on their own
  BuildWidths(*book_, *sheet_);
  SheetWidths& w = Widths(*book_, *sheet_);
  std::vector<std::uint32_t> cols;
  for (const auto& [col, cw] : w.columns)
    if (col >= c1_ && col <= c2_ && cw.Widest() > 0) cols.push_back(col);
  for (std::uint32_t col : cols) {
    // Character widths plus the cell's margins, as a fitted column of Calibri 11 measures.
    const double width = std::min(255.0, w.columns[col].Widest() / 10.0 + 0.71);
    sheet_->SetColumnWidth(col, std::round(width * 256) / 256);
  }
  return S_OK;
}

HRESULT RangeObject::Item(const Args& args, VARIANT* result, EXCEPINFO* excep) {
  std::optional<long> row = AsLong(args.Get(0));
  const VARIANT* col_arg = args.Get(1);
  std::optional<long> col = col_arg ? AsLong(col_arg) : std::optional<long>(1);
  if (!row || !col) {
    if (args.Get(0) == nullptr) return DISP_E_PARAMNOTFOUND;
    return DISP_E_TYPEMISMATCH;
  }
  std::int64_t r = 0, c = 0;
  if (col_arg == nullptr && extent_ == Extent::kCells && !(r1_ == 1 && r2_ == xlsx::kMaxRow)) {
    // One index: the cells of the range counted row by row.
    const std::int64_t width = c2_ - c1_ + 1;
    const std::int64_t n = *row - 1;
    if (n < 0) return Fail(excep, kExcelError, "The cell index is out of range.");
    r = r1_ + n / width;
    c = c1_ + n % width;
  } else {
    r = std::int64_t{r1_} + *row - 1;
    c = std::int64_t{c1_} + *col - 1;
    if (extent_ == Extent::kColumns && col_arg == nullptr) {  // Columns(3): a whole column
      c = std::int64_t{c1_} + *row - 1;
      if (c < 1 || c > xlsx::kMaxColumn)
        return Fail(excep, kExcelError, "The column index is out of range.");
      auto* range = new RangeObject(app_, book_, sheet_, 1, static_cast<std::uint32_t>(c),
                                    xlsx::kMaxRow, static_cast<std::uint32_t>(c), Extent::kColumns);
      SetDispatch(result, range);
      return S_OK;
    }
  }
  if (r < 1 || r > xlsx::kMaxRow || c < 1 || c > xlsx::kMaxColumn)
    return Fail(excep, kExcelError, "The cell reference is out of the worksheet's range.");
  auto* range = new RangeObject(app_, book_, sheet_, static_cast<std::uint32_t>(r),
                                static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(r),
                                static_cast<std::uint32_t>(c));
  SetDispatch(result, range);
  return S_OK;
}

HRESULT RangeObject::Call(DISPID id, WORD kind, const Args& args, VARIANT* result,
                          EXCEPINFO* excep) {
  Book& book = *book_->book;
  switch (id) {
    case 0:  // _Default: Item with arguments, else Value
      if (kind == kGet && args.count() > 0) return Item(args, result, excep);
      if (kind == kGet) return GetValue(result, excep);
      if (kind == kPut) return PutValue(args.Value(), excep);
      break;
    case 0xAA:  // Item
      if (kind == kGet) return Item(args, result, excep);
      break;
    case 0x6:  // Value
      if (kind == kGet) return GetValue(result, excep);
      if (kind == kPut) return PutValue(args.Value(), excep);
      break;
    case 0x8A:  // Text
      if (kind == kGet) {
        const std::string text = ShownText(book, *sheet_, r1_, c1_);
        if (!Single()) {
          for (std::uint32_t r = r1_; r <= r2_ && Size() <= 4096; ++r)
            for (std::uint32_t c = c1_; c <= c2_; ++c)
              if (ShownText(book, *sheet_, r, c) != text) {
                if (result) result->vt = VT_NULL;
                return S_OK;
              }
        }
        SetBstr(result, text);
        return S_OK;
      }
      break;
    case 0xC1:  // NumberFormat
      if (kind == kGet) {
        SetBstr(result, book.Style(sheet_->StyleOf(r1_, c1_)).format_code);
        return S_OK;
      }
      if (kind == kPut) return PutNumberFormat(args.Value(), excep);
      break;
    case 0xED:  // AutoFit
      if (kind == kMethod) return AutoFit(excep);
      break;
    case 0xF7:  // EntireRow
      if (kind == kGet) {
        SetDispatch(result, new RangeObject(app_, book_, sheet_, r1_, 1, r2_, xlsx::kMaxColumn,
                                            Extent::kRows));
        return S_OK;
      }
      break;
    case 0xF6:  // EntireColumn
      if (kind == kGet) {
        SetDispatch(result, new RangeObject(app_, book_, sheet_, 1, c1_, xlsx::kMaxRow, c2_,
                                            Extent::kColumns));
        return S_OK;
      }
      break;
    case 0x92:  // Font
      if (kind == kGet) {
        SetDispatch(result, new FontObject(this));
        return S_OK;
      }
      break;
    case 0x38E:  // Comment
      if (kind == kGet) {
        if (sheet_->Comment(r1_, c1_) == nullptr) {
          if (result) {
            result->vt = VT_DISPATCH;
            result->pdispVal = nullptr;
          }
          return S_OK;
        }
        SetDispatch(result, new CommentObject(book_, sheet_, r1_, c1_));
        return S_OK;
      }
      break;
    case 0x56D: {  // AddComment
      if (kind != kMethod) break;
      if (sheet_->Comment(r1_, c1_) != nullptr)
        return Fail(excep, kExcelError, "The cell already has a comment.");
      std::string text;
      if (const VARIANT* t = args.Get(0)) {
        std::optional<std::string> s = AsText(t);
        if (!s) return DISP_E_TYPEMISMATCH;
        text = *s;
      }
      sheet_->SetComment(r1_, c1_, text, UserName());
      SetDispatch(result, new CommentObject(book_, sheet_, r1_, c1_));
      return S_OK;
    }
    case 0x101:  // Row
      if (kind == kGet) {
        SetLong(result, static_cast<long>(r1_));
        return S_OK;
      }
      break;
    case 0xF0:  // Column
      if (kind == kGet) {
        SetLong(result, static_cast<long>(c1_));
        return S_OK;
      }
      break;
    case 0x15C:  // Worksheet
      if (kind == kGet) {
        SetDispatch(result, MakeSheet(app_, book_, sheet_));
        return S_OK;
      }
      break;
    case 0x96:  // Parent
      if (kind == kGet) {
        SetDispatch(result, MakeSheet(app_, book_, sheet_));
        return S_OK;
      }
      break;
    case 0x76:  // Count
      if (kind == kGet) {
        SetLong(result, static_cast<long>(std::min<std::uint64_t>(Size(), 0x7FFFFFFF)));
        return S_OK;
      }
      break;
    default:
      break;
  }
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT FontObject::Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO*) {
  RangeObject& r = *range_;
  Book& book = *r.book_->book;
  if (id != 0x60) return DISP_E_MEMBERNOTFOUND;  // Bold
  if (kind == kGet) {
    SetBool(result, book.Style(r.sheet_->StyleOf(r.r1_, r.c1_)).bold);
    return S_OK;
  }
  if (kind != kPut) return DISP_E_MEMBERNOTFOUND;
  std::optional<bool> bold = AsBool(args.Value());
  if (!bold) return DISP_E_TYPEMISMATCH;
  if (r.extent_ == Extent::kRows) {
    // The row's style goes to each of its cells and to the cells written later.
    // Cells already in the row keep their own format (a text format stays text), bold added.
    for (std::uint32_t row = r.r1_; row <= r.r2_; ++row) {
      std::vector<std::pair<std::uint32_t, std::uint32_t>> cells;
      for (std::uint32_t col : r.sheet_->ColumnsInRow(row))
        cells.emplace_back(col, book.StyleWithBold(r.sheet_->StyleOf(row, col), *bold));
      r.sheet_->SetRowStyle(row, book.StyleWithBold(r.sheet_->RowStyle(row).value_or(0), *bold));
      for (const auto& [col, style] : cells) r.sheet_->SetStyle(row, col, style);
    }
    // Bold text is wider: the columns are measured again at the next fit.
    r.book_->widths.erase(r.sheet_.get());
    return S_OK;
  }
  auto apply = [&](std::uint32_t row, std::uint32_t col) {
    ChangeCell(*r.book_, *r.sheet_, row, col, [&]() {
      r.sheet_->SetStyle(row, col, book.StyleWithBold(r.sheet_->StyleOf(row, col), *bold));
    });
  };
  r.ForEachExisting(apply);
  return S_OK;
}

HRESULT CommentObject::Call(DISPID id, WORD kind, const Args& args, VARIANT* result,
                            EXCEPINFO* excep) {
  const xlsx::CellComment* comment = sheet_->Comment(row_, col_);
  if (comment == nullptr) return Fail(excep, kExcelError, "The comment was deleted.");
  switch (id) {
    case 0x8A: {  // Text(Text, Start, Overwrite)
      if (kind != kMethod) break;
      std::string text = comment->text;
      if (const VARIANT* t = args.Get(0)) {
        std::optional<std::string> s = AsText(t);
        if (!s) return DISP_E_TYPEMISMATCH;
        const VARIANT* start_arg = args.Get(1);
        if (start_arg == nullptr) {
          text = *s;
        } else {
          std::optional<long> start = AsLong(start_arg);
          std::optional<bool> overwrite = args.Get(2) ? AsBool(args.Get(2)) : false;
          if (!start || !overwrite) return DISP_E_TYPEMISMATCH;
          std::wstring w = Utf8ToWide(text);
          const std::wstring add = Utf8ToWide(*s);
          const std::size_t at = std::min<std::size_t>(w.size(), std::max(1L, *start) - 1);
          if (*overwrite)
            w.replace(at, std::min(add.size(), w.size() - at), add);
          else
            w.insert(at, add);
          text = WideToUtf8(w);
        }
        sheet_->SetComment(row_, col_, text, comment->author);
      }
      if (result) SetBstr(result, text);
      return S_OK;
    }
    case 0x23E:  // Author
      if (kind == kGet) {
        SetBstr(result, comment->author);
        return S_OK;
      }
      break;
    default:
      break;
  }
  return DISP_E_MEMBERNOTFOUND;
}

// ---- Sheets ----------------------------------------------------------------------------------

class SheetObject : public DispObject {
 public:
  SheetObject(AppState& app, std::shared_ptr<BookState> book, std::shared_ptr<Sheet> sheet)
      : DispObject(sheet->kind() == xlsx::SheetKind::kWorksheet ? &IID_ExcelWorksheet : nullptr),
        app_(app),
        book_(std::move(book)),
        sheet_(std::move(sheet)) {}

 protected:
  HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  std::optional<std::size_t> Index() const {
    Book& b = *book_->book;
    for (std::size_t i = 0; i < b.sheet_count(); ++i)
      if (&b.sheet(i) == sheet_.get()) return i;
    return std::nullopt;
  }
  AppState& app_;
  std::shared_ptr<BookState> book_;
  std::shared_ptr<Sheet> sheet_;
};

HRESULT SheetObject::Call(DISPID id, WORD kind, const Args& args, VARIANT* result,
                          EXCEPINFO* excep) {
  Book& book = *book_->book;
  const bool worksheet = sheet_->kind() == xlsx::SheetKind::kWorksheet;
  switch (id) {
    case 0x6E:  // Name
      if (kind == kGet) {
        SetBstr(result, sheet_->name());
        return S_OK;
      }
      if (kind == kPut) {
        std::optional<std::string> name = AsText(args.Value());
        if (!name) return DISP_E_TYPEMISMATCH;
        std::string why;
        if (!ValidSheetName(*name, &why)) return Fail(excep, kExcelError, why);
        std::optional<std::size_t> self = Index();
        std::optional<std::size_t> other = book.FindSheet(*name);
        if (other && other != self)
          return Fail(excep, kExcelError, "That name is already taken. Try a different one.");
        if (self) book.RenameSheet(*self, *name);
        return S_OK;
      }
      break;
    case 0x130:  // Activate
      if (kind == kMethod) {
        if (std::optional<std::size_t> self = Index()) book.SetActiveSheet(*self);
        app_.active = book_;
        return S_OK;
      }
      break;
    case 0x96:  // Parent
      if (kind == kGet) {
        SetDispatch(result, MakeWorkbook(app_, book_));
        return S_OK;
      }
      break;
    case 0xEE:  // Cells
      if (kind == kGet && worksheet) {
        SetDispatch(result,
                    new RangeObject(app_, book_, sheet_, 1, 1, xlsx::kMaxRow, xlsx::kMaxColumn));
        return S_OK;
      }
      break;
    case 0xF1:  // Columns
      if (kind == kGet && worksheet) {
        SetDispatch(result, new RangeObject(app_, book_, sheet_, 1, 1, xlsx::kMaxRow,
                                            xlsx::kMaxColumn, Extent::kColumns));
        return S_OK;
      }
      break;
    case 0x102:  // Rows
      if (kind == kGet && worksheet) {
        SetDispatch(result, new RangeObject(app_, book_, sheet_, 1, 1, xlsx::kMaxRow,
                                            xlsx::kMaxColumn, Extent::kRows));
        return S_OK;
      }
      break;
    case 0xC5: {  // Range(Cell1, Cell2)
      if (kind != kGet || !worksheet) break;
      auto parse = [](const std::string& text, std::uint32_t& r1, std::uint32_t& c1,
                      std::uint32_t& r2, std::uint32_t& c2) {
        const std::size_t colon = text.find(':');
        if (!xlsx::ParseCellRef(text.substr(0, colon), r1, c1)) return false;
        r2 = r1;
        c2 = c1;
        return colon == std::string::npos || xlsx::ParseCellRef(text.substr(colon + 1), r2, c2);
      };
      std::optional<std::string> a = AsText(args.Get(0));
      if (!a) return args.Get(0) ? DISP_E_TYPEMISMATCH : DISP_E_PARAMNOTFOUND;
      std::uint32_t r1, c1, r2, c2;
      if (!parse(*a, r1, c1, r2, c2))
        return Fail(excep, kExcelError, "'" + *a + "' is not a cell reference.");
      if (const VARIANT* second = args.Get(1)) {
        std::optional<std::string> b = AsText(second);
        std::uint32_t q1, d1, q2, d2;
        if (!b || !parse(*b, q1, d1, q2, d2))
          return Fail(excep, kExcelError, "The second cell is not a cell reference.");
        r1 = std::min({r1, r2, q1, q2});
        c1 = std::min({c1, c2, d1, d2});
        r2 = std::max({r2, q2, r1});
        c2 = std::max({c2, d2, c1});
      }
      if (r1 > r2) std::swap(r1, r2);
      if (c1 > c2) std::swap(c1, c2);
      SetDispatch(result, new RangeObject(app_, book_, sheet_, r1, c1, r2, c2));
      return S_OK;
    }
    default:
      break;
  }
  return DISP_E_MEMBERNOTFOUND;
}

// ---- Collections -----------------------------------------------------------------------------

std::string NextSheetName(BookState& bs) {
  Book& b = *bs.book;
  int highest = bs.next_sheet_number;
  for (std::size_t i = 0; i < b.sheet_count(); ++i) {
    const std::string& n = b.sheet(i).name();
    if (n.size() > 5 && (n.compare(0, 5, "Sheet") == 0 || n.compare(0, 5, "sheet") == 0)) {
      try {
        std::size_t used = 0;
        const int k = std::stoi(n.substr(5), &used);
        if (used == n.size() - 5) highest = std::max(highest, k);
      } catch (...) {
      }
    }
  }
  bs.next_sheet_number = highest + 1;
  return "Sheet" + std::to_string(highest + 1);
}

class WorksheetsObject : public DispObject {
 public:
  WorksheetsObject(AppState& app, std::shared_ptr<BookState> book)
      : DispObject(&IID_ExcelWorksheets), app_(app), book_(std::move(book)) {}

 protected:
  HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  std::vector<std::size_t> Worksheets() const {
    std::vector<std::size_t> out;
    Book& b = *book_->book;
    for (std::size_t i = 0; i < b.sheet_count(); ++i)
      if (b.sheet(i).kind() == xlsx::SheetKind::kWorksheet) out.push_back(i);
    return out;
  }
  std::optional<std::size_t> Resolve(const VARIANT* v, EXCEPINFO* excep, HRESULT* hr);
  AppState& app_;
  std::shared_ptr<BookState> book_;
};

// The book index of a sheet given as a 1-based index, a name, or a sheet object.
std::optional<std::size_t> WorksheetsObject::Resolve(const VARIANT* v, EXCEPINFO* excep,
                                                     HRESULT* hr) {
  Book& b = *book_->book;
  const std::vector<std::size_t> sheets = Worksheets();
  if (v->vt == VT_DISPATCH && v->pdispVal) {
    VARIANT name;
    VariantInit(&name);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (SUCCEEDED(v->pdispVal->Invoke(0x6E, IID_NULL, 0, kGet, &none, &name, nullptr, nullptr)) &&
        name.vt == VT_BSTR) {
      std::optional<std::size_t> found = b.FindSheet(Utf8(name.bstrVal));
      VariantClear(&name);
      if (found) return found;
    }
    *hr = Fail(excep, DISP_E_BADINDEX, "Subscript out of range.");
    return std::nullopt;
  }
  if (v->vt == VT_BSTR) {
    if (std::optional<std::size_t> found = b.FindSheet(Utf8(v->bstrVal)))
      if (b.sheet(*found).kind() == xlsx::SheetKind::kWorksheet) return found;
    *hr = Fail(excep, DISP_E_BADINDEX, "Subscript out of range.");
    return std::nullopt;
  }
  std::optional<long> n = AsLong(v);
  if (!n) {
    *hr = DISP_E_TYPEMISMATCH;
    return std::nullopt;
  }
  if (*n < 1 || static_cast<std::size_t>(*n) > sheets.size()) {
    *hr = Fail(excep, DISP_E_BADINDEX, "Subscript out of range.");
    return std::nullopt;
  }
  return sheets[static_cast<std::size_t>(*n - 1)];
}

HRESULT WorksheetsObject::Call(DISPID id, WORD kind, const Args& args, VARIANT* result,
                               EXCEPINFO* excep) {
  Book& b = *book_->book;
  switch (id) {
    case 0x76:  // Count
      if (kind == kGet) {
        SetLong(result, static_cast<long>(Worksheets().size()));
        return S_OK;
      }
      break;
    case 0:
    case 0xAA: {  // Item
      if (kind != kGet) break;
      const VARIANT* index = args.Get(0);
      if (index == nullptr) return DISP_E_PARAMNOTFOUND;
      HRESULT hr = S_OK;
      std::optional<std::size_t> at = Resolve(index, excep, &hr);
      if (!at) return hr;
      SetDispatch(result, MakeSheet(app_, book_, b.sheet_ptr(*at)));
      return S_OK;
    }
    case 0xB5: {  // Add(Before, After, Count, Type)
      if (kind != kMethod) break;
      std::size_t position = b.active_sheet();  // before the active sheet, as Excel places it
      HRESULT hr = S_OK;
      if (const VARIANT* before = args.Get(0)) {
        std::optional<std::size_t> at = Resolve(before, excep, &hr);
        if (!at) return hr;
        position = *at;
      } else if (const VARIANT* after = args.Get(1)) {
        std::optional<std::size_t> at = Resolve(after, excep, &hr);
        if (!at) return hr;
        position = *at + 1;
      }
      long count = 1;
      if (const VARIANT* c = args.Get(2)) {
        std::optional<long> n = AsLong(c);
        if (!n) return DISP_E_TYPEMISMATCH;
        if (*n < 1 || *n > 255) return Fail(excep, kExcelError, "Count must be 1 to 255.");
        count = *n;
      }
      if (const VARIANT* t = args.Get(3)) {
        std::optional<long> type = AsLong(t);
        if (!type || *type != -4167)  // xlWorksheet
          return Fail(excep, kExcelError, "Only worksheets can be added.");
      }
      std::size_t added = position;
      for (long i = 0; i < count; ++i) {
        b.AddSheet(position, NextSheetName(*book_));
        added = position;
      }
      b.SetActiveSheet(added);
      SetDispatch(result, MakeSheet(app_, book_, b.sheet_ptr(added)));
      return S_OK;
    }
    default:
      break;
  }
  return DISP_E_MEMBERNOTFOUND;
}

class WorkbookObject : public DispObject {
 public:
  WorkbookObject(AppState& app, std::shared_ptr<BookState> book)
      : DispObject(&IID_ExcelWorkbook), app_(app), book_(std::move(book)) {}

 protected:
  HRESULT Call(DISPID id, WORD kind, const Args&, VARIANT* result, EXCEPINFO*) override {
    Book& b = *book_->book;
    switch (id) {
      case 0x1EE:  // Worksheets
      case 0x1E5:  // Sheets
        if (kind == kGet) {
          SetDispatch(result, MakeWorksheets(app_, book_));
          return S_OK;
        }
        break;
      case 0x130:  // Activate
        if (kind == kMethod) {
          app_.active = book_;
          return S_OK;
        }
        break;
      case 0x6E:  // Name
        if (kind == kGet) {
          if (result) {
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(book_->name.c_str());
          }
          return S_OK;
        }
        break;
      case 0x133:  // ActiveSheet
        if (kind == kGet) {
          SetDispatch(result, MakeSheet(app_, book_, b.sheet_ptr(b.active_sheet())));
          return S_OK;
        }
        break;
      case 0x96:  // Parent
        if (kind == kGet && app_.object) {
          app_.object->AddRef();
          SetDispatch(result, app_.object);
          return S_OK;
        }
        break;
      default:
        break;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  AppState& app_;
  std::shared_ptr<BookState> book_;
};

class WorkbooksObject : public DispObject {
 public:
  explicit WorkbooksObject(AppState& app) : DispObject(nullptr), app_(app) {}

 protected:
  HRESULT Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO* excep) override {
    switch (id) {
      case 0x76:
        if (kind == kGet) {
          SetLong(result, static_cast<long>(app_.books.size()));
          return S_OK;
        }
        break;
      case 0:
      case 0xAA: {
        if (kind != kGet) break;
        const VARIANT* index = args.Get(0);
        if (index == nullptr) return DISP_E_PARAMNOTFOUND;
        if (index->vt == VT_BSTR) {
          const std::wstring wanted(index->bstrVal, SysStringLen(index->bstrVal));
          for (const auto& b : app_.books)
            if (EqualsNoCase(b->name, wanted)) {
              SetDispatch(result, MakeWorkbook(app_, b));
              return S_OK;
            }
          return Fail(excep, DISP_E_BADINDEX, "Subscript out of range.");
        }
        std::optional<long> n = AsLong(index);
        if (!n) return DISP_E_TYPEMISMATCH;
        if (*n < 1 || static_cast<std::size_t>(*n) > app_.books.size())
          return Fail(excep, DISP_E_BADINDEX, "Subscript out of range.");
        SetDispatch(result, MakeWorkbook(app_, app_.books[static_cast<std::size_t>(*n - 1)]));
        return S_OK;
      }
      case 0xB5: {  // Add(Template)
        if (kind != kMethod) break;
        std::shared_ptr<BookState> made;
        const VARIANT* tmpl = args.Get(0);
        if (tmpl != nullptr && tmpl->vt == VT_BSTR) {
          // A workbook made from a template file: its content, a name of its own.
          const std::filesystem::path path(Utf8(tmpl->bstrVal));
          xlsx::BookResult opened = Book::Open(path);
          if (!opened) return Fail(excep, kExcelError, opened.error->ToString());
          made = std::make_shared<BookState>();
          made->book = std::move(opened.book);
          made->name = Utf8ToWide(path.stem().string()) + std::to_wstring(app_.next_book_number++);
          app_.books.push_back(made);
        } else if (tmpl != nullptr && (!AsLong(tmpl) || *AsLong(tmpl) != -4167)) {
          return Fail(excep, kExcelError, "Template must be a file name or xlWBATWorksheet.");
        } else {
          made = app_.NewBook();
        }
        app_.active = made;
        SetDispatch(result, MakeWorkbook(app_, made));
        return S_OK;
      }
      default:
        break;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  AppState& app_;
};

IDispatch* MakeWorkbook(AppState& app, std::shared_ptr<BookState> book) {
  return new WorkbookObject(app, std::move(book));
}
IDispatch* MakeSheet(AppState& app, std::shared_ptr<BookState> book, std::shared_ptr<Sheet> sheet) {
  return new SheetObject(app, std::move(book), std::move(sheet));
}
IDispatch* MakeWorksheets(AppState& app, std::shared_ptr<BookState> book) {
  return new WorksheetsObject(app, std::move(book));
}
IDispatch* MakeWorkbooks(AppState& app) {
  return new WorkbooksObject(app);
}

}  // namespace

HRESULT AppObject::Call(DISPID id, WORD kind, const Args& args, VARIANT* result, EXCEPINFO*) {
  AppState& s = *state_;
  switch (id) {
    case 0x169:  // Interactive
      if (kind == kGet) {
        SetBool(result, s.interactive);
        return S_OK;
      }
      if (kind == kPut) {
        std::optional<bool> v = AsBool(args.Value());
        if (!v) return DISP_E_TYPEMISMATCH;
        s.interactive = *v;
        return S_OK;
      }
      break;
    case 0x22E:  // Visible
      if (kind == kGet) {
        SetBool(result, s.visible);
        return S_OK;
      }
      if (kind == kPut) {
        std::optional<bool> v = AsBool(args.Value());
        if (!v) return DISP_E_TYPEMISMATCH;
        s.visible = *v;
        return S_OK;
      }
      break;
    case 0x134:  // ActiveWorkbook
      if (kind == kGet) {
        if (s.active)
          SetDispatch(result, MakeWorkbook(s, s.active));
        else if (result)
          SetDispatch(result, nullptr);
        return S_OK;
      }
      break;
    case 0x133:  // ActiveSheet
      if (kind == kGet) {
        if (s.active) {
          Book& b = *s.active->book;
          SetDispatch(result, MakeSheet(s, s.active, b.sheet_ptr(b.active_sheet())));
        } else if (result) {
          SetDispatch(result, nullptr);
        }
        return S_OK;
      }
      break;
    case 0x23C:  // Workbooks
      if (kind == kGet) {
        SetDispatch(result, MakeWorkbooks(s));
        return S_OK;
      }
      break;
    case 0x96:  // Parent
    case 0x94:  // Application
      if (kind == kGet) {
        AddRef();
        SetDispatch(result, this);
        return S_OK;
      }
      break;
    default:
      break;
  }
  return DISP_E_MEMBERNOTFOUND;
}

std::string ShownText(const Book& book, const Sheet& sheet, std::uint32_t row, std::uint32_t col) {
  const CellValue v = sheet.Value(row, col);
  const std::string& code = book.Style(sheet.StyleOf(row, col)).format_code;
  switch (v.kind) {
    case ValueKind::kEmpty:
      return {};
    case ValueKind::kNumber:
      return xlsx::FormatNumber(v.number, code, book.date1904());
    case ValueKind::kText:
      return xlsx::FormatText(v.text, code);
    case ValueKind::kBool:
      return v.number != 0 ? "TRUE" : "FALSE";
    case ValueKind::kError:
      return std::string(v.text);
  }
  return {};
}

std::shared_ptr<BookState> AppState::NewBook() {
  auto made = std::make_shared<BookState>();
  made->book = Book::New("Sheet1");
  made->next_sheet_number = 1;
  made->name = L"Book" + std::to_wstring(next_book_number++);
  books.push_back(made);
  return made;
}

std::shared_ptr<BookState> AppState::Find(const Book* book) const {
  for (const auto& b : books)
    if (b->book.get() == book) return b;
  return nullptr;
}

// Fires SheetChange for a cell changed from outside (a workbook file read again).
void FireOutsideChange(AppState& s, const std::shared_ptr<BookState>& book,
                       const std::shared_ptr<Sheet>& sheet, std::uint32_t row, std::uint32_t col) {
  AppObject* app = App(s);
  if (app == nullptr || !app->HasSinks()) return;
  IDispatch* sh = MakeSheet(s, book, sheet);
  IDispatch* target = new RangeObject(s, book, sheet, row, col, row, col);
  app->FireSheetChange(sh, target);
  target->Release();
  sh->Release();
}

IUnknown* ApplicationUnknown(AppState& state) {
  return state.object ? static_cast<IDispatch*>(state.object) : nullptr;
}

IUnknown* NewApplicationObject(AppState* state) {
  return static_cast<IDispatch*>(new AppObject(state));
}

}  // namespace sheetwise::calc

namespace sheetwise::calc {

HRESULT AppObject::Run(IBindCtx*) {
  if (state_->rot_cookie != 0) return S_OK;
  return RegisterActiveObject(static_cast<IDispatch*>(this), CLSID_ExcelApplication,
                              ACTIVEOBJECT_STRONG, &state_->rot_cookie);
}

}  // namespace sheetwise::calc
