#include "platform/xlsx/zip_write.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace sheetwise::xlsx {
namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndOfDirectorySize = 22;
constexpr std::uint16_t kMadeBy = (3 << 8) | 63;  // Unix, zip 6.3
constexpr std::uint16_t kVersionNeeded = 20;      // deflate
constexpr std::uint16_t kMethodDeflate = 8;
constexpr std::uint16_t kFlagUtf8Name = 0x0800;
constexpr std::uint32_t kUnixRegular0666 = 0100666u << 16;
// Below this many bytes in all, a second thread costs more than it saves.
constexpr std::size_t kThreadFloor = 256 << 10;

}  // namespace

// Raw deflate, as zip entries hold it; one compressor serves every entry a thread packs.
class Deflater {
 public:
  explicit Deflater(int level) : compressor_(libdeflate_alloc_compressor(level)) {}
  ~Deflater() { libdeflate_free_compressor(compressor_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Deflates into room for a quarter of the part (spreadsheet XML deflates to a tenth or less),
  // and into room for deflate's bound only when that is not enough: room never written is never
  // faulted in, but the bound would be.
  void Pack(std::string_view in, Packed& out) {
    out.raw_size = static_cast<std::uint32_t>(in.size());
    if (compressor_ == nullptr) {
      out.error = "cannot start deflate";
      return;
    }
    out.crc = libdeflate_crc32(0, in.data(), in.size());
    for (std::size_t room :
         {in.size() / 4 + 256, libdeflate_deflate_compress_bound(compressor_, in.size())}) {
      std::unique_ptr<char[]> buffer(new char[room]);
      const std::size_t n =
          libdeflate_deflate_compress(compressor_, in.data(), in.size(), buffer.get(), room);
      if (n != 0) {
        out.data.assign(buffer.get(), n);
        return;
      }
    }
    out.error = "deflate failed";
  }

 private:
  libdeflate_compressor* compressor_;
};

PartPacker::PartPacker(int level) : level_(level) {}
PartPacker::~PartPacker() = default;

Packed PartPacker::Pack(std::string_view bytes) {
  if (!deflater_) deflater_ = std::make_unique<Deflater>(level_);
  Packed packed;
  deflater_->Pack(bytes, packed);
  return packed;
}

namespace {

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (n == 0 || b > 0xF4 || i + n > s.size()) return false;
    std::uint32_t cp = b & (0xFF >> (n + 1));
    for (std::size_t k = 1; k < n; ++k) {
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (n > 1 && (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
    i += n;
  }
  return true;
}

bool Ascii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// libzip's conversion: local time, years before 1980 as 1980, an unconvertible time as
// 1980-01-01 00:00.
void DosTime(std::time_t t, std::uint16_t& date, std::uint16_t& time) {
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) {
    date = (1 << 5) + 1;
    time = 0;
    return;
  }
  if (tm.tm_year < 80) tm.tm_year = 80;
  date = static_cast<std::uint16_t>(((tm.tm_year + 1900 - 1980) << 9) + ((tm.tm_mon + 1) << 5) +
                                    tm.tm_mday);
  time = static_cast<std::uint16_t>((tm.tm_hour << 11) + (tm.tm_min << 5) + (tm.tm_sec >> 1));
}

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((v >> shift) & 0xFF);
}

// Why a part cannot go into the archive, or empty.
std::string Refusal(std::string_view name, std::size_t size) {
  if (name.empty() || name.size() > 0xFFFF || !ValidUtf8(name))
    return "cannot add " + std::string(name) + ": not a valid part name";
  if (size > kMaxZipSize)
    return "cannot add " + std::string(name) + ": " + std::to_string(size) +
           " bytes, more than a zip archive holds in one part (4 GiB)";
  return {};
}

}  // namespace

struct ZipStream::Job {
  std::string name;
  std::string owned;
  std::string_view bytes;
  std::uint32_t raw_size = 0;
  Packed packed;
  bool packed_already = false;  // AddPacked: nothing left to do
};

ZipStream::ZipStream(int level, std::time_t mtime) : level_(level), mtime_(mtime) {}

ZipStream::~ZipStream() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    next_ = jobs_.size();  // whatever is still waiting is dropped
  }
  wake_.notify_all();
  if (helper_.joinable()) helper_.join();
}

bool ZipStream::Has(std::string_view name) const {
  return by_name_.count(name) != 0;
}

void ZipStream::Add(std::string_view name, std::string bytes) {
  auto job = std::make_unique<Job>();
  job->owned = std::move(bytes);
  job->bytes = job->owned;
  job->name = std::string(name);
  Queue(std::move(job));
}

void ZipStream::AddView(std::string_view name, std::string_view bytes) {
  auto job = std::make_unique<Job>();
  job->bytes = bytes;
  job->name = std::string(name);
  Queue(std::move(job));
}

void ZipStream::AddPacked(std::string_view name, Packed packed) {
  auto job = std::make_unique<Job>();
  job->name = std::string(name);
  job->packed = std::move(packed);
  job->packed_already = true;
  Queue(std::move(job));
}

void ZipStream::Queue(std::unique_ptr<Job> job) {
  const std::size_t size = job->packed_already ? job->packed.raw_size : job->bytes.size();
  std::string why = Refusal(job->name, size);
  if (!why.empty() || by_name_.count(job->name)) {
    if (first_error_.empty())
      first_error_ = !why.empty() ? why : "cannot add " + job->name + ": added twice";
    return;
  }
  job->raw_size = static_cast<std::uint32_t>(size);
  added_bytes_ += job->bytes.size();
  by_name_.emplace(job->name, job.get());
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  if (!helper_.joinable() && added_bytes_ >= kThreadFloor) {
    try {
      helper_ = std::thread([this] { Work(); });
    } catch (const std::exception&) {
      // No second thread: Finish packs everything on the caller's.
    }
  }
}

// Packs jobs as they come until the stream is closed and none is left. A Job stays where it is
// while jobs_ grows (it is held by pointer), so it is worked on outside the lock.
void ZipStream::Work() {
  Deflater deflater(level_);
  for (;;) {
    Job* job = nullptr;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return closed_ || next_ < jobs_.size(); });
      if (next_ == jobs_.size()) return;
      job = jobs_[next_++].get();
    }
    if (job->packed_already) continue;
    deflater.Pack(job->bytes, job->packed);
    std::string().swap(job->owned);  // its memory back now, not at the end
    job->bytes = {};
  }
}

std::optional<std::string> ZipStream::Finish(std::span<const std::string_view> order,
                                             std::string& error) {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  wake_.notify_all();
  Work();
  if (helper_.joinable()) helper_.join();

  if (order.size() > 0xFFFF) {
    error =
        "too many parts for a zip archive: " + std::to_string(order.size()) + " (at most 65535)";
    return std::nullopt;
  }
  if (!first_error_.empty()) {
    error = first_error_;
    return std::nullopt;
  }
  std::vector<Job*> entries;
  entries.reserve(order.size());
  for (std::string_view name : order) {
    auto it = by_name_.find(name);
    if (it == by_name_.end()) {
      error = "cannot add " + std::string(name) + ": no such part";
      return std::nullopt;
    }
    entries.push_back(it->second);
  }
  if (entries.size() != jobs_.size() ||
      std::set<Job*>(entries.begin(), entries.end()).size() != entries.size()) {
    error = "the archive's order does not name every part once";
    return std::nullopt;
  }

  std::uint16_t dos_date = 0, dos_time = 0;
  DosTime(mtime_, dos_date, dos_time);
  const std::uint16_t flags = level_ < 3 ? 2 << 1 : level_ > 7 ? 1 << 1 : 0;
  std::uint64_t size = kEndOfDirectorySize;
  for (Job* job : entries) {
    if (!job->packed.error.empty()) {
      error = "cannot add " + job->name + ": " + job->packed.error;
      return std::nullopt;
    }
    job->packed.size = static_cast<std::uint32_t>(job->packed.data.size());
    size += kLocalHeaderSize + kCentralHeaderSize + 2 * job->name.size() + job->packed.data.size();
  }
  if (size > kMaxZipSize) {
    error = "the archive would be " + std::to_string(size) +
            " bytes, more than a zip archive without ZIP64 holds (4 GiB)";
    return std::nullopt;
  }

  std::string out;
  out.reserve(static_cast<std::size_t>(size));
  std::vector<std::uint32_t> offsets(entries.size());
  auto header = [&](const Job& job) {
    const std::uint16_t entry_flags = flags | (Ascii(job.name) ? 0 : kFlagUtf8Name);
    Put16(out, kVersionNeeded);
    Put16(out, entry_flags);
    Put16(out, kMethodDeflate);
    Put16(out, dos_time);
    Put16(out, dos_date);
    Put32(out, job.packed.crc);
    Put32(out, job.packed.size);
    Put32(out, job.raw_size);
    Put16(out, static_cast<std::uint16_t>(job.name.size()));
    Put16(out, 0);  // extra field
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    offsets[i] = static_cast<std::uint32_t>(out.size());
    Put32(out, kLocalHeader);
    header(*entries[i]);
    out += entries[i]->name;
    out += entries[i]->packed.data;
    entries[i]->packed.data = std::string();
  }
  const auto directory = static_cast<std::uint32_t>(out.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Put32(out, kCentralHeader);
    Put16(out, kMadeBy);
    header(*entries[i]);
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, kUnixRegular0666);
    Put32(out, offsets[i]);
    out += entries[i]->name;
  }
  const auto directory_size = static_cast<std::uint32_t>(out.size() - directory);
  Put32(out, kEndOfDirectory);
  Put16(out, 0);  // this disk
  Put16(out, 0);  // the directory's disk
  Put16(out, static_cast<std::uint16_t>(entries.size()));
  Put16(out, static_cast<std::uint16_t>(entries.size()));
  Put32(out, directory_size);
  Put32(out, directory);
  Put16(out, 0);  // comment
  return out;
}

std::optional<std::string> WriteZip(std::span<const ZipEntry> entries, int level, std::time_t mtime,
                                    std::string& error) {
  if (entries.size() > 0xFFFF) {
    error =
        "too many parts for a zip archive: " + std::to_string(entries.size()) + " (at most 65535)";
    return std::nullopt;
  }
  // Refusals in the order given, before any work.
  for (const ZipEntry& e : entries)
    if (std::string why = Refusal(e.name, e.bytes.size()); !why.empty()) {
      error = why;
      return std::nullopt;
    }
  // Largest parts first, taken by whichever thread is free: the two finish close together.
  std::vector<std::size_t> by_size(entries.size());
  for (std::size_t i = 0; i < by_size.size(); ++i) by_size[i] = i;
  std::stable_sort(by_size.begin(), by_size.end(), [&](std::size_t a, std::size_t b) {
    return entries[a].bytes.size() > entries[b].bytes.size();
  });
  ZipStream zip(level, mtime);
  for (std::size_t i : by_size) zip.AddView(entries[i].name, entries[i].bytes);
  std::vector<std::string_view> order;
  order.reserve(entries.size());
  for (const ZipEntry& e : entries) order.push_back(e.name);
  return zip.Finish(order, error);
}

}  // namespace sheetwise::xlsx
