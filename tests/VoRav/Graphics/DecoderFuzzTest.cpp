#include <gtest/gtest.h>

#include "../AllocationProbe.h"
#include "FuzzSeeds.h"
#include "VoRav/Graphics/SysGfxLoader.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Graphics/vxGifLoader.h"
#include "VoRav/Graphics/vxImageLib.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxMemoryStream.h"
#include "tools/fuzz/FuzzTargets.h"

TEST(DecoderFuzz, GifSeedsRunCleanly) { EXPECT_GE(kav::test::RunFuzzSeeds("gif", &kav::FuzzGif), 3); }
// An animated GIF whose screen fits the atlas's own cap but not the bitmap
// limits in force (the fuzz entry points lower them) falls back to its first
// image instead of raising out of the loader.
TEST(DecoderFuzz, GifAtlasKeepsToTheBitmapLimitsInForce) {
  const std::vector<uint8_t> bytes = kav::test::ReadFileBytes(
      std::filesystem::path(KAV_SOURCE_DIR) / "tests/fuzz/regressions/gif/atlas_screen_over_bitmap_limit.gif");
  auto stream = kav::MakeRef<kav::TMemoryStream>();
  stream->WriteBytes(bytes);
  const kav::TBitmapSizeLimits before = kav::BitmapSizeLimits();
  {
    const kav::TFuzzBitmapLimits limits;
    EXPECT_EQ(kav::BitmapSizeLimits().Pixels, kav::TFuzzBitmapLimits::kFuzz.Pixels);
    stream->SetPosition(0);
    kav::Ref<kav::TBitmapStore> store;
    EXPECT_NO_THROW(store = kav::DecodeGifFrames(stream.get(), u"a.gif", false, true, {}));
    ASSERT_TRUE(store);
    EXPECT_EQ(kav::FindTilesTag(store.get()), nullptr);  // the first image, no atlas
  }
  EXPECT_EQ(kav::BitmapSizeLimits().Pixels, before.Pixels);
  EXPECT_EQ(kav::BitmapSizeLimits().Bytes, before.Bytes);
  // With the full limits the same file makes its atlas.
  stream->SetPosition(0);
  kav::Ref<kav::TBitmapStore> store = kav::DecodeGifFrames(stream.get(), u"a.gif", false, true, {});
  ASSERT_TRUE(store);
  EXPECT_NE(kav::FindTilesTag(store.get()), nullptr);
}

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
