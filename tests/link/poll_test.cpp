// The polling procedure on the application's one-second timer, driven by a fake clock: it sends
// "vanta\n_import2\n" to the current document only while changes are queued, no drain runs and
// the document is quiescent.
#include <gtest/gtest.h>

#include <memory>

#include "app/linktimer.h"
#include "app/vantaapp.h"
#include "link/changequeue.h"
#include "link/linkcontrol.h"
#include "platform/host/dbmain.h"
#include "platform/host/docman.h"
#include "platform/win/msgqueue_internal.h"
#include "platform/win/sync.h"

namespace {

// Dispatches the timer messages that are due now, as the host's message loop does.
void ServeMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

class PollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TakeAllChanges();
    g_hImportBusy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    doc_ = acDocManagerPtr()->Add(std::make_unique<AcDbDatabase>(), L"");
    timer_ = SetTimer(nullptr, 0, 1000, &LinkTimerProc);
  }
  void TearDown() override {
    KillTimer(nullptr, timer_);
    if (doc_ != nullptr) acDocManagerPtr()->Close(doc_);
    CloseHandle(g_hImportBusy);
    g_hImportBusy = nullptr;
    TakeAllChanges();
  }
  // One tick of the timer; what it sent to the document.
  std::wstring Tick() {
    clock_.Advance(1000);
    ServeMessages();
    return doc_ != nullptr ? doc_->TakeSentInput() : std::wstring();
  }

  win_internal::FakeClock clock_;
  AcApDocument* doc_ = nullptr;
  UINT_PTR timer_ = 0;
};

TEST_F(PollTest, SendsImport2OncePerTickOnlyWhenQueuedIdleAndNoDrainRuns) {
  EXPECT_EQ(Tick(), L"") << "nothing queued";

  PushChange(MakeChangeInfo(2, 3, L"Sheet1", L"book.xlsx"));
  clock_.Advance(999);
  ServeMessages();
  EXPECT_EQ(doc_->TakeSentInput(), L"") << "not before the second is over";
  clock_.Advance(1);
  ServeMessages();
  EXPECT_EQ(doc_->TakeSentInput(), L"vanta\n_import2\n");

  doc_->BeginCommand();
  EXPECT_EQ(Tick(), L"") << "a command is active";
  doc_->EndCommand();
  EXPECT_EQ(Tick(), L"vanta\n_import2\n") << "once the command ended";

  // While the sent string waits for the prompt the document is not quiescent: no second copy.
  clock_.Advance(1000);
  ServeMessages();
  clock_.Advance(1000);
  ServeMessages();
  EXPECT_EQ(doc_->TakeSentInput(), L"vanta\n_import2\n");

  SetEvent(g_hImportBusy);
  EXPECT_EQ(Tick(), L"") << "a drain runs";
  ResetEvent(g_hImportBusy);

  // A drain that meets a tick in one of its waits sends nothing; after it, nothing is left.
  std::wstring during;
  EXPECT_TRUE(DrainChanges([&](const XLChangeInfo&) {
    during = Tick();
    return true;
  }));
  EXPECT_EQ(during, L"");
  EXPECT_EQ(Tick(), L"") << "the queue is empty";
}

TEST_F(PollTest, WithoutADocumentNothingIsSentAndTheRecordsWait) {
  PushChange(MakeChangeInfo(1, 1, L"S", L"B"));
  acDocManagerPtr()->Close(doc_);
  doc_ = nullptr;
  EXPECT_EQ(Tick(), L"");
  EXPECT_EQ(ChangeCount(), 1u);
  doc_ = acDocManagerPtr()->Add(std::make_unique<AcDbDatabase>(), L"");
  EXPECT_EQ(Tick(), L"vanta\n_import2\n");
}

}  // namespace
