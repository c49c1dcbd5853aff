// Viewports and masks: a viewport shows its content subtree only where its
// stencil subtree covers it; the drawer renders the content through the
// stencil in one masked draw.
#pragma once

#include "KavLib2/KavObjects/KavObjects.h"

namespace kav {

class TKavMaskStencil : public TKavObject {
 public:
  using TKavObject::TKavObject;
  // The base keys, then the parent's size as its own; transparent for
  // clicks unless the project says "TranspForClick=0".
  void LoadFromIni(TKavObjectProps* props, bool reload) override;
};

class TKavMaskContent : public TKavMaskStencil {
 public:
  using TKavMaskStencil::TKavMaskStencil;
};

class TKavViewPort : public TKavObject {
 public:
  using TKavObject::TKavObject;

  void SetDefaults() override { SetSize(FloatPoint(1, 1)); }
  // "Size", then the base keys.
  void LoadFromIni(TKavObjectProps* props, bool reload) override;
  // Draws the content through the stencil (the last child of each kind);
  // without both nothing is drawn, the children neither.
  void Draw(TDeviceDrawer* drawer) override;
  void DrawSelf(TDeviceDrawer* drawer) override;

  // The mask value of the last draw: 0 when the content has children, else
  // the host's default.
  int32_t MaskValue() const noexcept { return mask_value_; }
  TKavMaskStencil* Stencil() const noexcept { return stencil_; }
  TKavMaskContent* Content() const noexcept { return content_; }

 private:
  int32_t mask_value_ = 0;
  TKavMaskStencil* stencil_ = nullptr;
  TKavMaskContent* content_ = nullptr;
};

// Kinds 9-11; other kinds go to the hook installed before.
Ref<TKavObject> CreateKavViewPortObject(int32_t kind, TKavObject* parent, TKavObjectProps* props);
// Puts CreateKavViewPortObject in front of the factory chain.
void RegisterKavViewPortFactory();

}  // namespace kav
