// The audio parsers' fuzz entry points over their seeds, every cut of them
// and single-byte changes.
#include <gtest/gtest.h>

#include "VoRav/Music/vxAudioFuzz.h"
#include "VoRav/Music/vxMediaInfoParsers.h"
#include "tests/VoRav/Graphics/FuzzSeeds.h"
#include "tests/VoRav/Music/AudioMedia.h"

namespace kav {
namespace {

// Every seed is a file the parser takes, so mutations reach past the headers.
void ExpectSeedsAccepted(const char* kind, const char16_t* name) {
  const auto dir = std::filesystem::path(KAV_SOURCE_DIR) / "tests/fuzz/corpus" / kind;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const auto bytes = test::ReadFileBytes(e.path());
    auto s = test::BytesStream(bytes);
    TMediaInfo info;
    EXPECT_TRUE(TMediaInfoExtractor::Extract(name, s.get(), info)) << e.path();
  }
}

TEST(AudioFuzz, RiffSeedsRunCleanly) {
  ExpectSeedsAccepted("riff", u"seed.wav");
  EXPECT_GE(test::RunFuzzSeeds("riff", &FuzzRiffInfo), 6);
}

TEST(AudioFuzz, MpegSeedsRunCleanly) {
  ExpectSeedsAccepted("mpeg", u"seed.mp3");
  EXPECT_GE(test::RunFuzzSeeds("mpeg", &FuzzMpegInfo), 4);
}

}  // namespace
}  // namespace kav
