// Error information: the per-thread error object that a failing Automation call leaves for its
// caller (CreateErrorInfo, SetErrorInfo, GetErrorInfo).
//
// Stands in for the error-information functions of oleaut32 (<oleauto.h>). Left out: nothing the
// program uses. Each thread has its own slot; the slot is released when the thread ends.
//
//   ICreateErrorInfo* create = nullptr;
//   CreateErrorInfo(&create);
//   create->SetDescription(const_cast<LPOLESTR>(L"Cell is locked"));
//   IErrorInfo* info = nullptr;
//   create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
//   SetErrorInfo(0, info);   // the caller picks it up with GetErrorInfo
//   info->Release();
//   create->Release();
#pragma once

#include "platform/com/comtypes.h"

/// A new, empty error object with one reference, answering ICreateErrorInfo, IErrorInfo and
/// IUnknown. Its fields may be set and read from any thread. E_INVALIDARG for a null `out`,
/// E_OUTOFMEMORY when it cannot be made (`*out` null).
HRESULT CreateErrorInfo(ICreateErrorInfo** out);

/// Replaces the calling thread's error object with `info` (null clears it): adds a reference to
/// `info` and releases the previous one. `reserved` must be 0 (else E_INVALIDARG).
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);

/// Hands the calling thread's error object to the caller, who owns that reference, and clears
/// the slot. S_FALSE with `*info` null when there is none. `reserved` must be 0 and `info` not
/// null (else E_INVALIDARG).
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
