#include "VoRav/Graphics/vxBitmap.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelConverters.h"

namespace kav {

namespace {

// The chain starts with the DIB factory, which hands what it does not serve
// to the system-bitmap factory, which hands requests for direct bitmaps on
// to DirectBitmapFactory.
std::atomic<TBitmapFactoryProc> g_factory{&DibBitmapFactory};

}  // namespace

const TBitmapClass TBitmap::kClass{"TBitmap", nullptr};
const TBitmapClass TDirectBitmap::kClass{"TDirectBitmap", &TBitmap::kClass};

namespace {
std::atomic<int64_t> g_pixel_limit{kMaxBitmapPixels};
std::atomic<int64_t> g_byte_limit{kMaxBitmapBytes};
}  // namespace

TBitmapSizeLimits BitmapSizeLimits() noexcept {
  return {g_pixel_limit.load(std::memory_order_relaxed), g_byte_limit.load(std::memory_order_relaxed)};
}

TBitmapSizeLimits SetBitmapSizeLimits(TBitmapSizeLimits limits) noexcept {
  const TBitmapSizeLimits previous = BitmapSizeLimits();
  g_pixel_limit.store(std::clamp<int64_t>(limits.Pixels, 1, kMaxBitmapPixels), std::memory_order_relaxed);
  g_byte_limit.store(std::clamp<int64_t>(limits.Bytes, 1, kMaxBitmapBytes), std::memory_order_relaxed);
  return previous;
}

bool BitmapSizeAllowed(int64_t width, int64_t height, int64_t bytes_per_pixel) noexcept {
  if (width < 1 || height < 1 || bytes_per_pixel < 1) return false;
  const TBitmapSizeLimits limits = BitmapSizeLimits();
  if (width > limits.Pixels || height > limits.Pixels) return false;
  const int64_t pixels = width * height;
  return pixels <= limits.Pixels && pixels <= limits.Bytes / bytes_per_pixel;
}

void CheckBitmapSize(int64_t width, int64_t height, int64_t bytes_per_pixel) {
  if (!BitmapSizeAllowed(width, height, bytes_per_pixel))
    throw EOutOfMemory(FormatAnsi("Bitmap size %lld x %lld exceeds the limit", static_cast<long long>(width),
                                  static_cast<long long>(height)));
}

TBitmap::TBitmap(int32_t width, int32_t height, TPixelFormat* format)
    : width_(width), height_(height), format_(format) {
  KAV_ASSERT(format != nullptr);
}

bool TBitmap::NotifyProgress(float fraction) { return on_progress_ ? on_progress_(fraction) : true; }

Ref<TBitmap> TBitmap::CreateCopy() { return CreateSimilar(nullptr, ClassType(), nullptr); }

Ref<TBitmap> TBitmap::CreateSimilar(TPixelFormat* format, const TBitmapClass* cls, const TProgressHandler* handler) {
  return NewBitmap(width_, height_, format ? format : format_, handler ? *handler : on_progress_, this, cls);
}

TDirectBitmap::TDirectBitmap(int32_t width, int32_t height, TPixelFormat* format)
    : TBitmap(width, height, format) {
  KAV_ASSERT(width >= 1);
  KAV_ASSERT(height >= 1);
  CheckBitmapSize(width, height, format->BytesPerPixel());
  stride_ = width * format->BytesPerPixel();
  pixels_ = new uint8_t[size_t(stride_) * size_t(height)]();
}

TDirectBitmap::~TDirectBitmap() { delete[] pixels_; }

int32_t TDirectBitmap::GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    KAV_ASSERT_FAIL(ClassName() + ".GetPixels (X,Y) out of Bitmap.Size");
  if (offset < 0) KAV_ASSERT_FAIL(ClassName() + ".GetPixels - Offset out of Bounds");
  const int32_t n = std::min(count, width_ - x);
  if (n <= 0) return 0;
  const int64_t bytes = int64_t(n) * BytesPerPixel();
  if (int64_t(offset) + bytes > int64_t(buffer.size()))
    KAV_ASSERT_FAIL(ClassName() + ".GetPixels - Not Enought Pixel Buffer Space");
  std::memmove(buffer.data() + offset, PixelAddress(x, y), size_t(bytes));
  return int32_t(bytes);
}

template <class T>
int32_t TDirectBitmap::GetTyped(int32_t bpp, const char* name, int32_t x, int32_t y, int32_t count,
                                std::span<T> buffer, int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == bpp);
  if (x < 0 || y < 0 || count < 0 || int64_t(x) + count > width_ || y >= height_)
    KAV_ASSERT_FAIL(ClassName() + "." + name + " out of Bitmap.Size");
  if (offset < 0 || int64_t(offset) + count > int64_t(buffer.size()))
    KAV_ASSERT_FAIL(ClassName() + "." + name + " - Out of Pixel Buffer Bounds");
  if (count > 0) std::memmove(buffer.data() + offset, PixelAddress(x, y), size_t(count) * size_t(bpp));
  return count * bpp;
}

int32_t TDirectBitmap::GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) {
  return GetTyped(1, "GetPixels8", x, y, count, buffer, offset);
}
int32_t TDirectBitmap::GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer, int32_t offset) {
  return GetTyped(2, "GetPixels16", x, y, count, buffer, offset);
}
int32_t TDirectBitmap::GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer,
                                   int32_t offset) {
  return GetTyped(3, "GetPixels24", x, y, count, buffer, offset);
}
int32_t TDirectBitmap::GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer, int32_t offset) {
  return GetTyped(4, "GetPixels32", x, y, count, buffer, offset);
}

void TDirectBitmap::CopyRect(const TRect& dest, TBitmap* source, TPoint source_point) {
  KAV_ASSERT(source != nullptr);
  int32_t dx, dy, sx, sy, w, h;
  if (!ClipCopyRect(dest, source_point, Size(), source->Size(), dx, dy, sx, sy, w, h)) return;
  const int32_t bpp = BytesPerPixel();
  if (source->PixelFormat() == format_) {
    for (int32_t i = 0; i < h; ++i)
      source->GetPixels(sx, sy + i, w, std::span<uint8_t>(Row(dy + i), size_t(stride_)), dx * bpp);
    return;
  }
  const TPixelConverter* conv = GetPixelConverter(format_, source->PixelFormat());
  std::vector<uint8_t> buf(size_t(w) * size_t(source->BytesPerPixel()));
  for (int32_t i = 0; i < h; ++i) {
    source->GetPixels(sx, sy + i, w, buf, 0);
    conv->Convert(PixelAddress(dx, dy + i), buf.data(), w);
  }
}

void TDirectBitmap::CopyFrom(TBitmap* source) {
  CopyRect(TRect{0, 0, source->Width(), source->Height()}, source, TPoint{0, 0});
}

void TDirectBitmap::FillRect(const TRect& rect, TColor32 color) {
  TRect r;
  if (!IntersectRect(r, rect, TRect{0, 0, width_, height_})) return;
  const int32_t bpp = BytesPerPixel();
  uint8_t pixel[64] = {};
  if (bpp == 1) {
    pixel[0] = uint8_t((ColorBlue(color) + ColorGreen(color) + ColorRed(color)) / 3);
  } else {
    // Written in the format's own layout, so 5-6-5 and 5-5-5 formats (and
    // the byte orders of the 24- and 32-bit ones, converted too) get the right channels.
    uint8_t src[4];
    std::memcpy(src, &color, 4);
    GetPixelConverter(format_, StdFormats().A8R8G8B8)->Convert(pixel, src, 1);
  }
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    uint8_t* p = PixelAddress(r.Left, y);
    for (int32_t x = r.Left; x < r.Right; ++x, p += bpp) std::memcpy(p, pixel, size_t(bpp));
  }
}

namespace {

bool ClipCopy64(int64_t DX, int64_t DY, int64_t SX, int64_t SY, int64_t W, int64_t H, TSize dst, TSize src,
                int32_t& dx, int32_t& dy, int32_t& sx, int32_t& sy, int32_t& w, int32_t& h) {
  auto clip = [](int64_t& pos, int64_t& other, int64_t& len, int64_t limit) {
    if (pos < 0) {
      other -= pos;
      len += pos;
      pos = 0;
    }
    if (pos + len > limit) len = limit - pos;
  };
  clip(DX, SX, W, dst.cx);
  clip(DY, SY, H, dst.cy);
  clip(SX, DX, W, src.cx);
  clip(SY, DY, H, src.cy);
  if (W <= 0 || H <= 0) return false;
  dx = int32_t(DX); dy = int32_t(DY); sx = int32_t(SX); sy = int32_t(SY); w = int32_t(W); h = int32_t(H);
  return true;
}

}  // namespace

bool ClipCopyRect(int32_t& dx, int32_t& dy, int32_t& sx, int32_t& sy, int32_t& w, int32_t& h, TSize dst, TSize src) {
  return ClipCopy64(dx, dy, sx, sy, w, h, dst, src, dx, dy, sx, sy, w, h);
}

bool ClipCopyRect(const TRect& dest, TPoint source_point, TSize dst, TSize src, int32_t& dx, int32_t& dy,
                  int32_t& sx, int32_t& sy, int32_t& w, int32_t& h) {
  return ClipCopy64(dest.Left, dest.Top, source_point.X, source_point.Y, int64_t(dest.Right) - dest.Left,
                    int64_t(dest.Bottom) - dest.Top, dst, src, dx, dy, sx, sy, w, h);
}

TBitmapFactoryProc BitmapFactory() noexcept { return g_factory.load(std::memory_order_acquire); }

TBitmapFactoryProc SetBitmapFactory(TBitmapFactoryProc proc) noexcept {
  return g_factory.exchange(proc, std::memory_order_acq_rel);
}

Ref<TBitmap> NewBitmap(int32_t width, int32_t height, TPixelFormat* format, const TProgressHandler& handler,
                       TBitmap* source, const TBitmapClass* wanted) {
  TBitmapFactoryProc f = BitmapFactory();
  return f ? f(width, height, format, handler, source, wanted) : Ref<TBitmap>();
}

Ref<TBitmap> DirectBitmapFactory(int32_t width, int32_t height, TPixelFormat* format, const TProgressHandler& handler,
                                 TBitmap* source, const TBitmapClass* wanted) {
  if (!TDirectBitmap::kClass.InheritsFrom(wanted)) return nullptr;
  Ref<TDirectBitmap> b = MakeRef<TDirectBitmap>(width, height, format);
  b->SetOnProgress(handler);
  if (source) b->CopyFrom(source);
  return b;
}

}  // namespace kav
