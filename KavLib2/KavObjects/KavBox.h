// Box objects: frames, boxes and splitters. A rectangle of its own size,
// filled with one colour or a two-colour gradient, optionally with a drop
// shadow, and a container for children. A splitter is never drawn; the
// slide splits its children at the first one.
#pragma once

#include "KavLib2/KavObjects/KavObjects.h"
#include "KavLib2/KavObjects/KavColorGrade.h"
#include "KavLib2/KavObjects/KavShadowDraw.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"

namespace kav {

enum : uint8_t { kFillSolid = 0, kFillHGradient, kFillVGradient, kFillTLBRGradient, kFillTRBLGradient };

class TKavBox : public TKavObject {
 public:
  using TKavObject::TKavObject;

  uint8_t FillMode = kFillSolid;
  TColor32 Color1 = 0;  // as read (no alpha)
  TColor32 Color2 = 0;
  uint8_t Alpha1 = 255;
  uint8_t Alpha2 = 255;
  bool Antialiased = false;

  // The colours as drawn (after the show's colour transform), no alpha.
  TColor32 DrawnColor1() const noexcept { return drawn1_; }
  TColor32 DrawnColor2() const noexcept { return drawn2_; }
  TShadow* Shadow() const noexcept { return shadow_.get(); }

  void LoadFromIni(TKavObjectProps* props, bool reload) override;
  void DrawSelf(TDeviceDrawer* drawer) override;
  // The shadow is updated and prepared, then the children.
  void PrepareResources(TKavResourceVisitor* visitor) override;
  void ReleaseResources(TKavResourceVisitor* visitor) override;
  // Makes or reuses the rectangle shadow of the box's size; nil without
  // ShadowEnable, a size or the host's file accessor.
  TShadow* UpdateShadow();
  // Whether the box draws nothing (splitters, fully transparent colours or
  // an effective opacity of at most 0.00196).
  bool Invisible();
  // The fill record the drawer gets.
  TBoxParams FillParams();

 protected:
  void Dispose() override;

 private:

  TColor32 drawn1_ = 0;
  TColor32 drawn2_ = 0;
  Ref<TShadow> shadow_;
  TQueuedShadow queued_shadow_;  // re-made by the host's image-task queue
  TColorGradeState grade_;       // lookups per colour keyframe
  T3DScreen* screen_ = nullptr;  // of the drawer that drew last
};

// Reads "Size" (two comma-separated numbers) into the object's size;
// (0, 0) when missing, a part that is not a finite number 0.
TFloatPoint ReadObjectSize(TKavObjectProps* props);

}  // namespace kav
