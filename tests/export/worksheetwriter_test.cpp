// The worksheet layout as users get it: block references of a drawing exported into the real
// spreadsheet application under each option, the workbook saved and read back by openpyxl;
// the refused sheet names, the failing row, the blank-row search and the time-stamp line.
// Expected texts: the drawing's own units (LUNITS 2 / LUPREC 2, AUNITS 0 / AUPREC 1, DIMZIN 0)
// applied to the values ezdxf wrote, rounded as AutoCAD's rtos/angtos do.
#include "export/worksheetwriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "export/exportcore.h"
#include "platform/calc/application.h"
#include "res/resource_ids.h"
#include "tests/drawing/drawing_test_support.h"
#include "tests/export/export_test_support.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

namespace fs = std::filesystem;
using export_test::Book;
using export_test::ExportTest;
using export_test::Sheet;
using sheetwise::SettingsInfo;
using Rows = std::vector<std::vector<std::wstring>>;

class WorksheetWriter : public ExportTest {
 protected:
  void SetUp() override {
    ExportTest::SetUp();
    if (HasFatalFailure()) return;
    if (!export_test::HaveReaders()) GTEST_SKIP() << "/usr/bin/python3 lacks ezdxf or openpyxl";
    drawing_file_ = dir_ / "rooms.dxf";
    ASSERT_TRUE(export_test::MakeOptionsDrawing(drawing_file_));
    drawing_ = std::make_unique<drawing_test::WorkingDrawing>(drawing_file_);
    ASSERT_TRUE(drawing_->ok()) << drawing_->error();
    const export_test::DrawingRefs refs =
        export_test::EzdxfRefs({drawing_file_})[drawing_file_.string()];
    for (const export_test::Ref& ref : refs.refs) handles_[ref.block].push_back(ref.handle);
    ASSERT_EQ(handles_[L"ROOM"].size(), 3u);
  }
  void TearDown() override {
    drawing_.reset();
    ExportTest::TearDown();
  }

  // The texts of rows 1 to the sheet's last row.
  static Rows RowsOf(const Sheet& sheet) {
    Rows rows;
    for (int r = 1; r <= sheet.LastRow(); ++r) rows.push_back(sheet.Row(r));
    return rows;
  }

  fs::path drawing_file_;
  std::unique_ptr<drawing_test::WorkingDrawing> drawing_;
  std::map<std::wstring, std::vector<std::wstring>> handles_;  // block -> handles, file order
};

const std::vector<std::wstring> kRoom1 = {L"-100.50", L"20.00", L"-3.00", L"30.0",
                                          L"1.00",    L"1.00",  L"1.00",  L"A-Rooms"};
const std::vector<std::wstring> kRoom2 = {L"40.13", L"-7.25", L"0.00", L"0.0",
                                          L"-1.00", L"2.00",  L"1.00", L"B-Other"};
const std::vector<std::wstring> kRoom3 = {L"1.00", L"2.00", L"3.00", L"90.0",
                                          L"1.00", L"1.00", L"1.00", L"a-rooms"};

std::vector<std::wstring> Join(std::vector<std::wstring> a, const std::vector<std::wstring>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(WorksheetWriter, EachOptionShapesTheRows) {
  const std::vector<std::wstring> props = {L"X",       L"Y",       L"Z",       L"Rotation",
                                           L"Scale X", L"Scale Y", L"Scale Z", L"Layer"};
  struct Case {
    std::string name;
    std::function<void(SettingsInfo&)> set;
    std::wstring block;
    std::wstring sheet;  // the sheet the rows go to
    Rows rows;           // from row 1; an empty row is {}
  };
  const std::vector<Case> cases = {
      {"defaults",
       [](SettingsInfo&) {},
       L"ROOM",
       L"ROOM",
       {Join({L"Block name", L"NUMBER", L"area"}, props), Join({L"ROOM", L"007", L"12.5"}, kRoom1),
        Join({L"ROOM", L"101", L"=1+1"}, kRoom2), Join({L"ROOM", L"102", L"1/2"}, kRoom3)}},
      // Sorted by tag ignoring case ("area" first), the constant attribute with its default.
      {"sort-constant",
       [](SettingsInfo& s) {
         s.Sort = true;
         s.IncludeConstant = true;
       },
       L"ROOM",
       L"ROOM",
       {Join({L"Block name", L"area", L"KIND", L"NUMBER"}, props),
        Join({L"ROOM", L"12.5", L"office", L"007"}, kRoom1),
        Join({L"ROOM", L"=1+1", L"office", L"101"}, kRoom2),
        Join({L"ROOM", L"1/2", L"office", L"102"}, kRoom3)}},
      // Negative coordinates lose their sign; scale factors keep it.
      {"jtsk",
       [](SettingsInfo& s) {
         s.JTSK = true;
         s.Rotation = s.LayerNames = s.BlockNames = false;
       },
       L"ROOM",
       L"ROOM",
       {{L"NUMBER", L"area", L"X", L"Y", L"Z", L"Scale X", L"Scale Y", L"Scale Z"},
        {L"007", L"12.5", L"100.50", L"20.00", L"3.00", L"1.00", L"1.00", L"1.00"},
        {L"101", L"=1+1", L"40.13", L"7.25", L"0.00", L"-1.00", L"2.00", L"1.00"},
        {L"102", L"1/2", L"1.00", L"2.00", L"3.00", L"1.00", L"1.00", L"1.00"}}},
      // Without the block name, column 1 holds the first attribute; the layout column last.
      {"layout-no-blockname",
       [](SettingsInfo& s) {
         s.BlockNames = s.YCoord = s.ZCoord = s.Rotation = s.Scale = s.LayerNames = false;
         s.LayoutNames = true;
       },
       L"ROOM",
       L"ROOM",
       {{L"NUMBER", L"area", L"X", L"Layout"},
        {L"007", L"12.5", L"-100.50", L"Model"},
        {L"101", L"=1+1", L"40.13", L"Model"},
        {L"102", L"1/2", L"1.00", L"Model"}}},
      // Into the active sheet: no header row without AddHeader, but the prompt row; OddLine
      // puts an empty row above every data row.
      {"active-sheet-prompts-oddline",
       [](SettingsInfo& s) {
         s.WorksheetSettings = 1;
         s.ExportAttPrompts = true;
         s.OddLine = true;
         s.XCoord = s.YCoord = s.ZCoord = s.Rotation = s.Scale = s.LayerNames = false;
       },
       L"ROOM",
       L"Sheet1",
       {{L"", L"Room number", L"Area m2"},
        {},
        {L"ROOM", L"007", L"12.5"},
        {},
        {L"ROOM", L"101", L"=1+1"},
        {},
        {L"ROOM", L"102", L"1/2"}}},
      // A block without attributes, only its name: header and data row.
      {"bare",
       [](SettingsInfo& s) {
         s.XCoord = s.YCoord = s.ZCoord = s.Rotation = s.Scale = s.LayerNames = false;
       },
       L"BARE",
       L"BARE",
       {{L"Block name"}, {L"BARE"}}},
      // Nothing but the handle: the data row is its comment alone.
      {"handle-only",
       [](SettingsInfo& s) {
         s.WorksheetSettings = 1;
         s.BlockNames = s.XCoord = s.YCoord = s.ZCoord = s.Rotation = s.Scale = false;
         s.LayerNames = false;
       },
       L"BARE",
       L"Sheet1",
       {{}}},
  };

  std::vector<fs::path> files;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewWorkbook();
    SettingsInfo settings;
    c.set(settings);
    currentRow = 1;
    EXPECT_TRUE(ExportBlockName(c.block.c_str(), settings));
    EXPECT_EQ(currentRow, static_cast<int32_t>(c.rows.size()) + 1) << "one row per row written";
    files.push_back(SaveActive(c.name + ".xlsx"));
  }
  EXPECT_TRUE(boxes_->shown.empty());
  const std::map<std::string, Book> books = export_test::ReadBooks(files);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    auto book = books.find(files[i].string());
    ASSERT_NE(book, books.end());
    const Sheet* sheet = book->second.Find(c.sheet);
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->active);
    const bool new_sheet = c.sheet != L"Sheet1";
    EXPECT_EQ(book->second.sheets.size(), new_sheet ? 2u : 1u);
    EXPECT_EQ(RowsOf(*sheet), c.rows);

    // Data rows carry their reference's handle as the comment of column 1, in file order;
    // header cells of the property columns their labels; nothing else has a comment.
    const std::vector<std::wstring>& handles = handles_[c.block];
    std::size_t next = 0;
    const int header_rows = new_sheet ? 1 : 0;
    for (const auto& [at, cell] : sheet->cells) {
      if (at.first > header_rows && at.second == 1 && !cell.comment.empty()) {
        ASSERT_LT(next, handles.size());
        EXPECT_EQ(cell.comment, handles[next++]) << "row " << at.first;
      } else if (at.first == 1 && new_sheet) {
        const std::wstring& header = cell.value;
        std::wstring label;
        for (unsigned id = res::kHeaderX; id <= res::kHeaderLayout; id += 2)
          if (header == Text(id)) label = Text(id + 1);
        EXPECT_EQ(cell.comment, label) << "header " << export_test::Narrow(header);
        EXPECT_TRUE(cell.bold) << "header row bold";
      } else {
        EXPECT_EQ(cell.comment, L"") << "row " << at.first << " column " << at.second;
      }
      // A bold row keeps the text format of the cells already in it, as Excel does.
      if (!cell.value.empty()) {
        EXPECT_EQ(cell.format, L"@") << "AsText sets every written cell";
      }
      if (at.first > header_rows && !(c.name == "active-sheet-prompts-oddline" && at.first == 1)) {
        EXPECT_FALSE(cell.bold) << "data rows are not bold";
      }
    }
    EXPECT_EQ(next, handles.size()) << "one data row per reference";
    if (c.name == "active-sheet-prompts-oddline") {
      EXPECT_TRUE(sheet->At(1, 2)->bold) << "the prompt row is bold";
    }
    // Columns are fitted after every reference but a block name's first.
    EXPECT_EQ(sheet->widths.empty(), handles.size() < 2) << "column fit";
  }
}

TEST_F(WorksheetWriter, TextsConvertOnlyWithoutAsTextAndNoAutofitLeavesWidths) {
  NewWorkbook();
  SettingsInfo settings;
  settings.AsText = false;
  settings.NoAutofit = true;
  EXPECT_TRUE(ExportBlockName(L"ROOM", settings));
  const fs::path file = SaveActive("typed.xlsx");
  const Book book = export_test::ReadBooks({file})[file.string()];
  const Sheet* sheet = book.Find(L"ROOM");
  ASSERT_NE(sheet, nullptr);
  // As typed input: "007" and "12.5" become numbers, the coordinates too.
  EXPECT_EQ(sheet->At(2, 2)->kind, "num");
  EXPECT_EQ(sheet->Text(2, 2), L"7.0");
  EXPECT_EQ(sheet->Text(2, 3), L"12.5");
  EXPECT_EQ(sheet->Text(2, 4), L"-100.5");
  EXPECT_NE(sheet->At(2, 2)->format, L"@");
  EXPECT_EQ(sheet->At(2, 1)->comment, handles_[L"ROOM"][0]);
  EXPECT_TRUE(sheet->widths.empty()) << "NoAutofit: no column fit";
}

TEST_F(WorksheetWriter, SheetNamesTheSpreadsheetRefusesOrHoldsKeepItsOwnName) {
  Excel::_WorkbookPtr book = NewWorkbook();
  IDispatchPtr sheets = book->GetWorksheets();
  Excel::_WorksheetPtr first = Excel::Worksheets(sheets).GetItem(_variant_t(LONG{1}));
  first->PutName(L"Räume");

  struct Case {
    std::wstring name;
    bool renamed;
  };
  const std::vector<Case> cases = {
      {L"Pumps", true},
      {L"PUMPS", false},  // taken, in another letter case
      {L"RÄUME", false},  // taken, non-ASCII letters folded
      {L"a:b", false},    // refused characters
      {L"[1]", false},
      {L"x/y", false},
      {L"quest?", false},
      {L"star*", false},
      {L"back\\slash", false},
      {std::wstring(32, L'L'), false},  // too long
      {std::wstring(31, L'M'), true},
      {L"History", false},  // kept by the spreadsheet for itself
      {L"", false},
      {L"Ventile", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(export_test::Narrow(c.name));
    const LONG before = Excel::Worksheets(sheets).GetCount();
    Excel::_WorksheetPtr added;
    AddNamedWorksheet(book, c.name.c_str(), added);
    ASSERT_TRUE(added);
    EXPECT_EQ(Excel::Worksheets(sheets).GetCount(), before + 1);
    const std::wstring name = static_cast<const wchar_t*>(added->GetName());
    if (c.renamed)
      EXPECT_EQ(name, c.name);
    else
      EXPECT_TRUE(name.starts_with(L"Sheet")) << export_test::Narrow(name);
    Excel::_WorksheetPtr active = excel_->GetActiveSheet();
    EXPECT_EQ(static_cast<const wchar_t*>(active->GetName()), name) << "the new sheet is active";
  }
  // Not a refusal of the name: raised to the command.
  Excel::_WorksheetPtr none;
  try {
    AddNamedWorksheet(Excel::_WorkbookPtr(), L"X", none);
    ADD_FAILURE() << "no workbook must raise";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
  }

  // Through the export: a block name too long for a tab still gets its own sheet, with its
  // header and its rows.
  NewWorkbook();
  SettingsInfo settings;
  const std::wstring long_name = L"LONG_BLOCK_NAME_FOR_A_WORKSHEET_TAB_1";
  EXPECT_TRUE(ExportBlockName(long_name.c_str(), settings));
  const fs::path file = SaveActive("long.xlsx");
  const Book saved = export_test::ReadBooks({file})[file.string()];
  ASSERT_EQ(saved.sheets.size(), 2u);
  const Sheet* active = saved.Active();
  ASSERT_NE(active, nullptr);
  EXPECT_NE(active->name, L"Sheet1");
  EXPECT_EQ(active->Text(1, 1), L"Block name");
  EXPECT_EQ(active->Text(2, 1), long_name);
  EXPECT_EQ(active->Text(2, 2), L"long");
  EXPECT_EQ(active->At(2, 1)->comment, handles_[long_name][0]);
  EXPECT_TRUE(boxes_->shown.empty());
}

TEST_F(WorksheetWriter, AFailingRowShowsItsBoxAndTheExportGoesOn) {
  NewWorkbook();
  SettingsInfo settings;
  settings.WorksheetSettings = 1;
  settings.AddHeader = true;
  settings.XCoord = settings.YCoord = settings.ZCoord = settings.Scale = false;
  // The last row the writer serves holds the first reference; the next two rows fail, and the
  // rows written stay.
  currentRow = 32766;
  EXPECT_TRUE(ExportBlockName(L"ROOM", settings));
  EXPECT_EQ(currentRow, 32768) << "a failing row does not advance";
  ASSERT_EQ(boxes_->shown.size(), 2u);
  for (const export_test::BoxRecorder::Shown& box : boxes_->shown) {
    EXPECT_EQ(box.text, Text(res::kRowWriteFailed));
    EXPECT_EQ(box.caption, Text(res::kErrorCaption));
    EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONERROR));
  }
  // The export goes on: the next block name is written where the driver puts it.
  currentRow = 1;
  EXPECT_TRUE(ExportBlockName(L"BARE", settings));
  EXPECT_EQ(boxes_->shown.size(), 2u);
  const fs::path file = SaveActive("overflow.xlsx");
  const Sheet sheet = export_test::ReadBooks({file})[file.string()].sheets.at(0);
  EXPECT_EQ(sheet.Text(32766, 1), L"Block name");
  EXPECT_EQ(sheet.Row(32767),
            (std::vector<std::wstring>{L"ROOM", L"007", L"12.5", L"30.0", L"A-Rooms"}));
  EXPECT_EQ(sheet.At(32767, 1)->comment, handles_[L"ROOM"][0]);
  EXPECT_EQ(sheet.LastRow(), 32767);
  EXPECT_EQ(sheet.Row(2), (std::vector<std::wstring>{L"BARE", L"0.0", L"B-Other"}));

  // A chart sheet active: every row shows its box, nothing is written, the command goes on.
  const fs::path chart_book =
      dxf_test::CorpusDir().empty()
          ? fs::path()
          : dxf_test::CorpusDir().parent_path() / "xlsx" / "excel16_chartsheet_any_sheets.xlsx";
  if (chart_book.empty() || !fs::exists(chart_book)) GTEST_SKIP() << "corpus workbook absent";
  const fs::path copy = dir_ / "chart_active.xlsx";
  // The real workbook with its chart sheet (the fourth tab) made the active one.
  ASSERT_EQ(dxf_test::Run("/usr/bin/python3 '" +
                          (fs::path(__FILE__).parent_path() / "activate_tab.py").string() + "' '" +
                          chart_book.string() + "' '" + copy.string() + "' 3"),
            0);
  std::string error;
  ASSERT_TRUE(sheetwise::calc::Application::Running()->OpenWorkbook(copy, &error)) << error;
  ASSERT_FALSE(Excel::_WorksheetPtr(excel_->GetActiveSheet())) << "the chart sheet is active";
  boxes_->shown.clear();
  currentRow = 3;
  settings.NoAutofit = true;
  EXPECT_TRUE(ExportBlockName(L"ROOM", settings));
  EXPECT_EQ(boxes_->shown.size(), 4u) << "header row and three data rows";
  EXPECT_EQ(currentRow, 3);
  // With the column fit, the fit after the second reference fails and ends the export there.
  boxes_->shown.clear();
  settings.NoAutofit = false;
  try {
    ExportBlockName(L"ROOM", settings);
    ADD_FAILURE() << "the column fit of a chart sheet must raise";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
  }
  EXPECT_EQ(boxes_->shown.size(), 3u) << "header row and two data rows";
  EXPECT_EQ(currentRow, 3);
  EXPECT_EQ(FindNextBlankRow(excel_), 1) << "no worksheet active";
  try {
    AutoFitColumns();
    ADD_FAILURE() << "a chart sheet has no columns to fit";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
  }
}

TEST_F(WorksheetWriter, BlankRowSearchAndTimeStampLine) {
  EXPECT_EQ(FindNextBlankRow(excel_), 1) << "no workbook";
  NewWorkbook();
  Excel::_WorksheetPtr sheet = excel_->GetActiveSheet();
  IDispatchPtr cells = sheet->GetCells();
  auto put = [&](LONG row, LONG column, const wchar_t* text) {
    Excel::RangePtr cell = Excel::Range(cells).GetItem(_variant_t(row), _variant_t(column));
    cell->PutValue(_variant_t(text));
  };
  EXPECT_EQ(FindNextBlankRow(excel_), 1) << "empty sheet";
  put(1, 300, L"beyond the searched columns");
  EXPECT_EQ(FindNextBlankRow(excel_), 1) << "text past column 255 does not count";
  put(1, 1, L"a");
  put(2, 1, L"0");
  put(3, 255, L"last searched column");
  put(4, 2, L"b");
  put(6, 1, L"c");
  EXPECT_EQ(FindNextBlankRow(excel_), 5);
  put(5, 1, L"");  // an empty text leaves the cell empty
  EXPECT_EQ(FindNextBlankRow(excel_), 5);

  // Rows of a block name, then the time stamp: one empty row, the text in column B as text.
  SettingsInfo settings;
  settings.WorksheetSettings = 1;
  settings.AddHeader = true;
  currentRow = FindNextBlankRow(excel_);
  EXPECT_TRUE(ExportBlockName(L"BARE", settings));
  EXPECT_EQ(currentRow, 7);
  WriteTimeStampLine(L"03/14/2024 09:26:53");
  EXPECT_EQ(currentRow, 9);
  EXPECT_EQ(FindNextBlankRow(excel_), 7) << "the row left empty above the time stamp";
  const fs::path file = SaveActive("stamp.xlsx");
  const Sheet saved = export_test::ReadBooks({file})[file.string()].sheets.at(0);
  EXPECT_EQ(saved.Text(5, 1), L"Block name");
  EXPECT_EQ(saved.Text(6, 1), L"BARE");
  EXPECT_TRUE(saved.Row(7).empty());
  ASSERT_NE(saved.At(8, 2), nullptr);
  EXPECT_EQ(saved.At(8, 2)->kind, "str") << "a date typed as text stays text";
  EXPECT_EQ(saved.Text(8, 2), L"03/14/2024 09:26:53");
  EXPECT_EQ(saved.At(8, 2)->format, L"@");
  EXPECT_EQ(saved.Text(8, 1), L"");
  EXPECT_EQ(saved.Text(2, 1), L"0.0") << "existing rows untouched (\"0\" typed is a number)";
  EXPECT_TRUE(boxes_->shown.empty());
}

TEST_F(WorksheetWriter, HandleCommentOfARewrittenRowIsReplaced) {
  // Writing a data row over a row that already has a comment in column 1 replaces its text
  // (the spreadsheet refuses a second comment on one cell).
  NewWorkbook();
  SettingsInfo settings;
  WriteRow(false, true, settings, {L"1A", L"first"}, {});
  currentRow = 1;
  WriteRow(false, true, settings, {L"2B", L"second"}, {});
  EXPECT_EQ(currentRow, 2);
  EXPECT_TRUE(boxes_->shown.empty());
  const fs::path file = SaveActive("rewrite.xlsx");
  const Sheet saved = export_test::ReadBooks({file})[file.string()].sheets.at(0);
  EXPECT_EQ(saved.At(1, 1)->comment, L"2B");
  EXPECT_EQ(saved.Text(1, 1), L"second");
}

}  // namespace
