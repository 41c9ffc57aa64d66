// Conversions between wide strings and the byte encodings of Windows code pages, and the
// UTF-8 helpers the rest of the program uses.
//
// Stands in for MultiByteToWideChar, WideCharToMultiByte, GetACP and GetOEMCP of <stringapiset.h>
// and <winnls.h>. The ANSI and OEM code pages of this system are UTF-8 (65001), as on a Windows
// installation with the "Use Unicode UTF-8 for worldwide language support" setting. Code pages:
// 65001, 874, 932, 936, 949, 950, 1250-1258, 437 and 850. Wide strings hold code points (wchar_t
// is 32 bits), so a "UTF-16 code unit" count of the Windows contract is a code point count here.
// Left out: UTF-7, GB18030 (54936), MB_COMPOSITE and the other normalisation flags (accepted,
// ignored), and the user-defined (EUDC) ranges of the double-byte code pages, which Windows maps
// to the private use area and which are treated here as invalid characters.
//
//   std::wstring name = Utf8ToWide(text);          // invalid bytes become U+FFFD
//   std::wstring old = CodePageToWide(1252, bytes);
#pragma once

#include <string>
#include <string_view>

#include "platform/win/wintypes.h"

using LPCCH = const char*;
using LPCWCH = const wchar_t*;
using LPBOOL = BOOL*;

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_OEMCP = 1;
inline constexpr UINT CP_MACCP = 2;
inline constexpr UINT CP_THREAD_ACP = 3;
inline constexpr UINT CP_UTF7 = 65000;
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD MB_PRECOMPOSED = 0x00000001;
inline constexpr DWORD MB_COMPOSITE = 0x00000002;
inline constexpr DWORD MB_USEGLYPHCHARS = 0x00000004;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;

inline constexpr DWORD WC_DISCARDNS = 0x00000010;
inline constexpr DWORD WC_SEPCHARS = 0x00000020;
inline constexpr DWORD WC_DEFAULTCHAR = 0x00000040;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
inline constexpr DWORD WC_COMPOSITECHECK = 0x00000200;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

/// The ANSI and OEM code pages: 65001 (UTF-8) on this system.
UINT GetACP();
UINT GetOEMCP();
/// True for the code pages listed at the top of this file and CP_ACP ... CP_THREAD_ACP.
BOOL IsValidCodePage(UINT code_page);

/// Converts `in_bytes` bytes of `in` (-1: up to and including its terminating zero, which is
/// then converted and counted too) from `code_page` to wide characters.
/// With `out_chars` 0 returns the number of wide characters needed and writes nothing.
/// Invalid sequences become U+FFFD (UTF-8; one per maximal ill-formed subpart) or the code
/// page's default character (U+30FB for 932, '?' for the other double-byte pages; bytes that a
/// single-byte page leaves undefined map to private-use characters as on Windows), unless
/// MB_ERR_INVALID_CHARS asks to fail with ERROR_NO_UNICODE_TRANSLATION.
/// Returns the number of characters written, or 0 with GetLastError: ERROR_INVALID_PARAMETER
/// (unknown code page, null input, `in_bytes` 0 or < -1, null output with `out_chars` > 0,
/// overlapping buffers), ERROR_INVALID_FLAGS (unknown flags; for UTF-8 any flag other than
/// MB_ERR_INVALID_CHARS), ERROR_INSUFFICIENT_BUFFER (the output was too small; its contents are
/// then unspecified). Any thread may call.
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH in, int in_bytes, LPWSTR out,
                        int out_chars);

/// Converts `in_chars` wide characters of `in` (-1: zero-terminated, zero included) to
/// `code_page`. With `out_bytes` 0 returns the number of bytes needed.
/// A character the code page lacks is written as its best fit (a letter without its accents,
/// e.g. U+0100 'Ā' -> 'A' in 1252) unless WC_NO_BEST_FIT_CHARS is given, else as `default_char`
/// (its first byte; null: '?'), and `*used_default_char` (when not null) is set TRUE.
/// For UTF-8, invalid code points (surrogates, above U+10FFFF) become U+FFFD unless
/// WC_ERR_INVALID_CHARS asks to fail with ERROR_NO_UNICODE_TRANSLATION; for UTF-8 the flags may
/// only be 0 or WC_ERR_INVALID_CHARS (else ERROR_INVALID_FLAGS), and `default_char` and
/// `used_default_char` must be null (else ERROR_INVALID_PARAMETER). WC_ERR_INVALID_CHARS with
/// another code page is ERROR_INVALID_FLAGS. Other failures as MultiByteToWideChar.
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH in, int in_chars, LPSTR out,
                        int out_bytes, LPCCH default_char, LPBOOL used_default_char);

/// UTF-8 to wide characters; each maximal ill-formed subpart becomes one U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);
/// Wide characters to UTF-8; surrogate code points and values above U+10FFFF become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);
/// True when `bytes` is well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);
/// Bytes in `code_page` to wide characters, invalid sequences replaced as MultiByteToWideChar
/// does without MB_ERR_INVALID_CHARS. An unknown code page gives an empty string.
std::wstring CodePageToWide(UINT code_page, std::string_view bytes);
/// Wide characters to `code_page`, with best fit and '?' for what the code page lacks.
std::string WideToCodePage(UINT code_page, std::wstring_view wide);
