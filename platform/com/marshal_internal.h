// Marshalled interface references, shared by marshal.cpp, rot.cpp and the class registry: how an
// interface pointer leaves one apartment and arrives in another.
#pragma once

#include <functional>
#include <memory>

#include "platform/com/apartment_internal.h"
#include "platform/com/comtypes.h"

namespace com_internal {

/// An interface pointer on its way between apartments: a reference held for the receiver.
/// Move-only; dropping it releases the reference (on the owner's thread).
struct MarshalledRef {
  MarshalledRef() = default;
  MarshalledRef(MarshalledRef&& other) noexcept;
  MarshalledRef& operator=(MarshalledRef&& other) noexcept;
  ~MarshalledRef();

  std::shared_ptr<RemoteRef> ref;  ///< the real pointer, typed as `iid`
  IID iid = IID_IUnknown;
  IUnknown* agile = nullptr;  ///< an object usable anywhere, passed as itself (one reference)
};

/// Packs `p` (an object of the calling thread's apartment, a proxy held by it, or null) as
/// interface `iid`. E_NOINTERFACE when the object lacks `iid` or `iid` has no proxy.
HRESULT MarshalInterface(IUnknown* p, REFIID iid, MarshalledRef* out);

/// Unpacks on the calling thread: the real object on its owner's thread, else a proxy of the
/// calling apartment (null stays null). Consumes `m`.
HRESULT UnmarshalInterface(MarshalledRef&& m, REFIID iid, void** ppv);

/// Runs `produce` on `owner`'s thread; the interface pointer it returns there (one reference,
/// typed as `iid`) arrives in the calling apartment as `*ppv`.
HRESULT CallAndUnmarshal(Apartment& owner, const std::function<HRESULT(IUnknown**)>& produce,
                         REFIID iid, void** ppv);

}  // namespace com_internal
