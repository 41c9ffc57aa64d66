// The wrappers, AttachExcel and CreateExcel against the real spreadsheet application
// (platform/calc), as the export and import drive it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "excel/comerror.h"
#include "excel/excel.h"
#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/com/rot.h"
#include "platform/xlsx/book.h"
#include "tests/excel/recorder_support.h"

namespace {

namespace fs = std::filesystem;
using namespace Excel;

constexpr const char* kProgId = "Excel.Application";
constexpr HRESULT kExcelError = static_cast<HRESULT>(0x800A03ECu);

// The _com_error that `call` raised, or null.
std::unique_ptr<_com_error> Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const _com_error& e) {
    return std::make_unique<_com_error>(e);
  }
  return nullptr;
}

bool SameObject(IDispatch* a, IDispatch* b) {
  IUnknownPtr ua(a), ub(b);
  return ua.GetInterfacePtr() == ub.GetInterfacePtr();
}

class ExcelApp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_TRUE(SUCCEEDED(sheetwise::calc::RegisterApplicationClass()));
  }
  void TearDown() override {
    sheetwise::calc::RevokeApplicationClass();
    CoUninitialize();
  }
};

TEST_F(ExcelApp, AttachFindsOnlyARunningApplication) {
  // The pointer is emptied even when it held another object.
  sw::test::Recorder other;
  other.interfaces = {sheetwise::calc::IID_ExcelApplication};
  _ApplicationPtr app = static_cast<IDispatch*>(&other);
  ASSERT_TRUE(app);
  EXPECT_EQ(AttachExcel(app, kProgId), MK_E_UNAVAILABLE) << "GetActiveObject's answer";
  EXPECT_FALSE(app);
  EXPECT_EQ(other.refs(), 1u);
  EXPECT_EQ(AttachExcel(app, "No.Such.Application"), CO_E_CLASSSTRING);
  EXPECT_EQ(AttachExcel(app, "{00024500-0000-0000-C000"), CO_E_CLASSSTRING);
  EXPECT_EQ(AttachExcel(app, nullptr), E_INVALIDARG);
  EXPECT_FALSE(app);

  ASSERT_NE(sheetwise::calc::Application::Start(), nullptr);
  EXPECT_EQ(AttachExcel(app, kProgId), S_OK);
  ASSERT_TRUE(app);
  _ApplicationPtr by_clsid;
  EXPECT_EQ(AttachExcel(by_clsid, "{00024500-0000-0000-C000-000000000046}"), S_OK);
  EXPECT_TRUE(SameObject(app, by_clsid));
  EXPECT_EQ(app->GetActiveWorkbook(), nullptr) << "no workbook open: nothing, and no error";
}

TEST_F(ExcelApp, CreateRunsTheApplicationForAServerContextOnly) {
  _ApplicationPtr app;
  // In-process only: created for _Application directly, without being run.
  EXPECT_EQ(CreateExcel(app, kProgId, nullptr, CLSCTX_INPROC_SERVER), S_OK);
  ASSERT_TRUE(app);
  _ApplicationPtr attached;
  EXPECT_EQ(AttachExcel(attached, kProgId), MK_E_UNAVAILABLE);
  app = nullptr;

  // As the commands call it: run, so that later operations attach to it.
  EXPECT_EQ(CreateExcel(app, kProgId), S_OK);
  ASSERT_TRUE(app);
  EXPECT_EQ(AttachExcel(attached, kProgId), S_OK);
  EXPECT_TRUE(SameObject(app, attached));

  _ApplicationPtr none;
  EXPECT_EQ(CreateExcel(none, "No.Such.Application"), CO_E_CLASSSTRING);
  EXPECT_FALSE(none);
  EXPECT_EQ(CreateExcel(none, "{00000000-0000-0000-0000-000000000001}"), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(none);
}

TEST_F(ExcelApp, WritesAndReadsAWorkbookThroughTheWrappers) {
  _ApplicationPtr app;
  ASSERT_EQ(CreateExcel(app, kProgId), S_OK);
  app->PutVisible(VARIANT_TRUE);
  app->PutInteractive(VARIANT_FALSE);
  VARIANT_BOOL visible = 0;
  InvokeMember(app, 0x22E, DISPATCH_PROPERTYGET, VT_BOOL, &visible, nullptr);
  EXPECT_EQ(visible, VARIANT_TRUE);
  EXPECT_EQ(app->GetActiveSheet(), nullptr);

  // A new workbook through the collection's IDispatch.
  IDispatchPtr books = app->GetWorkbooks();
  IDispatchPtr book = Workbooks(books).Add();
  EXPECT_EQ(Workbooks(books).GetCount(), 1);
  EXPECT_EQ(_Workbook(Workbooks(books).GetItem(_variant_t(LONG{1}))).GetName(), L"Book1");
  EXPECT_EQ(_Workbook(app->GetActiveWorkbook()).GetName(), L"Book1");

  // A worksheet added and renamed, found again by name through the typed collection.
  IDispatchPtr sheets = _Workbook(book).GetWorksheets();
  IDispatchPtr added = Worksheets(sheets).Add();
  _WorksheetPtr sheet = app->GetActiveSheet();
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->GetName(), L"Sheet2");
  EXPECT_EQ(_Worksheet(added).GetName(), L"Sheet2");
  sheet->PutName(L"Pumps");
  WorksheetsPtr typed = _WorkbookPtr(sheet->GetParent())->GetWorksheets();
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->GetCount(), 2);
  _WorksheetPtr again = typed->GetItem(_variant_t(L"PUMPS"));
  EXPECT_EQ(again->GetName(), L"Pumps");
  // A name the application refuses: its exception, with its source and reason.
  std::unique_ptr<_com_error> refused = Raised([&] { sheet->PutName(L"a:b"); });
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->Error(), kExcelError);
  EXPECT_EQ(Source(*refused), _bstr_t(sheetwise::calc::kErrorSource));
  EXPECT_NE(std::wstring(static_cast<const wchar_t*>(Description(*refused))).find(L"character"),
            std::wstring::npos);
  EXPECT_EQ(sheet->GetName(), L"Pumps");

  // Cells as the writer takes them: Cells, then Item(row, column) with 16-bit indexes.
  IDispatchPtr cells = sheet->GetCells();
  RangePtr cell = Range(cells).GetItem(_variant_t(SHORT{2}), _variant_t(SHORT{3}));
  ASSERT_TRUE(cell);
  cell->PutValue(_variant_t(L"Pump 1"));
  EXPECT_EQ(_bstr_t(cell->GetValue()), L"Pump 1");
  EXPECT_EQ(cell->GetRow(), 2);
  EXPECT_EQ(cell->GetColumn(), 3);
  _WorksheetPtr owner = cell->GetWorksheet();
  EXPECT_EQ(owner->GetName(), L"Pumps");

  RangePtr number = sheet->GetRange(_variant_t(L"D2"));
  ASSERT_TRUE(number);
  number->PutNumberFormat(_variant_t(L"#,##0.00"));
  number->PutValue(_variant_t(1234.5));
  _variant_t shown = number->GetText();
  EXPECT_EQ(shown.vt, VT_BSTR);
  EXPECT_EQ(_bstr_t(shown), L"1,234.50");
  EXPECT_EQ(number->GetValue().vt, VT_R8);
  BSTR value_text = nullptr;
  InvokeMember(number, 0x6, DISPATCH_PROPERTYGET, VT_BSTR, &value_text, nullptr);
  EXPECT_EQ(_bstr_t(value_text, false), L"1234.5");

  // Comments: none, added, replaced, extended; a second one on the same cell is refused.
  EXPECT_EQ(cell->GetComment(), nullptr);
  IDispatchPtr comment = cell->AddComment(_variant_t(L"Pump data"));
  EXPECT_EQ(Comment(comment).Text(), L"Pump data");
  EXPECT_EQ(Comment(cell->GetComment()).Text(_variant_t(L"Valve")), L"Valve");
  EXPECT_EQ(Comment(comment).Text(_variant_t(L"Big "), _variant_t(LONG{1})), L"Big Valve");
  std::unique_ptr<_com_error> second = Raised([&] { cell->AddComment(); });
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Error(), kExcelError);

  // Bold header row, fitted columns.
  IDispatchPtr row = cell->GetEntireRow();
  Font(Range(row).GetFont()).PutBold(_variant_t(true));
  VARIANT_BOOL bold = 0;
  InvokeMember(cell->GetFont(), 0x60, DISPATCH_PROPERTYGET, VT_BOOL, &bold, nullptr);
  EXPECT_EQ(bold, VARIANT_TRUE);
  Range(sheet->GetColumns()).AutoFit();

  // What the calls did is in the workbook the application saves.
  const fs::path file =
      fs::temp_directory_path() / ("sw_excel_app_" + std::to_string(::getpid()) + ".xlsx");
  std::string error;
  ASSERT_TRUE(sheetwise::calc::Application::Running()->SaveWorkbook(0, file, &error)) << error;
  sheetwise::xlsx::BookResult read = sheetwise::xlsx::Book::Open(file);
  ASSERT_TRUE(read);
  const sheetwise::xlsx::Sheet* pumps = nullptr;
  for (std::size_t i = 0; i < read.book->sheet_count(); ++i) {
    if (read.book->sheet(i).name() == "Pumps") pumps = &read.book->sheet(i);
  }
  ASSERT_NE(pumps, nullptr);
  ASSERT_NE(pumps->Comment(2, 3), nullptr);
  EXPECT_EQ(pumps->Comment(2, 3)->text, "Big Valve");
  EXPECT_TRUE(read.book->Style(pumps->StyleOf(2, 3)).bold);
  fs::remove(file);
  fs::remove(file.string() + ".bak");
}

TEST_F(ExcelApp, AChartSheetEndsTheOperationWithEPointer) {
  const fs::path corpus =
      fs::path(SW_SHARED_DIR) / "corpus" / "xlsx" / "excel16_chartsheet_any_sheets.xlsx";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus file " << corpus;
  // The workbook as a user may have left it: saved with its chart sheet active.
  sheetwise::xlsx::BookResult read = sheetwise::xlsx::Book::Open(corpus);
  ASSERT_TRUE(read);
  std::size_t chart = 0;
  while (read.book->sheet(chart).kind() != sheetwise::xlsx::SheetKind::kChartsheet) ++chart;
  read.book->SetActiveSheet(chart);
  const fs::path copy =
      fs::temp_directory_path() / ("sw_excel_chart_" + std::to_string(::getpid()) + ".xlsx");
  ASSERT_FALSE(read.book->Save(copy).has_value());

  _ApplicationPtr app;
  ASSERT_EQ(CreateExcel(app, kProgId), S_OK);
  std::string error;
  ASSERT_TRUE(sheetwise::calc::Application::Running()->OpenWorkbook(copy, &error)) << error;
  IDispatchPtr active = app->GetActiveSheet();
  ASSERT_TRUE(active) << "the chart sheet is an object";
  _WorksheetPtr sheet = active;
  EXPECT_FALSE(sheet) << "but no worksheet: the query leaves the pointer null";
  std::unique_ptr<_com_error> raised = Raised([&] { sheet->GetCells(); });
  ASSERT_NE(raised, nullptr);
  EXPECT_EQ(raised->Error(), E_POINTER);
  // The worksheets collection holds the worksheets only.
  WorksheetsPtr sheets = _Workbook(app->GetActiveWorkbook()).GetWorksheets();
  EXPECT_EQ(sheets->GetCount(), 3);
  fs::remove(copy);
  fs::remove(copy.string() + ".bak");
}

}  // namespace
