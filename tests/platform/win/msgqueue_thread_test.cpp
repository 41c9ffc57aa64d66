// Message queues, timers and waits across threads. Threads block for real here; the tests learn
// that a thread is blocked from WaitForThreadIdle and WaitForWaiters, never by sleeping.
#include "platform/win/msgqueue.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win/msgqueue_internal.h"
#include "tests/platform/win/thread_test_support.h"

using sync_test::Handle;
using sync_test::kHangGuardMs;
using sync_test::NewEvent;

namespace {

DWORD ExitCode(HANDLE thread) {
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

// A thread that makes its queue, says so, and records every message until WM_QUIT; its exit code
// is WM_QUIT's wParam.
struct Recorder {
  HANDLE ready;
  std::vector<MSG> seen;  // read only after the thread ended
};

DWORD RecordUntilQuit(LPVOID param) {
  auto* r = static_cast<Recorder*>(param);
  win_internal::EnsureMessageQueue();
  SetEvent(r->ready);
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) r->seen.push_back(msg);
  return got == 0 ? static_cast<DWORD>(msg.wParam) : 0xDEAD;
}

}  // namespace

TEST(PostThreadMessage, ReachesAnotherThreadInOrderUntilQuit) {
  Handle ready(NewEvent(true));
  Recorder recorder{ready, {}};
  DWORD id = 0;
  Handle t(CreateThread(nullptr, 0, RecordUntilQuit, &recorder, CREATE_SUSPENDED, &id));
  // No queue before the thread ran: posts fail, as on Windows.
  EXPECT_FALSE(PostThreadMessageW(id, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  ResumeThread(t);
  ASSERT_EQ(WaitForSingleObject(ready, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_TRUE(win_internal::ThreadHasMessageQueue(id));

  constexpr int kCount = 500;
  for (int i = 0; i < kCount; ++i) {
    ASSERT_TRUE(PostThreadMessageW(id, WM_APP + (i % 3), static_cast<WPARAM>(i), -i));
    // Half of them while the loop is certainly blocked, so that posts must wake it.
    if (i % 50 == 0) {
      ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
    }
  }
  ASSERT_TRUE(PostThreadMessageW(id, WM_QUIT, 17, 0));
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(t), 17u);

  ASSERT_EQ(recorder.seen.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(recorder.seen[i].message, static_cast<UINT>(WM_APP + (i % 3)));
    EXPECT_EQ(recorder.seen[i].wParam, static_cast<WPARAM>(i));
    EXPECT_EQ(recorder.seen[i].lParam, -i);
  }
  // The thread ended: its queue went with it, before its handle was signalled.
  EXPECT_FALSE(win_internal::ThreadHasMessageQueue(id));
  EXPECT_FALSE(PostThreadMessageW(id, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  EXPECT_FALSE(win_internal::WaitForThreadIdle(id, 0));
}

TEST(PostThreadMessage, ManyPostersLoseNothing) {
  Handle ready(NewEvent(true));
  Recorder recorder{ready, {}};
  DWORD id = 0;
  Handle t(CreateThread(nullptr, 0, RecordUntilQuit, &recorder, 0, &id));
  ASSERT_EQ(WaitForSingleObject(ready, kHangGuardMs), WAIT_OBJECT_0);
  std::vector<std::thread> posters;
  for (WPARAM tag : {1, 2}) {
    posters.emplace_back([id, tag] {
      for (LPARAM i = 0; i < 1000; ++i) EXPECT_TRUE(PostThreadMessageW(id, WM_APP, tag, i));
    });
  }
  for (std::thread& poster : posters) poster.join();
  PostThreadMessageW(id, WM_QUIT, 0, 0);
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);

  // Each poster's messages arrive complete and in its own order.
  LPARAM next[3] = {0, 0, 0};
  for (const MSG& m : recorder.seen) {
    ASSERT_TRUE(m.wParam == 1 || m.wParam == 2);
    EXPECT_EQ(m.lParam, next[m.wParam]);
    next[m.wParam] = m.lParam + 1;
  }
  EXPECT_EQ(next[1], 1000);
  EXPECT_EQ(next[2], 1000);
}

namespace {

struct MaskedWait {
  HANDLE ready;
  HANDLE event;
  DWORD mask;
};

DWORD WaitWithMask(LPVOID param) {
  auto* w = static_cast<MaskedWait*>(param);
  win_internal::EnsureMessageQueue();
  SetEvent(w->ready);
  return MsgWaitForMultipleObjects(1, &w->event, FALSE, kHangGuardMs, w->mask);
}

}  // namespace

// A message posted to a thread blocked in a wait for QS_ALLINPUT ends it; with mask 0 only the
// handle does. (The COM runtime's waiting caller relies on the first.)
TEST(MsgWaitForMultipleObjects, PostedMessageWakesAllInputButNotMaskZero) {
  Handle ready(NewEvent(true));
  Handle event(NewEvent(true));
  for (const DWORD mask : {DWORD{QS_ALLINPUT}, DWORD{0}}) {
    ResetEvent(ready);
    MaskedWait wait{ready, event, mask};
    DWORD id = 0;
    Handle t(CreateThread(nullptr, 0, WaitWithMask, &wait, 0, &id));
    ASSERT_EQ(WaitForSingleObject(ready, kHangGuardMs), WAIT_OBJECT_0);
    if (mask == 0) {
      ASSERT_TRUE(win_internal::WaitForWaiters(event, 1, kHangGuardMs));
    }
    ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
    ASSERT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0));
    if (mask == 0) {
      ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
      SetEvent(event);
    }
    ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(t), mask == 0 ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + 1) << "mask " << mask;
  }
}

namespace {

std::atomic<int> ticks{0};

void CountTick(HWND, UINT, UINT_PTR, DWORD) {
  if (ticks.fetch_add(1) + 1 == 2) PostQuitMessage(0);
}

DWORD TimerLoop(LPVOID param) {
  SetTimer(nullptr, 0, 1000, CountTick);
  SetEvent(static_cast<HANDLE>(param));
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

}  // namespace

TEST(SetTimer, FakeClockWakesALoopBlockedInGetMessage) {
  win_internal::FakeClock clock;
  ticks = 0;
  Handle ready(NewEvent(true));
  DWORD id = 0;
  Handle t(CreateThread(nullptr, 0, TimerLoop, ready.get(), 0, &id));
  ASSERT_EQ(WaitForSingleObject(ready, kHangGuardMs), WAIT_OBJECT_0);

  ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
  clock.Advance(999);
  ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
  EXPECT_EQ(ticks.load(), 0);
  clock.Advance(1);
  ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
  EXPECT_EQ(ticks.load(), 1);
  clock.Advance(2500);  // two and a half periods: one tick, which quits the loop
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(ticks.load(), 2);
}

namespace {

struct FdWaiter {
  HANDLE ready;
  int fd;
  std::vector<DWORD> results;  // read only after the thread ended
};

// Waits three times on the fd and the queue, taking whatever ended each wait.
DWORD WaitOnFd(LPVOID param) {
  auto* w = static_cast<FdWaiter*>(param);
  win_internal::EnsureMessageQueue();
  SetEvent(w->ready);
  for (int i = 0; i < 3; ++i) {
    const DWORD r = win_internal::MsgWaitForFdAndMessages(w->fd, kHangGuardMs, QS_ALLINPUT);
    w->results.push_back(r);
    if (r == WAIT_OBJECT_0) {
      char c;
      if (read(w->fd, &c, 1) != 1) return 1;
    } else if (r == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      }
    }
  }
  return 0;
}

}  // namespace

TEST(MsgWaitForFdAndMessages, WakesOnPipeWriteAndOnPostedMessage) {
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  Handle ready(NewEvent(true));
  FdWaiter waiter{ready, pipe_fds[0], {}};
  DWORD id = 0;
  Handle t(CreateThread(nullptr, 0, WaitOnFd, &waiter, 0, &id));
  ASSERT_EQ(WaitForSingleObject(ready, kHangGuardMs), WAIT_OBJECT_0);

  ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
  ASSERT_EQ(write(pipe_fds[1], "x", 1), 1);
  ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
  ASSERT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0));
  ASSERT_TRUE(win_internal::WaitForThreadIdle(id, kHangGuardMs));
  close(pipe_fds[1]);  // end of file counts as readable
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
  close(pipe_fds[0]);
  EXPECT_EQ(waiter.results, (std::vector<DWORD>{WAIT_OBJECT_0, WAIT_OBJECT_0 + 1, WAIT_OBJECT_0}));
  EXPECT_EQ(ExitCode(t), 1u);  // the third read met end of file

  // Without a thread: an fd that is not open fails, nothing ready times out, -1 waits for the
  // queue.
  EXPECT_EQ(win_internal::MsgWaitForFdAndMessages(999999, 0, QS_ALLINPUT), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(win_internal::MsgWaitForFdAndMessages(-1, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_EQ(win_internal::MsgWaitForFdAndMessages(-1, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

namespace {

// Another layer's per-thread object whose destructor still posts, as a COM apartment's does
// when its thread ends.
struct LateUser {
  DWORD target = 0;
  ~LateUser() {
    if (target != 0) PostThreadMessageW(target, WM_APP + 7, GetCurrentThreadId(), 0);
  }
};
thread_local LateUser late_user;

}  // namespace

TEST(ThreadEnd, ThreadLocalDestructorsMayStillUseTheQueue) {
  win_internal::EnsureMessageQueue();
  Handle opened(NewEvent(true));
  HANDLE thread_handle = nullptr;
  DWORD id = 0;
  const DWORD main_id = GetCurrentThreadId();
  std::thread t([&] {
    late_user.target = main_id;  // made before this layer's per-thread state, so ends after it
    id = GetCurrentThreadId();
    thread_handle = OpenThread(SYNCHRONIZE, FALSE, id);
    SetEvent(opened);
  });
  ASSERT_EQ(WaitForSingleObject(opened, kHangGuardMs), WAIT_OBJECT_0);
  Handle thread(thread_handle);
  // The handle is signalled only after the thread's last destructor, so the post is there.
  ASSERT_EQ(WaitForSingleObject(thread, kHangGuardMs), WAIT_OBJECT_0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE));
  EXPECT_EQ(msg.wParam, id);
  t.join();
}
