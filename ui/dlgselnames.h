// CDlgSelNames: the dialog in which the user chooses the block names an export writes: a list
// of the names of a BlockNameMap, all selected at the start, with a right-click menu that
// changes the selection, shows or hides the blocks without attribute definitions, and opens
// the filter dialog (CDlgFilter).
//
//   CDlgSelNames dlg(parent, &map);          // map: drawing/blocknames.h, outlives the dialog
//   if (dlg.DoModal() == IDOK) for (const std::wstring& name : dlg.ChosenNames()) ...
//
// The templates (dialog 131, menu 1009) come from the current resource module. Threads: the
// host's main thread.
#pragma once

#include <string>
#include <vector>

#include "platform/dialog/acui.h"
#include "ui/dlgfilter.h"

class BlockNameMap;

class CDlgSelNames : public CAcUiDialog {
 public:
  /// Dialog template and right-click menu of the resource library.
  static constexpr UINT IDD = 131;
  static constexpr UINT kContextMenu = 1009;
  static constexpr int kNameList = 1005;
  /// Commands of the right-click menu.
  static constexpr UINT kSelectAll = 32773;
  static constexpr UINT kInvertSelection = 32774;
  static constexpr UINT kClearSelection = 32775;
  static constexpr UINT kAllButFocused = 32776;
  static constexpr UINT kShowAll = 32777;
  static constexpr UINT kShowWithAttributes = 32778;
  static constexpr UINT kFilter = 1011;

  /// `map` is read, never changed, and must outlive the dialog; null lists nothing.
  CDlgSelNames(CWnd* parent, const BlockNameMap* map);

  /// Lists, selected, the names whose blocks have attribute definitions, in map order; adds
  /// the list's tooltip and focuses the list; tells the filter dialog whether block references
  /// are picked (SelectedBlockRefs).
  BOOL OnInitDialog() override;
  /// Keeps the selected rows' names, in list order, as the chosen names (none selected: an
  /// empty choice) and closes with IDOK.
  void OnOK() override;
  /// Passes every action to the tooltip first.
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;

  /// The names chosen at OK; empty before.
  const std::vector<std::wstring>& ChosenNames() const { return chosen_; }
  /// True after "show all" (32777), false again after 32778.
  bool IsShowingAll() const { return show_all_; }
  /// The filter dialog, which keeps its state for the life of this dialog.
  CDlgFilter& Filter() { return filter_; }

 protected:
  /// The right-click menu of the list: the first popup of menu 1009 with 32777 or 32778
  /// checked by the show-all flag and 1011 checked while any filter check box is on; the
  /// chosen command arrives as WM_COMMAND.
  void OnNameListRightClick();

 private:
  void OnSelectAll();
  void OnInvertSelection();
  void OnClearSelection();
  void OnAllButFocused();
  void OnShowAll();
  void OnShowWithAttributes();
  void OnFilter();
  void AppendRow(const std::wstring& name, bool selected);

  CListCtrl name_list_;
  std::vector<std::wstring> chosen_;
  const BlockNameMap* map_;
  CDlgFilter filter_;
  CToolTipCtrl tooltip_;
  bool show_all_ = false;
};
