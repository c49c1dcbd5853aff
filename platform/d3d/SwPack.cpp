#include "platform/d3d/SwPack.h"

#include <algorithm>
#include <cstring>

namespace kav {

namespace {
// Each piece starts with a 4-byte header: with the top bit set, the next
// value repeated (header & kCount) times; otherwise that many values as they
// are. A plane's values take `W` bytes each.
constexpr uint32_t kRun = 0x80000000u;
constexpr uint32_t kCount = 0x7fffffffu;

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

template <int W>
void Put(uint8_t* p, uint32_t v) {
  if constexpr (W == 4)
    std::memcpy(p, &v, 4);
  else
    *p = uint8_t(v);
}

template <int W>
uint32_t Get(const uint8_t* p) {
  if constexpr (W == 4)
    return Load32(p);
  else
    return *p;
}

// Appends the plane of `count` values `value(i)` to `out`; false once it
// would pass `max_bytes` in all.
template <int W, class Value>
bool PackPlane(size_t count, Value value, size_t max_bytes, std::vector<uint8_t>& out) {
  const auto runs_at = [&](size_t j) {
    return j + 2 < count && value(j) == value(j + 1) && value(j) == value(j + 2);
  };
  size_t i = 0;
  while (i < count) {
    size_t end = i;
    const size_t at = out.size();
    if (runs_at(i)) {
      const uint32_t v = value(i);
      const size_t limit = i + std::min<size_t>(count - i, kCount);
      while (end < limit && value(end) == v) ++end;
      if (at + 4 + W > max_bytes) return false;
      out.resize(at + 4 + W);
      Put<4>(&out[at], kRun | uint32_t(end - i));
      Put<W>(&out[at + 4], v);
    } else {
      // Values as they are, up to where a run starts; the scan stops where
      // the piece would no longer fit.
      if (at + 4 >= max_bytes) return false;
      const size_t room = (max_bytes - at - 4) / W;
      const size_t limit = i + std::min<size_t>({count - i, size_t(kCount), room + 1});
      while (end < limit && !runs_at(end)) ++end;
      if (end - i > room) return false;
      out.resize(at + 4 + (end - i) * W);
      Put<4>(&out[at], uint32_t(end - i));
      uint8_t* p = &out[at + 4];
      for (size_t k = i; k < end; ++k, p += W) Put<W>(p, value(k));
    }
    i = end;
  }
  return true;
}

// Reads a plane of `count` values from `p` (advanced past it), handing each
// to `store(i, v)`; false when the plane is cut short or holds more.
template <int W, class Store>
bool UnpackPlane(const uint8_t*& p, const uint8_t* end, size_t count, Store store) {
  size_t at = 0;
  while (at < count) {
    if (end - p < 4) return false;
    const uint32_t h = Load32(p);
    p += 4;
    const size_t n = h & kCount;
    if (n == 0 || n > count - at) return false;
    if (h & kRun) {
      if (end - p < W) return false;
      const uint32_t v = Get<W>(p);
      p += W;
      for (size_t k = 0; k < n; ++k) store(at + k, v);
    } else {
      if (size_t(end - p) / W < n) return false;
      for (size_t k = 0; k < n; ++k, p += W) store(at + k, Get<W>(p));
    }
    at += n;
  }
  return true;
}
}  // namespace

bool SwPackWords(const uint8_t* bytes, size_t words, size_t max_bytes, std::vector<uint8_t>& out) {
  out.clear();
  const bool ok =
      PackPlane<4>(words, [bytes](size_t i) { return Load32(bytes + i * 4) & 0x00ffffffu; }, max_bytes, out) &&
      PackPlane<1>(words, [bytes](size_t i) { return uint32_t(bytes[i * 4 + 3]); }, max_bytes, out);
  if (!ok) out.clear();
  return ok;
}

bool SwUnpackWords(const std::vector<uint8_t>& packed, uint8_t* bytes, size_t words) {
  const uint8_t* p = packed.data();
  const uint8_t* end = p + packed.size();
  return UnpackPlane<4>(p, end, words, [bytes](size_t i, uint32_t v) { Put<4>(bytes + i * 4, v); }) &&
         UnpackPlane<1>(p, end, words, [bytes](size_t i, uint32_t v) { bytes[i * 4 + 3] = uint8_t(v); }) &&
         p == end;
}

}  // namespace kav
