// Checks shared by the block-operation modules.
#pragma once

#include <cstring>

#include "VoRav/Graphics/SysBitmap.h"

namespace kav::detail {

// Asserts a bitmap of `bits` bits per pixel.
inline void AssertDepth(const TBitmap* b, int32_t bits) {
  KAV_ASSERT(b != nullptr);
  KAV_ASSERT(b->PixelFormat()->BitsPerPixel() == bits);
}

// A 32-bit pixel read or written at any alignment.
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace kav::detail
