#include "KavLib2/KavClasses/KavObjectProps.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "VoRav/vxIni.h"

namespace kav {

namespace {

bool IsClass(const TIniObject* object, std::string_view word) {
  return ByteStringCompareText(object->GetValueBytes(), word) == 0;
}

double FiniteOr(double v, double def) { return std::isfinite(v) ? v : def; }

// Matches the child objects of a block read again with the properties of the
// last read: by position while the GUIDs agree, then by GUID.
class TChildMatcher {
 public:
  explicit TChildMatcher(std::vector<Ref<TKavObjectProps>> old) : old_(std::move(old)) {}

  Ref<TKavObjectProps> Take(size_t position, const TByteString& guid) {
    if (!set_aside_) {
      if (position < old_.size() && old_[position] && old_[position]->Guid() == guid)
        return std::move(old_[position]);
      set_aside_ = true;
      for (size_t i = 0; i < old_.size(); ++i)
        if (old_[i]) by_guid_.emplace(old_[i]->Guid(), i);
    }
    auto it = by_guid_.find(guid);
    if (it == by_guid_.end()) return nullptr;
    const size_t i = it->second;
    by_guid_.erase(it);
    return std::move(old_[i]);
  }
  // The properties that matched nothing.
  std::vector<Ref<TKavObjectProps>>& Rest() { return old_; }

 private:
  std::vector<Ref<TKavObjectProps>> old_;
  bool set_aside_ = false;
  std::unordered_multimap<std::string, size_t> by_guid_;
};

}  // namespace

TKavObjectProps::TKavObjectProps() {
  for (int32_t i = 0; i < kKeyParamCount; ++i) {
    fields_[size_t(i)] = kKeyParams[size_t(i)].Default;
    scaled_[size_t(i)] = float(kKeyParams[size_t(i)].Default * kKeyParams[size_t(i)].Multiplier);
  }
}

TKavObjectProps* TKavObjectProps::Child(int32_t n) const noexcept {
  return n >= 0 && size_t(n) < children_.size() ? children_[size_t(n)].get() : nullptr;
}

TKavKeyFrame* TKavObjectProps::GetKeyFrame(int32_t n) const noexcept {
  return n >= 0 && size_t(n) < keyframes_.size() ? keyframes_[size_t(n)].get() : nullptr;
}

TIniItem* TKavObjectProps::FindValue(std::u16string_view name) const { return IniFindKey(ini_.get(), name); }

std::u16string TKavObjectProps::GetText(std::u16string_view name, std::u16string_view def) const {
  const TIniItem* item = FindValue(name);
  return item != nullptr ? item->GetString() : std::u16string(def);
}

TIniItem* TKavObjectProps::AddValue(std::u16string_view name) {
  return ini_ ? ini_->FindOrAddKey(name) : nullptr;
}

void TKavObjectProps::Read(TIniList* object, const TSlideLengths& timing) {
  ini_ = Ref<TIniList>(object);
  timing_ = timing;
  kind_ = object != nullptr ? ParseObjectKind(object->GetValueBytes()) : kKindNone;
  guid_ = IniGetValueBytes(IniFindKey(object, u"GUID"));
  read_delta1_ = delta_time1_ = FiniteOr(IniGetFloat(IniFindKey(object, u"DeltaTime1"), 0), 0);
  read_delta2_ = delta_time2_ = FiniteOr(IniGetFloat(IniFindKey(object, u"DeltaTime2"), 0), 0);
  tree_node_ = IniGetInteger(IniFindKey(object, u"TreeNode"), 0);
  anim_enable_ = IniGetBool(IniFindKey(object, u"AnimEnable"), false);
  ReadChildren(object, timing);
  SortKeyFrames();
  cursors_valid_ = false;
}

void TKavObjectProps::ReadChildren(TIniList* object, const TSlideLengths& timing) {
  TChildMatcher matcher(std::move(children_));
  children_.clear();
  int32_t keyframes = 0;
  for (TIniObject* c = object != nullptr ? object->FirstObject() : nullptr; c != nullptr; c = object->NextObject(c)) {
    if (IsClass(c, "KeyPoint")) {
      if (keyframes < kMaxObjectKeyFrames) ReadKeyFrame(c, timing, keyframes++);
      continue;
    }
    if (children_.size() >= size_t(kMaxObjectChildren)) continue;
    const TByteString& guid = IniGetValueBytes(c->FindKey(u"GUID"));
    if (guid.empty()) {
      // One damaged object does not cost the slide its other objects.
      DebugOutput("KavObject GUID not Assigned");
      continue;
    }
    Ref<TKavObjectProps> child = matcher.Take(children_.size(), guid);
    if (!child) child = MakeRef<TKavObjectProps>();
    child->owner_ = this;
    child->Read(c, timing);
    children_.push_back(std::move(child));
  }
  DropKeyFrames(size_t(keyframes));
  for (Ref<TKavObjectProps>& gone : matcher.Rest())
    if (gone) gone->owner_ = nullptr;
}

void TKavObjectProps::ReadKeyFrame(TIniList* object, const TSlideLengths& timing, int32_t n) {
  if (size_t(n) >= keyframes_.size()) keyframes_.push_back(MakeRef<TKavKeyFrame>());
  TKavKeyFrame* kf = keyframes_[size_t(n)].get();
  kf->owner_ = this;
  kf->index_ = n;
  kf->Read(object, timing);
}

void TKavObjectProps::DropKeyFrames(size_t from) {
  for (size_t i = from; i < keyframes_.size(); ++i) {
    KAV_ASSERT_MSG(keyframes_[i]->index_ == int32_t(i), "TKavKeyFrame Index mismatch");
    keyframes_[i]->Detach();
  }
  if (from < keyframes_.size()) keyframes_.resize(from);
}

void TKavObjectProps::SortKeyFrames() {
  const auto earlier = [](const Ref<TKavKeyFrame>& a, const Ref<TKavKeyFrame>& b) { return a->time_ < b->time_; };
  if (!std::is_sorted(keyframes_.begin(), keyframes_.end(), earlier)) {
    std::stable_sort(keyframes_.begin(), keyframes_.end(), earlier);
    for (size_t i = 0; i < keyframes_.size(); ++i) keyframes_[i]->index_ = int32_t(i);
  }
}

void TKavObjectProps::ProcessTree(const TSlideLengths& timing, double scale) {
  timing_ = timing;
  const double s = scale > 0.0001 ? scale : 1.0;
  const auto scaled = [s](double v) { return FiniteOr(std::nearbyint(v * s), v); };
  delta_time1_ = scaled(read_delta1_);
  delta_time2_ = scaled(read_delta2_);
  for (const Ref<TKavKeyFrame>& kf : keyframes_) kf->time_ = scaled(kf->read_time_);
  SortKeyFrames();
  cursors_valid_ = false;
  for (const Ref<TKavObjectProps>& child : children_) child->ProcessTree(timing, scale);
}

void TKavObjectProps::ReadAspect(double width, double height) {
  aspect_ = {0.01, 0.01};
  if (!IniGetBool(FindValue(u"EnableAspect"), false)) return;
  const double a = IniGetFloat(FindValue(u"Aspect"), 0);
  if (!(a > 0) || !(width > 0) || !(height > 0)) return;
  const bool narrower = width / height <= a;
  const double factor = narrower ? 0.01 * height * a / width : 0.01 * width / (height * a);
  if (std::isfinite(factor) && factor > 0) aspect_[narrower ? 1 : 0] = factor;
}

void TKavObjectProps::Dispose() {
  // Modifiers hold getters into this object's tables: they go first.
  for (const Ref<TKavKeyFrame>& kf : keyframes_) kf->Detach();
  keyframes_.clear();
  for (const Ref<TKavObjectProps>& child : children_) child->owner_ = nullptr;
  children_.clear();
  for (TGroupCursor& c : cursors_) c = TGroupCursor();
  ini_ = nullptr;
  object_ = nullptr;
  TRefObject::Dispose();
}

}  // namespace kav
