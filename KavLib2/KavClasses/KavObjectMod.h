// Object modifiers: one animated field of a slide object computed by a
// calculator expression instead of by interpolation ("Mod" children of a
// keyframe in the project text).
//
// A modifier is a value filter: its value is the expression's result. Its
// INI object holds "fn" (the expression), "dst" (the destination field, such
// as "Opacity", "Pos.X", or a group time such as "Pos.T"), the parameters as
// keys, and their descriptions "pcount" and "pinfo0", "pinfo1", ...
//
// Expressions come from show files and are untrusted: a text of more than
// 256 characters, a name nothing resolves or any compile error leaves the
// modifier without a program, and its value is then 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "KavLib2/KavClasses/KavObjectFilter.h"
#include "VoRav/vxCalc.h"

namespace kav {

// A calculator variable backed by a field of an object's animated properties.
// The storage must outlive the getter: the properties that hand out getters
// own the modifiers whose programs hold them.
class TParamGetter : public TCalcFunc {
 public:
  explicit TParamGetter(std::string name) : TCalcFunc(std::move(name), false, 0) {}
  virtual double Get() const = 0;
  virtual void Set(double value) = 0;
  void Evaluate(TCalcStack& stack) override { CalcStackPush(stack, Get()); }
};

// The current local time (0..1 between two keyframes) of one keyframe group.
class TTimeGetter : public TParamGetter {
 public:
  TTimeGetter(std::string name, double* time) : TParamGetter(std::move(name)), time_(time) {}
  double Get() const override { return *time_; }
  void Set(double value) override { *time_ = value; }

 private:
  double* time_;
};

// The current value of one keyframe parameter.
class TFieldGetter : public TParamGetter {
 public:
  TFieldGetter(std::string name, float* value) : TParamGetter(std::move(name)), value_(value) {}
  double Get() const override { return *value_; }
  void Set(double value) override { *value_ = static_cast<float>(value); }

 private:
  float* value_;
};

// Makes the getter of a field name: with `time` the name is a group whose
// local time is wanted; otherwise a parameter ("Pos.X"). Null when the name
// names nothing. Installed by the keyframe reader; called while compiling.
using TFieldGetterFactory = TDelegate<Ref<TParamGetter>(std::string_view name, bool time)>;

// Expressions longer than this (in characters) are not compiled.
inline constexpr size_t kMaxModExpressionLength = 256;
// At most this many parameters are described by "pcount".
inline constexpr int32_t kMaxModParams = 256;

class TKavObjectMod : public TObjectFilter {
 public:
  TKavObjectMod() = default;

  void SetGetterFactory(const TFieldGetterFactory& factory, int32_t slot) {
    factory_ = factory;
    slot_ = slot;
  }
  int32_t Slot() const noexcept { return slot_; }
  const TByteString& Expression() const noexcept { return fn_; }
  const TByteString& Destination() const noexcept { return dst_; }
  // The destination is a group's time ("Pos.T").
  bool DestinationIsTime() const noexcept { return dst_is_time_; }
  bool Compiled() const noexcept { return compiled_; }
  // Why the last compile failed (a calculator error code; kCalcNoError when
  // it compiled or was not tried).
  int32_t CompileError() const noexcept { return compile_error_; }

  // Drops the old program, reads "fn" and "dst" and compiles; true when it
  // compiled. Parameter descriptors are read again on next use.
  bool Prepare() override;
  // The program's result; 0 without a program or when it fails.
  double Value() override;
  int32_t Kind() const override { return kFilterKindValue; }
  int32_t ParamCount() const override;
  // From "pcount" and "pinfo<i>" (types "String", "Int", "Float", "Color",
  // "Combo"; others are skipped). With expression editing on, "fn" (shown
  // as "func") comes first.
  TFilterParams ParamDescriptors() const override;
  // The translated destination, ": " and the modifier's name; with a
  // "Preset" of the form group:name, that preset's translated name.
  std::u16string DisplayName() const override;
  // An edit removes "Preset" and answers the parameter count + 1.
  int32_t SetParamText(int32_t index, std::u16string_view text) override;

 protected:
  void Dispose() override;

 private:
  Ref<TCalcFunc> Resolve(std::string_view name);
  std::string_view DestinationGroup() const;

  TCalcCode code_;
  bool compiled_ = false;
  int32_t compile_error_ = kCalcNoError;
  TByteString fn_;
  TByteString dst_;
  bool dst_is_time_ = false;
  mutable TFilterParams params_;
  TFieldGetterFactory factory_;
  int32_t slot_ = -1;
};

// Whether editors show the expression as a first parameter.
void SetModExpressionEditing(bool on);
bool ModExpressionEditing();

// The modifiers of one keyframe while it is read, by slot (a group time or a
// parameter index); several modifiers of one slot form a chain, the latest
// in front.
class TModSlotTable {
 public:
  // Slots are 0..kMaxSlots-1; others fail an assertion.
  static constexpr int32_t kMaxSlots = 255;

  void Add(int32_t slot, Ref<TObjectFilter> mod);
  TObjectFilter* Chain(int32_t slot) const;
  Ref<TObjectFilter> Take(int32_t slot);
  // The lowest and highest used slot; -1 when none is used.
  int32_t Low() const noexcept { return low_; }
  int32_t High() const noexcept { return high_; }
  void Clear();

 private:
  std::vector<Ref<TObjectFilter>> slots_;
  int32_t low_ = -1;
  int32_t high_ = -1;
};

}  // namespace kav
