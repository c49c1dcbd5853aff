// Slides: loading from the show's sections, backgrounds, the resolution
// set-up, drawing and mouse processing.
#include "KavLib2/KavObjects/KavSlide.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "KavLib2/KavObjects/KavButton.h"
#include "KavLib2/KavObjects/KavSlideHost.h"
#include "KavLib2/KavObjects/KavText.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

// Most copies of a background picture drawn across the slide on each axis;
// a tiny picture would otherwise ask for millions of quads.
constexpr int32_t kMaxBackgroundTiles = 64;

// A colour stored as an integer (blue in the high byte, as Windows keeps
// them) into blue, green, red order.
TColor32 IniColor(TIniItem* item, TColor32 def) {
  if (!item) return def;
  const uint32_t v = uint32_t(item->GetInteger(int32_t(def & 0xFFFFFF)));
  return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

void ResetLooks(TKavObject* o) {
  if (auto* b = dynamic_cast<TKavButton*>(o)) b->SetLook(0);
  else if (auto* t = dynamic_cast<TKavText*>(o)) t->SetLook(0);
  for (int32_t i = 0; i < o->ChildCount(); ++i) ResetLooks(o->GetChild(i));
}

bool NotTransparent(void*, TKavObject* o) { return !o->TranspForClick; }

}  // namespace

// ---- Loading -------------------------------------------------------------------

void TKavSlide::LoadSlide(TIniList* main, TIniList* slide, TIniList* times, bool no_times, double effect_out,
                          double effect_in, int32_t index) {
  // The sections are read where they are (they live as long as the show's
  // project text); the slide keeps no copies of them.
  SlideIndex = index;
  const int32_t count = IniGetInteger(IniFindKey(times, u"opt_slidescount"), 0);
  if (!no_times) {
    auto synch = [&](int32_t n, double def) {
      TIniItem* k = IniFindKey(times, u"opt_synchpos" + IntToStr(n));
      return k ? double(k->GetInteger(0)) : def;
    };
    SlideBegin = index >= 1 && index <= count ? synch(index, 0) : 0;
    NextEffectBegin = index >= 0 && index < count ? synch(index + 1, SlideBegin) : SlideBegin;
  }
  EffectOut = effect_out;
  EffectIn = effect_in;

  // Scale mode: the keyframe times stretched to the slide's real length.
  scale_factor_ = 0;
  const int32_t mode = IniGetInteger(IniFindKey(slide, u"ScaleMode"), 0);
  if (mode == 1 || mode == 2) {
    TByteStringParts parts;
    IniSplitValue(IniFindKey(slide, u"ScaleTimes"), ',', parts);
    const int64_t a = int64_t(ByteStringListGetFloat(parts, 0, 0)), c = int64_t(ByteStringListGetFloat(parts, 2, 0));
    const double in = std::nearbyint(EffectIn), out = std::nearbyint(EffectOut);
    (void)in;
    const double length = std::nearbyint(NextEffectBegin - SlideBegin) + out;
    const double denominator = double(a + (mode == 2 ? 0 : c));
    const double numerator = length - (mode == 2 ? out : 0);
    if (denominator != 0) scale_factor_ = numerator / denominator;
  }
  LoadBackground(main, slide);

  TSlideLengths timing;
  timing.SlideLength = int32_t(std::clamp(std::nearbyint(NextEffectBegin - SlideBegin + EffectOut), -2e9, 2e9));
  timing.EffectIn = int32_t(std::clamp(std::nearbyint(EffectIn), -2e9, 2e9));
  timing.EffectOut = int32_t(std::clamp(std::nearbyint(EffectOut), -2e9, 2e9));
  props_->Read(slide, timing);
  if (scale_factor_ != 0) props_->ProcessTree(timing, scale_factor_);
  own_list_.clear();  // they point at the children about to be replaced
  alt_list_.clear();
  BuildChildren(false);
  set_up_ = false;
}

void TKavSlide::LoadBackground(TIniList* main, TIniList* slide) {
  background_ = TSlideBackground{};
  TIniList* from = slide;
  std::u16string prefix;
  int32_t style = IniGetInteger(IniFindKey(slide, u"bstyle"), 0);
  if (style == 0) {
    from = main;
    prefix = u"opt_";
    style = IniGetInteger(IniFindKey(main, u"opt_bstyle"), 0);
  }
  auto key = [&](std::u16string_view name) { return IniFindKey(from, prefix + std::u16string(name)); };
  switch (style) {
    case 1:
      background_.Color1 = IniColor(key(u"bcolor"), background_.Color1);
      background_.Style = 0;
      break;
    case 2: {
      const std::u16string name = IniGetString(key(u"bfn"));
      background_.Zoom = float(IniGetFloat(key(u"bsize"), background_.Zoom));
      if (!name.empty()) {
        background_.ImageName = name;
        background_.Style = 3;
      }
      break;
    }
    case 3: {
      const int32_t cs = IniGetInteger(key(u"bcolorstyle"), 0);
      if (cs != 1 && cs != 2) break;
      background_.Style = cs == 1 ? 2 : 1;
      background_.Color1 = IniColor(key(u"bcolor1"), background_.Color1);
      background_.Color2 = IniColor(key(u"bcolor2"), background_.Color2);
      break;
    }
    default:
      break;
  }
  UpdateDrawnBackground();
  Changed = 1;
}

void TKavSlide::UpdateDrawnBackground() {
  TSlideBackground& b = background_;
  auto transform = [&](TColor32 c) { return ColorClearAlpha(host_->TransformColor(c | 0xFF000000u)); };
  b.Drawn1 = transform(b.Color1);
  b.Drawn2 = b.Style == 0 || b.Color2 == b.Color1 ? b.Drawn1 : transform(b.Color2);
}

void TKavSlide::SetBackColor1(TColor32 c) {
  if (c == background_.Color1) return;
  background_.Color1 = c;
  UpdateDrawnBackground();
  Changed = 1;
}

void TKavSlide::SetBackColor2(TColor32 c) {
  if (c == background_.Color2) return;
  background_.Color2 = c;
  UpdateDrawnBackground();
  Changed = 1;
}

void TKavSlide::SetBackStyle(uint8_t style) {
  if (style == background_.Style) return;
  background_.Style = style;
  UpdateDrawnBackground();
  Changed = 1;
}

void TKavSlide::SetBackImageName(const std::u16string& name) {
  if (WideUpperCase(name) == WideUpperCase(background_.ImageName)) return;
  background_.ImageName = name;
  Changed = 1;
}

void TKavSlide::SetBackZoom(float zoom) {
  if (zoom == background_.Zoom) return;
  background_.Zoom = zoom;
  Changed = 1;
}

void TKavSlide::SetBackground(const TSlideBackground& background, float factor) {
  alt_background_ = background;
  alt_factor_ = factor;
  Changed = 1;
}

// ---- Background picture --------------------------------------------------------

TImage* TKavSlide::BackgroundPicture() {
  if (background_.Style != 3 || background_.ImageName.empty() || !host_->Accessor()) return nullptr;
  const std::u16string key = u"SlideBg: " + FloatToStrTrim(6, background_.Zoom) + u":" + background_.ImageName;
  auto it = background_pictures_.find(key);
  // A picture whose data did not decode is asked for again: the cache then
  // answers its placeholder.
  if (it != background_pictures_.end() && !it->second->Store()->Undecodable()) return it->second.get();
  Ref<TImage> picture = LoadImageHandle(host_->Accessor(), background_.ImageName);
  TImage* p = picture.get();
  background_pictures_[key] = std::move(picture);
  return p;
}

TFloatPoint TKavSlide::BackgroundPictureSize() {
  TImage* p = BackgroundPicture();
  if (!p || p->Width() <= 0 || p->Height() <= 0) return FloatPoint(0, 0);
  // A zoom that is not a positive number would tile without end: 100 %.
  const double zoom = std::isfinite(background_.Zoom) && background_.Zoom > 0 ? background_.Zoom / 100.0 : 1.0;
  const double w = Size().x, h = Size().y, pw = p->Width(), ph = p->Height();
  if (w / h > pw / ph) return FloatPoint(float(zoom * h * pw / ph), float(zoom * h));
  return FloatPoint(float(zoom * w), float(zoom * w * ph / pw));
}

void TKavSlide::DrawBackground(TDeviceDrawer* drawer, const TVector3* c, uint8_t opacity) {
  const TSlideBackground& b = background_;
  const TVector3 x_edge = SubVectors3(c[0], c[1]), y_edge = SubVectors3(c[0], c[3]);
  switch (b.Style) {
    case 0:
      DrawSolidQuad(drawer, c[0], c[1], c[3], ColorSetAlpha(b.Drawn1, opacity));
      break;
    case 1:
    case 2: {
      TBoxParams box = DefaultBoxParams();
      box.Opacity = opacity / 255.0f * 100.0f;
      box.ColorA = ColorSetAlpha(b.Drawn1, 255);
      box.ColorB = ColorSetAlpha(b.Drawn2, 255);
      box.Gradient = b.Style == 1 ? kBoxGradHorizontal : kBoxGradVertical;
      drawer->FillBox(c[0], FloatPoint(1, 1), box, x_edge, y_edge);
      break;
    }
    case 3: {
      TImage* p = BackgroundPicture();
      const TFloatPoint ps = BackgroundPictureSize();
      if (!p || !(ps.x > 0) || !(ps.y > 0)) break;
      const double w = Size().x, h = Size().y;
      const int32_t nx = int32_t(std::min(std::ceil((w / 2 - ps.x / 2) / ps.x), double(kMaxBackgroundTiles)));
      const int32_t ny = int32_t(std::min(std::ceil((h / 2 - ps.y / 2) / ps.y), double(kMaxBackgroundTiles)));
      TImageDrawParams params = DefaultImageDrawParams();
      params.Opacity = opacity / 255.0f * 100.0f;
      const TVector3 ux = ScaleVector3(x_edge, float(1.0 / w)), uy = ScaleVector3(y_edge, float(1.0 / h));
      const TVector3 centre = CombineVectors3Three(c[0], 1.0f, x_edge, 0.5f, y_edge, 0.5f);
      for (int32_t j = -std::max(ny, 0); j <= std::max(ny, 0); ++j)
        for (int32_t i = -std::max(nx, 0); i <= std::max(nx, 0); ++i) {
          const TVector3 o = CombineVectors3Three(centre, 1.0f, ux, float(i * ps.x - ps.x / 2), uy,
                                                  float(j * ps.y - ps.y / 2));
          drawer->DrawImage(p, o, params, ScaleVector3(uy, ps.y), ScaleVector3(ux, ps.x),
                            TSize{p->Width(), p->Height()});
        }
      break;
    }
    default:
      break;
  }
}

// ---- Set-up ----------------------------------------------------------------------

void TKavSlide::SetUpSlide() {
  set_up_ = true;
  const double base = (props_ ? props_->CurrentTime() : 0.0) + SlideBegin;
  std::vector<double> times;
  CollectKeyFrames(times);
  if (times.empty()) times.push_back(0);
  SurveyReset();
  auto* host = dynamic_cast<TKavSlideHost*>(host_.get());
  in_survey_ = true;
  for (double t : times) {
    UpdateAtTime(true, t + SlideBegin);
    Calculate(true);
    if (host && !host->KeepAlive()) break;
    for (Ref<TKavObject>& c : children_) c->SurveyState();
  }
  in_survey_ = false;
  UpdateAtTime(true, base);
  SetRequiredResolution(FloatPoint(float(0.01 * ScaleX() * Size().x), float(0.01 * ScaleY() * Size().y)));
  for (Ref<TKavObject>& c : children_) c->ApplyRequiredResolution(false);
}

void TKavSlide::SetSlideTime(double time) {
  // A picture delivered before this point is taken by this layout (or, a
  // box's shadow, by the draw after it), one delivered after it by the next:
  // a slide whose time stands still (a show without length, a pause, the
  // held end) is laid out and drawn only when something changed, and would
  // otherwise never take a caption rendered after its first layout.
  if (delivered_.exchange(false)) redraw_ = true;
  if (time == last_time_ && !Live && !NeedsDraw()) return;
  SetTime(true, time);
  last_time_ = time;
}

bool TKavSlide::NeedsDraw() { return redraw_ || delivered_.load() || TKavObject::NeedsDraw(); }

void TKavSlide::CommitState(bool recursive) {
  redraw_ = false;
  TKavObject::CommitState(recursive);
}

// ---- Drawing ---------------------------------------------------------------------

void TKavSlide::DrawAlternativeBackground(TDeviceDrawer* drawer, const TVector3* corners, uint8_t opacity) {
  const TSlideBackground own = background_;
  background_ = alt_background_;
  UpdateDrawnBackground();
  DrawBackground(drawer, corners, opacity);
  background_ = own;
}

bool TKavSlide::Opaque(TDeviceDrawer* drawer) {
  if (!drawer || ForegroundOnly || background_.Style > 2 || drawer->OffsetActive || LayerValue() != 0) return false;
  TVector3 c[4];
  GetCornerPoints(c, 4, 0);
  const TFloatRect v = drawer->GetViewRect();
  const float want[4][2] = {{v.Left, v.Top}, {v.Right, v.Top}, {v.Right, v.Bottom}, {v.Left, v.Bottom}};
  for (int i = 0; i < 4; ++i)
    if (c[i].x != want[i][0] || c[i].y != want[i][1] || c[i].z != 0) return false;
  return true;
}

void TKavSlide::SplitObjectLists(bool own, bool alternative) {
  own_list_.clear();
  alt_list_.clear();
  // Departure: a slide without a splitter has no background group (rather
  // than all its children): it draws as usual.
  const size_t group = GroupEnd();
  if (group == children_.size()) return;
  for (size_t i = 0; i < group; ++i) {
    if (own) own_list_.push_back(children_[i].get());
    if (alternative) alt_list_.push_back(children_[i].get());
  }
}

size_t TKavSlide::GroupEnd() const {
  for (size_t i = 0; i < children_.size(); ++i)
    if (children_[i]->Splitter) return i;
  return children_.size();
}

void TKavSlide::Draw(TDeviceDrawer* drawer) {
  TVector3 c[4];
  GetCornerPoints(c, 4, 0);
  const bool grouped = !own_list_.empty() || !alt_list_.empty();
  if (!ForegroundOnly) {
    // The alternative background shows by its factor over the own one.
    const uint8_t opacity = uint8_t(std::lround((1.0f - std::clamp(alt_factor_, 0.0f, 1.0f)) * 255.0f));
    const uint8_t shown = uint8_t(255 - opacity);
    auto* d3 = dynamic_cast<T3DDrawer*>(drawer);
    Ref<TRenderTargetTexture> layer;
    if (d3 && !alt_list_.empty() && shown > 0) {
      const T3DViewState view = d3->Screen()->GetViewState();
      layer = d3->BeginOffscreen();
      // Departure: the target keeps the view in use; an effect-buffer
      // slide's output rectangle is not set as the view anew.
      if (layer) d3->Screen()->SetViewState(view);
    }
    if (layer) {
      // The alternative background with its share of the group, faded in as
      // one layer over the own background with the rest of the group.
      DrawAlternativeBackground(drawer, c, 255);
      for (TKavObject* o : alt_list_) drawer->Render(o);
      d3->Screen()->PopRenderTarget();
      DrawBackground(drawer, c, 255);
      for (TKavObject* o : own_list_) drawer->Render(o);
      d3->EndOffscreen(layer.get(), layer->BlendFlag, shown);
    } else {
      DrawBackground(drawer, c, 255);
      for (TKavObject* o : own_list_) drawer->Render(o);
      // Departure: without an offscreen target (or while the alternative
      // background is not shown) the group's share over it is left out.
      if (shown > 0) DrawAlternativeBackground(drawer, c, shown);
    }
  }
  if (OnRedraw) OnRedraw(this);
  CommitState(false);
  // Departure: the background group was drawn with the backgrounds above
  // and is not drawn a second time with the other children.
  size_t first = 0;
  const size_t group = GroupEnd();
  if (!ForegroundOnly && grouped)
    first = group;
  else if (ForegroundOnly && drawer->UsesShaders() && group < children_.size())
    first = group + 1;
  for (size_t i = first; i < children_.size(); ++i) {
    Ref<TKavObject> child = children_[i];
    drawer->Render(child.get());
  }
}

void TKavSlide::PrepareResources(TKavResourceVisitor* visitor) {
  if (!visitor || !visitor->Ready() || visitor == prepared_by_) return;
  Calculate(true);
  if (TImage* p = BackgroundPicture()) {
    try {
      visitor->Prepare(p, DefaultImageDrawParams());
    } catch (const EAbort&) {
      throw;
    } catch (const Exception&) {
      TImage* placeholder = BackgroundPicture();
      if (!placeholder || placeholder == p) throw;
      visitor->Prepare(placeholder, DefaultImageDrawParams());
    }
  }
  try {
    TKavObject::PrepareResources(visitor);
  } catch (const Exception&) {
    // A picture that fails to prepare is drawn from the next preparation.
  }
  prepared_by_ = visitor;
}

void TKavSlide::ReleaseResources(TKavResourceVisitor* visitor) {
  if (visitor)
    for (auto& [key, p] : background_pictures_) visitor->Release(p.get());
  TKavObject::ReleaseResources(visitor);
  prepared_by_ = nullptr;
}

// ---- Mouse -----------------------------------------------------------------------

TKavObject* TKavSlide::ProcessMouse(float x, float y, uint32_t state, bool enabled, int32_t event, int32_t button,
                                    TObjectAction& action) {
  ResetLooks(this);
  action = TObjectAction{};
  if (!enabled || (state != 0 && state != 16)) return nullptr;
  TFloatPoint local;
  TKavObject* hit = HitTestChildren(local, THitFilter::FromFunction(&NotTransparent, nullptr), x, y);
  if (!hit) return nullptr;
  const TObjectAction parsed = ParseObjectAction(hit->Action);
  const bool has_action = parsed.Kind != kActionNone;
  auto look = [&](uint8_t l) {
    if (auto* b = dynamic_cast<TKavButton*>(hit)) {
      b->SetLook(l);
      if (b->Caption) b->Caption->SetLook(l);
    } else if (auto* t = dynamic_cast<TKavText*>(hit)) {
      t->SetLook(l);
    }
  };
  const bool lookable = has_action && (dynamic_cast<TKavButton*>(hit) || dynamic_cast<TKavText*>(hit));
  if (lookable) {
    if (event == 0) {
      look(state == 16 ? 2 : 1);
    } else if (event == 1 && button == 1) {
      look(2);
      hit->SetFlag(true);
    } else if (event == 2 && button == 1) {
      look(1);
      if (hit->Pressed()) action = parsed;
      hit->SetFlag(false);
    }
  } else if (event == 1) {
    hit->SetFlag(true);
  } else if (event == 2) {
    if (hit->Pressed()) action = parsed;
    hit->SetFlag(false);
  }
  return hit;
}

}  // namespace kav
