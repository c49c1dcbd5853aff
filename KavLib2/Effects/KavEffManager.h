// The transitions of a show as its project text describes them.
//
// [Main] holds the effect library: the object "TheEffect", whose "time" is
// the show's default transition time and whose child objects are the
// project's effects (their object names are the effect names: "dissolve",
// "push", ... or the name of a custom effect). Each slide section
// "Slide<N+1>" holds the object "TheEffect" of type "AnEffect" for slide N:
// a custom effect that names a library effect (or one of the standard
// entries "default", "defowntime", "quick") by its "ref" and may override
// its values.
//
//   auto manager = MakeRef<TKAVEffectManager>(ini, 0, 0);  // design size from [Main]
//   TEffectProp* effect = manager->GetEffectByIndex(slide);
//   int32_t ms = manager->GetEffectTime(slide);
//
// The project text is untrusted: numbers that do not parse take their
// defaults, counts are capped, and chains of references end after
// kMaxEffectRefDepth steps (a reference cycle counts as unresolved).
//
// Reading may add what the description lacks to the document: [Main]
// TheEffect (time 2000), a slide's TheEffect (ref "default"), and the
// "time" of a "defowntime" effect. Every operation takes the manager's
// lock, so the manager and its effects may be used from several threads;
// the document itself must not be changed by others meanwhile.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxScopedSetting.h"

namespace kav {

// Most slides the manager answers for ("opt_slidescount" is capped here).
inline constexpr int32_t kMaxEffectSlides = 100000;
// The slide bound in force: kMaxEffectSlides unless lowered. The fuzz entry
// points lower it while they run, so that a project declaring 100,000 slides
// in a few bytes costs little, with the same code paths.
int32_t EffectSlidesLimit() noexcept;
// Puts a new bound in force (within 1 .. kMaxEffectSlides), answers the old.
int32_t SetEffectSlidesLimit(int32_t limit) noexcept;
// The fuzz entry points' bound for the scope's lifetime.
class TFuzzSlidesLimit : public TScopedSetting<int32_t, &SetEffectSlidesLimit> {
 public:
  static constexpr int32_t kFuzz = 512;
  TFuzzSlidesLimit() noexcept : TScopedSetting(kFuzz) {}
};
// Most variants (check marks) of one effect.
inline constexpr int32_t kMaxEffectVariants = 4096;
// Longest chain of "ref" references followed.
inline constexpr int32_t kMaxEffectRefDepth = 16;

// Standard indexes (TEffectProp::GetDefaults).
enum : int32_t { kEffDefault = 0, kEffDefOwnTime = 1, kEffOther = 2, kEffQuick = 3 };

// The check state of a mark text: 0 when empty or no "1" at all, 2 when it
// starts with "1" and has no "0" after, else 1 (some).
int32_t ParseEffectFlags(std::u16string_view text);

class TKAVEffectManager;

// One effect: a library effect, a slide's custom effect, or a synthetic
// standard entry. Belongs to its manager and must not outlive it.
class TEffectProp : public TRefObject {
 public:
  TEffectProp(TKAVEffectManager* manager, TIniObject* object, bool synthetic);

  TKAVEffectManager* Manager() const noexcept { return manager_; }
  TIniObject* Object() const noexcept { return object_.get(); }
  // A standard entry the manager made up ("default", "defowntime", "quick").
  bool IsSynthetic() const noexcept { return synthetic_; }
  // The object's type is "AnEffect" (any case).
  bool IsCustom() const noexcept { return custom_; }

  // The "ref" value of a custom effect, else the object's name.
  std::u16string GetRefName() const;
  // The effect's value text; false (and empty) when nobody has one. A
  // custom effect without its own value asks the library effect its "ref"
  // names, or, when it names none, the library object ([Main] TheEffect).
  bool ReadText(std::u16string_view name, std::u16string& text) const;
  std::u16string ReadText(std::u16string_view name) const;
  // The effect's own value item; with `add` a missing one is created empty.
  TIniItem* FindValue(std::u16string_view name, bool add);

  // The duration in ms (never negative); see the .cpp for the rules.
  virtual int32_t GetTime();
  // kEffDefault, kEffDefOwnTime, kEffOther, kEffQuick, or a library
  // effect's "stdidx" (default -1).
  int32_t GetDefaults() const;
  // ParseEffectFlags of "checked": 0 none, 1 some, 2 all variants in use.
  int32_t GetCheckState() const;
  // The "key" text; a custom effect gives that of the library effect it
  // names, when there is one.
  std::u16string GetKey() const;
  // GetKey split at commas, blanks trimmed.
  std::vector<std::u16string> KeyList() const;

  // Variants: the comma-separated marks of "checked" (at most
  // kMaxEffectVariants); variant n is available when its mark is "1".
  int32_t CountVariants() const;
  bool IsVariantAvailable(int32_t n) const;
  // The project section "effect_<V>" with variant n's parameters, nil when
  // absent. V is the value of "slide_<P>_<n>" for an effect with a user
  // field list ("userprops"; P is the slide's position, 1 for the first
  // slide and for effects of no slide), else of "slide_1". A missing
  // "slide_<P>_<n>" stands for the effect's reference name; a missing
  // "slide_1" is created with it. A custom effect uses the sections of the
  // library effect it names, at its own slide's position.
  TIniList* FindSlideSection(int32_t n) const;
  // The slide (from 0) whose effect this is; -1 for library and standard
  // entries.
  int32_t Slide() const noexcept { return slide_; }
  // A new free section holding copies of variant n's section items and the
  // background keys; nil when FindSlideSection(n) is nil. The caller owns it.
  Ref<TIniSection> CopyToSection(int32_t n) const;
  // Writes the transition background keys into `target` (see the .cpp).
  virtual void WriteBackground(TIniList* target) const;

 protected:
  void Dispose() override;

 private:
  friend class TKAVEffectManager;
  // The library effect a custom effect's "ref" names; nil when none, for
  // other effects, and past the depth limit.
  TEffectProp* Referenced(int32_t depth) const;
  bool ReadTextAt(std::u16string_view name, std::u16string& text, int32_t depth) const;
  int32_t DefaultsAt(int32_t depth) const;
  std::u16string KeyAt(int32_t depth) const;
  TIniList* SlideSectionAt(int32_t n, int32_t depth, int32_t slide) const;
  void BackgroundAt(TIniList* target, int32_t depth) const;
  // The own value text of a key; false when the key is missing.
  bool OwnText(std::u16string_view name, std::u16string& text) const;

  TKAVEffectManager* manager_;
  Ref<TIniObject> object_;
  bool synthetic_;
  bool custom_;
  int32_t slide_ = -1;
};

class TKAVEffectManager : public TRefObject {
 public:
  // `ini` is required ("There is no IniFile for EffectRuller"); a width or
  // height below 1 is read from [Main] opt_scr_width / opt_scr_height
  // (1920 x 1080 when missing or below 1).
  TKAVEffectManager(TIniFile* ini, int32_t width, int32_t height);

  // [Times] opt_slidescount, within 0..kMaxEffectSlides.
  virtual int32_t SlidesCount();
  int32_t DesignWidth() const noexcept { return width_; }
  int32_t DesignHeight() const noexcept { return height_; }
  TIniFile* GetIni() const noexcept { return ini_.get(); }
  // [Main] TheEffect, created (type "AnEffect", time 2000) when missing.
  TIniObject* GetTheEffect();

  // Library effects, then (with standard entries) the missing ones of
  // "default", "defowntime", "quick" in that order.
  int32_t Count();
  // Effect `index` of that list (kept by the manager); nil outside it.
  TEffectProp* GetEffectProp(int32_t index);
  // The library effect of that name; else, with standard entries, the
  // synthetic "default", "defowntime" or "quick"; else nil.
  TEffectProp* FindEffect(std::u16string_view name);
  // Index of the first library effect of that name (any case), else -1.
  int32_t IndexOfEffect(std::u16string_view name);
  bool IsCustom(const TEffectProp* effect) const { return effect && effect->IsCustom(); }
  // "time" of TheEffect as text / as an integer (0 when not one).
  std::u16string ReadTime();
  int32_t TimeOfEffect();
  // Whether any library effect is in use (check state not 0).
  bool CountChecked();
  bool ReadText(const TEffectProp* effect, std::u16string_view name, std::u16string& text);

  // Slide n's effect (a new object; the caller owns it); nil when the
  // section "Slide<n+1>" does not exist.
  virtual Ref<TEffectProp> GetSlideEffect(int32_t n);
  // The same, kept by the manager; nil outside 0..SlidesCount()-1.
  TEffectProp* GetEffectByIndex(int32_t n);
  // GetTime of slide n's effect; 0 without one.
  int32_t GetEffectTime(int32_t n);

  // Takes a library effect out of the library and the document.
  void Delete(TEffectProp* effect);
  // Forgets every effect made so far (the document stays).
  virtual void Clear();

  bool StandardEntries() const noexcept { return standard_entries_; }
  void SetStandardEntries(bool on);

  // The manager's lock; every operation of the manager and its effects
  // holds it.
  std::recursive_mutex& Lock() noexcept { return lock_; }

 protected:
  virtual Ref<TEffectProp> CreateEffectProp(TIniObject* object, bool synthetic);
  void Dispose() override;

 private:
  void BuildLibrary();
  TEffectProp* Standard(int32_t which);

  std::recursive_mutex lock_;
  Ref<TIniFile> ini_;
  int32_t width_;
  int32_t height_;
  bool library_built_ = false;
  std::vector<Ref<TEffectProp>> library_;
  std::unordered_map<int32_t, Ref<TEffectProp>> by_slide_;
  Ref<TEffectProp> standard_[3];
  bool standard_entries_ = true;
};

// GetDefaults of an effect; kEffQuick for none.
inline int32_t EffectDefaults(const TEffectProp* effect) { return effect ? effect->GetDefaults() : kEffQuick; }

// Text of INI bytes (a value, a name), decoded leniently: a bad UTF-8
// sequence becomes U+FFFD instead of raising.
std::u16string EffectBytesText(std::string_view bytes);
inline std::u16string EffectValueText(const TIniItem* item) {
  return item ? EffectBytesText(item->GetValueBytes()) : std::u16string();
}

}  // namespace kav
