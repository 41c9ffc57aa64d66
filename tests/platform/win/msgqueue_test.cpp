// The calling thread's own queue and timers; tests that involve other threads are in
// msgqueue_thread_test.cpp. Expected values were observed under Wine 8 with a small program
// built by mingw-w64: retrieval order (posted, then WM_QUIT, then timers), WM_QUIT whatever the
// filter, one WM_TIMER after many missed periods, error codes, TranslateMessage's FALSE, case-
// insensitive message names. Where we differ on purpose (a queue quota, stale timer messages) the
// test says so.
#include "platform/win/msgqueue.h"

#include <vector>

#include <gtest/gtest.h>

#include "platform/win/msgqueue_internal.h"

namespace {

// Empties the calling thread's queue, so that each test starts from nothing.
void Drain() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

std::vector<UINT> TakeAll() {
  std::vector<UINT> ids;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ids.push_back(msg.message);
  return ids;
}

std::vector<UINT_PTR> fired;  // ids seen by OnTimer, on this thread only

void OnTimer(HWND hwnd, UINT msg, UINT_PTR id, DWORD) {
  EXPECT_EQ(hwnd, nullptr);
  EXPECT_EQ(msg, WM_TIMER);
  fired.push_back(id);
}

// Takes every message and dispatches it; returns how many WM_TIMER there were.
int PumpTimers() {
  int timers = 0;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_TIMER) ++timers;
    DispatchMessageW(&msg);
  }
  return timers;
}

}  // namespace

TEST(PeekMessage, NoRemoveLeavesTheMessageAndFiltersPickOutOfOrder) {
  Drain();
  const DWORD self = GetCurrentThreadId();
  ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 1, 11, 111));
  ASSERT_TRUE(PostThreadMessageW(self, WM_APP + 2, 22, 222));
  ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 3, 33, 333));

  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  EXPECT_EQ(msg.wParam, 11u);
  EXPECT_EQ(msg.lParam, 111);
  EXPECT_EQ(msg.hwnd, nullptr);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);  // still there

  // A range takes the first message inside it, leaving earlier ones in place.
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP + 10, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_APP + 2);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP + 10, PM_REMOVE));
  // An inverted range matches nothing (observed under Wine 8).
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP, WM_USER, PM_REMOVE));
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  ASSERT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 3);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));

  EXPECT_FALSE(PeekMessageW(&msg, reinterpret_cast<HWND>(0x1234), 0, 0, PM_REMOVE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(GetMessageW(&msg, reinterpret_cast<HWND>(0x1234), 0, 0), -1);
  EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
}

TEST(PostQuitMessage, QuitComesAfterEveryPostedMessage) {
  Drain();
  const DWORD self = GetCurrentThreadId();
  PostThreadMessageW(self, WM_APP, 0, 0);
  PostThreadMessageW(self, WM_APP + 1, 0, 0);
  PostQuitMessage(5);
  PostThreadMessageW(self, WM_APP + 2, 0, 0);  // posted later, still delivered first

  MSG msg;
  std::vector<UINT> seen;
  BOOL r;
  while ((r = GetMessageW(&msg, nullptr, 0, 0)) > 0) seen.push_back(msg.message);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_APP, WM_APP + 1, WM_APP + 2}));
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // one WM_QUIT only

  // WM_QUIT ignores the filter, and PM_NOREMOVE leaves it pending.
  PostQuitMessage(6);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(GetMessageW(&msg, nullptr, WM_USER, WM_USER), 0);
  EXPECT_EQ(msg.wParam, 6u);
}

// Windows documents a quota of 10,000 posted messages per queue; Wine has none.
TEST(PostThreadMessage, QueueHoldsTenThousandMessagesThenRefuses) {
  Drain();
  const DWORD self = GetCurrentThreadId();
  for (DWORD i = 0; i < kPostedMessageLimit; ++i) {
    ASSERT_TRUE(PostThreadMessageW(self, WM_APP, i, 0)) << i;
  }
  EXPECT_FALSE(PostThreadMessageW(self, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_TRUE(PostThreadMessageW(self, WM_APP, 0, 0));
  Drain();
}

TEST(SetTimer, FiresOnceWhenDueAndNeverCatchesUp) {
  Drain();
  win_internal::FakeClock clock;
  fired.clear();
  const UINT_PTR id = SetTimer(nullptr, 0, 1000, OnTimer);
  ASSERT_NE(id, 0u);

  clock.Advance(999);
  EXPECT_EQ(PumpTimers(), 0);
  clock.Advance(1);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.wParam, id);
  EXPECT_EQ(msg.lParam, reinterpret_cast<LPARAM>(&OnTimer));
  EXPECT_EQ(msg.time, static_cast<DWORD>(clock.Now()));
  EXPECT_EQ(PumpTimers(), 1);  // the peek above left it, and only one
  EXPECT_EQ(fired, std::vector<UINT_PTR>{id});

  // Three periods at once make one WM_TIMER, and the timer keeps its phase.
  clock.Advance(3000);
  EXPECT_EQ(PumpTimers(), 1);
  clock.Advance(999);
  EXPECT_EQ(PumpTimers(), 0);
  clock.Advance(1);
  EXPECT_EQ(PumpTimers(), 1);

  ASSERT_TRUE(KillTimer(nullptr, id));
  clock.Advance(5000);
  EXPECT_EQ(PumpTimers(), 0);
  EXPECT_FALSE(KillTimer(nullptr, id));
  EXPECT_EQ(fired.size(), 3u);
}

TEST(SetTimer, PostedMessagesAndQuitComeBeforeTimers) {
  Drain();
  win_internal::FakeClock clock;
  const UINT_PTR id = SetTimer(nullptr, 0, 100, nullptr);
  clock.Advance(100);
  PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
  PostQuitMessage(0);
  EXPECT_EQ(TakeAll(), (std::vector<UINT>{WM_APP, WM_QUIT, WM_TIMER}));
  // A filter that leaves WM_TIMER out does not hand it out.
  clock.Advance(100);
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER, WM_APP, PM_REMOVE));
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_EQ(msg.lParam, 0);
  EXPECT_EQ(DispatchMessageW(&msg), 0);  // no procedure: nothing to call
  KillTimer(nullptr, id);
}

TEST(SetTimer, ReusingAnIdResetsThatTimerAndMinimumIsClamped) {
  Drain();
  win_internal::FakeClock clock;
  fired.clear();
  const UINT_PTR a = SetTimer(nullptr, 0, 1000, OnTimer);
  const UINT_PTR b = SetTimer(nullptr, 0, 1, OnTimer);  // clamped to USER_TIMER_MINIMUM
  EXPECT_NE(a, b);
  clock.Advance(USER_TIMER_MINIMUM - 1);
  EXPECT_EQ(PumpTimers(), 0);
  clock.Advance(1);
  EXPECT_EQ(PumpTimers(), 1);
  EXPECT_EQ(fired, std::vector<UINT_PTR>{b});
  KillTimer(nullptr, b);

  clock.Advance(900);  // `a` is 90 ms from due; resetting it restarts its period
  EXPECT_EQ(SetTimer(nullptr, a, 1000, OnTimer), a);
  clock.Advance(999);
  EXPECT_EQ(PumpTimers(), 0);
  clock.Advance(1);
  EXPECT_EQ(PumpTimers(), 1);
  // An id that is not a timer of ours is not reused.
  const UINT_PTR c = SetTimer(nullptr, 987654, 1000, OnTimer);
  EXPECT_NE(c, 987654u);
  EXPECT_NE(c, 0u);
  KillTimer(nullptr, a);
  KillTimer(nullptr, c);
  EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x1234), 0, 10, OnTimer), 0u);
}

TEST(DispatchMessage, CallsOnlyLiveTimerProceduresAndRegisteredHandlers) {
  Drain();
  win_internal::FakeClock clock;
  fired.clear();
  const UINT_PTR id = SetTimer(nullptr, 0, 100, OnTimer);
  clock.Advance(100);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  ASSERT_TRUE(KillTimer(nullptr, id));
  DispatchMessageW(&msg);  // stale: its timer is gone (Wine would still call the procedure)
  MSG forged{nullptr, WM_TIMER, 4242, reinterpret_cast<LPARAM>(&OnTimer), 0, {0, 0}};
  DispatchMessageW(&forged);
  EXPECT_TRUE(fired.empty());

  const UINT call = RegisterWindowMessageW(L"SheetwiseTestDispatch");
  win_internal::SetThreadMessageHandler(
      call, [](const MSG& m) -> LRESULT { return static_cast<LRESULT>(m.wParam * 2 + m.lParam); });
  PostThreadMessageW(GetCurrentThreadId(), call, 20, 2);
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(TranslateMessage(&msg), FALSE);
  EXPECT_EQ(DispatchMessageW(&msg), 42);
  win_internal::SetThreadMessageHandler(call, nullptr);
  EXPECT_EQ(DispatchMessageW(&msg), 0);
}

TEST(RegisterWindowMessage, SameNameSameIdRegardlessOfCase) {
  const UINT a = RegisterWindowMessageW(L"SheetwiseTest-Ärger");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessageW(L"sheetwisetest-ärger"), a);
  EXPECT_EQ(RegisterWindowMessageW(L"SHEETWISETEST-ÄRGER"), a);
  const UINT b = RegisterWindowMessageW(L"SheetwiseTest-Other");
  EXPECT_NE(b, a);
  EXPECT_GE(b, 0xC000u);
  EXPECT_EQ(RegisterWindowMessageW(L""), 0u);
  EXPECT_EQ(RegisterWindowMessageW(nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(MsgWaitForMultipleObjects, QueueInputEndsTheWaitOnlyForItsMask) {
  Drain();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_POSTMESSAGE), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_TIMER), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 1, 0), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  SetEvent(event);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  // Wait-all needs the handles and queue input together.
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  Drain();
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  CloseHandle(event);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_FAILED);

  win_internal::FakeClock clock;
  const UINT_PTR id = SetTimer(nullptr, 0, 500, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_TIMER), WAIT_TIMEOUT);
  clock.Advance(500);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_POSTMESSAGE), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_TIMER), WAIT_OBJECT_0);
  KillTimer(nullptr, id);
}

TEST(SetTimer, FollowsTheClockThatIsInstalled) {
  Drain();
  // On the real clock a due timer ends a blocked wait by itself (the limit only guards a hang).
  const UINT_PTR real = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 60'000, QS_TIMER), WAIT_OBJECT_0);
  MSG msg;
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.wParam, real);
  KillTimer(nullptr, real);

  // A timer set before a fake clock comes is rescheduled on it, and again on the real clock when
  // the fake one goes (its fake due time means nothing there).
  const UINT_PTR id = SetTimer(nullptr, 0, 1000, nullptr);
  {
    win_internal::FakeClock clock(5000);
    EXPECT_EQ(GetTickCount64(), 5000u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    clock.Advance(1000);
    EXPECT_EQ(GetTickCount(), 6000u);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, id);
    EXPECT_EQ(msg.time, 6000u);
  }
  EXPECT_GT(GetTickCount64(), 0u);
  EXPECT_NE(GetTickCount64(), 6000u);
  ASSERT_TRUE(SetTimer(nullptr, id, 1'000'000, nullptr));  // far off on any clock
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  KillTimer(nullptr, id);
}
