// The spreadsheet application: the in-process object registered as "Excel.Application"
// ({00024500-0000-0000-C000-000000000046}) that answers the members the program calls by
// dispatch id, over workbooks held as platform/xlsx Books. It stands in for Excel's automation
// server: _Application, Workbooks, _Workbook, Worksheets, _Worksheet (and chart sheets, which
// answer no _Worksheet), Range, Font and Comment, with the AppEvents connection point whose
// SheetChange fires for every cell whose value changes, by a call or from outside (a workbook
// file saved by another program is read again and its changed cells reported).
//
// Left out: everything the program does not call (formulas are not evaluated, no windows,
// charts' content, printing, Close/Save members: the host decides when workbooks are saved,
// through the C++ interface below), Range.Value of several cells at once (an array), and
// currency values (VT_CY: currency cells answer VT_R8). docs/spreadsheet.md lists the choices
// made where Excel's behaviour is not the program's concern.
//
// Threads: the application lives in the apartment of the thread that registered the class (the
// host's main thread); other apartments reach it through proxies. Nothing here is locked.
//
//   calc::RegisterApplicationClass();             // once, on the main thread, in an apartment
//   IUnknown* unk; CoCreateInstance(CLSID_ExcelApplication, ..., IID_IUnknown, (void**)&unk);
//   OleRun(unk);                                  // now GetActiveObject finds it
//   calc::Application* app = calc::Application::Running();
//   app->OpenWorkbook("book.xlsx", &error);       // the host's -w
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/comtypes.h"
#include "platform/xlsx/book.h"

namespace sheetwise::calc {

/// Excel's class and interface identifiers, as the program queries them.
inline constexpr CLSID CLSID_ExcelApplication = {
    0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ExcelApplication = {
    0x000208D5, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ExcelWorkbook = {
    0x000208DA, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ExcelWorksheet = {
    0x000208D8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ExcelWorksheets = {
    0x000208B1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ExcelRange = {
    0x00020846, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID DIID_AppEvents = {
    0x00024413, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// AppEvents' SheetChange(Sh, Target).
inline constexpr DISPID kDispidSheetChange = 0x61C;

/// The HRESULT Excel's automation errors carry (the "Application-defined or object-defined
/// error" family).
inline constexpr HRESULT kExcelError = static_cast<HRESULT>(0x800A03ECu);

/// The source named in this application's exception records.
inline constexpr const wchar_t* kErrorSource = L"Sheetwise spreadsheet";

/// Registers the class factory of "Excel.Application" for the calling thread's apartment (the
/// ProgID in the settings store's in-memory overlay, so nothing is written to the user's
/// store), and the proxies of the spreadsheet interfaces for other apartments. S_OK, or S_FALSE
/// when already registered; CO_E_NOTINITIALIZED outside an apartment.
HRESULT RegisterApplicationClass();
/// Revokes the class factory and the running application (if any), which then ends when its
/// last reference goes.
void RevokeApplicationClass();

struct AppState;
struct BookState;

/// The C++ face of the running application, for the host.
class Application {
 public:
  /// The running application (after OleRun, or Start), or null.
  static Application* Running();
  /// The running application, started (and registered as running) when there is none.
  /// Needs RegisterApplicationClass first.
  static Application* Start();

  /// Opens a workbook file as an open workbook (named after its file) and makes it active. An
  /// already open file is only activated. Errors name the file and part; nothing opens then.
  [[nodiscard]] bool OpenWorkbook(const std::filesystem::path& path, std::string* error);

  struct WorkbookInfo {
    std::wstring name;           ///< "Book1", "book.xlsx"
    std::filesystem::path path;  ///< empty for a workbook never saved
    bool modified = false;       ///< changed since opened or saved
  };
  std::vector<WorkbookInfo> Workbooks() const;
  /// Saves open workbook `index` (0-based) to `path` (its own file when empty), atomically with
  /// the old file kept as .bak; a workbook saved to a new path takes the file's name.
  [[nodiscard]] bool SaveWorkbook(std::size_t index, const std::filesystem::path& path,
                                  std::string* error);

  /// Starts watching the folders of open workbook files (inotify). Returns a file descriptor
  /// that becomes readable when a file there changed, for the host's wait, or -1; the host then
  /// calls PollFileChanges on this thread.
  int WatchFiles();
  /// Reads again every watched workbook whose file changed since it was read or saved by this
  /// application, fires SheetChange for every cell whose value changed, and returns how many
  /// cells changed. A file that cannot be read is left as it was in memory (the error goes to
  /// `errors`, one line per file). Main thread.
  std::size_t PollFileChanges(std::vector<std::string>* errors = nullptr);

  AppState& state() const { return *state_; }

  explicit Application(AppState* state) : state_(state) {}

 private:
  AppState* state_;
};

}  // namespace sheetwise::calc
