// The settings file: every option of a SettingsInfo in a Windows INI file with an [Export] and
// an [Import] section, so that users can keep sets of options, pass them to one run, and share
// them. Written and read with the profile functions (WritePrivateProfileStringW,
// GetPrivateProfileStringW), so the files are those any Windows program reads and writes.
//
//   [Export]
//   AddHeader=0
//   ...
//   TimeStamp=0
//
//   [Import]
//   ImportSettings=0
//   IgnoreProps=1
//   StartCol=1
//   StartRow=2
//
// Every value is a decimal integer ("%d"), a check box 0 or 1. Keys are case-insensitive and
// may come in any order; a key that is missing or empty leaves its field as it was, any other
// text becomes the integer it starts with (_wtoi: "12abc" is 12, "abc" is 0). A path without a
// folder names a file in the program's settings folder, as the profile functions have it. None
// of these functions prints anything: callers decide what to tell the user. Any thread may call,
// but the files are not locked against other processes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace sheetwise {

/// The text SaveSettingsFile gives a new file for `settings` (UTF-8, LF line ends): both
/// sections with every key in its writing order.
std::string SettingsFileText(const SettingsInfo& settings);

/// Writes every field of `settings` to the settings file `path`, key by key in the writing
/// order. A file that exists keeps its comments, its other sections and keys, its encoding and
/// line ends; only the values change. The file is replaced in one step when every key has been
/// written (a copy beside it takes the writes and is renamed over it), so a failure or a crash
/// leaves it as it was. A file that already holds these values is not rewritten. Returns false
/// with `*error` (when not null) naming the file and the cause when the folder is missing, the
/// file cannot be read (it would lose its content) or written.
bool SaveSettingsFile(const SettingsInfo& settings, const std::wstring& path,
                      std::string* error = nullptr);

/// Reads every key of the settings file `path` in the writing order (256-character values, an
/// empty default) into `settings`: an empty value or a missing key leaves its field unchanged;
/// otherwise the field becomes the text's leading integer, a bool true when it is not 0. Values
/// are not range-checked. Returns false, with `settings` unchanged and `*error` (when not null)
/// naming the file and the cause, when the file is missing, not a regular file, unreadable or
/// larger than a settings file can be (1 MiB).
bool LoadSettingsFile(SettingsInfo& settings, const std::wstring& path,
                      std::string* error = nullptr);

/// Something in a settings file that will not load as its author may expect.
struct SettingsFileIssue {
  size_t line = 0;      ///< 1-based; 0 for the file as a whole
  std::string message;  ///< e.g. "StartRow = \"12abc\" is not a number: loads as 12"
};

/// Reads the settings file `path` as LoadSettingsFile does and lists, in file order, what it
/// will ignore or read differently from what it says: keys not known in [Export] and [Import],
/// values that are not a plain decimal integer or lie outside the 32-bit range, start rows
/// outside 1 to 65536 and start columns outside 1 to 256 (the Options dialog refuses those),
/// repeated keys and sections (the first one counts), lines of those sections that are not
/// KEY=VALUE, and a file with neither section. Other sections are not looked at. Returns false
/// with `*error` as LoadSettingsFile when the file cannot be read.
bool CheckSettingsFile(const std::wstring& path, std::vector<SettingsFileIssue>& issues,
                       std::string* error = nullptr);

/// For a run's `--settings FILE.ini`: lays the values of the settings file `path` over the
/// settings store in memory, for this process only (SettingsOverlaySetDword); nothing is written
/// to the user's store. A key that is missing or empty in the file leaves the stored value
/// visible; the others are read as LoadSettingsFile reads them. LoadSettings then sees the file's
/// values over the stored ones, its [Import] values too when the store has no Export key.
/// Returns false, with nothing laid over the store and `*error` as LoadSettingsFile, when the
/// file cannot be read. SettingsOverlayClear removes the values again. Callers that tell the
/// user about the file's content call CheckSettingsFile first. Main thread, before the run's
/// first command.
bool ApplySettingsFileOverlay(const std::wstring& path, std::string* error = nullptr);

}  // namespace sheetwise
