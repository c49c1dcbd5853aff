// The slide loader: the worker thread that prepares slides ahead of the
// show clock. Every 10 ms it advances the window of prepared slides to the
// engine's current time and hands each new window to the engine as event
// 101. Its base reads the show's window options (size, caption, border),
// from which the engine reports the window it needs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "KavLib2/KavEngine/KavPreparedSlide.h"
#include "KavLib2/KavEngine/KavThread.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TKavSource;
class TIniList;

// The two times the engine writes and the loader and the producer read.
class TLoaderTiming : public TRefObject {
 public:
  std::atomic<double> Time{0};     // the show time the slides are laid out at
  std::atomic<double> RawTime{0};  // the clock before loop points
};

// Slide production and its window of prepared slides, as the loader drives
// them. Slide production provides the real one through the factory below.
class TSlideWindowProducer : public TRefObject {
 public:
  using TWindowCallback = std::function<void(TPreparedSlide* const* slides, int32_t count)>;
  // Set by the loader: called in the loader thread with every new window.
  TWindowCallback OnWindow;
  // Called in the loader thread for each newly prepared slide.
  std::function<void(TPreparedSlide* slide)> OnSlidePrepared;

  virtual int32_t WindowCount() const = 0;
  // Prepares and drops slides around `time`; calls OnWindow on a change.
  virtual void AdvanceSlideWindow(double time) = 0;
  // True when the last advance found no slide to drop or make: the loader
  // then looks again less often (a jump of the show time wakes it).
  virtual bool WindowSettled() const { return false; }
  virtual void SetAspectRatio(TSize size, double scale, double x_percent, double y_percent) = 0;
  virtual TRect GetVisibleRect() = 0;
  // A named dialog of the show (nil when it has none).
  virtual Ref<TDrawItem> CreateCustomDialog(const std::u16string& /*name*/) { return nullptr; }
};

using TSlideWindowFactory = std::function<Ref<TSlideWindowProducer>(
    TKavSource* source, TLoaderTiming* timing, int32_t window_count, int32_t param1, int32_t param2)>;
// Installed by slide production (and tests); nil: loaders prepare nothing.
void SetSlideWindowFactory(TSlideWindowFactory factory);

// The window of prepared slides handed to the engine (event 101).
class TSlideData : public TRefObject {
 public:
  static constexpr int32_t kMaxSlides = 3;
  // More than three slides is an assertion failure.
  TSlideData(TPreparedSlide* const* slides, int32_t count);
  int32_t Count = 0;
  Ref<TPreparedSlide> Slides[kMaxSlides];
};

// Window modes of the size event.
enum : int32_t { kWindowFullScreen = 0, kWindowBordered = 1, kWindowBorderless = 2 };

// The show's window as its options ask for it.
struct TShowWindowOptions {
  int32_t Width = 0;   // the primary screen's size unless the show is windowed
  int32_t Height = 0;
  std::u16string Caption = u"KavShow";
  bool Bordered = false;
  int32_t FullScreenValue = 1;
  // 0 full screen (opt_scr_full 1), else 1 bordered, else 2.
  int32_t WindowMode() const;
};
// Reads [main]: caption, full-screen value, border and, for windowed shows
// (opt_scr_full 0 or 3), the window size. Starts from `options`' values.
void ReadShowWindowOptions(TIniList* ini, TShowWindowOptions& options);

class TSlideShowParams : public TKavThread {
 public:
  TSlideShowParams();

  // Reads [main] of the show's options: caption, full-screen value, border
  // and, for windowed shows, the window size.
  void ReadWindowOptions(TIniList* options);
  int32_t WindowMode() const;

  int32_t Width = 0;
  int32_t Height = 0;
  std::u16string Caption = u"KavShow";
  bool Bordered = false;
  int32_t FullScreenValue = 1;
};

class TKavSlideLoader : public TSlideShowParams {
 public:
  // `source` must be given (an assertion otherwise).
  TKavSlideLoader(TKavSource* source, int32_t window_count, int32_t param1, int32_t param2, bool owns_source);

  // Passes the loader's size to the producer's aspect computation.
  void SetAspect(double scale);
  TRect GetVisibleRect();
  TSlideWindowProducer* Producer() const { return producer_.get(); }
  TLoaderTiming* Timing() const { return timing_.get(); }
  TKavSource* Source() const { return source_.get(); }
  int32_t WindowCount() const;

  // Where new windows go (the engine's queue) and under which code.
  void SetTarget(TThreadEventList* target, uint32_t code = kEngineSlides) {
    target_ = target;
    code_ = code;
  }
  // Hand windows over in the loader thread through the target's dispatch
  // instead of sending them.
  bool DeliverDirectly = false;

  // Loader thread: wraps a new window and delivers it to the target.
  void DeliverSlideData(TPreparedSlide* const* slides, int32_t count);

 protected:
  void OnStart() override;
  void Step() override;
  void Dispose() override;

 private:
  Ref<TKavSource> source_;
  Ref<TLoaderTiming> timing_ = MakeRef<TLoaderTiming>();
  Ref<TSlideWindowProducer> producer_;
  std::atomic<TThreadEventList*> target_{nullptr};
  uint32_t code_ = kEngineSlides;
};

}  // namespace kav
