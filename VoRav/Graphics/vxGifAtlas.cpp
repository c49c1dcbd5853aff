#include "VoRav/Graphics/vxGifAtlas.h"

#include <cstring>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

struct TCell {
  Ref<TDirectBitmap> Bitmap;
  TRect Placed;  // the frame's rectangle, clipped to the cell
  uint8_t Disposal;
};

// A transparent cell with the frame drawn at its descriptor position.
Ref<TDirectBitmap> PlaceFrame(TDirectBitmap* frame, const TGifImageDescriptor& d, int32_t w, int32_t h,
                              TRect& placed) {
  auto cell = MakeRef<TDirectBitmap>(w, h, StdFormats().A8R8G8B8);
  placed = TRect{std::min<int32_t>(d.Left, w), std::min<int32_t>(d.Top, h), std::min<int32_t>(d.Left + d.Width, w),
                 std::min<int32_t>(d.Top + d.Height, h)};
  if (!frame || placed.IsEmpty()) return cell;
  const size_t bytes = size_t(placed.Width()) * 4;
  for (int32_t y = placed.Top; y < placed.Bottom; ++y)
    std::memcpy(cell->PixelAddress(placed.Left, y), frame->PixelAddress(placed.Left - d.Left, y - d.Top), bytes);
  return cell;
}

// Transparent pixels of `cell` take the pixel of `from`, except inside
// `keep_clear` when given.
void FillTransparent(TDirectBitmap* cell, TDirectBitmap* from, const TRect* keep_clear) {
  for (int32_t y = 0; y < cell->Height(); ++y) {
    uint8_t* dst = cell->Row(y);
    const uint8_t* src = from->Row(y);
    const bool row_in = keep_clear && y >= keep_clear->Top && y < keep_clear->Bottom;
    for (int32_t x = 0; x < cell->Width(); ++x) {
      if (dst[x * 4 + 3] != 0) continue;
      if (row_in && x >= keep_clear->Left && x < keep_clear->Right) continue;
      std::memcpy(dst + x * 4, src + x * 4, 4);
    }
  }
}

}  // namespace

bool BuildGifAtlas(TFPReaderGif& reader, TStream* stream, TGifAtlas& atlas) {
  const int32_t w = reader.ScreenWidth(), h = reader.ScreenHeight();
  // Within the atlas's own cap and the bitmap limits in force, which may be
  // lower (a cell is a whole screen, the atlas all cells side by side).
  if (w <= 0 || h <= 0 || int64_t(w) * h > kGifAtlasMaxPixels || !BitmapSizeAllowed(w, h, 4)) return false;

  std::vector<TCell> cells;
  std::vector<int32_t> delays;
  auto add_frame = [&] {
    TRect placed;
    Ref<TDirectBitmap> cell = PlaceFrame(reader.Bitmap(), reader.Descriptor(), w, h, placed);
    if (!cells.empty()) {
      const TCell& prev = cells.back();
      if (prev.Disposal == 2) {
        FillTransparent(cell.get(), prev.Bitmap.get(), &prev.Placed);
      } else if (prev.Disposal == 3) {
        for (size_t j = cells.size() - 1; j-- > 0;)
          if (cells[j].Disposal <= 1) {
            FillTransparent(cell.get(), cells[j].Bitmap.get(), nullptr);
            break;
          }
      } else {
        FillTransparent(cell.get(), prev.Bitmap.get(), nullptr);
      }
    }
    cells.push_back(TCell{std::move(cell), placed, reader.Disposal()});
    delays.push_back(reader.Delay() ? int32_t(reader.Delay()) * 10 : 50);
  };

  add_frame();
  while (int32_t(cells.size()) < kGifAtlasMaxFrames &&
         int64_t(w) * h * int64_t(cells.size() + 1) <= kGifAtlasMaxPixels &&
         BitmapSizeAllowed(int64_t(w) * int64_t(cells.size() + 1), h, 4)) {
    try {
      if (!reader.ReadNextFrame(stream)) break;
    } catch (const Exception&) {
      break;  // a damaged frame ends the list
    }
    add_frame();
  }

  const int32_t frames = int32_t(cells.size());
  auto bitmap = MakeRef<TDirectBitmap>(w * frames, h, StdFormats().A8R8G8B8);
  for (int32_t i = 0; i < frames; ++i) {
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(bitmap->PixelAddress(i * w, y), cells[size_t(i)].Bitmap->Row(y), size_t(w) * 4);
    cells[size_t(i)].Bitmap = nullptr;
  }
  atlas.Bitmap = std::move(bitmap);
  atlas.TileWidth = w;
  atlas.TileHeight = h;
  atlas.Frames = frames;
  atlas.TotalDuration = 0;
  for (int32_t d : delays) atlas.TotalDuration += d;
  atlas.Delays = std::move(delays);
  atlas.LoopCount = reader.LoopCount();
  return true;
}

}  // namespace kav
