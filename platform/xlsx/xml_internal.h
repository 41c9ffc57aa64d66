// XML helpers shared by the .xlsx readers: in-place parsing with errors that name the part.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "platform/xlsx/package.h"

namespace sheetwise::xlsx {

/// Parses `buffer` in place into `doc` (the buffer must outlive the document). On failure
/// returns "FILE: PART: offset N: malformed XML: <pugixml's description>".
std::optional<Error> ParseXmlInPlace(const Package& pkg, std::string_view part, std::string& buffer,
                                     pugi::xml_document& doc);

/// A decimal unsigned number that is the whole of `s`.
inline bool ParseUint(std::string_view s, std::uint32_t& out) {
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

/// An xsd:boolean that is true.
inline bool XmlTrue(std::string_view s) {
  return s == "1" || s == "true";
}

/// The element's local name, without any namespace prefix ("x:sheet" -> "sheet").
inline std::string_view LocalName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

/// The first child element with local name `name`.
inline pugi::xml_node Child(const pugi::xml_node& node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && LocalName(c) == name) return c;
  return {};
}

/// The attribute with local name `name` (prefix ignored: "r:id" matches "id" only when asked
/// with the prefix-free name and no unprefixed attribute of that name exists).
pugi::xml_attribute Attribute(const pugi::xml_node& node, std::string_view name);

/// Tests set it to read worksheets and shared strings with the tree parser only (to compare it
/// with the scanners).
extern bool g_tree_reader_only;

/// Text with Excel's _xHHHH_ escapes decoded (a literal "_x005F_" protects an underscore).
std::string DecodeCellEscapes(std::string text);
/// Appends text as XML content or attribute value: entities for markup, _xHHHH_ for what XML
/// cannot carry, a literal "_xHHHH_" protected, U+FFFD for broken UTF-8.
void AppendXmlEscaped(std::string& out, std::string_view text);

}  // namespace sheetwise::xlsx
