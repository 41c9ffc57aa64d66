#include "platform/com/apartment.h"

#include <algorithm>
#include <map>
#include <utility>

#include "platform/com/apartment_internal.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/classes_internal.h"
#include "platform/com/errorinfo.h"
#include "platform/com/marshal_internal.h"
#include "platform/win/msgqueue.h"
#include "platform/win/msgqueue_internal.h"
#include "platform/win/sync.h"

namespace com_internal {

namespace {

// The MTA is one apartment for all threads that joined it; it ends with the last of them.
std::mutex g_mta_mutex;
std::shared_ptr<Apartment> g_mta;  // guarded by g_mta_mutex
ULONG g_mta_threads = 0;           // guarded by g_mta_mutex

// The live STAs by thread, for the class registry's cross-thread hook.
std::mutex g_stas_mutex;
std::map<DWORD, std::weak_ptr<Apartment>> g_stas;  // guarded by g_stas_mutex

// Leaves the MTA; the last thread to leave ends it.
void LeaveMta() {
  std::lock_guard lock(g_mta_mutex);
  if (--g_mta_threads == 0 && g_mta) {
    g_mta->Disconnect();
    g_mta.reset();
  }
}

// The thread's COM state. The destructor ends an apartment whose thread forgot CoUninitialize.
struct ThreadState {
  ULONG init_count = 0;
  std::shared_ptr<Apartment> apartment;
  HANDLE wake = nullptr;  // auto-reset; set when a call made by this thread completes

  ~ThreadState() {
    // Move out first: releases run by Disconnect must see this thread as uninitialised.
    std::shared_ptr<Apartment> apt = std::move(apartment);
    if (apt && apt->sta()) apt->Disconnect();
    if (apt && !apt->sta()) LeaveMta();
    if (wake) CloseHandle(wake);
  }
  HANDLE Wake() {
    if (!wake) wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return wake;
  }
};
thread_local ThreadState t_state;

LRESULT OnCallMessage(const MSG&) {
  if (Apartment* apt = Apartment::Current()) apt->DrainIncoming();
  return 0;
}

UINT CallMessage() {
  static const UINT msg = [] {
    UINT id = RegisterWindowMessageW(L"Sheetwise.ComApartmentCall");
    win_internal::SetThreadMessageHandler(id, &OnCallMessage);
    return id;
  }();
  return msg;
}

void FreeCarried(CarriedErrorInfo& info) {
  SysFreeString(info.source);
  SysFreeString(info.description);
  SysFreeString(info.help_file);
  info = CarriedErrorInfo{};
}

// Takes the thread's error information into `out` (GetErrorInfo clears it, as on Windows).
void TakeErrorInfo(CarriedErrorInfo& out) {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return;
  out.present = true;
  info->GetGUID(&out.guid);
  info->GetSource(&out.source);
  info->GetDescription(&out.description);
  info->GetHelpFile(&out.help_file);
  info->GetHelpContext(&out.help_context);
  info->Release();
}

// Makes `carried` the calling thread's error information, or clears it.
void GiveErrorInfo(CarriedErrorInfo& carried) {
  if (!carried.present) {
    SetErrorInfo(0, nullptr);
    return;
  }
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
    create->SetGUID(carried.guid);
    create->SetSource(carried.source);
    create->SetDescription(carried.description);
    create->SetHelpFile(carried.help_file);
    create->SetHelpContext(carried.help_context);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  FreeCarried(carried);
}

}  // namespace

struct Apartment::PendingCall {
  explicit PendingCall(FunctionRef w, HANDLE e) : work(w), wake(e) {}
  FunctionRef work;
  HANDLE wake;
  HRESULT status = S_OK;
  CarriedErrorInfo error;
  std::atomic<bool> done{false};

  // The caller may return as soon as `done` is set, so nothing of *this is touched after it.
  void Complete(HRESULT hr) {
    status = hr;
    HANDLE e = wake;
    done.store(true, std::memory_order_release);
    SetEvent(e);  // fails harmlessly if the caller's thread ended and closed it
  }
};

Apartment* Apartment::Current() {
  return t_state.apartment.get();
}

std::shared_ptr<Apartment> Apartment::CurrentShared() {
  return t_state.apartment;
}

std::shared_ptr<Apartment> Apartment::OfThread(DWORD thread_id) {
  std::lock_guard lock(g_stas_mutex);
  auto it = g_stas.find(thread_id);
  if (it == g_stas.end()) return nullptr;
  std::shared_ptr<Apartment> apt = it->second.lock();
  return apt && apt->connected() ? apt : nullptr;
}

namespace {

// CoGetClassObject from a thread other than the registering one: a class object registered by
// an STA is reached through a proxy to that apartment; one registered by an MTA thread or an
// uninitialised thread is free-threaded and used as it is.
HRESULT CrossThreadClassObject(DWORD owner_thread, REFCLSID clsid, DWORD context, REFIID riid,
                               void** ppv) {
  std::shared_ptr<Apartment> owner = Apartment::OfThread(owner_thread);
  Apartment* current = Apartment::Current();
  if (!owner || owner.get() == current) return S_FALSE;  // no apartment to go to: direct
  if (!current) return CO_E_NOTINITIALIZED;
  return CallAndUnmarshal(
      *owner,
      [&](IUnknown** out) {
        return CoGetClassObject(clsid, context, nullptr, riid, reinterpret_cast<void**>(out));
      },
      riid, ppv);
}

}  // namespace

bool Apartment::connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

std::shared_ptr<RemoteRef> Apartment::Export(IUnknown* ptr) {
  IUnknown* identity = nullptr;
  if (FAILED(ptr->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))) || !identity) {
    identity = ptr;  // a broken QueryInterface; the pointer still identifies something
  } else {
    identity->Release();  // the identity stays valid while `ptr` is held
  }
  auto ref = std::make_shared<RemoteRef>(shared_from_this(), ptr, identity);
  {
    std::lock_guard lock(mutex_);
    if (connected_) {
      exports_.insert(ref.get());
      return ref;
    }
  }
  ptr->Release();
  return nullptr;
}

RemoteRef::~RemoteRef() {
  owner_->ReleaseExport(this);
}

bool Apartment::Enqueue(Item item) {
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return false;
    queue_.push_back(item);
  }
  if (PostThreadMessageW(thread_id_, CallMessage(), 0, 0)) return true;
  // The owner's queue is gone (its thread ended); take the item back unless it already ran.
  std::lock_guard lock(mutex_);
  auto it = std::find_if(queue_.begin(), queue_.end(), [&](const Item& i) {
    return i.call == item.call && i.release == item.release;
  });
  if (it == queue_.end()) return true;
  queue_.erase(it);
  return false;
}

void Apartment::ReleaseExport(RemoteRef* ref) {
  {
    std::lock_guard lock(mutex_);
    if (exports_.erase(ref) == 0) return;  // the apartment ended and released it already
  }
  if (IsCurrent() || !sta_) {
    ref->ptr()->Release();
    return;
  }
  // Not blocking: the owner may be busy for long; it releases when it next pumps. If it cannot
  // be reached any more, its thread has ended and the pointer is lost with the apartment.
  Enqueue(Item{nullptr, ref->ptr()});
}

HRESULT Apartment::Call(FunctionRef work) {
  ThreadState& ts = t_state;
  Apartment* caller = ts.apartment.get();
  if (!caller) return CO_E_NOTINITIALIZED;
  if (caller == this || !sta_) {
    if (!connected()) return RPC_E_DISCONNECTED;
    work();
    return S_OK;
  }
  HANDLE wake = ts.Wake();
  if (!wake) return E_OUTOFMEMORY;
  PendingCall call(work, wake);
  if (!Enqueue(Item{&call, nullptr})) return RPC_E_DISCONNECTED;

  if (caller->sta()) {
    // The modal loop of a waiting STA: serve our own queue so that calls into this apartment,
    // timers and releases keep running, and nothing waits on us while we wait on them.
    bool quit = false;
    WPARAM quit_code = 0;
    while (!call.done.load(std::memory_order_acquire)) {
      DWORD r = MsgWaitForMultipleObjects(1, &wake, FALSE, INFINITE, QS_ALLINPUT);
      if (r == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (!call.done.load(std::memory_order_acquire) &&
               PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          if (msg.message == WM_QUIT) {
            quit = true;
            quit_code = msg.wParam;
            continue;
          }
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      } else if (r == WAIT_FAILED) {
        WaitForSingleObject(wake, INFINITE);  // cannot pump; still never miss the completion
      }
    }
    if (quit) PostQuitMessage(static_cast<int>(quit_code));
  } else {
    while (!call.done.load(std::memory_order_acquire)) WaitForSingleObject(wake, INFINITE);
  }
  if (call.status == S_OK) GiveErrorInfo(call.error);
  return call.status;
}

void Apartment::DrainIncoming() {
  for (;;) {
    Item item;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      item = queue_.front();
      queue_.pop_front();
    }
    if (item.release) {
      item.release->Release();
      continue;
    }
    // Keep the owner's own pending error information: this call may arrive while it waits.
    IErrorInfo* saved = nullptr;
    GetErrorInfo(0, &saved);
    item.call->work();
    TakeErrorInfo(item.call->error);
    SetErrorInfo(0, saved);
    if (saved) saved->Release();
    item.call->Complete(S_OK);
  }
}

void Apartment::Disconnect() {
  if (sta_) {
    std::lock_guard lock(g_stas_mutex);
    auto it = g_stas.find(thread_id_);
    if (it != g_stas.end() && it->second.lock().get() == this) g_stas.erase(it);
  }
  std::deque<Item> pending;
  std::unordered_set<RemoteRef*> exports;
  {
    std::lock_guard lock(mutex_);
    connected_ = false;
    pending.swap(queue_);
    exports.swap(exports_);
  }
  for (Item& item : pending) {
    if (item.call) {
      item.call->Complete(RPC_E_DISCONNECTED);
    } else {
      item.release->Release();
    }
  }
  for (RemoteRef* ref : exports) ref->ptr()->Release();
}

}  // namespace com_internal

using com_internal::Apartment;
using com_internal::t_state;

HRESULT CoInitialize(LPVOID reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit) {
  constexpr DWORD kKnown =
      COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
  if (reserved || (coinit & ~kKnown)) return E_INVALIDARG;
  const bool sta = (coinit & COINIT_APARTMENTTHREADED) != 0;
  com_internal::ThreadState& ts = t_state;
  if (ts.init_count > 0) {
    if (ts.apartment->sta() != sta) return RPC_E_CHANGED_MODE;
    ++ts.init_count;
    return S_FALSE;
  }
  if (sta) {
    win_internal::EnsureMessageQueue();  // others may post calls to us from now on
    com_internal::CallMessage();
    static const bool hooked = [] {
      sw::com::SetCrossThreadClassHook(&com_internal::CrossThreadClassObject);
      return true;
    }();
    (void)hooked;
    ts.apartment = std::make_shared<Apartment>(true, GetCurrentThreadId());
    std::lock_guard lock(com_internal::g_stas_mutex);
    com_internal::g_stas[GetCurrentThreadId()] = ts.apartment;
  } else {
    std::lock_guard lock(com_internal::g_mta_mutex);
    if (!com_internal::g_mta) com_internal::g_mta = std::make_shared<Apartment>(false, 0);
    ++com_internal::g_mta_threads;
    ts.apartment = com_internal::g_mta;
  }
  ts.init_count = 1;
  return S_OK;
}

void CoUninitialize() {
  com_internal::ThreadState& ts = t_state;
  if (ts.init_count == 0) return;
  if (--ts.init_count > 0) return;
  std::shared_ptr<Apartment> apt = std::move(ts.apartment);
  if (apt->sta()) {
    apt->Disconnect();
    return;
  }
  com_internal::LeaveMta();
}

HRESULT CoGetApartmentType(APTTYPE* type, int* qualifier) {
  if (!type || !qualifier) return E_INVALIDARG;
  *qualifier = 0;
  Apartment* apt = Apartment::Current();
  if (!apt) {
    *type = APTTYPE_CURRENT;
    return CO_E_NOTINITIALIZED;
  }
  *type = apt->sta() ? APTTYPE_STA : APTTYPE_MTA;
  return S_OK;
}
