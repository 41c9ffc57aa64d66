#include "platform/win/registry_store_internal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"

namespace sheetwise::win::registry_internal {
namespace {

constexpr DWORD kRegSz = 1;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::wstring_view kRoots[] = {L"HKEY_CLASSES_ROOT", L"HKEY_CURRENT_USER",
                                        L"HKEY_LOCAL_MACHINE", L"HKEY_USERS"};

std::atomic<WriteHook> write_hook{nullptr};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// A short quotation of the offending text for an error message.
std::string Quote(std::string_view s) {
  std::string q(s.substr(0, 40));
  if (s.size() > 40) q += "...";
  return "'" + q + "'";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<BYTE> WideBytes(std::wstring_view text) {
  std::vector<BYTE> bytes((text.size() + 1) * sizeof(wchar_t));
  std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
  return bytes;
}

// Reads a quoted string starting at s[0] == '"'; returns the characters after the closing quote.
bool ParseQuoted(std::string_view s, std::wstring& out, std::string_view& rest,
                 std::string& message) {
  std::string bytes;
  size_t i = 1;
  for (; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] != '\\') {
      bytes.push_back(s[i]);
      continue;
    }
    if (++i == s.size()) break;
    switch (s[i]) {
      case '\\':
        bytes.push_back('\\');
        break;
      case '"':
        bytes.push_back('"');
        break;
      case 'n':
        bytes.push_back('\n');
        break;
      case 'r':
        bytes.push_back('\r');
        break;
      case 't':
        bytes.push_back('\t');
        break;
      case '0':
        bytes.push_back('\0');
        break;
      default:
        message = "unknown escape '\\" + std::string(1, s[i]) + "' in a string";
        return false;
    }
  }
  if (i >= s.size()) {
    message = "string without closing '\"'";
    return false;
  }
  out = Utf8ToWide(bytes);
  rest = s.substr(i + 1);
  return true;
}

bool ParseHexBytes(std::string_view s, std::vector<BYTE>& out, std::string& message) {
  s = Trim(s);
  while (!s.empty()) {
    if (s.size() < 2 || HexDigit(s[0]) < 0 || HexDigit(s[1]) < 0) {
      message = "two hex digits expected, found " + Quote(s);
      return false;
    }
    out.push_back(static_cast<BYTE>(HexDigit(s[0]) * 16 + HexDigit(s[1])));
    s = Trim(s.substr(2));
    if (s.empty()) break;
    if (s[0] != ',') {
      message = "',' expected between hex bytes, found " + Quote(s);
      return false;
    }
    s = Trim(s.substr(1));
    if (s.empty()) {
      message = "hex byte expected after ','";
      return false;
    }
  }
  return true;
}

bool ParseData(std::string_view s, Value& value, std::string& message) {
  s = Trim(s);
  if (!s.empty() && s[0] == '"') {
    std::wstring text;
    std::string_view rest;
    if (!ParseQuoted(s, text, rest, message)) return false;
    if (!Trim(rest).empty()) {
      message = "unexpected text after the string: " + Quote(Trim(rest));
      return false;
    }
    value.type = kRegSz;
    value.data = WideBytes(text);
    return true;
  }
  if (s.substr(0, 6) == "dword:") {
    const std::string_view digits = s.substr(6);
    if (digits.empty() || digits.size() > 8) {
      message = "dword: expects 1 to 8 hex digits, found " + Quote(digits);
      return false;
    }
    DWORD v = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) {
        message = "dword: expects hex digits, found " + Quote(digits);
        return false;
      }
      v = v * 16 + static_cast<DWORD>(HexDigit(c));
    }
    value.type = kRegDword;
    value.data.resize(4);
    std::memcpy(value.data.data(), &v, 4);
    return true;
  }
  if (s.substr(0, 4) == "hex:" || s.substr(0, 4) == "hex(") {
    size_t pos = 4;
    value.type = kRegBinary;
    if (s[3] == '(') {
      const size_t close = s.find("):");
      if (close == std::string_view::npos || close == 4 || close > 12) {
        message = "hex(TYPE): expected, found " + Quote(s);
        return false;
      }
      DWORD type = 0;
      for (char c : s.substr(4, close - 4)) {
        if (HexDigit(c) < 0) {
          message = "hex(TYPE): expects a hex type, found " + Quote(s.substr(0, close + 2));
          return false;
        }
        type = type * 16 + static_cast<DWORD>(HexDigit(c));
      }
      value.type = type;
      pos = close + 2;
    }
    value.data.clear();
    return ParseHexBytes(s.substr(pos), value.data, message);
  }
  message = "a value (\"string\", dword:, hex:) expected, found " + Quote(s);
  return false;
}

bool IsPlainString(const Value& v) {
  if (v.type != kRegSz || v.data.size() < sizeof(wchar_t) || v.data.size() % sizeof(wchar_t)) {
    return false;
  }
  const size_t n = v.data.size() / sizeof(wchar_t);
  for (size_t i = 0; i < n; ++i) {
    wchar_t c;
    std::memcpy(&c, v.data.data() + i * sizeof(wchar_t), sizeof(wchar_t));
    if (i + 1 == n) return c == 0;
    const auto u = static_cast<std::uint32_t>(c);
    if (u == 0 || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return false;
    if (u < 0x20 && c != L'\n' && c != L'\r' && c != L'\t') return false;
  }
  return false;
}

void AppendQuoted(std::wstring_view text, std::string& out) {
  out.push_back('"');
  for (wchar_t c : text) {
    switch (c) {
      case L'\\':
        out += "\\\\";
        break;
      case L'"':
        out += "\\\"";
        break;
      case L'\n':
        out += "\\n";
        break;
      case L'\r':
        out += "\\r";
        break;
      case L'\t':
        out += "\\t";
        break;
      case L'\0':
        out += "\\0";
        break;
      default:
        out += WideToUtf8(std::wstring_view(&c, 1));
    }
  }
  out.push_back('"');
}

void AppendValue(const Value& v, std::string& out) {
  if (v.name.empty()) {
    out += "@=";
  } else {
    AppendQuoted(v.name, out);
    out += "=";
  }
  char buffer[32];
  if (IsPlainString(v)) {
    std::wstring text(v.data.size() / sizeof(wchar_t) - 1, L'\0');
    std::memcpy(text.data(), v.data.data(), text.size() * sizeof(wchar_t));
    AppendQuoted(text, out);
  } else if (v.type == kRegDword && v.data.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", d);
    out += buffer;
  } else {
    if (v.type == kRegBinary) {
      out += "hex:";
    } else {
      std::snprintf(buffer, sizeof buffer, "hex(%x):", v.type);
      out += buffer;
    }
    for (size_t i = 0; i < v.data.size(); ++i) {
      std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", v.data[i]);
      out += buffer;
    }
  }
  out += "\n";
}

bool ValidKeyPath(std::wstring_view path, std::string& message) {
  const size_t slash = path.find(L'\\');
  if (!IsRootName(path.substr(0, slash))) {
    message = "unknown root key in [" + WideToUtf8(path) + "]";
    return false;
  }
  if (slash == std::wstring_view::npos) return true;
  std::wstring_view rest = path.substr(slash + 1);
  while (true) {
    const size_t next = rest.find(L'\\');
    if (rest.substr(0, next).empty()) {
      message = "empty key name in [" + WideToUtf8(path) + "]";
      return false;
    }
    if (next == std::wstring_view::npos) return true;
    rest = rest.substr(next + 1);
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

const Value* Store::FindValue(const std::wstring& folded, std::wstring_view name) const {
  const auto it = keys.find(folded);
  if (it == keys.end()) return nullptr;
  for (const Value& v : it->second.values) {
    if (EqualsNoCase(v.name, name)) return &v;
  }
  return nullptr;
}

Key& Store::CreateKey(std::wstring_view path, bool* created) {
  // Each ancestor below the root is a key of its own, spelled as in `path` when it is new.
  size_t pos = path.find(L'\\');
  while (true) {
    pos = path.find(L'\\', pos + 1);
    const std::wstring_view prefix = path.substr(0, pos);
    auto [it, inserted] = keys.try_emplace(FoldCase(prefix));
    if (inserted) it->second.path = std::wstring(prefix);
    if (pos == std::wstring_view::npos) {
      *created = inserted;
      return it->second;
    }
  }
}

bool Store::HasSubkeys(const std::wstring& folded) const {
  const std::wstring prefix = folded + L'\\';
  const auto it = keys.lower_bound(prefix);
  return it != keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

bool IsRootName(std::wstring_view name) {
  for (std::wstring_view root : kRoots) {
    if (EqualsNoCase(root, name)) return true;
  }
  return false;
}

bool ParseStore(std::string_view text, Store& store, ParseError& error) {
  store.keys.clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  Key* current = nullptr;
  bool seen_header = false;
  size_t line_number = 0;
  auto fail = [&](size_t line, std::string message) {
    error.line = line;
    error.message = std::move(message);
    return false;
  };
  while (!text.empty()) {
    ++line_number;
    const size_t first_line = line_number;
    size_t eol = text.find('\n');
    std::string line(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    // hex data may continue on the next line after a trailing backslash, as regedit wraps it.
    while (!Trim(line).empty() && Trim(line).back() == '\\' &&
           Trim(line).find("=hex") != std::string_view::npos) {
      line = std::string(Trim(line).substr(0, Trim(line).size() - 1));
      if (text.empty()) return fail(line_number, "hex data continues past the end of the file");
      ++line_number;
      eol = text.find('\n');
      line += std::string(Trim(text.substr(0, eol)));
      text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    }
    if (!IsValidUtf8(line)) return fail(first_line, "the line is not valid UTF-8");
    const std::string_view s = Trim(line);
    if (s.empty() || s[0] == ';') continue;
    if (!seen_header) {
      if (s != kHeader && s != kHeader5) {
        return fail(first_line, "'REGEDIT4' expected as the first line, found " + Quote(s));
      }
      seen_header = true;
      continue;
    }
    std::string message;
    if (s[0] == '[') {
      if (s.back() != ']') return fail(first_line, "']' expected at the end of " + Quote(s));
      if (s.size() > 1 && s[1] == '-') {
        return fail(first_line, "key deletion lines ([-KEY]) are not supported");
      }
      const std::wstring path = Utf8ToWide(s.substr(1, s.size() - 2));
      if (!ValidKeyPath(path, message)) return fail(first_line, message);
      if (path.find(L'\\') == std::wstring::npos) {
        return fail(first_line, "values cannot be stored on a root key: " + Quote(s));
      }
      bool created = false;
      current = &store.CreateKey(path, &created);
      continue;
    }
    if (current == nullptr) {
      return fail(first_line, "'[KEY]' expected before the first value, found " + Quote(s));
    }
    Value value;
    std::string_view rest;
    if (s[0] == '@') {
      rest = s.substr(1);
    } else if (s[0] == '"') {
      if (!ParseQuoted(s, value.name, rest, message)) return fail(first_line, message);
      if (value.name.empty()) return fail(first_line, "empty value name: use @ for the default");
    } else {
      return fail(first_line, "'\"NAME\"=' or '@=' expected, found " + Quote(s));
    }
    rest = Trim(rest);
    if (rest.empty() || rest[0] != '=') {
      return fail(first_line, "'=' expected after the value name, found " + Quote(rest));
    }
    if (!ParseData(rest.substr(1), value, message)) return fail(first_line, message);
    bool replaced = false;
    for (Value& old : current->values) {
      if (EqualsNoCase(old.name, value.name)) {
        old.type = value.type;
        old.data = std::move(value.data);
        replaced = true;
        break;
      }
    }
    if (!replaced) current->values.push_back(std::move(value));
  }
  return true;
}

std::string SerializeStore(const Store& store) {
  std::string out(kHeader);
  out += "\n";
  for (const auto& [folded, key] : store.keys) {
    out += "\n[" + WideToUtf8(key.path) + "]\n";
    for (const Value& v : key.values) AppendValue(v, out);
  }
  return out;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string temp =
      path + "." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  struct stat old_stat {};
  if (::stat(path.c_str(), &old_stat) == 0) ::fchmod(fd, old_stat.st_mode & 07777);
  const size_t half = bytes.size() / 2;
  bool ok = WriteAll(fd, bytes.data(), half);
  if (ok) {
    if (WriteHook hook = write_hook.load()) hook();
    ok = WriteAll(fd, bytes.data() + half, bytes.size() - half);
  }
  if (ok) ok = ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0 && ok) ok = false;
  if (!ok) {
    error = "cannot write " + temp + ": " + std::strerror(saved != 0 ? saved : errno);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot replace " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  // The rename is durable only once the folder itself is on disk.
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const int dir_fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

void RemoveStaleTemporaries(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path file(path);
  const std::string prefix = file.filename().string() + ".";
  std::error_code ec;
  fs::directory_iterator it(file.parent_path().empty() ? fs::path(".") : file.parent_path(), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    // PATH.PID.N.tmp: only a writer that no longer runs has left it behind for good.
    const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    const long pid = std::strtol(middle.c_str(), nullptr, 10);
    if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

void SetWriteHookForTesting(WriteHook hook) {
  write_hook.store(hook);
}

}  // namespace sheetwise::win::registry_internal
