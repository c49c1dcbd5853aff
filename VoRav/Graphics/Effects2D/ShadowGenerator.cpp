#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {

namespace {

// Rounded and held to the 32-bit range: coordinates from a key may be any
// float, and converting one beyond the range is undefined.
int32_t RoundToInt(double v) {
  if (!(v == v)) return 0;
  return int32_t(std::clamp(std::nearbyint(v), -2147483648.0, 2147483647.0));
}

// A working size the bitmap factory can take: finite, at least one pixel
// after rounding and within the bitmap limits.
void CheckShadowSize(double w, double h) {
  const double rw = std::nearbyint(w), rh = std::nearbyint(h);
  if (!(rw >= 1.0) || !(rh >= 1.0) || rw > 1e9 || rh > 1e9 || !BitmapSizeAllowed(int64_t(rw), int64_t(rh), 4))
    throw Exception("Bad shadow size");
}

// A worker asked to stop makes no shadow: its caller drops the production.
void StopIfAsked() {
  if (CurrentThreadStopRequested()) throw EAbort();
}

// Puts the alpha shape of the picture `name` into `work` (the shadow's
// working bitmap of the reduced size) at the reduced margins.
void PutImageShape(TSysBitmap* work, const TShadowParams& p, float k, int32_t halvings, TFileAccessor* accessor) {
  Ref<TImage> image = LoadImageHandle(accessor, p.ImageName);
  // A level the picture does not have is a broken key, not a failed check.
  int32_t level = p.MipLevel;
  if (level < 0 || level > 30 || (image->Width() >> level) < 1 || (image->Height() >> level) < 1)
    throw Exception("Bad shadow mip level");
  TBitmapStore* store = image->Store();
  // Departure: a level made only for the shape, of a store that can make it
  // again (a long text's is up to 64 MiB), is not kept once the shape is
  // taken: the textures are filled from it a band at a time later.
  struct TLetGo {
    TBitmapStore* Store;
    int32_t Level;
    bool Made;
    ~TLetGo() {
      if (Made) Store->ReleaseLevel(Level);
    }
  } let_go{store, level, store->CanProduceAgain() && store->CachedCount(level) == 0};
  Ref<TBitmap> bitmap = store->GetMipLevel(level, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  TSysBitmap* sys = AsSysBitmap(bitmap.get());
  if (!sys) throw Exception("Bad shadow source");
  TRect crop{RoundToInt(p.Rect.Left), RoundToInt(p.Rect.Top), RoundToInt(p.Rect.Right), RoundToInt(p.Rect.Bottom)};
  // The crop is clipped to the picture; a rectangle wholly outside it leaves
  // the working bitmap without a shape instead of failing.
  crop.Left = std::max(crop.Left, 0);
  crop.Top = std::max(crop.Top, 0);
  crop.Right = std::min(crop.Right, sys->Width());
  crop.Bottom = std::min(crop.Bottom, sys->Height());
  if (crop.Right <= crop.Left || crop.Bottom <= crop.Top) return;
  Ref<TSysBitmap> cropped = MakeRef<TCropBitmap>(crop, false, sys);

  const bool margins = p.Margin.x > 0.0f || p.Margin.y > 0.0f;
  Ref<TSysBitmap> dest(work);
  if (margins) {
    const double dw = (double(p.Rect.Right) - p.Rect.Left) / k, dh = (double(p.Rect.Bottom) - p.Rect.Top) / k;
    CheckShadowSize(dw, dh);
    dest = CreateSysBitmap(RoundToInt(dw), RoundToInt(dh), StdFormats().A8R8G8B8);
  }
  if (halvings == 0) {
    dest->CopyRect(TRect{0, 0, dest->Width(), dest->Height()}, cropped.get(), 0, TPoint{0, 0});
  } else {
    Ref<TSysBitmap> from = cropped;
    for (int32_t i = 1; i < halvings; ++i) {
      StopIfAsked();
      Ref<TSysBitmap> half = CreateSysBitmap(std::max(cropped->Width() >> i, 1), std::max(cropped->Height() >> i, 1),
                                             StdFormats().A8R8G8B8);
      if (!HalveBitmap32(from.get(), half.get())) throw EAbort();
      from = half;
    }
    if (!HalveBitmap32(from.get(), dest.get())) throw EAbort();
  }
  if (margins)
    work->CopyRect(TRect{RoundToInt(p.Margin.x / k), RoundToInt(p.Margin.y / k),
                         RoundToInt(p.Margin.x / k) + dest->Width(), RoundToInt(p.Margin.y / k) + dest->Height()},
                   dest.get(), 0, TPoint{0, 0});
}

}  // namespace

TShadowGenerator::TShadowGenerator(const TResampleProgress& progress)
    : producer_(MakeRef<TShadowProducer>(progress)) {}

void TShadowGenerator::Dispose() {
  producer_.reset();
  TRefObject::Dispose();
}

Ref<TImage> TShadowGenerator::DrawShadow(const TShadowParams& p, TFileAccessor* accessor) {
  StopIfAsked();
  float w = (p.Rect.Right - p.Rect.Left) + 2.0f * p.Margin.x;
  float h = (p.Rect.Bottom - p.Rect.Top) + 2.0f * p.Margin.y;
  CheckShadowSize(w, h);
  const float k = FitShadowSize(w, h);
  const int32_t halvings = int32_t(std::lround(std::log2(k)));
  CheckShadowSize(w, h);
  Ref<TSysBitmap> work = CreateSysBitmap(RoundToInt(w), RoundToInt(h), StdFormats().A8R8G8B8);
  KAV_ASSERT(work);
  work->FillRect(TRect{0, 0, work->Width(), work->Height()}, TColor32(uint32_t(p.FillAlpha & 0xFF) << 24));
  if (p.ImageName == kShadowRectShape) {
    if (p.StartAlpha == 255 && p.EndAlpha == 255) {
      const double mx = p.Margin.x / k, my = p.Margin.y / k;
      work->FillRect(TRect{RoundToInt(mx), RoundToInt(my), RoundToInt(w - mx), RoundToInt(h - my)}, 0xFF000000u);
    } else {
      FillShadowGradient(work.get(), p.StartAlpha, p.EndAlpha, p.Gradient);
    }
  } else {
    PutImageShape(work.get(), p, k, halvings, accessor);
  }
  StopIfAsked();
  Ref<TImage> shape = ImageFromBitmap(work.release(), true, MakeShadowKey(p));
  std::lock_guard<std::mutex> hold(lock_);
  StopIfAsked();  // another thread's shadow may have taken a while
  producer_->Blur = double(p.Blur) / k;
  producer_->Color = 0xFFFFFFFFu;
  producer_->GetCurves().SelectPreset(p.Contour);
  return producer_->MakeShadow(shape.get());
}

Ref<TImage> DrawShadowFromKey(TShadowGenerator* generator, std::u16string_view key, TFileAccessor* accessor) {
  TShadowParams p;
  DrawShadowToBitmap(key, p);
  return generator->DrawShadow(p, accessor);
}

void TShadow::Dispose() {
  image_.reset();
  TRefObject::Dispose();
}

std::u16string TShadow::ImageShadowKey(TImage* image, const std::u16string& name, const TShadowParams& params,
                                       double scale) {
  TShadowParams keyed = params;
  const bool has_alpha = image != nullptr && image->PixelFormat() == StdFormats().A8R8G8B8;
  keyed.ImageName = has_alpha && !name.empty() && !params.RectOnly ? name : std::u16string(kShadowRectShape);
  keyed.Blur = float(double(params.Blur) * scale);
  return MakeShadowKey(keyed);
}

Ref<TShadow> TShadow::FromImageShadow(Ref<TImage> picture, const TShadowParams& params) {
  Ref<TShadow> s = MakeRef<TShadow>();
  s->image_ = std::move(picture);
  s->params_ = params;
  s->params_.ImageName.clear();
  return s;
}

Ref<TShadow> TShadow::CreateForImage(TImage* image, const std::u16string& name, const TShadowParams& params,
                                     TFileAccessor* accessor, double scale) {
  return FromImageShadow(LoadImageHandle(accessor, ImageShadowKey(image, name, params, scale)), params);
}

std::u16string TShadow::RectShadowKey(const TShadowParams& params) {
  TShadowParams keyed = params;
  NormalizeShadowParams(keyed);
  keyed.ImageName = std::u16string(kShadowRectShape);
  const double area = double(keyed.Rect.Right - keyed.Rect.Left) * double(keyed.Rect.Bottom - keyed.Rect.Top);
  keyed.Blur = float(double(keyed.Blur) * std::sqrt(std::max(area, 0.0)) / 400.0);
  return MakeShadowKey(keyed);
}

Ref<TShadow> TShadow::FromRectShadow(Ref<TImage> picture, const TShadowParams& params) {
  Ref<TShadow> s = MakeRef<TShadow>();
  s->params_ = params;
  NormalizeShadowParams(s->params_);
  s->params_.ImageName.clear();
  s->image_ = std::move(picture);
  s->normalised_ = true;
  return s;
}

Ref<TShadow> TShadow::Create(const TShadowParams& params, TFileAccessor* accessor) {
  return FromRectShadow(LoadImageHandle(accessor, RectShadowKey(params)), params);
}

bool TShadow::SameParams(const TShadowParams& params) const {
  TShadowParams p = params;
  if (normalised_) NormalizeShadowParams(p);
  return ShadowParamsEqual(p, params_);
}

std::optional<TShadowQuad> PlaceShadow(const TShadow& shadow, const TVector3& origin, float opacity, double angle,
                                       float distance, const TVector3& axis_x, const TVector3& axis_y,
                                       float texture_width, float texture_height) {
  if (!(opacity > 0.0f) || shadow.Image() == nullptr) return std::nullopt;
  const TShadowParams& p = shadow.Params();
  const float level_scale = std::ldexp(1.0f, std::clamp(p.MipLevel, 0, 30));
  float w = (p.Rect.Right - p.Rect.Left) + 2.0f * p.Margin.x;
  float h = (p.Rect.Bottom - p.Rect.Top) + 2.0f * p.Margin.y;
  TShadowQuad q;
  q.AxisX = axis_x;
  q.AxisY = axis_y;
  if (shadow.Normalised()) {
    if (!(w > 0.0f) || !(h > 0.0f)) return std::nullopt;
    q.AxisX = ScaleVector3(q.AxisX, 1.0f / w);
    q.AxisY = ScaleVector3(q.AxisY, 1.0f / h);
  }
  const double lx = std::hypot(double(q.AxisX.x), double(q.AxisX.y));
  const double ly = std::hypot(double(q.AxisY.x), double(q.AxisY.y));
  const double d = std::sqrt(ly * lx) * distance * shadow.DistancePercent / 100.0;
  const double rad = angle * M_PI / 180.0;
  q.Origin = origin;
  if (p.TurnOffset) {
    const TVector3 ux = lx > 0.0 ? ScaleVector3(q.AxisX, float(1.0 / lx)) : TVector3{};
    const TVector3 uy = ly > 0.0 ? ScaleVector3(q.AxisY, float(1.0 / ly)) : TVector3{};
    q.Origin = CombineVectors3Three(q.Origin, 1.0f, ux, float(std::cos(rad) * d), uy, float(std::sin(rad) * d));
  } else {
    q.Origin.x += float(std::cos(rad) * d);
    q.Origin.y += float(std::sin(rad) * d);
  }
  const float k = FitShadowSize(w, h);
  const float kl = k * level_scale;
  const float back_x = (float(shadow.Image()->Width()) - w) / 2.0f * kl;
  const float back_y = (float(shadow.Image()->Height()) - h) / 2.0f * kl;
  q.Origin = CombineVectors3Three(q.Origin, 1.0f, q.AxisX, -back_x, q.AxisY, -back_y);
  q.AxisX = ScaleVector3(q.AxisX, kl);
  q.AxisY = ScaleVector3(q.AxisY, kl);
  q.TextureWidth = texture_width / k / level_scale;
  q.TextureHeight = texture_height / k / level_scale;
  return q;
}

}  // namespace kav
