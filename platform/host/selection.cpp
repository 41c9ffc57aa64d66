#include "platform/host/selection.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>

#include "platform/host/dbapserv.h"
#include "platform/host/dbimpl_internal.h"
#include "platform/host/editor.h"
#include "platform/win/codepage.h"
#include "platform/win/locale.h"

namespace sheetwise::host {
namespace {

// The second word of entity and set names: tells them apart from each other and from garbage.
constexpr std::intptr_t kEntityTag = static_cast<std::intptr_t>(0x5e17e5e1a5c0ffeeULL & INTPTR_MAX);
constexpr std::intptr_t kSetTag = static_cast<std::intptr_t>(0x55e7a11c0ffee000ULL & INTPTR_MAX);
// The host refuses more open selection sets than this.
constexpr std::size_t kMaxOpenSets = 128;

struct SelectionSet {
  AcDbDatabase* db = nullptr;
  std::vector<AcDbObjectId> ids;
};

// The selection state; the host's main thread only.
struct Selections {
  std::map<std::intptr_t, SelectionSet> open;  // by serial number
  std::intptr_t next_serial = 1;
  SelectionSet previous;
  SelectionSet pick_first;
};

Selections& State() {
  static Selections state;
  return state;
}

SelectionSet* FindSet(const ads_name ss) {
  if (ss == nullptr || ss[1] != (kSetTag ^ ss[0])) return nullptr;
  auto it = State().open.find(ss[0]);
  return it == State().open.end() ? nullptr : &it->second;
}

int NewSet(SelectionSet set, ads_name ss) {
  Selections& s = State();
  if (s.open.size() >= kMaxOpenSets) return RTERROR;
  std::intptr_t serial = s.next_serial++;
  s.open.emplace(serial, std::move(set));
  ss[0] = serial;
  ss[1] = kSetTag ^ serial;
  return RTNORM;
}

std::wstring Widen(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// ---- wildcard patterns (the host's wcmatch)

struct PatternElement {
  enum Kind { kChar, kAny, kStar, kDigit, kAlpha, kNonAlnum, kSet } kind = kChar;
  wchar_t c = 0;                                 // kChar, folded
  std::vector<std::pair<wchar_t, wchar_t>> set;  // kSet ranges, folded
  bool negated = false;                          // kSet
};

struct Alternative {
  bool negated = false;
  std::vector<PatternElement> elements;
};

std::vector<Alternative> CompilePattern(std::wstring_view pattern) {
  std::vector<Alternative> out(1);
  bool at_start = true;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    wchar_t c = pattern[i];
    Alternative& alt = out.back();
    PatternElement el;
    if (c == L',') {
      out.emplace_back();
      at_start = true;
      continue;
    }
    if (c == L'~' && at_start) {
      alt.negated = true;
      at_start = false;
      continue;
    }
    at_start = false;
    switch (c) {
      case L'`':
        el.c = i + 1 < pattern.size() ? FoldCaseChar(pattern[++i]) : L'`';
        break;
      case L'*':
        el.kind = PatternElement::kStar;
        break;
      case L'?':
        el.kind = PatternElement::kAny;
        break;
      case L'#':
        el.kind = PatternElement::kDigit;
        break;
      case L'@':
        el.kind = PatternElement::kAlpha;
        break;
      case L'.':
        el.kind = PatternElement::kNonAlnum;
        break;
      case L'[': {
        std::size_t close = pattern.find(L']', i + 2);
        if (close == std::wstring_view::npos) {
          el.c = L'[';  // no closing bracket: a plain character
          break;
        }
        el.kind = PatternElement::kSet;
        std::size_t j = i + 1;
        if (pattern[j] == L'~' && j + 1 < close) {
          el.negated = true;
          ++j;
        }
        for (; j < close; ++j) {
          wchar_t lo = FoldCaseChar(pattern[j]);
          if (j + 2 < close && pattern[j + 1] == L'-') {
            el.set.emplace_back(lo, FoldCaseChar(pattern[j + 2]));
            j += 2;
          } else {
            el.set.emplace_back(lo, lo);
          }
        }
        i = close;
        break;
      }
      default:
        el.c = FoldCaseChar(c);
        break;
    }
    alt.elements.push_back(std::move(el));
  }
  return out;
}

bool ElementMatches(const PatternElement& el, wchar_t c) {
  switch (el.kind) {
    case PatternElement::kChar:
      return el.c == c;
    case PatternElement::kAny:
      return true;
    case PatternElement::kDigit:
      return c >= L'0' && c <= L'9';
    case PatternElement::kAlpha:
      return std::iswalpha(c) != 0 || FoldCaseChar(c) != c;
    case PatternElement::kNonAlnum:
      return std::iswalnum(c) == 0;
    case PatternElement::kSet: {
      bool in = std::any_of(el.set.begin(), el.set.end(),
                            [c](const auto& r) { return c >= r.first && c <= r.second; });
      return in != el.negated;
    }
    case PatternElement::kStar:
      return true;
  }
  return false;
}

// Dynamic programming over (element, character): linear in their product whatever the stars.
bool AlternativeMatches(const Alternative& alt, const std::wstring& text) {
  const std::size_t n = text.size();
  std::vector<char> row(n + 1, 0), next(n + 1, 0);
  row[0] = 1;
  for (const PatternElement& el : alt.elements) {
    std::fill(next.begin(), next.end(), 0);
    if (el.kind == PatternElement::kStar) {
      char reach = 0;
      for (std::size_t j = 0; j <= n; ++j) {
        reach = reach || row[j];
        next[j] = reach;
      }
    } else {
      for (std::size_t j = 0; j < n; ++j)
        if (row[j] && ElementMatches(el, text[j])) next[j + 1] = 1;
    }
    row.swap(next);
  }
  return row[n] != 0;
}

class Pattern {
 public:
  explicit Pattern(std::wstring_view text) : alternatives_(CompilePattern(text)) {}
  bool Matches(std::wstring_view text) const {
    std::wstring folded = FoldCase(text);
    for (const Alternative& alt : alternatives_)
      if (AlternativeMatches(alt, folded) != alt.negated) return true;
    return false;
  }

 private:
  std::vector<Alternative> alternatives_;
};

// ---- the entities that can be selected

// The facts a selection looks at, read from the entity's tags without opening it (the caller
// may hold it open for write).
struct EntityFacts {
  std::wstring type;
  std::wstring layer;
  std::wstring block;  // block references only
};

EntityFacts FactsOf(AcDbObjectId id) {
  const AcDbStub* stub = id.stub();
  dxf::Entity e = ImplOf(stub).Get(stub);
  EntityFacts f;
  f.type = Widen(e.Type());
  f.layer = dbtags::Text(e, 8, L"0");
  if (f.type == L"INSERT") f.block = dbtags::Text(e, 2, L"");
  return f;
}

bool IsLayoutBlock(const AcDbDatabaseImpl& impl, const BlockInfo& info) {
  if (info.stub == impl.model_space || info.stub == impl.paper_space) return true;
  std::wstring name = FoldCase(info.name);
  return name.starts_with(L"*model_space") || name.starts_with(L"*paper_space") ||
         name.starts_with(L"$paper_space");
}

// Every entity of model space and of the paper spaces, in drawing order.
std::vector<AcDbObjectId> AllEntities(AcDbDatabase* db) {
  std::vector<AcDbObjectId> out;
  AcDbDatabaseImpl& impl = db->impl();
  if (!impl.HasDocument()) return out;
  for (const BlockInfo& info : impl.blocks) {
    if (!IsLayoutBlock(impl, info)) continue;
    for (AcDbStub* stub : info.entities)
      if (stub->kind == StubKind::kEntity && !impl.IsErased(stub)) out.emplace_back(stub);
  }
  return out;
}

std::optional<AcDbObjectId> LastEntity(AcDbDatabase* db) {
  std::optional<AcDbObjectId> last;
  for (AcDbObjectId id : AllEntities(db))
    if (!last || id.handle() > last->handle()) last = id;
  return last;
}

struct Window {
  double x1, y1, x2, y2;
  bool Contains(const AcGePoint3d& p) const {
    return p.x >= std::min(x1, x2) && p.x <= std::max(x1, x2) && p.y >= std::min(y1, y2) &&
           p.y <= std::max(y1, y2);
  }
};

bool InWindow(AcDbObjectId id, const Window& w) {
  const AcDbStub* stub = id.stub();
  dxf::Entity e = ImplOf(stub).Get(stub);
  std::string_view type = e.Type();
  AcGePoint3d origin(0, 0, 0);
  if (type == "LINE")
    return w.Contains(dbtags::Point(e, 10, origin)) && w.Contains(dbtags::Point(e, 11, origin));
  if (type == "INSERT" || type == "TEXT" || type == "MTEXT" || type == "ATTDEF" ||
      type == "POINT" || type == "CIRCLE" || type == "ARC")
    return w.Contains(dbtags::Point(e, 10, origin));
  return false;
}

std::vector<AcDbObjectId> Where(const std::vector<AcDbObjectId>& ids, auto&& keep) {
  std::vector<AcDbObjectId> out;
  for (AcDbObjectId id : ids)
    if (keep(id)) out.push_back(id);
  return out;
}

// A filter list compiled once: each entry a group and its pattern.
struct Filter {
  std::vector<std::pair<short, Pattern>> tests;
  bool Passes(AcDbObjectId id) const {
    if (tests.empty()) return true;
    EntityFacts f = FactsOf(id);
    for (const auto& [group, pattern] : tests) {
      const std::wstring* value = group == 0 ? &f.type : group == 8 ? &f.layer : &f.block;
      if (group == 2 && f.type != L"INSERT") return false;
      if (!pattern.Matches(*value)) return false;
    }
    return true;
  }
};

std::optional<Filter> CompileFilter(const resbuf* list) {
  Filter filter;
  for (const resbuf* rb = list; rb != nullptr; rb = rb->rbnext) {
    if (rb->restype != 0 && rb->restype != 2 && rb->restype != 8) return std::nullopt;
    if (rb->resval.rstring == nullptr) return std::nullopt;
    filter.tests.emplace_back(rb->restype, Pattern(rb->resval.rstring));
  }
  return filter;
}

// ---- the interactive selection

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t' || text.back() == L'\r'))
    text.remove_suffix(1);
  return text;
}

std::vector<std::wstring> Words(std::wstring_view text) {
  std::vector<std::wstring> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    std::size_t start = i;
    while (i < text.size() && text[i] != L' ' && text[i] != L'\t') ++i;
    if (i > start) out.emplace_back(text.substr(start, i - start));
  }
  return out;
}

// "x,y" or "x,y,z" with the decimal point.
std::optional<AcGePoint3d> ParsePoint(std::wstring_view text) {
  std::string narrow = WideToUtf8(text);
  double v[3] = {0, 0, 0};
  int n = 0;
  const char* p = narrow.data();
  const char* end = p + narrow.size();
  while (n < 3) {
    auto [next, ec] = std::from_chars(p, end, v[n]);
    if (ec != std::errc() || next == p) return std::nullopt;
    ++n;
    p = next;
    if (p == end) break;
    if (*p != ',') return std::nullopt;
    ++p;
  }
  if (p != end || n < 2) return std::nullopt;
  return AcGePoint3d(v[0], v[1], v[2]);
}

std::wstring Found(std::size_t found, std::size_t duplicates) {
  std::wstring text = std::to_wstring(found) + L" found";
  if (duplicates > 0) text += L" (" + std::to_wstring(duplicates) + L" duplicate)";
  return text;
}

enum class LineResult { kPicked, kInvalid, kCancelled };

// Reads "x,y" answers to the window's corner prompts.
std::optional<AcGePoint3d> AskPoint(const ACHAR* prompt, bool& cancelled) {
  for (;;) {
    ACHAR buf[256];
    int rc = acedGetString(1, prompt, buf, 256);
    if (rc == RTCAN) {
      cancelled = true;
      return std::nullopt;
    }
    if (rc != RTNORM) return std::nullopt;
    if (auto p = ParsePoint(Trim(buf))) return p;
    acutPrintf(L"Invalid point.\n");
  }
}

// The entities one typed line names; kInvalid for a line that is no selection.
LineResult Pick(AcDbDatabase* db, std::wstring_view line, std::vector<AcDbObjectId>& picked) {
  std::vector<std::wstring> words = Words(line);
  std::wstring head = FoldCase(words.front());
  std::size_t blank = line.find_first_of(L" \t");
  std::wstring rest(blank == std::wstring_view::npos ? L"" : Trim(line.substr(blank)));
  if (words.size() == 1 && head == L"all") {
    picked = AllEntities(db);
    return LineResult::kPicked;
  }
  if (words.size() == 1 && (head == L"l" || head == L"last")) {
    if (auto last = LastEntity(db)) picked.push_back(*last);
    return LineResult::kPicked;
  }
  if (words.size() == 1 && (head == L"p" || head == L"previous")) {
    const SelectionSet& prev = State().previous;
    if (prev.db == db)
      for (AcDbObjectId id : prev.ids)
        if (!id.isErased()) picked.push_back(id);
    return LineResult::kPicked;
  }
  if (words.size() >= 2 &&
      (head == L"layer" || head == L"la" || head == L"block" || head == L"b")) {
    Pattern pattern(rest);
    bool by_layer = head == L"layer" || head == L"la";
    picked = Where(AllEntities(db), [&](AcDbObjectId id) {
      EntityFacts f = FactsOf(id);
      if (by_layer) return pattern.Matches(f.layer);
      return f.type == L"INSERT" && pattern.Matches(f.block);
    });
    return LineResult::kPicked;
  }
  if (head == L"w" || head == L"window") {
    std::optional<AcGePoint3d> a, b;
    if (words.size() == 3) {
      a = ParsePoint(words[1]);
      b = ParsePoint(words[2]);
      if (!a || !b) return LineResult::kInvalid;
    } else if (words.size() == 1) {
      bool cancelled = false;
      a = AskPoint(L"Specify first corner: ", cancelled);
      if (a) b = AskPoint(L"Specify opposite corner: ", cancelled);
      if (cancelled) return LineResult::kCancelled;
      if (!a || !b) return LineResult::kInvalid;
    } else {
      return LineResult::kInvalid;
    }
    Window w{a->x, a->y, b->x, b->y};
    picked = Where(AllEntities(db), [&](AcDbObjectId id) { return InWindow(id, w); });
    return LineResult::kPicked;
  }
  // Handles, one or more ("HANDLE 2D2" spells one that reads as an option, such as "A").
  std::size_t first = head == L"handle" || head == L"h" ? 1 : 0;
  if (first >= words.size()) return LineResult::kInvalid;
  std::vector<AcDbObjectId> ids;
  for (std::size_t i = first; i < words.size(); ++i) {
    AcDbHandle handle;
    if (!AcDbHandle::fromText(words[i], handle)) return LineResult::kInvalid;
    AcDbObjectId id;
    if (!handle.isNull() && db->getAcDbObjectId(id, false, handle) == Acad::eOk) ids.push_back(id);
  }
  // Only what a selection can hold: entities of model space and the paper spaces.
  std::vector<AcDbObjectId> all = AllEntities(db);
  std::unordered_set<AcDbObjectId> selectable(all.begin(), all.end());
  for (AcDbObjectId id : ids)
    if (selectable.contains(id)) picked.push_back(id);
  return LineResult::kPicked;
}

int Interactive(AcDbDatabase* db, std::vector<AcDbObjectId>& chosen) {
  bool removing = false;
  std::unordered_set<AcDbObjectId> members;
  for (;;) {
    ACHAR buf[1024];
    acedInitGet(0, nullptr);
    int rc = acedGetString(1, removing ? L"Remove objects: " : L"Select objects: ", buf, 1024);
    if (rc == RTCAN) return RTCAN;
    if (rc != RTNORM) {
      acutPrintf(L"*Invalid selection*\n");
      continue;
    }
    std::wstring_view line = Trim(buf);
    if (line.empty()) return RTNORM;
    std::wstring word = FoldCase(line);
    if (word == L"r" || word == L"remove") {
      removing = true;
      continue;
    }
    if (word == L"a" || word == L"add") {
      removing = false;
      continue;
    }
    std::vector<AcDbObjectId> picked;
    LineResult result = Pick(db, line, picked);
    if (result == LineResult::kCancelled) return RTCAN;
    if (result == LineResult::kInvalid) {
      // The host's answer to an input it does not know, with what it expects.
      acutPrintf(
          L"*Invalid selection*\nExpects a handle or ALL/LAYER name/BLOCK name/Window/Last/"
          L"Previous/Add/Remove\n");
      continue;
    }
    std::size_t before = chosen.size();
    std::size_t duplicates = 0, removed = 0;
    for (AcDbObjectId id : picked) {
      if (removing) {
        if (members.erase(id) > 0) {
          chosen.erase(std::find(chosen.begin(), chosen.end(), id));
          ++removed;
        }
      } else if (!members.insert(id).second) {
        ++duplicates;
      } else {
        chosen.push_back(id);
      }
    }
    std::wstring text = Found(picked.size(), duplicates);
    if (removing) text += L", " + std::to_wstring(removed) + L" removed";
    if (before > 0 || removing) text += L", " + std::to_wstring(chosen.size()) + L" total";
    acutPrintf(L"%ls\n", text.c_str());
  }
}

}  // namespace

void ForgetDatabase(const AcDbDatabase* db) {
  Selections& s = State();
  std::erase_if(s.open, [db](const auto& entry) { return entry.second.db == db; });
  if (s.previous.db == db) s.previous = {};
  if (s.pick_first.db == db) s.pick_first = {};
}

void SetPickFirst(std::vector<AcDbObjectId> ids) {
  SelectionSet& set = State().pick_first;
  set.db = acdbHostApplicationServices()->workingDatabase();
  set.ids = std::move(ids);
}

}  // namespace sheetwise::host

using namespace sheetwise::host;

int acedSSGet(const ACHAR* mode, const void* pt1, const void* pt2, const resbuf* filter,
              ads_name ss) {
  if (ss == nullptr) return RTERROR;
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  std::optional<Filter> compiled = CompileFilter(filter);
  if (db == nullptr || !compiled) return RTERROR;
  std::vector<AcDbObjectId> chosen;
  if (mode == nullptr) {
    int rc = Interactive(db, chosen);
    if (rc != RTNORM) return rc;
  } else {
    std::wstring m = FoldCase(Trim(mode));
    if (m.starts_with(L"_")) m.erase(0, 1);
    if (m == L"x" || m == L"a" || m == L"all") {
      chosen = AllEntities(db);
    } else if (m == L"i") {
      const SelectionSet& pf = State().pick_first;
      if (pf.db != db) return RTERROR;
      // Only what is still in the drawing's spaces.
      std::vector<AcDbObjectId> all = AllEntities(db);
      std::unordered_set<AcDbObjectId> selectable(all.begin(), all.end());
      for (AcDbObjectId id : pf.ids)
        if (selectable.contains(id)) chosen.push_back(id);
    } else if (m == L"l") {
      if (auto last = LastEntity(db)) chosen.push_back(*last);
    } else if (m == L"p") {
      const SelectionSet& prev = State().previous;
      if (prev.db == db)
        for (AcDbObjectId id : prev.ids)
          if (!id.isErased()) chosen.push_back(id);
    } else if (m == L"w") {
      if (pt1 == nullptr || pt2 == nullptr) return RTERROR;
      const auto* a = static_cast<const ads_real*>(pt1);
      const auto* b = static_cast<const ads_real*>(pt2);
      Window w{a[0], a[1], b[0], b[1]};
      chosen = Where(AllEntities(db), [&](AcDbObjectId id) { return InWindow(id, w); });
    } else {
      return RTERROR;
    }
  }
  chosen = Where(chosen, [&](AcDbObjectId id) { return compiled->Passes(id); });
  if (chosen.empty()) return RTERROR;
  State().previous = SelectionSet{db, chosen};
  return NewSet(SelectionSet{db, std::move(chosen)}, ss);
}

int acutWcMatch(const ACHAR* string, const ACHAR* pattern) {
  if (string == nullptr || pattern == nullptr) return RTERROR;
  return Pattern(pattern).Matches(string) ? RTNORM : RTERROR;
}

int acedSSLength(const ads_name ss, Adesk::Int32* len) {
  const SelectionSet* set = FindSet(ss);
  if (set == nullptr || len == nullptr) return RTERROR;
  *len = static_cast<Adesk::Int32>(set->ids.size());
  return RTNORM;
}

int acedSSName(const ads_name ss, Adesk::Int32 i, ads_name entity) {
  const SelectionSet* set = FindSet(ss);
  if (set == nullptr || entity == nullptr || i < 0 ||
      static_cast<std::size_t>(i) >= set->ids.size())
    return RTERROR;
  ads_name name;
  acdbGetAdsName(name, set->ids[static_cast<std::size_t>(i)]);
  entity[0] = name[0];
  entity[1] = name[1];
  return RTNORM;
}

int acedSSFree(const ads_name ss) {
  if (FindSet(ss) == nullptr) return RTERROR;
  State().open.erase(ss[0]);
  return RTNORM;
}

int acedSSAdd(const ads_name entity, const ads_name ss, ads_name result) {
  if (result == nullptr) return RTERROR;
  AcDbObjectId id;
  if (entity != nullptr && (acdbGetObjectId(id, entity) != Acad::eOk || id.isNull()))
    return RTERROR;
  if (ss == nullptr) {
    SelectionSet set{acdbHostApplicationServices()->workingDatabase(), {}};
    if (!id.isNull()) set.ids.push_back(id);
    return NewSet(std::move(set), result);
  }
  SelectionSet* set = FindSet(ss);
  if (set == nullptr) return RTERROR;
  if (!id.isNull() && std::find(set->ids.begin(), set->ids.end(), id) == set->ids.end())
    set->ids.push_back(id);
  result[0] = ss[0];
  result[1] = ss[1];
  return RTNORM;
}

int acedSSMemb(const ads_name entity, const ads_name ss) {
  const SelectionSet* set = FindSet(ss);
  AcDbObjectId id;
  if (set == nullptr || entity == nullptr || acdbGetObjectId(id, entity) != Acad::eOk)
    return RTERROR;
  return std::find(set->ids.begin(), set->ids.end(), id) != set->ids.end() ? RTNORM : RTERROR;
}

Acad::ErrorStatus acdbGetObjectId(AcDbObjectId& id, const ads_name ent) {
  if (ent == nullptr) return Acad::eInvalidInput;
  if (ent[0] == 0 && ent[1] == 0) {
    id = AcDbObjectId();
    return Acad::eOk;
  }
  if (ent[1] != (kEntityTag ^ ent[0])) return Acad::eInvalidInput;
  id = AcDbObjectId(reinterpret_cast<AcDbStub*>(ent[0]));
  return Acad::eOk;
}

Acad::ErrorStatus acdbGetAdsName(ads_name& ent, AcDbObjectId id) {
  if (id.isNull()) {
    ent[0] = ent[1] = 0;
    return Acad::eOk;
  }
  ent[0] = reinterpret_cast<std::intptr_t>(id.stub());
  ent[1] = kEntityTag ^ ent[0];
  return Acad::eOk;
}
