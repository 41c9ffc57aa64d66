// Connection points for event sources: a reusable IConnectionPointContainer with one
// IConnectionPoint per outgoing interface, firing events to every advised sink, and the
// AtlAdvise/AtlUnadvise helpers that sinks use.
//
// Stands in for ATL's IConnectionPointContainerImpl/IConnectionPointImpl and AtlAdvise. Left out:
// EnumConnectionPoints and EnumConnections (not declared in comtypes.h), and outgoing interfaces
// that are not dispatch-based (events fire through IDispatch::Invoke).
//
// Usage: an event source derives from ConnectionPointContainerImpl, adds its points in its
// constructor and answers IID_IConnectionPointContainer in QueryInterface:
//   class Application : public IDispatchImpl<IApp, ...>, public ConnectionPointContainerImpl {
//     Application() { AddConnectionPoint(DIID_AppEvents); }
//     void OnEdit(IDispatch* sheet, IDispatch* range) {
//       VARIANT a[2] = {...};   // in declaration order
//       FireEvent(DIID_AppEvents, kDispidSheetChange, a, 2);
//     }
//   };
// The points share the object's reference count (their AddRef/Release are the container's), so
// they live as long as it does. All calls belong to the object's apartment thread; other
// apartments reach it through proxies.
#pragma once

#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/com/comtypes.h"

class ConnectionPointContainerImpl : public IConnectionPointContainer {
 public:
  /// E_POINTER for null `point`, CONNECT_E_NOCONNECTION when there is no point for `riid`.
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

 protected:
  ConnectionPointContainerImpl();
  /// Releases every sink still advised.
  ~ConnectionPointContainerImpl();

  /// Adds the point for outgoing interface `iid` (a second call for the same `iid` does
  /// nothing). Call it before the object is handed out.
  void AddConnectionPoint(REFIID iid);

  /// Calls IDispatch::Invoke(`id`, DISPATCH_METHOD) with `args` (`count` VARIANTs in declaration
  /// order; they are passed last-first as Invoke expects, and stay the caller's) on every sink
  /// advised on the point for `iid`, in the order they were advised. A sink that is unadvised
  /// while the event is being fired (by itself or by an earlier sink) is not called afterwards,
  /// and stays alive until the firing is over. Returns S_OK, or the first failure a sink
  /// returned (every sink is still called); E_INVALIDARG when there is no point for `iid`.
  HRESULT FireEvent(REFIID iid, DISPID id, const VARIANT* args, UINT count);
  HRESULT FireEvent(REFIID iid, DISPID id, std::initializer_list<VARIANT> args = {}) {
    return FireEvent(iid, id, args.begin(), static_cast<UINT>(args.size()));
  }
  /// How many sinks are advised on the point for `iid` (0 when there is no such point).
  size_t SinkCount(REFIID iid) const;

 private:
  class Point;
  Point* Find(REFIID iid) const;
  std::vector<std::unique_ptr<Point>> points_;
  DWORD next_cookie_ = 1;  // shared by all points: a cookie names one connection of the object
};

/// Connects `sink` to the connection point for `iid` of `container_object` (found through its
/// IConnectionPointContainer) and stores the cookie in `*cookie`. E_INVALIDARG for null
/// pointers; otherwise what QueryInterface, FindConnectionPoint or Advise answered.
HRESULT AtlAdvise(IUnknown* container_object, IUnknown* sink, REFIID iid, DWORD* cookie);

/// Disconnects the connection `cookie` from the point for `iid` of `container_object`.
/// E_INVALIDARG for a null object; otherwise what the calls along the way answered.
HRESULT AtlUnadvise(IUnknown* container_object, REFIID iid, DWORD cookie);
