// Rotating wipes: the broom (a straight edge turning about a pivot just
// outside the picture, one per edge and corner) and the clock (a hand
// turning a full circle about the picture's centre, the incoming picture
// filling the swept sector). Both have soft edges; angles are measured
// clockwise from "up".
#pragma once

#include <cstdint>
#include <functional>

#include "KavLib2/3DEngine/Transitions/DrawFilter.h"

namespace kav {

// The easing of the rotating wipes: T[i] = i*i >> 7 below 128, mirrored
// above (T[255 - i] = 255 - T[i]).
float SweepLevel(int32_t i);

// One class with its kind 1..8 stands for TBroomUp, TBroomRight, TBroomDown,
// TBroomLeft, TBroomUpRight, TBroomDownRight, TBroomDownLeft and
// TBroomUpLeft: they differ only in the pivot and range the constructor sets.
class TBroom : public TRefObject {
 public:
  // Kind 1 up, 2 right, 3 down, 4 left, 5 up-right, 6 down-right,
  // 7 down-left, 8 up-left: the edge or corner the pivot lies beyond.
  TBroom(int32_t kind, float edge_width, float margin, float left, float top, float width, float height);
  float Left, Top, Width, Height;
  float PivotX = 0, PivotY = 0;
  float EdgeAngle = 0, Angle = 0, StartAngle = 0, EndAngle = 0, Margin = 0;
  bool Wrap = false;  // the sweep's range crosses 2pi (this broom's own)
  // Receives each triangle: x, y and level (0 swept .. 255 not yet).
  std::function<void(const TEffVertex* tri)> OnTriangle;

  void BuildSweep(float angle);
};

class TBroomEffect : public TDrawFilter {
 public:
  // A direction above 8 runs the broom of direction - 8 backwards.
  TBroomEffect(int32_t direction, float margin);
  int32_t Direction;
  float Margin;
  float SweepStart = 0, SweepLength = 0;
  Ref<TBroom> Broom;
  void DrawFrame(TEffController* controller) override;
};

// The clock hand's geometry: two soft bands (the start line up from the
// origin and the hand) blended into the swept sector.
class TArrow : public TRefObject {
 public:
  TArrow(float left, float top, float right, float bottom, float origin_x, float origin_y, float edge_width);
  float Left, Top, Right, Bottom, OriginX, OriginY, EdgeWidth;
  float Angle = 0;
  // Receives each triangle: x, y and opacity (255 swept).
  std::function<void(const TEffVertex* tri)> OnTriangle;
  void Render(float angle);
  // The opacity of a point for the current angle.
  float Opacity(float x, float y) const;

 private:
  float cos_ = 1, sin_ = 0;
};

class TClockEffect : public TDrawFilter {
 public:
  TClockEffect(float origin_frac_x, float origin_frac_y, bool mirror)
      : OriginFracX(origin_frac_x), OriginFracY(origin_frac_y), Mirror(mirror) {}
  float OriginFracX, OriginFracY;
  bool Mirror;
  Ref<TArrow> Arrow;
  void DrawFrame(TEffController* controller) override;
};

}  // namespace kav
