// What the sheetwise executable's shortcuts call in the application: the export of named blocks
// with a summary, inside the VANTA command's error guard.
#include <cstdio>
#include <string>
#include <vector>

#include "app/vantaapp.h"
#include "cmd/commands.h"
#include "cmd/operations.h"
#include "drawing/blocknames.h"
#include "drawing/blockrefs.h"
#include "export/driver.h"
#include "export/worksheetwriter.h"
#include "import/importchange.h"
#include "platform/host/editor.h"
#include "platform/win/codepage.h"
#include "platform/win/locale.h"

extern "C" __attribute__((visibility("default"))) int sheetwise_export(const wchar_t* const* names,
                                                                       int count) {
  int status = 1;
  RunGuarded([&] {
    ClearSelection();
    sheetwise::SettingsInfo settings;
    sheetwise::LoadSettings(settings);
    BlockNameMap map;
    if (!CollectBlockNames(map)) {
      std::fprintf(stderr, "sheetwise export: the drawing's blocks cannot be read\n");
      return false;
    }
    std::vector<std::wstring> chosen;
    if (count == 0) {
      // As the name dialog preselects them: every named block with attribute definitions.
      for (const auto& entry : map)
        if (entry.has_attributes) chosen.push_back(entry.name);
    } else {
      for (int i = 0; i < count; ++i) {
        // The drawing's own spelling names the worksheet and fills the block-name column.
        const std::wstring wanted = FoldCase(names[i]);
        const std::wstring* found = nullptr;
        for (const auto& entry : map)
          if (FoldCase(entry.name) == wanted) {
            found = &entry.name;
            break;
          }
        if (found == nullptr) {
          std::fprintf(stderr, "sheetwise export: the drawing has no block named \"%s\"\n",
                       WideToUtf8(names[i]).c_str());
          continue;
        }
        chosen.push_back(*found);
      }
      if (chosen.empty()) return false;
    }
    if (chosen.empty()) {
      std::printf("The drawing has no blocks with attributes to export.\n");
      status = 0;
      return true;
    }
    ExportSummary summary;
    const std::size_t renamed_before = renamedSheets.size();
    if (!ExportNames(chosen, settings, nullptr, &summary)) return false;
    std::fflush(stdout);
    acutPrintf(L"Exported %d block name%ls: %d reference%ls in %d worksheet rows.\n", summary.names,
               summary.names == 1 ? L"" : L"s", summary.references,
               summary.references == 1 ? L"" : L"s", summary.rows);
    for (std::size_t i = renamed_before; i < renamedSheets.size(); ++i) {
      acutPrintf(L"Not under its own name: \"%ls\" is on worksheet \"%ls\".\n",
                 renamedSheets[i].first.c_str(), renamedSheets[i].second.c_str());
    }
    if (summary.failed_rows > 0) {
      acutPrintf(L"%d row%ls could not be written.\n", summary.failed_rows,
                 summary.failed_rows == 1 ? L"" : L"s");
    }
    status = summary.failed_rows > 0 ? 1 : 0;
    return true;
  });
  return status;
}

extern "C" __attribute__((visibility("default"))) int sheetwise_link_connect() {
  g_reportChanges = true;
  return RunGuarded(&ConnectOperation) ? 0 : 1;
}
