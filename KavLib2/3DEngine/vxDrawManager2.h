// Draw items and the device drawer.
//
// Everything shown on the screen is drawn by one device drawer, to which the
// engine hands one draw item per frame. TDrawItem is the base of everything a
// drawer can draw; TDeviceDrawer is the drawing interface the items call back
// into while they draw. The one realisation is the 3D draw manager
// (DrawManager3D2.h). This header also fixes the frame protocol around one
// item (Render), the geometric state all drawers share and the parameter
// records the items pass.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxGeometry.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TDeviceDrawer;
class TDrawDevice;
class TImage;
class TCustomColoringTexture;
class TYUVImage;

// A point or vector of the drawing space (pixels of the show's view, z
// toward the viewer's back).
using T3DPoint = TVector3;

// What the show's objects pass to DrawImage and PrepareImage.
struct TImageDrawParams {
  float Opacity = 100;         // 0..100
  int32_t MipLevel = 0;        // the image level to draw from (scale 2^level)
  float MipBias = 0;           // mipmap level-of-detail bias of the tiles
  int32_t GridColumns = 1;     // cell grid of the picture (with GridFlag)
  int32_t GridRows = 1;
  bool GridFlag = false;
  bool AlphaFlag = true;       // the picture has alpha that matters
  bool FilterFlag = true;      // bilinear filtering (else nearest pixel)
  bool AsRect = false;         // draw as an axis-aligned rectangle
  bool BlendFlag = false;      // the picture's colours are premultiplied
  bool Colorize = false;       // draw in Color (keeping the picture's alpha)
  TColor32 Color = 0xFFFFFFFF;
  TFloatRect SourceRect;       // part of the picture; empty: all of it
  uint8_t GradeMode = 0;       // 0 none, 1 volume grade, 2 linear grade
  float GradeMix = 0;          // strength of the grade
  TCustomColoringTexture* GradeLut1 = nullptr;
  TCustomColoringTexture* GradeLut2 = nullptr;
};

// The shared default image parameters (opacity 100, level 0, one cell).
const TImageDrawParams& DefaultImageDrawParams();

// Gradient codes of box fills, by where colour A starts (colour B at the
// opposite side or corner): 0 top left, 1 top right, 2 bottom right,
// 3 bottom left, 4 bottom, 5 top, 6 left, 7 right; 8 solid A.
enum : uint8_t {
  kBoxGradDiagonalBA = 0, kBoxGradDiagonalMBA = 1, kBoxGradDiagonalAB = 2, kBoxGradDiagonalMAB = 3,
  kBoxGradBottomTop = 4, kBoxGradVertical = 5, kBoxGradHorizontal = 6, kBoxGradRightLeft = 7, kBoxGradSolid = 8,
};

// A box fill: opacity, two colours with alpha, the four edges' antialiasing
// flags and the gradient code.
struct TBoxParams {
  float Opacity = 100;  // 0..100
  TColor32 ColorA = 0xFF000000;
  TColor32 ColorB = 0xFF000000;
  bool EdgeLeft = false, EdgeTop = false, EdgeRight = false, EdgeBottom = false;
  uint8_t Gradient = kBoxGradSolid;
  // Colour grading of the fill, as for pictures (TImageDrawParams).
  uint8_t GradeMode = 0;       // 0 none, 1 volume grade, 2 linear grade
  float GradeMix = 0;
  TCustomColoringTexture* GradeLut1 = nullptr;
  TCustomColoringTexture* GradeLut2 = nullptr;
};

// The module's default box record: opaque black, solid, hard edges.
const TBoxParams& DefaultBoxParams();

// Parameters of one video frame draw.
struct TVideoDrawParams {
  float Opacity = 100;          // alpha of the frame = trunc(opacity x 2.55)
  bool AsRect = false;
  uint8_t DeinterlaceMode = 0;  // 0 none, 1 and 2 the two field orders
  TFloatRect SourceRect;        // empty: the whole frame
  bool ChromaKey = false;
  float KeyU = 0, KeyV = 0, KeyTolerance = 0;
  float GradeMix = 0;
  TCustomColoringTexture* GradeLut1 = nullptr;
  TCustomColoringTexture* GradeLut2 = nullptr;
  uint8_t GradeMode = 0;        // RGBA frames: 0 none, 1 volume, else linear
};

// Base of everything a drawer can draw.
class TDrawItem : public TRefObject {
 public:
  // Set by the descendants; the item needs drawing when either is set.
  uint8_t Changed = 0;
  uint8_t VisibilityChanged = 0;

  virtual bool NeedsDraw() { return Changed != 0 || VisibilityChanged != 0; }
  // Stores a drawing property, marking the item changed when the value differs.
  template <typename T>
  void SetDrawn(T& field, T value) {
    if (value != field) Changed = 1;
    field = value;
  }
  // Non-zero asks the 3D drawer to draw the item through a layer: above 0 a
  // blur of that strength, below 0 a sharpening.
  virtual float LayerValue() { return 0.0f; }
  // Called after the frame that drew the item was presented.
  virtual void AfterDraw(TDeviceDrawer* /*drawer*/) {}
  // True only when Draw, through `drawer` as it is set now, gives every
  // pixel of the drawer's frame rectangle an opaque colour whatever lay
  // there before. The drawer then leaves out what the item hides (a clear
  // before it, a picture under it); a wrong true changes pictures.
  virtual bool Opaque(TDeviceDrawer* /*drawer*/) { return false; }
  // Draws the item by calling the drawer's operations.
  virtual void Draw(TDeviceDrawer* drawer) = 0;
};

// Base of the parameter record of a transition filter; the show's
// transition parameters derive from it. (Named apart from the filter
// parameter-descriptor list of the object model, which has the short name.)
class TDrawFilterParams : public TRefObject {};

// The drawing interface draw items call back into.
//
// One drawer is driven by one thread at a time (the engine thread; the
// viewer's snapshots go through the same render lock). Render holds the
// process-wide render lock from BeginFrame to the item's AfterDraw.
class TDeviceDrawer : public TRefObject {
 public:
  // ---- Shared state ----
  bool OffsetActive = false;
  TFloatPoint Offset;          // added to every position the items pass
  TFloatRect ViewRect;         // the part of the show's space that is shown
  TFloatPoint ViewSize;        // the show's logical size
  TRect DeviceRect;            // (0, 0, width, height) of the device
  TRect OutputRect;            // where the show goes; empty: the whole device
  TRect FrameRect;             // the output rectangle of the current frame
  T3DPoint Camera;             // eye position for perspective drawing
  bool HasContentSize = false;
  bool NoPresent = false;      // render without presenting (capture mode)

  // Nesting depth of Render calls (changed only under the render lock).
  int32_t RenderDepth() const { return render_depth_; }

  TRect GetOutputRect() const;
  TFloatRect GetViewRect() const;
  TFloatPoint GetViewSize() const;

  // ---- Frame ----
  virtual void BeginFrame() = 0;
  // True when the frame was ended (and presented).
  virtual bool EndFrame() = 0;
  virtual bool IsReady() = 0;
  virtual void SetOutputRect(const TRect& rect) { OutputRect = rect; }
  virtual bool UsesShaders() { return false; }
  virtual void SetDrawDevice(TDrawDevice* device) = 0;
  virtual void Close() = 0;
  // Uploads the image's textures ahead of drawing (any thread).
  virtual void PrepareImage(TImage* image, const TImageDrawParams& params) = 0;
  // Drops every texture the drawer keeps for the image (any thread).
  virtual void FreeOwnerTextures(TImage* image) = 0;
  virtual void SetContentSize(TSize size) = 0;
  virtual void FlushQuad() = 0;
  virtual void Clear(TColor32 color, uint32_t flags) = 0;
  virtual void FillRect(TColor32 color, const TRect& rect) = 0;
  virtual void SetOffset(TFloatPoint offset);
  // The frame protocol: at depth 1, under the render lock, BeginFrame, the
  // item's Draw when ready, EndFrame (the result), AfterDraw. Nested calls
  // only draw (true when the drawer was ready).
  virtual bool Render(TDrawItem* item);

  // ---- Drawing ----
  virtual void DrawTransition(TDrawItem* from, TDrawItem* to, TDrawFilterParams* params) = 0;
  // The image into the parallelogram origin + s * x_axis + t * y_axis
  // (s, t in 0..1); `texture_size` is the size the axes were laid out for.
  virtual void DrawImage(TImage* image, const T3DPoint& origin, const TImageDrawParams& params,
                         const T3DPoint& y_axis, const T3DPoint& x_axis, TSize texture_size) = 0;
  // A box at `position` spanned by size.x * x_edge and size.y * y_edge.
  virtual void FillBox(const T3DPoint& position, TFloatPoint size, const TBoxParams& box, const T3DPoint& x_edge,
                       const T3DPoint& y_edge) = 0;
  // The border of a rectangle: strips of thickness.x on the left and right,
  // thickness.y at the top and bottom; `antialias` softens the outer edges.
  virtual void DrawFrame(const TBoxParams& box, const T3DPoint& origin, bool antialias, TColor32 color_a,
                         TColor32 color_b, TFloatPoint size, TFloatPoint thickness) = 0;
  // A new video frame image holding the textures of one frame (the caller
  // adopts the one reference; null when none can be made). The frame class
  // belongs to the video layer, hence the plain pointer.
  virtual TYUVImage* CreateVideoTextures(int32_t width, int32_t height, bool rgba) = 0;
  virtual void DrawVideo(TYUVImage* frame, const T3DPoint& origin, const TVideoDrawParams& params,
                         const T3DPoint& y_axis, const T3DPoint& x_axis) = 0;
  virtual void DrawLine(const T3DPoint& a, const T3DPoint& b, TColor32 color) = 0;
  // Draws the content item masked by the mask item; `image` (optional) is
  // repeated under the mask.
  virtual void DrawWithEffect(TDrawItem* content, TDrawItem* mask, TImage* image) = 0;
  virtual void BeginLayer() = 0;
  virtual void EndLayer(float amount) = 0;
  // Copies the back buffer into `bitmap` (capture mode only).
  virtual bool CaptureBackBuffer(TBitmap* bitmap) = 0;
  // The back buffer as an image, or null.
  virtual Ref<TImage> Snapshot();
  virtual void SetView(const TFloatRect& view, TFloatPoint size, bool whole_screen, const T3DPoint& camera);

 protected:
  int32_t render_depth_ = 0;
};

// Paints everything outside the output rectangle (and a one-pixel ring
// around the device) in `color`, made opaque.
void FillMargins(TDeviceDrawer* drawer, TColor32 color);
// A one-colour parallelogram from `origin` spanned by the edges to the two
// ends; opacity from the colour's alpha.
void DrawSolidQuad(TDeviceDrawer* drawer, const T3DPoint& origin, const T3DPoint& x_end, const T3DPoint& y_end,
                   TColor32 color);
// The size with the aspect of `size` that fits in `box`, never larger than
// `size`; an empty size or box gives an empty size.
TSize FitSizeNoEnlarge(TSize size, TSize box);
// The same, touching the box on one axis.
TSize FitSizeInside(TSize size, TSize box);

}  // namespace kav
