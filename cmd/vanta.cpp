#include <cstdlib>
#include <cwchar>
#include <exception>

#include "app/resstring.h"
#include "app/vantaapp.h"
#include "cmd/commands.h"
#include "cmd/operations.h"
#include "excel/comerror.h"
#include "platform/host/docman.h"
#include "platform/host/editor.h"
#include "platform/host/menus.h"
#include "platform/win/message.h"
#include "res/resource_ids.h"

namespace {

// The resource library is the host's current resource module while this object lives, on every
// way out, exceptions included.
class ResourceScope {
 public:
  ResourceScope() { acDocManagerPtr()->pushResourceHandle(GetVantaApp()->m_hResource); }
  ~ResourceScope() { acDocManagerPtr()->popResourceHandle(); }
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;
};

struct Keyword {
  const wchar_t* name;
  bool (*operation)();
};

// Compared in this order; the names are the prompt's global keywords.
const Keyword kKeywords[] = {
    {L"Export", &ExportOperation},
    {L"Export2", &Export2Operation},
    {L"Selection+export", &SelectionExportOperation},
    {L"Export3", &Export2Operation},
    {L"Export4", nullptr},
    {L"Import", &ImportOperation},
    {L"Options", &OptionsOperation},
    {L"Connect", &ConnectOperation},
    {L"Disconnect", &DisconnectOperation},
    {L"Import2", &Import2Operation},
    {L"Toolbar", [] { return GetVantaApp()->ShowToolbar(); }},
    {L"Help", [] { return GetVantaApp()->ShowHelp(); }},
};

// SHEETWISE_TRACE=1 prints which operation each keyword runs: a diagnostic for scripts.
void Trace(const wchar_t* keyword) {
  static const bool on = [] {
    const char* value = std::getenv("SHEETWISE_TRACE");
    return value != nullptr && *value != '\0' && *value != '0';
  }();
  if (on) acutPrintf(L"\n[trace] VANTA %ls\n", keyword);
}

}  // namespace

bool VantaDispatch() {
  ResourceScope resources;
  const std::wstring keywords = g_resString.Load(res::kVantaKeywords);
  acedInitGet(0, keywords.c_str());
  wchar_t answer[133] = L"";
  const std::wstring prompt = g_resString.Load(res::kVantaPrompt);
  const int status = acedGetKword(prompt.c_str(), answer, 133);
  const wchar_t* keyword = nullptr;
  if (status == RTNONE) {
    keyword = L"Export";
  } else if (status == RTNORM) {
    keyword = answer;
  } else {
    return false;
  }
  bool result = false;
  for (const Keyword& entry : kKeywords) {
    if (wcscasecmp(keyword, entry.name) == 0) {
      Trace(entry.name);
      result = entry.operation != nullptr && entry.operation();
    }
  }
  return result;
}

bool RunGuarded(const std::function<bool()>& body) {
  ResourceScope resources;
  try {
    return body();
  } catch (const _com_error& error) {
    ReportComError(error);
  } catch (const COleException& error) {
    ReportOleException(error);
  } catch (const COleDispatchException& error) {
    ReportDispatchException(error);
  } catch (...) {
    MessageBoxW(adsw_acadMainWnd(), g_resString.Load(res::kUnexpectedError).c_str(),
                g_resString.Load(res::kErrorCaption).c_str(), MB_ICONERROR);
  }
  return false;
}

void VantaCommand() {
  RunGuarded(&VantaDispatch);
}
