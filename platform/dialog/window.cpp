#include "platform/dialog/window.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <unordered_map>

#include "platform/dialog/afxwin.h"
#include "platform/dialog/dialog_internal.h"
#include "platform/win/codepage.h"

namespace dialog {
namespace {

struct Registry {
  // Guards `windows` and `next`. The records themselves belong to their thread.
  std::mutex mutex;
  std::unordered_map<HWND, std::unique_ptr<Window>> windows;
  // Handles are never reused, so that a stale handle stays invalid.
  UINT_PTR next = 0x00020000;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: static destructors may look up
  return *registry;
}

thread_local HWND focus = nullptr;

void Unlink(Window& w) {
  if (Window* parent = w.parent ? Find(w.parent) : nullptr) {
    auto& c = parent->children;
    c.erase(std::remove(c.begin(), c.end(), w.hwnd), c.end());
  }
}

int Clamp(int v, int lo, int hi) {
  return std::min(std::max(v, std::min(lo, hi)), std::max(lo, hi));
}

std::wstring FormatInt(int value, int base) {
  wchar_t buffer[32];
  if (base == 16) {
    std::swprintf(buffer, 32, L"0x%04X", static_cast<unsigned>(value));
  } else {
    std::swprintf(buffer, 32, L"%d", value);
  }
  return buffer;
}

LRESULT ListViewProc(Window& w, UINT message, WPARAM wparam, LPARAM lparam) {
  const int count = static_cast<int>(w.rows.size());
  auto valid = [&](WPARAM i) { return static_cast<int>(i) >= 0 && static_cast<int>(i) < count; };
  switch (message) {
    case LVM_GETITEMCOUNT:
      return count;
    case LVM_DELETEITEM:
      if (!valid(wparam)) return FALSE;
      w.rows.erase(w.rows.begin() + static_cast<int>(wparam));
      return TRUE;
    case LVM_DELETEALLITEMS:
      w.rows.clear();
      return TRUE;
    case LVM_GETNEXTITEM: {
      const UINT flags = static_cast<UINT>(lparam) & (LVNI_SELECTED | LVNI_FOCUSED);
      for (int i = static_cast<int>(wparam) + 1; i < count; ++i) {
        if (i < 0) continue;
        if ((w.rows[i].state & flags) == flags) return i;
      }
      return -1;
    }
    case LVM_ENSUREVISIBLE:
      return valid(wparam);
    case LVM_INSERTCOLUMNW: {
      const auto* col = reinterpret_cast<const LVCOLUMNW*>(lparam);
      if (col == nullptr) return -1;
      ListColumn c;
      if ((col->mask & LVCF_TEXT) && col->pszText) c.text = col->pszText;
      if (col->mask & LVCF_FMT) c.fmt = col->fmt;
      if (col->mask & LVCF_WIDTH) c.width = col->cx;
      const int at = Clamp(static_cast<int>(wparam), 0, static_cast<int>(w.columns.size()));
      w.columns.insert(w.columns.begin() + at, c);
      for (ListRow& r : w.rows) {
        if (at > 0 && r.texts.size() >= static_cast<size_t>(at)) {
          r.texts.insert(r.texts.begin() + at, std::wstring());
        }
      }
      return at;
    }
    case LVM_DELETECOLUMN:
      if (static_cast<size_t>(wparam) >= w.columns.size()) return FALSE;
      w.columns.erase(w.columns.begin() + static_cast<int>(wparam));
      return TRUE;
    case LVM_GETCOLUMNWIDTH:
      return static_cast<size_t>(wparam) < w.columns.size() ? w.columns[wparam].width : 0;
    case LVM_SETCOLUMNWIDTH:
      if (static_cast<size_t>(wparam) >= w.columns.size()) return FALSE;
      // LVSCW_AUTOSIZE (-1) and LVSCW_AUTOSIZE_USEHEADER (-2) take the client width here.
      w.columns[wparam].width = static_cast<int>(lparam) < 0
                                    ? static_cast<int>(w.rect.right - w.rect.left)
                                    : static_cast<int>(lparam);
      return TRUE;
    case LVM_SETITEMSTATE: {
      const auto* item = reinterpret_cast<const LVITEMW*>(lparam);
      if (item == nullptr) return FALSE;
      const int index = static_cast<int>(wparam);
      if (index != -1 && !valid(wparam)) return FALSE;
      for (int i = 0; i < count; ++i) {
        if (index != -1 && i != index) continue;
        ListRow& row = w.rows[i];
        if ((item->stateMask & LVIS_FOCUSED) && (item->state & LVIS_FOCUSED)) {
          for (ListRow& other : w.rows) other.state &= ~LVIS_FOCUSED;
        }
        row.state = (row.state & ~item->stateMask) | (item->state & item->stateMask);
      }
      return TRUE;
    }
    case LVM_GETITEMSTATE:
      return valid(wparam) ? w.rows[wparam].state & static_cast<UINT>(lparam) : 0;
    case LVM_GETSELECTEDCOUNT:
      return std::count_if(w.rows.begin(), w.rows.end(),
                           [](const ListRow& r) { return (r.state & LVIS_SELECTED) != 0; });
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
      const DWORD old = w.list_ex_style;
      const DWORD mask = wparam == 0 ? 0xFFFFFFFF : static_cast<DWORD>(wparam);
      w.list_ex_style = (old & ~mask) | (static_cast<DWORD>(lparam) & mask);
      return old;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
      return w.list_ex_style;
    case LVM_INSERTITEMW: {
      const auto* item = reinterpret_cast<const LVITEMW*>(lparam);
      if (item == nullptr || item->iSubItem != 0 || item->iItem < 0) return -1;
      ListRow row;
      row.texts.push_back((item->mask & LVIF_TEXT) && item->pszText ? item->pszText : L"");
      if (item->mask & LVIF_STATE) row.state = item->state & item->stateMask;
      if (item->mask & LVIF_PARAM) row.param = item->lParam;
      if ((row.state & LVIS_FOCUSED) != 0) {
        for (ListRow& other : w.rows) other.state &= ~LVIS_FOCUSED;
      }
      const int at = std::min(item->iItem, count);
      if ((w.style & LVS_SINGLESEL) && (row.state & LVIS_SELECTED)) {
        for (ListRow& other : w.rows) other.state &= ~LVIS_SELECTED;
      }
      w.rows.insert(w.rows.begin() + at, std::move(row));
      return at;
    }
    case LVM_GETITEMW: {
      auto* item = reinterpret_cast<LVITEMW*>(lparam);
      if (item == nullptr || item->iItem < 0 || item->iItem >= count) return FALSE;
      const ListRow& row = w.rows[item->iItem];
      if (item->mask & LVIF_STATE) item->state = row.state & item->stateMask;
      if (item->mask & LVIF_PARAM) item->lParam = row.param;
      if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0) {
        const std::wstring text = static_cast<size_t>(item->iSubItem) < row.texts.size()
                                      ? row.texts[item->iSubItem]
                                      : std::wstring();
        const size_t n = std::min(text.size(), static_cast<size_t>(item->cchTextMax - 1));
        std::wmemcpy(item->pszText, text.data(), n);
        item->pszText[n] = L'\0';
      }
      return TRUE;
    }
    case LVM_SETITEMW:
    case LVM_SETITEMTEXTW: {
      const auto* item = reinterpret_cast<const LVITEMW*>(lparam);
      const int index =
          message == LVM_SETITEMW ? (item ? item->iItem : -1) : static_cast<int>(wparam);
      if (item == nullptr || index < 0 || index >= count || item->iSubItem < 0) return FALSE;
      ListRow& row = w.rows[index];
      if (message == LVM_SETITEMTEXTW || (item->mask & LVIF_TEXT)) {
        if (row.texts.size() <= static_cast<size_t>(item->iSubItem)) {
          row.texts.resize(item->iSubItem + 1);
        }
        row.texts[item->iSubItem] = item->pszText ? item->pszText : L"";
      }
      if (message == LVM_SETITEMW && (item->mask & LVIF_STATE)) {
        row.state = (row.state & ~item->stateMask) | (item->state & item->stateMask);
      }
      if (message == LVM_SETITEMW && (item->mask & LVIF_PARAM)) row.param = item->lParam;
      return TRUE;
    }
    case LVM_GETITEMTEXTW: {
      auto* item = reinterpret_cast<LVITEMW*>(lparam);
      if (item == nullptr || !valid(wparam) || item->pszText == nullptr || item->cchTextMax <= 0) {
        return 0;
      }
      const ListRow& row = w.rows[wparam];
      const std::wstring text = static_cast<size_t>(item->iSubItem) < row.texts.size()
                                    ? row.texts[item->iSubItem]
                                    : std::wstring();
      const size_t n = std::min(text.size(), static_cast<size_t>(item->cchTextMax - 1));
      std::wmemcpy(item->pszText, text.data(), n);
      item->pszText[n] = L'\0';
      return static_cast<LRESULT>(n);
    }
    case LVM_FINDITEMW: {
      const auto* info = reinterpret_cast<const LVFINDINFOW*>(lparam);
      if (info == nullptr) return -1;
      for (int i = static_cast<int>(static_cast<LONG_PTR>(wparam)) + 1; i < count; ++i) {
        if (i < 0) continue;
        const ListRow& row = w.rows[i];
        if (info->flags & LVFI_PARAM) {
          if (row.param == info->lParam) return i;
          continue;
        }
        if ((info->flags & (LVFI_STRING | LVFI_PARTIAL)) && info->psz != nullptr) {
          // Windows compares list view texts without regard to case.
          const std::wstring& text = row.texts.empty() ? std::wstring() : row.texts[0];
          const size_t n = std::wcslen(info->psz);
          const bool partial = (info->flags & LVFI_PARTIAL) != 0;
          if ((partial ? text.size() >= n : text.size() == n) &&
              ::wcsncasecmp(text.c_str(), info->psz, n) == 0) {
            return i;
          }
        }
      }
      return -1;
    }
    default:
      return 0;
  }
}

LRESULT UpDownProc(Window& w, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case UDM_SETRANGE:
      w.upper = static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(lparam)));
      w.lower = static_cast<SHORT>(HIWORD(static_cast<DWORD_PTR>(lparam)));
      w.pos = Clamp(w.pos, w.lower, w.upper);
      return 0;
    case UDM_GETRANGE:
      return MAKELONG(static_cast<WORD>(w.upper), static_cast<WORD>(w.lower));
    case UDM_SETRANGE32:
      w.lower = static_cast<int>(wparam);
      w.upper = static_cast<int>(lparam);
      w.pos = Clamp(w.pos, w.lower, w.upper);
      return 0;
    case UDM_GETRANGE32:
      if (wparam) *reinterpret_cast<int*>(wparam) = w.lower;
      if (lparam) *reinterpret_cast<int*>(lparam) = w.upper;
      return 0;
    case UDM_SETPOS:
    case UDM_SETPOS32: {
      const int old = w.pos;
      w.pos =
          Clamp(message == UDM_SETPOS ? static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(lparam)))
                                      : static_cast<int>(lparam),
                w.lower, w.upper);
      if ((w.style & UDS_SETBUDDYINT) && w.buddy) {
        SetWindowTextW(w.buddy, FormatInt(w.pos, w.base).c_str());
      }
      return old;
    }
    case UDM_GETPOS:
    case UDM_GETPOS32:
      if ((w.style & UDS_SETBUDDYINT) && w.buddy) {
        // The position is what the buddy shows, as Windows reads it back.
        const std::wstring text = WindowText(w.buddy);
        wchar_t* end = nullptr;
        const long value = std::wcstol(text.c_str(), &end, w.base);
        if (end != text.c_str()) w.pos = Clamp(static_cast<int>(value), w.lower, w.upper);
      }
      if (message == UDM_GETPOS) return MAKELONG(static_cast<WORD>(w.pos), 0);
      if (lparam) *reinterpret_cast<BOOL*>(lparam) = FALSE;
      return w.pos;
    case UDM_SETBUDDY: {
      HWND old = w.buddy;
      w.buddy = reinterpret_cast<HWND>(wparam);
      return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY:
      return reinterpret_cast<LRESULT>(w.buddy);
    case UDM_SETBASE: {
      if (wparam != 10 && wparam != 16) return 0;
      const int old = w.base;
      w.base = static_cast<int>(wparam);
      return old;
    }
    case UDM_GETBASE:
      return w.base;
    default:
      return 0;
  }
}

LRESULT ToolTipProc(Window& w, UINT message, WPARAM wparam, LPARAM lparam) {
  auto find = [&w](const TOOLINFOW* info) {
    return std::find_if(w.tools.begin(), w.tools.end(), [info](const Tool& t) {
      return t.control == info->hwnd && t.id == info->uId;
    });
  };
  switch (message) {
    case TTM_ACTIVATE:
      w.active = wparam != 0;
      return 0;
    case TTM_RELAYEVENT:
      ++w.relayed;
      return 0;
    case TTM_SETMAXTIPWIDTH: {
      const int old = w.max_tip_width;
      w.max_tip_width = static_cast<int>(lparam);
      return old;
    }
    case TTM_GETMAXTIPWIDTH:
      return w.max_tip_width;
    case TTM_GETTOOLCOUNT:
      return static_cast<LRESULT>(w.tools.size());
    case TTM_ADDTOOLW: {
      const auto* info = reinterpret_cast<const TOOLINFOW*>(lparam);
      if (info == nullptr) return FALSE;
      Tool tool{info->hwnd, info->uId, info->lpszText ? info->lpszText : L""};
      if (auto it = find(info); it != w.tools.end()) {
        *it = tool;
      } else {
        w.tools.push_back(tool);
      }
      return TRUE;
    }
    case TTM_DELTOOLW: {
      const auto* info = reinterpret_cast<const TOOLINFOW*>(lparam);
      if (info == nullptr) return 0;
      if (auto it = find(info); it != w.tools.end()) w.tools.erase(it);
      return 0;
    }
    case TTM_UPDATETIPTEXTW: {
      const auto* info = reinterpret_cast<const TOOLINFOW*>(lparam);
      if (info == nullptr) return 0;
      if (auto it = find(info); it != w.tools.end())
        it->text = info->lpszText ? info->lpszText : L"";
      return 0;
    }
    default:
      return 0;
  }
}

LRESULT TabProc(Window& w, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case TCM_GETITEMCOUNT:
      return static_cast<LRESULT>(w.tabs.size());
    case TCM_GETCURSEL:
      return w.current_tab;
    case TCM_SETCURSEL: {
      if (static_cast<size_t>(wparam) >= w.tabs.size()) return -1;
      const int old = w.current_tab;
      w.current_tab = static_cast<int>(wparam);
      return old;
    }
    case TCM_INSERTITEMW: {
      const auto* item = reinterpret_cast<const TCITEMW*>(lparam);
      if (item == nullptr) return -1;
      const int at = Clamp(static_cast<int>(wparam), 0, static_cast<int>(w.tabs.size()));
      w.tabs.insert(w.tabs.begin() + at,
                    (item->mask & TCIF_TEXT) && item->pszText ? item->pszText : L"");
      if (w.current_tab < 0) {
        w.current_tab = 0;
      } else if (at <= w.current_tab) {
        ++w.current_tab;
      }
      return at;
    }
    default:
      return 0;
  }
}

}  // namespace

Window* Find(HWND hwnd) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.windows.find(hwnd);
  if (hwnd == nullptr || it == r.windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return it->second.get();
}

Window* NewWindow(HWND parent) {
  Registry& r = TheRegistry();
  auto window = std::make_unique<Window>();
  Window* w = window.get();
  {
    std::lock_guard lock(r.mutex);
    w->hwnd = reinterpret_cast<HWND>(r.next);
    r.next += 4;
    r.windows.emplace(w->hwnd, std::move(window));
  }
  w->parent = parent;
  if (Window* p = parent ? Find(parent) : nullptr) p->children.push_back(w->hwnd);
  return w;
}

Window* CreateFromTemplate(const DialogTemplate& tmpl, HWND parent, CWnd* object) {
  Window* dlg = NewWindow(parent);
  dlg->window_kind = WindowKind::kDialog;
  dlg->text = tmpl.caption;
  dlg->style = (parent ? WS_CHILD : 0);  // visible once shown
  dlg->ex_style = tmpl.ex_style;
  LONG width = 0;
  LONG height = 0;
  for (const ControlTemplate& c : tmpl.controls) {
    width = std::max(width, c.rect.right + 7);
    height = std::max(height, c.rect.bottom + 7);
  }
  dlg->rect = RECT{0, 0, std::max<LONG>(width, 100), std::max<LONG>(height, 40)};
  dlg->attached = object;
  const HWND dlg_hwnd = dlg->hwnd;
  for (const ControlTemplate& c : tmpl.controls) {
    Window* w = NewWindow(dlg_hwnd);
    w->kind = c.kind;
    w->id = c.id == -1 ? 0xFFFF : c.id;
    w->style = c.style;
    w->text = c.text;
    w->rect = c.rect;
  }
  // Buddies once every control exists.
  Window* d = Find(dlg_hwnd);
  for (size_t i = 0; i < tmpl.controls.size(); ++i) {
    if (tmpl.controls[i].kind == ControlKind::kUpDown && tmpl.controls[i].buddy != 0) {
      Find(d->children[i])->buddy = GetDlgItem(dlg_hwnd, tmpl.controls[i].buddy);
    }
  }
  return d;
}

LRESULT ControlProc(Window& w, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETTEXT:
      w.text = lparam ? reinterpret_cast<LPCWSTR>(lparam) : L"";
      return TRUE;
    case WM_GETTEXT: {
      auto* buffer = reinterpret_cast<LPWSTR>(lparam);
      if (buffer == nullptr || wparam == 0) return 0;
      const size_t n = std::min(w.text.size(), static_cast<size_t>(wparam) - 1);
      std::wmemcpy(buffer, w.text.data(), n);
      buffer[n] = L'\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w.text.size());
    case WM_SETFONT:
      w.font = reinterpret_cast<HFONT>(wparam);
      if (lparam) ++w.repaints;
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w.font);
    case WM_NEXTDLGCTL:
      if (lparam) SetFocus(reinterpret_cast<HWND>(wparam));
      return 0;
    default:
      break;
  }
  if (w.window_kind == WindowKind::kToolTip) return ToolTipProc(w, message, wparam, lparam);
  if (w.window_kind == WindowKind::kDialog) return 0;
  switch (w.kind) {
    case ControlKind::kButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadio:
      if (message == BM_GETCHECK) {
        return w.kind == ControlKind::kButton ? BST_UNCHECKED : w.check;
      }
      if (message == BM_SETCHECK) {
        if (w.kind != ControlKind::kButton) w.check = static_cast<UINT>(wparam) & 3;
        return 0;
      }
      if (message == BM_CLICK) Click(w);
      return 0;
    case ControlKind::kUpDown:
      return UpDownProc(w, message, wparam, lparam);
    case ControlKind::kListView:
      return ListViewProc(w, message, wparam, lparam);
    case ControlKind::kTab:
      return TabProc(w, message, wparam, lparam);
    default:
      return 0;
  }
}

std::vector<Window*> RadioGroup(Window& w) {
  std::vector<Window*> group;
  Window* parent = Find(w.parent);
  if (parent == nullptr) return group;
  const auto& c = parent->children;
  auto at = std::find(c.begin(), c.end(), w.hwnd);
  if (at == c.end()) return group;
  // Back to the control that starts the group, then forward to the next group's start.
  auto start = at;
  while (start != c.begin() && !(Find(*start)->style & WS_GROUP)) --start;
  for (auto it = start; it != c.end(); ++it) {
    Window* x = Find(*it);
    if (x == nullptr || x->window_kind != WindowKind::kControl) continue;
    if (it != start && (x->style & WS_GROUP)) break;
    if (x->kind == ControlKind::kRadio) group.push_back(x);
  }
  return group;
}

void NotifyCommand(Window& w, WORD code) {
  if (w.parent == nullptr) return;
  SendMessageW(w.parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w.id), code),
               reinterpret_cast<LPARAM>(w.hwnd));
}

void Click(Window& w) {
  if (!IsWindowEnabled(w.hwnd) || !IsWindowVisible(w.hwnd)) return;
  const HWND hwnd = w.hwnd;
  SetFocus(hwnd);
  if (w.kind == ControlKind::kCheckBox) {
    w.check = w.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  } else if (w.kind == ControlKind::kRadio) {
    for (Window* other : RadioGroup(w)) other->check = BST_UNCHECKED;
    w.check = BST_CHECKED;
  } else if (w.kind == ControlKind::kStatic && !(w.style & SS_NOTIFY)) {
    return;
  }
  NotifyCommand(w, BN_CLICKED);  // STN_CLICKED has the same value
}

void StepUpDown(Window& w, int delta) {
  if (!IsWindowEnabled(w.hwnd) || !IsWindowVisible(w.hwnd)) return;
  const HWND hwnd = w.hwnd;
  const HWND parent = w.parent;
  if ((w.style & UDS_SETBUDDYINT) && w.buddy) {
    // The buddy's text is the position the user sees; start from it.
    const std::wstring text = WindowText(w.buddy);
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, w.base);
    if (end != text.c_str()) w.pos = Clamp(static_cast<int>(value), w.lower, w.upper);
  }
  NMUPDOWN nm{{hwnd, static_cast<UINT_PTR>(w.id), UDN_DELTAPOS}, w.pos, delta};
  const LRESULT refused = parent ? SendMessageW(parent, WM_NOTIFY, static_cast<WPARAM>(w.id),
                                                reinterpret_cast<LPARAM>(&nm))
                                 : 0;
  Window* again = Find(hwnd);
  if (refused != 0 || again == nullptr) return;
  int next = nm.iPos + nm.iDelta;
  if (next > std::max(again->lower, again->upper) || next < std::min(again->lower, again->upper)) {
    if (again->style & UDS_WRAP) {
      next = next > std::max(again->lower, again->upper) ? std::min(again->lower, again->upper)
                                                         : std::max(again->lower, again->upper);
    } else {
      next = Clamp(next, again->lower, again->upper);
    }
  }
  again->pos = next;
  if ((again->style & UDS_SETBUDDYINT) && again->buddy) {
    SetWindowTextW(again->buddy, FormatInt(again->pos, again->base).c_str());
  }
}

}  // namespace dialog

using dialog::Find;
using dialog::Window;

DWORD GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW:
      return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
      return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT:
      return RGB(0, 120, 215);
    case COLOR_BTNFACE:
      return RGB(240, 240, 240);
    case COLOR_GRAYTEXT:
      return RGB(109, 109, 109);
    case COLOR_BTNTEXT:
      return RGB(0, 0, 0);
    default:
      return 0;
  }
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* w = Find(hwnd);
  if (w == nullptr) return 0;
  if (w->attached != nullptr) return w->attached->WindowProc(message, wparam, lparam);
  return dialog::ControlProc(*w, message, wparam, lparam);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SendMessageW(control, message, wparam, lparam) : 0;
}

HWND GetDlgItem(HWND dialog, int id) {
  Window* d = Find(dialog);
  if (d == nullptr) return nullptr;
  for (HWND child : d->children) {
    Window* c = Find(child);
    if (c != nullptr && c->window_kind != dialog::WindowKind::kToolTip && c->id == id) return child;
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  Window* w = Find(hwnd);
  return w != nullptr && w->window_kind == dialog::WindowKind::kControl ? w->id : 0;
}

HWND GetParent(HWND hwnd) {
  Window* w = Find(hwnd);
  return w ? w->parent : nullptr;
}

BOOL IsWindow(HWND hwnd) {
  return Find(hwnd) != nullptr;
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  if (Find(hwnd) == nullptr) return FALSE;
  return static_cast<BOOL>(SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextW(HWND hwnd, LPWSTR text, int max_count) {
  if (text == nullptr || max_count <= 0 || Find(hwnd) == nullptr) return 0;
  text[0] = L'\0';
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(max_count),
                                       reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthW(HWND hwnd) {
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

std::wstring WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SetWindowTextW(control, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int max_count) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) {
    if (text != nullptr && max_count > 0) text[0] = L'\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextW(control, text, max_count));
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  Window* w = Find(hwnd);
  if (w == nullptr) return FALSE;
  const BOOL was_disabled = (w->style & WS_DISABLED) != 0;
  if (enable) {
    w->style &= ~WS_DISABLED;
  } else {
    w->style |= WS_DISABLED;
    if (dialog::focus == hwnd) dialog::focus = nullptr;
  }
  if (was_disabled == !enable) return was_disabled;
  SendMessageW(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return was_disabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
  Window* w = Find(hwnd);
  return w != nullptr && !(w->style & WS_DISABLED);
}

BOOL ShowWindow(HWND hwnd, int command) {
  Window* w = Find(hwnd);
  if (w == nullptr) return FALSE;
  const BOOL was_visible = (w->style & WS_VISIBLE) != 0;
  if (command == SW_HIDE) {
    w->style &= ~WS_VISIBLE;
  } else {
    w->style |= WS_VISIBLE;
  }
  return was_visible;
}

BOOL IsWindowVisible(HWND hwnd) {
  for (Window* w = Find(hwnd); w != nullptr; w = w->parent ? Find(w->parent) : nullptr) {
    if (!(w->style & WS_VISIBLE)) return FALSE;
  }
  return Find(hwnd) != nullptr;
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
  Window* w = Find(hwnd);
  if (w == nullptr) return 0;
  if (index == GWL_STYLE) return static_cast<LONG_PTR>(w->style);
  if (index == GWL_EXSTYLE) return static_cast<LONG_PTR>(w->ex_style);
  return 0;
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  Window* w = Find(hwnd);
  if (w == nullptr) return 0;
  DWORD* field = index == GWL_STYLE ? &w->style : index == GWL_EXSTYLE ? &w->ex_style : nullptr;
  if (field == nullptr) return 0;
  const DWORD old = *field;
  *field = static_cast<DWORD>(value);
  return static_cast<LONG_PTR>(old);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return FALSE;
  SendMessageW(control, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control ? static_cast<UINT>(SendMessageW(control, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
  Window* d = Find(dialog);
  if (d == nullptr) return FALSE;
  for (HWND child : d->children) {
    Window* c = Find(child);
    if (c != nullptr && c->window_kind == dialog::WindowKind::kControl && c->id >= first &&
        c->id <= last) {
      SendMessageW(child, BM_SETCHECK, c->id == check ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }
  return TRUE;
}

HWND GetFocus() {
  if (dialog::focus != nullptr && Find(dialog::focus) == nullptr) dialog::focus = nullptr;
  return dialog::focus;
}

HWND SetFocus(HWND hwnd) {
  HWND old = GetFocus();
  if (hwnd == nullptr || Find(hwnd) != nullptr) dialog::focus = hwnd;
  return old;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  Window* w = Find(hwnd);
  if (w == nullptr || rect == nullptr) return FALSE;
  *rect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

namespace {
// Where the client area of `hwnd` starts on the screen.
POINT Origin(HWND hwnd) {
  POINT p{0, 0};
  for (Window* w = Find(hwnd); w != nullptr; w = w->parent ? Find(w->parent) : nullptr) {
    p.x += w->rect.left;
    p.y += w->rect.top;
  }
  return p;
}
}  // namespace

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  Window* w = Find(hwnd);
  if (w == nullptr || rect == nullptr) return FALSE;
  const POINT o = Origin(hwnd);
  *rect =
      RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
  if (Find(hwnd) == nullptr || point == nullptr) return FALSE;
  const POINT o = Origin(hwnd);
  point->x += o.x;
  point->y += o.y;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
  if (Find(hwnd) == nullptr || point == nullptr) return FALSE;
  const POINT o = Origin(hwnd);
  point->x -= o.x;
  point->y -= o.y;
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  Window* w = Find(hwnd);
  if (w == nullptr) return FALSE;
  w->rect = RECT{x, y, x + width, y + height};
  if (repaint) ++w->repaints;
  return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL) {
  Window* w = Find(hwnd);
  if (w == nullptr) return FALSE;
  ++w->repaints;
  return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
  return Find(hwnd) != nullptr;
}

BOOL RedrawWindow(HWND hwnd, const RECT*, void*, UINT) {
  return InvalidateRect(hwnd, nullptr, TRUE);
}

int RepaintCount(HWND hwnd) {
  Window* w = Find(hwnd);
  return w ? w->repaints : 0;
}

BOOL DestroyWindow(HWND hwnd) {
  Window* w = Find(hwnd);
  if (w == nullptr) return FALSE;
  const std::vector<HWND> children = w->children;
  for (HWND child : children) DestroyWindow(child);
  if (w->attached != nullptr) w->attached->m_hWnd = nullptr;
  if (w->wrapper) w->wrapper->m_hWnd = nullptr;
  if (dialog::focus == hwnd) dialog::focus = nullptr;
  dialog::Unlink(*w);
  std::unique_ptr<Window> gone;
  {
    dialog::Registry& r = dialog::TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.windows.find(hwnd);
    gone = std::move(it->second);
    r.windows.erase(it);
  }
  return TRUE;
}
