#include <gtest/gtest.h>

#include "../AllocationProbe.h"
#include "FuzzSeeds.h"
#include "VoRav/Graphics/SysGfxLoader.h"
#include "VoRav/Graphics/vxGifLoader.h"
#include "VoRav/Graphics/vxImageLib.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxMemoryStream.h"
#include "tools/fuzz/FuzzTargets.h"

TEST(DecoderFuzz, GifSeedsRunCleanly) { EXPECT_GE(kav::test::RunFuzzSeeds("gif", &kav::FuzzGif), 3); }
TEST(DecoderFuzz, VxgfSeedsRunCleanly) { EXPECT_GE(kav::test::RunFuzzSeeds("vxgf", &kav::FuzzVxgf), 5); }

TEST(DecoderFuzz, PngSeedsDecodeAndRunCleanly) {
  // The seeds are pictures the library takes, so their mutations reach past
  // the header checks.
  kav::RegisterPngImageLib();
  const auto dir = std::filesystem::path(KAV_SOURCE_DIR) / "tests/fuzz/corpus/png";
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::vector<uint8_t> bytes = kav::test::ReadFileBytes(e.path());
    auto stream = kav::MakeRef<kav::TMemoryStream>();
    stream->WriteBytes(bytes);
    stream->SetPosition(0);
    EXPECT_TRUE(kav::LoadImage(stream.get(), u"seed.png", false)) << e.path();
  }
  EXPECT_GE(kav::test::RunFuzzSeeds("png", &kav::FuzzPng), 6);
}

// Damaged pictures whose sizes and lengths promise more than the file holds
// are refused without taking memory for what the file cannot fill.
TEST(DecoderFuzz, PngRegressionsTakeLittleMemory) {
  if (!kav::test::TAllocationProbe::Available()) GTEST_SKIP() << "needs the address sanitizer";
  const auto dir = std::filesystem::path(KAV_SOURCE_DIR) / "tests/fuzz/regressions/png";
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::vector<uint8_t> bytes = kav::test::ReadFileBytes(e.path());
    const size_t largest =
        kav::test::TAllocationProbe::LargestDuring([&] { kav::FuzzPng(bytes.data(), bytes.size()); });
    EXPECT_LE(largest, size_t(64) << 20) << e.path();
  }
}
