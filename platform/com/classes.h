// The class registry: class objects registered by the running program, and object creation
// through them (CoRegisterClassObject, CoGetClassObject, CoCreateInstance, OleRun).
//
// Stands in for those functions of ole32 (<combaseapi.h>, <ole2.h>). Class objects live in this
// process only: there is no activation of servers named in the registry (InprocServer32,
// LocalServer32), so a class is creatable once some code has registered its class object. The
// class contexts are kept: a class registered for CLSCTX_LOCAL_SERVER is not found by a request
// for CLSCTX_INPROC_SERVER only. None of these functions needs CoInitialize; any thread may call
// them. The thread that registered a class object is recorded (classes_internal.h) so that the
// apartment layer can hand other apartments a proxy instead of the object.
//
//   DWORD cookie = 0;
//   CoRegisterClassObject(CLSID_Application, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
//                         &cookie);
//   IDispatch* app = nullptr;
//   CoCreateInstance(CLSID_Application, nullptr, CLSCTX_ALL, IID_IDispatch, (void**)&app);
//   ...
//   CoRevokeClassObject(cookie);
#pragma once

#include "platform/com/comtypes.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

inline constexpr DWORD REGCLS_SINGLEUSE = 0;
inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;
inline constexpr DWORD REGCLS_MULTI_SEPARATE = 2;
inline constexpr DWORD REGCLS_SUSPENDED = 4;

struct IBindCtx;

/// An object that can be put into its running state (OleRun).
struct IRunnableObject : IUnknown {
  virtual HRESULT GetRunningClass(LPCLSID clsid) = 0;
  virtual HRESULT Run(IBindCtx* context) = 0;
  virtual BOOL IsRunning() = 0;
  virtual HRESULT LockRunning(BOOL lock, BOOL last_unlock_closes) = 0;
  virtual HRESULT SetContainedObject(BOOL contained) = 0;

 protected:
  ~IRunnableObject() = default;
};

/// Registers `factory` (usually an IClassFactory) as the class object of `clsid` for the class
/// contexts in `context`, and adds a reference to it. `flags`: REGCLS_SINGLEUSE (found by one
/// CoGetClassObject only), REGCLS_MULTIPLEUSE, REGCLS_MULTI_SEPARATE, optionally
/// REGCLS_SUSPENDED (not found until CoResumeClassObjects). `*cookie` receives the non-zero
/// value for CoRevokeClassObject. CO_E_OBJISREG when the class already has a class object for
/// one of these contexts; E_INVALIDARG for a null factory or cookie or an empty context.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags,
                              DWORD* cookie);

/// Withdraws a registration and releases the class object. E_INVALIDARG for an unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);

/// Makes the classes registered with REGCLS_SUSPENDED available.
HRESULT CoResumeClassObjects();

/// Queries the class object of `clsid` registered for one of the contexts in `context` for
/// `riid`. REGDB_E_CLASSNOTREG when there is none for these contexts; the class object's
/// QueryInterface failure otherwise; E_INVALIDARG for null `ppv` or no known context bit.
/// `server_info` (remote machines) must be null.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* server_info, REFIID riid, void** ppv);

/// Creates an object of class `clsid` through its class object's IClassFactory::CreateInstance
/// and answers what that answers (CLASS_E_NOAGGREGATION when a class refuses `outer`).
/// REGDB_E_CLASSNOTREG when the class has no class object for `context`; E_POINTER for a null
/// `ppv`, which is set to null on every failure.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

/// Puts `object` into its running state: IRunnableObject::Run when it has that interface (its
/// result is answered), S_OK otherwise. E_INVALIDARG for null.
HRESULT OleRun(IUnknown* object);
