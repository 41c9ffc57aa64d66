// The settings store: the program's registry keys and values, kept in one human-readable text
// file per user.
//
// Stands in for the registry functions of <winreg.h>. The store lives in
// $XDG_CONFIG_HOME/sheetwise/registry.txt (default ~/.config/sheetwise/registry.txt), a
// REGEDIT4-style UTF-8 text file that may be read and edited by hand. Roots: HKEY_CURRENT_USER,
// HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE and HKEY_USERS, all kept in that one per-user file
// (nothing is shared between users). Left out: security descriptors, volatile keys
// (REG_OPTION_VOLATILE keys are stored like others), symbolic links, notifications,
// RegQueryInfoKey, the 32/64-bit views, values set on a root key itself (refused with
// ERROR_ACCESS_DENIED) and class names (always empty).
//
// Sizes: REG_SZ data is wchar_t text, and wchar_t is 4 bytes here, so the size of "abc" as
// RegQueryValueExW reports it is (3 + 1) * 4 = 16 bytes, terminating zero included; size buffers
// as Windows code does (sizeof(buffer), or a count times sizeof(WCHAR)) and it works unchanged.
//
// Concurrency: any thread may call any function. Every change is written at once, atomically
// (temporary file, flush, rename), under an flock on registry.txt.lock, after re-reading the file
// under that lock, so that two processes changing the store at once lose nothing. Readers re-read
// the file whenever it changed on disk (device, inode, size, modification time).
//
// A damaged file (a syntax error, invalid UTF-8, unreadable) is reported once on stderr with its
// path and line and is never rewritten: while it stays damaged, writes (RegSetValueExW,
// RegDeleteValueW, RegDeleteKeyW, RegCreateKeyExW of a new key) fail with ERROR_BADDB (or
// ERROR_CANTREAD when the file cannot be read), and so do reads of anything the in-memory overlay
// does not hold, so the program falls back to its defaults and the user's file stays as it was.
//
//   HKEY key;
//   if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Norvane\\Sheetwise\\Settings", 0,
//                     KEY_READ, &key) == ERROR_SUCCESS) {
//     DWORD value = 0, size = sizeof(value), type = 0;
//     RegQueryValueExW(key, L"AddHeader", nullptr, &type, reinterpret_cast<LPBYTE>(&value),
//                      &size);
//     RegCloseKey(key);
//   }
#pragma once

#include <cstdint>
#include <string>

#include "platform/win/wintypes.h"

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// The predefined keys carry the Windows values, sign-extended to pointer width as <winreg.h>
// defines them: static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_USER)) == 0x80000001.
constexpr ULONG_PTR PredefinedKeyValue(DWORD value) {
  return static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(value)));
}
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(PredefinedKeyValue(0x80000000));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(PredefinedKeyValue(0x80000001));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(PredefinedKeyValue(0x80000002));
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(PredefinedKeyValue(0x80000003));

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
inline constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
inline constexpr REGSAM GENERIC_ALL = 0x10000000;
inline constexpr REGSAM GENERIC_WRITE = 0x40000000;
inline constexpr REGSAM GENERIC_READ = 0x80000000;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0000;
inline constexpr DWORD REG_OPTION_VOLATILE = 0x0001;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

/// Opens the existing key `sub_key` below `key` (a predefined root or an open key) with
/// `access`. Null or empty `sub_key` opens `key` itself again. Paths are case-insensitive.
/// Returns ERROR_SUCCESS and a handle to close with RegCloseKey, or ERROR_FILE_NOT_FOUND,
/// ERROR_INVALID_HANDLE, ERROR_BAD_PATHNAME (a leading or doubled backslash),
/// ERROR_INVALID_PARAMETER (null `result`), ERROR_BADDB / ERROR_CANTREAD (damaged file).
LONG RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM access, HKEY* result);

/// Opens `sub_key` below `key`, creating it and its missing parents (spelled as given) when it
/// does not exist; `*disposition` (when not null) says REG_CREATED_NEW_KEY or
/// REG_OPENED_EXISTING_KEY. `key` needs KEY_CREATE_SUB_KEY (else ERROR_ACCESS_DENIED).
/// `class_name`, `options` and `security` are accepted and ignored. Errors as RegOpenKeyExW.
LONG RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR class_name, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, HKEY* result,
                     LPDWORD disposition);

/// Reads value `name` (null or "" for the key's default value) of `key`, which needs
/// KEY_QUERY_VALUE. `*type` gets the type; with `data` null only `*size` is set (bytes needed);
/// otherwise `*size` holds the buffer size in bytes and gets the bytes copied, or, when too
/// small, ERROR_MORE_DATA with the size needed in `*size`. Missing value: ERROR_FILE_NOT_FOUND.
/// `data` without `size`: ERROR_INVALID_PARAMETER. A key deleted since it was opened:
/// ERROR_KEY_DELETED.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);

/// Sets value `name` (null or "" for the default value) of `key`, which needs KEY_SET_VALUE
/// (else ERROR_ACCESS_DENIED), to `size` bytes of `data` of `type`: REG_DWORD takes 4 bytes,
/// REG_SZ the text with its terminating zero ((length + 1) * sizeof(WCHAR) bytes); any type is
/// stored exactly as given. Written to the file before returning; ERROR_CANTWRITE when that
/// fails (the file is then unchanged).
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);

/// Removes value `name` of `key` (needs KEY_SET_VALUE). ERROR_FILE_NOT_FOUND when absent.
LONG RegDeleteValueW(HKEY key, LPCWSTR name);

/// Removes the key `sub_key` below `key` ("" for `key` itself) with its values. A key that has
/// subkeys is refused with ERROR_ACCESS_DENIED, as on Windows; so is a root key and a handle
/// opened without write access (stricter than Windows). ERROR_FILE_NOT_FOUND when absent.
LONG RegDeleteKeyW(HKEY key, LPCWSTR sub_key);

/// Removes the key `sub_key` below `key` with all its subkeys and values, in one write; with a
/// null or empty `sub_key`, empties `key` of its subkeys and values and keeps it. Access as
/// RegDeleteKeyW. ERROR_FILE_NOT_FOUND when absent.
LONG RegDeleteTreeW(HKEY key, LPCWSTR sub_key);

/// Closes a handle from RegOpenKeyExW or RegCreateKeyExW (a predefined root is accepted and left
/// open). ERROR_INVALID_HANDLE for anything else, including a handle closed before.
LONG RegCloseKey(HKEY key);

/// The name of the `index`th direct subkey of `key` (needs KEY_ENUMERATE_SUB_KEYS), in
/// case-insensitive alphabetical order as on Windows. `*name_chars` holds the buffer size in
/// characters and gets the name's length without the zero; too small: ERROR_MORE_DATA. Past the
/// last subkey: ERROR_NO_MORE_ITEMS. The class is empty and the time zero.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_chars, LPDWORD reserved,
                   LPWSTR class_name, LPDWORD class_chars, PFILETIME last_write_time);

/// The `index`th value of `key` (needs KEY_QUERY_VALUE) in the order the values were first set:
/// name as RegEnumKeyExW (the default value's name is ""), type and data as RegQueryValueExW.
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_chars, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD size);

/// The in-memory overlay (for `--settings FILE.ini`): lays a value over the store for this
/// process only; it is never written to the file. Reads see the overlay value in place of the
/// stored one (and its key exists for RegOpenKeyExW); writes still go to the file. `root` must
/// be a predefined key (else ERROR_INVALID_HANDLE). Any thread may call.
LONG SettingsOverlaySetDword(HKEY root, LPCWSTR sub_key, LPCWSTR name, DWORD value);
LONG SettingsOverlaySetString(HKEY root, LPCWSTR sub_key, LPCWSTR name, LPCWSTR value);
/// Removes every overlay value.
void SettingsOverlayClear();

/// The store file's path for the current environment ($XDG_CONFIG_HOME/sheetwise/registry.txt).
std::string SettingsStoreFile();
/// Re-reads the store file when it changed and says whether it is usable: ERROR_SUCCESS (also
/// for a missing file), or ERROR_BADDB / ERROR_CANTREAD with `*message` (when not null) set to
/// "PATH:LINE: what is wrong".
LONG SettingsStoreCheck(std::string* message);
/// Brings reads up to date with the store file as every read does, and answers a number that
/// changes whenever what reads see may have changed since (a new version of the file, a write of
/// this process, an overlay value): an answer derived from the store is still right while the
/// number stays. Any thread may call.
std::uint64_t SettingsStoreGeneration();
