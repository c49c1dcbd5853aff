// The show source: options, the slide table and the timing queries.
#include "KavLib2/KavClasses/KavSource.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "KavLib2/KavClasses/KavSlideOrder.h"
#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"

namespace kav {

bool IsScreenSaverProgram(std::u16string_view program_file) {
  return CompareWideStr(ExtractFileExt(program_file), u".scr", true) == 0;
}

TKavSource::TKavSource(TFileAccessor* accessor, TIniFile* ini, const TKavSourceSetup& setup)
    : accessor_(accessor), ini_(ini), random_(setup.RandomSeed) {
  KAV_ASSERT(accessor != nullptr);
  KAV_ASSERT(ini != nullptr);
  ApplyScreenSaverOverrides(setup);
  main_ = ini_->FindSection(u"Main");
  times_ = ini_->FindSection(u"Times");
  // A design size that is missing, not a number or not positive is 1920 x 1080.
  design_width_ = IniGetInteger(IniFindKey(main_, u"opt_scr_width"), 1920);
  design_height_ = IniGetInteger(IniFindKey(main_, u"opt_scr_height"), 1080);
  if (design_width_ < 1) design_width_ = 1920;
  if (design_height_ < 1) design_height_ = 1080;
  manager_ = MakeRef<TKAVEffectManager>(ini, design_width_, design_height_);
  ReadOptions();
  BuildDefaultEffects();
  BuildSlides();
}

void TKavSource::Dispose() {
  defaults_.clear();
  manager_ = nullptr;
  ini_ = nullptr;
  accessor_ = nullptr;
  TRefObject::Dispose();
}

void TKavSource::ApplyScreenSaverOverrides(const TKavSourceSetup& setup) {
  const std::u16string program =
      setup.ProgramFile ? *setup.ProgramFile : FileAPI()->GetModuleFileName(nullptr);
  screen_saver_ = IsScreenSaverProgram(program);
  if (!screen_saver_) {
    IniWriteString(ini_.get(), u"Main", u"opt_ssaver", u"0");
    return;
  }
  IniWriteString(ini_.get(), u"Main", u"opt_ssaver", u"1");
  IniWriteString(ini_.get(), u"Main", u"opt_fcp", u"0");
  IniWriteString(ini_.get(), u"Main", u"opt_hidecursor", u"1");
  IniWriteString(ini_.get(), u"Main", u"opt_scr_full", u"1");
  IniWriteString(ini_.get(), u"Main", u"opt_repeat", u"repeat");
}

void TKavSource::ReadOptions() {
  const TIniItem* repeat = IniFindKey(main_, u"opt_repeat");
  repeat_mode_ = repeat ? repeat->GetIndexOf({u"repeat", u"close", u"stop"}, kRepeatShow, true) : kRepeatShow;
  pause_when_inactive_ = IniGetBool(IniFindKey(main_, u"opt_pausewheninactive"), true);
  manual_show_ = IniGetBool(IniFindKey(main_, u"opt_manualshow"), false);
  const uint32_t hider = uint32_t(IniGetInteger(IniFindKey(main_, u"opt_scr_hidercolor"), 0));
  hider_color_[0] = uint8_t(hider >> 16);
  hider_color_[1] = uint8_t(hider >> 8);
  hider_color_[2] = uint8_t(hider);
  unsharp_amount_ = float(IniGetFloat(IniFindKey(main_, u"opt_scr_unsharpamount"), 0));
  default_effect_time_ = ByteStringToFloatDef(UTF8Encode(manager_->ReadTime()), 0);
}

void TKavSource::BuildSlides() {
  count_ = ReadSlidesCount(ini_.get());
  slides_.assign(size_t(count_), TSlideInfo());
  double prev = 0;
  for (int32_t i = 0; i < count_; ++i) {
    TSlideInfo& s = slides_[size_t(i)];
    double end = IniGetInteger(IniFindKey(times_, u"opt_synchpos" + IntToStr(i + 1)), 0);
    if (end < prev) {
      // A damaged table must not stop the show: the slide ends where the one
      // before it does.
      if (!times_damaged_)
        LogLine(u"Incorrect time: slide " + IntToStr(i + 1) + u" ends before the slide before it; the show's "
                u"time table is damaged");
      times_damaged_ = true;
      end = prev;
    }
    s.Begin = prev;
    s.End = end;
    s.EffectTime = std::min(GetEffectTime(i), end - prev);
    s.NextEffectTime = GetEffectTime(i + 1);
    s.EndPlusNext = end + s.NextEffectTime;
    duration_ = end;
    if (TIniList* section = GetSlideSection(ini_.get(), i)) {
      s.Id = IniGetString(section->FindKey(u"slideid"));
      if (s.Id.empty()) {
        const std::u16string picture = IniGetString(section->FindKey(u"Picture"));
        if (!picture.empty()) s.Id = ChangeFileExt(ExtractLastPathPart(picture), u"");
      }
    }
    prev = end;
  }
}

double TKavSource::GetEffectTime(int32_t index) {
  if (repeat_mode_ != kRepeatShow && index >= count_) return 0;
  if (count_ < 1 || index < 0) return 0;
  return manager_->GetEffectTime(index % count_);
}

int32_t TKavSource::GetSlideTiming(int32_t index, TSlideTiming& t) const {
  if (index < -1) {
    t = {kFarBeforeShowBegin, kBeforeShowBegin, 0, 0, kBeforeShowBegin};
    return -1;
  }
  if (index == -1) {
    const double first = count_ > 0 ? slides_[0].EffectTime : 0;
    t = {kBeforeShowBegin, 0, 0, first, first};
    return -1;
  }
  if (count_ == 0) {
    t = {duration_, duration_, 0, 0, duration_};
    return 0;
  }
  const int32_t loop = index / count_;
  t = slides_[size_t(index - loop * count_)];
  const double offset = loop * duration_;
  if (offset > 0) {
    t.Begin += offset;
    t.End += offset;
    t.EndPlusNext += offset;
  }
  return loop;
}

int32_t TKavSource::SlideIndexAtTime(double t) const {
  if (!(t > 0)) return -1;
  if (count_ == 0 || !(duration_ > 0)) return count_;
  // The loop by division; rounding of the loop offsets can put the answer
  // into the loop before or after, so the first index whose end (exactly as
  // GetSlideTiming computes it) reaches t is searched over those three loops.
  // Ends never decrease, and a slide's begin is the end before it, so that
  // index is the earlier slide at a boundary. Binary search keeps long runs
  // of equal end times (a damaged table) from costing a walk per call.
  const double loops = std::floor(t / duration_);
  if (loops >= double(INT32_MAX / count_ - 3)) return INT32_MAX;
  const int32_t loop = int32_t(loops);
  int32_t lo = std::max(0, loop - 1) * count_;
  int32_t hi = (loop + 2) * count_;  // an index known to end at or after t
  TSlideTiming timing;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    GetSlideTiming(mid, timing);
    if (timing.End < t) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

bool TKavSource::GetEndAction(int32_t index, double& pause_length) {
  pause_length = 0;
  if (index < 0 || count_ < 1) return false;
  // Indexes of later loops wrap by the slide count, so every loop repeats the slide's end action.
  const TIniList* section = GetSlideSection(ini_.get(), index % count_);
  const TIniItem* item = IniFindKey(section, u"Pers_EndAction");
  int32_t action = item ? item->GetIndexOf({u"pause", u"loop", u""}, -1, true) : -1;
  if (action == 2) action = manual_show_ ? 0 : -1;
  if (action == 1) {
    TSlideTiming t;
    GetSlideTiming(index, t);
    pause_length = GetPauseLength(t);
  }
  return action == 0 || action == 1;
}

bool TKavSource::GetRunApp(int32_t index, std::u16string& file_name) {
  file_name.clear();
  if (index < 0 || count_ < 1) return false;
  // Indexes of later loops wrap by the slide count, so every loop starts the slide's program.
  const TIniList* section = GetSlideSection(ini_.get(), index % count_);
  if (!IniGetBool(IniFindKey(section, u"Pers_RunApp"), false)) return false;
  file_name = IniGetString(IniFindKey(section, u"RunAppFN"));
  return !file_name.empty();
}

}  // namespace kav
