// Transition filters: for every frame of a transition the draw manager draws
// one picture itself and hands the filter a tile controller over the other;
// the filter emits triangles (position and opacity) through which the
// controller's tiles draw that picture.
//
//   filter->Init(layout_rect, duration_ms, edge_width);
//   filter->DrawRect = output_rect;
//   filter->SetTime(t);            // per frame
//   filter->DrawFrame(controller);
//
// Progress p = Time * InvDuration runs from 0 (the outgoing picture) to 1
// (the incoming one).
#pragma once

#include <cstdint>

#include "KavLib2/3DEngine/Transitions/EffTiles.h"
#include "VoRav/SysObj2.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TDrawFilter : public TRefObject {
 public:
  float Duration = 0;
  double InvDuration = 0;  // 1 / Duration; 0 when Duration is 0
  float Time = 0;          // within [0, Duration]
  float EdgeWidth = 0;     // soft-edge width in layout units
  TRect Rect;              // layout rectangle
  bool Reverse = false;    // run the shape backwards
  bool PadEdges = false;   // the moving kinds want the picture's edges padded
  TRect DrawRect;          // where the picture lies in the render target
  // Set by the draw manager around a frame.
  uint8_t FrameFlag = 0;

  virtual void Init(const TRect& rect, float duration, float edge_width);
  virtual void SetTime(float t);
  // Draws the current frame through the controller (nothing without one).
  virtual void DrawFrame(TEffController* controller) = 0;
  virtual void Finish() {}

  double Progress() const { return double(Time) * InvDuration; }
};

// The 15-point easing table of the soft edges: X[i] = i * 255/14 and
// Y[i] = Ease255(X[i]).
float Ease255(float x);
const float* EasingX();
const float* EasingY();

// Base of the shape wipes: a shape grows from the origin to MaxRadius with
// a soft edge of EdgeWidth.
class TCommonFilter : public TDrawFilter {
 public:
  TCommonFilter(float origin_frac_x, float origin_frac_y) : OriginFracX(origin_frac_x), OriginFracY(origin_frac_y) {}

  float OriginFracX, OriginFracY;
  float OriginX = 0, OriginY = 0;  // in layout coordinates
  float MaxRadius = 0;

  void Init(const TRect& rect, float duration, float edge_width) override;
  void DrawFrame(TEffController* controller) override;

  // The soft edge between the two sizes (see the .cpp).
  void DrawSoftEdge(float outer, float inner);

 protected:
  // Computes MaxRadius (and what the kind needs) from Rect, the origin and
  // EdgeWidth.
  virtual void Layout() = 0;
  // The ring between two sizes; opacity inner_a at the inner size, outer_a
  // at the outer one. `index` numbers the rings of a frame from 0; -1 is
  // the solid core.
  virtual void DrawShape(int32_t index, float inner, float outer, float inner_a, float outer_a) = 0;

  // Layout vertices mapped to draw coordinates and handed to the tile.
  void EmitTriangles(TEffVertex* v, int32_t count);
  void EmitQuad(float x1, float y1, float x2, float y2, float a11, float a21, float a12, float a22);
  void EmitQuadPoints(const TEffVertex& a, const TEffVertex& b, const TEffVertex& c, const TEffVertex& d);

  TEffTile* sink_ = nullptr;
};

// Maps layout vertices linearly onto the draw rectangle; false (nothing
// mapped) for an empty layout.
bool MapLayoutToDraw(const TRect& layout, const TRect& draw, TEffVertex* v, int32_t count);

// The cross-fade: the picture drawn over the whole rectangle at p * 255.
class TAlphaFilter : public TDrawFilter {
 public:
  void DrawFrame(TEffController* controller) override;
};

}  // namespace kav
