#include "cli/export_command.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/session.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "settings/settings_file.h"

namespace sheetwise::cli {

namespace fs = std::filesystem;

namespace {

// "A,B" as names; empty pieces are dropped.
void SplitNames(std::string_view list, std::vector<std::wstring>* names) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    const std::string_view piece = list.substr(start, comma - start);
    if (!piece.empty()) names->push_back(Utf8ToWide(piece));
    start = comma + 1;
  }
}

}  // namespace

int RunExportCommand(int argc, char** argv, const char* application, std::FILE* out,
                     std::FILE* err) {
  fs::path drawing, book, settings_file;
  std::vector<std::wstring> names;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "-o" && has_value) {
      book = argv[++i];
    } else if (arg == "--names" && has_value) {
      SplitNames(argv[++i], &names);
    } else if (arg == "--name" && has_value) {
      names.push_back(Utf8ToWide(argv[++i]));
    } else if (arg == "--settings" && has_value) {
      settings_file = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && drawing.empty()) {
      drawing = argv[i];
    } else {
      std::fprintf(err, "sheetwise export: unexpected argument: %s\n%s", argv[i], kExportUsage);
      return 2;
    }
  }
  if (drawing.empty()) {
    std::fprintf(err, "sheetwise export: which drawing?\n%s", kExportUsage);
    return 2;
  }
  if (!fs::exists(application)) {
    std::fprintf(err, "sheetwise export: the application library %s is missing\n", application);
    return 1;
  }
  if (!settings_file.empty()) {
    std::string error;
    if (!ApplySettingsFileOverlay(fs::absolute(settings_file).wstring(), &error)) {
      std::fprintf(err, "sheetwise export: %s\n", error.c_str());
      return 1;
    }
  }
  if (book.empty()) book = fs::path(drawing).replace_extension(".xlsx");
  book = fs::absolute(book);

  std::vector<fs::path> saved;
  SessionOptions options;
  options.drawing = drawing;
  options.apps.push_back(application);
  // An existing workbook is the active one, so that the export can add its sheets to it.
  if (fs::exists(book)) options.workbook = book;
  options.new_workbook = book;
  options.saved_workbooks = &saved;
  options.quiet = true;
  options.shortcut = [&names, application]() {
    HMODULE module =
        GetModuleHandleW(Utf8ToWide(fs::path(application).filename().string()).c_str());
    auto run = reinterpret_cast<ExportShortcut>(GetProcAddress(module, SW_EXPORT_SHORTCUT));
    if (run == nullptr) {
      std::fprintf(stderr, "sheetwise export: the application library has no export\n");
      return 1;
    }
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& name : names) pointers.push_back(name.c_str());
    return run(pointers.data(), static_cast<int>(pointers.size()));
  };
  const int status = RunSession(options);
  std::fflush(stdout);
  for (const fs::path& file : saved) std::fprintf(out, "Workbook written: %s\n", file.c_str());
  if (status == 0 && saved.empty()) std::fprintf(out, "Nothing was written.\n");
  return status;
}

}  // namespace sheetwise::cli
