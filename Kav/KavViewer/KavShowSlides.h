// Slide production as the engine's slide loader drives it: the loader's
// window of prepared slides over the slide producer and its slide cache,
// each produced slide handed to the engine as a prepared slide, and the
// show's slide host with the show's video clips.
//
// Threads: the window advances on the slide-loader thread; the prepared
// slides are laid out, prepared and hit-tested on the engine thread.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "KavLib2/KavEngine/KavSlideLoader.h"
#include "KavLib2/KavObjects/KavSlideProducer.h"
#include "KavLib2/KavVideo/KavExtractorWrapper.h"
#include "KavLib2/KavVideo/KavVideo.h"

namespace kav {

// The show time as the loader's timing holds it.
class TLoaderShowTiming : public ITiming {
 public:
  explicit TLoaderShowTiming(TLoaderTiming* timing) : timing_(timing) {}
  double Time() override { return timing_ ? timing_->Time.load() : 0; }

 private:
  Ref<TLoaderTiming> timing_;
};

class TShowSlideWindow;

// One produced slide as the engine sees it.
class TProducedSlide : public TPreparedSlide {
 public:
  TProducedSlide(TDrawContainer* container, TLoaderTiming* timing, TShowSlideWindow* window);

  TDrawContainer* Container() const noexcept { return container_.get(); }

  TDrawItem* Object() override { return container_->Slide.get(); }
  double GetTime() override { return timing_->Time.load(); }
  void SetTime(double t) override { container_->SetTime(t); }
  TDrawFilterParams* Transition() override;
  double TransitionProgress() override;
  double NextChange(double t, bool clock_runs) override;
  void PrepareOn(TDeviceDrawer* drawer) override;
  void PreloadOn(TDeviceDrawer* drawer, double slide_time) override;
  void ReleaseDeviceResources() override;
  bool ProcessMouse(const TEngineMouseState& mouse, TKavAction& action, bool& link) override;

 protected:
  void Dispose() override;

 private:
  Ref<TDrawContainer> container_;
  Ref<TLoaderTiming> timing_;
  TShowSlideWindow* window_;  // not owned: the window outlives what it hands out while it runs
  std::mutex lock_;           // the visitor
  std::unique_ptr<TDrawerResourceVisitor> visitor_;
  TDeviceDrawer* prepared_on_ = nullptr;
};

// The loader's window over the slide producer and its cache.
class TShowSlideWindow : public TSlideWindowProducer {
 public:
  TShowSlideWindow(TKavSource* source, TLoaderTiming* timing, int32_t window_count);

  TSlideProducer* Producer() const noexcept { return producer_.get(); }

  int32_t WindowCount() const override;
  void AdvanceSlideWindow(double time) override;
  bool WindowSettled() const override { return settled_.load(); }
  void SetAspectRatio(TSize size, double scale, double x_percent, double y_percent) override;
  TRect GetVisibleRect() override;
  Ref<TDrawItem> CreateCustomDialog(const std::u16string& name) override;

 protected:
  void Dispose() override;

 private:
  void CacheChanged(TSlideCache* cache, TDrawContainer* const* slides, int32_t count, int32_t kind);
  void CacheAdded(TSlideCache* cache, TDrawContainer* container);
  Ref<TProducedSlide> SlideOf(TDrawContainer* container);

  Ref<TLoaderTiming> timing_;
  Ref<TSlideProducer> producer_;
  Ref<TSlideCache> cache_;
  std::mutex lock_;  // the producer, the cache and the wrappers
  std::map<TDrawContainer*, Ref<TProducedSlide>> slides_;
  // What the last advance changed, handed on after the lock is let go.
  std::vector<Ref<TProducedSlide>> added_;
  std::vector<Ref<TProducedSlide>> window_;
  bool changed_ = false;
  std::atomic<bool> settled_{false};
  std::mutex rect_lock_;
  TRect visible_{0, 0, 0, 0};
};

// The show's slide host with the show's video clips.
class TShowSlideHost : public TKavSlideHost, public TKavVideoHost {
 public:
  using TKavSlideHost::TKavSlideHost;
  TExtractorList* VideoClips() override;
  TIniFile* Project() override { return project_.get(); }
  void SetProject(TIniFile* project) { project_ = Ref<TIniFile>(project); }

 protected:
  void Dispose() override;

 private:
  std::mutex lock_;
  Ref<TExtractorList> clips_;
  Ref<TIniFile> project_;
};

// Installs the slide host factory and the loader's window factory.
void InstallShowSlides();

// Once per process, in start-up order: text readers, picture loaders, the
// text layer, transitions, the slide object kinds (video in front), video
// sources, custom transitions and slide production.
void InstallShowServices();

}  // namespace kav
