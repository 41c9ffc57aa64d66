// The live link's event sink in one apartment: which argument of SheetChange it reads as the
// changed range, what it queues and what it shows when neither is a range, its event map and
// its two faces (the sink Excel calls, IAppEventHandler with its type library), and Enable and
// Disable against the spreadsheet application.
#include <gtest/gtest.h>

#include <string>

#include "app/vantaapp.h"
#include "excel/excel.h"
#include "link/appeventhandler.h"
#include "link/changequeue.h"
#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/win/module.h"
#include "tests/link/link_test_support.h"

namespace {

using linktest::FakeCell;
using linktest::FakeObject;
using linktest::FireSheetEvent;
using linktest::MessageBoxRecorder;
using sheetwise::calc::kDispidSheetChange;

// A sink on this thread, with the resource library as the application's, as at load.
class SinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    resources_ = LoadLibraryW(Widen(SW_VANTARES).c_str());
    ASSERT_NE(resources_, nullptr);
    app_.m_hResource = resources_;
    ASSERT_EQ(RegisterVantaTypeLib(L"sheetwise.arx"), S_OK);
    ASSERT_EQ(CComObject<CAppEventHandler>::CreateInstance(&sink_), S_OK);
    sink_->AddRef();
    TakeAllChanges();
  }
  void TearDown() override {
    TakeAllChanges();
    sink_->Release();
    FreeLibrary(resources_);
    CoUninitialize();
  }
  static std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }
  IDispatch* SinkFace() { return sink_->GetEventSinkDispatch(); }

  CVantaApp app_;
  HMODULE resources_ = nullptr;
  CComObject<CAppEventHandler>* sink_ = nullptr;
};

std::wstring Describe(const XLChangeInfo& c) {
  return std::wstring(c.workbookName) + L"|" + c.sheetName + L"|R" + std::to_wstring(c.row) + L"C" +
         std::to_wstring(c.column);
}

TEST_F(SinkTest, EitherArgumentOrderQueuesTheRangeOnceAndOnlyTheQueriedWorksheetMatters) {
  struct Case {
    const char* name;
    bool range_first;
    bool sheet_answers_worksheet;
    bool queued;
  };
  // Attempt A (first argument) queries the worksheet for _Worksheet; attempt B uses it as the
  // range returned it. A worksheet that does not answer _Worksheet therefore only works second.
  const Case cases[] = {
      {"Excel's order (Sh, Target)", false, true, true},
      {"reversed (Target, Sh)", true, true, true},
      {"Excel's order, sheet without _Worksheet", false, false, true},
      {"reversed, sheet without _Worksheet", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MessageBoxRecorder boxes;
    FakeCell cell(4, 12, L"Pumps", L"plant.xlsx", c.sheet_answers_worksheet);
    IDispatch* first = c.range_first ? cell.range : cell.sheet;
    IDispatch* second = c.range_first ? cell.sheet : cell.range;
    EXPECT_EQ(FireSheetEvent(SinkFace(), kDispidSheetChange, first, second), S_OK);
    const std::vector<XLChangeInfo> queued = TakeAllChanges();
    if (c.queued) {
      ASSERT_EQ(queued.size(), 1u);
      EXPECT_EQ(Describe(queued[0]), L"plant.xlsx|Pumps|R12C4");
      EXPECT_TRUE(boxes.boxes().empty());
    } else {
      EXPECT_TRUE(queued.empty());
      EXPECT_EQ(boxes.boxes().size(), 1u);
    }
    EXPECT_EQ(cell.range->Calls(linktest::kColumn), 1) << "the range is read once";
  }
}

TEST_F(SinkTest, NeitherArgumentARangeShowsTheErrorWithTheLinkCaptionAndQueuesNothing) {
  MessageBoxRecorder boxes;
  FakeCell a(1, 1, L"S", L"B");
  FakeCell b(1, 1, L"S", L"B");
  EXPECT_EQ(FireSheetEvent(SinkFace(), kDispidSheetChange, a.sheet, b.sheet), S_OK);
  EXPECT_EQ(ChangeCount(), 0u);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  const auto box = boxes.boxes()[0];
  EXPECT_EQ(box.caption, L"Sheetwise live link") << "resource string 4";
  EXPECT_EQ(box.text, _com_error(DISP_E_MEMBERNOTFOUND).ErrorMessage());
  EXPECT_EQ(box.type, MB_OK);
}

TEST_F(SinkTest, AChangeInAWorkbookClosedMeanwhileIsReportedAndKeepsWhatWasQueued) {
  MessageBoxRecorder boxes;
  FakeCell open_cell(2, 3, L"Sheet1", L"open.xlsx");
  FireSheetEvent(SinkFace(), kDispidSheetChange, open_cell.sheet, open_cell.range);
  // A closed workbook's objects answer "Object required" (0x800A01A8) to every call.
  constexpr HRESULT kObjectRequired = static_cast<HRESULT>(0x800A01A8u);
  FakeCell closed(5, 9, L"Sheet1", L"closed.xlsx");
  closed.book->Fails(linktest::kName, kObjectRequired);
  FireSheetEvent(SinkFace(), kDispidSheetChange, closed.sheet, closed.range);
  const std::vector<XLChangeInfo> queued = TakeAllChanges();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(Describe(queued[0]), L"open.xlsx|Sheet1|R3C2");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, _com_error(kObjectRequired).ErrorMessage());
}

TEST_F(SinkTest, TheSinkFaceAnswersItsEventInterfaceAndIgnoresOtherEvents) {
  IDispatch* face = SinkFace();
  const IID answered[] = {IID_IUnknown, IID_IDispatch, sheetwise::calc::DIID_AppEvents};
  for (const IID& iid : answered) {
    void* p = nullptr;
    EXPECT_EQ(face->QueryInterface(iid, &p), S_OK);
    EXPECT_EQ(p, face);
    static_cast<IUnknown*>(p)->Release();
  }
  void* p = nullptr;
  EXPECT_EQ(face->QueryInterface(IID_IAppEventHandler, &p), E_NOINTERFACE);
  UINT count = 7;
  EXPECT_EQ(face->GetTypeInfoCount(&count), E_NOTIMPL);

  MessageBoxRecorder boxes;
  FakeCell cell(1, 2, L"S", L"B");
  constexpr DISPID kWorkbookOpen = 0x61F;
  EXPECT_EQ(FireSheetEvent(face, kWorkbookOpen, cell.sheet, cell.range), S_OK);
  EXPECT_EQ(ChangeCount(), 0u);
  EXPECT_EQ(cell.range->Calls(linktest::kColumn), 0);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SinkTest, IAppEventHandlerIsServedFromVantaLib) {
  IAppEventHandler* handler = sink_;
  UINT count = 0;
  EXPECT_EQ(handler->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(handler->GetTypeInfoCount(nullptr), E_POINTER);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(handler->GetTypeInfo(1, 0, &info), TYPE_E_ELEMENTNOTFOUND);
  ASSERT_EQ(handler->GetTypeInfo(0, 0, &info), S_OK);
  info->Release();
  const wchar_t* names[] = {L"Enable", L"disable"};
  for (DISPID expected : {kDispidEnable, kDispidDisable}) {
    LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
    DISPID id = 0;
    EXPECT_EQ(handler->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, expected);
  }
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(handler->Invoke(kDispidDisable, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                            nullptr),
            S_OK);

  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_VantaLib, 1, 0, 0, &library), S_OK);
  BSTR name = nullptr;
  BSTR doc = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"VantaLib");
  EXPECT_STREQ(doc, L"Vanta 1.0 Type Library");
  SysFreeString(name);
  SysFreeString(doc);
  ITypeInfo* of_interface = nullptr;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IAppEventHandler, &of_interface), S_OK);
  ASSERT_EQ(of_interface->GetDocumentation(kDispidEnable, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(doc, L"method Enable");
  SysFreeString(name);
  SysFreeString(doc);
  of_interface->Release();
  library->Release();
}

TEST_F(SinkTest, EnableAttachesToTheRunningSpreadsheetOnceAndDisableLetsGo) {
  EXPECT_EQ(sink_->Disable(), S_OK) << "never enabled";
  EXPECT_EQ(sink_->Disable(), S_OK) << "twice";
  EXPECT_EQ(sink_->Enable(), MK_E_UNAVAILABLE) << "nothing runs yet";
  EXPECT_EQ(sink_->application(), nullptr);
  EXPECT_EQ(sink_->m_dwEventCookie, kNoEventCookie);

  ASSERT_TRUE(SUCCEEDED(sheetwise::calc::RegisterApplicationClass()));
  {
    Excel::_ApplicationPtr app;
    ASSERT_EQ(CreateExcel(app, "Excel.Application"), S_OK);
    Excel::Workbooks(app->GetWorkbooks()).Add();
    Excel::_WorksheetPtr sheet = app->GetActiveSheet();
    auto edit = [&](LONG row, LONG column, const wchar_t* text) {
      Excel::RangePtr cell =
          Excel::Range(sheet->GetCells()).GetItem(_variant_t(row), _variant_t(column));
      cell->PutValue(_variant_t(text));
    };

    EXPECT_EQ(sink_->Enable(), S_OK) << "started since";
    EXPECT_NE(sink_->application(), nullptr);
    EXPECT_NE(sink_->m_dwEventCookie, kNoEventCookie);
    EXPECT_EQ(sink_->Enable(), S_OK) << "again without Disable: still one subscription";
    edit(3, 2, L"P-101");
    std::vector<XLChangeInfo> queued = TakeAllChanges();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(Describe(queued[0]), L"Book1|Sheet1|R3C2");

    EXPECT_EQ(sink_->Disable(), S_OK);
    EXPECT_EQ(sink_->application(), nullptr);
    EXPECT_EQ(sink_->m_dwEventCookie, kNoEventCookie);
    edit(4, 2, L"P-102");
    EXPECT_EQ(ChangeCount(), 0u) << "no events after Disable";

    EXPECT_EQ(sink_->Enable(), S_OK);
    edit(5, 1, L"P-103");
    queued = TakeAllChanges();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(Describe(queued[0]), L"Book1|Sheet1|R5C1");
    EXPECT_EQ(sink_->Disable(), S_OK);
  }
  sheetwise::calc::RevokeApplicationClass();
}

TEST(ChangeInfo, NamesAreCutTo259CharactersAndZeroTerminated) {
  struct Case {
    std::size_t length;
    std::size_t kept;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {258, 258}, {259, 259}, {260, 259}, {1000, 259}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::wstring sheet(c.length, L'S');
    const std::wstring book(c.length, L'\u00C4');
    const XLChangeInfo info = MakeChangeInfo(7, 9, sheet.c_str(), book.c_str());
    EXPECT_EQ(info.column, 7);
    EXPECT_EQ(info.row, 9);
    EXPECT_EQ(std::wstring(info.sheetName), sheet.substr(0, c.kept));
    EXPECT_EQ(std::wstring(info.workbookName), book.substr(0, c.kept));
    EXPECT_EQ(info.sheetName[MAX_PATH - 1], L'\0');
  }
  const XLChangeInfo none = MakeChangeInfo(1, 1, nullptr, nullptr);
  EXPECT_EQ(none.sheetName[0], L'\0');
  EXPECT_EQ(none.workbookName[0], L'\0');
}

}  // namespace
