#include "VoRav/3DBasics/TileBitmap.h"

#include <algorithm>
#include <cstring>

#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {
int32_t AtLeastOne(int32_t v) { return v < 1 ? 1 : v; }
}  // namespace

// A grid of 0 columns or rows counts as one cell.
TTileBitmap::TTileBitmap(TBitmap* source, int32_t columns, int32_t rows, bool owns)
    : TBitmap(source->Width() + 2 * AtLeastOne(columns), source->Height() + 2 * AtLeastOne(rows),
              source->PixelFormat()),
      source_(source),
      owns_(owns),
      columns_(AtLeastOne(columns)),
      rows_(AtLeastOne(rows)) {
  cell_w_ = std::max(1, source->Width() / columns_);
  cell_h_ = std::max(1, source->Height() / rows_);
  border_.resize(size_t(width_));
  for (int32_t x = 0; x < width_; ++x) {
    const int32_t m = x % (cell_w_ + 2);
    border_[size_t(x)] = m == 0 || m == cell_w_ + 1;
  }
  // The view always keeps the source alive while it shows it.
  if (!owns_) RefAddRef(source_);
  owns_ = true;
}

void TTileBitmap::Dispose() {
  if (owns_) RefRelease(source_);
  source_ = nullptr;
  TBitmap::Dispose();
}

int32_t TTileBitmap::SourceX(int32_t x) const {
  const int32_t cell = std::min(x / (cell_w_ + 2), columns_ - 1);
  const int32_t inner = std::clamp(x - cell * (cell_w_ + 2) - 1, 0, cell_w_ - 1);
  return std::min(cell * cell_w_ + inner, source_->Width() - 1);
}

int32_t TTileBitmap::SourceY(int32_t y) const {
  const int32_t cell = std::min(y / (cell_h_ + 2), rows_ - 1);
  const int32_t inner = std::clamp(y - cell * (cell_h_ + 2) - 1, 0, cell_h_ - 1);
  return std::min(cell * cell_h_ + inner, source_->Height() - 1);
}

int32_t TTileBitmap::GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) {
  const std::string cls = ClassName();
  KAV_ASSERT_MSG(x >= 0 && y >= 0 && x < width_ && y < height_, (cls + ".GetPixels (X,Y) out of Bitmap.Size").c_str());
  KAV_ASSERT_MSG(offset >= 0 && size_t(offset) <= buffer.size(), (cls + ".GetPixels - Offset out of Bounds").c_str());
  const int32_t bpp = BytesPerPixel();
  count = std::min(count, width_ - x);
  KAV_ASSERT_MSG(int64_t(count) * bpp <= int64_t(buffer.size()) - offset,
                 (cls + ".GetPixels - Not Enought Pixel Buffer Space").c_str());
  if (count <= 0) return 0;
  // The source row once, then each view pixel picks its source column.
  const int32_t sy = SourceY(y);
  scratch_.resize(size_t(source_->Width()) * size_t(bpp));
  source_->GetPixels(0, sy, source_->Width(), scratch_, 0);
  uint8_t* out = buffer.data() + offset;
  for (int32_t i = 0; i < count; ++i)
    std::memcpy(out + size_t(i) * size_t(bpp), scratch_.data() + size_t(SourceX(x + i)) * size_t(bpp), size_t(bpp));
  return count * bpp;
}

template <class T>
static int32_t Typed(TTileBitmap* b, int32_t x, int32_t y, int32_t count, std::span<T> buffer, int32_t offset) {
  if (b->BytesPerPixel() != int32_t(sizeof(T)) || offset < 0 || size_t(offset) > buffer.size()) return 0;
  auto bytes = std::as_writable_bytes(buffer);
  return b->GetPixels(x, y, count, std::span<uint8_t>(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()),
                      offset * int32_t(sizeof(T)));
}

int32_t TTileBitmap::GetPixels8(int32_t x, int32_t y, int32_t c, std::span<uint8_t> b, int32_t o) {
  return Typed(this, x, y, c, b, o);
}
int32_t TTileBitmap::GetPixels16(int32_t x, int32_t y, int32_t c, std::span<uint16_t> b, int32_t o) {
  return Typed(this, x, y, c, b, o);
}
int32_t TTileBitmap::GetPixels24(int32_t x, int32_t y, int32_t c, std::span<TRGBTriple> b, int32_t o) {
  return Typed(this, x, y, c, b, o);
}
int32_t TTileBitmap::GetPixels32(int32_t x, int32_t y, int32_t c, std::span<uint32_t> b, int32_t o) {
  return Typed(this, x, y, c, b, o);
}

}  // namespace kav
