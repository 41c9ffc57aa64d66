// hhctrl.ocx: the help viewer module. Shows the program's help, an HTML folder built from docs/,
// in the user's browser.
//
// Stands in for the HTML Help control (HtmlHelpA of <htmlhelp.h>, also exported as ordinal 14).
// A compiled .chm file is never read: the help "file" NAME.chm is found as
//   1. NAME.chm itself when it is an HTML page,
//   2. NAME.chm/index.html when NAME.chm is a folder of HTML pages,
//   3. NAME/index.html (NAME.chm without its extension) when that folder exists,
// and a topic ("NAME.chm::/page.htm" or the data of HH_DISPLAY_TOPIC) is the page of that name
// in the folder. Left out: every command but HH_DISPLAY_TOPIC and HH_HELP_CONTEXT (which shows
// the index page) and HH_CLOSE_ALL (nothing to close: the browser owns its windows).
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include <sys/stat.h>

#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "platform/win/shell.h"
#include "platform/win/wintypes.h"

namespace {

constexpr UINT HH_DISPLAY_TOPIC = 0x0000;
constexpr UINT HH_HELP_CONTEXT = 0x000F;
constexpr UINT HH_CLOSE_ALL = 0x0012;

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// An HTML page starts (after a BOM and blanks) with '<'; a real .chm starts with "ITSF".
bool IsHtmlFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[512] = {};
  in.read(head, sizeof head);
  std::string text(head, static_cast<size_t>(in.gcount()));
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  const size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string::npos && text[first] == '<';
}

std::optional<std::string> FindPage(std::string file, std::string topic) {
  const size_t separator = file.find("::");
  if (separator != std::string::npos) {
    if (topic.empty()) topic = file.substr(separator + 2);
    file.erase(separator);
  }
  while (!topic.empty() && topic.front() == '/') topic.erase(0, 1);
  if (topic.empty()) topic = "index.html";
  if (IsFile(file) && IsHtmlFile(file)) return file;
  std::string stem = file;
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos && stem.find('/', dot) == std::string::npos) stem.erase(dot);
  for (const std::string& folder : {file, stem}) {
    if (IsFolder(folder) && IsFile(folder + "/" + topic)) return folder + "/" + topic;
  }
  return std::nullopt;
}

HWND HelpWindow() {
  // The browser owns the real window; callers only test the handle for null.
  static char token;
  return reinterpret_cast<HWND>(&token);
}

}  // namespace

/// Shows help: returns a non-null handle when the page was handed to the browser, null when
/// the help was not found, the browser could not be started, or the command is not supported.
extern "C" __attribute__((visibility("default"))) HWND HtmlHelpA(HWND /*caller*/, LPCSTR file,
                                                                 UINT command, DWORD_PTR data) {
  if (command == HH_CLOSE_ALL) return nullptr;
  if ((command != HH_DISPLAY_TOPIC && command != HH_HELP_CONTEXT) || file == nullptr) {
    return nullptr;
  }
  std::string topic;
  if (command == HH_DISPLAY_TOPIC && data != 0) topic = reinterpret_cast<const char*>(data);
  const std::optional<std::string> page = FindPage(file, topic);
  if (!page) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  const std::wstring wide = Utf8ToWide(*page);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32 ? HelpWindow() : nullptr;
}

SHEETWISE_EXPORT_ORDINAL(14, HtmlHelpA);
