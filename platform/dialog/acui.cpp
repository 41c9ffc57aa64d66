#include "platform/dialog/acui.h"

#include "platform/dialog/dialog_internal.h"

CAdUiDialog::CAdUiDialog(UINT template_id, CWnd* parent, HINSTANCE resources)
    : CDialog(template_id, parent), resources_(resources) {}

INT_PTR CAdUiDialog::DoModal() {
  if (resources_ == nullptr) return CDialog::DoModal();
  // The module given at construction holds this dialog's templates for as long as it runs.
  const HINSTANCE previous = AfxGetResourceHandle();
  AfxSetResourceHandle(resources_);
  const INT_PTR result = CDialog::DoModal();
  AfxSetResourceHandle(previous);
  return result;
}

CAdUiTabChildDialog::CAdUiTabChildDialog(CWnd* parent, HINSTANCE resources)
    : CAdUiDialog(0, parent, resources) {}

BOOL CAdUiTabChildDialog::ValidateData() {
  if (m_hWnd == nullptr) return TRUE;  // never shown: nothing to collect
  if (UpdateData(TRUE)) return TRUE;
  if (main_ != nullptr && main_->GetTab() != nullptr) {
    CAdUiTab* tab = main_->GetTab();
    const int index = tab->GetTabIndex(this);
    if (index >= 0 && index != tab->GetActiveTab()) {
      // Show the page at fault without asking the page shown now to let go.
      CAdUiTabChildDialog* old = tab->GetDialogPtr(tab->GetActiveTab());
      if (old != nullptr) {
        old->ShowWindow(SW_HIDE);
        old->OnTabActivation(FALSE);
      }
      tab->SetCurSel(index);
      ShowWindow(SW_SHOW);
      OnTabActivation(TRUE);
    }
  }
  return FALSE;
}

void CAdUiTabChildDialog::OnOK() {
  if (main_ != nullptr) main_->OnOK();
}

void CAdUiTabChildDialog::OnCancel() {
  if (main_ != nullptr) main_->OnCancel();
}

BOOL CAdUiTab::AddTab(int index, LPCWSTR caption, UINT template_id, CAdUiTabChildDialog* page) {
  if (m_hWnd == nullptr || page == nullptr || main_ == nullptr) return FALSE;
  const HINSTANCE previous = AfxGetResourceHandle();
  if (page->ResourceModule() != nullptr) AfxSetResourceHandle(page->ResourceModule());
  page->main_ = main_;
  const BOOL created = page->Create(template_id, main_);
  AfxSetResourceHandle(previous);
  if (!created) return FALSE;
  const int at = InsertItem(index, caption);
  if (at < 0) return FALSE;
  pages_.insert(pages_.begin() + at, page);
  const int active = GetCurSel();
  for (size_t i = 0; i < pages_.size(); ++i) {
    pages_[i]->ShowWindow(static_cast<int>(i) == active ? SW_SHOW : SW_HIDE);
  }
  if (active == at) page->OnTabActivation(TRUE);
  return TRUE;
}

int CAdUiTab::GetActiveTab() const {
  return m_hWnd ? GetCurSel() : -1;
}

BOOL CAdUiTab::SetActiveTab(int index) {
  if (index < 0 || index >= GetTabCount()) return FALSE;
  const int active = GetActiveTab();
  if (index == active) return TRUE;
  CAdUiTabChildDialog* old = GetDialogPtr(active);
  if (old != nullptr && !old->OnTabChanging()) return FALSE;
  if (old != nullptr) {
    old->ShowWindow(SW_HIDE);
    old->OnTabActivation(FALSE);
  }
  SetCurSel(index);
  pages_[static_cast<size_t>(index)]->ShowWindow(SW_SHOW);
  pages_[static_cast<size_t>(index)]->OnTabActivation(TRUE);
  return TRUE;
}

CAdUiTabChildDialog* CAdUiTab::GetDialogPtr(int index) const {
  return index >= 0 && index < GetTabCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

int CAdUiTab::GetTabIndex(const CAdUiTabChildDialog* page) const {
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i] == page) return static_cast<int>(i);
  }
  return -1;
}

void CAdUiTabMainDialog::SetAcadTabPointer(CAdUiTab* tab) {
  tab_ = tab;
  if (tab_ != nullptr) {
    tab_->main_ = this;
    tab_->pages_.clear();
  }
}

BOOL CAdUiTabMainDialog::AddTab(int index, LPCWSTR caption, UINT template_id,
                                CAdUiTabChildDialog* page) {
  return tab_ != nullptr && tab_->AddTab(index, caption, template_id, page);
}

BOOL CAdUiTabMainDialog::ValidateData() {
  if (tab_ == nullptr) return TRUE;
  for (int i = 0; i < tab_->GetTabCount(); ++i) {
    if (!tab_->GetDialogPtr(i)->ValidateData()) return FALSE;
  }
  return TRUE;
}
