#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include "platform/com/bstr.h"
#include "tests/platform/com/value_support.h"

namespace {

using namespace sw::test;

TEST(Variant, ClearFreesWhatItOwnsOnly) {
  CountedObject object;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = &object;
  object.AddRef();
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object.refs, 1u);

  // By reference: neither the pointer nor the object behind it is released.
  IDispatch* pointer = &object;
  v.vt = VT_DISPATCH | VT_BYREF;
  v.ppdispVal = &pointer;
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(pointer, &object);

  v.vt = 15;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 15) << "a bad type is left alone";
  v.vt = VT_ARRAY | VT_I4;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyIsDeep) {
  CountedObject object;
  Value source = Str(L"Wert");
  Value copy;
  ASSERT_EQ(VariantCopy(&copy.v, &source.v), S_OK);
  EXPECT_NE(copy.v.bstrVal, source.v.bstrVal);
  EXPECT_EQ(copy, source);

  // The destination is cleared first: the BSTR it held is freed (the sanitizer sees a leak
  // otherwise) and the object reference goes back.
  Value unknown;
  unknown.v.vt = VT_UNKNOWN;
  unknown.v.punkVal = &object;
  object.AddRef();
  ASSERT_EQ(VariantCopy(&copy.v, &unknown.v), S_OK);
  EXPECT_EQ(object.refs, 3u);
  ASSERT_EQ(VariantCopy(&copy.v, &copy.v), S_OK);
  EXPECT_EQ(object.refs, 3u) << "copying onto itself changes nothing";
  VariantClear(&copy.v);
  VariantClear(&unknown.v);
  EXPECT_EQ(object.refs, 1u);

  Value bad;
  bad.v.vt = VT_VOID;
  Value keep = I4(9);
  EXPECT_EQ(VariantCopy(&keep.v, &bad.v), DISP_E_BADVARTYPE);
  EXPECT_EQ(keep, I4(9));
  bad.v.vt = VT_EMPTY;

  Value null_text;
  null_text.v.vt = VT_BSTR;
  null_text.v.bstrVal = nullptr;
  ASSERT_EQ(VariantCopy(&copy.v, &null_text.v), S_OK);
  EXPECT_EQ(copy.v.vt, VT_BSTR);
  EXPECT_EQ(copy.v.bstrVal, nullptr);
}

// VariantCopy keeps a reference as a pointer; VariantCopyInd copies what it points to.
TEST(Variant, CopyIndDereferences) {
  LONG n = 5;
  VARIANT long_ref;
  long_ref.vt = VT_I4 | VT_BYREF;
  long_ref.plVal = &n;
  Value copy;
  ASSERT_EQ(VariantCopy(&copy.v, &long_ref), S_OK);
  EXPECT_EQ(copy.v.plVal, &n);

  BSTR text = SysAllocString(L"Blatt1");
  VARIANT ref;
  ref.vt = VT_BSTR | VT_BYREF;
  ref.pbstrVal = &text;
  ASSERT_EQ(VariantCopyInd(&copy.v, &ref), S_OK);
  EXPECT_EQ(copy, Str(L"Blatt1"));
  EXPECT_NE(copy.v.bstrVal, text);

  double d = 2.5;
  VARIANT in_place;
  in_place.vt = VT_R8 | VT_BYREF;
  in_place.pdblVal = &d;
  ASSERT_EQ(VariantCopyInd(&in_place, &in_place), S_OK);
  EXPECT_EQ(in_place.vt, VT_R8);
  EXPECT_EQ(in_place.dblVal, 2.5);

  Value inner = I2(3);
  VARIANT to_variant;
  to_variant.vt = VT_VARIANT | VT_BYREF;
  to_variant.pvarVal = &inner.v;
  ASSERT_EQ(VariantCopyInd(&copy.v, &to_variant), S_OK);
  EXPECT_EQ(copy, I2(3));
  VARIANT twice;
  twice.vt = VT_VARIANT | VT_BYREF;
  twice.pvarVal = &to_variant;
  EXPECT_EQ(VariantCopyInd(&copy.v, &twice), E_INVALIDARG);

  CountedObject object;
  IUnknown* pointer = &object;
  VARIANT object_ref;
  object_ref.vt = VT_UNKNOWN | VT_BYREF;
  object_ref.ppunkVal = &pointer;
  ASSERT_EQ(VariantCopyInd(&copy.v, &object_ref), S_OK);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&copy.v);
  EXPECT_EQ(object.refs, 1u);
  SysFreeString(text);
}

}  // namespace
