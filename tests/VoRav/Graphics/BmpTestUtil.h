// Hand-made BMP files for the reader's tests.
#pragma once

// Designated initialisers below leave the other fields at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <cstdint>
#include <vector>

#include "VoRav/vxMemoryStream.h"

namespace kav::test {

struct TBmpSpec {
  int32_t Width = 1, Height = 1;
  uint16_t BitCount = 24;
  uint32_t Compression = 0;
  uint32_t HeaderSize = 40;
  uint32_t ColorsUsed = 0;
  std::vector<uint32_t> Palette;  // also the masks after a 40-byte header
  std::vector<uint32_t> HeaderMasks;  // red, green, blue, alpha inside a V4/V5 header
  std::vector<uint8_t> Data;
  int64_t FileSizeDelta = 0;  // added to the file-size field
};

inline void Put(std::vector<uint8_t>& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

inline std::vector<uint8_t> MakeBmp(const TBmpSpec& s) {
  std::vector<uint8_t> info;
  Put(info, s.HeaderSize, 4);
  Put(info, uint32_t(s.Width), 4);
  Put(info, uint32_t(s.Height), 4);
  Put(info, 1, 2);
  Put(info, s.BitCount, 2);
  Put(info, s.Compression, 4);
  Put(info, uint32_t(s.Data.size()), 4);
  Put(info, 2835, 4);
  Put(info, 2835, 4);
  Put(info, s.ColorsUsed, 4);
  Put(info, 0, 4);
  for (uint32_t m : s.HeaderMasks) Put(info, m, 4);
  info.resize(s.HeaderSize, 0);
  for (uint32_t c : s.Palette) Put(info, c, 4);
  const uint32_t offset = uint32_t(14 + info.size());
  std::vector<uint8_t> file = {'B', 'M'};
  Put(file, uint32_t(int64_t(offset + s.Data.size()) + s.FileSizeDelta), 4);
  Put(file, 0, 4);
  Put(file, offset, 4);
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), s.Data.begin(), s.Data.end());
  return file;
}

inline Ref<TMemoryStream> MemStream(const std::vector<uint8_t>& bytes) {
  auto s = MakeRef<TMemoryStream>();
  s->Write(bytes, int64_t(bytes.size()));
  s->SetPosition(0);
  return s;
}

}  // namespace kav::test
