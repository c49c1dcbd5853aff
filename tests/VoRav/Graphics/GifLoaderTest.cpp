// The GIF still loader through the registry: stills, atlases and their
// tiling tags, refusals.
#include <gtest/gtest.h>

#include "GifTestUtil.h"
#include "VoRav/Graphics/vxGifLoader.h"
#include "VoRav/Graphics/vxImageRegistry.h"

using namespace kav;
using namespace kav::test;

TEST(GifLoader, StillsAtlasesAndTags) {
  RegisterGifLoaders();
  RegisterGifLoaders();  // once only
  TGifBuilder g(6, 4, 2);
  g.Netscape(2);
  g.Control(1, 0);
  g.Image(0, 0, 6, 4, std::vector<uint8_t>(24, 1), 2);
  g.Control(1, 25);
  g.Image(2, 1, 2, 2, {2, 2, 2, 2}, 2);
  g.Control(0, 3);
  g.Image(0, 0, 1, 1, {3}, 2);
  g.Trailer();
  const auto bytes = g.Bytes();

  for (const char16_t* name : {u"a.gif", u"a.GIF", u"a.gif_first_frame"}) {
    Ref<TBitmapStore> still = LoadBitmapStore(MemStream(bytes).get(), name, false, {});
    ASSERT_TRUE(still);
    EXPECT_EQ(still->Width(), 6);
    EXPECT_EQ(still->PixelFormat(), StdFormats().A8R8G8B8);
    EXPECT_EQ(FindTilesTag(still.get()), nullptr);
  }
  // The atlas name; the stream is handed over to the registry.
  auto owned = MemStream(bytes);
  Ref<TBitmapStore> atlas = LoadBitmapStore(owned.release(), u"a.gif|framesatlas", true, {});
  ASSERT_TRUE(atlas);
  EXPECT_EQ(atlas->Width(), 18);
  EXPECT_EQ(atlas->Height(), 4);
  TTilesTag* tag = FindTilesTag(atlas.get());
  ASSERT_TRUE(tag);
  EXPECT_EQ(tag->TileCount, 3);
  EXPECT_EQ(tag->Columns, 3);
  EXPECT_EQ(tag->Rows, 1);
  EXPECT_EQ(tag->Delays, (std::vector<int32_t>{50, 250, 30}));
  EXPECT_EQ(tag->TotalDuration, 330);
  EXPECT_DOUBLE_EQ(tag->AverageDelay, 110.0);
  EXPECT_EQ(tag->LoopCount, 2);
  Ref<TBitmap> half = atlas->GetMipLevel(1);
  EXPECT_EQ(half->Width(), 9);

  // A single image asked for as an atlas is a plain still.
  TGifBuilder one(3, 3, 1);
  one.Image(0, 0, 3, 3, std::vector<uint8_t>(9, 1));
  Ref<TBitmapStore> single = DecodeGifFrames(MemStream(one.Bytes()).get(), u"o", false, true, {});
  ASSERT_TRUE(single);
  EXPECT_EQ(FindTilesTag(single.get()), nullptr);

  // Not a GIF: nothing, the stream where it was. A first image whose data
  // break off keeps what was decoded.
  auto text = MemStream({'G', 'I', 'F', '8', '8', 'a', 0, 0, 0, 0});
  text->SetPosition(0);
  EXPECT_FALSE(DecodeGifFrames(text.get(), u"t.gif", false, false, {}));
  EXPECT_EQ(text->GetPosition(), 0);
  auto cut = bytes;
  cut.resize(65);  // the first image's data break off after one byte
  Ref<TBitmapStore> partial = DecodeGifFrames(MemStream(cut).get(), u"c.gif", false, true, {});
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->Width(), 6);
}
