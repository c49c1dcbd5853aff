// Pictures of any size drawn through textures of a few fixed sizes: tile
// managers pool tiles per size, a multi-texture covers one picture (or one
// rectangle of it) with tiles that overlap by one pixel, so filtering across
// tile seams shows no line.
#pragma once

#include <vector>

#include "VoRav/3DBasics/Dev3DApp2.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

class TMultiTexture6;
class TTextureManager6;
class TTileManager;

class TTextureTile : public TCustomTexture {
 public:
  TTextureTile(TTileManager* manager, T3DScreen* screen, TSize size);
  // Copies the tile's part of the owner's source into level 0, repeating
  // edge pixels where it reaches beyond the source.
  void Fill(TSysBitmap* level0) override;
  bool Preload() override;
  // Refills a tile that shows another picture than its texture holds.
  void Refresh();

  TTileManager* Manager() const { return manager_; }
  TMultiTexture6* Owner = nullptr;
  int32_t OriginX = 0, OriginY = 0;  // one pixel left of and above the shown part
  int32_t UsedWidth = 0, UsedHeight = 0;
  bool Dirty = true;
  bool Resident = false;

 protected:
  void Dispose() override;

 private:
  friend class TTileManager;
  TTileManager* manager_;
};

class TTileManager : public TRefObject {
 public:
  TTileManager(TTextureManager6* owner, TSize size);
  TSize TileSize() const { return size_; }
  // The last free tile or a new one; null when its device texture cannot be
  // made.
  Ref<TTextureTile> Give();
  void Take(TTextureTile* tile);
  int32_t FreeCount() const { return int32_t(free_.size()); }
  // Frees pooled tiles beyond `keep` (their device textures go with them).
  void TrimFree(int32_t keep);
  void ForgetOwner() { owner_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  friend class TTextureTile;
  TTextureManager6* owner_;
  TSize size_;
  std::vector<Ref<TTextureTile>> free_;
  std::vector<TTextureTile*> all_;
};

class TTextureManager6 : public TRefObject {
 public:
  explicit TTextureManager6(T3DScreen* screen);
  T3DScreen* Screen() const { return screen_; }
  // The tile size that covers (w, h) best with the least waste; sizes whose
  // manager cannot give a tile are dropped and the choice repeated. Null
  // when nothing covers a pixel.
  Ref<TTextureTile> AllocateTile(int32_t w, int32_t h);
  // The size AllocateTile would choose among the sizes left (0 x 0: none).
  TSize ChooseTileSize(int32_t w, int32_t h) const;
  int32_t SizeCount() const;
  int32_t MultiTextureCount() const { return int32_t(multi_.size()); }
  // Frees the pooled tiles of each size beyond `keep`. Call it where no draw
  // that may use a pooled tile is pending (the start of a frame): a pool
  // kept every tile ever used, so a show of photos of many sizes held the
  // textures of several pictures that had long left.
  void TrimFreeTiles(int32_t keep);
  // Pooled tiles of every size.
  int32_t FreeTileCount() const;

  // Internal: multi-textures register with their index.
  int32_t Register(TMultiTexture6* m);
  void Unregister(TMultiTexture6* m, int32_t index);

 protected:
  void Dispose() override;

 private:
  T3DScreen* screen_;
  std::vector<Ref<TTileManager>> managers_;  // null once a size is dropped
  std::vector<TMultiTexture6*> multi_;
};

class TMultiTexture6 : public TRefObject {
 public:
  explicit TMultiTexture6(TTextureManager6* manager);

  // Shows `rect` of `bitmap` (with `grid`, the picture as cells of a
  // columns x rows grid, each with its own border). Asserts a bitmap and a
  // non-empty rectangle inside it.
  void Assign(TBitmap* bitmap, bool owns, bool grid, bool alpha, int32_t columns, int32_t rows, const TRect& rect);
  // Remembers that the assigned bitmap is `level` of `store` (one reference
  // kept), so that ReleaseSource may let it go and a tile that must be
  // filled again (device loss, tiles taken back) gets it from the store.
  void SetSourceOrigin(TBitmapStore* store, int32_t level);
  // Makes every tile resident (filled and uploaded).
  void Prepare();
  // Shows the whole of `level` of `store` (a store that can produce it
  // again), read through `rows` a band at a time: each row of tiles is
  // filled and uploaded from the band of source rows it covers, so the
  // level is never whole in memory beside the textures. The tiles hold the
  // same pixels Assign and Prepare give. Raises like the reader; the tiles
  // go back to the pool then.
  void PrepareFromRows(TBitmapStore* store, int32_t level, TLevelRowReader* rows, bool alpha);
  // With a reader that ReadsRects, a few neighbouring tiles of a row are
  // filled from a rectangle about kRectColumns wide at a time, so a level
  // thousands of times wider than high (a long line of text) is not held a
  // whole row of tiles wide either.
  static constexpr int32_t kRectColumns = 4096;
  // The source row and column that row 0 and column 0 of Source() are (not
  // 0 only while PrepareFromRows fills a band).
  int32_t SourceTop() const { return source_top_; }
  int32_t SourceLeft() const { return source_left_; }
  // Once every tile's texture is filled, lets go of the source when its origin is
  // known: the tiles hold the pixels, and a picture held twice (decoded and
  // in textures) doubled the memory of every prepared slide. Answers whether
  // the source was let go.
  bool ReleaseSource();
  // Whether there are tiles and every one's texture is made and holds its
  // part of the picture.
  bool Filled();
  // Draws the source tile by tile into the parallelogram corner[0] (top
  // left), corner[1] (top right), corner[2] (bottom left), corner[3].
  void Draw(const T3DPoint corner[4]);
  void ReleaseTiles();

  bool AlphaFlag = true;
  bool FilterFlag = true;
  bool BlendFlag = false;   // the source's colours are premultiplied
  uint8_t Alpha = 255;
  bool ColorFlag = false;
  uint32_t Color = 0xFFFFFFFF;
  float LodBias = 0;

  // The source, taken again from its origin when it was let go (null when
  // that fails or raises).
  TBitmap* Source();
  bool HoldsSource() const { return source_ != nullptr; }
  int32_t TileCount() const { return int32_t(tiles_.size()); }
  const std::vector<Ref<TTextureTile>>& Tiles() const { return tiles_; }
  // The manager (and so the screen) whose tiles it draws with; null once
  // that manager is gone.
  TTextureManager6* Manager() const { return manager_; }
  void ForgetManager() { manager_ = nullptr; index_ = -1; }
  void SetIndex(int32_t i) { index_ = i; }

 protected:
  void Dispose() override;

 private:
  void AllocateTiles();
  void SetupTile(TTextureTile* t);
  void MakeSource(TBitmap* bitmap);
  void PrepareFromRects(TLevelRowReader* rows);
  // Lets go of the band or rectangle PrepareFromRows filled tiles from.
  void EndBand();
  TTextureManager6* manager_;
  int32_t index_ = -1;
  std::vector<Ref<TTextureTile>> tiles_;
  Ref<TBitmap> source_;
  int32_t source_top_ = 0;
  int32_t source_left_ = 0;
  int32_t source_width_ = 0, source_height_ = 0;
  // What Assign was given, to make the source again from the origin.
  bool grid_ = false;
  int32_t columns_ = 0, rows_ = 0;
  TRect rect_;
  Ref<TBitmapStore> origin_;
  int32_t origin_level_ = 0;
};

// Draws boxes whose chosen edges fade out over one pixel.
class TBoxAntialiaser : public TRefObject {
 public:
  explicit TBoxAntialiaser(T3DScreen* screen) : screen_(screen) {}
  // A box at `position` spanned by the two edges, with the corner colours in
  // quad order and the feathered edges of `mask` (1 left, 2 top, 4 right,
  // 8 bottom).
  void DrawBox(const T3DPoint& position, const T3DPoint& x_edge, uint32_t mask, const uint32_t colors[4],
               const T3DPoint& y_edge);

 private:
  T3DScreen* screen_;
};

}  // namespace kav
