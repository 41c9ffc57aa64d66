#include "platform/com/rot.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/apartment_internal.h"
#include "platform/com/marshal_internal.h"

namespace {

using com_internal::Apartment;
using com_internal::RemoteRef;

struct Entry {
  DWORD cookie;
  CLSID clsid;
  std::shared_ptr<Apartment> owner;
  IUnknown* object;                   // the object's IUnknown; used on the owner's thread only
  std::shared_ptr<RemoteRef> strong;  // the table's reference, for ACTIVEOBJECT_STRONG
};

std::mutex g_mutex;
std::vector<Entry>& Table() {  // guarded by g_mutex
  static auto* table = new std::vector<Entry>();
  return *table;
}
DWORD g_next_cookie = 1;  // guarded by g_mutex

// Drops entries of apartments that have ended; their references went with the apartment.
void Sweep(std::vector<Entry>& table, std::vector<Entry>& dropped) {
  auto it = std::stable_partition(table.begin(), table.end(),
                                  [](const Entry& e) { return e.owner->connected(); });
  std::move(it, table.end(), std::back_inserter(dropped));
  table.erase(it, table.end());
}

}  // namespace

HRESULT RegisterActiveObject(IUnknown* unk, REFCLSID clsid, DWORD flags, DWORD* cookie) {
  if (!unk || !cookie || (flags & ~ACTIVEOBJECT_WEAK)) return E_INVALIDARG;
  *cookie = 0;
  std::shared_ptr<Apartment> owner = Apartment::CurrentShared();
  if (!owner) return CO_E_NOTINITIALIZED;
  IUnknown* identity = nullptr;
  HRESULT hr = unk->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  if (FAILED(hr)) return hr;
  std::shared_ptr<RemoteRef> strong;
  if (flags & ACTIVEOBJECT_WEAK) {
    identity->Release();
  } else {
    identity->AddRef();  // Export adopts one reference; `identity` stays usable as the key
    strong = owner->Export(identity);
    identity->Release();
    if (!strong) return CO_E_NOTINITIALIZED;
  }
  std::vector<Entry> dropped;  // released outside the lock
  std::lock_guard lock(g_mutex);
  auto& table = Table();
  Sweep(table, dropped);
  const bool already =
      std::any_of(table.begin(), table.end(), [&](const Entry& e) { return e.clsid == clsid; });
  DWORD c = g_next_cookie++;
  if (c == 0) c = g_next_cookie++;
  table.push_back(Entry{c, clsid, std::move(owner), identity, std::move(strong)});
  *cookie = c;
  return already ? MK_S_MONIKERALREADYREGISTERED : S_OK;
}

HRESULT RevokeActiveObject(DWORD cookie, LPVOID reserved) {
  if (reserved) return E_INVALIDARG;
  Entry removed{};
  {
    std::lock_guard lock(g_mutex);
    auto& table = Table();
    auto it = std::find_if(table.begin(), table.end(),
                           [&](const Entry& e) { return e.cookie == cookie; });
    if (cookie == 0 || it == table.end()) return E_INVALIDARG;
    removed = std::move(*it);
    table.erase(it);
  }
  return S_OK;  // `removed` releases the table's reference, on the owner's thread
}

HRESULT GetActiveObject(REFCLSID clsid, LPVOID reserved, IUnknown** unk) {
  if (!unk || reserved) return E_INVALIDARG;
  *unk = nullptr;
  Apartment* current = Apartment::Current();
  if (!current) return CO_E_NOTINITIALIZED;
  std::shared_ptr<Apartment> owner;
  IUnknown* object = nullptr;
  DWORD cookie = 0;
  {
    std::vector<Entry> dropped;
    std::lock_guard lock(g_mutex);
    auto& table = Table();
    Sweep(table, dropped);
    auto it =
        std::find_if(table.begin(), table.end(), [&](const Entry& e) { return e.clsid == clsid; });
    if (it == table.end()) return MK_E_UNAVAILABLE;
    owner = it->owner;
    object = it->object;
    cookie = it->cookie;
  }
  if (owner.get() == current || !owner->sta()) {
    return object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unk));
  }
  HRESULT hr = com_internal::CallAndUnmarshal(
      *owner,
      [&](IUnknown** out) -> HRESULT {
        {
          // Revoked while the call was on its way?
          std::lock_guard lock(g_mutex);
          auto& table = Table();
          if (std::none_of(table.begin(), table.end(),
                           [&](const Entry& e) { return e.cookie == cookie; })) {
            return MK_E_UNAVAILABLE;
          }
        }
        return object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
      },
      IID_IUnknown, reinterpret_cast<void**>(unk));
  return hr == RPC_E_DISCONNECTED ? MK_E_UNAVAILABLE : hr;
}
