#include "VoRav/Composite/winSurface.h"

#include <algorithm>
#include <cstring>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Win32/Text/winTextElement.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TRect Intersect(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}

int32_t Cells(int32_t size) { return (size - 1) / TWinSurface::kCellSize + 1; }

}  // namespace

TWinSurface::TWinSurface() : dib_(MakeRef<TFastDIB>()), wrapper_(MakeRef<TWinContextWrapper>()) {
  dib_->SetSize(1, -1, 24);  // top-down rows
  cells_.assign(1, 0);
  wrapper_->Select(this);
}

bool TWinSurface::Resize(int32_t width, int32_t height, bool keep_content) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  int32_t dib_w = dib_->Width(), dib_h = dib_->RowCount();
  bool reuse = width <= dib_w && height <= dib_h && dib_w - width <= kShrinkSlack && dib_h - height <= kShrinkSlack;
  if (!reuse) {
    Ref<TFastDIB> fresh = MakeRef<TFastDIB>();
    fresh->SetSize(width, -height, 24);
    if (keep_content) {
      int32_t rows = std::min(height, dib_h), bytes = std::min(width, dib_w) * 3;
      for (int32_t y = 0; y < rows; ++y) std::memcpy(fresh->Row(y), dib_->Row(y), size_t(bytes));
    }
    dib_ = std::move(fresh);
    if (layered_) {
      Ref<TFastDIB> fresh32 = MakeRef<TFastDIB>();
      fresh32->SetSize(width, -height, 32);
      if (keep_content) {
        int32_t rows = std::min(height, layered_->RowCount()), bytes = std::min(width, layered_->Width()) * 4;
        for (int32_t y = 0; y < rows; ++y) std::memcpy(fresh32->Row(y), layered_->Row(y), size_t(bytes));
      }
      layered_ = std::move(fresh32);
    }
  }
  int32_t old_cols = cell_columns_, old_rows = cell_rows_, old_w = width_, old_h = height_;
  std::vector<uint8_t> old = std::move(cells_);
  width_ = width;
  height_ = height;
  cell_columns_ = Cells(width);
  cell_rows_ = Cells(height);
  cells_.assign(size_t(cell_columns_) * size_t(cell_rows_), 0);
  for (int32_t r = 0; r < std::min(old_rows, cell_rows_); ++r)
    for (int32_t c = 0; c < std::min(old_cols, cell_columns_); ++c)
      cells_[size_t(r) * size_t(cell_columns_) + size_t(c)] = old[size_t(r) * size_t(old_cols) + size_t(c)];
  if (!bounds_.IsEmpty()) {
    bounds_ = Intersect(bounds_, TRect{0, 0, width_, height_});
    if (bounds_.IsEmpty()) bounds_ = kEmptyInvalidRect;
  }
  // A clip that was the whole used area stays the whole area; any other is
  // cut to the new size.
  clip_ = clip_ == TRect{0, 0, old_w, old_h} ? TRect{0, 0, width_, height_} : Intersect(clip_, TRect{0, 0, width_, height_});
  paint_region_ = TRect{0, 0, width_, height_};
  return !clip_.IsEmpty();
}

bool TWinSurface::CellMarked(int32_t column, int32_t row) const {
  if (column < 0 || row < 0 || column >= cell_columns_ || row >= cell_rows_) return false;
  return cells_[size_t(row) * size_t(cell_columns_) + size_t(column)] != 0;
}

int32_t TWinSurface::MarkedCellCount() const {
  return static_cast<int32_t>(std::count(cells_.begin(), cells_.end(), uint8_t(1)));
}

void TWinSurface::MarkRect(const TRect& rect) {
  TRect r = Intersect(rect, TRect{0, 0, width_, height_});
  if (r.IsEmpty()) return;
  for (int32_t row = r.Top / kCellSize; row <= (r.Bottom - 1) / kCellSize; ++row)
    for (int32_t col = r.Left / kCellSize; col <= (r.Right - 1) / kCellSize; ++col)
      cells_[size_t(row) * size_t(cell_columns_) + size_t(col)] = 1;
  if (bounds_.IsEmpty()) bounds_ = r; else UnionRectInPlace(bounds_, r);
}

void TWinSurface::SetNeedsUpdate(bool value) {
  if (value == needs_update_) return;
  needs_update_ = value;
  if (OnChange) OnChange(this);
}

void TWinSurface::SetClipRect(const TRect& rect) { clip_ = Intersect(rect, TRect{0, 0, width_, height_}); }

template <class F>
void TWinSurface::ForMarkedSpans(const TRect& r, F fn) {
  for (int32_t row = r.Top / kCellSize; row <= (r.Bottom - 1) / kCellSize; ++row) {
    const uint8_t* marks = &cells_[size_t(row) * size_t(cell_columns_)];
    int32_t y0 = std::max(r.Top, row * kCellSize), y1 = std::min(r.Bottom, (row + 1) * kCellSize);
    int32_t col = r.Left / kCellSize, last = (r.Right - 1) / kCellSize;
    while (col <= last) {
      if (!marks[col]) {
        ++col;
        continue;
      }
      int32_t start = col;
      while (col <= last && marks[col]) ++col;
      int32_t x0 = std::max(r.Left, start * kCellSize), x1 = std::min(r.Right, col * kCellSize);
      for (int32_t y = y0; y < y1; ++y) fn(y, x0, x1);
    }
  }
}

void TWinSurface::FillRect(const TRect& rect, uint32_t color) {
  uint32_t alpha = color >> 24;
  if (alpha == 0) return;
  TRect r = rect;
  OffsetRect(r, Origin.X, Origin.Y);
  r = Intersect(Intersect(r, clip_), paint_region_);
  if (r.IsEmpty()) return;
  KAV_ASSERT(dib_->BitCount() == 24);
  const int32_t s[3] = {int32_t(color & 0xFF), int32_t((color >> 8) & 0xFF), int32_t((color >> 16) & 0xFF)};
  ForMarkedSpans(r, [&](int32_t y, int32_t x0, int32_t x1) {
    uint8_t* p = dib_->Row(y) + size_t(x0) * 3;
    for (int32_t x = x0; x < x1; ++x, p += 3) {
      if (alpha == 255) {
        p[0] = uint8_t(s[0]);
        p[1] = uint8_t(s[1]);
        p[2] = uint8_t(s[2]);
      } else {
        for (int i = 0; i < 3; ++i) p[i] = uint8_t(p[i] + (((s[i] - int32_t(p[i])) * int32_t(alpha)) >> 8));
      }
    }
    PixelsWritten += x1 - x0;
  });
}

void TWinSurface::FillTiled(const TRect& rect, TBitmap* pattern, TPoint origin) {
  if (!pattern || pattern->Width() < 1 || pattern->Height() < 1 || rect.IsEmpty()) return;
  const int32_t tw = pattern->Width(), th = pattern->Height();
  // Floor division, so a rectangle left of (above) the origin starts on the grid too.
  auto first = [](int32_t edge, int32_t o, int32_t t) {
    int64_t d = int64_t(edge) - o;
    int64_t q = d >= 0 ? d / t : -((-d + t - 1) / t);
    return int64_t(o) + q * t;
  };
  for (int64_t y = first(rect.Top, origin.Y, th); y < rect.Bottom; y += th)
    for (int64_t x = first(rect.Left, origin.X, tw); x < rect.Right; x += tw)
      DrawBitmap(pattern, rect, int32_t(x), int32_t(y));
}

// The source is first brought into one of three formats: "R8G8B8" without
// alpha (copied), straight "A8R8G8B8" (blended like FillRect) or
// premultiplied "A8r8g8b8" (added over the dimmed surface).
void TWinSurface::DrawBitmap(TBitmap* bitmap, const TRect& rect, int32_t x, int32_t y) {
  if (!bitmap || bitmap->Width() < 1 || bitmap->Height() < 1 || !bitmap->PixelFormat()) return;
  TRect r = Intersect(rect, TRect{x, y, x + bitmap->Width(), y + bitmap->Height()});
  OffsetRect(r, Origin.X, Origin.Y);
  r = Intersect(Intersect(r, clip_), paint_region_);
  if (r.IsEmpty()) return;
  KAV_ASSERT(dib_->BitCount() == 24);
  TPixelFormat* format = bitmap->PixelFormat();
  enum { kOpaque, kStraight, kPremultiplied } kind =
      !format->HasAlpha() ? kOpaque : format->IsPremultiplied() ? kPremultiplied : kStraight;
  const char* target = kind == kOpaque ? "R8G8B8" : kind == kStraight ? "A8R8G8B8" : "A8r8g8b8";
  Ref<TBitmap> converted;
  TBitmap* source = bitmap;
  if (format->Name() != target) {
    converted = bitmap->CreateSimilar(PixelFormatByName(target), &TSysBitmap::kClass);
    if (!converted) return;
    source = converted.get();
  }
  const int32_t bx = x + Origin.X, by = y + Origin.Y;  // the bitmap's corner on the surface
  const int32_t bpp = kind == kOpaque ? 3 : 4;
  std::vector<uint8_t> row;
  ForMarkedSpans(r, [&](int32_t sy, int32_t x0, int32_t x1) {
    row.assign(size_t(x1 - x0) * size_t(bpp), 0);
    source->GetPixels(x0 - bx, sy - by, x1 - x0, row, 0);
    uint8_t* p = dib_->Row(sy) + size_t(x0) * 3;
    const uint8_t* q = row.data();
    for (int32_t i = x0; i < x1; ++i, p += 3, q += bpp) {
      const int32_t a = kind == kOpaque ? 255 : q[3];
      for (int k = 0; k < 3; ++k) {
        if (a == 255) p[k] = q[k];
        else if (kind == kStraight) p[k] = uint8_t(p[k] + (((int32_t(q[k]) - int32_t(p[k])) * a) >> 8));
        else p[k] = uint8_t(std::min(255, (int32_t(p[k]) * (255 - a) + 127) / 255 + q[k]));
      }
    }
    PixelsWritten += x1 - x0;
  });
}

void TWinSurface::SetLayered(bool layered) {
  if (layered == (layered_ != nullptr)) return;
  if (!layered) {
    layered_ = nullptr;
    return;
  }
  layered_ = MakeRef<TFastDIB>();
  layered_->SetSize(dib_->Width(), -dib_->RowCount(), 32);
}

void TWinSurface::ConvertLayered() {
  if (!layered_) return;
  KAV_ASSERT(layered_->BitCount() == 32);
  KAV_ASSERT(dib_->BitCount() == 24);
  for (const TRect& r : rects_.Items)
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
      const uint8_t* p = dib_->Row(y) + size_t(r.Left) * 3;
      uint32_t* q = reinterpret_cast<uint32_t*>(layered_->Row(y)) + r.Left;
      for (int32_t x = r.Left; x < r.Right; ++x, p += 3) {
        const uint32_t c = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        *q++ = c == 0xFF00FF ? 0u : 0xFF000000u | c;
      }
    }
}

// The text services draw into 32-bit pixels: the area is copied out, drawn
// on and copied back inside the marked cells only.
void TWinSurface::DrawText(TTextElement* element, TPoint point, const TRect& rect) {
  auto* e = dynamic_cast<TWinTextElement*>(element);
  if (!e) return;
  TRect r = rect;
  OffsetRect(r, Origin.X, Origin.Y);
  r = Intersect(Intersect(r, clip_), paint_region_);
  if (r.IsEmpty()) return;
  KAV_ASSERT(dib_->BitCount() == 24);
  const int32_t w = r.Width(), h = r.Height();
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* p = dib_->Row(r.Top + y) + size_t(r.Left) * 3;
    for (int32_t x = 0; x < w; ++x, p += 3)
      px[size_t(y) * size_t(w) + size_t(x)] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  const ptext::TTextTarget target{reinterpret_cast<uint8_t*>(px.data()), w, h, w * 4};
  e->DrawToDC(TPoint{point.X + Origin.X - r.Left, point.Y + Origin.Y - r.Top}, TRect{0, 0, w, h}, target);
  ForMarkedSpans(r, [&](int32_t y, int32_t x0, int32_t x1) {
    uint8_t* p = dib_->Row(y) + size_t(x0) * 3;
    const uint32_t* q = &px[size_t(y - r.Top) * size_t(w) + size_t(x0 - r.Left)];
    for (int32_t x = x0; x < x1; ++x, p += 3, ++q) {
      p[0] = uint8_t(*q);
      p[1] = uint8_t(*q >> 8);
      p[2] = uint8_t(*q >> 16);
    }
    PixelsWritten += x1 - x0;
  });
}

uint32_t TWinSurface::PixelAt(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* p = dib_->Row(y) + size_t(x) * 3;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

const TRectList& TWinSurface::CollectRects() {
  rects_.Clear();
  if (!bounds_.IsEmpty()) {
    for (int32_t row = 0; row < cell_rows_; ++row) {
      uint8_t* marks = &cells_[size_t(row) * size_t(cell_columns_)];
      int32_t col = 0;
      while (col < cell_columns_) {
        if (!marks[col]) {
          ++col;
          continue;
        }
        int32_t start = col;
        while (col < cell_columns_ && marks[col]) marks[col++] = 0;
        TRect run{start * kCellSize, row * kCellSize, col * kCellSize, (row + 1) * kCellSize};
        rects_.Add(Intersect(run, bounds_));
      }
    }
  }
  std::fill(cells_.begin(), cells_.end(), uint8_t(0));
  bounds_ = kEmptyInvalidRect;
  return rects_;
}

}  // namespace kav
