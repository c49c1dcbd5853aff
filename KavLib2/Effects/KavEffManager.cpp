#include "KavLib2/Effects/KavEffManager.h"

#include <algorithm>
#include <atomic>
#include <array>

#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

constexpr int32_t kDefaultDesignWidth = 1920;
constexpr int32_t kDefaultDesignHeight = 1080;

constexpr std::array<std::u16string_view, 3> kStandardNames = {u"default", u"defowntime", u"quick"};

using TGuard = std::lock_guard<std::recursive_mutex>;

int32_t DesignSize(TIniFile* ini, int32_t given, std::u16string_view key, int32_t def) {
  if (given >= 1) return given;
  const int32_t v = IniReadInteger(ini, u"Main", key, def);
  return v >= 1 ? v : def;
}

}  // namespace

std::u16string EffectBytesText(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    int32_t cp = ByteStringNextCodePoint(bytes, pos);
    if (cp < 0 || cp > 0x10FFFF) cp = 0xFFFD;
    char16_t first = 0, second = 0;
    const int units = CodePointToUTF16(uint32_t(cp), first, second);
    out += first;
    if (units == 2) out += second;
  }
  return out;
}

int32_t ParseEffectFlags(std::u16string_view text) {
  if (text.empty()) return 0;
  const int32_t start = text[0] == u'1' ? 2 : 0;
  for (size_t i = 1; i < text.size(); ++i)
    if ((start == 2 && text[i] == u'0') || (start == 0 && text[i] == u'1')) return 1;
  return start;
}

TKAVEffectManager::TKAVEffectManager(TIniFile* ini, int32_t width, int32_t height) {
  KAV_ASSERT_MSG(ini != nullptr, "There is no IniFile for EffectRuller");
  ini_ = Ref<TIniFile>(ini);
  width_ = DesignSize(ini, width, u"opt_scr_width", kDefaultDesignWidth);
  height_ = DesignSize(ini, height, u"opt_scr_height", kDefaultDesignHeight);
}

void TKAVEffectManager::Dispose() {
  Clear();
  ini_ = nullptr;
  TRefObject::Dispose();
}

namespace {
std::atomic<int32_t> g_slides_limit{kMaxEffectSlides};
}  // namespace

int32_t EffectSlidesLimit() noexcept { return g_slides_limit.load(std::memory_order_relaxed); }

int32_t SetEffectSlidesLimit(int32_t limit) noexcept {
  return g_slides_limit.exchange(std::clamp(limit, 1, kMaxEffectSlides), std::memory_order_relaxed);
}

int32_t TKAVEffectManager::SlidesCount() {
  TGuard g(lock_);
  return std::clamp(IniReadInteger(ini_.get(), u"Times", u"opt_slidescount", 0), 0, EffectSlidesLimit());
}

TIniObject* TKAVEffectManager::GetTheEffect() {
  TGuard g(lock_);
  TIniList* main = ini_->FindOrAddSection(u"Main");
  TIniObject* the_effect = main->FindObject(u"TheEffect");
  if (!the_effect) {
    the_effect = CreateIniItem<TIniObject>(main, u"TheEffect", u"AnEffect");
    the_effect->WriteString(u"time", u"2000");
    library_built_ = false;
    library_.clear();
  }
  return the_effect;
}

void TKAVEffectManager::BuildLibrary() {
  if (library_built_) return;
  TIniObject* the_effect = GetTheEffect();
  library_.clear();
  for (TIniObject* o = the_effect->FirstObject(); o; o = the_effect->NextObject(o))
    library_.push_back(CreateEffectProp(o, false));
  library_built_ = true;
}

Ref<TEffectProp> TKAVEffectManager::CreateEffectProp(TIniObject* object, bool synthetic) {
  return MakeRef<TEffectProp>(this, object, synthetic);
}

int32_t TKAVEffectManager::IndexOfEffect(std::u16string_view name) {
  TGuard g(lock_);
  BuildLibrary();
  for (size_t i = 0; i < library_.size(); ++i)
    if (ByteStringCompareWideText(library_[i]->Object()->NameBytes(), name) == 0) return int32_t(i);
  return -1;
}

TEffectProp* TKAVEffectManager::Standard(int32_t which) {
  if (!standard_[which]) {
    auto object = Ref<TIniObject>::Adopt(CreateIniItem<TIniObject>(nullptr, kStandardNames[size_t(which)]));
    object->WriteString(u"caption", kStandardNames[size_t(which)]);
    object->WriteString(u"group", which == 2 ? u"GroupBasic" : u"GroupFromProjectOptions");
    object->WriteString(u"islocal", u"1");
    standard_[which] = CreateEffectProp(object.get(), true);
  }
  return standard_[which].get();
}

int32_t TKAVEffectManager::Count() {
  TGuard g(lock_);
  BuildLibrary();
  int32_t n = int32_t(library_.size());
  if (standard_entries_)
    for (std::u16string_view name : kStandardNames)
      if (IndexOfEffect(name) < 0) ++n;
  return n;
}

TEffectProp* TKAVEffectManager::GetEffectProp(int32_t index) {
  TGuard g(lock_);
  BuildLibrary();
  if (index < 0) return nullptr;
  if (size_t(index) < library_.size()) return library_[size_t(index)].get();
  if (!standard_entries_) return nullptr;
  int32_t k = index - int32_t(library_.size());
  for (int32_t i = 0; i < 3; ++i)
    if (IndexOfEffect(kStandardNames[size_t(i)]) < 0 && k-- == 0) return Standard(i);
  return nullptr;
}

TEffectProp* TKAVEffectManager::FindEffect(std::u16string_view name) {
  TGuard g(lock_);
  const int32_t i = IndexOfEffect(name);
  if (i >= 0) return library_[size_t(i)].get();
  if (standard_entries_)
    for (int32_t k = 0; k < 3; ++k)
      if (CompareWideStr(name, kStandardNames[size_t(k)], true) == 0) return Standard(k);
  return nullptr;
}

std::u16string TKAVEffectManager::ReadTime() {
  TGuard g(lock_);
  return EffectValueText(GetTheEffect()->FindKey(u"time"));
}

int32_t TKAVEffectManager::TimeOfEffect() {
  TGuard g(lock_);
  return IniGetInteger(GetTheEffect()->FindKey(u"time"), 0);
}

bool TKAVEffectManager::CountChecked() {
  TGuard g(lock_);
  BuildLibrary();
  for (const Ref<TEffectProp>& e : library_)
    if (e->GetCheckState() != 0) return true;
  return false;
}

bool TKAVEffectManager::ReadText(const TEffectProp* effect, std::u16string_view name, std::u16string& text) {
  text.clear();
  return effect && effect->ReadText(name, text);
}

Ref<TEffectProp> TKAVEffectManager::GetSlideEffect(int32_t n) {
  TGuard g(lock_);
  if (n < 0 || n >= kMaxEffectSlides) return nullptr;
  TIniList* section = ini_->FindSection(u"Slide" + IntToStr(n + 1));
  if (!section) return nullptr;
  TIniObject* object = section->FindObject(u"TheEffect");
  if (!object) {
    object = CreateIniItem<TIniObject>(section, u"TheEffect", u"AnEffect");
    object->WriteString(u"ref", u"default");
  }
  Ref<TEffectProp> effect = CreateEffectProp(object, false);
  effect->slide_ = n;
  return effect;
}

TEffectProp* TKAVEffectManager::GetEffectByIndex(int32_t n) {
  TGuard g(lock_);
  if (n < 0 || n >= SlidesCount()) return nullptr;
  auto it = by_slide_.find(n);
  if (it == by_slide_.end()) it = by_slide_.emplace(n, GetSlideEffect(n)).first;
  return it->second.get();
}

int32_t TKAVEffectManager::GetEffectTime(int32_t n) {
  TGuard g(lock_);
  TEffectProp* e = GetEffectByIndex(n);
  return e ? e->GetTime() : 0;
}

void TKAVEffectManager::Delete(TEffectProp* effect) {
  TGuard g(lock_);
  BuildLibrary();
  const auto it = std::find_if(library_.begin(), library_.end(),
                               [effect](const Ref<TEffectProp>& e) { return e.get() == effect; });
  if (it == library_.end()) return;
  const Ref<TEffectProp> keep = *it;
  library_.erase(it);
  TIniObject* object = keep->Object();
  if (TIniList* owner = object->Owner()) owner->Remove(object->Index());
}

void TKAVEffectManager::Clear() {
  TGuard g(lock_);
  library_.clear();
  library_built_ = false;
  by_slide_.clear();
  for (Ref<TEffectProp>& s : standard_) s = nullptr;
}

void TKAVEffectManager::SetStandardEntries(bool on) {
  TGuard g(lock_);
  standard_entries_ = on;
}

}  // namespace kav
