// The themed bevel and its painters: TBevelTheme draws the classic border
// lines from the system colours (style 1 a plain ring, 2 sunken, 3 etched,
// and the two-pixel separator lines); the visual-styles painter is in
// winThemedBevelTheme. The bevel prepares its border once per size, style,
// sides or flag and paints it over its whole area. Made through
// AllocFrameBevel once InitThemedBevel has run. GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxFrameBevel.h"
#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

// Bevel styles.
enum : uint8_t { kBevelStyleDefault = 0, kBevelStyleLine = 1, kBevelStyleSunken = 2, kBevelStyleEtched = 3 };

// The prepared border of one bevel: what it was prepared for and, for a
// painter that draws pictures, up to four pieces with their places.
class TBevelParts : public TRefObject {
 public:
  struct TPiece {
    Ref<TSysBitmap> Picture;
    TPoint At;
  };
  TSize Size;
  uint8_t Sides = 0;
  uint8_t Style = 0;
  bool Flag = false;
  TRect Content;  // the area the border leaves (pieces only)
  std::vector<TPiece> Pieces;
};

class TBevelTheme : public TFrameControlTheme {
 public:
  using TFrameControlTheme::TFrameControlTheme;

  virtual uint8_t DefaultStyle() { return kBevelStyleEtched; }
  // The whole rectangle moved in by the border width (1 for style 1, else
  // 2) on each side in the mask.
  virtual void ContentRect(uint8_t sides, uint8_t style, TRect& rect, TSize size);
  // The border measured on a 100 x 100 box: size = client + 100 - inner,
  // offset = the inner top-left.
  virtual void SizeFromClient(uint8_t style, uint8_t sides, TSize& size, TPoint& offset, TSize client_size);
  // Stores size, sides, style and flag and drops the pictures.
  virtual void PrepareParts(uint8_t sides, uint8_t style, TBevelParts* parts, TSize size, bool flag);
  // Draws the border of the prepared parts.
  virtual void DrawParts(TDrawSurface* surface, TBevelParts* parts);
};

// Makes the bevel painter of a style set (attached to it); nil makes a
// TBevelTheme.
using TBevelThemeFactory = TBevelTheme* (*)(TControlStyles* styles);
extern TBevelThemeFactory AllocBevelTheme;
TBevelTheme* BevelThemeOf(TControlStyles* styles);

class TThemedBevel : public TFrameBevel {
 public:
  TThemedBevel(TDrawFrame* frame, TBevelTheme* painter);

  TBevelTheme* Painter() const { return painter_; }
  // The style asked for (0: the painter's default) and the one in force.
  uint8_t GetStyle() override { return style_; }
  void SetStyle(uint8_t style) override;
  uint8_t EffectiveStyle() { return style_ ? style_ : painter_->DefaultStyle(); }
  void ContentRect(TSize size, TRect& rect) override;
  void SizeFromClient(TSize client_size, TPoint& offset, TSize& size) override;
  void SetBorderFlag(bool value) override;
  void SetSides(uint8_t sides) override;
  bool Prepared() const { return prepared_; }

  void Paint(TDrawSurface* surface) override;
  void SizeChanged() override;
  void ThemeChanged() override;

 private:
  void DropBorder();

  TBevelTheme* painter_;  // owned by the style set
  uint8_t style_ = kBevelStyleDefault;
  Ref<TBevelParts> parts_;
  bool prepared_ = false;
};

TFrameBevel* AllocThemedBevel(TDrawFrame* frame, TControlStyles* styles);
// Module initialisation: AllocFrameBevel makes themed bevels.
void InitThemedBevel();

}  // namespace kav
