// Reading and writing INI files ("profile files") as Windows programs do, keeping everything
// the call does not change exactly as it was.
//
// Stands in for GetPrivateProfileStringW, GetPrivateProfileIntW and WritePrivateProfileStringW
// of <winbase.h>. Sections and keys are case-insensitive (Unicode letters too); blanks around
// keys and values are ignored; a value in matching double or single quotes is read without
// them; the first of duplicate sections or keys wins, as on Windows; lines starting with ';'
// are comments. Files are UTF-8 (a BOM is kept) or UTF-16LE with a BOM, as Windows programs
// write them, and are written back in the encoding, line ends (CRLF or LF) and byte layout they
// had: only the changed lines differ. A new file is UTF-8 with LF line ends. Every write replaces
// the file atomically (temporary file, flush, rename). A file name without a folder refers to
// the program's settings folder ($XDG_CONFIG_HOME/sheetwise/), as Windows uses its own folder
// for one. Left out: the mapping of profile files to the registry, the profile cache (every call
// reads the file), and the section functions (GetPrivateProfileSectionW ...).
// Any thread may call; calls on the same file are serialized within the process.
#pragma once

#include "platform/win/wintypes.h"

/// Copies the value of `key` in `section` of `file` into `buffer` (`size` characters), or
/// `default_value` (null: "", trailing blanks removed) when there is none or the file does not
/// exist. A value longer than the buffer is cut to size - 1 characters and size - 1 returned.
/// With a null `section` copies every section name, with a null `key` every key of the section,
/// each zero-terminated, the list ending with a second zero; a list that does not fit is cut
/// and size - 2 returned. Returns the number of characters copied, without the final zero;
/// 0 for a null buffer or size 0.
DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR default_value, LPWSTR buffer,
                               DWORD size, LPCWSTR file);

/// The value of `key` as a decimal integer: leading blanks skipped, an optional sign, the
/// digits up to the first other character ("12abc" is 12, "abc" is 0); a negative value is
/// returned as its two's complement. `default_value` when the key is missing or empty.
UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT default_value, LPCWSTR file);

/// Sets `key` in `section` of `file` to `value`: the key's line is rewritten in place, a new
/// key goes after the section's last key, a new section at the end of the file, and the file is
/// created when missing. A null `value` deletes the key; a null `key` deletes the section with
/// all its lines. Returns TRUE, or FALSE with GetLastError (ERROR_INVALID_PARAMETER for a null
/// section or file, ERROR_ACCESS_DENIED / ERROR_PATH_NOT_FOUND / ERROR_CANTWRITE when the file
/// cannot be written; it is then unchanged).
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);
