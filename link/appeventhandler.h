// The live link's event sink: the COM object CAppEventHandler that subscribes to the spreadsheet
// application's events (AppEvents) and queues one XLChangeInfo record for every SheetChange, with
// its interface IAppEventHandler and the type library VantaLib 1.0 that makes the interface
// callable from the host's main thread.
//
// The object lives on the link's apartment thread (linkcontrol.h). The main thread holds a proxy
// and calls only Enable and Disable through it; the spreadsheet's events arrive on the same
// apartment thread, and every call the handler makes back into the spreadsheet (which lives on
// the main thread) goes through proxies.
//
//   RegisterVantaTypeLib(module_path);            // once, at load: the proxy of IAppEventHandler
//   CComObject<CAppEventHandler>* sink = nullptr;
//   CComObject<CAppEventHandler>::CreateInstance(&sink);
//   sink->AddRef();
//   sink->Enable();                               // attach to the running spreadsheet
//   ...                                           // SheetChange -> PushChange
//   sink->Disable();
//   sink->Release();
#pragma once

#include "excel/excel.h"
#include "platform/calc/application.h"
#include "platform/com/dispimpl.h"

/// The type library of the live link, its interface and its class.
inline constexpr GUID LIBID_VantaLib = {
    0xD61DAA7F, 0x5EAB, 0x420F, {0xAF, 0x70, 0x27, 0x65, 0xAC, 0xB6, 0x74, 0x22}};
inline constexpr IID IID_IAppEventHandler = {
    0x29DEE988, 0x4969, 0x4E43, {0xB2, 0x1A, 0x84, 0xF1, 0xB4, 0x3A, 0x0E, 0xA1}};
inline constexpr CLSID CLSID_AppEventHandler = {
    0x2A987101, 0x9B7F, 0x4DA0, {0x92, 0x8A, 0xEC, 0x5C, 0xF3, 0x58, 0x01, 0xA3}};

/// DISPIDs of IAppEventHandler.
inline constexpr DISPID kDispidEnable = 1;
inline constexpr DISPID kDispidDisable = 2;

/// The cookie value that means "not subscribed".
inline constexpr DWORD kNoEventCookie = 0xFEFEFEFE;

/// The link's switch, a dual interface (vtable after IDispatch's seven slots: Enable, Disable).
struct IAppEventHandler : IDispatch {
  /// Attaches to the running spreadsheet application and subscribes to its events. The failure
  /// of GetActiveObject (MK_E_UNAVAILABLE when none runs) or of the query for _Application,
  /// with nothing changed; S_OK as soon as the application was found, whether or not the
  /// subscription succeeded.
  virtual HRESULT Enable() = 0;
  /// Unsubscribes and lets go of the application. Always S_OK; harmless when not enabled.
  virtual HRESULT Disable() = 0;

 protected:
  ~IAppEventHandler() = default;
};

/// Describes VantaLib 1.0 ("Vanta 1.0 Type Library": IAppEventHandler with Enable and Disable)
/// and registers it for `module_path` (RegisterTypeLib: in this process, and its records under
/// HKEY_CLASSES_ROOT\TypeLib and \Interface). From then on IAppEventHandler can be marshalled
/// between apartments and CAppEventHandler answers IDispatch. The HRESULT of RegisterTypeLib
/// (a failure to write the records leaves the library registered in this process). Any thread.
HRESULT RegisterVantaTypeLib(const wchar_t* module_path);

/// The sink's description of SheetChange(Sh, Target): no result, two IDispatch arguments.
extern const _ATL_FUNC_INFO kSheetChangeInfo;

/// The event sink. Every method runs on the thread of the apartment it was created in; its
/// reference count is not atomic.
class CAppEventHandler
    : public CComObjectRoot,
      public IDispatchImpl<IAppEventHandler, &IID_IAppEventHandler, &LIBID_VantaLib, 1, 0>,
      public IDispEventSimpleImpl<1, CAppEventHandler, &sheetwise::calc::DIID_AppEvents> {
 public:
  BEGIN_COM_MAP(CAppEventHandler)
  COM_INTERFACE_ENTRY_IID(IID_IAppEventHandler, IAppEventHandler)
  COM_INTERFACE_ENTRY_IID(IID_IDispatch, IAppEventHandler)
  END_COM_MAP()

  BEGIN_SINK_MAP(CAppEventHandler)
  SINK_ENTRY_INFO(1, sheetwise::calc::DIID_AppEvents, sheetwise::calc::kDispidSheetChange,
                  &CAppEventHandler::OnSheetChange, &kSheetChangeInfo)
  END_SINK_MAP()

  HRESULT Enable() override;
  HRESULT Disable() override;

  /// SheetChange: queues the top-left cell of the changed range. Tries the first argument as the
  /// range, then the second (Excel passes the worksheet first), so either order works. When the
  /// first attempt failed for a reason that may pass (anything but "this is no range"), the
  /// second waits 100 ms on the thread's message clock first. When both fail, a message box
  /// (caption: resource string 4) shows the error's text; nothing is queued.
  void OnSheetChange(IDispatch* first, IDispatch* second);

  /// The application held while enabled (null when not), for tests.
  IDispatch* application() const { return application_.GetInterfacePtr(); }

 private:
  Excel::_ApplicationPtr application_;
};
