// Reports of the errors that end a command's work with the spreadsheet: a COM error
// (_com_error), an OLE exception and a dispatch exception, each shown in a message box owned by
// the host's main window, and the texts they are made of.
//
// A command body wraps its whole work in these handlers, in this order, so that no exception
// reaches the host:
//
//   try {
//     ...
//   } catch (const _com_error& e) {
//     ReportComError(e);
//   } catch (const COleException& e) {
//     ReportOleException(e);
//   } catch (const COleDispatchException& e) {
//     ReportDispatchException(e);
//   } catch (...) {
//     ...  // the command's own message for any other exception
//   }
//
// Threads: any thread may call; the message box blocks that thread until it is answered.
#pragma once

#include <string>

#include "platform/com/comdef.h"
#include "platform/win/message.h"

/// The framework's exception base.
class CException {
 public:
  virtual ~CException() = default;
};

/// The framework's OLE exception: a failing status code.
class COleException : public CException {
 public:
  explicit COleException(SCODE sc = E_FAIL) : m_sc(sc) {}
  SCODE m_sc;
};

/// The framework's dispatch exception: what an automation member raised.
class COleDispatchException : public CException {
 public:
  explicit COleDispatchException(std::wstring description, UINT help_context = 0, WORD code = 0)
      : m_wCode(code), m_strDescription(std::move(description)), m_dwHelpContext(help_context) {}
  WORD m_wCode;
  std::wstring m_strDescription;
  DWORD m_dwHelpContext;
  std::wstring m_strHelpFile;
  std::wstring m_strSource;
  SCODE m_scError = S_OK;
};

/// The application's title, the caption of its message boxes.
inline constexpr const wchar_t* kApplicationTitle = L"Sheetwise";

/// Shows `text` in a message box owned by the host's main window (adsw_acadMainWnd) with the
/// application's title as caption and the buttons and icon of `type`; returns the button chosen
/// (IDOK ...). `help_id` is accepted and ignored (there is no help button). Blocks until
/// answered.
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK, UINT help_id = 0);

/// Shows "COM error!", then one line each for the code (8 lowercase hex digits), its meaning,
/// the source and the description ("null" when there is none or it is empty), with MB_OK.
/// Raises _com_error(E_OUTOFMEMORY) only when the texts cannot be built.
void ReportComError(const _com_error& error);
/// Shows "Ole Error : 0x" and the status code in 8 uppercase hex digits, with MB_OK.
void ReportOleException(const COleException& error);
/// Shows "Dispatch error : " and the description, with MB_OK.
void ReportDispatchException(const COleDispatchException& error);

/// The meaning of the error's HRESULT: the system's message without its line end ("\r\n", or a
/// lone "\n"); without one, "IDispatch error #N" for 0x80040201..0x8004FFFF (N = HRESULT -
/// 0x80040200), else "Unknown error 0x" and the HRESULT in uppercase hex. Built once and kept
/// by the exception (valid while it lives); empty when even that cannot be allocated.
const wchar_t* ErrorMessage(const _com_error& error);
/// From the error's error information; empty when it has none.
_bstr_t Source(const _com_error& error);
_bstr_t Description(const _com_error& error);

/// The text ReportComError shows.
std::wstring ComErrorText(const _com_error& error);
