// The style set of the frame-control tree: colours, fonts, scale and the
// painters (control themes) attached to it; brushes; and the focus helper
// that tells controls whether to show focus cues.
//
// A control theme joins the style set it is made for: the set's list of
// attached themes keeps a reference to it and releases it with the set, so
// painters live as long as their style set and are found there by class.
// GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxLists.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TFrameControlTheme;

// What a brush paints on: the fill of the control surface (colours
// 0xAARRGGBB), which the surface of the frame tree provides.
class TBrushCanvas {
 public:
  virtual ~TBrushCanvas() = default;
  virtual void FillRect(const TRect& rect, uint32_t color) = 0;
};

class TFrameBrush : public TRefObject {
 public:
  virtual TColor32 GetColor() = 0;
  // Fills the rectangle with the brush's colour.
  virtual void Paint(TBrushCanvas* canvas, const TRect& rect);
  // Fills the part of the rectangle inside the clip; nothing when empty.
  virtual void PaintClipped(TBrushCanvas* canvas, const TRect& rect, const TRect& clip);
};

// The colour of a brush; the transparent colour 0 for none.
inline TColor32 BrushColor(TFrameBrush* brush) { return brush ? brush->GetColor() : kTransparentColor; }

class TControlStyles : public TRefObject {
 public:
  TControlStyles();

  // Copies every field: fonts as records, the face brush by reference, the
  // dotted pattern as a copy. The attached themes stay.
  virtual void Assign(TControlStyles* source);

  // The attached themes (made on first use).
  TList* AttachedThemes();
  // The first attached theme that is a T (or derives from one), or nil.
  template <class T>
  T* FindTheme() const {
    if (!themes_) return nullptr;
    int32_t i = -1;
    return themes_->FindInstanceOf<T>(i) ? dynamic_cast<T*>(static_cast<TRefObject*>(themes_->Get(i))) : nullptr;
  }

  // Makes the checkerboard of the frame colour (32 x 32, pixels whose
  // x + y is even transparent).
  void MakeDottedPattern();

  Ref<TFrameBrush> FaceBrush;
  double ScaleX = 1.0;
  double ScaleY = 1.0;
  TFontDesc NormalFont;
  TColor32 WindowColor = 0;
  TColor32 BorderColor = ColorRGBA(127, 157, 185, 255);
  TColor32 InfoBackground = ColorRGBA(255, 255, 225, 255);
  TFontDesc SelectionFont;
  TColor32 HighlightColor = 0;
  TFontDesc ControlFont;
  TColor32 FaceColor = 0;
  TColor32 FrameColor = 0;
  TColor32 LightColor = 0;
  TColor32 HilightColor = 0;
  TColor32 ShadowColor = 0;
  TColor32 DarkShadowColor = 0;
  TColor32 MixedFace = ColorRGBA(255, 255, 255, 255);
  Ref<TSysBitmap> DottedPattern;

 protected:
  void Dispose() override;

 private:
  friend class TFrameControlTheme;
  std::unique_ptr<TList> themes_;
};

// The base of control painters: the style set it belongs to.
class TFrameControlTheme : public TRefObject {
 public:
  // Joins the attached themes of `styles` (which keep a reference).
  explicit TFrameControlTheme(TControlStyles* styles);
  TControlStyles* Styles() const { return styles_; }

 private:
  TControlStyles* styles_;
};

// What the focus helper needs of a root control: its attached objects. The
// frame-control tree's root control provides it.
class TFocusRoot {
 public:
  virtual ~TFocusRoot() = default;
  // The root's attached-object list; it keeps a reference to each object.
  virtual TList& AttachedObjects() = 0;
};

// Says whether focus cues are shown in a tree; raises event 1 (the
// listeners are called) when that may have changed.
class TFocusHelper : public TRefObject {
 public:
  using TListener = TDelegate<void(TFocusHelper* helper, int32_t code)>;

  virtual bool ShowFocusRect() { return true; }

  void AddListener(TListener listener);
  void RemoveListener(TListener listener);
  // Calls every listener with the code (a listener may remove itself).
  void Raise(int32_t code);

 private:
  std::vector<TListener> listeners_;
};

// Makes the focus helper of a root; the hook decides the class.
using TFocusHelperFactory = Ref<TFocusHelper> (*)(TFocusRoot* root);
// Installs a factory and answers the previous one (which a factory calls
// for roots it does not serve); nil restores the plain helper.
TFocusHelperFactory SetFocusHelperFactory(TFocusHelperFactory factory);
// The plain helper (the first hook of the chain).
Ref<TFocusHelper> MakePlainFocusHelper(TFocusRoot* root);

// The focus helper in the root's attached objects, made and added when there
// is none; nil for no root.
TFocusHelper* AttachFocusHelper(TFocusRoot* root);

}  // namespace kav
