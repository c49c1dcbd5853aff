#include "platform/d3d/SwTexture.h"

#include <algorithm>
#include <memory>

namespace kav {

uint32_t SwFullMipCount(uint32_t w, uint32_t h, uint32_t d) {
  uint32_t m = std::max({w, h, d, 1u});
  uint32_t n = 1;
  while (m > 1) { m >>= 1; ++n; }
  return n;
}

TSwResult TSwTexture::Create(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, TSwFormat format,
                             TSwPool pool, TSwVideoMemory* memory, TSwDefaultPoolCounter* counter,
                             Ref<TSwTexture>& out, bool target_memory) {
  out = nullptr;
  if (!SwIsColorFormat(format) || width == 0 || height == 0 || width > kSwMaxSurfaceSize ||
      height > kSwMaxSurfaceSize)
    return TSwResult::InvalidCall;
  uint32_t full = SwFullMipCount(width, height);
  if (levels == 0) levels = full;
  if (levels > full) return TSwResult::InvalidCall;
  if (usage & SwUsageRenderTarget) {
    if (pool != TSwPool::Default || levels != 1) return TSwResult::InvalidCall;
    if (format != TSwFormat::A8R8G8B8 && format != TSwFormat::X8R8G8B8) return TSwResult::NotAvailable;
  }
  Ref<TSwTexture> t = Ref<TSwTexture>::Adopt(new TSwTexture());
  t->pool_ = pool;
  t->format_ = format;
  t->usage_ = usage;
  for (uint32_t i = 0; i < levels; ++i) {
    TSwSurfaceDesc d{format, pool, usage, std::max(1u, width >> i), std::max(1u, height >> i)};
    Ref<TSwSurface> s;
    TSwResult r = TSwSurface::Create(d, memory, counter, s, target_memory);
    if (!SwOk(r)) return r;
    t->levels_.push_back(std::move(s));
  }
  out = std::move(t);
  return TSwResult::Ok;
}

TSwResult TSwTexture::GetSurfaceLevel(uint32_t level, Ref<TSwSurface>& out) const {
  out = nullptr;
  if (level >= levels_.size()) return TSwResult::InvalidCall;
  out = levels_[level];
  return TSwResult::Ok;
}

TSwResult TSwTexture::GetLevelDesc(uint32_t level, TSwSurfaceDesc& out) const {
  if (level >= levels_.size()) return TSwResult::InvalidCall;
  out = levels_[level]->GetDesc();
  return TSwResult::Ok;
}

TSwResult TSwTexture::LockRect(uint32_t level, TSwLockedRect& out, const TSwRect* rect, uint32_t flags) {
  out = TSwLockedRect{};
  if (level >= levels_.size()) return TSwResult::InvalidCall;
  return levels_[level]->LockRect(out, rect, flags);
}

TSwResult TSwTexture::UnlockRect(uint32_t level) {
  if (level >= levels_.size()) return TSwResult::InvalidCall;
  return levels_[level]->UnlockRect();
}

TSwResult TSwVolumeTexture::Create(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels,
                                   TSwFormat format, TSwPool pool, TSwVideoMemory* memory,
                                   TSwDefaultPoolCounter* counter, Ref<TSwVolumeTexture>& out) {
  out = nullptr;
  constexpr uint32_t kMax = 256;
  int bpp = SwBytesPerPixel(format);
  if (bpp == 0 || width == 0 || height == 0 || depth == 0 || width > kMax || height > kMax || depth > kMax)
    return TSwResult::InvalidCall;
  uint32_t full = SwFullMipCount(width, height, depth);
  if (levels == 0) levels = full;
  if (levels > full) return TSwResult::InvalidCall;
  Ref<TSwVolumeTexture> t = Ref<TSwVolumeTexture>::Adopt(new TSwVolumeTexture());
  t->pool_ = pool;
  t->format_ = format;
  for (uint32_t i = 0; i < levels; ++i) {
    auto lv = std::make_unique<TLevel>();
    lv->Desc = TSwVolumeDesc{format, std::max(1u, width >> i), std::max(1u, height >> i), std::max(1u, depth >> i)};
    lv->RowPitch = int32_t((lv->Desc.Width * uint32_t(bpp) + 3) & ~3u);
    lv->SlicePitch = lv->RowPitch * int32_t(lv->Desc.Height);
    TSwResult r = TSwMemoryBlock::Create(uint64_t(lv->SlicePitch) * lv->Desc.Depth, pool, memory, counter, lv->Block);
    if (!SwOk(r)) return r;
    t->levels_.push_back(std::move(lv));
  }
  out = std::move(t);
  return TSwResult::Ok;
}

TSwResult TSwVolumeTexture::GetLevelDesc(uint32_t level, TSwVolumeDesc& out) const {
  if (level >= levels_.size()) return TSwResult::InvalidCall;
  out = levels_[level]->Desc;
  return TSwResult::Ok;
}

TSwResult TSwVolumeTexture::LockBox(uint32_t level, TSwLockedBox& out, const TSwBox* box, uint32_t /*flags*/) {
  out = TSwLockedBox{};
  if (level >= levels_.size()) return TSwResult::InvalidCall;
  TLevel& lv = *levels_[level];
  TSwBox b = box ? *box
                 : TSwBox{0, 0, int32_t(lv.Desc.Width), int32_t(lv.Desc.Height), 0, int32_t(lv.Desc.Depth)};
  if (b.left < 0 || b.top < 0 || b.front < 0 || b.right <= b.left || b.bottom <= b.top || b.back <= b.front ||
      uint32_t(b.right) > lv.Desc.Width || uint32_t(b.bottom) > lv.Desc.Height || uint32_t(b.back) > lv.Desc.Depth)
    return TSwResult::InvalidCall;
  bool expected = false;
  if (!lv.Locked.compare_exchange_strong(expected, true)) return TSwResult::InvalidCall;
  lv.Writes.fetch_add(1);
  out.RowPitch = lv.RowPitch;
  out.SlicePitch = lv.SlicePitch;
  out.Bits = lv.Block->Data() + int64_t(b.front) * lv.SlicePitch + int64_t(b.top) * lv.RowPitch +
             int64_t(b.left) * SwBytesPerPixel(lv.Desc.Format);
  return TSwResult::Ok;
}

TSwResult TSwVolumeTexture::UnlockBox(uint32_t level) {
  if (level >= levels_.size()) return TSwResult::InvalidCall;
  bool expected = true;
  if (!levels_[level]->Locked.compare_exchange_strong(expected, false)) return TSwResult::InvalidCall;
  levels_[level]->Writes.fetch_add(1);
  return TSwResult::Ok;
}

}  // namespace kav
