#include "VoRav/vxHashUtils.h"

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

inline uint32_t ElfStep(uint32_t h, uint32_t unit) noexcept {
  h = (h << 4) + (unit & 0xFF);
  if (h > 0x0FFFFFFF) h = (h ^ ((h & 0xF0000000u) >> 24)) & 0x0FFFFFFF;
  return h;
}

void Rebuild(THashTable& table, int32_t capacity) {
  KAV_ASSERT_MSG(capacity > 0 && (capacity & (capacity - 1)) == 0, "Hash table capacity must be a power of two");
  table.Entries.resize(static_cast<size_t>(capacity));
  table.Capacity = capacity;
  for (auto& e : table.Entries) e.BucketHead = 0;
  const uint32_t mask = static_cast<uint32_t>(capacity - 1);
  for (int32_t i = 0; i < table.Count; ++i) {
    auto& head = table.Entries[table.Entries[static_cast<size_t>(i)].Hash & mask].BucketHead;
    table.Entries[static_cast<size_t>(i)].Next = head - 1;
    head = i + 1;
  }
}

}  // namespace

uint32_t StrHashELF(std::u16string_view text) noexcept {
  uint32_t h = 0;
  for (char16_t c : text) h = ElfStep(h, c);
  return h;
}

uint32_t StrHashELF(std::string_view bytes) noexcept {
  uint32_t h = 0;
  for (char c : bytes) h = ElfStep(h, static_cast<unsigned char>(c));
  return h;
}

int32_t HashTableFind(const THashTable& table, std::string_view key) noexcept {
  if (table.Capacity <= 0 || table.Entries.size() != static_cast<size_t>(table.Capacity)) return -1;
  uint32_t hash = StrHashELF(key);
  int32_t i = table.Entries[hash & static_cast<uint32_t>(table.Capacity - 1)].BucketHead - 1;
  // A chain never has more links than entries; the bound keeps a damaged
  // table from looping.
  for (int32_t steps = 0; i >= 0 && i < table.Count && steps < table.Count; ++steps) {
    const auto& e = table.Entries[static_cast<size_t>(i)];
    if (e.Hash == hash && e.Key == key) return i;
    i = e.Next;
  }
  return -1;
}

intptr_t HashTableGet(const THashTable& table, std::string_view key, intptr_t default_value) noexcept {
  int32_t i = HashTableFind(table, key);
  return i >= 0 ? table.Entries[static_cast<size_t>(i)].Value : default_value;
}

void HashTableSet(THashTable& table, std::string_view key, intptr_t value) {
  int32_t found = HashTableFind(table, key);
  if (found >= 0) {
    table.Entries[static_cast<size_t>(found)].Value = value;
    return;
  }
  if (table.Count >= table.Capacity) {
    KAV_ASSERT_MSG(table.Capacity < (1 << 30), "Hash table is full");
    Rebuild(table, table.Capacity == 0 ? 16 : table.Capacity * 2);
  }
  int32_t i = table.Count++;
  auto& e = table.Entries[static_cast<size_t>(i)];
  e.Key.assign(key);
  e.Hash = StrHashELF(key);
  e.Value = value;
  auto& head = table.Entries[e.Hash & static_cast<uint32_t>(table.Capacity - 1)].BucketHead;
  e.Next = head - 1;
  head = i + 1;
}

void HashTableClear(THashTable& table) noexcept {
  std::vector<THashTableEntry>().swap(table.Entries);
  table.Capacity = 0;
  table.Count = 0;
}

}  // namespace kav
