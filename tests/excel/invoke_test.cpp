// InvokeMember, the member wrappers and the interface pointers against a dispatch object that
// records what it receives. Expected DISPIDs and call shapes are those of Excel's type library.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "excel/excel.h"
#include "platform/com/errorinfo.h"
#include "tests/excel/recorder_support.h"

namespace {

using sw::test::Recorder;
using namespace Excel;

constexpr HRESULT kExcelError = static_cast<HRESULT>(0x800A03ECu);

std::wstring Str(const VARIANT& v) {
  return v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"<not text>";
}

// Runs `call` and answers the HRESULT of the _com_error it raised (S_OK when none).
HRESULT Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const _com_error& e) {
    return e.Error();
  }
  return S_OK;
}

TEST(InvokeMember, SendsArgumentsLastFirstWithBooleansAsMinusOne) {
  Recorder rec;
  _variant_t middle(L"middle");
  static constexpr VARTYPE kTypes[] = {VT_BSTR, VT_VARIANT, VT_I4, VT_BOOL, VT_BOOL, VT_R8, 0};
  _bstr_t first(L"first");
  InvokeMember(&rec, 0x123, DISPATCH_METHOD, VT_EMPTY, nullptr, kTypes,
               static_cast<BSTR>(static_cast<wchar_t*>(first)), &middle, LONG{7}, 5, 0, 2.5);
  ASSERT_EQ(rec.calls().size(), 1u);
  const auto& call = rec.last();
  EXPECT_EQ(call.id, 0x123);
  EXPECT_EQ(call.flags, DISPATCH_METHOD);
  EXPECT_TRUE(call.named.empty());
  EXPECT_FALSE(call.result_requested);
  ASSERT_EQ(call.args.size(), 6u);
  EXPECT_EQ(call.args[0].vt, VT_R8);
  EXPECT_EQ(call.args[0].dblVal, 2.5);
  EXPECT_EQ(call.args[1].vt, VT_BOOL);
  EXPECT_EQ(call.args[1].boolVal, VARIANT_FALSE);
  EXPECT_EQ(call.args[2].vt, VT_BOOL);
  EXPECT_EQ(call.args[2].boolVal, VARIANT_TRUE) << "any non-zero value is sent as -1";
  EXPECT_EQ(call.args[3].vt, VT_I4);
  EXPECT_EQ(call.args[3].lVal, 7);
  EXPECT_EQ(Str(call.args[4]), L"middle");
  EXPECT_EQ(Str(call.args[5]), L"first");
  EXPECT_EQ(Str(middle), L"middle") << "the caller's VARIANT stays the caller's";
  EXPECT_EQ(rec.name_lookups, 0);
}

TEST(InvokeMember, DropsOnlyTrailingMissingOptionals) {
  Recorder rec;
  _variant_t x(LONG{1}), y(L"y");
  struct Case {
    const VARIANT* a;
    const VARIANT* b;
    const VARIANT* c;
    std::size_t sent;
  };
  static constexpr VARTYPE kTypes[] = {VT_VARIANT, kOptionalVariant, kOptionalVariant, 0};
  const Case cases[] = {
      {&x, &vtMissing, &vtMissing, 1},
      {&x, &y, &vtMissing, 2},
      {&x, &vtMissing, &y, 3},                  // a missing one before a given one is sent as it is
      {&vtMissing, &vtMissing, &vtMissing, 1},  // the first is not optional
  };
  for (const Case& c : cases) {
    rec.ClearCalls();
    InvokeMember(&rec, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, kTypes, c.a, c.b, c.c);
    EXPECT_EQ(rec.last().args.size(), c.sent);
  }
  // The third case: the missing middle argument travels as VT_ERROR DISP_E_PARAMNOTFOUND.
  rec.ClearCalls();
  InvokeMember(&rec, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, kTypes, &x, &vtMissing, &y);
  EXPECT_EQ(rec.last().args[1].vt, VT_ERROR);
  EXPECT_EQ(rec.last().args[1].scode, DISP_E_PARAMNOTFOUND);

  // All four optionals of Worksheets.Add left out: no arguments at all.
  rec.ClearCalls();
  rec.reply.vt = VT_DISPATCH;
  rec.reply.pdispVal = nullptr;
  Worksheets(&rec).Add();
  EXPECT_TRUE(rec.last().args.empty());
  EXPECT_EQ(rec.last().id, 0xB5);
  // By reference, the VARIANT pointed to decides.
  static constexpr VARTYPE kByRef[] = {VT_VARIANT, kOptionalVariant | VT_BYREF, 0};
  VARIANT missing = vtMissing;
  rec.ClearCalls();
  InvokeMember(&rec, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, kByRef, &x, &missing);
  EXPECT_EQ(rec.last().args.size(), 1u);
}

TEST(InvokeMember, PutSendsItsValueAsNamedArgumentAndNeedsOne) {
  Recorder rec;
  _variant_t value(L"Pump");
  static constexpr VARTYPE kVariant[] = {VT_VARIANT, 0};
  InvokeMember(&rec, 6, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kVariant, &value);
  ASSERT_EQ(rec.last().named.size(), 1u);
  EXPECT_EQ(rec.last().named[0], DISPID_PROPERTYPUT);
  EXPECT_EQ(rec.last().flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(Str(rec.last().args.at(0)), L"Pump");

  rec.ClearCalls();
  EXPECT_EQ(
      Raised([&] { InvokeMember(&rec, 6, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, nullptr); }),
      E_INVALIDARG);
  static constexpr VARTYPE kOptional[] = {kOptionalVariant, 0};
  EXPECT_EQ(Raised([&] {
              InvokeMember(&rec, 6, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kOptional, &vtMissing);
            }),
            E_INVALIDARG);
  EXPECT_TRUE(rec.calls().empty()) << "refused before the object is called";
}

TEST(InvokeMember, RefusesWhatItCannotSend) {
  Recorder rec;
  EXPECT_EQ(Raised([] { InvokeMember(nullptr, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr); }),
            E_POINTER);
  static constexpr VARTYPE kUnknownType[] = {0x0048, 0};
  EXPECT_EQ(
      Raised([&] { InvokeMember(&rec, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, kUnknownType, 1); }),
      E_INVALIDARG);
  LONG out = 0;
  EXPECT_EQ(Raised([&] { InvokeMember(&rec, 1, DISPATCH_PROPERTYGET, 0x0048, &out, nullptr); }),
            E_INVALIDARG);
  EXPECT_TRUE(rec.calls().empty());
  // An array is passed as it is.
  static constexpr VARTYPE kArray[] = {VT_ARRAY | VT_VARIANT, 0};
  InvokeMember(&rec, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, kArray,
               static_cast<SAFEARRAY*>(nullptr));
  EXPECT_EQ(rec.last().types.at(0), VT_ARRAY | VT_VARIANT);
}

TEST(InvokeMember, ConvertsTheResultUnlessAVariantIsAsked) {
  Recorder rec;
  rec.reply.vt = VT_R8;
  rec.reply.dblVal = 1234.5;
  _variant_t as_is;
  InvokeMember(&rec, 0x8A, DISPATCH_PROPERTYGET, VT_VARIANT, &as_is, nullptr);
  EXPECT_TRUE(rec.last().result_requested);
  EXPECT_EQ(as_is.vt, VT_R8);
  EXPECT_EQ(as_is.dblVal, 1234.5);
  BSTR text = nullptr;
  InvokeMember(&rec, 0x8A, DISPATCH_PROPERTYGET, VT_BSTR, &text, nullptr);
  EXPECT_EQ(_bstr_t(text, false), L"1234.5");
  LONG number = 0;
  InvokeMember(&rec, 0x8A, DISPATCH_PROPERTYGET, VT_I4, &number, nullptr);
  EXPECT_EQ(number, 1234) << "rounded half to even";
  SHORT flag = 0;
  InvokeMember(&rec, 0x8A, DISPATCH_PROPERTYGET, VT_BOOL, &flag, nullptr);
  EXPECT_EQ(flag, VARIANT_TRUE);

  // A result that does not convert: its HRESULT, and the destination left empty.
  VariantClear(&rec.reply);
  rec.reply.vt = VT_BSTR;
  rec.reply.bstrVal = SysAllocString(L"Pump");
  number = 99;
  EXPECT_EQ(Raised([&] { InvokeMember(&rec, 6, DISPATCH_PROPERTYGET, VT_I4, &number, nullptr); }),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(number, 0);
  IDispatch* object = &rec;
  EXPECT_EQ(
      Raised([&] { InvokeMember(&rec, 6, DISPATCH_PROPERTYGET, VT_DISPATCH, &object, nullptr); }),
      DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(rec.refs(), 1u);
}

TEST(InvokeMember, AFailureWithoutExceptionRaisesItsHresultAlone) {
  Recorder rec;
  rec.hr = DISP_E_MEMBERNOTFOUND;
  BSTR text = SysAllocString(L"stale");
  BSTR held = text;
  try {
    InvokeMember(&rec, 0x6E, DISPATCH_PROPERTYGET, VT_BSTR, &text, nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(e.ErrorInfo(), nullptr);
  }
  EXPECT_EQ(text, nullptr) << "the destination is cleared, not freed";
  SysFreeString(held);
}

TEST(InvokeMember, AnExceptionRecordBecomesErrorInformation) {
  struct Case {
    WORD wcode;
    SCODE scode;
    bool deferred;
    HRESULT expected;
  };
  const Case cases[] = {
      {1000, S_OK, false, static_cast<HRESULT>(0x800405E8u)},
      {0xFDFF, S_OK, false, static_cast<HRESULT>(0x8004FFFFu)},
      {0xFE00, S_OK, false, static_cast<HRESULT>(0x8004FFFFu)},
      {0, kExcelError, false, kExcelError},
      {0, kExcelError, true, kExcelError},  // the fields come from the deferred fill-in
      {0, S_OK, false, DISP_E_EXCEPTION},   // a record without a code keeps the HRESULT
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wcode);
    SCOPED_TRACE(c.deferred);
    Recorder rec;
    rec.hr = DISP_E_EXCEPTION;
    rec.wcode = c.wcode;
    rec.scode = c.scode;
    rec.deferred = c.deferred;
    rec.source = L"Microsoft Excel";
    rec.description = L"The cell is locked.";
    rec.help_file = L"xlmain11.chm";
    rec.help_context = 42;
    rec.reply.vt = VT_I4;  // not handed out on failure
    _variant_t result(L"stale");
    VARIANT& raw = result;
    VariantClear(&raw);
    try {
      InvokeMember(&rec, 6, DISPATCH_PROPERTYGET, VT_VARIANT, &raw, nullptr);
      ADD_FAILURE() << "no exception";
    } catch (const _com_error& e) {
      EXPECT_EQ(e.Error(), c.expected);
      EXPECT_EQ(e.Source(), L"Microsoft Excel");
      EXPECT_EQ(e.Description(), L"The cell is locked.");
      EXPECT_EQ(e.HelpFile(), L"xlmain11.chm");
      EXPECT_EQ(e.HelpContext(), 42u);
      EXPECT_TRUE(e.GUID() == IID_IDispatch);
    }
    EXPECT_EQ(raw.vt, VT_EMPTY);
  }
}

TEST(Wrappers, CallEachMemberByItsDispidAndShape) {
  Recorder rec;
  _variant_t one(LONG{1}), two(SHORT{2}), text(L"A1"), yes(true);
  struct Case {
    const char* member;
    std::function<void()> call;
    DISPID id;
    WORD kind;
    std::size_t args;
    VARTYPE reply;
  };
  const Case cases[] = {
      {"PutInteractive", [&] { _Application(&rec).PutInteractive(VARIANT_TRUE); }, 0x169,
       DISPATCH_PROPERTYPUT, 1, VT_EMPTY},
      {"PutVisible", [&] { _Application(&rec).PutVisible(VARIANT_FALSE); }, 0x22E,
       DISPATCH_PROPERTYPUT, 1, VT_EMPTY},
      {"GetActiveWorkbook", [&] { _Application(&rec).GetActiveWorkbook(); }, 0x134,
       DISPATCH_PROPERTYGET, 0, VT_DISPATCH},
      {"GetActiveSheet", [&] { _Application(&rec).GetActiveSheet(); }, 0x133, DISPATCH_PROPERTYGET,
       0, VT_DISPATCH},
      {"GetWorkbooks", [&] { _Application(&rec).GetWorkbooks(); }, 0x23C, DISPATCH_PROPERTYGET, 0,
       VT_DISPATCH},
      {"Workbooks::Add", [&] { Workbooks(&rec).Add(); }, 0xB5, DISPATCH_METHOD, 0, VT_DISPATCH},
      {"Workbooks::GetItem", [&] { Workbooks(&rec).GetItem(one); }, 0xAA, DISPATCH_PROPERTYGET, 1,
       VT_DISPATCH},
      {"Workbooks::GetCount", [&] { Workbooks(&rec).GetCount(); }, 0x76, DISPATCH_PROPERTYGET, 0,
       VT_I4},
      {"_Workbook::GetWorksheets", [&] { _Workbook(&rec).GetWorksheets(); }, 0x1EE,
       DISPATCH_PROPERTYGET, 0, VT_DISPATCH},
      {"_Workbook::Activate", [&] { _Workbook(&rec).Activate(); }, 0x130, DISPATCH_METHOD, 0,
       VT_EMPTY},
      {"_Workbook::GetName", [&] { _Workbook(&rec).GetName(); }, 0x6E, DISPATCH_PROPERTYGET, 0,
       VT_BSTR},
      {"Worksheets::Add(after)", [&] { Worksheets(&rec).Add(vtMissing, one); }, 0xB5,
       DISPATCH_METHOD, 2, VT_DISPATCH},
      {"Worksheets::GetItem", [&] { Worksheets(&rec).GetItem(one); }, 0xAA, DISPATCH_PROPERTYGET, 1,
       VT_DISPATCH},
      {"_Worksheet::PutName", [&] { _Worksheet(&rec).PutName(L"Pumps"); }, 0x6E,
       DISPATCH_PROPERTYPUT, 1, VT_EMPTY},
      {"_Worksheet::GetCells", [&] { _Worksheet(&rec).GetCells(); }, 0xEE, DISPATCH_PROPERTYGET, 0,
       VT_DISPATCH},
      {"_Worksheet::GetColumns", [&] { _Worksheet(&rec).GetColumns(); }, 0xF1, DISPATCH_PROPERTYGET,
       0, VT_DISPATCH},
      {"_Worksheet::GetRange", [&] { _Worksheet(&rec).GetRange(text); }, 0xC5, DISPATCH_PROPERTYGET,
       1, VT_DISPATCH},
      {"_Worksheet::GetParent", [&] { _Worksheet(&rec).GetParent(); }, 0x96, DISPATCH_PROPERTYGET,
       0, VT_DISPATCH},
      {"Range::GetItem(row, col)", [&] { Range(&rec).GetItem(two, two); }, 0xAA,
       DISPATCH_PROPERTYGET, 2, VT_DISPATCH},
      {"Range::GetValue", [&] { Range(&rec).GetValue(); }, 0x6, DISPATCH_PROPERTYGET, 0, VT_R8},
      {"Range::PutValue", [&] { Range(&rec).PutValue(text); }, 0x6, DISPATCH_PROPERTYPUT, 1,
       VT_EMPTY},
      {"Range::GetText", [&] { Range(&rec).GetText(); }, 0x8A, DISPATCH_PROPERTYGET, 0, VT_BSTR},
      {"Range::PutNumberFormat", [&] { Range(&rec).PutNumberFormat(text); }, 0xC1,
       DISPATCH_PROPERTYPUT, 1, VT_EMPTY},
      {"Range::AutoFit", [&] { Range(&rec).AutoFit(); }, 0xED, DISPATCH_METHOD, 0, VT_EMPTY},
      {"Range::GetEntireRow", [&] { Range(&rec).GetEntireRow(); }, 0xF7, DISPATCH_PROPERTYGET, 0,
       VT_DISPATCH},
      {"Range::GetFont", [&] { Range(&rec).GetFont(); }, 0x92, DISPATCH_PROPERTYGET, 0,
       VT_DISPATCH},
      {"Range::GetComment", [&] { Range(&rec).GetComment(); }, 0x38E, DISPATCH_PROPERTYGET, 0,
       VT_DISPATCH},
      {"Range::AddComment", [&] { Range(&rec).AddComment(); }, 0x56D, DISPATCH_METHOD, 0,
       VT_DISPATCH},
      {"Range::GetColumn", [&] { Range(&rec).GetColumn(); }, 0xF0, DISPATCH_PROPERTYGET, 0, VT_I4},
      {"Range::GetWorksheet", [&] { Range(&rec).GetWorksheet(); }, 0x15C, DISPATCH_PROPERTYGET, 0,
       VT_DISPATCH},
      {"Font::PutBold", [&] { Font(&rec).PutBold(yes); }, 0x60, DISPATCH_PROPERTYPUT, 1, VT_EMPTY},
      {"Comment::Text()", [&] { Comment(&rec).Text(); }, 0x8A, DISPATCH_METHOD, 0, VT_BSTR},
      {"Comment::Text(text, start)", [&] { Comment(&rec).Text(text, one); }, 0x8A, DISPATCH_METHOD,
       2, VT_BSTR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    rec.ClearCalls();
    VariantClear(&rec.reply);
    rec.reply.vt = c.reply;
    if (c.reply == VT_DISPATCH) rec.reply.pdispVal = nullptr;
    if (c.reply == VT_BSTR) rec.reply.bstrVal = SysAllocString(L"x");
    c.call();
    ASSERT_EQ(rec.calls().size(), 1u);
    EXPECT_EQ(rec.last().id, c.id);
    EXPECT_EQ(rec.last().flags, c.kind);
    EXPECT_EQ(rec.last().args.size(), c.args);
    EXPECT_EQ(rec.last().named.size(), c.kind == DISPATCH_PROPERTYPUT ? 1u : 0u);
  }
  EXPECT_EQ(rec.name_lookups, 0) << "members are never looked up by name";
  EXPECT_EQ(rec.refs(), 1u);

  // Values arrive with their types: a boolean as VT_BOOL -1, a name as VT_BSTR.
  rec.ClearCalls();
  _Application(&rec).PutVisible(1);
  EXPECT_EQ(rec.last().args[0].vt, VT_BOOL);
  EXPECT_EQ(rec.last().args[0].boolVal, VARIANT_TRUE);
  _Worksheet(&rec).PutName(L"Pumps");
  EXPECT_EQ(Str(rec.last().args[0]), L"Pumps");
  // Range::GetText hands the value as it came; a fixed type would have converted it.
  VariantClear(&rec.reply);
  rec.reply.vt = VT_R8;
  rec.reply.dblVal = 3;
  EXPECT_EQ(Range(&rec).GetText().vt, VT_R8);
  EXPECT_EQ(Comment(&rec).Text(), L"3");
  EXPECT_EQ(Workbooks(&rec).GetCount(), 3);
}

TEST(Wrappers, AViewOfNothingRaisesEPointer) {
  EXPECT_EQ(Raised([] { _Worksheet(nullptr).GetName(); }), E_POINTER);
  EXPECT_EQ(Raised([] { Workbooks(IDispatchPtr()).Add(); }), E_POINTER);
}

TEST(InterfacePtr, QueriesAndLeavesNullWithoutTheInterface) {
  Recorder sheet;
  sheet.interfaces = {sheetwise::calc::IID_ExcelWorksheet};
  Recorder chart;  // answers IDispatch only, as a chart sheet does
  {
    _WorksheetPtr ws = IDispatchPtr(&sheet);
    EXPECT_TRUE(ws);
    EXPECT_EQ(sheet.refs(), 2u);
    _WorksheetPtr copy = ws;
    EXPECT_EQ(sheet.refs(), 3u);
    ws = IDispatchPtr(&chart);
    EXPECT_FALSE(ws) << "E_NOINTERFACE gives null, not an error";
    EXPECT_EQ(sheet.refs(), 2u);
    EXPECT_EQ(chart.refs(), 1u);
    EXPECT_EQ(Raised([&] { ws->GetName(); }), E_POINTER);
    EXPECT_TRUE(chart.calls().empty());
    RangePtr range = copy;  // another interface of the same object: queried
    EXPECT_FALSE(range);
  }
  EXPECT_EQ(sheet.refs(), 1u) << "every reference given back";

  // From a VARIANT, as Range::GetItem hands a cell.
  {
    _variant_t cell(static_cast<IDispatch*>(&sheet));
    _WorksheetPtr ws = cell;
    EXPECT_EQ(ws.GetInterfacePtr(), static_cast<IDispatch*>(&sheet));
    _variant_t text(L"not an object");
    EXPECT_EQ(Raised([&] { ws = text; }), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(ws) << "a value that is no object leaves the pointer as it was";
    ws = nullptr;
  }
  EXPECT_EQ(sheet.refs(), 1u);

  // A failing query other than E_NOINTERFACE is raised.
  Recorder odd;
  odd.query_failure = E_UNEXPECTED;
  EXPECT_EQ(Raised([&] { _WorkbookPtr wb = static_cast<IDispatch*>(&odd); }), E_UNEXPECTED);
  EXPECT_EQ(odd.refs(), 1u);
}

TEST(Conversions, TakeTheValueAsItIsOrConvertIt) {
  struct Case {
    _variant_t value;
    HRESULT i2, i4;
    SHORT as_i2;
    LONG as_i4;
    double as_r8;
    const wchar_t* text;
  };
  const Case cases[] = {
      {_variant_t(SHORT{-7}), S_OK, S_OK, -7, -7, -7, L"-7"},
      {_variant_t(LONG{70000}), DISP_E_OVERFLOW, S_OK, 0, 70000, 70000, L"70000"},
      {_variant_t(2.5), S_OK, S_OK, 2, 2, 2.5, L"2.5"},
      {_variant_t(3.5), S_OK, S_OK, 4, 4, 3.5, L"3.5"},
      {_variant_t(L" 12 "), S_OK, S_OK, 12, 12, 12, L" 12 "},
      {_variant_t(L"Pump"), DISP_E_TYPEMISMATCH, DISP_E_TYPEMISMATCH, 0, 0, 0, L"Pump"},
      {_variant_t(true), S_OK, S_OK, -1, -1, -1, L"-1"},  // flags 0: no "True"
      {_variant_t(), S_OK, S_OK, 0, 0, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::wstring(c.text));
    EXPECT_EQ(Raised([&] { EXPECT_EQ(VariantToI2(c.value), c.as_i2); }), c.i2);
    EXPECT_EQ(Raised([&] { EXPECT_EQ(VariantToI4(c.value), c.as_i4); }), c.i4);
    EXPECT_EQ(Raised([&] { EXPECT_EQ(VariantToR8(c.value), c.as_r8); }), c.i4);
    EXPECT_EQ(Raised([&] { EXPECT_EQ(VariantToR4(c.value), static_cast<float>(c.as_r8)); }), c.i4);
    EXPECT_EQ(std::wstring(VariantToText(c.value)), c.text);
  }
  // Text as is: a copy, even of text that looks like a number.
  _variant_t text(L"007");
  _bstr_t copy = VariantToText(text);
  EXPECT_EQ(copy, L"007");
  EXPECT_NE(static_cast<const wchar_t*>(copy), text.bstrVal);

  // 8-bit text through the ANSI code page (UTF-8 on this system).
  BSTR wide = AnsiToBSTR("Pumpe \xC3\x84");
  EXPECT_EQ(std::wstring(wide), L"Pumpe \u00C4");
  EXPECT_EQ(BSTRToAnsi(wide), "Pumpe \xC3\x84");
  SysFreeString(wide);
  EXPECT_EQ(AnsiToBSTR(nullptr), nullptr);
  EXPECT_EQ(BSTRToAnsi(nullptr), "");
}

}  // namespace
