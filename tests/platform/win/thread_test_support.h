// Helpers for the tests of threads, events and message queues.
#pragma once

#include "platform/win/sync.h"

namespace sync_test {

/// How long a test waits for something that must happen: only a guard against hanging forever,
/// never a measure of speed.
inline constexpr DWORD kHangGuardMs = 60'000;

/// Closes a handle at the end of a scope.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  operator HANDLE() const { return h_; }

 private:
  HANDLE h_;
};

/// A new unnamed event.
inline HANDLE NewEvent(bool manual_reset, bool signalled = false) {
  return CreateEventW(nullptr, manual_reset, signalled, nullptr);
}

}  // namespace sync_test
