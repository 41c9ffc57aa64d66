#include "ui/dlgabout.h"

#include "app/product.h"

CDlgAbout::CDlgAbout(CWnd* parent, HINSTANCE resources) : CAcUiTabChildDialog(parent, resources) {}

std::wstring CDlgAbout::LegalLine() {
  return L"Copyright \u00A9 " + YearText() + L" " + CompanyLegalName();
}

BOOL CDlgAbout::OnInitDialog() {
  CAcUiTabChildDialog::OnInitDialog();
  const std::wstring heading = ProductTitle() + L"\n" + LegalLine();
  SetDlgItemText(1028, heading.c_str());
  const std::wstring web = WebAddress();
  m_linkWeb.SetWindowText(web.c_str());
  m_linkWeb.SetLinkTarget(web.c_str());
  const std::wstring product_page = web + L"/" + ProductName();
  m_linkProduct.SetWindowText(product_page.c_str());
  m_linkProduct.SetLinkTarget(product_page.c_str());
  SetDlgItemText(1022, VersionText().c_str());
  return TRUE;
}

void CDlgAbout::DoDataExchange(CDataExchange* dx) {
  CAcUiTabChildDialog::DoDataExchange(dx);
  DDX_Control(dx, 1018, m_linkWeb);
  DDX_Control(dx, 1020, m_linkProduct);
}
