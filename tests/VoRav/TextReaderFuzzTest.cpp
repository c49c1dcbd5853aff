// The text-reader and registry-store fuzz entry points over their seed
// corpora and seeded mutations of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tools/fuzz/FuzzTargets.h"

namespace kav {
namespace {

std::vector<std::string> Seeds(const char* kind) {
  std::vector<std::string> out;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(KAV_SOURCE_DIR) / "tests/fuzz/corpus" / kind)) {
    std::ifstream in(entry.path(), std::ios::binary);
    out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return out;
}

void Replay(const char* kind, int (*target)(const uint8_t*, size_t), const char* pieces) {
  const auto seeds = Seeds(kind);
  ASSERT_GE(seeds.size(), 2u);
  std::mt19937 rng(77);
  for (int round = 0; round < 600; ++round) {
    std::string s = seeds[rng() % seeds.size()];
    for (int k = round == 0 ? 0 : 1 + rng() % 4; k > 0; --k) {
      const size_t at = s.empty() ? 0 : rng() % s.size();
      if (rng() % 2)
        s.insert(at, 1, pieces[rng() % std::char_traits<char>::length(pieces)]);
      else if (!s.empty())
        s[at] = static_cast<char>(rng());
    }
    ASSERT_EQ(target(reinterpret_cast<const uint8_t*>(s.data()), s.size()), 0);
  }
}

TEST(TextReaderFuzz, SeedCorpusAndMutations) { Replay("textreader", &FuzzTextReader, "\x80\xc3\xef\xf0\xfe\xff\x82"); }

TEST(RegistryStoreFuzz, SeedCorpusAndMutations) { Replay("registry", &FuzzRegistryStore, "[]=:%\n\\0A"); }

}  // namespace
}  // namespace kav
