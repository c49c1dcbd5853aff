// The transition of one slide as the transition factory takes it: a kind
// code with its parameters, read from the project's effect description.
//
// Kind codes: 1 dissolve, 2 hourhand, 3 shapes, 4 gates, 5 page, 6 mosaic,
// 7 push, 8 slide, 9 curling, 10 flip, 11 swap, 12 custom. The standard
// names "quick" (no transition), "default" and "defowntime" (one of the
// show's default transitions) have no code of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxIni.h"

namespace kav {

class TEffectProp;

enum : int32_t {
  kEffectNone = 0,
  kEffectDissolve = 1,
  kEffectHourhand = 2,
  kEffectShapes = 3,
  kEffectGates = 4,
  kEffectPage = 5,
  kEffectMosaic = 6,
  kEffectPush = 7,
  kEffectSlide = 8,
  kEffectCurling = 9,
  kEffectFlip = 10,
  kEffectSwap = 11,
  kEffectCustom = 12,
};
// What a name stands for besides the codes above.
enum : int32_t { kEffectNameQuick = -1, kEffectNameDefault = -2, kEffectNameDefOwnTime = -3 };

class TKavEffect : public TRefObject {
 public:
  // "smoothline": values below 0.1 are kept as 0.001 (the initial value).
  double Value = 0.001;
  int32_t Kind = kEffectNone;
  // How many option combinations are enabled; 0: the effect is not used.
  int32_t VariantCount = 0;
  std::vector<int32_t> Ints;
  std::vector<float> Floats;
  std::vector<uint8_t> Flags;  // each 0 or 1
  std::u16string Name;
  Ref<TIniSection> CustomSection;  // kind 12: the variant's copied section

  void SetSmoothLine(double value) noexcept { Value = value < 0.1 ? 0.001 : value; }
  // A copy sharing the custom section.
  Ref<TKavEffect> Copy() const;
  // The copy in which only variant v stays enabled (v in 0..VariantCount-1).
  Ref<TKavEffect> CopyWithVariant(int32_t v) const;

 protected:
  void Dispose() override;
};

// The code of an effect name (any case): 1..11 for the kind names,
// kEffectNameQuick / Default / DefOwnTime, kEffectCustom for anything else.
int32_t EffectKindOfName(std::u16string_view name);
// The code of a standard index (TEffectProp::GetDefaults): 2 dissolve,
// 4..13 hourhand..swap, 0, 1 and 3 the standard names, others custom.
int32_t EffectKindOfDefaults(int32_t defaults);

// The effect of kind `kind` (1..12) with the options `prop` holds, its
// variant count counted. Numbers that do not parse take their defaults.
// The mosaic's seed (Ints[3]) is left 0 for the caller.
Ref<TKavEffect> BuildKavEffect(TEffectProp* prop, int32_t kind);

}  // namespace kav
