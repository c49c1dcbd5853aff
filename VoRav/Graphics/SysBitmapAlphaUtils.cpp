#include "VoRav/Graphics/SysBitmapAlphaUtils.h"

#include <algorithm>
#include <cstring>

#include "VoRav/Graphics/SysPixelKernels.h"

namespace kav {

const uint32_t* InitUnpremultiplyTable() { return UnpremultiplyTable(); }

void AlphaFromTwoBackgrounds(TSysBitmap* black, TSysBitmap* white, int32_t width, TColor32 fill, int32_t height) {
  KAV_ASSERT(black != nullptr && black->PixelFormat() == StdFormats().A8R8G8B8);
  KAV_ASSERT(white != nullptr && white->PixelFormat() == StdFormats().R8G8B8);
  const uint32_t* table = UnpremultiplyTable();
  width = std::min({width, black->Width(), white->Width()});
  height = std::min({height, black->Height(), white->Height()});
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* k = black->Row(y);
    const uint8_t* w = white->Row(y);
    for (int32_t x = 0; x < width; ++x, k += 4, w += 3) {
      const int32_t a = std::max({k[0] + 255 - w[0], k[1] + 255 - w[1], k[2] + 255 - w[2]});
      if (a >= 255) {
        k[3] = 255;
      } else if (a <= 0) {
        std::memcpy(k, &fill, 4);
      } else {
        for (int c = 0; c < 3; ++c) k[c] = uint8_t(std::min<uint32_t>(k[c] * table[a] >> 8, 255));
        k[3] = uint8_t(a);
      }
    }
  }
}

void MergeAlphaPlane(TSysBitmap* black, TSysBitmap* white, TColor32 fill) {
  KAV_ASSERT(black != nullptr);
  AlphaFromTwoBackgrounds(black, white, black->Width(), fill, black->Height());
}

void UnpremultiplyBitmap(TSysBitmap* bitmap, TColor32 fill) {
  KAV_ASSERT(bitmap != nullptr && bitmap->PixelFormat() == StdFormats().A8R8G8B8);
  const TPixelKernels& k = PixelKernels();
  for (int32_t y = 0; y < bitmap->Height(); ++y) k.Unpremultiply(bitmap->Row(y), bitmap->Row(y), size_t(bitmap->Width()), fill);
}

bool HasAlphaContent(TSysBitmap* bitmap, bool& all_zero) {
  KAV_ASSERT(bitmap != nullptr &&
             (bitmap->PixelFormat() == StdFormats().A8R8G8B8 || bitmap->PixelFormat() == StdFormats().A8r8g8b8));
  all_zero = true;
  for (int32_t y = 0; y < bitmap->Height(); ++y) {
    const uint8_t* p = bitmap->Row(y);
    for (int32_t x = 0; x < bitmap->Width(); ++x, p += 4) {
      if (p[3] != 0) {
        all_zero = false;
        return true;
      }
      if (p[0] | p[1] | p[2]) all_zero = false;
    }
  }
  return false;
}

bool PrepareAlphaForDisplay(TSysBitmap* bitmap, TColor32 color) {
  bool all_zero = false;
  if (HasAlphaContent(bitmap, all_zero)) {
    UnpremultiplyBitmap(bitmap, color);
    return true;
  }
  if (all_zero) {
    bitmap->FillRect(TRect{0, 0, bitmap->Width(), bitmap->Height()}, color);
    return true;
  }
  return false;
}

}  // namespace kav
