// Loading shared libraries at run time and finding their functions and file names.
//
// Stands in for LoadLibraryW, GetProcAddress, FreeLibrary, GetModuleFileNameW and
// GetModuleHandleW/ExW of <libloaderapi.h>, over dlopen. The project builds its libraries as ELF
// shared objects under their Windows names (vantares.dll, hhctrl.ocx), so a name is taken
// literally; a name without an extension gets ".dll" as on Windows.
//
// Ordinals: ELF has no export ordinals, so a library exports the function for ordinal N also
// under the name "sheetwise_ordinal_N" (SHEETWISE_EXPORT_ORDINAL does it), and
// GetProcAddress(module, MAKEINTRESOURCEA(N)) looks that name up.
//
// Left out: LoadLibraryExW's flags, DllMain notifications, resources of modules (FindResource),
// and the Windows search order's system folders (the dynamic loader's default search stands in).
#pragma once

#include <string>

#include "platform/win/wintypes.h"

/// A function address, to be cast to the function's real type. void (*)() rather than Windows'
/// INT_PTR (*)(): GCC's -Wcast-function-type accepts casts from this type only, and the program
/// always casts what GetProcAddress returns.
using FARPROC = void (*)();

/// An ordinal as the name argument of GetProcAddress (a pointer value below 0x10000).
inline LPSTR MAKEINTRESOURCEA(WORD ordinal) {
  return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(ordinal));
}
inline bool IS_INTRESOURCE(const void* p) {
  return (reinterpret_cast<ULONG_PTR>(p) >> 16) == 0;
}

/// Exports `function` (an extern "C" function defined in the same file) under ordinal `n`.
#if defined(__clang__)
#define SHEETWISE_ORDINAL_ATTRIBUTES(function) visibility("default"), alias(#function)
#else
#define SHEETWISE_ORDINAL_ATTRIBUTES(function) \
  visibility("default"), alias(#function), copy(function)
#endif
#define SHEETWISE_EXPORT_ORDINAL(n, function) \
  extern "C" __attribute__((                  \
      SHEETWISE_ORDINAL_ATTRIBUTES(function))) decltype(function) sheetwise_ordinal_##n

inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x00000001;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x00000002;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x00000004;

/// Loads the shared library `name`. A name with a '/' is loaded from that path. A bare name is
/// searched in the executable's folder, then in the folders of the libraries the program has
/// loaded (outside the system folders), then by the dynamic loader's default search.
/// Returns the module (each load counts; FreeLibrary once per load), or null with GetLastError
/// ERROR_MOD_NOT_FOUND (missing, or a dependency missing) or ERROR_BAD_EXE_FORMAT (not a shared
/// object for this machine); LoadLibraryErrorText tells the loader's own words. Any thread.
HMODULE LoadLibraryW(LPCWSTR name);

/// The dynamic loader's message for this thread's last failed LoadLibraryW ("" after success).
std::string LoadLibraryErrorText();

/// The address of function `name` of `module` (null: the executable), or of ordinal N given as
/// MAKEINTRESOURCEA(N). Null with GetLastError ERROR_PROC_NOT_FOUND when absent,
/// ERROR_MOD_NOT_FOUND for a handle that is not a loaded module.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

/// Undoes one LoadLibraryW; the library is unloaded after the last. FALSE with
/// ERROR_INVALID_HANDLE for a handle that is not a loaded module.
BOOL FreeLibrary(HMODULE module);

/// Copies the full path of `module`'s file (null: the executable) into `buffer` of `size`
/// characters and returns its length without the zero. When it does not fit, the path is cut to
/// size - 1 characters, zero-terminated, `size` returned and ERROR_INSUFFICIENT_BUFFER set.
/// 0 with ERROR_MOD_NOT_FOUND for a handle that is not a loaded module.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

/// Null name: the executable's handle. Else the handle of the already loaded library `name`
/// (without loading it or counting a load), or null with ERROR_MOD_NOT_FOUND.
HMODULE GetModuleHandleW(LPCWSTR name);

/// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS: the module holding the address `name`; else as
/// GetModuleHandleW. Without UNCHANGED_REFCOUNT (or PIN) it counts as a load (FreeLibrary it).
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);
