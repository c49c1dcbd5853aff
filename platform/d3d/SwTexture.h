// Textures: 2D textures with a chain of level surfaces, and volume textures.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/d3d/SwSurface.h"

namespace kav {

class TSwBaseTexture : public TRefObject {
 public:
  virtual TSwResourceType Type() const = 0;
  virtual uint32_t GetLevelCount() const = 0;
  TSwPool Pool() const { return pool_; }
  TSwFormat Format() const { return format_; }
  // Managed textures are always resident here: nothing to do.
  void PreLoad() {}

 protected:
  TSwPool pool_ = TSwPool::Managed;
  TSwFormat format_ = TSwFormat::Unknown;
};

// Number of levels of a full chain down to 1x1 (or 1x1x1).
uint32_t SwFullMipCount(uint32_t w, uint32_t h, uint32_t d = 1);

class TSwTexture : public TSwBaseTexture {
 public:
  // `levels` 0 makes the full chain. Render targets (usage) must be in the
  // default pool and have one level. Each level is a zeroed surface.
  // `target_memory` false: a render target's pixels are kept by the
  // device's backend (see TSwSurface::Create).
  static TSwResult Create(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, TSwFormat format,
                          TSwPool pool, TSwVideoMemory* memory, TSwDefaultPoolCounter* counter,
                          Ref<TSwTexture>& out, bool target_memory = true);

  TSwResourceType Type() const override { return TSwResourceType::Texture; }
  uint32_t GetLevelCount() const override { return uint32_t(levels_.size()); }
  uint32_t Usage() const { return usage_; }
  // The same surface object every time for a level; invalid call past the chain.
  TSwResult GetSurfaceLevel(uint32_t level, Ref<TSwSurface>& out) const;
  TSwResult GetLevelDesc(uint32_t level, TSwSurfaceDesc& out) const;
  TSwResult LockRect(uint32_t level, TSwLockedRect& out, const TSwRect* rect, uint32_t flags);
  TSwResult UnlockRect(uint32_t level);

  // For the rasteriser.
  TSwSurface* Level(uint32_t level) const { return levels_[level].get(); }

 private:
  TSwTexture() = default;
  uint32_t usage_ = 0;
  std::vector<Ref<TSwSurface>> levels_;
};

struct TSwVolumeDesc {
  TSwFormat Format = TSwFormat::Unknown;
  uint32_t Width = 0, Height = 0, Depth = 0;
};

class TSwVolumeTexture : public TSwBaseTexture {
 public:
  // Sizes from 1 to 256 per axis; `levels` 0 makes the full chain.
  static TSwResult Create(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels, TSwFormat format,
                          TSwPool pool, TSwVideoMemory* memory, TSwDefaultPoolCounter* counter,
                          Ref<TSwVolumeTexture>& out);

  TSwResourceType Type() const override { return TSwResourceType::VolumeTexture; }
  uint32_t GetLevelCount() const override { return uint32_t(levels_.size()); }
  TSwResult GetLevelDesc(uint32_t level, TSwVolumeDesc& out) const;
  // Hands out the first byte of `box` (null: the whole level), the row pitch
  // and the slice pitch. Same rules as TSwSurface::LockRect.
  TSwResult LockBox(uint32_t level, TSwLockedBox& out, const TSwBox* box, uint32_t flags);
  TSwResult UnlockBox(uint32_t level);

  struct TLevel {
    TSwVolumeDesc Desc;
    int32_t RowPitch = 0, SlicePitch = 0;
    Ref<TSwMemoryBlock> Block;
    std::atomic<bool> Locked{false};
    std::atomic<uint32_t> Writes{0};  // locks and unlocks, as TSwSurface::Writes
  };
  const TLevel& Level(uint32_t level) const { return *levels_[level]; }

 private:
  TSwVolumeTexture() = default;
  std::vector<std::unique_ptr<TLevel>> levels_;
};

}  // namespace kav
