// Text objects: a block of text on a slide, or the caption of a button. The
// picture is the text rendered through the slide host's text producer ("Text:
// " keys), or, for a text the authoring tool rasterized, a ready picture. A
// text has three looks (normal, hover, click) with a colour each, expands
// macros (slide number, the main picture's size and name) and renders again
// when the size it is shown at grows.
#pragma once

#include <vector>

#include "KavLib2/KavClasses/KavTextMacros.h"
#include "KavLib2/KavObjects/KavImage.h"

namespace kav {

class TKavButton;

// A text is rendered at the size it is shown at, with two bounds: its lines
// at most this many times the slide's height (an object close to the camera
// would otherwise ask for a bitmap without bound), and its picture at most
// kMaxTextBitmapPixels pixels (a line of 2,000 characters at 100-pixel letters
// fits). A text over either is rendered smaller, scaled up and blurred,
// and says so once in the log. A long line is not narrowed: it runs off the
// slide's sides.
inline constexpr double kMaxTextBitmapFactor = 2.0;
inline constexpr int64_t kMaxTextBitmapPixels = int64_t(1) << 24;

class TKavText : public TKavImage {
 public:
  using TKavImage::TKavImage;

  // ---- Keys ----
  TColor32 TextColor = 0xFFFFFFFFu;
  TColor32 TextColorHover = 0xFFFFFFFFu;
  TColor32 TextColorClick = 0xFFFFFFFFu;
  std::u16string FontName = u"Arial";
  uint8_t FontStyle = 0;
  uint8_t TextAlign = 1;  // 0 left, 1 centre, 2 right
  int32_t LineSpacing = 0;
  bool Rasterize = false;
  std::u16string RasterizedGUID;
  bool IsComment() const noexcept { return is_comment_; }
  // Only one text of a slide is the comment: setting it clears the others.
  void SetIsComment(bool v);

  // The lines as read and as rendered (macros expanded).
  const std::vector<std::u16string>& Lines() const noexcept { return lines_; }
  std::vector<std::u16string> ExpandedLines();
  uint8_t Look() const noexcept { return look_; }
  void SetLook(uint8_t look);
  // The colour of a look as drawn (after the colour transform).
  TColor32 DrawnColor(uint8_t look) const noexcept { return drawn_[look > 2 ? 0 : look]; }
  void SetColors(TColor32 normal, TColor32 hover, TColor32 click);
  // The key of the rendered picture at a scale.
  std::u16string TextKey(double scale);
  double RenderScale() const noexcept { return render_scale_; }
  // The rendered height of one line in pixels (0 before rendering).
  float FontSize() const noexcept { return font_size_; }

  // ---- Button caption ----
  TKavButton* Button() const noexcept { return button_; }
  // Becomes the button's caption: transparent for clicks, no shadow, the
  // theme's text colour, the theme's caption inset on its keyframe.
  void AttachToButton(TKavButton* button);
  // Scale.X of the caption's first keyframe (100 without one).
  double CaptionScaleX();
  // Width / height of the rendered text (0 before rendering).
  double CaptionAspect();

  // ---- Object operations ----
  void SetDefaults() override;
  void Load(TKavObjectProps* props, bool reload) override;
  void BuildChildren(bool) override {}
  void LoadFromIni(TKavObjectProps* props, bool reload) override;
  void ResolveImage() override;
  void Calculate(bool recursive) override;
  // The text body's part of the picture: what the target height is fitted to.
  TFloatPoint FitSize() override;
  TImageDrawParams GetDrawParams() override;
  float DrawOpacity() override;
  double ShadowBlurScale() override;
  // Hit tests are the rectangle's: the text stores carry no hit regions.
  std::u16string ShapeKey() override { return Rasterize ? PictureKey() : rendered_key_; }

 protected:
  void Dispose() override;

 private:
  void ExpandMacro(TMTParser* parser, std::u16string_view macro, std::u16string& value);
  // An EXIF or IPTC field of the picture file for its macro; empty for
  // other macros or when the file has none.
  std::u16string PictureMetadata(const std::u16string& name, std::u16string_view macro);
  void UpdateDrawnColors();
  // Takes a rendering (or the placeholder) as the picture and notes the
  // height of its text body.
  void TakeRendering(Ref<TImage> picture);

  std::vector<std::u16string> lines_;
  std::string raw_text_;
  TColor32 drawn_[3] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  uint8_t look_ = 0;
  bool dirty_ = true;
  bool is_comment_ = false;
  TKavButton* button_ = nullptr;  // the parent when this is its caption
  std::u16string rendered_key_;
  double render_scale_ = 0;
  int32_t body_height_ = 0;  // height of the text body in the picture (0: not a rendered text)
  float font_size_ = 0;  // rendered line height in pixels
  bool bound_said_ = false;  // the log heard that the text is rendered below its size
  TQueuedPicture queued_picture_;  // rendered by the host's image-task queue
};

}  // namespace kav
