#include "KavLib2/KavClasses/KavColorFilters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "VoRav/Graphics/SysHSLAdjust.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

// Descriptor sets, one cache slot each.
enum : int32_t { kParamsBrightContrast = 0, kParamsLevels = 1, kParamsColorize = 2, kParamsHSL = 3 };

int32_t ReadInt(const TIniList* ini, std::u16string_view key, int32_t def) {
  return IniGetInteger(IniFindKey(ini, key), def);
}
double ReadFloat(const TIniList* ini, std::u16string_view key, double def) {
  return IniGetFloat(IniFindKey(ini, key), def);
}

// Truncates toward zero into 0..255; NaN gives 0.
uint8_t TruncByte(double v) {
  if (!(v > 0)) return 0;
  if (v >= 255) return 255;
  return static_cast<uint8_t>(v);
}

int32_t RoundInt(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

// Copies row 0 into every later row.
void CopyFirstRow(std::span<uint8_t* const> rows, int32_t width) {
  for (size_t y = 1; y < rows.size(); ++y) std::memcpy(rows[y], rows[0], size_t(width) * 4);
}

int32_t KindBehind(const TObjectFilter* f) { return f->Next() != nullptr ? f->Next()->Kind() : kFilterKindNone; }

template <class T>
Ref<TObjectFilter> New() {
  return MakeRef<T>();
}

}  // namespace

void RegisterStandardFilterKinds() {
  RegisterFilterKind(New<TLevelsGenerator>, "Levels");
  RegisterFilterKind(New<TColorizationGenerator>, "Colorization");
  RegisterFilterKind(New<TBrightContrastGenerator>, "BrightContrast");
  RegisterFilterKind(New<THSLGenerator>, "HSL");
  RegisterFilterKind(New<TColorMultiply>, "Colorisation2");
  RegisterFilterKind(New<TDoubleColorMultiply>, "Colorisation3");
  RegisterFilterKind(New<TInvertColor>, "Invert");
}

// ---- Linear ---------------------------------------------------------------------

void TLinearGenerator::SetAll(float gain, float offset) {
  Gain.fill(gain);
  Offset.fill(offset);
}

bool TLinearGenerator::Prepare() {
  SetAll(static_cast<float>(ReadFloat(ini_.get(), u"k", 1.0)),
         static_cast<float>(ReadFloat(ini_.get(), u"d", 0.0) * 255));
  return true;
}

void TLinearGenerator::Apply(std::span<uint8_t* const> rows, int32_t width) {
  if (rows.empty() || width <= 0) return;
  uint8_t* p = rows[0];
  for (int32_t x = 0; x < width; ++x, p += 4) {
    for (int c = 0; c < 3; ++c) p[c] = TruncByte(double(p[c]) * Gain[size_t(c)] + Offset[size_t(c)]);
    p[3] = 255;
  }
  CopyFirstRow(rows, width);
}

bool TBrightContrastGenerator::Prepare() {
  const int32_t bright = std::clamp(ReadInt(ini_.get(), u"bright", 0), -100, 100);
  const int32_t contrast = std::clamp(ReadInt(ini_.get(), u"contrast", 0), -100, 100);
  const double a = (100 - contrast) * std::numbers::pi * 0.0025;
  const double gain = std::abs(a) <= 0.001 ? 10000.0 : std::min(10000.0, std::max(0.0, 1.0 / std::tan(a)));
  const double offset = ((1 - gain) * 0.5 + (bright / 255.0) * gain) * 255;
  SetAll(static_cast<float>(gain), static_cast<float>(offset));
  return true;
}

TFilterParams TBrightContrastGenerator::ParamDescriptors() const {
  return CachedFilterParams(kParamsBrightContrast, [] {
    return std::vector<TFilterParam>{MakeFilterParam("Bright", kParamNumber, -100, 100, 0, u"Brightness"),
                                     MakeFilterParam("Contrast", kParamNumber, -100, 100, 0)};
  });
}

bool TInvertColor::Prepare() {
  SetAll(-1, 255);
  return true;
}

// ---- Levels -------------------------------------------------------------------------

bool TLevelsGenerator::Prepare() {
  Min = std::clamp(ReadInt(ini_.get(), u"Min", 0), 0, 255);
  const int32_t med = std::clamp(ReadInt(ini_.get(), u"Med", 0), -100, 100);
  Max = std::clamp(ReadInt(ini_.get(), u"Max", 255), 0, 255);
  // An empty or reversed input range has no sensible mapping; the filter
  // then keeps the pixels as they are.
  Identity = Max <= Min;
  Scale = Identity ? 1.0 : 1.0 / (Max - Min);
  Gamma = med == -100 ? 10.0 : std::clamp(double(100 - med) / double(100 + med), 0.1, 10.0);
  return true;
}

void TLevelsGenerator::Apply(std::span<uint8_t* const> rows, int32_t width) {
  if (Identity || rows.empty() || width <= 0) return;
  uint8_t table[256];
  for (int32_t c = 0; c < 256; ++c) {
    const double x = std::max(0, c - Min) * Scale;
    table[c] = TruncByte(std::pow(x, Gamma) * 255);
  }
  uint8_t* p = rows[0];
  for (int32_t x = 0; x < width; ++x, p += 4) {
    p[0] = table[p[0]];
    p[1] = table[p[1]];
    p[2] = table[p[2]];
    p[3] = 255;
  }
  CopyFirstRow(rows, width);
}

TFilterParams TLevelsGenerator::ParamDescriptors() const {
  return CachedFilterParams(kParamsLevels, [] {
    return std::vector<TFilterParam>{MakeFilterParam("Min", kParamNumber, 0, 255, 0),
                                     MakeFilterParam("Med", kParamNumber, -100, 100, 0),
                                     MakeFilterParam("Max", kParamNumber, 0, 255, 255)};
  });
}

// ---- Colour multiply family -------------------------------------------------------------

bool TColorMultiply::Prepare() {
  const double amount = std::clamp(ReadFloat(ini_.get(), u"Amount", 100), 0.0, 100.0);
  Amount = RoundInt(amount * 0.01 * 256);
  Color = ColorFromTextDef(IniGetValueBytes(IniFindKey(ini_.get(), u"Color")));
  return true;
}

int32_t TColorMultiply::Kind() const { return disabled_ ? KindBehind(this) : kFilterKindColorGrade; }

std::array<int32_t, 3> TColorMultiply::Targets(const uint8_t* p) const {
  return {(ColorBlue(Color) * p[0]) >> 8, (ColorGreen(Color) * p[1]) >> 8, (ColorRed(Color) * p[2]) >> 8};
}

std::array<int32_t, 3> TDoubleColorMultiply::Targets(const uint8_t* p) const {
  return {std::min(255, (ColorBlue(Color) * p[0]) >> 7), std::min(255, (ColorGreen(Color) * p[1]) >> 7),
          std::min(255, (ColorRed(Color) * p[2]) >> 7)};
}

std::array<int32_t, 3> TColorizationGenerator::Targets(const uint8_t* p) const {
  const int32_t luma = (p[2] * 13933 + p[1] * 46871 + p[0] * 7471) >> 16;
  return {(ColorBlue(Color) * luma) >> 7, (ColorGreen(Color) * luma) >> 7, (ColorRed(Color) * luma) >> 7};
}

void TColorMultiply::Apply(std::span<uint8_t* const> rows, int32_t width) {
  for (uint8_t* row : rows) {
    uint8_t* p = row;
    for (int32_t x = 0; x < width; ++x, p += 4) {
      const std::array<int32_t, 3> t = Targets(p);
      for (int c = 0; c < 3; ++c) p[c] = uint8_t(std::min(255, p[c] + (t[size_t(c)] - p[c]) * Amount / 256));
      p[3] = 255;
    }
  }
}

TFilterParams TColorMultiply::ParamDescriptors() const {
  return CachedFilterParams(kParamsColorize, [] {
    return std::vector<TFilterParam>{MakeFilterParam("Color", kParamColor, 0, 0, 0),
                                     MakeFilterParam("Amount", kParamNumber, 0, 100, 100)};
  });
}

std::u16string TColorMultiply::DisplayName() const {
  const std::u16string preset = IniGetString(IniFindKey(ini_.get(), u"Preset"));
  if (preset.empty()) return display_name_;
  return TranslateFilterText(u"ColorCorrect", preset, preset) + u": " + display_name_;
}

int32_t TColorMultiply::SetParamText(int32_t index, std::u16string_view text) {
  const int32_t changed = TObjectFilter::SetParamText(index, text);
  if (changed != 0)
    if (TIniItem* preset = IniFindKey(ini_.get(), u"Preset")) preset->Owner()->Remove(preset->Index());
  return changed;
}

// ---- HSL ------------------------------------------------------------------------------

bool THSLGenerator::Prepare() {
  HueShift = RoundInt(std::clamp(ReadFloat(ini_.get(), u"Hue", 0), -180.0, 180.0) / 360 * 256);
  SaturationShift = RoundInt(std::clamp(ReadFloat(ini_.get(), u"Saturation", 0), -100.0, 100.0) * 2.56);
  LightnessShift = RoundInt(std::clamp(ReadFloat(ini_.get(), u"Lightness", 0), -100.0, 100.0) * 2.56);
  return true;
}

int32_t THSLGenerator::Kind() const { return disabled_ ? KindBehind(this) : kFilterKindColorGrade; }

void THSLGenerator::Apply(std::span<uint8_t* const> rows, int32_t width) {
  for (uint8_t* row : rows) {
    uint8_t* p = row;
    for (int32_t x = 0; x < width; ++x, p += 4) {
      ShiftPixelHSL(p, HueShift, SaturationShift, LightnessShift);
      p[3] = 255;
    }
  }
}

TFilterParams THSLGenerator::ParamDescriptors() const {
  return CachedFilterParams(kParamsHSL, [] {
    return std::vector<TFilterParam>{MakeFilterParam("Hue", kParamNumber, -180, 180, 0),
                                     MakeFilterParam("Saturation", kParamNumber, -100, 100, 0),
                                     MakeFilterParam("Lightness", kParamNumber, -100, 100, 0)};
  });
}

}  // namespace kav
