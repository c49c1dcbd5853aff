// The show source's transitions: each slide's effect and the show's default
// transitions with their play order and variant choice.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "KavLib2/KavClasses/KavSource.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxUTF8.h"

namespace kav {

double TKavSource::EffectTimeValue(TEffectProp* prop) const {
  std::u16string text;
  if (!prop->ReadText(u"time", text)) return 0;
  return ByteStringToFloatDef(UTF8Encode(text), 0);
}

void TKavSource::BuildDefaultEffects() {
  defaults_.clear();
  const int32_t groups = manager_->Count();
  for (int32_t g = 0; g < groups; ++g) {
    TEffectProp* prop = manager_->GetEffectProp(g);
    if (!prop || prop->GetCheckState() == 0) continue;
    if (CompareWideStr(prop->GetKey(), u"custom", true) == 0) {
      const int32_t n = prop->CountVariants();
      for (int32_t v = 0; v < n; ++v) {
        if (!prop->IsVariantAvailable(v) || !prop->FindSlideSection(v)) continue;
        auto e = MakeRef<TKavEffect>();
        e->Kind = kEffectCustom;
        e->Name = prop->GetRefName();
        e->VariantCount = 1;
        e->Flags = {1};
        e->CustomSection = prop->CopyToSection(v);
        defaults_.push_back(std::move(e));
      }
      continue;
    }
    const int32_t kind = EffectKindOfDefaults(prop->GetDefaults());
    if (kind <= 0) continue;  // "default", "defowntime", "quick"
    Ref<TKavEffect> e = BuildKavEffect(prop, kind);
    if (e->VariantCount > 0) defaults_.push_back(std::move(e));
  }
  order_.resize(defaults_.size());
  for (size_t i = 0; i < order_.size(); ++i) order_[i] = int32_t(i);
  ShuffleDefaultOrder();
}

void TKavSource::ShuffleDefaultOrder() {
  random_.Randomize();
  const int32_t n = int32_t(order_.size());
  for (int32_t k = 0; k + 1 < n; ++k) {
    const int32_t j = random_.Random(n - k);
    if (j != k) std::swap(order_[size_t(k)], order_[size_t(j)]);
  }
}

Ref<TKavEffect> TKavSource::ChooseDefaultEffect(int32_t index) {
  const int32_t n = int32_t(defaults_.size());
  if (n == 0) return nullptr;
  int32_t p;
  if (reproducible_) {
    p = index % n;
  } else {
    p = counter_;
    counter_ = (counter_ + 1) % n;
    if (p == 0) ShuffleDefaultOrder();
  }
  const TKavEffect* e = defaults_[size_t(order_[size_t(p)])].get();
  const int32_t count = e->VariantCount;
  if (count < 1) return nullptr;
  int32_t v;
  // Successive slides alternate between even and odd variants.
  if (reproducible_) {
    v = int32_t((uint32_t(seed_) ^ uint32_t(index)) % uint32_t(count));
    if (((index & 1) ^ int32_t(toggle_)) != (v & 1)) v = v + 1 < count ? v + 1 : 0;
  } else {
    v = random_.Random(count);
    if ((v % 2 == 0) != toggle_) v = v + 1 < count ? v + 1 : 0;
    toggle_ = !toggle_;
  }
  return e->CopyWithVariant(v);
}

Ref<TKavEffect> TKavSource::GetSlideEffect(int32_t index, double& time, float& smoothline) {
  time = 0;
  smoothline = 0;
  if (index < 0 || count_ < 1) return nullptr;
  const int32_t i = index % count_;
  TEffectProp* prop = manager_->GetEffectByIndex(i);
  if (!prop) return nullptr;
  const int32_t kind = EffectKindOfName(prop->GetRefName());
  Ref<TKavEffect> effect;
  switch (kind) {
    case kEffectNameQuick:
      return nullptr;
    case kEffectNameDefault:
    case kEffectNameDefOwnTime:
      // A default transition answers the value it stores.
      effect = ChooseDefaultEffect(i);
      time = kind == kEffectNameDefault ? default_effect_time_ : EffectTimeValue(prop);
      smoothline = effect ? float(effect->Value) : 0.0f;
      break;
    default: {
      // A named kind answers the effect's own "smoothline" as written (0
      // when it has none), not the value the transition stores.
      effect = BuildKavEffect(prop, kind);
      if (effect->VariantCount == 0) effect = nullptr;
      time = EffectTimeValue(prop);
      std::u16string text;
      const double own = effect && prop->ReadText(u"smoothline", text) ? ByteStringToFloatDef(UTF8Encode(text), 0) : 0;
      smoothline = std::fabs(own) <= double(FLT_MAX) ? float(own) : 0.0f;
      break;
    }
  }
  // A negative time counts as 0, as in the slide table (so no transition).
  time = std::max(time, 0.0);
  if (!effect) {
    time = 0;
    return nullptr;
  }
  if (effect->Kind == kEffectMosaic && effect->Ints.size() > 3)
    effect->Ints[3] = reproducible_ ? (i ^ seed_) : random_.Random(4096) * 4096 + random_.Random(4096);
  if (time == 0) return nullptr;
  return effect;
}

}  // namespace kav
