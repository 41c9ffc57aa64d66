#include "platform/win/profile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include <unistd.h>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"
#include "platform/win/profile_internal.h"
#include "platform/win/registry_store_internal.h"
#include "platform/win/shell.h"

namespace sheetwise::win::profile_internal {
namespace {

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r')) {
    s.remove_suffix(1);
  }
  return s;
}

std::wstring DecodeUtf16Le(std::string_view bytes) {
  std::wstring out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char32_t unit =
        static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low =
          static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        i += 2;
        continue;
      }
    }
    out.push_back(unit >= 0xD800 && unit <= 0xDFFF ? L'\xFFFD' : static_cast<wchar_t>(unit));
  }
  if (bytes.size() % 2 != 0) out.push_back(L'\xFFFD');
  return out;
}

void AppendUtf16Le(char32_t c, std::string& out) {
  auto unit = [&out](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x10000) {
    unit(c);
  } else {
    unit(0xD800 + ((c - 0x10000) >> 10));
    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

std::wstring ValueOf(std::wstring_view text) {
  std::wstring_view value = Trim(text.substr(text.find(L'=') + 1));
  if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::wstring(value);
}

}  // namespace

IniDocument::Line IniDocument::Classify(std::wstring text, std::wstring eol, std::string raw) {
  Line line{std::move(raw), std::move(text), std::move(eol), Kind::kOther, {}};
  const std::wstring_view t = Trim(line.text);
  if (t.empty() || t.front() == L';') return line;
  if (t.front() == L'[') {
    const size_t close = t.find(L']');
    line.kind = Kind::kSection;
    line.name =
        std::wstring(Trim(t.substr(1, close == std::wstring_view::npos ? close : close - 1)));
    return line;
  }
  const size_t eq = t.find(L'=');
  if (eq != std::wstring_view::npos && eq > 0) {
    line.kind = Kind::kKey;
    line.name = std::wstring(Trim(t.substr(0, eq)));
  }
  return line;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
  IniDocument doc;
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    doc.encoding_ = Encoding::kUtf16Le;
    doc.bom_ = "\xFF\xFE";
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.encoding_ = Encoding::kUtf8Bom;
    doc.bom_ = "\xEF\xBB\xBF";
  }
  bytes.remove_prefix(doc.bom_.size());
  const bool wide = doc.encoding_ == Encoding::kUtf16Le;
  const size_t unit = wide ? 2 : 1;
  size_t start = 0;
  while (start < bytes.size()) {
    // Find the next LF unit.
    size_t end = start;
    while (end + unit <= bytes.size() &&
           !(bytes[end] == '\n' && (!wide || bytes[end + 1] == '\0'))) {
      end += unit;
    }
    const bool has_lf = end + unit <= bytes.size();
    const size_t next = has_lf ? end + unit : bytes.size();
    std::string_view content = bytes.substr(start, (has_lf ? end : bytes.size()) - start);
    std::wstring eol = has_lf ? L"\n" : L"";
    const bool cr = wide ? content.size() >= 2 && content[content.size() - 2] == '\r' &&
                               content[content.size() - 1] == '\0'
                         : !content.empty() && content.back() == '\r';
    if (has_lf && cr) {
      content.remove_suffix(unit);
      eol = L"\r\n";
    }
    std::wstring text = wide ? DecodeUtf16Le(content) : Utf8ToWide(content);
    doc.lines_.push_back(
        Classify(std::move(text), std::move(eol), std::string(bytes.substr(start, next - start))));
    start = next;
  }
  return doc;
}

std::optional<std::pair<size_t, size_t>> IniDocument::FindSection(std::wstring_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Kind::kSection || !EqualsNoCase(lines_[i].name, section)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && lines_[end].kind != Kind::kSection) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

std::optional<std::wstring> IniDocument::Get(std::wstring_view section,
                                             std::wstring_view key) const {
  const auto range = FindSection(section);
  if (!range) return std::nullopt;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    if (lines_[i].kind == Kind::kKey && EqualsNoCase(lines_[i].name, key)) {
      return ValueOf(lines_[i].text);
    }
  }
  return std::nullopt;
}

std::vector<std::wstring> IniDocument::Sections() const {
  std::vector<std::wstring> names;
  for (const Line& line : lines_) {
    if (line.kind != Kind::kSection) continue;
    const bool seen = std::any_of(names.begin(), names.end(), [&](const std::wstring& n) {
      return EqualsNoCase(n, line.name);
    });
    if (!seen) names.push_back(line.name);
  }
  return names;
}

std::vector<std::wstring> IniDocument::Keys(std::wstring_view section) const {
  std::vector<std::wstring> names;
  const auto range = FindSection(section);
  if (!range) return names;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    const Line& line = lines_[i];
    if (line.kind != Kind::kKey) continue;
    const bool seen = std::any_of(names.begin(), names.end(), [&](const std::wstring& n) {
      return EqualsNoCase(n, line.name);
    });
    if (!seen) names.push_back(line.name);
  }
  return names;
}

std::wstring IniDocument::NewlineForNewLines() const {
  for (const Line& line : lines_) {
    if (!line.eol.empty()) return line.eol;
  }
  return L"\n";
}

void IniDocument::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  const std::wstring newline = NewlineForNewLines();
  auto terminate = [&](size_t index) {
    // A line that gets a successor needs a line end of its own.
    if (index < lines_.size() && lines_[index].eol.empty()) {
      lines_[index].eol = newline;
      lines_[index].raw.clear();
    }
  };
  std::wstring key_line = std::wstring(key) + L"=" + std::wstring(value);
  const auto range = FindSection(section);
  if (!range) {
    if (!lines_.empty()) {
      terminate(lines_.size() - 1);
      if (!Trim(lines_.back().text).empty()) lines_.push_back(Classify(L"", newline, ""));
    }
    lines_.push_back(Classify(L"[" + std::wstring(section) + L"]", newline, ""));
    lines_.push_back(Classify(std::move(key_line), newline, ""));
    return;
  }
  size_t insert_at = range->first + 1;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    Line& line = lines_[i];
    if (line.kind != Kind::kKey) continue;
    if (EqualsNoCase(line.name, key)) {
      // Keep the key's spelling and the blanks around '=' as the file had them.
      const size_t eq = line.text.find(L'=');
      size_t value_start = eq + 1;
      while (value_start < line.text.size() &&
             (line.text[value_start] == L' ' || line.text[value_start] == L'\t')) {
        ++value_start;
      }
      line = Classify(line.text.substr(0, value_start) + std::wstring(value), line.eol, "");
      return;
    }
    insert_at = i + 1;
  }
  terminate(insert_at - 1);
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                Classify(std::move(key_line), insert_at < lines_.size() ? newline : newline, ""));
}

bool IniDocument::DeleteKey(std::wstring_view section, std::wstring_view key) {
  const auto range = FindSection(section);
  if (!range) return false;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    if (lines_[i].kind == Kind::kKey && EqualsNoCase(lines_[i].name, key)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool IniDocument::DeleteSection(std::wstring_view section) {
  const auto range = FindSection(section);
  if (!range) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->first),
               lines_.begin() + static_cast<std::ptrdiff_t>(range->second));
  return true;
}

std::string IniDocument::Encode(std::wstring_view text) const {
  if (encoding_ != Encoding::kUtf16Le) return WideToUtf8(text);
  std::string out;
  for (wchar_t c : text) AppendUtf16Le(static_cast<char32_t>(c), out);
  return out;
}

std::string IniDocument::Serialize() const {
  std::string out = bom_;
  for (const Line& line : lines_) {
    out += line.raw.empty() ? Encode(line.text + line.eol) : line.raw;
  }
  return out;
}

}  // namespace sheetwise::win::profile_internal

namespace {

using sheetwise::win::profile_internal::IniDocument;
namespace fs = std::filesystem;

std::mutex profile_mutex;  // serializes read-modify-write of profile files in this process

std::string ResolvePath(LPCWSTR file) {
  std::string path = WideToUtf8(file);
  if (path.find('/') == std::string::npos) path = XdgConfigHome() + "/sheetwise/" + path;
  return path;
}

std::optional<std::string> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

IniDocument Load(LPCWSTR file) {
  const std::optional<std::string> bytes = ReadBytes(ResolvePath(file));
  return IniDocument::Parse(bytes ? *bytes : std::string());
}

DWORD CopyList(const std::vector<std::wstring>& names, LPWSTR buffer, DWORD size) {
  std::wstring list;
  for (const std::wstring& name : names) {
    list += name;
    list.push_back(L'\0');
  }
  if (list.size() + 1 <= size) {
    std::copy(list.begin(), list.end(), buffer);
    buffer[list.size()] = L'\0';
    if (list.empty()) buffer[1 < size ? 1 : 0] = L'\0';
    return static_cast<DWORD>(list.size());
  }
  if (size < 2) {
    buffer[0] = L'\0';
    return 0;
  }
  std::copy_n(list.begin(), size - 2, buffer);
  buffer[size - 2] = L'\0';
  buffer[size - 1] = L'\0';
  return size - 2;
}

}  // namespace

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR default_value, LPWSTR buffer,
                               DWORD size, LPCWSTR file) {
  if (buffer == nullptr || size == 0) return 0;
  if (file == nullptr) {
    buffer[0] = L'\0';
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  IniDocument doc;
  {
    std::lock_guard lock(profile_mutex);
    doc = Load(file);
  }
  if (section == nullptr) return CopyList(doc.Sections(), buffer, size);
  if (key == nullptr) return CopyList(doc.Keys(section), buffer, size);
  std::wstring value;
  if (std::optional<std::wstring> found = doc.Get(section, key)) {
    value = std::move(*found);
  } else {
    value = default_value != nullptr ? default_value : L"";
    while (!value.empty() && value.back() == L' ') value.pop_back();
  }
  const size_t n = std::min<size_t>(value.size(), size - 1);
  std::copy_n(value.begin(), n, buffer);
  buffer[n] = L'\0';
  return static_cast<DWORD>(n);
}

UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT default_value, LPCWSTR file) {
  if (section == nullptr || key == nullptr || file == nullptr) {
    return static_cast<UINT>(default_value);
  }
  std::optional<std::wstring> value;
  {
    std::lock_guard lock(profile_mutex);
    value = Load(file).Get(section, key);
  }
  if (!value || value->empty()) return static_cast<UINT>(default_value);
  size_t i = 0;
  while (i < value->size() && ((*value)[i] == L' ' || (*value)[i] == L'\t')) ++i;
  bool negative = false;
  if (i < value->size() && ((*value)[i] == L'-' || (*value)[i] == L'+')) {
    negative = (*value)[i] == L'-';
    ++i;
  }
  unsigned long long result = 0;
  for (; i < value->size() && (*value)[i] >= L'0' && (*value)[i] <= L'9'; ++i) {
    result = result * 10 + static_cast<unsigned>((*value)[i] - L'0');
    if (result > UINT_MAX) result = UINT_MAX;  // saturate rather than wrap on absurd input
  }
  const auto magnitude = static_cast<UINT>(result);
  return negative ? 0u - magnitude : magnitude;
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (section == nullptr || file == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = ResolvePath(file);
  std::lock_guard lock(profile_mutex);
  const std::optional<std::string> bytes = ReadBytes(path);
  IniDocument doc = IniDocument::Parse(bytes ? *bytes : std::string());
  bool changed = true;
  if (key == nullptr) {
    changed = doc.DeleteSection(section);
  } else if (value == nullptr) {
    changed = doc.DeleteKey(section, key);
  } else {
    doc.Set(section, key, value);
  }
  if (!changed) return TRUE;
  const fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  if (std::wstring_view(file).find(L'/') == std::wstring_view::npos) {
    fs::create_directories(folder, ec);
  }
  if (!fs::is_directory(folder.empty() ? fs::path(".") : folder, ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string error;
  if (!sheetwise::win::registry_internal::WriteFileAtomically(path, doc.Serialize(), error)) {
    const bool writable = ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
    SetLastError(writable ? ERROR_CANTWRITE : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  sheetwise::win::registry_internal::RemoveStaleTemporaries(path);
  return TRUE;
}
