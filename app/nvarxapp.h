// A reusable frame for host applications: it turns the host's messages into virtual operations
// in the order the host expects, and knows the library's own module, its resource library and
// the host's application packet.
//
//   class CMyApp : public CNvArxApp { AcRx::AppRetCode OnInitApp() override; ... };
//   static CMyApp theApp;                         // one per library, registered by its constructor
//   extern "C" AcRx::AppRetCode acrxEntryPoint(AcRx::AppMsgCode msg, void* packet) {
//     return NvGetCurrentApp()->EntryPoint(msg, packet);
//   }
//
// Threads: the host's main thread.
#pragma once

#include <string>

#include "platform/host/rxregistry.h"
#include "platform/win/wintypes.h"

/// Where the program builds or cuts a path: the platform's folder separator.
inline constexpr wchar_t kPathSeparator = L'/';

class CNvArxApp {
 public:
  CNvArxApp();
  CNvArxApp(const CNvArxApp&) = delete;
  CNvArxApp& operator=(const CNvArxApp&) = delete;
  virtual ~CNvArxApp();

  /// The library's file name (full path, at most 260 characters); empty when unknown.
  virtual std::wstring GetModuleName() const;
  /// The library's folder: the file name cut at the last separator, without it; empty when the
  /// file name is unknown or holds no separator.
  virtual std::wstring GetModuleDir() const;
  virtual void* GetAppPacket() const { return m_pAppPacket; }

  virtual AcRx::AppRetCode OnInitApp() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnUnloadApp() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnLoadDwg() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnUnloadDwg() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnSave() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnEnd() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnQuit() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnCfg() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnInvokeSubr() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnDependency() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnNoDependency() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnOleUnloadApp() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnPreQuit() { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnInitDialog(void* /*packet*/) { return AcRx::kRetOK; }
  virtual AcRx::AppRetCode OnEndDialog(void* /*packet*/) { return AcRx::kRetOK; }
  virtual void InitClasses() {}
  virtual void UninitClasses() {}
  virtual void RegisterCommands() {}
  virtual void UnregisterCommands() {}
  virtual void InitHook1() {}
  virtual void UninitHook1() {}
  virtual void InitHook2() {}

  /// The host's message: stores the packet, then runs the operations of that message.
  AcRx::AppRetCode EntryPoint(AcRx::AppMsgCode message, void* packet);

  HINSTANCE m_hInstance = nullptr;  // this library, set at process attach
  HINSTANCE m_hResource = nullptr;  // the resource library, set at process attach
  void* m_pAppPacket = nullptr;     // the host's packet of the last message

 private:
  // kInitAppMsg: locale, unlock and multi-document registration, then the init operations.
  AcRx::AppRetCode LoadSequence(void* packet);
};

/// The application object of this library (the last CNvArxApp constructed); null before.
CNvArxApp* NvGetCurrentApp();
