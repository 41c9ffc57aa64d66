// The running-object table: the objects a program announces as running, by class, so that other
// code (and other apartments) can find them with GetActiveObject.
//
// Stands in for RegisterActiveObject, RevokeActiveObject and GetActiveObject of oleaut32 and the
// part of ole32's running-object table behind them. The table belongs to this process: there is
// no IRunningObjectTable, no monikers, and no other processes.
#pragma once

#include "platform/com/comtypes.h"

/// RegisterActiveObject flags: the table holds a reference (strong), or only the pointer (weak;
/// the object must revoke itself before it is destroyed).
inline constexpr DWORD ACTIVEOBJECT_STRONG = 0x0;
inline constexpr DWORD ACTIVEOBJECT_WEAK = 0x1;

/// Registered, but another object of the same class was registered already (it stays the one
/// GetActiveObject finds until it is revoked).
inline constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = static_cast<HRESULT>(0x000401E7u);

/// Announces `unk` as the running object of class `clsid`, owned by the calling thread's
/// apartment, and returns a non-zero cookie for RevokeActiveObject. S_OK, or
/// MK_S_MONIKERALREADYREGISTERED (see above); E_INVALIDARG for null pointers or unknown flags;
/// CO_E_NOTINITIALIZED when the thread is in no apartment. The entry goes away when revoked or
/// when the owning apartment ends.
HRESULT RegisterActiveObject(IUnknown* unk, REFCLSID clsid, DWORD flags, DWORD* cookie);

/// Removes the entry `cookie` (its reference is released on the owner's thread). Any thread.
/// E_INVALIDARG for an unknown cookie or a non-null `reserved`.
HRESULT RevokeActiveObject(DWORD cookie, LPVOID reserved);

/// The running object of class `clsid` (its IUnknown): the object itself when the calling
/// thread is in the apartment that registered it, else a proxy to that apartment (the call then
/// waits for that thread, as every cross-apartment call does). MK_E_UNAVAILABLE when none is
/// registered (or its apartment has ended); E_INVALIDARG for null `unk` or non-null `reserved`;
/// CO_E_NOTINITIALIZED when the thread is in no apartment.
HRESULT GetActiveObject(REFCLSID clsid, LPVOID reserved, IUnknown** unk);
