// The bitmap base, the directly owned bitmap and the bitmap factory.
//
// A TBitmap is a reference-counted rectangle of pixels in a named pixel
// format. Code that needs a new bitmap asks the factory (BitmapFactory) for a
// size, a format and optionally a wanted class, and never names a concrete
// class itself. Every size is checked against a pixel cap before memory is
// allocated.
#pragma once

#include <cstdint>
#include <span>

#include "VoRav/Graphics/GraphTypes.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxScopedSetting.h"

namespace kav {

// Largest bitmap the system creates: 2^27 pixels (e.g. 16384 x 8192) and
// 2^29 bytes. Decoders check sizes from files against the same limits, as
// they are in force (BitmapSizeLimits).
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 27;
constexpr int64_t kMaxBitmapBytes = int64_t(1) << 29;

struct TBitmapSizeLimits {
  int64_t Pixels = kMaxBitmapPixels;
  int64_t Bytes = kMaxBitmapBytes;
};
// The limits in force: the maxima above unless lowered.
TBitmapSizeLimits BitmapSizeLimits() noexcept;
// Puts new limits in force (each within 1 .. its maximum) and answers the
// previous ones. Only lowering makes sense: the fuzz entry points lower them
// while they run, so that inputs declaring huge pictures (a few bytes of RLE
// or LZW can) cost little, with the same code paths.
TBitmapSizeLimits SetBitmapSizeLimits(TBitmapSizeLimits limits) noexcept;
// The limits of the fuzz entry points for the scope's lifetime.
class TFuzzBitmapLimits : public TScopedSetting<TBitmapSizeLimits, &SetBitmapSizeLimits> {
 public:
  static constexpr TBitmapSizeLimits kFuzz{int64_t(1) << 16, int64_t(1) << 18};
  TFuzzBitmapLimits() noexcept : TScopedSetting(kFuzz) {}
};

// True when a width x height bitmap of `bytes_per_pixel` fits the limits in
// force (both sides at least 1). Computed in 64 bits.
bool BitmapSizeAllowed(int64_t width, int64_t height, int64_t bytes_per_pixel) noexcept;
// Raises EOutOfMemory ("Bitmap size W x H exceeds the limit") when not allowed.
void CheckBitmapSize(int64_t width, int64_t height, int64_t bytes_per_pixel);

// Progress of long bitmap operations: a fraction 0..1; answers true to go on.
using TProgressHandler = TDelegate<bool(float)>;

// Class identity of bitmaps, for factory requests ("a bitmap of this class or
// one derived from it").
struct TBitmapClass {
  const char* Name;
  const TBitmapClass* Parent;
  // This class is `other` or derives from it. Null `other` answers true.
  bool InheritsFrom(const TBitmapClass* other) const noexcept {
    for (const TBitmapClass* c = this; c; c = c->Parent)
      if (c == other) return true;
    return other == nullptr;
  }
};

class TBitmap : public TRefObject {
 public:
  static const TBitmapClass kClass;
  virtual const TBitmapClass* ClassType() const noexcept { return &kClass; }
  bool InheritsFrom(const TBitmapClass* cls) const noexcept { return ClassType()->InheritsFrom(cls); }

  int32_t Width() const noexcept { return width_; }
  int32_t Height() const noexcept { return height_; }
  TSize Size() const noexcept { return TSize{width_, height_}; }
  TPixelFormat* PixelFormat() const noexcept { return format_; }
  int32_t BytesPerPixel() const noexcept { return format_->BytesPerPixel(); }

  const TProgressHandler& OnProgress() const noexcept { return on_progress_; }
  void SetOnProgress(const TProgressHandler& handler) noexcept { on_progress_ = handler; }
  // True when no handler is set, otherwise the handler's answer.
  bool NotifyProgress(float fraction);

  // A new bitmap of the same class and format with the same pixels.
  virtual Ref<TBitmap> CreateCopy();
  // A bitmap of this size from the factory in `format` (own format when null)
  // and `cls`, with `handler` (own handler when null), filled from this one
  // (converted when the formats differ). Null when no factory serves it.
  Ref<TBitmap> CreateSimilar(TPixelFormat* format, const TBitmapClass* cls,
                             const TProgressHandler* handler = nullptr);

  // Copies up to `count` pixels of row y from x on into `buffer` at byte
  // `offset`; answers the bytes copied. Never reads or writes out of range.
  virtual int32_t GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) = 0;
  // The same for 1-, 2-, 3- and 4-byte formats, the offset counted in pixels
  // (the answer still in bytes).
  virtual int32_t GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) = 0;
  virtual int32_t GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer, int32_t offset) = 0;
  virtual int32_t GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer, int32_t offset) = 0;
  virtual int32_t GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer, int32_t offset) = 0;

 protected:
  // Asserts a format; the size is checked by the descendants that allocate.
  TBitmap(int32_t width, int32_t height, TPixelFormat* format);

  int32_t width_;
  int32_t height_;
  TPixelFormat* format_;
  TProgressHandler on_progress_;
};

// Owns its pixels: one contiguous block, rows of width x bytes-per-pixel bytes.
class TDirectBitmap : public TBitmap {
 public:
  static const TBitmapClass kClass;
  const TBitmapClass* ClassType() const noexcept override { return &kClass; }

  // Asserts width >= 1, height >= 1 and a format; raises EOutOfMemory past
  // the size limits. Pixels start zeroed.
  TDirectBitmap(int32_t width, int32_t height, TPixelFormat* format);

  uint8_t* Row(int32_t y) noexcept { return pixels_ + int64_t(y) * stride_; }
  const uint8_t* Row(int32_t y) const noexcept { return pixels_ + int64_t(y) * stride_; }
  uint8_t* PixelAddress(int32_t x, int32_t y) noexcept { return Row(y) + int64_t(x) * BytesPerPixel(); }
  int32_t Stride() const noexcept { return stride_; }

  int32_t GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer, int32_t offset) override;
  int32_t GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer, int32_t offset) override;
  int32_t GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer, int32_t offset) override;

  // Fills `dest` (this bitmap's coordinates, clipped) from `source` starting
  // at `source_point`, converting when the formats differ.
  virtual void CopyRect(const TRect& dest, TBitmap* source, TPoint source_point);
  void CopyFrom(TBitmap* source);
  // Fills the clipped rectangle with an "A8R8G8B8" colour written in this
  // bitmap's format (1 byte: the mean of blue, green and red).
  void FillRect(const TRect& rect, TColor32 color);

 protected:
  ~TDirectBitmap() override;

 private:
  template <class T>
  int32_t GetTyped(int32_t bpp, const char* name, int32_t x, int32_t y, int32_t count, std::span<T> buffer,
                   int32_t offset);
  uint8_t* pixels_ = nullptr;
  int32_t stride_ = 0;
};

// ClipCopyRect: fits a copy of a w x h area from (sx, sy) of a source of
// size `src` to (dx, dy) of a destination of size `dst` into both bitmaps,
// shifting the other side's position by what is cut off. Answers whether a
// non-empty area remains.
bool ClipCopyRect(int32_t& dx, int32_t& dy, int32_t& sx, int32_t& sy, int32_t& w, int32_t& h, TSize dst, TSize src);
// The same for a destination rectangle (any extent, computed in 64 bits) and
// a source point; the clipped area comes back in the six outputs.
bool ClipCopyRect(const TRect& dest, TPoint source_point, TSize dst, TSize src, int32_t& dx, int32_t& dy,
                  int32_t& sx, int32_t& sy, int32_t& w, int32_t& h);

// The bitmap factory: a new bitmap of the size and format, with the handler,
// filled from `source` when given, of class `wanted` or one derived from it
// (any class when null). Null when no factory in the chain serves the request.
using TBitmapFactoryProc = Ref<TBitmap> (*)(int32_t width, int32_t height, TPixelFormat* format,
                                            const TProgressHandler& handler, TBitmap* source,
                                            const TBitmapClass* wanted);

// The current outermost factory. Modules that add bitmap classes chain in at
// start-up: SetBitmapFactory answers the previous factory, which the new one
// calls for requests it does not serve.
TBitmapFactoryProc BitmapFactory() noexcept;
TBitmapFactoryProc SetBitmapFactory(TBitmapFactoryProc proc) noexcept;
// Calls the current factory (null when there is none).
Ref<TBitmap> NewBitmap(int32_t width, int32_t height, TPixelFormat* format, const TProgressHandler& handler = {},
                       TBitmap* source = nullptr, const TBitmapClass* wanted = nullptr);

// The first factory of the chain: serves requests TDirectBitmap satisfies.
Ref<TBitmap> DirectBitmapFactory(int32_t width, int32_t height, TPixelFormat* format,
                                 const TProgressHandler& handler, TBitmap* source, const TBitmapClass* wanted);

}  // namespace kav
