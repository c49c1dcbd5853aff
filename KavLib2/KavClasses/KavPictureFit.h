// Picture fitting: which part of a picture an image or video object shows,
// from its border, crop, aspect, zoom and offset settings.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/vxColor.h"
#include "VoRav/vxGeometry.h"

namespace kav {

struct TBorderParams {
  uint8_t EnableBorder = 0;
  uint8_t EnableCrop = 0;
  uint8_t EnableAspect = 0;
  float BorderWidth = 0;  // percent of the fitted height
  TColor32 BorderColor = 0;
  TFloatRect CropRect;  // left, top, right, bottom cut, percent of the fitted size
  float Aspect = 0;     // width / height wanted; 0.001 or less: the picture's own
  float Zoom = 0;       // percent of the fitted box kept; 0.001 or less, or above 100: 100
  TFloatPoint Offset;   // shift in percent of the free room, -100..100
};

bool BorderParamsEqual(const TBorderParams& a, const TBorderParams& b);

// The part of a `width` x `height` picture to show, in picture pixels, and
// the border width (in the same units as the picture height).
// `horizontal_scale` stretches the picture's width before fitting to the
// aspect (0.001 or less counts as 1). The rectangle always lies inside the
// picture and is at least 1 pixel wide and high where the picture is; a
// picture without pixels gives (0, 0, width, height) clamped to 0.
void ComputeFitRect(const TBorderParams& params, float width, float height, float& border_width,
                    TFloatRect& rect, float horizontal_scale);

}  // namespace kav
