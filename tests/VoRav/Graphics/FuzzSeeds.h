// Runs a fuzz entry point over its committed seeds (tests/fuzz/corpus/<kind>
// and tests/fuzz/regressions/<kind>), over every cut of each seed and over
// single-byte changes of it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "ToolRun.h"

namespace kav::test {

using TFuzzEntry = int (*)(const uint8_t*, size_t);

inline int RunFuzzSeeds(const char* kind, TFuzzEntry entry) {
  int count = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const auto dir = std::filesystem::path(KAV_SOURCE_DIR) / "tests" / "fuzz" / folder / kind;
    if (!std::filesystem::is_directory(dir)) continue;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      SCOPED_TRACE(file.string());
      std::vector<uint8_t> seed = ReadFileBytes(file);
      EXPECT_EQ(entry(seed.data(), seed.size()), 0);
      for (size_t n = 0; n < seed.size(); n += 1 + n / 64) entry(seed.data(), n);
      for (size_t i = 0; i < seed.size(); ++i) {
        const uint8_t keep = seed[i];
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(keep ^ 0x01), uint8_t(keep + 0x40)}) {
          seed[i] = v;
          entry(seed.data(), seed.size());
        }
        seed[i] = keep;
      }
      ++count;
    }
  }
  return count;
}

}  // namespace kav::test
