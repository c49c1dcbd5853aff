#include "VoRav/Graphics/Video/VideoSourceFuzz.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/VoRav/Graphics/FuzzSeeds.h"
#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

// The GIF reader's seeds and kept inputs (whole, and cut in two places) as
// video.
TEST(VideoFuzz, GifSeedsPlayCleanlyAsVideo) {
  int count = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const auto dir = std::filesystem::path(KAV_SOURCE_DIR) / "tests" / "fuzz" / folder / "gif";
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      std::vector<uint8_t> seed = test::ReadFileBytes(e.path());
      SCOPED_TRACE(e.path().string());
      EXPECT_EQ(FuzzGifVideo(seed.data(), seed.size()), 0);
      FuzzGifVideo(seed.data(), seed.size() / 2);
      FuzzGifVideo(seed.data(), seed.size() * 9 / 10);
      ++count;
    }
  }
  EXPECT_GE(count, 4);
}

// Clips made now, cut short and with bytes changed, must open and play (or
// be refused) without a fault.
TEST(VideoFuzz, DamagedClipsPlayCleanly) {
  for (const char* name : {"fz.mp4", "fz.ts", "fz.mkv"}) {
    std::string clip = testclips::MakeClip(
        testclips::ClipDesc(name, {"-c:v", "libx264", "-preset", "ultrafast", "-g", "6", "-pix_fmt", "yuv420p"}));
    ASSERT_FALSE(clip.empty());
    std::ifstream f(clip, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(name);
    EXPECT_EQ(FuzzVideoClip(bytes.data(), bytes.size()), 0);
    for (size_t cut : {size_t(0), size_t(16), bytes.size() / 7, bytes.size() / 2, bytes.size() - 100})
      EXPECT_EQ(FuzzVideoClip(bytes.data(), cut), 0);
    uint32_t seed = 7;
    for (int round = 0; round < 12; ++round) {
      std::vector<uint8_t> bad = bytes;
      for (int k = 0; k < 20; ++k) {
        seed = seed * 1664525u + 1013904223u;
        bad[seed % bad.size()] = uint8_t(seed >> 24);
      }
      EXPECT_EQ(FuzzVideoClip(bad.data(), bad.size()), 0);
    }
  }
}

}  // namespace
}  // namespace kav
