// Lookups on INI lists: keys, objects, sections and paths, and the key
// accessors of lists and documents.
#include <cstring>
#include <typeinfo>

#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

bool IsKey(const TIniItem* i) { return i->IsNamedKey(); }
bool IsSection(const TIniItem* i) { return dynamic_cast<const TIniSection*>(i) != nullptr; }
bool IsObject(const TIniItem* i) { return dynamic_cast<const TIniObject*>(i) != nullptr; }
bool IsPlainItem(const TIniItem* i) { return typeid(*i) == typeid(TIniItem); }

}  // namespace

TIniItem* TIniList::FindKey(std::u16string_view name) const { return FindNamed(name, IsKey); }

TIniItem* TIniList::FindKeyByBytes(std::string_view name) const { return FindNamedBytes(name, IsKey); }

TIniItem* TIniList::FindKeyIndexed(std::u16string_view base, int32_t n) const {
  if (base.empty() || named_count_ == 0) return nullptr;
  char buffer[16];
  const int len = IntToDecimalBuffer(n, buffer, sizeof buffer);
  if (len <= 0) return nullptr;
  struct Ctx {
    std::u16string_view base;
    std::string_view digits;
  } ctx{base, std::string_view(buffer, size_t(len))};
  // The hash of the base continued over the digits is the hash of the
  // joined name; the base compares case-insensitively, the digits exactly.
  return FindByHash(
      HashBytesContinue(HashWideString(base), ctx.digits),
      [](const TIniItem* i, const void* c) {
        const Ctx* x = static_cast<const Ctx*>(c);
        const std::string_view name = i->NameBytes();
        if (!i->IsNamedKey() || name.size() < x->digits.size()) return false;
        const size_t head = name.size() - x->digits.size();
        return name.substr(head) == x->digits && ByteStringCompareWideText(name.substr(0, head), x->base) == 0;
      },
      &ctx);
}

TIniItem* TIniList::FindOrAddKey(std::u16string_view name) {
  if (TIniItem* found = FindNamed(name, IsPlainItem)) return found;
  KAV_ASSERT(key_end_ <= Count());
  TIniItem* item = new TIniItem(ByteStringFromWide(name), TByteString());
  Insert(key_end_, item);
  return item;
}

TIniObject* TIniList::FindObject(std::u16string_view name) const {
  return static_cast<TIniObject*>(FindNamed(name, IsObject));
}

TIniObject* TIniList::FindObjectWithValue(std::u16string_view name, std::u16string_view value) const {
  auto pred = [value](const TIniItem* i) {
    return IsObject(i) && ByteStringCompareWideText(i->GetValueBytes(), value) == 0;
  };
  return static_cast<TIniObject*>(FindNamed(name, pred));
}

TIniObject* TIniList::FirstObject() const noexcept {
  return objects_ ? static_cast<TIniObject*>(objects_->GetIniObject(0)) : nullptr;
}

TIniObject* TIniList::NextObject(const TIniObject* object) const {
  if (!object) return nullptr;
  KAV_ASSERT(object->Owner() == this && objects_ && objects_->GetIniObject(object->ObjectIndex()) == object);
  return static_cast<TIniObject*>(objects_->GetIniObject(object->ObjectIndex() + 1));
}

TIniList* TIniList::FindSection(std::u16string_view name) {
  if (name.empty()) return this;
  return static_cast<TIniList*>(FindNamed(name, IsSection));
}

TIniList* TIniList::FindOrAddSection(std::u16string_view name) {
  if (TIniList* found = FindSection(name)) return found;
  TIniSection* section = new TIniSection(ByteStringFromWide(name));
  section->Add(new TIniItem());  // saves as the blank line that ends the section
  Add(section);
  return section;
}

TIniItem* TIniList::FindByPath(std::u16string_view path) {
  TIniList* list = this;
  size_t pos = 0;
  for (;;) {
    const size_t colon = path.find(u':', pos);
    if (colon == std::u16string_view::npos) {
      const std::u16string_view key = path.substr(pos);
      return key.empty() ? list : list->FindOrAddKey(key);
    }
    const std::u16string_view part = path.substr(pos, colon - pos);
    if (dynamic_cast<TIniFile*>(list) && !list->Owner()) {
      list = list->FindOrAddSection(part);
    } else {
      TIniObject* object = part.empty() ? list->FirstObject() : list->FindObject(part);
      if (!object) object = CreateIniItem<TIniObject>(list, part);
      list = object;
    }
    pos = colon + 1;
  }
}

std::u16string TIniList::ReadString(std::u16string_view name, std::u16string_view def) const {
  if (const TIniItem* key = FindKey(name)) return key->GetString();
  return std::u16string(def);
}

bool TIniList::ReadBool(std::u16string_view name, bool def) const { return IniGetBool(FindKey(name), def); }

void TIniList::WriteString(std::u16string_view name, std::u16string_view text) {
  FindOrAddKey(name)->SetString(text);
}

// ---- document conveniences ----

namespace {

const TIniItem* DocKey(TIniList* doc, std::u16string_view section, std::u16string_view key) {
  return doc ? IniFindKey(doc->FindSection(section), key) : nullptr;
}

}  // namespace

std::u16string IniReadString(TIniList* doc, std::u16string_view section, std::u16string_view key,
                             std::u16string_view def) {
  const TIniItem* item = DocKey(doc, section, key);
  return item ? item->GetString() : std::u16string(def);
}

int32_t IniReadInteger(TIniList* doc, std::u16string_view section, std::u16string_view key, int32_t def) {
  return IniGetInteger(DocKey(doc, section, key), def);
}

double IniReadFloat(TIniList* doc, std::u16string_view section, std::u16string_view key, double def) {
  return IniGetFloat(DocKey(doc, section, key), def);
}

bool IniReadBool(TIniList* doc, std::u16string_view section, std::u16string_view key, bool def) {
  return IniGetBool(DocKey(doc, section, key), def);
}

void IniWriteString(TIniList* doc, std::u16string_view section, std::u16string_view key, std::u16string_view text) {
  if (doc) doc->FindOrAddSection(section)->FindOrAddKey(key)->SetString(text);
}

void IniWriteInteger(TIniList* doc, std::u16string_view section, std::u16string_view key, int32_t value) {
  if (doc) doc->FindOrAddSection(section)->FindOrAddKey(key)->SetInteger(value);
}

}  // namespace kav
