// Shared pieces of the engine tests: a show source of equal slides, and a
// stand-in for slide production that keeps a window of slides around the
// loader's time.
#pragma once

#include <atomic>
#include <limits>
#include <string>
#include <vector>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavEngine/KavSlideLoader.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/vxIni.h"

namespace kav::enginetest {

inline Ref<TIniFile> ShowOptions(const std::string& main, int slides, const std::string& extra = "") {
  std::string text = "[Main]\r\n" + main + "[Times]\r\nopt_slidescount=" + std::to_string(slides) + "\r\n";
  for (int i = 1; i <= slides; ++i) text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 1000) + "\r\n";
  text += extra;
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes(text);
  return ini;
}

inline Ref<TFileAccessor> DiskAccessor() { return MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()); }

// A show of `slides` slides of 1000 ms each.
inline Ref<TKavSource> Source(const std::string& main, int slides = 6) {
  TKavSourceSetup setup;
  setup.RandomSeed = 3;
  setup.ProgramFile = u"/opt/kav/player";
  return MakeRef<TKavSource>(DiskAccessor().get(), ShowOptions(main, slides).get(), setup);
}

class TStubSlide : public TPreparedSlide {
 public:
  explicit TStubSlide(int32_t index) {
    Index = index;
    Times.Begin = index * 1000.0;
    Times.End = Times.EndPlusNext = (index + 1) * 1000.0;
    Times.NextEffectTime = NextEffectMs.load();
    Times.EndPlusNext += Times.NextEffectTime;
  }
  TDrawItem* Object() override { return nullptr; }
  double GetTime() override { return 0; }
  void SetTime(double) override {}
  // Slides made while it is set show on for that long past their end (the
  // next slide's transition).
  static inline std::atomic<double> NextEffectMs{0};
  // Slides made while it is 0 or more stand still from that show time on,
  // but for a change ChangeAt ms after their begin (when 0 or more) with the
  // clock running.
  static inline std::atomic<double> StillAfter{-1};
  static inline std::atomic<double> ChangeAt{-1};
  double NextChange(double t, bool clock_runs) override {
    if (still_after_ < 0 || t < still_after_) return t;
    if (clock_runs && change_at_ >= 0 && Times.Begin + change_at_ >= t) return Times.Begin + change_at_;
    return std::numeric_limits<double>::infinity();
  }

 private:
  double still_after_ = StillAfter.load();
  double change_at_ = ChangeAt.load();
};

// Keeps the slides around the time: the slide at the time and the ones
// after it, up to the window count; a new window when the first changes.
class TStubProducer : public TSlideWindowProducer {
 public:
  TStubProducer(TLoaderTiming* timing, int32_t count) : timing_(timing), count_(count) {}
  int32_t WindowCount() const override { return count_; }
  void AdvanceSlideWindow(double time) override {
    ++advances;
    int32_t first = time < 0 ? 0 : int32_t(time / 1000.0);
    // The slide before stays in the window while it still shows.
    if (first > 0 && time < first * 1000.0 + TStubSlide::NextEffectMs.load()) --first;
    if (first == first_) return;
    first_ = first;
    std::vector<Ref<TStubSlide>> keep;
    std::vector<TPreparedSlide*> raw;
    for (int32_t i = 0; i < count_; ++i) {
      keep.push_back(MakeRef<TStubSlide>(first + i));
      raw.push_back(keep.back().get());
    }
    if (OnWindow) OnWindow(raw.data(), int32_t(raw.size()));
  }
  void SetAspectRatio(TSize size, double scale, double x, double y) override {
    aspect_size = size;
    aspect_scale = scale;
    aspect_xy = x + y;
  }
  TRect GetVisibleRect() override { return TRect{10, 20, 110, 220}; }

  std::atomic<int> advances{0};
  TSize aspect_size;
  double aspect_scale = 0, aspect_xy = 0;
  TLoaderTiming* timing_;

 private:
  int32_t count_;
  int32_t first_ = -1;
};

// Installs the stand-in production while it lives.
struct TFactoryScope {
  Ref<TStubProducer> made;
  TFactoryScope() {
    SetSlideWindowFactory([this](TKavSource*, TLoaderTiming* timing, int32_t count, int32_t, int32_t) {
      made = MakeRef<TStubProducer>(timing, count);
      return Ref<TSlideWindowProducer>(made);
    });
  }
  ~TFactoryScope() { SetSlideWindowFactory(nullptr); }
};

}  // namespace kav::enginetest
