#include "VoRav/wpTypes.h"

#include <bit>
#include <cstring>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// The start of a `width`-byte value at `offset`, or ERangeError.
template <class Byte>
Byte* CheckedAt(std::span<Byte> buffer, int64_t offset, size_t width) {
  if (offset < 0 || static_cast<uint64_t>(offset) > buffer.size() ||
      buffer.size() - static_cast<size_t>(offset) < width) {
    throw ERangeError("Range check error");
  }
  return buffer.data() + offset;
}

}  // namespace

bool CompareMem(const void* a, const void* b, int64_t length) noexcept {
  if (length <= 0) return true;
  return std::memcmp(a, b, static_cast<size_t>(length)) == 0;
}

int32_t MulDiv64(int32_t a, int32_t b, int32_t c) {
  if (c == 0) throw EDivByZero("Division by zero");
  // |a * b| <= 2^62, so neither the product nor the division can overflow int64.
  const int64_t q = static_cast<int64_t>(a) * b / c;
  if (q < INT32_MIN || q > INT32_MAX) throw EIntOverflow("Integer overflow");
  return static_cast<int32_t>(q);
}

uint32_t ReadLittleEndian32(std::span<const uint8_t> buffer, int64_t offset) {
  return LoadLE32(CheckedAt(buffer, offset, 4));
}

uint32_t ReadBigEndian32(std::span<const uint8_t> buffer, int64_t offset) {
  return LoadBE32(CheckedAt(buffer, offset, 4));
}

int64_t ReadInt64LE(std::span<const uint8_t> buffer, int64_t offset) {
  return static_cast<int64_t>(LoadLE64(CheckedAt(buffer, offset, 8)));
}

float ReadSingleLE(std::span<const uint8_t> buffer, int64_t offset) {
  return std::bit_cast<float>(LoadLE32(CheckedAt(buffer, offset, 4)));
}

void WriteDWordAt(std::span<uint8_t> buffer, int64_t offset, uint32_t value) {
  StoreLE32(CheckedAt(buffer, offset, 4), value);
}

}  // namespace kav
