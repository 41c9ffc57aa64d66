#include "settings/settings_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"
#include "platform/win/profile.h"
#include "platform/win/registry.h"
#include "platform/win/shell.h"
#include "settings/settings_internal.h"

namespace sheetwise {
namespace {

using settings_internal::Field;
using settings_internal::kExportFields;
using settings_internal::kImportFields;
using settings_internal::LeadingInteger;
namespace fs = std::filesystem;

constexpr const wchar_t* kExportSection = L"Export";
constexpr const wchar_t* kImportSection = L"Import";
constexpr DWORD kValueChars = 256;           // the buffer the Options dialog reads values into
constexpr off_t kLargestFile = 1024 * 1024;  // a settings file is a few hundred bytes

struct Section {
  const wchar_t* name;
  const Field* begin;
  const Field* end;
};
const Section kSections[] = {
    {kExportSection, kExportFields.data(), kExportFields.data() + kExportFields.size()},
    {kImportSection, kImportFields.data(), kImportFields.data() + kImportFields.size()},
};

void SetError(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
}

// The file the profile functions use for `path`: a name without a folder lies in the
// program's settings folder.
std::string ResolvePath(const std::wstring& path) {
  std::string resolved = WideToUtf8(path);
  if (resolved.find('/') == std::string::npos)
    resolved = XdgConfigHome() + "/sheetwise/" + resolved;
  return resolved;
}

// The whole file, or nullopt with `*error` saying why it cannot serve as a settings file.
std::optional<std::string> ReadSettingsBytes(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    SetError(error, path + ": cannot read the settings file: " + std::strerror(errno));
    return std::nullopt;
  }
  struct stat st {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &st) != 0) {
    SetError(error, path + ": cannot read the settings file: " + std::strerror(errno));
  } else if (S_ISDIR(st.st_mode)) {
    SetError(error, path + ": is a folder, not a settings file");
  } else if (!S_ISREG(st.st_mode)) {
    SetError(error, path + ": is not a regular file");
  } else if (st.st_size > kLargestFile) {
    SetError(error,
             path + ": " + std::to_string(st.st_size) + " bytes is too large for a settings file");
  } else {
    std::string text;
    char buffer[8192];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) text.append(buffer, static_cast<size_t>(n));
    }
    if (n < 0) {
      SetError(error, path + ": cannot read the settings file: " + std::strerror(errno));
    } else {
      bytes = std::move(text);
    }
  }
  ::close(fd);
  return bytes;
}

// One key of the file as the Options dialog reads it: empty when missing or empty.
std::wstring ReadValue(const wchar_t* section, const wchar_t* key, const std::wstring& path) {
  wchar_t buffer[kValueChars];
  const DWORD n = GetPrivateProfileStringW(section, key, L"", buffer, kValueChars, path.c_str());
  return std::wstring(buffer, n);
}

// Windows' settings files may be UTF-16LE with a BOM; the profile functions read those too.
std::wstring DecodeUtf16Le(std::string_view bytes) {
  std::wstring out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                            static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const auto low = static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 2]) |
                                             static_cast<unsigned char>(bytes[i + 3]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        i += 2;
        continue;
      }
    }
    out.push_back(unit >= 0xD800 && unit <= 0xDFFF ? L'\xFFFD' : static_cast<wchar_t>(unit));
  }
  return out;
}

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r')) {
    s.remove_suffix(1);
  }
  return s;
}

std::string Quote(std::wstring_view text) {
  return "\"" + WideToUtf8(text) + "\"";
}

// What the value `text` of `field` loads as, when that is not what it plainly says.
std::optional<std::string> ValueIssue(const Field& field, std::wstring_view text) {
  const std::string where = WideToUtf8(field.name) + " = " + Quote(text);
  const int32_t loaded = LeadingInteger(text);
  std::wstring_view digits = Trim(text);
  if (!digits.empty() && (digits.front() == L'-' || digits.front() == L'+'))
    digits.remove_prefix(1);
  const bool plain = !digits.empty() && digits.find_first_not_of(L"0123456789") == digits.npos;
  if (!plain) return where + " is not a number: loads as " + std::to_string(loaded);
  const size_t significant = digits.find_first_not_of(L'0');
  const std::wstring_view magnitude =
      significant == digits.npos ? std::wstring_view() : digits.substr(significant);
  const bool too_long = magnitude.size() > 10;
  const bool too_large = magnitude.size() == 10 && (loaded == INT32_MAX || loaded == INT32_MIN) &&
                         magnitude != L"2147483647" &&
                         !(loaded == INT32_MIN && magnitude == L"2147483648");
  if (too_long || too_large) {
    return where + " is outside the 32-bit range: loads as " + std::to_string(loaded);
  }
  const std::wstring_view name = field.name;
  if (name == L"StartRow" && (loaded < 1 || loaded > 65536)) {
    return where + " is outside 1 to 65536: loaded as it is";
  }
  if (name == L"StartCol" && (loaded < 1 || loaded > 256)) {
    return where + " is outside 1 to 256: loaded as it is";
  }
  return std::nullopt;
}

}  // namespace

std::string SettingsFileText(const SettingsInfo& settings) {
  std::string text;
  for (const Section& section : kSections) {
    if (!text.empty()) text += "\n";
    text += "[" + WideToUtf8(section.name) + "]\n";
    for (const Field* field = section.begin; field != section.end; ++field) {
      text += WideToUtf8(field->name) + "=" +
              std::to_string(static_cast<int32_t>(field->Get(settings))) + "\n";
    }
  }
  return text;
}

bool SaveSettingsFile(const SettingsInfo& settings, const std::wstring& path, std::string* error) {
  const std::string target = ResolvePath(path);
  const fs::path folder = fs::path(target).parent_path();
  std::error_code ec;
  if (path.find(L'/') == std::wstring::npos) fs::create_directories(folder, ec);
  if (!fs::is_directory(folder.empty() ? fs::path(".") : folder, ec)) {
    SetError(error, target + ": cannot write the settings file: its folder does not exist");
    return false;
  }
  // The writes go to a copy of the file, which replaces it once all of them are done.
  std::string old_bytes;
  struct stat old_stat {};
  const bool exists = ::stat(target.c_str(), &old_stat) == 0;
  if (exists) {
    std::optional<std::string> bytes = ReadSettingsBytes(target, error);
    if (!bytes) return false;
    old_bytes = std::move(*bytes);
  }
  static std::atomic<unsigned> counter{0};
  const std::string staging = target + "." + std::to_string(::getpid()) + ".saving" +
                              std::to_string(counter.fetch_add(1)) + ".tmp";
  const int fd = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetError(error, target + ": cannot write the settings file: " + std::strerror(errno));
    return false;
  }
  if (exists) ::fchmod(fd, old_stat.st_mode & 07777);
  size_t written = 0;
  while (written < old_bytes.size()) {
    const ssize_t n = ::write(fd, old_bytes.data() + written, old_bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const int write_errno = errno;
  ::close(fd);
  auto fail = [&](const std::string& cause) {
    ::unlink(staging.c_str());
    SetError(error, target + ": cannot write the settings file: " + cause);
    return false;
  };
  if (written != old_bytes.size()) return fail(std::strerror(write_errno));
  const std::wstring staging_wide = Utf8ToWide(staging);
  for (const Section& section : kSections) {
    for (const Field* field = section.begin; field != section.end; ++field) {
      const std::wstring value = std::to_wstring(static_cast<int32_t>(field->Get(settings)));
      if (!WritePrivateProfileStringW(section.name, field->name, value.c_str(),
                                      staging_wide.c_str())) {
        const DWORD code = GetLastError();
        return fail(code == ERROR_ACCESS_DENIED ? "permission denied"
                                                : "error " + std::to_string(code));
      }
    }
  }
  std::optional<std::string> new_bytes = ReadSettingsBytes(staging, nullptr);
  if (exists && new_bytes && *new_bytes == old_bytes) {
    ::unlink(staging.c_str());
    return true;
  }
  if (::rename(staging.c_str(), target.c_str()) != 0) return fail(std::strerror(errno));
  // The rename is durable only once the folder is on disk too.
  const int dir_fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

bool LoadSettingsFile(SettingsInfo& settings, const std::wstring& path, std::string* error) {
  if (!ReadSettingsBytes(ResolvePath(path), error)) return false;
  for (const Section& section : kSections) {
    for (const Field* field = section.begin; field != section.end; ++field) {
      const std::wstring value = ReadValue(section.name, field->name, path);
      if (!value.empty()) field->Set(settings, static_cast<uint32_t>(LeadingInteger(value)));
    }
  }
  return true;
}

bool CheckSettingsFile(const std::wstring& path, std::vector<SettingsFileIssue>& issues,
                       std::string* error) {
  const std::optional<std::string> bytes = ReadSettingsBytes(ResolvePath(path), error);
  if (!bytes) return false;
  std::string_view raw = *bytes;
  std::wstring text;
  if (raw.substr(0, 2) == "\xFF\xFE") {
    text = DecodeUtf16Le(raw.substr(2));
  } else {
    if (raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
    text = Utf8ToWide(raw);
  }

  struct Seen {
    std::wstring name;
    size_t line;
  };
  std::vector<Seen> sections_seen;
  std::vector<Seen> keys_seen;       // of the section being read
  const Section* current = nullptr;  // a section to check: the first [Export] or [Import]
  bool any_known_section = false;
  size_t number = 0;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring_view line = Trim(std::wstring_view(text).substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      const size_t close = line.find(L']');
      const std::wstring name(Trim(line.substr(1, close == line.npos ? line.npos : close - 1)));
      current = nullptr;
      keys_seen.clear();
      const Section* known = nullptr;
      for (const Section& section : kSections) {
        if (EqualsNoCase(name, section.name)) known = &section;
      }
      const Seen* before = nullptr;
      for (const Seen& seen : sections_seen) {
        if (EqualsNoCase(seen.name, name)) before = &seen;
      }
      if (before == nullptr) {
        sections_seen.push_back({name, number});
        current = known;
        any_known_section = any_known_section || known != nullptr;
      } else if (known != nullptr) {
        issues.push_back({number, "[" + WideToUtf8(name) + "] repeated (first at line " +
                                      std::to_string(before->line) +
                                      "): the keys of this one are not read"});
      }
      continue;
    }
    if (current == nullptr) continue;
    const size_t eq = line.find(L'=');
    if (eq == line.npos || eq == 0) {
      issues.push_back({number, Quote(line) + " is not a KEY=VALUE line: ignored"});
      continue;
    }
    const std::wstring key(Trim(line.substr(0, eq)));
    const Field* field = nullptr;
    for (const Field* f = current->begin; f != current->end; ++f) {
      if (EqualsNoCase(key, f->name)) field = f;
    }
    if (field == nullptr) {
      issues.push_back({number, "unknown key " + Quote(key) + " in [" + WideToUtf8(current->name) +
                                    "]: ignored"});
      continue;
    }
    const Seen* before = nullptr;
    for (const Seen& seen : keys_seen) {
      if (EqualsNoCase(seen.name, key)) before = &seen;
    }
    if (before != nullptr) {
      issues.push_back({number, WideToUtf8(field->name) + " repeated (first at line " +
                                    std::to_string(before->line) + "): this value is not read"});
      continue;
    }
    keys_seen.push_back({key, number});
    std::wstring_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    value = value.substr(0, kValueChars - 1);
    if (value.empty()) continue;  // leaves the field as it is, as documented
    if (std::optional<std::string> issue = ValueIssue(*field, value)) {
      issues.push_back({number, std::move(*issue)});
    }
  }
  if (!any_known_section) {
    issues.push_back({0, "no [Export] or [Import] section: no setting is read from it"});
  }
  return true;
}

bool ApplySettingsFileOverlay(const std::wstring& path, std::string* error) {
  if (!ReadSettingsBytes(ResolvePath(path), error)) return false;
  bool export_laid = false, import_laid = false;
  for (const Section& section : kSections) {
    const bool is_export = &section == &kSections[0];
    const wchar_t* key = is_export ? kExportSettingsKey : kImportSettingsKey;
    for (const Field* field = section.begin; field != section.end; ++field) {
      const std::wstring text = ReadValue(section.name, field->name, path);
      if (text.empty()) continue;
      const int32_t number = LeadingInteger(text);
      const DWORD value = field->IsFlag() ? (number != 0 ? 1u : 0u) : static_cast<DWORD>(number);
      SettingsOverlaySetDword(HKEY_CURRENT_USER, key, field->name, value);
      (is_export ? export_laid : import_laid) = true;
    }
  }
  if (import_laid && !export_laid) {
    // LoadSettings reads the Import key only after an Export key; without a stored one it
    // would drop the file's import values. The defaults are what it reads without one.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kExportSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
    } else {
      const SettingsInfo defaults;
      for (const Field& field : kExportFields) {
        SettingsOverlaySetDword(HKEY_CURRENT_USER, kExportSettingsKey, field.name,
                                field.Get(defaults));
      }
    }
  }
  return true;
}

}  // namespace sheetwise
