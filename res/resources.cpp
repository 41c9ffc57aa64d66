// The resource library's one export: the list of its resources, built once from the tables.
#include <cwchar>
#include <vector>

#include "platform/win/resource.h"
#include "res/resource_table.h"

namespace {

std::vector<SwResource> BuildList() {
  std::vector<SwResource> list;
  for (std::size_t i = 0; i < res::kStringCount; ++i) {
    const wchar_t* text = res::kStrings[i].text;
    list.push_back({RT_STRING_ID, static_cast<WORD>(res::kStrings[i].id), text,
                    std::wcslen(text) * sizeof(wchar_t)});
  }
  return list;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const SwResource* sheetwise_resources(
    size_t* count) {
  static const std::vector<SwResource> list = BuildList();
  *count = list.size();
  return list.data();
}
