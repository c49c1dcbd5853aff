#include "KavLib2/KavObjects/KavSlideProducer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#include "KavLib2/KavClasses/KavSlideOrder.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

int32_t RoundInt(double v) {
  if (!(v > -2147483647.0)) return v != v ? 0 : -2147483647;
  if (!(v < 2147483647.0)) return 2147483647;
  return int32_t(std::nearbyint(v));
}

TIniList* MainSection(TKavSource* source) { return source->Ini()->FindSection(u"Main"); }

}  // namespace

// ---- Dialogs and containers ----------------------------------------------------

void TKavDialog::Draw(TDeviceDrawer* drawer) {
  // A dialog draws no background of its own: its children, then its state.
  for (size_t i = 0; i < size_t(ChildCount()); ++i) {
    Ref<TKavObject> child(GetChild(int32_t(i)));
    drawer->Render(child.get());
  }
  CommitState(false);
}

void TDrawContainer::Dispose() {
  Slide.reset();
  Filter.reset();
  Timing.reset();
  TRefObject::Dispose();
}

void TDrawContainer::SetTime(double show_time) {
  if (Slide) Slide->SetSlideTime(show_time - LoopOffset);
  if (Filter) Filter->Time = show_time - SlideTiming.Begin;
}

// ---- Producer ------------------------------------------------------------------

TSlideProducer::TSlideProducer(TKavSource* source, TKavSlideHost* host, const TKavSlideHost::TEffectResourceFill& fill,
                               bool owns_source)
    : source_(source), owns_source_(owns_source) {
  KAV_ASSERT(source != nullptr);
  TIniList* main = MainSection(source);
  const std::u16string theme_folder = IniGetString(IniFindKey(main, u"PathToButtons"));
  if (host) {
    host_ = Ref<TKavSlideHost>(host);
  } else {
    host_ = CreateSlideHost(source->Accessor(), fill, TKavSlideHost::TSectionQuery::Bind<&TSlideProducer::Section>(this),
                            TKavSlideHost::TCameraQuery::Bind<&TSlideProducer::Camera>(this),
                            TKavSlideHost::TEffectBufferQuery::Bind<&TSlideProducer::EffectBuffer>(this),
                            theme_folder);
  }
  design_ = TSize{IniGetInteger(IniFindKey(main, u"opt_scr_width"), 0),
                  IniGetInteger(IniFindKey(main, u"opt_scr_height"), 0)};
  fixed_size_ = IniGetBool(IniFindKey(main, u"opt_scr_fullfixedsize"), false);
  host_->SlideCount = source->SlideCount();
  SetScreenSize(design_.cx, design_.cy);
}

void TSlideProducer::Dispose() {
  host_.reset();
  source_.reset();
  CurrentTiming.reset();
  TRefObject::Dispose();
}

TIniList* TSlideProducer::Section(const std::u16string& name) { return source_->Ini()->FindSection(name); }

TVector3 TSlideProducer::Camera() {
  // A 60 degree view over the visible height, looking at the output's centre.
  const double h = visible_.cy > 0 ? visible_.cy : 1080;
  return Vector3(centre_.x, centre_.y, float(-h / 2.0 / kTan30));
}

TSize TSlideProducer::EffectBuffer() { return visible_; }

void TSlideProducer::SetScreenSize(int32_t width, int32_t height) {
  design_ = TSize{width, height};
  host_->EffectBufferWidth = width;
  host_->EffectBufferHeight = height;
}

void TSlideProducer::SetAspectRatio(TSize output, bool cover, float scale_x, float scale_y) {
  TIniList* main = MainSection(source_.get());
  const double output_aspect = output.cy < 1 ? 1.333333333 : double(output.cx) / output.cy;
  if (IniGetInteger(IniFindKey(main, u"MinorVersion"), 13) >= 13) {
    // Departure: a design size of 0 would divide by zero; the output's shape
    // stands in instead of the assertion "ZeroSize of Presentation!", so a
    // damaged project still plays.
    aspect_ = design_.cy >= 1 && design_.cx >= 1 ? double(design_.cx) / design_.cy : output_aspect;
  } else {
    aspect_ = output_aspect;
    const double ratio = IniGetFloat(IniFindKey(main, u"opt_scr_ratio"), 0.0);
    if (IniFindKey(main, u"opt_scr_ratio")) aspect_ = ratio;
  }
  // A ratio that is not a positive number (from the project) takes the
  // output's.
  if (!(aspect_ > 0) || !std::isfinite(aspect_)) aspect_ = output_aspect;
  fit_mode_ = cover ? 1 : 0;
  fixed_cover_ = cover;
  output_ = output;
  centre_ = FloatPoint(output.cx * 0.5f, output.cy * 0.5f);
  scale_x_ = scale_x;
  scale_y_ = scale_y;
  UpdateVisibleSize();
}

void TSlideProducer::UpdateVisibleSize() {
  if (fixed_size_) {
    visible_ = fixed_cover_ ? FitSizeInside(design_, output_) : FitSizeNoEnlarge(design_, output_);
    return;
  }
  const double sx = scale_x_ > 0 ? scale_x_ : 100.0, sy = scale_y_ > 0 ? scale_y_ : 100.0;
  const double W = RoundInt(output_.cx / sx * 100), H = RoundInt(output_.cy / sy * 100);
  double vw = RoundInt(H * aspect_), vh = H;
  switch (fit_mode_) {
    case 0: {
      const double k = vw == 0 || vh == 0 ? 0 : std::min(W / vw, H / vh);
      if (k != 1) vw = RoundInt(vw * k), vh = RoundInt(vh * k);
      break;
    }
    case 1: {
      // An empty output or picture would divide by zero: nothing is visible.
      if (vw == 0 || vh == 0 || W == 0 || H == 0) {
        vw = vh = 0;
        break;
      }
      const double k = 1.0 / std::min(vw / W, vh / H);
      if (k != 1) vw = RoundInt(vw * k), vh = RoundInt(vh * k);
      break;
    }
    default:
      vw = W;
      vh = H;
      break;
  }
  int32_t w = RoundInt(vw * sx / 100), h = RoundInt(vh * sy / 100);
  if (w % 2 != 0 && w < output_.cx) ++w;
  if (h % 2 != 0 && h < output_.cy) ++h;
  visible_ = TSize{w, h};
}

TRect TSlideProducer::GetVisibleRect() const {
  const int32_t left = RoundInt(centre_.x - visible_.cx / 2.0), top = RoundInt(centre_.y - visible_.cy / 2.0);
  TRect r{std::max(left, 0), std::max(top, 0), std::min(left + visible_.cx, output_.cx),
          std::min(top + visible_.cy, output_.cy)};
  if (r.Right <= r.Left || r.Bottom <= r.Top) return TRect{0, 0, 0, 0};
  return r;
}

Ref<TKavSlide> TSlideProducer::NewSlide(bool dialog) {
  Ref<TKavObjectProps> props = MakeRef<TKavObjectProps>();
  Ref<TKavSlide> slide = dialog ? Ref<TKavSlide>(MakeRef<TKavDialog>(host_.get(), props.get()))
                                : MakeRef<TKavSlide>(host_.get(), props.get());
  // The slide is the visible size itself (its own scale stays 100).
  slide->SetSize(FloatPoint(float(visible_.cx), float(visible_.cy)));
  slide->OriginPoint = Vector3(centre_.x, centre_.y, 0);
  slide->OwnerObject = this;
  return slide;
}

Ref<TDrawContainer> TSlideProducer::ProduceSlide(int32_t index) {
  KAV_ASSERT_MSG(CurrentTiming != nullptr, "TSlideProducer.CurrentTiming not Assigned");
  Ref<TDrawContainer> c = MakeRef<TDrawContainer>();
  c->Timing = CurrentTiming;
  source_->GetSlideTiming(index, c->SlideTiming);
  c->Index = index;
  LogLine(u"....................................... " + IntToStr(index));
  const int32_t count = source_->SlideCount();
  int32_t i = index;
  if (count > 0 && i >= count) {
    const int32_t loop = i / count;
    i %= count;
    c->LoopOffset = loop * source_->Duration();
  }
  TIniFile* ini = source_->Ini();
  TIniList* main = ini->FindSection(u"Main");
  TIniList* times = ini->FindSection(u"Times");
  // Departure: a show without slides gives containers without a slide
  // instead of the assertion "No Slides in Presentation" (the engine then
  // shows nothing rather than failing every production).
  if (i >= 0) {
    TIniList* section = GetSlideSection(ini, i);
    if (!section) return c;
    TSlideTiming t;
    source_->GetSlideTiming(i, t);
    Ref<TKavSlide> slide = NewSlide(false);
    // Departure: out = the next slide's transition, in = its own, so the slide stays whole until it leaves.
    slide->LoadSlide(main, section, times, false, t.NextEffectTime, t.EffectTime, i);
    slide->SlideIndex = i;
    c->Slide = slide;
    double time = 0;
    float smooth = 0;
    c->Filter = MakeRef<TKavFilter>();
    c->Filter->Effect = source_->GetSlideEffect(i, time, smooth);
    c->Filter->Duration = time;
    c->Filter->EdgeFraction = smooth;
  } else {
    Ref<TKavSlide> slide = NewSlide(false);
    TSlideTiming first;
    source_->GetSlideTiming(0, first);
    slide->SlideBegin = kBeforeShowBegin;
    slide->NextEffectBegin = 0;
    slide->EffectOut = first.EffectTime;
    slide->EffectIn = 0;
    slide->SlideIndex = -1;
    slide->LoadBackground(main, GetSlideSection(ini, 0));
    c->Slide = slide;
  }
  return c;
}

Ref<TKavSlide> TSlideProducer::CreateSlide(TIniList* section) {
  if (!section) return nullptr;
  Ref<TKavSlide> slide = NewSlide(false);
  const double time = IniGetInteger(IniFindKey(section, u"CustomEffTime"), 2000);
  TIniList* main = MainSection(source_.get());
  // Times 0 and the effect time as the slide's out-effect, set before the
  // keyframes are read so that times from the slide's end fall on the
  // effect's end.
  slide->SlideBegin = 0;
  slide->NextEffectBegin = 0;
  slide->LoadSlide(main, section, nullptr, true, time, 0, -1);
  slide->SlideIndex = -1;
  return slide;
}

Ref<TKavDialog> TSlideProducer::CreateCustomDialog(const std::u16string& name) {
  TIniFile* ini = source_->Ini();
  TIniList* main = ini->FindSection(u"Main");
  TIniList* section = nullptr;
  if (name != u"help") {
    std::u16string key = name;
    // The count comes from the project: it is capped.
    const int32_t count = ReadCustomDialogsCount(ini);
    for (int32_t k = 1; k <= count; ++k)
      if (main && IniFindKey(main, u"custom_dialog" + IntToStr(k)) && IniGetString(IniFindKey(main, u"custom_dialog" + IntToStr(k))) == name) {
        key = IntToStr(k) + u"_";
        break;
      }
    section = ini->FindSection(u"dialog_" + key);
  } else {
    for (int32_t k = 1; k <= kMaxCustomDialogsCount; ++k) {
      TIniList* s = ini->FindSection(u"dialog_" + IntToStr(k) + u"_");
      if (!s) break;
      if (IniGetBool(IniFindKey(s, u"help"), false)) {
        section = s;
        break;
      }
    }
  }
  if (!section) return nullptr;
  Ref<TKavSlide> slide = NewSlide(true);
  Ref<TKavDialog> dialog(static_cast<TKavDialog*>(slide.get()));
  dialog->DialogPause = IniGetBool(IniFindKey(section, u"DialogPause"), true);
  dialog->Name = name;
  dialog->LoadSlide(main, section, nullptr, true, 0, 0, -1);
  dialog->SlideBegin = 0;
  dialog->NextEffectBegin = 0;
  dialog->SetTime(true, 0);
  return dialog;
}

double TSlideProducer::EndPlusNext(int32_t index) const {
  TSlideTiming t;
  source_->GetSlideTiming(index, t);
  return std::nearbyint(t.EndPlusNext);
}

int32_t TSlideProducer::LastWindowIndex() const {
  // Departure: a show without length (no slide count, or every slide ending
  // at 0) has all its slides at time 0, and the walk forward would take one
  // more index on every call, through the sections and past them, dropping
  // each slide with what it was still making; its window stops at its last
  // slide (the first when nothing is counted).
  return source_->Duration() > 0 ? INT32_MAX : std::max(source_->SlideCount() - 1, 0);
}

void TSlideProducer::SlideIndexAtTime(double time, int32_t& first, int32_t& last) {
  const double t = std::nearbyint(time);
  const int32_t stop = LastWindowIndex();
  cursor_ = std::min(cursor_, stop);
  // Each step must move the end forward: a show of length 0 would otherwise
  // walk for ever.
  while (cursor_ > -1 && t < EndPlusNext(cursor_ - 1)) --cursor_;
  for (int32_t steps = 0; steps < 1000000 && cursor_ < stop && t > EndPlusNext(cursor_); ++steps) {
    const double before = EndPlusNext(cursor_);
    ++cursor_;
    if (EndPlusNext(cursor_) <= before) break;
  }
  first = last = cursor_;
  TSlideTiming next;
  source_->GetSlideTiming(cursor_ + 1, next);
  if (cursor_ < stop && t >= std::nearbyint(next.Begin) && t < std::nearbyint(next.EndPlusNext)) last = cursor_ + 1;
}

// ---- Cache -----------------------------------------------------------------------

TSlideCache::TSlideCache(TSlideProducer* producer, int32_t window, bool owns) : producer_(producer) {
  KAV_ASSERT(producer != nullptr);
  KAV_ASSERT(window >= 1 && window <= 3);
  window_ = window;
  (void)owns;  // the cache holds a reference either way
}

void TSlideCache::Dispose() {
  Clear();
  producer_.reset();
  TRefObject::Dispose();
}

void TSlideCache::Clear() {
  for (Ref<TDrawContainer>& s : slides_) s.reset();
  count_ = 0;
}

void TSlideCache::Changed() {
  if (!OnChange) return;
  TDrawContainer* list[3] = {slides_[0].get(), slides_[1].get(), slides_[2].get()};
  OnChange(this, list, count_, 2);
}

void TSlideCache::Delete(int32_t n) {
  KAV_ASSERT(n >= 0 && n < count_);
  Ref<TDrawContainer> gone = std::move(slides_[size_t(n)]);
  for (int32_t i = n; i + 1 < count_; ++i) slides_[size_t(i)] = std::move(slides_[size_t(i + 1)]);
  slides_[size_t(--count_)].reset();
  Changed();
}

void TSlideCache::Insert(Ref<TDrawContainer> container) {
  KAV_ASSERT(count_ < 3);
  int32_t at = 0;
  while (at < count_ && slides_[size_t(at)]->Index < container->Index) ++at;
  for (int32_t i = count_; i > at; --i) slides_[size_t(i)] = std::move(slides_[size_t(i - 1)]);
  slides_[size_t(at)] = std::move(container);
  ++count_;
  Changed();
}

bool TrimSlideWindow(TSlideCache* cache, double time) {
  int32_t first = 0, last = 0;
  cache->producer_->SlideIndexAtTime(time, first, last);
  last = int32_t(std::min<int64_t>(int64_t(first) + cache->window_ - 1, cache->producer_->LastWindowIndex()));
  cache->first_ = first;
  cache->last_ = last;
  bool dropped = false;
  for (int32_t n = cache->count_; n-- > 0 && cache->count_ >= 2;) {
    const int32_t index = cache->slides_[size_t(n)]->Index;
    if (index < first || index > last) {
      cache->Delete(n);
      dropped = true;
    }
  }
  return dropped;
}

bool AdvanceSlideWindow(TSlideCache* cache, double time) {
  TrimSlideWindow(cache, time);
  const int32_t first = cache->first_, last = cache->last_;
  for (int32_t i = first; i <= last; ++i) {
    bool have = false;
    for (int32_t n = 0; n < cache->count_ && !have; ++n) have = cache->slides_[size_t(n)]->Index == i;
    if (have) continue;
    if (cache->count_ >= 3) return false;
    Ref<TDrawContainer> c = cache->producer_->ProduceSlide(i);
    if (cache->OnAdd) cache->OnAdd(cache, c.get());
    cache->Insert(std::move(c));
    return true;
  }
  return false;
}

// ---- Custom transitions ------------------------------------------------------------

void TRealSlideFilter::SetPosition(float p) {
  Position = p;
  if (!EffectSlide) return;
  const double begin = EffectSlide->OriginTime(0), end = EffectSlide->OriginTime(3);
  EffectSlide->SetSlideTime(begin + (end - begin) * p);
}

void TRealSlideFilter::Dispose() {
  FrameDone();
  EffectSlide.reset();
  TSlideEffFilter::Dispose();
}

void TRealSlideFilter::SetItems(TDrawItem* from, TDrawItem* to) {
  Prepare(dynamic_cast<TKavSlide*>(from), dynamic_cast<TKavSlide*>(to));
}

void TRealSlideFilter::Attach(TKavObject* o, TCustomD3DEffecter* effecter) {
  if (auto* image = dynamic_cast<TKavImage*>(o);
      image && image->Picture() && (image->ReplaceWithEffectBuffer == 1 || image->ReplaceWithEffectBuffer == 2)) {
    // The drawer draws a picture through a texture found in its notify list.
    TCustomTexture* target = effecter->GetTarget(image->ReplaceWithEffectBuffer - 1);
    if (target) {
      image->Picture()->GetNotifyList()->Add(target);
      attached_.emplace_back(image->Picture(), target);
    }
  }
  for (int32_t i = 0; i < o->ChildCount(); ++i) Attach(o->GetChild(i), effecter);
}

void TRealSlideFilter::Bind(TCustomD3DEffecter* effecter) {
  FrameDone();
  if (EffectSlide && effecter) Attach(EffectSlide.get(), effecter);
}

void TRealSlideFilter::FrameDone() {
  for (auto& [image, target] : attached_) image->GetNotifyList()->Remove(target);
  attached_.clear();
}

void TRealSlideFilter::Prepare(TKavSlide* outgoing, TKavSlide* incoming) {
  if (!EffectSlide || !outgoing || !incoming) return;
  auto take = [&](const TSlideBackground& b) {
    EffectSlide->SetBackStyle(b.Style);
    EffectSlide->SetBackColor1(b.Color1);
    EffectSlide->SetBackColor2(b.Color2);
    EffectSlide->SetBackZoom(b.Zoom);
    EffectSlide->SetBackImageName(b.ImageName);
  };
  switch (CustomEffBg) {
    case 1: take(outgoing->Background()); break;
    case 2: take(incoming->Background()); break;
    case 3:
      take(outgoing->Background());
      EffectSlide->SetBackground(incoming->Background(), Position);
      break;
    default: break;
  }
}

namespace {

std::mutex g_shared_lock;
Ref<TSlideProducer> g_shared;
std::atomic<TSlideEffectHook> g_effect_hook{nullptr};

}  // namespace

TSlideProducer* GetSharedSlideProducer(TKavSource* source, TKavSlideHost* host) {
  std::lock_guard<std::mutex> lock(g_shared_lock);
  if (!source) {
    g_shared.reset();
    return nullptr;
  }
  if (!g_shared || g_shared->Source() != source)
    g_shared = MakeRef<TSlideProducer>(source, host, TKavSlideHost::TEffectResourceFill(), false);
  return g_shared.get();
}

Ref<TRealSlideFilter> CreateSlideEffectFilter(TKavSlide* effect_slide, TIniList* section) {
  if (!section) return nullptr;  // the transition factory's plain fade
  // A slide that no producer made has nothing to make the effect slide from
  // (no plain fade either): no filter.
  auto* producer = effect_slide ? dynamic_cast<TSlideProducer*>(effect_slide->OwnerObject) : nullptr;
  if (!producer) return nullptr;
  const bool cover = IniGetBool(IniFindKey(section, u"CoverMode"), true);
  TSlideProducer* shared = GetSharedSlideProducer(producer->Source(), producer->Host());
  shared->SetScreenSize(IniGetInteger(IniFindKey(section, u"opt_scr_width"), 1920),
                        IniGetInteger(IniFindKey(section, u"opt_scr_height"), 1080));
  const float sx = effect_slide->ScaleX(), sy = effect_slide->ScaleY();
  shared->SetAspectRatio(TSize{RoundInt(effect_slide->Size().x * sx * 0.01), RoundInt(effect_slide->Size().y * sy * 0.01)},
                         cover, sx, sy);
  Ref<TRealSlideFilter> filter = MakeRef<TRealSlideFilter>();
  filter->TransparentBg = IniGetBool(IniFindKey(section, u"TransparentBg"), false);
  filter->CustomEffBg = IniGetInteger(IniFindKey(section, u"CustomEffBg"), 0);
  filter->EffectSlide = shared->CreateSlide(section);
  if (filter->EffectSlide) {
    filter->EffectSlide->EffectBufferSlide = true;
    // The effect's background group stays whole over both backgrounds
    // while one fades into the other.
    filter->EffectSlide->SplitObjectLists(true, true);
  }
  return filter;
}

TSlideEffectHook SlideEffectHook() noexcept { return g_effect_hook.load(); }

namespace {

Ref<TDrawFilter> CustomTransition(TDrawItem* from, TIniSection* custom, bool /*content_size*/) {
  return CreateSlideEffectFilter(dynamic_cast<TKavSlide*>(from), custom);
}

}  // namespace

void RegisterSlideEffectHook() {
  RegisterKavObjectFactories();
  g_effect_hook.store(CreateSlideEffectFilter);
  SetCustomTransitionHook(&CustomTransition);
}

}  // namespace kav
