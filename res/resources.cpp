// The resource library's one export: the list of its resources, built once from the tables.
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

#include "platform/win/resource.h"
#include "res/resource_table.h"

namespace {

std::vector<std::pair<const res::TemplateEntry*, std::size_t>>& Tables() {
  static std::vector<std::pair<const res::TemplateEntry*, std::size_t>> tables;
  return tables;
}

std::vector<SwResource> BuildList() {
  std::vector<SwResource> list;
  for (std::size_t i = 0; i < res::kStringCount; ++i) {
    const wchar_t* text = res::kStrings[i].text;
    list.push_back({RT_STRING_ID, static_cast<WORD>(res::kStrings[i].id), text,
                    std::wcslen(text) * sizeof(wchar_t)});
  }
  for (const auto& [entries, count] : Tables()) {
    for (std::size_t i = 0; i < count; ++i) {
      list.push_back(
          {entries[i].type, entries[i].id, entries[i].text, std::strlen(entries[i].text)});
    }
  }
  return list;
}

}  // namespace

res::TemplateTable::TemplateTable(const TemplateEntry* entries, std::size_t count) {
  Tables().emplace_back(entries, count);
}

extern "C" __attribute__((visibility("default"))) const SwResource* sheetwise_resources(
    size_t* count) {
  static const std::vector<SwResource> list = BuildList();
  *count = list.size();
  return list.data();
}
