// Opening documents and web pages with the user's programs, starting programs, and the user's
// special folders.
//
// Stands in for ShellExecuteW and SHGetSpecialFolderPathW of <shellapi.h> / <shlobj.h> and for
// WinExec of <winbase.h>. Documents, folders and URLs are opened with the desktop's opener,
// xdg-open, or the command named by the environment variable SHEETWISE_OPENER (tests set it, so
// that no browser ever opens); the opener gets the absolute path or the URL as its one argument.
// Programs are started without waiting for them; they are not children the caller has to reap.
// Left out: verbs other than open/explore (edit, print ... answer SE_ERR_NOASSOC), the show
// command (windows are the started program's business), and the CSIDL folders other than
// CSIDL_APPDATA, CSIDL_LOCAL_APPDATA and CSIDL_PERSONAL.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win/wintypes.h"

inline constexpr INT SW_HIDE = 0;
inline constexpr INT SW_SHOWNORMAL = 1;
inline constexpr INT SW_SHOW = 5;

inline constexpr int SE_ERR_FNF = 2;
inline constexpr int SE_ERR_PNF = 3;
inline constexpr int SE_ERR_ACCESSDENIED = 5;
inline constexpr int SE_ERR_OOM = 8;
inline constexpr int SE_ERR_NOASSOC = 31;

inline constexpr int CSIDL_PERSONAL = 0x0005;
inline constexpr int CSIDL_APPDATA = 0x001A;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
inline constexpr int CSIDL_FLAG_CREATE = 0x8000;

/// Opens `file` with `verb` (null, "open" or "explore"; others: SE_ERR_NOASSOC): a URL
/// (scheme:...) is passed to the opener as it is; a local file or folder (relative to `dir`
/// when given, else to the working folder) must exist and is passed as an absolute path; an
/// executable file is started itself with `params` as its command line (split as Windows
/// programs split theirs), in `dir` when given. Does not wait.
/// Returns a value greater than 32 on success, else, cast to HINSTANCE, SE_ERR_FNF (missing
/// file), SE_ERR_PNF (missing folder), SE_ERR_ACCESSDENIED, SE_ERR_NOASSOC (no opener found, or
/// an unsupported verb), or 0 when no process could be created; GetLastError tells the matching
/// Win32 error. Any thread may call.
HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR verb, LPCWSTR file, LPCWSTR params, LPCWSTR dir,
                        INT show);

/// Starts the program named by the first word of `command_line` (quoted when it has spaces;
/// searched in PATH when it has no '/') with the rest as its arguments, without waiting.
/// Returns a value greater than 31 on success, else ERROR_FILE_NOT_FOUND (2),
/// ERROR_PATH_NOT_FOUND (3), ERROR_BAD_FORMAT (11, not executable) or 0 (out of resources).
UINT WinExec(LPCSTR command_line, UINT show);

/// Copies the folder `csidl` (with CSIDL_FLAG_CREATE or `create` it is created when missing)
/// into `path`, which must hold MAX_PATH characters: CSIDL_APPDATA is the XDG configuration
/// folder, CSIDL_LOCAL_APPDATA the XDG data folder, CSIDL_PERSONAL the home folder. Returns
/// FALSE for another folder, a folder that does not exist and was not to be created, one that
/// cannot be created, or a path of MAX_PATH characters or more.
BOOL SHGetSpecialFolderPathW(HWND hwnd, LPWSTR path, int csidl, BOOL create);

/// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (no trailing slash).
std::string XdgConfigHome();
/// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share.
std::string XdgDataHome();

/// Splits a Windows command line into arguments as CommandLineToArgvW and the C runtime do:
/// blanks separate arguments, double quotes group, 2n backslashes before a quote give n
/// backslashes, 2n+1 give n and a literal quote, "" inside quotes is a literal quote, other
/// backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view command_line);
