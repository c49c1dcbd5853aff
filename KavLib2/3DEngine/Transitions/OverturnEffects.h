// Transitions in perspective: the overturn turns the picture over about
// its vertical or horizontal centre line like a card (the outgoing picture
// during the first half, the incoming one during the second); the two-slide
// effect moves both pictures at once, one swinging out and receding while
// the other comes forward, drawn through two DrawFrame calls per frame.
#pragma once

#include <cstdint>

#include "KavLib2/3DEngine/Transitions/DrawFilter.h"

namespace kav {

// 2x^2 below 0.5, else 1 - 2(1 - x)^2.
double SmoothEase(double x);

class TOverturnEffect : public TDrawFilter {
 public:
  // Direction 1-4 (1, 2 about the vertical line, 3, 4 about the horizontal
  // one; odd ones turn the other way); `add_four` selects the variant that
  // keeps the turning axis at depth 0.
  TOverturnEffect(int32_t direction, bool add_four, bool smooth, float depth);
  int32_t Direction;
  bool Smooth;
  float Depth;
  void DrawFrame(TEffController* controller) override;
};

class TTwoSlidesEffect : public TDrawFilter {
 public:
  TTwoSlidesEffect(int32_t direction, float recede, float swing, float tilt_degrees);
  int32_t Direction;
  float Recede, Swing, Tilt;  // Tilt in radians
  // Calls of the current frame; the draw manager resets it before a pair.
  int32_t CallCount = 0;
  void DrawFrame(TEffController* controller) override;
};

}  // namespace kav
