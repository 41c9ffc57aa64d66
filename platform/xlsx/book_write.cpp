// Writing a Book: only what changed is generated; everything else is copied from the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

#include "platform/xlsx/book.h"
#include "platform/xlsx/book_internal.h"
#include "platform/xlsx/xml_internal.h"
#include "platform/xlsx/zip_write.h"

namespace sheetwise::xlsx {
namespace {

constexpr std::string_view kRelNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kRelTypeBase =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kXmlDecl =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

constexpr std::string_view kTypeWorksheet =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
constexpr std::string_view kTypeSharedStrings =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
constexpr std::string_view kTypeStyles =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
constexpr std::string_view kTypeComments =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml";
constexpr std::string_view kTypeVml = "application/vnd.openxmlformats-officedocument.vmlDrawing";
constexpr std::string_view kTypeRels = "application/vnd.openxmlformats-package.relationships+xml";

void AppendNumber(std::string& out, double v) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, ec == std::errc() ? end : buf);
}

void AppendUint(std::string& out, std::uint64_t v) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, end);
  (void)ec;
}

bool NeedsPreserve(std::string_view text) {
  if (text.empty()) return false;
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  return space(text.front()) || space(text.back());
}

// A start tag with attribute `name` set to `value` (added before the tag's end when missing).
std::string SetAttr(std::string_view tag, std::string_view name, std::string_view value) {
  std::string escaped;
  AppendXmlEscaped(escaped, value);
  for (std::size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
    const bool starts = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' ||
                                   tag[at - 1] == '\n' || tag[at - 1] == '\r');
    std::size_t eq = at + name.size();
    while (eq < tag.size() && tag[eq] == ' ') ++eq;
    if (!starts || eq >= tag.size() || tag[eq] != '=') continue;
    std::size_t q = eq + 1;
    while (q < tag.size() && tag[q] == ' ') ++q;
    if (q >= tag.size() || (tag[q] != '"' && tag[q] != '\'')) continue;
    const std::size_t close = tag.find(tag[q], q + 1);
    if (close == std::string_view::npos) break;
    return std::string(tag.substr(0, q + 1)) + escaped + std::string(tag.substr(close));
  }
  std::size_t end = tag.size() - 1;  // at '>'
  if (end > 0 && tag[end - 1] == '/') --end;
  return std::string(tag.substr(0, end)) + " " + std::string(name) + "=\"" + escaped + "\"" +
         std::string(tag.substr(end));
}

std::string RemoveAttr(std::string_view tag, std::string_view name) {
  for (std::size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
    if (at == 0 ||
        (tag[at - 1] != ' ' && tag[at - 1] != '\t' && tag[at - 1] != '\n' && tag[at - 1] != '\r'))
      continue;
    std::size_t eq = at + name.size();
    if (eq >= tag.size() || tag[eq] != '=') continue;
    const char quote = tag[eq + 1];
    if (quote != '"' && quote != '\'') continue;
    const std::size_t close = tag.find(quote, eq + 2);
    if (close == std::string_view::npos) break;
    return std::string(tag.substr(0, at - 1)) + std::string(tag.substr(close + 1));
  }
  return std::string(tag);
}

// The position of the start tag of top-level element `qname` ("x:cols"): "<qname" followed by
// a blank, '>' or '/'.
std::size_t FindElement(std::string_view xml, std::string_view qname, std::size_t from = 0) {
  const std::string open = "<" + std::string(qname);
  for (std::size_t at = xml.find(open, from); at != std::string_view::npos;
       at = xml.find(open, at + 1)) {
    const std::size_t next = at + open.size();
    if (next < xml.size() && (xml[next] == ' ' || xml[next] == '>' || xml[next] == '/' ||
                              xml[next] == '\t' || xml[next] == '\r' || xml[next] == '\n'))
      return at;
  }
  return std::string_view::npos;
}

std::string CellRef(std::uint32_t row, std::uint32_t col) {
  return FormatCellRef(row, col);
}

struct SheetPlan {
  std::string legacy_rel_id;         // the sheet must carry <legacyDrawing r:id=...>
  std::optional<bool> tab_selected;  // the sheet's view must (not) be selected
};

// A cell set since the part was read, without a formula and with no text outside the shared
// table (a number, a shared text, a logical, or nothing but a style), in a part without a
// namespace prefix: most cells of a new sheet. They need nothing of the book to be written.
bool IsPlainCell(const Sheet::Data& data, std::uint32_t row, const StoredCell& c) {
  return c.raw_len == 0 && c.formula == kNone && c.shared_index == kNone && data.prefix.empty() &&
         row >= 1 && row <= kMaxRow && c.col >= 1 && c.col <= kMaxColumn &&
         (c.kind == ValueKind::kNumber || c.kind == ValueKind::kBool ||
          c.kind == ValueKind::kEmpty || (c.kind == ValueKind::kText && !(c.text & kOtherString)));
}

// A plain cell in one piece, as this runs for every cell: the same bytes as WriteCell's general
// path.
void WritePlainCell(std::uint32_t row, const StoredCell& c, std::string& out) {
  char buf[96];
  char* at = buf;
  auto put = [&at](std::string_view s) {
    std::memcpy(at, s.data(), s.size());
    at += s.size();
  };
  auto put_uint = [&at](std::uint64_t v) { at = std::to_chars(at, at + 24, v).ptr; };
  put("<c r=\"");
  at = PutColumnLetters(c.col, at);
  put_uint(row);
  *at++ = '"';
  if (c.has_style && c.style != 0) {
    put(" s=\"");
    put_uint(c.style);
    *at++ = '"';
  }
  switch (c.kind) {
    case ValueKind::kText:
      put(" t=\"s\"><v>");
      put_uint(c.text);
      break;
    case ValueKind::kBool:
      put(" t=\"b\"><v>");
      *at++ = c.number != 0 ? '1' : '0';
      break;
    case ValueKind::kNumber: {
      put("><v>");
      const auto [end, ec] = std::to_chars(at, at + 32, c.number);
      if (ec == std::errc()) at = end;
      break;
    }
    default:
      put("/>");
      out.append(buf, static_cast<std::size_t>(at - buf));
      return;
  }
  put("</v></c>");
  out.append(buf, static_cast<std::size_t>(at - buf));
}

// One cell of a changed sheet.
void WriteCell(BookImpl* impl, const Sheet::Data& data, std::uint32_t row, const StoredCell& c,
               std::string& out) {
  if (IsPlainCell(data, row, c)) {
    WritePlainCell(row, c, out);
    return;
  }
  const std::string_view raw =
      c.raw_len ? std::string_view(*data.bytes).substr(c.raw_begin, c.raw_len) : std::string_view();
  if (!raw.empty()) {
    if (!c.restyled) {
      out += raw;
      return;
    }
    const std::size_t tag_end = StartTagEnd(raw, 0);
    std::string tag(raw.substr(0, tag_end));
    std::string s;
    AppendUint(s, c.style);
    out += SetAttr(tag, "s", s);
    out += raw.substr(tag_end);
    return;
  }
  const std::string& p = data.prefix;
  out += '<';
  out += p;
  out += "c r=\"";
  out += CellRef(row, c.col);
  out += '"';
  if (c.has_style && c.style != 0) {
    out += " s=\"";
    AppendUint(out, c.style);
    out += '"';
  }
  std::string formula;
  if (c.formula != kNone) formula = data.formulas[c.formula];
  const bool follower = c.shared_index != kNone && !c.shared_master && c.formula == kNone;
  std::string_view text = impl->Text(c.text);
  switch (c.kind) {
    case ValueKind::kText:
      out += formula.empty() && !follower ? " t=\"s\"" : " t=\"str\"";
      break;
    case ValueKind::kBool:
      out += " t=\"b\"";
      break;
    case ValueKind::kError:
      out += " t=\"e\"";
      break;
    default:
      break;
  }
  if (c.kind == ValueKind::kEmpty && formula.empty() && !follower) {
    out += "/>";
    return;
  }
  out += '>';
  if (follower) {
    out += '<';
    out += p;
    out += "f t=\"shared\" si=\"";
    AppendUint(out, c.shared_index);
    out += "\"/>";
  } else if (!formula.empty()) {
    out += '<';
    out += p;
    out += "f>";
    AppendXmlEscaped(out, formula);
    out += "</";
    out += p;
    out += "f>";
  }
  if (c.kind != ValueKind::kEmpty) {
    out += '<';
    out += p;
    out += "v>";
    switch (c.kind) {
      case ValueKind::kNumber:
        AppendNumber(out, c.number);
        break;
      case ValueKind::kBool:
        out += c.number != 0 ? '1' : '0';
        break;
      case ValueKind::kText:
        if (formula.empty() && !follower) {
          std::uint32_t index = c.text;
          if (index & kOtherString) index = impl->AddShared(text);
          AppendUint(out, index);
        } else {
          AppendXmlEscaped(out, text);
        }
        break;
      case ValueKind::kError:
        AppendXmlEscaped(out, text);
        break;
      default:
        break;
    }
    out += "</";
    out += p;
    out += "v>";
  }
  out += "</";
  out += p;
  out += "c>";
}

// `impl` may be null when every cell is plain (IsPlainCell).
void WriteSheetData(BookImpl* impl, const Sheet::Data& data, std::string& out) {
  const std::string& p = data.prefix;
  out += '<';
  out += p;
  out += "sheetData>";
  data.rows.ForEach([&](std::uint32_t r, const Row& row) {
    std::string_view raw_tag =
        row.raw_len ? std::string_view(*data.bytes).substr(row.raw_begin, row.raw_len)
                    : std::string_view();
    std::string tag;
    if (!raw_tag.empty() && !row.tag_changed) {
      tag = raw_tag;
    } else if (!raw_tag.empty()) {
      std::string n;
      AppendUint(n, r);
      tag = SetAttr(raw_tag, "r", n);
      tag = RemoveAttr(tag, "spans");  // cells may now lie outside it
      if (row.style != kNone) {
        std::string s;
        AppendUint(s, row.style);
        tag = SetAttr(tag, "s", s);
        tag = SetAttr(tag, "customFormat", "1");
      }
    } else {
      if (row.cells.empty() && row.style == kNone) return;
      tag = "<" + p + "row r=\"" + std::to_string(r) + "\"";
      if (row.style != kNone) tag += " s=\"" + std::to_string(row.style) + "\" customFormat=\"1\"";
      tag += ">";
    }
    const bool self_closing = tag.size() >= 2 && tag[tag.size() - 2] == '/';
    if (row.cells.empty()) {
      if (!self_closing) tag.insert(tag.size() - 1, "/");
      out += tag;
      return;
    }
    if (self_closing) tag.erase(tag.size() - 2, 1);
    out += tag;
    for (const StoredCell& c : row.cells) WriteCell(impl, data, r, c, out);
    out += "</";
    out += p;
    out += "row>";
  });
  out += "</";
  out += p;
  out += "sheetData>";
}

std::string DimensionRef(const Sheet::Data& data) {
  std::uint32_t r0 = 0, r1 = 0, c0 = kMaxColumn + 1, c1 = 0;
  data.rows.ForEach([&](std::uint32_t r, const Row& row) {
    if (row.cells.empty()) return;
    if (r0 == 0) r0 = r;
    r1 = r;
    c0 = std::min(c0, row.cells.front().col);
    c1 = std::max(c1, row.cells.back().col);
  });
  if (r0 == 0) return "A1";
  if (r0 == r1 && c0 == c1) return CellRef(r0, c0);
  return CellRef(r0, c0) + ":" + CellRef(r1, c1);
}

std::string ColsElement(const Sheet::Data& data) {
  if (data.columns.empty()) return {};
  const std::string& p = data.prefix;
  std::string out = "<" + p + "cols>";
  for (const ColumnInfo& c : data.columns) {
    out +=
        "<" + p + "col min=\"" + std::to_string(c.min) + "\" max=\"" + std::to_string(c.max) + "\"";
    if (c.width > 0) {
      out += " width=\"";
      AppendNumber(out, c.width);
      out += "\"";
    }
    if (c.custom_width) out += " customWidth=\"1\"";
    if (c.hidden) out += " hidden=\"1\"";
    out += "/>";
  }
  out += "</" + p + "cols>";
  return out;
}

std::string LegacyDrawingElement(const std::string& p, const std::string& rel_id) {
  return "<" + p + "legacyDrawing xmlns:r=\"" + std::string(kRelNs) + "\" r:id=\"" + rel_id +
         "\"/>";
}

// Elements that follow <legacyDrawing> in a worksheet, in schema order.
constexpr std::string_view kAfterLegacyDrawing[] = {
    "legacyDrawingHF", "drawingHF",       "picture",    "oleObjects",
    "controls",        "webPublishItems", "tableParts", "extLst"};

// `impl` may be null when every cell is plain (IsPlainCell).
std::string WriteSheetPart(BookImpl* impl, const Sheet::Data& data, const SheetPlan& plan) {
  std::string out;
  if (data.bytes == nullptr) {
    std::size_t cells = 0;
    data.rows.ForEach([&cells](std::uint32_t, const Row& r) { cells += r.cells.size(); });
    out.reserve(4096 + cells * 48);
    out += kXmlDecl;
    out += "<worksheet xmlns=\"";
    out += kMainNs;
    out += "\" xmlns:r=\"";
    out += kRelNs;
    out += "\"><dimension ref=\"" + DimensionRef(data) + "\"/><sheetViews><sheetView";
    if (plan.tab_selected.value_or(false)) out += " tabSelected=\"1\"";
    out += " workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
    out += ColsElement(data);
    WriteSheetData(impl, data, out);
    out +=
        "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
        "footer=\"0.3\"/>";
    if (!plan.legacy_rel_id.empty()) out += LegacyDrawingElement("", plan.legacy_rel_id);
    out += "</worksheet>";
    return out;
  }
  const std::string_view orig = *data.bytes;
  const std::string& p = data.prefix;
  const std::size_t sd = data.sheet_data_begin;
  const std::size_t sd_end = data.sheet_data_end;
  std::string head(orig.substr(0, sd));
  std::string tail(orig.substr(sd_end));

  // Elements are looked for after the root's start tag: the prolog may hold anything.
  const std::size_t body = std::min(data.root_end, head.size());
  if (std::size_t dim = FindElement(head, p + "dimension", body); dim != std::string::npos) {
    const std::size_t end = StartTagEnd(head, dim);
    head.replace(dim, end - dim, SetAttr(head.substr(dim, end - dim), "ref", DimensionRef(data)));
  }
  if (plan.tab_selected) {
    if (std::size_t view = FindElement(head, p + "sheetView", body); view != std::string::npos) {
      const std::size_t end = StartTagEnd(head, view);
      std::string_view tag = std::string_view(head).substr(view, end - view);
      head.replace(
          view, end - view,
          *plan.tab_selected ? SetAttr(tag, "tabSelected", "1") : RemoveAttr(tag, "tabSelected"));
    }
  }
  if (data.columns_changed) {
    if (std::size_t cols = FindElement(head, p + "cols", body); cols != std::string::npos) {
      const std::size_t end = ElementEnd(head, cols, p + "cols");
      head.replace(cols, end - cols, ColsElement(data));
    } else {
      head += ColsElement(data);
    }
  }
  if (!plan.legacy_rel_id.empty() && FindElement(tail, p + "legacyDrawing") == std::string::npos) {
    std::size_t at = tail.rfind("</");
    for (std::string_view name : kAfterLegacyDrawing) {
      const std::size_t found = FindElement(tail, p + std::string(name));
      if (found != std::string::npos && found < at) at = found;
    }
    tail.insert(at, LegacyDrawingElement(p, plan.legacy_rel_id));
  }
  std::size_t cells = 0;
  data.rows.ForEach([&cells](std::uint32_t, const Row& r) { cells += r.cells.size(); });
  out.reserve(orig.size() + cells * 48 + 1024);
  out += head;
  if (data.cells_changed) {
    WriteSheetData(impl, data, out);
  } else {
    out += orig.substr(sd, sd_end - sd);
  }
  out += tail;
  return out;
}

// A small XML part edited as a tree (relationships, content types, workbook, styles): these are
// a few kilobytes, and pugixml keeps every attribute and namespace it does not touch.
struct XmlPart {
  pugi::xml_document doc;
  bool Load(std::string_view bytes) {
    return static_cast<bool>(doc.load_buffer(
        bytes.data(), bytes.size(),
        pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single));
  }
  std::string Save() const {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    std::string s = out.str();
    if (!doc.first_child() || doc.first_child().type() != pugi::node_declaration)
      s.insert(0, kXmlDecl);
    return s;
  }
};

std::string UniqueRelId(const pugi::xml_node& rels) {
  std::set<std::string> taken;
  for (pugi::xml_node r : rels.children()) taken.insert(r.attribute("Id").value());
  for (int n = 1;; ++n) {
    std::string id = "rId" + std::to_string(n);
    if (!taken.count(id)) return id;
  }
}

// Deflate level 1: several times faster than level 6 on spreadsheet XML, files about a tenth
// larger (libdeflate, on the sheets and notes of a 10,000-reference export: 72 ms and 879 KB at
// level 6, 30 ms and 1,000 KB at level 1); saving is on the user's path.
constexpr int kDeflateLevel = 1;
// One fixed date for every entry (1980-01-02 UTC, in local time as zip dates are): saving the
// same workbook twice gives the same file.
constexpr std::time_t kEntryTime = 315532800 + 86400;

class PartWriter {
 public:
  explicit PartWriter(const Package& pkg) : pkg_(pkg) {}

  bool Exists(const std::string& name) const {
    return out_.count(name) || zip_.Has(name) || pkg_.FindPart(name) != nullptr;
  }
  std::string UniqueName(const std::string& stem, const std::string& ext) const {
    for (int n = 1;; ++n) {
      std::string name = stem + std::to_string(n) + ext;
      if (!Exists(name) && !reserved_.count(name)) return name;
    }
  }
  void Reserve(const std::string& name) { reserved_.insert(name); }
  void Put(const std::string& name, std::string bytes) { out_[name] = std::move(bytes); }
  /// Puts a part in its final state, never read again: it is deflated while the next is made,
  /// and its bytes freed, so that a big workbook's parts are not all held at once.
  void PutFinal(const std::string& name, std::string bytes) {
    zip_.Add(name, std::move(bytes));
    final_.insert(name);
  }
  /// Puts a part in its final state, deflated already.
  void PutPacked(const std::string& name, Packed packed) {
    zip_.AddPacked(name, std::move(packed));
    final_.insert(name);
  }
  std::string_view Current(const std::string& name) const {
    if (auto it = out_.find(name); it != out_.end()) return it->second;
    if (const Part* p = pkg_.FindPart(name)) return p->bytes;
    return {};
  }

  /// Adds a relationship from `source` to part `target` of `type` (the last path segment of
  /// the type URI); returns its id. An existing relationship of that target is reused.
  std::string AddRelationship(const std::string& source, std::string_view type,
                              const std::string& target) {
    const std::string rels_name = RelsPartName(source);
    XmlPart& rels = Rels(rels_name);
    pugi::xml_node root = rels.doc.document_element();
    for (pugi::xml_node r : root.children()) {
      std::string t = r.attribute("Target").value();
      if (ResolveTarget(source, t) == target) return r.attribute("Id").value();
    }
    const std::string id = UniqueRelId(root);
    pugi::xml_node rel = root.append_child("Relationship");
    rel.append_attribute("Id") = id.c_str();
    rel.append_attribute("Type") = (std::string(kRelTypeBase) + std::string(type)).c_str();
    rel.append_attribute("Target") = ("/" + target).c_str();
    return id;
  }
  void AddContentType(const std::string& part, std::string_view type) {
    pugi::xml_node root = Types().doc.document_element();
    for (pugi::xml_node o : root.children())
      if (std::string_view(o.name()) == "Override" &&
          std::string_view(o.attribute("PartName").value()) == "/" + part)
        return;
    pugi::xml_node o = root.append_child("Override");
    o.append_attribute("PartName") = ("/" + part).c_str();
    o.append_attribute("ContentType") = std::string(type).c_str();
  }
  void AddDefaultType(std::string_view ext, std::string_view type) {
    pugi::xml_node root = Types().doc.document_element();
    for (pugi::xml_node d : root.children())
      if (std::string_view(d.name()) == "Default") {
        std::string e = d.attribute("Extension").value();
        std::transform(e.begin(), e.end(), e.begin(), ::tolower);
        if (e == ext) return;
      }
    pugi::xml_node d = root.prepend_child("Default");
    d.append_attribute("Extension") = std::string(ext).c_str();
    d.append_attribute("ContentType") = std::string(type).c_str();
  }

  /// The archive: every part in the package's order (replaced where changed), then the new ones.
  std::optional<std::string> Finish(std::string& error) {
    for (auto& [name, part] : trees_) out_[name] = part.Save();
    std::vector<std::string_view> order;
    std::set<std::string_view> done;
    auto add = [&](std::string_view name) {
      if (done.insert(name).second) order.push_back(name);
    };
    add("[Content_Types].xml");
    for (const Part& p : pkg_.parts()) add(p.name);
    std::set<std::string_view> added;
    for (const auto& [name, bytes] : out_) added.insert(name);
    for (const std::string& name : final_) added.insert(name);
    for (std::string_view name : added) add(name);
    // The rest, largest first, so that the two threads finish close together.
    std::vector<std::pair<std::string_view, std::string_view>> rest;
    for (std::string_view name : order)
      if (!zip_.Has(name)) rest.emplace_back(name, Current(std::string(name)));
    std::stable_sort(rest.begin(), rest.end(), [](const auto& a, const auto& b) {
      return a.second.size() > b.second.size();
    });
    for (const auto& [name, bytes] : rest) zip_.AddView(name, bytes);
    return zip_.Finish(order, error);
  }

  XmlPart& Tree(const std::string& name, std::string_view fallback) {
    auto it = trees_.find(name);
    if (it != trees_.end()) return it->second;
    XmlPart& part = trees_[name];
    std::string_view bytes = Current(name);
    if (bytes.empty() || !part.Load(bytes)) part.Load(fallback);
    return part;
  }

 private:
  XmlPart& Rels(const std::string& name) {
    static const std::string empty =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>";
    if (!Exists(name) && !trees_.count(name)) AddDefaultType("rels", kTypeRels);
    return Tree(name, empty);
  }
  XmlPart& Types() {
    static const std::string empty =
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";
    return Tree("[Content_Types].xml", empty);
  }

  const Package& pkg_;
  std::map<std::string, std::string> out_;
  std::map<std::string, XmlPart> trees_;
  std::set<std::string> final_;
  ZipStream zip_{kDeflateLevel, kEntryTime};
  std::set<std::string> reserved_;
};

// The shared strings part with the strings added since the file was read.
std::string WriteSharedStrings(const BookImpl& impl, std::string_view original) {
  std::string out;
  std::string close = "</sst>";
  std::string p;
  if (!original.empty()) {
    const std::size_t root = original.find("sst");
    std::size_t lt = original.rfind('<', root);
    std::string_view qname = original.substr(lt + 1, root + 3 - lt - 1);
    p = std::string(qname.substr(0, qname.size() - 3));
    const std::size_t tag_end = StartTagEnd(original, lt);
    std::string tag(original.substr(lt, tag_end - lt));
    tag = RemoveAttr(tag, "count");
    tag = SetAttr(tag, "uniqueCount", std::to_string(impl.shared.size()));
    const bool self_closing = tag[tag.size() - 2] == '/';
    if (self_closing) tag.erase(tag.size() - 2, 1);
    close = "</" + p + "sst>";
    const std::size_t end = self_closing ? tag_end : original.rfind(close);
    out.reserve(original.size() + (impl.shared.size() - impl.shared_in_file) * 24);
    out += original.substr(0, lt);
    out += tag;
    out += original.substr(tag_end, end - tag_end);
  } else {
    out += kXmlDecl;
    out += "<sst xmlns=\"";
    out += kMainNs;
    out += "\" uniqueCount=\"" + std::to_string(impl.shared.size()) + "\">";
  }
  for (std::size_t i = impl.shared_in_file; i < impl.shared.size(); ++i) {
    const std::string& s = impl.shared[i];
    out += '<';
    out += p;
    out += "si><";
    out += p;
    out += NeedsPreserve(s) ? "t xml:space=\"preserve\">" : "t>";
    AppendXmlEscaped(out, s);
    out += "</";
    out += p;
    out += "t></";
    out += p;
    out += "si>";
  }
  out += close;
  return out;
}

constexpr std::string_view kDefaultStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/>"
    "</font></fonts><fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill>"
    "<patternFill patternType=\"gray125\"/></fill></fills><borders count=\"1\"><border><left/>"
    "<right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count=\"1\"><xf "
    "numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs><cellXfs "
    "count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
    "</cellStyles></styleSheet>";

pugi::xml_node ChildOrCreate(pugi::xml_node parent, std::string_view local,
                             std::initializer_list<std::string_view> before) {
  if (pugi::xml_node c = Child(parent, local)) return c;
  std::string p;
  std::string_view root = parent.name();
  if (std::size_t colon = root.find(':'); colon != std::string_view::npos)
    p = std::string(root.substr(0, colon + 1));
  const std::string name = p + std::string(local);
  for (std::string_view b : before)
    if (pugi::xml_node next = Child(parent, b))
      return parent.insert_child_before(name.c_str(), next);
  return parent.append_child(name.c_str());
}

void SetCount(pugi::xml_node list) {
  std::size_t n = 0;
  for (pugi::xml_node c : list.children())
    if (c.type() == pugi::node_element) ++n;
  if (pugi::xml_attribute a = list.attribute("count"))
    a = std::to_string(n).c_str();
  else
    list.prepend_attribute("count") = std::to_string(n).c_str();
}

std::vector<pugi::xml_node> Elements(pugi::xml_node list, std::string_view local) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node c : list.children())
    if (c.type() == pugi::node_element && LocalName(c) == local) out.push_back(c);
  return out;
}

// The styles part with the styles derived since the file was read appended to cellXfs.
void WriteStyles(const BookImpl& impl, XmlPart& styles) {
  pugi::xml_node root = styles.doc.document_element();
  std::string p;
  if (std::size_t colon = std::string_view(root.name()).find(':'); colon != std::string_view::npos)
    p = std::string(std::string_view(root.name()).substr(0, colon + 1));
  pugi::xml_node fonts = ChildOrCreate(
      root, "fonts", {"fills", "borders", "cellStyleXfs", "cellXfs", "cellStyles", "dxfs"});
  if (Elements(fonts, "font").empty())
    fonts.append_child((p + "font").c_str())
        .append_child((p + "sz").c_str())
        .append_attribute("val") = "11";
  pugi::xml_node xfs =
      ChildOrCreate(root, "cellXfs", {"cellStyles", "dxfs", "tableStyles", "colors", "extLst"});
  std::vector<pugi::xml_node> xf_nodes = Elements(xfs, "xf");
  // Styles beyond the file's count that a file without cellXfs got as its default.
  while (xf_nodes.size() < impl.styles_in_file) {
    pugi::xml_node xf = xfs.append_child((p + "xf").c_str());
    xf.append_attribute("numFmtId") = "0";
    xf.append_attribute("fontId") = "0";
    xf_nodes.push_back(xf);
  }
  std::map<std::string, std::uint32_t> custom;  // format code -> id
  std::uint32_t next_id = 164;
  for (pugi::xml_node f : Elements(Child(root, "numFmts"), "numFmt")) {
    const std::uint32_t id = f.attribute("numFmtId").as_uint();
    custom.emplace(f.attribute("formatCode").value(), id);
    next_id = std::max(next_id, id + 1);
  }
  auto format_id = [&](const std::string& code) -> std::uint32_t {
    for (std::uint32_t id = 0; id < 50; ++id)
      if (!BuiltinNumberFormat(id).empty() && BuiltinNumberFormat(id) == code) return id;
    if (auto it = custom.find(code); it != custom.end()) return it->second;
    pugi::xml_node list =
        ChildOrCreate(root, "numFmts", {"fonts", "fills", "borders", "cellStyleXfs", "cellXfs"});
    pugi::xml_node f = list.append_child((p + "numFmt").c_str());
    f.append_attribute("numFmtId") = next_id;
    f.append_attribute("formatCode") = code.c_str();
    SetCount(list);
    custom.emplace(code, next_id);
    return next_id++;
  };
  std::map<std::pair<std::uint32_t, bool>, std::uint32_t> bold_fonts;
  auto font_with_bold = [&](std::uint32_t font, bool bold) -> std::uint32_t {
    auto key = std::make_pair(font, bold);
    if (auto it = bold_fonts.find(key); it != bold_fonts.end()) return it->second;
    std::vector<pugi::xml_node> all = Elements(fonts, "font");
    if (font >= all.size()) font = 0;
    pugi::xml_node copy = fonts.append_copy(all[font]);
    if (pugi::xml_node b = Child(copy, "b")) copy.remove_child(b);
    if (bold) copy.prepend_child((p + "b").c_str());
    SetCount(fonts);
    const auto index = static_cast<std::uint32_t>(all.size());
    bold_fonts.emplace(key, index);
    return index;
  };
  for (std::size_t i = impl.styles_in_file; i < impl.styles.size(); ++i) {
    const StyleRecipe& recipe = impl.recipes[i - impl.styles_in_file];
    pugi::xml_node base = recipe.base < xf_nodes.size() ? xf_nodes[recipe.base] : pugi::xml_node();
    pugi::xml_node xf = base ? xfs.append_copy(base) : xfs.append_child((p + "xf").c_str());
    if (!base) {
      xf.append_attribute("numFmtId") = "0";
      xf.append_attribute("fontId") = "0";
    }
    auto set = [&xf](const char* name, auto value) {
      if (pugi::xml_attribute a = xf.attribute(name))
        a = value;
      else
        xf.append_attribute(name) = value;
    };
    if (!recipe.format.empty()) {
      set("numFmtId", format_id(recipe.format));
      set("applyNumberFormat", "1");
    }
    if (recipe.bold >= 0) {
      set("fontId", font_with_bold(xf.attribute("fontId").as_uint(), recipe.bold == 1));
      set("applyFont", "1");
    }
    xf_nodes.push_back(xf);
  }
  SetCount(xfs);
}

// The parts as a zip archive (deflated; [Content_Types].xml first, as Office writes it).
std::optional<std::string> Zip(const std::vector<std::pair<std::string, std::string_view>>& parts,
                               std::string& error) {
  std::vector<ZipEntry> entries;
  entries.reserve(parts.size());
  for (const auto& [name, bytes] : parts) entries.push_back({name, bytes});
  return WriteZip(entries, kDeflateLevel, kEntryTime, error);
}

// The sheet's notes by row, then column, as the notes parts list them.
std::vector<CellComment> SortedComments(const Sheet::Data& d) {
  std::vector<CellComment> list;
  list.reserve(d.comments.size());
  for (const auto& [key, c] : d.comments) list.push_back(c);
  std::sort(list.begin(), list.end(), [](const CellComment& a, const CellComment& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  });
  return list;
}

// The relationship id a new sheet's own relationships give its notes' drawing: the notes part
// is related first ("rId1"), the drawing second.
constexpr std::string_view kNewSheetVmlRelId = "rId2";

}  // namespace

std::optional<AheadParts> MakeAheadParts(const Sheet::Data& d, PartPacker& packer) {
  if (d.bytes != nullptr || !d.prefix.empty() || !d.formulas.empty() || !d.shared.empty() ||
      d.shapes_pending || !d.comment_parts.threaded.empty())
    return std::nullopt;
  bool plain = true;
  d.rows.ForEach([&](std::uint32_t r, const Row& row) {
    if (row.raw_len != 0) plain = false;
    for (const StoredCell& c : row.cells) plain = plain && IsPlainCell(d, r, c);
  });
  if (!plain) return std::nullopt;
  for (const auto& [key, c] : d.comments)
    if (!c.raw_shape.empty() || !c.raw_note.empty() || c.threaded) return std::nullopt;

  AheadParts parts;
  parts.edits = d.edits;
  if (d.comments_changed) {
    parts.comments = packer.Pack(WriteCommentsPart(SortedComments(d)));
    parts.legacy_rel_id = kNewSheetVmlRelId;
  }
  SheetPlan plan;
  plan.tab_selected = false;
  plan.legacy_rel_id = parts.legacy_rel_id;
  parts.sheet = packer.Pack(WriteSheetPart(nullptr, d, plan));
  return parts;
}

AheadWriter::~AheadWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    for (Job& job : jobs_)
      if (job.sheet) job.sheet->data().ahead_busy.store(false, std::memory_order_release);
    jobs_.clear();
  }
  wake_.notify_all();
  if (helper_.joinable()) helper_.join();
}

void AheadWriter::Start(const std::shared_ptr<Sheet>& sheet) {
  // Below this many cells a sheet is written at the save in less time than a thread costs.
  constexpr std::size_t kWorthCells = 256;
  Sheet::Data& d = sheet->data();
  if (sheet->kind() != SheetKind::kWorksheet || d.bytes != nullptr ||
      d.ahead_busy.load(std::memory_order_acquire) || (d.ahead && d.ahead->edits == d.edits))
    return;
  std::size_t cells = 0;
  d.rows.ForEach([&cells](std::uint32_t, const Row& r) { cells += r.cells.size(); });
  if (cells < kWorthCells) return;
  {
    std::lock_guard lock(mutex_);
    // No second thread: the save writes the sheet, as without one.
    if (!StartHelper()) return;
    d.ahead.reset();
    d.ahead_busy.store(true, std::memory_order_relaxed);
    jobs_.push_back({sheet, {}});
  }
  wake_.notify_one();
}

bool AheadWriter::Post(std::function<void(PartPacker&)> task) {
  {
    std::lock_guard lock(mutex_);
    if (!StartHelper()) return false;
    jobs_.push_back({nullptr, std::move(task)});
  }
  wake_.notify_one();
  return true;
}

bool AheadWriter::StartHelper() {
  if (stop_) return false;
  if (helper_.joinable()) return true;
  try {
    helper_ = std::thread([this] { Run(); });
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void AheadWriter::Wait(const Sheet::Data& data) {
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&data] { return !data.ahead_busy.load(std::memory_order_acquire); });
}

void AheadWriter::WaitAll() {
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return jobs_.empty() && !running_; });
}

void AheadWriter::Run() {
  PartPacker packer(kDeflateLevel);
  std::shared_ptr<Sheet> finished;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (stop_) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    running_ = true;
    lock.unlock();
    // A sheet that left the book meanwhile is let go here, outside the lock.
    finished.reset();
    if (job.task) {
      try {
        job.task(packer);
      } catch (const std::exception&) {
        // Out of memory: the task left its result unset, and the save makes it itself.
      }
      lock.lock();
      running_ = false;
      done_.notify_all();
      continue;
    }
    Sheet::Data& d = job.sheet->data();
    std::optional<AheadParts> parts;
    try {
      parts = MakeAheadParts(d, packer);
    } catch (const std::exception&) {
      parts.reset();  // out of memory: the save writes the sheet itself
    }
    d.ahead = std::move(parts);
    finished = std::move(job.sheet);
    lock.lock();
    d.ahead_busy.store(false, std::memory_order_release);
    running_ = false;
    done_.notify_all();
  }
}

std::string BookImpl::Serialize(std::optional<Error>* error) {
  ahead.WaitAll();
  PartWriter w(*package);
  const std::string wb_part = workbook_part;

  // Sheets: new parts get names first, so that nothing collides.
  for (auto& s : sheets) {
    Sheet::Data& d = *s->data_;
    if (s->kind() == SheetKind::kWorksheet && d.part.empty()) {
      d.part = w.UniqueName("xl/worksheets/sheet", ".xml");
      w.Reserve(d.part);
    }
  }
  std::uint32_t next_sheet_id = 1;
  for (auto& s : sheets) next_sheet_id = std::max(next_sheet_id, s->data_->sheet_id + 1);

  // The parts made ahead, when they are what this save writes: those of a new sheet unchanged
  // since, whose tab is not the selected one, with notes as when they were made.
  auto usable = [this](std::size_t i) {
    const Sheet::Data& d = *sheets[i]->data_;
    return sheets[i]->kind() == SheetKind::kWorksheet && d.bytes == nullptr && d.ahead &&
           d.ahead->edits == d.edits && i != active &&
           d.ahead->legacy_rel_id.empty() != d.comments_changed;
  };
  // Their notes' drawings are written and deflated on the helper while this thread writes the
  // rest: the shape ids follow each sheet's position now. Each task writes its own slot.
  std::vector<std::optional<Packed>> drawings(sheets.size());
  std::vector<bool> drawing_posted(sheets.size(), false);
  // Whichever way this returns, the helper is done with the slots first.
  struct WaitOnExit {
    AheadWriter& writer;
    ~WaitOnExit() { writer.WaitAll(); }
  } wait_on_exit{ahead};
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (!usable(i) || !sheets[i]->data_->comments_changed) continue;
    const Sheet::Data* d = sheets[i]->data_.get();
    std::optional<Packed>* slot = &drawings[i];
    const auto block = static_cast<std::uint32_t>(i + 1);
    drawing_posted[i] = ahead.Post([d, slot, block](PartPacker& packer) {
      WriteResult vml = WriteVmlDrawing(SortedComments(*d), {}, block);
      if (!vml.error) *slot = packer.Pack(vml.bytes);
    });
  }
  // Drawings of the helper, put once it is done with them: (sheet, part name).
  std::vector<std::pair<std::size_t, std::string>> posted_drawings;

  for (std::size_t i = 0; i < sheets.size(); ++i) {
    Sheet& s = *sheets[i];
    Sheet::Data& d = *s.data_;
    if (s.kind() != SheetKind::kWorksheet) continue;
    SheetPlan plan;
    const bool is_new = d.bytes == nullptr;
    if (is_new) {
      d.rel_id = w.AddRelationship(wb_part, "worksheet", d.part);
      if (d.sheet_id == 0) d.sheet_id = next_sheet_id++;
      w.AddContentType(d.part, kTypeWorksheet);
    }
    if (active != original_active || is_new) plan.tab_selected = i == active;
    bool write = is_new || d.cells_changed || d.columns_changed ||
                 (plan.tab_selected && (i == active || i == original_active));
    std::optional<AheadParts> made;
    if (usable(i)) made = std::move(d.ahead);
    d.ahead.reset();
    if (d.comments_changed && d.shapes_pending) {
      // The notes as read, now with their shapes: an unchanged note keeps its box. Comments
      // never move between cells, so the cell finds the note it was read as.
      SheetInfo info;
      info.name = d.original_name;
      info.part = d.part;
      CommentsResult read = ReadComments(*package, workbook_part, info, NoteShapes::kRead);
      if (read.error) {
        *error = std::move(read.error);
        return {};
      }
      for (CellComment& c : read.comments)
        if (!c.raw_shape.empty())
          if (auto it = d.comments.find(Sheet::Data::Key(c.row, c.col)); it != d.comments.end())
            it->second.raw_shape = std::move(c.raw_shape);
      d.shapes_pending = false;
    }
    if (d.comments_changed) {
      SheetCommentParts& parts = d.comment_parts;
      if (parts.comments.empty()) {
        parts.comments = w.UniqueName("xl/comments", ".xml");
        w.Reserve(parts.comments);
      }
      if (parts.vml.empty()) {
        parts.vml = w.UniqueName("xl/drawings/vmlDrawing", ".vml");
        w.Reserve(parts.vml);
      }
      parts.comments_rel_id = w.AddRelationship(d.part, "comments", parts.comments);
      parts.vml_rel_id = w.AddRelationship(d.part, "vmlDrawing", parts.vml);
      w.AddContentType(parts.comments, kTypeComments);
      w.AddDefaultType("vml", kTypeVml);
      if (made && (made->legacy_rel_id != parts.vml_rel_id || !w.Current(parts.vml).empty() ||
                   !parts.threaded.empty()))
        made.reset();
      if (made) {
        w.PutPacked(parts.comments, std::move(made->comments));
        w.PutPacked(d.part, std::move(made->sheet));
        if (drawing_posted[i]) {
          posted_drawings.emplace_back(i, parts.vml);
          continue;
        }
      }
      const std::vector<CellComment> list = SortedComments(d);
      if (!made) w.PutFinal(parts.comments, WriteCommentsPart(list));
      WriteResult vml =
          WriteVmlDrawing(list, w.Current(parts.vml), static_cast<std::uint32_t>(i + 1));
      if (vml.error) {
        *error = package->MakeError(parts.vml, vml.error->message, vml.error->offset);
        return {};
      }
      w.PutFinal(parts.vml, std::move(vml.bytes));
      if (!parts.threaded.empty()) {
        WriteResult threaded = UpdateThreadedComments(w.Current(parts.threaded), list);
        if (threaded.error) {
          *error =
              package->MakeError(parts.threaded, threaded.error->message, threaded.error->offset);
          return {};
        }
        w.PutFinal(parts.threaded, std::move(threaded.bytes));
      }
      if (made) continue;  // the sheet part was put with the notes
      plan.legacy_rel_id = parts.vml_rel_id;
      if (is_new || !d.bytes ||
          FindElement(*d.bytes, d.prefix + "legacyDrawing") == std::string::npos)
        write = true;
    }
    if (made && write)
      w.PutPacked(d.part, std::move(made->sheet));
    else if (write)
      w.PutFinal(d.part, WriteSheetPart(this, d, plan));
  }

  // Shared strings after the sheets: writing cells may add the texts of inline cells.
  if (shared.size() > shared_in_file) {
    const Relationship* rel = package->FindRelationshipByType(wb_part, "/sharedStrings");
    std::string part = rel ? rel->target : "xl/sharedStrings.xml";
    if (!rel) {
      w.AddRelationship(wb_part, "sharedStrings", part);
      w.AddContentType(part, kTypeSharedStrings);
    }
    w.PutFinal(part, WriteSharedStrings(*this, w.Current(part)));
  }
  if (styles.size() > styles_in_file) {
    const Relationship* rel = package->FindRelationshipByType(wb_part, "/styles");
    std::string part = rel ? rel->target : "xl/styles.xml";
    if (!rel) {
      w.AddRelationship(wb_part, "styles", part);
      w.AddContentType(part, kTypeStyles);
    }
    WriteStyles(*this, w.Tree(part, kDefaultStyles));
  }

  bool any_cells = false;
  for (auto& s : sheets) any_cells |= s->data_->cells_changed;
  if (sheets_changed || (any_cells && has_formulas)) {
    XmlPart& wbx = w.Tree(wb_part, "");
    pugi::xml_node root = wbx.doc.document_element();
    std::string p;
    if (std::size_t colon = std::string_view(root.name()).find(':');
        colon != std::string_view::npos)
      p = std::string(std::string_view(root.name()).substr(0, colon + 1));
    std::string r_prefix;
    for (pugi::xml_attribute a : root.attributes()) {
      std::string_view n = a.name();
      if (n.starts_with("xmlns:") && (std::string_view(a.value()) == kRelNs ||
                                      std::string_view(a.value()).ends_with("/relationships")))
        r_prefix = std::string(n.substr(6)) + ":";
    }
    if (r_prefix.empty()) {
      root.append_attribute("xmlns:r") = std::string(kRelNs).c_str();
      r_prefix = "r:";
    }
    pugi::xml_node list = ChildOrCreate(root, "sheets", {"functionGroups", "definedNames"});
    std::map<std::string, pugi::xml_node> by_rel;
    std::vector<std::string> old_order;
    for (pugi::xml_node n : Elements(list, "sheet")) {
      by_rel[Attribute(n, "id").value()] = n;
      old_order.push_back(Attribute(n, "id").value());
    }
    pugi::xml_document scratch;
    for (auto& s : sheets) {
      Sheet::Data& d = *s->data_;
      pugi::xml_node n;
      if (auto it = by_rel.find(d.rel_id); it != by_rel.end()) {
        n = scratch.append_copy(it->second);
      } else {
        n = scratch.append_child((p + "sheet").c_str());
        n.append_attribute("name");
        n.append_attribute("sheetId") = d.sheet_id;
        n.append_attribute((r_prefix + "id").c_str()) = d.rel_id.c_str();
      }
      n.attribute("name") = s->name().c_str();
    }
    while (pugi::xml_node c = list.first_child()) list.remove_child(c);
    for (pugi::xml_node n : scratch.children()) list.append_copy(n);
    // Sheet-local names follow their sheet to its new position.
    std::map<std::uint32_t, std::uint32_t> moved;
    for (std::size_t old = 0; old < old_order.size(); ++old)
      for (std::size_t now = 0; now < sheets.size(); ++now)
        if (sheets[now]->data_->rel_id == old_order[old])
          moved[static_cast<std::uint32_t>(old)] = static_cast<std::uint32_t>(now);
    for (pugi::xml_node n : Elements(Child(root, "definedNames"), "definedName"))
      if (pugi::xml_attribute local = n.attribute("localSheetId"))
        if (auto it = moved.find(local.as_uint()); it != moved.end()) local = it->second;
    pugi::xml_node views = ChildOrCreate(root, "bookViews", {"sheets"});
    pugi::xml_node view = Child(views, "workbookView");
    if (!view) view = views.append_child((p + "workbookView").c_str());
    if (pugi::xml_attribute a = view.attribute("activeTab"))
      a = static_cast<unsigned>(active);
    else
      view.append_attribute("activeTab") = static_cast<unsigned>(active);
    if (pugi::xml_attribute first = view.attribute("firstSheet"); first && first.as_uint() > active)
      first = static_cast<unsigned>(active);
    if (any_cells && has_formulas) {
      pugi::xml_node calc = ChildOrCreate(
          root, "calcPr",
          {"oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes",
           "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"});
      if (pugi::xml_attribute a = calc.attribute("fullCalcOnLoad"))
        a = "1";
      else
        calc.append_attribute("fullCalcOnLoad") = "1";
    }
  }

  ahead.WaitAll();
  for (const auto& [i, part] : posted_drawings) {
    if (drawings[i]) {
      w.PutPacked(part, std::move(*drawings[i]));
      continue;
    }
    WriteResult vml = WriteVmlDrawing(SortedComments(*sheets[i]->data_), w.Current(part),
                                      static_cast<std::uint32_t>(i + 1));
    if (vml.error) {
      *error = package->MakeError(part, vml.error->message, vml.error->offset);
      return {};
    }
    w.PutFinal(part, std::move(vml.bytes));
  }

  std::string why;
  std::optional<std::string> zipped = w.Finish(why);
  if (!zipped) {
    *error = package->MakeError("", why);
    return {};
  }
  return std::move(*zipped);
}

std::optional<Error> Book::Save(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  const std::string name = path.string();
  auto failure = [&name](std::string what, int err = 0) {
    Error e;
    e.file = name;
    e.message = err ? what + ": " + std::strerror(err) : what;
    return e;
  };
  std::optional<Error> not_built;
  std::string bytes = impl_->Serialize(&not_built);
  if (not_built) {
    not_built->file = name;
    return not_built;
  }
  std::error_code ec;
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) return failure("cannot save: the folder does not exist");
  if (fs::is_directory(path, ec)) return failure("cannot save: a folder has that name");
  static std::uint64_t counter = 0;
  const fs::path temp =
      name + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  const bool exists = fs::exists(path, ec);
  mode_t mode = 0666;
  struct stat st;
  if (exists && ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return failure("cannot create a temporary file beside it", errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return failure("cannot write", e);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    return failure("cannot flush to disk", e);
  }
  if (exists) {
    const fs::path backup = name + ".bak";
    ::unlink(backup.c_str());
    if (::link(path.c_str(), backup.c_str()) != 0) {
      fs::copy_file(path, backup, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        ::unlink(temp.c_str());
        return failure("cannot keep the previous file as " + backup.filename().string(),
                       ec.value());
      }
    }
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    return failure("cannot replace the file", e);
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  impl_->modified = false;
  return std::nullopt;
}

std::unique_ptr<Book> Book::New(std::string_view first_sheet) {
  // A new workbook is a minimal package that then goes the way of every read workbook.
  std::string sheet_name;
  AppendXmlEscaped(sheet_name, first_sheet);
  const std::vector<std::pair<std::string, std::string>> parts = {
      {"[Content_Types].xml",
       std::string(kXmlDecl) +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" ContentType=\"" +
           std::string(kTypeRels) +
           "\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>"
           "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
           "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" +
           std::string(kTypeWorksheet) +
           "\"/><Override PartName=\"/xl/styles.xml\" ContentType=\"" + std::string(kTypeStyles) +
           "\"/><Override PartName=\"/docProps/app.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.extended-properties+xml\"/></Types>"},
      {"_rels/.rels",
       std::string(kXmlDecl) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" Type=\"" +
           std::string(kRelTypeBase) +
           "officeDocument\" Target=\"xl/workbook.xml\"/><Relationship Id=\"rId2\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
           "extended-properties\" Target=\"docProps/app.xml\"/></Relationships>"},
      {"docProps/app.xml",
       std::string(kXmlDecl) +
           "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
           "extended-properties\"><Application>Sheetwise</Application></Properties>"},
      {"xl/workbook.xml",
       std::string(kXmlDecl) + "<workbook xmlns=\"" + std::string(kMainNs) + "\" xmlns:r=\"" +
           std::string(kRelNs) +
           "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets><sheet name=\"" +
           sheet_name + "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       std::string(kXmlDecl) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" Type=\"" +
           std::string(kRelTypeBase) +
           "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" +
           std::string(kRelTypeBase) + "styles\" Target=\"styles.xml\"/></Relationships>"},
      {"xl/styles.xml", std::string(kXmlDecl) + std::string(kDefaultStyles)},
      {"xl/worksheets/sheet1.xml",
       std::string(kXmlDecl) + "<worksheet xmlns=\"" + std::string(kMainNs) + "\" xmlns:r=\"" +
           std::string(kRelNs) +
           "\"><dimension ref=\"A1\"/><sheetViews><sheetView tabSelected=\"1\" "
           "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>"
           "<sheetData/><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
           "header=\"0.3\" footer=\"0.3\"/></worksheet>"},
  };
  std::vector<std::pair<std::string, std::string_view>> views(parts.begin(), parts.end());
  std::string error;
  std::optional<std::string> bytes = Zip(views, error);
  BookResult made = bytes ? OpenFromMemory(*bytes, "new workbook") : BookResult{};
  if (!made) return nullptr;
  made.book->impl_->modified = false;
  return std::move(made.book);
}

}  // namespace sheetwise::xlsx
