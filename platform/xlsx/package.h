// An .xlsx package (an Open Packaging zip) read into memory, part by part, losslessly. It stands
// in for the file-reading half of Excel: the zip, [Content_Types].xml and the relationships.
// Left out: writing (a later layer), digital signatures, encrypted (OLE-wrapped) workbooks,
// interleaved parts (Office 2007 never writes them) and ZIP64 archives above the size limits.
//
//   PackageResult opened = Package::Open("book.xlsx");
//   if (!opened) { std::cerr << opened.error->ToString() << '\n'; return; }
//   const Package& pkg = *opened.package;
//   for (const Relationship& rel : pkg.RelationshipsOf("")) ...   // _rels/.rels
//
// Part bytes are kept exactly as inflated (the uncompressed bytes of each zip entry, never
// re-encoded or normalised), so a writer can pass a part it does not model through unchanged.
//
// Threads: a package is immutable after Open; any thread may read it concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sheetwise::xlsx {

// Limits against zip bombs and hostile archives. Excel's own files stay far below them: the
// largest real workbook sheets are a few hundred MiB of XML, compressed 5-30 times.
/// Most entries in one archive.
inline constexpr std::size_t kMaxEntries = 10000;
/// Largest uncompressed part.
inline constexpr std::uint64_t kMaxPartSize = 256ull << 20;
/// Largest sum of all uncompressed parts.
inline constexpr std::uint64_t kMaxTotalSize = 1ull << 30;
/// Highest uncompressed/compressed ratio of a part larger than kRatioCheckFloor (a bomb
/// reaches about 1000; XML written by spreadsheets stays below 100).
inline constexpr std::uint64_t kMaxCompressionRatio = 400;
/// Parts smaller than this are not ratio-checked (a tiny part of repeated text may legitimately
/// compress very well).
inline constexpr std::uint64_t kRatioCheckFloor = 1ull << 20;

/// An error about a package: which file, which part, where in the part, what is wrong.
struct Error {
  std::string file;  ///< the path as given (UTF-8) or the name given to OpenFromMemory
  std::string part;  ///< part name ("xl/workbook.xml"); empty: the archive itself
  std::optional<std::uint64_t> offset;  ///< byte offset in the part, when known
  std::string message;                  ///< e.g. "malformed XML: unexpected end of data"
  /// "book.xlsx: xl/worksheets/sheet1.xml: offset 1234: malformed XML: ..."; without part or
  /// offset those pieces are left out ("book.xlsx: not a zip archive").
  std::string ToString() const;
};

/// One part: its name in the archive (no leading '/') and its uncompressed bytes as read.
struct Part {
  std::string name;
  std::string bytes;
};

enum class TargetMode : std::uint8_t { kInternal, kExternal };

/// One relationship of a .rels part.
struct Relationship {
  std::string id;      ///< "rId1"
  std::string type;    ///< full type URI
  std::string target;  ///< internal: the resolved part name ("xl/worksheets/sheet1.xml", no
                       ///< leading '/', %XX decoded); external: the Target attribute unchanged
  TargetMode mode = TargetMode::kInternal;
};

class Package;

/// What Open returns: the package, or the error that refused the file.
struct [[nodiscard]] PackageResult {
  std::unique_ptr<Package> package;
  std::optional<Error> error;
  explicit operator bool() const { return package != nullptr; }
};

class Package {
 public:
  /// Reads the whole archive at `path`. Fails (never throws) for a missing or unreadable file,
  /// something that is not a zip ("not a zip archive"), a zip cut short ("truncated ..."), an
  /// entry beyond the limits above, a damaged entry (CRC), malformed [Content_Types].xml or .rels
  /// parts. Errors name the file (path as given) and, where it applies, the part.
  static PackageResult Open(const std::filesystem::path& path);
  /// As Open, from bytes in memory; `name` stands for the file in errors.
  static PackageResult OpenFromMemory(std::string_view bytes, std::string name);

  /// The file name used in errors.
  const std::string& name() const { return name_; }
  /// Every entry in archive order (folders left out).
  std::span<const Part> parts() const { return parts_; }
  /// The part named `part_name` (with or without a leading '/'; matched as written, then
  /// ignoring ASCII case as packages require), or null.
  const Part* FindPart(std::string_view part_name) const;
  /// The content type of a part: its Override, else the Default of its extension (ASCII case
  /// ignored); empty when neither exists.
  std::string_view ContentType(std::string_view part_name) const;
  /// The relationships whose source is `source_part` ("" for the package itself, i.e.
  /// _rels/.rels), in file order; empty when the part has no .rels.
  std::span<const Relationship> RelationshipsOf(std::string_view source_part) const;
  /// The relationship `id` of `source_part`, or null.
  const Relationship* FindRelationship(std::string_view source_part, std::string_view id) const;
  /// The first relationship of `source_part` whose type ends with `type_suffix`
  /// ("/officeDocument", "/worksheet"), or null; suffixes cover the strict and transitional URIs.
  const Relationship* FindRelationshipByType(std::string_view source_part,
                                             std::string_view type_suffix) const;

  /// An error about `part` of this package.
  Error MakeError(std::string_view part, std::string message,
                  std::optional<std::uint64_t> offset = std::nullopt) const;

 private:
  std::optional<Error> ParseContentTypes();
  std::optional<Error> ParseRelationships();

  std::string name_;
  std::vector<Part> parts_;
  std::map<std::string, std::size_t, std::less<>> index_;      // lower-cased name -> parts_
  std::map<std::string, std::string, std::less<>> defaults_;   // lower-cased extension -> type
  std::map<std::string, std::string, std::less<>> overrides_;  // lower-cased part name -> type
  std::map<std::string, std::vector<Relationship>, std::less<>> rels_;  // source part -> rels
};

/// The .rels part name of `source_part` ("xl/workbook.xml" -> "xl/_rels/workbook.xml.rels";
/// "" -> "_rels/.rels").
std::string RelsPartName(std::string_view source_part);
/// Resolves a relationship target against the folder of `source_part`: "worksheets/s1.xml"
/// from "xl/workbook.xml" -> "xl/worksheets/s1.xml"; "/xl/styles.xml" is absolute; ".." steps
/// up (never above the root); %XX escapes are decoded.
std::string ResolveTarget(std::string_view source_part, std::string_view target);

}  // namespace sheetwise::xlsx
