// The JPEG loader of the image-loader registry: a store whose levels 0 to 3
// are decoded straight at 1/1, 1/2, 1/4 and 1/8 of the full size, carrying
// the picture's embedded ICC profile.
#pragma once

#include <atomic>
#include <string>

#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/Graphics/JpegColorSpace/winJpeg.h"
#include "VoRav/Graphics/SysImage.h"

namespace kav {

// A picture whose frame header promises more pixels than this many per byte
// of Huffman-coded data cannot be a real picture (even a flat one needs a
// code for every 8 x 8 block): it is refused before anything is decoded.
constexpr int64_t kJpegMaxPixelsPerByte = 1024;

class TJpegBitmapStore : public TSysBitmapStore {
 public:
  // Takes the image (one reference of its own) and routes its progress to
  // the store's progress handler.
  TJpegBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback, TJpegImage* image);

  TJpegImage* Image() const noexcept { return image_.get(); }
  // The layout of the levels: blue, green, red ("R8G8B8").
  static TPixelFormat* GetPixelFormat();
  // The picture decoded at 1 / 2^level (0..3) as a 24-bit DIB bitmap; grey
  // pictures are widened to three equal bytes. With `four_bytes` a colour
  // picture comes as a 32-bit one ("A8R8G8B8", alpha 255) instead. Raises
  // like TJpegImage::Decode, and EStreamReadError when a dropped source
  // cannot be read again unchanged.
  Ref<TDibBitmap> DecodeLevel(int32_t level, bool four_bytes = false);
  // The compressed picture stays with the store (or is read again through
  // the opener), so a released level is decoded again (libjpeg's decoding
  // gives the same pixels every time).
  bool CanProduceAgain() const noexcept override { return image_ != nullptr; }
  void SetSourceOpener(TStreamOpener opener) override;
  // Whether the compressed bytes are held now.
  bool HoldsSource();
  // Tells the show's author, once per store, that libjpeg decoded past
  // damaged data (its first warning, `warning`), naming the picture; data
  // that ends early is said in the show check's words for a picture cut
  // short, so the author hears of it once.
  void SayDamaged(const std::string& warning, bool end_of_data);
  // The same when libjpeg cannot decode past the damage (the level is not
  // made); the store is marked undecodable from then on.
  void SayUndecodable();

 protected:
  // Levels 0 to 3 from libjpeg; deeper levels are left to halving.
  void LoadMipLevel(int32_t level, TLevelBitmap& out) override;
  // A level first asked for as "A8R8G8B8" (as textures are made) is decoded
  // straight into that layout: the picture is decoded once and no 24-bit
  // copy is kept beside the 32-bit one.
  void GetMipLevel(int32_t level, TPixelFormat* format, TLevelBitmap& out, const TBitmapClass* cls) override;
  void Dispose() override;
  // Levels 0 to 3 of a colour picture (not CMYK) without a level filter,
  // decoded a band of rows at a time as "A8R8G8B8".
  Ref<TLevelRowReader> MakeLevelRows(int32_t level) override;
  // With an opener, the compressed bytes go (the header's facts stay).
  void DropSource() override;

 private:
  // The compressed picture, read again through the opener when it was
  // dropped; the picture read must have the facts of the one loaded.
  // Called under the store's lock.
  Ref<TJPEGData> SourceData();
  TStreamOpener opener_;
  void ImageProgress(TRefObject* sender, uint8_t stage, uint8_t percent, bool redraw, const TRect& rect,
                     const std::u16string& message);
  Ref<TJpegImage> image_;
  bool four_bytes_ = false;  // the level being made is wanted as "A8R8G8B8" (under the store's lock)
  std::atomic<bool> damage_said_{false};
};

// The registered loader (".jpg", ".jpeg", ".jpe", ".jfif"). Reads the
// compressed bytes from the stream's position once; answers null, with the
// stream set back, when libjpeg rejects the header, the size is 0, or the
// size is more than the data could hold. The store carries the profile of
// GetJpegColorProfile. With `owns_stream` the caller's reference is taken
// over (and dropped), success or not.
Ref<TBitmapStore> LoadJpegImage(TStream* stream, const std::u16string& name, bool owns_stream,
                                const TImageParamsCallback& params_callback);

// The profile built by ColorProfileFromBytes from the stream's embedded ICC
// profile (null when it has none).
Ref<TColorProfile> GetJpegColorProfile(TStream* stream, const std::u16string& name);

// Registers LoadJpegImage; later calls do nothing.
void RegisterJpegLoader();

// Fuzz entry point: the bytes as a JPEG file, loaded, its profile searched
// and its levels decoded (small pictures only). Answers 0; a crash or an
// exception other than a clean decoding failure is a bug.
int FuzzJpeg(const uint8_t* data, size_t size);

}  // namespace kav
