#include "platform/d3d/raster/SwBlit.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/d3d/SwFormat.h"

namespace kav {

void SwFillRect(TSwSurface& s, const TSwRect& r, uint32_t argb) {
  const TSwFormat f = s.Format();
  const int bpp = SwBytesPerPixel(f);
  if (f == TSwFormat::X8R8G8B8) argb |= 0xFF000000u;
  if (bpp == 4) {
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::fill_n(reinterpret_cast<uint32_t*>(s.Row(y)) + r.left, r.Width(), argb);
    return;
  }
  uint8_t px[4];
  SwWriteArgb(f, px, argb);
  for (int32_t y = r.top; y < r.bottom; ++y) {
    uint8_t* p = s.Row(y) + int64_t(r.left) * bpp;
    for (int32_t x = 0; x < r.Width(); ++x, p += bpp) std::memcpy(p, px, size_t(bpp));
  }
}

namespace {

void ColumnMap(const TSwRect& sr, int32_t dw, std::vector<int32_t>& map) {
  map.resize(size_t(dw));
  const int64_t sw = sr.Width();
  for (int32_t x = 0; x < dw; ++x) map[size_t(x)] = sr.left + int32_t(((2 * int64_t(x) + 1) * sw) / (2 * int64_t(dw)));
}

inline int32_t RowMap(const TSwRect& sr, int32_t y, int32_t dh) {
  return sr.top + int32_t(((2 * int64_t(y) + 1) * sr.Height()) / (2 * int64_t(dh)));
}

}  // namespace

void SwStretch32(const uint8_t* src, int32_t src_pitch, const TSwRect& sr, uint8_t* dst, int32_t dst_pitch,
                 int32_t dw, int32_t dh) {
  if (sr.Width() == dw && sr.Height() == dh) {
    for (int32_t y = 0; y < dh; ++y)
      std::memcpy(dst + int64_t(y) * dst_pitch, src + int64_t(sr.top + y) * src_pitch + int64_t(sr.left) * 4,
                  size_t(dw) * 4);
    return;
  }
  std::vector<int32_t> map;
  ColumnMap(sr, dw, map);
  for (int32_t y = 0; y < dh; ++y) {
    const uint32_t* s = reinterpret_cast<const uint32_t*>(src + int64_t(RowMap(sr, y, dh)) * src_pitch);
    uint32_t* d = reinterpret_cast<uint32_t*>(dst + int64_t(y) * dst_pitch);
    for (int32_t x = 0; x < dw; ++x) d[x] = s[map[size_t(x)]];
  }
}

void SwStretchNearest(const TSwSurface& src, const TSwRect& sr, TSwSurface& dst, const TSwRect& dr) {
  const TSwFormat sf = src.Format(), df = dst.Format();
  const int sb = SwBytesPerPixel(sf), db = SwBytesPerPixel(df);
  if (sf == df && sb == 4) {
    SwStretch32(src.Row(0), src.Pitch(), sr, dst.Row(dr.top) + int64_t(dr.left) * 4, dst.Pitch(), dr.Width(),
                dr.Height());
    return;
  }
  std::vector<int32_t> map;
  ColumnMap(sr, dr.Width(), map);
  for (int32_t y = 0; y < dr.Height(); ++y) {
    const uint8_t* s = src.Row(RowMap(sr, y, dr.Height()));
    uint8_t* d = dst.Row(dr.top + y) + int64_t(dr.left) * db;
    for (int32_t x = 0; x < dr.Width(); ++x, d += db)
      SwWriteArgb(df, d, SwReadArgb(sf, s + int64_t(map[size_t(x)]) * sb));
  }
}

}  // namespace kav
