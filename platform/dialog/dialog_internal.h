// The window records behind HWND values, shared by the window functions, the MFC-shaped classes
// and the console driver.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog/template.h"
#include "platform/dialog/window.h"

class CWnd;
class CDialog;

namespace dialog {

enum class WindowKind { kDialog, kControl, kToolTip };

struct ListRow {
  std::vector<std::wstring> texts;  // one per column, the first is the item's text
  UINT state = 0;                   // LVIS_SELECTED, LVIS_FOCUSED
  LPARAM param = 0;
};

struct ListColumn {
  std::wstring text;
  int fmt = LVCFMT_LEFT;
  int width = 0;
};

struct Tool {
  HWND control = nullptr;  // the window the tool covers (TTF_IDISHWND) or its owner
  UINT_PTR id = 0;
  std::wstring text;
};

// One window. Touched only by the thread that created it (the registry lookup is locked).
struct Window {
  HWND hwnd = nullptr;
  HWND parent = nullptr;
  WindowKind window_kind = WindowKind::kControl;
  ControlKind kind = ControlKind::kStatic;  // for controls
  int id = 0;
  DWORD style = 0;
  DWORD ex_style = 0;
  std::wstring text;
  UINT check = BST_UNCHECKED;
  RECT rect{};                    // in the parent's client area (a dialog: on the screen)
  std::vector<HWND> children;     // tab order (controls), then tooltips
  CWnd* attached = nullptr;       // the dialog or subclassing object; not owned
  std::unique_ptr<CWnd> wrapper;  // what CWnd::FromHandle hands out when nothing is attached
  HFONT font = nullptr;
  int repaints = 0;
  // List view.
  std::vector<ListColumn> columns;
  std::vector<ListRow> rows;
  DWORD list_ex_style = 0;
  // Up-down.
  int lower = 0;
  int upper = 100;
  int pos = 0;
  int base = 10;
  HWND buddy = nullptr;
  // Tab control: captions; the current one.
  std::vector<std::wstring> tabs;
  int current_tab = -1;
  // Tooltip.
  std::vector<Tool> tools;
  bool active = true;
  int max_tip_width = -1;
  int relayed = 0;
};

/// The live window behind `hwnd`, or null (with ERROR_INVALID_WINDOW_HANDLE).
Window* Find(HWND hwnd);
/// Registers a new window (its hwnd is assigned) as the last child of `parent` (may be null).
Window* NewWindow(HWND parent);
/// Creates a dialog window and its controls from `tmpl`, owned by `object` (attached).
Window* CreateFromTemplate(const DialogTemplate& tmpl, HWND parent, CWnd* object);
/// The control's own window procedure (what DefWindowProc reaches).
LRESULT ControlProc(Window& w, UINT message, WPARAM wparam, LPARAM lparam);
/// A user's click on a control: a check box toggles, a radio button is checked and the others
/// of its group cleared, then BN_CLICKED (STN_CLICKED for a notifying static) goes to the
/// parent. Nothing happens for a disabled or hidden control.
void Click(Window& w);
/// A click on an up-down's arrow: UDN_DELTAPOS to the parent, then the position moves unless
/// the parent answered non-zero.
void StepUpDown(Window& w, int delta);
/// The radio buttons of the group `w` belongs to, in tab order.
std::vector<Window*> RadioGroup(Window& w);
/// Sends a WM_COMMAND notification from control `w` to its parent.
void NotifyCommand(Window& w, WORD code);

/// The console's output (SetDialogOutput), and writing a line to it.
void Print(std::wstring_view text);
/// The modal loop of the console driver: reads lines until `dlg` ended. Returns its result.
INT_PTR RunModal(CDialog& dlg);
/// The dialog whose modal loop runs innermost on this thread (null when none).
CDialog* ActiveModal();

/// A popup menu's answer given ahead by the console's `menu CMD`; TrackPopupMenu takes it.
struct PendingMenuAnswer {
  bool set = false;
  UINT command = 0;
  bool used = false;
  std::string error;  // why the command could not be chosen
};
PendingMenuAnswer& MenuAnswer();

}  // namespace dialog
