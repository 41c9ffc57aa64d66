// CDlgImport: the Import page of the Options dialog, one field for each import option.
//
// The frame (CDlgMain) fills the public fields before the page is created and reads them back
// after ValidateData. Main thread, as every dialog.
#pragma once

#include <cstdint>

#include "platform/dialog/acui.h"
#include "ui/numspin.h"

class CDlgImport : public CAcUiTabChildDialog {
 public:
  /// The page's template in the resource library.
  static constexpr UINT kTemplateId = 1002;

  explicit CDlgImport(CWnd* parent = nullptr, HINSTANCE resources = nullptr);

  /// Decimal display and step 1 on both spins, the start row's range 1 to 65536 and the start
  /// column's 1 to 256; then the fields into the controls.
  BOOL OnInitDialog() override;
  /// Every field with its control; StartCol must be 1 to 256 and StartRow 1 to 65536 when
  /// collected.
  void DoDataExchange(CDataExchange* dx) override;

  CNvNumSpinCtrl m_spinStartCol;  // 1008, buddy of the start column edit 1006
  CNvNumSpinCtrl m_spinStartRow;  // 1016, buddy of the start row edit 1005

  int32_t ImportSettings = 0;  // 1013 (0) and the buttons after it
  int32_t IgnoreProps = 0;     // 1015, 1 checked or 0
  int32_t StartCol = 1;        // 1006, 1 to 256
  int32_t StartRow = 2;        // 1005, 1 to 65536
};
