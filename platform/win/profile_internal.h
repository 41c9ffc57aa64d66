// The line-keeping INI document behind the profile functions, shared with the fuzz target.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheetwise::win::profile_internal {

/// An INI file as lines: each keeps its original bytes (with its line end) until it is changed,
/// so that writing an unchanged document gives back the input byte for byte.
class IniDocument {
 public:
  enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le };

  /// Splits `bytes` into lines; never fails (invalid UTF-8 reads as U+FFFD for matching, and is
  /// written back unchanged).
  static IniDocument Parse(std::string_view bytes);

  /// The value of the first `key` in the first `section`, quotes removed; nullopt when absent.
  std::optional<std::wstring> Get(std::wstring_view section, std::wstring_view key) const;
  /// Section names in file order, each once.
  std::vector<std::wstring> Sections() const;
  /// Key names of the first `section`, each once, in file order.
  std::vector<std::wstring> Keys(std::wstring_view section) const;

  void Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);
  /// Returns whether anything was removed.
  bool DeleteKey(std::wstring_view section, std::wstring_view key);
  bool DeleteSection(std::wstring_view section);

  std::string Serialize() const;

 private:
  enum class Kind { kOther, kSection, kKey };
  struct Line {
    std::string raw;    // original bytes including the line end; empty for a new line
    std::wstring text;  // decoded, without the line end
    std::wstring eol;   // L"\r\n", L"\n", L"\r" or L""
    Kind kind = Kind::kOther;
    std::wstring name;  // section or key name, trimmed
  };

  static Line Classify(std::wstring text, std::wstring eol, std::string raw);
  std::string Encode(std::wstring_view text) const;
  /// Index range [first, end) of the lines of the first section named `section` (first is the
  /// header); nullopt when absent.
  std::optional<std::pair<size_t, size_t>> FindSection(std::wstring_view section) const;
  std::wstring NewlineForNewLines() const;

  Encoding encoding_ = Encoding::kUtf8;
  std::string bom_;
  std::vector<Line> lines_;
};

}  // namespace sheetwise::win::profile_internal
