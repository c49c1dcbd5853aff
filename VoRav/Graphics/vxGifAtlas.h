// The frames atlas of an animated GIF: every frame composed by the disposal
// rules on the logical screen, the frames laid side by side in one bitmap.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Graphics/vxFPReadGIF.h"

namespace kav {

// The atlas stops growing before W x H x frames reaches this many pixels.
constexpr int64_t kGifAtlasMaxPixels = 26214400;
// And holds at most this many frames.
constexpr int32_t kGifAtlasMaxFrames = 4096;

struct TGifAtlas {
  Ref<TDirectBitmap> Bitmap;  // "A8R8G8B8", TileWidth x Frames wide
  int32_t TileWidth = 0;      // the logical screen
  int32_t TileHeight = 0;
  int32_t Frames = 0;
  std::vector<int32_t> Delays;  // ms per frame; a delay of 0 counts as 50 ms
  int32_t TotalDuration = 0;    // ms
  uint16_t LoopCount = 1;
};

// Builds the atlas from a reader that has read the first image
// (InternalRead) and found it animated. Further frames are read while the
// caps allow and the stream holds them; an error while reading a frame ends
// the list there. Each frame is placed at its descriptor position, clipped
// to the logical screen, on a transparent cell; then, by the disposal method
// of the frame before, transparent pixels take the previous cell's pixel
// (0 and 1: everywhere; 2: only outside the previous frame's rectangle,
// which stays transparent; 3: the pixel of the last earlier frame whose
// disposal was 0 or 1, when there is one). Answers false (no atlas) when the
// logical screen is empty.
bool BuildGifAtlas(TFPReaderGif& reader, TStream* stream, TGifAtlas& atlas);

}  // namespace kav
