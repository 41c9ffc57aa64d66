// Windows and dialogs in the shape of MFC: CWnd, CDialog with data exchange and validation,
// button, edit and static controls, menus from the resource library, and the current resource
// module.
//
// A dialog is built from its template in the current resource module (AfxGetResourceHandle) and
// run with DoModal; in the console the driver reads its actions from the current line source
// (docs/dialogs.md). Message handlers are virtual functions (OnInitDialog, OnOK, OnCancel,
// OnCommand, OnNotify, OnHelpInfo, OnContextMenu) or entries of the dialog's command map
// (MapCommand, MapNotify), which stand where MFC has its message map.
//
//   class CDlgFilter : public CDialog {
//    public:
//     CDlgFilter() : CDialog(9) { MapCommand(1030, [this] { OnLayerFilter(); }); }
//     void DoDataExchange(CDataExchange* dx) override {
//       DDX_Check(dx, 1030, layer_filter_);
//       DDX_Text(dx, 1005, start_row_);
//       DDV_MinMaxInt(dx, start_row_, 1, 65536);
//     }
//     ...
//   };
//   AfxSetResourceHandle(resources);
//   if (CDlgFilter().DoModal() == IDOK) ...
//
// Threads: a window and its CWnd belong to the thread that created them. The resource handle is
// per thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialog/window.h"
#include "platform/win/menu.h"
#include "platform/win/message.h"
#include "platform/win/wintypes.h"

/// The module dialog templates, menus and strings are loaded from, for this thread (null until
/// set: the executable, which holds none).
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);
/// The caption of AfxMessageBox ("Sheetwise" until set). Any thread.
std::wstring AfxGetAppName();
void AfxSetAppName(std::wstring name);
/// A message box owned by the innermost modal dialog of this thread (none: no owner) with the
/// application's name as caption. Returns the button chosen.
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT help_id = 0);

class CDataExchange;
class CMenu;

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  /// Detaches from its window (the window itself belongs to its dialog).
  virtual ~CWnd();

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }
  /// The object attached to `hwnd`, else a wrapper the window keeps; null for a bad handle.
  static CWnd* FromHandle(HWND hwnd);

  /// Makes this object the window procedure of `hwnd` (and calls PreSubclassWindow first).
  /// FALSE when `hwnd` is not a window or already has an object attached.
  BOOL SubclassWindow(HWND hwnd);
  /// SubclassWindow on control `id` of `parent`.
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  /// Detaches from the window; returns its handle.
  HWND UnsubclassWindow();
  HWND Detach() { return UnsubclassWindow(); }

  /// Runs when the object is attached to an existing window, before any message reaches it.
  virtual void PreSubclassWindow() {}
  /// The console driver offers every action to the target window's object and its parents
  /// before performing it (as a message loop does); TRUE eats the action.
  virtual BOOL PreTranslateMessage(MSG* msg);

  /// The window procedure: WM_COMMAND, WM_NOTIFY (after offering them to the child's
  /// OnChildNotify), WM_HELP and WM_CONTEXTMENU go to the handlers below, the rest to
  /// DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  /// The control's own procedure (text, check state, list rows ...).
  LRESULT DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam);

  LRESULT SendMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const;
  CWnd* GetDlgItem(int id) const;
  int GetDlgCtrlID() const;
  CWnd* GetParent() const;

  void SetWindowText(LPCWSTR text);
  void GetWindowText(std::wstring& text) const;
  int GetWindowText(LPWSTR text, int max_count) const;
  int GetWindowTextLength() const;
  void SetDlgItemText(int id, LPCWSTR text);
  std::wstring GetDlgItemText(int id) const;

  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL ShowWindow(int command);
  BOOL IsWindowVisible() const;
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  /// Removes then adds style bits; TRUE when the style changed.
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);

  void CheckDlgButton(int id, UINT check);
  UINT IsDlgButtonChecked(int id) const;
  void CheckRadioButton(int first, int last, int check);

  CWnd* SetFocus();
  static CWnd* GetFocus();
  void GetClientRect(RECT* rect) const;
  void GetWindowRect(RECT* rect) const;
  void ClientToScreen(POINT* point) const;
  void ClientToScreen(RECT* rect) const;
  void ScreenToClient(POINT* point) const;
  void ScreenToClient(RECT* rect) const;
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(const RECT* rect, BOOL repaint = TRUE);
  void Invalidate(BOOL erase = TRUE);
  void UpdateWindow();
  BOOL RedrawWindow(const RECT* rect = nullptr, void* region = nullptr, UINT flags = 0x105);
  void SetFont(HFONT font, BOOL redraw = TRUE);
  HFONT GetFont() const;

  /// A message box owned by this window.
  int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK);

  /// Moves data between the controls and the fields: `save` TRUE collects and validates
  /// (DoDataExchange with m_bSaveAndValidate), FALSE fills the controls. A failed validation
  /// has shown its message box; returns FALSE and focuses the control at fault.
  BOOL UpdateData(BOOL save = TRUE);
  /// Fields <-> controls: DDX_ and DDV_ calls.
  virtual void DoDataExchange(CDataExchange* dx);

  BOOL DestroyWindow();

 protected:
  virtual BOOL OnCommand(WPARAM wparam, LPARAM lparam);
  virtual BOOL OnNotify(WPARAM wparam, LPARAM lparam, LRESULT* result);
  /// A notification this window sent to its parent, offered back first (reflection); TRUE
  /// when handled here, so that the parent does not see it.
  virtual BOOL OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  /// F1 (WM_HELP); TRUE when handled.
  virtual BOOL OnHelpInfo(HELPINFO* info);
  virtual void OnContextMenu(CWnd* window, POINT point);

  friend class CDialog;
};

/// What DoDataExchange works with.
class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL save) : m_bSaveAndValidate(save), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  int m_idLastControl = 0;
  BOOL m_bEditLastControl = FALSE;

  /// The control `id` of the dialog; a missing control is a programming error (reported on the
  /// dialog output and the exchange fails).
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  /// Ends the exchange: focuses the last control and makes UpdateData return FALSE.
  [[noreturn]] void Fail();
};

/// Attaches `control` to control `id` the first time (SubclassDlgItem).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
/// A check box: 0 unchecked, 1 checked, 2 indeterminate.
void DDX_Check(CDataExchange* dx, int id, int& value);
/// A radio group starting at `id`: the index of the checked button (-1 none), counting the
/// radio buttons up to the next control that starts a group.
void DDX_Radio(CDataExchange* dx, int id, int& value);
/// An edit's text as an integer; text that is not one gets "Please enter an integer.".
void DDX_Text(CDataExchange* dx, int id, int& value);
/// As a number; text that is not one gets "Please enter a number.".
void DDX_Text(CDataExchange* dx, int id, double& value);
void DDX_Text(CDataExchange* dx, int id, std::wstring& value);
/// Range checks of the value just exchanged (only when saving): outside, the standard message
/// "Please enter an integer between MIN and MAX." and the exchange fails.
void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max);
void DDV_MinMaxDouble(CDataExchange* dx, double value, double min, double max);
void DDV_MaxChars(CDataExchange* dx, const std::wstring& value, int count);

class CDialog : public CWnd {
 public:
  /// A dialog built from template `template_id` of the current resource module.
  explicit CDialog(UINT template_id, CWnd* parent = nullptr);
  ~CDialog() override;

  /// Creates the dialog, runs OnInitDialog, and runs the console driver until EndDialog.
  /// Returns the EndDialog result, or -1 when the template cannot be loaded (the reason is on
  /// the dialog output and in LastError()).
  virtual INT_PTR DoModal();
  /// Creates the dialog as a child window of `parent` (a tab's page) and runs OnInitDialog.
  BOOL Create(UINT template_id, CWnd* parent);
  /// Default: fills the controls (UpdateData(FALSE)); returns TRUE.
  virtual BOOL OnInitDialog();
  /// Default: UpdateData(TRUE), and EndDialog(IDOK) when it succeeded.
  virtual void OnOK();
  /// Default: EndDialog(IDCANCEL).
  virtual void OnCancel();
  /// Ends the modal loop after the current action with `result`.
  void EndDialog(int result);
  bool Ended() const { return ended_; }
  int ModalResult() const { return result_; }

  UINT GetTemplateId() const { return template_id_; }
  /// Why the last DoModal or Create failed ("" otherwise).
  const std::string& LastError() const { return last_error_; }

  /// Runs `handler` for WM_COMMAND `id` with notification `code` (BN_CLICKED for buttons and
  /// menu commands), as ON_BN_CLICKED / ON_COMMAND would. OnCommand's default looks here.
  void MapCommand(UINT id, std::function<void()> handler, WORD code = BN_CLICKED);
  /// Runs `handler` for WM_NOTIFY `code` from control `id` (ON_NOTIFY).
  void MapNotify(UINT id, UINT code, std::function<void(NMHDR*, LRESULT*)> handler);

  /// Moves the focus to `control` (WM_NEXTDLGCTL with TRUE).
  void GotoDlgCtrl(CWnd* control);

 protected:
  BOOL OnCommand(WPARAM wparam, LPARAM lparam) override;
  BOOL OnNotify(WPARAM wparam, LPARAM lparam, LRESULT* result) override;
  CWnd* parent_;

 private:
  bool CreateWindows(HWND parent);
  UINT template_id_;
  bool ended_ = false;
  int result_ = 0;
  std::string last_error_;
  std::map<std::pair<UINT, WORD>, std::function<void()>> commands_;
  std::map<std::pair<UINT, UINT>, std::function<void(NMHDR*, LRESULT*)>> notifies_;
};

class CButton : public CWnd {
 public:
  int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
  void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
};

class CEdit : public CWnd {};

class CStatic : public CWnd {};

/// A menu handle in the shape of MFC's CMenu. Destroys its menu when it owns one.
class CMenu {
 public:
  CMenu() = default;
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;
  ~CMenu();

  HMENU m_hMenu = nullptr;
  operator HMENU() const { return m_hMenu; }

  /// Loads menu `id` from the current resource module; FALSE when it is missing or malformed
  /// (the reason is on the dialog output).
  BOOL LoadMenu(UINT id);
  BOOL Attach(HMENU menu);
  HMENU Detach();
  BOOL DestroyMenu();
  /// The popup at `position`, as an object this menu keeps; null when there is none.
  CMenu* GetSubMenu(int position);
  UINT CheckMenuItem(UINT item, UINT check) { return ::CheckMenuItem(m_hMenu, item, check); }
  UINT EnableMenuItem(UINT item, UINT enable) {
    return static_cast<UINT>(::EnableMenuItem(m_hMenu, item, enable));
  }
  UINT GetMenuState(UINT item, UINT flags) const { return ::GetMenuState(m_hMenu, item, flags); }
  int GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }
  UINT GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }
  /// Shows the menu (see TrackPopupMenu in popupmenu.h).
  BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, const RECT* rect = nullptr);

 private:
  bool owned_ = false;
  std::vector<std::unique_ptr<CMenu>> submenus_;
};
