// Runs the metadata fuzz entry points over the committed seed corpus (and
// the inputs that once broke a reader), over every truncation of each file
// and over single-byte corruptions of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "KavLib2/Zel.Exif/MetadataFuzz.h"

using namespace kav;

namespace {

using Bytes = std::vector<uint8_t>;
using TFuzzEntry = int (*)(const uint8_t*, size_t);

const std::filesystem::path kCorpus = std::filesystem::path(KAV_SOURCE_DIR) / "tests/KavLib2/Zel.Exif/corpus";

std::vector<std::filesystem::path> Files(const char* folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus / folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

Bytes ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RunMutations(TFuzzEntry entry, const Bytes& seed) {
  for (size_t n = 0; n <= seed.size(); ++n) entry(seed.data(), n);
  Bytes m = seed;
  for (size_t i = 0; i < m.size(); ++i) {
    const uint8_t keep = m[i];
    for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80), uint8_t(keep ^ 1)}) {
      m[i] = v;
      entry(m.data(), m.size());
    }
    m[i] = keep;
  }
}

void RunFolder(const char* folder, TFuzzEntry entry) {
  const auto files = Files(folder);
  ASSERT_FALSE(files.empty()) << (kCorpus / folder);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const Bytes seed = ReadAll(file);
    for (TFuzzEntry any : {&FuzzExif, &FuzzJpegSegments, &FuzzIptc}) any(seed.data(), seed.size());
    RunMutations(entry, seed);
  }
}

}  // namespace

TEST(MetadataFuzzCorpus, Exif) { RunFolder("exif", &FuzzExif); }
TEST(MetadataFuzzCorpus, JpegSegments) { RunFolder("jpeg", &FuzzJpegSegments); }
TEST(MetadataFuzzCorpus, Iptc) { RunFolder("iptc", &FuzzIptc); }
