// Reading a file into memory the document owns, and the big blocks behind the tag index.
//
// The file is read into private memory rather than mapped: a document lives as long as the user
// keeps the drawing open, and a mapping of a file that another program truncates or rewrites in
// place (cp, an editor that saves in place) faults with SIGBUS on the next access, MAP_PRIVATE
// or not, or silently changes the bytes every tag points into. A private copy cannot crash and
// always saves what was read. With huge pages it costs about what a mapping does: measured on a
// 113 MB drawing, read() into a huge-page block 25-60 ms against 50-80 ms for a populated
// MAP_PRIVATE mapping; the slow part was never the copy but faulting in fresh 4 KiB pages
// (~500 ms for the bytes, as much again for the tags).
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "platform/dxf/document_internal.h"

namespace sheetwise::dxf {

namespace {

std::size_t RoundUp(std::size_t bytes, std::size_t to) {
  return (bytes + to - 1) / to * to;
}

}  // namespace

void* AllocateBlock(std::size_t bytes) {
  if (bytes < kLargeBlock) return ::operator new(bytes);
  if (bytes > static_cast<std::size_t>(-1) - 2 * kLargeBlock) throw std::bad_alloc();
  const std::size_t length = RoundUp(bytes, kLargeBlock);
  // One huge page more than needed, so that the block can start on a 2 MiB boundary (kernels
  // before 6.7 do not align anonymous mappings by themselves); the rest is unmapped again.
  void* raw = ::mmap(nullptr, length + kLargeBlock, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto at = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t start = (at + kLargeBlock - 1) & ~(std::uintptr_t{kLargeBlock} - 1);
  const std::size_t head = start - at;
  if (head) ::munmap(raw, head);
  if (kLargeBlock - head) ::munmap(reinterpret_cast<char*>(start) + length, kLargeBlock - head);
  // Fails only without transparent huge pages in the kernel: then 4 KiB pages serve.
  (void)::madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(start);
}

void FreeBlock(void* block, std::size_t bytes) noexcept {
  if (!block) return;
  if (bytes < kLargeBlock) {
    ::operator delete(block);
    return;
  }
  ::munmap(block, RoundUp(bytes, kLargeBlock));
}

FileBytes::FileBytes(std::size_t size) {
  if (size == 0) return;
  block_ = static_cast<char*>(AllocateBlock(size));
  size_ = capacity_ = size;
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : text_(std::move(other.text_)),
      block_(std::exchange(other.block_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    FreeBlock(block_, capacity_);
    text_ = std::move(other.text_);
    block_ = std::exchange(other.block_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

FileBytes::~FileBytes() {
  FreeBlock(block_, capacity_);
}

void FileBytes::Shrink(std::size_t size) {
  if (block_ && size < size_) size_ = size;
  if (!block_ && size < text_.size()) text_.resize(size);
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, FileBytes& out) {
  // O_NONBLOCK: opening a FIFO that no program writes would otherwise wait forever; it is
  // cleared before reading, so that a writer that is there is waited for.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string("cannot open: ") + std::strerror(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::string("cannot read: ") + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::string("a DXF file expected, found a folder");
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  constexpr std::uint64_t kLimit = 0xFFFFFFF0u;
  const std::string too_big = "a file smaller than 4 GiB expected";
  auto read_some = [fd](char* to, std::size_t count) -> ssize_t {
    for (;;) {
      const ssize_t n = ::read(fd, to, count);
      if (n >= 0 || errno != EINTR) return n;
    }
  };
  if (S_ISREG(st.st_mode)) {
    if (static_cast<std::uint64_t>(st.st_size) >= kLimit) return too_big;
    const auto size = static_cast<std::size_t>(st.st_size);
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    FileBytes bytes(size);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = read_some(bytes.data() + done, size - done);
      if (n < 0) return std::string("cannot read: ") + std::strerror(errno);
      if (n == 0) break;  // the file was cut short since fstat: what is there is the file
      done += static_cast<std::size_t>(n);
    }
    bytes.Shrink(done);
    out = std::move(bytes);
    return std::nullopt;
  }
  // A pipe or a device: its size is known only at its end.
  std::string text;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = read_some(chunk, sizeof chunk);
    if (n < 0) return std::string("cannot read: ") + std::strerror(errno);
    if (n == 0) break;
    if (text.size() + static_cast<std::size_t>(n) >= kLimit) return too_big;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  out = FileBytes(std::move(text));
  return std::nullopt;
}

}  // namespace sheetwise::dxf
