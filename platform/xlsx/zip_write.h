// Writes parts as a zip archive in memory: deflated at a fixed level, parts compressed on two
// threads. ZipStream takes parts one at a time and deflates each on a helper thread as soon as
// it comes, while the caller makes the next; WriteZip does the same for parts that are all at
// hand. The archive is laid out as libzip laid out the workbooks this program wrote before
// (no extra fields, no data descriptors, Unix attributes 0666, local-time DOS timestamps), so
// readers see the same entries in the same order; the parts are deflated by libdeflate.
//
//   std::string error;
//   std::optional<std::string> zip = WriteZip(entries, 1, mtime, error);
//
//   ZipStream zip(1, mtime);
//   zip.Add("xl/worksheets/sheet1.xml", std::move(sheet_bytes));  // deflated meanwhile
//   std::optional<std::string> archive = zip.Finish(names_in_archive_order, error);
//
// Threads: a ZipStream is used by one thread; it starts and joins at most one thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sheetwise::xlsx {

/// One entry of an archive to write: its name (UTF-8, '/' between folders) and its bytes.
struct ZipEntry {
  std::string_view name;
  std::string_view bytes;
};

/// Largest part, compressed part and archive: the 32-bit sizes and offsets of a zip without
/// ZIP64 records.
inline constexpr std::uint64_t kMaxZipSize = 0xFFFFFFFFull;

/// A part deflated ahead of its archive (PartPacker), to be added with ZipStream::AddPacked.
struct Packed {
  std::string data;            ///< the raw deflate bytes
  std::uint32_t size = 0;      ///< their length, set by the archive
  std::uint32_t crc = 0;       ///< CRC-32 of the part
  std::uint32_t raw_size = 0;  ///< the part's length before deflating
  std::string error;           ///< why it could not be deflated, or empty
};

class Deflater;

/// Deflates parts as ZipStream does, for a thread that prepares parts before their archive
/// exists. Keeps one compressor for every part it packs; used by one thread at a time.
class PartPacker {
 public:
  explicit PartPacker(int level);
  ~PartPacker();
  PartPacker(const PartPacker&) = delete;
  PartPacker& operator=(const PartPacker&) = delete;
  Packed Pack(std::string_view bytes);

 private:
  int level_;
  std::unique_ptr<Deflater> deflater_;
};

/// The entries as a zip archive, in the order given, each deflated at `level` (1-9) and dated
/// `mtime` (as local time, in the DOS format). Fails (nullopt, `error` saying what and which
/// entry) for a part or archive beyond kMaxZipSize, more than 65,535 entries, a name that is
/// empty, longer than 65,535 bytes or not UTF-8, or when zlib fails.
/// An archive built part by part. Each part is deflated on a helper thread as soon as it is
/// added, and the bytes it owns are freed once packed, so that the uncompressed parts of a
/// workbook are never all held at once. The helper starts when the parts waiting reach a size
/// worth a thread; Finish packs what is left on both threads.
class ZipStream {
 public:
  ZipStream(int level, std::time_t mtime);
  /// Stops the helper; parts not yet packed are dropped.
  ~ZipStream();
  ZipStream(const ZipStream&) = delete;
  ZipStream& operator=(const ZipStream&) = delete;

  /// Adds a part whose bytes the archive now owns.
  void Add(std::string_view name, std::string bytes);
  /// Adds a part whose bytes the caller keeps, unchanged, until Finish has returned.
  void AddView(std::string_view name, std::string_view bytes);
  /// Adds a part a PartPacker of the same level deflated (its error, if any, fails Finish).
  void AddPacked(std::string_view name, Packed packed);
  bool Has(std::string_view name) const;

  /// The archive with the parts in `order`, which names every part added, each once. Fails as
  /// WriteZip does, or when `order` and the parts added differ.
  std::optional<std::string> Finish(std::span<const std::string_view> order, std::string& error);

 private:
  struct Job;
  void Queue(std::unique_ptr<Job> job);
  void Work();

  int level_;
  std::time_t mtime_;
  std::vector<std::unique_ptr<Job>> jobs_;  // in the order added
  std::map<std::string, Job*, std::less<>> by_name_;
  std::string first_error_;  // the first part refused, in the order added
  std::size_t added_bytes_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::size_t next_ = 0;  // the first job no thread has taken yet (under mutex_)
  bool closed_ = false;   // no more jobs will come (under mutex_)
  std::thread helper_;
};

std::optional<std::string> WriteZip(std::span<const ZipEntry> entries, int level, std::time_t mtime,
                                    std::string& error);

}  // namespace sheetwise::xlsx
