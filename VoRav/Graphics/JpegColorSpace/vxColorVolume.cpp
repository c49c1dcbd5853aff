#include "VoRav/Graphics/JpegColorSpace/vxColorVolume.h"

namespace kav {

namespace {

// Position of one byte on the 31 grid steps, 16.16 fixed point: 7967 is the
// integer part of 31 * 65536 / 255. The fraction gets the index added so that
// byte 255 lands on index 30 with fraction 65535, the whole last step.
struct TAxis {
  int32_t index;
  int32_t fraction;
};

TAxis AxisOf(uint32_t c) noexcept {
  const uint32_t p = c * 7967u;
  return TAxis{int32_t(p >> 16), int32_t((p & 0xFFFF) + (p >> 16))};
}

constexpr int32_t kWhole = 65535;

// a + ((b - a) * f + 32767) / 65536, the division dropping the fraction
// toward zero; 0 takes a alone and the whole step (or more) b alone.
inline int32_t Mix(int32_t a, int32_t b, int32_t f) noexcept {
  if (f == 0) return a;
  if (f >= kWhole) return b;
  return a + ((b - a) * f + 32767) / 65536;
}

struct TRgb {
  int32_t v[3];
};

inline TRgb Entry(const TSysBitmap& volume, int32_t row, int32_t column) noexcept {
  const uint8_t* p = volume.Row(row) + 3 * column;
  return TRgb{{p[0], p[1], p[2]}};
}

inline TRgb MixRgb(const TRgb& a, const TRgb& b, int32_t f) noexcept {
  return TRgb{{Mix(a.v[0], b.v[0], f), Mix(a.v[1], b.v[1], f), Mix(a.v[2], b.v[2], f)}};
}

// One row of the volume interpolated between its columns.
inline TRgb RowValue(const TSysBitmap& volume, int32_t row, const TAxis& column) noexcept {
  const TRgb a = Entry(volume, row, column.index);
  if (column.fraction == 0) return a;
  return MixRgb(a, Entry(volume, row, column.index + 1), column.fraction);
}

// One 32-row block interpolated between its rows.
inline TRgb BlockValue(const TSysBitmap& volume, int32_t block, const TAxis& row, const TAxis& column) noexcept {
  const int32_t base = 32 * block + row.index;
  const TRgb a = RowValue(volume, base, column);
  if (row.fraction == 0) return a;
  return MixRgb(a, RowValue(volume, base + 1, column), row.fraction);
}

}  // namespace

void FillIdentityVolume(TSysBitmap* volume) {
  KAV_ASSERT(volume && volume->Width() == kColorVolumeWidth && volume->Height() == kColorVolumeHeight &&
             volume->BytesPerPixel() == 3);
  for (int32_t a = 0; a < 32; ++a)
    for (int32_t b = 0; b < 32; ++b) {
      uint8_t* p = volume->Row(32 * a + b);
      for (int32_t c = 0; c < 32; ++c, p += 3) {
        p[0] = ColorGridValue(a);
        p[1] = ColorGridValue(b);
        p[2] = ColorGridValue(c);
      }
    }
}

uint32_t LookupColorVolume(const TSysBitmap& volume, uint32_t color) noexcept {
  // Byte 0 picks the block, byte 1 the row within it, byte 2 the column.
  const TAxis block = AxisOf(color & 0xFF);
  const TAxis row = AxisOf((color >> 8) & 0xFF);
  const TAxis column = AxisOf((color >> 16) & 0xFF);
  TRgb v = BlockValue(volume, block.index, row, column);
  if (block.fraction != 0) v = MixRgb(v, BlockValue(volume, block.index + 1, row, column), block.fraction);
  return uint32_t(v.v[0]) | uint32_t(v.v[1]) << 8 | uint32_t(v.v[2]) << 16;
}

}  // namespace kav
