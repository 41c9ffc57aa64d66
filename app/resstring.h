// Texts the user sees, loaded by id from the resource library.
//
//   acutPrintf(L"%s", g_resString.Load(res::kVantaPrompt).c_str());
#pragma once

#include <string>

#include "platform/win/wintypes.h"

class CResString {
 public:
  virtual ~CResString() = default;
  /// String `id` of the resource library, loaded with the library as the host's current
  /// resource module for that time; empty when the library lacks it. Main thread.
  virtual std::wstring Load(UINT id);
};

extern CResString g_resString;
