#include "KavLib2/KavClasses/KavKeyFrame.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "KavLib2/KavClasses/KavObjectProps.h"
#include "KavLib2/KavClasses/KavValueParsers.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

// A number read from the project text is usable as a keyframe value only when
// it fits a float; anything else (garbage, 1e300) gives the default.
float SaneFloat(double v, float def) {
  return std::isfinite(v) && std::fabs(v) <= double(FLT_MAX) ? float(v) : def;
}

// 16 significant digits, as the INI model writes floats.
void AppendFloat16(TByteStringBuilder& b, double value) { ByteStringFromFloatGeneral(b, b.Length, value, 16); }

std::u16string Wide(std::string_view ascii) { return ByteStringToWide(ascii, 0, ptrdiff_t(ascii.size())); }

bool IsClass(const TIniObject* object, std::string_view word) {
  return ByteStringCompareText(object->GetValueBytes(), word) == 0;
}

}  // namespace

double OriginBase(int32_t origin, const TSlideLengths& timing) noexcept {
  switch (origin) {
    case kOriginPrevEffectEnd: return timing.EffectIn;
    case kOriginNextEffectBegin: return double(timing.SlideLength) - timing.EffectOut;
    case kOriginSlideEnd: return timing.SlideLength;
    default: return 0;
  }
}

float TKavKeyFrame::GetParam(int32_t index, bool* set) const {
  KAV_ASSERT(index >= 0 && index < kKeyParamCount);
  const TKeyParamInfo& p = kKeyParams[size_t(index)];
  const bool animated = Animates(p.Group);
  if (set != nullptr) *set = animated;
  return animated ? values_[size_t(index)] : p.Default;
}

void TKavKeyFrame::Read(TIniList* object, const TSlideLengths& timing) {
  ini_ = Ref<TIniList>(object);
  const int32_t kind = owner_ != nullptr ? owner_->Kind() : kKindNone;
  mask_ = KindGroupMask(kind, uint32_t(IniGetInteger(object->FindKey(u"grps"), int32_t(kAllGroupsMask))));
  origin_ = IniGetIndexOf(object->FindKey(u"Origin"), {u"SlideBegin", u"PrevEffectEnd", u"NextEffectBegin", u"SlideEnd"},
                          kOriginSlideBegin, true);
  // Only the whole milliseconds count: the digits before the first ".".
  std::string_view time_text = IniGetValueBytes(object->FindKey(u"Time"));
  time_text = time_text.substr(0, time_text.find('.'));
  read_time_ = time_ = OriginBase(origin_, timing) + ByteStringToIntDef(time_text, 0);
  ReadValues();
  ReadFilters();
  ReadMods();
}

void TKavKeyFrame::ReadValues() {
  TByteStringParts pairs[kKeyPairCount];
  for (int32_t i = 0; i < kKeyParamCount; ++i) {
    const TKeyParamInfo& p = kKeyParams[size_t(i)];
    if (p.Pair < 0) {
      values_[size_t(i)] = SaneFloat(IniGetFloat(ini_->FindKeyByBytes(p.Key), p.Default), p.Default);
      continue;
    }
    TByteStringParts& parts = pairs[p.Pair];
    if (p.Member == 0) IniSplitValue(ini_->FindKeyByBytes(p.Key), ',', parts);
    values_[size_t(i)] = SaneFloat(ByteStringListGetFloat(parts, p.Member, p.Default), p.Default);
  }
}

void TKavKeyFrame::ReadFilters() {
  // Take the old chain apart so that its filters can be linked again.
  std::vector<Ref<TObjectFilter>> old;
  for (Ref<TObjectFilter> f = std::move(filters_); f;) {
    Ref<TObjectFilter> next = DetachNext(f.get());
    old.push_back(std::move(f));
    f = std::move(next);
  }
  Ref<TObjectFilter> chain;
  int32_t count = 0;
  for (TIniObject* child = ini_->FirstObject(); child != nullptr && count < kMaxKeyFrameChildren;
       child = ini_->NextObject(child)) {
    if (IsClass(child, "Mod")) continue;
    Ref<TObjectFilter> filter;
    for (Ref<TObjectFilter>& f : old) {
      if (f && ReadObjectFilter(f.get(), child)) {
        filter = std::move(f);
        break;
      }
    }
    if (!filter) {
      // A class that is no registered filter kind is ignored.
      filter = CreateObjectFilter(child);
      if (!filter || !ReadObjectFilter(filter.get(), child)) continue;
    }
    chain = AppendFilter(std::move(filter), std::move(chain));
    ++count;
  }
  filters_ = std::move(chain);
}

void TKavKeyFrame::ReadMods() {
  // The modifiers set aside are a vector whose length is its count, so a
  // "wrong temp mod list length" cannot happen and is not checked.
  std::vector<Ref<TKavObjectMod>> old = std::move(mods_);
  mods_.clear();
  for (const Ref<TKavObjectMod>& m : old) DetachNext(m.get());
  time_mods_.Clear();
  param_mods_.Clear();
  if (owner_ == nullptr) return;
  const TFieldGetterFactory factory = TFieldGetterFactory::Bind<&TKavObjectProps::MakeGetter>(owner_);
  for (TIniObject* child = ini_->FirstObject(); child != nullptr && int32_t(mods_.size()) < kMaxKeyFrameChildren;
       child = ini_->NextObject(child)) {
    if (!IsClass(child, "Mod")) continue;
    const TKeyFieldRef field = ParseFieldName(IniGetValueBytes(child->FindKey(u"dst")));
    if (!field.Valid()) continue;  // a destination that names nothing
    // Time slots are the groups, parameter slots follow them.
    const int32_t slot = field.IsTime() ? field.Group : kKeyGroupCount + field.Param;
    Ref<TKavObjectMod> mod;
    for (Ref<TKavObjectMod>& m : old) {
      if (m && m->Slot() == slot && ReadObjectFilter(m.get(), child)) {
        mod = std::move(m);
        break;
      }
    }
    if (!mod) {
      mod = MakeRef<TKavObjectMod>();
      mod->SetGetterFactory(factory, slot);
      ReadObjectFilter(mod.get(), child);
    }
    if (field.IsTime()) time_mods_.Add(field.Group, mod);
    else param_mods_.Add(field.Param, mod);
    mods_.push_back(std::move(mod));
  }
}

void TKavKeyFrame::SetParam(int32_t index, double value) {
  KAV_ASSERT(index >= 0 && index < kKeyParamCount);
  if (owner_ == nullptr || !KindHasKeyFrames(owner_->Kind()) || !ini_) return;
  if (!std::isfinite(value) || std::fabs(value) > double(FLT_MAX)) return;
  const TKeyParamInfo& p = kKeyParams[size_t(index)];
  values_[size_t(index)] = float(value);
  if (p.Pair >= 0) {
    // The list is rewritten with this member's new text; the other members
    // keep their text as written ("12.3,45.6" with X set to 10 gives
    // "10,45.6"), and a missing one is written from its value.
    const int32_t first = index - p.Member;
    TIniItem* item = ini_->FindOrAddKey(Wide(kKeyParams[size_t(first)].Key));
    TByteStringParts parts;
    IniSplitValue(item, ',', parts);
    const ptrdiff_t count = ptrdiff_t(ByteStringListCount(parts));
    TByteStringBuilder b;
    for (ptrdiff_t k = 0; k < std::max<ptrdiff_t>(count, 2); ++k) {
      if (k > 0) ByteStringWriteBytes(b, b.Length, ",");
      if (k == p.Member) AppendFloat16(b, value);
      else if (k < count) ByteStringWriteBytes(b, b.Length, ByteStringListGetPart(parts, k));
      else AppendFloat16(b, values_[size_t(first + k)]);
    }
    item->SetValueBytes(ByteStringFromBuilder(b));
  } else {
    ini_->FindOrAddKey(Wide(p.Key))->SetString(FormatFloatValue(value));
  }
  mask_ |= 1u << p.Group;
  ini_->FindOrAddKey(u"grps")->SetInteger(int32_t(mask_));
  owner_->changed_ = true;
  owner_->cursors_valid_ = false;
}

void TKavKeyFrame::Detach() {
  for (const Ref<TKavObjectMod>& m : mods_) DetachNext(m.get());
  time_mods_.Clear();
  param_mods_.Clear();
  mods_.clear();
  filters_ = nullptr;
  owner_ = nullptr;
  index_ = -1;
}

void TKavKeyFrame::Dispose() {
  Detach();
  ini_ = nullptr;
  TRefObject::Dispose();
}

}  // namespace kav
