// Costs of the thread message queue and events: what a cross-thread COM call and the live
// link's apartment loop pay per message.
#include <benchmark/benchmark.h>

#include "platform/win/msgqueue.h"
#include "platform/win/msgqueue_internal.h"
#include "platform/win/sync.h"

namespace {

// Posting to the own queue and taking the message out again: the floor of every queued call.
void BM_PostPeekRoundTrip(benchmark::State& state) {
  const DWORD self = GetCurrentThreadId();
  MSG msg;
  for (auto _ : state) {
    PostThreadMessageW(self, WM_APP, 1, 2);
    PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    benchmark::DoNotOptimize(msg);
  }
}
BENCHMARK(BM_PostPeekRoundTrip);

// Signalling and taking an auto-reset event nobody else waits on.
void BM_EventSetWait(benchmark::State& state) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  for (auto _ : state) {
    SetEvent(event);
    benchmark::DoNotOptimize(WaitForSingleObject(event, INFINITE));
  }
  CloseHandle(event);
}
BENCHMARK(BM_EventSetWait);

UINT PingMessage() {
  static const UINT id = RegisterWindowMessageW(L"SheetwiseBenchPing");
  return id;
}

LRESULT AnswerPing(const MSG& msg) {
  SetEvent(reinterpret_cast<HANDLE>(msg.lParam));
  return 0;
}

DWORD PingLoop(LPVOID ready) {
  win_internal::EnsureMessageQueue();
  SetEvent(static_cast<HANDLE>(ready));
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

// Post to a thread blocked in GetMessageW, which dispatches to a handler that signals back: the
// latency of one cross-thread call without its marshalling. The caller waits as a COM caller
// does, in MsgWaitForMultipleObjects.
void BM_CrossThreadPostDispatch(benchmark::State& state) {
  win_internal::SetThreadMessageHandler(PingMessage(), AnswerPing);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE reply = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD worker = 0;
  HANDLE thread = CreateThread(nullptr, 0, PingLoop, ready, 0, &worker);
  WaitForSingleObject(ready, INFINITE);
  for (auto _ : state) {
    PostThreadMessageW(worker, PingMessage(), 0, reinterpret_cast<LPARAM>(reply));
    benchmark::DoNotOptimize(MsgWaitForMultipleObjects(1, &reply, FALSE, INFINITE, QS_ALLINPUT));
  }
  PostThreadMessageW(worker, WM_QUIT, 0, 0);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(reply);
  CloseHandle(ready);
  win_internal::SetThreadMessageHandler(PingMessage(), nullptr);
}
BENCHMARK(BM_CrossThreadPostDispatch)->UseRealTime();

// The live link's apartment loop when nothing happens: a 3 ms wait on its stop event with wake
// mask 0, then a peek. CPU time per iteration shows it sleeps rather than spins.
void BM_IdleApartmentLoopIteration(benchmark::State& state) {
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  MSG msg;
  for (auto _ : state) {
    benchmark::DoNotOptimize(MsgWaitForMultipleObjects(1, &stop, FALSE, 3, 0));
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  CloseHandle(stop);
}
BENCHMARK(BM_IdleApartmentLoopIteration)->Iterations(300)->UseRealTime();

}  // namespace
