#include "KavLib2/KavObjects/KavImage.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "KavLib2/KavObjects/KavShadowDraw.h"
#include "KavLib2/KavObjects/KavSlide.h"
#include "KavLib2/KavObjects/KavSlideHost.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TIniItem* Key(TKavObjectProps* props, std::u16string_view name) { return props ? props->FindValue(name) : nullptr; }

bool Animated(const TImageAnimationParams& a) {
  return a.AnimEnable && int64_t(std::max(a.AnimColumns, 1)) * std::max(a.AnimRows, 1) > 1 && !a.Intervals.empty();
}

TBorderParams DefaultBorder() {
  TBorderParams b;
  b.BorderWidth = 1.5f;
  b.BorderColor = 0xFFFFFFFFu;
  b.Zoom = 100.0f;
  return b;
}

}  // namespace

std::u16string ObjectTaskKey(const TKavObject* object) {
  return u"Obj:" + IntToHex(16, uint64_t(reinterpret_cast<uintptr_t>(object)));
}

void TKavImage::Dispose() {
  grade_.Clear();
  color_lookup_.reset();
  color_transform_.reset();
  picture_.reset();
  old_picture_.reset();
  shadow_.reset();
  TKavObject::Dispose();
}

void TKavImage::SetDefaults() {
  antialiased_ = true;
  filtering_ = kFilterDefault;
  border_ = DefaultBorder();
  anim_ = TImageAnimationParams{};
  mip_lod_bias_ = -0.5f;
  ImageIndex = kNoImageIndex;
  prepared_level_ = -1;
}

// ---- Setters -------------------------------------------------------------------

void TKavImage::DropPicture() {
  if (picture_) old_picture_ = picture_;
  picture_.reset();
  resolved_ = false;
  Changed = 1;
}

void TKavImage::SetImageName(const std::u16string& name) {
  if (name == image_name_) return;
  image_name_ = name;
  DropPicture();
}

void TKavImage::SetRestoreAlpha(bool v) {
  if (v == restore_alpha_) return;
  restore_alpha_ = v;
  DropPicture();
}

void TKavImage::SetAntialiased(bool v) { SetDrawn(antialiased_, v); }

void TKavImage::SetFiltering(uint8_t v) { SetDrawn(filtering_, v); }

void TKavImage::SetMipLodBias(float v) { SetDrawn(mip_lod_bias_, v); }

void TKavImage::SetBorder(const TBorderParams& border) {
  if (BorderParamsEqual(border, border_)) return;
  border_ = border;
  Changed = 1;
  ApplyFit();
}

void TKavImage::SetAnimation(const TImageAnimationParams& anim) {
  if (ImageAnimationParamsEqual(anim, anim_)) return;
  const bool switched = anim.AnimEnable != anim_.AnimEnable;
  anim_ = anim;
  Changed = 1;
  if (switched) DropPicture();
}

// ---- Keys ----------------------------------------------------------------------

void TKavImage::LoadFromIni(TKavObjectProps* props, bool reload) {
  SetAntialiased(IniGetBool(Key(props, u"Antialiased"), true));
  SetFiltering(uint8_t(
      IniGetIndexOf(Key(props, u"Filtering"), {u"Nearest", u"Bilinear", u"Default"}, kFilterDefault, true)));
  SetImageName(props ? props->GetText(u"ImageName", u"") : std::u16string());
  SetMipLodBias(float(IniGetFloat(Key(props, u"MipLodBias"), 0.0)));
  // Only the low byte is kept, as the key's integer is stored in one byte.
  ReplaceWithEffectBuffer = uint8_t(IniGetInteger(Key(props, u"ReplaceWithEffectBuffer"), 0));

  TBorderParams b = border_;
  b.EnableBorder = IniGetBool(Key(props, u"EnableBorder"), false);
  b.EnableCrop = IniGetBool(Key(props, u"EnableCrop"), false);
  b.EnableAspect = IniGetBool(Key(props, u"EnableAspect"), false);
  b.BorderWidth = float(IniGetFloat(Key(props, u"BorderWidth"), 1.5));
  b.BorderColor = ParseColorText(IniGetValueBytes(Key(props, u"BorderColor")), 0xFFFFFFFFu);
  TByteStringParts parts;
  IniSplitValue(Key(props, u"CropRect"), ',', parts);
  if (ByteStringListCount(parts) == 4) {
    float v[4];
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
      const double d = ByteStringListGetFloat(parts, i, NAN);
      ok = ok && std::isfinite(float(d));
      v[i] = float(d);
    }
    if (ok) b.CropRect = TFloatRect{v[0], v[1], v[2], v[3]};
  }
  b.Aspect = float(IniGetFloat(Key(props, u"Aspect"), 0.0));
  if (!std::isfinite(b.Aspect)) b.Aspect = 0;
  if (!std::isfinite(b.BorderWidth)) b.BorderWidth = 0;
  SetBorder(b);

  TImageAnimationParams a;
  a.AnimEnable = IniGetBool(Key(props, u"AnimEnable"), false);
  a.AnimColumns = IniGetInteger(Key(props, u"AnimColumns"), 1);
  a.AnimRows = IniGetInteger(Key(props, u"AnimRows"), 1);
  a.AnimRepCount = IniGetInteger(Key(props, u"AnimRepCount"), 0);
  a.AnimOffset = IniGetFloat(Key(props, u"AnimOffset"), 0.0);
  if (!std::isfinite(a.AnimOffset)) a.AnimOffset = 0;
  a.AnimCount = IniGetInteger(Key(props, u"AnimCount"), 0);
  BuildAnimationFrames(IniGetValueBytes(Key(props, u"AnimInterval")), a);
  SetAnimation(a);
  ImageIndex = IniGetInteger(Key(props, u"ImageIndex"), kNoImageIndex);
  SetRestoreAlpha(IniGetBool(Key(props, u"RestoreAlpha"), false));
  TKavObject::LoadFromIni(props, reload);

  TKavObjectHost* host = ParentQuery();
  if (border_.EnableBorder && host) {
    TBorderParams drawn = border_;
    drawn.BorderColor = ColorSetAlpha(host->TransformColor(border_.BorderColor), ColorAlpha(border_.BorderColor));
    border_ = drawn;
  }
  if (Picture() && props_) props_->ReadAspect(Picture()->Width(), Picture()->Height());
}

// ---- Picture -------------------------------------------------------------------

std::u16string TKavImage::PictureKey() {
  if (ReplaceWithEffectBuffer != 0) {
    TKavObjectHost* host = ParentQuery();
    auto* slide_host = dynamic_cast<TKavSlideHost*>(host);
    const int32_t w = slide_host ? slide_host->EffectBufferWidth : 0;
    const int32_t h = slide_host ? slide_host->EffectBufferHeight : 0;
    TKavSlide* slide = GetSlide();
    const bool buffer = slide->EffectBufferSlide && !slide->Live;
    return std::u16string(buffer ? kSlideEffectBufferWord : kEffectResourceWord) + IntToStr(ReplaceWithEffectBuffer) +
           u", " + IntToStr(w) + u", " + IntToStr(h);
  }
  std::u16string key = image_name_;
  if (restore_alpha_) key = std::u16string(kMaskKeyPrefix) + key;
  // An animated GIF becomes an atlas of all its frames (exact lower case
  // extension, as the authoring tool writes it).
  if (anim_.AnimEnable && key.ends_with(u".gif")) key += u"|framesatlas";
  return key;
}

void TKavImage::TakePicture(Ref<TImage> picture) {
  picture_ = std::move(picture);
  old_picture_.reset();
  picture_size_ = picture_ ? TSize{picture_->Width(), picture_->Height()} : TSize{0, 0};
  resolved_ = true;
  resolved_anew_ = true;
  prepared_level_ = -1;
  if (picture_ && props_) props_->ReadAspect(picture_size_.cx, picture_size_.cy);
  // Colour management: a picture whose own profile differs from the
  // display's is drawn through a lookup of that conversion (effect buffers
  // never are).
  color_transform_.reset();
  color_lookup_.reset();
  grade_.Clear();
  if (picture_ && ReplaceWithEffectBuffer == 0 && !ColorManagementOff.load()) {
    auto* host = dynamic_cast<TKavSlideHost*>(ParentQuery());
    color_transform_ = CreateColorTransform(picture_->Store()->ColorProfile<TColorProfile>(),
                                            host ? host->OutputProfile.get() : nullptr);
    color_lookup_ = MakeColorLookup(color_transform_.get());
  }
  ApplyFit();
  Changed = 1;
}

void TKavImage::ResolveImage() {
  // A picture whose data did not decode when its level was made is asked
  // for again: the cache answers the placeholder from then on.
  if (picture_ && !picture_->Store()->Undecodable()) return;
  TKavObjectHost* host = ParentQuery();
  TFileAccessor* accessor = host ? host->Accessor() : nullptr;
  if (!accessor) return;
  if (ReplaceWithEffectBuffer == 0 && image_name_.empty()) return;
  // Never nil: a picture that cannot be loaded is the accessor's placeholder.
  TakePicture(LoadImageHandle(accessor, PictureKey()));
}

TFloatRect TKavImage::FrameRect(int32_t frame) {
  TFloatRect r{0, 0, float(picture_size_.cx), float(picture_size_.cy)};
  if (!Animated(anim_)) return r;
  const int32_t columns = std::max(anim_.AnimColumns, 1), rows = std::max(anim_.AnimRows, 1);
  GetAnimationFrameRect(float(picture_size_.cx), float(picture_size_.cy), columns, r, frame / columns,
                        frame % columns, rows);
  return r;
}

bool TKavImage::ShowsPlaceholder() const { return picture_ && picture_->Store()->IsPlaceholder(); }

uint8_t TKavImage::LayoutFitMode() {
  // Departure: a placeholder is placed into its parent whatever the fit, since a cover crops its message.
  return ShowsPlaceholder() ? uint8_t(kFitPlaceInto) : FitMode;
}

void TKavImage::ApplyFit() {
  if (picture_size_.cx <= 0 || picture_size_.cy <= 0) return;
  TFloatRect rect;
  float border = 0;
  if (ShowsPlaceholder()) {
    // Departure: a placeholder is shown whole, without the picture's crop, zoom and border.
    ComputeFitRect(TBorderParams(), float(picture_size_.cx), float(picture_size_.cy), border, rect, 1.0f);
  } else if (Animated(anim_)) {
    // A sprite sheet shows one cell: the object takes the cell's size (the
    // whole sheet's would stretch every frame).
    rect = FrameRect(0);
  } else {
    TBorderParams b = border_;
    // The picture zoom follows the Frame.S key (100 keeps the whole box).
    const float s = FrameS();
    b.Zoom = s > 0.001f ? 100.0f / (0.01f * s) : 100.0f;
    b.Offset = FloatPoint(FrameX(), FrameY());
    ComputeFitRect(b, float(picture_size_.cx), float(picture_size_.cy), border, rect, 1.0f);
  }
  const bool moved = rect.Left != fit_rect_.Left || rect.Top != fit_rect_.Top || rect.Right != fit_rect_.Right ||
                     rect.Bottom != fit_rect_.Bottom || border != border_width_;
  fit_rect_ = rect;
  border_width_ = border;
  SetSize(FloatPoint(rect.Right - rect.Left + 2 * border, rect.Bottom - rect.Top + 2 * border));
  if (moved) Changed = 1;
}

// ---- Layout --------------------------------------------------------------------

void TKavImage::FitByHeight() {
  // Place-into for a relatively narrower object, cover otherwise: either way
  // the fit factor is the parent's height over the object's.
  const TFloatPoint parent = CopySize();
  if (size_.x > 0 && size_.y > 0 && parent.y > 0)
    FitMode = size_.x / size_.y <= parent.x / parent.y ? kFitPlaceInto : kFitCover;
}

void TKavImage::Calculate(bool recursive) {
  ResolveImage();
  ApplyFit();
  frame_index_ = Animated(anim_) && props_ ? AnimationFrameAtTime(anim_, props_->CurrentTime()) : 0;
  if (picture_ && size_.x > 0 && size_.y > 0) {
    int32_t level = 0;
    const TFloatPoint need = RequiredResolution();
    // Before the slide's survey the size needed is unknown: the full picture.
    if (need.x > 0 && need.y > 0) {
      // The shown part (a crop, one cell) needs the size asked for; the whole
      // picture proportionally more.
      const double fx = picture_size_.cx / std::max(double(fit_rect_.Right - fit_rect_.Left), 1.0);
      const double fy = picture_size_.cy / std::max(double(fit_rect_.Bottom - fit_rect_.Top), 1.0);
      auto side = [](double v) {
        const double r = std::nearbyint(v);
        return r >= 1 && r < 2147483647.0 ? int32_t(r) : 1;
      };
      level = MipLevelIndexForSize(picture_size_, side(need.x * fx), side(need.y * fy));
    }
    if (prepared_level_ > 0) level = std::max(level, prepared_level_);
    if (level != mip_level_) Changed = 1;
    mip_level_ = level;
  }
  UpdateShadow();
  resolved_anew_ = false;
  TKavObject::Calculate(recursive);
}

// ---- Shadow --------------------------------------------------------------------

double TKavImage::ShadowBlurScale() {
  const double k = std::ldexp(1.0, -mip_level_);
  return std::sqrt(k * k * double(picture_size_.cx) * picture_size_.cy) / 400.0;
}

TShadow* TKavImage::UpdateShadow() {
  if (!ShadowEnable() || !picture_ || !(size_.x > 0) || !(size_.y > 0)) return nullptr;
  TKavObjectHost* host = ParentQuery();
  TFileAccessor* accessor = host ? host->Accessor() : nullptr;
  if (!accessor) return nullptr;
  const double k = std::ldexp(1.0, -mip_level_);
  const TFloatRect r = Animated(anim_) ? FrameRect(frame_index_) : fit_rect_;
  TShadowParams p = SolidShadowParams(
      FloatRect(float(r.Left * k), float(r.Top * k), float(r.Right * k), float(r.Bottom * k)), ShadowSize,
      ShadowSpreadIndex);
  p.MipLevel = mip_level_;
  p.TurnOffset = Shadow3D;
  if (Ref<TShadow> done = queued_shadow_.Take()) shadow_ = std::move(done);
  if (shadow_ && shadow_->SameParams(p) && !resolved_anew_) {
    // Back to the shadow it has: what is on its way is not needed.
    if (queued_shadow_.Waiting()) {
      host->CancelImageTasks(this);
      queued_shadow_.Forget();
    }
    return shadow_.get();
  }
  // Plain pictures hand the shadow to the host's image-task queue when it
  // has one and keep drawing the one they have until it arrives; texts and
  // buttons make theirs at once.
  const int32_t kind = props_ ? props_->Kind() : kKindNone;
  if (kind != kKindText && kind != kKindButton &&
      queued_shadow_.Ask(this, host, PictureKey(), TShadow::ImageShadowKey(picture_.get(), ShapeKey(), p, ShadowBlurScale()),
                         p, false))
    return shadow_.get();
  // Departure: only a shadow task is called off, not all the object's
  // tasks: a text's rendering may be on its way.
  if (queued_shadow_.Waiting()) host->CancelImageTasks(this);
  queued_shadow_.Forget();
  try {
    shadow_ = TShadow::CreateForImage(picture_.get(), ShapeKey(), p, accessor, ShadowBlurScale());
  } catch (const Exception&) {
    shadow_.reset();  // a broken shadow leaves the picture without one
  }
  return shadow_.get();
}

void TKavImage::DrawShadow(TDeviceDrawer* drawer, const TVector3* c, float opacity) {
  TShadow* shadow = shadow_.get();
  if (!shadow || !shadow->Image() || !ShadowEnable()) return;
  const TFloatRect& r = shadow->Params().Rect;
  // The shadow is placed in the picture's full-size pixels (its rectangle
  // is at the mip level): the axes of one.
  const float level = std::ldexp(1.0f, std::clamp(shadow->Params().MipLevel, 0, 30));
  const float rw = (r.Right - r.Left) * level, rh = (r.Bottom - r.Top) * level;
  if (!(rw > 0) || !(rh > 0)) return;
  RenderShadow(shadow, drawer, c[0], DrawnShadowColor(), opacity, ShadowAngle(), ShadowDistance(),
               ScaleVector3(SubVectors3(c[0], c[1]), 1.0f / rw), ScaleVector3(SubVectors3(c[0], c[3]), 1.0f / rh),
               TSize{int32_t(std::lround(rw)), int32_t(std::lround(rh))});
}

// ---- Drawing -------------------------------------------------------------------

TImageDrawParams TKavImage::GetDrawParams() {
  TImageDrawParams p = DefaultImageDrawParams();
  const bool animated = Animated(anim_);
  p.Opacity = DrawOpacity();
  p.FilterFlag = filtering_ != kFilterNearest;
  p.MipLevel = mip_level_;
  p.MipBias = mip_lod_bias_;
  p.SourceRect = animated ? FrameRect(frame_index_) : fit_rect_;
  grade_.Apply(props_.get(), screen_, color_lookup_.get(), p);
  return p;
}

bool TKavImage::PlaysByItself() const { return Animated(anim_); }

bool TKavImage::NeedsDraw() { return frame_index_ != drawn_frame_ || TKavObject::NeedsDraw(); }

void TKavImage::CommitState(bool recursive) {
  drawn_frame_ = frame_index_;
  TKavObject::CommitState(recursive);
}

void TKavImage::DrawSelf(TDeviceDrawer* drawer) {
  TImage* picture = Picture();
  if (!picture || !(DrawOpacity() > 0)) return;
  TVector3 c[4];
  GetCornerPoints(c, 4, 0);
  if (ShadowEnable()) DrawShadow(drawer, c, ScaledValue() * ShadowOpacity / 100.0f);
  // Colour lookups live on the drawer's screen.
  auto* d3 = dynamic_cast<T3DDrawer*>(drawer);
  T3DScreen* screen = d3 ? d3->Screen() : nullptr;
  if (screen != screen_) grade_.Clear();
  screen_ = screen;
  const TImageDrawParams params = GetDrawParams();
  if (border_.EnableBorder && !Animated(anim_))
    DrawInsideBorder(drawer, border_width_, border_.BorderColor, params.Opacity, antialiased_);
  TVector3 origin, x_axis, y_axis;
  InsetAxes(border_width_, origin, x_axis, y_axis);
  drawer->DrawImage(picture, origin, params, y_axis, x_axis,
                    TSize{std::max(picture->Width() >> mip_level_, 1), std::max(picture->Height() >> mip_level_, 1)});
}

// ---- Resources -----------------------------------------------------------------

void TKavImage::PrepareResources(TKavResourceVisitor* visitor) {
  if (!visitor || !visitor->Ready()) return;
  if (size_.x > 0 && size_.y > 0 && picture_) {
    try {
      visitor->Prepare(picture_.get(), GetDrawParams());
    } catch (const EAbort&) {
      throw;
    } catch (const Exception&) {
      if (!picture_->Store()->Undecodable()) throw;
      // Its data does not decode: laid out and prepared again as the
      // placeholder that takes its place.
      Calculate(true);
      if (!(size_.x > 0 && size_.y > 0) || !picture_ || picture_->Store()->Undecodable()) throw;
      visitor->Prepare(picture_.get(), GetDrawParams());
    }
    prepared_level_ = mip_level_;
    if (TShadow* shadow = UpdateShadow(); shadow && shadow->Image())
      visitor->Prepare(shadow->Image(), DefaultImageDrawParams());
  }
  TKavObject::PrepareResources(visitor);
}

void TKavImage::ReleaseResources(TKavResourceVisitor* visitor) {
  grade_.Clear();
  if (visitor) {
    if (picture_) visitor->Release(picture_.get());
    if (shadow_ && shadow_->Image()) visitor->Release(shadow_->Image());
  }
  shadow_.reset();
  TKavObject::ReleaseResources(visitor);
}

}  // namespace kav
