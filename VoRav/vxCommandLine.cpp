#include "VoRav/vxCommandLine.h"

#include "VoRav/vxConvert.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

int32_t TCommandItem::GetIntDef(int32_t default_value) const { return StrToIntDef(text_, default_value); }

void TCommand::AddValue(std::u16string_view text) {
  auto* value = new TCommandItem(text);
  if (Add(value) < 0) RefRelease(value);
}

void TCommand::Dispose() {
  FreeAll();
  TKeyItem::Dispose();
}

TCommand* TCommandsStorage::FindCommand(std::u16string_view name) const {
  TKeyItem* item = nullptr;
  return TryFind(name, item) ? static_cast<TCommand*>(item) : nullptr;
}

TCommand* TCommandsStorage::FindOrAddCommand(std::u16string_view name) {
  return static_cast<TCommand*>(FindOrAdd(name));
}

TKeyItem* TCommandsStorage::NewItem(THashItem* bucket, std::u16string_view key) { return new TCommand(bucket, key); }

void TCommandsStorage::Dispose() {
  Clear(true);
  THashList::Dispose();
}

namespace {

// Files the tokens into the store; `name` carries the current switch name
// from one token to the next.
void StoreToken(std::u16string_view token, std::u16string& name, TCommandsStorage* store) {
  if (!store || token.empty()) return;
  if (token.front() == u'-') {
    name = WideLowerCase(token.substr(1));
    store->FindOrAddCommand(name);
  } else {
    store->FindOrAddCommand(name)->AddValue(token);
  }
}

}  // namespace

void ParseCommandLine(std::u16string_view command_line, TStringList* tokens, TCommandsStorage* store) {
  std::u16string name;
  size_t i = 0;
  const size_t n = command_line.size();
  for (;;) {
    while (i < n && command_line[i] < 0x21) ++i;
    if (i >= n) break;
    std::u16string token;
    bool quoted = false;
    for (; i < n && (quoted || command_line[i] >= 0x21); ++i) {
      if (command_line[i] == u'"')
        quoted = !quoted;
      else
        token.push_back(command_line[i]);
    }
    if (tokens) tokens->Add(token);
    StoreToken(token, name, store);
  }
}

void ParseCommandArgs(const std::vector<std::u16string>& args, TStringList* tokens, TCommandsStorage* store) {
  std::u16string name;
  for (const auto& arg : args) {
    if (tokens) tokens->Add(arg);
    StoreToken(arg, name, store);
  }
}

TStringList* CommandLineTokens() {
  static const Ref<TStringList> tokens = MakeRef<TStringList>();
  return tokens.get();
}

TCommandsStorage* CommandLineCommands() {
  static const Ref<TCommandsStorage> store = MakeRef<TCommandsStorage>(251);
  return store.get();
}

void InitCommandLine(int argc, const char* const* argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc && argv && argv[i]; ++i) args.push_back(SystemUTF8ToWide(argv[i]));
  CommandLineTokens()->Clear();
  CommandLineCommands()->Clear(true);
  ParseCommandArgs(args, CommandLineTokens(), CommandLineCommands());
}

}  // namespace kav
