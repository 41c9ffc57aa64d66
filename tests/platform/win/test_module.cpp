// A small loadable module for the LoadLibraryW tests: one function by name, one by ordinal.
#include "platform/win/module.h"

extern "C" __attribute__((visibility("default"))) INT_PTR sheetwise_test_answer() {
  return 42;
}

extern "C" __attribute__((visibility("hidden"))) INT_PTR TestSeven() {
  return 7;
}
SHEETWISE_EXPORT_ORDINAL(3, TestSeven);
