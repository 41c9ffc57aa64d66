// The settings store's data model and its text file format, shared by registry.cpp, the
// profile-file code (atomic writes) and the fuzz target. Not part of the public interface.
//
// The file is REGEDIT4-style text in UTF-8:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\SOFTWARE\Norvane\Sheetwise\Settings\Export]
//   @="default value"
//   "AddHeader"=dword:00000001
//   "Title"="Block \"A\"\\n"
//   "Raw"=hex(3):01,02,ff
//
// Strings escape \\ and \" as regedit does, and also \n, \r, \t and \0 so that every value stays
// on one line. REG_SZ holds wchar_t units (4 bytes each here) and is written as a string when it
// is one zero-terminated run of valid code points; any other byte content of any type is written
// as hex(TYPE):bytes, so the file holds every value exactly as it was set.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/wintypes.h"

namespace sheetwise::win::registry_internal {

struct Value {
  std::wstring name;  ///< "" is the key's default value (@ in the file)
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct Key {
  std::wstring path;          ///< full path from the root name, case as first written
  std::vector<Value> values;  ///< in the order they were first set
};

/// Keys by their case-folded full path ("hkey_current_user\software\..."). Every ancestor of a
/// stored key is stored too; the root keys themselves are not (they always exist).
struct Store {
  std::map<std::wstring, Key> keys;

  /// The value named `name` (case-insensitive) of the key with folded path `folded`, or null.
  const Value* FindValue(const std::wstring& folded, std::wstring_view name) const;
  /// Creates the key at `path` (and its missing ancestors, each spelled as in `path`) unless it
  /// exists; returns it and whether it was created.
  Key& CreateKey(std::wstring_view path, bool* created);
  /// True when some other key lies below `folded`.
  bool HasSubkeys(const std::wstring& folded) const;
};

/// Where a parse failed: a 1-based line and what was expected and found there.
struct ParseError {
  size_t line = 0;
  std::string message;
};

/// Parses a store file. On failure returns false and fills `error`; `store` is then unusable.
/// Never throws on any input.
[[nodiscard]] bool ParseStore(std::string_view text, Store& store, ParseError& error);
/// The text of a store file; ParseStore gives back an equal store.
std::string SerializeStore(const Store& store);

/// The names of the root keys the file may use, and whether `name` is one ("HKEY_CURRENT_USER").
bool IsRootName(std::wstring_view name);

/// Replaces the file at `path` by `bytes` atomically: a temporary file beside it is written,
/// flushed to disk, given the old file's permission bits and renamed over it; then the folder is
/// flushed. On failure the old file is untouched, the temporary file removed, and `error` says
/// what failed. Leftover temporary files of this naming scheme (PATH.*.tmp) can be removed with
/// RemoveStaleTemporaries by whoever holds the file's lock.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                                       std::string& error);
void RemoveStaleTemporaries(const std::string& path);

/// Test hook: called between the two halves of the temporary file's content, so that a test can
/// kill the writer mid-write. Null (the default) in the program.
using WriteHook = void (*)();
void SetWriteHookForTesting(WriteHook hook);

}  // namespace sheetwise::win::registry_internal
