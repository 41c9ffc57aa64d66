// A small loadable module for the LoadLibraryW tests: one function by name, one by ordinal.
#include "platform/win/module.h"

extern "C" __attribute__((visibility("default"))) INT_PTR sheetwise_test_answer() {
  return 42;
}

extern "C" __attribute__((visibility("hidden"))) INT_PTR TestSeven() {
  return 7;
}
SHEETWISE_EXPORT_ORDINAL(3, TestSeven);

// Two strings and a dialog template, as a resource library lists them.
#include "platform/win/resource.h"

namespace {
const wchar_t kHello[] = L"Hello, r\u00e9sum\u00e9";
const wchar_t kEmpty[] = L"";
const char kDialog[] = "DIALOG 100 \"Test\"\n";
const SwResource kResources[] = {
    {RT_STRING_ID, 4, kHello, sizeof(kHello) - sizeof(wchar_t)},
    {RT_STRING_ID, 5, kEmpty, 0},
    {RT_DIALOG_ID, 100, kDialog, sizeof(kDialog) - 1},
};
}  // namespace

extern "C" __attribute__((visibility("default"))) const SwResource* sheetwise_resources(
    size_t* count) {
  *count = sizeof(kResources) / sizeof(kResources[0]);
  return kResources;
}
