#include "platform/xlsx/package.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>

#include "platform/xlsx/xml_internal.h"

namespace sheetwise::xlsx {
namespace {

constexpr std::string_view kContentTypesPart = "[Content_Types].xml";

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view StripSlash(std::string_view s) {
  if (!s.empty() && s.front() == '/') s.remove_prefix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A zip's local headers start with "PK\3\4": a file that starts so but has no readable central
// directory was cut short (or damaged at its end), which is worth telling apart from "not a zip".
bool LooksLikeZipStart(std::string_view head) {
  return head.substr(0, 4) == "PK\x03\x04";
}

// ---- Reading the zip
//
// Our own reader on zlib rather than a zip library: the workbooks read here need stored and
// deflated entries only, and the library used before brought in a cryptography library whose
// loading cost every start of the program about 3 ms.

std::uint16_t Get16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t Get32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(Get16(b, at)) | static_cast<std::uint32_t>(Get16(b, at + 2))
                                                        << 16;
}
std::uint64_t Get64(std::string_view b, std::size_t at) {
  return static_cast<std::uint64_t>(Get32(b, at)) | static_cast<std::uint64_t>(Get32(b, at + 4))
                                                        << 32;
}

constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kEnd64Sig = 0x06064b50;
constexpr std::uint32_t kEnd64LocatorSig = 0x07064b50;

struct ZipEntryInfo {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t packed = 0;
  std::uint64_t size = 0;
  std::uint64_t local = 0;  // offset of the local header
};

// The central directory's entries, or the reason the archive cannot be read ("not a zip
// archive" or a damage, told apart by the caller).
std::optional<std::string> ReadDirectory(std::string_view b, std::vector<ZipEntryInfo>& out,
                                         bool& not_zip) {
  not_zip = false;
  // The end record is the last 22 bytes, or before a comment of up to 65,535 bytes.
  if (b.size() < 22) {
    not_zip = true;
    return "no end of central directory";
  }
  std::size_t end = std::string_view::npos;
  const std::size_t lowest = b.size() > 22 + 0xFFFF ? b.size() - 22 - 0xFFFF : 0;
  for (std::size_t at = b.size() - 22;; --at) {
    if (Get32(b, at) == kEndSig && at + 22 + Get16(b, at + 20) <= b.size()) {
      end = at;
      break;
    }
    if (at == lowest) break;
  }
  if (end == std::string_view::npos) {
    not_zip = true;
    return "no end of central directory";
  }
  std::uint64_t count = Get16(b, end + 10);
  std::uint64_t dir_size = Get32(b, end + 12);
  std::uint64_t dir_offset = Get32(b, end + 16);
  if (Get16(b, end + 4) != 0 || Get16(b, end + 6) != 0)
    return "archives split over several disks are not read";
  std::size_t dir_limit = end;
  // ZIP64: the locator just before the end record names the 64-bit end record.
  if (end >= 20 && Get32(b, end - 20) == kEnd64LocatorSig) {
    const std::uint64_t at = Get64(b, end - 20 + 8);
    if (at > end - 20 || end - 20 - at < 56 || Get32(b, static_cast<std::size_t>(at)) != kEnd64Sig)
      return "bad ZIP64 end of central directory";
    const auto z = static_cast<std::size_t>(at);
    count = Get64(b, z + 32);
    dir_size = Get64(b, z + 40);
    dir_offset = Get64(b, z + 48);
    dir_limit = z;
  }
  if (dir_offset > dir_limit || dir_size > dir_limit - dir_offset)
    return "the central directory lies outside the file";
  if (count > kMaxEntries) {
    out.resize(static_cast<std::size_t>(kMaxEntries) + 1);  // the caller reports the count
    return std::nullopt;
  }
  const std::size_t dir_end = static_cast<std::size_t>(dir_offset + dir_size);
  std::size_t at = static_cast<std::size_t>(dir_offset);
  out.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    if (dir_end - at < 46 || Get32(b, at) != kCentralSig)
      return "entry " + std::to_string(i) + " of the central directory is damaged";
    ZipEntryInfo e;
    e.flags = Get16(b, at + 8);
    e.method = Get16(b, at + 10);
    e.crc = Get32(b, at + 16);
    e.packed = Get32(b, at + 20);
    e.size = Get32(b, at + 24);
    const std::size_t name_len = Get16(b, at + 28);
    const std::size_t extra_len = Get16(b, at + 30);
    const std::size_t comment_len = Get16(b, at + 32);
    e.local = Get32(b, at + 42);
    if (dir_end - at - 46 < name_len + extra_len + comment_len)
      return "entry " + std::to_string(i) + " of the central directory is damaged";
    e.name.assign(b.substr(at + 46, name_len));
    // ZIP64 sizes and offset, each present only when its 32-bit field is all ones.
    std::string_view extra = b.substr(at + 46 + name_len, extra_len);
    while (extra.size() >= 4) {
      const std::uint16_t id = Get16(extra, 0);
      const std::size_t len = Get16(extra, 2);
      if (extra.size() - 4 < len) break;
      if (id == 0x0001) {
        std::string_view v = extra.substr(4, len);
        std::size_t k = 0;
        auto take = [&](std::uint64_t& field) {
          if (field != 0xFFFFFFFFu) return true;
          if (v.size() - k < 8) return false;
          field = Get64(v, k);
          k += 8;
          return true;
        };
        if (!take(e.size) || !take(e.packed) || !take(e.local))
          return "entry " + e.name + " has a damaged ZIP64 field";
      }
      extra.remove_prefix(4 + len);
    }
    out.push_back(std::move(e));
    at += 46 + name_len + extra_len + comment_len;
  }
  return std::nullopt;
}

// The entry's bytes as stored, after its local header; or why they cannot be had.
std::optional<std::string> EntryData(std::string_view b, const ZipEntryInfo& e,
                                     std::string_view& data) {
  if (e.local > b.size() || b.size() - e.local < 30 ||
      Get32(b, static_cast<std::size_t>(e.local)) != kLocalSig)
    return "truncated part: its local header is missing";
  const auto at = static_cast<std::size_t>(e.local);
  const std::size_t name_len = Get16(b, at + 26);
  const std::size_t extra_len = Get16(b, at + 28);
  if (b.substr(at + 30, name_len) != e.name)
    return "damaged part: the local header names another part";
  const std::size_t start = at + 30 + name_len + extra_len;
  if (start > b.size() || b.size() - start < e.packed)
    return "truncated part: " + std::to_string(start > b.size() ? 0 : b.size() - start) + " of " +
           std::to_string(e.packed) + " compressed bytes";
  data = b.substr(start, static_cast<std::size_t>(e.packed));
  return std::nullopt;
}

// A part that inflated to `got` bytes of its declared size.
std::string ShortBy(std::size_t got, const ZipEntryInfo& e) {
  return "truncated part: " + std::to_string(got) + " of " + std::to_string(e.size) + " bytes";
}

// Inflates `data` with zlib, which says what is wrong with a damaged stream: where it ended
// short, or what it found.
std::optional<std::string> InflateNamingDamage(std::string_view data, const ZipEntryInfo& e,
                                               std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return "cannot start inflate";
  std::optional<std::string> why;
  std::size_t in_at = 0, out_at = 0;
  char spill = 0;  // one byte past the declared size: a part that reaches it is longer
  for (;;) {
    const bool full = out_at == out.size();
    const auto in_now = static_cast<uInt>(std::min<std::size_t>(data.size() - in_at, 1u << 30));
    const auto out_now =
        full ? 1u : static_cast<uInt>(std::min<std::size_t>(out.size() - out_at, 1u << 30));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + in_at));
    z.avail_in = in_now;
    z.next_out = reinterpret_cast<Bytef*>(full ? &spill : out.data() + out_at);
    z.avail_out = out_now;
    const int rc = inflate(&z, Z_NO_FLUSH);
    const std::size_t used = in_now - z.avail_in, made = out_now - z.avail_out;
    in_at += used;
    if (full && made > 0) {
      why = "part longer than its declared size";
      break;
    }
    out_at += made;
    if (rc == Z_STREAM_END) {
      if (out_at != out.size()) why = ShortBy(out_at, e);
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      why = "damaged part: " + std::string(z.msg != nullptr ? z.msg : "inflate failed");
      break;
    }
    if (used == 0 && made == 0) {  // the data ended before the deflate stream did
      why = ShortBy(out_at, e);
      break;
    }
  }
  inflateEnd(&z);
  return why;
}

libdeflate_decompressor* Decompressor() {
  struct Owner {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Owner() { libdeflate_free_decompressor(d); }
  };
  thread_local Owner owner;
  return owner.d;
}

// Inflates or copies `data` into `out` (already sized to the declared size) and checks it
// against the declared size and checksum.
std::optional<std::string> Unpack(std::string_view data, const ZipEntryInfo& e, std::string& out) {
  if (e.method == 0) {
    if (data.size() != e.size) return "damaged part: stored size differs from its declared size";
    std::memcpy(out.data(), data.data(), data.size());
  } else {
    libdeflate_decompressor* d = Decompressor();
    if (d == nullptr) return "cannot start inflate";
    std::size_t made = 0;
    const libdeflate_result rc = libdeflate_deflate_decompress_ex(
        d, data.data(), data.size(), out.data(), out.size(), nullptr, &made);
    if (rc == LIBDEFLATE_INSUFFICIENT_SPACE) return "part longer than its declared size";
    if (rc == LIBDEFLATE_SUCCESS && made != out.size()) return ShortBy(made, e);
    if (rc != LIBDEFLATE_SUCCESS) {
      // Damaged or cut short: read again by zlib, whose account names which.
      if (auto why = InflateNamingDamage(data, e, out)) return why;
    }
  }
  if (libdeflate_crc32(0, out.data(), out.size()) != e.crc) return "damaged part: CRC error";
  return std::nullopt;
}

}  // namespace

std::string Error::ToString() const {
  std::string out = file;
  if (!part.empty()) out += ": " + part;
  if (offset) out += ": offset " + std::to_string(*offset);
  out += ": " + message;
  return out;
}

pugi::xml_attribute Attribute(const pugi::xml_node& node, std::string_view name) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    std::string_view n = a.name();
    if (n == name) return a;
  }
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    std::string_view n = a.name();
    std::size_t colon = n.find(':');
    if (colon != std::string_view::npos && n.substr(colon + 1) == name &&
        n.substr(0, colon) != "xmlns")
      return a;
  }
  return {};
}

std::optional<Error> ParseXmlInPlace(const Package& pkg, std::string_view part, std::string& buffer,
                                     pugi::xml_document& doc) {
  // Whitespace-only text is kept when it is an element's only child: <t xml:space="preserve">
  // holding " " is a real cell value.
  pugi::xml_parse_result parsed = doc.load_buffer_inplace(
      buffer.data(), buffer.size(), pugi::parse_default | pugi::parse_ws_pcdata_single,
      pugi::encoding_auto);
  if (parsed) return std::nullopt;
  return pkg.MakeError(part, std::string("malformed XML: ") + parsed.description(),
                       static_cast<std::uint64_t>(parsed.offset));
}

std::string RelsPartName(std::string_view source_part) {
  source_part = StripSlash(source_part);
  std::size_t slash = source_part.rfind('/');
  if (slash == std::string_view::npos) return "_rels/" + std::string(source_part) + ".rels";
  return std::string(source_part.substr(0, slash)) + "/_rels/" +
         std::string(source_part.substr(slash + 1)) + ".rels";
}

std::string ResolveTarget(std::string_view source_part, std::string_view target) {
  std::string decoded;
  decoded.reserve(target.size());
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() + 0 && HexDigit(target[i + 1]) >= 0 &&
        HexDigit(target[i + 2]) >= 0) {
      decoded += static_cast<char>(HexDigit(target[i + 1]) * 16 + HexDigit(target[i + 2]));
      i += 2;
    } else {
      decoded += target[i];
    }
  }
  std::vector<std::string_view> segments;
  auto push_path = [&segments](std::string_view path) {
    while (!path.empty()) {
      std::size_t slash = path.find('/');
      std::string_view seg = path.substr(0, slash);
      if (seg == "..") {
        if (!segments.empty()) segments.pop_back();
      } else if (!seg.empty() && seg != ".") {
        segments.push_back(seg);
      }
      if (slash == std::string_view::npos) break;
      path.remove_prefix(slash + 1);
    }
  };
  std::string_view tv = decoded;
  if (tv.empty() || tv.front() != '/') {
    source_part = StripSlash(source_part);
    std::size_t slash = source_part.rfind('/');
    if (slash != std::string_view::npos) push_path(source_part.substr(0, slash));
  }
  push_path(tv);
  std::string out;
  for (std::string_view seg : segments) {
    if (!out.empty()) out += '/';
    out += seg;
  }
  return out;
}

Error Package::MakeError(std::string_view part, std::string message,
                         std::optional<std::uint64_t> offset) const {
  return Error{name_, std::string(part), offset, std::move(message)};
}

PackageResult Package::Open(const std::filesystem::path& path) {
  std::string name = path.string();
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return {nullptr,
            Error{name, {}, {}, "cannot open the file: " + std::string(std::strerror(errno))}};
  // Read in blocks, room made once where the size is known: a character at a time took 10 ms
  // for a workbook of 750 KB.
  std::string bytes;
  std::error_code ec;
  if (const std::uintmax_t size = std::filesystem::file_size(path, ec); !ec && size < (1ull << 40))
    bytes.reserve(static_cast<std::size_t>(size));
  char block[64 << 10];
  while (in.read(block, sizeof block) || in.gcount() > 0)
    bytes.append(block, static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return {nullptr, Error{name, {}, {}, "cannot read the file"}};
  return OpenFromMemory(bytes, std::move(name));
}

PackageResult Package::OpenFromMemory(std::string_view bytes, std::string name) {
  if (bytes.empty())
    return {nullptr, Error{std::move(name), {}, {}, "not a zip archive: the file is empty"}};
  std::vector<ZipEntryInfo> entries;
  bool not_zip = false;
  if (std::optional<std::string> why = ReadDirectory(bytes, entries, not_zip)) {
    if (not_zip && !LooksLikeZipStart(bytes))
      return {nullptr, Error{std::move(name), {}, {}, "not a zip archive"}};
    return {nullptr, Error{std::move(name), {}, {}, "truncated or damaged zip archive: " + *why}};
  }
  auto pkg = std::unique_ptr<Package>(new Package());
  pkg->name_ = std::move(name);
  auto fail = [&pkg](std::string_view part, std::string message) {
    return PackageResult{nullptr, pkg->MakeError(part, std::move(message))};
  };
  if (entries.size() > kMaxEntries)
    return fail({}, "too many entries: more than " + std::to_string(kMaxEntries));
  std::uint64_t total = 0;
  pkg->parts_.reserve(entries.size());
  for (const ZipEntryInfo& e : entries) {
    const std::string& part_name = e.name;
    if (part_name.empty() || part_name.back() == '/') continue;  // folder entries
    if (e.size > kMaxPartSize)
      return fail(part_name, "part too large: " + std::to_string(e.size) +
                                 " bytes declared (at most " + std::to_string(kMaxPartSize) + ")");
    if (e.size > kRatioCheckFloor &&
        e.size / std::max<std::uint64_t>(e.packed, 1) > kMaxCompressionRatio)
      return fail(part_name, "compression ratio too high: " + std::to_string(e.size) +
                                 " bytes from " + std::to_string(e.packed) + " (a zip bomb?)");
    total += e.size;
    if (total > kMaxTotalSize)
      return fail(part_name, "package too large: more than " + std::to_string(kMaxTotalSize) +
                                 " bytes uncompressed");
    if (e.flags & 1) return fail(part_name, "cannot open the part: it is encrypted");
    if (e.method != 0 && e.method != 8)
      return fail(part_name, "cannot open the part: compression method " +
                                 std::to_string(e.method) + " is not supported");
    std::string_view data;
    if (std::optional<std::string> why = EntryData(bytes, e, data)) return fail(part_name, *why);
    Part part{part_name, std::string(static_cast<std::size_t>(e.size), '\0')};
    if (std::optional<std::string> why = Unpack(data, e, part.bytes)) return fail(part_name, *why);
    std::string key = Lower(part_name);
    if (!pkg->index_.emplace(std::move(key), pkg->parts_.size()).second)
      return fail(part_name, "duplicate part name");
    pkg->parts_.push_back(std::move(part));
  }
  if (auto e = pkg->ParseContentTypes()) return {nullptr, std::move(e)};
  if (auto e = pkg->ParseRelationships()) return {nullptr, std::move(e)};
  return {std::move(pkg), std::nullopt};
}

std::optional<Error> Package::ParseContentTypes() {
  const Part* part = FindPart(kContentTypesPart);
  if (part == nullptr) return MakeError(kContentTypesPart, "missing: not an Office package");
  std::string buffer = part->bytes;
  pugi::xml_document doc;
  if (auto e = ParseXmlInPlace(*this, kContentTypesPart, buffer, doc)) return e;
  pugi::xml_node types = doc.document_element();
  if (LocalName(types) != "Types")
    return MakeError(kContentTypesPart,
                     "root element <Types> expected, found <" + std::string(types.name()) + ">");
  for (pugi::xml_node n = types.first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    std::string_view kind = LocalName(n);
    if (kind == "Default")
      defaults_[Lower(n.attribute("Extension").value())] = n.attribute("ContentType").value();
    else if (kind == "Override")
      overrides_[Lower(StripSlash(n.attribute("PartName").value()))] =
          n.attribute("ContentType").value();
  }
  return std::nullopt;
}

std::optional<Error> Package::ParseRelationships() {
  for (const Part& part : parts_) {
    std::string_view name = part.name;
    if (name.size() < 5 || Lower(name.substr(name.size() - 5)) != ".rels") continue;
    // "dir/_rels/file.rels" describes "dir/file"; "_rels/.rels" the package ("").
    std::size_t rels_dir = name.rfind("_rels/");
    if (rels_dir == std::string_view::npos || (rels_dir != 0 && name[rels_dir - 1] != '/'))
      continue;
    std::string source = std::string(name.substr(0, rels_dir)) +
                         std::string(name.substr(rels_dir + 6, name.size() - rels_dir - 6 - 5));
    std::string buffer = part.bytes;
    pugi::xml_document doc;
    if (auto e = ParseXmlInPlace(*this, name, buffer, doc)) return e;
    std::vector<Relationship>& list = rels_[source];
    for (pugi::xml_node n = doc.document_element().first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element || LocalName(n) != "Relationship") continue;
      Relationship rel;
      rel.id = n.attribute("Id").value();
      rel.type = n.attribute("Type").value();
      std::string_view target = n.attribute("Target").value();
      if (std::string_view(n.attribute("TargetMode").value()) == "External") {
        rel.mode = TargetMode::kExternal;
        rel.target = target;
      } else {
        rel.target = ResolveTarget(source, target);
      }
      list.push_back(std::move(rel));
    }
  }
  return std::nullopt;
}

const Part* Package::FindPart(std::string_view part_name) const {
  part_name = StripSlash(part_name);
  auto it = index_.find(Lower(part_name));
  return it == index_.end() ? nullptr : &parts_[it->second];
}

std::string_view Package::ContentType(std::string_view part_name) const {
  std::string key = Lower(StripSlash(part_name));
  if (auto it = overrides_.find(key); it != overrides_.end()) return it->second;
  std::size_t dot = key.rfind('.');
  if (dot == std::string::npos || key.find('/', dot) != std::string::npos) return {};
  if (auto it = defaults_.find(std::string_view(key).substr(dot + 1)); it != defaults_.end())
    return it->second;
  return {};
}

std::span<const Relationship> Package::RelationshipsOf(std::string_view source_part) const {
  auto it = rels_.find(StripSlash(source_part));
  if (it == rels_.end()) return {};
  return it->second;
}

const Relationship* Package::FindRelationship(std::string_view source_part,
                                              std::string_view id) const {
  for (const Relationship& rel : RelationshipsOf(source_part))
    if (rel.id == id) return &rel;
  return nullptr;
}

const Relationship* Package::FindRelationshipByType(std::string_view source_part,
                                                    std::string_view type_suffix) const {
  for (const Relationship& rel : RelationshipsOf(source_part))
    if (std::string_view(rel.type).ends_with(type_suffix)) return &rel;
  return nullptr;
}

}  // namespace sheetwise::xlsx
