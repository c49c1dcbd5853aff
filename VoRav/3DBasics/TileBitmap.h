// A read-only view of a picture cut into a grid of cells, each cell with a
// one-pixel border that repeats its edge pixels, so that filtering inside a
// cell never reaches the next cell.
#pragma once

#include <vector>

#include "VoRav/Graphics/vxBitmap.h"

namespace kav {

class TTileBitmap : public TBitmap {
 public:
  // `columns` and `rows` below 1 count as 1. With `owns` the view takes over
  // one reference to the source.
  TTileBitmap(TBitmap* source, int32_t columns, int32_t rows, bool owns);

  int32_t CellWidth() const { return cell_w_; }
  int32_t CellHeight() const { return cell_h_; }
  bool IsBorderColumn(int32_t x) const { return x >= 0 && x < width_ && border_[size_t(x)]; }
  // The source position a view position shows.
  int32_t SourceX(int32_t x) const;
  int32_t SourceY(int32_t y) const;

  int32_t GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) override;
  int32_t GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer, int32_t offset) override;
  int32_t GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer, int32_t offset) override;
  int32_t GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer, int32_t offset) override;

 protected:
  void Dispose() override;

 private:
  TBitmap* source_;
  bool owns_;
  int32_t columns_, rows_, cell_w_, cell_h_;
  std::vector<uint8_t> border_;
  std::vector<uint8_t> scratch_;
};

}  // namespace kav
