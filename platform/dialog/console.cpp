#include "platform/dialog/console.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <mutex>

#include "platform/dialog/acui.h"
#include "platform/dialog/afxwin.h"
#include "platform/dialog/dialog_internal.h"
#include "platform/dialog/popupmenu.h"
#include "platform/win/codepage.h"
#include "platform/win/message.h"
#include "platform/win/module.h"
#include "platform/win/msgqueue.h"

namespace {

std::mutex output_mutex;
std::function<void(std::wstring_view)> output;  // guarded by output_mutex

thread_local std::vector<CDialog*> modal_stack;
thread_local dialog::PendingMenuAnswer menu_answer;
// Commands that popup menus without TPM_RETURNCMD post to their owner; delivered after the
// action that showed the menu, as a posted WM_COMMAND would be.
thread_local std::vector<std::pair<HWND, UINT>> posted_commands;

using dialog::ControlKind;
using dialog::Find;
using dialog::Window;
using dialog::WindowKind;

std::wstring Trim(std::wstring_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::iswspace(s[b])) ++b;
  while (e > b && std::iswspace(s[e - 1])) --e;
  return std::wstring(s.substr(b, e - b));
}

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

// A text on one line: control characters as escapes, in quotes.
std::wstring Quoted(std::wstring_view text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    switch (c) {
      case L'\r':
        out += L"\\r";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\t':
        out += L"\\t";
        break;
      case L'"':
        out += L"\\\"";
        break;
      case L'\\':
        out += L"\\\\";
        break;
      default:
        out += c;
    }
  }
  return out + L"\"";
}

// A menu item's text as a person reads it: without the mnemonic marks.
std::wstring Plain(std::wstring_view text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    if (text[i] == L'\t') break;
    out += text[i];
  }
  return out;
}

std::optional<long> ParseId(std::wstring_view word) {
  if (word.empty() || word.size() > 9) return std::nullopt;
  long value = 0;
  for (wchar_t c : word) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return value;
}

std::wstring Caption(const CDialog& dlg) {
  return WindowText(dlg.m_hWnd);
}

void Say(const CDialog& dlg, const std::wstring& message) {
  dialog::Print(Caption(dlg) + L": " + message + L"\n");
}

// ---- Controls as the user sees them -----------------------------------------------------------

// The pages of a tabbed dialog: child dialog windows, in creation order.
std::vector<Window*> Pages(Window& dlg) {
  std::vector<Window*> pages;
  for (HWND child : dlg.children) {
    Window* w = Find(child);
    if (w != nullptr && w->window_kind == WindowKind::kDialog) pages.push_back(w);
  }
  return pages;
}

CAdUiTab* TabOf(Window& dlg) {
  for (HWND child : dlg.children) {
    Window* w = Find(child);
    if (w != nullptr && w->window_kind == WindowKind::kControl && w->kind == ControlKind::kTab) {
      if (auto* tab = dynamic_cast<CAdUiTab*>(w->attached)) return tab;
    }
  }
  return nullptr;
}

Window* TabControl(Window& dlg) {
  for (HWND child : dlg.children) {
    Window* w = Find(child);
    if (w != nullptr && w->window_kind == WindowKind::kControl && w->kind == ControlKind::kTab) {
      return w;
    }
  }
  return nullptr;
}

struct Located {
  Window* control = nullptr;
  Window* hidden_page = nullptr;  // the control lives on a page that is not shown
};

// Control `id` of the dialog: on the shown page first, then on the frame, then on hidden pages.
Located Locate(Window& dlg, int id) {
  Located found;
  std::vector<Window*> pages = Pages(dlg);
  for (Window* page : pages) {
    if (!(page->style & WS_VISIBLE)) continue;
    if (HWND c = GetDlgItem(page->hwnd, id)) {
      found.control = Find(c);
      return found;
    }
  }
  if (HWND c = GetDlgItem(dlg.hwnd, id)) {
    found.control = Find(c);
    return found;
  }
  for (Window* page : pages) {
    if (GetDlgItem(page->hwnd, id) != nullptr) {
      found.hidden_page = page;
      return found;
    }
  }
  return found;
}

std::wstring Describe(Window& c) {
  std::wstring line = L"  ";
  std::wstring id = c.id == 0xFFFF ? L"-" : std::to_wstring(c.id);
  id.resize(std::max<size_t>(id.size(), 5), L' ');
  id += L' ';
  std::wstring kind = Utf8ToWide(dialog::KindWord(c.kind));
  if (c.kind == ControlKind::kButton && (c.style & BS_TYPEMASK) == BS_OWNERDRAW) {
    kind = L"menubutton";
  }
  kind.resize(std::max<size_t>(kind.size(), 9), L' ');
  kind += L' ';
  line += id + kind;
  switch (c.kind) {
    case ControlKind::kButton:
      line += Quoted(c.text);
      if ((c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) line += L" default";
      break;
    case ControlKind::kCheckBox:
      line += Quoted(c.text) + (c.check == BST_CHECKED         ? L" on"
                                : c.check == BST_INDETERMINATE ? L" indeterminate"
                                                               : L" off");
      break;
    case ControlKind::kRadio:
      line += Quoted(c.text) + (c.check == BST_CHECKED ? L" on" : L" off");
      if (c.style & WS_GROUP) line += L" (starts a group)";
      break;
    case ControlKind::kEdit:
      line += Quoted(c.text);
      if (c.style & ES_READONLY) line += L" read-only";
      break;
    case ControlKind::kStatic:
    case ControlKind::kGroupBox:
      line += Quoted(c.text);
      if (c.kind == ControlKind::kStatic && (c.style & SS_NOTIFY)) line += L" (link)";
      break;
    case ControlKind::kUpDown:
      if (c.buddy) line += L"buddy " + std::to_wstring(GetDlgCtrlID(c.buddy)) + L" ";
      line += L"position " + std::to_wstring(SendMessageW(c.hwnd, UDM_GETPOS32, 0, 0)) +
              L" range " + std::to_wstring(c.lower) + L".." + std::to_wstring(c.upper);
      break;
    case ControlKind::kListView: {
      line += std::to_wstring(c.rows.size()) + (c.rows.size() == 1 ? L" row" : L" rows");
      if (!c.columns.empty()) {
        line += L", columns";
        for (const auto& col : c.columns) line += L" " + Quoted(col.text);
      }
      break;
    }
    case ControlKind::kTab:
      for (size_t i = 0; i < c.tabs.size(); ++i) {
        line += (i ? L", " : L"") + std::to_wstring(i) + L" " + Quoted(c.tabs[i]);
        if (static_cast<int>(i) == c.current_tab) line += L" (active)";
      }
      break;
  }
  if (c.style & WS_DISABLED) line += L" [disabled]";
  if (!(c.style & WS_VISIBLE)) line += L" [hidden]";
  line += L"\n";
  if (c.kind == ControlKind::kListView) {
    for (const auto& row : c.rows) {
      line += (row.state & LVIS_SELECTED) ? L"        [x] " : L"        [ ] ";
      line += row.texts.empty() ? std::wstring() : row.texts[0];
      for (size_t k = 1; k < row.texts.size(); ++k) line += L" | " + row.texts[k];
      if (row.state & LVIS_FOCUSED) line += L"  <focus>";
      line += L"\n";
    }
  }
  return line;
}

void ListControls(Window& parent, std::wstring& out, std::vector<Window*>& tooltips) {
  for (HWND child : parent.children) {
    Window* c = Find(child);
    if (c == nullptr) continue;
    if (c->window_kind == WindowKind::kToolTip) {
      tooltips.push_back(c);
    } else if (c->window_kind == WindowKind::kControl) {
      out += Describe(*c);
    }
  }
}

void Show(CDialog& dlg) {
  Window* d = Find(dlg.m_hWnd);
  if (d == nullptr) return;
  std::wstring out = L"Dialog " + Quoted(d->text) + L"\n";
  std::vector<Window*> tooltips;
  ListControls(*d, out, tooltips);
  std::vector<Window*> pages = Pages(*d);
  Window* tab = TabControl(*d);
  for (size_t i = 0; i < pages.size(); ++i) {
    Window* page = pages[i];
    if (!(page->style & WS_VISIBLE)) continue;
    std::wstring caption = page->text;
    if (tab != nullptr && tab->current_tab >= 0 &&
        static_cast<size_t>(tab->current_tab) < tab->tabs.size()) {
      out += L"Tab " + std::to_wstring(tab->current_tab) + L" " +
             Quoted(tab->tabs[tab->current_tab]) + L" (active):\n";
    } else {
      out += L"Page " + Quoted(caption) + L":\n";
    }
    ListControls(*page, out, tooltips);
  }
  for (Window* tip : tooltips) {
    for (const auto& tool : tip->tools) {
      const int id = GetDlgCtrlID(tool.control);
      out += L"  tooltip on " + (id ? std::to_wstring(id) : std::wstring(L"the dialog")) + L": " +
             Quoted(tool.text) + (tip->active ? L"" : L" [inactive]") + L"\n";
    }
  }
  dialog::Print(out);
}

void Help(CDialog& dlg) {
  Say(dlg,
      L"commands: ? (show the dialog) | ID (click) | ID on | ID off | ID = TEXT | "
      L"ID up | ID down | ID select A,B | ID select all | ID select none | menu CMD | tab N | "
      L"help | ok | cancel");
}

// ---- Actions -----------------------------------------------------------------------------------

// Offers the action to the target's objects from the target up to the dialog (a message loop's
// PreTranslateMessage); TRUE when one of them ate it.
bool PreTranslate(CDialog& dlg, HWND target, UINT message) {
  MSG msg{target, message, 0, 0, GetTickCount(), POINT{0, 0}};
  for (HWND h = target; h != nullptr; h = GetParent(h)) {
    Window* w = Find(h);
    if (w == nullptr) break;
    if (w->attached != nullptr && w->attached->PreTranslateMessage(&msg)) return true;
    if (h == dlg.m_hWnd) break;
  }
  return false;
}

void DeliverPosted() {
  while (!posted_commands.empty()) {
    const auto [owner, command] = posted_commands.front();
    posted_commands.erase(posted_commands.begin());
    SendMessageW(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(command), 0), 0);
  }
}

void SendCommand(CDialog& dlg, int id) {
  HWND button = GetDlgItem(dlg.m_hWnd, id);
  SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

// "A,B,\"C,D\"" -> A | B | C,D
std::vector<std::wstring> SplitNames(std::wstring_view text) {
  std::vector<std::wstring> names;
  std::wstring current;
  bool quoted = false;
  for (wchar_t c : text) {
    if (c == L'"') {
      quoted = !quoted;
    } else if (c == L',' && !quoted) {
      names.push_back(Trim(current));
      current.clear();
    } else {
      current += c;
    }
  }
  names.push_back(Trim(current));
  return names;
}

void Select(CDialog& dlg, Window& list, const std::wstring& what) {
  const std::wstring word = Lower(Trim(what));
  std::vector<bool> selected(list.rows.size(), false);
  int focus = -1;
  if (word == L"all") {
    selected.assign(list.rows.size(), true);
  } else if (word != L"none") {
    for (const std::wstring& name : SplitNames(what)) {
      auto it = std::find_if(list.rows.begin(), list.rows.end(), [&](const dialog::ListRow& r) {
        return !r.texts.empty() && r.texts[0] == name;
      });
      if (it == list.rows.end()) {
        Say(dlg, L"list " + std::to_wstring(list.id) + L" has no row " + Quoted(name) +
                     L"; nothing selected");
        return;
      }
      focus = static_cast<int>(it - list.rows.begin());
      selected[focus] = true;
    }
    if ((list.style & LVS_SINGLESEL) && std::count(selected.begin(), selected.end(), true) > 1) {
      Say(dlg, L"list " + std::to_wstring(list.id) + L" takes one row only; nothing selected");
      return;
    }
  }
  const HWND hwnd = list.hwnd;
  const HWND parent = list.parent;
  const int id = list.id;
  for (size_t i = 0; i < selected.size(); ++i) {
    Window* w = Find(hwnd);
    if (w == nullptr || i >= w->rows.size()) return;
    const UINT old_state = w->rows[i].state;
    UINT state = selected[i] ? (old_state | LVIS_SELECTED) : (old_state & ~LVIS_SELECTED);
    if (focus >= 0)
      state = static_cast<int>(i) == focus ? (state | LVIS_FOCUSED) : (state & ~LVIS_FOCUSED);
    if (state == old_state) continue;
    w->rows[i].state = state;
    NMLISTVIEW nm{};
    nm.hdr = NMHDR{hwnd, static_cast<UINT_PTR>(id), LVN_ITEMCHANGED};
    nm.iItem = static_cast<int>(i);
    nm.uNewState = state;
    nm.uOldState = old_state;
    nm.uChanged = LVIF_STATE;
    SendMessageW(parent, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&nm));
  }
  if (focus >= 0) SetFocus(hwnd);
}

void ContextMenu(CDialog& dlg, Window& d, const std::wstring& argument) {
  const std::optional<long> command = ParseId(Trim(argument));
  if (!command || *command == 0 || *command > 65535) {
    Say(dlg, L"menu takes a command id (1 to 65535)");
    return;
  }
  // The list the user right-clicks: the first visible list view, on the shown page first.
  Window* list = nullptr;
  std::vector<Window*> parents;
  for (Window* page : Pages(d)) {
    if (page->style & WS_VISIBLE) parents.push_back(page);
  }
  parents.push_back(&d);
  for (Window* p : parents) {
    for (HWND child : p->children) {
      Window* c = Find(child);
      if (list == nullptr && c != nullptr && c->window_kind == WindowKind::kControl &&
          c->kind == ControlKind::kListView && IsWindowVisible(child)) {
        list = c;
      }
    }
  }
  menu_answer = dialog::PendingMenuAnswer{true, static_cast<UINT>(*command), false, {}};
  const HWND target = list ? list->hwnd : d.hwnd;
  if (!PreTranslate(dlg, target, WM_RBUTTONDOWN)) {
    if (list != nullptr) {
      NMHDR header{list->hwnd, static_cast<UINT_PTR>(list->id), NM_RCLICK};
      SendMessageW(list->parent, WM_NOTIFY, static_cast<WPARAM>(list->id),
                   reinterpret_cast<LPARAM>(&header));
    }
    if (!menu_answer.used && IsWindow(target)) {
      SendMessageW(list ? list->parent : d.hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target),
                   0);
    }
  }
  const dialog::PendingMenuAnswer answer = menu_answer;
  menu_answer = dialog::PendingMenuAnswer{};
  if (!answer.used) {
    Say(dlg, L"this dialog has no context menu");
  } else if (!answer.error.empty()) {
    Say(dlg, Utf8ToWide(answer.error));
  }
}

void SwitchTab(CDialog& dlg, Window& d, const std::wstring& argument) {
  Window* tab = TabControl(d);
  if (tab == nullptr) {
    Say(dlg, L"this dialog has no tabs");
    return;
  }
  const std::optional<long> index = ParseId(Trim(argument));
  const int count = static_cast<int>(tab->tabs.size());
  if (!index || *index >= count) {
    Say(dlg, L"tab takes a tab number from 0 to " + std::to_wstring(count - 1));
    return;
  }
  if (CAdUiTab* adui = TabOf(d)) {
    if (!adui->SetActiveTab(static_cast<int>(*index))) {
      Say(dlg, L"the page shown does not let go (its data is not valid)");
    }
    return;
  }
  SendMessageW(tab->hwnd, TCM_SETCURSEL, static_cast<WPARAM>(*index), 0);
}

void ControlAction(CDialog& dlg, Window& d, long id, const std::wstring& rest_raw) {
  const Located found = Locate(d, static_cast<int>(id));
  if (found.control == nullptr) {
    if (found.hidden_page != nullptr) {
      Say(dlg, L"control " + std::to_wstring(id) + L" is on a tab that is not shown (tab N first)");
    } else {
      Say(dlg, L"no control " + std::to_wstring(id) + L" (type ? for the list)");
    }
    return;
  }
  Window& c = *found.control;
  const HWND hwnd = c.hwnd;
  const std::wstring rest = Trim(rest_raw);
  const std::wstring verb = Lower(rest.substr(0, rest.find_first_of(L" \t=")));
  const std::wstring name =
      std::to_wstring(id) + L" (" + Utf8ToWide(dialog::KindWord(c.kind)) + L")";
  if (!IsWindowVisible(hwnd)) {
    Say(dlg, L"control " + name + L" is hidden");
    return;
  }
  if (!IsWindowEnabled(hwnd)) {
    Say(dlg, L"control " + name + L" is disabled");
    return;
  }
  const bool clickable = c.kind == ControlKind::kButton || c.kind == ControlKind::kCheckBox ||
                         c.kind == ControlKind::kRadio ||
                         (c.kind == ControlKind::kStatic && (c.style & SS_NOTIFY));
  if (rest.empty()) {
    if (!clickable) {
      Say(dlg, L"control " + name + L" cannot be clicked");
      return;
    }
    if (!PreTranslate(dlg, hwnd, WM_LBUTTONDOWN)) dialog::Click(c);
    return;
  }
  if (verb == L"on" || verb == L"off") {
    if (rest.size() != verb.size() ||
        (c.kind != ControlKind::kCheckBox && !(c.kind == ControlKind::kRadio && verb == L"on"))) {
      Say(dlg, L"control " + name + L" takes no " + verb);
      return;
    }
    const bool want = verb == L"on";
    if ((c.check == BST_CHECKED) != want && !PreTranslate(dlg, hwnd, WM_LBUTTONDOWN)) {
      dialog::Click(c);
    }
    return;
  }
  if (rest[0] == L'=') {
    Window* edit = &c;
    if (c.kind == ControlKind::kUpDown) edit = c.buddy ? Find(c.buddy) : nullptr;
    if (edit == nullptr || edit->kind != ControlKind::kEdit) {
      Say(dlg, L"control " + name + L" has no text to set");
      return;
    }
    if (edit->style & ES_READONLY) {
      Say(dlg, L"control " + name + L" is read-only");
      return;
    }
    std::wstring text = Trim(rest.substr(1));
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') {
      text = text.substr(1, text.size() - 2);
    }
    if ((edit->style & ES_NUMBER) && text.find_first_not_of(L"0123456789") != std::wstring::npos) {
      Say(dlg, L"control " + std::to_wstring(edit->id) + L" takes digits only");
      return;
    }
    const HWND edit_hwnd = edit->hwnd;
    if (PreTranslate(dlg, edit_hwnd, WM_KEYDOWN)) return;
    SetFocus(edit_hwnd);
    SetWindowTextW(edit_hwnd, text.c_str());
    if (Window* e = Find(edit_hwnd)) dialog::NotifyCommand(*e, EN_CHANGE);
    return;
  }
  if (verb == L"up" || verb == L"down") {
    if (c.kind != ControlKind::kUpDown || rest.size() != verb.size()) {
      Say(dlg, L"control " + name + L" takes no " + verb);
      return;
    }
    if (!PreTranslate(dlg, hwnd, WM_LBUTTONDOWN)) dialog::StepUpDown(c, verb == L"up" ? 1 : -1);
    return;
  }
  if (verb == L"select") {
    if (c.kind != ControlKind::kListView) {
      Say(dlg, L"control " + name + L" has no rows to select");
      return;
    }
    if (!PreTranslate(dlg, hwnd, WM_LBUTTONDOWN)) Select(dlg, c, rest.substr(6));
    return;
  }
  Say(dlg, L"unknown action " + Quoted(rest) + L" for control " + name + L" (type ? for help)");
}

void Execute(CDialog& dlg, const std::wstring& raw) {
  Window* d = Find(dlg.m_hWnd);
  if (d == nullptr) return;
  const std::wstring line = Trim(raw);
  if (line.empty()) return;
  const size_t blank = line.find_first_of(L" \t=");
  const std::wstring first = Lower(line.substr(0, blank));
  const std::wstring rest = blank == std::wstring::npos ? L"" : line.substr(blank);
  if (first == L"?") {
    if (Trim(rest).empty()) {
      Show(dlg);
    } else {
      Help(dlg);
    }
  } else if (first == L"ok" && Trim(rest).empty()) {
    HWND ok = GetDlgItem(dlg.m_hWnd, IDOK);
    if (ok != nullptr && !IsWindowEnabled(ok)) {
      Say(dlg, L"OK is disabled");
    } else if (!PreTranslate(dlg, ok ? ok : dlg.m_hWnd, WM_KEYDOWN)) {
      SendCommand(dlg, IDOK);
    }
  } else if (first == L"cancel" && Trim(rest).empty()) {
    if (!PreTranslate(dlg, dlg.m_hWnd, WM_KEYDOWN)) SendCommand(dlg, IDCANCEL);
  } else if (first == L"help" && Trim(rest).empty()) {
    HWND focus = GetFocus();
    HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, GetDlgCtrlID(focus), focus, 0, POINT{0, 0}};
    if (!SendMessageW(dlg.m_hWnd, WM_HELP, 0, reinterpret_cast<LPARAM>(&info))) {
      Say(dlg, L"no help for this dialog");
    }
  } else if (first == L"tab") {
    SwitchTab(dlg, *d, rest);
  } else if (first == L"menu") {
    ContextMenu(dlg, *d, rest);
  } else if (const std::optional<long> id = ParseId(first)) {
    ControlAction(dlg, *d, *id, rest);
  } else {
    Say(dlg, L"unknown command " + Quoted(line) + L" (type ? for help)");
  }
}

// ---- Popup menus -------------------------------------------------------------------------------

bool Choosable(HMENU menu, UINT command) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    if (state & MF_POPUP) {
      if (Choosable(GetSubMenu(menu, i), command)) return true;
      continue;
    }
    if (GetMenuItemID(menu, i) == command) {
      return !(state & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED));
    }
  }
  return false;
}

UINT FindByText(HMENU menu, const std::wstring& text) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    if (state & MF_POPUP) {
      if (UINT found = FindByText(GetSubMenu(menu, i), text)) return found;
      continue;
    }
    if (state & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)) continue;
    wchar_t buffer[256];
    GetMenuStringW(menu, static_cast<UINT>(i), buffer, 256, MF_BYPOSITION);
    if (Lower(Plain(buffer)) == Lower(text)) return GetMenuItemID(menu, i);
  }
  return 0;
}

void ListMenu(HMENU menu, const std::wstring& indent, std::wstring& out) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    wchar_t buffer[256];
    GetMenuStringW(menu, static_cast<UINT>(i), buffer, 256, MF_BYPOSITION);
    if (state & MF_POPUP) {
      out += indent + Plain(buffer) + L" >\n";
      ListMenu(GetSubMenu(menu, i), indent + L"    ", out);
    } else if (state & MF_SEPARATOR) {
      out += indent + L"------\n";
    } else {
      std::wstring id = std::to_wstring(GetMenuItemID(menu, i));
      id.resize(std::max<size_t>(id.size(), 5), L' ');
      out += indent + id + L"  " + ((state & MF_CHECKED) ? L"[x] " : L"") + Plain(buffer) +
             ((state & (MF_GRAYED | MF_DISABLED)) ? L" [disabled]" : L"") + L"\n";
    }
  }
}

UINT AskMenu(HMENU menu) {
  std::shared_ptr<LineSource> source = CurrentLineSource();
  const bool interactive = source->Interactive();
  std::wstring listing = L"Menu:\n";
  ListMenu(menu, L"  ", listing);
  dialog::Print(listing);
  while (true) {
    if (interactive) dialog::Print(L"Menu command (empty: none): ");
    const std::optional<std::string> line = source->Take();
    if (!line) return 0;
    const std::wstring answer = Trim(Utf8ToWide(*line));
    if (answer.empty()) return 0;
    const std::optional<long> id = ParseId(answer);
    UINT chosen = 0;
    if (id && *id > 0 && *id <= 65535 && Choosable(menu, static_cast<UINT>(*id))) {
      chosen = static_cast<UINT>(*id);
    } else if (!id) {
      chosen = FindByText(menu, answer);
    }
    if (chosen != 0) return chosen;
    dialog::Print(L"Menu: " + Quoted(answer) +
                  L" is not a command of this menu that can be chosen" +
                  (interactive ? L"\n" : L"; menu dismissed\n"));
    if (!interactive) return 0;
  }
}

}  // namespace

namespace dialog {

void Print(std::wstring_view text) {
  std::function<void(std::wstring_view)> out;
  {
    std::lock_guard lock(output_mutex);
    out = output;
  }
  if (out) {
    out(text);
    return;
  }
  const std::string utf8 = WideToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

CDialog* ActiveModal() {
  return modal_stack.empty() ? nullptr : modal_stack.back();
}

PendingMenuAnswer& MenuAnswer() {
  return menu_answer;
}

INT_PTR RunModal(CDialog& dlg) {
  modal_stack.push_back(&dlg);
  std::shared_ptr<LineSource> source = CurrentLineSource();
  const bool interactive = source->Interactive();
  const std::wstring caption = Caption(dlg);
  Print(L"Dialog " + Quoted(caption) + (interactive ? L": type ? for help\n" : L"\n"));
  DeliverPosted();
  while (!dlg.Ended() && IsWindow(dlg.m_hWnd)) {
    if (interactive) Print(caption + L"> ");
    const std::optional<std::string> line = source->Take();
    if (!line) {
      Print(caption + L": end of input, cancelled\n");
      SendCommand(dlg, IDCANCEL);
      DeliverPosted();
      // A dialog that refuses to be cancelled must still not wait for input that never comes.
      if (!dlg.Ended()) dlg.EndDialog(IDCANCEL);
      break;
    }
    Execute(dlg, Utf8ToWide(*line));
    DeliverPosted();
  }
  modal_stack.pop_back();
  return dlg.Ended() ? dlg.ModalResult() : IDCANCEL;
}

}  // namespace dialog

std::function<void(std::wstring_view)> SetDialogOutput(std::function<void(std::wstring_view)> out) {
  std::lock_guard lock(output_mutex);
  std::swap(output, out);
  return out;
}

// ---- Menus from resources ---------------------------------------------------------------------

namespace {

bool Build(HMENU menu, const std::vector<dialog::MenuItemTemplate>& items) {
  for (const auto& item : items) {
    switch (item.kind) {
      case dialog::MenuItemTemplate::Kind::kSeparator:
        if (!AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)) return false;
        break;
      case dialog::MenuItemTemplate::Kind::kItem:
        if (!AppendMenuW(menu, MF_STRING | item.flags, item.id, item.text.c_str())) return false;
        break;
      case dialog::MenuItemTemplate::Kind::kPopup: {
        HMENU popup = CreatePopupMenu();
        if (popup == nullptr || !Build(popup, item.items) ||
            !AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), item.text.c_str())) {
          return false;
        }
        break;
      }
    }
  }
  return true;
}

}  // namespace

HMENU LoadMenuW(HINSTANCE module, LPCWSTR name) {
  if (!IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  auto tmpl = dialog::LoadMenuTemplate(module, id);
  if (!tmpl) {
    dialog::Print(L"error: " + Utf8ToWide(tmpl.error.message) + L"\n");
    SetLastError(tmpl.error.line > 0 ? ERROR_INVALID_DATA : ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  HMENU bar = CreateMenu();
  if (bar == nullptr || !Build(bar, tmpl.value->items)) {
    if (bar != nullptr) DestroyMenu(bar);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return bar;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int, int, int, HWND owner, const RECT*) {
  if (!IsMenu(menu)) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  UINT chosen = 0;
  if (menu_answer.set && !menu_answer.used) {
    menu_answer.used = true;
    if (Choosable(menu, menu_answer.command)) {
      chosen = menu_answer.command;
    } else {
      menu_answer.error = "command " + std::to_string(menu_answer.command) +
                          " is not a command of this menu that can be chosen";
    }
  } else {
    chosen = AskMenu(menu);
  }
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  if (chosen == 0) return FALSE;
  if (!(flags & TPM_NONOTIFY) && owner != nullptr) {
    if (modal_stack.empty()) {
      // No loop will deliver it later: deliver it now.
      SendMessageW(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(chosen), 0), 0);
    } else {
      posted_commands.emplace_back(owner, chosen);
    }
  }
  return TRUE;
}

BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  *point = POINT{0, 0};
  return TRUE;
}
