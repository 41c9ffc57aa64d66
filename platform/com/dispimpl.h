// Helpers for Automation objects and event sinks: IDispatch served from a registered type
// library (IDispatchImpl), an event sink with a static event map (IDispEventSimpleImpl), and the
// minimal object-lifetime helpers (CComObjectRoot, CComObject<T>, the COM map macros).
//
// Stands in for the ATL pieces of the same names (<atlcom.h>). Left out: aggregation, tear-offs,
// class factories (platform/com/classes.h registers classes), thread-safe reference counts
// (objects live in one apartment; other apartments use proxies), IDispEventImpl (the type-library
// driven sink), and the __stdcall calling convention (handlers are ordinary member functions).
//
// An object with a dual interface:
//   class Sink : public CComObjectRoot,
//                public IDispatchImpl<IAppEventHandler, &IID_IAppEventHandler, &LIBID_Sw, 1, 0> {
//    public:
//     BEGIN_COM_MAP(Sink)
//       COM_INTERFACE_ENTRY_IID(IID_IAppEventHandler, IAppEventHandler)
//       COM_INTERFACE_ENTRY_IID(IID_IDispatch, IAppEventHandler)
//     END_COM_MAP()
//     HRESULT Enable() override;
//     HRESULT Disable() override;
//   };
//   CComObject<Sink>* sink = nullptr;
//   CComObject<Sink>::CreateInstance(&sink);   // reference count 0
//   sink->AddRef();
//
// An event sink for a dispinterface:
//   static _ATL_FUNC_INFO kSheetChangeInfo = {CC_STDCALL, VT_EMPTY, 2, {VT_DISPATCH, VT_DISPATCH}};
//   class Events : public IDispEventSimpleImpl<1, Events, &DIID_AppEvents> {
//    public:
//     void OnSheetChange(IDispatch* sheet, IDispatch* target);
//     BEGIN_SINK_MAP(Events)
//       SINK_ENTRY_INFO(1, DIID_AppEvents, 0x61C, &Events::OnSheetChange, &kSheetChangeInfo)
//     END_SINK_MAP()
//   };
//   events.DispEventAdvise(application);   ...   events.DispEventUnadvise(application);
#pragma once

#include <atomic>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/comtypes.h"
#include "platform/com/connpt.h"
#include "platform/com/typelib.h"

// ---- Object lifetime ----------------------------------------------------------------------------

/// The reference count of an object that lives in one apartment: not atomic, so AddRef and
/// Release belong to the object's thread (other apartments reach it through proxies, which
/// release on that thread).
class CComObjectRoot {
 public:
  ULONG InternalAddRef() { return ++ref_; }
  ULONG InternalRelease() { return --ref_; }
  /// Called by CComObject<T>::CreateInstance after construction; a failure destroys the object
  /// and is returned by CreateInstance.
  HRESULT FinalConstruct() { return S_OK; }
  /// Called before the object is deleted.
  void FinalRelease() {}

 protected:
  ULONG ref_ = 0;
};

/// Answers QueryInterface from a static table: each COM_INTERFACE_ENTRY_IID(iid, I) answers `iid`
/// with the object's `I` base; IUnknown is answered with the first entry (the object's
/// identity).
#define BEGIN_COM_MAP(x)                    \
  void* GetInterface(REFIID com_map_iid_) { \
    const bool com_map_unk_ = com_map_iid_ == IID_IUnknown;
#define COM_INTERFACE_ENTRY_IID(iid, I)               \
  if (com_map_unk_ || com_map_iid_ == (iid)) {        \
    return static_cast<void*>(static_cast<I*>(this)); \
  }
#define END_COM_MAP() \
  return nullptr;     \
  }

/// The concrete object: T's methods plus IUnknown from T::GetInterface (the COM map) and T's
/// reference count. T derives from CComObjectRoot and its interfaces.
template <class T>
class CComObject final : public T {
 public:
  /// A new object with reference count 0 (the caller's AddRef makes it 1), after
  /// T::FinalConstruct. E_POINTER for null `out`, E_OUTOFMEMORY, or FinalConstruct's failure.
  static HRESULT CreateInstance(CComObject<T>** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* p = new (std::nothrow) CComObject<T>();
    if (!p) return E_OUTOFMEMORY;
    p->InternalAddRef();  // FinalConstruct may hand out and drop references
    HRESULT hr = p->FinalConstruct();
    p->InternalRelease();
    if (FAILED(hr)) {
      delete p;
      return hr;
    }
    *out = p;
    return S_OK;
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = this->GetInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    this->InternalAddRef();
    return S_OK;
  }
  ULONG AddRef() override { return this->InternalAddRef(); }
  ULONG Release() override {
    ULONG n = this->InternalRelease();
    if (n == 0) {
      this->FinalRelease();
      delete this;
    }
    return n;
  }

 private:
  CComObject() = default;
  ~CComObject() = default;
};

// ---- IDispatch from a registered type library ---------------------------------------------------

namespace dispimpl_detail {
/// The type information of `iid` in the registered library `libid` major.minor, cached for the
/// process on first success (a library registered later is found then). No reference added.
HRESULT CachedTypeInfo(std::atomic<ITypeInfo*>& cache, REFGUID libid, WORD major, WORD minor,
                       REFIID iid, ITypeInfo** out);
}  // namespace dispimpl_detail

/// Implements IDispatch of `I` (a dual interface) from the type information of `*piid` in the
/// type library `*plibid` major.minor registered by RegisterTypeLib: GetTypeInfoCount (1;
/// E_POINTER for null), GetTypeInfo (index 0; else TYPE_E_ELEMENTNOTFOUND), GetIDsOfNames and
/// Invoke by DISPID (DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH with the
/// argument's index, DISP_E_EXCEPTION with EXCEPINFO from the method's error information). The
/// members must be described with pointers to members of `I` (&I::Method). When the library is
/// not registered, every call answers TYPE_E_LIBNOTREGISTERED.
template <class I, const IID* piid, const GUID* plibid, WORD major = 1, WORD minor = 0>
class IDispatchImpl : public I {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
    ITypeInfo* ti = nullptr;
    HRESULT hr = TypeInfo(&ti);
    if (FAILED(hr)) return hr;
    ti->AddRef();
    *info = ti;
    return S_OK;
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* ti = nullptr;
    HRESULT hr = TypeInfo(&ti);
    if (FAILED(hr)) return hr;
    return ti->GetIDsOfNames(names, count, ids);
  }
  HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* ti = nullptr;
    HRESULT hr = TypeInfo(&ti);
    if (FAILED(hr)) return hr;
    return ti->Invoke(static_cast<I*>(this), id, flags, params, result, excep, arg_err);
  }

 private:
  static HRESULT TypeInfo(ITypeInfo** out) {
    static std::atomic<ITypeInfo*> cache{nullptr};
    ITypeInfo* ti = cache.load(std::memory_order_acquire);
    if (ti) {
      *out = ti;
      return S_OK;
    }
    return dispimpl_detail::CachedTypeInfo(cache, *plibid, major, minor, *piid, out);
  }
};

// ---- Event sinks with a static event map
// ----------------------------------------------------------

/// The platform's calling conventions, as _ATL_FUNC_INFO records them (only recorded here).
enum CALLCONV {
  CC_FASTCALL = 0,
  CC_CDECL = 1,
  CC_MSCPASCAL = 2,
  CC_PASCAL = CC_MSCPASCAL,
  CC_MACPASCAL = 3,
  CC_STDCALL = 4,
  CC_FPFASTCALL = 5,
  CC_SYSCALL = 6,
  CC_MPWCDECL = 7,
  CC_MPWPASCAL = 8,
  CC_MAX = 9
};

inline constexpr int _ATL_MAX_VARTYPES = 8;

/// How an event handler is called: its result type (VT_EMPTY: none) and parameter types in
/// declaration order. Arguments are converted to these types before the call.
struct _ATL_FUNC_INFO {
  CALLCONV cc;
  VARTYPE vtReturn;
  SHORT nParams;
  VARTYPE pVarTypes[_ATL_MAX_VARTYPES];
};

namespace dispimpl_detail {

template <class F>
struct HandlerTraits;
template <class C, class R, class... A>
struct HandlerTraits<R (C::*)(A...)> {
  using Class = C;
  using Result = R;
  using Args = std::tuple<A...>;
  static constexpr std::size_t kArity = sizeof...(A);
};

/// Calls handler `Fn` of `T` with `args` (declaration order, already of the types the call
/// description gives, which must match the handler's parameters).
template <class T, auto Fn>
HRESULT CallHandler(T* self, VARIANT* args, VARIANT* result, VARTYPE result_vt) {
  using Traits = HandlerTraits<decltype(Fn)>;
  using Args = typename Traits::Args;
  return [&]<std::size_t... I>(std::index_sequence<I...>)->HRESULT {
    if constexpr (std::is_void_v<typename Traits::Result>) {
      (self->*Fn)(typelib_detail::Load<std::tuple_element_t<I, Args>>(args[I])...);
      return S_OK;
    } else {
      auto r = (self->*Fn)(typelib_detail::Load<std::tuple_element_t<I, Args>>(args[I])...);
      if (result && result_vt != VT_EMPTY && result_vt != VT_VOID) {
        typelib_detail::Store(result, result_vt == VT_HRESULT ? VARTYPE{VT_ERROR} : result_vt, r);
      }
      return S_OK;
    }
  }
  (std::make_index_sequence<Traits::kArity>());
}

template <class T>
struct SinkEntry {
  UINT nControlID;  ///< 0 with a null piid ends the map
  const IID* piid;
  DISPID dispid;
  HRESULT (*call)(T* self, VARIANT* args, VARIANT* result, VARTYPE result_vt);
  std::size_t arity;
  const _ATL_FUNC_INFO* pInfo;
};

/// The shared part of IDispEventSimpleImpl::Invoke: argument count and types, the call.
/// `call(args, result)` calls the handler.
HRESULT InvokeSinkEntry(const _ATL_FUNC_INFO& info, std::size_t arity, DISPPARAMS* params,
                        VARIANT* result, UINT* arg_err,
                        HRESULT (*call)(void* ctx, VARIANT* args, VARIANT* result), void* ctx);

}  // namespace dispimpl_detail

#define BEGIN_SINK_MAP(x)                                       \
  static const ::dispimpl_detail::SinkEntry<x>* _GetSinkMap() { \
    using SinkMapClass_ = x;                                    \
    static const ::dispimpl_detail::SinkEntry<SinkMapClass_> sink_map_[] = {
#define SINK_ENTRY_INFO(id, iid, dispid, fn, info)         \
  {static_cast<UINT>(id),                                  \
   &(iid),                                                 \
   static_cast<DISPID>(dispid),                            \
   &::dispimpl_detail::CallHandler<SinkMapClass_, fn>,     \
   ::dispimpl_detail::HandlerTraits<decltype(fn)>::kArity, \
   (info)},
#define END_SINK_MAP()                   \
  { 0, nullptr, 0, nullptr, 0, nullptr } \
  }                                      \
  ;                                      \
  return sink_map_;                      \
  }

/// An event sink for dispinterface `*pdiid`, number `nID` of class `T` (a class may have several,
/// each with its own id). T declares its handlers in a sink map (BEGIN_SINK_MAP). The sink's
/// IDispatch: QueryInterface answers IUnknown, IDispatch and `*pdiid`; AddRef and Release do
/// nothing (the sink lives as long as its T: unadvise before destroying it);
/// GetTypeInfoCount, GetTypeInfo and GetIDsOfNames answer E_NOTIMPL; Invoke finds the DISPID in
/// the map (not there: S_OK, nothing done), checks the argument count against the call
/// description (DISP_E_BADPARAMCOUNT), converts the arguments, which arrive last-first, into
/// declaration order and the described types (DISP_E_TYPEMISMATCH with the argument's index),
/// and calls the handler. All calls belong to T's apartment thread.
template <UINT nID, class T, const IID* pdiid>
class IDispEventSimpleImpl {
 public:
  IDispEventSimpleImpl() : sink_(this) {}
  IDispEventSimpleImpl(const IDispEventSimpleImpl&) = delete;
  IDispEventSimpleImpl& operator=(const IDispEventSimpleImpl&) = delete;

  /// Connects this sink to the connection point for `*piid` of `source`. CONNECT_E_ADVISELIMIT
  /// when it is connected already; otherwise what AtlAdvise answered.
  HRESULT DispEventAdvise(IUnknown* source, const IID* piid = pdiid) {
    if (m_dwEventCookie != kNoCookie) return CONNECT_E_ADVISELIMIT;
    DWORD cookie = 0;
    HRESULT hr = AtlAdvise(source, &sink_, *piid, &cookie);
    if (SUCCEEDED(hr)) m_dwEventCookie = cookie;
    return hr;
  }
  /// Disconnects it. CONNECT_E_NOCONNECTION when it is not connected; otherwise what
  /// AtlUnadvise answered (the sink counts as disconnected afterwards either way).
  HRESULT DispEventUnadvise(IUnknown* source, const IID* piid = pdiid) {
    if (m_dwEventCookie == kNoCookie) return CONNECT_E_NOCONNECTION;
    HRESULT hr = AtlUnadvise(source, *piid, m_dwEventCookie);
    m_dwEventCookie = kNoCookie;
    return hr;
  }
  /// The sink's own IDispatch (what the source calls).
  IDispatch* GetEventSinkDispatch() { return &sink_; }

  static constexpr DWORD kNoCookie = 0xFEFEFEFE;
  DWORD m_dwEventCookie = kNoCookie;

 private:
  class Sink final : public IDispatch {
   public:
    explicit Sink(IDispEventSimpleImpl* owner) : owner_(owner) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      *ppv = nullptr;
      if (riid == IID_IUnknown || riid == IID_IDispatch || riid == *pdiid) {
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
      }
      return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT* arg_err) override {
      for (const auto* e = T::_GetSinkMap(); e->piid; ++e) {
        if (e->nControlID != nID || *e->piid != *pdiid || e->dispid != id) continue;
        struct Ctx {
          T* self;
          const dispimpl_detail::SinkEntry<T>* entry;
        } ctx{static_cast<T*>(owner_), e};
        return dispimpl_detail::InvokeSinkEntry(
            *e->pInfo, e->arity, params, result, arg_err,
            [](void* c, VARIANT* args, VARIANT* res) {
              auto* x = static_cast<Ctx*>(c);
              return x->entry->call(x->self, args, res, x->entry->pInfo->vtReturn);
            },
            &ctx);
      }
      return S_OK;
    }

   private:
    IDispEventSimpleImpl* owner_;
  };
  Sink sink_;
};
