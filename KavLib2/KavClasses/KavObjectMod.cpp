#include "KavLib2/KavClasses/KavObjectMod.h"

#include <algorithm>
#include <atomic>

#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxCalcSpline.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

std::atomic<bool> g_expression_editing{false};

std::u16string Wide(std::string_view s) { return ByteStringToWide(s, 0, ptrdiff_t(s.size())); }

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

bool EndsWithTime(std::string_view name) {
  return name.size() >= 3 && name[name.size() - 2] == '.' && (name.back() == 'T' || name.back() == 't');
}

// The fields of one "pinfo" text ("name:Speed;id:speed;type:Float;range:0,10,1").
struct TParamInfo {
  std::string_view Name, Id, Type, Range;
};

TParamInfo SplitParamInfo(std::string_view text) {
  TParamInfo info;
  while (!text.empty()) {
    const size_t semi = text.find(';');
    const std::string_view field = text.substr(0, semi);
    text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
    const size_t colon = field.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = field.substr(0, colon), value = field.substr(colon + 1);
    if (EqualsAsciiNoCase(key, "name")) info.Name = value;
    else if (EqualsAsciiNoCase(key, "id")) info.Id = value;
    else if (EqualsAsciiNoCase(key, "type")) info.Type = value;
    else if (EqualsAsciiNoCase(key, "range")) info.Range = value;
  }
  return info;
}

// A descriptor from a "pinfo" text; false for unknown types and nameless ones.
bool ParamFromInfo(std::string_view text, TFilterParam& p) {
  const TParamInfo info = SplitParamInfo(text);
  const std::string_view key = info.Id.empty() ? info.Name : info.Id;
  if (key.empty()) return false;
  if (EqualsAsciiNoCase(info.Type, "String")) p.Type = kParamString;
  else if (EqualsAsciiNoCase(info.Type, "Int")) p.Type = kParamNumber, p.Integer = true;
  else if (EqualsAsciiNoCase(info.Type, "Float")) p.Type = kParamNumber;
  else if (EqualsAsciiNoCase(info.Type, "Color")) p.Type = kParamColor;
  else if (EqualsAsciiNoCase(info.Type, "Combo")) p.Type = kParamCombo;
  else return false;
  p.Name = TByteString(key);
  p.DisplayName = Wide(info.Name.empty() ? info.Id : info.Name);
  if (p.Type == kParamNumber) {
    TByteStringParts parts;
    ByteStringSplit(TByteString(info.Range), ',', parts);
    p.Min = ByteStringListGetFloat(parts, 0, 0);
    p.Max = ByteStringListGetFloat(parts, 1, 100);
    p.Default = ByteStringListGetFloat(parts, 2, 0);
  }
  return true;
}

}  // namespace

void SetModExpressionEditing(bool on) { g_expression_editing.store(on); }
bool ModExpressionEditing() { return g_expression_editing.load(); }

// ---- TKavObjectMod ---------------------------------------------------------------

bool TKavObjectMod::Prepare() {
  ClearCode(code_);
  compiled_ = false;
  compile_error_ = kCalcNoError;
  params_.reset();
  fn_ = IniGetValueBytes(IniFindKey(ini_.get(), u"fn"));
  dst_ = IniGetValueBytes(IniFindKey(ini_.get(), u"dst"));
  dst_is_time_ = EndsWithTime(dst_);
  if (fn_.empty() || dst_.empty()) return false;
  if (Wide(fn_).size() > kMaxModExpressionLength) {
    compile_error_ = kCalcTooComplex;
    return false;
  }
  RegisterCurveFunctions();
  TExpressionParser0 parser;
  parser.Text = fn_;
  try {
    compiled_ = ParseExpression(parser, 0, fn_.size(), TCalcResolver::Bind<&TKavObjectMod::Resolve>(this));
  } catch (const std::exception&) {
    // A getter factory that fails leaves the modifier without a program,
    // like any other compile error.
    compiled_ = false;
  }
  if (compiled_) code_ = std::move(parser.Code);
  else compile_error_ = parser.ErrorCode != kCalcNoError ? parser.ErrorCode : kCalcFunctionCallError;
  return compiled_;
}

double TKavObjectMod::Value() {
  if (!compiled_) return 0;
  TCalcStack stack;
  if (!EvaluateCode(code_, stack) || stack.Count != 1) return 0;
  return stack.Top;
}

std::string_view TKavObjectMod::DestinationGroup() const {
  std::string_view d = dst_;
  const size_t dot = d.rfind('.');
  return dot == std::string_view::npos ? d : d.substr(0, dot);
}

Ref<TCalcFunc> TKavObjectMod::Resolve(std::string_view name) {
  if (Ref<TCalcFunc> builtin = FindCalcFunction(name)) return builtin;
  if (name == "T" || name == "t") return factory_ ? factory_(DestinationGroup(), true) : nullptr;
  if (EndsWithTime(name)) return factory_ ? factory_(name.substr(0, name.size() - 2), true) : nullptr;
  if (name == "value") {
    if (!factory_) return nullptr;
    return dst_is_time_ ? factory_(DestinationGroup(), true) : factory_(dst_, false);
  }
  if (TIniItem* key = ini_ ? ini_->FindKeyByBytes(name) : nullptr)
    return CreateMathConst(std::string(name), key->GetFloat(0));
  return factory_ ? factory_(name, false) : nullptr;
}

TFilterParams TKavObjectMod::ParamDescriptors() const {
  if (params_) return params_;
  auto list = std::make_shared<std::vector<TFilterParam>>();
  if (ModExpressionEditing()) {
    TFilterParam fn = MakeFilterParam("fn", kParamString, 0, 0, 0, u"func");
    list->push_back(std::move(fn));
  }
  const int32_t count = std::clamp(IniGetInteger(IniFindKey(ini_.get(), u"pcount"), 0), 0, kMaxModParams);
  for (int32_t i = 0; i < count; ++i) {
    TIniItem* info = ini_ ? ini_->FindKeyIndexed(u"pinfo", i) : nullptr;
    TFilterParam p;
    if (info != nullptr && ParamFromInfo(info->GetValueBytes(), p)) list->push_back(std::move(p));
  }
  params_ = std::move(list);
  return params_;
}

int32_t TKavObjectMod::ParamCount() const { return int32_t(ParamDescriptors()->size()); }

std::u16string TKavObjectMod::DisplayName() const {
  const TByteString preset = IniGetValueBytes(IniFindKey(ini_.get(), u"Preset"));
  const size_t colon = preset.find(':');
  if (colon != TByteString::npos && preset.find(':', colon + 1) == TByteString::npos) {
    const std::u16string name = Wide(std::string_view(preset).substr(colon + 1));
    return TranslateFilterText(Wide(std::string_view(preset).substr(0, colon)), name, name);
  }
  const std::u16string group = Wide(DestinationGroup());
  std::u16string dest = TranslateFilterText({}, group, group);
  if (!dst_is_time_ && DestinationGroup().size() < dst_.size()) {
    const std::u16string param = Wide(std::string_view(dst_).substr(DestinationGroup().size() + 1));
    dest += u"." + TranslateFilterText({}, param, param);
  }
  return dest + u": " + display_name_;
}

int32_t TKavObjectMod::SetParamText(int32_t index, std::u16string_view text) {
  if (TObjectFilter::SetParamText(index, text) == 0) return 0;
  if (TIniItem* preset = IniFindKey(ini_.get(), u"Preset")) preset->Owner()->Remove(preset->Index());
  return ParamCount() + 1;
}

void TKavObjectMod::Dispose() {
  ClearCode(code_);
  params_.reset();
  factory_ = {};
  TObjectFilter::Dispose();
}

// ---- TModSlotTable ----------------------------------------------------------------

void TModSlotTable::Add(int32_t slot, Ref<TObjectFilter> mod) {
  KAV_ASSERT(slot >= 0 && slot < kMaxSlots);
  if (size_t(slot) >= slots_.size()) {
    size_t capacity = std::max<size_t>(slots_.size(), 4);
    while (capacity <= size_t(slot)) capacity *= 2;
    slots_.resize(capacity);
  }
  slots_[size_t(slot)] = AppendFilter(std::move(mod), std::move(slots_[size_t(slot)]));
  if (low_ < 0 || slot < low_) low_ = slot;
  if (slot > high_) high_ = slot;
}

TObjectFilter* TModSlotTable::Chain(int32_t slot) const {
  return slot >= 0 && size_t(slot) < slots_.size() ? slots_[size_t(slot)].get() : nullptr;
}

Ref<TObjectFilter> TModSlotTable::Take(int32_t slot) {
  return slot >= 0 && size_t(slot) < slots_.size() ? std::move(slots_[size_t(slot)]) : nullptr;
}

void TModSlotTable::Clear() {
  slots_.clear();
  low_ = high_ = -1;
}

}  // namespace kav
