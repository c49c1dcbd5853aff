// Frames atlas composition and caps, and both GIF roads compared with
// Pillow (first frames) and ImageMagick (coalesced animations).
#include <gtest/gtest.h>

#include "GifTestUtil.h"
#include "ToolRun.h"
#include "VoRav/Graphics/vxGifAtlas.h"
#include "VoRav/wpExceptions.h"

using namespace kav;
using namespace kav::test;

namespace {

bool Atlas(const std::vector<uint8_t>& bytes, TGifAtlas& atlas) {
  auto stream = MemStream(bytes);
  auto reader = MakeRef<TFPReaderGif>();
  reader->InternalRead(stream.get());
  return BuildGifAtlas(*reader, stream.get(), atlas);
}

}  // namespace

TEST(GifAtlas, ComposesByDisposalAndClipsFrames) {
  const uint32_t c0 = BuilderColor(0), c1 = BuilderColor(1), c2 = BuilderColor(2);
  TGifBuilder g(4, 2, 2);
  g.Control(1, 10);
  g.Image(0, 0, 4, 2, std::vector<uint8_t>(8, 1), 2);
  g.Control(2, 0, 3);
  g.Image(1, 0, 2, 1, {2, 3}, 2);
  g.Control(3, 0);
  g.Image(3, 1, 3, 3, std::vector<uint8_t>(9, 0), 2);  // runs off the screen
  g.Control(1, 2);
  g.Image(0, 0, 1, 1, {2}, 2);
  g.Trailer();
  TGifAtlas a;
  ASSERT_TRUE(Atlas(g.Bytes(), a));
  ASSERT_EQ(a.Frames, 4);
  EXPECT_EQ(a.Bitmap->Width(), 16);
  EXPECT_EQ(a.Delays, (std::vector<int32_t>{100, 50, 50, 20}));
  EXPECT_EQ(a.TotalDuration, 220);
  // Frame 1: its transparent pixel shows frame 0.
  EXPECT_EQ(Px(a.Bitmap.get(), 4 + 1, 0), c2);
  EXPECT_EQ(Px(a.Bitmap.get(), 4 + 2, 0), c1);
  EXPECT_EQ(Px(a.Bitmap.get(), 4 + 0, 1), c1);
  // Frame 2: frame 1's rectangle was disposed to transparent; the clipped
  // frame covers only (3, 1).
  EXPECT_EQ(Px(a.Bitmap.get(), 8 + 1, 0) >> 24, 0u);
  EXPECT_EQ(Px(a.Bitmap.get(), 8 + 2, 0) >> 24, 0u);
  EXPECT_EQ(Px(a.Bitmap.get(), 8 + 0, 0), c1);
  EXPECT_EQ(Px(a.Bitmap.get(), 8 + 3, 1), c0);
  EXPECT_EQ(Px(a.Bitmap.get(), 8 + 2, 1), c1);
  // Frame 3: frame 2 restores to the last kept frame (frame 0).
  EXPECT_EQ(Px(a.Bitmap.get(), 12 + 0, 0), c2);
  for (int x = 1; x < 4; ++x) EXPECT_EQ(Px(a.Bitmap.get(), 12 + x, 0), c1);
  EXPECT_EQ(Px(a.Bitmap.get(), 12 + 3, 1), c1);
}

TEST(GifAtlas, CapsFrames) {
  // 1000 x 1000 screen: 26 frames fit below the atlas pixel cap.
  TGifBuilder big(1000, 1000, 1);
  for (int i = 0; i < 30; ++i) big.Image(i % 7, 0, 1, 1, {1});
  big.Trailer();
  TGifAtlas a;
  ASSERT_TRUE(Atlas(big.Bytes(), a));
  EXPECT_EQ(a.Frames, 26);
  EXPECT_EQ(a.Bitmap->Width(), 26000);

}

TEST(GifTools, FirstFramesMatchPillowAndAtlasMatchesMagick) {
  if (!ToolExists(kPython) || RunTool({kPython, "-c", "import PIL"}) != 0)
    GTEST_SKIP() << "python3 with Pillow (python3-pil) is not installed";
  TScratchDir dir("gif");
  const std::string script = std::string(KAV_SOURCE_DIR) + "/tests/VoRav/Graphics/tools/gif_samples.py";
  ASSERT_EQ(RunTool({kPython, script, dir.Path().string()}), 0);

  for (const char* name : {"noise256.gif", "noise16.gif", "tiny2.gif", "transparent.gif", "anim_keep.gif"}) {
    SCOPED_TRACE(name);
    const auto rgba = ReadFileBytes(dir / (std::string(name) + ".rgba"));
    auto bytes = ReadFileBytes(dir / name);
    auto reader = MakeRef<TFPReaderGif>();
    auto b = reader->InternalRead(MemStream(bytes).get());
    if (rgba.empty()) continue;  // animations: first frame checked below
    ASSERT_EQ(rgba.size(), size_t(b->Width()) * b->Height() * 4);
    for (int y = 0; y < b->Height(); ++y)
      for (int x = 0; x < b->Width(); ++x) {
        const uint8_t* p = &rgba[size_t(y * b->Width() + x) * 4];
        ASSERT_EQ(Px(b.get(), x, y), ColorRGBA(p[0], p[1], p[2], p[3])) << x << "," << y;
      }
  }

  if (!ToolExists(kMagick)) GTEST_SKIP() << "ImageMagick (imagemagick) is not installed";
  for (const char* name : {"anim_keep.gif", "anim_mixed.gif"}) {
    SCOPED_TRACE(name);
    const std::string pattern = dir / (std::string(name) + "-%d.rgba");
    ASSERT_EQ(RunTool({kMagick, dir / name, "-coalesce", "+adjoin", "rgba:" + pattern}), 0);
    TGifAtlas a;
    ASSERT_TRUE(Atlas(ReadFileBytes(dir / name), a));
    EXPECT_EQ(a.Frames, 6);
    for (int f = 0; f < a.Frames; ++f) {
      const auto ref = ReadFileBytes(dir / (std::string(name) + "-" + std::to_string(f) + ".rgba"));
      ASSERT_EQ(ref.size(), size_t(a.TileWidth) * a.TileHeight * 4);
      for (int y = 0; y < a.TileHeight; ++y)
        for (int x = 0; x < a.TileWidth; ++x) {
          const uint8_t* p = &ref[size_t(y * a.TileWidth + x) * 4];
          const uint32_t ours = Px(a.Bitmap.get(), f * a.TileWidth + x, y);
          if (p[3] == 0)
            ASSERT_EQ(ours >> 24, 0u) << f << ":" << x << "," << y;
          else
            ASSERT_EQ(ours, ColorRGBA(p[0], p[1], p[2], p[3])) << f << ":" << x << "," << y;
        }
    }
  }
}
