#include "VoRav/Graphics/Video/vxVideoSource.h"

#include <gtest/gtest.h>

#include <fstream>

#include "VoRav/vxMemoryStream.h"
#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

// A stream that reports when its last reference goes.
class TProbeStream : public TMemoryStream {
 public:
  explicit TProbeStream(bool* gone) : gone_(gone) {}

 protected:
  void Dispose() override {
    *gone_ = true;
    TMemoryStream::Dispose();
  }

 private:
  bool* gone_;
};

TEST(VideoSourceFactory, ChainFilterOwnershipAndInfoCache) {
  RegisterVideoSources();
  RegisterVideoSources();  // once only
  ASSERT_NE(FrameSourceFactory(), nullptr);
  ASSERT_NE(FrameSourceFilter(), nullptr);

  // A refused name releases the owned stream and yields nothing.
  TFrameSourceFilter saved = SetFrameSourceFilter([](const std::u16string&) { return false; });
  bool gone = false;
  auto* probe = new TProbeStream(&gone);
  EXPECT_FALSE(OpenFrameSource(probe, true, u"clip.mp4"));
  EXPECT_TRUE(gone);
  SetFrameSourceFilter(saved);

  // A GIF name goes to the GIF source; a broken one yields nothing and the
  // owned stream is released.
  gone = false;
  probe = new TProbeStream(&gone);
  EXPECT_FALSE(OpenFrameSource(probe, true, u"broken.GIF"));
  EXPECT_TRUE(gone);

  // A clip goes to the media library; its information is cached once.
  std::string clip = testclips::MakeClip(testclips::ClipDesc("cache.mp4"));
  ASSERT_FALSE(clip.empty());
  std::u16string name(clip.begin(), clip.end());
  const int32_t before = MediaInfoCacheCount();
  Ref<TFrameSource> a = OpenFrameSource(nullptr, false, name);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Info().CodecName, u"H264");
  Ref<TFrameSource> b = OpenFrameSource(nullptr, false, name);
  ASSERT_TRUE(b);
  EXPECT_EQ(MediaInfoCacheCount(), before + 1);
  TClipInfo cached;
  ASSERT_TRUE(CachedMediaInfo(name, cached));
  EXPECT_EQ(cached.Width, 64);
  EXPECT_EQ(cached.FrameCount, 50);
  EXPECT_FALSE(CachedMediaInfo(u"/never/opened.mp4", cached));
  EXPECT_EQ(MediaInfoKey(u"/never/opened.mp4"), "00.00.0000|/never/opened.mp4");
  EXPECT_EQ(MediaInfoKey(name).size(), 11 + clip.size());
}

}  // namespace
}  // namespace kav
