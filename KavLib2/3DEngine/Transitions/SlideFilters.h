// Transitions that move or reveal the picture without soft-edged shapes:
// slide (the incoming picture slides in over the outgoing one), push (the
// outgoing picture is pushed out on the other side) and random blocks.
//
// Direction codes: 1 the incoming picture enters from the left edge moving
// right, 2 from the right moving left, 3 from the top moving down, 4 from
// the bottom moving up.
#pragma once

#include <cstdint>
#include <vector>

#include "KavLib2/3DEngine/Transitions/DrawFilter.h"
#include "VoRav/vxGeometry.h"

namespace kav {

class TSlideFilter : public TDrawFilter {
 public:
  explicit TSlideFilter(int32_t direction) : Direction(direction) { PadEdges = true; }
  int32_t Direction;
  void DrawFrame(TEffController* controller) override;

 protected:
  // The picture moved by (dx, dy), clipped to the controller's rectangle.
  static void DrawShifted(TEffController* controller, float dx, float dy);
};

class TPushFilter : public TSlideFilter {
 public:
  using TSlideFilter::TSlideFilter;
  // The shift of the outgoing picture for a rectangle at the progress.
  TFloatPoint GetShift(const TRect& rect) const;
  // Draws the outgoing picture (held by the controller) at its shift.
  void DrawOutgoing(TEffController* controller);
};

// The filter's own linear congruential generator (one per filter rather
// than one for the process, so transitions on two threads cannot disturb
// each other's pattern).
class TBlockRandom {
 public:
  void SetSeed(uint32_t v) { state_ = v; }
  uint32_t Next() { return state_ = state_ * 1664525u + 1013904223u; }
  // A number in [0, 1).
  float NextFloat();

 private:
  uint32_t state_ = 0;
};

class TRandomFilter : public TDrawFilter {
 public:
  // Block counts are capped to 1..kMaxBlocks; the seed fixes the pattern.
  TRandomFilter(int32_t cols, int32_t rows, uint32_t seed);
  static constexpr int32_t kMaxBlocks = 256;
  int32_t Cols, Rows;
  uint32_t Seed;
  float Spread = 1;  // set by the factory; negative counts as 0
  std::vector<int32_t> StartLevels;  // row by row

  void Init(const TRect& rect, float duration, float edge_width) override;
  void DrawFrame(TEffController* controller) override;
};

}  // namespace kav
