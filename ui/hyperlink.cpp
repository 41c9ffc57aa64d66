#include "ui/hyperlink.h"

#include <atomic>
#include <cwchar>

#include "platform/win/codepage.h"
#include "platform/win/message.h"
#include "platform/win/registry.h"
#include "platform/win/shell.h"

namespace {

std::atomic<CHyperLink::BeepFunction> beep_function{&MessageBeep};

// Without fonts, text is measured as the dialog font's average cell: 6 by 13 pixels.
constexpr LONG kCharWidth = 6;
constexpr LONG kLineHeight = 13;

// The default value of HKEY_CLASSES_ROOT\`key`, or false.
bool ClassesRootDefault(const std::wstring& key, std::wstring& value) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t data[MAX_PATH] = {};
  DWORD size = sizeof(data);
  DWORD type = 0;
  const LONG status =
      RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  value.assign(data, wcsnlen(data, MAX_PATH));
  return true;
}

}  // namespace

CHyperLink::CHyperLink() : hover_colour_(GetSysColor(COLOR_HIGHLIGHT)) {}

CHyperLink::~CHyperLink() = default;

void CHyperLink::SetLinkTarget(LPCWSTR target) {
  target_ = target ? target : L"";
  if (m_hWnd != nullptr) {
    FitToText();
    tooltip_.UpdateTipText(target_.c_str(), this, 1);
  }
}

void CHyperLink::SetLinkColors(COLORREF link, COLORREF visited, COLORREF hover) {
  link_colour_ = link;
  visited_colour_ = visited;
  hover_colour_ = hover == static_cast<COLORREF>(-1) ? GetSysColor(COLOR_HIGHLIGHT) : hover;
  Repaint();
}

void CHyperLink::SetVisitedState(bool visited) {
  visited_ = visited;
  Repaint();
}

void CHyperLink::SetUnderlined(bool underline) {
  underline_ = underline;
  Repaint();
}

void CHyperLink::SetFitToText(bool fit) {
  fit_to_text_ = fit;
  if (fit) FitToText();
}

void CHyperLink::SetHoverCursor(HCURSOR cursor) {
  cursor_ = cursor ? cursor : kHandCursor;
}

COLORREF CHyperLink::TextColor() const {
  if (over_) return hover_colour_;
  return visited_ ? visited_colour_ : link_colour_;
}

void CHyperLink::Repaint() {
  if (m_hWnd != nullptr) Invalidate();
}

void CHyperLink::FitToText() {
  if (m_hWnd == nullptr || !fit_to_text_) return;
  std::wstring text;
  GetWindowText(text);
  RECT rect{};
  GetWindowRect(&rect);
  if (CWnd* parent = GetParent()) parent->ScreenToClient(&rect);
  const LONG text_width = static_cast<LONG>(text.size()) * kCharWidth;
  const DWORD style = GetStyle();
  if (style & SS_CENTERIMAGE) {
    const LONG shrink = ((rect.bottom - rect.top) - kLineHeight) / 2;
    rect.top += shrink;
    rect.bottom = rect.top + kLineHeight;
  } else {
    rect.bottom = rect.top + kLineHeight;
  }
  if (style & SS_CENTER) {
    const LONG shrink = ((rect.right - rect.left) - text_width) / 2;
    rect.left += shrink;
    rect.right = rect.left + text_width;
  } else if (style & SS_RIGHT) {
    rect.left = rect.right - text_width;
  } else {
    rect.right = rect.left + text_width;
  }
  MoveWindow(&rect, TRUE);
}

void CHyperLink::PreSubclassWindow() {
  ModifyStyle(0, SS_NOTIFY);
  std::wstring text;
  GetWindowText(text);
  if (target_.empty()) target_ = text;
  if (text.empty()) SetWindowText(target_.c_str());
  FitToText();
  if (cursor_ == nullptr) cursor_ = kHandCursor;
  if (CWnd* parent = GetParent(); parent != nullptr && tooltip_.m_hWnd == nullptr) {
    tooltip_.Create(parent);
    RECT client{};
    GetClientRect(&client);
    tooltip_.AddTool(this, target_.c_str(), &client, 1);
  }
}

BOOL CHyperLink::PreTranslateMessage(MSG* msg) {
  if (tooltip_.m_hWnd != nullptr) tooltip_.RelayEvent(msg);
  return CStatic::PreTranslateMessage(msg);
}

LRESULT CHyperLink::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETCURSOR:
      if (cursor_ != nullptr) return TRUE;  // the front end shows cursor_
      break;
    case WM_MOUSEMOVE: {
      const LRESULT result = CStatic::WindowProc(message, wparam, lparam);
      const POINT point{static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(lparam))),
                        static_cast<SHORT>(HIWORD(static_cast<DWORD_PTR>(lparam)))};
      RECT client{};
      GetClientRect(&client);
      const bool inside = point.x >= client.left && point.x < client.right &&
                          point.y >= client.top && point.y < client.bottom;
      if (!over_) {
        over_ = true;
        RedrawWindow();
      } else if (!inside) {
        over_ = false;
        RedrawWindow();
      }
      return result;
    }
    default:
      break;
  }
  return CStatic::WindowProc(message, wparam, lparam);
}

BOOL CHyperLink::OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (message != WM_COMMAND || HIWORD(wparam) != STN_CLICKED) {
    return CStatic::OnChildNotify(message, wparam, lparam, result);
  }
  *result = 0;
  const int opened = OpenLink(target_.c_str(), SW_SHOW);
  if (opened > 32) {
    SetVisitedState(true);
    return TRUE;
  }
  visited_ = false;
  beep_function.load()(MB_ICONEXCLAMATION);
  const std::wstring text = L"Unable to open hyperlink:\n\n" + ErrorText(opened);
  AfxMessageBox(text.c_str(), MB_ICONEXCLAMATION);
  return TRUE;
}

int CHyperLink::OpenLink(LPCWSTR target, int show) {
  const int shell = static_cast<int>(
      reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, show)));
  if (shell > 32) return shell;
  std::wstring html_class;
  if (!ClassesRootDefault(L".htm", html_class)) return shell;
  std::wstring command;
  if (!ClassesRootDefault(html_class + L"\\shell\\open\\command", command)) return shell;
  size_t cut = command.find(L"\"%1\"");
  if (cut == std::wstring::npos) cut = command.find(L"%1");
  if (cut != std::wstring::npos) command.erase(cut);
  command += L" ";
  command += target ? target : L"";
  const std::string narrow = WideToCodePage(CP_ACP, command);
  return static_cast<int>(WinExec(narrow.c_str(), static_cast<UINT>(show)));
}

std::wstring CHyperLink::ErrorText(int result) {
  switch (result) {
    case 0:
      return L"The operating system is out\nof memory or resources.";
    case 2:
      return L"The specified file was not found.";
    case 3:
      return L"The specified path was not found.";
    case 5:
      return L"The operating system denied\naccess to the specified file.";
    case 8:
      return L"There was not enough memory to complete the operation.";
    case 11:
      return L"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
      return L"A sharing violation occurred. ";
    case 27:
      return L"The filename association is\nincomplete or invalid.";
    case 28:
      return L"The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
      return L"The DDE transaction failed.";
    case 30:
      return L"The DDE transaction could not\nbe completed because other DDE transactions\n"
             L"were being processed.";
    case 31:
      return L"There is no application associated\nwith the given filename extension.";
    case 32:
      return L"The specified dynamic-link library was not found.";
    default: {
      wchar_t buffer[64];
      std::swprintf(buffer, 64, L"Unknown Error (%d) occurred.", result);
      return buffer;
    }
  }
}

CHyperLink::BeepFunction CHyperLink::SetBeepFunction(BeepFunction beep) {
  return beep_function.exchange(beep ? beep : &MessageBeep);
}
