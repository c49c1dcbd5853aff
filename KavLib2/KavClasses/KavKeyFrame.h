// One keyframe of a slide object ("object ...:KeyPoint" inside the object's
// block in the project text): a time, the groups it animates ("grps"), the
// values of their parameters, and optionally colour filters ("Filter"
// children) and modifiers ("Mod" children) that apply from this keyframe on.
//
// Keys of a keyframe block: "Origin" ("SlideBegin", "PrevEffectEnd",
// "NextEffectBegin", "SlideEnd"), "Time" (ms after the origin; only the
// integer part counts), "grps", and the parameter keys of KavKeyFields.h
// ("Position" and "CenterPos" hold two numbers each).
//
// Keyframes are owned by their object's properties (TKavObjectProps), which
// read, number and evaluate them. Threads: read and evaluated by the slide
// loader only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "KavLib2/KavClasses/KavKeyFields.h"
#include "KavLib2/KavClasses/KavObjectMod.h"
#include "VoRav/SysObj2.h"

namespace kav {

class TIniList;
class TKavObjectProps;

// Time origins of a keyframe.
enum : int32_t { kOriginSlideBegin = 0, kOriginPrevEffectEnd, kOriginNextEffectBegin, kOriginSlideEnd };

// The lengths (ms) that place keyframe origins in a slide.
struct TSlideLengths {
  int32_t SlideLength = 0;
  int32_t EffectIn = 0;   // the transition into the slide
  int32_t EffectOut = 0;  // the transition out of it
};

// The start of an origin within the slide (ms); 0 for unknown origins.
double OriginBase(int32_t origin, const TSlideLengths& timing) noexcept;

// At most this many "Filter" and "Mod" children each are read per keyframe.
inline constexpr int32_t kMaxKeyFrameChildren = 1024;

class TKavKeyFrame : public TRefObject {
 public:
  TKavKeyFrame() = default;

  // The owning properties; null once the keyframe has been taken out of them.
  TKavObjectProps* Owner() const noexcept { return owner_; }
  // Position in the owner's keyframes (time order); -1 when not listed.
  int32_t Index() const noexcept { return index_; }
  TIniList* IniObject() const noexcept { return ini_.get(); }
  int32_t Origin() const noexcept { return origin_; }
  // Time (ms from the slide's start) as read and after the owner's last
  // ProcessTree scaling.
  double ReadTime() const noexcept { return read_time_; }
  double Time() const noexcept { return time_; }
  uint32_t GroupMask() const noexcept { return mask_; }
  bool Animates(int32_t group) const noexcept { return group >= 0 && group < 32 && (mask_ >> group & 1u) != 0; }

  // The value of parameter `index` (stored unit) and whether this keyframe
  // sets it (its group is in the mask); the table's default when it does not.
  // An index outside 0..14 fails an assertion.
  float GetParam(int32_t index, bool* set = nullptr) const;
  // Writes the parameter to the INI object, adds its group to the mask
  // (writing "grps") and marks the owner changed. Pair members are written
  // with 16 significant digits, the other member kept; other parameters with
  // 6. Ignored for splitters and masks, whose keyframes animate nothing, and
  // for values that do not fit a float.
  void SetParam(int32_t index, double value);

  // The colour filter chain (children whose class is a registered filter
  // kind, the first child applied first); null without filters.
  TObjectFilter* Filters() const noexcept { return filters_.get(); }
  // The modifier chain of a group's local time or of a parameter; null when
  // none.
  TObjectFilter* TimeMods(int32_t group) const noexcept { return time_mods_.Chain(group); }
  TObjectFilter* ParamMods(int32_t param) const noexcept { return param_mods_.Chain(param); }
  int32_t ModCount() const noexcept { return int32_t(mods_.size()); }

 protected:
  void Dispose() override;

 private:
  friend class TKavObjectProps;

  // Reads the keyframe's keys and children for the owner's kind.
  void Read(TIniList* object, const TSlideLengths& timing);
  void ReadValues();
  void ReadFilters();
  void ReadMods();
  // Releases the modifiers and filters and forgets the owner.
  void Detach();

  TKavObjectProps* owner_ = nullptr;
  int32_t index_ = -1;
  Ref<TIniList> ini_;
  int32_t origin_ = kOriginSlideBegin;
  double read_time_ = 0;
  double time_ = 0;
  uint32_t mask_ = 0;
  std::array<float, kKeyParamCount> values_{};
  Ref<TObjectFilter> filters_;
  std::vector<Ref<TKavObjectMod>> mods_;
  TModSlotTable time_mods_;
  TModSlotTable param_mods_;
};

}  // namespace kav
