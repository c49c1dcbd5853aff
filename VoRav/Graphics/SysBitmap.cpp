#include "VoRav/Graphics/SysBitmap.h"

#include <algorithm>
#include <cstring>

#include "VoRav/Graphics/SysPixelConverters.h"
#include "VoRav/Graphics/SysPixelKernels.h"

namespace kav {

const TBitmapClass TSysBitmap::kClass{"TSysBitmap", &TBitmap::kClass};
const TBitmapClass TRefBitmap::kClass{"TRefBitmap", &TSysBitmap::kClass};
const TBitmapClass TCropBitmap::kClass{"TCropBitmap", &TRefBitmap::kClass};
const TBitmapClass TSysDirectWrapper::kClass{"TSysDirectWrapper", &TSysBitmap::kClass};

namespace {

template <class T>
std::span<uint8_t> Bytes(std::span<T> s) {
  return std::span<uint8_t>(reinterpret_cast<uint8_t*>(s.data()), s.size_bytes());
}

// The format keeps alpha in byte 3 of 4-byte pixels (premultiplication applies).
bool HasAlphaInByte3(const TPixelFormat* f) {
  if (!f->HasAlpha() || f->BytesPerPixel() != 4 || !f->IsByteAligned()) return false;
  const auto& c = f->Components();
  return c.size() == 4 && c[3].Channel == pcAlpha;
}

}  // namespace

TSysBitmap::TSysBitmap(TSize size, std::vector<uint8_t*> rows, TPixelFormat* format)
    : TBitmap(size.cx, size.cy, format), rows_(std::move(rows)) {
  KAV_ASSERT(size.cx >= 0);
  KAV_ASSERT(size.cy >= 0 && rows_.size() == size_t(size.cy));
}

int32_t TSysBitmap::GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || offset < 0 || size_t(offset) > buffer.size()) return 0;
  const int32_t bpp = BytesPerPixel();
  const int64_t room = int64_t(buffer.size() - size_t(offset)) / bpp;
  const int64_t n = std::min<int64_t>({count, room, width_ - x});
  if (n <= 0) return 0;
  std::memmove(buffer.data() + offset, PixelAddress(x, y), size_t(n * bpp));
  return int32_t(n * bpp);
}

int32_t TSysBitmap::GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 1);
  return GetPixels(x, y, count, buffer, offset);
}
int32_t TSysBitmap::GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer, int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 2);
  if (offset < 0) return 0;
  return GetPixels(x, y, count, Bytes(buffer), offset * 2);
}
int32_t TSysBitmap::GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer, int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 3);
  if (offset < 0) return 0;
  return GetPixels(x, y, count, Bytes(buffer), offset * 3);
}
int32_t TSysBitmap::GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer, int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 4);
  if (offset < 0) return 0;
  return GetPixels(x, y, count, Bytes(buffer), offset * 4);
}

void TSysBitmap::CopyRect(const TRect& dest, TBitmap* source, int32_t premultiply, TPoint source_point) {
  if (premultiply != 0 && premultiply != 255 && premultiply != 256)
    KAV_ASSERT_FAIL("Invalid APremultiply parameter Value");
  KAV_ASSERT(source != nullptr);
  int32_t dx, dy, sx, sy, w, h;
  if (!ClipCopyRect(dest, source_point, Size(), source->Size(), dx, dy, sx, sy, w, h)) return;
  if (!HasAlphaInByte3(format_)) premultiply = 0;

  const int32_t bpp = BytesPerPixel();
  const int32_t sbpp = source->BytesPerPixel();
  TSysBitmap* sys_source = AsSysBitmap(source);
  const bool same_format = source->PixelFormat() == format_;
  const TPixelConverter* conv = same_format ? nullptr : GetPixelConverter(format_, source->PixelFormat());
  std::vector<uint8_t> buf;
  if (!sys_source) buf.resize(size_t(w) * size_t(sbpp));

  float done = 0.0f;
  const float step = 1.0f / float(h);
  for (int32_t i = 0; i < h; ++i, done += step) {
    if (!NotifyProgress(done)) return;
    uint8_t* d = PixelAddress(dx, dy + i);
    if (sys_source) {
      const uint8_t* s = sys_source->PixelAddress(sx, sy + i);
      if (same_format) std::memmove(d, s, size_t(w) * size_t(bpp));
      else conv->Convert(d, s, w);
    } else if (same_format) {
      source->GetPixels(sx, sy + i, w, std::span<uint8_t>(d, size_t(w) * size_t(bpp)), 0);
    } else {
      source->GetPixels(sx, sy + i, w, buf, 0);
      conv->Convert(d, buf.data(), w);
    }
    if (premultiply == 255) PremultiplyRowExact(d, size_t(w));
    else if (premultiply == 256) PremultiplyRowShift(d, size_t(w));
  }
  NotifyProgress(1.0f);
}

void TSysBitmap::CopyFrom(TBitmap* source) {
  CopyRect(TRect{0, 0, source->Width(), source->Height()}, source, 0, TPoint{0, 0});
}

bool TSysBitmap::FillRect(const TRect& rect, TColor32 color) {
  TRect r;
  if (!IntersectRect(r, rect, TRect{0, 0, width_, height_})) return false;
  const size_t bpp = size_t(BytesPerPixel());
  constexpr size_t kPatternBytes = 3072;
  uint8_t pattern[kPatternBytes + 64];
  uint8_t src[4];
  std::memcpy(src, &color, 4);
  // Converted to the bitmap's own layout for 3- and 4-byte formats too, so every format gets its channels right.
  GetPixelConverter(format_, StdFormats().A8R8G8B8)->Convert(pattern, src, 1);
  // Double the pixel until the pattern covers the row or would pass 3072 bytes.
  const size_t row_bytes = size_t(r.Width()) * bpp;
  size_t filled = bpp;
  while (filled < row_bytes && filled * 2 <= kPatternBytes) {
    std::memcpy(pattern + filled, pattern, filled);
    filled *= 2;
  }
  const size_t piece = std::min(filled, row_bytes);
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    uint8_t* d = PixelAddress(r.Left, y);
    for (size_t done = 0; done < row_bytes; done += piece) std::memcpy(d + done, pattern, std::min(piece, row_bytes - done));
  }
  return NotifyProgress(1.0f);
}

// --- TRefBitmap, TCropBitmap ---

namespace {

struct TClippedRows {
  TSize size;
  std::vector<uint8_t*> rows;
};

TClippedRows ClipRows(const TRect& rect, TSysBitmap* source, const char* class_name) {
  KAV_ASSERT(source != nullptr);
  TRect r;
  if (!IntersectRect(r, rect, TRect{0, 0, source->Width(), source->Height()}))
    KAV_ASSERT_FAIL(std::string(class_name) + ".Create - Bitmap is Empty");
  TClippedRows out{TSize{r.Width(), r.Height()}, {}};
  out.rows.reserve(size_t(r.Height()));
  for (int32_t y = r.Top; y < r.Bottom; ++y) out.rows.push_back(source->PixelAddress(r.Left, y));
  return out;
}

}  // namespace

TRefBitmap::TRefBitmap(TSize size, std::vector<uint8_t*> rows, TBitmap* holder, bool owns, TPixelFormat* format)
    : TSysBitmap(size, std::move(rows), format), holder_(holder), owns_(owns) {}

TRefBitmap::TRefBitmap(const TRect& rect, bool owns, TSysBitmap* source, const char* class_name)
    : TSysBitmap(TSize{}, {}, source ? source->PixelFormat() : nullptr) {
  TClippedRows c = ClipRows(rect, source, class_name);
  width_ = c.size.cx;
  height_ = c.size.cy;
  rows_ = std::move(c.rows);
  holder_ = source;
  owns_ = owns;
}

void TRefBitmap::Dispose() {
  if (owns_) RefRelease(std::exchange(holder_, nullptr));
  TSysBitmap::Dispose();
}

// --- TSysDirectWrapper ---

namespace {

std::vector<uint8_t*> DirectRows(TDirectBitmap* direct) {
  if (!direct) KAV_ASSERT_FAIL("TSysDirectWrapper.Create - Bitmap not Assigned");
  if (direct->Width() < 1 || direct->Height() < 1) KAV_ASSERT_FAIL("TSysDirectWrapper.Create - Bitmap is Empty");
  std::vector<uint8_t*> rows(size_t(direct->Height()));
  for (int32_t y = 0; y < direct->Height(); ++y) rows[size_t(y)] = direct->Row(y);
  return rows;
}

}  // namespace

TSysDirectWrapper::TSysDirectWrapper(TDirectBitmap* direct, bool owns)
    : TSysBitmap(direct ? direct->Size() : TSize{}, DirectRows(direct), direct ? direct->PixelFormat() : nullptr),
      direct_(direct),
      owns_(owns) {}

void TSysDirectWrapper::Dispose() {
  if (owns_) RefRelease(std::exchange(direct_, nullptr));
  TSysBitmap::Dispose();
}

// --- factory ---

Ref<TBitmap> SysBitmapFactory(int32_t width, int32_t height, TPixelFormat* format, const TProgressHandler& handler,
                              TBitmap* source, const TBitmapClass* wanted) {
  if (wanted && !TSysDirectWrapper::kClass.InheritsFrom(wanted))
    return DirectBitmapFactory(width, height, format, handler, source, wanted);
  Ref<TDirectBitmap> direct = MakeRef<TDirectBitmap>(width, height, format);
  Ref<TSysDirectWrapper> b = MakeRef<TSysDirectWrapper>(direct.get(), true);
  direct.release();  // the wrapper owns it now
  b->SetOnProgress(handler);
  if (source) b->CopyFrom(source);
  return b;
}

Ref<TSysBitmap> CreateSysBitmap(int32_t width, int32_t height, TPixelFormat* format) {
  Ref<TBitmap> b = NewBitmap(width, height, format, {}, nullptr, &TSysBitmap::kClass);
  if (!b) return nullptr;
  TSysBitmap* s = AsSysBitmap(b.get());
  KAV_ASSERT(s != nullptr);
  b.release();
  return Ref<TSysBitmap>::Adopt(s);
}

}  // namespace kav
