// The apartment machinery shared by apartment.cpp, marshal.cpp and rot.cpp: the apartment object
// with its queue of incoming calls, and the references that other apartments hold on its objects.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <type_traits>
#include <unordered_set>

#include "platform/com/comtypes.h"

namespace com_internal {

/// A borrowed callable `void()`; the callee must outlive the call.
class FunctionRef {
 public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
  FunctionRef(F& f)  // NOLINT(google-explicit-constructor): used like a std::function argument
      : obj_(&f), call_([](void* o) { (*static_cast<F*>(o))(); }) {}
  void operator()() const { call_(obj_); }

 private:
  void* obj_;
  void (*call_)(void*);
};

class Apartment;

/// One reference on a real interface pointer of an object living in `owner`, held by a proxy or
/// a marshalled packet in another apartment. Made on the owner's thread (Apartment::Export);
/// may be destroyed on any thread: the real Release then runs on the owner's thread, at once when
/// destroyed there, else posted to it. When the owner ends first, it has released the pointer
/// itself and the destructor does nothing.
class RemoteRef {
 public:
  RemoteRef(std::shared_ptr<Apartment> owner, IUnknown* ptr, IUnknown* identity)
      : owner_(std::move(owner)), ptr_(ptr), identity_(identity) {}
  ~RemoteRef();
  RemoteRef(const RemoteRef&) = delete;
  RemoteRef& operator=(const RemoteRef&) = delete;

  const std::shared_ptr<Apartment>& owner() const { return owner_; }
  /// The real pointer: to be used only on the owner's thread while the owner is connected.
  IUnknown* ptr() const { return ptr_; }
  /// The object's IUnknown, as a key only (never called).
  IUnknown* identity() const { return identity_; }

 private:
  std::shared_ptr<Apartment> owner_;
  IUnknown* ptr_;
  IUnknown* identity_;
};

/// Error information carried from the thread that ran a call back to the caller's thread.
struct CarriedErrorInfo {
  bool present = false;
  GUID guid{};
  BSTR source = nullptr;
  BSTR description = nullptr;
  BSTR help_file = nullptr;
  DWORD help_context = 0;
};

/// One apartment: an STA (one thread) or the MTA. Shared ownership: the thread(s) in it, every
/// proxy to its objects and every RemoteRef keep it alive after it ended (it then answers
/// RPC_E_DISCONNECTED).
class Apartment : public std::enable_shared_from_this<Apartment> {
 public:
  Apartment(bool sta, DWORD thread_id) : sta_(sta), thread_id_(thread_id) {}

  /// The calling thread's apartment, or null when the thread is not initialised.
  static Apartment* Current();
  static std::shared_ptr<Apartment> CurrentShared();
  /// The live single-threaded apartment of thread `thread_id`, or null.
  static std::shared_ptr<Apartment> OfThread(DWORD thread_id);

  bool sta() const { return sta_; }
  DWORD thread_id() const { return thread_id_; }
  bool IsCurrent() const { return Current() == this; }
  bool connected() const;

  /// Adopts one reference on `ptr` (an interface of an object of this apartment) for other
  /// apartments. The calling thread must be this apartment's. Null when the apartment has ended
  /// (the reference is then released at once).
  std::shared_ptr<RemoteRef> Export(IUnknown* ptr);

  /// Runs `work` on this apartment's thread and returns when it has run. From the same
  /// apartment, and for the MTA, it runs at once on the calling thread. Otherwise the caller
  /// blocks; an STA caller keeps dispatching its own queue meanwhile (timers, calls coming into
  /// its objects; a WM_QUIT it meets is posted again after the call). Error information that
  /// `work` leaves on the owner's thread becomes the caller's (none: the caller's is cleared).
  /// RPC_E_DISCONNECTED when this apartment has ended or ends before running `work` (which then
  /// does not run); CO_E_NOTINITIALIZED when the calling thread is in no apartment.
  HRESULT Call(FunctionRef work);

  /// Called by RemoteRef's destructor.
  void ReleaseExport(RemoteRef* ref);
  /// Runs the queued calls and releases; on this apartment's thread only.
  void DrainIncoming();
  /// Ends the apartment; on its thread only (CoUninitialize, thread exit).
  void Disconnect();

 private:
  struct PendingCall;
  struct Item {
    PendingCall* call = nullptr;
    IUnknown* release = nullptr;
  };
  bool Enqueue(Item item);

  const bool sta_;
  const DWORD thread_id_;  // 0 for the MTA
  mutable std::mutex mutex_;
  bool connected_ = true;                   // guarded by mutex_
  std::deque<Item> queue_;                  // guarded by mutex_
  std::unordered_set<RemoteRef*> exports_;  // guarded by mutex_
};

}  // namespace com_internal
