#include "excel/comerror.h"

#include <cwchar>
#include <new>

#include "platform/host/menus.h"

namespace {

// Each line of a report is formatted into a buffer of this many characters (a longer line is
// cut), as the report has always done.
constexpr std::size_t kLineChars = 1024;

template <typename... Args>
void AppendLine(std::wstring& text, const wchar_t* format, Args... args) {
  wchar_t line[kLineChars];
  line[0] = L'\0';
  if (std::swprintf(line, kLineChars, format, args...) < 0) {
    line[kLineChars - 1] = L'\0';  // cut: swprintf answers an error but has filled the buffer
  }
  text += line;
}

// The text of a holder, or "null" when it is empty.
const wchar_t* OrNull(const _bstr_t& text) {
  return text.length() == 0 ? L"null" : static_cast<const wchar_t*>(text);
}

}  // namespace

int AfxMessageBox(const wchar_t* text, UINT type, UINT /*help_id*/) {
  return MessageBoxW(adsw_acadMainWnd(), text, kApplicationTitle, type);
}

const wchar_t* ErrorMessage(const _com_error& error) {
  return error.ErrorMessage();
}

_bstr_t Source(const _com_error& error) {
  return error.Source();
}

_bstr_t Description(const _com_error& error) {
  return error.Description();
}

std::wstring ComErrorText(const _com_error& error) try {
  std::wstring text = L"COM error!\n";
  AppendLine(text, L"Code = %08lx\n",
             static_cast<unsigned long>(static_cast<DWORD>(error.Error())));
  AppendLine(text, L"Code meaning = %ls\n", ErrorMessage(error));
  const _bstr_t source = Source(error);
  AppendLine(text, L"Source = %ls\n", OrNull(source));
  const _bstr_t description = Description(error);
  AppendLine(text, L"Description = %ls\n", OrNull(description));
  return text;
} catch (const std::bad_alloc&) {
  _com_issue_error(E_OUTOFMEMORY);
}

void ReportComError(const _com_error& error) {
  AfxMessageBox(ComErrorText(error).c_str(), MB_OK, 0);
}

void ReportOleException(const COleException& error) {
  wchar_t text[kLineChars];
  std::swprintf(text, kLineChars, L"Ole Error : 0x%08lX",
                static_cast<unsigned long>(static_cast<DWORD>(error.m_sc)));
  AfxMessageBox(text, MB_OK, 0);
}

void ReportDispatchException(const COleDispatchException& error) {
  std::wstring text;
  try {
    text = L"Dispatch error : " + error.m_strDescription;
  } catch (const std::bad_alloc&) {
    _com_issue_error(E_OUTOFMEMORY);
  }
  AfxMessageBox(text.c_str(), MB_OK, 0);
}
