// The basic Windows types, handles and error codes, so that code written for the Win32 and COM
// programming interfaces compiles here unchanged.
//
// Stands in for <windef.h>, <winnt.h> and <winerror.h>. Only the types and codes that this
// program meets are defined. WCHAR is wchar_t, which is 32 bits wide on Linux: wide strings hold
// Unicode code points, one per unit, and "UTF-16 code units" in a Windows contract become code
// points here.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using INT = int;
using UINT = unsigned int;
using BOOL = int;
using CHAR = char;
using WCHAR = wchar_t;
using FLOAT = float;
using DOUBLE = double;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HRESULT = LONG;
using SCODE = LONG;
using LCID = DWORD;
using LANGID = WORD;
using ATOM = WORD;
using COLORREF = DWORD;

using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PVOID = void*;

/// An opaque kernel object (event, thread, timer queue entry ...). INVALID_HANDLE_VALUE and null
/// are never valid handles.
using HANDLE = void*;
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
struct HLOCAL__;
using HLOCAL = HLOCAL__*;
struct HMENU__;
using HMENU = HMENU__*;
using REGSAM = DWORD;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr int MAX_PATH = 260;
/// The resource type of registry scripts (named "REGISTRY" on Windows; resources here are
/// numbered, see platform/win/resource.h).
inline constexpr WORD RT_REGISTRY_ID = 0x0100;

struct POINT {
  LONG x;
  LONG y;
};

/// A time stamp in 100-nanosecond intervals since 1601-01-01 UTC, split into two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

/// A queued thread message, as PeekMessageW and GetMessageW hand it out.
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

constexpr WORD LOWORD(DWORD_PTR v) {
  return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HIWORD(DWORD_PTR v) {
  return static_cast<WORD>((v >> 16) & 0xFFFF);
}
constexpr LANGID MAKELANGID(WORD primary, WORD sub) {
  return static_cast<LANGID>((sub << 10) | primary);
}
inline constexpr WORD LANG_NEUTRAL = 0x00;
inline constexpr WORD LANG_ENGLISH = 0x09;
inline constexpr WORD SUBLANG_NEUTRAL = 0x00;
inline constexpr WORD SUBLANG_DEFAULT = 0x01;

// ---- HRESULT ----------------------------------------------------------------------------------

constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}
constexpr HRESULT MAKE_HRESULT(unsigned sev, unsigned fac, unsigned code) {
  return static_cast<HRESULT>((sev << 31) | (fac << 16) | code);
}
constexpr unsigned HRESULT_FACILITY(HRESULT hr) {
  return (static_cast<DWORD>(hr) >> 16) & 0x1FFF;
}
constexpr unsigned HRESULT_CODE(HRESULT hr) {
  return static_cast<DWORD>(hr) & 0xFFFF;
}
inline constexpr unsigned FACILITY_ITF = 4;
inline constexpr unsigned FACILITY_WIN32 = 7;
/// A Win32 error code as an HRESULT: 0x80070000 | code; ERROR_SUCCESS (0) and values that are
/// already HRESULTs stay as they are.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD code) {
  return static_cast<HRESULT>(code) <= 0 ? static_cast<HRESULT>(code)
                                         : static_cast<HRESULT>((code & 0xFFFF) | 0x80070000u);
}

#define SW_HR(name, value) inline constexpr HRESULT name = static_cast<HRESULT>(value##u)
SW_HR(S_OK, 0x00000000);
SW_HR(S_FALSE, 0x00000001);
SW_HR(E_UNEXPECTED, 0x8000FFFF);
SW_HR(E_NOTIMPL, 0x80004001);
SW_HR(E_NOINTERFACE, 0x80004002);
SW_HR(E_POINTER, 0x80004003);
SW_HR(E_ABORT, 0x80004004);
SW_HR(E_FAIL, 0x80004005);
SW_HR(E_ACCESSDENIED, 0x80070005);
SW_HR(E_HANDLE, 0x80070006);
SW_HR(E_OUTOFMEMORY, 0x8007000E);
SW_HR(E_INVALIDARG, 0x80070057);
SW_HR(CLASS_E_NOAGGREGATION, 0x80040110);
SW_HR(CLASS_E_CLASSNOTAVAILABLE, 0x80040111);
SW_HR(REGDB_E_CLASSNOTREG, 0x80040154);
SW_HR(REGDB_E_IIDNOTREG, 0x80040155);
SW_HR(REGDB_E_READREGDB, 0x80040150);
SW_HR(OLE_E_NOTRUNNING, 0x80040005);
SW_HR(CONNECT_E_NOCONNECTION, 0x80040200);
SW_HR(CONNECT_E_ADVISELIMIT, 0x80040201);
SW_HR(CONNECT_E_CANNOTCONNECT, 0x80040202);
SW_HR(CONNECT_E_OVERRIDDEN, 0x80040203);
SW_HR(MK_E_UNAVAILABLE, 0x800401E3);
SW_HR(CO_E_CLASSSTRING, 0x800401F3);
SW_HR(CO_E_NOTINITIALIZED, 0x800401F0);
SW_HR(CO_E_OBJNOTCONNECTED, 0x800401FD);
SW_HR(RPC_E_CHANGED_MODE, 0x80010106);
SW_HR(RPC_E_WRONG_THREAD, 0x8001010E);
SW_HR(RPC_E_DISCONNECTED, 0x80010108);
SW_HR(RPC_E_SERVER_DIED_DNE, 0x80010012);
SW_HR(DISP_E_UNKNOWNINTERFACE, 0x80020001);
SW_HR(DISP_E_MEMBERNOTFOUND, 0x80020003);
SW_HR(DISP_E_PARAMNOTFOUND, 0x80020004);
SW_HR(DISP_E_TYPEMISMATCH, 0x80020005);
SW_HR(DISP_E_UNKNOWNNAME, 0x80020006);
SW_HR(DISP_E_NONAMEDARGS, 0x80020007);
SW_HR(DISP_E_BADVARTYPE, 0x80020008);
SW_HR(DISP_E_EXCEPTION, 0x80020009);
SW_HR(DISP_E_OVERFLOW, 0x8002000A);
SW_HR(DISP_E_BADINDEX, 0x8002000B);
SW_HR(DISP_E_UNKNOWNLCID, 0x8002000C);
SW_HR(DISP_E_ARRAYISLOCKED, 0x8002000D);
SW_HR(DISP_E_BADPARAMCOUNT, 0x8002000E);
SW_HR(DISP_E_PARAMNOTOPTIONAL, 0x8002000F);
SW_HR(TYPE_E_ELEMENTNOTFOUND, 0x8002802B);
SW_HR(TYPE_E_LIBNOTREGISTERED, 0x8002801D);
SW_HR(TYPE_E_CANTLOADLIBRARY, 0x80029C4A);
#undef SW_HR

// ---- Win32 error codes (GetLastError) ---------------------------------------------------------

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_INVALID_FUNCTION = 1;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_PATH_NOT_FOUND = 3;
inline constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_BAD_FORMAT = 11;
inline constexpr LONG ERROR_INVALID_DATA = 13;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_SHARING_VIOLATION = 32;
inline constexpr LONG ERROR_NOT_SUPPORTED = 50;
inline constexpr LONG ERROR_FILE_EXISTS = 80;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LONG ERROR_INVALID_NAME = 123;
inline constexpr LONG ERROR_MOD_NOT_FOUND = 126;
inline constexpr LONG ERROR_PROC_NOT_FOUND = 127;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_ALREADY_EXISTS = 183;
inline constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr LONG ERROR_NOACCESS = 998;
inline constexpr LONG ERROR_INVALID_FLAGS = 1004;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_BADKEY = 1010;
inline constexpr LONG ERROR_CANTOPEN = 1011;
inline constexpr LONG ERROR_CANTREAD = 1012;
inline constexpr LONG ERROR_CANTWRITE = 1013;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr LONG ERROR_NO_ASSOCIATION = 1155;
inline constexpr LONG ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr LONG ERROR_INVALID_MENU_HANDLE = 1401;
inline constexpr LONG ERROR_INVALID_THREAD_ID = 1444;
inline constexpr LONG ERROR_MENU_ITEM_NOT_FOUND = 1456;
inline constexpr LONG ERROR_TIMEOUT = 1460;
inline constexpr LONG ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr LONG ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr LONG ERROR_RESOURCE_LANG_NOT_FOUND = 1815;
inline constexpr LONG ERROR_NOT_ENOUGH_QUOTA = 1816;

/// The calling thread's last error, as SetLastError left it. Thread-local.
DWORD GetLastError();
void SetLastError(DWORD code);
