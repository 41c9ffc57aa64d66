#include "link/linkcontrol.h"

#include <cstdlib>

#include "app/vantaapp.h"
#include "cmd/operations.h"
#include "link/appeventhandler.h"
#include "link/changequeue.h"
#include "platform/com/apartment.h"
#include "platform/com/marshal.h"
#include "platform/host/docman.h"
#include "platform/host/editor.h"
#include "platform/win/msgqueue.h"
#include "platform/win/sync.h"

namespace {

// What the starter hands the apartment thread; read before the thread signals `ready`.
struct ThreadStart {
  IStream** stream;
  HANDLE ready;
  HANDLE stop;
};

// The link's apartment thread: creates the sink, publishes it to the starter and dispatches
// COM's calls and the spreadsheet's events until the stop event.
DWORD LinkThreadMain(LPVOID parameter) {
  const ThreadStart start = *static_cast<ThreadStart*>(parameter);
  CoInitialize(nullptr);
  CComObject<CAppEventHandler>* sink = nullptr;
  if (FAILED(CComObject<CAppEventHandler>::CreateInstance(&sink))) {
    CoUninitialize();
    return 1;
  }
  sink->AddRef();
  if (FAILED(CoMarshalInterThreadInterfaceInStream(
          IID_IAppEventHandler, static_cast<IAppEventHandler*>(sink), start.stream))) {
    // The starter sees the thread end without the ready event.
    sink->Release();
    CoUninitialize();
    return 1;
  }
  SetEvent(start.ready);
  for (;;) {
    // Posted calls wake the loop at once; nothing polls.
    const DWORD woke = MsgWaitForMultipleObjects(1, &start.stop, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) {
      CoUninitialize();
      sink->Release();
      return 0;
    }
    if (woke == WAIT_FAILED) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        sink->Release();
        return 1;
      }
      DispatchMessageW(&msg);
    }
  }
  CoUninitialize();
  sink->Release();
  return 1;
}

void CloseAndClear(HANDLE* handle) {
  if (*handle != nullptr) CloseHandle(*handle);
  *handle = nullptr;
}

void StartLinkThread(CVantaApp* app) {
  app->m_hReadyEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  app->m_hStopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (app->m_hReadyEvent == nullptr || app->m_hStopEvent == nullptr) {
    CloseAndClear(&app->m_hReadyEvent);
    CloseAndClear(&app->m_hStopEvent);
    return;
  }
  ResetEvent(app->m_hReadyEvent);
  ResetEvent(app->m_hStopEvent);
  IStream* stream = nullptr;
  ThreadStart start{&stream, app->m_hReadyEvent, app->m_hStopEvent};
  app->m_hThread = CreateThread(nullptr, 0, &LinkThreadMain, &start, CREATE_SUSPENDED, nullptr);
  if (app->m_hThread == nullptr) {
    CloseAndClear(&app->m_hReadyEvent);
    CloseAndClear(&app->m_hStopEvent);
    return;
  }
  ResumeThread(app->m_hThread);
  // The ready event comes first when both are signalled: a thread that published and then
  // ended still left its stream.
  const HANDLE waits[2] = {app->m_hReadyEvent, app->m_hThread};
  const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (woke == WAIT_OBJECT_0) {
    CoGetInterfaceAndReleaseStream(stream, IID_IAppEventHandler,
                                   reinterpret_cast<void**>(&app->m_pEventHandler));
    return;
  }
  // The thread could not publish its sink and has ended: forget it, so that the next Connect
  // tries again and the unload has nothing to stop.
  WaitForSingleObject(app->m_hThread, INFINITE);
  CloseAndClear(&app->m_hThread);
  CloseAndClear(&app->m_hReadyEvent);
  CloseAndClear(&app->m_hStopEvent);
}

bool TraceOn() {
  static const bool on = [] {
    const char* value = std::getenv("SHEETWISE_TRACE");
    return value != nullptr && *value != '\0' && *value != '0';
  }();
  return on;
}

}  // namespace

void EnableLink(CVantaApp* app) {
  if (app == nullptr) return;
  if (app->m_hThread == nullptr) StartLinkThread(app);
  if (app->m_pEventHandler != nullptr) app->m_pEventHandler->Enable();
}

void DisableLink(CVantaApp* app) {
  if (app == nullptr || app->m_pEventHandler == nullptr) return;
  try {
    app->m_pEventHandler->Disable();
  } catch (...) {
    // The proxy is forgotten, not released: it may be what failed.
    app->m_pEventHandler = nullptr;
  }
}

void PollLink() {
  if (g_hImportBusy != nullptr && WaitForSingleObject(g_hImportBusy, 0) == WAIT_OBJECT_0) return;
  const std::size_t queued = ChangeCount();
  if (queued == 0) return;
  AcApDocManager* docs = acDocManagerPtr();
  AcApDocument* doc = docs->curDocument();
  if (doc == nullptr || !doc->isQuiescent()) return;
  XLChangeInfo newest;
  if (TraceOn() && PeekChange(&newest)) {
    acutPrintf(L"\n[trace] link: %zu change(s) queued, newest %ls!R%ldC%ld in %ls\n", queued,
               newest.sheetName, static_cast<long>(newest.row), static_cast<long>(newest.column),
               newest.workbookName);
  }
  docs->sendStringToExecute(doc, L"vanta\n_import2\n", false, true, true);
}

bool ConnectOperation() {
  CVantaApp* app = GetVantaApp();
  DisableLink(app);
  EnableLink(app);
  return true;
}

bool DisconnectOperation() {
  DisableLink(GetVantaApp());
  return true;
}
