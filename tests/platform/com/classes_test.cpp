#include "platform/com/classes.h"

#include <gtest/gtest.h>

#include "platform/com/apartment.h"
#include "platform/com/classes_internal.h"
#include "platform/com/comdef.h"
#include "platform/win/sync.h"
#include "tests/platform/com/value_support.h"

namespace {

using sw::test::CountedObject;

constexpr CLSID kSheetClass = {
    0x6B1F0D21, 0x3A42, 0x4C1E, {0x9A, 0x10, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
constexpr CLSID kOtherClass = {
    0x6B1F0D22, 0x3A42, 0x4C1E, {0x9A, 0x10, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};

// A class factory that makes CountedObjects (owned by the test) and refuses aggregation.
class Factory : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    ++created;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return product.QueryInterface(riid, ppv);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

  ULONG refs = 1;
  int created = 0;
  CountedObject product;
};

// Registers for the length of a test and always revokes.
struct Registered {
  Registered(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags = REGCLS_MULTIPLEUSE) {
    hr = CoRegisterClassObject(clsid, factory, context, flags, &cookie);
  }
  ~Registered() {
    if (cookie != 0) CoRevokeClassObject(cookie);
  }
  HRESULT hr;
  DWORD cookie = 0;
};

TEST(ClassRegistry, CreatesThroughTheRegisteredFactory) {
  Factory factory;
  {
    Registered reg(kSheetClass, &factory, CLSCTX_LOCAL_SERVER);
    ASSERT_EQ(reg.hr, S_OK);
    EXPECT_NE(reg.cookie, 0u);
    EXPECT_EQ(factory.refs, 2u) << "the registry holds a reference";

    IDispatch* object = nullptr;
    ASSERT_EQ(CoCreateInstance(kSheetClass, nullptr, CLSCTX_ALL, IID_IDispatch,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    EXPECT_EQ(object, &factory.product);
    object->Release();
    EXPECT_EQ(factory.refs, 2u) << "the factory taken for the creation is released";

    // A context that was not registered, a refused aggregation, a missing interface.
    CountedObject outer;
    const struct {
      REFCLSID clsid;
      IUnknown* outer;
      DWORD context;
      REFIID iid;
      HRESULT hr;
    } failures[] = {
        {kSheetClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, REGDB_E_CLASSNOTREG},
        {kOtherClass, nullptr, CLSCTX_ALL, IID_IDispatch, REGDB_E_CLASSNOTREG},
        {kSheetClass, &outer, CLSCTX_ALL, IID_IUnknown, CLASS_E_NOAGGREGATION},
        {kSheetClass, nullptr, CLSCTX_ALL, IID_IStream, E_NOINTERFACE},
    };
    for (const auto& row : failures) {
      void* none = reinterpret_cast<void*>(1);
      EXPECT_EQ(CoCreateInstance(row.clsid, row.outer, row.context, row.iid, &none), row.hr);
      EXPECT_EQ(none, nullptr);
    }
    EXPECT_EQ(CoCreateInstance(kSheetClass, nullptr, CLSCTX_ALL, IID_IDispatch, nullptr),
              E_POINTER);

    IClassFactory* direct = nullptr;
    ASSERT_EQ(CoGetClassObject(kSheetClass, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&direct)),
              S_OK);
    EXPECT_EQ(direct, &factory);
    direct->Release();
    EXPECT_EQ(sw::com::ClassRegisteringThread(kSheetClass, CLSCTX_ALL), GetCurrentThreadId());
    EXPECT_EQ(sw::com::ClassRegisteringThread(kSheetClass, CLSCTX_INPROC_SERVER), 0u);
  }
  EXPECT_EQ(factory.refs, 1u) << "revoking releases the class object";
  void* none = nullptr;
  EXPECT_EQ(CoCreateInstance(kSheetClass, nullptr, CLSCTX_ALL, IID_IDispatch, &none),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(factory.product.refs, 1u);
}

TEST(ClassRegistry, RegistrationRules) {
  Factory factory;
  Factory second;
  {
    Registered reg(kSheetClass, &factory, CLSCTX_INPROC_SERVER);
    ASSERT_EQ(reg.hr, S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(CoRegisterClassObject(kSheetClass, &second, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie),
              CO_E_OBJISREG);
    EXPECT_EQ(cookie, 0u);
    // Another context of the same class is a separate registration.
    Registered local(kSheetClass, &second, CLSCTX_LOCAL_SERVER);
    ASSERT_EQ(local.hr, S_OK);
    EXPECT_NE(local.cookie, reg.cookie);
    IClassFactory* found = nullptr;
    ASSERT_EQ(CoGetClassObject(kSheetClass, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&found)),
              S_OK);
    EXPECT_EQ(found, &second);
    found->Release();
  }
  DWORD cookie = 0;
  EXPECT_EQ(CoRegisterClassObject(kSheetClass, nullptr, CLSCTX_ALL, 0, &cookie), E_INVALIDARG);
  EXPECT_EQ(CoRegisterClassObject(kSheetClass, &factory, 0, 0, &cookie), E_INVALIDARG);
  EXPECT_EQ(CoRegisterClassObject(kSheetClass, &factory, CLSCTX_ALL, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CoRevokeClassObject(0xDEADu), E_INVALIDARG);
  EXPECT_EQ(factory.refs, 1u);
  EXPECT_EQ(second.refs, 1u);
}

TEST(ClassRegistry, SingleUseAndSuspended) {
  Factory factory;
  {
    Registered once(kSheetClass, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE);
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(kSheetClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
    EXPECT_EQ(CoCreateInstance(kSheetClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
  }
  {
    Registered later(kSheetClass, &factory, CLSCTX_LOCAL_SERVER,
                     REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kSheetClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(CoResumeClassObjects(), S_OK);
    ASSERT_EQ(CoCreateInstance(kSheetClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
  }
  EXPECT_EQ(factory.refs, 1u);
}

// An object that counts how often it was run.
class Runnable : public CountedObject, public IRunnableObject {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IRunnableObject) {
      *ppv = static_cast<IRunnableObject*>(this);
      CountedObject::AddRef();
      return S_OK;
    }
    return CountedObject::QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return CountedObject::AddRef(); }
  ULONG Release() override { return CountedObject::Release(); }
  HRESULT GetRunningClass(LPCLSID) override { return E_NOTIMPL; }
  HRESULT Run(IBindCtx*) override {
    ++runs;
    return run_result;
  }
  BOOL IsRunning() override { return runs > 0; }
  HRESULT LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT SetContainedObject(BOOL) override { return S_OK; }
  int runs = 0;
  HRESULT run_result = S_OK;
};

TEST(OleRun, RunsObjectsThatCanBeRun) {
  Runnable runnable;
  EXPECT_EQ(OleRun(static_cast<IDispatch*>(&runnable)), S_OK);
  EXPECT_EQ(runnable.runs, 1);
  runnable.run_result = E_FAIL;
  EXPECT_EQ(OleRun(static_cast<IDispatch*>(&runnable)), E_FAIL);
  EXPECT_EQ(runnable.refs, 1u);
  CountedObject plain;
  EXPECT_EQ(OleRun(&plain), S_OK) << "an object without IRunnableObject is running";
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
}

// The smart pointer's CreateInstance: a server context runs the object before the query.
TEST(ComPtrCreateInstance, RunsServerObjects) {
  class RunnableFactory : public Factory {
   public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
      if (outer != nullptr) return CLASS_E_NOAGGREGATION;
      return made.QueryInterface(riid, ppv);
    }
    Runnable made;
  } factory;
  {
    Registered reg(kSheetClass, &factory, CLSCTX_LOCAL_SERVER);
    IDispatchPtr app;
    ASSERT_EQ(app.CreateInstance(kSheetClass), S_OK);
    EXPECT_EQ(factory.made.runs, 1);
    EXPECT_EQ(app.CreateInstance(kSheetClass, nullptr, CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(app, nullptr);
    IDispatchPtr constructed(kSheetClass);
    EXPECT_NE(constructed, nullptr);
    EXPECT_EQ(factory.made.runs, 2);
    EXPECT_THROW(IDispatchPtr failing(kOtherClass), _com_error);
    wchar_t text[39];
    StringFromGUID2(kSheetClass, text, 39);
    ASSERT_EQ(app.CreateInstance(text), S_OK);
    EXPECT_EQ(app.CreateInstance(L"{not a class}"), CO_E_CLASSSTRING);
  }
  EXPECT_EQ(factory.made.refs, 1u);
  EXPECT_EQ(factory.refs, 1u);
}

}  // namespace

namespace {

// The smart pointer's GetActiveObject goes through the running-object table.
TEST(ComPtrGetActiveObject, AttachesToTheRunningObject) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  CountedObject running;
  {
    IDispatchPtr app;
    EXPECT_EQ(app.GetActiveObject(kSheetClass), MK_E_UNAVAILABLE);
    EXPECT_EQ(app, nullptr);
    DWORD cookie = 0;
    ASSERT_EQ(RegisterActiveObject(static_cast<IDispatch*>(&running), kSheetClass,
                                   ACTIVEOBJECT_STRONG, &cookie),
              S_OK);
    ASSERT_EQ(app.GetActiveObject(kSheetClass), S_OK);
    EXPECT_EQ(app, static_cast<IDispatch*>(&running));
    EXPECT_EQ(app.GetActiveObject(L"{bad}"), CO_E_CLASSSTRING);
    EXPECT_EQ(app, nullptr) << "a failed attach leaves the pointer null";
    ASSERT_EQ(RevokeActiveObject(cookie, nullptr), S_OK);
  }
  CoUninitialize();
  EXPECT_EQ(running.refs, 1u);
}

}  // namespace
