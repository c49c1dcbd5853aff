// The animated fields of slide objects: the fixed table of keyframe
// parameters, the groups they belong to, the object kinds of the project text
// and the field names that modifiers use ("Pos.X", "Opacity.T").
//
// The tables are compile-time constants; their consistency (indices, groups,
// multipliers, the two key pairs, kind names) is checked by static_assert in
// KavKeyFields.cpp, so a broken table does not build.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kav {

// Keyframe parameters, in table order (the index of the props' field table).
enum : int32_t {
  kKeyOpacity = 0,
  kKeyPosX,
  kKeyPosY,
  kKeyPosZ,
  kKeyScaleX,
  kKeyScaleY,
  kKeyAngle,
  kKeyAngleX,
  kKeyAngleY,
  kKeyCenterX,
  kKeyCenterY,
  kKeyBlur,
  kKeyFrameS,
  kKeyFrameX,
  kKeyFrameY,
  kKeyParamCount
};

// Keyframe groups: the bit numbers of a keyframe's group mask ("grps").
enum : int32_t {
  kGroupOpacity = 0,
  kGroupPos,
  kGroupScale,
  kGroupAngle,
  kGroupCenter,
  kGroupBlur,
  kGroupColor,  // the keyframe's colour filters; no parameters
  kGroupFrame,
  kKeyGroupCount
};
inline constexpr uint32_t kAllGroupsMask = (1u << kKeyGroupCount) - 1;

// Object kinds, from the class word of an object block.
enum : int32_t {
  kKindNone = 0,
  kKindFrame,
  kKindBox,
  kKindSplitter,
  kKindImage,
  kKindAniImage,
  kKindText,
  kKindButton,
  kKindVideo,
  kKindViewPort,
  kKindMaskStencil,
  kKindMaskContent,
  kKindCount
};

struct TKeyParamInfo {
  std::string_view Name;  // "Pos.X"
  std::string_view Key;   // the INI key; empty for the second member of a pair
  int32_t Group;
  // Pairs share one key holding "first,second": the pair number (0
  // "Position", 1 "CenterPos") and the member (0 or 1); -1 for a plain key.
  int32_t Pair;
  int32_t Member;
  // Stored value x Multiplier = the value in the unit modifiers compute in
  // (opacity and position as fractions, angles in turns).
  double Multiplier;
  double InverseMultiplier;
  float Default;  // in the stored unit
};

struct TKeyGroupInfo {
  std::string_view Name;
  int32_t First;  // the group's parameters are First .. Last-1
  int32_t Last;
};

extern const std::array<TKeyParamInfo, kKeyParamCount> kKeyParams;
extern const std::array<TKeyGroupInfo, kKeyGroupCount> kKeyGroups;
inline constexpr int32_t kKeyPairCount = 2;

// The kind of a class word, matched case-insensitively; kKindNone for
// anything else (and for the empty word).
int32_t ParseObjectKind(std::string_view class_word) noexcept;
// The class word of a kind; empty for kKindNone and codes out of range.
std::string_view ObjectKindName(int32_t kind) noexcept;

// The groups a keyframe of an object of `kind` may animate, given its "grps":
// none for splitters and masks; no Frame for animated images, texts and
// buttons; neither Color nor Frame for frames, boxes, viewports and unknown
// kinds. Bits above the known groups are dropped.
uint32_t KindGroupMask(int32_t kind, uint32_t grps) noexcept;
// Whether keyframes of the kind may be written (not splitters and masks).
bool KindHasKeyFrames(int32_t kind) noexcept;

// A field named by a modifier: the group and the parameter index, or the
// parameter -1 for the group's local time ("Pos.T", "Pos.t").
struct TKeyFieldRef {
  int32_t Group = -1;  // -1: the name names nothing
  int32_t Param = -1;
  bool IsTime() const noexcept { return Group >= 0 && Param < 0; }
  bool Valid() const noexcept { return Group >= 0; }
};
// The text before the first "." names the group (case-insensitive). The
// group name followed by ".T" or ".t" is its time; otherwise the whole name
// must be one of the group's parameter names ("Opacity", "Pos.X").
TKeyFieldRef ParseFieldName(std::string_view name) noexcept;
// The group of a group name alone ("Pos"); -1 when none.
int32_t FindKeyGroup(std::string_view name) noexcept;

}  // namespace kav
