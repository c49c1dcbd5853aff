// The GIF still loader: the first frame of a GIF for ".gif" and
// ".gif_first_frame", and the frames atlas of an animated GIF for
// ".gif|framesatlas", with the tiling tag that tells slide objects how to
// step through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/vxStream.h"

namespace kav {

// How an atlas store is cut into tiles; carried in the store's notify list.
class TTilesTag : public TRefObject {
 public:
  int32_t TileWidth = 0;
  int32_t TileHeight = 0;
  int32_t TileCount = 0;
  int32_t Columns = 0;
  int32_t Rows = 0;
  int32_t TotalDuration = 0;  // ms
  double AverageDelay = 0;    // ms: TotalDuration / TileCount
  std::vector<int32_t> Delays;  // ms per tile
  uint16_t LoopCount = 1;     // 0: for ever
};

// The store's tiling tag, or null.
TTilesTag* FindTilesTag(TBitmapStore* store);

// The loader core: null when the stream holds no GIF or its first image
// cannot be read at all (the stream is then set back). A first image that
// breaks off keeps what was decoded. With `atlas` and an animated GIF the
// store holds the frames atlas and a TTilesTag; otherwise it wraps the
// first image, the size of its image descriptor. With `owns_stream` the
// caller's reference is taken over (and dropped), success or not.
Ref<TBitmapStore> DecodeGifFrames(TStream* stream, const std::u16string& name, bool owns_stream, bool atlas,
                                  const TImageParamsCallback& params_callback);

// Registers ".gif", ".gif_first_frame" and ".gif|framesatlas", one by one;
// later calls do nothing.
void RegisterGifLoaders();

// Fuzz entry point: the bytes as a GIF, read as a still and as an atlas.
// Answers 0; a crash or an exception escaping is a bug.
int FuzzGif(const uint8_t* data, size_t size);

}  // namespace kav
