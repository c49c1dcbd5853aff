// The INI model's items and the list core: insertion, removal and the key
// index.
#include "VoRav/vxIni.h"

#include <cmath>
#include <mutex>

#include "VoRav/vxByteStringUtils.h"

namespace kav {

namespace {

constexpr size_t kFirstBucketCount = 16;

// Serialises the lazy building of key indexes, so that threads reading one
// document that nobody changes may look keys up at the same time.
std::mutex& IndexBuildLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

// ---- TIniItem ----

void TIniItem::Dispose() {
  if (TIniList* owner = owner_) {
    // Released while still in a list: leave it without giving the list's
    // reference back (that reference is the one just dropped).
    KAV_ASSERT_MSG(owner->GetItem(index_) == this, "TIniItem.Index mismatch");
    owner->Detach(index_);
  }
  TTextWriter::Dispose();
}

void TIniItem::SetNameBytes(TByteString name) {
  TIniList* owner = owner_;
  if (!owner) {
    name_ = std::move(name);
    return;
  }
  // Out of the list and back at the same place, so the key index follows.
  const int32_t at = index_;
  KAV_ASSERT_MSG(owner->GetItem(at) == this, "TIniItem.Index mismatch");
  owner->Detach(at);
  name_ = std::move(name);
  owner->Insert(at, this);
}

std::u16string TIniItem::GetName() const { return ByteStringToWide(name_, 0, ptrdiff_t(name_.size())); }
void TIniItem::SetName(std::u16string_view name) { SetNameBytes(ByteStringFromWide(name)); }
std::u16string TIniItem::GetString() const { return ByteStringToWide(value_, 0, ptrdiff_t(value_.size())); }
void TIniItem::SetString(std::u16string_view text) { value_ = ByteStringFromWide(text); }

int32_t TIniItem::GetInteger(int32_t def) const noexcept { return ByteStringToIntDef(value_, def); }
int64_t TIniItem::GetInt64(int64_t def) const noexcept { return ByteStringToInt64Def(value_, def); }
double TIniItem::GetFloat(double def) const noexcept { return ByteStringToFloatDef(value_, def); }

bool TIniItem::GetBool(bool def) const noexcept {
  if (value_.size() != 1) return def;
  if (value_[0] == '0') return false;
  if (value_[0] == '1') return true;
  return def;
}

void TIniItem::SetInteger(int32_t value) {
  TByteStringBuilder b;
  ByteStringFromInt(b, 0, value);
  value_ = ByteStringFromBuilder(b);
}

void TIniItem::SetInt64(int64_t value) {
  TByteStringBuilder b;
  ByteStringFromInt64(b, 0, value);
  value_ = ByteStringFromBuilder(b);
}

void TIniItem::SetFloat(double value) {
  // 16 significant digits, very small and very large values with an
  // exponent, so that 1e-20 does not become "0".
  TByteStringBuilder b;
  ByteStringFromFloatGeneral(b, 0, value, 16);
  value_ = ByteStringFromBuilder(b);
}

int32_t TIniItem::GetIndexOf(std::span<const std::u16string_view> names, int32_t def, bool ignore_case) const {
  for (size_t i = 0; i < names.size(); ++i) {
    const int c = ignore_case ? ByteStringCompareWideText(value_, names[i]) : ByteStringCompareWide(value_, names[i]);
    if (c == 0) return int32_t(i);
  }
  return def;
}

void TIniItem::Save(TTextSaver* saver, int32_t level) {
  if (name_.empty() && value_.empty()) {
    saver->WriteLineBreak();
    return;
  }
  saver->WriteIndent(level);
  if (!name_.empty()) {
    saver->WriteBytes(name_);
    saver->WriteBytes("=");
  }
  if (!value_.empty()) saver->WriteBytes(value_);
  saver->WriteLineBreak();
}

bool TIniItem::Contains(const TIniItem*) const { return false; }

Ref<TIniItem> TIniItem::Clone() const { return Ref<TIniItem>::Adopt(new TIniItem(name_, value_)); }

void TIniItem::RegisterIndex(bool) {}

// ---- TObjectList ----

TIniList* TObjectList::GetIniObject(int32_t i) const noexcept {
  return i >= 0 && i < Count() ? items_[size_t(i)] : nullptr;
}

void TObjectList::Join(TIniList* list) {
  KAV_ASSERT(list->Owner() != nullptr);
  // Entries stay in the order of their place in the common owner.
  size_t at = items_.size();
  while (at > 0 && items_[at - 1]->Index() > list->Index()) --at;
  KAV_ASSERT(at <= items_.size());
  items_.insert(items_.begin() + ptrdiff_t(at), list);
  for (size_t i = at; i < items_.size(); ++i) items_[i]->object_index_ = int32_t(i);
}

void TObjectList::Leave(TIniList* list, const char* mismatch) {
  const int32_t at = list->object_index_;
  KAV_ASSERT_MSG(at >= 0 && at < Count() && items_[size_t(at)] == list, mismatch);
  items_.erase(items_.begin() + at);
  for (size_t i = size_t(at); i < items_.size(); ++i) items_[i]->object_index_ = int32_t(i);
  list->object_index_ = -1;
}

// ---- TIniList: items ----

TIniList::TIniList(bool with_empty_item) {
  if (with_empty_item) Add(new TIniItem());
}

void TIniList::Dispose() {
  Clear();
  TIniItem::Dispose();
}

TIniItem* TIniList::GetItem(int32_t i) const noexcept {
  return i >= 0 && i < Count() ? items_[size_t(i)] : nullptr;
}

int32_t TIniList::Add(TIniItem* item) {
  const int32_t at = Count();
  if (!Insert(at, item)) return -1;
  return item->index_;
}

bool TIniList::Insert(int32_t index, TIniItem* item) {
  if (!item || index < 0 || index > Count() || item->Contains(this)) return false;
  if (TIniList* old = item->owner_) {
    if (old == this && item->index_ <= index) {
      if (item->index_ == index || item->index_ == index - 1) return true;  // already there
      --index;  // taking it out moves the target down
    }
    KAV_ASSERT_MSG(old->GetItem(item->index_) == item, "TIniItem.Index mismatch");
    old->Detach(item->index_);  // its reference comes along
  }
  items_.insert(items_.begin() + index, item);
  for (size_t i = size_t(index) + 1; i < items_.size(); ++i) items_[i]->index_ = int32_t(i);
  item->owner_ = this;
  item->index_ = index;
  if (!item->name_.empty()) {
    ++named_count_;
    LinkIntoChain(item);
  }
  item->RegisterIndex(true);
  if (index < key_end_) {
    ++key_end_;
  } else if (item->IsNamedKey()) {
    key_end_ = index + 1;
  }
  return true;
}

TIniItem* TIniList::Detach(int32_t index) {
  KAV_ASSERT(index >= 0 && index < Count());
  TIniItem* item = items_[size_t(index)];
  KAV_ASSERT_MSG(item->index_ == index, "TIniItem.Index mismatch");
  item->RegisterIndex(false);
  if (!item->name_.empty()) {
    UnlinkFromChain(item);
    --named_count_;
  }
  items_.erase(items_.begin() + index);
  for (size_t i = size_t(index); i < items_.size(); ++i) items_[i]->index_ = int32_t(i);
  item->owner_ = nullptr;
  item->index_ = -1;
  item->next_ = nullptr;
  if (index < key_end_) --key_end_;
  return item;
}

Ref<TIniItem> TIniList::Remove(int32_t index) {
  if (index < 0 || index >= Count()) return nullptr;
  return Ref<TIniItem>::Adopt(Detach(index));
}

void TIniList::Clear() {
  if (objects_) {
    for (TIniList* l : objects_->items_) l->object_index_ = -1;
    objects_ = nullptr;
  }
  buckets_.clear();
  indexed_.store(false, std::memory_order_relaxed);
  named_count_ = 0;
  key_end_ = 0;
  std::vector<TIniItem*> former = std::move(items_);
  items_.clear();
  for (TIniItem* item : former) {
    item->owner_ = nullptr;
    item->index_ = -1;
    item->next_ = nullptr;
  }
  for (TIniItem* item : former) RefRelease(item);
}

int32_t TIniList::CreationIndex() const {
  if (objects_ && objects_->Count() > 0) return objects_->items_.back()->index_ + 1;
  return key_end_;
}

TObjectList* TIniList::NeedObjects() {
  if (!objects_) objects_ = MakeRef<TObjectList>();
  return objects_.get();
}

bool TIniList::Contains(const TIniItem* item) const {
  for (const TIniItem* p = item; p; p = p->owner_)
    if (p == this) return true;
  return false;
}

Ref<TIniList> TIniList::NewOfSameKind() const { return MakeRef<TIniList>(); }

Ref<TIniItem> TIniList::Clone() const {
  Ref<TIniList> copy = NewOfSameKind();
  copy->name_ = name_;
  copy->value_ = value_;
  for (TIniItem* child : items_) copy->Add(child->Clone().release());
  copy->key_end_ = key_end_;
  return copy;
}

void TIniList::Save(TTextSaver* saver, int32_t level) {
  for (TIniItem* child : items_) child->Save(saver, level);
}

// ---- TIniList: the key index ----

void TIniList::BuildIndex() const {
  std::lock_guard<std::mutex> guard(IndexBuildLock());
  if (indexed_.load(std::memory_order_acquire)) return;
  size_t size = kFirstBucketCount;
  while (size < size_t(named_count_)) size *= 2;
  buckets_.assign(size, nullptr);
  for (TIniItem* item : items_) {
    if (item->name_.empty()) continue;
    TIniItem*& head = buckets_[ByteStringHash(item->name_) & (size - 1)];
    item->next_ = head;  // later items go in front: chains run from the last item back
    head = item;
  }
  indexed_.store(true, std::memory_order_release);
}

void TIniList::LinkIntoChain(TIniItem* item) {
  if (!indexed_.load(std::memory_order_relaxed)) return;
  if (buckets_.size() <= size_t(named_count_)) {
    buckets_.clear();  // rebuilt larger on the next lookup
    indexed_.store(false, std::memory_order_relaxed);
    return;
  }
  TIniItem** link = &buckets_[ByteStringHash(item->name_) & (buckets_.size() - 1)];
  while (*link && (*link)->index_ > item->index_) link = &(*link)->next_;
  item->next_ = *link;
  *link = item;
}

void TIniList::UnlinkFromChain(TIniItem* item) {
  if (!indexed_.load(std::memory_order_relaxed)) return;
  TIniItem** link = &buckets_[ByteStringHash(item->name_) & (buckets_.size() - 1)];
  while (*link && *link != item) link = &(*link)->next_;
  KAV_ASSERT(*link == item);
  *link = item->next_;
  item->next_ = nullptr;
}

TIniItem* TIniList::FindByHash(uint32_t hash, bool (*match)(const TIniItem*, const void*), const void* ctx) const {
  if (named_count_ == 0) return nullptr;
  if (!indexed_.load(std::memory_order_acquire)) BuildIndex();
  for (TIniItem* p = buckets_[hash & (buckets_.size() - 1)]; p; p = p->next_)
    if (match(p, ctx)) return p;
  return nullptr;
}

TIniItem* TIniList::FindNamedBytes(std::string_view name, bool (*pred)(const TIniItem*)) const {
  if (name.empty() || named_count_ == 0) return nullptr;
  struct Ctx {
    std::string_view name;
    bool (*pred)(const TIniItem*);
  } ctx{name, pred};
  return FindByHash(
      ByteStringHash(name),
      [](const TIniItem* i, const void* c) {
        const Ctx* x = static_cast<const Ctx*>(c);
        return (!x->pred || x->pred(i)) && ByteStringCompareText(i->NameBytes(), x->name) == 0;
      },
      &ctx);
}

}  // namespace kav
