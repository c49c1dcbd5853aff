#include "KavLib2/KavClasses/KavKeyFields.h"

namespace kav {

namespace {

constexpr double kPercent = 0.01;
constexpr double kTurn = 1.0 / 360.0;

constexpr TKeyParamInfo Param(std::string_view name, std::string_view key, int32_t group, double mul, float def,
                              int32_t pair = -1, int32_t member = -1) {
  return {name, key, group, pair, member, mul, 1.0 / mul, def};
}

constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

constexpr bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Index 0 is "no kind"; "ViewPort" also matches "Viewport" since words are
// compared without regard to case.
constexpr std::array<std::string_view, kKindCount> kKindNames = {
    "", "Frame", "Box", "Splitter", "Image", "AniImage", "Text", "Button", "Video", "ViewPort", "MaskStencil",
    "MaskContent"};

constexpr int32_t KindOf(std::string_view word) {
  if (word.empty()) return kKindNone;
  for (size_t i = 1; i < kKindNames.size(); ++i)
    if (SameText(kKindNames[i], word)) return int32_t(i);
  return kKindNone;
}

}  // namespace

constexpr std::array<TKeyParamInfo, kKeyParamCount> kKeyParams = {
    Param("Opacity", "Opacity", kGroupOpacity, kPercent, 100),
    Param("Pos.X", "Position", kGroupPos, kPercent, 0, 0, 0),
    Param("Pos.Y", "", kGroupPos, kPercent, 0, 0, 1),
    Param("Pos.Z", "ZPos", kGroupPos, kPercent, 0),
    Param("Scale.X", "ScaleX", kGroupScale, kPercent, 100),
    Param("Scale.Y", "ScaleY", kGroupScale, kPercent, 100),
    Param("Angle", "Angle", kGroupAngle, kTurn, 0),
    Param("Angle.X", "AngleX", kGroupAngle, kTurn, 0),
    Param("Angle.Y", "AngleY", kGroupAngle, kTurn, 0),
    Param("Center.X", "CenterPos", kGroupCenter, kPercent, 0, 1, 0),
    Param("Center.Y", "", kGroupCenter, kPercent, 0, 1, 1),
    Param("Blur", "Blur", kGroupBlur, kPercent, 0),
    Param("Frame.S", "Zoom", kGroupFrame, kPercent, 100),
    Param("Frame.X", "OffsX", kGroupFrame, kPercent, 0),
    Param("Frame.Y", "OffsY", kGroupFrame, kPercent, 0),
};

constexpr std::array<TKeyGroupInfo, kKeyGroupCount> kKeyGroups = {{
    {"Opacity", kKeyOpacity, kKeyPosX},
    {"Pos", kKeyPosX, kKeyScaleX},
    {"Scale", kKeyScaleX, kKeyAngle},
    {"Angle", kKeyAngle, kKeyCenterX},
    {"Center", kKeyCenterX, kKeyBlur},
    {"Blur", kKeyBlur, kKeyFrameS},
    {"Color", kKeyFrameS, kKeyFrameS},
    {"Frame", kKeyFrameS, kKeyParamCount},
}};

namespace {

// The table is checked while compiling, so the start-up checks' failures
// are compile errors with the same texts.
constexpr bool MultipliersValid() {
  for (const TKeyParamInfo& p : kKeyParams)
    if (p.Multiplier == 0) return false;
  return true;
}

// A row's position is its parameter index: the table holds exactly one row
// per index, in index order, with the index's own name.
constexpr bool ParamIndexesValid() {
  return kKeyParams.size() == size_t(kKeyParamCount) && kKeyParams[kKeyOpacity].Name == "Opacity" &&
         kKeyParams[kKeyPosX].Name == "Pos.X" && kKeyParams[kKeyAngle].Name == "Angle" &&
         kKeyParams[kKeyCenterX].Name == "Center.X" && kKeyParams[kKeyBlur].Name == "Blur" &&
         kKeyParams[kKeyFrameS].Name == "Frame.S" && kKeyParams[kKeyParamCount - 1].Name == "Frame.Y";
}

constexpr bool ParamsValid() {
  int32_t pairs = 0;
  for (const TKeyParamInfo& p : kKeyParams) {
    if (p.Group < 0 || p.Group >= kKeyGroupCount) return false;
    if (p.Pair < 0 && p.Key.empty()) return false;
    // The first member of a pair has the key, the second none.
    if (p.Pair >= 0 && (p.Member == 0) != !p.Key.empty()) return false;
    if (p.Pair >= 0 && p.Member == 0) ++pairs;
  }
  return pairs == kKeyPairCount;
}

constexpr bool GroupsCoverTheTable() {
  int32_t next = 0;
  for (int32_t g = 0; g < kKeyGroupCount; ++g) {
    const TKeyGroupInfo& info = kKeyGroups[size_t(g)];
    if (info.First != next || info.Last < info.First) return false;
    for (int32_t i = info.First; i < info.Last; ++i)
      if (kKeyParams[size_t(i)].Group != g) return false;
    next = info.Last;
  }
  return next == kKeyParamCount;
}

constexpr bool KindNamesMapBack() {
  for (size_t i = 1; i < kKindNames.size(); ++i)
    if (KindOf(kKindNames[i]) != int32_t(i)) return false;
  return true;
}

static_assert(ParamIndexesValid(), "Invalid kav keyframe param index");
static_assert(MultipliersValid(), "Invalid keyframe Value multiplier");
static_assert(ParamsValid(), "Invalid keyframe parameter table");
static_assert(GroupsCoverTheTable(), "Invalid Group Range");
static_assert(KindNamesMapBack(), "Invalid kind name table");

}  // namespace

int32_t ParseObjectKind(std::string_view class_word) noexcept { return KindOf(class_word); }

std::string_view ObjectKindName(int32_t kind) noexcept {
  return kind > 0 && kind < kKindCount ? kKindNames[size_t(kind)] : std::string_view();
}

bool KindHasKeyFrames(int32_t kind) noexcept {
  return kind != kKindSplitter && kind != kKindMaskStencil && kind != kKindMaskContent;
}

uint32_t KindGroupMask(int32_t kind, uint32_t grps) noexcept {
  if (!KindHasKeyFrames(kind)) return 0;
  uint32_t mask = grps & kAllGroupsMask;
  if (kind == kKindAniImage || kind == kKindText || kind == kKindButton) mask &= ~(1u << kGroupFrame);
  if (kind < kKindImage || kind > kKindVideo) mask &= ~((1u << kGroupColor) | (1u << kGroupFrame));
  return mask;
}

int32_t FindKeyGroup(std::string_view name) noexcept {
  for (int32_t g = 0; g < kKeyGroupCount; ++g)
    if (SameText(kKeyGroups[size_t(g)].Name, name)) return g;
  return -1;
}

TKeyFieldRef ParseFieldName(std::string_view name) noexcept {
  const size_t dot = name.find('.');
  const int32_t group = FindKeyGroup(name.substr(0, dot));
  if (group < 0) return {};
  if (dot != std::string_view::npos && name.size() == dot + 2 && Lower(name[dot + 1]) == 't')
    return {group, -1};
  const TKeyGroupInfo& info = kKeyGroups[size_t(group)];
  for (int32_t i = info.First; i < info.Last; ++i)
    if (SameText(kKeyParams[size_t(i)].Name, name)) return {group, i};
  return {};
}

}  // namespace kav
