// Animation parameters of a picture played as a sprite sheet (or a GIF
// frames atlas): the grid, the frame intervals, repetitions and start
// offset, the frame shown at a time and the grid cell of a frame.
//
// The values come from the project text, so nothing here trusts them: a
// grid of fewer than one column or row counts as one, the frame count is
// capped, and a set of intervals that adds up to 0 shows frame 0.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "VoRav/vxGeometry.h"

namespace kav {

// Most frames an animation has (intervals built, cells of a grid).
inline constexpr int32_t kMaxAnimationFrames = 65536;

struct TImageAnimationParams {
  uint8_t AnimEnable = 0;
  int32_t AnimColumns = 1;
  int32_t AnimRows = 1;
  int32_t AnimCount = 0;
  std::vector<int32_t> Intervals;  // milliseconds per frame
  int32_t AnimRepCount = 0;        // repetitions before stopping; 0 for ever
  double AnimOffset = 0;           // milliseconds before the first frame
};

bool ImageAnimationParamsEqual(const TImageAnimationParams& a, const TImageAnimationParams& b);

// Sets the interval array from the comma-separated text: AnimCount entries
// (at most kMaxAnimationFrames, none when AnimCount < 1); the first come
// from the items (0 for an item that is not an integer), the rest repeat
// the last item. An empty text gives 100 ms for every frame.
void BuildAnimationFrames(std::string_view text, TImageAnimationParams& params);

// Frames played: the interval count, at most columns x rows (each counted
// as at least 1) and at most kMaxAnimationFrames.
int32_t AnimationFrameCount(const TImageAnimationParams& params);

// The frame shown `time` ms into the object's time. Frame 0 unless
// AnimEnable is set, the grid is more than one cell and there are
// intervals. The time less AnimOffset (0 when negative) falls in the frame
// whose span (previous end, end] holds it; past the last frame the frames
// repeat, and after AnimRepCount (> 0) rounds the last frame stays. A
// total of 0 ms (negative intervals count as 0) shows frame 0.
int32_t AnimationFrameAtTime(const TImageAnimationParams& params, double time);

// The grid cell (column, row) of a width x height sheet of `columns` x
// `rows` cells, in floating point; fewer than one column or row counts as
// one.
void GetAnimationFrameRect(float width, float height, int32_t columns, TFloatRect& rect, int32_t row,
                           int32_t column, int32_t rows);

}  // namespace kav
