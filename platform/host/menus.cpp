#include "platform/host/menus.h"

#include <algorithm>
#include <cassert>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <utility>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"

namespace {

namespace fs = std::filesystem;

// ---- Menu groups as read from a file ----------------------------------------------------------

struct Entry {
  enum class Kind { kItem, kSeparator, kSubmenu };
  Kind kind = Kind::kItem;
  std::wstring label;
  std::wstring macro;
  std::wstring help;
  std::vector<Entry> children;  // kSubmenu only
  UINT command = 0;             // kItem of a pull-down, once its menu is built
};

struct Pulldown {
  std::wstring id;
  std::wstring label;
  std::vector<Entry> items;
  HMENU menu = nullptr;  // Owned: destroyed when the group is unloaded.
};

struct Toolbar {
  std::wstring id;
  std::wstring title;
  std::vector<Entry> buttons;
  bool shown = false;
};

struct Group {
  std::wstring name;
  std::vector<Pulldown> pulldowns;
  std::vector<Toolbar> toolbars;
};

constexpr std::wstring_view kHostGroup = L"ACAD";
// Submenus nest no deeper than real menus do; it also bounds the recursion over them.
constexpr size_t kMaxDepth = 8;
constexpr size_t kMaxNameLength = 32;
// Command ids of loaded items: below the menu handles' values, above the small ids that
// applications give their own items.
constexpr UINT kFirstCommand = 0x1000;
constexpr UINT kLastCommand = 0xEFFF;

// The host's own menu group, in the same format as any menu file.
constexpr std::string_view kHostMenu = R"(menugroup ACAD
pulldown pop1 "&File"
  item "&New...\tCtrl+N" "^C^C_new" "Creates a new drawing"
  item "&Open...\tCtrl+O" "^C^C_open" "Opens an existing drawing file"
  item "&Close" "^C^C_close" "Closes the current drawing"
  separator
  item "&Save\tCtrl+S" "^C^C_qsave" "Saves the current drawing"
  item "Save &As..." "^C^C_saveas" "Saves the current drawing under a new name"
  separator
  item "E&xit\tCtrl+Q" "^C^C_quit" "Exits the application"
end
pulldown pop2 "&Edit"
  item "&Undo\tCtrl+Z" "^C^C_u" "Reverses the most recent action"
  item "&Redo\tCtrl+Y" "^C^C_mredo" "Reverses the effects of previous undo"
  separator
  item "&Erase" "^C^C_erase" "Removes objects from a drawing"
end
pulldown pop3 "&View"
  item "&Regen" "^C^C_regen" "Regenerates the drawing"
  submenu "&Zoom"
    item "&All" "^C^C_zoom _all" "Zooms to display all objects"
    item "&Extents" "^C^C_zoom _extents" "Zooms to display the extents of all objects"
  end
end
pulldown pop4 "&Insert"
  item "&Block..." "^C^C_insert" "Inserts a block or drawing"
end
pulldown pop5 "F&ormat"
  item "&Layer..." "^C^C_layer" "Manages layers and layer properties"
  item "&Units..." "^C^C_units" "Controls coordinate and angle display formats and precision"
end
pulldown pop6 "&Tools"
  item "Load Application..." "^C^C_appload" "Loads and unloads applications"
  item "Run Script..." "^C^C_script" "Executes a sequence of commands from a script"
  separator
  item "&Menus..." "^C^C_menuload" "Loads and unloads menu groups"
end
pulldown pop7 "&Draw"
  item "&Line" "^C^C_line" "Creates straight line segments"
  item "&Circle" "^C^C_circle" "Creates a circle"
  item "&Text" "^C^C_text" "Creates a single-line text object"
end
pulldown pop8 "Dime&nsion"
  item "&Linear" "^C^C_dimlinear" "Creates a linear dimension"
end
pulldown pop9 "&Modify"
  item "&Properties" "^C^C_properties" "Controls properties of existing objects"
  submenu "&Object"
    submenu "&Attribute"
      item "&Single..." "^C^C_eattedit" "Edits the attributes of a block reference"
    end
  end
end
pulldown pop10 "&Window"
  item "Clos&e All" "^C^C_closeall" "Closes all open drawings"
end
pulldown pop11 "&Help"
  item "&Help\tF1" "^C^C_help" "Displays help"
  item "&About" "^C^C_about" "Displays information about the application"
end
)";

// ---- Parsing ----------------------------------------------------------------------------------

struct ParseError {
  size_t line = 0;
  std::wstring what;
};

bool IsNameChar(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
         c == L'_' || c == L'-';
}

bool IsName(std::wstring_view s) {
  if (s.empty() || s.size() > kMaxNameLength) return false;
  for (wchar_t c : s) {
    if (!IsNameChar(c)) return false;
  }
  return true;
}

std::wstring Quoted(std::wstring_view s) {
  return L"\"" + std::wstring(s) + L"\"";
}

// Splits a line into blank-separated fields; double quotes group, with \" \\ and \t inside.
// A field that starts with '#' begins a comment.
std::optional<std::wstring> Split(std::wstring_view line, std::vector<std::wstring>& fields) {
  size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i == line.size() || line[i] == L'#') return std::nullopt;
    std::wstring field;
    if (line[i] == L'"') {
      const size_t start = i++;
      bool closed = false;
      while (i < line.size()) {
        const wchar_t c = line[i++];
        if (c == L'"') {
          closed = true;
          break;
        }
        if (c != L'\\') {
          field += c;
          continue;
        }
        if (i == line.size()) break;
        const wchar_t e = line[i++];
        if (e == L'"' || e == L'\\') {
          field += e;
        } else if (e == L't') {
          field += L'\t';
        } else {
          return L"unknown escape \\" + std::wstring(1, e) + L" in column " +
                 std::to_wstring(i - 1) + L" (use \\\", \\\\ or \\t)";
        }
      }
      if (!closed) {
        return L"quoted text starting in column " + std::to_wstring(start + 1) +
               L" has no closing quote";
      }
      if (i < line.size() && line[i] != L' ' && line[i] != L'\t') {
        return L"blank expected after the closing quote in column " + std::to_wstring(i);
      }
    } else {
      while (i < line.size() && line[i] != L' ' && line[i] != L'\t') {
        if (line[i] == L'"') {
          return L"quote inside a word in column " + std::to_wstring(i + 1) +
                 L" (quote the whole field)";
        }
        field += line[i++];
      }
    }
    for (wchar_t c : field) {
      if (c < 0x20 && c != L'\t') return std::wstring(L"control character in a field");
    }
    fields.push_back(std::move(field));
  }
}

class Parser {
 public:
  std::optional<ParseError> Parse(std::string_view text, Group& group) {
    size_t line_no = 0;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      std::string_view raw = text.substr(pos, end - pos);
      pos = end + 1;
      ++line_no;
      if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
      if (line_no == 1 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
      if (!IsValidUtf8(raw) || raw.find('\0') != std::string_view::npos) {
        return ParseError{line_no, L"not valid UTF-8 text"};
      }
      std::vector<std::wstring> fields;
      if (auto bad = Split(Utf8ToWide(raw), fields)) return ParseError{line_no, *bad};
      if (fields.empty()) continue;
      if (auto bad = Statement(fields, line_no, group)) return ParseError{line_no, *bad};
    }
    if (!seen_group_)
      return ParseError{std::max<size_t>(line_no, 1), L"no \"menugroup NAME\" line"};
    if (!open_.empty()) {
      const Open& o = open_.back();
      return ParseError{o.line, o.keyword + L" has no \"end\""};
    }
    return std::nullopt;
  }

 private:
  struct Open {
    std::wstring keyword;         // "pulldown pop1", "submenu \"&Zoom\"", "toolbar tb_x"
    std::vector<Entry>* entries;  // where its items go
    bool toolbar;
    size_t line;
  };

  static std::optional<std::wstring> Count(const std::vector<std::wstring>& f, size_t min,
                                           size_t max, std::wstring_view usage) {
    if (f.size() >= min && f.size() <= max) return std::nullopt;
    return Quoted(f[0]) + L" takes " + std::wstring(usage) + L", found " +
           std::to_wstring(f.size() - 1) + (f.size() == 2 ? L" field" : L" fields");
  }

  std::optional<std::wstring> Statement(const std::vector<std::wstring>& f, size_t line,
                                        Group& group) {
    const std::wstring keyword = FoldCase(f[0]);
    if (!seen_group_ && keyword != L"menugroup") {
      return L"\"menugroup NAME\" expected first, found " + Quoted(f[0]);
    }
    if (keyword == L"menugroup") {
      if (seen_group_) return std::wstring(L"a second \"menugroup\" line");
      if (auto bad = Count(f, 2, 2, L"a group name")) return bad;
      if (!IsName(f[1])) return BadName(L"group name", f[1]);
      group.name = f[1];
      seen_group_ = true;
      return std::nullopt;
    }
    if (keyword == L"pulldown" || keyword == L"toolbar") {
      if (!open_.empty()) return Unclosed(f[0]);
      const bool toolbar = keyword == L"toolbar";
      if (toolbar) {
        if (auto bad = Count(f, 3, 4, L"a name, a title and optionally shown or hidden")) {
          return bad;
        }
      } else if (auto bad = Count(f, 3, 3, L"an id and a label")) {
        return bad;
      }
      if (!IsName(f[1])) return BadName(toolbar ? L"toolbar name" : L"pull-down id", f[1]);
      for (const Pulldown& p : group.pulldowns) {
        if (EqualsNoCase(p.id, f[1])) return L"a second pull-down " + f[1];
      }
      for (const Toolbar& t : group.toolbars) {
        if (EqualsNoCase(t.id, f[1])) return L"a second toolbar " + f[1];
      }
      if (f[2].empty()) return std::wstring(L"empty label");
      if (toolbar) {
        Toolbar& t = group.toolbars.emplace_back();
        t.id = f[1];
        t.title = f[2];
        if (f.size() == 4) {
          const std::wstring state = FoldCase(f[3]);
          if (state != L"shown" && state != L"hidden") {
            return L"shown or hidden expected, found " + Quoted(f[3]);
          }
          t.shown = state == L"shown";
        }
        open_.push_back({L"toolbar " + f[1], &t.buttons, true, line});
      } else {
        Pulldown& p = group.pulldowns.emplace_back();
        p.id = f[1];
        p.label = f[2];
        open_.push_back({L"pulldown " + f[1], &p.items, false, line});
      }
      return std::nullopt;
    }
    if (keyword == L"end") {
      if (open_.empty()) return std::wstring(L"\"end\" without a pulldown, submenu or toolbar");
      if (auto bad = Count(f, 1, 1, L"nothing")) return bad;
      open_.pop_back();
      return std::nullopt;
    }
    if (keyword == L"item" || keyword == L"button") {
      const bool button = keyword == L"button";
      if (open_.empty() || open_.back().toolbar != button) {
        return Quoted(f[0]) + (button ? L" outside a toolbar" : L" outside a pulldown");
      }
      if (auto bad = Count(f, 3, 4, L"a label, a macro and optionally a help text")) return bad;
      if (f[1].empty()) return std::wstring(L"empty label");
      Entry& e = open_.back().entries->emplace_back();
      e.label = f[1];
      e.macro = f[2];
      if (f.size() == 4) e.help = f[3];
      return std::nullopt;
    }
    if (keyword == L"separator") {
      if (open_.empty()) return std::wstring(L"\"separator\" outside a pulldown or toolbar");
      if (auto bad = Count(f, 1, 1, L"nothing")) return bad;
      open_.back().entries->emplace_back().kind = Entry::Kind::kSeparator;
      return std::nullopt;
    }
    if (keyword == L"submenu") {
      if (open_.empty() || open_.back().toolbar)
        return std::wstring(L"\"submenu\" outside a pulldown");
      if (auto bad = Count(f, 2, 2, L"a label")) return bad;
      if (f[1].empty()) return std::wstring(L"empty label");
      if (open_.size() > kMaxDepth) {
        return L"submenus nested deeper than " + std::to_wstring(kMaxDepth);
      }
      Entry& e = open_.back().entries->emplace_back();
      e.kind = Entry::Kind::kSubmenu;
      e.label = f[1];
      open_.push_back({L"submenu " + Quoted(f[1]), &e.children, false, line});
      return std::nullopt;
    }
    return L"unknown keyword " + Quoted(f[0]) +
           L" (menugroup, pulldown, toolbar, item, button, submenu, separator or end expected)";
  }

  std::wstring Unclosed(const std::wstring& keyword) const {
    const Open& o = open_.back();
    return Quoted(keyword) + L" inside " + o.keyword +
           L" (its \"end\" is missing; opened in line " + std::to_wstring(o.line) + L")";
  }

  static std::wstring BadName(std::wstring_view what, const std::wstring& name) {
    return std::wstring(what) + L" " + Quoted(name) + L" is not 1 to " +
           std::to_wstring(kMaxNameLength) + L" letters, digits, '_' or '-'";
  }

  bool seen_group_ = false;
  std::vector<Open> open_;
};

// ---- The loaded groups and the main window ----------------------------------------------------

struct State {
  // Guards everything below; menus are changed through the menu functions while it is held
  // (this lock is always taken before the menu model's).
  std::mutex mutex;
  // Groups in load order, ACAD first; held by pointer so that `commands` may point into them.
  std::vector<std::unique_ptr<Group>> groups;
  std::map<UINT, const Entry*> commands;
  UINT next_command = kFirstCommand;
  HMENU bar = nullptr;  // The main window's menu bar as the host made it.
};

HWND MainWindow() {
  static char tag;
  return reinterpret_cast<HWND>(&tag);
}

Group* FindGroup(State& state, std::wstring_view name) {
  for (auto& g : state.groups) {
    if (EqualsNoCase(g->name, name)) return g.get();
  }
  return nullptr;
}

std::optional<UINT> AllocateCommand(State& state) {
  for (UINT n = 0; n <= kLastCommand - kFirstCommand; ++n) {
    const UINT id = state.next_command;
    state.next_command = id == kLastCommand ? kFirstCommand : id + 1;
    if (state.commands.count(id) == 0) return id;
  }
  return std::nullopt;
}

void FreeCommands(State& state, const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    if (e.command != 0) state.commands.erase(e.command);
    FreeCommands(state, e.children);
  }
}

bool AppendEntries(State& state, HMENU menu, std::vector<Entry>& entries) {
  for (Entry& e : entries) {
    switch (e.kind) {
      case Entry::Kind::kSeparator:
        if (!AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)) return false;
        break;
      case Entry::Kind::kItem: {
        const std::optional<UINT> id = AllocateCommand(state);
        if (!id) return false;
        e.command = *id;
        state.commands[*id] = &e;
        if (!AppendMenuW(menu, MF_STRING, *id, e.label.c_str())) return false;
        break;
      }
      case Entry::Kind::kSubmenu: {
        HMENU sub = CreatePopupMenu();
        if (sub == nullptr) return false;
        if (!AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub),
                         e.label.c_str())) {
          DestroyMenu(sub);
          return false;
        }
        if (!AppendEntries(state, sub, e.children)) return false;
        break;
      }
    }
  }
  return true;
}

// Takes every pull-down of `group` off the bar, destroys its menus and frees its commands.
void TearDown(State& state, Group& group) {
  HMENU bar = GetMenu(MainWindow());
  for (Pulldown& p : group.pulldowns) {
    if (p.menu == nullptr) continue;
    for (int i = GetMenuItemCount(bar) - 1; i >= 0; --i) {
      if (GetSubMenu(bar, i) == p.menu) RemoveMenu(bar, static_cast<UINT>(i), MF_BYPOSITION);
    }
    DestroyMenu(p.menu);
    p.menu = nullptr;
    FreeCommands(state, p.items);
  }
}

// Builds the menus of `group`, which is already in state.groups; false when out of command ids
// or memory, with what was built torn down again.
bool BuildMenus(State& state, Group& group) {
  for (Pulldown& p : group.pulldowns) {
    p.menu = CreatePopupMenu();
    if (p.menu == nullptr || !AppendEntries(state, p.menu, p.items)) {
      TearDown(state, group);
      return false;
    }
  }
  return true;
}

// Puts the host's group back as at start; needs the lock and no other group loaded.
void StartHost(State& state) {
  auto host = std::make_unique<Group>();
  [[maybe_unused]] const std::optional<ParseError> bad = Parser().Parse(kHostMenu, *host);
  assert(!bad && "the host's own menu parses");
  Group& group = *host;
  state.groups.push_back(std::move(host));
  [[maybe_unused]] const bool built = BuildMenus(state, group);
  assert(built && "the host's menus fit");
  HMENU bar = CreateMenu();
  for (const Pulldown& p : group.pulldowns) {
    AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(p.menu), p.label.c_str());
  }
  SetMenu(MainWindow(), bar);
  state.bar = bar;
}

State& TheState() {
  // Never destroyed, as the menu model it points into.
  static State* state = [] {
    auto* s = new State;
    StartHost(*s);
    return s;
  }();
  return *state;
}

std::wstring PathText(const fs::path& path) {
  return Utf8ToWide(path.string());
}

// The label as a user types it: no mnemonic marks, no accelerator, case folded.
std::wstring PlainLabel(std::wstring_view label) {
  label = label.substr(0, label.find(L'\t'));
  std::wstring out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == L'&') {
      if (i + 1 < label.size() && label[i + 1] == L'&') out += label[++i];
      continue;
    }
    out += label[i];
  }
  return FoldCase(out);
}

// A label on one line: the tab before an accelerator becomes two blanks.
std::wstring Shown(std::wstring label) {
  for (size_t tab = label.find(L'\t'); tab != std::wstring::npos; tab = label.find(L'\t', tab)) {
    label.replace(tab, 1, L"  ");
  }
  return label;
}

std::wstring MenuText(HMENU menu, UINT position) {
  const int length = GetMenuStringW(menu, position, nullptr, 0, MF_BYPOSITION);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int n = GetMenuStringW(menu, position, text.data(), length + 1, MF_BYPOSITION);
  text.resize(static_cast<size_t>(n));
  return text;
}

// "GROUP.id" of a group's pull-down menu, empty for a menu that no group owns.
std::wstring OwnerOf(State& state, HMENU menu) {
  for (const auto& g : state.groups) {
    for (const Pulldown& p : g->pulldowns) {
      if (p.menu == menu) return g->name + L"." + p.id;
    }
  }
  return {};
}

MenuChoice ChoiceOf(const Entry& e) {
  return MenuChoice{e.command, e.label, e.macro, e.help};
}

// What a user may type for a label: with its mnemonic marks ("&Export") or as it reads
// ("Fish & Chips").
struct Wanted {
  std::wstring plain;
  std::wstring folded;
  bool Matches(std::wstring_view label) const {
    const std::wstring p = PlainLabel(label);
    return p == plain || p == folded;
  }
};

std::optional<MenuChoice> FindIn(State& state, HMENU menu, const Wanted& wanted, size_t depth) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    const auto position = static_cast<UINT>(i);
    const UINT flags = GetMenuState(menu, position, MF_BYPOSITION);
    if ((flags & MF_SEPARATOR) != 0 || (flags & (MF_GRAYED | MF_DISABLED)) != 0) continue;
    if ((flags & MF_POPUP) != 0) {
      if (depth >= kMaxDepth * 2) continue;  // Menus inserted by applications: a guard.
      if (auto found = FindIn(state, GetSubMenu(menu, i), wanted, depth + 1)) return found;
      continue;
    }
    if (!wanted.Matches(MenuText(menu, position))) continue;
    auto it = state.commands.find(GetMenuItemID(menu, i));
    if (it != state.commands.end()) return ChoiceOf(*it->second);
  }
  return std::nullopt;
}

void Pad(std::wstring& out, size_t column, size_t width) {
  out.append(width > column ? width - column : 1, L' ');
}

void ListItems(State& state, std::wstring& out, HMENU menu, const std::wstring& prefix,
               size_t depth) {
  const int count = GetMenuItemCount(menu);
  int number = 0;
  const std::wstring indent(4 + prefix.size(), L' ');
  for (int i = 0; i < count; ++i) {
    const auto position = static_cast<UINT>(i);
    const UINT flags = GetMenuState(menu, position, MF_BYPOSITION);
    if ((flags & MF_POPUP) == 0 && (flags & MF_SEPARATOR) != 0) {
      out += indent + L"----\n";
      continue;
    }
    const std::wstring number_text = prefix + std::to_wstring(++number);
    std::wstring line = L"  " + number_text + L"  " + Shown(MenuText(menu, position));
    if ((flags & MF_POPUP) != 0) {
      out += line + L" >\n";
      if (depth < kMaxDepth * 2) {
        ListItems(state, out, GetSubMenu(menu, i), number_text + L".", depth + 1);
      }
      continue;
    }
    Pad(line, line.size(), 36);
    auto it = state.commands.find(GetMenuItemID(menu, i));
    line += it != state.commands.end()
                ? it->second->macro
                : L"(command " + std::to_wstring(GetMenuItemID(menu, i)) + L")";
    if ((flags & (MF_GRAYED | MF_DISABLED)) != 0) line += L"  (grayed)";
    if ((flags & MF_CHECKED) != 0) line += L"  (checked)";
    out += line + L"\n";
  }
}

}  // namespace

std::optional<std::wstring> LoadMenuGroup(const fs::path& path, std::wstring* error) {
  auto fail = [&](std::wstring message) -> std::optional<std::wstring> {
    if (error != nullptr) *error = std::move(message);
    return std::nullopt;
  };
  std::error_code ec;
  if (fs::is_directory(path, ec)) return fail(PathText(path) + L": a folder, not a menu file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(PathText(path) + L": cannot open the menu file");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return fail(PathText(path) + L": cannot read the menu file");
  const std::string text = std::move(bytes).str();

  auto group = std::make_unique<Group>();
  if (auto bad = Parser().Parse(text, *group)) {
    return fail(PathText(path) + L":" + std::to_wstring(bad->line) + L": " + bad->what);
  }
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  if (FindGroup(state, group->name) != nullptr) {
    return fail(PathText(path) + L": menu group " + group->name + L" is already loaded");
  }
  Group& loaded = *group;
  state.groups.push_back(std::move(group));
  if (!BuildMenus(state, loaded)) {
    state.groups.pop_back();
    return fail(PathText(path) + L": too many menu items loaded");
  }
  return loaded.name;
}

bool UnloadMenuGroup(std::wstring_view name, std::wstring* error) {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  Group* group = FindGroup(state, name);
  std::wstring message;
  if (group == nullptr) {
    message = L"Menu group " + std::wstring(name) + L" is not loaded.";
  } else if (EqualsNoCase(group->name, kHostGroup)) {
    message = L"The host's menu group " + group->name + L" cannot be unloaded.";
  } else {
    TearDown(state, *group);
    std::erase_if(state.groups, [group](const auto& g) { return g.get() == group; });
    return true;
  }
  if (error != nullptr) *error = std::move(message);
  return false;
}

bool acedIsMenuGroupLoaded(const ACHAR* group) {
  if (group == nullptr) return false;
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  return FindGroup(state, group) != nullptr;
}

int acedMenuCmd(const ACHAR* str) {
  if (str == nullptr) return RTERROR;
  std::wstring_view s = str;
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
  if (s.size() < 4 || (s[0] != L'P' && s[0] != L'p')) return RTERROR;
  size_t i = 1;
  unsigned n = 0;
  while (i < s.size() && s[i] >= L'0' && s[i] <= L'9' && i < 5) n = n * 10 + (s[i++] - L'0');
  if (i == 1 || i + 1 >= s.size() || s[i] != L'=') return RTERROR;
  const wchar_t action = s[i + 1];
  const std::wstring_view rest = s.substr(i + 2);
  // "Pn=-" takes the n-th menu off; "Pn=+" puts a pull-down after the n-th (P0: first), so that
  // an application that counts the bar's items up to the one it wants to precede gets there.
  if (action == L'-' && n == 0) return RTERROR;
  const UINT position = action == L'-' ? n - 1 : n;

  State& state = TheState();
  std::lock_guard lock(state.mutex);
  HMENU bar = GetMenu(MainWindow());
  if (bar == nullptr) return RTERROR;
  if (action == L'-' && rest.empty()) {
    return RemoveMenu(bar, position, MF_BYPOSITION) ? RTNORM : RTERROR;
  }
  if (action != L'+') return RTERROR;
  const size_t dot = rest.find(L'.');
  if (dot == std::wstring_view::npos) return RTERROR;
  Group* group = FindGroup(state, rest.substr(0, dot));
  if (group == nullptr) return RTERROR;
  const std::wstring_view id = rest.substr(dot + 1);
  for (const Pulldown& p : group->pulldowns) {
    if (!EqualsNoCase(p.id, id)) continue;
    for (int k = GetMenuItemCount(bar) - 1; k >= 0; --k) {
      if (GetSubMenu(bar, k) == p.menu) RemoveMenu(bar, static_cast<UINT>(k), MF_BYPOSITION);
    }
    return InsertMenuW(bar, position, MF_BYPOSITION | MF_POPUP | MF_STRING,
                       reinterpret_cast<UINT_PTR>(p.menu), p.label.c_str())
               ? RTNORM
               : RTERROR;
  }
  return RTERROR;
}

bool ShowToolbar(std::wstring_view name, bool show, std::wstring* error) {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  const bool all = EqualsNoCase(name, L"ALL");
  const size_t dot = name.find(L'.');
  const std::wstring_view group_name = dot == std::wstring_view::npos ? L"" : name.substr(0, dot);
  const std::wstring_view toolbar_name =
      dot == std::wstring_view::npos ? name : name.substr(dot + 1);
  bool found = false;
  for (auto& g : state.groups) {
    if (!group_name.empty() && !EqualsNoCase(g->name, group_name)) continue;
    for (Toolbar& t : g->toolbars) {
      if (!all && !EqualsNoCase(t.id, toolbar_name)) continue;
      t.shown = show;
      if (!all) return true;
      found = true;
    }
  }
  if (found || (all && dot == std::wstring_view::npos)) return true;
  if (error != nullptr) *error = L"Toolbar \"" + std::wstring(name) + L"\" not found.";
  return false;
}

std::vector<std::wstring> VisibleToolbars() {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  std::vector<std::wstring> out;
  for (const auto& g : state.groups) {
    for (const Toolbar& t : g->toolbars) {
      if (t.shown) out.push_back(g->name + L"." + t.id);
    }
  }
  return out;
}

HWND adsw_acadMainWnd() {
  TheState();  // The menu bar exists once the window is asked for.
  return MainWindow();
}

std::wstring ListMenus() {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  HMENU bar = GetMenu(MainWindow());
  std::wstring out = L"Menu bar:\n";
  const int count = bar == nullptr ? 0 : GetMenuItemCount(bar);
  for (int i = 0; i < count; ++i) {
    std::wstring line = L"  P" + std::to_wstring(i + 1);
    Pad(line, line.size(), 6);
    line += L" " + Shown(MenuText(bar, i));
    const std::wstring owner = OwnerOf(state, GetSubMenu(bar, i));
    if (!owner.empty()) {
      Pad(line, line.size(), 26);
      line += owner;
    }
    out += line + L"\n";
  }
  std::vector<HMENU> listed;
  for (int i = 0; i < count; ++i) {
    HMENU sub = GetSubMenu(bar, i);
    if (sub == nullptr) continue;
    listed.push_back(sub);
    const std::wstring owner = OwnerOf(state, sub);
    out += L"\n" + Shown(MenuText(bar, i)) + (owner.empty() ? L"" : L" (" + owner + L")") + L"\n";
    ListItems(state, out, sub, L"", 0);
  }
  bool heading = false;
  for (const auto& g : state.groups) {
    for (const Pulldown& p : g->pulldowns) {
      if (std::find(listed.begin(), listed.end(), p.menu) != listed.end()) continue;
      if (!heading) out += L"\nLoaded pull-downs not on the menu bar:\n";
      heading = true;
      out += L"\n" + Shown(p.label) + L" (" + g->name + L"." + p.id + L")\n";
      ListItems(state, out, p.menu, L"", 0);
    }
  }
  for (const auto& g : state.groups) {
    for (const Toolbar& t : g->toolbars) {
      if (!t.shown) continue;
      out += L"\nToolbar " + t.title + L" (" + g->name + L"." + t.id + L")\n";
      int number = 0;
      for (const Entry& b : t.buttons) {
        if (b.kind == Entry::Kind::kSeparator) {
          out += L"    ----\n";
          continue;
        }
        std::wstring line = L"  " + std::to_wstring(++number) + L"  " + Shown(b.label);
        Pad(line, line.size(), 36);
        out += line + b.macro + L"\n";
      }
    }
  }
  return out;
}

std::optional<MenuChoice> FindMenuChoice(std::wstring_view label) {
  const Wanted wanted{PlainLabel(label), FoldCase(label)};
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  HMENU bar = GetMenu(MainWindow());
  const int count = bar == nullptr ? 0 : GetMenuItemCount(bar);
  for (int i = 0; i < count; ++i) {
    const UINT flags = GetMenuState(bar, static_cast<UINT>(i), MF_BYPOSITION);
    if ((flags & MF_POPUP) == 0 || (flags & (MF_GRAYED | MF_DISABLED)) != 0) continue;
    if (auto found = FindIn(state, GetSubMenu(bar, i), wanted, 0)) return found;
  }
  for (const auto& g : state.groups) {
    for (const Toolbar& t : g->toolbars) {
      if (!t.shown) continue;
      for (const Entry& b : t.buttons) {
        if (b.kind == Entry::Kind::kItem && wanted.Matches(b.label)) return ChoiceOf(b);
      }
    }
  }
  return std::nullopt;
}

std::optional<std::wstring> MacroOf(std::wstring_view label) {
  if (auto choice = FindMenuChoice(label)) return std::move(choice->macro);
  return std::nullopt;
}

std::optional<MenuChoice> MenuChoiceOfCommand(UINT command) {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  auto it = state.commands.find(command);
  if (it == state.commands.end()) return std::nullopt;
  return ChoiceOf(*it->second);
}

void ResetMenus() {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  for (auto& g : state.groups) TearDown(state, *g);
  state.groups.clear();
  HMENU old_bar = state.bar;
  StartHost(state);
  // The old bar now holds only pull-downs of applications, which they own.
  while (GetMenuItemCount(old_bar) > 0) RemoveMenu(old_bar, 0, MF_BYPOSITION);
  DestroyMenu(old_bar);
}
