// The host's menu groups: pull-down menus and toolbars loaded from menu files, the main window's
// menu bar they are shown in, and what the console shows of them.
//
// Stands in for the host's menu customization (MENULOAD, MENUUNLOAD, the -TOOLBAR command,
// acedMenuCmd, acedIsMenuGroupLoaded, adsw_acadMainWnd). Menu files are a text format of our own
// (docs/menus.md), not the host's .mnu/.cuix files. The host's own group ACAD is built in: its
// pull-downs "&File" ... "&Help" make up the main window's menu bar at start. Menus are Win32
// menus (platform/win/menu.h), so an application finds its place on the bar as it would on
// Windows:
//
//   HMENU bar = GetMenu(adsw_acadMainWnd());
//   int n = GetMenuItemCount(bar);                  // 11 at start
//   acedMenuCmd(L"P10=+VANTA.pop1");                // after the 10th, before "&Help"
//
// Left out: icons, flyouts and docking positions of toolbars (a toolbar is shown or hidden),
// image tile and screen menus, accelerators, "P<n>=*" (popping a menu open), menu swapping
// ("$P1=..."), and partial menus on the command line (MENULOAD is LoadMenuGroup).
// Any thread may call; the state is locked. Macros are not run here: the host core turns a
// chosen item's macro into typed input.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/adscodes.h"
#include "platform/win/menu.h"

/// Loads the menu file `path` as a new menu group: its pull-downs become menus (not yet on the
/// menu bar: acedMenuCmd puts them there), its toolbars are shown or hidden as the file says.
/// Returns the group's name. On failure nothing is loaded, and `error` (when not null) holds
/// "FILE:LINE: what was expected and found" for a malformed file, or "FILE: ..." for a file
/// that cannot be read or a group of that name that is already loaded.
[[nodiscard]] std::optional<std::wstring> LoadMenuGroup(const std::filesystem::path& path,
                                                        std::wstring* error);

/// Unloads the group `name` (case-insensitive): its pull-downs leave the menu bar and are
/// destroyed, its toolbars go. False with `error` for a group that is not loaded, and for the
/// host's own group ACAD, which stays.
bool UnloadMenuGroup(std::wstring_view name, std::wstring* error = nullptr);

/// True when the menu group `group` (case-insensitive) is loaded; false for null.
bool acedIsMenuGroupLoaded(const ACHAR* group);

/// Runs a menu command: "P<n>=+GROUP.popid" puts that group's pull-down on the main window's
/// menu bar after its n-th menu (P0: first; past the end it is appended; a pull-down already
/// on the bar moves there), "P<n>=-" takes the n-th pull-down (1-based) off the bar (it stays
/// loaded). Letters are case-insensitive. Returns RTNORM, or RTERROR for another form, a group or
/// pull-down that is not loaded, or no n-th pull-down.
int acedMenuCmd(const ACHAR* str);

/// Shows or hides a toolbar, as the -TOOLBAR command does: `name` is "GROUP.toolbar", a bare
/// toolbar name (the first loaded group that has it), or "ALL" (every toolbar). False with
/// `error` ("Toolbar \"X\" not found.") when there is no such toolbar.
bool ShowToolbar(std::wstring_view name, bool show, std::wstring* error = nullptr);

/// The shown toolbars as "GROUP.toolbar", in load order.
std::vector<std::wstring> VisibleToolbars();

/// The host's main window. Its menu bar (GetMenu) holds the ACAD group's pull-downs "&File",
/// "&Edit", "&View", "&Insert", "F&ormat", "&Tools", "&Draw", "Dime&nsion", "&Modify", "&Window",
/// "&Help" until menu commands change it.
HWND adsw_acadMainWnd();

/// What the MENU command prints: the menu bar with its pull-downs numbered from 1 (as acedMenuCmd
/// counts them), then each pull-down on the bar and each loaded pull-down that is not, with its
/// items numbered (submenu items as "3.1"), their macros, grayed and checked marks, then the
/// shown toolbars with their buttons. Reads the bar through the menu functions, so pull-downs an
/// application inserted there itself are listed too.
std::wstring ListMenus();

/// An item of a menu or toolbar that a user can choose.
struct MenuChoice {
  UINT command = 0;    ///< The item's command id in its HMENU (0 for a toolbar button).
  std::wstring label;  ///< As written in the menu file, '&' kept.
  std::wstring macro;  ///< E.g. "^C^C_vanta _export".
  std::wstring help;   ///< The help line, empty when the file gives none.
};

/// Finds what a user can choose by its label, comparing without '&' (a doubled "&&" is one '&'),
/// without an accelerator after a tab, and ignoring case: first the items of the pull-downs on
/// the menu bar (in bar order, submenus included), then the buttons of shown toolbars. Grayed or
/// disabled items cannot be chosen and are not found.
std::optional<MenuChoice> FindMenuChoice(std::wstring_view label);

/// The macro of FindMenuChoice(label).
std::optional<std::wstring> MacroOf(std::wstring_view label);

/// The item of a loaded pull-down with the command id `command`, as a window's WM_COMMAND names it.
std::optional<MenuChoice> MenuChoiceOfCommand(UINT command);

/// Unloads every group but ACAD and puts the menu bar and toolbars back as they were at start;
/// the host core calls it when a session starts over, and tests between cases.
void ResetMenus();
