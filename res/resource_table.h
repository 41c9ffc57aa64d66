// The tables the resource library is built from (internal to res/): the string table, and
// template files (dialogs, menus) that register themselves, one file per dialog family.
//
//   // res/options_dialogs.cpp
//   const res::TemplateEntry kOptions[] = {{RT_DIALOG_ID, 1001, R"(DIALOG 1001 "Options" ...)"}};
//   const res::TemplateTable kOptionsTable(kOptions);
#pragma once

#include <cstddef>

namespace res {

struct StringEntry {
  unsigned id;
  const wchar_t* text;
};

extern const StringEntry kStrings[];
extern const std::size_t kStringCount;

/// One template: resource type (RT_DIALOG_ID, RT_MENU_ID ...), id, UTF-8 text.
struct TemplateEntry {
  unsigned short type;
  unsigned short id;
  const char* text;
};

/// Adds a file's templates to the library's list when the library loads.
class TemplateTable {
 public:
  template <std::size_t N>
  explicit TemplateTable(const TemplateEntry (&entries)[N]) : TemplateTable(entries, N) {}
  TemplateTable(const TemplateEntry* entries, std::size_t count);
};

}  // namespace res
