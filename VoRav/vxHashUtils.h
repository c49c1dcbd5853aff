// ELF-style string hashes and a light open hash table for 8-bit keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kav {

// 28-bit ELF-style hash: h = (h shl 4) + unit; whenever h exceeds 0x0FFFFFFF
// its top four bits are folded back in and cleared. Only the low byte of each
// UTF-16 unit enters the wide form, so both forms agree on ASCII text.
uint32_t StrHashELF(std::u16string_view text) noexcept;
uint32_t StrHashELF(std::string_view bytes) noexcept;

// One slot of the table. The slots double as bucket heads: BucketHead of
// slot b is the index + 1 of bucket b's first entry (0: empty bucket).
struct THashTableEntry {
  std::string Key;
  uint32_t Hash = 0;
  intptr_t Value = 0;
  int32_t Next = -1;  // next entry of the same bucket, -1 at the end
  int32_t BucketHead = 0;
};

// Entries are kept in the order they were added and never removed one by
// one. Capacity is a power of two (or 0 when empty) and is both the length
// of Entries and the number of buckets; a key's bucket is its hash masked
// with Capacity - 1.
struct THashTable {
  std::vector<THashTableEntry> Entries;
  int32_t Capacity = 0;
  int32_t Count = 0;
};

// Updates the value of an existing key or adds the entry at the head of its
// bucket; a full table first doubles (16 when empty). A capacity that is not
// a power of two is an assertion. The table holds at most 2^30 entries (an
// assertion beyond).
void HashTableSet(THashTable& table, std::string_view key, intptr_t value);
intptr_t HashTableGet(const THashTable& table, std::string_view key, intptr_t default_value) noexcept;
// Index of the key's entry, -1 when absent.
int32_t HashTableFind(const THashTable& table, std::string_view key) noexcept;
void HashTableClear(THashTable& table) noexcept;

}  // namespace kav
