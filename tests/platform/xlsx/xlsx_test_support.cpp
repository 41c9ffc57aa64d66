#include "tests/platform/xlsx/xlsx_test_support.h"

#include <zip.h>

#include <fstream>
#include <iterator>

namespace sheetwise::xlsx::xlsxtest {

std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& parts) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* out = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_source_keep(out);
  zip_t* z = zip_open_from_source(out, ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : parts) {
    zip_source_t* s = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    zip_int64_t i = zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE);
    zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
  }
  zip_close(z);
  zip_source_open(out);
  zip_source_seek(out, 0, SEEK_END);
  const zip_int64_t size = zip_source_tell(out);
  zip_source_seek(out, 0, SEEK_SET);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  zip_source_read(out, bytes.data(), static_cast<zip_uint64_t>(size));
  zip_source_close(out);
  zip_source_free(out);
  zip_error_fini(&error);
  return bytes;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace sheetwise::xlsx::xlsxtest
