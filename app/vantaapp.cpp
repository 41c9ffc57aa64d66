#include "app/vantaapp.h"

#include <cwchar>

#include "app/linktimer.h"
#include "cmd/commands.h"
#include "link/appeventhandler.h"
#include "platform/host/adscodes.h"
#include "platform/host/console.h"
#include "platform/host/docman.h"
#include "platform/host/editor.h"
#include "platform/host/lisp.h"
#include "platform/host/menus.h"
#include "platform/host/rxregistry.h"
#include "platform/win/codepage.h"
#include "platform/win/menu.h"
#include "platform/win/module.h"
#include "platform/win/msgqueue.h"
#include "platform/win/shell.h"
#include "platform/win/sync.h"

namespace {

constexpr const wchar_t* kCommandGroup = L"Sheetwise";
constexpr const wchar_t* kMenuGroup = L"VANTA";
constexpr const wchar_t* kToolbar = L"vanta.tb_vanta";

int init_vanta() {
  return GetVantaApp()->LoadMenuIfNeeded();
}

AcEdCommandStack* CommandStack() {
  return AcEdCommandStack::cast(acrxSysRegistry()->at(ACRX_COMMAND_DOCK));
}

// A system variable the program switches off for a moment and puts back.
short GetShortVar(const wchar_t* name) {
  resbuf value{};
  if (acedGetVar(name, &value) != RTNORM || value.restype != RTSHORT) return 1;
  return value.resval.rint;
}

void SetShortVar(const wchar_t* name, short number) {
  resbuf value{};
  value.restype = RTSHORT;
  value.resval.rint = number;
  acedSetVar(name, &value);
}

}  // namespace

const LispFunction kLispFunctions[] = {{L"C:init_vanta", &init_vanta, false}};
const int kLispFunctionCount = sizeof(kLispFunctions) / sizeof(kLispFunctions[0]);
HANDLE g_hImportBusy = nullptr;

CVantaApp* GetVantaApp() {
  return static_cast<CVantaApp*>(NvGetCurrentApp());
}

void CVantaApp::RegisterCommands() {
  AcEdCommandStack* stack = CommandStack();
  if (stack == nullptr) return;
  stack->addCommand(kCommandGroup, L"vanta", L"vanta", ACRX_CMD_MODAL, &VantaCommand, nullptr, -1,
                    nullptr);
  stack->addCommand(kCommandGroup, L"vatest", L"vatest", ACRX_CMD_MODAL, &VaTestCommand, nullptr,
                    -1, nullptr);
}

void CVantaApp::UnregisterCommands() {
  if (AcEdCommandStack* stack = CommandStack()) stack->removeGroup(kCommandGroup);
}

AcRx::AppRetCode CVantaApp::OnInitApp() {
  AcApDocManager* docs = acDocManagerPtr();
  docs->pushResourceHandle(m_hResource);
  m_nTimerId = SetTimer(nullptr, 0, 1000, &LinkTimerProc);
  g_hImportBusy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  docs->popResourceHandle();
  return AcRx::kRetOK;
}

AcRx::AppRetCode CVantaApp::OnUnloadApp() {
  if (m_nTimerId != 0) {
    KillTimer(nullptr, m_nTimerId);
    m_nTimerId = 0;
  }
  if (m_hThread != nullptr) {
    SetEvent(m_hStopEvent);
    WaitForSingleObject(m_hThread, INFINITE);
    // The thread is gone: its handles, and the proxy to the sink it ran, go too.
    CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  for (HANDLE* event : {&m_hReadyEvent, &m_hStopEvent}) {
    if (*event != nullptr) {
      CloseHandle(*event);
      *event = nullptr;
    }
  }
  if (m_pEventHandler != nullptr) {
    m_pEventHandler->Release();
    m_pEventHandler = nullptr;
  }
  if (g_hImportBusy != nullptr) {
    CloseHandle(g_hImportBusy);
    g_hImportBusy = nullptr;
  }
  return AcRx::kRetOK;
}

AcRx::AppRetCode CVantaApp::OnLoadDwg() {
  for (int code = 0; code < kLispFunctionCount; ++code) {
    if (acedDefun(kLispFunctions[code].name, code) != RTNORM) break;
    if (kLispFunctions[code].callable &&
        acedRegFunc(kLispFunctions[code].handler, code) != RTNORM) {
      break;
    }
  }
  // Evaluated by the host once the drawing is ready.
  ads_queueexpr(L"(C:init_vanta)");
  return AcRx::kRetOK;
}

AcRx::AppRetCode CVantaApp::OnUnloadDwg() {
  acedUndef(L"C:init_vanta", 0);
  return AcRx::kRetOK;
}

AcRx::AppRetCode CVantaApp::OnInvokeSubr() {
  const int code = acedGetFunCode();
  if (code >= 0 && code < kLispFunctionCount) {
    kLispFunctions[code].handler();
  } else {
    acdbFail(L"Received nonexistent function code.");
  }
  return AcRx::kRetOK;
}

std::wstring MenuFilePath() {
  wchar_t folder[MAX_PATH] = L"";
  SHGetSpecialFolderPathW(adsw_acadMainWnd(), folder, CSIDL_APPDATA, TRUE);
  const std::wstring sep(1, kPathSeparator);
  return std::wstring(folder) + sep + L"Autodesk" + sep + L"ApplicationPlugins" + sep + L"Norvane" +
         sep + L"Sheetwise 2014" + sep + L"vamenu.cuix";
}

int MenuBarPosition() {
  HWND window = adsw_acadMainWnd();
  HMENU bar = window != nullptr ? GetMenu(window) : nullptr;
  if (bar == nullptr) return -1;
  const int count = GetMenuItemCount(bar);
  if (count == 0 || count == 1 || count == 2) return 0;
  wchar_t text[1024];
  int last_named = -1;
  for (int i = count - 1; i >= 0; --i) {
    if (GetMenuStringW(bar, static_cast<UINT>(i), text, 1024, MF_BYPOSITION) > 0) {
      last_named = i;
      break;
    }
  }
  if (last_named <= 2) return 0;
  // A maximised drawing window puts an icon item without text first.
  const bool first_empty = GetMenuStringW(bar, 0, text, 1024, MF_BYPOSITION) == 0;
  return first_empty ? last_named - 1 : last_named;
}

int CVantaApp::LoadMenuIfNeeded() {
  acedRetVoid();
  if (acedIsMenuGroupLoaded(kMenuGroup)) return RTNORM;
  const short cmdecho = GetShortVar(L"cmdecho");
  const short cmddia = GetShortVar(L"cmddia");
  SetShortVar(L"cmdecho", 0);
  SetShortVar(L"cmddia", 0);
  const std::wstring path = MenuFilePath();
  acedCommand(RTSTR, L"_.menuload", RTSTR, path.c_str(), 0);
  int position = MenuBarPosition();
  if (position < 0) position = 9;
  wchar_t command[64];
  std::swprintf(command, 64, L"P%d=+%ls.pop1", position, kMenuGroup);
  acedMenuCmd(command);
  SetShortVar(L"cmdecho", cmdecho);
  SetShortVar(L"cmddia", cmddia);
  return RTNORM;
}

bool CVantaApp::ShowToolbar() {
  LoadMenuIfNeeded();
  if (!acedIsMenuGroupLoaded(kMenuGroup)) return true;
  const short cmdecho = GetShortVar(L"cmdecho");
  SetShortVar(L"cmdecho", 0);
  acedCommand(RTSTR, L"_.-toolbar", RTSTR, kToolbar, RTSTR, L"_show", 0);
  SetShortVar(L"cmdecho", cmdecho);
  return true;
}

bool CVantaApp::ShowHelp() {
  if (m_hHelpLib == nullptr) {
    m_hHelpLib = LoadLibraryW(L"hhctrl.ocx");
    if (m_hHelpLib == nullptr) return true;
  }
  using HtmlHelpFn = HWND (*)(HWND, LPCSTR, UINT, DWORD_PTR);
  auto html_help = reinterpret_cast<HtmlHelpFn>(GetProcAddress(m_hHelpLib, MAKEINTRESOURCEA(14)));
  if (html_help == nullptr) return true;
  const std::wstring path = GetModuleDir() + kPathSeparator + L"vanta.chm";
  const int size =
      WideCharToMultiByte(CP_THREAD_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, path.c_str(), -1, narrow.data(), size, nullptr, nullptr);
  html_help(nullptr, narrow.c_str(), 0 /* HH_DISPLAY_TOPIC */, 0);
  return true;
}
