// The animated properties of one slide object and of its child objects: read
// from the object's block in the project text and evaluated at a time of the
// slide.
//
// An object block holds the object's own keys, its keyframes ("KeyPoint"
// objects, KavKeyFrame.h) and its child objects (every other nested object,
// each with a non-empty "GUID"). Evaluation fills a table of the 15 keyframe
// parameters (KavKeyFields.h, in the stored unit: percent, degrees) that the
// slide objects lay themselves out from.
//
// Evaluation of a group at time t: the keyframes animating it are taken in
// time order; prev is the last at or before t, next the one after it. The
// group's local time runs 0..1 from prev to next (after the last keyframe,
// from it to the slide's end); a span of 0.0001 ms or less gives 0, so
// keyframes at equal times switch from one value to the next without a
// division by zero. Before the first keyframe its values hold. Parameters are
// interpolated linearly; Frame.X and Frame.Y are compensated for a changing
// Frame.S. Modifiers of prev change first the local time, then each value;
// they compute in the multiplied unit (opacity 0..1, angles in turns), and a
// result that is not a finite number leaves the value as it was.
//
// Reloading reuses keyframes by position, child properties by GUID, filters
// and modifiers by identity and revision. Threads: the slide loader reads
// and evaluates; nothing here locks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "KavLib2/KavClasses/KavKeyFrame.h"
#include "VoRav/vxByteString.h"

namespace kav {

class TIniItem;

// At most this many keyframes and child objects are read per object; the
// rest of a larger block is ignored.
inline constexpr int32_t kMaxObjectKeyFrames = 10000;
inline constexpr int32_t kMaxObjectChildren = 10000;

class TKavObjectProps : public TRefObject {
 public:
  TKavObjectProps();

  // ---- Tree ------------------------------------------------------------------
  const TByteString& Guid() const noexcept { return guid_; }
  TKavObjectProps* OwnerProps() const noexcept { return owner_; }
  TIniList* IniObject() const noexcept { return ini_.get(); }
  // The kind of the block's class word (kKind...).
  int32_t Kind() const noexcept { return kind_; }
  int32_t ChildCount() const noexcept { return int32_t(children_.size()); }
  // Null outside the range.
  TKavObjectProps* Child(int32_t n) const noexcept;
  int32_t KeyFrameCount() const noexcept { return int32_t(keyframes_.size()); }
  // Keyframe n in time order; null outside the range.
  TKavKeyFrame* GetKeyFrame(int32_t n) const noexcept;

  // The slide object built for these properties (not owned); the object sets
  // and clears it.
  TRefObject* Object() const noexcept { return object_; }
  void SetObject(TRefObject* object) noexcept { object_ = object; }
  // Set when a keyframe was written; cleared by the caller.
  bool Changed() const noexcept { return changed_; }
  void SetChanged(bool changed) noexcept { changed_ = changed; }

  // ---- Keys --------------------------------------------------------------------
  int32_t TreeNode() const noexcept { return tree_node_; }
  // The object's visible window: DeltaTime1 after the slide's start until
  // DeltaTime2 before its end (ms, after scaling).
  double DeltaTime1() const noexcept { return delta_time1_; }
  double DeltaTime2() const noexcept { return delta_time2_; }
  bool AnimEnable() const noexcept { return anim_enable_; }
  const TSlideLengths& Timing() const noexcept { return timing_; }
  // Keys of the object's block.
  TIniItem* FindValue(std::u16string_view name) const;
  std::u16string GetText(std::u16string_view name, std::u16string_view def) const;
  TIniItem* AddValue(std::u16string_view name);

  // ---- Reading -------------------------------------------------------------------
  // Reads the block (a null block reads as an empty one). A child object
  // without a "GUID" is skipped and the others are read.
  void Read(TIniList* object, const TSlideLengths& timing);
  // Stores the timing and scales every time of the tree as read by `scale`
  // (used only above 0.0001), rounding to whole ms; resorts keyframes that
  // the scaling put out of order.
  void ProcessTree(const TSlideLengths& timing, double scale);
  // The picture aspect factors used by the frame zoom: both 0.01, unless
  // "EnableAspect" is on with "Aspect" a > 0 and the size is positive; then
  // the Y factor becomes 0.01 h a / w when w / h <= a, else the X factor
  // 0.01 w / (h a).
  void ReadAspect(double width, double height);
  double AspectX() const noexcept { return aspect_[0]; }
  double AspectY() const noexcept { return aspect_[1]; }

  // ---- Evaluation ----------------------------------------------------------------
  // Evaluates every parameter at `time` (ms from the slide's start; a time
  // that is not finite counts as 0). Children are not evaluated.
  void Evaluate(double time);
  double CurrentTime() const noexcept { return current_time_; }
  // The value of a parameter (stored unit); the default outside the range.
  float Value(int32_t param) const noexcept;
  const std::array<float, kKeyParamCount>& Values() const noexcept { return fields_; }
  // A group's local time (0..1 between its two current keyframes).
  double GroupTime(int32_t group) const noexcept;
  // The keyframes the last evaluation of a group interpolated between (null
  // when none animates it); both are the same keyframe before the first and
  // after the last one.
  TKavKeyFrame* PrevKeyFrame(int32_t group) const noexcept;
  TKavKeyFrame* NextKeyFrame(int32_t group) const noexcept;

  // The getter factory of the modifiers: the local time of a group name, or
  // the value (multiplied unit) of a parameter name; null when the name names
  // nothing.
  Ref<TParamGetter> MakeGetter(std::string_view name, bool time);

 protected:
  void Dispose() override;

 private:
  friend class TKavKeyFrame;

  struct TGroupCursor {
    std::vector<TKavKeyFrame*> Frames;  // keyframes animating the group, in time order
    int32_t Pos = -1;                   // in Frames: the last at or before the time
    TKavKeyFrame* Prev = nullptr;
    TKavKeyFrame* Next = nullptr;
  };

  void ReadKeyFrame(TIniList* object, const TSlideLengths& timing, int32_t n);
  void ReadChildren(TIniList* object, const TSlideLengths& timing);
  void SortKeyFrames();
  void DropKeyFrames(size_t from);
  void ResetCursors();
  int32_t Locate(TGroupCursor& cursor, double t) const;
  void EvaluateGroup(int32_t group, double t);
  double Interpolate(int32_t param, const TKavKeyFrame* prev, const TKavKeyFrame* next, double f) const;
  void ApplyParamMods(int32_t param, const TKavKeyFrame* prev);

  TByteString guid_;
  TKavObjectProps* owner_ = nullptr;
  Ref<TIniList> ini_;
  int32_t kind_ = kKindNone;
  std::vector<Ref<TKavObjectProps>> children_;
  std::vector<Ref<TKavKeyFrame>> keyframes_;
  TRefObject* object_ = nullptr;
  bool changed_ = false;

  int32_t tree_node_ = 0;
  double read_delta1_ = 0, read_delta2_ = 0;
  double delta_time1_ = 0, delta_time2_ = 0;
  bool anim_enable_ = false;
  TSlideLengths timing_;
  std::array<double, 2> aspect_{0.01, 0.01};

  double current_time_ = 0;
  std::array<float, kKeyParamCount> fields_{};
  std::array<float, kKeyParamCount> scaled_{};  // fields_ x multiplier, read by modifiers
  std::array<double, kKeyGroupCount> group_time_{};
  std::array<TGroupCursor, kKeyGroupCount> cursors_;
  bool cursors_valid_ = false;
};

}  // namespace kav
