#include "platform/com/classes.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/com/classes_internal.h"
#include "platform/win/sync.h"

namespace {

constexpr DWORD kKnownContexts = CLSCTX_ALL;

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* factory;  // one reference, released on revoke
  DWORD context;
  DWORD flags;
  DWORD thread;    // GetCurrentThreadId of the registering thread
  bool used;       // REGCLS_SINGLEUSE: handed out once already
  bool suspended;  // REGCLS_SUSPENDED until CoResumeClassObjects
};

struct Registry {
  std::mutex mutex;  // guards registrations and next_cookie
  std::vector<Registration> registrations;
  DWORD next_cookie = 1;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::atomic<sw::com::CrossThreadClassHook> cross_thread_hook{nullptr};

// The registration CoGetClassObject would use; the registry's mutex must be held.
Registration* Find(Registry& registry, REFCLSID clsid, DWORD context) {
  for (Registration& r : registry.registrations) {
    if (r.clsid == clsid && (r.context & context) != 0 && !r.suspended &&
        !(r.flags == REGCLS_SINGLEUSE && r.used)) {
      return &r;
    }
  }
  return nullptr;
}

}  // namespace

namespace sw::com {

DWORD ClassRegisteringThread(REFCLSID clsid, DWORD context) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const Registration* r = Find(registry, clsid, context);
  return r != nullptr ? r->thread : 0;
}

CrossThreadClassHook SetCrossThreadClassHook(CrossThreadClassHook hook) {
  return cross_thread_hook.exchange(hook);
}

}  // namespace sw::com

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags,
                              DWORD* cookie) {
  if (cookie != nullptr) *cookie = 0;
  if (factory == nullptr || cookie == nullptr || (context & kKnownContexts) == 0) {
    return E_INVALIDARG;
  }
  Registry& registry = TheRegistry();
  {
    std::lock_guard lock(registry.mutex);
    for (const Registration& r : registry.registrations) {
      if (r.clsid == clsid && (r.context & context) != 0) return CO_E_OBJISREG;
    }
    factory->AddRef();
    const DWORD issued = registry.next_cookie++;
    if (registry.next_cookie == 0) registry.next_cookie = 1;
    registry.registrations.push_back({issued, clsid, factory, context, flags & ~REGCLS_SUSPENDED,
                                      GetCurrentThreadId(), false,
                                      (flags & REGCLS_SUSPENDED) != 0});
    *cookie = issued;
  }
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  Registry& registry = TheRegistry();
  IUnknown* factory = nullptr;
  {
    std::lock_guard lock(registry.mutex);
    auto& list = registry.registrations;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->cookie == cookie) {
        factory = it->factory;
        list.erase(it);
        break;
      }
    }
  }
  if (factory == nullptr) return E_INVALIDARG;
  factory->Release();  // outside the lock: the class object may call back into the registry
  return S_OK;
}

HRESULT CoResumeClassObjects() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (Registration& r : registry.registrations) r.suspended = false;
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* server_info, REFIID riid,
                         void** ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if ((context & kKnownContexts) == 0 || server_info != nullptr) return E_INVALIDARG;
  const auto hook = cross_thread_hook.load();
  bool direct = hook == nullptr;
  HRESULT hr = S_FALSE;
  if (!direct) {
    const DWORD owner = sw::com::ClassRegisteringThread(clsid, context);
    if (owner == 0) return REGDB_E_CLASSNOTREG;
    // Another apartment's class object is reached on its own thread only.
    if (owner != GetCurrentThreadId()) hr = hook(owner, clsid, context, riid, ppv);
    direct = hr == S_FALSE;
  }
  if (direct) {
    Registry& registry = TheRegistry();
    IUnknown* factory = nullptr;
    {
      std::lock_guard lock(registry.mutex);
      Registration* r = Find(registry, clsid, context);
      if (r == nullptr) return REGDB_E_CLASSNOTREG;
      r->used = true;
      factory = r->factory;
      factory->AddRef();  // kept alive while it is queried outside the lock
    }
    hr = factory->QueryInterface(riid, ppv);
    factory->Release();
  }
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT OleRun(IUnknown* object) {
  if (object == nullptr) return E_INVALIDARG;
  IRunnableObject* runnable = nullptr;
  if (FAILED(object->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&runnable))) ||
      runnable == nullptr) {
    return S_OK;  // an object that cannot be run is running already
  }
  const HRESULT hr = runnable->Run(nullptr);
  runnable->Release();
  return hr;
}
