#include "VoRav/VectorGraphics/vxRasterizerTypes.h"

#include "VoRav/wpExceptions.h"

namespace kav {

void TPointArray::Add(float x, float y, int32_t command) {
  if (points_.size() == points_.capacity()) {
    const size_t grown = points_.capacity() < 16 ? 16 : points_.capacity() * 2;
    KAV_ASSERT(grown > points_.size());
    points_.reserve(grown);
  }
  points_.push_back(TPathPoint{x, y, command});
}

TAffineMatrix AffineIdentity() { return TAffineMatrix{}; }

TAffineMatrix AffineTranslation(float dx, float dy) {
  TAffineMatrix r;
  r.m[6] = dx;
  r.m[7] = dy;
  return r;
}

TAffineMatrix AffineScale(float sx, float sy) {
  TAffineMatrix r;
  r.m[0] = sx;
  r.m[4] = sy;
  return r;
}

TAffineMatrix AffineMultiply(const TAffineMatrix& a, const TAffineMatrix& b) {
  TAffineMatrix r;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += double(a.m[row * 3 + k]) * double(b.m[k * 3 + col]);
      r.m[row * 3 + col] = float(s);
    }
  return r;
}

void AffineTransformPoint(const TAffineMatrix& m, float x, float y, float& out_x, float& out_y) {
  out_x = float(double(m.m[0]) * x + double(m.m[3]) * y + double(m.m[6]));
  out_y = float(double(m.m[1]) * x + double(m.m[4]) * y + double(m.m[7]));
}

}  // namespace kav
