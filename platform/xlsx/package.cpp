#include "platform/xlsx/package.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <fstream>

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

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

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
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return {nullptr, Error{name, {}, {}, "cannot read the file"}};
  return OpenFromMemory(bytes, std::move(name));
}

PackageResult Package::OpenFromMemory(std::string_view bytes, std::string name) {
  // libzip takes zero bytes for an empty archive; a workbook file is never empty.
  if (bytes.empty())
    return {nullptr, Error{std::move(name), {}, {}, "not a zip archive: the file is empty"}};
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source == nullptr) {
    std::string message = zip_error_strerror(&error);
    zip_error_fini(&error);
    return {nullptr, Error{std::move(name), {}, {}, message}};
  }
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (archive == nullptr) {
    int code = zip_error_code_zip(&error);
    std::string detail = zip_error_strerror(&error);
    zip_source_free(source);
    zip_error_fini(&error);
    if (LooksLikeZipStart(bytes) && (code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS))
      return {nullptr,
              Error{std::move(name), {}, {}, "truncated or damaged zip archive: " + detail}};
    if (code == ZIP_ER_NOZIP) return {nullptr, Error{std::move(name), {}, {}, "not a zip archive"}};
    return {nullptr, Error{std::move(name), {}, {}, "unreadable zip archive: " + detail}};
  }
  zip_error_fini(&error);
  return Read(archive, std::move(name));
}

PackageResult Package::Read(zip_t* raw_archive, std::string name) {
  std::unique_ptr<zip_t, ZipCloser> archive(raw_archive);
  auto pkg = std::unique_ptr<Package>(new Package());
  pkg->name_ = std::move(name);
  auto fail = [&pkg](std::string_view part, std::string message) {
    return PackageResult{nullptr, pkg->MakeError(part, std::move(message))};
  };
  zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  if (count < 0) return fail({}, "unreadable zip directory");
  if (static_cast<std::uint64_t>(count) > kMaxEntries)
    return fail({}, "too many entries: " + std::to_string(count) + " (at most " +
                        std::to_string(kMaxEntries) + ")");
  std::uint64_t total = 0;
  pkg->parts_.reserve(static_cast<std::size_t>(count));
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0)
      return fail({}, "unreadable entry " + std::to_string(i) + ": " + zip_strerror(archive.get()));
    std::string part_name = st.name != nullptr ? st.name : "";
    if (part_name.empty() || part_name.back() == '/') continue;  // folder entries
    std::uint64_t size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
    std::uint64_t packed = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
    if (size > kMaxPartSize)
      return fail(part_name, "part too large: " + std::to_string(size) +
                                 " bytes declared (at most " + std::to_string(kMaxPartSize) + ")");
    if (size > kRatioCheckFloor && size / std::max<std::uint64_t>(packed, 1) > kMaxCompressionRatio)
      return fail(part_name, "compression ratio too high: " + std::to_string(size) +
                                 " bytes from " + std::to_string(packed) + " (a zip bomb?)");
    total += size;
    if (total > kMaxTotalSize)
      return fail(part_name, "package too large: more than " + std::to_string(kMaxTotalSize) +
                                 " bytes uncompressed");
    std::unique_ptr<zip_file_t, ZipFileCloser> file(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0));
    if (!file)
      return fail(part_name, std::string("cannot open the part: ") + zip_strerror(archive.get()));
    Part part{part_name, std::string(static_cast<std::size_t>(size), '\0')};
    std::uint64_t got = 0;
    while (got < size) {
      zip_int64_t n = zip_fread(file.get(), part.bytes.data() + got, size - got);
      if (n < 0)
        return fail(part_name, std::string("damaged part: ") + zip_file_strerror(file.get()));
      if (n == 0)
        return fail(part_name, "truncated part: " + std::to_string(got) + " of " +
                                   std::to_string(size) + " bytes");
      got += static_cast<std::uint64_t>(n);
    }
    // The declared size is checked, not trusted: more data than declared is refused.
    char extra = 0;
    zip_int64_t more = zip_fread(file.get(), &extra, 1);
    if (more < 0)
      return fail(part_name, std::string("damaged part: ") + zip_file_strerror(file.get()));
    if (more > 0) return fail(part_name, "part longer than its declared size");
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
