#include "VoRav/Graphics/vxCompoundBitmap.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelConverters.h"
#include "VoRav/Graphics/vxImageHook.h"

namespace kav {

namespace {

std::atomic<TImageFromBitmapProc> g_image_from_bitmap{&ImageFromBitmap};

// random(10) of the run-time library: one shared generator.
int32_t Random10() {
  static std::mutex lock;
  static std::minstd_rand rng(std::random_device{}());
  std::lock_guard<std::mutex> guard(lock);
  return int32_t(rng() % 10);
}

template <class T>
std::span<uint8_t> Bytes(std::span<T> s) {
  return std::span<uint8_t>(reinterpret_cast<uint8_t*>(s.data()), s.size_bytes());
}

}  // namespace

TImageFromBitmapProc ImageFromBitmapHook() noexcept { return g_image_from_bitmap.load(std::memory_order_acquire); }

TImageFromBitmapProc SetImageFromBitmapHook(TImageFromBitmapProc proc) noexcept {
  return g_image_from_bitmap.exchange(proc, std::memory_order_acq_rel);
}

const TBitmapClass TCompoundBitmap::kClass{"TCompoundBitmap", &TBitmap::kClass};

TCompoundBitmap::TCompoundBitmap(int32_t width, int32_t height, TPixelFormat* format)
    : TBitmap(width, height, format) {
  KAV_ASSERT(width >= 1 && height >= 1);
}

int32_t TCompoundBitmap::AddPart(TBitmap* bitmap, bool owns, int32_t left, int32_t top) {
  TCompoundPart p;
  p.Bitmap = bitmap;
  p.Owns = owns;
  p.Left = left;
  p.Top = top;
  parts_.push_back(std::move(p));
  return int32_t(parts_.size()) - 1;
}

TCompoundPart& TCompoundBitmap::Part(int32_t index) {
  KAV_ASSERT(index >= 0 && index < PartCount());
  return parts_[size_t(index)];
}

void TCompoundBitmap::ClearParts() {
  for (TCompoundPart& p : parts_) {
    if (p.Owns) RefRelease(p.Bitmap);
    p.Image = nullptr;
    p = TCompoundPart{};
  }
}

void TCompoundBitmap::Dispose() {
  ClearParts();
  TBitmap::Dispose();
}

TImage* TCompoundBitmap::GetPartPlacement(int32_t index, TPartPlacement& placement) {
  TCompoundPart& p = Part(index);
  if (!p.Image && p.Bitmap)
    if (TImageFromBitmapProc hook = ImageFromBitmapHook()) p.Image = hook(p.Bitmap, false, std::u16string());
  const float w = p.Bitmap ? float(p.Bitmap->Width()) : 0.0f;
  const float h = p.Bitmap ? float(p.Bitmap->Height()) : 0.0f;
  placement = TPartPlacement{};
  placement.X = float(Random10() + p.Left) + w / 2 - 5;
  placement.Y = float(Random10() + p.Top) + h / 2 - 5;
  return p.Image.get();
}

int32_t TCompoundBitmap::GetPixels(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) {
  const int32_t bpp = BytesPerPixel();
  if (y < 0 || y >= height_ || count <= 0 || offset < 0 || size_t(offset) > buffer.size()) return 0;
  // The run [x, end) as far as the buffer holds it.
  const int64_t room = int64_t(buffer.size() - size_t(offset)) / bpp;
  const int64_t end = int64_t(x) + std::min<int64_t>(count, room);
  const int64_t lo = std::max<int64_t>(x, 0), hi = std::min<int64_t>(end, width_);
  std::vector<uint8_t> tmp;
  for (const TCompoundPart& p : parts_) {
    if (!p.Bitmap || y < p.Top || int64_t(y) >= int64_t(p.Top) + p.Bitmap->Height()) continue;
    const int64_t l = std::max<int64_t>(lo, p.Left);
    const int64_t r = std::min<int64_t>(hi, int64_t(p.Left) + p.Bitmap->Width());
    if (l >= r) continue;
    const int32_t n = int32_t(r - l);
    const int32_t px = int32_t(l - p.Left), py = y - p.Top;
    const int32_t at = offset + int32_t(l - x) * bpp;
    if (p.Bitmap->PixelFormat() == format_) {
      p.Bitmap->GetPixels(px, py, n, buffer.subspan(0, size_t(at) + size_t(n) * size_t(bpp)), at);
    } else {
      tmp.assign(size_t(n) * size_t(p.Bitmap->BytesPerPixel()), 0);
      const int32_t got = p.Bitmap->GetPixels(px, py, n, tmp, 0) / p.Bitmap->BytesPerPixel();
      GetPixelConverter(format_, p.Bitmap->PixelFormat())->Convert(buffer.data() + at, tmp.data(), got);
    }
  }
  return int32_t(std::max<int64_t>(end - x, 0)) * bpp;
}

int32_t TCompoundBitmap::GetPixels8(int32_t x, int32_t y, int32_t count, std::span<uint8_t> buffer, int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 1);
  return offset < 0 ? 0 : GetPixels(x, y, count, buffer, offset);
}
int32_t TCompoundBitmap::GetPixels16(int32_t x, int32_t y, int32_t count, std::span<uint16_t> buffer,
                                     int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 2);
  return offset < 0 ? 0 : GetPixels(x, y, count, Bytes(buffer), offset * 2);
}
int32_t TCompoundBitmap::GetPixels24(int32_t x, int32_t y, int32_t count, std::span<TRGBTriple> buffer,
                                     int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 3);
  return offset < 0 ? 0 : GetPixels(x, y, count, Bytes(buffer), offset * 3);
}
int32_t TCompoundBitmap::GetPixels32(int32_t x, int32_t y, int32_t count, std::span<uint32_t> buffer,
                                     int32_t offset) {
  KAV_ASSERT(BytesPerPixel() == 4);
  return offset < 0 ? 0 : GetPixels(x, y, count, Bytes(buffer), offset * 4);
}

}  // namespace kav
