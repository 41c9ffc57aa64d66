// The class registry across threads: the registering thread is recorded, and a class object
// registered on one thread reaches another through the cross-thread hook.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/com/classes.h"
#include "platform/com/classes_internal.h"
#include "platform/win/sync.h"
#include "tests/platform/com/value_support.h"

namespace {

constexpr CLSID kThreadClass = {
    0x6B1F0D23, 0x3A42, 0x4C1E, {0x9A, 0x10, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};

std::atomic<DWORD> hooked_owner{0};
std::atomic<int> hook_calls{0};

// Records the call and lets the registry hand out the object directly, as for a registering
// thread that is in no apartment.
HRESULT RecordingHook(DWORD owner, REFCLSID clsid, DWORD, REFIID, void**) {
  hooked_owner = owner;
  if (clsid == kThreadClass) ++hook_calls;
  return S_FALSE;
}

TEST(ClassRegistryThreads, OtherThreadsGoThroughTheHook) {
  sw::test::CountedObject factory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kThreadClass, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                  &cookie),
            S_OK);
  const DWORD owner = GetCurrentThreadId();
  const auto previous = sw::com::SetCrossThreadClassHook(&RecordingHook);

  // Same thread: no hook.
  IUnknown* object = nullptr;
  ASSERT_EQ(CoGetClassObject(kThreadClass, CLSCTX_ALL, nullptr, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  object->Release();
  EXPECT_EQ(hook_calls, 0);

  DWORD seen_owner = 0;
  HRESULT other_hr = E_FAIL;
  std::thread other([&] {
    seen_owner = sw::com::ClassRegisteringThread(kThreadClass, CLSCTX_ALL);
    IUnknown* remote = nullptr;
    other_hr = CoGetClassObject(kThreadClass, CLSCTX_ALL, nullptr, IID_IUnknown,
                                reinterpret_cast<void**>(&remote));
    if (remote != nullptr) remote->Release();
  });
  other.join();
  sw::com::SetCrossThreadClassHook(previous);
  EXPECT_EQ(other_hr, S_OK);
  EXPECT_EQ(seen_owner, owner);
  EXPECT_EQ(hook_calls, 1);
  EXPECT_EQ(hooked_owner, owner);
  ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory.refs, 1u);
}

}  // namespace
