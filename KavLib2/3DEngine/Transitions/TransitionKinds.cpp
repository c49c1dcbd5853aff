#include "KavLib2/3DEngine/Transitions/TransitionKinds.h"

#include <algorithm>
#include <string>

#include "KavLib2/3DEngine/Transitions/BroomClock.h"
#include "KavLib2/3DEngine/Transitions/OverturnEffects.h"
#include "KavLib2/3DEngine/Transitions/PageRoll.h"
#include "KavLib2/3DEngine/Transitions/ShapeWipes.h"
#include "KavLib2/3DEngine/Transitions/SlideFilters.h"

namespace kav {

Ref<TDrawFilter> MakeShapeFilter(int32_t shape, float ox, float oy, bool reverse) {
  Ref<TDrawFilter> f;
  if (shape == 0) return MakeRef<TCircleFilter>(ox, oy, reverse);
  if (shape == 1)
    f = MakeRef<TRhombFilter>(ox, oy);
  else
    f = MakeRef<TSquareFilter>(ox, oy);
  f->Reverse = reverse;
  return f;
}
Ref<TDrawFilter> MakeLinesFilter(bool vertical, float ox, float oy, bool reverse) {
  Ref<TDrawFilter> f;
  if (vertical)
    f = MakeRef<TVLines>(ox, oy);
  else
    f = MakeRef<THLines>(ox, oy);
  f->Reverse = reverse;
  return f;
}
Ref<TDrawFilter> MakeDiagFilter(int32_t selector, int32_t variant) { return MakeRef<TDiagLines>(selector, variant); }
Ref<TDrawFilter> MakeRandomFilter(int32_t cols, int32_t rows, uint32_t seed, float spread) {
  auto f = MakeRef<TRandomFilter>(cols, rows, seed);
  f->Spread = spread;
  return f;
}
Ref<TDrawFilter> MakeMoveFilter(bool push, int32_t direction) {
  if (push) return MakeRef<TPushFilter>(direction);
  return MakeRef<TSlideFilter>(direction);
}
Ref<TDrawFilter> MakeClockFilter(bool counter_clockwise) {
  return MakeRef<TClockEffect>(0.5f, 0.5f, counter_clockwise);
}
Ref<TDrawFilter> MakeBroomFilter(int32_t direction, float margin) {
  return MakeRef<TBroomEffect>(direction, margin);
}
Ref<TDrawFilter> MakeOverturnFilter(int32_t direction, float depth, bool add_four, bool smooth) {
  return MakeRef<TOverturnEffect>(direction, add_four, smooth, depth);
}
Ref<TDrawFilter> MakeTwoSlidesFilter(int32_t direction, float recede, float swing, float tilt_degrees) {
  return MakeRef<TTwoSlidesEffect>(direction, recede, swing, tilt_degrees);
}
Ref<TDrawFilter> MakeRollFilter(const TRollParams& p) {
  auto f = MakeRef<TRollEffect2>(p.Family, p.Direction);
  f->FullTurn = p.FullTurn;
  f->RadiusPixels = std::max(p.RadiusPixels, 2);
  f->BackColoured = p.BackColoured;
  for (int i = 0; i < 3; ++i) f->Colour[i] = p.Colour[i];
  f->Perspective = p.Perspective;
  f->DepthScale = p.DepthScale;
  return f;
}

TTransitionOrder TransitionDrawOrder(const TDrawFilter* f) {
  if (dynamic_cast<const TPushFilter*>(f)) return kOrderPush;
  if (dynamic_cast<const TOverturnEffect*>(f)) return kOrderOverturn;
  if (dynamic_cast<const TTwoSlidesEffect*>(f)) return kOrderTwoSlides;
  return kOrderPlain;
}

}  // namespace kav
