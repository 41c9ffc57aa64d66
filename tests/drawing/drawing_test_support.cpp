#include "tests/drawing/drawing_test_support.h"

#include <sstream>

#include "platform/host/dbapserv.h"
#include "platform/host/selection.h"
#include "platform/win/codepage.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace drawing_test {

namespace fs = std::filesystem;

namespace {

fs::path ViewScript() {
  return fs::path(__FILE__).parent_path() / "ezdxf_view.py";
}

fs::path GeneratorScript() {
  return fs::path(SW_SHARED_DIR) / "tools" / "gen_drawing.py";
}

std::string Quoted(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// Splits at tabs and undoes the escapes of ezdxf_view.py.
std::vector<std::wstring> Fields(const std::wstring& line) {
  std::vector<std::wstring> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    wchar_t c = line[i];
    if (c == L'\t') {
      fields.emplace_back();
    } else if (c == L'\\' && i + 1 < line.size()) {
      const wchar_t next = line[++i];
      fields.back() += next == L't' ? L'\t' : next == L'n' ? L'\n' : next;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

WorkingDrawing::WorkingDrawing(const fs::path& path) {
  ok_ = db_.dxfIn(path.wstring().c_str()) == Acad::eOk;
  acdbHostApplicationServices()->setWorkingDatabase(&db_);
}

WorkingDrawing::~WorkingDrawing() {
  sheetwise::host::SetPickFirst({});
  sheetwise::host::ForgetDatabase(&db_);
  acdbHostApplicationServices()->setWorkingDatabase(nullptr);
}

std::string WorkingDrawing::error() const {
  return fs::path(db_.lastErrorText()).string();
}

AcDbObjectId WorkingDrawing::Id(const std::string& handle) {
  AcDbObjectId id;
  AcDbHandle h;
  if (!AcDbHandle::fromText(Widen(handle), h)) return id;
  if (db_.getAcDbObjectId(id, false, h) != Acad::eOk) id.setNull();
  return id;
}

ScriptedInput::ScriptedInput(std::vector<std::wstring> lines) : lines_(lines.begin(), lines.end()) {
  sheetwise::host::SetInput(this);
  sheetwise::host::SetOutput([this](std::wstring_view text) { output += text; });
}

ScriptedInput::~ScriptedInput() {
  sheetwise::host::SetInput(nullptr);
  sheetwise::host::SetOutput({});
}

std::optional<std::wstring> ScriptedInput::ReadLine(const std::wstring&) {
  if (lines_.empty()) return std::nullopt;
  std::wstring line = lines_.front();
  lines_.pop_front();
  return line;
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

bool HaveGenerator() {
  std::error_code ec;
  return fs::exists(GeneratorScript(), ec) && fs::exists("/usr/bin/python3", ec);
}

bool Generate(const fs::path& out, const std::string& arguments) {
  return dxf_test::Run("/usr/bin/python3 " + Quoted(GeneratorScript()) + " " + Quoted(out) + " " +
                       arguments + " >/dev/null") == 0;
}

std::map<std::string, Rows> EzdxfView(const std::string& mode, const std::vector<fs::path>& files) {
  std::map<std::string, Rows> out;
  std::string command = "/usr/bin/python3 " + Quoted(ViewScript()) + " " + mode;
  for (const fs::path& f : files) command += " " + Quoted(f);
  std::string text;
  if (dxf_test::Run(command, &text) != 0) return out;
  std::istringstream lines(text);
  std::string line;
  Rows* current = nullptr;
  while (std::getline(lines, line)) {
    if (line.starts_with("FILE\t")) {
      current = &out[line.substr(5)];
      continue;
    }
    if (current != nullptr) current->push_back(Fields(Widen(line)));
  }
  return out;
}

bool MakeEdgeCaseDrawing(const fs::path& out) {
  return dxf_test::Run("/usr/bin/python3 " + Quoted(ViewScript()) + " edge-cases " + Quoted(out) +
                       " >/dev/null 2>&1") == 0;
}

std::vector<fs::path> RealDrawings() {
  std::vector<fs::path> files = dxf_test::DxfFiles(dxf_test::CorpusDir());
  for (const fs::path& f : dxf_test::DxfFiles(dxf_test::SamplesDir())) files.push_back(f);
  return files;
}

}  // namespace drawing_test
