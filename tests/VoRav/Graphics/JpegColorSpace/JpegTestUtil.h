// Pictures for the JPEG tests: a synthetic photo-like PPM, JPEG files made
// from it by cjpeg or ImageMagick, and the decoded PNM files of djpeg.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../ToolRun.h"
#include "VoRav/vxMemoryStream.h"

namespace kav::test {

inline const std::string kCjpeg = "/usr/bin/cjpeg";
inline const std::string kDjpeg = "/usr/bin/djpeg";

// Smooth gradients, a hard-edged grid and seeded noise: every DCT path and
// the upsampling of sharp chroma edges get work.
inline std::vector<uint8_t> SyntheticPpm(int w, int h, uint32_t seed) {
  std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<uint8_t> out(head.begin(), head.end());
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool grid = ((x / 23) + (y / 17)) % 2 == 0;
      const int n = int(rng() % 24);
      out.push_back(uint8_t(std::min(255, x * 255 / w + n)));
      out.push_back(uint8_t(std::min(255, (grid ? 200 : 40) + n)));
      out.push_back(uint8_t(std::min(255, y * 255 / h + n / 2)));
    }
  return out;
}

// A PNM file's pixel bytes (P5 or P6 with maxval 255), its size and channels.
struct TPnm {
  int Width = 0, Height = 0, Channels = 0;
  std::vector<uint8_t> Pixels;
};

inline TPnm ParsePnm(const std::vector<uint8_t>& f) {
  TPnm p;
  size_t i = 0;
  auto token = [&] {
    while (i < f.size() && (f[i] == ' ' || f[i] == '\n' || f[i] == '\r' || f[i] == '\t')) ++i;
    std::string t;
    while (i < f.size() && !(f[i] == ' ' || f[i] == '\n' || f[i] == '\r' || f[i] == '\t')) t += char(f[i++]);
    return t;
  };
  const std::string magic = token();
  if (magic != "P5" && magic != "P6") return p;
  p.Channels = magic == "P6" ? 3 : 1;
  p.Width = std::stoi(token());
  p.Height = std::stoi(token());
  token();
  ++i;
  p.Pixels.assign(f.begin() + std::ptrdiff_t(std::min(i, f.size())), f.end());
  return p;
}

inline Ref<TMemoryStream> Mem(const std::vector<uint8_t>& bytes) {
  auto m = MakeRef<TMemoryStream>();
  if (!bytes.empty()) m->WriteBytes(bytes);
  m->SetPosition(0);
  return m;
}

}  // namespace kav::test
