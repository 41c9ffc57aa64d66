#include "platform/win/shell.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"

namespace {

namespace fs = std::filesystem;

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home == '/') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return pw->pw_dir;
  }
  return "/";
}

std::string XdgFolder(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  // The XDG rules ignore relative paths.
  std::string folder = value != nullptr && *value == '/' ? value : HomeFolder() + fallback;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// The full path of `program`: as given when it holds a '/', else the first match in PATH.
std::optional<std::string> FindProgram(const std::string& program) {
  if (program.empty()) return std::nullopt;
  if (program.find('/') != std::string::npos) return program;
  const char* path_env = std::getenv("PATH");
  std::string_view path = path_env != nullptr ? path_env : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const size_t colon = path.find(':');
    const std::string_view folder = path.substr(0, colon);
    // Built as a path: g++ 12 at -O3 warns falsely (-Wrestrict) on the string form.
    const std::string candidate =
        (std::filesystem::path(folder.empty() ? std::string_view(".") : folder) / program).string();
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    path.remove_prefix(colon + 1);
  }
}

// Starts `argv` (argv[0] a full path) in `folder` without waiting and without leaving a child
// to reap: the intermediate child exits at once and the program is adopted by init. Returns 0,
// or the errno of the failed fork or exec.
int Spawn(const std::vector<std::string>& argv, const std::string& folder) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on: the parent may have other threads.
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int error = errno;
        (void)!::write(report[1], &error, sizeof error);
      }
      ::_exit(0);
    }
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
      const int error = errno;
      (void)!::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    ::execv(args[0], args.data());
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  return n == sizeof error ? error : 0;
}

bool IsUrl(std::string_view text) {
  // scheme ":" with a scheme of two or more letters, so that "C:" never counts.
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char c = text[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return false;
  }
  return true;
}

HINSTANCE ShellResult(int code, DWORD last_error) {
  if (last_error != 0) SetLastError(last_error);
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(code));
}

int SpawnResult(int error, int* code, DWORD* last_error) {
  if (error == 0) return 0;
  switch (error) {
    case ENOENT:
      *code = SE_ERR_FNF;
      *last_error = ERROR_FILE_NOT_FOUND;
      break;
    case EACCES:
    case EPERM:
      *code = SE_ERR_ACCESSDENIED;
      *last_error = ERROR_ACCESS_DENIED;
      break;
    case ENOEXEC:
      *code = SE_ERR_NOASSOC;
      *last_error = ERROR_BAD_EXE_FORMAT;
      break;
    default:
      *code = 0;
      *last_error = ERROR_NOT_ENOUGH_MEMORY;
  }
  return error;
}

}  // namespace

std::string XdgConfigHome() {
  return XdgFolder("XDG_CONFIG_HOME", "/.config");
}

std::string XdgDataHome() {
  return XdgFolder("XDG_DATA_HOME", "/.local/share");
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const char c = line[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t slashes = 0;
        while (i < line.size() && line[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < line.size() && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg.push_back('"');
            continue;
          }
          --i;  // the quote is handled as a quote by the next round
          continue;
        }
        arg.append(slashes, '\\');
        --i;
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg.push_back('"');
          ++i;
          continue;
        }
        quoted = !quoted;
        continue;
      }
      arg.push_back(c);
    }
    args.push_back(std::move(arg));
  }
  return args;
}

HINSTANCE ShellExecuteW(HWND /*hwnd*/, LPCWSTR verb, LPCWSTR file, LPCWSTR params, LPCWSTR dir,
                        INT /*show*/) {
  if (file == nullptr || *file == L'\0') return ShellResult(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
  if (verb != nullptr && *verb != L'\0' && !EqualsNoCase(verb, L"open") &&
      !EqualsNoCase(verb, L"explore")) {
    return ShellResult(SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION);
  }
  const std::string target = WideToUtf8(file);
  const std::string folder = dir != nullptr ? WideToUtf8(dir) : std::string();
  std::vector<std::string> argv;
  std::string run_in;
  if (IsUrl(target)) {
    argv.push_back(target);
  } else {
    std::error_code ec;
    fs::path path(target);
    if (path.is_relative())
      path = (folder.empty() ? fs::current_path(ec) : fs::path(folder)) / path;
    path = path.lexically_normal();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      const bool folder_missing = !fs::is_directory(path.parent_path(), ec);
      return folder_missing ? ShellResult(SE_ERR_PNF, ERROR_PATH_NOT_FOUND)
                            : ShellResult(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
    }
    if (S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) {
      // A program: started itself, with the parameters as its command line.
      std::vector<std::string> command{path.string()};
      if (params != nullptr) {
        for (std::string& a : SplitCommandLine(WideToUtf8(params))) command.push_back(a);
      }
      int code = 42;
      DWORD last_error = 0;
      SpawnResult(Spawn(command, folder), &code, &last_error);
      return ShellResult(code, last_error);
    }
    if (::access(path.c_str(), R_OK) != 0) {
      return ShellResult(SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED);
    }
    argv.push_back(path.string());
  }
  const char* opener_env = std::getenv("SHEETWISE_OPENER");
  std::vector<std::string> opener_words =
      SplitCommandLine(opener_env != nullptr && *opener_env != '\0' ? opener_env : "xdg-open");
  const std::optional<std::string> opener =
      opener_words.empty() ? std::nullopt : FindProgram(opener_words[0]);
  if (!opener) return ShellResult(SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION);
  opener_words[0] = *opener;
  opener_words.insert(opener_words.end(), argv.begin(), argv.end());
  int code = 42;
  DWORD last_error = 0;
  if (SpawnResult(Spawn(opener_words, run_in), &code, &last_error) == ENOENT) {
    code = SE_ERR_NOASSOC;
    last_error = ERROR_NO_ASSOCIATION;
  }
  return ShellResult(code, last_error);
}

UINT WinExec(LPCSTR command_line, UINT /*show*/) {
  if (command_line == nullptr) return 0;
  std::vector<std::string> argv = SplitCommandLine(command_line);
  if (argv.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ERROR_FILE_NOT_FOUND;
  }
  const std::optional<std::string> program = FindProgram(argv[0]);
  if (!program) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ERROR_FILE_NOT_FOUND;
  }
  struct stat st {};
  if (::stat(program->c_str(), &st) != 0) {
    std::error_code ec;
    const bool folder_missing = !fs::is_directory(fs::path(*program).parent_path(), ec);
    const LONG error = folder_missing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    SetLastError(error);
    return static_cast<UINT>(error);
  }
  if (!S_ISREG(st.st_mode) || ::access(program->c_str(), X_OK) != 0) {
    SetLastError(ERROR_BAD_FORMAT);
    return ERROR_BAD_FORMAT;
  }
  argv[0] = *program;
  const int error = Spawn(argv, std::string());
  if (error == 0) return 33;
  if (error == ENOEXEC || error == EACCES) {
    SetLastError(ERROR_BAD_FORMAT);
    return ERROR_BAD_FORMAT;
  }
  SetLastError(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_NOT_ENOUGH_MEMORY);
  return error == ENOENT ? ERROR_FILE_NOT_FOUND : 0;
}

BOOL SHGetSpecialFolderPathW(HWND /*hwnd*/, LPWSTR path, int csidl, BOOL create) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (csidl & CSIDL_FLAG_CREATE) create = TRUE;
  std::string folder;
  switch (csidl & 0xFF) {
    case CSIDL_APPDATA:
      folder = XdgConfigHome();
      break;
    case CSIDL_LOCAL_APPDATA:
      folder = XdgDataHome();
      break;
    case CSIDL_PERSONAL:
      folder = HomeFolder();
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    if (!create) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return FALSE;
    }
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  }
  const std::wstring wide = Utf8ToWide(folder);
  if (wide.size() >= static_cast<size_t>(MAX_PATH)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::copy(wide.begin(), wide.end(), path);
  path[wide.size()] = L'\0';
  return TRUE;
}
