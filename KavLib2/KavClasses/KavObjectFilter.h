// Object filters: the colour filters ("Filter" children of a keyframe) and
// value filters (modifiers) of slide objects.
//
// Filters form a singly linked chain per keyframe; the front filter owns the
// next one. A chain is applied tail first: for A -> B, B runs before A.
// Each filter is bound to its INI object and reused across reloads while its
// identity ("id") and revision ("$rev") are unchanged. A registry maps the
// class names of the project text ("Levels", "HSL", ...) to filter classes.
//
// Threads: a chain is built and changed by one thread (the slide loader);
// applying a prepared chain only reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxByteString.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TIniList;

// Filter kinds, weakest first.
enum : int32_t {
  kFilterKindNone = 0,        // no enabled filter
  kFilterKindValue = 1,       // computes a number (modifiers)
  kFilterKindColor = 2,       // maps each colour channel by itself
  kFilterKindColorGrade = 3,  // mixes channels (colourisation, HSL)
};

// Parameter types.
enum : uint8_t { kParamNumber = 1, kParamString = 2, kParamColor = 3, kParamCombo = 4 };

// Describes one editable parameter of a filter.
struct TFilterParam {
  TByteString Name;           // the INI key that holds the parameter
  std::u16string DisplayName;
  uint8_t Type = kParamNumber;
  bool Integer = false;       // a number written without decimals
  double Min = 0;
  double Max = 0;
  double Default = 0;
  std::vector<std::u16string> Items;       // combo: the texts shown
  std::vector<std::u16string> ItemValues;  // combo: the values stored
};
using TFilterParams = std::shared_ptr<const std::vector<TFilterParam>>;

class TObjectFilter : public TRefObject {
 public:
  // The GUID text of the INI key "id"; empty until bound.
  const std::u16string& Identity() const noexcept { return identity_; }
  TIniList* IniObject() const noexcept { return ini_.get(); }
  TObjectFilter* Next() const noexcept { return next_.get(); }
  int64_t Revision() const noexcept { return revision_; }
  bool Disabled() const noexcept { return disabled_; }
  // True when the last prepare found the parameters unusable.
  bool NeedsPreparing() const noexcept { return needs_preparing_; }
  void SetDisplayName(std::u16string name) { display_name_ = std::move(name); }

  // Maps the 32-bit pixels (blue, green, red, alpha) of `width` pixels of each
  // row in place. The base does nothing.
  virtual void Apply(std::span<uint8_t* const> rows, int32_t width);
  // The value of a value filter; the base answers 0.
  virtual double Value();
  // Reads the parameters from the INI object; true when the filter is usable.
  virtual bool Prepare();
  // kFilterKind...; the base answers kFilterKindColor.
  virtual int32_t Kind() const;
  virtual int32_t ParamCount() const;
  // The descriptors (none for the base); shared, valid while held.
  virtual TFilterParams ParamDescriptors() const;
  virtual std::u16string DisplayName() const;
  // The text of parameter `index` (empty outside the range); a combo with
  // items shows its stored value as the item text (empty when it is none).
  virtual std::u16string GetParamText(int32_t index) const;
  // Writes parameter `index` (a combo item text is stored as its value) when
  // it differs and bumps the revision. Answers 0 when nothing changed, else a
  // positive number (how many entries an editor should refresh).
  virtual int32_t SetParamText(int32_t index, std::u16string_view text);

 protected:
  TObjectFilter() = default;
  // Releases the chain behind this filter without recursing down it.
  void Dispose() override;

  std::u16string identity_;
  Ref<TIniList> ini_;
  Ref<TObjectFilter> next_;
  int64_t revision_ = 0;
  int64_t prepared_revision_ = 0;
  bool needs_preparing_ = false;
  bool disabled_ = false;
  std::u16string display_name_;

  friend bool ReadObjectFilter(TObjectFilter* filter, TIniList* object);
  friend void BumpFilterRevision(TObjectFilter* filter);
  friend Ref<TObjectFilter> AppendFilter(Ref<TObjectFilter> filter, Ref<TObjectFilter> chain);
  friend Ref<TObjectFilter> ReverseFilterChain(Ref<TObjectFilter> chain);
  friend Ref<TObjectFilter> DetachNext(TObjectFilter* holder);
};

// ---- Registry -------------------------------------------------------------

using TObjectFilterClass = Ref<TObjectFilter> (*)();

// One registered kind. Entries form a list, the latest registered in front.
class TFilterInfo : public TRefObject {
 public:
  Ref<TFilterInfo> Next;
  TByteString Name;  // class name in the project text
  std::u16string DisplayName;
  TObjectFilterClass Class = nullptr;
};

// Enters a kind in front of the registry; the display name defaults to the name.
void RegisterFilterKind(TObjectFilterClass cls, std::string_view name, std::u16string_view display_name = {});
// The front entry (null when empty). The standard kinds are entered on first use.
Ref<TFilterInfo> FilterRegistry();
// A new filter for the INI object's class name (case-insensitive), bound to
// nothing yet, its display name the translated "filter_" text of the name;
// null for unregistered names or a null object.
Ref<TObjectFilter> CreateObjectFilter(TIniList* object);
// Empties the registry; the standard kinds are entered again on next use.
void FreeFilterRegistry();

// ---- Binding and revisions -------------------------------------------------

// Binds a filter to its INI object; false when it cannot be reused for it.
// A filter with an identity is reused only for an object whose "id" equals
// it (case-insensitive) and whose "$rev" equals its revision. A new filter
// takes the object's "id" (a new GUID is written when it is missing or
// empty) and "$rev". Then "Disable" is read and, when the revision changed
// since the last prepare, the filter is prepared again.
bool ReadObjectFilter(TObjectFilter* filter, TIniList* object);
// Revision + 1, written to "$rev".
void BumpFilterRevision(TObjectFilter* filter);
// The decimal sum of the chain's revisions; empty when the sum is 0.
TByteString FilterChainRevisionText(const TObjectFilter* chain);

// ---- Chains ----------------------------------------------------------------

// Links `filter` (which must be free of a chain) in front of `chain` and
// answers the new front; a null filter leaves the chain as it is.
Ref<TObjectFilter> AppendFilter(Ref<TObjectFilter> filter, Ref<TObjectFilter> chain);
Ref<TObjectFilter> ReverseFilterChain(Ref<TObjectFilter> chain);
void ReleaseFilterVar(Ref<TObjectFilter>& filter);
// Takes the chain behind `holder` out of it.
Ref<TObjectFilter> DetachNext(TObjectFilter* holder);

// Applies the enabled colour filters tail first. Value filters are not colour
// filters and are skipped.
void ApplyFilterChain(const TObjectFilter* chain, std::span<uint8_t* const> rows, int32_t width);
// Tail first, each enabled value filter's value replaces `value`; colour
// filters have no value and are skipped.
void ApplyValueChainF64(const TObjectFilter* chain, double& value);
void ApplyValueChainF32(const TObjectFilter* chain, float& value);
// The strongest kind among the enabled filters. Value filters count only in a
// chain without colour filters: a colour chain ignores them.
int32_t CheckFilterChain(const TObjectFilter* chain);

// ---- Display texts ---------------------------------------------------------

// Looks up the display text of `key` in `section` for the current language;
// answers `def` when there is none.
using TFilterTranslator =
    TDelegate<std::u16string(std::u16string_view section, std::u16string_view key, std::u16string_view def)>;
// Installed by the user interface; without one every text is its default.
void SetFilterTranslator(const TFilterTranslator& translator);
std::u16string TranslateFilterText(std::u16string_view section, std::u16string_view key, std::u16string_view def);
// Drops the cached parameter descriptors after a change of language.
void RefreshFilterNames();

// Builds descriptors with display names "filteropt_<name>" translated, for
// the filter classes.
TFilterParam MakeFilterParam(std::string_view name, uint8_t type, double min, double max, double def,
                             std::u16string_view display_name = {});
// The cached descriptor list of one descriptor set, built by `build` on first
// use after start or after RefreshFilterNames.
TFilterParams CachedFilterParams(int32_t set, std::vector<TFilterParam> (*build)());

}  // namespace kav
