#include "platform/host/acgegeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kArbitraryAxisLimit = 1.0 / 64.0;

}  // namespace

const AcGeVector3d AcGeVector3d::kIdentity(0, 0, 0);
const AcGeVector3d AcGeVector3d::kXAxis(1, 0, 0);
const AcGeVector3d AcGeVector3d::kYAxis(0, 1, 0);
const AcGeVector3d AcGeVector3d::kZAxis(0, 0, 1);
const AcGePoint3d AcGePoint3d::kOrigin(0, 0, 0);
const AcGeScale3d AcGeScale3d::kIdentity(1, 1, 1);
const AcGeMatrix3d AcGeMatrix3d::kIdentity;

double AcGeVector3d::length() const {
  return std::sqrt(x * x + y * y + z * z);
}

AcGeVector3d AcGeVector3d::normal() const {
  double len = length();
  return len == 0 ? *this : *this / len;
}

AcGeVector3d& AcGeVector3d::normalize() {
  return *this = normal();
}

AcGeVector3d AcGeVector3d::crossProduct(const AcGeVector3d& v) const {
  return {y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x};
}

double AcGeVector3d::angleTo(const AcGeVector3d& v) const {
  // atan2 of |a x b| and a.b stays accurate near 0 and pi, where acos does not.
  return std::atan2(crossProduct(v).length(), dotProduct(v));
}

double AcGeVector3d::angleTo(const AcGeVector3d& v, const AcGeVector3d& reference) const {
  double angle = angleTo(v);
  if (crossProduct(v).dotProduct(reference) < 0) angle = 2 * std::numbers::pi - angle;
  return angle;
}

bool AcGeVector3d::isZeroLength(double tol) const {
  return length() <= tol;
}

bool AcGeVector3d::isEqualTo(const AcGeVector3d& v, double tol) const {
  return (*this - v).length() <= tol;
}

AcGeVector3d& AcGeVector3d::transformBy(const AcGeMatrix3d& m) {
  const auto& e = m.entry;
  *this = {e[0][0] * x + e[0][1] * y + e[0][2] * z, e[1][0] * x + e[1][1] * y + e[1][2] * z,
           e[2][0] * x + e[2][1] * y + e[2][2] * z};
  return *this;
}

AcGeVector3d AcGeVector3d::perpVector() const {
  AcGeVector3d other = std::abs(x) < 0.9 ? kXAxis : kYAxis;
  return crossProduct(other).normal();
}

double AcGePoint3d::distanceTo(const AcGePoint3d& p) const {
  return (*this - p).length();
}

bool AcGePoint3d::isEqualTo(const AcGePoint3d& p, double tol) const {
  return distanceTo(p) <= tol;
}

AcGePoint3d& AcGePoint3d::transformBy(const AcGeMatrix3d& m) {
  const auto& e = m.entry;
  *this = {e[0][0] * x + e[0][1] * y + e[0][2] * z + e[0][3],
           e[1][0] * x + e[1][1] * y + e[1][2] * z + e[1][3],
           e[2][0] * x + e[2][1] * y + e[2][2] * z + e[2][3]};
  return *this;
}

bool AcGeScale3d::isEqualTo(const AcGeScale3d& s, double tol) const {
  return std::abs(sx - s.sx) <= tol && std::abs(sy - s.sy) <= tol && std::abs(sz - s.sz) <= tol;
}

AcGeMatrix3d& AcGeScale3d::getMatrix(AcGeMatrix3d& m) const {
  m.setToIdentity();
  m.entry[0][0] = sx;
  m.entry[1][1] = sy;
  m.entry[2][2] = sz;
  return m;
}

AcGeMatrix3d::AcGeMatrix3d() {
  setToIdentity();
}

AcGeMatrix3d& AcGeMatrix3d::setToIdentity() {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) entry[r][c] = r == c ? 1 : 0;
  return *this;
}

AcGeMatrix3d AcGeMatrix3d::translation(const AcGeVector3d& v) {
  AcGeMatrix3d m;
  m.entry[0][3] = v.x;
  m.entry[1][3] = v.y;
  m.entry[2][3] = v.z;
  return m;
}

AcGeMatrix3d AcGeMatrix3d::rotation(double angle, const AcGeVector3d& axis,
                                    const AcGePoint3d& center) {
  AcGeVector3d u = axis.normal();
  double c = std::cos(angle);
  double s = std::sin(angle);
  double t = 1 - c;
  AcGeMatrix3d r;
  r.entry[0][0] = t * u.x * u.x + c;
  r.entry[0][1] = t * u.x * u.y - s * u.z;
  r.entry[0][2] = t * u.x * u.z + s * u.y;
  r.entry[1][0] = t * u.x * u.y + s * u.z;
  r.entry[1][1] = t * u.y * u.y + c;
  r.entry[1][2] = t * u.y * u.z - s * u.x;
  r.entry[2][0] = t * u.x * u.z - s * u.y;
  r.entry[2][1] = t * u.y * u.z + s * u.x;
  r.entry[2][2] = t * u.z * u.z + c;
  return translation(center.asVector()) * r * translation(-center.asVector());
}

AcGeMatrix3d AcGeMatrix3d::scaling(double factor, const AcGePoint3d& center) {
  AcGeMatrix3d m;
  AcGeScale3d(factor).getMatrix(m);
  return translation(center.asVector()) * m * translation(-center.asVector());
}

AcGeMatrix3d AcGeMatrix3d::mirroring(const AcGePoint3d& point, const AcGeVector3d& normal) {
  AcGeVector3d n = normal.normal();
  AcGeMatrix3d m;
  double nv[3] = {n.x, n.y, n.z};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m.entry[r][c] = (r == c ? 1 : 0) - 2 * nv[r] * nv[c];
  return translation(point.asVector()) * m * translation(-point.asVector());
}

AcGeMatrix3d AcGeMatrix3d::planeToWorld(const AcGeVector3d& normal) {
  AcGeVector3d z = normal.normal();
  if (z.isZeroLength()) z = AcGeVector3d::kZAxis;
  AcGeVector3d x = std::abs(z.x) < kArbitraryAxisLimit && std::abs(z.y) < kArbitraryAxisLimit
                       ? AcGeVector3d::kYAxis.crossProduct(z)
                       : AcGeVector3d::kZAxis.crossProduct(z);
  x.normalize();
  AcGeVector3d y = z.crossProduct(x).normal();
  return alignCoordSys(AcGePoint3d::kOrigin, x, y, z);
}

AcGeMatrix3d AcGeMatrix3d::alignCoordSys(const AcGePoint3d& origin, const AcGeVector3d& x,
                                         const AcGeVector3d& y, const AcGeVector3d& z) {
  AcGeMatrix3d m;
  const AcGeVector3d* axes[3] = {&x, &y, &z};
  for (int c = 0; c < 3; ++c) {
    m.entry[0][c] = axes[c]->x;
    m.entry[1][c] = axes[c]->y;
    m.entry[2][c] = axes[c]->z;
  }
  m.entry[0][3] = origin.x;
  m.entry[1][3] = origin.y;
  m.entry[2][3] = origin.z;
  return m;
}

AcGeMatrix3d& AcGeMatrix3d::preMultiplyBy(const AcGeMatrix3d& m) {
  return *this = m * *this;
}

AcGeMatrix3d& AcGeMatrix3d::postMultiplyBy(const AcGeMatrix3d& m) {
  return *this = *this * m;
}

AcGeMatrix3d AcGeMatrix3d::operator*(const AcGeMatrix3d& m) const {
  AcGeMatrix3d out;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += entry[r][k] * m.entry[k][c];
      out.entry[r][c] = sum;
    }
  return out;
}

double AcGeMatrix3d::det() const {
  const auto& e = entry;
  return e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
         e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
         e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0]);
}

bool AcGeMatrix3d::invertible() const {
  return std::abs(det()) > 1e-300;
}

AcGeMatrix3d AcGeMatrix3d::inverse() const {
  if (!invertible()) return *this;
  const auto& e = entry;
  double d = det();
  AcGeMatrix3d inv;
  // Inverse of the linear part by cofactors; the translation follows as -inv(L) * t.
  inv.entry[0][0] = (e[1][1] * e[2][2] - e[1][2] * e[2][1]) / d;
  inv.entry[0][1] = (e[0][2] * e[2][1] - e[0][1] * e[2][2]) / d;
  inv.entry[0][2] = (e[0][1] * e[1][2] - e[0][2] * e[1][1]) / d;
  inv.entry[1][0] = (e[1][2] * e[2][0] - e[1][0] * e[2][2]) / d;
  inv.entry[1][1] = (e[0][0] * e[2][2] - e[0][2] * e[2][0]) / d;
  inv.entry[1][2] = (e[0][2] * e[1][0] - e[0][0] * e[1][2]) / d;
  inv.entry[2][0] = (e[1][0] * e[2][1] - e[1][1] * e[2][0]) / d;
  inv.entry[2][1] = (e[0][1] * e[2][0] - e[0][0] * e[2][1]) / d;
  inv.entry[2][2] = (e[0][0] * e[1][1] - e[0][1] * e[1][0]) / d;
  for (int r = 0; r < 3; ++r) {
    inv.entry[r][3] =
        -(inv.entry[r][0] * e[0][3] + inv.entry[r][1] * e[1][3] + inv.entry[r][2] * e[2][3]);
  }
  return inv;
}

void AcGeMatrix3d::getCoordSystem(AcGePoint3d& origin, AcGeVector3d& x, AcGeVector3d& y,
                                  AcGeVector3d& z) const {
  origin = {entry[0][3], entry[1][3], entry[2][3]};
  x = {entry[0][0], entry[1][0], entry[2][0]};
  y = {entry[0][1], entry[1][1], entry[2][1]};
  z = {entry[0][2], entry[1][2], entry[2][2]};
}

AcGeVector3d AcGeMatrix3d::translation() const {
  return {entry[0][3], entry[1][3], entry[2][3]};
}

bool AcGeMatrix3d::isEqualTo(const AcGeMatrix3d& m, double tol) const {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (std::abs(entry[r][c] - m.entry[r][c]) > tol) return false;
  return true;
}
