#include "platform/xlsx/zip_write.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
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

struct Packed {
  // Left uninitialised: the bound deflate may need is far above what it writes, and pages never
  // written are never touched.
  std::unique_ptr<char[]> data;
  std::size_t length = 0;  // of the deflated bytes in data
  std::uint32_t size = 0;  // the same, as the headers hold it
  std::uint32_t crc = 0;
  std::string error;
};

// Raw deflate, as zip entries hold it; one stream serves every entry a thread packs.
class Deflater {
 public:
  explicit Deflater(int level) {
    std::memset(&z_, 0, sizeof z_);
    // libzip's parameters (window 2^15, memory level 9): the same bytes as before for a part.
    ok_ =
        deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, MAX_MEM_LEVEL, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Deflater() {
    if (ok_) deflateEnd(&z_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void Pack(std::string_view in, Packed& out) {
    if (!ok_) {
      out.error = "cannot start deflate";
      return;
    }
    out.crc = static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(in.data()), in.size()));
    deflateReset(&z_);
    const auto bound = static_cast<std::size_t>(deflateBound(&z_, static_cast<uLong>(in.size())));
    out.data.reset(new char[bound]);
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z_.next_out = reinterpret_cast<Bytef*>(out.data.get());
    std::size_t in_left = in.size(), out_left = bound;
    int rc = Z_OK;
    while (rc == Z_OK) {
      // zlib counts in 32-bit units: big parts go in slices.
      const auto in_now = static_cast<uInt>(std::min<std::size_t>(in_left, 1u << 30));
      const auto out_now = static_cast<uInt>(std::min<std::size_t>(out_left, 1u << 30));
      z_.avail_in = in_now;
      z_.avail_out = out_now;
      rc = deflate(&z_, in_now == in_left ? Z_FINISH : Z_NO_FLUSH);
      in_left -= in_now - z_.avail_in;
      out_left -= out_now - z_.avail_out;
      if (rc == Z_BUF_ERROR && out_left > 0) rc = Z_OK;  // a slice ended; go on
    }
    if (rc != Z_STREAM_END) {
      out.error = "deflate failed (zlib error " + std::to_string(rc) + ")";
      out.data.reset();
      return;
    }
    out.length = bound - out_left;
  }

 private:
  z_stream z_;
  bool ok_ = false;
};

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

}  // namespace

std::optional<std::string> WriteZip(std::span<const ZipEntry> entries, int level, std::time_t mtime,
                                    std::string& error) {
  if (entries.size() > 0xFFFF) {
    error =
        "too many parts for a zip archive: " + std::to_string(entries.size()) + " (at most 65535)";
    return std::nullopt;
  }
  std::size_t total = 0;
  for (const ZipEntry& e : entries) {
    if (e.name.empty() || e.name.size() > 0xFFFF || !ValidUtf8(e.name)) {
      error = "cannot add " + std::string(e.name) + ": not a valid part name";
      return std::nullopt;
    }
    if (e.bytes.size() > kMaxZipSize) {
      error = "cannot add " + std::string(e.name) + ": " + std::to_string(e.bytes.size()) +
              " bytes, more than a zip archive holds in one part (4 GiB)";
      return std::nullopt;
    }
    total += e.bytes.size();
  }

  // Largest parts first, taken by whichever thread is free: the two finish close together.
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return entries[a].bytes.size() > entries[b].bytes.size();
  });
  std::vector<Packed> packed(entries.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    Deflater deflater(level);
    for (std::size_t k; (k = next.fetch_add(1)) < order.size();)
      deflater.Pack(entries[order[k]].bytes, packed[order[k]]);
  };
  std::thread helper;
  if (total >= kThreadFloor && entries.size() > 1) {
    try {
      helper = std::thread(work);
    } catch (const std::exception&) {
      // No second thread: this one packs everything.
    }
  }
  work();
  if (helper.joinable()) helper.join();

  std::uint16_t dos_date = 0, dos_time = 0;
  DosTime(mtime, dos_date, dos_time);
  const std::uint16_t flags = level < 3 ? 2 << 1 : level > 7 ? 1 << 1 : 0;
  std::uint64_t size = kEndOfDirectorySize;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!packed[i].error.empty()) {
      error = "cannot add " + std::string(entries[i].name) + ": " + packed[i].error;
      return std::nullopt;
    }
    packed[i].size = static_cast<std::uint32_t>(packed[i].length);
    size += kLocalHeaderSize + kCentralHeaderSize + 2 * entries[i].name.size() + packed[i].length;
  }
  if (size > kMaxZipSize) {
    error = "the archive would be " + std::to_string(size) +
            " bytes, more than a zip archive without ZIP64 holds (4 GiB)";
    return std::nullopt;
  }

  std::string out;
  out.reserve(static_cast<std::size_t>(size));
  std::vector<std::uint32_t> offsets(entries.size());
  auto header = [&](std::size_t i) {
    const std::uint16_t entry_flags = flags | (Ascii(entries[i].name) ? 0 : kFlagUtf8Name);
    Put16(out, kVersionNeeded);
    Put16(out, entry_flags);
    Put16(out, kMethodDeflate);
    Put16(out, dos_time);
    Put16(out, dos_date);
    Put32(out, packed[i].crc);
    Put32(out, packed[i].size);
    Put32(out, static_cast<std::uint32_t>(entries[i].bytes.size()));
    Put16(out, static_cast<std::uint16_t>(entries[i].name.size()));
    Put16(out, 0);  // extra field
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    offsets[i] = static_cast<std::uint32_t>(out.size());
    Put32(out, kLocalHeader);
    header(i);
    out += entries[i].name;
    out.append(packed[i].data.get(), packed[i].length);
    packed[i].data.reset();
  }
  const auto directory = static_cast<std::uint32_t>(out.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Put32(out, kCentralHeader);
    Put16(out, kMadeBy);
    header(i);
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, kUnixRegular0666);
    Put32(out, offsets[i]);
    out += entries[i].name;
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

}  // namespace sheetwise::xlsx
