// The filters of the transition kinds, as the factory makes them, and what
// the draw manager's transition frame needs to know of a filter.
#pragma once

#include <cstdint>

#include "KavLib2/3DEngine/Transitions/DrawFilter.h"
#include "VoRav/vxGeometry.h"

namespace kav {

// Shapes: 0 circle, 1 rhombus, 2 rectangle; origin as fractions.
Ref<TDrawFilter> MakeShapeFilter(int32_t shape, float origin_x, float origin_y, bool reverse);
// A band widening horizontally (vertical = false) or vertically.
Ref<TDrawFilter> MakeLinesFilter(bool vertical, float origin_x, float origin_y, bool reverse);
// Diagonal bands and wipes (selector 8 or 10, variant 1..4).
Ref<TDrawFilter> MakeDiagFilter(int32_t selector, int32_t variant);
// Random blocks.
Ref<TDrawFilter> MakeRandomFilter(int32_t cols, int32_t rows, uint32_t seed, float spread);
// Push (the outgoing picture moves out too) or slide; direction 1..4.
Ref<TDrawFilter> MakeMoveFilter(bool push, int32_t direction);
// Hour hand and broom.
Ref<TDrawFilter> MakeClockFilter(bool counter_clockwise);
Ref<TDrawFilter> MakeBroomFilter(int32_t direction, float margin);
// Flip (perspective depth, the variant keeping the axis at depth 0, smooth
// turning) and swap.
Ref<TDrawFilter> MakeOverturnFilter(int32_t direction, float depth, bool add_four, bool smooth);
Ref<TDrawFilter> MakeTwoSlidesFilter(int32_t direction, float recede, float swing, float tilt_degrees);

struct TRollParams {
  int32_t Family = 14;
  int32_t Direction = 1;
  bool FullTurn = false;
  int32_t RadiusPixels = 0;
  bool BackColoured = false;
  uint8_t Colour[3] = {0, 0, 0};  // red, green, blue
  bool Perspective = false;
  float DepthScale = 0;
};
Ref<TDrawFilter> MakeRollFilter(const TRollParams& p);

// How the draw manager lays out a frame of the filter.
enum TTransitionOrder : int32_t { kOrderPlain = 0, kOrderPush = 1, kOrderOverturn = 2, kOrderTwoSlides = 3 };
TTransitionOrder TransitionDrawOrder(const TDrawFilter* f);

}  // namespace kav
