#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/fuzz/FuzzTargets.h"

namespace fs = std::filesystem;

namespace {

// Runs a fuzz target over every file of its committed seed corpus (and of
// the crash regressions kept beside it); answers the number of inputs run.
int RunCorpus(const char* target, int (*fn)(const uint8_t*, size_t)) {
  int count = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(KAV_SOURCE_DIR) / "tests" / "fuzz" / kind / target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir)) {
      std::ifstream in(e.path(), std::ios::binary);
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
      SCOPED_TRACE(e.path().string());
      EXPECT_EQ(fn(bytes.data(), bytes.size()), 0);
      ++count;
    }
  }
  return count;
}

}  // namespace

TEST(FuzzCorpus, InflateSeedsRunCleanly) { EXPECT_GE(RunCorpus("inflate", kav::FuzzInflate), 5); }

TEST(FuzzCorpus, ContainerSeedsRunCleanly) { EXPECT_GE(RunCorpus("container", kav::FuzzContainerDirectory), 7); }
