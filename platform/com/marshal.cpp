#include "platform/com/marshal.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/com/apartment_internal.h"
#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/marshal_internal.h"
#include "platform/com/variant.h"
#include "platform/com/variant_internal.h"

namespace com_internal {

namespace {

// Answered only by proxy managers (and marshal streams), so that a pointer can be recognised as
// one of ours without asking a remote object.
constexpr IID kIID_ProxyManager = {
    0x5B1C6E2A, 0x8F0D, 0x4C4E, {0x9A, 0x61, 0x3D, 0x27, 0x0B, 0xE4, 0x51, 0x90}};
constexpr IID kIID_MarshalStream = {
    0x5B1C6E2B, 0x8F0D, 0x4C4E, {0x9A, 0x61, 0x3D, 0x27, 0x0B, 0xE4, 0x51, 0x90}};

class ConnectionPointContainerProxy;
class ConnectionPointProxy;

std::mutex g_factories_mutex;
std::map<IID, InterfaceProxyFactory>& Factories() {  // guarded by g_factories_mutex
  static auto* factories = new std::map<IID, InterfaceProxyFactory>();
  return *factories;
}

InterfaceProxyFactory BuiltInFactory(REFIID iid);

InterfaceProxyFactory FindFactory(REFIID iid) {
  if (InterfaceProxyFactory f = BuiltInFactory(iid)) return f;
  std::lock_guard lock(g_factories_mutex);
  auto it = Factories().find(iid);
  return it == Factories().end() ? nullptr : it->second;
}

}  // namespace

/// The proxy of one object in one importing apartment: its identity (IUnknown) and the owner of
/// its facelets, one per interface asked for. Reference counted across all its facelets.
class ProxyManager final : public IUnknown {
 public:
  ProxyManager(std::shared_ptr<Apartment> importer, std::shared_ptr<RemoteRef> base)
      : importer_(std::move(importer)), base_(std::move(base)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override;

  bool TryAddRef() {
    ULONG n = refs_.load(std::memory_order_relaxed);
    while (n > 0) {
      if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) return true;
    }
    return false;
  }
  Apartment* importer() const { return importer_.get(); }
  const std::shared_ptr<Apartment>& owner() const { return base_->owner(); }
  const std::shared_ptr<RemoteRef>& base() const { return base_; }
  bool OnImporterThread() const { return Apartment::Current() == importer_.get(); }

  /// The facelet for `iid` made with `ref` (or the existing one), one reference added.
  IUnknown* Adopt(REFIID iid, std::shared_ptr<RemoteRef> ref, InterfaceProxyFactory factory);
  /// The existing facelet for `iid`, or null.
  ProxyFacelet* Find(REFIID iid);

 private:
  ~ProxyManager();

  std::atomic<ULONG> refs_{0};
  std::shared_ptr<Apartment> importer_;
  std::shared_ptr<RemoteRef> base_;
  std::mutex mutex_;
  std::vector<std::pair<IID, ProxyFacelet*>> facelets_;  // guarded by mutex_
};

namespace {

using ProxyKey = std::tuple<Apartment*, Apartment*, IUnknown*>;  // importer, owner, identity
std::mutex g_proxies_mutex;
std::map<ProxyKey, ProxyManager*>& Proxies() {  // guarded by g_proxies_mutex
  static auto* proxies = new std::map<ProxyKey, ProxyManager*>();
  return *proxies;
}

ProxyKey KeyOf(Apartment* importer, const RemoteRef& ref) {
  return {importer, ref.owner().get(), ref.identity()};
}

// The proxy manager of `ref`'s object in the calling apartment, one reference added.
ProxyManager* FindOrCreateManager(const std::shared_ptr<Apartment>& importer,
                                  const std::shared_ptr<RemoteRef>& ref) {
  std::lock_guard lock(g_proxies_mutex);
  auto& proxies = Proxies();
  ProxyKey key = KeyOf(importer.get(), *ref);
  auto it = proxies.find(key);
  if (it != proxies.end() && it->second->TryAddRef()) return it->second;
  auto* manager = new ProxyManager(importer, ref);
  manager->AddRef();
  proxies[key] = manager;  // replaces one that is being destroyed
  return manager;
}

ProxyManager* AsProxyManager(IUnknown* p) {
  void* out = nullptr;
  if (FAILED(p->QueryInterface(kIID_ProxyManager, &out)) || !out) return nullptr;
  auto* manager = static_cast<ProxyManager*>(static_cast<IUnknown*>(out));
  manager->Release();  // the caller holds `p`, which keeps the manager alive
  return manager;
}

}  // namespace

ProxyManager::~ProxyManager() {
  for (auto& [iid, facelet] : facelets_) delete facelet;
}

ULONG ProxyManager::Release() {
  ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n > 0) return n;
  {
    std::lock_guard lock(g_proxies_mutex);
    auto it = Proxies().find(KeyOf(importer_.get(), *base_));
    if (it != Proxies().end() && it->second == this) Proxies().erase(it);
  }
  delete this;
  return 0;
}

ProxyFacelet* ProxyManager::Find(REFIID iid) {
  std::lock_guard lock(mutex_);
  for (auto& [id, facelet] : facelets_) {
    if (id == iid) return facelet;
  }
  return nullptr;
}

IUnknown* ProxyManager::Adopt(REFIID iid, std::shared_ptr<RemoteRef> ref,
                              InterfaceProxyFactory factory) {
  ProxyFacelet* facelet = nullptr;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, f] : facelets_) {
      if (id == iid) facelet = f;
    }
    if (!facelet) {
      facelet = factory(ProxyFaceletInit{this, std::move(ref)});
      facelets_.emplace_back(iid, facelet);
    }
  }
  AddRef();
  return facelet->Exposed();
}

HRESULT ProxyManager::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == kIID_ProxyManager) {
    AddRef();
    *ppv = static_cast<IUnknown*>(this);
    return S_OK;
  }
  if (ProxyFacelet* facelet = Find(riid)) {
    AddRef();
    *ppv = facelet->Exposed();
    return S_OK;
  }
  InterfaceProxyFactory factory = FindFactory(riid);
  if (!factory) return E_NOINTERFACE;  // IAgileObject included: a proxy is not agile
  if (!OnImporterThread()) return RPC_E_WRONG_THREAD;
  // Ask the real object on its thread; the answer is a new reference for our facelet.
  std::shared_ptr<RemoteRef> got;
  HRESULT inner = S_OK;
  IID iid = riid;
  RemoteRef* base = base_.get();
  auto work = [&] {
    void* p = nullptr;
    inner = base->ptr()->QueryInterface(iid, &p);
    if (SUCCEEDED(inner) && p) {
      got = base->owner()->Export(static_cast<IUnknown*>(p));
      if (!got) inner = RPC_E_DISCONNECTED;
    } else if (SUCCEEDED(inner)) {
      inner = E_NOINTERFACE;
    }
  };
  HRESULT hr = owner()->Call(work);
  if (FAILED(hr)) return hr;
  if (FAILED(inner)) return inner;
  *ppv = Adopt(iid, std::move(got), factory);
  return S_OK;
}

// ---- MarshalledRef ----------------------------------------------------------------------------

MarshalledRef::MarshalledRef(MarshalledRef&& other) noexcept
    : ref(std::move(other.ref)), iid(other.iid), agile(std::exchange(other.agile, nullptr)) {}

MarshalledRef& MarshalledRef::operator=(MarshalledRef&& other) noexcept {
  if (this != &other) {
    if (agile) agile->Release();
    ref = std::move(other.ref);
    iid = other.iid;
    agile = std::exchange(other.agile, nullptr);
  }
  return *this;
}

MarshalledRef::~MarshalledRef() {
  if (agile) agile->Release();
}

HRESULT MarshalInterface(IUnknown* p, REFIID iid, MarshalledRef* out) {
  *out = MarshalledRef{};
  out->iid = iid;
  if (!p) return S_OK;
  Apartment* current = Apartment::Current();
  if (!current) return CO_E_NOTINITIALIZED;
  if (ProxyManager* manager = AsProxyManager(p)) {
    if (manager->importer() != current) return RPC_E_WRONG_THREAD;
    if (iid == IID_IUnknown) {
      out->ref = manager->base();
      return S_OK;
    }
    void* facelet_ptr = nullptr;
    HRESULT hr = manager->QueryInterface(iid, &facelet_ptr);
    if (FAILED(hr)) return hr;
    ProxyFacelet* facelet = manager->Find(iid);
    out->ref = facelet->ref();
    static_cast<IUnknown*>(facelet_ptr)->Release();
    return S_OK;
  }
  void* agile = nullptr;
  if (SUCCEEDED(p->QueryInterface(IID_IAgileObject, &agile)) && agile) {
    static_cast<IUnknown*>(agile)->Release();
  }
  if (agile || !current->sta()) {
    void* typed = nullptr;
    HRESULT hr = p->QueryInterface(iid, &typed);
    if (FAILED(hr)) return hr;
    out->agile = static_cast<IUnknown*>(typed);
    return S_OK;
  }
  if (iid != IID_IUnknown && !FindFactory(iid)) return E_NOINTERFACE;
  void* typed = nullptr;
  HRESULT hr = p->QueryInterface(iid, &typed);
  if (FAILED(hr)) return hr;
  if (!typed) return E_NOINTERFACE;
  out->ref = current->Export(static_cast<IUnknown*>(typed));
  return out->ref ? S_OK : RPC_E_DISCONNECTED;
}

HRESULT UnmarshalInterface(MarshalledRef&& m, REFIID iid, void** ppv) {
  *ppv = nullptr;
  MarshalledRef local = std::move(m);
  if (local.agile) return local.agile->QueryInterface(iid, ppv);
  if (!local.ref) return S_OK;
  std::shared_ptr<Apartment> current = Apartment::CurrentShared();
  if (!current) return CO_E_NOTINITIALIZED;
  if (local.ref->owner() == current) {
    // Home again: the real object, no proxy.
    return local.ref->ptr()->QueryInterface(iid, ppv);
  }
  if (!local.ref->owner()->connected()) return RPC_E_DISCONNECTED;
  ProxyManager* manager = FindOrCreateManager(current, local.ref);
  HRESULT hr = S_OK;
  if (iid == IID_IUnknown) {
    manager->AddRef();
    *ppv = static_cast<IUnknown*>(manager);
  } else if (local.iid == iid) {
    InterfaceProxyFactory factory = FindFactory(iid);
    if (factory) {
      *ppv = manager->Adopt(iid, local.ref, factory);
    } else {
      hr = E_NOINTERFACE;
    }
  } else {
    hr = manager->QueryInterface(iid, ppv);
  }
  manager->Release();
  return hr;
}

HRESULT CallAndUnmarshal(Apartment& owner, const std::function<HRESULT(IUnknown**)>& produce,
                         REFIID iid, void** ppv) {
  *ppv = nullptr;
  MarshalledRef m;
  HRESULT inner = S_OK;
  IID id = iid;
  auto work = [&] {
    IUnknown* p = nullptr;
    inner = produce(&p);
    if (SUCCEEDED(inner)) {
      inner = MarshalInterface(p, id, &m);
      if (p) p->Release();
    }
  };
  HRESULT hr = owner.Call(work);
  if (FAILED(hr)) return hr;
  if (FAILED(inner)) return inner;
  return UnmarshalInterface(std::move(m), iid, ppv);
}

// ---- Values across apartments -------------------------------------------------------------------

namespace {

// One VARIANT on its way: the value itself (an owned BSTR copy, a marshalled interface, or the
// scalar), remembering whether the original was passed by reference.
struct WireValue {
  VARTYPE vt = VT_EMPTY;             // the original type, VT_BYREF included
  VARIANT value{};                   // the value (never by reference); a BSTR here is owned
  MarshalledRef ref;                 // VT_DISPATCH / VT_UNKNOWN
  std::unique_ptr<WireValue> inner;  // VT_VARIANT | VT_BYREF: the VARIANT pointed to

  WireValue() = default;
  WireValue(WireValue&&) = default;
  WireValue& operator=(WireValue&&) = default;
  ~WireValue() {
    if (value.vt == VT_BSTR) SysFreeString(value.bstrVal);
  }
};

// Packs `v` on the sending thread.
HRESULT Pack(const VARIANT& v, WireValue& w) {
  w.vt = v.vt;
  if (v.vt & VT_ARRAY) return DISP_E_BADVARTYPE;
  const bool byref = (v.vt & VT_BYREF) != 0;
  const auto base = static_cast<VARTYPE>(v.vt & ~VT_BYREF);
  if (byref && !v.byref) return E_INVALIDARG;
  switch (base) {
    case VT_VARIANT:
      if (!byref || (v.pvarVal->vt & VT_BYREF)) return DISP_E_BADVARTYPE;
      w.inner = std::make_unique<WireValue>();
      return Pack(*v.pvarVal, *w.inner);
    case VT_BSTR: {
      BSTR s = byref ? *v.pbstrVal : v.bstrVal;
      w.value.vt = VT_BSTR;
      w.value.bstrVal = nullptr;
      if (s) {
        w.value.bstrVal = SysAllocStringLen(s, SysStringLen(s));
        if (!w.value.bstrVal) return E_OUTOFMEMORY;
      }
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* p = byref ? *v.ppunkVal : v.punkVal;
      w.value.vt = base;
      return MarshalInterface(p, base == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &w.ref);
    }
    case VT_EMPTY:
    case VT_NULL:
      if (byref) return DISP_E_BADVARTYPE;
      w.value.vt = base;
      return S_OK;
    case VT_DECIMAL:
      if (byref) return DISP_E_BADVARTYPE;
      w.value = v;  // the DECIMAL fills the whole VARIANT
      return S_OK;
    default: {
      size_t size = sw::com::VariantScalarSize(base);
      if (size == 0) return DISP_E_BADVARTYPE;
      w.value.vt = base;
      std::memcpy(&w.value.llVal, byref ? v.byref : &v.llVal, size);
      return S_OK;
    }
  }
}

// Unpacks a by-value WireValue on the receiving thread into `out` (which then owns it).
HRESULT UnpackValue(WireValue& w, VARIANT& out) {
  VariantInit(&out);
  switch (w.value.vt) {
    case VT_BSTR:
      out.vt = VT_BSTR;
      out.bstrVal = std::exchange(w.value.bstrVal, nullptr);
      w.value.vt = VT_EMPTY;
      return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      void* p = nullptr;
      REFIID iid = w.value.vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
      HRESULT hr = UnmarshalInterface(std::move(w.ref), iid, &p);
      if (FAILED(hr)) return hr;
      out.vt = w.value.vt;
      out.punkVal = static_cast<IUnknown*>(p);
      return S_OK;
    }
    default:
      out = w.value;
      return S_OK;
  }
}

// Unpacks an argument: by value into `out`, or by reference into `storage` with `out` pointing
// at it. Both are cleared by the caller after the call.
HRESULT UnpackArg(WireValue& w, VARIANT& out, VARIANT& storage) {
  VariantInit(&storage);
  if (!(w.vt & VT_BYREF)) return UnpackValue(w, out);
  HRESULT hr = UnpackValue(w.inner ? *w.inner : w, storage);
  if (FAILED(hr)) return hr;
  VariantInit(&out);
  out.vt = w.vt;
  if (w.inner) {
    out.pvarVal = &storage;
  } else {
    out.byref = &storage.llVal;  // every union member starts there
  }
  return S_OK;
}

// Writes a returned by-reference value into the caller's original argument `orig`.
HRESULT WriteBack(WireValue& back, VARIANT& orig) {
  const auto base = static_cast<VARTYPE>(orig.vt & ~VT_BYREF);
  VARIANT v;
  HRESULT hr = UnpackValue(back, v);
  if (FAILED(hr)) return hr;
  switch (base) {
    case VT_VARIANT:
      VariantClear(orig.pvarVal);
      *orig.pvarVal = v;
      return S_OK;
    case VT_BSTR:
      SysFreeString(*orig.pbstrVal);
      *orig.pbstrVal = v.vt == VT_BSTR ? v.bstrVal : nullptr;
      return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (*orig.ppunkVal) (*orig.ppunkVal)->Release();
      *orig.ppunkVal = (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) ? v.punkVal : nullptr;
      return S_OK;
    default:
      std::memcpy(orig.byref, &v.llVal, sw::com::VariantScalarSize(base));
      return S_OK;
  }
}

void ClearExcepInfo(EXCEPINFO& ex) {
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
  ex = EXCEPINFO{};
}

}  // namespace

// ---- Streams ------------------------------------------------------------------------------------

namespace {

class MarshalStream final : public IStream {
 public:
  explicit MarshalStream(MarshalledRef m) : m_(std::move(m)) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IStream || riid == kIID_MarshalStream) {
      AddRef();
      *ppv = static_cast<IStream*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
  }
  /// Takes the packet out; false when it was taken already.
  bool Take(MarshalledRef* out) {
    std::lock_guard lock(mutex_);
    if (taken_) return false;
    taken_ = true;
    *out = std::move(m_);
    return true;
  }

 private:
  ~MarshalStream() = default;
  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  bool taken_ = false;  // guarded by mutex_
  MarshalledRef m_;     // guarded by mutex_
};

}  // namespace

}  // namespace com_internal

using com_internal::Apartment;
using com_internal::MarshalledRef;
using com_internal::ProxyManager;

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* unk, IStream** stream) {
  if (!unk || !stream) return E_INVALIDARG;
  *stream = nullptr;
  MarshalledRef m;
  HRESULT hr = com_internal::MarshalInterface(unk, riid, &m);
  if (FAILED(hr)) return hr;
  *stream = new com_internal::MarshalStream(std::move(m));
  return S_OK;
}

HRESULT CoGetInterfaceAndReleaseStream(IStream* stream, REFIID riid, void** ppv) {
  if (!ppv) {
    if (stream) stream->Release();
    return E_INVALIDARG;
  }
  *ppv = nullptr;
  if (!stream) return E_INVALIDARG;
  if (!Apartment::Current()) {
    stream->Release();
    return CO_E_NOTINITIALIZED;
  }
  void* ours = nullptr;
  HRESULT hr = E_INVALIDARG;
  if (SUCCEEDED(stream->QueryInterface(com_internal::kIID_MarshalStream, &ours)) && ours) {
    auto* s = static_cast<com_internal::MarshalStream*>(static_cast<IStream*>(ours));
    MarshalledRef m;
    if (s->Take(&m)) {
      hr = com_internal::UnmarshalInterface(std::move(m), riid, ppv);
    }
    s->Release();
  }
  stream->Release();
  return hr;
}

void RegisterInterfaceProxy(REFIID iid, InterfaceProxyFactory factory) {
  std::lock_guard lock(com_internal::g_factories_mutex);
  if (factory) {
    com_internal::Factories()[iid] = factory;
  } else {
    com_internal::Factories().erase(iid);
  }
}

// ---- ProxyFacelet -------------------------------------------------------------------------------

ProxyFacelet::ProxyFacelet(ProxyFaceletInit init)
    : manager_(init.manager), ref_(std::move(init.ref)) {}

ProxyFacelet::~ProxyFacelet() = default;

HRESULT ProxyFacelet::FaceletQueryInterface(REFIID riid, void** ppv) {
  return manager_->QueryInterface(riid, ppv);
}
ULONG ProxyFacelet::FaceletAddRef() {
  return manager_->AddRef();
}
ULONG ProxyFacelet::FaceletRelease() {
  return manager_->Release();
}

HRESULT ProxyFacelet::CheckThread() const {
  return manager_->OnImporterThread() ? S_OK : RPC_E_WRONG_THREAD;
}

HRESULT ProxyFacelet::RemoteGetTypeInfoCount(UINT* count) {
  if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
  if (!count) return E_POINTER;
  UINT n = 0;
  HRESULT inner = S_OK;
  com_internal::RemoteRef* ref = ref_.get();
  auto work = [&] { inner = static_cast<IDispatch*>(ref->ptr())->GetTypeInfoCount(&n); };
  HRESULT hr = ref_->owner()->Call(work);
  if (FAILED(hr)) return hr;
  *count = n;
  return inner;
}

HRESULT ProxyFacelet::RemoteGetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
  if (!info) return E_POINTER;
  *info = nullptr;
  com_internal::RemoteRef* ref = ref_.get();
  return com_internal::CallAndUnmarshal(
      *ref_->owner(),
      [&](IUnknown** out) {
        ITypeInfo* ti = nullptr;
        HRESULT hr = static_cast<IDispatch*>(ref->ptr())->GetTypeInfo(index, lcid, &ti);
        *out = ti;
        return hr;
      },
      IID_ITypeInfo, reinterpret_cast<void**>(info));
}

HRESULT ProxyFacelet::RemoteGetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) {
  if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
  if (!names || !ids) return E_POINTER;
  std::vector<std::wstring> copies;
  copies.reserve(count);
  for (UINT i = 0; i < count; ++i) copies.emplace_back(names[i] ? names[i] : L"");
  std::vector<DISPID> got(count, DISPID_UNKNOWN);
  HRESULT inner = S_OK;
  IID iid = riid;
  com_internal::RemoteRef* ref = ref_.get();
  auto work = [&] {
    std::vector<LPOLESTR> ptrs;
    for (auto& s : copies) ptrs.push_back(s.data());
    inner = static_cast<IDispatch*>(ref->ptr())
                ->GetIDsOfNames(iid, ptrs.data(), count, lcid, got.data());
  };
  HRESULT hr = ref_->owner()->Call(work);
  if (FAILED(hr)) return hr;
  std::copy(got.begin(), got.end(), ids);
  return inner;
}

HRESULT ProxyFacelet::RemoteInvoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                   UINT* arg_err) {
  using com_internal::WireValue;
  if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
  if (!params) return E_INVALIDARG;
  if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
  if (params->cNamedArgs > params->cArgs || (params->cNamedArgs && !params->rgdispidNamedArgs)) {
    return E_INVALIDARG;
  }
  // Caller's thread: copy the arguments out.
  std::vector<WireValue> args(params->cArgs);
  for (UINT i = 0; i < params->cArgs; ++i) {
    HRESULT hr = com_internal::Pack(params->rgvarg[i], args[i]);
    if (FAILED(hr)) {
      if (arg_err) *arg_err = i;
      return hr;
    }
  }
  std::vector<DISPID> named(params->rgdispidNamedArgs,
                            params->rgdispidNamedArgs + params->cNamedArgs);
  std::vector<WireValue> back(params->cArgs);
  std::vector<char> has_back(params->cArgs, 0);
  WireValue wire_result;
  EXCEPINFO ex{};
  UINT err = 0;
  HRESULT inner = S_OK;
  const bool want_result = result != nullptr;
  IID iid = riid;
  com_internal::RemoteRef* ref = ref_.get();

  // Owner's thread: rebuild the arguments, call, pack what goes back.
  auto work = [&] {
    const size_t n = args.size();
    std::vector<VARIANT> real(n), storage(n);
    UINT unpacked = 0;
    for (; unpacked < n; ++unpacked) {
      inner = com_internal::UnpackArg(args[unpacked], real[unpacked], storage[unpacked]);
      if (FAILED(inner)) {
        err = unpacked;
        break;
      }
    }
    if (SUCCEEDED(inner)) {
      DISPPARAMS dp{real.data(), named.data(), static_cast<UINT>(n),
                    static_cast<UINT>(named.size())};
      VARIANT res;
      VariantInit(&res);
      inner = static_cast<IDispatch*>(ref->ptr())
                  ->Invoke(id, iid, lcid, flags, &dp, want_result ? &res : nullptr, &ex, &err);
      if (ex.pfnDeferredFillIn) {
        ex.pfnDeferredFillIn(&ex);
        ex.pfnDeferredFillIn = nullptr;
      }
      for (size_t i = 0; i < n; ++i) {
        if (args[i].vt & VT_BYREF) has_back[i] = SUCCEEDED(com_internal::Pack(storage[i], back[i]));
      }
      if (want_result) {
        HRESULT packed = com_internal::Pack(res, wire_result);
        if (FAILED(packed) && SUCCEEDED(inner)) inner = packed;
        VariantClear(&res);
      }
    }
    for (UINT i = 0; i < unpacked; ++i) {
      if (!(args[i].vt & VT_BYREF)) VariantClear(&real[i]);
      VariantClear(&storage[i]);
    }
  };
  HRESULT hr = ref_->owner()->Call(work);
  if (FAILED(hr)) {
    com_internal::ClearExcepInfo(ex);
    return hr;
  }
  // Caller's thread again: out values, result, exception.
  for (UINT i = 0; i < params->cArgs; ++i) {
    if (has_back[i] && (params->rgvarg[i].vt & VT_BYREF)) {
      com_internal::WriteBack(back[i], params->rgvarg[i]);
    }
  }
  if (want_result) {
    VARIANT v;
    HRESULT unpacked = com_internal::UnpackValue(wire_result, v);
    *result = v;
    if (FAILED(unpacked) && SUCCEEDED(inner)) inner = unpacked;
  }
  if (excep) {
    *excep = ex;
  } else {
    com_internal::ClearExcepInfo(ex);
  }
  if (arg_err) *arg_err = err;
  return inner;
}

HRESULT ProxyFacelet::CallByDispid(DISPID id, std::initializer_list<VARIANT> args, VARIANT* result,
                                   WORD flags) {
  std::vector<VARIANT> reversed(args.begin(), args.end());
  std::reverse(reversed.begin(), reversed.end());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS dp{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    dp.rgdispidNamedArgs = &put;
    dp.cNamedArgs = 1;
  }
  EXCEPINFO ex{};
  UINT err = 0;
  VARIANT local;
  VariantInit(&local);
  HRESULT hr = RemoteInvoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result ? result : &local,
                            &ex, &err);
  VariantClear(&local);
  if (hr == DISP_E_EXCEPTION) {
    hr = ex.scode ? ex.scode : E_FAIL;
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
      create->SetSource(ex.bstrSource);
      create->SetDescription(ex.bstrDescription);
      create->SetHelpFile(ex.bstrHelpFile);
      create->SetHelpContext(ex.dwHelpContext);
      IErrorInfo* info = nullptr;
      if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
      }
      create->Release();
    }
  }
  com_internal::ClearExcepInfo(ex);
  return hr;
}

// ---- Built-in proxies ---------------------------------------------------------------------------

namespace com_internal {
namespace {

class ConnectionPointContainerProxy final : public ProxyFacelet, public IConnectionPointContainer {
 public:
  using ProxyFacelet::ProxyFacelet;
  IUnknown* Exposed() override { return static_cast<IConnectionPointContainer*>(this); }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return FaceletQueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return FaceletAddRef(); }
  ULONG Release() override { return FaceletRelease(); }

  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
    if (!point) return E_POINTER;
    *point = nullptr;
    IID iid = riid;
    RemoteRef* ref = ref_.get();
    return CallAndUnmarshal(
        *ref_->owner(),
        [&](IUnknown** out) {
          IConnectionPoint* cp = nullptr;
          HRESULT hr =
              static_cast<IConnectionPointContainer*>(ref->ptr())->FindConnectionPoint(iid, &cp);
          *out = cp;
          return hr;
        },
        IID_IConnectionPoint, reinterpret_cast<void**>(point));
  }
};

class ConnectionPointProxy final : public ProxyFacelet, public IConnectionPoint {
 public:
  using ProxyFacelet::ProxyFacelet;
  IUnknown* Exposed() override { return static_cast<IConnectionPoint*>(this); }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return FaceletQueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return FaceletAddRef(); }
  ULONG Release() override { return FaceletRelease(); }

  HRESULT GetConnectionInterface(IID* iid) override {
    if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
    if (!iid) return E_POINTER;
    IID got{};
    HRESULT inner = S_OK;
    auto work = [&] { inner = Real()->GetConnectionInterface(&got); };
    HRESULT hr = ref_->owner()->Call(work);
    if (FAILED(hr)) return hr;
    *iid = got;
    return inner;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
    if (!container) return E_POINTER;
    *container = nullptr;
    return CallAndUnmarshal(
        *ref_->owner(),
        [&](IUnknown** out) {
          IConnectionPointContainer* c = nullptr;
          HRESULT hr = Real()->GetConnectionPointContainer(&c);
          *out = c;
          return hr;
        },
        IID_IConnectionPointContainer, reinterpret_cast<void**>(container));
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    MarshalledRef m;
    if (HRESULT hr = MarshalInterface(sink, IID_IUnknown, &m); FAILED(hr)) return hr;
    DWORD got = 0;
    HRESULT inner = S_OK;
    auto work = [&] {
      IUnknown* real_sink = nullptr;
      inner = UnmarshalInterface(std::move(m), IID_IUnknown, reinterpret_cast<void**>(&real_sink));
      if (FAILED(inner)) return;
      inner = Real()->Advise(real_sink, &got);
      real_sink->Release();
    };
    HRESULT hr = ref_->owner()->Call(work);
    if (FAILED(hr)) return hr;
    *cookie = got;
    return inner;
  }
  HRESULT Unadvise(DWORD cookie) override {
    if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
    HRESULT inner = S_OK;
    auto work = [&] { inner = Real()->Unadvise(cookie); };
    HRESULT hr = ref_->owner()->Call(work);
    return FAILED(hr) ? hr : inner;
  }

 private:
  IConnectionPoint* Real() const { return static_cast<IConnectionPoint*>(ref_->ptr()); }
};

class ClassFactoryProxy final : public ProxyFacelet, public IClassFactory {
 public:
  using ProxyFacelet::ProxyFacelet;
  IUnknown* Exposed() override { return static_cast<IClassFactory*>(this); }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return FaceletQueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return FaceletAddRef(); }
  ULONG Release() override { return FaceletRelease(); }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;  // no aggregation across apartments
    IID iid = riid;
    RemoteRef* ref = ref_.get();
    return CallAndUnmarshal(
        *ref_->owner(),
        [&](IUnknown** out) {
          return static_cast<IClassFactory*>(ref->ptr())
              ->CreateInstance(nullptr, iid, reinterpret_cast<void**>(out));
        },
        riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if (HRESULT hr = CheckThread(); FAILED(hr)) return hr;
    HRESULT inner = S_OK;
    RemoteRef* ref = ref_.get();
    auto work = [&] { inner = static_cast<IClassFactory*>(ref->ptr())->LockServer(lock); };
    HRESULT hr = ref_->owner()->Call(work);
    return FAILED(hr) ? hr : inner;
  }
};

InterfaceProxyFactory BuiltInFactory(REFIID iid) {
  if (iid == IID_IClassFactory) return &MakeInterfaceProxy<ClassFactoryProxy>;
  if (iid == IID_IDispatch) return &MakeInterfaceProxy<DispatchProxy>;
  if (iid == IID_IConnectionPointContainer) {
    return &MakeInterfaceProxy<ConnectionPointContainerProxy>;
  }
  if (iid == IID_IConnectionPoint) return &MakeInterfaceProxy<ConnectionPointProxy>;
  return nullptr;
}

}  // namespace
}  // namespace com_internal
