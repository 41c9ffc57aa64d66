// The live link across its two threads: Connect starts the apartment thread and reaches the sink
// through its proxy, edits in the spreadsheet (on this, the main thread) arrive as queued records
// made on the link's thread, Disconnect stops them, the starter does not hang when the thread
// cannot publish its sink, unload ends the thread; and the sink's second attempt at a SheetChange
// waits 100 ms on the (fake) message clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "app/vantaapp.h"
#include "cmd/operations.h"
#include "excel/excel.h"
#include "link/appeventhandler.h"
#include "link/changequeue.h"
#include "link/linkcontrol.h"
#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/com/marshal.h"
#include "platform/win/msgqueue_internal.h"
#include "platform/win/sync.h"
#include "tests/link/link_test_support.h"

namespace {

using linktest::FakeCell;
using linktest::FireSheetEvent;
using sheetwise::calc::kDispidSheetChange;

std::wstring Describe(const XLChangeInfo& c) {
  return std::wstring(c.workbookName) + L"|" + c.sheetName + L"|R" + std::to_wstring(c.row) + L"C" +
         std::to_wstring(c.column);
}

// The main thread as the host has it: an apartment with the spreadsheet application registered,
// the application object and the type library registered at load.
class LinkThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(SUCCEEDED(sheetwise::calc::RegisterApplicationClass()));
    ASSERT_EQ(RegisterVantaTypeLib(L"sheetwise.arx"), S_OK);
    TakeAllChanges();
  }
  void TearDown() override {
    // As at unload: the stop event ends the thread, which releases the sink.
    if (app_.m_hThread != nullptr) {
      SetEvent(app_.m_hStopEvent);
      EXPECT_EQ(WaitForSingleObject(app_.m_hThread, 60000), WAIT_OBJECT_0);
      DWORD code = 99;
      GetExitCodeThread(app_.m_hThread, &code);
      EXPECT_EQ(code, 0u) << "the thread ends by its stop event";
      CloseHandle(app_.m_hThread);
      CloseHandle(app_.m_hReadyEvent);
      CloseHandle(app_.m_hStopEvent);
    }
    // The proxy's last reference: released here, its apartment gone.
    if (app_.m_pEventHandler != nullptr) app_.m_pEventHandler->Release();
    workbook_sheet_ = nullptr;
    excel_ = nullptr;
    TakeAllChanges();
    sheetwise::calc::RevokeApplicationClass();
    CoUninitialize();
  }

  void StartSpreadsheet() {
    ASSERT_EQ(CreateExcel(excel_, "Excel.Application"), S_OK);
    Excel::Workbooks(excel_->GetWorkbooks()).Add();
    workbook_sheet_ = excel_->GetActiveSheet();
  }
  void Edit(LONG row, LONG column, const wchar_t* text) {
    Excel::RangePtr cell =
        Excel::Range(workbook_sheet_->GetCells()).GetItem(_variant_t(row), _variant_t(column));
    cell->PutValue(_variant_t(text));
  }

  CVantaApp app_;
  Excel::_ApplicationPtr excel_;
  Excel::_WorksheetPtr workbook_sheet_;
};

TEST_F(LinkThreadTest, ConnectSubscribesOnceThroughTheProxyAndDisconnectKeepsWhatIsQueued) {
  // Connect while no spreadsheet runs: the thread starts, Enable fails quietly.
  EXPECT_TRUE(ConnectOperation());
  ASSERT_NE(app_.m_hThread, nullptr);
  ASSERT_NE(app_.m_pEventHandler, nullptr);
  const HANDLE thread = app_.m_hThread;
  // The main thread holds a proxy: the real sink lives on the link's thread.
  EXPECT_EQ(app_.m_pEventHandler->Enable(), MK_E_UNAVAILABLE);

  StartSpreadsheet();
  Edit(1, 1, L"before");
  EXPECT_EQ(ChangeCount(), 0u) << "not subscribed yet";

  EXPECT_TRUE(ConnectOperation());
  EXPECT_TRUE(ConnectOperation()) << "twice: unsubscribes and subscribes again";
  EXPECT_EQ(app_.m_hThread, thread) << "one thread for the application's lifetime";
  Edit(3, 2, L"P-101");
  Edit(8, 5, L"P-102");
  std::vector<XLChangeInfo> queued = TakeAllChanges();
  ASSERT_EQ(queued.size(), 2u) << "one record per edit: one subscription";
  EXPECT_EQ(Describe(queued[0]), L"Book1|Sheet1|R8C5") << "newest first";
  EXPECT_EQ(Describe(queued[1]), L"Book1|Sheet1|R3C2");

  Edit(4, 4, L"kept");
  EXPECT_TRUE(DisconnectOperation());
  EXPECT_TRUE(DisconnectOperation()) << "twice is harmless";
  Edit(5, 5, L"not seen");
  queued = TakeAllChanges();
  ASSERT_EQ(queued.size(), 1u) << "Disconnect keeps what is queued and stops the rest";
  EXPECT_EQ(Describe(queued[0]), L"Book1|Sheet1|R4C4");
}

TEST_F(LinkThreadTest, TheStarterDoesNotHangWhenTheThreadCannotPublishItsSink) {
  // Without the proxy of IAppEventHandler the sink cannot be marshalled: the thread ends
  // without its ready event.
  RegisterInterfaceProxy(IID_IAppEventHandler, nullptr);
  EnableLink(&app_);
  EXPECT_EQ(app_.m_pEventHandler, nullptr);
  EXPECT_EQ(app_.m_hThread, nullptr) << "forgotten, so that a later Connect starts again";
  DisableLink(&app_);  // nothing to disable

  ASSERT_EQ(RegisterVantaTypeLib(L"sheetwise.arx"), S_OK);
  StartSpreadsheet();
  EnableLink(&app_);
  ASSERT_NE(app_.m_pEventHandler, nullptr);
  Edit(2, 3, L"x");
  EXPECT_EQ(ChangeCount(), 1u);
}

TEST_F(LinkThreadTest, UnloadEndsTheThreadWhileTheLinkIsOn) {
  StartSpreadsheet();
  EnableLink(&app_);
  ASSERT_NE(app_.m_hThread, nullptr);
  g_hImportBusy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Unload waits for the thread to end, then lets go of its handles and of the proxy.
  EXPECT_EQ(app_.OnUnloadApp(), AcRx::kRetOK);
  EXPECT_EQ(g_hImportBusy, nullptr);
  EXPECT_EQ(app_.m_hThread, nullptr);
  EXPECT_EQ(app_.m_hStopEvent, nullptr);
  EXPECT_EQ(app_.m_pEventHandler, nullptr);
  // The spreadsheet goes on; its events find the sink gone and nothing is queued.
  Edit(1, 1, L"after unload");
  EXPECT_EQ(ChangeCount(), 0u);
}

// OnSheetChange on a thread of its own, so that this thread can drive the fake clock while it
// waits.
TEST(SheetChangeRetry, TheSecondAttemptWaits100MsOnlyAfterAFailureThatMayPass) {
  struct Case {
    const char* name;
    HRESULT first_failure;
    bool waits;
  };
  constexpr HRESULT kCallRejected = static_cast<HRESULT>(0x80010001u);
  const Case cases[] = {
      {"busy spreadsheet", kCallRejected, true},
      {"first argument is no range", DISP_E_MEMBERNOTFOUND, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TakeAllChanges();
    win_internal::FakeClock clock;
    FakeCell busy(1, 1, L"Busy", L"busy.xlsx");
    busy.range->Fails(linktest::kColumn, c.first_failure);
    FakeCell good(6, 2, L"Sheet2", L"plant.xlsx");
    std::atomic<DWORD> worker_id{0};
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
      win_internal::EnsureMessageQueue();
      worker_id = GetCurrentThreadId();
      SetEvent(started);
      CComObject<CAppEventHandler>* sink = nullptr;
      CComObject<CAppEventHandler>::CreateInstance(&sink);
      sink->AddRef();
      FireSheetEvent(sink->GetEventSinkDispatch(), kDispidSheetChange, busy.range, good.range);
      sink->Release();
      SetEvent(finished);
    });
    ASSERT_EQ(WaitForSingleObject(started, 60000), WAIT_OBJECT_0);
    if (c.waits) {
      ASSERT_TRUE(win_internal::WaitForThreadIdle(worker_id, 60000));
      EXPECT_EQ(ChangeCount(), 0u) << "waiting";
      clock.Advance(99);
      ASSERT_TRUE(win_internal::WaitForThreadIdle(worker_id, 60000));
      EXPECT_EQ(WaitForSingleObject(finished, 0), WAIT_TIMEOUT) << "still waiting at 99 ms";
      clock.Advance(1);
    }
    EXPECT_EQ(WaitForSingleObject(finished, 60000), WAIT_OBJECT_0)
        << "without a wait it finishes with the clock standing still";
    if (WaitForSingleObject(finished, 0) != WAIT_OBJECT_0) clock.Advance(100);
    worker.join();
    const std::vector<XLChangeInfo> queued = TakeAllChanges();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(Describe(queued[0]), L"plant.xlsx|Sheet2|R2C6");
    CloseHandle(started);
    CloseHandle(finished);
  }
}

}  // namespace
