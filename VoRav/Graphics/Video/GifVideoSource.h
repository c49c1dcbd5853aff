// Animated GIFs played as video: frame n is the picture showing at
// n / frame rate seconds, composed from the GIF's images with their
// disposal methods. Every tenth composed picture is kept as a key frame, so
// a frame is rebuilt from the nearest key frame before it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Graphics/Video/vxVideoSource.h"
#include "VoRav/Graphics/vxFPReadGIF.h"

namespace kav {

// One image of the GIF.
class TGifFrameData : public TRefObject {
 public:
  Ref<TDirectBitmap> KeyFrame;  // the composed picture, when cached
  TGifImageDescriptor Rect;
  uint8_t Disposal = 0;
  int32_t DelayMs = 0;
  bool IsKey = false;
  int32_t PrevDisposal = -1;  // -1 for the first image
  TGifImageDescriptor PrevRect;
  int32_t RestoreTo = -1;  // the last "restore to background" image before it
  int64_t Position = 0;    // where its blocks begin in the stream
  int32_t EndMs = 0;       // its end on the GIF's time line
};

class TGifVideoSource : public TFrameSource {
 public:
  // With `owned` the stream reference is taken over. Open() reads it.
  TGifVideoSource(TStream* stream, bool owned, const std::u16string& file_name);
  // Reads every image's place and timing. False for a stream that is no
  // GIF or whose first image cannot be read.
  bool Open();

  bool GetFrame(int32_t frame, TYUVImage* image) override;
  bool GetFrame24(int32_t frame, TDirectBitmap* bitmap) override;

  // The image index showing at frame `frame`.
  int32_t FrameIndex(int32_t frame) const;
  int32_t ImageCount() const noexcept { return int32_t(frames_.size()); }
  // The composed picture of image `index` ("A8R8G8B8", screen size), or
  // null when it cannot be decoded.
  Ref<TDirectBitmap> Compose(int32_t index);

 protected:
  void Dispose() override;

 private:
  Ref<TDirectBitmap> Step(const TDirectBitmap* composite, int32_t index, int32_t depth);
  Ref<TDirectBitmap> ComposeAt(int32_t index, int32_t depth);

  Ref<TStream> stream_;
  std::u16string file_name_;
  Ref<TFPReaderGif> reader_ = MakeRef<TFPReaderGif>();
  std::vector<Ref<TGifFrameData>> frames_;
  Ref<TDirectBitmap> work_;
  int32_t screen_width_ = 0;
  int32_t screen_height_ = 0;
  int32_t duration_ms_ = 0;
  uint16_t loop_count_ = 1;
  int64_t cached_bytes_ = 0;
};

// Installs the GIF factory and filter in front of the current ones.
void RegisterGifVideoSource();

}  // namespace kav
