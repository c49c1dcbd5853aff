// The command store: the program's command line as named switches with
// their values.
//
// A token that begins with "-" names a switch (the rest of the token, lower-
// cased); every other token is a value of the switch named last. Values
// before the first switch, the program's own path among them, belong to the
// switch with the empty name. A switch given twice collects the values of
// both; a switch may have no values. Names are stored in lower case and
// looked up exactly, so callers pass lower-case names ("filelog", "slide").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/vxHashLists.h"
#include "VoRav/vxStrings.h"

namespace kav {

// One value of a switch.
class TCommandItem : public TRefObject {
 public:
  explicit TCommandItem(std::u16string_view text) : text_(text) {}
  const std::u16string& Text() const noexcept { return text_; }
  // The text as an integer (StrToIntDef), the default when it is not one.
  int32_t GetIntDef(int32_t default_value) const;

 private:
  std::u16string text_;
};

// A switch: its name is the key, its values are the list's items. It owns
// its values.
class TCommand : public TKeyItem {
 public:
  TCommand(THashItem* bucket, std::u16string_view name) : TKeyItem(bucket, name) {}
  int32_t ValueCount() const noexcept { return Count(); }
  // The value, nil outside 0..ValueCount()-1.
  TCommandItem* GetValue(int32_t index) const noexcept { return GetAs<TCommandItem>(index); }
  void AddValue(std::u16string_view text);

 protected:
  void Dispose() override;
};

class TCommandsStorage : public THashList {
 public:
  explicit TCommandsStorage(int32_t bucket_count = 251) : THashList(bucket_count) {}
  // The switch of that (lower-case) name, nil when absent. Changes nothing.
  TCommand* FindCommand(std::u16string_view name) const;
  // The switch of that name, made when missing.
  TCommand* FindOrAddCommand(std::u16string_view name);
  // Makes a TCommand.
  TKeyItem* NewItem(THashItem* bucket, std::u16string_view key) override;

 protected:
  // Frees every switch together with its values.
  void Dispose() override;
};

// Splits a command line into tokens: tokens are separated by characters
// below U+0021 outside double quotation marks (each mark toggles quoting),
// and lose all their marks. Each token is appended to `tokens`, and the
// non-empty ones fill `store`; either may be nil.
void ParseCommandLine(std::u16string_view command_line, TStringList* tokens, TCommandsStorage* store);
// The same for arguments that are already split (a process's argv): each
// argument is one token, taken as it stands.
void ParseCommandArgs(const std::vector<std::u16string>& args, TStringList* tokens, TCommandsStorage* store);

// The process's command line: the token list and the command store (251
// buckets). Both exist from the first call and live until the process ends.
// Filled once by InitCommandLine at start-up, before other threads run;
// read-only afterwards.
TStringList* CommandLineTokens();
TCommandsStorage* CommandLineCommands();
// Replaces both with the process arguments (UTF-8, converted to wide text;
// invalid bytes become U+FFFD).
void InitCommandLine(int argc, const char* const* argv);

}  // namespace kav
