// Interface marshalling between apartments: streams that carry an interface to another thread,
// the proxies through which that thread calls the object on its owner's thread, and the
// registration of proxies for custom and dual interfaces.
//
// Stands in for CoMarshalInterThreadInterfaceInStream and CoGetInterfaceAndReleaseStream of
// ole32, for the standard proxies of IUnknown, IDispatch, IClassFactory, IConnectionPointContainer
// and IConnectionPoint, and for the proxies that a registered type library provides for dual
// interfaces and dispinterfaces. Left out: CoMarshalInterface with other contexts, table
// marshalling, custom marshalling (IMarshal), SAFEARRAY and VT_RECORD values across apartments
// (DISP_E_BADVARTYPE), and IDispatch::GetTypeInfo through a proxy for type information that is
// not agile.
//
// Rules, as on the platform:
// - Within one apartment there are no proxies: unmarshalling on the owner's thread gives the
//   object itself, and calls are direct.
// - Across apartments, every interface that travels (VT_DISPATCH and VT_UNKNOWN arguments and
//   results, out-parameters of QueryInterface and FindConnectionPoint, the sink of Advise)
//   arrives as a proxy to its owner's thread; a proxy that travels back to its owner's thread
//   arrives as the real object. BSTRs are copied, EXCEPINFO and the error information of the
//   call come back to the caller.
// - A proxy belongs to the apartment that unmarshalled it: calls from another thread answer
//   RPC_E_WRONG_THREAD. Its calls block the caller until the owner has run them; an STA caller
//   keeps dispatching its own messages meanwhile. When the owner's apartment has ended every call
//   answers RPC_E_DISCONNECTED.
// - Proxies keep the object's identity: QueryInterface(IID_IUnknown) on any proxy of one object
//   gives the same pointer in one apartment while any proxy of it lives.
// - Objects that answer IAgileObject (immutable or free-threaded ones, such as type
//   information) travel as themselves.
//
// A proxy for a dual interface is a few lines (the typelib.h builder registers it):
//   class AppEventHandlerProxy : public DualInterfaceProxy<IAppEventHandler> {
//    public:
//     using DualInterfaceProxy::DualInterfaceProxy;
//     HRESULT Enable() override { return CallByDispid(1); }
//     HRESULT Disable() override { return CallByDispid(2); }
//   };
#pragma once

#include <initializer_list>
#include <memory>

#include "platform/com/comtypes.h"

/// The marker interface of objects that may be used from any apartment without a proxy.
inline constexpr IID IID_IAgileObject = {
    0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};

/// Packs `unk`'s interface `riid` into a stream for one unmarshalling by another thread (or this
/// one). The calling thread must be `unk`'s apartment (or `unk` a proxy held by it). The stream
/// holds a reference to the object until it is unmarshalled or released. E_INVALIDARG for null
/// pointers, E_NOINTERFACE when the object lacks `riid` or no proxy exists for `riid`,
/// CO_E_NOTINITIALIZED when the calling thread is in no apartment.
HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* unk, IStream** stream);

/// Unpacks a stream made by CoMarshalInterThreadInterfaceInStream and releases it (also on
/// failure). On the object's own thread `*ppv` is the object itself, elsewhere a proxy of the
/// calling thread's apartment. E_INVALIDARG for a null or foreign stream or a stream already
/// unmarshalled, E_NOINTERFACE when the object lacks `riid`, RPC_E_DISCONNECTED when its
/// apartment has ended, CO_E_NOTINITIALIZED when the calling thread is in no apartment.
HRESULT CoGetInterfaceAndReleaseStream(IStream* stream, REFIID riid, void** ppv);

namespace com_internal {
class ProxyManager;
class RemoteRef;
}  // namespace com_internal

/// What the runtime hands to an interface proxy's constructor.
struct ProxyFaceletInit {
  com_internal::ProxyManager* manager;
  std::shared_ptr<com_internal::RemoteRef> ref;
};

/// The base of every interface proxy ("facelet"): one interface of one remote object, sharing
/// the reference count and identity of the object's proxy. A derived class implements the
/// interface; its IUnknown methods call Facelet*. Created and owned by the runtime.
class ProxyFacelet {
 public:
  explicit ProxyFacelet(ProxyFaceletInit init);
  virtual ~ProxyFacelet();
  ProxyFacelet(const ProxyFacelet&) = delete;
  ProxyFacelet& operator=(const ProxyFacelet&) = delete;

  /// The interface pointer this facelet hands out.
  virtual IUnknown* Exposed() = 0;
  /// The reference on the real interface, for marshalling it on to another apartment.
  const std::shared_ptr<com_internal::RemoteRef>& ref() const { return ref_; }

 protected:
  HRESULT FaceletQueryInterface(REFIID riid, void** ppv);
  ULONG FaceletAddRef();
  ULONG FaceletRelease();

  // The IDispatch methods of the real interface (which must derive from IDispatch), run on the
  // owner's thread with arguments and results marshalled.
  HRESULT RemoteGetTypeInfoCount(UINT* count);
  HRESULT RemoteGetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
  HRESULT RemoteGetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
  HRESULT RemoteInvoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* excep, UINT* arg_err);

  /// Invokes `id` with `args` in declaration order, as a vtable call of a dual interface would
  /// behave: a failure reported as DISP_E_EXCEPTION returns the method's own HRESULT and leaves
  /// the exception's text as the caller's error information. `result` may be null.
  HRESULT CallByDispid(DISPID id, std::initializer_list<VARIANT> args = {},
                       VARIANT* result = nullptr, WORD flags = DISPATCH_METHOD);

  /// Checks that the calling thread may use this proxy: S_OK, or RPC_E_WRONG_THREAD.
  HRESULT CheckThread() const;

  com_internal::ProxyManager* manager_;
  std::shared_ptr<com_internal::RemoteRef> ref_;
};

/// Makes a facelet for one interface; registered per IID.
using InterfaceProxyFactory = ProxyFacelet* (*)(ProxyFaceletInit init);

template <class ProxyClass>
ProxyFacelet* MakeInterfaceProxy(ProxyFaceletInit init) {
  return new ProxyClass(std::move(init));
}

/// Makes interface `iid` marshallable between apartments: its proxies are made by `factory`
/// (null removes the registration). IUnknown, IDispatch, IClassFactory, IConnectionPointContainer
/// and IConnectionPoint have built-in proxies. Registering a dispinterface with
/// MakeInterfaceProxy<DispatchProxy> makes its proxies plain IDispatch proxies. Any thread.
void RegisterInterfaceProxy(REFIID iid, InterfaceProxyFactory factory);

/// The base of a dual interface's proxy: IUnknown and IDispatch are done; the derived class
/// implements each vtable method by CallByDispid.
template <class I>
class DualInterfaceProxy : public ProxyFacelet, public I {
 public:
  explicit DualInterfaceProxy(ProxyFaceletInit init) : ProxyFacelet(std::move(init)) {}
  IUnknown* Exposed() override { return static_cast<I*>(this); }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return FaceletQueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return FaceletAddRef(); }
  ULONG Release() override { return FaceletRelease(); }
  HRESULT GetTypeInfoCount(UINT* count) override { return RemoteGetTypeInfoCount(count); }
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return RemoteGetTypeInfo(index, lcid, info);
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return RemoteGetIDsOfNames(riid, names, count, lcid, ids);
  }
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override {
    return RemoteInvoke(id, riid, lcid, flags, params, result, excep, arg_err);
  }
};

/// The proxy of IDispatch, also used for dispinterfaces.
using DispatchProxy = DualInterfaceProxy<IDispatch>;
