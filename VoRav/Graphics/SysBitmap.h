// System bitmaps: pixels reached through one pointer per row.
//
// A TSysBitmap never owns its rows; its descendants hold whatever owns them:
// TRefBitmap and TCropBitmap another TSysBitmap (a sub-rectangle of it),
// TSysDirectWrapper a TDirectBitmap. The block operations of the imaging code
// work on TSysBitmaps.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Graphics/vxBitmap.h"

namespace kav {

class TSysBitmap : public TBitmap {
 public:
  static const TBitmapClass kClass;
  const TBitmapClass* ClassType() const noexcept override { return &kClass; }

  // Asserts a width >= 0 and one row pointer per row.
  TSysBitmap(TSize size, std::vector<uint8_t*> rows, TPixelFormat* format);

  uint8_t* Row(int32_t y) const noexcept { return rows_[size_t(y)]; }
  uint8_t* PixelAddress(int32_t x, int32_t y) const noexcept { return rows_[size_t(y)] + int64_t(x) * BytesPerPixel(); }
  const std::vector<uint8_t*>& Rows() const noexcept { return rows_; }

  // Copies min(count, room in the buffer, width - x) pixels. A position
  // outside the bitmap or an offset outside the buffer copies nothing.
  int32_t GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer, int32_t offset) override;
  int32_t GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer, int32_t offset) override;
  int32_t GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer, int32_t offset) override;

  // Fills `dest` (clipped) from `source` at `source_point`, converting when
  // the formats differ; `premultiply` 255 then premultiplies each written row
  // with c * a / 255, 256 with c * a >> 8, 0 leaves it (only 0, 255 and 256
  // are valid; ignored when this format has no 4-byte alpha layout). Progress
  // is reported before each row; a false answer stops the copy.
  virtual void CopyRect(const TRect& dest, TBitmap* source, int32_t premultiply, TPoint source_point);
  void CopyFrom(TBitmap* source);
  // Fills the clipped rectangle with an "A8R8G8B8" colour converted into this
  // format. Answers false for an empty area, else NotifyProgress(1.0).
  bool FillRect(const TRect& rect, TColor32 color);

 protected:
  // For descendants that compute their rows before calling in.
  std::vector<uint8_t*> rows_;
};

// Shows the rows of another TSysBitmap (a sub-rectangle of it).
class TRefBitmap : public TSysBitmap {
 public:
  static const TBitmapClass kClass;
  const TBitmapClass* ClassType() const noexcept override { return &kClass; }

  // `rect` is clipped to `source`; an empty result fails the assertion
  // "<class>.Create - Bitmap is Empty". With `owns` the bitmap takes over one
  // reference to `source` and releases it when disposed.
  TRefBitmap(const TRect& rect, bool owns, TSysBitmap* source) : TRefBitmap(rect, owns, source, "TRefBitmap") {}
  // The inner form: explicit rows and the object that keeps them alive.
  TRefBitmap(TSize size, std::vector<uint8_t*> rows, TBitmap* holder, bool owns, TPixelFormat* format);

  TBitmap* Holder() const noexcept { return holder_; }

 protected:
  TRefBitmap(const TRect& rect, bool owns, TSysBitmap* source, const char* class_name);
  void Dispose() override;

 private:
  TBitmap* holder_ = nullptr;
  bool owns_ = false;
};

// A sub-rectangle of another bitmap (texture tiles).
class TCropBitmap : public TRefBitmap {
 public:
  static const TBitmapClass kClass;
  const TBitmapClass* ClassType() const noexcept override { return &kClass; }
  TCropBitmap(const TRect& rect, bool owns, TSysBitmap* source) : TRefBitmap(rect, owns, source, "TCropBitmap") {}
};

// Shows the rows of a TDirectBitmap.
class TSysDirectWrapper : public TSysBitmap {
 public:
  static const TBitmapClass kClass;
  const TBitmapClass* ClassType() const noexcept override { return &kClass; }
  // Fails "<class>.Create - Bitmap not Assigned" for null. With `owns` the
  // wrapper takes over one reference to `direct`.
  TSysDirectWrapper(TDirectBitmap* direct, bool owns);
  TDirectBitmap* Direct() const noexcept { return direct_; }

 protected:
  void Dispose() override;

 private:
  TDirectBitmap* direct_;
  bool owns_;
};

// The system-bitmap factory of the chain: serves requests a TSysDirectWrapper
// satisfies with a wrapper owning a new TDirectBitmap; passes others on to
// DirectBitmapFactory.
Ref<TBitmap> SysBitmapFactory(int32_t width, int32_t height, TPixelFormat* format, const TProgressHandler& handler,
                              TBitmap* source, const TBitmapClass* wanted);

// A TSysBitmap from the factory (no handler, no source); null when no
// factory serves the request.
Ref<TSysBitmap> CreateSysBitmap(int32_t width, int32_t height, TPixelFormat* format);
inline Ref<TSysBitmap> CreateSysBitmapOfSize(TSize size, TPixelFormat* format) {
  return CreateSysBitmap(size.cx, size.cy, format);
}

// The bitmap as a TSysBitmap, or null.
inline TSysBitmap* AsSysBitmap(TBitmap* b) noexcept { return dynamic_cast<TSysBitmap*>(b); }

}  // namespace kav
