#include "ui/dlgexport.h"

namespace {

constexpr int kNewWorksheet = 1003;
constexpr int kActiveWorksheet = 1004;
constexpr int kStartRow = 1005;
constexpr int kStartRowSpin = 1007;
constexpr int kAddHeader = 1011;
constexpr int kFindNextBlankLine = 1017;

void Enable(CWnd& page, int id, bool enable) {
  if (CWnd* control = page.GetDlgItem(id)) control->EnableWindow(enable ? TRUE : FALSE);
}

}  // namespace

CDlgExport::CDlgExport(CWnd* parent, HINSTANCE resources)
    : CAcUiTabChildDialog(parent, resources) {}

void CDlgExport::SetWorksheetControls(bool worksheet, bool find_blank) {
  if (m_hWnd == nullptr) return;
  Enable(*this, kAddHeader, worksheet);
  Enable(*this, kFindNextBlankLine, worksheet);
  Enable(*this, kStartRow, worksheet && !find_blank);
  Enable(*this, kStartRowSpin, worksheet && !find_blank);
}

BOOL CDlgExport::OnInitDialog() {
  CAcUiTabChildDialog::OnInitDialog();
  m_spinStartRow.SendMessage(UDM_SETBASE, 10);
  m_spinStartRow.SetStep(1.0);
  m_spinStartRow.SetValueRange(1.0, 65536.0);
  // Only the value 1 means "the active worksheet"; any other leaves its controls off.
  SetWorksheetControls(WorksheetSettings == 1, FindNextBlankLine != 0);
  UpdateData(FALSE);
  return TRUE;
}

void CDlgExport::DoDataExchange(CDataExchange* dx) {
  CAcUiTabChildDialog::DoDataExchange(dx);
  DDX_Control(dx, kStartRowSpin, m_spinStartRow);
  DDX_Check(dx, 1009, Rotation);
  DDX_Check(dx, 1006, XCoord);
  DDX_Check(dx, 1013, YCoord);
  DDX_Check(dx, 1014, ZCoord);
  DDX_Check(dx, 1008, Scale);
  DDX_Check(dx, 1010, LayerNames);
  DDX_Radio(dx, kNewWorksheet, WorksheetSettings);
  DDX_Radio(dx, 1000, WorkbookSettings);
  DDX_Text(dx, kStartRow, StartRow);
  DDV_MinMaxInt(dx, StartRow, 1, 65536);
  DDX_Check(dx, kAddHeader, AddHeader);
  DDX_Check(dx, 1020, AutoConnect);
  DDX_Check(dx, 1021, IncludeConstant);
  DDX_Check(dx, 1012, BlockNames);
  DDX_Check(dx, 1022, Sort);
  DDX_Check(dx, 1015, LayoutNames);
  DDX_Check(dx, 1023, OddLine);
  DDX_Check(dx, 1016, JTSK);
  DDX_Check(dx, 1024, NoAutofit);
  DDX_Check(dx, 1025, AsText);
  DDX_Check(dx, kFindNextBlankLine, FindNextBlankLine);
  DDX_Check(dx, 1027, ExportAttPrompts);
  DDX_Check(dx, 1033, Selection);
  DDX_Check(dx, 1034, TimeStamp);
}

BOOL CDlgExport::OnCommand(WPARAM wparam, LPARAM lparam) {
  if (HIWORD(wparam) == BN_CLICKED) {
    switch (LOWORD(wparam)) {
      case kNewWorksheet:
        SetWorksheetControls(false, false);
        break;
      case kActiveWorksheet:
        SetWorksheetControls(true, IsDlgButtonChecked(kFindNextBlankLine) == BST_CHECKED);
        break;
      case kFindNextBlankLine: {
        const bool checked = IsDlgButtonChecked(kFindNextBlankLine) == BST_CHECKED;
        Enable(*this, kStartRow, !checked);
        Enable(*this, kStartRowSpin, !checked);
        break;
      }
      default:
        break;
    }
  }
  return CAcUiTabChildDialog::OnCommand(wparam, lparam);
}
