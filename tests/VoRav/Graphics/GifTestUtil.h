// Builds GIF files byte by byte for the decoder tests, with a plain LZW
// encoder that can leave the table full without a clear code.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxMemoryStream.h"

namespace kav::test {

// GIF LZW: codes of growing width, least significant bit first, in
// sub-blocks of up to 255 bytes. With `defer_clear` the encoder keeps
// going with a full table instead of sending a clear code.
inline std::vector<uint8_t> GifLzwEncode(const std::vector<uint8_t>& indices, int min_size, bool defer_clear,
                                         bool end_code = true) {
  const int clear = 1 << min_size, end = clear + 1;
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  int nbits = 0, width = min_size + 1, next = clear + 2;
  auto put = [&](int code) {
    acc |= uint32_t(code) << nbits;
    nbits += width;
    while (nbits >= 8) {
      bytes.push_back(uint8_t(acc));
      acc >>= 8;
      nbits -= 8;
    }
  };
  std::map<std::pair<int, int>, int> table;
  put(clear);
  int prefix = -1;
  for (uint8_t c : indices) {
    if (prefix < 0) {
      prefix = c;
      continue;
    }
    auto it = table.find({prefix, c});
    if (it != table.end()) {
      prefix = it->second;
      continue;
    }
    put(prefix);
    if (next < 4096) {
      table[{prefix, c}] = next++;
      // The decoder widens one code later than the encoder adds.
      if (next - 1 == (1 << width) && width < 12) ++width;
    } else if (!defer_clear) {
      put(clear);
      table.clear();
      next = clear + 2;
      width = min_size + 1;
    }
    prefix = c;
  }
  if (prefix >= 0) {
    put(prefix);
    // The decoder adds an entry for this code too, and may widen.
    if (next == (1 << width) && width < 12) ++width;
  }
  if (end_code) put(end);
  if (nbits > 0) bytes.push_back(uint8_t(acc));
  std::vector<uint8_t> out{uint8_t(min_size)};
  for (size_t i = 0; i < bytes.size(); i += 255) {
    const size_t n = std::min<size_t>(255, bytes.size() - i);
    out.push_back(uint8_t(n));
    out.insert(out.end(), bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + n));
  }
  out.push_back(0);
  return out;
}

class TGifBuilder {
 public:
  // Header with a global palette of 2^bits colours (colour i = i*3, i*5, i*7)
  // unless `bits` is 0.
  TGifBuilder(int w, int h, int bits, uint8_t background = 0) {
    Append("GIF89a");
    Word(w);
    Word(h);
    b_.push_back(uint8_t(bits ? 0x80 | (bits - 1) : 0));
    b_.push_back(background);
    b_.push_back(0);
    if (bits) Palette(bits);
  }
  void Palette(int bits) {
    for (int i = 0; i < (1 << bits); ++i) {
      b_.push_back(uint8_t(i * 3));
      b_.push_back(uint8_t(i * 5));
      b_.push_back(uint8_t(i * 7));
    }
  }
  void Control(int disposal, int delay, int transparent = -1) {
    b_.insert(b_.end(), {0x21, 0xF9, 4, uint8_t((disposal << 2) | (transparent >= 0 ? 1 : 0))});
    Word(delay);
    b_.push_back(uint8_t(transparent >= 0 ? transparent : 0));
    b_.push_back(0);
  }
  void Netscape(int loops) {
    b_.insert(b_.end(), {0x21, 0xFF, 11});
    Append("NETSCAPE2.0");
    b_.insert(b_.end(), {3, 1});
    Word(loops);
    b_.push_back(0);
  }
  void Image(int x, int y, int w, int h, const std::vector<uint8_t>& indices, int min_size = 8,
             bool defer_clear = false, bool interlaced = false) {
    Descriptor(x, y, w, h, interlaced ? 0x40 : 0);
    const auto data = GifLzwEncode(indices, min_size, defer_clear);
    b_.insert(b_.end(), data.begin(), data.end());
  }
  void Descriptor(int x, int y, int w, int h, uint8_t packed) {
    b_.push_back(0x2C);
    Word(x);
    Word(y);
    Word(w);
    Word(h);
    b_.push_back(packed);
  }
  void Raw(const std::vector<uint8_t>& bytes) { b_.insert(b_.end(), bytes.begin(), bytes.end()); }
  void Trailer() { b_.push_back(0x3B); }
  std::vector<uint8_t>& Bytes() { return b_; }

 private:
  void Append(const char* s) {
    while (*s) b_.push_back(uint8_t(*s++));
  }
  void Word(int v) {
    b_.push_back(uint8_t(v));
    b_.push_back(uint8_t(v >> 8));
  }
  std::vector<uint8_t> b_;
};

inline Ref<TMemoryStream> MemStream(const std::vector<uint8_t>& bytes) {
  auto m = MakeRef<TMemoryStream>();
  if (!bytes.empty()) m->WriteBytes(bytes);
  m->SetPosition(0);
  return m;
}

// The colour the builder's palette gives index i, opaque.
inline uint32_t BuilderColor(int i) {
  return 0xFF000000u | (uint32_t(uint8_t(i * 3)) << 16) | (uint32_t(uint8_t(i * 5)) << 8) | uint8_t(i * 7);
}

// The 32-bit pixel at (x, y).
inline uint32_t Px(TDirectBitmap* b, int x, int y) {
  uint32_t v;
  std::memcpy(&v, b->PixelAddress(x, y), 4);
  return v;
}

}  // namespace kav::test
