// The page roll: a roll line moves across the picture in one of eight
// directions; the picture before the line lies flat, the part beyond it is
// wound onto a cylinder and shaded by its curvature. In perspective the
// wound part rises toward the viewer and, at the start, stands turned up
// about the picture's start edge before it swings down.
//
// The roller computes one frame's strips (triangles in picture coordinates
// with a shading level, far side flagged) and maps picture points to their
// wound place; the effect cuts the strips at the tile grid and draws them.
#pragma once

#include <cstdint>
#include <functional>

#include "KavLib2/3DEngine/Transitions/DrawFilter.h"

namespace kav {

// The smallest t in [0, 2pi) with a sin t + (b - c) cos t + c = 0; pi/2
// when there is none.
float RollAngleSolve(float a, float b, float c);

class TRoller3 : public TRefObject {
 public:
  // Direction 1 (1, 0), 2 (-1, 0), 3 (0, -1), 4 (0, 1), 5 (s, s),
  // 6 (s, -s), 7 (-s, s), 8 (-s, -s).
  TRoller3(int32_t direction, float left, float top, float right, float bottom, bool perspective, float depth_scale);

  float DirX = 1, DirY = 0;
  float Position = 0;
  float StartX = 0, StartY = 0, SpanX = 0, SpanY = 0, EndX = 0, EndY = 0;
  float XCornerLine = 0, YCornerLine = 0, DiagPosition = 0, AxisSign = 0;
  float Radius = 2;
  bool Perspective = false;
  float DepthScale = 1;
  float MaxAngle = 3.14159265f;
  float LevelFlat = 255, LevelDark = 50;
  int32_t Steps = 3;
  // Receives each triangle (x, y, level per vertex) and its far-side flag.
  std::function<void(const TEffVertex* tri, bool far)> OnTriangle;

  bool Diagonal() const { return DirX != 0 && DirY != 0; }
  // The roll line's range, first and last (end-diagonal x for diagonals).
  void GetRange(float& first, float& last) const;
  // Moves the roll line and builds the frame's strips.
  void SetPosition(float position);
  // Where a picture point lands: (x, y, depth).
  void Map(float x, float y, float& ox, float& oy, float& depth) const;
  // The angle at which the far side begins for the current position.
  float FarAngle() const;

 private:
  float Sx() const { return DirX > 0 ? 1.0f : DirX < 0 ? -1.0f : 0.0f; }
  float Sy() const { return DirY > 0 ? 1.0f : DirY < 0 ? -1.0f : 0.0f; }
  float Level(float theta) const;
  float Clamp(float theta) const;
  void Strip(const TEffVertex& a1, const TEffVertex& a2, const TEffVertex& b1, const TEffVertex& b2, bool far,
             bool first_form);
  // Walks the lines across the roll from `start` to `end` (sign: the
  // direction of travel), cutting strips at cuts[] (the last entry is set
  // to the winding limit); `line` gives a line's two ends with their level.
  void WalkStrips(float start, float end, float sign, float position, float* cuts, int32_t cut_count,
                  const std::function<void(float, TEffVertex&, TEffVertex&)>& line, bool across, bool first_form);
  void BuildAxisStrips();
  void BuildDiagonalStrips();
  void MapAxis(float x, float y, float& ox, float& oy, float& depth) const;
  void MapDiagonal(float x, float y, float& ox, float& oy, float& depth) const;
  // Turns a wound point about the start edge toward the viewer.
  void TurnUp(float g, float f, float& out_f, float& depth) const;
  float ClampDepth(float depth) const;
};

class T2DSeparator;

class TRollEffect2 : public TDrawFilter {
 public:
  // Family 14 axis-aligned, 15 diagonal; direction 1-8 (above 4 the
  // reverse of the one four below).
  TRollEffect2(int32_t family, int32_t direction);
  int32_t Family, Direction;
  bool FullTurn = false;
  int32_t RadiusPixels = 2;
  bool BackColoured = false;
  uint8_t Colour[3] = {0, 0, 0};
  bool Perspective = false;
  float DepthScale = 1;
  float RollStart = 0, RollEnd = 0;
  Ref<TRoller3> Roller;

  void DrawFrame(TEffController* controller) override;

 protected:
  void Dispose() override;

 private:
  void DrawCells(TEffController* c, T2DSeparator* sep, bool far);
  Ref<T2DSeparator> far_, near_;
  TEffController* grid_of_ = nullptr;
  TRect grid_rect_;
};

}  // namespace kav
