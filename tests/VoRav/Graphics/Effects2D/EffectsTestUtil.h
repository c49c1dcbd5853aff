// Helpers of the 2D effect tests: bitmap access and PNG dumps to look at.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"

namespace kav::test {

inline uint32_t Pixel32(TSysBitmap* b, int32_t x, int32_t y) {
  uint32_t v;
  std::memcpy(&v, b->PixelAddress(x, y), 4);
  return v;
}
inline uint8_t Alpha32(TSysBitmap* b, int32_t x, int32_t y) { return uint8_t(Pixel32(b, x, y) >> 24); }

// Where the dumps go: $KAV_DUMP_DIR, else a folder in the temporary directory.
inline std::string DumpPath(const std::string& name) {
  const char* dir = std::getenv("KAV_DUMP_DIR");
  std::filesystem::path p = dir ? dir : (std::filesystem::temp_directory_path() / "kav_effects2d");
  std::filesystem::create_directories(p);
  return (p / name).string();
}

// An "A8R8G8B8" bitmap over a grey and white checkerboard (alpha made
// visible), written as PNG.
inline void DumpOverChecker(TSysBitmap* b, const std::string& name) {
  std::vector<uint32_t> px(size_t(b->Width()) * size_t(b->Height()));
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x) {
      const uint32_t s = Pixel32(b, x, y), a = s >> 24;
      const uint32_t bg = ((x / 8 + y / 8) & 1) ? 0x60 : 0x90;
      uint32_t out = 0xFF000000u;
      for (int c = 0; c < 3; ++c) {
        const uint32_t v = (s >> (8 * c)) & 0xFF;
        out |= ((v * a + bg * (255 - a)) / 255) << (8 * c);
      }
      px[size_t(y) * size_t(b->Width()) + size_t(x)] = out;
    }
  SwWritePngFile(DumpPath(name), px.data(), uint32_t(b->Width()), uint32_t(b->Height()));
}

}  // namespace kav::test

namespace kav::test {

// FNV-1a of the pixel bytes, row by row: pins pictures checked once by eye
// (the dumps) against unintended changes.
inline uint64_t PixelHash(TSysBitmap* b) {
  uint64_t h = 1469598103934665603ull;
  for (int32_t y = 0; y < b->Height(); ++y) {
    const uint8_t* row = b->Row(y);
    for (int64_t i = 0; i < int64_t(b->Width()) * b->BytesPerPixel(); ++i) h = (h ^ row[i]) * 1099511628211ull;
  }
  return h;
}

}  // namespace kav::test
