#include "tools/fuzz/FuzzTargets.h"

#include "KavLib2/KavViewer/KavUnpack.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {

int FuzzContainerDirectory(const uint8_t* data, size_t size) {
  try {
    auto file = MakeRef<TMemoryStream>();
    file->WriteBytes(std::span<const uint8_t>(data, size));
    auto unpack = MakeRef<TKavUnpack>(Ref<TStream>(file));
    if (!unpack->IsOpen()) return 0;
    TSectionList* sections = unpack->Directory()->Ini()->Sections();
    std::vector<uint8_t> block(4096);
    for (int32_t i = 0; sections && i < sections->Count(); ++i) {
      int64_t position = 0, length = 0;
      int32_t method = 0;
      std::u16string name;
      try {
        name = sections->GetSection(i)->GetName();
      } catch (const Exception&) {
        continue;  // a name that is not UTF-8
      }
      // Section names are escaped already; only those without escapes map back.
      if (!unpack->GetEntry(name, position, method, length)) continue;
      try {
        Ref<TStream> entry =
            TKavUnpack::OpenEntryStream(file.get(), method, false, unpack->KeyText(), position, length);
        while (entry && entry->Read(block, static_cast<int64_t>(block.size())) > 0) {
        }
      } catch (const Exception&) {
      }
    }
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace kav
