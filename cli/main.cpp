// The sheetwise command: starts the work a user asks for and turns its outcome into the exit
// status (0 done, 1 the work failed, 2 bad usage).
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/selftest.h"

namespace {

constexpr const char* kUsage =
    "usage: sheetwise selftest [DRAWING.dxf]   check the parts Sheetwise relies on, one line\n"
    "                                          per check, and load and save DRAWING\n"
    "       sheetwise --version\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string_view command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::puts("sheetwise " SHEETWISE_VERSION);
    return 0;
  }
  if (command == "selftest" && argc <= 3)
    return RunSelfTest(stdout, argc == 3 ? argv[2] : nullptr) ? 0 : 1;
  std::fprintf(stderr, "sheetwise: unknown command or arguments: %s\n%s", argv[1], kUsage);
  return 2;
}
