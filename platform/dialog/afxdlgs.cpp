#include "platform/dialog/afxdlgs.h"

#include <filesystem>
#include <system_error>

#include "platform/dialog/dialog_internal.h"
#include "platform/win/codepage.h"

namespace {

namespace fs = std::filesystem;

std::wstring Trim(const std::wstring& s) {
  const size_t b = s.find_first_not_of(L" \t\r");
  if (b == std::wstring::npos) return L"";
  return s.substr(b, s.find_last_not_of(L" \t\r") - b + 1);
}

// "Text files (*.txt)|*.txt|All files (*.*)|*.*||" -> "Text files (*.txt), All files (*.*)"
std::wstring FilterNames(const std::wstring& filter) {
  std::wstring out;
  size_t at = 0;
  bool name = true;
  while (at < filter.size()) {
    const size_t bar = filter.find(L'|', at);
    const std::wstring part = filter.substr(at, bar == std::wstring::npos ? bar : bar - at);
    if (name && !part.empty()) out += (out.empty() ? L"" : L", ") + part;
    name = !name;
    if (bar == std::wstring::npos) break;
    at = bar + 1;
  }
  return out;
}

}  // namespace

CFileDialog::CFileDialog(BOOL open, LPCWSTR default_ext, LPCWSTR file_name, DWORD flags,
                         LPCWSTR filter, CWnd* parent)
    : open_(open),
      default_ext_(default_ext ? default_ext : L""),
      file_name_(file_name ? file_name : L""),
      flags_(flags),
      filter_(filter ? filter : L""),
      parent_(parent) {
  if (!default_ext_.empty() && default_ext_[0] == L'.') default_ext_.erase(0, 1);
}

INT_PTR CFileDialog::DoModal() {
  path_.clear();
  std::shared_ptr<LineSource> source = CurrentLineSource();
  const bool interactive = source->Interactive();
  const std::wstring title = open_ ? L"Open" : L"Save As";
  std::wstring header = L"File dialog " + std::wstring(open_ ? L"\"Open\"" : L"\"Save As\"");
  if (!file_name_.empty()) header += L", proposed name \"" + file_name_ + L"\"";
  if (!filter_.empty()) header += L", types: " + FilterNames(filter_);
  dialog::Print(header + L"\n");
  HWND owner = parent_ ? parent_->m_hWnd : nullptr;
  while (true) {
    if (interactive) dialog::Print(L"File name (empty: cancel): ");
    const std::optional<std::string> line = source->Take();
    if (!line) {
      dialog::Print(title + L": end of input, cancelled\n");
      return IDCANCEL;
    }
    std::wstring text = Trim(Utf8ToWide(*line));
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') {
      text = text.substr(1, text.size() - 2);
    }
    if (text.empty()) return IDCANCEL;
    fs::path path(WideToUtf8(text));
    if (!path.has_extension() && !default_ext_.empty()) {
      path += "." + WideToUtf8(default_ext_);
    }
    std::error_code ec;
    path = fs::absolute(path, ec);
    std::wstring refusal;
    const fs::path folder = path.parent_path();
    const std::wstring shown = Utf8ToWide(path.string());
    if (fs::is_directory(path, ec)) {
      refusal = shown + L" is a folder.";
    } else if ((!open_ || (flags_ & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST))) &&
               !fs::is_directory(folder, ec)) {
      refusal = shown + L"\nPath does not exist.\nCheck the path and try again.";
    } else if (open_ && (flags_ & OFN_FILEMUSTEXIST) && !fs::exists(path, ec)) {
      refusal = shown + L"\nFile not found.\nCheck the file name and try again.";
    } else if (!open_ && (flags_ & OFN_OVERWRITEPROMPT) && fs::exists(path, ec)) {
      const std::wstring question =
          Utf8ToWide(path.filename().string()) + L" already exists.\nDo you want to replace it?";
      if (MessageBoxW(owner, question.c_str(), L"Confirm Save As", MB_YESNO | MB_ICONEXCLAMATION) !=
          IDYES) {
        continue;  // as in Windows: the dialog stays and asks for another name
      }
    }
    if (!refusal.empty()) {
      dialog::Print(title + L": " + refusal + L"\n");
      if (!interactive) {
        dialog::Print(title + L": cancelled\n");
        return IDCANCEL;
      }
      continue;
    }
    path_ = Utf8ToWide(path.string());
    return IDOK;
  }
}

std::wstring CFileDialog::GetFileName() const {
  return Utf8ToWide(fs::path(WideToUtf8(path_)).filename().string());
}

std::wstring CFileDialog::GetFileExt() const {
  std::string ext = fs::path(WideToUtf8(path_)).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  return Utf8ToWide(ext);
}

std::wstring CFileDialog::GetFileTitle() const {
  return Utf8ToWide(fs::path(WideToUtf8(path_)).stem().string());
}
