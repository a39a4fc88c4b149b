// Small fixed vectors of doubles: the positions of 2D features and 3D points
// and the axes and centres of cameras.
//
// vm::Vector2 and vm::Vector3 are vm::FixedVector<2> and vm::FixedVector<3>
// with named members x, y (and z); they start at zero. Other sizes hold a
// plain array. No operation allocates or throws.
#ifndef KALVEX_FOUNDATION_NUMERIC_FIXED_VECTOR_H_
#define KALVEX_FOUNDATION_NUMERIC_FIXED_VECTOR_H_

#include <cmath>

namespace vm {

template <int N>
struct FixedVector {
  static_assert(N > 0, "a fixed vector needs at least one element");
  double v[N] = {};

  double& operator[](int i) { return v[i]; }
  double operator[](int i) const { return v[i]; }
};

template <>
struct FixedVector<2> {
  double x = 0.0;
  double y = 0.0;

  double& operator[](int i) { return i == 0 ? x : y; }
  double operator[](int i) const { return i == 0 ? x : y; }

  double Dot(const FixedVector& b) const { return x * b.x + y * b.y; }
  double SquaredLength() const { return x * x + y * y; }
  double Length() const { return std::sqrt(SquaredLength()); }
  // Scales to unit length and returns true when the squared length is > 0;
  // otherwise the vector becomes zero and the result is false.
  bool Normalize();

  FixedVector operator+(const FixedVector& b) const { return {x + b.x, y + b.y}; }
  FixedVector operator-(const FixedVector& b) const { return {x - b.x, y - b.y}; }
  FixedVector operator-() const { return {-x, -y}; }
  FixedVector operator*(double s) const { return {x * s, y * s}; }
  FixedVector& operator+=(const FixedVector& b) { return *this = *this + b; }
  FixedVector& operator-=(const FixedVector& b) { return *this = *this - b; }
  FixedVector& operator*=(double s) { return *this = *this * s; }
  bool operator==(const FixedVector&) const = default;
};

template <>
struct FixedVector<3> {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;

  double& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

  double Dot(const FixedVector& b) const { return x * b.x + y * b.y + z * b.z; }
  FixedVector Cross(const FixedVector& b) const {
    return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x};
  }
  double SquaredLength() const { return x * x + y * y + z * z; }
  double Length() const { return std::sqrt(SquaredLength()); }
  // Scales to unit length and returns true when the squared length is > 0;
  // otherwise the vector becomes zero and the result is false.
  bool Normalize();

  FixedVector operator+(const FixedVector& b) const { return {x + b.x, y + b.y, z + b.z}; }
  FixedVector operator-(const FixedVector& b) const { return {x - b.x, y - b.y, z - b.z}; }
  FixedVector operator-() const { return {-x, -y, -z}; }
  FixedVector operator*(double s) const { return {x * s, y * s, z * s}; }
  FixedVector& operator+=(const FixedVector& b) { return *this = *this + b; }
  FixedVector& operator-=(const FixedVector& b) { return *this = *this - b; }
  FixedVector& operator*=(double s) { return *this = *this * s; }
  bool operator==(const FixedVector&) const = default;
};

using Vector2 = FixedVector<2>;
using Vector3 = FixedVector<3>;

inline bool FixedVector<2>::Normalize() {
  const double q = SquaredLength();
  if (q > 0.0) {
    const double len = std::sqrt(q);
    x /= len;
    y /= len;
    return true;
  }
  x = y = 0.0;
  return false;
}

inline bool FixedVector<3>::Normalize() {
  const double q = SquaredLength();
  if (q > 0.0) {
    const double len = std::sqrt(q);
    x /= len;
    y /= len;
    z /= len;
    return true;
  }
  x = y = z = 0.0;
  return false;
}

}  // namespace vm

#endif  // KALVEX_FOUNDATION_NUMERIC_FIXED_VECTOR_H_
