#include "platform/win/sync.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/win/msgqueue_internal.h"
#include "platform/win/sync_internal.h"

namespace win_internal {
namespace {

enum class ObjectType { kEvent, kThread };

struct KernelObject {
  KernelObject(ObjectType t, bool manual) : type(t), manual_reset(manual) {}
  virtual ~KernelObject() = default;

  const ObjectType type;
  const bool manual_reset;
  bool signalled = false;       // guarded by Kernel::mu
  std::vector<Waker*> waiters;  // guarded by Kernel::mu; each alive while it is listed
};

struct ThreadObject final : KernelObject {
  ThreadObject(DWORD thread_id, LPTHREAD_START_ROUTINE s, LPVOID p)
      : KernelObject(ObjectType::kThread, true), id(thread_id), start(s), param(p) {}

  const DWORD id;
  const LPTHREAD_START_ROUTINE start;  // null for threads not made by CreateThread
  const LPVOID param;
  DWORD exit_code = STILL_ACTIVE;  // guarded by Kernel::mu
  bool suspended = false;          // guarded by Kernel::mu
};

// Every kernel object's state and the handle table, under one mutex (see sync.h for why).
struct Kernel {
  std::mutex mu;
  std::condition_variable waiters_added;  // notified when a waiter registers, for tests
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> handles;  // guarded by mu
  std::uintptr_t next_handle = 0x100;                                         // guarded by mu
  std::unordered_map<DWORD, std::weak_ptr<ThreadObject>> threads;             // guarded by mu
  std::unordered_map<std::wstring, std::weak_ptr<KernelObject>> named;        // guarded by mu
};

// Never destroyed: detached threads may still signal objects while the process exits.
Kernel& TheKernel() {
  static Kernel* kernel = new Kernel;
  return *kernel;
}

std::atomic<DWORD> next_thread_id{1};

const HANDLE kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

std::uintptr_t HandleValue(HANDLE h) {
  return reinterpret_cast<std::uintptr_t>(h);
}

// Kernel::mu held.
HANDLE AddHandle(Kernel& k, std::shared_ptr<KernelObject> object) {
  const std::uintptr_t value = k.next_handle;
  k.next_handle += 4;  // multiples of four, as Windows hands them out
  k.handles.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

// Kernel::mu held. Null when `h` is not open.
KernelObject* Lookup(Kernel& k, HANDLE h) {
  auto it = k.handles.find(HandleValue(h));
  return it == k.handles.end() ? nullptr : it->second.get();
}

// Kernel::mu held.
void Signal(KernelObject& object) {
  object.signalled = true;
  for (Waker* waiter : object.waiters) waiter->Notify();
}

// Kernel::mu held.
void Consume(KernelObject& object) {
  if (!object.manual_reset) object.signalled = false;
}

// Set by the CreateThread trampoline before the new thread's state is first touched.
thread_local std::shared_ptr<ThreadObject>* adopted_thread = nullptr;

struct ThreadState {
  ThreadState() {
    if (adopted_thread != nullptr) {
      thread = *adopted_thread;
      return;
    }
    thread = std::make_shared<ThreadObject>(next_thread_id.fetch_add(1), nullptr, nullptr);
    Kernel& k = TheKernel();
    std::lock_guard lock(k.mu);
    k.threads.emplace(thread->id, thread);
  }

  // Runs when the thread ends, after its start routine returned or ExitThread unwound it and
  // after its thread_local objects were destroyed: the queue goes first, so that whoever sees the
  // handle signalled also sees posts fail.
  ~ThreadState() {
    if (queue) ShutdownQueue(*queue);
    queue.reset();
    Kernel& k = TheKernel();
    std::lock_guard lock(k.mu);
    k.threads.erase(thread->id);
    thread->exit_code = exit_code;
    Signal(*thread);
  }

  std::shared_ptr<ThreadObject> thread;
  std::shared_ptr<Waker> waker;
  std::shared_ptr<MessageQueue> queue;
  DWORD exit_code = 0;
};

// The state lives on the heap and ends in a pthread key destructor, which glibc runs after
// every C++ thread_local destructor of the thread: a thread_local of another layer (a COM
// apartment's) may still post, wait or ask for the thread id while it is destroyed. The
// thread_local pointer is trivially destructible, so it stays readable until then. The main
// thread's state is never ended: key destructors do not run at process exit.
thread_local ThreadState* current_state = nullptr;

void EndThreadState(void* state) {
  current_state = nullptr;
  delete static_cast<ThreadState*>(state);
}

pthread_key_t StateKey() {
  static const pthread_key_t key = [] {
    pthread_key_t k;
    if (pthread_key_create(&k, EndThreadState) != 0) std::abort();  // only at start-up
    return k;
  }();
  return key;
}

ThreadState& CurrentThreadState() {
  if (current_state == nullptr) {
    auto* state = new ThreadState;
    pthread_setspecific(StateKey(), state);
    current_state = state;
  }
  return *current_state;
}

void RunThread(std::shared_ptr<ThreadObject> object) {
  adopted_thread = &object;
  ThreadState& state = CurrentThreadState();
  adopted_thread = nullptr;
  state.exit_code = object->start(object->param);
}

// Kernel::mu not held. False when the system refused a thread.
bool StartThread(const std::shared_ptr<ThreadObject>& object) {
  try {
    std::thread(RunThread, object).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

int PollTimeoutMs(std::chrono::steady_clock::time_point now,
                  std::optional<std::chrono::steady_clock::time_point> until) {
  if (!until) return -1;
  if (*until <= now) return 0;
  // Round up: waking a little early would only make the caller poll again at once.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*until - now).count();
  return static_cast<int>(std::min<std::int64_t>(ms, 0x7FFFFFFF));
}

}  // namespace

std::shared_ptr<Waker> Waker::Create() {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
  }
  return std::make_shared<Waker>(fd);
}

Waker::~Waker() {
  close(fd_);
}

void Waker::Notify() const noexcept {
  const std::uint64_t one = 1;
  // EAGAIN means the counter is saturated, which still wakes the poll.
  [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void Waker::Drain() const noexcept {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(fd_, &count, sizeof count);
}

const std::shared_ptr<Waker>& CurrentWaker() {
  ThreadState& state = CurrentThreadState();
  if (!state.waker) state.waker = Waker::Create();
  return state.waker;
}

std::shared_ptr<MessageQueue>& CurrentQueueSlot() {
  return CurrentThreadState().queue;
}

WaitOutcome WaitCore(const HANDLE* handles, DWORD count, bool wait_all, DWORD ms,
                     QueueWaitable* queue, int fd) {
  assert((fd < 0 || !wait_all) && "a wait-all cannot include a file descriptor");
  const std::shared_ptr<Waker> waker = CurrentWaker();
  if (!waker) return {WaitEnd::kFailed};
  Kernel& k = TheKernel();

  // Null entries stand for the current-thread pseudo handle, which never becomes signalled.
  std::vector<std::shared_ptr<KernelObject>> objects(count);
  {
    std::lock_guard lock(k.mu);
    for (DWORD i = 0; i < count; ++i) {
      if (handles[i] == kCurrentThreadPseudo) continue;
      auto it = k.handles.find(HandleValue(handles[i]));
      if (it == k.handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return {WaitEnd::kFailed};
      }
      objects[i] = it->second;
    }
    if (wait_all) {
      for (DWORD i = 0; i < count; ++i) {
        for (DWORD j = i + 1; j < count; ++j) {
          if (objects[i] && objects[i] == objects[j]) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return {WaitEnd::kFailed};
          }
        }
      }
    }
    for (auto& object : objects) {
      if (object) object->waiters.push_back(waker.get());
    }
  }
  if (count > 0) k.waiters_added.notify_all();

  struct Cleanup {
    Kernel& k;
    std::vector<std::shared_ptr<KernelObject>>& objects;
    Waker* waker;
    QueueWaitable* queue;
    ~Cleanup() {
      if (queue) queue->Disarm();
      std::lock_guard lock(k.mu);
      for (auto& object : objects) {
        if (!object) continue;
        auto& list = object->waiters;
        list.erase(std::find(list.begin(), list.end(), waker));
      }
    }
  } cleanup{k, objects, waker.get(), queue};

  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> deadline;
  if (ms != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(ms);

  for (;;) {
    std::optional<Clock::time_point> timer_deadline;
    const bool queue_ready = queue != nullptr && queue->Arm(&timer_deadline);
    {
      std::lock_guard lock(k.mu);
      if (!wait_all) {
        for (DWORD i = 0; i < count; ++i) {
          if (objects[i] && objects[i]->signalled) {
            Consume(*objects[i]);
            return {WaitEnd::kObject, i};
          }
        }
      } else if (queue == nullptr || queue_ready) {
        const bool all = std::all_of(objects.begin(), objects.end(),
                                     [](const auto& o) { return o && o->signalled; });
        if (all) {
          for (auto& object : objects) Consume(*object);
          return {WaitEnd::kObject, 0};
        }
      }
    }

    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> until = deadline;
    if (timer_deadline && (!until || *timer_deadline < *until)) until = timer_deadline;
    const bool ready_now = queue_ready && !wait_all;
    const bool expired = deadline && *deadline <= now;
    const int timeout = ready_now || expired ? 0 : PollTimeoutMs(now, until);

    pollfd fds[2] = {{waker->fd(), POLLIN, 0}, {fd, POLLIN, 0}};
    const int n = poll(fds, fd >= 0 ? 2 : 1, timeout);
    if (n < 0 && errno != EINTR) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return {WaitEnd::kFailed};
    }
    if (n > 0 && fd >= 0 && fds[1].revents != 0) {
      if (fds[1].revents & POLLNVAL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return {WaitEnd::kFailed};
      }
      return {WaitEnd::kFd};
    }
    if (ready_now) return {WaitEnd::kQueue};
    if (n > 0 && (fds[0].revents & POLLIN)) waker->Drain();
    if (expired || (n == 0 && deadline && *deadline <= Clock::now())) {
      return {WaitEnd::kTimeout};
    }
  }
}

bool WaitForWaiters(HANDLE handle, DWORD count, DWORD ms) {
  Kernel& k = TheKernel();
  std::unique_lock lock(k.mu);
  auto enough = [&] {
    KernelObject* object = Lookup(k, handle);
    return object == nullptr || object->waiters.size() >= count;
  };
  if (ms == INFINITE) {
    k.waiters_added.wait(lock, enough);
  } else if (!k.waiters_added.wait_for(lock, std::chrono::milliseconds(ms), enough)) {
    return false;
  }
  return Lookup(k, handle) != nullptr;
}

}  // namespace win_internal

using namespace win_internal;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
  Kernel& k = TheKernel();
  std::lock_guard lock(k.mu);
  if (name != nullptr && *name != L'\0') {
    auto it = k.named.find(name);
    if (it != k.named.end()) {
      if (auto existing = it->second.lock()) {
        if (existing->type != ObjectType::kEvent) {
          SetLastError(ERROR_INVALID_HANDLE);
          return nullptr;
        }
        SetLastError(ERROR_ALREADY_EXISTS);
        return AddHandle(k, std::move(existing));
      }
      k.named.erase(it);
    }
  }
  auto event = std::make_shared<KernelObject>(ObjectType::kEvent, manual_reset != FALSE);
  event->signalled = initial_state != FALSE;
  if (name != nullptr && *name != L'\0') k.named.emplace(name, event);
  SetLastError(ERROR_SUCCESS);
  return AddHandle(k, std::move(event));
}

namespace {

BOOL SetEventState(HANDLE handle, bool signalled) {
  Kernel& k = TheKernel();
  std::lock_guard lock(k.mu);
  KernelObject* object = Lookup(k, handle);
  if (object == nullptr || object->type != ObjectType::kEvent) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (signalled) {
    Signal(*object);
  } else {
    object->signalled = false;
  }
  return TRUE;
}

// The calling thread's object when `handle` is the pseudo handle. Called before taking
// Kernel::mu, because a thread's first call creates its state under that mutex.
std::shared_ptr<ThreadObject> SelfFor(HANDLE handle) {
  return handle == kCurrentThreadPseudo ? CurrentThreadState().thread : nullptr;
}

// Kernel::mu held. The thread behind a handle (`self` for the pseudo handle), or null.
std::shared_ptr<ThreadObject> LookupThread(Kernel& k, HANDLE handle,
                                           std::shared_ptr<ThreadObject> self) {
  if (self) return self;
  auto it = k.handles.find(HandleValue(handle));
  if (it == k.handles.end() || it->second->type != ObjectType::kThread) return nullptr;
  return std::static_pointer_cast<ThreadObject>(it->second);
}

}  // namespace

BOOL SetEvent(HANDLE event) {
  return SetEventState(event, true);
}

BOOL ResetEvent(HANDLE event) {
  return SetEventState(event, false);
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == kCurrentThreadPseudo) return TRUE;
  std::shared_ptr<KernelObject> released;  // destroyed outside the lock
  Kernel& k = TheKernel();
  std::lock_guard lock(k.mu);
  auto it = k.handles.find(HandleValue(handle));
  if (it == k.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  released = std::move(it->second);
  k.handles.erase(it);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) {
  return WaitForMultipleObjects(1, &handle, FALSE, ms);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const WaitOutcome outcome = WaitCore(handles, count, wait_all != FALSE, ms, nullptr, -1);
  switch (outcome.end) {
    case WaitEnd::kObject:
      return WAIT_OBJECT_0 + outcome.index;
    case WaitEnd::kTimeout:
      return WAIT_TIMEOUT;
    default:
      return WAIT_FAILED;
  }
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD thread_id) {
  if (start == nullptr || (flags & ~(CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<ThreadObject>(next_thread_id.fetch_add(1), start, param);
  const bool suspended = (flags & CREATE_SUSPENDED) != 0;
  HANDLE handle;
  {
    Kernel& k = TheKernel();
    std::lock_guard lock(k.mu);
    object->suspended = suspended;
    k.threads.emplace(object->id, object);
    handle = AddHandle(k, object);
  }
  if (!suspended && !StartThread(object)) {
    Kernel& k = TheKernel();
    std::lock_guard lock(k.mu);
    k.handles.erase(HandleValue(handle));
    k.threads.erase(object->id);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (thread_id != nullptr) *thread_id = object->id;
  return handle;
}

DWORD ResumeThread(HANDLE thread) {
  std::shared_ptr<ThreadObject> self = SelfFor(thread);
  std::shared_ptr<ThreadObject> to_start;
  {
    Kernel& k = TheKernel();
    std::lock_guard lock(k.mu);
    to_start = LookupThread(k, thread, std::move(self));
    if (!to_start) {
      SetLastError(ERROR_INVALID_HANDLE);
      return static_cast<DWORD>(-1);
    }
    if (!to_start->suspended) return 0;
    to_start->suspended = false;
  }
  if (StartThread(to_start)) return 1;
  // The thread will never run: end it, so that nobody waits for it forever.
  Kernel& k = TheKernel();
  std::lock_guard lock(k.mu);
  k.threads.erase(to_start->id);
  to_start->exit_code = ERROR_NOT_ENOUGH_MEMORY;
  Signal(*to_start);
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return static_cast<DWORD>(-1);
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  std::shared_ptr<ThreadObject> self = SelfFor(thread);
  Kernel& k = TheKernel();
  std::lock_guard lock(k.mu);
  std::shared_ptr<ThreadObject> object = LookupThread(k, thread, std::move(self));
  if (object == nullptr || exit_code == nullptr) {
    SetLastError(object == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *exit_code = object->exit_code;
  return TRUE;
}

void ExitThread(DWORD exit_code) {
  CurrentThreadState().exit_code = exit_code;
  // Unwinds like an exception that nothing may catch; the thread's state is ended by its key
  // destructor on the way out.
  pthread_exit(nullptr);
}

DWORD GetCurrentThreadId() {
  return CurrentThreadState().thread->id;
}

HANDLE GetCurrentThread() {
  return kCurrentThreadPseudo;
}

DWORD GetThreadId(HANDLE thread) {
  std::shared_ptr<ThreadObject> self = SelfFor(thread);
  Kernel& k = TheKernel();
  std::lock_guard lock(k.mu);
  std::shared_ptr<ThreadObject> object = LookupThread(k, thread, std::move(self));
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return object->id;
}

HANDLE OpenThread(DWORD, BOOL, DWORD thread_id) {
  Kernel& k = TheKernel();
  std::lock_guard lock(k.mu);
  auto it = k.threads.find(thread_id);
  std::shared_ptr<ThreadObject> object = it == k.threads.end() ? nullptr : it->second.lock();
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return AddHandle(k, std::move(object));
}

void Sleep(DWORD ms) {
  if (ms == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}
