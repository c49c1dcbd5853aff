#include "VoRav/Graphics/SysImage.h"

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/vxImageHook.h"

namespace kav {

namespace {

// Sees a bitmap's progress answers while an operation runs on it and puts
// the bitmap's own handler back afterwards.
class TWatchedProgress {
 public:
  explicit TWatchedProgress(TBitmap* bitmap) : bitmap_(bitmap), inner_(bitmap->OnProgress()) {
    bitmap_->SetOnProgress(TProgressHandler::Bind<&TWatchedProgress::OnProgress>(this));
  }
  ~TWatchedProgress() { bitmap_->SetOnProgress(inner_); }
  TWatchedProgress(const TWatchedProgress&) = delete;
  TWatchedProgress& operator=(const TWatchedProgress&) = delete;
  bool Stopped() const noexcept { return stopped_; }

 private:
  bool OnProgress(float fraction) {
    const bool go_on = !inner_ || inner_(fraction);
    if (!go_on) stopped_ = true;
    return go_on;
  }
  TBitmap* bitmap_;
  TProgressHandler inner_;
  bool stopped_ = false;
};

[[noreturn]] void RaiseAborted() { throw EAbort("Loading aborted"); }

// The level's bitmap as an owned TSysBitmap in the working format.
TSysBitmap* SetLevelBitmapConverted(TSysBitmapStore* store, TLevelBitmap& level) {
  KAV_ASSERT(level.Bitmap != nullptr);
  TPixelFormat* format = store->WorkingFormat();
  TSysBitmap* sys = AsSysBitmap(level.Bitmap.get());
  if (sys && level.Owned && sys->PixelFormat() == format) return sys;
  TProgressHandler handler = store->OnProgress();
  Ref<TBitmap> copy = NewBitmap(level.Bitmap->Width(), level.Bitmap->Height(), format, {}, nullptr,
                                &TSysBitmap::kClass);
  KAV_ASSERT(copy && AsSysBitmap(copy.get()));
  {
    copy->SetOnProgress(handler);
    TWatchedProgress watch(copy.get());
    AsSysBitmap(copy.get())->CopyFrom(level.Bitmap.get());
    if (watch.Stopped()) RaiseAborted();
  }
  SetLevelBitmap(level, copy);
  return AsSysBitmap(level.Bitmap.get());
}

using TRotate90Proc = bool (*)(TSysBitmap*, TSysBitmap*);

void RotateLevel90(TSysBitmapStore* store, TLevelBitmap& level, TRotate90Proc proc24, TRotate90Proc proc32) {
  TSysBitmap* source = SetLevelBitmapConverted(store, level);
  Ref<TSysBitmap> turned = CreateSysBitmap(source->Height(), source->Width(), store->WorkingFormat());
  KAV_ASSERT(turned != nullptr);
  turned->SetOnProgress(store->OnProgress());
  {
    TWatchedProgress watch(source);
    const bool done = source->BytesPerPixel() == 4 ? proc32(source, turned.get()) : proc24(source, turned.get());
    if (!done || watch.Stopped()) RaiseAborted();
  }
  SetLevelBitmap(level, turned);
}

}  // namespace

void SetLevelBitmap(TLevelBitmap& level, Ref<TBitmap> bitmap) {
  level.Bitmap = std::move(bitmap);
  level.Owned = true;
}

// --- TSysBitmapStore ---

TSysBitmapStore::TSysBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback,
                                 TPixelFormat* format, TSize size) {
  params_.Name = name;
  params_.Width = size.cx;
  params_.Height = size.cy;
  params_.PixelFormat = format;
  if (params_callback) level_filter_ = params_callback(params_);
}

TPixelFormat* TSysBitmapStore::WorkingFormat() const noexcept {
  const TStdPixelFormats& f = StdFormats();
  return params_.PixelFormat && params_.PixelFormat->HasAlpha() ? f.A8R8G8B8 : f.R8G8B8;
}

TBitmap* TSysBitmapStore::Matches(TBitmap* bitmap, const TBitmapClass* cls, TPixelFormat* format) {
  if (cls && bitmap->InheritsFrom(&TSysDirectWrapper::kClass) && TDirectBitmap::kClass.InheritsFrom(cls)) {
    TDirectBitmap* direct = static_cast<TSysDirectWrapper*>(bitmap)->Direct();
    if (direct && (!format || direct->PixelFormat() == format) && direct->InheritsFrom(cls)) return direct;
    return nullptr;
  }
  return TBitmapStore::Matches(bitmap, cls, format);
}

void TSysBitmapStore::GetMipLevel(int32_t level, TPixelFormat* format, TLevelBitmap& out, const TBitmapClass* cls) {
  KAV_ASSERT_MSG(level >= 0, "TSysBitmapStore.GetMipLevel - Index<0");
  LoadMipLevel(level, out);
  if (out.Bitmap) {
    out.Bitmap->SetOnProgress(on_progress_);
    if (level_filter_) {
      level_filter_(this, out);
      if (out.Bitmap) out.Bitmap->SetOnProgress(on_progress_);
    }
    return;
  }
  KAV_ASSERT(level >= 1);
  TPixelFormat* work = WorkingFormat();
  Ref<TBitmap> upper = TBitmapStore::GetMipLevel(level - 1, work, &TSysBitmap::kClass);
  TSysBitmap* source = AsSysBitmap(upper.get());
  KAV_ASSERT(source != nullptr);
  const int32_t w = (source->Width() + 1) / 2, h = (source->Height() + 1) / 2;
  Ref<TSysBitmap> dest;
  if (cls && cls != &TSysBitmap::kClass && cls->InheritsFrom(&TSysBitmap::kClass) && (!format || format == work)) {
    Ref<TBitmap> b = NewBitmap(w, h, work, {}, nullptr, cls);
    if (TSysBitmap* s = AsSysBitmap(b.get())) dest = Ref<TSysBitmap>(s);
  } else {
    dest = CreateSysBitmap(w, h, work);
  }
  KAV_ASSERT(dest != nullptr);
  dest->SetOnProgress(on_progress_);
  bool done = false;
  if (work->BytesPerPixel() == 3) done = HalveBitmap24(source, dest.get());
  else if (work->BytesPerPixel() == 4) done = HalveBitmap32(source, dest.get());
  else KAV_ASSERT_FAIL("Assertion failure");
  if (!done) RaiseAborted();
  out.Bitmap = dest;
  out.Owned = true;
  out.Level = level;
}

// --- TWrapperBitmapStore ---

TWrapperBitmapStore::TWrapperBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback,
                                         bool owns, TBitmap* bitmap)
    : TSysBitmapStore(name, params_callback, bitmap ? bitmap->PixelFormat() : nullptr,
                      bitmap ? bitmap->Size() : TSize{}),
      bitmap_(bitmap),
      owns_(owns) {
  KAV_ASSERT(bitmap != nullptr);
}

void TWrapperBitmapStore::LoadMipLevel(int32_t level, TLevelBitmap& out) {
  if (level != 0) return;
  out.Bitmap = Ref<TBitmap>(bitmap_);
  out.Level = 0;
}

void TWrapperBitmapStore::Dispose() {
  TSysBitmapStore::Dispose();
  if (owns_) RefRelease(std::exchange(bitmap_, nullptr));
}

// --- images from bitmaps ---

Ref<TImage> ImageFromBitmap(TBitmap* bitmap, bool owns, const std::u16string& name) {
  if (!bitmap) return nullptr;
  // From here on `held` carries one reference the new store takes over.
  Ref<TBitmap> held = owns ? Ref<TBitmap>::Adopt(bitmap) : Ref<TBitmap>(bitmap);
  if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap)) {
    held.release();
    held = Ref<TBitmap>::Adopt(new TSysDirectWrapper(direct, true));
  } else if (!AsSysBitmap(bitmap)) {
    Ref<TBitmap> copy = NewBitmap(bitmap->Width(), bitmap->Height(), bitmap->PixelFormat(), {}, bitmap,
                                  &TSysBitmap::kClass);
    KAV_ASSERT(copy && AsSysBitmap(copy.get()));
    held = copy;
  }
  Ref<TWrapperBitmapStore> store = MakeRef<TWrapperBitmapStore>(name, TImageParamsCallback(), true, held.release());
  return MakeRef<TImage>(store.get());
}

// --- orientation filters ---

void RotateLevel180(TSysBitmapStore* store, TLevelBitmap& level) {
  TSysBitmap* b = SetLevelBitmapConverted(store, level);
  TWatchedProgress watch(b);
  const bool done = b->BytesPerPixel() == 4 ? RotateBitmap180Bpp32(b) : RotateBitmap180Bpp24(b);
  if (!done || watch.Stopped()) RaiseAborted();
}

void RotateLevel90CW(TSysBitmapStore* store, TLevelBitmap& level) {
  RotateLevel90(store, level, &RotateBitmap90CWBpp24, &RotateBitmap90CWBpp32);
}

void RotateLevel90CCW(TSysBitmapStore* store, TLevelBitmap& level) {
  RotateLevel90(store, level, &RotateBitmap90CCWBpp24, &RotateBitmap90CCWBpp32);
}

}  // namespace kav
