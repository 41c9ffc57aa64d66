// GUIDs as text: StringFromGUID2, CLSIDFromString, IIDFromString, CLSIDFromProgID.
//
// Stands in for those functions of ole32 (<combaseapi.h>). Left out: StringFromCLSID and
// ProgIDFromCLSID (they return task-allocated memory the program never asks for). Any thread may
// call each function.
#pragma once

#include "platform/com/comtypes.h"

/// Writes `guid` as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case, 38 characters and a
/// zero) into `out`. Returns the characters written including the zero (39), or 0 when `max` is
/// below 39 or `out` is null.
int StringFromGUID2(REFGUID guid, LPOLESTR out, int max);

/// Reads a class id: the braced form above (either case), or else a ProgID looked up as
/// CLSIDFromProgID does. A null text gives CLSID_NULL. CO_E_CLASSSTRING for text that is
/// neither, E_INVALIDARG for a null `clsid`.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);

/// Reads an interface id in the braced form; a null text gives IID_NULL. CO_E_IIDSTRING for
/// anything else, E_INVALIDARG for a null `iid`.
HRESULT IIDFromString(LPCOLESTR text, IID* iid);

/// The class id registered for `progid`: the default value of
/// HKEY_CLASSES_ROOT\<progid>\CLSID in the settings store (platform/win/registry.h).
/// CO_E_CLASSSTRING when the ProgID is not registered or its value is not a braced GUID,
/// E_INVALIDARG for null arguments.
HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);
