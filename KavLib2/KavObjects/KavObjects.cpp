#include "KavLib2/KavObjects/KavObjects.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

#include "KavLib2/KavObjects/KavBox.h"
#include "KavLib2/KavObjects/KavButton.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "KavLib2/KavObjects/KavText.h"
#include "KavLib2/KavObjects/KavSlide.h"
#include "KavLib2/KavObjects/KavViewPort.h"
#include "VoRav/vxIni.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

std::atomic<TKavObjectFactory> g_factory{nullptr};

constexpr double kInfinity = std::numeric_limits<double>::infinity();

TIniItem* Key(TKavObjectProps* props, std::u16string_view name) { return props ? props->FindValue(name) : nullptr; }

}  // namespace

// ---- Factory -----------------------------------------------------------------

TKavObjectFactory KavObjectFactory() noexcept { return g_factory.load(); }

TKavObjectFactory SetKavObjectFactory(TKavObjectFactory factory) noexcept { return g_factory.exchange(factory); }

Ref<TKavObject> CreateKavObject(int32_t kind, TKavObject* parent, TKavObjectProps* props) {
  switch (kind) {
    case kKindFrame:
    case kKindBox:
    case kKindSplitter:
      return TKavObject::Create<TKavBox>(parent, props);
    case kKindImage:
    case kKindAniImage:
      return TKavObject::Create<TKavImage>(parent, props);
    case kKindText:
      return TKavObject::Create<TKavText>(parent, props);
    case kKindButton:
      return TKavObject::Create<TKavButton>(parent, props);
    default:
      return nullptr;
  }
}

void RegisterKavObjectFactories() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetKavObjectFactory(CreateKavObject);
    RegisterKavViewPortFactory();
  });
}

// ---- Construction and tree ---------------------------------------------------

TKavObject::TKavObject(TKavObject* parent, TKavObjectProps* props) {
  KAV_ASSERT(props == nullptr || props->Object() == nullptr);
  props_ = Ref<TKavObjectProps>(props);
  if (props) props->SetObject(this);
  parent_ = parent;
  // The parent's list holds the object; the constructing reference goes to
  // the caller.
  if (parent) parent->children_.push_back(Ref<TKavObject>(this));
}

void TKavObject::Dispose() {
  if (TKavObjectHost* host = ParentQuery()) host->CancelImageTasks(this);
  if (props_ && props_->Object() == this) props_->SetObject(nullptr);
  props_.reset();
  std::vector<Ref<TKavObject>> children;
  children.swap(children_);
  children.clear();  // each child still sees this object as its parent while it goes
  parent_ = nullptr;
  TKavParams::Dispose();
}

TKavObject* TKavObject::GetChild(int32_t index) const noexcept {
  return index >= 0 && index < ChildCount() ? children_[size_t(index)].get() : nullptr;
}

int32_t TKavObject::IndexInParent() const noexcept {
  if (!parent_) return -1;
  for (int32_t i = 0; i < parent_->ChildCount(); ++i)
    if (parent_->children_[size_t(i)].get() == this) return i;
  return -1;
}

TKavSlide* TKavObject::GetSlide() {
  TKavObject* o = this;
  while (o->parent_) o = o->parent_;
  TKavSlide* slide = dynamic_cast<TKavSlide*>(o);
  KAV_ASSERT(slide != nullptr);
  return slide;
}

TKavObjectHost* TKavObject::ParentQuery() { return parent_ ? parent_->ParentQuery() : nullptr; }

bool TKavObject::AskHost() {
  TKavObjectHost* host = ParentQuery();
  return host && host->AskObject(this);
}

// ---- Loading -----------------------------------------------------------------

void TKavObject::Load(TKavObjectProps* props, bool reload) {
  LoadFromIni(props, reload);
  BuildChildren(reload);
}

void TKavObject::BuildChildren(bool /*reload*/) {
  // The list is rebuilt in record order; objects of records that went away
  // are released, the others kept.
  std::vector<Ref<TKavObject>> old;
  old.swap(children_);
  if (props_) {
    for (int32_t i = 0; i < props_->ChildCount(); ++i) {
      TKavObjectProps* rec = props_->Child(i);
      KAV_ASSERT(rec != nullptr);
      if (TRefObject* existing = rec->Object()) {
        TKavObject* child = dynamic_cast<TKavObject*>(existing);
        KAV_ASSERT(child != nullptr);
        children_.push_back(Ref<TKavObject>(child));
        child->parent_ = this;
        child->Load(rec, true);
        continue;
      }
      const TKavObjectFactory factory = KavObjectFactory();
      Ref<TKavObject> child = factory ? factory(rec->Kind(), this, rec) : nullptr;
      if (child) child->Load(rec, false);
    }
  }
  for (Ref<TKavObject>& o : old)
    if (std::find(children_.begin(), children_.end(), o) == children_.end()) o->parent_ = nullptr;
}

void TKavObject::LoadFromIni(TKavObjectProps* props, bool /*reload*/) {
  if (props != props_.get() && props) {
    KAV_ASSERT(props->Object() == nullptr || props->Object() == this);
    props_ = Ref<TKavObjectProps>(props);
    props->SetObject(this);
  }
  raw_value_ = props ? TByteString(IniGetValueBytes(props->IniObject())) : TByteString();
  FitMode = uint8_t(IniGetIndexOf(Key(props, u"FitMode"), {u"None", u"PlaceInto", u"Cover"}, kFitPlaceInto, true));
  PosMode = uint8_t(IniGetIndexOf(Key(props, u"PosMode"), {u"Absolute", u"Percent"}, kModePercent, true));
  CenterMode = uint8_t(IniGetIndexOf(Key(props, u"CenterMode"), {u"Absolute", u"Percent"}, kModePercent, true));
  TranspForClick = IniGetBool(Key(props, u"TranspForClick"), false);
  SetShadowEnable(IniGetBool(Key(props, u"ShadowEnable"), shadow_enable_));
  ShadowSize = float(IniGetFloat(Key(props, u"ShadowSize"), 16.0));
  ShadowColor = ParseColorText(IniGetValueBytes(Key(props, u"ShadowColor")), 0x90000000u);
  ShadowOpacity = float(IniGetFloat(Key(props, u"ShadowOpacity"), 59.0));
  SetShadowDistance(float(IniGetFloat(Key(props, u"ShadowDistance"), 1.5)));
  SetShadowAngle(IniGetFloat(Key(props, u"ShadowAngle"), 45.0));
  ShadowSpreadIndex = IniGetInteger(Key(props, u"ShadowSpreadIndex"), 0);
  Shadow3D = IniGetBool(Key(props, u"3DShadow"), false);
  const int32_t hide = IniGetInteger(Key(props, u"HideMode"), 0);
  HideFacing = (hide & 2) != 0;
  HideAway = (hide & 1) != 0;
  ChildInvis = IniGetBool(Key(props, u"ChildInvis"), false);
  Action = props ? props->GetText(u"Action", u"") : std::u16string();
  TKavObjectHost* host = ParentQuery();
  drawn_shadow_color_ = shadow_enable_ && host ? host->TransformColor(ShadowColor) : ShadowColor;
}

void TKavObject::SetShadowEnable(bool v) { SetDrawn(shadow_enable_, v); }

void TKavObject::SetShadowDistance(float v) { SetDrawn(shadow_distance_, v); }

void TKavObject::SetShadowAngle(double v) { SetDrawn(shadow_angle_, v); }

void TKavObject::SetSize(TFloatPoint size) {
  if (size.x != size_.x || size.y != size_.y) Changed = 1;
  size_ = size;
}

void TKavObject::CollectKeyFrames(std::vector<double>& times) const {
  if (props_)
    for (int32_t i = 0; i < props_->KeyFrameCount(); ++i) {
      const double t = props_->GetKeyFrame(i)->Time();
      if (std::find(times.begin(), times.end(), t) == times.end()) times.push_back(t);
    }
  for (const Ref<TKavObject>& c : children_) c->CollectKeyFrames(times);
}

bool TKavObject::StillFrom(double time) const { return std::isinf(NextChange(time)); }

double TKavObject::NextChange(double time, bool clock_runs) const {
  if (std::isnan(time)) return time;
  TKavSlide* slide = const_cast<TKavObject*>(this)->GetSlide();
  const double window_end = slide ? slide->NextEffectBegin + slide->EffectOut - slide->SlideBegin : kInfinity;
  return NextChangeIn(time, clock_runs, window_end);
}

double TKavObject::NextChangeIn(double time, bool clock_runs, double window_end) const {
  constexpr double kEps = 0.00001;  // the visibility test's tolerance
  double next = kInfinity;
  // The visible window (the layout's test: start <= time <= end).
  const double start = props_ ? props_->DeltaTime1() : 0.0;
  const double end = window_end - (props_ ? props_->DeltaTime2() : 0.0);
  const bool visible = time - start > -kEps && time - end < kEps;
  // A window open to the slide's end closes with the slide.
  if (clock_runs && start <= end) {
    if (!visible && time < start) next = start;
    else if (visible && end < window_end - kEps) next = std::max(time, end);
  }
  // What plays by itself changes only while it is drawn.
  if (PlaysByItself()) {
    if (visible) return time;
    if (clock_runs && time < start && start <= end) next = std::min(next, start);
  }
  if (props_) {
    const int32_t n = props_->KeyFrameCount();
    uint32_t seen = 0;  // groups that have a keyframe before the one looked at
    for (int32_t i = 0; i < n; ++i) {
      const TKavKeyFrame* k = props_->GetKeyFrame(i);
      if (!k) continue;
      const uint32_t groups = k->GroupMask() & kAllGroupsMask;
      // A modifier applies from its keyframe on (from the start when it is
      // its group's first keyframe) and may change with every evaluation.
      if (k->ModCount() > 0) {
        const bool first = (groups & ~seen) != 0 || groups == 0;
        if (first || k->Time() <= time) return time;
        if (clock_runs) next = std::min(next, k->Time());
      }
      seen |= groups;
    }
    if (clock_runs)
      for (int32_t g = 0; g < kKeyGroupCount; ++g) {
        // A group holds its first keyframe's values before it and its last
        // one's after it; between two keyframes it moves.
        double first = kInfinity, last = -kInfinity;
        int32_t count = 0;
        for (int32_t i = 0; i < n; ++i) {
          const TKavKeyFrame* k = props_->GetKeyFrame(i);
          if (!k || !k->Animates(g)) continue;
          first = std::min(first, k->Time());
          last = std::max(last, k->Time());
          ++count;
        }
        if (count < 2 || !(time < last)) continue;
        if (time >= first) return time;
        next = std::min(next, first);
      }
  }
  for (const Ref<TKavObject>& c : children_) {
    if (!c) continue;
    next = std::min(next, c->NextChangeIn(time, clock_runs, window_end));
    if (next <= time) return time;
  }
  return next;
}

// ---- Slide root ----------------------------------------------------------------

TKavSlide::TKavSlide(TKavObjectHost* host, TKavObjectProps* props) : TKavObject(nullptr, props) {
  KAV_ASSERT(host != nullptr);
  host_ = Ref<TKavObjectHost>(host);
}

void TKavSlide::Dispose() {
  // The children go while the host is still there to cancel their tasks.
  own_list_.clear();
  alt_list_.clear();
  std::vector<Ref<TKavObject>> children;
  children.swap(children_);
  children.clear();
  host_.reset();
  TKavObject::Dispose();
}

double TKavSlide::OriginTime(int32_t origin) {
  switch (origin) {
    case 0: return SlideBegin;
    case 1: return SlideBegin + EffectIn;
    case 2: return NextEffectBegin;
    case 3: return NextEffectBegin + EffectOut;
    default: KAV_ASSERT_FAIL("Unknown time origin"); return 0;
  }
}

TKavFrame TKavSlide::CopyTransform() {
  TKavFrame f;
  f.Valid = InitFrame3D(f.Frame, OriginPoint, Vector3(1, 0, 0), Vector3(0, 1, 0), Vector3(0, 0, 1));
  return f;
}

void TKavSlide::UpdateAtTime(bool recursive, double time) {
  slide_time_ = time - SlideBegin;
  TKavObject::UpdateAtTime(recursive, time);
}

void TKavSlide::Calculate(bool recursive) {
  if (!set_up_) SetUpSlide();
  const double d = -double(host_->CameraPosition().z);
  const double h = Size().y;
  depth_factor_ = d > 0 && h > 0 ? float(kTan30 / h * d) : float(kTan30);
  TKavObject::Calculate(recursive);
}

}  // namespace kav
