// The wait machinery shared by sync.cpp and msgqueue.cpp: per-thread wake objects, per-thread
// state, and the one wait loop behind every Wait* function. Not for use outside platform/win.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "platform/win/wintypes.h"

namespace win_internal {

/// A thread's wake object: an eventfd that anything the thread may be waiting for writes to.
/// Shared-owned so that a poster holding it never writes to a closed (or reused) descriptor.
class Waker {
 public:
  /// Null with GetLastError set when the system has no descriptors left.
  static std::shared_ptr<Waker> Create();
  explicit Waker(int fd) : fd_(fd) {}
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;

  int fd() const { return fd_; }
  /// Makes the next (or current) poll of fd() return. Any thread; never blocks.
  void Notify() const noexcept;
  /// Clears pending notifications. Owner thread only.
  void Drain() const noexcept;

 private:
  int fd_;
};

/// A message queue as one more thing a wait can end on; implemented in msgqueue.cpp.
class QueueWaitable {
 public:
  /// Called by the owner thread before each sleep: marks the queue as waited on, so that a post
  /// or a fake-clock advance from now on wakes the thread, and says whether input it waits for
  /// is present. Sets `*timer_deadline` to the real-clock moment the next timer falls due, when
  /// timers run on the real clock.
  virtual bool Arm(std::optional<std::chrono::steady_clock::time_point>* timer_deadline) = 0;
  /// Ends the wait: posts no longer wake the thread.
  virtual void Disarm() = 0;

 protected:
  ~QueueWaitable() = default;
};

class MessageQueue;
/// Detaches the queue from its ended thread: later posts fail, pending messages are dropped.
/// Defined in msgqueue.cpp.
void ShutdownQueue(MessageQueue& queue);

/// The calling thread's wake object, created on first use; null when that failed (last error
/// set).
const std::shared_ptr<Waker>& CurrentWaker();
/// Where the calling thread keeps its message queue (msgqueue.cpp creates it on first use). The
/// queue is shut down when the thread ends, before its thread handles are signalled.
std::shared_ptr<MessageQueue>& CurrentQueueSlot();

enum class WaitEnd { kObject, kQueue, kFd, kTimeout, kFailed };
struct WaitOutcome {
  WaitEnd end;
  DWORD index = 0;  ///< the object that ended a wait-any
};

/// Waits for the objects behind `handles` (any one, or all at once with `wait_all`), for input
/// in `queue` (the calling thread's, may be null) and for `fd` to be readable (-1: none; only
/// with wait-any), for at most `ms` real milliseconds. Objects come first (lowest index), then
/// the fd, then the queue. kFailed leaves the reason in GetLastError. `count` is checked by the
/// caller.
WaitOutcome WaitCore(const HANDLE* handles, DWORD count, bool wait_all, DWORD ms,
                     QueueWaitable* queue, int fd);

}  // namespace win_internal
