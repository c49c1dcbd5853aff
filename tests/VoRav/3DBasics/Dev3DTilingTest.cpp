// Texture tiling: the tile-size choice, covering a picture, seamless
// drawing, the cell-grid view and the box antialiaser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Dx3DRig.h"
#include "VoRav/3DBasics/Dev3DExt2.h"
#include "VoRav/3DBasics/TileBitmap.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {
namespace {

struct TTileRig : dxtest::TDxRig {
  Ref<T3DScreen> Screen = MakeRef<T3DScreen>();
  Ref<TTextureManager6> Manager;
  TTileRig(int32_t w, int32_t h, TSwConfig cfg = TSwConfig()) : TDxRig(w, h, cfg) {
    Screen->SetDrawDevice(Device.get());
    Screen->BeginScene();
    Manager = MakeRef<TTextureManager6>(Screen.get());
  }
  ~TTileRig() {
    Manager = nullptr;
    Screen = nullptr;
  }
};

Ref<TSysBitmap> Picture(int32_t w, int32_t h) {
  auto b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      reinterpret_cast<uint32_t*>(b->Row(y))[x] = 0xFF000000u | uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 |
                                                  uint32_t((x * 3 + y * 5) & 0xFF);
  return b;
}

TEST(Tiling, TileSizeChoice) {
  TTileRig rig(64, 48);
  EXPECT_EQ(rig.Manager->ChooseTileSize(600, 300), (TSize{512, 512}));
  EXPECT_EQ(rig.Manager->ChooseTileSize(400, 200), (TSize{512, 256}));
  EXPECT_EQ(rig.Manager->ChooseTileSize(70, 70), (TSize{256, 128}));
  EXPECT_EQ(rig.Manager->ChooseTileSize(64, 64), (TSize{64, 64}));
  EXPECT_EQ(rig.Manager->ChooseTileSize(0, 64), (TSize{}));
  Ref<TTextureTile> t = rig.Manager->AllocateTile(70, 70);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->UsedWidth, 70);
  EXPECT_EQ(t->TextureSize(), (TSize{256, 128}));
}

TEST(Tiling, RefusedSizeIsDroppedAndTheChoiceRepeated) {
  TSwConfig cfg;
  cfg.VideoMemoryBudget = 700u << 10;  // a 512 x 512 tile (1 MiB) never fits
  TTileRig rig(16, 16, cfg);
  Ref<TTextureTile> t = rig.Manager->AllocateTile(600, 300);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->TextureSize(), (TSize{512, 256}));
  EXPECT_EQ(rig.Manager->SizeCount(), 14);
  // Later choices skip the dropped size.
  EXPECT_EQ(rig.Manager->ChooseTileSize(600, 600), (TSize{512, 256}));
}

TEST(Tiling, CoveringAPicture) {
  TTileRig rig(64, 48);
  auto m = MakeRef<TMultiTexture6>(rig.Manager.get());
  Ref<TSysBitmap> pic = Picture(1000, 700);
  m->Assign(pic.get(), false, false, true, 1, 1, TRect{0, 0, 1000, 700});
  m->Prepare();
  ASSERT_GT(m->TileCount(), 0);
  std::vector<int> covered(1000 * 700, 0);
  for (auto& t : m->Tiles()) {
    EXPECT_LE(t->UsedWidth - 2, 510);
    EXPECT_LE(t->UsedHeight - 2, 510);
    for (int y = t->OriginY + 1; y < t->OriginY + t->UsedHeight - 1; ++y)
      for (int x = t->OriginX + 1; x < t->OriginX + t->UsedWidth - 1; ++x)
        if (x < 1000 && y < 700) ++covered[size_t(y) * 1000 + size_t(x)];
  }
  for (int v : covered) ASSERT_EQ(v, 1);
  m = nullptr;
  EXPECT_EQ(rig.Manager->MultiTextureCount(), 0);
}

// A picture a few rows high (a long line of text) or a few columns wide is
// held in tiles of little more than its own size, not in tiles of 256 rows.
TEST(Tiling, FlatAndTallPicturesTakeTilesNearTheirSize) {
  TTileRig rig(64, 48);
  for (const TSize size : {TSize{6000, 44}, TSize{44, 6000}, TSize{3000, 20}}) {
    auto m = MakeRef<TMultiTexture6>(rig.Manager.get());
    Ref<TSysBitmap> pic = Picture(size.cx, size.cy);
    m->Assign(pic.get(), false, false, true, 1, 1, TRect{0, 0, size.cx, size.cy});
    m->Prepare();
    ASSERT_GT(m->TileCount(), 0);
    int64_t texels = 0;
    for (auto& t : m->Tiles()) texels += int64_t(t->TextureSize().cx) * t->TextureSize().cy;
    EXPECT_LE(double(texels), 1.7 * double(size.cx) * size.cy) << size.cx << " x " << size.cy;
  }
}

TEST(Tiling, TiledPictureDrawsWithoutSeams) {
  // 1200 x 300 drawn 1:1 (exact) and at half size (against a box average).
  TTileRig rig(1200, 300);
  Ref<TSysBitmap> pic = Picture(1200, 300);
  auto m = MakeRef<TMultiTexture6>(rig.Manager.get());
  m->Assign(pic.get(), false, false, true, 1, 1, TRect{0, 0, 1200, 300});
  T3DPoint c[4] = {{0, 0, 0}, {1200, 0, 0}, {0, 300, 0}, {1200, 300, 0}};
  rig.Screen->Clear(0xFF000000, false);
  m->Draw(c);
  rig.Screen->EndScene(true);
  auto frame = rig.Frame();
  ASSERT_EQ(frame.Width, 1200u);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 1200; ++x)
      ASSERT_EQ(frame.Pixels[size_t(y) * 1200 + size_t(x)], reinterpret_cast<uint32_t*>(pic->Row(y))[x]) << x << "," << y;
  rig.Screen->BeginScene();
  rig.Screen->Clear(0xFF000000, false);
  T3DPoint h[4] = {{0, 0, 0}, {600, 0, 0}, {0, 150, 0}, {600, 150, 0}};
  m->Draw(h);
  rig.Screen->EndScene(true);
  rig.Sink->WritePng(dxtest::kWindow, "/tmp/kav_tiles_half.png");
  // At half size each pixel samples midway between four source pixels:
  // every channel is their mean, across tile seams too.
  frame = rig.Frame();
  int worst = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 600; ++x)
      for (int sh = 0; sh < 24; sh += 8) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx) sum += (reinterpret_cast<uint32_t*>(pic->Row(2 * y + dy))[2 * x + dx] >> sh) & 0xFF;
        const int got = (frame.Pixels[size_t(y) * 1200 + size_t(x)] >> sh) & 0xFF;
        worst = std::max(worst, std::abs(got * 4 - sum));
      }
  EXPECT_LE(worst, 6);  // within 1.5 units of the mean
}

TEST(Tiling, CellGridView) {
  Ref<TSysBitmap> pic = Picture(100, 50);
  auto v = MakeRef<TTileBitmap>(pic.get(), 2, 1, false);
  EXPECT_EQ(v->Width(), 104);
  EXPECT_EQ(v->Height(), 52);
  for (int x : {0, 51, 52, 103}) EXPECT_TRUE(v->IsBorderColumn(x)) << x;
  EXPECT_FALSE(v->IsBorderColumn(1));
  EXPECT_FALSE(v->IsBorderColumn(50));
  // Borders repeat the cell's edge pixels.
  std::vector<uint32_t> row(104);
  v->GetPixels32(0, 0, 104, row, 0);
  const uint32_t* src = reinterpret_cast<uint32_t*>(pic->Row(0));
  EXPECT_EQ(row[0], src[0]);
  EXPECT_EQ(row[1], src[0]);
  EXPECT_EQ(row[50], src[49]);
  EXPECT_EQ(row[51], src[49]);
  EXPECT_EQ(row[52], src[50]);
  EXPECT_EQ(row[103], src[99]);
  // A grid of no columns is one cell.
  auto z = MakeRef<TTileBitmap>(pic.get(), 0, 0, false);
  EXPECT_EQ(z->Width(), 102);
  EXPECT_THROW(v->GetPixels32(104, 0, 1, row, 0), EAbort);
}

TEST(Tiling, BoxAntialiaserFeathersChosenEdges) {
  TTileRig rig(64, 48);
  auto aa = MakeRef<TBoxAntialiaser>(rig.Screen.get());
  rig.Screen->Clear(0xFF000000, false);
  const uint32_t white[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  aa->DrawBox(T3DPoint{10, 10, 0}, T3DPoint{20, 0, 0}, 4, white, T3DPoint{0, 20, 0});
  rig.Screen->EndScene(true);
  EXPECT_EQ(rig.Pixel(20, 20), 0xFFFFFFFFu);
  // Pixel k covers [k, k + 1): the box covers pixels 10 to 29.
  EXPECT_EQ(rig.Pixel(29, 20), 0xFFFFFFFFu);
  EXPECT_EQ(rig.Pixel(10, 20), 0xFFFFFFFFu);
  EXPECT_EQ(rig.Pixel(9, 20), 0xFF000000u);        // the left edge stays hard
  const uint32_t right = rig.Pixel(30, 20) & 0xFF;  // halfway through the feather beyond the right edge
  EXPECT_GT(right, 0u);
  EXPECT_LT(right, 255u);
  EXPECT_EQ(rig.Pixel(20, 9), 0xFF000000u);  // the top edge stays hard
}

// A store whose level 0 is made again on request (as the JPEG store decodes
// again from its compressed file), counting the productions.
class TRemakingStore : public TSysBitmapStore {
 public:
  TRemakingStore(int32_t w, int32_t h, bool remakes)
      : TSysBitmapStore(u"remaking", {}, StdFormats().A8R8G8B8, TSize{w, h}), remakes_(remakes) {}
  bool CanProduceAgain() const noexcept override { return remakes_; }
  int Loads = 0;
  bool Fails = false;  // as a file gone since it was loaded

 protected:
  void LoadMipLevel(int32_t level, TLevelBitmap& out) override {
    if (level != 0) return;
    if (Fails) throw EStreamReadError("gone");
    ++Loads;
    out.Bitmap = Picture(Width(), Height());
    out.Owned = true;
    out.Level = 0;
  }

 private:
  bool remakes_;
};

void ExpectFrameIsPicture(TTileRig& rig, TMultiTexture6* m, TSysBitmap* pic) {
  T3DPoint c[4] = {{0, 0, 0}, {float(pic->Width()), 0, 0}, {0, float(pic->Height()), 0},
                   {float(pic->Width()), float(pic->Height()), 0}};
  rig.Screen->BeginScene();
  rig.Screen->Clear(0xFF000000, false);
  m->Draw(c);
  rig.Screen->EndScene(true);
  auto frame = rig.Frame();
  for (int y = 0; y < pic->Height(); ++y)
    for (int x = 0; x < pic->Width(); ++x)
      ASSERT_EQ(frame.Pixels[size_t(y) * frame.Width + size_t(x)], reinterpret_cast<uint32_t*>(pic->Row(y))[x])
          << x << "," << y;
}

TEST(Tiling, ResidentTilesLetTheDecodedPictureGoAndRefillFromTheStore) {
  TTileRig rig(1200, 300);
  Ref<TSysBitmap> pic = Picture(1200, 300);
  auto store = MakeRef<TRemakingStore>(1200, 300, true);
  auto m = MakeRef<TMultiTexture6>(rig.Manager.get());
  {
    Ref<TBitmap> level = store->GetMipLevel(0, StdFormats().A8R8G8B8);
    m->Assign(level.get(), false, false, true, 1, 1, TRect{0, 0, 1200, 300});
  }
  m->SetSourceOrigin(store.get(), 0);
  // Nothing is let go before the tiles hold the picture.
  EXPECT_FALSE(m->ReleaseSource());
  m->Prepare();
  ASSERT_TRUE(m->ReleaseSource());
  EXPECT_FALSE(m->HoldsSource());
  EXPECT_EQ(store->CachedCount(0), 0);
  // The resident tiles draw the picture without making it again.
  ExpectFrameIsPicture(rig, m.get(), pic.get());
  EXPECT_EQ(store->Loads, 1);
  // Tiles taken back (as after a device loss) are filled from the store again,
  // with the same pixels.
  m->ReleaseTiles();
  ExpectFrameIsPicture(rig, m.get(), pic.get());
  EXPECT_EQ(store->Loads, 2);
  m->Prepare();
  EXPECT_TRUE(m->ReleaseSource());
  m = nullptr;
  EXPECT_EQ(rig.Manager->MultiTextureCount(), 0);
}

// A picture's rows read top to bottom a band at a time, as a decoder gives
// them; it checks that no band asks beyond the picture and can fail after
// a number of rows, as a broken file does.
class TPictureRows : public TLevelRowReader {
 public:
  TPictureRows(TSysBitmap* pic, int32_t fail_at = -1) : pic_(pic), fail_at_(fail_at) {}
  TSize Size() const override { return pic_->Size(); }
  void ReadRows(uint8_t* const* rows, int32_t count) override {
    EXPECT_GT(count, 0);
    EXPECT_LE(Read + count, pic_->Height());
    if (fail_at_ >= 0 && Read + count > fail_at_) throw EStreamReadError("broken");
    for (int32_t i = 0; i < count; ++i)
      std::memcpy(rows[i], pic_->Row(Read + i), size_t(pic_->Width()) * 4);
    Read += count;
    Largest = std::max(Largest, count);
  }
  int32_t Read = 0, Largest = 0;

 private:
  TSysBitmap* pic_;
  int32_t fail_at_;
};

// The texels a tile holds (its used part).
std::vector<uint32_t> TileTexels(TTextureTile* t) {
  std::vector<uint32_t> out;
  T3DTexture* tex = t->GetTexture();
  if (!tex) return out;
  Ref<T3DSurface> s = tex->GetSurface(0);
  Ref<TSysBitmap> b = s->Lock(TRect{0, 0, t->UsedWidth, t->UsedHeight}, true);
  if (!b) return out;
  for (int32_t y = 0; y < t->UsedHeight; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(b->Row(y));
    out.insert(out.end(), row, row + t->UsedWidth);
  }
  s->Unlock(b);
  return out;
}

TEST(Tiling, TilesFilledFromBandsOfRowsHoldWhatTheWholePictureGives) {
  // Three rows and three columns of tiles of several sizes, the edges
  // repeated beyond the picture.
  TTileRig rig(1100, 1030);
  Ref<TSysBitmap> pic = Picture(1100, 1030);
  auto whole = MakeRef<TMultiTexture6>(rig.Manager.get());
  whole->Assign(pic.get(), false, false, true, 1, 1, TRect{0, 0, 1100, 1030});
  whole->Prepare();
  auto store = MakeRef<TRemakingStore>(1100, 1030, true);
  auto banded = MakeRef<TMultiTexture6>(rig.Manager.get());
  auto rows = MakeRef<TPictureRows>(pic.get());
  banded->PrepareFromRows(store.get(), 0, rows.get(), true);
  // Every row read once, at most a tile's height at a time, and the whole
  // picture never made.
  EXPECT_EQ(rows->Read, 1030);
  EXPECT_LE(rows->Largest, 512);
  EXPECT_EQ(store->Loads, 0);
  EXPECT_FALSE(banded->HoldsSource());
  EXPECT_EQ(banded->SourceTop(), 0);
  EXPECT_TRUE(banded->Filled());
  ASSERT_EQ(banded->TileCount(), whole->TileCount());
  ASSERT_GT(banded->TileCount(), 4);
  for (int32_t i = 0; i < banded->TileCount(); ++i) {
    TTextureTile* a = whole->Tiles()[size_t(i)].get();
    TTextureTile* b = banded->Tiles()[size_t(i)].get();
    ASSERT_EQ(a->OriginX, b->OriginX);
    ASSERT_EQ(a->OriginY, b->OriginY);
    ASSERT_EQ(a->UsedWidth, b->UsedWidth);
    ASSERT_EQ(a->UsedHeight, b->UsedHeight);
    const std::vector<uint32_t> ta = TileTexels(a), tb = TileTexels(b);
    ASSERT_FALSE(ta.empty());
    ASSERT_TRUE(ta == tb) << "tile " << i;
  }
  whole = nullptr;
  // Tiles taken back are filled again from the store, with the same pixels.
  banded->ReleaseTiles();
  ExpectFrameIsPicture(rig, banded.get(), pic.get());
  EXPECT_EQ(store->Loads, 1);
  // When the store cannot make it any more, tiles to be filled again stay
  // unfilled and the draw goes on.
  ASSERT_TRUE(banded->ReleaseSource());
  banded->ReleaseTiles();
  store->Fails = true;
  rig.Screen->BeginScene();
  T3DPoint c[4] = {{0, 0, 0}, {100, 0, 0}, {0, 100, 0}, {100, 100, 0}};
  EXPECT_NO_THROW(banded->Draw(c));
  rig.Screen->EndScene(true);
  EXPECT_FALSE(banded->Filled());
}

// A reader that makes any rectangle of a picture on its own (as a text is
// rendered): it counts what it is asked for and can fail after a number of
// rectangles.
class TPictureRects : public TLevelRowReader {
 public:
  TPictureRects(TSysBitmap* pic, int32_t fail_at = -1) : pic_(pic), fail_at_(fail_at) {}
  TSize Size() const override { return pic_->Size(); }
  void ReadRows(uint8_t* const*, int32_t) override { ++RowReads; }
  bool ReadsRects() const override { return true; }
  void ReadRect(const TRect& r, uint8_t* const* rows) override {
    EXPECT_FALSE(r.IsEmpty());
    EXPECT_TRUE(r.Left >= 0 && r.Top >= 0 && r.Right <= pic_->Width() && r.Bottom <= pic_->Height());
    if (fail_at_ >= 0 && Rects >= fail_at_) throw EStreamReadError("broken");
    for (int32_t y = r.Top; y < r.Bottom; ++y)
      std::memcpy(rows[y - r.Top], pic_->Row(y) + size_t(r.Left) * 4, size_t(r.Width()) * 4);
    ++Rects;
    Pixels += int64_t(r.Width()) * r.Height();
    LargestPixels = std::max(LargestPixels, int64_t(r.Width()) * r.Height());
  }
  int RowReads = 0, Rects = 0;
  int64_t Pixels = 0, LargestPixels = 0;

 private:
  TSysBitmap* pic_;
  int32_t fail_at_;
};

// A picture far wider than high (a long line of text) and one of several rows
// of tiles, filled a few tiles at a time from rectangles, hold in every tile
// what the whole picture gives, and no rectangle is a whole row of tiles.
TEST(Tiling, TilesFilledFromRectanglesHoldWhatTheWholePictureGives) {
  TTileRig rig(64, 48);
  for (const TSize size : {TSize{20000, 44}, TSize{9000, 700}, TSize{300, 20}}) {
    Ref<TSysBitmap> pic = Picture(size.cx, size.cy);
    auto whole = MakeRef<TMultiTexture6>(rig.Manager.get());
    whole->Assign(pic.get(), false, false, true, 1, 1, TRect{0, 0, size.cx, size.cy});
    whole->Prepare();
    auto store = MakeRef<TRemakingStore>(size.cx, size.cy, true);
    auto parts = MakeRef<TMultiTexture6>(rig.Manager.get());
    auto rects = MakeRef<TPictureRects>(pic.get());
    parts->PrepareFromRows(store.get(), 0, rects.get(), true);
    EXPECT_EQ(rects->RowReads, 0);
    EXPECT_EQ(store->Loads, 0);
    EXPECT_FALSE(parts->HoldsSource());
    EXPECT_EQ(parts->SourceLeft(), 0);
    EXPECT_EQ(parts->SourceTop(), 0);
    EXPECT_TRUE(parts->Filled());
    // A rectangle spans kRectColumns and one tile more at most, a tile's
    // rows high; the border columns it shares with the next are read twice.
    EXPECT_LE(rects->LargestPixels, int64_t(TMultiTexture6::kRectColumns + 512) * 512);
    EXPECT_LE(rects->Pixels, int64_t(size.cx) * size.cy * 11 / 10 + 8 * int64_t(size.cx + size.cy));
    if (size.cx > 2 * TMultiTexture6::kRectColumns) {
      EXPECT_GT(rects->Rects, size.cx / TMultiTexture6::kRectColumns);
    }
    ASSERT_EQ(parts->TileCount(), whole->TileCount());
    for (int32_t i = 0; i < parts->TileCount(); ++i) {
      TTextureTile* a = whole->Tiles()[size_t(i)].get();
      TTextureTile* b = parts->Tiles()[size_t(i)].get();
      ASSERT_EQ(a->OriginX, b->OriginX);
      ASSERT_EQ(a->OriginY, b->OriginY);
      const std::vector<uint32_t> ta = TileTexels(a), tb = TileTexels(b);
      ASSERT_FALSE(ta.empty());
      ASSERT_TRUE(ta == tb) << size.cx << " x " << size.cy << ", tile " << i;
    }
  }
}

// A reader of a w x h picture (made by `reader`) that fails part way: the
// tiles filled so far go back to the pool and nothing is held.
template <class MakeReader>
void ExpectAFailedReadLeavesNoTiles(int32_t w, int32_t h, MakeReader reader) {
  TTileRig rig(64, 48);
  Ref<TSysBitmap> pic = Picture(w, h);
  auto store = MakeRef<TRemakingStore>(w, h, true);
  auto m = MakeRef<TMultiTexture6>(rig.Manager.get());
  Ref<TLevelRowReader> rows = reader(pic.get());
  EXPECT_THROW(m->PrepareFromRows(store.get(), 0, rows.get(), true), EStreamReadError);
  EXPECT_EQ(m->TileCount(), 0);
  EXPECT_FALSE(m->HoldsSource());
  EXPECT_EQ(m->SourceLeft(), 0);
  EXPECT_EQ(m->SourceTop(), 0);
  EXPECT_GT(rig.Manager->FreeTileCount(), 0);
  EXPECT_EQ(store->Loads, 0);
}

TEST(Tiling, ARectangleReadThatFailsLeavesNoTilesBehind) {
  ExpectAFailedReadLeavesNoTiles(20000, 44, [](TSysBitmap* pic) { return MakeRef<TPictureRects>(pic, 2); });
}

TEST(Tiling, ABandReadThatFailsLeavesNoTilesBehind) {
  ExpectAFailedReadLeavesNoTiles(700, 1200, [](TSysBitmap* pic) { return MakeRef<TPictureRows>(pic, 600); });
}

TEST(Tiling, APictureThatCannotBeMadeAgainIsKept) {
  TTileRig rig(64, 48);
  auto store = MakeRef<TRemakingStore>(700, 300, false);
  auto m = MakeRef<TMultiTexture6>(rig.Manager.get());
  m->Assign(store->GetMipLevel(0, StdFormats().A8R8G8B8).get(), false, false, true, 1, 1, TRect{0, 0, 700, 300});
  m->SetSourceOrigin(store.get(), 0);
  m->Prepare();
  EXPECT_FALSE(m->ReleaseSource());
  EXPECT_TRUE(m->HoldsSource());
  EXPECT_FALSE(store->ReleaseLevel(0));
  EXPECT_EQ(store->CachedCount(0), 1);
  // Without an origin nothing is let go either.
  auto plain = MakeRef<TMultiTexture6>(rig.Manager.get());
  Ref<TSysBitmap> pic = Picture(300, 200);
  plain->Assign(pic.get(), false, false, true, 1, 1, TRect{0, 0, 300, 200});
  plain->Prepare();
  EXPECT_FALSE(plain->ReleaseSource());
  EXPECT_TRUE(plain->HoldsSource());
}

TEST(Tiling, PooledTilesBeyondTheKeptFewAreFreed) {
  TTileRig rig(1200, 300);
  auto m = MakeRef<TMultiTexture6>(rig.Manager.get());
  Ref<TSysBitmap> first = Picture(1500, 1100);
  m->Assign(first.get(), false, false, true, 1, 1, TRect{0, 0, 1500, 1100});
  m->Prepare();
  const int32_t tiles = m->TileCount();
  ASSERT_GT(tiles, 4);
  m = nullptr;  // its tiles go back to the pool
  EXPECT_EQ(rig.Manager->FreeTileCount(), tiles);
  rig.Manager->TrimFreeTiles(1);
  EXPECT_LE(rig.Manager->FreeTileCount(), rig.Manager->SizeCount());
  EXPECT_LT(rig.Manager->FreeTileCount(), tiles);
  // A picture after the trim gets tiles (pooled or new) that show it.
  Ref<TSysBitmap> pic = Picture(1200, 300);
  auto next = MakeRef<TMultiTexture6>(rig.Manager.get());
  next->Assign(pic.get(), false, false, true, 1, 1, TRect{0, 0, 1200, 300});
  ExpectFrameIsPicture(rig, next.get(), pic.get());
  rig.Manager->TrimFreeTiles(0);
  ExpectFrameIsPicture(rig, next.get(), pic.get());  // tiles in use are never trimmed
}

}  // namespace
}  // namespace kav
