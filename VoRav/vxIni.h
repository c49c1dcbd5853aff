// The INI document model: every structured text of a show (the project text,
// show options, effect definitions, object properties, skins) is held as a
// tree of items.
//
//   TIniItem     one line: a key (name=value) or a plain line (comment,
//                blank line, unrecognised text: the value is the whole line)
//   TIniList     an item holding items, with a case-insensitive key index
//   TIniObject   a nested block "object name:Class" ... "end"
//   TIniSection  a "[name]" section
//   TIniFile     the document; items before the first section are its own
//
// Names and values are UTF-8 byte strings; the wide-text accessors convert.
// Comments and blank lines are kept, so a document written back looks like
// the one read (keys at column 0, object contents two blanks deeper per
// level, CR LF line breaks).
//
// Ownership: items are reference counted. A list holds one reference to each
// child. Insert/Add take over one reference of a free item (or move an item
// from its list together with that list's reference); Remove hands the
// reference back. Releasing the last reference of an item that still lies in
// a list (item->Free() on a child) takes it out of the list. Items handed
// out by the find operations are borrowed, not extra references.
//
// Threads: a document that nobody changes may be read by many threads (the
// key index is built on first lookup under a lock). Changes are serialised
// by the caller.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/vxByteString.h"
#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxIniInterfaces.h"
#include "VoRav/vxIniParser2.h"

namespace kav {

class TIniList;
class TIniObject;
class TIniSection;
class TIniFile;

// Objects nested deeper than this in the text are not opened: the header is
// kept as a plain line (the text of the line), so hostile input cannot make
// the tree (and the recursive saving and freeing of it) arbitrarily deep.
inline constexpr int32_t kIniMaxObjectDepth = 256;
// A text of more lines than this is refused (each line costs an item).
inline constexpr size_t kIniMaxLines = 4'000'000;

class TIniItem : public TTextWriter {
 public:
  TIniItem() = default;
  TIniItem(TByteString name, TByteString value) : name_(std::move(name)), value_(std::move(value)) {}

  TIniList* Owner() const noexcept { return owner_; }
  // Position in the owner's items; -1 when free.
  int32_t Index() const noexcept { return index_; }

  const TByteString& NameBytes() const noexcept { return name_; }
  const TByteString& GetValueBytes() const noexcept { return value_; }
  // Setting a name re-files the item in its owner's key index.
  void SetNameBytes(TByteString name);
  void SetValueBytes(TByteString value) { value_ = std::move(value); }

  // Name and value as wide text; invalid UTF-8 raises the "Invalid UTF8
  // Char" assertion (EAbort).
  std::u16string GetName() const;
  void SetName(std::u16string_view name);
  std::u16string GetString() const;
  void SetString(std::u16string_view text);

  // The value parsed; the default when it is not a number of the type.
  int32_t GetInteger(int32_t def) const noexcept;
  int64_t GetInt64(int64_t def) const noexcept;
  double GetFloat(double def) const noexcept;
  // Only "0" (false) and "1" (true) count; anything else gives the default.
  bool GetBool(bool def) const noexcept;
  void SetInteger(int32_t value);
  void SetInt64(int64_t value);
  // 16 significant digits, fixed notation, trailing zeros cut.
  void SetFloat(double value);
  void SetBool(bool value) { value_ = value ? "1" : "0"; }
  // Index of the first name equal to the value (case-insensitively when
  // asked), else the default.
  int32_t GetIndexOf(std::span<const std::u16string_view> names, int32_t def, bool ignore_case) const;
  int32_t GetIndexOf(std::initializer_list<std::u16string_view> names, int32_t def, bool ignore_case) const {
    return GetIndexOf(std::span<const std::u16string_view>(names.begin(), names.size()), def, ignore_case);
  }
  // Splits the value at the separator.
  void SplitValue(char separator, TByteStringParts& parts) const { ByteStringSplit(value_, separator, parts); }

  void SaveTo(TTextSaver* saver) override { Save(saver, 0); }
  // Writes the item at `level` blanks of indentation.
  virtual void Save(TTextSaver* saver, int32_t level);
  // Whether `item` is this list or lies inside it (false for a plain item).
  virtual bool Contains(const TIniItem* item) const;
  // A free copy (deep for lists); the caller owns it.
  virtual Ref<TIniItem> Clone() const;
  // A key: a plain item with a name. Lists are never keys.
  virtual bool IsNamedKey() const { return !name_.empty(); }
  // The line of the text the item was parsed from (1 is the first; 0 for an
  // item made otherwise), for messages to the show's author.
  int32_t Line() const noexcept { return line_; }
  void SetLine(int32_t line) noexcept { line_ = line; }

 protected:
  // Takes the item out of its owner when it still lies in one.
  void Dispose() override;
  // Joins (true) or leaves (false) the registry its kind belongs to: objects
  // the owner's object list, sections the document's section list.
  virtual void RegisterIndex(bool join);

 private:
  friend class TIniList;
  TIniList* owner_ = nullptr;
  int32_t index_ = -1;
  TIniItem* next_ = nullptr;  // the owner's hash chain
  TByteString name_;
  TByteString value_;
  int32_t line_ = 0;
};

// A plain index list of the nested lists of one owner, in the owner's item
// order; an entry's ObjectIndex() is its position. It does not own them.
class TObjectList : public TRefObject {
 public:
  int32_t Count() const noexcept { return int32_t(items_.size()); }
  // Entry i; nil outside 0..Count()-1.
  TIniList* GetIniObject(int32_t i) const noexcept;

 private:
  friend class TIniList;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;
  void Join(TIniList* list);
  void Leave(TIniList* list, const char* mismatch);
  std::vector<TIniList*> items_;
};

// The sections of a document.
class TSectionList : public TObjectList {
 public:
  // Section i; nil outside the range.
  TIniList* GetSection(int32_t i) const noexcept { return GetIniObject(i); }
};

class TIniList : public TIniItem {
 public:
  // A list, optionally holding one empty item (which saves as a blank line).
  explicit TIniList(bool with_empty_item = false);
  TIniList(TByteString name, TByteString value) : TIniItem(std::move(name), std::move(value)) {}

  int32_t Count() const noexcept { return int32_t(items_.size()); }
  // Child i; nil outside the range.
  TIniItem* GetItem(int32_t i) const noexcept;
  // One past the last key; new keys go there.
  int32_t KeyEnd() const noexcept { return key_end_; }
  // Position in the owner's object (or section) list; -1 when not listed.
  int32_t ObjectIndex() const noexcept { return object_index_; }
  // The nested objects in item order; nil until the first one joins.
  TObjectList* Objects() const noexcept { return objects_.get(); }

  // Where CreateIniItem puts a new item: after the last nested object, else
  // at the key end.
  int32_t CreationIndex() const;
  // Inserts at the end; the index, or -1 when refused.
  int32_t Add(TIniItem* item);
  // False (nothing changed) for a nil item, an index outside 0..Count(), or
  // an item that is this list or holds it. An item of another list is moved
  // out of it first.
  bool Insert(int32_t index, TIniItem* item);
  // Takes the child out and hands its reference to the caller.
  Ref<TIniItem> Remove(int32_t index);

  // Lookups (names compared case-insensitively; an empty name finds nothing).
  // The last key of that name.
  TIniItem* FindKey(std::u16string_view name) const;
  TIniItem* FindKeyByBytes(std::string_view name) const;
  // The key named base + decimal n ("Cell" and 3 find "Cell3").
  TIniItem* FindKeyIndexed(std::u16string_view base, int32_t n) const;
  // The last child of that name that is a T.
  template <class T>
  T* FindItemOfClass(std::u16string_view name) const {
    return static_cast<T*>(FindNamed(name, [](const TIniItem* i) { return dynamic_cast<const T*>(i) != nullptr; }));
  }
  // The last key of that name that is exactly a TIniItem; else a new empty
  // key at the key end.
  TIniItem* FindOrAddKey(std::u16string_view name);
  TIniObject* FindObject(std::u16string_view name) const;
  // Of the objects of that name, the last whose class text equals `value`
  // case-insensitively.
  TIniObject* FindObjectWithValue(std::u16string_view name, std::u16string_view value) const;
  // The nested objects in document order.
  TIniObject* FirstObject() const noexcept;
  TIniObject* NextObject(const TIniObject* object) const;
  // The child section of that name; this list for an empty name.
  TIniList* FindSection(std::u16string_view name);
  // The same, creating a missing section (with one empty item) at the end.
  TIniList* FindOrAddSection(std::u16string_view name);
  // Walks "a:b:key", creating what is missing: at a document without owner
  // each component names a section, below it a nested object (an empty
  // component takes the first one); the last component names a key. A path
  // ending in ":" yields the list reached.
  TIniItem* FindByPath(std::u16string_view path);

  std::u16string ReadString(std::u16string_view name, std::u16string_view def) const;
  bool ReadBool(std::u16string_view name, bool def) const;
  void WriteString(std::u16string_view name, std::u16string_view text);

  // The one-line form: the list's text with backslashes doubled and line
  // breaks as backslash "n". Loading clears the list and parses the text
  // with the list as the document root; false on a bad escape.
  bool LoadFromValueText(std::string_view bytes);
  TByteString SaveToValueText();

  // Writes the children at `level`.
  void Save(TTextSaver* saver, int32_t level) override;
  bool Contains(const TIniItem* item) const override;
  Ref<TIniItem> Clone() const override;
  bool IsNamedKey() const override { return false; }
  // An empty list of the same class.
  virtual Ref<TIniList> NewOfSameKind() const;
  // Releases every child.
  virtual void Clear();
  // Clear, then copies of the children of a list source; any other source
  // is written as text and parsed (see the .cpp for what is kept).
  virtual void Assign(TTextWriter* source);

  // Parses INI text into `list`: lines go to the list and the objects they
  // open. With a `document`, section headers switch to that document's
  // section of the name (created at its end when missing) and close any
  // open objects; without one a section header ends the parse. An end line
  // with no open object is kept as a plain "end", or, with
  // `stop_at_outer_end`, ends the parse. Never recursive. False when the
  // text has more than kIniMaxLines lines (the parse stops there).
  static bool ParseText(TIniList* list, TIniParser& parser, TIniList* document, bool stop_at_outer_end = false);

 protected:
  void Dispose() override;

  template <class Pred>
  TIniItem* FindNamed(std::u16string_view name, Pred pred) const;
  TIniItem* FindNamedBytes(std::string_view name, bool (*pred)(const TIniItem*)) const;
  TIniItem* FindByHash(uint32_t hash, bool (*match)(const TIniItem*, const void*), const void* ctx) const;
  TObjectList* NeedObjects();

 private:
  friend class TIniItem;
  friend class TObjectList;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;
  void BuildIndex() const;
  void LinkIntoChain(TIniItem* item);
  void UnlinkFromChain(TIniItem* item);
  // Takes the child out without touching its reference.
  TIniItem* Detach(int32_t index);

  std::vector<TIniItem*> items_;
  mutable std::vector<TIniItem*> buckets_;  // chain heads; empty until indexed
  mutable std::atomic<bool> indexed_{false};
  int32_t named_count_ = 0;
  int32_t key_end_ = 0;
  Ref<TObjectList> objects_;
  int32_t object_index_ = -1;
};

template <class Pred>
TIniItem* TIniList::FindNamed(std::u16string_view name, Pred pred) const {
  if (name.empty() || named_count_ == 0) return nullptr;
  struct Ctx {
    std::u16string_view name;
    Pred* pred;
  } ctx{name, &pred};
  return FindByHash(
      HashWideString(name),
      [](const TIniItem* i, const void* c) {
        const Ctx* x = static_cast<const Ctx*>(c);
        return (*x->pred)(i) && ByteStringCompareWideText(i->NameBytes(), x->name) == 0;
      },
      &ctx);
}

class TIniObject : public TIniList {
 public:
  TIniObject() = default;
  TIniObject(TByteString name, TByteString class_text) : TIniList(std::move(name), std::move(class_text)) {}
  // "object name:Class", the children two blanks deeper, "end".
  void Save(TTextSaver* saver, int32_t level) override;
  Ref<TIniList> NewOfSameKind() const override;
  // For an object read from text that met no end line of its own: the line
  // of the section header that closed it, or -1 when the text ended first;
  // 0 otherwise.
  int32_t ClosedWithoutEnd() const noexcept { return closed_without_end_; }
  void SetClosedWithoutEnd(int32_t line) noexcept { closed_without_end_ = line; }

 protected:
  void RegisterIndex(bool join) override;

 private:
  int32_t closed_without_end_ = 0;
};

class TIniSection : public TIniList {
 public:
  TIniSection() = default;
  explicit TIniSection(TByteString name, TByteString value = {}) : TIniList(std::move(name), std::move(value)) {}
  // The line of the section's second header when the text names it twice
  // (the reader puts the lines of both into this one section); 0 otherwise.
  int32_t RepeatedAt() const noexcept { return repeated_at_; }
  void SetRepeatedAt(int32_t line) noexcept { repeated_at_ = line; }
  // "[name]" at column 0, then the children at `level`.
  void Save(TTextSaver* saver, int32_t level) override;
  Ref<TIniList> NewOfSameKind() const override;

 protected:
  void RegisterIndex(bool join) override;

 private:
  int32_t repeated_at_ = 0;
};

class TIniFile : public TIniSection {
 public:
  TIniFile() = default;

  TSectionList* Sections() const noexcept { return sections_.get(); }
  // Writes the children at `level`, no header.
  void Save(TTextSaver* saver, int32_t level) override;
  Ref<TIniList> NewOfSameKind() const override;
  void Clear() override;
  // A list source is copied; any other source is written and parsed whole
  // as a document.
  void Assign(TTextWriter* source) override;

  // Clears, reads the whole stream from its position as UTF-8 text (a text
  // without byte-order mark is read as UTF-8 when it is valid UTF-8, else in
  // the ANSI code page) and parses it.
  // False, with the document empty, when the read fails.
  bool LoadFrom(TStream* stream);
  // Parses UTF-8 bytes (no byte-order mark handling) after clearing; false,
  // with the document empty, when the text has too many lines.
  bool LoadFromBytes(std::string_view bytes);
  // Opens the file through the stream module's ReadFile hook; false when it
  // cannot be opened or read.
  bool LoadFromFile(const std::u16string& path);
  // Writes the document (with a UTF-8 byte-order mark when asked) at the
  // stream's position; false when the stream does not take all of it.
  bool SaveToStream(TStream* stream, bool with_bom);
  // The document as UTF-8 text with CR LF line breaks (no byte-order mark).
  std::string SaveToBytes();
  // Writes the document with a byte-order mark to a new file beside `path`
  // (through the stream module's WriteFile hook) and renames it over `path`
  // only when all of it was written, so a failed save leaves the old file
  // whole. False when anything fails (the temporary file is then deleted).
  bool SaveToFile(const std::u16string& path);

 protected:
  void Dispose() override;

 private:
  friend class TIniSection;
  Ref<TSectionList> sections_ = MakeRef<TSectionList>();
};

// Makes an item of class T. With an owner it is inserted after the owner's
// last nested object, or at its key end when it has none, and the owner
// keeps the reference (the result is borrowed); without one the caller owns
// the result.
template <class T = TIniItem>
T* CreateIniItem(TIniList* owner, std::u16string_view name, std::u16string_view value = {}) {
  T* item = new T();
  item->SetNameBytes(ByteStringFromWide(name));
  item->SetValueBytes(ByteStringFromWide(value));
  if (owner) {
    const int32_t at = owner->CreationIndex();
    KAV_ASSERT(at <= owner->Count());
    owner->Insert(at, item);
  }
  return item;
}

// Nil-safe accessors: a nil item answers the default, a nil list finds nothing.
inline std::u16string IniGetString(const TIniItem* i) { return i ? i->GetString() : std::u16string(); }
inline const TByteString& IniGetValueBytes(const TIniItem* i) {
  static const TByteString empty;
  return i ? i->GetValueBytes() : empty;
}
inline int32_t IniGetInteger(const TIniItem* i, int32_t def) noexcept { return i ? i->GetInteger(def) : def; }
inline int64_t IniGetInt64(const TIniItem* i, int64_t def) noexcept { return i ? i->GetInt64(def) : def; }
inline double IniGetFloat(const TIniItem* i, double def) noexcept { return i ? i->GetFloat(def) : def; }
inline bool IniGetBool(const TIniItem* i, bool def) noexcept { return i ? i->GetBool(def) : def; }
inline int32_t IniGetIndexOf(const TIniItem* i, std::initializer_list<std::u16string_view> names, int32_t def,
                             bool ignore_case) {
  return i ? i->GetIndexOf(names, def, ignore_case) : def;
}
// A nil item splits the empty string at ",".
inline void IniSplitValue(const TIniItem* i, char separator, TByteStringParts& parts) {
  if (i) i->SplitValue(separator, parts);
  else ByteStringSplit(TByteString(), ',', parts);
}
inline TIniItem* IniFindKey(const TIniList* l, std::u16string_view name) { return l ? l->FindKey(name) : nullptr; }
inline TIniObject* IniFindObject(const TIniList* l, std::u16string_view name) {
  return l ? l->FindObject(name) : nullptr;
}
inline int32_t IniObjectCount(const TObjectList* l) noexcept { return l ? l->Count() : 0; }

// Document conveniences. The section is found with FindSection, so an empty
// section name reads the keys before the first section. Writers create the
// section and the key when missing. A nil document reads the default.
std::u16string IniReadString(TIniList* doc, std::u16string_view section, std::u16string_view key,
                             std::u16string_view def);
int32_t IniReadInteger(TIniList* doc, std::u16string_view section, std::u16string_view key, int32_t def);
double IniReadFloat(TIniList* doc, std::u16string_view section, std::u16string_view key, double def);
bool IniReadBool(TIniList* doc, std::u16string_view section, std::u16string_view key, bool def);
void IniWriteString(TIniList* doc, std::u16string_view section, std::u16string_view key, std::u16string_view text);
void IniWriteInteger(TIniList* doc, std::u16string_view section, std::u16string_view key, int32_t value);

// The one-line form unescaped and decoded; empty when the escapes are bad.
std::u16string IniUnescapeToWide(std::string_view bytes);

}  // namespace kav
