// Helpers of the drawing tests: a DXF file as the host's working drawing, scripted editor
// input, drawings made by the shared generator, and what ezdxf sees of the same files.
#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/dbmain.h"
#include "platform/host/editor.h"

namespace drawing_test {

/// Loads a DXF file and makes it the working drawing until destroyed; `ok()` tells whether
/// the file loaded (`error()` says why not).
class WorkingDrawing {
 public:
  explicit WorkingDrawing(const std::filesystem::path& path);
  ~WorkingDrawing();
  WorkingDrawing(const WorkingDrawing&) = delete;
  WorkingDrawing& operator=(const WorkingDrawing&) = delete;
  bool ok() const { return ok_; }
  std::string error() const;
  AcDbDatabase& db() { return db_; }
  /// The id of the object with the hexadecimal handle `handle`; null when there is none.
  AcDbObjectId Id(const std::string& handle);

 private:
  AcDbDatabase db_{false, true};
  bool ok_ = false;
};

/// Answers the editor's prompts with `lines` (end of input after them) and records the output.
class ScriptedInput : public sheetwise::host::InputSource {
 public:
  explicit ScriptedInput(std::vector<std::wstring> lines);
  ~ScriptedInput() override;
  std::optional<std::wstring> ReadLine(const std::wstring& prompt) override;
  std::wstring output;

 private:
  std::deque<std::wstring> lines_;
};

std::wstring Widen(const std::string& utf8);

/// The gen_drawing.py of the shared folder, when it and /usr/bin/python3 are there.
bool HaveGenerator();
/// Runs gen_drawing.py with `arguments` writing `out`; false when it failed.
bool Generate(const std::filesystem::path& out, const std::string& arguments);

/// The output of ezdxf_view.py `mode` over `files`: per file (as given), its lines with the
/// texts unescaped into fields split at tabs.
using Rows = std::vector<std::vector<std::wstring>>;
std::map<std::string, Rows> EzdxfView(const std::string& mode,
                                      const std::vector<std::filesystem::path>& files);
/// Writes the attribute edge-case drawing (ezdxf_view.py edge-cases); false when it failed.
bool MakeEdgeCaseDrawing(const std::filesystem::path& out);

/// Every real drawing at hand: the corpus DXF files (when present) and the samples.
std::vector<std::filesystem::path> RealDrawings();

}  // namespace drawing_test
