// A 2D array of pixels: a texture level, a render target, a back buffer or an
// offscreen plain surface.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/d3d/SwMemory.h"

namespace kav {

struct TSwSurfaceDesc {
  TSwFormat Format = TSwFormat::Unknown;
  TSwPool Pool = TSwPool::SystemMem;
  uint32_t Usage = 0;
  uint32_t Width = 0, Height = 0;
};

class TSwSurface : public TRefObject {
 public:
  // Allocates a zeroed surface. Sizes of 0 or above 16384 are invalid calls.
  // `allocate` false: a render target whose pixels the device's backend
  // keeps (Bits() is null; its bytes still count).
  static TSwResult Create(const TSwSurfaceDesc& desc, TSwVideoMemory* memory, TSwDefaultPoolCounter* counter,
                          Ref<TSwSurface>& out, bool allocate = true);

  const TSwSurfaceDesc& GetDesc() const { return desc_; }
  uint32_t Width() const { return desc_.Width; }
  uint32_t Height() const { return desc_.Height; }
  TSwFormat Format() const { return desc_.Format; }

  // Locks `rect` (null: the whole surface) and hands out its first byte and
  // the row pitch. A second lock before the unlock, a rectangle outside the
  // surface, and a default-pool render target (read those through the
  // device's GetRenderTargetData) are invalid calls. Any lock flags are taken.
  TSwResult LockRect(TSwLockedRect& out, const TSwRect* rect, uint32_t flags);
  // Invalid call when the surface is not locked.
  TSwResult UnlockRect();
  bool IsLocked() const { return locked_.load(); }
  // Counts write locks and unlocks: a device keeping a copy of the pixels
  // elsewhere (the GL device) copies them again when it changed.
  uint32_t Writes() const { return writes_.load(); }

  // A device that keeps a copy of the pixels elsewhere (the GL device, in
  // the graphics driver) may have them packed here meanwhile: Pack keeps
  // them in a run-length form and gives their pages back; the next lock, or
  // Unpack, brings them back. Pack does nothing (false) for a surface that
  // is locked, not in the managed pool, small, or whose pixels do not pack
  // to a quarter; nor, from then on, for one written again soon after it
  // was packed (its pixels change too often to be worth it).
  bool Pack();
  // Brings packed pixels back before Bits() is read; false when they were
  // lost (then the pixels read as zeros). Thread-safe with Pack and locks.
  bool Unpack();
  bool Packed() const { return packed_.load(); }

  // Direct access for the device and its rasteriser (no lock needed; a
  // device that packs surfaces calls Unpack first).
  uint8_t* Bits() const { return block_->Data(); }
  int32_t Pitch() const { return pitch_; }
  uint8_t* Row(int32_t y) const { return block_->Data() + int64_t(y) * pitch_; }
  TSwRect Bounds() const { return TSwRect{0, 0, int32_t(desc_.Width), int32_t(desc_.Height)}; }

  // Render targets remember when they hold one stored pixel value
  // everywhere outside a dirty rectangle, so that clearing them to that
  // value again touches only the dirty part. The device keeps this up to
  // date under its lock: draws and copies into the surface widen the dirty
  // rectangle, whole-surface clears reset it.
  struct TUniform {
    bool Known = true;     // a new surface is all zero bytes
    uint32_t Value = 0;    // the stored 32-bit pixel value
    TSwRect Dirty;         // pixels that may differ from Value
  };
  TUniform& Uniform() { return uniform_; }
  void MarkDirty(const TSwRect& r);

 private:
  TSwSurface() = default;
  TSwSurfaceDesc desc_;
  int32_t pitch_ = 0;
  Ref<TSwMemoryBlock> block_;
  std::atomic<bool> locked_{false};
  std::atomic<uint32_t> writes_{0};
  TUniform uniform_;
  bool UnpackHeld();
  std::mutex pack_lock_;  // orders packing with locks and unpacking
  std::atomic<bool> packed_{false};
  bool no_pack_ = false;
  std::chrono::steady_clock::time_point packed_at_{};
  std::vector<uint8_t> pack_;
};

constexpr uint32_t kSwMaxSurfaceSize = 16384;

}  // namespace kav
