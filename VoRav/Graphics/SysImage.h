// System bitmap stores: stores whose levels come from their own source when
// it has them and are otherwise made by halving the level above with the
// 1-2-1 kernel; the store over one existing bitmap; the orientation filters.
#pragma once

#include <string>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TSysBitmapStore : public TBitmapStore {
 public:
  using TBitmapStore::GetMipLevel;

  // Fills the parameters and runs the callback on them when one is given.
  TSysBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback, TPixelFormat* format,
                  TSize size);

  // A TSysDirectWrapper asked for as a TDirectBitmap (or a class derived
  // from it) answers the direct bitmap it shows when that fits; otherwise the
  // inherited rule.
  TBitmap* Matches(TBitmap* bitmap, const TBitmapClass* cls, TPixelFormat* format) override;

  // "A8R8G8B8" when the store's format has alpha, else "R8G8B8": the format
  // of levels made by halving and of rotated levels.
  TPixelFormat* WorkingFormat() const noexcept;

 protected:
  // Whether levels the source delivers are changed by a level filter (an
  // orientation turns them).
  bool HasLevelFilter() const noexcept { return level_filter_ != nullptr; }
  // Fills `out` with the bitmap of `level` from the store's own source, or
  // leaves it null when the source has no such level. A load stopped by the
  // progress handler raises EAbort rather than answer a partial bitmap.
  virtual void LoadMipLevel(int32_t level, TLevelBitmap& out) = 0;
  // The source's level when it has one (filtered), else the level above
  // halved. A halving stopped by the progress handler raises EAbort.
  void GetMipLevel(int32_t level, TPixelFormat* format, TLevelBitmap& out, const TBitmapClass* cls) override;

 private:
  TLevelFilter level_filter_ = nullptr;
};

// A store over one existing bitmap: level 0 is the bitmap (the cache takes
// its own reference); the other levels are halved from it.
class TWrapperBitmapStore : public TSysBitmapStore {
 public:
  // Asserts a bitmap and takes its format and size. With `owns` the store
  // takes over the caller's reference.
  TWrapperBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback, bool owns,
                      TBitmap* bitmap);

 protected:
  void LoadMipLevel(int32_t level, TLevelBitmap& out) override;
  void Dispose() override;

 private:
  TBitmap* bitmap_;
  bool owns_;
};

// Null for null. A TDirectBitmap is wrapped in a TSysDirectWrapper first; any
// other bitmap that is not a TSysBitmap is copied into a new one of its size
// and format. The answer is an image on a TWrapperBitmapStore owning the
// bitmap. With `owns` the caller's reference to `bitmap` is taken over.
// The image hook of vxImageHook.h answers through it unless replaced.
Ref<TImage> ImageFromBitmap(TBitmap* bitmap, bool owns, const std::u16string& name);

// Replaces the record's bitmap by one the store alone uses (Owned).
void SetLevelBitmap(TLevelBitmap& level, Ref<TBitmap> bitmap);

// Orientation filters: the level becomes a TSysBitmap in the store's working
// format (converted first when it is not one), then is turned by 180 degrees
// in place or replaced by a turned copy of swapped size. Stopped by the
// progress handler they raise EAbort.
void RotateLevel180(TSysBitmapStore* store, TLevelBitmap& level);
void RotateLevel90CW(TSysBitmapStore* store, TLevelBitmap& level);
void RotateLevel90CCW(TSysBitmapStore* store, TLevelBitmap& level);

}  // namespace kav
