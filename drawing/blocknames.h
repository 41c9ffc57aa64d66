// The names of the blocks an export can write, with whether each has attribute definitions,
// read from the block table of the working drawing.
//
//   BlockNameMap names;
//   if (!CollectBlockNames(names)) return false;       // no drawing or no block table
//   for (const BlockNameMap::Entry& e : names) ...     // block table order
//   if (IsBlockNameKnown(typed, names)) ...            // "door" finds "DOOR"
//
// Threads: the host's main thread only, inside a command.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

/// Block name -> the block has attribute definitions. Keys compare exactly as stored ("Door"
/// and "DOOR" are two keys). Iteration follows insertion order, which CollectBlockNames makes
/// the order of the block table (the drawing's BLOCK_RECORD order), so that dialogs and exports
/// list blocks the same way on every run. One map is built per export command.
class BlockNameMap {
 public:
  struct Entry {
    std::wstring name;
    bool has_attributes = false;
  };

  /// The flag of `name`, added as false at the end of the order when absent (CMap's
  /// operator[]). The reference stays valid until RemoveAll or the map's end.
  bool& operator[](std::wstring_view name);
  /// Sets the flag of `name`, adding it at the end when absent; an existing key keeps its
  /// place.
  void SetAt(std::wstring_view name, bool has_attributes) { (*this)[name] = has_attributes; }
  /// True and the flag in `has_attributes` when `name` is a key (exact spelling); false and
  /// `has_attributes` unchanged otherwise.
  bool Lookup(std::wstring_view name, bool& has_attributes) const;
  int GetCount() const { return static_cast<int>(entries_.size()); }
  bool IsEmpty() const { return entries_.empty(); }
  void RemoveAll();

  std::deque<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::deque<Entry>::const_iterator end() const { return entries_.end(); }

 private:
  std::deque<Entry> entries_;                            // insertion order
  std::unordered_map<std::wstring, std::size_t> index_;  // name -> position in entries_
};

/// Adds to `map` every named block of the working drawing, in block table order, with
/// hasAttributeDefinitions() as its value. Left out: anonymous records (*U dynamic-block
/// variants, *D dimension and *X hatch blocks, BLOCK flag 1), records that cannot be opened
/// or named, and the layout blocks: names whose first 12 characters are "*MODEL_SPACE" or
/// "*PAPER_SPACE" ignoring case (every "*Paper_Space0", "*Paper_Space12" ...; a shorter name
/// never matches), and the same names with "$", as R12 drawings spell them.
/// The application's resource library is the current resource module while it runs. When the
/// map is empty afterwards, a message box (string 11, caption string 5, MB_ICONERROR) tells
/// the user that the drawing has no exportable blocks; the result is still true.
/// Returns false (map unchanged, no message) when there is no working drawing or its block
/// table cannot be opened or iterated. Main thread.
bool CollectBlockNames(BlockNameMap& map);

/// True when some key of `map` equals `name` ignoring case, non-ASCII letters folded too
/// ("ÄRMEL" finds "ärmel"). False for a null name or an empty map. Main thread.
bool IsBlockNameKnown(const wchar_t* name, const BlockNameMap& map);
