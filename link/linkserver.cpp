#include "link/linkserver.h"

#include "link/appeventhandler.h"
#include "link/registrar.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "platform/win/resource.h"

namespace {

std::wstring ModulePath(HINSTANCE module) {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, length < MAX_PATH ? length : 0);
}

// The script as text; false when the resource library lacks it or it is not UTF-8.
HRESULT LoadScript(HINSTANCE resources, std::wstring* script, std::wstring* error) {
  HRSRC found = FindResourceW(resources, MAKEINTRESOURCEW(kAppEventHandlerScriptId),
                              MAKEINTRESOURCEW(RT_REGISTRY_ID));
  if (found == nullptr) {
    if (error != nullptr) *error = L"the resource library has no registry script 1016";
    return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(resources, found)));
  const int size = static_cast<int>(SizeofResource(resources, found));
  const int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
  if (bytes == nullptr || (size > 0 && chars <= 0)) {
    if (error != nullptr) *error = L"registry script 1016 is not UTF-8 text";
    return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  }
  script->assign(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes, size, script->data(), chars);
  return S_OK;
}

HRESULT RunScript(HINSTANCE module, HINSTANCE resources, bool do_register, std::wstring* error) {
  std::wstring script;
  HRESULT hr = LoadScript(resources, &script, error);
  if (FAILED(hr)) return hr;
  std::wstring why;
  hr = RunRegistryScript(script, do_register, {{L"MODULE", ModulePath(module)}}, &why);
  if (FAILED(hr) && error != nullptr) *error = L"registry script 1016: " + why;
  return hr;
}

}  // namespace

HRESULT RegisterLinkServer(HINSTANCE module, HINSTANCE resources, std::wstring* error) {
  const HRESULT script = RunScript(module, resources, true, error);
  const HRESULT library = RegisterVantaTypeLib(ModulePath(module).c_str());
  if (FAILED(library) && SUCCEEDED(script) && error != nullptr)
    *error = L"the type library VantaLib 1.0 could not be registered";
  return FAILED(script) ? script : library;
}

HRESULT UnregisterLinkServer(HINSTANCE module, HINSTANCE resources, std::wstring* error) {
  const HRESULT script = RunScript(module, resources, false, error);
  const HRESULT library = UnRegisterTypeLib(LIBID_VantaLib, 1, 0, 0, SYS_WIN64);
  if (FAILED(library) && SUCCEEDED(script) && error != nullptr)
    *error = L"the type library VantaLib 1.0 was not registered";
  return FAILED(script) ? script : library;
}
