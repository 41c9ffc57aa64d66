// Resources of a module (strings, dialog templates, menus, scripts) found by type and id.
//
// Stands in for FindResourceW, LoadResource, LockResource, SizeofResource and LoadStringW of
// <winuser.h>/<libloaderapi.h>. ELF has no resource section, so a resource library exports,
// with C linkage, one function that lists its resources:
//
//   extern "C" const SwResource* sheetwise_resources(size_t* count);
//
// Each entry names its type (RT_STRING, RT_DIALOG, RT_MENU, RT_RCDATA or a type of its own by
// number), its id and its bytes. A string resource holds one string (wchar_t text, zero
// terminated; `size` counts bytes without the zero), not Windows' blocks of sixteen. Dialog and
// menu templates are UTF-8 text in the dialog engine's template format.
//
// Left out: resources by name rather than number, languages (one language per module), and
// resources of the executable itself (a null module is answered from the host's own table,
// which is empty).
#pragma once

#include <cstddef>

#include "platform/win/wintypes.h"

struct SwResource {
  WORD type;
  WORD id;
  const void* data;
  size_t size;
};

/// The function a resource library exports (SW_RESOURCE_EXPORT is its name).
using SwResourceList = const SwResource* (*)(size_t* count);
#define SW_RESOURCE_EXPORT "sheetwise_resources"

struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;

inline constexpr WORD RT_MENU_ID = 4;
inline constexpr WORD RT_DIALOG_ID = 5;
inline constexpr WORD RT_STRING_ID = 6;
inline constexpr WORD RT_RCDATA_ID = 10;

inline LPWSTR MAKEINTRESOURCEW(WORD id) {
  return reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(id));
}
#define RT_MENU MAKEINTRESOURCEW(RT_MENU_ID)
#define RT_DIALOG MAKEINTRESOURCEW(RT_DIALOG_ID)
#define RT_STRING MAKEINTRESOURCEW(RT_STRING_ID)
#define RT_RCDATA MAKEINTRESOURCEW(RT_RCDATA_ID)

/// The resource `name` (MAKEINTRESOURCEW(id)) of `type` (RT_... or MAKEINTRESOURCEW(n)) in
/// `module`. Null with ERROR_RESOURCE_TYPE_NOT_FOUND when the module lists no resources,
/// ERROR_RESOURCE_NAME_NOT_FOUND when it lacks that one, ERROR_INVALID_HANDLE for a handle
/// that is not a loaded module. Any thread.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
/// The resource's bytes (they live as long as the module stays loaded).
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);

/// Copies string `id` of `module` into `buffer` (`size` characters, cut to size - 1 and zero
/// terminated) and returns its length; 0 (and an empty buffer) when the module lacks it. With
/// size 0 stores a read-only pointer to the string in *buffer and returns its length.
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);
