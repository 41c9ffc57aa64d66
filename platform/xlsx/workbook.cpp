#include "platform/xlsx/workbook.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <deque>

#include "platform/xlsx/xml_internal.h"
#include "platform/xlsx/xml_scan.h"

namespace sheetwise::xlsx {
namespace {

// Excel's built-in number formats (en-US); ids 5-8 and 23-36 are locale-dependent and shown
// as Excel writes them for en-US.
constexpr std::array<std::string_view, 50> kBuiltinFormats = {
    "General",
    "0",
    "0.00",
    "#,##0",
    "#,##0.00",
    "\"$\"#,##0_);(\"$\"#,##0)",
    "\"$\"#,##0_);[Red](\"$\"#,##0)",
    "\"$\"#,##0.00_);(\"$\"#,##0.00)",
    "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)",
    "0%",
    "0.00%",
    "0.00E+00",
    "# ?/?",
    "# ?"
    "?/?"
    "?",
    "m/d/yyyy",
    "d-mmm-yy",
    "d-mmm",
    "mmm-yy",
    "h:mm AM/PM",
    "h:mm:ss AM/PM",
    "h:mm",
    "h:mm:ss",
    "m/d/yyyy h:mm",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "#,##0_);(#,##0)",
    "#,##0_);[Red](#,##0)",
    "#,##0.00_);(#,##0.00)",
    "#,##0.00_);[Red](#,##0.00)",
    "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)",
    "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)",
    "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)",
    "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"??_);_(@_)",
    "mm:ss",
    "[h]:mm:ss",
    "mm:ss.0",
    "##0.0E+0",
    "@"};

const CellStyle kDefaultStyle{0, "General", false};

// Plain text of a string item (<si> or <is>): its <t>, or its runs' <t> joined; phonetic runs
// (<rPh>) are reading aids, not part of the text.
void AppendPlainText(const pugi::xml_node& item, std::string& out) {
  for (pugi::xml_node n = item.first_child(); n; n = n.next_sibling()) {
    std::string_view name = LocalName(n);
    if (name == "t") {
      out += n.child_value();
    } else if (name == "r") {
      if (pugi::xml_node t = Child(n, "t")) out += t.child_value();
    }
  }
}

// A string item that is a single <t> can be viewed in place; only rich text needs joining.
const char* SingleText(const pugi::xml_node& item) {
  pugi::xml_node only;
  for (pugi::xml_node n = item.first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    std::string_view name = LocalName(n);
    if (name == "rPh" || name == "phoneticPr") continue;
    if (only || name != "t") return nullptr;
    only = n;
  }
  return only ? only.child_value() : "";
}

// The shared strings scanned straight from the part's bytes (a large workbook holds a million);
// false for anything unusual, which the tree parser then reads or reports.
bool ScanSharedStrings(std::string_view xml, std::vector<std::string>& out) {
  using scan::Tag;
  std::size_t pos = 0;
  Tag tag;
  bool failed = false;
  if (!scan::NextTag(xml, pos, xml.size(), tag, &failed) || tag.local != "sst") return false;
  if (tag.kind == Tag::kEmpty) return true;
  if (std::string_view count; scan::Attribute(tag.attributes, "uniqueCount", count)) {
    std::uint32_t n = 0;
    if (ParseUint(count, n) && n < (1u << 24)) out.reserve(n);
  }
  std::string piece;
  while (scan::NextTag(xml, pos, xml.size(), tag, &failed)) {
    if (tag.kind == Tag::kEnd)
      return tag.local == "sst" && !scan::NextTag(xml, pos, xml.size(), tag, &failed) && !failed;
    if (tag.local != "si") {
      if (tag.kind == Tag::kStart && !scan::SkipElement(xml, pos, xml.size())) return false;
      continue;
    }
    std::string& text = out.emplace_back();
    if (tag.kind == Tag::kEmpty) continue;
    // The texts of the item and of its runs; phonetic runs are reading aids.
    for (;;) {
      if (!scan::NextTag(xml, pos, xml.size(), tag, &failed)) return false;
      if (tag.kind == Tag::kEnd) {
        if (tag.local == "si") break;
        continue;
      }
      if (tag.kind != Tag::kStart) continue;
      if (tag.local == "t") {
        if (!scan::Text(xml, pos, xml.size(), "t", piece)) return false;
        text += piece;
      } else if (tag.local == "rPh") {
        if (!scan::SkipElement(xml, pos, xml.size())) return false;
      }
    }
    if (text.find("_x") != std::string::npos) text = DecodeCellEscapes(std::move(text));
  }
  return false;  // the end tag of <sst> is missing
}

}  // namespace

bool g_tree_reader_only = false;

std::string_view BuiltinNumberFormat(std::uint32_t id) {
  return id < kBuiltinFormats.size() ? kBuiltinFormats[id] : std::string_view();
}

bool ParseCellRef(std::string_view ref, std::uint32_t& row, std::uint32_t& col) {
  std::size_t i = 0;
  if (i < ref.size() && ref[i] == '$') ++i;
  std::uint32_t c = 0;
  std::size_t letters = 0;
  for (; i < ref.size() && letters < 4; ++i, ++letters) {
    char ch = ref[i];
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    if (ch < 'A' || ch > 'Z') break;
    c = c * 26 + static_cast<std::uint32_t>(ch - 'A' + 1);
  }
  if (letters == 0 || c > kMaxColumn) return false;
  if (i < ref.size() && ref[i] == '$') ++i;
  std::uint32_t r = 0;
  std::size_t digits = 0;
  for (; i < ref.size(); ++i, ++digits) {
    char ch = ref[i];
    if (ch < '0' || ch > '9' || digits >= 7) return false;
    r = r * 10 + static_cast<std::uint32_t>(ch - '0');
  }
  if (digits == 0 || r == 0 || r > kMaxRow) return false;
  row = r;
  col = c;
  return true;
}

char* PutColumnLetters(std::uint32_t col, char* out) {
  char letters[4];
  int n = 0;
  for (std::uint32_t c = col; c > 0 && n < 4; c = (c - 1) / 26)
    letters[n++] = static_cast<char>('A' + (c - 1) % 26);
  while (n > 0) *out++ = letters[--n];
  return out;
}

std::string FormatCellRef(std::uint32_t row, std::uint32_t col) {
  if (row == 0 || row > kMaxRow || col == 0 || col > kMaxColumn) return {};
  char letters[4];
  return std::string(letters, PutColumnLetters(col, letters)) + std::to_string(row);
}

struct Worksheet::Pool {
  std::deque<std::string> strings;  // deque: views into earlier strings stay valid
};

Worksheet::Worksheet() : pool_(std::make_unique<Pool>()) {}
Worksheet::~Worksheet() = default;
Worksheet::Worksheet(Worksheet&&) noexcept = default;
Worksheet& Worksheet::operator=(Worksheet&&) noexcept = default;

const Cell* Worksheet::Find(std::uint32_t row, std::uint32_t col) const {
  auto key = [](std::uint32_t r, std::uint32_t c) { return (std::uint64_t{r} << 16) | c; };
  if (sorted_) {
    auto it =
        std::lower_bound(cells_.begin(), cells_.end(), key(row, col),
                         [&](const Cell& c, std::uint64_t k) { return key(c.row, c.col) < k; });
    return it != cells_.end() && it->row == row && it->col == col ? &*it : nullptr;
  }
  for (const Cell& c : cells_)
    if (c.row == row && c.col == col) return &c;
  return nullptr;
}

WorkbookResult Workbook::Open(const std::filesystem::path& path) {
  PackageResult pkg = Package::Open(path);
  if (!pkg) return {nullptr, std::move(pkg.error)};
  return FromPackage(std::move(pkg.package));
}

WorkbookResult Workbook::OpenFromMemory(std::string_view bytes, std::string name) {
  PackageResult pkg = Package::OpenFromMemory(bytes, std::move(name));
  if (!pkg) return {nullptr, std::move(pkg.error)};
  return FromPackage(std::move(pkg.package));
}

const CellStyle& Workbook::Style(std::uint32_t style) const {
  return style < styles_.size() ? styles_[style] : kDefaultStyle;
}

WorkbookResult Workbook::FromPackage(std::unique_ptr<Package> package) {
  auto wb = std::unique_ptr<Workbook>(new Workbook());
  wb->package_ = std::move(package);
  const Package& pkg = *wb->package_;
  auto fail = [&pkg](std::string_view part, std::string message,
                     std::optional<std::uint64_t> offset = std::nullopt) {
    return WorkbookResult{nullptr, pkg.MakeError(part, std::move(message), offset)};
  };
  const Relationship* main = pkg.FindRelationshipByType("", "/officeDocument");
  if (main == nullptr || main->mode != TargetMode::kInternal)
    return fail("_rels/.rels", "no officeDocument relationship: not a workbook package");
  wb->workbook_part_ = main->target;
  const Part* part = pkg.FindPart(main->target);
  if (part == nullptr) return fail(main->target, "the workbook part is missing");

  std::string buffer = part->bytes;
  pugi::xml_document doc;
  if (auto e = ParseXmlInPlace(pkg, part->name, buffer, doc)) return {nullptr, std::move(e)};
  pugi::xml_node root = doc.document_element();
  if (LocalName(root) != "workbook")
    return fail(part->name,
                "root element <workbook> expected, found <" + std::string(root.name()) + ">");
  if (pugi::xml_node pr = Child(root, "workbookPr"))
    wb->date1904_ = XmlTrue(pr.attribute("date1904").value());
  for (pugi::xml_node s = Child(root, "sheets").first_child(); s; s = s.next_sibling()) {
    if (s.type() != pugi::node_element || LocalName(s) != "sheet") continue;
    SheetInfo info;
    info.name = s.attribute("name").value();
    if (info.name.empty()) return fail(part->name, "a <sheet> without a name");
    (void)ParseUint(s.attribute("sheetId").value(), info.sheet_id);
    std::string_view state = s.attribute("state").value();
    info.state = state == "hidden"       ? SheetState::kHidden
                 : state == "veryHidden" ? SheetState::kVeryHidden
                                         : SheetState::kVisible;
    info.rel_id = Attribute(s, "id").value();
    info.kind = SheetKind::kOther;
    if (const Relationship* rel = pkg.FindRelationship(part->name, info.rel_id)) {
      info.part = rel->target;
      if (rel->type.ends_with("/worksheet"))
        info.kind = SheetKind::kWorksheet;
      else if (rel->type.ends_with("/chartsheet"))
        info.kind = SheetKind::kChartsheet;
    }
    wb->sheets_.push_back(std::move(info));
  }
  for (pugi::xml_node n = Child(root, "definedNames").first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element || LocalName(n) != "definedName") continue;
    DefinedName dn;
    dn.name = n.attribute("name").value();
    dn.formula = n.child_value();
    std::uint32_t local = 0;
    if (ParseUint(n.attribute("localSheetId").value(), local)) dn.local_sheet = local;
    dn.hidden = XmlTrue(n.attribute("hidden").value());
    wb->names_.push_back(std::move(dn));
  }

  if (const Relationship* rel = pkg.FindRelationshipByType(part->name, "/sharedStrings")) {
    const Part* sst = pkg.FindPart(rel->target);
    if (sst != nullptr &&
        (g_tree_reader_only || !ScanSharedStrings(sst->bytes, wb->shared_strings_))) {
      wb->shared_strings_.clear();
      std::string sbuf = sst->bytes;
      pugi::xml_document sdoc;
      if (auto e = ParseXmlInPlace(pkg, sst->name, sbuf, sdoc)) return {nullptr, std::move(e)};
      for (pugi::xml_node si = sdoc.document_element().first_child(); si; si = si.next_sibling()) {
        if (si.type() != pugi::node_element || LocalName(si) != "si") continue;
        std::string text;
        AppendPlainText(si, text);
        wb->shared_strings_.push_back(DecodeCellEscapes(std::move(text)));
      }
    }
  }

  if (const Relationship* rel = pkg.FindRelationshipByType(part->name, "/styles")) {
    if (const Part* st = pkg.FindPart(rel->target)) {
      std::string sbuf = st->bytes;
      pugi::xml_document sdoc;
      if (auto e = ParseXmlInPlace(pkg, st->name, sbuf, sdoc)) return {nullptr, std::move(e)};
      pugi::xml_node ss = sdoc.document_element();
      std::vector<std::pair<std::uint32_t, std::string>> custom;
      for (pugi::xml_node f = Child(ss, "numFmts").first_child(); f; f = f.next_sibling()) {
        std::uint32_t id = 0;
        if (LocalName(f) == "numFmt" && ParseUint(f.attribute("numFmtId").value(), id))
          custom.emplace_back(id, f.attribute("formatCode").value());
      }
      std::vector<bool> bold_fonts;
      for (pugi::xml_node f = Child(ss, "fonts").first_child(); f; f = f.next_sibling()) {
        if (LocalName(f) != "font") continue;
        pugi::xml_node b = Child(f, "b");
        pugi::xml_attribute val = b.attribute("val");
        bold_fonts.push_back(b && (!val || XmlTrue(val.value())));
      }
      for (pugi::xml_node x = Child(ss, "cellXfs").first_child(); x; x = x.next_sibling()) {
        if (LocalName(x) != "xf") continue;
        CellStyle style;
        (void)ParseUint(x.attribute("numFmtId").value(), style.num_fmt_id);
        std::uint32_t font = 0;
        if (ParseUint(x.attribute("fontId").value(), font) && font < bold_fonts.size())
          style.bold = bold_fonts[font];
        style.format_code = BuiltinNumberFormat(style.num_fmt_id);
        for (const auto& [id, code] : custom)
          if (id == style.num_fmt_id) style.format_code = code;
        wb->styles_.push_back(std::move(style));
      }
    }
  }
  if (wb->styles_.empty()) wb->styles_.push_back(kDefaultStyle);
  return {std::move(wb), std::nullopt};
}

SheetResult Workbook::ReadSheet(std::size_t index) const {
  const Package& pkg = *package_;
  if (index >= sheets_.size())
    return {nullptr, pkg.MakeError(workbook_part_, "no sheet " + std::to_string(index) +
                                                       " (the workbook has " +
                                                       std::to_string(sheets_.size()) + ")")};
  const SheetInfo& info = sheets_[index];
  if (info.kind != SheetKind::kWorksheet)
    return {nullptr, pkg.MakeError(info.part.empty() ? workbook_part_ : info.part,
                                   "sheet '" + info.name + "' is not a worksheet")};
  const Part* part = pkg.FindPart(info.part);
  if (part == nullptr)
    return {nullptr, pkg.MakeError(info.part.empty() ? workbook_part_ : info.part,
                                   "the part of sheet '" + info.name + "' is missing")};
  auto sheet = std::make_unique<Worksheet>();
  sheet->buffer_ = part->bytes;
  pugi::xml_document doc;
  if (auto e = ParseXmlInPlace(pkg, part->name, sheet->buffer_, doc))
    return {nullptr, std::move(e)};
  const char* base = sheet->buffer_.data();
  const char* end = base + sheet->buffer_.size();
  auto offset_of = [&](const char* p) -> std::optional<std::uint64_t> {
    if (p >= base && p < end) return static_cast<std::uint64_t>(p - base);
    return std::nullopt;  // the part was converted from UTF-16: no position in the bytes
  };
  auto fail = [&](std::string message, const char* where) {
    return SheetResult{nullptr, pkg.MakeError(part->name, std::move(message), offset_of(where))};
  };
  pugi::xml_node root = doc.document_element();
  if (LocalName(root) != "worksheet")
    return fail("root element <worksheet> expected, found <" + std::string(root.name()) + ">",
                root.name());

  for (pugi::xml_node c = Child(root, "cols").first_child(); c; c = c.next_sibling()) {
    if (LocalName(c) != "col") continue;
    ColumnInfo col;
    if (!ParseUint(c.attribute("min").value(), col.min) ||
        !ParseUint(c.attribute("max").value(), col.max) || col.min == 0 || col.max < col.min ||
        col.max > kMaxColumn)
      return fail("bad <col> range", c.attribute("min").value());
    col.width = c.attribute("width").as_double();
    col.custom_width = XmlTrue(c.attribute("customWidth").value());
    col.hidden = XmlTrue(c.attribute("hidden").value());
    sheet->columns_.push_back(col);
  }

  std::uint32_t row_no = 0;
  std::uint64_t last_key = 0;
  for (pugi::xml_node r = Child(root, "sheetData").first_child(); r; r = r.next_sibling()) {
    if (r.type() != pugi::node_element || LocalName(r) != "row") continue;
    // A row or cell without r follows the one before it, as some writers leave r out.
    if (pugi::xml_attribute ra = r.attribute("r")) {
      if (!ParseUint(ra.value(), row_no) || row_no == 0 || row_no > kMaxRow)
        return fail(std::string("bad row number '") + ra.value() + "'", ra.value());
    } else if (++row_no > kMaxRow) {
      return fail("more rows than a worksheet holds", r.name());
    }
    std::uint32_t col_no = 0;
    for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element || LocalName(c) != "c") continue;
      Cell cell;
      if (pugi::xml_attribute ref = c.attribute("r")) {
        if (!ParseCellRef(ref.value(), cell.row, cell.col))
          return fail(std::string("bad cell reference '") + ref.value() + "'", ref.value());
      } else {
        cell.row = row_no;
        cell.col = col_no + 1;
        if (cell.col > kMaxColumn)
          return fail("more cells in a row than a worksheet holds", c.name());
      }
      col_no = cell.col;
      if (pugi::xml_attribute s = c.attribute("s"); s && !ParseUint(s.value(), cell.style))
        return fail(std::string("bad style index '") + s.value() + "'", s.value());
      std::string_view t = c.attribute("t").value();
      pugi::xml_node v = Child(c, "v");
      const char* value = v.child_value();
      if (pugi::xml_node f = Child(c, "f")) {
        cell.formula = f.child_value();
        std::uint32_t si = 0;
        if (std::string_view(f.attribute("t").value()) == "shared" &&
            ParseUint(f.attribute("si").value(), si))
          cell.formula_shared_index = si;
      }
      bool has_value = v || t == "inlineStr";
      if (!has_value) {
        cell.type = CellType::kBlank;
      } else if (t.empty() || t == "n") {
        cell.type = CellType::kNumber;
        std::string_view sv = value;
        auto [p, ec] = std::from_chars(sv.data(), sv.data() + sv.size(), cell.number);
        if (ec != std::errc() || p != sv.data() + sv.size())
          return fail(
              "bad number '" + std::string(sv) + "' in cell " + FormatCellRef(cell.row, cell.col),
              value);
      } else if (t == "s") {
        cell.type = CellType::kSharedString;
        std::uint32_t si = 0;
        if (!ParseUint(value, si) || si >= shared_strings_.size())
          return fail("shared string index '" + std::string(value) + "' out of range in cell " +
                          FormatCellRef(cell.row, cell.col),
                      value);
        cell.text = shared_strings_[si];
      } else if (t == "str") {
        cell.type = CellType::kFormulaString;
        cell.text = value;
      } else if (t == "inlineStr") {
        cell.type = CellType::kInlineString;
        pugi::xml_node is = Child(c, "is");
        if (const char* single = SingleText(is)) {
          cell.text = single;
        } else {
          std::string& joined = sheet->pool_->strings.emplace_back();
          AppendPlainText(is, joined);
          cell.text = joined;
        }
      } else if (t == "b") {
        cell.type = CellType::kBool;
        std::string_view bv = value;
        if (bv != "0" && bv != "1" && bv != "true" && bv != "false")
          return fail(
              "bad boolean '" + std::string(bv) + "' in cell " + FormatCellRef(cell.row, cell.col),
              value);
        cell.number = XmlTrue(bv) ? 1 : 0;
      } else if (t == "e") {
        cell.type = CellType::kError;
        cell.text = value;
      } else if (t == "d") {
        cell.type = CellType::kDate;
        cell.text = value;
      } else {
        return fail("unknown cell type '" + std::string(t) + "' in cell " +
                        FormatCellRef(cell.row, cell.col),
                    c.attribute("t").value());
      }
      std::uint64_t key = (std::uint64_t{cell.row} << 16) | cell.col;
      if (key <= last_key) sheet->sorted_ = false;
      last_key = key;
      sheet->cells_.push_back(cell);
    }
  }
  return {std::move(sheet), std::nullopt};
}

}  // namespace sheetwise::xlsx
