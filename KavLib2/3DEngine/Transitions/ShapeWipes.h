// Shape wipes: the picture handed to the filter shows inside a growing
// shape with a soft edge: a circle, a rhombus, a rectangle of the picture's
// proportions, a band widening horizontally or vertically, or a diagonal
// band. Each kind only lays out its size (MaxRadius) and draws one ring.
#pragma once

#include <cstdint>

#include "KavLib2/3DEngine/Transitions/DrawFilter.h"

namespace kav {

class TCircleFilter : public TCommonFilter {
 public:
  TCircleFilter(float ox, float oy, bool reverse) : TCommonFilter(ox, oy) { Reverse = reverse; }
  float Offset = 0, FarDistance = 0;
  int32_t Segments = 128;

 protected:
  void Layout() override;
  void DrawShape(int32_t index, float ri, float ro, float ai, float ao) override;
};

class TRhombFilter : public TCommonFilter {
 public:
  using TCommonFilter::TCommonFilter;
  float Offset = 0;

 protected:
  void Layout() override;
  void DrawShape(int32_t index, float ri, float ro, float ai, float ao) override;
};

class TSquareFilter : public TCommonFilter {
 public:
  using TCommonFilter::TCommonFilter;
  double Aspect = 1;
  float Offset = 0;

 protected:
  void Layout() override;
  void DrawShape(int32_t index, float ri, float ro, float ai, float ao) override;
};

// A band widening horizontally around the origin's x, over the full height.
class THLines : public TCommonFilter {
 public:
  using TCommonFilter::TCommonFilter;

 protected:
  void Layout() override;
  void DrawShape(int32_t index, float ri, float ro, float ai, float ao) override;
};

// A band widening vertically around the origin's y, over the full width.
class TVLines : public TCommonFilter {
 public:
  using TCommonFilter::TCommonFilter;

 protected:
  void Layout() override;
  void DrawShape(int32_t index, float ri, float ro, float ai, float ao) override;
};

// Bands bounded by diagonals: selector 8 opens (or, for variants 1 and 3,
// closes) both ways around the centre diagonal; selector 10 wipes from a
// corner. Variants 3 and 4 use the other diagonal.
class TDiagLines : public TCommonFilter {
 public:
  TDiagLines(int32_t selector, int32_t variant);
  uint8_t Mode = 0;
  bool Flip = false;
  float TopX = 0, BottomX = 0;

 protected:
  void Layout() override;
  void DrawShape(int32_t index, float ri, float ro, float ai, float ao) override;
};

}  // namespace kav
