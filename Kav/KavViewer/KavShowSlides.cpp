#include "Kav/KavViewer/KavShowSlides.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

#include "KavLib2/3DEngine/MaskGenerator.h"
#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "KavLib2/KavClasses/KavImageTasks.h"
#include "KavLib2/KavClasses/KavObjectActions.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/Graphics/Video/vxVideoSource.h"
#include "VoRav/Text/vxTextProducer2.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxTextReader.h"

namespace kav {

// ---- Produced slide ------------------------------------------------------------

TProducedSlide::TProducedSlide(TDrawContainer* container, TLoaderTiming* timing, TShowSlideWindow* window)
    : container_(container), timing_(timing), window_(window) {
  Index = container->Index;
  const TSlideTiming& t = container->SlideTiming;
  Times.Begin = t.Begin;
  Times.End = t.End;
  Times.EffectTime = t.EffectTime;
  Times.NextEffectTime = t.NextEffectTime;
  Times.EndPlusNext = t.EndPlusNext;
}

void TProducedSlide::Dispose() {
  ReleaseDeviceResources();
  container_ = nullptr;
  timing_ = nullptr;
  TPreparedSlide::Dispose();
}

TDrawFilterParams* TProducedSlide::Transition() {
  // A transition of no length or without a description is a cut.
  TKavFilter* f = container_->Filter.get();
  if (!f || !f->Effect || !(f->Duration > 0)) return nullptr;
  return f;
}

double TProducedSlide::TransitionProgress() {
  TKavFilter* f = container_->Filter.get();
  if (!f || !(f->Duration > 0)) return 1;
  return std::clamp(f->Time / f->Duration, 0.0, 1.0);
}

double TProducedSlide::NextChange(double t, bool clock_runs) {
  TKavSlide* slide = container_->Slide.get();
  if (!slide || slide->Live) return t;
  const double offset = container_->LoopOffset + slide->SlideBegin;
  const double next = slide->NextChange(t - offset, clock_runs) + offset;
  return next > t ? next : t;
}

void TProducedSlide::PrepareOn(TDeviceDrawer* drawer) {
  TKavSlide* slide = container_->Slide.get();
  if (!slide || !drawer) return;
  std::lock_guard<std::mutex> lock(lock_);
  // The slide remembers the visitor that prepared it: one per drawer, kept
  // until the slide's resources are released.
  if (prepared_on_ != drawer || !visitor_) {
    if (visitor_) slide->ReleaseResources(visitor_.get());
    visitor_ = std::make_unique<TDrawerResourceVisitor>(drawer);
    prepared_on_ = drawer;
  }
  slide->PrepareResources(visitor_.get());
}

void TProducedSlide::PreloadOn(TDeviceDrawer* drawer, double /*slide_time*/) {
  PrepareOn(drawer);
}

void TProducedSlide::ReleaseDeviceResources() {
  std::lock_guard<std::mutex> lock(lock_);
  if (!visitor_) return;
  if (container_ && container_->Slide) container_->Slide->ReleaseResources(visitor_.get());
  visitor_.reset();
  prepared_on_ = nullptr;
}

bool TProducedSlide::ProcessMouse(const TEngineMouseState& mouse, TKavAction& action, bool& link) {
  link = false;
  TKavSlide* slide = container_->Slide.get();
  if (!slide) return false;
  // The engine's points are in the window; the slide's start at the
  // visible rectangle.
  const TRect visible = window_ ? window_->GetVisibleRect() : TRect{0, 0, 0, 0};
  TObjectAction parsed;
  TKavObject* hit = slide->ProcessMouse(float(mouse.X - visible.Left), float(mouse.Y - visible.Top), mouse.Shift, true,
                                        mouse.Kind, mouse.Button, parsed);
  if (!hit) return false;
  link = ParseObjectAction(hit->Action).Kind != kActionNone;
  if (parsed.Kind != kActionNone) {
    // The object action codes are the action record's kinds.
    action.Kind = uint8_t(parsed.Kind);
    action.Int = parsed.SlideIndex;
    action.Text = parsed.Argument;
  }
  return true;
}

// ---- Window --------------------------------------------------------------------

TShowSlideWindow::TShowSlideWindow(TKavSource* source, TLoaderTiming* timing, int32_t window_count)
    : timing_(timing) {
  producer_ = MakeRef<TSlideProducer>(source, nullptr, TKavSlideHost::TEffectResourceFill(), false);
  producer_->CurrentTiming = MakeRef<TLoaderShowTiming>(timing);
  if (auto* host = dynamic_cast<TShowSlideHost*>(producer_->Host())) host->SetProject(source->Ini());
  // Pictures' shadows are made on the host's image-task worker; without it
  // the objects make them at once on the loader's thread.
  if (TKavSlideHost* host = producer_->Host(); host && !host->StartImageTasks())
    LogLine(u"Slides: the image-task worker could not start; shadows are made while loading");
  visible_ = producer_->GetVisibleRect();
  cache_ = MakeRef<TSlideCache>(producer_.get(), std::clamp(window_count, 1, 3), false);
  cache_->OnChange = TSlideCache::TOnChange::Bind<&TShowSlideWindow::CacheChanged>(this);
  cache_->OnAdd = TSlideCache::TOnAdd::Bind<&TShowSlideWindow::CacheAdded>(this);
}

void TShowSlideWindow::Dispose() {
  // The image-task worker loads through the host and calls back into the
  // slides' objects: it ends before the slides and the host go.
  if (TKavSlideHost* host = producer_ ? producer_->Host() : nullptr; host && host->TaskQueue)
    StopImageTasks(host->TaskQueue.get());
  if (cache_) {
    cache_->OnChange = {};
    cache_->OnAdd = {};
    cache_->Clear();
  }
  {
    std::lock_guard<std::mutex> lock(lock_);
    slides_.clear();
  }
  cache_ = nullptr;
  producer_ = nullptr;
  timing_ = nullptr;
  TSlideWindowProducer::Dispose();
}

int32_t TShowSlideWindow::WindowCount() const { return cache_ ? cache_->Count() : 0; }

void TShowSlideWindow::AdvanceSlideWindow(double time) {
  // Fills the whole window in one step (at most three slides), so a jump
  // shows its slide without waiting for further loader passes. Each slide
  // is prepared and the window handed on as soon as that slide is made: the
  // slide of the time (made first) is shown while the ones after it are
  // still being made. Slides that left the window are handed back first, so
  // their pictures and textures go before the next slide's are made.
  bool settled = true;
  for (int n = -1; n < 3; ++n) {
    std::vector<Ref<TProducedSlide>> added;
    std::vector<Ref<TProducedSlide>> window;
    bool changed = false;
    bool more = false;
    {
      std::lock_guard<std::mutex> lock(lock_);
      more = n < 0 ? kav::TrimSlideWindow(cache_.get(), time) : kav::AdvanceSlideWindow(cache_.get(), time);
      added.swap(added_);
      window.swap(window_);
      changed = std::exchange(changed_, false);
    }
    if (more || changed || !added.empty()) settled = false;
    // Handed on outside the lock: the loader waits in them for the engine,
    // which asks this window for its visible rectangle while it draws.
    if (OnSlidePrepared)
      for (const auto& slide : added) OnSlidePrepared(slide.get());
    if (changed && OnWindow) {
      TPreparedSlide* list[3] = {};
      const int32_t count = int32_t(std::min<size_t>(window.size(), 3));
      for (int32_t i = 0; i < count; ++i) list[i] = window[size_t(i)].get();
      OnWindow(list, count);
    }
    if (!more && n >= 0) break;
  }
  settled_ = settled;
}

void TShowSlideWindow::SetAspectRatio(TSize size, double /*scale*/, double x_percent, double y_percent) {
  std::lock_guard<std::mutex> lock(lock_);
  producer_->SetAspectRatio(size, producer_->IsCover(), float(x_percent), float(y_percent));
  std::lock_guard<std::mutex> hold(rect_lock_);
  visible_ = producer_->GetVisibleRect();
}

TRect TShowSlideWindow::GetVisibleRect() {
  // A copy: the engine asks while it draws, which must not wait for the
  // production of a slide.
  std::lock_guard<std::mutex> hold(rect_lock_);
  return visible_;
}

Ref<TDrawItem> TShowSlideWindow::CreateCustomDialog(const std::u16string& name) {
  std::lock_guard<std::mutex> lock(lock_);
  Ref<TKavDialog> dialog = producer_->CreateCustomDialog(name);
  return Ref<TDrawItem>(dialog.get());
}

Ref<TProducedSlide> TShowSlideWindow::SlideOf(TDrawContainer* container) {
  auto it = slides_.find(container);
  if (it != slides_.end()) return it->second;
  auto slide = MakeRef<TProducedSlide>(container, timing_.get(), this);
  slides_[container] = slide;
  return slide;
}

void TShowSlideWindow::CacheAdded(TSlideCache*, TDrawContainer* container) {
  if (!container) return;
  added_.push_back(SlideOf(container));
}

void TShowSlideWindow::CacheChanged(TSlideCache*, TDrawContainer* const* slides, int32_t count, int32_t) {
  count = std::clamp(count, 0, 3);
  Ref<TProducedSlide> window[3];
  for (int32_t n = 0; n < count; ++n)
    if (slides[n]) window[n] = SlideOf(slides[n]);
  // Wrappers of slides that left the window go with them.
  for (auto it = slides_.begin(); it != slides_.end();) {
    bool kept = false;
    for (int32_t n = 0; n < count && !kept; ++n) kept = slides[n] == it->first;
    it = kept ? std::next(it) : slides_.erase(it);
  }
  window_.clear();
  for (int32_t n = 0; n < count; ++n)
    if (window[n]) window_.push_back(window[n]);
  changed_ = true;
}

// ---- Host with clips -------------------------------------------------------------

TExtractorList* TShowSlideHost::VideoClips() {
  std::lock_guard<std::mutex> lock(lock_);
  if (!clips_) clips_ = MakeRef<TExtractorList>(Accessor());
  return clips_.get();
}

void TShowSlideHost::Dispose() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    clips_ = nullptr;
    project_ = nullptr;
  }
  TKavSlideHost::Dispose();
}

namespace {

Ref<TKavSlideHost> MakeShowHost(TFileAccessor* accessor, const TKavSlideHost::TEffectResourceFill& fill,
                                const TKavSlideHost::TSectionQuery& section_query,
                                const TKavSlideHost::TCameraQuery& camera_query,
                                const TKavSlideHost::TEffectBufferQuery& buffer_query,
                                const std::u16string& theme_folder) {
  return MakeRef<TShowSlideHost>(accessor, fill, nullptr, false, section_query, camera_query, buffer_query,
                                 theme_folder);
}

}  // namespace

void InstallShowSlides() {
  SetSlideHostFactory(&MakeShowHost);
  SetSlideWindowFactory([](TKavSource* source, TLoaderTiming* timing, int32_t window_count, int32_t,
                           int32_t) -> Ref<TSlideWindowProducer> {
    return MakeRef<TShowSlideWindow>(source, timing, window_count);
  });
}

void InstallShowServices() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterStandardTextReaders();
    RegisterImageLoaders();
    InstallTextServices();
    InstallTransitions();
    RegisterKavObjectFactories();
    RegisterKavVideoObject();
    RegisterVideoSources();
    RegisterSlideEffectHook();
    InstallShowSlides();
  });
}

}  // namespace kav
