// Shared by the comparison tests: frames drawn by both devices and the
// tolerance they must keep.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/d3d/gl/GlDevice.h"
#include "platform/d3d/gl/egl/GlEglContext.h"
#include "tools/framedump/FrameDump.h"

namespace kav::glcompare {

struct TPair {
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Sw, Gl;
};

// The process's headless GL system, or null (the test then skips).
Ref<TGlSystem> Gl();

// Makes the software device (gl false) or the GL device the one new system
// objects use, for the scope.
class TUseDevice {
 public:
  explicit TUseDevice(bool gl);
  ~TUseDevice();
};

// Draws a W x H frame through the draw manager once on each device.
TPair DrawBoth(int32_t w, int32_t h, const std::function<void(TDeviceDrawer*)>& draw, int32_t level = 2);

struct TDiff {
  double Mean[3] = {};  // mean absolute difference of red, green, blue
  size_t Far[3] = {};   // pixels more than 8 levels apart
  int Max = 0;
};
TDiff Compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int32_t w, int32_t x0, int32_t y0,
              int32_t x1, int32_t y1);

// Expects the two frames (or the rectangle) alike: per channel a mean
// difference of at most 1 level and at most 0.1% of the pixels more than
// 8 levels apart. Failing pairs are written to KAV_GL_COMPARE_DUMP (a
// folder) when it is set; KAV_GL_COMPARE_DUMP_ALL writes every pair.
void ExpectAlike(const TPair& p, const std::string& name);
void ExpectAlikeIn(const TPair& p, const std::string& name, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

}  // namespace kav::glcompare
