// Small shared types and the memory, arithmetic and fixed-offset byte-buffer
// helpers used across the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "VoRav/vxDelegate.h"

namespace kav {

// Integer rectangle; Right and Bottom lie just outside it.
struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  int32_t Width() const noexcept { return Right - Left; }
  int32_t Height() const noexcept { return Bottom - Top; }
  bool IsEmpty() const noexcept { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

// True when the rectangle covers no pixel: Right <= Left or Bottom <= Top.
inline bool RectIsEmpty(const TRect& r) noexcept { return r.Right <= r.Left || r.Bottom <= r.Top; }

// True when the first `length` bytes of a and b are equal; true for a length
// of 0 or below (the pointers are then not touched).
bool CompareMem(const void* a, const void* b, int64_t length) noexcept;

// True when two handler methods call the same code on the same object.
template <class R, class... A>
bool SameMethod(const TDelegate<R(A...)>& a, const TDelegate<R(A...)>& b) noexcept {
  return a == b;
}

// a * b / c with the exact 64-bit product and a division that truncates
// toward zero. Raises EDivByZero when c is 0 and EIntOverflow when the
// quotient does not fit in 32 bits.
int32_t MulDiv64(int32_t a, int32_t b, int32_t c);

// Fixed-offset readers and writers of values in byte buffers. Each checks
// that the value lies wholly inside the buffer and raises ERangeError
// ("Range check error") otherwise; a negative offset is outside too.
uint32_t ReadLittleEndian32(std::span<const uint8_t> buffer, int64_t offset);
uint32_t ReadBigEndian32(std::span<const uint8_t> buffer, int64_t offset);
int64_t ReadInt64LE(std::span<const uint8_t> buffer, int64_t offset);
float ReadSingleLE(std::span<const uint8_t> buffer, int64_t offset);
// Stores a 32-bit value little-endian at the offset.
void WriteDWordAt(std::span<uint8_t> buffer, int64_t offset, uint32_t value);

// Unchecked little-/big-endian loads and stores for code that has already
// checked its bounds (the stream readers and writers).
inline uint16_t LoadLE16(const uint8_t* p) noexcept { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint16_t LoadBE16(const uint8_t* p) noexcept { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadLE32(const uint8_t* p) noexcept {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t LoadBE32(const uint8_t* p) noexcept {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t LoadLE64(const uint8_t* p) noexcept {
  return uint64_t(LoadLE32(p)) | (uint64_t(LoadLE32(p + 4)) << 32);
}
inline void StoreLE16(uint8_t* p, uint16_t v) noexcept {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) noexcept {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLE64(uint8_t* p, uint64_t v) noexcept {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace kav
