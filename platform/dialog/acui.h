// The host's dialog classes: CAcUiDialog, and the tabbed frame CAcUiTabMainDialog with its
// pages CAcUiTabChildDialog on a CAdUiTab control, as ObjectARX offers them.
//
// A tabbed dialog adds its pages in OnInitDialog: each page is created from its own template as
// a child of the frame, runs its OnInitDialog at once, and exchanges its own fields (each page
// has its own DoDataExchange; ValidateData collects and validates one page). Only the active
// page is visible; the console's `tab N` switches pages.
//
//   BOOL CDlgMain::OnInitDialog() {
//     CAcUiTabMainDialog::OnInitDialog();
//     SetAcadTabPointer(&tab_);          // tab_ is DDX_Control'ed to control 1012
//     AddTab(0, L"Export", 132, &export_);
//     AddTab(1, L"Import", 1002, &import_);
//     return TRUE;
//   }
#pragma once

#include <vector>

#include "platform/dialog/afxcmn.h"
#include "platform/dialog/afxwin.h"

class CAdUiDialog : public CDialog {
 public:
  explicit CAdUiDialog(UINT template_id, CWnd* parent = nullptr, HINSTANCE resources = nullptr);
  /// The resource module given at construction (null: the current one at DoModal).
  HINSTANCE ResourceModule() const { return resources_; }
  INT_PTR DoModal() override;

 private:
  HINSTANCE resources_;
};

class CAcUiDialog : public CAdUiDialog {
 public:
  using CAdUiDialog::CAdUiDialog;
};

class CAdUiTabChildDialog;
class CAdUiTabMainDialog;

/// The tab control of a tabbed frame: its tabs and their pages.
class CAdUiTab : public CTabCtrl {
 public:
  /// Inserts tab `index` with `caption`, creates `page` from `template_id` as a child of the
  /// frame (its OnInitDialog runs) and shows it when it is the first tab. FALSE when the tab
  /// control has no window, or the page's template cannot be loaded (reason on the dialog
  /// output).
  BOOL AddTab(int index, LPCWSTR caption, UINT template_id, CAdUiTabChildDialog* page);
  int GetTabCount() const { return static_cast<int>(pages_.size()); }
  /// The active tab's index (-1 before the first AddTab).
  int GetActiveTab() const;
  /// Shows tab `index`: the active page's OnTabChanging may refuse (FALSE); then the old page
  /// is hidden and gets OnTabActivation(FALSE), the new one is shown and gets
  /// OnTabActivation(TRUE). FALSE when refused or out of range.
  BOOL SetActiveTab(int index);
  CAdUiTabChildDialog* GetDialogPtr(int index) const;
  int GetTabIndex(const CAdUiTabChildDialog* page) const;
  CAdUiTabMainDialog* MainDialog() const { return main_; }

 private:
  friend class CAdUiTabMainDialog;
  CAdUiTabMainDialog* main_ = nullptr;
  std::vector<CAdUiTabChildDialog*> pages_;
};

class CAdUiTabChildDialog : public CAdUiDialog {
 public:
  explicit CAdUiTabChildDialog(CWnd* parent = nullptr, HINSTANCE resources = nullptr);
  /// Collects and validates this page's fields (UpdateData(TRUE)); on failure the page is made
  /// the active one, so that the control at fault is shown. Returns whether it succeeded.
  virtual BOOL ValidateData();
  /// Called before the page is left; FALSE keeps it. Default: TRUE.
  virtual BOOL OnTabChanging() { return TRUE; }
  /// Called when the page becomes active (TRUE) or inactive (FALSE).
  virtual void OnTabActivation(BOOL /*activate*/) {}
  CAdUiTabMainDialog* GetMainDialog() const { return main_; }
  /// Pages are not run modally; OK and Cancel belong to the frame, which gets them.
  void OnOK() override;
  void OnCancel() override;

 private:
  friend class CAdUiTab;
  CAdUiTabMainDialog* main_ = nullptr;
};

class CAcUiTabChildDialog : public CAdUiTabChildDialog {
 public:
  using CAdUiTabChildDialog::CAdUiTabChildDialog;
};

class CAdUiTabMainDialog : public CAdUiDialog {
 public:
  using CAdUiDialog::CAdUiDialog;
  /// The tab control whose pages this frame shows (attached to a TAB control of the template).
  void SetAcadTabPointer(CAdUiTab* tab);
  CAdUiTab* GetTab() const { return tab_; }
  /// As CAdUiTab::AddTab on the tab control set by SetAcadTabPointer (FALSE without one).
  BOOL AddTab(int index, LPCWSTR caption, UINT template_id, CAdUiTabChildDialog* page);
  /// ValidateData on every page in tab order; stops at the first that fails.
  BOOL ValidateData();

 private:
  CAdUiTab* tab_ = nullptr;
};

class CAcUiTabMainDialog : public CAdUiTabMainDialog {
 public:
  using CAdUiTabMainDialog::CAdUiTabMainDialog;
};
