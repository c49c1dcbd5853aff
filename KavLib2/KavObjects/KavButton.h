// Button objects: a clickable button drawn from a button theme (skin). The
// picture is generated for the theme, the width, the look (normal, hover,
// pressed) and a colour shift, and asked for through the slide host by a
// "Button: " key. Its first child, when it is a text, is its caption.
#pragma once

#include <array>

#include "KavLib2/KavObjects/KavImage.h"

namespace kav {

class TButtonProducer;
class TKavText;

class TKavButton : public TKavImage {
 public:
  using TKavImage::TKavImage;

  float BtnOpacity = 100.0f;
  float BtnOffsetX = 100.0f;
  float BtnMinWidth = 0.0f;
  int32_t Hue = 0, Saturation = 0, Lightness = 0;
  // The caption (the first child when it is a text; not owned).
  TKavText* Caption = nullptr;

  const std::u16string& Theme() const noexcept { return theme_; }
  int32_t ButtonWidth() const noexcept { return width_; }
  int32_t ButtonHeight() const noexcept { return height_; }
  uint8_t Look() const noexcept { return look_; }
  bool Dirty() const noexcept { return dirty_; }
  // The theme's producer (nil before a theme is loaded).
  TButtonProducer* Producer() const noexcept { return producer_; }

  // Loads the theme (compared without regard to case); a theme whose
  // description cannot be opened falls back to "aqua".
  void SetTheme(const std::u16string& name);
  // 0 normal, 1 hover, 2 pressed: takes the cached or a new picture.
  void SetLook(uint8_t look);
  // The width for a caption of width / height ratio r.
  void SetCaptionAspect(double ratio);
  // The theme's text colour (opaque black without a theme).
  TColor32 ThemeTextColor() const;

  void SetDefaults() override;
  void LoadFromIni(TKavObjectProps* props, bool reload) override;
  void UpdateAtTime(bool recursive, double time) override;
  void Calculate(bool recursive) override;
  void ResolveImage() override;
  float DrawOpacity() override { return ScaledValue() * BtnOpacity / 100.0f; }
  double ShadowBlurScale() override;
  std::u16string ShapeKey() override;
  void PrepareResources(TKavResourceVisitor* visitor) override;
  void ReleaseResources(TKavResourceVisitor* visitor) override;

 protected:
  void Dispose() override;

 private:
  Ref<TImage> LookPicture(uint8_t look);

  bool dirty_ = true;
  std::u16string theme_;
  bool theme_set_ = false;
  TButtonProducer* producer_ = nullptr;  // owned by the host's producer host
  int32_t width_ = 0, height_ = 0;
  double time_ = 0;
  std::array<Ref<TImage>, 3> looks_;
  uint8_t look_ = 0;
};

}  // namespace kav
