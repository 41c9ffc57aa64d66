#include "app/nvarxapp.h"

#include <clocale>

#include "platform/host/arxapp.h"
#include "platform/win/locale.h"
#include "platform/win/module.h"

namespace {
CNvArxApp* current_app = nullptr;
}  // namespace

CNvArxApp::CNvArxApp() {
  current_app = this;
}

CNvArxApp::~CNvArxApp() {
  if (current_app == this) current_app = nullptr;
}

CNvArxApp* NvGetCurrentApp() {
  return current_app;
}

std::wstring CNvArxApp::GetModuleName() const {
  wchar_t name[260];
  const DWORD n = GetModuleFileNameW(m_hInstance, name, 260);
  return std::wstring(name, n);
}

std::wstring CNvArxApp::GetModuleDir() const {
  if (m_hInstance == nullptr) return {};
  const std::wstring name = GetModuleName();
  const std::size_t cut = name.rfind(kPathSeparator);
  if (cut == std::wstring::npos) return {};
  return name.substr(0, cut);
}

AcRx::AppRetCode CNvArxApp::EntryPoint(AcRx::AppMsgCode message, void* packet) {
  m_pAppPacket = packet;
  switch (message) {
    case AcRx::kInitAppMsg:
      return LoadSequence(packet);
    case AcRx::kUnloadAppMsg:
      UninitHook1();
      UnregisterCommands();
      UninitClasses();
      return OnUnloadApp();
    case AcRx::kLoadDwgMsg:
      return OnLoadDwg();
    case AcRx::kUnloadDwgMsg:
      return OnUnloadDwg();
    case AcRx::kInvkSubrMsg:
      return OnInvokeSubr();
    case AcRx::kCfgMsg:
      return OnCfg();
    case AcRx::kEndMsg:
      return OnEnd();
    case AcRx::kQuitMsg:
      return OnQuit();
    case AcRx::kSaveMsg:
      return OnSave();
    case AcRx::kDependencyMsg:
      return OnDependency();
    case AcRx::kNoDependencyMsg:
      return OnNoDependency();
    case AcRx::kOleUnloadAppMsg:
      return OnOleUnloadApp();
    case AcRx::kPreQuitMsg:
      return OnPreQuit();
    case AcRx::kInitDialogMsg:
      return OnInitDialog(packet);
    case AcRx::kEndDialogMsg:
      return OnEndDialog(packet);
    default:
      return AcRx::kRetOK;
  }
}

AcRx::AppRetCode CNvArxApp::LoadSequence(void* packet) {
  // Texts follow the system's code page; numbers always use the decimal point.
  SetWindowsLocale(LC_ALL, ".ACP");
  SetWindowsLocale(LC_NUMERIC, "ENU");
  acrxUnlockApplication(packet);
  if (AcRxDynamicLinker* linker =
          AcRxDynamicLinker::cast(acrxSysRegistry()->at(ACRX_DYNAMIC_LINKER))) {
    linker->registerAppMDIAware(packet);
  }
  InitClasses();
  acrxBuildClassHierarchy();
  RegisterCommands();
  InitHook2();
  InitHook1();
  return OnInitApp();
}
