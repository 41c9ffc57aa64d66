// Reading a DXF file into the tag index: one pass over the bytes that splits tags, checks the
// value syntax of every numeric tag and the section structure, and chains the records.
#include "platform/dxf/reader_internal.h"

#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/dxf/group_codes.h"

namespace sheetwise::dxf {

namespace {

constexpr std::string_view kBinarySentinel("AutoCAD Binary DXF\r\n\x1a\0", 22);
constexpr std::string_view kUtf8Bom("\xEF\xBB\xBF", 3);

// Quoted for a message: at most 40 bytes, control bytes as '?'.
std::string Quote(std::string_view s) {
  std::string out = "'";
  for (size_t i = 0; i < s.size() && i < 40; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    out.push_back(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
  }
  if (s.size() > 40) out += "...";
  return out + "'";
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A number that ParseReal (with `fraction`) or ParseInteger surely accepts: an optional '-',
// 1-15 digits, and with `fraction` an optional '.' and 1-15 digits. Most numbers of a drawing
// look so, and checking them here is several times faster than parsing; anything else (blanks,
// exponents, '+', long digit runs) goes to the parser.
bool IsPlainNumber(std::string_view v, bool fraction) {
  size_t i = !v.empty() && v[0] == '-';
  const auto digits = [&v, &i]() {
    const size_t from = i;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9') ++i;
    return i - from >= 1 && i - from <= 15;
  };
  if (!digits()) return false;
  if (i == v.size()) return true;
  if (!fraction || v[i] != '.') return false;
  ++i;
  return digits() && i == v.size();
}

const char* TypeWord(ValueType t) {
  switch (t) {
    case ValueType::kDouble:
      return "floating-point value";
    case ValueType::kBool:
      return "boolean value (0 or 1)";
    case ValueType::kInt16:
    case ValueType::kInt32:
    case ValueType::kInt64:
      return "integer value";
    default:
      return "value";
  }
}

class Reader {
 public:
  Reader(DxfDocument::Impl& doc, LoadResult& result) : d_(doc), r_(result) {}

  bool Run() {
    const std::string_view data = d_.data;
    if (data.size() >= 0xFFFFFFF0u) return Fail(0, 0, "a file smaller than 4 GiB expected");
    if (data.substr(0, kBinarySentinel.size()) == kBinarySentinel) {
      d_.format = Format::kBinary;
      d_.prefix_len = static_cast<std::uint32_t>(kBinarySentinel.size());
      if (!TokenizeBinary()) return false;
    } else {
      if (data.substr(0, 3) == kUtf8Bom) d_.prefix_len = 3;
      if (!TokenizeAscii()) return false;
    }
    return Finish();
  }

 private:
  bool Fail(std::uint64_t line, std::uint64_t offset, std::string message) {
    Diagnostic e;
    e.file = d_.name;
    e.binary = d_.format == Format::kBinary;
    e.line = e.binary ? 0 : line;
    e.offset = offset;
    e.message = std::move(message);
    r_.error = std::move(e);
    return false;
  }
  void Warn(std::uint64_t line, std::uint64_t offset, std::string message) {
    Diagnostic w;
    w.file = d_.name;
    w.binary = d_.format == Format::kBinary;
    w.line = w.binary ? 0 : line;
    w.offset = offset;
    w.message = std::move(message);
    r_.warnings.push_back(std::move(w));
  }
  // Position of a record or tag for diagnostics: a line, or a byte offset for binary files.
  bool FailAt(std::uint32_t position, std::string message) {
    return d_.format == Format::kBinary ? Fail(0, position, std::move(message))
                                        : Fail(position, 0, std::move(message));
  }

  bool TokenizeAscii() {
    const char* const base = d_.data.data();
    const size_t n = d_.data.size();
    size_t pos = d_.prefix_len;
    std::uint64_t line = 1;
    size_t crlf = 0, lf = 0;
    std::uint64_t first_crlf_line = 0, first_lf_line = 0;
    std::uint64_t blank_line = 0;
    size_t blanks = 0;
    Reserve(n / 8);
    // Splits one line at `pos`: content [pos, content_end), line end length.
    auto split = [&](size_t at, size_t& content_end, std::uint8_t& eol_len) {
      const void* nl = std::memchr(base + at, '\n', n - at);
      if (!nl) {
        content_end = n;
        eol_len = 0;
        return;
      }
      const size_t nl_at = static_cast<size_t>(static_cast<const char*>(nl) - base);
      if (nl_at > at && base[nl_at - 1] == '\r') {
        content_end = nl_at - 1;
        eol_len = 2;
        if (++crlf == 1) first_crlf_line = line;
      } else {
        content_end = nl_at;
        eol_len = 1;
        if (++lf == 1) first_lf_line = line;
      }
    };
    bool first_tag = true;
    while (pos < n) {
      const size_t code_begin = pos;
      size_t code_end;
      std::uint8_t code_eol;
      split(pos, code_end, code_eol);
      // The group code: blanks, an integer, blanks.
      size_t p = code_begin;
      while (p < code_end && IsBlank(base[p])) ++p;
      const size_t digits_begin = p;
      if (p < code_end && base[p] == '-') ++p;
      while (p < code_end && base[p] >= '0' && base[p] <= '9' && p - digits_begin < 7) ++p;
      size_t q = p;
      while (q < code_end && IsBlank(base[q])) ++q;
      const std::string_view code_text(base + code_begin, code_end - code_begin);
      // The digits were scanned above (at most 7): their value directly, as this runs for
      // every tag.
      const bool negative = p > digits_begin && base[digits_begin] == '-';
      std::optional<std::int64_t> code;
      if (p > digits_begin + negative) {
        std::int64_t v = 0;
        for (size_t k = digits_begin + negative; k < p; ++k) v = v * 10 + (base[k] - '0');
        code = negative ? -v : v;
      }
      if (!code || q != code_end || *code < -32768 || *code > 32767) {
        if (code_eol == 0 && code_end == code_begin) break;  // blank bytes at the very end
        return Fail(line, code_begin, "group code expected, found " + Quote(code_text));
      }
      if (q != p && blanks++ == 0) blank_line = line;
      if (code_eol == 0) {
        return Fail(
            line + 1, n,
            "value of group code " + std::to_string(*code) + " expected, found end of file");
      }
      ++line;
      const size_t value_begin = code_end + code_eol;
      if (value_begin >= n) {
        return Fail(
            line, n,
            "value of group code " + std::to_string(*code) + " expected, found end of file");
      }
      if (value_begin - code_begin > 0xFFFF) {
        return Fail(line - 1, code_begin, "group code expected, found " + Quote(code_text));
      }
      size_t value_end;
      std::uint8_t value_eol;
      split(value_begin, value_end, value_eol);
      Tag t;
      t.begin = static_cast<std::uint32_t>(code_begin);
      t.value_off = static_cast<std::uint16_t>(value_begin - code_begin);
      t.value_len = static_cast<std::uint32_t>(value_end - value_begin);
      t.tail_len = value_eol;
      t.code = static_cast<std::int16_t>(*code);
      const std::string_view value(base + value_begin, t.value_len);
      const ValueType type = ValueTypeOf(t.code);
      if (type != ValueType::kString && type != ValueType::kHandle && type != ValueType::kBinary) {
        const bool ok = IsPlainNumber(value, type == ValueType::kDouble) ||
                        (type == ValueType::kDouble ? ParseReal(value).has_value()
                                                    : ParseInteger(value).has_value());
        if (!ok) {
          return Fail(line, value_begin,
                      std::string(TypeWord(type)) + " for group code " + std::to_string(t.code) +
                          " expected, found " + Quote(value));
        }
        if (!value.empty() && IsBlank(value.back()) && blanks++ == 0) blank_line = line;
      }
      if (first_tag) {
        first_tag = false;
        d_.code_style = code_end - code_begin >= 3 ? CodeStyle::kRightAligned3 : CodeStyle::kPlain;
      }
      d_.tags.push_back(t);
      if (!OnTag(static_cast<std::uint32_t>(line - 1), value)) return false;
      ++line;
      pos = value_begin + t.value_len + value_eol;
      if (done_) {
        d_.tail_begin = static_cast<std::uint32_t>(pos);
        break;
      }
    }
    if (!done_) d_.tail_begin = static_cast<std::uint32_t>(n);
    if (crlf >= lf) {
      d_.eol = "\r\n";
    } else {
      d_.eol = "\n";
    }
    if (crlf && lf) {
      Warn(std::max(first_crlf_line, first_lf_line), 0,
           "mixed line ends: " + std::to_string(crlf) + " CR LF and " + std::to_string(lf) +
               " LF lines; kept as read, new lines end with " + (d_.eol == "\n" ? "LF" : "CR LF"));
    }
    if (blanks) {
      Warn(blank_line, 0,
           std::to_string(blanks) +
               " group codes or numbers with trailing blanks; read without "
               "them, kept as read");
    }
    return true;
  }

  bool TokenizeBinary() {
    const auto* base = reinterpret_cast<const unsigned char*>(d_.data.data());
    const size_t n = d_.data.size();
    size_t pos = d_.prefix_len;
    if (pos + 2 > n) return Fail(0, pos, "group code 0 expected, found end of file");
    // R12 writes one-byte group codes (255 escapes a two-byte code), later releases two bytes.
    d_.binary_short_codes = base[pos] == 0 && base[pos + 1] == 'S';
    Reserve(n / 6);
    while (pos < n) {
      const size_t begin = pos;
      int code;
      if (d_.binary_short_codes) {
        code = base[pos++];
        if (code == 255) {
          if (pos + 2 > n) return Fail(0, begin, "two-byte group code expected, found end of file");
          code = static_cast<std::int16_t>(base[pos] | (base[pos + 1] << 8));
          pos += 2;
        }
      } else {
        if (pos + 2 > n) return Fail(0, begin, "group code expected, found end of file");
        code = static_cast<std::int16_t>(base[pos] | (base[pos + 1] << 8));
        pos += 2;
      }
      Tag t;
      t.begin = static_cast<std::uint32_t>(begin);
      t.code = static_cast<std::int16_t>(code);
      size_t size = 0;
      const ValueType type = ValueTypeOf(code);
      switch (type) {
        case ValueType::kDouble:
          size = 8;
          break;
        case ValueType::kInt16:
          size = 2;
          break;
        case ValueType::kInt32:
          size = 4;
          break;
        case ValueType::kInt64:
          size = 8;
          break;
        case ValueType::kBool:
          size = 1;
          break;
        case ValueType::kBinary:
          if (pos >= n) {
            return Fail(
                0, pos,
                "length of binary group " + std::to_string(code) + " expected, found end of file");
          }
          size = base[pos++];
          break;
        case ValueType::kString:
        case ValueType::kHandle: {
          const void* zero = std::memchr(base + pos, 0, n - pos);
          if (!zero) {
            return Fail(0, pos,
                        "zero-terminated string of group code " + std::to_string(code) +
                            " expected, found end of file");
          }
          size = static_cast<size_t>(static_cast<const unsigned char*>(zero) - (base + pos));
          t.tail_len = 1;
          break;
        }
      }
      if (pos + size + t.tail_len > n) {
        return Fail(0, pos,
                    std::to_string(size) + "-byte value of group code " + std::to_string(code) +
                        " expected, found end of file");
      }
      t.value_off = static_cast<std::uint16_t>(pos - begin);
      t.value_len = static_cast<std::uint32_t>(size);
      d_.tags.push_back(t);
      const std::string_view value(reinterpret_cast<const char*>(base) + pos, size);
      if (!OnTag(static_cast<std::uint32_t>(begin), value)) return false;
      pos += size + t.tail_len;
      if (done_) break;
    }
    d_.tail_begin = static_cast<std::uint32_t>(pos);
    d_.eol.clear();
    return true;
  }

  // Room for the tags and records of a file of `tag_estimate` tags, made once: growing a
  // vector of millions of tags copies it and touches twice the memory. Drawings hold 12-16
  // bytes a tag in ASCII (8-12 binary) and over 100 a record, so the estimates are generous;
  // what is reserved and never written costs address space only (the blocks are mappings).
  // A denser file still reads, growing the vectors as needed.
  // Where the estimate is more than the memory there is, the vectors grow as the file needs.
  void Reserve(std::size_t tag_estimate) {
    try {
      d_.tags.reserve(tag_estimate + 16);
      d_.records.reserve(tag_estimate / 8 + 16);
    } catch (const std::bad_alloc&) {
    }
  }

  static std::string_view TrimmedType(std::string_view v) {
    while (!v.empty() && IsBlank(v.back())) v.remove_suffix(1);
    while (!v.empty() && IsBlank(v.front())) v.remove_prefix(1);
    return v;
  }

  // Chains records and checks the section structure as each tag arrives.
  bool OnTag(std::uint32_t position, std::string_view value) {
    const std::uint32_t index = static_cast<std::uint32_t>(d_.tags.size() - 1);
    const int code = d_.tags.back().code;
    if (expect_section_name_ && code != kCodeComment) {
      if (code != kCodeName) {
        return FailAt(position,
                      "section name (group 2) expected, found group code " + std::to_string(code));
      }
      expect_section_name_ = false;
      d_.sections.back().name = std::string(TrimmedType(value));
    }
    if (code != kCodeType) {
      if (d_.records.empty()) StartRecord(index, position);  // leading comments
      if (!in_section_ && !expect_section_name_ && code != kCodeComment) {
        return FailAt(position, "group code 0 (SECTION or EOF) expected, found group code " +
                                    std::to_string(code));
      }
      return true;
    }
    const std::string_view type = TrimmedType(value);
    if (!in_section_) {
      if (type == "SECTION") {
        StartRecord(index, position);
        in_section_ = true;
        expect_section_name_ = true;
        section_position_ = position;
        Section s;
        s.head = static_cast<RecordId>(d_.records.size() - 1);
        d_.sections.push_back(std::move(s));
        return true;
      }
      if (type == "EOF") {
        StartRecord(index, position);
        done_ = true;
        return true;
      }
      return FailAt(position, "SECTION or EOF expected, found " + Quote(value));
    }
    if (type == "SECTION" || type == "EOF") {
      return FailAt(position, "ENDSEC of section " + d_.sections.back().name + " (started at " +
                                  PositionText(section_position_) + ") expected, found " +
                                  Quote(value));
    }
    StartRecord(index, position);
    d_.records.back().flags |= TypeIndex(type) << Record::kTypeShift;
    if (type == "ENDSEC") {
      in_section_ = false;
      d_.sections.back().end = static_cast<RecordId>(d_.records.size() - 1);
    }
    return true;
  }

  std::string PositionText(std::uint32_t position) const {
    return d_.format == Format::kBinary ? "offset " + std::to_string(position)
                                        : "line " + std::to_string(position);
  }

  // 1 + the index of `type` in the document's types, added when new; 0 past kMaxTypes. Records
  // of one type mostly come in runs (ATTRIBs after their INSERT), so the last one is tried first.
  std::uint32_t TypeIndex(std::string_view type) {
    if (last_type_ != 0 && d_.types[last_type_ - 1] == type) return last_type_;
    if (const auto it = type_index_.find(type); it != type_index_.end())
      return last_type_ = it->second;
    if (d_.types.size() >= Record::kMaxTypes) return 0;
    const std::string& added = d_.types.emplace_back(type);
    last_type_ = static_cast<std::uint32_t>(d_.types.size());
    type_index_.emplace(added, last_type_);  // the deque's strings never move
    return last_type_;
  }

  void StartRecord(std::uint32_t first_tag, std::uint32_t position) {
    if (!d_.records.empty()) {
      Record& prev = d_.records.back();
      prev.count = first_tag - prev.first;
      prev.next = static_cast<RecordId>(d_.records.size());
    }
    Record r;
    r.first = first_tag;
    r.position = position;
    r.prev = d_.records.empty() ? kNoRecord : static_cast<RecordId>(d_.records.size() - 1);
    d_.records.push_back(r);
  }

  bool Finish() {
    const std::uint32_t tag_count = static_cast<std::uint32_t>(d_.tags.size());
    if (!d_.records.empty()) d_.records.back().count = tag_count - d_.records.back().first;
    // Counting lines is a pass over the whole file: only for the messages that need it.
    auto end_position_of = [this]() -> std::uint64_t {
      return d_.format == Format::kBinary ? d_.data.size() : LinesIn(d_.data);
    };
    if (expect_section_name_) {
      return FailAt(static_cast<std::uint32_t>(end_position_of()),
                    "section name (group 2) expected, found end of file");
    }
    if (in_section_) {
      return FailAt(static_cast<std::uint32_t>(end_position_of()),
                    "ENDSEC of section " + d_.sections.back().name + " (started at " +
                        PositionText(section_position_) + ") expected, found end of file");
    }
    if (d_.records.empty() || d_.sections.empty()) {
      return FailAt(static_cast<std::uint32_t>(end_position_of()),
                    "SECTION expected, found " +
                        std::string(d_.records.empty() ? "end of file" : "no section"));
    }
    d_.first = 0;
    d_.last = static_cast<RecordId>(d_.records.size() - 1);
    if (!done_) {
      d_.missing_eof = true;
      Warn(d_.format == Format::kBinary ? 0 : end_position_of(), d_.data.size(),
           "EOF expected at the end of the file, found end of file; EOF added");
    } else if (d_.tail_begin < d_.data.size()) {
      const std::string_view tail = std::string_view(d_.data).substr(d_.tail_begin);
      if (tail.find_first_not_of(" \t\r\n\x1a", 0) != std::string_view::npos) {
        Warn(0, d_.tail_begin,
             std::to_string(tail.size()) + " bytes after EOF; ignored and kept as read");
      }
    }
    for (const Section& s : d_.sections) {
      if (s.name == "HEADER" && d_.header == kNoRecord) d_.header = s.head;
    }
    d_.RebuildHeaderIndex();
    ReadVersion();
    return IndexHandles();
  }

  static std::uint64_t LinesIn(std::string_view data) {
    std::uint64_t lines = 1;
    for (const char c : data) lines += c == '\n';
    return lines;
  }

  void ReadVersion() {
    auto header_value = [this](std::string_view name) -> std::string_view {
      const auto it = d_.header_vars.find(std::string(name));
      if (it == d_.header_vars.end()) return {};
      const auto tags = d_.TagsOf(d_.header);
      if (it->second + 1 >= tags.size()) return {};
      return TrimmedType(d_.Value(tags[it->second + 1]));
    };
    const std::string_view version = header_value("$ACADVER");
    if (version.size() == 6 && version.substr(0, 2) == "AC") {
      const auto number = ParseInteger(version.substr(2));
      if (number) {
        d_.version = std::string(version);
        d_.version_number = static_cast<int>(*number);
      }
    }
    if (d_.version_number >= 1021) {
      d_.code_page = 65001;
      return;
    }
    const std::string_view page_name = header_value("$DWGCODEPAGE");
    const unsigned page = CodePageFromName(page_name);
    d_.code_page = page ? page : 1252;
    if (!page && !page_name.empty()) {
      Warn(d_.records[d_.header].position, 0,
           "code page name expected for $DWGCODEPAGE, found " + Quote(page_name) +
               "; text read as ANSI_1252");
    }
    if (d_.code_page == 932 || d_.code_page == 936 || d_.code_page == 949 || d_.code_page == 950) {
      d_.mbcs_escapes = d_.data.find("\\M+") != std::string::npos;
    }
  }

  bool IndexHandles() {
    const bool need_handles = d_.version_number >= 1012;
    d_.handles.reserve(d_.records.size());
    Handle highest = 0;
    for (const Section& s : d_.sections) {
      const bool checked =
          s.name == "TABLES" || s.name == "BLOCKS" || s.name == "ENTITIES" || s.name == "OBJECTS";
      for (RecordId id = d_.records[s.head].next; id != s.end && id != kNoRecord;
           id = d_.records[id].next) {
        Record& r = d_.records[id];
        const auto tags = d_.TagsOf(id);
        // The handle tag, and whether it is well-formed.
        const std::string_view type = TrimmedType(d_.Value(tags[0]));
        const int handle_code = type == "DIMSTYLE" ? kCodeDimstyleHandle : kCodeHandle;
        size_t at = kNoTag;
        for (size_t i = 1; i < tags.size(); ++i) {
          if (tags[i].code == handle_code) {
            at = i;
            break;
          }
        }
        if (at == kNoTag) {
          if (need_handles && checked && type != "ENDTAB" && !type.empty()) {
            return FailAt(r.position, "handle (group " + std::to_string(handle_code) + ") of " +
                                          std::string(type) + " expected, found none");
          }
          continue;
        }
        const auto handle = ParseHandle(d_.Value(tags[at]));
        if (!handle) {
          const std::uint32_t where = d_.format == Format::kBinary
                                          ? tags[at].begin
                                          : r.position + 2 * static_cast<std::uint32_t>(at) + 1;
          return FailAt(where, "hexadecimal handle expected, found " + Quote(d_.Value(tags[at])));
        }
        if (*handle == 0) continue;
        const auto [it, inserted] = d_.handles.emplace(*handle, id);
        if (!inserted) {
          char hex[24];
          std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(*handle));
          return FailAt(r.position, "unique handle expected, found " + std::string(hex) + " of " +
                                        std::string(type) + " already used at " +
                                        PositionText(d_.records[it->second].position));
        }
        r.handle = *handle;
        if (*handle > highest) highest = *handle;
      }
    }
    highest_handle_ = highest;
    d_.next_handle = highest + 1;
    return true;
  }

 public:
  Handle highest_handle_ = 0;

 private:
  DxfDocument::Impl& d_;
  LoadResult& r_;
  bool in_section_ = false;
  bool expect_section_name_ = false;
  bool done_ = false;
  std::uint32_t section_position_ = 0;
  std::uint32_t last_type_ = 0;
  std::unordered_map<std::string_view, std::uint32_t> type_index_;  // into d_.types
};

}  // namespace

bool ReadDxf(DxfDocument::Impl& doc, LoadResult& result, Handle& highest_handle) {
  Reader reader(doc, result);
  const bool ok = reader.Run();
  highest_handle = reader.highest_handle_;
  return ok;
}

}  // namespace sheetwise::dxf
