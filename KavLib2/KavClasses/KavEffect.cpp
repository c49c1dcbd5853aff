#include "KavLib2/KavClasses/KavEffect.h"

#include <cfloat>
#include <cmath>
#include <initializer_list>

#include "KavLib2/Effects/KavEffManager.h"
#include "KavLib2/KavClasses/KavValueParsers.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

// The options of one effect as the effect description gives them.
struct TEffectOptions {
  TEffectProp* prop;

  bool Text(std::u16string_view name, std::u16string& text) const { return prop->ReadText(name, text); }
  int32_t Int(std::u16string_view name, int32_t def) const {
    std::u16string t;
    return Text(name, t) ? ByteStringToIntDef(UTF8Encode(t), def) : def;
  }
  double Double(std::u16string_view name, double def) const {
    std::u16string t;
    return Text(name, t) ? ByteStringToFloatDef(UTF8Encode(t), def) : def;
  }
  float Float(std::u16string_view name, double def) const {
    const double v = Double(name, def);
    return float(std::fabs(v) <= double(FLT_MAX) ? v : def);
  }
  // One flag per listed character position (1-based) of a "0"/"1" text.
  void Chars(std::u16string_view name, std::initializer_list<int> positions, std::vector<uint8_t>& flags) const {
    std::u16string t;
    Text(name, t);
    for (int p : positions) flags.push_back(p >= 1 && size_t(p) <= t.size() && t[size_t(p) - 1] == u'1');
  }
  void Range(std::u16string_view name, int first, int last, std::vector<uint8_t>& flags) const {
    std::u16string t;
    Text(name, t);
    const int step = first <= last ? 1 : -1;
    for (int p = first;; p += step) {
      flags.push_back(size_t(p) <= t.size() && t[size_t(p) - 1] == u'1');
      if (p == last) break;
    }
  }
  uint8_t Flag(std::u16string_view name, bool def) const {
    std::u16string t;
    if (!Text(name, t)) return def;
    return !t.empty() && t[0] == u'1';
  }
  int32_t SwappedColor(std::u16string_view name) const {
    std::u16string t;
    if (!Text(name, t)) return 0;
    auto item = MakeRef<TIniItem>();
    item->SetValueBytes(UTF8Encode(t));
    const TColor32 c = ParseColorDefault(item.get(), 0) & 0xFFFFFF;
    return int32_t(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
  }
};

int32_t CountSet(const std::vector<uint8_t>& flags, size_t from, size_t to) {
  int32_t n = 0;
  for (size_t i = from; i < to && i < flags.size(); ++i) n += flags[i] != 0;
  return n;
}

// Last direction flag (exclusive) of the kinds with an action group.
size_t ActionKindEnd(int32_t kind) {
  switch (kind) {
    case kEffectHourhand: return 11;
    case kEffectShapes: return 5;
    case kEffectCurling: return 10;
    default: return 0;
  }
}

// The first available variant's section of a custom effect.
Ref<TIniSection> FirstVariantSection(TEffectProp* prop) {
  const int32_t n = prop->CountVariants();
  for (int32_t v = 0; v < n; ++v)
    if (prop->IsVariantAvailable(v)) return prop->CopyToSection(v);
  return nullptr;
}

}  // namespace

void TKavEffect::Dispose() {
  CustomSection = nullptr;
  TRefObject::Dispose();
}

Ref<TKavEffect> TKavEffect::Copy() const {
  auto e = MakeRef<TKavEffect>();
  e->Value = Value;
  e->Kind = Kind;
  e->VariantCount = VariantCount;
  e->Ints = Ints;
  e->Floats = Floats;
  e->Flags = Flags;
  e->Name = Name;
  e->CustomSection = CustomSection;
  return e;
}

Ref<TKavEffect> TKavEffect::CopyWithVariant(int32_t v) const {
  Ref<TKavEffect> e = Copy();
  std::vector<uint8_t>& f = e->Flags;
  const size_t m = std::min(ActionKindEnd(Kind), f.size());
  if (m == 0) {
    // One group: the set flags numbered from 0, only number v stays.
    const size_t end = Kind == kEffectFlip ? std::min<size_t>(4, f.size()) : f.size();
    int32_t number = 0;
    for (size_t i = 0; i < end; ++i)
      if (f[i]) f[i] = number++ == v;
    return e;
  }
  // Actions (flags 0, 1) times directions (flags 2 .. m-1): the pairs are
  // numbered across both actions and only pair v stays, so the copy keeps
  // exactly one action and one direction.
  std::vector<uint8_t> chosen(m, 0);
  int32_t number = 0;
  for (size_t a = 0; a < 2 && a < m; ++a) {
    if (!f[a]) continue;
    f[a] = 0;
    for (size_t d = 2; d < m; ++d) {
      if (!f[d]) continue;
      if (number++ == v) {
        chosen[d] = 1;
        f[a] = 1;
      }
    }
  }
  for (size_t d = 2; d < m; ++d) f[d] = chosen[d];
  return e;
}

int32_t EffectKindOfName(std::u16string_view name) {
  static constexpr std::u16string_view kNames[] = {u"dissolve", u"hourhand", u"shapes", u"gates",
                                                   u"page",     u"mosaic",   u"push",   u"slide",
                                                   u"curling",  u"flip",     u"swap"};
  if (CompareWideStr(name, u"quick", true) == 0) return kEffectNameQuick;
  if (CompareWideStr(name, u"default", true) == 0) return kEffectNameDefault;
  if (CompareWideStr(name, u"defowntime", true) == 0) return kEffectNameDefOwnTime;
  for (int32_t i = 0; i < 11; ++i)
    if (CompareWideStr(name, kNames[i], true) == 0) return i + 1;
  return kEffectCustom;
}

int32_t EffectKindOfDefaults(int32_t defaults) {
  switch (defaults) {
    case kEffDefault: return kEffectNameDefault;
    case kEffDefOwnTime: return kEffectNameDefOwnTime;
    case kEffQuick: return kEffectNameQuick;
    case 2: return kEffectDissolve;
    default: return defaults >= 4 && defaults <= 13 ? defaults - 2 : kEffectCustom;
  }
}

Ref<TKavEffect> BuildKavEffect(TEffectProp* prop, int32_t kind) {
  auto e = MakeRef<TKavEffect>();
  e->Kind = kind;
  e->Name = prop->GetRefName();
  const TEffectOptions o{prop};
  auto& f = e->Flags;
  switch (kind) {
    case kEffectDissolve:
      f.push_back(o.Flag(u"checked", true));
      e->VariantCount = f[0];
      break;
    case kEffectHourhand:
      o.Range(u"action", 1, 2, f);
      o.Range(u"direction", 1, 9, f);
      e->Floats = {o.Float(u"offset", 0)};
      e->SetSmoothLine(o.Double(u"smoothline", 0.35));
      e->VariantCount = CountSet(f, 0, 2) * CountSet(f, 2, 11);
      break;
    case kEffectShapes:
      o.Range(u"action", 1, 2, f);
      o.Range(u"direction", 1, 3, f);
      e->Ints = {o.Int(u"centerx", 50), o.Int(u"centery", 50)};
      e->SetSmoothLine(o.Double(u"smoothline", 0));
      e->VariantCount = CountSet(f, 0, 2) * CountSet(f, 2, 5);
      break;
    case kEffectGates:
    case kEffectPage:
      o.Range(u"direction", 1, 8, f);
      e->SetSmoothLine(o.Double(u"smoothline", 0));
      e->VariantCount = CountSet(f, 0, 8);
      break;
    case kEffectMosaic:
      f.push_back(o.Flag(u"checked", true));
      e->Ints = {o.Int(u"cols", 1), o.Int(u"rows", 1), o.Int(u"appearence", 0), 0};
      e->VariantCount = f[0];
      break;
    case kEffectPush:
    case kEffectSlide:
      o.Chars(u"direction", {2, 1, 3, 4}, f);
      e->VariantCount = CountSet(f, 0, 4);
      break;
    case kEffectCurling:
      o.Range(u"action", 1, 2, f);
      o.Range(u"direction", 8, 1, f);
      f.push_back(o.Flag(u"usecolor", false));
      f.push_back(o.Flag(u"usevolume", false));
      e->Ints = {o.Int(u"pipe", 1), o.SwappedColor(u"color")};
      e->Floats = {o.Float(u"radius", 0), o.Float(u"3dvolume", 0.125)};
      e->VariantCount = CountSet(f, 0, 2) * CountSet(f, 2, 10);
      break;
    case kEffectFlip:
      o.Chars(u"direction", {2, 1, 3, 4}, f);
      f.push_back(o.Flag(u"spin_center", false));
      f.push_back(o.Flag(u"nonlinear_speed", false));
      e->Floats = {o.Float(u"3dvolume", 0.5)};
      e->VariantCount = CountSet(f, 0, 4);
      break;
    case kEffectSwap:
      o.Chars(u"direction", {2, 1, 3, 4}, f);
      e->Floats = {o.Float(u"depth", 4.0), o.Float(u"distance", 1.0), o.Float(u"angle", 60.0)};
      e->VariantCount = CountSet(f, 0, 4);
      break;
    default:
      e->Kind = kEffectCustom;
      f.push_back(1);
      e->VariantCount = 1;
      e->CustomSection = FirstVariantSection(prop);
      break;
  }
  return e;
}

}  // namespace kav
