// The transition factory and the Direct3D side the filters draw through.
//
// The factory turns a slide's transition description (TKavEffect) into a
// filter. The effecter renders a draw item into a pooled render target and
// lets the filter draw that picture through its tile controller. The
// transition hook of the 3D draw manager (InstallTransitions) ties the two
// together: for every frame of a transition it draws one picture plainly and
// the filter over the other.
//
//   InstallTransitions();                 // once, at start-up
//   auto params = MakeRef<TKavFilter>();  // per slide
//   params->Effect = effect; params->Duration = ms; params->EdgeFraction = f;
//   params->Time = t;                     // per frame
//   drawer->DrawTransition(from, to, params.get());
#pragma once

#include <cstdint>
#include <vector>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "KavLib2/3DEngine/Transitions/DrawFilter.h"
#include "KavLib2/KavClasses/KavEffect.h"
#include "VoRav/3DBasics/Dev3DRTPool.h"

namespace kav {

class TCustomD3DEffecter;

// The transition parameters the show hands the draw manager: the
// description, the current time and the duration (ms), the soft-edge
// fraction of the width, and the filter made from them (cached).
class TKavFilter : public TDrawFilterParams {
 public:
  Ref<TKavEffect> Effect;
  double Time = 0;
  double Duration = 0;
  float EdgeFraction = 0;
  Ref<TDrawFilter> Filter;

 protected:
  void Dispose() override;
};

// A transition driven by the show's own slide production: it renders both
// pictures itself through a draw item of its own.
class TSlideEffFilter : public TDrawFilter {
 public:
  void DrawFrame(TEffController*) override {}
  virtual void SetProgress(double p) = 0;
  virtual void SetItems(TDrawItem* from, TDrawItem* to) = 0;
  // Binds the effecter whose two targets hold the from and to pictures.
  virtual void Bind(TCustomD3DEffecter* effecter) = 0;
  // The item that draws the frame (null: nothing).
  virtual TDrawItem* FrameItem() = 0;
  // Called after the frame item was drawn.
  virtual void FrameDone() = 0;
};

// Makes the filter of a custom effect (kind 12) from its copied section;
// installed by the show's object model.
using TCustomTransitionHook = Ref<TDrawFilter> (*)(TDrawItem* from, TIniSection* custom, bool content_size);
void SetCustomTransitionHook(TCustomTransitionHook hook);

// The filter of a description for a picture of `size`; null when the
// kind's variant flags are all clear (or there is no description).
Ref<TDrawFilter> CreateTransitionFilter(TSize size, const TKavEffect* effect, TDrawItem* from, bool content_size);
// The same, initialised for the rectangle (edge width = width x fraction).
Ref<TDrawFilter> CreateTransitionForRect(const TRect& rect, const TKavEffect* effect, TDrawItem* from,
                                         bool content_size, float edge_fraction, float duration);

// (v, v, v, 255) with v the value rounded to a byte.
uint32_t MakeGrayColor(float value);

class TD3DTriController;

// One corner of a filter's triangle: device position (z toward the
// back), picture position, and the premultiplied colour or level.
struct TTriPoint {
  float X, Y, Z, U, V;
  uint32_t Color;
};

// One tile batch's triangles, held to be drawn later: plain colour, flat
// pictures (nearest pixel) and turned or wound pictures (filtered).
struct TTriBatch {
  Ref<TEffTile> Tile;
  std::vector<TTriPoint> Plain, Textured, Depth;
};

class TCustomD3DEffecter : public TRefObject {
 public:
  TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* shared_pool);

  T3DScreen* Screen() const { return screen_.get(); }
  TRect EffectRect;
  TRect OutputRect;

  // Starts an effect over the rectangle: the controller's grid is laid
  // over it.
  void Run(const TRect& rect);
  // Takes one (or two) targets from the pool when missing.
  void AcquireTargets(bool two);
  void ReleaseTargets();
  void SwapTargets() { swapped_ = !swapped_; }
  TRenderTargetTexture* GetTarget(int32_t index) const;
  TRenderTargetTexture* Current() const { return swapped_ ? target1_.get() : target0_.get(); }
  // Renders `item` through the drawer into the current target, placed at
  // EffectRect's top-left and cleared to transparent first. With `sampled`
  // (pixels of the target) only that part is cleared and rendered.
  void RenderToTarget(T3DDrawer* drawer, TDrawItem* item, const TRect* sampled = nullptr);
  // Between these two, tile batches are held rather than drawn.
  void BeginDeferred();
  void EndDeferred();
  bool Deferring() const { return deferring_; }
  void Defer(TTriBatch batch);
  // The target pixels the held batches may sample (empty: none); false when
  // that is not known.
  bool DeferredSource(TRect& out) const;
  // Rectangles of device pixels that the held batches from `first` on set
  // to opaque colours, sampling a target whose picture is opaque from its
  // origin to `opaque` (flat pictures at full opacity, as rectangles of two
  // triangles; neighbours joined).
  std::vector<TRect> DeferredCovers(size_t first, TSize opaque) const;
  // Draws the held batches in the order they came, on the device pixels of
  // `area`.
  void DrawDeferred(const TRect& area);
  // The controller over the current target.
  TEffController* Controller() const;
  // The texture tiles of the first batch draw from.
  TRenderTargetTexture* Source() const { return Current(); }

 protected:
  void Dispose() override;

 private:
  Ref<T3DScreen> screen_;
  Ref<TRenderTargetManager> pool_;
  Ref<TD3DTriController> controller_;
  // Pixels of the current target a batch shows unchanged, each at its own
  // place shifted by whole pixels.
  struct TCopy {
    TRect Pixels;
    TPoint Shift;
  };
  TCopy CopyOf(const TTriBatch& batch, const TRect& area) const;
  void CopyFromTarget(const TCopy& copy, TEffTile* tile);

  Ref<TRenderTargetTexture> target0_, target1_;
  bool swapped_ = false;
  bool deferring_ = false;
  TSize rendered_opaque_;  // the opaque part of the last rendered picture
  std::vector<TTriBatch> deferred_;
};

// Rectangles joined where one continues another across a whole side (to
// its right or below), as long as any pair does: each time, the first
// rectangle in the list that another continues takes in the first one that
// continues it, which leaves the list. Only rectangles of the same kind
// join (`kinds`: one per rectangle; none, all of one kind). Empty
// rectangles join nothing. n log n in the count.
struct TSideJoin {
  std::vector<TRect> Rects;  // the rectangles left, in their order
  // The indices of the rectangles each one left took in (its own first, the
  // others as they came, each with what it had taken in), one after another:
  // those of Rects[k] run from Starts[k] to Starts[k + 1].
  std::vector<uint32_t> Members, Starts;
};
TSideJoin JoinAlongSides(std::vector<TRect> rects, const std::vector<TPoint>* kinds = nullptr);

// Installs the transition hook of the 3D draw manager.
void InstallTransitions();
// The hook itself (for tests that drive it directly).
void DrawTransitionFrame(T3DDrawer* drawer, TDrawItem* from, TDrawItem* to, TDrawFilterParams* params);

}  // namespace kav
