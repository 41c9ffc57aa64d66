// Points, vectors, scale factors and 4x4 transformation matrices of the CAD host's geometry
// library, as block references and attributes use them.
//
// Stands in for ObjectARX's AcGe classes (gepnt3d.h, gevec3d.h, gescl3d.h, gemat3d.h). Only what
// placing block references and their attributes needs: affine 3D transforms, the arbitrary-axis
// plane of an extrusion direction, tolerant comparison. Left out: curves, surfaces, 2D classes,
// AcGeContext, and tolerance objects other than one fixed equal-point tolerance (1e-10).
//
//   AcGeMatrix3d m = AcGeMatrix3d::translation(AcGeVector3d(10, 0, 0)) *
//                    AcGeMatrix3d::rotation(M_PI / 2, AcGeVector3d::kZAxis);
//   AcGePoint3d p = AcGePoint3d(1, 0, 0).transformBy(m);   // (10, 1, 0)
#pragma once

class AcGeMatrix3d;

/// A direction or displacement in 3D.
class AcGeVector3d {
 public:
  AcGeVector3d() = default;
  AcGeVector3d(double xx, double yy, double zz) : x(xx), y(yy), z(zz) {}

  static const AcGeVector3d kIdentity;  ///< (0, 0, 0)
  static const AcGeVector3d kXAxis;
  static const AcGeVector3d kYAxis;
  static const AcGeVector3d kZAxis;

  double length() const;
  /// Unit vector of the same direction; the zero vector stays zero.
  AcGeVector3d normal() const;
  AcGeVector3d& normalize();
  double dotProduct(const AcGeVector3d& v) const { return x * v.x + y * v.y + z * v.z; }
  AcGeVector3d crossProduct(const AcGeVector3d& v) const;
  /// Unsigned angle to `v` in radians (0 ... pi).
  double angleTo(const AcGeVector3d& v) const;
  /// Signed angle to `v` seen from `reference` (counterclockwise positive), 0 ... 2 pi.
  double angleTo(const AcGeVector3d& v, const AcGeVector3d& reference) const;
  bool isZeroLength(double tol = 1e-10) const;
  bool isEqualTo(const AcGeVector3d& v, double tol = 1e-10) const;
  /// Applies the linear part of `m` (translation ignored).
  AcGeVector3d& transformBy(const AcGeMatrix3d& m);
  /// A unit vector perpendicular to this one.
  AcGeVector3d perpVector() const;

  AcGeVector3d operator+(const AcGeVector3d& v) const { return {x + v.x, y + v.y, z + v.z}; }
  AcGeVector3d operator-(const AcGeVector3d& v) const { return {x - v.x, y - v.y, z - v.z}; }
  AcGeVector3d operator-() const { return {-x, -y, -z}; }
  AcGeVector3d operator*(double s) const { return {x * s, y * s, z * s}; }
  AcGeVector3d operator/(double s) const { return {x / s, y / s, z / s}; }
  bool operator==(const AcGeVector3d& v) const { return isEqualTo(v); }

  double x = 0;
  double y = 0;
  double z = 0;
};

/// A location in 3D.
class AcGePoint3d {
 public:
  AcGePoint3d() = default;
  AcGePoint3d(double xx, double yy, double zz) : x(xx), y(yy), z(zz) {}

  static const AcGePoint3d kOrigin;

  double distanceTo(const AcGePoint3d& p) const;
  bool isEqualTo(const AcGePoint3d& p, double tol = 1e-10) const;
  AcGePoint3d& transformBy(const AcGeMatrix3d& m);
  /// The vector from the origin to this point.
  AcGeVector3d asVector() const { return {x, y, z}; }

  AcGePoint3d operator+(const AcGeVector3d& v) const { return {x + v.x, y + v.y, z + v.z}; }
  AcGePoint3d operator-(const AcGeVector3d& v) const { return {x - v.x, y - v.y, z - v.z}; }
  AcGeVector3d operator-(const AcGePoint3d& p) const { return {x - p.x, y - p.y, z - p.z}; }
  bool operator==(const AcGePoint3d& p) const { return isEqualTo(p); }

  double x = 0;
  double y = 0;
  double z = 0;
};

/// Scale factors along X, Y and Z; negative factors mirror.
class AcGeScale3d {
 public:
  AcGeScale3d() = default;
  explicit AcGeScale3d(double factor) : sx(factor), sy(factor), sz(factor) {}
  AcGeScale3d(double x, double y, double z) : sx(x), sy(y), sz(z) {}

  static const AcGeScale3d kIdentity;

  bool isEqualTo(const AcGeScale3d& s, double tol = 1e-10) const;
  /// The scaling matrix about the origin.
  AcGeMatrix3d& getMatrix(AcGeMatrix3d& m) const;
  bool operator==(const AcGeScale3d& s) const { return isEqualTo(s); }

  double sx = 1;
  double sy = 1;
  double sz = 1;
};

/// An affine transform as a 4x4 matrix acting on column vectors: p' = M * p. The product A * B
/// applies B first.
class AcGeMatrix3d {
 public:
  AcGeMatrix3d();  ///< the identity

  static const AcGeMatrix3d kIdentity;

  static AcGeMatrix3d translation(const AcGeVector3d& v);
  /// Rotation by `angle` radians, counterclockwise about `axis` through `center`.
  static AcGeMatrix3d rotation(double angle, const AcGeVector3d& axis,
                               const AcGePoint3d& center = AcGePoint3d::kOrigin);
  /// Uniform scaling about `center`.
  static AcGeMatrix3d scaling(double factor, const AcGePoint3d& center = AcGePoint3d::kOrigin);
  /// Mirroring in the plane through `point` with normal `normal`.
  static AcGeMatrix3d mirroring(const AcGePoint3d& point, const AcGeVector3d& normal);
  /// The transform from the object coordinate system of extrusion direction `normal` (the
  /// arbitrary-axis algorithm of DXF) to world coordinates.
  static AcGeMatrix3d planeToWorld(const AcGeVector3d& normal);
  /// The transform that maps the world axes onto `x`, `y`, `z` placed at `origin`.
  static AcGeMatrix3d alignCoordSys(const AcGePoint3d& origin, const AcGeVector3d& x,
                                    const AcGeVector3d& y, const AcGeVector3d& z);

  AcGeMatrix3d& setToIdentity();
  AcGeMatrix3d& setToTranslation(const AcGeVector3d& v) { return *this = translation(v); }
  AcGeMatrix3d& setToRotation(double angle, const AcGeVector3d& axis,
                              const AcGePoint3d& center = AcGePoint3d::kOrigin) {
    return *this = rotation(angle, axis, center);
  }
  AcGeMatrix3d& setToScaling(double factor, const AcGePoint3d& center = AcGePoint3d::kOrigin) {
    return *this = scaling(factor, center);
  }
  /// this = m * this.
  AcGeMatrix3d& preMultiplyBy(const AcGeMatrix3d& m);
  /// this = this * m.
  AcGeMatrix3d& postMultiplyBy(const AcGeMatrix3d& m);
  /// The inverse; a singular matrix leaves itself unchanged and answers false from
  /// `invertible`.
  AcGeMatrix3d inverse() const;
  bool invertible() const;
  /// Determinant of the linear part; negative for a mirroring transform.
  double det() const;
  /// The images of the origin and the three axes.
  void getCoordSystem(AcGePoint3d& origin, AcGeVector3d& x, AcGeVector3d& y, AcGeVector3d& z) const;
  AcGeVector3d translation() const;
  bool isEqualTo(const AcGeMatrix3d& m, double tol = 1e-10) const;

  AcGeMatrix3d operator*(const AcGeMatrix3d& m) const;
  AcGeMatrix3d& operator*=(const AcGeMatrix3d& m) { return postMultiplyBy(m); }
  double operator()(unsigned row, unsigned column) const { return entry[row][column]; }
  double& operator()(unsigned row, unsigned column) { return entry[row][column]; }
  bool operator==(const AcGeMatrix3d& m) const { return isEqualTo(m); }

  double entry[4][4];
};
