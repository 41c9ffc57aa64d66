#include "platform/dialog/afxcmn.h"

#include "platform/dialog/dialog_internal.h"

// ---- CListCtrl ---------------------------------------------------------------------------------

int CListCtrl::InsertColumn(int column, LPCWSTR heading, int format, int width) {
  std::wstring text = heading ? heading : L"";
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT | LVCF_FMT | (width >= 0 ? LVCF_WIDTH : 0);
  col.fmt = format;
  col.cx = width;
  col.pszText = text.data();
  return static_cast<int>(
      SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col)));
}

BOOL CListCtrl::SetColumnWidth(int column, int width) {
  return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), width));
}

int CListCtrl::GetColumnWidth(int column) const {
  return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)));
}

DWORD CListCtrl::SetExtendedStyle(DWORD style) {
  return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style));
}

DWORD CListCtrl::GetExtendedStyle() const {
  return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
}

int CListCtrl::InsertItem(int index, LPCWSTR text) {
  std::wstring copy = text ? text : L"";
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = copy.data();
  return InsertItem(&item);
}

int CListCtrl::InsertItem(const LVITEMW* item) {
  return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(item)));
}

int CListCtrl::GetItemCount() const {
  return static_cast<int>(SendMessage(LVM_GETITEMCOUNT));
}

BOOL CListCtrl::DeleteItem(int index) {
  return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(index)));
}

BOOL CListCtrl::DeleteAllItems() {
  return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS));
}

int CListCtrl::GetNextItem(int start, UINT flags) const {
  return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), flags));
}

UINT CListCtrl::GetItemState(int index, UINT mask) const {
  return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(index), mask));
}

BOOL CListCtrl::SetItemState(int index, UINT state, UINT mask) {
  LVITEMW item{};
  item.state = state;
  item.stateMask = mask;
  return static_cast<BOOL>(
      SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

std::wstring CListCtrl::GetItemText(int index, int column) const {
  std::wstring text(1024, L'\0');
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text.data();
  item.cchTextMax = static_cast<int>(text.size());
  const auto n =
      SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  text.resize(static_cast<size_t>(n));
  return text;
}

BOOL CListCtrl::SetItemText(int index, int column, LPCWSTR text) {
  std::wstring copy = text ? text : L"";
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = copy.data();
  return static_cast<BOOL>(
      SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

int CListCtrl::FindItem(const LVFINDINFOW* info, int start) const {
  return static_cast<int>(
      SendMessage(LVM_FINDITEMW, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(info)));
}

UINT CListCtrl::GetSelectedCount() const {
  return static_cast<UINT>(SendMessage(LVM_GETSELECTEDCOUNT));
}

BOOL CListCtrl::EnsureVisible(int index, BOOL partial_ok) {
  return static_cast<BOOL>(SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), partial_ok));
}

// ---- CSpinButtonCtrl ---------------------------------------------------------------------------

void CSpinButtonCtrl::SetRange(short lower, short upper) {
  SendMessage(UDM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(upper), static_cast<WORD>(lower)));
}

void CSpinButtonCtrl::SetRange32(int lower, int upper) {
  SendMessage(UDM_SETRANGE32, static_cast<WPARAM>(lower), upper);
}

void CSpinButtonCtrl::GetRange32(int& lower, int& upper) const {
  SendMessage(UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower), reinterpret_cast<LPARAM>(&upper));
}

int CSpinButtonCtrl::SetPos(int pos) {
  return static_cast<int>(SendMessage(UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(pos), 0)));
}

int CSpinButtonCtrl::GetPos() const {
  return static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(SendMessage(UDM_GETPOS))));
}

int CSpinButtonCtrl::SetBase(int base) {
  return static_cast<int>(SendMessage(UDM_SETBASE, static_cast<WPARAM>(base)));
}

UINT CSpinButtonCtrl::GetBase() const {
  return static_cast<UINT>(SendMessage(UDM_GETBASE));
}

CWnd* CSpinButtonCtrl::SetBuddy(CWnd* buddy) {
  return FromHandle(reinterpret_cast<HWND>(
      SendMessage(UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy ? buddy->m_hWnd : nullptr))));
}

CWnd* CSpinButtonCtrl::GetBuddy() const {
  return FromHandle(reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY)));
}

// ---- CToolTipCtrl ------------------------------------------------------------------------------

CToolTipCtrl::~CToolTipCtrl() {
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
}

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style) {
  if (parent == nullptr || !IsWindow(parent->m_hWnd) || m_hWnd != nullptr) return FALSE;
  dialog::Window* w = dialog::NewWindow(parent->m_hWnd);
  w->window_kind = dialog::WindowKind::kToolTip;
  w->style = style;
  w->attached = this;
  m_hWnd = w->hwnd;
  return TRUE;
}

namespace {
TOOLINFOW ToolInfo(CWnd* window, UINT_PTR id, LPCWSTR text) {
  TOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = id == 0 ? TTF_IDISHWND | TTF_SUBCLASS : TTF_SUBCLASS;
  info.hwnd = window ? window->m_hWnd : nullptr;
  info.uId = id == 0 ? reinterpret_cast<UINT_PTR>(info.hwnd) : id;
  info.lpszText = const_cast<LPWSTR>(text);
  return info;
}
}  // namespace

BOOL CToolTipCtrl::AddTool(CWnd* window, LPCWSTR text, const RECT* rect, UINT_PTR id) {
  if (window == nullptr || window->m_hWnd == nullptr) return FALSE;
  TOOLINFOW info = ToolInfo(window, id, text);
  if (rect != nullptr) info.rect = *rect;
  return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)));
}

void CToolTipCtrl::DelTool(CWnd* window, UINT_PTR id) {
  TOOLINFOW info = ToolInfo(window, id, nullptr);
  SendMessage(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTipCtrl::UpdateTipText(LPCWSTR text, CWnd* window, UINT_PTR id) {
  TOOLINFOW info = ToolInfo(window, id, text);
  SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTipCtrl::Activate(BOOL activate) {
  SendMessage(TTM_ACTIVATE, activate ? TRUE : FALSE);
}

int CToolTipCtrl::SetMaxTipWidth(int width) {
  return static_cast<int>(SendMessage(TTM_SETMAXTIPWIDTH, 0, width));
}

int CToolTipCtrl::GetToolCount() const {
  return static_cast<int>(SendMessage(TTM_GETTOOLCOUNT));
}

void CToolTipCtrl::RelayEvent(MSG* msg) {
  SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
}

// ---- CTabCtrl ----------------------------------------------------------------------------------

int CTabCtrl::GetItemCount() const {
  return static_cast<int>(SendMessage(TCM_GETITEMCOUNT));
}

int CTabCtrl::GetCurSel() const {
  return static_cast<int>(SendMessage(TCM_GETCURSEL));
}

int CTabCtrl::SetCurSel(int index) {
  return static_cast<int>(SendMessage(TCM_SETCURSEL, static_cast<WPARAM>(index)));
}

int CTabCtrl::InsertItem(int index, LPCWSTR caption) {
  std::wstring text = caption ? caption : L"";
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = text.data();
  return static_cast<int>(
      SendMessage(TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}
