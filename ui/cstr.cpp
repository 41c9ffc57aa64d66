#include "ui/cstr.h"

bool CStr::MatchesPattern(std::wstring_view pattern) const {
  if (pattern.empty()) return false;
  const std::wstring_view text = text_;
  // Greedy scan that backs up to the last '*' on a mismatch: each '*' retries with one more
  // character taken, so the cost stays at most text length x pattern length.
  constexpr std::size_t kNoStar = std::wstring_view::npos;
  std::size_t t = 0;
  std::size_t p = 0;
  std::size_t star = kNoStar;  // position of the last '*' seen in the pattern
  std::size_t resume = 0;      // text position that '*' has consumed up to
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (star != kNoStar) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}
