// Writes parts as a zip archive in memory: deflated at a fixed level, parts compressed on two
// threads. The archive is laid out as libzip laid out the workbooks this program wrote before
// (no extra fields, no data descriptors, Unix attributes 0666, local-time DOS timestamps), so
// readers see the same entries in the same order, and the same bytes for the same parts.
//
//   std::string error;
//   std::optional<std::string> zip = WriteZip(entries, 1, mtime, error);
//
// Threads: reentrant; it starts and joins at most one thread of its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sheetwise::xlsx {

/// One entry of an archive to write: its name (UTF-8, '/' between folders) and its bytes.
struct ZipEntry {
  std::string_view name;
  std::string_view bytes;
};

/// Largest part, compressed part and archive: the 32-bit sizes and offsets of a zip without
/// ZIP64 records.
inline constexpr std::uint64_t kMaxZipSize = 0xFFFFFFFFull;

/// The entries as a zip archive, in the order given, each deflated at `level` (1-9) and dated
/// `mtime` (as local time, in the DOS format). Fails (nullopt, `error` saying what and which
/// entry) for a part or archive beyond kMaxZipSize, more than 65,535 entries, a name that is
/// empty, longer than 65,535 bytes or not UTF-8, or when zlib fails.
std::optional<std::string> WriteZip(std::span<const ZipEntry> entries, int level, std::time_t mtime,
                                    std::string& error);

}  // namespace sheetwise::xlsx
