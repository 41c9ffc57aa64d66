#include "tests/platform/dxf/dxf_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include <sys/wait.h>
#include <unistd.h>

namespace dxf_test {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  const fs::path dir = fs::path(SW_SHARED_DIR) / "corpus" / "dxf";
  std::error_code ec;
  return fs::is_directory(dir, ec) ? dir : fs::path();
}

// This file lies at tests/platform/dxf/ of the checkout (CMake compiles it by absolute path).
fs::path SamplesDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "samples";
}

std::vector<fs::path> DxfFiles(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() == ".dxf") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
  std::random_device rd;
  path_ = fs::temp_directory_path() /
          ("sw-dxf-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

bool HaveEzdxf() {
  static const bool have = Run("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") == 0;
  return have;
}

int Run(const std::string& command, std::string* output) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
    if (output) output->append(buf, n);
  }
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace dxf_test
