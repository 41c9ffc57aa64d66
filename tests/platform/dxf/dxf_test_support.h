// Helpers of the DXF tests: the shared corpus, temporary folders, files as bytes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dxf_test {

/// The corpus folder of real DXF files; empty when the shared folder is absent.
std::filesystem::path CorpusDir();
/// The project's samples/ folder.
std::filesystem::path SamplesDir();
/// Every *.dxf in `dir`, sorted.
std::vector<std::filesystem::path> DxfFiles(const std::filesystem::path& dir);
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
/// A fresh empty folder under the system temp folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
/// /usr/bin/python3 when it can import ezdxf.
bool HaveEzdxf();
/// Runs a shell command; returns its exit status and fills `output` with stdout.
int Run(const std::string& command, std::string* output = nullptr);

}  // namespace dxf_test
