#include "KavLib2/KavObjects/KavBox.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "KavLib2/KavObjects/KavShadowDraw.h"
#include "KavLib2/KavObjects/KavSlide.h"
#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxIni.h"
#include "VoRav/wpExceptions.h"

namespace kav {

TFloatPoint ReadObjectSize(TKavObjectProps* props) {
  TByteStringParts parts;
  IniSplitValue(props ? props->FindValue(u"Size") : nullptr, ',', parts);
  auto part = [&](int n) {
    const double v = ByteStringListGetFloat(parts, n, 0.0);
    return std::isfinite(float(v)) ? float(v) : 0.0f;
  };
  return FloatPoint(part(0), part(1));
}

void TKavBox::Dispose() {
  grade_.Clear();
  shadow_.reset();
  TKavObject::Dispose();
}

void TKavBox::LoadFromIni(TKavObjectProps* props, bool reload) {
  TIniItem* item = props ? props->FindValue(u"FillMode") : nullptr;
  SetSize(ReadObjectSize(props));
  FillMode = uint8_t(IniGetIndexOf(item, {u"Solid", u"HGradient", u"VGradient", u"TLBRGradient", u"TRBLGradient"},
                                   kFillSolid, true));
  auto colour = [&](std::u16string_view key) {
    return ColorClearAlpha(ParseColorText(IniGetValueBytes(props ? props->FindValue(key) : nullptr), 0xFF000000u));
  };
  // Alphas outside a byte are held to 0..255 (a plain cast would wrap 256
  // to transparent).
  auto alpha = [&](std::u16string_view key) {
    return uint8_t(std::clamp(IniGetInteger(props ? props->FindValue(key) : nullptr, 255), 0, 255));
  };
  Color1 = colour(u"Color1");
  Color2 = colour(u"Color2");
  Alpha1 = alpha(u"Alpha1");
  Alpha2 = alpha(u"Alpha2");
  Antialiased = IniGetBool(props ? props->FindValue(u"Antialiased") : nullptr, false);
  Splitter = props && props->Kind() == kKindSplitter;
  TKavObject::LoadFromIni(props, reload);

  TKavObjectHost* host = ParentQuery();
  auto transform = [&](TColor32 c) { return host ? ColorClearAlpha(host->TransformColor(c | 0xFF000000u)) : c; };
  drawn1_ = Alpha1 == 0 ? Color1 : transform(Color1);
  if (Alpha2 == 0) drawn2_ = Color2;
  else if (FillMode == kFillSolid) drawn2_ = drawn1_;
  else drawn2_ = Color2 == Color1 ? drawn1_ : transform(Color2);
  Changed = 1;
}

bool TKavBox::Invisible() {
  if (Splitter) return true;
  if (!(ScaledValue() > 0.00196f)) return true;
  if (FillMode == kFillSolid) return Alpha1 == 0;
  return Alpha1 == 0 && Alpha2 == 0;
}

TBoxParams TKavBox::FillParams() {
  TBoxParams box = DefaultBoxParams();
  box.Opacity = ScaledValue();
  box.ColorA = ColorSetAlpha(drawn1_, Alpha1);
  box.ColorB = FillMode == kFillSolid ? ColorSetAlpha(Color1, Alpha1) : ColorSetAlpha(drawn2_, Alpha2);
  box.EdgeLeft = box.EdgeTop = box.EdgeRight = box.EdgeBottom = Antialiased;
  switch (FillMode) {
    case kFillSolid: box.Gradient = kBoxGradSolid; break;
    case kFillHGradient: box.Gradient = kBoxGradHorizontal; break;
    case kFillVGradient: box.Gradient = kBoxGradVertical; break;
    case kFillTLBRGradient: box.Gradient = kBoxGradDiagonalBA; break;
    case kFillTRBLGradient: box.Gradient = kBoxGradDiagonalMBA; break;
    default: KAV_ASSERT_FAIL("Unknown fill mode"); break;
  }
  return box;
}

void TKavBox::DrawSelf(TDeviceDrawer* drawer) {
  if (Invisible()) return;
  TVector3 c[4];
  GetCornerPoints(c, 4, 0);
  // SubVectors3(a, b) is b - a.
  const TVector3 x_edge = SubVectors3(c[0], c[1]), y_edge = SubVectors3(c[0], c[3]);
  TBoxParams box = FillParams();
  // The colour-grade state of the current colour keyframes; its lookups
  // live on the drawer's screen.
  auto* d3 = dynamic_cast<T3DDrawer*>(drawer);
  T3DScreen* screen = d3 ? d3->Screen() : nullptr;
  if (screen != screen_) grade_.Clear();
  screen_ = screen;
  TImageDrawParams graded = DefaultImageDrawParams();
  grade_.Apply(props_.get(), screen, nullptr, graded);
  box.GradeMode = graded.GradeMode;
  box.GradeMix = graded.GradeMix;
  box.GradeLut1 = graded.GradeLut1;
  box.GradeLut2 = graded.GradeLut2;
  if (TShadow* shadow = UpdateShadow(); shadow && shadow->Image())
    RenderShadow(shadow, drawer, c[0], DrawnShadowColor(), ScaledValue() * ShadowOpacity / 100.0f, ShadowAngle(),
                 ShadowDistance(), x_edge, y_edge, TSize{shadow->Image()->Width(), shadow->Image()->Height()});
  drawer->FillBox(c[0], FloatPoint(1, 1), box, x_edge, y_edge);
}

TShadow* TKavBox::UpdateShadow() {
  if (!ShadowEnable() || !(size_.x > 0) || !(size_.y > 0)) return nullptr;
  TKavObjectHost* host = ParentQuery();
  TFileAccessor* accessor = host ? host->Accessor() : nullptr;
  if (!accessor) return nullptr;
  TShadowParams p = SolidShadowParams(FloatRect(0, 0, size_.x, size_.y), ShadowSize, ShadowSpreadIndex);
  p.ImageName = std::u16string(kShadowRectShape);
  if (Ref<TShadow> done = queued_shadow_.Take()) shadow_ = std::move(done);
  if (!shadow_ || !shadow_->SameParams(p)) {
    // A box that has a shadow hands its re-making to the host's image-task
    // queue when there is one and draws the old one meanwhile; its first
    // shadow is made at once.
    if (shadow_ && queued_shadow_.Ask(this, host, p.ImageName, TShadow::RectShadowKey(p), p, true))
      return shadow_.get();
    host->CancelImageTasks(this);
    queued_shadow_.Forget();
    shadow_ = TShadow::Create(p, accessor);
  }
  return shadow_.get();
}

void TKavBox::PrepareResources(TKavResourceVisitor* visitor) {
  if (!visitor || !visitor->Ready()) return;
  if (TShadow* shadow = UpdateShadow(); shadow && shadow->Image())
    visitor->Prepare(shadow->Image(), DefaultImageDrawParams());
  TKavObject::PrepareResources(visitor);
}

void TKavBox::ReleaseResources(TKavResourceVisitor* visitor) {
  if (visitor && shadow_ && shadow_->Image()) visitor->Release(shadow_->Image());
  TKavObject::ReleaseResources(visitor);
}

}  // namespace kav
