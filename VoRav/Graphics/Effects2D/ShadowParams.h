// The shadow description and its text key.
//
// A shadow is a picture of its own, named by a key that starts with
// "Shadow: " and carries every parameter, so that the show's image cache
// shares shadows between objects with equal parameters. The producer
// registered for the prefix parses the key back and draws the shadow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/vxGeometry.h"

namespace kav {

// The shape name that stands for a rectangle (or gradient) shape.
inline constexpr std::u16string_view kShadowRectShape = u"N\\A";
inline constexpr std::u16string_view kShadowKeyPrefix = u"Shadow: ";

struct TShadowParams {
  std::u16string ImageName;  // picture whose alpha is the shape, or "N\A"
  TFloatRect Rect;           // the object's rectangle in shadow pixels
  TFloatPoint Margin;        // room added on each side of the rectangle
  int32_t FillAlpha = 0;     // low byte: alpha of the background of the working bitmap
  float Blur = 0.0f;         // blur size in shadow pixels
  int32_t Contour = 0;       // contour preset 0..9
  uint8_t StartAlpha = 0;    // the gradient shape's two alphas (both 255: solid)
  uint8_t EndAlpha = 0;
  uint8_t Gradient = 0;      // gradient direction 0..8 (8 fills evenly)
  int32_t MipLevel = 0;      // mip level of the object's picture used as the shape
  bool TurnOffset = false;   // the offset turns with the object's own axes
  bool RectOnly = false;     // a rectangle even when the picture has alpha
};

// Rect and Margin exactly equal, the integer and byte fields equal, Blur
// within 0.001; ImageName and TurnOffset are not compared.
bool ShadowParamsEqual(const TShadowParams& a, const TShadowParams& b);

// "Shadow: " + left:top:right:bottom:mx:my (2 decimals) :FillAlpha
// :Blur (16 decimals) :Contour:Gradient:StartAlpha:EndAlpha:MipLevel
// :ImageName.
std::u16string MakeShadowKey(const TShadowParams& params);

// Parses a key back into `params` (every field but TurnOffset and RectOnly).
// The first 8 characters are skipped unchecked; the last field takes all the
// rest, so a name may hold ":". A field that does not convert takes its
// default: floats 0, FillAlpha 255, Contour 0, Gradient 8, the alphas and the
// mip level 0.
void DrawShadowToBitmap(std::u16string_view key, TShadowParams& params);

// Rescales the record so that the shadow bitmap covers about 40000 pixels:
// right, bottom and the margins are multiplied by
// sqrt(40000 / (W x H)) (W, H with the margins) and rounded. Asserts that
// Rect's left and top are 0. A record whose area is not a positive finite
// number is left as it is.
void NormalizeShadowParams(TShadowParams& params);

// Halves `width` and `height` while their product is above 700000, then
// while either is above 10000, and answers 2 to the power of the halvings.
// A size that is not finite and positive is left as it is (answer 1).
float FitShadowSize(float& width, float& height);

// Fills every pixel of an "A8R8G8B8" bitmap with black whose alpha runs from
// `start_alpha` to `end_alpha` in `direction` (0..7 diagonal, vertical and
// horizontal ramps; 8 and above: one even fill with `start_alpha`). Runs the
// loading callback after each row and stops when it answers stop.
void FillShadowGradient(TSysBitmap* bitmap, uint8_t start_alpha, uint8_t end_alpha, uint8_t direction);

}  // namespace kav
