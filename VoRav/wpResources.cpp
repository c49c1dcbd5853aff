#include "VoRav/wpResources.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "VoRav/vxCaseFolding.h"

namespace kav {

namespace {

using TResourceKey = std::pair<uint32_t, std::u16string>;

struct TResourceTable {
  std::mutex Lock;
  std::map<TResourceKey, std::span<const uint8_t>> Items;
};

TResourceTable& Table() {
  static TResourceTable* table = new TResourceTable;  // registrations may come from any module's start-up
  return *table;
}

TResourceKey KeyOf(std::u16string_view name, uint32_t type) {
  return {type, CaseFoldRange(name, 0, static_cast<ptrdiff_t>(name.size()))};
}

}  // namespace

TResourceStream::TResourceStream(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  SetSize(static_cast<int64_t>(bytes.size()));  // raises EStreamError beyond the memory-stream limit
  std::copy(bytes.begin(), bytes.end(), Memory());
}

void RegisterResource(std::u16string_view name, uint32_t type, std::span<const uint8_t> bytes) {
  if (name.empty()) return;
  TResourceTable& t = Table();
  std::lock_guard<std::mutex> guard(t.Lock);
  t.Items[KeyOf(name, type)] = bytes;
}

Ref<TResourceStream> OpenResourceStream(std::u16string_view name, uint32_t type) {
  std::span<const uint8_t> bytes;
  {
    TResourceTable& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    auto it = t.Items.find(KeyOf(name, type));
    if (it == t.Items.end()) return nullptr;
    bytes = it->second;
  }
  if (bytes.empty()) return nullptr;
  return MakeRef<TResourceStream>(bytes);
}

}  // namespace kav
