// Fuzz entry point of the INI parser and writer.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "VoRav/vxIni.h"
#include "VoRav/vxMemoryStream.h"
#include "tools/fuzz/FuzzTargets.h"

namespace kav {

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "FuzzIniParser: %s\n", what);
  std::abort();
}

}  // namespace

int FuzzIniParser(const uint8_t* data, size_t size) {
  auto input = MakeRef<TMemoryStream>();
  input->WriteBytes(std::span<const uint8_t>(data, size));
  input->SetPosition(0);
  auto doc = MakeRef<TIniFile>();
  if (!doc->LoadFrom(input.get())) return 0;

  auto saved = MakeRef<TMemoryStream>();
  if (!doc->SaveToStream(saved.get(), true)) Fail("save failed");
  saved->SetPosition(0);
  auto again = MakeRef<TIniFile>();
  if (!again->LoadFrom(saved.get())) Fail("saved text does not load");
  if (again->SaveToBytes() != doc->SaveToBytes()) Fail("parse -> save -> parse is not stable");

  // Every section with a valid UTF-8 name is found again by its wide name:
  // the byte and wide hashes and comparisons agree.
  for (int32_t i = 0; i < again->Sections()->Count(); ++i) {
    TIniList* s = again->Sections()->GetSection(i);
    if (s->NameBytes().empty()) continue;
    std::u16string name;
    try {
      name = s->GetName();
    } catch (const EAbort&) {
      continue;
    }
    if (again->FindSection(name) != s) Fail("section not found by its name");
  }
  return 0;
}

}  // namespace kav
