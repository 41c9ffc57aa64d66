#include "app/resstring.h"

#include "app/nvarxapp.h"
#include "platform/host/docman.h"
#include "platform/win/resource.h"

CResString g_resString;

std::wstring CResString::Load(UINT id) {
  CNvArxApp* app = NvGetCurrentApp();
  HINSTANCE module = app != nullptr ? app->m_hResource : nullptr;
  AcApDocManager* docs = acDocManagerPtr();
  docs->pushResourceHandle(module);
  const wchar_t* text = nullptr;
  // Size 0 lends the library's own text: no length limit.
  const int length =
      LoadStringW(docs->CurrentResourceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
  docs->popResourceHandle();
  return length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
}
