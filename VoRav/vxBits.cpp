#include "VoRav/vxBits.h"

#include <algorithm>
#include <bit>

namespace kav {

namespace {

constexpr TByteTable MakeReverseTable() {
  constexpr uint8_t kNibble[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE,
                                   0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};
  TByteTable t{};
  for (int b = 0; b < 256; ++b) t[b] = static_cast<uint8_t>((kNibble[b & 15] << 4) | kNibble[b >> 4]);
  return t;
}

constexpr TByteTable MakeCountTable() {
  TByteTable t{};
  for (int b = 1; b < 256; ++b) t[b] = static_cast<uint8_t>(t[b >> 1] + (b & 1));
  return t;
}

constexpr TByteTable MakeLeadingTable() {
  TByteTable t{};
  for (int b = 0; b < 256; ++b) {
    int n = 8;
    for (int v = b; v; v >>= 1) --n;
    t[b] = static_cast<uint8_t>(n);
  }
  return t;
}

constexpr TByteTable kReverse = MakeReverseTable();
constexpr TByteTable kLeading = MakeLeadingTable();

// Trailing zeros of b are the leading zeros of b reversed.
constexpr TByteTable MakeTrailingTable() {
  TByteTable t{};
  for (int b = 0; b < 256; ++b) t[b] = kLeading[kReverse[b]];
  return t;
}

}  // namespace

const TByteTable BitReverseTable = kReverse;
const TByteTable BitCountTable = MakeCountTable();
const TByteTable LeadingZerosTable = kLeading;
const TByteTable TrailingZerosTable = MakeTrailingTable();

uint32_t PopCount32(uint32_t value) noexcept { return static_cast<uint32_t>(std::popcount(value)); }

uint32_t NextPowerOfTwo(uint32_t value) noexcept {
  if (value == 0 || value > 0x80000000u) return 0;
  return std::bit_ceil(value);
}

void TBitSet::SetSize(int32_t n) {
  if (n < 0 || n == size_) return;
  if (n > size_) {
    bits_.resize(static_cast<size_t>((n - 1) / 8 + 1), 0);
  } else {
    for (int32_t i = n; i < size_; ++i) {
      if (i % 8 == 0) {
        // From a byte boundary on, whole bytes.
        std::fill(bits_.begin() + i / 8, bits_.begin() + ((size_ - 1) / 8 + 1), uint8_t{0});
        break;
      }
      bits_[static_cast<size_t>(i / 8)] &= static_cast<uint8_t>(~(1u << (i % 8)));
    }
  }
  size_ = n;
}

bool TBitSet::GetBit(int32_t i) const noexcept {
  if (i < 0 || i >= size_) return false;
  return (bits_[static_cast<size_t>(i / 8)] >> (i % 8)) & 1;
}

void TBitSet::SetBit(int32_t i, bool value) noexcept {
  if (i < 0 || i >= size_) return;
  uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
  if (value)
    bits_[static_cast<size_t>(i / 8)] |= mask;
  else
    bits_[static_cast<size_t>(i / 8)] &= static_cast<uint8_t>(~mask);
}

}  // namespace kav
