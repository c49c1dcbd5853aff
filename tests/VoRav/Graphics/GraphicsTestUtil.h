// Helpers shared by the imaging tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/wpExceptions.h"

namespace kav::test {

inline const TStdPixelFormats& F() { return StdFormats(); }

// A system bitmap from the factory; fails the test when none is made.
inline Ref<TSysBitmap> Sys(int32_t w, int32_t h, TPixelFormat* f) {
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, f);
  EXPECT_TRUE(b);
  return b;
}

inline uint32_t Get32(TSysBitmap* b, int32_t x, int32_t y) {
  uint32_t v;
  std::memcpy(&v, b->PixelAddress(x, y), 4);
  return v;
}
inline void Set32(TSysBitmap* b, int32_t x, int32_t y, uint32_t v) { std::memcpy(b->PixelAddress(x, y), &v, 4); }
inline uint32_t Get24(TSysBitmap* b, int32_t x, int32_t y) {
  const uint8_t* p = b->PixelAddress(x, y);
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}
inline void Set24(TSysBitmap* b, int32_t x, int32_t y, uint32_t v) {
  uint8_t* p = b->PixelAddress(x, y);
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
}

// Fills every pixel byte from a seeded generator.
inline void FillRandom(TSysBitmap* b, uint32_t seed) {
  std::mt19937 rng(seed);
  const size_t n = size_t(b->Width()) * size_t(b->BytesPerPixel());
  for (int32_t y = 0; y < b->Height(); ++y)
    for (size_t i = 0; i < n; ++i) b->Row(y)[i] = uint8_t(rng());
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

// Same size, format and pixel bytes.
inline bool SamePixels(TSysBitmap* a, TSysBitmap* b) {
  if (a->Width() != b->Width() || a->Height() != b->Height() || a->PixelFormat() != b->PixelFormat()) return false;
  const size_t n = size_t(a->Width()) * size_t(a->BytesPerPixel());
  for (int32_t y = 0; y < a->Height(); ++y)
    if (std::memcmp(a->Row(y), b->Row(y), n) != 0) return false;
  return true;
}

// The assertion message of `fn`, which must raise EAbort.
template <class Fn>
std::string AbortMessage(Fn&& fn) {
  try {
    fn();
  } catch (const EAbort& e) {
    return e.Message();
  }
  ADD_FAILURE() << "no assertion raised";
  return {};
}

}  // namespace kav::test

#define EXPECT_ABORT_WITH(stmt, text) \
  EXPECT_NE(::kav::test::AbortMessage([&] { stmt; }).find(text), std::string::npos)
