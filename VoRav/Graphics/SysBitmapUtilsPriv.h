// Checks shared by the block-operation modules.
#pragma once

#include "VoRav/Graphics/SysBitmap.h"

namespace kav::detail {

// Asserts a bitmap of `bits` bits per pixel.
inline void AssertDepth(const TBitmap* b, int32_t bits) {
  KAV_ASSERT(b != nullptr);
  KAV_ASSERT(b->PixelFormat()->BitsPerPixel() == bits);
}

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace kav::detail
