// Windows of open dialogs as an in-memory model: handles, styles, texts, states and the messages
// that standard controls answer (buttons, edits, statics, up-down, list view, tab, tooltip).
//
// Stands in for the window and control parts of <winuser.h> and <commctrl.h>. There is no
// window manager and nothing is drawn: a dialog's controls are records behind plain HWND
// values, created from a dialog template when the dialog opens and destroyed when it closes.
// Messages are delivered at once (SendMessageW); a control that notifies its parent
// (WM_COMMAND, WM_NOTIFY) calls the parent's window procedure the same way. Constants and
// structures carry their Windows values and layouts.
//
// Threads: a window belongs to the thread that created it; only that thread may call these
// functions with its handle. Looking a handle up is safe from any thread (a stale handle is
// refused with ERROR_INVALID_WINDOW_HANDLE).
//
//   CheckDlgButton(dialog, 1011, BST_CHECKED);
//   SendDlgItemMessageW(dialog, 1007, UDM_SETRANGE, 0, MAKELPARAM(1000, 0));
//   int rows = static_cast<int>(SendDlgItemMessageW(dialog, 1005, LVM_GETITEMCOUNT, 0, 0));
#pragma once

#include <string>

#include "platform/win/shell.h"  // SW_HIDE, SW_SHOW
#include "platform/win/wintypes.h"

struct HFONT__;
using HFONT = HFONT__*;
struct HCURSOR__;
using HCURSOR = HCURSOR__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
  return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr LONG MAKELONG(WORD low, WORD high) {
  return static_cast<LONG>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

// ---- Window messages ---------------------------------------------------------------------------
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_SETCURSOR = 0x0020;
inline constexpr UINT WM_NEXTDLGCTL = 0x0028;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_HELP = 0x0053;
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;

// ---- Styles ------------------------------------------------------------------------------------
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_EX_CONTEXTHELP = 0x00000400;

inline constexpr DWORD BS_PUSHBUTTON = 0x0;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
inline constexpr DWORD BS_AUTOCHECKBOX = 0x3;
inline constexpr DWORD BS_GROUPBOX = 0x7;
inline constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
inline constexpr DWORD BS_OWNERDRAW = 0xB;
inline constexpr DWORD BS_TYPEMASK = 0xF;
inline constexpr DWORD SS_LEFT = 0x0;
inline constexpr DWORD SS_CENTER = 0x1;
inline constexpr DWORD SS_RIGHT = 0x2;
inline constexpr DWORD SS_NOTIFY = 0x100;
inline constexpr DWORD SS_CENTERIMAGE = 0x200;
inline constexpr DWORD ES_READONLY = 0x0800;
inline constexpr DWORD ES_NUMBER = 0x2000;
inline constexpr DWORD UDS_WRAP = 0x1;
inline constexpr DWORD UDS_SETBUDDYINT = 0x2;
inline constexpr DWORD LVS_REPORT = 0x1;
inline constexpr DWORD LVS_SINGLESEL = 0x4;

inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;

// ---- Buttons, statics, edits ------------------------------------------------------------------
inline constexpr UINT BM_GETCHECK = 0x00F0;
inline constexpr UINT BM_SETCHECK = 0x00F1;
inline constexpr UINT BM_CLICK = 0x00F5;
inline constexpr UINT BST_UNCHECKED = 0;
inline constexpr UINT BST_CHECKED = 1;
inline constexpr UINT BST_INDETERMINATE = 2;
inline constexpr WORD BN_CLICKED = 0;
inline constexpr WORD STN_CLICKED = 0;
inline constexpr WORD EN_CHANGE = 0x0300;

// ---- Notifications ----------------------------------------------------------------------------
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};
using LPNMHDR = NMHDR*;
inline constexpr UINT NM_CLICK = static_cast<UINT>(-2);
inline constexpr UINT NM_RCLICK = static_cast<UINT>(-5);

// ---- Up-down control ---------------------------------------------------------------------------
inline constexpr UINT UDM_SETRANGE = 0x0400 + 101;
inline constexpr UINT UDM_GETRANGE = 0x0400 + 102;
inline constexpr UINT UDM_SETPOS = 0x0400 + 103;
inline constexpr UINT UDM_GETPOS = 0x0400 + 104;
inline constexpr UINT UDM_SETBUDDY = 0x0400 + 105;
inline constexpr UINT UDM_GETBUDDY = 0x0400 + 106;
inline constexpr UINT UDM_SETBASE = 0x0400 + 109;
inline constexpr UINT UDM_GETBASE = 0x0400 + 110;
inline constexpr UINT UDM_SETRANGE32 = 0x0400 + 111;
inline constexpr UINT UDM_GETRANGE32 = 0x0400 + 112;
inline constexpr UINT UDM_SETPOS32 = 0x0400 + 113;
inline constexpr UINT UDM_GETPOS32 = 0x0400 + 114;
inline constexpr UINT UDN_DELTAPOS = static_cast<UINT>(-722);
struct NMUPDOWN {
  NMHDR hdr;
  int iPos;
  int iDelta;
};
using LPNMUPDOWN = NMUPDOWN*;

// ---- List view ---------------------------------------------------------------------------------
inline constexpr UINT LVM_FIRST = 0x1000;
inline constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
inline constexpr UINT LVM_DELETEITEM = LVM_FIRST + 8;
inline constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
inline constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
inline constexpr UINT LVM_ENSUREVISIBLE = LVM_FIRST + 19;
inline constexpr UINT LVM_DELETECOLUMN = LVM_FIRST + 28;
inline constexpr UINT LVM_GETCOLUMNWIDTH = LVM_FIRST + 29;
inline constexpr UINT LVM_SETCOLUMNWIDTH = LVM_FIRST + 30;
inline constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;
inline constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
inline constexpr UINT LVM_GETSELECTEDCOUNT = LVM_FIRST + 50;
inline constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;
inline constexpr UINT LVM_GETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 55;
inline constexpr UINT LVM_GETITEMW = LVM_FIRST + 75;
inline constexpr UINT LVM_SETITEMW = LVM_FIRST + 76;
inline constexpr UINT LVM_INSERTITEMW = LVM_FIRST + 77;
inline constexpr UINT LVM_FINDITEMW = LVM_FIRST + 83;
inline constexpr UINT LVM_INSERTCOLUMNW = LVM_FIRST + 97;
inline constexpr UINT LVM_GETITEMTEXTW = LVM_FIRST + 115;
inline constexpr UINT LVM_SETITEMTEXTW = LVM_FIRST + 116;
inline constexpr UINT LVM_FINDITEM = LVM_FINDITEMW;

inline constexpr UINT LVNI_ALL = 0x0;
inline constexpr UINT LVNI_FOCUSED = 0x1;
inline constexpr UINT LVNI_SELECTED = 0x2;
inline constexpr UINT LVIS_FOCUSED = 0x1;
inline constexpr UINT LVIS_SELECTED = 0x2;
inline constexpr UINT LVIF_TEXT = 0x1;
inline constexpr UINT LVIF_PARAM = 0x4;
inline constexpr UINT LVIF_STATE = 0x8;
inline constexpr UINT LVCF_FMT = 0x1;
inline constexpr UINT LVCF_WIDTH = 0x2;
inline constexpr UINT LVCF_TEXT = 0x4;
inline constexpr int LVCFMT_LEFT = 0;
inline constexpr UINT LVFI_PARAM = 0x1;
inline constexpr UINT LVFI_STRING = 0x2;
inline constexpr UINT LVFI_PARTIAL = 0x8;
inline constexpr DWORD LVS_EX_FULLROWSELECT = 0x20;
inline constexpr UINT LVN_ITEMCHANGED = static_cast<UINT>(-101);

struct LVITEMW {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};
struct LVCOLUMNW {
  UINT mask;
  int fmt;
  int cx;
  LPWSTR pszText;
  int cchTextMax;
  int iSubItem;
};
struct LVFINDINFOW {
  UINT flags;
  LPCWSTR psz;
  LPARAM lParam;
};
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
};

// ---- Tab control -------------------------------------------------------------------------------
inline constexpr UINT TCM_GETITEMCOUNT = 0x1304;
inline constexpr UINT TCM_GETCURSEL = 0x130B;
inline constexpr UINT TCM_SETCURSEL = 0x130C;
inline constexpr UINT TCM_INSERTITEMW = 0x133E;
inline constexpr UINT TCIF_TEXT = 0x1;
struct TCITEMW {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};

// ---- Tooltips ----------------------------------------------------------------------------------
inline constexpr UINT TTM_ACTIVATE = 0x0401;
inline constexpr UINT TTM_RELAYEVENT = 0x0407;
inline constexpr UINT TTM_GETTOOLCOUNT = 0x040D;
inline constexpr UINT TTM_SETMAXTIPWIDTH = 0x0418;
inline constexpr UINT TTM_GETMAXTIPWIDTH = 0x0419;
inline constexpr UINT TTM_ADDTOOLW = 0x0432;
inline constexpr UINT TTM_DELTOOLW = 0x0433;
inline constexpr UINT TTM_UPDATETIPTEXTW = 0x0439;
inline constexpr UINT TTF_IDISHWND = 0x0001;
inline constexpr UINT TTF_SUBCLASS = 0x0010;
struct TOOLINFOW {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPWSTR lpszText;
  LPARAM lParam;
  void* lpReserved;
};

// ---- Help --------------------------------------------------------------------------------------
inline constexpr int HELPINFO_WINDOW = 1;
struct HELPINFO {
  UINT cbSize;
  int iContextType;
  int iCtrlId;
  HANDLE hItemHandle;
  DWORD_PTR dwContextId;
  POINT MousePos;
};
using LPHELPINFO = HELPINFO*;

// ---- System colours ---------------------------------------------------------------------------
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_WINDOWTEXT = 8;
inline constexpr int COLOR_HIGHLIGHT = 13;
inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int COLOR_GRAYTEXT = 17;
inline constexpr int COLOR_BTNTEXT = 18;
/// The colour of a display element, as Windows 10's default scheme has it (COLOR_HIGHLIGHT is
/// RGB(0, 120, 215)); 0 for an index it does not know.
DWORD GetSysColor(int index);

/// Delivers a message to `hwnd`'s window procedure at once and returns its result: the
/// dialog's or subclassing object's procedure when one is attached, else the control's own.
/// 0 with ERROR_INVALID_WINDOW_HANDLE for a handle that is not a live window.
LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
/// SendMessageW to the control `id` of `dialog`; 0 when there is no such control.
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);
/// The control `id` among `dialog`'s children (not grandchildren); null with
/// ERROR_CONTROL_ID_NOT_FOUND (1421) when absent.
HWND GetDlgItem(HWND dialog, int id);
/// The control id of `hwnd`; 0 for a dialog or a bad handle.
int GetDlgCtrlID(HWND hwnd);
/// The parent window; null for a top-level dialog or a bad handle.
HWND GetParent(HWND hwnd);
/// TRUE when `hwnd` is a live window.
BOOL IsWindow(HWND hwnd);

/// Text of a window (WM_SETTEXT / WM_GETTEXT). GetWindowTextW copies at most `max_count` - 1
/// characters and a zero and returns the count copied (0 for a bad handle).
BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);
int GetWindowTextW(HWND hwnd, LPWSTR text, int max_count);
int GetWindowTextLengthW(HWND hwnd);
/// The whole text of a window ("" for a bad handle).
std::wstring WindowText(HWND hwnd);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int max_count);

/// Enables or disables a window; returns TRUE when it was disabled before.
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
/// SW_HIDE (0) hides, any other command shows; returns TRUE when it was visible before.
BOOL ShowWindow(HWND hwnd, int command);
/// TRUE when the window and all its parents are visible.
BOOL IsWindowVisible(HWND hwnd);
/// GWL_STYLE or GWL_EXSTYLE; 0 for another index or a bad handle.
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
/// Sets GWL_STYLE or GWL_EXSTYLE and returns the previous value. WS_DISABLED and WS_VISIBLE in
/// a new style change the enabled and visible states.
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);

/// Check state of a button (BM_SETCHECK / BM_GETCHECK): BST_CHECKED, BST_UNCHECKED ...
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
/// Checks `check` and unchecks the other radio buttons from `first` to `last` (ids).
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);

/// The window that has the keyboard focus in this thread (null when none); SetFocus returns
/// the previous one.
HWND GetFocus();
HWND SetFocus(HWND hwnd);

/// The client rectangle (0, 0, width, height) and the window rectangle in screen coordinates
/// (a dialog sits at its template position; a control inside its parent's client area).
BOOL GetClientRect(HWND hwnd, RECT* rect);
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL ClientToScreen(HWND hwnd, POINT* point);
BOOL ScreenToClient(HWND hwnd, POINT* point);
/// Moves and sizes a window within its parent's client area.
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
/// Nothing is drawn: these answer TRUE for a live window and count the repaints asked for (see
/// RepaintCount), so that a test can tell a repaint happened.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND hwnd);
BOOL RedrawWindow(HWND hwnd, const RECT* rect, void* region, UINT flags);
/// How many times InvalidateRect or RedrawWindow was called on `hwnd`.
int RepaintCount(HWND hwnd);

/// Destroys a window and its children (dialogs are destroyed by their own close).
BOOL DestroyWindow(HWND hwnd);

inline constexpr LONG ERROR_CONTROL_ID_NOT_FOUND = 1421;
