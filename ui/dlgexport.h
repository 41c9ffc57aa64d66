// CDlgExport: the Export page of the Options dialog, one field for each export option, with the
// rules that enable the start row, header row and blank-row controls.
//
// The frame (CDlgMain) copies the settings into the public fields before the page is created
// and reads them back after ValidateData. Main thread, as every dialog.
#pragma once

#include <cstdint>

#include "platform/dialog/acui.h"
#include "ui/numspin.h"

class CDlgExport : public CAcUiTabChildDialog {
 public:
  /// The page's template in the resource library.
  static constexpr UINT kTemplateId = 132;

  explicit CDlgExport(CWnd* parent = nullptr, HINSTANCE resources = nullptr);

  /// Decimal display, step 1 and range 1 to 65536 on the start row's spin; the enable states
  /// from WorksheetSettings and FindNextBlankLine; then the fields into the controls.
  BOOL OnInitDialog() override;
  /// Every field with its control; StartRow must be 1 to 65536 when collected.
  void DoDataExchange(CDataExchange* dx) override;

  /// Enables the controls that write into the active worksheet (header row 1011, blank-row
  /// search 1017) when `worksheet` is true, and the start row edit 1005 with its spin 1007 when
  /// `worksheet` is true and `find_blank` false. Does nothing before the page has a window.
  void SetWorksheetControls(bool worksheet, bool find_blank);

  CNvNumSpinCtrl m_spinStartRow;  // 1007, buddy of the start row edit 1005

  // Check boxes hold 1 (checked) or 0; the radio groups the index of their checked button
  // (-1 when none is). Named as the settings they show.
  int32_t Rotation = 0;           // 1009
  int32_t XCoord = 0;             // 1006
  int32_t YCoord = 0;             // 1013
  int32_t ZCoord = 0;             // 1014
  int32_t Scale = 0;              // 1008
  int32_t LayerNames = 0;         // 1010
  int32_t WorksheetSettings = 0;  // 1003 (0), 1004 (1)
  int32_t WorkbookSettings = 0;   // 1000 (0) and the buttons after it
  int32_t StartRow = 1;           // 1005, 1 to 65536
  int32_t AddHeader = 0;          // 1011
  int32_t AutoConnect = 0;        // 1020
  int32_t IncludeConstant = 0;    // 1021
  int32_t BlockNames = 0;         // 1012
  int32_t Sort = 0;               // 1022
  int32_t LayoutNames = 0;        // 1015
  int32_t OddLine = 0;            // 1023
  int32_t JTSK = 0;               // 1016
  int32_t NoAutofit = 0;          // 1024
  int32_t AsText = 0;             // 1025
  int32_t FindNextBlankLine = 0;  // 1017
  int32_t ExportAttPrompts = 0;   // 1027
  int32_t Selection = 0;          // 1033
  int32_t TimeStamp = 0;          // 1034

 protected:
  /// Clicks on 1003, 1004 and 1017 set the enable states, then every command goes on to the
  /// default handling.
  BOOL OnCommand(WPARAM wparam, LPARAM lparam) override;
};
