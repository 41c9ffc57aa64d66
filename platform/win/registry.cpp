#include "platform/win/registry.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win/codepage.h"
#include "platform/win/file_version.h"
#include "platform/win/locale.h"
#include "platform/win/registry_store_internal.h"
#include "platform/win/shell.h"

namespace {

using sheetwise::win::FileVersion;
using sheetwise::win::registry_internal::Key;
using sheetwise::win::registry_internal::ParseError;
using sheetwise::win::registry_internal::Store;
using sheetwise::win::registry_internal::Value;
namespace ri = sheetwise::win::registry_internal;

constexpr LONG kNoChange = -1;  // a change function's answer: success, nothing to write

struct RootEntry {
  HKEY key;
  const wchar_t* name;
};
const RootEntry kRootNames[] = {{HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},
                                {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
                                {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
                                {HKEY_USERS, L"HKEY_USERS"}};

const wchar_t* RootName(HKEY key) {
  for (const RootEntry& root : kRootNames) {
    if (root.key == key) return root.name;
  }
  return nullptr;
}

struct OpenKey {
  std::wstring path;  // full path from the root name, as the caller spelled it
  REGSAM access = 0;
};

REGSAM NormalizeAccess(REGSAM access) {
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
  if (access & GENERIC_READ) access |= KEY_READ;
  if (access & GENERIC_WRITE) access |= KEY_WRITE;
  return access;
}

// What one read of the file gave.
struct FileState {
  FileVersion identity;
  Store store;
  LONG error = ERROR_SUCCESS;  // ERROR_BADDB or ERROR_CANTREAD when the file is unusable
  std::string message;         // "PATH:LINE: what" for a damaged file
};

FileState ReadStoreFile(const std::string& path) {
  FileState state;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      state.error = ERROR_CANTREAD;
      state.message = path + ": cannot read: " + std::strerror(errno);
    }
    return state;
  }
  struct stat st {};
  std::string text;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    state.identity = FileVersion::Of(st);
    char buffer[65536];
    while (true) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
  }
  const int saved = errno;
  ::close(fd);
  if (!ok) {
    state.error = ERROR_CANTREAD;
    state.message = path + ": cannot read: " + std::strerror(saved);
    return state;
  }
  ParseError error;
  if (!ri::ParseStore(text, state.store, error)) {
    state.store.keys.clear();
    state.error = ERROR_BADDB;
    state.message = path + ":" + std::to_string(error.line) + ": " + error.message;
  }
  return state;
}

// Sets a value; returns false when it already held exactly this type and data.
bool ApplyValue(Key& key, std::wstring_view name, DWORD type, std::vector<BYTE> data) {
  for (Value& v : key.values) {
    if (EqualsNoCase(v.name, name)) {
      if (v.type == type && v.data == data) return false;
      v.type = type;
      v.data = std::move(data);
      return true;
    }
  }
  key.values.push_back(Value{std::wstring(name), type, std::move(data)});
  return true;
}

class Registry {
 public:
  static Registry& Instance() {
    static Registry* registry = new Registry;  // outlives every static destructor that may call
    return *registry;
  }

  std::mutex mutex;

  // Everything below is guarded by `mutex`.
  std::unordered_map<HKEY, std::unique_ptr<OpenKey>> handles;
  std::string path;                               // the file the cache below was read from
  std::chrono::steady_clock::time_point checked;  // when the file was last looked at
  FileState file;                                 // the last version read
  std::string reported;          // the damage message last printed, so each is printed once
  Store overlay;                 // values laid over the store, never written
  Store view;                    // file.store with the overlay laid over it: what reads see
  std::uint64_t generation = 0;  // counts the views built, for answers cached elsewhere

  // Looks up a handle: a predefined root or one of ours.
  bool Resolve(HKEY key, OpenKey& out) {
    if (const wchar_t* root = RootName(key)) {
      out.path = root;
      out.access = KEY_ALL_ACCESS;
      return true;
    }
    const auto it = handles.find(key);
    if (it == handles.end()) return false;
    out = *it->second;
    return true;
  }

  HKEY AddHandle(std::wstring path, REGSAM access) {
    auto open_key = std::make_unique<OpenKey>(OpenKey{std::move(path), NormalizeAccess(access)});
    HKEY handle = reinterpret_cast<HKEY>(open_key.get());
    handles.emplace(handle, std::move(open_key));
    return handle;
  }

  // Brings the cache up to date with the file on disk (cheap when it has not changed). A look at
  // the file less than a millisecond ago stands: another process's change takes longer than that
  // to reach us, and a loop of lookups (a ProgID per spreadsheet call) no longer costs a stat
  // each.
  // `at_once`: look at the file now, even if it was looked at within the last millisecond.
  void Refresh(bool at_once = false) {
    const std::string current = SettingsStoreFile();
    const auto checked_now = std::chrono::steady_clock::now();
    if (!at_once && current == path && checked_now - checked < std::chrono::milliseconds(1) &&
        (file.identity.exists || file.error == ERROR_SUCCESS)) {
      return;
    }
    checked = checked_now;
    struct stat st {};
    FileVersion now;
    if (::stat(current.c_str(), &st) == 0) now = FileVersion::Of(st);
    if (current == path && now == file.identity && (now.exists || file.error == ERROR_SUCCESS)) {
      return;
    }
    path = current;
    Adopt(ReadStoreFile(current));
  }

  void Adopt(FileState state) {
    file = std::move(state);
    // After a new version, the next lookup looks at the file again.
    checked = {};
    if (file.error != ERROR_SUCCESS && file.message != reported) {
      std::fprintf(stderr,
                   "error: %s\nThe settings file is left unchanged; settings are not saved until "
                   "it is repaired or removed.\n",
                   file.message.c_str());
      reported = file.message;
    }
    RebuildView();
  }

  void RebuildView() {
    ++generation;
    view = file.store;
    for (const auto& [folded, key] : overlay.keys) {
      bool created = false;
      Key& target = view.CreateKey(key.path, &created);
      for (const Value& v : key.values) ApplyValue(target, v.name, v.type, v.data);
    }
  }

  bool Exists(const std::wstring& full_path) const {
    return full_path.find(L'\\') == std::wstring::npos || view.keys.count(FoldCase(full_path)) != 0;
  }

  // Runs `change` on the current file content under the cross-process lock and writes the
  // result. The change answers ERROR_SUCCESS (write), kNoChange (nothing to write) or an error.
  LONG Mutate(const std::function<LONG(Store&)>& change) {
    path = SettingsStoreFile();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string lock_path = path + ".lock";
    const int lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_fd < 0) {
      std::fprintf(stderr, "error: cannot open %s: %s\n", lock_path.c_str(), std::strerror(errno));
      return ERROR_CANTWRITE;
    }
    while (::flock(lock_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    FileState fresh = ReadStoreFile(path);
    LONG result = fresh.error;
    if (result == ERROR_SUCCESS) result = change(fresh.store);
    if (result == ERROR_SUCCESS) {
      std::string error;
      if (ri::WriteFileAtomically(path, ri::SerializeStore(fresh.store), error)) {
        ri::RemoveStaleTemporaries(path);
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) fresh.identity = FileVersion::Of(st);
      } else {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        result = ERROR_CANTWRITE;
        fresh = ReadStoreFile(path);
      }
    }
    ::close(lock_fd);  // releases the lock
    Adopt(std::move(fresh));
    return result == kNoChange ? ERROR_SUCCESS : result;
  }
};

// Joins a sub key to a key's path. Returns ERROR_SUCCESS or ERROR_BAD_PATHNAME.
LONG JoinPath(const std::wstring& base, LPCWSTR sub_key, std::wstring& out) {
  std::wstring_view sub = sub_key != nullptr ? sub_key : L"";
  if (!sub.empty() && sub.back() == L'\\') sub.remove_suffix(1);
  out = base;
  if (sub.empty()) return ERROR_SUCCESS;
  if (sub.front() == L'\\' || sub.find(L"\\\\") != std::wstring_view::npos) {
    return ERROR_BAD_PATHNAME;
  }
  out += L'\\';
  out += sub;
  return ERROR_SUCCESS;
}

std::wstring_view LastComponent(std::wstring_view path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

LONG CopyName(std::wstring_view name, LPWSTR out, LPDWORD chars) {
  if (out == nullptr || chars == nullptr) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > *chars) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), out);
  out[name.size()] = L'\0';
  *chars = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG CopyData(const Value& v, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (type != nullptr) *type = v.type;
  if (size == nullptr) return ERROR_SUCCESS;
  const auto needed = static_cast<DWORD>(v.data.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) std::memcpy(data, v.data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG OverlaySet(HKEY root, LPCWSTR sub_key, LPCWSTR name, DWORD type, std::vector<BYTE> data) {
  const wchar_t* root_name = RootName(root);
  if (root_name == nullptr) return ERROR_INVALID_HANDLE;
  std::wstring path;
  if (const LONG r = JoinPath(root_name, sub_key, path); r != ERROR_SUCCESS) return r;
  if (path == root_name) return ERROR_ACCESS_DENIED;
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  bool created = false;
  ApplyValue(reg.overlay.CreateKey(path, &created), name != nullptr ? name : L"", type,
             std::move(data));
  reg.RebuildView();
  return ERROR_SUCCESS;
}

}  // namespace

std::string SettingsStoreFile() {
  return XdgConfigHome() + "/sheetwise/registry.txt";
}

LONG SettingsStoreCheck(std::string* message) {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  reg.Refresh();
  if (message != nullptr) *message = reg.file.message;
  return reg.file.error;
}

std::uint64_t SettingsStoreGeneration() {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  reg.Refresh();
  return reg.generation;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD /*options*/, REGSAM access, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey parent;
  if (!reg.Resolve(key, parent)) return ERROR_INVALID_HANDLE;
  std::wstring path;
  if (const LONG r = JoinPath(parent.path, sub_key, path); r != ERROR_SUCCESS) return r;
  reg.Refresh();
  if (!reg.Exists(path)) {
    return reg.file.error != ERROR_SUCCESS ? reg.file.error : ERROR_FILE_NOT_FOUND;
  }
  *result = reg.AddHandle(std::move(path), access);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD /*reserved*/, LPWSTR /*class_name*/,
                     DWORD /*options*/, REGSAM access, LPSECURITY_ATTRIBUTES /*security*/,
                     HKEY* result, LPDWORD disposition) {
  if (result == nullptr || sub_key == nullptr) return ERROR_INVALID_PARAMETER;
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey parent;
  if (!reg.Resolve(key, parent)) return ERROR_INVALID_HANDLE;
  if ((parent.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
  std::wstring path;
  if (const LONG r = JoinPath(parent.path, sub_key, path); r != ERROR_SUCCESS) return r;
  reg.Refresh();
  DWORD outcome = REG_OPENED_EXISTING_KEY;
  const bool stored =
      path.find(L'\\') == std::wstring::npos ||
      (reg.file.error == ERROR_SUCCESS && reg.file.store.keys.count(FoldCase(path)));
  if (!stored) {
    const LONG r = reg.Mutate([&](Store& store) {
      bool created = false;
      store.CreateKey(path, &created);
      if (created) outcome = REG_CREATED_NEW_KEY;
      return created ? ERROR_SUCCESS : kNoChange;
    });
    if (r != ERROR_SUCCESS) return r;
  }
  if (disposition != nullptr) *disposition = outcome;
  *result = reg.AddHandle(std::move(path), access);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey open;
  if (!reg.Resolve(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  reg.Refresh();
  const Value* value = reg.view.FindValue(FoldCase(open.path), name != nullptr ? name : L"");
  if (value == nullptr) {
    if (reg.file.error != ERROR_SUCCESS) return reg.file.error;
    return reg.Exists(open.path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  }
  return CopyData(*value, type, data, size);
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD size) {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey open;
  if (!reg.Resolve(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (open.path.find(L'\\') == std::wstring::npos) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size > 0) return ERROR_NOACCESS;
  std::vector<BYTE> bytes(data, data + (data != nullptr ? size : 0));
  const std::wstring folded = FoldCase(open.path);
  // Registrations repeated at every start find their values in the file as it is now: no lock,
  // no read and no write then. (A write by another process after this look is a later write.)
  reg.Refresh(true);
  if (reg.file.error == ERROR_SUCCESS)
    if (const Value* v = reg.file.store.FindValue(folded, name != nullptr ? name : L"");
        v != nullptr && v->type == type && v->data == bytes)
      return ERROR_SUCCESS;
  return reg.Mutate([&](Store& store) {
    const auto it = store.keys.find(folded);
    if (it == store.keys.end()) return ERROR_KEY_DELETED;
    // Registrations repeated at every start find their values in place: no write then.
    return ApplyValue(it->second, name != nullptr ? name : L"", type, std::move(bytes))
               ? ERROR_SUCCESS
               : kNoChange;
  });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey open;
  if (!reg.Resolve(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::wstring folded = FoldCase(open.path);
  const std::wstring_view value_name = name != nullptr ? name : L"";
  return reg.Mutate([&](Store& store) {
    const auto it = store.keys.find(folded);
    if (it == store.keys.end()) {
      return open.path.find(L'\\') == std::wstring::npos ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    }
    auto& values = it->second.values;
    const auto found = std::find_if(values.begin(), values.end(), [&](const Value& v) {
      return EqualsNoCase(v.name, value_name);
    });
    if (found == values.end()) return ERROR_FILE_NOT_FOUND;
    values.erase(found);
    return ERROR_SUCCESS;
  });
}

namespace {

// Removes the keys below the folded path `folded` from `store`.
void EraseSubkeys(Store& store, const std::wstring& folded) {
  const std::wstring prefix = folded + L'\\';
  auto it = store.keys.lower_bound(prefix);
  while (it != store.keys.end() && it->first.starts_with(prefix)) it = store.keys.erase(it);
}

enum class Deletion { kKey, kTree, kContents };

// RegDeleteKeyW (kKey), RegDeleteTreeW with a sub key (kTree) and without one (kContents: the
// key stays, emptied). One write each, so another process never sees half a tree.
LONG DeleteKey(HKEY key, LPCWSTR sub_key, Deletion what) {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey open;
  if (!reg.Resolve(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE)) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  std::wstring path;
  if (const LONG r = JoinPath(open.path, sub_key, path); r != ERROR_SUCCESS) return r;
  if (path.find(L'\\') == std::wstring::npos) return ERROR_ACCESS_DENIED;
  const std::wstring folded = FoldCase(path);
  return reg.Mutate([&](Store& store) {
    const auto it = store.keys.find(folded);
    if (it == store.keys.end()) {
      return what == Deletion::kContents ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    }
    if (what == Deletion::kContents) {
      it->second.values.clear();
    } else if (store.HasSubkeys(folded) && what == Deletion::kKey) {
      return ERROR_ACCESS_DENIED;
    }
    EraseSubkeys(store, folded);
    if (what != Deletion::kContents) store.keys.erase(folded);
    return ERROR_SUCCESS;
  });
}

}  // namespace

LONG RegDeleteKeyW(HKEY key, LPCWSTR sub_key) {
  if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, sub_key, Deletion::kKey);
}

LONG RegDeleteTreeW(HKEY key, LPCWSTR sub_key) {
  const bool whole = sub_key != nullptr && *sub_key != L'\0';
  return DeleteKey(key, whole ? sub_key : L"", whole ? Deletion::kTree : Deletion::kContents);
}

LONG RegCloseKey(HKEY key) {
  if (RootName(key) != nullptr) return ERROR_SUCCESS;
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  return reg.handles.erase(key) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_chars, LPDWORD /*reserved*/,
                   LPWSTR class_name, LPDWORD class_chars, PFILETIME last_write_time) {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey open;
  if (!reg.Resolve(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  reg.Refresh();
  if (!reg.Exists(open.path)) {
    return reg.file.error != ERROR_SUCCESS ? reg.file.error : ERROR_KEY_DELETED;
  }
  const std::wstring prefix = FoldCase(open.path) + L'\\';
  DWORD seen = 0;
  for (auto it = reg.view.keys.lower_bound(prefix);
       it != reg.view.keys.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    if (it->first.find(L'\\', prefix.size()) != std::wstring::npos) continue;
    if (seen++ != index) continue;
    const LONG r = CopyName(LastComponent(it->second.path), name, name_chars);
    if (r != ERROR_SUCCESS) return r;
    if (class_name != nullptr && class_chars != nullptr && *class_chars > 0) class_name[0] = 0;
    if (class_chars != nullptr) *class_chars = 0;
    if (last_write_time != nullptr) *last_write_time = FILETIME{0, 0};
    return ERROR_SUCCESS;
  }
  return reg.file.error != ERROR_SUCCESS ? reg.file.error : ERROR_NO_MORE_ITEMS;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_chars, LPDWORD /*reserved*/,
                   LPDWORD type, LPBYTE data, LPDWORD size) {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  OpenKey open;
  if (!reg.Resolve(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  reg.Refresh();
  const auto it = reg.view.keys.find(FoldCase(open.path));
  if (it == reg.view.keys.end() || index >= it->second.values.size()) {
    if (reg.file.error != ERROR_SUCCESS) return reg.file.error;
    return reg.Exists(open.path) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  }
  const Value& value = it->second.values[index];
  const LONG r = CopyName(value.name, name, name_chars);
  if (r != ERROR_SUCCESS) return r;
  return CopyData(value, type, data, size);
}

LONG SettingsOverlaySetDword(HKEY root, LPCWSTR sub_key, LPCWSTR name, DWORD value) {
  std::vector<BYTE> data(sizeof value);
  std::memcpy(data.data(), &value, sizeof value);
  return OverlaySet(root, sub_key, name, REG_DWORD, std::move(data));
}

LONG SettingsOverlaySetString(HKEY root, LPCWSTR sub_key, LPCWSTR name, LPCWSTR value) {
  const std::wstring_view text = value != nullptr ? value : L"";
  std::vector<BYTE> data((text.size() + 1) * sizeof(WCHAR), 0);
  std::memcpy(data.data(), text.data(), text.size() * sizeof(WCHAR));
  return OverlaySet(root, sub_key, name, REG_SZ, std::move(data));
}

void SettingsOverlayClear() {
  Registry& reg = Registry::Instance();
  std::lock_guard lock(reg.mutex);
  reg.overlay.keys.clear();
  reg.RebuildView();
}
