#include "platform/xlsx/xml_scan.h"

#include <cstdint>
#include <cstring>

namespace sheetwise::xlsx::scan {
namespace {

bool Space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

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

bool NextTag(std::string_view xml, std::size_t& pos, std::size_t limit, Tag& tag, bool* failed) {
  *failed = false;
  for (;;) {
    while (pos < limit && Space(xml[pos])) ++pos;
    if (pos >= limit) return false;
    if (xml[pos] != '<') {
      *failed = true;
      return false;
    }
    if (xml.compare(pos, 4, "<!--") == 0) {
      const std::size_t close = xml.find("-->", pos + 4);
      if (close == std::string_view::npos || close + 3 > limit) break;
      pos = close + 3;
      continue;
    }
    if (xml.compare(pos, 2, "<?") == 0) {
      const std::size_t close = xml.find("?>", pos + 2);
      if (close == std::string_view::npos || close + 2 > limit) break;
      pos = close + 2;
      continue;
    }
    if (pos + 1 < limit && xml[pos + 1] == '!') break;  // CDATA, DOCTYPE: the tree parser's
    tag.begin = pos;
    std::size_t i = pos + 1;
    tag.kind = Tag::kStart;
    if (i < limit && xml[i] == '/') {
      tag.kind = Tag::kEnd;
      ++i;
    }
    const std::size_t name_begin = i;
    while (i < limit && !Space(xml[i]) && xml[i] != '>' && xml[i] != '/') ++i;
    if (i == name_begin || i >= limit) break;
    tag.qname = xml.substr(name_begin, i - name_begin);
    const std::size_t colon = tag.qname.find(':');
    tag.local = colon == std::string_view::npos ? tag.qname : tag.qname.substr(colon + 1);
    const std::size_t attr_begin = i;
    char quote = 0;
    for (; i < limit; ++i) {
      const char ch = xml[i];
      if (quote) {
        if (ch == quote)
          quote = 0;
        else if (ch == '<')
          break;  // no '<' in attribute values
      } else if (ch == '"' || ch == '\'') {
        quote = ch;
      } else if (ch == '<' || ch == '>') {
        break;
      }
    }
    if (i >= limit || xml[i] != '>') break;
    std::size_t attr_end = i;
    if (xml[i - 1] == '/' && i - 1 >= attr_begin) {
      if (tag.kind == Tag::kEnd) break;
      tag.kind = Tag::kEmpty;
      attr_end = i - 1;
    }
    tag.attributes = xml.substr(attr_begin, attr_end - attr_begin);
    tag.end = i + 1;
    pos = tag.end;
    return true;
  }
  *failed = true;
  return false;
}

bool Attribute(std::string_view attributes, std::string_view name, std::string_view& value,
               bool* has_entity) {
  std::size_t i = 0;
  const std::size_t n = attributes.size();
  while (i < n) {
    while (i < n && Space(attributes[i])) ++i;
    if (i >= n) break;
    const std::size_t name_begin = i;
    while (i < n && attributes[i] != '=' && !Space(attributes[i])) ++i;
    std::string_view attr = attributes.substr(name_begin, i - name_begin);
    while (i < n && Space(attributes[i])) ++i;
    if (i >= n || attributes[i] != '=') return false;
    ++i;
    while (i < n && Space(attributes[i])) ++i;
    if (i >= n || (attributes[i] != '"' && attributes[i] != '\'')) return false;
    const char quote = attributes[i++];
    const std::size_t close = attributes.find(quote, i);
    if (close == std::string_view::npos) return false;
    if (attr == name) {
      value = attributes.substr(i, close - i);
      if (has_entity) *has_entity = value.find('&') != std::string_view::npos;
      return true;
    }
    i = close + 1;
  }
  return false;
}

std::size_t LessThanInAttribute(std::string_view xml) {
  std::size_t i = 0;
  const std::size_t n = xml.size();
  // A comment, CDATA section or processing instruction: skipped to its end. One that never
  // ends is malformed; the tags after its opening are still looked at, as a tree parser that
  // recovers from it (or a scanner that cuts it out) reads them.
  auto skip = [&xml](std::size_t at, std::string_view open, std::string_view close) {
    const std::size_t end = xml.find(close, at + open.size());
    return end != std::string_view::npos ? end : at + open.size();
  };
  while (true) {
    i = xml.find('<', i);
    if (i == std::string_view::npos) return i;
    if (xml.compare(i, 4, "<!--") == 0) {
      i = skip(i, "<!--", "-->");
    } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
      i = skip(i, "<![CDATA[", "]]>");
    } else if (xml.compare(i, 2, "<?") == 0) {
      i = skip(i, "<?", "?>");
    } else {
      // A tag: quoted values up to its '>'.
      char quote = 0;
      std::size_t k = i + 1;
      for (; k < n; ++k) {
        const char ch = xml[k];
        if (quote) {
          if (ch == quote)
            quote = 0;
          else if (ch == '<')
            return k;
        } else if (ch == '"' || ch == '\'') {
          quote = ch;
        } else if (ch == '>' || ch == '<') {
          break;
        }
      }
      i = k;
    }
    if (i == std::string_view::npos || i >= n) return std::string_view::npos;
    if (xml[i] != '<') ++i;
  }
}

std::size_t InvalidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time: most of a worksheet.
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (len == 0 || b > 0xF4 || i + len > n) return i;
    std::uint32_t cp = b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return i;
    i += len;
  }
  return std::string_view::npos;
}

bool Decode(std::string_view text, std::string& out) {
  out.clear();
  if (text.find_first_of("&\r") == std::string_view::npos) {
    out.assign(text);
    return true;
  }
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      continue;
    }
    if (ch != '&') {
      out += ch;
      continue;
    }
    const std::size_t semi = text.find(';', i);
    if (semi == std::string_view::npos || semi - i > 12) return false;
    const std::string_view entity = text.substr(i + 1, semi - i - 1);
    if (entity == "lt") {
      out += '<';
    } else if (entity == "gt") {
      out += '>';
    } else if (entity == "amp") {
      out += '&';
    } else if (entity == "quot") {
      out += '"';
    } else if (entity == "apos") {
      out += '\'';
    } else if (entity.size() > 1 && entity[0] == '#') {
      std::uint32_t cp = 0;
      const bool hex = entity[1] == 'x';
      std::size_t k = hex ? 2 : 1;
      if (k >= entity.size()) return false;
      for (; k < entity.size(); ++k) {
        const char d = entity[k];
        int v = -1;
        if (d >= '0' && d <= '9')
          v = d - '0';
        else if (hex && d >= 'a' && d <= 'f')
          v = d - 'a' + 10;
        else if (hex && d >= 'A' && d <= 'F')
          v = d - 'A' + 10;
        if (v < 0) return false;
        cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
        if (cp > 0x10FFFF) return false;
      }
      if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
      AppendUtf8(out, cp);
    } else {
      return false;
    }
    i = semi;
  }
  return true;
}

bool Text(std::string_view xml, std::size_t& pos, std::size_t limit, std::string_view local,
          std::string& out) {
  const std::size_t lt = xml.find('<', pos);
  if (lt == std::string_view::npos || lt >= limit || xml.compare(lt, 2, "</") != 0) return false;
  if (!Decode(xml.substr(pos, lt - pos), out)) return false;
  std::size_t p = lt;
  Tag end;
  bool failed = false;
  if (!NextTag(xml, p, limit, end, &failed) || end.kind != Tag::kEnd || end.local != local)
    return false;
  pos = p;
  return true;
}

bool SkipElement(std::string_view xml, std::size_t& pos, std::size_t limit) {
  int depth = 1;
  while (depth > 0) {
    const std::size_t lt = xml.find('<', pos);
    if (lt == std::string_view::npos || lt >= limit) return false;
    pos = lt;
    Tag tag;
    bool failed = false;
    if (!NextTag(xml, pos, limit, tag, &failed)) return false;
    if (tag.kind == Tag::kStart) ++depth;
    if (tag.kind == Tag::kEnd) --depth;
  }
  return true;
}

}  // namespace sheetwise::xlsx::scan
