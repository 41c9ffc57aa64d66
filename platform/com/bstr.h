// BSTR allocation: length-prefixed, zero-terminated wide strings that cross COM boundaries.
//
// Stands in for the BSTR functions of oleaut32 (<oleauto.h>). Left out: the BSTR cache and
// SysAllocStringByteLen's odd-byte strings (a BSTR here always holds whole OLECHARs).
//
// Layout: a 32-bit byte count sits right before the text, and one zero OLECHAR follows the
// text, so a BSTR can be passed wherever a zero-terminated wide string is expected, but may also
// hold embedded zeros (SysStringLen, not wcslen, gives its length). Every function here may be
// called from any thread.
#pragma once

#include "platform/com/comtypes.h"

/// A new BSTR holding a copy of the zero-terminated `text`. A null `text` gives null (the empty
/// BSTR). Out of memory gives null.
[[nodiscard]] BSTR SysAllocString(const OLECHAR* text);

/// A new BSTR of `length` characters copied from `text`, which may hold zeros. A null `text`
/// gives `length` zero characters, to be filled by the caller. Out of memory, or a length whose
/// byte count does not fit 32 bits, gives null.
[[nodiscard]] BSTR SysAllocStringLen(const OLECHAR* text, UINT length);

/// A new BSTR of `bytes / sizeof(OLECHAR)` characters copied from the bytes of `text` (null:
/// zeroed). A byte count that is not a whole number of characters is rounded down.
[[nodiscard]] BSTR SysAllocStringByteLen(const char* text, UINT bytes);

/// Frees a BSTR made by the functions above. Null is allowed and does nothing.
void SysFreeString(BSTR text);

/// The number of characters in `text`, embedded zeros included; 0 for null.
UINT SysStringLen(BSTR text);

/// The number of bytes in `text` (characters * sizeof(OLECHAR)); 0 for null.
UINT SysStringByteLen(BSTR text);

/// Replaces `*target` with a new copy of the zero-terminated `text` and frees the old string
/// (`text` may point into the old string). Returns FALSE, leaving `*target` as it was, when out
/// of memory or when `target` is null.
INT SysReAllocString(BSTR* target, const OLECHAR* text);

/// As SysReAllocString, with `length` characters from `text` (null: zeroed).
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
