#include "platform/win/module.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/win/codepage.h"

namespace {

namespace fs = std::filesystem;

thread_local std::string load_error;

// Handles this layer gave out, with their load counts, so that a wrong handle is refused
// instead of being passed to dlsym or dlclose.
std::mutex modules_mutex;
std::unordered_map<void*, int> loaded;  // guarded by modules_mutex
// Addresses found so far per handle: dlsym walks the library's symbol tables, and resources
// and strings are looked up through one exported function on every load. Dropped with the
// handle's last FreeLibrary. Guarded by modules_mutex.
std::unordered_map<void*, std::unordered_map<std::string, void*>> symbols;

void* MainProgram() {
  static void* const handle = ::dlopen(nullptr, RTLD_NOW);
  return handle;
}

bool IsKnown(void* handle) {
  if (handle == MainProgram()) return true;
  std::lock_guard lock(modules_mutex);
  return loaded.count(handle) != 0;
}

std::string ExecutablePath() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

bool IsSystemFolder(const std::string& folder) {
  for (const char* system : {"/lib", "/usr/lib", "/lib64", "/usr/lib64", "/usr/local/lib"}) {
    const size_t n = std::strlen(system);
    if (folder.compare(0, n, system) == 0 && (folder.size() == n || folder[n] == '/')) return true;
  }
  return false;
}

int CollectFolder(dl_phdr_info* info, size_t, void* data) {
  auto* folders = static_cast<std::vector<std::string>*>(data);
  if (info->dlpi_name == nullptr || info->dlpi_name[0] != '/') return 0;
  const std::string folder = fs::path(info->dlpi_name).parent_path().string();
  if (IsSystemFolder(folder)) return 0;
  for (const std::string& f : *folders) {
    if (f == folder) return 0;
  }
  folders->push_back(folder);
  return 0;
}

std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  const std::string exe = ExecutablePath();
  if (!exe.empty()) folders.push_back(fs::path(exe).parent_path().string());
  ::dl_iterate_phdr(CollectFolder, &folders);
  return folders;
}

HMODULE Remember(void* handle) {
  std::lock_guard lock(modules_mutex);
  ++loaded[handle];
  return static_cast<HMODULE>(handle);
}

bool LooksLikeFormatError(const char* message) {
  return message != nullptr && (std::strstr(message, "invalid ELF header") != nullptr ||
                                std::strstr(message, "file too short") != nullptr ||
                                std::strstr(message, "wrong ELF class") != nullptr ||
                                std::strstr(message, "ELF file") != nullptr);
}

std::string PathOfHandle(void* handle) {
  if (handle == nullptr || handle == MainProgram()) return ExecutablePath();
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr ||
      map->l_name[0] == '\0') {
    return ExecutablePath();
  }
  std::error_code ec;
  const fs::path absolute = fs::absolute(map->l_name, ec);
  return ec ? std::string(map->l_name) : absolute.lexically_normal().string();
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR name) {
  load_error.clear();
  if (name == nullptr || *name == L'\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string file = WideToUtf8(name);
  const std::string base = fs::path(file).filename().string();
  if (base.find('.') == std::string::npos) file += ".dll";
  if (!file.empty() && file.back() == '.') file.pop_back();  // "NAME." means no extension
  std::vector<std::string> candidates;
  if (file.find('/') != std::string::npos) {
    candidates.push_back(file);
  } else {
    for (const std::string& folder : SearchFolders()) {
      const std::string path = folder + "/" + file;
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) candidates.push_back(path);
    }
    candidates.push_back(file);  // the dynamic loader's own search
  }
  bool format_error = false;
  for (const std::string& candidate : candidates) {
    if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      load_error.clear();
      return Remember(handle);
    }
    const char* message = ::dlerror();
    if (load_error.empty() && message != nullptr) load_error = message;
    format_error = format_error || LooksLikeFormatError(message);
  }
  SetLastError(format_error ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
  return nullptr;
}

std::string LoadLibraryErrorText() {
  return load_error;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  void* handle = module != nullptr ? static_cast<void*>(module) : MainProgram();
  if (!IsKnown(handle)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (name == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  std::string symbol = IS_INTRESOURCE(name) ? "sheetwise_ordinal_" +
                                                  std::to_string(reinterpret_cast<ULONG_PTR>(name))
                                            : std::string(name);
  std::lock_guard lock(modules_mutex);
  if (handle != MainProgram() && loaded.count(handle) == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);  // freed by another thread meanwhile
    return nullptr;
  }
  auto& known = symbols[handle];
  if (const auto found = known.find(symbol); found != known.end())
    return reinterpret_cast<FARPROC>(found->second);
  ::dlerror();
  void* address = ::dlsym(handle, symbol.c_str());
  if (address == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  known.emplace(std::move(symbol), address);
  return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
  void* handle = static_cast<void*>(module);
  {
    std::lock_guard lock(modules_mutex);
    const auto it = loaded.find(handle);
    if (it == loaded.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second == 0) {
      loaded.erase(it);
      symbols.erase(handle);
    }
  }
  ::dlclose(handle);
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  void* handle = static_cast<void*>(module);
  if (handle != nullptr && !IsKnown(handle)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::wstring path = Utf8ToWide(PathOfHandle(handle));
  if (path.size() + 1 > size) {
    if (size > 0 && buffer != nullptr) {
      std::copy_n(path.begin(), size - 1, buffer);
      buffer[size - 1] = L'\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = L'\0';
  return static_cast<DWORD>(path.size());
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) return static_cast<HMODULE>(MainProgram());
  std::string file = WideToUtf8(name);
  if (fs::path(file).filename().string().find('.') == std::string::npos) file += ".dll";
  std::lock_guard lock(modules_mutex);
  for (const auto& [handle, count] : loaded) {
    const std::string path = PathOfHandle(handle);
    const bool match = file.find('/') != std::string::npos
                           ? path == file
                           : fs::path(path).filename().string() == file;
    if (match) return static_cast<HMODULE>(handle);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
    *module = GetModuleHandleW(name);
    if (*module == nullptr) return FALSE;
  } else {
    Dl_info info{};
    if (::dladdr(static_cast<const void*>(name), &info) == 0 || info.dli_fname == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    void* handle = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    link_map* main_map = nullptr;
    link_map* map = nullptr;
    ::dlinfo(MainProgram(), RTLD_DI_LINKMAP, &main_map);
    ::dlinfo(handle, RTLD_DI_LINKMAP, &map);
    if (map != nullptr && map == main_map) {
      ::dlclose(handle);
      *module = static_cast<HMODULE>(MainProgram());
      return TRUE;
    }
    // The RTLD_NOLOAD open counted one load. Without UNCHANGED_REFCOUNT the caller frees it;
    // with it the count stays, so the library stays loaded while the handle is in use.
    *module = Remember(handle);
    return TRUE;
  }
  if (flags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_PIN)) {
    return TRUE;
  }
  if (*module != MainProgram()) {
    ::dlopen(PathOfHandle(*module).c_str(), RTLD_NOW | RTLD_NOLOAD);
    Remember(*module);
  }
  return TRUE;
}
