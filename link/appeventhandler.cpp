#include "link/appeventhandler.h"

#include "app/nvarxapp.h"
#include "link/changequeue.h"
#include "platform/com/rot.h"
#include "platform/host/docman.h"
#include "platform/win/message.h"
#include "platform/win/msgqueue.h"
#include "platform/win/resource.h"
#include "res/resource_ids.h"

namespace {

using sheetwise::calc::CLSID_ExcelApplication;
using sheetwise::calc::IID_ExcelApplication;

// The wait before the second attempt when the first one failed for a reason that may pass.
constexpr UINT kRetryDelayMs = 100;

// The proxy through which the main thread calls the sink on its apartment thread.
class AppEventHandlerProxy : public DualInterfaceProxy<IAppEventHandler> {
 public:
  using DualInterfaceProxy::DualInterfaceProxy;
  HRESULT Enable() override { return CallByDispid(kDispidEnable); }
  HRESULT Disable() override { return CallByDispid(kDispidDisable); }
};

// The handler loads its texts from the resource library, on its own thread's resource stack.
class ResourceScope {
 public:
  explicit ResourceScope(HINSTANCE module) { acDocManagerPtr()->pushResourceHandle(module); }
  ~ResourceScope() { acDocManagerPtr()->popResourceHandle(); }
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;
};

HINSTANCE ResourceModule() {
  CNvArxApp* app = NvGetCurrentApp();
  return app != nullptr ? app->m_hResource : nullptr;
}

// Reads the changed range's top-left cell, its worksheet and workbook, and queues the record.
// Raises _com_error when `range` is not a range or a call fails; nothing is queued then. The
// first attempt queries the worksheet for _Worksheet, the second uses it as it comes.
void RecordChange(IDispatch* range_dispatch, bool query_worksheet) {
  const Excel::Range range(range_dispatch);
  const LONG column = range.GetColumn();
  const LONG row = range.GetRow();
  IDispatchPtr sheet_dispatch = range.GetWorksheet();
  Excel::_WorksheetPtr queried;
  const Excel::_Worksheet* sheet = nullptr;
  Excel::_Worksheet as_returned(sheet_dispatch.GetInterfacePtr());
  if (query_worksheet) {
    queried = sheet_dispatch;
    sheet = queried.operator->();
  } else {
    sheet = &as_returned;
  }
  Excel::_WorkbookPtr workbook = sheet->GetParent();
  const _bstr_t workbook_name = workbook->GetName();
  const _bstr_t sheet_name = sheet->GetName();
  PushChange(MakeChangeInfo(column, row, static_cast<const wchar_t*>(sheet_name),
                            static_cast<const wchar_t*>(workbook_name)));
}

// Failures that say the argument is simply not a range: waiting would not change them.
bool IsNotARange(HRESULT hr) {
  return hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME || hr == E_NOINTERFACE ||
         hr == E_POINTER || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_TYPEMISMATCH;
}

// Waits `ms` on the message-queue clock (the one timers follow, a test's fake clock included)
// without dispatching anything but timers, so that no other call enters the handler meanwhile.
void WaitOnMessageClock(UINT ms) {
  const UINT_PTR timer = SetTimer(nullptr, 0, ms, nullptr);
  if (timer == 0) return;
  for (bool done = false; !done;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Leave it for the thread's own loop.
        PostQuitMessage(static_cast<int>(msg.wParam));
        done = true;
        break;
      }
      if (msg.wParam == timer) {
        done = true;
      } else {
        DispatchMessageW(&msg);
      }
    }
    if (!done) MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_TIMER);
  }
  KillTimer(nullptr, timer);
}

}  // namespace

const _ATL_FUNC_INFO kSheetChangeInfo = {CC_STDCALL, VT_EMPTY, 2, {VT_DISPATCH, VT_DISPATCH}};

HRESULT RegisterVantaTypeLib(const wchar_t* module_path) {
  TypeLibBuilder builder(LIBID_VantaLib, 1, 0, L"VantaLib", L"Vanta 1.0 Type Library");
  builder
      .Interface(IID_IAppEventHandler, L"IAppEventHandler", L"IAppEventHandler Interface",
                 TypeKind::kDual)
      .Method<&IAppEventHandler::Enable>(kDispidEnable, L"Enable", L"method Enable")
      .Method<&IAppEventHandler::Disable>(kDispidDisable, L"Disable", L"method Disable")
      .Proxy<AppEventHandlerProxy>();
  ITypeLib* library = nullptr;
  HRESULT hr = builder.Build(&library);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(library, module_path, nullptr);
  library->Release();
  return hr;
}

HRESULT CAppEventHandler::Enable() {
  IUnknown* running = nullptr;
  HRESULT hr = GetActiveObject(CLSID_ExcelApplication, nullptr, &running);
  if (FAILED(hr)) return hr;
  IDispatch* application = nullptr;
  hr = running->QueryInterface(IID_ExcelApplication, reinterpret_cast<void**>(&application));
  running->Release();
  if (FAILED(hr)) return hr;
  application_.Attach(application);
  // The callers always disable first; a subscription still active is never doubled.
  if (m_dwEventCookie == kNoEventCookie) DispEventAdvise(application_.GetInterfacePtr());
  return S_OK;
}

HRESULT CAppEventHandler::Disable() {
  if (!application_) return S_OK;
  if (m_dwEventCookie != kNoEventCookie) DispEventUnadvise(application_.GetInterfacePtr());
  m_dwEventCookie = kNoEventCookie;
  application_ = nullptr;
  return S_OK;
}

void CAppEventHandler::OnSheetChange(IDispatch* first, IDispatch* second) {
  ResourceScope resources(ResourceModule());
  HRESULT first_failure = S_OK;
  try {
    RecordChange(first, true);
    return;
  } catch (const _com_error& error) {
    first_failure = error.Error();
  }
  if (!IsNotARange(first_failure)) WaitOnMessageClock(kRetryDelayMs);
  try {
    RecordChange(second, false);
  } catch (const _com_error& error) {
    wchar_t caption[256] = L"";
    LoadStringW(ResourceModule(), res::kLinkErrorCaption, caption, 256);
    MessageBoxW(nullptr, error.ErrorMessage(), caption, MB_OK);
  }
}
