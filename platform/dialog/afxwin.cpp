#include "platform/dialog/afxwin.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cwchar>
#include <cwctype>
#include <mutex>

#include "platform/dialog/dialog_internal.h"
#include "platform/dialog/popupmenu.h"
#include "platform/win/codepage.h"
#include "platform/win/resource.h"

namespace {

thread_local HINSTANCE resource_handle = nullptr;

std::mutex app_name_mutex;
std::wstring app_name = L"Sheetwise";  // guarded by app_name_mutex

// Thrown by CDataExchange::Fail through DoDataExchange to UpdateData, as MFC's
// CUserException is; it never leaves UpdateData.
struct DataExchangeFailure {};

std::wstring Format(const wchar_t* pattern, ...) {
  wchar_t buffer[512];
  va_list args;
  va_start(args, pattern);
  std::vswprintf(buffer, 512, pattern, args);
  va_end(args);
  return buffer;
}

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

// MFC's simple scan of "%d": blanks, an optional sign, digits, blanks, and nothing else.
bool ParseInt(const std::wstring& text, int& value) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const size_t start = i;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) ++i;
  const size_t digits = i;
  while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') ++i;
  if (i == digits) return false;
  const size_t end = i;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i != text.size()) return false;
  errno = 0;
  const long long v = std::wcstoll(text.substr(start, end - start).c_str(), nullptr, 10);
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

bool ParseDouble(const std::wstring& text, double& value) {
  const wchar_t* begin = text.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  const double v = std::wcstod(begin, &end);
  if (end == begin || errno == ERANGE) return false;
  while (*end != L'\0' && IsBlank(*end)) ++end;
  if (*end != L'\0') return false;
  value = v;
  return true;
}

}  // namespace

HINSTANCE AfxGetResourceHandle() {
  return resource_handle;
}

void AfxSetResourceHandle(HINSTANCE module) {
  resource_handle = module;
}

std::wstring AfxGetAppName() {
  std::lock_guard lock(app_name_mutex);
  return app_name;
}

void AfxSetAppName(std::wstring name) {
  std::lock_guard lock(app_name_mutex);
  app_name = std::move(name);
}

int AfxMessageBox(LPCWSTR text, UINT type, UINT) {
  CDialog* owner = dialog::ActiveModal();
  const std::wstring caption = AfxGetAppName();
  return MessageBoxW(owner ? owner->m_hWnd : nullptr, text, caption.c_str(), type);
}

// ---- CWnd --------------------------------------------------------------------------------------

CWnd::~CWnd() {
  UnsubclassWindow();
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  dialog::Window* w = dialog::Find(hwnd);
  if (w == nullptr) return nullptr;
  if (w->attached != nullptr) return w->attached;
  if (!w->wrapper) {
    w->wrapper = std::make_unique<CWnd>();
    w->wrapper->m_hWnd = hwnd;
  }
  return w->wrapper.get();
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  dialog::Window* w = dialog::Find(hwnd);
  if (w == nullptr || w->attached != nullptr || m_hWnd != nullptr) return FALSE;
  m_hWnd = hwnd;
  PreSubclassWindow();
  w = dialog::Find(hwnd);
  if (w != nullptr) w->attached = this;
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  if (parent == nullptr) return FALSE;
  HWND control = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
  return control != nullptr && SubclassWindow(control);
}

HWND CWnd::UnsubclassWindow() {
  HWND hwnd = m_hWnd;
  if (hwnd != nullptr) {
    dialog::Window* w = dialog::Find(hwnd);
    if (w != nullptr && w->attached == this) w->attached = nullptr;
  }
  m_hWnd = nullptr;
  return hwnd;
}

BOOL CWnd::PreTranslateMessage(MSG*) {
  return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      if (dialog::Window* child = lparam ? dialog::Find(reinterpret_cast<HWND>(lparam)) : nullptr;
          child != nullptr && child->attached != nullptr && child->parent == m_hWnd) {
        LRESULT result = 0;
        if (child->attached->OnChildNotify(message, wparam, lparam, &result)) return result;
      }
      if (OnCommand(wparam, lparam)) return 0;
      break;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header == nullptr) return 0;
      if (dialog::Window* child = dialog::Find(header->hwndFrom);
          child != nullptr && child->attached != nullptr && child->parent == m_hWnd) {
        LRESULT result = 0;
        if (child->attached->OnChildNotify(message, wparam, lparam, &result)) return result;
      }
      LRESULT result = 0;
      if (OnNotify(wparam, lparam, &result)) return result;
      return 0;
    }
    case WM_HELP:
      return OnHelpInfo(reinterpret_cast<HELPINFO*>(lparam));
    case WM_CONTEXTMENU: {
      const POINT point{static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(lparam))),
                        static_cast<SHORT>(HIWORD(static_cast<DWORD_PTR>(lparam)))};
      OnContextMenu(FromHandle(reinterpret_cast<HWND>(wparam)), point);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProc(message, wparam, lparam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  dialog::Window* w = dialog::Find(m_hWnd);
  return w ? dialog::ControlProc(*w, message, wparam, lparam) : 0;
}

BOOL CWnd::OnCommand(WPARAM, LPARAM) {
  return FALSE;
}
BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) {
  return FALSE;
}
BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) {
  return FALSE;
}
BOOL CWnd::OnHelpInfo(HELPINFO*) {
  return FALSE;
}
void CWnd::OnContextMenu(CWnd*, POINT) {}

LRESULT CWnd::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) const {
  return ::SendMessageW(m_hWnd, message, wparam, lparam);
}

CWnd* CWnd::GetDlgItem(int id) const {
  return FromHandle(::GetDlgItem(m_hWnd, id));
}
int CWnd::GetDlgCtrlID() const {
  return ::GetDlgCtrlID(m_hWnd);
}
CWnd* CWnd::GetParent() const {
  return FromHandle(::GetParent(m_hWnd));
}

void CWnd::SetWindowText(LPCWSTR text) {
  ::SetWindowTextW(m_hWnd, text);
}
void CWnd::GetWindowText(std::wstring& text) const {
  text = WindowText(m_hWnd);
}
int CWnd::GetWindowText(LPWSTR text, int max_count) const {
  return ::GetWindowTextW(m_hWnd, text, max_count);
}
int CWnd::GetWindowTextLength() const {
  return ::GetWindowTextLengthW(m_hWnd);
}
void CWnd::SetDlgItemText(int id, LPCWSTR text) {
  ::SetDlgItemTextW(m_hWnd, id, text);
}
std::wstring CWnd::GetDlgItemText(int id) const {
  return WindowText(::GetDlgItem(m_hWnd, id));
}

BOOL CWnd::EnableWindow(BOOL enable) {
  return ::EnableWindow(m_hWnd, enable);
}
BOOL CWnd::IsWindowEnabled() const {
  return ::IsWindowEnabled(m_hWnd);
}
BOOL CWnd::ShowWindow(int command) {
  return ::ShowWindow(m_hWnd, command);
}
BOOL CWnd::IsWindowVisible() const {
  return ::IsWindowVisible(m_hWnd);
}
DWORD CWnd::GetStyle() const {
  return static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE));
}
DWORD CWnd::GetExStyle() const {
  return static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE));
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
  const DWORD old = GetStyle();
  const DWORD style = (old & ~remove) | add;
  if (style == old) return FALSE;
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(style));
  return TRUE;
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
  const DWORD old = GetExStyle();
  const DWORD style = (old & ~remove) | add;
  if (style == old) return FALSE;
  SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, static_cast<LONG_PTR>(style));
  return TRUE;
}

void CWnd::CheckDlgButton(int id, UINT check) {
  ::CheckDlgButton(m_hWnd, id, check);
}
UINT CWnd::IsDlgButtonChecked(int id) const {
  return ::IsDlgButtonChecked(m_hWnd, id);
}
void CWnd::CheckRadioButton(int first, int last, int check) {
  ::CheckRadioButton(m_hWnd, first, last, check);
}

CWnd* CWnd::SetFocus() {
  return FromHandle(::SetFocus(m_hWnd));
}
CWnd* CWnd::GetFocus() {
  return FromHandle(::GetFocus());
}
void CWnd::GetClientRect(RECT* rect) const {
  ::GetClientRect(m_hWnd, rect);
}
void CWnd::GetWindowRect(RECT* rect) const {
  ::GetWindowRect(m_hWnd, rect);
}
void CWnd::ClientToScreen(POINT* point) const {
  ::ClientToScreen(m_hWnd, point);
}
void CWnd::ClientToScreen(RECT* rect) const {
  POINT a{rect->left, rect->top};
  POINT b{rect->right, rect->bottom};
  ::ClientToScreen(m_hWnd, &a);
  ::ClientToScreen(m_hWnd, &b);
  *rect = RECT{a.x, a.y, b.x, b.y};
}
void CWnd::ScreenToClient(POINT* point) const {
  ::ScreenToClient(m_hWnd, point);
}
void CWnd::ScreenToClient(RECT* rect) const {
  POINT a{rect->left, rect->top};
  POINT b{rect->right, rect->bottom};
  ::ScreenToClient(m_hWnd, &a);
  ::ScreenToClient(m_hWnd, &b);
  *rect = RECT{a.x, a.y, b.x, b.y};
}
void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}
void CWnd::MoveWindow(const RECT* rect, BOOL repaint) {
  ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               repaint);
}
void CWnd::Invalidate(BOOL erase) {
  ::InvalidateRect(m_hWnd, nullptr, erase);
}
void CWnd::UpdateWindow() {
  ::UpdateWindow(m_hWnd);
}
BOOL CWnd::RedrawWindow(const RECT* rect, void* region, UINT flags) {
  return ::RedrawWindow(m_hWnd, rect, region, flags);
}
void CWnd::SetFont(HFONT font, BOOL redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}
HFONT CWnd::GetFont() const {
  return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
}

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
  const std::wstring app = AfxGetAppName();
  return MessageBoxW(m_hWnd, text, caption ? caption : app.c_str(), type);
}

BOOL CWnd::UpdateData(BOOL save) {
  CDataExchange dx(this, save);
  try {
    DoDataExchange(&dx);
  } catch (const DataExchangeFailure&) {
    return FALSE;
  }
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::DestroyWindow() {
  return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

// ---- Data exchange -----------------------------------------------------------------------------

HWND CDataExchange::PrepareCtrl(int id) {
  HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
  m_idLastControl = id;
  m_bEditLastControl = FALSE;
  if (control == nullptr) {
    // A field bound to a control the template lacks: the dialog's own mistake, said plainly.
    dialog::Print(L"error: data exchange with control " + std::to_wstring(id) +
                  L", which the dialog does not have\n");
    throw DataExchangeFailure{};
  }
  return control;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
  HWND control = PrepareCtrl(id);
  m_bEditLastControl = TRUE;
  return control;
}

void CDataExchange::Fail() {
  if (m_idLastControl != 0) {
    if (HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, m_idLastControl)) ::SetFocus(control);
  }
  throw DataExchangeFailure{};
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd != nullptr) return;
  HWND hwnd = dx->PrepareCtrl(id);
  if (!control.SubclassWindow(hwnd)) {
    dialog::Print(L"error: control " + std::to_wstring(id) + L" is already attached\n");
    dx->Fail();
  }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
  HWND control = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    value = static_cast<int>(SendMessageW(control, BM_GETCHECK, 0, 0));
  } else {
    SendMessageW(control, BM_SETCHECK, static_cast<WPARAM>(value < 0 || value > 2 ? 0 : value), 0);
  }
}

void DDX_Radio(CDataExchange* dx, int id, int& value) {
  HWND first = dx->PrepareCtrl(id);
  dialog::Window* w = dialog::Find(first);
  if (dx->m_bSaveAndValidate) value = -1;
  int index = 0;
  for (dialog::Window* button : dialog::RadioGroup(*w)) {
    // The group runs from the given control on.
    if (index == 0 && button->hwnd != first) continue;
    if (dx->m_bSaveAndValidate) {
      if (SendMessageW(button->hwnd, BM_GETCHECK, 0, 0) != 0) value = index;
    } else {
      SendMessageW(button->hwnd, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    ++index;
  }
}

void DDX_Text(CDataExchange* dx, int id, int& value) {
  HWND control = dx->PrepareEditCtrl(id);
  if (dx->m_bSaveAndValidate) {
    if (!ParseInt(WindowText(control), value)) {
      AfxMessageBox(L"Please enter an integer.", MB_ICONEXCLAMATION);
      dx->Fail();
    }
  } else {
    SetWindowTextW(control, std::to_wstring(value).c_str());
  }
}

void DDX_Text(CDataExchange* dx, int id, double& value) {
  HWND control = dx->PrepareEditCtrl(id);
  if (dx->m_bSaveAndValidate) {
    if (!ParseDouble(WindowText(control), value)) {
      AfxMessageBox(L"Please enter a number.", MB_ICONEXCLAMATION);
      dx->Fail();
    }
  } else {
    SetWindowTextW(control, Format(L"%.*g", DBL_DIG, value).c_str());
  }
}

void DDX_Text(CDataExchange* dx, int id, std::wstring& value) {
  HWND control = dx->PrepareEditCtrl(id);
  if (dx->m_bSaveAndValidate) {
    value = WindowText(control);
  } else {
    SetWindowTextW(control, value.c_str());
  }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max) {
  if (!dx->m_bSaveAndValidate || (value >= min && value <= max)) return;
  AfxMessageBox(Format(L"Please enter an integer between %d and %d.", min, max).c_str(),
                MB_ICONEXCLAMATION);
  dx->Fail();
}

void DDV_MinMaxDouble(CDataExchange* dx, double value, double min, double max) {
  if (!dx->m_bSaveAndValidate || (value >= min && value <= max)) return;
  AfxMessageBox(
      Format(L"Please enter a number between %.*g and %.*g.", DBL_DIG, min, DBL_DIG, max).c_str(),
      MB_ICONEXCLAMATION);
  dx->Fail();
}

void DDV_MaxChars(CDataExchange* dx, const std::wstring& value, int count) {
  if (!dx->m_bSaveAndValidate || static_cast<int>(value.size()) <= count) return;
  AfxMessageBox(Format(L"Please enter no more than %d characters.", count).c_str(),
                MB_ICONEXCLAMATION);
  dx->Fail();
}

// ---- CDialog -----------------------------------------------------------------------------------

CDialog::CDialog(UINT template_id, CWnd* parent) : parent_(parent), template_id_(template_id) {}

CDialog::~CDialog() {
  if (m_hWnd != nullptr && IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

bool CDialog::CreateWindows(HWND parent) {
  last_error_.clear();
  ended_ = false;
  result_ = 0;
  if (m_hWnd != nullptr) {
    last_error_ = "dialog " + std::to_string(template_id_) + " is already open";
    dialog::Print(L"error: " + Utf8ToWide(last_error_) + L"\n");
    return false;
  }
  auto tmpl = dialog::LoadDialogTemplate(AfxGetResourceHandle(), static_cast<WORD>(template_id_));
  if (!tmpl) {
    last_error_ = tmpl.error.message;
    dialog::Print(L"error: " + Utf8ToWide(last_error_) + L"\n");
    return false;
  }
  dialog::Window* w = dialog::CreateFromTemplate(*tmpl.value, parent, this);
  m_hWnd = w->hwnd;
  return true;
}

INT_PTR CDialog::DoModal() {
  if (!CreateWindows(nullptr)) return -1;
  ::ShowWindow(m_hWnd, SW_SHOW);
  OnInitDialog();
  INT_PTR result = ended_ ? result_ : dialog::RunModal(*this);
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
  return result;
}

BOOL CDialog::Create(UINT template_id, CWnd* parent) {
  template_id_ = template_id;
  if (!CreateWindows(parent ? parent->m_hWnd : nullptr)) return FALSE;
  OnInitDialog();
  return TRUE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result) {
  ended_ = true;
  result_ = result;
}

void CDialog::MapCommand(UINT id, std::function<void()> handler, WORD code) {
  commands_[{id, code}] = std::move(handler);
}

void CDialog::MapNotify(UINT id, UINT code, std::function<void(NMHDR*, LRESULT*)> handler) {
  notifies_[{id, code}] = std::move(handler);
}

void CDialog::GotoDlgCtrl(CWnd* control) {
  if (control != nullptr) {
    SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control->m_hWnd), TRUE);
  }
}

BOOL CDialog::OnCommand(WPARAM wparam, LPARAM) {
  const UINT id = LOWORD(wparam);
  const WORD code = HIWORD(wparam);
  if (auto it = commands_.find({id, code}); it != commands_.end()) {
    // A copy: the handler may replace the map's entries.
    auto handler = it->second;
    handler();
    return TRUE;
  }
  if (code == BN_CLICKED && id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (code == BN_CLICKED && id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}

BOOL CDialog::OnNotify(WPARAM, LPARAM lparam, LRESULT* result) {
  auto* header = reinterpret_cast<NMHDR*>(lparam);
  if (auto it = notifies_.find({static_cast<UINT>(header->idFrom), header->code});
      it != notifies_.end()) {
    auto handler = it->second;
    handler(header, result);
    return TRUE;
  }
  return FALSE;
}

// ---- CMenu -------------------------------------------------------------------------------------

CMenu::~CMenu() {
  DestroyMenu();
}

BOOL CMenu::LoadMenu(UINT id) {
  DestroyMenu();
  m_hMenu = LoadMenuW(AfxGetResourceHandle(), MAKEINTRESOURCEW(static_cast<WORD>(id)));
  owned_ = m_hMenu != nullptr;
  return owned_;
}

BOOL CMenu::Attach(HMENU menu) {
  if (m_hMenu != nullptr || menu == nullptr) return FALSE;
  m_hMenu = menu;
  owned_ = true;
  return TRUE;
}

HMENU CMenu::Detach() {
  HMENU menu = m_hMenu;
  m_hMenu = nullptr;
  owned_ = false;
  submenus_.clear();
  return menu;
}

BOOL CMenu::DestroyMenu() {
  submenus_.clear();
  if (m_hMenu == nullptr) return FALSE;
  const BOOL ok = owned_ ? ::DestroyMenu(m_hMenu) : TRUE;
  m_hMenu = nullptr;
  owned_ = false;
  return ok;
}

CMenu* CMenu::GetSubMenu(int position) {
  HMENU sub = ::GetSubMenu(m_hMenu, position);
  if (sub == nullptr) return nullptr;
  for (auto& kept : submenus_) {
    if (kept->m_hMenu == sub) return kept.get();
  }
  auto menu = std::make_unique<CMenu>();
  menu->m_hMenu = sub;  // owned by this menu
  submenus_.push_back(std::move(menu));
  return submenus_.back().get();
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, const RECT* rect) {
  return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner ? owner->m_hWnd : nullptr, rect);
}
