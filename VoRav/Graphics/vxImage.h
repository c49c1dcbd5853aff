// Bitmap stores and image handles.
//
// A bitmap store owns a decoded picture's mip levels (level 0 is the full
// picture, each further level half the size of the one before, rounded up)
// and hands out any level in any pixel format and bitmap class, producing
// and caching what is asked for on first use: each level keeps one bitmap
// per distinct (format, class) asked for, until the store is freed. TImage
// is the reference-counted handle through which the rest of the system holds
// a store. Decoders reach the system through the image-loader registry
// (vxImageRegistry.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxLists.h"
#include "VoRav/wpLocks.h"

namespace kav {

class TColorProfile;  // colour management
class TStream;

// One level of a picture in "A8R8G8B8", read top to bottom a band of rows at
// a time: textures can be filled from it without the whole level decoded at
// once.
class TLevelRowReader : public TRefObject {
 public:
  virtual TSize Size() const = 0;
  // Fills rows[0], rows[1], ... with the next min(count, rows left) rows
  // (Size().cx x 4 bytes each). Raises like the store's decoding (EAbort
  // when its progress handler stops the load).
  virtual void ReadRows(uint8_t* const* rows, int32_t count) = 0;
  // Whether ReadRect may be asked for instead: a reader that makes any part
  // of the level on its own (a text renders the glyphs that fall in it), so
  // a very wide level is never held a whole band of rows wide.
  virtual bool ReadsRects() const { return false; }
  // Fills rows[0 .. rect.Height()) with the pixels of `rect` of the level
  // (rect.Width() x 4 bytes each), the same pixels ReadRows gives there;
  // `rect` lies inside Size(). Raises as ReadRows. Only for a reader that
  // ReadsRects.
  virtual void ReadRect(const TRect& rect, uint8_t* const* rows) {
    (void)rect;
    (void)rows;
  }
};

// Opens the stream a store was loaded from again, at the position the load
// started from; null when it cannot.
using TStreamOpener = std::function<Ref<TStream>()>;

struct TImageParams {
  std::u16string Name;
  int32_t Width = 0;
  int32_t Height = 0;
  TPixelFormat* PixelFormat = nullptr;
};

// What a producer answers for one level: the bitmap (null when the source has
// no such level) and the level it belongs to. The record holds a reference;
// Owned says that nobody outside the store uses the bitmap, so filters may
// change it in place (a wrapped bitmap is not owned).
struct TLevelBitmap {
  Ref<TBitmap> Bitmap;
  bool Owned = false;
  int32_t Level = 0;
};

class TSysBitmapStore;

// Runs on every level a store's source delivers (not on levels made by
// halving, which start from a filtered level); may replace the bitmap.
using TLevelFilter = void (*)(TSysBitmapStore* store, TLevelBitmap& level);
// Called once by a store's constructor with its parameters, which it may
// change (an orientation swaps width and height); answers a level filter or
// null.
using TImageParamsCallback = TDelegate<TLevelFilter(TImageParams&)>;

class TBitmapStore : public TRefObject {
 public:
  TBitmapStore();

  // The bitmap of `level` in `format` (any when null) and of class `cls` or
  // one derived from it (any when null), produced and cached on first
  // request; the answer holds its own reference. Runs under the store's
  // re-entrant lock, so concurrent callers wait for one production. A level
  // the producer cannot make fails an assertion; a production stopped by the
  // progress handler raises EAbort and caches nothing.
  Ref<TBitmap> GetMipLevel(int32_t level, TPixelFormat* format = nullptr, const TBitmapClass* cls = nullptr);

  const TImageParams& Params() const noexcept { return params_; }
  int32_t Width() const noexcept { return params_.Width; }
  int32_t Height() const noexcept { return params_.Height; }
  TPixelFormat* PixelFormat() const noexcept { return params_.PixelFormat; }

  // Copied into every bitmap the store produces; set it before asking for
  // levels (a load is aborted by answering false).
  const TProgressHandler& OnProgress() const noexcept { return on_progress_; }
  void SetOnProgress(const TProgressHandler& handler) noexcept { on_progress_ = handler; }

  // The picture's embedded colour profile, or null. Loaders that read one set
  // it; the store holds a reference. Kept as its base class here because
  // colour management sits above the imaging library.
  template <class P = TColorProfile>
  P* ColorProfile() const noexcept { return static_cast<P*>(color_profile_.get()); }
  void SetColorProfile(TRefObject* profile) noexcept { color_profile_ = Ref<TRefObject>(profile); }

  // Created on first request; holds one reference to each TRefObject put in,
  // released with the store.
  TList* GetNotifyList();

  // How many bitmaps level `level` holds now (0 for a level not produced).
  int32_t CachedCount(int32_t level);

  // Whether a level let go by ReleaseLevel can be produced again, with the
  // same pixels, from what the store keeps (its compressed source).
  virtual bool CanProduceAgain() const noexcept { return false; }
  // Lets go of the cached bitmaps of `level` when the store can produce it
  // again: their memory goes once nobody else holds them, and the next
  // request produces the level anew. Answers whether the level was dropped.
  bool ReleaseLevel(int32_t level);

  // A reader of `level` with the pixels GetMipLevel(level, "A8R8G8B8")
  // gives, for a level the store can make a band of rows at a time; null
  // when it cannot, or when the level is made already (that bitmap is the
  // cheaper source).
  Ref<TLevelRowReader> OpenLevelRows(int32_t level);
  // Where the store can read its compressed source again (SetSourceOpener),
  // lets go of the copy it keeps; a level asked for later reads it anew.
  // Call it once the levels in use are held elsewhere (textures).
  void TrimSource();
  // How to read the source again, for a store that keeps its compressed
  // source (JPEG); others ignore it. Set it before levels are asked for.
  virtual void SetSourceOpener(TStreamOpener opener) { (void)opener; }

  // `bitmap` itself when its format is `format` (or none is asked for) and
  // its class is `cls` or derives from it (or none is asked for); else null.
  virtual TBitmap* Matches(TBitmap* bitmap, const TBitmapClass* cls, TPixelFormat* format);

  // Set by a store that decodes its levels on request (JPEG) once its data
  // turned out not to decode at all: its holders put the placeholder in its
  // place. Any thread may ask.
  bool Undecodable() const noexcept { return undecodable_.load(std::memory_order_acquire); }
  void SetUndecodable() noexcept { undecodable_.store(true, std::memory_order_release); }
  // Set on the store of a placeholder that stands in for a picture which
  // could not be shown: its holders show it whole.
  bool IsPlaceholder() const noexcept { return placeholder_.load(std::memory_order_acquire); }
  void SetPlaceholder() noexcept { placeholder_.store(true, std::memory_order_release); }

 protected:
  void Dispose() override;
  // Produces the bitmap of `level` (asked in `format` and `cls`, which the
  // producer may ignore) into `out`. Called under the lock.
  virtual void GetMipLevel(int32_t level, TPixelFormat* format, TLevelBitmap& out, const TBitmapClass* cls) = 0;
  // OpenLevelRows and TrimSource of a store that can; called under the lock.
  virtual Ref<TLevelRowReader> MakeLevelRows(int32_t level) {
    (void)level;
    return nullptr;
  }
  virtual void DropSource() {}
  // The store's re-entrant lock, for producers that work outside GetMipLevel.
  TSafeCriticalSection* StoreLock() const noexcept { return lock_.get(); }

  TImageParams params_;
  TProgressHandler on_progress_;

 private:
  Ref<TSafeCriticalSection> lock_;
  std::vector<std::vector<Ref<TBitmap>>> levels_;
  Ref<TList> notify_list_;
  Ref<TRefObject> color_profile_;
  std::atomic<bool> undecodable_{false};
  std::atomic<bool> placeholder_{false};
};

// The level to use for a requested size: the deepest level whose width and
// height both still exceed the request, or 0. Asserts a request of at least
// 1 x 1.
int32_t MipLevelIndexForSize(TSize size, int32_t width, int32_t height);

class TImage : public TRefObject {
 public:
  // Asserts a store and takes a reference to it.
  explicit TImage(TBitmapStore* store);

  TBitmapStore* Store() const noexcept { return store_.get(); }
  const TImageParams& Params() const noexcept { return params_; }
  int32_t Width() const noexcept { return params_.Width; }
  int32_t Height() const noexcept { return params_.Height; }
  TPixelFormat* PixelFormat() const noexcept { return params_.PixelFormat; }

  // Level 0 with no format and no class asked for: the level's first bitmap.
  Ref<TBitmap> GetBitmap() { return store_->GetMipLevel(0); }
  // A new image on the same store.
  virtual Ref<TImage> Clone();
  // As the store's notify list; released with the image.
  TList* GetNotifyList();

 protected:
  void Dispose() override;

 private:
  Ref<TBitmapStore> store_;
  TImageParams params_;
  Ref<TList> notify_list_;
};

}  // namespace kav
