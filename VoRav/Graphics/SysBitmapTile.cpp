#include <algorithm>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysBitmapUtilsPriv.h"

namespace kav {

namespace {

// Places tiles of W x H from (x0, y0) on in steps of W and H until they pass
// the area's right and bottom; `draw` gets each tile's rectangle clipped to
// the area and the tile-relative point of its top-left corner.
template <class Fn>
void ForEachTile(const TRect& area, int64_t x0, int64_t y0, int32_t W, int32_t H, Fn draw) {
  if (W <= 0 || H <= 0 || area.IsEmpty()) return;
  // Skip whole tiles left of and above the area.
  if (x0 + W <= area.Left) x0 += (area.Left - x0) / W * W;
  if (y0 + H <= area.Top) y0 += (area.Top - y0) / H * H;
  for (int64_t ty = y0; ty < area.Bottom; ty += H) {
    for (int64_t tx = x0; tx < area.Right; tx += W) {
      const int64_t l = std::max<int64_t>(tx, area.Left), t = std::max<int64_t>(ty, area.Top);
      const int64_t r = std::min<int64_t>(tx + W, area.Right), b = std::min<int64_t>(ty + H, area.Bottom);
      if (l >= r || t >= b) continue;
      draw(TRect{int32_t(l), int32_t(t), int32_t(r), int32_t(b)}, TPoint{int32_t(l - tx), int32_t(t - ty)});
    }
  }
}

void TileCopy(TSysBitmap* dest, TSysBitmap* tile, const TRect& area, int64_t x0, int64_t y0, const TRect& tile_rect) {
  detail::AssertDepth(dest, 32);
  detail::AssertDepth(tile, 32);
  TRect clipped;
  if (!IntersectRect(clipped, area, TRect{0, 0, dest->Width(), dest->Height()})) return;
  ForEachTile(clipped, x0, y0, tile_rect.Width(), tile_rect.Height(), [&](const TRect& r, TPoint in_tile) {
    dest->CopyRect(r, tile, 0, TPoint{tile_rect.Left + in_tile.X, tile_rect.Top + in_tile.Y});
  });
}

// An offset brought into 0 .. size.
int64_t WrapOffset(int64_t o, int64_t size) {
  if (o < 0) return o < -size ? o % size + size : o + size;
  if (o > size) return o % size;
  return o;
}

// The first tile's distance from the area's edge for a grid anchored at `origin`.
int64_t FirstTile(int64_t edge, int64_t origin, int64_t size) {
  const int64_t d = edge - origin;
  if (d >= 1) return d - size * (d / size + 1);
  if (d < 0) return d + size * ((origin - edge) / size);
  return 0;
}

}  // namespace

void TileBitmap(TSysBitmap* dest, TSysBitmap* tile, const TRect& target, TPoint offset, const TRect& tile_rect) {
  const int32_t W = tile_rect.Width(), H = tile_rect.Height();
  if (W <= 0 || H <= 0) return;
  const int64_t ox = WrapOffset(offset.X, W), oy = WrapOffset(offset.Y, H);
  TileCopy(dest, tile, target, int64_t(target.Left) + ox - W, int64_t(target.Top) + oy - H, tile_rect);
}

void TileBitmapClipped(TSysBitmap* dest, TSysBitmap* tile, const TRect& target, const TRect& clip,
                       const TRect& tile_rect) {
  TRect area;
  if (!IntersectRect(area, target, clip)) return;
  TileCopy(dest, tile, area, target.Left, target.Top, tile_rect);
}

void TileImageStore(TSysBitmap* dest, const TRect& target, TBitmap* picture, bool force_copy, TPoint origin) {
  KAV_ASSERT(dest != nullptr && picture != nullptr);
  TRect area;
  if (!IntersectRect(area, target, TRect{0, 0, dest->Width(), dest->Height()})) return;
  const int32_t W = picture->Width(), H = picture->Height();
  if (W <= 0 || H <= 0) return;
  const int64_t x0 = int64_t(target.Left) + FirstTile(target.Left, origin.X, W);
  const int64_t y0 = int64_t(target.Top) + FirstTile(target.Top, origin.Y, H);

  if (!picture->PixelFormat()->HasAlpha() || force_copy) {
    ForEachTile(area, x0, y0, W, H, [&](const TRect& r, TPoint in_tile) { dest->CopyRect(r, picture, 0, in_tile); });
    return;
  }
  const TStdPixelFormats& f = StdFormats();
  Ref<TSysBitmap> source(AsSysBitmap(picture));
  if (!source || source->PixelFormat() != f.A8R8G8B8) {
    Ref<TBitmap> copy = picture->CreateSimilar(f.A8R8G8B8, &TSysBitmap::kClass);
    KAV_ASSERT(copy && AsSysBitmap(copy.get()));
    source = Ref<TSysBitmap>(AsSysBitmap(copy.get()));
  }
  const bool dest_alpha = dest->PixelFormat()->HasAlpha();
  TPixelFormat* work_format = dest_alpha ? f.A8R8G8B8 : f.R8G8B8;
  Ref<TSysBitmap> work(dest);
  if (dest->PixelFormat() != work_format) {
    Ref<TBitmap> copy = dest->CreateSimilar(work_format, &TSysBitmap::kClass);
    KAV_ASSERT(copy && AsSysBitmap(copy.get()));
    work = Ref<TSysBitmap>(AsSysBitmap(copy.get()));
  }
  ForEachTile(area, x0, y0, W, H, [&](const TRect& r, TPoint in_tile) {
    if (dest_alpha) AlphaCompositeRect32Int(work.get(), source.get(), r, in_tile);
    else AlphaBlendRect32On24(work.get(), source.get(), r, in_tile);
  });
  if (work.get() != dest) dest->CopyRect(area, work.get(), 0, TPoint{area.Left, area.Top});
}

void DrawImageFrame(TSysBitmap* dest, const TRect& rect, TBitmap* picture, const TRect& clip) {
  const TRect pieces[4] = {
      {rect.Left, rect.Top, rect.Right, rect.Top + 1},
      {rect.Left, rect.Top, rect.Left + 1, rect.Bottom},
      {rect.Right - 1, rect.Top + 1, rect.Right, rect.Bottom},
      {rect.Left + 1, rect.Bottom - 1, rect.Right - 1, rect.Bottom},
  };
  for (const TRect& piece : pieces) {
    TRect r;
    if (IntersectRect(r, piece, clip)) TileImageStore(dest, r, picture, false, TPoint{rect.Left, rect.Top});
  }
}

void TileImageStore(TSysBitmap* dest, const TRect& target, TImage* image, bool force_copy, TPoint origin) {
  KAV_ASSERT(image != nullptr);
  TileImageStore(dest, target, image->GetBitmap().get(), force_copy, origin);
}

void DrawImageFrame(TSysBitmap* dest, const TRect& rect, TImage* image, const TRect& clip) {
  KAV_ASSERT(image != nullptr);
  DrawImageFrame(dest, rect, image->GetBitmap().get(), clip);
}

}  // namespace kav
