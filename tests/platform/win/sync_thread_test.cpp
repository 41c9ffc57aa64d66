#include "platform/win/sync.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win/msgqueue_internal.h"
#include "tests/platform/win/thread_test_support.h"

using sync_test::Handle;
using sync_test::kHangGuardMs;
using sync_test::NewEvent;

namespace {

// A waiter that counts how often `event` released it, until `stop` is signalled.
struct CountingWaiter {
  HANDLE event;
  HANDLE stop;
  HANDLE ack;  // auto-reset: set after each release
  std::atomic<int>* released;
};

DWORD CountReleases(LPVOID param) {
  auto* w = static_cast<CountingWaiter*>(param);
  HANDLE both[] = {w->event, w->stop};
  for (;;) {
    const DWORD r = WaitForMultipleObjects(2, both, FALSE, kHangGuardMs);
    if (r != WAIT_OBJECT_0) return r;
    w->released->fetch_add(1);
    SetEvent(w->ack);
  }
}

DWORD WaitOnce(LPVOID param) {
  return WaitForSingleObject(static_cast<HANDLE>(param), kHangGuardMs);
}

// The exit code of an ended thread (1234 when it cannot be read).
DWORD ExitCode(HANDLE thread) {
  DWORD code = 1234;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

}  // namespace

TEST(Event, AutoResetReleasesOneWaiterPerSetEvent) {
  Handle event(NewEvent(false));
  Handle stop(NewEvent(true));
  Handle ack(NewEvent(false));
  std::atomic<int> released{0};
  CountingWaiter waiter{event, stop, ack, &released};
  Handle a(CreateThread(nullptr, 0, CountReleases, &waiter, 0, nullptr));
  Handle b(CreateThread(nullptr, 0, CountReleases, &waiter, 0, nullptr));
  ASSERT_TRUE(win_internal::WaitForWaiters(event, 2, kHangGuardMs));

  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(SetEvent(event));
    ASSERT_EQ(WaitForSingleObject(ack, kHangGuardMs), WAIT_OBJECT_0);
    // The release consumed the signal: nothing is left for us.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  }
  ASSERT_TRUE(SetEvent(stop));
  HANDLE threads[] = {a, b};
  ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(released.load(), 3);              // one per SetEvent, however the two waiters raced
  EXPECT_EQ(ExitCode(a), WAIT_OBJECT_0 + 1);  // ended by `stop`, not by a timeout
}

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSignalled) {
  Handle event(NewEvent(true));
  Handle a(CreateThread(nullptr, 0, WaitOnce, event.get(), 0, nullptr));
  Handle b(CreateThread(nullptr, 0, WaitOnce, event.get(), 0, nullptr));
  ASSERT_TRUE(win_internal::WaitForWaiters(event, 2, kHangGuardMs));
  ASSERT_TRUE(SetEvent(event));
  HANDLE threads[] = {a, b};
  ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(a), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(b), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(WaitForMultipleObjects, AnyReturnsLowestSignalledAndConsumesOnlyIt) {
  Handle e0(NewEvent(false)), e1(NewEvent(false)), e2(NewEvent(false));
  HANDLE all[] = {e0, e1, e2};
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(e2);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2);
  SetEvent(e2);
  SetEvent(e1);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_TIMEOUT);

  // A wait-any blocked in another thread ends on the handle signalled later.
  struct Args {
    HANDLE* handles;
  } args{all};
  Handle t(CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        return WaitForMultipleObjects(3, static_cast<Args*>(p)->handles, FALSE, kHangGuardMs);
      },
      &args, 0, nullptr));
  ASSERT_TRUE(win_internal::WaitForWaiters(e1, 1, kHangGuardMs));
  SetEvent(e1);
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(t), WAIT_OBJECT_0 + 1);
}

TEST(WaitForMultipleObjects, AllTakesEverySignalAtOnceOrNone) {
  Handle e0(NewEvent(false)), e1(NewEvent(false));
  HANDLE both[] = {e0, e1};
  SetEvent(e0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  // The failed wait-all must not have taken e0's signal.
  EXPECT_EQ(WaitForSingleObject(e0, 0), WAIT_OBJECT_0);

  SetEvent(e0);
  Handle t(CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        return WaitForMultipleObjects(2, static_cast<HANDLE*>(p), TRUE, kHangGuardMs);
      },
      both, 0, nullptr));
  ASSERT_TRUE(win_internal::WaitForWaiters(e1, 1, kHangGuardMs));
  SetEvent(e1);
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(t), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);  // both consumed
}

TEST(WaitForMultipleObjects, RefusesBadArguments) {
  Handle e(NewEvent(true));
  HANDLE twice[] = {e, e};
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetEvent(e);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);  // fine for wait-any

  EXPECT_EQ(WaitForMultipleObjects(0, twice, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, twice, FALSE, 0), WAIT_FAILED);

  HANDLE stale = NewEvent(true);
  ASSERT_TRUE(CloseHandle(stale));
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(stale, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(stale));
  EXPECT_FALSE(SetEvent(stale));
  EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
}

TEST(Event, NamedEventIsSharedWithinTheProcess) {
  Handle a(CreateEventW(nullptr, TRUE, FALSE, L"sheetwise-test-named"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  Handle b(CreateEventW(nullptr, FALSE, FALSE, L"sheetwise-test-named"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_NE(b.get(), nullptr);
  EXPECT_NE(a.get(), b.get());
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // the first creator's manual reset
  Handle other(CreateEventW(nullptr, TRUE, FALSE, L"sheetwise-test-other"));
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT);
}

namespace {

struct StartProbe {
  HANDLE started;
  DWORD seen_id = 0;
};

DWORD RecordStart(LPVOID param) {
  auto* probe = static_cast<StartProbe*>(param);
  probe->seen_id = GetCurrentThreadId();
  SetEvent(probe->started);
  return 42;
}

}  // namespace

TEST(CreateThread, SuspendedRunsNothingUntilResumed) {
  Handle started(NewEvent(true));
  StartProbe probe{started};
  DWORD id = 0;
  Handle t(CreateThread(nullptr, 0, RecordStart, &probe, CREATE_SUSPENDED, &id));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(GetThreadId(t), id);
  EXPECT_EQ(ExitCode(t), STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(started, 0), WAIT_TIMEOUT);

  EXPECT_EQ(ResumeThread(t), 1u);
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_EQ(probe.seen_id, id);
  EXPECT_EQ(ExitCode(t), 42u);
  EXPECT_EQ(OpenThread(SYNCHRONIZE, FALSE, id), nullptr);  // ended threads cannot be opened
}

TEST(CreateThread, ClosingTheHandleOfARunningThreadIsSafe) {
  Handle gate(NewEvent(true));
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, WaitOnce, gate.get(), 0, &id);
  ASSERT_NE(t, nullptr);
  Handle opened(OpenThread(SYNCHRONIZE, FALSE, id));
  ASSERT_NE(opened.get(), nullptr);
  EXPECT_EQ(GetThreadId(opened), id);
  ASSERT_TRUE(CloseHandle(t));
  EXPECT_FALSE(CloseHandle(t));
  EXPECT_EQ(SetEvent(opened), FALSE);  // a thread is not an event
  SetEvent(gate);
  ASSERT_EQ(WaitForSingleObject(opened, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(opened), WAIT_OBJECT_0);
}

namespace {

struct SetOnDestroy {
  std::atomic<bool>* flag;
  ~SetOnDestroy() { flag->store(true); }
};

void EndFromDeepInside(std::atomic<bool>* unwound) {
  SetOnDestroy guard{unwound};
  ExitThread(7);
}

}  // namespace

TEST(ExitThread, EndsTheThreadWithItsCodeAndUnwinds) {
  std::atomic<bool> unwound{false};
  Handle t(CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        EndFromDeepInside(static_cast<std::atomic<bool>*>(p));
        return 99;  // never reached
      },
      &unwound, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(t, kHangGuardMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(t), 7u);
  EXPECT_TRUE(unwound.load());
}

TEST(CreateThread, RefusesBadArgumentsAndKnowsItsCaller) {
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateThread(nullptr, 0, WaitOnce, nullptr, 0x80000000u, nullptr), nullptr);
  Handle event(NewEvent(true));
  EXPECT_EQ(ResumeThread(event), static_cast<DWORD>(-1));
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(event, &code));
  EXPECT_EQ(ExitCode(GetCurrentThread()), STILL_ACTIVE);
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));  // does nothing, as under Wine
  EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
  // A thread that only ever used std::thread still has an id, and its own.
  DWORD other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, GetCurrentThreadId());
}
