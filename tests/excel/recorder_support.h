// A dispatch object for the excel/ tests that records every call it receives and answers as the
// test scripts it: a result, a failure, or an exception record.
#pragma once

#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/comtypes.h"
#include "platform/com/variant.h"

namespace sw::test {

/// One received call, its arguments deep-copied in the order Invoke got them (last first).
struct RecordedCall {
  DISPID id = 0;
  WORD flags = 0;
  std::vector<VARIANT> args;
  std::vector<VARTYPE> types;  // as sent, also of values a copy refuses (arrays)
  std::vector<DISPID> named;
  bool result_requested = false;
};

class Recorder : public IDispatch {
 public:
  Recorder();
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }  // lives on the test's stack
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override;

  ULONG refs() const { return refs_; }
  const std::vector<RecordedCall>& calls() const { return calls_; }
  const RecordedCall& last() const { return calls_.back(); }
  void ClearCalls();

  /// Interfaces it answers besides IUnknown and IDispatch.
  std::vector<IID> interfaces;
  /// When not S_OK, QueryInterface for an interface it does not answer fails with this.
  HRESULT query_failure = E_NOINTERFACE;
  /// What Invoke answers; the reply is copied into the result when one is asked for.
  HRESULT hr = S_OK;
  VARIANT reply;
  /// Filled into the exception record for DISP_E_EXCEPTION (strings are copied).
  WORD wcode = 0;
  SCODE scode = S_OK;
  std::wstring source, description, help_file;
  DWORD help_context = 0;
  /// With true, only pfnDeferredFillIn is set and the fields come when it runs.
  bool deferred = false;
  /// Calls of GetIDsOfNames (the program never makes any).
  int name_lookups = 0;

 private:
  static HRESULT FillIn(EXCEPINFO* excep);
  void FillRecord(EXCEPINFO* excep) const;

  ULONG refs_ = 1;
  std::vector<RecordedCall> calls_;
};

}  // namespace sw::test
