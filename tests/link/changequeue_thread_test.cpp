// The change queue between the sink's thread and the main thread: every record arrives exactly
// once while both ends work at the same time, the drain takes the newest first and holds the
// import-busy event for exactly as long as it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/vantaapp.h"
#include "link/changequeue.h"
#include "platform/win/sync.h"

namespace {

bool Busy() {
  return WaitForSingleObject(g_hImportBusy, 0) == WAIT_OBJECT_0;
}

class ChangeQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TakeAllChanges();
    g_hImportBusy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    TakeAllChanges();
    CloseHandle(g_hImportBusy);
    g_hImportBusy = nullptr;
  }
};

TEST_F(ChangeQueueTest, DrainTakesNewestFirstAndIsBusyOnlyWhileItRuns) {
  EXPECT_FALSE(DrainChanges([](const XLChangeInfo&) { return true; }))
      << "an empty queue drains to false";
  EXPECT_FALSE(Busy()) << "and leaves the event reset";

  PushChange(MakeChangeInfo(2, 5, L"Sheet1", L"a.xlsx"));
  PushChange(MakeChangeInfo(3, 6, L"Sheet2", L"a.xlsx"));
  PushChange(MakeChangeInfo(4, 7, L"Sheet1", L"b.xlsx"));
  std::vector<LONG> rows;
  bool busy_throughout = true;
  const bool result = DrainChanges([&](const XLChangeInfo& change) {
    busy_throughout = busy_throughout && Busy();
    rows.push_back(change.row);
    return change.row != 5;  // the last one applied (the oldest) fails
  });
  EXPECT_EQ(rows, (std::vector<LONG>{7, 6, 5}));
  EXPECT_TRUE(busy_throughout);
  EXPECT_FALSE(result) << "the result of the last record applied";
  EXPECT_FALSE(Busy());
  EXPECT_EQ(ChangeCount(), 0u);
}

TEST_F(ChangeQueueTest, AFailingRecordEndsTheDrainResetsTheEventAndKeepsTheRest) {
  for (LONG row = 1; row <= 4; ++row) PushChange(MakeChangeInfo(1, row, L"S", L"B"));
  int applied = 0;
  EXPECT_THROW(DrainChanges([&](const XLChangeInfo& change) -> bool {
                 ++applied;
                 if (change.row == 3) throw std::runtime_error("COM error");
                 return true;
               }),
               std::runtime_error);
  EXPECT_EQ(applied, 2);
  EXPECT_FALSE(Busy()) << "the polling goes on after a failed drain";
  EXPECT_EQ(ChangeCount(), 2u) << "rows 1 and 2 stay queued for the next drain";
  XLChangeInfo next{};
  ASSERT_TRUE(PeekChange(&next));
  EXPECT_EQ(next.row, 2);
  EXPECT_EQ(ChangeCount(), 2u) << "a peek takes nothing";
}

TEST_F(ChangeQueueTest, RecordsAppendedDuringADrainAreAppliedInTheSameDrain) {
  PushChange(MakeChangeInfo(1, 1, L"S", L"B"));
  std::vector<LONG> rows;
  DrainChanges([&](const XLChangeInfo& change) {
    rows.push_back(change.row);
    if (change.row == 1) PushChange(MakeChangeInfo(1, 2, L"S", L"B"));
    return true;
  });
  EXPECT_EQ(rows, (std::vector<LONG>{1, 2}));
}

TEST_F(ChangeQueueTest, ProducerAndDrainingConsumerLoseAndDuplicateNothing) {
  constexpr LONG kCount = 20000;
  std::atomic<bool> produced{false};
  std::thread producer([&] {
    for (LONG i = 0; i < kCount; ++i) {
      PushChange(MakeChangeInfo(i % 7 + 1, i, L"Sheet1", L"book.xlsx"));
    }
    produced = true;
  });
  std::vector<int> times(kCount, 0);
  bool intact = true;
  while (!produced || ChangeCount() != 0) {
    DrainChanges([&](const XLChangeInfo& change) {
      intact = intact && change.row >= 0 && change.row < kCount &&
               change.column == change.row % 7 + 1 && std::wstring(change.sheetName) == L"Sheet1" &&
               std::wstring(change.workbookName) == L"book.xlsx";
      if (change.row >= 0 && change.row < kCount) ++times[static_cast<std::size_t>(change.row)];
      return true;
    });
  }
  producer.join();
  EXPECT_TRUE(intact);
  std::size_t once = 0;
  for (int n : times) once += n == 1 ? 1 : 0;
  EXPECT_EQ(once, static_cast<std::size_t>(kCount)) << "every record exactly once";
}

}  // namespace
