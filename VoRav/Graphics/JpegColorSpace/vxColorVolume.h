// The single-colour lookup volume: 32 x 32 x 32 colours of a profile stored
// in a 32 x 1024 "R8G8B8" bitmap. The entry for grid indices (a, b, c) lies
// in row 32a + b, column c, and holds the colour made from the grid values
// g(a), g(b), g(c) (in memory order: blue, green, red) after conversion.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

constexpr int32_t kColorVolumeWidth = 32;
constexpr int32_t kColorVolumeHeight = 1024;

// Grid value g(i) = 8i + i div 4 for i = 0..31 (0, 8, ..., 247, 255).
constexpr uint8_t ColorGridValue(int32_t i) noexcept { return uint8_t(8 * i + i / 4); }

// Writes the unconverted grid (the identity) into a 32 x 1024 3-byte bitmap.
// Asserts the size and pixel width.
void FillIdentityVolume(TSysBitmap* volume);

// Interpolates the colour (blue in the low byte) trilinearly in the volume;
// answers the three colour bytes with a zero top byte. The volume must be a
// 32 x 1024 3-byte bitmap.
uint32_t LookupColorVolume(const TSysBitmap& volume, uint32_t color) noexcept;

}  // namespace kav
