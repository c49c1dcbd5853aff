// The colour filter kinds of keyframes: linear (brightness and contrast,
// inversion), levels, the colour multiply family (colourisation) and HSL.
//
// Pixels are 32-bit blue, green, red, alpha; every filter writes alpha 255.
// The linear and levels filters are meant for lookup strips whose rows are
// all alike: they map the first row and copy it into every later row.
#pragma once

#include <array>
#include <string_view>

#include "KavLib2/KavClasses/KavObjectFilter.h"
#include "VoRav/Graphics/vxColor.h"

namespace kav {

// Enters the standard kinds in the order "Levels", "Colorization",
// "BrightContrast", "HSL", "Colorisation2", "Colorisation3", "Invert" (so
// "Invert" ends in front of the registry).
void RegisterStandardFilterKinds();

// The colourisation presets: a name and a colour text separated by ";"
// ("Custom" has no colour).
inline constexpr std::array<std::u16string_view, 4> kColorizationPresets{
    u"GrayScale;#808080", u"Sepia;155,130,99", u"Cyan;#6B7E92", u"Custom"};

// Per channel c -> clamp(trunc(c * gain + offset), 0, 255).
class TLinearGenerator : public TObjectFilter {
 public:
  void Apply(std::span<uint8_t* const> rows, int32_t width) override;
  // "k" (default 1) is the gain and "d" * 255 (default 0) the offset of
  // every channel.
  bool Prepare() override;

  std::array<float, 3> Gain{1, 1, 1};    // blue, green, red
  std::array<float, 3> Offset{0, 0, 0};

 protected:
  void SetAll(float gain, float offset);
};

// "Bright" and "Contrast", -100..100.
class TBrightContrastGenerator : public TLinearGenerator {
 public:
  bool Prepare() override;
  int32_t ParamCount() const override { return 2; }
  TFilterParams ParamDescriptors() const override;
};

class TInvertColor : public TLinearGenerator {
 public:
  bool Prepare() override;
};

// "Min" 0..255, "Med" -100..100 (the gamma), "Max" 0..255. A range with
// Max <= Min leaves the pixels alone.
class TLevelsGenerator : public TObjectFilter {
 public:
  void Apply(std::span<uint8_t* const> rows, int32_t width) override;
  bool Prepare() override;
  int32_t ParamCount() const override { return 3; }
  TFilterParams ParamDescriptors() const override;

  int32_t Min = 0;
  int32_t Max = 255;
  double Scale = 1.0 / 255;
  double Gamma = 1;
  bool Identity = false;
};

// The colour multiply family: "Color" and "Amount" 0..100 (default 100).
// Each channel c moves toward a target t by the amount:
// min(255, c + (t - c) * a / 256) with a = round(Amount * 2.56).
// This class's target is (k * c) >> 8 for the colour's byte k.
class TColorMultiply : public TObjectFilter {
 public:
  void Apply(std::span<uint8_t* const> rows, int32_t width) override;
  bool Prepare() override;
  // kFilterKindColorGrade when enabled; a disabled one has the kind of the
  // chain behind it.
  int32_t Kind() const override;
  int32_t ParamCount() const override { return 2; }
  TFilterParams ParamDescriptors() const override;
  // With a "Preset": the translated preset name, ": " and the display name.
  std::u16string DisplayName() const override;
  // An edit removes "Preset".
  int32_t SetParamText(int32_t index, std::u16string_view text) override;

  int32_t Amount = 256;  // 0..256
  TColor32 Color = 0;

 protected:
  // The targets of blue, green and red for one pixel.
  virtual std::array<int32_t, 3> Targets(const uint8_t* pixel) const;
};

// Target min(255, (k * c) >> 7).
class TDoubleColorMultiply : public TColorMultiply {
 protected:
  std::array<int32_t, 3> Targets(const uint8_t* pixel) const override;
};

// Target (k * luma) >> 7, luma = (r * 13933 + g * 46871 + b * 7471) >> 16.
class TColorizationGenerator : public TColorMultiply {
 protected:
  std::array<int32_t, 3> Targets(const uint8_t* pixel) const override;
};

// "Hue" -180..180 degrees, "Saturation" and "Lightness" -100..100 percent,
// applied on the 0..255 HSL scale.
class THSLGenerator : public TObjectFilter {
 public:
  void Apply(std::span<uint8_t* const> rows, int32_t width) override;
  bool Prepare() override;
  int32_t Kind() const override;
  int32_t ParamCount() const override { return 3; }
  TFilterParams ParamDescriptors() const override;

  int32_t HueShift = 0;         // wraps around 256
  int32_t SaturationShift = 0;  // clamped result
  int32_t LightnessShift = 0;
};

}  // namespace kav
