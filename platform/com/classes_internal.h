// The class registry's seam for the apartment layer: which thread registered a class object,
// and the hook through which CoGetClassObject hands a class object to another thread.
#pragma once

#include "platform/com/comtypes.h"

namespace sw::com {

/// The thread id (GetCurrentThreadId) of the thread that registered the class object that
/// CoGetClassObject would find for `clsid` and `context`; 0 when there is none.
DWORD ClassRegisteringThread(REFCLSID clsid, DWORD context);

/// Called by CoGetClassObject when the calling thread is not the one that registered the class
/// object for `clsid` and `context`, `owner_thread`. The hook answers as CoGetClassObject would,
/// typically by running CoGetClassObject on the owner's thread (where it finds the object
/// directly) and handing back a proxy for `riid`. The class object is not touched on the calling
/// thread: its reference count may belong to its apartment alone. Without a hook the class
/// object itself is queried, as for a free-threaded class; so it is when the hook answers S_FALSE
/// (the registering thread is in no apartment). The apartment layer installs its hook
/// once at start.
using CrossThreadClassHook = HRESULT (*)(DWORD owner_thread, REFCLSID clsid, DWORD context,
                                         REFIID riid, void** ppv);
/// Installs `hook` (null removes it) and returns the one installed before.
CrossThreadClassHook SetCrossThreadClassHook(CrossThreadClassHook hook);

}  // namespace sw::com
