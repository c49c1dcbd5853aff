#include "platform/d3d/SwSurface.h"

#include <algorithm>

#include "platform/d3d/SwPack.h"

namespace kav {

namespace {
// Surfaces smaller than this are not worth packing.
constexpr uint64_t kPackMinBytes = 64 << 10;
// A surface locked again within this time of being packed is not packed
// again.
constexpr auto kPackCalm = std::chrono::seconds(2);
}  // namespace

TSwResult TSwSurface::Create(const TSwSurfaceDesc& desc, TSwVideoMemory* memory, TSwDefaultPoolCounter* counter,
                             Ref<TSwSurface>& out, bool allocate) {
  out = nullptr;
  int bpp = SwBytesPerPixel(desc.Format);
  if (bpp == 0 || desc.Width == 0 || desc.Height == 0 || desc.Width > kSwMaxSurfaceSize ||
      desc.Height > kSwMaxSurfaceSize)
    return TSwResult::InvalidCall;
  int32_t pitch = int32_t((desc.Width * uint32_t(bpp) + 3) & ~3u);
  Ref<TSwMemoryBlock> block;
  TSwResult r = TSwMemoryBlock::Create(uint64_t(pitch) * desc.Height, desc.Pool, memory, counter, block,
                                       allocate || !(desc.Usage & SwUsageRenderTarget));
  if (!SwOk(r)) return r;
  auto* s = new TSwSurface();
  s->desc_ = desc;
  s->pitch_ = pitch;
  s->block_ = std::move(block);
  out = Ref<TSwSurface>::Adopt(s);
  return TSwResult::Ok;
}

TSwResult TSwSurface::LockRect(TSwLockedRect& out, const TSwRect* rect, uint32_t flags) {
  out = TSwLockedRect{};
  if (desc_.Pool == TSwPool::Default && (desc_.Usage & SwUsageRenderTarget)) return TSwResult::InvalidCall;
  TSwRect r = rect ? *rect : Bounds();
  if (r.left < 0 || r.top < 0 || r.Empty() || uint32_t(r.right) > desc_.Width || uint32_t(r.bottom) > desc_.Height)
    return TSwResult::InvalidCall;
  std::lock_guard<std::mutex> g(pack_lock_);
  bool expected = false;
  if (!locked_.compare_exchange_strong(expected, true)) return TSwResult::InvalidCall;
  if (packed_.load()) {
    // Written again soon after it was packed: keep it as it is from now on.
    if (std::chrono::steady_clock::now() - packed_at_ < kPackCalm) no_pack_ = true;
    if (!UnpackHeld()) {
      locked_.store(false);
      return TSwResult::OutOfMemory;
    }
  }
  if (!(flags & SwLockReadOnly)) {
    uniform_.Known = false;  // the caller may write anything
    writes_.fetch_add(1);
  }
  out.Pitch = pitch_;
  out.Bits = Row(r.top) + int64_t(r.left) * SwBytesPerPixel(desc_.Format);
  return TSwResult::Ok;
}

bool TSwSurface::Pack() {
  std::lock_guard<std::mutex> g(pack_lock_);
  if (packed_.load()) return true;
  if (no_pack_ || locked_.load() || desc_.Pool != TSwPool::Managed || (desc_.Usage & SwUsageRenderTarget) ||
      !block_->Data() || block_->Size() < kPackMinBytes)
    return false;
  // A quarter of the bytes at most: each 4-byte word in one byte.
  const size_t words = size_t(block_->Size() / 4);
  if (!SwPackWords(block_->Data(), words, words, pack_)) {
    pack_ = {};
    return false;
  }
  pack_.shrink_to_fit();
  block_->DropPages();
  packed_at_ = std::chrono::steady_clock::now();
  packed_.store(true);
  return true;
}

bool TSwSurface::Unpack() {
  if (!packed_.load()) return true;
  std::lock_guard<std::mutex> g(pack_lock_);
  return UnpackHeld();
}

bool TSwSurface::UnpackHeld() {
  if (!packed_.load()) return true;
  const bool ok = SwUnpackWords(pack_, block_->Data(), size_t(block_->Size() / 4));
  pack_ = {};
  packed_.store(false);
  return ok;
}

void TSwSurface::MarkDirty(const TSwRect& r) {
  if (r.Empty() || !uniform_.Known) return;
  TSwRect& d = uniform_.Dirty;
  d = d.Empty() ? r
                : TSwRect{std::min(d.left, r.left), std::min(d.top, r.top), std::max(d.right, r.right),
                          std::max(d.bottom, r.bottom)};
}

TSwResult TSwSurface::UnlockRect() {
  bool expected = true;
  if (!locked_.compare_exchange_strong(expected, false)) return TSwResult::InvalidCall;
  writes_.fetch_add(1);
  return TSwResult::Ok;
}

}  // namespace kav
