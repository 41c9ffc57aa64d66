#include "platform/host/arxapp.h"

#include <algorithm>
#include <filesystem>

#include "platform/win/codepage.h"
#include "platform/win/locale.h"
#include "platform/win/module.h"

namespace sheetwise::host {
namespace {

AcRxDynamicLinker* Linker() {
  return AcRxDynamicLinker::cast(acrxSysRegistry()->at(ACRX_DYNAMIC_LINKER));
}

std::wstring FileName(const std::wstring& path) {
  return std::filesystem::path(path).filename().wstring();
}

}  // namespace

AppLoader::App* AppLoader::Find(const std::wstring& name) {
  for (auto& app : apps_)
    if (EqualsNoCase(app->path, name) || EqualsNoCase(FileName(app->path), FileName(name)))
      return app.get();
  return nullptr;
}

AcRx::AppRetCode AppLoader::Call(App& app, AcRx::AppMsgCode message) {
  void* previous = current_;
  current_ = &app.packet;
  const AcRx::AppRetCode result = app.entry(message, &app.packet);
  current_ = previous;
  return result;
}

void AppLoader::Release(App& app) {
  if (app.dll_main)
    app.dll_main(reinterpret_cast<HINSTANCE>(app.module), DLL_PROCESS_DETACH, nullptr);
  Linker()->Remove(&app.packet);
  FreeLibrary(app.module);
}

std::unique_ptr<AppLoader::App> AppLoader::Attach(const std::wstring& path, std::wstring* error) {
  auto fail = [&](const std::wstring& why) {
    if (error) *error = why;
    return nullptr;
  };
  auto app = std::make_unique<App>();
  app->path = path;
  app->module = LoadLibraryW(path.c_str());
  if (app->module == nullptr)
    return fail(L"Unable to load " + path + L": " + Utf8ToWide(LoadLibraryErrorText()));
  auto version = reinterpret_cast<int (*)()>(GetProcAddress(app->module, "acrxGetApiVersion"));
  app->entry = reinterpret_cast<AcRx::AppRetCode (*)(AcRx::AppMsgCode, void*)>(
      GetProcAddress(app->module, "acrxEntryPoint"));
  app->dll_main =
      reinterpret_cast<BOOL (*)(HINSTANCE, DWORD, LPVOID)>(GetProcAddress(app->module, "DllMain"));
  if (version == nullptr || app->entry == nullptr) {
    FreeLibrary(app->module);
    return fail(path + L" is not an application: it has no acrxEntryPoint or acrxGetApiVersion.");
  }
  const int released_for = version();
  if (released_for != kAcrxApiVersion) {
    FreeLibrary(app->module);
    return fail(path + L" was built for another release of the host (version " +
                std::to_wstring(released_for) + L", this host offers " +
                std::to_wstring(kAcrxApiVersion) + L").");
  }
  if (app->dll_main &&
      !app->dll_main(reinterpret_cast<HINSTANCE>(app->module), DLL_PROCESS_ATTACH, nullptr)) {
    // A library the application needs and could not load is named by the loader's words.
    const std::string why = LoadLibraryErrorText();
    FreeLibrary(app->module);
    return fail(L"Unable to load " + path + L": the application refused to start" +
                (why.empty() ? L"." : L" (" + Utf8ToWide(why) + L")."));
  }
  return app;
}

void AppLoader::Map(const std::wstring& path) {
  if (Find(path) != nullptr || refused_.count(path) != 0) return;
  for (const auto& app : mapped_)
    if (app->path == path) return;
  std::wstring why;
  if (std::unique_ptr<App> app = Attach(path, &why))
    mapped_.push_back(std::move(app));
  else
    refused_[path] = why;
}

bool AppLoader::Load(const std::wstring& path, std::size_t open_drawings, std::wstring* error) {
  auto fail = [&](const std::wstring& why) {
    if (error) *error = why;
    return false;
  };
  if (Find(path) != nullptr) return fail(L"\"" + FileName(path) + L"\" is already loaded.");
  std::unique_ptr<App> app;
  if (auto at = std::find_if(mapped_.begin(), mapped_.end(),
                             [&](const auto& mapped) { return mapped->path == path; });
      at != mapped_.end()) {
    app = std::move(*at);
    mapped_.erase(at);
  } else if (auto refused = refused_.find(path); refused != refused_.end()) {
    const std::wstring why = refused->second;
    refused_.erase(refused);
    return fail(why);
  } else {
    std::wstring why;
    app = Attach(path, &why);
    if (!app) return fail(why);
  }
  Linker()->Add(&app->packet, path);
  App& added = *apps_.emplace_back(std::move(app));
  if (Call(added, AcRx::kInitAppMsg) != AcRx::kRetOK) {
    Release(added);
    apps_.pop_back();
    return fail(L"Unable to load " + path + L": the application failed to initialize.");
  }
  for (std::size_t i = 0; i < open_drawings; ++i) Call(added, AcRx::kLoadDwgMsg);
  return true;
}

bool AppLoader::Unload(const std::wstring& name, std::wstring* error) {
  App* app = Find(name);
  if (app == nullptr) {
    if (error) *error = L"\"" + FileName(name) + L"\" is not loaded.";
    return false;
  }
  if (acrxApplicationIsLocked(&app->packet)) {
    if (error) *error = L"Unable to unload " + FileName(app->path) + L": it is locked.";
    return false;
  }
  Call(*app, AcRx::kUnloadAppMsg);
  Release(*app);
  apps_.erase(
      std::find_if(apps_.begin(), apps_.end(), [app](const auto& a) { return a.get() == app; }));
  return true;
}

void AppLoader::Broadcast(AcRx::AppMsgCode message) {
  for (auto& app : apps_) Call(*app, message);
}

AcRx::AppRetCode AppLoader::Send(void* packet, AcRx::AppMsgCode message) {
  for (auto& app : apps_)
    if (&app->packet == packet) return Call(*app, message);
  return AcRx::kRetError;
}

void AppLoader::UnloadAll() {
  while (!apps_.empty()) {
    App& app = *apps_.back();
    Call(app, AcRx::kUnloadAppMsg);
    Release(app);
    apps_.pop_back();
  }
  // Attached ahead and never started: detached, the libraries let go.
  while (!mapped_.empty()) {
    Release(*mapped_.back());
    mapped_.pop_back();
  }
  refused_.clear();
}

std::vector<std::wstring> AppLoader::Loaded() const {
  std::vector<std::wstring> out;
  for (const auto& app : apps_) out.push_back(app->path);
  return out;
}

}  // namespace sheetwise::host
