// Loading application libraries into the host, as the host loads its plug-ins: the library is
// loaded, its process-attach entry (DllMain) may refuse, its API version export must match the
// host's, and its acrxEntryPoint receives the host's messages in the host's order: kInitAppMsg,
// then kLoadDwgMsg for each open drawing; kLoadDwgMsg / kUnloadDwgMsg as drawings open and
// close; kInvkSubrMsg when LISP calls one of its functions; kUnloadAppMsg when it is unloaded
// (the ARX command, or the host's end after the drawings' kUnloadDwgMsg).
//
// An application library exports, with C linkage:
//   int acrxGetApiVersion();                                  // kAcrxApiVersion
//   AcRx::AppRetCode acrxEntryPoint(AcRx::AppMsgCode, void* packet);
//   BOOL DllMain(HINSTANCE, DWORD reason, LPVOID);            // optional
// `packet` identifies the application to the host (acrxUnlockApplication, registerAppMDIAware).
//
// Threads: the host's main thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/rxregistry.h"
#include "platform/win/wintypes.h"

/// The programming-interface release this host offers (the application's acrxGetApiVersion
/// must answer it).
inline constexpr int kAcrxApiVersion = 19;

inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;

namespace sheetwise::host {

class AppLoader {
 public:
  struct App {
    std::wstring path;
    HMODULE module = nullptr;
    AcRx::AppRetCode (*entry)(AcRx::AppMsgCode, void*) = nullptr;
    BOOL (*dll_main)(HINSTANCE, DWORD, LPVOID) = nullptr;
    int packet = 0;  // its address is the application's packet
  };

  /// Loads the application at `path` (a file name alone is looked for beside the executable).
  /// Fails with a sentence for the user in `error` when the library cannot be loaded, lacks
  /// the entry points, has another API version, refuses in DllMain or answers kInitAppMsg with
  /// an error (it is then unloaded); loading one already loaded only says so. Sends
  /// kLoadDwgMsg for each of `open_drawings`.
  bool Load(const std::wstring& path, std::size_t open_drawings, std::wstring* error);
  /// The first half of Load, done ahead: the library is loaded and attached (DllMain) but the
  /// application not started, so that the loading overlaps other work (the drawing being read).
  /// The Load of the same path starts it, or reports why the library could not be had.
  /// Libraries mapped and never loaded are let go by UnloadAll.
  void Map(const std::wstring& path);
  /// Unloads an application by path or file name (kUnloadAppMsg, then DllMain detach and the
  /// library). False with `error` when it is not loaded or is locked.
  bool Unload(const std::wstring& name, std::wstring* error);
  /// Sends `message` to every application, oldest first.
  void Broadcast(AcRx::AppMsgCode message);
  /// Sends `message` to one application; kRetError for an unknown packet.
  AcRx::AppRetCode Send(void* packet, AcRx::AppMsgCode message);
  /// The host's end: kUnloadAppMsg to every application, newest first, and unloads them.
  void UnloadAll();
  /// The application whose acrxEntryPoint is running (null outside one).
  void* CurrentPacket() const { return current_; }
  std::vector<std::wstring> Loaded() const;

 private:
  App* Find(const std::wstring& name);
  AcRx::AppRetCode Call(App& app, AcRx::AppMsgCode message);
  void Release(App& app);
  // The library at `path` loaded and attached; null with `error` when it cannot be.
  std::unique_ptr<App> Attach(const std::wstring& path, std::wstring* error);
  std::vector<std::unique_ptr<App>> apps_;
  std::vector<std::unique_ptr<App>> mapped_;      // attached by Map, not yet started
  std::map<std::wstring, std::wstring> refused_;  // why Map could not attach a path
  void* current_ = nullptr;
};

}  // namespace sheetwise::host
