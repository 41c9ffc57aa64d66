#include "cli/settings_command.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/codepage.h"
#include "platform/win/registry.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

namespace sheetwise::cli {
namespace {

namespace fs = std::filesystem;

// A path as the user typed it, relative to the working folder: the profile functions would
// otherwise look for a bare name in the settings folder.
std::wstring UserPath(const char* arg) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(fs::path(arg), ec);
  return Utf8ToWide(ec ? std::string(arg) : absolute.string());
}

// Says why the store could not be written; the store may have printed its own details already.
int StoreWriteFailed(std::FILE* err) {
  std::string damage;
  std::fprintf(err, "sheetwise: error: cannot write the settings store %s%s%s\n",
               SettingsStoreFile().c_str(),
               SettingsStoreCheck(&damage) != ERROR_SUCCESS ? ": " : "", damage.c_str());
  return 1;
}

// LoadSettings falls back to the defaults when the store is damaged; show and save must not
// pass those off as the user's settings. The store has printed where it is damaged.
bool StoreReadable(std::FILE* err) {
  std::string damage;
  if (SettingsStoreCheck(&damage) == ERROR_SUCCESS) return true;
  std::fprintf(err, "sheetwise: error: cannot read the settings store: %s\n", damage.c_str());
  return false;
}

int Show(std::FILE* out, std::FILE* err) {
  SettingsInfo settings;
  LoadSettings(settings);
  if (!StoreReadable(err)) return 1;
  std::fputs(SettingsFileText(settings).c_str(), out);
  return 0;
}

int Load(const char* arg, std::FILE* out, std::FILE* err) {
  const std::wstring path = UserPath(arg);
  const std::string shown = WideToUtf8(path);
  std::vector<SettingsFileIssue> issues;
  std::string error;
  if (!CheckSettingsFile(path, issues, &error)) {
    std::fprintf(err, "sheetwise: error: %s\n", error.c_str());
    return 1;
  }
  for (const SettingsFileIssue& issue : issues) {
    if (issue.line == 0) {
      std::fprintf(err, "%s: warning: %s\n", shown.c_str(), issue.message.c_str());
    } else {
      std::fprintf(err, "%s:%zu: warning: %s\n", shown.c_str(), issue.line, issue.message.c_str());
    }
  }
  SettingsInfo settings;
  LoadSettings(settings);
  if (!LoadSettingsFile(settings, path, &error)) {
    std::fprintf(err, "sheetwise: error: %s\n", error.c_str());
    return 1;
  }
  if (!SaveSettings(settings)) return StoreWriteFailed(err);
  std::fprintf(out, "Settings loaded from %s.\n", shown.c_str());
  return 0;
}

int Save(const char* arg, std::FILE* out, std::FILE* err) {
  const std::wstring path = UserPath(arg);
  SettingsInfo settings;
  LoadSettings(settings);
  if (!StoreReadable(err)) return 1;
  std::string error;
  if (!SaveSettingsFile(settings, path, &error)) {
    std::fprintf(err, "sheetwise: error: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(out, "Settings saved to %s.\n", WideToUtf8(path).c_str());
  return 0;
}

int Reset(std::FILE* out, std::FILE* err) {
  SettingsInfo settings;
  SetDefaults(settings);
  if (!SaveSettings(settings)) return StoreWriteFailed(err);
  std::fputs("Settings reset to their defaults.\n", out);
  return 0;
}

}  // namespace

int RunSettingsCommand(int argc, char** argv, std::FILE* out, std::FILE* err) {
  const std::string_view action = argc > 0 ? argv[0] : "";
  if ((action == "--help" || action == "-h") && argc == 1) {
    std::fputs(kSettingsUsage, out);
    return 0;
  }
  if (action == "show" && argc == 1) return Show(out, err);
  if (action == "reset" && argc == 1) return Reset(out, err);
  if (action == "load" && argc == 2) return Load(argv[1], out, err);
  if (action == "save" && argc == 2) return Save(argv[1], out, err);
  if (action.empty()) {
    std::fputs("sheetwise settings: what to do is missing\n", err);
  } else if (action == "show" || action == "reset" || action == "load" || action == "save") {
    std::fprintf(err, "sheetwise settings %s: %s\n", argv[0],
                 argc == 1 ? "the settings file is missing" : "too many arguments");
  } else {
    std::fprintf(err, "sheetwise settings: unknown action: %s\n", argv[0]);
  }
  std::fputs(kSettingsUsage, err);
  return 2;
}

}  // namespace sheetwise::cli
