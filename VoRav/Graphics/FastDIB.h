// Device-independent bitmaps: a BITMAPINFO header with a 256-entry colour
// table, pixel memory and a table of row pointers, and TDibBitmap, which
// presents one as a TSysBitmap.
//
// Rows are padded to 4 bytes. A positive height is a bottom-up DIB: row-table
// entry 0 is the bottom image row; TDibBitmap turns that round so its row 0
// is the top row. Pixel memory is plain memory: the GDI device context of the
// original design has no counterpart here (text and drawing reach DIBs
// through the bitmap operations).
//
// 16-bit DIBs are labelled by their real layout: 5-5-5 (compression 0) is
// "X1R5G5B5", 5-6-5 bit fields "R5G6B5"; bit count 15 asks for the first and
// 16 for the second wherever a bit count chooses a format.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxStream.h"

namespace kav {

struct TBitmapInfoHeader {
  uint32_t Size = 40;
  int32_t Width = 0;
  int32_t Height = 0;
  uint16_t Planes = 1;
  uint16_t BitCount = 0;
  uint32_t Compression = 0;  // 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
  uint32_t SizeImage = 0;
  int32_t XPelsPerMeter = 0;
  int32_t YPelsPerMeter = 0;
  uint32_t ClrUsed = 0;
  uint32_t ClrImportant = 0;
};

// Frees a DIB's own pixel memory (large blocks go back to a small cache).
struct TDibPixelsFree {
  size_t Bytes;
  void operator()(uint8_t* p) const;
};

class TFastDIB : public TRefObject {
 public:
  using TAllocateHandler = TDelegate<void(TFastDIB*)>;

  TFastDIB() = default;

  // (Re)allocates for width x height pixels of `bit_count` bits (0: the
  // display's depth, 32 here). Channel widths (all 0 for none) make a
  // bit-field DIB; without them 16 bits are 5-5-5 and 32 bits 8-8-8. For 16
  // and 32 bits the masks go into the first three colour-table entries (red,
  // green, blue). `pixels` (may be null) are used as they are and not owned;
  // otherwise zeroed memory is allocated. Nothing happens when nothing
  // changes. Raises EOutOfMemory past the bitmap limits and EConvertError for
  // an unsupported bit count or a width below 1.
  void Allocate(uint8_t* pixels, int32_t width, uint8_t red_width, uint8_t green_width, uint8_t blue_width,
                int32_t bit_count, int32_t height);
  void SetSize(int32_t width, int32_t height, int32_t bit_count) { Allocate(nullptr, width, 0, 0, 0, bit_count, height); }
  // SetSize for a writer that fills every pixel of every row (a decoder):
  // only the row padding is zeroed, the pixels are left as allocated.
  void SetSizeToFill(int32_t width, int32_t height, int32_t bit_count);

  // Takes another DIB's header and colour table (`colors` up to 256 entries):
  // run-length compression becomes 0 when the three mask words are 0, else 3;
  // bit-field widths come from the masks; colours are copied for up to 8 bits.
  void AssignInfo(const TBitmapInfoHeader& header, std::span<const uint32_t> colors);
  void Assign(TFastDIB* other, bool copy_pixels);

  // 32 bits only (asserted): every alpha byte 0 becomes 255; any non-zero
  // alpha leaves the pixels as they are.
  void OpaqueIfNoAlpha();

  // Writes a BMP file: 14-byte file header, the 40-byte header, the colour
  // table or masks, the rows in memory order.
  void SaveToStream(TStream* stream);
  // Through the file-open hook; raises EFileOpenError when it cannot be opened.
  void SaveToFile(const std::u16string& name);

  // Expand run-length data into the allocated rows (row-table order, from
  // row 0), 8-bit and 4-bit DIBs respectively (asserted); runs and deltas are
  // clipped to the rows. Answer false when the data ends before the end code
  // and before the rows are used up.
  bool DecodeRLE8(std::span<const uint8_t> data);
  bool DecodeRLE4(std::span<const uint8_t> data);

  const TBitmapInfoHeader& Header() const noexcept { return header_; }
  std::array<uint32_t, 256>& Colors() noexcept { return colors_; }
  int32_t Width() const noexcept { return header_.Width; }
  int32_t BitCount() const noexcept { return header_.BitCount; }
  int32_t Stride() const noexcept { return stride_; }
  int32_t RowCount() const noexcept { return row_count_; }
  int32_t RowPadding() const noexcept { return padding_; }
  bool TopDown() const noexcept { return header_.Height < 0; }
  uint8_t* Pixels() const noexcept { return pixels_; }
  uint8_t* Row(int32_t i) const noexcept { return rows_[size_t(i)]; }
  uint8_t BlueWidth() const noexcept { return widths_[0]; }
  uint8_t GreenWidth() const noexcept { return widths_[1]; }
  uint8_t RedWidth() const noexcept { return widths_[2]; }
  uint8_t BlueShift() const noexcept { return shifts_[0]; }
  uint8_t GreenShift() const noexcept { return shifts_[1]; }
  uint8_t RedShift() const noexcept { return shifts_[2]; }
  uint8_t GreenPosition() const noexcept { return widths_[0]; }
  uint8_t RedPosition() const noexcept { return uint8_t(widths_[0] + widths_[1]); }

  void SetOnAllocate(const TAllocateHandler& handler) noexcept { on_allocate_ = handler; }

 private:
  TAllocateHandler on_allocate_;
  int32_t stride_ = 0;
  int32_t row_count_ = 0;
  int32_t padding_ = 0;
  uint8_t* pixels_ = nullptr;
  std::unique_ptr<uint8_t, TDibPixelsFree> memory_;  // owned pixel memory
  bool fill_ = false;  // the next allocation leaves its pixels unzeroed
  TBitmapInfoHeader header_;
  std::array<uint32_t, 256> colors_{};
  std::array<uint8_t, 3> widths_{};  // blue, green, red
  std::array<uint8_t, 3> shifts_{};
  std::vector<uint8_t*> rows_;
};

// Blue mask 2^b - 1, green (2^(g+b) - 1) without the blue bits, red
// (2^(r+g+b) - 1, all 32 bits when r + g + b = 32) without blue and green;
// answered as {red, green, blue}.
std::array<uint32_t, 3> MakeBitMasks(uint8_t red_width, uint8_t green_width, uint8_t blue_width);

// 8 "Y8", 15 "X1R5G5B5", 16 "R5G6B5", 24 "R8G8B8", 32 "A8R8G8B8"; any other
// count fails an assertion.
TPixelFormat* DibStandardFormat(int32_t bit_count);
// The format that names the DIB's real layout (16 bits by its green width).
TPixelFormat* DibPixelFormat(const TFastDIB& dib);

class TDibBitmap : public TSysBitmap {
 public:
  static const TBitmapClass kClass;
  const TBitmapClass* ClassType() const noexcept override { return &kClass; }

  // Fails "Pixel Formats Not Compatible" when the format's bits per pixel
  // differ from the DIB's (15 counts as 16). With `owns` the bitmap takes
  // over the caller's reference to `dib`, else it takes its own. The rows are
  // taken now: the DIB must not be reallocated while it is wrapped.
  TDibBitmap(TFastDIB* dib, TPixelFormat* format, bool owns);
  TFastDIB* Dib() const noexcept { return dib_.get(); }

 protected:
  void Dispose() override;

 private:
  Ref<TFastDIB> dib_;
};

// A new DIB of that size and bit count (15 and 16 as above) in an owning
// TDibBitmap labelled by its layout.
Ref<TDibBitmap> NewDibBitmap(int32_t width, int32_t height, int32_t bit_count);
Ref<TDibBitmap> NewDibBitmapOn(TFastDIB* dib, bool owns);

// The outermost factory of the chain: serves requests for exactly
// TDibBitmap in a DIB standard format; passes others on.
Ref<TBitmap> DibBitmapFactory(int32_t width, int32_t height, TPixelFormat* format, const TProgressHandler& handler,
                              TBitmap* source, const TBitmapClass* wanted);

}  // namespace kav
