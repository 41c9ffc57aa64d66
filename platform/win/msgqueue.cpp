#include "platform/win/msgqueue.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win/msgqueue_internal.h"
#include "platform/win/sync_internal.h"

namespace win_internal {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr ULONGLONG kNever = std::numeric_limits<ULONGLONG>::max();

// ---- The clock -----------------------------------------------------------------------------

// Which clock timers follow. `epoch` changes whenever a fake clock comes or goes, so that each
// thread reschedules its timers on the new clock the next time it looks at them.
std::atomic<bool> fake_installed{false};
std::atomic<ULONGLONG> fake_now{0};
std::atomic<std::uint64_t> clock_epoch{0};

ULONGLONG RealNowMs() {
  return static_cast<ULONGLONG>(
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now().time_since_epoch())
          .count());
}

ULONGLONG NowMs() {
  return fake_installed.load(std::memory_order_acquire) ? fake_now.load() : RealNowMs();
}

// ---- Message queues ------------------------------------------------------------------------

struct Timer {
  UINT_PTR id;
  TIMERPROC proc;
  ULONGLONG period;
  ULONGLONG due;
  std::uint64_t epoch;  // the clock `due` was computed on
};

std::atomic<UINT_PTR> next_timer_id{1};

bool InFilter(UINT msg, UINT min, UINT max) {
  if (min == 0 && max == 0) return true;
  return msg >= min && msg <= max;  // an inverted range matches nothing, as under Wine
}

}  // namespace

class MessageQueue final : public QueueWaitable {
 public:
  MessageQueue(DWORD thread_id, std::shared_ptr<Waker> waker)
      : thread_id_(thread_id), waker_(std::move(waker)) {}

  DWORD thread_id() const { return thread_id_; }

  // Any thread. 0 or the Win32 error.
  DWORD Post(const MSG& msg) {
    bool wake;
    {
      std::lock_guard lock(mu_);
      if (!alive_) return ERROR_INVALID_THREAD_ID;
      if (posted_.size() >= kPostedMessageLimit) return ERROR_NOT_ENOUGH_QUOTA;
      posted_.push_back(msg);
      wake = waiting_ && wake_on_post_ && InFilter(msg.message, wait_min_, wait_max_);
      if (wake) idle_ = false;
    }
    if (wake) waker_->Notify();
    return 0;
  }

  // Owner thread.
  void PostQuit(int code) {
    bool wake;
    {
      std::lock_guard lock(mu_);
      quit_pending_ = true;
      quit_code_ = code;
      wake = waiting_ && wake_on_post_;
      if (wake) idle_ = false;
    }
    if (wake) waker_->Notify();
  }

  // Owner thread.
  bool Peek(MSG* out, UINT min, UINT max, bool remove) {
    {
      std::lock_guard lock(mu_);
      auto it = std::find_if(posted_.begin(), posted_.end(),
                             [&](const MSG& m) { return InFilter(m.message, min, max); });
      if (it != posted_.end()) {
        *out = *it;
        if (remove) posted_.erase(it);
        return true;
      }
      if (quit_pending_) {
        *out =
            MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quit_code_), 0, static_cast<DWORD>(NowMs()),
                {0, 0}};
        if (remove) quit_pending_ = false;
        return true;
      }
    }
    if (!InFilter(WM_TIMER, min, max)) return false;
    const ULONGLONG now = NowMs();
    Timer* timer = EarliestTimer(now);
    if (timer == nullptr || timer->due > now) return false;
    *out = MSG{nullptr,
               WM_TIMER,
               timer->id,
               reinterpret_cast<LPARAM>(timer->proc),
               static_cast<DWORD>(now),
               {0, 0}};
    if (remove) {
      // Keep the phase and skip the periods that went by unhandled.
      timer->due += timer->period * ((now - timer->due) / timer->period + 1);
    }
    return true;
  }

  // Owner thread: what the next wait waits for.
  void SetWaitFor(DWORD wake_mask, UINT min, UINT max) {
    std::lock_guard lock(mu_);
    wake_on_post_ = (wake_mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0;
    wake_on_timer_ = (wake_mask & QS_TIMER) != 0 && InFilter(WM_TIMER, min, max);
    wait_min_ = min;
    wait_max_ = max;
  }

  bool Arm(std::optional<SteadyClock::time_point>* timer_deadline) override {
    std::lock_guard lock(mu_);
    // The clock is read after waiting_ is set, under mu_: an Advance either happened before and
    // is seen here, or finds waiting_ set and wakes this thread.
    waiting_ = true;
    const bool fake = fake_installed.load(std::memory_order_acquire);
    const ULONGLONG now = NowMs();
    ULONGLONG next_due = kNever;
    if (wake_on_timer_) {
      if (Timer* timer = EarliestTimer(now)) next_due = timer->due;
    }
    timer_wake_at_ = fake ? next_due : kNever;
    bool ready = next_due <= now;
    if (wake_on_post_ && !ready) {
      ready = quit_pending_ || std::any_of(posted_.begin(), posted_.end(), [&](const MSG& m) {
                return InFilter(m.message, wait_min_, wait_max_);
              });
    }
    if (!fake && next_due != kNever && !ready) {
      // The real clock's milliseconds count from steady_clock's epoch (see RealNowMs).
      *timer_deadline = SteadyClock::time_point(std::chrono::milliseconds(next_due));
    }
    idle_ = !ready;
    if (idle_) idle_cv_.notify_all();
    return ready;
  }

  void Disarm() override {
    std::lock_guard lock(mu_);
    waiting_ = false;
    idle_ = false;
    timer_wake_at_ = kNever;
  }

  // Any thread: the fake clock moved to `now`.
  void ClockAdvanced(ULONGLONG now) {
    bool wake;
    {
      std::lock_guard lock(mu_);
      wake = waiting_ && timer_wake_at_ <= now;
      if (wake) idle_ = false;
    }
    if (wake) waker_->Notify();
  }

  // Any thread: the clock was replaced; a waiting owner must reschedule its timers.
  void ClockReplaced() {
    bool wake;
    {
      std::lock_guard lock(mu_);
      wake = waiting_;
    }
    if (wake) waker_->Notify();
  }

  bool WaitIdle(DWORD ms) {
    std::unique_lock lock(mu_);
    auto idle = [&] { return idle_ || !alive_; };
    if (ms == INFINITE) {
      idle_cv_.wait(lock, idle);
    } else if (!idle_cv_.wait_for(lock, std::chrono::milliseconds(ms), idle)) {
      return false;
    }
    return alive_;
  }

  void Shutdown() {
    std::lock_guard lock(mu_);
    alive_ = false;
    posted_.clear();
    idle_cv_.notify_all();
  }

  // ---- Timers: owner thread only, no lock ----

  UINT_PTR SetTimer(UINT_PTR id, ULONGLONG period, TIMERPROC proc) {
    const ULONGLONG now = NowMs();
    const std::uint64_t epoch = clock_epoch.load();
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [&](const Timer& t) { return id != 0 && t.id == id; });
    if (it != timers_.end()) {
      *it = Timer{id, proc, period, now + period, epoch};
      return id;
    }
    UINT_PTR new_id = next_timer_id.fetch_add(1);
    if (new_id == 0) new_id = next_timer_id.fetch_add(1);  // after wrapping
    timers_.push_back(Timer{new_id, proc, period, now + period, epoch});
    return new_id;
  }

  bool KillTimer(UINT_PTR id) {
    auto it =
        std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.id == id; });
    if (it == timers_.end()) return false;
    timers_.erase(it);
    return true;
  }

  bool IsLiveTimer(UINT_PTR id, TIMERPROC proc) const {
    return std::any_of(timers_.begin(), timers_.end(),
                       [&](const Timer& t) { return t.id == id && t.proc == proc; });
  }

 private:
  // Owner thread. The timer due first (ties: the one set first), after moving timers that were
  // scheduled on another clock onto the current one.
  Timer* EarliestTimer(ULONGLONG now) {
    const std::uint64_t epoch = clock_epoch.load();
    Timer* earliest = nullptr;
    for (Timer& t : timers_) {
      if (t.epoch != epoch) {
        t.epoch = epoch;
        t.due = now + t.period;
      }
      if (earliest == nullptr || t.due < earliest->due) earliest = &t;
    }
    return earliest;
  }

  const DWORD thread_id_;
  const std::shared_ptr<Waker> waker_;

  mutable std::mutex mu_;
  std::condition_variable idle_cv_;   // signalled when idle_ becomes true or alive_ false
  std::deque<MSG> posted_;            // guarded by mu_
  bool quit_pending_ = false;         // guarded by mu_
  int quit_code_ = 0;                 // guarded by mu_
  bool alive_ = true;                 // guarded by mu_
  bool waiting_ = false;              // guarded by mu_: the owner is in a wait on this queue
  bool wake_on_post_ = false;         // guarded by mu_
  bool wake_on_timer_ = false;        // guarded by mu_
  UINT wait_min_ = 0;                 // guarded by mu_
  UINT wait_max_ = 0;                 // guarded by mu_
  ULONGLONG timer_wake_at_ = kNever;  // guarded by mu_: fake-clock time the waiter wants
  bool idle_ = false;                 // guarded by mu_: waiting with nothing to take

  std::vector<Timer> timers_;  // owner thread only
};

namespace {

// Queues of living threads by thread id. Never destroyed, as detached threads may post while
// the process exits.
struct QueueRegistry {
  std::mutex mu;
  std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;  // guarded by mu
};

QueueRegistry& Registry() {
  static QueueRegistry* registry = new QueueRegistry;
  return *registry;
}

std::shared_ptr<MessageQueue> FindQueue(DWORD thread_id) {
  QueueRegistry& r = Registry();
  std::lock_guard lock(r.mu);
  auto it = r.queues.find(thread_id);
  return it == r.queues.end() ? nullptr : it->second;
}

// The calling thread's queue, created on first use; null (last error set) only when the system
// has no descriptor left for its wake object.
MessageQueue* CurrentQueue() {
  std::shared_ptr<MessageQueue>& slot = CurrentQueueSlot();
  if (slot) return slot.get();
  const std::shared_ptr<Waker>& waker = CurrentWaker();
  if (!waker) return nullptr;
  const DWORD id = GetCurrentThreadId();
  slot = std::make_shared<MessageQueue>(id, waker);
  QueueRegistry& r = Registry();
  std::lock_guard lock(r.mu);
  r.queues[id] = slot;
  return slot.get();
}

std::vector<std::shared_ptr<MessageQueue>> AllQueues() {
  QueueRegistry& r = Registry();
  std::lock_guard lock(r.mu);
  std::vector<std::shared_ptr<MessageQueue>> all;
  all.reserve(r.queues.size());
  for (auto& [id, queue] : r.queues) all.push_back(queue);
  return all;
}

}  // namespace

void ShutdownQueue(MessageQueue& queue) {
  queue.Shutdown();
  QueueRegistry& r = Registry();
  std::lock_guard lock(r.mu);
  auto it = r.queues.find(queue.thread_id());
  if (it != r.queues.end() && it->second.get() == &queue) r.queues.erase(it);
}

namespace {

// ---- Thread message handlers and registered message names --------------------------------

struct Handlers {
  std::mutex mu;
  std::unordered_map<UINT, ThreadMessageHandler> by_message;  // guarded by mu
};

Handlers& TheHandlers() {
  static Handlers* handlers = new Handlers;
  return *handlers;
}

struct MessageNames {
  std::mutex mu;
  std::unordered_map<std::wstring, UINT> ids;  // guarded by mu; keys folded to upper case
  UINT next = 0xC000;                          // guarded by mu
};

MessageNames& TheMessageNames() {
  static MessageNames* names = new MessageNames;
  return *names;
}

// Names compare without regard to case, non-ASCII letters included, whatever the user's locale.
std::wstring FoldCase(LPCWSTR name) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::wstring folded(name);
  for (wchar_t& c : folded) {
    if (c < 0x80) {
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    } else if (utf8 != nullptr) {
      c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), utf8));
    }
  }
  return folded;
}

DWORD WaitOnQueue(MessageQueue& queue, DWORD count, const HANDLE* handles, bool wait_all, DWORD ms,
                  DWORD wake_mask, UINT min, UINT max, int fd, DWORD* fd_index) {
  queue.SetWaitFor(wake_mask, min, max);
  const WaitOutcome outcome = WaitCore(handles, count, wait_all, ms, &queue, fd);
  switch (outcome.end) {
    case WaitEnd::kObject:
      return WAIT_OBJECT_0 + outcome.index;
    case WaitEnd::kQueue:
      return WAIT_OBJECT_0 + count + (fd_index != nullptr ? 1 : 0);
    case WaitEnd::kFd:
      return WAIT_OBJECT_0 + *fd_index;
    case WaitEnd::kTimeout:
      return WAIT_TIMEOUT;
    case WaitEnd::kFailed:
      break;
  }
  return WAIT_FAILED;
}

bool IsThreadWindow(HWND hwnd) {
  return hwnd == nullptr || hwnd == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
}

}  // namespace

void SetThreadMessageHandler(UINT msg, ThreadMessageHandler handler) {
  Handlers& h = TheHandlers();
  std::lock_guard lock(h.mu);
  if (handler == nullptr) {
    h.by_message.erase(msg);
  } else {
    h.by_message[msg] = handler;
  }
}

DWORD MsgWaitForFdAndMessages(int fd, DWORD ms, DWORD wake_mask) {
  MessageQueue* queue = CurrentQueue();
  if (queue == nullptr) return WAIT_FAILED;
  DWORD fd_index = 0;
  return WaitOnQueue(*queue, 0, nullptr, false, ms, wake_mask, 0, 0, fd, &fd_index);
}

bool ThreadHasMessageQueue(DWORD thread_id) {
  return FindQueue(thread_id) != nullptr;
}

void EnsureMessageQueue() {
  CurrentQueue();
}

FakeClock::FakeClock(ULONGLONG start_ms) {
  const bool was_installed = fake_installed.exchange(true);
  if (was_installed) {
    assert(!"a FakeClock is already installed");
    std::abort();
  }
  fake_now.store(start_ms);
  clock_epoch.fetch_add(1);
  for (auto& queue : AllQueues()) queue->ClockReplaced();
}

FakeClock::~FakeClock() {
  fake_installed.store(false, std::memory_order_release);
  clock_epoch.fetch_add(1);
  for (auto& queue : AllQueues()) queue->ClockReplaced();
}

void FakeClock::Advance(ULONGLONG ms) {
  const ULONGLONG now = fake_now.fetch_add(ms) + ms;
  for (auto& queue : AllQueues()) queue->ClockAdvanced(now);
}

ULONGLONG FakeClock::Now() const {
  return fake_now.load();
}

bool WaitForThreadIdle(DWORD thread_id, DWORD ms) {
  std::shared_ptr<MessageQueue> queue = FindQueue(thread_id);
  return queue != nullptr && queue->WaitIdle(ms);
}

}  // namespace win_internal

using namespace win_internal;

BOOL PostThreadMessageW(DWORD thread_id, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (CurrentQueue() == nullptr) return FALSE;  // posting makes the caller a queue owner too
  std::shared_ptr<MessageQueue> queue = FindQueue(thread_id);
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  const DWORD error =
      queue->Post(MSG{nullptr, msg, wparam, lparam, static_cast<DWORD>(NowMs()), {0, 0}});
  if (error != 0) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

void PostQuitMessage(int exit_code) {
  if (MessageQueue* queue = CurrentQueue()) queue->PostQuit(exit_code);
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max, UINT flags) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsThreadWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MessageQueue* queue = CurrentQueue();
  return queue != nullptr && queue->Peek(msg, min, max, (flags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!IsThreadWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  MessageQueue* queue = CurrentQueue();
  if (queue == nullptr) return -1;
  while (!queue->Peek(msg, min, max, true)) {
    if (WaitOnQueue(*queue, 0, nullptr, false, INFINITE, QS_ALLINPUT, min, max, -1, nullptr) ==
        WAIT_FAILED) {
      return -1;
    }
  }
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (msg->hwnd != nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    // Only a procedure of a live timer is called: a forged or stale WM_TIMER must not make us
    // jump to an arbitrary address.
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    MessageQueue* queue = CurrentQueue();
    if (queue != nullptr && queue->IsLiveTimer(msg->wParam, proc)) {
      proc(nullptr, WM_TIMER, msg->wParam, GetTickCount());
      return 0;
    }
  }
  ThreadMessageHandler handler = nullptr;
  {
    Handlers& h = TheHandlers();
    std::lock_guard lock(h.mu);
    auto it = h.by_message.find(msg->message);
    if (it != h.by_message.end()) handler = it->second;
  }
  return handler != nullptr ? handler(*msg) : 0;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms,
                                DWORD wake_mask) {
  if (count >= MAXIMUM_WAIT_OBJECTS || (count > 0 && handles == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  MessageQueue* queue = CurrentQueue();
  if (queue == nullptr) return WAIT_FAILED;
  return WaitOnQueue(*queue, count, handles, wait_all != FALSE, ms, wake_mask, 0, 0, -1, nullptr);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc) {
  if (hwnd != nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  MessageQueue* queue = CurrentQueue();
  if (queue == nullptr) return 0;
  const UINT period = std::clamp(elapse_ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  return queue->SetTimer(id, period, proc);
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  if (hwnd != nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MessageQueue* queue = CurrentQueue();
  if (queue == nullptr) return FALSE;
  if (!queue->KillTimer(id)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

UINT RegisterWindowMessageW(LPCWSTR name) {
  if (name == nullptr || *name == L'\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring key = FoldCase(name);
  MessageNames& names = TheMessageNames();
  std::lock_guard lock(names.mu);
  auto it = names.ids.find(key);
  if (it != names.ids.end()) return it->second;
  if (names.next > 0xFFFF) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const UINT id = names.next++;
  names.ids.emplace(std::move(key), id);
  return id;
}

DWORD GetTickCount() {
  return static_cast<DWORD>(NowMs());
}

ULONGLONG GetTickCount64() {
  return NowMs();
}
