// Writes a 24- or 32-bit bitmap as a binary PPM (alpha dropped) into the
// folder named by KAV_DUMP_DIR, so a drawing can be looked at; nothing when
// the variable is not set.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "VoRav/Graphics/SysBitmap.h"

namespace kav::test {

inline void DumpPpm(const std::string& name, TSysBitmap* b) {
  const char* dir = std::getenv("KAV_DUMP_DIR");
  if (!dir || !b) return;
  std::filesystem::create_directories(dir);
  std::ofstream out(std::filesystem::path(dir) / (name + ".ppm"), std::ios::binary);
  out << "P6\n" << b->Width() << " " << b->Height() << "\n255\n";
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x) {
      const uint8_t* p = b->PixelAddress(x, y);
      const char rgb[3] = {char(p[2]), char(p[1]), char(p[0])};
      out.write(rgb, 3);
    }
}

}  // namespace kav::test
