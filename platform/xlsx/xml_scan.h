// A forward-only scanner for the large, regular parts of a workbook (worksheet rows and cells,
// shared strings): tags and text straight from the part's bytes, without building a tree. It
// handles what spreadsheets write; anything else makes the caller fall back to the tree parser,
// which reads every well-formed part and reports malformed ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sheetwise::xlsx::scan {

/// One tag: its qualified and local name, where it starts ('<') and ends (after '>').
struct Tag {
  enum Kind { kStart, kEnd, kEmpty } kind = kStart;  // kEmpty: <x/>
  std::string_view qname;
  std::string_view local;
  std::string_view attributes;  // the text between the name and '>' (or "/>")
  std::size_t begin = 0;
  std::size_t end = 0;
};

/// The next tag at or after `pos`, skipping whitespace, comments and processing instructions.
/// Text before the tag (other than whitespace) makes it fail, as does anything malformed or a
/// CDATA section. Returns false at `limit` or on failure (`*failed` then says which).
bool NextTag(std::string_view xml, std::size_t& pos, std::size_t limit, Tag& tag, bool* failed);

/// The value of attribute `name` (matched on its local name, so "r" does not match "x14ac:r"
/// unless asked with the prefix) in a tag's attribute text; false when absent or malformed.
/// Values holding entities are reported as found with `*has_entity` set.
bool Attribute(std::string_view attributes, std::string_view name, std::string_view& value,
               bool* has_entity = nullptr);

/// The character data of an element from `pos` (just after its start tag) to its end tag,
/// which must follow the text directly; decoded (entities, CR LF as LF). `pos` moves after the
/// end tag. False for nested elements or malformed text.
bool Text(std::string_view xml, std::size_t& pos, std::size_t limit, std::string_view local,
          std::string& out);

/// Skips the rest of an element whose start tag ended at `pos` (nested elements included).
bool SkipElement(std::string_view xml, std::size_t& pos, std::size_t limit);

/// Appends code point `cp` as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t cp);

/// The offset of the first byte that is not part of valid UTF-8 (overlong forms, surrogates
/// and code points above U+10FFFF count as invalid), or npos when all is valid.
std::size_t InvalidUtf8(std::string_view text);

/// The offset of the first '<' inside an attribute value (which XML forbids and the tree parser
/// lets through), or npos. Comments, CDATA sections and processing instructions are skipped (one
/// left open only its opening).
std::size_t LessThanInAttribute(std::string_view xml);

/// Decodes XML character data (entities, character references, CR LF and lone CR as LF).
bool Decode(std::string_view text, std::string& out);

}  // namespace sheetwise::xlsx::scan
