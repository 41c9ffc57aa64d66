// CStr: a block name held for the filter dialog's wildcard test, where "*" stands for any run
// of characters and "?" for exactly one.
//
//   CStr(L"DOOR_TAG").MatchesPattern(L"D*")      // true
//   CStr(L"DOOR_TAG").MatchesPattern(L"*tag")    // false: the test is case-sensitive
//
// Threads: any; an object is not shared between threads.
#pragma once

#include <string>
#include <string_view>

class CStr {
 public:
  CStr() = default;
  /// Keeps a copy of `text`.
  explicit CStr(std::wstring_view text) : text_(text) {}

  const std::wstring& GetString() const { return text_; }

  /// True when the whole text is consumed by the whole `pattern`, character by character:
  /// '?' takes exactly one character, '*' any run of characters including none (several '*'
  /// in a row act as one), and every other character must equal the next character of the
  /// text exactly (no case folding). An empty pattern matches nothing, not even an empty text.
  /// There is no escape: a literal '*' or '?' in a name is matched by the wildcards only.
  bool MatchesPattern(std::wstring_view pattern) const;

 private:
  std::wstring text_;
};
