// The show source: the show as the player sees it, read once from the
// project text. It answers how many slides there are, when each begins and
// ends, which transition leads out of it and for how long, what it does at
// its end, what happens at the end of the show, and the screen options.
//
// Slides repeat in loops: index i >= count is slide i mod count of loop
// i div count, shifted by loop x show duration. Index -1 stands for the time
// before the first slide.
//
// Threads: the timing queries may be called from any thread. Drawing a
// default transition (GetSlideEffect) changes the source's choice state and
// runs on the slide-loader thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KavLib2/Effects/KavEffManager.h"
#include "KavLib2/KavClasses/KavEffect.h"
#include "KavLib2/KavClasses/KavRandom.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/vxIni.h"

namespace kav {

struct TSlideTiming {
  double Begin = 0;
  double End = 0;
  double EffectTime = 0;      // the outgoing transition, at most End - Begin
  double NextEffectTime = 0;  // the following slide's, with the show's wrap rules
  double EndPlusNext = 0;
};

struct TSlideInfo : TSlideTiming {
  std::u16string Id;
};

// End of the show ([Main] opt_repeat).
enum : int32_t { kRepeatShow = 0, kRepeatClose = 1, kRepeatStop = 2 };

// Begin of the time before the first slide, and of the times before that.
inline constexpr double kBeforeShowBegin = -1073741823.0;
inline constexpr double kFarBeforeShowBegin = -2147483647.0;

struct TKavSourceSetup {
  // The program file that decides screen-saver mode (".scr", any case); the
  // running program's own file when not given.
  std::optional<std::u16string> ProgramFile;
  // A fixed seed makes the default transitions' order and variants and the
  // mosaic seeds the same on every run.
  std::optional<uint32_t> RandomSeed;
};

class TKavSource : public TRefObject {
 public:
  // Asserts the accessor and the project; holds a reference to both. Reads
  // the options, builds the default transitions and the slide table.
  // Damaged numbers take their defaults, opt_slidescount is capped at
  // kMaxSlidesCount, and end times that go backwards are taken as the end
  // of the slide before (logged; TimesDamaged() tells).
  TKavSource(TFileAccessor* accessor, TIniFile* ini, const TKavSourceSetup& setup = {});

  int32_t SlideCount() const noexcept { return count_; }
  double Duration() const noexcept { return duration_; }
  const TSlideInfo& Slide(int32_t index) const { return slides_.at(size_t(index)); }
  bool TimesDamaged() const noexcept { return times_damaged_; }

  // The timing of `index` in loop numbering; answers its loop (-1 for the
  // indexes before the show). A show without slides answers loop 0 and an
  // empty timing at its end for every index from 0.
  int32_t GetSlideTiming(int32_t index, TSlideTiming& timing) const;
  // The first index whose timing has Begin <= t <= End (the earlier slide at
  // a boundary); -1 for t <= 0. A show without slides or of duration 0 has
  // no slide after time 0 and answers SlideCount() (past its end). Indexes
  // that would not fit 32 bits answer INT32_MAX.
  int32_t SlideIndexAtTime(double t) const;
  // The transition time of slide `index` from the effect manager (slide
  // index mod count); 0 past the count unless the show repeats, and 0 for a
  // show without slides.
  double GetEffectTime(int32_t index);
  static double GetPauseLength(const TSlideTiming& t) { return t.End - t.Begin - t.EffectTime; }
  // True when the slide pauses ("pause", or an empty action with
  // opt_manualshow) or loops ("loop", which gives the slide's pause length).
  bool GetEndAction(int32_t index, double& pause_length);
  // True when the slide starts a program (Pers_RunApp with a RunAppFN).
  bool GetRunApp(int32_t index, std::u16string& file_name);
  // The transition out of slide `index` (mod count), its time in ms (a
  // negative time counts as 0) and its smoothline value: for "default" and
  // "defowntime" the chosen transition's stored value, for a named kind the
  // effect's own "smoothline" as written (0 without one). Nil (time 0) for
  // none, "quick", an effect no variant of which is enabled, or a time of 0.
  Ref<TKavEffect> GetSlideEffect(int32_t index, double& time, float& smoothline);

  // With `on`, default transitions and mosaic seeds depend only on the
  // slide index and `seed`.
  void SetReproducibleEffects(bool on, int32_t seed) noexcept {
    reproducible_ = on;
    seed_ = seed;
  }

  int32_t RepeatMode() const noexcept { return repeat_mode_; }
  bool ScreenSaver() const noexcept { return screen_saver_; }
  bool PauseWhenInactive() const noexcept { return pause_when_inactive_; }
  bool ManualShow() const noexcept { return manual_show_; }
  // Red, green, blue.
  const uint8_t* HiderColor() const noexcept { return hider_color_; }
  float UnsharpAmount() const noexcept { return unsharp_amount_; }
  double DefaultEffectTime() const noexcept { return default_effect_time_; }
  int32_t DesignWidth() const noexcept { return design_width_; }
  int32_t DesignHeight() const noexcept { return design_height_; }
  const std::vector<Ref<TKavEffect>>& DefaultEffects() const noexcept { return defaults_; }

  TKAVEffectManager* EffectManager() const noexcept { return manager_.get(); }
  TIniFile* Ini() const noexcept { return ini_.get(); }
  TFileAccessor* Accessor() const noexcept { return accessor_.get(); }

 protected:
  void Dispose() override;

 private:
  void ApplyScreenSaverOverrides(const TKavSourceSetup& setup);
  void ReadOptions();
  void BuildDefaultEffects();
  void BuildSlides();
  void ShuffleDefaultOrder();
  Ref<TKavEffect> ChooseDefaultEffect(int32_t index);
  double EffectTimeValue(TEffectProp* prop) const;

  Ref<TFileAccessor> accessor_;
  Ref<TIniFile> ini_;
  Ref<TKAVEffectManager> manager_;
  TIniList* main_ = nullptr;   // in ini_
  TIniList* times_ = nullptr;  // in ini_
  std::vector<TSlideInfo> slides_;
  int32_t count_ = 0;
  int32_t repeat_mode_ = kRepeatShow;
  double duration_ = 0;
  bool times_damaged_ = false;
  bool reproducible_ = false;
  int32_t seed_ = 0;
  bool toggle_ = false;
  int32_t counter_ = 0;
  uint8_t hider_color_[3] = {0, 0, 0};
  float unsharp_amount_ = 0;
  double default_effect_time_ = 0;
  std::vector<Ref<TKavEffect>> defaults_;
  std::vector<int32_t> order_;
  bool screen_saver_ = false;
  bool pause_when_inactive_ = true;
  bool manual_show_ = false;
  int32_t design_width_ = 1920;
  int32_t design_height_ = 1080;
  TKavRandom random_;
};

// Whether a program file runs as a screen saver (extension ".scr", any case).
bool IsScreenSaverProgram(std::u16string_view program_file);

}  // namespace kav
