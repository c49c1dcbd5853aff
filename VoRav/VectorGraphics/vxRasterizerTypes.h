// Vector paths and 2D affine matrices of the rasterizer.
//
// A path is an array of points, each a float position and a command:
//   0 move to, 1 line to,
//   2 quadratic curve (this point is the control point, the next the end),
//   3 cubic curve (this and the next point are the control points, the one
//     after them the end point),
//   9 end of figure (the next command must be a move).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kav {

enum : int32_t {
  kPathMove = 0,
  kPathLine = 1,
  kPathQuadratic = 2,
  kPathCubic = 3,
  kPathClose = 9,
};

struct TPathPoint {
  float x = 0;
  float y = 0;
  int32_t Command = kPathMove;
  friend bool operator==(const TPathPoint&, const TPathPoint&) = default;
};

// A growable point array: capacity starts at 16 and doubles.
class TPointArray {
 public:
  void Add(float x, float y, int32_t command);
  void Clear() noexcept { points_.clear(); }
  int32_t Count() const noexcept { return int32_t(points_.size()); }
  bool Empty() const noexcept { return points_.empty(); }
  const TPathPoint& operator[](int32_t i) const noexcept { return points_[size_t(i)]; }
  TPathPoint& operator[](int32_t i) noexcept { return points_[size_t(i)]; }
  const TPathPoint* Data() const noexcept { return points_.data(); }
  const std::vector<TPathPoint>& Points() const noexcept { return points_; }

 private:
  std::vector<TPathPoint> points_;
};

// A 3 x 3 matrix in rows, m[0..8]. A point (x, y) maps to
// (m0 x + m3 y + m6, m1 x + m4 y + m7).
struct TAffineMatrix {
  float m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
};

TAffineMatrix AffineIdentity();
TAffineMatrix AffineTranslation(float dx, float dy);
TAffineMatrix AffineScale(float sx, float sy);
// The ordinary 3 x 3 product a x b (applying a first, then b, to a point).
TAffineMatrix AffineMultiply(const TAffineMatrix& a, const TAffineMatrix& b);
// The point mapped through the matrix, computed in double and rounded once.
void AffineTransformPoint(const TAffineMatrix& m, float x, float y, float& out_x, float& out_y);

}  // namespace kav
