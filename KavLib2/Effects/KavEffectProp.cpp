// One effect of the effect description: values, duration, standard index,
// variants and transition background.
#include <algorithm>

#include "KavLib2/Effects/KavEffManager.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxConvert.h"

namespace kav {

namespace {

using TGuard = std::lock_guard<std::recursive_mutex>;

bool SameName(std::u16string_view a, std::u16string_view b) { return CompareWideStr(a, b, true) == 0; }

// The standard index a reference name stands for.
int32_t DefaultsOfName(std::u16string_view name) {
  if (SameName(name, u"default")) return kEffDefault;
  if (SameName(name, u"defowntime")) return kEffDefOwnTime;
  if (SameName(name, u"quick")) return kEffQuick;
  return kEffOther;
}

std::u16string_view TrimBlanks(std::u16string_view s) {
  while (!s.empty() && s.front() <= u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() <= u' ') s.remove_suffix(1);
  return s;
}

// The comma-separated parts of a text (none for an empty text), at most `cap`.
std::vector<std::u16string_view> SplitCommas(std::u16string_view text, size_t cap) {
  std::vector<std::u16string_view> parts;
  if (text.empty()) return parts;
  size_t start = 0;
  while (parts.size() < cap) {
    const size_t comma = text.find(u',', start);
    parts.push_back(text.substr(start, comma == text.npos ? text.npos : comma - start));
    if (comma == text.npos) break;
    start = comma + 1;
  }
  return parts;
}

}  // namespace

TEffectProp::TEffectProp(TKAVEffectManager* manager, TIniObject* object, bool synthetic)
    : manager_(manager), object_(object), synthetic_(synthetic) {
  KAV_ASSERT(manager != nullptr && object != nullptr);
  custom_ = !synthetic && ByteStringCompareWideText(object->GetValueBytes(), u"AnEffect") == 0;
}

void TEffectProp::Dispose() {
  object_ = nullptr;
  TRefObject::Dispose();
}

bool TEffectProp::OwnText(std::u16string_view name, std::u16string& text) const {
  const TIniItem* item = object_->FindKey(name);
  text = EffectValueText(item);
  return item != nullptr;
}

std::u16string TEffectProp::GetRefName() const {
  TGuard g(manager_->Lock());
  if (custom_) return EffectValueText(object_->FindKey(u"ref"));
  return EffectBytesText(object_->NameBytes());
}

TEffectProp* TEffectProp::Referenced(int32_t depth) const {
  if (!custom_ || depth >= kMaxEffectRefDepth) return nullptr;
  const int32_t index = manager_->IndexOfEffect(GetRefName());
  if (index < 0) return nullptr;
  TEffectProp* target = manager_->GetEffectProp(index);
  return target == this ? nullptr : target;
}

bool TEffectProp::ReadTextAt(std::u16string_view name, std::u16string& text, int32_t depth) const {
  if (OwnText(name, text)) return true;
  if (!custom_) return false;
  if (const TEffectProp* target = Referenced(depth)) return target->ReadTextAt(name, text, depth + 1);
  // The reference names no library effect: the library object's value.
  const TIniItem* item = manager_->GetTheEffect()->FindKey(name);
  text = EffectValueText(item);
  return item != nullptr;
}

bool TEffectProp::ReadText(std::u16string_view name, std::u16string& text) const {
  TGuard g(manager_->Lock());
  return ReadTextAt(name, text, 0);
}

std::u16string TEffectProp::ReadText(std::u16string_view name) const {
  std::u16string text;
  ReadText(name, text);
  return text;
}

TIniItem* TEffectProp::FindValue(std::u16string_view name, bool add) {
  TGuard g(manager_->Lock());
  return add ? object_->FindOrAddKey(name) : object_->FindKey(name);
}

// Duration in ms:
// - a custom effect (and a standard entry) by its reference name:
//   "default": the library's time while any library effect is in use, else 0;
//   "quick": 0; "defowntime": 0 while no library effect is in use, else its
//   own time, which is set to the library's time when it has none (so every
//   call answers the same); any other name: its own time (0 when none);
// - a library effect: its own time, else the library's.
// Negative times count as 0 (a transition cannot run backwards; the show
// source clamps the transition itself the same way).
int32_t TEffectProp::GetTime() {
  TGuard g(manager_->Lock());
  int32_t ms = 0;
  const TIniItem* own = object_->FindKey(u"time");
  if (custom_ || synthetic_) {
    const std::u16string ref = GetRefName();
    if (SameName(ref, u"default")) {
      ms = manager_->CountChecked() ? manager_->TimeOfEffect() : 0;
    } else if (SameName(ref, u"quick")) {
      ms = 0;
    } else if (!SameName(ref, u"defowntime")) {
      ms = IniGetInteger(own, 0);
    } else if (manager_->CountChecked()) {
      if (!own) {
        TIniItem* added = object_->FindOrAddKey(u"time");
        added->SetValueBytes(IniGetValueBytes(manager_->GetTheEffect()->FindKey(u"time")));
        own = added;
      }
      ms = own->GetInteger(0);
    }
  } else {
    ms = own ? own->GetInteger(0) : manager_->TimeOfEffect();
  }
  return std::max(ms, 0);
}

int32_t TEffectProp::DefaultsAt(int32_t depth) const {
  if (synthetic_) return DefaultsOfName(GetRefName());
  if (custom_) {
    if (const TEffectProp* target = Referenced(depth)) return target->DefaultsAt(depth + 1);
    return DefaultsOfName(GetRefName());
  }
  return IniGetInteger(object_->FindKey(u"stdidx"), -1);
}

int32_t TEffectProp::GetDefaults() const {
  TGuard g(manager_->Lock());
  return DefaultsAt(0);
}

int32_t TEffectProp::GetCheckState() const { return ParseEffectFlags(ReadText(u"checked")); }

std::u16string TEffectProp::KeyAt(int32_t depth) const {
  if (const TEffectProp* target = Referenced(depth)) return target->KeyAt(depth + 1);
  return EffectValueText(object_->FindKey(u"key"));
}

std::u16string TEffectProp::GetKey() const {
  TGuard g(manager_->Lock());
  return KeyAt(0);
}

std::vector<std::u16string> TEffectProp::KeyList() const {
  const std::u16string key = GetKey();
  std::vector<std::u16string> list;
  for (std::u16string_view part : SplitCommas(key, size_t(kMaxEffectVariants)))
    list.emplace_back(TrimBlanks(part));
  return list;
}

int32_t TEffectProp::CountVariants() const {
  return int32_t(SplitCommas(ReadText(u"checked"), size_t(kMaxEffectVariants)).size());
}

bool TEffectProp::IsVariantAvailable(int32_t n) const {
  if (n < 0) return false;
  const std::u16string checked = ReadText(u"checked");
  const auto marks = SplitCommas(checked, size_t(kMaxEffectVariants));
  return size_t(n) < marks.size() && TrimBlanks(marks[size_t(n)]) == u"1";
}

TIniList* TEffectProp::SlideSectionAt(int32_t n, int32_t depth, int32_t slide) const {
  if (custom_)
    if (const TEffectProp* target = Referenced(depth)) return target->SlideSectionAt(n, depth + 1, slide);
  if (n < 0 || n >= kMaxEffectVariants) return nullptr;
  std::u16string fields, value;
  OwnText(u"userprops", fields);
  if (!fields.empty()) {
    // Each slide keeps its own choice per variant.
    const int32_t position = slide >= 0 && slide < kMaxEffectSlides ? slide + 1 : 1;
    if (!OwnText(u"slide_" + IntToStr(position) + u"_" + IntToStr(n), value)) value = GetRefName();
  } else if (!OwnText(u"slide_1", value)) {
    value = GetRefName();
    object_->WriteString(u"slide_1", value);
  }
  if (value.empty()) return nullptr;
  return manager_->GetIni()->FindSection(u"effect_" + value);
}

TIniList* TEffectProp::FindSlideSection(int32_t n) const {
  TGuard g(manager_->Lock());
  return SlideSectionAt(n, 0, slide_);
}

Ref<TIniSection> TEffectProp::CopyToSection(int32_t n) const {
  TGuard g(manager_->Lock());
  TIniList* source = SlideSectionAt(n, 0, slide_);
  if (!source) return nullptr;
  auto copy = Ref<TIniSection>::Adopt(new TIniSection(source->NameBytes()));
  copy->Assign(source);
  WriteBackground(copy.get());
  return copy;
}

// Background keys: a custom effect writes those of the library effect it
// names. Otherwise "CustomEffBg" = "0", then by "bstyle":
//   1 colour: "bcolor" (own or "0");
//   2 picture: "bfn" (own, when present), "bsize" (own or "100");
//   3 gradient: "bcolor1" (own or "16711680"), "bcolor2" (own or "0"),
//     "bcolorStyle" (own or "1");
//   4 custom: "CustomEffBg" (own or "3");
// each with "bstyle" itself; then always "TransparentBg" (own or "0"),
// "CoverMode" = "1" and the design size.
void TEffectProp::BackgroundAt(TIniList* target, int32_t depth) const {
  if (custom_)
    if (const TEffectProp* ref = Referenced(depth)) return ref->BackgroundAt(target, depth + 1);
  auto put = [target](std::u16string_view name, std::string_view bytes) {
    target->FindOrAddKey(name)->SetValueBytes(TByteString(bytes));
  };
  auto own = [this, &put](std::u16string_view name, std::string_view def) {
    const TIniItem* item = object_->FindKey(name);
    put(name, item ? std::string_view(item->GetValueBytes()) : def);
  };
  put(u"CustomEffBg", "0");
  switch (IniGetInteger(object_->FindKey(u"bstyle"), 0)) {
    case 1:
      put(u"bstyle", "1");
      own(u"bcolor", "0");
      break;
    case 2:
      put(u"bstyle", "2");
      if (const TIniItem* fn = object_->FindKey(u"bfn")) put(u"bfn", fn->GetValueBytes());
      own(u"bsize", "100");
      break;
    case 3:
      put(u"bstyle", "3");
      own(u"bcolor1", "16711680");
      own(u"bcolor2", "0");
      own(u"bcolorStyle", "1");
      break;
    case 4:
      put(u"bstyle", "4");
      own(u"CustomEffBg", "3");
      break;
    default: break;
  }
  own(u"TransparentBg", "0");
  put(u"CoverMode", "1");
  put(u"opt_scr_width", std::to_string(manager_->DesignWidth()));
  put(u"opt_scr_height", std::to_string(manager_->DesignHeight()));
}

void TEffectProp::WriteBackground(TIniList* target) const {
  if (!target) return;
  TGuard g(manager_->Lock());
  BackgroundAt(target, 0);
}

}  // namespace kav
