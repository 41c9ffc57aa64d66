#include "cli/link_command.h"

#include <filesystem>
#include <string>

#include "cli/session.h"
#include "platform/host/docman.h"
#include "platform/win/codepage.h"
#include "platform/win/file_version.h"
#include "platform/win/module.h"

namespace sheetwise::cli {

namespace fs = std::filesystem;

using win::FileVersion;

int RunLinkCommand(int argc, char** argv, const char* application, std::FILE* out, std::FILE* err) {
  if (argc != 2) {
    std::fputs(kLinkUsage, err);
    return 2;
  }
  const fs::path drawing = fs::absolute(argv[0]);
  const fs::path book = fs::absolute(argv[1]);
  for (const fs::path& file : {drawing, book}) {
    if (!fs::is_regular_file(file)) {
      std::fprintf(err, "sheetwise link: %s: no such file\n", file.c_str());
      return 1;
    }
  }
  fs::path target = drawing;
  FileVersion known = FileVersion::Of(drawing);
  bool save_failed = false;

  SessionOptions options;
  options.drawing = drawing;
  options.workbook = book;
  options.apps.push_back(application);
  options.quiet = true;
  options.serve_until_interrupted = true;
  options.shortcut = [application, &drawing, &book, out]() {
    HMODULE module =
        GetModuleHandleW(Utf8ToWide(fs::path(application).filename().string()).c_str());
    auto connect = reinterpret_cast<LinkShortcut>(GetProcAddress(module, SW_LINK_SHORTCUT));
    if (connect == nullptr || connect() != 0) {
      std::fprintf(stderr, "sheetwise link: the live link could not be started\n");
      return 1;
    }
    std::fprintf(out,
                 "Linked %s with %s: edits of the workbook go into the drawing.\n"
                 "Press Ctrl-C to stop.\n",
                 drawing.filename().c_str(), book.filename().c_str());
    std::fflush(out);
    return 0;
  };
  // After each drain the drawing is saved, unless another program saved it meanwhile.
  options.after_command = [&]() {
    AcApDocument* doc = acDocManagerPtr()->curDocument();
    if (doc == nullptr || !doc->database()->isModified()) return;
    if (target == drawing && !(FileVersion::Of(drawing) == known)) {
      target = fs::path(drawing).replace_extension(".linked.dxf");
      std::fprintf(out,
                   "%s was changed by another program; the linked drawing is saved as %s "
                   "instead.\n",
                   drawing.filename().c_str(), target.filename().c_str());
      std::fflush(out);
    }
    if (doc->database()->saveAs(target.wstring().c_str()) != Acad::eOk) {
      std::fprintf(err, "sheetwise link: %s\n",
                   WideToUtf8(doc->database()->lastErrorText()).c_str());
      save_failed = true;
      return;
    }
    if (target == drawing) known = FileVersion::Of(drawing);
    std::fflush(stdout);
  };
  const int status = RunSession(options);
  std::fflush(stdout);
  if (status == 0) std::fprintf(out, "Link stopped.\n");
  return status != 0 ? status : (save_failed ? 1 : 0);
}

}  // namespace sheetwise::cli
