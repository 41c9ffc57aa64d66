#include "platform/dialog/template.h"

#include <charconv>
#include <map>
#include <set>

#include "platform/dialog/window.h"
#include "platform/win/codepage.h"
#include "platform/win/menu.h"
#include "platform/win/resource.h"

namespace dialog {
namespace {

struct Field {
  std::string text;
  bool quoted = false;
};

struct Failure {
  int line;
  std::string message;
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Shown(const Field& f) {
  return f.quoted ? "\"" + f.text + "\"" : "\"" + f.text + "\"";
}

// Splits one line into fields: blanks separate, double quotes group (with \" \\ \t \n \r), a
// '#' where a field would start ends the line.
std::optional<std::vector<Field>> SplitLine(std::string_view line, int number,
                                            std::optional<Failure>& failure) {
  std::vector<Field> fields;
  size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size() || line[i] == '#') break;
    Field field;
    if (line[i] == '"') {
      field.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) {
          const char e = line[i++];
          switch (e) {
            case 'n':
              field.text += '\n';
              break;
            case 'r':
              field.text += '\r';
              break;
            case 't':
              field.text += '\t';
              break;
            case '"':
              field.text += '"';
              break;
            case '\\':
              field.text += '\\';
              break;
            default:
              failure = Failure{number, std::string("unknown escape \\") + e +
                                            " in a quoted text (\\\" \\\\ \\t \\n \\r expected)"};
              return std::nullopt;
          }
          continue;
        }
        field.text += c;
      }
      if (!closed) {
        failure = Failure{number, "a quoted text has no closing quote"};
        return std::nullopt;
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        field.text += line[i++];
      }
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

std::optional<long> Number(const Field& f) {
  if (f.quoted || f.text.empty()) return std::nullopt;
  long value = 0;
  const char* end = f.text.data() + f.text.size();
  auto [ptr, ec] = std::from_chars(f.text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// Lines of the resource, with their numbers. A byte order mark is skipped.
std::vector<std::pair<int, std::string_view>> Lines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::pair<int, std::string_view>> lines;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    lines.emplace_back(number, text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

struct KindInfo {
  ControlKind kind;
  const char* keyword;
  const char* word;
  bool has_text;
  DWORD base_style;
};

constexpr KindInfo kKinds[] = {
    {ControlKind::kButton, "BUTTON", "button", true, BS_PUSHBUTTON | WS_TABSTOP},
    {ControlKind::kCheckBox, "CHECKBOX", "checkbox", true, BS_AUTOCHECKBOX | WS_TABSTOP},
    {ControlKind::kRadio, "RADIO", "radio", true, BS_AUTORADIOBUTTON},
    {ControlKind::kEdit, "EDIT", "edit", true, WS_TABSTOP},
    {ControlKind::kStatic, "STATIC", "static", true, SS_LEFT},
    {ControlKind::kGroupBox, "GROUPBOX", "groupbox", true, BS_GROUPBOX},
    {ControlKind::kUpDown, "UPDOWN", "updown", false, 0},
    {ControlKind::kListView, "LISTVIEW", "listview", false, WS_TABSTOP},
    {ControlKind::kTab, "TAB", "tab", false, WS_TABSTOP},
};

const KindInfo* FindKind(const std::string& keyword) {
  for (const KindInfo& k : kKinds) {
    if (keyword == k.keyword) return &k;
  }
  return nullptr;
}

// The flags a kind accepts besides GROUP, DISABLED, HIDDEN, TABSTOP, NOTABSTOP and AT.
struct FlagInfo {
  ControlKind kind;
  const char* name;
  DWORD set;
  DWORD clear;
};
constexpr FlagInfo kFlags[] = {
    {ControlKind::kButton, "DEFAULT", BS_DEFPUSHBUTTON, BS_TYPEMASK},
    {ControlKind::kButton, "OWNERDRAW", BS_OWNERDRAW, BS_TYPEMASK},
    {ControlKind::kEdit, "NUMBER", ES_NUMBER, 0},
    {ControlKind::kEdit, "READONLY", ES_READONLY, 0},
    {ControlKind::kStatic, "NOTIFY", SS_NOTIFY, 0},
    {ControlKind::kStatic, "CENTER", SS_CENTER, SS_RIGHT},
    {ControlKind::kStatic, "RIGHT", SS_RIGHT, SS_CENTER},
    {ControlKind::kStatic, "CENTERIMAGE", SS_CENTERIMAGE, 0},
    {ControlKind::kUpDown, "SETBUDDYINT", UDS_SETBUDDYINT, 0},
    {ControlKind::kUpDown, "WRAP", UDS_WRAP, 0},
    {ControlKind::kListView, "REPORT", LVS_REPORT, 0},
    {ControlKind::kListView, "SINGLESEL", LVS_SINGLESEL, 0},
};

std::string FlagsOf(ControlKind kind) {
  std::string out = "GROUP, DISABLED, HIDDEN, TABSTOP, NOTABSTOP, AT x y w h";
  if (kind == ControlKind::kUpDown) out += ", BUDDY id";
  for (const FlagInfo& f : kFlags) {
    if (f.kind == kind) out += std::string(", ") + f.name;
  }
  return out;
}

constexpr const char* kKindList =
    "BUTTON, CHECKBOX, RADIO, EDIT, STATIC, GROUPBOX, UPDOWN, LISTVIEW or TAB";

std::optional<Failure> ParseControl(const std::vector<Field>& f, int line, const KindInfo& info,
                                    ControlTemplate& c) {
  c.kind = info.kind;
  c.line = line;
  c.style = info.base_style | WS_CHILD | WS_VISIBLE;
  if (f.size() < 2) return Failure{line, std::string(info.keyword) + " takes a control id"};
  const std::optional<long> id = Number(f[1]);
  const bool may_be_anonymous =
      info.kind == ControlKind::kStatic || info.kind == ControlKind::kGroupBox;
  if (!id || *id == 0 || *id > 65535 || (*id < 0 && !(*id == -1 && may_be_anonymous))) {
    return Failure{line, std::string("a control id (1 to 65535") +
                             (may_be_anonymous ? ", or -1" : "") + ") expected after " +
                             info.keyword + ", found " + Shown(f[1])};
  }
  c.id = static_cast<int>(*id);
  size_t i = 2;
  if (info.has_text) {
    if (i >= f.size() || !f[i].quoted) {
      return Failure{line, std::string("a quoted text expected after ") + info.keyword + " " +
                               f[1].text + (i < f.size() ? ", found " + Shown(f[i]) : "")};
    }
    c.text = Utf8ToWide(f[i].text);
    ++i;
  }
  for (; i < f.size(); ++i) {
    const std::string flag = f[i].quoted ? std::string() : Upper(f[i].text);
    if (flag == "GROUP") {
      c.style |= WS_GROUP;
    } else if (flag == "DISABLED") {
      c.style |= WS_DISABLED;
    } else if (flag == "HIDDEN") {
      c.style &= ~WS_VISIBLE;
    } else if (flag == "TABSTOP") {
      c.style |= WS_TABSTOP;
    } else if (flag == "NOTABSTOP") {
      c.style &= ~WS_TABSTOP;
    } else if (flag == "AT") {
      long v[4];
      for (int k = 0; k < 4; ++k) {
        std::optional<long> n = i + 1 + k < f.size() ? Number(f[i + 1 + k]) : std::nullopt;
        if (!n || *n < 0 || *n > 32767) {
          return Failure{line, "AT takes four numbers (x y width height, 0 to 32767)"};
        }
        v[k] = *n;
      }
      c.rect = RECT{static_cast<LONG>(v[0]), static_cast<LONG>(v[1]),
                    static_cast<LONG>(v[0] + v[2]), static_cast<LONG>(v[1] + v[3])};
      i += 4;
    } else if (flag == "BUDDY" && info.kind == ControlKind::kUpDown) {
      const std::optional<long> buddy = i + 1 < f.size() ? Number(f[i + 1]) : std::nullopt;
      if (!buddy || *buddy <= 0 || *buddy > 65535) {
        return Failure{line, "BUDDY takes the id of an edit control (1 to 65535)"};
      }
      c.buddy = static_cast<int>(*buddy);
      ++i;
    } else {
      const FlagInfo* found = nullptr;
      for (const FlagInfo& k : kFlags) {
        if (k.kind == info.kind && flag == k.name) found = &k;
      }
      if (found == nullptr) {
        return Failure{line, std::string(info.keyword) + " takes " + FlagsOf(info.kind) +
                                 ", found " + Shown(f[i])};
      }
      c.style = (c.style & ~found->clear) | found->set;
    }
  }
  return std::nullopt;
}

std::string Prefix(const char* what, WORD id, int line) {
  std::string out = std::string(what) + " " + std::to_string(id);
  if (line > 0) out += ", line " + std::to_string(line);
  return out + ": ";
}

template <typename T>
TemplateResult<T> Refuse(const char* what, WORD id, int line, const std::string& message) {
  TemplateResult<T> result;
  result.error = TemplateError{id, line, Prefix(what, id, line) + message};
  return result;
}

}  // namespace

std::string_view KindKeyword(ControlKind kind) {
  for (const KindInfo& k : kKinds) {
    if (k.kind == kind) return k.keyword;
  }
  return "?";
}

std::string_view KindWord(ControlKind kind) {
  for (const KindInfo& k : kKinds) {
    if (k.kind == kind) return k.word;
  }
  return "?";
}

TemplateResult<DialogTemplate> ParseDialogTemplate(std::string_view text, WORD id) {
  if (!IsValidUtf8(text)) return Refuse<DialogTemplate>("dialog", id, 0, "the text is not UTF-8");
  DialogTemplate dlg;
  dlg.id = id;
  bool header = false;
  std::map<int, int> lines_of_ids;  // control id -> line
  LONG next_y = 7;
  for (const auto& [number, line] : Lines(text)) {
    std::optional<Failure> failure;
    const auto fields = SplitLine(line, number, failure);
    if (!fields) return Refuse<DialogTemplate>("dialog", id, failure->line, failure->message);
    if (fields->empty()) continue;
    const std::string keyword = (*fields)[0].quoted ? "" : Upper((*fields)[0].text);
    if (!header) {
      if (keyword != "DIALOG") {
        return Refuse<DialogTemplate>("dialog", id, number,
                                      "DIALOG expected first, found " + Shown((*fields)[0]));
      }
      const std::optional<long> own = fields->size() > 1 ? Number((*fields)[1]) : std::nullopt;
      if (!own || *own != id) {
        return Refuse<DialogTemplate>(
            "dialog", id, number,
            "DIALOG " + std::to_string(id) + " expected (the resource's own id), found " +
                (fields->size() > 1 ? Shown((*fields)[1]) : std::string("nothing")));
      }
      if (fields->size() < 3 || !(*fields)[2].quoted) {
        return Refuse<DialogTemplate>(
            "dialog", id, number, "a quoted caption expected after DIALOG " + std::to_string(id));
      }
      dlg.caption = Utf8ToWide((*fields)[2].text);
      for (size_t i = 3; i < fields->size(); ++i) {
        const std::string flag = (*fields)[i].quoted ? "" : Upper((*fields)[i].text);
        if (flag == "CONTEXTHELP") {
          dlg.ex_style |= WS_EX_CONTEXTHELP;
        } else {
          return Refuse<DialogTemplate>("dialog", id, number,
                                        "DIALOG takes CONTEXTHELP, found " + Shown((*fields)[i]));
        }
      }
      header = true;
      continue;
    }
    if (keyword == "DIALOG") {
      return Refuse<DialogTemplate>("dialog", id, number, "a second DIALOG statement");
    }
    const KindInfo* info = FindKind(keyword);
    if (info == nullptr) {
      return Refuse<DialogTemplate>(
          "dialog", id, number,
          std::string("a control kind (") + kKindList + ") expected, found " + Shown((*fields)[0]));
    }
    ControlTemplate control;
    if (auto bad = ParseControl(*fields, number, *info, control)) {
      return Refuse<DialogTemplate>("dialog", id, bad->line, bad->message);
    }
    if (control.id > 0) {
      auto [it, fresh] = lines_of_ids.emplace(control.id, number);
      if (!fresh) {
        return Refuse<DialogTemplate>("dialog", id, number,
                                      "control id " + std::to_string(control.id) +
                                          " is already used on line " + std::to_string(it->second));
      }
    }
    if (control.rect.right == 0 && control.rect.bottom == 0) {
      const LONG height = control.kind == ControlKind::kListView ? 100 : 14;
      control.rect = RECT{7, next_y, 207, next_y + height};
    }
    next_y = control.rect.bottom + 4;
    dlg.controls.push_back(std::move(control));
  }
  if (!header) return Refuse<DialogTemplate>("dialog", id, 0, "empty template (DIALOG expected)");
  for (const ControlTemplate& c : dlg.controls) {
    if (c.kind != ControlKind::kUpDown || c.buddy == 0) continue;
    bool found = false;
    for (const ControlTemplate& other : dlg.controls) {
      if (other.id == c.buddy && other.kind == ControlKind::kEdit) found = true;
    }
    if (!found) {
      return Refuse<DialogTemplate>(
          "dialog", id, c.line,
          "BUDDY " + std::to_string(c.buddy) + " names no EDIT control of this dialog");
    }
  }
  TemplateResult<DialogTemplate> result;
  result.value = std::move(dlg);
  return result;
}

TemplateResult<MenuTemplate> ParseMenuTemplate(std::string_view text, WORD id) {
  if (!IsValidUtf8(text)) return Refuse<MenuTemplate>("menu", id, 0, "the text is not UTF-8");
  MenuTemplate menu;
  menu.id = id;
  bool header = false;
  // The open popups, innermost last; the bar itself at the bottom.
  std::vector<std::vector<MenuItemTemplate>*> open;
  std::vector<int> open_lines;
  std::set<UINT> seen;
  for (const auto& [number, line] : Lines(text)) {
    std::optional<Failure> failure;
    const auto fields = SplitLine(line, number, failure);
    if (!fields) return Refuse<MenuTemplate>("menu", id, failure->line, failure->message);
    if (fields->empty()) continue;
    const auto& f = *fields;
    const std::string keyword = f[0].quoted ? "" : Upper(f[0].text);
    if (!header) {
      const std::optional<long> own = f.size() > 1 ? Number(f[1]) : std::nullopt;
      if (keyword != "MENU" || !own || *own != id || f.size() > 2) {
        return Refuse<MenuTemplate>("menu", id, number,
                                    "MENU " + std::to_string(id) + " expected first");
      }
      header = true;
      open.push_back(&menu.items);
      continue;
    }
    if (open.empty()) {
      return Refuse<MenuTemplate>("menu", id, number,
                                  "nothing may follow the END of the menu, found " + Shown(f[0]));
    }
    std::vector<MenuItemTemplate>& items = *open.back();
    if (keyword == "POPUP") {
      if (f.size() != 2 || !f[1].quoted) {
        return Refuse<MenuTemplate>("menu", id, number, "POPUP takes one quoted text");
      }
      MenuItemTemplate popup;
      popup.kind = MenuItemTemplate::Kind::kPopup;
      popup.text = Utf8ToWide(f[1].text);
      items.push_back(std::move(popup));
      open.push_back(&items.back().items);
      open_lines.push_back(number);
    } else if (keyword == "ITEM") {
      const std::optional<long> cmd = f.size() > 1 ? Number(f[1]) : std::nullopt;
      if (!cmd || *cmd <= 0 || *cmd > 65535) {
        return Refuse<MenuTemplate>("menu", id, number,
                                    "a command id (1 to 65535) expected after ITEM" +
                                        (f.size() > 1 ? ", found " + Shown(f[1]) : std::string()));
      }
      if (f.size() < 3 || !f[2].quoted) {
        return Refuse<MenuTemplate>("menu", id, number,
                                    "a quoted text expected after ITEM " + f[1].text);
      }
      if (!seen.insert(static_cast<UINT>(*cmd)).second) {
        return Refuse<MenuTemplate>("menu", id, number,
                                    "command id " + f[1].text + " is already used in this menu");
      }
      MenuItemTemplate item;
      item.id = static_cast<UINT>(*cmd);
      item.text = Utf8ToWide(f[2].text);
      for (size_t i = 3; i < f.size(); ++i) {
        const std::string flag = f[i].quoted ? "" : Upper(f[i].text);
        if (flag == "CHECKED") {
          item.flags |= MF_CHECKED;
        } else if (flag == "GRAYED") {
          item.flags |= MF_GRAYED;
        } else {
          return Refuse<MenuTemplate>("menu", id, number,
                                      "ITEM takes CHECKED or GRAYED, found " + Shown(f[i]));
        }
      }
      items.push_back(std::move(item));
    } else if (keyword == "SEPARATOR") {
      if (f.size() != 1) return Refuse<MenuTemplate>("menu", id, number, "SEPARATOR takes nothing");
      MenuItemTemplate sep;
      sep.kind = MenuItemTemplate::Kind::kSeparator;
      items.push_back(sep);
    } else if (keyword == "END") {
      if (f.size() != 1) return Refuse<MenuTemplate>("menu", id, number, "END takes nothing");
      open.pop_back();
      if (!open_lines.empty()) open_lines.pop_back();
    } else {
      return Refuse<MenuTemplate>("menu", id, number,
                                  "POPUP, ITEM, SEPARATOR or END expected, found " + Shown(f[0]));
    }
  }
  if (!header) return Refuse<MenuTemplate>("menu", id, 0, "empty template (MENU expected)");
  if (open.size() > 1) {
    return Refuse<MenuTemplate>("menu", id, open_lines.back(), "this POPUP has no END");
  }
  TemplateResult<MenuTemplate> result;
  result.value = std::move(menu);
  return result;
}

namespace {

template <typename T, typename Parse>
TemplateResult<T> LoadTemplate(HMODULE module, WORD id, LPCWSTR type, const char* what,
                               Parse parse) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) {
    const DWORD error = GetLastError();
    return Refuse<T>(what, id, 0,
                     error == ERROR_INVALID_HANDLE ? "the resource module is not a loaded library"
                                                   : "the resource library has no such template");
  }
  const void* data = LockResource(LoadResource(module, found));
  const DWORD size = SizeofResource(module, found);
  return parse(std::string_view(static_cast<const char*>(data), size), id);
}

}  // namespace

TemplateResult<DialogTemplate> LoadDialogTemplate(HMODULE module, WORD id) {
  return LoadTemplate<DialogTemplate>(module, id, RT_DIALOG, "dialog", ParseDialogTemplate);
}

TemplateResult<MenuTemplate> LoadMenuTemplate(HMODULE module, WORD id) {
  return LoadTemplate<MenuTemplate>(module, id, RT_MENU, "menu", ParseMenuTemplate);
}

}  // namespace dialog
