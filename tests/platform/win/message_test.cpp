#include "platform/win/message.h"

#include <cstdio>
#include <deque>
#include <string>

#include <gtest/gtest.h>

namespace {

std::wstring SystemText(DWORD id, DWORD flags = 0) {
  wchar_t buffer[512];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | flags,
                                 nullptr, id, 0, buffer, 512, nullptr);
  return std::wstring(buffer, n);
}

// Windows' wording (Wine 8 answers shorter texts of its own, e.g. "File not found." for 2, and
// none for most HRESULTs; its answers confirmed the "\r\n" ending, the blank that replaces it
// under FORMAT_MESSAGE_MAX_WIDTH_MASK, and the error codes below).
TEST(FormatMessageW, GivesTheSystemTexts) {
  const struct {
    DWORD id;
    const wchar_t* text;
  } rows[] = {
      {0, L"The operation completed successfully.\r\n"},
      {static_cast<DWORD>(S_OK), L"The operation completed successfully.\r\n"},
      {2, L"The system cannot find the file specified.\r\n"},
      {0x80070002, L"The system cannot find the file specified.\r\n"},
      {static_cast<DWORD>(E_ACCESSDENIED), L"Access is denied.\r\n"},
      {static_cast<DWORD>(E_INVALIDARG), L"The parameter is incorrect.\r\n"},
      {static_cast<DWORD>(E_NOINTERFACE), L"No such interface supported\r\n"},
      {static_cast<DWORD>(E_POINTER), L"Invalid pointer\r\n"},
      {static_cast<DWORD>(E_FAIL), L"Unspecified error\r\n"},
      {static_cast<DWORD>(E_UNEXPECTED), L"Catastrophic failure\r\n"},
      {static_cast<DWORD>(DISP_E_TYPEMISMATCH), L"Type mismatch.\r\n"},
      {static_cast<DWORD>(DISP_E_EXCEPTION), L"Exception occurred.\r\n"},
      {static_cast<DWORD>(DISP_E_MEMBERNOTFOUND), L"Member not found.\r\n"},
      {static_cast<DWORD>(DISP_E_PARAMNOTFOUND), L"Parameter not found.\r\n"},
      {static_cast<DWORD>(DISP_E_BADPARAMCOUNT), L"Invalid number of parameters.\r\n"},
      {static_cast<DWORD>(DISP_E_OVERFLOW), L"Out of present range.\r\n"},
      {static_cast<DWORD>(MK_E_UNAVAILABLE), L"Operation unavailable\r\n"},
      {static_cast<DWORD>(REGDB_E_CLASSNOTREG), L"Class not registered\r\n"},
      {static_cast<DWORD>(CO_E_CLASSSTRING), L"Invalid class string\r\n"},
      {static_cast<DWORD>(RPC_E_WRONG_THREAD),
       L"The application called an interface that was marshalled for a different thread.\r\n"},
      {static_cast<DWORD>(ERROR_BADDB), L"The configuration registry database is corrupt.\r\n"},
      {static_cast<DWORD>(ERROR_MOD_NOT_FOUND), L"The specified module could not be found.\r\n"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SystemText(row.id), row.text) << std::hex << row.id;
  }
  EXPECT_EQ(SystemText(2, FORMAT_MESSAGE_MAX_WIDTH_MASK),
            L"The system cannot find the file specified. ");
}

TEST(FormatMessageW, FailsAsWindowsDoes) {
  constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const struct {
    DWORD flags, id, language, error;
  } rows[] = {
      {FORMAT_MESSAGE_FROM_SYSTEM, 0x12345678, 0, ERROR_MR_MID_NOT_FOUND},
      {kSystem, static_cast<DWORD>(CONNECT_E_NOCONNECTION), 0, ERROR_MR_MID_NOT_FOUND},
      {kSystem, 2, 0, ERROR_INSUFFICIENT_BUFFER},                     // 8 characters are too few
      {FORMAT_MESSAGE_FROM_SYSTEM, 193, 0, ERROR_INVALID_PARAMETER},  // inserts, no arguments
      {kSystem, 2, MAKELANGID(0x07, SUBLANG_DEFAULT), ERROR_RESOURCE_LANG_NOT_FOUND},
  };
  for (const auto& row : rows) {
    wchar_t buffer[8];
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(row.flags, nullptr, row.id, row.language, buffer, 8, nullptr), 0u);
    EXPECT_EQ(GetLastError(), row.error) << std::hex << row.id;
  }
}

TEST(FormatMessageW, AllocatesAndFormatsInserts) {
  LPWSTR text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(E_POINTER), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::wstring(text, n), L"Invalid pointer\r\n");
  EXPECT_EQ(LocalFree(reinterpret_cast<HLOCAL>(text)), nullptr);

  // Observed under Wine: "x%1y%2!d!z%%%n%0tail" with {"abc", 42} gives "xabcy42z%\r\n".
  const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(L"abc"), 42};
  wchar_t buffer[64];
  DWORD m = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           L"x%1y%2!d!z%%%n%0tail", 0, 0, buffer, 64,
                           reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
  EXPECT_EQ(std::wstring(buffer, m), L"xabcy42z%\r\n");
  m = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS, L"a %1 b %n%%", 0,
                     0, buffer, 64, nullptr);
  EXPECT_EQ(std::wstring(buffer, m), L"a %1 b \r\n%%");
  m = FormatMessageW(
      FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      L"a\r\nb %1\r\n", 0, 0, buffer, 64, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
  EXPECT_EQ(std::wstring(buffer, m), L"a b abc ");
}

// Answers from a list, as a script or a person would type them.
class ListSource : public LineSource {
 public:
  ListSource(std::deque<std::string> lines, bool interactive)
      : lines_(std::move(lines)), interactive_(interactive) {}
  std::optional<std::string> Peek() override {
    if (lines_.empty()) return std::nullopt;
    return lines_.front();
  }
  std::optional<std::string> Take() override {
    std::optional<std::string> line = Peek();
    if (!lines_.empty()) lines_.pop_front();
    return line;
  }
  bool Interactive() const override { return interactive_; }
  size_t Left() const { return lines_.size(); }

 private:
  std::deque<std::string> lines_;
  bool interactive_;
};

TEST(MessageBox, ConsolePresenterReadsButtonNamesAndDefaults) {
  const struct {
    UINT type;
    std::deque<std::string> lines;
    bool interactive;
    int expected;
    size_t left;  // lines not consumed
  } rows[] = {
      {MB_YESNOCANCEL, {"no"}, false, IDNO, 0},
      {MB_YESNOCANCEL, {"  CANCEL "}, false, IDCANCEL, 0},
      {MB_YESNOCANCEL | MB_DEFBUTTON2, {""}, false, IDNO, 0},
      {MB_YESNO | MB_DEFBUTTON3, {""}, false, IDYES, 0},             // no third button: the first
      {MB_OKCANCEL | MB_DEFBUTTON2, {"QSAVE"}, false, IDCANCEL, 1},  // left for the next prompt
      {MB_RETRYCANCEL, {}, false, IDRETRY, 0},                       // end of input
      {MB_ABORTRETRYIGNORE, {"ignore"}, false, IDIGNORE, 0},
      {MB_CANCELTRYCONTINUE, {"try again"}, false, IDTRYAGAIN, 0},
      {MB_YESNO, {"maybe", "no"}, true, IDNO, 0},  // a person is asked again
      {MB_OK, {"ok", "next"}, false, IDOK, 1},
  };
  for (const auto& row : rows) {
    auto source = std::make_shared<ListSource>(row.lines, row.interactive);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    auto presenter = ConsoleMessageBoxPresenter(source, out);
    EXPECT_EQ(presenter->Present(nullptr, L"Text", L"Caption", row.type), row.expected)
        << "type " << row.type;
    EXPECT_EQ(source->Left(), row.left) << "type " << row.type;
    std::fclose(out);
  }
}

TEST(MessageBox, ShowsCaptionIconTextAndButtons) {
  auto source = std::make_shared<ListSource>(std::deque<std::string>{"yes"}, false);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  auto previous = SetMessageBoxPresenter(ConsoleMessageBoxPresenter(source, out));
  EXPECT_EQ(MessageBoxW(nullptr, L"Save the drawing?\r\nIt changed.", L"Sheetwise",
                        MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON3),
            IDYES);
  SetMessageBoxPresenter(previous);
  std::rewind(out);
  char text[256] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(text, n),
            "Sheetwise (warning)\nSave the drawing?\nIt changed.\nYes No [Cancel]? ");
}

TEST(MessageBox, UsesThePluggedLineSourceAndDefaultCaption) {
  auto source = std::make_shared<ListSource>(std::deque<std::string>{""}, false);
  auto previous_source = SetMessageBoxLineSource(source);
  auto previous = SetMessageBoxPresenter(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, L"Boom", nullptr, MB_OKCANCEL | MB_ICONERROR), IDOK);
  const std::string shown = testing::internal::GetCapturedStderr();
  SetMessageBoxPresenter(previous);
  SetMessageBoxLineSource(previous_source);
  EXPECT_EQ(shown.rfind("Error (error)\nBoom\n[OK] Cancel? ", 0), 0u) << shown;
  EXPECT_EQ(MessageBeep(0), TRUE);
}

}  // namespace
