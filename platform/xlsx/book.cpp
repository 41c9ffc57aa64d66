#include "platform/xlsx/book.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"
#include "platform/xlsx/book_internal.h"
#include "platform/xlsx/xml_internal.h"
#include "platform/xlsx/xml_scan.h"

namespace sheetwise::xlsx {

std::size_t ElementEnd(std::string_view bytes, std::size_t begin, std::string_view) {
  // Tag by tag, counting depth: an element may hold others of its own name.
  std::size_t pos = begin;
  scan::Tag tag;
  bool failed = false;
  if (!scan::NextTag(bytes, pos, bytes.size(), tag, &failed) || tag.begin != begin ||
      tag.kind == scan::Tag::kEnd)
    return std::string_view::npos;
  if (tag.kind == scan::Tag::kEmpty) return tag.end;
  return scan::SkipElement(bytes, pos, bytes.size()) ? pos : std::string_view::npos;
}

std::size_t StartTagEnd(std::string_view bytes, std::size_t begin) {
  char quote = 0;
  for (std::size_t i = begin + 1; i < bytes.size(); ++i) {
    const char ch = bytes[i];
    if (quote) {
      if (ch == quote) quote = 0;
    } else if (ch == '"' || ch == '\'') {
      quote = ch;
    } else if (ch == '>') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

namespace {

// ISO 8601 date-time text of a t="d" cell as a 1900-system serial number (1904: minus 1462).
std::optional<double> IsoToSerial(std::string_view s, bool date1904) {
  int y = 0, m = 0, d = 0, hh = 0, mm = 0;
  double ss = 0;
  auto num = [&s](std::size_t at, std::size_t len, int& out) {
    if (at + len > s.size()) return false;
    auto [p, ec] = std::from_chars(s.data() + at, s.data() + at + len, out);
    return ec == std::errc() && p == s.data() + at + len;
  };
  if (!num(0, 4, y) || s.size() < 10 || s[4] != '-' || !num(5, 2, m) || s[7] != '-' ||
      !num(8, 2, d))
    return std::nullopt;
  if (s.size() >= 16 && s[10] == 'T' && num(11, 2, hh) && s[13] == ':' && num(14, 2, mm)) {
    if (s.size() >= 19 && s[16] == ':') {
      std::size_t end = 19;
      while (end < s.size() && (std::isdigit(static_cast<unsigned char>(s[end])) || s[end] == '.'))
        ++end;
      std::from_chars(s.data() + 17, s.data() + end, ss);
    }
  }
  if (m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  // Days from 1899-12-30 (the 1900 system without its fictitious 1900-02-29).
  auto days_from_civil = [](int yy, unsigned mo, unsigned dd) {
    yy -= mo <= 2;
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(yy - era * 400);
    const unsigned doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int>(doe) - 719468;
  };
  double days = days_from_civil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) -
                days_from_civil(1899, 12, 30);
  if (days < 61 && !date1904) days -= 1;  // serials before March 1900 count from 1899-12-31
  if (date1904) days -= 1462;
  return days + (hh * 3600 + mm * 60 + ss) / 86400.0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sheet::Data

StoredCell* Sheet::Data::FindCell(std::uint32_t row, std::uint32_t col) {
  Row* r = rows.Find(row);
  if (r == nullptr) return nullptr;
  auto it = std::lower_bound(r->cells.begin(), r->cells.end(), col,
                             [](const StoredCell& c, std::uint32_t k) { return c.col < k; });
  return it != r->cells.end() && it->col == col ? &*it : nullptr;
}

StoredCell& Sheet::Data::GetCell(std::uint32_t row, std::uint32_t col) {
  Row& r = rows.Get(row);
  auto it = std::lower_bound(r.cells.begin(), r.cells.end(), col,
                             [](const StoredCell& c, std::uint32_t k) { return c.col < k; });
  if (it != r.cells.end() && it->col == col) return *it;
  StoredCell cell;
  cell.col = col;
  if (r.style != kNone) {
    cell.style = r.style;
    cell.has_style = true;
  }
  if (col > max_col) max_col = col;
  // A row written cell by cell left to right would otherwise grow its vector several times;
  // rows are seldom wider than the widest so far.
  if (r.cells.empty()) {
    r.cells.reserve(std::min<std::uint32_t>(max_col, 32));
    it = r.cells.begin();  // the reservation moved the (empty) storage
  }
  return *r.cells.insert(it, cell);
}

// ---------------------------------------------------------------------------------------------
// BookImpl

std::uint32_t BookImpl::AddShared(std::string_view text) {
  auto hash_of = [](std::string_view s) {
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return static_cast<std::uint32_t>(h ^ (h >> 32));
  };
  auto insert = [this](std::uint32_t hash, std::uint32_t index) {
    const std::size_t mask = text_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask)
      if (text_slots[i].second == 0) {
        text_slots[i] = {hash, index + 1};
        return;
      }
  };
  // The texts of the file are hashed once, on the first added text.
  while (text_hashes.size() < shared.size())
    text_hashes.push_back(hash_of(shared[text_hashes.size()]));
  if ((shared.size() + 1) * 2 > text_slots.size()) {
    std::size_t size = 1024;
    while (size < (shared.size() + 1) * 4) size *= 2;
    text_slots.assign(size, {0, 0});
    indexed = 0;
  }
  for (; indexed < shared.size(); ++indexed)
    insert(text_hashes[indexed], static_cast<std::uint32_t>(indexed));
  const std::uint32_t hash = hash_of(text);
  const std::size_t mask = text_slots.size() - 1;
  for (std::size_t i = hash & mask; text_slots[i].second != 0; i = (i + 1) & mask)
    if (text_slots[i].first == hash && shared[text_slots[i].second - 1] == text)
      return text_slots[i].second - 1;
  shared.emplace_back(text);
  text_hashes.push_back(hash);
  const auto index = static_cast<std::uint32_t>(shared.size() - 1);
  insert(hash, index);
  indexed = shared.size();
  return index;
}

std::uint32_t BookImpl::AddOther(std::string_view text) {
  other.emplace_back(text);
  return static_cast<std::uint32_t>(other.size() - 1) | kOtherString;
}

namespace {

// Reads one worksheet part into `data`. The part is parsed from a copy (in place); cell and row
// spans refer to the package's bytes, which the book keeps.
std::optional<Error> LoadSheetTree(BookImpl& impl, const Workbook& wb, Sheet::Data& data) {
  const Package& pkg = wb.package();
  const Part* part = pkg.FindPart(data.part);
  if (part == nullptr) return pkg.MakeError(data.part, "the worksheet part is missing");
  data.bytes = &part->bytes;
  const std::string_view original = part->bytes;
  std::string buffer = part->bytes;
  pugi::xml_document doc;
  if (auto e = ParseXmlInPlace(pkg, part->name, buffer, doc)) return e;
  const bool in_place = buffer.size() == original.size();  // UTF-16 parts are converted
  auto fail = [&](std::string message, std::ptrdiff_t at) {
    return pkg.MakeError(
        part->name, std::move(message),
        at >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(at)) : std::nullopt);
  };
  pugi::xml_node root = doc.document_element();
  if (LocalName(root) != "worksheet")
    return fail("root element <worksheet> expected, found <" + std::string(root.name()) + ">",
                root.offset_debug());
  {
    std::string_view qname = root.name();
    std::size_t colon = qname.find(':');
    data.prefix = colon == std::string_view::npos ? "" : std::string(qname.substr(0, colon + 1));
  }
  for (pugi::xml_node c = Child(root, "cols").first_child(); c; c = c.next_sibling()) {
    if (LocalName(c) != "col") continue;
    ColumnInfo col;
    if (!ParseUint(c.attribute("min").value(), col.min) ||
        !ParseUint(c.attribute("max").value(), col.max) || col.min == 0 || col.max < col.min ||
        col.max > kMaxColumn)
      return fail("bad <col> range", c.offset_debug());
    col.width = c.attribute("width").as_double();
    col.custom_width = XmlTrue(c.attribute("customWidth").value());
    col.hidden = XmlTrue(c.attribute("hidden").value());
    data.columns.push_back(col);
  }
  pugi::xml_node sheet_data = Child(root, "sheetData");
  if (!sheet_data) return fail("the worksheet has no <sheetData>", root.offset_debug());
  if (!in_place) return fail("worksheets in UTF-16 are not supported", -1);
  // Where the rows stand in the bytes: a changed sheet is written with new rows there.
  data.root_end = StartTagEnd(original, static_cast<std::size_t>(root.offset_debug()) - 1);
  if (data.root_end == std::string_view::npos)
    return fail("the <worksheet> tag is cut short", root.offset_debug());
  data.sheet_data_begin = static_cast<std::size_t>(sheet_data.offset_debug()) - 1;
  data.sheet_data_end = ElementEnd(original, data.sheet_data_begin, sheet_data.name());
  if (data.sheet_data_end == std::string_view::npos)
    return fail("the end of <sheetData> cannot be found", sheet_data.offset_debug());

  const auto& shared_strings = wb.shared_strings();
  std::uint32_t row_no = 0;
  for (pugi::xml_node r = sheet_data.first_child(); r; r = r.next_sibling()) {
    if (r.type() != pugi::node_element || LocalName(r) != "row") continue;
    const std::size_t row_begin = static_cast<std::size_t>(r.offset_debug()) - 1;
    if (pugi::xml_attribute ra = r.attribute("r")) {
      std::uint32_t n = 0;
      if (!ParseUint(ra.value(), n) || n == 0 || n > kMaxRow)
        return fail(std::string("bad row number '") + ra.value() + "'", r.offset_debug());
      if (n <= row_no)
        return fail("row " + std::to_string(n) + " comes after row " + std::to_string(row_no),
                    r.offset_debug());
      row_no = n;
    } else if (++row_no > kMaxRow) {
      return fail("more rows than a worksheet holds", r.offset_debug());
    }
    Row& row = data.rows.Get(row_no);
    const std::size_t tag_end = StartTagEnd(original, row_begin);
    if (tag_end == std::string_view::npos) return fail("a <row> tag is cut short", row_begin);
    row.raw_begin = static_cast<std::uint32_t>(row_begin);
    row.raw_len = static_cast<std::uint32_t>(tag_end - row_begin);
    row.tag_changed = !r.attribute("r");  // rows without r get one when written
    if (XmlTrue(r.attribute("customFormat").value())) {
      std::uint32_t s = 0;
      if (ParseUint(r.attribute("s").value(), s)) row.style = s;
    }
    std::uint32_t col_no = 0;
    for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element || LocalName(c) != "c") continue;
      StoredCell cell;
      std::uint32_t cr = row_no;
      const std::size_t begin = static_cast<std::size_t>(c.offset_debug()) - 1;
      if (pugi::xml_attribute ref = c.attribute("r")) {
        if (!ParseCellRef(ref.value(), cr, cell.col) || cr != row_no)
          return fail(std::string("bad cell reference '") + ref.value() + "' in row " +
                          std::to_string(row_no),
                      c.offset_debug());
      } else {
        cell.col = col_no + 1;
        if (cell.col > kMaxColumn)
          return fail("more cells in a row than a worksheet holds", c.offset_debug());
        row.tag_changed = true;  // written again with references
      }
      if (cell.col <= col_no)
        return fail("cell " + FormatCellRef(row_no, cell.col) + " is out of order",
                    c.offset_debug());
      col_no = cell.col;
      const std::size_t end = ElementEnd(original, begin, c.name());
      if (end == std::string_view::npos) return fail("a <c> element is cut short", begin);
      cell.raw_begin = static_cast<std::uint32_t>(begin);
      cell.raw_len = c.attribute("r") ? static_cast<std::uint32_t>(end - begin) : 0;
      if (pugi::xml_attribute s = c.attribute("s")) {
        if (!ParseUint(s.value(), cell.style))
          return fail(std::string("bad style index '") + s.value() + "'", c.offset_debug());
        cell.has_style = true;
      }
      std::string_view t = c.attribute("t").value();
      pugi::xml_node v = Child(c, "v");
      const char* value = v.child_value();
      if (pugi::xml_node f = Child(c, "f")) {
        impl.has_formulas = true;
        std::string_view ftype = f.attribute("t").value();
        std::uint32_t si = 0;
        std::string_view text = f.child_value();
        if (ftype == "shared" && ParseUint(f.attribute("si").value(), si)) {
          cell.shared_index = si;
          if (!text.empty()) {
            cell.shared_master = true;
            data.shared[si] =
                SharedFormula{row_no, cell.col, std::string(text), f.attribute("ref").value()};
          }
        }
        if (!text.empty()) {
          data.formulas.emplace_back(text);
          cell.formula = static_cast<std::uint32_t>(data.formulas.size() - 1);
        }
      }
      const bool has_value = v || t == "inlineStr";
      auto where = [&]() { return FormatCellRef(row_no, cell.col); };
      if (!has_value) {
        cell.kind = ValueKind::kEmpty;
      } else if (t.empty() || t == "n") {
        cell.kind = ValueKind::kNumber;
        std::string_view sv = value;
        auto [p, ec] = std::from_chars(sv.data(), sv.data() + sv.size(), cell.number);
        if (ec != std::errc() || p != sv.data() + sv.size())
          return fail("bad number '" + std::string(sv) + "' in cell " + where(), c.offset_debug());
      } else if (t == "s") {
        cell.kind = ValueKind::kText;
        std::uint32_t si = 0;
        if (!ParseUint(value, si) || si >= shared_strings.size())
          return fail(
              "shared string index '" + std::string(value) + "' out of range in cell " + where(),
              c.offset_debug());
        cell.text = si;
      } else if (t == "str" || t == "inlineStr") {
        cell.kind = ValueKind::kText;
        std::string text;
        if (t == "str") {
          text = value;
        } else {
          pugi::xml_node is = Child(c, "is");
          for (pugi::xml_node n = is.first_child(); n; n = n.next_sibling()) {
            if (LocalName(n) == "t")
              text += n.child_value();
            else if (LocalName(n) == "r")
              text += Child(n, "t").child_value();
          }
        }
        cell.text = impl.AddOther(DecodeCellEscapes(std::move(text)));
      } else if (t == "b") {
        cell.kind = ValueKind::kBool;
        std::string_view bv = value;
        if (bv != "0" && bv != "1" && bv != "true" && bv != "false")
          return fail("bad boolean '" + std::string(bv) + "' in cell " + where(), c.offset_debug());
        cell.number = XmlTrue(bv) ? 1 : 0;
      } else if (t == "e") {
        cell.kind = ValueKind::kError;
        cell.text = impl.AddOther(value);
      } else if (t == "d") {
        std::optional<double> serial = IsoToSerial(value, impl.date1904);
        if (!serial)
          return fail("bad date '" + std::string(value) + "' in cell " + where(), c.offset_debug());
        cell.kind = ValueKind::kNumber;
        cell.number = *serial;
      } else {
        return fail("unknown cell type '" + std::string(t) + "' in cell " + where(),
                    c.offset_debug());
      }
      if (cell.col > data.max_col) data.max_col = cell.col;
      row.cells.push_back(cell);
    }
  }
  return std::nullopt;
}

// Reads the columns of a worksheet's <cols>; false for a bad range.
bool ReadColumns(const pugi::xml_node& root, Sheet::Data& data) {
  for (pugi::xml_node c = Child(root, "cols").first_child(); c; c = c.next_sibling()) {
    if (LocalName(c) != "col") continue;
    ColumnInfo col;
    if (!ParseUint(c.attribute("min").value(), col.min) ||
        !ParseUint(c.attribute("max").value(), col.max) || col.min == 0 || col.max < col.min ||
        col.max > kMaxColumn)
      return false;
    col.width = c.attribute("width").as_double();
    col.custom_width = XmlTrue(c.attribute("customWidth").value());
    col.hidden = XmlTrue(c.attribute("hidden").value());
    data.columns.push_back(col);
  }
  return true;
}

// The fast way to read a worksheet: its rows and cells scanned straight from the part's bytes
// (a large sheet is mostly <sheetData>), everything else parsed as a tree. False for anything
// it does not handle or finds wrong; the tree reader then reads the sheet or reports the error.
bool ScanSheet(BookImpl& impl, std::size_t shared_count, std::string_view xml, Sheet::Data& data) {
  using scan::Tag;
  std::size_t pos = 0;
  Tag tag;
  bool failed = false;
  if (!scan::NextTag(xml, pos, xml.size(), tag, &failed) || tag.kind != Tag::kStart ||
      tag.local != "worksheet")
    return false;
  const std::string prefix(tag.qname.substr(0, tag.qname.size() - tag.local.size()));
  data.root_end = tag.end;
  const std::string sd_name = prefix + "sheetData";
  std::size_t sd = std::string_view::npos;
  for (std::size_t at = xml.find("<" + sd_name, pos); at != std::string_view::npos;
       at = xml.find("<" + sd_name, at + 1)) {
    const char next = at + 1 + sd_name.size() < xml.size() ? xml[at + 1 + sd_name.size()] : 0;
    if (next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\r' || next == '\n') {
      sd = at;
      break;
    }
  }
  if (sd == std::string_view::npos) return false;
  std::size_t p = sd;
  if (!scan::NextTag(xml, p, xml.size(), tag, &failed) || tag.local != "sheetData") return false;
  std::size_t content_end = tag.end;
  std::size_t tail = tag.end;
  if (tag.kind == Tag::kStart) {
    content_end = xml.find("</" + sd_name, tag.end);
    if (content_end == std::string_view::npos) return false;
    tail = xml.find('>', content_end);
    if (tail == std::string_view::npos) return false;
    for (std::size_t k = content_end + 2 + sd_name.size(); k < tail; ++k)
      if (xml[k] != ' ' && xml[k] != '\t' && xml[k] != '\r' && xml[k] != '\n') return false;
    ++tail;
  }
  // Everything but the rows, as a tree: well-formed, and its columns.
  {
    std::string rest;
    rest.reserve(sd + (xml.size() - tail) + 32);
    rest.append(xml.substr(0, sd));
    rest += "<" + sd_name + "/>";
    rest.append(xml.substr(tail));
    pugi::xml_document doc;
    if (!doc.load_buffer_inplace(rest.data(), rest.size(), pugi::parse_default)) return false;
    if (!ReadColumns(doc.document_element(), data)) return false;
  }
  data.prefix = prefix;
  data.sheet_data_begin = sd;
  data.sheet_data_end = tail;
  if (tag.kind == Tag::kEmpty) return true;

  const std::size_t limit = content_end;
  pos = tag.end;
  std::uint32_t row_no = 0;
  std::string text, ftext, vtext;
  std::string_view a;
  while (scan::NextTag(xml, pos, limit, tag, &failed)) {
    if (tag.local != "row") {
      if (tag.kind == Tag::kStart && !scan::SkipElement(xml, pos, limit)) return false;
      if (tag.kind == Tag::kEnd) return false;
      continue;
    }
    if (tag.kind == Tag::kEnd) return false;
    bool entity = false;
    const bool has_r = scan::Attribute(tag.attributes, "r", a, &entity);
    if (has_r) {
      std::uint32_t n = 0;
      if (entity || !ParseUint(a, n) || n == 0 || n > kMaxRow || n <= row_no) return false;
      row_no = n;
    } else if (++row_no > kMaxRow) {
      return false;
    }
    Row& row = data.rows.Get(row_no);
    row.raw_begin = static_cast<std::uint32_t>(tag.begin);
    row.raw_len = static_cast<std::uint32_t>(tag.end - tag.begin);
    row.tag_changed = !has_r;
    if (scan::Attribute(tag.attributes, "customFormat", a) && XmlTrue(a)) {
      std::uint32_t st = 0;
      if (scan::Attribute(tag.attributes, "s", a) && ParseUint(a, st)) row.style = st;
    }
    if (tag.kind == Tag::kEmpty) continue;
    std::uint32_t col_no = 0;
    row.cells.reserve(16);
    for (;;) {
      if (!scan::NextTag(xml, pos, limit, tag, &failed)) return false;
      if (tag.kind == Tag::kEnd) {
        if (tag.local != "row") return false;
        break;
      }
      if (tag.local != "c") {
        if (tag.kind == Tag::kStart && !scan::SkipElement(xml, pos, limit)) return false;
        continue;
      }
      StoredCell cell;
      const std::size_t begin = tag.begin;
      const bool cell_has_r = scan::Attribute(tag.attributes, "r", a, &entity);
      if (cell_has_r) {
        std::uint32_t cr = 0;
        if (entity || !ParseCellRef(a, cr, cell.col) || cr != row_no) return false;
      } else {
        cell.col = col_no + 1;
        if (cell.col > kMaxColumn) return false;
        row.tag_changed = true;
      }
      if (cell.col <= col_no) return false;
      col_no = cell.col;
      if (scan::Attribute(tag.attributes, "s", a)) {
        if (!ParseUint(a, cell.style)) return false;
        cell.has_style = true;
      }
      std::string_view t;
      (void)scan::Attribute(tag.attributes, "t", t);
      bool has_v = false, has_f = false, has_is = false;
      std::string_view ftype, fsi, fref;
      vtext.clear();
      ftext.clear();
      text.clear();
      if (tag.kind == Tag::kStart) {
        for (;;) {
          if (!scan::NextTag(xml, pos, limit, tag, &failed)) return false;
          if (tag.kind == Tag::kEnd) {
            if (tag.local != "c") return false;
            break;
          }
          if (tag.local == "v") {
            has_v = true;
            if (tag.kind == Tag::kStart && !scan::Text(xml, pos, limit, "v", vtext)) return false;
          } else if (tag.local == "f") {
            has_f = true;
            (void)scan::Attribute(tag.attributes, "t", ftype);
            (void)scan::Attribute(tag.attributes, "si", fsi);
            (void)scan::Attribute(tag.attributes, "ref", fref);
            if (tag.kind == Tag::kStart && !scan::Text(xml, pos, limit, "f", ftext)) return false;
          } else if (tag.local == "is") {
            has_is = true;
            if (tag.kind == Tag::kEmpty) continue;
            // Rich text: the runs' texts joined; phonetic runs are reading aids.
            for (;;) {
              if (!scan::NextTag(xml, pos, limit, tag, &failed)) return false;
              if (tag.kind == Tag::kEnd && tag.local == "is") break;
              if (tag.kind != Tag::kStart) continue;
              if (tag.local == "t") {
                std::string piece;
                if (!scan::Text(xml, pos, limit, "t", piece)) return false;
                text += piece;
              } else if (tag.local == "rPh") {
                if (!scan::SkipElement(xml, pos, limit)) return false;
              }
            }
          } else if (tag.kind == Tag::kStart && !scan::SkipElement(xml, pos, limit)) {
            return false;
          }
        }
      }
      cell.raw_begin = static_cast<std::uint32_t>(begin);
      cell.raw_len = cell_has_r ? static_cast<std::uint32_t>(pos - begin) : 0;
      if (has_f) {
        impl.has_formulas = true;
        std::uint32_t si = 0;
        if (ftype == "shared" && ParseUint(fsi, si)) {
          cell.shared_index = si;
          if (!ftext.empty()) {
            cell.shared_master = true;
            data.shared[si] = SharedFormula{row_no, cell.col, ftext, std::string(fref)};
          }
        }
        if (!ftext.empty()) {
          data.formulas.push_back(ftext);
          cell.formula = static_cast<std::uint32_t>(data.formulas.size() - 1);
        }
      }
      const bool has_value = has_v || t == "inlineStr";
      if (!has_value) {
        cell.kind = ValueKind::kEmpty;
      } else if (t.empty() || t == "n") {
        cell.kind = ValueKind::kNumber;
        auto [q, ec] = std::from_chars(vtext.data(), vtext.data() + vtext.size(), cell.number);
        if (ec != std::errc() || q != vtext.data() + vtext.size()) return false;
      } else if (t == "s") {
        cell.kind = ValueKind::kText;
        std::uint32_t si = 0;
        if (!ParseUint(vtext, si) || si >= shared_count) return false;
        cell.text = si;
      } else if (t == "str" || t == "inlineStr") {
        cell.kind = ValueKind::kText;
        cell.text = impl.AddOther(DecodeCellEscapes(t == "str" ? vtext : (has_is ? text : "")));
      } else if (t == "b") {
        cell.kind = ValueKind::kBool;
        if (vtext != "0" && vtext != "1" && vtext != "true" && vtext != "false") return false;
        cell.number = XmlTrue(vtext) ? 1 : 0;
      } else if (t == "e") {
        cell.kind = ValueKind::kError;
        cell.text = impl.AddOther(vtext);
      } else if (t == "d") {
        std::optional<double> serial = IsoToSerial(vtext, impl.date1904);
        if (!serial) return false;
        cell.kind = ValueKind::kNumber;
        cell.number = *serial;
      } else {
        return false;
      }
      if (cell.col > data.max_col) data.max_col = cell.col;
      row.cells.push_back(cell);
    }
  }
  return !failed;
}

std::optional<Error> LoadSheet(BookImpl& impl, const Workbook& wb, Sheet::Data& data) {
  const Part* part = wb.package().FindPart(data.part);
  // XML is UTF-8 (or declares UTF-16, which the tree reader refuses): a sheet with other bytes
  // would not come back as it was when its cells are written again.
  if (part != nullptr && part->bytes.compare(0, 2, "\xFF\xFE") != 0 &&
      part->bytes.compare(0, 2, "\xFE\xFF") != 0) {
    const std::size_t bad = scan::InvalidUtf8(part->bytes);
    if (bad != std::string_view::npos)
      return wb.package().MakeError(part->name, "invalid UTF-8", bad);
    // The rows and cells are cut out of the bytes by their tags: markup hidden in an attribute
    // value would cut them wrongly.
    const std::size_t lt = scan::LessThanInAttribute(part->bytes);
    if (lt != std::string_view::npos)
      return wb.package().MakeError(part->name, "malformed XML: '<' in an attribute value", lt);
  }
  if (part != nullptr && !g_tree_reader_only &&
      ScanSheet(impl, wb.shared_strings().size(), part->bytes, data)) {
    data.bytes = &part->bytes;
    return std::nullopt;
  }
  // The tree reader starts afresh and names what is wrong.
  data.rows = RowStore();
  data.formulas.clear();
  data.shared.clear();
  data.columns.clear();
  data.max_col = 0;
  return LoadSheetTree(impl, wb, data);
}
}  // namespace

BookResult BookImpl::Load(std::unique_ptr<Package> package) {
  // The reader parses the workbook part, shared strings and styles; the book keeps the package.
  WorkbookResult read = Workbook::FromPackage(std::move(package));
  if (!read) return {nullptr, std::move(read.error)};
  Workbook& wb = *read.workbook;
  auto book = std::unique_ptr<Book>(new Book());
  BookImpl& impl = *book->impl_;
  impl.owner = book.get();
  impl.workbook_part = wb.workbook_part();
  impl.date1904 = wb.date1904();
  impl.shared.assign(wb.shared_strings().begin(), wb.shared_strings().end());
  impl.shared_in_file = impl.shared.size();
  for (const CellStyle& s : wb.styles()) impl.styles.push_back(StyleInfo{s.format_code, s.bold});
  impl.styles_in_file = impl.styles.size();

  // The workbook part's active tab.
  if (const Part* part = wb.package().FindPart(impl.workbook_part)) {
    std::string buffer = part->bytes;
    pugi::xml_document doc;
    if (!ParseXmlInPlace(wb.package(), part->name, buffer, doc)) {
      pugi::xml_node view = Child(Child(doc.document_element(), "bookViews"), "workbookView");
      std::uint32_t tab = 0;
      if (ParseUint(view.attribute("activeTab").value(), tab)) impl.active = tab;
    }
  }

  for (std::size_t i = 0; i < wb.sheets().size(); ++i) {
    const SheetInfo& info = wb.sheets()[i];
    auto sheet = std::make_shared<Sheet>(*book, info.name, info.kind, info.state);
    Sheet::Data& data = *sheet->data_;
    data.part = info.part;
    data.rel_id = info.rel_id;
    data.sheet_id = info.sheet_id;
    data.original_name = info.name;
    if (info.kind == SheetKind::kWorksheet) {
      if (auto e = LoadSheet(impl, wb, data)) return {nullptr, std::move(e)};
      CommentsResult comments = ReadComments(wb, i, NoteShapes::kSkip);
      if (comments.error) return {nullptr, std::move(comments.error)};
      data.shapes_pending = !comments.parts.vml.empty() && !comments.comments.empty();
      data.comment_parts = std::move(comments.parts);
      for (CellComment& c : comments.comments)
        data.comments.emplace(Sheet::Data::Key(c.row, c.col), std::move(c));
    }
    impl.sheets.push_back(std::move(sheet));
  }
  if (impl.sheets.empty())
    return {nullptr, wb.package().MakeError(impl.workbook_part, "the workbook has no sheets")};
  if (impl.active >= impl.sheets.size()) impl.active = 0;
  impl.original_active = impl.active;
  // The package moves into the book: sheets' raw spans point into its parts.
  impl.package = wb.ReleasePackage();
  for (auto& s : impl.sheets)
    if (!s->data_->part.empty())
      if (const Part* p = impl.package->FindPart(s->data_->part)) s->data_->bytes = &p->bytes;
  return {std::move(book), std::nullopt};
}

// ---------------------------------------------------------------------------------------------
// Sheet

Sheet::Sheet(Book& book, std::string name, SheetKind kind, SheetState state)
    : book_(&book),
      name_(std::move(name)),
      kind_(kind),
      state_(state),
      data_(std::make_unique<Data>()) {}
Sheet::~Sheet() = default;

CellValue Sheet::Value(std::uint32_t row, std::uint32_t col) const {
  const StoredCell* c = data_->FindCell(row, col);
  if (c == nullptr) return {};
  CellValue v;
  v.kind = c->kind;
  v.number = c->number;
  if (c->kind == ValueKind::kText || c->kind == ValueKind::kError)
    v.text = book_->impl_->Text(c->text);
  return v;
}

std::string Sheet::Formula(std::uint32_t row, std::uint32_t col) const {
  const StoredCell* c = data_->FindCell(row, col);
  if (c == nullptr) return {};
  if (c->formula != kNone) return data_->formulas[c->formula];
  if (c->shared_index != kNone) {
    auto it = data_->shared.find(c->shared_index);
    if (it != data_->shared.end())
      return TranslateFormula(it->second.formula, static_cast<int>(row - it->second.row),
                              static_cast<int>(col - it->second.col));
  }
  return {};
}

std::uint32_t Sheet::StyleOf(std::uint32_t row, std::uint32_t col) const {
  if (const StoredCell* c = data_->FindCell(row, col)) return c->style;
  if (const Row* r = data_->rows.Find(row); r != nullptr && r->style != kNone) return r->style;
  return 0;
}

namespace {

bool InRange(std::uint32_t row, std::uint32_t col) {
  return row >= 1 && row <= kMaxRow && col >= 1 && col <= kMaxColumn;
}

// Before a cell's value or formula changes: a shared formula whose master this is gives its own
// formula to every follower, which would otherwise lose it.
void DetachFormula(Sheet::Data& data, std::uint32_t row, StoredCell& cell) {
  if (cell.shared_index != kNone && cell.shared_master) {
    const std::uint32_t si = cell.shared_index;
    auto it = data.shared.find(si);
    if (it != data.shared.end()) {
      const SharedFormula master = it->second;
      data.shared.erase(it);
      data.rows.ForEach([&](std::uint32_t r, const Row& rr) {
        for (StoredCell& f : const_cast<Row&>(rr).cells) {
          if (f.shared_index != si || (r == row && f.col == cell.col)) continue;
          data.formulas.push_back(TranslateFormula(master.formula, static_cast<int>(r - master.row),
                                                   static_cast<int>(f.col - master.col)));
          f.formula = static_cast<std::uint32_t>(data.formulas.size() - 1);
          f.shared_index = kNone;
          f.raw_len = 0;
        }
      });
    }
  }
  cell.shared_index = kNone;
  cell.shared_master = false;
  cell.formula = kNone;
}

}  // namespace

#define SW_CELL_SETTER_PROLOGUE                \
  if (!InRange(row, col)) return;              \
  Changing();                                  \
  StoredCell& cell = data_->GetCell(row, col); \
  DetachFormula(*data_, row, cell);            \
  cell.raw_len = 0;                            \
  cell.restyled = false;                       \
  data_->cells_changed = true;                 \
  book_->impl_->modified = true;

void Sheet::SetNumber(std::uint32_t row, std::uint32_t col, double value) {
  SW_CELL_SETTER_PROLOGUE
  cell.kind = std::isfinite(value) ? ValueKind::kNumber : ValueKind::kError;
  cell.number = value;
  if (cell.kind == ValueKind::kError) cell.text = book_->impl_->AddOther("#NUM!");
}

void Sheet::SetText(std::uint32_t row, std::uint32_t col, std::string_view text) {
  SW_CELL_SETTER_PROLOGUE
  cell.kind = ValueKind::kText;
  cell.text = book_->impl_->AddShared(text);
}

void Sheet::SetBool(std::uint32_t row, std::uint32_t col, bool value) {
  SW_CELL_SETTER_PROLOGUE
  cell.kind = ValueKind::kBool;
  cell.number = value ? 1 : 0;
}

void Sheet::SetError(std::uint32_t row, std::uint32_t col, std::string_view error) {
  SW_CELL_SETTER_PROLOGUE
  cell.kind = ValueKind::kError;
  cell.text = book_->impl_->AddOther(error);
}

void Sheet::SetFormula(std::uint32_t row, std::uint32_t col, std::string_view formula,
                       const CellValue& cached) {
  SW_CELL_SETTER_PROLOGUE
  data_->formulas.emplace_back(formula);
  cell.formula = static_cast<std::uint32_t>(data_->formulas.size() - 1);
  cell.kind = cached.kind;
  cell.number = cached.number;
  cell.text = kNone;
  if (cached.kind == ValueKind::kText || cached.kind == ValueKind::kError)
    cell.text = book_->impl_->AddOther(cached.text);
  book_->impl_->has_formulas = true;
}

void Sheet::ClearValue(std::uint32_t row, std::uint32_t col) {
  if (data_->FindCell(row, col) == nullptr) return;
  SW_CELL_SETTER_PROLOGUE
  cell.kind = ValueKind::kEmpty;
  cell.text = kNone;
  cell.number = 0;
}

#undef SW_CELL_SETTER_PROLOGUE

void Sheet::Changing() {
  if (data_->ahead_busy.load(std::memory_order_acquire)) book_->impl_->ahead.Wait(*data_);
  data_->ahead.reset();
  ++data_->edits;
}

void Sheet::SetStyle(std::uint32_t row, std::uint32_t col, std::uint32_t style) {
  if (!InRange(row, col)) return;
  Changing();
  StoredCell& cell = data_->GetCell(row, col);
  if (cell.has_style && cell.style == style) return;
  cell.style = style;
  cell.has_style = true;
  cell.restyled = true;
  data_->cells_changed = true;
  book_->impl_->modified = true;
}

void Sheet::SetRowStyle(std::uint32_t row, std::uint32_t style) {
  if (row < 1 || row > kMaxRow) return;
  Changing();
  Row& r = data_->rows.Get(row);
  r.style = style;
  r.tag_changed = true;
  for (StoredCell& c : r.cells) {
    c.style = style;
    c.has_style = true;
    c.restyled = true;
  }
  data_->cells_changed = true;
  book_->impl_->modified = true;
}

std::optional<std::uint32_t> Sheet::RowStyle(std::uint32_t row) const {
  const Row* r = data_->rows.Find(row);
  if (r == nullptr || r->style == kNone) return std::nullopt;
  return r->style;
}

const CellComment* Sheet::Comment(std::uint32_t row, std::uint32_t col) const {
  auto it = data_->comments.find(Data::Key(row, col));
  return it == data_->comments.end() ? nullptr : &it->second;
}

void Sheet::SetComment(std::uint32_t row, std::uint32_t col, std::string_view text,
                       std::string_view author) {
  if (!InRange(row, col)) return;
  Changing();
  CellComment& c = data_->comments[Data::Key(row, col)];
  if (c.row != 0 && c.text == text) return;
  const bool is_new = c.row == 0;
  c.row = row;
  c.col = col;
  c.text = text;
  if (is_new) c.author = author;
  c.raw_note.clear();
  // The shape keeps its place and look; only the note's text lives in the comments part.
  data_->comments_changed = true;
  book_->impl_->modified = true;
}

std::size_t Sheet::comment_count() const {
  return data_->comments.size();
}

std::optional<double> Sheet::ColumnWidth(std::uint32_t col) const {
  for (const ColumnInfo& c : data_->columns)
    if (col >= c.min && col <= c.max && c.width > 0) return c.width;
  return std::nullopt;
}

void Sheet::SetColumnWidth(std::uint32_t col, double width) {
  if (col < 1 || col > kMaxColumn) return;
  Changing();
  auto& cols = data_->columns;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    ColumnInfo& c = cols[i];
    if (col < c.min || col > c.max) continue;
    if (c.width == width && c.custom_width) return;
    // Split a range so that only this column changes.
    ColumnInfo before = c, after = c, mid = c;
    before.max = col - 1;
    after.min = col + 1;
    mid.min = mid.max = col;
    mid.width = width;
    mid.custom_width = true;
    std::vector<ColumnInfo> parts;
    if (before.max >= before.min) parts.push_back(before);
    parts.push_back(mid);
    if (after.max >= after.min) parts.push_back(after);
    cols.erase(cols.begin() + static_cast<std::ptrdiff_t>(i));
    cols.insert(cols.begin() + static_cast<std::ptrdiff_t>(i), parts.begin(), parts.end());
    data_->columns_changed = true;
    book_->impl_->modified = true;
    return;
  }
  ColumnInfo c;
  c.min = c.max = col;
  c.width = width;
  c.custom_width = true;
  auto at = std::lower_bound(cols.begin(), cols.end(), col,
                             [](const ColumnInfo& ci, std::uint32_t k) { return ci.max < k; });
  cols.insert(at, c);
  data_->columns_changed = true;
  book_->impl_->modified = true;
}

std::uint32_t Sheet::max_row() const {
  std::uint32_t m = 0;
  data_->rows.ForEach([&m](std::uint32_t r, const Row& row) {
    if (!row.cells.empty()) m = r;
  });
  return m;
}

std::uint32_t Sheet::max_col() const {
  return data_->max_col;
}

std::vector<std::uint32_t> Sheet::ColumnsInRow(std::uint32_t row) const {
  std::vector<std::uint32_t> out;
  if (const Row* r = data_->rows.Find(row))
    for (const StoredCell& c : r->cells) out.push_back(c.col);
  return out;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> Sheet::CellPositions() const {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  data_->rows.ForEach([&out](std::uint32_t r, const Row& row) {
    for (const StoredCell& c : row.cells) out.emplace_back(r, c.col);
  });
  return out;
}

bool Sheet::modified() const {
  return data_->cells_changed || data_->comments_changed || data_->columns_changed ||
         name_ != data_->original_name;
}

// ---------------------------------------------------------------------------------------------
// Book

Book::Book() : impl_(std::make_unique<BookImpl>()) {
  impl_->owner = this;
}
Book::~Book() = default;

BookResult Book::Open(const std::filesystem::path& path) {
  PackageResult pkg = Package::Open(path);
  if (!pkg) return {nullptr, std::move(pkg.error)};
  return BookImpl::Load(std::move(pkg.package));
}

BookResult Book::OpenFromMemory(std::string_view bytes, std::string name) {
  PackageResult pkg = Package::OpenFromMemory(bytes, std::move(name));
  if (!pkg) return {nullptr, std::move(pkg.error)};
  return BookImpl::Load(std::move(pkg.package));
}

std::size_t Book::sheet_count() const {
  return impl_->sheets.size();
}
Sheet& Book::sheet(std::size_t index) {
  return *impl_->sheets.at(index);
}
const Sheet& Book::sheet(std::size_t index) const {
  return *impl_->sheets.at(index);
}
std::shared_ptr<Sheet> Book::sheet_ptr(std::size_t index) const {
  return impl_->sheets.at(index);
}

std::optional<std::size_t> Book::FindSheet(std::string_view name) const {
  const std::wstring wanted = Utf8ToWide(name);
  for (std::size_t i = 0; i < impl_->sheets.size(); ++i)
    if (EqualsNoCase(Utf8ToWide(impl_->sheets[i]->name()), wanted)) return i;
  return std::nullopt;
}

Sheet& Book::AddSheet(std::size_t index, std::string_view name) {
  index = std::min(index, impl_->sheets.size());
  auto sheet = std::make_shared<Sheet>(*this, std::string(name), SheetKind::kWorksheet,
                                       SheetState::kVisible);
  sheet->data_->cells_changed = true;
  Sheet& added = *sheet;
  impl_->sheets.insert(impl_->sheets.begin() + static_cast<std::ptrdiff_t>(index),
                       std::move(sheet));
  if (impl_->active >= index && impl_->sheets.size() > 1) ++impl_->active;
  impl_->sheets_changed = true;
  impl_->modified = true;
  return added;
}

void Book::RenameSheet(std::size_t index, std::string_view name) {
  Sheet& s = sheet(index);
  if (s.name_ == name) return;
  s.name_ = name;
  impl_->sheets_changed = true;
  impl_->modified = true;
}

std::size_t Book::active_sheet() const {
  return impl_->active;
}

void Book::SetActiveSheet(std::size_t index) {
  if (index >= impl_->sheets.size() || index == impl_->active) return;
  const std::size_t left = impl_->active;
  impl_->active = index;
  impl_->sheets_changed = true;
  impl_->modified = true;
  // The sheet left is likely finished (an export moves on to the next block name's sheet).
  if (left < impl_->sheets.size()) impl_->ahead.Start(impl_->sheets[left]);
}

bool Book::date1904() const {
  return impl_->date1904;
}

const StyleInfo& Book::Style(std::uint32_t style) const {
  static const StyleInfo kDefault{"General", false};
  if (style < impl_->styles.size()) return impl_->styles[style];
  return impl_->styles.empty() ? kDefault : impl_->styles[0];
}

namespace {
// Answers before building anything when the style already is as asked: every cell written asks
// for its format again.
std::uint32_t Derive(BookImpl& impl, std::uint32_t style, std::string_view format, int bold) {
  static const StyleInfo kDefault{"General", false};
  if (style >= impl.styles.size()) style = 0;
  const StyleInfo& base = impl.styles.empty() ? kDefault : impl.styles[style];
  if (!format.empty() && base.format_code == format) return style;
  if (bold >= 0 && base.bold == (bold == 1)) return style;
  if (auto it = impl.derived.find(std::make_tuple(style, format, bold)); it != impl.derived.end())
    return it->second;
  StyleInfo info = base;
  if (!format.empty()) info.format_code = format;
  if (bold >= 0) info.bold = bold == 1;
  if (impl.styles.empty()) {
    impl.styles.push_back(StyleInfo{"General", false});  // the default every workbook has
    impl.recipes.push_back(StyleRecipe{0, "", -1});
  }
  impl.styles.push_back(std::move(info));
  impl.recipes.push_back(StyleRecipe{style, std::string(format), bold});
  const auto index = static_cast<std::uint32_t>(impl.styles.size() - 1);
  impl.derived.emplace(std::make_tuple(style, std::string(format), bold), index);
  impl.modified = true;
  return index;
}
}  // namespace

std::uint32_t Book::StyleWithFormat(std::uint32_t style, std::string_view code) {
  if (code.empty()) code = "General";
  return Derive(*impl_, style, code, -1);
}

std::uint32_t Book::StyleWithBold(std::uint32_t style, bool bold) {
  return Derive(*impl_, style, "", bold ? 1 : 0);
}

bool Book::modified() const {
  return impl_->modified;
}

std::string Book::Serialize() {
  std::optional<Error> error;
  return impl_->Serialize(&error);
}

std::vector<CellChange> Book::Replace(std::unique_ptr<Book> fresh) {
  impl_->ahead.WaitAll();
  fresh->impl_->ahead.WaitAll();
  std::vector<CellChange> changes;
  auto compare = [&changes](const Sheet* before, const Sheet* after, const std::string& name) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cells;
    if (before) cells = before->CellPositions();
    if (after) {
      auto more = after->CellPositions();
      cells.insert(cells.end(), more.begin(), more.end());
    }
    std::sort(cells.begin(), cells.end());
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    for (auto [r, c] : cells) {
      CellValue a = before ? before->Value(r, c) : CellValue{};
      CellValue b = after ? after->Value(r, c) : CellValue{};
      if (!(a == b)) changes.push_back(CellChange{name, r, c});
    }
  };
  for (const auto& s : fresh->impl_->sheets) {
    if (s->kind() != SheetKind::kWorksheet) continue;
    std::optional<std::size_t> old = FindSheet(s->name());
    compare(old ? impl_->sheets[*old].get() : nullptr, s.get(), s->name());
  }
  // Sheets that stay keep their objects, which hold the new content; a sheet that is gone
  // is emptied, so that whoever still holds it reads nothing stale.
  for (auto& s : impl_->sheets) {
    bool stays = false;
    for (auto& f : fresh->impl_->sheets)
      stays |= EqualsNoCase(Utf8ToWide(f->name()), Utf8ToWide(s->name()));
    if (!stays) s->data_ = std::make_unique<Sheet::Data>();
  }
  for (auto& s : fresh->impl_->sheets) {
    std::optional<std::size_t> old = FindSheet(s->name());
    if (!old) continue;
    std::shared_ptr<Sheet> kept = impl_->sheets[*old];
    std::swap(kept->data_, s->data_);
    kept->kind_ = s->kind_;
    kept->state_ = s->state_;
    s = kept;
  }
  std::swap(impl_, fresh->impl_);
  impl_->owner = this;
  for (auto& s : impl_->sheets) s->book_ = this;
  impl_->modified = false;
  return changes;
}

}  // namespace sheetwise::xlsx

namespace sheetwise::xlsx {
namespace {
bool IdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' ||
         static_cast<unsigned char>(c) >= 0x80;
}
}  // namespace

std::string TranslateFormula(std::string_view f, int drow, int dcol) {
  std::string out;
  out.reserve(f.size() + 8);
  std::size_t i = 0;
  auto copy_quoted = [&](char quote) {
    out += f[i++];
    while (i < f.size()) {
      out += f[i];
      if (f[i++] == quote) {
        if (i < f.size() && f[i] == quote) {
          out += f[i++];
          continue;
        }
        break;
      }
    }
  };
  while (i < f.size()) {
    const char ch = f[i];
    if (ch == '"' || ch == '\'') {
      copy_quoted(ch);
      continue;
    }
    if (ch == '[') {  // structured and external references are left as they are
      const std::size_t close = f.find(']', i);
      const std::size_t end = close == std::string_view::npos ? f.size() : close + 1;
      out += f.substr(i, end - i);
      i = end;
      continue;
    }
    const bool starts_token = i == 0 || !IdentChar(f[i - 1]);
    if (starts_token && (ch == '$' || std::isalpha(static_cast<unsigned char>(ch)))) {
      std::size_t j = i;
      const bool col_abs = f[j] == '$';
      if (col_abs) ++j;
      std::size_t letters = 0;
      std::uint32_t col = 0;
      while (j < f.size() && std::isalpha(static_cast<unsigned char>(f[j])) && letters < 4) {
        col = col * 26 + static_cast<std::uint32_t>(std::toupper(f[j]) - 'A' + 1);
        ++j;
        ++letters;
      }
      const bool row_abs = j < f.size() && f[j] == '$';
      if (row_abs) ++j;
      std::size_t digits = 0;
      std::uint64_t row = 0;
      while (j < f.size() && std::isdigit(static_cast<unsigned char>(f[j])) && digits < 8) {
        row = row * 10 + static_cast<std::uint64_t>(f[j] - '0');
        ++j;
        ++digits;
      }
      const bool ends = j >= f.size() || (!IdentChar(f[j]) && f[j] != '(' && f[j] != '!');
      if (letters >= 1 && letters <= 3 && digits >= 1 && ends && col <= kMaxColumn && row >= 1 &&
          row <= kMaxRow) {
        const std::int64_t c2 = col_abs ? col : static_cast<std::int64_t>(col) + dcol;
        const std::int64_t r2 =
            row_abs ? static_cast<std::int64_t>(row) : static_cast<std::int64_t>(row) + drow;
        if (c2 < 1 || c2 > kMaxColumn || r2 < 1 || r2 > kMaxRow) {
          out += "#REF!";
        } else {
          std::string ref =
              FormatCellRef(static_cast<std::uint32_t>(r2), static_cast<std::uint32_t>(c2));
          std::size_t split = ref.find_first_of("0123456789");
          if (col_abs) out += '$';
          out += ref.substr(0, split);
          if (row_abs) out += '$';
          out += ref.substr(split);
        }
        i = j;
        continue;
      }
      // A name or function: copied whole, so that no reference is read inside it.
      std::size_t k = i + (ch == '$' ? 1 : 0);
      while (k < f.size() && IdentChar(f[k])) ++k;
      if (k == i) k = i + 1;
      out += f.substr(i, k - i);
      i = k;
      continue;
    }
    out += ch;
    ++i;
  }
  return out;
}

}  // namespace sheetwise::xlsx
