// Menus: menu bars, pull-down and context menus as handles, for the host's main window and for
// the dialogs' popup and context menus.
//
// Stands in for the menu functions of <winuser.h>. Menus are an in-memory model: nothing is
// drawn, and a menu is "chosen" by whoever shows it (the console driver, the host's MENU
// command) reading its items through these functions. Windows are plain HWND values: there is no
// window manager here, so SetMenu accepts any non-null HWND and remembers its menu bar.
// Left out: bitmaps and owner-drawn items (MF_BITMAP, MF_OWNERDRAW answer ERROR_INVALID_FLAGS),
// MENUITEMINFO (GetMenuItemInfoW, SetMenuItemInfoW), ModifyMenuW, TrackPopupMenu and menu
// resources (LoadMenuW); the dialog layer reads its menus from the resource library itself.
//
//   HMENU bar = CreateMenu();
//   HMENU file = CreatePopupMenu();
//   AppendMenuW(file, MF_STRING, 100, L"&Open...");
//   AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
//   SetMenu(hwnd, bar);
//   wchar_t text[64];
//   GetMenuStringW(GetMenu(hwnd), 0, text, 64, MF_BYPOSITION);   // 5, L"&File"
//
// Values follow Windows as Wine 8 shows them (see tests/platform/win/menu_test.cpp), with one
// deliberate difference: a popup item whose submenu handle is not a menu is refused.
#pragma once

#include "platform/win/wintypes.h"

// Item flags (AppendMenuW, InsertMenuW, GetMenuState) and how an item is named.
inline constexpr UINT MF_BYCOMMAND = 0x00000000;
inline constexpr UINT MF_BYPOSITION = 0x00000400;
inline constexpr UINT MF_STRING = 0x00000000;
inline constexpr UINT MF_ENABLED = 0x00000000;
inline constexpr UINT MF_UNCHECKED = 0x00000000;
inline constexpr UINT MF_GRAYED = 0x00000001;
inline constexpr UINT MF_DISABLED = 0x00000002;
inline constexpr UINT MF_BITMAP = 0x00000004;
inline constexpr UINT MF_CHECKED = 0x00000008;
inline constexpr UINT MF_POPUP = 0x00000010;
inline constexpr UINT MF_MENUBARBREAK = 0x00000020;
inline constexpr UINT MF_MENUBREAK = 0x00000040;
inline constexpr UINT MF_HILITE = 0x00000080;
inline constexpr UINT MF_OWNERDRAW = 0x00000100;
inline constexpr UINT MF_SEPARATOR = 0x00000800;
inline constexpr UINT MF_DEFAULT = 0x00001000;

/// Creates an empty menu bar. Returns null only when out of memory. Any thread may call.
HMENU CreateMenu();
/// Creates an empty pull-down, submenu or context menu. Returns null only when out of memory.
HMENU CreatePopupMenu();
/// Destroys `menu` and, recursively, the submenus of its popup items. Other menus that still
/// hold one of them as a popup keep a dead handle that answers ERROR_INVALID_MENU_HANDLE.
/// Returns FALSE with ERROR_INVALID_MENU_HANDLE for a handle that is not a live menu.
BOOL DestroyMenu(HMENU menu);
/// TRUE when `menu` is a live menu handle.
BOOL IsMenu(HMENU menu);

/// Appends an item: MF_STRING (`text` may be null: an item without text), MF_SEPARATOR, or
/// MF_POPUP with `id` holding the submenu's HMENU; MF_CHECKED, MF_GRAYED, MF_DISABLED,
/// MF_DEFAULT, MF_MENUBREAK, MF_MENUBARBREAK are kept as the item's state. The text is copied,
/// '&' and all. Returns FALSE with ERROR_INVALID_MENU_HANDLE for a bad `menu` or popup handle
/// (also a popup that would contain `menu` itself: menus form no cycles), ERROR_INVALID_FLAGS for
/// MF_BITMAP or MF_OWNERDRAW. A submenu may be the popup of several items; each DeleteMenu of
/// one of them destroys it.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text);
/// Inserts an item before the one named by `position` (MF_BYPOSITION: a 0-based position;
/// MF_BYCOMMAND: the item with that command id, searched in submenus too, and the item goes into
/// the menu where it was found). As Windows does, a position past the end, or a command that is
/// not found, appends to `menu`. Failures as AppendMenuW.
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text);
/// Takes an item out of its menu; a popup item's submenu stays alive (the caller owns it).
/// Returns FALSE with ERROR_INVALID_MENU_HANDLE or ERROR_MENU_ITEM_NOT_FOUND.
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
/// As RemoveMenu, and a popup item's submenu is destroyed.
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);

/// The number of items (separators and popups included), or -1 with ERROR_INVALID_MENU_HANDLE.
int GetMenuItemCount(HMENU menu);
/// Copies the item's text, '&' kept, into `text` (at most `max_count` - 1 characters and a
/// zero) and returns the number of characters copied. With a null `text` or a `max_count` of 0
/// it copies nothing and returns the text's full length. A separator or an item without text
/// answers 0 without error. Returns 0 with ERROR_INVALID_MENU_HANDLE or
/// ERROR_MENU_ITEM_NOT_FOUND (MF_BYCOMMAND searches submenus too).
int GetMenuStringW(HMENU menu, UINT item, LPWSTR text, int max_count, UINT flags);
/// The command id of the item at `position`: 0 for a separator, -1 (as UINT) for a popup item,
/// a position past the end or a bad handle (with ERROR_INVALID_MENU_HANDLE).
UINT GetMenuItemID(HMENU menu, int position);
/// The submenu of the popup item at `position`; null for another item, a position past the end
/// or a bad handle (ERROR_INVALID_MENU_HANDLE).
HMENU GetSubMenu(HMENU menu, int position);
/// Sets MF_CHECKED or MF_UNCHECKED (in `check`, with MF_BYPOSITION or MF_BYCOMMAND) and returns
/// the previous one, or (DWORD)-1 when there is no such item or menu.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);
/// Sets MF_ENABLED, MF_GRAYED or MF_DISABLED (in `enable`) and returns the previous one of
/// these, or -1 when there is no such item or menu.
BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);
/// The item's flags (MF_CHECKED, MF_GRAYED, MF_DISABLED, MF_SEPARATOR, MF_POPUP, MF_DEFAULT,
/// MF_MENUBREAK ...). A separator also reads as MF_GRAYED | MF_DISABLED; a popup item carries
/// its submenu's item count in bits 8-15. Returns (UINT)-1 when there is no such item or menu.
UINT GetMenuState(HMENU menu, UINT item, UINT flags);

/// The menu bar of `hwnd` (null when it has none); null with ERROR_INVALID_WINDOW_HANDLE for a
/// null window.
HMENU GetMenu(HWND hwnd);
/// Gives `hwnd` the menu bar `menu`, or none when `menu` is null. The previous menu bar is not
/// destroyed. Returns FALSE with ERROR_INVALID_WINDOW_HANDLE (null window) or
/// ERROR_INVALID_MENU_HANDLE.
BOOL SetMenu(HWND hwnd, HMENU menu);
/// Nothing to redraw here; TRUE for any non-null window, else FALSE with
/// ERROR_INVALID_WINDOW_HANDLE.
BOOL DrawMenuBar(HWND hwnd);
