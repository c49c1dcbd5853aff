// Bit-level helpers: byte lookup tables, population count, the next power of
// two and TBitSet, a packed array of bits.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "VoRav/SysObj2.h"

namespace kav {

using TByteTable = std::array<uint8_t, 256>;

// Byte b with its bits in reverse order (0x01 -> 0x80, 0x0F -> 0xF0).
extern const TByteTable BitReverseTable;
// Number of set bits of b.
extern const TByteTable BitCountTable;
// Zero bits above the highest set bit of b (8 for 0).
extern const TByteTable LeadingZerosTable;
// Zero bits below the lowest set bit of b (8 for 0).
extern const TByteTable TrailingZerosTable;

// Number of set bits of a 32-bit value.
uint32_t PopCount32(uint32_t value) noexcept;
// The smallest power of two not below the value (the value itself when it is
// one); 0 for 0 and for values above 2^31, which have no 32-bit answer.
uint32_t NextPowerOfTwo(uint32_t value) noexcept;

// Bit i lives in byte i / 8 at bit i % 8, least significant first. Bits at
// and beyond Size() are always clear.
class TBitSet : public TRefObject {
 public:
  TBitSet() = default;

  int32_t Size() const noexcept { return size_; }
  // Ignored for n < 0 or n == Size(). Growing makes the array (n - 1) / 8 + 1
  // bytes long with the new bits clear; shrinking clears the bits from n on
  // and keeps the array.
  void SetSize(int32_t n);
  // False outside 0..Size()-1.
  bool GetBit(int32_t i) const noexcept;
  // Ignored outside 0..Size()-1.
  void SetBit(int32_t i, bool value) noexcept;
  const std::vector<uint8_t>& Bits() const noexcept { return bits_; }

 private:
  int32_t size_ = 0;
  std::vector<uint8_t> bits_;
};

}  // namespace kav
