// Tests of the zip writer: the archives it writes are laid out as libzip laid out the same parts
// with the settings workbooks were saved with before (the same entries, names, checksums, sizes,
// flags, times and attributes; only the deflated bytes are our compressor's), read back by
// libzip (through Package) and by python's zipfile, and what a zip without ZIP64 cannot hold is
// refused.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/xlsx/package.h"
#include "platform/xlsx/zip_write.h"
#include "tests/platform/xlsx/xlsx_test_support.h"

namespace sheetwise::xlsx {
namespace {

namespace fs = std::filesystem;
const fs::path kCorpus = fs::path(SW_SHARED_DIR) / "corpus" / "xlsx";
constexpr std::time_t kTime = 315532800 + 86400;

// What workbooks were saved with before: libzip, deflate level 1, one fixed time.
std::string LibzipArchive(const std::vector<ZipEntry>& entries) {
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* out = zip_source_buffer_create(nullptr, 0, 0, &ze);
  zip_source_keep(out);
  zip_t* z = zip_open_from_source(out, ZIP_TRUNCATE, &ze);
  for (const ZipEntry& e : entries) {
    zip_source_t* s = zip_source_buffer(z, e.bytes.data(), e.bytes.size(), 0);
    const std::string name(e.name);
    zip_int64_t i = zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8);
    EXPECT_GE(i, 0) << name;
    zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_DEFLATE, 1);
    zip_file_set_mtime(z, static_cast<zip_uint64_t>(i), kTime, 0);
  }
  EXPECT_EQ(zip_close(z), 0);
  std::string bytes;
  if (zip_source_open(out) == 0) {
    zip_source_seek(out, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(zip_source_tell(out)));
    zip_source_seek(out, 0, SEEK_SET);
    zip_source_read(out, bytes.data(), bytes.size());
    zip_source_close(out);
  }
  zip_source_free(out);
  zip_error_fini(&ze);
  return bytes;
}

std::uint32_t Le(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
  return v;
}

// An archive's central directory, every field but the compressed size and the offset (which
// depend on the compressor), one line an entry; and whether each local header repeats it.
std::string Directory(const std::string& zip) {
  if (zip.size() < 22) return "too short";
  const std::size_t end = zip.size() - 22;
  if (Le(zip, end, 4) != 0x06054b50) return "no end record";
  std::string out = "entries " + std::to_string(Le(zip, end + 10, 2)) + "\n";
  std::size_t at = Le(zip, end + 16, 4);
  for (std::uint32_t i = 0; i < Le(zip, end + 10, 2); ++i) {
    if (Le(zip, at, 4) != 0x02014b50) return out + "bad central header";
    const std::uint32_t name_len = Le(zip, at + 28, 2), extra = Le(zip, at + 30, 2),
                        comment = Le(zip, at + 32, 2), local = Le(zip, at + 42, 4);
    const std::string name = zip.substr(at + 46, name_len);
    // Made by, needed, flags, method, time, date, checksum, size, lengths, disk, attributes.
    for (auto [field, bytes] : {std::pair{4, 2},
                                {6, 2},
                                {8, 2},
                                {10, 2},
                                {12, 2},
                                {14, 2},
                                {16, 4},
                                {24, 4},
                                {28, 2},
                                {30, 2},
                                {32, 2},
                                {34, 2},
                                {36, 2},
                                {38, 4}})
      out += std::to_string(Le(zip, at + field, bytes)) + " ";
    out += name + "\n";
    // The local header: the same version, flags, method, time, checksum and sizes, no extra.
    if (Le(zip, local, 4) != 0x04034b50 || zip.compare(local + 4, 26, zip, at + 6, 26) != 0 ||
        zip.compare(local + 30, name_len, name) != 0)
      out += "local header of " + name + " differs\n";
    at += 46 + name_len + extra + comment;
  }
  return out;
}

// The archive written, compared with libzip's and read back entry by entry.
void ExpectWrittenAsLibzipDid(const std::vector<ZipEntry>& entries, const std::string& what) {
  SCOPED_TRACE(what);
  std::string error;
  std::optional<std::string> zip = WriteZip(entries, 1, kTime, error);
  ASSERT_TRUE(zip) << error;
  EXPECT_EQ(Directory(*zip), Directory(LibzipArchive(entries)));
  // Package needs [Content_Types].xml; libzip is asked directly for the others.
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* src = zip_source_buffer_create(zip->data(), zip->size(), 0, &ze);
  zip_t* z = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &ze);
  ASSERT_NE(z, nullptr) << zip_error_strerror(&ze);
  ASSERT_EQ(zip_get_num_entries(z, 0), static_cast<zip_int64_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(z, i, 0, &st), 0);
    EXPECT_EQ(std::string_view(st.name), entries[i].name);
    zip_file_t* f = zip_fopen_index(z, i, 0);
    ASSERT_NE(f, nullptr);
    std::string back(entries[i].bytes.size() + 1, '\0');
    zip_int64_t n = zip_fread(f, back.data(), back.size());
    zip_fclose(f);
    ASSERT_GE(n, 0) << entries[i].name << ": " << zip_strerror(z);
    back.resize(static_cast<std::size_t>(n));
    EXPECT_TRUE(back == entries[i].bytes) << entries[i].name;
  }
  zip_discard(z);
  zip_error_fini(&ze);
}

std::vector<ZipEntry> EntriesOf(const Package& pkg) {
  std::vector<ZipEntry> entries;
  for (const Part& p : pkg.parts()) entries.push_back({p.name, p.bytes});
  return entries;
}

TEST(ZipWrite, LaidOutAsLibzipDid) {
  std::mt19937 random(7);
  std::string noise(300 << 10, '\0');  // does not compress; big enough for the second thread
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  while (text.size() < (2 << 20)) text += "<row r=\"" + std::to_string(text.size()) + "\"/>";
  const std::string long_name(300, 'n');
  ExpectWrittenAsLibzipDid({{"a.xml", "hello"}}, "one small part");
  ExpectWrittenAsLibzipDid({{"empty.xml", ""}, {"b.xml", "x"}}, "an empty part");
  ExpectWrittenAsLibzipDid({{"xl/\xC3\xA9t\xC3\xA9.xml", "<a/>"}, {"z/\xE2\x82\xAC", ""}},
                           "non-ASCII names");
  ExpectWrittenAsLibzipDid(
      {{"noise.bin", noise}, {"sheet.xml", text}, {long_name, "x"}, {"small.xml", "<a/>"}},
      "large parts on two threads");
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) names.push_back("p/" + std::to_string(i) + ".xml");
  const std::string part = text.substr(0, names.size() * 97);
  std::vector<ZipEntry> many;
  for (const std::string& n : names) many.push_back({n, part});
  ExpectWrittenAsLibzipDid(many, "many parts");

  if (!fs::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".xlsx") continue;
    PackageResult read = Package::Open(entry.path());
    ASSERT_TRUE(read) << read.error->ToString();
    ExpectWrittenAsLibzipDid(EntriesOf(*read.package), entry.path().filename().string());
    ++files;
  }
  EXPECT_GT(files, 0);
}

TEST(ZipWrite, ReadBackByPackageAndPython) {
  if (!fs::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  const bool python = std::system("/usr/bin/python3 -c 'import zipfile' >/dev/null 2>&1") == 0;
  const fs::path out = fs::temp_directory_path() / ("zip_write_test_" + std::to_string(::getpid()));
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".xlsx") continue;
    SCOPED_TRACE(entry.path().filename().string());
    PackageResult read = Package::Open(entry.path());
    ASSERT_TRUE(read) << read.error->ToString();
    std::string error;
    std::optional<std::string> zip = WriteZip(EntriesOf(*read.package), 1, kTime, error);
    ASSERT_TRUE(zip) << error;
    PackageResult again = Package::OpenFromMemory(*zip, "written");
    ASSERT_TRUE(again) << again.error->ToString();
    ASSERT_EQ(again.package->parts().size(), read.package->parts().size());
    for (std::size_t i = 0; i < read.package->parts().size(); ++i) {
      EXPECT_EQ(again.package->parts()[i].name, read.package->parts()[i].name);
      EXPECT_TRUE(again.package->parts()[i].bytes == read.package->parts()[i].bytes)
          << read.package->parts()[i].name;
    }
    if (!python) continue;
    std::ofstream(out, std::ios::binary) << *zip;
    // zipfile checks every CRC and size; it prints the names and sizes it read.
    const std::string cmd =
        "/usr/bin/python3 -c \"import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "for i in z.infolist(): print(i.filename, i.file_size)\" '" +
        out.string() + "'";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string listing;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) listing.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0);
    std::string expected;
    for (const Part& p : read.package->parts())
      expected += p.name + " " + std::to_string(p.bytes.size()) + "\n";
    EXPECT_EQ(listing, expected);
  }
  fs::remove(out);
}

TEST(ZipWrite, RefusesWhatAZipCannotHold) {
  std::string error;
  // A part one byte over 4 GiB: address space only, the writer refuses it before reading.
  const std::size_t huge = (std::size_t{1} << 32) + 1;
  void* map = ::mmap(nullptr, huge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (map != MAP_FAILED) {
    std::vector<ZipEntry> entries = {{"a.xml", "<a/>"},
                                     {"xl/big.xml", {static_cast<const char*>(map), huge}}};
    EXPECT_FALSE(WriteZip(entries, 1, kTime, error));
    EXPECT_NE(error.find("xl/big.xml"), std::string::npos) << error;
    EXPECT_NE(error.find("4 GiB"), std::string::npos) << error;
    ::munmap(map, huge);
  }
  error.clear();
  EXPECT_FALSE(WriteZip(std::vector<ZipEntry>{{"a\xFF.xml", "x"}}, 1, kTime, error));
  EXPECT_NE(error.find("not a valid part name"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(WriteZip(std::vector<ZipEntry>{{"", "x"}}, 1, kTime, error));
  EXPECT_FALSE(error.empty());
  std::vector<ZipEntry> too_many(70000, ZipEntry{"a", ""});
  error.clear();
  EXPECT_FALSE(WriteZip(too_many, 1, kTime, error));
  EXPECT_NE(error.find("too many parts"), std::string::npos) << error;
}

}  // namespace
}  // namespace sheetwise::xlsx
