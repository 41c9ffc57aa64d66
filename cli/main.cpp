// The sheetwise command: starts the work a user asks for and turns its outcome into the exit
// status (0 done, 1 the work failed, 2 bad usage).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "cli/export_command.h"
#include "cli/import_command.h"
#include "cli/link_command.h"
#include "cli/selftest.h"
#include "cli/session.h"
#include "cli/settings_command.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"

#ifdef SHEETWISE_MIMALLOC
#include <mimalloc.h>
#include <sys/mman.h>
#endif

namespace {

constexpr const char* kUsage =
    "usage: sheetwise [DRAWING.dxf] [-w BOOK.xlsx] [-s SCRIPT] [--no-spreadsheet]\n"
    "                                          the host: its command line, or SCRIPT's lines\n"
    "                                          (--no-spreadsheet: as on a machine without\n"
    "                                          the spreadsheet application)\n"
    "       sheetwise selftest [DRAWING.dxf]   check the parts Sheetwise relies on, one line\n"
    "                                          per check, and load and save DRAWING\n"
    "       sheetwise export DRAWING.dxf [-o BOOK.xlsx] [--names A,B] [--name NAME]...\n"
    "                [--settings FILE.ini]   export block attributes to BOOK (DRAWING.xlsx)\n"
    "       sheetwise import DRAWING.dxf BOOK.xlsx [-o OUT.dxf] [--sheet NAME] [--dry-run]\n"
    "                [--settings FILE.ini]   import BOOK's edited worksheets into DRAWING\n"
    "                                          (or OUT) and tell what changed\n"
    "       sheetwise link DRAWING.dxf BOOK.xlsx\n"
    "                                          carry BOOK's edits into DRAWING until Ctrl-C\n"
    "       sheetwise settings show | load FILE.ini | save FILE.ini | reset\n"
    "                                          the stored settings, and settings files\n"
    "       sheetwise --version\n";

// The application library the host loads at start, beside the executable, as an installed
// host loads its plug-ins.
constexpr const char* kApplication = "sheetwise.arx";

// The application library beside the executable.
std::filesystem::path ApplicationPath() {
  wchar_t exe[4096];
  const DWORD n = GetModuleFileNameW(nullptr, exe, 4096);
  return std::filesystem::path(WideToUtf8(std::wstring(exe, n))).parent_path() / kApplication;
}

#ifdef SHEETWISE_MIMALLOC
// Asks the allocator for 2 MiB pages, unless the user's environment chose: loading a drawing and
// writing a workbook touch tens of megabytes, and on a virtual machine each fresh 4 KiB page
// costs a fault of several microseconds. The mapping the allocator filled before main is asked
// too, as the option only reaches memory it maps from now on.
void UseLargePages() {
  if (std::getenv("MIMALLOC_LARGE_OS_PAGES") != nullptr) return;
  mi_option_enable(mi_option_large_os_pages);
  // A thread's first segments would otherwise be committed lazily, in small pages.
  mi_option_set(mi_option_eager_commit_delay, 0);
  void* probe = std::malloc(64);
  const auto at = reinterpret_cast<std::uintptr_t>(probe);
  if (std::FILE* maps = std::fopen("/proc/self/maps", "r")) {
    unsigned long low = 0, high = 0;
    while (std::fscanf(maps, "%lx-%lx%*[^\n]", &low, &high) == 2) {
      if (low <= at && at < high) {
        madvise(reinterpret_cast<void*>(low), high - low, MADV_HUGEPAGE);
        break;
      }
    }
    std::fclose(maps);
  }
  std::free(probe);
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef SHEETWISE_MIMALLOC
  UseLargePages();
#endif
  std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::puts("sheetwise " SHEETWISE_VERSION);
    return 0;
  }
  if (command == "settings")
    return sheetwise::cli::RunSettingsCommand(argc - 2, argv + 2, stdout, stderr);
  if (command == "export")
    return sheetwise::cli::RunExportCommand(argc - 2, argv + 2, ApplicationPath().c_str(), stdout,
                                            stderr);
  if (command == "link")
    return sheetwise::cli::RunLinkCommand(argc - 2, argv + 2, ApplicationPath().c_str(), stdout,
                                          stderr);
  if (command == "import")
    return sheetwise::cli::RunImportCommand(argc - 2, argv + 2, ApplicationPath().c_str(), stdout,
                                            stderr);
  if (command == "selftest" && argc <= 3)
    return RunSelfTest(stdout, argc == 3 ? argv[2] : nullptr) ? 0 : 1;
  sheetwise::cli::SessionOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--no-spreadsheet") {
      options.no_spreadsheet = true;
    } else if ((arg == "-w" || arg == "-s") && i + 1 < argc) {
      (arg == "-w" ? options.workbook : options.script) = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && options.drawing.empty()) {
      options.drawing = argv[i];
    } else {
      std::fprintf(stderr, "sheetwise: unknown command or arguments: %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  const std::filesystem::path app = ApplicationPath();
  if (std::filesystem::exists(app)) options.apps.push_back(app);
  return sheetwise::cli::RunSession(options);
}
