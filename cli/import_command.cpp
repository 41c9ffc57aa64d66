#include "cli/import_command.h"

#include <filesystem>
#include <string>
#include <string_view>

#include "cli/session.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "platform/win/profile.h"
#include "settings/settings_file.h"

namespace sheetwise::cli {

namespace fs = std::filesystem;

namespace {

// Whether the settings file gives ImportSettings a value; without one the shortcut reads every
// worksheet, as a workbook the export wrote holds one per block name.
bool SetsImportSheets(const fs::path& file) {
  wchar_t value[64] = L"";
  GetPrivateProfileStringW(L"Import", L"ImportSettings", L"", value, 64, file.wstring().c_str());
  return value[0] != L'\0';
}

}  // namespace

int RunImportCommand(int argc, char** argv, const char* application, std::FILE* out,
                     std::FILE* err) {
  fs::path drawing, book, output, settings_file;
  std::wstring sheet;
  bool dry_run = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "-o" && has_value) {
      output = argv[++i];
    } else if (arg == "--sheet" && has_value) {
      sheet = Utf8ToWide(argv[++i]);
    } else if (arg == "--settings" && has_value) {
      settings_file = argv[++i];
    } else if (arg == "--dry-run") {
      dry_run = true;
    } else if (!arg.empty() && arg[0] != '-' && drawing.empty()) {
      drawing = argv[i];
    } else if (!arg.empty() && arg[0] != '-' && book.empty()) {
      book = argv[i];
    } else {
      std::fprintf(err, "sheetwise import: unexpected argument: %s\n%s", argv[i], kImportUsage);
      return 2;
    }
  }
  if (drawing.empty() || book.empty()) {
    std::fprintf(err, "sheetwise import: %s\n%s",
                 drawing.empty() ? "which drawing?" : "which workbook?", kImportUsage);
    return 2;
  }
  for (const fs::path& file : {drawing, book}) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
      std::fprintf(err, "sheetwise import: %s: no such file\n", file.c_str());
      return 1;
    }
  }
  if (!fs::exists(application)) {
    std::fprintf(err, "sheetwise import: the application library %s is missing\n", application);
    return 1;
  }
  int sheets = kImportAllSheets;
  if (!settings_file.empty()) {
    const fs::path file = fs::absolute(settings_file);
    std::string error;
    if (!ApplySettingsFileOverlay(file.wstring(), &error)) {
      std::fprintf(err, "sheetwise import: %s\n", error.c_str());
      return 1;
    }
    if (SetsImportSheets(file)) sheets = kImportSheetsAsSettings;
  }
  const std::wstring target = output.empty() ? std::wstring() : fs::absolute(output).wstring();

  SessionOptions options;
  options.drawing = drawing;
  options.workbook = fs::absolute(book);
  options.apps.push_back(application);
  options.quiet = true;
  options.shortcut = [&]() {
    HMODULE module =
        GetModuleHandleW(Utf8ToWide(fs::path(application).filename().string()).c_str());
    auto run = reinterpret_cast<ImportShortcut>(GetProcAddress(module, SW_IMPORT_SHORTCUT));
    if (run == nullptr) {
      std::fprintf(stderr, "sheetwise import: the application library has no import\n");
      return 1;
    }
    return run(sheet.c_str(), sheets, dry_run ? 1 : 0, target.c_str());
  };
  const int status = RunSession(options);
  std::fflush(stdout);
  std::fflush(out);
  return status;
}

}  // namespace sheetwise::cli
