// The storage behind DxfDocument, shared by the reader, the editor and the writer, and the
// fault-injection hook of the atomic save used by tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/dxf/document.h"

namespace sheetwise::dxf {

/// Memory for the big arrays of a drawing (its bytes, tags and records: 250 MB for a 100 MB
/// file). Blocks from kLargeBlock up are anonymous mappings aligned to 2 MiB with transparent
/// huge pages asked for: the first write to a 4 KiB page costs a fault, on virtual machines
/// ~15 us, which made faulting in the arrays most of the load time; a huge page takes one fault
/// for 512 pages. Smaller blocks come from operator new (so that ASan watches them). The memory
/// is not initialised. Throws std::bad_alloc when the memory cannot be had.
inline constexpr std::size_t kLargeBlock = std::size_t{2} << 20;
void* AllocateBlock(std::size_t bytes);
/// Releases a block of AllocateBlock; `bytes` as allocated.
void FreeBlock(void* block, std::size_t bytes) noexcept;

/// A std::allocator for the big vectors: blocks through AllocateBlock.
template <typename T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <typename U>
  BlockAllocator(const BlockAllocator<U>&) {}  // NOLINT: converting, as allocators are
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateBlock(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { FreeBlock(p, n * sizeof(T)); }
  bool operator==(const BlockAllocator&) const { return true; }
};
template <typename T>
using BlockVector = std::vector<T, BlockAllocator<T>>;

/// The bytes of a loaded file, owned by the document: a block (Load) or the string given to
/// Parse. Moves, never copies.
class FileBytes {
 public:
  FileBytes() = default;
  explicit FileBytes(std::string text) : text_(std::move(text)) {}
  /// `size` bytes of uninitialised memory to read a file into.
  explicit FileBytes(std::size_t size);
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  ~FileBytes();

  char* data() { return block_ ? block_ : text_.data(); }
  /// The first `size()` bytes; Shrink makes it smaller (a file that ended early).
  std::string_view view() const {
    return block_ ? std::string_view(block_, size_) : std::string_view(text_);
  }
  std::size_t size() const { return block_ ? size_ : text_.size(); }
  void Shrink(std::size_t size);

 private:
  std::string text_;
  char* block_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

/// Reads all of `path` (a file, or a pipe or device up to its end) into `out`. Returns the
/// reason when it cannot ("cannot open: No such file or directory", "a DXF file expected, found
/// a folder", "a file smaller than 4 GiB expected"). A file cut short while read gives the bytes
/// that were there. See file_bytes.cpp for why the file is not mapped.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, FileBytes& out);

/// One tag: where its bytes are. A tag's bytes are [begin, begin + value_off + value_len +
/// tail_len) of the file (or of the edit arena when kInArena): group-code line or bytes, value,
/// line end or terminating zero.
struct Tag {
  std::uint32_t begin = 0;
  std::uint32_t value_len = 0;
  std::uint16_t value_off = 0;
  std::uint8_t tail_len = 0;
  std::uint8_t flags = 0;
  std::int16_t code = 0;

  static constexpr std::uint8_t kInArena = 1;
  std::uint32_t RawLength() const { return value_off + value_len + tail_len; }
};
static_assert(sizeof(Tag) <= 16, "a tag must stay small: there are millions of them");

struct Record {
  std::uint32_t first = 0;  // index into tags_ or, when kOverlay, into overlays_
  std::uint32_t count = 0;  // tag count when not kOverlay
  RecordId prev = kNoRecord;
  RecordId next = kNoRecord;
  std::uint32_t position = 0;  // 1-based line (ASCII) or byte offset (binary); 0: added
  std::uint32_t flags = 0;
  Handle handle = 0;  // as indexed in handles_

  static constexpr std::uint32_t kOverlay = 1;  // tags live in overlays_[first]
  static constexpr std::uint32_t kErased = 2;
  static constexpr std::uint32_t kNew = 4;
  // The high bits: 1 + the index of the record's type in Impl::types, as read (0: not known).
  // Only a record read from the file has it; its tags change only by becoming an overlay.
  static constexpr std::uint32_t kTypeShift = 16;
  static constexpr std::uint32_t kMaxTypes = 0xFFFF;
};

enum class CodeStyle : std::uint8_t { kRightAligned3, kPlain };

struct DxfDocument::Impl {
  std::string name;              // for diagnostics
  std::filesystem::path path;    // empty after Parse
  FileBytes bytes;               // owns the file's bytes
  std::string_view data;         // bytes.view(): what every tag points into
  std::string arena;             // bytes of edited and added tags
  std::uint32_t prefix_len = 0;  // bytes before the first tag (binary sentinel, UTF-8 BOM)
  std::uint32_t tail_begin = 0;  // bytes after the EOF record, written back as they were
  bool missing_eof = false;      // repaired: an EOF record was added

  Format format = Format::kAscii;
  bool binary_short_codes = false;  // binary R12: one-byte group codes (255 + two bytes)
  CodeStyle code_style = CodeStyle::kRightAligned3;
  std::string eol = "\r\n";   // for tags that have none of their own
  bool mbcs_escapes = false;  // the file writes \M+N escapes
  std::string version = "AC1009";
  int version_number = 1009;
  unsigned code_page = 1252;

  BlockVector<Tag> tags;
  std::vector<std::vector<Tag>> overlays;
  BlockVector<Record> records;
  // The record types of the file, each once: a type is looked up for nearly every record the
  // host touches, and reading it from the tags costs three scattered memory reads.
  std::deque<std::string> types;
  RecordId first = kNoRecord;
  RecordId last = kNoRecord;
  std::vector<Section> sections;
  std::unordered_map<Handle, RecordId> handles;
  std::unordered_map<std::string, std::uint32_t> header_vars;  // name -> index of its 9 tag
  RecordId header = kNoRecord;
  Handle next_handle = 1;  // the next handle NewHandle gives
  bool modified = false;
  std::uint64_t edits = 0;  // every change counts, saves do not reset it
  void Touch() {
    modified = true;
    ++edits;
  }

  std::span<const Tag> TagsOf(RecordId id) const {
    const Record& r = records[id];
    if (r.flags & Record::kOverlay) return overlays[r.first];
    return std::span<const Tag>(tags.data() + r.first, r.count);
  }
  const char* Buffer(const Tag& t) const {
    return (t.flags & Tag::kInArena) ? arena.data() : data.data();
  }
  std::string_view Value(const Tag& t) const {
    return std::string_view(Buffer(t) + t.begin + t.value_off, t.value_len);
  }
  std::string_view RawBytes(const Tag& t) const {
    return std::string_view(Buffer(t) + t.begin, t.RawLength());
  }
  bool Live(RecordId id) const {
    return id < records.size() && !(records[id].flags & Record::kErased);
  }
  void RebuildHeaderIndex();
  /// The handle a record's tags define (5, or 105 in DIMSTYLE); 0 for none and for SECTION.
  Handle HandleOf(std::span<const Tag> tags) const;
};

/// Parses a number the way a DXF value holds it: blanks around it allowed, a leading '+' too.
std::optional<double> ParseReal(std::string_view text);
std::optional<std::int64_t> ParseInteger(std::string_view text);
/// Hexadecimal handle text (1-16 digits, blanks around allowed); nullopt otherwise.
std::optional<Handle> ParseHandle(std::string_view text);
/// Shortest text that reads back as `value`, with a decimal point ("1.0", "2.5E-10").
std::string FormatReal(double value);

/// Test hook of the atomic save: called before each step ("open", "write", "sync", "backup",
/// "rename") with the target path; a non-zero errno return makes that step fail with it.
/// Null restores normal saving. For tests only; not thread-safe.
void SetSaveFaultForTesting(std::function<int(std::string_view step)> hook);

// The outcome of a PrefetchedLoad of `path` still unclaimed, waited for; nullopt when there is
// none or the file changed since its reading started.
std::optional<LoadResult> TakePrefetched(const std::filesystem::path& path);

}  // namespace sheetwise::dxf
