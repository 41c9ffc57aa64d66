#include "platform/com/errorinfo.h"

#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include "platform/com/bstr.h"

namespace {

// The error object. One class serves both interfaces through two vtables, as the platform's
// does; IUnknown is the ICreateErrorInfo side.
class ErrorInfo final : public ICreateErrorInfo, public IErrorInfo {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ICreateErrorInfo) {
      *ppv = static_cast<ICreateErrorInfo*>(this);
    } else if (riid == IID_IErrorInfo) {
      *ppv = static_cast<IErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  // ICreateErrorInfo
  HRESULT SetGUID(REFGUID guid) override {
    std::lock_guard lock(mutex_);
    guid_ = guid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR source) override { return Set(source_, source); }
  HRESULT SetDescription(LPOLESTR description) override { return Set(description_, description); }
  HRESULT SetHelpFile(LPOLESTR help_file) override { return Set(help_file_, help_file); }
  HRESULT SetHelpContext(DWORD help_context) override {
    std::lock_guard lock(mutex_);
    help_context_ = help_context;
    return S_OK;
  }

  // IErrorInfo
  HRESULT GetGUID(GUID* guid) override {
    if (guid == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *guid = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* source) override { return Get(source_, source); }
  HRESULT GetDescription(BSTR* description) override { return Get(description_, description); }
  HRESULT GetHelpFile(BSTR* help_file) override { return Get(help_file_, help_file); }
  HRESULT GetHelpContext(DWORD* help_context) override {
    if (help_context == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *help_context = help_context_;
    return S_OK;
  }

 private:
  ~ErrorInfo() = default;

  HRESULT Set(std::wstring& field, const OLECHAR* text) {
    try {
      std::wstring copy = text != nullptr ? std::wstring(text) : std::wstring();
      std::lock_guard lock(mutex_);
      field.swap(copy);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT Get(const std::wstring& field, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    // An empty field gives a null BSTR, as the platform's does for a field never set.
    *out = nullptr;
    if (field.empty()) return S_OK;
    *out = SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;  // guards every field below
  GUID guid_ = IID_NULL;
  std::wstring source_;
  std::wstring description_;
  std::wstring help_file_;
  DWORD help_context_ = 0;
};

// The calling thread's error object; released when the thread ends.
struct ThreadSlot {
  IErrorInfo* info = nullptr;
  ~ThreadSlot() {
    if (info != nullptr) info->Release();
  }
};
thread_local ThreadSlot slot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = new (std::nothrow) ErrorInfo();
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
  if (reserved != 0) return E_INVALIDARG;
  if (info != nullptr) info->AddRef();
  IErrorInfo* old = slot.info;
  slot.info = info;
  if (old != nullptr) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
  if (reserved != 0 || info == nullptr) return E_INVALIDARG;
  *info = slot.info;
  slot.info = nullptr;
  return *info == nullptr ? S_FALSE : S_OK;
}
