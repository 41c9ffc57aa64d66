// The Sheetwise application object: host registration of the commands and the LISP function,
// the menu and toolbar, the help, the live link's timer and thread handles.
//
// Threads: the host's main thread.
#pragma once

#include <string>

#include "app/nvarxapp.h"
#include "platform/win/wintypes.h"

struct IAppEventHandler;

/// The member object that holds the LISP side; it has nothing but its lifetime.
class CLispImp {
 public:
  virtual ~CLispImp() = default;
};

/// One LISP function of the application; its index in the table is its function code.
struct LispFunction {
  const wchar_t* name;
  int (*handler)();
  bool callable;  // also registered with acedRegFunc
};

class CVantaApp : public CNvArxApp {
 public:
  CVantaApp() = default;
  ~CVantaApp() override = default;

  AcRx::AppRetCode OnInitApp() override;
  AcRx::AppRetCode OnUnloadApp() override;
  AcRx::AppRetCode OnLoadDwg() override;
  AcRx::AppRetCode OnUnloadDwg() override;
  AcRx::AppRetCode OnInvokeSubr() override;
  void RegisterCommands() override;
  void UnregisterCommands() override;

  /// Loads the menu group "VANTA" from the user's menu file unless it is loaded, and puts its
  /// pull-down on the menu bar before the last named menu. The LISP function C:init_vanta.
  /// Returns RTNORM.
  int LoadMenuIfNeeded();
  /// Shows the toolbar "vanta.tb_vanta" (loading the menu group first). Always true.
  bool ShowToolbar();
  /// Opens the help in the user's browser; silently nothing when the help module is missing.
  bool ShowHelp();

  // The live link's state (started by Connect, stopped at unload).
  IAppEventHandler* m_pEventHandler = nullptr;
  HANDLE m_hThread = nullptr;
  HANDLE m_hReadyEvent = nullptr;
  HANDLE m_hStopEvent = nullptr;
  HMODULE m_hHelpLib = nullptr;
  UINT_PTR m_nTimerId = 0;
  CLispImp m_lisp;
};

/// The application object.
CVantaApp* GetVantaApp();

/// Position on the menu bar for the application's pull-down: just before the last named menu
/// (normally Help); 0 for a bar of two items or fewer; -1 when the host window has no menu bar.
int MenuBarPosition();

/// The table of the application's LISP functions and its size.
extern const LispFunction kLispFunctions[];
extern const int kLispFunctionCount;

/// Signalled while the queued changes of the live link are applied (manual reset).
extern HANDLE g_hImportBusy;

/// The user's menu file: the configuration folder, then
/// "Autodesk/ApplicationPlugins/Norvane/Sheetwise 2014/vamenu.cuix".
std::wstring MenuFilePath();
