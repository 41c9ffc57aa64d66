// Helpers of the export folder: the resource library made current for an operation, drawing
// objects closed on every way out, and the case-insensitive collation of attribute tags.
#pragma once

#include <cwchar>
#include <string>
#include <string_view>

#include "app/nvarxapp.h"
#include "platform/host/dbmain.h"
#include "platform/host/docman.h"
#include "platform/win/locale.h"

namespace export_internal {

/// The application's resource library is the host's current resource module while this object
/// lives; the previous one comes back when it goes, also when an exception passes.
class ResourceScope {
 public:
  ResourceScope() {
    CNvArxApp* app = NvGetCurrentApp();
    acDocManagerPtr()->pushResourceHandle(app != nullptr ? app->m_hResource : nullptr);
  }
  ~ResourceScope() { acDocManagerPtr()->popResourceHandle(); }
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;
};

/// Closes an object opened from the database when it goes out of scope (null: nothing).
template <typename T>
class ClosedOnExit {
 public:
  explicit ClosedOnExit(T* object = nullptr) : object_(object) {}
  ~ClosedOnExit() {
    if (object_ != nullptr) object_->close();
  }
  ClosedOnExit(const ClosedOnExit&) = delete;
  ClosedOnExit& operator=(const ClosedOnExit&) = delete;

 private:
  T* object_;
};

/// Copies a string the host allocated for its caller and frees it; null gives "".
inline std::wstring TakeHostString(ACHAR* text) {
  std::wstring copy = text != nullptr ? std::wstring(text) : std::wstring();
  acutDelBuffer(text);
  return copy;
}

/// The run-time library's case-insensitive collation (_wcsicoll): both texts folded to lower
/// case (non-ASCII letters too), then compared by the collation of the locale set at load.
/// <0, 0, >0.
inline int CollateNoCase(std::wstring_view a, std::wstring_view b) {
  const std::wstring fa = FoldCase(a);
  const std::wstring fb = FoldCase(b);
  return std::wcscoll(fa.c_str(), fb.c_str());
}

}  // namespace export_internal
