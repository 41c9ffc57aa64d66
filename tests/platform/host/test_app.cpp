// An application library for the host's tests: it registers a command group and tells the
// host it may be unloaded and serves several drawings, and writes every message it receives to
// the file named by SW_TEST_APP_LOG, one line each. SW_TEST_APP_REFUSE makes its process attach
// fail. Built twice: as the host's release, and (SW_TEST_APP_VERSION) for another release.
#include <cstdio>
#include <cstdlib>

#include "platform/host/arxapp.h"
#include "platform/host/docman.h"
#include "platform/host/editor.h"
#include "platform/host/lisp.h"
#include "platform/host/rxregistry.h"
#include "platform/win/message.h"
#include "platform/win/msgqueue.h"

#ifndef SW_TEST_APP_VERSION
#define SW_TEST_APP_VERSION kAcrxApiVersion
#endif

namespace {

void Log(const char* line) {
  if (const char* path = std::getenv("SW_TEST_APP_LOG")) {
    if (std::FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", line);
      std::fclose(f);
    }
  }
}

void Hello() {
  Log("command hello");
  acutPrintf(L"\nHello from the test application.\n");
}

// With SW_TEST_APP_TIMER: a window-less timer that, once the host waits, sends "hello" and
// "QUIT" to the current drawing, as the live link sends its import.
void OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  Log("timer");
  AcApDocManager* docs = acDocManagerPtr();
  docs->sendStringToExecute(docs->curDocument(), L"hello\nQUIT\n");
}

// A question in a message box, answered from the host's input like a prompt.
void Ask() {
  const int answer = MessageBoxW(nullptr, L"Keep going?", L"Test", MB_YESNO);
  acutPrintf(L"\nanswer %d\n", answer);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int acrxGetApiVersion() {
  return SW_TEST_APP_VERSION;
}

extern "C" __attribute__((visibility("default"))) BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && std::getenv("SW_TEST_APP_REFUSE")) return FALSE;
  Log(reason == DLL_PROCESS_ATTACH ? "attach" : "detach");
  return TRUE;
}

extern "C" __attribute__((visibility("default"))) AcRx::AppRetCode acrxEntryPoint(
    AcRx::AppMsgCode message, void* packet) {
  AcEdCommandStack* stack = AcEdCommandStack::cast(acrxSysRegistry()->at(ACRX_COMMAND_DOCK));
  AcRxDynamicLinker* linker = AcRxDynamicLinker::cast(acrxSysRegistry()->at(ACRX_DYNAMIC_LINKER));
  switch (message) {
    case AcRx::kInitAppMsg:
      Log("init");
      acrxUnlockApplication(packet);
      if (linker) linker->registerAppMDIAware(packet);
      stack->addCommand(L"TestGroup", L"hello", L"hallo", ACRX_CMD_MODAL, &Hello);
      stack->addCommand(L"TestGroup", L"probe", L"probe", ACRX_CMD_MODAL, &Hello);
      stack->addCommand(L"TestGroup", L"ask", L"ask", ACRX_CMD_MODAL, &Ask);
      if (std::getenv("SW_TEST_APP_TIMER")) SetTimer(nullptr, 0, 20, &OnTimer);
      break;
    case AcRx::kUnloadAppMsg:
      Log("unload");
      stack->removeGroup(L"TestGroup");
      break;
    case AcRx::kLoadDwgMsg:
      // Each drawing gets the LISP function, and a call of it once the drawing is ready.
      Log("loaddwg");
      acedDefun(L"C:testhello", 0);
      ads_queueexpr(L"(C:testhello)");
      break;
    case AcRx::kUnloadDwgMsg:
      Log("unloaddwg");
      acedUndef(L"C:testhello", 0);
      break;
    case AcRx::kInvkSubrMsg:
      Log("invoke");
      if (acedGetFunCode() == 0) {
        acutPrintf(L"\ntesthello ran.\n");
        acedRetVoid();
      }
      break;
    default:
      Log("other");
  }
  return AcRx::kRetOK;
}
