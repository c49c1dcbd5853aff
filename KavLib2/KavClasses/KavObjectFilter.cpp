#include "KavLib2/KavClasses/KavObjectFilter.h"

#include <mutex>

#include "KavLib2/KavClasses/KavColorFilters.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxGUID.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

std::u16string Wide(std::string_view ascii) { return ByteStringToWide(ascii, 0, ptrdiff_t(ascii.size())); }

// Enabled filters of a chain, front first.
std::vector<TObjectFilter*> EnabledFilters(const TObjectFilter* chain) {
  std::vector<TObjectFilter*> out;
  for (auto* f = const_cast<TObjectFilter*>(chain); f != nullptr; f = f->Next())
    if (!f->Disabled()) out.push_back(f);
  return out;
}

}  // namespace

// ---- TObjectFilter -----------------------------------------------------------

void TObjectFilter::Apply(std::span<uint8_t* const>, int32_t) {}
double TObjectFilter::Value() { return 0; }
bool TObjectFilter::Prepare() { return true; }
int32_t TObjectFilter::Kind() const { return kFilterKindColor; }
int32_t TObjectFilter::ParamCount() const { return 0; }
TFilterParams TObjectFilter::ParamDescriptors() const { return std::make_shared<std::vector<TFilterParam>>(); }
std::u16string TObjectFilter::DisplayName() const { return display_name_; }

std::u16string TObjectFilter::GetParamText(int32_t index) const {
  const TFilterParams params = ParamDescriptors();
  if (index < 0 || size_t(index) >= params->size() || !ini_) return {};
  const TFilterParam& p = (*params)[size_t(index)];
  std::u16string value = IniGetString(ini_->FindKeyByBytes(p.Name));
  if (p.Type != kParamCombo || p.Items.empty()) return value;
  for (size_t i = 0; i < p.ItemValues.size() && i < p.Items.size(); ++i)
    if (p.ItemValues[i] == value) return p.Items[i];
  return {};
}

int32_t TObjectFilter::SetParamText(int32_t index, std::u16string_view text) {
  const TFilterParams params = ParamDescriptors();
  if (index < 0 || size_t(index) >= params->size() || !ini_) return 0;
  const TFilterParam& p = (*params)[size_t(index)];
  std::u16string value(text);
  if (p.Type == kParamCombo)
    for (size_t i = 0; i < p.Items.size() && i < p.ItemValues.size(); ++i)
      if (p.Items[i] == text) value = p.ItemValues[i];
  TIniItem* key = ini_->FindOrAddKey(Wide(p.Name));
  if (key->GetString() == value) return 0;
  key->SetString(value);
  BumpFilterRevision(this);
  return 1;
}

void TObjectFilter::Dispose() {
  // A long chain is released link by link: each link's next is taken out
  // before the link goes, so no release recurses into the rest of the chain.
  Ref<TObjectFilter> n = std::move(next_);
  while (n && n->RefCount() == 1) {
    Ref<TObjectFilter> after = std::move(n->next_);
    n = std::move(after);
  }
  n = nullptr;
  ini_ = nullptr;
  TRefObject::Dispose();
}

// ---- Registry ------------------------------------------------------------------

namespace {
std::mutex g_registry_lock;
Ref<TFilterInfo> g_registry;
bool g_standard_registered = false;

void EnsureStandardKinds() {
  {
    std::lock_guard lock(g_registry_lock);
    if (g_standard_registered) return;
    g_standard_registered = true;
  }
  RegisterStandardFilterKinds();
}
}  // namespace

void RegisterFilterKind(TObjectFilterClass cls, std::string_view name, std::u16string_view display_name) {
  KAV_ASSERT(cls != nullptr);
  Ref<TFilterInfo> info = MakeRef<TFilterInfo>();
  info->Name = TByteString(name);
  info->DisplayName = display_name.empty() ? Wide(name) : std::u16string(display_name);
  info->Class = cls;
  std::lock_guard lock(g_registry_lock);
  info->Next = std::move(g_registry);
  g_registry = std::move(info);
}

Ref<TFilterInfo> FilterRegistry() {
  EnsureStandardKinds();
  std::lock_guard lock(g_registry_lock);
  return g_registry;
}

Ref<TObjectFilter> CreateObjectFilter(TIniList* object) {
  if (object == nullptr) return nullptr;
  const TByteString& class_name = object->GetValueBytes();
  const std::u16string wide_class = object->GetString();
  for (Ref<TFilterInfo> info = FilterRegistry(); info; info = info->Next) {
    if (ByteStringCompareWideText(info->Name, wide_class) != 0) continue;
    Ref<TObjectFilter> filter = info->Class();
    filter->SetDisplayName(TranslateFilterText({}, u"filter_" + Wide(class_name), info->DisplayName));
    return filter;
  }
  return nullptr;
}

void FreeFilterRegistry() {
  Ref<TFilterInfo> list;
  {
    std::lock_guard lock(g_registry_lock);
    list = std::move(g_registry);
    g_standard_registered = false;
  }
  while (list) list = std::move(list->Next);
}

// ---- Binding and revisions ---------------------------------------------------------

bool ReadObjectFilter(TObjectFilter* filter, TIniList* object) {
  if (filter == nullptr || object == nullptr) return false;
  if (!filter->identity_.empty()) {
    const std::u16string id = IniGetString(object->FindKey(u"id"));
    if (!CaseFoldEquals(id, filter->identity_)) return false;
    if (IniGetInt64(object->FindKey(u"$rev"), 0) != filter->revision_) return false;
    filter->ini_ = Ref<TIniList>(object);
  } else {
    if (filter->display_name_.empty()) filter->display_name_ = object->GetString();
    TIniItem* id = object->FindOrAddKey(u"id");
    if (id->GetValueBytes().empty()) id->SetValueBytes(ByteStringFromGUID(CreateGUID()));
    filter->ini_ = Ref<TIniList>(object);
    filter->identity_ = id->GetString();
    filter->revision_ = IniGetInt64(object->FindKey(u"$rev"), 0);
  }
  filter->disabled_ = IniGetBool(object->FindKey(u"Disable"), false);
  if (filter->revision_ + 1 != filter->prepared_revision_) {
    filter->prepared_revision_ = filter->revision_ + 1;
    filter->needs_preparing_ = !filter->Prepare();
  }
  return true;
}

void BumpFilterRevision(TObjectFilter* filter) {
  if (filter == nullptr) return;
  ++filter->revision_;
  if (filter->ini_) filter->ini_->FindOrAddKey(u"$rev")->SetInt64(filter->revision_);
}

TByteString FilterChainRevisionText(const TObjectFilter* chain) {
  int64_t sum = 0;
  for (const TObjectFilter* f = chain; f != nullptr; f = f->Next()) sum += f->Revision();
  return sum == 0 ? TByteString() : std::to_string(sum);
}

// ---- Chains -----------------------------------------------------------------------

Ref<TObjectFilter> AppendFilter(Ref<TObjectFilter> filter, Ref<TObjectFilter> chain) {
  if (!filter) return chain;
  KAV_ASSERT(!filter->next_);
  filter->next_ = std::move(chain);
  return filter;
}

Ref<TObjectFilter> ReverseFilterChain(Ref<TObjectFilter> chain) {
  Ref<TObjectFilter> reversed;
  while (chain) {
    Ref<TObjectFilter> rest = std::move(chain->next_);
    chain->next_ = std::move(reversed);
    reversed = std::move(chain);
    chain = std::move(rest);
  }
  return reversed;
}

void ReleaseFilterVar(Ref<TObjectFilter>& filter) { filter = nullptr; }

Ref<TObjectFilter> DetachNext(TObjectFilter* holder) {
  return holder != nullptr ? std::move(holder->next_) : nullptr;
}

void ApplyFilterChain(const TObjectFilter* chain, std::span<uint8_t* const> rows, int32_t width) {
  const std::vector<TObjectFilter*> filters = EnabledFilters(chain);
  for (auto it = filters.rbegin(); it != filters.rend(); ++it)
    if ((*it)->Kind() != kFilterKindValue) (*it)->Apply(rows, width);
}

void ApplyValueChainF64(const TObjectFilter* chain, double& value) {
  const std::vector<TObjectFilter*> filters = EnabledFilters(chain);
  for (auto it = filters.rbegin(); it != filters.rend(); ++it)
    if ((*it)->Kind() == kFilterKindValue) value = (*it)->Value();
}

void ApplyValueChainF32(const TObjectFilter* chain, float& value) {
  double v = value;
  ApplyValueChainF64(chain, v);
  value = static_cast<float>(v);
}

int32_t CheckFilterChain(const TObjectFilter* chain) {
  int32_t strongest_color = kFilterKindNone;
  bool has_value = false;
  for (const TObjectFilter* f : EnabledFilters(chain)) {
    const int32_t kind = f->Kind();
    if (kind == kFilterKindValue) has_value = true;
    else if (kind > strongest_color) strongest_color = kind;
    if (strongest_color >= kFilterKindColorGrade) break;
  }
  if (strongest_color != kFilterKindNone) return strongest_color;
  return has_value ? kFilterKindValue : kFilterKindNone;
}

// ---- Display texts ----------------------------------------------------------------

namespace {
std::mutex g_text_lock;
TFilterTranslator g_translator;
std::vector<TFilterParams> g_param_cache;
}  // namespace

void SetFilterTranslator(const TFilterTranslator& translator) {
  {
    std::lock_guard lock(g_text_lock);
    g_translator = translator;
  }
  RefreshFilterNames();
}

std::u16string TranslateFilterText(std::u16string_view section, std::u16string_view key, std::u16string_view def) {
  TFilterTranslator translator;
  {
    std::lock_guard lock(g_text_lock);
    translator = g_translator;
  }
  return translator ? translator(section, key, def) : std::u16string(def);
}

void RefreshFilterNames() {
  std::lock_guard lock(g_text_lock);
  g_param_cache.clear();
}

TFilterParam MakeFilterParam(std::string_view name, uint8_t type, double min, double max, double def,
                             std::u16string_view display_name) {
  TFilterParam p;
  p.Name = TByteString(name);
  p.Type = type;
  p.Min = min;
  p.Max = max;
  p.Default = def;
  const std::u16string fallback = display_name.empty() ? Wide(name) : std::u16string(display_name);
  p.DisplayName = TranslateFilterText({}, u"filteropt_" + Wide(name), fallback);
  return p;
}

TFilterParams CachedFilterParams(int32_t set, std::vector<TFilterParam> (*build)()) {
  KAV_ASSERT(set >= 0 && set < 64);
  {
    std::lock_guard lock(g_text_lock);
    if (size_t(set) < g_param_cache.size() && g_param_cache[size_t(set)]) return g_param_cache[size_t(set)];
  }
  // Built outside the lock: building translates texts, which takes it too.
  TFilterParams built = std::make_shared<const std::vector<TFilterParam>>(build());
  std::lock_guard lock(g_text_lock);
  if (g_param_cache.size() <= size_t(set)) g_param_cache.resize(size_t(set) + 1);
  if (!g_param_cache[size_t(set)]) g_param_cache[size_t(set)] = built;
  return g_param_cache[size_t(set)];
}

}  // namespace kav
