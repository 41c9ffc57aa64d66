// Menu resources and popup menus: LoadMenuW from a resource library and TrackPopupMenu, which in
// the console lists the menu and reads the chosen command.
//
// Stands in for LoadMenuW and TrackPopupMenu of <winuser.h> (platform/win/menu.h has the rest of
// the menu functions). A popup menu is answered by the console driver: either ahead of time by
// the dialog command `menu CMD` (the dialog's right-click handler then runs and its
// TrackPopupMenu returns CMD), or by reading the next line of the current line source: a
// command id or an item's text (without '&', any case); an empty line or the end of input
// dismisses the menu.
#pragma once

#include "platform/win/menu.h"
#include "platform/win/wintypes.h"

inline constexpr UINT TPM_LEFTALIGN = 0x0000;
inline constexpr UINT TPM_RIGHTBUTTON = 0x0002;
inline constexpr UINT TPM_NONOTIFY = 0x0080;
inline constexpr UINT TPM_RETURNCMD = 0x0100;

/// Loads menu template `name` (MAKEINTRESOURCEW(id)) of `module` as a menu bar whose popups hold
/// the items. Null when the module lacks it (ERROR_RESOURCE_NAME_NOT_FOUND ...) or the template
/// is malformed (ERROR_INVALID_DATA; the message, with the line, is on the dialog output).
/// Destroy it with DestroyMenu.
HMENU LoadMenuW(HINSTANCE module, LPCWSTR name);

/// Shows popup `menu` for `owner` and waits for a choice. With TPM_RETURNCMD returns the chosen
/// command id, 0 when dismissed; without it returns TRUE when a command was chosen and sends it
/// to `owner` as WM_COMMAND after the menu closed (unless TPM_NONOTIFY), FALSE when dismissed.
/// Grayed, disabled and separator items cannot be chosen. `x`, `y` and `rect` are accepted and
/// not used. FALSE with ERROR_INVALID_MENU_HANDLE for a bad menu.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                    const RECT* rect);

/// The mouse position; (0, 0) here, there being no mouse.
BOOL GetCursorPos(POINT* point);
