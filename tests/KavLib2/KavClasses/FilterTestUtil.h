// Helpers shared by the filter and modifier tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "VoRav/vxIni.h"

namespace kav::test {

// A document parsed from text; fails the test when it does not parse.
inline Ref<TIniFile> Doc(std::string_view text) {
  Ref<TIniFile> doc = MakeRef<TIniFile>();
  EXPECT_TRUE(doc->LoadFromBytes(text));
  return doc;
}

// Rows of 32-bit pixels (blue, green, red, alpha) held together.
struct TPixelRows {
  int32_t Width;
  std::vector<std::vector<uint8_t>> Data;
  std::vector<uint8_t*> Rows;
  TPixelRows(int32_t width, int32_t height)
      : Width(width), Data(size_t(height), std::vector<uint8_t>(size_t(width) * 4)) {
    for (auto& r : Data) Rows.push_back(r.data());
  }
  void Set(int32_t x, int32_t y, std::array<uint8_t, 4> bgra) { std::memcpy(&Data[size_t(y)][size_t(x) * 4], bgra.data(), 4); }
  std::array<uint8_t, 4> Get(int32_t x, int32_t y) const {
    std::array<uint8_t, 4> p;
    std::memcpy(p.data(), &Data[size_t(y)][size_t(x) * 4], 4);
    return p;
  }
};
using Px = std::array<uint8_t, 4>;

}  // namespace kav::test
