// _bstr_t records shared between threads, and the per-thread error information slot.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/com/comdef.h"
#include "platform/com/errorinfo.h"
#include "tests/platform/com/value_support.h"

namespace {

TEST(BstrTThreads, SharedRecordCountsAndNarrowCopyAreSafe) {
  for (int round = 0; round < 20; ++round) {
    const _bstr_t original(L"Blockname \u00c4");
    std::atomic<const char*> seen[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&original, &seen, t] {
        for (int i = 0; i < 50; ++i) {
          _bstr_t copy = original;  // the count changes on every thread at once
          _bstr_t another(copy);
          static_cast<void>(another);
        }
        seen[t] = static_cast<const char*>(original);  // all ask for the narrow copy at once
      });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& narrow : seen) {
      EXPECT_EQ(narrow.load(), seen[0].load()) << "one narrow copy for the record";
    }
    EXPECT_STREQ(seen[0].load(), "Blockname \xC3\x84");
  }
}

TEST(ErrorInfoThreads, EachThreadHasItsOwnSlot) {
  IErrorInfo* info = sw::test::MakeErrorInfo(L"slot");
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);

  HRESULT other_get = E_FAIL;
  std::thread other([&] {
    IErrorInfo* none = nullptr;
    other_get = GetErrorInfo(0, &none);
    // A slot left set when the thread ends is released with the thread.
    SetErrorInfo(0, info);
  });
  other.join();
  EXPECT_EQ(other_get, S_FALSE);
  IErrorInfo* mine = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &mine), S_OK);
  EXPECT_EQ(mine, info);
  mine->Release();
  EXPECT_EQ(info->Release(), 0u) << "the ended thread's slot gave its reference back";
}

}  // namespace
