#include "ui/numspin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win/codepage.h"

namespace {

// The buddy's text as the original control reads it: narrowed to the ANSI code page, then atof.
double BuddyNumber(HWND buddy) {
  const std::string narrow = WideToCodePage(CP_ACP, WindowText(buddy));
  return std::atof(narrow.c_str());
}

}  // namespace

void CNvNumSpinCtrl::GetValueRange(double& lower, double& upper) const {
  lower = lower_;
  upper = upper_;
}

void CNvNumSpinCtrl::SetValueRange(double lower, double upper) {
  SendMessage(UDM_SETRANGE, 0, 1000);  // MAKELPARAM(1000, 0): the control's own 0..1000
  lower_ = lower;
  upper_ = upper;
}

double CNvNumSpinCtrl::GetValue() const {
  HWND buddy = reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY));
  return buddy ? BuddyNumber(buddy) : 0.0;
}

void CNvNumSpinCtrl::SetValue(double value) {
  SendMessage(UDM_SETPOS, 0, 500);
  if (HWND buddy = reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY))) {
    SetWindowTextW(buddy, FormatValue(value).c_str());
  }
}

std::wstring CNvNumSpinCtrl::FormatValue(double value) {
  char shortest[64];
  std::snprintf(shortest, sizeof shortest, "%g", value);
  if (const char* dot = std::strchr(shortest, '.')) {
    const int after = static_cast<int>(std::strlen(dot + 1));
    if (after > decimals_) decimals_ = after;
  }
  // Fixed-point of a huge value needs up to 309 digits before the point.
  char fixed[400];
  std::snprintf(fixed, sizeof fixed, "%.*f", decimals_, value);
  return Utf8ToWide(fixed);
}

BOOL CNvNumSpinCtrl::OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (message != WM_NOTIFY) return CSpinButtonCtrl::OnChildNotify(message, wparam, lparam, result);
  auto* nm = reinterpret_cast<NMUPDOWN*>(lparam);
  if (nm == nullptr || nm->hdr.code != UDN_DELTAPOS) {
    return CSpinButtonCtrl::OnChildNotify(message, wparam, lparam, result);
  }
  *result = 0;
  HWND buddy = reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY));
  if (buddy == nullptr) return TRUE;
  if (!(nm->iPos > nm->iDelta && nm->iPos < 1000 - nm->iDelta)) nm->iPos = 500;
  double value = BuddyNumber(buddy) + nm->iDelta * step_;
  if (value > upper_) value = upper_;
  if (lower_ > value) value = lower_;
  SetWindowTextW(buddy, FormatValue(value).c_str());
  return TRUE;
}
