// Run-length expansion of BMP pixel data (RLE8 and RLE4), shared by the DIB
// and the BMP reader. Every write and every delta is clipped to the picture:
// pixels past a row's end are dropped, and decoding ends when the position
// leaves the last row (a run past the buffer is clipped; the file does not fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kav::detail {

enum class TRleResult { kEndOfBitmap, kPictureFull, kDataShort };

// Expands `data` (RLE8 when `bits` is 8, RLE4 when 4) for a picture of
// width x height pixels, handing each pixel to put(x, y, index); row 0 is the
// first row in the data. Answers why it stopped.
template <class Put>
TRleResult ExpandRle(std::span<const uint8_t> data, int bits, int32_t width, int32_t height, Put&& put) {
  size_t at = 0;
  int64_t x = 0, y = 0;
  auto next = [&](uint8_t& v) {
    if (at >= data.size()) return false;
    v = data[at++];
    return true;
  };
  auto pixel = [&](uint8_t v) {
    if (x < width) put(int32_t(x), int32_t(y), v);
    ++x;
  };
  while (y < height) {
    uint8_t count, code;
    if (!next(count) || !next(code)) return TRleResult::kDataShort;
    if (count != 0) {
      // A run: `count` pixels of one byte, or of its two nibbles in turn;
      // pixels past the row's end are dropped.
      for (uint32_t i = 0; i < count && x < width; ++i)
        pixel(bits == 8 ? code : uint8_t(i & 1 ? code & 0x0F : code >> 4));
      continue;
    }
    if (code == 0) {
      x = 0;
      ++y;
    } else if (code == 1) {
      return TRleResult::kEndOfBitmap;
    } else if (code == 2) {
      uint8_t dx, dy;
      if (!next(dx) || !next(dy)) return TRleResult::kDataShort;
      x += dx;
      y += dy;
    } else {
      // A literal run of `code` pixels in whole 16-bit words.
      const size_t bytes = bits == 8 ? code : (size_t(code) + 1) / 2;
      if (data.size() - at < bytes) return TRleResult::kDataShort;
      for (uint32_t i = 0; i < code; ++i) {
        const uint8_t b = data[at + (bits == 8 ? i : i / 2)];
        pixel(bits == 8 ? b : uint8_t(i & 1 ? b & 0x0F : b >> 4));
      }
      at += bytes + (bytes & 1);
      if (at > data.size()) at = data.size();
    }
  }
  return TRleResult::kPictureFull;
}

}  // namespace kav::detail
