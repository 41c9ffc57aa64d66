// The live link's COM registration at load: the class records of CAppEventHandler (the registry
// script, resource 1016 of type REGISTRY in the resource library) and the type library VantaLib.
//
// Threads: any thread; called at process attach.
#pragma once

#include <string>

#include "platform/win/wintypes.h"

/// The id of the class's registry script in the resource library.
inline constexpr WORD kAppEventHandlerScriptId = 1016;

/// Runs the class's registry script with registration on under HKEY_CLASSES_ROOT (%MODULE%
/// replaced by the full path of `module`), then registers the type library for that path.
/// Both are done whatever the other's outcome; returns the first failure: the script's
/// (HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND) when `resources` lacks it,
/// DISP_E_EXCEPTION when it does not parse, the settings store's error as HRESULT) or
/// RegisterTypeLib's. `*error` (when not null) says what failed.
HRESULT RegisterLinkServer(HINSTANCE module, HINSTANCE resources, std::wstring* error = nullptr);

/// Removes what RegisterLinkServer wrote: the class records (keys that the script marks
/// NoRemove stay) and the type library's registration. The first failure, as above.
HRESULT UnregisterLinkServer(HINSTANCE module, HINSTANCE resources, std::wstring* error = nullptr);
