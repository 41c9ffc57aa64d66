// The library's entry points: process attach and detach, the host's messages, and the release
// of the host's programming interface it was built for.
#include <cwchar>

#include "app/vantaapp.h"
#include "link/linkserver.h"
#include "platform/host/arxapp.h"
#include "platform/win/module.h"

namespace {

CVantaApp theApp;

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL DllMain(HINSTANCE instance, DWORD reason,
                                                               LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    theApp.m_hInstance = instance;
    // Without its texts the application cannot talk to the user: it does not load at all.
    const std::wstring dir = theApp.GetModuleDir();
    if (dir.empty()) return FALSE;
    const std::wstring path = dir + kPathSeparator + L"vantares.dll";
    HMODULE resources = LoadLibraryW(path.c_str());
    if (resources == nullptr) return FALSE;
    theApp.m_hResource = resources;
    // The live link's class and type library; the library loads whatever the outcome (the
    // link's own thread needs only the type library, which is registered in this process even
    // when the settings store cannot be written).
    RegisterLinkServer(instance, resources);
    return TRUE;
  }
  if (reason == DLL_PROCESS_DETACH) {
    if (theApp.m_hResource != nullptr) {
      FreeLibrary(theApp.m_hResource);
      theApp.m_hResource = nullptr;
    }
  }
  return TRUE;
}

extern "C" __attribute__((visibility("default"))) AcRx::AppRetCode acrxEntryPoint(
    AcRx::AppMsgCode message, void* packet) {
  return NvGetCurrentApp()->EntryPoint(message, packet);
}

extern "C" __attribute__((visibility("default"))) int acrxGetApiVersion() {
  return kAcrxApiVersion;
}
