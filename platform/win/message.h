// Error texts, message boxes and beeps.
//
// Stands in for FormatMessageW, LocalAlloc/LocalFree, MessageBoxW and MessageBeep of
// <winbase.h> and <winuser.h>. The system message table holds the English texts of the Win32
// errors and HRESULTs this program can meet, worded as Windows shows them, each ending in "\r\n".
// A message box is shown by a presenter: by default the console presenter, which writes caption,
// text and buttons to stderr and reads the answer from a line source (stdin by default; the host
// plugs in its script reader). Left out: message tables of modules (FORMAT_MESSAGE_FROM_HMODULE
// finds nothing), languages other than English, line wrapping at a given width (widths 1-254
// behave as 0), MB_HELP, and MessageBoxW's window ownership.
#pragma once

#include <cstdarg>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win/wintypes.h"

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
inline constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
inline constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

inline constexpr UINT LMEM_FIXED = 0x0000;
inline constexpr UINT LMEM_ZEROINIT = 0x0040;
inline constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

/// Formats a message: the system text of `message_id` (FROM_SYSTEM; a Win32 error, an HRESULT,
/// or a Win32 error wrapped as HRESULT 0x8007xxxx) or the string `source` (FROM_STRING).
/// Inserts %1..%99 (with an optional printf format in !...!, default !s! for a wide string) are
/// taken from `arguments` (a va_list*, or with ARGUMENT_ARRAY a DWORD_PTR array); %n is "\r\n",
/// %% a percent sign, %0 ends the text without its line end. With IGNORE_INSERTS the inserts are
/// kept as written. With MAX_WIDTH_MASK (0xFF) line breaks of the text become blanks.
/// `language` must be 0 or English (else ERROR_RESOURCE_LANG_NOT_FOUND).
/// Without ALLOCATE_BUFFER the text goes to `buffer` (`size` characters; too small:
/// ERROR_INSUFFICIENT_BUFFER); with it `buffer` is really an LPWSTR* that receives a buffer from
/// LocalAlloc (at least `size` characters) to free with LocalFree.
/// Returns the number of characters stored without the zero, or 0 with GetLastError:
/// ERROR_MR_MID_NOT_FOUND (no text for the id), ERROR_INVALID_PARAMETER (inserts without
/// arguments, null buffer or source), ERROR_RESOURCE_LANG_NOT_FOUND. Any thread may call.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language, LPWSTR buffer,
                     DWORD size, va_list* arguments);

/// Allocates `bytes` bytes (zeroed with LMEM_ZEROINIT); null when out of memory.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
/// Frees what LocalAlloc (or FormatMessageW's ALLOCATE_BUFFER) allocated; null is accepted.
/// Returns null.
HLOCAL LocalFree(HLOCAL memory);

inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_RETRYCANCEL = 0x00000005;
inline constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
inline constexpr UINT MB_TYPEMASK = 0x0000000F;
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0x000000F0;
inline constexpr UINT MB_DEFBUTTON1 = 0x00000000;
inline constexpr UINT MB_DEFBUTTON2 = 0x00000100;
inline constexpr UINT MB_DEFBUTTON3 = 0x00000200;
inline constexpr UINT MB_DEFBUTTON4 = 0x00000300;
inline constexpr UINT MB_DEFMASK = 0x00000F00;
inline constexpr UINT MB_APPLMODAL = 0x00000000;
inline constexpr UINT MB_SYSTEMMODAL = 0x00001000;
inline constexpr UINT MB_TASKMODAL = 0x00002000;
inline constexpr UINT MB_SETFOREGROUND = 0x00010000;
inline constexpr UINT MB_TOPMOST = 0x00040000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDTRYAGAIN = 10;
inline constexpr int IDCONTINUE = 11;

/// Where console answers come from: the next line, looked at (Peek) before it is consumed
/// (Take), so that a script line that is not an answer stays for the next prompt.
class LineSource {
 public:
  virtual ~LineSource() = default;
  /// The next line without its line end, or nullopt at the end of input. Does not consume.
  virtual std::optional<std::string> Peek() = 0;
  /// Consumes and returns the next line (nullopt at the end of input).
  virtual std::optional<std::string> Take() = 0;
  /// True when a person types the lines (a terminal): an unknown answer is asked again.
  /// False for a script or a pipe: an unknown line is left unread and the default taken.
  virtual bool Interactive() const = 0;
};

/// The standard input as a line source (UTF-8 lines; "\r\n" accepted); interactive when it is a
/// terminal.
std::shared_ptr<LineSource> StdinLineSource();

/// Shows a message box and returns the chosen button's id.
class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  virtual int Present(HWND owner, std::wstring_view text, std::wstring_view caption, UINT type) = 0;
};

/// The console presenter: writes
///   CAPTION (icon word)
///   TEXT
///   [Yes] No Cancel?
/// to `out` (the default button in brackets) and reads one line from `source`: a button's name
/// (case-insensitive, blanks ignored) chooses it, an empty line the default button. At the end of
/// input the default button is taken at once. A line that is no button name is asked again when
/// the source is interactive; from a script it is left for the next prompt and the default
/// button taken. `source` null: the current line source (SetMessageBoxLineSource).
std::shared_ptr<MessageBoxPresenter> ConsoleMessageBoxPresenter(
    std::shared_ptr<LineSource> source = nullptr, std::FILE* out = stderr);

/// Replaces the presenter MessageBoxW uses (null: the console presenter); returns the previous
/// one. Any thread may call.
std::shared_ptr<MessageBoxPresenter> SetMessageBoxPresenter(
    std::shared_ptr<MessageBoxPresenter> presenter);
/// Replaces the line source of the console presenter (null: stdin); returns the previous one.
std::shared_ptr<LineSource> SetMessageBoxLineSource(std::shared_ptr<LineSource> source);
/// The line source that console message boxes and dialogs read (stdin when none was set), so
/// that a dialog of a script reads the script's next lines. Any thread.
std::shared_ptr<LineSource> CurrentLineSource();

/// Shows `text` (null: "") with `caption` (null: "Error") and the buttons and icon of `type`
/// through the current presenter; returns IDOK, IDCANCEL, IDYES ... The default button is
/// MB_DEFBUTTON1..4, the first one when the type has fewer buttons. Blocks until answered.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

/// Rings the terminal bell (BEL on stderr) when stderr is a terminal. Returns TRUE.
BOOL MessageBeep(UINT type);
