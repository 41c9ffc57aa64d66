// Kernel objects that threads wait on: events and threads, their handles, and the wait functions.
//
// Stands in for the synchronisation and thread parts of <synchapi.h>, <processthreadsapi.h> and
// <handleapi.h>. Left out: mutexes, semaphores, waitable timers, APCs and alertable waits,
// SuspendThread, thread priorities and affinity, security attributes, handle inheritance,
// DuplicateHandle, named objects shared between processes (a named event is shared within this
// process only).
//
// How waiting works, and why: every thread that waits owns one wake object, a Linux eventfd.
// The state of all kernel objects (signalled or not, their waiters, the handle table) lives under
// one process-wide mutex; a waiter registers its wake object with every object it waits on, then
// checks the objects under that mutex, and sleeps in poll() on its eventfd only when nothing it
// waits for is ready. SetEvent and thread exit write to the eventfd of each registered waiter;
// the waiter re-checks after every wake-up, so spurious wake-ups are harmless and auto-reset
// events are consumed exactly once (the first waiter to re-check takes the signal; the others go
// back to sleep). Because the sleep is a poll(), the same wait can include the thread's message
// queue (posts write the same eventfd) and a file descriptor such as the terminal
// (win_internal::MsgWaitForFdAndMessages in msgqueue_internal.h). One mutex for all objects
// keeps wait-all atomic without lock ordering; the program has a handful of objects and threads,
// so it is never contended in practice.
//
// Timeouts of these waits run on the real monotonic clock, even while a test has installed a
// fake clock (win_internal::FakeClock): only message-queue timers follow the fake clock.
//
// Handles are small integers from a table that never reuses a value, so a stale or made-up handle
// fails with ERROR_INVALID_HANDLE instead of touching freed memory. Objects are
// reference-counted: closing the handle of a running thread or of an event that another thread
// is waiting on is safe.
#pragma once

#include "platform/win/wintypes.h"

inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD CREATE_SUSPENDED = 0x00000004;
inline constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x00010000;
inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD THREAD_QUERY_LIMITED_INFORMATION = 0x0800;
inline constexpr DWORD THREAD_ALL_ACCESS = 0x001FFFFF;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

/// Creates an event. A manual-reset event stays signalled until ResetEvent and releases every
/// waiter; an auto-reset event releases exactly one waiter per SetEvent and resets itself.
/// `security` is ignored. A non-null `name` names the event within this process: a second
/// CreateEventW with the same name (case-sensitive) returns a new handle to the same event and
/// sets ERROR_ALREADY_EXISTS (its flags are then ignored, as on Windows). Any thread may call.
/// Returns null on failure (GetLastError says why).
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                    LPCWSTR name);
/// Signals an event. FALSE with ERROR_INVALID_HANDLE for a handle that is not an open event.
BOOL SetEvent(HANDLE event);
/// Makes an event non-signalled. FALSE with ERROR_INVALID_HANDLE as SetEvent.
BOOL ResetEvent(HANDLE event);

/// Closes a handle; the object lives on while other handles or a running thread use it.
/// FALSE with ERROR_INVALID_HANDLE for a handle that is not open (closing twice included), null
/// and INVALID_HANDLE_VALUE. Closing the pseudo handle of GetCurrentThread does nothing and
/// returns TRUE, as on Windows.
BOOL CloseHandle(HANDLE handle);

/// Waits until the object is signalled or `ms` milliseconds (INFINITE: no limit; 0: just test)
/// pass on the real clock. Returns WAIT_OBJECT_0 (an auto-reset event is then reset),
/// WAIT_TIMEOUT, or WAIT_FAILED with ERROR_INVALID_HANDLE. Does not create a message queue and
/// does not dispatch anything: a thread that owns timers or receives cross-thread calls should
/// wait with MsgWaitForMultipleObjects instead.
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
/// Waits for any one (`wait_all` FALSE) or all (`wait_all` TRUE) of `count` objects, at most
/// MAXIMUM_WAIT_OBJECTS. Wait-any returns WAIT_OBJECT_0 + the lowest index among the signalled
/// objects and consumes only that one; wait-all returns WAIT_OBJECT_0 once all are signalled at
/// the same moment and consumes them together. WAIT_TIMEOUT, or WAIT_FAILED with
/// ERROR_INVALID_PARAMETER (count 0 or too large, null array, one object twice in a wait-all) or
/// ERROR_INVALID_HANDLE.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms);

/// Starts `start(param)` on a new thread and returns its handle, signalled when the thread ends;
/// its id goes to `*thread_id` when that is not null. With CREATE_SUSPENDED nothing runs until
/// ResumeThread. `security` and `stack_size` are ignored (threads get the system default
/// stack). The thread's return value (or ExitThread's argument) becomes its exit code. An
/// exception escaping `start` ends the process, as an unhandled exception does on Windows.
/// Returns null with ERROR_INVALID_PARAMETER for a null `start` or unknown flags, or
/// ERROR_NOT_ENOUGH_MEMORY when the system cannot start a thread.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack_size, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD flags, LPDWORD thread_id);
/// Lets a thread created with CREATE_SUSPENDED run. Returns the previous suspend count: 1 for
/// the first call on a suspended thread, 0 when it was already running (nothing happens), or
/// (DWORD)-1 with ERROR_INVALID_HANDLE (not a thread) or ERROR_NOT_ENOUGH_MEMORY (the system
/// could not start it; the thread then ends with exit code ERROR_NOT_ENOUGH_MEMORY).
DWORD ResumeThread(HANDLE thread);
/// Stores the thread's exit code, or STILL_ACTIVE while it runs (or has not been resumed).
/// FALSE with ERROR_INVALID_HANDLE when `thread` is not a thread handle.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
/// Ends the calling thread with `exit_code`, unwinding its stack (destructors run, as with
/// pthread_exit; a catch (...) that swallows the unwind aborts the process). On a thread not
/// created by CreateThread the code is recorded for OpenThread handles the same way.
[[noreturn]] void ExitThread(DWORD exit_code);
/// The id of the calling thread: non-zero, unique in this process and never reused (unlike on
/// Windows, so a stale id can never reach a newer thread).
DWORD GetCurrentThreadId();
/// A pseudo handle meaning "the calling thread" for GetThreadId and GetExitCodeThread; closing
/// it does nothing, and waiting on it times out (a thread never sees its own end).
HANDLE GetCurrentThread();
/// The id of the thread behind a handle (or the pseudo handle); 0 with ERROR_INVALID_HANDLE.
DWORD GetThreadId(HANDLE thread);
/// Opens a new handle to a running thread of this process, signalled when it ends. A thread is
/// known from its first call into this layer (CreateThread threads from their creation) until it
/// ends. `access` and `inherit` are ignored. Null with ERROR_INVALID_PARAMETER for an unknown or
/// ended thread.
HANDLE OpenThread(DWORD access, BOOL inherit, DWORD thread_id);

/// Suspends the calling thread for `ms` milliseconds of real time (0 yields). For program code
/// only: tests wait on events, never on time.
void Sleep(DWORD ms);
