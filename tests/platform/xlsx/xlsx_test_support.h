// Helpers of the .xlsx tests: workbooks made part by part, files read whole.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace sheetwise::xlsx::xlsxtest {

/// A stored (uncompressed) zip of the given parts, in order, built with libzip.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& parts);

/// The bytes of a file (empty when it cannot be read).
std::string ReadFile(const std::filesystem::path& path);

}  // namespace sheetwise::xlsx::xlsxtest
