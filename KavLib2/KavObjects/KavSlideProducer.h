// Slide production: the slide producer turns the show source into prepared
// slides (a slide object with its timing and transition), fixes the visible
// size of the show on the output (aspect, fit or cover, fixed size), builds
// custom dialogs and the slides that serve as custom transitions. The slide
// cache keeps a small window of prepared slides around the show time.
//
// Threads: production and the window run on the slide-loader thread;
// TDrawContainer::SetTime runs on the engine thread.
#pragma once

#include <array>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavObjects/KavSlide.h"
#include "KavLib2/KavObjects/KavSlideHost.h"

namespace kav {

// The show time as the engine sets it.
class ITiming : public TRefObject {
 public:
  virtual double Time() = 0;
};

class TTiming : public ITiming {
 public:
  explicit TTiming(double value = 0) : Value(value) {}
  double Time() override { return Value; }
  double Value;
};

// A custom dialog shown as a slide.
class TKavDialog : public TKavSlide {
 public:
  using TKavSlide::TKavSlide;
  bool DialogPause = true;
  std::u16string Name;
  float ScaleValue = 100.0f;
  float GetScalePercent() override { return ScaleValue; }
  // The dialog's children in order, then itself.
  void Draw(TDeviceDrawer* drawer) override;
};

// One prepared slide.
class TDrawContainer : public TRefObject {
 public:
  Ref<ITiming> Timing;
  TSlideTiming SlideTiming;
  double LoopOffset = 0;
  Ref<TKavSlide> Slide;       // nil when the slide's section is missing
  // Its transition as the draw manager takes it (description, length,
  // soft edge, time); nil without a slide.
  Ref<TKavFilter> Filter;
  int32_t Index = 0;          // in loop numbering

  // The slide at the show time less the loop offset; the transition's
  // time from the container's begin.
  void SetTime(double show_time);

 protected:
  void Dispose() override;
};

class TSlideProducer : public TRefObject {
 public:
  // Asserts a source. Without a host, makes one on the source's accessor
  // with the producer's callbacks and [Main] PathToButtons as theme folder.
  TSlideProducer(TKavSource* source, TKavSlideHost* host, const TKavSlideHost::TEffectResourceFill& fill,
                 bool owns_source);

  TKavSource* Source() const noexcept { return source_.get(); }
  TKavSlideHost* Host() const noexcept { return host_.get(); }
  Ref<ITiming> CurrentTiming;

  // The visible size from the output size: the design aspect (current
  // projects) or the output's (older ones, or opt_scr_ratio), fit or cover,
  // the scale percentages; a fixed-size show keeps its design size.
  void SetAspectRatio(TSize output, bool cover, float scale_x, float scale_y);
  void SetScreenSize(int32_t width, int32_t height);
  TRect GetVisibleRect() const;
  TSize GetVisibleSize() const noexcept { return visible_; }
  double Aspect() const noexcept { return aspect_; }
  bool IsCover() const noexcept { return fit_mode_ == 1; }

  // The prepared slide of an index in loop numbering (-1: before the show).
  Ref<TDrawContainer> ProduceSlide(int32_t index);
  // A slide for a custom transition's section (nil for nil).
  Ref<TKavSlide> CreateSlide(TIniList* section);
  // A custom dialog by name ("help": the first dialog marked as help).
  Ref<TKavDialog> CreateCustomDialog(const std::u16string& name);
  // The window of slides around a show time (rounded to whole ms).
  void SlideIndexAtTime(double time, int32_t& first, int32_t& last);
  // The last index a window reaches: the last slide of a show without
  // length (the first when nothing is counted), else no bound.
  int32_t LastWindowIndex() const;

 protected:
  void Dispose() override;

 private:
  TIniList* Section(const std::u16string& name);
  TVector3 Camera();
  TSize EffectBuffer();
  void UpdateVisibleSize();
  Ref<TKavSlide> NewSlide(bool dialog);
  double EndPlusNext(int32_t index) const;

  Ref<TKavSource> source_;
  bool owns_source_ = false;
  Ref<TKavSlideHost> host_;
  TSize output_{0, 0};
  float scale_x_ = 100, scale_y_ = 100;
  double aspect_ = 16.0 / 9.0;
  int32_t fit_mode_ = 0;  // 0 fit inside, 1 cover, 2 stretch
  TFloatPoint centre_;
  TSize visible_{0, 0};
  TSize design_{0, 0};
  bool fixed_size_ = false;
  bool fixed_cover_ = false;
  int32_t cursor_ = 0;
};

// The prepared slides around the show time (a window of 1 to 3).
class TSlideCache : public TRefObject {
 public:
  using TOnChange = TDelegate<void(TSlideCache* cache, TDrawContainer* const* slides, int32_t count, int32_t kind)>;
  using TOnAdd = TDelegate<void(TSlideCache* cache, TDrawContainer* container)>;

  // Asserts a producer and 1 <= window <= 3.
  TSlideCache(TSlideProducer* producer, int32_t window, bool owns);
  void Clear();
  int32_t Count() const noexcept { return count_; }
  TDrawContainer* Get(int32_t n) const noexcept { return n >= 0 && n < count_ ? slides_[size_t(n)].get() : nullptr; }
  TSlideProducer* Producer() const noexcept { return producer_.get(); }
  TOnChange OnChange;
  TOnAdd OnAdd;

 protected:
  void Dispose() override;

 private:
  friend bool AdvanceSlideWindow(TSlideCache* cache, double time);
  friend bool TrimSlideWindow(TSlideCache* cache, double time);
  void Delete(int32_t n);
  void Insert(Ref<TDrawContainer> container);
  void Changed();

  Ref<TSlideProducer> producer_;
  int32_t window_ = 1;
  int32_t first_ = -2147483647, last_ = 0;
  int32_t count_ = 0;
  std::array<Ref<TDrawContainer>, 3> slides_;
};

// Drops the prepared slides outside the window at the time and prepares the
// first missing one; false when the window is complete.
bool AdvanceSlideWindow(TSlideCache* cache, double time);
// The dropping part of AdvanceSlideWindow alone; true when a slide went.
bool TrimSlideWindow(TSlideCache* cache, double time);

// A transition that plays a custom effect slide: its images that stand for
// the effect buffers (ReplaceWithEffectBuffer 1 and 2) show the outgoing
// and incoming pictures the effecter rendered.
class TRealSlideFilter : public TSlideEffFilter {
 public:
  bool TransparentBg = false;
  int32_t CustomEffBg = 0;
  Ref<TKavSlide> EffectSlide;
  float Position = 0;

  // The effect slide at begin + (end - begin) x p.
  void SetPosition(float p);
  // Takes the outgoing (A) or incoming (B) slide's background by
  // CustomEffBg: 1 A's, 2 B's, 3 A's fading to B's.
  void Prepare(TKavSlide* outgoing, TKavSlide* incoming);

  void SetProgress(double p) override { SetPosition(float(p)); }
  void SetItems(TDrawItem* from, TDrawItem* to) override;
  // Attaches the effecter's two targets to the buffer images.
  void Bind(TCustomD3DEffecter* effecter) override;
  TDrawItem* FrameItem() override { return EffectSlide.get(); }
  // Detaches the targets again.
  void FrameDone() override;

 protected:
  void Dispose() override;

 private:
  void Attach(TKavObject* o, TCustomD3DEffecter* effecter);
  std::vector<std::pair<TImage*, TCustomTexture*>> attached_;
};

// The producer the slide-effect hook shares: a new one when the source
// differs (nil source: released).
TSlideProducer* GetSharedSlideProducer(TKavSource* source, TKavSlideHost* host);
// The slide-effect hook: a filter playing the custom section on a slide
// made like the effect slide `effect_slide`; nil without a section (the
// transition factory then takes its plain fade).
Ref<TRealSlideFilter> CreateSlideEffectFilter(TKavSlide* effect_slide, TIniList* section);
using TSlideEffectHook = Ref<TRealSlideFilter> (*)(TKavSlide* effect_slide, TIniList* section);
// The installed hook (CreateSlideEffectFilter after RegisterSlideEffectHook,
// which also installs it as the transition factory's custom-effect hook).
TSlideEffectHook SlideEffectHook() noexcept;
void RegisterSlideEffectHook();

}  // namespace kav
