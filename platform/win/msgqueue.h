// Thread message queues, window-less timers and the tick clock, as a message loop uses them.
//
// Stands in for the thread-message part of <winuser.h> and for GetTickCount. There are no
// windows: every message is a thread message (hwnd null), a non-null hwnd fails with
// ERROR_INVALID_WINDOW_HANDLE, and there is no sent-message, input, paint or hook machinery.
// Left out as well: PM_QS_* filters of PeekMessageW (ignored), GetQueueStatus, message time and
// position queries, and timers bound to windows.
//
// Each thread gets its queue on its first call to any function here (PostThreadMessageW, the
// peek, get and wait functions, SetTimer, KillTimer, PostQuitMessage); the queue ends with its
// thread, and messages still in it are dropped. Messages come out in this order, as on Windows:
// posted messages first (oldest first, among those inside the filter), then WM_QUIT once
// PostQuitMessage was called and no posted message is left, then WM_TIMER of due timers.
//
// Timers run on the installed clock: the real monotonic clock, or a win_internal::FakeClock that
// a test installs (msgqueue_internal.h). A due timer is not queued: PeekMessageW and GetMessageW
// make its WM_TIMER when they find the queue otherwise empty, so at most one is pending per timer
// and a slow handler never causes a burst of catch-up messages; the timer keeps its phase (a 1000
// ms timer last due at 3000 is next due at 4000, however late it was handled).
//
// A message loop in the usual shape:
//
//   MSG msg;
//   while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
//     TranslateMessage(&msg);
//     DispatchMessageW(&msg);
//   }
#pragma once

#include "platform/win/sync.h"
#include "platform/win/wintypes.h"

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;
inline constexpr UINT PM_NOYIELD = 0x0002;

inline constexpr DWORD QS_KEY = 0x0001;
inline constexpr DWORD QS_MOUSEMOVE = 0x0002;
inline constexpr DWORD QS_MOUSEBUTTON = 0x0004;
inline constexpr DWORD QS_POSTMESSAGE = 0x0008;
inline constexpr DWORD QS_TIMER = 0x0010;
inline constexpr DWORD QS_PAINT = 0x0020;
inline constexpr DWORD QS_SENDMESSAGE = 0x0040;
inline constexpr DWORD QS_HOTKEY = 0x0080;
inline constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
inline constexpr DWORD QS_RAWINPUT = 0x0400;
inline constexpr DWORD QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
inline constexpr DWORD QS_INPUT = QS_MOUSE | QS_KEY | QS_RAWINPUT;
inline constexpr DWORD QS_ALLEVENTS = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY;
inline constexpr DWORD QS_ALLINPUT =
    QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY | QS_SENDMESSAGE;

/// Shortest and longest timer period; SetTimer clamps to them, as Windows does.
inline constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
inline constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;
/// How many posted messages one queue holds; PostThreadMessageW fails beyond it, as on Windows
/// with its default quota.
inline constexpr DWORD kPostedMessageLimit = 10000;

using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

/// Appends a message to the queue of thread `thread_id` (the calling thread included) and wakes
/// it if it waits for posted messages. Any thread may call. FALSE with ERROR_INVALID_THREAD_ID
/// when that thread has no queue (it never called a queue function, or has ended), or
/// ERROR_NOT_ENOUGH_QUOTA when its queue already holds kPostedMessageLimit messages.
BOOL PostThreadMessageW(DWORD thread_id, UINT msg, WPARAM wparam, LPARAM lparam);
/// Makes the calling thread's queue hand out WM_QUIT (wParam = `exit_code`) once no posted
/// message is left. Calling it again replaces the code; one WM_QUIT comes out either way.
void PostQuitMessage(int exit_code);

/// Takes the next message of the calling thread's queue (see the order above) whose id lies in
/// [`min`, `max`] (both 0: any; min > max: nothing, as under Wine); WM_QUIT always
/// comes out whatever the filter. `hwnd` must be null or (HWND)-1 (thread messages only).
/// `flags`: PM_REMOVE or PM_NOREMOVE (the message, a timer's WM_TIMER included, stays for the
/// next call), PM_NOYIELD and PM_QS_* bits ignored. Returns TRUE with `*msg` filled, or FALSE
/// when nothing is there (or with ERROR_INVALID_WINDOW_HANDLE / ERROR_INVALID_PARAMETER for a
/// window handle or null `msg`). Never blocks.
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max, UINT flags);
/// As PeekMessageW with PM_REMOVE, but blocks until a message is there. Returns 1, 0 when the
/// message is WM_QUIT (the loop should end), or -1 with ERROR_INVALID_WINDOW_HANDLE or
/// ERROR_INVALID_PARAMETER.
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max);
/// Nothing to translate without keyboard input: returns FALSE (no character message posted),
/// as Windows does for every message that is not a key message.
BOOL TranslateMessage(const MSG* msg);
/// Delivers a thread message on the calling thread: a WM_TIMER whose wParam is a live timer of
/// this thread and whose lParam is that timer's TIMERPROC calls the procedure (hwnd, WM_TIMER,
/// id, tick count) and returns 0; a message id with a handler registered by
/// win_internal::SetThreadMessageHandler runs it and returns its result; anything else returns 0
/// and does nothing. A message with a non-null hwnd returns 0 with ERROR_INVALID_WINDOW_HANDLE.
/// Wine calls the lParam of any WM_TIMER; we do not, so that a timer's procedure never runs
/// after KillTimer returned.
LRESULT DispatchMessageW(const MSG* msg);

/// Waits as WaitForMultipleObjects (at most MAXIMUM_WAIT_OBJECTS - 1 handles; `count` 0 is
/// fine), and also for input of the kinds in `wake_mask` in the calling thread's queue: returns
/// WAIT_OBJECT_0 + i for the lowest signalled handle i, WAIT_OBJECT_0 + `count` when such input
/// is there, WAIT_TIMEOUT, or WAIT_FAILED. QS_POSTMESSAGE and QS_ALLPOSTMESSAGE stand for
/// posted messages and a pending WM_QUIT, QS_TIMER for a due timer; other bits are accepted and
/// never set. With `wake_mask` 0 queued messages do not end the wait. Unlike Windows, input
/// counts whether or not the thread already saw it in an earlier peek (the MWMO_INPUTAVAILABLE
/// behaviour): a caller that leaves messages in its queue gets WAIT_OBJECT_0 + `count` at once.
/// With `wait_all` TRUE it returns WAIT_OBJECT_0 when every handle is signalled and input is
/// there. `ms` runs on the real clock; due timers follow the installed clock.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms,
                                DWORD wake_mask);

/// Starts a window-less timer of the calling thread (`hwnd` must be null) that is due every
/// `elapse_ms` (clamped to [USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM]) from now on the installed
/// clock. When `id` names a live timer of this thread, that timer is reset with the new period
/// and procedure and `id` is returned; otherwise `id` is ignored and a new non-zero id, unique
/// in the process, is returned. Due timers come out of the queue as WM_TIMER (wParam = id,
/// lParam = `proc`, which may be null). Returns 0 with ERROR_INVALID_WINDOW_HANDLE for a window.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc);
/// Stops a timer of the calling thread; a WM_TIMER of it already taken out of the queue is then
/// not delivered to its procedure by DispatchMessageW. FALSE when this thread has no such timer
/// (ERROR_INVALID_PARAMETER, timers of other threads included) or `hwnd` is not null.
BOOL KillTimer(HWND hwnd, UINT_PTR id);

/// RegisterWindowMessageW: a message id in 0xC000..0xFFFF for a name, the same for every call
/// with that name (compared without regard to case) in the process. Any thread may call. 0 with
/// ERROR_INVALID_PARAMETER for a null or empty name, or ERROR_NOT_ENOUGH_MEMORY when all ids
/// are taken.
UINT RegisterWindowMessageW(LPCWSTR name);

/// Milliseconds of the installed clock (the real monotonic clock, counted from boot, or a test's
/// fake clock), as used for message times and timers. GetTickCount wraps after 49.7 days.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
