#include "VoRav/Graphics/vxImage.h"

#include <string>

namespace kav {

namespace {

// Passes progress on to the store's handler and remembers a stop, so that a
// copy cut short is recognised and not cached.
struct TProgressWatch {
  const TProgressHandler* inner;
  bool stopped = false;
  bool OnProgress(float fraction) {
    const bool go_on = !*inner || (*inner)(fraction);
    if (!go_on) stopped = true;
    return go_on;
  }
};

// Holds the store's lock for a scope.
using TStoreLock = TLockScope<TSafeCriticalSection>;

}  // namespace

TBitmapStore::TBitmapStore() : lock_(MakeRef<TSafeCriticalSection>()) {}

void TBitmapStore::Dispose() {
  levels_.clear();
  if (notify_list_) {
    notify_list_->FreeAllDetached();
    notify_list_ = nullptr;
  }
  color_profile_ = nullptr;
  TRefObject::Dispose();
}

TList* TBitmapStore::GetNotifyList() {
  TStoreLock hold(lock_.get());
  if (!notify_list_) notify_list_ = MakeRef<TList>();
  return notify_list_.get();
}

int32_t TBitmapStore::CachedCount(int32_t level) {
  TStoreLock hold(lock_.get());
  return level >= 0 && size_t(level) < levels_.size() ? int32_t(levels_[size_t(level)].size()) : 0;
}

bool TBitmapStore::ReleaseLevel(int32_t level) {
  if (!CanProduceAgain()) return false;
  TStoreLock hold(lock_.get());
  if (level < 0 || size_t(level) >= levels_.size() || levels_[size_t(level)].empty()) return false;
  levels_[size_t(level)].clear();
  return true;
}

Ref<TLevelRowReader> TBitmapStore::OpenLevelRows(int32_t level) {
  if (level < 0) return nullptr;
  TStoreLock hold(lock_.get());
  if (size_t(level) < levels_.size() && !levels_[size_t(level)].empty()) return nullptr;
  return MakeLevelRows(level);
}

void TBitmapStore::TrimSource() {
  TStoreLock hold(lock_.get());
  DropSource();
}

TBitmap* TBitmapStore::Matches(TBitmap* bitmap, const TBitmapClass* cls, TPixelFormat* format) {
  if (format && bitmap->PixelFormat() != format) return nullptr;
  return bitmap->InheritsFrom(cls) ? bitmap : nullptr;
}

Ref<TBitmap> TBitmapStore::GetMipLevel(int32_t level, TPixelFormat* format, const TBitmapClass* cls) {
  KAV_ASSERT_MSG(level >= 0, "TSysBitmapStore.GetMipLevel - Index<0");
  TStoreLock hold(lock_.get());
  if (levels_.size() <= size_t(level)) {
    size_t capacity = levels_.capacity() < 4 ? 4 : levels_.capacity();
    while (capacity <= size_t(level)) capacity *= 2;
    levels_.reserve(capacity);
    levels_.resize(size_t(level) + 1);
  }
  for (const Ref<TBitmap>& b : levels_[size_t(level)])
    if (TBitmap* m = Matches(b.get(), cls, format)) return Ref<TBitmap>(m);

  if (levels_[size_t(level)].empty()) {
    TLevelBitmap made;
    made.Level = level;
    GetMipLevel(level, format, made, cls);
    if (!made.Bitmap)
      KAV_ASSERT_FAIL("'" + ClassName() + ".GetMipLevel(" + std::to_string(level) + ")' Not Assigned");
    KAV_ASSERT_MSG(made.Level == level, "Incorrect MipLevelIndex");
    // Production may have grown the table (levels below are made first).
    levels_[size_t(level)].push_back(made.Bitmap);
    if (TBitmap* m = Matches(made.Bitmap.get(), cls, format)) return Ref<TBitmap>(m);
  }

  Ref<TBitmap> first = levels_[size_t(level)].front();
  TPixelFormat* copy_format = format ? format : first->PixelFormat();
  KAV_ASSERT_MSG(copy_format != nullptr, "vxBitmap.DefBitmapClass Not Assigned");
  TProgressWatch watch{&on_progress_};
  const TProgressHandler watch_handler = TProgressHandler::Bind<&TProgressWatch::OnProgress>(&watch);
  Ref<TBitmap> copy = first->CreateSimilar(copy_format, cls, &watch_handler);
  KAV_ASSERT_MSG(copy != nullptr, "Invalid Combination Of Bitmap Parameters");
  copy->SetOnProgress(on_progress_);
  if (watch.stopped) throw EAbort("Loading aborted");
  levels_[size_t(level)].push_back(copy);
  return copy;
}

int32_t MipLevelIndexForSize(TSize size, int32_t width, int32_t height) {
  KAV_ASSERT(width >= 1 && height >= 1);
  int64_t w = size.cx, h = size.cy;
  int32_t level = -1;
  while (width < w && height < h) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    ++level;
  }
  return level > 0 ? level : 0;
}

// --- TImage ---

TImage::TImage(TBitmapStore* store) {
  KAV_ASSERT(store != nullptr);
  store_ = Ref<TBitmapStore>(store);
  params_ = store->Params();
}

Ref<TImage> TImage::Clone() { return MakeRef<TImage>(store_.get()); }

TList* TImage::GetNotifyList() {
  if (!notify_list_) notify_list_ = MakeRef<TList>();
  return notify_list_.get();
}

void TImage::Dispose() {
  store_ = nullptr;
  if (notify_list_) {
    notify_list_->FreeAllDetached();
    notify_list_ = nullptr;
  }
  TRefObject::Dispose();
}

}  // namespace kav
