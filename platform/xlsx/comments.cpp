#include "platform/xlsx/comments.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>
#include <unordered_set>

#include "platform/xlsx/xml_internal.h"

namespace sheetwise::xlsx {
namespace {

// Relationship types, matched by their ending so that transitional and strict URIs both match.
constexpr std::string_view kCommentsRel = "/comments";
constexpr std::string_view kVmlDrawingRel = "/vmlDrawing";
constexpr std::string_view kThreadedCommentRel = "/threadedComment";
constexpr std::string_view kPersonRel = "/person";

constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kStrictMainNs = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kMarkupCompatibilityNs =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";
constexpr std::string_view kRevisionNs =
    "http://schemas.microsoft.com/office/spreadsheetml/2014/revision";
constexpr std::string_view kVmlNs = "urn:schemas-microsoft-com:vml";
constexpr std::string_view kOfficeNs = "urn:schemas-microsoft-com:office:office";
constexpr std::string_view kExcelNs = "urn:schemas-microsoft-com:office:excel";

// Element and attribute names (local names: writers differ in prefixes).
constexpr std::string_view kComments = "comments";
constexpr std::string_view kAuthors = "authors";
constexpr std::string_view kCommentList = "commentList";
constexpr std::string_view kComment = "comment";
constexpr std::string_view kText = "text";
constexpr std::string_view kRun = "r";
constexpr std::string_view kRunText = "t";
constexpr std::string_view kShape = "shape";
constexpr std::string_view kShapeType = "shapetype";
constexpr std::string_view kShapeLayout = "shapelayout";
constexpr std::string_view kIdMap = "idmap";
constexpr std::string_view kClientData = "ClientData";
constexpr std::string_view kThreadedComment = "threadedComment";
constexpr std::string_view kMentions = "mentions";
constexpr std::string_view kPerson = "person";

// The note box Excel draws for a new note: 128 x 74 pixels, one column right of the cell.
constexpr std::uint32_t kIdsPerBlock = 1024;
constexpr std::string_view kNoteShapeType = "_x0000_t202";

// What Excel (English) writes as the legacy note of a threaded comment, for older versions.
constexpr std::string_view kThreadedNotice =
    "[Threaded comment]\n\nYour version of Excel allows you to read this threaded comment; "
    "however, any edits to it will get removed if the file is opened in a newer version of "
    "Excel. Learn more: https://go.microsoft.com/fwlink/?linkid=870924\n\nComment:\n";

std::uint64_t CellKey(std::uint32_t row, std::uint32_t col) {
  return (std::uint64_t{row} << 16) | col;
}

bool ParseUint(std::string_view s, std::uint32_t& out) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of an "_xHHHH_" escape starting at `at`, or -1.
long EscapeAt(std::string_view s, std::size_t at) {
  if (at + 7 > s.size() || s[at] != '_' || s[at + 1] != 'x' || s[at + 6] != '_') return -1;
  long v = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    int h = HexValue(s[i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Excel stores characters XML cannot hold as _xHHHH_ (UTF-16 units); a literal "_xHHHH_" in the
// text is stored with its underscore escaped (_x005F_). A lone surrogate is left as written.
std::string DecodeEscapes(std::string text) {
  std::size_t at = text.find("_x");
  if (at == std::string::npos) return text;
  std::string out(text, 0, at);
  while (at < text.size()) {
    long v = EscapeAt(text, at);
    if (v < 0) {
      out += text[at++];
      continue;
    }
    auto cp = static_cast<std::uint32_t>(v);
    std::size_t used = 7;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      long low = EscapeAt(text, at + 7);
      if (low < 0xDC00 || low > 0xDFFF) {
        out.append(text, at, 7);
        at += 7;
        continue;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
      used = 14;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      out.append(text, at, 7);
      at += 7;
      continue;
    }
    AppendUtf8(out, cp);
    at += used;
  }
  return out;
}

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when invalid.
std::size_t Utf8Sequence(std::string_view s, std::size_t i, std::uint32_t& cp) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
  if (n == 0 || b > 0xF4 || i + n > s.size()) return 0;
  cp = b & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  static constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void AppendHexEscape(std::string& out, std::uint32_t unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "_x";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
  out += '_';
}

// Text for element content or attribute values: entities for markup, _xHHHH_ for what XML 1.0
// cannot carry (and for CR, which parsers would fold into LF), U+FFFD for broken UTF-8.
void AppendEscaped(std::string& out, std::string_view text) {
  std::size_t plain = 0;  // start of the run not yet copied
  auto flush = [&](std::size_t i) { out.append(text, plain, i - plain); };
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    const char* entity = nullptr;
    switch (c) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      default:
        break;
    }
    if (entity != nullptr) {
      flush(i);
      out += entity;
      plain = ++i;
    } else if (c < 0x20 && c != '\n' && c != '\t') {
      flush(i);
      AppendHexEscape(out, c);
      plain = ++i;
    } else if (c == '_') {
      if (EscapeAt(text, i) >= 0) {
        flush(i);
        out += "_x005F_";
        plain = ++i;
      } else {
        ++i;
      }
    } else if (c < 0x80) {
      ++i;
    } else {
      std::uint32_t cp = 0;
      std::size_t n = Utf8Sequence(text, i, cp);
      if (n == 0) {
        flush(i);
        out += "\xEF\xBF\xBD";
        plain = ++i;
      } else if (cp == 0xFFFE || cp == 0xFFFF) {
        flush(i);
        AppendHexEscape(out, cp);
        i += n;
        plain = i;
      } else {
        i += n;
      }
    }
  }
  flush(text.size());
}

// Plain text of a rich text element (<text>): its <t>, or its runs' <t> joined; phonetic runs
// are reading aids, not part of the text.
std::string PlainText(const pugi::xml_node& item) {
  std::string out;
  for (pugi::xml_node n = item.first_child(); n; n = n.next_sibling()) {
    std::string_view name = LocalName(n);
    if (name == kRunText) {
      out += n.child_value();
    } else if (name == kRun) {
      if (pugi::xml_node t = Child(n, kRunText)) out += t.child_value();
    }
  }
  return DecodeEscapes(std::move(out));
}

// ---- Raw element bytes ------------------------------------------------------------------

// One past the '>' of the tag whose '<' is at `start` ('>' may appear in quoted values); npos
// if the bytes end first.
std::size_t TagEnd(std::string_view xml, std::size_t start) {
  char quote = 0;
  for (std::size_t j = start + 1; j < xml.size(); ++j) {
    char ch = xml[j];
    if (quote != 0) {
      if (ch == quote) quote = 0;
    } else if (ch == '"' || ch == '\'') {
      quote = ch;
    } else if (ch == '>') {
      return j + 1;
    }
  }
  return std::string_view::npos;
}

// End (one past the '>') of the element whose '<' is at `start`, in well-formed XML; npos if
// the bytes end first.
std::size_t ElementEnd(std::string_view xml, std::size_t start) {
  int depth = 0;
  std::size_t i = start;
  while (i < xml.size()) {
    std::size_t next = std::string_view::npos;
    bool closes = false;
    if (xml.compare(i, 4, "<!--") == 0) {
      next = xml.find("-->", i + 4);
      if (next != std::string_view::npos) next += 3;
    } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
      next = xml.find("]]>", i + 9);
      if (next != std::string_view::npos) next += 3;
    } else if (xml.compare(i, 2, "<?") == 0) {
      next = xml.find("?>", i + 2);
      if (next != std::string_view::npos) next += 2;
    } else if (xml.compare(i, 2, "</") == 0) {
      next = TagEnd(xml, i);
      closes = true;
      --depth;
    } else {
      next = TagEnd(xml, i);
      if (next != std::string_view::npos && xml[next - 2] == '/')
        closes = true;  // an empty element: depth unchanged
      else
        ++depth;
    }
    if (next == std::string_view::npos) return next;
    if (closes && depth <= 0) return next;
    i = xml.find('<', next);
  }
  return std::string_view::npos;
}

// The byte range of `node` in `original`, the unchanged copy of `buffer` that pugixml parsed in
// place; nullopt when the document was converted (UTF-16, Latin-1) and has no such position.
struct Range {
  std::size_t begin = 0, end = 0;
};
std::optional<Range> RawRange(std::string_view original, const std::string& buffer,
                              const pugi::xml_node& node) {
  const char* name = node.name();
  if (name < buffer.data() + 1 || name >= buffer.data() + buffer.size()) return std::nullopt;
  auto begin = static_cast<std::size_t>(name - buffer.data()) - 1;
  if (begin >= original.size() || original[begin] != '<') return std::nullopt;
  std::size_t end = ElementEnd(original, begin);
  if (end == std::string_view::npos) return std::nullopt;
  return Range{begin, end};
}

std::optional<std::uint64_t> OffsetIn(const std::string& buffer, const char* p) {
  if (p >= buffer.data() && p < buffer.data() + buffer.size())
    return static_cast<std::uint64_t>(p - buffer.data());
  return std::nullopt;
}

// ---- Namespaces of raw elements -----------------------------------------------------------

struct Binding {
  std::string_view prefix, uri;
};

std::string_view Prefix(std::string_view qualified) {
  std::size_t colon = qualified.find(':');
  return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
}

// The namespace `prefix` is bound to at `node` by a declaration on it, or null.
const char* DeclaredAt(const pugi::xml_node& node, std::string_view prefix) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    std::string_view n = a.name();
    if (prefix.empty()
            ? n == "xmlns"
            : n.size() == prefix.size() + 6 && n.starts_with("xmlns:") && n.substr(6) == prefix)
      return a.value();
  }
  return nullptr;
}

// Decides whether raw elements (notes, shapes) can be copied into a part whose root binds
// `allowed`: every prefix they use must be declared inside them or bound as `allowed` says.
// Elements sharing one parent (every note of a part) share the look-ups above that parent.
class PortabilityCheck {
 public:
  explicit PortabilityCheck(std::span<const Binding> allowed) : allowed_(allowed) {}

  bool Portable(const pugi::xml_node& top) {
    pugi::xml_node n = top;
    while (n) {
      if (n.type() == pugi::node_element) {
        if (!Resolves(n, top, Prefix(n.name()))) return false;
        for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
          std::string_view name = a.name();
          std::string_view p = Prefix(name);
          if (p.empty() || p == "xmlns" || p == "xml") continue;
          if (!Resolves(n, top, p)) return false;
        }
      }
      if (n.first_child()) {
        n = n.first_child();
        continue;
      }
      while (n != top && !n.next_sibling()) n = n.parent();
      if (n == top) break;
      n = n.next_sibling();
    }
    return true;
  }

 private:
  bool Resolves(const pugi::xml_node& at, const pugi::xml_node& top, std::string_view prefix) {
    for (pugi::xml_node p = at;; p = p.parent()) {
      if (DeclaredAt(p, prefix) != nullptr) return true;  // travels with the raw bytes
      if (p == top) break;
    }
    pugi::xml_node parent = top.parent();
    if (parent != cached_parent_) {
      cached_parent_ = parent;
      outer_.clear();
    }
    for (const auto& [p, ok] : outer_)
      if (p == prefix) return ok;
    std::string_view uri;
    for (pugi::xml_node p = parent; p; p = p.parent()) {
      if (const char* u = DeclaredAt(p, prefix)) {
        uri = u;
        break;
      }
    }
    bool ok = false;
    for (const Binding& b : allowed_) ok = ok || (b.prefix == prefix && b.uri == uri);
    outer_.emplace_back(prefix, ok);
    return ok;
  }

  std::span<const Binding> allowed_;
  pugi::xml_node cached_parent_;
  std::vector<std::pair<std::string_view, bool>> outer_;
};

// What WriteCommentsPart's root declares, and what a VML root written here declares.
constexpr Binding kCommentsBindings[] = {
    {"", kMainNs}, {"", kStrictMainNs}, {"xr", kRevisionNs}, {"mc", kMarkupCompatibilityNs}};
constexpr Binding kVmlBindings[] = {{"", ""}, {"v", kVmlNs}, {"o", kOfficeNs}, {"x", kExcelNs}};

// ---- The sheet's legacy drawings ------------------------------------------------------------

struct LegacyDrawingIds {
  std::string drawing, header_footer;
};

// The r:id of <legacyDrawing> and <legacyDrawingHF>, found by a scan of the worksheet's tail:
// both follow <sheetData>, and a sheet's XML can be far too large to parse for them.
LegacyDrawingIds FindLegacyDrawings(std::string_view sheet) {
  LegacyDrawingIds ids;
  constexpr std::string_view kName = "legacyDrawing";
  std::size_t from = sheet.rfind("sheetData");
  if (from == std::string_view::npos) from = 0;
  for (std::size_t at = sheet.find(kName, from); at != std::string_view::npos;
       at = sheet.find(kName, at + 1)) {
    std::size_t lt = at;
    while (lt > 0 && sheet[lt - 1] != '<' && sheet[lt - 1] != '>' && sheet[lt - 1] != ' ' &&
           sheet[lt - 1] != '"')
      --lt;
    if (lt == 0 || sheet[lt - 1] != '<' || (lt != at && sheet[at - 1] != ':')) continue;
    std::size_t after = at + kName.size();
    bool hf = sheet.compare(after, 2, "HF") == 0;
    if (hf) after += 2;
    if (after >= sheet.size()) break;
    char next = sheet[after];
    if (next != ' ' && next != '\t' && next != '\r' && next != '\n' && next != '/' && next != '>')
      continue;
    std::size_t close = sheet.find('>', after);
    if (close == std::string_view::npos) break;
    std::string_view attrs = sheet.substr(after, close - after);
    for (std::size_t k = attrs.find("id="); k != std::string_view::npos;
         k = attrs.find("id=", k + 1)) {
      if (k == 0 || (attrs[k - 1] != ':' && attrs[k - 1] != ' ')) continue;
      if (k + 3 >= attrs.size()) break;
      char quote = attrs[k + 3];
      std::size_t end = attrs.find(quote, k + 4);
      if ((quote != '"' && quote != '\'') || end == std::string_view::npos) break;
      (hf ? ids.header_footer : ids.drawing) = std::string(attrs.substr(k + 4, end - k - 4));
      break;
    }
  }
  return ids;
}

bool IsNoteShape(const pugi::xml_node& node) {
  if (node.type() != pugi::node_element || LocalName(node) != kShape) return false;
  pugi::xml_node data = Child(node, kClientData);
  return data && std::string_view(Attribute(data, "ObjectType").value()) == "Note";
}

// ---- Reading --------------------------------------------------------------------------------

struct NoteIndex {
  std::uint64_t key;
  std::uint32_t file_order;
};

class Reader {
 public:
  Reader(const Workbook& book, std::size_t sheet_index)
      : book_(book), pkg_(book.package()), sheet_index_(sheet_index) {}

  CommentsResult Run() {
    if (!Locate() || !ReadNotes() || !ReadVml() || !ReadThreads()) out_.comments.clear();
    return std::move(out_);
  }

 private:
  bool Fail(std::string_view part, std::string message,
            std::optional<std::uint64_t> offset = std::nullopt) {
    out_.error = pkg_.MakeError(part, std::move(message), offset);
    return false;
  }

  // The part a relationship names, or an error when it is missing.
  const Part* Target(const Relationship& rel, std::string_view what) {
    const Part* part = rel.mode == TargetMode::kInternal ? pkg_.FindPart(rel.target) : nullptr;
    if (part == nullptr)
      Fail(rel.mode == TargetMode::kInternal ? rel.target : RelsPartName(sheet_part_),
           std::string("the ") + std::string(what) + " part named by relationship " + rel.id +
               " of " + sheet_part_ + " is missing");
    return part;
  }

  bool Locate() {
    auto sheets = book_.sheets();
    if (sheet_index_ >= sheets.size())
      return Fail(book_.workbook_part(), "no sheet " + std::to_string(sheet_index_) +
                                             " (the workbook has " + std::to_string(sheets.size()) +
                                             ")");
    const SheetInfo& info = sheets[sheet_index_];
    if (info.kind != SheetKind::kWorksheet)
      return Fail(info.part.empty() ? book_.workbook_part() : info.part,
                  "sheet '" + info.name + "' is not a worksheet");
    sheet_part_ = info.part;
    std::vector<const Relationship*> vml;
    for (const Relationship& rel : pkg_.RelationshipsOf(sheet_part_)) {
      if (rel.type.ends_with(kCommentsRel) && comments_rel_ == nullptr)
        comments_rel_ = &rel;
      else if (rel.type.ends_with(kThreadedCommentRel) && threaded_rel_ == nullptr)
        threaded_rel_ = &rel;
      else if (rel.type.ends_with(kVmlDrawingRel))
        vml.push_back(&rel);
    }
    if (!vml.empty()) {
      // Only <legacyDrawing> holds notes; <legacyDrawingHF> holds header and footer pictures.
      const Part* sheet = pkg_.FindPart(sheet_part_);
      if (sheet == nullptr)
        return Fail(sheet_part_, "the part of sheet '" + info.name + "' is missing");
      LegacyDrawingIds ids = FindLegacyDrawings(sheet->bytes);
      if (!ids.drawing.empty()) {
        for (const Relationship* rel : vml)
          if (rel->id == ids.drawing) vml_rel_ = rel;
      } else if (comments_rel_ != nullptr) {
        for (const Relationship* rel : vml)
          if (vml_rel_ == nullptr && rel->id != ids.header_footer) vml_rel_ = rel;
      }
    }
    SheetCommentParts& parts = out_.parts;
    if (comments_rel_ != nullptr) {
      parts.comments = comments_rel_->target;
      parts.comments_rel_id = comments_rel_->id;
    }
    if (vml_rel_ != nullptr) {
      parts.vml = vml_rel_->target;
      parts.vml_rel_id = vml_rel_->id;
    }
    if (threaded_rel_ != nullptr) {
      parts.threaded = threaded_rel_->target;
      parts.threaded_rel_id = threaded_rel_->id;
    }
    return true;
  }

  bool ReadNotes() {
    if (comments_rel_ == nullptr) return true;
    const Part* part = Target(*comments_rel_, "comments");
    if (part == nullptr) return false;
    std::string buffer = part->bytes;
    pugi::xml_document doc;
    if (auto e = ParseXmlInPlace(pkg_, part->name, buffer, doc)) {
      out_.error = std::move(e);
      return false;
    }
    auto fail = [&](std::string message, const char* where) {
      return Fail(part->name, std::move(message), OffsetIn(buffer, where));
    };
    pugi::xml_node root = doc.document_element();
    if (LocalName(root) != kComments)
      return fail("root element <comments> expected, found <" + std::string(root.name()) + ">",
                  root.name());
    std::vector<std::string_view> authors;
    for (pugi::xml_node a = Child(root, kAuthors).first_child(); a; a = a.next_sibling())
      if (a.type() == pugi::node_element) authors.push_back(a.child_value());

    PortabilityCheck portable(kCommentsBindings);
    std::vector<CellComment> notes;
    std::vector<std::uint64_t> offsets;
    for (pugi::xml_node n = Child(root, kCommentList).first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element || LocalName(n) != kComment) continue;
      CellComment note;
      pugi::xml_attribute ref = n.attribute("ref");
      if (!ParseCellRef(ref.value(), note.row, note.col))
        return fail(std::string("bad cell reference '") + ref.value() + "' in a note",
                    ref ? ref.value() : n.name());
      pugi::xml_attribute author = n.attribute("authorId");
      std::uint32_t author_id = 0;
      if (!ParseUint(author.value(), author_id) || author_id >= authors.size())
        return fail(std::string("authorId '") + author.value() + "' of the note in " + ref.value() +
                        " is not in the authors table (" + std::to_string(authors.size()) +
                        " authors)",
                    author ? author.value() : n.name());
      note.author = authors[author_id];
      note.text = PlainText(Child(n, kText));
      if (auto range = RawRange(part->bytes, buffer, n); range && portable.Portable(n))
        note.raw_note = part->bytes.substr(range->begin, range->end - range->begin);
      offsets.push_back(OffsetIn(buffer, n.name()).value_or(0));
      notes.push_back(std::move(note));
    }

    index_.reserve(notes.size());
    for (std::uint32_t i = 0; i < notes.size(); ++i)
      index_.push_back({CellKey(notes[i].row, notes[i].col), i});
    std::sort(index_.begin(), index_.end(), [](const NoteIndex& a, const NoteIndex& b) {
      return a.key != b.key ? a.key < b.key : a.file_order < b.file_order;
    });
    out_.comments.reserve(notes.size());
    for (std::size_t i = 0; i < index_.size(); ++i) {
      if (i > 0 && index_[i].key == index_[i - 1].key) {
        const CellComment& dup = notes[index_[i].file_order];
        return Fail(part->name, "two notes on cell " + FormatCellRef(dup.row, dup.col),
                    offsets[index_[i].file_order]);
      }
      out_.comments.push_back(std::move(notes[index_[i].file_order]));
    }
    return true;
  }

  // The sorted position of the note on a cell (0-based row/column as VML counts), or npos.
  std::size_t FindNote(std::uint32_t row0, std::uint32_t col0) const {
    std::uint64_t key = CellKey(row0 + 1, col0 + 1);
    auto it = std::lower_bound(index_.begin(), index_.end(), key,
                               [](const NoteIndex& n, std::uint64_t k) { return n.key < k; });
    if (it == index_.end() || it->key != key) return std::string::npos;
    return static_cast<std::size_t>(it - index_.begin());
  }

  bool ReadVml() {
    if (vml_rel_ == nullptr) return true;
    const Part* part = Target(*vml_rel_, "VML drawing");
    if (part == nullptr) return false;
    if (out_.comments.empty()) return true;
    std::string buffer = part->bytes;
    pugi::xml_document doc;
    if (auto e = ParseXmlInPlace(pkg_, part->name, buffer, doc)) {
      out_.error = std::move(e);
      return false;
    }
    PortabilityCheck portable(kVmlBindings);
    std::vector<bool> matched(out_.comments.size(), false);
    std::vector<pugi::xml_node> unplaced;  // notes without x:Row/x:Column (some writers)
    auto take = [&](std::size_t i, const pugi::xml_node& shape) {
      matched[i] = true;
      if (auto range = RawRange(part->bytes, buffer, shape); range && portable.Portable(shape))
        out_.comments[i].raw_shape = part->bytes.substr(range->begin, range->end - range->begin);
    };
    for (pugi::xml_node s = doc.document_element().first_child(); s; s = s.next_sibling()) {
      if (!IsNoteShape(s)) continue;
      pugi::xml_node data = Child(s, kClientData);
      std::uint32_t row0 = 0, col0 = 0;
      if (!ParseUint(Child(data, "Row").child_value(), row0) ||
          !ParseUint(Child(data, "Column").child_value(), col0)) {
        unplaced.push_back(s);
        continue;
      }
      if (row0 >= kMaxRow || col0 >= kMaxColumn) continue;
      std::size_t i = FindNote(row0, col0);
      if (i != std::string::npos && !matched[i]) take(i, s);
    }
    if (!unplaced.empty()) {
      // Writers that leave out the cell write shapes in the order of their notes.
      std::vector<std::size_t> by_file(index_.size());
      for (std::size_t i = 0; i < index_.size(); ++i) by_file[index_[i].file_order] = i;
      std::size_t next = 0;
      for (const pugi::xml_node& s : unplaced) {
        while (next < by_file.size() && matched[by_file[next]]) ++next;
        if (next == by_file.size()) break;
        take(by_file[next], s);
      }
    }
    return true;
  }

  bool ReadThreads() {
    if (threaded_rel_ == nullptr) return true;
    const Part* part = Target(*threaded_rel_, "threaded comments");
    if (part == nullptr) return false;
    std::string buffer = part->bytes;
    pugi::xml_document doc;
    if (auto e = ParseXmlInPlace(pkg_, part->name, buffer, doc)) {
      out_.error = std::move(e);
      return false;
    }
    std::unordered_map<std::string_view, std::string_view> people;
    pugi::xml_document people_doc;
    std::string people_buffer;
    const Relationship* persons = pkg_.FindRelationshipByType(book_.workbook_part(), kPersonRel);
    if (persons != nullptr) {
      const Part* list = pkg_.FindPart(persons->target);
      if (list == nullptr)
        return Fail(persons->target, "the persons part named by relationship " + persons->id +
                                         " of " + book_.workbook_part() + " is missing");
      people_buffer = list->bytes;
      if (auto e = ParseXmlInPlace(pkg_, list->name, people_buffer, people_doc)) {
        out_.error = std::move(e);
        return false;
      }
      for (pugi::xml_node p = people_doc.document_element().first_child(); p; p = p.next_sibling())
        if (LocalName(p) == kPerson)
          people.emplace(p.attribute("id").value(), p.attribute("displayName").value());
    }

    std::vector<CellComment> unmatched;  // threads without their legacy note
    std::vector<bool> seen(out_.comments.size(), false);
    for (pugi::xml_node t = doc.document_element().first_child(); t; t = t.next_sibling()) {
      if (t.type() != pugi::node_element || LocalName(t) != kThreadedComment ||
          t.attribute("parentId"))
        continue;
      pugi::xml_attribute ref = t.attribute("ref");
      std::uint32_t row = 0, col = 0;
      if (!ParseCellRef(ref.value(), row, col))
        return Fail(part->name,
                    std::string("bad cell reference '") + ref.value() + "' in a threaded comment",
                    OffsetIn(buffer, ref ? ref.value() : t.name()));
      std::size_t i = FindNote(row - 1, col - 1);
      CellComment scratch;
      CellComment* c = &scratch;
      if (i != std::string::npos) {
        if (seen[i]) continue;  // a second thread on one cell: Excel shows the first
        seen[i] = true;
        c = &out_.comments[i];
      } else {
        scratch.row = row;
        scratch.col = col;
      }
      c->threaded = true;
      c->thread_id = t.attribute("id").value();
      c->text = DecodeEscapes(Child(t, kText).child_value());
      auto person = people.find(t.attribute("personId").value());
      c->author = person != people.end() ? std::string(person->second) : std::string();
      if (c == &scratch) unmatched.push_back(std::move(scratch));
    }
    if (!unmatched.empty()) {
      auto key = [](const CellComment& c) { return CellKey(c.row, c.col); };
      std::stable_sort(unmatched.begin(), unmatched.end(),
                       [&](const CellComment& a, const CellComment& b) { return key(a) < key(b); });
      unmatched.erase(
          std::unique(unmatched.begin(), unmatched.end(),
                      [&](const CellComment& a, const CellComment& b) { return key(a) == key(b); }),
          unmatched.end());
      std::size_t middle = out_.comments.size();
      for (CellComment& c : unmatched) out_.comments.push_back(std::move(c));
      std::inplace_merge(
          out_.comments.begin(), out_.comments.begin() + static_cast<std::ptrdiff_t>(middle),
          out_.comments.end(),
          [&](const CellComment& a, const CellComment& b) { return key(a) < key(b); });
    }
    return true;
  }

  const Workbook& book_;
  const Package& pkg_;
  std::size_t sheet_index_;
  std::string sheet_part_;
  const Relationship* comments_rel_ = nullptr;
  const Relationship* vml_rel_ = nullptr;
  const Relationship* threaded_rel_ = nullptr;
  std::vector<NoteIndex> index_;  // sorted like out_.comments (the notes of the comments part)
  CommentsResult out_;
};

// ---- Writing --------------------------------------------------------------------------------

// Positions of `comments` sorted by cell; of two on one cell the later wins.
std::vector<std::size_t> SortedUnique(std::span<const CellComment> comments) {
  std::vector<std::pair<std::uint64_t, std::size_t>> keyed;
  keyed.reserve(comments.size());
  for (std::size_t i = 0; i < comments.size(); ++i)
    keyed.emplace_back(CellKey(comments[i].row, comments[i].col), i);
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::size_t> order;
  order.reserve(keyed.size());
  for (std::size_t i = 0; i < keyed.size(); ++i)
    if (i + 1 == keyed.size() || keyed[i + 1].first != keyed[i].first)
      order.push_back(keyed[i].second);
  return order;
}

void AppendUint(std::string& out, std::uint64_t v) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
  (void)ec;
  out.append(digits, end);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Copies `raw` (an element) with the values of the named attributes of its start tag replaced,
// adding those it lacks.
void AppendWithAttributes(std::string& out, std::string_view raw,
                          std::span<const std::pair<std::string_view, std::string_view>> set) {
  std::size_t tag_end = TagEnd(raw, 0);
  if (tag_end == std::string_view::npos) {
    out += raw;
    return;
  }
  std::size_t attrs_end = raw[tag_end - 2] == '/' ? tag_end - 2 : tag_end - 1;
  std::size_t i = 1;
  while (i < attrs_end && !IsSpace(raw[i])) ++i;
  std::vector<bool> done(set.size(), false);
  std::size_t copied = 0;
  while (i < attrs_end) {
    while (i < attrs_end && IsSpace(raw[i])) ++i;
    std::size_t name_begin = i;
    while (i < attrs_end && raw[i] != '=' && !IsSpace(raw[i])) ++i;
    std::string_view name = raw.substr(name_begin, i - name_begin);
    while (i < attrs_end && raw[i] != '"' && raw[i] != '\'') ++i;
    if (i >= attrs_end) break;
    char quote = raw[i];
    std::size_t value_begin = ++i;
    while (i < attrs_end && raw[i] != quote) ++i;
    for (std::size_t k = 0; k < set.size(); ++k) {
      if (done[k] || name != set[k].first) continue;
      done[k] = true;
      out.append(raw, copied, value_begin - copied);
      out += set[k].second;
      copied = i;
    }
    ++i;
  }
  out.append(raw, copied, attrs_end - copied);
  for (std::size_t k = 0; k < set.size(); ++k) {
    if (done[k]) continue;
    out += ' ';
    out += set[k].first;
    out += "=\"";
    out += set[k].second;
    out += '"';
  }
  out.append(raw, attrs_end, std::string_view::npos);
}

}  // namespace

CommentsResult ReadComments(const Workbook& book, std::size_t sheet_index) {
  return Reader(book, sheet_index).Run();
}

std::string WriteCommentsPart(std::span<const CellComment> comments) {
  std::vector<std::size_t> order = SortedUnique(comments);
  // The author each note is filed under: a changed thread's legacy note names its thread.
  std::vector<std::string> thread_authors;
  std::vector<std::string_view> authors;
  std::vector<std::uint32_t> author_of(order.size());
  std::unordered_map<std::string_view, std::uint32_t> author_ids;
  thread_authors.reserve(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    const CellComment& c = comments[order[k]];
    std::string_view name = c.author;
    if (c.threaded && !c.thread_id.empty()) name = thread_authors.emplace_back("tc=" + c.thread_id);
    auto [it, added] = author_ids.emplace(name, static_cast<std::uint32_t>(authors.size()));
    if (added) authors.push_back(name);
    author_of[k] = it->second;
  }

  std::string out;
  std::size_t estimate = 512;
  for (std::size_t i : order)
    estimate += comments[i].raw_note.empty() ? comments[i].text.size() + 96
                                             : comments[i].raw_note.size() + 16;
  out.reserve(estimate);
  out +=
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<comments xmlns=\"";
  out += kMainNs;
  out += "\" xmlns:mc=\"";
  out += kMarkupCompatibilityNs;
  out += "\" mc:Ignorable=\"xr\" xmlns:xr=\"";
  out += kRevisionNs;
  out += "\"><authors>";
  for (std::string_view a : authors) {
    out += "<author>";
    AppendEscaped(out, a);
    out += "</author>";
  }
  out += "</authors><commentList>";
  std::string id_text;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const CellComment& c = comments[order[k]];
    std::string ref = FormatCellRef(c.row, c.col);
    if (ref.empty()) continue;  // outside the grid: no cell to carry it
    id_text.clear();
    AppendUint(id_text, author_of[k]);
    if (!c.raw_note.empty()) {
      const std::pair<std::string_view, std::string_view> set[] = {{"ref", ref},
                                                                   {"authorId", id_text}};
      AppendWithAttributes(out, c.raw_note, set);
      continue;
    }
    out += "<comment ref=\"";
    out += ref;
    out += "\" authorId=\"";
    out += id_text;
    out += "\"><text><t xml:space=\"preserve\">";
    if (c.threaded && !c.thread_id.empty()) out += kThreadedNotice;
    AppendEscaped(out, c.text);
    out += "</t></text></comment>";
  }
  out += "</commentList></comments>";
  return out;
}

namespace {

// ---- VML ------------------------------------------------------------------------------------

// "_x0000_s1025" -> 1025.
std::optional<std::uint32_t> ShapeNumber(std::string_view id) {
  constexpr std::string_view kPrefix = "_x0000_s";
  if (!id.starts_with(kPrefix)) return std::nullopt;
  std::uint32_t n = 0;
  if (!ParseUint(id.substr(kPrefix.size()), n)) return std::nullopt;
  return n;
}

// The shape numbers of a raw shape's start tag (id, o:spid).
void CollectRawIds(std::string_view raw, std::vector<std::uint32_t>& out) {
  std::size_t end = raw.find('>');
  std::string_view tag = raw.substr(0, end);
  for (std::size_t at = tag.find("\"_x0000_s"); at != std::string_view::npos;
       at = tag.find("\"_x0000_s", at + 1)) {
    std::size_t close = tag.find('"', at + 1);
    if (close == std::string_view::npos) break;
    if (auto n = ShapeNumber(tag.substr(at + 1, close - at - 1))) out.push_back(*n);
  }
}

// The 0-based cell a raw shape names in its x:Row / x:Column, when it names one.
bool RawShapeCell(std::string_view raw, std::uint32_t& row0, std::uint32_t& col0) {
  auto value = [&](std::string_view name, std::uint32_t& v) {
    for (std::size_t at = raw.find(name); at != std::string_view::npos;
         at = raw.find(name, at + 1)) {
      if (at == 0 || (raw[at - 1] != ':' && raw[at - 1] != '<')) continue;
      std::size_t begin = at + name.size();
      std::size_t end = raw.find('<', begin);
      if (end == std::string_view::npos) return false;
      return ParseUint(raw.substr(begin, end - begin), v);
    }
    return false;
  };
  return value("Row>", row0) && value("Column>", col0);
}

void AppendQuarterPoints(std::string& out, std::uint64_t quarters) {
  AppendUint(out, quarters / 4);
  static constexpr const char* kFraction[] = {"", ".25", ".5", ".75"};
  out += kFraction[quarters % 4];
  out += "pt";
}

constexpr std::string_view kVmlDeclarations =
    " xmlns:v=\"urn:schemas-microsoft-com:vml\""
    " xmlns:o=\"urn:schemas-microsoft-com:office:office\""
    " xmlns:x=\"urn:schemas-microsoft-com:office:excel\"";

void AppendNoteShapeType(std::string& out, bool declare) {
  out += "<v:shapetype";
  if (declare) out += kVmlDeclarations;
  out +=
      " id=\"_x0000_t202\" coordsize=\"21600,21600\" o:spt=\"202\"\n"
      "  path=\"m,l,21600r21600,l21600,xe\">\n"
      "  <v:stroke joinstyle=\"miter\"/>\n"
      "  <v:path gradientshapeok=\"t\" o:connecttype=\"rect\"/>\n"
      " </v:shapetype>";
}

// A hidden note box as Excel draws one for a new note: 128 x 74 pixels, its top left corner
// 15 pixels into the column right of the cell and 10 pixels into the row above (on the grid's
// default 64 x 20 pixel cells), moved left or up at the grid's far edges.
void AppendNoteShape(std::string& out, std::uint32_t number, std::uint32_t row0, std::uint32_t col0,
                     std::size_t z, bool declare) {
  std::uint32_t left = col0 + 1, right = col0 + 3;
  if (right > kMaxColumn - 1) {
    left = col0 - 3;
    right = col0 - 1;
  }
  std::uint32_t top = row0 == 0 ? 0 : row0 - 1;
  std::uint32_t top_offset = row0 == 0 ? 2 : 10;
  std::uint32_t bottom = top + (row0 == 0 ? 3 : 4);
  std::uint32_t bottom_offset = row0 == 0 ? 16 : 4;
  if (bottom > kMaxRow - 1) {
    std::uint32_t shift = bottom - (kMaxRow - 1);
    top -= shift;
    bottom -= shift;
  }
  out += "<v:shape";
  if (declare) out += kVmlDeclarations;
  out += " id=\"_x0000_s";
  AppendUint(out, number);
  out += "\" type=\"#_x0000_t202\" style='position:absolute;\n  margin-left:";
  // Points are 3/4 of a pixel: 48pt a column, 15pt a row.
  AppendQuarterPoints(out, std::uint64_t{left} * 192 + 15 * 3);
  out += ";margin-top:";
  AppendQuarterPoints(out, std::uint64_t{top} * 60 + top_offset * 3);
  out += ";width:96pt;height:55.5pt;z-index:";
  AppendUint(out, z);
  out +=
      ";\n  visibility:hidden' fillcolor=\"#ffffe1\" o:insetmode=\"auto\">\n"
      "  <v:fill color2=\"#ffffe1\"/>\n"
      "  <v:shadow color=\"black\" obscured=\"t\"/>\n"
      "  <v:path o:connecttype=\"none\"/>\n"
      "  <v:textbox style='mso-direction-alt:auto'>\n"
      "   <div style='text-align:left'></div>\n"
      "  </v:textbox>\n"
      "  <x:ClientData ObjectType=\"Note\">\n"
      "   <x:MoveWithCells/>\n"
      "   <x:SizeWithCells/>\n"
      "   <x:Anchor>\n    ";
  const std::uint32_t anchor[] = {left, 15, top, top_offset, right, 15, bottom, bottom_offset};
  for (std::size_t i = 0; i < std::size(anchor); ++i) {
    if (i > 0) out += ", ";
    AppendUint(out, anchor[i]);
  }
  out += "</x:Anchor>\n   <x:AutoFill>False</x:AutoFill>\n   <x:Row>";
  AppendUint(out, row0);
  out += "</x:Row>\n   <x:Column>";
  AppendUint(out, col0);
  out += "</x:Column>\n  </x:ClientData>\n </v:shape>";
}

// A change to an existing part: `erase` bytes at `at` replaced by `insert`.
struct Edit {
  std::size_t at = 0, erase = 0;
  std::string insert;
};

std::string ApplyEdits(std::string_view original, std::vector<Edit>& edits) {
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.at < b.at; });
  std::size_t size = original.size();
  for (const Edit& e : edits) size += e.insert.size();
  std::string out;
  out.reserve(size);
  std::size_t pos = 0;
  for (const Edit& e : edits) {
    if (e.at > pos) out.append(original, pos, e.at - pos);
    out += e.insert;
    pos = std::max(pos, e.at + e.erase);
  }
  if (pos < original.size()) out.append(original, pos, std::string_view::npos);
  return out;
}

std::optional<Error> ParseExisting(std::string& buffer, pugi::xml_document& doc) {
  pugi::xml_parse_result parsed = doc.load_buffer_inplace(
      buffer.data(), buffer.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
  if (parsed && doc.document_element()) return std::nullopt;
  Error e;
  e.offset = static_cast<std::uint64_t>(parsed.offset);
  e.message = std::string("malformed XML: ") + (parsed ? "no root element" : parsed.description());
  return e;
}

WriteResult Unconvertible() {
  Error e;
  e.message = "the part is not UTF-8; it cannot be edited in place";
  return {{}, std::move(e)};
}

}  // namespace

WriteResult WriteVmlDrawing(std::span<const CellComment> comments, std::string_view existing,
                            std::uint32_t id_block) {
  std::vector<std::size_t> order = SortedUnique(comments);
  std::vector<std::uint32_t> used;    // shape numbers of every shape kept or copied
  std::vector<std::uint32_t> listed;  // blocks in the existing o:idmap
  std::vector<Edit> edits;
  std::size_t notes_at = 0;  // where new notes go in `existing`: after its last note
  struct OldNote {
    std::uint64_t key;
    Range range;
    bool kept;  // an unchanged note stays where it is
  };
  std::vector<OldNote> old_notes;
  std::optional<Range> idmap_value;           // the data attribute's value in `existing`
  std::size_t layout_at = std::string::npos;  // where a missing shapelayout goes
  bool has_note_type = false;
  bool declare = false;    // the root does not bind v, o, x: every note declares them itself
  std::string root_close;  // for a root that was an empty element
  std::string buffer(existing);
  pugi::xml_document doc;

  if (!existing.empty()) {
    if (auto e = ParseExisting(buffer, doc)) return {{}, std::move(e)};
    pugi::xml_node root = doc.document_element();
    auto root_range = RawRange(existing, buffer, root);
    if (!root_range) return Unconvertible();
    std::size_t tag_end = TagEnd(existing, root_range->begin);
    if (existing[tag_end - 2] == '/') {
      // <xml .../>: reopened so that it can hold the notes.
      edits.push_back({tag_end - 2, 2, ">"});
      notes_at = tag_end;
      root_close = "</" + std::string(root.name()) + ">";
    } else {
      notes_at = existing.rfind("</", root_range->end - 1);
    }
    layout_at = tag_end;
    for (std::string_view p : {"v", "o", "x"}) {
      const char* uri = DeclaredAt(root, p);
      std::string_view want = p == "v" ? kVmlNs : p == "o" ? kOfficeNs : kExcelNs;
      if (uri == nullptr || want != uri) declare = true;
    }

    for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element) continue;
      auto range = RawRange(existing, buffer, n);
      if (!range) return Unconvertible();
      if (IsNoteShape(n)) {
        pugi::xml_node data = Child(n, kClientData);
        std::uint32_t row0 = 0, col0 = 0;
        std::uint64_t key = 0;  // none: never kept in place
        if (ParseUint(Child(data, "Row").child_value(), row0) &&
            ParseUint(Child(data, "Column").child_value(), col0) && row0 < kMaxRow &&
            col0 < kMaxColumn)
          key = CellKey(row0 + 1, col0 + 1);
        old_notes.push_back({key, *range, false});
        notes_at = range->end;
        continue;
      }
      std::string_view name = LocalName(n);
      if (name == kShapeLayout) {
        layout_at = std::string::npos;
        if (pugi::xml_node map = Child(n, kIdMap)) {
          pugi::xml_attribute data = map.attribute("data");
          std::string_view list = data.value();
          for (std::size_t at = 0; at < list.size();) {
            std::size_t comma = list.find(',', at);
            std::uint32_t block = 0;
            if (ParseUint(list.substr(at, comma - at), block)) listed.push_back(block);
            if (comma == std::string_view::npos) break;
            at = comma + 1;
          }
          if (auto offset = OffsetIn(buffer, data.value()); offset && data) {
            // The value as written (entities and all) ends at its closing quote.
            std::size_t begin = *offset;
            char quote = existing[begin - 1];
            std::size_t end = existing.find(quote, begin);
            if (end != std::string_view::npos) idmap_value = Range{begin, end};
          }
        }
      } else if (name == kShapeType &&
                 std::string_view(n.attribute("id").value()) == kNoteShapeType) {
        has_note_type = true;
      }
      // Every shape number the kept elements use.
      for (pugi::xml_node d = n; d;) {
        if (d.type() == pugi::node_element) {
          for (std::string_view attr : {"id", "spid"})
            if (auto num = ShapeNumber(Attribute(d, attr).value())) used.push_back(*num);
        }
        if (d.first_child()) {
          d = d.first_child();
          continue;
        }
        while (d != n && !d.next_sibling()) d = d.parent();
        if (d == n) break;
        d = d.next_sibling();
      }
    }
  }

  // Raw shapes are kept unless they name another cell than their comment's.
  std::vector<bool> keep_raw(order.size(), false);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const CellComment& c = comments[order[k]];
    if (c.raw_shape.empty()) continue;
    std::uint32_t row0 = 0, col0 = 0;
    if (RawShapeCell(c.raw_shape, row0, col0) && (row0 + 1 != c.row || col0 + 1 != c.col)) continue;
    keep_raw[k] = true;
    CollectRawIds(c.raw_shape, used);
  }
  // A comment whose raw shape is the existing note of its cell leaves that note in place.
  std::vector<bool> in_place(order.size(), false);
  if (!old_notes.empty()) {
    std::unordered_map<std::uint64_t, std::size_t> by_cell;
    for (std::size_t i = 0; i < old_notes.size(); ++i)
      if (old_notes[i].key != 0) by_cell.emplace(old_notes[i].key, i);
    for (std::size_t k = 0; k < order.size(); ++k) {
      const CellComment& c = comments[order[k]];
      auto it = keep_raw[k] ? by_cell.find(CellKey(c.row, c.col)) : by_cell.end();
      if (it == by_cell.end()) continue;
      OldNote& old = old_notes[it->second];
      if (existing.substr(old.range.begin, old.range.end - old.range.begin) != c.raw_shape)
        continue;
      old.kept = true;
      in_place[k] = true;
    }
    for (const OldNote& old : old_notes)
      if (!old.kept) edits.push_back({old.range.begin, old.range.end - old.range.begin, ""});
  }

  // New shape numbers: free numbers of the listed blocks first, then of fresh blocks.
  std::sort(listed.begin(), listed.end());
  listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
  std::unordered_set<std::uint32_t> taken(used.begin(), used.end());
  std::vector<std::uint32_t> blocks = listed;
  if (blocks.empty()) blocks.push_back(id_block);
  std::uint32_t highest_block = blocks.back();
  for (std::uint32_t n : used) highest_block = std::max(highest_block, n / kIdsPerBlock);
  std::size_t block_index = 0;
  std::uint32_t block = blocks[0], slot = 0;
  auto next_number = [&]() {
    for (;;) {
      if (++slot >= kIdsPerBlock) {
        slot = 1;
        block = ++block_index < blocks.size() ? blocks[block_index] : ++highest_block;
      }
      std::uint32_t n = block * kIdsPerBlock + slot;
      if (!taken.contains(n)) return n;
    }
  };

  std::string notes;
  std::size_t estimate = 0;
  for (std::size_t i : order)
    estimate += comments[i].raw_shape.empty() ? 720 : comments[i].raw_shape.size() + 128;
  notes.reserve(estimate + 512);
  std::vector<std::uint32_t> fresh;
  bool any_note = false;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const CellComment& c = comments[order[k]];
    if (c.row == 0 || c.row > kMaxRow || c.col == 0 || c.col > kMaxColumn) continue;
    if (in_place[k]) continue;
    any_note = true;
    if (keep_raw[k]) {
      if (declare) {
        std::size_t name_end = c.raw_shape.find_first_of(" \t\r\n/>");
        notes.append(c.raw_shape, 0, name_end);
        notes += kVmlDeclarations;
        notes.append(c.raw_shape, name_end, std::string::npos);
      } else {
        notes += c.raw_shape;
      }
      continue;
    }
    std::uint32_t number = next_number();
    fresh.push_back(number);
    AppendNoteShape(notes, number, c.row - 1, c.col - 1, k + 1, declare);
  }

  // The blocks the drawing uses, for o:idmap.
  std::vector<std::uint32_t> all_blocks = listed;
  for (std::uint32_t n : used) all_blocks.push_back(n / kIdsPerBlock);
  for (std::uint32_t n : fresh) all_blocks.push_back(n / kIdsPerBlock);
  if (all_blocks.empty()) all_blocks.push_back(id_block);
  std::sort(all_blocks.begin(), all_blocks.end());
  all_blocks.erase(std::unique(all_blocks.begin(), all_blocks.end()), all_blocks.end());
  std::string block_list;
  for (std::uint32_t b : all_blocks) {
    if (!block_list.empty()) block_list += ',';
    AppendUint(block_list, b);
  }

  if (existing.empty()) {
    std::string out;
    out.reserve(notes.size() + 1024);
    out += "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\"\n";
    out += " xmlns:o=\"urn:schemas-microsoft-com:office:office\"\n";
    out += " xmlns:x=\"urn:schemas-microsoft-com:office:excel\">\n";
    out += " <o:shapelayout v:ext=\"edit\">\n  <o:idmap v:ext=\"edit\" data=\"";
    out += block_list;
    out += "\"/>\n </o:shapelayout>";
    AppendNoteShapeType(out, false);
    out += notes;
    out += "</xml>";
    return {std::move(out), std::nullopt};
  }

  // The layout is left alone unless notes are written anew: an unchanged drawing stays as is.
  if (!any_note) {
  } else if (layout_at != std::string::npos) {
    std::string layout = "<o:shapelayout v:ext=\"edit\"";
    if (declare) layout += kVmlDeclarations;
    layout += "><o:idmap v:ext=\"edit\" data=\"" + block_list + "\"/></o:shapelayout>";
    edits.push_back({layout_at, 0, std::move(layout)});
  } else if (idmap_value && all_blocks != listed) {
    edits.push_back({idmap_value->begin, idmap_value->end - idmap_value->begin, block_list});
  }
  std::string inserted;
  if (any_note && !has_note_type) AppendNoteShapeType(inserted, declare);
  inserted += notes;
  inserted += root_close;
  edits.push_back({notes_at, 0, std::move(inserted)});
  return {ApplyEdits(existing, edits), std::nullopt};
}

WriteResult UpdateThreadedComments(std::string_view existing,
                                   std::span<const CellComment> comments) {
  std::string buffer(existing);
  pugi::xml_document doc;
  if (auto e = ParseExisting(buffer, doc)) return {{}, std::move(e)};
  // Cells with a thread, and the new text of the changed ones.
  std::unordered_map<std::uint64_t, const CellComment*> threads;
  for (const CellComment& c : comments)
    if (c.threaded) threads[CellKey(c.row, c.col)] = &c;

  std::vector<Edit> edits;
  std::unordered_set<std::string_view> removed;  // ids of removed threads
  std::unordered_set<std::uint64_t> done;
  pugi::xml_node root = doc.document_element();
  for (int pass = 0; pass < 2; ++pass) {
    for (pugi::xml_node t = root.first_child(); t; t = t.next_sibling()) {
      if (t.type() != pugi::node_element || LocalName(t) != kThreadedComment) continue;
      pugi::xml_attribute parent = t.attribute("parentId");
      if (pass == 1) {
        // Replies go with their thread.
        if (parent && removed.contains(parent.value())) {
          auto range = RawRange(existing, buffer, t);
          if (!range) return Unconvertible();
          edits.push_back({range->begin, range->end - range->begin, ""});
        }
        continue;
      }
      if (parent) continue;
      std::uint32_t row = 0, col = 0;
      if (!ParseCellRef(t.attribute("ref").value(), row, col)) continue;
      std::uint64_t key = CellKey(row, col);
      auto it = threads.find(key);
      bool first = done.insert(key).second;
      if (it == threads.end()) {
        auto range = RawRange(existing, buffer, t);
        if (!range) return Unconvertible();
        edits.push_back({range->begin, range->end - range->begin, ""});
        removed.insert(t.attribute("id").value());
        continue;
      }
      if (!first || !it->second->raw_note.empty()) continue;
      std::string text = "<";
      pugi::xml_node old_text = Child(t, kText);
      std::string name = old_text ? old_text.name() : std::string(kText);
      text += name + ">";
      AppendEscaped(text, it->second->text);
      text += "</" + name + ">";
      if (old_text) {
        auto range = RawRange(existing, buffer, old_text);
        if (!range) return Unconvertible();
        edits.push_back({range->begin, range->end - range->begin, std::move(text)});
      } else {
        // <threadedComment .../> or one without text: the text goes first inside it.
        auto range = RawRange(existing, buffer, t);
        if (!range) return Unconvertible();
        std::string_view raw = existing.substr(range->begin, range->end - range->begin);
        if (raw.ends_with("/>")) {
          edits.push_back({range->end - 2, 2, ">" + text + "</" + std::string(t.name()) + ">"});
        } else {
          edits.push_back({range->begin + raw.find('>') + 1, 0, std::move(text)});
        }
      }
      if (pugi::xml_node mentions = Child(t, kMentions)) {
        auto range = RawRange(existing, buffer, mentions);
        if (!range) return Unconvertible();
        edits.push_back({range->begin, range->end - range->begin, ""});
      }
    }
  }
  return {ApplyEdits(existing, edits), std::nullopt};
}

}  // namespace sheetwise::xlsx
