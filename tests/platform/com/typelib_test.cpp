#include "platform/com/typelib.h"

#include <gtest/gtest.h>

#include "com_test_support.h"
#include "platform/com/errorinfo.h"
#include "platform/win/registry.h"
#include "tests/platform/com/value_support.h"
#include "tests/platform/win/win_test_folder.h"

using namespace comtest;

namespace {

using Variant = sw::test::Value;

// A worker with one reference, released at the end of the test.
struct WorkerRef {
  CComObject<Worker>* p = nullptr;
  WorkerRef() {
    RegisterTestTypeLib();
    CComObject<Worker>::CreateInstance(&p);
    p->AddRef();
  }
  ~WorkerRef() { p->Release(); }
  IDispatch* dispatch() { return static_cast<ITestWorker*>(p); }
};

HRESULT Call(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> reversed, VARIANT* result,
             EXCEPINFO* ex = nullptr, UINT* arg_err = nullptr) {
  DISPPARAMS dp{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  DISPID put = DISPID_PROPERTYPUT;
  if (flags & DISPATCH_PROPERTYPUT) {
    dp.rgdispidNamedArgs = &put;
    dp.cNamedArgs = 1;
  }
  return d->Invoke(id, IID_NULL, 0, flags, &dp, result, ex, arg_err);
}

}  // namespace

TEST(IDispatchImpl, AnswersTypeInformationFromTheRegisteredLibrary) {
  WorkerRef w;
  IDispatch* d = w.dispatch();
  UINT count = 0;
  EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);

  ITypeInfo* ti = nullptr;
  EXPECT_EQ(d->GetTypeInfo(1, 0, &ti), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(ti, nullptr);
  ASSERT_EQ(d->GetTypeInfo(0, 0, &ti), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(ti->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_ITestWorker);
  EXPECT_EQ(attr->cFuncs, 9);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  ti->ReleaseTypeAttr(attr);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(ti->GetDocumentation(5, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"Add");
  EXPECT_STREQ(doc, L"Sum of two numbers");
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(ti->GetDocumentation(99, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
  ti->Release();

  // Names fold case, parameter names give their positions.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"aDD"), const_cast<LPOLESTR>(L"b")};
  DISPID ids[2] = {};
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 5);
  EXPECT_EQ(ids[1], 1);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Subtract")};
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(d->GetIDsOfNames(IID_IDispatch, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST(IDispatchImpl, InvokesByDispidWithArgumentsInDeclarationOrder) {
  WorkerRef w;
  IDispatch* d = w.dispatch();
  Variant r;
  // Add(A = 40, B = 2): rgvarg holds B first.
  ASSERT_EQ(Call(d, 5, DISPATCH_METHOD, {Long(2), Long(40)}, &r.v), S_OK);
  EXPECT_EQ(r.v.vt, VT_I4);
  EXPECT_EQ(r.v.lVal, 42);

  // Arguments are coerced to the declared types; the caller's values are untouched.
  const Variant text = sw::test::Str(L"1.5");  // rounds half to even: 2
  Variant r2;
  ASSERT_EQ(Call(d, 5, DISPATCH_METHOD, {text.v, Long(10)}, &r2.v), S_OK);
  EXPECT_EQ(r2.v.lVal, 12);
  EXPECT_EQ(text.v.vt, VT_BSTR);

  // Named arguments go to their parameters whatever their position.
  VARIANT named_args[2] = {Long(100), Long(1)};  // B = 100 (named), A = 1 (positional)
  DISPID named_ids[] = {1};
  DISPPARAMS dp{named_args, named_ids, 2, 1};
  UINT err = 0;
  Variant r3;
  // Named B first in rgvarg, then the positional A.
  ASSERT_EQ(d->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &dp, &r3.v, nullptr, &err), S_OK);
  EXPECT_EQ(r3.v.lVal, 101);
  // A property get called as METHOD|GET, as VBA does. (Puts and by-reference parameters are
  // tested through the proxy in marshal_thread_test.cpp.)
  Variant got;
  ASSERT_EQ(Call(d, 7, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &got.v), S_OK);
  EXPECT_EQ(got.v.vt, VT_I4);
}

TEST(IDispatchImpl, RefusesBadCallsWithThePlatformsErrors) {
  WorkerRef w;
  IDispatch* d = w.dispatch();
  Variant r;
  UINT err = 99;
  EXPECT_EQ(Call(d, 55, DISPATCH_METHOD, {}, &r.v), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(d, 5, DISPATCH_METHOD, {Long(1)}, &r.v), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(d, 5, DISPATCH_METHOD, {Long(1), Long(2), Long(3)}, &r.v), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(d, 7, DISPATCH_PROPERTYPUT, {Long(1), Long(2)}, &r.v), DISP_E_BADPARAMCOUNT);
  // A is "abc": not a number. A is the last in rgvarg, index 1.
  const Variant text = sw::test::Str(L"abc");
  EXPECT_EQ(Call(d, 5, DISPATCH_METHOD, {Long(1), text.v}, &r.v, nullptr, &err),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(err, 1u);
  // A by-reference parameter needs a reference of its type.
  EXPECT_EQ(Call(d, 8, DISPATCH_METHOD, {Long(2), Long(3)}, &r.v, nullptr, &err),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(err, 1u);
  EXPECT_EQ(d->Invoke(5, IID_IDispatch, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(IDispatchImpl, FailingMethodBecomesAnExceptionWithItsErrorInformation) {
  // oleaut32's ITypeInfo::Invoke (as Wine's typelib.c does it): a failing HRESULT becomes
  // DISP_E_EXCEPTION, scode is the HRESULT, the texts come from the error information.
  WorkerRef w;
  EXCEPINFO ex{};
  Variant r;
  ASSERT_EQ(Call(w.dispatch(), 2, DISPATCH_METHOD, {}, &r.v, &ex), DISP_E_EXCEPTION);
  EXPECT_EQ(ex.scode, E_ACCESSDENIED);
  EXPECT_STREQ(ex.bstrSource, L"Worker");
  EXPECT_STREQ(ex.bstrDescription, L"The worker broke");
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
  // The error information was taken into the EXCEPINFO, not left behind.
  IErrorInfo* left = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
}

TEST(TypeLibRegistry, LoadsByVersionAndRefusesUnknownLibraries) {
  RegisterTestTypeLib();
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_ComTest, 1, 0, 0, &lib), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, LIBID_ComTest);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  lib->ReleaseTLibAttr(attr);
  EXPECT_EQ(lib->GetTypeInfoCount(), 4u);
  ITypeInfo* ti = nullptr;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(CLSID_TestApp, &ti), TYPE_E_ELEMENTNOTFOUND);
  lib->Release();

  EXPECT_EQ(LoadRegTypeLib(LIBID_ComTest, 2, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(LoadRegTypeLib(LIBID_ComTest, 1, 1, 0, &lib), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(LoadRegTypeLib(CLSID_TestApp, 1, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);

  // A higher minor version satisfies a lower request; unregistering removes it.
  constexpr GUID kLib = {0x8E0F1A20, 0x2222, 0x4A4A, {0x80, 0, 0, 0, 0, 0, 0, 2}};
  TypeLibBuilder b(kLib, 3, 4, L"Versioned", L"");
  ITypeLib* built = nullptr;
  ASSERT_EQ(b.Build(&built), S_OK);
  ASSERT_EQ(RegisterTypeLib(built, L"v.tlb", nullptr), S_OK);
  built->Release();
  ASSERT_EQ(LoadRegTypeLib(kLib, 3, 2, 0, &lib), S_OK);
  lib->Release();
  EXPECT_EQ(UnRegisterTypeLib(kLib, 3, 4, 0, SYS_WIN64), S_OK);
  EXPECT_EQ(LoadRegTypeLib(kLib, 3, 2, 0, &lib), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(UnRegisterTypeLib(kLib, 3, 4, 0, SYS_WIN64), TYPE_E_LIBNOTREGISTERED);
}

TEST(TypeLibBuilder, RefusesInconsistentDescriptions) {
  constexpr GUID kLib = {0x8E0F1A21, 0x2222, 0x4A4A, {0x80, 0, 0, 0, 0, 0, 0, 3}};
  ITypeLib* lib = nullptr;
  {
    TypeLibBuilder b(kLib, 1, 0, L"Dup", L"");
    b.Interface(IID_ITestWorker, L"A", L"", TypeKind::kDual)
        .Method<&ITestWorker::Fail>(2, L"Fail")
        .Method<&ITestWorker::AdvanceAndWait>(2, L"Again");
    EXPECT_EQ(b.Build(&lib), E_INVALIDARG);
  }
  {
    TypeLibBuilder b(kLib, 1, 0, L"Override", L"");
    // A LONG parameter cannot be described as a string.
    b.Interface(IID_ITestWorker, L"A", L"", TypeKind::kDual)
        .Method<&ITestWorker::Add>(5, L"Add", L"", {}, {VT_BSTR, VT_I4});
    EXPECT_EQ(b.Build(&lib), E_INVALIDARG);
  }
  EXPECT_EQ(lib, nullptr);
}

namespace {

// The default value (or `name`) of HKEY_CLASSES_ROOT\`path`; "<absent>" when there is none.
std::wstring ClassesString(const std::wstring& path, const wchar_t* name = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return L"<absent>";
  wchar_t text[260] = {};
  DWORD size = sizeof text, type = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_SZ ? std::wstring(text) : L"<absent>";
}

}  // namespace

TEST(TypeLibRegistry, WritesAndRemovesThePlatformsRecords) {
  sheetwise::test::TempConfigHome home;
  constexpr GUID kLib = {0x8E0F1A20, 0x3333, 0x4A4A, {0x80, 0, 0, 0, 0, 0, 0, 3}};
  constexpr IID kIface = {0x8E0F1A20, 0x3333, 0x4A4A, {0x80, 0, 0, 0, 0, 0, 0, 4}};
  TypeLibBuilder b(kLib, 1, 10, L"Recorded", L"Recorded 1.0 Type Library");
  b.Interface(kIface, L"IRecorded", L"", TypeKind::kDual)
      .Method<&IAppEventHandler::Enable>(1, L"Enable", L"");
  ITypeLib* built = nullptr;
  ASSERT_EQ(b.Build(&built), S_OK);
  ASSERT_EQ(RegisterTypeLib(built, L"/opt/sheetwise/libvanta.so", L"/opt/sheetwise"), S_OK);
  built->Release();

  // Versions are written in hexadecimal: 1.10 is "1.a".
  const std::wstring lib = L"TypeLib\\{8E0F1A20-3333-4A4A-8000-000000000003}";
  EXPECT_EQ(ClassesString(lib + L"\\1.a"), L"Recorded 1.0 Type Library");
  EXPECT_EQ(ClassesString(lib + L"\\1.a\\0\\win64"), L"/opt/sheetwise/libvanta.so");
  EXPECT_EQ(ClassesString(lib + L"\\1.a\\FLAGS"), L"0");
  EXPECT_EQ(ClassesString(lib + L"\\1.a\\HELPDIR"), L"/opt/sheetwise");
  const std::wstring iface = L"Interface\\{8E0F1A20-3333-4A4A-8000-000000000004}";
  EXPECT_EQ(ClassesString(iface), L"IRecorded");
  EXPECT_EQ(ClassesString(iface + L"\\ProxyStubClsid32"),
            L"{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(ClassesString(iface + L"\\TypeLib"), L"{8E0F1A20-3333-4A4A-8000-000000000003}");
  EXPECT_EQ(ClassesString(iface + L"\\TypeLib", L"Version"), L"1.a");

  ASSERT_EQ(UnRegisterTypeLib(kLib, 1, 10, 0, SYS_WIN64), S_OK);
  EXPECT_EQ(ClassesString(lib + L"\\1.a"), L"<absent>");
  EXPECT_EQ(ClassesString(lib), L"<absent>");
  EXPECT_EQ(ClassesString(iface), L"<absent>");
}
