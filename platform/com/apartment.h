// Apartments: which thread an object lives on, and the calls that other threads make into it.
//
// Stands in for CoInitialize/CoInitializeEx/CoUninitialize of ole32 (<objbase.h>). Every
// single-threaded apartment (STA) is one thread with its message queue (platform/win/msgqueue.h):
// calls from other apartments arrive there as thread messages and run when the thread pumps its
// queue, in its own message loop or while it waits for an outgoing call of its own. The
// multithreaded apartment (MTA) holds every thread that joined it. Left out: the neutral
// apartment, message filters (IMessageFilter: an STA that waits for a call dispatches every
// message of its queue), call cancellation, and out-of-process servers. Objects living in the
// MTA are not wrapped in proxies: they must be usable from any thread (free-threaded).
//
// Usage, on every thread that uses COM:
//   HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
//   ... message loop ...
//   CoUninitialize();
#pragma once

#include "platform/com/comtypes.h"

enum COINIT : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8,
};

enum APTTYPE : int {
  APTTYPE_CURRENT = -1,
  APTTYPE_STA = 0,
  APTTYPE_MTA = 1,
  APTTYPE_NA = 2,
  APTTYPE_MAINSTA = 3,
};

/// CoInitializeEx(reserved, COINIT_APARTMENTTHREADED).
HRESULT CoInitialize(LPVOID reserved);

/// Makes the calling thread a single-threaded apartment (COINIT_APARTMENTTHREADED; the thread
/// gets its message queue) or joins it to the multithreaded apartment (COINIT_MULTITHREADED).
/// S_OK the first time, S_FALSE when the thread is already in that kind of apartment (each
/// success must be balanced by CoUninitialize), RPC_E_CHANGED_MODE when it is in the other kind
/// (nothing changes, no CoUninitialize owed), E_INVALIDARG for a non-null `reserved` or unknown
/// flags. The calling thread only.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);

/// Balances one successful CoInitialize/CoInitializeEx of the calling thread. The last one ends
/// the thread's apartment: calls from other apartments still waiting for it fail with
/// RPC_E_DISCONNECTED, the references that other apartments held on its objects are released
/// here (so the objects may be destroyed now, on their own thread), and every later call through
/// a proxy to them answers RPC_E_DISCONNECTED. A thread that ends without it is treated the same
/// way when it ends. Does nothing on a thread that is not initialised.
void CoUninitialize();

/// The kind of apartment of the calling thread in `*type` (APTTYPE_STA or APTTYPE_MTA; the
/// qualifier is always 0). CO_E_NOTINITIALIZED when the thread is in none; E_INVALIDARG for null
/// pointers.
HRESULT CoGetApartmentType(APTTYPE* type, int* qualifier);
