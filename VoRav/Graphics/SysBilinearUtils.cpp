#include "VoRav/Graphics/SysBilinearUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "VoRav/Graphics/SysPixelKernels.h"

namespace kav {

void CrossFadeRow(uint8_t* dst, const uint8_t* a, const uint8_t* b, int32_t weight, size_t bytes) {
  kernels::CrossFadeRowScalar(dst, a, b, weight, bytes);
}

TCrossFadeRowProc CrossFadeRowProc() { return PixelKernels().CrossFadeRow; }

void GetBitmapRowInfo(TSysBitmap* bitmap, TBitmapRowInfo& info) {
  KAV_ASSERT(bitmap != nullptr);
  info.Width = bitmap->Width();
  info.Height = bitmap->Height();
  info.BitsPerPixel = bitmap->PixelFormat()->BitsPerPixel();
  info.Rows = bitmap->Rows();
}

void BuildLinearMap(TLinearMap& map, int32_t dest_length, int32_t source_length) {
  map.assign(size_t(dest_length > 0 ? dest_length : 0), TLinearMapEntry{});
  if (map.empty()) return;
  const double step = dest_length < 2 ? 0.0 : double(source_length - 1) / double(dest_length - 1);
  for (int32_t i = 0; i < dest_length; ++i) {
    const double pos = i * step;
    const double whole = std::trunc(pos);
    map[size_t(i)] = TLinearMapEntry{uint32_t(whole), uint32_t(std::nearbyint((pos - whole) * 256.0))};
  }
  if (source_length > 1) map.back() = TLinearMapEntry{uint32_t(source_length - 2), 256};
}

void LerpRow32(uint8_t* dst, const uint8_t* src, const TLinearMap& map, int32_t count) {
  for (int32_t i = 0; i < count; ++i, dst += 4) {
    const TLinearMapEntry e = map[size_t(i)];
    const uint8_t* p = src + size_t(e.Index) * 4;
    if (e.Weight == 0) {
      std::memcpy(dst, p, 4);
      continue;
    }
    const int32_t w = int32_t(e.Weight);
    for (int c = 0; c < 4; ++c) dst[c] = uint8_t(p[c] + (((int32_t(p[c + 4]) - p[c]) * w) >> 8));
  }
}

void BilinearResample(const TBitmapRowInfo& source, const TBitmapRowInfo& dest) {
  KAV_ASSERT(source.BitsPerPixel >= 25 && source.BitsPerPixel <= 32);
  KAV_ASSERT(dest.BitsPerPixel >= 25 && dest.BitsPerPixel <= 32);
  const int32_t sw = source.Width, sh = source.Height, dw = dest.Width, dh = dest.Height;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  KAV_ASSERT(source.Rows.size() >= size_t(sh) && dest.Rows.size() >= size_t(dh));

  // The horizontal operation from one source-width row into a destination row; a one-row
  // destination goes through it too, so its row is resampled rather than copied across widths.
  TLinearMap map;
  if (dw != sw && dw != 1) BuildLinearMap(map, dw, sw);
  auto row_op = [&](uint8_t* d, const uint8_t* s) {
    if (dw == sw) std::memcpy(d, s, size_t(dw) * 4);
    else if (dw == 1) std::memcpy(d, s, 4);
    else LerpRow32(d, s, map, dw);
  };

  const TCrossFadeRowProc fade = CrossFadeRowProc();
  std::vector<uint8_t> work(size_t(sw) * 4);
  bool work_ready = false;
  const double step = dh < 2 ? 0.0 : double(sh - 1) / double(dh - 1);
  for (int32_t i = 0; i < dh; ++i) {
    const double pos = i * step;
    const int32_t r = std::min(int32_t(std::trunc(pos)), sh - 1);
    const int32_t weight = int32_t(std::nearbyint((pos - std::trunc(pos)) * 256.0));
    if (weight == 0 && sh != 1 && sw != 1) {
      row_op(dest.Rows[size_t(i)], source.Rows[size_t(r)]);
      continue;
    }
    if (!(sh == 1 && work_ready)) {
      const uint8_t* top = source.Rows[size_t(r)];
      const uint8_t* next = source.Rows[size_t(r + 1 < sh ? r + 1 : r)];
      fade(work.data(), next, top, weight, work.size());
      work_ready = true;
    }
    row_op(dest.Rows[size_t(i)], work.data());
  }
}

}  // namespace kav
