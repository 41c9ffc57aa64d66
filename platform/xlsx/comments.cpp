#include "platform/xlsx/comments.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "platform/xlsx/xml_internal.h"
#include "platform/xlsx/xml_scan.h"

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
    scan::AppendUtf8(out, cp);
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

// ---- Element skeleton -------------------------------------------------------------------------
// Parts are read element by element: a scan finds each element's bytes, and pugixml parses one
// element at a time into a reused buffer. A part with 100,000 notes then never becomes one
// document tree, which would cost several times the rest of the reading in memory and time.

struct Range {
  std::size_t begin = 0, end = 0;
};

struct ScanError {
  std::size_t offset = 0;
  std::string message;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One past the '>' of the tag whose '<' is at `start` ('>' may appear in quoted values); npos
// if the bytes end first. memchr-driven: tags are most of a part's bytes.
std::size_t TagEnd(std::string_view xml, std::size_t start) {
  const char* data = xml.data();
  std::size_t size = xml.size();
  for (std::size_t i = start + 1; i < size;) {
    const void* gt_at = std::memchr(data + i, '>', size - i);
    if (gt_at == nullptr) return std::string_view::npos;
    std::size_t gt = static_cast<std::size_t>(static_cast<const char*>(gt_at) - data);
    const void* dq = std::memchr(data + i, '"', gt - i);
    const void* sq = std::memchr(data + i, '\'', gt - i);
    if (dq == nullptr && sq == nullptr) return gt + 1;
    const char* q = static_cast<const char*>(dq == nullptr   ? sq
                                             : sq == nullptr ? dq
                                                             : std::min(dq, sq));
    std::size_t open = static_cast<std::size_t>(q - data);
    const void* close = std::memchr(data + open + 1, *q, size - open - 1);
    if (close == nullptr) return std::string_view::npos;
    i = static_cast<std::size_t>(static_cast<const char*>(close) - data) + 1;
  }
  return std::string_view::npos;
}

// The end of a comment, CDATA section, processing instruction or DOCTYPE at `i`; `i` itself
// when none starts there; npos when it is not terminated.
std::size_t SkipMarkup(std::string_view xml, std::size_t i) {
  if (i + 1 >= xml.size() || (xml[i + 1] != '!' && xml[i + 1] != '?')) return i;
  auto after = [&](std::string_view close, std::size_t from) {
    std::size_t e = xml.find(close, from);
    return e == std::string_view::npos ? e : e + close.size();
  };
  if (xml.compare(i, 4, "<!--") == 0) return after("-->", i + 4);
  if (xml.compare(i, 9, "<![CDATA[") == 0) return after("]]>", i + 9);
  if (xml.compare(i, 2, "<?") == 0) return after("?>", i + 2);
  if (xml.compare(i, 2, "<!") == 0) {
    std::size_t gt = xml.find('>', i);
    std::size_t bracket = xml.find('[', i);
    if (bracket < gt) {  // a DOCTYPE's internal subset
      std::size_t close = xml.find(']', bracket);
      gt = close == std::string_view::npos ? close : xml.find('>', close);
    }
    return gt == std::string_view::npos ? gt : gt + 1;
  }
  return i;
}

// End (one past the '>') of the element whose '<' is at `start`, matching start and end tags
// by depth only (pugixml checks the names when it parses the element); npos if the bytes end
// first.
std::size_t ElementEnd(std::string_view xml, std::size_t start) {
  int depth = 0;
  for (std::size_t i = start; i < xml.size(); i = xml.find('<', i)) {
    if (std::size_t skipped = SkipMarkup(xml, i); skipped != i) {
      if (skipped == std::string_view::npos) return skipped;
      i = skipped;
      continue;
    }
    std::size_t next = TagEnd(xml, i);
    if (next == std::string_view::npos) return next;
    if (xml[i + 1] == '/') {
      if (--depth <= 0) return next;
    } else if (xml[next - 2] != '/') {
      ++depth;
    } else if (depth == 0) {
      return next;  // an empty element
    }
    i = next;
  }
  return std::string_view::npos;
}

std::string_view NameAt(std::string_view xml, std::size_t from) {
  std::size_t i = from;
  while (i < xml.size() && !IsSpace(xml[i]) && xml[i] != '/' && xml[i] != '>') ++i;
  return xml.substr(from, i - from);
}

// An element found by the scan.
struct Element {
  Range range;              // "<name ...>...</name>" or "<name .../>"
  std::size_t tag_end = 0;  // one past the start tag's '>'
  std::string_view name;    // as written, with its prefix
  bool empty() const { return tag_end == range.end; }
};

std::optional<ScanError> ScanElement(std::string_view xml, std::size_t lt, std::size_t limit,
                                     Element& out) {
  std::size_t end = ElementEnd(xml.substr(0, limit), lt);
  if (end == std::string_view::npos) return ScanError{limit, "unexpected end of data"};
  out.range = {lt, end};
  out.tag_end = TagEnd(xml, lt);
  out.name = NameAt(xml, lt + 1);
  if (out.name.empty()) return ScanError{lt + 1, "element name expected"};
  if (!out.empty()) {
    std::size_t close = xml.rfind("</", end - 1);
    std::string_view close_name = NameAt(xml, close + 2);
    if (close_name != out.name)
      return ScanError{close, "end tag </" + std::string(close_name) + "> does not match <" +
                                  std::string(out.name) + ">"};
  }
  return std::nullopt;
}

// The document element, after an optional BOM, declaration, comments and DOCTYPE; nothing but
// comments and processing instructions may follow it.
std::optional<ScanError> RootElement(std::string_view xml, Element& root) {
  std::size_t i = xml.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  for (;;) {
    while (i < xml.size() && IsSpace(xml[i])) ++i;
    if (i >= xml.size()) return ScanError{i, "no root element"};
    if (xml[i] != '<' || xml.compare(i, 2, "</") == 0)
      return ScanError{i, "a root element expected"};
    std::size_t skipped = SkipMarkup(xml, i);
    if (skipped == std::string_view::npos) return ScanError{xml.size(), "unexpected end of data"};
    if (skipped == i) break;
    i = skipped;
  }
  // The root's end tag is found from the back: its content is scanned once, by ChildElements.
  root.range.begin = i;
  root.tag_end = TagEnd(xml, i);
  root.name = NameAt(xml, i + 1);
  if (root.tag_end == std::string_view::npos)
    return ScanError{xml.size(), "unexpected end of data"};
  if (root.name.empty()) return ScanError{i + 1, "element name expected"};
  root.range.end = root.tag_end;
  if (xml[root.tag_end - 2] != '/') {
    std::string close = "</" + std::string(root.name);
    std::size_t at = xml.rfind(close);
    while (at != std::string_view::npos && at >= root.tag_end) {
      std::size_t after = at + close.size();
      if (after < xml.size() && (IsSpace(xml[after]) || xml[after] == '>')) break;
      at = at == 0 ? std::string_view::npos : xml.rfind(close, at - 1);
    }
    if (at == std::string_view::npos || at < root.tag_end)
      return ScanError{xml.size(), "unexpected end of data: no </" + std::string(root.name) + ">"};
    root.range.end = TagEnd(xml, at);
  }
  for (i = root.range.end;;) {
    while (i < xml.size() && IsSpace(xml[i])) ++i;
    if (i >= xml.size()) return std::nullopt;
    std::size_t skipped = SkipMarkup(xml, i);
    if (skipped == i || skipped == std::string_view::npos)
      return ScanError{i, "content after the root element"};
    i = skipped;
  }
}

// The child elements of `parent`, in order.
std::optional<ScanError> ChildElements(std::string_view xml, const Element& parent,
                                       std::vector<Element>& out) {
  out.clear();
  if (parent.empty()) return std::nullopt;
  std::size_t close = xml.rfind("</", parent.range.end - 1);
  for (std::size_t i = parent.tag_end;;) {
    std::size_t lt = xml.find('<', i);
    if (lt >= close) return std::nullopt;
    std::size_t skipped = SkipMarkup(xml, lt);
    if (skipped == std::string_view::npos || skipped > close)
      return ScanError{lt, "unterminated markup"};
    if (skipped != lt) {
      if (xml.compare(lt, 4, "<!--") != 0 && xml.compare(lt, 9, "<![CDATA[") != 0 &&
          xml.compare(lt, 2, "<?") != 0)
        return ScanError{lt, "a declaration inside an element"};
      i = skipped;
      continue;
    }
    if (xml[lt + 1] == '/') return ScanError{lt, "unexpected end tag"};
    Element& e = out.emplace_back();
    if (auto error = ScanElement(xml, lt, close, e)) return error;
    i = e.range.end;
  }
}

std::string_view LocalOf(std::string_view qualified) {
  std::size_t colon = qualified.find(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

const Element* FindChild(std::span<const Element> elements, std::string_view local_name) {
  for (const Element& e : elements)
    if (LocalOf(e.name) == local_name) return &e;
  return nullptr;
}

constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_ws_pcdata_single;

// Parses single elements into a buffer and a document that are reused from one to the next.
class Fragments {
 public:
  // The element of `xml` at `r`, parsed; valid until the next call.
  std::optional<ScanError> Parse(std::string_view xml, Range r, pugi::xml_node& out) {
    buffer_.assign(xml.data() + r.begin, r.end - r.begin);
    begin_ = r.begin;
    pugi::xml_parse_result parsed =
        doc_.load_buffer_inplace(buffer_.data(), buffer_.size(), kParseFlags, pugi::encoding_utf8);
    if (!parsed)
      return ScanError{r.begin + static_cast<std::size_t>(parsed.offset), parsed.description()};
    out = doc_.document_element();
    return std::nullopt;
  }
  // The offset in the part of a name or value of the element last parsed.
  std::size_t OffsetOf(const char* p) const {
    if (p >= buffer_.data() && p < buffer_.data() + buffer_.size())
      return begin_ + static_cast<std::size_t>(p - buffer_.data());
    return begin_;
  }

 private:
  std::string buffer_;
  pugi::xml_document doc_;
  std::size_t begin_ = 0;
};

// A part's bytes as UTF-8: unchanged when they are, else converted by pugixml (a part declared
// or encoded otherwise, as UTF-16); offsets in errors are then left out.
struct Utf8Text {
  std::string converted;
  std::string_view xml;
  bool was_converted = false;
};

bool NeedsConversion(std::string_view b) {
  if (b.size() >= 2 && ((b[0] == '\xFF' && b[1] == '\xFE') || (b[0] == '\xFE' && b[1] == '\xFF')))
    return true;
  if (b.size() >= 2 && (b[0] == '\0' || b[1] == '\0')) return true;
  if (!b.starts_with("<?xml")) return false;
  std::string_view decl = b.substr(0, b.find("?>"));
  std::size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return false;
  std::size_t quote = decl.find_first_of("\"'", at);
  if (quote == std::string_view::npos) return false;
  std::string_view name = decl.substr(quote + 1, decl.find(decl[quote], quote + 1) - quote - 1);
  std::string lower(name);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower != "utf-8" && lower != "utf8";
}

std::optional<ScanError> AsUtf8(std::string_view bytes, Utf8Text& out) {
  out.xml = bytes;
  if (!NeedsConversion(bytes)) return std::nullopt;
  out.was_converted = true;  // no offsets from here on: they would not be the file's
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(bytes.data(), bytes.size(), kParseFlags);
  if (!parsed) return ScanError{0, parsed.description()};
  struct Sink : pugi::xml_writer {
    std::string* out;
    void write(const void* data, std::size_t size) override {
      out->append(static_cast<const char*>(data), size);
    }
  } sink;
  sink.out = &out.converted;
  doc.save(sink, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  out.xml = out.converted;
  return std::nullopt;
}

// Calls fn(name, value_begin, value_end) for each attribute of the start tag at xml[lt]
// (positions in `xml`, the value as written between its quotes).
template <class Fn>
void ForEachAttribute(std::string_view xml, std::size_t lt, Fn fn) {
  std::size_t tag_end = TagEnd(xml, lt);
  if (tag_end == std::string_view::npos) return;
  std::size_t end = xml[tag_end - 2] == '/' ? tag_end - 2 : tag_end - 1;
  std::size_t i = lt + 1;
  while (i < end && !IsSpace(xml[i])) ++i;
  while (i < end) {
    while (i < end && IsSpace(xml[i])) ++i;
    std::size_t name_begin = i;
    while (i < end && xml[i] != '=' && !IsSpace(xml[i])) ++i;
    std::string_view name = xml.substr(name_begin, i - name_begin);
    while (i < end && xml[i] != '"' && xml[i] != '\'') ++i;
    if (i >= end) return;
    char quote = xml[i];
    std::size_t value_begin = ++i;
    while (i < end && xml[i] != quote) ++i;
    fn(name, value_begin, i);
    ++i;
  }
}

// ---- Namespaces of raw elements -----------------------------------------------------------

struct Binding {
  std::string_view prefix, uri;
};

// Declarations in scope around raw elements; a later entry shadows an earlier one.
using Bindings = std::vector<std::pair<std::string, std::string>>;

std::string_view Prefix(std::string_view qualified) {
  std::size_t colon = qualified.find(':');
  return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
}

// Adds the declarations of `e`'s start tag (checked by parsing the tag alone).
std::optional<ScanError> AddBindings(std::string_view xml, const Element& e, Fragments& fragments,
                                     Bindings& out) {
  std::string tag(xml.substr(e.range.begin, e.tag_end - e.range.begin));
  if (!tag.ends_with("/>")) tag.insert(tag.size() - 1, "/");
  pugi::xml_node node;
  if (auto error = fragments.Parse(tag, {0, tag.size()}, node))
    return ScanError{e.range.begin + error->offset, error->message};
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    std::string_view name = a.name();
    if (name == "xmlns")
      out.emplace_back("", a.value());
    else if (name.starts_with("xmlns:"))
      out.emplace_back(name.substr(6), a.value());
  }
  return std::nullopt;
}

std::string_view Lookup(const Bindings& bindings, std::string_view prefix) {
  for (auto it = bindings.rbegin(); it != bindings.rend(); ++it)
    if (it->first == prefix) return it->second;
  return {};
}

bool DeclaredAt(const pugi::xml_node& node, std::string_view prefix) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    std::string_view n = a.name();
    if (prefix.empty()
            ? n == "xmlns"
            : n.size() == prefix.size() + 6 && n.starts_with("xmlns:") && n.substr(6) == prefix)
      return true;
  }
  return false;
}

// Decides whether a raw element (a note, a shape) can be copied into a part whose root binds
// `allowed`: every prefix it uses must be declared inside it, or bound outside it (`outer`)
// as `allowed` says.
class PortabilityCheck {
 public:
  PortabilityCheck(std::span<const Binding> allowed, const Bindings& outer)
      : allowed_(allowed), outer_(outer) {}

  bool Portable(const pugi::xml_node& top) {
    // One walk collects the prefixes; only an element that declares namespaces itself needs
    // each name resolved where it stands.
    prefixes_.clear();
    bool declares = false;
    auto note = [&](std::string_view p) {
      if (std::find(prefixes_.begin(), prefixes_.end(), p) == prefixes_.end())
        prefixes_.push_back(p);
    };
    for (pugi::xml_node n = top; n;) {
      if (n.type() == pugi::node_element) {
        note(Prefix(n.name()));
        for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
          std::string_view name = a.name();
          if (name.starts_with("xmlns")) {
            declares = true;
            continue;
          }
          std::string_view p = Prefix(name);
          if (!p.empty() && p != "xml") note(p);
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
    if (declares) return PortableWhereDeclared(top);
    for (std::string_view p : prefixes_)
      if (!Known(p)) return false;
    return true;
  }

 private:
  bool PortableWhereDeclared(const pugi::xml_node& top) {
    for (pugi::xml_node n = top; n;) {
      if (n.type() == pugi::node_element) {
        if (!Resolves(n, top, Prefix(n.name()))) return false;
        for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
          std::string_view p = Prefix(a.name());
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

  // Whether the binding of `prefix` outside the raw element is the one the written part has.
  bool Known(std::string_view prefix) {
    for (const auto& [p, ok] : known_)
      if (p == prefix) return ok;
    std::string_view uri = Lookup(outer_, prefix);
    bool ok = false;
    for (const Binding& b : allowed_) ok = ok || (b.prefix == prefix && b.uri == uri);
    known_.emplace_back(std::string(prefix), ok);
    return ok;
  }

  bool Resolves(const pugi::xml_node& at, const pugi::xml_node& top, std::string_view prefix) {
    for (pugi::xml_node p = at;; p = p.parent()) {
      if (DeclaredAt(p, prefix)) return true;  // travels with the raw bytes
      if (p == top) break;
    }
    return Known(prefix);
  }

  std::span<const Binding> allowed_;
  const Bindings& outer_;
  std::vector<std::pair<std::string, bool>> known_;
  std::vector<std::string_view> prefixes_;
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
  Reader(const Package& pkg, std::string_view workbook_part, const SheetInfo& sheet)
      : pkg_(pkg), workbook_part_(workbook_part), sheet_(sheet) {}

  CommentsResult Run(NoteShapes shapes) {
    if (!Locate() || !ReadNotes() || (shapes == NoteShapes::kRead && !ReadVml()) || !ReadThreads())
      out_.comments.clear();
    return std::move(out_);
  }
  // A sheet ReadComments cannot read.
  CommentsResult Refuse(std::string_view part, std::string message) {
    Fail(part, std::move(message));
    return std::move(out_);
  }

 private:
  bool Fail(std::string_view part, std::string message,
            std::optional<std::uint64_t> offset = std::nullopt) {
    out_.error = pkg_.MakeError(part, std::move(message), offset);
    return false;
  }

  // The part a relationship names, or an error when it is missing.
  const Part* Target(const Relationship& rel, std::string_view source, std::string_view what) {
    const Part* part = rel.mode == TargetMode::kInternal ? pkg_.FindPart(rel.target) : nullptr;
    if (part == nullptr)
      Fail(rel.mode == TargetMode::kInternal ? rel.target : RelsPartName(source),
           "the " + std::string(what) + " part named by relationship " + rel.id + " of " +
               std::string(source) + " is missing");
    return part;
  }

  // The part as UTF-8 and its root element; false (with the error set) when malformed.
  bool Open(const Part& part, Utf8Text& text, Element& root) {
    current_ = &part;
    current_text_ = &text;
    if (auto e = AsUtf8(part.bytes, text)) return Malformed(*e);
    if (auto e = RootElement(text.xml, root)) return Malformed(*e);
    return true;
  }
  bool Malformed(const ScanError& e) { return FailAt("malformed XML: " + e.message, e.offset); }
  // An error at `offset` of the part being read (no offset in a converted part).
  bool FailAt(std::string message, std::size_t offset) {
    std::optional<std::uint64_t> at;
    if (!current_text_->was_converted) at = offset;
    return Fail(current_->name, std::move(message), at);
  }

  bool Locate() {
    sheet_part_ = sheet_.part;
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
        return Fail(sheet_part_, "the part of sheet '" + sheet_.name + "' is missing");
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
    const Part* part = Target(*comments_rel_, sheet_part_, "comments");
    if (part == nullptr) return false;
    Utf8Text text;
    Element root;
    if (!Open(*part, text, root)) return false;
    std::string_view xml = text.xml;
    if (LocalOf(root.name) != kComments)
      return FailAt("root element <comments> expected, found <" + std::string(root.name) + ">",
                    root.range.begin + 1);
    Fragments fragments;
    Bindings outer;
    std::vector<Element> children;
    if (auto e = AddBindings(xml, root, fragments, outer)) return Malformed(*e);
    if (auto e = ChildElements(xml, root, children)) return Malformed(*e);

    std::vector<std::string> authors;
    for (const Element& child : children) {
      if (LocalOf(child.name) == kCommentList) continue;
      pugi::xml_node node;
      if (auto e = fragments.Parse(xml, child.range, node)) return Malformed(*e);
      if (LocalOf(child.name) != kAuthors) continue;
      for (pugi::xml_node a = node.first_child(); a; a = a.next_sibling())
        if (a.type() == pugi::node_element) authors.emplace_back(a.child_value());
    }
    std::vector<CellComment> notes;
    std::vector<std::size_t> offsets;
    if (const Element* list = FindChild(children, kCommentList)) {
      std::vector<Element> elements;
      if (auto e = AddBindings(xml, *list, fragments, outer)) return Malformed(*e);
      if (auto e = ChildElements(xml, *list, elements)) return Malformed(*e);
      PortabilityCheck portable(kCommentsBindings, outer);
      notes.reserve(elements.size());
      for (const Element& element : elements) {
        pugi::xml_node n;
        if (auto e = fragments.Parse(xml, element.range, n)) return Malformed(*e);
        if (LocalName(n) != kComment) continue;
        CellComment note;
        pugi::xml_attribute ref = n.attribute("ref");
        if (!ParseCellRef(ref.value(), note.row, note.col))
          return FailAt(std::string("bad cell reference '") + ref.value() + "' in a note",
                        fragments.OffsetOf(ref ? ref.value() : n.name()));
        pugi::xml_attribute author = n.attribute("authorId");
        std::uint32_t author_id = 0;
        if (!ParseUint(author.value(), author_id) || author_id >= authors.size())
          return FailAt(std::string("authorId '") + author.value() + "' of the note in " +
                            ref.value() + " is not in the authors table (" +
                            std::to_string(authors.size()) + " authors)",
                        fragments.OffsetOf(author ? author.value() : n.name()));
        note.author = authors[author_id];
        note.text = PlainText(Child(n, kText));
        if (portable.Portable(n))
          note.raw_note = xml.substr(element.range.begin, element.range.end - element.range.begin);
        offsets.push_back(element.range.begin + 1);
        notes.push_back(std::move(note));
      }
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
        return FailAt("two notes on cell " + FormatCellRef(dup.row, dup.col),
                      offsets[index_[i].file_order]);
      }
      out_.comments.push_back(std::move(notes[index_[i].file_order]));
    }
    return true;
  }

  // The sorted position of the note on a cell (1-based), or npos.
  std::size_t FindNote(std::uint32_t row, std::uint32_t col) const {
    std::uint64_t key = CellKey(row, col);
    auto it = std::lower_bound(index_.begin(), index_.end(), key,
                               [](const NoteIndex& n, std::uint64_t k) { return n.key < k; });
    if (it == index_.end() || it->key != key) return std::string::npos;
    return static_cast<std::size_t>(it - index_.begin());
  }

  bool ReadVml() {
    if (vml_rel_ == nullptr) return true;
    const Part* part = Target(*vml_rel_, sheet_part_, "VML drawing");
    if (part == nullptr) return false;
    if (out_.comments.empty()) return true;
    Utf8Text text;
    Element root;
    if (!Open(*part, text, root)) return false;
    std::string_view xml = text.xml;
    Fragments fragments;
    Bindings outer;
    std::vector<Element> children;
    if (auto e = AddBindings(xml, root, fragments, outer)) return Malformed(*e);
    if (auto e = ChildElements(xml, root, children)) return Malformed(*e);
    PortabilityCheck portable(kVmlBindings, outer);
    std::vector<bool> matched(out_.comments.size(), false);
    struct Unplaced {
      Range range;
      bool portable;
    };
    std::vector<Unplaced> unplaced;  // notes without x:Row/x:Column (some writers)
    auto take = [&](std::size_t i, Range r, bool raw) {
      matched[i] = true;
      if (raw) out_.comments[i].raw_shape = xml.substr(r.begin, r.end - r.begin);
    };
    for (const Element& child : children) {
      pugi::xml_node s;
      if (auto e = fragments.Parse(xml, child.range, s)) return Malformed(*e);
      if (!IsNoteShape(s)) continue;
      pugi::xml_node data = Child(s, kClientData);
      std::uint32_t row0 = 0, col0 = 0;
      if (!ParseUint(Child(data, "Row").child_value(), row0) ||
          !ParseUint(Child(data, "Column").child_value(), col0)) {
        unplaced.push_back({child.range, portable.Portable(s)});
        continue;
      }
      if (row0 >= kMaxRow || col0 >= kMaxColumn) continue;
      std::size_t i = FindNote(row0 + 1, col0 + 1);
      if (i != std::string::npos && !matched[i]) take(i, child.range, portable.Portable(s));
    }
    if (!unplaced.empty()) {
      // Writers that leave out the cell write the shapes in the order of their notes.
      std::vector<std::size_t> by_file(index_.size());
      for (std::size_t i = 0; i < index_.size(); ++i) by_file[index_[i].file_order] = i;
      std::size_t next = 0;
      for (const Unplaced& u : unplaced) {
        while (next < by_file.size() && matched[by_file[next]]) ++next;
        if (next == by_file.size()) break;
        take(by_file[next], u.range, u.portable);
      }
    }
    return true;
  }

  // displayName by person id, from the workbook's persons part.
  bool ReadPeople(std::unordered_map<std::string, std::string>& people) {
    const Relationship* rel = pkg_.FindRelationshipByType(workbook_part_, kPersonRel);
    if (rel == nullptr) return true;
    const Part* part = Target(*rel, workbook_part_, "persons");
    if (part == nullptr) return false;
    Utf8Text text;
    Element root;
    if (!Open(*part, text, root)) return false;
    Fragments fragments;
    std::vector<Element> children;
    if (auto e = ChildElements(text.xml, root, children)) return Malformed(*e);
    for (const Element& child : children) {
      pugi::xml_node p;
      if (auto e = fragments.Parse(text.xml, child.range, p)) return Malformed(*e);
      if (LocalName(p) == kPerson)
        people.emplace(p.attribute("id").value(), p.attribute("displayName").value());
    }
    return true;
  }

  bool ReadThreads() {
    if (threaded_rel_ == nullptr) return true;
    std::unordered_map<std::string, std::string> people;
    if (!ReadPeople(people)) return false;
    const Part* part = Target(*threaded_rel_, sheet_part_, "threaded comments");
    if (part == nullptr) return false;
    Utf8Text text;
    Element root;
    if (!Open(*part, text, root)) return false;
    Fragments fragments;
    std::vector<Element> children;
    if (auto e = ChildElements(text.xml, root, children)) return Malformed(*e);

    std::vector<CellComment> unmatched;  // threads without their legacy note
    std::vector<bool> seen(out_.comments.size(), false);
    for (const Element& child : children) {
      pugi::xml_node t;
      if (auto e = fragments.Parse(text.xml, child.range, t)) return Malformed(*e);
      if (LocalName(t) != kThreadedComment || t.attribute("parentId")) continue;
      pugi::xml_attribute ref = t.attribute("ref");
      std::uint32_t row = 0, col = 0;
      if (!ParseCellRef(ref.value(), row, col))
        return FailAt(std::string("bad cell reference '") + ref.value() + "' in a threaded comment",
                      fragments.OffsetOf(ref ? ref.value() : t.name()));
      std::size_t i = FindNote(row, col);
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
      c->author = person != people.end() ? person->second : std::string();
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

  const Package& pkg_;
  std::string_view workbook_part_;
  const SheetInfo& sheet_;
  std::string sheet_part_;
  const Relationship* comments_rel_ = nullptr;
  const Relationship* vml_rel_ = nullptr;
  const Relationship* threaded_rel_ = nullptr;
  std::vector<NoteIndex> index_;   // sorted like out_.comments (the notes of the comments part)
  const Part* current_ = nullptr;  // the part being read, for errors
  const Utf8Text* current_text_ = nullptr;  // and its text
  CommentsResult out_;
};

// ---- Writing --------------------------------------------------------------------------------

// Positions of `comments` sorted by cell; of two on one cell the later wins; a comment outside
// the grid has no cell to carry it and is left out.
std::vector<std::size_t> SortedUnique(std::span<const CellComment> comments) {
  std::vector<std::pair<std::uint64_t, std::size_t>> keyed;
  keyed.reserve(comments.size());
  for (std::size_t i = 0; i < comments.size(); ++i) {
    const CellComment& c = comments[i];
    if (c.row >= 1 && c.row <= kMaxRow && c.col >= 1 && c.col <= kMaxColumn)
      keyed.emplace_back(CellKey(c.row, c.col), i);
  }
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

// Copies `raw` (an element) with the values of the named attributes of its start tag replaced,
// adding those it lacks.
void AppendWithAttributes(std::string& out, std::string_view raw,
                          std::span<const std::pair<std::string_view, std::string_view>> set) {
  std::size_t tag_end = TagEnd(raw, 0);
  if (tag_end == std::string_view::npos) {
    out += raw;
    return;
  }
  std::vector<bool> done(set.size(), false);
  std::size_t copied = 0;
  ForEachAttribute(raw, 0, [&](std::string_view name, std::size_t begin, std::size_t end) {
    for (std::size_t k = 0; k < set.size(); ++k) {
      if (done[k] || name != set[k].first) continue;
      done[k] = true;
      out.append(raw, copied, begin - copied);
      out += set[k].second;
      copied = end;
    }
  });
  std::size_t attrs_end = raw[tag_end - 2] == '/' ? tag_end - 2 : tag_end - 1;
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

CommentsResult ReadComments(const Workbook& book, std::size_t sheet_index, NoteShapes shapes) {
  const auto sheets = book.sheets();
  if (sheet_index >= sheets.size()) {
    static const SheetInfo none;
    return Reader(book.package(), book.workbook_part(), none)
        .Refuse(book.workbook_part(), "no sheet " + std::to_string(sheet_index) +
                                          " (the workbook has " + std::to_string(sheets.size()) +
                                          ")");
  }
  const SheetInfo& info = sheets[sheet_index];
  if (info.kind != SheetKind::kWorksheet)
    return Reader(book.package(), book.workbook_part(), info)
        .Refuse(info.part.empty() ? book.workbook_part() : info.part,
                "sheet '" + info.name + "' is not a worksheet");
  return Reader(book.package(), book.workbook_part(), info).Run(shapes);
}

CommentsResult ReadComments(const Package& pkg, std::string_view workbook_part,
                            const SheetInfo& sheet, NoteShapes shapes) {
  return Reader(pkg, workbook_part, sheet).Run(shapes);
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

WriteResult Malformed(const ScanError& e, bool converted) {
  Error error;
  if (!converted) error.offset = e.offset;
  error.message = "malformed XML: " + e.message;
  return {{}, std::move(error)};
}

// The blocks an o:idmap data value lists ("1,2" or "1 2").
void ParseBlocks(std::string_view list, std::vector<std::uint32_t>& out) {
  for (std::size_t at = 0; at < list.size();) {
    std::size_t sep = list.find_first_of(", ", at);
    std::uint32_t block = 0;
    if (ParseUint(list.substr(at, sep - at), block)) out.push_back(block);
    if (sep == std::string_view::npos) break;
    at = sep + 1;
  }
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
    std::uint64_t key;  // 0: names no cell, never kept in place
    Range range;
    bool kept;  // an unchanged note stays where it is
  };
  std::vector<OldNote> old_notes;
  std::optional<Range> idmap_value;           // the data attribute's value in `existing`
  std::size_t layout_at = std::string::npos;  // where a missing shapelayout goes
  bool has_note_type = false;
  bool declare = false;    // the root does not bind v, o, x: every note declares them itself
  std::string root_close;  // for a root that was an empty element
  Utf8Text text;
  std::string_view xml;

  if (!existing.empty()) {
    if (auto e = AsUtf8(existing, text)) return Malformed(*e, true);
    xml = text.xml;
    Element root;
    Fragments fragments;
    Bindings outer;
    std::vector<Element> children, grandchildren;
    if (auto e = RootElement(xml, root)) return Malformed(*e, text.was_converted);
    if (auto e = AddBindings(xml, root, fragments, outer)) return Malformed(*e, text.was_converted);
    if (auto e = ChildElements(xml, root, children)) return Malformed(*e, text.was_converted);
    if (root.empty()) {
      // <xml .../>: reopened so that it can hold the notes.
      edits.push_back({root.tag_end - 2, 2, ">"});
      notes_at = root.tag_end;
      root_close = "</" + std::string(root.name) + ">";
    } else {
      notes_at = xml.rfind("</", root.range.end - 1);
    }
    layout_at = root.tag_end;
    declare = Lookup(outer, "v") != kVmlNs || Lookup(outer, "o") != kOfficeNs ||
              Lookup(outer, "x") != kExcelNs;

    for (const Element& child : children) {
      pugi::xml_node n;
      if (auto e = fragments.Parse(xml, child.range, n)) return Malformed(*e, text.was_converted);
      if (IsNoteShape(n)) {
        pugi::xml_node data = Child(n, kClientData);
        std::uint32_t row0 = 0, col0 = 0;
        std::uint64_t key = 0;
        if (ParseUint(Child(data, "Row").child_value(), row0) &&
            ParseUint(Child(data, "Column").child_value(), col0) && row0 < kMaxRow &&
            col0 < kMaxColumn)
          key = CellKey(row0 + 1, col0 + 1);
        old_notes.push_back({key, child.range, false});
        notes_at = child.range.end;
        continue;
      }
      std::string_view name = LocalName(n);
      if (name == kShapeLayout) {
        layout_at = std::string::npos;
        if (auto e = ChildElements(xml, child, grandchildren))
          return Malformed(*e, text.was_converted);
        if (const Element* map = FindChild(grandchildren, kIdMap)) {
          ForEachAttribute(xml, map->range.begin,
                           [&](std::string_view attr, std::size_t begin, std::size_t end) {
                             if (attr == "data") idmap_value = Range{begin, end};
                           });
          ParseBlocks(Child(n, kIdMap).attribute("data").value(), listed);
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
      if (xml.substr(old.range.begin, old.range.end - old.range.begin) != c.raw_shape) continue;
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
  return {ApplyEdits(xml, edits), std::nullopt};
}

WriteResult UpdateThreadedComments(std::string_view existing,
                                   std::span<const CellComment> comments) {
  Utf8Text text;
  if (auto e = AsUtf8(existing, text)) return Malformed(*e, true);
  std::string_view xml = text.xml;
  Element root;
  std::vector<Element> children, parts;
  if (auto e = RootElement(xml, root)) return Malformed(*e, text.was_converted);
  if (auto e = ChildElements(xml, root, children)) return Malformed(*e, text.was_converted);
  // Cells with a thread, and the new text of the changed ones.
  std::unordered_map<std::uint64_t, const CellComment*> threads;
  for (const CellComment& c : comments)
    if (c.threaded) threads[CellKey(c.row, c.col)] = &c;

  std::vector<Edit> edits;
  std::unordered_set<std::string> removed;  // ids of removed threads
  std::unordered_set<std::uint64_t> done;
  std::vector<std::pair<Range, std::string>> replies;  // range, parentId
  Fragments fragments;
  for (const Element& child : children) {
    pugi::xml_node t;
    if (auto e = fragments.Parse(xml, child.range, t)) return Malformed(*e, text.was_converted);
    if (LocalName(t) != kThreadedComment) continue;
    if (pugi::xml_attribute parent = t.attribute("parentId")) {
      replies.emplace_back(child.range, parent.value());
      continue;
    }
    std::uint32_t row = 0, col = 0;
    if (!ParseCellRef(t.attribute("ref").value(), row, col)) continue;
    std::uint64_t key = CellKey(row, col);
    auto it = threads.find(key);
    bool first = done.insert(key).second;
    if (it == threads.end()) {
      edits.push_back({child.range.begin, child.range.end - child.range.begin, ""});
      removed.insert(t.attribute("id").value());
      continue;
    }
    if (!first || !it->second->raw_note.empty()) continue;
    if (auto e = ChildElements(xml, child, parts)) return Malformed(*e, text.was_converted);
    const Element* old_text = FindChild(parts, kText);
    std::string name = old_text ? std::string(old_text->name) : std::string(kText);
    std::string replacement = "<" + name + ">";
    AppendEscaped(replacement, it->second->text);
    replacement += "</" + name + ">";
    if (old_text) {
      edits.push_back({old_text->range.begin, old_text->range.end - old_text->range.begin,
                       std::move(replacement)});
    } else if (child.empty()) {
      edits.push_back(
          {child.tag_end - 2, 2, ">" + replacement + "</" + std::string(child.name) + ">"});
    } else {
      edits.push_back({child.tag_end, 0, std::move(replacement)});
    }
    // Mentions point into the old text by offset.
    if (const Element* mentions = FindChild(parts, kMentions))
      edits.push_back({mentions->range.begin, mentions->range.end - mentions->range.begin, ""});
  }
  // Replies go with their thread.
  for (const auto& [range, parent] : replies)
    if (removed.contains(parent)) edits.push_back({range.begin, range.end - range.begin, ""});
  return {ApplyEdits(xml, edits), std::nullopt};
}

}  // namespace sheetwise::xlsx

namespace sheetwise::xlsx {

// Cell texts use the same escapes as comments.
std::string DecodeCellEscapes(std::string text) {
  return DecodeEscapes(std::move(text));
}
void AppendXmlEscaped(std::string& out, std::string_view text) {
  AppendEscaped(out, text);
}

}  // namespace sheetwise::xlsx
