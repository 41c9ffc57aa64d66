// VariantChangeType as a table of type pairs. Unless a row says otherwise, the expected values
// were observed under Wine 8 (oleaut32) with tools/wine/observe_varconv.c.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/variant.h"
#include "tests/platform/com/value_support.h"

namespace {

using namespace sw::test;

struct Row {
  Value from;
  VARTYPE to;
  HRESULT hr;
  Value expected;  // only looked at when hr succeeds
  USHORT flags = 0;
};

void Check(const std::vector<Row>& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(testing::Message() << "row " << i << ": " << row.from << " -> vt " << row.to
                                    << " flags " << row.flags);
    Value out;
    const HRESULT hr = VariantChangeType(&out.v, &row.from.v, row.flags, row.to);
    EXPECT_EQ(hr, row.hr) << std::hex << hr;
    if (SUCCEEDED(row.hr)) {
      EXPECT_EQ(out, row.expected);
    } else {
      EXPECT_EQ(out.v.vt, VT_EMPTY) << "a failed conversion leaves the destination alone";
    }
  }
}

constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr HRESULT kOverflow = DISP_E_OVERFLOW;

TEST(VariantChangeType, EmptyNullAndErrorSources) {
  Check({
      {Empty(), VT_I2, S_OK, I2(0)},
      {Empty(), VT_BSTR, S_OK, Str(L"")},
      {Empty(), VT_BOOL, S_OK, Bool(VARIANT_FALSE)},
      {Empty(), VT_NULL, S_OK, Null()},
      {Empty(), VT_DISPATCH, kMismatch, {}},
      {Empty(), VT_ERROR, kMismatch, {}},
      {Null(), VT_NULL, S_OK, Null()},
      {Null(), VT_EMPTY, kMismatch, {}},
      {Error(DISP_E_PARAMNOTFOUND), VT_ERROR, S_OK, Error(DISP_E_PARAMNOTFOUND)},
      {Error(DISP_E_PARAMNOTFOUND), VT_EMPTY, kMismatch, {}},
      {I4(0), VT_ERROR, kMismatch, {}},
      {I4(-1), VT_EMPTY, S_OK, Empty()},
      {I4(-1), VT_NULL, S_OK, Null()},
  });
}

TEST(VariantChangeType, IntegersBetweenTypes) {
  Check({
      {I4(-1), VT_I2, S_OK, I2(-1)},
      {I4(-1), VT_CY, S_OK, Cy(-10000)},
      {I4(-1), VT_BOOL, S_OK, Bool(VARIANT_TRUE)},
      {I4(-1), VT_UI1, kOverflow, {}},
      // A 32-bit signed value keeps its bits in a 32-bit unsigned one.
      {I4(-1), VT_UI4, S_OK, UI4(4294967295u)},
      {I4(-32769), VT_I2, kOverflow, {}},
      {I4(256), VT_UI1, kOverflow, {}},
      {I4(3000000), VT_DATE, kOverflow, {}},
      {UI8(18446744073709551615ull), VT_BSTR, S_OK, Str(L"18446744073709551615")},
      {I8(std::numeric_limits<LONGLONG>::min()), VT_BSTR, S_OK, Str(L"-9223372036854775808")},
      {UI4(4294967295u), VT_I4, kOverflow, {}},  // not observed: the range rule
  });
}

TEST(VariantChangeType, BooleansAsNumbersAndText) {
  Check({
      {Bool(VARIANT_TRUE), VT_I2, S_OK, I2(-1)},
      {Bool(VARIANT_TRUE), VT_UI8, S_OK, UI8(18446744073709551615ull)},
      {Bool(VARIANT_TRUE), VT_BSTR, S_OK, Str(L"-1")},
      {Bool(VARIANT_TRUE), VT_BSTR, S_OK, Str(L"True"), VARIANT_ALPHABOOL},
      {Bool(5), VT_BSTR, S_OK, Str(L"True"), VARIANT_ALPHABOOL},
      {Bool(5), VT_I4, S_OK, I4(5)},
      {R8(0.1), VT_BOOL, S_OK, Bool(VARIANT_TRUE)},
      {R8(-0.0), VT_BOOL, S_OK, Bool(VARIANT_FALSE)},
      {R8(std::nan("")), VT_BOOL, S_OK, Bool(VARIANT_TRUE)},
      {Str(L"tRuE"), VT_BOOL, S_OK, Bool(VARIANT_TRUE)},
      {Str(L"#TRUE#"), VT_BOOL, S_OK, Bool(VARIANT_TRUE)},
      {Str(L"0.1"), VT_BOOL, S_OK, Bool(VARIANT_TRUE)},
      {Str(L" True"), VT_BOOL, kMismatch, {}},
      {Str(L"True"), VT_I4, kMismatch, {}},
  });
}

TEST(VariantChangeType, RealsRoundHalfToEvenIntoIntegers) {
  Check({
      {R8(2.5), VT_I4, S_OK, I4(2)},
      {R8(-1.5), VT_I2, S_OK, I2(-2)},
      {R8(2.5000001), VT_I2, S_OK, I2(3)},
      {R8(-0.6), VT_UI1, kOverflow, {}},
      {R8(-0.4), VT_UI1, S_OK, UI1(0)},
      {R8(255.5), VT_UI1, kOverflow, {}},
      // The edges of I2 and I4: rounding first, then the range.
      {R8(32767.5), VT_I2, kOverflow, {}},
      {R8(-32768.5), VT_I2, S_OK, I2(-32768)},
      {R8(-32768.6), VT_I2, kOverflow, {}},
      {R8(2147483647.5), VT_I4, kOverflow, {}},
      {R8(-2147483648.5), VT_I4, S_OK, I4(std::numeric_limits<LONG>::min())},
      {R8(4294967295.5), VT_UI4, kOverflow, {}},
      {R8(1e19), VT_I8, kOverflow, {}},
      {R8(INFINITY), VT_I4, kOverflow, {}},
      // Wine answers 2147483647 for a NaN; a NaN has no integer value, so this one overflows.
      {R8(std::nan("")), VT_I4, kOverflow, {}},
      {R8(2.5), VT_CY, S_OK, Cy(25000)},
      {Date(46361.5), VT_I4, S_OK, I4(46362)},
      {Cy(25000), VT_I4, S_OK, I4(2)},  // not observed: the same rounding
  });
}

TEST(VariantChangeType, RealsBetweenTypes) {
  Check({
      {R8(3.4e38), VT_R4, S_OK, R4(3.4e38f)},
      {R8(3.5e38), VT_R4, kOverflow, {}},
      {R8(1e-50), VT_R4, S_OK, R4(0)},
      {R4(0.1f), VT_R8, S_OK, R8(static_cast<double>(0.1f))},
      {I4(2147483647), VT_R4, S_OK, R4(2147483648.0f)},
      {Date(46361.5625), VT_R8, S_OK, R8(46361.5625)},
      {R8(-657434.0), VT_DATE, S_OK, Date(-657434.0)},
      {R8(-657435.0), VT_DATE, kOverflow, {}},
      {R8(2958466.0), VT_DATE, kOverflow, {}},
  });
}

TEST(VariantChangeType, RealsAsText) {
  Check({
      {R8(0.1), VT_BSTR, S_OK, Str(L"0.1")},
      {R8(1e20), VT_BSTR, S_OK, Str(L"1E+20")},
      {R8(1234567890123456.0), VT_BSTR, S_OK, Str(L"1.23456789012346E+15")},
      {R8(0.1 + 0.2), VT_BSTR, S_OK, Str(L"0.3")},
      {R8(-0.0), VT_BSTR, S_OK, Str(L"0")},
      {R8(1e-5), VT_BSTR, S_OK, Str(L"1E-05")},
      {R8(5e-324), VT_BSTR, S_OK, Str(L"4.94065645841247E-324")},
      {R8(1.7976931348623157e308), VT_BSTR, S_OK, Str(L"1.79769313486232E+308")},
      {R8(0.000123456789012345678), VT_BSTR, S_OK, Str(L"0.000123456789012346")},
      {R8(999999999999999.9), VT_BSTR, S_OK, Str(L"1E+15")},
      {R8(INFINITY), VT_BSTR, S_OK, Str(L"INF")},
      {R8(std::nan("")), VT_BSTR, S_OK, Str(L"NAN")},
      {R4(3.14159265f), VT_BSTR, S_OK, Str(L"3.141593")},
      {R4(16777216.0f), VT_BSTR, S_OK, Str(L"1.677722E+07")},
      {Cy(15000), VT_BSTR, S_OK, Str(L"1.5")},  // not observed: four decimals at most
  });
}

TEST(VariantChangeType, TextAsNumbers) {
  Check({
      {Str(L" 12 "), VT_I4, S_OK, I4(12)},
      {Str(L"\u00a012"), VT_I4, S_OK, I4(12)},
      {Str(L"1\u00a02"), VT_I4, kMismatch, {}},
      {Str(L"1e3"), VT_I4, S_OK, I4(1000)},
      {Str(L"1e-3"), VT_I4, S_OK, I4(0)},
      {Str(L"1d3"), VT_R8, kMismatch, {}},
      {Str(L"1,234.5"), VT_R8, S_OK, R8(1234.5)},
      {Str(L"1,2,3"), VT_I4, S_OK, I4(123)},
      {Str(L",12"), VT_I4, kMismatch, {}},
      {Str(L""), VT_I4, kMismatch, {}},
      {Str(L" "), VT_R8, kMismatch, {}},
      {Str(L"12abc"), VT_I4, kMismatch, {}},
      {Str(L"12-"), VT_I4, S_OK, I4(-12)},
      {Str(L"(12)"), VT_R8, S_OK, R8(-12)},
      {Str(L"(12"), VT_R8, kMismatch, {}},
      {Str(L"- 12"), VT_I4, S_OK, I4(-12)},
      {Str(L"--12"), VT_I4, kMismatch, {}},
      {Str(L"$12"), VT_I4, S_OK, I4(12)},
      {Str(L".5"), VT_R8, S_OK, R8(0.5)},
      {Str(L"."), VT_R8, kMismatch, {}},
      {Str(L"1e"), VT_R8, kMismatch, {}},
      {Str(L"1 000"), VT_I4, kMismatch, {}},
      {Str(L"1e999"), VT_R8, kOverflow, {}},
      {Str(L"1e-400"), VT_R8, S_OK, R8(0)},
      {Str(L"\u0661\u0662"), VT_I4, kMismatch, {}},
      // Rounding and the edges of the integer types.
      {Str(L"32767.5"), VT_I2, kOverflow, {}},
      {Str(L"-32768.5"), VT_I2, S_OK, I2(-32768)},
      {Str(L"2147483648"), VT_I4, kOverflow, {}},
      {Str(L"-2147483648"), VT_I4, S_OK, I4(std::numeric_limits<LONG>::min())},
      {Str(L"-1"), VT_UI4, kOverflow, {}},  // not observed: the range rule
      {Str(L"18446744073709551615"), VT_UI8, S_OK, UI8(18446744073709551615ull)},
      {Str(L"18446744073709551616"), VT_UI8, kOverflow, {}},
      {Str(L"9223372036854775808"), VT_I8, kOverflow, {}},
      // Long digit strings are rounded correctly; Wine is one unit off in the last place for
      // these two (1.2345678901234569e+19 and 1.2345678901234566e+29).
      {Str(L"12345678901234567890"), VT_R8, S_OK, R8(1.2345678901234567e+19)},
      {Str(L"123456789012345678901234567890"), VT_R8, S_OK, R8(1.2345678901234568e+29)},
      {Str(L"12"), VT_CY, S_OK, Cy(120000)},
      // Hex and octal: the bits of the target type.
      {Str(L"&H1F"), VT_I2, S_OK, I2(31)},
      {Str(L"&HFFFF"), VT_I2, S_OK, I2(-1)},
      {Str(L"&HFFFF"), VT_UI1, kOverflow, {}},
      {Str(L"&HFFFFFFFF"), VT_I4, S_OK, I4(-1)},
      {Str(L"&O17"), VT_I4, S_OK, I4(15)},
      {Str(L"&H"), VT_I4, kMismatch, {}},
      {Str(L"&17"), VT_I4, kMismatch, {}},
      {Str(L"0x1F"), VT_I4, kMismatch, {}},
      {Str(L"&HFFFFFFFFFFFFFFFFF"), VT_I8, kOverflow, {}},  // not observed: 68 bits
      // Deliberate differences: Wine reads "-&H1F" as 31 and answers DISP_E_OVERFLOW for
      // "&HFFFFFFFF" as R8 while it reads the same bits as -1 for I4.
      {Str(L"-&H1F"), VT_I4, kMismatch, {}},
      {Str(L"&HFFFFFFFF"), VT_R8, S_OK, R8(-1)},
  });
}

TEST(VariantChangeType, DatesAsText) {
  Check({
      {Date(0.0), VT_BSTR, S_OK, Str(L"12:00:00 AM")},
      {Date(1.0), VT_BSTR, S_OK, Str(L"12/31/1899")},
      {Date(46361.0), VT_BSTR, S_OK, Str(L"12/5/2026")},
      {Date(46361.5625), VT_BSTR, S_OK, Str(L"12/5/2026 1:30:00 PM")},
      {Date(-1.25), VT_BSTR, S_OK, Str(L"12/29/1899 6:00:00 AM")},
      {Date(-0.5), VT_BSTR, S_OK, Str(L"12:00:00 PM")},
      {Date(46361.999999), VT_BSTR, S_OK, Str(L"12/6/2026 12:00:00 AM")},
      {Date(46361.0 + 0.5 / 86400.0), VT_BSTR, S_OK, Str(L"12/5/2026 12:00:01 AM")},
      {Date(-657434.0), VT_BSTR, S_OK, Str(L"1/1/100")},
      {Date(2958465.9999), VT_BSTR, S_OK, Str(L"12/31/9999 11:59:51 PM")},
      {Date(-657435.0), VT_BSTR, E_INVALIDARG, {}},
      {Date(2958466.0), VT_BSTR, E_INVALIDARG, {}},
  });
}

TEST(VariantChangeType, TextAsDates) {
  const double kDec5 = 46361.0;
  const double k1330 = 0.5625;
  Check({
      {Str(L"2026-12-05"), VT_DATE, S_OK, Date(kDec5)},
      {Str(L"12/5/2026"), VT_DATE, S_OK, Date(kDec5)},
      {Str(L"12/5/2026 13:30"), VT_DATE, S_OK, Date(kDec5 + k1330)},
      {Str(L"12/5/2026 1:30:00"), VT_DATE, S_OK, Date(kDec5 + 0.0625)},
      {Str(L"1:30:00 PM"), VT_DATE, S_OK, Date(k1330)},
      {Str(L"13:30:15"), VT_DATE, S_OK, Date(0.56267361111111114)},
      {Str(L"1 PM"), VT_DATE, S_OK, Date(13.0 / 24.0)},
      {Str(L"24:00"), VT_DATE, kMismatch, {}},
      {Str(L"12:60"), VT_DATE, kMismatch, {}},
      {Str(L"  12/5/2026  "), VT_DATE, S_OK, Date(kDec5)},
      {Str(L"13/5/2026"), VT_DATE, S_OK, Date(46155)},
      {Str(L"2/29/2024"), VT_DATE, S_OK, Date(45351)},
      {Str(L"2/29/2023"), VT_DATE, kMismatch, {}},
      {Str(L"Dec 5, 2026"), VT_DATE, S_OK, Date(kDec5)},
      {Str(L"Saturday, December 05, 2026"), VT_DATE, S_OK, Date(kDec5)},
      {Str(L"Dec 2026"), VT_DATE, S_OK, Date(46357)},
      {Str(L"12/5/29"), VT_DATE, S_OK, Date(47457)},
      {Str(L"12/5/30"), VT_DATE, S_OK, Date(47822)},
      {Str(L"1/1/100"), VT_DATE, S_OK, Date(-657434)},
      {Str(L"1/1/10000"), VT_DATE, kMismatch, {}},
      {Str(L"1899-12-29 06:00"), VT_DATE, S_OK, Date(-1.25)},
      {Str(L"2026-13-01"), VT_DATE, S_OK, Date(46035)},
      {Str(L"2026-12-05T13:30:00"), VT_DATE, kMismatch, {}},
      {Str(L"12/5/2026 12:30:45.5"), VT_DATE, kMismatch, {}},
      {Str(L"5.12.2026"), VT_DATE, kMismatch, {}},
      {Str(L"45000"), VT_DATE, kMismatch, {}},
  });
}

TEST(VariantChangeType, DatesRoundTripThroughText) {
  for (const double serial :
       {0.0, 0.5625, 1.0, 46361.0, 46361.5625, -1.25, -657434.0, 2958465.0 + 86399.0 / 86400.0}) {
    SCOPED_TRACE(serial);
    const Value date = Date(serial);
    Value text;
    ASSERT_EQ(VariantChangeType(&text.v, &date.v, 0, VT_BSTR), S_OK);
    Value back;
    ASSERT_EQ(VariantChangeType(&back.v, &text.v, 0, VT_DATE), S_OK);
    EXPECT_NEAR(back.v.date, serial, 1e-9);
  }
}

TEST(VariantChangeType, ObjectsThroughTheirDefaultValue) {
  CountedObject object;
  object.value = I4(42);
  Value holder;
  holder.v.vt = VT_DISPATCH;
  holder.v.pdispVal = &object;
  object.AddRef();  // the holder's reference
  Check({
      {holder, VT_I4, S_OK, I4(42)},
      {holder, VT_BSTR, S_OK, Str(L"42")},
      {holder, VT_BOOL, S_OK, Bool(VARIANT_TRUE)},
      {holder, VT_EMPTY, S_OK, Empty()},
      {holder, VT_NULL, S_OK, Null()},
      {holder, VT_ERROR, kMismatch, {}},
      {holder, VT_I4, kMismatch, {}, VARIANT_NOVALUEPROP},
      {holder, VT_EMPTY, kMismatch, {}, VARIANT_NOVALUEPROP},
  });
  {
    Value unknown;
    ASSERT_EQ(VariantChangeType(&unknown.v, &holder.v, VARIANT_NOVALUEPROP, VT_UNKNOWN), S_OK);
    EXPECT_EQ(unknown.v.punkVal, static_cast<IUnknown*>(&object));
  }
  object.value = Str(L"abc");
  Check({{holder, VT_I4, kMismatch, {}}, {holder, VT_BSTR, S_OK, Str(L"abc")}});
  object.value = Null();
  Check({{holder, VT_I4, kMismatch, {}}});
  object.value = Empty();
  Check({{holder, VT_I4, S_OK, I4(0)}});
  object.invoke_result = E_FAIL;
  Check({{holder, VT_I4, kMismatch, {}}, {holder, VT_BSTR, kMismatch, {}}});
  object.invoke_result = DISP_E_MEMBERNOTFOUND;
  Check({{holder, VT_I4, kMismatch, {}}});
  VariantClear(&holder.v);
  EXPECT_EQ(object.refs, 1u) << "every reference taken by a conversion is given back";

  Value null_object;
  null_object.v.vt = VT_DISPATCH;
  null_object.v.pdispVal = nullptr;
  Check({
      {null_object, VT_I4, DISP_E_BADVARTYPE, {}},
      {null_object, VT_BSTR, DISP_E_BADVARTYPE, {}},
      {null_object, VT_EMPTY, S_OK, Empty()},
  });
}

// An object whose default value is itself: the conversion must end.
TEST(VariantChangeType, SelfReferencingDefaultValueEnds) {
  CountedObject object;
  object.value.v.vt = VT_DISPATCH;
  object.value.v.pdispVal = &object;
  object.AddRef();
  Value holder;
  holder.v.vt = VT_DISPATCH;
  holder.v.pdispVal = &object;
  object.AddRef();
  Value out;
  EXPECT_EQ(VariantChangeType(&out.v, &holder.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&holder.v);
  VariantClear(&object.value.v);
  EXPECT_EQ(object.refs, 1u);
}

TEST(VariantChangeType, UnknownAndDispatchQueryEachOther) {
  CountedObject plain(/*is_dispatch=*/false);
  CountedObject dispatch;
  {
    Value v;
    v.v.vt = VT_UNKNOWN;
    v.v.punkVal = &plain;
    plain.AddRef();
    Value out;
    EXPECT_EQ(VariantChangeType(&out.v, &v.v, 0, VT_DISPATCH), E_NOINTERFACE);
    EXPECT_EQ(VariantChangeType(&out.v, &v.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out.v, &v.v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out.v, &v.v, 0, VT_EMPTY), S_OK);
    v.v.punkVal = static_cast<IDispatch*>(&dispatch);
    plain.Release();
    dispatch.AddRef();
    ASSERT_EQ(VariantChangeType(&out.v, &v.v, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(out.v.pdispVal, &dispatch);
    EXPECT_EQ(dispatch.refs, 3u);
    v.v.punkVal->Release();
    v.v.punkVal = nullptr;
    ASSERT_EQ(VariantChangeType(&out.v, &v.v, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(out.v.pdispVal, nullptr);
  }
  EXPECT_EQ(plain.refs, 1u);
  EXPECT_EQ(dispatch.refs, 1u);
}

TEST(VariantChangeType, ByReferenceSourcesAreRead) {
  LONG seven = 7;
  VARIANT v;
  v.vt = VT_I4 | VT_BYREF;
  v.plVal = &seven;
  Value out;
  ASSERT_EQ(VariantChangeType(&out.v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(out, Str(L"7"));
  ASSERT_EQ(VariantChangeType(&out.v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(out, I4(7));
  VARIANT inner = R8(2.5).v;
  v.vt = VT_VARIANT | VT_BYREF;
  v.pvarVal = &inner;
  ASSERT_EQ(VariantChangeType(&out.v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(out, I4(2));
  v.vt = VT_I4 | VT_BYREF;
  v.plVal = nullptr;
  EXPECT_EQ(VariantChangeType(&out.v, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  v.vt = VT_EMPTY | VT_BYREF;
  EXPECT_EQ(VariantChangeType(&out.v, &v, 0, VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(seven, 7);
}

TEST(VariantChangeType, BadTargets) {
  Check({
      {I4(5), VT_I4 | VT_BYREF, kMismatch, {}},
      {I4(5), VT_I4 | VT_ARRAY, kMismatch, {}},
      {I4(5), 15, DISP_E_BADVARTYPE, {}},
      {I4(5), VT_VOID, DISP_E_BADVARTYPE, {}},
      {I4(5), VT_VARIANT, kMismatch, {}},
  });
  Value bad;
  bad.v.vt = 15;
  Value out;
  EXPECT_EQ(VariantChangeType(&out.v, &bad.v, 0, VT_I4), DISP_E_BADVARTYPE);
  bad.v.vt = VT_EMPTY;
}

TEST(VariantChangeType, InPlaceReplacesTheSource) {
  Value v = Str(L"1,234.5");
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_R8), S_OK);
  EXPECT_EQ(v, R8(1234.5));
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(v, Str(L"1234.5"));
  // A failure leaves the value as it was.
  Value text = Str(L"abc");
  EXPECT_EQ(VariantChangeType(&text.v, &text.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(text, Str(L"abc"));
  // Text ends at an embedded zero, as the C functions reading it do.
  Value zero;
  zero.v.vt = VT_BSTR;
  zero.v.bstrVal = SysAllocStringLen(L"12\0abc", 6);
  ASSERT_EQ(VariantChangeType(&zero.v, &zero.v, 0, VT_I4), S_OK);
  EXPECT_EQ(zero, I4(12));
}

TEST(VarHelpers, MatchVariantChangeType) {
  double d = 0;
  EXPECT_EQ(VarR8FromStr(L" 1,234.5 ", 0, 0, &d), S_OK);
  EXPECT_EQ(d, 1234.5);
  SHORT s = 0;
  EXPECT_EQ(VarI2FromR8(32767.5, &s), DISP_E_OVERFLOW);
  BSTR text = nullptr;
  ASSERT_EQ(VarBstrFromDate(46361.5625, 0, VAR_DATEVALUEONLY, &text), S_OK);
  EXPECT_EQ(std::wstring(text), L"12/5/2026");
  SysFreeString(text);
  ASSERT_EQ(VarBstrFromDate(46361.5625, 0, VAR_TIMEVALUEONLY, &text), S_OK);
  EXPECT_EQ(std::wstring(text), L"1:30:00 PM");
  SysFreeString(text);
  DATE date = 0;
  EXPECT_EQ(VarDateFromStr(L"Dec 5, 2026 1:30 PM", 0, 0, &date), S_OK);
  EXPECT_EQ(date, 46361.5625);
}

}  // namespace
