#include "ui/dlgimport.h"

CDlgImport::CDlgImport(CWnd* parent, HINSTANCE resources)
    : CAcUiTabChildDialog(parent, resources) {}

BOOL CDlgImport::OnInitDialog() {
  CAcUiTabChildDialog::OnInitDialog();
  m_spinStartRow.SendMessage(UDM_SETBASE, 10);
  m_spinStartRow.SetStep(1.0);
  m_spinStartRow.SetValueRange(1.0, 65536.0);
  m_spinStartCol.SendMessage(UDM_SETBASE, 10);
  m_spinStartCol.SetStep(1.0);
  m_spinStartCol.SetValueRange(1.0, 256.0);
  UpdateData(FALSE);
  return TRUE;
}

void CDlgImport::DoDataExchange(CDataExchange* dx) {
  CAcUiTabChildDialog::DoDataExchange(dx);
  DDX_Control(dx, 1008, m_spinStartCol);
  DDX_Control(dx, 1016, m_spinStartRow);
  DDX_Radio(dx, 1013, ImportSettings);
  DDX_Check(dx, 1015, IgnoreProps);
  DDX_Text(dx, 1006, StartCol);
  DDV_MinMaxInt(dx, StartCol, 1, 256);
  DDX_Text(dx, 1005, StartRow);
  DDV_MinMaxInt(dx, StartRow, 1, 65536);
}
