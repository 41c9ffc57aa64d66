#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win/menu.h"

// A menu belongs to no thread: items appended, checked and read from several threads at once all
// arrive, and no read sees a torn menu.
TEST(MenuThreads, ConcurrentChangesToOneMenuAllArrive) {
  HMENU bar = CreateMenu();
  constexpr int kThreads = 4;
  constexpr int kItems = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([bar, t] {
      HMENU popup = CreatePopupMenu();
      for (int i = 0; i < kItems; ++i) {
        const UINT id = static_cast<UINT>(t * 1000 + i + 1);
        AppendMenuW(popup, MF_STRING, id, L"item");
        CheckMenuItem(bar, id, MF_BYCOMMAND | MF_CHECKED);  // found once the popup is in
        if (i == kItems / 2) AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"p");
        wchar_t text[8];
        GetMenuStringW(bar, 0, text, 8, MF_BYPOSITION);
        GetMenuItemCount(bar);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(GetMenuItemCount(bar), kThreads);
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(GetMenuItemCount(GetSubMenu(bar, i)), kItems);
  EXPECT_TRUE(DestroyMenu(bar));
}
