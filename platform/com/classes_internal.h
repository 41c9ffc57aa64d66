// The class registry's seam for the apartment layer: which thread registered a class object,
// and the hook through which CoGetClassObject hands a class object to another thread.
#pragma once

#include "platform/com/comtypes.h"

namespace sw::com {

/// The thread id (GetCurrentThreadId) of the thread that registered the class object that
/// CoGetClassObject would find for `clsid` and `context`; 0 when there is none.
DWORD ClassRegisteringThread(REFCLSID clsid, DWORD context);

/// Called by CoGetClassObject when the calling thread is not the one that registered the class
/// object: `factory` is the class object (the caller keeps its reference), `owner_thread` the
/// registering thread. The hook answers as CoGetClassObject would, typically with a proxy for
/// `riid` that runs calls on the owner's thread. Without a hook the class object itself is
/// queried, as for a free-threaded class. The apartment layer installs its hook once at start.
using CrossThreadClassHook = HRESULT (*)(DWORD owner_thread, IUnknown* factory, REFIID riid,
                                         void** ppv);
void SetCrossThreadClassHook(CrossThreadClassHook hook);

}  // namespace sw::com
