// Evaluation of an object's keyframes at a time, and the getters through
// which its modifiers read the evaluated values.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "KavLib2/KavClasses/KavObjectProps.h"

namespace kav {

namespace {

// Keyframes closer together than this (ms) count as one time.
constexpr double kMinSpan = 0.0001;
// Frame values whose difference is below this count as equal.
constexpr double kFrameEpsilon = 0.0001;

float ToFloat(double v) { return float(std::clamp(v, -double(FLT_MAX), double(FLT_MAX))); }

// Runs a modifier chain tail first. Before each modifier runs, `store` holds
// the value so far (modifiers read it as "value"); a result that is not a
// finite number in `limit` is dropped. Colour filters have no value and are
// skipped.
template <class T>
void RunModChain(const TObjectFilter* chain, T& store, double limit) {
  TObjectFilter* links[64];
  std::vector<TObjectFilter*> more;
  size_t n = 0;
  for (auto* f = const_cast<TObjectFilter*>(chain); f != nullptr; f = f->Next()) {
    if (n < std::size(links)) links[n] = f;
    else more.push_back(f);
    ++n;
  }
  for (size_t i = n; i-- > 0;) {
    TObjectFilter* f = i < std::size(links) ? links[i] : more[i - std::size(links)];
    if (f->Disabled() || f->Kind() != kFilterKindValue) continue;
    const double v = f->Value();
    if (std::isfinite(v) && std::fabs(v) <= limit) store = T(v);
  }
}

}  // namespace

float TKavObjectProps::Value(int32_t param) const noexcept {
  return param >= 0 && param < kKeyParamCount ? fields_[size_t(param)] : 0.0f;
}

double TKavObjectProps::GroupTime(int32_t group) const noexcept {
  return group >= 0 && group < kKeyGroupCount ? group_time_[size_t(group)] : 0.0;
}

TKavKeyFrame* TKavObjectProps::PrevKeyFrame(int32_t group) const noexcept {
  return group >= 0 && group < kKeyGroupCount ? cursors_[size_t(group)].Prev : nullptr;
}

TKavKeyFrame* TKavObjectProps::NextKeyFrame(int32_t group) const noexcept {
  return group >= 0 && group < kKeyGroupCount ? cursors_[size_t(group)].Next : nullptr;
}

Ref<TParamGetter> TKavObjectProps::MakeGetter(std::string_view name, bool time) {
  if (time) {
    const int32_t group = FindKeyGroup(name);
    if (group < 0) return nullptr;
    return MakeRef<TTimeGetter>(std::string(name) + ".T", &group_time_[size_t(group)]);
  }
  const TKeyFieldRef field = ParseFieldName(name);
  if (!field.Valid() || field.IsTime()) return nullptr;
  return MakeRef<TFieldGetter>(std::string(name), &scaled_[size_t(field.Param)]);
}

void TKavObjectProps::ResetCursors() {
  for (TGroupCursor& c : cursors_) c = TGroupCursor();
  for (const Ref<TKavKeyFrame>& kf : keyframes_)
    for (int32_t g = 0; g < kKeyGroupCount; ++g)
      if (kf->Animates(g)) cursors_[size_t(g)].Frames.push_back(kf.get());
  cursors_valid_ = true;
}

int32_t TKavObjectProps::Locate(TGroupCursor& c, double t) const {
  const std::vector<TKavKeyFrame*>& f = c.Frames;
  const int32_t n = int32_t(f.size());
  // Whether position p (-1: before the first) holds t.
  const auto holds = [&](int32_t p) {
    return p >= -1 && p < n && (p < 0 || f[size_t(p)]->time_ <= t) && (p + 1 >= n || f[size_t(p) + 1]->time_ > t);
  };
  // Playing forward mostly stays in the last segment or enters the next.
  if (holds(c.Pos)) return c.Pos;
  if (holds(c.Pos + 1)) return c.Pos + 1;
  const auto it = std::upper_bound(f.begin(), f.end(), t, [](double v, const TKavKeyFrame* k) { return v < k->time_; });
  return int32_t(it - f.begin()) - 1;
}

void TKavObjectProps::Evaluate(double time) {
  const double t = std::isfinite(time) ? time : 0.0;
  current_time_ = t;
  if (!cursors_valid_) ResetCursors();
  for (int32_t g = 0; g < kKeyGroupCount; ++g) EvaluateGroup(g, t);
}

void TKavObjectProps::EvaluateGroup(int32_t group, double t) {
  TGroupCursor& c = cursors_[size_t(group)];
  const TKeyGroupInfo& info = kKeyGroups[size_t(group)];
  if (c.Frames.empty()) {
    c.Prev = c.Next = nullptr;
    group_time_[size_t(group)] = 0;
    for (int32_t i = info.First; i < info.Last; ++i) {
      fields_[size_t(i)] = kKeyParams[size_t(i)].Default;
      scaled_[size_t(i)] = float(kKeyParams[size_t(i)].Default * kKeyParams[size_t(i)].Multiplier);
    }
    return;
  }
  c.Pos = Locate(c, t);
  TKavKeyFrame* prev;
  TKavKeyFrame* next;
  double f = 0;
  if (c.Pos < 0) {
    // Before the first keyframe its values hold (no jump from the defaults when it is reached).
    prev = next = c.Frames.front();
  } else {
    prev = c.Frames[size_t(c.Pos)];
    const bool last = size_t(c.Pos) + 1 == c.Frames.size();
    next = last ? prev : c.Frames[size_t(c.Pos) + 1];
    // After the last keyframe the local time runs on to the slide's end.
    const double span = last ? double(timing_.SlideLength) - prev->time_ : next->time_ - prev->time_;
    const double inverse = span > kMinSpan ? 1.0 / span : 0.0;
    f = (t - prev->time_) * inverse;
    if (!std::isfinite(f)) f = 0;
  }
  c.Prev = prev;
  c.Next = next;
  group_time_[size_t(group)] = f;
  if (const TObjectFilter* mods = prev->TimeMods(group)) RunModChain(mods, group_time_[size_t(group)], DBL_MAX);
  f = group_time_[size_t(group)];
  for (int32_t i = info.First; i < info.Last; ++i) {
    fields_[size_t(i)] = ToFloat(Interpolate(i, prev, next, f));
    ApplyParamMods(i, prev);
  }
}

double TKavObjectProps::Interpolate(int32_t param, const TKavKeyFrame* prev, const TKavKeyFrame* next,
                                    double f) const {
  const double v0 = prev->values_[size_t(param)];
  if (prev == next) return v0;
  const double v1 = next->values_[size_t(param)];
  double v = v0 + (v1 - v0) * f;
  if (param == kKeyFrameX || param == kKeyFrameY) {
    // Zoom compensation: what moves linearly is the offset times the zoom
    // beyond the frame, so a pan during a zoom does not swing.
    const double s0 = prev->values_[kKeyFrameS], s1 = next->values_[kKeyFrameS];
    if (std::fabs(v1 - v0) > kFrameEpsilon && std::fabs(s1 - s0) > kFrameEpsilon) {
      const double z = aspect_[param == kKeyFrameX ? 0 : 1];
      const double d = double(fields_[kKeyFrameS]) * z - 1;
      if (d > 0) {
        const double a = (s0 * z - 1) * v0, b = (s1 * z - 1) * v1;
        const double compensated = (a + (b - a) * f) / d;
        if (std::isfinite(compensated)) v = compensated;
      }
    }
  }
  return std::isfinite(v) ? v : v0;
}

void TKavObjectProps::ApplyParamMods(int32_t param, const TKavKeyFrame* prev) {
  const TKeyParamInfo& p = kKeyParams[size_t(param)];
  float& scaled = scaled_[size_t(param)];
  scaled = ToFloat(double(fields_[size_t(param)]) * p.Multiplier);
  const TObjectFilter* mods = prev->ParamMods(param);
  if (mods == nullptr) return;
  // The result must still fit a float in the stored unit.
  RunModChain(mods, scaled, double(FLT_MAX) / std::max(1.0, p.InverseMultiplier));
  fields_[size_t(param)] = ToFloat(double(scaled) * p.InverseMultiplier);
}

}  // namespace kav
