#include "platform/com/errorinfo.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com/bstr.h"
#include "tests/platform/com/value_support.h"

namespace {

using sw::test::MakeErrorInfo;

TEST(ErrorInfo, OneObjectBehindBothInterfacesAndUnsetFieldsEmpty) {
  IErrorInfo* info = MakeErrorInfo(L"Die Zelle ist gesperrt.");
  BSTR text = nullptr;
  ASSERT_EQ(info->GetDescription(&text), S_OK);
  EXPECT_STREQ(text, L"Die Zelle ist gesperrt.");
  SysFreeString(text);
  text = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(info->GetSource(&text), S_OK);
  EXPECT_EQ(text, nullptr);
  GUID guid = IID_IDispatch;
  info->GetGUID(&guid);
  EXPECT_EQ(guid, IID_NULL);

  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(info->QueryInterface(IID_ICreateErrorInfo, reinterpret_cast<void**>(&create)), S_OK);
  IUnknown* a = nullptr;
  IUnknown* b = nullptr;
  info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
  create->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
  EXPECT_EQ(a, b) << "one identity whichever interface is asked";
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(info->QueryInterface(IID_IStream, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  a->Release();
  b->Release();
  create->Release();
  EXPECT_EQ(info->Release(), 0u);
}

TEST(ErrorInfo, ThreadSlotHandsOverAndClears) {
  IErrorInfo* none = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
  EXPECT_EQ(none, nullptr);

  IErrorInfo* info = MakeErrorInfo(L"desc");
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  EXPECT_EQ(info->AddRef(), 3u) << "the slot holds its own reference";
  info->Release();
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, info);
  EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE) << "taking it clears the slot";
  got->Release();

  // Setting another one releases the first; null clears.
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  IErrorInfo* second = MakeErrorInfo(L"b");
  ASSERT_EQ(SetErrorInfo(0, second), S_OK);
  EXPECT_EQ(info->Release(), 0u);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(second->Release(), 0u);

  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

}  // namespace
