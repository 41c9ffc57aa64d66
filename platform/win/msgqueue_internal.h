// Hooks into the thread message queues for the COM runtime, the CAD host's event loop and tests;
// none of these exist on Windows.
//
// - SetThreadMessageHandler: what DispatchMessageW does with a thread message of a given id (the
//   COM runtime's cross-thread calls travel as RegisterWindowMessageW messages whose lParam
//   points to a call packet).
// - MsgWaitForFdAndMessages: the host waits on terminal input and its queue in one call.
// - ThreadHasMessageQueue: whether posting to a thread can still work (an apartment whose owner
//   thread ended answers RPC_E_DISCONNECTED). To wait for a thread's end, use OpenThread.
// - FakeClock, WaitForThreadIdle and WaitForWaiters: tests drive timers by hand and know when
//   another thread is blocked, without sleeping.
#pragma once

#include "platform/win/msgqueue.h"
#include "platform/win/wintypes.h"

namespace win_internal {

using ThreadMessageHandler = LRESULT (*)(const MSG&);

/// Makes DispatchMessageW of a thread message with id `msg` call `handler` (on the dispatching
/// thread) and return its result; a null `handler` removes the registration. Process-wide; any
/// thread may call, and a dispatch on another thread at the same time sees either the old or
/// the new handler. A handler for WM_TIMER only sees timer messages without a live procedure.
void SetThreadMessageHandler(UINT msg, ThreadMessageHandler handler);

/// Waits until `fd` is readable (or at end of file, or in error), input of the kinds in
/// `wake_mask` is in the calling thread's queue (as MsgWaitForMultipleObjects), or `ms` pass on
/// the real clock. Returns WAIT_OBJECT_0 for the fd (it wins when both are ready, so a flood of
/// messages cannot starve the terminal), WAIT_OBJECT_0 + 1 for queue input, WAIT_TIMEOUT, or
/// WAIT_FAILED with ERROR_INVALID_HANDLE for an fd that is not open. `fd` -1 waits for the
/// queue alone. Reads nothing from `fd`. Creates the calling thread's queue.
DWORD MsgWaitForFdAndMessages(int fd, DWORD ms, DWORD wake_mask);

/// Whether thread `thread_id` has a message queue now (it called a queue function and has not
/// ended). Any thread may call; the answer may be stale by the time it returns, so a post can
/// still fail afterwards and must be checked.
bool ThreadHasMessageQueue(DWORD thread_id);

/// Makes sure the calling thread has a message queue (as PeekMessageW with PM_NOREMOVE would),
/// so that other threads can post to it from now on.
void EnsureMessageQueue();

/// A clock for tests, installed process-wide for its lifetime: GetTickCount, message times and
/// every timer follow it (timers of all threads are rescheduled on it when it is installed and
/// again on the real clock when it is destroyed). Time moves only by Advance. Only one may be
/// installed at a time (a second one aborts: programmer error). Waits with a timeout still run
/// on the real clock.
///
///   win_internal::FakeClock clock;
///   UINT_PTR id = SetTimer(nullptr, 0, 1000, OnTick);
///   clock.Advance(1000);   // PeekMessageW now hands out the timer's WM_TIMER
class FakeClock {
 public:
  /// Installs the clock, starting at `start_ms`.
  explicit FakeClock(ULONGLONG start_ms = 1'000'000);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  /// Moves the clock forward and wakes every thread blocked in GetMessageW,
  /// MsgWaitForMultipleObjects or MsgWaitForFdAndMessages whose timer is now due. Any thread.
  void Advance(ULONGLONG ms);
  ULONGLONG Now() const;
};

/// Blocks until thread `thread_id` waits in GetMessageW, MsgWaitForMultipleObjects or
/// MsgWaitForFdAndMessages with none of the queue input it waits for present (it has handled
/// everything posted and every due timer), or `ms` pass on the real clock. Returns false on
/// timeout or when the thread has no queue. For tests: lets them advance a fake clock exactly
/// when the loop is blocked, without sleeping.
bool WaitForThreadIdle(DWORD thread_id, DWORD ms);

/// Blocks until at least `count` threads are in a wait on the object behind `handle` (an event
/// or a thread), or `ms` pass on the real clock. Returns false on timeout or for a handle that
/// is not open. For tests: a thread counted here sees every SetEvent from now on.
bool WaitForWaiters(HANDLE handle, DWORD count, DWORD ms);

}  // namespace win_internal
