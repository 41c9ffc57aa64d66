// The common file dialog in the shape of MFC's CFileDialog: open or save, default extension,
// proposed name, filter and OFN_ flags.
//
// In the console it prints its title, the proposed name and the filter, and reads a path from
// the current line source; an empty line or the end of input cancels. A relative path is taken
// from the working folder. The default extension is added to a name without one. With
// OFN_OVERWRITEPROMPT an existing file must be confirmed in a message box; with
// OFN_FILEMUSTEXIST (OFN_PATHMUSTEXIST) a missing file (folder) is refused. Refused paths are
// asked again; from a script the refusal is written and the dialog is cancelled, so that a
// script never goes on with another file than it named.
#pragma once

#include <string>

#include "platform/dialog/afxwin.h"

inline constexpr DWORD OFN_READONLY = 0x00000001;
inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
inline constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
inline constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

class CFileDialog {
 public:
  /// `open` TRUE: an open dialog, FALSE: save. `filter` is MFC's "Text (*.txt)|*.txt|All|*.*||".
  CFileDialog(BOOL open, LPCWSTR default_ext = nullptr, LPCWSTR file_name = nullptr,
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR filter = nullptr,
              CWnd* parent = nullptr);
  virtual ~CFileDialog() = default;

  /// IDOK with the path chosen, IDCANCEL.
  virtual INT_PTR DoModal();
  /// The full path chosen ("" before IDOK).
  std::wstring GetPathName() const { return path_; }
  /// The name with its extension, the extension without the dot, the name without it.
  std::wstring GetFileName() const;
  std::wstring GetFileExt() const;
  std::wstring GetFileTitle() const;

  BOOL IsOpen() const { return open_; }
  DWORD Flags() const { return flags_; }
  const std::wstring& DefaultExt() const { return default_ext_; }
  const std::wstring& ProposedName() const { return file_name_; }
  const std::wstring& Filter() const { return filter_; }

 private:
  BOOL open_;
  std::wstring default_ext_;
  std::wstring file_name_;
  DWORD flags_;
  std::wstring filter_;
  CWnd* parent_;
  std::wstring path_;
};
