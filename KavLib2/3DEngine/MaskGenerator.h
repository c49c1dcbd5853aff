// Preset masks: grey pictures, white inside a rounded rectangle or an
// ellipse and black outside, with a soft eased edge. The show names one by a
// text key starting with "PresetedMask:".
#pragma once

#include <string>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/vxDelegate.h"

namespace kav {

struct TMaskDescription {
  int32_t Shape = 0;      // 0 rounded rectangle, 1 ellipse
  float Feather = 0;      // percent
  float Corner = 0;       // percent
  int32_t Width = 512;
  int32_t Height = 512;
};

// The largest mask side drawn; larger sizes from a show are refused.
constexpr int32_t kMaxMaskSide = 8192;

class TMaskGenerator : public TRefObject {
 public:
  // Called after each row; setting `stop` ends the drawing early (the partly
  // drawn bitmap is returned).
  TDelegate<void(TMaskGenerator*, bool& stop)> OnProgress;

  static std::u16string MakeMaskKey(const TMaskDescription& d);
  // Reads the fields after "PresetedMask:" into `d`; a key with nothing
  // after the prefix leaves `d` as it was.
  static void ParseMaskKey(std::u16string_view key, TMaskDescription& d);
  // The mask in the default 24-bit format; null for a size below 1 x 1 or
  // above kMaxMaskSide, or a shape other than 0 and 1.
  Ref<TSysBitmap> Generate(const TMaskDescription& d);
};

// The ramp level of a pixel at distance `c` for an edge at distance `b`
// with a feather width `a`: 0 inside, 255 outside, eased between.
int32_t MaskRampLevel(double a, double b, double c);

}  // namespace kav
