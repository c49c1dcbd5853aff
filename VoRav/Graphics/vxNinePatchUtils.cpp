#include "VoRav/Graphics/vxNinePatchUtils.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "VoRav/Graphics/SysBitmapUtilsPriv.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

using detail::Load32;
using detail::Store32;

// Per-column (or per-row) source positions of a bilinear cell stretch, for
// the destination positions first .. first + count - 1 of the cell (only
// the visible ones are computed).
struct TAxisStep {
  int32_t I0, I1, W;
};

std::vector<TAxisStep> AxisSteps(int64_t dest_size, int32_t first, int32_t count, int32_t src_size,
                                 int32_t src_start, int32_t src_end, int32_t src_limit) {
  std::vector<TAxisStep> steps(static_cast<size_t>(count));
  const double k = dest_size - 1 >= 1 ? 1.0 / double(dest_size - 1) : 0.0;
  const int32_t last = std::min(src_end, src_limit) - 1;
  for (int32_t n = 0; n < count; ++n) {
    const double f = double(first + n) * k * (src_size - 1);
    const double whole = std::trunc(f);
    const int32_t i0 = std::clamp(int32_t(whole) + src_start, 0, last);
    steps[size_t(n)] = TAxisStep{i0, std::min(i0 + 1, last), int32_t(std::nearbyint((f - whole) * 65536 - 0.5))};
  }
  return steps;
}

inline TColor32 Lerp(TColor32 a, TColor32 b, int32_t w) {
  TColor32 out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int32_t c0 = int32_t((a >> shift) & 0xFF), c1 = int32_t((b >> shift) & 0xFF);
    out |= uint32_t(c0 + int32_t(int64_t(c1 - c0) * w / 65536)) << shift;
  }
  return out;
}

void StretchCell(TSysBitmap* target, const TRect& visible, const TRect& d, TDirectBitmap* src, const TRect& s) {
  const std::vector<TAxisStep> xs = AxisSteps(int64_t(d.Right) - d.Left, visible.Left - d.Left, visible.Width(),
                                              s.Width(), s.Left, s.Right, src->Width());
  const std::vector<TAxisStep> ys = AxisSteps(int64_t(d.Bottom) - d.Top, visible.Top - d.Top, visible.Height(),
                                              s.Height(), s.Top, s.Bottom, src->Height());
  for (int32_t y = visible.Top; y < visible.Bottom; ++y) {
    const TAxisStep& sy = ys[size_t(y - visible.Top)];
    const uint8_t* r0 = src->Row(sy.I0);
    const uint8_t* r1 = src->Row(sy.I1);
    uint8_t* out = target->PixelAddress(visible.Left, y);
    for (int32_t x = visible.Left; x < visible.Right; ++x, out += 4) {
      const TAxisStep& sx = xs[size_t(x - visible.Left)];
      const TColor32 top = Lerp(Load32(r0 + sx.I0 * 4), Load32(r0 + sx.I1 * 4), sx.W);
      const TColor32 bottom = Lerp(Load32(r1 + sx.I0 * 4), Load32(r1 + sx.I1 * 4), sx.W);
      TColor32 px = Load32(out);
      BlendColorOver(px, Lerp(top, bottom, sy.W));
      Store32(out, px);
    }
  }
}

}  // namespace

void NinePatchAssignArea(TNinePatch& patch, TBitmap* source, const TRect& area, int32_t left, int32_t top,
                         int32_t right, int32_t bottom) {
  patch = TNinePatch{};
  if (!source) return;
  TRect a;
  if (!IntersectRect(a, area, TRect{0, 0, source->Width(), source->Height()})) return;
  // The area is cut to the source and the borders kept non-negative, so no
  // cell can reach outside the copy.
  Ref<TDirectBitmap> copy = MakeRef<TDirectBitmap>(a.Width(), a.Height(), StdFormats().A8R8G8B8);
  copy->CopyRect(TRect{0, 0, a.Width(), a.Height()}, source, TPoint{a.Left, a.Top});
  patch.Bitmap = copy;
  patch.Frame = TRect{0, 0, a.Width(), a.Height()};
  patch.Left = std::max(left, 0);
  patch.Top = std::max(top, 0);
  patch.Right = std::max(right, 0);
  patch.Bottom = std::max(bottom, 0);
  const TRect mid = NinePatchMapRect(1, 1, patch.Frame, patch);
  if (mid.IsEmpty()) return;
  const TColor32 first = Load32(copy->PixelAddress(mid.Left, mid.Top));
  for (int32_t y = mid.Top; y < mid.Bottom; ++y)
    for (int32_t x = mid.Left; x < mid.Right; ++x)
      if (Load32(copy->PixelAddress(x, y)) != first) return;
  patch.Flags |= kNinePatchUniformMiddle;
}

void NinePatchAssign(TNinePatch& patch, TBitmap* source, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  const TRect whole = source ? TRect{0, 0, source->Width(), source->Height()} : TRect{};
  NinePatchAssignArea(patch, source, whole, left, top, right, bottom);
}

void NinePatchClear(TNinePatch& patch) { NinePatchAssign(patch, nullptr, 0, 0, 0, 0); }

int32_t NinePatchMapCoord(int32_t segment, int32_t start, int32_t end, int32_t end_border, int32_t start_border) {
  const int64_t mid = std::clamp<int64_t>((int64_t(start) + start_border + end - end_border) / 2, start, end);
  switch (segment) {
    case 0:
      return start;
    case 1:
      return int32_t(std::min<int64_t>(int64_t(start) + start_border, mid));
    case 2:
      return int32_t(std::max<int64_t>(int64_t(end) - end_border, mid));
    default:
      return end;
  }
}

TRect NinePatchMapRect(int32_t column, int32_t row, const TRect& rect, const TNinePatch& b) {
  return TRect{NinePatchMapCoord(column, rect.Left, rect.Right, b.Right, b.Left),
               NinePatchMapCoord(row, rect.Top, rect.Bottom, b.Bottom, b.Top),
               NinePatchMapCoord(column + 1, rect.Left, rect.Right, b.Right, b.Left),
               NinePatchMapCoord(row + 1, rect.Top, rect.Bottom, b.Bottom, b.Top)};
}

void DrawNinePatch(TSysBitmap* target, const TRect& clip, const TRect& target_rect, const TNinePatch& patch) {
  const TPixelFormat* argb = StdFormats().A8R8G8B8;
  KAV_ASSERT(target && target->PixelFormat() == argb);
  if (!patch.Bitmap) return;
  KAV_ASSERT(patch.Bitmap->PixelFormat() == argb);
  TRect visible;
  if (!IntersectRect(visible, target_rect, clip)) return;
  if (!IntersectRect(visible, visible, TRect{0, 0, target->Width(), target->Height()})) return;
  TDirectBitmap* src = patch.Bitmap.get();
  for (int32_t row = 0; row < 3; ++row)
    for (int32_t col = 0; col < 3; ++col) {
      const TRect d = NinePatchMapRect(col, row, target_rect, patch);
      const TRect s = NinePatchMapRect(col, row, patch.Frame, patch);
      if (d.Width() < 1 || d.Height() < 1 || s.Width() < 1 || s.Height() < 1) continue;
      TRect v;
      if (!IntersectRect(v, d, visible)) continue;
      if (col == 1 && row == 1 && (patch.Flags & kNinePatchUniformMiddle)) {
        const TColor32 c = Load32(src->PixelAddress(s.Left, s.Top));
        const uint32_t a = ColorAlpha(c);
        if (a == 0) continue;
        for (int32_t y = v.Top; y < v.Bottom; ++y) {
          uint8_t* out = target->PixelAddress(v.Left, y);
          for (int32_t x = v.Left; x < v.Right; ++x, out += 4) {
            TColor32 px = c;
            if (a < 255) {
              px = Load32(out);
              BlendColorOver(px, c);
            }
            Store32(out, px);
          }
        }
        continue;
      }
      if (d.Width() == s.Width() && d.Height() == s.Height()) {
        for (int32_t y = v.Top; y < v.Bottom; ++y) {
          const uint8_t* in = src->PixelAddress(s.Left + v.Left - d.Left, s.Top + y - d.Top);
          uint8_t* out = target->PixelAddress(v.Left, y);
          for (int32_t x = v.Left; x < v.Right; ++x, in += 4, out += 4) {
            TColor32 px = Load32(out);
            BlendColorOver(px, Load32(in));
            Store32(out, px);
          }
        }
        continue;
      }
      StretchCell(target, v, d, src, s);
    }
}

void DrawNinePatchAt(TSysBitmap* target, const TRect& clip, const TNinePatch& patch) {
  DrawNinePatch(target, clip, patch.Frame, patch);
}

}  // namespace kav
