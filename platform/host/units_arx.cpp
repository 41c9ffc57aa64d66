// The host-named conversions: the core of units.cpp with the working drawing's settings.
#include <cstddef>
#include <string>

#include "platform/host/dbapserv.h"
#include "platform/host/units.h"

namespace {

// The old signatures never said how large the caller's buffer is; code of that time used 256.
constexpr std::size_t kAssumedBufferLength = 256;

int CopyOut(const UnitText& result, wchar_t* str, std::size_t len) {
  str[0] = L'\0';
  if (result.status != RTNORM) return result.status;
  if (result.text.size() + 1 > len) return RTERROR;
  result.text.copy(str, result.text.size());
  str[result.text.size()] = L'\0';
  return RTNORM;
}

}  // namespace

UnitSettings CurrentUnitSettings() {
  UnitSettings s;
  const AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return s;
  s.lunits = db->lunits();
  s.luprec = db->luprec();
  s.aunits = db->aunits();
  s.auprec = db->auprec();
  s.dimzin = db->dimzin();
  s.unitmode = db->unitmode();
  return s;
}

int acdbRToS(double val, int unit, int prec, wchar_t* str, std::size_t len) {
  if (str == nullptr || len == 0) return RTREJ;
  return CopyOut(FormatDistance(val, unit, prec, CurrentUnitSettings()), str, len);
}

int acdbRToS(double val, int unit, int prec, wchar_t* str) {
  return acdbRToS(val, unit, prec, str, kAssumedBufferLength);
}

int acdbAngToS(double val, int unit, int prec, wchar_t* str, std::size_t len) {
  if (str == nullptr || len == 0) return RTREJ;
  return CopyOut(FormatAngle(val, unit, prec, CurrentUnitSettings()), str, len);
}

int acdbAngToS(double val, int unit, int prec, wchar_t* str) {
  return acdbAngToS(val, unit, prec, str, kAssumedBufferLength);
}

int acdbAngToF(const wchar_t* str, int unit, double* value) {
  if (str == nullptr || value == nullptr) return RTREJ;
  AngleValue parsed = ParseAngle(str, unit, CurrentUnitSettings());
  if (parsed.status == RTNORM) *value = parsed.radians;
  return parsed.status;
}
