// CDlgFilter: the filter dialog of the block-name selection: the layers whose block references
// an export keeps, a wildcard pattern on block names, and the mark of a picked selection.
//
// One object lives as long as its CDlgSelNames and may be shown several times: its check
// boxes, pattern and chosen layer rows carry over from one showing to the next. OK writes the
// layer choice to the process-wide LayerFilterNames and LayerFilterOn (drawing/layerfilter.h);
// Cancel leaves them, the kept pattern and the kept layer rows alone. A click on check box 1030
// or 1031 takes effect at once (it enables its control and updates the fields), so the check
// boxes keep their clicked state even when the showing is cancelled.
//
//   filter.SetSelectionField(SelectedBlockRefs.isEmpty() ? 0 : 1);
//   if (filter.DoModal() == IDOK && filter.NameFilterField() != 0) ... filter.Pattern() ...
//
// Threads: the host's main thread (it reads the working drawing and writes the layer filter).
#pragma once

#include <string>
#include <vector>

#include "platform/dialog/acui.h"

class CDlgFilter : public CAcUiDialog {
 public:
  /// Dialog template of the resource library.
  static constexpr UINT IDD = 9;
  static constexpr int kLayerList = 1005;
  static constexpr int kLayerFilterCheck = 1030;
  static constexpr int kNameFilterCheck = 1031;
  static constexpr int kPatternEdit = 1032;
  static constexpr int kSelectionCheck = 1033;

  /// The dialog with all three check boxes off, no pattern kept and no layer row chosen.
  explicit CDlgFilter(CWnd* parent = nullptr);

  /// Hides check box 1033 when the selection field is 0; enables the layer list and the
  /// pattern edit by their check boxes; shows the kept pattern ("*" the first time); lists the
  /// layers of the working drawing in table order and, when shown before, selects again the
  /// rows chosen at the last OK. Without a working drawing or layer table the list stays empty,
  /// FALSE is returned and the showing does not count as the first one.
  BOOL OnInitDialog() override;
  /// Keeps the selected layer rows and the pattern, sets LayerFilterNames to the selected
  /// layers' names and LayerFilterOn to check box 1030 (on with no layer selected: on with an
  /// empty list), and closes with IDOK.
  void OnOK() override;
  /// Passes every action to the tooltip first.
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;

  /// The check-box fields as of the last exchange (0 off, 1 on).
  int LayerFilterField() const { return layer_filter_; }
  int NameFilterField() const { return name_filter_; }
  int SelectionField() const { return selection_; }
  /// Set by the selection dialog before each showing: 1 when block references are picked.
  void SetSelectionField(int value) { selection_ = value; }
  /// The pattern kept at the last OK ("" before any OK).
  const std::wstring& Pattern() const { return pattern_; }
  /// True once OnInitDialog has listed the layers to its end.
  bool IsInitialised() const { return initialised_; }
  /// The layer rows selected at the last OK, in list order.
  const std::vector<UINT>& ChosenLayerRows() const { return chosen_rows_; }

 private:
  void OnLayerFilterClicked();
  void OnNameFilterClicked();
  bool ListLayers();

  CListCtrl layer_list_;
  CEdit pattern_edit_;
  int layer_filter_ = 0;
  int name_filter_ = 0;
  int selection_ = 0;
  std::wstring pattern_;
  CToolTipCtrl tooltip_;
  bool initialised_ = false;
  std::vector<UINT> chosen_rows_;
};
