// Tests of the spreadsheet application, driven only through IDispatch::Invoke with the dispatch
// ids the program uses; saved workbooks are checked with openpyxl 3.0.9 (skipped without it).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/connpt.h"
#include "platform/com/guid.h"
#include "platform/com/rot.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"
#include "platform/xlsx/book.h"

namespace sheetwise::calc {
namespace {

namespace fs = std::filesystem;
const fs::path kCorpus = fs::path(SW_SHARED_DIR) / "corpus" / "xlsx";
const fs::path kDump = fs::path(__FILE__).parent_path().parent_path() / "xlsx" / "openpyxl_dump.py";

// A VARIANT that clears itself.
struct Var : VARIANT {
  Var() { VariantInit(this); }
  ~Var() { VariantClear(this); }
  Var(const Var&) = delete;
  template <class Set>
  static Var Of(VARTYPE vt, Set set) {
    Var v;
    v.vt = vt;
    set(v);
    return v;
  }
  static Var Text(const wchar_t* s) {
    return Of(VT_BSTR, [&](Var& v) { v.bstrVal = SysAllocString(s); });
  }
  static Var I2(short n) {
    return Of(VT_I2, [&](Var& v) { v.iVal = n; });
  }
  static Var I4(long n) {
    return Of(VT_I4, [&](Var& v) { v.lVal = n; });
  }
  static Var Bool(bool b) {
    return Of(VT_BOOL, [&](Var& v) { v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  static Var Missing() {
    return Of(VT_ERROR, [](Var& v) { v.scode = DISP_E_PARAMNOTFOUND; });
  }
  Var(Var&& o) noexcept : VARIANT(o) { VariantInit(&o); }
  std::wstring str() const {
    return vt == VT_BSTR ? std::wstring(bstrVal, SysStringLen(bstrVal)) : L"?";
  }
};

struct CallResult {
  HRESULT hr;
  Var value;
  std::wstring description;
  HRESULT scode = S_OK;
};

// One late-bound call as the program makes it: arguments in declaration order.
CallResult Call(IDispatch* d, DISPID id, WORD kind, std::vector<const VARIANT*> args = {}) {
  std::vector<VARIANT> reversed;
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), kind == DISPATCH_PROPERTYPUT ? &put : nullptr,
                    static_cast<UINT>(reversed.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
  CallResult r;
  EXCEPINFO excep{};
  UINT arg_err = 0;
  r.hr = d->Invoke(id, IID_NULL, 0, kind, &params, &r.value, &excep, &arg_err);
  if (r.hr == DISP_E_EXCEPTION) {
    r.description = excep.bstrDescription ? excep.bstrDescription : L"";
    r.scode = excep.scode;
    EXPECT_EQ(std::wstring(excep.bstrSource), kErrorSource);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
  }
  return r;
}

IDispatch* Get(IDispatch* d, DISPID id, std::vector<const VARIANT*> args = {}) {
  CallResult r = Call(d, id, DISPATCH_PROPERTYGET, std::move(args));
  EXPECT_EQ(r.hr, S_OK) << std::hex << id;
  if (r.value.vt != VT_DISPATCH || r.value.pdispVal == nullptr) return nullptr;
  IDispatch* out = r.value.pdispVal;
  out->AddRef();
  return out;
}

// A cell of the active sheet, as the writer takes it: Cells, then Item(row, col) as VT_I2.
IDispatch* Cell(IDispatch* sheet, short row, short col) {
  IDispatch* cells = Get(sheet, 0xEE);
  Var r = Var::I2(row), c = Var::I2(col);
  IDispatch* cell = Get(cells, 0xAA, {&r, &c});
  cells->Release();
  return cell;
}

void Put(IDispatch* d, DISPID id, const VARIANT& v) {
  CallResult r = Call(d, id, DISPATCH_PROPERTYPUT, {&v});
  EXPECT_EQ(r.hr, S_OK) << std::hex << id;
}

std::wstring Text(IDispatch* cell) {
  CallResult r = Call(cell, 0x8A, DISPATCH_PROPERTYGET);
  return r.value.str();
}

class CalcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_TRUE(SUCCEEDED(RegisterApplicationClass()));
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Excel.Application", &clsid), S_OK);
    ASSERT_TRUE(clsid == CLSID_ExcelApplication);
    IUnknown* unk = nullptr;
    ASSERT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unk)),
        S_OK);
    ASSERT_EQ(OleRun(unk), S_OK);
    ASSERT_EQ(unk->QueryInterface(IID_ExcelApplication, reinterpret_cast<void**>(&app_)), S_OK);
    unk->Release();
  }
  void TearDown() override {
    if (app_) app_->Release();
    RevokeApplicationClass();
    CoUninitialize();
  }
  IDispatch* NewBook() {
    IDispatch* books = Get(app_, 0x23C);
    Var missing = Var::Missing();
    CallResult r = Call(books, 0xB5, DISPATCH_METHOD, {&missing});
    books->Release();
    EXPECT_EQ(r.hr, S_OK);
    IDispatch* book = r.value.pdispVal;
    book->AddRef();
    return book;
  }
  IDispatch* app_ = nullptr;
};

TEST_F(CalcTest, StartsRegisteredAndFoundWhileRunning) {
  IUnknown* found = nullptr;
  ASSERT_EQ(GetActiveObject(CLSID_ExcelApplication, nullptr, &found), S_OK);
  IDispatch* again = nullptr;
  ASSERT_EQ(found->QueryInterface(IID_ExcelApplication, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, app_);
  again->Release();
  found->Release();
  // No workbook yet: ActiveWorkbook is nothing, as the export's "new when none" relies on.
  CallResult none = Call(app_, 0x134, DISPATCH_PROPERTYGET);
  EXPECT_EQ(none.hr, S_OK);
  EXPECT_EQ(none.value.vt, VT_DISPATCH);
  EXPECT_EQ(none.value.pdispVal, nullptr);
  Put(app_, 0x22E, Var::Bool(true));
  Put(app_, 0x169, Var::Bool(true));
}

TEST_F(CalcTest, WorkbooksAndSheetsAreNamedAndPlacedAsInExcel) {
  IDispatch* b1 = NewBook();
  IDispatch* b2 = NewBook();
  EXPECT_EQ(Call(b1, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Book1");
  EXPECT_EQ(Call(b2, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Book2");
  IDispatch* active = Get(app_, 0x134);
  EXPECT_EQ(Call(active, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Book2");
  active->Release();
  EXPECT_EQ(Call(b1, 0x130, DISPATCH_METHOD).hr, S_OK);  // Activate
  IDispatch* books = Get(app_, 0x23C);
  EXPECT_EQ(Call(books, 0x76, DISPATCH_PROPERTYGET).value.lVal, 2);
  Var name = Var::Text(L"book2");
  IDispatch* by_name = Get(books, 0xAA, {&name});
  EXPECT_EQ(Call(by_name, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Book2");
  by_name->Release();
  books->Release();

  IDispatch* sheets = Get(b1, 0x1EE);
  Var m1 = Var::Missing(), m2 = Var::Missing(), m3 = Var::Missing(), m4 = Var::Missing();
  CallResult added = Call(sheets, 0xB5, DISPATCH_METHOD, {&m1, &m2, &m3, &m4});
  ASSERT_EQ(added.hr, S_OK);
  IDispatch* sheet2 = added.value.pdispVal;
  sheet2->AddRef();
  EXPECT_EQ(Call(sheet2, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Sheet2");
  // Placed before the sheet that was active, and active itself.
  Var one = Var::I4(1);
  IDispatch* first = Get(sheets, 0xAA, {&one});
  EXPECT_EQ(Call(first, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Sheet2");
  first->Release();
  IDispatch* act = Get(app_, 0x133);
  EXPECT_EQ(Call(act, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Sheet2");
  act->Release();
  EXPECT_EQ(Call(sheets, 0x76, DISPATCH_PROPERTYGET).value.lVal, 2);

  // Names: Excel's rules, errors as exceptions with a description.
  struct Case {
    const wchar_t* name;
    bool ok;
  } cases[] = {{L"Pipes", true},
               {L"sheet1", false},  // taken, ignoring case
               {L"SHEET2", true},   // its own name in another case
               {L"a/b", false},
               {L"[x]", false},
               {L"'quoted", false},
               {L"", false},
               {L"1234567890123456789012345678901", true},
               {L"12345678901234567890123456789012", false},
               {L"Blöcke Ä", true}};
  for (const Case& c : cases) {
    Var v = Var::Text(c.name);
    CallResult r = Call(sheet2, 0x6E, DISPATCH_PROPERTYPUT, {&v});
    if (c.ok) {
      EXPECT_EQ(r.hr, S_OK) << c.name;
      EXPECT_EQ(Call(sheet2, 0x6E, DISPATCH_PROPERTYGET).value.str(), c.name);
    } else {
      EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << c.name;
      EXPECT_EQ(r.scode, kExcelError);
      EXPECT_FALSE(r.description.empty());
    }
  }
  Var nine = Var::I4(9);
  CallResult bad = Call(sheets, 0xAA, DISPATCH_PROPERTYGET, {&nine});
  EXPECT_EQ(bad.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(bad.scode, DISP_E_BADINDEX);
  // Parent of a sheet is its workbook, answering _Workbook.
  IDispatch* parent = Get(sheet2, 0x96);
  IDispatch* wb = nullptr;
  EXPECT_EQ(parent->QueryInterface(IID_ExcelWorkbook, reinterpret_cast<void**>(&wb)), S_OK);
  EXPECT_EQ(Call(wb, 0x6E, DISPATCH_PROPERTYGET).value.str(), L"Book1");
  wb->Release();
  parent->Release();
  sheet2->Release();
  sheets->Release();
  b1->Release();
  b2->Release();
}

TEST_F(CalcTest, TypedInputAndShownText) {
  IDispatch* book = NewBook();
  IDispatch* sheet = Get(app_, 0x133);
  struct Case {
    const wchar_t* typed;
    bool text_format;
    VARTYPE vt;
    const wchar_t* shown;
  } cases[] = {
      {L"007", false, VT_R8, L"7"},
      {L"007", true, VT_BSTR, L"007"},
      {L"1/2/2020", false, VT_DATE, L"1/2/2020"},
      {L"TRUE", false, VT_BOOL, L"TRUE"},
      {L"TRUE", true, VT_BSTR, L"TRUE"},
      {L"50%", false, VT_R8, L"50%"},
      {L"1,234.5", false, VT_R8, L"1,234.50"},
      {L"#N/A", false, VT_ERROR, L"#N/A"},
      {L"A-12", false, VT_BSTR, L"A-12"},
      {L"12.50", false, VT_R8, L"12.5"},
      {L"", false, VT_EMPTY, L""},
  };
  short row = 1;
  for (const Case& c : cases) {
    IDispatch* cell = Cell(sheet, row++, 1);
    if (c.text_format) Put(cell, 0xC1, Var::Text(L"@"));
    Put(cell, 0x6, Var::Text(c.typed));
    CallResult v = Call(cell, 0x6, DISPATCH_PROPERTYGET);
    EXPECT_EQ(v.value.vt, c.vt) << c.typed;
    EXPECT_EQ(Text(cell), c.shown) << c.typed;
    cell->Release();
  }
  // Shown text follows the number format.
  IDispatch* cell = Cell(sheet, 20, 2);
  Put(cell, 0x6, Var::Of(VT_R8, [](Var& v) { v.dblVal = 1234.5; }));
  EXPECT_EQ(Text(cell), L"1234.5");
  Put(cell, 0xC1, Var::Text(L"#,##0.00"));
  EXPECT_EQ(Text(cell), L"1,234.50");
  EXPECT_EQ(Call(cell, 0x101, DISPATCH_PROPERTYGET).value.lVal, 20);
  EXPECT_EQ(Call(cell, 0xF0, DISPATCH_PROPERTYGET).value.lVal, 2);
  // A put without a value never reaches the cell.
  DISPPARAMS empty{nullptr, nullptr, 0, 0};
  Var out;
  EXPECT_NE(cell->Invoke(0x6, IID_NULL, 0, DISPATCH_PROPERTYPUT, &empty, &out, nullptr, nullptr),
            S_OK);
  cell->Release();
  sheet->Release();
  book->Release();
}

TEST_F(CalcTest, CommentsBoldRowsAndColumnFitAreSavedForOtherReaders) {
  IDispatch* book = NewBook();
  IDispatch* sheet = Get(app_, 0x133);
  IDispatch* a1 = Cell(sheet, 1, 1);
  EXPECT_EQ(Call(a1, 0x38E, DISPATCH_PROPERTYGET).value.pdispVal, nullptr);
  Var handle = Var::Text(L"1F");
  CallResult added = Call(a1, 0x56D, DISPATCH_METHOD, {&handle});
  ASSERT_EQ(added.hr, S_OK);
  CallResult twice = Call(a1, 0x56D, DISPATCH_METHOD, {&handle});
  EXPECT_EQ(twice.hr, DISP_E_EXCEPTION);
  IDispatch* comment = Get(a1, 0x38E);
  Var m1 = Var::Missing(), m2 = Var::Missing(), m3 = Var::Missing();
  EXPECT_EQ(Call(comment, 0x8A, DISPATCH_METHOD, {&m1, &m2, &m3}).value.str(), L"1F");
  Var replaced = Var::Text(L"2A");
  EXPECT_EQ(Call(comment, 0x8A, DISPATCH_METHOD, {&replaced, &m2, &m3}).value.str(), L"2A");
  EXPECT_EQ(Call(comment, 0x8A, DISPATCH_METHOD).value.str(), L"2A");
  // Start inserts at a character (1-based); Overwrite replaces from there.
  Var insert = Var::Text(L"x"), at2 = Var::I4(2), no = Var::Bool(false), yes = Var::Bool(true);
  EXPECT_EQ(Call(comment, 0x8A, DISPATCH_METHOD, {&insert, &at2, &no}).value.str(), L"2xA");
  Var over = Var::Text(L"YZ");
  EXPECT_EQ(Call(comment, 0x8A, DISPATCH_METHOD, {&over, &at2, &yes}).value.str(), L"2YZ");
  EXPECT_EQ(Call(comment, 0x8A, DISPATCH_METHOD, {&replaced, &m2, &m3}).value.str(), L"2A");
  comment->Release();
  Put(a1, 0x6, Var::Text(L"Block name"));
  IDispatch* b1 = Cell(sheet, 1, 2);
  Put(b1, 0x6, Var::Text(L"A much longer header text"));
  // Bold header row: Range("A1","A1").EntireRow.Font.Bold = True.
  Var ref = Var::Text(L"A1");
  IDispatch* range = Get(sheet, 0xC5, {&ref, &ref});
  IDispatch* row = Get(range, 0xF7);
  IDispatch* font = Get(row, 0x92);
  Put(font, 0x60, Var::Bool(true));
  IDispatch* b1font = Get(b1, 0x92);
  EXPECT_EQ(Call(b1font, 0x60, DISPATCH_PROPERTYGET).value.boolVal, VARIANT_TRUE);
  // Fitting whole columns, then again after the widest text went away.
  IDispatch* columns = Get(sheet, 0xF1);
  EXPECT_EQ(Call(columns, 0xED, DISPATCH_METHOD).hr, S_OK);
  Application* face = Application::Running();
  ASSERT_NE(face, nullptr);
  const std::string path =
      (fs::temp_directory_path() / ("sw_calc_" + std::to_string(::getpid()) + ".xlsx")).string();
  std::string error;
  EXPECT_TRUE(face->Workbooks().back().modified);
  ASSERT_TRUE(face->SaveWorkbook(face->Workbooks().size() - 1, path, &error)) << error;
  EXPECT_FALSE(face->Workbooks().back().modified);
  EXPECT_EQ(face->Workbooks().back().name, fs::path(path).filename().wstring());
  xlsx::BookResult saved = xlsx::Book::Open(path);
  ASSERT_TRUE(saved);
  const double wide = *saved.book->sheet(0).ColumnWidth(2);
  EXPECT_GT(wide, 25.0);
  Put(b1, 0x6, Var::Text(L"short"));
  EXPECT_EQ(Call(columns, 0xED, DISPATCH_METHOD).hr, S_OK);
  ASSERT_TRUE(face->SaveWorkbook(face->Workbooks().size() - 1, "", &error)) << error;
  saved = xlsx::Book::Open(path);
  EXPECT_LT(*saved.book->sheet(0).ColumnWidth(2), 8.0);
  EXPECT_TRUE(fs::exists(path + ".bak"));
  if (std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") == 0) {
    std::string cmd =
        "/usr/bin/python3 '" + kDump.string() + "' '" + path + "' 'Sheet1!A1' 'Sheet1!B1' 2>&1";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
    EXPECT_NE(out.find("A1: value=str:Block name format=General bold=1 comment=2A"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("B1: value=str:short format=General bold=1"), std::string::npos) << out;
  }
  fs::remove(path);
  fs::remove(path + ".bak");
  for (IDispatch* d : {columns, b1font, font, row, range, b1, a1, sheet, book}) d->Release();
}

// A sink that records SheetChange calls.
class Sink : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_AppEvents) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    if (id != kDispidSheetChange || p->cArgs != 2) return S_OK;
    // Arguments arrive last-first: rgvarg[1] is Sh, rgvarg[0] is Target.
    IDispatch* target = p->rgvarg[0].pdispVal;
    IDispatch* sheet = p->rgvarg[1].pdispVal;
    seen.push_back(Call(sheet, 0x6E, DISPATCH_PROPERTYGET).value.str() + L"!" +
                   std::to_wstring(Call(target, 0x101, DISPATCH_PROPERTYGET).value.lVal) + L"," +
                   std::to_wstring(Call(target, 0xF0, DISPATCH_PROPERTYGET).value.lVal));
    return S_OK;
  }
  ULONG refs = 1;
  std::vector<std::wstring> seen;
};

TEST_F(CalcTest, SheetChangeFiresForCallsAndForFilesSavedByOthers) {
  const fs::path dir = fs::temp_directory_path() / ("sw_calc_ev_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "linked.xlsx";
  {
    std::unique_ptr<xlsx::Book> b = xlsx::Book::New("Data");
    b->sheet(0).SetText(1, 1, "Block name");
    b->sheet(0).SetText(2, 2, "old");
    ASSERT_FALSE(b->Save(file).has_value());
  }
  Application* face = Application::Running();
  std::string error;
  ASSERT_TRUE(face->OpenWorkbook(file, &error)) << error;
  ASSERT_GE(face->WatchFiles(), 0);
  Sink sink;
  DWORD cookie = 0;
  ASSERT_EQ(AtlAdvise(app_, &sink, DIID_AppEvents, &cookie), S_OK);
  IDispatch* sheet = Get(app_, 0x133);
  IDispatch* c = Cell(sheet, 3, 4);
  Put(c, 0x6, Var::Text(L"x"));
  ASSERT_EQ(sink.seen.size(), 1u);
  EXPECT_EQ(sink.seen[0], L"Data!3,4");
  // Another program saves the file: two cells differ.
  {
    xlsx::BookResult other = xlsx::Book::Open(file);
    ASSERT_TRUE(other);
    other.book->sheet(0).SetText(2, 2, "new");
    other.book->sheet(0).SetNumber(7, 1, 5);
    ASSERT_FALSE(other.book->Save(file).has_value());
  }
  sink.seen.clear();
  EXPECT_EQ(face->PollFileChanges(), 3u);  // B2, A7, and D3 (the file lacks the unsaved edit)
  ASSERT_EQ(sink.seen.size(), 3u);
  EXPECT_EQ(sink.seen[0], L"Data!2,2");
  IDispatch* b2 = Cell(sheet, 2, 2);
  EXPECT_EQ(Text(b2), L"new");
  // Nothing changed since: nothing fires.
  sink.seen.clear();
  EXPECT_EQ(face->PollFileChanges(), 0u);
  EXPECT_TRUE(sink.seen.empty());
  EXPECT_EQ(AtlUnadvise(app_, DIID_AppEvents, cookie), S_OK);
  Put(b2, 0x6, Var::Text(L"quiet"));
  EXPECT_TRUE(sink.seen.empty());
  b2->Release();
  c->Release();
  sheet->Release();
  fs::remove_all(dir);
}

TEST_F(CalcTest, AFileThatIsNoWorkbookIsRefusedWithItsName) {
  const fs::path bad =
      fs::temp_directory_path() / ("sw_calc_bad_" + std::to_string(::getpid()) + ".xlsx");
  {
    std::FILE* f = std::fopen(bad.c_str(), "w");
    std::fputs("Block name;TAG\n", f);
    std::fclose(f);
  }
  std::string error;
  EXPECT_FALSE(Application::Running()->OpenWorkbook(bad, &error));
  EXPECT_NE(error.find(bad.filename().string()), std::string::npos) << error;
  EXPECT_NE(error.find("not a zip archive"), std::string::npos) << error;
  EXPECT_TRUE(Application::Running()->Workbooks().empty());
  EXPECT_FALSE(Application::Running()->OpenWorkbook(bad.string() + ".missing", &error));
  fs::remove(bad);
}

TEST_F(CalcTest, AChartSheetAnswersNoWorksheetInterface) {
  const fs::path file = kCorpus / "excel16_chartsheet_any_sheets.xlsx";
  if (!fs::exists(file)) GTEST_SKIP() << "no corpus";
  // The workbook saved with its chart sheet active, as a user may have left it.
  xlsx::BookResult read = xlsx::Book::Open(file);
  ASSERT_TRUE(read);
  std::size_t chart = 0;
  while (read.book->sheet(chart).kind() != xlsx::SheetKind::kChartsheet) ++chart;
  read.book->SetActiveSheet(chart);
  const fs::path copy =
      fs::temp_directory_path() / ("sw_calc_chart_" + std::to_string(::getpid()) + ".xlsx");
  ASSERT_FALSE(read.book->Save(copy).has_value());
  Application* face = Application::Running();
  std::string error;
  ASSERT_TRUE(face->OpenWorkbook(copy, &error)) << error;
  IDispatch* active = Get(app_, 0x133);
  ASSERT_NE(active, nullptr);
  IDispatch* ws = nullptr;
  EXPECT_EQ(active->QueryInterface(IID_ExcelWorksheet, reinterpret_cast<void**>(&ws)),
            E_NOINTERFACE);
  EXPECT_EQ(Call(active, 0x6E, DISPATCH_PROPERTYGET).value.str(),
            Utf8ToWide(read.book->sheet(chart).name()));
  EXPECT_EQ(Call(active, 0xEE, DISPATCH_PROPERTYGET).hr, DISP_E_MEMBERNOTFOUND);
  IDispatch* book = Get(app_, 0x134);
  IDispatch* sheets = Get(book, 0x1EE);
  EXPECT_EQ(Call(sheets, 0x76, DISPATCH_PROPERTYGET).value.lVal, 3);  // worksheets only
  for (IDispatch* d : {sheets, book, active}) d->Release();
  fs::remove(copy);
  fs::remove(copy.string() + ".bak");
}

}  // namespace
}  // namespace sheetwise::calc
