// One version of a file on disk, to tell whether a file changed since it was looked at: a
// rename brings a new inode, and size and modification time catch a program that rewrites the
// file in place.
#pragma once

#include <sys/stat.h>

#include <filesystem>

namespace sheetwise::win {

struct FileVersion {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  static FileVersion Of(const struct stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  }
  /// A missing or unreadable file gives a version that does not exist.
  static FileVersion Of(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? Of(st) : FileVersion{};
  }
  bool operator==(const FileVersion& o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

}  // namespace sheetwise::win
