// Fuzz entry points of the text readers and the registry store.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "VoRav/Win32/winRegistryStore.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxTextReader.h"
#include "tools/fuzz/FuzzTargets.h"

namespace kav {

namespace {

[[noreturn]] void Fail(const char* who, const char* what) {
  std::fprintf(stderr, "%s: %s\n", who, what);
  std::abort();
}

// The whole text read `step` characters at a time; nothing when the reader
// refuses the bytes.
std::optional<std::u16string> ReadAll(int kind, const uint8_t* data, size_t size, size_t step) {
  static const Ref<TAnsiCodePage> cp1252 = MakeRef<TAnsiCodePage>(1252);
  static const Ref<TAnsiCodePage> cp932 = MakeRef<TAnsiCodePage>(932);
  auto stream = MakeRef<TMemoryStream>();
  stream->WriteBytes(std::span<const uint8_t>(data, size));
  stream->SetPosition(0);
  Ref<TTextReader> r;
  switch (kind) {
    case 0: r = MakeRef<TUnicodeReader>(stream.get()); break;
    case 1: r = MakeRef<TUnicodeBEReader>(stream.get()); break;
    case 2: r = MakeRef<TUTF8Reader>(stream.get()); break;
    case 3: r = MakeRef<TAnsiReader>(stream.get(), cp1252); break;
    default: r = MakeRef<TAnsiReader>(stream.get(), cp932); break;
  }
  std::u16string out, chunk(step, u'\0');
  try {
    for (;;) {
      size_t n = r->ReadText(chunk, 0, step);
      out.append(chunk, 0, n);
      if (n < step) return out;
    }
  } catch (const EInvalidChar&) {
    return std::nullopt;
  }
}

}  // namespace

int FuzzTextReader(const uint8_t* data, size_t size) {
  for (int kind = 0; kind < 5; ++kind) {
    auto whole = ReadAll(kind, data, size, 4096);
    auto single = ReadAll(kind, data, size, 1);
    if (whole != single) Fail("FuzzTextReader", "reads of different sizes disagree");
    if (whole && whole->size() > size) Fail("FuzzTextReader", "more characters than bytes");
    if (kind < 2 && (!whole || whole->size() != size / 2)) Fail("FuzzTextReader", "UTF-16 lost characters");
  }
  RegisterStandardTextReaders();
  auto stream = MakeRef<TMemoryStream>();
  stream->WriteBytes(std::span<const uint8_t>(data, size));
  stream->SetPosition(0);
  if (!OpenTextReader(stream.get())) Fail("FuzzTextReader", "no reader took the stream");
  return 0;
}

int FuzzRegistryStore(const uint8_t* data, size_t size) {
  regstore::TStore store;
  if (!store.Parse(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
  const std::string first = store.Format();
  regstore::TStore again;
  if (!again.Parse(first)) Fail("FuzzRegistryStore", "written store does not read");
  if (again.Format() != first) Fail("FuzzRegistryStore", "read -> write -> read is not stable");
  return 0;
}

}  // namespace kav
