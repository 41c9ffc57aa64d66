// CNvNumSpinCtrl: an up-down control that steps a floating-point number shown in its buddy edit.
//
// The number lives only in the buddy's text; the control's own position is kept near 500 in a
// range of 0 to 1000 so that it never runs into an end, and means nothing. Values are shown
// with as many decimals as the most precise value shown so far (decimals only grow):
//
//   spin.SetValueRange(1.0, 65536.0);
//   spin.SetStep(0.5);
//   spin.SetValue(2);        // buddy shows "2"
//   // a click up shows "2.5", the next "3.0"
//
// Same thread rules as CWnd.
#pragma once

#include <string>

#include "platform/dialog/afxcmn.h"

class CNvNumSpinCtrl : public CSpinButtonCtrl {
 public:
  virtual void SetStep(double step) { step_ = step; }
  virtual double GetStep() const { return step_; }
  virtual void GetValueRange(double& lower, double& upper) const;
  /// Sets the control's own range to 0..1000 (UDM_SETRANGE) and keeps `lower` and `upper` as the
  /// bounds of stepping (when `lower` > `upper`, `lower` wins).
  virtual void SetValueRange(double lower, double upper);
  /// The buddy's text as a number (atof: leading number, 0 for none); 0 without a buddy.
  virtual double GetValue() const;
  /// Moves the position to 500 and shows `value` in the buddy (when there is one).
  virtual void SetValue(double value);

  /// Decimals shown so far.
  int Decimals() const { return decimals_; }
  /// Formats `value` as the buddy shows it: "%g" tells how many decimals it needs (the
  /// characters after its '.'); when more than shown so far they become the decimals; then
  /// fixed-point with the decimals.
  std::wstring FormatValue(double value);

 protected:
  /// Handles the reflected UDN_DELTAPOS: steps the buddy's number by delta x step, clamped.
  BOOL OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;

 private:
  double lower_ = 2.2250738585072014e-308;  // the smallest positive normal double
  double upper_ = 1.7976931348623157e+308;  // the largest finite double
  double step_ = 1.0;
  int decimals_ = 0;
};
