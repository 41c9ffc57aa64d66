// Helpers of the drawing folder: objects closed on every way out, host strings taken over.
#pragma once

#include <string>

#include "platform/host/acdbcore.h"

namespace drawing_internal {

/// Closes an object opened from the database when it goes out of scope (null: nothing).
template <typename T>
class ClosedOnExit {
 public:
  explicit ClosedOnExit(T* object) : object_(object) {}
  ~ClosedOnExit() {
    if (object_ != nullptr) object_->close();
  }
  ClosedOnExit(const ClosedOnExit&) = delete;
  ClosedOnExit& operator=(const ClosedOnExit&) = delete;

 private:
  T* object_;
};

/// Copies a string the host allocated for its caller and frees it with acutDelBuffer; null
/// gives the empty string.
inline std::wstring TakeHostString(ACHAR* text) {
  std::wstring copy = text != nullptr ? std::wstring(text) : std::wstring();
  acutDelBuffer(text);
  return copy;
}

}  // namespace drawing_internal
