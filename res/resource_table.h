// The tables the resource library is built from (internal to res/).
#pragma once

#include <cstddef>

namespace res {

struct StringEntry {
  unsigned id;
  const wchar_t* text;
};

extern const StringEntry kStrings[];
extern const std::size_t kStringCount;

}  // namespace res
