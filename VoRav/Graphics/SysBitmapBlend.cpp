#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysBitmapUtilsPriv.h"

namespace kav {

namespace {

using detail::Load32;
using detail::Store32;

// Runs `fn(dest pixel, source pixel)` over a clipped copy area.
template <class Fn>
void ForEachPair(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TPoint source_point, Fn fn) {
  int32_t dx, dy, sx, sy, w, h;
  if (!ClipCopyRect(dest_rect, source_point, dest->Size(), source->Size(), dx, dy, sx, sy, w, h)) return;
  const int32_t dbpp = dest->BytesPerPixel(), sbpp = source->BytesPerPixel();
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = dest->PixelAddress(dx, dy + y);
    const uint8_t* s = source->PixelAddress(sx, sy + y);
    for (int32_t x = 0; x < w; ++x, d += dbpp, s += sbpp) fn(d, s);
  }
}

// The straight-alpha table, indexed by destination alpha x 256 + source alpha.
struct TAlphaEntry {
  uint32_t ra;  // result alpha
  uint32_t dw;  // destination weight
  uint32_t k;   // round(2^20 / ra)
};

const TAlphaEntry* StraightAlphaTable() {
  static const std::vector<TAlphaEntry> table = [] {
    std::vector<TAlphaEntry> t(65536);
    for (uint32_t da = 0; da < 256; ++da) {
      for (uint32_t sa = 0; sa < 256; ++sa) {
        TAlphaEntry& e = t[da * 256 + sa];
        e.ra = 255 - (255 - da) * (255 - sa) / 255;
        e.dw = (255 - sa) * da / 255;
        if (e.ra != 0) {
          e.k = uint32_t(std::nearbyint(1048576.0 / e.ra));
          if (e.k == 4112) e.k = 4113;
        }
      }
    }
    return t;
  }();
  return table.data();
}

}  // namespace

void FillAlphaRect(TSysBitmap* bitmap, const TRect& rect, uint8_t alpha) {
  detail::AssertDepth(bitmap, 32);
  TRect r;
  if (!IntersectRect(r, rect, TRect{0, 0, bitmap->Width(), bitmap->Height()})) return;
  const float step = 1.0f / float(r.Height());
  float done = 0.0f;
  for (int32_t y = r.Top; y < r.Bottom; ++y, done += step) {
    if (!bitmap->NotifyProgress(done)) return;
    uint8_t* p = bitmap->PixelAddress(r.Left, y);
    for (int32_t x = r.Left; x < r.Right; ++x, p += 4) p[3] = alpha;
  }
}

void AlphaBlendRect32On24(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TPoint source_point) {
  detail::AssertDepth(dest, 24);
  detail::AssertDepth(source, 32);
  ForEachPair(dest, source, dest_rect, source_point, [](uint8_t* d, const uint8_t* s) {
    const int32_t a = s[3];
    for (int c = 0; c < 3; ++c) d[c] = uint8_t(d[c] + (int32_t(s[c]) - d[c]) * a / 256);
  });
}

void BlendPremulRect32On24(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TPoint source_point) {
  detail::AssertDepth(dest, 24);
  detail::AssertDepth(source, 32);
  ForEachPair(dest, source, dest_rect, source_point, [](uint8_t* d, const uint8_t* s) {
    const uint32_t a = s[3];
    if (a == 0) return;
    if (a == 255) {
      std::memcpy(d, s, 3);
      return;
    }
    // Colour above alpha is invalid premultiplied data; saturate it.
    for (int c = 0; c < 3; ++c) d[c] = uint8_t(std::min<uint32_t>(d[c] * (255 - a) / 256 + s[c], 255));
  });
}

void AlphaCompositeRect32Int(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TPoint source_point) {
  detail::AssertDepth(dest, 32);
  detail::AssertDepth(source, 32);
  ForEachPair(dest, source, dest_rect, source_point,
              [](uint8_t* d, const uint8_t* s) { Store32(d, BlendPixelOver(Load32(d), Load32(s))); });
}

void AlphaCompositeRect32(TSysBitmap* dest, TPoint dest_pos, TSysBitmap* source, TPoint source_pos, int32_t width,
                          int32_t height) {
  detail::AssertDepth(dest, 32);
  detail::AssertDepth(source, 32);
  const TAlphaEntry* table = StraightAlphaTable();
  const TRect area{dest_pos.X, dest_pos.Y, int32_t(std::min<int64_t>(int64_t(dest_pos.X) + width, INT32_MAX)),
                   int32_t(std::min<int64_t>(int64_t(dest_pos.Y) + height, INT32_MAX))};
  ForEachPair(dest, source, area, source_pos, [table](uint8_t* d, const uint8_t* s) {
    const uint32_t sa = s[3], da = d[3];
    if (sa == 0) return;
    if (sa == 255 || da == 0) {
      std::memcpy(d, s, 4);
      return;
    }
    const TAlphaEntry& e = table[da * 256 + sa];
    for (int c = 0; c < 3; ++c)
      d[c] = uint8_t(std::min<uint64_t>((uint64_t(d[c]) * e.dw + uint64_t(s[c]) * sa) * e.k >> 20, 255));
    d[3] = uint8_t(e.ra);
  });
}

bool BitmapIsOpaque(TBitmap* bitmap) {
  if (!bitmap) return false;
  const TPixelFormat* f = bitmap->PixelFormat();
  if (!f->HasAlpha()) return true;
  // Find the alpha component's bits.
  uint32_t pos = 0, bits = 0;
  for (const TPixelComponent& c : f->Components()) {
    if (c.Channel == pcAlpha) {
      bits = c.Bits;
      break;
    }
    pos += c.Bits;
  }
  if (bits == 0 || pos + bits > 64) return true;
  const uint64_t mask = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
  const int32_t bpp = f->BytesPerPixel();
  const int32_t read = std::min(bpp, 8);
  std::vector<uint8_t> row(size_t(bitmap->Width()) * size_t(bpp));
  for (int32_t y = 0; y < bitmap->Height(); ++y) {
    const int32_t got = bitmap->GetPixels(0, y, bitmap->Width(), row, 0) / bpp;
    for (int32_t x = 0; x < got; ++x) {
      uint64_t v = 0;
      for (int32_t b = 0; b < read; ++b) v |= uint64_t(row[size_t(x) * size_t(bpp) + size_t(b)]) << (8 * b);
      if (((v >> pos) & mask) != mask) return false;
    }
  }
  return true;
}

bool ExtractAlphaFromColor(TSysBitmap* bitmap) {
  KAV_ASSERT(bitmap != nullptr && bitmap->PixelFormat() == StdFormats().A8R8G8B8);
  const float step = bitmap->Height() > 0 ? 1.0f / float(bitmap->Height()) : 0.0f;
  float done = 0.0f;
  for (int32_t y = 0; y < bitmap->Height(); ++y, done += step) {
    if (!bitmap->NotifyProgress(done)) return false;
    uint8_t* p = bitmap->Row(y);
    for (int32_t x = 0; x < bitmap->Width(); ++x, p += 4) {
      const int32_t b = p[0], g = p[1], r = p[2];
      p[3] = uint8_t(std::max({r, g, b}));
      const int32_t dbg = std::abs(b - g), dgr = std::abs(g - r), drb = std::abs(r - b);
      if (dgr + dbg != 0) {
        const int64_t k = int64_t(255 - dgr) * (255 - dbg) * (255 - drb);
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(p[c] + (255 - p[c]) * k / 16581375);
      } else {
        p[0] = p[1] = p[2] = 255;
      }
    }
  }
  return bitmap->NotifyProgress(1.0f);
}

namespace {

void Grayscale(TSysBitmap* bitmap, bool dim) {
  if (!bitmap) return;
  detail::AssertDepth(bitmap, 32);
  for (int32_t y = 0; y < bitmap->Height(); ++y) {
    uint8_t* p = bitmap->Row(y);
    for (int32_t x = 0; x < bitmap->Width(); ++x, p += 4) {
      p[0] = p[1] = p[2] = uint8_t((p[0] + p[1] + p[2]) / 3);
      if (dim) p[3] = uint8_t(p[3] >> 2);
    }
  }
}

}  // namespace

void GrayscaleBitmap(TSysBitmap* bitmap) { Grayscale(bitmap, false); }
void GrayscaleDimBitmap(TSysBitmap* bitmap) { Grayscale(bitmap, true); }

}  // namespace kav
