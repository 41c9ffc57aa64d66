#include "platform/win/message.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <unistd.h>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"

namespace {

struct SystemMessage {
  DWORD id;
  const wchar_t* text;
};

// English system texts, worded as Windows shows them (Wine 8 has shorter texts of its own for
// the Win32 errors and none for most HRESULTs: its wording was not used). Ids missing here have
// no text, as CONNECT_E_* have none on Windows either.
constexpr SystemMessage kSystemMessages[] = {
    {0, L"The operation completed successfully.\r\n"},
    {1, L"Incorrect function.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {3, L"The system cannot find the path specified.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {11, L"An attempt was made to load a program with an incorrect format.\r\n"},
    {13, L"The data is invalid.\r\n"},
    {14, L"Not enough memory resources are available to complete this operation.\r\n"},
    {29, L"The system cannot write to the specified device.\r\n"},
    {30, L"The system cannot read from the specified device.\r\n"},
    {32, L"The process cannot access the file because it is being used by another process.\r\n"},
    {38, L"Reached the end of the file.\r\n"},
    {50, L"The request is not supported.\r\n"},
    {80, L"The file exists.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {112, L"There is not enough space on the disk.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, L"The specified module could not be found.\r\n"},
    {127, L"The specified procedure could not be found.\r\n"},
    {145, L"The directory is not empty.\r\n"},
    {161, L"The specified path is invalid.\r\n"},
    {183, L"Cannot create a file when that file already exists.\r\n"},
    {193, L"%1 is not a valid Win32 application.\r\n"},
    {234, L"More data is available.\r\n"},
    {259, L"No more data is available.\r\n"},
    {317,
     L"The system cannot find message text for message number 0x%1 in the message file for "
     L"%2.\r\n"},
    {998, L"Invalid access to memory location.\r\n"},
    {1004, L"Invalid flags.\r\n"},
    {1009, L"The configuration registry database is corrupt.\r\n"},
    {1010, L"The configuration registry key is invalid.\r\n"},
    {1011, L"The configuration registry key could not be opened.\r\n"},
    {1012, L"The configuration registry key could not be read.\r\n"},
    {1013, L"The configuration registry key could not be written.\r\n"},
    {1018, L"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1113, L"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1155, L"No application is associated with the specified file for this operation.\r\n"},
    {1223, L"The operation was canceled by the user.\r\n"},
    {1400, L"Invalid window handle.\r\n"},
    {1444, L"Invalid thread identifier.\r\n"},
    {1460, L"This operation returned because the timeout period expired.\r\n"},
    {1815, L"The specified resource language ID cannot be found in the image file.\r\n"},
    {0x8000FFFF, L"Catastrophic failure\r\n"},
    {0x80004001, L"Not implemented\r\n"},
    {0x80004002, L"No such interface supported\r\n"},
    {0x80004003, L"Invalid pointer\r\n"},
    {0x80004004, L"Operation aborted\r\n"},
    {0x80004005, L"Unspecified error\r\n"},
    {0x8000000A, L"The data necessary to complete this operation is not yet available.\r\n"},
    {0x80040005, L"Need to run the object to perform this operation\r\n"},
    {0x80040110, L"Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, L"ClassFactory cannot supply requested class\r\n"},
    {0x80040150, L"Could not read key from registry\r\n"},
    {0x80040154, L"Class not registered\r\n"},
    {0x80040155, L"Interface not registered\r\n"},
    {0x800401E3, L"Operation unavailable\r\n"},
    {0x800401F0, L"CoInitialize has not been called.\r\n"},
    {0x800401F3, L"Invalid class string\r\n"},
    {0x800401FD, L"Object is not connected to server\r\n"},
    {0x80010001, L"Call was rejected by callee.\r\n"},
    {0x80010012,
     L"The callee (server [not server application]) is not available and disappeared; all "
     L"connections are invalid. The call did not execute.\r\n"},
    {0x80010106, L"Cannot change thread mode after it is set.\r\n"},
    {0x80010108, L"The object invoked has disconnected from its clients.\r\n"},
    {0x8001010A, L"The message filter indicated that the application is busy.\r\n"},
    {0x8001010E,
     L"The application called an interface that was marshalled for a different thread.\r\n"},
    {0x80020001, L"Unknown interface.\r\n"},
    {0x80020003, L"Member not found.\r\n"},
    {0x80020004, L"Parameter not found.\r\n"},
    {0x80020005, L"Type mismatch.\r\n"},
    {0x80020006, L"Unknown name.\r\n"},
    {0x80020007, L"No named arguments.\r\n"},
    {0x80020008, L"Bad variable type.\r\n"},
    {0x80020009, L"Exception occurred.\r\n"},
    {0x8002000A, L"Out of present range.\r\n"},
    {0x8002000B, L"Invalid index.\r\n"},
    {0x8002000C, L"Unknown language.\r\n"},
    {0x8002000D, L"Memory is locked.\r\n"},
    {0x8002000E, L"Invalid number of parameters.\r\n"},
    {0x8002000F, L"Parameter not optional.\r\n"},
    {0x80020012, L"Division by zero.\r\n"},
    {0x8002801D, L"Library not registered.\r\n"},
    {0x8002802B, L"Element not found.\r\n"},
    {0x80029C4A, L"Error loading type library/DLL.\r\n"},
    {0x80030002, L"%1 could not be found.\r\n"},
    {0x80080005, L"Server execution failed\r\n"},
};

const wchar_t* FindSystemMessage(DWORD id) {
  for (const SystemMessage& m : kSystemMessages) {
    if (m.id == id) return m.text;
  }
  // A Win32 error wrapped as an HRESULT has the Win32 error's text.
  if ((id & 0xFFFF0000u) == 0x80070000u) return FindSystemMessage(id & 0xFFFF);
  return nullptr;
}

// The arguments of the inserts: a DWORD_PTR array, or a va_list of pointer-sized arguments.
class Arguments {
 public:
  Arguments(va_list* list, bool is_array) : list_(list), is_array_(is_array) {}
  bool Present() const { return list_ != nullptr; }
  DWORD_PTR Get(int number) const {
    if (is_array_) return reinterpret_cast<const DWORD_PTR*>(list_)[number - 1];
    va_list copy;
    va_copy(copy, *list_);
    DWORD_PTR value = 0;
    for (int i = 0; i < number; ++i) value = va_arg(copy, DWORD_PTR);
    va_end(copy);
    return value;
  }

 private:
  va_list* list_;
  bool is_array_;
};

// Formats one insert with its printf-style format ("s" when none was given).
std::wstring FormatInsert(const std::string& format, DWORD_PTR value) {
  const char conversion = format.empty() ? 's' : format.back();
  std::string flags_text = format.substr(0, format.empty() ? 0 : format.size() - 1);
  bool wide64 = false;
  for (const char* modifier : {"I64", "ll", "l", "h", "w", "I"}) {
    const size_t at = flags_text.find(modifier);
    if (at != std::string::npos) {
      wide64 = wide64 || std::strcmp(modifier, "I64") == 0 || std::strcmp(modifier, "ll") == 0;
      flags_text.erase(at, std::strlen(modifier));
    }
  }
  char buffer[128];
  switch (conversion) {
    case 's': {
      const auto* text = reinterpret_cast<const wchar_t*>(value);
      return text != nullptr ? std::wstring(text) : std::wstring(L"(null)");
    }
    case 'S': {
      const auto* text = reinterpret_cast<const char*>(value);
      return text != nullptr ? Utf8ToWide(text) : std::wstring(L"(null)");
    }
    case 'c':
      return std::wstring(1, static_cast<wchar_t>(value));
    case 'd':
    case 'i': {
      const long long v =
          wide64 ? static_cast<long long>(value) : static_cast<long long>(static_cast<INT>(value));
      std::snprintf(buffer, sizeof buffer, ("%" + flags_text + "lld").c_str(), v);
      return Utf8ToWide(buffer);
    }
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
      const unsigned long long v = wide64
                                       ? static_cast<unsigned long long>(value)
                                       : static_cast<unsigned long long>(static_cast<UINT>(value));
      std::snprintf(buffer, sizeof buffer, ("%" + flags_text + "ll" + conversion).c_str(), v);
      return Utf8ToWide(buffer);
    }
    default:
      return L"";
  }
}

// Expands `pattern`; returns false (with the Win32 error) when inserts lack arguments.
bool Expand(std::wstring_view pattern, DWORD flags, const Arguments& args, std::wstring& out,
            DWORD& error) {
  const bool ignore_inserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  const bool join_lines = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const wchar_t c = pattern[i];
    if (c == L'\r' || c == L'\n') {
      if (!join_lines) {
        out.push_back(c);
        continue;
      }
      if (c == L'\r' && i + 1 < pattern.size() && pattern[i + 1] == L'\n') ++i;
      out.push_back(L' ');
      continue;
    }
    if (c != L'%' || i + 1 >= pattern.size()) {
      out.push_back(c);
      continue;
    }
    const wchar_t next = pattern[++i];
    if (next == L'0') return true;
    if (next == L'n') {
      out += L"\r\n";
      continue;
    }
    if (next >= L'1' && next <= L'9') {
      const size_t start = i - 1;
      int number = next - L'0';
      if (i + 1 < pattern.size() && pattern[i + 1] >= L'0' && pattern[i + 1] <= L'9') {
        number = number * 10 + (pattern[++i] - L'0');
      }
      std::string format;
      if (i + 1 < pattern.size() && pattern[i + 1] == L'!') {
        const size_t close = pattern.find(L'!', i + 2);
        if (close != std::wstring_view::npos) {
          format = WideToUtf8(pattern.substr(i + 2, close - i - 2));
          i = close;
        }
      }
      if (ignore_inserts) {
        out += pattern.substr(start, i + 1 - start);
        continue;
      }
      if (!args.Present()) {
        error = ERROR_INVALID_PARAMETER;
        return false;
      }
      out += FormatInsert(format, args.Get(number));
      continue;
    }
    // %% stays %% under IGNORE_INSERTS (as observed under Wine); otherwise %X gives X.
    if (ignore_inserts && next == L'%') {
      out += L"%%";
      continue;
    }
    out.push_back(next);
  }
  return true;
}

// ---- message boxes ------------------------------------------------------------------------

struct Button {
  const wchar_t* name;
  int id;
};

std::vector<Button> ButtonsOf(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {{L"OK", IDOK}, {L"Cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
      return {{L"Abort", IDABORT}, {L"Retry", IDRETRY}, {L"Ignore", IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{L"Yes", IDYES}, {L"No", IDNO}, {L"Cancel", IDCANCEL}};
    case MB_YESNO:
      return {{L"Yes", IDYES}, {L"No", IDNO}};
    case MB_RETRYCANCEL:
      return {{L"Retry", IDRETRY}, {L"Cancel", IDCANCEL}};
    case MB_CANCELTRYCONTINUE:
      return {{L"Cancel", IDCANCEL}, {L"Try Again", IDTRYAGAIN}, {L"Continue", IDCONTINUE}};
    default:
      return {{L"OK", IDOK}};
  }
}

const char* IconWord(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
      return "error";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONWARNING:
      return "warning";
    case MB_ICONINFORMATION:
      return "information";
    default:
      return nullptr;
  }
}

std::wstring WithoutBlanks(std::wstring_view s) {
  std::wstring out;
  for (wchar_t c : s) {
    if (c != L' ' && c != L'\t' && c != L'\r') out.push_back(c);
  }
  return out;
}

class StdinSource : public LineSource {
 public:
  std::optional<std::string> Peek() override {
    std::lock_guard lock(mutex_);
    Fill();
    return pending_;
  }
  std::optional<std::string> Take() override {
    std::lock_guard lock(mutex_);
    Fill();
    std::optional<std::string> line = std::move(pending_);
    pending_.reset();
    filled_ = false;
    return line;
  }
  bool Interactive() const override { return ::isatty(STDIN_FILENO) == 1; }

 private:
  void Fill() {
    if (filled_) return;
    filled_ = true;
    std::string line;
    char chunk[512];
    bool any = false;
    while (std::fgets(chunk, sizeof chunk, stdin) != nullptr) {
      any = true;
      line += chunk;
      if (!line.empty() && line.back() == '\n') break;
    }
    if (!any) return;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    pending_ = std::move(line);
  }

  std::mutex mutex_;
  bool filled_ = false;                 // guarded by mutex_
  std::optional<std::string> pending_;  // guarded by mutex_
};

class ConsolePresenter : public MessageBoxPresenter {
 public:
  ConsolePresenter(std::shared_ptr<LineSource> source, std::FILE* out)
      : source_(std::move(source)), out_(out) {}

  int Present(HWND /*owner*/, std::wstring_view text, std::wstring_view caption,
              UINT type) override;

 private:
  std::shared_ptr<LineSource> source_;
  std::FILE* out_;
};

std::mutex presenter_mutex;
std::shared_ptr<MessageBoxPresenter> current_presenter;  // guarded by presenter_mutex
std::shared_ptr<LineSource> current_source;              // guarded by presenter_mutex

std::shared_ptr<LineSource> CurrentSource() {
  std::lock_guard lock(presenter_mutex);
  if (!current_source) current_source = StdinLineSource();
  return current_source;
}

int ConsolePresenter::Present(HWND, std::wstring_view text, std::wstring_view caption, UINT type) {
  const std::vector<Button> buttons = ButtonsOf(type);
  size_t default_index = (type & MB_DEFMASK) >> 8;
  if (default_index >= buttons.size()) default_index = 0;
  std::string body = WideToUtf8(text);
  for (size_t at; (at = body.find("\r\n")) != std::string::npos;) body.erase(at, 1);
  std::string choices;
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (i > 0) choices += ' ';
    const std::string name = WideToUtf8(buttons[i].name);
    choices += i == default_index ? "[" + name + "]" : name;
  }
  const char* icon = IconWord(type);
  std::fprintf(out_, "%s%s%s%s\n%s\n", WideToUtf8(caption).c_str(), icon ? " (" : "",
               icon ? icon : "", icon ? ")" : "", body.c_str());
  std::shared_ptr<LineSource> source = source_ ? source_ : CurrentSource();
  while (true) {
    std::fprintf(out_, "%s? ", choices.c_str());
    std::fflush(out_);
    const std::optional<std::string> line = source->Peek();
    if (!line) {
      std::fprintf(out_, "\n");
      return buttons[default_index].id;
    }
    const std::wstring answer = WithoutBlanks(Utf8ToWide(*line));
    if (answer.empty()) {
      source->Take();
      return buttons[default_index].id;
    }
    for (const Button& b : buttons) {
      if (EqualsNoCase(answer, WithoutBlanks(b.name))) {
        source->Take();
        return b.id;
      }
    }
    if (!source->Interactive()) {
      // A script line meant for the next prompt: keep it there.
      std::fprintf(out_, "\n");
      return buttons[default_index].id;
    }
    source->Take();
    std::fprintf(out_, "Please answer one of: %s\n", choices.c_str());
  }
}

}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language, LPWSTR buffer,
                     DWORD size, va_list* arguments) {
  if (buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const wchar_t* pattern = nullptr;
  if (flags & FORMAT_MESSAGE_FROM_STRING) {
    pattern = static_cast<const wchar_t*>(source);
    if (pattern == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  } else if (flags & FORMAT_MESSAGE_FROM_SYSTEM) {
    const WORD primary = language & 0x3FF;
    if (primary != LANG_NEUTRAL && primary != LANG_ENGLISH) {
      SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
      return 0;
    }
    pattern = FindSystemMessage(message_id);
  }
  if (pattern == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  std::wstring text;
  DWORD error = 0;
  const Arguments args(arguments, (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0);
  if (!Expand(pattern, flags, args, text, error)) {
    SetLastError(error);
    return 0;
  }
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    const size_t chars = std::max<size_t>(text.size() + 1, size);
    auto* memory = static_cast<LPWSTR>(static_cast<void*>(LocalAlloc(LPTR, chars * sizeof(WCHAR))));
    if (memory == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::copy(text.begin(), text.end(), memory);
    *reinterpret_cast<LPWSTR*>(buffer) = memory;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = L'\0';
  return static_cast<DWORD>(text.size());
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  void* memory = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes == 0 ? 1 : bytes)
                                         : std::malloc(bytes == 0 ? 1 : bytes);
  if (memory == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return static_cast<HLOCAL>(memory);
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

std::shared_ptr<LineSource> StdinLineSource() {
  static const auto source = std::make_shared<StdinSource>();
  return source;
}

std::shared_ptr<MessageBoxPresenter> ConsoleMessageBoxPresenter(std::shared_ptr<LineSource> source,
                                                                std::FILE* out) {
  return std::make_shared<ConsolePresenter>(std::move(source), out);
}

std::shared_ptr<MessageBoxPresenter> SetMessageBoxPresenter(
    std::shared_ptr<MessageBoxPresenter> presenter) {
  std::lock_guard lock(presenter_mutex);
  std::swap(current_presenter, presenter);
  return presenter;
}

std::shared_ptr<LineSource> SetMessageBoxLineSource(std::shared_ptr<LineSource> source) {
  std::lock_guard lock(presenter_mutex);
  std::swap(current_source, source);
  return source;
}

std::shared_ptr<LineSource> CurrentLineSource() { return CurrentSource(); }

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  std::shared_ptr<MessageBoxPresenter> presenter;
  {
    std::lock_guard lock(presenter_mutex);
    presenter = current_presenter;
  }
  if (!presenter) presenter = ConsoleMessageBoxPresenter();
  return presenter->Present(owner, text != nullptr ? text : L"",
                            caption != nullptr ? caption : L"Error", type);
}

BOOL MessageBeep(UINT /*type*/) {
  if (::isatty(STDERR_FILENO) == 1) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
  return TRUE;
}
