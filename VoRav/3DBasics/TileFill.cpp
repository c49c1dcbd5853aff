#include "VoRav/3DBasics/TileFill.h"

#include <algorithm>
#include <cstring>

namespace kav {

void TileFillPlain(TBitmap* src, int32_t ox, int32_t oy, int32_t w, int32_t h, TSysBitmap* out) {
  const int32_t sw = src->Width(), sh = src->Height();
  for (int32_t y = 0; y < h; ++y) {
    const int32_t sy = std::clamp(oy + y, 0, sh - 1);
    auto* row = reinterpret_cast<uint32_t*>(out->Row(y));
    for (int32_t x = 0; x < w; ++x) {
      uint32_t p = 0;
      src->GetPixels32(std::clamp(ox + x, 0, sw - 1), sy, 1, std::span<uint32_t>(&p, 1), 0);
      row[x] = p;
    }
  }
}

void TileFill(TBitmap* src, int32_t ox, int32_t oy, int32_t w, int32_t h, TSysBitmap* out) {
  const int32_t sw = src->Width(), sh = src->Height();
  if (w <= 0 || h <= 0) return;
  // Output columns [lead, end) read source columns [ox + lead, ox + end) in
  // place; those before repeat column 0, those after column sw - 1.
  const int32_t lead = int32_t(std::clamp<int64_t>(-int64_t(ox), 0, w));
  const int32_t end = int32_t(std::clamp<int64_t>(int64_t(sw) - ox, 0, w));
  const int32_t n = end - lead;
  auto* sys = dynamic_cast<TSysBitmap*>(src);
  for (int32_t y = 0; y < h; ++y) {
    const int32_t sy = std::clamp(oy + y, 0, sh - 1);
    auto* row = reinterpret_cast<uint32_t*>(out->Row(y));
    if (n <= 0) {
      // The tile lies wholly beyond one side: every pixel is that edge's.
      uint32_t p = 0;
      src->GetPixels32(ox < 0 ? 0 : sw - 1, sy, 1, std::span<uint32_t>(&p, 1), 0);
      std::fill(row, row + w, p);
      continue;
    }
    if (sys)
      std::memcpy(row + lead, sys->Row(sy) + int64_t(ox + lead) * 4, size_t(n) * 4);
    else
      src->GetPixels32(ox + lead, sy, n, std::span<uint32_t>(row + lead, size_t(n)), 0);
    std::fill(row, row + lead, row[lead]);
    std::fill(row + end, row + w, row[end - 1]);
  }
}

}  // namespace kav
