#include "KavLib2/KavObjects/KavButton.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/KavObjects/KavSlideHost.h"
#include "KavLib2/KavObjects/KavText.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxPaths.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

TIniItem* Key(TKavObjectProps* props, std::u16string_view name) { return props ? props->FindValue(name) : nullptr; }

constexpr std::u16string_view kDescriptionFile = u"btn.ini";
constexpr std::u16string_view kFallbackTheme = u"aqua";

int32_t RoundClamped(double v) {
  if (!(v > -2147483647.0)) return -2147483647;
  if (!(v < 2147483647.0)) return 2147483647;
  return int32_t(std::nearbyint(v));
}

}  // namespace

void TKavButton::Dispose() {
  for (Ref<TImage>& l : looks_) l.reset();
  Caption = nullptr;
  producer_ = nullptr;
  TKavImage::Dispose();
}

void TKavButton::SetDefaults() {
  TKavImage::SetDefaults();
  look_ = 0;
  BtnOpacity = 100.0f;
}

TColor32 TKavButton::ThemeTextColor() const { return producer_ ? producer_->TextColor() : 0xFF000000u; }

void TKavButton::SetTheme(const std::u16string& name) {
  if (theme_set_ && WideUpperCase(name) == WideUpperCase(theme_)) return;
  theme_set_ = true;
  theme_ = name;
  auto* host = dynamic_cast<TKavSlideHost*>(ParentQuery());
  if (!host || !host->Accessor()) return;
  // The theme name comes from the show: it may only name a folder below the
  // theme folder.
  auto open = [&](std::u16string_view theme, std::u16string& folder) -> Ref<TStream> {
    std::u16string file;
    if (!SafePathCombine(host->ThemeFolder(), theme, folder) || !SafePathCombine(folder, kDescriptionFile, file))
      return nullptr;
    try {
      return host->Accessor()->OpenFile(file);
    } catch (const Exception&) {
      return nullptr;
    }
  };
  std::u16string folder;
  Ref<TStream> description = open(theme_, folder);
  if (!description) {
    theme_ = std::u16string(kFallbackTheme);
    description = open(theme_, folder);
  }
  producer_ = host->GetButtonProducer(folder);
  if (producer_ && !producer_->Loaded() && description) producer_->LoadFromFile(description.get(), folder);
  if (producer_) {
    width_ = producer_->LayoutWidth();
    height_ = producer_->LayoutHeight();
    SetFiltering(uint8_t(producer_->Filtering()));
    if (!picture_) {
      BtnOffsetX = 100.0f;
      BtnMinWidth = producer_->MinWidth();
    }
  }
  if (Caption) Caption->AttachToButton(this);
  for (Ref<TImage>& l : looks_) l.reset();
  dirty_ = true;
  DropPicture();
}

void TKavButton::LoadFromIni(TKavObjectProps* props, bool reload) {
  DropPicture();
  SetTheme(props ? props->GetText(u"Theme", u"") : std::u16string());
  auto set = [&](auto& field, auto value) {
    if (field != value) {
      field = value;
      dirty_ = true;
      Changed = 1;
    }
  };
  set(BtnOpacity, float(IniGetFloat(Key(props, u"BtnOpacity"), 100.0)));
  set(Hue, IniGetInteger(Key(props, u"Hue"), 0));
  set(Saturation, IniGetInteger(Key(props, u"Saturation"), 0));
  set(Lightness, IniGetInteger(Key(props, u"Lightness"), 0));
  TKavImage::LoadFromIni(props, reload);
  set(BtnMinWidth, float(IniGetFloat(Key(props, u"BtnMinWidth"), BtnMinWidth)));
  set(BtnOffsetX, float(IniGetFloat(Key(props, u"BtnOffsetX"), 100.0)));
  if (!std::isfinite(BtnMinWidth)) BtnMinWidth = 0;
  if (!std::isfinite(BtnOffsetX)) BtnOffsetX = 100;
  SetMipLodBias(0);
  for (Ref<TImage>& l : looks_) l.reset();
}

void TKavButton::UpdateAtTime(bool recursive, double time) {
  time_ = time;
  TKavImage::UpdateAtTime(recursive, time);
}

void TKavButton::SetCaptionAspect(double ratio) {
  const int32_t h = height_;
  if (h <= 0 || !std::isfinite(ratio) || ratio < 0) return;
  const int32_t inset = RoundClamped((100.0 - (Caption ? Caption->CaptionScaleX() : 100.0)) * h / 100.0);
  const int32_t width = std::max(h, std::max(RoundClamped((h - inset) * ratio + h * BtnOffsetX / 100.0),
                                             RoundClamped(h * BtnMinWidth / 100.0)));
  if (width != width_ || (picture_ && picture_->Width() != width)) {
    width_ = width;
    dirty_ = true;
    for (Ref<TImage>& l : looks_) l.reset();
  }
}

void TKavButton::SetLook(uint8_t look) {
  if (look > 2 || look == look_) return;
  look_ = look;
  dirty_ = true;
  VisibilityChanged = 1;
}

Ref<TImage> TKavButton::LookPicture(uint8_t look) {
  if (looks_[look]) return looks_[look];
  TKavObjectHost* host = ParentQuery();
  if (!host || !host->Accessor() || !producer_) return nullptr;
  looks_[look] =
      LoadImageHandle(host->Accessor(), MakeButtonKey(producer_->Folder(), look, width_, Hue, Saturation, Lightness));
  return looks_[look];
}

void TKavButton::ResolveImage() {
  if (Caption) SetCaptionAspect(Caption->CaptionAspect());
  if (picture_ && !dirty_) return;
  Ref<TImage> picture = LookPicture(look_);
  if (!picture) return;
  if (picture.get() != picture_.get()) TakePicture(picture);
  dirty_ = false;
}

void TKavButton::Calculate(bool recursive) {
  ResolveImage();
  FitByHeight();  // a button is sized by its height
  TKavImage::Calculate(recursive);
}

std::u16string TKavButton::ShapeKey() {
  return producer_ ? MakeButtonKey(producer_->Folder(), look_, width_, Hue, Saturation, Lightness) : std::u16string();
}

double TKavButton::ShadowBlurScale() { return std::ldexp(1.0, -mip_level_) * height_ / 400.0 * 1.1; }

void TKavButton::PrepareResources(TKavResourceVisitor* visitor) {
  if (!visitor || !visitor->Ready()) return;
  // The hover and pressed looks are made and uploaded ahead, so hovering and
  // pressing never wait for a picture.
  for (uint8_t look : {uint8_t(1), uint8_t(2), uint8_t(0)}) {
    if (Ref<TImage> p = LookPicture(look); p && size_.x > 0 && size_.y > 0) {
      TImageDrawParams params = GetDrawParams();
      params.SourceRect = TFloatRect{};
      visitor->Prepare(p.get(), params);
    }
  }
  SetLook(0);
  TKavImage::PrepareResources(visitor);
}

void TKavButton::ReleaseResources(TKavResourceVisitor* visitor) {
  if (visitor)
    for (Ref<TImage>& l : looks_)
      if (l && l.get() != picture_.get()) visitor->Release(l.get());
  TKavImage::ReleaseResources(visitor);
}

}  // namespace kav
