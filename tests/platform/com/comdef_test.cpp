#include "platform/com/comdef.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/com/errorinfo.h"
#include "tests/platform/com/value_support.h"

namespace {

using sw::test::CountedObject;

// The HRESULT of the _com_error that `f` raises, or S_OK when it raises nothing.
template <class F>
HRESULT Raised(F&& f) {
  try {
    f();
  } catch (const _com_error& e) {
    return e.Error();
  }
  return S_OK;
}

// ---- _bstr_t ------------------------------------------------------------------------------------

TEST(BstrT, CopiesShareOneRecordAndAssignmentReleasesIt) {
  _bstr_t* first = new _bstr_t(L"Blöcke");
  const wchar_t* text = *first;
  _bstr_t second = *first;
  EXPECT_EQ(static_cast<const wchar_t*>(second), text) << "a copy shares the BSTR";
  const char* narrow = second;
  EXPECT_STREQ(narrow, "Blöcke");  // the ANSI code page is UTF-8 here
  EXPECT_EQ(static_cast<const char*>(*first), narrow) << "one narrow copy per record";
  delete first;
  // The record lives on in `second`: reading it is clean under the address sanitizer.
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(second)), L"Blöcke");
  EXPECT_STREQ(static_cast<const char*>(second), "Blöcke");
  EXPECT_EQ(second.length(), 6u);

  // Assignment releases the old record.
  _bstr_t a(L"eins");
  _bstr_t b(L"zwei");
  const char* narrow_a = a;  // a record with a narrow copy, freed below (leak check)
  EXPECT_STREQ(narrow_a, "eins");
  a = b;
  EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b));
  a = a;  // self-assignment keeps the record
  EXPECT_EQ(a, L"zwei");
  a = L"drei";
  EXPECT_EQ(b, L"zwei");
  a = static_cast<const wchar_t*>(a);  // from its own text
  EXPECT_EQ(a, L"drei");
  _bstr_t moved = std::move(a);
  EXPECT_EQ(moved, L"drei");
  EXPECT_EQ(a.length(), 0u);
}

TEST(BstrT, EmptyHolderAndNarrowTextsUseTheAnsiCodePage) {
  _bstr_t none;
  EXPECT_EQ(static_cast<const char*>(none), nullptr);
  EXPECT_TRUE(!none);
  EXPECT_EQ(none, L"");

  _bstr_t from_narrow("Straße \xE2\x82\xAC");  // UTF-8 euro sign
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(from_narrow)), L"Straße €");
  EXPECT_EQ(from_narrow.length(), 8u);
  // Embedded zeros survive both ways.
  _bstr_t zeros(SysAllocStringLen(L"a\0b", 3), false);
  const char* narrow = zeros;
  EXPECT_EQ(std::memcmp(narrow, "a\0b", 4), 0);
}

TEST(BstrT, ConcatenationAndComparison) {
  _bstr_t a(L"Block");
  _bstr_t joined = a + L"name";
  EXPECT_EQ(joined, L"Blockname");
  EXPECT_EQ(a, L"Block") << "+ leaves the operands alone";
  _bstr_t shared = a;
  a += "s";
  EXPECT_EQ(a, L"Blocks");
  EXPECT_EQ(shared, L"Block") << "+= does not change the other holders of the record";
  EXPECT_LT(_bstr_t(L"Block"), _bstr_t(L"Blocks"));
  EXPECT_LT(_bstr_t(L"A"), _bstr_t(L"a"));
  EXPECT_NE(_bstr_t(SysAllocStringLen(L"a\0b", 3), false), _bstr_t(L"a"));
}

TEST(BstrT, AttachDetachAndAddress) {
  _bstr_t holder;
  holder.Attach(SysAllocString(L"owned"));
  EXPECT_EQ(holder, L"owned");
  BSTR taken = holder.Detach();
  EXPECT_EQ(std::wstring(taken), L"owned");
  EXPECT_EQ(holder.length(), 0u);
  SysFreeString(taken);

  _bstr_t shared(L"shared");
  _bstr_t other = shared;
  EXPECT_EQ(Raised([&] { shared.Detach(); }), E_POINTER) << "a shared record cannot be detached";
  EXPECT_EQ(other, L"shared");

  _bstr_t filled(L"old");
  *filled.GetAddress() = SysAllocString(L"new");
  EXPECT_EQ(filled, L"new");
}

// ---- _variant_t ---------------------------------------------------------------------------------

// Extractors and the _bstr_t made from a VARIANT convert as VariantChangeType does, or raise its
// HRESULT; a constructor given a type its value cannot have raises too.
TEST(VariantT, ExtractorsConvertOrRaise) {
  EXPECT_EQ(static_cast<LONG>(_variant_t(L" 12 ")), 12);
  EXPECT_EQ(static_cast<SHORT>(_variant_t(2.5)), 2);
  EXPECT_EQ(static_cast<_bstr_t>(_variant_t(1e20)), L"1E+20");
  EXPECT_EQ(_variant_t(static_cast<SHORT>(3), VT_BOOL).boolVal, VARIANT_TRUE);
  EXPECT_EQ(Raised([] { static_cast<void>(static_cast<LONG>(_variant_t(L"abc"))); }),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Raised([] { static_cast<void>(static_cast<SHORT>(_variant_t(LONG{40000}))); }),
            DISP_E_OVERFLOW);
  EXPECT_EQ(Raised([] { _bstr_t text{_variant_t(LONG{DISP_E_PARAMNOTFOUND}, VT_ERROR)}; }),
            DISP_E_TYPEMISMATCH);
  EXPECT_NE(Raised([] { _variant_t(1.5, VT_I4); }), S_OK);
  _variant_t value(L"7");
  value.ChangeType(VT_I4);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 7);
  _variant_t kept(L"x");
  EXPECT_THROW(kept.ChangeType(VT_I4), _com_error);
  EXPECT_EQ(kept.vt, VT_BSTR) << "a failed conversion keeps the value";
}

TEST(VariantT, OwnsInterfaceReferences) {
  CountedObject object;
  {
    _variant_t holder(static_cast<IDispatch*>(&object));
    EXPECT_EQ(object.refs, 2u);
    _variant_t copy = holder;
    EXPECT_EQ(object.refs, 3u);
    IDispatch* extracted = holder;
    EXPECT_EQ(extracted, &object);
    EXPECT_EQ(object.refs, 4u) << "the interface extractor adds a reference for the caller";
    extracted->Release();
    _variant_t attached(static_cast<IDispatch*>(&object), false);  // takes a reference over
    object.AddRef();
    VARIANT raw = attached.Detach();
    EXPECT_EQ(attached.vt, VT_EMPTY);
    VariantClear(&raw);
    holder = LONG{5};
    EXPECT_EQ(object.refs, 2u);
  }
  EXPECT_EQ(object.refs, 1u);
}

TEST(VariantT, AttachAndAddressFreeTheOldValue) {
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(L"taken");
  _variant_t holder(L"old");
  holder.Attach(raw);  // the old text is freed (leak check), the new one taken over
  EXPECT_EQ(raw.vt, VT_EMPTY);
  VARIANT* address = holder.GetAddress();
  EXPECT_EQ(address->vt, VT_EMPTY);
  address->vt = VT_I4;
  address->lVal = 9;
  EXPECT_TRUE(holder == _variant_t(LONG{9}));
  holder.SetString("s\xC3\xBC\xC3\x9F");
  EXPECT_EQ(std::wstring(holder.bstrVal), L"süß");
}

// ---- _com_error ---------------------------------------------------------------------------------

using sw::test::MakeErrorInfo;

TEST(ComError, MessagesForKnownAndUnknownCodes) {
  struct Case {
    HRESULT hr;
    const wchar_t* text;
  };
  const Case cases[] = {
      {static_cast<HRESULT>(0x800A03ECu), L"Unknown error 0x800A03EC"},
      {static_cast<HRESULT>(0x80040205u), L"IDispatch error #5"},
      {static_cast<HRESULT>(0x8004FFFFu), L"IDispatch error #65023"},
      {static_cast<HRESULT>(0x80040200u), L"Unknown error 0x80040200"},
      // A system text loses its "\r\n".
      {E_NOINTERFACE, L"No such interface supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hr);
    _com_error error(c.hr);
    EXPECT_EQ(std::wstring(error.ErrorMessage()), c.text);
    EXPECT_EQ(error.ErrorMessage(), error.ErrorMessage()) << "built once, then kept";
  }
  EXPECT_EQ(_com_error(static_cast<HRESULT>(0x80040205u)).WCode(), 5);
  EXPECT_EQ(_com_error::WCodeToHRESULT(0xFE00), static_cast<HRESULT>(0x8004FFFFu));
  // Without error information the texts are empty.
  _com_error bare(E_FAIL);
  EXPECT_EQ(bare.ErrorInfo(), nullptr);
  EXPECT_TRUE(!bare.Description());
}

TEST(ComError, CopiesHoldTheirOwnReferenceAndMessage) {
  IErrorInfo* info = MakeErrorInfo(L"Die Zelle ist gesperrt.", L"Microsoft Excel");
  {
    _com_error original(DISP_E_EXCEPTION, info, /*add_ref=*/true);
    const wchar_t* message = original.ErrorMessage();
    {
      _com_error copy = original;
      EXPECT_EQ(info->AddRef(), 4u);  // the caller, the original, the copy, this one
      info->Release();
      EXPECT_NE(copy.ErrorMessage(), message) << "a copy builds its own text";
      EXPECT_EQ(std::wstring(copy.ErrorMessage()), std::wstring(message));
      _com_error assigned(E_FAIL);
      assigned.ErrorMessage();
      assigned = copy;
      EXPECT_EQ(assigned.Error(), DISP_E_EXCEPTION);
    }
    EXPECT_EQ(std::wstring(message), std::wstring(original.ErrorMessage()));
    EXPECT_EQ(original.Source(), L"Microsoft Excel");
    EXPECT_EQ(original.Description(), L"Die Zelle ist gesperrt.");
    IErrorInfo* handed = original.ErrorInfo();
    EXPECT_EQ(handed, info);
    handed->Release();
  }
  EXPECT_EQ(info->Release(), 0u) << "every reference the exceptions took is given back";
}

// An object that says whether its error information covers an interface.
class ErrorSource : public CountedObject, public ISupportErrorInfo {
 public:
  explicit ErrorSource(bool supports) : supports_(supports) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ISupportErrorInfo) {
      *ppv = static_cast<ISupportErrorInfo*>(this);
      CountedObject::AddRef();
      return S_OK;
    }
    return CountedObject::QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return CountedObject::AddRef(); }
  ULONG Release() override { return CountedObject::Release(); }
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    return supports_ && riid == IID_IDispatch ? S_OK : S_FALSE;
  }

 private:
  bool supports_;
};

TEST(ComError, IssueErrorExTakesTheThreadsErrorInfoWhenTheObjectSaysSo) {
  IErrorInfo* info = MakeErrorInfo(L"bad cell", L"calc");
  SetErrorInfo(0, info);
  ErrorSource supports(true);
  try {
    _com_issue_errorex(E_FAIL, static_cast<IDispatch*>(&supports), IID_IDispatch);
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
    EXPECT_EQ(e.Description(), L"bad cell");
  }
  IErrorInfo* left = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE) << "the exception took the thread's error info";

  SetErrorInfo(0, info);
  ErrorSource refuses(false);
  try {
    _com_issue_errorex(E_FAIL, static_cast<IDispatch*>(&refuses), IID_IDispatch);
  } catch (const _com_error& e) {
    EXPECT_EQ(e.ErrorInfo(), nullptr);
  }
  EXPECT_EQ(GetErrorInfo(0, &left), S_OK) << "not taken when the object does not describe it";
  left->Release();
  EXPECT_EQ(supports.refs, 1u);
  EXPECT_EQ(info->Release(), 0u);
}

// ---- Interface smart pointers
// ---------------------------------------------------------------------

// A made-up interface with its own IID, as an application's typed interfaces are.
inline constexpr IID IID_ISheet = {
    0x000208D8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
struct ISheet : IDispatch {
  virtual HRESULT GetRows(LONG* rows) = 0;

 protected:
  ~ISheet() = default;
};
_COM_SMARTPTR_TYPEDEF(ISheet, IID_ISheet);

class Sheet : public ISheet {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ISheet) {
      *ppv = static_cast<ISheet*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT GetRows(LONG* rows) override {
    *rows = 32767;
    return S_OK;
  }
  ULONG refs = 1;
};

TEST(ComPtr, AssignmentQueriesForTheTargetInterface) {
  Sheet sheet;
  CountedObject chart;  // a dispatch object that is not a worksheet
  {
    IUnknownPtr unknown(static_cast<IDispatch*>(&sheet));
    EXPECT_EQ(sheet.refs, 2u);
    ISheetPtr typed;
    typed = unknown;
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(sheet.refs, 3u);
    LONG rows = 0;
    typed->GetRows(&rows);
    EXPECT_EQ(rows, 32767);

    // E_NOINTERFACE: null, nothing raised, and the previous pointer is released.
    IDispatchPtr not_a_sheet(static_cast<IDispatch*>(&chart));
    typed = not_a_sheet;
    EXPECT_TRUE(typed == nullptr);
    EXPECT_EQ(sheet.refs, 2u);
    // The next call through it raises E_POINTER.
    EXPECT_EQ(Raised([&] { typed->GetRows(&rows); }), E_POINTER);
    EXPECT_EQ(Raised([&] { typed.Release(); }), E_POINTER);
  }
  EXPECT_EQ(sheet.refs, 1u);
  EXPECT_EQ(chart.refs, 1u);

  // Query failures other than E_NOINTERFACE raise.
  CountedObject broken;
  broken.query_failure = E_FAIL;
  ISheetPtr typed;
  EXPECT_EQ(Raised([&] { typed = static_cast<IDispatch*>(&broken); }), E_FAIL);
  EXPECT_EQ(typed, nullptr);
  EXPECT_EQ(broken.refs, 1u);
  EXPECT_EQ(Raised([&] { ISheetPtr constructed(static_cast<IDispatch*>(&broken)); }), E_FAIL);
}

TEST(ComPtr, VariantAssignmentRules) {
  Sheet sheet;
  CountedObject chart;
  CountedObject plain(/*is_dispatch=*/false);
  {
    ISheetPtr typed;
    typed = _variant_t(static_cast<IDispatch*>(&sheet));
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(sheet.refs, 2u);
    typed = _variant_t(static_cast<IDispatch*>(&chart));
    EXPECT_EQ(typed, nullptr);
    typed = _variant_t(static_cast<IUnknown*>(static_cast<IDispatch*>(&sheet)));
    EXPECT_NE(typed, nullptr);

    // A value that converts to neither interface raises the conversion's HRESULT and leaves
    // the pointer as it was.
    EXPECT_EQ(Raised([&] { typed = _variant_t(LONG{5}); }), DISP_E_TYPEMISMATCH);
    EXPECT_NE(typed, nullptr);
    EXPECT_NE(Raised([&] { typed = _variant_t(L"Sheet1"); }), S_OK);
    EXPECT_NE(Raised([&] { typed = _variant_t(); }), S_OK) << "an empty VARIANT is no object";

    // A VT_UNKNOWN without IDispatch goes to the IUnknown attempt, which queries it.
    IDispatchPtr dispatch;
    dispatch = _variant_t(static_cast<IUnknown*>(&plain));
    EXPECT_EQ(dispatch, nullptr);
    IUnknownPtr unknown;
    unknown = _variant_t(static_cast<IUnknown*>(&plain));
    EXPECT_NE(unknown, nullptr);
    // A VT_DISPATCH holding null gives null.
    _variant_t null_dispatch(static_cast<IDispatch*>(nullptr));
    typed = null_dispatch;
    EXPECT_EQ(typed, nullptr);
  }
  EXPECT_EQ(sheet.refs, 1u);
  EXPECT_EQ(chart.refs, 1u);
  EXPECT_EQ(plain.refs, 1u);
}

TEST(ComPtr, OwnershipOperations) {
  Sheet sheet;
  {
    ISheetPtr a(&sheet);
    EXPECT_EQ(sheet.refs, 2u);
    ISheetPtr b = a;
    EXPECT_EQ(sheet.refs, 3u);
    ISheet* raw = b.Detach();
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(sheet.refs, 3u);
    b.Attach(raw);  // takes the detached reference back
    EXPECT_EQ(sheet.refs, 3u);
    EXPECT_EQ(sheet.refs, 3u);
    ISheet** out = &b;  // releases, then gives the address to fill
    EXPECT_EQ(sheet.refs, 2u);
    EXPECT_EQ(*out, nullptr);
    sheet.AddRef();
    *out = &sheet;
    EXPECT_TRUE(a == b) << "the same object";
    a.Release();
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(sheet.refs, 2u);
    ISheetPtr moved = std::move(b);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(moved, nullptr);
    moved = nullptr;
    EXPECT_EQ(sheet.refs, 1u);
  }
  EXPECT_EQ(sheet.refs, 1u);
}

}  // namespace
