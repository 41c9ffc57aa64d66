// Common controls in the shape of MFC: list view, up-down (spin), tooltip and tab control, each
// a thin wrapper over the control's LVM_, UDM_, TTM_ and TCM_ messages (window.h).
//
// Attach one to a template's control with DDX_Control or SubclassDlgItem; a CToolTipCtrl is
// created with Create. Same thread rules as CWnd.
#pragma once

#include <string>

#include "platform/dialog/afxwin.h"

class CListCtrl : public CWnd {
 public:
  /// Inserts column `column` (LVCF_TEXT | LVCF_FMT | LVCF_WIDTH); returns its index or -1.
  int InsertColumn(int column, LPCWSTR heading, int format = LVCFMT_LEFT, int width = -1);
  BOOL SetColumnWidth(int column, int width);
  int GetColumnWidth(int column) const;
  DWORD SetExtendedStyle(DWORD style);
  DWORD GetExtendedStyle() const;
  /// Inserts a row with `text` at `index` (past the end: appended); returns its index or -1.
  int InsertItem(int index, LPCWSTR text);
  int InsertItem(const LVITEMW* item);
  int GetItemCount() const;
  BOOL DeleteItem(int index);
  BOOL DeleteAllItems();
  /// The next row after `start` (-1: from the first) that has the LVNI_ flags; -1 when none.
  int GetNextItem(int start, UINT flags) const;
  UINT GetItemState(int index, UINT mask) const;
  /// Sets the `mask` bits of row `index`'s state to those of `state`; index -1: every row.
  BOOL SetItemState(int index, UINT state, UINT mask);
  std::wstring GetItemText(int index, int column) const;
  BOOL SetItemText(int index, int column, LPCWSTR text);
  /// LVM_FINDITEMW: the first row after `start` (-1: from the first) matching `info`; -1 none.
  int FindItem(const LVFINDINFOW* info, int start = -1) const;
  UINT GetSelectedCount() const;
  BOOL EnsureVisible(int index, BOOL partial_ok);
};

class CSpinButtonCtrl : public CWnd {
 public:
  /// UDM_SETRANGE: MAKELPARAM(upper, lower), 16-bit values.
  void SetRange(short lower, short upper);
  void SetRange32(int lower, int upper);
  void GetRange32(int& lower, int& upper) const;
  int SetPos(int pos);
  int GetPos() const;
  int SetBase(int base);
  UINT GetBase() const;
  CWnd* SetBuddy(CWnd* buddy);
  /// The buddy edit, or null.
  CWnd* GetBuddy() const;
};

class CToolTipCtrl : public CWnd {
 public:
  ~CToolTipCtrl() override;
  /// Creates the tooltip window for `parent`; FALSE when `parent` has no window.
  BOOL Create(CWnd* parent, DWORD style = 0);
  /// Adds a tool covering `window` (TTF_IDISHWND) with `text`; `id` 0 names it by the window.
  BOOL AddTool(CWnd* window, LPCWSTR text, const RECT* rect = nullptr, UINT_PTR id = 0);
  void DelTool(CWnd* window, UINT_PTR id = 0);
  void UpdateTipText(LPCWSTR text, CWnd* window, UINT_PTR id = 0);
  void Activate(BOOL activate);
  /// Returns the previous maximum width (-1: none).
  int SetMaxTipWidth(int width);
  int GetToolCount() const;
  /// Passes a message on to the tooltip (TTM_RELAYEVENT).
  void RelayEvent(MSG* msg);
};

class CTabCtrl : public CWnd {
 public:
  int GetItemCount() const;
  int GetCurSel() const;
  /// Selects tab `index` and returns the previous one (-1 when `index` is out of range).
  int SetCurSel(int index);
  /// Inserts a tab with `caption` at `index`; returns its index or -1.
  int InsertItem(int index, LPCWSTR caption);
};
