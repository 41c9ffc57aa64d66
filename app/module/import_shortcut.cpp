// The module's entry for `sheetwise import`: the Import keyword's work on the worksheets the
// command line chose, its report printed, and the drawing saved through the host.
#include <cstdio>
#include <string>

#include "cli/import_command.h"
#include "cmd/commands.h"
#include "import/import.h"
#include "platform/host/docman.h"
#include "platform/host/editor.h"
#include "platform/win/codepage.h"
#include "settings/settings.h"

extern "C" __attribute__((visibility("default"))) int sheetwise_import(const wchar_t* sheet,
                                                                       int sheets, int dry_run,
                                                                       const wchar_t* output) {
  ImportReport report;
  RunGuarded([&] {
    sheetwise::SettingsInfo settings;
    sheetwise::LoadSettings(settings);
    if (sheets == sheetwise::cli::kImportAllSheets || sheets == sheetwise::cli::kImportActiveSheet)
      settings.Import.ImportSettings = sheets;
    ImportOptions options;
    options.dry_run = dry_run != 0;
    if (sheet != nullptr) options.sheet = sheet;
    return RunImport(settings, &report, options);
  });
  // A spreadsheet error or unusable settings ended the import: its message is out, and the
  // drawing file stays as it was, whatever rows were applied in memory.
  if (!report.completed) {
    std::fprintf(stderr, "sheetwise import: the import did not complete; nothing was written\n");
    return 1;
  }
  acutPrintf(L"%ls", report.Text().c_str());
  if (report.no_spreadsheet) return 1;
  if (dry_run != 0) return 0;
  AcApDocument* doc = acDocManagerPtr()->curDocument();
  if (doc == nullptr) {
    std::fprintf(stderr, "sheetwise import: no drawing is open\n");
    return 1;
  }
  AcDbDatabase* db = doc->database();
  const bool to_other = output != nullptr && *output != L'\0';
  if (!to_other && !db->isModified()) {
    acutPrintf(L"Nothing changed: the drawing was not written.\n");
    return 0;
  }
  const std::wstring target = to_other ? output : doc->fileName();
  if (db->saveAs(target.c_str()) != Acad::eOk) {
    std::fprintf(stderr, "sheetwise import: %s\n", WideToUtf8(db->lastErrorText()).c_str());
    return 1;
  }
  acutPrintf(L"Drawing written: %ls\n", target.c_str());
  return 0;
}
