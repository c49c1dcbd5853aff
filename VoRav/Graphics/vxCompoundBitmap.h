// A bitmap assembled from part bitmaps placed in a plane: reading a row reads,
// from each part that overlaps it, the overlapping run. Text objects use it to
// present several images as one and to scatter the parts as separate images.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "VoRav/Graphics/vxImage.h"

namespace kav {

struct TCompoundPart {
  TBitmap* Bitmap = nullptr;  // null: an empty slot
  bool Owns = false;          // the part holds one reference to Bitmap
  int32_t Left = 0;           // position in the compound bitmap
  int32_t Top = 0;
  std::array<int32_t, 5> Data{};  // set by the code that fills the parts
  Ref<TImage> Image;              // the part's image, made on first use
};

// Where a scattered part starts: its centre moved by -5 .. +4 pixels, and
// the two axis vectors.
struct TPartPlacement {
  float X = 0, Y = 0, Z = 0;
  float AxisX[3] = {1, 0, 0};
  float AxisY[3] = {0, 1, 0};
};

class TCompoundBitmap : public TBitmap {
 public:
  static const TBitmapClass kClass;
  const TBitmapClass* ClassType() const noexcept override { return &kClass; }

  // The size and format of the whole; asserts a size of at least 1 x 1.
  TCompoundBitmap(int32_t width, int32_t height, TPixelFormat* format);

  // Adds a part at (left, top); with `owns` the compound takes over one
  // reference to `bitmap`. Answers the part's index.
  int32_t AddPart(TBitmap* bitmap, bool owns, int32_t left, int32_t top);
  int32_t PartCount() const noexcept { return int32_t(parts_.size()); }
  TCompoundPart& Part(int32_t index);
  // Releases every owned bitmap and every image and zeroes every record.
  void ClearParts();

  // The part's image (made through the image hook on first use, not owning
  // the bitmap; null when no hook is installed) and its scattered start.
  TImage* GetPartPlacement(int32_t index, TPartPlacement& placement);

  // Reads row y from x on from every overlapping part (converted when a part
  // has another format) into the buffer at offset + (column - x) x bytes per
  // pixel. Columns no part covers keep the caller's bytes. Only columns
  // inside the compound bitmap and the buffer are touched; answers the bytes
  // of the run that was looked at.
  int32_t GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer, int32_t offset) override;
  int32_t GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer, int32_t offset) override;
  int32_t GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer, int32_t offset) override;

 protected:
  void Dispose() override;

 private:
  std::vector<TCompoundPart> parts_;
};

}  // namespace kav
