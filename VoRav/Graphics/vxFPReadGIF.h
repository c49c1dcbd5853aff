// The GIF 87a/89a reader: header, colour tables, extensions, image
// descriptors and LZW data, written into "A8R8G8B8" bitmaps with alpha.
//
// One reader reads one stream from its start, image after image: InternalRead
// reads the header and the first image, ReadNextFrame each further one. The
// reader is used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxStream.h"

namespace kav {

// A growable table of colours (0xAARRGGBB, blue first in memory).
class TFPPalette : public TRefObject {
 public:
  void Clear() noexcept { count_ = 0; }
  // Appends the colour and answers its index.
  int32_t Add(TColor32 color);
  // Sets the count; new entries are colour 0.
  void SetCount(int32_t count);
  int32_t Count() const noexcept { return count_; }
  // Colour 0 for an index outside the table.
  TColor32 Color(int32_t index) const noexcept {
    return index >= 0 && index < count_ ? colors_[size_t(index)] : TColor32(0);
  }
  void SetColor(int32_t index, TColor32 color) noexcept {
    if (index >= 0 && index < count_) colors_[size_t(index)] = color;
  }

 private:
  std::vector<TColor32> colors_;
  int32_t count_ = 0;
};

// The reader base: a progress event and the two reading operations.
class TFPCustomImageReader : public TRefObject {
 public:
  // Reports 0..1; answered false asks the reader to stop (it then raises
  // EAbort).
  TProgressHandler OnProgress;

  // True when the stream at its position holds this reader's format; the
  // position is set back.
  virtual bool InternalCheck(TStream* stream) = 0;
  // Reads the picture at the stream's start into a new bitmap. Raises on a
  // malformed stream.
  virtual Ref<TDirectBitmap> InternalRead(TStream* stream) = 0;

 protected:
  void Progress(float fraction);
};

// The 9-byte image descriptor.
struct TGifImageDescriptor {
  uint16_t Left = 0;
  uint16_t Top = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t Packed = 0;
};

class TFPReaderGif : public TFPCustomImageReader {
 public:
  // "GIF" followed by "87a" or "89a".
  bool InternalCheck(TStream* stream) override;
  // Reads the header (from position 0) and the first image into a bitmap of
  // the image descriptor's size. When a second image follows, sets Animated
  // and leaves the stream on that image's separator. A signature other than
  // GIF87a/GIF89a fails the assertion "Unknown/Unsupported GIF image type";
  // a frame larger than the bitmap limits, or larger than the data left in
  // the stream could fill, raises EOutOfMemory. A stream that ends inside
  // the LZW data is not an error: the frame keeps what was decoded (index 0
  // elsewhere). On an exception, Bitmap() still answers the frame's bitmap
  // when it had been made (all transparent: rows are written after the LZW
  // data are decoded).
  Ref<TDirectBitmap> InternalRead(TStream* stream) override;
  // Reads the extensions and the next image. False at the trailer or the
  // end of the stream; raises like InternalRead. A zero-sized image gives a
  // frame without bitmap (Bitmap() answers null).
  bool ReadNextFrame(TStream* stream);

  // The last frame read.
  TDirectBitmap* Bitmap() const noexcept { return bitmap_.get(); }
  const TGifImageDescriptor& Descriptor() const noexcept { return descriptor_; }
  // Disposal method of the last frame (graphic control packed byte >> 2,
  // 0..7); 0 without a graphic control extension.
  uint8_t Disposal() const noexcept { return disposal_; }
  // Delay of the last frame in hundredths of a second (0 without one).
  uint16_t Delay() const noexcept { return delay_; }
  // The last frame had a transparent index (only a graphic control
  // extension gives one).
  bool Transparent() const noexcept { return transparent_; }
  uint8_t TransparentIndex() const noexcept { return transparent_index_; }

  int32_t ScreenWidth() const noexcept { return screen_width_; }
  int32_t ScreenHeight() const noexcept { return screen_height_; }
  uint8_t BackgroundIndex() const noexcept { return background_index_; }
  bool Animated() const noexcept { return animated_; }
  // Where the blocks of the second image begin (its extensions first), when
  // InternalRead found one; ReadNextFrame from there reads that image again.
  int64_t SecondImagePosition() const noexcept { return second_image_position_; }
  bool NetscapeSeen() const noexcept { return netscape_; }
  // From the NETSCAPE2.0 extension (65535 is stored as 0); 1 by default.
  uint16_t LoopCount() const noexcept { return loop_count_; }

 private:
  void ReadHeader(TStream* stream);
  // Reads blocks up to an image separator, the trailer or something else,
  // which it answers (0 at the end of the stream).
  uint8_t ReadExtensionBlock(TStream* stream);
  void ReadApplicationExtension(TStream* stream);
  void ReadImage(TStream* stream);
  void ReadPalette(TStream* stream, uint8_t packed, TFPPalette* palette);
  void WriteRows(const std::vector<uint8_t>& indices, const TFPPalette& palette);

  bool animated_ = false;
  int64_t second_image_position_ = -1;
  bool netscape_ = false;
  uint16_t loop_count_ = 1;
  int32_t screen_width_ = 0;
  int32_t screen_height_ = 0;
  uint8_t screen_packed_ = 0;
  uint8_t background_index_ = 0;
  TGifImageDescriptor descriptor_;
  // The graphic control extension waiting for the next image: it applies to
  // that image only.
  bool control_pending_ = false;
  uint8_t control_packed_ = 0;
  uint16_t control_delay_ = 0;
  uint8_t control_transparent_ = 0;
  uint8_t disposal_ = 0;
  uint16_t delay_ = 0;
  bool transparent_ = false;
  uint8_t transparent_index_ = 0;
  Ref<TFPPalette> global_palette_ = MakeRef<TFPPalette>();
  Ref<TFPPalette> local_palette_ = MakeRef<TFPPalette>();
  Ref<TDirectBitmap> bitmap_;
};

}  // namespace kav
