#include "platform/com/connpt.h"

#include <algorithm>
#include <utility>

class ConnectionPointContainerImpl::Point final : public IConnectionPoint {
 public:
  Point(ConnectionPointContainerImpl* container, REFIID iid) : container_(container), iid_(iid) {}
  ~Point() {
    for (auto& [cookie, sink] : sinks_) sink->Release();
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
      AddRef();
      *ppv = static_cast<IConnectionPoint*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  // The point is part of its container's object.
  ULONG AddRef() override { return container_->AddRef(); }
  ULONG Release() override { return container_->Release(); }

  HRESULT GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (!container) return E_POINTER;
    container_->AddRef();
    *container = container_;
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    void* p = nullptr;
    if (FAILED(sink->QueryInterface(iid_, &p)) || !p) {
      p = nullptr;
      if (FAILED(sink->QueryInterface(IID_IDispatch, &p)) || !p) return CONNECT_E_CANNOTCONNECT;
    }
    // An outgoing dispinterface pointer is an IDispatch pointer.
    auto* dispatch = static_cast<IDispatch*>(static_cast<IUnknown*>(p));
    DWORD c = container_->next_cookie_++;
    if (c == 0) c = container_->next_cookie_++;  // after 2^32 connections
    sinks_.emplace_back(c, dispatch);
    *cookie = c;
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    auto it = std::find_if(sinks_.begin(), sinks_.end(),
                           [&](const auto& s) { return s.first == cookie; });
    if (cookie == 0 || it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = it->second;
    sinks_.erase(it);
    sink->Release();
    return S_OK;
  }

  const IID& iid() const { return iid_; }
  size_t size() const { return sinks_.size(); }

  HRESULT Fire(DISPID id, const VARIANT* args, UINT count) {
    std::vector<VARIANT> reversed(args, args + count);
    std::reverse(reversed.begin(), reversed.end());
    // Sinks may unadvise (or advise) while we call them: walk a snapshot that keeps each alive.
    std::vector<std::pair<DWORD, IDispatch*>> snapshot = sinks_;
    for (auto& [cookie, sink] : snapshot) sink->AddRef();
    HRESULT first_failure = S_OK;
    for (auto& [cookie, sink] : snapshot) {
      const DWORD c = cookie;
      bool still =
          std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == c; });
      if (!still) continue;
      DISPPARAMS dp{reversed.data(), nullptr, count, 0};
      HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, nullptr,
                                nullptr, nullptr);
      if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
    }
    for (auto& [cookie, sink] : snapshot) sink->Release();
    return first_failure;
  }

 private:
  ConnectionPointContainerImpl* container_;
  IID iid_;
  std::vector<std::pair<DWORD, IDispatch*>> sinks_;  // advise order; one reference each
};

ConnectionPointContainerImpl::ConnectionPointContainerImpl() = default;
ConnectionPointContainerImpl::~ConnectionPointContainerImpl() = default;

void ConnectionPointContainerImpl::AddConnectionPoint(REFIID iid) {
  if (!Find(iid)) points_.push_back(std::make_unique<Point>(this, iid));
}

ConnectionPointContainerImpl::Point* ConnectionPointContainerImpl::Find(REFIID iid) const {
  for (const auto& p : points_) {
    if (p->iid() == iid) return p.get();
  }
  return nullptr;
}

HRESULT ConnectionPointContainerImpl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  Point* p = Find(riid);
  if (!p) return CONNECT_E_NOCONNECTION;
  p->AddRef();
  *point = p;
  return S_OK;
}

HRESULT ConnectionPointContainerImpl::FireEvent(REFIID iid, DISPID id, const VARIANT* args,
                                                UINT count) {
  Point* p = Find(iid);
  if (!p || (count && !args)) return E_INVALIDARG;
  // The object must outlive the firing even if a sink drops the last reference to it.
  AddRef();
  HRESULT hr = p->Fire(id, args, count);
  Release();
  return hr;
}

size_t ConnectionPointContainerImpl::SinkCount(REFIID iid) const {
  Point* p = Find(iid);
  return p ? p->size() : 0;
}

namespace {

// The connection point for `iid` of the object `container_object`.
HRESULT FindPointOf(IUnknown* container_object, REFIID iid, IConnectionPoint** point) {
  IConnectionPointContainer* container = nullptr;
  HRESULT hr = container_object->QueryInterface(IID_IConnectionPointContainer,
                                                reinterpret_cast<void**>(&container));
  if (FAILED(hr)) return hr;
  hr = container->FindConnectionPoint(iid, point);
  container->Release();
  return hr;
}

}  // namespace

HRESULT AtlAdvise(IUnknown* container_object, IUnknown* sink, REFIID iid, DWORD* cookie) {
  if (!container_object || !sink || !cookie) return E_INVALIDARG;
  IConnectionPoint* point = nullptr;
  HRESULT hr = FindPointOf(container_object, iid, &point);
  if (FAILED(hr)) return hr;
  hr = point->Advise(sink, cookie);
  point->Release();
  return hr;
}

HRESULT AtlUnadvise(IUnknown* container_object, REFIID iid, DWORD cookie) {
  if (!container_object) return E_INVALIDARG;
  IConnectionPoint* point = nullptr;
  HRESULT hr = FindPointOf(container_object, iid, &point);
  if (FAILED(hr)) return hr;
  hr = point->Unadvise(cookie);
  point->Release();
  return hr;
}
