#include "tests/export/export_test_support.h"

#include <unistd.h>

#include <sstream>

#include "drawing/blockrefs.h"
#include "drawing/layerfilter.h"
#include "export/worksheetwriter.h"
#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/host/docman.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "platform/win/resource.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace export_test {

namespace {

fs::path Here() {
  return fs::path(__FILE__).parent_path();
}

std::string Quoted(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Splits at tabs and undoes the escapes of the scripts.
std::vector<std::wstring> Fields(const std::wstring& line) {
  std::vector<std::wstring> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const wchar_t c = line[i];
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

// The lines of a script's output, split into fields.
std::vector<std::vector<std::wstring>> RunScript(const std::string& script,
                                                 const std::vector<fs::path>& files) {
  std::string command = "/usr/bin/python3 " + Quoted(Here() / script);
  for (const fs::path& f : files) command += " " + Quoted(f);
  std::string text;
  std::vector<std::vector<std::wstring>> out;
  if (dxf_test::Run(command + " 2>/dev/null", &text) != 0) return out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) out.push_back(Fields(Widen(line)));
  return out;
}

double Number(const std::wstring& text) {
  return std::stod(Narrow(text));
}

}  // namespace

std::wstring Widen(const std::string& utf8) {
  return Utf8ToWide(utf8);
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

const Cell* Sheet::At(int row, int column) const {
  auto found = cells.find({row, column});
  return found != cells.end() ? &found->second : nullptr;
}

std::wstring Sheet::Text(int row, int column) const {
  const Cell* cell = At(row, column);
  return cell != nullptr ? cell->value : std::wstring();
}

std::vector<std::wstring> Sheet::Row(int row) const {
  int last = 0;
  for (const auto& [at, cell] : cells)
    if (at.first == row && !cell.value.empty()) last = std::max(last, at.second);
  std::vector<std::wstring> out;
  for (int column = 1; column <= last; ++column) out.push_back(Text(row, column));
  return out;
}

int Sheet::LastRow() const {
  int last = 0;
  for (const auto& [at, cell] : cells) last = std::max(last, at.first);
  return last;
}

const Sheet* Book::Find(const std::wstring& name) const {
  for (const Sheet& s : sheets)
    if (s.name == name) return &s;
  return nullptr;
}

const Sheet* Book::Active() const {
  for (const Sheet& s : sheets)
    if (s.active) return &s;
  return nullptr;
}

bool HaveReaders() {
  return dxf_test::Run("/usr/bin/python3 -c 'import ezdxf, openpyxl' >/dev/null 2>&1") == 0;
}

std::map<std::string, Book> ReadBooks(const std::vector<fs::path>& files) {
  std::map<std::string, Book> out;
  Book* book = nullptr;
  for (const std::vector<std::wstring>& f : RunScript("sheet_dump.py", files)) {
    if (f[0] == L"BOOK" && f.size() >= 2) {
      book = &out[Narrow(f[1])];
    } else if (f[0] == L"SHEET" && f.size() >= 3 && book != nullptr) {
      book->sheets.push_back(Sheet{f[1], f[2] == L"1", {}, {}});
    } else if (f[0] == L"CELL" && f.size() >= 8 && book != nullptr && !book->sheets.empty()) {
      Cell cell{Narrow(f[3]), f[4], f[5], f[6] == L"1", f[7]};
      book->sheets.back().cells[{std::stoi(Narrow(f[1])), std::stoi(Narrow(f[2]))}] = cell;
    } else if (f[0] == L"WIDTH" && f.size() >= 3 && book != nullptr && !book->sheets.empty()) {
      book->sheets.back().widths[Narrow(f[1])] = Number(f[2]);
    }
  }
  return out;
}

std::map<std::string, DrawingRefs> EzdxfRefs(const std::vector<fs::path>& files) {
  std::map<std::string, DrawingRefs> out;
  DrawingRefs* drawing = nullptr;
  for (const std::vector<std::wstring>& f : RunScript("ezdxf_refs.py", files)) {
    if (f[0] == L"FILE" && f.size() >= 2) {
      drawing = &out[Narrow(f[1])];
    } else if (f[0] == L"UNITS" && f.size() >= 6 && drawing != nullptr) {
      drawing->lunits = std::stoi(Narrow(f[1]));
      drawing->luprec = std::stoi(Narrow(f[2]));
      drawing->aunits = std::stoi(Narrow(f[3]));
      drawing->auprec = std::stoi(Narrow(f[4]));
      drawing->dimzin = std::stoi(Narrow(f[5]));
    } else if (f[0] == L"REF" && f.size() >= 13 && drawing != nullptr) {
      drawing->refs.push_back(Ref{f[1], f[2], f[3], Number(f[4]), Number(f[5]), Number(f[6]),
                                  Number(f[7]), Number(f[8]), Number(f[9]), Number(f[10]), f[11],
                                  f[12]});
    }
  }
  return out;
}

bool MakeOptionsDrawing(const fs::path& out) {
  return dxf_test::Run("/usr/bin/python3 " + Quoted(Here() / "ezdxf_refs.py") + " make-options " +
                       Quoted(out) + " >/dev/null 2>&1") == 0;
}

void ExportTest::SetUp() {
  dir_ =
      fs::temp_directory_path() / ("sw_export_" + std::to_string(::getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  app_.m_hResource = LoadLibraryW(Widen(SW_VANTARES).c_str());
  ASSERT_NE(app_.m_hResource, nullptr) << SW_VANTARES;
  boxes_ = std::make_shared<BoxRecorder>();
  previous_presenter_ = SetMessageBoxPresenter(boxes_);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ASSERT_TRUE(SUCCEEDED(sheetwise::calc::RegisterApplicationClass()));
  ASSERT_NE(sheetwise::calc::Application::Start(), nullptr);
  ASSERT_EQ(AttachExcel(excel_, "Excel.Application"), S_OK);
  currentRow = 1;
  LayerFilterOn = false;
  LayerFilterNames.clear();
  ClearSelection();
}

void ExportTest::TearDown() {
  excel_ = nullptr;
  sheetwise::calc::RevokeApplicationClass();
  CoUninitialize();
  SetMessageBoxPresenter(previous_presenter_);
  if (app_.m_hResource != nullptr) FreeLibrary(app_.m_hResource);
  LayerFilterOn = false;
  LayerFilterNames.clear();
  ClearSelection();
  std::error_code ec;
  if (!HasFailure()) fs::remove_all(dir_, ec);
}

Excel::_WorkbookPtr ExportTest::NewWorkbook() {
  IDispatchPtr books = excel_->GetWorkbooks();
  return Excel::_WorkbookPtr(Excel::Workbooks(books).Add());
}

fs::path ExportTest::SaveActive(const std::string& name) {
  const fs::path path = dir_ / name;
  sheetwise::calc::Application* app = sheetwise::calc::Application::Running();
  EXPECT_NE(app, nullptr);
  if (app == nullptr) return path;
  const _bstr_t active = Excel::_WorkbookPtr(excel_->GetActiveWorkbook())->GetName();
  const auto books = app->Workbooks();
  for (std::size_t i = 0; i < books.size(); ++i) {
    if (books[i].name != static_cast<const wchar_t*>(active)) continue;
    std::string error;
    EXPECT_TRUE(app->SaveWorkbook(i, path, &error)) << error;
    return path;
  }
  ADD_FAILURE() << "no open workbook is active";
  return path;
}

std::wstring ExportTest::Text(unsigned id) const {
  const wchar_t* text = nullptr;
  const int n = LoadStringW(app_.m_hResource, id, reinterpret_cast<LPWSTR>(&text), 0);
  return n > 0 ? std::wstring(text, static_cast<std::size_t>(n)) : std::wstring();
}

}  // namespace export_test
